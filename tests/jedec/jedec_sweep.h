// Reads a chip model out the way the sweep drives the adapter: after the
// reset (weak-drive latch, then input latches high and low, all 0), per
// block the weak-drive latch, then per step the high input latch (I8, I9),
// the low input latch (I0..I7) and a read.
#ifndef JEDEC_SWEEP_H
#define JEDEC_SWEEP_H

#include "chip.h"
#include "jedec_kit.h"

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> jk_sweep(sim_chip &chip)
{
    std::vector<uint8_t> dump(262144);
    unsigned ix = 0;
    chip.drive(0, 0);
    chip.drive(0, 0);
    chip.drive(0, 0);
    for (unsigned rx = 0; rx < 256; rx++) {
        chip.drive(ix, rx);
        for (unsigned next = 0; next < 1024; next++) {
            ix = (next & 0x300) | (ix & 0xFF);
            chip.drive(ix, rx);
            ix = next;
            chip.drive(ix, rx);
            dump[rx * 1024 + ix] = static_cast<uint8_t>(chip.read());
        }
    }
    return dump;
}

#endif
