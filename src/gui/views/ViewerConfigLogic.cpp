// Scalar tables, fits, histogram bins and slider geometry of the viewer panel.
#include "views/ViewerConfigLogic.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orbel::studio::gui {
namespace {

bool Finite(float v) { return std::isfinite(v); }

float ClampInto(float v, ScalarBounds b) {
    // Bounds the wrong way round still give a value within them.
    const float lo = std::min(b.lower, b.upper);
    const float hi = std::max(b.lower, b.upper);
    return std::clamp(v, lo, hi);
}

}  // namespace

Scalar3DEntry Entry3DFor(ColormapType map, ScalarType type) {
    if (map == COLORMAP_EMBEDDED) {
        return Scalar3DEntry::Color;
    }
    switch (type) {
        case ScalarType::XAxis:
            return Scalar3DEntry::Depth;
        case ScalarType::Signal:
            return Scalar3DEntry::Reflectivity;
        case ScalarType::Ambient:
            return Scalar3DEntry::Ambient;
        default:
            return Scalar3DEntry::Height;
    }
}

Scalar2DEntry Entry2DFor(ScalarType type) {
    switch (type) {
        case ScalarType::Ambient:
            return Scalar2DEntry::Ambient;
        case ScalarType::XAxis:
            return Scalar2DEntry::Depth;
        default:
            return Scalar2DEntry::Reflectivity;
    }
}

ScalarType ScalarTypeOf(Scalar3DEntry entry) {
    switch (entry) {
        case Scalar3DEntry::Depth:
            return ScalarType::XAxis;
        case Scalar3DEntry::Reflectivity:
            return ScalarType::Signal;
        case Scalar3DEntry::Ambient:
            return ScalarType::Ambient;
        default:
            return ScalarType::ZAxis;
    }
}

ScalarType ScalarTypeOf(Scalar2DEntry entry) {
    switch (entry) {
        case Scalar2DEntry::Ambient:
            return ScalarType::Ambient;
        case Scalar2DEntry::Depth:
            return ScalarType::XAxis;
        default:
            return ScalarType::Signal;
    }
}

ScalarBounds DefaultBounds3D(Scalar3DEntry entry) {
    switch (entry) {
        case Scalar3DEntry::Height:
            return {-15000.0f, 15000.0f};
        case Scalar3DEntry::Depth:
            return {0.0f, 150000.0f};
        case Scalar3DEntry::Reflectivity:
            return {0.0f, 100.0f};
        case Scalar3DEntry::Ambient:
            return {0.0f, 765.0f};
        default:
            return {0.0f, 200.0f};
    }
}

ScalarBounds FitBounds(ScalarType type) {
    switch (type) {
        case ScalarType::XAxis:
            return {0.0f, 150000.0f};
        case ScalarType::ZAxis:
            return {-15000.0f, 15000.0f};
        case ScalarType::Signal:
            return {0.0f, 300.0f};
        case ScalarType::Ambient:
            return {0.0f, 765.0f};
        default:
            return {0.0f, 200.0f};
    }
}

std::optional<ScalarBounds> FiniteMinMax(const std::vector<float>& values) {
    std::optional<ScalarBounds> result;
    for (const float v : values) {
        if (!Finite(v)) {
            continue;
        }
        if (!result) {
            result = ScalarBounds{v, v};
        } else {
            result->lower = std::min(result->lower, v);
            result->upper = std::max(result->upper, v);
        }
    }
    return result;
}

std::optional<ScalarBounds> FitRange(std::vector<float> values, ScalarBounds bounds) {
    values.erase(std::remove_if(values.begin(), values.end(), [](float v) { return !Finite(v); }), values.end());
    if (values.empty()) {
        return std::nullopt;
    }
    const std::size_t n = values.size();
    const std::size_t lowIndex = std::min(n - 1, static_cast<std::size_t>(std::floor(0.01 * static_cast<double>(n))));
    const std::size_t highIndex = std::min(n - 1, static_cast<std::size_t>(std::floor(0.99 * static_cast<double>(n))));
    // Two selections instead of a full sort: the same values, a fraction of the work.
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(lowIndex), values.end());
    const float low = values[lowIndex];
    std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(lowIndex),
                     values.begin() + static_cast<std::ptrdiff_t>(highIndex), values.end());
    const float high = values[highIndex];
    return ScalarBounds{ClampInto(low, bounds), ClampInto(high, bounds)};
}

void UpdateHistogram(Histogram& histogram, const std::vector<float>* values, std::optional<ScalarBounds> bounds) {
    if (values != nullptr) {
        histogram.values.clear();
        histogram.values.reserve(values->size());
        for (const float v : *values) {
            if (Finite(v)) {
                histogram.values.push_back(v);
            }
        }
    }
    if (bounds) {
        histogram.lower = bounds->lower;
        histogram.upper = bounds->upper;
    }
    if (values == nullptr && !bounds) {
        return;
    }
    histogram.counts.fill(0.0);
    const float lower = histogram.lower;
    const float upper = histogram.upper;
    if (histogram.values.empty() || !Finite(lower) || !Finite(upper) || !(lower < upper)) {
        return;
    }
    const double width = (static_cast<double>(upper) - lower) / kHistogramBins;
    for (int i = 0; i < kHistogramBins; ++i) {
        histogram.centres[static_cast<std::size_t>(i)] = lower + (i + 0.5) * width;
    }
    if (!(width > std::numeric_limits<float>::min())) {
        histogram.counts[kHistogramBins / 2] = static_cast<double>(histogram.values.size());
        return;
    }
    for (const float v : histogram.values) {
        if (v < lower || v > upper) {
            continue;
        }
        const int bin = std::clamp(static_cast<int>((v - static_cast<double>(lower)) / width), 0, kHistogramBins - 1);
        histogram.counts[static_cast<std::size_t>(bin)] += 1.0;
    }
}

float HistogramColorPosition(double centre, ScalarBounds display) {
    const double span = static_cast<double>(display.upper) - display.lower;
    if (!(span > 0.0) || !std::isfinite(span) || !std::isfinite(centre)) {
        return 0.0f;
    }
    return static_cast<float>(std::clamp((centre - display.lower) / span, 0.0, 1.0));
}

float SliderX(float value, ScalarBounds bounds, float left, float right) {
    const float span = bounds.upper - bounds.lower;
    if (!(span > 0.0f) || !Finite(value)) {
        return left;
    }
    const float t = std::clamp((value - bounds.lower) / span, 0.0f, 1.0f);
    return left + t * (right - left);
}

float SliderValue(float mouseX, ScalarBounds bounds, float left, float right) {
    const float width = right - left;
    if (!(width > 0.0f) || !Finite(mouseX)) {
        return bounds.lower;
    }
    const float t = std::clamp((mouseX - left) / width, 0.0f, 1.0f);
    return bounds.lower + t * (bounds.upper - bounds.lower);
}

std::pair<float, float> MoveNearestHandle(float value, float min, float max, float mouseX, float minX, float maxX,
                                          float gap) {
    if (!Finite(value)) {
        return {min, max};
    }
    if (std::fabs(mouseX - maxX) <= std::fabs(mouseX - minX)) {
        return {min, std::max(value, min + gap)};
    }
    return {std::min(value, max - gap), max};
}

std::pair<float, float> PlaceHandleLabels(float minX, float maxX, float minWidth, float maxWidth, float lo, float hi,
                                          float spacing) {
    float first = minX - 10.0f;
    float second = maxX - 10.0f;
    const float overlap = first + minWidth + spacing - second;
    if (overlap > 0.0f) {
        first -= overlap / 2.0f;
        second += overlap / 2.0f;
    }
    // Pushed past an end: the label comes back inside and pushes the other one only as far
    // as the spacing asks, so that a handle dragged to an end leaves the other label at its
    // handle; the first label wins when they cannot both fit.
    if (second + maxWidth > hi) {
        second = hi - maxWidth;
        first = std::min(first, second - spacing - minWidth);
    }
    if (first < lo) {
        first = lo;
        second = std::max(second, first + minWidth + spacing);
    }
    return {first, second};
}

}  // namespace orbel::studio::gui
