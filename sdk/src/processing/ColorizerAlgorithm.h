// orbel::processing::ColorizerAlgorithm: colours one point cloud from one RGB8
// image by projecting every point through the alignment (rotation, translation,
// radial distortion, pinhole) and taking the pixel it lands on.
//
// A point stays black when it cannot be seen: x (the sensor's forward axis) within
// 1e-6 of zero, on or behind the camera (depth below 1e-6), past the radius where the
// lens model folds back, a projection outside the image or beyond its pixel bytes, or
// any value that is not a number. The distorted radius f(r) r = r + k1 r^3 + k2 r^5
// grows only up to the first r where its derivative 1 + 3 k1 r^2 + 5 k2 r^4 reaches
// zero; beyond it a point would land back inside the picture, on a pixel that belongs
// to a point nearer the centre. That limit is worked out once per alignment. Pixel
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

    // The smallest r^2 > 0 at which d(f(r) r)/dr <= 0; infinity when the image radius
    // grows for ever (no distortion, or terms that never turn it back).
    static float FoldBackRadiusSquared(float k1, float k2);

private:
    AlignmentInformation alignment_;
    float foldBackR2_ = FoldBackRadiusSquared(0.0f, 0.0f);
};

}  // namespace orbel::processing
