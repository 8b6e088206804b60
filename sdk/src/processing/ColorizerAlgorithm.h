// orbel::processing::ColorizerAlgorithm: colours one point cloud from one RGB8
// image by projecting every point through the alignment (rotation, translation,
// radial distortion, pinhole) and taking the pixel it lands on.
//
// A point stays black when it cannot be seen: x (the sensor's forward axis) within
// 1e-6 of zero, on or behind the camera (depth below 1e-6), a distortion factor
// that is not positive (the lens model folds back there), a projection outside the
// image or beyond its pixel bytes, or any value that is not a number. Pixel
// coordinates are tested against the image as floats before any conversion to an
// integer, so no coordinate, however large, can wrap into the image.
//
// No lock: one Colorize at a time per object; its working list lives on the call's
// stack and is allocated once per call.
#pragma once

#include <orbel/processing/Colorizer.h>

namespace orbel::processing {

class ColorizerAlgorithm final : public IColorizerAlgorithm {
public:
    ColorizerAlgorithm() = default;
    ColorizerAlgorithm(const ColorizerAlgorithm&) = default;
    ColorizerAlgorithm& operator=(const ColorizerAlgorithm&) = default;
    ~ColorizerAlgorithm() override;

    void Initialize(const AlignmentInformation& alignment) override;
    void Colorize(orbel::sdk::IColorizableData& data, const orbel::sdk::IImage& image) override;

    const AlignmentInformation& Alignment() const { return alignment_; }

private:
    AlignmentInformation alignment_;
};

}  // namespace orbel::processing
