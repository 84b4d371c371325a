// What the programs make of odd and hostile input: dumps that no chip in the
// right adapter gives, outputs hidden behind their enables, readings of no
// signal, readings that the equations miss, paths that are no CUPL name,
// over-long files, and fuse maps that the simulated socket refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "testkit.h"

namespace {

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

const std::string u12_text = read_text(std::string(TEST_SOURCE_DIR) + "/golden/u12.txt");

// The analysis of a dump written as dir/file; the CUPL text also goes to dir/out.txt.
run_result analyze(const std::string &dir, const std::string &file, const std::vector<uint8_t> &dump)
{
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + file).parent_path());
    write_file(dir + "/" + file, dump);
    run_result r = run_program(dir, {}, GATESWEEP_EXE, {"analyze", file});
    write_text(dir + "/out.txt", r.out);
    return r;
}

// The self-check's warning: for each pin Bk (from B7 down) the number of
// readings that the printed equations get wrong.
std::string not_reproduced(const std::string &file, const std::vector<std::pair<unsigned, unsigned>> &wrong)
{
    std::string text;
    for (const auto &w : wrong)
        text += "Warning: the printed equations do not reproduce `" + file + "': B" + std::to_string(w.first) +
                " (pin " + std::to_string(12 + w.first) + ") has " + std::to_string(w.second) + " wrong readings.\n";
    return text + "Warning: the chip may hold state (registered outputs, latches), or the dump may be noise; "
                  "`gatesweep-check' shows where the equations fail.\n";
}

} // namespace

TEST(HostileDumps, ReadingsThatNoChipInTheRightAdapterGives)
{
    // Standard output as before the warnings.
    const std::string dir = make_temp_dir();
    std::vector<uint8_t> echo(dump_size);
    for (unsigned i = 0; i < dump_size; i++)
        echo[i] = static_cast<uint8_t>(i >> 10);
    run_result r = analyze(dir, "ff.bin", std::vector<uint8_t>(dump_size, 0xFF));
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "1Warning: every reading in `ff.bin' is 0xFF: the pin buffer never answered. Is this the program for "
              "your adapter board? `gatesweep' is for board A, `gatesweep-b' for board B.\n");
    expect_golden("all_ff.txt", r.out);
    r = analyze(dir, "empty.bin", echo);
    EXPECT_EQ(std::to_string(r.status) + r.err, "1Warning: every reading in `empty.bin' equals its weak drive: no "
                                                "pin was ever driven. Is a chip in the socket?\n");
    expect_golden("empty_socket.txt", r.out);
    // One reading off: no warning.
    echo[5] ^= 1;
    EXPECT_EQ(analyze(dir, "empty.bin", echo).err, "");
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, OutputWhoseLevelChangesOnlyWithItsEnableRoundTrips)
{
    // B1 is driven where I0 = I1 and then reads I0: no pair of driven
    // conditions differs in one signal, so its level hides behind its enable.
    const std::string dir = make_temp_dir();
    run_result r = analyze(dir, "hidden.bin", make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                               oe = (bit(ix, 0) == bit(ix, 1)) << 1, out = bit(ix, 0) << 1;
                           }));
    EXPECT_EQ(std::to_string(r.status) + r.err, "1");
    EXPECT_NE(r.out.find("\n B1\t=  I0 &  I1;\n!B1.oe\t=  I0 & !I1\n\t# !I0 &  I1;\n"), std::string::npos) << r.out;
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"hidden.bin", "out.txt"});
    EXPECT_EQ(std::to_string(r.status) + r.err, "0");
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, ReadingsOfNoSignalAreWrittenAsConstants)
{
    // B1 reads the inverse of its own weak drive (never floating, so no
    // other pin may read it); B0 floats where B1's weak drive is high and
    // reads I0 elsewhere. Neither equation has a signal to name.
    const std::string dir = make_temp_dir();
    run_result r = analyze(dir, "odd.bin", make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                               oe = 0x02u | (bit(rx, 1) ^ 1u), out = (bit(rx, 1) ^ 1u) << 1 | bit(ix, 0);
                           }));
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "1Warning: the readings of B1 in `odd.bin' are not a function of any signals; its output equation "
              "is the constant 'b'1, the level it reads most often.\n"
              "Warning: where B0 floats in `odd.bin' is not a function of any signals; its enable equation is "
              "the constant 'b'1, the state it is in most often.\n" +
                  not_reproduced("odd.bin", {{1, 131072}, {0, 131072}}));
    expect_golden("no_signal.txt", r.out);
    // gatesweep-check reads the text: the constants are wrong where the pins do otherwise.
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"odd.bin", "out.txt"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("B1: 131072 mismatches"), std::string::npos) << r.out;
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, AWrongConstantIsCountedWhereAnotherPinReadsADrivenPin)
{
    // B2 reads the level on B0, which drives I0 where I1 is high: the check
    // goes by the chip the equations describe, which gets B2 right. B1
    // reads the inverse of its own weak drive, so its constant is wrong in
    // half the conditions, and that counts although every pin read is
    // right.
    const std::string dir = make_temp_dir();
    run_result r = analyze(dir, "read.bin", make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                               const unsigned b0 = bit(ix, 1) ? bit(ix, 0) : bit(rx, 0);
                               oe = 0x06u | bit(ix, 1);
                               out = b0 << 2 | (bit(rx, 1) ^ 1u) << 1 | bit(ix, 0);
                           }));
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "1Warning: the readings of B1 in `read.bin' are not a function of any signals; its output equation "
              "is the constant 'b'1, the level it reads most often.\n" +
                  not_reproduced("read.bin", {{1, 131072}}));
    EXPECT_NE(r.out.find("\n B2\t=  I0 &  I1 & !B0\n\t# !I0 & !I1 &  B0\n\t#  I0 & !I1 &  B0\n\t#  I0 &  I1 &  B0;"),
              std::string::npos)
        << r.out;
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"read.bin", "out.txt"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("B1: 131072 mismatches"), std::string::npos) << r.out;
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, ReadingsThatTheEquationsMissAreCountedAsGatesweepCheckCounts)
{
    // B0 shows a counter that steps through three states on every rising
    // edge of I0 in sweep order, so its level is no function of the signals;
    // B1 copies it while I2 is high and floats otherwise. B3 reads I4 but
    // floats where the weak drives of B6 and B7 are high, which no other pin
    // may read: its enable is the constant 'b'1. The rest drive I3.
    const std::string dir = make_temp_dir();
    unsigned clocks = 0;
    run_result r = analyze(dir, "counter.bin", make_dump([&](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                               oe = 0xF5u | bit(ix, 2) << 1 | ((bit(rx, 6) & bit(rx, 7)) ^ 1u) << 3;
                               out = (clocks % 3 == 0) * 0x03u | bit(ix, 4) << 3 | bit(ix, 3) * 0xF4u;
                               clocks += ix & 1;
                           }));
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "1Warning: where B3 floats in `counter.bin' is not a function of any signals; its enable equation is "
              "the constant 'b'1, the state it is in most often.\n" +
                  not_reproduced("counter.bin", {{3, 65536}, {1, 109226}, {0, 174760}}));
    // gatesweep-check counts the same: its lines "Bk: N mismatches..." from B7 down.
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"counter.bin", "out.txt"});
    std::string counts;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line) && line[0] == 'B';)
        counts += line.substr(4, line.find(' ', 4) - 4) + " ";
    EXPECT_EQ(std::to_string(r.status) + " " + counts, "1 0 0 0 0 65536 0 109226 174760 ") << r.out;
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, AnOutputThatReadsTheWeakLevelUnderADrivenPinIsWrongWhereThatPinDrives)
{
    // B0 drives I0 where I1 is high and floats elsewhere; B1 reads B0's weak
    // drive even where B0 drives, which no chip does: a pin reads the level
    // on the other pin, and that is what the printed B1 = B0 means. Wrong
    // where B0 drives a level other than its weak one: a quarter of all
    // conditions, counted alike by analyze and by gatesweep-check.
    const std::string dir = make_temp_dir();
    run_result r = analyze(dir, "weak.bin", make_dump([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
                               oe = 0x02u | bit(ix, 1);
                               out = bit(rx, 0) << 1 | bit(ix, 0);
                           }));
    EXPECT_EQ(std::to_string(r.status) + r.err, "1" + not_reproduced("weak.bin", {{1, 65536}}));
    EXPECT_NE(r.out.find("\n B1\t=  B0;"), std::string::npos) << r.out;
    r = run_program(dir, {}, GATESWEEP_CHECK_EXE, {"weak.bin", "out.txt"});
    EXPECT_EQ(std::to_string(r.status) + r.err, "1");
    EXPECT_NE(r.out.find("\nB1: 65536 mismatches, first at 0x00003 0x00007 0x0000B 0x0000F 0x00013 0x00017 0x0001B 0x0001F\n"),
              std::string::npos) << r.out;
    std::filesystem::remove_all(dir);
}

TEST(HostileDumps, NameFromTheFileNameAndPathsThatCannotEndTheComment)
{
    // The u12 example under other paths: its golden text but for the data source.
    const std::string dir = make_temp_dir();
    const std::vector<uint8_t> dump = make_dump(u12_chip);
    const std::string cases[][3] = {
        {"dumps/u12.bin", "dumps/u12.bin", "u12"},
        {"dir.v2/u12", "dir.v2/u12", "u12"},
        {"a*/b*/u12.bin", "a* /b* /u12.bin", "u12"},
        {"u12.v2.bin", "u12.v2.bin", "u12.v2"},
#ifndef _WIN32
        {"a\\u12.bin", "a\\u12.bin", "a\\u12"},
#endif
    };
    for (const auto &c : cases) {
        run_result r = analyze(dir, c[0], dump);
        std::string want = u12_text;
        want.replace(want.find("\nName     u12;") + 10, 3, c[2]);
        want.replace(want.find("\t\tu12.bin\n") + 2, 7, c[1]);
        EXPECT_EQ(std::to_string(r.status) + r.err + r.out, "1" + want) << c[0];
    }
    std::filesystem::remove_all(dir);
}

TEST(HostileFuseMaps, RefusedOrWarnedWhenTheSocketIsFilled)
{
    // The fuse map named by FTD2XX_SIM_CHIP, through `gatesweep dump'.
    const std::string dir = make_temp_dir();
    std::filesystem::create_directory(dir + "/folder.jed");
    write_text(dir + "/cut.jed", "cut short*QF2048*L0000 0000*L0004 00");
    const std::string cases[][3] = {
        {"folder.jed", "2", "ftd2xx simulator: bad setting FTD2XX_SIM_CHIP=jedec:PAL16L8:folder.jed: "
                            "the fuse map is a folder\n"},
        {"/dev/zero", "2", "ftd2xx simulator: bad setting FTD2XX_SIM_CHIP=jedec:PAL16L8:/dev/zero: "
                           "the fuse map is larger than 1 MiB, which no fuse map of these devices is\n"},
        {"cut.jed", "1", "jedec: cut.jed: no fuse checksum (C field); the fuses are taken unchecked\n"},
    };
    for (const auto &c : cases) {
        run_result r = run_program(dir, {"FTD2XX_SIM_CHIP=jedec:PAL16L8:" + c[0]}, GATESWEEP_EXE, {"dump", "x.bin"});
        EXPECT_EQ(std::to_string(r.status) + r.err.substr(0, r.err.find('\n') + 1), c[1] + c[2]) << r.out;
        EXPECT_EQ(file_exists(dir + "/x.bin"), c[1] == "1") << c[0];
        std::remove((dir + "/x.bin").c_str());
    }
    std::filesystem::remove_all(dir);
}
