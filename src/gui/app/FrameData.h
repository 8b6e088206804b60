// The program's published data records: one assembled lidar frame (FrameData)
// and one camera image (CameraData). Publishers build them once and share them
// through std::shared_ptr; consumers never copy them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/AlignedAllocator.h"
#include "app/AppAction.h"

namespace orbel::studio {

class OrbelStudioData {
public:
    OrbelStudioData() : creationTime100ns(SystemTicks100ns()), creationSequence(NextCreationSequence()) {}
    virtual ~OrbelStudioData() = default;

    int32_t frameNumber = 0;
    std::string sourceName;  // empty in live data; file readers put the file's name here
    int64_t creationTime100ns;
    uint64_t creationSequence;  // NextCreationSequence at construction; copies keep it
};

// Whether the record was made before the action: what a ClearViews drops.
inline bool MadeBefore(const OrbelStudioData& data, const AppAction& action) {
    return data.creationSequence < action.creationSequence;
}

using AlignedFloats = std::vector<float, AlignedAllocator<float, 32>>;

class FrameData : public OrbelStudioData {
public:
    static constexpr uint32_t kLines = 56;
    static constexpr size_t kLiveFloats = 56 * 192 * 3;

    AlignedFloats xyz;             // x, y, z per point, interleaved; millimetres unless inMetres
    bool inMetres = false;         // a file reader scaled the coordinates by 0.001
    std::vector<float> signal;     // kLines rows of width values, row = line index (reflectivity)
    std::vector<float> ambient;    // same shape, from the lines' 16-bit ambient values
    std::vector<uint8_t> rgb;      // three bytes per point in point order; empty without colours
    std::vector<float> extra;      // empty in live frames
    std::vector<uint64_t> timestamps;  // per point: the time stamp of its line
    uint32_t width = 0;            // points per line
    uint32_t height = 0;           // lines per frame
    // x, y and z alone, filled once when a view asks for that coordinate as its scalar.
    std::vector<float> xCache;
    std::vector<float> yCache;
    std::vector<float> zCache;
};

class CameraData : public OrbelStudioData {
public:
    uint32_t imageFrameNumber = 0;
    uint64_t deviceTimestamp_us = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
    uint32_t channels = 3;
    uint32_t bitsPerChannel = 8;
    uint64_t byteSize = 0;
    uint32_t format = 2;  // 0 one-channel (Bayer) data, 2 three-channel RGB data
};

}  // namespace orbel::studio
