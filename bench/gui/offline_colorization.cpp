// Offline colorization of a 1,000-frame session (56 lines x 192 points a frame, one
// 1920 x 1200 JPEG camera image a frame, 20 frames per second), in time-stamp mode and
// with a sync file: frames per second and the peak resident memory the run added. The
// baseline, measured in the same run, is the least such a run must do: read every frame
// file and decode every image once, nothing else. The images are one JPEG linked under
// every name (decoding is real; the disk holds it once).
//
// After the table: frames/s, the time against the baseline, the peak memory against
// what the decoded images alone would take, and the goal (faster than 20 frames/s). The
// baseline also reports its reading and decoding times apart (read_ms, decode_ms).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <orbel/sdk/IImage.h>

#include "app/Logging.h"
#include "common/RecordingReporter.h"
#include "sessions/ColorizerSDK.h"
#include "sessions/OfflinePlayer.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFrames = 1000;
constexpr uint32_t kPoints = 192;
constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1200;
constexpr uint64_t kStart_us = 1'700'000'000'000'000ull;
constexpr uint64_t kPeriod_us = 50'000;

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}
// Hands freed memory back first, so that what an earlier run left in the heap does not hide
// what the next one needs.
void ResetPeakResident() {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Session {
    fs::path root;
    fs::path clouds;
    fs::path images;
    fs::path qext;
    fs::path sync;

    Session() {
        root = fs::temp_directory_path() / ("orbel-bench-colorize-" + std::to_string(::getpid()));
        clouds = root / "frames_qpc";
        images = root / "frames_rgb";
        qext = root / "camera.qext";
        sync = root / "sync.txt";
        fs::create_directories(clouds);
        fs::create_directories(images);
        const float alignment[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 20, -60, 35, -0.1f, 0.01f, 1000, 1000, 960, 600};
        std::ofstream(qext, std::ios::binary).write(reinterpret_cast<const char*>(alignment), sizeof alignment);

        std::string syncText = "cloud image\n";
        for (uint32_t f = 0; f < kFrames; ++f) {
            std::vector<uint8_t> file;
            for (uint32_t l = 0; l < 56; ++l) {
                const auto line = orbel::testing::PointCloudPayloadBuilder()
                                      .PointType(0x60)
                                      .PointCount(kPoints)
                                      .FrameNumber(f)
                                      .LineIndex(static_cast<uint8_t>(l))
                                      .Timestamp(kStart_us + f * kPeriod_us + l * (kPeriod_us / 56))
                                      .Points([l](uint32_t p) {
                                          orbel::testing::PayloadPoint point;
                                          const float u = -1.0f + 2.0f * static_cast<float>(p) / kPoints;
                                          const float v = -0.6f + 1.2f * static_cast<float>(l) / 56;
                                          point.x = 5000.0f;
                                          point.y = -u * 5000.0f;
                                          point.z = -v * 5000.0f;
                                          return point;
                                      })
                                      .Build();
                file.insert(file.end(), line.begin(), line.end());
            }
            char name[32];
            std::snprintf(name, sizeof name, "frame_%08u.qpc", f);
            std::ofstream(clouds / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
            syncText += std::to_string(f) + " " + std::to_string(f) + "\n";
        }
        std::ofstream(sync) << syncText;

        // A camera-like picture: smooth shading with fine texture, quality 90.
        std::vector<uint8_t> bytes(64 + size_t{3} * kWidth * kHeight, 0);
        bytes[0] = 1;
        for (int k = 0; k < 4; ++k) {
            bytes[21 + k] = static_cast<uint8_t>(kWidth >> (8 * k));
            bytes[25 + k] = static_cast<uint8_t>(kHeight >> (8 * k));
        }
        bytes[29] = static_cast<uint8_t>(orbel::sdk::PixelFormat::RGB8);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                uint8_t* p = bytes.data() + 64 + 3 * (size_t{y} * kWidth + x);
                p[0] = static_cast<uint8_t>(x / 8 + ((x * y) & 7));
                p[1] = static_cast<uint8_t>(y / 5 + ((x ^ y) & 7));
                p[2] = static_cast<uint8_t>((x + y) / 12);
            }
        }
        auto image = orbel::sdk::CreateImage();
        image->Deserialize(bytes);
        const fs::path sample = root / "sample.jpg";
        image->SaveAsJpeg(sample, 90, true);
        for (uint32_t f = 0; f < kFrames; ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "image_%08u_%020llu.jpg", f,
                          static_cast<unsigned long long>(kStart_us + f * kPeriod_us + 7'000));
            fs::create_hard_link(sample, images / name);
        }
    }
    ~Session() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Session& TheSession() {
    static Session session;
    return session;
}

void Report(benchmark::State& state, long peakGrowth_KiB) {
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(kFrames) * state.iterations(),
                                                        benchmark::Counter::kIsRate);
    state.counters["peak_MiB"] = static_cast<double>(peakGrowth_KiB) / 1024.0;
}

void BM_ReadAndDecodeBaseline(benchmark::State& state) {
    Session& session = TheSession();
    long peak = 0;
    for (auto _ : state) {
        ResetPeakResident();
        const long before = PeakResidentKiB();
        std::vector<char> bytes;
        const auto readStart = std::chrono::steady_clock::now();
        for (const auto& entry : fs::directory_iterator(session.clouds)) {
            bytes.resize(static_cast<size_t>(entry.file_size()));
            std::ifstream(entry.path(), std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            benchmark::DoNotOptimize(bytes.data());
        }
        const auto decodeStart = std::chrono::steady_clock::now();
        // The previous image is let go only after the next is decoded, as a run holds a few:
        // the heap then reuses image-sized blocks instead of returning and refaulting them.
        std::shared_ptr<orbel::studio::CameraData> previous;
        for (const auto& entry : fs::directory_iterator(session.images)) {
            auto image = orbel::studio::LoadCameraImage(entry.path());
            benchmark::DoNotOptimize(image.get());
            previous = std::move(image);
        }
        const auto end = std::chrono::steady_clock::now();
        state.counters["read_ms"] = std::chrono::duration<double, std::milli>(decodeStart - readStart).count();
        state.counters["decode_ms"] = std::chrono::duration<double, std::milli>(end - decodeStart).count();
        peak = PeakResidentKiB() - before;
    }
    Report(state, peak);
}

void RunColorization(benchmark::State& state, bool withSync) {
    Session& session = TheSession();
    long peak = 0;
    for (auto _ : state) {
        const fs::path output = session.root / "out";
        fs::remove_all(output);
        ResetPeakResident();
        const long before = PeakResidentKiB();
        orbel::studio::ColorizerSDK colorizer;
        const auto outcome =
            colorizer.Colorize(session.clouds, session.images, session.qext, withSync ? session.sync : fs::path(),
                               output, nullptr);
        peak = PeakResidentKiB() - before;
        if (outcome != orbel::studio::ColorizeOutcome::Completed) state.SkipWithError("the run did not complete");
    }
    Report(state, peak);
}

void BM_ColorizeByTimestamps(benchmark::State& state) { RunColorization(state, false); }
void BM_ColorizeWithSyncFile(benchmark::State& state) { RunColorization(state, true); }

BENCHMARK(BM_ReadAndDecodeBaseline)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorizeByTimestamps)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorizeWithSyncFile)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void PrintSummary(const orbel::bench::RecordingReporter& runs) {
    const orbel::bench::CaseResult* base = runs.Find("BM_ReadAndDecodeBaseline/iterations:1/real_time");
    const double decodedAll_MiB = static_cast<double>(kFrames) * kWidth * kHeight * 3 / (1024.0 * 1024.0);
    std::printf("\n%u frames of 56 x 192 points, one %u x %u JPEG a frame\n", kFrames, kWidth, kHeight);
    std::printf("%-28s %10s %14s %12s\n", "", "frames/s", "x baseline", "peak MiB");
    for (const orbel::bench::CaseResult& result : runs.Results()) {
        const double framesPerSecond = result.Counter("frames_per_s");
        const double ratio = base != nullptr ? base->Counter("frames_per_s") / framesPerSecond : 0.0;
        std::printf("%-28s %10.1f %14.2f %12.1f\n", result.name.substr(3, result.name.find('/') - 3).c_str(),
                    framesPerSecond, ratio, result.Counter("peak_MiB"));
    }
    std::printf("decoding every image at once would take %.0f MiB\n", decodedAll_MiB);
    bool met = true;
    for (const char* name : {"BM_ColorizeByTimestamps/iterations:1/real_time",
                             "BM_ColorizeWithSyncFile/iterations:1/real_time"}) {
        const orbel::bench::CaseResult* result = runs.Find(name);
        met = met && result != nullptr && result->Counter("frames_per_s") > 20.0;
    }
    std::printf("goal: faster than 20 frames/s in both modes: %s\n", met ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The session is written before any run and flushed to disk, so that no run pays for
    // the write-back of the files it reads.
    TheSession();
    ::sync();
    orbel::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
