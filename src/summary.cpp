#include "summary.h"

#include "analyze.h"
#include "wordops.h"

bool i9_drives_output()
{
    for (const macrocell &m : mc)
        if (m.out_mask & (1u << 9))
            return true;
    return false;
}

uint8_t registered_pins()
{
    if (i9_drives_output())
        return 0;
    uint8_t candidates = 0;
    for (int k = 0; k < NUM_BX; k++)
        if (mc[k].oe_mask == 0x200)
            candidates |= static_cast<uint8_t>(1u << k);
    if (!candidates)
        return 0;
    // A pin that does not float exactly when I9 (bit 9 of the index) is
    // high drops out. I9 is constant over runs of 512 conditions.
    uint64_t mismatch = 0;
    for (uint32_t i = 0; i < DUMP_SIZE; i += 8) {
        uint64_t expect = ((i >> 9) & 1) ? ~uint64_t(0) : 0;
        mismatch |= load64(&hiz_data[i]) ^ expect;
    }
    return static_cast<uint8_t>(candidates & ~fold_or(mismatch));
}

enum config_kind { CONFIG_SIMPLE, CONFIG_COMPLEX, CONFIG_UNKNOWN };

static config_kind config()
{
    if (!some_pin_floats())
        return CONFIG_SIMPLE;
    if ((mc[0].flags & MC_OUTPUT) && (mc[7].flags & MC_OUTPUT) && !(iterms_ever_used & 0x20400))
        return CONFIG_COMPLEX;
    return CONFIG_UNKNOWN;
}

const char *device_config()
{
    static const char *const words[] = {"simple", "complex", "unknown"};
    return words[config()];
}

const char *device_type()
{
    static const char *const types[] = {"g16v8as", "g16v8ma", "g16v8"};
    return types[config()];
}

const char *pin_status(uint32_t flags)
{
    switch (flags) {
    case 0x0C: return "Input.";
    case 0x10: return "Output.";
    case 0x11: return "Output, fixed LO.";
    case 0x12: return "Output, fixed HI.";
    case 0x18: return "Output with enable.";
    case 0x19: return "Output w/ enable, fixed LO.";
    case 0x1A: return "Output w/ enable, fixed HI.";
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

void print_summary(FILE *out, const char *filename)
{
    const uint8_t registered = registered_pins();
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
    std::fprintf(out, "\tDevice configuration:\n\t\t%s\n\n", device_config());
    std::fprintf(out, "\tSuggested GAL16V8 device type for WinCUPL:\n\t\t%s\n", device_type());
    std::fputs("\n\tSummary of bidirectional pins:\n\n", out);
    for (int k = NUM_BX - 1; k >= 0; k--) {
        std::fprintf(out, "\tPin %d (%s)    : ", pin_number[BX_SIGNAL0 + k], bx_name(k).c_str());
        if (const char *text = pin_status(mc[k].flags))
            std::fprintf(out, "%s\n", text);
        else
            std::fprintf(out, "Unknown attributes (%02X)\n", static_cast<unsigned>(mc[k].flags));
    }
    std::fputs("*/\n", out);
}
