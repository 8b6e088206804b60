#include "processing/Colorizer.h"

#include <algorithm>
#include <exception>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "camera/ImageConversion.h"
#include "dataTypes/Image.h"
#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::processing {

using orbel::sdk::IColorizableData;
using orbel::sdk::IImage;
using orbel::sdk::PixelFormat;

std::shared_ptr<IImage> ConvertToRGB8Image(std::shared_ptr<IImage> image) {
    if (!image) orbel::sdk::ThrowUnknownError("Image is null");
    if (image->GetPixelFormat() == PixelFormat::RGB8) return image;

    const std::vector<uint8_t>& source = image->GetData();
    if (source.empty()) orbel::sdk::ThrowUnknownError("Image contains no pixel data");
    const uint32_t width = image->GetWidth();
    const uint32_t height = image->GetHeight();
    std::vector<uint8_t> rgb;
    bool converted = false;
    try {
        const auto size = orbel::camera::RequiredPixelBytes(PixelFormat::RGB8, width, height);
        if (size) {
            rgb.assign(static_cast<size_t>(*size), 0);
            converted = orbel::camera::ConvertToRGB8(image->GetPixelFormat(), source, rgb, width, height);
        }
    } catch (...) {
        converted = false;
    }
    if (!converted) orbel::sdk::ThrowUnknownError("Failed to convert image to RGB8");

    auto result = std::make_shared<orbel::data::Image>();
    orbel::sdk::ImageMetadata metadata = image->GetMetadata();
    metadata.format = PixelFormat::RGB8;
    result->SetMetadata(metadata);
    result->SetData(rgb.data(), rgb.size());
    return result;
}

Colorizer::Colorizer(std::unique_ptr<IMatcher> matcher, std::unique_ptr<IColorizerAlgorithm> algorithm,
                     uint64_t bufferSize)
    : bufferSize_(bufferSize), matcher_(std::move(matcher)), algorithm_(std::move(algorithm)) {}

Colorizer::~Colorizer() = default;

void Colorizer::InitializeAndStart(const AlignmentInformation& alignment) {
    std::lock_guard lock(mutex_);
    algorithm_->Initialize(alignment);
}

void Colorizer::InitializeFromQext(const std::string& path) {
    AlignmentInformation alignment;
    alignment.ReadFromQext(path);
    InitializeAndStart(alignment);
}

void Colorizer::SetCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void Colorizer::SetMatchingMode(TimestampMatchingMode mode) { usePrimaryTimestamp_ = mode == 0; }

void Colorizer::PushImage(std::shared_ptr<IImage> image) {
    if (!image) return;
    std::shared_ptr<IImage> rgb = ConvertToRGB8Image(std::move(image));
    const uint64_t time = rgb->GetMetadata().deviceTimestamp_us;

    std::lock_guard lock(mutex_);
    // After every image of the same or an earlier time, so equal times keep arrival order.
    const auto at = std::upper_bound(images_.begin(), images_.end(), time, [](uint64_t t, const auto& queued) {
        return t < queued->GetMetadata().deviceTimestamp_us;
    });
    images_.insert(at, std::move(rgb));
    if (images_.size() > bufferSize_) images_.pop_front();
    _TryProcess(MatchMode::Normal);
}

void Colorizer::PushPointCloud(std::shared_ptr<IColorizableData> cloud) {
    if (!cloud) return;
    std::lock_guard lock(mutex_);
    clouds_.push_back(std::move(cloud));
    if (clouds_.size() > bufferSize_) {
        std::shared_ptr<IColorizableData> oldest = std::move(clouds_.front());
        clouds_.pop_front();
        if (callback_) callback_(std::move(oldest), false);
    }
    _TryProcess(MatchMode::Normal);
}

void Colorizer::Flush() {
    std::lock_guard lock(mutex_);
    _TryProcess(MatchMode::Flush);
}

void Colorizer::Reset() {
    std::lock_guard lock(mutex_);
    clouds_.clear();
    images_.clear();
}

void Colorizer::_TryProcess(MatchMode mode) {
    while (callback_ && !clouds_.empty()) {
        std::shared_ptr<IColorizableData> cloud = clouds_.front();
        const MatchResult result = matcher_->Match(*cloud, images_, mode, usePrimaryTimestamp_);
        switch (result.status) {
            case MatchStatus::Wait: return;
            case MatchStatus::NoMatch:
            case MatchStatus::TooOld:
                // Reported before it is removed: a callback that throws leaves it first in line.
                callback_(cloud, false);
                clouds_.pop_front();
                break;
            case MatchStatus::Matched: {
                clouds_.pop_front();
                if (result.index >= images_.size()) break;  // a matcher's bad answer: nothing to colour with
                std::shared_ptr<IImage> image = images_[result.index];
                // Older images can serve no later cloud; the matched one may serve the next.
                images_.erase(images_.begin(), images_.begin() + static_cast<std::ptrdiff_t>(result.index));
                bool coloured = false;
                try {
                    algorithm_->Colorize(*cloud, *image);
                    coloured = true;
                } catch (const std::exception& e) {
                    ORBEL_LOG_WARNING(L"Colorizer: a matched point cloud could not be coloured: " +
                                      orbel::utilities::ConvertToWStringLossy(e.what()));
                } catch (...) {
                    ORBEL_LOG_WARNING(L"Colorizer: a matched point cloud could not be coloured");
                }
                callback_(std::move(cloud), coloured);
                break;
            }
        }
    }
}

}  // namespace orbel::processing
