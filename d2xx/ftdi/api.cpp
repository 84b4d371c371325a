// The D2XX functions over libftdi1, for real FT2232 modules on Linux: the
// open USB stack (libftdi1 on libusb) detaches the kernel's serial driver by
// itself, so no manual unbinding is needed.
//
// The device list shows every FT2232 (0403:6010) as two entries, one per
// interface, like the vendor's library: description = USB product string +
// " A" / " B", serial = USB serial string + "A" / "B". A device whose strings
// cannot be read (no access) shows with empty strings and the "opened" flag.
//
// Data path: the FT2232 holds few reply bytes, and its command processor
// stops taking commands while they are not collected. So a write goes out as
// an asynchronous transfer while the library keeps reading the replies into
// its own receive buffer, which FT_GetQueueStatus reports and FT_Read
// empties first. FT_Read returns when all requested bytes are in; after
// stall_limit without any progress (also when the module is unplugged) a
// transfer fails with a status, so that the caller never waits for ever.
#include "ftd2xx.h"

#include <ftdi.h>
#include <libusb.h>
#include <sys/time.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using lib_clock = std::chrono::steady_clock;

constexpr int vendor_ftdi = 0x0403;
constexpr int product_2232 = 0x6010;
constexpr ULONG device_type_2232c = 4;
constexpr ULONG device_id = static_cast<ULONG>(vendor_ftdi) << 16 | product_2232;
constexpr ULONG flag_opened = 1;

// A transfer that makes no progress for this long fails.
constexpr auto stall_limit = std::chrono::seconds(3);
// One USB read waits at most this long for a packet of a silent module.
constexpr int usb_read_timeout_ms = 1000;
// Bytes asked of libftdi per top-up of the receive buffer (its read chunk),
// and the most the receive buffer keeps before it stops taking more.
constexpr int top_up_bytes = 4096;
constexpr size_t receive_limit = 1 << 22;

// libusb's "no such device" and "timed out", as libftdi passes them on from
// its reads and writes.
constexpr int usb_no_device = -4;
constexpr int usb_timeout = -7;

constexpr size_t max_open = 16;
constexpr size_t serial_room = sizeof(FT_DEVICE_LIST_INFO_NODE::SerialNumber);
constexpr size_t description_room = sizeof(FT_DEVICE_LIST_INFO_NODE::Description);

struct open_interface {
    uintptr_t token = 0;             // 0: slot free
    ftdi_context *ftdi = nullptr;
    std::string serial;              // as opened, interface letter included
    std::vector<uint8_t> received;   // bytes read from libftdi, not yet by FT_Read
    size_t head = 0;                 // first unread byte of received
};

std::mutex call_lock;
std::vector<FT_DEVICE_LIST_INFO_NODE> device_list;   // from the latest FT_CreateDeviceInfoList
std::array<open_interface, max_open> slots;
uintptr_t next_token = 1;                            // never handed out twice

open_interface *find(FT_HANDLE handle)
{
    uintptr_t token = reinterpret_cast<uintptr_t>(handle);
    for (open_interface &o : slots)
        if (token != 0 && o.token == token)
            return &o;
    return nullptr;
}

bool is_open(const std::string &serial)
{
    for (const open_interface &o : slots)
        if (o.token != 0 && o.serial == serial)
            return true;
    return false;
}

// The status of a failed read or write (a libusb code, or libftdi's -666
// for a context without a device).
FT_STATUS transfer_failure(int code)
{
    if (code == usb_no_device)
        return FT_DEVICE_NOT_FOUND;
    if (code == -666)
        return FT_DEVICE_NOT_OPENED;
    return FT_IO_ERROR;
}

// A device's USB product and serial strings, with room left in the list
// node for the interface suffix (" A", "A").
struct usb_strings {
    std::array<char, description_room - 2> product{};
    std::array<char, serial_room - 1> serial{};
};

// The 0403:6010 devices attached, into list; FT_OK or the failure.
FT_STATUS find_modules(ftdi_context *ftdi, ftdi_device_list *&list)
{
    list = nullptr;
    int count = ftdi_usb_find_all(ftdi, &list, vendor_ftdi, product_2232);
    if (count >= 0)
        return FT_OK;
    return count == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
}

// False when the device's strings cannot be read (no access, or a device
// without a serial number string).
bool read_strings(ftdi_context *ftdi, libusb_device *dev, usb_strings &s)
{
    bool readable = ftdi_usb_get_strings(ftdi, dev, nullptr, 0, s.product.data(), static_cast<int>(s.product.size()),
                                         s.serial.data(), static_cast<int>(s.serial.size())) == 0;
    s.product.back() = s.serial.back() = '\0';
    return readable;
}

// Opens the device with serial string usb_serial on the context's interface.
// The list is walked here rather than by ftdi_usb_open_desc, which gives up
// at the first FT2232 whose strings it cannot read (such as an FT2232H
// adapter without EEPROM plugged in before the module).
FT_STATUS open_by_serial(ftdi_context *ftdi, const std::string &usb_serial)
{
    ftdi_device_list *list = nullptr;
    FT_STATUS status = find_modules(ftdi, list);
    if (status != FT_OK)
        return status;
    status = FT_DEVICE_NOT_FOUND;
    for (ftdi_device_list *d = list; d; d = d->next) {
        usb_strings s;
        if (!read_strings(ftdi, d->dev, s) || usb_serial != s.serial.data())
            continue;
        // -3: the configuration could not be set (another driver has it);
        // -4, -5, -8: no access, or the interface claimed elsewhere.
        int r = ftdi_usb_open_dev(ftdi, d->dev);
        status = r == 0 ? FT_OK : r == -3 || r == -4 || r == -5 || r == -8 ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
        break;
    }
    ftdi_list_free(&list);
    return status;
}

size_t unread(const open_interface &o)
{
    return o.received.size() - o.head;
}

void forget_received(open_interface &o)
{
    o.received.clear();
    o.head = 0;
}

// One read from libftdi into the receive buffer: returns the bytes added
// (0 when the module had nothing within its latency time) or a libftdi
// error. A read that timed out counts as nothing.
int top_up(open_interface &o)
{
    if (unread(o) >= receive_limit)
        return 0;
    if (o.head == o.received.size())
        forget_received(o);
    size_t old = o.received.size();
    o.received.resize(old + top_up_bytes);
    int got = ftdi_read_data(o.ftdi, o.received.data() + old, top_up_bytes);
    o.received.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
    return got == usb_timeout ? 0 : got;
}

// With the receive buffer full no read handles libusb's events, which
// complete the write: waits on them until it completes or the deadline
// passes. Returns 0 or a libusb error.
int await_write(open_interface &o, ftdi_transfer_control &tc, lib_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - lib_clock::now()).count();
    if (left <= 0)
        return 0;
    timeval tv{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
    int r = libusb_handle_events_timeout_completed(o.ftdi->usb_ctx, &tv, &tc.completed);
    return r == LIBUSB_ERROR_INTERRUPTED ? 0 : r;
}

FT_STATUS write_all(open_interface &o, const uint8_t *data, DWORD size, DWORD &written)
{
    written = 0;
    lib_clock::time_point progress = lib_clock::now();
    while (written < size) {
        // libftdi takes a non-const buffer but only reads from it.
        ftdi_transfer_control *tc =
            ftdi_write_data_submit(o.ftdi, const_cast<uint8_t *>(data) + written, static_cast<int>(size - written));
        if (!tc)
            return FT_IO_ERROR;
        int seen = 0;
        while (!tc->completed) {
            int got = unread(o) < receive_limit ? top_up(o) : await_write(o, *tc, progress + stall_limit);
            if (got < 0) {
                ftdi_transfer_data_cancel(tc, nullptr);
                return transfer_failure(got);
            }
            if (got > 0 || tc->offset != seen) {
                seen = tc->offset;
                progress = lib_clock::now();
            } else if (lib_clock::now() - progress > stall_limit) {
                ftdi_transfer_data_cancel(tc, nullptr);
                return FT_IO_ERROR;
            }
        }
        int done = ftdi_transfer_data_done(tc);
        if (done < 0)
            return transfer_failure(done);
        written += static_cast<DWORD>(done);
        if (done > 0)
            progress = lib_clock::now();
        else if (lib_clock::now() - progress > stall_limit)
            return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS read_all(open_interface &o, uint8_t *dest, DWORD size, DWORD &got)
{
    size_t first = unread(o) < size ? unread(o) : size;
    if (first)
        std::memcpy(dest, o.received.data() + o.head, first);
    o.head += first;
    got = static_cast<DWORD>(first);
    lib_clock::time_point progress = lib_clock::now();
    while (got < size) {
        int n = ftdi_read_data(o.ftdi, dest + got, static_cast<int>(size - got));
        if (n < 0 && n != usb_timeout)
            return transfer_failure(n);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            progress = lib_clock::now();
        } else if (lib_clock::now() - progress > stall_limit) {
            return FT_IO_ERROR;
        }
    }
    return FT_OK;
}

void copy_text(char *dest, size_t room, const std::string &text)
{
    std::memset(dest, 0, room);
    std::memcpy(dest, text.data(), text.size() < room ? text.size() : room - 1);
}

} // namespace

extern "C" {

FT_STATUS FTD2XX_API FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    std::lock_guard<std::mutex> guard(call_lock);
    if (!lpdwNumDevs)
        return FT_INVALID_PARAMETER;
    ftdi_context *ftdi = ftdi_new();
    if (!ftdi)
        return FT_OTHER_ERROR;
    ftdi_device_list *list = nullptr;
    FT_STATUS status = find_modules(ftdi, list);
    if (status != FT_OK) {
        ftdi_free(ftdi);
        return status;
    }
    device_list.clear();
    DWORD index = 0;
    for (ftdi_device_list *d = list; d; d = d->next, index++) {
        usb_strings s;
        bool readable = read_strings(ftdi, d->dev, s);
        for (DWORD i = 0; i < 2; i++) {
            const char *letter = i == 0 ? "A" : "B";
            FT_DEVICE_LIST_INFO_NODE node{};
            std::string node_serial = readable ? std::string(s.serial.data()) + letter : "";
            node.Flags = !readable || is_open(node_serial) ? flag_opened : 0;
            node.Type = device_type_2232c;
            node.ID = device_id;
            node.LocId = (index + 1) << 4 | (i + 1);
            copy_text(node.SerialNumber, serial_room, node_serial);
            copy_text(node.Description, description_room,
                      readable ? std::string(s.product.data()) + " " + letter : "");
            device_list.push_back(node);
        }
    }
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    *lpdwNumDevs = static_cast<DWORD>(device_list.size());
    return FT_OK;
}

FT_STATUS FTD2XX_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *pDest, LPDWORD lpdwNumDevs)
{
    std::lock_guard<std::mutex> guard(call_lock);
    if (!pDest || !lpdwNumDevs)
        return FT_INVALID_PARAMETER;
    for (size_t i = 0; i < device_list.size(); i++)
        pDest[i] = device_list[i];
    *lpdwNumDevs = static_cast<DWORD>(device_list.size());
    return FT_OK;
}

FT_STATUS FTD2XX_API FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE *pHandle)
{
    std::lock_guard<std::mutex> guard(call_lock);
    if (!pArg1 || !pHandle || Flags != FT_OPEN_BY_SERIAL_NUMBER)
        return FT_INVALID_PARAMETER;
    std::string serial = static_cast<const char *>(pArg1);
    // The last character names the interface, the rest is the USB serial.
    if (serial.empty() || (serial.back() != 'A' && serial.back() != 'B'))
        return FT_DEVICE_NOT_FOUND;
    if (is_open(serial))
        return FT_DEVICE_NOT_OPENED;
    open_interface *slot = nullptr;
    for (open_interface &o : slots)
        if (!slot && o.token == 0)
            slot = &o;
    if (!slot)
        return FT_INSUFFICIENT_RESOURCES;

    ftdi_context *ftdi = ftdi_new();
    if (!ftdi)
        return FT_OTHER_ERROR;
    if (ftdi_set_interface(ftdi, serial.back() == 'A' ? INTERFACE_A : INTERFACE_B) < 0) {
        ftdi_free(ftdi);
        return FT_OTHER_ERROR;
    }
    ftdi->usb_read_timeout = usb_read_timeout_ms;
    FT_STATUS status = open_by_serial(ftdi, serial.substr(0, serial.size() - 1));
    if (status != FT_OK) {
        ftdi_free(ftdi);
        return status;
    }
    slot->token = next_token++;
    slot->ftdi = ftdi;
    slot->serial = serial;
    forget_received(*slot);
    *pHandle = reinterpret_cast<FT_HANDLE>(slot->token);
    return FT_OK;
}

FT_STATUS FTD2XX_API FT_ResetDevice(FT_HANDLE ftHandle)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    forget_received(*o);
    return ftdi_usb_reset(o->ftdi) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FTD2XX_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    if (Mask & FT_PURGE_RX) {
        forget_received(*o);
        if (ftdi_tciflush(o->ftdi) < 0)
            return FT_IO_ERROR;
    }
    if ((Mask & FT_PURGE_TX) && ftdi_tcoflush(o->ftdi) < 0)
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS FTD2XX_API FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    if (!dwRxBytes)
        return FT_INVALID_PARAMETER;
    int got = top_up(*o);
    if (got < 0)
        return transfer_failure(got);
    *dwRxBytes = static_cast<DWORD>(unread(*o));
    return FT_OK;
}

FT_STATUS FTD2XX_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    int r = ftdi_set_latency_timer(o->ftdi, ucLatency);
    return r == -1 ? FT_INVALID_PARAMETER : r < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FTD2XX_API FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    // A run stopped in the middle of a write can leave a partial command in
    // the command processor, which entering host bus mode again does not
    // clear on every chip: the reset mode first.
    if (ucEnable == BITMODE_MCU && ftdi_set_bitmode(o->ftdi, 0, BITMODE_RESET) < 0)
        return FT_IO_ERROR;
    return ftdi_set_bitmode(o->ftdi, ucMask, ucEnable) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FTD2XX_API FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    if ((!lpBuffer && dwBytesToWrite) || !lpBytesWritten)
        return FT_INVALID_PARAMETER;
    return write_all(*o, static_cast<const uint8_t *>(lpBuffer), dwBytesToWrite, *lpBytesWritten);
}

FT_STATUS FTD2XX_API FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    if ((!lpBuffer && dwBytesToRead) || !lpBytesReturned)
        return FT_INVALID_PARAMETER;
    return read_all(*o, static_cast<uint8_t *>(lpBuffer), dwBytesToRead, *lpBytesReturned);
}

FT_STATUS FTD2XX_API FT_Close(FT_HANDLE ftHandle)
{
    std::lock_guard<std::mutex> guard(call_lock);
    open_interface *o = find(ftHandle);
    if (!o)
        return FT_INVALID_HANDLE;
    int r = ftdi_usb_close(o->ftdi);
    ftdi_free(o->ftdi);
    *o = open_interface();
    return r < 0 ? FT_IO_ERROR : FT_OK;
}

} // extern "C"
