// A key tapped between two frames is seen down by the next frame and up by the one after it;
// presses, repeats and releases of keys a frame has seen down pass at once; a key pressed
// again before its tap's release passed stays down.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "app/KeyTapHold.h"

namespace {

using orbel::studio::gui::KeyTapHold;
using Event = KeyTapHold::Event;

constexpr int kEnter = 257;
constexpr int kCtrl = 341;
constexpr int kA = 65;

Event Press(int key) { return {key, 0, 1, 0}; }
Event Release(int key) { return {key, 0, KeyTapHold::kRelease, 0}; }

// Plays events through the hold the way the frame loop does; Frame tells which keys were
// down (as the backend has them) when the frame began.
struct Loop {
    KeyTapHold hold;
    std::set<int> down;

    void Pass(const Event& event) {
        if (event.Released()) {
            down.erase(event.key);
        } else {
            down.insert(event.key);
        }
    }
    void Between(const std::vector<Event>& events) {
        for (const Event& event : events) {
            if (hold.Take(event)) Pass(event);
        }
    }
    std::set<int> Frame() {
        for (const Event& release : hold.StartFrame()) Pass(release);
        return down;
    }
};

using Keys = std::set<int>;

TEST(KeyTapHoldTest, ATapBetweenTwoFramesIsSeenDownForOneFrame) {
    Loop loop;
    loop.Between({Press(kEnter), Release(kEnter)});
    EXPECT_EQ(loop.Frame(), Keys{kEnter});
    EXPECT_TRUE(loop.hold.Pending());
    EXPECT_EQ(loop.Frame(), Keys{});
    EXPECT_FALSE(loop.hold.Pending());
}

TEST(KeyTapHoldTest, AShortcutTappedAtOnceIsSeenWhole) {
    Loop loop;
    loop.Between({Press(kCtrl), Press(kA), Release(kA), Release(kCtrl)});
    EXPECT_EQ(loop.Frame(), (Keys{kCtrl, kA}));
    EXPECT_EQ(loop.Frame(), Keys{});
}

TEST(KeyTapHoldTest, AReleaseOfAKeyAFrameSawDownPassesAtOnce) {
    Loop loop;
    loop.Between({Press(kEnter)});
    EXPECT_EQ(loop.Frame(), Keys{kEnter});
    loop.Between({Release(kEnter)});
    EXPECT_EQ(loop.down, Keys{});
    EXPECT_FALSE(loop.hold.Pending());
}

TEST(KeyTapHoldTest, AKeyPressedAgainBeforeItsTapsReleasePassedStaysDown) {
    Loop loop;
    loop.Between({Press(kEnter), Release(kEnter)});
    EXPECT_EQ(loop.Frame(), Keys{kEnter});
    loop.Between({Press(kEnter)});  // held down this time
    EXPECT_EQ(loop.Frame(), Keys{kEnter});
    EXPECT_EQ(loop.Frame(), Keys{kEnter});
    EXPECT_FALSE(loop.hold.Pending());
}

}  // namespace
