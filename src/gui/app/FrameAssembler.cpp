#include "app/FrameAssembler.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "app/Logging.h"

namespace orbel::studio {

void FrameAssembler::AddLine(int frameNumber, const std::vector<uint8_t>& bytes) {
    auto cloud = orbel::sdk::CreatePointCloud();
    cloud->Deserialize(bytes);
    if (cloud->GetPointCount() == 0) return;
    const unsigned index = cloud->GetMetadata().lineIndex;
    std::lock_guard lock(mutex_);
    Lines& lines = frames_[frameNumber];
    // One line per index: the frame's arrays have one row per index, and a peer that
    // repeats an index must not make a frame larger than they are.
    const bool repeated = std::any_of(lines.begin(), lines.end(),
                                      [index](const auto& line) { return line->GetMetadata().lineIndex == index; });
    if (repeated) {
        Log("Dropping repeated line " + std::to_string(index) + " of frame " + std::to_string(frameNumber) +
                ": the frame already has that line",
            3);
        return;
    }
    lines.push_back(std::move(cloud));
}

FrameData FrameAssembler::BuildFrame(int frameNumber) {
    std::lock_guard lock(mutex_);
    FrameData frame;
    Lines& all = frames_[frameNumber];
    if (all.empty()) throw std::runtime_error("No lines available for frame " + std::to_string(frameNumber));

    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return a->GetMetadata().lineIndex < b->GetMetadata().lineIndex;
    });
    const size_t width = all.front()->GetX().size();

    // Only lines that fit the 56 rows of `width` points take part.
    std::vector<orbel::sdk::IPointCloud*> lines;
    lines.reserve(all.size());
    for (auto& line : all) {
        const unsigned index = line->GetMetadata().lineIndex;
        const size_t points = line->GetX().size();
        if (index >= FrameData::kLines || points != width) {
            Log("Dropping line " + std::to_string(index) + " of frame " + std::to_string(frameNumber) + " with " +
                    std::to_string(points) + " points: the frame has " + std::to_string(FrameData::kLines) +
                    " lines of " + std::to_string(width) + " points",
                3);
            continue;
        }
        lines.push_back(line.get());
    }
    if (lines.empty()) throw std::runtime_error("No lines available for frame " + std::to_string(frameNumber));

    frame.xyz.reserve(std::max(FrameData::kLiveFloats, width * 3 * FrameData::kLines));
    frame.timestamps.reserve(width * lines.size());
    const bool coloured = !lines.front()->GetColors().empty();
    if (coloured) frame.rgb.assign(std::max(FrameData::kLiveFloats, width * 3 * FrameData::kLines), 0);

    size_t colourOffset = 0;
    for (auto* line : lines) {
        const auto& x = line->GetX();
        const auto& y = line->GetY();
        const auto& z = line->GetZ();
        for (size_t i = 0; i < x.size(); ++i) {
            frame.xyz.push_back(x[i]);
            frame.xyz.push_back(y[i]);
            frame.xyz.push_back(z[i]);
        }
        frame.timestamps.insert(frame.timestamps.end(), x.size(), line->GetTimestamp());
        if (coloured) {
            const auto& colours = line->GetColors();
            const size_t n = std::min(colours.size(), x.size());
            for (size_t i = 0; i < n; ++i) {
                frame.rgb[colourOffset + 3 * i] = colours[i].r;
                frame.rgb[colourOffset + 3 * i + 1] = colours[i].g;
                frame.rgb[colourOffset + 3 * i + 2] = colours[i].b;
            }
            colourOffset += 3 * x.size();
        }
    }

    frame.height = FrameData::kLines;
    frame.width = static_cast<uint32_t>(width);
    // Rows by line index; a missing line leaves its row zero.
    frame.signal.assign(FrameData::kLines * width, 0.0f);
    frame.ambient.assign(FrameData::kLines * width, 0.0f);
    for (auto* line : lines) {
        const size_t row = line->GetMetadata().lineIndex * width;
        const auto& reflectivity = line->GetReflectivity();
        std::copy_n(reflectivity.begin(), width, frame.signal.begin() + row);
        const auto& ambient = line->GetAmbient();
        std::transform(ambient.begin(), ambient.begin() + width, frame.ambient.begin() + row,
                       [](uint16_t a) { return static_cast<float>(a); });
    }
    frame.frameNumber = frameNumber;
    return frame;
}

FrameAssembler::Lines FrameAssembler::TakeFrame(int frameNumber) {
    std::lock_guard lock(mutex_);
    const auto it = frames_.find(frameNumber);
    if (it == frames_.end()) return {};
    Lines lines = std::move(it->second);
    frames_.erase(it);
    return lines;
}

void FrameAssembler::EraseFrame(int frameNumber) {
    std::lock_guard lock(mutex_);
    frames_.erase(frameNumber);
}

size_t FrameAssembler::FrameCount() {
    std::lock_guard lock(mutex_);
    return frames_.size();
}

}  // namespace orbel::studio
