// The camera recorder's write loop: JPEG encoding to a temporary name, then a rename.
#include "sessions/CameraRecorder.h"

#include <cstdio>
#include <system_error>

#include <fmt/format.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int kJpegQuality = 80;
constexpr int64_t kDropLogInterval_ms = 1000;

int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void CameraRecorder::Consume(std::shared_ptr<orbel::sdk::IImage> image) {
    if (!image || !IsRunning()) {
        return;
    }
    const size_t dropped = queue_.Push(std::move(image), kQueueCap);
    if (dropped == 0) {
        return;
    }
    const uint64_t total = imagesDropped_ += dropped;
    // Said at most once a second, with the running count, so a slow disk cannot flood the log.
    const int64_t now = SteadyMilliseconds();
    int64_t last = lastDropLog_ms_.load();
    if ((last == kNeverLogged || now - last >= kDropLogInterval_ms) && lastDropLog_ms_.compare_exchange_strong(last, now)) {
        Log(fmt::format("[Recorder] Camera images arrive faster than they are written: {} dropped so far", total),
            log_level::kWarning);
    }
}

void CameraRecorder::Run(const fs::path& folder) {
    const bool ended = queue_.Run(
        folder, [&](const orbel::sdk::IImage& image) { return WriteImage(image, folder); },
        [this](const std::string& reason) {
            queue_.Fail(reason);
            Log("Failed to create output directory: " + reason, log_level::kError);
        });
    if (const uint64_t dropped = imagesDropped_.load(); ended && dropped > 0) {
        Log(fmt::format("[Recorder] {} camera images were dropped because the disk could not keep up", dropped),
            log_level::kWarning);
    }
}

bool CameraRecorder::Stop() {
    const bool wasRunning = queue_.RequestStop();
    queue_.WaitUntilRunEnded();
    return wasRunning;
}

bool CameraRecorder::WriteImage(const orbel::sdk::IImage& image, const fs::path& folder) {
    const orbel::sdk::ImageMetadata& metadata = image.GetMetadata();
    char stem[256];
    std::snprintf(stem, sizeof stem, "image_%08u_%020llu", static_cast<unsigned>(metadata.frameId),
                  static_cast<unsigned long long>(metadata.deviceTimestamp_us));
    const fs::path path = UnusedFilePath(folder, stem, ".jpg");
    fs::path part = path;
    part += ".part";
    try {
        image.SaveAsJpeg(part, kJpegQuality, true);
        fs::rename(part, path);
    } catch (const std::exception& e) {
        std::error_code ignored;
        fs::remove(part, ignored);
        Fail("Failed to save camera image " + path.filename().string() + ": " + e.what());
        return false;
    } catch (...) {
        std::error_code ignored;
        fs::remove(part, ignored);
        Fail("Failed to save camera image " + path.filename().string() + ": unknown error");
        return false;
    }
    ++imagesWritten_;
    return true;
}

void CameraRecorder::Fail(const std::string& reason) {
    const size_t left = queue_.Fail(reason);
    Log("[Recorder] " + reason, log_level::kError);
    if (left > 0) {
        Log(fmt::format("[Recorder] {} queued camera images were not written", left), log_level::kError);
    }
}

}  // namespace orbel::studio::recorder
