// Helpers for the in-process analysis tests: the worked example chip and
// loading a dump image straight into the analysis.
#ifndef ANALYSIS_KIT_H
#define ANALYSIS_KIT_H

#include <string>
#include <vector>

#include "analyze.h"
#include "testkit.h"

inline unsigned bit(unsigned v, int n) { return (v >> n) & 1u; }

// B7 = I0 AND I1; B6 = NOT I3 while I2 is high; B5, B1 inputs; B4 low;
// B3 = I4 XOR B5; B2 high while I5 is low; B0 = I6 while I9 is low.
inline void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = 0x98u | bit(ix, 2) << 6 | (bit(ix, 5) ^ 1u) << 2 | (bit(ix, 9) ^ 1u);
    out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1u) << 6 | (bit(ix, 4) ^ bit(rx, 5)) << 3 | 1u << 2 |
          bit(ix, 6);
}

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
