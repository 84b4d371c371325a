#include "fit_walk.h"

#include <algorithm>
#include <array>
#include <memory>

#include "chip.h"
#include "fit_table.h"
#include "minimize.h"

namespace {

// The fitter's functions are over the walk's keys (walk_key): key bit v is
// I(v + 1) for v < 8, the level of B(v - 8) above. A table has one entry
// per key: which levels the pin showed there (an enable: seen1 driven,
// seen0 floating); 0 where the walk never saw the key.
constexpr unsigned key_bits = 16;
constexpr uint32_t key_count = 1u << key_bits;

uint32_t pin_key_bit(int k)
{
    return 1u << (walk_input_bits + static_cast<unsigned>(k));
}

// A cube over keys as one over signal numbers.
cube signal_cube(const cube &c)
{
    cube s;
    for (unsigned v = 0; v < key_bits; v++) {
        const unsigned n = v < walk_input_bits ? v + 1 : BX_SIGNAL0 + (v - walk_input_bits);
        s.care |= (c.care >> v & 1) << n;
        s.value |= (c.value >> v & 1) << n;
    }
    return s;
}

// A table over the key bits in keep, lowest first.
struct reduced {
    std::vector<uint8_t> table;
    uint32_t keep = key_count - 1;
};

struct function_fit {
    fit_equation eq;
    unsigned needed = 0;
    uint32_t uses = 0; // key bits the terms read
};

// The cover of the reduced table at one level (1: the terms list where the
// pin is high), in key bits.
function_fit minimise_at(const reduced &r, int level, unsigned limit)
{
    const fit_cover c = fit_table_cover(r.table, r.keep, level, limit);
    function_fit f;
    f.eq = fit_cover_equation(c, level);
    f.needed = c.needed;
    f.uses = c.uses;
    return f;
}

// Drops the bits of forbidden; those that cannot go are returned.
uint32_t drop_forbidden(reduced &r, uint32_t forbidden)
{
    uint32_t missing = 0;
    for (unsigned v = 0; v < key_bits; v++) {
        if ((forbidden >> v & 1) && (r.keep >> v & 1) && !fit_table_drop(r.table, r.keep, v))
            missing |= 1u << v;
    }
    return missing;
}

// The fewer terms of both levels, on the table reduced as far as it goes
// (bits in order), and where that takes more than limit, also on the table
// as given, whose don't-cares (where the reduction used any) the heuristic
// may use better.
function_fit fit_reduced(const reduced &full, const std::vector<unsigned> &order, unsigned limit)
{
    function_fit best;
    reduced r = full;
    for (unsigned v : order)
        if (r.keep >> v & 1)
            fit_table_drop(r.table, r.keep, v);
    // Without don't-cares the reduced table is the same function.
    const bool lost = std::find(full.table.begin(), full.table.end(), 0) != full.table.end() && r.keep != full.keep;
    bool have = false;
    for (const reduced *t : {static_cast<const reduced *>(&r), &full}) {
        if (have && (best.needed <= limit || !lost))
            break;
        for (int level = 1; level >= 0; level--) {
            function_fit f = minimise_at(*t, level, limit);
            if (!have || f.needed < best.needed) {
                best = f;
                have = true;
            }
        }
    }
    // A sum that never holds, or always: a fixed level.
    fit_equation &eq = best.eq;
    bool always = false;
    for (const cube &c : eq.terms)
        always = always || c.care == 0;
    if (eq.terms.empty() || always) {
        eq.constant = always ? eq.level : !eq.level;
        eq.level = 1;
        eq.terms.clear();
        best.uses = 0;
    }
    for (cube &c : eq.terms)
        c = signal_cube(c);
    return best;
}

// The same on a whole table, the bits of forbidden dropped first (missing:
// those that cannot go, and then no fit).
function_fit fit_function(const std::vector<uint8_t> &table, uint32_t forbidden, const std::vector<unsigned> &order,
                          unsigned limit, uint32_t &missing)
{
    reduced full;
    full.table = table;
    missing = drop_forbidden(full, forbidden);
    return missing ? function_fit{} : fit_reduced(full, order, limit);
}

// Pins whose equations read pin j, directly or through others.
uint8_t users_of(const std::array<uint8_t, 8> &uses, int j)
{
    uint8_t reach = 0, grow = static_cast<uint8_t>(1u << j);
    while (grow) {
        uint8_t next = 0;
        for (int k = 0; k < NUM_BX; k++)
            if ((uses[k] & grow) && !(reach >> k & 1))
                next = static_cast<uint8_t>(next | 1u << k);
        reach |= next;
        grow = next;
    }
    return reach;
}

uint8_t pins_of(uint32_t key_care)
{
    return static_cast<uint8_t>(key_care >> walk_input_bits);
}

std::string pins_text(uint8_t pins)
{
    std::string s;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (!(pins >> k & 1))
            continue;
        s += (s.empty() ? "" : ", ") + pin_label(k);
    }
    return s;
}

// The order in which a pin's function lets bits go: the combinational
// pins first (the fewer they read of each other, the fewer loops), then the
// inputs, then the registers.
std::vector<unsigned> drop_order(uint8_t registered)
{
    std::vector<unsigned> order;
    for (int pass = 0; pass < 3; pass++) {
        for (unsigned v = 0; v < key_bits; v++) {
            const bool input = v < walk_input_bits;
            const bool reg = !input && (registered >> (v - walk_input_bits) & 1);
            if ((pass == 0 && !input && !reg) || (pass == 1 && input) || (pass == 2 && reg))
                order.push_back(v);
        }
    }
    return order;
}

// The readings of a combinational pin j: per key without j's own level,
// whether it drives there, and the level it drives.
struct pin_readings {
    std::vector<uint8_t> enable; // seen1 driven, seen0 floating
    std::vector<uint8_t> level;  // where driven
};

pin_readings combinational_readings(const walk_record &record, const walk_tables &tables, int j)
{
    pin_readings p;
    p.enable.assign(key_count, 0);
    p.level.assign(key_count, 0);
    const uint8_t registered = record.registered;
    const unsigned conditions = walk_conditions(registered);
    const uint32_t own = pin_key_bit(j);
    for (const walk_state &s : tables.states) {
        for (unsigned c = 0; c < conditions; c++) {
            const int16_t r = s.reading[c];
            const int floats = r == walk_none ? -1 : walk_floats(s, registered, c, j);
            if (floats < 0)
                continue;
            const uint32_t key = walk_key(c, static_cast<unsigned>(r)) & ~own;
            p.enable[key] |= floats ? seen0 : seen1;
            if (floats)
                continue;
            p.level[key] |= (r >> j & 1) ? seen1 : seen0;
        }
    }
    return p;
}

// The one enable term of a pin: the smallest cube over its driven keys
// within the bits allowed, then without every literal that it can spare,
// holding at no floating key. False when that cube holds at one.
bool enable_term(const std::vector<uint8_t> &enable, uint32_t allowed, const std::vector<unsigned> &order,
                 cube &term)
{
    uint32_t ones = key_count - 1, zeros = key_count - 1;
    std::vector<uint32_t> floating;
    for (uint32_t key = 0; key < key_count; key++) {
        if (enable[key] & seen1) {
            ones &= key;
            zeros &= ~key;
        } else if (enable[key] & seen0) {
            floating.push_back(key);
        }
    }
    auto clear = [&floating](const cube &c) {
        for (uint32_t key : floating)
            if ((key & c.care) == c.value)
                return false;
        return true;
    };
    term.care = (ones | zeros) & allowed;
    term.value = ones & term.care;
    if (!clear(term))
        return false;
    for (unsigned v : order) {
        if (!(term.care >> v & 1))
            continue;
        const cube wider{term.care & ~(1u << v), term.value & ~(1u << v)};
        if (clear(wider))
            term = wider;
    }
    return true;
}

// A register's next level at the keys the array saw before clock edges:
// from the tables, where each state and condition read and clocked as
// often as the walk did gave one answer (no conflicts); and from every step
// with a clock edge that followed a step at the same condition
// (walk_single_write), which read the levels the edge started from (the tables keep
// the first reading of each condition, which a latch's level can make
// another than the one before a later edge).
void fit_register(const walk_record &record, const walk_tables &tables, int k, fit_pin &pin,
                  std::vector<std::string> &reasons)
{
    std::vector<uint8_t> table(key_count, 0);
    const std::vector<walk_step> &steps = record.steps;
    for (size_t i = 1; i < steps.size(); i++) {
        const walk_step &before = steps[i - 1], &edge = steps[i];
        const int c = walk_condition_of(record.registered, edge.ix, edge.rx);
        if (!edge.clock || c < 0 || !walk_single_write(before, edge))
            continue;
        table[walk_key(static_cast<unsigned>(c), before.reading)] |= (edge.reading >> k & 1) ? seen1 : seen0;
    }
    const unsigned conditions = tables.conflicts ? 0 : walk_conditions(record.registered);
    for (const walk_state &s : tables.states) {
        for (unsigned c = 0; c < conditions; c++) {
            const int16_t r = s.reading[c], n = s.next[c];
            if (r == walk_none || n == walk_none)
                continue;
            const uint8_t next = tables.states[static_cast<size_t>(n)].levels;
            table[walk_key(c, static_cast<unsigned>(r))] |= (next >> k & 1) ? seen1 : seen0;
        }
    }
    pin.output = true;
    pin.registered = true;
    if (!fit_table_consistent(table)) {
        reasons.push_back(pin_label(k) + ": two next levels at the same inputs and pin levels: the chip holds "
                                         "state beside its registers");
        return;
    }
    uint32_t missing = 0;
    const function_fit f = fit_function(table, 0, drop_order(record.registered), fit_register_terms, missing);
    pin.out = f.eq;
    if (f.needed > fit_register_terms)
        reasons.push_back(pin_label(k) + ": its register needs " + std::to_string(f.needed) +
                          " product terms; a GAL16V8 cell has " + std::to_string(fit_register_terms));
}

// A pin that holds its own level through its own feedback (a latch built
// from gates): its reading at a condition follows what came before, which
// the tables (the first reading of each) do not hold, so its level is
// learnt from the walk's steps. After each step its level is a function of
// the key read with its own level among them, twice over: at that key, and,
// where the step wrote one latch of the adapter (walk_single_write), at
// that key with the level the pin had before the step (the level the
// array started from).
// Enabled by the smallest cube over the keys where it is sure to drive:
// where the tables show it driven, and where a step read it otherwise than
// its weak level (a latch that comes out of floating takes the weak level,
// so that the tables' pairs of weak levels can show it floating where it
// drives). False when the steps give no function of at most seven terms;
// the check of the fuse map against the walk has the last word.
bool fit_latch(const walk_record &record, const pin_readings &p, int k, uint32_t forbidden,
               const std::vector<unsigned> &order, fit_pin &pin, uint32_t &uses)
{
    const uint32_t own = pin_key_bit(k);
    uint32_t ones = key_count - 1, zeros = key_count - 1;
    for (uint32_t key = 0; key < key_count; key++) {
        if (p.enable[key] & seen1) {
            ones &= key;
            zeros &= ~key;
        }
    }
    for (const walk_step &step : record.steps) {
        const int c = walk_condition_of(record.registered, step.ix, step.rx);
        if (c >= 0 && ((step.reading ^ step.rx) >> k & 1)) {
            const uint32_t key = walk_key(static_cast<unsigned>(c), step.reading) & ~own;
            ones &= key;
            zeros &= ~key;
        }
    }
    cube enable;
    enable.care = (ones | zeros) & (key_count - 1) & ~forbidden & ~own;
    enable.value = ones & enable.care;
    std::vector<uint8_t> level(key_count, 0);
    for (size_t i = 0; i < record.steps.size(); i++) {
        const walk_step &step = record.steps[i];
        const int c = walk_condition_of(record.registered, step.ix, step.rx);
        if (c < 0)
            continue;
        const uint32_t key = walk_key(static_cast<unsigned>(c), step.reading);
        if ((key & enable.care) != enable.value)
            continue;
        const uint8_t seen = (step.reading >> k & 1) ? seen1 : seen0;
        level[key] |= seen;
        if (i && walk_single_write(record.steps[i - 1], step)) {
            const uint32_t before = (key & ~own) | ((record.steps[i - 1].reading >> k & 1) ? own : 0);
            level[before] |= seen;
        }
    }
    if (!fit_table_consistent(level))
        return false;
    uint32_t missing = 0;
    const function_fit f = fit_function(level, forbidden & ~own, order, fit_combinational_terms, missing);
    if (missing || f.needed > fit_combinational_terms)
        return false;
    pin.out = f.eq;
    pin.holds = true;
    pin.oe = fit_equation{};
    if (enable.care) {
        pin.oe.present = true;
        pin.oe.terms.push_back(signal_cube(enable));
    }
    uses = (f.uses | enable.care) & ~own;
    return true;
}

// Returns the pins that the pin's equations read.
uint8_t fit_combinational(const walk_record &record, const walk_tables &tables, int k, uint8_t forbidden_pins,
                          fit_pin &pin, std::vector<std::string> &reasons)
{
    const pin_readings p = combinational_readings(record, tables, k);
    bool driven = false, floats = false;
    for (uint8_t e : p.enable) {
        driven = driven || (e & seen1);
        floats = floats || (e & seen0);
    }
    if (!driven)
        return 0; // an input
    pin.output = true;
    const uint8_t combinational = static_cast<uint8_t>(~record.registered);
    const uint32_t forbidden = pin_key_bit(k) | uint32_t(forbidden_pins) << walk_input_bits;
    const std::vector<unsigned> order = drop_order(record.registered);
    const std::string label = pin_label(k);
    std::vector<std::string> why;
    uint32_t uses = 0;
    // A pin that read otherwise at a state and condition read before is
    // learnt from the steps, even where the tables' first readings happen
    // to agree with one another.
    if ((tables.unsteady >> k & 1) || !fit_table_consistent(p.enable) || !fit_table_consistent(p.level)) {
        why.push_back(label + ": it reads otherwise at the same inputs and pin levels: it holds state of its own "
                              "(a latch or an asynchronous loop)");
    } else {
        uint32_t missing = 0;
        const function_fit f = fit_function(p.level, forbidden, order, fit_combinational_terms, missing);
        pin.out = f.eq;
        uses |= f.uses;
        if (missing)
            why.push_back(label + ": its level needs the level of " + pins_text(pins_of(missing)) +
                          ", which would close a loop of feedback");
        else if (f.needed > fit_combinational_terms)
            why.push_back(label + ": its level needs " + std::to_string(f.needed) +
                          " product terms; a combinational GAL16V8 cell has " +
                          std::to_string(fit_combinational_terms));
        cube term;
        const bool enabled = floats && enable_term(p.enable, (key_count - 1) & ~forbidden, order, term);
        if (enabled) {
            pin.oe.present = true;
            pin.oe.terms.push_back(signal_cube(term));
            uses |= term.care;
        } else if (floats) {
            why.push_back(label + ": its enable needs more than the one product term of a GAL16V8 cell");
        }
    }
    if (!why.empty()) {
        // Perhaps a latch.
        uint32_t held = 0;
        pin = fit_pin{};
        pin.output = true;
        if (!fit_latch(record, p, k, forbidden, order, pin, held)) {
            reasons.insert(reasons.end(), why.begin(), why.end());
            return 0;
        }
        uses = held;
    }
    return static_cast<uint8_t>(pins_of(uses) & combinational & ~(1u << k));
}

} // namespace

bool fit_walk(const walk_record &record, const walk_tables &tables, fit_design &design,
              std::vector<std::string> &reasons)
{
    reasons.clear();
    design = fit_design{};
    design.mode = &gal_modes[gal_registered];
    if (!record.registered) {
        reasons.push_back("no pin has a register: a combinational chip is read with `gatesweep dump' and fitted "
                          "from its dump");
        return false;
    }
    std::array<uint8_t, 8> uses{}; // bit j: the pin's equations read combinational pin Bj
    for (int k = NUM_BX - 1; k >= 0; k--) {
        fit_pin &pin = design.pin[static_cast<size_t>(k)];
        if (record.registered >> k & 1) {
            fit_register(record, tables, k, pin, reasons);
        } else {
            // No pin may read a pin whose equations read it.
            uses[static_cast<size_t>(k)] = fit_combinational(record, tables, k, users_of(uses, k), pin, reasons);
        }
    }
    return reasons.empty();
}

uint8_t walk_start_low(const walk_record &record, std::vector<std::string> &reasons)
{
    const uint8_t low = static_cast<uint8_t>(record.registered & ~record.start);
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (low >> k & 1)
            reasons.push_back(pin_label(k) +
                              ": the walk started with it low; a GAL16V8 powers up with its registers' pins high");
    }
    return low;
}

bool fit_walk_replay(const std::string &jedec, const std::string &name, const walk_record &record,
                     walk_replay_result &result, std::string &err)
{
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip_text("GAL16V8", jedec, name, err);
    if (!chip)
        return false;
    chip->power_up(~record.start & record.registered);
    result = walk_replay(*chip, record);
    return true;
}
