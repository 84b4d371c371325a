#include "mpsse.h"

#include "trace.h"

#include <algorithm>
#include <cstring>
#include <thread>

constexpr uint8_t op_read_ext = 0x91;
constexpr uint8_t op_write_ext = 0x93;
constexpr uint8_t op_send_immediate = 0x87;
constexpr uint8_t op_set_high = 0x82;
constexpr uint8_t op_read_high = 0x83;
constexpr uint8_t bad_command = 0xFA;

// Replies kept before the queue has to grow: more than mcu_get's largest pass.
constexpr size_t queue_reserve = 1 << 17;

void sim_port_open(sim_port &port)
{
    port.host_bus = false;
    port.latency_ms = 16;
    port.args_needed = 0;
    port.queue.clear();
    port.queue.reserve(queue_reserve);
    port.head = port.released = 0;
}

static void reply(sim_port &port, uint8_t byte)
{
    if (port.released == port.queue.size())
        port.held_since = sim_clock::now();
    port.queue.push_back(byte);
}

static sim_clock::time_point release_time(const sim_port &port)
{
    return port.held_since + std::chrono::milliseconds(port.latency_ms);
}

// The latency timer: held bytes go out once they have waited long enough.
static void run_timer(sim_port &port)
{
    if (port.released != port.queue.size() && sim_clock::now() >= release_time(port))
        port.released = port.queue.size();
}

static void run_command(sim_port &port, sim_board &board)
{
    unsigned addr = static_cast<unsigned>(port.args[0]) << 8 | port.args[1];
    switch (port.opcode) {
    case op_read_ext: {
        unsigned v = sim_board_read(board, addr);
        if (sim_tracing())
            sim_trace("bus read 0x%04x -> 0x%02x", addr, v);
        reply(port, static_cast<uint8_t>(v));
        break;
    }
    case op_write_ext:
        if (sim_tracing())
            sim_trace("bus write 0x%04x = 0x%02x", addr, port.args[2]);
        sim_board_write(board, addr, port.args[2]);
        break;
    case op_set_high:
        port.gpio_value = port.args[0];
        port.gpio_direction = port.args[1];
        if (sim_tracing())
            sim_trace("cmd gpio-high set value=0x%02x direction=0x%02x", port.args[0], port.args[1]);
        break;
    default:
        break;
    }
}

void sim_port_write(sim_port &port, sim_board &board, const uint8_t *data, size_t count)
{
    if (!port.host_bus)
        return;
    for (size_t i = 0; i < count; i++) {
        uint8_t byte = data[i];
        if (port.args_needed == 0) {
            port.opcode = byte;
            port.args_have = 0;
            switch (byte) {
            case op_read_ext:
            case op_set_high:
                port.args_needed = 2;
                break;
            case op_write_ext:
                port.args_needed = 3;
                break;
            case op_send_immediate:
                if (sim_tracing())
                    sim_trace("cmd send-immediate");
                port.released = port.queue.size();
                break;
            case op_read_high: {
                // Lines not set as outputs are pulled up and read 1.
                unsigned v = (port.gpio_value & port.gpio_direction) | (~port.gpio_direction & 0xFFu);
                if (sim_tracing())
                    sim_trace("cmd gpio-high read -> 0x%02x", v);
                reply(port, static_cast<uint8_t>(v));
                break;
            }
            default:
                if (sim_tracing())
                    sim_trace("cmd bad-opcode 0x%02x -> 0x%02x 0x%02x", byte, bad_command, byte);
                reply(port, bad_command);
                reply(port, byte);
                break;
            }
            continue;
        }
        port.args[port.args_have++] = byte;
        if (port.args_have == port.args_needed) {
            port.args_needed = 0;
            run_command(port, board);
        }
    }
}

void sim_port_purge(sim_port &port, bool rx, bool tx)
{
    if (rx) {
        port.queue.clear();
        port.head = port.released = 0;
    }
    if (tx)
        port.args_needed = 0;
}

size_t sim_port_available(sim_port &port)
{
    run_timer(port);
    return port.released - port.head;
}

size_t sim_port_read(sim_port &port, uint8_t *dest, size_t count)
{
    run_timer(port);
    if (port.released - port.head < count && port.released != port.queue.size()) {
        std::this_thread::sleep_until(release_time(port));
        port.released = port.queue.size();
    }
    size_t n = std::min(count, port.released - port.head);
    if (n)
        std::memcpy(dest, port.queue.data() + port.head, n);
    port.head += n;
    if (port.head == port.queue.size()) {
        port.queue.clear();
        port.head = port.released = 0;
    } else if (port.head >= queue_reserve / 2) {
        port.queue.erase(port.queue.begin(), port.queue.begin() + static_cast<std::ptrdiff_t>(port.head));
        port.released -= port.head;
        port.head = 0;
    }
    return n;
}
