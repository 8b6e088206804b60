// The toggle switch: where its knob stands while it slides, its automatic size, and a click
// that flips the value on exactly one frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/ToggleSwitch.h"
#include "support/HeadlessImGui.h"

namespace {

using orbel::studio::gui::ToggleFrameSize;
using orbel::studio::gui::ToggleKnobPosition;

TEST(ToggleSwitchTest, KnobSlidesOverTheDurationTowardsTheNewValue) {
    struct Case {
        const char* what;
        bool value;
        bool mixed;
        bool animating;
        float since;
        float expected;
    };
    const float duration = 0.1f;
    const Case cases[] = {
        {"on, still", true, false, false, 0.0f, 1.0f},
        {"off, still", false, false, false, 0.0f, 0.0f},
        {"mixed sits in the middle", true, true, true, 0.05f, 0.5f},
        {"switched on, at the click", true, false, true, 0.0f, 0.0f},
        {"switched on, half way", true, false, true, 0.05f, 0.5f},
        {"switched on, done", true, false, true, 0.1f, 1.0f},
        {"switched on, past the end", true, false, true, 0.5f, 1.0f},
        {"switched off, a quarter in", false, false, true, 0.025f, 0.75f},
        {"switched off, done", false, false, true, 0.1f, 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(ToggleKnobPosition(c.value, c.mixed, c.animating, c.since, duration), c.expected, 1e-5f) << c.what;
    }
    // A switch without a duration jumps.
    EXPECT_EQ(ToggleKnobPosition(true, false, true, 0.0f, 0.0f), 1.0f);
}

TEST(ToggleSwitchTest, AutomaticSizeIsOneFrameHighAndGoldenWide) {
    const ImVec2 automatic = ToggleFrameSize(ImVec2(0.0f, 0.0f), 20.0f, 1.618034f);
    EXPECT_FLOAT_EQ(automatic.y, 20.0f);
    EXPECT_FLOAT_EQ(automatic.x, 20.0f * 1.618034f);
    const ImVec2 given = ToggleFrameSize(ImVec2(60.0f, 30.0f), 20.0f, 1.618034f);
    EXPECT_FLOAT_EQ(given.x, 60.0f);
    EXPECT_FLOAT_EQ(given.y, 30.0f);
    // The ratio is kept within [1, 10].
    EXPECT_FLOAT_EQ(ToggleFrameSize(ImVec2(0.0f, 0.0f), 20.0f, 0.2f).x, 20.0f);
    EXPECT_FLOAT_EQ(ToggleFrameSize(ImVec2(0.0f, 0.0f), 20.0f, 50.0f).x, 200.0f);
}

TEST(ToggleSwitchTest, AClickFlipsTheValueOnOneFrame) {
    orbel::testing::HeadlessImGui gui;
    bool value = false;
    int flips = 0;
    ImVec2 itemSize;
    const auto draw = [&] {
        ImGui::SetCursorScreenPos(ImVec2(20.0f, 20.0f));
        flips += orbel::studio::gui::ToggleSwitch("Enable camera", &value) ? 1 : 0;
        itemSize = ImGui::GetItemRectSize();
    };
    gui.Frame(draw);
    const float frameHeight = ImGui::GetFrameHeight();
    // The frame plus the label beside it.
    EXPECT_GT(itemSize.x, frameHeight * 1.618034f + ImGui::CalcTextSize("Enable camera").x);

    gui.Click(ImVec2(20.0f + frameHeight * 0.8f, 20.0f + frameHeight * 0.5f), draw);
    EXPECT_TRUE(value);
    EXPECT_EQ(flips, 1);
    // A click on the label does not flip it.
    gui.Click(ImVec2(20.0f + frameHeight * 1.618034f + 30.0f, 20.0f + frameHeight * 0.5f), draw);
    EXPECT_TRUE(value);
    EXPECT_EQ(flips, 1);
}


// The knob's centre in the last rendered frame: the middle of the opaque vertices of the
// knob's colour (the anti-aliased fringe is transparent) inside the switch's frame; the
// label, drawn in the same colour, lies right of it. NaN when there is none.
float KnobCentreX(ImVec2 frameMin, ImVec2 frameMax) {
    const ImU32 knob = ImGui::GetColorU32(ImGuiCol_Text);
    float lo = INFINITY;
    float hi = -INFINITY;
    const ImDrawData* data = ImGui::GetDrawData();
    for (int l = 0; l < data->CmdListsCount; ++l) {
        for (const ImDrawVert& v : data->CmdLists[l]->VtxBuffer) {
            if (v.col == knob && v.pos.x >= frameMin.x && v.pos.x <= frameMax.x && v.pos.y >= frameMin.y &&
                v.pos.y <= frameMax.y) {
                lo = std::min(lo, v.pos.x);
                hi = std::max(hi, v.pos.x);
            }
        }
    }
    return lo <= hi ? (lo + hi) * 0.5f : NAN;
}

// The widget itself over frames of 1/32 s (exact in binary): the knob starts to move on the
// frame of the click and reaches the other side after 0.1 s, both ways; without the
// Animated flag it jumps.
TEST(ToggleSwitchTest, AClickedSwitchSlidesItsKnobAcrossOverAFewFrames) {
    orbel::testing::HeadlessImGui gui;
    constexpr float kStep = 1.0f / 32.0f;
    const ImVec2 at(20.0f, 20.0f);
    bool value = false;
    int flags = orbel::studio::gui::ToggleFlags::Animated;
    const auto draw = [&] {
        ImGui::SetCursorScreenPos(at);
        orbel::studio::gui::ToggleSwitch("Show grid", &value, flags);
    };
    gui.Frame(draw, kStep);
    const float height = ImGui::GetFrameHeight();
    const ImVec2 frameMax(at.x + height * 1.618034f, at.y + height);
    const float offX = at.x + height * 0.5f;              // knob centre when off
    const float onX = frameMax.x - height * 0.5f;         // and when on
    ASSERT_NEAR(KnobCentreX(at, frameMax), offX, 0.5f);

    // Hover, press, release: the value flips on the release, and so the slide starts there.
    const auto clickFrames = [&] {
        gui.MoveMouse(ImVec2(at.x + height * 0.8f, at.y + height * 0.5f));
        gui.Frame(draw, kStep);
        gui.SetMouseButton(0, true);
        gui.Frame(draw, kStep);
        gui.SetMouseButton(0, false);
        gui.Frame(draw, kStep);
    };
    const auto slide = [&](const char* what, float from, float to) {
        clickFrames();
        EXPECT_NEAR(KnobCentreX(at, frameMax), from, 0.5f) << what << ": the frame of the click";
        for (const float t : {0.3125f, 0.625f, 0.9375f}) {
            gui.Frame(draw, kStep);
            EXPECT_NEAR(KnobCentreX(at, frameMax), from + (to - from) * t, 0.5f) << what << ", " << t * 0.1f << " s in";
        }
        gui.Frame(draw, kStep);
        EXPECT_NEAR(KnobCentreX(at, frameMax), to, 0.5f) << what << ": done";
        gui.Frame(draw, kStep);
        EXPECT_NEAR(KnobCentreX(at, frameMax), to, 0.5f) << what << ": and stays";
    };
    slide("switched on", offX, onX);
    EXPECT_TRUE(value);
    slide("switched off", onX, offX);
    EXPECT_FALSE(value);

    flags = orbel::studio::gui::ToggleFlags::None;
    clickFrames();
    EXPECT_TRUE(value);
    EXPECT_NEAR(KnobCentreX(at, frameMax), onX, 0.5f) << "not animated: it jumps";
}

}  // namespace
