// CameraPanel: the camera view. It shows the newest camera image (live or replayed) fitted
// into its region, and a small button that moves the view above or below the lidar views.
//
// An image reaches the texture only when its bytes are exactly what its width, height,
// channels and sample size describe; 9- to 16-bit samples (RGB12 as the SDK delivers it, in
// 16-bit words) are reduced to 8 bits so that the top of their range is white. Anything
// else (one-channel Bayer data, a width of 0, a short or long buffer) becomes the current
// image but leaves the texture as it was.
//
// Contract: Consume may be called on any thread (it touches only the two queues, each with
// its own mutex; when more than 2 wait, the queue is emptied before the new one goes in, so
// a slow GUI shows the newest images rather than a backlog). Every other call runs on the
// GUI thread with the context current. The texture is deleted by ReleaseGl, which the owner
// calls while the context still exists; the destructor makes no OpenGL call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/AppAction.h"
#include "app/AppState.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/StreamedTexture.h"
#include "app/ThreadSafeQueue.h"
#include "views/LidarImage.h"
#include "views/Math3D.h"

namespace orbel::studio::gui {

// What the texture needs of one image: its size, RGB or RGBA, and whether the samples are
// 16-bit words of `bits` significant bits (reduced to 8 bits before the upload).
struct CameraUpload {
    int width = 0;
    int height = 0;
    int channels = 3;         // 3 (GL_RGB) or 4 (GL_RGBA)
    int bitsPerChannel = 8;   // 8: bytes; 9 to 16: 16-bit words in the machine's byte order
};

// The upload an image allows, or none: three-channel data (format 2 or 3) with 3 or 4
// channels, a positive width and height, 8 to 16 bits per channel, and exactly
// width x height x channels x (1 or 2) bytes of pixels.
std::optional<CameraUpload> PlanCameraUpload(const CameraData& image);

// Where the view's parts go: the image fitted into the region keeping its aspect (nothing
// without a texture), and the placement button 50 pixels left of the window's right edge
// and 10 below its top, whose arrow tells where a click moves the view.
struct CameraViewLayout {
    Rect image;
    Vec2 buttonMin;
    Vec2 buttonSize{20.0f, 20.0f};
    const char* arrow = "^";
};
CameraViewLayout LayoutCameraView(Vec2 regionMin, Vec2 regionSize, int textureWidth, int textureHeight,
                                  Vec2 windowMin, float windowWidth, bool cameraAbove);

class CameraPanel : public IConsumer<CameraData>, public IConsumer<AppAction> {
public:
    static constexpr std::size_t kMaxWaiting = 2;

    CameraPanel() = default;
    ~CameraPanel() override = default;
    CameraPanel(const CameraPanel&) = delete;
    CameraPanel& operator=(const CameraPanel&) = delete;

    void Consume(std::shared_ptr<CameraData> image) override;
    void Consume(std::shared_ptr<AppAction> action) override;

    // Draws the view into the current ImGui window's available region.
    void DrawCameraPanel(const std::shared_ptr<AppState>& appState);
    // The first half of a draw: one queued action (ClearViews forgets the image and deletes
    // the texture), then the oldest queued image, which becomes current and, when it can be
    // shown, waits for the upload.
    void Update();
    // Fills the texture from the image waiting for it (creating the texture when none
    // exists, re-specifying it when the size or channels change).
    void UploadPending();
    // Deletes the texture; call while the context exists. The current image is uploaded
    // again by the next draw.
    void ReleaseGl();

    unsigned Texture() const { return texture_.Id(); }
    int TextureWidth() const { return texture_.Width(); }
    int TextureHeight() const { return texture_.Height(); }
    const std::shared_ptr<CameraData>& CurrentImage() const { return current_; }
    bool UploadWaiting() const { return pending_.has_value(); }
    std::size_t QueuedImages() const { return images_.Size(); }
    std::size_t QueuedActions() const { return actions_.Size(); }

private:
    ThreadSafeQueue<CameraData> images_;
    ThreadSafeQueue<AppAction> actions_;
    StreamedTexture texture_;
    std::shared_ptr<CameraData> current_;
    std::optional<CameraUpload> pending_;   // the current image's upload, not done yet
    std::optional<CameraUpload> uploaded_;  // the current image's upload, done
    std::vector<uint8_t> reduced_;          // 8-bit copy of an image with wider samples
    bool mismatchLogged_ = false;
    bool tooLargeLogged_ = false;
};

}  // namespace orbel::studio::gui
