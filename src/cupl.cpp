#include "cupl.h"

#include <array>
#include <cstring>

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

static void write_header(FILE *out, const char *filename)
{
    std::fprintf(out, "Name     %s;\n", design_name(filename).c_str());
    static const char *const fields[] = {
        "PartNo   ;", "Date     ;", "Revision ;", "Designer ;",
        "Company  ;", "Assembly ;", "Location ;", "Device   virtual;",
    };
    for (const char *f : fields)
        std::fprintf(out, "%s\n", f);
}

static void declare_pin(FILE *out, int n)
{
    std::fprintf(out, "pin %d\t=\t%s;\t", pin_number[n], pin_name(n).c_str());
}

static void write_declarations(FILE *out, const dump_analysis &a)
{
    const uint32_t used = a.iterms_ever_used;
    std::fputs("\n/* Dedicated input pins */\n\n", out);
    for (int n = 0; n < NUM_INPUTS; n++) {
        declare_pin(out, n);
        if (!((used >> n) & 1))
            std::fputs(" /* Unused input */", out);
        std::fputs("\n", out);
    }

    if (a.some_pin_floats) {
        std::fputs("\n/* Input and/or bidirectional pins */\n\n", out);
        for (int k = 0; k < NUM_BX; k++) {
            if (!(a.mc[k].flags & MC_HIZ))
                continue;
            declare_pin(out, BX_SIGNAL0 + k);
            if (!((used >> (BX_SIGNAL0 + k)) & 1))
                std::fputs((a.mc[k].flags & MC_INPUT) ? " /* Unused input */"
                                                    : " /* Not used as an input when tristated */",
                           out);
            std::fputs("\n", out);
        }
    }

    bool some_always_driven = false;
    for (const macrocell &m : a.mc)
        some_always_driven |= !(m.flags & MC_HIZ);
    if (some_always_driven) {
        std::fputs("\n/* Dedicated output pins */\n\n", out);
        for (int k = 0; k < NUM_BX; k++) {
            if (a.mc[k].flags & MC_HIZ)
                continue;
            declare_pin(out, BX_SIGNAL0 + k);
            std::fputs("\n", out);
        }
    }
}

// The nterms terms of one equation, each a product of one literal per mask
// signal, separated by "\n\t# " and closed by ";".
static void write_terms(FILE *out, const dump_analysis &a, term_table &table, int k, term_rule rule, uint32_t mask,
                        int level, int nterms)
{
    std::array<int, NUM_SIGNALS> signals{};
    int nsig = 0;
    for (int n = 0; n < NUM_SIGNALS; n++)
        if ((mask >> n) & 1)
            signals[nsig++] = n;

    enumerate_terms(a, table, k, rule, mask, level);

    // One term: at most 18 literals of 3 characters plus " & " between them.
    std::array<char, NUM_SIGNALS * 6 + 8> line{};
    long t = -1;
    for (int count = 1; count <= nterms; count++) {
        t = next_term(table, t + 1);
        size_t len = 0;
        for (int s = 0; s < nsig; s++) {
            const int n = signals[s];
            line[len++] = ((t >> n) & 1) ? ' ' : '!';
            for (const char *c = signal_name[n]; *c; c++)
                line[len++] = *c;
            if (s + 1 < nsig) {
                std::memcpy(&line[len], " & ", 3);
                len += 3;
            }
        }
        const char *tail = count == nterms ? ";" : "\n\t# ";
        std::fwrite(line.data(), 1, len, out);
        std::fputs(tail, out);
    }
}

// The level a pin shows in most conditions: its driven level (output rule)
// or 1 where it is driven more often than it floats (enable rule); 1 on a tie.
static int majority_level(const dump_analysis &a, int k, term_rule rule)
{
    uint32_t n[2] = {0, 0};
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        const unsigned floats = (a.hiz_data[i] >> k) & 1;
        if (rule == RULE_ENABLE)
            n[floats ^ 1]++;
        else if (!floats)
            n[(a.data[i] >> k) & 1]++;
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

// Each equation is checked as its text reads: its constant, or its '!' and
// the terms just enumerated, every one of which it lists.
static void write_output_equations(FILE *out, const dump_analysis &a, const term_choices &choices, term_table &table,
                                   const char *filename, equation_check *check)
{
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const macrocell &m = a.mc[k];
        const pin_terms &c = choices[k];
        if (!(m.flags & MC_OUTPUT))
            continue;
        const std::string name = bx_name(k);
        int constant = -1;
        if (m.flags & MC_FIXED_LO)
            constant = 0;
        else if (m.flags & MC_FIXED_HI)
            constant = 1;
        else if (m.out_mask == 0)
            constant = constant_for_empty_mask(a, k, RULE_OUTPUT, filename);
        if (constant >= 0) {
            std::fprintf(out, "\n %s\t= 'b'%d;", name.c_str(), constant);
            if (check)
                check_constant(a, *check, k, RULE_OUTPUT, constant);
        } else {
            const bool bang = !c.out_pol;
            std::fprintf(out, "\n%c%s\t= ", bang ? '!' : ' ', name.c_str());
            write_terms(out, a, table, k, RULE_OUTPUT, m.out_mask, c.out_pol, c.out_nterms);
            if (check)
                check_terms(a, *check, table, k, RULE_OUTPUT, m.out_mask, bang);
        }
    }
}

static void write_enable_equations(FILE *out, const dump_analysis &a, const term_choices &choices, term_table &table,
                                   const char *filename, equation_check *check)
{
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const macrocell &m = a.mc[k];
        const pin_terms &c = choices[k];
        if (!takes_terms(a, k, RULE_ENABLE))
            continue;
        if (m.oe_mask == 0) {
            const int constant = constant_for_empty_mask(a, k, RULE_ENABLE, filename);
            std::fprintf(out, " %s.oe\t= 'b'%d;", bx_name(k).c_str(), constant);
            if (check)
                check_constant(a, *check, k, RULE_ENABLE, constant);
        } else {
            const bool bang = c.oe_pol != 0;
            std::fprintf(out, "%c%s.oe\t= ", bang ? '!' : ' ', bx_name(k).c_str());
            write_terms(out, a, table, k, RULE_ENABLE, m.oe_mask, c.oe_pol, c.oe_nterms);
            if (check)
                check_terms(a, *check, table, k, RULE_ENABLE, m.oe_mask, bang);
        }
        if (k != 0)
            std::fputs("\n", out);
    }
}

void write_cupl(FILE *out, const dump_analysis &a, const char *filename, term_table &table, equation_check *check)
{
    std::fputs("\n", out);
    write_header(out, filename);
    write_declarations(out, a);
    std::fputs("\n/* Output and output enable equations */\n", out);
    term_choices choices{};
    extract_all(a, table, RULE_OUTPUT, choices);
    write_output_equations(out, a, choices, table, filename, check);
    std::fputs("\n", out);
    extract_all(a, table, RULE_ENABLE, choices);
    write_enable_equations(out, a, choices, table, filename, check);
    std::fputs("\n\n/* End */\n", out);
}
