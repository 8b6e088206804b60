// The toggle switch: where its knob stands while it slides, its automatic size, and a click
// that flips the value on exactly one frame.
#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
