// gatesweep-walk and gatesweep-walk-b on the simulated module: the published
// registered maps walked on both boards and held against the chip model, a
// walk from another start state, a chip without registers, the front, and
// the faults that must leave no file.
#include "testkit.h"

#include "chip.h"
#include "explore.h"
#include "walk.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The walk programs are built beside gatesweep.
std::string program_beside(const char *name)
{
    const std::string gatesweep = GATESWEEP_EXE;
    return gatesweep.substr(0, gatesweep.rfind('/') + 1) + name;
}
const std::string walk_a = program_beside("gatesweep-walk");
const std::string walk_b = program_beside("gatesweep-walk-b");

// With the states a walk leaves for good (the power-up states of 1594-01
// and of both 1599-01 maps lead to no return), and whether pins without a
// register hold levels of their own (1564-02: pins 12, 18 and 19 keep
// their level through their feedback), walked then through every point of
// registers, pin levels and condition.
struct published {
    const char *file;
    const char *device;
    unsigned left_for_good;
    bool latches;
};
const published registered_maps[] = {
    {"sun3_60_1564-02_pal16r4", "PAL16R4", 0, true},      {"sun3_60_1599-01_pal16r4", "PAL16R4", 1, false},
    {"sun3_60_1580-01_pal16r6", "PAL16R6", 0, false},     {"sun3_60_1594-01_pal16r8", "PAL16R8", 1, false},
    {"sun3_60_1580-01_gdj_gal16v8", "GAL16V8", 0, false}, {"sun3_60_1599-01_gdj_gal16v8", "GAL16V8", 1, false},
    {"alphamission_15b_fixed_gal16v8", "GAL16V8", 0, false},
};

std::string map_path(const std::string &maps, const char *file)
{
    return maps + "/jedec/" + file + ".jed";
}

std::string chip_setting(const std::string &device, const std::string &path)
{
    return "FTD2XX_SIM_CHIP=jedec:" + device + ":" + path;
}

std::unique_ptr<sim_chip> model(const std::string &device, const std::string &path)
{
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip(device, path, err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

// How many states (levels of the registered pins) the model reaches from
// its power-up state: a search over every level of I1..I8 and every weak
// level of the pins without a register, one clock edge with I9 low.
unsigned reachable_states(sim_chip &chip)
{
    const unsigned registered = chip.power_up(0);
    std::vector<bool> seen(256);
    std::vector<unsigned> queue{registered};
    seen[registered] = true;
    for (size_t i = 0; i < queue.size(); i++)
        for (unsigned inputs = 0; inputs < 256; inputs++)
            for (unsigned rx = 0; rx < 256; rx++) {
                if (rx & registered)
                    continue;
                chip.power_up(~queue[i] & registered);
                chip.drive(inputs << 1, rx);
                chip.drive(inputs << 1 | 1, rx);
                const unsigned next = chip.read() & registered;
                if (!seen[next]) {
                    seen[next] = true;
                    queue.push_back(next);
                }
            }
    return static_cast<unsigned>(queue.size());
}

// The report with the host time of its last line as "T".
std::string without_time(std::string out)
{
    const std::string before = " transitions in ";
    const size_t at = out.rfind(before);
    const size_t end = at == std::string::npos ? at : out.find(" s.\n", at);
    if (end == std::string::npos)
        return out;
    return out.replace(at + before.size(), end - at - before.size(), "T");
}

// Standard error of a walk is progress lines in place, the last one blanked,
// and the simulated library's time line where asked for: the time line.
std::string check_progress(const std::string &err)
{
    const size_t cut = err.rfind('\r') + 1;
    const std::string progress = err.substr(0, cut);
    // Lines "Walking: N states, M transitions, about T.T s left", padded
    // with blanks, each ended by CR; then one of blanks only.
    std::vector<std::string> lines;
    for (size_t at = 0, cr; (cr = progress.find('\r', at)) != std::string::npos; at = cr + 1)
        lines.push_back(progress.substr(at, cr - at));
    bool good = lines.size() >= 2 && lines.back().find_first_not_of(' ') == std::string::npos && !lines.back().empty();
    for (size_t i = 0; good && i + 1 < lines.size(); i++) {
        unsigned states = 0, transitions = 0, whole = 0, tenth = 0;
        int used = 0;
        good = std::sscanf(lines[i].c_str(), "Walking: %u states, %u transitions, about %u.%1u s left%n", &states,
                           &transitions, &whole, &tenth, &used) == 4 &&
               lines[i].find_first_not_of(' ', static_cast<size_t>(used)) == std::string::npos;
    }
    EXPECT_TRUE(good) << progress;
    return err.substr(cut);
}

bool parse(const std::vector<uint8_t> &bytes, walk_record &record, walk_tables &tables)
{
    std::string err;
    const bool ok = walk_parse(bytes, record, tables, err);
    EXPECT_TRUE(ok) << err;
    return ok;
}

void expect_same_counts(const walk_counts &a, const walk_counts &b)
{
    EXPECT_EQ(a.states, b.states);
    EXPECT_EQ(a.transitions, b.transitions);
    EXPECT_EQ(a.untried, b.untried);
    EXPECT_EQ(a.states_with_untried, b.states_with_untried);
}

} // namespace

// Every registered published map on both boards: the same walk file as the
// engine gives over the chip model in process, as many states as the model
// reaches, and the report as its golden text. The modelled USB time of
// board A's walk goes to the test's log.
TEST(WalkProgram, PublishedRegisteredMapsOnBothBoards)
{
    const std::string maps = published_maps_dir();
    if (maps.empty())
        GTEST_SKIP() << published_maps_missing();
    for (const published &m : registered_maps) {
        SCOPED_TRACE(m.file);
        const std::string path = map_path(maps, m.file);
        const std::string dir_a = make_temp_dir(), dir_b = make_temp_dir();
        run_result a = run_program(dir_a, {"FTD2XX_SIM_BOARD=a", chip_setting(m.device, path), "FTD2XX_SIM_TIME=1"},
                                   walk_a, {"chip.walk"});
        run_result b = run_program(dir_b, {"FTD2XX_SIM_BOARD=b", chip_setting(m.device, path)}, walk_b, {"chip.walk"});
        ASSERT_EQ(a.status, 0) << a.out << a.err;
        ASSERT_EQ(b.status, 0) << b.out << b.err;
        expect_golden(std::string("walk_") + m.file + ".txt", without_time(a.out));
        EXPECT_EQ(without_time(b.out), without_time(a.out));
        const std::string modelled = check_progress(a.err);
        EXPECT_EQ(check_progress(b.err), "");

        const std::vector<uint8_t> bytes = read_file(dir_a + "/chip.walk");
        EXPECT_TRUE(bytes == read_file(dir_b + "/chip.walk")) << "the boards' walk files differ";
        walk_record record;
        walk_tables tables;
        if (!parse(bytes, record, tables))
            continue;
        const walk_counts counts = walk_count(tables);

        std::unique_ptr<sim_chip> searched = model(m.device, path), walked = model(m.device, path);
        ASSERT_TRUE(searched && walked);
        EXPECT_EQ(record.registered, searched->power_up(0));
        EXPECT_EQ(counts.states, reachable_states(*searched));
        // The model walked in process, its latches written in the adapter's
        // order, gives the module's file.
        const walk_outcome in_process = walk_explore(walk_model_runner(*walked));
        expect_same_counts(counts, in_process.counts);
        EXPECT_TRUE(bytes == walk_file_bytes(in_process.record)) << "the module's readings differ from the model's";
        EXPECT_EQ(in_process.left_for_good, m.left_for_good);
        EXPECT_EQ(tables.unsteady != 0, m.latches);
        EXPECT_EQ(counts.unread, 0u);
        EXPECT_EQ(in_process.latch_walk, m.latches);
        if (m.latches) {
            // Every write and clock edge from every point reached tried.
            EXPECT_TRUE(in_process.latch_open.complete());
        } else {
            // Every transition tried but those of the states left for good,
            // of which the walk took one each.
            EXPECT_EQ(counts.states_with_untried, m.left_for_good);
            EXPECT_EQ(counts.untried, m.left_for_good * 255);
        }
        std::printf("[ walk     ] %s: %s", m.file, modelled.c_str());
    }
}

// Registers set otherwise at power-up: the walk starts in that state and
// says so, and walks as the engine walks the model from there.
TEST(WalkProgram, WalkFromAnotherStartState)
{
    const std::string maps = published_maps_dir();
    if (maps.empty())
        GTEST_SKIP() << published_maps_missing();
    const std::string path = map_path(maps, "sun3_60_1580-01_pal16r6");
    const std::string dir = make_temp_dir();
    // Q = 1 at B1 and B3: those pins start low, B2 and B4..B6 high.
    run_result r = run_program(dir, {chip_setting("PAL16R6", path), "FTD2XX_SIM_POWERUP=0a"}, walk_a, {"chip.walk"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // "Started in state B6 B5 B4 B3 B2 B1 = 1 1 1 0 1 0: ..."
    expect_golden("walk_start_0a.txt", without_time(r.out));
    walk_record record;
    walk_tables tables;
    ASSERT_TRUE(parse(read_file(dir + "/chip.walk"), record, tables));
    EXPECT_EQ(record.start, 0x74);
    std::unique_ptr<sim_chip> chip = model("PAL16R6", path);
    ASSERT_TRUE(chip);
    chip->power_up(0x0A);
    const walk_outcome in_process = walk_explore(walk_model_runner(*chip));
    EXPECT_EQ(in_process.record.start, 0x74);
    expect_same_counts(walk_count(tables), in_process.counts);
}

// A chip without registers is told to use the dump of its board; without a
// module the library is called once, to list the modules.
TEST(WalkProgram, CombinationalChipIsToldToUseDump)
{
    const std::string maps = published_maps_dir();
    if (maps.empty())
        GTEST_SKIP() << published_maps_missing();
    const struct { const char *board; const std::string &exe; const char *dump; } boards[] = {
        {"a", walk_a, "gatesweep"}, {"b", walk_b, "gatesweep-b"}};
    for (const char *file : {"sun3_60_1590-01_pal16l8", "sun3_60_1567-01_pal16l8"}) {
        for (const auto &b : boards) {
            SCOPED_TRACE(std::string(file) + " on board " + b.board);
            const std::string dir = make_temp_dir();
            run_result r = run_program(dir, {std::string("FTD2XX_SIM_BOARD=") + b.board,
                                             chip_setting("PAL16L8", map_path(maps, file))},
                                       b.exe, {"chip.walk"});
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, std::string("Using device #0: `DLP2232M A' (GS000001A).\n"
                                         "Walking the state machine. Press Ctrl+C to abort.\n"
                                         "No registered pins: this chip holds no state; read it with `") +
                                 b.dump + " dump'.\n");
            EXPECT_TRUE(dir_entries(dir).empty());
        }
    }
}

TEST(WalkProgram, NoModuleLeavesTheLibraryAlone)
{
    const std::string dir = make_temp_dir(), trace = make_temp_dir() + "/trace.txt";
    run_result r = run_program(dir, {"FTD2XX_SIM_MODULES=", "FTD2XX_SIM_TRACE=" + trace}, walk_b, {"chip.walk"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Error: No devices attached.\n");
    EXPECT_TRUE(dir_entries(dir).empty());
    const std::string calls = read_text(trace);
    EXPECT_EQ(calls.substr(0, 29), "call FT_CreateDeviceInfoList(");
    EXPECT_EQ(calls.find('\n'), calls.size() - 1) << "one library call only:\n" << calls;
}

TEST(WalkProgram, HelpVersionAndWrongCalls)
{
    const std::string dir = make_temp_dir();
    for (const char *flag : {"--help", "-h"}) {
        run_result r = run_program(dir, {}, walk_a, {flag, "x.walk"});
        EXPECT_EQ(r.status, 0);
        expect_golden("walk_help.txt", r.out);
        run_result b = run_program(dir, {}, walk_b, {flag});
        std::string expected = r.out;
        expected.replace(expected.find("gatesweep-walk"), 14, "gatesweep-walk-b");
        expected.replace(expected.find("board A"), 7, "board B");
        EXPECT_EQ(b.out, expected);
    }
    run_result v = run_program(dir, {}, walk_b, {"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, std::string("gatesweep-walk-b ") + GATESWEEP_VERSION + "\n");
    const std::vector<std::string> calls[] = {{}, {"a.walk", "b.walk"}, {"-x", "a.walk"}};
    const char *const said[] = {"gatesweep-walk: name the walk file to write (see --help).\n",
                                "gatesweep-walk: one walk file only, not also `b.walk' (see --help).\n",
                                "gatesweep-walk: unknown option `-x' (see --help).\n"};
    for (size_t i = 0; i < 3; i++) {
        run_result r = run_program(dir, {"FTD2XX_SIM_MODULES="}, walk_a, calls[i]);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, said[i]);
    }
    EXPECT_TRUE(dir_entries(dir).empty());
}

// Every kind of library call failing, the module falling silent after a
// short read or while taking a write: status 2 through the fatal report,
// and the file that was there untouched. Replies in small pieces give the
// same walk.
TEST(WalkProgram, FaultsLeaveNoFile)
{
    const std::string maps = published_maps_dir();
    if (maps.empty())
        GTEST_SKIP() << published_maps_missing();
    const std::string chip = chip_setting("PAL16R8", map_path(maps, "sun3_60_1594-01_pal16r8"));
    const struct { const char *setting, *message, *status; } cases[] = {
        // (Opening the module is dump's code, whose failures the dump tests
        // take one by one.)
        {"FTD2XX_SIM_FAIL=FT_OpenEx=4", "Can't open device.", "I/O error"},
        {"FTD2XX_SIM_FAIL=FT_Write=4", "Error writing data (remainder)", "I/O error"},   // the reset
        {"FTD2XX_SIM_FAIL=FT_Write@3=4", "Error writing data (remainder)", "I/O error"}, // the first batch after the probe
        {"FTD2XX_SIM_FAIL=FT_Read@2=4", "Error reading data (remainder)", "I/O error"},
        {"FTD2XX_SIM_FAIL=FT_Purge@2=4", "Error purging device.", "I/O error"}, // closing, after the walk
        {"FTD2XX_SIM_FAIL=FT_Close=4", "Error closing device.", "I/O error"},
        {"FTD2XX_SIM_SHORT=FT_Read@2=3,FT_Read@3=0", "Error reading data (remainder)",
         "No data moved for 3 seconds."},
        {"FTD2XX_SIM_SHORT=FT_Write@3=0", "Error writing data (remainder)", "No data moved for 3 seconds."},
    };
    const std::string dir = make_temp_dir();
    for (const auto &c : cases) {
        write_text(dir + "/old.walk", "an earlier walk");
        run_result r = run_program(dir, {chip, c.setting}, walk_a, {"old.walk"});
        EXPECT_EQ(r.status, 2) << c.setting;
        const std::string tail = std::string("Error:  ") + c.message + "\nStatus: " + c.status + "\n";
        ASSERT_GE(r.out.size(), tail.size()) << c.setting;
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << c.setting;
        EXPECT_EQ(r.out.find("Data saved"), std::string::npos) << c.setting;
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.walk"}) << c.setting;
        EXPECT_EQ(read_text(dir + "/old.walk"), "an earlier walk") << c.setting;
    }
    const std::string dir_pieces = make_temp_dir();
    run_result whole = run_program(dir, {chip}, walk_a, {"chip.walk"});
    run_result pieces = run_program(dir_pieces, {chip, "FTD2XX_SIM_SHORT=FT_Read=7,FT_Write=100"}, walk_a, {"chip.walk"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(pieces.status, 0);
    EXPECT_EQ(without_time(pieces.out), without_time(whole.out));
    EXPECT_TRUE(read_file(dir + "/chip.walk") == read_file(dir_pieces + "/chip.walk"));
}

// A destination that cannot take the file is refused before the library
// is called at all.
TEST(WalkProgram, UnwritableDestinationIsRefusedFirst)
{
    // (Which destinations the one safe writer refuses, the dump's and the
    // fitter's tests take in turn.)
    const std::string dir = make_temp_dir();
    mkdir((dir + "/sub").c_str(), 0755);
    ASSERT_EQ(symlink("nowhere.walk", (dir + "/dangling").c_str()), 0);
    const std::vector<std::string> before = dir_entries(dir);
    const std::string trace = make_temp_dir() + "/trace.txt";
    for (const std::string &dest : std::vector<std::string>{"missing/x.walk", "sub", "dangling"}) {
        run_result r = run_program(dir, {"FTD2XX_SIM_TRACE=" + trace}, walk_a, {dest});
        EXPECT_EQ(r.status, 2) << dest;
        EXPECT_EQ(r.out, "Error: could not write to `" + dest + "'.\n");
        EXPECT_EQ(r.err, "") << dest;
        EXPECT_TRUE(!file_exists(trace) || read_text(trace).empty()) << "the library was called for " << dest;
    }
    EXPECT_EQ(dir_entries(dir), before);
}
