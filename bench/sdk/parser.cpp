// Receive-path throughput: the stream parser over the real receive ring, fed read by
// read as the TCP connection feeds it, against a baseline of memcpy plus a byte sum
// over the same bytes in the same reads; and resynchronisation over garbage at
// several sizes (random bytes, runs of 0x02, false frames, and headers that all claim
// one shared end), whose bytes per second stay flat when the cost is linear.
// A summary of parser / baseline per frame size and read size is printed at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <orbel/sdk/Logging.h>

#include "common/RecordingReporter.h"
#include "communication/VelmorantMessage.h"
#include "communication/VelmorantParser.h"
#include "sdk/communication/RingFeed.h"
#include "support/RawFrame.h"

namespace {

using orbel::communication::ByteSum;
using orbel::communication::VelmorantMessage;
using orbel::communication::VelmorantParser;
using orbel::testing::ByteRing;
using Bytes = std::vector<uint8_t>;

constexpr size_t kRingCapacity = 10'485'760;
constexpr size_t kRingMirror = 52'428'800;
// Each iteration moves at least this much, so small frames are not dominated by set-up.
constexpr size_t kStreamBytes = 4 * 1024 * 1024;

const std::vector<int64_t> kFrameSizes = {33, 5'289, 13'545, 1'048'576};
const std::vector<int64_t> kReadSizes = {1'448, 65'536};
const std::vector<int64_t> kGarbageSizes = {64 * 1024, 1024 * 1024, 8 * 1024 * 1024};

// Back-to-back valid frames of one size, cached per size.
const Bytes& FrameStream(size_t frameSize) {
    static std::map<size_t, Bytes> streams;
    Bytes& stream = streams[frameSize];
    if (stream.empty()) {
        std::mt19937 random(static_cast<uint32_t>(frameSize));
        Bytes payload(frameSize - 32);
        for (uint32_t counter = 0; stream.size() < kStreamBytes; ++counter) {
            for (auto& b : payload) b = static_cast<uint8_t>(random());
            const Bytes frame = orbel::testing::RawFrame(0x1000, counter, payload);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
    }
    return stream;
}

enum GarbageKind : int64_t { kRandom = 0, kStartRuns = 1, kBadFooters = 2, kSharedEnd = 3 };

Bytes GarbageStream(GarbageKind kind, size_t size) {
    // Back-to-back headers that all claim one far-away end, each failing its frame
    // checksum: every header is a candidate spanning the rest of the stream.
    if (kind == kSharedEnd) return orbel::testing::SharedEndHeaders(size);
    std::mt19937 random(static_cast<uint32_t>(size + static_cast<size_t>(kind)));
    Bytes stream;
    stream.reserve(size + 4096);
    while (stream.size() < size) {
        switch (kind) {
            case kRandom:
                stream.push_back(static_cast<uint8_t>(random()));
                break;
            case kStartRuns: {
                // Runs of 0x02 from short of a start sequence to far beyond one.
                stream.insert(stream.end(), 1 + random() % 64, 0x02);
                stream.push_back(static_cast<uint8_t>(0x10 + random() % 0x80));
                break;
            }
            case kBadFooters: {
                // A header with a correct checksum, its claimed payload, and a footer that fails.
                const uint32_t payload = random() % 2'000;
                const size_t start = stream.size();
                const Bytes header = orbel::testing::RawHeader(0x1000, 0, payload);
                stream.insert(stream.end(), header.begin(), header.end());
                for (uint32_t i = 0; i < payload; ++i) stream.push_back(static_cast<uint8_t>(0x10 + random() % 0x80));
                // Half end in a wrong end sequence, half in a wrong frame checksum.
                const bool badEnd = random() % 2 == 0;
                const uint8_t checksum = ByteSum(stream.data() + start, stream.size() - start);
                stream.push_back(badEnd ? checksum : static_cast<uint8_t>(checksum + 1));
                stream.insert(stream.end(), 8, badEnd ? 0x04 : 0x03);
                break;
            }
            case kSharedEnd:
                break;  // built above
        }
    }
    stream.resize(size);
    return stream;
}

void BM_Parser(benchmark::State& state) {
    const auto frameSize = static_cast<size_t>(state.range(0));
    const auto readSize = static_cast<size_t>(state.range(1));
    const Bytes& stream = FrameStream(frameSize);
    const size_t framesPerStream = stream.size() / frameSize;

    ByteRing ring(kRingCapacity, kRingMirror);
    uint64_t touched = 0;
    size_t frames = 0;
    VelmorantParser parser([&](VelmorantMessage& message) {
        touched += message.GetId() + message.GetPayload()[message.GetPayloadSize() - 1];
        ++frames;
    });
    for (auto _ : state) {
        orbel::testing::FeedInReads(ring, parser, stream, readSize);
    }
    benchmark::DoNotOptimize(touched);
    if (frames != framesPerStream * static_cast<size_t>(state.iterations())) {
        state.SkipWithError("frames were lost");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

// What any receiver must do at least: copy every read out of the socket buffer and sum it.
void BM_Baseline(benchmark::State& state) {
    const auto frameSize = static_cast<size_t>(state.range(0));
    const auto readSize = static_cast<size_t>(state.range(1));
    const Bytes& stream = FrameStream(frameSize);
    Bytes destination(readSize);
    uint64_t sum = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += readSize) {
            const size_t n = std::min(readSize, stream.size() - at);
            std::memcpy(destination.data(), stream.data() + at, n);
            benchmark::ClobberMemory();
            sum += ByteSum(destination.data(), n);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

// Consumes whatever arrives unread, so only the ring's own share remains.
class DrainingParser : public orbel::communication::IParser {
public:
    void Parse(ByteRing& ring) override { ring.AdvanceRead(ring.ContiguousReadSize()); }
};

// For reference: moving the bytes into the ring read by read, as the connection does,
// with no parsing at all. This share of the parser's time is the ring's, not the parser's.
void BM_RingFeed(benchmark::State& state) {
    const Bytes& stream = FrameStream(static_cast<size_t>(state.range(0)));
    ByteRing ring(kRingCapacity, kRingMirror);
    DrainingParser parser;
    for (auto _ : state) {
        orbel::testing::FeedInReads(ring, parser, stream, static_cast<size_t>(state.range(1)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

void BM_Resync(benchmark::State& state) {
    const auto kind = static_cast<GarbageKind>(state.range(0));
    const Bytes stream = GarbageStream(kind, static_cast<size_t>(state.range(1)));
    ByteRing ring(kRingCapacity, kRingMirror);
    size_t frames = 0;
    VelmorantParser parser([&](VelmorantMessage&) { ++frames; });
    for (auto _ : state) {
        orbel::testing::FeedInReads(ring, parser, stream, 65'536);
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

std::string Name(const char* family, int64_t first, int64_t second) {
    std::string name(family);
    name.append("/").append(std::to_string(first)).append("/").append(std::to_string(second));
    return name;
}

// Parser / baseline for every frame and read size, then the resynchronisation rates.
void PrintSummary(const orbel::bench::RecordingReporter& runs) {
    // Bytes per second of the case; 0 when it did not run.
    const auto rate = [&](const std::string& name) {
        const orbel::bench::CaseResult* result = runs.Find(name);
        return result != nullptr ? result->Counter("bytes_per_second") : 0.0;
    };
    std::printf("\nparser / baseline (MB/s = 1e6 bytes per second)\n");
    std::printf("%10s %8s %14s %14s %8s %16s\n", "frame", "read", "parser MB/s", "baseline MB/s", "ratio",
                "ring feed MB/s");
    for (int64_t frame : kFrameSizes) {
        for (int64_t read : kReadSizes) {
            const double parser = rate(Name("BM_Parser", frame, read));
            const double baseline = rate(Name("BM_Baseline", frame, read));
            if (parser <= 0.0 || baseline <= 0.0) continue;
            std::printf("%10lld %8lld %14.1f %14.1f %8.3f %16.1f\n", static_cast<long long>(frame),
                        static_cast<long long>(read), parser / 1e6, baseline / 1e6, parser / baseline,
                        rate(Name("BM_RingFeed", frame, read)) / 1e6);
        }
    }
    std::printf("\nresynchronisation over garbage (flat MB/s across sizes = linear cost)\n");
    const char* kinds[] = {"random bytes", "runs of 0x02", "bad footers", "shared end"};
    for (int64_t kind = 0; kind < 4; ++kind) {
        std::printf("%-14s", kinds[kind]);
        for (int64_t size : kGarbageSizes) {
            const double resync = rate(Name("BM_Resync", kind, size));
            if (resync <= 0.0) continue;
            std::printf("  %8lld B: %9.1f MB/s", static_cast<long long>(size), resync / 1e6);
        }
        std::printf("\n");
    }
}

void RegisterAll() {
    for (int64_t frame : kFrameSizes) {
        for (int64_t read : kReadSizes) {
            benchmark::RegisterBenchmark("BM_Baseline", BM_Baseline)->Args({frame, read});
            benchmark::RegisterBenchmark("BM_Parser", BM_Parser)->Args({frame, read});
            benchmark::RegisterBenchmark("BM_RingFeed", BM_RingFeed)->Args({frame, read});
        }
    }
    for (int64_t kind : {kRandom, kStartRuns, kBadFooters, kSharedEnd}) {
        for (int64_t size : kGarbageSizes) benchmark::RegisterBenchmark("BM_Resync", BM_Resync)->Args({kind, size});
    }
}

}  // namespace

int main(int argc, char** argv) {
    // As in the program, which keeps only the SDK's errors: the "to large" INFO records
    // that garbage produces would otherwise measure the console.
    orbel::sdk::SetLogSeverity(orbel::sdk::Severity::ERROR);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    orbel::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
