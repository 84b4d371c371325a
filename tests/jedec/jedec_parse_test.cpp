// Reading fuse maps: the layouts that programmers and assemblers write, and
// the files that must be refused, each with its reason.
#include "jedec_kit.h"
#include "jedec_sweep.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// B7 = I0 & I1 (two terms), B2 = /I3 while I2: rows with blown, intact and
// mixed fuses, so that a default state or a misplaced row shows.
jk_design sample_design(jk_device dev)
{
    jk_design d;
    d.device = dev;
    jk_term not_i0, not_i1, i2, i3;
    not_i0.low = 1u << 0;
    not_i1.low = 1u << 1;
    i2.high = 1u << 2;
    i3.high = 1u << 3;
    d.out[7].kind = jk_comb;
    d.out[7].terms = {not_i0, not_i1};
    d.out[2].kind = jk_comb;
    d.out[2].has_oe = true;
    d.out[2].oe = i2;
    d.out[2].terms = {i3};
    return d;
}

struct load_result {
    std::unique_ptr<sim_chip> chip;
    std::string err;
};

load_result load_text(const std::string &device, const std::string &text)
{
    std::string path = make_temp_dir() + "/map.jed";
    write_text(path, text);
    load_result r;
    r.chip = sim_make_jedec_chip(device, path, r.err);
    return r;
}

std::string refusal(const std::string &device, const std::string &text)
{
    load_result r = load_text(device, text);
    EXPECT_FALSE(r.chip) << "loaded although it should be refused";
    return r.err;
}

} // namespace

TEST(JedecParse, ProgrammerLayoutsGiveTheSameChip)
{
    for (jk_device dev : {jk_pal16l8, jk_gal_complex}) {
        jk_design d = sample_design(dev);
        std::vector<uint8_t> fuses = jk_fuses(d);
        std::vector<uint8_t> want = make_dump([&](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
            jk_eval(d, ix, rx, oe, out);
        });
        std::vector<std::pair<std::string, jk_style>> styles(7);
        styles[0].first = "plain";
        styles[1].first = "no STX/ETX";
        styles[1].second.stx = false;
        styles[2].first = "no QF, no checksum";
        styles[2].second.qf = false;
        styles[2].second.checksum = false;
        styles[3].first = "F0, intact rows left out";
        styles[3].second.default_state = 0;
        styles[4].first = "F1, blown rows left out";
        styles[4].second.default_state = 1;
        styles[5].first = "L fields over several lines";
        styles[5].second.split = true;
        styles[6].first = "lower-case checksum";
        styles[6].second.lower_hex = true;
        for (const auto &style : styles) {
            SCOPED_TRACE(std::string(jk_device_name(dev)) + ", " + style.first);
            load_result r = load_text(jk_device_name(dev), jk_text(fuses, style.second));
            ASSERT_TRUE(r.chip) << r.err;
            EXPECT_TRUE(jk_sweep(*r.chip) == want);
        }
    }
}

TEST(JedecParse, DeviceNameIgnoresCase)
{
    load_result r = load_text("pal16l8", jk_text(jk_fuses(sample_design(jk_pal16l8))));
    EXPECT_TRUE(r.chip) << r.err;
}

TEST(JedecParse, RefusesBrokenFilesWithTheReason)
{
    std::vector<uint8_t> l8 = jk_fuses(sample_design(jk_pal16l8));
    std::vector<uint8_t> gal = jk_fuses(sample_design(jk_gal_complex));
    unsigned sum = 0;
    for (size_t i = 0; i < l8.size(); i += 8) {
        for (size_t j = 0; j < 8; j++)
            sum += static_cast<unsigned>(l8[i + j]) << j;
    }
    char want[96];
    std::snprintf(want, sizeof want, "fuse checksum mismatch: the file says %04X, its fuses give %04X",
                  (sum + 1) & 0xFFFF, sum & 0xFFFF);
    jk_style bad_sum;
    bad_sum.checksum_delta = 1;
    EXPECT_EQ(refusal("PAL16L8", jk_text(l8, bad_sum)), want);

    EXPECT_EQ(refusal("PAL16L8", jk_text(gal)), "the file is for 2194 fuses, but the device has 2048");
    EXPECT_EQ(refusal("GAL16V8", jk_text(l8)), "the file is for 2048 fuses, but the device has 2194");
    jk_style no_qf;
    no_qf.qf = false;
    EXPECT_EQ(refusal("PAL16L8", jk_text(gal, no_qf)),
              "the fuse list reaches fuse 2048, but the device has 2048 fuses");
    // A PAL map without QF read as a GAL16V8: the missing mode fuses are 0.
    EXPECT_EQ(refusal("GAL16V8", jk_text(l8, no_qf)), "the mode fuses SYN=0 AC0=0 select no GAL16V8 mode");

    EXPECT_EQ(refusal("PAL16L8", "Just some notes about a chip.\r\n"), "not a JEDEC fuse map (no field ends in '*')");
    EXPECT_EQ(refusal("PAL16L8", "\x02 header*QF2048*F0*G0*\x03" "0000"), "not a JEDEC fuse map (no L field)");
    EXPECT_EQ(refusal("PAL16L8", "header*QF2048*L0000 0101x0*"),
              "the L field at fuse 4 holds `x', not a fuse state");
    EXPECT_EQ(refusal("PAL16L8", "header*L 0101*"), "an L field has no fuse number");
    EXPECT_EQ(refusal("PAL16L8", "header*L0000 0101*C12G4*"), "the C field `C12G4' is not a 4-digit fuse checksum");
    EXPECT_EQ(refusal("PAL20V8", jk_text(l8)),
              "unknown device `PAL20V8' (PAL16L8, PAL16R4, PAL16R6, PAL16R8 or GAL16V8)");
    std::string err;
    EXPECT_FALSE(sim_make_jedec_chip("PAL16L8", make_temp_dir() + "/missing.jed", err));
    EXPECT_EQ(err, "cannot open the fuse map");
}
