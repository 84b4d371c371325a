// The analyze command of both programs on the two example chips, compared
// with the golden texts.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

struct example {
    const char *file, *golden;
    chip_fn chip;
};

class AnalyzeCommand : public ::testing::TestWithParam<const char *> {};

TEST_P(AnalyzeCommand, ExampleChips)
{
    const std::string dir = make_temp_dir();
    for (const example &e : {example{"u12.bin", "u12.txt", u12_chip}, example{"pal.bin", "pal.txt", pal_chip}}) {
        write_file(dir + "/" + e.file, make_dump(e.chip));
        run_result r = run_program(dir, {}, GetParam(), {"analyze", e.file});
        EXPECT_EQ(r.status, 1) << e.file;
        EXPECT_EQ(r.err, "") << e.file;
        expect_golden(e.golden, r.out);
        std::remove((dir + "/" + e.file).c_str());
    }
    std::remove(dir.c_str());
}

TEST_P(AnalyzeCommand, ShortAndMissingFiles)
{
    const std::string dir = make_temp_dir();
    write_file(dir + "/short.bin", std::vector<uint8_t>(1000, 0));
    const run_result r = run_program(dir, {}, GetParam(), {"ANALYZE", "short.bin", "extra"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Warning: `short.bin' holds only 1000 of 262144 bytes; the rest is taken as 0.\n");
    EXPECT_NE(r.out.find("\nName     short;\n"), std::string::npos);
    std::remove((dir + "/short.bin").c_str());
    std::remove(dir.c_str());
}

#ifndef _WIN32
TEST_P(AnalyzeCommand, TextThatStandardOutputCannotTakeIsAFailure)
{
    // A full disk, as /dev/full plays it.
    const std::string dir = make_temp_dir(), exe = GetParam();
    write_file(dir + "/u12.bin", make_dump(u12_chip));
    const run_result r = run_program(dir, {}, "/bin/sh", {"-c", exe + " analyze u12.bin > /dev/full"});
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "2" + exe.substr(exe.rfind('/') + 1) + ": could not write to standard output\n");
    std::remove((dir + "/u12.bin").c_str());
    std::remove(dir.c_str());
}
#endif

INSTANTIATE_TEST_SUITE_P(BothPrograms, AnalyzeCommand, ::testing::Values(GATESWEEP_EXE, GATESWEEP_B_EXE),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.index == 0 ? "board_a" : "board_b");
                         });

} // namespace
