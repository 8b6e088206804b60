// Mouse interaction and commands of the zone editor.
#include "views/ZoneEditor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "app/AppState.h"
#include "app/Logging.h"
#include "views/CloudGizmo.h"
#include "views/OrbitCamera.h"
#include "views/SceneRenderer.h"

namespace orbel::studio::gui {
namespace {

constexpr float kTieSquaredPixels = 1e-4f;
constexpr float kCornerHoverSquared = 100.0f;  // 10 pixels
constexpr float kEdgeHoverSquared = 81.0f;     // 9 pixels
constexpr float kNearCornerSquared = 256.0f;   // 16 pixels: midpoints this close to a corner end do not hover
constexpr float kCentreHoverSquared = 256.0f;  // 16 pixels
constexpr float kAxisHoverSquared = 256.0f;    // 16 pixels
constexpr float kEdgesApartSquared = 100.0f;   // 10 pixels
constexpr float kMinCornerHeight = 0.1f;       // metres
constexpr float kSnapRadiusPixels = 14.0f;
constexpr int kWarningLevel = 3;
constexpr int kToastWarning = 2;
constexpr char kSnapPreviewName[] = "zone_snap_hover_point";

constexpr Vec3 kAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// The closer-with-tolerance rule: a clearly smaller squared distance wins, an equal one
// goes to the smaller depth.
bool Closer(float d2, float depth, float bestD2, float bestDepth) {
    return d2 < bestD2 - kTieSquaredPixels || (std::fabs(d2 - bestD2) <= kTieSquaredPixels && depth < bestDepth);
}

struct Hit {
    int index = -1;
    float d2 = 0.0f;
    float depth = std::numeric_limits<float>::max();
    Vec2 screen;
};

// Whether the bottom hit wins over the top one (either may be missing: index -1).
bool BottomNearer(const Hit& top, const Hit& bottom) {
    return bottom.index >= 0 && (top.index < 0 || Closer(bottom.d2, bottom.depth, top.d2, top.depth));
}

Vec3 TopEnd(const ZoneCorner& c) { return {c.x, c.y, c.top}; }
Vec3 BottomEnd(const ZoneCorner& c) { return {c.x, c.y, c.bottom}; }

float DistanceSquared(Vec2 a, Vec2 b) { return Dot(a - b, a - b); }

void ClearHover(ZoneEditorState& s) {
    s.hoveredTopCorner = -1;
    s.hoveredBottomCorner = -1;
    s.hoveredTopEdge = -1;
    s.hoveredBottomEdge = -1;
    s.hoveredAxis = 0;
    s.centreHovered = false;
}

void ClearSelection(ZoneEditorState& s) {
    s.selectedCorner = -1;
    s.bottomSelected = false;
    s.wholeZoneSelected = false;
    s.pickMode = false;
}

void ClearInteraction(ZoneEditorState& s) {
    ClearHover(s);
    s.draggedAxis = 0;
    s.movingZone = false;
}

// Another zone becomes the working zone: its history and the editor's state start afresh.
void StartFresh(ZoneEditorState& s) {
    s.undo.clear();
    s.redo.clear();
    ClearInteraction(s);
    ClearSelection(s);
}

bool ValidCornerIndex(const Zone& zone, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < zone.corners.size();
}

bool ValidZoneIndex(const ZoneEditorState& s, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < s.zones.size();
}

bool AllFinite(const Zone& zone) {
    return std::all_of(zone.corners.begin(), zone.corners.end(), [](const ZoneCorner& c) {
        return std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.bottom) && std::isfinite(c.top);
    });
}

void Report(AppState* appState, const std::string& log, const std::string& toast) {
    Log(log, kWarningLevel);
    if (appState != nullptr) {
        appState->SetToast(toast, kToastWarning);
    }
}

// Undo and redo: the working zone goes onto `to` and the newest of `from` (not empty)
// takes its place; a selected corner it does not have is dropped.
void StepThroughHistory(ZoneEditorState& s, std::vector<Zone>& from, std::vector<Zone>& to) {
    to.push_back(s.workingZone);
    s.workingZone = std::move(from.back());
    from.pop_back();
    if (!ValidCornerIndex(s.workingZone, s.selectedCorner)) {
        s.selectedCorner = -1;
        s.pickMode = false;
    }
    ClearInteraction(s);
    s.dirty = true;
}

Zone DefaultZone(int id, float height) {
    Zone zone;
    zone.id = id;
    zone.name = "Zone " + std::to_string(id);
    // A 4 m square in front of the sensor, which looks along +x.
    zone.corners = {{4.0f, -2.0f, 0.0f, height}, {8.0f, -2.0f, 0.0f, height}, {8.0f, 2.0f, 0.0f, height},
                    {4.0f, 2.0f, 0.0f, height}};
    return zone;
}

}  // namespace

Vec3 CentreHandle(const Zone& zone) {
    const ZoneCorner c = Centroid(zone);
    return {c.x, c.y, (c.bottom + c.top) / 2.0f};
}

std::optional<Vec3> GizmoAnchor(const ZoneEditorState& state) {
    const Zone& zone = state.workingZone;
    if (state.wholeZoneSelected) {
        return CentreHandle(zone);
    }
    if (!ValidCornerIndex(zone, state.selectedCorner)) {
        return std::nullopt;
    }
    const ZoneCorner& c = zone.corners[static_cast<std::size_t>(state.selectedCorner)];
    return state.bottomSelected ? BottomEnd(c) : TopEnd(c);
}

void ZoneEditor::TakeUndoOnce(ZoneEditorState& state) {
    if (!undoTakenForDrag_) {
        PushUndo(state);
        undoTakenForDrag_ = true;
    }
}

bool ZoneEditor::HandleZoneInput(ZoneEditorState& state, AppState* appState, const ZoneInput& input,
                                 const ZoneView& view) {
    Zone& working = state.workingZone;
    if (!state.editing || working.corners.empty() || !working.visible) {
        ClearInteraction(state);
        return false;
    }
    if (!ValidCornerIndex(working, state.selectedCorner)) {
        state.selectedCorner = -1;
    }
    ClearHover(state);
    if (!input.mouseValid || !std::isfinite(input.mouse.x) || !std::isfinite(input.mouse.y)) {
        if (!input.leftDown) {
            state.draggedAxis = 0;
            state.movingZone = false;
        }
        return state.draggedAxis != 0 || state.movingZone;
    }
    const Vec2 mouse = input.mouse;
    const Mat4 mvp = view.Mvp();
    auto project = [&](Vec3 p) { return Project(p, mvp, view.rectMin, view.rectMax); };

    // Pick mode: the next click over the image decides.
    if (state.pickMode) {
        if (input.leftClicked && input.imageHovered) {
            SnapSelectedCorner(state, appState, true, mouse, view);
            state.pickMode = false;
            return true;
        }
        if (input.rightClicked && input.imageHovered) {
            state.pickMode = false;
            return true;
        }
        return input.imageHovered;
    }

    const std::size_t n = working.corners.size();
    std::vector<ScreenPoint> tops(n);
    std::vector<ScreenPoint> bottoms(n);
    Hit top;
    Hit bottom;
    top.d2 = bottom.d2 = kCornerHoverSquared;
    for (std::size_t i = 0; i < n; ++i) {
        tops[i] = project(TopEnd(working.corners[i]));
        bottoms[i] = project(BottomEnd(working.corners[i]));
        for (auto [screen, best] : {std::pair{&tops[i], &top}, std::pair{&bottoms[i], &bottom}}) {
            if (!screen->visible) {
                continue;
            }
            const float d2 = DistanceSquared(screen->position, mouse);
            if (Closer(d2, screen->depth, best->d2, best->depth)) {
                *best = Hit{static_cast<int>(i), d2, screen->depth, screen->position};
            }
        }
    }
    state.hoveredTopCorner = top.index;
    state.hoveredBottomCorner = bottom.index;

    auto nearAnyCorner = [&](Vec2 p) {
        for (std::size_t i = 0; i < n; ++i) {
            if ((tops[i].visible && DistanceSquared(tops[i].position, p) <= kNearCornerSquared) ||
                (bottoms[i].visible && DistanceSquared(bottoms[i].position, p) <= kNearCornerSquared)) {
                return true;
            }
        }
        return false;
    };
    Hit topEdge;
    Hit bottomEdge;
    topEdge.d2 = bottomEdge.d2 = kEdgeHoverSquared;
    for (std::size_t i = 0; i < n; ++i) {
        const ZoneCorner& a = working.corners[i];
        const ZoneCorner& b = working.corners[(i + 1) % n];
        const Vec3 topMid{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.top + b.top) / 2};
        const Vec3 bottomMid{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.bottom + b.bottom) / 2};
        for (auto [point, best] : {std::pair{topMid, &topEdge}, std::pair{bottomMid, &bottomEdge}}) {
            const ScreenPoint s = project(point);
            if (!s.visible || nearAnyCorner(s.position)) {
                continue;
            }
            const float d2 = DistanceSquared(s.position, mouse);
            if (Closer(d2, s.depth, best->d2, best->depth)) {
                *best = Hit{static_cast<int>(i), d2, s.depth, s.position};
            }
        }
    }

    const bool cornerHovered = top.index >= 0 || bottom.index >= 0;
    const bool bottomCornerNearer = BottomNearer(top, bottom);
    if (cornerHovered && (topEdge.index >= 0 || bottomEdge.index >= 0)) {
        const Hit& corner = bottomCornerNearer ? bottom : top;
        const Hit& edge = BottomNearer(topEdge, bottomEdge) ? bottomEdge : topEdge;
        if (Closer(corner.d2, corner.depth, edge.d2, edge.depth)) {
            topEdge.index = -1;
            bottomEdge.index = -1;
        }
    }
    if (topEdge.index >= 0 && bottomEdge.index >= 0 &&
        DistanceSquared(topEdge.screen, bottomEdge.screen) <= kEdgesApartSquared) {
        bottomEdge.index = -1;
    }
    state.hoveredTopEdge = topEdge.index;
    state.hoveredBottomEdge = bottomEdge.index;
    const bool edgeHovered = topEdge.index >= 0 || bottomEdge.index >= 0;

    const Vec3 handle = CentreHandle(working);
    const ScreenPoint handleScreen = project(handle);
    state.centreHovered = handleScreen.visible && DistanceSquared(handleScreen.position, mouse) <= kCentreHoverSquared;

    const std::optional<Vec3> anchor = GizmoAnchor(state);
    ScreenPoint anchorScreen;
    if (anchor) {
        anchorScreen = project(*anchor);
    }
    if (anchor && anchorScreen.visible) {
        float best = kAxisHoverSquared;
        for (int axis = 0; axis < 3; ++axis) {
            const ScreenPoint tip = project(*anchor + kAxes[axis] * kZoneGizmoLengthMetres);
            if (!tip.visible || Length(tip.position - anchorScreen.position) < kMinAxisPixels) {
                continue;
            }
            const float d2 = SegmentDistanceSquared(mouse, anchorScreen.position, tip.position);
            if (d2 <= best) {
                best = d2;
                state.hoveredAxis = axis + 1;
            }
        }
    }

    if (input.leftClicked && input.imageHovered) {
        state.draggedAxis = 0;
        state.movingZone = false;
        if (state.hoveredAxis != 0 && anchor) {
            state.draggedAxis = state.hoveredAxis;
            state.dragReference = {mouse.x, mouse.y};
            undoTakenForDrag_ = false;
        } else if (!edgeHovered) {
            if (state.centreHovered) {
                state.wholeZoneSelected = true;
                state.selectedCorner = -1;
                state.bottomSelected = false;
                const auto hit = UnprojectToPlane(view.view, view.projection, view.rectMin, view.rectMax, mouse, handle.z);
                if (hit) {
                    state.movingZone = true;
                    state.dragReference = {hit->x, hit->y};
                    undoTakenForDrag_ = false;
                }
            } else if (!cornerHovered) {
                // A click beside the zone only drops the selection; snapping a corner
                // needs pick mode, so a stray click never moves one.
                state.selectedCorner = -1;
                state.wholeZoneSelected = false;
            } else {
                state.wholeZoneSelected = false;
                state.bottomSelected = bottomCornerNearer;
                state.selectedCorner = bottomCornerNearer ? bottom.index : top.index;
            }
        } else {
            const bool bottomTaken = BottomNearer(topEdge, bottomEdge);
            const int edge = bottomTaken ? bottomEdge.index : topEdge.index;
            Zone candidate = working;
            if (InsertMidpoint(candidate, edge)) {
                PushUndo(state);
                state.workingZone = std::move(candidate);
                state.selectedCorner = edge + 1;
                state.bottomSelected = bottomTaken;
                state.wholeZoneSelected = false;
                state.dirty = true;
            }
        }
    }

    if (!input.leftDown) {
        state.draggedAxis = 0;
        state.movingZone = false;
    }

    if (state.movingZone) {
        const auto hit = UnprojectToPlane(view.view, view.projection, view.rectMin, view.rectMax, mouse, handle.z);
        if (hit) {
            const float dx = hit->x - state.dragReference[0];
            const float dy = hit->y - state.dragReference[1];
            Zone candidate = state.workingZone;
            for (ZoneCorner& c : candidate.corners) {
                c.x += dx;
                c.y += dy;
            }
            if ((dx != 0.0f || dy != 0.0f) && AllFinite(candidate) && IsSimplePolygon(candidate)) {
                TakeUndoOnce(state);
                state.workingZone = std::move(candidate);
                state.dirty = true;
            }
            state.dragReference = {hit->x, hit->y};
        }
    }

    const std::optional<Vec3> dragAnchor = GizmoAnchor(state);
    if (state.draggedAxis != 0 && dragAnchor) {
        const ScreenPoint a = project(*dragAnchor);
        const ScreenPoint tip = project(*dragAnchor + kAxes[state.draggedAxis - 1] * kZoneGizmoLengthMetres);
        const Vec2 reference{state.dragReference[0], state.dragReference[1]};
        const std::optional<float> w =
            a.visible && tip.visible ? AxisDragMetres(a.position, tip.position, mouse - reference) : std::nullopt;
        if (w && *w != 0.0f) {
            Zone candidate = state.workingZone;
            bool changed = false;
            if (state.draggedAxis == 3) {
                if (state.wholeZoneSelected) {
                    for (ZoneCorner& c : candidate.corners) {
                        c.bottom += *w;
                        c.top += *w;
                    }
                    changed = true;
                } else if (ValidCornerIndex(candidate, state.selectedCorner)) {
                    ZoneCorner& c = candidate.corners[static_cast<std::size_t>(state.selectedCorner)];
                    if (state.bottomSelected) {
                        c.bottom = std::min(c.top - kMinCornerHeight, c.bottom + *w);
                    } else {
                        c.top = std::max(c.top + *w, c.bottom + kMinCornerHeight);
                    }
                    changed = true;
                }
            } else {
                const bool alongX = state.draggedAxis == 1;
                if (state.wholeZoneSelected) {
                    for (ZoneCorner& c : candidate.corners) {
                        (alongX ? c.x : c.y) += *w;
                    }
                    changed = true;
                } else if (ValidCornerIndex(candidate, state.selectedCorner)) {
                    ZoneCorner& c = candidate.corners[static_cast<std::size_t>(state.selectedCorner)];
                    (alongX ? c.x : c.y) += *w;
                    changed = IsSimplePolygon(candidate);
                }
            }
            if (changed && AllFinite(candidate)) {
                TakeUndoOnce(state);
                state.workingZone = std::move(candidate);
                state.dirty = true;
            }
        }
        state.dragReference = {mouse.x, mouse.y};
        return true;
    }

    if (state.movingZone) {
        return true;
    }
    const bool anythingHovered = cornerHovered || edgeHovered || state.centreHovered || state.hoveredAxis != 0;
    return anythingHovered && input.imageHovered;
}

SnapResult ZoneEditor::SnapSelectedCorner(ZoneEditorState& state, AppState* appState, bool report, Vec2 mouse,
                                          const ZoneView& view) {
    Zone& working = state.workingZone;
    if (state.wholeZoneSelected || !ValidCornerIndex(working, state.selectedCorner)) {
        return SnapResult::None;
    }
    const std::optional<Vec3> point =
        PickPoint(view.lidarMetres, mouse, view.Mvp(), view.rectMin, view.rectMax, kSnapRadiusPixels);
    if (!point) {
        return SnapResult::None;
    }
    const auto index = static_cast<std::size_t>(state.selectedCorner);
    const ZoneCorner old = working.corners[index];
    const float bottom = state.bottomSelected ? point->z : old.bottom;
    const float top = state.bottomSelected ? old.top : point->z;
    if (!(bottom < top)) {
        if (report) {
            Report(appState,
                   "Zone snap rejected: the selected point would move the bottom height above or equal to the top "
                   "height.",
                   "Snap rejected: invalid height");
        }
        return SnapResult::Rejected;
    }
    Zone candidate = working;
    if (!MoveCorner(candidate, state.selectedCorner, point->x, point->y, bottom, top)) {
        if (report) {
            Report(appState, "Zone snap rejected: moving this vertex to the selected point would make zone edges cross.",
                   "Snap rejected: edges would cross");
        }
        return SnapResult::Rejected;
    }
    PushUndo(state);
    state.workingZone = std::move(candidate);
    state.dirty = true;
    return SnapResult::Snapped;
}

void ZoneEditor::UpdateSnapPreview(const ZoneEditorState& state, const ZoneInput& input, const ZoneView& view,
                                   int pointSize, SceneRenderer& renderer) {
    std::optional<Vec3> point;
    const bool inside = input.mouseValid && input.mouse.x >= view.rectMin.x && input.mouse.x <= view.rectMax.x &&
                        input.mouse.y >= view.rectMin.y && input.mouse.y <= view.rectMax.y;
    if (state.editing && state.pickMode && !state.wholeZoneSelected &&
        ValidCornerIndex(state.workingZone, state.selectedCorner) && inside) {
        point = PickPoint(view.lidarMetres, input.mouse, view.Mvp(), view.rectMin, view.rectMax, kSnapRadiusPixels);
    }
    if (!point) {
        RemoveSnapPreview(renderer);
        return;
    }
    const float size = static_cast<float>(std::max(pointSize + 5, 9));
    const bool same = previewPoint_ && previewPoint_->x == point->x && previewPoint_->y == point->y &&
                      previewPoint_->z == point->z && renderer.HasObject(kSnapPreviewName);
    if (same && previewSize_ == size) {
        return;
    }
    SceneObject object;
    object.positions = {*point * 1000.0f};
    object.primitive = kPrimitivePoints;
    object.color = {1.0f, 0.2f, 0.2f, 1.0f};
    object.point_size = size;
    object.depth_write = false;
    renderer.AddObject(kSnapPreviewName, std::move(object));
    previewPoint_ = point;
    previewSize_ = size;
}

void ZoneEditor::RemoveSnapPreview(SceneRenderer& renderer) {
    previewPoint_.reset();
    renderer.RemoveObject(kSnapPreviewName);
}

void ZoneEditor::CommitWorkingZone(ZoneEditorState& state) {
    if (state.editing && !state.creating && ValidZoneIndex(state, state.selectedZone)) {
        state.zones[static_cast<std::size_t>(state.selectedZone)] = state.workingZone;
    }
}

void ZoneEditor::SetEditing(ZoneEditorState& state, bool on) {
    if (on == state.editing) {
        return;
    }
    if (on) {
        state.editing = true;
        if (state.zones.empty()) {
            NewZone(state);
        } else if (!ValidZoneIndex(state, state.selectedZone)) {
            SelectZone(state, 0);
        }
        return;
    }
    CommitWorkingZone(state);
    state.editing = false;
    ClearInteraction(state);
    ClearSelection(state);
}

void ZoneEditor::NewZone(ZoneEditorState& state) {
    CommitWorkingZone(state);
    state.counter += 1;
    state.zones.push_back(DefaultZone(state.counter, state.defaultHeight));
    state.selectedZone = static_cast<int>(state.zones.size()) - 1;
    state.workingZone = state.zones.back();
    state.creating = false;
    StartFresh(state);
}

void ZoneEditor::SelectZone(ZoneEditorState& state, int index) {
    if (!ValidZoneIndex(state, index)) {
        return;
    }
    CommitWorkingZone(state);
    state.selectedZone = index;
    state.workingZone = state.zones[static_cast<std::size_t>(index)];
    state.creating = false;
    StartFresh(state);
}

bool ZoneEditor::DeleteSelectedZone(ZoneEditorState& state) {
    if (!ValidZoneIndex(state, state.selectedZone)) {
        return false;
    }
    const int index = state.selectedZone;
    state.zones.erase(state.zones.begin() + index);
    StartFresh(state);
    if (state.zones.empty()) {
        state.selectedZone = -1;
        state.workingZone = ZoneEditorState{}.workingZone;
    } else {
        state.selectedZone = std::min(index, static_cast<int>(state.zones.size()) - 1);
        state.workingZone = state.zones[static_cast<std::size_t>(state.selectedZone)];
    }
    return true;
}

bool ZoneEditor::DeleteSelectedCorner(ZoneEditorState& state) {
    Zone& working = state.workingZone;
    if (state.wholeZoneSelected || !ValidCornerIndex(working, state.selectedCorner) || working.corners.size() <= 3) {
        return false;
    }
    Zone candidate = working;
    candidate.corners.erase(candidate.corners.begin() + state.selectedCorner);
    if (!IsSimplePolygon(candidate)) {
        return false;
    }
    PushUndo(state);
    state.workingZone = std::move(candidate);
    state.selectedCorner = -1;
    state.pickMode = false;
    state.dirty = true;
    return true;
}

bool ZoneEditor::Undo(ZoneEditorState& state) {
    if (state.undo.empty()) {
        return false;
    }
    StepThroughHistory(state, state.undo, state.redo);
    return true;
}

bool ZoneEditor::Redo(ZoneEditorState& state) {
    if (state.redo.empty()) {
        return false;
    }
    if (state.undo.size() >= ZoneEditorState::kMaxUndo) {
        state.undo.erase(state.undo.begin());
    }
    StepThroughHistory(state, state.redo, state.undo);
    return true;
}

bool ZoneEditor::EnterPickMode(ZoneEditorState& state) {
    if (!state.editing || state.wholeZoneSelected || !ValidCornerIndex(state.workingZone, state.selectedCorner)) {
        return false;
    }
    state.pickMode = true;
    return true;
}

}  // namespace orbel::studio::gui
