// Fuse maps through the built programs: dumps of the simulated chip on both
// boards, `gatesweep analyze' on them, and gatesweep-check on what it printed.
#include <gtest/gtest.h>

#include "../jedec/jedec_kit.h"
#include "testkit.h"

#include <fstream>
#include <map>
#include <sstream>

namespace {

const std::string data_dir = std::string(SHARED_TESTDATA_DIR) + "/jedec/";

std::string device_of(const std::string &file)
{
    std::string dev = file.substr(file.rfind('_') + 1);
    dev = dev.substr(0, dev.find('.'));
    for (char &c : dev)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return dev;
}

// Dumps a fuse map with `gatesweep dump' (board A) or `gatesweep-b dump'
// (board B) into dir/out.
void dump_map(const std::string &dir, const std::string &device, const std::string &map, bool board_b,
              const std::string &out)
{
    std::vector<std::string> env = {"FTD2XX_SIM_CHIP=jedec:" + device + ":" + map};
    if (board_b)
        env.push_back("FTD2XX_SIM_BOARD=b");
    run_result r = run_program(dir, env, board_b ? GATESWEEP_B_EXE : GATESWEEP_EXE, {"dump", out});
    EXPECT_NE(r.out.find("Data saved to `" + out + "'."), std::string::npos) << map << "\n" << r.out << r.err;
}

// The board-A dump of a published map, made once for all tests.
const std::string &published_dump(const std::string &file)
{
    static const std::string dir = make_temp_dir();
    static std::map<std::string, std::string> made;
    auto it = made.find(file);
    if (it == made.end()) {
        std::string out = file + ".bin";
        dump_map(dir, device_of(file), data_dir + file, false, out);
        it = made.emplace(file, dir + "/" + out).first;
    }
    return it->second;
}

struct analysis {
    std::string warned;            // pins the registered-pin warning lists, "B7 B6 ..."
    std::vector<unsigned> wrong;   // round-trip mismatches of B7 .. B0
    int check_status = -1;
};

analysis analyse_and_check(const std::string &dump_path)
{
    std::string dir = dump_path.substr(0, dump_path.rfind('/'));
    std::string name = dump_path.substr(dir.size() + 1);
    analysis a;
    // The text can run to megabytes (terms that fix every signal), so it goes
    // straight to a file and only its comment block is read back.
    run_result r = run_program(dir, {}, "/bin/sh",
                               {"-c", std::string(GATESWEEP_EXE) + " analyze " + name + " > " + name + ".txt"});
    EXPECT_EQ(r.err, "") << name;
    std::ifstream text(dump_path + ".txt", std::ios::binary);
    std::string head(4096, '\0');
    text.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(text.gcount()));
    size_t warn = head.find("MAY be registered:\n"), end = head.find("\tAnalysis results WILL NOT");
    if (warn != std::string::npos && end != std::string::npos) {
        std::istringstream lines(head.substr(warn, end - warn));
        std::string line;
        while (std::getline(lines, line)) {
            size_t open = line.find('(');
            if (open != std::string::npos)
                a.warned += (a.warned.empty() ? "" : " ") + line.substr(open + 1, 2);
        }
    }
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {name, name + ".txt"});
    a.check_status = r.status;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 4 && line[0] == 'B' && line[2] == ':')
            a.wrong.push_back(static_cast<unsigned>(std::stoul(line.substr(4))));
    }
    EXPECT_EQ(a.wrong.size(), 8u) << r.out << r.err;
    return a;
}

} // namespace

// One test, so that each map is dumped once: both boards read every
// published map alike, the GAL16V8 conversions read like their PAL originals,
// and the analysis of each map is as recorded.
TEST(JedecEndToEnd, PublishedMaps)
{
    const char *const files[] = {
        "alphamission_15b_fixed_gal16v8.jed", "alphamission_9f_gal16v8.jed", "e800j_io_gal16v8.jed",
        "e800j_mem_gal16v8.jed", "sun3_60_1564-02_pal16r4.jed", "sun3_60_1567-01_pal16l8.jed",
        "sun3_60_1580-01_gdj_gal16v8.jed", "sun3_60_1580-01_pal16r6.jed", "sun3_60_1590-01_gdj_gal16v8.jed",
        "sun3_60_1590-01_pal16l8.jed", "sun3_60_1594-01_pal16r8.jed", "sun3_60_1599-01_gdj_gal16v8.jed",
        "sun3_60_1599-01_pal16r4.jed",
    };
    std::string dir = make_temp_dir();
    for (const char *file : files) {
        dump_map(dir, device_of(file), data_dir + file, true, "b.bin");
        std::vector<uint8_t> a = read_file(published_dump(file)), b = read_file(dir + "/b.bin");
        EXPECT_EQ(a.size(), 262144u) << file;
        EXPECT_TRUE(a == b) << file << ": boards A and B differ";
    }
    const char *const conversions[][2] = {
        {"sun3_60_1590-01_pal16l8.jed", "sun3_60_1590-01_gdj_gal16v8.jed"},
        {"sun3_60_1580-01_pal16r6.jed", "sun3_60_1580-01_gdj_gal16v8.jed"},
        {"sun3_60_1599-01_pal16r4.jed", "sun3_60_1599-01_gdj_gal16v8.jed"},
    };
    for (const auto &c : conversions)
        EXPECT_TRUE(read_file(published_dump(c[0])) == read_file(published_dump(c[1]))) << c[0] << " vs " << c[1];

    // What the analysis makes of each chip: the pins its registered-pin
    // warning lists, and the conditions per pin (B7 .. B0) that its printed
    // equations get wrong. Registers start at Q = 0, and every even step
    // reads what the edge of the step before stored.
    struct expected {
        const char *file, *warned;
        std::vector<unsigned> wrong;
    };
    const expected table[] = {
        // Combinational: exact, the latch on pin 13 of 1590-01 included. The
        // enables of 1567-01 are I9 alone, so it gets the warning.
        {"sun3_60_1567-01_pal16l8.jed", "B7 B6 B5 B1 B0", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"sun3_60_1590-01_pal16l8.jed", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"alphamission_9f_gal16v8.jed", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"e800j_io_gal16v8.jed", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"e800j_mem_gal16v8.jed", "", {0, 0, 0, 0, 0, 0, 0, 0}},
        // Registered, yet in this sweep order every reading is nearly a
        // function of its own condition: only the power-up levels read at
        // index 0 disagree (counted at index 0 or at the index that differs
        // from it in the pin's own weak level).
        {"sun3_60_1580-01_pal16r6.jed", "B6 B5 B4 B3 B2 B1", {0, 0, 0, 0, 0, 1, 0, 0}},
        {"sun3_60_1580-01_gdj_gal16v8.jed", "B6 B5 B4 B3 B2 B1", {0, 0, 0, 0, 0, 1, 0, 0}},
        {"sun3_60_1594-01_pal16r8.jed", "B7 B6 B5 B4 B3 B2 B1 B0", {1, 1, 0, 0, 0, 0, 0, 1}},
        {"sun3_60_1599-01_pal16r4.jed", "B5 B4 B3 B2", {0, 0, 0, 1, 0, 1, 0, 0}},
        {"sun3_60_1599-01_gdj_gal16v8.jed", "B5 B4 B3 B2", {0, 0, 0, 1, 0, 1, 0, 0}},
        // State that the sweep shows: a free-running counter (B3..B5) and
        // latches fed by it in 1564-02, a few conditions in 15b. An output
        // that depends on I9 suppresses the warning in both.
        {"sun3_60_1564-02_pal16r4.jed", "", {1397, 1166, 21845, 21847, 21844, 5376, 0, 0}},
        {"alphamission_15b_fixed_gal16v8.jed", "", {1, 1, 0, 0, 0, 4, 0, 2}},
    };
    for (const expected &e : table) {
        SCOPED_TRACE(e.file);
        analysis a = analyse_and_check(published_dump(e.file));
        EXPECT_EQ(a.warned, e.warned);
        EXPECT_EQ(a.wrong, e.wrong);
        bool exact = true;
        for (unsigned n : e.wrong)
            exact = exact && n == 0;
        EXPECT_EQ(a.check_status, exact ? 0 : 1);
    }
}

TEST(JedecEndToEnd, RandomCombinationalMapsRoundTrip)
{
    std::string dir = make_temp_dir();
    for (jk_device dev : {jk_pal16l8, jk_gal_simple, jk_gal_complex}) {
        for (unsigned seed = 1; seed <= 3; seed++) {
            SCOPED_TRACE(std::string(jk_device_name(dev)) + " mode " + std::to_string(dev) + " seed " +
                         std::to_string(seed));
            jk_design d = jk_random(dev, seed);
            std::vector<uint8_t> want = make_dump([&](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                jk_eval(d, ix, rx, oe, out);
            });
            write_file(dir + "/chip.bin", want);
            if (seed == 1) { // once per mode the whole road: fuse map, simulator, sweep
                write_text(dir + "/chip.jed", jk_text(jk_fuses(d)));
                dump_map(dir, jk_device_name(dev), dir + "/chip.jed", false, "swept.bin");
                EXPECT_TRUE(read_file(dir + "/swept.bin") == want);
            }
            analysis a = analyse_and_check(dir + "/chip.bin");
            EXPECT_EQ(a.check_status, 0);
            EXPECT_EQ(a.wrong, std::vector<unsigned>(8, 0));
        }
    }
}

TEST(JedecEndToEnd, BrokenMapStopsTheSimulatedModule)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/bad.jed", "x*QF2048*L0000 0101*C0000*");
    run_result r = run_program(dir, {"FTD2XX_SIM_CHIP=jedec:PAL16L8:bad.jed"}, GATESWEEP_EXE, {"dump", "x.bin"});
    EXPECT_EQ(r.err, "ftd2xx simulator: bad setting FTD2XX_SIM_CHIP=jedec:PAL16L8:bad.jed: fuse checksum mismatch: "
                     "the file says 0000, its fuses give 000A\n");
    EXPECT_FALSE(file_exists(dir + "/x.bin"));
}
