// Round-trip check (program gatesweep-check): reads the equations that
// `gatesweep analyze' or `gatesweep-fit --cupl' printed, builds the chip
// they describe and sweeps it as a dump, to compare it with the dump they
// came from, or replays a walk of a registered chip on it, to compare it
// with the walk. It reads the CUPL
// that this utility writes (header fields, pin declarations, equations and
// comments); it is no general CUPL parser.
#ifndef ROUNDTRIP_H
#define ROUNDTRIP_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <memory>
#include <vector>

#include "chip.h"
#include "walk.h"

// One product term: the signals in care must have the levels in value
// (bit n = signal n, as in a dump index).
struct rt_term {
    uint32_t care = 0;
    uint32_t value = 0;
};

// One equation: the sum of its terms (or a constant), negated when the
// equation's name carries a '!'.
struct rt_equation {
    bool present = false;
    bool negated = false;
    int constant = -1; // 0 or 1 for 'b'0 and 'b'1, -1 for a sum of terms
    std::vector<rt_term> terms;
};

// The output equation and enable equation of each I/O pin Bk, or the
// equation of its register (`Bk.d': the level the pin takes at the next
// clock edge), which goes with neither.
struct rt_pin {
    rt_equation out;
    rt_equation oe;
    rt_equation d;
};
using rt_design = std::array<rt_pin, 8>;

// Limits of what the check accepts, far beyond what `gatesweep analyze'
// prints (at most 16 equations of at most 65536 terms, about 110 MB): a
// text is at most rt_max_text bytes with at most rt_max_terms terms.
constexpr uint32_t rt_conditions = 262144;
constexpr size_t rt_max_text = size_t(256) << 20;
constexpr size_t rt_max_terms = size_t(4) << 20;

// Reads a CUPL source as a compiler would for the chip: comments run from
// "/*" to the next "*/" wherever they stand; the rest is header fields
// (Name, Device, ...: any text up to a ';'), pin declarations
// "pin N = NAME;" and equations, in any order. False with a one-line reason
// (naming the line) in err when the text holds anything else, a comment
// that never ends, a name declared twice or at a pin other than its own, a
// name used but not declared, no pin declaration at all, an equation with
// nothing after its '=' or a '#' without a term after it, a second
// equation of a pin's output, enable or register, a register's equation
// beside an output or enable equation of its pin, or more than
// rt_max_terms terms.
bool rt_parse(std::string text, rt_design &design, std::string &err);

// The equation's value at every dump index, its '!' applied: bit i % 64 of
// word i / 64 (4096 words). Time and memory grow with the distinct terms,
// never with terms times conditions.
std::vector<uint64_t> rt_evaluate(const rt_equation &eq);

// Per pin: the number of dump indices where the dump disagrees with the
// equations, and the first few of them.
struct rt_pin_result {
    unsigned mismatches = 0;
    std::vector<uint32_t> first;
};

// The chip the design describes, as the chip library's logic chip: every
// equation a sum of products over the levels on the pins (a name of an I/O
// pin meaning the level on that pin: the driven level where it drives, the
// weak level where it floats; for a pin with a `.d' equation, its
// register's level), settled as the chip library's models settle their
// feedback; the registers clock on I0 and drive while I9 is low.
std::unique_ptr<sim_chip> rt_chip(const rt_design &design);

// The pins with a `.d' equation (bit k: Bk).
uint8_t rt_registered(const rt_design &design);

// Replays a walk on the design's chip, set to the walk's start state.
// False with a one-line reason in err, replaying nothing, where the design
// is not one of a chip that the walk can describe: its `.d' equations are
// not exactly for the walk's registered pins, or an equation reads I0 or
// I9 (the clock and the registers' enable, which no array of a registered
// chip sees).
bool rt_replay_walk(const rt_design &design, const walk_record &walk, walk_replay_result &result,
                    std::string &err);

// The 262144 readings of the chip the design describes, swept as a dump:
// every equation a sum of products over the levels on the pins (a name of
// an I/O pin meaning the level on that pin: the driven level where it
// drives, the weak level where it floats), settled as the chip library's
// models settle their feedback, so that a pin that reads another output
// reads what that output drives, and a latch keeps its level.
std::vector<uint8_t> rt_sweep(const rt_design &design);

// Compares a 262144-byte dump with the readings of the design's chip: a
// pin is driven at index i unless it reads 0 with its own weak drive low
// and 1 with it high, in the dump as in the model; a mismatch is an index
// where the two disagree on that, or where the pin is driven and reads
// another level.
std::array<rt_pin_result, 8> rt_compare(const std::vector<uint8_t> &dump, const rt_design &design);

// Compares two 262144-byte dumps: per pin, the dump indices where they read
// differently.
std::array<rt_pin_result, 8> rt_compare_dumps(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

#endif
