// Helpers for the in-process analysis tests: the analysis of a dump image
// or of a chip model's dump, without a file.
#ifndef ANALYSIS_KIT_H
#define ANALYSIS_KIT_H

#include <memory>
#include <string>
#include <vector>

#include "analyze.h"
#include "testkit.h"

inline unsigned bit(unsigned v, int n) { return (v >> n) & 1u; }

// The analysis of a dump image.
inline std::unique_ptr<const dump_analysis> analyse_image(const std::vector<uint8_t> &dump)
{
    return analyse_dump(dump);
}

inline std::unique_ptr<const dump_analysis> analyse_chip(const chip_fn &chip) { return analyse_image(make_dump(chip)); }

#endif
