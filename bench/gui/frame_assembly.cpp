// Live frame assembly on one core: PointCloudWorker::Process fed the 56 line clouds of
// one frame after another (type 0x6F, 192 points a line), so that the first line of
// each frame builds and publishes the one before it (FrameData, then the batch of its
// line clouds) to one trivial subscriber. Beside it, in the same run, a memcpy of the
// same 56 serialised payloads, and the assembler's steps alone, to show where the time
// goes. After the usual table it prints time per frame, frames per second, the ratio
// to the memcpy and the share of the 50 ms frame period (CPU time, so that other load
// on the machine disturbs the figures less).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameAssembler.h"
#include "app/FrameData.h"
#include "app/ObjectDispatcher.h"
#include "app/PointCloudWorker.h"
#include "common/RecordingReporter.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

using orbel::studio::FrameAssembler;
using orbel::studio::FrameData;
using orbel::studio::LineBatch;
using orbel::studio::ObjectDispatcher;
using orbel::studio::PointCloudWorker;
using orbel::testing::PointCloudPayloadBuilder;

constexpr uint32_t kLines = 56;
constexpr uint32_t kPoints = 192;
constexpr uint8_t kPointType = 0x6F;
constexpr double kFramePeriod_ns = 50e6;  // 20 frames per second

std::vector<uint8_t> LinePayload(uint32_t frame, uint32_t line) {
    return PointCloudPayloadBuilder()
        .PointType(kPointType)
        .PointCount(kPoints)
        .FrameNumber(frame)
        .LineIndex(static_cast<uint8_t>(line))
        .Timestamp(1'700'000'000'000'000ull + frame * 50'000ull + line * 893ull)
        .Build();
}

// The serialised lines of one frame and the SDK clouds made from them, as the SDK
// hands them to the streamer.
struct Frame {
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> clouds;

    explicit Frame(uint32_t number) {
        for (uint32_t line = 0; line < kLines; ++line) {
            payloads.push_back(LinePayload(number, line));
            auto cloud = orbel::sdk::CreatePointCloud();
            cloud->Deserialize(payloads.back());
            clouds.push_back(std::move(cloud));
        }
    }

    size_t Bytes() const { return payloads.size() * payloads.front().size(); }
};

// Two frame numbers in turn are all the worker needs to see a new frame begin.
const std::array<Frame, 2>& Frames() {
    static const std::array<Frame, 2> frames{Frame(1), Frame(2)};
    return frames;
}

// Touches what a view would take from the frame, so nothing is optimised away.
class CountingSubscriber final : public orbel::studio::IConsumer<FrameData>,
                                 public orbel::studio::IConsumer<LineBatch> {
public:
    void Consume(std::shared_ptr<FrameData> frame) override {
        ++frames;
        lastWidth = frame->width;
        lastHeight = frame->height;
        benchmark::DoNotOptimize(frame->xyz.data());
    }
    void Consume(std::shared_ptr<LineBatch> batch) override {
        ++batches;
        lastBatchSize = batch->size();
    }

    int64_t frames = 0;
    int64_t batches = 0;
    uint32_t lastWidth = 0;
    uint32_t lastHeight = 0;
    size_t lastBatchSize = 0;
};

void ReportFrames(benchmark::State& state, size_t bytesPerFrame) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytesPerFrame));
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const Frame& frame = Frames()[0];
    std::vector<uint8_t> target(frame.Bytes());
    for (auto _ : state) {
        uint8_t* out = target.data();
        for (const auto& payload : frame.payloads) {
            std::memcpy(out, payload.data(), payload.size());
            out += payload.size();
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    ReportFrames(state, frame.Bytes());
}

// The live path: each iteration feeds one whole frame; its first line publishes the
// frame fed in the iteration before.
void BM_ProcessAndPublish(benchmark::State& state) {
    const auto& frames = Frames();
    auto dispatcher = std::make_shared<ObjectDispatcher>();
    CountingSubscriber subscriber;
    dispatcher->Subscribe<FrameData>(&subscriber);
    dispatcher->Subscribe<LineBatch>(&subscriber);
    PointCloudWorker worker(dispatcher);
    for (const auto& cloud : frames[1].clouds) worker.Process(*cloud);

    size_t next = 0;
    for (auto _ : state) {
        for (const auto& cloud : frames[next].clouds) worker.Process(*cloud);
        next ^= 1;
    }
    if (subscriber.frames != state.iterations() || subscriber.batches != state.iterations() ||
        subscriber.lastWidth != kPoints || subscriber.lastHeight != kLines || subscriber.lastBatchSize != kLines) {
        state.SkipWithError("the worker did not publish one whole frame per iteration");
    }
    dispatcher->Unsubscribe<FrameData>(&subscriber);
    dispatcher->Unsubscribe<LineBatch>(&subscriber);
    ReportFrames(state, frames[0].Bytes());
}

// The assembler's steps without the worker and the dispatcher: AddLine alone (one
// deserialising copy per line), then AddLine with BuildFrame and TakeFrame.
void BM_AddLines(benchmark::State& state) {
    const Frame& frame = Frames()[0];
    FrameAssembler assembler;
    for (auto _ : state) {
        for (const auto& payload : frame.payloads) assembler.AddLine(1, payload);
        assembler.EraseFrame(1);
    }
    ReportFrames(state, frame.Bytes());
}

void BM_AddLinesBuildTake(benchmark::State& state) {
    const Frame& frame = Frames()[0];
    FrameAssembler assembler;
    for (auto _ : state) {
        for (const auto& payload : frame.payloads) assembler.AddLine(1, payload);
        FrameData built = assembler.BuildFrame(1);
        benchmark::DoNotOptimize(built.xyz.data());
        FrameAssembler::Lines lines = assembler.TakeFrame(1);
        benchmark::DoNotOptimize(lines.data());
    }
    ReportFrames(state, frame.Bytes());
}

BENCHMARK(BM_MemcpyBaseline);
BENCHMARK(BM_ProcessAndPublish);
BENCHMARK(BM_AddLines);
BENCHMARK(BM_AddLinesBuildTake);

// Each case's CPU time per frame beside the memcpy, and against the frame period.
void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    const orbel::bench::CaseResult* baseline = runs.Find("BM_MemcpyBaseline");
    if (baseline == nullptr || baseline->cpuNs <= 0.0) return;
    const double baseNs = baseline->cpuNs;
    std::printf("\nframe of %u lines x %u points, type 0x%02X (%zu payload bytes)\n", kLines, kPoints, kPointType,
                Frames()[0].Bytes());
    std::printf("%-24s %14s %12s %14s %16s\n", "", "CPU us/frame", "frames/s", "x memcpy time",
                "% of 50 ms period");
    for (const char* name : {"BM_MemcpyBaseline", "BM_ProcessAndPublish", "BM_AddLines", "BM_AddLinesBuildTake"}) {
        const orbel::bench::CaseResult* result = runs.Find(name);
        if (result == nullptr) continue;
        const double ns = result->cpuNs;
        std::printf("%-24s %14.1f %12.0f %14.1f %16.3f\n", name + 3, ns / 1e3, 1e9 / ns, ns / baseNs,
                    100.0 * ns / kFramePeriod_ns);
    }
    if (const orbel::bench::CaseResult* live = runs.Find("BM_ProcessAndPublish")) {
        std::printf("goal: a frame assembled and published in under 2500 us (5%% of the period): %.1f us, %s\n",
                    live->cpuNs / 1e3, live->cpuNs < 0.05 * kFramePeriod_ns ? "met" : "MISSED");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    orbel::bench::RecordingReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
