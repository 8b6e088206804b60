// bench_camera_stream: the camera path live, at the camera's 1920 x 1200 and 25
// frames per second, against Aravis's fake GigE Vision camera on loopback.
//
// A Camera (the SDK's, through the vendor layer) streams for --seconds (30) in
// BayerRG8 with RGB8 output, as the program asks; then, for --rg12-seconds (10;
// 0 skips), in BayerRG12 with RGB12 output (the fake camera sends BayerRG12 at
// full size but with zero pixels, so that run measures transport and
// conversion, not image content). For each run:
// - delivered: images that reached the callback; dropped: frames the camera
//   sent in that span (by frame id, which wraps at 16 bits) that never did,
//   whatever the reason;
// - arrival to callback: the image's host time stamp, taken when the library
//   hands the buffer to the camera, to the callback (system clock), p50 / p99;
// - camera stamp to callback: the fake camera's own frame time (it stamps with
//   this host's clock) to the callback, which adds the transfer over loopback;
// - process CPU per delivered image (user + system, all threads: the library's
//   receive thread, acquisition, conversion, delivery).
// Baseline in the same run, on a thread of its own like the acquisition
// thread: the per-image conversion work (vendor Convert, then the copy into the
// SDK image) against a memcpy of the output image, CPU time per image.
//
// Run it inside a private network namespace (scripts/bench does).
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <orbel/sdk/Logging.h>

#include "camera/Camera.h"
#include "camera/vendor/Image.h"
#include "camera/vendor/Pfnc.h"
#include "dataTypes/Image.h"
#include "support/FakeCamera.h"

namespace {

using orbel::sdk::PixelFormat;
namespace pfnc = orbel::camera::vendor::pfnc;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1200;
constexpr double kFramesPerSecond = 25.0;
constexpr int64_t kGoalP99_us = 20'000;

int64_t SystemMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int64_t Percentile(std::vector<int64_t> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5));
    return values[index];
}

struct Arrival {
    uint32_t frameId;
    int64_t arrivalToCallback_us;
    int64_t stampToCallback_us;
    size_t bytes;
};

struct RunResult {
    std::string name;
    double seconds = 0;
    uint64_t delivered = 0;
    uint64_t sent = 0;  // frame ids from the first to the last delivered
    uint64_t wrongSize = 0;
    std::vector<int64_t> arrival;
    std::vector<int64_t> stamp;
    double cpuPerImage_ms = 0;
};

RunResult Stream(const orbel::testing::FakeCamera& fake, const char* cameraFormat, PixelFormat output,
                 size_t bytesPerPixel, double seconds) {
    fake.Configure("Width=" + std::to_string(kWidth) + " Height=" + std::to_string(kHeight) +
                   " AcquisitionFrameRate=" + std::to_string(kFramesPerSecond) + " PixelFormat=" + cameraFormat);
    std::mutex mutex;
    std::vector<Arrival> measured;
    std::vector<Arrival> arrivals;
    arrivals.reserve(static_cast<size_t>(seconds * kFramesPerSecond * 2));
    std::atomic<uint64_t> errors{0};

    RunResult result;
    result.name = std::string(cameraFormat) + " -> " + (output == PixelFormat::RGB8 ? "RGB8" : "RGB12");
    double cpu = 0;
    {
        orbel::camera::Camera camera(fake.Address(), 10);
        camera.Initialize("127.0.0.1");
        camera.SetImageCallback([&](std::unique_ptr<orbel::sdk::IImage> image) {
            const int64_t now = SystemMicros();
            const auto& m = image->GetMetadata();
            Arrival a{m.frameId, now - static_cast<int64_t>(m.hostTimestamp_us),
                      now - (static_cast<int64_t>(m.deviceTimestamp_us) + 37'000'000), image->GetData().size()};
            std::lock_guard lock(mutex);
            arrivals.push_back(a);
        });
        camera.SetErrorCallback([&](const orbel::sdk::Exception& e) {
            if (errors++ == 0) std::fprintf(stderr, "camera error: %s\n", e.what());
        });
        camera.SetImageOutputFormat(output);
        // A warm-up second first: the first images only show the start.
        camera.Start(std::chrono::milliseconds(5000));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        size_t skip = 0;
        {
            std::lock_guard lock(mutex);
            skip = arrivals.size();
        }
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        {
            // Only what arrived within the measured span counts.
            std::lock_guard lock(mutex);
            measured.assign(arrivals.begin() + static_cast<ptrdiff_t>(skip), arrivals.end());
            cpu = ProcessCpuSeconds() - cpuStart;
            result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        camera.Stop(std::chrono::milliseconds(5000));
    }
    if (errors > 0) std::fprintf(stderr, "%llu camera errors\n", static_cast<unsigned long long>(errors.load()));
    result.delivered = measured.size();
    if (!measured.empty()) result.sent = 1;
    for (size_t i = 1; i < measured.size(); ++i) {
        result.sent += orbel::testing::FakeCamera::FramesBetween(measured[i - 1].frameId, measured[i].frameId);
    }
    for (const Arrival& a : measured) {
        result.arrival.push_back(a.arrivalToCallback_us);
        result.stamp.push_back(a.stampToCallback_us);
        result.wrongSize += a.bytes != size_t{kWidth} * kHeight * bytesPerPixel;
    }
    result.cpuPerImage_ms = result.delivered ? cpu * 1000.0 / static_cast<double>(result.delivered) : 0;
    return result;
}

// The camera's per-image work on its acquisition thread, against a memcpy of
// the output image; CPU time on this thread, milliseconds per image.
struct ConversionCost {
    double convert_ms;  // Convert and the copy into the SDK image together
    double demosaic_ms;  // of that, Convert alone
    double memcpy_ms;
};

ConversionCost MeasureConversionHere(uint64_t sourceCode, uint64_t targetCode, int rounds) {
    const size_t pixels = size_t{kWidth} * kHeight;
    std::vector<uint8_t> source(*pfnc::PixelBytes(sourceCode, kWidth, kHeight));
    std::mt19937 random(7);
    for (auto& b : source) b = static_cast<uint8_t>(random());
    if (sourceCode == pfnc::BayerRG12) {
        for (size_t i = 1; i < source.size(); i += 2) source[i] &= 0x0F;
    }
    const size_t outputBytes = pixels * (targetCode == pfnc::RGB8 ? 3 : 6);
    std::vector<uint8_t> copySource(outputBytes, 0x5A);
    std::vector<uint8_t> copyTarget(outputBytes);
    orbel::camera::vendor::ImageHandle wrapped(
        orbel::camera::vendor::ImageFactory::Create(source.data(), source.size(), kWidth, kHeight, sourceCode));
    double convert = 0;
    double demosaic = 0;
    double copy = 0;
    for (int i = 0; i < rounds; ++i) {
        const double t0 = ThreadCpuSeconds();
        {
            orbel::camera::vendor::ImageHandle converted(
                orbel::camera::vendor::ImageFactory::Convert(wrapped.get(), targetCode, 0));
            demosaic += ThreadCpuSeconds() - t0;
            orbel::data::Image image;
            image.SetData(converted->GetData(), converted->GetSizeFilled());
        }
        const double t1 = ThreadCpuSeconds();
        std::memcpy(copyTarget.data(), copySource.data(), outputBytes);
        const double t2 = ThreadCpuSeconds();
        convert += t1 - t0;
        copy += t2 - t1;
        copySource[static_cast<size_t>(i) % outputBytes] ^= copyTarget[0];  // keep the copy observable
    }
    return {convert * 1000.0 / rounds, demosaic * 1000.0 / rounds, copy * 1000.0 / rounds};
}

// On a thread of its own, as the camera's acquisition thread (its allocations
// come from that thread's own malloc arena, as there).
ConversionCost MeasureConversion(uint64_t sourceCode, uint64_t targetCode, int rounds) {
    ConversionCost cost{};
    std::thread([&] { cost = MeasureConversionHere(sourceCode, targetCode, rounds); }).join();
    return cost;
}

struct Options {
    double seconds = 30;
    double rg12Seconds = 10;
};

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            o.seconds = std::stod(argv[++i]);
        } else if (arg == "--rg12-seconds" && i + 1 < argc) {
            o.rg12Seconds = std::stod(argv[++i]);
        } else {
            throw std::invalid_argument("usage: bench_camera_stream [--seconds S (30)] [--rg12-seconds S (10, 0 skips)]");
        }
    }
    if (!(o.seconds > 0) || !(o.rg12Seconds >= 0)) throw std::invalid_argument("durations must be positive");
    return o;
}

void Print(const RunResult& r, const ConversionCost& cost) {
    auto ms = [](int64_t us) { return static_cast<double>(us) / 1000.0; };
    const uint64_t dropped = r.sent > r.delivered ? r.sent - r.delivered : 0;
    std::printf("%-22s %6.1f %6llu %9llu %7llu %8.3f %8.3f %8.3f %8.3f %8.3f %10.3f %10.3f %9.3f %9.3f %7.2f\n",
                r.name.c_str(), r.seconds, static_cast<unsigned long long>(r.sent),
                static_cast<unsigned long long>(r.delivered), static_cast<unsigned long long>(dropped),
                ms(Percentile(r.arrival, 50)), ms(Percentile(r.arrival, 99)),
                ms(r.arrival.empty() ? 0 : *std::max_element(r.arrival.begin(), r.arrival.end())),
                ms(Percentile(r.stamp, 50)), ms(Percentile(r.stamp, 99)), r.cpuPerImage_ms, cost.convert_ms,
                cost.demosaic_ms, cost.memcpy_ms, cost.convert_ms / std::max(cost.memcpy_ms, 1e-9));
    if (r.wrongSize) std::printf("    %llu images of the wrong size\n", static_cast<unsigned long long>(r.wrongSize));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = Parse(argc, argv);
        if (auto reason = orbel::testing::FakeCamera::Unavailable()) throw std::runtime_error(*reason);
        orbel::sdk::SetLogSeverity(orbel::sdk::Severity::ERROR);
        orbel::testing::FakeCamera fake;
        if (!fake.Ready()) throw std::runtime_error("no fake camera: " + fake.Reason());

        std::vector<std::pair<RunResult, ConversionCost>> rows;
        rows.emplace_back(Stream(fake, "BayerRG8", PixelFormat::RGB8, 3, options.seconds),
                          MeasureConversion(pfnc::BayerRG8, pfnc::RGB8, 40));
        if (options.rg12Seconds > 0) {
            rows.emplace_back(Stream(fake, "BayerRG12", PixelFormat::RGB12, 6, options.rg12Seconds),
                              MeasureConversion(pfnc::BayerRG12, pfnc::RGB12, 20));
        }

        std::printf("\n%u x %u at %.0f frames/s from the fake camera on loopback; times in ms\n", kWidth, kHeight,
                    kFramesPerSecond);
        std::printf("%-22s %6s %6s %9s %7s %8s %8s %8s %8s %8s %10s %10s %9s %9s %7s\n", "", "s", "sent", "delivered",
                    "dropped", "arr p50", "arr p99", "arr max", "cam p50", "cam p99", "cpu/image", "convert",
                    "(Convert)", "memcpy", "ratio");
        for (const auto& [r, cost] : rows) Print(r, cost);
        const RunResult& main = rows.front().first;
        const int64_t p99 = Percentile(main.arrival, 99);
        std::printf("goal: no image dropped (%llu of %llu): %s\n", static_cast<unsigned long long>(main.delivered),
                    static_cast<unsigned long long>(main.sent),
                    main.delivered == main.sent && main.delivered > 0 ? "met" : "MISSED");
        std::printf("goal: arrival to callback p99 below %.0f ms: %.3f ms, %s\n", kGoalP99_us / 1000.0, p99 / 1000.0,
                    main.delivered > 0 && p99 < kGoalP99_us ? "met" : "MISSED");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_camera_stream: %s\n", e.what());
        return 1;
    }
}
