// The adapter operations and builders that both board variants share; the
// wiring comes from the variant's board file.
#include "intf.h"

#include "intf_board.h"
#include "mcu.h"
#include "usb.h"

#include <cstdio>

intf_state_t intf_state{};

int intf_write_cmd(uint8_t *buf, unsigned addr, uint8_t data)
{
    buf[mcu_addr_cmd(buf, mcu_write_ext, addr)] = data;
    return 4;
}

int set_rx(uint8_t *buf, int rx)
{
    intf_state.rx = static_cast<uint8_t>(rx);
    return intf_write_cmd(buf, 0x0000, intf_state.rx);
}

int set_ixl(uint8_t *buf, uint16_t ix)
{
    intf_state.ixl = board_low_latch(ix);
    return intf_write_cmd(buf, 0x0100, intf_state.ixl);
}

int set_ixh(uint8_t *buf, uint16_t ix)
{
    intf_state.ixh = board_high_latch(ix);
    return intf_write_cmd(buf, 0x0200, intf_state.ixh);
}

int set_ix(uint8_t *buf, uint16_t ix)
{
    int n = set_ixh(buf, ix);
    return n + set_ixl(buf + n, ix);
}

int read_bx(uint8_t *buf)
{
    return mcu_addr_cmd(buf, mcu_read_ext, board_pin_buffer);
}

int read_bx_flush(uint8_t *buf)
{
    int n = read_bx(buf);
    return n + mcu_flush(buf + n);
}

int acquire_device()
{
    if (ft_scan_devices(intf_module_pattern) == 0) {
        std::printf("Error: No devices attached.\n");
        return -1;
    }
    std::printf("Using device #%d: `%s' (%s).\n", 0, ft_device[0].info.Description, ft_device[0].info.SerialNumber);
    return 0;
}

int intf_open()
{
    int dev = acquire_device();
    if (dev == -1)
        return 0;
    ft_open_device(dev);
    return dev;
}

int intf_close(int dev)
{
    intf_reset(dev);
    return ft_close_device(dev);
}
