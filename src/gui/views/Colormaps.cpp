// Colour-map formulas, stop tables, names and the channel-to-RGB conversion.
// Every function clamps its t before use, so no input value (infinities and NaN
// included) can produce a component outside 0..1 or a byte conversion out of range.
#include "views/Colormaps.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orbel::studio::gui {
namespace {

constexpr std::array<ColorStop, 9> kViridis{{
    {0.0f, {0.267f, 0.005f, 0.329f}},
    {0.125f, {0.283f, 0.141f, 0.458f}},
    {0.25f, {0.254f, 0.265f, 0.53f}},
    {0.375f, {0.207f, 0.372f, 0.553f}},
    {0.5f, {0.163f, 0.471f, 0.558f}},
    {0.625f, {0.134f, 0.569f, 0.551f}},
    {0.75f, {0.208f, 0.678f, 0.491f}},
    {0.875f, {0.477f, 0.821f, 0.318f}},
    {1.0f, {0.993f, 0.906f, 0.144f}},
}};

constexpr std::array<ColorStop, 9> kMagma{{
    {0.0f, {0.0f, 0.0f, 0.016f}},
    {0.125f, {0.176f, 0.056f, 0.234f}},
    {0.25f, {0.373f, 0.074f, 0.432f}},
    {0.375f, {0.576f, 0.101f, 0.495f}},
    {0.5f, {0.762f, 0.176f, 0.466f}},
    {0.625f, {0.902f, 0.341f, 0.38f}},
    {0.75f, {0.965f, 0.557f, 0.376f}},
    {0.875f, {0.987f, 0.769f, 0.545f}},
    {1.0f, {0.988f, 0.998f, 0.645f}},
}};

constexpr std::array<ColorStop, 9> kCividis{{
    {0.0f, {0.0f, 0.135f, 0.304f}},
    {0.125f, {0.063f, 0.195f, 0.392f}},
    {0.25f, {0.159f, 0.255f, 0.4f}},
    {0.375f, {0.255f, 0.318f, 0.4f}},
    {0.5f, {0.349f, 0.388f, 0.38f}},
    {0.625f, {0.455f, 0.463f, 0.337f}},
    {0.75f, {0.6f, 0.549f, 0.255f}},
    {0.875f, {0.769f, 0.643f, 0.122f}},
    {1.0f, {0.996f, 0.741f, 0.016f}},
}};

// NaN fails the first comparison and lands on 0: a NaN component would make the
// float-to-byte conversion undefined.
float Clamp01(float value) {
    const float atLeastZero = value > 0.0f ? value : 0.0f;
    return atLeastZero < 1.0f ? atLeastZero : 1.0f;
}

uint8_t ToByte(float component) {
    return static_cast<uint8_t>(component * 255.0f);
}

}  // namespace

ColorRgb Jet(float t) {
    const float v = 4.0f * Clamp01(t);
    return {Clamp01(1.5f - std::fabs(v - 3.0f)), Clamp01(1.5f - std::fabs(v - 2.0f)),
            Clamp01(1.5f - std::fabs(v - 1.0f))};
}

ColorRgb Viridis(float t) {
    return InterpolateStops(Clamp01(t), kViridis);
}

ColorRgb Magma(float t) {
    return InterpolateStops(Clamp01(t), kMagma);
}

ColorRgb Cividis(float t) {
    return InterpolateStops(Clamp01(t), kCividis);
}

ColorRgb Grayscale(float t) {
    const float v = Clamp01(t);
    return {v, v, v};
}

ColorRgb InterpolateStops(float t, std::span<const ColorStop> stops) {
    if (stops.empty()) {
        return {};
    }
    if (stops.size() == 1) {
        return stops.front().color;
    }
    // Held inside the table's own range so that it never extrapolates.
    const float first = stops.front().t;
    const float last = stops.back().t;
    t = t > first ? t : first;
    t = t < last ? t : last;
    std::size_t i = 1;
    while (i < stops.size() - 1 && t > stops[i].t) {
        ++i;
    }
    const ColorStop& lower = stops[i - 1];
    const ColorStop& upper = stops[i];
    const float f = upper.t > lower.t ? (t - lower.t) / (upper.t - lower.t) : 0.0f;
    return {lower.color.r + (upper.color.r - lower.color.r) * f,
            lower.color.g + (upper.color.g - lower.color.g) * f,
            lower.color.b + (upper.color.b - lower.color.b) * f};
}

std::span<const ColorStop> ViridisStops() {
    return kViridis;
}

std::span<const ColorStop> MagmaStops() {
    return kMagma;
}

std::span<const ColorStop> CividisStops() {
    return kCividis;
}

ColormapFn ColormapFunction(ColormapType map) {
    switch (map) {
        case COLORMAP_VIRIDIS:
            return &Viridis;
        case COLORMAP_MAGMA:
            return &Magma;
        case COLORMAP_CIVIDIS:
            return &Cividis;
        case COLORMAP_GRAYSCALE:
            return &Grayscale;
        default:
            return &Jet;
    }
}

std::string ColormapName(ColormapType map) {
    switch (map) {
        case COLORMAP_UNIFORM:
            return "Uniform";
        case COLORMAP_JET:
            return "Jet";
        case COLORMAP_VIRIDIS:
            return "Viridis";
        case COLORMAP_MAGMA:
            return "Magma";
        case COLORMAP_CIVIDIS:
            return "Cividis";
        case COLORMAP_EMBEDDED:
            return "Embedded";
        case COLORMAP_GRAYSCALE:
            return "Grayscale";
        default:
            return "Unknown";
    }
}

ColormapType ColormapFromName(const std::string& name) {
    if (name == "Uniform") {
        return COLORMAP_UNIFORM;
    }
    if (name == "Jet") {
        return COLORMAP_JET;
    }
    if (name == "Viridis") {
        return COLORMAP_VIRIDIS;
    }
    if (name == "Magma") {
        return COLORMAP_MAGMA;
    }
    if (name == "Cividis") {
        return COLORMAP_CIVIDIS;
    }
    if (name == "Embedded" || name == "RGB") {
        return COLORMAP_EMBEDDED;
    }
    if (name == "Grayscale") {
        return COLORMAP_GRAYSCALE;
    }
    return COLORMAP_JET;
}

void ApplyColormap(const std::vector<float>& values, ColormapType map, float min, float max,
                   std::vector<uint8_t>& rgb) {
    rgb.resize(values.size() * 3);
    const float span = std::max(max - min, 1e-6f);
    const ColormapFn colour = ColormapFunction(map);
    uint8_t* out = rgb.data();
    for (const float value : values) {
        const ColorRgb c = colour(Clamp01((value - min) / span));
        out[0] = ToByte(c.r);
        out[1] = ToByte(c.g);
        out[2] = ToByte(c.b);
        out += 3;
    }
}

uint32_t PackColor(const ColorRgba8& color) {
    return static_cast<uint32_t>(color.r) | (static_cast<uint32_t>(color.g) << 8) |
           (static_cast<uint32_t>(color.b) << 16) | (static_cast<uint32_t>(color.a) << 24);
}

std::function<uint32_t(float)> PackedColorFunction(const std::string& name, const ColorRgba8& uniform) {
    if (name == "Uniform") {
        return UniformColor(PackColor(uniform));
    }
    if (name == "Embedded") {
        return UniformColor(PackColor({128, 128, 128, 255}));
    }
    ColormapFn colour = &Jet;
    if (name == "Viridis") {
        colour = &Viridis;
    } else if (name == "Magma") {
        colour = &Magma;
    } else if (name == "Cividis") {
        colour = &Cividis;
    } else if (name == "Grayscale") {
        colour = &Grayscale;
    }
    return [colour](float t) {
        const ColorRgb c = colour(t);
        return PackColor({ToByte(c.r), ToByte(c.g), ToByte(c.b), 255});
    };
}

std::function<unsigned int(float)> UniformColor(unsigned int packed) {
    return [packed](float) { return packed; };
}

}  // namespace orbel::studio::gui
