// The MPSSE command stream of interface A: parsing, replies, the holding of
// replies until Send Immediate or the latency timer, purging and reading.
#include "simkit.h"

#include <chrono>
#include <thread>

namespace {

using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

long long ms_since(clock_type::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t).count();
}

// With the default chip and all latches low, the pin buffer reads 0x04
// (B2 driven high while I5 is low).
constexpr unsigned pins_at_reset = 0x04;

} // namespace

TEST_F(sim_test, CommandsSplitAcrossWritesStillWork)
{
    FT_HANDLE h = open_host_bus();
    // I0..I7 high, in three pieces, then the read in two. The chip then
    // drives B7 = I0 AND I1, B3 = I4 XOR B5 and B0 = I6 high.
    write_bytes(h, {0x93});
    write_bytes(h, {0x01, 0x00});
    write_bytes(h, {0xFF, 0x91, 0x00});
    write_bytes(h, {0x00, 0x87});
    EXPECT_EQ(read_bytes(h, 1), bytes{0x89});
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, UnknownOpcodesGetTheBadCommandReply)
{
    FT_HANDLE h = open_host_bus();
    write_bytes(h, bytes{0xAA} + bus_read(0x0000) + bytes{0x00, 0x90, 0x87});
    EXPECT_EQ(read_bytes(h, 7), (bytes{0xFA, 0xAA, pins_at_reset, 0xFA, 0x00, 0xFA, 0x90}));
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, HighGpioByteReadsBackOutputsAndPullUps)
{
    FT_HANDLE h = open_host_bus();
    write_bytes(h, {0x83, 0x82, 0x02, 0x03, 0x83, 0x82, 0x00, 0x01, 0x83, 0x87});
    EXPECT_EQ(read_bytes(h, 3), (bytes{0xFF, 0xFE, 0xFE}));
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, BytesOutsideHostBusModeAreIgnored)
{
    // Interface A before its bit mode is set, and in another mode.
    FT_HANDLE a = open_serial("GS000001A");
    write_bytes(a, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(FT_SetBitMode(a, 0x00, 0x02), FT_OK);
    write_bytes(a, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(queued(a), 0u);
    // Interface B, even in host bus mode.
    FT_HANDLE b = open_serial("GS000001B");
    EXPECT_EQ(FT_SetBitMode(b, 0x00, 0x08), FT_OK);
    write_bytes(b, bus_read(0x0000) + bytes{0xAA, 0x87});
    EXPECT_EQ(queued(b), 0u);
    EXPECT_TRUE(read_bytes(b, 4).empty());
    // None of it touched the board: A in host bus mode reads reset levels.
    EXPECT_EQ(FT_SetBitMode(a, 0x00, 0x08), FT_OK);
    write_bytes(a, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(a, 1), bytes{pins_at_reset});
    EXPECT_EQ(FT_Close(a), FT_OK);
    EXPECT_EQ(FT_Close(b), FT_OK);
}

TEST_F(sim_test, SendImmediateReleasesRepliesAtOnce)
{
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(FT_SetLatencyTimer(h, 255), FT_OK);
    clock_type::time_point t = clock_type::now();
    write_bytes(h, bus_read(0x0000) + bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(queued(h), 2u);
    EXPECT_EQ(read_bytes(h, 2), (bytes{pins_at_reset, pins_at_reset}));
    EXPECT_LT(ms_since(t), 200);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, LatencyTimerReleasesHeldReplies)
{
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(FT_SetLatencyTimer(h, 60), FT_OK);
    EXPECT_EQ(FT_SetLatencyTimer(h, 1), FT_INVALID_PARAMETER);

    // Watched through the queue status: not before 60 ms.
    clock_type::time_point t = clock_type::now();
    write_bytes(h, bus_read(0x0000));
    EXPECT_EQ(queued(h), 0u);
    while (queued(h) == 0 && ms_since(t) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GE(ms_since(t), 60);
    EXPECT_EQ(queued(h), 1u);
    EXPECT_EQ(read_bytes(h, 1), bytes{pins_at_reset});

    // A read waits for them.
    t = clock_type::now();
    write_bytes(h, bytes{0x83});
    EXPECT_EQ(read_bytes(h, 1), bytes{0xFF});
    EXPECT_GE(ms_since(t), 60);
    EXPECT_LT(ms_since(t), 2000);

    // Replies that arrive after a Send Immediate are held again.
    write_bytes(h, bus_read(0x0000) + bytes{0x87} + bus_read(0x0000));
    EXPECT_EQ(queued(h), 1u);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, ReadReturnsShortInsteadOfHanging)
{
    FT_HANDLE h = open_host_bus();
    clock_type::time_point t = clock_type::now();
    EXPECT_TRUE(read_bytes(h, 10).empty());
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 10), bytes{pins_at_reset});
    EXPECT_LT(ms_since(t), 500);
    // Held replies are waited for, then the call returns what there is.
    write_bytes(h, bus_read(0x0000) + bus_read(0x0000));
    EXPECT_EQ(read_bytes(h, 10), (bytes{pins_at_reset, pins_at_reset}));
    EXPECT_GE(ms_since(t), 16);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(sim_test, PurgeEmptiesBothDirections)
{
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(FT_SetLatencyTimer(h, 2), FT_OK);
    // Released and held replies.
    write_bytes(h, bus_read(0x0000) + bytes{0x87} + bus_read(0x0000));
    EXPECT_EQ(queued(h), 1u);
    EXPECT_EQ(FT_Purge(h, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(queued(h), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(queued(h), 0u);

    // The transmit side drops a half-received command: without the purge
    // the next bytes would complete it as a write to 0x0091.
    write_bytes(h, {0x93, 0x00});
    EXPECT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 2), bytes{pins_at_reset});

    // Purging the transmit side alone keeps the replies.
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
    EXPECT_EQ(queued(h), 1u);

    // Reset purges both.
    write_bytes(h, bytes{0x93, 0x00});
    EXPECT_EQ(FT_ResetDevice(h), FT_OK);
    EXPECT_EQ(queued(h), 0u);
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 2), bytes{pins_at_reset});
    EXPECT_EQ(FT_Close(h), FT_OK);
}
