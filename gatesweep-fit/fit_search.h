// The search for a GAL16V8 design that holds a dump: every output and
// enable function minimised in both polarities, over the dump's conditions
// or the levels the array sees, in the simplest mode that takes them all;
// and the register fingerprint that makes a dump unfit for it.
#ifndef FIT_SEARCH_H
#define FIT_SEARCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "analyze.h"
#include "fit.h"

enum fit_status { FIT_OK, FIT_NO_FIT, FIT_STATE };

// Fits the dump of the analysis a (its readings, float map and pin flags),
// trying simple, complex and registered mode in turn. Each function is
// fitted over the signals of the dump index (what `gatesweep analyze'
// prints) and, where that needs more terms, over the levels on the pins as
// the array sees them, so that an output may use another output's level.
// A pin whose enable needs more than one term may be a latch on its own
// feedback; that fit is kept only when its fuse map gives the dump back in
// the model. On FIT_NO_FIT or FIT_STATE, reasons holds one line per
// problem, each naming the mode (if any), the pin and the cause.
fit_status fit_dump(const dump_analysis &a, fit_design &design, std::vector<std::string> &reasons);

// The pins that show, in the dump of the analysis a, the fingerprint of a
// register's output (bit k: Bk): driven exactly while I9 (pin 11, the
// registers' enable) is low, so reading their weak level wherever I9 is
// high, and holding their level across every falling edge of I0 (pin 1, the
// clock): in the sweep's order, the reading at every even ix equals the one
// just before it while I9 is low. A register that never changed looks
// constant and has it too.
uint8_t register_fingerprint(const dump_analysis &a);

#endif
