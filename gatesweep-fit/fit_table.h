// The fitter's function tables: for every point of the variables in a
// support (bit v of the mask: variable v; the table's index holds them
// lowest first), which levels the readings showed there. The dump's fit
// (over signal numbers) and the walk's (over walk keys) share them.
#ifndef FIT_TABLE_H
#define FIT_TABLE_H

#include <cstdint>
#include <vector>

#include "fit.h"
#include "minimize.h"
#include "wordops.h"

// Entries: seen0 and seen1 as the levels seen (an enable: seen1 driven,
// seen0 floating), 0 where nothing was seen (a don't-care).
constexpr uint8_t seen0 = 1, seen1 = 2;

// No point of the table shows both levels.
bool fit_table_consistent(const std::vector<uint8_t> &table);

// Merges the table over variable v of support, halving it, when no point
// then shows both levels (true; v leaves support); otherwise leaves both
// as they are (false).
bool fit_table_drop(std::vector<uint8_t> &table, uint32_t &support, unsigned v);

// The minimised cover of the points at one level (1: where seen1), the
// other level's points off and the rest don't-cares, its terms over the
// support's variables as numbered in the mask.
struct fit_cover {
    std::vector<cube> terms;
    unsigned needed = 0; // terms of the cover
    unsigned bound = 0;  // no cover over the same variables has fewer
    bool exact = false;  // needed is the fewest
    uint32_t uses = 0;   // the variables the terms read
};
fit_cover fit_table_cover(const std::vector<uint8_t> &table, uint32_t support, int level, unsigned limit);
// The cover as an equation giving level.
fit_equation fit_cover_equation(const fit_cover &cover, int level);

#endif
