#include "terms.h"

#include "sweep.h"

#include <algorithm>

#include "wordops.h"

term_table new_term_table()
{
    return term_table{index_bits(2 * INDEX_WORDS)};
}

bool takes_terms(const dump_analysis &a, int k, term_rule rule)
{
    const uint32_t f = a.mc[k].flags;
    if (rule == RULE_OUTPUT)
        return (f & MC_OUTPUT) && !(f & (MC_FIXED_LO | MC_FIXED_HI));
    return (f & MC_HIZ) && !(f & MC_INPUT);
}

// Word w of the conditions of pin Bk at levels 0 and 1 under the rule: the
// output rule takes the conditions where the pin is driven, at their level;
// the enable rule every condition, at its float level.
static void at_levels(const dump_analysis &a, int k, term_rule rule, uint32_t w, uint64_t &at0, uint64_t &at1)
{
    const uint64_t floats = hiz_bits(a, k, w);
    if (rule == RULE_ENABLE) {
        at0 = ~floats;
        at1 = floats;
    } else {
        const uint64_t level = a.data_bits[k][w];
        at0 = ~level & ~floats;
        at1 = level & ~floats;
    }
}

static uint64_t at_level(const dump_analysis &a, int k, term_rule rule, int v, uint32_t w)
{
    uint64_t at0, at1;
    at_levels(a, k, rule, w, at0, at1);
    return v ? at1 : at0;
}

// Marks in half v the term indices (i & mask) of the conditions i of pin Bk
// at level v, all 64 conditions of a word at once: the set of conditions
// as a bit map, projected onto the mask.
term_counts count_terms(const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask)
{
    uint64_t *const half0 = table.marks.data(), *const half1 = half0 + INDEX_WORDS;
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        at_levels(a, k, rule, w, half0[w], half1[w]);
    term_counts c{};
    c.n[0] = project_bits(half0, mask);
    c.n[1] = project_bits(half1, mask);
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

long next_term(const term_table &table, int level, long from)
{
    if (from < 0)
        from = 0;
    if (from >= static_cast<long>(DUMP_SIZE))
        return -1;
    const uint64_t *const m = table.marks.data() + level * INDEX_WORDS;
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
    return check;
}

static void record(equation_check &check, int k, term_rule rule, const printed_equation &e)
{
    (rule == RULE_OUTPUT ? check.output : check.enable)[k] = e;
    check.reads[k] |= e.mask;
}

// Adds the conditions of word w in bits to where Bk disagrees.
static void add_wrong(equation_check &check, int k, uint32_t w, uint64_t bits)
{
    if (!bits)
        return;
    check.inexact = true;
    if (check.by_model)
        return;
    if (check.wrong.empty())
        check.wrong.assign(NUM_BX * INDEX_WORDS, 0);
    check.wrong[k * INDEX_WORDS + w] |= bits;
}

// As a function of the dump index, the equation says its level where its
// terms are, the other level elsewhere. Every condition at the listed level
// has its term index among the terms; a condition at the other level is
// wrong where its term index is there too, that is, marked at both levels.
void check_terms(const dump_analysis &a, equation_check &check, term_table &table, int k, term_rule rule,
                 uint32_t mask, int level)
{
    printed_equation e;
    e.printed = true;
    e.mask = mask;
    e.level = level;
    record(check, k, rule, e);
    const uint64_t *const listed = table.marks.data() + level * INDEX_WORDS;
    uint64_t *const both = table.marks.data() + (1 - level) * INDEX_WORDS;
    uint64_t any = 0;
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        both[w] &= listed[w];
        any |= both[w];
    }
    if (!any)
        return;
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        add_wrong(check, k, w, projected_word(both, w, mask) & at_level(a, k, rule, 1 - level, w));
}

// 'b'c says level c of an output everywhere; of an enable, that the pin
// drives everywhere (c = 1, float level 0) or nowhere.
void check_constant(const dump_analysis &a, equation_check &check, int k, term_rule rule, int constant)
{
    printed_equation e;
    e.printed = true;
    e.constant = constant;
    record(check, k, rule, e);
    const int says = rule == RULE_OUTPUT ? constant : 1 - constant;
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        add_wrong(check, k, w, at_level(a, k, rule, 1 - says, w));
}

// The truth tables of the printed equations over the points p (as logic.h
// numbers them): bit k of level[p] and of enable[p] is the value at p of
// the level and enable equations of Bk. Without an enable equation the pin
// drives everywhere (enable bit 1), without an output it never drives.
static void model_tables(const dump_analysis &a, const equation_check &check, std::vector<uint8_t> &level,
                         std::vector<uint8_t> &enable)
{
    uint32_t drives = 0;
    for (int k = 0; k < NUM_BX; k++)
        if (a.mc[k].flags & MC_OUTPUT)
            drives |= 1u << k;
    level.assign(DUMP_SIZE, 0);
    enable.assign(DUMP_SIZE, static_cast<uint8_t>(drives));
    term_table table = new_term_table();
    static const uint64_t no_term[1] = {};
    for (int k = 0; k < NUM_BX; k++) {
        for (term_rule rule : {RULE_OUTPUT, RULE_ENABLE}) {
            const printed_equation &e = (rule == RULE_OUTPUT ? check.output : check.enable)[k];
            if (!e.printed)
                continue;
            const uint64_t *marks = no_term;
            bool bang = e.constant == 1;
            if (e.constant < 0) {
                count_terms(a, table, k, rule, e.mask);
                marks = table.marks.data() + e.level * INDEX_WORDS;
                bang = equation_bang(rule, e.level);
            }
            const uint64_t flip = bang ? ~uint64_t(0) : 0;
            uint8_t *const t = (rule == RULE_OUTPUT ? level : enable).data();
            for (uint32_t w = 0; w < INDEX_WORDS; w++)
                place_bit(t + 64 * w, k, projected_word(marks, w, e.mask) ^ flip);
        }
    }
}

// Whether the chip the equations describe reads as the dump, shown without
// sweeping it, for equations that all hold as functions of the dump index.
// Without a loop among the pins (by the signals the equations read) the
// chip holds no state: at index i it reads the levels that satisfy its
// equations there, one set of them, so the dump's readings at i are the
// chip's when they satisfy the equations. The equations read the levels of
// some pins; at the dump's levels at i they give what they give, as
// functions of the dump index, at the index j that is i with the weak
// drives of those pins set to the levels read at i. There they hold, so in
// the chip at i a pin driven at j in the dump drives the level it reads at
// j, and a pin floating at j floats. The dump's levels at i satisfy the
// equations when
//   the readings at j are those at i (then every driven pin reads at i the
//   level its equation gives), and
//   every pin floating at j reads its weak level at i.
// The first holds when, for every pin the equations read, the readings do
// not change across its weak drive wherever it is driven (as in a chip,
// where a driven pin's weak drive goes nowhere): from i to j the weak
// drives of the pins that read other than their weak levels change one
// after the other, each of them driven, the readings staying the same.
// The second holds wherever the pin itself reads its weak level at i, and
// wherever its enable reads no pin whose level at i is other than its weak
// one (the enable then gives at j what it gives at i, where, the pin
// reading another level, it drives). The check gives up where either
// fails.
static bool model_reproduces_dump(const dump_analysis &a, const equation_check &check)
{
    uint32_t outputs = 0, read_pins = 0;
    std::array<unsigned, NUM_BX> reads{}, order{};
    for (int k = 0; k < NUM_BX; k++) {
        if (a.mc[k].flags & MC_OUTPUT)
            outputs |= 1u << k;
        reads[k] = (check.reads[k] >> BX_SIGNAL0) & 0xFF;
        read_pins |= reads[k];
    }
    unsigned placed_count = 0;
    if (!logic_settle_order(reads, outputs, order, placed_count))
        return false;

    // Across the weak drive of a pin read (bit 4 + r of the word number),
    // over the words with that bit clear: where the pin is driven, no pin
    // reads another level.
    for (int r = 0; r < NUM_BX; r++) {
        if (!((read_pins >> r) & 1))
            continue;
        const uint32_t own = bx_bit(r) / 64;
        uint64_t differ = 0;
        for (uint32_t w = 0; w < INDEX_WORDS; w = ((w | own) + 1) & ~own) {
            uint64_t changes = 0;
            for (int k = 0; k < NUM_BX; k++)
                changes |= a.data_bits[k][w] ^ a.data_bits[k][w | own];
            differ |= changes & ~hiz_bits(a, r, w);
        }
        if (differ)
            return false;
    }

    // Word w of where Bk reads other than its weak level.
    auto off_weak = [&a](int k, uint32_t w) {
        const uint64_t weak = ((w >> (4 + k)) & 1) ? ~uint64_t(0) : 0;
        return a.data_bits[k][w] ^ weak;
    };
    for (int k = 0; k < NUM_BX; k++) {
        const uint32_t enable_reads = (check.enable[k].mask >> BX_SIGNAL0) & 0xFF;
        if (!enable_reads)
            continue;
        for (uint32_t w = 0; w < INDEX_WORDS; w++) {
            uint64_t others = 0;
            for (int j = 0; j < NUM_BX; j++)
                if ((enable_reads >> j) & 1)
                    others |= off_weak(j, w);
            if (off_weak(k, w) & others)
                return false;
        }
    }
    return true;
}

// The readings of the chip the equations describe, where they differ from
// the dump's (empty where they differ nowhere). Without a loop the chip
// holds no state: at index i its levels are those settled pin by pin, each
// after the pins it reads, and where the dump's own levels at i are what
// the equations give at them, they are those levels. Elsewhere they are
// settled so; with a loop the chip is swept.
static std::vector<uint8_t> model_readings(const dump_analysis &a, const equation_check &check)
{
    std::vector<uint8_t> level_table, enable_table;
    model_tables(a, check, level_table, enable_table);
    uint32_t outputs = 0;
    for (int k = 0; k < NUM_BX; k++)
        if (a.mc[k].flags & MC_OUTPUT)
            outputs |= 1u << k;
    std::array<unsigned, NUM_BX> reads{}, order{};
    for (int k = 0; k < NUM_BX; k++)
        reads[k] = (check.reads[k] >> BX_SIGNAL0) & 0xFF;
    unsigned placed_count = 0;
    const uint8_t *const level = level_table.data(), *const enable = enable_table.data();
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
    std::vector<uint8_t>().swap(level_table);
    std::vector<uint8_t>().swap(enable_table);
    return sweep_chip(sim_make_logic_chip(std::move(design), "Warning: the printed equations"));
}

std::array<uint32_t, NUM_BX> count_wrong(const dump_analysis &a, equation_check &check)
{
    std::array<uint32_t, NUM_BX> count{};
    if (!check.by_model) {
        if (!check.wrong.empty())
            for (int k = 0; k < NUM_BX; k++)
                for (uint32_t w = 0; w < INDEX_WORDS; w++)
                    count[k] += popcount64(check.wrong[k * INDEX_WORDS + w]);
        return count;
    }
    if (!check.inexact && model_reproduces_dump(a, check))
        return count;
    std::vector<uint8_t> readings = model_readings(a, check);
    if (readings.empty())
        return count;
    const std::vector<uint8_t> wrong = reading_mismatches(a.data.data(), readings.data());
    std::vector<uint8_t>().swap(readings);
    for (uint32_t w = 0; w < INDEX_WORDS; w++)
        for (int k = 0; k < NUM_BX; k++)
            count[k] += popcount64(gather_bit(&wrong[64 * w], k));
    return count;
}
