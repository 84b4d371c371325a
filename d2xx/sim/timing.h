// A model of the USB timing of a full-speed FT2232: how long the D2XX calls
// of a run would take on the real module. It only counts; nothing waits for
// it. With FTD2XX_SIM_TIME=1 the library prints its total at the end of the
// run.
//
// The figures, with their sources (the README lists them too):
// - Data moves at the chip's sustained rate of 1 MB/s: 1 us per byte of a
//   USB packet (FT2232D datasheet). An OUT byte is one packet byte; every
//   IN packet of 64 bytes carries 2 status bytes and 62 data bytes
//   (AN232B-03), so n reply bytes take n + 2 * ceil(n / 62) us.
// - Every FT_Write and every FT_Read costs usb_transfer_us besides its
//   bytes: the request's way through the driver and the host controller.
//   The notes give no figure for it; ours is the time of one 64-byte packet.
// - Reply bytes are held in the chip until a Send Immediate (0x87) or until
//   the latency timer (16 ms unless FT_SetLatencyTimer set another) runs out
//   from the first byte held (AN232B-03, AN_108). Then they wait for the
//   host's next poll of the IN endpoint, the next start of a 1 ms frame
//   (USB 2.0, full speed), and arrive after their IN bytes' time.
// - A write takes its bytes in one stream: byte i of a write that starts at
//   t arrives at t + usb_transfer_us + (i + 1) us, and the command it ends
//   runs then. The write returns when its last byte has arrived.
// - A read returns usb_transfer_us after the last byte it takes arrived, or
//   after the call when that byte is in already. FT_GetQueueStatus is the
//   driver's count and costs nothing, but the bytes it shows have arrived.
// - The other calls cost nothing, and so does a call that fails.
// The model follows the simulated module: reply bytes go out in the batches
// in which the module releases them (a full IN packet does not go on its
// own).
#ifndef SIM_TIMING_H
#define SIM_TIMING_H

#include "board.h"
#include "mpsse.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint64_t usb_byte_us = 1;
constexpr uint64_t usb_transfer_us = 64;
constexpr uint64_t usb_frame_us = 1000;
constexpr uint64_t usb_in_packet_data = 62;
constexpr uint64_t usb_in_packet_status = 2;

// Reply bytes that reach the host together: bytes up to end (counted from
// the port's open) are in at ready_us.
struct sim_usb_batch {
    uint64_t end;
    uint64_t ready_us;
};

// One interface's replies in the model, counted from its open or last
// purge of the receive side.
struct sim_usb_port {
    uint64_t made = 0;          // reply bytes the commands made
    uint64_t taken = 0;         // of them read
    uint64_t sent = 0;          // of them in batches; the rest are held
    uint64_t held_since_us = 0; // when the first held byte was made
    std::vector<sim_usb_batch> batches;
};

// The modelled clock of the library and what it counted.
struct sim_usb_clock {
    uint64_t now_us = 0;
    unsigned long long writes = 0, bytes_out = 0, reads = 0, bytes_in = 0;
    unsigned long long flushed = 0, timed_out = 0; // batches sent by Send Immediate, by the latency timer
    bool unreported = false;                       // counted more since the last report
};

// Nothing made, nothing held: a port opened or its receive side purged.
void sim_usb_reset(sim_usb_port &usb);

// An FT_Write that hands count bytes to the command processor: feeds them
// to port one by one and follows the replies they make and release.
void sim_usb_write(sim_usb_clock &clock, sim_usb_port &usb, sim_port &port, sim_board &board,
                   const uint8_t *data, size_t count);

// An FT_Read that took count bytes.
void sim_usb_read(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port, size_t count);

// An FT_GetQueueStatus that showed count bytes.
void sim_usb_queued(sim_usb_clock &clock, sim_usb_port &usb, const sim_port &port, size_t count);

// The line that reports the clock, without its newline:
// "Modelled USB time: 3.364096 s (writes: 258, 2884884 bytes; reads: 256,
// 262144 bytes; replies: 256 on Send Immediate, 0 on the latency timer)".
std::string sim_usb_report(const sim_usb_clock &clock);

#endif
