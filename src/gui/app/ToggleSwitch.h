// ToggleSwitch: the program's on/off switch: a rounded frame with a knob that slides from
// left (off) to right (on), the label to its right. The knob's position, the frame's size
// and the blend between the off and on looks are plain functions below; the drawing only
// follows them.
//
// Contract: GUI thread, inside an ImGui window. The renderer is one object per thread,
// re-configured before every switch, so switches drawn one after another never share state.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <imgui.h>

namespace orbel::studio::gui {

namespace ToggleFlags {
inline constexpr int None = 0;
inline constexpr int Animated = 1 << 0;
inline constexpr int FrameBorder = 1 << 3;
inline constexpr int KnobBorder = 1 << 4;
inline constexpr int FrameShadow = 1 << 5;
inline constexpr int KnobShadow = 1 << 6;
inline constexpr int StateMarks = 1 << 8;
}  // namespace ToggleFlags

enum class ToggleMarkStyle : int { Labels = 0, Glyphs = 1, Dots = 2 };

// Colours that override the style's, one by one; an all-zero colour does not override.
struct TogglePalette {
    ImVec4 knob{};
    ImVec4 knobHover{};
    ImVec4 frame{};
    ImVec4 frameHover{};
    ImVec4 frameBorder{};
    ImVec4 frameShadow{};
    ImVec4 knobBorder{};
    ImVec4 knobShadow{};
    ImVec4 marks{};
};

struct ToggleStateConfig {
    float frameBorderThickness = 1.0f;
    float frameShadowThickness = 2.0f;
    float knobBorderThickness = 1.0f;
    float knobShadowThickness = 2.0f;
    std::string label;
    ImVec4 knobInset{0.0f, 0.0f, 0.0f, 0.0f};  // left, top, right, bottom
    ImVec2 knobOffset{0.0f, 0.0f};
    std::optional<TogglePalette> palette;
};

struct ToggleConfig {
    int flags = ToggleFlags::None;
    ToggleMarkStyle markStyle = ToggleMarkStyle::Labels;
    float animationDuration = 0.0f;  // seconds, never below 0
    float frameRounding = 1.0f;      // share of the frame height, [0, 1]; negative: half the height
    float knobRounding = 1.0f;       // [0, 1]; 1 is a circular knob
    float widthRatio = 1.618034f;    // width / height when no width is given, [1, 10]
    ImVec2 size{0.0f, 0.0f};         // 0: automatic
    ToggleStateConfig on{1.0f, 2.0f, 1.0f, 2.0f, "1", {}, {}, {}};
    ToggleStateConfig off{1.0f, 2.0f, 1.0f, 2.0f, "0", {}, {}, {}};
};

inline constexpr float kToggleAnimationSeconds = 0.1f;

// The switch the panels use: `flags` (Animated gives a 0.1 s slide), round frame and knob,
// `size` (0 x 0: one frame high, 1.618034 frames wide). True on the frame a click flipped *value.
bool ToggleSwitch(const char* label, bool* value, int flags = ToggleFlags::Animated,
                  ImVec2 size = ImVec2(0.0f, 0.0f));
// The same with a full configuration.
bool ToggleSwitch(const char* label, bool* value, const ToggleConfig& config);

// The knob's position, 0 (off) to 1 (on). A mixed value sits in the middle. While animating
// (an animated switch that was the last one clicked), the knob moves over `duration` seconds
// from the old side to the new one: `secondsSinceClick` / duration, turned round when the new
// value is off.
float ToggleKnobPosition(bool value, bool mixed, bool animating, float secondsSinceClick, float duration);

// The frame's size: the given height when positive, else `frameHeight`; the given width when
// positive, else height times the (clamped) width ratio.
ImVec2 ToggleFrameSize(ImVec2 size, float frameHeight, float widthRatio);

// The configuration's values brought into their ranges (duration >= 0, roundings in [0, 1]
// with a negative frame rounding kept as "half the height", width ratio in [1, 10]).
ToggleConfig ClampToggleConfig(ToggleConfig config);

}  // namespace orbel::studio::gui
