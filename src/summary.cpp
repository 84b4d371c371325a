#include "summary.h"

uint8_t registered_pins(const dump_analysis &a)
{
    if (a.i9_drives_output)
        return 0;
    uint8_t candidates = 0;
    for (int k = 0; k < NUM_BX; k++)
        if (a.mc[k].oe_mask == signal_bit(I9_SIGNAL))
            candidates |= static_cast<uint8_t>(1u << k);
    if (!candidates)
        return 0;
    // A pin that does not float exactly when I9 (bit 9 of the index, bit 3
    // of the word number) is high drops out.
    for (int k = 0; k < NUM_BX; k++) {
        if (!((candidates >> k) & 1))
            continue;
        for (uint32_t w = 0; w < INDEX_WORDS; w++) {
            const uint64_t expect = (w & (signal_bit(I9_SIGNAL) / 64)) ? ~uint64_t(0) : 0;
            if (hiz_bits(a, k, w) != expect) {
                candidates &= static_cast<uint8_t>(~(1u << k));
                break;
            }
        }
    }
    return candidates;
}

enum config_kind { CONFIG_SIMPLE, CONFIG_COMPLEX, CONFIG_UNKNOWN };

// Complex mode wants B0 (pin 12) and B7 (pin 19) as outputs, neither of
// them read as an input.
static config_kind config(const dump_analysis &a)
{
    if (!a.some_pin_floats)
        return CONFIG_SIMPLE;
    const uint32_t b0_b7 = bx_bit(0) | bx_bit(NUM_BX - 1);
    if ((a.mc[0].flags & MC_OUTPUT) && (a.mc[NUM_BX - 1].flags & MC_OUTPUT) && !(a.iterms_ever_used & b0_b7))
        return CONFIG_COMPLEX;
    return CONFIG_UNKNOWN;
}

const char *device_config(const dump_analysis &a)
{
    static const char *const words[] = {"simple", "complex", "unknown"};
    return words[config(a)];
}

const char *device_type(const dump_analysis &a)
{
    static const char *const types[] = {"g16v8as", "g16v8ma", "g16v8"};
    return types[config(a)];
}

const char *pin_status(uint32_t flags)
{
    switch (flags) {
    case MC_HIZ | MC_INPUT: return "Input.";
    case MC_OUTPUT: return "Output.";
    case MC_OUTPUT | MC_FIXED_LO: return "Output, fixed LO.";
    case MC_OUTPUT | MC_FIXED_HI: return "Output, fixed HI.";
    case MC_OUTPUT | MC_HIZ: return "Output with enable.";
    case MC_OUTPUT | MC_HIZ | MC_FIXED_LO: return "Output w/ enable, fixed LO.";
    case MC_OUTPUT | MC_HIZ | MC_FIXED_HI: return "Output w/ enable, fixed HI.";
    default: return nullptr;
    }
}

std::string comment_safe(const char *text)
{
    std::string s(text);
    for (std::string::size_type at = s.find("*/"); at != std::string::npos; at = s.find("*/", at + 2))
        s.insert(at + 1, " ");
    return s;
}

void print_summary(FILE *out, const dump_analysis &a, const char *filename)
{
    const uint8_t registered = registered_pins(a);
    std::fputs("/*\n", out);
    if (registered) {
        std::fputs("\tWARNING: The following pins MAY be registered:\n", out);
        for (int k = NUM_BX - 1; k >= 0; k--)
            if ((registered >> k) & 1)
                std::fprintf(out, "\t\tPin %d (%s)\n", pin_number[BX_SIGNAL0 + k], bx_name(k).c_str());
        std::fputs("\n", out);
        std::fputs("\tAnalysis results WILL NOT be correct for registered devices.\n\n", out);
    }
    std::fprintf(out, "\tData source:\n\t\t%s\n\n", comment_safe(filename).c_str());
    std::fprintf(out, "\tDevice configuration:\n\t\t%s\n\n", device_config(a));
    std::fprintf(out, "\tSuggested GAL16V8 device type for WinCUPL:\n\t\t%s\n", device_type(a));
    std::fputs("\n\tSummary of bidirectional pins:\n\n", out);
    for (int k = NUM_BX - 1; k >= 0; k--) {
        std::fprintf(out, "\tPin %d (%s)    : ", pin_number[BX_SIGNAL0 + k], bx_name(k).c_str());
        if (const char *text = pin_status(a.mc[k].flags))
            std::fprintf(out, "%s\n", text);
        else
            std::fprintf(out, "Unknown attributes (%02X)\n", static_cast<unsigned>(a.mc[k].flags));
    }
    std::fputs("*/\n", out);
}
