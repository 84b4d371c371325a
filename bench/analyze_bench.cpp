// Timing of the analysis stages on three dumps: the u12 example chip, a
// dense chip (every pin a parity of eight inputs and two other I/O pins, with
// an enable), and a very dense one (every pin a parity of sixteen signals).
#ifdef _MSC_VER
#define _CRT_SECURE_NO_WARNINGS  // fopen is standard C; no _s variants wanted
#endif
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
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
const char *const chip_names[] = {"u12", "dense", "very_dense"};

std::string dump_file(int which)
{
    static std::string files[3];
    if (files[which].empty()) {
        std::vector<uint8_t> dump(DUMP_SIZE);
        for (uint32_t i = 0; i < DUMP_SIZE; i++) {
            unsigned ix = i & IX_MASK, rx = i >> RX_SHIFT, oe = 0, out = 0;
            chips[which](ix, rx, oe, out);
            dump[i] = static_cast<uint8_t>((out & oe) | (rx & ~oe));
        }
        files[which] = (std::filesystem::temp_directory_path() /
                        ("gatesweep-bench-" + std::string(chip_names[which]) + ".bin"))
                           .string();
        FILE *f = std::fopen(files[which].c_str(), "wb");
        std::fwrite(dump.data(), 1, dump.size(), f);
        std::fclose(f);
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

void BM_enumerate(benchmark::State &state)
{
    std::unique_ptr<const dump_analysis> a = prepare(int(state.range(0)));
    term_table table = new_term_table();
    term_choices choices{};
    extract_all(*a, table, RULE_OUTPUT, choices);
    extract_all(*a, table, RULE_ENABLE, choices);
    long terms = 0;
    for (auto _ : state) {
        for (int k = NUM_BX - 1; k >= 0; k--) {
            for (term_rule rule : {RULE_OUTPUT, RULE_ENABLE}) {
                if (!takes_terms(*a, k, rule))
                    continue;
                const macrocell &m = a->mc[k];
                const pin_terms &c = choices[k];
                if (rule == RULE_OUTPUT)
                    enumerate_terms(*a, table, k, rule, m.out_mask, c.out_pol);
                else
                    enumerate_terms(*a, table, k, rule, m.oe_mask, c.oe_pol);
                for (long t = next_term(table, 0); t >= 0; t = next_term(table, t + 1))
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

BENCHMARK(BM_load)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_classify)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_masks)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_enumerate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_whole)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
