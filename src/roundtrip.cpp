#include "roundtrip.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr unsigned shown_mismatches = 8;
constexpr uint32_t words = rt_conditions / 64;
const char *const equations_heading = "/* Output and output enable equations */";
const char *const end_marker = "/* End */";

// A cursor over the equation section that knows its line in the whole text.
struct scanner {
    const std::string &text;
    size_t pos;
    size_t end;
    unsigned line;
    size_t terms;  // read so far, in all equations
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
    if (++s.terms > rt_max_terms)
        return fail(s, "more than " + std::to_string(rt_max_terms) +
                           " product terms, far more than `gatesweep analyze' prints", err);
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
    if (s.pos < s.end && s.text[s.pos] == ';')
        return fail(s, "nothing after `=' in the equation for " + name, err);
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
    scanner s{text, begin, text.size(), line_at(text, begin), 0};
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

namespace {

// Sets the bits of v for every condition that term t accepts. The six low
// signals select a bit within a word, the twelve others the word: the term
// is one 64-bit pattern ORed into every word whose index it accepts.
void mark_term(std::vector<uint64_t> &v, const rt_term &t)
{
    static const uint64_t low_signal[6] = {
        0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
        0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull,
    };
    uint64_t pattern = ~uint64_t(0);
    for (unsigned n = 0; n < 6; n++)
        if (t.care >> n & 1)
            pattern &= (t.value >> n & 1) ? low_signal[n] : ~low_signal[n];
    const uint32_t care = t.care >> 6 & (words - 1), value = t.value >> 6 & care, free = ~care & (words - 1);
    for (uint32_t f = free;; f = (f - 1) & free) {
        v[value | f] |= pattern;
        if (f == 0)
            break;
    }
}

bool term_less(const rt_term &a, const rt_term &b)
{
    return a.care != b.care ? a.care < b.care : a.value < b.value;
}

bool term_same(const rt_term &a, const rt_term &b)
{
    return a.care == b.care && a.value == b.value;
}

} // namespace

std::vector<uint64_t> rt_evaluate(const rt_equation &eq)
{
    std::vector<uint64_t> v(words, 0);
    if (eq.constant >= 0) {
        std::fill(v.begin(), v.end(), eq.constant ? ~uint64_t(0) : 0);
    } else {
        // A term repeated costs once; every distinct term costs at most
        // one pass over the 4096 words.
        std::vector<rt_term> terms;
        for (const rt_term &t : eq.terms)
            if (t.care != ~0u)
                terms.push_back(t);
        std::sort(terms.begin(), terms.end(), term_less);
        terms.erase(std::unique(terms.begin(), terms.end(), term_same), terms.end());
        for (const rt_term &t : terms)
            mark_term(v, t);
    }
    if (eq.negated) {
        for (uint64_t &w : v)
            w = ~w;
    }
    return v;
}

std::array<rt_pin_result, 8> rt_compare(const std::vector<uint8_t> &dump, const rt_design &design)
{
    std::array<rt_pin_result, 8> result;
    for (unsigned k = 0; k < 8; k++) {
        const rt_pin &pin = design[k];
        std::vector<uint64_t> level, enabled;
        if (pin.out.present)
            level = rt_evaluate(pin.out);
        if (pin.oe.present)
            enabled = rt_evaluate(pin.oe);
        uint32_t own = 1u << (10 + k);
        for (uint32_t i = 0; i < rt_conditions; i++) {
            unsigned lo = dump[i & ~own] >> k & 1, hi = dump[i | own] >> k & 1;
            bool driven = !(lo == 0 && hi == 1);
            bool want_driven = pin.out.present && (!pin.oe.present || (enabled[i / 64] >> (i % 64) & 1));
            bool bad = driven != want_driven || (driven && (level[i / 64] >> (i % 64) & 1) != (dump[i] >> k & 1u));
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
