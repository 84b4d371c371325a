// Benchmark of gatesweep-fit's whole process (analysis, fit, fuse map,
// check in the chip model) on dumps of the published fuse maps, of dense
// random PAL16L8 maps and of noise. Prints one line per dump: its verdict,
// the mode and the time. Targets: under 1 s for a dump that fits, under 2 s
// for a refusal. Usage: fit_bench [--reasons] [FOLDER holding jedec/*.jed]
// (--reasons: print why each refused dump does not fit)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analyze.h"
#include "chip.h"
#include "fit_fuses.h"
#include "fit_search.h"
#include "sweep.h"
#include "jedec_file.h"

namespace {

std::vector<uint8_t> dump_of(const std::string &device, const std::string &text)
{
    std::string err;
    std::unique_ptr<sim_chip> chip = sim_make_jedec_chip_text(device, text, "bench", err);
    if (!chip) {
        std::fprintf(stderr, "fit_bench: %s\n", err.c_str());
        return std::vector<uint8_t>(DUMP_SIZE, 0);
    }
    return sweep_chip(std::move(chip));
}

// Eight outputs of seven terms each, two to five literals over the inputs
// and the outputs before them (no loops); enables of one or two literals.
std::string dense_pal16l8(unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(2048, 0);
    uint32_t readable = IX_MASK; // I0..I9
    const uint32_t array = gal_array_signals(gal_columns_combinational);
    for (unsigned k = 0; k < 8; k++) {
        const unsigned first = gal_first_row(k);
        for (unsigned row = first; row < first + 8; row++) {
            const bool enable = row == first;
            if (enable && rng() % 3 == 0) {
                for (unsigned c = 0; c < 32; c++)
                    f[row * 32 + c] = 1; // always driven
                continue;
            }
            for (unsigned c = 0; c < 32; c++)
                f[row * 32 + c] = 1;
            const unsigned literals = enable ? 1 + rng() % 2 : 2 + rng() % 4;
            for (unsigned l = 0; l < literals; l++) {
                unsigned n;
                do
                    n = rng() % 18;
                while (!((enable ? IX_MASK : readable) >> n & 1));
                const int p = gal_column_of(gal_columns_combinational, n);
                f[row * 32 + 2 * static_cast<unsigned>(p) + rng() % 2] = 0;
            }
        }
        readable |= bx_bit(static_cast<int>(k)) & array;
    }
    std::string t = "\x02" "bench*QF2048*L0000 ";
    for (uint8_t b : f)
        t += b ? '1' : '0';
    char c[16];
    std::snprintf(c, sizeof c, "*C%04X*\x03", jedec_checksum(f));
    return t + c;
}

bool show_reasons = false;

void run(const std::string &name, const std::vector<uint8_t> &dump)
{
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<const dump_analysis> a = analyse_dump(dump);
    fit_design design;
    std::vector<std::string> reasons;
    fit_status status = fit_dump(*a, design, reasons);
    std::string verdict;
    if (status == FIT_OK) {
        std::string text = jedec_text(fit_fuses(design), "bench"), err;
        std::vector<uint8_t> readings;
        bool same = fit_sweep(text, "bench", readings, err) && readings == dump;
        verdict = std::string(same ? "fits, verified" : "fits, NOT verified") + " (" + design.mode->name + ")";
    } else {
        verdict = status == FIT_STATE ? "refused: holds state" : "refused: no mode";
    }
    if (show_reasons)
        for (const std::string &r : reasons)
            std::printf("    %s\n", r.c_str());
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-40s %-32s %6.3f s\n", name.c_str(), verdict.c_str(), s);
}

} // namespace

int main(int argc, char **argv)
{
    int a = 1;
    if (a < argc && std::string(argv[a]) == "--reasons")
        show_reasons = true, a++;
    const std::string dir = a < argc ? argv[a] : "../shared/testdata";
    const std::pair<const char *, const char *> maps[] = {
        {"e800j_io_gal16v8.jed", "GAL16V8"},          {"e800j_mem_gal16v8.jed", "GAL16V8"},
        {"alphamission_9f_gal16v8.jed", "GAL16V8"},   {"sun3_60_1590-01_gdj_gal16v8.jed", "GAL16V8"},
        {"sun3_60_1567-01_pal16l8.jed", "PAL16L8"},   {"sun3_60_1590-01_pal16l8.jed", "PAL16L8"},
        {"alphamission_15b_fixed_gal16v8.jed", "GAL16V8"}, {"sun3_60_1564-02_pal16r4.jed", "PAL16R4"},
    };
    for (const auto &m : maps) {
        std::ifstream f(dir + "/jedec/" + m.first, std::ios::binary);
        if (!f) {
            std::printf("%-40s (not found under %s/jedec)\n", m.first, dir.c_str());
            continue;
        }
        run(m.first, dump_of(m.second, std::string(std::istreambuf_iterator<char>(f), {})));
    }
    for (unsigned seed = 1; seed <= 40; seed++)
        run("dense random PAL16L8 " + std::to_string(seed), dump_of("PAL16L8", dense_pal16l8(seed)));
    std::mt19937 rng(99);
    std::vector<uint8_t> noise(DUMP_SIZE);
    for (uint8_t &b : noise)
        b = static_cast<uint8_t>(rng());
    run("noise", noise);
    // A function of the ten inputs on every pin, always driven: no state,
    // hundreds of terms.
    std::vector<uint8_t> table(IX_COUNT);
    for (uint8_t &b : table)
        b = static_cast<uint8_t>(rng());
    for (uint32_t i = 0; i < DUMP_SIZE; i++)
        noise[i] = table[i & IX_MASK];
    run("random functions of the inputs", noise);
    return 0;
}
