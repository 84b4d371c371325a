// The printed report: summary comment, CUPL writer, whole runs of
// analyze_pal against the golden texts, and the handling of odd dump files.
#include <gtest/gtest.h>

#include <filesystem>

#include "analysis_kit.h"
#include "cupl.h"
#include "summary.h"

namespace fs = std::filesystem;

namespace {

std::string summary_text(const char *filename = "x.bin")
{
    return printed([&](FILE *f) { print_summary(f, filename); });
}

std::string cupl_text(const char *filename = "x.bin")
{
    term_table t = new_term_table();
    return printed([&](FILE *f) { write_cupl(f, filename, t); });
}

void all_inputs_chip(unsigned, unsigned, unsigned &oe, unsigned &out) { oe = out = 0; }

TEST(Summary, AllInputsDevice)
{
    analyse_chip(all_inputs_chip);
    std::string expected = "/*\n"
                           "\tData source:\n\t\tdir.x/y\n\n"
                           "\tDevice configuration:\n\t\tunknown\n\n"
                           "\tSuggested GAL16V8 device type for WinCUPL:\n\t\tg16v8\n"
                           "\n\tSummary of bidirectional pins:\n\n";
    for (int pin = 19; pin >= 12; pin--)
        expected += "\tPin " + std::to_string(pin) + " (B" + std::to_string(pin - 12) + ")    : Input.\n";
    expected += "*/\n";
    EXPECT_EQ(summary_text("dir.x/y"), expected);
}

TEST(Summary, Configurations)
{
    analyse_image(std::vector<uint8_t>(dump_size, 0));
    EXPECT_STREQ(device_config(), "simple");
    EXPECT_STREQ(device_type(), "g16v8as");
    EXPECT_NE(summary_text().find("\tPin 12 (B0)    : Output, fixed LO.\n*/\n"), std::string::npos);

    // B0 and B7 outputs, B1 an input: complex.
    analyse_chip([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
        oe = 0xFD;
        out = bit(ix, 0) * 0x81u;
    });
    EXPECT_STREQ(device_config(), "complex");
    EXPECT_STREQ(device_type(), "g16v8ma");

    // The same, but B6 reads B0 while B0 floats: B0 is used, unknown.
    analyse_chip([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = 0xFC | (bit(ix, 9) ? 0u : 1u);
        out = bit(ix, 0) * 0x81u | bit(rx, 0) << 6;
    });
    EXPECT_EQ(mc[0].flags, 0x18u);
    EXPECT_STREQ(device_config(), "unknown");
    EXPECT_STREQ(device_type(), "g16v8");
}

TEST(Summary, StatusTexts)
{
    EXPECT_STREQ(pin_status(0x19), "Output w/ enable, fixed LO.");
    EXPECT_STREQ(pin_status(0x12), "Output, fixed HI.");
    EXPECT_EQ(pin_status(0x07), nullptr);
    analyse_image(std::vector<uint8_t>(dump_size, 0));
    mc[3].flags = 0x07;
    EXPECT_NE(summary_text().find("\tPin 15 (B3)    : Unknown attributes (07)\n\tPin 14"), std::string::npos);
}

// Pins B0..B3 floating by the given rule, B4..B7 plain outputs of I0.
chip_fn enable_chip(const std::function<bool(int k, unsigned ix, unsigned rx)> &floats,
                    unsigned i9_output = 0)
{
    return [floats, i9_output](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = 0xF0;
        out = bit(ix, 0) * 0xFFu;
        for (int k = 0; k < 4; k++)
            if (!floats(k, ix, rx))
                oe |= 1u << k;
        if (i9_output)
            out ^= bit(ix, 9) << 7;
    };
}

TEST(Summary, RegisteredPinCheck)
{
    // B2 and B0 float with I9 high; B1 floats with I9 low; B3 with I9 high
    // and B7's weak level high (B7 never floats, so oe_mask is still 0x200).
    auto rule = [](int k, unsigned ix, unsigned rx) {
        switch (k) {
        case 1: return bit(ix, 9) == 0;
        case 3: return bit(ix, 9) && bit(rx, 7);
        default: return bit(ix, 9) == 1;
        }
    };
    analyse_chip(enable_chip(rule));
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(mc[k].oe_mask, 0x200u) << "B" << k;
    EXPECT_EQ(registered_pins(), 0x05);
    EXPECT_EQ(summary_text().substr(0, 140),
              std::string("/*\n\tWARNING: The following pins MAY be registered:\n"
                          "\t\tPin 14 (B2)\n\t\tPin 12 (B0)\n\n"
                          "\tAnalysis results WILL NOT be correct for registered devices.\n\n"
                          "\tData source:\n")
                  .substr(0, 140));

    // Any output that depends on I9 suppresses the warning.
    analyse_chip(enable_chip(rule, 1));
    EXPECT_EQ(mc[7].out_mask, 0x201u);
    EXPECT_EQ(registered_pins(), 0);
    EXPECT_EQ(summary_text().compare(0, 18, "/*\n\tData source:\n\t"), 0);

    // Only the reverse-polarity pin: no warning.
    analyse_chip(enable_chip([](int k, unsigned ix, unsigned) { return k == 1 && bit(ix, 9) == 0; }));
    EXPECT_EQ(registered_pins(), 0);
}

TEST(Writer, DesignName)
{
    EXPECT_EQ(design_name("u12.bin"), "u12");
    EXPECT_EQ(design_name("old.dumps/u12"), "old");
    EXPECT_EQ(design_name("dump"), "dump");
    EXPECT_EQ(design_name("a.b.c"), "a.b");
    EXPECT_EQ(design_name(".bin"), "");
    std::string huge(1 << 20, 'n');
    EXPECT_EQ(design_name((huge + ".bin").c_str()), huge);
}

const char *const header_text = "\nName     x;\nPartNo   ;\nDate     ;\nRevision ;\nDesigner ;\n"
                                "Company  ;\nAssembly ;\nLocation ;\nDevice   virtual;\n";

std::string inputs_section(uint32_t used)
{
    std::string s = "\n/* Dedicated input pins */\n\n";
    for (int n = 0; n < 10; n++) {
        s += "pin " + std::to_string(n < 9 ? n + 1 : 11) + "\t=\tI" + std::to_string(n) + ";\t";
        s += bit(used, n) ? "\n" : " /* Unused input */\n";
    }
    return s;
}

TEST(Writer, DeviceWithoutOutputs)
{
    analyse_chip(all_inputs_chip);
    std::string expected = header_text + inputs_section(0) + "\n/* Input and/or bidirectional pins */\n\n";
    for (int k = 0; k < 8; k++)
        expected += "pin " + std::to_string(12 + k) + "\t=\tB" + std::to_string(k) + ";\t /* Unused input */\n";
    expected += "\n/* Output and output enable equations */\n\n\n\n/* End */\n";
    EXPECT_EQ(cupl_text(), expected);
}

TEST(Writer, DeviceThatNeverFloats)
{
    // B7 reads the inverse of its own weak drive (empty mask, both levels),
    // B6 = I0 OR I1, B5..B1 fixed low, B0 fixed high.
    analyse_chip([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = 0xFF;
        out = (bit(rx, 7) ^ 1u) << 7 | (bit(ix, 0) | bit(ix, 1)) << 6 | 0x01u;
    });
    std::string expected = header_text + inputs_section(0x003) + "\n/* Dedicated output pins */\n\n";
    for (int k = 0; k < 8; k++)
        expected += "pin " + std::to_string(12 + k) + "\t=\tB" + std::to_string(k) + ";\t\n";
    expected += "\n/* Output and output enable equations */\n"
                "\n B7\t= ;"
                "\n!B6\t= !I0 & !I1;";
    for (int k = 5; k >= 1; k--)
        expected += "\n B" + std::to_string(k) + "\t= 'b'0;";
    expected += "\n B0\t= 'b'1;\n\n\n/* End */\n";
    EXPECT_EQ(cupl_text(), expected);
}

TEST(Writer, EnableEquationsAndTheirLineEnds)
{
    // B7 floats unless I0 and I1 are high (listed by its driven level), B6
    // floats exactly with I2 low, B5 is a plain output that reads B6, B4..B0
    // inputs. The last enable equation is not B0's: two empty lines follow.
    analyse_chip([](unsigned ix, unsigned rx, unsigned &oe, unsigned &out) {
        oe = (bit(ix, 0) & bit(ix, 1)) << 7 | bit(ix, 2) << 6 | 1u << 5;
        out = 1u << 7 | bit(ix, 3) << 6 | bit(rx, 6) << 5;
    });
    std::string text = cupl_text();
    std::string tail = "\n/* Output and output enable equations */\n"
                       "\n B7\t= 'b'1;"
                       "\n B6\t=  I3;"
                       "\n B5\t=  B6;\n"
                       " B7.oe\t=  I0 &  I1;\n"
                       "!B6.oe\t= !I2;\n"
                       "\n\n/* End */\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_NE(text.find("pin 18\t=\tB6;\t\n"), std::string::npos);   // used while floating
    EXPECT_NE(text.find("pin 19\t=\tB7;\t /* Not used as an input when tristated */\n"), std::string::npos);
    EXPECT_NE(text.find("\n/* Dedicated output pins */\n\npin 17\t=\tB5;\t\n\n/* Output"), std::string::npos);
}

// Runs analyze_pal in a scratch folder, so that the relative file names of
// the examples reach the output unchanged.
class AnalyzeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fs::current_path();
        dir_ = make_temp_dir();
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(saved_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void run(const std::string &name)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        analyze_pal(name.c_str());
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
    }
    fs::path saved_;
    std::string dir_, out_, err_;
};

TEST_F(AnalyzeRun, ExampleChipsMatchTheirGoldenTexts)
{
    write_file("u12.bin", make_dump(u12_chip));
    run("u12.bin");
    expect_golden("u12.txt", out_);
    EXPECT_EQ(err_, "");

    write_file("pal.bin", make_dump(pal_chip));
    run("pal.bin");
    expect_golden("pal.txt", out_);
    EXPECT_EQ(err_, "");
}

TEST_F(AnalyzeRun, ShortFileIsPaddedWithZerosAndWarnedAbout)
{
    std::vector<uint8_t> dump = make_dump(u12_chip);
    std::vector<uint8_t> head(dump.begin(), dump.begin() + 200000);
    write_file("s.bin", head);
    run("s.bin");
    const std::string short_out = out_;
    EXPECT_EQ(err_, "Warning: `s.bin' holds only 200000 of 262144 bytes; the rest is taken as 0.\n");

    head.resize(dump_size, 0);
    write_file("s.bin", head);
    run("s.bin");
    EXPECT_EQ(err_, "");
    EXPECT_EQ(short_out, out_);
    EXPECT_NE(out_.find("Name     s;"), std::string::npos);

    // Bytes past the first 262144 are ignored.
    dump.resize(dump_size + 100, 0x55);
    write_file("u12.bin", dump);
    run("u12.bin");
    EXPECT_EQ(err_, "");
    expect_golden("u12.txt", out_);

    // An empty file is all zeros: nothing floats, every pin fixed low.
    write_file("e", {});
    run("e");
    EXPECT_EQ(err_, "Warning: `e' holds only 0 of 262144 bytes; the rest is taken as 0.\n");
    EXPECT_NE(out_.find("\t\tsimple\n"), std::string::npos);
    EXPECT_NE(out_.find("\tPin 19 (B7)    : Output, fixed LO.\n"), std::string::npos);
}

TEST_F(AnalyzeRun, MissingFileOrDirectoryIsNotFound)
{
    run("absent.bin");
    EXPECT_EQ(out_, "File `absent.bin' not found.\n");
    EXPECT_EQ(err_, "");

    fs::create_directory("d.bin");
    run("d.bin");
    EXPECT_EQ(out_, "File `d.bin' not found.\n");
    EXPECT_EQ(err_, "");
}

TEST_F(AnalyzeRun, VeryLongFileName)
{
    // A path of some 3000 characters, dots inside folder names.
    std::string path;
    for (int level = 0; level < 14; level++) {
        path += std::string(200, char('a' + level)) + ".d/";
        fs::create_directory(path);
    }
    path += "dump";
    write_file(path, make_dump(pal_chip));
    run(path);
    EXPECT_EQ(err_, "");
    EXPECT_NE(out_.find("\tData source:\n\t\t" + path + "\n\n"), std::string::npos);
    const std::string cut = path.substr(0, path.rfind('.'));
    EXPECT_NE(out_.find("\nName     " + cut + ";\n"), std::string::npos);
}

} // namespace
