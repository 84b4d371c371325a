// Fuse-map models against known answers: designs written with the kit, read
// out in bus order and compared with formulas. Then reading fuse maps: the
// layouts that programmers and assemblers write, and what is refused.
#include "chip.h"
#include "jedec_file.h"
#include "jedec_kit.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Drives a chip as the sweep drives the adapter: the reset (weak drive, high
// and low input latches, all 0), then per block the weak drive and per step
// the high input latch (I8, I9), the low one (I0..I7) and a read.
std::vector<uint8_t> sweep(sim_chip &chip)
{
    std::vector<uint8_t> dump(dump_size);
    unsigned ix = 0;
    chip.drive(0, 0), chip.drive(0, 0), chip.drive(0, 0);
    for (unsigned rx = 0; rx < 256; rx++) {
        chip.drive(ix, rx);
        for (unsigned next = 0; next < 1024; next++) {
            chip.drive((next & 0x300) | (ix & 0xFF), rx);
            chip.drive(ix = next, rx);
            dump[rx * 1024 + ix] = static_cast<uint8_t>(chip.read());
        }
    }
    return dump;
}

std::unique_ptr<sim_chip> load(jk_device dev, const char *design, std::string path = make_temp_dir() + "/chip.jed")
{
    std::string err;
    write_text(path, jk_text(jk_fuses(jk_parse(dev, design))));
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip(jk_device_name(dev), path, err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }
// Rising edges of pin 1 before the reading at (rx, ix) in a sweep: one at every odd ix.
unsigned edges(unsigned rx, unsigned ix) { return rx * 512 + (ix + 1) / 2; }

} // namespace

TEST(JedecModel, KnownAnswers)
{
    struct known { const char *what; jk_device dev; const char *design; chip_fn want; };
    const known cases[] = {
        {"blank: every term holds x and /x", jk_pal16l8, "",
         [](unsigned, unsigned, unsigned &oe, unsigned &) { oe = 0; }},
        // Active low. B7 = I0 & I1, B6 = /I3 while I2, B5 = I4 ^ I5, B2 = I5 & I6, B1 = /B2 | I7,
        // B3 = I4 while I8, B4 = B3 (B3's weak level while it floats), B0 = /I6 while /I9.
        {"gates, enables, feedback", jk_pal16l8,
         "B7: /I0, /I1; B6 oe I2: I3; B5: I4 I5, /I4 /I5; B2: /I5, /I6; B1: B2 /I7; "
         "B3 oe I8: /I4; B4: /B3; B0 oe /I9: I6",
         [](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
             unsigned b2 = bit(ix, 5) & bit(ix, 6), b3 = bit(ix, 8) ? bit(ix, 4) : bit(rx, 3);
             oe = 0xB6 | bit(ix, 2) << 6 | bit(ix, 8) << 3 | (bit(ix, 9) ^ 1);
             out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1) << 6 | (bit(ix, 4) ^ bit(ix, 5)) << 5 | b3 << 4 |
                   b3 << 3 | b2 << 2 | ((b2 ^ 1) | bit(ix, 7)) << 1 | (bit(ix, 6) ^ 1);
         }},
        // B2..B0 count up at every edge (the terms give the inverse of the next count), 7 before the
        // first as Q = 0 at power-up; B7..B3, blank, read high. All driven while I9 is low.
        {"PAL16R8 counter", jk_pal16r8, "B0 r: B0; B1 r: B1 B0, /B1 /B0; B2 r: B2 B1 B0, /B2 /B1, /B2 /B0",
         [](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
             oe = bit(ix, 9) ? 0 : 0xFF, out = 0xF8 | ((7 + edges(rx, ix)) & 7);
         }},
        // B6 = I0 (its second term disabled), B5 = /B7 (pin 19 as an input), B4 without terms high,
        // B3 = I1 & I2 (pin 15, always driven), B0 = B7 & I3.
        {"GAL16V8 simple", jk_gal_simple, "B6 h: I0, I5 off; B5: B7; B4:; B3 h: I1 I2; B0 h: B7 I3",
         [](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
             oe = 0x79, out = bit(ix, 0) << 6 | (bit(rx, 7) ^ 1) << 5 | 1 << 4 | (bit(ix, 1) & bit(ix, 2)) << 3 |
                              (bit(rx, 7) & bit(ix, 3));
         }},
        // B7 = I0 & I1 while /I9 (no feedback from pin 19 here), B2 = /I2 while I8, B3 = B2 & I3.
        {"GAL16V8 complex", jk_gal_complex, "B7 h oe /I9: I0 I1; B2 oe I8: I2; B3 h: B2 I3",
         [](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
             unsigned b2 = bit(ix, 8) ? bit(ix, 2) ^ 1 : bit(rx, 2);
             oe = (bit(ix, 9) ? 0 : 0x80) | bit(ix, 8) << 2 | 0x08;
             out = (bit(ix, 0) & bit(ix, 1)) << 7 | b2 << 2 | (b2 & bit(ix, 3)) << 3;
         }},
        // B1 toggles at every edge, high at power-up whatever the polarity; B0 shows B1's register while I8.
        {"GAL16V8 registered", jk_gal_registered, "B1 r h: /B1; B0 h oe I8: B1",
         [](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
             unsigned b1 = (edges(rx, ix) & 1) ^ 1;
             oe = (bit(ix, 9) ? 0 : 0x02) | bit(ix, 8), out = b1 << 1 | b1;
         }},
    };
    for (const known &c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<sim_chip> chip = load(c.dev, c.design);
        ASSERT_TRUE(chip);
        std::vector<uint8_t> got = sweep(*chip), want = make_dump(c.want);
        size_t diff = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
        EXPECT_EQ(diff, dump_size) << "first difference at 0x" << std::hex << diff;
    }
}

TEST(JedecModel, CrossCoupledGatesHoldTheirState)
{
    // NOR latch: B3 = /(I1 | B4), B4 = /(I0 | B3). Steps of ix, rx and B4 B3
    // read: set, held, weak levels do not reach driven pins, reset, held,
    // both, both released at once (B4 is updated first).
    std::unique_ptr<sim_chip> chip = load(jk_pal16l8, "B3: I1, B4; B4: I0, B3");
    ASSERT_TRUE(chip);
    const unsigned steps[][3] = {{1, 0, 1}, {0, 0, 1}, {0, 0xFF, 1}, {2, 0xFF, 2}, {0, 0, 2}, {3, 0, 0}, {0, 0, 2}};
    for (const auto &s : steps) {
        chip->drive(s[0], s[1]);
        EXPECT_EQ(chip->read() >> 3 & 3, s[2]) << "step " << &s - steps;
    }
}

TEST(JedecModel, LoopThatNeverSettlesIsReportedOnce)
{
    std::string path = make_temp_dir() + "/loop.jed";
    testing::internal::CaptureStderr();
    std::unique_ptr<sim_chip> chip = load(jk_pal16l8, "B1: B1", path); // B1 = /B1
    for (unsigned i = 0; chip && i < 6; i++)
        chip->drive(i, i << 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "jedec: " + path + ": feedback through B1 does not settle at "
              "inputs 0x000, weak drive 0x00; keeping the levels after 16 passes (reported once)\n");
}

TEST(JedecParse, LayoutsAndRefusals)
{
    // Texts for a device of eight fuses: the fuses they give, or the reason.
    const std::pair<std::string, std::string> cases[] = {
        {"\x02\r\nnotes*QF8*L0 0101 1010*C005A*\r\n\x03" "0000", "01011010"},
        {"notes*L0000\r\n0101\r\n1010*", "01011010"}, // no STX, QF or C; an L field over lines
        {"notes*F1*L2 00*C00F3*", "11001111"},
        {"notes*F0*L6 11*C00c0*", "00000011"},
        {"notes*QF9*L0 0*", "the file is for 9 fuses, but the device has 8"},
        {"notes*L6 010*", "the fuse list reaches fuse 8, but the device has 8 fuses"},
        {"notes*L0 01011010*C005B*", "fuse checksum mismatch: the file says 005B, its fuses give 005A"},
        {"Just some notes about a chip.\r\n", "not a JEDEC fuse map (no field ends in '*')"},
        {"\x02 notes*QF8*F0*G0*\x03" "0000", "not a JEDEC fuse map (no L field)"},
        {"notes*L0000 0101x0*", "the L field at fuse 4 holds `x', not a fuse state"},
        {"notes*L 0101*", "an L field has no fuse number"},
        {"notes*L0000 0101*C12G4*", "the C field `C12G4' is not a 4-digit fuse checksum"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> fuses;
        std::string err, got;
        bool ok = jedec_parse(c.first, 8, fuses, err);
        for (uint8_t f : fuses)
            got += static_cast<char>('0' + f);
        EXPECT_EQ(ok ? got : err, c.second) << c.first;
    }
}

TEST(JedecParse, ChipsRefuseWhatTheyCannotModel)
{
    std::string dir = make_temp_dir(), err;
    write_text(dir + "/pal.jed", jk_text(std::vector<uint8_t>(2048)));
    write_text(dir + "/gal.jed", jk_text(std::vector<uint8_t>(2194)));
    EXPECT_TRUE(sim_make_jedec_chip("pal16l8", dir + "/pal.jed", err)) << err;
    const char *const cases[][3] = {
        {"GAL16V8", "gal.jed", "the mode fuses SYN=0 AC0=0 select no GAL16V8 mode"},
        {"PAL16L8", "gal.jed", "the file is for 2194 fuses, but the device has 2048"},
        {"GAL16V8", "pal.jed", "the file is for 2048 fuses, but the device has 2194"},
        {"PAL20V8", "pal.jed", "unknown device `PAL20V8' (PAL16L8, PAL16R4, PAL16R6, PAL16R8 or GAL16V8)"},
        {"PAL16L8", "none.jed", "cannot open the fuse map"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sim_make_jedec_chip(c[0], dir + "/" + c[1], err) ? "loaded" : err, c[2]) << c[0] << " " << c[1];
}
