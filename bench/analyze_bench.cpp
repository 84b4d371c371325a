// Timing of the analysis stages on four dumps: the u12 example chip, a
// dense chip (every pin a parity of eight inputs and two other I/O pins, with
// an enable), a very dense one (every pin a parity of sixteen signals), and
// a seeded random combinational device. `analyze_bench --write-dump FILE'
// writes the dump of the random device to FILE instead (bench/analyze_cost.sh
// measures the whole program on it).
#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS  // fopen is standard C; no _s variants wanted
#endif
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analyze.h"
#include "cupl.h"
#include "summary.h"
#include "terms.h"

namespace {

unsigned bit(unsigned v, int n) { return (v >> n) & 1u; }

unsigned parity(unsigned v)
{
    v ^= v >> 16;
    v ^= v >> 8;
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return v & 1u;
}

using chip = void (*)(unsigned ix, unsigned rx, unsigned &oe, unsigned &out);

void u12_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = 0x98u | bit(ix, 2) << 6 | (bit(ix, 5) ^ 1u) << 2 | (bit(ix, 9) ^ 1u);
    out = (bit(ix, 0) & bit(ix, 1)) << 7 | (bit(ix, 3) ^ 1u) << 6 | (bit(ix, 4) ^ bit(rx, 5)) << 3 | 1u << 2 |
          bit(ix, 6);
}

// Bk floats while I8 and I9 are high; drives I0^..^I7^B(k+1)^B(k+2).
void dense_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = (bit(ix, 8) & bit(ix, 9)) ? 0u : 0xFFu;
    out = 0;
    for (int k = 0; k < 8; k++)
        out |= (parity(ix & 0xFF) ^ bit(rx, (k + 1) % 8) ^ bit(rx, (k + 2) % 8)) << k;
}

// Bk floats while I9 is high; drives the parity of I0..I8 and the seven
// other I/O pins: 32768 terms per equation.
void very_dense_chip(unsigned ix, unsigned rx, unsigned &oe, unsigned &out)
{
    oe = bit(ix, 9) ? 0u : 0xFFu;
    out = 0;
    for (int k = 0; k < 8; k++)
        out |= (parity(ix & 0x1FF) ^ parity(rx & ~(1u << k))) << k;
}

const chip chips[] = {u12_chip, dense_chip, very_dense_chip};
const char *const chip_names[] = {"u12", "dense", "very_dense", "random"};
constexpr int RANDOM_DEVICE = 3;

// One product term: the signals it reads (bits 0..9 the inputs, 10..17 the
// levels on B0..B7) and the levels it wants of them.
struct product {
    uint32_t care, want;
};

// The dump of a random combinational device, as a PAL16L8 might be
// programmed: every pin the sum of seven products of two to five literals
// over the inputs and the pins B1..B6 before it (a PAL16L8's feedback), its
// enable a product of one or two input literals (a third of them always
// driven). Without loops the levels settle pin by pin, B0 first.
std::vector<uint8_t> random_device_dump(unsigned seed)
{
    std::mt19937 rng(seed);
    std::array<std::vector<product>, NUM_BX> level_terms;
    std::array<product, NUM_BX> enable{};
    uint32_t readable = IX_MASK;
    for (int k = 0; k < NUM_BX; k++) {
        auto literal = [&rng](product &p, uint32_t from) {
            uint32_t n;
            do
                n = rng() % NUM_SIGNALS;
            while (!((from >> n) & 1));
            p.care |= 1u << n;
            p.want = (p.want & ~(1u << n)) | (rng() % 2) << n;
        };
        if (rng() % 3 != 0) {
            const unsigned literals = 1 + rng() % 2;
            for (unsigned l = 0; l < literals; l++)
                literal(enable[k], IX_MASK);
        }
        for (int t = 0; t < 7; t++) {
            product p{};
            const unsigned literals = 2 + rng() % 4;
            for (unsigned l = 0; l < literals; l++)
                literal(p, readable);
            level_terms[k].push_back(p);
        }
        if (k >= 1 && k <= 6)
            readable |= bx_bit(k);
    }
    std::vector<uint8_t> dump(DUMP_SIZE);
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        const uint32_t ix = i & IX_MASK, rx = i >> RX_SHIFT;
        uint32_t levels = 0;
        for (int k = 0; k < NUM_BX; k++) {
            const uint32_t p = ix | levels << RX_SHIFT;
            unsigned level = (rx >> k) & 1;
            if ((p & enable[k].care) == enable[k].want) {
                level = 0;
                for (const product &t : level_terms[k])
                    level |= (p & t.care) == t.want;
            }
            levels |= level << k;
        }
        dump[i] = static_cast<uint8_t>(levels);
    }
    return dump;
}

std::vector<uint8_t> chip_dump(int which)
{
    if (which == RANDOM_DEVICE)
        return random_device_dump(1);
    std::vector<uint8_t> dump(DUMP_SIZE);
    for (uint32_t i = 0; i < DUMP_SIZE; i++) {
        unsigned ix = i & IX_MASK, rx = i >> RX_SHIFT, oe = 0, out = 0;
        chips[which](ix, rx, oe, out);
        dump[i] = static_cast<uint8_t>((out & oe) | (rx & ~oe));
    }
    return dump;
}

bool write_dump(const std::string &file, const std::vector<uint8_t> &dump)
{
    FILE *f = std::fopen(file.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(dump.data(), 1, dump.size(), f) == dump.size();
    return std::fclose(f) == 0 && written;
}

std::string dump_file(int which)
{
    static std::string files[4];
    if (files[which].empty()) {
        const std::vector<uint8_t> dump = chip_dump(which);
        files[which] = (std::filesystem::temp_directory_path() /
                        ("gatesweep-bench-" + std::string(chip_names[which]) + ".bin"))
                           .string();
        if (!write_dump(files[which], dump))
            std::abort();
    }
    return files[which];
}

FILE *null_output()
{
#ifdef _WIN32
    static FILE *f = std::fopen("NUL", "w");
#else
    static FILE *f = std::fopen("/dev/null", "w");
#endif
    return f;
}

void quiet_load(const std::string &file, std::vector<uint8_t> &image)
{
    if (!load_dump(file.c_str(), image))
        std::abort();
}

// The analysis of a chip's dump file.
std::unique_ptr<const dump_analysis> prepare(int which)
{
    std::vector<uint8_t> image;
    quiet_load(dump_file(which), image);
    return analyse_dump(image);
}

// A copy of the analysis of a chip's dump file for the stages to run on again.
std::unique_ptr<dump_analysis> prepare_stages(int which)
{
    return std::make_unique<dump_analysis>(*prepare(which));
}

void label(benchmark::State &state)
{
    state.SetLabel(chip_names[state.range(0)]);
}

void BM_load(benchmark::State &state)
{
    const std::string file = dump_file(int(state.range(0)));
    std::vector<uint8_t> image;
    for (auto _ : state)
        quiet_load(file, image);
    label(state);
}

void BM_classify(benchmark::State &state)
{
    std::unique_ptr<dump_analysis> a = prepare_stages(int(state.range(0)));
    for (auto _ : state) {
        clear_analysis(*a);
        classify_pins(*a);
    }
    label(state);
}

void BM_masks(benchmark::State &state)
{
    std::unique_ptr<dump_analysis> a = prepare_stages(int(state.range(0)));
    for (auto _ : state)
        compute_masks(*a);
    label(state);
}

void BM_extract(benchmark::State &state)
{
    std::unique_ptr<const dump_analysis> a = prepare(int(state.range(0)));
    term_table table = new_term_table();
    term_choices choices{};
    for (auto _ : state) {
        extract_all(*a, table, RULE_OUTPUT, choices);
        extract_all(*a, table, RULE_ENABLE, choices);
    }
    label(state);
}

// The extraction of every equation, each followed by its terms in order.
void BM_enumerate(benchmark::State &state)
{
    std::unique_ptr<const dump_analysis> a = prepare(int(state.range(0)));
    term_table table = new_term_table();
    long terms = 0;
    for (auto _ : state) {
        for (int k = NUM_BX - 1; k >= 0; k--) {
            for (term_rule rule : {RULE_OUTPUT, RULE_ENABLE}) {
                if (!takes_terms(*a, k, rule))
                    continue;
                pin_terms c{};
                extract_terms(*a, table, k, rule, c);
                const int level = rule == RULE_OUTPUT ? c.out_pol : c.oe_pol;
                for (long t = next_term(table, level, 0); t >= 0; t = next_term(table, level, t + 1))
                    terms++;
            }
        }
    }
    benchmark::DoNotOptimize(terms);
    label(state);
}

// The summary and the CUPL text, extraction included, to the null device.
void BM_write(benchmark::State &state)
{
    std::unique_ptr<const dump_analysis> a = prepare(int(state.range(0)));
    const std::string file = dump_file(int(state.range(0)));
    term_table table = new_term_table();
    for (auto _ : state) {
        print_summary(null_output(), *a, file.c_str());
        write_cupl(null_output(), *a, file.c_str(), table);
    }
    label(state);
}

// Everything analyze_pal does but the check, output to the null device.
void BM_whole(benchmark::State &state)
{
    const std::string file = dump_file(int(state.range(0)));
    for (auto _ : state) {
        std::vector<uint8_t> image;
        quiet_load(file, image);
        std::unique_ptr<const dump_analysis> a = analyse_dump(image);
        print_summary(null_output(), *a, file.c_str());
        term_table table = new_term_table();
        write_cupl(null_output(), *a, file.c_str(), table);
    }
    label(state);
}

} // namespace

BENCHMARK(BM_load)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_classify)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_masks)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_enumerate)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_whole)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--write-dump") {
        if (write_dump(argv[2], chip_dump(RANDOM_DEVICE)))
            return 0;
        std::fprintf(stderr, "analyze_bench: could not write `%s'\n", argv[2]);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
