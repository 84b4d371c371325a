// The adapter board on the host bus of interface A: the latches that drive
// the PAL's dedicated inputs and the weak levels of its bidirectional pins,
// and the pin buffer that reads B0..B7 back, in board variants A and B.
#ifndef SIM_BOARD_H
#define SIM_BOARD_H

#include "chip.h"

#include <array>
#include <cstdint>
#include <memory>

enum class sim_board_variant { a, b };

// Reads of an address that nothing answers.
constexpr unsigned sim_bus_float = 0xFF;

struct sim_board {
    sim_board_variant variant = sim_board_variant::a;
    // Latches at 0x0000 (weak drive), 0x0100 (inputs low), 0x0200 (inputs
    // high), 0x0300 and 0x0400 (variant B only, wired to nothing). All 0 at
    // power-up.
    std::array<uint8_t, 5> latch{};
    std::unique_ptr<sim_chip> chip;
};

// One bus write cycle: stores data in the latch at addr, if there is one,
// and shows the chip the new levels. Writes to other addresses are lost.
void sim_board_write(sim_board &board, unsigned addr, unsigned data);

// One bus read cycle: the pin buffer's byte at the variant's pin-buffer
// address, sim_bus_float anywhere else.
unsigned sim_board_read(sim_board &board, unsigned addr);

// The levels on I0..I9 (bit n = In) that the input latches apply now.
unsigned sim_board_inputs(const sim_board &board);

#endif
