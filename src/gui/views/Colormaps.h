// Colour maps: the functions that turn one scalar t in 0..1 into a colour, the
// maps' display names, the conversion of a whole channel into RGB bytes for the
// 2D view and the packed-colour functions the viewer-configuration panel draws
// with. Everything here is a stateless free function, safe on any thread. The
// 3D view's fragment shader computes the same maps from the same numbers, so the
// stop tables and formulas must not change on one side only.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "views/ColormapTypes.h"

namespace orbel::studio::gui {

// A colour with every component in 0..1.
struct ColorRgb {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
};

// One stop of a piecewise-linear map: the colour at position t.
struct ColorStop {
    float t = 0.0f;
    ColorRgb color;
};

// A colour with 8-bit components, as the GUI's colour pickers hold it.
struct ColorRgba8 {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;
};

// A map from t to a colour; every map clamps t to 0..1 first (NaN counts as 0).
using ColormapFn = ColorRgb (*)(float t);

ColorRgb Jet(float t);
ColorRgb Viridis(float t);
ColorRgb Magma(float t);
ColorRgb Cividis(float t);
ColorRgb Grayscale(float t);

// Blends the two stops around t (held within the table's first and last stop);
// t exactly on a stop uses the segment below it.
ColorRgb InterpolateStops(float t, std::span<const ColorStop> stops);

// The nine-stop tables behind Viridis, Magma and Cividis.
std::span<const ColorStop> ViridisStops();
std::span<const ColorStop> MagmaStops();
std::span<const ColorStop> CividisStops();

// Viridis, Magma, Cividis and Grayscale for their numbers; Jet for every other
// number (Uniform and Embedded included: the 2D view colours those with Jet).
ColormapFn ColormapFunction(ColormapType map);

// "Uniform" .. "Grayscale"; "Unknown" outside 0..6.
std::string ColormapName(ColormapType map);

// Exact, case-sensitive; "RGB" is Embedded; any other text is Jet.
ColormapType ColormapFromName(const std::string& name);

// Fills `rgb` with 3 bytes per value (resized once, written in place): each value
// is placed in min..max (a span of at least 1e-6), clamped, coloured with the map
// and every component scaled by 255 and truncated.
void ApplyColormap(const std::vector<float>& values, ColormapType map, float min, float max,
                   std::vector<uint8_t>& rgb);

// A packed colour: red in the lowest byte, then green, blue and alpha.
uint32_t PackColor(const ColorRgba8& color);

// By exact display name: the map's colour packed with alpha 255 ("Jet", "Viridis",
// "Magma", "Cividis", "Grayscale"); the uniform colour for "Uniform"; opaque
// mid-grey for "Embedded"; Jet for any other name.
std::function<uint32_t(float)> PackedColorFunction(const std::string& name, const ColorRgba8& uniform);

// A function that gives `packed` for every value.
std::function<unsigned int(float)> UniformColor(unsigned int packed);

}  // namespace orbel::studio::gui
