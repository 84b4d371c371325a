// The MPSSE command stream: which interface takes it, parsing, replies held
// until Send Immediate or the latency timer, short reads and purging.
#include "simkit.h"

#include <chrono>
#include <thread>

TEST_F(sim_test, CommandsSplitAcrossWritesAndBadOpcodes)
{
    // Interface A before host bus mode and B in it ignore every byte: had
    // they set I9 high, B0 would float low below.
    FT_HANDLE a = nullptr, b = nullptr;
    ASSERT_EQ(open_serial("GS000001A", &a), FT_OK);
    ASSERT_EQ(open_serial("GS000001B", &b), FT_OK);
    EXPECT_EQ(FT_SetBitMode(b, 0x00, 0x08), FT_OK);
    for (FT_HANDLE h : {a, b}) {
        write_bytes(h, bus_write(0x0200, 0x03) + bytes{0xAA, 0x87});
        EXPECT_EQ(queued(h), 0u);
    }
    EXPECT_EQ(FT_SetBitMode(a, 0x00, 0x08), FT_OK);
    // I0..I7 high in three pieces, the read in two: B7 = I0 AND I1,
    // B3 = I4 XOR B5 and B0 = I6 read high.
    for (bytes piece : {bytes{0x93}, bytes{0x01, 0x00}, bytes{0xFF, 0x91, 0x00}, bytes{0x00, 0x87}})
        write_bytes(a, piece);
    EXPECT_EQ(read_bytes(a, 1), bytes{0x89});
    write_bytes(a, bytes{0xAA} + read_now + bytes{0x00, 0x90, 0x87});
    EXPECT_EQ(read_bytes(a, 8), (bytes{0xFA, 0xAA, 0x89, 0xFA, 0x00, 0xFA, 0x90}));
}

TEST_F(sim_test, RepliesWaitForSendImmediateOrTheLatencyTimer)
{
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(FT_SetLatencyTimer(h, 1), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetLatencyTimer(h, 255), FT_OK);
    // A read without Send Immediate is held; a read of the queue waits for
    // the latency timer and then returns it. Send Immediate releases at once.
    write_bytes(h, {0x91, 0x00, 0x00});
    EXPECT_EQ(queued(h), 0u);
    EXPECT_EQ(read_bytes(h, 10), bytes{pins_at_reset});
    write_bytes(h, read_now);
    EXPECT_EQ(queued(h), 1u);
}

TEST_F(sim_test, PurgeEmptiesTheQueues)
{
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(FT_SetLatencyTimer(h, 2), FT_OK);
    // Released and held replies go, and so does a half-received command:
    // else the next read would finish it as a write to 0x0091.
    write_bytes(h, read_now + bytes{0x91, 0x00, 0x00, 0x93, 0x00});
    EXPECT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(queued(h), 0u);
    write_bytes(h, read_now);
    EXPECT_EQ(read_bytes(h, 3), bytes{pins_at_reset});
    // The transmit side alone keeps the replies.
    write_bytes(h, read_now);
    EXPECT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
    EXPECT_EQ(read_bytes(h, 3), bytes{pins_at_reset});
}
