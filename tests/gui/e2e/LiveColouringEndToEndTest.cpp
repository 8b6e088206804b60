// Live colouring in the real program, driven through the sensor panel as a user does: the
// emulator on the fake camera's clock, the demo's alignment chosen, "Enable colorizer"
// clicked on, and the 3D view's "Embedded" colour map shows the camera's rainbow stripes on
// the cloud; and a start that fails on a wrong port keeps the camera on, so that the start
// after the port is mended streams with it (see StudioSession for the fixture, FakeCamera for
// the camera; both run only inside a private network namespace).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <orbel/fakecamera/DemoAlignment.h>

#include "app/SensorConfig.h"
#include "app/ViewerConfig.h"
#include "gui/e2e/StudioSession.h"
#include "support/FakeCamera.h"
#include "support/LoopbackPeer.h"

namespace {

using orbel::testing::CountPixels;
using orbel::testing::Eventually;
using orbel::testing::FindRects;
using orbel::testing::kLayout;
using orbel::testing::Rect;
using orbel::testing::Rgb;
using orbel::testing::Screenshot;

orbel::emulator::EmulatorOptions OnTheCamerasClock() {
    orbel::emulator::EmulatorOptions options;
    // The SDK reads the fake camera's UTC clock as TAI and takes 37 s off: the emulator's main
    // time stamp, the one the colorizer matches on, goes 37 s back with it. Its points keep
    // their own colours (greys, blues, a red box), so an uncoloured cloud shows in "Embedded" too.
    options.timestampOffset_us = -37'000'000;
    return options;
}

// The hue of a pixel in sixths of the circle (0 red, 1 yellow, 2 green, 3 cyan, 4 blue, 5 magenta).
int HueSextant(Rgb p) {
    const int r = p.r, g = p.g, b = p.b;
    const int max = std::max({r, g, b});
    const int min = std::min({r, g, b});
    const double c = max - min;
    double h = 0;
    if (max == r) {
        h = (g - b) / c;
        if (h < 0) h += 6;
    } else if (max == g) {
        h = (b - r) / c + 2;
    } else {
        h = (r - g) / c + 4;
    }
    return std::clamp(static_cast<int>(h + 0.5) % 6, 0, 5);
}

// What the 3D view shows of the cloud: its lit pixels (the background is near black, grid and
// origin are off), how many of them are saturated, and the hues those fall into.
struct CloudColours {
    int lit = 0;
    int saturated = 0;
    std::array<int, 6> hues{};

    static CloudColours Of(const Screenshot& shot, const Rect& view) {
        CloudColours c;
        // The top rows hold the view's buttons.
        for (int y = view.top + 60; y < view.bottom - 60; ++y) {
            for (int x = view.left; x < view.right; ++x) {
                const Rgb p = shot.At(x, y);
                if (std::max({p.r, p.g, p.b}) < 70) continue;
                ++c.lit;
                if (p.Spread() > 48) {
                    ++c.saturated;
                    ++c.hues[HueSextant(p)];
                }
            }
        }
        return c;
    }
    // Hues that hold at least 3 % of the saturated pixels.
    int Bands() const {
        return static_cast<int>(std::count_if(hues.begin(), hues.end(), [&](int n) { return n * 100 >= saturated * 3; }));
    }
    bool ShowsTheStripes() const { return lit > 5000 && saturated * 100 >= lit * 40 && Bands() >= 4; }
    std::string Describe() const {
        std::ostringstream text;
        text << lit << " lit pixels, " << saturated << " saturated, hues";
        for (int n : hues) text << " " << n;
        return text.str();
    }
};

// The sensor panel's text fields (wide) and its switches that are off (small), in the text
// fields' colour, top to bottom.
std::vector<Rect> Fields(const Screenshot& shot) {
    std::vector<Rect> fields;
    for (const Rect& r : FindRects(shot, kLayout.sensorPanel, orbel::testing::theme::kFrame, 8)) {
        if (r.Width() >= 100 && r.Height() >= 10) fields.push_back(r);
    }
    return fields;
}
std::vector<Rect> SwitchesOff(const Screenshot& shot) {
    std::vector<Rect> switches;
    for (const Rect& r : FindRects(shot, kLayout.sensorPanel, orbel::testing::theme::kFrame, 8)) {
        if (r.Width() >= 16 && r.Width() <= 48 && r.Height() >= 8 && r.Height() <= 26) switches.push_back(r);
    }
    return switches;
}

class LiveColouringEndToEndTest : public orbel::testing::StudioSession {
protected:
    LiveColouringEndToEndTest() : StudioSession(OnTheCamerasClock()) {}

    std::filesystem::path WriteDemoQext() {
        const std::filesystem::path path = scratch / "demo.qext";
        const std::vector<uint8_t> bytes = orbel::fakecamera::DemoAlignmentQext();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST_F(LiveColouringEndToEndTest, ColorizerSwitchedOnInThePanelPaintsTheCamerasStripesOnTheCloud) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);  // its own 512 x 512 picture, as in the demo
    const std::filesystem::path qext = WriteDemoQext();
    WriteSettings([&](orbel::studio::SensorConfig& sensor, orbel::studio::gui::ViewerConfig& viewer) {
        sensor.camera_ip = camera.Address();
        sensor.enable_camera = true;
        sensor.enable_colorizer = false;
        sensor.qext_path = qext.string();
        viewer.view3d_colormap = orbel::studio::gui::COLORMAP_EMBEDDED;
        viewer.show_grid = false;
        viewer.show_origin = false;
    });
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();

    // "Enable colorizer": the one switch that is off, below the camera's.
    std::vector<Rect> off;
    ASSERT_TRUE(Eventually([&] { return (off = SwitchesOff(Capture("01-colorizer-off"))).size() == 1; }))
        << orbel::testing::Describe(off);
    Click(off.front());
    MoveAway();
    ASSERT_TRUE(Eventually([&] { return SwitchesOff(Capture("02-colorizer-on")).empty(); }))
        << "the colorizer switch did not turn on";

    ASSERT_TRUE(StartStreaming("03"));
    ASSERT_TRUE(WaitForLog("Colorizer initialized")) << Log();
    ASSERT_TRUE(WaitForLog("Camera started")) << Log();
    CloudColours seen;
    ASSERT_TRUE(Eventually([&] {
        seen = CloudColours::Of(Capture("04-coloured-cloud"), kLayout.view3D);
        return seen.ShowsTheStripes();
    })) << seen.Describe();

    ASSERT_TRUE(StopStreaming("05"));
    EXPECT_EQ(CloseStudio(), 0);
    const std::string log = Log();
    EXPECT_EQ(log.find("Large timestamp difference"), std::string::npos) << log;
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
}

// Camera on, the sensor port pointing at nothing: "Start streaming" fails and says why; the
// camera stays on; the right port typed in, "Start streaming" streams with the camera.
TEST_F(LiveColouringEndToEndTest, FailedStartKeepsTheCameraForTheStartAfterThePortIsMended) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    WriteSettings([&](orbel::studio::SensorConfig& sensor, orbel::studio::gui::ViewerConfig&) {
        sensor.sensor_port = orbel::testing::LoopbackPeer::UnusedPort();
        sensor.camera_ip = camera.Address();
        sensor.enable_camera = true;
    });
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    std::vector<Rect> fields;
    ASSERT_TRUE(Eventually([&] { return (fields = Fields(Capture("01-camera-on"))).size() == 4; }))
        << "sensor address, port, camera address, QEXT: " << orbel::testing::Describe(fields);

    ASSERT_TRUE(PressStreamingButton("02-start"));
    ASSERT_TRUE(WaitForLog("Cannot start streaming: sensor is not available")) << Log();
    MoveAway();
    // The camera's rows are still there: its switch stayed on.
    ASSERT_TRUE(Eventually([&] { return (fields = Fields(Capture("03-after-the-failure"))).size() == 4; }))
        << orbel::testing::Describe(fields);

    // The right port into "Sensor Port", the second field.
    Click(fields[1]);
    Key("ctrl+a");
    Type(std::to_string(emulator.Port()));
    Key("Tab");
    MoveAway();
    ASSERT_TRUE(StartStreaming("04"));
    ASSERT_TRUE(WaitForLog("Camera started")) << Log();
    ASSERT_TRUE(StopStreaming("05"));
    EXPECT_EQ(CloseStudio(), 0);
}

}  // namespace
