// orbel::processing: the colorizer that pairs point clouds with camera images by
// time stamp and colours each cloud from its image. Clouds and images are pushed
// from any thread; the colorizer has no thread of its own and runs under its own
// mutex on the pushing thread, callback included.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <orbel/sdk/Export.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

namespace orbel::processing {

class AlignmentInformation;

struct ColorizerSettings {
    uint64_t maxTimeDifference = 0;  // microseconds at which a cloud and an image still match
    uint64_t waitMargin = 0;         // microseconds the newest image must be later than the cloud
    uint64_t bufferSize = 0;         // most clouds, and separately most images, that wait
};

class ORBEL_SDK_API IColorizer {
public:
    // 0 matches on the cloud's time stamp, any other value on its alternate time stamp.
    using TimestampMatchingMode = uint32_t;
    using Callback = std::function<void(std::shared_ptr<orbel::sdk::IColorizableData>, bool)>;

    virtual ~IColorizer();
    virtual void InitializeAndStart(const AlignmentInformation& alignment) = 0;
    virtual void InitializeFromQext(const std::string& path) = 0;
    virtual void PushPointCloud(std::shared_ptr<orbel::sdk::IColorizableData> cloud) = 0;
    virtual void PushImage(std::shared_ptr<orbel::sdk::IImage> image) = 0;
    virtual void SetCallback(Callback callback) = 0;
    virtual void Reset() = 0;
    virtual void Flush() = 0;
    virtual void SetMatchingMode(TimestampMatchingMode mode) = 0;
};

class ORBEL_SDK_API ColorizerFactory {
public:
    // Throws orbel::sdk::Exception when no colorizer can be made.
    static std::unique_ptr<IColorizer> CreateColorizer(const ColorizerSettings& settings);
};

}  // namespace orbel::processing
