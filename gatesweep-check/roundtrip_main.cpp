// The gatesweep-check program: reads a dump and the text `gatesweep analyze'
// printed for it, and tells whether the equations reproduce the dump
// (roundtrip.h does the work); or a walk of a registered chip and the text
// `gatesweep-fit --cupl' wrote for it, and tells whether the equations
// reproduce every reading of the walk; or tells where two dumps differ.
// Every failure, a lost standard output too, is one line and status 2.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "roundtrip.h"

namespace {

bool is_walk(const std::string &bytes)
{
    return walk_file_begins(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// Reads a dump, exactly rt_conditions bytes, or a walk file (walk set),
// reading no more than a dump holds unless the file starts as a walk file
// does. False after one line on standard error.
bool read_dump_or_walk(const char *path, std::vector<uint8_t> &dump, bool &walk)
{
    std::string bytes;
    read_status status = read_bounded(path, rt_conditions, bytes);
    walk = status != READ_FAILED && is_walk(bytes);
    if (walk && status == READ_TOO_LONG) {
        // The rest of standard input follows what was read; a file is read again.
        const bool piped = std::strcmp(path, "-") == 0;
        std::string rest;
        status = read_bounded(path, walk_max_file_bytes - (piped ? bytes.size() : 0), rest);
        bytes = piped ? bytes + rest : std::move(rest);
    }
    switch (status) {
    case READ_FAILED:
        std::fprintf(stderr, "gatesweep-check: cannot read the %s `%s'\n", walk ? "walk" : "dump", path);
        return false;
    case READ_TOO_LONG:
        if (walk)
            std::fprintf(stderr, "gatesweep-check: `%s' holds more than %zu bytes, more than any walk file\n", path,
                         walk_max_file_bytes);
        else
            std::fprintf(stderr, "gatesweep-check: `%s' holds more than %u bytes, not a dump of %u\n", path,
                         static_cast<unsigned>(rt_conditions), static_cast<unsigned>(rt_conditions));
        return false;
    case READ_OK:
        break;
    }
    if (!walk && bytes.size() != rt_conditions) {
        std::fprintf(stderr, "gatesweep-check: `%s' holds %zu bytes, not a dump of %u\n", path, bytes.size(),
                     static_cast<unsigned>(rt_conditions));
        return false;
    }
    dump.assign(bytes.begin(), bytes.end());
    return true;
}

// Reads a dump: exactly rt_conditions bytes, reading no more than a dump
// holds. False after one line on standard error.
bool read_dump(const char *path, std::vector<uint8_t> &dump)
{
    bool walk = false;
    if (!read_dump_or_walk(path, dump, walk))
        return false;
    if (walk) {
        std::fprintf(stderr, "gatesweep-check: `%s' is a walk, not a dump of %u\n", path,
                     static_cast<unsigned>(rt_conditions));
        return false;
    }
    return true;
}

// One line per pin, B7 first: its count of what (one, many) and the first
// dump indices. Returns the total; bad_pins counts the pins with any.
unsigned print_pins(const std::array<rt_pin_result, 8> &result, const char *one, const char *many,
                    unsigned &bad_pins)
{
    unsigned total = 0;
    bad_pins = 0;
    for (unsigned k = 8; k-- > 0;) {
        const rt_pin_result &r = result[k];
        std::printf("B%u: %u %s", k, r.mismatches, r.mismatches == 1 ? one : many);
        for (size_t j = 0; j < r.first.size(); j++)
            std::printf("%s0x%05X", j == 0 ? ", first at " : " ", static_cast<unsigned>(r.first[j]));
        std::printf("\n");
        total += r.mismatches;
        if (r.mismatches)
            bad_pins++;
    }
    return total;
}

// The walk's steps replayed on the equations' chip.
int check_walk(const walk_record &walk, const char *text_path, const rt_design &design)
{
    walk_replay_result replay;
    std::string err;
    if (!rt_replay_walk(design, walk, replay, err)) {
        std::fprintf(stderr, "gatesweep-check: %s: %s\n", text_path, err.c_str());
        return 2;
    }
    std::array<rt_pin_result, 8> result;
    for (unsigned k = 0; k < 8; k++)
        result[k].mismatches = replay.mismatches[k];
    unsigned bad_pins;
    unsigned total = print_pins(result, "mismatch", "mismatches", bad_pins);
    if (total == 0) {
        std::printf("Round trip exact: the equations reproduce all %zu steps of the walk.\n", walk.steps.size());
        return 0;
    }
    std::printf("Round trip failed: %u %s on %u pin%s, first at step %zu.\n", total,
                total == 1 ? "mismatch" : "mismatches", bad_pins, bad_pins == 1 ? "" : "s", replay.first + 1);
    return 1;
}

int check(const char *dump_path, const char *text_path)
{
    // The dump or walk first: it is checked before the text is read.
    std::vector<uint8_t> dump;
    bool walk = false;
    if (!read_dump_or_walk(dump_path, dump, walk))
        return 2;
    walk_record record;
    if (walk) {
        walk_tables tables;
        std::string err;
        if (!walk_parse(dump, record, tables, err)) {
            std::fprintf(stderr, "gatesweep-check: %s: %s\n", dump_path, err.c_str());
            return 2;
        }
        dump = std::vector<uint8_t>();
    }
    std::string text;
    switch (read_bounded(text_path, rt_max_text, text)) {
    case READ_FAILED:
        std::fprintf(stderr, "gatesweep-check: cannot read the equations `%s'\n", text_path);
        return 2;
    case READ_TOO_LONG:
        std::fprintf(stderr,
                     "gatesweep-check: `%s' holds more than %zu bytes, far more than `gatesweep analyze' prints\n",
                     text_path, rt_max_text);
        return 2;
    case READ_OK:
        break;
    }
    rt_design design;
    std::string err;
    if (!rt_parse(std::move(text), design, err)) {
        std::fprintf(stderr, "gatesweep-check: %s: %s\n", text_path, err.c_str());
        return 2;
    }
    if (walk)
        return check_walk(record, text_path, design);

    unsigned bad_pins;
    unsigned total = print_pins(rt_compare(dump, design), "mismatch", "mismatches", bad_pins);
    if (total == 0) {
        std::printf("Round trip exact: the equations reproduce all %u conditions.\n",
                    static_cast<unsigned>(rt_conditions));
        return 0;
    }
    std::printf("Round trip failed: %u %s on %u pin%s.\n", total, total == 1 ? "mismatch" : "mismatches", bad_pins,
                bad_pins == 1 ? "" : "s");
    return 1;
}

// Two dumps of one chip, as a reading is trusted once it repeats.
int compare(const char *a_path, const char *b_path)
{
    std::vector<uint8_t> a, b;
    if (!read_dump(a_path, a) || !read_dump(b_path, b))
        return 2;
    unsigned bad_pins;
    unsigned total = print_pins(rt_compare_dumps(a, b), "difference", "differences", bad_pins);
    if (total == 0) {
        std::printf("Dumps identical: all %u conditions read the same.\n", static_cast<unsigned>(rt_conditions));
        return 0;
    }
    std::printf("Dumps differ: %u %s on %u pin%s.\n", total, total == 1 ? "difference" : "differences", bad_pins,
                bad_pins == 1 ? "" : "s");
    return 1;
}

void usage(FILE *to)
{
    std::fputs("usage: gatesweep-check DUMP.bin CUPL.txt\n"
               "       gatesweep-check CHIP.walk CUPL.txt\n"
               "       gatesweep-check --compare A.bin B.bin\n"
               "       gatesweep-check -h | --help | --version\n"
               "  CUPL.txt is the text `gatesweep analyze DUMP.bin' printed (- for standard input),\n"
               "  or the one `gatesweep-fit --cupl' wrote for a walk of a registered chip.\n"
               "  --compare tells where two dumps of one chip read differently.\n"
               "  Exit status: 0 exact or identical, 1 mismatches or differences, 2 unreadable input.\n",
               to);
}

int run(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("gatesweep-check %s\n", GATESWEEP_VERSION);
        return 0;
    }
    const bool comparing = argc == 4 && std::strcmp(argv[1], "--compare") == 0;
    // An option anywhere else, or with other arguments, is a wrong call.
    if (!comparing && (argc != 3 || (argv[1][0] == '-' && argv[1][1] != '\0'))) {
        usage(stderr);
        return 2;
    }
    try {
        return comparing ? compare(argv[2], argv[3]) : check(argv[1], argv[2]);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "gatesweep-check: out of memory\n");
        return 2;
    }
}

} // namespace

int main(int argc, char **argv)
{
    int status = run(argc, argv);
    return stdout_complete("gatesweep-check") ? status : 2;
}
