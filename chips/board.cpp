#include "board.h"

// Latch slot behind a write address, or -1 when nothing listens there.
static int latch_slot(sim_board_variant variant, unsigned addr)
{
    switch (addr) {
    case 0x0000: return 0;
    case 0x0100: return 1;
    case 0x0200: return 2;
    case 0x0300: return variant == sim_board_variant::b ? 3 : -1;
    case 0x0400: return variant == sim_board_variant::b ? 4 : -1;
    default: return -1;
    }
}

static unsigned pin_buffer_addr(sim_board_variant variant)
{
    return variant == sim_board_variant::a ? 0x0000 : 0x0500;
}

static unsigned reverse8(unsigned v)
{
    unsigned r = 0;
    for (unsigned k = 0; k < 8; k++)
        r |= ((v >> k) & 1u) << (7 - k);
    return r;
}

unsigned sim_board_inputs(const sim_board &board)
{
    unsigned low = board.latch[1], high = board.latch[2];
    if (board.variant == sim_board_variant::a)
        return low | (high & 1u) << 8 | ((high >> 1) & 1u) << 9;
    return reverse8(low) | ((high >> 1) & 1u) << 8 | (high & 1u) << 9;
}

void sim_board_write(sim_board &board, unsigned addr, unsigned data)
{
    int slot = latch_slot(board.variant, addr);
    if (slot < 0)
        return;
    board.latch[static_cast<size_t>(slot)] = static_cast<uint8_t>(data);
    if (board.chip)
        board.chip->drive(sim_board_inputs(board), board.latch[0]);
}

unsigned sim_board_read(sim_board &board, unsigned addr)
{
    if (addr != pin_buffer_addr(board.variant))
        return sim_bus_float;
    // An empty socket leaves every pin at its weak level.
    return board.chip ? board.chip->read() & 0xFFu : board.latch[0];
}
