// A dump or a walk fitted into a GAL16V8 (program gatesweep-fit): the
// design that the search (fit_search.h for a dump, fit_walk.h for a walk)
// finds, from which the fuse map (fit_fuses.h) and the texts
// (fit_report.h) are made.
#ifndef FIT_H
#define FIT_H

#include <array>
#include <string>
#include <vector>

#include "gal16v8.h"
#include "minimize.h"
#include "signals.h"

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
    // A register (registered mode only): out gives its D terms, the level
    // they list being the pin's level after the next clock edge; it is
    // driven while pin 11 is low and has no oe.
    bool registered = false;
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

// "B5 (pin 17)": pin Bk as the fitter's reasons and report name it.
inline std::string pin_label(int k)
{
    return bx_name(k) + " (pin " + std::to_string(pin_number[BX_SIGNAL0 + k]) + ")";
}

#endif
