// The shutdown's deadline: it ends a close that does not finish, and leaves alone one that does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "app/ShutdownDeadline.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::gui::ShutdownDeadline;

TEST(ShutdownDeadline, RunsItsActionOnlyWhenTheShutdownOutlastsIt) {
    std::atomic<int> expired{0};
    {
        ShutdownDeadline deadline([&] { ++expired; });
        deadline.Arm(10ms);
        EXPECT_TRUE(orbel::testing::Eventually([&] { return expired == 1; }));
    }
    {
        // Finished in time: the destructor neither waits out the limit nor runs the action.
        ShutdownDeadline deadline([&] { ++expired; });
        deadline.Arm(24h);
        deadline.Arm(1ms);  // only the first arming counts
    }
    {
        ShutdownDeadline unarmed([&] { ++expired; });
    }
    EXPECT_EQ(expired, 1);
}

}  // namespace
