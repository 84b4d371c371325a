// A chip given as logic rather than fuses: for every I/O pin the truth
// tables of its output level and of its enable over the levels on the
// pins, as a CUPL source describes a chip (a name of an I/O pin meaning the
// level on that pin: the driven level where the pin drives, the weak level
// where it floats), or, for a registered pin, the table its register loads
// from (a name of a registered pin meaning its register's level).
// gatesweep-check builds one from the equations it reads, and sweeps it as
// a dump or replays a walk on it.
#ifndef CHIPS_LOGIC_H
#define CHIPS_LOGIC_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chip.h"

// A truth table over the 2^18 points p = ix | pins << 10 (I0..I9 in bits 0
// to 9, the levels on B0..B7 in bits 10 to 17): bit p % 64 of word p / 64.
constexpr uint32_t logic_points = 1u << 18;
using logic_table = std::vector<uint64_t>;

// A registered pin (registered and output set) has a register: on a rising
// edge of I0 it loads its level table at the point the array saw just
// before the edge, it drives its register's level while I9 is low and
// reads its weak level while I9 is high, and its bit of every point is its
// register's level, whatever the pin reads; its enable table is not read.
struct logic_pin {
    bool output = false;     // false: an input, never driven
    bool registered = false; // with output: a register's pin
    logic_table level;       // where driven, the level it drives; registered: the level its register loads
    logic_table enable;      // where it drives; empty: everywhere
};
using logic_design = std::array<logic_pin, 8>;

// The order in which the outputs (bit k of outputs: Bk) settle when they
// hold no loop: each after the outputs it reads (bit j of reads[k]: Bk
// reads Bj), count of them in order. False when some read each other in a
// loop (a pin reading itself included): such a chip can hold state.
bool logic_settle_order(const std::array<unsigned, 8> &reads, unsigned outputs, std::array<unsigned, 8> &order,
                        unsigned &count);

// The chip behind the sim_chip interface. After every drive() the outputs
// are updated one at a time (B7 down to B0, each from the levels as they
// stand) until a whole pass changes nothing, as the fuse-map models settle
// their feedback, so that latches built from gates keep their state; the
// registers change only on a rising edge of I0, and start at Q = 0 (their
// pins high) until power_up sets them, as chip.h has it. A
// loop that still changes after jedec_settle_passes passes keeps the
// levels of the last pass; the first such loop is reported on standard
// error, naming the chip as name.
std::unique_ptr<sim_chip> sim_make_logic_chip(logic_design design, const std::string &name);

#endif
