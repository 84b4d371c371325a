// Fitting a dump into a GAL16V8 (program gatesweep-fit): from the analysis
// of a dump (pin classes, float map) to minimised output and enable
// equations in the simplest GAL16V8 mode that holds them, the fuse map of
// that design as a JEDEC file, and the check of that fuse map in the
// simulator's GAL16V8 model, swept in the order of a dump.
#ifndef FIT_H
#define FIT_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analyze.h"
#include "chip.h"
#include "gal16v8.h"
#include "minimize.h"

// One equation of a fitted pin. A term is a cube over signal numbers (bit n
// = signal n, as in a dump index); the sum of the terms gives level `level'
// (an output) or the condition in which the pin is driven (an enable).
struct fit_equation {
    bool present = false;
    int constant = -1; // 0 or 1 for a fixed level, -1 for a sum of terms
    int level = 1;     // output: the level the terms list
    std::vector<cube> terms;
    bool exact = true; // the term count is the fewest possible
    // Fitted over the levels the array sees, not the dump's conditions: it
    // may read a level that a driven output puts on its pin.
    bool by_level = false;
};

struct fit_pin {
    bool output = false; // driven in some condition (otherwise an input)
    fit_equation out;    // its level while driven
    fit_equation oe;     // present when it also floats
    // A latch: enabled wherever it is driven and also where the dump shows
    // it floating, its output there its own level through its feedback.
    bool holds = false;
};

struct fit_design {
    const gal_mode_entry *mode = nullptr;
    std::array<fit_pin, 8> pin;
};

enum fit_status { FIT_OK, FIT_NO_FIT, FIT_STATE };

// Fits the dump of the analysis a (its data, hiz_data and pin flags),
// trying simple, complex and registered mode in turn. Each function is
// fitted over the signals of the dump index (what `gatesweep analyze'
// prints) and, where that needs more terms, over the levels on the pins as
// the array sees them, so that an output may use another output's level. A pin whose enable needs more than
// one term may be a latch on its own feedback; that fit is kept only when
// its fuse map gives the dump back in the model. On FIT_NO_FIT or
// FIT_STATE, reasons holds one line per problem, each naming the mode (if
// any), the pin and the cause.
fit_status fit_dump(const dump_analysis &a, fit_design &design, std::vector<std::string> &reasons);

// The pins that show, in the dump of the analysis a, the fingerprint of a
// register's output (bit k: Bk): driven exactly while I9 (pin 11, the
// registers' enable) is low, so reading their weak level wherever I9 is
// high, and holding their level across every falling edge of I0 (pin 1, the
// clock): in the sweep's order, the reading at every even ix equals the one
// just before it while I9 is low. A register that never changed looks
// constant and has it too.
uint8_t register_fingerprint(const dump_analysis &a);

// The 2194 fuses of the design (0 a connected fuse).
std::vector<uint8_t> fit_fuses(const fit_design &design);

// The 262144 readings of the fuse map in the GAL16V8 model, driven as the
// dump sweep drives a chip on board A. False with the model's reason in err
// when the text does not build a chip.
bool fit_sweep(const std::string &jedec, const std::string &name, std::vector<uint8_t> &readings,
               std::string &err);

// The CUPL device mnemonic of a mode: g16v8as, g16v8ma or g16v8ms.
const char *fit_device(const gal_mode_entry &mode);

// The equations in the form `gatesweep analyze' writes: "\n B7\t=  I0 &  I1;"
// for outputs, "!B6.oe\t= !I2;" for enables.
void write_fit_equations(FILE *out, const fit_design &design);

// A CUPL source file of the design for WinCUPL, named after the dump; the
// dump's path in its comment can neither end the comment nor carry control
// characters.
void write_fit_cupl(FILE *out, const fit_design &design, const char *dump_name);

// The design's report on standard output: mode, and per pin its role and
// term counts.
void print_fit_report(FILE *out, const fit_design &design);

#endif
