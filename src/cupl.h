// CUPL source text in the one form that `gatesweep analyze' and
// gatesweep-fit write: the header, the pin declarations, the output and
// enable equations as sums of products, and the end marker; and analyze's
// text of a dump_analysis, which follows its summary comment.
#ifndef CUPL_H
#define CUPL_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "analyze.h"
#include "terms.h"

// A product term over signal numbers (bit n = signal n): the signals in
// care, each at its level in value.
struct cupl_term {
    uint32_t care = 0;
    uint32_t value = 0;
};

// One equation: the constant 'b'0 or 'b'1 (constant >= 0), or the sum of
// at least one term, negated when bang. An output equation of a register
// (registered) gives its D input, the pin's level after the next clock
// edge: its lhs is "B3.d".
struct cupl_equation {
    int constant = -1;
    bool bang = false;
    bool registered = false;
    std::vector<cupl_term> terms;
};

// What the declarations say of the pins.
struct cupl_pins {
    uint32_t used = 0;   // the signals that equations read
    uint8_t floats = 0;  // bit k: Bk floats somewhere (an input, or an output with an enable)
    uint8_t inputs = 0;  // bit k: Bk is never driven
};

// Gives, in eq, the output (enable false) or enable equation of pin Bk
// (a register's output equation with eq.registered set);
// false where the pin has none. Asked once per pin and kind as the text is
// written: every output, B7 first, then every enable, B7 first.
using cupl_equation_source = std::function<bool(int k, bool enable, cupl_equation &eq)>;

// The design name: the last component of the dump-file path, without its
// last '.' and all after it ("dumps/u12.bin" gives "u12").
std::string design_name(const char *filename);

// "B7\t=  I0 &  I1;" for lhs "B7": the equation's '!' or a blank, lhs, and
// its constant or its terms, "\n\t# " between them.
void write_cupl_equation(FILE *out, const std::string &lhs, const cupl_equation &eq);

// The text after the opening comment: an empty line, the header (Name, the
// empty fields, Device), the declarations of the dedicated inputs, of the
// I/O pins that float somewhere and of those always driven, the output
// equations, the enable equations and the end marker.
void write_cupl_text(FILE *out, const std::string &name, const char *device, const cupl_pins &pins,
                     const cupl_equation_source &equation);

// analyze's text of the analysis: device "virtual", each equation from the
// term table right after its extraction. An equation over an
// empty mask is written as a constant, with a warning on standard error.
// With a check, every equation is checked against the dump as it is
// written.
void write_cupl(FILE *out, const dump_analysis &a, const char *filename, term_table &table,
                equation_check *check = nullptr);

#endif
