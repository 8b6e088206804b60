// ApplyColormap over one 2D-view frame (56 x 192 values) for each colour-map
// number, against a memcpy of the same 3-byte-per-value output measured in the
// same run. After the usual table it prints values per second and the ratio of
// each map's CPU time to the memcpy baseline's (CPU time, so that other load on
// the machine disturbs the ratio less).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/RecordingReporter.h"
#include "views/Colormaps.h"

namespace {

using orbel::studio::gui::ApplyColormap;
using orbel::studio::gui::ColormapName;
using orbel::studio::gui::ColormapType;

constexpr std::size_t kRows = 56;
constexpr std::size_t kColumns = 192;
constexpr std::size_t kValues = kRows * kColumns;
constexpr float kMin = 0.0f;
constexpr float kMax = 3000.0f;

// Signal-like values spread over and a little beyond the range, so that the clamps
// and every segment of the stop tables are taken.
std::vector<float> FrameValues() {
    std::vector<float> values(kValues);
    uint32_t state = 12345;
    for (float& value : values) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 3600.0f - 300.0f;
    }
    return values;
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const std::vector<uint8_t> source(kValues * 3, 0x5A);
    std::vector<uint8_t> target(kValues * 3);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}

void BM_ApplyColormap(benchmark::State& state) {
    const auto map = static_cast<ColormapType>(state.range(0));
    const std::vector<float> values = FrameValues();
    std::vector<uint8_t> rgb;
    ApplyColormap(values, map, kMin, kMax, rgb);  // the view keeps its buffer between frames
    for (auto _ : state) {
        ApplyColormap(values, map, kMin, kMax, rgb);
        benchmark::DoNotOptimize(rgb.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
    state.SetLabel(ColormapName(map));
}

BENCHMARK(BM_MemcpyBaseline);
BENCHMARK(BM_ApplyColormap)->DenseRange(0, 6);

// Each map's CPU time per frame beside the memcpy baseline's.
void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    const orbel::bench::CaseResult* baseline = runs.Find("BM_MemcpyBaseline");
    if (baseline == nullptr || baseline->cpuNs <= 0.0) {
        return;
    }
    const double baseNs = baseline->cpuNs;
    std::printf("\n%-26s %14s %14s %16s\n", "frame of 56 x 192 values", "CPU ns/frame", "Mvalues/s",
                "x memcpy time");
    std::printf("%-26s %14.0f %14.1f %16.2f\n", "memcpy (3 bytes/value)", baseNs, kValues / baseNs * 1e3, 1.0);
    for (const orbel::bench::CaseResult& result : runs.Results()) {
        if (&result == baseline) {
            continue;
        }
        std::printf("%-26s %14.0f %14.1f %16.2f\n", ("ApplyColormap " + result.label).c_str(), result.cpuNs,
                    kValues / result.cpuNs * 1e3, result.cpuNs / baseNs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    orbel::bench::RecordingReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
