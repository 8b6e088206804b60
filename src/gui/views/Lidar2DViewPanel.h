// Lidar2DViewPanel: the 2D view. It shows the lidar frames as a flat picture, one row per
// scan line (56) and one column per point of a line, coloured by one scalar through a
// colour map, the logo faintly while it has nothing to show, and a fading export button.
//
// Contract: Consume may be called on any thread (it touches only the two queues, each
// with its own mutex; at most 5 frames and 5 actions are kept, the oldest dropped). Every
// other call runs on the GUI thread with the context current; Update touches OpenGL only
// to delete the picture's texture when the picture goes (a clear, a frame that is not scan
// lines), the draw uploads the picture. OpenGL objects (picture and logo textures) are
// deleted by ReleaseGl, which the owner calls while the context still exists; the
// destructor makes no OpenGL call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AppAction.h"
#include "app/AppState.h"
#include "app/EmbeddedImages.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/StreamedTexture.h"
#include "app/ThreadSafeQueue.h"

namespace orbel::studio::gui {

class Lidar2DViewPanel : public IConsumer<FrameData>, public IConsumer<AppAction> {
public:
    static constexpr std::size_t kMaxQueued = 5;

    Lidar2DViewPanel();
    // With other logo bytes than the embedded logo (tests).
    explicit Lidar2DViewPanel(PngBytes logo);
    ~Lidar2DViewPanel() override = default;
    Lidar2DViewPanel(const Lidar2DViewPanel&) = delete;
    Lidar2DViewPanel& operator=(const Lidar2DViewPanel&) = delete;

    void Consume(std::shared_ptr<FrameData> frame) override;
    void Consume(std::shared_ptr<AppAction> action) override;

    // Draws the view into the current ImGui window's available region.
    void DrawLidar2DViewPanel(const std::shared_ptr<AppState>& appState);
    // The first half of a draw: one queued action, then the oldest queued frame (or a
    // recolour of the current one on ViewerConfigChanged) into the picture's bytes. A frame
    // that is not 56 lines of equal length (a PLY file of another tool, say) clears the
    // picture, and the first of a run of them (until a good frame or a clear) is named in the
    // log with the reason.
    void Update(const std::shared_ptr<AppState>& appState);
    // Writes the picture as PNG; an empty path picks the screenshots folder and receives
    // the file's path. Tells the user through the toast and the log.
    void ExportPng(std::string& path, AppState& appState);
    // What a ClearViews or Show2DView does: forgets the frame and the picture when the frame
    // was made before the action, and drops the queued frames made before it. A frame made
    // after it (a replay's first, published right after its clear) stays to be shown; the
    // picture is always that frame's, or none.
    void ResetTexture(const AppAction& clear);
    // Decodes and uploads the logo; a logo that cannot be decoded is logged once and not
    // tried again.
    void LoadLogoTexture();
    // Deletes the picture and logo textures; call while the context exists.
    void ReleaseGl();

    bool HasImage() const { return hasImage_; }
    int ImageWidth() const { return imageWidth_; }
    int ImageRows() const { return imageRows_; }
    const std::vector<uint8_t>& ImageBytes() const { return imageBytes_; }
    unsigned ImageTexture() const { return texture_.Id(); }
    bool LogoLoaded() const { return logoLoaded_; }
    std::size_t QueuedFrames() const { return frames_.Size(); }
    std::size_t QueuedActions() const { return actions_.Size(); }

private:
    void ClearPicture();

    ThreadSafeQueue<FrameData> frames_;
    ThreadSafeQueue<AppAction> actions_;
    std::shared_ptr<FrameData> current_;
    std::vector<uint8_t> imageBytes_;  // RGB, row r = scan line r
    int imageWidth_ = 0;
    int imageRows_ = 56;
    bool hasImage_ = false;
    bool uploadPending_ = false;
    // The log has named the current run of frames that are not lines; a clear, published on
    // any thread, starts a new run.
    std::atomic<bool> notLinesTold_{false};

    StreamedTexture texture_;
    unsigned logoTexture_ = 0;
    int logoWidth_ = 0;
    int logoHeight_ = 0;
    bool logoLoaded_ = false;
    bool logoFailed_ = false;
    PngBytes logo_;
};

}  // namespace orbel::studio::gui
