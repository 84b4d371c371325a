// The FT2232's MPSSE command processor in MCU Host Bus Emulation mode, one
// per interface: parses the written byte stream (commands may be split
// across writes), runs bus cycles on the adapter board, and keeps the reply
// bytes, held back until a Send Immediate or until the latency timer runs
// out, in real time.
#ifndef SIM_MPSSE_H
#define SIM_MPSSE_H

#include "board.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

using sim_clock = std::chrono::steady_clock;

struct sim_port {
    // Written bytes are commands only in host bus mode (bit mode 0x08 on
    // interface A); otherwise they are accepted and dropped.
    bool host_bus = false;
    unsigned latency_ms = 16;

    // Command being collected: opcode and the argument bytes so far.
    uint8_t opcode = 0;
    unsigned args_needed = 0;   // 0: the next byte is an opcode
    unsigned args_have = 0;
    std::array<uint8_t, 3> args{};

    // Receive queue: bytes [head, released) can be read, bytes from
    // released to the end are held since held_since.
    std::vector<uint8_t> queue;
    size_t head = 0;
    size_t released = 0;
    sim_clock::time_point held_since{};

    // High GPIO byte (0x82 / 0x83); kept over open and close.
    uint8_t gpio_value = 0;
    uint8_t gpio_direction = 0;
};

// Empty queues and parser, latency 16 ms, host bus mode off; room reserved
// so that a sweep's replies need no allocation.
void sim_port_open(sim_port &port);

// Feeds written bytes to the command processor.
void sim_port_write(sim_port &port, sim_board &board, const uint8_t *data, size_t count);

// Empties the receive side (replies, held ones included) and/or the
// transmit side (a partly received command).
void sim_port_purge(sim_port &port, bool rx, bool tx);

// Bytes that can be read now (held bytes whose latency time is up count).
size_t sim_port_available(sim_port &port);

// Reads up to count bytes into dest and returns how many. Held bytes are
// waited for until their latency time is up; bytes that no command asked
// for are not waited for.
size_t sim_port_read(sim_port &port, uint8_t *dest, size_t count);

#endif
