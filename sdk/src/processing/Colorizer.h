// orbel::processing::Colorizer: the live colorizer. It keeps clouds and RGB8
// images in two queues bounded by the buffer size, asks the matcher about the
// oldest cloud, colours it with the algorithm and reports it to the callback.
//
// Contract:
// - Every push runs on the caller's thread. One mutex guards both queues and is
//   held across matching, colouring and the callback; image conversion to RGB8 runs
//   before it is taken. The callback must not call back into the colorizer.
// - Images are kept in device-time-stamp order whatever order they arrive in; the
//   full image queue drops its earliest image.
// - A cloud leaves the queue only by a decision, each reported exactly once: a
//   match (true, or false when the algorithm failed on it), a failed match (false),
//   or the full cloud queue pushing it out (false), so a camera that stalls never
//   holds clouds back for longer than the queue is long. Clouds queued before a
//   callback is set wait (one pushed out then is dropped unreported), as do those
//   emptied by Reset or still queued at destruction.
// - An exception from the algorithm is logged at warning severity and reported as
//   an uncoloured cloud; an exception from the callback reaches the pusher, with the
//   queues consistent and the mutex released.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include <orbel/processing/Colorizer.h>

#include "processing/Matcher.h"

namespace orbel::processing {

// The image itself when it is RGB8; otherwise a new RGB8 image with the source's
// metadata (format RGB8). Throws orbel::sdk::Exception UNKNOWN_ERROR: "Image is null",
// "Image contains no pixel data", or "Failed to convert image to RGB8" for any format
// it cannot convert and any failed conversion.
std::shared_ptr<orbel::sdk::IImage> ConvertToRGB8Image(std::shared_ptr<orbel::sdk::IImage> image);

class Colorizer final : public IColorizer {
public:
    Colorizer(std::unique_ptr<IMatcher> matcher, std::unique_ptr<IColorizerAlgorithm> algorithm, uint64_t bufferSize);
    ~Colorizer() override;
    Colorizer(const Colorizer&) = delete;
    Colorizer& operator=(const Colorizer&) = delete;

    void InitializeAndStart(const AlignmentInformation& alignment) override;
    void InitializeFromQext(const std::string& path) override;
    void PushPointCloud(std::shared_ptr<orbel::sdk::IColorizableData> cloud) override;
    void PushImage(std::shared_ptr<orbel::sdk::IImage> image) override;
    void SetCallback(Callback callback) override;
    void Reset() override;
    void Flush() override;
    void SetMatchingMode(TimestampMatchingMode mode) override;

private:
    void _TryProcess(MatchMode mode);  // under mutex_

    std::mutex mutex_;
    std::deque<std::shared_ptr<orbel::sdk::IColorizableData>> clouds_;
    ImageQueue images_;
    uint64_t bufferSize_;
    std::unique_ptr<IMatcher> matcher_;
    std::unique_ptr<IColorizerAlgorithm> algorithm_;
    Callback callback_;
    std::atomic<bool> usePrimaryTimestamp_{true};
};

}  // namespace orbel::processing
