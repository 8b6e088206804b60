// The colorizer's time-stamp matcher: for one cloud, the queued image nearest in
// time, or why there is none yet. Images are taken as ordered by device time stamp
// (the colorizer inserts them in that order). Stateless apart from its two limits;
// any thread may call it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

namespace orbel::processing {

enum class MatchMode { Normal = 0, Flush = 1 };

enum class MatchStatus {
    NoMatch = 0,  // no image near enough, and none can come (t lies in a gap, or no images)
    Matched = 1,  // index names the image
    TooOld = 2,   // the cloud is older than every image by more than the tolerance
    Wait = 3,     // a later image could still match as well or better
};

struct MatchResult {
    MatchStatus status = MatchStatus::NoMatch;
    size_t index = 0;  // valid with Matched
};

using ImageQueue = std::deque<std::shared_ptr<orbel::sdk::IImage>>;

class IMatcher {
public:
    virtual ~IMatcher() = default;
    // primary selects the cloud's time stamp, otherwise its alternate time stamp.
    virtual MatchResult Match(const orbel::sdk::IColorizableData& cloud, const ImageQueue& images, MatchMode mode,
                              bool primary) const = 0;
};

class Matcher final : public IMatcher {
public:
    // maxTimeDifference: largest distance (us, inclusive) at which a cloud and an image
    // match. waitMargin: in normal mode, how much later than the cloud (us) the newest
    // image must be before an in-tolerance match is accepted.
    Matcher(uint64_t maxTimeDifference, uint64_t waitMargin);

    MatchResult Match(const orbel::sdk::IColorizableData& cloud, const ImageQueue& images, MatchMode mode,
                      bool primary) const override;

private:
    uint64_t maxTimeDifference_;
    uint64_t waitMargin_;
};

}  // namespace orbel::processing
