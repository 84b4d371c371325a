#include "terms.h"

#include "sweep.h"

#include <algorithm>

#include "wordops.h"

term_table new_term_table()
{
    return term_table(TERM_TABLE_SIZE);
}

bool takes_terms(const dump_analysis &a, int k, term_rule rule)
{
    const uint32_t f = a.mc[k].flags;
    if (rule == RULE_OUTPUT)
        return (f & MC_OUTPUT) && !(f & (MC_FIXED_LO | MC_FIXED_HI));
    return (f & MC_HIZ) && !(f & MC_INPUT);
}

// Marks position (i & mask) of half v for every condition i that takes part
// under the rule at level v; with only_level >= 0, only that level is marked
// and it goes to half 0.
static void mark_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask,
                       int only_level)
{
    uint8_t *t = table.data();
    const uint8_t *d = a.data.data(), *h = a.hiz_data.data();
    if (rule == RULE_OUTPUT) {
        if (only_level < 0) {
            for (uint32_t i = 0; i < DUMP_SIZE; i++) {
                // A floating condition ORs 0 into its slot: no mark.
                uint8_t driven = static_cast<uint8_t>(((h[i] >> k) & 1) ^ 1);
                t[((d[i] >> k) & 1) * DUMP_SIZE + (i & mask)] |= driven;
            }
        } else {
            for (uint32_t i = 0; i < DUMP_SIZE; i++) {
                uint8_t hit = static_cast<uint8_t>(((h[i] >> k) & 1) == 0 && ((d[i] >> k) & 1) == unsigned(only_level));
                t[i & mask] |= hit;
            }
        }
    } else {
        if (only_level < 0) {
            for (uint32_t i = 0; i < DUMP_SIZE; i++)
                t[((h[i] >> k) & 1) * DUMP_SIZE + (i & mask)] = 1;
        } else {
            for (uint32_t i = 0; i < DUMP_SIZE; i++) {
                uint8_t hit = static_cast<uint8_t>(((h[i] >> k) & 1) == unsigned(only_level));
                t[i & mask] |= hit;
            }
        }
    }
}

static uint32_t count_marks(const uint8_t *half)
{
    uint32_t n = 0;
    for (uint32_t p = 0; p < DUMP_SIZE; p += 8)
        n += sum_flag_lanes(load64(half + p));
    return n;
}

term_counts count_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask)
{
    std::fill(table.begin(), table.end(), 0);
    mark_terms(a, table, k, rule, mask, -1);
    term_counts c;
    c.n[0] = count_marks(table.data());
    c.n[1] = count_marks(table.data() + DUMP_SIZE);
    return c;
}

int choose_level(const term_counts &c)
{
    return (c.n[0] >= 1 && c.n[0] < c.n[1]) ? 0 : 1;
}

void extract_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, pin_terms &choice)
{
    const macrocell &m = a.mc[k];
    const uint32_t mask = rule == RULE_OUTPUT ? m.out_mask : m.oe_mask;
    term_counts c = count_terms(a, table, k, rule, mask);
    int level = choose_level(c);
    if (rule == RULE_OUTPUT) {
        choice.out_pol = level;
        choice.out_nterms = static_cast<int32_t>(c.n[level]);
    } else {
        choice.oe_pol = level;
        choice.oe_nterms = static_cast<int32_t>(c.n[level]);
    }
}

void extract_all(const dump_analysis &a, term_table &table, term_rule rule, term_choices &choices)
{
    for (int k = NUM_BX - 1; k >= 0; k--)
        if (takes_terms(a, k, rule))
            extract_terms(a, table, k, rule, choices[k]);
}

void enumerate_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask, int level)
{
    std::fill(table.begin(), table.begin() + DUMP_SIZE, 0);
    mark_terms(a, table, k, rule, mask, level);
}

long next_term(const term_table &table, long from)
{
    const uint8_t *t = table.data();
    uint32_t p = static_cast<uint32_t>(from);
    while (p < DUMP_SIZE && (p & 7)) {
        if (t[p])
            return static_cast<long>(p);
        p++;
    }
    while (p < DUMP_SIZE && load64(t + p) == 0)
        p += 8;
    for (; p < DUMP_SIZE; p++)
        if (t[p])
            return static_cast<long>(p);
    return -1;
}

equation_check new_equation_check(const dump_analysis &a)
{
    equation_check check;
    uint32_t drives = 0; // the I/O pins that drive in some condition
    for (int k = 0; k < NUM_BX; k++)
        if (a.mc[k].flags & MC_OUTPUT)
            drives |= bx_bit(k);
    for (int k = 0; k < NUM_BX; k++) {
        const macrocell &m = a.mc[k];
        const uint32_t read = (takes_terms(a, k, RULE_OUTPUT) ? m.out_mask : 0) |
                              (takes_terms(a, k, RULE_ENABLE) ? m.oe_mask : 0);
        check.by_model = check.by_model || (read & drives) != 0;
        check.logic[k].output = (m.flags & MC_OUTPUT) != 0;
    }
    if (!check.by_model)
        check.wrong.assign(DUMP_SIZE, 0);
    return check;
}

// The equation whose value at point p is marks[p & mask] (0 or 1),
// inverted when bang, as a truth table over the levels on the pins.
static logic_table logic_of(const uint8_t *marks, uint32_t mask, bool bang)
{
    // Word w holds the points w * 64 + b; it is the word of w & (mask >> 6),
    // so only the words of the mask's own high signals are built bit by bit.
    logic_table t(logic_points / 64, 0);
    const uint32_t high = mask >> 6;
    for (uint32_t w = 0; w < t.size(); w++) {
        if (w & ~high) {
            t[w] = t[w & high];
            continue;
        }
        uint64_t word = 0;
        for (uint32_t b = 0; b < 64; b++)
            word |= uint64_t(marks[(w << 6 | b) & mask] & 1) << b;
        t[w] = bang ? ~word : word;
    }
    return t;
}

// Marks where Bk disagrees with the equation whose value at dump index i is
// marks[i & mask] (0 or 1), inverted when bang: under the output rule the
// level the pin reads where it is driven, under the enable rule whether it
// is driven. Eight conditions at a time: those from i (a multiple of 8) on
// find their marks in the eight bytes from i & mask on, condition i + j at
// byte j & mask. One multiply moves them into place: byte a (a made of the
// mask's low three signals) goes to every lane a + s, s made of the others,
// and to bit k of it.
static void check_marks(const dump_analysis &a, equation_check &check, const uint8_t *marks, int k, term_rule rule,
                        uint32_t mask, bool bang)
{
    if (check.by_model) {
        (rule == RULE_OUTPUT ? check.logic[k].level : check.logic[k].enable) = logic_of(marks, mask, bang);
        return;
    }
    const uint32_t low = mask & 7;
    uint64_t own = 0, spread = 0;
    for (uint32_t j = 0; j < 8; j++) {
        if ((j & ~low) == 0)
            own |= uint64_t(0xFF) << (8 * j);
        if ((j & low) == 0)
            spread |= uint64_t(1) << (8 * j + k);
    }
    const uint64_t lane_bit = broadcast_byte(static_cast<uint8_t>(1u << k)), flip = bang ? lane_bit : 0;
    const uint8_t *d = a.data.data(), *h = a.hiz_data.data();
    uint8_t *w = check.wrong.data();
    if (rule == RULE_OUTPUT) {
        for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
            const uint64_t level = ((load64(marks + (i & mask)) & own) * spread) ^ flip;
            store64(w + i, load64(w + i) | ((level ^ load64(d + i)) & ~load64(h + i) & lane_bit));
        }
    } else {
        for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
            const uint64_t driven = ((load64(marks + (i & mask)) & own) * spread) ^ flip;
            store64(w + i, load64(w + i) | ((driven ^ ~load64(h + i)) & lane_bit));
        }
    }
}

void check_terms(const dump_analysis &a, equation_check &check, const term_table &table, int k, term_rule rule,
                 uint32_t mask, bool bang)
{
    check_marks(a, check, table.data(), k, rule, mask, bang);
}

void check_constant(const dump_analysis &a, equation_check &check, int k, term_rule rule, int constant)
{
    static const uint8_t no_term[8] = {};
    check_marks(a, check, no_term, k, rule, 0, constant != 0);
}

std::array<uint32_t, NUM_BX> count_wrong(const dump_analysis &a, equation_check &check)
{
    if (check.by_model) {
        const std::vector<uint8_t> readings =
            sweep_chip(sim_make_logic_chip(std::move(check.logic), "Warning: the printed equations"));
        check.wrong = reading_mismatches(a.data.data(), readings.data());
        check.by_model = false;
    }
    std::array<uint32_t, NUM_BX> count{};
    uint64_t any = 0;
    for (uint32_t i = 0; i < DUMP_SIZE; i += 8)
        any |= load64(&check.wrong[i]);
    if (!any)
        return count;
    // Per pin, byte-lane sums of up to 255 words, before a lane could carry.
    const uint64_t ones = broadcast_byte(1), pair_lanes = 0x00FF00FF00FF00FFull;
    for (uint32_t start = 0; start < DUMP_SIZE; start += 8 * 255) {
        std::array<uint64_t, NUM_BX> lanes{};
        const uint32_t end = std::min(DUMP_SIZE, start + 8 * 255);
        for (uint32_t i = start; i < end; i += 8) {
            const uint64_t v = load64(&check.wrong[i]);
            for (int k = 0; k < NUM_BX; k++)
                lanes[k] += (v >> k) & ones;
        }
        for (int k = 0; k < NUM_BX; k++) {
            const uint64_t pairs = (lanes[k] & pair_lanes) + ((lanes[k] >> 8) & pair_lanes);
            count[k] += static_cast<uint32_t>((pairs * 0x0001000100010001ull) >> 48);
        }
    }
    return count;
}
