// Helpers for the in-process analysis tests: the two example chips, loading
// a dump image straight into the analysis, and catching printed text.
#ifndef ANALYSIS_KIT_H
#define ANALYSIS_KIT_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "analyze.h"
#include "testkit.h"

inline unsigned bit(unsigned v, int n) { return (v >> n) & 1u; }

// The CUPL writer's worked example.
inline void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = out = 0;
    oe |= 1u << 7, out |= (bit(ix, 0) & bit(ix, 1)) << 7;
    if (bit(ix, 2))
        oe |= 1u << 6, out |= (bit(ix, 3) ^ 1u) << 6;
    oe |= 1u << 4;
    oe |= 1u << 3, out |= (bit(ix, 4) ^ bit(rx, 5)) << 3;
    if (!bit(ix, 5))
        oe |= 1u << 2, out |= 1u << 2;
    if (!bit(ix, 9))
        oe |= 1u << 0, out |= bit(ix, 6) << 0;
}

// The summary comment's example.
inline void pal_chip(unsigned ix, unsigned, unsigned &oe, unsigned &out)
{
    out = 0;
    out |= (bit(ix, 0) & bit(ix, 1)) << 0;
    out |= (bit(ix, 2) | bit(ix, 3)) << 1;
    out |= (bit(ix, 4) ^ 1u) << 2;
    out |= (bit(ix, 5) ^ bit(ix, 6)) << 3;
    out |= bit(ix, 7) << 4;
    out |= (bit(ix, 8) & bit(ix, 0)) << 5;
    out |= ((bit(ix, 1) ^ 1u) & (bit(ix, 2) ^ 1u)) << 6;
    out |= (bit(ix, 3) | bit(ix, 8)) << 7;
    oe = bit(ix, 9) ? 0x0Fu : 0xFFu;
}

// Puts a dump image into the analysis and runs classification and masks.
inline void analyse_image(const std::vector<uint8_t> &dump)
{
    std::copy(dump.begin(), dump.end(), data.begin());
    clear_analysis();
    classify_pins();
    compute_masks();
}

inline void analyse_chip(const chip_fn &chip)
{
    analyse_image(make_dump(chip));
}

// What fn prints on the stream it is given.
inline std::string printed(const std::function<void(FILE *)> &fn)
{
    FILE *f = std::tmpfile();
    fn(f);
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

#endif
