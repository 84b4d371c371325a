#include "sweep.h"

#include <cstring>

#include "board.h"
#include "signals.h"

std::vector<uint8_t> sweep_chip(std::unique_ptr<sim_chip> chip)
{
    sim_board board;
    board.variant = sim_board_variant::a;
    board.chip = std::move(chip);
    // Board A: I0..I7 on the low input latch, I8 and I9 on the high one,
    // which the sweep writes first. The sweep starts from reset latches.
    sim_board_write(board, 0x0000, 0);
    sim_board_write(board, 0x0200, 0);
    sim_board_write(board, 0x0100, 0);
    std::vector<uint8_t> readings(DUMP_SIZE, 0);
    for (uint32_t rx = 0; rx < RX_COUNT; rx++) {
        sim_board_write(board, 0x0000, rx);
        for (uint32_t ix = 0; ix < IX_COUNT; ix++) {
            sim_board_write(board, 0x0200, ((ix >> 8) & 1) | ((ix >> 9) & 1) << 1);
            sim_board_write(board, 0x0100, ix & 0xFF);
            readings[dump_index(rx, ix)] = static_cast<uint8_t>(sim_board_read(board, 0x0000));
        }
    }
    return readings;
}


void float_map(const uint8_t *readings, uint8_t *floats)
{
    auto load = [](const uint8_t *p) {
        uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    std::memset(floats, 0, DUMP_SIZE);
    // Eight indices a word; both indices of a pair get the pin's bit.
    for (int k = 0; k < NUM_BX; k++) {
        const uint32_t own = 1u << (BX_SIGNAL0 + k);
        const uint64_t lanes = 0x0101010101010101ull << k;
        for (uint32_t base = 0; base < DUMP_SIZE; base += 2 * own) {
            for (uint32_t i = base; i < base + own; i += 8) {
                const uint64_t f = ~load(readings + i) & load(readings + i + own) & lanes;
                uint64_t lo = load(floats + i) | f, hi = load(floats + i + own) | f;
                std::memcpy(floats + i, &lo, sizeof lo);
                std::memcpy(floats + i + own, &hi, sizeof hi);
            }
        }
    }
}

std::vector<uint8_t> reading_mismatches(const uint8_t *dump, const uint8_t *model)
{
    std::vector<uint8_t> dump_floats(DUMP_SIZE), model_floats(DUMP_SIZE);
    float_map(dump, dump_floats.data());
    float_map(model, model_floats.data());
    std::vector<uint8_t> wrong(DUMP_SIZE);
    for (uint32_t i = 0; i < DUMP_SIZE; i++)
        wrong[i] = static_cast<uint8_t>((dump_floats[i] ^ model_floats[i]) |
                                        ((dump[i] ^ model[i]) & ~(dump_floats[i] | model_floats[i])));
    return wrong;
}
