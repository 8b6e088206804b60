// The decisions of the viewer-configuration panel, apart from its drawing: which list
// entry stands for which scalar, the default bounds of each scalar, the percentile fit
// of a range, the histogram bins and the range slider's geometry. Values that are not
// finite (NaN, infinities) are left out of every minimum, maximum, fit and histogram.
// Pure functions and plain records, safe on any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "views/ColormapTypes.h"

namespace orbel::studio::gui {

struct ScalarBounds {
    float lower = 0.0f;
    float upper = 0.0f;
};

// The 3D scalar list: "Height", "Depth", "Reflectivity", "Ambient", "Color".
enum class Scalar3DEntry : int { Height = 0, Depth = 1, Reflectivity = 2, Ambient = 3, Color = 4 };
// The 2D scalar list: "Reflectivity", "Ambient", "Depth".
enum class Scalar2DEntry : int { Reflectivity = 0, Ambient = 1, Depth = 2 };

inline constexpr std::array<const char*, 7> k3DColormapNames{"Jet",       "Viridis", "Magma",   "Cividis",
                                                             "Grayscale", "Uniform", "Embedded"};
inline constexpr std::array<const char*, 5> k2DColormapNames{"Jet", "Viridis", "Magma", "Cividis", "Grayscale"};
inline constexpr std::array<const char*, 5> k3DScalarNames{"Height", "Depth", "Reflectivity", "Ambient", "Color"};
inline constexpr std::array<const char*, 3> k2DScalarNames{"Reflectivity", "Ambient", "Depth"};

// The entry shown for the configuration: "Color" for the embedded map, else by scalar
// type (Height for z and for anything unknown).
Scalar3DEntry Entry3DFor(ColormapType map, ScalarType type);
Scalar2DEntry Entry2DFor(ScalarType type);
// The scalar type of a 3D entry other than "Color", and of a 2D entry.
ScalarType ScalarTypeOf(Scalar3DEntry entry);
ScalarType ScalarTypeOf(Scalar2DEntry entry);

// Default slider bounds of a 3D entry: Height -15000..15000, Depth 0..150000,
// Reflectivity 0..100, Ambient 0..765, anything else 0..200.
ScalarBounds DefaultBounds3D(Scalar3DEntry entry);
// Bounds of a scalar type for the fit and the 2D slider: x 0..150000, z -15000..15000,
// signal 0..300, ambient 0..765, anything else 0..200.
ScalarBounds FitBounds(ScalarType type);

// Smallest and largest finite value; none when there is none.
std::optional<ScalarBounds> FiniteMinMax(const std::vector<float>& values);

// The 1st and 99th percentile of the finite values (indices min(n - 1, floor(0.01 n))
// and min(n - 1, floor(0.99 n)) of the sorted values), each clamped into `bounds`; none
// when no value is finite.
std::optional<ScalarBounds> FitRange(std::vector<float> values, ScalarBounds bounds);

// Index of `name` in `names`, or 0 when it is not there.
template <std::size_t N>
int IndexOfName(const std::array<const char*, N>& names, const std::string& name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name == names[i]) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

inline constexpr int kHistogramBins = 64;

struct Histogram {
    std::vector<float> values;  // the finite values of one channel
    float lower = 0.0f;
    float upper = 0.0f;
    std::array<double, kHistogramBins> counts{};
    std::array<double, kHistogramBins> centres{};
    double countScale = 1000.0;  // the count axis ends at 1.1 x this
};

// Takes the channel's finite values (when given) and the bounds (when given) and bins
// the values that lie within lower..upper into 64 equal bins; a bin width too small to
// divide by puts every value into bin 32.
void UpdateHistogram(Histogram& histogram, const std::vector<float>* values, std::optional<ScalarBounds> bounds);

// Where t along a colour map samples a histogram bin: its centre within the display
// range, clamped to 0..1 (0 when the range is empty or not finite).
float HistogramColorPosition(double centre, ScalarBounds display);

// Range slider geometry over the track left..right for values within lower..upper;
// every division is safe when lower equals upper.
float SliderX(float value, ScalarBounds bounds, float left, float right);
float SliderValue(float mouseX, ScalarBounds bounds, float left, float right);
// Moves the handle nearer to `value` (the upper one when equally near), keeping `gap`
// between them. Returns the new min and max.
std::pair<float, float> MoveNearestHandle(float value, float min, float max, float mouseX, float minX, float maxX,
                                          float gap);
// Where the two handle labels start (x of their left ends): 10 pixels left of their handles,
// pushed apart about their middle when they would come within `spacing` of each other, and
// kept within lo..hi when they fit, so that both stay readable however close the handles.
std::pair<float, float> PlaceHandleLabels(float minX, float maxX, float minWidth, float maxWidth, float lo, float hi,
                                          float spacing);

}  // namespace orbel::studio::gui
