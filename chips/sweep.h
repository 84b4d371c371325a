// A chip model driven as `gatesweep dump' drives a chip: the adapter
// board's latches reset, then for every weak drive level every input value,
// written in the order and on the latches of board A, one reading each.
#ifndef CHIPS_SWEEP_H
#define CHIPS_SWEEP_H

#include <cstdint>
#include <memory>
#include <vector>

#include "chip.h"

// The 262144 readings of the chip, indexed as a dump (rx * 1024 + ix).
std::vector<uint8_t> sweep_chip(std::unique_ptr<sim_chip> chip);

// The float map of 262144 readings: bit k of floats[i] is set where pin Bk
// floats at index i, that is where it reads 0 with its own weak drive low
// and 1 with it high (both indices of that pair).
void float_map(const uint8_t *readings, uint8_t *floats);

// Where a model's readings disagree with a dump's: bit k at index i is set
// where pin Bk is driven in one and floats in the other, or is driven in
// both and reads another level. In either, a pin is driven at index i
// unless it reads 0 with its own weak drive low and 1 with it high.
// Both hold 262144 readings.
std::vector<uint8_t> reading_mismatches(const uint8_t *dump, const uint8_t *model);

#endif
