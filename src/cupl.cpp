#include "cupl.h"

#include <array>
#include <cstring>

#include "wordops.h"

std::string design_name(const char *filename)
{
    std::string name(filename);
#ifdef _WIN32
    const char *const separators = "/\\:";  // C:x.bin names x.bin on drive C
#else
    const char *const separators = "/";  // a backslash is part of a file name
#endif
    std::string::size_type sep = name.find_last_of(separators);
    if (sep != std::string::npos)
        name.erase(0, sep + 1);
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

static void write_header(FILE *out, const std::string &name, const char *device)
{
    std::fprintf(out, "Name     %s;\n", name.c_str());
    static const char *const fields[] = {
        "PartNo   ;", "Date     ;", "Revision ;", "Designer ;", "Company  ;", "Assembly ;", "Location ;",
    };
    for (const char *f : fields)
        std::fprintf(out, "%s\n", f);
    std::fprintf(out, "Device   %s;\n", device);
}

static void declare_pin(FILE *out, int n)
{
    std::fprintf(out, "pin %d\t=\t%s;\t", pin_number[n], pin_name(n).c_str());
}

static void write_declarations(FILE *out, const cupl_pins &pins)
{
    const uint32_t used = pins.used;
    std::fputs("\n/* Dedicated input pins */\n\n", out);
    for (int n = 0; n < NUM_INPUTS; n++) {
        declare_pin(out, n);
        if (!((used >> n) & 1))
            std::fputs(" /* Unused input */", out);
        std::fputs("\n", out);
    }

    if (pins.floats) {
        std::fputs("\n/* Input and/or bidirectional pins */\n\n", out);
        for (int k = 0; k < NUM_BX; k++) {
            if (!((pins.floats >> k) & 1))
                continue;
            declare_pin(out, BX_SIGNAL0 + k);
            if (!((used >> (BX_SIGNAL0 + k)) & 1))
                std::fputs(((pins.inputs >> k) & 1) ? " /* Unused input */"
                                                    : " /* Not used as an input when tristated */",
                           out);
            std::fputs("\n", out);
        }
    }

    if (pins.floats != 0xFF) {
        std::fputs("\n/* Dedicated output pins */\n\n", out);
        for (int k = 0; k < NUM_BX; k++) {
            if ((pins.floats >> k) & 1)
                continue;
            declare_pin(out, BX_SIGNAL0 + k);
            std::fputs("\n", out);
        }
    }
}

// The terms, each a product of one literal per signal of its care,
// separated by "\n\t# " and closed by ";". The text of the term last
// written is kept with the place of each literal's level character: a
// term of the same care differs from it only in some levels, and only
// those characters are written again (the terms of one equation share a
// care and come in ascending order, so most differ only in a few low
// signals). The text is gathered in a buffer and written a few KiB at a
// time.
static void write_terms(FILE *out, const std::vector<cupl_term> &terms)
{
    // A literal takes at most 8 bytes (" & !" and a name of up to 4
    // characters), a term at most one per signal and 4 after it.
    std::array<char, NUM_SIGNALS * 8> text;
    std::array<size_t, NUM_SIGNALS> level_at{};
    size_t text_len = 0;
    uint32_t text_care = 0, text_value = 0;
    bool have_text = false;
    constexpr size_t term_room = NUM_SIGNALS * 8 + 8;
    std::array<char, 4096 + term_room> buf;
    size_t fill = 0;
    for (size_t t = 0; t < terms.size(); t++) {
        const cupl_term &term = terms[t];
        if (!have_text || term.care != text_care) {
            text_len = 0;
            for (int n = 0; n < NUM_SIGNALS; n++) {
                if (!((term.care >> n) & 1))
                    continue;
                if (text_len) { // the first literal of a term has no " & "
                    std::memcpy(&text[text_len], " & ", 3);
                    text_len += 3;
                }
                level_at[n] = text_len;
                text[text_len++] = ((term.value >> n) & 1) ? ' ' : '!';
                for (const char *c = signal_name[n]; *c && c < signal_name[n] + 4; c++)
                    text[text_len++] = *c;
            }
            text_care = term.care;
            have_text = true;
        } else {
            uint32_t changed = (term.value ^ text_value) & term.care;
            for (int n = 0; changed; n++, changed >>= 1)
                if (changed & 1)
                    text[level_at[n]] = ((term.value >> n) & 1) ? ' ' : '!';
        }
        text_value = term.value;
        std::memcpy(&buf[fill], text.data(), text_len);
        fill += text_len;
        if (t + 1 == terms.size()) {
            buf[fill++] = ';';
        } else {
            std::memcpy(&buf[fill], "\n\t# ", 4);
            fill += 4;
        }
        if (fill > 4096) {
            std::fwrite(buf.data(), 1, fill, out);
            fill = 0;
        }
    }
    std::fwrite(buf.data(), 1, fill, out);
}

void write_cupl_equation(FILE *out, const std::string &lhs, const cupl_equation &eq)
{
    std::fprintf(out, "%c%s\t= ", eq.bang ? '!' : ' ', lhs.c_str());
    if (eq.constant >= 0)
        std::fprintf(out, "'b'%d;", eq.constant);
    else
        write_terms(out, eq.terms);
}

// Each output equation starts a line; each enable equation but that of B0
// ends one.
void write_cupl_text(FILE *out, const std::string &name, const char *device, const cupl_pins &pins,
                     const cupl_equation_source &equation)
{
    std::fputs("\n", out);
    write_header(out, name, device);
    write_declarations(out, pins);
    std::fputs("\n/* Output and output enable equations */\n", out);
    cupl_equation eq; // its terms' storage serves every equation
    for (bool enable : {false, true}) {
        for (int k = NUM_BX - 1; k >= 0; k--) {
            eq.constant = -1;
            eq.bang = false;
            eq.registered = false;
            eq.terms.clear();
            if (!equation(k, enable, eq))
                continue;
            if (!enable)
                std::fputs("\n", out);
            write_cupl_equation(out, bx_name(k) + (enable ? ".oe" : eq.registered ? ".d" : ""), eq);
            if (enable && k != 0)
                std::fputs("\n", out);
        }
        if (!enable)
            std::fputs("\n", out);
    }
    std::fputs("\n\n/* End */\n", out);
}

// The level a pin shows in most conditions: its driven level (output rule)
// or 1 where it is driven more often than it floats (enable rule); 1 on a tie.
static int majority_level(const dump_analysis &a, int k, term_rule rule)
{
    uint32_t n[2] = {0, 0};
    for (uint32_t w = 0; w < INDEX_WORDS; w++) {
        const uint64_t floats = hiz_bits(a, k, w), level = a.data_bits[k][w];
        if (rule == RULE_ENABLE) {
            n[0] += popcount64(floats);
            n[1] += popcount64(~floats);
        } else {
            n[0] += popcount64(~level & ~floats);
            n[1] += popcount64(level & ~floats);
        }
    }
    return n[1] >= n[0] ? 1 : 0;
}

// An equation over an empty mask would be a term without literals, which is
// no CUPL: it is written as the constant the pin shows most, with a warning.
static int constant_for_empty_mask(const dump_analysis &a, int k, term_rule rule, const char *filename)
{
    const int level = majority_level(a, k, rule);
    const std::string name = bx_name(k);
    if (rule == RULE_OUTPUT)
        std::fprintf(stderr,
                     "Warning: the readings of %s in `%s' are not a function of any signals; its output "
                     "equation is the constant 'b'%d, the level it reads most often.\n",
                     name.c_str(), filename, level);
    else
        std::fprintf(stderr,
                     "Warning: where %s floats in `%s' is not a function of any signals; its enable "
                     "equation is the constant 'b'%d, the state it is in most often.\n",
                     name.c_str(), filename, level);
    return level;
}

// The equation of pin Bk of this kind, as the extraction chooses it: its
// constant, or its '!' and the terms of the level it lists. Each equation
// is checked as its text reads, every one of its terms listed.
static bool analysis_equation(const dump_analysis &a, term_table &table, const char *filename,
                              equation_check *check, int k, term_rule rule, cupl_equation &eq)
{
    const macrocell &m = a.mc[k];
    if (rule == RULE_OUTPUT) {
        if (!(m.flags & MC_OUTPUT))
            return false;
        if (m.flags & MC_FIXED_LO)
            eq.constant = 0;
        else if (m.flags & MC_FIXED_HI)
            eq.constant = 1;
        else if (m.out_mask == 0)
            eq.constant = constant_for_empty_mask(a, k, RULE_OUTPUT, filename);
    } else {
        if (!takes_terms(a, k, RULE_ENABLE))
            return false;
        if (m.oe_mask == 0)
            eq.constant = constant_for_empty_mask(a, k, RULE_ENABLE, filename);
    }
    if (eq.constant >= 0) {
        if (check)
            check_constant(a, *check, k, rule, eq.constant);
        return true;
    }
    // The extraction leaves the terms of both levels in the table.
    pin_terms c{};
    extract_terms(a, table, k, rule, c);
    const uint32_t mask = rule == RULE_OUTPUT ? m.out_mask : m.oe_mask;
    const int level = rule == RULE_OUTPUT ? c.out_pol : c.oe_pol;
    const int32_t nterms = rule == RULE_OUTPUT ? c.out_nterms : c.oe_nterms;
    eq.bang = equation_bang(rule, level);
    eq.terms.resize(static_cast<size_t>(nterms));
    long t = -1;
    for (cupl_term &term : eq.terms) {
        t = next_term(table, level, t + 1);
        term = cupl_term{mask, static_cast<uint32_t>(t)};
    }
    if (check)
        check_terms(a, *check, table, k, rule, mask, level);
    return true;
}

void write_cupl(FILE *out, const dump_analysis &a, const char *filename, term_table &table, equation_check *check)
{
    cupl_pins pins;
    pins.used = a.iterms_ever_used;
    for (int k = 0; k < NUM_BX; k++) {
        if (a.mc[k].flags & MC_HIZ)
            pins.floats |= static_cast<uint8_t>(1u << k);
        if (a.mc[k].flags & MC_INPUT)
            pins.inputs |= static_cast<uint8_t>(1u << k);
    }
    write_cupl_text(out, design_name(filename), "virtual", pins, [&](int k, bool enable, cupl_equation &eq) {
        return analysis_equation(a, table, filename, check, k, enable ? RULE_ENABLE : RULE_OUTPUT, eq);
    });
}
