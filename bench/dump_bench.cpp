// Benchmark of a whole dump: the gatesweep program run as a process on the
// simulated module, sweeping the example chip u12 into a scratch file, on
// each board, plainly and with the replies handed back in small pieces.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void run_dump(benchmark::State &state, const std::string &settings)
{
    std::string cmd = settings + " '" GATESWEEP_EXE "' dump /tmp/gatesweep-dump-bench.bin >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) == -1)
            state.SkipWithError("the program could not be run");
    }
    std::remove("/tmp/gatesweep-dump-bench.bin");
}

void BM_DumpBoardA(benchmark::State &state) { run_dump(state, "FTD2XX_SIM_BOARD=a"); }
void BM_DumpBoardB(benchmark::State &state) { run_dump(state, "FTD2XX_SIM_BOARD=b"); }
void BM_DumpInPieces(benchmark::State &state) { run_dump(state, "FTD2XX_SIM_SHORT=FT_Read=64,FT_Write=512"); }

} // namespace

BENCHMARK(BM_DumpBoardA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DumpBoardB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DumpInPieces)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
