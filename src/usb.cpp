#include "usb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

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
        std::printf("Error: Couldn't allocate %lX bytes for device list.\n",
                    static_cast<unsigned long>(count * sizeof(FT_DEVICE_LIST_INFO_NODE)));
        return 0;
    }
    std::memset(nodes.get(), 0, count * sizeof(FT_DEVICE_LIST_INFO_NODE));
    ft_checkerr(FT_GetDeviceInfoList(nodes.get(), &count), "Error: Can't retrieve device info list.");

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

// Moves size bytes in pieces of 61440 and one remainder, each piece one call.
static void transfer(int dev, uint8_t *buf, int size, bool write)
{
    ft_device_t &d = ft_device[dev];
    for (int pos = 0; pos < size;) {
        int piece = size - pos >= ft_block_size ? ft_block_size : size - pos;
        DWORD done = 0;
        if (write)
            d.status = FT_Write(d.handle, buf + pos, static_cast<DWORD>(piece), &done);
        else
            d.status = FT_Read(d.handle, buf + pos, static_cast<DWORD>(piece), &done);
        if (piece == ft_block_size)
            ft_checkerr(d.status, write ? "Error writing data (block)" : "Error reading data (block)");
        else
            ft_checkerr(d.status, write ? "Error writing data (remainder)" : "Error reading data (remainder)");
        pos += piece;
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
