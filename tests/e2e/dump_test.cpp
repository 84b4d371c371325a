// The dump command end to end: the built programs against the simulated
// module, on both boards.
#include "testkit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct board {
    const char *exe;
    const char *letter;
};
const board boards[] = {{GATESWEEP_EXE, "a"}, {GATESWEEP_B_EXE, "b"}};

std::string using_line()
{
    return "Using device #0: `DLP2232M A' (";
}

TEST(Dump, ReplayedDumpComesBackByteForByteOnBothBoards)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> dump = scrambled_dump();
    write_file(dir + "/source.bin", dump);
    for (const board &b : boards) {
        run_result r = run_program(dir, {"FTD2XX_SIM_BOARD=" + std::string(b.letter), "FTD2XX_SIM_CHIP=dump:source.bin"},
                                   b.exe, {"dump", "copy.bin"});
        EXPECT_EQ(r.status, 1) << b.letter;
        EXPECT_EQ(r.out, using_line() + "GS000001A).\nReading PLD. Press Ctrl+C to abort.\n"
                                        "Finished reading PLD.\t\t\nData saved to `copy.bin'.\n");
        EXPECT_TRUE(read_file(dir + "/copy.bin") == dump) << "board " << b.letter;
    }
}

TEST(Dump, ExampleChipsDumpedThenAnalysedGiveTheGoldenTexts)
{
    std::string dir = make_temp_dir();
    for (const board &b : boards) {
        for (std::string chip : {"u12", "pal"}) {
            std::vector<std::string> env = {"FTD2XX_SIM_BOARD=" + std::string(b.letter), "FTD2XX_SIM_CHIP=example:" + chip};
            ASSERT_EQ(run_program(dir, env, b.exe, {"dump", chip + ".bin"}).status, 1);
            run_result r = run_program(dir, {}, b.exe, {"analyze", chip + ".bin"});
            EXPECT_EQ(r.status, 1);
            expect_golden(chip + ".txt", r.out);
        }
    }
}

TEST(Dump, ReadingsOfTheWrongBoardOrAnEmptySocketAreWarnedAfterSaving)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> echo(dump_size);
    for (unsigned i = 0; i < dump_size; i++)
        echo[i] = static_cast<uint8_t>(i >> 10);
    write_file(dir + "/echo.bin", echo);
    const struct { const char *board, *chip, *exe, *warning; } cases[] = {
        {"a", "example:u12", GATESWEEP_B_EXE, "is 0xFF: the pin buffer never answered. Is this the program for "
                                              "your adapter board? `gatesweep' is for board A, `gatesweep-b' for board B.\n"},
        {"b", "dump:echo.bin", GATESWEEP_B_EXE, "equals its weak drive: no pin was ever driven. Is a chip in the socket?\n"},
    };
    for (const auto &c : cases) {
        run_result r = run_program(dir, {std::string("FTD2XX_SIM_BOARD=") + c.board, std::string("FTD2XX_SIM_CHIP=") + c.chip},
                                   c.exe, {"dump", "x.bin"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Data saved to `x.bin'.\n"), std::string::npos);
        std::string warning = r.err.substr(r.err.rfind('\r') + 1);
        EXPECT_EQ(warning, std::string("Warning: every reading in `x.bin' ") + c.warning) << c.chip;
        EXPECT_EQ(read_file(dir + "/x.bin").size(), dump_size);
    }
}

TEST(Dump, ProgressLineOnStandardErrorOnly)
{
    std::string dir = make_temp_dir();
    run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", "u12.bin"});
    ASSERT_EQ(r.status, 1);
    std::string expected;
    for (int rx = 0; rx < 256; rx++) {
        char line[32];
        std::snprintf(line, sizeof line, "Progress: %.1f%%\r", rx * 100.0 / 255.0);
        expected += line;
    }
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out.find("Progress"), std::string::npos);
}

TEST(Dump, NoModuleAttachedEndsWithStatus2AndLeavesTheLibraryAlone)
{
#ifdef GATESWEEP_D2XX_OVER_LIBFTDI
    GTEST_SKIP() << "needs the simulated D2XX library: its trace of D2XX calls (tests/ftdi covers the case)";
#endif
    std::string dir = make_temp_dir();
    for (const board &b : boards) {
        std::string trace = make_temp_dir() + "/trace.txt";
        run_result r = run_program(dir, {"FTD2XX_SIM_MODULES=", "FTD2XX_SIM_TRACE=" + trace}, b.exe, {"dump", "x.bin"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "Error: No devices attached.\n");
        EXPECT_TRUE(dir_entries(dir).empty());
        std::string calls = read_text(trace);
        EXPECT_EQ(calls.substr(0, 29), "call FT_CreateDeviceInfoList(");
        EXPECT_EQ(calls.find('\n'), calls.size() - 1) << "one library call only:\n" << calls;
    }
}

// Short transfers: the library moves fewer bytes than asked, and the sweep
// asks again until every byte has moved; a module that stops answering ends
// the dump through the fatal report.
TEST(Dump, ShortReadsAndWritesStillGiveTheExactDump)
{
#ifdef GATESWEEP_D2XX_OVER_LIBFTDI
    GTEST_SKIP() << "needs the simulated D2XX library: FTD2XX_SIM_SHORT (tests/ftdi splits transfers through the stand-in)";
#endif
    std::string dir = make_temp_dir();
    std::vector<uint8_t> dump = scrambled_dump();
    write_file(dir + "/source.bin", dump);
    for (const char *pieces : {"FT_Read=100", "FT_Write=1000", "FT_Read@3=1,FT_Write@5=7"}) {
        run_result r = run_program(dir, {"FTD2XX_SIM_CHIP=dump:source.bin", std::string("FTD2XX_SIM_SHORT=") + pieces},
                                   GATESWEEP_EXE, {"dump", "copy.bin"});
        EXPECT_EQ(r.status, 1) << pieces;
        EXPECT_TRUE(read_file(dir + "/copy.bin") == dump) << pieces;
    }
}

TEST(Dump, ModuleThatStopsAnsweringEndsTheDumpWithoutAFile)
{
#ifdef GATESWEEP_D2XX_OVER_LIBFTDI
    GTEST_SKIP() << "needs the simulated D2XX library: FTD2XX_SIM_SHORT (tests/ftdi stops the module through the stand-in)";
#endif
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    run_result r = run_program(dir, {"FTD2XX_SIM_SHORT=FT_Read@100=0"}, GATESWEEP_EXE, {"dump", "old.bin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.substr(r.out.find("Error:  ")),
              "Error:  Error reading data (remainder)\nStatus: No data moved for 3 seconds.\n");
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"});
    EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump");
}

TEST(Dump, LibraryFailureAtEveryStepLeavesTheFileAlone)
{
#ifdef GATESWEEP_D2XX_OVER_LIBFTDI
    GTEST_SKIP() << "needs the simulated D2XX library: FTD2XX_SIM_FAIL, which names D2XX calls (tests/ftdi fails each libftdi call)";
#endif
    const struct { const char *fault, *message; bool after_sweep; } cases[] = {
        {"FT_CreateDeviceInfoList=4", "Error: Can't create device info list.", false},
        {"FT_GetDeviceInfoList=4", "Error: Can't retrieve device info list.", false},
        {"FT_OpenEx=4", "Can't open device.", false},
        {"FT_ResetDevice=4", "Error resetting device.", false},
        {"FT_Purge=4", "Error purging device.", false},
        {"FT_GetQueueStatus=4", "Can't get queue status.", false},
        {"FT_SetLatencyTimer=4", "Can't set latency timer.", false},
        {"FT_SetBitMode=4", "Can't set MPSSE Host Bus Emulation' bit mode.", false},
        {"FT_Write=4", "Error writing data (remainder)", false},     // the reset
        {"FT_Write@2=4", "Error writing data (remainder)", false},   // the first block
        {"FT_Read@200=4", "Error reading data (remainder)", false},  // deep in the sweep
        {"FT_Purge@2=4", "Error purging device.", true},             // closing
        {"FT_Close=4", "Error closing device.", true},
    };
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    for (const auto &c : cases) {
        run_result r = run_program(dir, {std::string("FTD2XX_SIM_FAIL=") + c.fault}, GATESWEEP_EXE,
                                   {"dump", "old.bin"});
        EXPECT_EQ(r.status, 2) << c.fault;
        std::string tail = std::string("Error:  ") + c.message + "\nStatus: I/O error\n";
        ASSERT_GE(r.out.size(), tail.size()) << c.fault;
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << c.fault;
        // Closing comes after the sweep: the file is saved before it fails.
        std::string saved = "Data saved to `old.bin'.\n";
        EXPECT_EQ(r.out.find(saved) != std::string::npos, c.after_sweep) << c.fault;
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"}) << c.fault;
        if (!c.after_sweep) {
            EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump") << c.fault;
        }
        write_text(dir + "/old.bin", "an earlier dump");
    }
}

TEST(Dump, UnwritableDestinationIsRefusedBeforeTheSweep)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/plain", "x");
    mkdir((dir + "/sub").c_str(), 0755);
    ASSERT_EQ(symlink("nowhere.bin", (dir + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir + "/to-folder").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (dir + "/to-device").c_str()), 0);
    const std::vector<std::string> before = dir_entries(dir);
    for (const std::string &dest : std::vector<std::string>{"missing/x.bin", "plain/x.bin", "sub", "", "dangling",
                                                            "to-folder", "to-device", std::string(256, 'n')}) {
        run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", dest});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, using_line() + "GS000001A).\nError: could not write to `" + dest + "'.\n") << dest;
        EXPECT_EQ(r.err, "") << "no sweep for " << dest;
    }
    EXPECT_EQ(dir_entries(dir + "/sub").size(), 0u);
    EXPECT_EQ(dir_entries(dir).size(), before.size());

    // A read-only folder; root writes into those, so it gets an immutable one.
    std::string ro = dir + "/ro";
    mkdir(ro.c_str(), 0555);
    bool root = geteuid() == 0;
    if (root && std::system(("chattr +i '" + ro + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot make a folder that root may not write into";
    run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", "ro/x.bin"});
    if (root) {
        EXPECT_EQ(std::system(("chattr -i '" + ro + "'").c_str()), 0);
    }
    EXPECT_EQ(r.out, using_line() + "GS000001A).\nError: could not write to `" + "ro/x.bin'.\n");
    EXPECT_TRUE(dir_entries(ro).empty());
}

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode;
}

TEST(Dump, DestinationsThatCanBeWritten)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> u12 = make_dump(u12_chip);
    auto dump_to = [&](const std::string &dest) {
        run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", dest});
        EXPECT_EQ(r.status, 1) << dest;
        EXPECT_NE(r.out.find("Data saved to `" + dest + "'.\n"), std::string::npos) << dest;
    };
    // A link: the file it names is written, the link stays a link.
    mkdir((dir + "/real").c_str(), 0755);
    write_text(dir + "/real/target.bin", "old");
    ASSERT_EQ(symlink("real/target.bin", (dir + "/link.bin").c_str()), 0);
    dump_to("link.bin");
    EXPECT_TRUE(S_ISLNK(mode_of(dir + "/link.bin")));
    EXPECT_TRUE(read_file(dir + "/real/target.bin") == u12);
    // A replaced file keeps its permission bits.
    write_text(dir + "/kept.bin", "old");
    chmod((dir + "/kept.bin").c_str(), 0640);
    dump_to("kept.bin");
    EXPECT_EQ(mode_of(dir + "/kept.bin") & 07777, 0640u);
    EXPECT_TRUE(read_file(dir + "/kept.bin") == u12);
    // The longest name the folder takes, and a backslash, which is part of a
    // name here, not a folder separator.
    std::string longest(255, 'n');
    for (const std::string &name : {longest, std::string("back\\slash.bin")}) {
        dump_to(name);
        EXPECT_TRUE(read_file(dir + "/" + name) == u12) << name;
    }
    EXPECT_EQ(dir_entries(dir).size(), 5u) << "no temporary file left";
}

TEST(Dump, ExistingFileInAFolderThatTakesNoNewFileIsWrittenInPlace)
{
    std::string dir = make_temp_dir(), ro = dir + "/ro";
    mkdir(ro.c_str(), 0755);
    write_text(ro + "/old.bin", "an earlier dump");
    bool root = geteuid() == 0;
    if (root ? std::system(("chattr +i '" + ro + "' 2>/dev/null").c_str()) != 0 : chmod(ro.c_str(), 0555) != 0)
        GTEST_SKIP() << "cannot make a folder that takes no new file";
    run_result r = run_program(dir, {}, GATESWEEP_EXE, {"dump", "ro/old.bin"});
    if (root) {
        EXPECT_EQ(std::system(("chattr -i '" + ro + "'").c_str()), 0);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(read_file(ro + "/old.bin") == make_dump(u12_chip));
    EXPECT_EQ(dir_entries(ro), std::vector<std::string>{"old.bin"});
}

TEST(Dump, FileSizeLimitIsAWriteErrorThatKeepsTheEarlierDump)
{
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    run_result r = run_program(dir, {}, "/bin/sh", {"-c", "ulimit -f 64; exec \"$0\" dump old.bin", GATESWEEP_EXE});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Finished reading PLD.\t\t\nError: could not write to `old.bin'.\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Data saved"), std::string::npos);
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"});
    EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump");
}

TEST(Dump, InterruptWhileSavingWaitsUntilTheFileIsInPlace)
{
    // The preloaded library sends the process SIGINT from inside fsync, in
    // the middle of the save.
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    run_result r = run_program(dir, {"LD_PRELOAD=" INTERRUPT_IN_FSYNC, "ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0"},
                               GATESWEEP_EXE, {"dump", "old.bin"});
    EXPECT_TRUE(r.status == -1 || r.status == 128 + SIGINT) << "ended by the interrupt, not " << r.status;
    // What was printed before the interrupt reached the file.
    EXPECT_EQ(r.out, using_line() + "GS000001A).\nReading PLD. Press Ctrl+C to abort.\nFinished reading PLD.\t\t\n");
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"});
    EXPECT_TRUE(read_file(dir + "/old.bin") == make_dump(u12_chip));
}

} // namespace
