// The USB timing model: its arithmetic on short call sequences, and the
// modelled time of a whole dump on each board.
#include "simkit.h"
#include "testkit.h"

#include <cstdio>
#include <cstring>

namespace {

// What FTD2XX_SIM_TIME=1 prints on standard error when h, the only open
// handle, closes.
std::string closing_report(FT_HANDLE h)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(FT_Close(h), FT_OK);
    return testing::internal::GetCapturedStderr();
}

} // namespace

TEST_F(sim_test, ModelledTimeOfAReplyAfterSendImmediate)
{
    restart_with("FTD2XX_SIM_TIME", "1");
    FT_HANDLE h = open_host_bus();
    // 63 reads and Send Immediate, 190 bytes: in at 64 + 190 us, the reply
    // waits for the frame at 1000 us and takes two IN packets, 63 + 2 * 2 us.
    // The queue shows it then, at no cost; the read takes 64 us more.
    bytes cmd;
    for (int i = 0; i < 63; i++)
        cmd = cmd + bytes{0x91, 0x00, 0x00};
    write_bytes(h, cmd + bytes{0x87});
    EXPECT_EQ(queued(h), 63u);
    EXPECT_EQ(read_bytes(h, 63), bytes(63, pins_at_reset));
    EXPECT_EQ(closing_report(h), "Modelled USB time: 0.001131 s (writes: 1, 190 bytes; reads: 1, 63 bytes; "
                                 "replies: 1 on Send Immediate, 0 on the latency timer)\n");
}

TEST_F(sim_test, ModelledTimeOfAReplyOnTheLatencyTimer)
{
    restart_with("FTD2XX_SIM_TIME", "1");
    FT_HANDLE h = open_host_bus();
    // A read without Send Immediate: made at 64 + 3 us, held for the 16 ms of
    // the latency timer, then the frame at 17000 us and one packet of 3 us;
    // the read returns at 17067 us.
    write_bytes(h, {0x91, 0x00, 0x00});
    EXPECT_EQ(read_bytes(h, 1), bytes{pins_at_reset});
    // With the timer at 2 ms: made at 17067 + 64 + 3, out at 20000 + 3, read at 20067.
    EXPECT_EQ(FT_SetLatencyTimer(h, 2), FT_OK);
    write_bytes(h, {0x91, 0x00, 0x00});
    EXPECT_EQ(read_bytes(h, 1), bytes{pins_at_reset});
    EXPECT_EQ(closing_report(h), "Modelled USB time: 0.020067 s (writes: 2, 6 bytes; reads: 2, 2 bytes; "
                                 "replies: 0 on Send Immediate, 2 on the latency timer)\n");
}

TEST_F(sim_test, ModelledTimeOfAWholeDump)
{
    std::string dir = make_temp_dir();
    const std::pair<const char *, const char *> boards[] = {{"a", GATESWEEP_EXE}, {"b", GATESWEEP_B_EXE}};
    for (const auto &board : boards) {
        run_result r = run_program(dir, {"FTD2XX_SIM_TIME=1", std::string("FTD2XX_SIM_BOARD=") + board.first},
                                   board.second, {"dump", "u12.bin"});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        const char *line = std::strstr(r.err.c_str(), "Modelled USB time: ");
        ASSERT_NE(line, nullptr) << r.err;
        unsigned long long s = 0, us = 0, writes = 0, out = 0, reads = 0, in = 0, flushed = 0, timed_out = 0;
        int fields = 0;
        ASSERT_EQ(std::sscanf(line,
                              "Modelled USB time: %llu.%6llu s (writes: %llu, %llu bytes; reads: %llu, %llu bytes; "
                              "replies: %llu on Send Immediate, %llu on the latency timer)\n%n",
                              &s, &us, &writes, &out, &reads, &in, &flushed, &timed_out, &fields),
                  8)
            << line;
        EXPECT_EQ(line + fields, r.err.c_str() + r.err.size()) << "the report is the last line";
        // A write of 11269 bytes and a read of 1024 per 1024 conditions, each
        // reply on Send Immediate.
        EXPECT_EQ(reads, 256u);
        EXPECT_EQ(in, dump_size);
        EXPECT_EQ(flushed, 256u);
        EXPECT_EQ(timed_out, 0u);
        EXPECT_GE(out, 256u * 11269);
        // Every write's cost and bytes, every reply's 1024 + 17 * 2 us of IN
        // packets and its read's 64 us, and less than a frame's wait for each.
        unsigned long long floor = 64 * writes + out + 256 * (1058 + 64), t = s * 1000000 + us;
        EXPECT_GE(t, floor) << board.first;
        EXPECT_LT(t, floor + 256 * 1000) << board.first;
    }
}
