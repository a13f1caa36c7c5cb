// Cost of the command path: parsing a realistic mix of command lines and
// writing response records and listing lines. Prints figures only.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <iterator>

#include "cmdlang/ci_base.h"
#include "cmdlang/records.h"
#include "cmdlang/sample_command_set.h"

namespace {

using namespace linkbay;

// Mostly short queries as identification and polling send them, some settings
// with arguments, strings, and a few faulty lines.
const char* const kMix[] = {
    "SHOW_VERS", "SHOW_CONF_MASK", "SHOW_ACTIVE", "SHOW_ACTIVE_DEVICES", "START", "STOP",
    "CLEAR_DATA", "SET_GAIN_CHANNEL 2048", "set_gain_ch 100", "SET_GAIN_FINE 4294967295",
    "SET_GAIN_COARSE -12.5", "SET_WINDOW 10,1000", "SET_NAME \"Detector \\\"A\\\"\"",
    "LOAD_DATA 1e3,,-2.5,7", "  SHOW_VERSION\r\n", "SEX_GAIN_XYZ 1", "SET_GAIN_CH 40000",
    "SET_WINDOW 1,2,3,4,5,6",
};
constexpr int64_t kMixLines = static_cast<int64_t>(std::size(kMix));

void ReportPerItem(benchmark::State& state, int64_t nItemsPerIteration, const char* pszName) {
    state.SetItemsProcessed(state.iterations() * nItemsPerIteration);
    state.counters[pszName] = benchmark::Counter(
        static_cast<double>(nItemsPerIteration),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ParseCommandMix(benchmark::State& state) {
    const CIBase ci(sample::kCommandSet);
    ParsedCommand cmd;
    int32_t nMac = 0, nMic = 0;
    for (auto _ : state) {
        for (const char* pszLine : kMix) {
            benchmark::DoNotOptimize(ci.ParseCommand(pszLine, cmd, nMac, nMic));
            benchmark::ClobberMemory();
        }
    }
    ReportPerItem(state, kMixLines, "per_line");
}
BENCHMARK(BM_ParseCommandMix);

void BM_ParseCommandLongLine(benchmark::State& state) {
    char szLine[4096];
    for (char& c : szLine) c = 'x';
    szLine[0] = 'L';
    szLine[1] = ' ';
    szLine[sizeof szLine - 1] = '\0';
    const CIBase ci(sample::kCommandSet);
    ParsedCommand cmd;
    int32_t nMac = 0, nMic = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ci.ParseCommand(szLine, cmd, nMac, nMic));
        benchmark::ClobberMemory();
    }
    ReportPerItem(state, 1, "per_line");
}
BENCHMARK(BM_ParseCommandLongLine);

template <typename Write>
void RunWriter(benchmark::State& state, Write write) {
    char buf[128];
    int32_t nLen = 0;
    uint32_t nValue = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(sizeof buf, buf, nLen, nValue++));
        benchmark::ClobberMemory();
    }
    ReportPerItem(state, 1, "per_record");
}

void BM_FormatC(benchmark::State& state) {
    RunWriter(state, [](int32_t n, char* b, int32_t& l, uint32_t v) { return FormatC(n, b, l, v); });
}
void BM_FormatM(benchmark::State& state) {
    RunWriter(state, [](int32_t n, char* b, int32_t& l, uint32_t v) {
        return FormatM(n, b, l, v, v * 3, v, v + 1);
    });
}
void BM_FormatJ(benchmark::State& state) {
    RunWriter(state, [](int32_t n, char* b, int32_t& l, uint32_t) {
        return FormatJ(n, b, l, "Instrument version 1.23");
    });
}
void BM_FormatListUUUU(benchmark::State& state) {
    RunWriter(state, [](int32_t n, char* b, int32_t& l, uint32_t v) {
        return FormatListUUUU(n, b, l, "CONF_MASK", v, ~v, v >> 3, 7);
    });
}
void BM_FormatListGGG(benchmark::State& state) {
    RunWriter(state, [](int32_t n, char* b, int32_t& l, uint32_t v) {
        return FormatListGGG(n, b, l, "CORR_FLAT", v * 0.001, -1.0 / (v + 1), v * 1e9);
    });
}
BENCHMARK(BM_FormatC);
BENCHMARK(BM_FormatM);
BENCHMARK(BM_FormatJ);
BENCHMARK(BM_FormatListUUUU);
BENCHMARK(BM_FormatListGGG);

}  // namespace

BENCHMARK_MAIN();
