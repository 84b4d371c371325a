// What gatesweep-fit writes of a fitted design: the report on standard
// output (mode, every pin's role and term counts, the equations), the
// lines of a fuse map whose readings differ from the dump's or the walk's,
// and the design as CUPL source in the form `gatesweep analyze' writes
// (cupl.h).
#ifndef FIT_REPORT_H
#define FIT_REPORT_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyze.h"
#include "fit.h"
#include "walk.h"

// The CUPL device mnemonic of a mode: g16v8as, g16v8ma or g16v8ms.
const char *fit_device(const gal_mode_entry &mode);

// The design's report: mode, and per pin its role (output or input; in a
// design with registers: registered, combinational or input) and term
// counts, then the equations in CUPL's form, outputs first ("\n B7\t=  I0
// &  I1;", a register's "\n B5.d\t=  I1;"), then a line per enable
// (" B6.oe\t=  I2;").
void print_fit_report(FILE *out, const fit_design &design);

// Per pin, where the fuse map's readings differ from the dump of the
// analysis a: a line with the count and the first index. True when they
// differ nowhere.
bool report_mismatches(FILE *out, const dump_analysis &a, const std::vector<uint8_t> &readings);

// Per pin, how many steps of a walk's replay on the fuse map read
// otherwise than the walk did, a line each, then the first such step.
// True when none did.
bool report_walk_mismatches(FILE *out, const walk_replay_result &replay);

// A CUPL source file of the design for WinCUPL, named after its input (kind
// "dump" or "walk"), for the mode's device: a comment saying what was
// fitted from which input, then the text that analyze writes after its
// summary. The input's path in the comment can neither end the comment nor
// carry control characters.
void write_fit_cupl(FILE *out, const fit_design &design, const char *kind, const char *input_name);

#endif
