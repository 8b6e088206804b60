// A PLY file's bytes through the program's PLY reader: any header (formats, elements before
// and after the vertices, list and scalar properties of every type, comments) and any body.
// Checked on every file it accepts: whole points, a signal, an ambient value and a time
// stamp per point, and three colour bytes per point when coloured; and a file it wrote from
// that frame reads back to the same coordinates.
//
// Input: the file itself (seeds are small files in each format).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/FuzzCheck.h"
#include "common/FuzzSupport.h"
#include "sessions/PlyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<orbel::studio::FrameData> frame;
    try {
        frame = orbel::studio::ParsePly(std::span<const uint8_t>(data, size));
    } catch (const std::runtime_error&) {
        return 0;  // refused with its reason
    }
    ORBEL_FUZZ_CHECK(frame != nullptr, "accepted files give a frame");
    ORBEL_FUZZ_CHECK(frame->xyz.size() % 3 == 0, "whole points");
    const size_t points = frame->xyz.size() / 3;
    ORBEL_FUZZ_CHECK(points > 0, "an accepted file has vertices");
    ORBEL_FUZZ_CHECK(frame->signal.size() == points && frame->ambient.size() == points, "signal and ambient per point");
    ORBEL_FUZZ_CHECK(frame->timestamps.size() == points, "a time stamp per point");
    ORBEL_FUZZ_CHECK(frame->rgb.empty() || frame->rgb.size() == 3 * points, "a colour per point when coloured");

    // Small frames only: the round trip goes through a file.
    if (points <= 64) {
        const auto path = orbel::fuzzing::ProcessTempDir() / "roundtrip.ply";
        orbel::studio::WritePly(path, *frame);
        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const auto back = orbel::studio::ParsePly(written);
        ORBEL_FUZZ_CHECK(back->xyz.size() == frame->xyz.size() &&
                             std::memcmp(back->xyz.data(), frame->xyz.data(), frame->xyz.size() * sizeof(float)) == 0,
                         "a written frame reads back to the same coordinates");
        ORBEL_FUZZ_CHECK(back->rgb == frame->rgb && back->timestamps == frame->timestamps, "and the same colours and times");
    }
    return 0;
}
