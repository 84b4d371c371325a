// Adapter board B: inputs I0..I7 on the low input latch in reverse order, I9
// and I8 on bits 0 and 1 of the high latch, two further latches at 0x0300
// and 0x0400, pin buffer at 0x0500.
#include "intf.h"

#include "intf_board.h"
#include "usb.h"

const char intf_board[] = "B";
const unsigned board_pin_buffer = 0x0500;

uint8_t board_low_latch(uint16_t ix)
{
    uint8_t b = 0;
    for (int k = 0; k < 8; k++)
        b = static_cast<uint8_t>(b | (((ix >> k) & 1) << (7 - k)));
    return b;
}

uint8_t board_high_latch(uint16_t ix)
{
    return static_cast<uint8_t>((((ix >> 8) & 1) << 1) | ((ix >> 9) & 1));
}

// Latch bits 7..0 of 0x0300 and 0x0400: which argument bit each one carries,
// as (argument << 3) | bit, argument 0 = first, 1 = second.
static const uint8_t bxa_wiring[8] = {0 << 3 | 7, 1 << 3 | 7, 0 << 3 | 2, 1 << 3 | 2,
                                      0 << 3 | 5, 1 << 3 | 5, 0 << 3 | 0, 1 << 3 | 0};
static const uint8_t bxb_wiring[8] = {0 << 3 | 6, 1 << 3 | 6, 0 << 3 | 3, 1 << 3 | 3,
                                      0 << 3 | 4, 1 << 3 | 4, 0 << 3 | 1, 1 << 3 | 1};

static uint8_t wire(const uint8_t wiring[8], uint8_t first, uint8_t second)
{
    uint8_t b = 0;
    for (int bit = 0; bit < 8; bit++) {
        uint8_t arg = (wiring[bit] >> 3) ? second : first;
        b = static_cast<uint8_t>(b | (((arg >> (wiring[bit] & 7)) & 1) << bit));
    }
    return b;
}

int set_bx(uint8_t *buf, uint8_t first, uint8_t second)
{
    intf_state.bxa = wire(bxa_wiring, first, second);
    intf_state.bxb = wire(bxb_wiring, first, second);
    int n = intf_write_cmd(buf, 0x0300, intf_state.bxa);
    return n + intf_write_cmd(buf + n, 0x0400, intf_state.bxb);
}

int intf_reset(int dev)
{
    intf_state = intf_state_t{};
    uint8_t buf[20];
    int n = set_rx(buf, 0);
    n += set_bx(buf + n, 0, 0);
    n += set_ix(buf + n, 0);
    ft_send_data(dev, buf, n);
    return 1;
}
