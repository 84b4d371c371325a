// The fit of a walk (chips/walk.h: a registered chip's state machine as
// gatesweep-walk read it) into a GAL16V8 in registered mode: each register's
// D terms from the state every clock edge led to, each other pin's level and
// enable from the readings without a clock, all over the levels the array
// saw (I1..I8 and the eight pins), with whatever the walk never saw as
// don't-cares; and the check of a fuse map against the walk's own steps.
#ifndef FIT_WALK_H
#define FIT_WALK_H

#include <cstdint>
#include <string>
#include <vector>

#include "fit.h"
#include "walk.h"

// Terms of a register's cell and of a combinational cell's level.
constexpr unsigned fit_register_terms = 8;
constexpr unsigned fit_combinational_terms = 7;

// Fits the walk into registered mode: the pins of record.registered become
// registers (fit_pin::registered), the others combinational outputs, with
// an enable term where they float, or inputs where they never drive.
// Terms are over signal numbers (bit n = In for I1..I8, bit 10 + k = the
// level of Bk). False, with one line per problem in reasons, each naming
// the pin and the cause, when the walk does not fit.
bool fit_walk(const walk_record &record, const walk_tables &tables, fit_design &design,
              std::vector<std::string> &reasons);

// The registered pins that the walk started with low. A GAL16V8's
// registers power up with Q = 0, every registered pin high whatever its
// XOR bit, so that a fit cannot power up in such a start state. One line
// per pin in reasons.
uint8_t walk_start_low(const walk_record &record, std::vector<std::string> &reasons);

// The walk's steps replayed on a fuse map in the GAL16V8 model, set first
// to the walk's start state. False with the model's reason in err when the
// text builds no chip.
bool fit_walk_replay(const std::string &jedec, const std::string &name, const walk_record &record,
                     walk_replay_result &result, std::string &err);

#endif
