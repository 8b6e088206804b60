// orbelstudio end to end, as a user runs it (see StudioSession): the sensor panel's buttons,
// found by their colour in screenshots, start and stop the emulator's stream and disconnect;
// the emulator's record shows what reached the sensor, the program's log what it saw, a
// second program on the same settings folder logs apart and leaves the settings alone, and a
// close request like a window manager's ends the program with its settings saved.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gui/e2e/StudioSession.h"
#include "proto/viewer_config.pb.h"

namespace {

using orbel::testing::Rect;

class StudioEndToEndTest : public orbel::testing::StudioSession {
protected:
    // The sensor panel's buttons, left to right, in a fresh screenshot.
    std::vector<Rect> SensorPanelButtons(const std::string& shotName) {
        return orbel::testing::FindButtons(Capture(shotName), orbel::testing::kLayout.sensorPanel);
    }
};

TEST_F(StudioEndToEndTest, StreamStopDisconnectAndClose) {
    // A 3D range that the program does not keep, so that a rewritten file shows itself.
    WriteSettings([](auto&, auto& viewer) { viewer.view3d_min_scalar_value = -1234.0f; });
    StartStudio();
    using orbel::testing::Eventually;
    using orbel::testing::kStartDeadline;
    using orbel::testing::kStepDeadline;
    ASSERT_TRUE(WaitForWindow("Orbel Studio - 1.1.1", kStartDeadline))
        << orbel::testing::ReadFile(artefacts / "orbelstudio.out");
    // The splash, once the window has drawn something over the black root.
    EXPECT_TRUE(Eventually(
        [&] {
            const orbel::testing::Screenshot shot = Capture("00-splash");
            return shot.Valid() && !shot.Is(shot.Width() / 2, shot.Height() / 2, {0, 0, 0});
        },
        kStartDeadline));
    ASSERT_TRUE(WaitForLog("Main window ready (1920 x 1080)", kStartDeadline))
        << orbel::testing::ReadFile(artefacts / "orbelstudio.out") << Log();
    // Idle: only "Start streaming" is enabled ("Disconnect" is greyed out).
    std::vector<Rect> buttons;
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("01-main")).size() == 1; }))
        << Describe(buttons);

    Click(buttons.back());
    ASSERT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStart, 1, kStepDeadline)) << "the sensor was not started";
    ASSERT_TRUE(WaitForLog("Frames arriving: frame ")) << Log();
    EXPECT_TRUE(LogHas("Sensor started"));
    MoveAway();
    // Streaming: the same place now holds "Stop streaming"; "Disconnect" stays greyed out.
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("02-streaming")).size() == 1; }))
        << Describe(buttons);

    Click(buttons.back());
    ASSERT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, kStepDeadline)) << "the sensor was not stopped";
    ASSERT_TRUE(WaitForLog("Sensor stopped")) << Log();
    MoveAway();
    // Stopped and still connected: "Disconnect" and "Start streaming" are both enabled.
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("03-stopped")).size() == 2; }))
        << Describe(buttons);

    Click(buttons.front());
    ASSERT_TRUE(emulator.WaitForNoClient(kStepDeadline)) << "the connection was not closed";
    MoveAway();
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("04-disconnected")).size() == 1; }))
        << Describe(buttons);
    EXPECT_EQ(emulator.ConnectionCount(), 1u);

    // A second program on the same settings folder says so in a log of its own (none of its
    // lines reach the first one's) and, having changed nothing, leaves the settings file as
    // it found it, with what the first one saved a second after its views fitted the range.
    const auto savedRange = [&] {
        orbel::studio::gui::ViewerConfigProto saved;
        return saved.ParseFromString(orbel::testing::ReadFile(appData / "settings.bin"))
                   ? std::optional<float>(saved.view3d_min_scalar_value())
                   : std::nullopt;
    };
    ASSERT_TRUE(Eventually([&] { return savedRange() && *savedRange() != -1234.0f; })) << "not saved while running";
    const std::string settings = orbel::testing::ReadFile(appData / "settings.bin");
    const pid_t second = StartAnotherStudio("second");
    ASSERT_GT(second, 0);
    const std::string ownLog = "orbelstudio-" + std::to_string(second) + ".log";
    const auto secondLog = [&] { return orbel::testing::ReadFile(appData / ownLog); };
    const bool ready = Eventually(
        [&] { return secondLog().find("Main window ready") != std::string::npos || waitpid(second, nullptr, WNOHANG); },
        kStartDeadline);
    EXPECT_TRUE(ready && secondLog().find("Main window ready") != std::string::npos) << secondLog();
    EXPECT_NE(secondLog().find("[warning] Another Orbel Studio is using this settings folder; this one logs to " + ownLog +
                               " (" + appData.string() + ")"),
              std::string::npos)
        << secondLog();
    kill(second, SIGTERM);
    int status = -1;
    EXPECT_TRUE(Eventually([&] { return waitpid(second, &status, WNOHANG) == second; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << secondLog();
    EXPECT_NE(secondLog().find("Closing: SIGTERM received"), std::string::npos) << secondLog();
    std::filesystem::copy_file(appData / ownLog, artefacts / "second" / ownLog);
    EXPECT_EQ(orbel::testing::ReadFile(appData / "settings.bin"), settings) << "the idle second program wrote them";
    EXPECT_EQ(Log().find("Another Orbel Studio"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Closing: SIGTERM received"), std::string::npos) << Log();

    EXPECT_EQ(CloseStudio(), 0) << "the program did not end well after the close request";
    Shoot("05-closed");

    // Settings written at the end: the range the program does not keep on loading is no longer
    // the one written before the start (the views fit it to the first frame).
    orbel::studio::gui::ViewerConfigProto saved;
    ASSERT_TRUE(saved.ParseFromString(orbel::testing::ReadFile(appData / "settings.bin")));
    EXPECT_NE(saved.view3d_min_scalar_value(), -1234.0f);
    EXPECT_EQ(saved.sensor_ip(), "127.0.0.1");
    EXPECT_EQ(saved.sensor_port(), emulator.Port());

    const std::string log = Log();
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[critical]"), std::string::npos) << log;
    EXPECT_NE(log.find("Orbel Studio - 1.1.1 closed"), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::is_empty(appData / "dumps")) << "a crash report was left";
}

// Another program destroying the window (here xdotool, as a crashed window manager or a
// script might) ends the program through its own shutdown: the stream is stopped and the
// program exits 0, where before it drew with sizes the window system never gave and crashed.
// The window is minimised first: no frame is due, and the end still comes.
TEST_F(StudioEndToEndTest, AWindowDestroyedByAnotherProgramEndsTheProgramCleanly) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << orbel::testing::ReadFile(artefacts / "orbelstudio.out") << Log();
    ASSERT_TRUE(StartStreaming("01"));
    const std::optional<unsigned long> window = FindWindow("Orbel Studio - 1.1.1");
    ASSERT_TRUE(window);
    ASSERT_TRUE(MinimiseStudio());
    // The program reads the window's state when it comes to the event, and a window
    // destroyed by then has none: the stream goes on a while first.
    ASSERT_TRUE(emulator.WaitForStreamedFrames(emulator.StreamedFrames() + 20, orbel::testing::kStepDeadline));
    ASSERT_EQ(orbel::testing::RunTool({"xdotool", "windowclose", std::to_string(*window)}), 0);
    EXPECT_EQ(WaitForExit(), 0) << orbel::testing::ReadFile(artefacts / "orbelstudio.out");
    const std::string log = Log();
    EXPECT_NE(log.find("The window was destroyed by another program: closing"), std::string::npos) << log;
    EXPECT_NE(log.find("Sensor stopped"), std::string::npos) << log;
    EXPECT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, orbel::testing::kStepDeadline));
}

}  // namespace
