#include "terms.h"

#include <algorithm>

#include "analyze.h"
#include "wordops.h"

term_table new_term_table()
{
    return term_table(TERM_TABLE_SIZE);
}

bool takes_terms(int k, term_rule rule)
{
    const uint32_t f = mc[k].flags;
    if (rule == RULE_OUTPUT)
        return (f & MC_OUTPUT) && !(f & (MC_FIXED_LO | MC_FIXED_HI));
    return (f & MC_HIZ) && !(f & MC_INPUT);
}

// Marks position (i & mask) of half v for every condition i that takes part
// under the rule at level v; with only_level >= 0, only that level is marked
// and it goes to half 0.
static void mark_terms(term_table &table, int k, term_rule rule, uint32_t mask, int only_level)
{
    uint8_t *t = table.data();
    const uint8_t *d = data.data(), *h = hiz_data.data();
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

term_counts count_terms(term_table &table, int k, term_rule rule, uint32_t mask)
{
    std::fill(table.begin(), table.end(), 0);
    mark_terms(table, k, rule, mask, -1);
    term_counts c;
    c.n[0] = count_marks(table.data());
    c.n[1] = count_marks(table.data() + DUMP_SIZE);
    return c;
}

int choose_level(const term_counts &c)
{
    return (c.n[0] >= 1 && c.n[0] < c.n[1]) ? 0 : 1;
}

void extract_terms(term_table &table, int k, term_rule rule)
{
    macrocell &m = mc[k];
    const uint32_t mask = rule == RULE_OUTPUT ? m.out_mask : m.oe_mask;
    term_counts c = count_terms(table, k, rule, mask);
    int level = choose_level(c);
    if (rule == RULE_OUTPUT) {
        m.out_pol = level;
        m.out_nterms = static_cast<int32_t>(c.n[level]);
    } else {
        m.oe_pol = level;
        m.oe_nterms = static_cast<int32_t>(c.n[level]);
    }
}

void extract_all(term_table &table, term_rule rule)
{
    for (int k = NUM_BX - 1; k >= 0; k--)
        if (takes_terms(k, rule))
            extract_terms(table, k, rule);
}

void enumerate_terms(term_table &table, int k, term_rule rule, uint32_t mask, int level)
{
    std::fill(table.begin(), table.begin() + DUMP_SIZE, 0);
    mark_terms(table, k, rule, mask, level);
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
