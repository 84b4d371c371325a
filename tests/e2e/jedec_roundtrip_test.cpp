// Fuse maps through the built programs: dumps of the simulated chip on both
// boards, `gatesweep analyze' on them, and gatesweep-check on what it printed.
#include <gtest/gtest.h>

#include "../jedec/jedec_kit.h"
#include "chip.h"
#include "sweep.h"
#include "testkit.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Dumps a fuse map with `gatesweep dump' (board A) or `gatesweep-b dump'
// (board B) as dir/out.bin.
std::vector<uint8_t> dump_map(const std::string &dir, const std::string &dev, const std::string &map, const char *board)
{
    std::vector<std::string> env = {"FTD2XX_SIM_CHIP=jedec:" + dev + ":" + map,
                                    "FTD2XX_SIM_BOARD=" + std::string(board)};
    run_result r = run_program(dir, env, *board == 'b' ? GATESWEEP_B_EXE : GATESWEEP_EXE, {"dump", "out.bin"});
    EXPECT_NE(r.out.find("Data saved to `out.bin'."), std::string::npos) << map << "\n" << r.out << r.err;
    return read_file(dir + "/out.bin");
}

// Analyses dir/out.bin and checks the text. Expected: the pins that the
// registered-pin warning lists (unless null), the mismatches of B7 .. B0,
// which the analysis' own check of its equations reports too, and the
// feedback that does not settle in the chip the equations describe
// (" B5 B3" for a loop through B5 and B3 at dump index 0), if any.
void expect_analysis(const std::string &dir, const char *warned, const std::vector<unsigned> &wrong,
                     const std::string &unsettled)
{
    // The text can run to megabytes, so it goes to a file and only its comment is read.
    run_result r = run_program(dir, {}, "/bin/sh", {"-c", std::string(GATESWEEP_EXE) + " analyze out.bin > out.txt"});
    std::string self_check, settle;
    if (!unsettled.empty())
        settle = ": feedback through" + unsettled +
                 " does not settle at inputs 0x000, weak drive 0x00; keeping the levels after 16 passes (reported once)\n";
    if (!settle.empty())
        self_check = "Warning: the printed equations" + settle;
    for (unsigned k = 8; k-- > 0;)
        if (wrong[7 - k])
            self_check += "Warning: the printed equations do not reproduce `out.bin': B" + std::to_string(k) +
                          " (pin " + std::to_string(12 + k) + ") has " + std::to_string(wrong[7 - k]) +
                          " wrong reading" + (wrong[7 - k] == 1 ? ".\n" : "s.\n");
    if (!self_check.empty())
        self_check += "Warning: the chip may hold state (registered outputs, latches), or the dump may be noise; "
                      "`gatesweep-check' shows where the equations fail.\n";
    EXPECT_EQ(r.err, self_check);
    std::ifstream text(dir + "/out.txt");
    std::string pins;
    for (std::string line; std::getline(text, line) && line != "*/";)
        if (line.rfind("\t\tPin ", 0) == 0)
            pins += (pins.empty() ? "" : " ") + line.substr(line.find('(') + 1, 2);
    EXPECT_TRUE(!warned || pins == warned) << "warned about " << pins;
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"out.bin", "out.txt"});
    EXPECT_EQ(r.err, settle.empty() ? "" : "gatesweep-check" + settle);
    std::vector<unsigned> got;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (line[0] == 'B')
            got.push_back(static_cast<unsigned>(std::stoul(line.substr(4))));
    EXPECT_EQ(got, wrong) << r.out << r.err;
    EXPECT_EQ(r.status, wrong == std::vector<unsigned>(8, 0) ? 0 : 1);
}

} // namespace

// Both boards read every published map alike, and as the chip library's
// sweep of its model reads it; the GAL16V8 conversions read like their PAL
// originals, and the analysis of each map is as recorded.
TEST(JedecEndToEnd, PublishedMaps)
{
    // Each GAL16V8 conversion (gdj) follows its PAL original. Registers start
    // at Q = 0, and every even step reads what the edge of the step before stored.
    struct expected { const char *file, *warned; std::vector<unsigned> wrong; std::string unsettled = ""; };
    const expected table[] = {
        // Combinational: exact, the latch on pin 13 of 1590-01 included. The
        // enables of 1567-01 are I9 alone, so it gets the warning.
        {"sun3_60_1567-01_pal16l8", "B7 B6 B5 B1 B0", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"sun3_60_1590-01_pal16l8", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"sun3_60_1590-01_gdj_gal16v8", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"alphamission_9f_gal16v8", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"e800j_io_gal16v8", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"e800j_mem_gal16v8", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        // Registered, yet in this sweep order every reading is nearly a
        // function of its own condition: only the power-up levels read at
        // index 0 disagree (counted at index 0 or at the index that differs
        // from it in the pin's own weak level).
        {"sun3_60_1580-01_pal16r6", "B6 B5 B4 B3 B2 B1", {0, 0, 0, 0, 0, 1, 0, 0}},
        {"sun3_60_1580-01_gdj_gal16v8", "B6 B5 B4 B3 B2 B1", {0, 0, 0, 0, 0, 1, 0, 0}},
        {"sun3_60_1594-01_pal16r8", "B7 B6 B5 B4 B3 B2 B1 B0", {1, 1, 0, 0, 0, 0, 0, 1}},
        {"sun3_60_1599-01_pal16r4", "B5 B4 B3 B2", {0, 0, 0, 1, 0, 1, 0, 0}},
        {"sun3_60_1599-01_gdj_gal16v8", "B5 B4 B3 B2", {0, 0, 0, 1, 0, 1, 0, 0}},
        // State that the sweep shows: a free-running counter (B3..B5) and
        // latches fed by it in 1564-02, a few conditions in 15b. An output
        // that depends on I9 suppresses the warning in both. The equations
        // of 1564-02 read the counter's pins, which drive: in the chip they
        // describe B5 and B3 feed each other and never settle.
        {"sun3_60_1564-02_pal16r4", "", {4832, 4182, 82507, 82491, 81000, 18753, 0, 190}, " B5 B3"},
        {"alphamission_15b_fixed_gal16v8", "", {1, 1, 0, 0, 0, 4, 0, 2}},
    };
    std::string maps = published_maps_dir();
    if (maps.empty())
        GTEST_SKIP() << published_maps_missing();
    std::string dir = make_temp_dir();
    std::vector<uint8_t> before;
    for (const expected &e : table) {
        SCOPED_TRACE(e.file);
        std::string file = maps + "/jedec/" + e.file + ".jed", dev;
        for (char c : file.substr(file.size() - 11, 7))
            dev += static_cast<char>(std::toupper(c));
        std::vector<uint8_t> b = dump_map(dir, dev, file, "b"), a = dump_map(dir, dev, file, "a");
        EXPECT_EQ(a.size(), dump_size);
        EXPECT_TRUE(a == b) << "boards A and B differ";
        std::string err;
        std::unique_ptr<sim_chip> model = sim_make_jedec_chip(dev, file, err);
        EXPECT_TRUE(model && sweep_chip(std::move(model)) == a) << "the chip library's sweep differs " << err;
        EXPECT_TRUE(!std::strstr(e.file, "gdj") || a == before) << "differs from its PAL original";
        expect_analysis(dir, e.warned, e.wrong, e.unsettled);
        before = a;
    }
}

// Random designs: the dump through the simulator is what the kit's evaluator
// says, and the analysis of it round-trips exactly.
TEST(JedecEndToEnd, RandomCombinationalMapsRoundTrip)
{
    std::string dir = make_temp_dir();
    for (jk_device dev : {jk_pal16l8, jk_gal_simple, jk_gal_complex})
        for (unsigned seed = 1; seed <= 3; seed++) {
            SCOPED_TRACE("device " + std::to_string(dev) + " seed " + std::to_string(seed));
            jk_design d = jk_random(dev, seed);
            write_text(dir + "/chip.jed", jk_text(jk_fuses(d)));
            std::vector<uint8_t> want = make_dump([&](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                jk_eval(d, ix, rx, oe, out);
            });
            EXPECT_TRUE(dump_map(dir, jk_device_name(dev), "chip.jed", "a") == want);
            expect_analysis(dir, nullptr, std::vector<unsigned>(8, 0), "");
        }
}
