#include "terms.h"

#include "sweep.h"

#include <algorithm>

#include "wordops.h"

term_table new_term_table()
{
    // Halves 0 and 1, then the levels and float states of the pin last marked.
    return term_table{index_bits(4 * INDEX_WORDS)};
}

bool takes_terms(const dump_analysis &a, int k, term_rule rule)
{
    const uint32_t f = a.mc[k].flags;
    if (rule == RULE_OUTPUT)
        return (f & MC_OUTPUT) && !(f & (MC_FIXED_LO | MC_FIXED_HI));
    return (f & MC_HIZ) && !(f & MC_INPUT);
}

// Marks position (i & mask) of half v for every condition i that takes part
// under the rule at level v, and returns the counts; with only_level >= 0,
// only that level is marked and it goes to half 0. All 64 conditions of a
// word at once: the sets of conditions as bit maps, projected onto the mask.
static term_counts mark_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask,
                              int only_level)
{
    uint64_t *const half0 = table.marks.data(), *const half1 = half0 + INDEX_WORDS;
    uint64_t *const level = half1 + INDEX_WORDS, *const floats = level + INDEX_WORDS;
    pin_bits(a, k, level, floats);
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        uint64_t at0, at1;
        if (rule == RULE_OUTPUT) {
            // A floating condition takes no part.
            at1 = level[w] & ~floats[w];
            at0 = ~level[w] & ~floats[w];
        } else {
            at1 = floats[w];
            at0 = ~floats[w];
        }
        if (only_level < 0) {
            half0[w] = at0;
            half1[w] = at1;
        } else {
            half0[w] = only_level ? at1 : at0;
        }
    }
    term_counts c{};
    c.n[0] = project_bits(half0, mask);
    if (only_level < 0)
        c.n[1] = project_bits(half1, mask);
    return c;
}

term_counts count_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask)
{
    return mark_terms(a, table, k, rule, mask, -1);
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
    mark_terms(a, table, k, rule, mask, level);
}

long next_term(const term_table &table, long from)
{
    if (from < 0)
        from = 0;
    if (from >= static_cast<long>(DUMP_SIZE))
        return -1;
    const uint64_t *const m = table.marks.data();
    const uint32_t p = static_cast<uint32_t>(from);
    uint32_t w = p >> 6;
    uint64_t x = m[w] & (~uint64_t(0) << (p & 63));
    while (!x) {
        if (++w == INDEX_WORDS)
            return -1;
        x = m[w];
    }
    return static_cast<long>(w * 64 + popcount64((x & (0 - x)) - 1));
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
    }
    if (check.by_model) {
        // Until its equations come: no level, and an output drives everywhere.
        check.level.assign(DUMP_SIZE, 0);
        check.enable.assign(DUMP_SIZE, static_cast<uint8_t>(drives >> BX_SIGNAL0));
    } else {
        check.wrong.assign(NUM_BX * INDEX_WORDS, 0);
    }
    return check;
}

// Word w of the equation whose value at index (or point) i is bit i & mask
// of marks, which holds no bits outside the mask: the word of w & (mask >>
// 6), its bits spread over the low signals outside the mask.
static uint64_t equation_word(const uint64_t *marks, uint32_t w, uint32_t mask)
{
    uint64_t x = marks[w & (mask >> 6)];
    for (uint32_t s = 1; s < 64; s <<= 1)
        if (!(mask & s))
            x |= x << s;
    return x;
}

// Marks where Bk disagrees with the equation whose value at dump index i is
// bit i & mask of marks, inverted when bang: under the output rule the
// level the pin reads where it is driven, under the enable rule whether it
// is driven. By the model, the equation goes to bit k of the level or
// enable table instead. level and floats: the pin's bit maps.
static void check_marks(equation_check &check, const uint64_t *marks, const uint64_t *level, const uint64_t *floats,
                        int k, term_rule rule, uint32_t mask, bool bang)
{
    const uint64_t flip = bang ? ~uint64_t(0) : 0;
    if (check.by_model) {
        check.reads[k] |= mask;
        uint8_t *t = (rule == RULE_OUTPUT ? check.level : check.enable).data();
        for (uint32_t w = 0; w < INDEX_WORDS; w++)
            place_bit(t + 64 * w, k, equation_word(marks, w, mask) ^ flip);
        return;
    }
    uint64_t *const wrong = check.wrong.data() + k * INDEX_WORDS;
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        const uint64_t v = equation_word(marks, w, mask) ^ flip;
        wrong[w] |= rule == RULE_OUTPUT ? (v ^ level[w]) & ~floats[w] : v ^ ~floats[w];
    }
}

void check_terms(const dump_analysis &, equation_check &check, const term_table &table, int k, term_rule rule,
                 uint32_t mask, bool bang)
{
    const uint64_t *const marks = table.marks.data();
    check_marks(check, marks, marks + 2 * INDEX_WORDS, marks + 3 * INDEX_WORDS, k, rule, mask, bang);
}

void check_constant(const dump_analysis &a, equation_check &check, int k, term_rule rule, int constant)
{
    static const uint64_t no_term[1] = {};
    index_bits level, floats;
    if (!check.by_model) {
        level.resize(INDEX_WORDS);
        floats.resize(INDEX_WORDS);
        pin_bits(a, k, level.data(), floats.data());
    }
    check_marks(check, no_term, level.data(), floats.data(), k, rule, 0, constant != 0);
}

// The readings of the chip the equations describe, where they differ from
// the dump's (empty where they differ nowhere). Without a loop among the
// pins (by the signals the equations read) the chip holds no state: at
// index i its levels are those settled pin by pin, each after the pins it
// reads, and where the dump's own levels at i are what the equations give
// at them, they are those levels. Elsewhere they are settled so; with a
// loop the chip is swept.
static std::vector<uint8_t> model_readings(const dump_analysis &a, equation_check &check)
{
    uint32_t outputs = 0;
    for (int k = 0; k < NUM_BX; k++)
        if (a.mc[k].flags & MC_OUTPUT)
            outputs |= 1u << k;
    std::array<unsigned, NUM_BX> reads{}, order{};
    for (int k = 0; k < NUM_BX; k++)
        reads[k] = (check.reads[k] >> BX_SIGNAL0) & 0xFF;
    unsigned placed_count = 0;
    const uint8_t *const level = check.level.data(), *const enable = check.enable.data();
    if (logic_settle_order(reads, outputs, order, placed_count)) {
        std::vector<uint8_t> readings;
        for (uint32_t i = 0; i < DUMP_SIZE; i++) {
            const uint32_t rx = i >> RX_SHIFT, p = (i & IX_MASK) | uint32_t(a.data[i]) << RX_SHIFT;
            const uint32_t model = (level[p] & enable[p]) | (rx & ~uint32_t(enable[p]));
            if (model == a.data[i])
                continue;
            if (readings.empty())
                readings.assign(a.data.begin(), a.data.end());
            uint32_t pins = rx & ~outputs;
            for (unsigned n = 0; n < placed_count; n++) {
                const unsigned k = order[n];
                const uint32_t q = (i & IX_MASK) | pins << RX_SHIFT;
                const uint32_t bit = 1u << k;
                pins |= (enable[q] & bit) ? level[q] & bit : rx & bit;
            }
            readings[i] = static_cast<uint8_t>(pins);
        }
        return readings;
    }
    logic_design design;
    for (int k = 0; k < NUM_BX; k++) {
        design[k].output = (outputs >> k & 1) != 0;
        design[k].level.resize(logic_points / 64);
        design[k].enable.resize(logic_points / 64);
        for (uint32_t w = 0; w < logic_points / 64; w++) {
            design[k].level[w] = gather_bit(level + 64 * w, k);
            design[k].enable[w] = gather_bit(enable + 64 * w, k);
        }
    }
    index_bits().swap(check.wrong);
    std::vector<uint8_t>().swap(check.level);
    std::vector<uint8_t>().swap(check.enable);
    return sweep_chip(sim_make_logic_chip(std::move(design), "Warning: the printed equations"));
}

std::array<uint32_t, NUM_BX> count_wrong(const dump_analysis &a, equation_check &check)
{
    std::array<uint32_t, NUM_BX> count{};
    if (!check.by_model) {
        for (int k = 0; k < NUM_BX; k++)
            for (uint32_t w = 0; w < INDEX_WORDS; w++)
                count[k] += popcount64(check.wrong[k * INDEX_WORDS + w]);
        return count;
    }
    std::vector<uint8_t> readings = model_readings(a, check);
    std::vector<uint8_t>().swap(check.level);
    std::vector<uint8_t>().swap(check.enable);
    check.by_model = false;
    check.wrong.assign(NUM_BX * INDEX_WORDS, 0);
    if (readings.empty())
        return count;
    const std::vector<uint8_t> wrong = reading_mismatches(a.data.data(), readings.data());
    std::vector<uint8_t>().swap(readings);
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        for (int k = 0; k < NUM_BX; k++) {
            const uint64_t bits = gather_bit(&wrong[64 * w], k);
            check.wrong[k * INDEX_WORDS + w] = bits;
            count[k] += popcount64(bits);
        }
    return count;
}
