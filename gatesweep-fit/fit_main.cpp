// The gatesweep-fit program: fits a dump, or the walk of a registered
// chip's state machine, into a GAL16V8, checks the fuse map in the chip
// model and writes it as a JEDEC file (and, on request, the equations as
// CUPL source). Exit status 0 written and verified, 1 no fit, no match, a
// dump that no combinational fit can be trusted for, or a walk whose start
// the fit cannot power up in; 2 unreadable input, unwritable output or
// lost standard output.
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
#include "fit_walk.h"
#include "jedec_file.h"
#include "summary.h"
#include "walk.h"

namespace {

const char *const program = "gatesweep-fit";

void usage(FILE *out)
{
    std::fprintf(out, "usage: gatesweep-fit [--force] [--cupl FILE.pld] DUMP.bin FILE.jed\n"
                      "       gatesweep-fit [--force] [--cupl FILE.pld] CHIP.walk FILE.jed\n"
                      "  Fits the dump into a GAL16V8, checks the fuse map in the chip model\n"
                      "  and writes it. --force fits a dump that looks registered, or that no\n"
                      "  chip in the right adapter gives, all the same.\n"
                      "  A walk (gatesweep-walk) is fitted in registered mode and checked\n"
                      "  against the walk's own steps; --force fits one whose start state has\n"
                      "  a register's pin low, in which a GAL16V8 cannot power up.\n"
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

// Whether the file starts as a walk file does.
bool is_walk_file(const char *path)
{
    uint8_t head[16] = {};
    std::FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return walk_file_begins(head, got);
}

// Reads and parses a walk file.
int read_walk(const char *walk_path, walk_record &record, walk_tables &tables)
{
    std::string bytes;
    switch (read_bounded(walk_path, walk_max_file_bytes, bytes)) {
    case READ_FAILED:
        return refuse_input(walk_path, "cannot be read");
    case READ_TOO_LONG:
        return refuse_input(walk_path, "holds more than " + std::to_string(walk_max_file_bytes) +
                                           " bytes: it is no walk file");
    case READ_OK:
        break;
    }
    std::string err;
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    bytes = std::string();
    if (!walk_parse(image, record, tables, err))
        return refuse_input(walk_path, "is no walk file: " + err);
    return 0;
}

// "B5=1 B4=0": the levels of the registered pins in a state.
std::string state_text(uint8_t registered, uint8_t levels)
{
    std::string s;
    for (int k = NUM_BX - 1; k >= 0; k--)
        if (registered >> k & 1)
            s += (s.empty() ? "B" : " B") + std::to_string(k) + "=" + std::to_string(levels >> k & 1);
    return s;
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
    const char *dump_path = nullptr; // the dump or the walk
    const char *jed_path = nullptr;
};

// The outputs, checked before any work: none may be the input (a dump or a
// walk, kind) or the other output.
struct outputs {
    file_target jed, pld;
};

int check_outputs(const options &opt, const char *kind, outputs &out)
{
    const char *dump_path = opt.dump_path, *jed_path = opt.jed_path, *cupl_path = opt.cupl_path;
    const struct { const char *path; file_target &target; } list[] = {{jed_path, out.jed}, {cupl_path, out.pld}};
    for (const auto &o : list) {
        if (o.path && !file_target_check(o.path, o.target)) {
            std::printf("Error: could not write to `%s'.\n", o.path);
            return 2;
        }
    }
    for (const auto &o : list) {
        if (o.path && target_is_file(o.target, dump_path)) {
            std::printf("Error: `%s' is the %s `%s'; it would be overwritten.\n", o.path, kind, dump_path);
            return 2;
        }
    }
    if (cupl_path && same_target(out.jed, out.pld)) {
        std::printf("Error: `%s' and `%s' are one file; the fuse map and the CUPL source need two.\n", jed_path,
                    cupl_path);
        return 2;
    }
    return 0;
}

// Writes the verified fuse map and, on request, the CUPL source.
int write_outputs(const options &opt, const outputs &out, const std::string &text, const fit_design &design,
                  const char *kind)
{
    if (!file_target_write(out.jed, text.data(), text.size())) {
        std::printf("Error: could not write to `%s'.\n", opt.jed_path);
        return 2;
    }
    std::printf("Fuse map written to `%s'.\n", opt.jed_path);
    if (opt.cupl_path) {
        if (!file_target_write(out.pld, [&](FILE *f) { write_fit_cupl(f, design, kind, opt.dump_path); }, true)) {
            std::printf("Error: could not write to `%s'.\n", opt.cupl_path);
            return 2;
        }
        std::printf("CUPL source written to `%s'.\n", opt.cupl_path);
    }
    return 0;
}

// The refusal of an input that does not fit: its reasons, one a line.
int refuse_fit(const char *path, const std::vector<std::string> &reasons)
{
    std::printf("`%s' does not fit a GAL16V8:\n", path);
    for (const std::string &r : reasons)
        std::printf("  %s\n", r.c_str());
    std::printf("Nothing written.\n");
    return 1;
}

int fit_walk_file(const options &opt)
{
    const char *walk_path = opt.dump_path;
    outputs out;
    if (int status = check_outputs(opt, "walk", out))
        return status;
    walk_record record;
    walk_tables tables;
    if (int status = read_walk(walk_path, record, tables))
        return status;

    // A GAL16V8 powers up with its registers' pins high.
    std::vector<std::string> low_reasons;
    const uint8_t low = walk_start_low(record, low_reasons);
    if (low && !opt.force) {
        std::printf("`%s' started in a state that a GAL16V8 cannot power up in:\n", walk_path);
        for (const std::string &r : low_reasons)
            std::printf("  %s\n", r.c_str());
        std::printf("  --force fits it all the same.\nNothing written.\n");
        return 1;
    }

    // Pins that hold levels of their own (latches) read otherwise at a
    // state and condition read before. A fit is proven only where the walk
    // tried, from every point it reached (registers, pin levels,
    // condition), every write of one of the adapter's latches and a clock
    // edge: then no sequence of writes leads anywhere the walk did not go.
    std::string latches;
    for (int k = 0; k < NUM_BX; k++) {
        if (tables.unsteady >> k & 1)
            latches += (latches.empty() ? "" : ", ") + pin_label(k);
    }
    walk_latch_open open;
    bool latches_walked = false;
    if (tables.unsteady) {
        walk_latch_book book;
        if (walk_latch_book_init(book, record.registered, walk_floating_pins(record), walk_input_pins(record))) {
            walk_latch_book_steps(book, record);
            open = walk_latch_count(book);
            latches_walked = open.complete();
        }
    }
    if (tables.unsteady && !latches_walked && !opt.force) {
        std::printf("`%s' is the walk of a chip with latches: %s read otherwise at a state and condition read "
                    "before.\n  The walk did not try every write of one of the adapter's latches and every clock "
                    "edge from the points it reached (%s untried), so no fit is proven to behave as the chip.\n"
                    "  --force fits it all the same.\nNothing written.\n",
                    walk_path, latches.c_str(), walk_latch_open_text(open).c_str());
        return 1;
    }

    fit_design design;
    std::vector<std::string> reasons;
    if (!fit_walk(record, tables, design, reasons))
        return refuse_fit(walk_path, reasons);

    const walk_counts counts = walk_count(tables);
    std::printf("`%s' fits a GAL16V8.\n", walk_path);
    if (latches_walked)
        // Untried keys of the tables (their first readings) say nothing
        // here: every point was clocked.
        std::printf("Walk: %u states, %u transitions, %zu steps, %zu points (every write, clock edge and drive "
                    "check tried).\n",
                    counts.states, counts.transitions, record.steps.size(), open.points);
    else
        std::printf("Walk: %u states, %u transitions (%u untried), %zu steps.\n", counts.states, counts.transitions,
                    counts.untried, record.steps.size());
    print_fit_report(stdout, design);

    std::printf("\nStart state: %s.\n", state_text(record.registered, record.start).c_str());
    if (low)
        std::printf("Forced: the fitted chip powers up with %s, not in the start state; it behaves as the\n"
                    "  walk did only once its registers reach that state.\n",
                    state_text(record.registered, record.registered).c_str());
    else
        std::printf("The fitted chip powers up in it (its registers' pins high).\n");
    if (latches_walked)
        std::printf("Latches: %s hold levels of their own.\n"
                    "  The walk tried every write of one of the adapter's latches, every clock edge and every\n"
                    "  drive check from the %zu points it reached (registers, pin levels, condition); with\n"
                    "  the readings verified below, the fitted chip reads as the original after any sequence\n"
                    "  of the adapter's writes from the start state.\n",
                    latches.c_str(), open.points);
    else if (tables.unsteady)
        std::printf("Forced: %s hold levels of their own; where the walk could not go, the fitted chip may\n"
                    "  behave otherwise than the original.\n",
                    latches.c_str());

    const std::string header = "GAL16V8 fuse map written by gatesweep-fit from the walk `" +
                               std::string(walk_path) + "' (" + design.mode->name + " mode)";
    const std::string text = jedec_text(fit_fuses(design), header);
    walk_replay_result replay;
    std::string err;
    if (!fit_walk_replay(text, opt.jed_path, record, replay, err)) {
        std::printf("\nThe fuse map does not load into the chip model: %s\nNothing written.\n", err.c_str());
        return 1;
    }
    std::printf("\n");
    if (!report_walk_mismatches(stdout, replay)) {
        std::printf("Verification failed: the fuse map in the GAL16V8 model, walked from the start state, does "
                    "not give the readings of `%s'.\nNothing written.\n",
                    walk_path);
        return 1;
    }
    std::printf("Verified: the fuse map in the GAL16V8 model, walked from the start state, gives all %zu "
                "readings of `%s'.\n",
                record.steps.size(), walk_path);
    return write_outputs(opt, out, text, design, "walk");
}

int fit(const options &opt)
{
    if (is_walk_file(opt.dump_path))
        return fit_walk_file(opt);
    const char *dump_path = opt.dump_path, *jed_path = opt.jed_path;

    // Every output is checked before any work, and none may be the dump or
    // the other output.
    outputs out;
    if (int status = check_outputs(opt, "dump", out))
        return status;

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
    return write_outputs(opt, out, text, design, "dump");
}

} // namespace

int main(int argc, char **argv)
{
    options opt;
    std::vector<const char *> files;
    const int shown = help_or_version(argc, argv, program, GATESWEEP_VERSION, usage);
    if (shown >= 0)
        return shown;
    for (int a = 1; a < argc; a++) {
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
