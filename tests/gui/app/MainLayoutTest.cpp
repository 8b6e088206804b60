// The main layout's plain geometry: the splitters' clamps, and the timing of the progress bar and
// the toasts. The layout drawn for real is in MainLayoutGlTest.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include "app/MainLayout.h"

namespace {

using orbel::studio::gui::AppState;
using orbel::studio::gui::MainLayout;
using orbel::studio::gui::FrameDemand;
using orbel::studio::gui::kNever;

TEST(LayoutGeometryTest, ColumnsAndCentreShareTheWidth) {
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, false, false), 1904.0f - 350.0f - 350.0f - 48.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, true, true), 1904.0f - 48.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, true, false), 1904.0f - 350.0f - 48.0f);

    EXPECT_FLOAT_EQ(orbel::studio::gui::ProcessingPanelHeight(1064.0f), 440.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ProcessingPanelHeight(700.0f), 300.0f) << "never below 300";
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(1064.0f, 440.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(700.0f, 300.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(1264.0f, 300.0f), 340.0f);
}

TEST(LayoutGeometryTest, CentreSplitsBetweenTheViews) {
    const auto both = orbel::studio::gui::ComputeCentre(true, true, false, 4.0f, 0.6f, 1006.0f, 1000.0f);
    EXPECT_FLOAT_EQ(both.view2DHeight, 224.0f);
    EXPECT_FLOAT_EQ(both.view3DHeight, 1000.0f - 224.0f - 6.0f - 4.0f);
    EXPECT_FLOAT_EQ(both.view3DWidth, 600.0f);
    EXPECT_FLOAT_EQ(both.cameraWidth, 400.0f);

    const auto alone = orbel::studio::gui::ComputeCentre(false, false, false, 4.0f, 0.6f, 1006.0f, 1000.0f);
    EXPECT_FLOAT_EQ(alone.view2DHeight, 0.0f);
    EXPECT_FLOAT_EQ(alone.view3DHeight, 996.0f);
    EXPECT_FLOAT_EQ(alone.view3DWidth, 1006.0f);
    EXPECT_FLOAT_EQ(alone.cameraWidth, 0.0f);
}

TEST(LayoutGeometryTest, EveryPlacementFillsTheCentreAndTheCameraViewKeepsARegion) {
    struct Case {
        bool show2D;
        bool showCamera;
        bool cameraAbove;
        float row;          // the row below the 3D view
        float view3DWidth;  // also the 2D view's width beside a camera view
        float cameraWidth;
    };
    // The 3D view, the splitter (6) below it when there is a row, the row and 4 pixels fill the
    // height; a camera view below with the 2D view hidden takes the whole row.
    for (const Case& c : {Case{true, false, false, 224.0f, 1006.0f, 0.0f}, Case{false, false, false, 0.0f, 1006.0f, 0.0f},
                          Case{true, true, false, 224.0f, 600.0f, 400.0f}, Case{true, true, true, 224.0f, 600.0f, 400.0f},
                          Case{false, true, true, 0.0f, 600.0f, 400.0f}, Case{false, true, false, 224.0f, 1006.0f, 1006.0f}}) {
        const auto g = orbel::studio::gui::ComputeCentre(c.show2D, c.showCamera, c.cameraAbove, 4.0f, 0.6f, 1006.0f, 1000.0f);
        const std::string name = std::string(c.show2D ? "2D" : "no 2D") + (c.showCamera ? c.cameraAbove ? ", camera above" : ", camera below" : "");
        EXPECT_FLOAT_EQ(g.bottomRowHeight, c.row) << name;
        EXPECT_FLOAT_EQ(g.view2DHeight, c.show2D ? 224.0f : 0.0f) << name;
        EXPECT_FLOAT_EQ(g.view3DHeight + (c.row > 0.0f ? c.row + 6.0f : 0.0f) + 4.0f, 1000.0f) << name;
        EXPECT_FLOAT_EQ(g.view3DWidth, c.view3DWidth) << name;
        EXPECT_FLOAT_EQ(g.cameraWidth, c.cameraWidth) << name;
    }
}

TEST(LayoutGeometryTest, SplitterDragsAreClamped) {
    struct Case {
        float start;
        float delta;
        float expected;
    };
    // Dragging down by 100 pixels lowers the scale factor by 1, within [1, 10].
    for (const Case& c : {Case{4.0f, 100.0f, 3.0f}, Case{4.0f, -250.0f, 6.5f}, Case{1.5f, 100.0f, 1.0f},
                          Case{9.5f, -100.0f, 10.0f}}) {
        EXPECT_FLOAT_EQ(orbel::studio::gui::DragScaleFactor(c.start, c.delta), c.expected) << c.start << " " << c.delta;
    }
    // Dragging right by a tenth of the width raises the ratio by 0.1, within [0.2, 0.8].
    for (const Case& c : {Case{0.6f, 100.0f, 0.7f}, Case{0.6f, -100.0f, 0.5f}, Case{0.75f, 100.0f, 0.8f},
                          Case{0.25f, -100.0f, 0.2f}}) {
        EXPECT_NEAR(orbel::studio::gui::DragSplitRatio(c.start, c.delta, 1000.0f), c.expected, 1e-6f)
            << c.start << " " << c.delta;
    }
    EXPECT_FLOAT_EQ(orbel::studio::gui::DragSplitRatio(0.6f, 50.0f, 0.0f), 0.6f) << "no width, no change";
}

TEST(ToastTimingTest, FadesInAndOutAndASecondReplacesTheFirst) {
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(0.0f, 5.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(0.15f, 5.0f), 0.5f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(2.0f, 5.0f), 1.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(4.75f, 5.0f), 0.5f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(5.2f, 5.0f), 0.0f);

    AppState state;
    state.SetToast("Sensor started", 1);
    ASSERT_TRUE(state.AdvanceToast(3.0f));
    state.SetToast("Sensor stopped", 0);
    auto second = state.AdvanceToast(0.1f);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->text, "Sensor stopped");
    EXPECT_LT(orbel::studio::gui::ToastOpacity(second->elapsed, second->duration), 1.0f) << "its own fade-in";
    EXPECT_TRUE(state.AdvanceToast(4.8f)) << "and its full 5 s";
    EXPECT_FALSE(state.AdvanceToast(0.2f));
}

TEST(ProgressTimingTest, ShowsWhileATaskRunsAndHidesThreeSecondsAfter) {
    AppState state;
    bool before = false;
    const float dt = 0.125f;  // exact in binary: 24 steps make 3 s
    orbel::studio::gui::AdvanceProgressDisplay(state, true, before, dt);
    EXPECT_TRUE(state.progressVisible);
    EXPECT_FLOAT_EQ(state.progressOpacity, 0.1875f) << "fading in at 1.5 per second";
    for (int i = 0; i < 10; ++i) orbel::studio::gui::AdvanceProgressDisplay(state, true, before, dt);
    EXPECT_FLOAT_EQ(state.progressOpacity, 1.0f);
    EXPECT_FALSE(state.progressComplete);

    int hiddenAfter = 0;
    for (int i = 1; i <= 40 && state.progressVisible; ++i) {
        if (orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt).hideNow) hiddenAfter = i;
    }
    EXPECT_EQ(hiddenAfter, 24) << "hidden 3 s after the task ended";
    EXPECT_TRUE(state.progressComplete);
    orbel::studio::gui::AdvanceProgressDisplay(state, false, before, 0.5f);
    EXPECT_FLOAT_EQ(state.progressOpacity, 0.25f) << "fading out at 1.5 per second";

    // A progress update without a task shows the bar for a full 3 s again.
    state.progressVisible = true;
    for (int i = 0; i < 23; ++i) orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt);
    EXPECT_TRUE(state.progressVisible);
    EXPECT_TRUE(orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt).hideNow);
}

TEST(LayoutFrameDemandTest, WhatMovesByItselfAsksForFramesAndAStillLayoutForNone) {
    std::promise<void> unfinished;
    const auto toastAged = [](float seconds) {
        return [seconds](AppState& s) {
            s.SetToast("Sensor started", 1);
            s.AdvanceToast(seconds);
        };
    };
    struct Case {
        const char* what;
        std::function<void(AppState&)> set;
        FrameDemand expected;
    };
    const Case cases[] = {
        {"nothing moves", [](AppState&) {}, {}},
        {"the busy button's spinner", [](AppState& s) { s.busy = true; }, FrameDemand::Animation()},
        {"a toast fading in", toastAged(0.1f), FrameDemand::Animation()},
        {"a toast showing: its fade-out begins at 4.5 s", toastAged(2.0f), FrameDemand::ChangeIn(2.5)},
        {"a toast fading out", toastAged(4.75f), FrameDemand::Animation()},
        {"the progress bar sliding in",
         [](AppState& s) {
             s.progressVisible = true;
             s.progressOpacity = 0.5f;
         },
         FrameDemand::Animation()},
        {"the progress bar fading out", [](AppState& s) { s.progressOpacity = 0.5f; }, FrameDemand::Animation()},
        {"the progress bar hides 3 s after its task",
         [](AppState& s) {
             s.progressVisible = true;
             s.progressOpacity = 1.0f;
             s.progressComplete = true;
             s.progressHideTimer = 1.0f;
         },
         FrameDemand::ChangeIn(2.0)},
        {"the connection dot pulses", [](AppState& s) { s.connected = true; },
         FrameDemand::ChangeIn(orbel::studio::gui::kPulseStepSeconds)},
        {"a stream runs", [](AppState& s) { s.streaming = true; },
         FrameDemand::ChangeIn(orbel::studio::gui::kWorkerWatchSeconds)},
        {"a replay plays", [](AppState& s) { s.replaying = true; },
         FrameDemand::ChangeIn(orbel::studio::gui::kWorkerWatchSeconds)},
        {"a background task runs",
         [&](AppState& s) { s.tasks[AppState::kProcessingTaskSlot] = unfinished.get_future(); },
         FrameDemand::ChangeIn(orbel::studio::gui::kWorkerWatchSeconds)},
    };
    for (const Case& c : cases) {
        AppState state;
        c.set(state);
        const FrameDemand demand = orbel::studio::gui::LayoutFrameDemand(state);
        EXPECT_EQ(demand.animating, c.expected.animating) << c.what;
        if (c.expected.nextChangeSeconds == kNever) {
            EXPECT_EQ(demand.nextChangeSeconds, kNever) << c.what;
        } else {
            EXPECT_NEAR(demand.nextChangeSeconds, c.expected.nextChangeSeconds, 1e-6) << c.what;
        }
    }
    unfinished.set_value();
}

}  // namespace
