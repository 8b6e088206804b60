// When the frame loop draws: input, posted data and animations draw at the display's pace, a
// due change draws at its time, input keeps frames coming for a while, an iconified window
// draws nothing, and without any of these the loop waits for events.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/FramePacer.h"

namespace {

using orbel::studio::gui::FrameDemand;
using orbel::studio::gui::FramePacer;
using orbel::studio::gui::kNever;

constexpr double kInterval = 1.0 / 50.0;  // a 50 Hz display
constexpr double kDrawn = 10.0;            // the frame before each case started then

struct Case {
    std::string what;
    FrameDemand lastFrameAsked;
    std::function<void(FramePacer&)> then;  // what happened after that frame
    double now;
    FramePacer::Decision expected;
};

TEST(FramePacerTest, DrawsWhatChangedAtTheDisplaysPaceAndWaitsOtherwise) {
    const FrameDemand still;
    const auto nothing = [](FramePacer&) {};
    const auto input = [](FramePacer& p) { p.InputSeen(kDrawn + 0.001); };
    const auto data = [](FramePacer& p) { p.DataPosted(); };
    const auto iconified = [](FramePacer& p) {
        p.InputSeen(kDrawn + 0.001);
        p.DataPosted();
        p.SetIconified(true);
    };
    const Case cases[] = {
        {"nothing: wait for events", still, nothing, kDrawn + 5.0, {false, kNever}},
        {"input, a slot later: draw", still, input, kDrawn + kInterval, {true, 0.0}},
        {"input within the slot: wait for its end", still, input, kDrawn + 0.005, {false, kInterval - 0.005}},
        {"data, a slot later: draw", still, data, kDrawn + 0.5, {true, 0.0}},
        {"data within the slot: wait for its end", still, data, kDrawn + 0.015, {false, kInterval - 0.015}},
        {"animating: the next slot", FrameDemand::Animation(), nothing, kDrawn + 0.010, {false, kInterval - 0.010}},
        {"animating, at the slot: draw", FrameDemand::Animation(), nothing, kDrawn + kInterval, {true, 0.0}},
        {"a change due later: wait until then", FrameDemand::ChangeIn(0.75), nothing, kDrawn + 0.25, {false, 0.5}},
        {"a change due now: draw", FrameDemand::ChangeIn(0.75), nothing, kDrawn + 0.75, {true, 0.0}},
        {"a change due within the slot: its end", FrameDemand::ChangeIn(0.001), nothing, kDrawn + 0.005,
         {false, kInterval - 0.005}},
        {"a slot begun a little early: draw", FrameDemand::Animation(), nothing,
         kDrawn + kInterval - FramePacer::kSlotTolerance / 2, {true, 0.0}},
        {"iconified, whatever happened: nothing", FrameDemand::Animation(), iconified, kDrawn + 5.0, {false, kNever}},
    };
    for (const Case& c : cases) {
        FramePacer pacer(kInterval);
        pacer.FrameDrawn(kDrawn, c.lastFrameAsked);
        c.then(pacer);
        const FramePacer::Decision decision = pacer.Decide(c.now);
        EXPECT_EQ(decision.draw, c.expected.draw) << c.what;
        if (c.expected.waitSeconds == kNever) {
            EXPECT_EQ(decision.waitSeconds, kNever) << c.what;
        } else {
            EXPECT_NEAR(decision.waitSeconds, c.expected.waitSeconds, 1e-9) << c.what;
        }
    }
}

// Runs the loop as the program does, looking every 0.5 ms: `events` happen at their times, a
// frame is drawn each time the pacer says so (each asks `demand`); returns the frames' starts.
constexpr double kStep = 0.0005;
std::vector<double> Frames(FramePacer& pacer, double until, const std::function<void(double)>& events,
                           const FrameDemand& demand = {}) {
    std::vector<double> frames;
    for (int step = 0; step * kStep < until; ++step) {
        const double now = step * kStep;
        events(now);
        if (pacer.Decide(now).draw) {
            pacer.FrameDrawn(now, demand);
            frames.push_back(now);
        }
    }
    return frames;
}

TEST(FramePacerTest, InputKeepsFramesComingUntilTheGuiHasSettled) {
    FramePacer pacer(kInterval);
    bool moved = false;
    const std::vector<double> frames = Frames(pacer, 3.0, [&](double now) {
        if (!moved && now >= 1.0) {
            pacer.InputSeen(now);
            moved = true;
        }
    });
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(frames.front(), 1.0, kStep) << "the first frame follows the input at once";
    EXPECT_GE(frames.size(), static_cast<std::size_t>(FramePacer::kSettleFrames));
    EXPECT_GE(frames.back(), 1.0 + FramePacer::kSettleSeconds - kInterval) << "frames for the settling time";
    EXPECT_LT(frames.back(), 1.0 + FramePacer::kSettleSeconds) << "and then no more";
}

TEST(FramePacerTest, NeverDrawsFasterThanTheDisplayRefreshes) {
    // Data all the time and a running animation: one frame per refresh interval, however
    // early within its tolerance each frame may start.
    FramePacer pacer(kInterval);
    const std::vector<double> frames =
        Frames(pacer, 2.0, [&](double) { pacer.DataPosted(); }, FrameDemand::Animation());
    ASSERT_GT(frames.size(), 2u);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GE(frames[i] - frames[i - 1], kInterval - FramePacer::kSlotTolerance) << "frame " << i;
    }
    const double intervals = static_cast<double>(frames.size() - 1);
    EXPECT_GE(frames.back() - frames.front(), intervals * kInterval - FramePacer::kSlotTolerance)
        << "early starts never add up";
    EXPECT_LE(frames.back() - frames.front(), intervals * (kInterval + kStep)) << "and the pace is kept";
}

TEST(FramePacerTest, EachMessageIsOwedAFrameUpToAFew) {
    // Panels take one message per frame from each queue: a burst of three needs three frames.
    FramePacer pacer(kInterval);
    int posted = 0;
    std::vector<double> frames = Frames(pacer, 1.0, [&](double now) {
        if (now >= 0.5 && posted == 0) {
            pacer.DataPosted(3);
            posted = 1;
        }
    });
    EXPECT_EQ(frames.size(), 3u);
    FramePacer flooded(kInterval);
    flooded.DataPosted(1000);
    frames = Frames(flooded, 2.0, [](double) {});
    EXPECT_EQ(frames.size(), static_cast<std::size_t>(FramePacer::kMostOwedFrames));
}

TEST(FramePacerTest, AnIconifiedWindowDrawsAgainOnceRestored) {
    FramePacer pacer(kInterval);
    pacer.FrameDrawn(0.0, FrameDemand::Animation());
    pacer.SetIconified(true);
    pacer.DataPosted();
    EXPECT_FALSE(pacer.Decide(1.0).draw);
    pacer.SetIconified(false);
    EXPECT_TRUE(pacer.Decide(1.0).draw) << "what came meanwhile is drawn";
}

TEST(FramePacerTest, UnknownRefreshRateIsTakenAsSixtyHertz) {
    FramePacer pacer(0.0);
    EXPECT_DOUBLE_EQ(pacer.RefreshInterval(), FramePacer::kDefaultRefreshSeconds);
    pacer.SetRefreshInterval(1.0 / 144.0);
    EXPECT_DOUBLE_EQ(pacer.RefreshInterval(), 1.0 / 144.0);
}

TEST(FrameDemandTest, TwoDemandsTogetherAnimateWhenEitherDoesAndComeDueAtTheEarlier) {
    const FrameDemand both = FrameDemand::ChangeIn(2.0).With(FrameDemand::ChangeIn(0.5));
    EXPECT_FALSE(both.animating);
    EXPECT_DOUBLE_EQ(both.nextChangeSeconds, 0.5);
    EXPECT_TRUE(FrameDemand::ChangeIn(2.0).With(FrameDemand::Animation()).animating);
}

}  // namespace
