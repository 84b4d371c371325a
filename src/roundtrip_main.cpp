// The gatesweep-check program: reads a dump and the text `gatesweep analyze'
// printed for it, and tells whether the equations reproduce the dump
// (roundtrip.h does the work). Every failure, a lost standard output too, is
// one line and status 2.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "files.h"
#include "roundtrip.h"

namespace {

int check(const char *dump_path, const char *text_path)
{
    // The dump first: its size is checked before the text is read, and no
    // more of it is read than a dump holds.
    std::string dump_bytes, text;
    switch (read_bounded(dump_path, rt_conditions, dump_bytes)) {
    case READ_FAILED:
        std::fprintf(stderr, "gatesweep-check: cannot read the dump `%s'\n", dump_path);
        return 2;
    case READ_TOO_LONG:
        std::fprintf(stderr, "gatesweep-check: `%s' holds more than %u bytes, not a dump of %u\n", dump_path,
                     static_cast<unsigned>(rt_conditions), static_cast<unsigned>(rt_conditions));
        return 2;
    case READ_OK:
        break;
    }
    if (dump_bytes.size() != rt_conditions) {
        std::fprintf(stderr, "gatesweep-check: `%s' holds %zu bytes, not a dump of %u\n", dump_path,
                     dump_bytes.size(), static_cast<unsigned>(rt_conditions));
        return 2;
    }
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

    std::vector<uint8_t> dump(dump_bytes.begin(), dump_bytes.end());
    std::array<rt_pin_result, 8> result = rt_compare(dump, design);
    unsigned total = 0, bad_pins = 0;
    for (unsigned k = 8; k-- > 0;) {
        const rt_pin_result &r = result[k];
        std::printf("B%u: %u %s", k, r.mismatches, r.mismatches == 1 ? "mismatch" : "mismatches");
        for (size_t j = 0; j < r.first.size(); j++)
            std::printf("%s0x%05X", j == 0 ? ", first at " : " ", static_cast<unsigned>(r.first[j]));
        std::printf("\n");
        total += r.mismatches;
        if (r.mismatches)
            bad_pins++;
    }
    if (total == 0) {
        std::printf("Round trip exact: the equations reproduce all %u conditions.\n",
                    static_cast<unsigned>(rt_conditions));
        return 0;
    }
    std::printf("Round trip failed: %u %s on %u pin%s.\n", total, total == 1 ? "mismatch" : "mismatches", bad_pins,
                bad_pins == 1 ? "" : "s");
    return 1;
}

void usage(FILE *to)
{
    std::fputs("usage: gatesweep-check DUMP.bin CUPL.txt\n"
               "       gatesweep-check -h | --help | --version\n"
               "  CUPL.txt is the text `gatesweep analyze DUMP.bin' printed (- for standard input).\n"
               "  Exit status: 0 exact, 1 mismatches, 2 unreadable input.\n",
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
    // An option anywhere else, or with other arguments, is a wrong call.
    if (argc != 3 || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        usage(stderr);
        return 2;
    }
    try {
        return check(argv[1], argv[2]);
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
