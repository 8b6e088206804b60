// The colorizer on one core. Colorize of a 56 x 192-point frame and of a 1,000,000-point
// cloud against a 1920 x 1200 RGB8 image (focal length 1000 px, mild distortion, points
// in scan order over a field a little wider than the image), beside a baseline pass in
// the same run that reads x, y and z of every point and writes one colour per point
// through the same cloud interface. The frame is measured both on a plain cloud and on
// the SDK's merged frame cloud (the offline colorizer's input).
//
// The matcher: one cloud pushed and matched per iteration in a live-like stream (56
// lines per frame, one image per 50 ms frame, settings {250000, 25000, 560}), with an
// algorithm that does nothing so that queueing and matching alone are measured; Match
// alone against a full queue of 560 images; and as baseline a cloud handed through a
// mutex-guarded deque to a std::function, the least any colorizer must do.
//
// After the table: points per second, the ratio to the baseline and the goals
// (100 million points per second, and at least 0.3 x the baseline's rate).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <orbel/processing/Colorizer.h>

#include "common/RecordingReporter.h"
#include "dataTypes/Image.h"
#include "dataTypes/LazyPointCloud.h"
#include "processing/Colorizer.h"
#include "processing/Matcher.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

using orbel::sdk::RGB;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1200;

class PlainCloud final : public orbel::sdk::IColorizableData {
public:
    PlainCloud() = default;
    PlainCloud(std::vector<float> x, std::vector<float> y, std::vector<float> z, uint64_t time_us = 0)
        : x_(std::move(x)), y_(std::move(y)), z_(std::move(z)), time_us_(time_us) {}
    size_t GetPointCount() const override { return x_.size(); }
    const std::vector<float>& GetX() override { return x_; }
    const std::vector<float>& GetY() override { return y_; }
    const std::vector<float>& GetZ() override { return z_; }
    uint64_t GetTimestamp() const override { return time_us_; }
    uint64_t GetAlternateTimestamp() const override { return time_us_; }
    void SetColors(const std::vector<RGB>& colors) override { colors_ = colors; }
    const std::vector<RGB>& Colors() const { return colors_; }
    void SetTime(uint64_t time_us) { time_us_ = time_us; }

private:
    std::vector<float> x_, y_, z_;
    uint64_t time_us_ = 0;
    std::vector<RGB> colors_;
};

orbel::processing::AlignmentInformation BenchAlignment() {
    orbel::processing::AlignmentInformation a;
    a.translation = {20, -60, 35};
    a.k1 = -0.1f;
    a.k2 = 0.01f;
    a.fx = 1000;
    a.fy = 1000;
    a.cx = 960;
    a.cy = 600;
    return a;
}

// lines x columns points in scan order; depth 1 to 30 m.
PlainCloud ScanCloud(uint32_t lines, uint32_t columns) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> depth(1000.0f, 30000.0f);
    std::vector<float> x, y, z;
    x.reserve(size_t{lines} * columns);
    y.reserve(x.capacity());
    z.reserve(x.capacity());
    for (uint32_t l = 0; l < lines; ++l) {
        const float v = -0.7f + 1.4f * static_cast<float>(l) / static_cast<float>(lines);
        for (uint32_t c = 0; c < columns; ++c) {
            const float u = -1.05f + 2.1f * static_cast<float>(c) / static_cast<float>(columns);
            const float d = depth(random);
            x.push_back(d);
            y.push_back(-u * d);
            z.push_back(-v * d);
        }
    }
    return PlainCloud(std::move(x), std::move(y), std::move(z));
}

std::shared_ptr<orbel::data::Image> Image(uint32_t width, uint32_t height, uint64_t time_us = 0) {
    std::vector<uint8_t> pixels(size_t{3} * width * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    auto image = std::make_shared<orbel::data::Image>();
    orbel::sdk::ImageMetadata metadata;
    metadata.deviceTimestamp_us = time_us;
    metadata.width = width;
    metadata.height = height;
    metadata.format = orbel::sdk::PixelFormat::RGB8;
    image->SetMetadata(metadata);
    image->SetData(pixels.data(), pixels.size());
    return image;
}

void Points(benchmark::State& state, size_t points) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * points));
}

// The least a colouring pass does: read x, y, z of every point, write one colour each.
void ReadAndWrite(orbel::sdk::IColorizableData& cloud) {
    const auto& x = cloud.GetX();
    const auto& y = cloud.GetY();
    const auto& z = cloud.GetZ();
    std::vector<RGB> colors(cloud.GetPointCount());
    for (size_t i = 0; i < colors.size(); ++i) {
        colors[i] = {static_cast<uint8_t>(x[i]), static_cast<uint8_t>(y[i]), static_cast<uint8_t>(z[i])};
    }
    cloud.SetColors(colors);
}

void BM_ReadWriteBaseline(benchmark::State& state) {
    PlainCloud cloud = ScanCloud(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    for (auto _ : state) {
        ReadAndWrite(cloud);
        benchmark::DoNotOptimize(cloud.Colors().data());
    }
    Points(state, cloud.GetPointCount());
}

void BM_Colorize(benchmark::State& state) {
    PlainCloud cloud = ScanCloud(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    auto image = Image(kWidth, kHeight);
    auto algorithm = orbel::processing::ColorizerFactory::CreateColorizerAlgorithm();
    algorithm->Initialize(BenchAlignment());
    for (auto _ : state) {
        algorithm->Colorize(cloud, *image);
        benchmark::DoNotOptimize(cloud.Colors().data());
    }
    size_t inside = 0;
    for (const RGB& c : cloud.Colors()) inside += (c.r | c.g | c.b) != 0;
    state.counters["coloured"] = static_cast<double>(inside) / static_cast<double>(cloud.GetPointCount());
    Points(state, cloud.GetPointCount());
}

// The offline colorizer's input: one merged 10,752-point frame cloud of the SDK (type 0x60).
std::unique_ptr<orbel::data::LazyPointCloud> MergedFrameCloud() {
    PlainCloud scan = ScanCloud(56, 192);
    auto payload = orbel::testing::PointCloudPayloadBuilder()
                       .PointType(0x60)
                       .PointCount(static_cast<uint32_t>(scan.GetPointCount()))
                       .Points([&](uint32_t i) {
                           orbel::testing::PayloadPoint p;
                           p.x = scan.GetX()[i];
                           p.y = scan.GetY()[i];
                           p.z = scan.GetZ()[i];
                           return p;
                       })
                       .Build();
    auto cloud = std::make_unique<orbel::data::LazyPointCloud>();
    cloud->Deserialize(payload);
    return cloud;
}

void BM_ReadWriteBaselineFrameCloud(benchmark::State& state) {
    auto cloud = MergedFrameCloud();
    for (auto _ : state) {
        ReadAndWrite(*cloud);
        benchmark::ClobberMemory();
    }
    Points(state, cloud->GetPointCount());
}

void BM_ColorizeFrameCloud(benchmark::State& state) {
    auto cloud = MergedFrameCloud();
    auto image = Image(kWidth, kHeight);
    auto algorithm = orbel::processing::ColorizerFactory::CreateColorizerAlgorithm();
    algorithm->Initialize(BenchAlignment());
    for (auto _ : state) {
        algorithm->Colorize(*cloud, *image);
        benchmark::ClobberMemory();
    }
    Points(state, cloud->GetPointCount());
}

BENCHMARK(BM_ReadWriteBaseline)->Args({56, 192})->Args({1000, 1000})->ArgNames({"lines", "columns"});
BENCHMARK(BM_Colorize)->Args({56, 192})->Args({1000, 1000})->ArgNames({"lines", "columns"});
BENCHMARK(BM_ReadWriteBaselineFrameCloud);
BENCHMARK(BM_ColorizeFrameCloud);

// ---- matching ----

class NoColouring final : public orbel::processing::IColorizerAlgorithm {
public:
    void Initialize(const orbel::processing::AlignmentInformation&) override {}
    void Colorize(orbel::sdk::IColorizableData&, const orbel::sdk::IImage&) override {}
};

constexpr uint64_t kFrame_us = 50'000;
constexpr uint64_t kLinesPerFrame = 56;

void BM_HandOverBaseline(benchmark::State& state) {
    std::mutex mutex;
    std::deque<std::shared_ptr<orbel::sdk::IColorizableData>> queue;
    size_t reported = 0;
    std::function<void(std::shared_ptr<orbel::sdk::IColorizableData>, bool)> callback =
        [&](std::shared_ptr<orbel::sdk::IColorizableData>, bool coloured) { reported += coloured; };
    auto cloud = std::make_shared<PlainCloud>();
    for (auto _ : state) {
        std::lock_guard lock(mutex);
        queue.push_back(cloud);
        auto front = std::move(queue.front());
        queue.pop_front();
        callback(std::move(front), true);
    }
    benchmark::DoNotOptimize(reported);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// One frame per iteration: its image (at the frame's start), then its 56 line clouds
// spread over the frame. A line is matched once an image 25 ms newer than it has come,
// so the queues stay short, as live. Clouds and images come from small rings whose
// time stamps are moved on as they are reused (none is still queued by then).
void BM_PushAndMatchPerCloud(benchmark::State& state) {
    orbel::processing::Colorizer colorizer(std::make_unique<orbel::processing::Matcher>(250000, 25000),
                                           std::make_unique<NoColouring>(), 560);
    size_t coloured = 0;
    size_t uncoloured = 0;
    colorizer.SetCallback([&](std::shared_ptr<orbel::sdk::IColorizableData>, bool c) { (c ? coloured : uncoloured)++; });
    constexpr size_t kRingFrames = 8;
    std::vector<std::shared_ptr<PlainCloud>> clouds;
    std::vector<std::shared_ptr<orbel::data::Image>> images;
    for (size_t i = 0; i < kRingFrames * kLinesPerFrame; ++i) clouds.push_back(std::make_shared<PlainCloud>());
    for (size_t i = 0; i < kRingFrames; ++i) images.push_back(Image(1, 1));
    uint64_t frame = 0;
    for (auto _ : state) {
        const uint64_t start_us = 1'000'000 + frame * kFrame_us;
        auto& image = images[frame % kRingFrames];
        orbel::sdk::ImageMetadata metadata = image->GetMetadata();
        metadata.deviceTimestamp_us = start_us;
        image->SetMetadata(metadata);
        colorizer.PushImage(image);
        for (uint64_t l = 0; l < kLinesPerFrame; ++l) {
            auto& cloud = clouds[(frame % kRingFrames) * kLinesPerFrame + l];
            cloud->SetTime(start_us + l * (kFrame_us / kLinesPerFrame));
            colorizer.PushPointCloud(cloud);
        }
        ++frame;
    }
    state.counters["coloured"] =
        static_cast<double>(coloured) / static_cast<double>(std::max<size_t>(1, coloured + uncoloured));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLinesPerFrame));
}

void BM_MatchAgainstFullQueue(benchmark::State& state) {
    orbel::processing::Matcher matcher(250000, 25000);
    orbel::processing::ImageQueue images;
    for (uint64_t i = 0; i < 560; ++i) images.push_back(Image(1, 1, 1'000'000 + i * kFrame_us));
    std::vector<PlainCloud> clouds;
    for (uint64_t i = 0; i < 1024; ++i) clouds.emplace_back(std::vector<float>{}, std::vector<float>{},
                                                            std::vector<float>{}, 1'000'000 + i * 27'341);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.Match(clouds[i++ & 1023], images, orbel::processing::MatchMode::Normal, true));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_HandOverBaseline);
BENCHMARK(BM_PushAndMatchPerCloud);
BENCHMARK(BM_MatchAgainstFullQueue);

// Items per second of the case, 0 when it did not run.
double Rate(const orbel::bench::RecordingReporter& runs, const std::string& name) {
    const orbel::bench::CaseResult* result = runs.Find(name);
    return result == nullptr ? 0.0 : result->Counter("items_per_second");
}

void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    std::printf("\nColorize on one core (CPU time), 1920 x 1200 RGB8 image\n");
    std::printf("%-22s %16s %16s %12s\n", "cloud", "Mpoints/s", "baseline Mpt/s", "x baseline");
    const struct {
        const char* label;
        const char* colorize;
        const char* baseline;
    } rows[] = {
        {"56 x 192 plain", "BM_Colorize/lines:56/columns:192", "BM_ReadWriteBaseline/lines:56/columns:192"},
        {"1,000,000 plain", "BM_Colorize/lines:1000/columns:1000", "BM_ReadWriteBaseline/lines:1000/columns:1000"},
        {"56 x 192 frame cloud", "BM_ColorizeFrameCloud", "BM_ReadWriteBaselineFrameCloud"},
    };
    bool met = true;
    for (const auto& row : rows) {
        const double colorize = Rate(runs, row.colorize);
        const double baseline = Rate(runs, row.baseline);
        if (colorize <= 0 || baseline <= 0) continue;
        const double ratio = colorize / baseline;
        std::printf("%-22s %16.1f %16.1f %12.2f\n", row.label, colorize / 1e6, baseline / 1e6, ratio);
        met = met && colorize >= 100e6 && ratio >= 0.3;
    }
    std::printf("goal: at least 100 Mpoints/s and 0.3 x the baseline: %s\n", met ? "met" : "MISSED");

    std::printf("\nmatching, CPU ns per cloud\n");
    for (const char* name : {"BM_HandOverBaseline", "BM_PushAndMatchPerCloud", "BM_MatchAgainstFullQueue"}) {
        const double rate = Rate(runs, name);
        if (rate > 0) std::printf("%-26s %10.1f\n", name + 3, 1e9 / rate);
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
