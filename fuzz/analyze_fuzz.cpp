// Fuzz target: the analysis (the analyze command's entry, analyze_pal) on any
// bytes of any length. The first byte chooses how the rest becomes a dump
// file: as it stands (a short file), repeated to fill a dump, repeated past
// its end (a long file), or repeated and laid over the weak drive levels, so
// that pins float, drive and read each other. Standard output goes to the
// null device.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "report.h"

namespace {

std::string scratch;

void write_dump(const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(scratch.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    scratch = "/tmp/gatesweep-fuzz-analyze-" + std::to_string(getpid()) + ".bin";
    std::atexit([] { std::remove(scratch.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size)
{
    const unsigned mode = size ? in[0] % 4 : 0;
    const uint8_t zero = 0;
    const uint8_t *pattern = size > 1 ? in + 1 : &zero;
    const size_t period = size > 1 ? size - 1 : 1;
    std::vector<uint8_t> bytes;
    if (mode == 0) {
        bytes.assign(in, in + size);
    } else {
        bytes.resize(mode == 2 ? DUMP_SIZE + period : DUMP_SIZE);
        for (size_t i = 0; i < bytes.size(); i++)
            bytes[i] = static_cast<uint8_t>(pattern[i % period] ^ (mode == 3 ? i >> RX_SHIFT : 0));
    }
    write_dump(bytes);
    analyze_pal(scratch.c_str());
    std::fflush(stdout);
    return 0;
}
