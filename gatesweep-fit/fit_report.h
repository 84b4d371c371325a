// What gatesweep-fit writes of a fitted design: the report on standard
// output (mode, every pin's role and term counts, the equations), the
// lines of a fuse map whose readings differ from the dump's, and the
// design as CUPL source in the form `gatesweep analyze' writes (cupl.h).
#ifndef FIT_REPORT_H
#define FIT_REPORT_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyze.h"
#include "fit.h"

// The CUPL device mnemonic of a mode: g16v8as, g16v8ma or g16v8ms.
const char *fit_device(const gal_mode_entry &mode);

// The design's report: mode, and per pin its role and term counts, then
// the equations in CUPL's form, outputs first ("\n B7\t=  I0 &  I1;"),
// then a line per enable (" B6.oe\t=  I2;").
void print_fit_report(FILE *out, const fit_design &design);

// Per pin, where the fuse map's readings differ from the dump of the
// analysis a: a line with the count and the first index. True when they
// differ nowhere.
bool report_mismatches(FILE *out, const dump_analysis &a, const std::vector<uint8_t> &readings);

// A CUPL source file of the design for WinCUPL, named after the dump, for
// the mode's device: a comment saying what was fitted from which dump,
// then the text that analyze writes after its summary. The dump's path in
// the comment can neither end the comment nor carry control characters.
void write_fit_cupl(FILE *out, const fit_design &design, const char *dump_name);

#endif
