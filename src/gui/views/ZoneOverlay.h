// What the zone editor draws over the 3D view's image with ImGui: zone name labels, the
// pick-mode hint, the centre handle, the hovered edge midpoint, the gizmo arrows and the
// corner handles. Drawing only; the decisions are the ZoneEditor's. GUI thread.
#pragma once

#include <imgui.h>

#include "views/Math3D.h"
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {

// Names of the drawn zones (visible, at least 3 corners, a name) above their highest top.
void DrawZoneLabels(const ZoneEditorState& state, ImDrawList* drawList, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax);

// The editor's handles for the working zone, while editing.
void DrawEditorOverlay(const ZoneEditorState& state, ImDrawList* drawList, const Mat4& mvp, Vec2 rectMin,
                       Vec2 rectMax, Vec2 mouse);

}  // namespace orbel::studio::gui
