// Offline colorization: colours the lidar frames of a recorded session from its
// camera images and writes coloured copies of the frame files (QPC or PLY). Two
// ways: a sync file names which frame goes with which image, or the SDK's
// time-stamp matching colorizer pairs them.
//
// Guarantees:
// - Memory stays bounded whatever the session's length: images are decoded only as
//   the frames need them (a window of the match tolerance around the current frame
//   in time-stamp mode; in sync mode the image of the current pair, kept while later
//   pairs name it again, at most kSyncImageCache images at once) and frames are
//   read, coloured and written one at a time.
// - A file is counted as written only when its writer succeeded; a failed write
//   ends the run. An input file, or a file written earlier in the same run, is never
//   overwritten: a colliding name gets "_1", "_2", ... before its extension. Every
//   line of a written QPC frame keeps its own metadata.
// - Files whose names hold no id are skipped with a log line. In time-stamp mode, images
//   and frames without a time stamp are skipped and the rest coloured; one log line names
//   all those of a kind, with their count.
// - Nothing is thrown: every failure is logged ("[Colorizer] ...") and reported in
//   the outcome and the summary; the end of every run that is not stopped is logged
//   with what it coloured and skipped. The progress callback runs on the caller's thread
//   and is released when the run ends.
//
// Threads: Colorize runs on the caller's thread (the colorizer panel's task);
// RequestStop may be called from any thread and is noticed before the next image,
// frame or sync pair. A stop request is never undone: use one object per run.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <orbel/processing/AlignmentInformation.h>
#include <orbel/sdk/IPointCloud.h>

#include "app/FileHelpers.h"
#include "app/FrameData.h"

namespace orbel::studio {

struct SyncPair {
    uint64_t pointCloudId = 0;
    uint64_t imageId = 0;
    bool operator==(const SyncPair&) const = default;
};

// The pairs of a sync file's text: the first line is a header; every further line
// that starts with two unsigned decimal numbers (blanks around them, "\r" counting as
// blank) gives one pair, text after them is ignored; other lines are skipped.
std::vector<SyncPair> ParseSyncText(std::string_view text);
// ParseSyncText of a regular file of at most 256 MiB. Throws std::runtime_error "Cannot read
// sync file: " + the reason (missing, not a regular file, too large).
std::vector<SyncPair> ReadSyncFile(const std::filesystem::path& path);

// low + done x (high - low) / total in integers, high when total is 0.
size_t ScaleProgress(size_t done, size_t total, size_t low, size_t high);

enum class ColorizeOutcome {
    Completed,  // the run went through (some frames may have found no image: see the summary)
    Stopped,    // a stop was requested
    Failed,     // it ended early, or coloured nothing; the summary's failure says why
};

// What one run did.
struct ColorizeSummary {
    size_t framesColoured = 0;      // coloured files written
    size_t framesWithoutImage = 0;  // time stamps: frames that no image matched
    size_t framesSkipped = 0;       // time stamps: frames that cannot be read or have no time stamp
    size_t imagesSkipped = 0;       // time stamps: images that cannot be read or have no time stamp in their names
    size_t pairsSkipped = 0;        // sync file: pairs whose frame or image is missing or cannot be read
    std::string failure;            // why a failed run ended, as the log says it
};

// "20 frames coloured", then what was left out: ", 3 without a matching image", ", 2 frames
// skipped", ", 1 image skipped", ", 4 sync pairs skipped" (each when not 0).
std::string DescribeColorization(const ColorizeSummary& summary);

class ColorizerSDK {
public:
    using Progress = std::function<void(size_t done, size_t total)>;
    using ImageLoader = std::function<std::shared_ptr<CameraData>(const std::filesystem::path&)>;

    // Decoded images kept at once in sync mode for pairs that name them again.
    static constexpr size_t kSyncImageCache = 8;
    // The time-stamp colorizer's settings: match tolerance and wait margin (us).
    static constexpr uint64_t kMaxTimeDifference_us = 250'000;
    static constexpr uint64_t kWaitMargin_us = 100'000;

    // Images are read with LoadCameraImage unless a loader is given (tests count decodes).
    explicit ColorizerSDK(ImageLoader loader = nullptr);

    // Progress is reported as (percent, 100); it may be empty. An empty or missing sync
    // file selects time-stamp mode.
    ColorizeOutcome Colorize(const std::filesystem::path& pointCloudFolder, const std::filesystem::path& imageFolder,
                             const std::filesystem::path& qextPath, const std::filesystem::path& syncFilePath,
                             const std::filesystem::path& outputFolder, Progress progress);

    void RequestStop() { stop_ = true; }
    bool IsStopRequested() const { return stop_; }

    // What the last Colorize did; read on Colorize's thread once it has returned.
    const ColorizeSummary& Summary() const { return summary_; }

private:
    class Run;

    ImageLoader loader_;
    std::atomic<bool> stop_{false};
    ColorizeSummary summary_;
};

}  // namespace orbel::studio
