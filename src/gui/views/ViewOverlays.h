// Small ImGui drawing helpers shared by the views: the three-arrow translate gizmo, the
// fading of a control's vertices with the mouse's distance, and conversions between our
// vectors and ImGui's. GUI thread, inside an ImGui frame.
#pragma once

#include <imgui.h>

#include "views/Math3D.h"

namespace orbel::studio::gui {

inline ImVec2 ToImVec(Vec2 v) { return {v.x, v.y}; }
inline Vec2 ToVec2(ImVec2 v) { return {v.x, v.y}; }

// Arrows from `anchor` (metres) along +x, +y, +z, `lengthMetres` long, in red, green and
// blue; thicker when hovered (1..3) and thickest when dragged.
void DrawArrowGizmo(ImDrawList* drawList, Vec3 anchor, float lengthMetres, const Mat4& mvp, Vec2 rectMin,
                    Vec2 rectMax, int hovered, int dragged);

// Multiplies the alpha of every vertex added to `drawList` since `firstVertex` by `alpha`.
void FadeVertices(ImDrawList* drawList, int firstVertex, float alpha);

// Whether the point lies in the rectangle of `size` at `min` (edges included).
inline bool Inside(Vec2 point, Vec2 min, Vec2 size) {
    return point.x >= min.x && point.y >= min.y && point.x <= min.x + size.x && point.y <= min.y + size.y;
}

}  // namespace orbel::studio::gui
