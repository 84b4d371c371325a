#include "roundtrip.h"

#include "logic.h"
#include "signals.h"
#include "sweep.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr unsigned shown_mismatches = 8;
constexpr uint32_t words = rt_conditions / 64;

// The header fields of a CUPL source; each takes any text up to its ';'.
const char *const header_fields[] = {"Name",    "PartNo",   "Revision", "Rev",    "Date",   "Designer",
                                     "Company", "Assembly", "Assy",     "Location", "Device", "Format"};

// A cursor over the text that knows its line.
struct scanner {
    const std::string &text;
    size_t pos;
    size_t end;
    unsigned line;
    size_t terms;  // read so far, in all equations
    std::array<unsigned, NUM_SIGNALS> declared; // line of each signal's pin declaration, 0 for none
    std::array<unsigned, NUM_SIGNALS> used;     // line of each signal's first use, 0 for none
};

// Blanks every comment as CUPL reads them: from "/*" to the next "*/", not
// nested, keeping its line ends, so that comments part words as spaces do
// and lines keep their numbers. False with the line of a comment that
// never ends.
bool blank_comments(std::string &text, std::string &err)
{
    unsigned line = 1;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n')
            line++;
        if (text.compare(i, 2, "/*") != 0)
            continue;
        size_t close = text.find("*/", i + 2);
        if (close == std::string::npos) {
            err = "line " + std::to_string(line) + ": a comment `/*' that never ends";
            return false;
        }
        for (; i < close + 2; i++) {
            if (text[i] == '\n')
                line++;
            else
                text[i] = ' ';
        }
        i--;
    }
    return true;
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

bool name_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The length of the name (letters, digits, '_') at the cursor.
size_t name_length(const scanner &s)
{
    size_t p = s.pos;
    while (p < s.end && name_char(s.text[p]))
        p++;
    return p - s.pos;
}

std::string word_at(const scanner &s)
{
    size_t p = s.pos;
    while (p < s.end && (name_char(s.text[p]) || s.text[p] == '.' || s.text[p] == '\''))
        p++;
    if (p == s.pos)
        return s.pos < s.end ? std::string(1, s.text[s.pos]) : std::string("end of text");
    return s.text.substr(s.pos, p - s.pos);
}

// Whether the name at the cursor is word, in any case (as CUPL's keywords).
bool at_keyword(const scanner &s, const char *word)
{
    size_t n = std::char_traits<char>::length(word);
    if (name_length(s) != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        const unsigned char c = static_cast<unsigned char>(s.text[s.pos + i]), w = static_cast<unsigned char>(word[i]);
        if (std::tolower(c) != std::tolower(w))
            return false;
    }
    return true;
}

// A signal name I0..I9 or B0..B7: its signal number, or -1.
int read_signal(scanner &s)
{
    size_t n = name_length(s);
    for (int k = 0; k < NUM_SIGNALS; k++) {
        if (n == std::char_traits<char>::length(signal_name[k]) && s.text.compare(s.pos, n, signal_name[k]) == 0) {
            s.pos += n;
            return k;
        }
    }
    return -1;
}

// A signal in an equation: it must be declared somewhere in the text.
int use_signal(scanner &s)
{
    int n = read_signal(s);
    if (n >= 0 && s.used[static_cast<size_t>(n)] == 0)
        s.used[static_cast<size_t>(n)] = s.line;
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
        if (bang) {
            s.pos++;
            skip_space(s);
        }
        int n = use_signal(s);
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
        skip_space(s);
    }
    size_t name_at = s.pos;
    int n = use_signal(s);
    if (n < BX_SIGNAL0) {
        s.pos = name_at;
        return fail(s, "expected a pin declaration or an equation for B0..B7, found `" + word_at(s) + "'", err);
    }
    const bool enable = at(s, ".oe"), reg = !enable && at(s, ".d");
    s.pos += enable ? 3 : reg ? 2 : 0;
    skip_space(s);
    if (s.pos >= s.end || s.text[s.pos] != '=')
        return fail(s, "expected `=', found `" + word_at(s) + "'", err);
    s.pos++;

    unsigned k = static_cast<unsigned>(n - BX_SIGNAL0);
    rt_pin &pin = design[k];
    rt_equation &eq = enable ? pin.oe : reg ? pin.d : pin.out;
    const std::string bx = bx_name(static_cast<int>(k)), name = bx + (enable ? ".oe" : reg ? ".d" : "");
    // A register drives while pin 11 is low: its pin has no other equation.
    std::string refused;
    if (eq.present)
        refused = "a second equation for " + name;
    else if (!reg && pin.d.present)
        refused = std::string(enable ? "an enable" : "an output") + " equation for " + bx +
                  ", which has a register equation " + bx + ".d";
    else if (reg && pin.out.present)
        refused = "a register equation " + name + " for " + bx + ", which has an output equation";
    else if (enable && !pin.out.present)
        refused = "an enable equation for " + bx + ", which has no output equation";
    if (!refused.empty()) {
        s.line = start_line;
        return fail(s, refused, err);
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

// "pin N = NAME;" after the word pin: NAME must be a signal, declared once
// and at its own package pin, as the chip has it.
bool read_declaration(scanner &s, std::string &err)
{
    skip_space(s);
    int pin = 0;
    size_t digits = 0;
    for (; s.pos < s.end && std::isdigit(static_cast<unsigned char>(s.text[s.pos])); s.pos++, digits++)
        pin = std::min(pin * 10 + (s.text[s.pos] - '0'), 1000);
    if (digits == 0)
        return fail(s, "expected a pin number after `pin', found `" + word_at(s) + "'", err);
    skip_space(s);
    if (s.pos >= s.end || s.text[s.pos] != '=')
        return fail(s, "expected `=', found `" + word_at(s) + "'", err);
    s.pos++;
    skip_space(s);
    int n = read_signal(s);
    if (n < 0)
        return fail(s, "expected a signal I0..I9 or B0..B7, found `" + word_at(s) + "'", err);
    const std::string name = pin_name(n);
    if (pin != pin_number[n])
        return fail(s, name + " declared at pin " + std::to_string(pin) + ", but " + name + " is pin " +
                           std::to_string(pin_number[n]),
                    err);
    if (s.declared[static_cast<size_t>(n)] != 0)
        return fail(s, "a second declaration of " + name, err);
    s.declared[static_cast<size_t>(n)] = s.line;
    skip_space(s);
    if (s.pos >= s.end || s.text[s.pos] != ';')
        return fail(s, "expected `;' after the declaration of " + name + ", found `" + word_at(s) + "'", err);
    s.pos++;
    return true;
}

// A header field after its name: any text up to the ';'.
bool read_header_field(scanner &s, const std::string &field, std::string &err)
{
    const unsigned start_line = s.line;
    for (; s.pos < s.end && s.text[s.pos] != ';'; s.pos++)
        if (s.text[s.pos] == '\n')
            s.line++;
    if (s.pos >= s.end) {
        s.line = start_line;
        return fail(s, "the header field " + field + " has no `;'", err);
    }
    s.pos++;
    return true;
}

bool read_statement(scanner &s, rt_design &design, std::string &err)
{
    for (const char *field : header_fields) {
        if (at_keyword(s, field)) {
            std::string name = s.text.substr(s.pos, name_length(s));
            s.pos += name.size();
            return read_header_field(s, name, err);
        }
    }
    if (at_keyword(s, "pin")) {
        s.pos += 3;
        return read_declaration(s, err);
    }
    return read_equation(s, design, err);
}

} // namespace

bool rt_parse(std::string text, rt_design &design, std::string &err)
{
    design = rt_design{};
    if (!blank_comments(text, err))
        return false;
    scanner s{text, 0, text.size(), 1, 0, {}, {}};
    for (;;) {
        skip_space(s);
        if (s.pos >= s.end)
            break;
        if (!read_statement(s, design, err))
            return false;
    }
    // The first use of a name that no declaration gives a pin.
    int undeclared = -1;
    for (int n = 0; n < NUM_SIGNALS; n++) {
        const size_t i = static_cast<size_t>(n);
        if (s.used[i] != 0 && s.declared[i] == 0 &&
            (undeclared < 0 || s.used[i] < s.used[static_cast<size_t>(undeclared)]))
            undeclared = n;
    }
    if (undeclared >= 0) {
        s.line = s.used[static_cast<size_t>(undeclared)];
        const std::string name = pin_name(undeclared);
        return fail(s, name + " is not declared: no `pin " + std::to_string(pin_number[undeclared]) + " = " + name +
                           ";'",
                    err);
    }
    if (std::none_of(s.declared.begin(), s.declared.end(), [](unsigned line) { return line != 0; })) {
        err = "no pin declarations: not the CUPL source that `gatesweep analyze' prints";
        return false;
    }
    return true;
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

void note_mismatch(rt_pin_result &r, uint32_t index)
{
    if (r.first.size() < shown_mismatches)
        r.first.push_back(index);
    r.mismatches++;
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

std::unique_ptr<sim_chip> rt_chip(const rt_design &design)
{
    logic_design logic;
    for (unsigned k = 0; k < NUM_BX; k++) {
        const rt_pin &pin = design[k];
        logic[k].output = pin.out.present || pin.d.present;
        logic[k].registered = pin.d.present;
        if (pin.d.present)
            logic[k].level = rt_evaluate(pin.d);
        if (pin.out.present)
            logic[k].level = rt_evaluate(pin.out);
        if (pin.oe.present)
            logic[k].enable = rt_evaluate(pin.oe);
    }
    return sim_make_logic_chip(std::move(logic), "gatesweep-check");
}

std::vector<uint8_t> rt_sweep(const rt_design &design)
{
    return sweep_chip(rt_chip(design));
}

uint8_t rt_registered(const rt_design &design)
{
    uint8_t registered = 0;
    for (unsigned k = 0; k < NUM_BX; k++)
        if (design[k].d.present)
            registered = static_cast<uint8_t>(registered | 1u << k);
    return registered;
}

bool rt_replay_walk(const rt_design &design, const walk_record &walk, walk_replay_result &result, std::string &err)
{
    const uint8_t registered = rt_registered(design);
    for (unsigned k = NUM_BX; k-- > 0;) {
        const std::string bx = bx_name(static_cast<int>(k));
        if ((walk.registered >> k & 1) && !(registered >> k & 1)) {
            err = bx + " has a register in the walk, but no equation " + bx + ".d";
            return false;
        }
        if (!(walk.registered >> k & 1) && (registered >> k & 1)) {
            err = "an equation " + bx + ".d, but " + bx + " has no register in the walk";
            return false;
        }
    }
    // The clock and the registers' enable reach no array of a registered chip.
    for (unsigned k = NUM_BX; k-- > 0;) {
        const rt_pin &pin = design[k];
        for (const rt_equation *eq : {&pin.d, &pin.out, &pin.oe}) {
            for (const rt_term &t : eq->terms) {
                for (int n : {0, 9}) {
                    if (t.care != ~0u && (t.care >> n & 1)) {
                        const std::string name =
                            bx_name(static_cast<int>(k)) + (eq == &pin.d ? ".d" : eq == &pin.oe ? ".oe" : "");
                        err = "the equation for " + name + " reads " + signal_name[n] + " (pin " +
                              std::to_string(pin_number[n]) + "), which no array of a registered chip sees";
                        return false;
                    }
                }
            }
        }
    }
    std::unique_ptr<sim_chip> chip = rt_chip(design);
    chip->power_up(~walk.start & walk.registered);
    result = walk_replay(*chip, walk);
    return true;
}

std::array<rt_pin_result, 8> rt_compare(const std::vector<uint8_t> &dump, const rt_design &design)
{
    const std::vector<uint8_t> wrong = reading_mismatches(dump.data(), rt_sweep(design).data());
    std::array<rt_pin_result, 8> result;
    for (uint32_t i = 0; i < rt_conditions; i++)
        for (unsigned k = 0; k < NUM_BX; k++)
            if (wrong[i] >> k & 1)
                note_mismatch(result[k], i);
    return result;
}

std::array<rt_pin_result, 8> rt_compare_dumps(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    std::array<rt_pin_result, 8> result;
    for (uint32_t i = 0; i < rt_conditions; i++) {
        const unsigned differ = a[i] ^ b[i];
        for (unsigned k = 0; k < 8; k++)
            if (differ >> k & 1)
                note_mismatch(result[k], i);
    }
    return result;
}
