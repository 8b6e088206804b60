// A frame sees each button change where it happened, one change per frame and in order,
// however many moves and changes came between two frames; a frame with no change queued
// keeps the backend's own reading.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/PointerTrickle.h"

namespace {

using orbel::studio::gui::PointerTrickle;
using Place = PointerTrickle::Place;
using Pointer = PointerTrickle::Pointer;

constexpr Place kButton{1720, 345};
constexpr Place kAway{40, 1000};

Pointer At(std::optional<Place> place, bool leftDown) {
    Pointer pointer;
    pointer.place = place;
    pointer.down[0] = leftDown;
    return pointer;
}

struct Case {
    std::string what;
    std::function<void(PointerTrickle&)> between;  // what came before the first frame
    std::vector<std::optional<Pointer>> frames;    // what the frames after it see
};

TEST(PointerTrickleTest, EachFrameSeesOneButtonChangeWhereItHappened) {
    const Case cases[] = {
        {"a click and the move away in one frame: both halves on the button",
         [](PointerTrickle& p) {
             p.Moved(kButton.x, kButton.y);
             p.Button(0, true);
             p.Button(0, false);
             p.Moved(kAway.x, kAway.y);
         },
         {At(kButton, true), At(kButton, false), std::nullopt}},
        {"moves only: the backend's reading stands",
         [](PointerTrickle& p) {
             p.Moved(kButton.x, kButton.y);
             p.Moved(kAway.x, kAway.y);
         },
         {std::nullopt}},
        {"a drag: pressed on the button, released away",
         [](PointerTrickle& p) {
             p.Moved(kButton.x, kButton.y);
             p.Button(0, true);
             p.Moved(500, 500);
             p.Moved(kAway.x, kAway.y);
             p.Button(0, false);
         },
         {At(kButton, true), At(kAway, false), std::nullopt}},
        {"a double click: four frames",
         [](PointerTrickle& p) {
             p.Moved(kButton.x, kButton.y);
             for (int i = 0; i < 2; ++i) {
                 p.Button(0, true);
                 p.Button(0, false);
             }
         },
         {At(kButton, true), At(kButton, false), At(kButton, true), At(kButton, false), std::nullopt}},
        {"a press before any move: no place of its own",
         [](PointerTrickle& p) { p.Button(0, true); },
         {At(std::nullopt, true), std::nullopt}},
        {"a button ImGui has no place for is not queued",
         [](PointerTrickle& p) {
             p.Moved(kButton.x, kButton.y);
             p.Button(PointerTrickle::kButtons, true);
             p.Button(-1, true);
         },
         {std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PointerTrickle trickle;
        c.between(trickle);
        for (std::size_t frame = 0; frame < c.frames.size(); ++frame) {
            EXPECT_EQ(trickle.Pending(), c.frames[frame].has_value()) << "before frame " << frame;
            EXPECT_EQ(trickle.TakeFrame(), c.frames[frame]) << "frame " << frame;
        }
    }
}

TEST(PointerTrickleTest, AClickAfterMovesNoFrameTookHappensWhereThePointerLastWent) {
    PointerTrickle trickle;
    trickle.Moved(kButton.x, kButton.y);
    trickle.Button(0, true);
    trickle.Button(0, false);
    trickle.Moved(kAway.x, kAway.y);  // left behind by the last change's frame
    ASSERT_TRUE(trickle.TakeFrame());
    ASSERT_TRUE(trickle.TakeFrame());
    trickle.Button(1, true);  // no move since
    EXPECT_EQ(trickle.TakeFrame(), [] {
        Pointer pointer;
        pointer.place = kAway;
        pointer.down[1] = true;
        return pointer;
    }());
}

}  // namespace
