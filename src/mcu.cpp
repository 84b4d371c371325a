#include "mcu.h"

#include "usb.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

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
// line saying why there is none. Sizes are 64-bit so that no count can
// overflow them.
static std::unique_ptr<uint8_t[]> command_list(int count, int64_t width)
{
    if (count < 0) {
        std::printf("Error: Invalid transfer size (%d bytes).\n", count);
        return nullptr;
    }
    int64_t n = width * count;
    std::unique_ptr<uint8_t[]> list(new (std::nothrow) uint8_t[n > 0 ? static_cast<size_t>(n) : 1]);
    if (!list)
        std::printf("Error: Couldn't allocate %llX bytes for command list.\n", static_cast<unsigned long long>(n));
    return list;
}

void mcu_send(int dev, int start, const uint8_t *src, int count)
{
    std::unique_ptr<uint8_t[]> list = command_list(count, 4);
    if (!list)
        return;
    for (int i = 0; i < count; i++) {
        uint8_t *cmd = &list[4 * static_cast<size_t>(i)];
        cmd[mcu_addr_cmd(cmd, mcu_write_ext, static_cast<unsigned>(start + i) & 0xFFFF)] = src[i];
    }
    // In pieces that fit the transfer size.
    const uint8_t *cmd = list.get();
    for (int64_t left = 4 * static_cast<int64_t>(count); left > 0;) {
        int piece = left < INT32_MAX ? static_cast<int>(left) : INT32_MAX - 3;
        ft_send_data(dev, cmd, piece);
        cmd += piece;
        left -= piece;
    }
}

// Writes count bytes of cmd, all of them however few the library takes a call.
static void write_all(ft_device_t &d, const uint8_t *cmd, DWORD count, const char *msg)
{
    ft_progress_t watch;
    while (count > 0) {
        DWORD written = 0;
        d.status = FT_Write(d.handle, const_cast<uint8_t *>(cmd), count, &written);
        ft_checkerr(d.status, msg);
        if (written > count)
            written = count;
        cmd += written;
        count -= written;
        ft_watch_progress(watch, written, msg);
    }
}

// Reads at most want bytes into out; returns how many came.
static DWORD read_some(ft_device_t &d, uint8_t *out, DWORD want)
{
    DWORD got = 0;
    d.status = FT_Read(d.handle, out, want, &got);
    ft_checkerr(d.status, "mcu_get: Error reading result data.");
    return got < want ? got : want;
}

void mcu_get(int dev, int start, uint8_t *dest, int count)
{
    std::unique_ptr<uint8_t[]> list = command_list(count, 3);
    if (!list)
        return;
    for (int i = 0; i < count; i++)
        mcu_addr_cmd(&list[3 * static_cast<size_t>(i)], mcu_read_ext, static_cast<unsigned>(start + i) & 0xFFFF);

    ft_device_t &d = ft_device[dev];
    const uint8_t flush = mcu_send_now;
    const uint8_t *cmd = list.get();
    uint8_t *out = dest;
    int64_t pending = 3 * static_cast<int64_t>(count);
    int64_t missing = count;
    do {
        DWORD chunk = static_cast<DWORD>(pending < mcu_pass_bytes ? pending : mcu_pass_bytes);
        write_all(d, cmd, chunk, "mcu_get: Error writing command data.");
        cmd += chunk;
        pending -= chunk;
        write_all(d, &flush, 1, "mcu_get: Error writing flush command.");
        // Wait for this pass' replies, but read no more than is missing.
        DWORD expect = chunk / 3;
        ft_progress_t watch;
        for (uint32_t seen = 0, queued; (queued = ft_queue_status(dev)) < expect; seen = queued)
            ft_watch_progress(watch, queued != seen, "mcu_get: Error reading result data.");
        DWORD got = read_some(d, out, expect);
        out += got;
        missing -= got;
    } while (pending != 0);
    // Results that short reads left behind. Read no more than is still
    // missing: extra bytes stay queued rather than overrun the destination.
    ft_progress_t watch;
    while (missing > 0) {
        write_all(d, &flush, 1, "mcu_get: Error writing flush command.");
        uint32_t queued = ft_queue_status(dev);
        DWORD got = 0;
        if (queued != 0) {
            got = read_some(d, out, static_cast<DWORD>(queued < missing ? queued : missing));
            out += got;
            missing -= got;
        }
        ft_watch_progress(watch, got, "mcu_get: Error reading result data.");
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
