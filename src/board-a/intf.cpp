// Adapter board A: inputs I0..I7 on the low input latch in order, I8 and I9
// on bits 0 and 1 of the high latch, pin buffer at 0x0000.
#include "intf.h"

#include "intf_board.h"
#include "usb.h"

const char intf_board[] = "A";
const unsigned board_pin_buffer = 0x0000;

uint8_t board_low_latch(uint16_t ix)
{
    return static_cast<uint8_t>(ix);
}

uint8_t board_high_latch(uint16_t ix)
{
    return static_cast<uint8_t>(((ix >> 8) & 1) | (((ix >> 9) & 1) << 1));
}

int intf_reset(int dev)
{
    intf_state = intf_state_t{};
    uint8_t buf[12];
    int n = set_rx(buf, 0);
    n += set_ix(buf + n, 0);
    ft_send_data(dev, buf, n);
    return 1;
}
