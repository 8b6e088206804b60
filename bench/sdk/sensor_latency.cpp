// bench_sensor_latency: the delay from the sensor emulator's send to the SDK's
// point-cloud callback at the sensor's own pace (20 frames per second, 56 lines of 192
// points, type 0x6F), and whether any line is lost on the way.
//
// The emulator stamps each streamed line with the steady-clock time (microseconds) at
// which it handed the line to its socket path, in payload bytes 43..50; the callback
// reads it back through IPointCloud::GetMetadata().reserved43 and takes now - sent. The
// sensor is built with SensorFactory on 127.0.0.1 and started, left streaming for the
// run, then stopped; delivered clouds are compared with the emulator's StreamedMessages
// and with the SDK's own totals from its log ("Received N point clouds in total.",
// "Reported M point clouds to the customer.").
//
// Baseline in the same run: a plain sender paces the same frames at the same rate into a
// plain reader that recv()s into a 64 KiB buffer, both on POSIX sockets with the
// emulator's TCP_NODELAY; the latency is taken when a frame's last byte has arrived.
//
// Options: --seconds S (streaming time, default 30), --baseline-seconds S (default: as
// --seconds; 0 skips the baseline). Run it inside a private network namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <orbel/emulator/PointCloudGenerator.h>
#include <orbel/emulator/SensorEmulator.h>
#include <orbel/emulator/WireFrame.h>
#include <orbel/sdk/Orbel.h>

#include "LoopbackSockets.h"
#include "SdkTotals.h"

namespace {

using orbel::bench::Connect;
using orbel::bench::Listen;
using orbel::bench::SdkTotals;
using orbel::bench::Socket;


using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kPointsPerLine = 192;
constexpr double kFramesPerSecond = 20.0;
constexpr int64_t kGoalP99_us = 2000;

int64_t SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// Latencies in microseconds, added from one thread at a time and read once it is done.
class Latencies {
public:
    explicit Latencies(size_t expected) { values_.reserve(expected); }

    void Add(int64_t us) {
        std::lock_guard lock(mutex_);
        values_.push_back(us);
    }
    std::vector<int64_t> Sorted() {
        std::lock_guard lock(mutex_);
        std::vector<int64_t> sorted = values_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

private:
    std::mutex mutex_;
    std::vector<int64_t> values_;
};

// Nearest-rank percentile of sorted values.
int64_t Percentile(const std::vector<int64_t>& sorted, double q) {
    if (sorted.empty()) return 0;
    const size_t rank = static_cast<size_t>(q / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

struct Result {
    std::string name;
    double seconds = 0;
    uint64_t sent = 0;
    uint64_t delivered = 0;
    std::vector<int64_t> latencies;  // sorted
    std::optional<SdkTotals::Totals> sdkTotals;
    std::string note;
};

// ---- the SDK's own totals, read from its log ----


size_t ExpectedLines(double seconds) {
    return static_cast<size_t>((seconds + 5.0) * kFramesPerSecond * orbel::emulator::kLinesPerFrame * 1.2);
}

Result RunSdk(double seconds, SdkTotals& totals) {
    orbel::emulator::SensorEmulator emulator;  // 192 points a line, 20 fps, 0x6F
    Latencies latencies(ExpectedLines(seconds));
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> errors{0};
    std::mutex errorMutex;
    std::string lastError;

    // The factory keeps the link and the handler list it built, so the data handler (and
    // its totals) goes only when both the sensor and the factory have.
    auto factory = std::make_unique<orbel::sdk::SensorFactory>();
    factory->SetPointCloudCallback([&](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        const int64_t now = SteadyMicros();
        latencies.Add(now - static_cast<int64_t>(cloud->GetMetadata().reserved43));
        delivered.fetch_add(1, std::memory_order_relaxed);
    });
    factory->SetErrorCallback([&](const orbel::sdk::Exception& e) {
        errors.fetch_add(1);
        std::lock_guard lock(errorMutex);
        lastError = e.what();
    });

    std::shared_ptr<orbel::sdk::ISensor> sensor = factory->Build("127.0.0.1", emulator.Port());
    const Clock::time_point start = Clock::now();
    sensor->Start(5000ms);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Result result;
    try {
        sensor->Stop(5000ms);
    } catch (const orbel::sdk::Exception& e) {
        result.note = std::string("Stop: ") + e.what();
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Every line streamed before the stop answer is in the SDK by now; wait for the
    // customer thread to hand the last of them over.
    const uint64_t streamed = emulator.StreamedMessages();
    for (const auto end = Clock::now() + 5s; delivered.load() < streamed && Clock::now() < end;) {
        std::this_thread::sleep_for(10ms);
    }
    sensor.reset();
    factory.reset();
    result.sdkTotals = totals.Wait(5s);
    emulator.Stop();

    result.name = "SDK, emulator -> callback";
    result.sent = emulator.StreamedMessages();
    result.delivered = delivered.load();
    result.latencies = latencies.Sorted();
    if (errors.load() != 0) {
        std::lock_guard lock(errorMutex);
        result.note += (result.note.empty() ? "" : "; ") + std::to_string(errors.load()) +
                       " error(s), last: " + lastError;
    }
    return result;
}

// ---- raw loopback baseline on plain POSIX sockets ----


Result RunRawBaseline(double seconds) {
    const orbel::emulator::PointCloudGenerator generator(kPointsPerLine, orbel::emulator::PointType::Extended);
    orbel::emulator::LineStamp stamp;
    std::vector<uint8_t> frame =
        orbel::emulator::EncodeFrame(orbel::emulator::ids::kPointCloud, 0, generator.MakeLine(stamp));
    constexpr size_t kStampAt = orbel::emulator::kPayloadOffset + orbel::emulator::payload::kSendTimeOffset;

    uint16_t port = 0;
    Socket listener = Listen(port);
    Socket sender = Connect(port);
    const int on = 1;
    ::setsockopt(sender.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Socket receiver(::accept(listener.Get(), nullptr, nullptr));

    Latencies latencies(ExpectedLines(seconds));
    std::thread reader([&] {
        std::vector<uint8_t> buffer(64 * 1024);
        std::vector<uint8_t> current(frame.size());
        size_t filled = 0;
        for (;;) {
            const ssize_t got = ::recv(receiver.Get(), buffer.data(), buffer.size(), 0);
            if (got <= 0) return;
            for (size_t at = 0; at < static_cast<size_t>(got);) {
                const size_t take = std::min(current.size() - filled, static_cast<size_t>(got) - at);
                std::memcpy(current.data() + filled, buffer.data() + at, take);
                filled += take;
                at += take;
                if (filled == current.size()) {
                    int64_t sent = 0;
                    std::memcpy(&sent, current.data() + kStampAt, sizeof sent);
                    latencies.Add(SteadyMicros() - sent);
                    filled = 0;
                }
            }
        }
    });

    const auto period = std::chrono::duration<double>(1.0 / (kFramesPerSecond * orbel::emulator::kLinesPerFrame));
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    uint64_t sent = 0;
    for (;; ++sent) {
        const Clock::time_point due = start + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(sent));
        if (due >= end) break;
        std::this_thread::sleep_until(due);
        const int64_t now = SteadyMicros();
        std::memcpy(frame.data() + kStampAt, &now, sizeof now);  // little-endian host, as the emulator writes it
        for (size_t done = 0; done < frame.size();) {
            const ssize_t n = ::send(sender.Get(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
    }
    ::shutdown(sender.Get(), SHUT_WR);
    reader.join();

    Result result;
    result.name = "raw loopback, plain sender -> reader";
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.sent = sent;
    result.latencies = latencies.Sorted();
    result.delivered = result.latencies.size();
    return result;
}

// ---- command line and report ----

struct Options {
    double seconds = 30.0;
    std::optional<double> baselineSeconds;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            options.seconds = std::stod(argv[++i]);
            if (!(options.seconds > 0)) throw std::invalid_argument("--seconds must be positive");
        } else if (arg == "--baseline-seconds" && hasValue) {
            options.baselineSeconds = std::stod(argv[++i]);
            if (!(*options.baselineSeconds >= 0)) throw std::invalid_argument("--baseline-seconds must not be negative");
        } else {
            throw std::invalid_argument("usage: bench_sensor_latency [--seconds S (30)] [--baseline-seconds S (as --seconds, 0 skips)]");
        }
    }
    return options;
}

void PrintResult(const Result& r) {
    const auto& l = r.latencies;
    const uint64_t dropped = r.sent > r.delivered ? r.sent - r.delivered : 0;
    auto ms = [](int64_t us) { return static_cast<double>(us) / 1000.0; };
    std::printf("%-38s %7.1f %9llu %9llu %8llu %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f\n", r.name.c_str(), r.seconds,
                static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.delivered),
                static_cast<unsigned long long>(dropped), ms(l.empty() ? 0 : l.front()), ms(Percentile(l, 50)),
                ms(Percentile(l, 90)), ms(Percentile(l, 99)), ms(Percentile(l, 99.9)), ms(l.empty() ? 0 : l.back()));
    if (r.sdkTotals) {
        std::printf("    SDK totals: received %llu, reported %llu\n", static_cast<unsigned long long>(r.sdkTotals->received),
                    static_cast<unsigned long long>(r.sdkTotals->reported));
    }
    if (!r.note.empty()) std::printf("    note: %s\n", r.note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = ParseOptions(argc, argv);
        SdkTotals totals;
        totals.Install();
        std::vector<Result> results;
        results.push_back(RunSdk(options.seconds, totals));
        SdkTotals::Uninstall();
        const double baselineSeconds = options.baselineSeconds.value_or(options.seconds);
        if (baselineSeconds > 0) results.push_back(RunRawBaseline(baselineSeconds));

        std::printf("\n%u lines of %u points (type 0x6F) per frame at %.0f frames per second; latency = callback time - "
                    "send time, steady clock; ms\n",
                    orbel::emulator::kLinesPerFrame, kPointsPerLine, kFramesPerSecond);
        std::printf("%-38s %7s %9s %9s %8s %9s %9s %9s %9s %9s %9s\n", "", "s", "sent", "delivered", "dropped", "min",
                    "p50", "p90", "p99", "p99.9", "max");
        for (const Result& r : results) PrintResult(r);

        const Result& sdk = results.front();
        const bool complete = sdk.delivered == sdk.sent && !sdk.latencies.empty();
        const int64_t p99 = Percentile(sdk.latencies, 99);
        std::printf("goal: no cloud dropped (delivered %llu of %llu streamed): %s\n",
                    static_cast<unsigned long long>(sdk.delivered), static_cast<unsigned long long>(sdk.sent),
                    complete ? "met" : "MISSED");
        std::printf("goal: p99 below %.1f ms: %.3f ms, %s\n", kGoalP99_us / 1000.0, p99 / 1000.0,
                    complete && p99 < kGoalP99_us ? "met" : "MISSED");
        if (results.size() > 1 && Percentile(results.back().latencies, 99) > 0) {
            std::printf("p50 / p99 over the raw baseline's: %.2f / %.2f\n",
                        static_cast<double>(Percentile(sdk.latencies, 50)) /
                            static_cast<double>(std::max<int64_t>(1, Percentile(results.back().latencies, 50))),
                        static_cast<double>(p99) / static_cast<double>(Percentile(results.back().latencies, 99)));
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sensor_latency: %s\n", e.what());
        return 1;
    }
}
