#include "fit_table.h"

#include <algorithm>

bool fit_table_consistent(const std::vector<uint8_t> &table)
{
    return std::find(table.begin(), table.end(), seen0 | seen1) == table.end();
}

bool fit_table_drop(std::vector<uint8_t> &table, uint32_t &support, unsigned v)
{
    const unsigned j = popcount64(support & ((1u << v) - 1));
    const uint32_t low = (1u << j) - 1, half = static_cast<uint32_t>(table.size() / 2);
    std::vector<uint8_t> merged(half);
    for (uint32_t y = 0; y < half; y++) {
        const uint32_t y0 = (y & low) | ((y & ~low) << 1);
        const uint8_t u = static_cast<uint8_t>(table[y0] | table[y0 | (1u << j)]);
        if (u == (seen0 | seen1))
            return false;
        merged[y] = u;
    }
    table.swap(merged);
    support &= ~(1u << v);
    return true;
}

fit_cover fit_table_cover(const std::vector<uint8_t> &table, uint32_t support, int level, unsigned limit)
{
    const uint8_t on = level ? seen1 : seen0;
    std::vector<uint8_t> dense(table.size(), MIN_DC);
    for (size_t y = 0; y < table.size(); y++) {
        if (table[y])
            dense[y] = table[y] == on ? MIN_ON : MIN_OFF;
    }
    const min_result m = minimize(dense, popcount64(support), limit);
    fit_cover f;
    f.needed = static_cast<unsigned>(m.cover.size());
    f.bound = m.lower_bound;
    f.exact = m.minimal;
    for (const cube &c : m.cover) {
        const cube k{deposit_bits(c.care, support), deposit_bits(c.value, support)};
        f.uses |= k.care;
        f.terms.push_back(k);
    }
    return f;
}

fit_equation fit_cover_equation(const fit_cover &cover, int level)
{
    fit_equation eq;
    eq.present = true;
    eq.level = level;
    eq.exact = cover.exact;
    eq.terms = cover.terms;
    return eq;
}
