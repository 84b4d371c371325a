#include "mcu.h"

#include "usb.h"

#include <cstdio>
#include <memory>
#include <new>
#include <thread>

// Gives up the rest of the time slice while polling the receive queue.
static void yield_slice()
{
#ifdef _WIN32
    Sleep(0);
#else
    std::this_thread::yield();
#endif
}

int mcu_flush(uint8_t *buf)
{
    buf[0] = mcu_send_now;
    return 1;
}

int mcu_peek(int dev, int addr)
{
    uint8_t cmd[4];
    mcu_flush(cmd + mcu_addr_cmd(cmd, mcu_read_ext, static_cast<unsigned>(addr)));
    uint8_t value = 0;
    ft_send_data(dev, cmd, sizeof cmd);
    ft_get_data(dev, &value, 1);
    return value;
}

int mcu_poke(int dev, int addr, uint8_t data)
{
    uint8_t cmd[4];
    cmd[mcu_addr_cmd(cmd, mcu_write_ext, static_cast<unsigned>(addr))] = data;
    ft_send_data(dev, cmd, sizeof cmd);
    return 1;
}

// A command list for count commands of width bytes each, or null after a
// line saying why there is none.
static std::unique_ptr<uint8_t[]> command_list(int count, long width)
{
    if (count < 0) {
        std::printf("Error: Invalid transfer size (%d bytes).\n", count);
        return nullptr;
    }
    long n = width * count;
    std::unique_ptr<uint8_t[]> list(new (std::nothrow) uint8_t[n > 0 ? n : 1]);
    if (!list)
        std::printf("Error: Couldn't allocate %lX bytes for command list.\n", static_cast<unsigned long>(n));
    return list;
}

void mcu_send(int dev, int start, const uint8_t *src, int count)
{
    std::unique_ptr<uint8_t[]> list = command_list(count, 4);
    if (!list)
        return;
    for (int i = 0; i < count; i++) {
        uint8_t *cmd = &list[4L * i];
        cmd[mcu_addr_cmd(cmd, mcu_write_ext, static_cast<unsigned>(start + i) & 0xFFFF)] = src[i];
    }
    ft_send_data(dev, list.get(), 4 * count);
}

void mcu_get(int dev, int start, uint8_t *dest, int count)
{
    std::unique_ptr<uint8_t[]> list = command_list(count, 3);
    if (!list)
        return;
    for (int i = 0; i < count; i++)
        mcu_addr_cmd(&list[3L * i], mcu_read_ext, static_cast<unsigned>(start + i) & 0xFFFF);

    ft_device_t &d = ft_device[dev];
    uint8_t flush = mcu_send_now;
    const uint8_t *cmd = list.get();
    uint8_t *out = dest;
    long pending = 3L * count;
    long missing = count;
    do {
        DWORD chunk = static_cast<DWORD>(pending < mcu_pass_bytes ? pending : mcu_pass_bytes);
        DWORD written = 0;
        d.status = FT_Write(d.handle, const_cast<uint8_t *>(cmd), chunk, &written);
        ft_checkerr(d.status, "mcu_get: Error writing command data.");
        cmd += written;
        pending -= static_cast<long>(written);

        DWORD flushed = 0;
        d.status = FT_Write(d.handle, &flush, 1, &flushed);
        ft_checkerr(d.status, "mcu_get: Error writing flush command.");

        DWORD expect = written / 3;
        while (ft_queue_status(dev) < expect)
            yield_slice();
        DWORD got = 0;
        d.status = FT_Read(d.handle, out, expect, &got);
        ft_checkerr(d.status, "mcu_get: Error reading result data.");
        out += got;
        missing -= static_cast<long>(got);
    } while (pending != 0);

    // Results that short reads left behind. Read no more than is still
    // missing: extra bytes stay queued rather than overrun the destination.
    while (missing > 0) {
        DWORD written = 0;
        d.status = FT_Write(d.handle, &flush, 1, &written);
        ft_checkerr(d.status, "mcu_get: Error writing flush command.");
        uint32_t queued = ft_queue_status(dev);
        if (queued == 0) {
            yield_slice();
            continue;
        }
        DWORD want = static_cast<DWORD>(queued < static_cast<uint32_t>(missing) ? queued : missing);
        DWORD got = 0;
        d.status = FT_Read(d.handle, out, want, &got);
        ft_checkerr(d.status, "mcu_get: Error reading result data.");
        out += got;
        missing -= static_cast<long>(got);
    }

    if (ft_queue_status(dev) != 0)
        std::printf("Error: queue not empty after mcu_get() complete.\n");
}

int mcu_get_gpioh(int dev)
{
    const uint8_t cmd = mcu_read_high;
    uint8_t value = 0;
    ft_send_data(dev, &cmd, 1);
    ft_get_data(dev, &value, 1);
    return value & 3;
}

int mcu_set_gpioh(int dev, int first, int second)
{
    const uint8_t cmd[3] = {mcu_set_high, static_cast<uint8_t>(second & 3), static_cast<uint8_t>(first & 3)};
    ft_send_data(dev, cmd, sizeof cmd);
    return 1;
}
