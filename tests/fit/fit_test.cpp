// The fitter on dumps of known chips: published and random fuse maps, and
// small designs that fit one mode only, each fuse map swept in the GAL16V8
// model and compared with the dump it came from; and gatesweep-fit itself:
// its output, exit status and files.
#include "analyze.h"
#include "fit_fuses.h"
#include "fit_search.h"
#include "jedec_file.h"
#include "sweep.h"
#include "testkit.h"

#include "../analysis/analysis_kit.h"
#include "../jedec/jedec_kit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct fit_run {
    fit_status status = FIT_NO_FIT;
    fit_design design;
    std::vector<std::string> reasons;
    std::string jed;
    std::vector<uint8_t> readings;
    uint8_t registered = 0; // pins with a register's fingerprint
};

// Analyses and fits a dump in this process; on a fit, writes the fuse map
// and sweeps it in the GAL16V8 model.
fit_run fit_image(const std::vector<uint8_t> &dump)
{
    const std::unique_ptr<const dump_analysis> a = analyse_image(dump);
    fit_run r;
    r.registered = register_fingerprint(*a);
    r.status = fit_dump(*a, r.design, r.reasons);
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

// Fits and verifies: the fuse map gives the dump back, reading for reading,
// and gatesweep-fit takes the dump for combinational (no pin looks registered).
void expect_fits(const std::vector<uint8_t> &dump, const fit_run &r, const std::string &what)
{
    EXPECT_EQ(r.registered, 0) << what << ": looks registered";
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

// Every registered published map is refused by the fingerprint of its
// register outputs, which names exactly the registered pins.
TEST_F(FitProgram, RegisteredMapsAreRefusedByTheirRegisterPins)
{
    if (published_maps_dir().empty())
        GTEST_SKIP() << published_maps_missing();
    const char *const r4 = " 17 (B5) 16 (B4) 15 (B3) 14 (B2)";
    const char *const r6 = " 18 (B6) 17 (B5) 16 (B4) 15 (B3) 14 (B2) 13 (B1)";
    const struct { const char *file, *device, *pins; } maps[] = {
        {"sun3_60_1564-02_pal16r4.jed", "PAL16R4", r4},     {"sun3_60_1599-01_pal16r4.jed", "PAL16R4", r4},
        {"sun3_60_1580-01_pal16r6.jed", "PAL16R6", r6},
        {"sun3_60_1594-01_pal16r8.jed", "PAL16R8", " 19 (B7) 18 (B6) 17 (B5) 16 (B4) 15 (B3) 14 (B2) 13 (B1) 12 (B0)"},
        {"sun3_60_1580-01_gdj_gal16v8.jed", "GAL16V8", r6}, {"sun3_60_1599-01_gdj_gal16v8.jed", "GAL16V8", r4},
        {"alphamission_15b_fixed_gal16v8.jed", "GAL16V8", r6},
    };
    for (const auto &m : maps) {
        write_file(dir + "/reg.bin", dump_of_map(m.device, read_map(m.file)));
        run_result r = fit({"reg.bin", "reg.jed"});
        EXPECT_EQ(r.status, 1) << m.file;
        EXPECT_EQ(r.out, std::string("`reg.bin' looks registered: the pins") + m.pins +
                             "\n  float exactly while I9 (pin 11) is high and hold their level across every\n"
                             "  falling edge of I0 (pin 1), as register outputs do. A registered chip needs\n"
                             "  its state machine read: its dump alone cannot tell the registers' logic.\n"
                             "  --force fits it as combinational logic all the same.\n"
                             "Nothing written.\n")
            << m.file;
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"reg.bin"}) << m.file;
    }
}

// A PAL16R4 whose register at pin 17 loads !I1 on the clock dumps exactly as
// B5 = I0 XNOR I1 would: refused, and fitted only when forced.
TEST_F(FitProgram, ARegisterThatDumpsAsLogicIsFittedOnlyWhenForced)
{
    // The registered layout of the kit's PAL16R8 is the PAL16R4's at pins
    // 14 to 17; the other cells' rows stay all connected (never true).
    write_file(dir + "/r4.bin", dump_of_map("PAL16R4", jk_text(jk_fuses(jk_parse(jk_pal16r8, "B5 r: /I1")))));
    run_result r = fit({"r4.bin", "r4.jed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "`r4.bin' looks registered: the pins 17 (B5) 16 (B4) 15 (B3) 14 (B2)");
    EXPECT_FALSE(file_exists(dir + "/r4.jed"));
    r = fit({"--force", "r4.bin", "r4.jed"});
    EXPECT_EQ(r.status, 0) << r.out;
    expect_golden("fit_forced_r4.txt", r.out);
    EXPECT_TRUE(file_exists(dir + "/r4.jed"));
}

// Readings that no chip in the right adapter gives, and files that are no
// whole dump.
TEST_F(FitProgram, DumpsThatAreNoReadingOfAChip)
{
    std::vector<uint8_t> echo(dump_size);
    for (unsigned i = 0; i < dump_size; i++)
        echo[i] = static_cast<uint8_t>(i >> 10);
    write_file(dir + "/echo.bin", echo);
    write_file(dir + "/ff.bin", std::vector<uint8_t>(dump_size, 0xFF));
    const struct { const char *name, *warning; } implausible[] = {
        {"ff.bin", "is 0xFF: the pin buffer never answered. Is this the program for your adapter board? "
                   "`gatesweep' is for board A, `gatesweep-b' for board B.\n"},
        {"echo.bin", "equals its weak drive: no pin was ever driven. Is a chip in the socket?\n"},
    };
    for (const auto &c : implausible) {
        run_result r = fit({c.name, "x.jed"});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, std::string("Warning: every reading in `") + c.name + "' " + c.warning);
        EXPECT_EQ(r.out, std::string("`") + c.name +
                             "' holds no readings of a chip (see the warning); --force fits it all the same.\n"
                             "Nothing written.\n");
        EXPECT_FALSE(file_exists(dir + "/x.jed"));
        EXPECT_NE(fit({"--force", c.name, "x.jed"}).status, 2) << c.name;
        std::remove((dir + "/x.jed").c_str());
    }

    write_text(dir + "/empty.bin", "");
    write_file(dir + "/short.bin", std::vector<uint8_t>(dump_size - 1, 0x55));
    write_file(dir + "/long.bin", std::vector<uint8_t>(dump_size + 1, 0x55));
    const struct { const char *name, *line; } unreadable[] = {
        {"missing.bin", "Error: `missing.bin' cannot be read.\n"},
        {".", "Error: `.' cannot be read.\n"},
        {"empty.bin", "Error: `empty.bin' holds 0 of 262144 bytes: it is no whole dump.\n"},
        {"short.bin", "Error: `short.bin' holds 262143 of 262144 bytes: it is no whole dump.\n"},
        {"long.bin", "Error: `long.bin' holds more than 262144 bytes: it is no dump.\n"},
        {"/proc/self/mem", "Error: `/proc/self/mem' cannot be read.\n"},
    };
    for (const auto &c : unreadable) {
        run_result r = fit({"--force", c.name, "x.jed"});
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_EQ(r.out, c.line);
        EXPECT_FALSE(file_exists(dir + "/x.jed")) << c.name;
    }
}

// No output may be the dump, through a link too, or the other output; each
// refusal is one line before anything is written.
TEST_F(FitProgram, OutputsThatAreTheDumpOrEachOtherAreRefused)
{
    const std::vector<uint8_t> dump = make_dump(u12_chip);
    write_file(dir + "/a.bin", dump);
    ASSERT_EQ(symlink("a.bin", (dir + "/link.bin").c_str()), 0);
    const struct { std::vector<std::string> args; const char *line; } cases[] = {
        {{"a.bin", "a.bin"}, "Error: `a.bin' is the dump `a.bin'; it would be overwritten.\n"},
        {{"a.bin", "./link.bin"}, "Error: `./link.bin' is the dump `a.bin'; it would be overwritten.\n"},
        {{"--cupl", "a.bin", "a.bin", "x.jed"}, "Error: `a.bin' is the dump `a.bin'; it would be overwritten.\n"},
        {{"--cupl", "same", "a.bin", "same"},
         "Error: `same' and `same' are one file; the fuse map and the CUPL source need two.\n"},
        {{"--cupl", "link.bin", "link.bin", "x.jed"},
         "Error: `link.bin' is the dump `link.bin'; it would be overwritten.\n"},
    };
    for (const auto &c : cases) {
        run_result r = fit(c.args);
        EXPECT_EQ(r.status, 2) << c.line;
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"a.bin", "link.bin"})) << c.line;
        EXPECT_TRUE(read_file(dir + "/a.bin") == dump) << c.line;
    }
}

// Outputs are checked before any work and written as the dump is: an
// existing file stays whole on a failure, and nothing but a regular file is
// ever opened for writing.
TEST_F(FitProgram, OutputsAreCheckedFirstAndReplacedSafely)
{
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    write_text(dir + "/old.jed", "an earlier fuse map");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> refused = {
        {"u12.bin", "no/such/folder/u12.jed"},  {"u12.bin", "fifo"},
        {"u12.bin", "/dev/null"},               {"u12.bin", "."},
        {"--cupl", "no/such/u12.pld", "u12.bin", "new.jed"},
        {"--cupl", "fifo", "u12.bin", "new.jed"},
    };
    for (const auto &args : refused) {
        run_result r = fit(args);
        EXPECT_EQ(r.status, 2) << args[1];
        const std::string &bad = args[1]; // the --cupl file or the fuse map
        EXPECT_EQ(r.out, "Error: could not write to `" + bad + "'.\n");
        EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"fifo", "old.jed", "u12.bin"})) << bad;
    }
    EXPECT_TRUE(file_exists("/dev/null"));

    // A file-size limit in the middle of the write keeps the earlier map
    // (two blocks: the report fits, the fuse map does not).
    run_result r = run_program(dir, {}, "/bin/sh", {"-c", "ulimit -f 2; exec \"$0\" u12.bin old.jed", GATESWEEP_FIT_EXE});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.substr(r.out.rfind("Verified")), "Verified: the fuse map in the GAL16V8 model, swept as a dump, "
                                                     "gives all 262144 readings of `u12.bin'.\n"
                                                     "Error: could not write to `old.jed'.\n");
    EXPECT_EQ(read_text(dir + "/old.jed"), "an earlier fuse map");
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"fifo", "old.jed", "u12.bin"}));
    EXPECT_EQ(fit({"u12.bin", "old.jed"}).status, 0);
    EXPECT_EQ(read_text(dir + "/old.jed").substr(0, 1), "\x02");
}

// A failed write to standard output is a failure.
TEST_F(FitProgram, LostStandardOutputIsStatus2)
{
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    for (const char *args : {"u12.bin u12.jed", "--help", "--version"}) {
        run_result r = run_program(dir, {}, "/bin/sh", {"-c", std::string("exec \"$0\" ") + args + " >/dev/full",
                                                        GATESWEEP_FIT_EXE});
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, "gatesweep-fit: could not write to standard output\n") << args;
    }
    run_result help = fit({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, help.out.find('\n')), "usage: gatesweep-fit [--force] [--cupl FILE.pld] DUMP.bin FILE.jed");
    EXPECT_EQ(fit({"--version"}).out, "gatesweep-fit " GATESWEEP_VERSION "\n");
    EXPECT_EQ(fit({"u12.bin"}).status, 2);
}

// Out of memory is one line, not an abort.
TEST_F(FitProgram, OutOfMemoryIsOneLine)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#else
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    run_result r = run_program(dir, {}, "/bin/sh", {"-c", "ulimit -v 10000; exec \"$0\" u12.bin u12.jed", GATESWEEP_FIT_EXE});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "gatesweep-fit: out of memory\n");
    EXPECT_FALSE(file_exists(dir + "/u12.jed"));
#endif
}

// Neither the JEDEC header nor the CUPL text carries a control character of
// the dump's name, and the CUPL comment cannot be ended by it.
TEST_F(FitProgram, TheDumpsNameCannotBreakTheTexts)
{
    const std::string name = "a*/b\x03" "c.bin";
    ASSERT_EQ(mkdir((dir + "/a*").c_str(), 0700), 0);
    write_file(dir + "/" + name, make_dump(u12_chip));
    ASSERT_EQ(fit({"--cupl", "x.pld", name, "x.jed"}).status, 0);
    const std::string jed = read_text(dir + "/x.jed"), pld = read_text(dir + "/x.pld");
    EXPECT_EQ(jed.substr(0, jed.find('\n')),
              "\x02GAL16V8 fuse map written by gatesweep-fit from the dump `a_/b?c.bin' (complex mode)*");
    EXPECT_EQ(std::count(jed.begin(), jed.end(), '\x03'), 1);
    EXPECT_EQ(pld.substr(0, pld.find("Name")),
              "/*\n\tGAL16V8 in complex mode, fitted by gatesweep-fit from the dump\n\t\ta* /b?c.bin\n"
              "\tand verified against it in the chip model.\n*/\n\n");
    EXPECT_EQ(std::count_if(pld.begin(), pld.end(), [](char c) { return c > 0 && c < 0x20 && c != '\n' && c != '\t'; }),
              0);
}
