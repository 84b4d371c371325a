// Helpers for the in-process analysis tests: loading a dump image straight
// into the analysis.
#ifndef ANALYSIS_KIT_H
#define ANALYSIS_KIT_H

#include <string>
#include <vector>

#include "analyze.h"
#include "testkit.h"

inline unsigned bit(unsigned v, int n) { return (v >> n) & 1u; }

// Puts a dump image into the analysis and runs classification and masks.
inline void analyse_image(const std::vector<uint8_t> &dump)
{
    std::copy(dump.begin(), dump.end(), data.begin());
    clear_analysis();
    classify_pins();
    compute_masks();
}

inline void analyse_chip(const chip_fn &chip) { analyse_image(make_dump(chip)); }

#endif
