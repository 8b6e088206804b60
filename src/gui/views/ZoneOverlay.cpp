// ImGui drawing of zone labels and the zone editor's handles.
#include "views/ZoneOverlay.h"

#include <algorithm>
#include <cmath>

#include "views/OrbitCamera.h"
#include "views/ViewOverlays.h"
#include "views/ZoneEditor.h"
#include "views/ZoneMeshes.h"

namespace orbel::studio::gui {
namespace {

void TextBox(ImDrawList* drawList, Vec2 textMin, const char* text, Vec2 padding, ImU32 box, ImU32 colour) {
    const ImVec2 size = ImGui::CalcTextSize(text);
    drawList->AddRectFilled(ImVec2(textMin.x - padding.x, textMin.y - padding.y),
                            ImVec2(textMin.x + size.x + padding.x, textMin.y + size.y + padding.y), box, 6.0f);
    drawList->AddText(ToImVec(textMin), colour, text);
}

void Cross(ImDrawList* drawList, Vec2 c, float half, ImU32 colour, float thickness) {
    drawList->AddLine(ImVec2(c.x - half, c.y - half), ImVec2(c.x + half, c.y + half), colour, thickness);
    drawList->AddLine(ImVec2(c.x - half, c.y + half), ImVec2(c.x + half, c.y - half), colour, thickness);
}

}  // namespace

void DrawZoneLabels(const ZoneEditorState& state, ImDrawList* drawList, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax) {
    const bool editing = state.editing;
    for (const Zone* zone : DrawnZones(state)) {
        if (!zone->visible || zone->corners.size() < 3 || zone->name.empty()) {
            continue;
        }
        float highest = zone->corners.front().top;
        for (const ZoneCorner& c : zone->corners) {
            highest = std::max(highest, c.top);
        }
        const ZoneCorner centre = Centroid(*zone);
        const ScreenPoint anchor = Project({centre.x, centre.y, highest + 0.12f}, mvp, rectMin, rectMax);
        if (!anchor.visible) {
            continue;
        }
        const ImVec2 size = ImGui::CalcTextSize(zone->name.c_str());
        const Vec2 textMin{anchor.position.x - size.x / 2.0f, anchor.position.y - 18.0f - size.y / 2.0f};
        const bool edited = editing && zone == &state.workingZone;
        const ImU32 box = edited ? IM_COL32(255, 170, 60, 215) : IM_COL32(18, 22, 28, 215);
        TextBox(drawList, textMin, zone->name.c_str(), {6.0f, 4.0f}, box, IM_COL32(250, 250, 250, 255));
    }
}

void DrawEditorOverlay(const ZoneEditorState& state, ImDrawList* drawList, const Mat4& mvp, Vec2 rectMin,
                       Vec2 rectMax, Vec2 mouse) {
    const Zone& zone = state.workingZone;
    if (!state.editing || !zone.visible || zone.corners.empty()) {
        return;
    }
    auto project = [&](Vec3 p) { return Project(p, mvp, rectMin, rectMax); };

    if (state.pickMode && std::isfinite(mouse.x) && std::isfinite(mouse.y)) {
        TextBox(drawList, mouse + Vec2{14.0f, 14.0f}, "Pick Mode: click a lidar point to snap the selected corner",
                {8.0f, 6.0f}, IM_COL32(24, 28, 34, 220), IM_COL32(120, 190, 255, 255));
    }

    const ScreenPoint handle = project(CentreHandle(zone));
    if (handle.visible) {
        const bool active = state.wholeZoneSelected || state.movingZone;
        const float h = active ? 9.0f : (state.centreHovered ? 8.0f : 7.0f);
        const ImU32 fill = active ? IM_COL32(255, 150, 45, 255) : IM_COL32(245, 245, 245, 245);
        const Vec2 c = handle.position;
        const ImVec2 top(c.x, c.y - h), right(c.x + h, c.y), bottom(c.x, c.y + h), left(c.x - h, c.y);
        drawList->AddQuadFilled(top, right, bottom, left, fill);
        drawList->AddQuad(top, right, bottom, left, IM_COL32(55, 25, 10, 255), 2.2f);
        drawList->AddCircleFilled(ToImVec(c), 0.28f * h, IM_COL32(255, 248, 232, 245));
        drawList->AddCircle(ToImVec(c), 0.28f * h, IM_COL32(55, 25, 10, 235), 0, 1.6f);
    }

    const std::size_t n = zone.corners.size();
    if (state.selectedCorner < 0) {
        for (const auto& [edge, useTop] : {std::pair{state.hoveredTopEdge, true}, std::pair{state.hoveredBottomEdge, false}}) {
            if (edge < 0 || static_cast<std::size_t>(edge) >= n) {
                continue;
            }
            const ZoneCorner& a = zone.corners[static_cast<std::size_t>(edge)];
            const ZoneCorner& b = zone.corners[(static_cast<std::size_t>(edge) + 1) % n];
            const float z = useTop ? (a.top + b.top) / 2.0f : (a.bottom + b.bottom) / 2.0f;
            const ScreenPoint mid = project({(a.x + b.x) / 2.0f, (a.y + b.y) / 2.0f, z});
            if (!mid.visible) {
                continue;
            }
            const ImVec2 c = ToImVec(mid.position);
            drawList->AddCircleFilled(c, 7.0f, IM_COL32(255, 220, 90, 255));
            drawList->AddCircle(c, 7.0f, IM_COL32(20, 20, 20, 255), 0, 2.0f);
            drawList->AddLine(ImVec2(c.x - 3.22f, c.y), ImVec2(c.x + 3.22f, c.y), IM_COL32(35, 35, 35, 240), 1.6f);
            drawList->AddLine(ImVec2(c.x, c.y - 3.22f), ImVec2(c.x, c.y + 3.22f), IM_COL32(35, 35, 35, 240), 1.6f);
        }
    }

    if (const auto anchor = GizmoAnchor(state)) {
        DrawArrowGizmo(drawList, *anchor, kZoneGizmoLengthMetres, mvp, rectMin, rectMax, state.hoveredAxis,
                       state.draggedAxis);
    }

    const bool nothingSelected = state.selectedCorner < 0 && !state.wholeZoneSelected;
    for (const bool bottomEnds : {true, false}) {
        for (std::size_t i = 0; i < n; ++i) {
            const ZoneCorner& c = zone.corners[i];
            const ScreenPoint s = project({c.x, c.y, bottomEnds ? c.bottom : c.top});
            if (!s.visible) {
                continue;
            }
            const int index = static_cast<int>(i);
            const bool selected = state.selectedCorner == index && state.bottomSelected == bottomEnds;
            const bool hovered = nothingSelected && (bottomEnds ? state.hoveredBottomCorner : state.hoveredTopCorner) == index;
            float radius = 6.0f;
            ImU32 fill = bottomEnds ? IM_COL32(210, 210, 210, 255) : IM_COL32(245, 245, 245, 255);
            if (selected) {
                radius = 8.0f;
                fill = IM_COL32(255, 170, 60, 255);
            } else if (hovered) {
                radius = 7.0f;
                fill = IM_COL32(255, 220, 90, 255);
            }
            drawList->AddCircleFilled(ToImVec(s.position), radius, fill);
            drawList->AddCircle(ToImVec(s.position), radius, IM_COL32(20, 20, 20, 255), 0, 2.0f);
            Cross(drawList, s.position, 0.42f * radius, IM_COL32(20, 20, 20, 210), 1.1f);
        }
    }
}

}  // namespace orbel::studio::gui
