// bench_sensor_throughput: how fast the SDK takes a flood of point-cloud lines off
// loopback and hands them to its caller, beside a raw loopback TCP transfer of the same
// bytes measured in the same run.
//
// SDK rows: the sensor emulator floods pre-built 0x6F lines (192 points, 13,545 wire
// bytes each) as fast as the socket takes them to a sensor built with SensorFactory on
// 127.0.0.1 and started; the sensor's own 20 fps stream runs alongside and is counted
// too. The callback either touches each cloud lightly (point count and metadata) or
// only counts it. Each row reports, over the measuring window: clouds delivered per
// second, MB/s of wire bytes that crossed the link, MB/s of the delivered clouds' wire
// bytes, and the ratio of the latter to the raw baseline; and over the whole run the
// SDK's own totals from its log ("Received N point clouds in total.", "Reported M
// point clouds to the customer."), whose difference is the clouds it dropped.
//
// Baselines: a plain sender writing the same frames in a loop into a plain reader that
// recv()s into a 64 KiB buffer and discards, and the emulator's flood into that plain
// reader, which shows what the emulator alone can send. Loopback figures swing from run
// to run with where the scheduler puts the threads, so every configuration runs in
// several interleaved rounds and the table shows the median round and the spread.
//
// Options: --seconds S (window per round, default 2), --rounds N (default 3), --rings
// A,B,... (point-cloud ring sizes to try, default 112,1024). Run it inside a private
// network namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
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
constexpr auto kWarmUp = 500ms;
constexpr double kGoalRatio = 0.25;

double SecondsBetween(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU time of the whole process (every thread: sender, reader, emulator, SDK).
double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}


// Reads into a 64 KiB buffer and discards until the peer ends the stream.
class DiscardingReader {
public:
    explicit DiscardingReader(int fd) : thread_([this, fd] {
        std::vector<uint8_t> buffer(64 * 1024);
        for (;;) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) break;
            bytes_.fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
        }
    }) {}
    ~DiscardingReader() {
        if (thread_.joinable()) thread_.join();
    }
    DiscardingReader(const DiscardingReader&) = delete;
    DiscardingReader& operator=(const DiscardingReader&) = delete;

    uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }
    void Join() { thread_.join(); }

private:
    std::atomic<uint64_t> bytes_{0};
    std::thread thread_;
};

// One frame period's worth of the lines the emulator floods: 56 framed 0x6F messages.
std::vector<uint8_t> FloodLikeBlock(size_t& frameSize) {
    const orbel::emulator::PointCloudGenerator generator(kPointsPerLine, orbel::emulator::PointType::Extended);
    std::vector<uint8_t> block;
    for (uint32_t line = 0; line < orbel::emulator::kLinesPerFrame; ++line) {
        orbel::emulator::LineStamp stamp;
        stamp.frameNumber = 1;
        stamp.lineIndex = static_cast<uint8_t>(line);
        stamp.timestamp_us = 1'700'000'000'000'000ull + line;
        const std::vector<uint8_t> frame =
            orbel::emulator::EncodeFrame(orbel::emulator::ids::kPointCloud, line, generator.MakeLine(stamp));
        frameSize = frame.size();
        block.insert(block.end(), frame.begin(), frame.end());
    }
    return block;
}

// ---- the SDK's own totals, read from its log ----


// ---- one row of the table ----

struct Row {
    double seconds = 0;
    double cpuSeconds = 0;        // of the whole process in the window
    uint64_t wireBytes = 0;       // that crossed the link in the window
    uint64_t deliveredClouds = 0;  // handed to the caller in the window (raw rows: whole frames read)
    uint64_t frameSize = 0;
    bool sdk = false;
    std::optional<SdkTotals::Totals> totals;
    uint64_t errors = 0;
    std::string note;

    double WireMBps() const { return wireBytes / seconds / 1e6; }
    double DeliveredMBps() const { return static_cast<double>(deliveredClouds * frameSize) / seconds / 1e6; }
    double CloudsPerSecond() const { return deliveredClouds / seconds; }
};

// Calls snapshot(0) after the warm-up and snapshot(1) after the window; returns the
// process CPU time spent between them.
template <typename Snapshot>
double MeasureWindow(double seconds, Snapshot snapshot) {
    std::this_thread::sleep_for(kWarmUp);
    const double cpu0 = ProcessCpuSeconds();
    snapshot(0);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    snapshot(1);
    return ProcessCpuSeconds() - cpu0;
}

// A measured window of a plain reader: every byte read is a whole frame delivered.
Row ReaderRow(const Clock::time_point (&at)[2], const uint64_t (&bytes)[2], double cpu, size_t frameSize) {
    Row row;
    row.seconds = SecondsBetween(at[0], at[1]);
    row.cpuSeconds = cpu;
    row.wireBytes = bytes[1] - bytes[0];
    row.frameSize = frameSize;
    row.deliveredClouds = row.wireBytes / frameSize;
    return row;
}

Row RunRawLoopback(double seconds, const std::vector<uint8_t>& block, size_t frameSize) {
    uint16_t port = 0;
    Socket listener = Listen(port);
    Socket sender = Connect(port);
    Socket receiver(::accept(listener.Get(), nullptr, nullptr));
    if (receiver.Get() < 0) throw std::runtime_error("accept failed");

    std::atomic<bool> stop{false};
    DiscardingReader reader(receiver.Get());
    std::thread writer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            size_t sent = 0;
            while (sent < block.size()) {
                const ssize_t n = ::send(sender.Get(), block.data() + sent, block.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) return;
                sent += static_cast<size_t>(n);
            }
        }
    });

    uint64_t bytes[2] = {};
    Clock::time_point at[2];
    const double cpu = MeasureWindow(seconds, [&](int i) {
        at[i] = Clock::now();
        bytes[i] = reader.Bytes();
    });
    stop = true;
    ::shutdown(sender.Get(), SHUT_RDWR);  // wakes a blocked send; the reader then sees the end
    writer.join();
    reader.Join();

    return ReaderRow(at, bytes, cpu, frameSize);
}

Row RunEmulatorIntoPlainReader(double seconds, size_t frameSize) {
    orbel::emulator::SensorEmulator emulator;
    Socket client = Connect(emulator.Port());
    if (!emulator.WaitForClient(5s)) throw std::runtime_error("the emulator did not see the plain reader");
    DiscardingReader reader(client.Get());
    if (!emulator.StartFlood()) throw std::runtime_error("the emulator could not flood");

    uint64_t bytes[2] = {};
    Clock::time_point at[2];
    const double cpu = MeasureWindow(seconds, [&](int i) {
        at[i] = Clock::now();
        bytes[i] = reader.Bytes();
    });
    emulator.StopFlood();
    ::shutdown(client.Get(), SHUT_RDWR);
    reader.Join();
    emulator.Stop();

    return ReaderRow(at, bytes, cpu, frameSize);
}

// What the point-cloud callback does with each cloud; it runs on the SDK's customer
// thread only, so the counters are atomics merely to be read from the main thread.
struct Delivery {
    std::atomic<uint64_t> clouds{0};
    std::atomic<uint64_t> touched{0};
};

Row RunSdk(size_t ringSize, bool touch, double seconds, size_t frameSize, SdkTotals& totals) {
    orbel::emulator::SensorEmulator emulator;
    Delivery delivery;
    std::atomic<uint64_t> errors{0};
    std::mutex errorMutex;
    std::string lastError;

    // The factory keeps the link and the handler list it built, so the data handler (and
    // its totals) goes only when both the sensor and the factory have.
    auto factory = std::make_unique<orbel::sdk::SensorFactory>();
    factory->SetPointCloudBufferSize(ringSize);
    if (touch) {
        factory->SetPointCloudCallback([&delivery](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
            const orbel::sdk::PointCloudMetadata& metadata = cloud->GetMetadata();
            delivery.touched.fetch_add(cloud->GetPointCount() + metadata.frameNumber + metadata.lineIndex +
                                           (metadata.timestamp_us & 0xFF),
                                       std::memory_order_relaxed);
            delivery.clouds.fetch_add(1, std::memory_order_relaxed);
        });
    } else {
        factory->SetPointCloudCallback([&delivery](std::unique_ptr<orbel::sdk::IPointCloud>) {
            delivery.clouds.fetch_add(1, std::memory_order_relaxed);
        });
    }
    factory->SetErrorCallback([&](const orbel::sdk::Exception& e) {
        errors.fetch_add(1);
        std::lock_guard lock(errorMutex);
        lastError = e.what();
    });

    totals.Clear();
    std::shared_ptr<orbel::sdk::ISensor> sensor = factory->Build("127.0.0.1", emulator.Port());
    sensor->Start(5000ms);
    if (!emulator.StartFlood()) throw std::runtime_error("the emulator could not flood");

    uint64_t delivered[2] = {}, floodBytes[2] = {}, paced[2] = {};
    Clock::time_point at[2];
    const double cpu = MeasureWindow(seconds, [&](int i) {
        at[i] = Clock::now();
        delivered[i] = delivery.clouds.load(std::memory_order_relaxed);
        floodBytes[i] = emulator.GetFloodStats().bytes;
        paced[i] = emulator.StreamedMessages();
    });
    emulator.StopFlood();

    // Stop ends the paced stream too; then let the SDK drain what is in flight.
    Row row;
    try {
        sensor->Stop(5000ms);
    } catch (const orbel::sdk::Exception& e) {
        row.note = std::string("Stop: ") + e.what();
    }
    uint64_t seen = delivery.clouds.load();
    for (auto quiet = Clock::now(), end = quiet + 10s; Clock::now() < end;) {
        std::this_thread::sleep_for(20ms);
        const uint64_t now = delivery.clouds.load();
        if (now != seen) {
            seen = now;
            quiet = Clock::now();
        } else if (Clock::now() - quiet > 200ms) {
            break;
        }
    }
    sensor.reset();
    factory.reset();
    row.totals = totals.Wait(5s);
    emulator.Stop();

    row.sdk = true;
    row.seconds = SecondsBetween(at[0], at[1]);
    row.cpuSeconds = cpu;
    row.deliveredClouds = delivered[1] - delivered[0];
    row.wireBytes = (floodBytes[1] - floodBytes[0]) + (paced[1] - paced[0]) * frameSize;
    row.frameSize = frameSize;
    row.errors = errors.load();
    if (row.errors != 0) {
        std::lock_guard lock(errorMutex);
        row.note += (row.note.empty() ? "" : "; ") + std::to_string(row.errors) + " error(s), last: " + lastError;
    }
    return row;
}

// ---- command line and table ----

struct Options {
    double seconds = 2.0;
    int rounds = 3;
    std::vector<size_t> rings{112, 1024};
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            options.seconds = std::stod(argv[++i]);
            if (!(options.seconds > 0)) throw std::invalid_argument("--seconds must be positive");
        } else if (arg == "--rounds" && hasValue) {
            options.rounds = std::stoi(argv[++i]);
            if (options.rounds < 1) throw std::invalid_argument("--rounds must be at least 1");
        } else if (arg == "--rings" && hasValue) {
            options.rings.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) options.rings.push_back(std::stoul(item));
            if (options.rings.empty()) throw std::invalid_argument("--rings needs at least one size");
        } else {
            throw std::invalid_argument(
                "usage: bench_sensor_throughput [--seconds S (2)] [--rounds N (3)] [--rings 112,1024]");
        }
    }
    return options;
}

// Every round of one configuration; the table shows the round with the median
// delivered MB/s, the spread of all rounds and, for the SDK, totals summed over them.
struct Series {
    std::string name;
    std::function<Row()> run;
    std::vector<Row> rounds;

    const Row& Median() {
        std::sort(rounds.begin(), rounds.end(),
                  [](const Row& a, const Row& b) { return a.DeliveredMBps() < b.DeliveredMBps(); });
        return rounds[rounds.size() / 2];
    }
};

void PrintTable(std::vector<Series>& series, double rawMBps) {
    std::printf("\n%-34s %9s %9s %10s %17s %7s %6s %11s %11s %9s %8s\n", "median round", "clouds/s", "wire MB/s",
                "deliv MB/s", "deliv MB/s range", "x raw", "CPU %", "SDK recv", "SDK report", "dropped", "drop %");
    for (Series& s : series) {
        const Row& row = s.Median();
        const std::string range = std::to_string(static_cast<int>(s.rounds.front().DeliveredMBps())) + ".." +
                                  std::to_string(static_cast<int>(s.rounds.back().DeliveredMBps()));
        std::printf("%-34s %9.0f %9.1f %10.1f %17s %7.3f %6.0f", s.name.c_str(), row.CloudsPerSecond(), row.WireMBps(),
                    row.DeliveredMBps(), range.c_str(), row.DeliveredMBps() / rawMBps,
                    100.0 * row.cpuSeconds / row.seconds);
        if (row.sdk) {
            uint64_t received = 0, reported = 0;
            bool complete = true;
            for (const Row& r : s.rounds) {
                complete = complete && r.totals.has_value();
                if (r.totals) {
                    received += r.totals->received;
                    reported += r.totals->reported;
                }
            }
            if (complete) {
                std::printf(" %11llu %11llu %9llu %7.2f%%", static_cast<unsigned long long>(received),
                            static_cast<unsigned long long>(reported),
                            static_cast<unsigned long long>(received - reported),
                            received ? 100.0 * static_cast<double>(received - reported) / static_cast<double>(received)
                                     : 0.0);
            } else {
                std::printf(" %11s %11s %9s %8s", "?", "?", "?", "?");
            }
        }
        std::printf("\n");
        for (const Row& r : s.rounds) {
            if (!r.note.empty()) std::printf("    note: %s\n", r.note.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = ParseOptions(argc, argv);
        size_t frameSize = 0;
        const std::vector<uint8_t> block = FloodLikeBlock(frameSize);
        SdkTotals totals;
        totals.Install();

        const double seconds = options.seconds;
        std::vector<Series> series;
        series.push_back({"raw loopback (plain sender)", [&] { return RunRawLoopback(seconds, block, frameSize); }, {}});
        series.push_back({"emulator flood -> plain reader", [&] { return RunEmulatorIntoPlainReader(seconds, frameSize); }, {}});
        for (size_t ring : options.rings) {
            for (bool touch : {true, false}) {
                series.push_back({"SDK ring " + std::to_string(ring) + (touch ? ", light callback" : ", count-only cb"),
                                  [&, ring, touch] { return RunSdk(ring, touch, seconds, frameSize, totals); },
                                  {}});
            }
        }
        // Rounds interleave the configurations, so that a change of load on the machine
        // falls on all of them alike.
        for (int round = 0; round < options.rounds; ++round) {
            for (Series& s : series) s.rounds.push_back(s.run());
        }
        SdkTotals::Uninstall();

        const double rawMBps = series.front().Median().DeliveredMBps();
        std::printf("\npoint-cloud lines of %u points, type 0x6F, %zu wire bytes each; %d rounds of a %.1f s window "
                    "per configuration after %lld ms warm-up; MB = 10^6 bytes\n",
                    kPointsPerLine, frameSize, options.rounds, seconds, static_cast<long long>(kWarmUp.count()));
        std::printf("x raw: median delivered MB/s over the raw loopback median (%.1f MB/s); CPU %%: process CPU time "
                    "over wall time (100 = one core);\nSDK recv / report: the data handler's totals over all rounds "
                    "(warm-up and drain included); dropped = recv - report\n",
                    rawMBps);
        PrintTable(series, rawMBps);
        for (Series& s : series) {
            const Row& row = s.Median();
            if (!row.sdk) continue;
            const double ratio = row.DeliveredMBps() / rawMBps;
            std::printf("goal: %-34s %.3f x raw (at least %.2f): %s\n", s.name.c_str(), ratio, kGoalRatio,
                        ratio >= kGoalRatio ? "met" : "MISSED");
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sensor_throughput: %s\n", e.what());
        return 1;
    }
}
