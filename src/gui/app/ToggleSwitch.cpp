// The toggle switch's item logic and drawing (Dear ImGui 1.86 internals: item, button
// behaviour, last-active timer for the slide).
#include "app/ToggleSwitch.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "app/Logging.h"

namespace orbel::studio::gui {
namespace {

// Misuse is reported once per text and thread (a switch is drawn every frame).
void ReportMisuse(const char* text) {
    thread_local std::set<std::string> reported;
    if (reported.insert(text).second) {
        Log(std::string("Toggle switch: ") + text, 3);
    }
}

bool Overrides(const ImVec4& colour) {
    return colour.x != 0.0f || colour.y != 0.0f || colour.z != 0.0f || colour.w != 0.0f;
}

ImVec4 Pick(const std::optional<TogglePalette>& palette, ImVec4 TogglePalette::*slot, ImVec4 fallback) {
    if (palette && Overrides((*palette).*slot)) {
        return (*palette).*slot;
    }
    return fallback;
}

ImVec4 Mix(const ImVec4& a, const ImVec4& b, float t) {
    return ImVec4(ImLerp(a.x, b.x, t), ImLerp(a.y, b.y, t), ImLerp(a.z, b.z, t), ImLerp(a.w, b.w, t));
}

// What one state looks like, in colours and thicknesses.
struct Look {
    ImVec4 knob;
    ImVec4 knobHover;
    ImVec4 frame;
    ImVec4 frameHover;
    ImVec4 frameBorder;
    ImVec4 frameShadow;
    ImVec4 knobBorder;
    ImVec4 knobShadow;
    ImVec4 marks;
    float frameBorderThickness;
    float frameShadowThickness;
    float knobBorderThickness;
    float knobShadowThickness;
    ImVec4 knobInset;
    ImVec2 knobOffset;
};

Look LookOf(const ToggleStateConfig& state, bool on, const ImGuiStyle& style) {
    const auto& p = state.palette;
    const ImVec4* c = style.Colors;
    return Look{
        Pick(p, &TogglePalette::knob, c[ImGuiCol_Text]),
        Pick(p, &TogglePalette::knobHover, c[ImGuiCol_Text]),
        Pick(p, &TogglePalette::frame, on ? c[ImGuiCol_Button] : c[ImGuiCol_FrameBg]),
        Pick(p, &TogglePalette::frameHover, on ? c[ImGuiCol_ButtonHovered] : c[ImGuiCol_FrameBgHovered]),
        Pick(p, &TogglePalette::frameBorder, c[ImGuiCol_Border]),
        Pick(p, &TogglePalette::frameShadow, c[ImGuiCol_BorderShadow]),
        Pick(p, &TogglePalette::knobBorder, c[ImGuiCol_Border]),
        Pick(p, &TogglePalette::knobShadow, c[ImGuiCol_BorderShadow]),
        Pick(p, &TogglePalette::marks, on ? c[ImGuiCol_Text] : c[ImGuiCol_FrameBg]),
        state.frameBorderThickness,
        state.frameShadowThickness,
        state.knobBorderThickness,
        state.knobShadowThickness,
        state.knobInset,
        state.knobOffset,
    };
}

Look Blend(const Look& off, const Look& on, float t) {
    return Look{
        Mix(off.knob, on.knob, t),
        Mix(off.knobHover, on.knobHover, t),
        Mix(off.frame, on.frame, t),
        Mix(off.frameHover, on.frameHover, t),
        Mix(off.frameBorder, on.frameBorder, t),
        Mix(off.frameShadow, on.frameShadow, t),
        Mix(off.knobBorder, on.knobBorder, t),
        Mix(off.knobShadow, on.knobShadow, t),
        Mix(off.marks, on.marks, t),
        ImLerp(off.frameBorderThickness, on.frameBorderThickness, t),
        ImLerp(off.frameShadowThickness, on.frameShadowThickness, t),
        ImLerp(off.knobBorderThickness, on.knobBorderThickness, t),
        ImLerp(off.knobShadowThickness, on.knobShadowThickness, t),
        Mix(off.knobInset, on.knobInset, t),
        ImLerp(off.knobOffset, on.knobOffset, t),
    };
}

// One renderer per thread, configured before every switch.
class ToggleRenderer {
public:
    void Configure(const ToggleConfig& config) { config_ = ClampToggleConfig(config); }
    bool Draw(const char* label, bool* value);

private:
    void DrawMarks(ImDrawList* draw, const ImRect& frame, const Look& look);
    void DrawKnob(ImDrawList* draw, const ImRect& frame, float t, const Look& look, bool hovered);

    ToggleConfig config_;
};

bool ToggleRenderer::Draw(const char* label, bool* value) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window->SkipItems || value == nullptr) {
        return false;
    }
    ImGuiContext& g = *GImGui;
    const ImGuiStyle& style = g.Style;
    const ImGuiID id = window->GetID(label);

    if (config_.size.x < 0.0f) ReportMisuse("Size.x specified was negative.");
    if (config_.size.y < 0.0f) ReportMisuse("Size.y specified was negative.");
    const ImVec2 frameSize = ToggleFrameSize(config_.size, ImGui::GetFrameHeight(), config_.widthRatio);
    const ImVec2 labelSize = ImGui::CalcTextSize(label, nullptr, true);
    const float labelWidth = labelSize.x > 0.0f ? style.ItemInnerSpacing.x + labelSize.x : 0.0f;
    const float offsetExtra = std::max(0.0f, -std::min(config_.on.knobOffset.x, config_.off.knobOffset.x)) * 0.5f;

    const ImVec2 position = window->DC.CursorPos;
    const ImRect frame(position, ImVec2(position.x + frameSize.x, position.y + frameSize.y));
    const ImRect total(position, ImVec2(position.x + frameSize.x + labelWidth + offsetExtra,
                                        position.y + std::max(frameSize.y, labelSize.y)));
    ImGui::ItemSize(total, style.FramePadding.y);
    if (!ImGui::ItemAdd(total, id)) {
        return false;
    }
    const bool mixed = (g.LastItemData.InFlags & ImGuiItemFlags_MixedValue) != 0;

    bool hovered = false;
    bool held = false;
    const bool pressed = ImGui::ButtonBehavior(frame, id, &hovered, &held);
    if (pressed) {
        *value = !*value;
        ImGui::MarkItemEdited(id);
    }

    // The slide runs from the click that flipped the value (ImGui's own active-item timer
    // starts at the press, before the value flips on release, and would slide the wrong way).
    const bool animated = (config_.flags & ToggleFlags::Animated) != 0 && config_.animationDuration > 0.0f;
    ImGuiStorage* storage = ImGui::GetStateStorage();
    if (pressed && animated) {
        storage->SetFloat(id, static_cast<float>(g.Time));
    }
    const float sinceClick = static_cast<float>(g.Time) - storage->GetFloat(id, -1.0e9f);
    const bool animating = animated && sinceClick >= 0.0f && sinceClick < config_.animationDuration;
    const float t = ToggleKnobPosition(*value, mixed, animating, sinceClick, config_.animationDuration);
    const float blend = animating ? t : (*value ? 1.0f : 0.0f);
    const Look look = Blend(LookOf(config_.off, false, style), LookOf(config_.on, true, style), blend);

    ImDrawList* draw = window->DrawList;
    const float height = frame.GetHeight();
    const float rounding = config_.frameRounding < 0.0f ? height * 0.5f : config_.frameRounding * height;
    if ((config_.flags & ToggleFlags::FrameShadow) && look.frameShadowThickness > 0.0f) {
        const float grow = look.frameShadowThickness * 0.5f;
        draw->AddRect(ImVec2(frame.Min.x - grow, frame.Min.y - grow), ImVec2(frame.Max.x + grow, frame.Max.y + grow),
                      ImGui::GetColorU32(look.frameShadow), rounding + grow, 0, look.frameShadowThickness);
    }
    draw->AddRectFilled(frame.Min, frame.Max, ImGui::GetColorU32(hovered ? look.frameHover : look.frame), rounding);
    if ((config_.flags & ToggleFlags::FrameBorder) && look.frameBorderThickness > 0.0f) {
        draw->AddRect(frame.Min, frame.Max, ImGui::GetColorU32(look.frameBorder), rounding, 0,
                      look.frameBorderThickness);
    }
    if (config_.flags & ToggleFlags::StateMarks) {
        DrawMarks(draw, frame, look);
    }
    DrawKnob(draw, frame, t, look, hovered);

    if (labelSize.x > 0.0f) {
        const ImVec2 labelPosition(frame.Max.x + style.ItemInnerSpacing.x,
                                   frame.Min.y + (frame.GetHeight() - labelSize.y) * 0.5f);
        ImGui::RenderText(labelPosition, label);
    }
    if (g.LogEnabled) {
        ImGui::LogRenderedText(&frame.Min, mixed ? "[~]" : (*value ? "[x]" : "[ ]"));
    }
    return pressed;
}

void ToggleRenderer::DrawMarks(ImDrawList* draw, const ImRect& frame, const Look& look) {
    const float height = frame.GetHeight();
    const ImU32 colour = ImGui::GetColorU32(look.marks);
    // Each mark sits in the half that the knob leaves free in its state.
    const ImVec2 onCentre(frame.Min.x + height * 0.5f, frame.GetCenter().y);
    const ImVec2 offCentre(frame.Max.x - height * 0.5f, frame.GetCenter().y);
    switch (config_.markStyle) {
        case ToggleMarkStyle::Labels: {
            for (const auto& [text, centre] : {std::pair{config_.on.label.c_str(), onCentre},
                                               std::pair{config_.off.label.c_str(), offCentre}}) {
                const ImVec2 size = ImGui::CalcTextSize(text);
                draw->AddText(ImVec2(centre.x - size.x * 0.5f, centre.y - size.y * 0.5f), colour, text);
            }
            break;
        }
        case ToggleMarkStyle::Glyphs: {
            const float half = height * 0.2f;
            draw->AddLine(ImVec2(onCentre.x, onCentre.y - half), ImVec2(onCentre.x, onCentre.y + half), colour, 1.5f);
            draw->AddCircle(offCentre, half, colour, 16, 1.5f);
            break;
        }
        case ToggleMarkStyle::Dots:
            draw->AddCircleFilled(onCentre, height * 0.08f, colour);
            draw->AddCircleFilled(offCentre, height * 0.08f, colour);
            break;
    }
}

void ToggleRenderer::DrawKnob(ImDrawList* draw, const ImRect& frame, float t, const Look& look, bool hovered) {
    const float height = frame.GetHeight();
    const ImVec4& inset = look.knobInset;
    const float meanInset = (inset.x + inset.y + inset.z + inset.w) * 0.25f;
    float radius = height * 0.5f - meanInset;
    if (radius < 0.0f) {
        ReportMisuse("Inset size needs to be smaller or equal to the knob's radius for circular knobs.");
        radius = 0.0f;
    }
    const float travel = frame.GetWidth() - 2.0f * (radius + meanInset);
    const ImVec2 centre(frame.Min.x + meanInset + radius + travel * t + look.knobOffset.x,
                        frame.Min.y + meanInset + radius + look.knobOffset.y);
    const ImU32 fill = ImGui::GetColorU32(hovered ? look.knobHover : look.knob);
    const bool shadow = (config_.flags & ToggleFlags::KnobShadow) && look.knobShadowThickness > 0.0f;
    const bool border = (config_.flags & ToggleFlags::KnobBorder) && look.knobBorderThickness > 0.0f;

    if (std::isnan(config_.knobRounding)) {
        ReportMisuse("No toggle knob type to draw.");
    } else if (config_.knobRounding >= 1.0f) {
        if (shadow) {
            draw->AddCircle(centre, radius + look.knobShadowThickness * 0.5f, ImGui::GetColorU32(look.knobShadow), 0,
                            look.knobShadowThickness);
        }
        draw->AddCircleFilled(centre, radius, fill);
        if (border) {
            draw->AddCircle(centre, radius - look.knobBorderThickness * 0.5f, ImGui::GetColorU32(look.knobBorder), 0,
                            look.knobBorderThickness);
        }
    } else {
        const ImVec2 min(centre.x - radius, centre.y - radius);
        const ImVec2 max(centre.x + radius, centre.y + radius);
        const float rounding = config_.knobRounding * radius;
        if (shadow) {
            const float grow = look.knobShadowThickness * 0.5f;
            draw->AddRect(ImVec2(min.x - grow, min.y - grow), ImVec2(max.x + grow, max.y + grow),
                          ImGui::GetColorU32(look.knobShadow), rounding + grow, 0, look.knobShadowThickness);
        }
        draw->AddRectFilled(min, max, fill, rounding);
        if (border) {
            draw->AddRect(min, max, ImGui::GetColorU32(look.knobBorder), rounding, 0, look.knobBorderThickness);
        }
    }
}

ToggleRenderer& ThreadRenderer() {
    thread_local ToggleRenderer renderer;
    return renderer;
}

}  // namespace

float ToggleKnobPosition(bool value, bool mixed, bool animating, float secondsSinceClick, float duration) {
    if (mixed) {
        return 0.5f;
    }
    if (!animating || !(duration > 0.0f)) {
        return value ? 1.0f : 0.0f;
    }
    const float progress = std::clamp(secondsSinceClick / duration, 0.0f, 1.0f);
    return value ? progress : 1.0f - progress;
}

ImVec2 ToggleFrameSize(ImVec2 size, float frameHeight, float widthRatio) {
    const float height = size.y > 0.0f ? size.y : frameHeight;
    const float ratio = std::clamp(widthRatio, 1.0f, 10.0f);
    const float width = size.x > 0.0f ? size.x : height * ratio;
    return ImVec2(width, height);
}

ToggleConfig ClampToggleConfig(ToggleConfig config) {
    config.animationDuration = std::max(0.0f, config.animationDuration);
    if (config.frameRounding >= 0.0f) {
        config.frameRounding = std::min(config.frameRounding, 1.0f);
    }
    if (!std::isnan(config.knobRounding)) {
        config.knobRounding = std::clamp(config.knobRounding, 0.0f, 1.0f);
    }
    config.widthRatio = std::clamp(config.widthRatio, 1.0f, 10.0f);
    return config;
}

bool ToggleSwitch(const char* label, bool* value, const ToggleConfig& config) {
    ToggleRenderer& renderer = ThreadRenderer();
    renderer.Configure(config);
    return renderer.Draw(label, value);
}

bool ToggleSwitch(const char* label, bool* value, int flags, ImVec2 size) {
    ToggleConfig config;
    config.flags = flags;
    config.animationDuration = (flags & ToggleFlags::Animated) ? kToggleAnimationSeconds : 0.0f;
    config.frameRounding = 1.0f;
    config.knobRounding = 1.0f;
    config.size = size;
    return ToggleSwitch(label, value, config);
}

}  // namespace orbel::studio::gui
