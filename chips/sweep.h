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

#endif
