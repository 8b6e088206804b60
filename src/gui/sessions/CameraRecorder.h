// CameraRecorder: writes the camera's images to disk while the recorder panel records,
// each as one JPEG file "image_<frame id, 8 digits>_<device time stamp in us, 20 digits>.jpg"
// (quality 80, chroma subsampling on) in the recording's "frames_rgb" folder.
//
// Contract: Consume runs on the publisher's thread (the streamer's camera worker) and only
// queues, and only while Run is active. The queue holds at most kQueueCap images: when the
// disk cannot keep up the oldest are dropped and counted in the log. Run is the write loop
// on the recording task's thread; Stop, from any thread, returns once an active Run has
// written what is queued. An image that cannot be saved (SaveAsJpeg throws) or a file that
// cannot be renamed ends the recording with a log line and the reason in Failure. Files
// appear under their names only when complete and never replace an earlier file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <orbel/sdk/IImage.h>

#include "app/IConsumer.h"
#include "sessions/RecordingQueue.h"

namespace orbel::studio::recorder {

class CameraRecorder : public IConsumer<orbel::sdk::IImage> {
public:
    // About 1.5 s of images at 20 per second.
    static constexpr size_t kQueueCap = 32;

    CameraRecorder() = default;
    CameraRecorder(const CameraRecorder&) = delete;
    CameraRecorder& operator=(const CameraRecorder&) = delete;
    ~CameraRecorder() override = default;

    void Consume(std::shared_ptr<orbel::sdk::IImage> image) override;

    // Creates `folder` (with its parents) and writes queued images until Stop or a failure.
    void Run(const std::filesystem::path& folder);

    // Asks Run to finish and waits for an active Run to write what is queued. Returns
    // whether Run was running.
    bool Stop();

    bool IsRunning() const { return queue_.Running() && !queue_.StopRequested(); }
    std::optional<std::string> Failure() const { return queue_.Failure(); }
    uint64_t ImagesWritten() const { return imagesWritten_.load(); }
    uint64_t ImagesDropped() const { return imagesDropped_.load(); }

private:
    bool WriteImage(const orbel::sdk::IImage& image, const std::filesystem::path& folder);
    void Fail(const std::string& reason);

    RecordingQueue<orbel::sdk::IImage> queue_;
    std::atomic<uint64_t> imagesWritten_{0};
    std::atomic<uint64_t> imagesDropped_{0};
    static constexpr int64_t kNeverLogged = INT64_MIN;
    std::atomic<int64_t> lastDropLog_ms_{kNeverLogged};
};

}  // namespace orbel::studio::recorder
