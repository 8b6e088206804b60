// The lidar recorder's write loop and the choice of a fresh session folder.
#include "sessions/Recorder.h"

#include <system_error>

#include <fmt/format.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

// A folder that cannot be listed (no read permission) is taken as holding files: a
// recording never goes where it cannot see what it would write over.
bool HoldsFiles(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return false;
    }
    fs::directory_iterator entries(folder, error);
    return error || entries != fs::directory_iterator();
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
            log_level::kWarning);
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
    queue_.Run(
        folder, [&](LineBatch& batch) { return WriteFrame(batch, folder); },
        [this](const std::string& reason) { Fail("Failed to create output directory: " + reason, reason); });
}

bool Recorder::Stop() {
    Log("Stopping recording...", log_level::kInfo);
    const bool wasRunning = queue_.RequestStop();
    queue_.WaitUntilRunEnded();
    return wasRunning;
}

bool Recorder::WriteFrame(LineBatch& lines, const fs::path& folder) {
    if (const std::string problem = QpcBatchProblem(lines); !problem.empty()) {
        ++batchesRefused_;
        const uint32_t frame = !lines.empty() && lines[0] ? lines[0]->GetMetadata().frameNumber : 0;
        Log(fmt::format("Frame {} not recorded: {}", frame, problem), log_level::kWarning);
        return true;
    }
    const uint32_t frame = lines[0]->GetMetadata().frameNumber;
    const std::string stem = fmt::format("frame_{:08}", frame);
    const fs::path path = UnusedFilePath(folder, stem, ".qpc");
    if (path.filename() != stem + ".qpc") {
        Log(fmt::format("Frame {} was recorded before; this copy is {}", frame, path.filename().string()),
            log_level::kWarning);
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
    const size_t left = queue_.Fail(reason);
    Log(logText, log_level::kError);
    Log("[Recorder] " + reason, log_level::kError);
    if (left > 0) {
        Log(fmt::format("[Recorder] {} queued frames were not written", left), log_level::kError);
    }
}

}  // namespace orbel::studio
