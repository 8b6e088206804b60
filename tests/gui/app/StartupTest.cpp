// The start-up phase: when the splash gives way to the main phase, and where the splash
// window goes on a desktop with several monitors.
#include <gtest/gtest.h>

#include <vector>

#include "app/Startup.h"
#include "support/HeadlessImGui.h"

namespace {

using orbel::studio::gui::MonitorArea;
using orbel::studio::gui::SplashState;
using orbel::studio::gui::StartupPhases;

// Runs splash frames of 1/64 s (exact in binary) until the main phase begins; returns the frame count, or -1.
int FramesUntilMain(StartupPhases& phases, SplashState& splash, int clickAt, int startupDoneAt) {
    for (int frame = 1; frame <= 600; ++frame) {
        const bool running = orbel::studio::gui::AdvanceSplash(splash, 1.0f / 64.0f);
        if (phases.SplashFrame(running, frame == clickAt, frame >= startupDoneAt)) {
            return frame;
        }
    }
    return -1;
}

TEST(StartupPhasesTest, SplashEndsAfterOneSecondOrAtAClickButNeverBeforeStartUpIsDone) {
    struct Case {
        const char* what;
        int clickAt;
        int startupDoneAt;
        int expectedFrame;
    };
    const Case cases[] = {
        {"no input: one second", 0, 1, 64},
        {"a click ends it on that frame", 10, 1, 10},
        {"start-up still running after the second", 0, 90, 90},
        {"a click during a slow start-up is remembered", 10, 30, 30},
    };
    for (const Case& c : cases) {
        StartupPhases phases;
        SplashState splash;
        EXPECT_EQ(FramesUntilMain(phases, splash, c.clickAt, c.startupDoneAt), c.expectedFrame) << c.what;
        EXPECT_TRUE(phases.InMainPhase()) << c.what;
        EXPECT_TRUE(phases.TakeFirstMainFrame()) << c.what;
        EXPECT_FALSE(phases.TakeFirstMainFrame()) << c.what << ": only once";
        EXPECT_FALSE(phases.SplashFrame(true, true, true)) << c.what << ": never back to the splash";
    }
}

TEST(StartupPhasesTest, SplashStaysOnScreenWhileStartUpRunsPastItsSecond) {
    orbel::testing::HeadlessImGui gui(ImVec2(800.0f, 391.0f));
    StartupPhases phases;
    SplashState splash;
    constexpr int kStartupDoneAt = 150;  // well past the splash's 64 frames
    for (int frame = 1; frame <= kStartupDoneAt; ++frame) {
        bool mainBegins = false;
        gui.BareFrame(
            [&] {
                mainBegins = orbel::studio::gui::SplashPhaseFrame(phases, splash, ImTextureID{}, 1.0f / 64.0f, false,
                                                                  frame >= kStartupDoneAt);
            },
            1.0f / 64.0f);
        if (frame < kStartupDoneAt) {
            ASSERT_FALSE(mainBegins) << "frame " << frame;
            ASSERT_GT(ImGui::GetDrawData()->TotalVtxCount, 0) << "frame " << frame << ": the splash is drawn";
        } else {
            EXPECT_TRUE(mainBegins);
        }
    }
}

TEST(WindowPlacementTest, SplashIsCentredOnTheMonitorUnderTheCursor) {
    const std::vector<MonitorArea> monitors = {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}};
    using orbel::studio::gui::CentredWindowPosition;
    EXPECT_EQ(CentredWindowPosition(100, 100, monitors, 0, 800, 391), std::make_pair(560, 344));
    EXPECT_EQ(CentredWindowPosition(2000, 700, monitors, 0, 800, 391), std::make_pair(1920 + 880, 524));
    // Off every monitor: the primary one.
    EXPECT_EQ(CentredWindowPosition(-50, 3000, monitors, 1, 800, 391), std::make_pair(1920 + 880, 524));
    EXPECT_EQ(CentredWindowPosition(0, 0, {}, 0, 800, 391), std::make_pair(0, 0));
    // Integer division, as the window system counts: (1081 - 391) / 2 = 345.
    EXPECT_EQ(CentredWindowPosition(5, 5, {{0, 0, 1921, 1081}}, 0, 800, 391), std::make_pair(560, 345));
}

// A monitor's area holds its left and top edges but not its right and bottom ones: a point
// there lies on the next monitor (or on none), so the splash goes where the cursor really is.
TEST(WindowPlacementTest, APointOnAMonitorsRightOrBottomEdgeBelongsToTheNext) {
    // Two side by side, a third below the first.
    const std::vector<MonitorArea> monitors = {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}, {0, 1080, 1920, 1080}};
    struct Case {
        const char* what;
        int x, y;
        int monitor;
    };
    const Case cases[] = {
        {"last column of the first", 1919, 500, 0},
        {"right edge of the first: the second", 1920, 500, 1},
        {"last row of the first", 500, 1079, 0},
        {"bottom edge of the first: the third", 500, 1080, 2},
        {"the top-left corner is the first's", 0, 0, 0},
        {"right edge of the last: none", 1920 + 2560, 500, -1},
        {"bottom edge of the second: none", 2000, 1440, -1},
    };
    using orbel::studio::gui::MonitorAt;
    for (const Case& c : cases) {
        EXPECT_EQ(MonitorAt(c.x, c.y, monitors), c.monitor) << c.what;
    }
    // The splash follows: on the second monitor's centre, and on the primary one (the
    // first) when the cursor is past the last monitor's right edge.
    using orbel::studio::gui::CentredWindowPosition;
    EXPECT_EQ(CentredWindowPosition(1920, 500, monitors, 0, 800, 391), std::make_pair(1920 + 880, 524));
    EXPECT_EQ(CentredWindowPosition(500, 1080, monitors, 0, 800, 391), std::make_pair(560, 1080 + 344));
    EXPECT_EQ(CentredWindowPosition(1920 + 2560, 500, monitors, 0, 800, 391), std::make_pair(560, 344));
}

}  // namespace
