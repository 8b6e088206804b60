// orbel::processing: colouring point clouds from camera images.
//
// IColorizerAlgorithm colours one cloud from one image: it projects every point
// into the image with an AlignmentInformation and takes the pixel's colour.
// IColorizer pairs clouds with images by time stamp and colours each cloud with the
// algorithm. Clouds and images are pushed from any thread; the colorizer has no
// thread of its own and runs under its own mutex on the pushing thread, callback
// included. Every cloud that leaves it through a match, a failed match or its full
// queue is reported to the callback, with true only when it was coloured; clouds
// emptied by Reset, or still queued when the colorizer is destroyed, are not.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <orbel/processing/AlignmentInformation.h>
#include <orbel/sdk/Export.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

namespace orbel::processing {

struct ColorizerSettings {
    uint64_t maxTimeDifference = 0;  // microseconds at which a cloud and an image still match
    uint64_t waitMargin = 0;         // microseconds the newest image must be later than the cloud
    uint64_t bufferSize = 0;         // most clouds, and separately most images, that wait
};

// No lock of its own; one call at a time per object.
class ORBEL_SDK_API IColorizerAlgorithm {
public:
    virtual ~IColorizerAlgorithm();
    // Copies the alignment; may be called again at any time between colourings.
    virtual void Initialize(const AlignmentInformation& alignment) = 0;
    // Calls data.SetColors exactly once with one colour per point: the colour of the
    // pixel the point projects to, black for a point that projects nowhere in the image
    // (on or behind the camera, beyond the pixel data, not a number). Throws
    // orbel::sdk::Exception UNKNOWN_ERROR "Unsupported pixel format" for any image that
    // is not RGB8, before anything is written.
    virtual void Colorize(orbel::sdk::IColorizableData& data, const orbel::sdk::IImage& image) = 0;
};

class ORBEL_SDK_API IColorizer {
public:
    // 0 matches on the cloud's time stamp, any other value on its alternate time stamp.
    using TimestampMatchingMode = uint32_t;
    using Callback = std::function<void(std::shared_ptr<orbel::sdk::IColorizableData>, bool)>;

    virtual ~IColorizer();
    // Hands the alignment to the algorithm; nothing else starts.
    virtual void InitializeAndStart(const AlignmentInformation& alignment) = 0;
    // ReadFromQext, then InitializeAndStart; its exceptions reach the caller.
    virtual void InitializeFromQext(const std::string& path) = 0;
    // Queues the cloud and processes what can be decided. A cloud that the full queue
    // pushes out is reported with false.
    virtual void PushPointCloud(std::shared_ptr<orbel::sdk::IColorizableData> cloud) = 0;
    // Converts the image to RGB8 (before taking the lock; a failed conversion throws
    // orbel::sdk::Exception UNKNOWN_ERROR and queues nothing), queues it in time-stamp
    // order and processes what can be decided. A null image is ignored.
    virtual void PushImage(std::shared_ptr<orbel::sdk::IImage> image) = 0;
    // Until a callback is set, clouds wait. The callback runs under the colorizer's
    // mutex and must not call back into the colorizer.
    virtual void SetCallback(Callback callback) = 0;
    // Empties both queues without reports.
    virtual void Reset() = 0;
    // Processes the queued clouds without holding in-tolerance matches back for a
    // possibly better image; clouds newer than every image by more than the tolerance
    // still wait.
    virtual void Flush() = 0;
    virtual void SetMatchingMode(TimestampMatchingMode mode) = 0;
};

class ORBEL_SDK_API ColorizerFactory {
public:
    // A colorizer with a matcher of the settings' tolerance and wait margin, a default
    // algorithm and queues of bufferSize each.
    static std::unique_ptr<IColorizer> CreateColorizer(const ColorizerSettings& settings);
    // A default algorithm: the default alignment until Initialize replaces it.
    static std::unique_ptr<IColorizerAlgorithm> CreateColorizerAlgorithm();
};

}  // namespace orbel::processing
