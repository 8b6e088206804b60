// The camera view of the real program while the emulator and Aravis's fake camera stream:
// it opens beside the 2D view with the camera's moving picture fitted into it (black beside
// the picture), and its button moves it up beside the 3D view (see StudioSession for the
// fixture, FakeCamera for the camera; both run only inside a private network namespace).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/SensorConfig.h"
#include "app/ViewerConfig.h"
#include "gui/e2e/StudioSession.h"
#include "support/FakeCamera.h"

namespace {

using orbel::testing::CountDifferences;
using orbel::testing::CountPixels;
using orbel::testing::Eventually;
using orbel::testing::kLayout;
using orbel::testing::Rect;
using orbel::testing::Rgb;
using orbel::testing::Screenshot;

constexpr int kImageWidth = 320;  // the fake camera's picture, 4 : 3
constexpr int kImageHeight = 240;

// The picture inside a region.
Rect PictureIn(const Rect& region) { return orbel::testing::FittedPicture(region, kImageWidth, kImageHeight); }

Rect Shrunk(const Rect& rect, int by) { return {rect.left + by, rect.top + by, rect.right - by, rect.bottom - by}; }

bool Black(Rgb pixel) { return pixel == Rgb{}; }

// The camera's picture fills its place (nothing there is black or the grey of the panels),
// and the view's black fill lies beside it, below the placement button's corner.
::testing::AssertionResult ShowsThePicture(const Screenshot& shot, const Rect& region) {
    const Rect picture = PictureIn(region);
    const Rect inner = Shrunk(picture, 3);
    const int coloured = CountPixels(shot, inner, [](Rgb p) { return !Black(p) && p.Spread() > 24; });
    const int area = inner.Width() * inner.Height();
    if (coloured < area * 95 / 100) {
        return ::testing::AssertionFailure() << coloured << " of " << area << " pixels of the picture " << picture
                                             << " are coloured";
    }
    const Rect margins[] = {
        {region.left + 3, region.top + 40, picture.left - 3, region.bottom - 3},
        {picture.right + 3, region.top + 40, region.right - 3, region.bottom - 3},
        {region.left + 3, region.top + 40, region.right - 3, picture.top - 3},
        {region.left + 3, picture.bottom + 3, region.right - 3, region.bottom - 3},
    };
    for (const Rect& margin : margins) {
        if (margin.Width() <= 0 || margin.Height() <= 0) continue;
        const int black = CountPixels(shot, margin, Black);
        if (black != margin.Width() * margin.Height()) {
            return ::testing::AssertionFailure() << "beside the picture " << margin << " only " << black
                                                 << " pixels are black";
        }
    }
    return ::testing::AssertionSuccess();
}

class CameraEndToEndTest : public orbel::testing::StudioSession {};

TEST_F(CameraEndToEndTest, TheCameraViewShowsTheLivePictureAndMovesAboveOnItsButton) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    camera.Configure("Width=" + std::to_string(kImageWidth) + " Height=" + std::to_string(kImageHeight));
    WriteSettings([&](orbel::studio::SensorConfig& sensor, orbel::studio::gui::ViewerConfig&) {
        sensor.camera_ip = camera.Address();
        sensor.enable_camera = true;
    });
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    const Rect below = kLayout.cameraBelow;
    EXPECT_FALSE(ShowsThePicture(Capture("01-no-camera-yet"), below)) << "the 2D view's logo, not a picture";

    ASSERT_TRUE(StartStreaming("02"));  // "Browse calibration" is enabled beside it
    ASSERT_TRUE(WaitForLog("Camera started")) << Log();
    std::string why;
    ASSERT_TRUE(Eventually([&] {
        const auto shown = ShowsThePicture(Capture("03-camera-below"), below);
        why = shown.message();
        return static_cast<bool>(shown);
    })) << why;
    // Live: the fake camera's stripes move from one picture to the next.
    const Screenshot first = Capture("04-picture-a");
    ASSERT_TRUE(Eventually([&] {
        return CountDifferences(first, Capture("04-picture-b"), PictureIn(below)) > PictureIn(below).Width();
    })) << "the picture does not change";

    // The placement button, 20 pixels square, 50 in from the region's right edge and 10 below
    // its top: it turns blue under the pointer (pressed only once the program has seen the
    // pointer there, however slowly it draws), and a click moves the view above.
    const Rect button{below.right - 50, below.top + 10, below.right - 30, below.top + 30};
    const auto blue = [](Rgb p) { return p.b > p.r + 60; };
    EXPECT_LT(CountPixels(Capture("05-button"), button, blue), 50);
    MoveTo(button.CentreX(), button.CentreY());
    ASSERT_TRUE(Eventually([&] { return CountPixels(Capture("05-button-hovered"), button, blue) > 200; }))
        << "the placement button does not show the pointer over it";
    // The pointer stays until the click has shown its effect: the program sees the release
    // where the pointer is on its next frame.
    Click(button);
    const Rect above = kLayout.cameraAbove;
    ASSERT_TRUE(Eventually([&] {
        const auto shown = ShowsThePicture(Capture("06-camera-above"), above);
        why = shown.message();
        return static_cast<bool>(shown);
    })) << why;
    MoveAway();

    ASSERT_TRUE(StopStreaming("07"));
    ASSERT_TRUE(WaitForLog("Camera stopped")) << Log();
    EXPECT_EQ(CloseStudio(), 0);
    const std::string log = Log();
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
    EXPECT_EQ(log.find("Camera image not shown"), std::string::npos) << log;
}

// With the 2D view switched off, the camera view below takes the whole row the 2D view
// left, picture and placement button included, and the 3D view keeps its height.
TEST_F(CameraEndToEndTest, WithThe2DViewHiddenTheCameraViewTakesItsRow) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    camera.Configure("Width=" + std::to_string(kImageWidth) + " Height=" + std::to_string(kImageHeight));
    WriteSettings([&](orbel::studio::SensorConfig& sensor, orbel::studio::gui::ViewerConfig& viewer) {
        sensor.camera_ip = camera.Address();
        sensor.enable_camera = true;
        viewer.show_2d_view = false;
    });
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    ASSERT_TRUE(StartStreaming("01"));
    ASSERT_TRUE(WaitForLog("Camera started")) << Log();
    const Rect row = kLayout.view2D;  // the full width below the 3D view
    std::string why;
    ASSERT_TRUE(Eventually([&] {
        const auto shown = ShowsThePicture(Capture("02-camera-in-the-row"), row);
        why = shown.message();
        return static_cast<bool>(shown);
    })) << why;
    // Its placement button, 50 in from the row's right edge, turns blue under the pointer.
    const Rect button{row.right - 50, row.top + 10, row.right - 30, row.top + 30};
    MoveTo(button.CentreX(), button.CentreY());
    EXPECT_TRUE(Eventually([&] {
        return CountPixels(Capture("03-button-hovered"), button, [](Rgb p) { return p.b > p.r + 60; }) > 200;
    })) << "no placement button";
    MoveAway();
    ASSERT_TRUE(StopStreaming("04"));
    EXPECT_EQ(CloseStudio(), 0);
}

}  // namespace
