// View3DPanel: the 3D view. It queues the frames and actions that the dispatcher hands it
// on any thread, and on the GUI thread, once per GUI frame, takes the newest frame, turns
// it into the renderer's "lidar" object, handles the orbit camera, the cloud gizmo and the
// zone editor, renders off screen and shows the picture with its buttons (camera reset,
// PNG export) and the zone toolbar ("Edit zones").
//
// Contract: Consume may be called on any thread (it touches only the two queues, each
// with its own mutex; at most 20 frames and 5 actions are kept, the oldest dropped).
// Everything else runs on the GUI thread with the program's OpenGL context current.
// OpenGL objects appear on the first draw and are deleted by ReleaseGl, which the owner
// calls while the context still exists (before the ImGui backends shut down); the
// destructor makes no OpenGL call.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/AppAction.h"
#include "app/AppState.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/ThreadSafeQueue.h"
#include "views/CloudGizmo.h"
#include "views/OrbitCamera.h"
#include "views/SceneRenderer.h"
#include "views/ZoneEditor.h"
#include "views/ZoneMeshes.h"

namespace orbel::studio::gui {

class View3DPanel : public IConsumer<FrameData>, public IConsumer<AppAction> {
public:
    static constexpr std::size_t kMaxQueuedFrames = 20;
    static constexpr std::size_t kMaxQueuedActions = 5;

    View3DPanel();
    ~View3DPanel() override = default;
    View3DPanel(const View3DPanel&) = delete;
    View3DPanel& operator=(const View3DPanel&) = delete;

    void Consume(std::shared_ptr<FrameData> frame) override;
    void Consume(std::shared_ptr<AppAction> action) override;

    // Draws the view into the current ImGui window's available region.
    void DrawView3DPanel(const std::shared_ptr<AppState>& appState);
    // Takes one queued action and the newest queued frame, and brings the scene up to date.
    void UpdateScene(const std::shared_ptr<AppState>& appState);
    // Renders the scene at that size with the current camera.
    void Render(float width, float height, const ViewerConfig& config);
    // Writes the rendered picture as PNG; an empty path picks the screenshots folder and
    // receives the file's path. Tells the user through the toast and the log.
    void ExportPng(std::string& path, AppState& appState);
    // What a ClearViews does: empties the scene and drops the frames made before the clear,
    // current and queued. A frame made after it stays (a replay publishes the clear and then
    // its first frame, which may arrive before the clear is acted on) and is shown again.
    void ClearView(const AppAction& clear);
    void ResetCamera() { camera_.Reset(); }
    // Deletes every OpenGL object of the view; call while the context exists.
    void ReleaseGl() { renderer_.ReleaseGl(); }

    SceneRenderer& Renderer() { return renderer_; }
    OrbitCamera& Camera() { return camera_; }
    const std::shared_ptr<FrameData>& CurrentFrame() const { return current_; }
    const std::vector<float>& PickPositions() const { return pickPositions_; }
    std::size_t QueuedFrames() const { return frames_.Size(); }
    std::size_t QueuedActions() const { return actions_.Size(); }

private:
    void RebuildLidar(const ViewerConfig& config);
    void UpdateRotationRings(const ViewerConfig& config);
    void DrawToolbar(ZoneEditorState* zones, Vec2 origin);

    ThreadSafeQueue<FrameData> frames_;
    ThreadSafeQueue<AppAction> actions_;
    std::shared_ptr<FrameData> current_;
    std::shared_ptr<ViewerConfig> config_;
    std::vector<float> pickPositions_;  // metres, 3 per point of the "lidar" object
    bool rebuild_ = true;

    SceneRenderer renderer_;
    OrbitCamera camera_;
    CloudGizmo gizmo_;
    ZoneEditor zoneEditor_;
    ZoneMeshCache zoneMeshes_;

    // What the rotation rings were last built from, so that they are rebuilt only on change.
    bool ringsShown_ = false;
    Vec3 ringOffset_;
    int ringHovered_ = 0;
    int ringDragged_ = 0;

    // The toolbar's rectangle of the previous frame: the mouse over it belongs to the toolbar.
    Vec2 toolbarMin_;
    Vec2 toolbarSize_;
};

}  // namespace orbel::studio::gui
