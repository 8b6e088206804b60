// ZoneEditor: shapes the working zone of ZoneEditorState with the mouse in the 3D view:
// picks the top or bottom end of a corner, drags it (or the whole zone) along x, y or z
// with a three-arrow gizmo, moves the whole zone on the ground by its centre handle,
// inserts a corner in the middle of an edge, snaps the selected corner to a lidar point
// in pick mode, and keeps an undo history. It also offers the few commands the 3D view's
// zone toolbar needs (editing on and off, new zone, delete zone or corner, undo, redo).
//
// Input arrives as a plain ZoneInput record so that the decisions are tested without a
// window; the overlays are drawn with ImGui by ZoneOverlay. Zone coordinates are metres;
// screen positions come from Project with the near-100 MVP. GUI thread only; the state
// is not locked.
#pragma once

#include <optional>
#include <span>

#include "views/Math3D.h"
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {

class AppState;
class SceneRenderer;

struct ZoneInput {
    Vec2 mouse;
    bool mouseValid = false;
    bool imageHovered = false;
    bool leftClicked = false;   // over the image this frame
    bool rightClicked = false;  // over the image this frame
    bool leftDown = false;
};

// The frame's projection: view and near-100 projection, the image rectangle, and the
// lidar points in metres (3 floats each) for snapping.
struct ZoneView {
    Mat4 view;
    Mat4 projection;
    Vec2 rectMin;
    Vec2 rectMax;
    std::span<const float> lidarMetres;

    Mat4 Mvp() const { return projection * view; }
};

enum class SnapResult { None = 0, Snapped = 1, Rejected = 2 };

inline constexpr float kZoneGizmoLengthMetres = 1.35f;

// The handle in the middle of the zone: its centroid at mid height.
Vec3 CentreHandle(const Zone& zone);
// Where the zone gizmo's arrows start: the centre handle while the whole zone is
// selected, else the selected end of the selected corner; none without a selection.
std::optional<Vec3> GizmoAnchor(const ZoneEditorState& state);

class ZoneEditor {
public:
    // One frame of mouse input; true when the editor took the mouse (the camera must not
    // act on it). `appState` receives the toasts of rejected snaps; may be null.
    bool HandleZoneInput(ZoneEditorState& state, AppState* appState, const ZoneInput& input, const ZoneView& view);

    // Moves the selected corner's x, y and the selected end's height to the lidar point
    // nearest to the mouse (within 14 pixels). With `report` a rejection is logged and
    // toasted.
    SnapResult SnapSelectedCorner(ZoneEditorState& state, AppState* appState, bool report, Vec2 mouse,
                                  const ZoneView& view);

    // Pick mode: the lidar point that a click would snap to, as the scene object
    // "zone_snap_hover_point"; removed otherwise.
    void UpdateSnapPreview(const ZoneEditorState& state, const ZoneInput& input, const ZoneView& view,
                           int pointSize, SceneRenderer& renderer);
    void RemoveSnapPreview(SceneRenderer& renderer);

    // Toolbar commands.
    static void SetEditing(ZoneEditorState& state, bool on);
    static void NewZone(ZoneEditorState& state);
    static void SelectZone(ZoneEditorState& state, int index);
    static bool DeleteSelectedZone(ZoneEditorState& state);
    static bool DeleteSelectedCorner(ZoneEditorState& state);
    static bool Undo(ZoneEditorState& state);
    static bool Redo(ZoneEditorState& state);
    static bool EnterPickMode(ZoneEditorState& state);
    // Writes the working zone back into the zone list (editing, not creating).
    static void CommitWorkingZone(ZoneEditorState& state);

private:
    void TakeUndoOnce(ZoneEditorState& state);

    // The first change of a drag takes the undo snapshot, so a click that changes
    // nothing leaves no entry.
    bool undoTakenForDrag_ = false;
    std::optional<Vec3> previewPoint_;
    float previewSize_ = 0.0f;
};

}  // namespace orbel::studio::gui
