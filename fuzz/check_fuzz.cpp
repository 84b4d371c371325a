// Fuzz target: gatesweep-check's text reader. The input is the text; the
// equations of a text that reads are evaluated over every condition.
#include <cstdint>
#include <string>

#include "roundtrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(in), size);
    rt_design design;
    std::string err;
    if (!rt_parse(text, design, err))
        return 0;
    for (const rt_pin &pin : design) {
        if (pin.out.present)
            rt_evaluate(pin.out);
        if (pin.oe.present)
            rt_evaluate(pin.oe);
    }
    return 0;
}
