// Fuse-map chip models: a PAL16L8, PAL16R4, PAL16R6, PAL16R8 or GAL16V8
// (simple, complex or registered mode, read from SYN/AC0) built from a
// JEDEC file, behind the sim_chip interface (sim_make_jedec_chip in chip.h).
//
// Behaviour:
// - AND array over the true and complement columns of every input and
//   feedback, OR of each output's product terms, output polarity (active low
//   on the PALs, the XOR bit on the GAL16V8), output-enable product term,
//   product-term disable bits (GAL16V8).
// - Combinational feedback sees the level on the pin: the chip's output
//   where it drives the pin, the adapter's weak level where it does not.
//   After every drive() the combinational outputs are updated one at a time
//   (B7 down to B0, each from the levels as they stand) until a whole pass
//   changes nothing, so latches built from gates keep their state. A loop
//   that still changes after jedec_settle_passes passes keeps the levels of
//   the last pass; the first such loop is reported on standard error.
// - Registered outputs: pin 1 (I0) clocks, pin 11 (I9) low enables them.
//   A rising edge of I0 between two drive() calls loads every register from
//   its D terms as the array saw them before that write. Registers start
//   with Q = 0, or in the state power_up sets; the output buffer inverts Q,
//   so until its first clock a registered pin reads high where Q = 0 and
//   low where Q = 1. Registered feedback comes from the register.
#ifndef SIM_JEDEC_H
#define SIM_JEDEC_H

#include "chip.h"

constexpr unsigned jedec_settle_passes = 16;

#endif
