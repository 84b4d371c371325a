// The D2XX functions of the simulated module library, and its control for
// tests. Modules come from the settings (settings.h); each is an FT2232
// with interfaces A and B, and interface A carries the adapter board
// (board.h) through its host bus command processor (mpsse.h).
//
// Settings are read on the first call and again on ftd2xx_sim_reinit. A bad
// setting is reported once on standard error, and every call then fails
// with FT_OTHER_ERROR. Handles are tokens looked up in the module table,
// never dereferenced; a token is never handed out twice in a process.
// Every call is also timed by the USB timing model (timing.h); with
// FTD2XX_SIM_TIME=1 its total is printed on standard error when the last
// open handle closes, and at exit if calls were timed after that.
#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#endif

#include "ftd2xx.h"
#include "sim_control.h"

#include "board.h"
#include "mpsse.h"
#include "settings.h"
#include "timing.h"
#include "trace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// MSVC exports nothing from a DLL by default: each exported function asks
// the linker for its own export, under its undecorated name.
#if defined(_MSC_VER)
#define SIM_EXPORT_THIS __pragma(comment(linker, "/EXPORT:" __FUNCTION__ "=" __FUNCDNAME__))
#else
#define SIM_EXPORT_THIS
#endif

namespace {

constexpr ULONG device_type_2232c = 4;
constexpr ULONG device_id = 0x04036010;   // FTDI's vendor id, FT2232 product id
constexpr ULONG flag_opened = 1;
constexpr unsigned char mode_host_bus = 0x08;
constexpr uintptr_t first_token = 0x1001;

struct sim_interface {
    std::string description;
    std::string serial;
    bool is_open = false;
    uintptr_t token = 0;
    sim_port port;
    sim_usb_port usb;
};

struct sim_module {
    std::array<sim_interface, 2> intf;   // A, B
    sim_board board;
};

struct sim_state {
    bool bad = false;   // a setting is bad: every call fails
    std::vector<sim_module> modules;
    std::vector<sim_fault> faults;
    std::vector<sim_short> shorts;
    std::array<unsigned long, fn_count> calls{};
    bool print_time = false;
    sim_usb_clock clock;
};

std::mutex sim_lock;
bool loaded = false;
sim_state state;
uintptr_t next_token = first_token;   // survives reinit, so old handles stay dead

const char *status_name(FT_STATUS status)
{
    static const char *const names[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED",
        "FT_IO_ERROR", "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER",
        "FT_INVALID_BAUD_RATE", "FT_DEVICE_NOT_OPENED_FOR_ERASE",
        "FT_DEVICE_NOT_OPENED_FOR_WRITE", "FT_FAILED_TO_WRITE_DEVICE",
        "FT_EEPROM_READ_FAILED", "FT_EEPROM_WRITE_FAILED", "FT_EEPROM_ERASE_FAILED",
        "FT_EEPROM_NOT_PRESENT", "FT_EEPROM_NOT_PROGRAMMED", "FT_INVALID_ARGS",
        "FT_NOT_SUPPORTED", "FT_OTHER_ERROR",
    };
    return status < sizeof names / sizeof names[0] ? names[status] : "unknown status";
}

void report_bad_setting(const sim_setting_error &e)
{
    std::fprintf(stderr, "ftd2xx simulator: bad setting %s=%s: %s\n", e.variable.c_str(),
                 e.value.c_str(), e.reason.c_str());
    std::fflush(stderr);
    state.bad = true;
}

// The modelled USB time on standard error, once for what was timed since
// the last report.
void report_time()
{
    if (!state.print_time || !state.clock.unreported)
        return;
    std::fprintf(stderr, "%s\n", sim_usb_report(state.clock).c_str());
    std::fflush(stderr);
    state.clock.unreported = false;
}

// At exit, what was timed after the last close. No call runs any more, so
// no lock is taken (on Windows this runs as the DLL is unloaded).
struct time_at_exit {
    ~time_at_exit() { report_time(); }
} at_exit;

void load()
{
    state = sim_state();
    sim_trace_close();
    loaded = true;

    sim_settings s;
    sim_setting_error err;
    bool ok = sim_read_settings(s, err);
    // The trace opens first, so that the calls refused for another bad
    // setting are traced too.
    if (!s.trace_path.empty() && !sim_trace_open(s.trace_path, err.reason)) {
        report_bad_setting({"FTD2XX_SIM_TRACE", s.trace_path, err.reason});
        return;
    }
    if (!ok) {
        report_bad_setting(err);
        return;
    }
    state.faults = s.faults;
    state.shorts = s.shorts;
    state.print_time = s.print_time;
    state.modules.resize(s.modules.size());
    for (size_t m = 0; m < s.modules.size(); m++) {
        sim_module &mod = state.modules[m];
        for (size_t i = 0; i < 2; i++) {
            const char *suffix = i == 0 ? "A" : "B";
            mod.intf[i].description = s.modules[m].description + " " + suffix;
            mod.intf[i].serial = s.modules[m].serial + suffix;
        }
        mod.board.variant = s.board;
        std::string why;
        mod.board.chip = sim_make_chip(s.chip, why);
        if (!mod.board.chip) {
            state.modules.clear();
            report_bad_setting({"FTD2XX_SIM_CHIP", s.chip, why.empty() ? "the chip cannot be made" : why});
            return;
        }
        unsigned registers = mod.board.chip->power_up(s.powerup);
        if (s.powerup & ~registers) {
            char why_q[96];
            std::snprintf(why_q, sizeof why_q, "bits 0x%02X name pins without a register (this chip's registers: 0x%02X)",
                          s.powerup & ~registers, registers);
            state.modules.clear();
            report_bad_setting({"FTD2XX_SIM_POWERUP", s.powerup_value, why_q});
            return;
        }
    }
}

// Start of every library call: settings, call count and scheduled faults.
// FT_OK means the call goes ahead.
FT_STATUS enter(sim_function fn)
{
    if (!loaded)
        load();
    if (state.bad)
        return FT_OTHER_ERROR;
    unsigned long n = ++state.calls[fn];
    for (const sim_fault &f : state.faults) {
        if (f.function == fn && f.call == n)
            return static_cast<FT_STATUS>(f.status);
    }
    return FT_OK;
}

// The most bytes that the current call of fn may move, count at most.
DWORD short_limit(sim_function fn, DWORD count)
{
    for (const sim_short &s : state.shorts) {
        if (s.function == fn && state.calls[fn] >= s.call && s.limit < count)
            count = static_cast<DWORD>(s.limit);
    }
    return count;
}

// Traces the call's line and flushes the trace: the end of every call.
void leave(const char *name, const std::string &args, FT_STATUS status, const std::string &results)
{
    if (!sim_tracing())
        return;
    sim_trace("call %s(%s) -> %s (%lu)%s%s", name, args.c_str(), status_name(status),
              static_cast<unsigned long>(status), results.empty() ? "" : " ", results.c_str());
    sim_trace_flush();
}

std::string hex(uintptr_t v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

uintptr_t token_of(FT_HANDLE handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

// The open interface behind a handle, or null.
sim_interface *find(FT_HANDLE handle, sim_module **module = nullptr)
{
    uintptr_t token = token_of(handle);
    if (token == 0)
        return nullptr;
    for (sim_module &m : state.modules) {
        for (sim_interface &i : m.intf) {
            if (i.is_open && i.token == token) {
                if (module)
                    *module = &m;
                return &i;
            }
        }
    }
    return nullptr;
}

// enter() for a call on a handle: also finds the open interface behind it.
FT_STATUS enter_handle(sim_function fn, FT_HANDLE handle, sim_interface *&intf, sim_module **module = nullptr)
{
    intf = nullptr;
    FT_STATUS st = enter(fn);
    if (st != FT_OK)
        return st;
    intf = find(handle, module);
    return intf ? FT_OK : FT_INVALID_HANDLE;
}

bool any_open()
{
    for (const sim_module &m : state.modules) {
        for (const sim_interface &i : m.intf) {
            if (i.is_open)
                return true;
        }
    }
    return false;
}

std::string handle_arg(FT_HANDLE handle)
{
    return "handle=" + hex(token_of(handle));
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
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    FT_STATUS st = enter(fn_create_device_info_list);
    DWORD count = static_cast<DWORD>(state.modules.size() * 2);
    if (st == FT_OK && !lpdwNumDevs)
        st = FT_INVALID_PARAMETER;
    if (st == FT_OK)
        *lpdwNumDevs = count;
    leave("FT_CreateDeviceInfoList", "", st, st == FT_OK ? "count=" + std::to_string(count) : "");
    return st;
}

FT_STATUS FTD2XX_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *pDest, LPDWORD lpdwNumDevs)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    FT_STATUS st = enter(fn_get_device_info_list);
    DWORD count = 0;
    if (st == FT_OK && (!pDest || !lpdwNumDevs))
        st = FT_INVALID_PARAMETER;
    if (st == FT_OK) {
        for (size_t m = 0; m < state.modules.size(); m++) {
            for (size_t i = 0; i < 2; i++) {
                const sim_interface &intf = state.modules[m].intf[i];
                FT_DEVICE_LIST_INFO_NODE &node = pDest[count++];
                node.Flags = intf.is_open ? flag_opened : 0;
                node.Type = device_type_2232c;
                node.ID = device_id;
                node.LocId = static_cast<DWORD>((m + 1) << 4 | (i + 1));
                copy_text(node.SerialNumber, sizeof node.SerialNumber, intf.serial);
                copy_text(node.Description, sizeof node.Description, intf.description);
                node.ftHandle = intf.is_open ? reinterpret_cast<FT_HANDLE>(intf.token) : nullptr;
            }
        }
        *lpdwNumDevs = count;
    }
    leave("FT_GetDeviceInfoList", "", st, st == FT_OK ? "count=" + std::to_string(count) : "");
    return st;
}

FT_STATUS FTD2XX_API FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE *pHandle)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    FT_STATUS st = enter(fn_open_ex);
    std::string serial = pArg1 ? static_cast<const char *>(pArg1) : "";
    std::string args = (pArg1 ? "serial=\"" + serial + "\"" : "serial=null") +
                       ", flags=" + std::to_string(Flags);
    uintptr_t token = 0;
    if (st == FT_OK && (!pArg1 || !pHandle || Flags != FT_OPEN_BY_SERIAL_NUMBER))
        st = FT_INVALID_PARAMETER;
    if (st == FT_OK) {
        st = FT_DEVICE_NOT_FOUND;
        for (sim_module &m : state.modules) {
            for (sim_interface &i : m.intf) {
                if (i.serial != serial)
                    continue;
                if (i.is_open) {
                    st = FT_DEVICE_NOT_OPENED;
                } else {
                    st = FT_OK;
                    i.is_open = true;
                    i.token = token = next_token++;
                    sim_port_open(i.port);
                    sim_usb_reset(i.usb);
                    *pHandle = reinterpret_cast<FT_HANDLE>(token);
                }
            }
        }
    }
    leave("FT_OpenEx", args, st, st == FT_OK ? handle_arg(reinterpret_cast<FT_HANDLE>(token)) : "");
    return st;
}

FT_STATUS FTD2XX_API FT_ResetDevice(FT_HANDLE ftHandle)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_reset_device, ftHandle, intf);
    if (st == FT_OK) {
        sim_port_purge(intf->port, true, true);
        sim_usb_reset(intf->usb);
    }
    leave("FT_ResetDevice", handle_arg(ftHandle), st, "");
    return st;
}

FT_STATUS FTD2XX_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_purge, ftHandle, intf);
    if (st == FT_OK) {
        sim_port_purge(intf->port, (Mask & FT_PURGE_RX) != 0, (Mask & FT_PURGE_TX) != 0);
        if (Mask & FT_PURGE_RX)
            sim_usb_reset(intf->usb);
    }
    leave("FT_Purge", handle_arg(ftHandle) + ", mask=" + std::to_string(Mask), st, "");
    return st;
}

FT_STATUS FTD2XX_API FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_get_queue_status, ftHandle, intf);
    if (st == FT_OK && !dwRxBytes)
        st = FT_INVALID_PARAMETER;
    DWORD count = 0;
    if (st == FT_OK) {
        count = short_limit(fn_get_queue_status, static_cast<DWORD>(sim_port_available(intf->port)));
        *dwRxBytes = count;
        sim_usb_queued(state.clock, intf->usb, intf->port, count);
    }
    leave("FT_GetQueueStatus", handle_arg(ftHandle), st,
          st == FT_OK ? "queued=" + std::to_string(count) : "");
    return st;
}

FT_STATUS FTD2XX_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_set_latency_timer, ftHandle, intf);
    // The FT2232 counts 2 to 255 ms.
    if (st == FT_OK && ucLatency < 2)
        st = FT_INVALID_PARAMETER;
    if (st == FT_OK)
        intf->port.latency_ms = ucLatency;
    leave("FT_SetLatencyTimer", handle_arg(ftHandle) + ", ms=" + std::to_string(ucLatency), st, "");
    return st;
}

FT_STATUS FTD2XX_API FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_module *module = nullptr;
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_set_bit_mode, ftHandle, intf, &module);
    if (st == FT_OK) {
        // Only interface A has the host bus; a new mode drops a partly
        // received command.
        intf->port.host_bus = ucEnable == mode_host_bus && intf == &module->intf[0];
        sim_port_purge(intf->port, false, true);
    }
    leave("FT_SetBitMode", handle_arg(ftHandle) + ", mask=" + hex(ucMask) + ", mode=" + hex(ucEnable),
          st, "");
    return st;
}

FT_STATUS FTD2XX_API FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                              LPDWORD lpBytesWritten)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_module *module = nullptr;
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_write, ftHandle, intf, &module);
    // A null buffer is fine for nothing at all.
    if (st == FT_OK && ((!lpBuffer && dwBytesToWrite) || !lpBytesWritten))
        st = FT_INVALID_PARAMETER;
    DWORD taken = st == FT_OK ? short_limit(fn_write, dwBytesToWrite) : 0;
    // The call line comes first here, followed by the commands it carried:
    // once the checks have passed, nothing can fail.
    leave("FT_Write", handle_arg(ftHandle) + ", count=" + std::to_string(dwBytesToWrite), st,
          st == FT_OK ? "written=" + std::to_string(taken) : "");
    if (st == FT_OK) {
        sim_usb_write(state.clock, intf->usb, intf->port, module->board, static_cast<const uint8_t *>(lpBuffer),
                      taken);
        *lpBytesWritten = taken;
        sim_trace_flush();
    }
    return st;
}

FT_STATUS FTD2XX_API FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                             LPDWORD lpBytesReturned)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_read, ftHandle, intf);
    if (st == FT_OK && ((!lpBuffer && dwBytesToRead) || !lpBytesReturned))
        st = FT_INVALID_PARAMETER;
    DWORD got = 0;
    if (st == FT_OK) {
        got = static_cast<DWORD>(sim_port_read(intf->port, static_cast<uint8_t *>(lpBuffer),
                                               short_limit(fn_read, dwBytesToRead)));
        *lpBytesReturned = got;
        sim_usb_read(state.clock, intf->usb, intf->port, got);
    }
    leave("FT_Read", handle_arg(ftHandle) + ", count=" + std::to_string(dwBytesToRead), st,
          st == FT_OK ? "read=" + std::to_string(got) : "");
    return st;
}

FT_STATUS FTD2XX_API FT_Close(FT_HANDLE ftHandle)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    sim_interface *intf = nullptr;
    FT_STATUS st = enter_handle(fn_close, ftHandle, intf);
    if (st == FT_OK) {
        intf->is_open = false;
        intf->token = 0;
        sim_port_open(intf->port);
        sim_usb_reset(intf->usb);
    }
    leave("FT_Close", handle_arg(ftHandle), st, "");
    if (st == FT_OK && !any_open())
        report_time();
    return st;
}

void ftd2xx_sim_reinit(void)
{
    SIM_EXPORT_THIS
    std::lock_guard<std::mutex> guard(sim_lock);
    load();
}

} // extern "C"
