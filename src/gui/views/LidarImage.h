// The 2D view's picture of one frame: one row per scan line (56), one column per point
// of a line, coloured by one scalar channel through a colour map; and where that picture
// sits in the view. Pure functions over plain values; GUI thread for the frame (the x
// channel is cached inside it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/FrameData.h"
#include "views/ColormapTypes.h"
#include "views/Math3D.h"

namespace orbel::studio::gui {

inline constexpr int kImageRows = 56;

// The channel the 2D view shows for `type`: x for 0, ambient for 4, signal otherwise.
const std::vector<float>* Channel2D(FrameData& frame, ScalarType type);

// Colours `channel` into 3 bytes per pixel, row r holding scan line r, and sets `width`
// when the channel is not empty and holds exactly 56 whole rows; otherwise leaves both
// as they were and returns false.
bool BuildImageRows(const std::vector<float>& channel, ColormapType map, float min, float max,
                    std::vector<uint8_t>& rgb, int& width);

// Why the 2D view shows no picture of `frame`, whose channel holds `values` values: "2D
// view: frame <n> (<source name>) cannot be shown as scan lines: its <values> points are not
// 56 lines of equal length".
std::string NotLinesMessage(const FrameData& frame, std::size_t values);

struct Rect {
    Vec2 min;
    Vec2 max;
};

// The largest rectangle of aspect width : rows inside the region, centred.
Rect FitImage(Vec2 regionMin, Vec2 regionSize, int width, int rows);

// The logo's rectangle: 600 pixels wide, its height by its aspect, centred in the region.
Rect LogoRect(Vec2 regionMin, Vec2 regionSize, int logoWidth, int logoHeight);

// 1 at the centre of a control, falling to 0 at 120 pixels and beyond: how visible the
// fading export buttons are.
float FadeAlpha(Vec2 mouse, Vec2 centre);

}  // namespace orbel::studio::gui
