// The adapter boards' bus maps and the chips in the socket: dump replay
// through both boards, the two worked examples, and the time a sweep takes.
#include "simkit.h"
#include "testkit.h"

#include <chrono>
#include <cstdio>

namespace {

using bytes = std::vector<uint8_t>;

// A chip whose every output and enable depends on the inputs in a way that
// no bit swap leaves alone, and whose undriven pins show the weak levels.
void scrambled_chip(unsigned ix, unsigned, unsigned &oe, unsigned &out)
{
    unsigned h = (ix * 2654435761u) >> 7;
    oe = (h ^ (ix >> 3)) & 0xFF;
    out = (h >> 8) & 0xFF;
}

class board_test : public sim_test {
protected:
    std::string dir = make_temp_dir();
    std::string dump_path = dir + "/chip.bin";
    bytes dump = make_dump(scrambled_chip);

    // Board variant b ('a' or 'b') with the scrambled chip's dump, and
    // interface A open in host bus mode.
    FT_HANDLE start(char board)
    {
        write_file(dump_path, dump);
        set_env("FTD2XX_SIM_BOARD", std::string(1, board));
        set_env("FTD2XX_SIM_CHIP", "dump:" + dump_path);
        ftd2xx_sim_reinit();
        return open_host_bus();
    }
};

} // namespace

TEST_F(board_test, SweepThroughBoardAReproducesTheDump)
{
    FT_HANDLE h = start('a');
    auto t = std::chrono::steady_clock::now();
    bytes image = sweep(h, 'a');
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    std::printf("whole sweep through the simulated module: %.3f s\n", s);
    EXPECT_LT(s, 5.0);
    EXPECT_TRUE(image == dump);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(board_test, SweepThroughBoardBReproducesTheDump)
{
    FT_HANDLE h = start('b');
    EXPECT_TRUE(sweep(h, 'b') == dump);
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(board_test, EachInputLatchBitReachesItsInput)
{
    // One input at a time, so that a swapped pair of wires shows up by
    // name rather than as a mismatch somewhere in a sweep.
    for (char board : {'a', 'b'}) {
        FT_HANDLE h = start(board);
        for (unsigned n = 0; n < 10; n++) {
            unsigned ix = 1u << n, rx = 0x5A;
            EXPECT_EQ(read_pins(h, board, ix, rx), dump[rx * 1024 + ix]) << board << " I" << n;
        }
        EXPECT_EQ(FT_Close(h), FT_OK);
    }
}

TEST_F(board_test, UnmappedAddressesReadHighAndIgnoreWrites)
{
    FT_HANDLE h = start('a');
    const unsigned ix = 0x2C5, rx = 0x93;
    unsigned expected = dump[rx * 1024 + ix];
    ASSERT_EQ(read_pins(h, 'a', ix, rx), expected);
    // Writes to nothing (board A has no latches at 0x0300 and 0x0400) leave
    // what the chip sees alone.
    write_bytes(h, bus_write(0x0001, 0xFF));
    write_bytes(h, bus_write(0x0300, 0xFF));
    write_bytes(h, bus_write(0x0400, 0xFF));
    write_bytes(h, bus_write(0x0500, 0xFF));
    write_bytes(h, bus_write(0x1000, 0xFF));
    bytes cmd;
    for (unsigned addr : {0x0100u, 0x0200u, 0x0500u, 0x0001u, 0xFF00u, 0x0000u}) {
        bytes r = bus_read(addr);
        cmd.insert(cmd.end(), r.begin(), r.end());
    }
    cmd.push_back(0x87);
    write_bytes(h, cmd);
    EXPECT_EQ(read_bytes(h, 6), (bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(expected)}));
    EXPECT_EQ(FT_Close(h), FT_OK);

    // Board B: the pin buffer moved to 0x0500; 0x0300 and 0x0400 are
    // latches that drive nothing.
    h = start('b');
    ASSERT_EQ(read_pins(h, 'b', ix, rx), expected);
    write_bytes(h, bus_write(0x0300, 0xFF));
    write_bytes(h, bus_write(0x0400, 0xFF));
    write_bytes(h, bus_read(0x0000) + bus_read(0x0600) + bus_read(0x0500) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 3), (bytes{0xFF, 0xFF, static_cast<uint8_t>(expected)}));
    EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(board_test, LatchesKeepTheirLevelsAcrossCloseAndStartLow)
{
    FT_HANDLE h = start('a');
    // Power-up: every latch 0.
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 1), bytes{dump[0]});
    write_bytes(h, bus_write(0x0000, 0x11) + bus_write(0x0100, 0x22) + bus_write(0x0200, 0x03));
    EXPECT_EQ(FT_Close(h), FT_OK);
    h = open_host_bus();
    write_bytes(h, bus_read(0x0000) + bytes{0x87});
    EXPECT_EQ(read_bytes(h, 1), bytes{dump[0x11 * 1024 + 0x322]});
    EXPECT_EQ(FT_Close(h), FT_OK);
}

namespace {

unsigned bit(unsigned v, unsigned n)
{
    return (v >> n) & 1;
}

// The worked examples as their descriptions give them.
void u12_model(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = 0x80 | bit(ix, 2) << 6 | 0x10 | 0x08 | (bit(ix, 5) ^ 1) << 2 | (bit(ix, 9) ^ 1);
    out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1) << 6 | (bit(ix, 4) ^ bit(rx, 5)) << 3 | 0x04 |
          bit(ix, 6);
}

void pal_model(unsigned ix, unsigned, unsigned &oe, unsigned &out)
{
    oe = bit(ix, 9) ? 0x0F : 0xFF;
    out = (bit(ix, 0) & bit(ix, 1)) | (bit(ix, 2) | bit(ix, 3)) << 1 | (bit(ix, 4) ^ 1) << 2 |
          (bit(ix, 5) ^ bit(ix, 6)) << 3 | bit(ix, 7) << 4 | (bit(ix, 8) & bit(ix, 0)) << 5 |
          ((bit(ix, 1) | bit(ix, 2)) ^ 1) << 6 | (bit(ix, 3) | bit(ix, 8)) << 7;
}

} // namespace

TEST_F(sim_test, ExampleChipsBehaveAsDescribed)
{
    // The default chip is example:u12. A few conditions by hand: all low
    // (only B2 driven high); weak levels all high (B6, B5, B2's float and
    // B1 read 1, B3 = I4 XOR B5 = 1, B4 and B0 driven low); I2, I5 and I9
    // high (B6 = NOT I3 driven high, B2 and B0 floating low).
    FT_HANDLE h = open_host_bus();
    EXPECT_EQ(read_pins(h, 'a', 0x000, 0x00), 0x04u);
    EXPECT_EQ(read_pins(h, 'a', 0x000, 0xFF), 0x6Eu);
    EXPECT_EQ(read_pins(h, 'a', 0x224, 0x00), 0x40u);
    EXPECT_TRUE(sweep(h, 'a') == make_dump(u12_model));
    EXPECT_EQ(FT_Close(h), FT_OK);

    set_env("FTD2XX_SIM_CHIP", "example:pal");
    set_env("FTD2XX_SIM_BOARD", "b");
    ftd2xx_sim_reinit();
    h = open_host_bus();
    // All low: B2 = NOT I4 and B6 = NOT I1 AND NOT I2 high. I9 high lets
    // B4..B7 float to their weak levels.
    EXPECT_EQ(read_pins(h, 'b', 0x000, 0x00), 0x44u);
    EXPECT_EQ(read_pins(h, 'b', 0x200, 0xA0), 0xA4u);
    EXPECT_TRUE(sweep(h, 'b') == make_dump(pal_model));
    EXPECT_EQ(FT_Close(h), FT_OK);
}
