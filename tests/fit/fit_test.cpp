// The fitter on dumps of known chips: published and random fuse maps, and
// small designs that fit one mode only, each fuse map swept in the GAL16V8
// model and compared with the dump it came from; and gatesweep-fit itself:
// its output, exit status and files.
#include "analyze.h"
#include "fit.h"
#include "jedec_file.h"
#include "testkit.h"

#include "../analysis/analysis_kit.h"
#include "../jedec/jedec_kit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

struct fit_run {
    fit_status status = FIT_NO_FIT;
    fit_design design;
    std::vector<std::string> reasons;
    std::string jed;
    std::vector<uint8_t> readings;
};

// Analyses and fits a dump in this process; on a fit, writes the fuse map
// and sweeps it in the GAL16V8 model.
fit_run fit_image(const std::vector<uint8_t> &dump)
{
    analyse_image(dump);
    fit_run r;
    r.status = fit_dump(r.design, r.reasons);
    if (r.status == FIT_OK) {
        r.jed = jedec_text(fit_fuses(r.design), "test");
        std::string err;
        EXPECT_TRUE(fit_sweep(r.jed, "test", r.readings, err)) << err;
    }
    return r;
}

std::vector<uint8_t> dump_of_map(const std::string &device, const std::string &text)
{
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip_text(device, text, "test", err);
    EXPECT_TRUE(chip) << err;
    return chip ? sweep_chip(std::move(chip)) : std::vector<uint8_t>(dump_size);
}

std::string all_reasons(const fit_run &r)
{
    std::string s;
    for (const std::string &line : r.reasons)
        s += line + "\n";
    return s;
}

// Fits and verifies: the fuse map gives the dump back, reading for reading.
void expect_fits(const std::vector<uint8_t> &dump, const fit_run &r, const std::string &what)
{
    ASSERT_EQ(r.status, FIT_OK) << what << "\n" << all_reasons(r);
    ASSERT_TRUE(r.readings == dump) << what << ": the fuse map does not give the dump back";
    std::vector<uint8_t> fuses;
    std::string err;
    EXPECT_TRUE(jedec_parse(r.jed, gal_fuse_count, fuses, err)) << what << ": " << err;
}

std::string read_map(const std::string &file)
{
    return read_text(published_maps_dir() + "/jedec/" + file);
}

// A PAL16L8 map that uses every row: seven terms of two to five literals per
// output, over the inputs and the outputs before it (no loops), and an
// enable of one or two input literals, or none.
std::string dense_pal16l8(unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(2048, 1);
    uint32_t readable = 0x3FF;
    const uint32_t array = gal_array_signals(gal_columns_combinational);
    for (unsigned k = 0; k < 8; k++) {
        for (unsigned row = gal_first_row(k); row < gal_first_row(k) + 8; row++) {
            const bool enable = row == gal_first_row(k);
            if (enable && rng() % 3 == 0)
                continue; // nothing connected: always driven
            for (unsigned l = 0, literals = enable ? 1 + rng() % 2 : 2 + rng() % 4; l < literals; l++) {
                unsigned n;
                do
                    n = rng() % 18;
                while (!(((enable ? 0x3FFu : readable) >> n) & 1));
                f[row * 32 + 2 * static_cast<unsigned>(gal_column_of(gal_columns_combinational, n)) + rng() % 2] = 0;
            }
        }
        readable |= (1u << (10 + k)) & array;
    }
    std::string t = "dense*QF2048*L0 ";
    for (uint8_t b : f)
        t += static_cast<char>('0' + b);
    char c[16];
    std::snprintf(c, sizeof c, "*C%04X*", jedec_checksum(f));
    return t + c;
}

} // namespace

TEST(FitPublished, CombinationalMapsFitAndGiveTheirDumpBack)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    const struct {
        const char *file, *device, *mode;
    } maps[] = {
        {"e800j_io_gal16v8.jed", "GAL16V8", "simple"},
        {"e800j_mem_gal16v8.jed", "GAL16V8", "simple"},
        {"alphamission_9f_gal16v8.jed", "GAL16V8", "simple"}, // no pin floats
        {"sun3_60_1567-01_pal16l8.jed", "PAL16L8", "complex"},
        // Pin 13 holds its level through its own feedback; where it holds,
        // the dump shows it following its weak drive, like a floating pin,
        // and only the same latch gives the dump back.
        {"sun3_60_1590-01_pal16l8.jed", "PAL16L8", "complex"},
        {"sun3_60_1590-01_gdj_gal16v8.jed", "GAL16V8", "complex"},
    };
    for (const auto &m : maps) {
        std::vector<uint8_t> dump = dump_of_map(m.device, read_map(m.file));
        fit_run r = fit_image(dump);
        expect_fits(dump, r, m.file);
        if (r.status == FIT_OK) {
            EXPECT_STREQ(r.design.mode->name, m.mode) << m.file;
        }
    }
}

TEST(FitRandom, MapsFitAndVerifyInTheirMode)
{
    // Random PAL16L8 maps fit a combinational mode, GAL16V8 simple ones simple
    // mode. Dense PAL16L8 outputs of seven terms that read other outputs need
    // those levels (by the dump's conditions alone they take far more terms):
    // complex mode through their feedback.
    const struct { const char *what; jk_device dev; unsigned seeds; } cases[] = {
        {"PAL16L8", jk_pal16l8, 12}, {"dense PAL16L8", jk_pal16l8, 4},
        {"simple", jk_gal_simple, 8}, {"complex", jk_gal_complex, 8},
    };
    for (const auto &c : cases) {
        const bool dense = std::string(c.what) == "dense PAL16L8";
        for (unsigned seed = 1; seed <= c.seeds; seed++) {
            std::vector<uint8_t> dump = dump_of_map(jk_device_name(c.dev), dense ? dense_pal16l8(seed)
                                                                                  : jk_text(jk_fuses(jk_random(c.dev, seed))));
            fit_run r = fit_image(dump);
            const std::string what = std::string(c.what) + " seed " + std::to_string(seed);
            expect_fits(dump, r, what);
            if (r.status != FIT_OK)
                continue;
            const gal_mode mode = r.design.mode->mode;
            if (dense || c.dev == jk_gal_simple) {
                EXPECT_EQ(mode, dense ? gal_complex : gal_simple) << what;
            } else if (c.dev == jk_pal16l8) {
                EXPECT_NE(mode, gal_registered) << what;
            }
        }
    }
}

TEST(FitModes, EachDesignTakesTheOneModeThatHoldsIt)
{
    // Eight terms on an always-driven output: simple mode only.
    std::vector<uint8_t> parity4 = make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
        oe = 0x80;
        out = (bit(ix, 0) ^ bit(ix, 1) ^ bit(ix, 2) ^ bit(ix, 3)) << 7;
    });
    fit_run r = fit_image(parity4);
    expect_fits(parity4, r, "4-input parity");
    EXPECT_EQ(r.design.mode->mode, gal_simple);
    EXPECT_EQ(r.design.pin[7].out.terms.size(), 8u);

    // An enable, and pin 14 (B2) as an input, complex mode: the worked
    // example's golden text below.
    // An enable, and pin 12 (B0) as an input, which only registered mode
    // feeds into the array.
    std::vector<uint8_t> pin12 = make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = bit(ix, 3) << 7;
        out = (bit(ix, 2) & bit(rx, 0)) << 7;
    });
    r = fit_image(pin12);
    expect_fits(pin12, r, "pin 12 as input");
    EXPECT_EQ(r.design.mode->mode, gal_registered);
}

TEST(FitModes, AnEnableOfTwoTermsIsRefusedInEveryMode)
{
    std::vector<uint8_t> dump = make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
        oe = (bit(ix, 1) | bit(ix, 3)) << 7;
        out = bit(ix, 2) << 7;
    });
    fit_run r = fit_image(dump);
    EXPECT_EQ(r.status, FIT_NO_FIT);
    EXPECT_EQ(all_reasons(r), "simple mode: B7 (pin 19) floats in some conditions; the mode has no enables\n"
                              "complex mode: the enable of B7 (pin 19) needs 2 product terms, the mode allows 1\n"
                              "registered mode: the enable of B7 (pin 19) needs 2 product terms, the mode allows 1\n");
}

// The program, run on dumps in a scratch folder.
class FitProgram : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    run_result fit(const std::vector<std::string> &args) { return run_program(dir, {}, GATESWEEP_FIT_EXE, args); }
};

TEST_F(FitProgram, WorkedExampleWritesAVerifiedMapAndCuplThatChecks)
{
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    run_result r = fit({"--cupl", "u12.pld", "u12.bin", "u12.jed"});
    EXPECT_EQ(r.status, 0) << r.err;
    expect_golden("fit_u12.txt", r.out);
    expect_golden("fit_u12_jed.txt", read_text(dir + "/u12.jed"));
    expect_golden("fit_u12_pld.txt", read_text(dir + "/u12.pld"));
    run_result check = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"u12.bin", "u12.pld"});
    EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(FitProgram, WrittenMapsAreAcceptedByJedutil)
{
    if (std::system("command -v jedutil >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "jedutil (Debian package mame-tools) is not installed: third-party check skipped";
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    write_file(dir + "/pal.bin", make_dump(pal_chip));
    for (const char *name : {"u12", "pal"}) {
        std::string bin = std::string(name) + ".bin", jed = std::string(name) + ".jed";
        ASSERT_EQ(fit({bin, jed}).status, 0) << name;
        run_result view = run_program(dir, {}, "jedutil", {"-view", jed, "GAL16V8"});
        EXPECT_EQ(view.status, 0) << name << ": " << view.out << view.err;
        EXPECT_NE(view.out.find("Equations:"), std::string::npos) << view.out;
    }
}

TEST_F(FitProgram, ParityNeedsMoreTermsThanAnyModeAllows)
{
    write_file(dir + "/parity.bin", make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                   unsigned p = 0;
                   for (int n = 0; n < 8; n++)
                       p ^= bit(ix, n);
                   oe = 0x80;
                   out = p << 7;
               }));
    run_result r = fit({"parity.bin", "parity.jed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "`parity.bin' does not fit a GAL16V8:\n"
                     "  simple mode: B7 (pin 19) needs 128 product terms, the mode allows 8\n"
                     "  complex mode: B7 (pin 19) needs 128 product terms, the mode allows 7\n"
                     "  registered mode: B7 (pin 19) needs the level of pin 1 (I0), which this mode does not "
                     "feed into the array\n"
                     "Nothing written.\n");
    EXPECT_FALSE(file_exists(dir + "/parity.jed"));
}

TEST_F(FitProgram, RegisteredMapsAreRefused)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    const std::pair<const char *, const char *> maps[] = {
        {"sun3_60_1564-02_pal16r4.jed", "PAL16R4"},       {"sun3_60_1599-01_pal16r4.jed", "PAL16R4"},
        {"sun3_60_1580-01_pal16r6.jed", "PAL16R6"},       {"sun3_60_1594-01_pal16r8.jed", "PAL16R8"},
        {"sun3_60_1580-01_gdj_gal16v8.jed", "GAL16V8"},   {"sun3_60_1599-01_gdj_gal16v8.jed", "GAL16V8"},
        {"alphamission_15b_fixed_gal16v8.jed", "GAL16V8"},
    };
    for (const auto &m : maps) {
        write_file(dir + "/reg.bin", dump_of_map(m.second, read_map(m.first)));
        run_result r = fit({"reg.bin", "reg.jed"});
        EXPECT_EQ(r.status, 1) << m.first << "\n" << r.out;
        EXPECT_NE(r.out.find("Nothing written.\n"), std::string::npos) << m.first;
        // Each says why: state, or pins that may be registered; only 15B's
        // registers show neither, and it is refused for feedback it lacks.
        const bool says_state = r.out.find("the chip holds state") != std::string::npos ||
                                r.out.find("MAY be registered") != std::string::npos;
        EXPECT_EQ(says_state, std::string(m.first).find("15b") == std::string::npos) << m.first << "\n" << r.out;
        EXPECT_FALSE(file_exists(dir + "/reg.jed")) << m.first;
    }
}

TEST_F(FitProgram, UnreadableInputAndUnwritableOutputGiveStatus2)
{
    EXPECT_EQ(fit({"missing.bin", "out.jed"}).status, 2);
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    run_result r = fit({"u12.bin", "no/such/folder/u12.jed"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Error: could not write to `no/such/folder/u12.jed'."), std::string::npos) << r.out;
    EXPECT_EQ(fit({"u12.bin"}).status, 2);
}
