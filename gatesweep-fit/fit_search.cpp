#include "fit_search.h"

#include "fit_table.h"
#include <algorithm>
#include <array>

#include "fit_fuses.h"
#include "jedec_file.h"

namespace {

// Bits of a function table over all 18 signals: which levels the pin shows
// at a point (an output: its level; an enable: 1 driven, 0 floating).

uint32_t own_bit(int k)
{
    return bx_bit(k);
}

// A pin's function over two sets of variables. By condition: the inputs and
// the weak drive levels of the dump index, as the analysis sees them. By
// level: the inputs and the levels on the other pins as the chip's array
// sees them (the chip's output where it drives a pin), which lets one
// output use another that is always driven. Neither includes the pin's own
// signal.
struct pin_function {
    std::vector<uint8_t> by_condition;
    std::vector<uint8_t> by_level;
    bool condition_ok = false;
    bool level_ok = false;
};


// The output function (enable = false) or the enable function of pin Bk.
pin_function pin_tables(const dump_analysis &a, int k, bool enable)
{
    const std::array<uint8_t, DUMP_SIZE> &data = a.data;
    pin_function f;
    f.by_condition.assign(DUMP_SIZE, 0);
    f.by_level.assign(DUMP_SIZE, 0);
    const uint32_t own = own_bit(k);
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        const bool floats = hiz_at(a, k, i);
        uint8_t v;
        if (enable)
            v = floats ? seen0 : seen1;
        else if (floats)
            continue;
        else
            v = ((data[i] >> k) & 1) ? seen1 : seen0;
        f.by_condition[i & ~own] |= v;
        f.by_level[((i & IX_MASK) | (uint32_t(data[i]) << RX_SHIFT)) & ~own] |= v;
    }
    f.condition_ok = fit_table_consistent(f.by_condition);
    f.level_ok = fit_table_consistent(f.by_level);
    return f;
}

struct support_pick {
    uint32_t support = SIGNAL_MASK_ALL; // the table's signals, bit n = signal n
    uint32_t missing = 0; // signals outside allowed that the function needs
    std::vector<uint8_t> table; // one entry per level of the support's signals, lowest first
};

// Which signals reduce_support lets go beyond those it must.
enum drop_order { drop_inputs_first, drop_pins_first, drop_none };

void drop_optional(support_pick &p, uint32_t allowed, drop_order order)
{
    for (unsigned n = 0; n < NUM_SIGNALS && order != drop_none; n++) {
        const unsigned v = order == drop_inputs_first ? n : (n + BX_SIGNAL0) % NUM_SIGNALS;
        if ((allowed >> v & 1) && (p.support >> v & 1))
            fit_table_drop(p.table, p.support, v);
    }
}

// Drops every signal outside allowed (those that cannot go are missing),
// then as many others as the function lets go, inputs first or pins first,
// or no others.
support_pick reduce_support(const std::vector<uint8_t> &start, uint32_t allowed, drop_order order)
{
    support_pick p;
    p.table = start;
    for (unsigned v = 0; v < NUM_SIGNALS; v++) {
        if (!(allowed >> v & 1) && !fit_table_drop(p.table, p.support, v))
            p.missing |= 1u << v;
    }
    drop_optional(p, allowed, order);
    return p;
}

// The outcome of fitting one function into a limit of terms.
struct function_fit {
    bool fits = false;
    fit_equation eq;
    unsigned needed = 0; // terms of the best cover found
    unsigned bound = 0;  // no cover over the same signals has fewer
    bool exact = false;
    // No cover within the limit exists over any signals the mode allows:
    // shown on the table that keeps them all.
    bool proven = false;
    uint32_t missing = 0;
    uint32_t support = 0;
};

// Minimises one reduced function at one level (for an enable, level 1).
function_fit minimise_pick(const support_pick &p, int level, unsigned limit)
{
    const fit_cover c = fit_table_cover(p.table, p.support, level, limit);
    function_fit f;
    f.eq = fit_cover_equation(c, level);
    f.needed = c.needed;
    f.bound = c.bound;
    f.exact = c.exact;
    f.fits = f.needed <= limit;
    f.support = c.uses;
    return f;
}

bool better(const function_fit &a, const function_fit &b)
{
    return a.needed < b.needed;
}

// Fits a function within the signals allowed and the limit of terms: by
// condition first (equations that `gatesweep-check' reproduces), then by
// level, and otherwise the smallest cover found.
function_fit fit_function(const pin_function &f, uint32_t allowed, unsigned limit, bool enable)
{
    function_fit best;
    bool have = false;
    uint32_t missing = ~0u;
    bool proven = false;
    auto consider = [&](const std::vector<uint8_t> &table, drop_order order) {
        const bool by_level = &table == &f.by_level;
        support_pick p = reduce_support(table, allowed, order);
        if (p.missing) {
            if (popcount64(p.missing) < popcount64(missing))
                missing = p.missing;
            return;
        }
        bool beyond = true; // at every level, beyond the limit
        for (int level = 1; level >= (enable ? 1 : 0); level--) {
            function_fit c = minimise_pick(p, level, limit);
            c.eq.by_level = by_level;
            beyond = beyond && c.bound > limit;
            if (!have || better(c, best)) {
                best = c;
                have = true;
            }
        }
        if (order == drop_none && beyond)
            proven = true;
    };
    if (f.condition_ok)
        consider(f.by_condition, drop_inputs_first);
    if (have && best.fits)
        return best;
    if (f.level_ok) {
        consider(f.by_level, drop_inputs_first);
        consider(f.by_level, drop_pins_first);
        // Every signal kept: the most don't-cares, which the reduced
        // supports lose, for the heuristic to use.
        if (!(have && best.fits))
            consider(f.by_level, drop_none);
    } else if (have && !best.fits) {
        consider(f.by_condition, drop_none);
    }
    if (!have)
        best.missing = missing == ~0u ? 0 : missing;
    best.proven = proven;
    return best;
}

std::string signal_label(unsigned n)
{
    return "pin " + std::to_string(pin_number[n]) + " (" + signal_name[n] + ")";
}

std::string terms_reason(const function_fit &f, unsigned limit)
{
    std::string s = std::to_string(f.needed) + " product terms, the mode allows " + std::to_string(limit);
    if (!f.proven)
        s += " (the fewest that the search found; a smaller cover was not ruled out)";
    return s;
}

std::string signal_list(uint32_t signals)
{
    std::string s;
    for (unsigned n = 0; n < NUM_SIGNALS; n++) {
        if (!(signals >> n & 1))
            continue;
        if (!s.empty())
            s += ", ";
        s += signal_label(n);
    }
    return s;
}

std::string missing_reason(uint32_t missing, uint32_t array_signals)
{
    std::string s = "needs the level of ";
    if (missing & ~array_signals)
        s += signal_list(missing & ~array_signals) + ", which this mode does not feed into the array";
    if ((missing & ~array_signals) && (missing & array_signals))
        s += ", and of ";
    if (missing & array_signals)
        s += signal_list(missing & array_signals) + ", which would close a loop of feedback";
    return s;
}

// Pins whose equations use pin j, directly or through others.
uint32_t users_of(const std::array<uint32_t, 8> &uses, int j)
{
    uint32_t reach = 0, grow = 1u << j;
    while (grow) {
        uint32_t next = 0;
        for (int k = 0; k < NUM_BX; k++)
            if ((uses[k] & grow) && !(reach >> k & 1))
                next |= 1u << k;
        reach |= next;
        grow = next;
    }
    return reach;
}

// A pin that keeps its own level through its own feedback where the dump
// shows it floating (a latch built from gates): enabled by one term that
// holds wherever the pin is driven, its output a function of the levels
// with its own among them, equal to its own level where it seemed to float.
// Where only one level of the pin itself was seen at a point, the other
// level gives the same output, so that the pin settles in one pass from
// either level.
bool fit_hold(const dump_analysis &a, int k, uint32_t allowed, unsigned limit, fit_pin &pin, uint32_t &support)
{
    const std::array<uint8_t, DUMP_SIZE> &data = a.data;
    const uint32_t own = own_bit(k);
    uint32_t ones = ~0u, zeros = ~0u;
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        if (hiz_at(a, k, i))
            continue;
        const uint32_t p = (i & IX_MASK) | (uint32_t(data[i]) << RX_SHIFT);
        ones &= p;
        zeros &= ~p;
    }
    cube enable{(ones | zeros) & allowed & ~own, 0};
    enable.value = ones & enable.care;

    pin_function f;
    f.by_level.assign(DUMP_SIZE, 0);
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        const uint32_t q = (i & IX_MASK) | (uint32_t(data[i]) << RX_SHIFT);
        if ((q & enable.care) == enable.value)
            f.by_level[q] |= ((data[i] >> k) & 1) ? seen1 : seen0;
    }
    if (!fit_table_consistent(f.by_level))
        return false;
    function_fit out;
    bool have = false;
    // The signals the mode lacks go first, then the other level is filled
    // in, and only then may further signals go.
    support_pick held = reduce_support(f.by_level, allowed | own, drop_none);
    if (held.missing)
        return false;
    unsigned j = 0;
    for (unsigned n = 0; n < static_cast<unsigned>(BX_SIGNAL0 + k); n++)
        j += held.support >> n & 1;
    const uint32_t b = 1u << j;
    for (uint32_t y = 0; y < held.table.size(); y++) {
        if (y & b)
            continue;
        uint8_t &lo = held.table[y], &hi = held.table[y | b];
        if (lo && !hi)
            hi = lo;
        else if (hi && !lo)
            lo = hi;
    }
    for (drop_order order : {drop_inputs_first, drop_pins_first, drop_none}) {
        support_pick p = held;
        drop_optional(p, allowed | own, order);
        for (int level = 1; level >= 0; level--) {
            function_fit c = minimise_pick(p, level, limit);
            if (!have || better(c, out)) {
                out = c;
                have = true;
            }
        }
        if (out.fits)
            break;
    }
    if (!have || !out.fits)
        return false;
    pin.out = out.eq;
    pin.holds = true;
    pin.oe = fit_equation{};
    pin.oe.present = true;
    pin.oe.terms.push_back(enable);
    support = (out.support | enable.care) & ~own;
    return true;
}

bool fit_mode(const dump_analysis &a, const gal_mode_entry &mode, const std::array<pin_function, 8> &outs,
              const std::array<pin_function, 8> &oes, bool allow_holds, fit_design &design,
              std::vector<std::string> &reasons)
{
    design = fit_design{};
    design.mode = &mode;
    const uint32_t array_signals = gal_array_signals(*mode.columns);
    std::array<uint32_t, 8> uses{}; // bit j: the pin's equations use Bj
    const std::string prefix = std::string(mode.name) + " mode: ";
    bool ok = true;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const uint32_t flags = a.mc[k].flags;
        fit_pin &pin = design.pin[k];
        if (flags & MC_INPUT)
            continue;
        pin.output = true;
        // A pin may not use a pin whose equations use it.
        uint32_t allowed = array_signals & ~own_bit(k);
        for (int j = 0; j < NUM_BX; j++)
            if (users_of(uses, k) >> j & 1)
                allowed &= ~own_bit(j);
        std::vector<std::string> why;
        uint32_t support = 0;

        if (flags & (MC_FIXED_LO | MC_FIXED_HI)) {
            pin.out.present = true;
            pin.out.constant = (flags & MC_FIXED_HI) ? 1 : 0;
        } else {
            function_fit f = fit_function(outs[static_cast<size_t>(k)], allowed, mode.level_terms, false);
            if (f.missing)
                why.push_back(prefix + pin_label(k) + " " + missing_reason(f.missing, array_signals));
            else if (!f.fits)
                why.push_back(prefix + pin_label(k) + " needs " + terms_reason(f, mode.level_terms));
            pin.out = f.eq;
            support |= f.support;
        }

        if ((flags & MC_HIZ) && !mode.enable_term) {
            why.push_back(prefix + pin_label(k) + " floats in some conditions; the mode has no enables");
        } else if (flags & MC_HIZ) {
            function_fit f = fit_function(oes[static_cast<size_t>(k)], allowed, 1, true);
            pin.oe = f.eq;
            support |= f.support;
            if (f.missing || !f.fits) {
                uint32_t held = 0;
                if (allow_holds && (array_signals & own_bit(k)) &&
                    fit_hold(a, k, allowed, mode.level_terms, pin, held)) {
                    why.clear();
                    support = held;
                } else if (f.missing) {
                    why.push_back(prefix + "the enable of " + pin_label(k) + " " +
                                  missing_reason(f.missing, array_signals));
                } else {
                    why.push_back(prefix + "the enable of " + pin_label(k) + " needs " + terms_reason(f, 1));
                }
            }
        }
        for (int j = 0; j < NUM_BX; j++)
            if (support & own_bit(j))
                uses[k] |= 1u << j;
        if (!why.empty()) {
            reasons.insert(reasons.end(), why.begin(), why.end());
            ok = false;
        }
    }
    return ok;
}

// False when the design holds a latch and its fuse map does not give the
// dump back: where the dump shows a pin floating, a latch keeps a level
// that the weak drive cannot change, so only the model can tell the two.
bool holds_verified(const dump_analysis &a, const fit_design &design)
{
    bool any = false;
    for (const fit_pin &p : design.pin)
        any = any || p.holds;
    if (!any)
        return true;
    std::vector<uint8_t> readings;
    std::string err;
    if (!fit_sweep(jedec_text(fit_fuses(design), "check"), "check", readings, err))
        return false;
    return std::equal(readings.begin(), readings.end(), a.data.begin());
}

} // namespace

fit_status fit_dump(const dump_analysis &a, fit_design &design, std::vector<std::string> &reasons)
{
    reasons.clear();
    std::array<pin_function, 8> outs, oes;
    bool state = false;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const uint32_t flags = a.mc[k].flags;
        if ((flags & MC_OUTPUT) && !(flags & (MC_FIXED_LO | MC_FIXED_HI))) {
            outs[static_cast<size_t>(k)] = pin_tables(a, k, false);
            const pin_function &f = outs[static_cast<size_t>(k)];
            if (!f.condition_ok && !f.level_ok) {
                reasons.push_back(pin_label(k) +
                                  ": its level is not a function of the signals: the chip holds state");
                state = true;
            }
        }
        if ((flags & MC_HIZ) && !(flags & MC_INPUT)) {
            oes[static_cast<size_t>(k)] = pin_tables(a, k, true);
            const pin_function &f = oes[static_cast<size_t>(k)];
            if (!f.condition_ok && !f.level_ok) {
                reasons.push_back(pin_label(k) +
                                  ": whether it floats is not a function of the signals: the chip holds state");
                state = true;
            }
        }
    }
    if (state)
        return FIT_STATE;
    for (const gal_mode_entry &mode : gal_modes) {
        std::vector<std::string> why;
        bool ok = fit_mode(a, mode, outs, oes, true, design, why);
        if (ok && !holds_verified(a, design)) {
            // A pin that really floats is no latch: without the holds.
            why.clear();
            ok = fit_mode(a, mode, outs, oes, false, design, why);
        }
        if (ok) {
            reasons.clear();
            return FIT_OK;
        }
        reasons.insert(reasons.end(), why.begin(), why.end());
    }
    return FIT_NO_FIT;
}

uint8_t register_fingerprint(const dump_analysis &a)
{
    const std::array<uint8_t, DUMP_SIZE> &data = a.data;
    // Read from the readings themselves, not from the float map: a
    // register's level can change between the two conditions that the float
    // map compares, which makes a driven pin look floating there.
    constexpr uint32_t clock = signal_bit(0), enable = signal_bit(I9_SIGNAL); // I0 (pin 1), I9 (pin 11)
    uint8_t driven = 0, not_floating = 0, not_held = 0;
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        const uint8_t off_weak = static_cast<uint8_t>(data[i] ^ (i >> RX_SHIFT));
        if (i & enable) {
            not_floating |= off_weak;
        } else {
            driven |= off_weak;
            // The reading before an even ix lies across a falling clock edge.
            if (!(i & clock) && (i & IX_MASK) != 0)
                not_held |= static_cast<uint8_t>(data[i] ^ data[i - 1]);
        }
    }
    return static_cast<uint8_t>(driven & ~not_floating & ~not_held);
}
