#include "fit_report.h"

#include <string>

#include "cupl.h"
#include "summary.h"

namespace {

uint32_t used_signals(const fit_design &design)
{
    uint32_t used = 0;
    for (const fit_pin &p : design.pin) {
        for (const cube &c : p.out.terms)
            used |= c.care;
        for (const cube &c : p.oe.terms)
            used |= c.care;
    }
    return used;
}

std::string count_text(const fit_equation &eq)
{
    size_t n = eq.terms.size();
    return std::to_string(n) + (n == 1 ? " term" : " terms");
}

// Text without control characters, which would break the CUPL source's
// lines.
std::string printable(const std::string &text)
{
    std::string s = text;
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return s;
}

std::vector<cupl_term> cupl_terms(const std::vector<cube> &terms)
{
    std::vector<cupl_term> t;
    t.reserve(terms.size());
    for (const cube &c : terms)
        t.push_back(cupl_term{c.care, c.value});
    return t;
}

// An output's equation lists the conditions for its level, with a '!'
// where that level is 0; one without terms never shows that level. A
// register's lists the conditions for its level after the next clock edge.
cupl_equation output_equation(const fit_pin &p)
{
    const fit_equation &e = p.out;
    cupl_equation eq;
    eq.registered = p.registered;
    eq.constant = e.constant;
    if (eq.constant < 0 && e.terms.empty())
        eq.constant = e.level ? 0 : 1;
    if (eq.constant < 0) {
        eq.bang = !e.level;
        eq.terms = cupl_terms(e.terms);
    }
    return eq;
}

// An enable's equation lists the conditions in which the pin is driven.
cupl_equation enable_equation(const fit_equation &e)
{
    cupl_equation eq;
    eq.terms = cupl_terms(e.terms);
    return eq;
}

} // namespace

const char *fit_device(const gal_mode_entry &mode)
{
    switch (mode.mode) {
    case gal_simple: return "g16v8as";
    case gal_complex: return "g16v8ma";
    default: return "g16v8ms";
    }
}

void print_fit_report(FILE *out, const fit_design &design)
{
    std::fprintf(out, "Mode: %s (CUPL device %s).\n\n", design.mode->name, fit_device(*design.mode));
    bool registers = false;
    for (const fit_pin &p : design.pin)
        registers = registers || p.registered;
    // Beside registers, an output is combinational.
    const char *const output = registers ? "combinational" : "output";
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const fit_pin &p = design.pin[static_cast<size_t>(k)];
        std::fprintf(out, "%s: ", pin_label(k).c_str());
        if (!p.output) {
            std::fputs("input\n", out);
            continue;
        }
        const char *const role = p.registered ? "registered" : output;
        if (p.out.constant >= 0)
            std::fprintf(out, "%s, fixed %s", role, p.out.constant ? "high" : "low");
        else
            std::fprintf(out, "%s, %s%s", role, count_text(p.out).c_str(), p.out.exact ? "" : " (fewest not proven)");
        if (p.oe.present)
            std::fprintf(out, "; enable, %s", count_text(p.oe).c_str());
        if (p.holds)
            std::fputs(registers ? "; a latch: it holds its own level through its feedback"
                                 : "; a latch: it keeps its own level where the dump shows it floating",
                       out);
        else if (p.out.by_level || p.oe.by_level)
            std::fputs("; reads the levels that outputs drive", out);
        std::fputs("\n", out);
    }
    std::fputs("\n/* Output and output enable equations */\n", out);
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const fit_pin &p = design.pin[static_cast<size_t>(k)];
        if (!p.output)
            continue;
        std::fputs("\n", out);
        write_cupl_equation(out, bx_name(k) + (p.registered ? ".d" : ""), output_equation(p));
    }
    std::fputs("\n", out);
    for (int k = NUM_BX - 1; k >= 0; k--) {
        const fit_pin &p = design.pin[static_cast<size_t>(k)];
        if (!p.output || !p.oe.present)
            continue;
        write_cupl_equation(out, bx_name(k) + ".oe", enable_equation(p.oe));
        std::fputs("\n", out);
    }
}

bool report_mismatches(FILE *out, const dump_analysis &a, const std::vector<uint8_t> &readings)
{
    unsigned total = 0;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        unsigned count = 0;
        uint32_t first = 0;
        for (uint32_t i = 0; i < DUMP_SIZE; i++) {
            if (((readings[i] ^ a.data[i]) >> k) & 1) {
                if (!count)
                    first = i;
                count++;
            }
        }
        if (count)
            std::fprintf(out, "  B%d (pin %d): %u wrong readings, the first at 0x%05X\n", k,
                         pin_number[BX_SIGNAL0 + k], count, static_cast<unsigned>(first));
        total += count;
    }
    return total == 0;
}

void write_fit_cupl(FILE *out, const fit_design &design, const char *kind, const char *input_name)
{
    std::fprintf(out,
                 "/*\n\tGAL16V8 in %s mode, fitted by gatesweep-fit from the %s\n\t\t%s\n\tand verified against "
                 "it in the chip model.\n*/\n",
                 design.mode->name, kind, printable(comment_safe(input_name)).c_str());
    cupl_pins pins;
    pins.used = used_signals(design);
    for (int k = 0; k < NUM_BX; k++) {
        const fit_pin &p = design.pin[static_cast<size_t>(k)];
        // A register floats only while pin 11 is high: declared as an
        // output that is always driven.
        if (!p.output || p.oe.present)
            pins.floats |= static_cast<uint8_t>(1u << k);
        if (!p.output)
            pins.inputs |= static_cast<uint8_t>(1u << k);
    }
    write_cupl_text(out, printable(design_name(input_name)), fit_device(*design.mode), pins,
                    [&design](int k, bool enable, cupl_equation &eq) {
                        const fit_pin &p = design.pin[static_cast<size_t>(k)];
                        if (!p.output || (enable && !p.oe.present))
                            return false;
                        eq = enable ? enable_equation(p.oe) : output_equation(p);
                        return true;
                    });
}

bool report_walk_mismatches(FILE *out, const walk_replay_result &replay)
{
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (replay.mismatches[k])
            std::fprintf(out, "  %s: %u wrong readings\n", pin_label(k).c_str(), replay.mismatches[k]);
    }
    if (!replay.same())
        std::fprintf(out, "  the first at step %zu\n", replay.first);
    return replay.same();
}
