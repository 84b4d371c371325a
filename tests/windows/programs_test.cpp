// The Windows programs end to end, against FTD2XX.dll built from the
// simulated module: text on standard output with CR LF line ends, binary
// dump files, and the replacement of an existing dump.
#include "testkit.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

struct board {
    const char *exe;
    const char *letter;
};
const board boards[] = {{GATESWEEP_EXE, "a"}, {GATESWEEP_B_EXE, "b"}};

const std::string using_line = "Using device #0: `DLP2232M A' (GS000001A).\n";

// Standard output as Windows writes text, every line ending in CR LF, with
// the CRs taken out. A line ending in a bare LF fails the test.
std::string unix_text(const std::string &text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << "line without CR at byte " << i << " of:\n" << text;
        plain += text[i];
    }
    return plain;
}

TEST(Windows, HelpWithNoneOneAndTwoModules)
{
    std::string dir = make_temp_dir();
    const struct { const char *exe, *board, *modules, *tail; } cases[] = {
        {GATESWEEP_EXE, "A", "FTD2XX_SIM_MODULES=", "\n No devices present.\n"},
        {GATESWEEP_B_EXE, "B", "FTD2XX_SIM_MODULES=", "\n No devices present.\n"},
        {GATESWEEP_EXE, "A", "FTD2XX_SIM_MODULES=DLP2232M=ONE",
         "\nAvailable devices:\n - Device #0: `DLP2232M A' (ONEA)\n"},
        {GATESWEEP_B_EXE, "B", "FTD2XX_SIM_MODULES=DLP2232M=ONE,Other=X,Test DLP2232M=TWO",
         "\nAvailable devices:\n - Device #0: `DLP2232M A' (ONEA)\n - Device #1: `Test DLP2232M A' (TWOA)\n"},
    };
    for (const auto &c : cases) {
        run_result r = run_program(dir, {c.modules}, c.exe, {});
        EXPECT_EQ(r.status, 0) << c.modules;
        EXPECT_EQ(unix_text(r.out), help_head(c.exe, c.board) + c.tail) << c.modules;
        EXPECT_EQ(r.err, "");
    }
}

TEST(Windows, ExampleChipsDumpedAnalysedAndCheckedOnBothBoards)
{
    const struct { const char *name; void (*chip)(unsigned, unsigned, unsigned &, unsigned &); } chips[] = {
        {"u12", u12_chip}, {"pal", pal_chip}};
    for (const board &b : boards) {
        std::string dir = make_temp_dir();
        for (const auto &c : chips) {
            std::string name = c.name;
            run_result r = run_program(dir, {"FTD2XX_SIM_BOARD=" + std::string(b.letter),
                                             "FTD2XX_SIM_CHIP=example:" + std::string(c.name)},
                                       b.exe, {"dump", name + ".bin"});
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_EQ(unix_text(r.out), using_line + "Reading PLD. Press Ctrl+C to abort.\n"
                                                     "Finished reading PLD.\t\t\nData saved to `" + name + ".bin'.\n");
            // Binary: exactly the chip's bytes, no CR before any LF.
            std::vector<uint8_t> dump = read_file(dir + "/" + name + ".bin");
            EXPECT_EQ(dump.size(), dump_size) << name;
            EXPECT_TRUE(dump == make_dump(c.chip)) << name;

            r = run_program(dir, {}, b.exe, {"analyze", name + ".bin"});
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_EQ(r.err, "") << name;
            expect_golden(name + ".txt", unix_text(r.out));

            // The source with its CR LF line ends, as `> chip.pld' saves it.
            write_text(dir + "/" + name + ".pld", r.out);
            r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {name + ".bin", name + ".pld"});
            EXPECT_EQ(r.status, 0) << name << r.err;
            expect_golden("jedec_check_u12.txt", unix_text(r.out));
        }
    }
}

TEST(Windows, EveryByteValueCrossesTheDumpUnchanged)
{
    // A replayed dump of every byte value, LF, CR and Ctrl+Z among them.
    std::string dir = make_temp_dir();
    std::vector<uint8_t> source = make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = 0xFF;
        out = (ix * 37u + rx * 11u) & 0xFF;
    });
    write_file(dir + "/source.bin", source);
    for (const board &b : boards) {
        run_result r = run_program(dir, {"FTD2XX_SIM_BOARD=" + std::string(b.letter), "FTD2XX_SIM_CHIP=dump:source.bin"},
                                   b.exe, {"dump", "copy.bin"});
        EXPECT_EQ(r.status, 1) << b.letter;
        EXPECT_TRUE(read_file(dir + "/copy.bin") == source) << b.letter;
    }
}

TEST(Windows, ExistingDumpIsReplacedWhole)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", "old.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(unix_text(r.out).find("Data saved to `old.bin'.\n"), std::string::npos) << r.out;
    EXPECT_TRUE(read_file(dir + "/old.bin") == make_dump(u12_chip));
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"});
}

TEST(Windows, LibraryFailureWritesNoFile)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    for (std::string dest : {"new.bin", "old.bin"}) {
        run_result r = run_program(dir, {"FTD2XX_SIM_FAIL=FT_Read@200=4"}, GATESWEEP_EXE, {"dump", dest});
        EXPECT_EQ(r.status, 2) << dest;
        std::string out = unix_text(r.out), tail = "Error:  Error reading data (remainder)\nStatus: I/O error\n";
        ASSERT_GE(out.size(), tail.size()) << out;
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"}) << dest;
        EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump") << dest;
    }
}

TEST(Windows, UnwritableDestinationIsRefusedBeforeTheSweep)
{
    std::string dir = make_temp_dir();
    std::filesystem::create_directory(dir + "/sub");
    write_text(dir + "/locked.bin", "an earlier dump");
    std::filesystem::permissions(dir + "/locked.bin", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    for (std::string dest : {"missing\\x.bin", "sub", "locked.bin"}) {
        run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", dest});
        EXPECT_EQ(r.status, 2) << dest;
        EXPECT_EQ(unix_text(r.out), using_line + "Error: could not write to `" + dest + "'.\n");
        EXPECT_EQ(r.err, "") << "no sweep for " << dest;
    }
    EXPECT_EQ(read_text(dir + "/locked.bin"), "an earlier dump");
    EXPECT_EQ(dir_entries(dir + "/sub").size(), 0u);
}

} // namespace
