// The viewer panel's own widgets, drawn with ImGui draw lists: a colour-map combo whose
// preview and rows show each map's gradient, a two-handle range slider drawn in the colour
// map, and the histogram of a channel (64 bars coloured by the map, a count axis and a
// value axis). GUI thread, inside an ImGui window.
#pragma once

#include <cstdint>
#include <functional>

#include "app/ViewerConfig.h"
#include "views/ViewerConfigLogic.h"

namespace orbel::studio::gui {

// A combo over `names`; `selected` outside the list is set to 0. True only in the frame in
// which a row was chosen. `config` gives the uniform colour's preview (grey without one).
bool ColormapCombo(const char* label, int* selected, const char* const* names, int count, const ViewerConfig* config);

// Two handles over min and max within `bounds`; the handle nearer to the mouse moves,
// keeping `gap` between them. Metre labels print each value / 1000 as "%.1fm". True in
// every frame in which the slider is held.
bool RangeSlider(const char* label, float* min, float* max, ScalarBounds bounds,
                 const std::function<uint32_t(float)>& colour, bool metreLabels, float gap);

// The histogram, full width and 200 pixels high; bars are coloured by `map` sampled at
// their centre within `display` (the view's current range). Nothing is drawn without
// values or with empty bounds.
void HistogramPlot(const char* label, const Histogram& histogram, ColormapType map, ScalarBounds display);

}  // namespace orbel::studio::gui
