// A walk of a registered chip's state machine (what gatesweep-walk records,
// gatesweep-fit fits and gatesweep-check replays): the log of its steps,
// the tables that the log gives (per reached state, the readings of every
// condition without a clock and the state each clocked condition led to),
// the walk file that holds both, and the replay of a walk in a chip model.
//
// Signals are numbered as in a dump file, whatever the board: ix bit n is
// In (I0 the clock, I9 the registers' enable, active low), rx bit k is the
// weak level of Bk, a reading bit k the level read on Bk.
#ifndef CHIPS_WALK_H
#define CHIPS_WALK_H

#include <cstdint>
#include <string>
#include <vector>

#include "chip.h"

// One step on the chip: the adapter applies ix (with I0 low) and rx; with
// clock, I0 then rises; then B0..B7 are read.
struct walk_step {
    uint16_t ix = 0;
    uint8_t rx = 0;
    uint8_t clock = 0;   // 0 or 1
    uint8_t reading = 0; // B0..B7 as read after the step
};

// What a walk file holds besides its tables, which walk_derive rebuilds.
// The state of the chip is the levels of its registered pins. (A chip
// whose other pins hold levels of their own through their feedback, as
// latches, can read otherwise at the same state and condition: the
// tables keep the first reading, the steps all of them.)
struct walk_record {
    uint8_t registered = 0; // pins with a register (bit k: Bk)
    uint8_t start = 0;      // their levels at the walk's first reading with I9 low
    std::vector<walk_step> steps;
};

// A condition of a reached state: I1..I8 in bits 0..7, and above them the
// weak levels of the pins without a register, lowest pin first. With I9 low
// and I0 low; the registered pins drive then, so their weak levels count
// for nothing (walk_levels sets them 0).
constexpr unsigned walk_input_bits = 8;
unsigned walk_condition_bits(uint8_t registered);
inline unsigned walk_conditions(uint8_t registered) { return 1u << walk_condition_bits(registered); }
// The adapter's levels for condition c (I0 low, I9 low) and back. A step
// with I9 high has no
// condition: walk_condition_of gives -1 for it.
void walk_levels(uint8_t registered, unsigned c, uint16_t &ix, uint8_t &rx);
int walk_condition_of(uint8_t registered, uint16_t ix, uint8_t rx);

constexpr int16_t walk_none = -1;

// One reached state: the levels of its registered pins, and per condition
// the first reading without a clock (the levels the array saw; walk_none:
// never read there) and the index of the state that a clock edge led to
// (walk_none: never clocked there).
struct walk_state {
    uint8_t levels = 0;
    std::vector<int16_t> reading;
    std::vector<int16_t> next;
};

// The tables of a record: states in the order the log first reaches them
// (state 0 the start). A step that repeats a condition seen before in the
// same state and reads otherwise, or leads elsewhere, is counted in
// conflicts (the first answer stays in the table); a chip whose state
// machine depends only on its inputs and state has none.
struct walk_tables {
    std::vector<walk_state> states;
    unsigned conflicts = 0;
    uint8_t unsteady = 0; // pins whose readings differed so (bit k: Bk)
};

// The tables of the record; false with a one-line reason in err where the
// log cannot be a walk of a chip: a register whose level changes without a
// clock, a clock edge while I9 is high (the state it led to unseen) or
// before the first reading with I9 low, a step with I9 high after it, a
// first reading with I9 low whose state is not start, or a step outside
// the signals. Before the first reading with I9 low the state is unknown.
bool walk_derive(const walk_record &record, walk_tables &tables, std::string &err);
// walk_derive a step at a time, for a walk under way: the state with the
// given levels (added when new; its index), and the step with the given
// index added to tables, cur being the index of the state the chip is in
// (updated; -1 before the first reading with I9 low). What the step
// added, when asked for: the condition (-1: none), the state it started
// from, and whether it gave a new transition or a new reading.
struct walk_step_effect {
    int from = -1, condition = -1;
    bool new_next = false, new_reading = false;
};
int walk_add_state(walk_tables &tables, uint8_t registered, uint8_t levels);
bool walk_derive_step(const walk_record &record, const walk_step &step, size_t index, walk_tables &tables,
                      int &cur, std::string &err, walk_step_effect *effect = nullptr);

// Pin levels on B0..B7 at condition c of a state whose row was read: the
// array's view of the pins (the registered pins show the state).
// Transition keys: two conditions of a state with the same I1..I8 and the
// same reading give the array the same levels, so one clock edge tries
// both. walk_key(c, reading) numbers them: I1..I8 | reading << 8.
inline uint32_t walk_key(unsigned c, unsigned reading) { return (c & 0xFFu) | (reading & 0xFFu) << 8; }

// Whether pin Bk, one without a register, floats at condition c of a
// state: it reads 0 with its own weak level low and 1 with it high, the
// rest of the condition the same (the rule of a dump's float map). -1
// where either reading is missing.
int walk_floats(const walk_state &state, uint8_t registered, unsigned c, int k);

// Counts of a walk: reached states, the transitions tried (distinct keys
// clocked per state), the keys read but never clocked, the conditions of
// reached states never read (their keys unknown), and the states with
// untried keys or unread conditions.
struct walk_counts {
    unsigned states = 0;
    unsigned transitions = 0;
    unsigned untried = 0;
    unsigned unread = 0;
    unsigned states_with_untried = 0;
};
walk_counts walk_count(const walk_tables &tables);

// The walk file: magic "GSWALK\r\n", version, the package pin of every
// signal (I0..I9, B0..B7), the registered pins, the start levels, the
// state and step counts, the states' levels, per state per condition the
// reading and the next state (16 bits each, 0xFFFF for none), the steps,
// and a CRC-32 of all before it; little-endian. walk_file_bytes makes it;
// walk_parse takes it apart and checks every part, the tables against
// the ones walk_derive makes of the steps.
constexpr uint16_t walk_version = 1;
constexpr size_t walk_max_steps = size_t(1) << 24;
std::vector<uint8_t> walk_file_bytes(const walk_record &record);
// Whether the size bytes at p begin as a walk file does (its magic).
bool walk_file_begins(const uint8_t *p, size_t size);
// The largest walk file there can be: 256 states of 256 conditions (or
// fewer states of more), walk_max_steps steps.
constexpr size_t walk_max_file_bytes = 36 + 256 + 65536 * 4 + walk_max_steps * 5 + 4;
// False with a one-line reason in err when bytes is no walk file.
bool walk_parse(const std::vector<uint8_t> &bytes, walk_record &record, walk_tables &tables, std::string &err);

// The levels that the adapter's latches hold (ix with I0, rx), as the
// last step left them; all 0 after the adapter's reset.
struct walk_latches {
    uint16_t ix = 0;
    uint8_t rx = 0;
};
// One step on a chip model as the adapter carries it out, one latch at a
// time and each only where its byte changes: the weak levels, then I8 and
// I9, then I0..I7 with I0 low, then for a clock I0 high; then the reading.
// (A chip whose pins hold levels through their feedback, latches built
// from gates, can see the levels between two latch writes.)
uint8_t walk_apply(sim_chip &chip, walk_latches &latches, const walk_step &step);

// Replays the record's steps on a chip model that is in the walk's start
// state with the adapter's latches at 0, step by step with walk_apply. Returns, per pin (bit k), how many steps read otherwise
// than the walk did, and in first the index of the first such step (or
// the step count).
struct walk_replay_result {
    unsigned mismatches[8] = {};
    size_t first = 0;
    bool same() const;
};
walk_replay_result walk_replay(sim_chip &chip, const walk_record &record);

// The walk of a chip with latches (pins that hold levels through their
// feedback). Such a chip is, besides its registers, in the levels of its
// other pins, and each latch write of the adapter moves it: what it does
// next follows from its registers, its pins' levels before the write and
// the levels the adapter holds after it. A walk of it is complete when,
// from every point it reached (registers, pin levels, condition), it
// tried every write of one latch, and a clock edge; then no sequence of
// writes from the start leads anywhere the walk did not try, and a chip
// that gives every reading of the walk's steps gives every reading the
// original gives.
//
// Conditions here are I1..I8 in bits 0..7 and above them the weak levels
// of the pins seen floating; the weak levels of the other pins count for
// nothing, as the chip drives them. A pin is seen floating where a step
// moved its weak level alone, and its level followed: a pin the chip
// drives shows the chip's level, whatever its weak level.
uint8_t walk_floating_pins(const walk_record &record);
// The pin that step shows floating so after prev (bit k: Bk), or 0.
uint8_t walk_floating_step(uint8_t registered, const walk_step &prev, const walk_step &step);

// Whether step moves one latch of the adapter after prev (or only raises
// I0, the clock, at the same levels), both with I9 low: then what the
// array saw before the step settled is what prev read, at the step's
// levels. (I0 falling is no change to the array.)
bool walk_single_write(const walk_step &prev, const walk_step &step);

// What the steps of a walk give: per point (registers, the levels of the
// pins that are neither registers nor inputs, condition) reached, the
// state a clock edge there led to; per
// write of one latch (registers, pin levels before, condition after), the
// pin levels it settled to.
struct walk_latch_book {
    uint8_t registered = 0, floating = 0;
    uint8_t held = 0; // the pins whose levels are part of a point: all but registers and inputs
    unsigned register_bits = 0, level_bits = 0, condition_bits = 0;
    std::vector<uint8_t> reached;   // per point
    std::vector<uint8_t> driven;    // per point: the held pins seen driven there (reading other than the weak level)
    std::vector<int16_t> clocked;   // per point: the registers after a clock edge, or walk_none
    std::vector<int16_t> settled;   // per write: the pins' levels after it, or walk_none
};
// Points are numbered (registers, levels, condition), condition lowest.
inline size_t walk_point(const walk_latch_book &b, unsigned regs, unsigned levels, unsigned cond)
{
    return ((size_t(regs) << b.level_bits | levels) << b.condition_bits) | cond;
}
// Most points a book holds; a chip with more is not walked so.
constexpr size_t walk_latch_max_points = size_t(1) << 22;
// Pins that read their weak levels at every step: inputs, whose levels
// are the condition's (and so not part of a point).
uint8_t walk_input_pins(const walk_record &record);
// False when the book would hold more than walk_latch_max_points.
bool walk_latch_book_init(walk_latch_book &book, uint8_t registered, uint8_t floating, uint8_t inputs);
// Takes one step in (prev: the step before, or null).
void walk_latch_book_step(walk_latch_book &book, const walk_step *prev, const walk_step &step);
// The same for every step of a record.
void walk_latch_book_steps(walk_latch_book &book, const walk_record &record);
// The point a step with I9 low ends in, and the write it was (SIZE_MAX
// where it was none: walk_single_write).
size_t walk_latch_point_of(const walk_latch_book &book, const walk_step &step);
size_t walk_latch_write_of(const walk_latch_book &book, const walk_step &prev, const walk_step &step);

// What a walk of latches left open: reached points never clocked, writes
// of one latch from reached points never tried (each write once, however
// many points can make it), and reached points where a held pin that was
// never seen floating was not seen driven either (it read its weak level
// only), so that its weak level might count there.
struct walk_latch_open {
    size_t points = 0;
    size_t unclocked = 0;
    size_t untried = 0;
    size_t unchecked = 0;
    bool complete() const { return !unclocked && !untried && !unchecked; }
};
// "N writes of one latch, M clock edges and K drive checks", for reports.
std::string walk_latch_open_text(const walk_latch_open &open);
// The held pins not seen floating that point p has not seen driven.
inline uint8_t walk_latch_unchecked(const walk_latch_book &b, size_t p)
{
    return static_cast<uint8_t>(b.held & ~b.floating & ~b.driven[p]);
}
walk_latch_open walk_latch_count(const walk_latch_book &book);

#endif
