// Off-screen rendering of the 3D view's scene through one program and three buffers.
#include "views/SceneRenderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/Logging.h"
#include "views/SceneShaders.h"

namespace orbel::studio::gui {
namespace {

constexpr int kErrorLevel = 4;
constexpr int kCircleCount = 20;
constexpr float kCircleStep = 5000.0f;  // mm
constexpr int kCircleSegments = 64;

std::string CircleName(int index) { return "circle_r" + std::to_string((index + 1) * static_cast<int>(kCircleStep)); }

float ClampPointSize(float size) {
    if (!(size >= SceneRenderer::kMinPointSize)) {
        return SceneRenderer::kMinPointSize;
    }
    return std::min(size, SceneRenderer::kMaxPointSize);
}

}  // namespace

unsigned SceneRenderer::CompileShader(unsigned type, const std::string& source) {
    const GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[512] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        Log(std::string("Shader compile error: ") + log, kErrorLevel);
    }
    return shader;
}

void SceneRenderer::InitGL() {
    if (initialised_) {
        return;
    }
    const GLuint vertex = CompileShader(GL_VERTEX_SHADER, SceneVertexShaderSource());
    const GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, SceneFragmentShaderSource());
    program_ = glCreateProgram();
    glAttachShader(program_, vertex);
    glAttachShader(program_, fragment);
    glLinkProgram(program_);
    GLint ok = GL_FALSE;
    glGetProgramiv(program_, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[512] = {};
        glGetProgramInfoLog(program_, sizeof log, nullptr, log);
        Log(std::string("Shader link error: ") + log, kErrorLevel);
    }
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    uniformMvp_ = glGetUniformLocation(program_, "uMVP");
    uniformColorMode_ = glGetUniformLocation(program_, "uColorMode");
    uniformColor_ = glGetUniformLocation(program_, "uColor");
    uniformScalarMin_ = glGetUniformLocation(program_, "uScalarMin");
    uniformScalarMax_ = glGetUniformLocation(program_, "uScalarMax");

    glGenVertexArrays(1, &vertexArray_);
    glGenBuffers(3, buffers_);
    glBindVertexArray(vertexArray_);
    const GLint components[3] = {3, 1, 3};
    for (GLuint location = 0; location < 3; ++location) {
        glBindBuffer(GL_ARRAY_BUFFER, buffers_[location]);
        glBufferData(GL_ARRAY_BUFFER, 0, nullptr, GL_DYNAMIC_DRAW);
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, components[location], GL_FLOAT, GL_FALSE,
                              static_cast<GLsizei>(components[location] * sizeof(float)), nullptr);
    }
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    uploadedVersion_ = 0;
    initialised_ = true;
}

void SceneRenderer::ReleaseGl() {
    DeleteFramebuffer();
    if (vertexArray_ != 0) {
        glDeleteVertexArrays(1, &vertexArray_);
        vertexArray_ = 0;
    }
    if (buffers_[0] != 0) {
        glDeleteBuffers(3, buffers_);
        buffers_[0] = buffers_[1] = buffers_[2] = 0;
    }
    if (program_ != 0) {
        glDeleteProgram(program_);
        program_ = 0;
    }
    initialised_ = false;
    uploadedVersion_ = 0;
}

void SceneRenderer::DeleteFramebuffer() {
    if (framebuffer_ != 0) {
        glDeleteFramebuffers(1, &framebuffer_);
        framebuffer_ = 0;
    }
    if (colorTexture_ != 0) {
        glDeleteTextures(1, &colorTexture_);
        colorTexture_ = 0;
    }
    if (depthStencil_ != 0) {
        glDeleteRenderbuffers(1, &depthStencil_);
        depthStencil_ = 0;
    }
    fbWidth_ = 0.0f;
    fbHeight_ = 0.0f;
}

void SceneRenderer::EnsureFramebuffer(float width, float height) {
    if (framebuffer_ != 0 && width == fbWidth_ && height == fbHeight_) {
        return;
    }
    DeleteFramebuffer();
    fbWidth_ = width;
    fbHeight_ = height;
    const auto w = static_cast<GLsizei>(width);
    const auto h = static_cast<GLsizei>(height);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glGenTextures(1, &colorTexture_);
    glBindTexture(GL_TEXTURE_2D, colorTexture_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorTexture_, 0);
    glGenRenderbuffers(1, &depthStencil_);
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencil_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthStencil_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        Log("FBO incomplete!", kErrorLevel);
    }
}

void SceneRenderer::Upload() {
    {
        std::lock_guard lock(sceneMutex_);
        if (uploadedVersion_ == sceneVersion_) {
            return;
        }
        StageScene(scene_, staged_);
        uploadedVersion_ = sceneVersion_;
    }
    const std::vector<float>* arrays[3] = {&staged_.positions, &staged_.scalars, &staged_.colors};
    for (int i = 0; i < 3; ++i) {
        const auto bytes = static_cast<GLsizeiptr>(arrays[i]->size() * sizeof(float));
        glBindBuffer(GL_ARRAY_BUFFER, buffers_[i]);
        glBufferData(GL_ARRAY_BUFFER, bytes, arrays[i]->data(), GL_DYNAMIC_DRAW);
        uploadedBytes_ += static_cast<uint64_t>(bytes);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    ++uploadCount_;
}

void SceneRenderer::Render(float width, float height, const Mat4& mvp, Vec3 background) {
    if (!(width >= 1.0f) || !(height >= 1.0f)) {
        return;
    }
    InitGL();
    GLint previousFramebuffer = 0;
    GLint previousViewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, previousViewport);
    const GLboolean depthTestWasOn = glIsEnabled(GL_DEPTH_TEST);
    const GLboolean blendWasOn = glIsEnabled(GL_BLEND);

    EnsureFramebuffer(width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    // Colour blends by source alpha; alpha accumulates towards 1, so the exported PNG
    // stays opaque wherever the cleared background was.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_TRUE);
    glClearColor(background.x, background.y, background.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glBindVertexArray(vertexArray_);
    Upload();
    glUseProgram(program_);
    glUniformMatrix4fv(uniformMvp_, 1, GL_FALSE, mvp.Data());
    for (const DrawCommand& command : staged_.commands) {
        glDepthMask(command.depth_write ? GL_TRUE : GL_FALSE);
        glUniform1i(uniformColorMode_, command.color_mode);
        glUniform4fv(uniformColor_, 1, command.color.data());
        glUniform1f(uniformScalarMin_, command.scalar_min);
        glUniform1f(uniformScalarMax_, command.scalar_max);
        if (command.primitive == kPrimitivePoints) {
            glPointSize(ClampPointSize(command.point_size));
        }
        glDrawArrays(static_cast<GLenum>(command.primitive), command.first, command.count);
    }
    glDepthMask(GL_TRUE);
    glUseProgram(0);
    glBindVertexArray(0);

    if (!depthTestWasOn) {
        glDisable(GL_DEPTH_TEST);
    }
    if (!blendWasOn) {
        glDisable(GL_BLEND);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
}

void SceneRenderer::AddObject(const std::string& name, SceneObject object) {
    std::lock_guard lock(sceneMutex_);
    scene_[name] = std::move(object);
    ++sceneVersion_;
}

void SceneRenderer::RemoveObject(const std::string& name) {
    std::lock_guard lock(sceneMutex_);
    if (scene_.erase(name) > 0) {
        ++sceneVersion_;
    }
}

bool SceneRenderer::HasObject(const std::string& name) const {
    std::lock_guard lock(sceneMutex_);
    return scene_.count(name) > 0;
}

std::optional<SceneObject> SceneRenderer::FindObject(const std::string& name) const {
    std::lock_guard lock(sceneMutex_);
    const auto found = scene_.find(name);
    if (found == scene_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SceneRenderer::ClearScene() {
    std::lock_guard lock(sceneMutex_);
    if (!scene_.empty()) {
        scene_.clear();
        ++sceneVersion_;
    }
}

void SceneRenderer::AddAxes(float length) {
    const struct {
        const char* name;
        Vec3 direction;
        std::array<float, 4> color;
    } axes[] = {
        {"axis_x", {1, 0, 0}, {1, 0, 0, 1}},
        {"axis_y", {0, 1, 0}, {0, 1, 0, 1}},
        {"axis_z", {0, 0, 1}, {0, 0, 1, 1}},
    };
    for (const auto& axis : axes) {
        if (HasObject(axis.name)) {
            continue;
        }
        SceneObject object;
        object.positions = {Vec3{}, axis.direction * length};
        object.primitive = kPrimitiveLines;
        object.color = axis.color;
        AddObject(axis.name, std::move(object));
    }
}

void SceneRenderer::RemoveAxes() {
    for (const char* name : {"axis_x", "axis_y", "axis_z"}) {
        RemoveObject(name);
    }
}

void SceneRenderer::AddRangeCircles() {
    for (int i = 0; i < kCircleCount; ++i) {
        const std::string name = CircleName(i);
        if (HasObject(name)) {
            continue;
        }
        SceneObject object;
        object.positions = CirclePoints(Vec3{}, static_cast<float>(i + 1) * kCircleStep, kCircleSegments, 2);
        object.primitive = kPrimitiveLineStrip;
        object.color = {0.5f, 0.5f, 0.5f, 0.8f};
        AddObject(name, std::move(object));
    }
}

void SceneRenderer::RemoveRangeCircles() {
    for (int i = 0; i < kCircleCount; ++i) {
        RemoveObject(CircleName(i));
    }
}

}  // namespace orbel::studio::gui
