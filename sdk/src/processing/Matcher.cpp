#include "processing/Matcher.h"

#include <algorithm>
#include <limits>

namespace orbel::processing {
namespace {

uint64_t DeviceTime(const std::shared_ptr<orbel::sdk::IImage>& image) {
    return image->GetMetadata().deviceTimestamp_us;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

}  // namespace

Matcher::Matcher(uint64_t maxTimeDifference, uint64_t waitMargin)
    : maxTimeDifference_(maxTimeDifference), waitMargin_(waitMargin) {}

MatchResult Matcher::Match(const orbel::sdk::IColorizableData& cloud, const ImageQueue& images, MatchMode mode,
                           bool primary) const {
    if (images.empty()) return {MatchStatus::NoMatch, 0};
    const uint64_t t = primary ? cloud.GetTimestamp() : cloud.GetAlternateTimestamp();

    // The first image not earlier than t, and the one before it; a tie goes to the later.
    const auto later = std::partition_point(images.begin(), images.end(),
                                            [t](const auto& image) { return DeviceTime(image) < t; });
    const auto laterIndex = static_cast<size_t>(later - images.begin());
    uint64_t best = std::numeric_limits<uint64_t>::max();
    size_t candidate = 0;
    if (later != images.end()) {
        best = DeviceTime(*later) - t;
        candidate = laterIndex;
    }
    if (laterIndex > 0) {
        const uint64_t difference = t - DeviceTime(images[laterIndex - 1]);
        if (later == images.end() || difference < best) {
            best = difference;
            candidate = laterIndex - 1;
        }
    }

    const uint64_t newest = DeviceTime(images.back());
    if (best <= maxTimeDifference_) {
        if (mode == MatchMode::Normal && SaturatingAdd(t, waitMargin_) > newest) return {MatchStatus::Wait, 0};
        return {MatchStatus::Matched, candidate};
    }
    if (t < DeviceTime(images.front())) return {MatchStatus::TooOld, 0};
    if (t > newest) return {MatchStatus::Wait, 0};
    return {MatchStatus::NoMatch, 0};
}

}  // namespace orbel::processing
