// SceneRenderer: draws the 3D view's scene into an off-screen framebuffer whose colour
// texture the panel shows and exports. It owns one shader program, one vertex array with
// three buffers (positions, scalars, colours), the framebuffer with its RGBA texture and
// depth-stencil renderbuffer, and the scene of named objects.
//
// Contract: GUI thread only, with the program's OpenGL context current for InitGL,
// Render and ReleaseGl. The scene may be edited before InitGL. Vertex data is uploaded
// only when the scene changed since the last upload, so a frame with nothing new draws
// from the buffers already on the GPU. GL objects are deleted by ReleaseGl, which the
// owner must call while the context still exists; the destructor makes no GL call.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "views/Math3D.h"
#include "views/SceneObject.h"

namespace orbel::studio::gui {

class SceneRenderer {
public:
    static constexpr float kMinPointSize = 1.0f;
    static constexpr float kMaxPointSize = 20.0f;

    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // Compiles the program and creates the vertex array and buffers; once.
    void InitGL();
    bool Initialised() const { return initialised_; }
    // Deletes every GL object; the next InitGL starts afresh. Safe to call twice.
    void ReleaseGl();

    // Draws the scene with `mvp` into the framebuffer, re-created when the size changed;
    // the framebuffer binding and viewport in force before are restored afterwards.
    void Render(float width, float height, const Mat4& mvp, Vec3 background);

    // Inserts or replaces the object (its vectors are moved in).
    void AddObject(const std::string& name, SceneObject object);
    void RemoveObject(const std::string& name);
    bool HasObject(const std::string& name) const;
    // A copy of the object of that name, if there is one.
    std::optional<SceneObject> FindObject(const std::string& name) const;
    void ClearScene();
    // Lines from the origin along +x, +y, +z, each added only when missing.
    void AddAxes(float length);
    void RemoveAxes();
    // The 20 ground circles "circle_r5000" .. "circle_r100000", each added only when missing.
    void AddRangeCircles();
    void RemoveRangeCircles();

    unsigned ColorTexture() const { return colorTexture_; }
    unsigned Framebuffer() const { return framebuffer_; }
    int FramebufferWidth() const { return static_cast<int>(fbWidth_); }
    int FramebufferHeight() const { return static_cast<int>(fbHeight_); }

    // How many times vertex data went to the GPU, and how many bytes in all.
    uint64_t UploadCount() const { return uploadCount_; }
    uint64_t UploadedBytes() const { return uploadedBytes_; }

private:
    unsigned CompileShader(unsigned type, const std::string& source);
    void EnsureFramebuffer(float width, float height);
    void DeleteFramebuffer();
    void Upload();

    mutable std::mutex sceneMutex_;  // guards scene_ and sceneVersion_
    Scene scene_;
    uint64_t sceneVersion_ = 1;
    uint64_t uploadedVersion_ = 0;
    StagedScene staged_;

    bool initialised_ = false;
    unsigned program_ = 0;
    unsigned vertexArray_ = 0;
    unsigned buffers_[3] = {0, 0, 0};
    int uniformMvp_ = -1;
    int uniformColorMode_ = -1;
    int uniformColor_ = -1;
    int uniformScalarMin_ = -1;
    int uniformScalarMax_ = -1;

    unsigned framebuffer_ = 0;
    unsigned colorTexture_ = 0;
    unsigned depthStencil_ = 0;
    float fbWidth_ = 0.0f;
    float fbHeight_ = 0.0f;

    uint64_t uploadCount_ = 0;
    uint64_t uploadedBytes_ = 0;
};

}  // namespace orbel::studio::gui
