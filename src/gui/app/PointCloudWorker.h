// PointCloudWorker: the point-cloud worker's per-cloud step. It collects the lines
// of the current frame number and, when the first line of another frame number
// arrives, publishes the finished frame as FrameData followed by the batch of its
// line clouds. The last frame of a stream is never published (no line follows it).
// Used by one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameAssembler.h"
#include "app/ObjectDispatcher.h"

namespace orbel::studio {

using LineBatch = std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>;

class PointCloudWorker {
public:
    explicit PointCloudWorker(std::shared_ptr<ObjectDispatcher> dispatcher);

    // Never throws: failures are logged and the stream goes on.
    void Process(orbel::sdk::IPointCloud& cloud);

private:
    void PublishFrame(int frameNumber);

    std::shared_ptr<ObjectDispatcher> dispatcher_;
    FrameAssembler assembler_;
    std::optional<int> current_;
};

}  // namespace orbel::studio
