#include "timing.h"

#include <algorithm>
#include <cstdio>

void sim_usb_reset(sim_usb_port &usb)
{
    usb = sim_usb_port();
}

// The time n reply bytes take on the wire, in packets of 62 data bytes.
static uint64_t in_us(uint64_t n)
{
    uint64_t packets = (n + usb_in_packet_data - 1) / usb_in_packet_data;
    return (n + packets * usb_in_packet_status) * usb_byte_us;
}

// The first frame start at or after t.
static uint64_t next_frame(uint64_t t)
{
    return (t + usb_frame_us - 1) / usb_frame_us * usb_frame_us;
}

// The held bytes go out as one batch, released at released_us.
static void send_held(sim_usb_port &usb, uint64_t released_us)
{
    usb.batches.push_back({usb.made, next_frame(released_us) + in_us(usb.made - usb.sent)});
    usb.sent = usb.made;
}

static uint64_t latency_end(const sim_usb_port &usb, const sim_port &port)
{
    return usb.held_since_us + port.latency_ms * uint64_t{1000};
}

// The held bytes go out on the latency timer.
static void time_out(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port)
{
    send_held(usb, latency_end(usb, port));
    clock.timed_out++;
}

void sim_usb_write(sim_usb_clock &clock, sim_usb_port &usb, sim_port &port, sim_board &board,
                   const uint8_t *data, size_t count)
{
    uint64_t start = clock.now_us + usb_transfer_us;
    for (size_t i = 0; i < count; i++) {
        size_t made = port.queue.size(), released = port.released;
        sim_port_write(port, board, data + i, 1);
        uint64_t at = start + (i + 1) * usb_byte_us;
        if (port.queue.size() != made) {
            // A reply made after the held ones' timer ran out starts a batch of its own.
            if (usb.made != usb.sent && latency_end(usb, port) <= at)
                time_out(clock, usb, port);
            if (usb.made == usb.sent)
                usb.held_since_us = at;
            usb.made += port.queue.size() - made;
        }
        if (port.released != released && usb.made != usb.sent) {
            send_held(usb, at);
            clock.flushed++;
        }
    }
    clock.now_us = start + count * usb_byte_us;
    clock.writes++;
    clock.bytes_out += count;
    clock.unreported = true;
}

// The time at which the first count bytes not yet taken have all arrived.
// The module has released them, so held ones went out on the latency timer.
static uint64_t arrival(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port, size_t count)
{
    uint64_t last = usb.taken + count;
    if (last > usb.sent && usb.made != usb.sent)
        time_out(clock, usb, port);
    for (const sim_usb_batch &b : usb.batches) {
        if (b.end >= last)
            return b.ready_us;
    }
    return clock.now_us; // bytes no command made: nothing to wait for
}

void sim_usb_read(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port, size_t count)
{
    uint64_t ready = count ? arrival(clock, usb, port, count) : clock.now_us;
    clock.now_us = std::max(clock.now_us, ready) + usb_transfer_us;
    usb.taken += count;
    usb.batches.erase(std::remove_if(usb.batches.begin(), usb.batches.end(),
                                     [&](const sim_usb_batch &b) { return b.end <= usb.taken; }),
                      usb.batches.end());
    clock.reads++;
    clock.bytes_in += count;
    clock.unreported = true;
}

void sim_usb_queued(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port, size_t count)
{
    if (count)
        clock.now_us = std::max(clock.now_us, arrival(clock, usb, port, count));
}

std::string sim_usb_report(const sim_usb_clock &clock)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "Modelled USB time: %llu.%06llu s (writes: %llu, %llu bytes; reads: %llu, %llu bytes; "
                  "replies: %llu on Send Immediate, %llu on the latency timer)",
                  static_cast<unsigned long long>(clock.now_us / 1000000),
                  static_cast<unsigned long long>(clock.now_us % 1000000), clock.writes, clock.bytes_out,
                  clock.reads, clock.bytes_in, clock.flushed, clock.timed_out);
    return line;
}
