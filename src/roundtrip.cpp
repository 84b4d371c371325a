#include "roundtrip.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

constexpr uint32_t conditions = 262144;
constexpr unsigned shown_mismatches = 8;
const char *const equations_heading = "/* Output and output enable equations */";
const char *const end_marker = "/* End */";

// A cursor over the equation section that knows its line in the whole text.
struct scanner {
    const std::string &text;
    size_t pos;
    size_t end;
    unsigned line;
};

unsigned line_at(const std::string &text, size_t pos)
{
    unsigned line = 1;
    for (size_t i = 0; i < pos && i < text.size(); i++) {
        if (text[i] == '\n')
            line++;
    }
    return line;
}

void skip_space(scanner &s)
{
    while (s.pos < s.end) {
        char c = s.text[s.pos];
        if (c == '\n')
            s.line++;
        else if (c != ' ' && c != '\t' && c != '\r')
            break;
        s.pos++;
    }
}

bool at(const scanner &s, const char *word)
{
    return s.text.compare(s.pos, std::char_traits<char>::length(word), word) == 0;
}

bool fail(const scanner &s, const std::string &what, std::string &err)
{
    err = "line " + std::to_string(s.line) + ": " + what;
    return false;
}

std::string word_at(const scanner &s)
{
    size_t p = s.pos;
    while (p < s.end && (std::isalnum(static_cast<unsigned char>(s.text[p])) || s.text[p] == '_' ||
                         s.text[p] == '.' || s.text[p] == '\''))
        p++;
    if (p == s.pos)
        return s.pos < s.end ? std::string(1, s.text[s.pos]) : std::string("end of text");
    return s.text.substr(s.pos, p - s.pos);
}

// A signal name I0..I9 or B0..B7: its signal number, or -1.
int read_signal(scanner &s)
{
    if (s.pos + 1 >= s.end)
        return -1;
    char kind = s.text[s.pos], digit = s.text[s.pos + 1];
    if ((kind != 'I' && kind != 'B') || digit < '0' || digit > '9')
        return -1;
    if (s.pos + 2 < s.end && std::isalnum(static_cast<unsigned char>(s.text[s.pos + 2])))
        return -1;
    int n = digit - '0';
    if (kind == 'B') {
        if (n > 7)
            return -1;
        n += 10;
    }
    s.pos += 2;
    return n;
}

bool read_term(scanner &s, rt_term &term, std::string &err)
{
    skip_space(s);
    if (s.pos < s.end && (s.text[s.pos] == ';' || s.text[s.pos] == '#'))
        return true; // a term without literals: always true
    for (;;) {
        skip_space(s);
        bool bang = s.pos < s.end && s.text[s.pos] == '!';
        if (bang)
            s.pos++;
        int n = read_signal(s);
        if (n < 0)
            return fail(s, "expected a signal I0..I9 or B0..B7, found `" + word_at(s) + "'", err);
        uint32_t bit = 1u << n;
        if ((term.care & bit) && ((term.value & bit) != 0) == bang) {
            term.care = ~0u; // x & !x: never true
        } else {
            term.care |= bit;
            if (!bang)
                term.value |= bit;
        }
        skip_space(s);
        if (s.pos < s.end && s.text[s.pos] == '&') {
            s.pos++;
            continue;
        }
        return true;
    }
}

bool read_equation(scanner &s, rt_design &design, std::string &err)
{
    unsigned start_line = s.line;
    bool negated = false;
    if (s.text[s.pos] == '!') {
        negated = true;
        s.pos++;
    }
    size_t name_at = s.pos;
    int n = read_signal(s);
    if (n < 10) {
        s.pos = name_at;
        return fail(s, "expected an equation for B0..B7, found `" + word_at(s) + "'", err);
    }
    bool enable = at(s, ".oe");
    if (enable)
        s.pos += 3;
    skip_space(s);
    if (s.pos >= s.end || s.text[s.pos] != '=')
        return fail(s, "expected `=', found `" + word_at(s) + "'", err);
    s.pos++;

    unsigned k = static_cast<unsigned>(n - 10);
    rt_equation &eq = enable ? design[k].oe : design[k].out;
    std::string name = "B" + std::to_string(k) + (enable ? ".oe" : "");
    if (eq.present) {
        s.line = start_line;
        return fail(s, "a second equation for " + name, err);
    }
    if (enable && !design[k].out.present) {
        s.line = start_line;
        return fail(s, "an enable equation for " + name.substr(0, 2) + ", which has no output equation",
                    err);
    }
    eq.present = true;
    eq.negated = negated;

    skip_space(s);
    if (at(s, "'b'0") || at(s, "'b'1")) {
        eq.constant = s.text[s.pos + 3] - '0';
        s.pos += 4;
        skip_space(s);
    } else {
        for (;;) {
            rt_term term;
            if (!read_term(s, term, err))
                return false;
            eq.terms.push_back(term);
            skip_space(s);
            if (s.pos < s.end && s.text[s.pos] == '#') {
                s.pos++;
                continue;
            }
            break;
        }
    }
    if (s.pos >= s.end || s.text[s.pos] != ';')
        return fail(s, "expected `;' after the equation for " + name + ", found `" + word_at(s) + "'", err);
    s.pos++;
    return true;
}

bool read_file(const std::string &path, std::string &bytes)
{
    if (path == "-") {
        std::ostringstream buf;
        buf << std::cin.rdbuf();
        bytes = buf.str();
        return true;
    }
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f)
        return false;
    std::streamoff size = f.tellg();
    if (size < 0 || size > (std::streamoff(1) << 31))
        return false; // a folder, or nothing this utility wrote
    bytes.resize(static_cast<size_t>(size));
    f.seekg(0);
    return static_cast<bool>(f.read(&bytes[0], size));
}

} // namespace

bool rt_parse(const std::string &text, rt_design &design, std::string &err)
{
    design = rt_design{};
    size_t heading = text.find(equations_heading);
    if (heading == std::string::npos) {
        err = std::string("no line `") + equations_heading + "': not the output of `gatesweep analyze'";
        return false;
    }
    size_t begin = heading + std::char_traits<char>::length(equations_heading);
    scanner s{text, begin, text.size(), line_at(text, begin)};
    for (;;) {
        skip_space(s);
        if (s.pos >= s.end)
            return fail(s, std::string("the text ends before `") + end_marker + "'", err);
        if (at(s, "/*")) {
            if (!at(s, end_marker))
                return fail(s, std::string("expected an equation or `") + end_marker + "'", err);
            return true;
        }
        if (!read_equation(s, design, err))
            return false;
    }
}

std::vector<uint8_t> rt_evaluate(const rt_equation &eq)
{
    std::vector<uint8_t> v(conditions, 0);
    if (eq.constant >= 0) {
        std::fill(v.begin(), v.end(), static_cast<uint8_t>(eq.constant));
    } else {
        // Terms that fix the same signals share one table of the levels
        // they accept, so long term lists cost one look-up per index.
        std::vector<uint32_t> cares;
        std::vector<std::vector<uint64_t>> accepted;
        for (const rt_term &t : eq.terms) {
            if (t.care == ~0u)
                continue;
            size_t g = 0;
            while (g < cares.size() && cares[g] != t.care)
                g++;
            if (g == cares.size()) {
                cares.push_back(t.care);
                accepted.emplace_back(conditions / 64, 0);
            }
            accepted[g][t.value / 64] |= uint64_t(1) << (t.value % 64);
        }
        for (size_t g = 0; g < cares.size(); g++) {
            for (uint32_t i = 0; i < conditions; i++) {
                uint32_t t = i & cares[g];
                if (accepted[g][t / 64] >> (t % 64) & 1)
                    v[i] = 1;
            }
        }
    }
    if (eq.negated) {
        for (uint8_t &b : v)
            b ^= 1;
    }
    return v;
}

std::array<rt_pin_result, 8> rt_compare(const std::vector<uint8_t> &dump, const rt_design &design)
{
    std::array<rt_pin_result, 8> result;
    for (unsigned k = 0; k < 8; k++) {
        const rt_pin &pin = design[k];
        std::vector<uint8_t> level, enabled;
        if (pin.out.present)
            level = rt_evaluate(pin.out);
        if (pin.oe.present)
            enabled = rt_evaluate(pin.oe);
        uint32_t own = 1u << (10 + k);
        for (uint32_t i = 0; i < conditions; i++) {
            unsigned lo = dump[i & ~own] >> k & 1, hi = dump[i | own] >> k & 1;
            bool driven = !(lo == 0 && hi == 1);
            bool want_driven = pin.out.present && (!pin.oe.present || enabled[i]);
            bool bad = driven != want_driven || (driven && level[i] != (dump[i] >> k & 1));
            if (bad) {
                rt_pin_result &r = result[k];
                if (r.first.size() < shown_mismatches)
                    r.first.push_back(i);
                r.mismatches++;
            }
        }
    }
    return result;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: gatesweep-check DUMP.bin CUPL.txt\n"
                             "  CUPL.txt is the text `gatesweep analyze DUMP.bin' printed (- for standard input).\n"
                             "  Exit status: 0 exact, 1 mismatches, 2 unreadable input.\n");
        return 2;
    }
    std::string dump_bytes, text;
    if (!read_file(argv[1], dump_bytes)) {
        std::fprintf(stderr, "gatesweep-check: cannot read the dump `%s'\n", argv[1]);
        return 2;
    }
    if (dump_bytes.size() != conditions) {
        std::fprintf(stderr, "gatesweep-check: `%s' holds %zu bytes, not a dump of %u\n", argv[1],
                     dump_bytes.size(), static_cast<unsigned>(conditions));
        return 2;
    }
    if (!read_file(argv[2], text)) {
        std::fprintf(stderr, "gatesweep-check: cannot read the equations `%s'\n", argv[2]);
        return 2;
    }
    rt_design design;
    std::string err;
    if (!rt_parse(text, design, err)) {
        std::fprintf(stderr, "gatesweep-check: %s: %s\n", argv[2], err.c_str());
        return 2;
    }

    std::vector<uint8_t> dump(dump_bytes.begin(), dump_bytes.end());
    std::array<rt_pin_result, 8> result = rt_compare(dump, design);
    unsigned total = 0, bad_pins = 0;
    for (unsigned k = 8; k-- > 0;) {
        const rt_pin_result &r = result[k];
        std::printf("B%u: %u %s", k, r.mismatches, r.mismatches == 1 ? "mismatch" : "mismatches");
        for (size_t j = 0; j < r.first.size(); j++)
            std::printf("%s0x%05X", j == 0 ? ", first at " : " ", static_cast<unsigned>(r.first[j]));
        std::printf("\n");
        total += r.mismatches;
        if (r.mismatches)
            bad_pins++;
    }
    if (total == 0) {
        std::printf("Round trip exact: the equations reproduce all %u conditions.\n",
                    static_cast<unsigned>(conditions));
        return 0;
    }
    std::printf("Round trip failed: %u %s on %u pin%s.\n", total, total == 1 ? "mismatch" : "mismatches", bad_pins,
                bad_pins == 1 ? "" : "s");
    return 1;
}
