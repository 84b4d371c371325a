#include "sweep.h"

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
    for (uint32_t rx = 0; rx < DUMP_SIZE / IX_COUNT; rx++) {
        sim_board_write(board, 0x0000, rx);
        for (uint32_t ix = 0; ix < IX_COUNT; ix++) {
            sim_board_write(board, 0x0200, ((ix >> 8) & 1) | ((ix >> 9) & 1) << 1);
            sim_board_write(board, 0x0100, ix & 0xFF);
            readings[dump_index(rx, ix)] = static_cast<uint8_t>(sim_board_read(board, 0x0000));
        }
    }
    return readings;
}

