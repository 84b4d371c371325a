// gatesweep-check on its own: the worked example's equations against its
// dump, exact and with wrong equations, the less common forms of the text,
// and the input it refuses.
#include <gtest/gtest.h>

#include "testkit.h"

#include <string>

namespace {

unsigned bit(unsigned v, unsigned n) { return v >> n & 1; }

// The worked example behind tests/golden/u12.txt: B7 = I0 & I1; B6 = /I3
// while I2; B5, B1 inputs; B4 low; B3 = I4 ^ B5; B2 high while /I5; B0 = I6
// while /I9.
void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = 0x98u | bit(ix, 2) << 6 | (bit(ix, 5) ^ 1u) << 2 | (bit(ix, 9) ^ 1u);
    out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1u) << 6 | (bit(ix, 4) ^ bit(rx, 5)) << 3 | 1u << 2 |
          bit(ix, 6);
}

std::string replace_once(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

struct check_case {
    std::string dir;
    run_result run(const std::string &text, const std::vector<std::string> &args = {"chip.bin", "chip.txt"})
    {
        write_text(dir + "/chip.txt", text);
        return run_program(dir, {}, GATESWEEP_CHECK_EXE, args);
    }
};

check_case u12_case()
{
    check_case c{make_temp_dir()};
    write_file(c.dir + "/chip.bin", make_dump(u12_chip));
    return c;
}

const std::string u12_text = read_text(std::string(TEST_SOURCE_DIR) + "/golden/u12.txt");

} // namespace

TEST(JedecCheck, WorkedExampleIsExact)
{
    check_case c = u12_case();
    run_result r = c.run(u12_text);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    expect_golden("jedec_check_u12.txt", r.out);
}

TEST(JedecCheck, WrongEquationsAreCountedPerPin)
{
    check_case c = u12_case();
    std::string text = replace_once(u12_text, " B6\t= !I3;", " B6\t=  I3;"); // wrong wherever B6 drives
    text = replace_once(text, "!B0.oe\t=  I9;", "!B0.oe\t= !I9;");           // wrong everywhere
    text = replace_once(text, "\t# !I4 &  B5;", "\t# !I4 & !B5;");           // wrong where I4 is low
    run_result r = c.run(text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    expect_golden("jedec_check_u12_wrong.txt", r.out);
}

TEST(JedecCheck, ConstantsEmptyTermsNegationsAndStandardInput)
{
    // B0 always high, B1 high (a negated 'b'0), B2 = I1 with a term that can
    // never hold, B3 = I0 driven while I2: every other pin floats.
    check_case c{make_temp_dir()};
    write_file(c.dir + "/chip.bin", make_dump([](unsigned ix, unsigned, unsigned &oe, unsigned &out) {
                   oe = 0x07 | bit(ix, 2) << 3;
                   out = 0x03 | bit(ix, 1) << 2 | bit(ix, 0) << 3;
               }));
    std::string text = "/* Output and output enable equations */\r\n"
                       " B3\t=  I0;\n B2\t=  I1\n\t#  I0 & !I0;\n!B1\t= 'b'0;\n B0\t= ;\n B3.oe\t=  I2;\n\n/* End */\n";
    run_result r = c.run(text);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    r = run_program(c.dir, {}, "/bin/sh", {"-c", std::string(GATESWEEP_CHECK_EXE) + " chip.bin - < chip.txt"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Round trip exact"), std::string::npos);
}

TEST(JedecCheck, RefusesWhatItCannotRead)
{
    check_case c = u12_case();
    const std::string head = "/* Output and output enable equations */\n";
    struct bad {
        std::string text, err;
    };
    const bad cases[] = {
        {"Name x;\n", "gatesweep-check: chip.txt: no line `/* Output and output enable equations */': not the "
                      "output of `gatesweep analyze'\n"},
        {head + " B7\t=  I0 & X1;\n/* End */\n", "gatesweep-check: chip.txt: line 2: expected a signal I0..I9 or "
                                                  "B0..B7, found `X1'\n"},
        {head + " I7\t=  I0;\n/* End */\n", "gatesweep-check: chip.txt: line 2: expected an equation for B0..B7, "
                                             "found `I7'\n"},
        {head + " B7\t=  I0;\n\n B7\t=  I1;\n/* End */\n", "gatesweep-check: chip.txt: line 4: a second equation "
                                                            "for B7\n"},
        {head + "!B7.oe\t=  I0;\n/* End */\n", "gatesweep-check: chip.txt: line 2: an enable equation for B7, which "
                                                "has no output equation\n"},
        {head + " B7\t=  I0 | I1;\n/* End */\n", "gatesweep-check: chip.txt: line 2: expected `;' after the "
                                                  "equation for B7, found `|'\n"},
        {head + " B7\t=  I0;\n", "gatesweep-check: chip.txt: line 3: the text ends before `/* End */'\n"},
        {head + " B7\t=  I0;\n/* Extra */\n", "gatesweep-check: chip.txt: line 3: expected an equation or "
                                               "`/* End */'\n"},
    };
    for (const bad &b : cases) {
        run_result r = c.run(b.text);
        EXPECT_EQ(r.status, 2) << b.text;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, b.err);
    }

    write_file(c.dir + "/short.bin", std::vector<uint8_t>(1000));
    run_result r = c.run(u12_text, {"short.bin", "chip.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "gatesweep-check: `short.bin' holds 1000 bytes, not a dump of 262144\n");
    r = c.run(u12_text, {"chip.bin", "missing.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "gatesweep-check: cannot read the equations `missing.txt'\n");
    r = c.run(u12_text, {"chip.bin", "."});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "gatesweep-check: cannot read the equations `.'\n");
    r = c.run(u12_text, {"chip.bin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("usage: gatesweep-check DUMP.bin CUPL.txt\n", 0), 0u);
}
