// A QPC frame file's bytes through the program's QPC readers: the frame reader (with and
// without metres) and the merged-cloud assembly of its 56 lines. Checked on every file
// they accept: 56 lines of one point type and count; the frame has a time stamp, a signal
// and an ambient value per point and, when coloured, three colour bytes per point; the
// merged cloud holds 56 x N points, its arrays one value per point, its coordinates those
// of the frame in the same order.
//
// Input: the file itself (seeds are small valid files of each point type).
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "common/FuzzCheck.h"
#include "sessions/QpcFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    std::vector<std::span<const uint8_t>> lines;
    try {
        lines = orbel::studio::SplitQpcLines(bytes);
    } catch (const std::runtime_error&) {
        return 0;  // refused: nothing more may be read from it
    }
    ORBEL_FUZZ_CHECK(lines.size() == orbel::studio::kFrameLineCount, "56 lines");
    for (const auto& line : lines) {
        ORBEL_FUZZ_CHECK(line.size() == lines[0].size() && line[264] == lines[0][264], "one size and type");
    }

    const auto frame = orbel::studio::DecodeQpcFrame(bytes, (size & 1) != 0);
    const size_t points = frame->xyz.size() / 3;
    ORBEL_FUZZ_CHECK(frame->xyz.size() % 3 == 0, "whole points");
    ORBEL_FUZZ_CHECK(frame->timestamps.size() == points, "a time stamp per point");
    ORBEL_FUZZ_CHECK(frame->signal.size() == points && frame->ambient.size() == points, "signal and ambient per point");
    ORBEL_FUZZ_CHECK(frame->rgb.empty() || frame->rgb.size() == 3 * points, "a colour per point when coloured");
    ORBEL_FUZZ_CHECK(points % orbel::studio::kFrameLineCount == 0, "56 lines of one point count");

    std::vector<std::vector<uint8_t>> copies;
    for (const auto& line : lines) copies.emplace_back(line.begin(), line.end());
    const auto merged = orbel::studio::AssembleFramePointCloud(copies);
    ORBEL_FUZZ_CHECK(merged != nullptr && merged->GetPointCount() == points, "the merged cloud holds every point");
    const auto& x = merged->GetX();
    const auto& confidence = merged->GetConfidence();
    ORBEL_FUZZ_CHECK(x.size() == points && confidence.size() == points, "one value per point");
    if (!frame->inMetres) {
        for (size_t p = 0; p < points; ++p) {
            const float value = x[p];
            const float read = frame->xyz[3 * p];
            ORBEL_FUZZ_CHECK(value == read || (value != value && read != read), "the same x in the same order");
        }
    }
    return 0;
}
