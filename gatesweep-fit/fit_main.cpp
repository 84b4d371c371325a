// The gatesweep-fit program: fits a dump into a GAL16V8, checks the fuse
// map in the chip model and writes it as a JEDEC file (and, on request, the
// equations as CUPL source). Exit status 0 written and verified, 1 no fit,
// no match, or a dump that no combinational fit can be trusted for; 2
// unreadable input, unwritable output or lost standard output.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "analyze.h"
#include "files.h"
#include "fit_fuses.h"
#include "fit_report.h"
#include "fit_search.h"
#include "jedec_file.h"
#include "summary.h"

namespace {

const char *const program = "gatesweep-fit";

void usage(FILE *out)
{
    std::fprintf(out, "usage: gatesweep-fit [--force] [--cupl FILE.pld] DUMP.bin FILE.jed\n"
                      "  Fits the dump into a GAL16V8, checks the fuse map in the chip model\n"
                      "  and writes it. --force fits a dump that looks registered, or that no\n"
                      "  chip in the right adapter gives, all the same.\n"
                      "  Exit status: 0 written and verified, 1 does not fit or does not verify\n"
                      "  (nothing written), 2 unreadable input or unwritable output.\n");
}

// " 17 (B5) 16 (B4)": the pins of a pin set, highest first.
std::string pin_list(uint8_t pins)
{
    std::string s;
    for (int k = NUM_BX - 1; k >= 0; k--)
        if ((pins >> k) & 1)
            s += " " + std::to_string(pin_number[BX_SIGNAL0 + k]) + " (B" + std::to_string(k) + ")";
    return s;
}

// On a refusal: the pins that the analysis finds may be registered.
void hint_registered(const dump_analysis &a)
{
    const uint8_t pins = registered_pins(a);
    if (!pins)
        return;
    std::printf("  The pins%s MAY be registered (each floats exactly when I9 is high): a registered chip\n"
                "  holds state that no combinational fuse map gives back.\n",
                pin_list(pins).c_str());
}

// The one line of a refused input, and status 2.
int refuse_input(const char *dump_path, const std::string &why)
{
    std::printf("Error: `%s' %s.\n", dump_path, why.c_str());
    return 2;
}

// Reads the dump into image: exactly 262144 bytes, read whole.
int read_dump(const char *dump_path, std::vector<uint8_t> &image)
{
    std::string bytes;
    switch (read_bounded(dump_path, DUMP_SIZE, bytes)) {
    case READ_FAILED:
        return refuse_input(dump_path, "cannot be read");
    case READ_TOO_LONG:
        return refuse_input(dump_path, "holds more than 262144 bytes: it is no dump");
    case READ_OK:
        break;
    }
    if (bytes.size() != DUMP_SIZE)
        return refuse_input(dump_path, "holds " + std::to_string(bytes.size()) + " of 262144 bytes: it is no whole dump");
    image.assign(bytes.begin(), bytes.end());
    return 0;
}

struct options {
    bool force = false;
    const char *cupl_path = nullptr;
    const char *dump_path = nullptr;
    const char *jed_path = nullptr;
};

int fit(const options &opt)
{
    const char *dump_path = opt.dump_path, *jed_path = opt.jed_path, *cupl_path = opt.cupl_path;

    // Every output is checked before any work, and none may be the dump or
    // the other output.
    file_target jed, pld;
    const struct { const char *path; file_target &target; } outputs[] = {{jed_path, jed}, {cupl_path, pld}};
    for (const auto &o : outputs) {
        if (o.path && !file_target_check(o.path, o.target)) {
            std::printf("Error: could not write to `%s'.\n", o.path);
            return 2;
        }
    }
    for (const auto &o : outputs) {
        if (o.path && target_is_file(o.target, dump_path)) {
            std::printf("Error: `%s' is the dump `%s'; it would be overwritten.\n", o.path, dump_path);
            return 2;
        }
    }
    if (cupl_path && same_target(jed, pld)) {
        std::printf("Error: `%s' and `%s' are one file; the fuse map and the CUPL source need two.\n", jed_path,
                    cupl_path);
        return 2;
    }

    std::unique_ptr<const dump_analysis> analysis;
    {
        std::vector<uint8_t> image;
        if (int status = read_dump(dump_path, image))
            return status;
        if (warn_implausible_dump(image, dump_path) && !opt.force) {
            std::printf("`%s' holds no readings of a chip (see the warning); --force fits it all the same.\n"
                        "Nothing written.\n",
                        dump_path);
            return 1;
        }
        analysis = analyse_dump(image);
    }
    const dump_analysis &a = *analysis;

    const uint8_t registered = register_fingerprint(a);
    if (registered && !opt.force) {
        std::printf("`%s' looks registered: the pins%s\n"
                    "  float exactly while I9 (pin 11) is high and hold their level across every\n"
                    "  falling edge of I0 (pin 1), as register outputs do. A registered chip needs\n"
                    "  its state machine read: its dump alone cannot tell the registers' logic.\n"
                    "  --force fits it as combinational logic all the same.\n"
                    "Nothing written.\n",
                    dump_path, pin_list(registered).c_str());
        return 1;
    }

    fit_design design;
    std::vector<std::string> reasons;
    fit_status status = fit_dump(a, design, reasons);
    if (status != FIT_OK) {
        std::printf("`%s' does not fit a GAL16V8:\n", dump_path);
        for (const std::string &r : reasons)
            std::printf("  %s\n", r.c_str());
        hint_registered(a);
        std::printf("Nothing written.\n");
        return 1;
    }

    std::printf("`%s' fits a GAL16V8.\n", dump_path);
    if (registered)
        std::printf("Forced: the pins%s look registered.\n"
                    "  This fuse map gives the dump's readings in the sweep's order, but in the\n"
                    "  socket it holds no state between clock edges as the original's registers do.\n",
                    pin_list(registered).c_str());
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
    if (!report_mismatches(stdout, a, readings)) {
        std::printf("Verification failed: the fuse map in the GAL16V8 model does not give the readings of `%s'.\n",
                    dump_path);
        hint_registered(a);
        std::printf("Nothing written.\n");
        return 1;
    }
    std::printf("Verified: the fuse map in the GAL16V8 model, swept as a dump, gives all %u readings of `%s'.\n",
                static_cast<unsigned>(DUMP_SIZE), dump_path);

    if (!file_target_write(jed, text.data(), text.size())) {
        std::printf("Error: could not write to `%s'.\n", jed_path);
        return 2;
    }
    std::printf("Fuse map written to `%s'.\n", jed_path);
    if (cupl_path) {
        if (!file_target_write(pld, [&](FILE *f) { write_fit_cupl(f, design, dump_path); }, true)) {
            std::printf("Error: could not write to `%s'.\n", cupl_path);
            return 2;
        }
        std::printf("CUPL source written to `%s'.\n", cupl_path);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    options opt;
    std::vector<const char *> files;
    for (int a = 1; a < argc; a++) {
        if (std::strcmp(argv[a], "-h") == 0 || std::strcmp(argv[a], "--help") == 0) {
            usage(stdout);
            return stdout_complete(program) ? 0 : 2;
        }
        if (std::strcmp(argv[a], "--version") == 0) {
            std::printf("%s %s\n", program, GATESWEEP_VERSION);
            return stdout_complete(program) ? 0 : 2;
        }
        if (std::strcmp(argv[a], "--force") == 0) {
            opt.force = true;
        } else if (std::strcmp(argv[a], "--cupl") == 0) {
            if (++a >= argc) {
                usage(stderr);
                return 2;
            }
            opt.cupl_path = argv[a];
        } else {
            files.push_back(argv[a]);
        }
    }
    if (files.size() != 2) {
        usage(stderr);
        return 2;
    }
    opt.dump_path = files[0];
    opt.jed_path = files[1];
    int status;
    try {
        status = fit(opt);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: out of memory\n", program);
        return 2;
    }
    return stdout_complete(program) ? status : 2;
}
