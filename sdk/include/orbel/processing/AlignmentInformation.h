// orbel::processing::AlignmentInformation: the fixed lidar-to-camera alignment the
// colorizer projects points with (rotation, translation, two radial distortion terms,
// the camera's focal lengths and principal point), and the QEXT file that holds it:
// exactly these eighteen values as little-endian IEEE 754 32-bit floats, 72 bytes,
// no header, in field order (bytes after 72 are not read).
//
// ReadFromQext refuses a file it cannot use and then leaves the object unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include <orbel/sdk/Export.h>

namespace orbel::processing {

class ORBEL_SDK_API AlignmentInformation {
public:
    static constexpr size_t kQextSize = 72;

    // Identity rotation, no translation, no distortion, unit focal lengths, principal point (0, 0).
    AlignmentInformation();
    AlignmentInformation(const AlignmentInformation& other);
    AlignmentInformation(AlignmentInformation&& other) noexcept;
    AlignmentInformation& operator=(const AlignmentInformation& other);
    AlignmentInformation& operator=(AlignmentInformation&& other) noexcept;
    ~AlignmentInformation();

    // Throws std::runtime_error "Cannot open qext file" when the file cannot be opened,
    // and a std::runtime_error naming the file when it is shorter than 72 bytes, holds a
    // value that is not finite or a focal length that is not positive.
    void ReadFromQext(const std::string& path);

    bool operator==(const AlignmentInformation&) const = default;

    // Camera coordinates c = R p + T; R is row-major, rotation[3 * row + column].
    std::array<float, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<float, 3> translation{0, 0, 0};  // unit of the point coordinates (mm for sensor clouds)
    float k1 = 0;  // radial distortion of r squared
    float k2 = 0;  // radial distortion of r to the fourth
    float fx = 1;  // focal length along image columns, pixels
    float fy = 1;  // focal length along image rows, pixels
    float cx = 0;  // principal point column, pixels
    float cy = 0;  // principal point row, pixels
};

}  // namespace orbel::processing
