// The lidar recorder's write loop and the choice of a fresh session folder.
#include "sessions/Recorder.h"

#include <chrono>
#include <system_error>

#include <fmt/format.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

constexpr int kLevelInfo = 2;
constexpr int kLevelWarning = 3;
constexpr int kLevelError = 4;
constexpr auto kWait = std::chrono::milliseconds(50);

bool HoldsFiles(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return false;
    }
    fs::directory_iterator entries(folder, error);
    return !error && entries != fs::directory_iterator();
}

bool HoldsSession(const fs::path& folder) {
    return HoldsFiles(folder / "frames_qpc") || HoldsFiles(folder / "frames_rgb");
}

}  // namespace

fs::path FreshSessionFolder(const fs::path& chosen) {
    if (!HoldsSession(chosen)) {
        return chosen;
    }
    const fs::path base = chosen.has_filename() ? chosen : chosen.parent_path();
    for (unsigned n = 2;; ++n) {
        fs::path candidate = base;
        candidate += fmt::format("_{}", n);
        if (!HoldsSession(candidate)) {
            return candidate;
        }
    }
}

Recorder::~Recorder() {
    if (const size_t left = queue_.Size(); left > 0) {
        Log(fmt::format("{} recorded frames were queued after the recording ended and were not written", left),
            kLevelWarning);
    }
}

void Recorder::Consume(std::shared_ptr<LineBatch> batch) {
    if (!batch) {
        return;
    }
    auto entry = std::make_shared<LineBatch>(std::move(*batch));
    batch->clear();
    if (queue_.Push(std::move(entry)) > 0) {
        ++batchesRefused_;
    }
}

void Recorder::Run(const fs::path& folder) {
    const bool started = queue_.BeginRun();
    struct EndRun {
        RecordingQueue<LineBatch>& queue;
        ~EndRun() { queue.EndRun(); }
    } endRun{queue_};

    try {
        EnsureDirectory(folder);
    } catch (const std::exception& e) {
        Fail(std::string("Failed to create output directory: ") + e.what(), e.what());
        return;
    }
    Log("Started recording to folder: " + folder.string(), kLevelInfo);
    if (started) {
        while (!queue_.StopRequested()) {
            if (auto batch = queue_.Next(kWait); batch && !WriteFrame(*batch, folder)) {
                return;
            }
        }
    }
    // Stopped: what was published before the stop is written before Run returns.
    for (auto& batch : queue_.TakeAll()) {
        if (!WriteFrame(*batch, folder)) {
            return;
        }
    }
}

bool Recorder::Stop() {
    Log("Stopping recording...", kLevelInfo);
    const bool wasRunning = queue_.RequestStop();
    queue_.WaitUntilRunEnded();
    return wasRunning;
}

bool Recorder::WriteFrame(LineBatch& lines, const fs::path& folder) {
    if (const std::string problem = QpcBatchProblem(lines); !problem.empty()) {
        ++batchesRefused_;
        const uint32_t frame = !lines.empty() && lines[0] ? lines[0]->GetMetadata().frameNumber : 0;
        Log(fmt::format("Frame {} not recorded: {}", frame, problem), kLevelWarning);
        return true;
    }
    const uint32_t frame = lines[0]->GetMetadata().frameNumber;
    const std::string stem = fmt::format("frame_{:08}", frame);
    const fs::path path = UnusedFilePath(folder, stem, ".qpc");
    if (path.filename() != stem + ".qpc") {
        Log(fmt::format("Frame {} was recorded before; this copy is {}", frame, path.filename().string()),
            kLevelWarning);
    }
    try {
        WriteQpcLines(path, lines);
    } catch (const std::exception& e) {
        Fail("Failed to write frame data to disk (may be due to insufficient disk space)", e.what());
        return false;
    }
    ++framesWritten_;
    return true;
}

void Recorder::Fail(const std::string& logText, const std::string& reason) {
    queue_.Fail(reason);
    Log(logText, kLevelError);
    Log("[Recorder] " + reason, kLevelError);
    if (const size_t left = queue_.TakeAll().size(); left > 0) {
        Log(fmt::format("[Recorder] {} queued frames were not written", left), kLevelError);
    }
}

}  // namespace orbel::studio
