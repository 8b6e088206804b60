// A Dear ImGui context with no window and no renderer: frames are built and rendered into
// draw lists that nobody shows, so panels can be driven and inspected without a display.
// One instance per test; it owns the context and destroys it.
#pragma once

#include <imgui.h>

#include <functional>

namespace orbel::testing {

class HeadlessImGui {
public:
    explicit HeadlessImGui(ImVec2 displaySize = ImVec2(1280.0f, 800.0f)) : context_(ImGui::CreateContext()) {
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = displaySize;
        io.DeltaTime = 1.0f / 60.0f;
        io.IniFilename = nullptr;
        io.LogFilename = nullptr;
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    }
    ~HeadlessImGui() { ImGui::DestroyContext(context_); }
    HeadlessImGui(const HeadlessImGui&) = delete;
    HeadlessImGui& operator=(const HeadlessImGui&) = delete;

    // One frame: `draw` runs inside a full-display window named "Test".
    void Frame(const std::function<void()>& draw, float deltaSeconds = 1.0f / 60.0f) {
        BareFrame(
            [&] {
                ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
                ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
                ImGui::Begin("Test", nullptr,
                             ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoSavedSettings);
                draw();
                ImGui::End();
            },
            deltaSeconds);
    }

    // One frame in which `draw` makes its own windows (a whole layout).
    void BareFrame(const std::function<void()>& draw, float deltaSeconds = 1.0f / 60.0f) {
        ImGui::GetIO().DeltaTime = deltaSeconds;
        ImGui::NewFrame();
        draw();
        ImGui::Render();
    }

    // Mouse input for the next frame. ImGui 1.86 has no input-event queue: the state is
    // read from the IO fields at the next NewFrame.
    void MoveMouse(ImVec2 position) { ImGui::GetIO().MousePos = position; }
    void SetMouseButton(int button, bool down) { ImGui::GetIO().MouseDown[button] = down; }

    // A left click at `position`: a frame to hover, one to press and one to release, each
    // running `draw` (in the "Test" window, or bare).
    void Click(ImVec2 position, const std::function<void()>& draw, bool bare = false) {
        const auto frame = [&] { bare ? BareFrame(draw) : Frame(draw); };
        MoveMouse(position);
        frame();  // hover first: ImGui 1.86 finds the hovered window from the previous frame
        SetMouseButton(0, true);
        frame();
        SetMouseButton(0, false);
        frame();
    }

    ImGuiContext* Context() const { return context_; }

private:
    ImGuiContext* context_;
};

}  // namespace orbel::testing
