// LazyPointCloud: Deserialize alone and Deserialize followed by each accessor, per point
// type and line size, beside a memcpy of the same payload bytes measured in the same run.
// Every benchmark reports points (items) and payload bytes per second, so the ratio to
// BM_MemcpyBaseline of the same arguments is what a reader compares.
//
// Arguments: point type (0x60 = 96, 0x66 = 102, 0x6F = 111) and points per line.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dataTypes/LazyPointCloud.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

using orbel::data::LazyPointCloud;
using orbel::testing::PointCloudPayloadBuilder;

std::vector<uint8_t> MakePayload(const benchmark::State& state) {
    return PointCloudPayloadBuilder()
        .PointType(static_cast<uint8_t>(state.range(0)))
        .PointCount(static_cast<uint32_t>(state.range(1)))
        .FrameNumber(1234)
        .LineIndex(17)
        .Timestamp(1'700'000'000'000'000ull)
        .Build();
}

void Report(benchmark::State& state, size_t payloadBytes) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(1));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(payloadBytes));
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const std::vector<uint8_t> payload = MakePayload(state);
    std::vector<uint8_t> copy(payload.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), payload.data(), payload.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    Report(state, payload.size());
}

// One cloud reused across iterations, as the data handler's customer thread would a
// buffer; each iteration loads the message again, so every accessor decodes afresh.
template <typename Access>
void RunDeserializeThen(benchmark::State& state, Access access) {
    const std::vector<uint8_t> payload = MakePayload(state);
    LazyPointCloud cloud;
    for (auto _ : state) {
        cloud.Deserialize(payload.data(), payload.size());
        access(cloud);
        benchmark::ClobberMemory();
    }
    Report(state, payload.size());
}

void BM_Deserialize(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetPointCount()); });
}
void BM_DeserializeXYZ(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) {
        benchmark::DoNotOptimize(c.GetX().data());
        benchmark::DoNotOptimize(c.GetY().data());
        benchmark::DoNotOptimize(c.GetZ().data());
    });
}
void BM_DeserializeDistance(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetDistance().data()); });
}
void BM_DeserializeReflectivity(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetReflectivity().data()); });
}
void BM_DeserializeAmbient(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetAmbient().data()); });
}
void BM_DeserializeConfidence(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetConfidence().data()); });
}
void BM_DeserializeColors(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) { benchmark::DoNotOptimize(c.GetColors().data()); });
}
void BM_DeserializeMetadata(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) {
        benchmark::DoNotOptimize(c.GetMetadata().frameNumber);
        benchmark::DoNotOptimize(c.GetTimestamp());
    });
}
void BM_DeserializeScanAuxInfo(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) {
        benchmark::DoNotOptimize(c.GetScanInfo().maxInput);
        benchmark::DoNotOptimize(c.GetAuxiliaryInfo().value);
    });
}
void BM_DeserializeEveryAccessor(benchmark::State& state) {
    RunDeserializeThen(state, [](LazyPointCloud& c) {
        benchmark::DoNotOptimize(c.GetX().data());
        benchmark::DoNotOptimize(c.GetY().data());
        benchmark::DoNotOptimize(c.GetZ().data());
        benchmark::DoNotOptimize(c.GetDistance().data());
        benchmark::DoNotOptimize(c.GetReflectivity().data());
        benchmark::DoNotOptimize(c.GetAmbient().data());
        benchmark::DoNotOptimize(c.GetConfidence().data());
        benchmark::DoNotOptimize(c.GetColors().data());
        benchmark::DoNotOptimize(c.GetMetadata().frameNumber);
        benchmark::DoNotOptimize(c.GetScanInfo().maxInput);
        benchmark::DoNotOptimize(c.GetAuxiliaryInfo().value);
    });
}

// A fresh cloud per message, as the data handler builds one per delivered line.
void BM_FreshCloudEveryAccessor(benchmark::State& state) {
    const std::vector<uint8_t> payload = MakePayload(state);
    for (auto _ : state) {
        LazyPointCloud cloud;
        cloud.Deserialize(payload.data(), payload.size());
        benchmark::DoNotOptimize(cloud.GetX().data());
        benchmark::DoNotOptimize(cloud.GetDistance().data());
        benchmark::DoNotOptimize(cloud.GetReflectivity().data());
        benchmark::DoNotOptimize(cloud.GetAmbient().data());
        benchmark::DoNotOptimize(cloud.GetConfidence().data());
        benchmark::DoNotOptimize(cloud.GetColors().data());
        benchmark::DoNotOptimize(cloud.GetScanInfo().maxInput);
        benchmark::DoNotOptimize(cloud.GetAuxiliaryInfo().value);
        benchmark::ClobberMemory();
    }
    Report(state, payload.size());
}

void Lines(benchmark::internal::Benchmark* b) {
    b->ArgNames({"type", "points"});
    for (const int64_t type : {0x60, 0x66, 0x6F})
        for (const int64_t points : {192, 65536}) b->Args({type, points});
}

BENCHMARK(BM_MemcpyBaseline)->Apply(Lines);
BENCHMARK(BM_Deserialize)->Apply(Lines);
BENCHMARK(BM_DeserializeXYZ)->Apply(Lines);
BENCHMARK(BM_DeserializeDistance)->Apply(Lines);
BENCHMARK(BM_DeserializeReflectivity)->Apply(Lines);
BENCHMARK(BM_DeserializeAmbient)->Apply(Lines);
BENCHMARK(BM_DeserializeConfidence)->Apply(Lines);
BENCHMARK(BM_DeserializeColors)->Apply(Lines);
BENCHMARK(BM_DeserializeMetadata)->Apply(Lines);
BENCHMARK(BM_DeserializeScanAuxInfo)->Apply(Lines);
BENCHMARK(BM_DeserializeEveryAccessor)->Apply(Lines);
BENCHMARK(BM_FreshCloudEveryAccessor)->Apply(Lines);

}  // namespace

BENCHMARK_MAIN();
