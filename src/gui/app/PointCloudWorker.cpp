#include "app/PointCloudWorker.h"

#include <cstdint>
#include <string>

#include "app/Logging.h"

namespace orbel::studio {

PointCloudWorker::PointCloudWorker(std::shared_ptr<ObjectDispatcher> dispatcher) : dispatcher_(std::move(dispatcher)) {}

void PointCloudWorker::Process(orbel::sdk::IPointCloud& cloud) {
    try {
        const orbel::sdk::PointCloudMetadata metadata = cloud.GetMetadata();
        const int frame = static_cast<int>(metadata.frameNumber);
        const std::vector<uint8_t>& bytes = cloud.Serialize();
        if (current_ && *current_ != frame) {
            ReportFramesNotReceived(*current_, frame);
            if (joinedMidFrame_) {
                Log("Skipping frame " + std::to_string(*current_) + ": the stream was taken in after its first line", 1);
            } else {
                PublishFrame(*current_);
            }
            assembler_.EraseFrame(*current_);
            joinedMidFrame_ = false;
        }
        if (!current_) {
            joinedMidFrame_ = metadata.lineIndex != 0;
        } else if (frame == *current_ && metadata.lineIndex == 0) {
            joinedMidFrame_ = false;  // lines of a frame may come out of order
        }
        current_ = frame;
        assembler_.AddLine(frame, bytes);
    } catch (const std::exception& e) {
        Log(std::string("Error processing point cloud data: ") + e.what(), 4);
    }
}

void PointCloudWorker::ReportFramesNotReceived(int previous, int next) {
    // Frame numbers count up by one within a stream; a step back (a wrap, a sensor that
    // began again) loses nothing that can be named.
    const int64_t first = int64_t{previous} + 1;
    const int64_t last = int64_t{next} - 1;
    if (last < first) return;
    Log(first == last ? "Frame " + std::to_string(first) + " not received: no line of it arrived"
                      : "Frames " + std::to_string(first) + " to " + std::to_string(last) +
                            " not received: no line of them arrived",
        3);
}

void PointCloudWorker::PublishFrame(int frameNumber) {
    try {
        dispatcher_->Publish(std::make_shared<FrameData>(assembler_.BuildFrame(frameNumber)));
        dispatcher_->Publish(std::make_shared<LineBatch>(assembler_.TakeFrame(frameNumber)));
    } catch (const std::exception& e) {
        Log(std::string("Error building frame: ") + e.what() + " Skipping...", 4);
    }
}

}  // namespace orbel::studio
