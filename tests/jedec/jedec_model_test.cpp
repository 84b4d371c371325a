// Fuse-map models against known answers: fuse maps built by the test's own
// JEDEC writer, read out in bus order and compared with formulas.
#include "jedec_kit.h"
#include "jedec_sweep.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<sim_chip> load(const jk_design &d, std::string *path_out = nullptr)
{
    std::string path = make_temp_dir() + "/chip.jed";
    write_text(path, jk_text(jk_fuses(d)));
    if (path_out)
        *path_out = path;
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip(jk_device_name(d.device), path, err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

// Compares two dumps; on a difference names the count and the first index.
void expect_same_dump(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want)
{
    ASSERT_EQ(got.size(), want.size());
    unsigned count = 0, first = 0;
    for (unsigned i = 0; i < got.size(); i++) {
        if (got[i] != want[i] && count++ == 0)
            first = i;
    }
    EXPECT_EQ(count, 0u) << "first difference at 0x" << std::hex << first << ": got 0x" << unsigned(got[first])
                         << ", want 0x" << unsigned(want[first]);
}

jk_term hi(std::initializer_list<unsigned> sigs, std::initializer_list<unsigned> low = {})
{
    jk_term t;
    for (unsigned n : sigs)
        t.high |= 1u << n;
    for (unsigned n : low)
        t.low |= 1u << n;
    return t;
}
jk_term lo(std::initializer_list<unsigned> sigs) { return hi({}, sigs); }

constexpr unsigned I0 = 0, I1 = 1, I2 = 2, I3 = 3, I4 = 4, I5 = 5, I6 = 6, I7 = 7, I8 = 8, I9 = 9;
constexpr unsigned B0 = 10, B1 = 11, B2 = 12, B3 = 13, B4 = 14, B5 = 15, B7 = 17;

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

// Edges of pin 1 before the reading at (rx, ix) in a sweep: one at every odd ix.
unsigned edges_before(unsigned rx, unsigned ix) { return rx * 512 + (ix + 1) / 2; }

jk_output comb(std::vector<jk_term> terms) { jk_output o; o.kind = jk_comb; o.terms = terms; return o; }
jk_output comb_oe(jk_term oe, std::vector<jk_term> terms)
{
    jk_output o = comb(terms);
    o.has_oe = true;
    o.oe = oe;
    return o;
}
jk_output reg(std::vector<jk_term> terms) { jk_output o; o.kind = jk_reg; o.terms = terms; return o; }

} // namespace

TEST(JedecModel, BlankChipsFloatOrHoldTheirPowerUpLevel)
{
    // Every fuse intact: every term holds x and /x and never fires.
    jk_design l8;
    std::unique_ptr<sim_chip> chip = load(l8);
    ASSERT_TRUE(chip);
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned, unsigned, unsigned &oe, unsigned &) { oe = 0; }));

    jk_design r8;
    r8.device = jk_pal16r8;
    for (jk_output &o : r8.out)
        o.kind = jk_reg;
    chip = load(r8);
    ASSERT_TRUE(chip);
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                         oe = bit(ix, 9) ? 0 : 0xFF;
                         out = 0xFF;
                     }));
}

TEST(JedecModel, Pal16l8GatesEnablesAndFeedback)
{
    jk_design d; // active-low outputs: the pin is low where a term holds
    d.out[7] = comb({lo({I0}), lo({I1})});                 // B7 = I0 & I1
    d.out[6] = comb_oe(hi({I2}), {hi({I3})});               // B6 = /I3 while I2
    d.out[5] = comb({hi({I4, I5}), lo({I4, I5})});          // B5 = I4 ^ I5
    d.out[2] = comb({lo({I5}), lo({I6})});                  // B2 = I5 & I6
    d.out[1] = comb({hi({B2}, {I7})});                      // B1 = /B2 | I7
    d.out[3] = comb_oe(hi({I8}), {lo({I4})});               // B3 = I4 while I8
    d.out[4] = comb({lo({B3})});                            // B4 = B3, the weak level while B3 floats
    d.out[0] = comb_oe(lo({I9}), {hi({I6})});               // B0 = /I6 while /I9
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                         unsigned b2 = bit(ix, 5) & bit(ix, 6);
                         unsigned b3_driven = bit(ix, 8), b3 = b3_driven ? bit(ix, 4) : bit(rx, 3);
                         oe = 0x80 | (bit(ix, 2) << 6) | 0x20 | 0x04 | 0x02 | (b3_driven << 3) | 0x10 |
                              (bit(ix, 9) ? 0 : 1);
                         out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1) << 6 |
                               (bit(ix, 4) ^ bit(ix, 5)) << 5 | b3 << 4 | b3 << 3 | b2 << 2 |
                               ((b2 ^ 1) | bit(ix, 7)) << 1 | (bit(ix, 6) ^ 1);
                     }));
}

TEST(JedecModel, CrossCoupledGatesHoldTheirState)
{
    jk_design d; // NOR latch: B3 = /(I1 | B4), B4 = /(I0 | B3); I0 sets B3, I1 resets it
    d.out[3] = comb({hi({I1}), hi({B4})});
    d.out[4] = comb({hi({I0}), hi({B3})});
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    auto state = [&] { return chip->read() >> 3 & 3; }; // bit 0: B3, bit 1: B4
    chip->drive(0x001, 0x00);
    EXPECT_EQ(state(), 1u);
    chip->drive(0x000, 0x00);
    EXPECT_EQ(state(), 1u) << "set, then held";
    chip->drive(0x000, 0xFF);
    EXPECT_EQ(state(), 1u) << "weak levels do not reach driven pins";
    chip->drive(0x002, 0xFF);
    EXPECT_EQ(state(), 2u);
    chip->drive(0x000, 0x00);
    EXPECT_EQ(state(), 2u) << "reset, then held";
    chip->drive(0x003, 0x00);
    EXPECT_EQ(state(), 0u);
    chip->drive(0x000, 0x00); // both released at once: B4 is updated first
    EXPECT_EQ(state(), 2u);
}

TEST(JedecModel, LoopThatNeverSettlesIsReportedOnceAndResolvedTheSameWay)
{
    jk_design d;
    d.out[1] = comb({hi({B1})}); // B1 = /B1
    std::string path_a, path_b;
    testing::internal::CaptureStderr();
    std::unique_ptr<sim_chip> a = load(d, &path_a);
    std::unique_ptr<sim_chip> b = load(d, &path_b);
    ASSERT_TRUE(a && b);
    std::vector<unsigned> ra, rb;
    for (unsigned i = 0; i < 6; i++) {
        a->drive(i, i << 1);
        b->drive(i, i << 1);
        ra.push_back(a->read());
        rb.push_back(b->read());
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ra, rb);
    auto line = [](const std::string &path) {
        return "jedec: " + path +
               ": feedback through B1 does not settle at inputs 0x000, weak drive 0x00; keeping the levels after "
               "16 passes (reported once)\n";
    };
    EXPECT_EQ(err, line(path_a) + line(path_b));
}

TEST(JedecModel, Pal16r8CounterCountsEveryRisingEdgeOfPin1)
{
    jk_design d; // B2..B0 count up at each clock (active low: the terms give the inverse of the next count)
    d.device = jk_pal16r8;
    for (jk_output &o : d.out)
        o.kind = jk_reg;
    d.out[0] = reg({hi({B0})});
    d.out[1] = reg({hi({B1, B0}), lo({B1, B0})});
    d.out[2] = reg({hi({B2, B1, B0}), lo({B2, B1}), lo({B2, B0})});
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    // Registers start at Q = 0, so the pins read 7 before the first edge.
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                         oe = bit(ix, 9) ? 0 : 0xFF;
                         out = 0xF8 | ((7 + edges_before(rx, ix)) & 7);
                     }));

    chip = load(d);
    ASSERT_TRUE(chip);
    chip->drive(0x200, 0x00); // outputs off; the registers still count
    chip->drive(0x201, 0x00);
    chip->drive(0x200, 0x05);
    EXPECT_EQ(chip->read(), 0x05u);
    chip->drive(0x000, 0x00);
    EXPECT_EQ(chip->read() & 7, 0u);
    chip->drive(0x000, 0x00); // no edge, no count
    chip->drive(0x001, 0x00);
    chip->drive(0x001, 0x00); // high stays high: no edge
    EXPECT_EQ(chip->read() & 7, 1u);
}

TEST(JedecModel, Gal16v8SimpleModePolarityInputsAndDisabledTerms)
{
    jk_design d;
    d.device = jk_gal_simple;
    d.out[6] = comb({hi({I0}), hi({I5})}); // second term switched off below
    d.out[6].active_high = true;
    d.disabled_rows = {9};
    d.out[5] = comb({hi({B7})});           // B5 = /B7, pin 19 reaching the array as an input
    d.out[4] = comb({});                   // no term: the inactive level, high
    d.out[3] = comb({hi({I1, I2})});       // pin 15: always driven
    d.out[3].active_high = true;
    d.out[0] = comb({hi({B7, I3})});
    d.out[0].active_high = true;
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                         oe = 0x40 | 0x20 | 0x10 | 0x08 | 0x01;
                         out = bit(ix, 0) << 6 | (bit(rx, 7) ^ 1) << 5 | 1 << 4 | (bit(ix, 1) & bit(ix, 2)) << 3 |
                               (bit(rx, 7) & bit(ix, 3));
                     }));
}

TEST(JedecModel, Gal16v8ComplexModeEnablesAndFeedback)
{
    jk_design d;
    d.device = jk_gal_complex;
    d.out[7] = comb_oe(lo({I9}), {hi({I0, I1})}); // pin 19: no feedback in this mode
    d.out[7].active_high = true;
    d.out[2] = comb_oe(hi({I8}), {hi({I2})});     // B2 = /I2 while I8
    d.out[3] = comb({hi({B2, I3})});              // B3 = B2 & I3, the weak B2 while it floats
    d.out[3].active_high = true;
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                         unsigned b2 = bit(ix, 8) ? bit(ix, 2) ^ 1 : bit(rx, 2);
                         oe = (bit(ix, 9) ? 0 : 0x80) | bit(ix, 8) << 2 | 0x08;
                         out = (bit(ix, 0) & bit(ix, 1)) << 7 | b2 << 2 | (b2 & bit(ix, 3)) << 3;
                     }));
}

TEST(JedecModel, Gal16v8RegisteredModeFeedsBackTheRegister)
{
    jk_design d;
    d.device = jk_gal_registered;
    d.out[1] = reg({lo({B1})}); // toggles at every edge
    d.out[1].active_high = true;
    d.out[0] = comb_oe(hi({I8}), {hi({B1})}); // the register's level, also while pin 13 is off
    d.out[0].active_high = true;
    std::unique_ptr<sim_chip> chip = load(d);
    ASSERT_TRUE(chip);
    // Q = 0 at power-up: the inverting output buffer shows high whatever the polarity.
    expect_same_dump(jk_sweep(*chip), make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                         unsigned b1 = (edges_before(rx, ix) & 1) ^ 1;
                         oe = (bit(ix, 9) ? 0 : 0x02) | bit(ix, 8);
                         out = b1 << 1 | b1;
                     }));
}

TEST(JedecModel, RandomCombinationalMapsMatchTheEvaluator)
{
    for (jk_device dev : {jk_pal16l8, jk_gal_simple, jk_gal_complex}) {
        for (unsigned seed = 1; seed <= 2; seed++) {
            SCOPED_TRACE(std::string(jk_device_name(dev)) + " mode " + std::to_string(dev) + " seed " +
                         std::to_string(seed));
            jk_design d = jk_random(dev, seed);
            std::unique_ptr<sim_chip> chip = load(d);
            ASSERT_TRUE(chip);
            expect_same_dump(jk_sweep(*chip), make_dump([&](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                                 jk_eval(d, ix, rx, oe, out);
                             }));
        }
    }
}
