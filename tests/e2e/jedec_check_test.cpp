// gatesweep-check on its own: the worked example's equations against its
// dump, exact and wrong, the less common forms of the text, and the input
// it refuses.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

// Runs gatesweep-check with args in a folder holding text as chip.txt and
// u12.bin, the dump of the worked example behind tests/golden/u12.txt, forms.bin (B0, B1 high, B2 = I1, B3 = I0
// while I2, every other pin floating) and short.bin.
run_result check(const std::string &text, const std::string &args, const std::string &shell_prefix = "")
{
    static const std::string dir = make_temp_dir();
    if (!file_exists(dir + "/short.bin")) {
        write_file(dir + "/u12.bin", make_dump(u12_chip));
        write_file(dir + "/forms.bin", make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                       oe = 0x07 | bit(ix, 2) << 3, out = 0x03 | bit(ix, 1) << 2 | bit(ix, 0) << 3;
                   }));
        write_file(dir + "/short.bin", std::vector<uint8_t>(1000));
    }
    write_text(dir + "/chip.txt", text);
    return run_program(dir, {}, "/bin/sh", {"-c", shell_prefix + GATESWEEP_CHECK_EXE + " " + args});
}

const std::string u12_text = read_text(std::string(TEST_SOURCE_DIR) + "/golden/u12.txt");

const std::string usage = "usage: gatesweep-check DUMP.bin CUPL.txt\n"
                          "       gatesweep-check -h | --help | --version\n"
                          "  CUPL.txt is the text `gatesweep analyze DUMP.bin' printed (- for standard input).\n"
                          "  Exit status: 0 exact, 1 mismatches, 2 unreadable input.\n";

std::string edited(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

TEST(JedecCheck, WorkedExampleAndLessCommonForms)
{
    // Wrong: B6 wherever it drives, B0's enable everywhere, B3 where I4 is low.
    std::string wrong = edited(u12_text, " B6\t= !I3;", " B6\t=  I3;");
    wrong = edited(edited(wrong, "!B0.oe\t=  I9;", "!B0.oe\t= !I9;"), "\t# !I4 &  B5;", "\t# !I4 & !B5;");
    // B0 = 'b'1, !B1 = 'b'0, a B2 term that never holds, CR LF line ends.
    std::string forms = "/* Output and output enable equations */\r\n B3\t=  I0;\n B2\t=  I1\n\t#  I0 & !I0;\n"
                        "!B1\t= 'b'0;\n B0\t= 'b'1;\n B3.oe\t=  I2;\n\n/* End */\n";
    const std::string cases[][4] = {
        {u12_text, "u12.bin chip.txt", "0", "jedec_check_u12.txt"},
        {wrong, "u12.bin chip.txt", "1", "jedec_check_u12_wrong.txt"},
        {forms, "forms.bin chip.txt", "0", "jedec_check_u12.txt"},
        {forms, "forms.bin - < chip.txt", "0", "jedec_check_u12.txt"},
    };
    for (const auto &c : cases) {
        run_result r = check(c[0], c[1]);
        EXPECT_EQ(std::to_string(r.status) + r.err, c[2]) << c[1];
        expect_golden(c[3], r.out);
    }
}

TEST(JedecCheck, RefusesWhatItCannotRead)
{
    const std::string head = "/* Output and output enable equations */\n", end = "/* End */\n", at = "chip.txt: line ";
    std::string many_terms;
    for (unsigned n = 0; n < 4194304; n++)
        many_terms += "I0#";
    const std::string cases[][3] = {
        {"Name x;\n", "u12.bin chip.txt",
         "chip.txt: no line `/* Output and output enable equations */': not the output of `gatesweep analyze'"},
        {head + " B7\t=  I0 & X1;\n" + end, "", at + "2: expected a signal I0..I9 or B0..B7, found `X1'"},
        {head + " I7\t=  I0;\n" + end, "", at + "2: expected an equation for B0..B7, found `I7'"},
        {head + " B7\t=  I0;\n\n B7\t=  I1;\n" + end, "", at + "4: a second equation for B7"},
        {head + "!B7.oe\t=  I0;\n" + end, "", at + "2: an enable equation for B7, which has no output equation"},
        {head + " B7\t=  I0 | I1;\n" + end, "", at + "2: expected `;' after the equation for B7, found `|'"},
        {head + " B7\t=  I0;\n", "", at + "3: the text ends before `/* End */'"},
        {head + " B7\t=  I0;\n/* Extra */\n", "", at + "3: expected an equation or `/* End */'"},
        {head + " B7\t= ;\n" + end, "", at + "2: nothing after `=' in the equation for B7"},
        {head + " B7\t=  I0\n\t# ;\n" + end, "", at + "3: expected a signal I0..I9 or B0..B7, found `;'"},
        {head + " B7\t= " + many_terms + "I0;\n" + end, "",
         at + "2: more than 4194304 product terms, far more than `gatesweep analyze' prints"},
        {u12_text, "short.bin chip.txt", "`short.bin' holds 1000 bytes, not a dump of 262144"},
        // The dump's size is checked first, reading no more than a dump holds.
        {u12_text, "/dev/zero /dev/zero", "`/dev/zero' holds more than 262144 bytes, not a dump of 262144"},
        {u12_text, "u12.bin /dev/zero",
         "`/dev/zero' holds more than 268435456 bytes, far more than `gatesweep analyze' prints"},
        {u12_text, "none.bin chip.txt", "cannot read the dump `none.bin'"},
        {u12_text, "u12.bin none.txt", "cannot read the equations `none.txt'"},
        {u12_text, "u12.bin .", "cannot read the equations `.'"},
    };
    for (const auto &c : cases) {
        run_result r = check(c[0], c[1].empty() ? "u12.bin chip.txt" : c[1]);
        EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "2gatesweep-check: " + c[2] + "\n") << c[0];
    }
}

TEST(JedecCheck, HelpVersionWrongCallsAndLostOutput)
{
    const std::string lost = "gatesweep-check: could not write to standard output\n";
    const std::string cases[][4] = {
        {"-h", "0", usage, ""},
        {"--help", "0", usage, ""},
        {"--version", "0", "gatesweep-check " GATESWEEP_VERSION "\n", ""},
        {"u12.bin", "2", "", usage},
        {"--help u12.bin", "2", "", usage},
        {"u12.bin chip.txt chip.txt", "2", "", usage},
        {"u12.bin chip.txt > /dev/full", "2", "", lost},
        {"--help > /dev/full", "2", "", lost},
    };
    for (const auto &c : cases) {
        run_result r = check(u12_text, c[0]);
        EXPECT_EQ(std::to_string(r.status) + "\n" + r.out + "--\n" + r.err, c[1] + "\n" + c[2] + "--\n" + c[3]) << c[0];
    }
}

TEST(JedecCheck, ManyDistinctTermsInLittleMemory)
{
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif
#ifdef UNDER_ASAN
    GTEST_SKIP() << "an address space limit does not go with AddressSanitizer";
#endif
    // 20000 terms, each over its own set of seven signals: a table of all
    // conditions per set of signals would take 640 MB.
    const char *const names[] = {"I0", "I1", "I2", "I3", "I4", "I5", "I6", "I7", "I8",
                                 "I9", "B0", "B1", "B2", "B3", "B4", "B5", "B6", "B7"};
    std::string text = "/* Output and output enable equations */\n B7\t= ";
    unsigned terms = 0;
    for (unsigned set = 0; set < (1u << 18) && terms < 20000; set++) {
        if (__builtin_popcount(set) != 7)
            continue;
        text += terms++ ? "\n\t# " : "";
        for (unsigned n = 0, first = 1; n < 18; n++)
            if (set >> n & 1)
                text += std::string(first ? "" : " & ") + (n % 3 ? " " : "!") + names[n], first = 0;
    }
    run_result r = check(text + ";\n\n/* End */\n", "u12.bin chip.txt", "ulimit -v 300000; ");
    EXPECT_EQ(std::to_string(r.status) + r.err, "1");
}
