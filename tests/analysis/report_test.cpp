// The printed report: summary comment, registered pins, device
// configuration, writer rules the golden texts do not show, and odd dump files.
#include <gtest/gtest.h>

#include <filesystem>

#include "analysis_kit.h"
#include "cupl.h"
#include "report.h"
#include "summary.h"

namespace {

// What the CUPL writer (cupl true) or the summary prints for the analysis.
std::string printed(const dump_analysis &a, bool cupl)
{
    term_table t = new_term_table();
    testing::internal::CaptureStdout();
    cupl ? write_cupl(stdout, a, "x.bin", t) : print_summary(stdout, a, "x.bin");
    return testing::internal::GetCapturedStdout();
}

TEST(Summary, ComplexNeedsB0AndB7OutputsNeitherReadAsAnInput)
{
    // B0 and B7 copy I0 and B1 is an input; then B6 also reads B0 or B7,
    // which floats with I9 high.
    for (int reader : {-1, 0, 7}) {
        const auto a = analyse_chip([reader](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
            oe = reader < 0 ? 0xFDu : 0xFDu & ~(bit(ix, 9) << reader);
            out = bit(ix, 0) * 0x81u | (reader < 0 ? 0u : bit(rx, reader) << 6);
        });
        EXPECT_STREQ(device_config(*a), reader < 0 ? "complex" : "unknown") << reader;
    }
}

TEST(Summary, RegisteredPins)
{
    // B0 and B2 float with I9 high, B1 with I9 low, B3 with I9 high and B7's
    // weak level high (B7 never floats, so B3's oe_mask is I9 alone too).
    // B4..B7 copy I0; in the second chip B7 also depends on I9: no warning.
    for (unsigned i9_output : {0u, 1u}) {
        const auto a = analyse_chip([i9_output](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
            const unsigned i9 = bit(ix, 9);
            oe = ~(i9 * 0x05u | (i9 ^ 1u) << 1 | (i9 & bit(rx, 7)) << 3) & 0xFFu;
            out = bit(ix, 0) * 0xFFu ^ (i9 & i9_output) << 7;
        });
        const std::string warning = i9_output ? "" : "\tWARNING: The following pins MAY be registered:\n"
                                                     "\t\tPin 14 (B2)\n\t\tPin 12 (B0)\n\n\tAnalysis results "
                                                     "WILL NOT be correct for registered devices.\n\n";
        EXPECT_EQ(printed(*a, false).substr(0, warning.size() + 17), "/*\n" + warning + "\tData source:\n");
    }
}

const std::string cupl_header = "\nName     x;\nPartNo   ;\nDate     ;\nRevision ;\nDesigner ;\nCompany  ;\n"
                                "Assembly ;\nLocation ;\nDevice   virtual;\n\n/* Dedicated input pins */\n\n",
                  unused = " /* Unused input */", eqs = "\n/* Output and output enable equations */\n";

// Declarations of signals first..last (0..9 I0..I9, 10..17 B0..B7), all
// with the same comment.
std::string decls(int first, int last, const std::string &comment)
{
    std::string s;
    for (int n = first; n <= last; n++)
        s += "pin " + std::to_string(n < 9 ? n + 1 : n + 2) + "\t=\t" + "IB"[n / 10] + std::to_string(n % 10) + ";\t" +
             comment + "\n";
    return s;
}

TEST(Writer, SectionsAndLineEnds)
{
    // B7 floats unless I0 and I1 are high (listed by its driven level), B6
    // floats exactly with I2 low, B5 a plain output that reads B6. The last
    // enable equation is not B0's: two empty lines follow.
    const auto a = analyse_chip([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = (bit(ix, 0) & bit(ix, 1)) << 7 | bit(ix, 2) << 6 | 1u << 5;
        out = 1u << 7 | bit(ix, 3) << 6 | bit(rx, 6) << 5;
    });
    EXPECT_EQ(printed(*a, true), cupl_header + decls(0, 3, "") + decls(4, 9, unused) +
                                 "\n/* Input and/or bidirectional pins */\n\n" + decls(10, 14, unused) +
                                 decls(16, 16, "") + decls(17, 17, " /* Not used as an input when tristated */") +
                                 "\n/* Dedicated output pins */\n\n" + decls(15, 15, "") + eqs +
                                 "\n B7\t= 'b'1;\n B6\t=  I3;\n B5\t=  B6;\n B7.oe\t=  I0 &  I1;\n!B6.oe\t= !I2;"
                                 "\n\n\n/* End */\n");
}

// What analyze_pal prints for a file on standard output and standard error.
std::pair<std::string, std::string> analyze(const std::string &file)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    analyze_pal(file.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
}

TEST(Analyze, FileIsReadAsItsFirst262144BytesPaddedWithZeros)
{
    const std::string dir = make_temp_dir(), file = dir + "/d.bin";
    for (size_t size : {size_t(200000), size_t(0), size_t(dump_size + 100)}) {
        std::vector<uint8_t> bytes = make_dump(u12_chip);
        bytes.resize(size, 0x55);
        write_file(file, bytes);
        const auto got = analyze(file);
        bytes.resize(dump_size, 0);
        write_file(file, bytes);
        // The same as the whole dump but for the warning; the cut example is no chip.
        const auto whole = analyze(file);
        const std::string held = std::to_string(size) + " of 262144 bytes; the rest is taken as 0.\n";
        const std::string size_warning = size > dump_size ? "Warning: `" + file + "' holds more than 262144 bytes; "
                                                                                  "only the first 262144 are read.\n"
                                                          : "Warning: `" + file + "' holds only " + held;
        EXPECT_EQ(got, std::make_pair(whole.first, size_warning + whole.second));
        EXPECT_EQ(whole.second.empty(), size != 200000) << whole.second;
    }
    std::filesystem::remove_all(dir);
}

TEST(Analyze, VeryLongFileName)
{
    // A path of some 3000 characters, dots inside folder names, none in the
    // file name. The output is the example's golden text but for the data
    // source and design name, which is the file name alone.
    const std::string dir = make_temp_dir();
    std::string path = dir;
#ifdef _WIN32
    const int levels = 1;   // Windows paths end at MAX_PATH, 260 characters
#else
    const int levels = 14;
#endif
    for (int level = 0; level < levels; level++) {
        path += "/" + std::string(200, char('a' + level)) + ".d";
        std::filesystem::create_directory(path);
    }
    path += "/dump";
    write_file(path, make_dump(u12_chip));
    auto got = analyze(path);
    EXPECT_EQ(got.second, "");
    const std::string cut = "dump";
    const size_t source = got.first.find("\t\t" + path + "\n"), name = got.first.find("\nName     " + cut + ";\n");
    ASSERT_TRUE(source != std::string::npos && name != std::string::npos);
    got.first.replace(name + 10, cut.size(), "u12").replace(source + 2, path.size(), "u12.bin");
    expect_golden("u12.txt", got.first);
    std::filesystem::remove_all(dir);
}

} // namespace
