#include "usb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

std::array<ft_device_t, ft_max_devices> ft_device{};

static const char *const status_text[] = {
    "O.K.",
    "Invalid handle",
    "Device not found",
    "Device not opened",
    "I/O error",
    "Insufficient resouces",
    "Invalid parameter",
    "Invalid baud rate",
    "Device not open for erase",
    "Device not open for write",
    "Failed to write device",
    "EEPROM read failed",
    "EEPROM write failed",
    "EEPROM erase failed",
    "EEPROM not present",
    "EEPROM not programmed",
    "Invalid args",
    "Not supported",
    "Other error",
};

const char *ft_getstatus(FT_STATUS status)
{
    if (status < sizeof status_text / sizeof status_text[0])
        return status_text[status];
    return "Unknown status condition";
}

void ft_checkerr(FT_STATUS status, const char *msg)
{
    if (status == FT_OK)
        return;
    std::printf("Error:  %s\n", msg);
    std::printf("Status: %s\n", ft_getstatus(status));
    // A failed library call must not look like success to a calling script.
    std::exit(2);
}

int ft_scan_devices(const char *pattern)
{
    DWORD count = 0;
    ft_checkerr(FT_CreateDeviceInfoList(&count), "Error: Can't create device info list.");
    if (count == 0)
        return 0;

    std::unique_ptr<FT_DEVICE_LIST_INFO_NODE[]> nodes(new (std::nothrow) FT_DEVICE_LIST_INFO_NODE[count]);
    if (!nodes) {
        std::printf("Error: Couldn't allocate %llX bytes for device list.\n",
                    static_cast<unsigned long long>(count) * sizeof(FT_DEVICE_LIST_INFO_NODE));
        return 0;
    }
    std::memset(nodes.get(), 0, count * sizeof(FT_DEVICE_LIST_INFO_NODE));
    DWORD listed = count;
    ft_checkerr(FT_GetDeviceInfoList(nodes.get(), &listed), "Error: Can't retrieve device info list.");
    // A module plugged in between the two calls can make the second report
    // more nodes than the array holds: never walk past it.
    if (listed < count)
        count = listed;

    int found = 0;
    for (DWORD i = 0; i < count && found < ft_max_devices; i++) {
        FT_DEVICE_LIST_INFO_NODE &node = nodes[i];
        node.Description[sizeof node.Description - 1] = '\0';
        node.SerialNumber[sizeof node.SerialNumber - 1] = '\0';
        if (std::strstr(node.Description, pattern)) {
            ft_device[found] = ft_device_t{};
            ft_device[found].info = node;
            found++;
        }
    }
    return found;
}

int ft_open_device(int dev)
{
    ft_device_t &d = ft_device[dev];
    if (d.is_open) {
        std::printf("Error: Device already opened.\n");
        return 0;
    }
    d.status = FT_OpenEx(d.info.SerialNumber, FT_OPEN_BY_SERIAL_NUMBER, &d.handle);
    ft_checkerr(d.status, "Can't open device.");
    d.status = FT_ResetDevice(d.handle);
    ft_checkerr(d.status, "Error resetting device.");
    d.status = FT_Purge(d.handle, FT_PURGE_RX | FT_PURGE_TX);
    ft_checkerr(d.status, "Error purging device.");
    ft_queue_status(dev);
    d.status = FT_SetLatencyTimer(d.handle, 16);
    ft_checkerr(d.status, "Can't set latency timer.");
    d.status = FT_SetBitMode(d.handle, 0x00, 0x08);
    ft_checkerr(d.status, "Can't set MPSSE Host Bus Emulation' bit mode.");
    d.is_open = 1;
    return 1;
}

int ft_close_device(int dev)
{
    ft_device_t &d = ft_device[dev];
    if (!d.is_open) {
        std::printf("Error: Device was already closed.\n");
        return 0;
    }
    d.status = FT_Purge(d.handle, FT_PURGE_RX | FT_PURGE_TX);
    ft_checkerr(d.status, "Error purging device.");
    d.status = FT_Close(d.handle);
    ft_checkerr(d.status, "Error closing device.");
    d.is_open = 0;
    return 1;
}

void ft_watch_progress(ft_progress_t &watch, uint32_t moved, const char *msg)
{
    auto now = std::chrono::steady_clock::now();
    if (moved != 0 || watch.last.time_since_epoch().count() == 0) {
        watch.last = now;
        return;
    }
    if (now - watch.last < std::chrono::milliseconds(ft_stall_ms)) {
        ft_yield();
        return;
    }
    std::printf("Error:  %s\n", msg);
    std::printf("Status: No data moved for %d seconds.\n", ft_stall_ms / 1000);
    std::exit(2);
}

void ft_yield()
{
#ifdef _WIN32
    Sleep(0);
#else
    std::this_thread::yield();
#endif
}

// Moves size bytes in pieces of 61440 and one remainder, each piece one
// call, and as many more as the library needs when it moves fewer bytes
// than asked: the transfer returns only when every byte has moved.
static void transfer(int dev, uint8_t *buf, int size, bool write)
{
    ft_device_t &d = ft_device[dev];
    for (int pos = 0; pos < size;) {
        int piece = size - pos >= ft_block_size ? ft_block_size : size - pos;
        const char *msg = piece == ft_block_size
                              ? (write ? "Error writing data (block)" : "Error reading data (block)")
                              : (write ? "Error writing data (remainder)" : "Error reading data (remainder)");
        ft_progress_t watch;
        for (int left = piece; left > 0;) {
            DWORD done = 0;
            if (write)
                d.status = FT_Write(d.handle, buf + pos, static_cast<DWORD>(left), &done);
            else
                d.status = FT_Read(d.handle, buf + pos, static_cast<DWORD>(left), &done);
            ft_checkerr(d.status, msg);
            if (done > static_cast<DWORD>(left))
                done = static_cast<DWORD>(left);
            pos += static_cast<int>(done);
            left -= static_cast<int>(done);
            ft_watch_progress(watch, done, msg);
        }
    }
}

int ft_send_data(int dev, const uint8_t *buf, int size)
{
    transfer(dev, const_cast<uint8_t *>(buf), size, true);
    return 1;
}

int ft_get_data(int dev, uint8_t *buf, int size)
{
    transfer(dev, buf, size, false);
    return 1;
}

uint32_t ft_queue_status(int dev)
{
    ft_device_t &d = ft_device[dev];
    DWORD count = 0;
    d.status = FT_GetQueueStatus(d.handle, &count);
    ft_checkerr(d.status, "Can't get queue status.");
    return count;
}
