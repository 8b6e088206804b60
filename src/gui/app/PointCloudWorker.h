// PointCloudWorker: the point-cloud worker's per-cloud step. It collects the lines
// of the current frame number and, when the first line of another frame number
// arrives, publishes the finished frame as FrameData followed by the batch of its
// line clouds. The last frame of a stream is never published (no line follows it).
// Nor is a first frame that the worker joined after it had begun: the sensor starts a
// stream with line 0, so a first frame without it is the tail of a frame whose other
// lines were sent before the stream was taken in (with the camera on, the streamer
// takes lines in only once the camera has started). Shown, such a tail is a strip of
// the scene, and the first frame is the one the viewer fits its colour ranges to.
// Frame numbers that a stream skips are frames of which no line arrived (the SDK drops
// lines while its buffer is full): they are named in a warning, so that none is lost
// without a word; a frame that lost only some lines is named where it is recorded.
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
    void ReportFramesNotReceived(int previous, int next);
    void PublishFrame(int frameNumber);

    std::shared_ptr<ObjectDispatcher> dispatcher_;
    FrameAssembler assembler_;
    std::optional<int> current_;
    // The current frame is the worker's first and no line 0 of it has come.
    bool joinedMidFrame_ = false;
};

}  // namespace orbel::studio
