// gatesweep-check on its own: the worked example's equations against its
// dump, exact and wrong, the less common forms of the text, and the input
// it refuses.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

// Runs gatesweep-check with args in a folder holding text as chip.txt and
// u12.bin, the dump of the worked example behind tests/golden/u12.txt, forms.bin (B0, B1 high, B2 = I1, B3 = I0
// while I2, every other pin floating), short.bin, and flipped.bin: u12.bin
// with B7 and B0 read wrong at index 5 and B7 at the last index.
run_result check(const std::string &text, const std::string &args, const std::string &shell_prefix = "")
{
    static const std::string dir = make_temp_dir();
    if (!file_exists(dir + "/short.bin")) {
        write_file(dir + "/u12.bin", make_dump(u12_chip));
        write_file(dir + "/forms.bin", make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                       oe = 0x07 | bit(ix, 2) << 3, out = 0x03 | bit(ix, 1) << 2 | bit(ix, 0) << 3;
                   }));
        std::vector<uint8_t> flipped = make_dump(u12_chip);
        flipped[5] ^= 0x81, flipped[dump_size - 1] ^= 0x80;
        write_file(dir + "/flipped.bin", flipped);
        write_file(dir + "/short.bin", std::vector<uint8_t>(1000));
    }
    write_text(dir + "/chip.txt", text);
    return run_program(dir, {}, "/bin/sh", {"-c", shell_prefix + GATESWEEP_CHECK_EXE + " " + args});
}

const std::string u12_text = read_text(std::string(TEST_SOURCE_DIR) + "/golden/u12.txt");

// Every signal declared at its pin, in two lines.
const std::string pins = "pin 1 = I0; pin 2 = I1; pin 3 = I2; pin 4 = I3; pin 5 = I4; pin 6 = I5; pin 7 = I6;"
                         " pin 8 = I7; pin 9 = I8; pin 11 = I9;\nPIN 12 = B0; Pin 13 = B1; pin 14 = B2; pin 15 = B3;"
                         " pin 16 = B4; pin 17 = B5; pin 18 = B6; pin 19 = B7;\n";

const std::string usage =
    "usage: gatesweep-check DUMP.bin CUPL.txt\n"
    "       gatesweep-check CHIP.walk CUPL.txt\n"
    "       gatesweep-check --compare A.bin B.bin\n"
    "       gatesweep-check -h | --help | --version\n"
    "  CUPL.txt is the text `gatesweep analyze DUMP.bin' printed (- for standard input),\n"
    "  or the one `gatesweep-fit --cupl' wrote for a walk of a registered chip.\n"
    "  --compare tells where two dumps of one chip read differently.\n"
    "  Exit status: 0 exact or identical, 1 mismatches or differences, 2 unreadable input.\n";

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
    // B0 = 'b'1, !B1 = 'b'0, a B2 term that never holds, CR LF line ends,
    // declarations after the equations, upper-case keywords, comments
    // between words and over equations that are not read.
    std::string forms = "/* B3 = I1; */ B3\t=  I0;\r\n B2\t=  I1\n\t#  I0 /* # I1 */ & !I0;\n!B1\t= 'b'0;\n"
                        " B0\t= 'b'1;\n B3.oe\t=  I2;\r\nNAME forms;\n" + pins + "/* B7 = 'b'1; /* B6 = 'b'1; */\n";
    const std::string cases[][4] = {
        {u12_text, "u12.bin chip.txt", "0", "jedec_check_u12.txt"},
        {wrong, "u12.bin chip.txt", "1", "jedec_check_u12_wrong.txt"},
        {forms, "forms.bin chip.txt", "0", "jedec_check_u12.txt"},
        {forms, "forms.bin - < chip.txt", "0", "jedec_check_u12.txt"},
        {edited(u12_text, " B6\t= !I3;", "/*\n B7\t= !I0; */ B6\t= !I3;"), "u12.bin chip.txt", "0",
         "jedec_check_u12.txt"},
    };
    for (const auto &c : cases) {
        run_result r = check(c[0], c[1]);
        EXPECT_EQ(std::to_string(r.status) + r.err, c[2]) << c[1];
        expect_golden(c[3], r.out);
    }
}

TEST(JedecCheck, RefusesWhatItCannotRead)
{
    const std::string head = pins + "/* Output and output enable equations */\n", at = "chip.txt: line ";
    std::string many_terms;
    for (unsigned n = 0; n < 4194304; n++)
        many_terms += "I0#";
    // B0 and B7 swapped, as a compiler would build them.
    const std::string swapped = edited(edited(u12_text, "pin 12\t=\tB0;", "pin 12\t=\tB7;"), "pin 19\t=\tB7;",
                                       "pin 19\t=\tB0;");
    const std::string cases[][3] = {
        {"Name x;\n/* pin 19 = B7; */\n", "u12.bin chip.txt",
         "chip.txt: no pin declarations: not the CUPL source that `gatesweep analyze' prints"},
        {swapped, "", at + "53: B7 declared at pin 12, but B7 is pin 19"},
        {edited(u12_text, "pin 17\t=\tB5;", "pin 17\t=\tB6;"), "", at + "56: B6 declared at pin 17, but B6 is pin 18"},
        {edited(u12_text, "pin 18\t=\tB6;", ""), "", at + "68: B6 is not declared: no `pin 18 = B6;'"},
        {edited(u12_text, "pin 17\t=\tB5;", ""), "", at + "70: B5 is not declared: no `pin 17 = B5;'"},
        {pins + "pin 19 = B7;\n", "", at + "3: a second declaration of B7"},
        {pins + "pin = B7;\n", "", at + "3: expected a pin number after `pin', found `='"},
        {pins + "pin 19 = !B7;\n", "", at + "3: expected a signal I0..I9 or B0..B7, found `!'"},
        {"pin 19 = B7\n", "", at + "2: expected `;' after the declaration of B7, found `end of text'"},
        {pins + "Device virtual\n", "", at + "3: the header field Device has no `;'"},
        {edited(u12_text, "/* End */", "/* End"), "", at + "78: a comment `/*' that never ends"},
        // Comments do not nest.
        {head + "/* B7 = I0; /* B7 = I1; */ B7 = I2; */\n", "",
         at + "4: expected a pin declaration or an equation for B0..B7, found `*'"},
        {head + "// B7 = I0;\n", "", at + "4: expected a pin declaration or an equation for B0..B7, found `/'"},
        {head + " B7\t=  I0 & X1;\n", "", at + "4: expected a signal I0..I9 or B0..B7, found `X1'"},
        {head + " I7\t=  I0;\n", "", at + "4: expected a pin declaration or an equation for B0..B7, found `I7'"},
        {head + " B7\t=  I0;\n\n B7\t=  I1;\n", "", at + "6: a second equation for B7"},
        {head + "!B7.oe\t=  I0;\n", "", at + "4: an enable equation for B7, which has no output equation"},
        {head + " B7\t=  I0 | I1;\n", "", at + "4: expected `;' after the equation for B7, found `|'"},
        {head + " B7\t= ;\n", "", at + "4: nothing after `=' in the equation for B7"},
        {head + " B7\t=  I0\n\t# ;\n", "", at + "5: expected a signal I0..I9 or B0..B7, found `;'"},
        {head + " B7\t= " + many_terms + "I0;\n", "",
         at + "4: more than 4194304 product terms, far more than `gatesweep analyze' prints"},
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
        {"--compare u12.bin flipped.bin > /dev/full", "2", "", lost},
        {"--compare u12.bin", "2", "", usage},
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
    std::string text = pins + " B7\t= ";
    unsigned terms = 0;
    for (unsigned set = 0; set < (1u << 18) && terms < 20000; set++) {
        if (__builtin_popcount(set) != 7)
            continue;
        text += terms++ ? "\n\t# " : "";
        for (unsigned n = 0, first = 1; n < 18; n++)
            if (set >> n & 1)
                text += std::string(first ? "" : " & ") + (n % 3 ? " " : "!") + names[n], first = 0;
    }
    run_result r = check(text + ";\n", "u12.bin chip.txt", "ulimit -v 300000; ");
    EXPECT_EQ(std::to_string(r.status) + r.err, "1");
}

TEST(JedecCheck, ComparesTwoDumps)
{
    const std::string same = "B7: 0 differences\nB6: 0 differences\nB5: 0 differences\nB4: 0 differences\n"
                             "B3: 0 differences\nB2: 0 differences\nB1: 0 differences\nB0: 0 differences\n";
    const std::string cases[][4] = {
        {"u12.bin u12.bin", "0", same + "Dumps identical: all 262144 conditions read the same.\n", ""},
        {"flipped.bin u12.bin", "1",
         "B7: 2 differences, first at 0x00005 0x3FFFF\nB6: 0 differences\nB5: 0 differences\nB4: 0 differences\n"
         "B3: 0 differences\nB2: 0 differences\nB1: 0 differences\nB0: 1 difference, first at 0x00005\n"
         "Dumps differ: 3 differences on 2 pins.\n",
         ""},
        {"u12.bin short.bin", "2", "", "gatesweep-check: `short.bin' holds 1000 bytes, not a dump of 262144\n"},
        {"none.bin u12.bin", "2", "", "gatesweep-check: cannot read the dump `none.bin'\n"},
        {"u12.bin /dev/zero", "2", "",
         "gatesweep-check: `/dev/zero' holds more than 262144 bytes, not a dump of 262144\n"},
    };
    for (const auto &c : cases) {
        run_result r = check("", "--compare " + c[0]);
        EXPECT_EQ(std::to_string(r.status) + "\n" + r.out + "--\n" + r.err, c[1] + "\n" + c[2] + "--\n" + c[3]) << c[0];
    }
}
