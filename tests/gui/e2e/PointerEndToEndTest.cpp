// The real program takes a click where it happened: pressed, released and moved away at once
// while frames stream, a button still gets its click (see StudioSession for the fixture).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gui/e2e/StudioSession.h"

namespace {

using orbel::testing::Eventually;
using orbel::testing::PointSizePlus;
using orbel::testing::Rect;

class PointerEndToEndTest : public orbel::testing::StudioSession {};

TEST_F(PointerEndToEndTest, AClickFollowedAtOnceByAMoveAwayStillPressesItsButton) {
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

}  // namespace
