// FrameAssembler: collects the line clouds of each frame number and builds one
// FrameData from them: xyz, rgb and time stamps in line-index order of the lines
// that arrived, signal and ambient as 56 rows placed by line index (zero rows for
// missing lines). A frame holds at most one line per index: a repeated index is
// dropped with a log line and the first line kept. Lines that do not fit the frame
// (an index of 56 or more, or a point count other than the first line's) are left
// out of the built frame with a log line, never written outside the arrays. Every
// operation holds the assembler's mutex; only the point-cloud worker uses it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"

namespace orbel::studio {

class FrameAssembler {
public:
    using Lines = std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>;

    // Deserialises the bytes into a new cloud; a cloud without points, or with the index
    // of a line the frame already holds, is dropped.
    // Throws std::runtime_error for bytes that are not a point-cloud message.
    void AddLine(int frameNumber, const std::vector<uint8_t>& bytes);
    // Throws std::runtime_error "No lines available for frame N" when none arrived.
    FrameData BuildFrame(int frameNumber);
    Lines TakeFrame(int frameNumber);
    void EraseFrame(int frameNumber);
    size_t FrameCount();

private:
    std::map<int, Lines> frames_;
    std::mutex mutex_;
};

}  // namespace orbel::studio
