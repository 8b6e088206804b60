// The real program takes input as it happened when it all arrives between two frames, as on
// a busy machine: a click followed at once by a move away still presses its button, and a
// key tapped at once still acts (see StudioSession for the fixture).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "gui/e2e/StudioSession.h"

namespace {

using orbel::testing::Describe;
using orbel::testing::Eventually;
using orbel::testing::FindRects;
using orbel::testing::kLayout;
using orbel::testing::PointSizePlus;
using orbel::testing::Rect;
namespace theme = orbel::testing::theme;

class InputEndToEndTest : public orbel::testing::StudioSession {};

TEST_F(InputEndToEndTest, AClickFollowedAtOnceByAMoveAwayStillPressesItsButton) {
    WriteSettings();  // point size 2
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    ASSERT_TRUE(StartStreaming("01"));

    // The first frame adds the histogram above the button: it is taken once it holds still.
    std::optional<Rect> plus;
    ASSERT_TRUE(Eventually([&] {
        plus = PointSizePlus(Capture("02-viewer"));
        const std::optional<Rect> again = PointSizePlus(Capture("02-viewer-again"));
        return plus && again && plus->left == again->left && plus->top == again->top;
    })) << "no point-size buttons in the viewer panel";
    constexpr int kClicks = 4;
    for (int i = 0; i < kClicks; ++i) ClickAndMoveAway(*plus);

    EXPECT_TRUE(Eventually([&] { return SavedPointSize() == 2 + kClicks; }))
        << "saved point size " << SavedPointSize().value_or(-1) << "; " << Log();
}

TEST_F(InputEndToEndTest, AKeyTappedAtOnceStillActs) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    // "Sensor IP" and "Sensor Port", the sensor panel's first two wide fields.
    std::vector<Rect> fields;
    ASSERT_TRUE(Eventually([&] {
        fields.clear();
        for (const Rect& r : FindRects(Capture("01-fields"), kLayout.sensorPanel, theme::kFrame, 8)) {
            if (r.Width() >= 100 && r.Height() >= 10) fields.push_back(r);
        }
        return fields.size() >= 2;
    })) << Describe(fields);

    // The click selects the field's text, which the typing replaces; a Backspace tapped at
    // once then takes its last digit.
    Click(fields[1]);
    Type("4199");
    SendAtOnce({"key", "BackSpace"});
    Type("8");
    Key("Tab");
    MoveAway();
    EXPECT_TRUE(Eventually([&] {
        const std::optional<orbel::studio::gui::ViewerConfigProto> saved = SavedSettings();
        return saved && saved->sensor_port() == 4198;
    })) << "saved port " << (SavedSettings() ? SavedSettings()->sensor_port() : 0) << "; " << Log();
}

}  // namespace
