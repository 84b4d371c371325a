// Fuzz target: the simulator's fuse-map reader and the chip models it
// builds. The input is a fuse-map file, loaded as each of the five devices;
// a chip that loads is driven through a few conditions and read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "chip.h"

namespace {

std::string scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    scratch = "/tmp/gatesweep-fuzz-jedec-" + std::to_string(getpid()) + ".jed";
    std::atexit([] { std::remove(scratch.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size)
{
    FILE *f = std::fopen(scratch.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(in, 1, size, f);
    std::fclose(f);
    for (const char *device : {"PAL16L8", "PAL16R4", "PAL16R6", "PAL16R8", "GAL16V8"}) {
        std::string err;
        std::unique_ptr<sim_chip> chip = sim_make_jedec_chip(device, scratch, err);
        if (!chip)
            continue;
        for (unsigned step = 0; step < 64; step++) {
            chip->drive((step * 0x2A5u) & 0x3FF, (step * 0x3Bu) & 0xFF);
            chip->read();
        }
    }
    return 0;
}
