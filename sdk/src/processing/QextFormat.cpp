#include "processing/QextFormat.h"

#include <bit>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace orbel::processing {
namespace {

float ReadFloat(const uint8_t* bytes) {
    const uint32_t bits = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                          uint32_t{bytes[3]} << 24;
    return std::bit_cast<float>(bits);
}

[[noreturn]] void Refuse(const std::string& fileName, const std::string& reason) {
    throw std::runtime_error("QEXT file " + fileName + " " + reason);
}

std::string Text(float value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

AlignmentInformation ParseQext(std::span<const uint8_t> bytes, const std::string& fileName) {
    if (bytes.size() < AlignmentInformation::kQextSize) {
        Refuse(fileName, "holds " + std::to_string(bytes.size()) + " bytes; an alignment needs " +
                             std::to_string(AlignmentInformation::kQextSize));
    }
    AlignmentInformation alignment;
    float* const fields[] = {
        &alignment.rotation[0], &alignment.rotation[1], &alignment.rotation[2], &alignment.rotation[3],
        &alignment.rotation[4], &alignment.rotation[5], &alignment.rotation[6], &alignment.rotation[7],
        &alignment.rotation[8], &alignment.translation[0], &alignment.translation[1], &alignment.translation[2],
        &alignment.k1, &alignment.k2, &alignment.fx, &alignment.fy, &alignment.cx, &alignment.cy,
    };
    static const char* const kNames[] = {"R00", "R01", "R02", "R10", "R11", "R12", "R20", "R21", "R22",
                                         "T0",  "T1",  "T2",  "k1",  "k2",  "fx",  "fy",  "cx",  "cy"};
    static_assert(std::size(fields) * 4 == AlignmentInformation::kQextSize);
    for (size_t i = 0; i < std::size(fields); ++i) {
        const float value = ReadFloat(bytes.data() + 4 * i);
        if (!std::isfinite(value)) Refuse(fileName, std::string("holds a value that is not a finite number (") + kNames[i] + ")");
        *fields[i] = value;
    }
    // A focal length of zero sends every point to the principal point; a negative one
    // mirrors the image: neither describes a camera.
    if (!(alignment.fx > 0) || !(alignment.fy > 0)) {
        Refuse(fileName, "has a focal length that is not positive (fx " + Text(alignment.fx) + ", fy " +
                             Text(alignment.fy) + ")");
    }
    return alignment;
}

}  // namespace orbel::processing
