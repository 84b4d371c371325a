// USB device layer: finds FT2232 modules through the D2XX library, opens one
// in MCU Host Bus Emulation mode, moves byte streams to and from it in pieces
// of at most 61440 bytes, and closes it. Every library failure is fatal.
#ifndef USB_H
#define USB_H

#include <array>
#include <chrono>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif
#include "ftd2xx.h"

struct ft_device_t {
    int32_t is_open;               // 1 while open through ft_open_device
    FT_HANDLE handle;              // written by FT_OpenEx; kept after close
    FT_STATUS status;              // result of the latest library call for this entry
    FT_DEVICE_LIST_INFO_NODE info; // the device-list node found by the scan
};

constexpr int ft_max_devices = 16;
constexpr int ft_block_size = 61440;

// The modules found by the latest scan, indexed by device index.
extern std::array<ft_device_t, ft_max_devices> ft_device;

// Stores the attached interfaces whose description contains pattern in
// ft_device (at most 16) and returns how many were stored.
int ft_scan_devices(const char *pattern);
// 1 when opened and configured, 0 when the entry was already open.
int ft_open_device(int dev);
// 1 when closed, 0 when the entry was not open.
int ft_close_device(int dev);
// Block transfers; they return 1 when every byte has moved (failures end
// the process, also when no byte moves for ft_stall_ms).
int ft_send_data(int dev, const uint8_t *buf, int size);
int ft_get_data(int dev, uint8_t *buf, int size);
// Bytes waiting in the module's receive queue.
uint32_t ft_queue_status(int dev);
// A transfer that moves no byte for this long has lost the module.
constexpr int ft_stall_ms = 3000;

// Progress of one transfer: the time of the latest call that moved bytes.
struct ft_progress_t {
    std::chrono::steady_clock::time_point last{};
};
// Call after every library call of a transfer with the bytes it moved (the
// first call starts the clock). Yields when nothing moved, and ends the
// process like ft_checkerr, naming msg, when nothing has moved for
// ft_stall_ms.
void ft_watch_progress(ft_progress_t &watch, uint32_t moved, const char *msg);
// Gives up the rest of the time slice while waiting on the module.
void ft_yield();

// The library status in words.
const char *ft_getstatus(FT_STATUS status);
// Returns when status is FT_OK; otherwise prints msg and the status in words
// and ends the process with exit status 2.
void ft_checkerr(FT_STATUS status, const char *msg);

#endif
