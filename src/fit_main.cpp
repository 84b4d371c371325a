// The gatesweep-fit program: fits a dump into a GAL16V8, checks the fuse
// map in the chip model and writes it as a JEDEC file (and, on request, the
// equations as CUPL source). Exit status 0 written and verified, 1 no fit or
// no match, 2 unreadable input or unwritable output.
#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS // fopen is standard C; no _s variants wanted
#endif
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analyze.h"
#include "fit.h"
#include "summary.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: gatesweep-fit [--cupl FILE.pld] DUMP.bin FILE.jed\n"
                         "  Fits the dump into a GAL16V8, checks the fuse map in the chip model\n"
                         "  and writes it. Exit status: 0 written and verified, 1 does not fit or\n"
                         "  does not verify (nothing written), 2 unreadable input or unwritable output.\n");
    return 2;
}

// Per pin, where the fuse map's readings differ from the dump's.
bool report_mismatches(const std::vector<uint8_t> &readings)
{
    unsigned total = 0;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        unsigned count = 0;
        uint32_t first = 0;
        for (uint32_t i = 0; i < DUMP_SIZE; i++) {
            if (((readings[i] ^ data[i]) >> k) & 1) {
                if (!count)
                    first = i;
                count++;
            }
        }
        if (count)
            std::printf("  B%d (pin %d): %u wrong readings, the first at 0x%05X\n", k, pin_number[BX_SIGNAL0 + k],
                        count, static_cast<unsigned>(first));
        total += count;
    }
    return total == 0;
}

// On a refusal: the pins that the analysis finds may be registered.
void hint_registered()
{
    const uint8_t pins = registered_pins();
    if (!pins)
        return;
    std::printf("  The pins");
    for (int k = NUM_BX - 1; k >= 0; k--)
        if ((pins >> k) & 1)
            std::printf(" %d (B%d)", pin_number[BX_SIGNAL0 + k], k);
    std::printf(" MAY be registered (each floats exactly when I9 is high): a registered chip\n"
                "  holds state that no combinational fuse map gives back.\n");
}

} // namespace

int main(int argc, char **argv)
{
    const char *cupl_path = nullptr;
    std::vector<const char *> files;
    for (int a = 1; a < argc; a++) {
        if (std::strcmp(argv[a], "--cupl") == 0) {
            if (++a >= argc)
                return usage();
            cupl_path = argv[a];
        } else {
            files.push_back(argv[a]);
        }
    }
    if (files.size() != 2)
        return usage();
    const char *dump_path = files[0], *jed_path = files[1];

    if (!load_dump(dump_path))
        return 2;
    clear_analysis();
    classify_pins();
    compute_masks();

    fit_design design;
    std::vector<std::string> reasons;
    fit_status status = fit_dump(design, reasons);
    if (status != FIT_OK) {
        std::printf("`%s' does not fit a GAL16V8:\n", dump_path);
        for (const std::string &r : reasons)
            std::printf("  %s\n", r.c_str());
        hint_registered();
        std::printf("Nothing written.\n");
        return 1;
    }

    std::printf("`%s' fits a GAL16V8.\n", dump_path);
    print_fit_report(stdout, design);

    const std::string header = "GAL16V8 fuse map written by gatesweep-fit from the dump `" + std::string(dump_path) +
                               "' (" + design.mode->name + " mode)";
    const std::string text = jedec_text(fit_fuses(design), header);
    std::vector<uint8_t> readings;
    std::string err;
    if (!fit_sweep(text, jed_path, readings, err)) {
        std::printf("\nThe fuse map does not load into the chip model: %s\nNothing written.\n", err.c_str());
        return 1;
    }
    std::printf("\n");
    if (!report_mismatches(readings)) {
        std::printf("Verification failed: the fuse map in the GAL16V8 model does not give the readings of `%s'.\n",
                    dump_path);
        hint_registered();
        std::printf("Nothing written.\n");
        return 1;
    }
    std::printf("Verified: the fuse map in the GAL16V8 model, swept as a dump, gives all %u readings of `%s'.\n",
                static_cast<unsigned>(DUMP_SIZE), dump_path);

    FILE *jed = std::fopen(jed_path, "wb");
    if (!jed) {
        std::printf("Error: could not write to `%s'.\n", jed_path);
        return 2;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), jed) == text.size();
    ok = std::fclose(jed) == 0 && ok;
    if (!ok) {
        std::printf("Error: could not write to `%s'.\n", jed_path);
        std::remove(jed_path);
        return 2;
    }
    std::printf("Fuse map written to `%s'.\n", jed_path);
    if (cupl_path) {
        FILE *pld = std::fopen(cupl_path, "w");
        if (!pld) {
            std::printf("Error: could not write to `%s'.\n", cupl_path);
            return 2;
        }
        write_fit_cupl(pld, design, dump_path);
        if (std::fclose(pld) != 0) {
            std::printf("Error: could not write to `%s'.\n", cupl_path);
            return 2;
        }
        std::printf("CUPL source written to `%s'.\n", cupl_path);
    }
    return 0;
}
