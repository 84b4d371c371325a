// A stand-in for libftdi1, for tests of the D2XX library over libftdi1
// without USB devices: the libftdi1 functions that library calls (and the
// one libusb function it calls itself), with the names and signatures of
// libftdi1 1.5 and libusb 1.0, backed by the simulated module's models (the
// FTD2XX_SIM_MODULES modules, FTD2XX_SIM_BOARD board and FTD2XX_SIM_CHIP
// chip, through the MPSSE command processor of mpsse.h).
//
// The FT2232 is modelled as far as the library's data path depends on it:
// the command processor stops taking commands while reply_room reply bytes
// wait for the host, full packets of replies go out at once, and a partial
// packet is held until Send Immediate or the latency timer. Opening, the
// device reset and the purges leave the command processor alone: its mode
// and a partly received command stay until the reset mode (bit mode 0)
// clears them; another mode keeps a partly received command.
//
// Test controls, read from the environment at the first ftdi_new:
//   FTDI_SIM_FAIL=NAME=CODE,NAME@N=CODE  the N-th call (default the first)
//                 of libftdi function NAME returns CODE (NULL for functions
//                 returning pointers; ftdi_transfer_data_done gives CODE)
//   FTDI_SIM_PIECE=N    reads return and asynchronous writes complete with
//                       at most N bytes, like a transfer split into pieces
//   FTDI_SIM_IDLE=N     N reads that return nothing before every read that
//                       returns bytes
//   FTDI_SIM_HANG=N     after N command bytes the module stops answering:
//                       it takes no more commands and sends nothing
//   FTDI_SIM_UNPLUG=N   after N command bytes the module is unplugged: reads
//                       and writes fail with libusb's "no such device"
//   FTDI_SIM_LOCKED=N   the N-th module (1 = the first) cannot be opened by
//                       this user: reading its strings and opening it fail
//   FTDI_SIM_NO_SERIAL=N  the N-th module has no serial number string (an
//                       FT2232H without EEPROM): reading it fails
//   FTDI_SIM_INTERRUPT=N  the N-th command byte is the last the module takes
//                       before the program is interrupted (SIGINT)
//   FTDI_SIM_STATE=FILE the modules stay plugged in from one run to the next:
//                       their command processors (mode and a partly received
//                       command) are read from FILE at the start and written
//                       to it when the program closes a module or is
//                       interrupted
#include <ftdi.h>

#include "board.h"
#include "mpsse.h"
#include "settings.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int vendor_ftdi = 0x0403;
constexpr int product_2232 = 0x6010;
constexpr size_t reply_room = 128;   // the FT2232's transmit buffer per interface
constexpr size_t packet_data = 62;   // data bytes of a 64-byte packet
constexpr int usb_no_device = -4;
constexpr auto silent_wait = std::chrono::milliseconds(1);   // a read that finds nothing

const char *const function_names[] = {
    "ftdi_new", "ftdi_usb_find_all", "ftdi_usb_get_strings", "ftdi_set_interface",
    "ftdi_usb_open_desc", "ftdi_usb_open_dev", "ftdi_usb_close", "ftdi_usb_reset", "ftdi_tciflush", "ftdi_tcoflush",
    "ftdi_set_latency_timer", "ftdi_set_bitmode", "ftdi_read_data", "ftdi_write_data_submit",
    "ftdi_transfer_data_done",
};
enum function {
    ftdi_fn_new, ftdi_fn_find_all, ftdi_fn_get_strings, ftdi_fn_set_interface, ftdi_fn_open_desc,
    ftdi_fn_open_dev, ftdi_fn_close, ftdi_fn_reset, ftdi_fn_tciflush, ftdi_fn_tcoflush, ftdi_fn_latency, ftdi_fn_bitmode,
    ftdi_fn_read, ftdi_fn_write_submit, ftdi_fn_done, ftdi_fn_count
};
static_assert(sizeof function_names / sizeof function_names[0] == ftdi_fn_count, "one name per function");

struct fault {
    function fn;
    unsigned long call;
    int code;
};

// An asynchronous write in flight: the bytes are fed to the command
// processor as far as its reply room allows.
struct pending_write {
    ftdi_transfer_control *tc = nullptr;
    size_t fed = 0;
    size_t limit = 0;   // bytes this transfer carries (FTDI_SIM_PIECE)
};

} // namespace

// libusb's opaque types, given a body here: a device is a module, an open
// device handle is a claimed interface.
struct libusb_device {
    size_t module = 0;
};

struct libusb_device_handle {
    size_t module = 0;
    size_t index = 0;   // 0: interface A, 1: interface B
    bool claimed = false;
    sim_port port;
    pending_write write;
};

namespace {

struct standin_module {
    sim_module_setting strings;
    libusb_device device;
    std::array<libusb_device_handle, 2> intf;
    sim_board board;
    bool locked = false;      // FTDI_SIM_LOCKED
    bool no_serial = false;   // FTDI_SIM_NO_SERIAL
};

struct standin_state {
    bool loaded = false;
    bool bad = false;
    std::vector<standin_module> modules;
    std::vector<fault> faults;
    std::array<unsigned long, ftdi_fn_count> calls{};
    size_t piece = 0;            // 0: whole transfers
    unsigned long idle = 0;
    unsigned long idle_left = 0;
    size_t hang_after = 0;       // 0: never
    size_t unplug_after = 0;     // 0: never
    size_t interrupt_after = 0;  // 0: never
    std::string state_path;      // FTDI_SIM_STATE; empty: none
    size_t commands = 0;         // command bytes taken so far, all modules
};

std::mutex lock;
standin_state state;

bool number_setting(const char *name, size_t &value)
{
    std::string text;
    if (!sim_getenv(name, text) || text.empty())
        return true;
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0') {
        std::fprintf(stderr, "libftdi stand-in: bad setting %s=%s: not a number\n", name, text.c_str());
        return false;
    }
    value = v;
    return true;
}

bool parse_faults(const std::string &text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        std::string item = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        size_t eq = item.find('=');
        std::string name = item.substr(0, eq);
        fault f{ftdi_fn_count, 1, 0};
        size_t at = name.find('@');
        if (at != std::string::npos) {
            f.call = std::strtoul(name.c_str() + at + 1, nullptr, 10);
            name.resize(at);
        }
        for (size_t i = 0; i < ftdi_fn_count; i++)
            if (name == function_names[i])
                f.fn = static_cast<function>(i);
        char *tail = nullptr;
        if (eq != std::string::npos)
            f.code = static_cast<int>(std::strtol(item.c_str() + eq + 1, &tail, 10));
        if (f.fn == ftdi_fn_count || f.call == 0 || !tail || *tail != '\0') {
            std::fprintf(stderr, "libftdi stand-in: bad setting FTDI_SIM_FAIL=%s: item `%s'\n", text.c_str(),
                         item.c_str());
            return false;
        }
        state.faults.push_back(f);
    }
    return true;
}

// FTDI_SIM_STATE: a line per interface, in module order: host bus mode,
// opcode, argument bytes needed and received, the argument bytes.
void load_state()
{
    std::FILE *f = state.state_path.empty() ? nullptr : std::fopen(state.state_path.c_str(), "r");
    if (!f)
        return;
    for (standin_module &m : state.modules) {
        for (libusb_device_handle &h : m.intf) {
            sim_port &p = h.port;
            int host_bus = 0;
            unsigned opcode = 0, args[3] = {};
            if (std::fscanf(f, "%d %u %u %u %u %u %u", &host_bus, &opcode, &p.args_needed, &p.args_have, &args[0],
                            &args[1], &args[2]) != 7)
                break;
            p.host_bus = host_bus != 0;
            p.opcode = static_cast<uint8_t>(opcode);
            for (size_t i = 0; i < 3; i++)
                p.args[i] = static_cast<uint8_t>(args[i]);
        }
    }
    std::fclose(f);
}

void save_state()
{
    std::FILE *f = state.state_path.empty() ? nullptr : std::fopen(state.state_path.c_str(), "w");
    if (!f)
        return;
    for (const standin_module &m : state.modules)
        for (const libusb_device_handle &h : m.intf)
            std::fprintf(f, "%d %u %u %u %u %u %u\n", h.port.host_bus ? 1 : 0, h.port.opcode, h.port.args_needed,
                         h.port.args_have, h.port.args[0], h.port.args[1], h.port.args[2]);
    std::fclose(f);
}

// FTDI_SIM_INTERRUPT: the program is stopped as by Ctrl-C, in the middle
// of its write.
[[noreturn]] void interrupt()
{
    save_state();
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(128 + SIGINT);
}

void load()
{
    state = standin_state();
    state.loaded = true;
    sim_settings s;
    sim_setting_error err;
    // The FTD2XX_SIM_* settings are the simulated module's, reported in its
    // words whichever library reads them.
    if (!sim_read_settings(s, err)) {
        std::fprintf(stderr, "ftd2xx simulator: bad setting %s=%s: %s\n", err.variable.c_str(), err.value.c_str(),
                     err.reason.c_str());
        state.bad = true;
        return;
    }
    std::string fail;
    size_t idle = 0, locked = 0, no_serial = 0;
    if (!number_setting("FTDI_SIM_PIECE", state.piece) || !number_setting("FTDI_SIM_IDLE", idle) ||
        !number_setting("FTDI_SIM_HANG", state.hang_after) || !number_setting("FTDI_SIM_UNPLUG", state.unplug_after) ||
        !number_setting("FTDI_SIM_LOCKED", locked) || !number_setting("FTDI_SIM_NO_SERIAL", no_serial) ||
        !number_setting("FTDI_SIM_INTERRUPT", state.interrupt_after) ||
        (sim_getenv("FTDI_SIM_FAIL", fail) && !parse_faults(fail))) {
        state.bad = true;
        return;
    }
    sim_getenv("FTDI_SIM_STATE", state.state_path);
    state.idle = state.idle_left = idle;
    state.modules.resize(s.modules.size());
    for (size_t m = 0; m < s.modules.size(); m++) {
        standin_module &mod = state.modules[m];
        mod.strings = s.modules[m];
        mod.device.module = m;
        mod.locked = locked == m + 1;
        mod.no_serial = no_serial == m + 1;
        for (size_t i = 0; i < 2; i++) {
            mod.intf[i].module = m;
            mod.intf[i].index = i;
            sim_port_open(mod.intf[i].port);   // power-up state
        }
        mod.board.variant = s.board;
        std::string why;
        mod.board.chip = sim_make_chip(s.chip, why);
        if (!mod.board.chip) {
            std::fprintf(stderr, "ftd2xx simulator: bad setting FTD2XX_SIM_CHIP=%s: %s\n", s.chip.c_str(), why.c_str());
            state.bad = true;
            return;
        }
        const unsigned registers = mod.board.chip->power_up(s.powerup);
        if (s.powerup & ~registers) {
            std::fprintf(stderr,
                         "ftd2xx simulator: bad setting FTD2XX_SIM_POWERUP=%s: bits 0x%02X name pins without a "
                         "register (this chip's registers: 0x%02X)\n",
                         s.powerup_value.c_str(), s.powerup & ~registers, registers);
            state.bad = true;
            return;
        }
    }
    load_state();
}

// Counts the call; true when a fault is scheduled for it, with its code.
bool fails(function fn, int &code)
{
    unsigned long n = ++state.calls[fn];
    for (const fault &f : state.faults) {
        if (f.fn == fn && f.call == n) {
            code = f.code;
            return true;
        }
    }
    return false;
}

bool unplugged()
{
    return state.unplug_after && state.commands >= state.unplug_after;
}

bool hung()
{
    return state.hang_after && state.commands >= state.hang_after;
}

size_t replies_waiting(const sim_port &port)
{
    return port.queue.size() - port.head;
}

// The chip works through the pending write while it has room for replies.
void advance(libusb_device_handle &h)
{
    pending_write &w = h.write;
    if (!w.tc || w.tc->completed)
        return;
    sim_board &board = state.modules[h.module].board;
    const uint8_t *data = w.tc->buf;
    while (w.fed < w.limit && replies_waiting(h.port) < reply_room && !hung() && !unplugged()) {
        sim_port_write(h.port, board, data + w.fed, 1);
        w.fed++;
        if (++state.commands == state.interrupt_after)
            interrupt();
    }
    w.tc->offset = static_cast<int>(w.fed);
    if (w.fed == w.limit || unplugged())
        w.tc->completed = 1;
}

// Full packets of replies go to the host without waiting for the timer.
void send_full_packets(sim_port &port)
{
    size_t held = port.queue.size() - port.released;
    if (held >= packet_data)
        port.released += held - held % packet_data;
}

libusb_device_handle *device_of(ftdi_context *ftdi)
{
    return ftdi ? ftdi->usb_dev : nullptr;
}

// The start of a call on an open device: false, with the code to return,
// for a scheduled failure, a context without a device (no_device) or an
// unplugged module (gone).
bool reach(function fn, ftdi_context *ftdi, libusb_device_handle *&h, int no_device, int gone, int &code)
{
    h = device_of(ftdi);
    if (fails(fn, code))
        return false;
    code = !h ? no_device : unplugged() ? gone : 0;
    return code == 0;
}

void copy_string(char *dest, int len, const std::string &text)
{
    if (!dest || len <= 0)
        return;
    size_t n = std::min(text.size(), static_cast<size_t>(len - 1));
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

// Claims the context's interface of module m, as libftdi's ftdi_usb_open_dev
// does; its device reset drops the replies waiting.
int claim(ftdi_context *ftdi, standin_module &m)
{
    if (m.locked)
        return -4;
    libusb_device_handle &h = m.intf[static_cast<size_t>(ftdi->interface)];
    if (h.claimed)
        return -5;
    h.claimed = true;
    h.write = pending_write();
    sim_port_purge(h.port, true, false);
    ftdi->usb_dev = &h;
    return 0;
}

void release(ftdi_context *ftdi)
{
    libusb_device_handle *h = device_of(ftdi);
    if (!h)
        return;
    h->claimed = false;
    h->write = pending_write();
    ftdi->usb_dev = nullptr;
}

} // namespace

extern "C" {

struct ftdi_context *ftdi_new(void)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!state.loaded)
        load();
    int code = 0;
    if (state.bad || fails(ftdi_fn_new, code))
        return nullptr;
    auto *ftdi = static_cast<ftdi_context *>(std::calloc(1, sizeof(ftdi_context)));
    if (!ftdi)
        return nullptr;
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->type = TYPE_2232C;
    ftdi->readbuffer_chunksize = 4096;
    ftdi->writebuffer_chunksize = 4096;
    ftdi->max_packet_size = 64;
    ftdi->interface = 0;
    ftdi->index = INTERFACE_A;
    return ftdi;
}

void ftdi_free(struct ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(lock);
    release(ftdi);
    std::free(ftdi);
}

int ftdi_usb_find_all(struct ftdi_context *ftdi, struct ftdi_device_list **devlist, int vendor, int product)
{
    std::lock_guard<std::mutex> guard(lock);
    *devlist = nullptr;
    int code = 0;
    if (fails(ftdi_fn_find_all, code))
        return code;
    if (!ftdi || vendor != vendor_ftdi || product != product_2232)
        return 0;
    ftdi_device_list **tail = devlist;
    for (standin_module &m : state.modules) {
        auto *node = static_cast<ftdi_device_list *>(std::malloc(sizeof(ftdi_device_list)));
        if (!node)
            return -3;
        node->next = nullptr;
        node->dev = &m.device;
        *tail = node;
        tail = &node->next;
    }
    return static_cast<int>(state.modules.size());
}

void ftdi_list_free(struct ftdi_device_list **devlist)
{
    for (ftdi_device_list *d = *devlist; d;) {
        ftdi_device_list *next = d->next;
        std::free(d);
        d = next;
    }
    *devlist = nullptr;
}

int ftdi_usb_get_strings(struct ftdi_context *ftdi, struct libusb_device *dev, char *manufacturer, int mnf_len,
                         char *description, int desc_len, char *serial, int serial_len)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_get_strings, code))
        return code;
    if (!ftdi || !dev)
        return -1;
    const standin_module &m = state.modules[dev->module];
    if (m.locked)
        return -4;
    copy_string(manufacturer, mnf_len, "FTDI");
    copy_string(description, desc_len, m.strings.description);
    if (serial && m.no_serial)
        return -9;
    copy_string(serial, serial_len, m.strings.serial);
    return 0;
}

int ftdi_set_interface(struct ftdi_context *ftdi, enum ftdi_interface interface)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_set_interface, code))
        return code;
    if (!ftdi)
        return -2;
    if (ftdi->usb_dev)
        return -3;
    if (interface != INTERFACE_ANY && interface != INTERFACE_A && interface != INTERFACE_B)
        return -1;
    ftdi->interface = interface == INTERFACE_B ? 1 : 0;
    ftdi->index = interface == INTERFACE_B ? INTERFACE_B : INTERFACE_A;
    return 0;
}

// libftdi 1.5's walk: the first device of the vendor and product that it
// cannot open (-4), or whose product string (-8) or serial number (-9) it
// cannot read, ends the search, even when a later device would match.
int ftdi_usb_open_desc(struct ftdi_context *ftdi, int vendor, int product, const char *description,
                       const char *serial)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_open_desc, code))
        return code;
    if (!ftdi)
        return -11;
    if (vendor != vendor_ftdi || product != product_2232)
        return -3;
    for (standin_module &m : state.modules) {
        if (m.locked)
            return -4;
        if (description && m.strings.description != description)
            continue;
        if (serial && m.no_serial)
            return -9;
        if (serial && m.strings.serial != serial)
            continue;
        return claim(ftdi, m);
    }
    return -3;
}

int ftdi_usb_open_dev(struct ftdi_context *ftdi, struct libusb_device *dev)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_open_dev, code))
        return code;
    if (!ftdi)
        return -8;
    return claim(ftdi, state.modules[dev->module]);
}

int ftdi_usb_close(struct ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    bool failed = fails(ftdi_fn_close, code);
    if (!ftdi)
        return -3;
    release(ftdi);
    save_state();
    return failed ? code : 0;
}

int ftdi_usb_reset(struct ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(lock);
    libusb_device_handle *h = nullptr;
    int code = 0;
    if (!reach(ftdi_fn_reset, ftdi, h, -2, -1, code))
        return code;
    sim_port_purge(h->port, true, false);
    return 0;
}

int ftdi_tciflush(struct ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(lock);
    libusb_device_handle *h = nullptr;
    int code = 0;
    if (!reach(ftdi_fn_tciflush, ftdi, h, -2, -1, code))
        return code;
    sim_port_purge(h->port, true, false);
    return 0;
}

int ftdi_tcoflush(struct ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(lock);
    libusb_device_handle *h = nullptr;
    int code = 0;
    // The chip's buffer of written bytes passes them on to the command
    // processor as fast as it takes them, so there is nothing to drop.
    return reach(ftdi_fn_tcoflush, ftdi, h, -2, -1, code) ? 0 : code;
}

int ftdi_set_latency_timer(struct ftdi_context *ftdi, unsigned char latency)
{
    std::lock_guard<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_latency, code))
        return code;
    if (latency < 1)
        return -1;
    libusb_device_handle *h = device_of(ftdi);
    if (!h)
        return -3;
    if (unplugged())
        return -2;
    h->port.latency_ms = latency;
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context *ftdi, unsigned char bitmask, unsigned char mode)
{
    std::lock_guard<std::mutex> guard(lock);
    (void)bitmask;
    libusb_device_handle *h = nullptr;
    int code = 0;
    if (!reach(ftdi_fn_bitmode, ftdi, h, -2, -1, code))
        return code;
    // Only interface A carries the host bus; only the reset mode drops a
    // partly received command.
    h->port.host_bus = mode == BITMODE_MCU && h->index == 0;
    if (mode == BITMODE_RESET)
        sim_port_purge(h->port, false, true);
    return 0;
}

int ftdi_read_data(struct ftdi_context *ftdi, unsigned char *buf, int size)
{
    std::unique_lock<std::mutex> guard(lock);
    int code = 0;
    if (fails(ftdi_fn_read, code))
        return code;
    libusb_device_handle *h = device_of(ftdi);
    if (!h)
        return -666;
    if (unplugged())
        return usb_no_device;
    advance(*h);
    if (state.idle_left > 0) {
        state.idle_left--;
        return 0;
    }
    send_full_packets(h->port);
    size_t want = static_cast<size_t>(size > 0 ? size : 0);
    if (state.piece)
        want = std::min(want, state.piece);
    size_t ready = sim_port_available(h->port);
    if (hung() || (ready == 0 && replies_waiting(h->port) == 0)) {
        // The chip sends only its status bytes, once per latency period.
        guard.unlock();
        std::this_thread::sleep_for(silent_wait);
        return 0;
    }
    // Without a full packet or Send Immediate, held bytes come with the
    // latency timer; sim_port_read waits for it.
    size_t n = sim_port_read(h->port, buf, std::min(want, ready ? ready : replies_waiting(h->port)));
    advance(*h);
    state.idle_left = state.idle;
    return static_cast<int>(n);
}

struct ftdi_transfer_control *ftdi_write_data_submit(struct ftdi_context *ftdi, unsigned char *buf, int size)
{
    std::lock_guard<std::mutex> guard(lock);
    libusb_device_handle *h = device_of(ftdi);
    int code = 0;
    if (fails(ftdi_fn_write_submit, code) || !h || h->write.tc || unplugged())
        return nullptr;
    auto *tc = static_cast<ftdi_transfer_control *>(std::calloc(1, sizeof(ftdi_transfer_control)));
    if (!tc)
        return nullptr;
    tc->ftdi = ftdi;
    tc->buf = buf;
    tc->size = size;
    h->write.tc = tc;
    h->write.fed = 0;
    h->write.limit = static_cast<size_t>(size);
    if (state.piece)
        h->write.limit = std::min(h->write.limit, state.piece);
    advance(*h);
    return tc;
}

int ftdi_transfer_data_done(struct ftdi_transfer_control *tc)
{
    std::lock_guard<std::mutex> guard(lock);
    libusb_device_handle *h = device_of(tc->ftdi);
    int code = 0;
    bool failed = fails(ftdi_fn_done, code);
    bool finished = false;
    if (h && h->write.tc == tc) {
        advance(*h);
        finished = h->write.fed == h->write.limit;
        h->write = pending_write();
    }
    // A write that the chip cannot finish would wait here for ever; the
    // stand-in fails it at once, like a transfer that timed out. So does a
    // write cut short by unplugging.
    int result = failed ? code : finished ? tc->offset : -1;
    std::free(tc);
    return result;
}

void ftdi_transfer_data_cancel(struct ftdi_transfer_control *tc, struct timeval *to)
{
    std::lock_guard<std::mutex> guard(lock);
    (void)to;
    libusb_device_handle *h = device_of(tc->ftdi);
    if (h && h->write.tc == tc)
        h->write = pending_write();
    std::free(tc);
}

// Events are the chip taking what it has room for on every claimed
// interface; nothing else happens while the host waits.
int libusb_handle_events_timeout_completed(libusb_context *ctx, struct timeval *tv, int *completed)
{
    std::unique_lock<std::mutex> guard(lock);
    (void)ctx;
    for (standin_module &m : state.modules)
        for (libusb_device_handle &h : m.intf)
            if (h.claimed)
                advance(h);
    if (completed && *completed)
        return 0;
    guard.unlock();
    std::this_thread::sleep_for(std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec));
    return 0;
}

} // extern "C"
