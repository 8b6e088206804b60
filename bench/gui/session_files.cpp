// Session files on one core, each against a baseline measured in the same run and the same
// folder:
//  - writing one frame of 56 lines x 192 points as QPC (the recorder's writer), binary PLY,
//    PCD and CSV, in MB/s of file written, against a plain open/write/close of as many bytes;
//  - reading it back (QPC as a frame and as one merged cloud, PLY) against a plain read of
//    the file's bytes;
//  - converting a 1,000-frame session to each format, files per second, against copying the
//    same QPC files (read whole, written whole);
//  - the recorders at 20 frames/s for 5 s with a camera-sized image stream (1920 x 1200
//    BayerRG8, JPEG quality 80) beside them: frames and images written, dropped and refused
//    (all must be 0 lost), and each writer's busy share of its 50 ms period.
// The folder is $ORBEL_BENCH_DIR, else a fresh one under the system's temporary folder
// (usually a disk; a RAM-backed folder shows the CPU side alone). On a busy machine run it
// with --benchmark_repetitions=5: the ratios then use each case's median.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"
#include "app/ObjectDispatcher.h"
#include "app/PointCloudWorker.h"
#include "common/RecordingReporter.h"
#include "sessions/CameraRecorder.h"
#include "sessions/Converters.h"
#include "sessions/FramePoints.h"
#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"
#include "sessions/Recorder.h"
#include "sessions/SessionFileIo.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

namespace fs = std::filesystem;
using namespace orbel::studio;
using orbel::testing::PointCloudPayloadBuilder;

constexpr uint32_t kLines = 56;
constexpr uint32_t kPoints = 192;
constexpr uint32_t kSessionFrames = 1000;

fs::path Folder() {
    static const fs::path folder = [] {
        if (const char* chosen = std::getenv("ORBEL_BENCH_DIR"); chosen != nullptr && *chosen != '\0') {
            fs::create_directories(chosen);
            return fs::path(chosen);
        }
        std::string pattern = (fs::temp_directory_path() / "orbel-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return fs::path(pattern);
    }();
    return folder;
}

std::vector<std::vector<uint8_t>> LinePayloads(uint8_t type, uint32_t frame) {
    std::vector<std::vector<uint8_t>> lines;
    for (uint32_t line = 0; line < kLines; ++line) {
        lines.push_back(PointCloudPayloadBuilder()
                            .PointType(type)
                            .PointCount(kPoints)
                            .FrameNumber(frame)
                            .LineIndex(static_cast<uint8_t>(line))
                            .Timestamp(1'700'000'000'000'000ull + frame * 50'000ull + line * 893ull)
                            .AlternateTimestamp(1'700'000'000'000'000ull + frame * 50'000ull)
                            .Points([line](uint32_t p) { return PointCloudPayloadBuilder::DefaultPoint(line * kPoints + p); })
                            .Build());
    }
    return lines;
}

LineBatch Clouds(const std::vector<std::vector<uint8_t>>& payloads) {
    LineBatch clouds;
    for (const auto& payload : payloads) {
        clouds.push_back(orbel::sdk::CreatePointCloud());
        clouds.back()->Deserialize(payload);
    }
    return clouds;
}

std::vector<uint8_t> Concatenate(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The recorded frame of the write and read cases: coloured lines, as the live colorizer
// leaves them, so every writer has every column to write.
const fs::path& QpcFrameFile() {
    static const fs::path path = [] {
        const fs::path file = Folder() / "frame_00000001.qpc";
        LineBatch clouds = Clouds(LinePayloads(0x66, 1));
        WriteQpcLines(file, clouds);
        return file;
    }();
    return path;
}

const FramePoints& Points() {
    static const FramePoints points = *ReadFramePoints(QpcFrameFile(), "[bench]", false);
    return points;
}

void PlainWrite(const fs::path& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::close(fd);
}

void PlainRead(const fs::path& path, std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    bytes.resize(static_cast<size_t>(fs::file_size(path)));
    if (fd < 0 || ::read(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::close(fd);
}

void Report(benchmark::State& state, uint64_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------------------
// Writing one frame. As the recorder and the converters do, every iteration writes a new
// file; so does the baseline.

// A folder of its own for one benchmark's files, emptied when the benchmark ends.
class Scratch {
public:
    explicit Scratch(const char* name) : folder_(Folder() / name) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    ~Scratch() { fs::remove_all(folder_); }
    fs::path Next(const char* extension) { return folder_ / ("frame_" + std::to_string(count_++) + extension); }

private:
    fs::path folder_;
    uint64_t count_ = 0;
};

// One file of each kind, written before the clock starts: the baselines write as many bytes.
void WriteSamples() {
    LineBatch clouds = Clouds(LinePayloads(0x66, 1));
    WriteQpcLines(Folder() / "sample.qpc", clouds);
    WritePly(Folder() / "sample.ply", ToFrameData(Points(), "frame_00000001.qpc"));
    AtomicFile pcd(Folder() / "sample.pcd");
    WritePcd(pcd, Points());
    pcd.Commit();
    AtomicFile csv(Folder() / "sample.csv");
    csv.Write(CsvText(Points()));
    csv.Commit();
}

uint64_t SampleBytes(const char* extension) { return fs::file_size(Folder() / (std::string("sample") + extension)); }

void BM_WriteQpc(benchmark::State& state) {
    LineBatch clouds = Clouds(LinePayloads(0x66, 1));
    Scratch scratch("w-qpc");
    for (auto _ : state) WriteQpcLines(scratch.Next(".qpc"), clouds);
    Report(state, SampleBytes(".qpc"));
}

void BM_WritePly(benchmark::State& state) {
    const FrameData frame = ToFrameData(Points(), "frame_00000001.qpc");
    Scratch scratch("w-ply");
    for (auto _ : state) WritePly(scratch.Next(".ply"), frame);
    Report(state, SampleBytes(".ply"));
}

void BM_WritePcd(benchmark::State& state) {
    Scratch scratch("w-pcd");
    for (auto _ : state) {
        AtomicFile file(scratch.Next(".pcd"));
        WritePcd(file, Points());
        file.Commit();
    }
    Report(state, SampleBytes(".pcd"));
}

void BM_WriteCsv(benchmark::State& state) {
    Scratch scratch("w-csv");
    for (auto _ : state) {
        AtomicFile file(scratch.Next(".csv"));
        file.Write(CsvText(Points()));
        file.Commit();
    }
    Report(state, SampleBytes(".csv"));
}

// The baseline of each writer: as many bytes as its file holds, in one write to a new file.
void BM_PlainWrite(benchmark::State& state, const char* extension) {
    const std::vector<uint8_t> bytes(SampleBytes(extension), 0x5A);
    Scratch scratch("w-plain");
    for (auto _ : state) PlainWrite(scratch.Next(extension), bytes);
    Report(state, bytes.size());
}

// ---------------------------------------------------------------------------------------
// Reading one frame

void BM_ReadQpcFrame(benchmark::State& state) {
    for (auto _ : state) {
        auto frame = ReadQpcFrame(QpcFrameFile(), false);
        if (!frame) state.SkipWithError("unreadable");
        benchmark::DoNotOptimize(frame->xyz.data());
    }
    Report(state, fs::file_size(QpcFrameFile()));
}

void BM_ReadQpcPointCloud(benchmark::State& state) {
    for (auto _ : state) {
        auto cloud = ReadQpcPointCloud(QpcFrameFile());
        if (!cloud) state.SkipWithError("unreadable");
        benchmark::DoNotOptimize(cloud->GetX().data());
    }
    Report(state, fs::file_size(QpcFrameFile()));
}

void BM_ReadPly(benchmark::State& state) {
    const fs::path path = Folder() / "sample.ply";
    for (auto _ : state) {
        auto frame = ReadPly(path);
        if (!frame) state.SkipWithError("unreadable");
        benchmark::DoNotOptimize(frame->xyz.data());
    }
    Report(state, fs::file_size(path));
}

void BM_PlainRead(benchmark::State& state, const char* like) {
    const fs::path path = like[0] == 'q' ? QpcFrameFile() : Folder() / "sample.ply";
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        PlainRead(path, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    Report(state, bytes.size());
}

// ---------------------------------------------------------------------------------------
// Converting a session

const fs::path& Session() {
    static const fs::path session = [] {
        const fs::path folder = Folder() / "session" / "frames_qpc";
        fs::create_directories(folder);
        const auto bytes = Concatenate(LinePayloads(0x66, 1));
        for (uint32_t frame = 0; frame < kSessionFrames; ++frame) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%08u.qpc", frame);
            PlainWrite(folder / name, bytes);
        }
        return Folder() / "session";
    }();
    return session;
}

void BM_ConvertSession(benchmark::State& state, FileType type) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    for (auto _ : state) {
        const ConversionResult result = ConvertFolder(cancel, Session(), Folder() / "converted", type, {});
        if (result.converted != kSessionFrames) state.SkipWithError("files were not converted");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSessionFrames));
}

void BM_CopySession(benchmark::State& state) {
    const fs::path target = Folder() / "copied";
    fs::create_directories(target);
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        for (const auto& file : ListQpcFilesRecursive(Session())) {
            PlainRead(file, bytes);
            PlainWrite(target / file.filename(), bytes);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSessionFrames));
}

BENCHMARK(BM_WriteQpc);
BENCHMARK_CAPTURE(BM_PlainWrite, qpc, ".qpc");
BENCHMARK(BM_WritePly);
BENCHMARK_CAPTURE(BM_PlainWrite, ply, ".ply");
BENCHMARK(BM_WritePcd);
BENCHMARK_CAPTURE(BM_PlainWrite, pcd, ".pcd");
BENCHMARK(BM_WriteCsv);
BENCHMARK_CAPTURE(BM_PlainWrite, csv, ".csv");
BENCHMARK(BM_ReadQpcFrame);
BENCHMARK(BM_ReadQpcPointCloud);
BENCHMARK_CAPTURE(BM_PlainRead, qpc, "qpc");
BENCHMARK(BM_ReadPly);
BENCHMARK_CAPTURE(BM_PlainRead, ply, "ply");
BENCHMARK_CAPTURE(BM_ConvertSession, ply, FileType::Ply)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ConvertSession, pcd, FileType::Pcd)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ConvertSession, csv, FileType::Csv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CopySession)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---------------------------------------------------------------------------------------
// Recording at 20 frames per second with a camera beside it

std::shared_ptr<orbel::sdk::IImage> CameraImage(uint32_t frameId, uint64_t timestamp_us) {
    constexpr uint32_t kWidth = 1920;
    constexpr uint32_t kHeight = 1200;
    std::vector<uint8_t> bytes(64 + kWidth * kHeight);
    bytes[0] = 1;
    std::memcpy(bytes.data() + 1, &timestamp_us, 8);
    std::memcpy(bytes.data() + 17, &frameId, 4);
    std::memcpy(bytes.data() + 21, &kWidth, 4);
    std::memcpy(bytes.data() + 25, &kHeight, 4);
    bytes[29] = static_cast<uint8_t>(orbel::sdk::PixelFormat::BayerRG8);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            bytes[64 + y * kWidth + x] = static_cast<uint8_t>((x * 7 + y * 3 + frameId * 11) & 0xFF);
        }
    }
    std::shared_ptr<orbel::sdk::IImage> image = orbel::sdk::CreateImage();
    image->Deserialize(bytes);
    return image;
}

void RecordAtFrameRate() {
    constexpr int kSeconds = 5;
    constexpr int kFrames = 20 * kSeconds;
    const fs::path session = Folder() / "recorded";
    fs::remove_all(session);

    // Made before the clock starts, as the camera and the sensor would hand them over.
    std::vector<std::shared_ptr<LineBatch>> batches;
    std::vector<std::shared_ptr<orbel::sdk::IImage>> images;
    for (int i = 0; i < kFrames; ++i) {
        batches.push_back(std::make_shared<LineBatch>(Clouds(LinePayloads(0x66, static_cast<uint32_t>(i)))));
        images.push_back(CameraImage(static_cast<uint32_t>(i), 1'700'000'000'000'000ull + i * 50'000ull));
    }

    auto dispatcher = std::make_shared<ObjectDispatcher>();
    auto recorder = std::make_shared<Recorder>();
    auto camera = std::make_shared<recorder::CameraRecorder>();
    dispatcher->Subscribe<LineBatch>(recorder.get());
    dispatcher->Subscribe<orbel::sdk::IImage>(camera.get());
    auto lidarJob = std::async(std::launch::async, [&] { recorder->Run(session / "frames_qpc"); });
    auto cameraJob = std::async(std::launch::async, [&] { camera->Run(session / "frames_rgb"); });
    while (!camera->IsRunning() || !recorder->IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_until(start + i * std::chrono::milliseconds(50));
        dispatcher->Publish(batches[i]);
        dispatcher->Publish(images[i]);
    }
    const auto published = std::chrono::steady_clock::now();
    dispatcher->Unsubscribe<LineBatch>(recorder.get());
    dispatcher->Unsubscribe<orbel::sdk::IImage>(camera.get());
    recorder->Stop();
    camera->Stop();
    lidarJob.get();
    cameraJob.get();
    const double drain_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - published).count();

    // One image alone, to show the camera writer's share of its period.
    const auto jpegStart = std::chrono::steady_clock::now();
    constexpr int kJpegs = 10;
    for (int i = 0; i < kJpegs; ++i) images[i]->SaveAsJpeg(Folder() / "one.jpg", 80, true);
    const double jpeg_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - jpegStart).count() / kJpegs;
    LineBatch one = Clouds(LinePayloads(0x66, 1));
    const auto qpcStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kJpegs; ++i) WriteQpcLines(Folder() / "one.qpc", one);
    const double qpc_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - qpcStart).count() / kJpegs;

    std::printf("\nrecording %d s at 20 frames/s, 56 x %u-point frames and 1920 x 1200 BayerRG8 images\n", kSeconds,
                kPoints);
    std::printf("  frames published %d, written %llu, refused %llu, lost %lld\n", kFrames,
                static_cast<unsigned long long>(recorder->FramesWritten()),
                static_cast<unsigned long long>(recorder->BatchesRefused()),
                static_cast<long long>(kFrames) - static_cast<long long>(recorder->FramesWritten()));
    std::printf("  images published %d, written %llu, dropped %llu\n", kFrames,
                static_cast<unsigned long long>(camera->ImagesWritten()),
                static_cast<unsigned long long>(camera->ImagesDropped()));
    std::printf("  queues written out %.1f ms after the last publish (stop included)\n", drain_ms);
    std::printf("  one QPC frame %.2f ms (%.1f %% of 50 ms), one JPEG %.2f ms (%.1f %% of 50 ms)\n", qpc_ms,
                qpc_ms / 0.5, jpeg_ms, jpeg_ms / 0.5);
    const bool failed = recorder->Failure() || camera->Failure();
    if (failed) std::printf("  RECORDING FAILED: %s\n", (recorder->Failure() ? *recorder->Failure() : *camera->Failure()).c_str());
}

// Each case's MB/s or files/s beside its baseline.
void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    const auto rate = [&](const std::string& name, const char* counter) {
        const orbel::bench::CaseResult* result = runs.Find(name);
        return result != nullptr ? std::optional<double>(result->Counter(counter)) : std::nullopt;
    };
    std::printf("\none frame of 56 x %u points, coloured; folder %s\n", kPoints, Folder().c_str());
    std::printf("%-30s %12s %12s %10s\n", "", "MB/s", "plain MB/s", "x plain");
    const std::pair<const char*, const char*> pairs[] = {
        {"BM_WriteQpc", "BM_PlainWrite/qpc"},       {"BM_WritePly", "BM_PlainWrite/ply"},
        {"BM_WritePcd", "BM_PlainWrite/pcd"},       {"BM_WriteCsv", "BM_PlainWrite/csv"},
        {"BM_ReadQpcFrame", "BM_PlainRead/qpc"},    {"BM_ReadQpcPointCloud", "BM_PlainRead/qpc"},
        {"BM_ReadPly", "BM_PlainRead/ply"},
    };
    for (const auto& [name, baseline] : pairs) {
        const auto bytes = rate(name, "bytes_per_second");
        const auto base = rate(baseline, "bytes_per_second");
        if (!bytes || !base || *base <= 0) continue;
        std::printf("%-30s %12.1f %12.1f %10.2f\n", name + 3, *bytes / 1e6, *base / 1e6, *bytes / *base);
    }
    std::printf("\n%-30s %12s %12s %10s\n", "1,000-frame session", "files/s", "copy files/s", "x copy");
    const auto copy = rate("BM_CopySession/iterations:3", "items_per_second");
    for (const char* name : {"BM_ConvertSession/ply/iterations:3", "BM_ConvertSession/pcd/iterations:3",
                             "BM_ConvertSession/csv/iterations:3"}) {
        const auto files = rate(name, "items_per_second");
        if (!files || !copy || *copy <= 0) continue;
        std::printf("%-30s %12.0f %12.0f %10.2f\n", std::string(name).substr(18, 3).c_str(), *files, *copy,
                    *files / *copy);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QpcFrameFile();
    WriteSamples();
    Session();
    orbel::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    RecordAtFrameRate();
    benchmark::Shutdown();
    if (std::getenv("ORBEL_BENCH_DIR") == nullptr) {
        std::error_code ignored;
        fs::remove_all(Folder(), ignored);
    }
    return 0;
}
