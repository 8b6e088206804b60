// The termination signals: each one is noted by name and wakes whoever waits, and the end
// of the watch puts back the default action; a second signal while closing is logged and ends
// the process at once with 128 + its number; a signal the process was started to ignore
// stays ignored.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include <spdlog/sinks/stdout_sinks.h>

#include "app/Logging.h"
#include "platform/TerminationSignals.h"
#include "support/Threads.h"

namespace {

using orbel::studio::platform::WatchTerminationSignals;
using orbel::testing::Eventually;

struct Watched {
    int signal;
    const char* name;
};
void PrintTo(const Watched& watched, std::ostream* os) { *os << watched.name; }

class TerminationSignalTest : public ::testing::TestWithParam<Watched> {};

void (*HandlerOf(int signal))(int) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

TEST_P(TerminationSignalTest, IsNotedByNameAndWakesTheWaiter) {
    std::atomic<int> wakes{0};
    {
        const auto watch = WatchTerminationSignals([&] { ++wakes; });
        EXPECT_EQ(watch->Received(), "");
        ASSERT_EQ(raise(GetParam().signal), 0);
        EXPECT_TRUE(Eventually([&] { return wakes == 1; }));
        EXPECT_EQ(watch->Received(), GetParam().name);
    }
    EXPECT_EQ(HandlerOf(GetParam().signal), SIG_DFL);
    EXPECT_EQ(wakes, 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignalTest,
                         ::testing::Values(Watched{SIGTERM, "SIGTERM"}, Watched{SIGINT, "SIGINT"},
                                           Watched{SIGHUP, "SIGHUP"}),
                         [](const ::testing::TestParamInfo<Watched>& info) { return std::string(info.param.name); });

// The log says why the process went: the program's log, here on standard error.
TEST(TerminationSignalsDeathTest, ASecondSignalWhileClosingIsLoggedAndEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            orbel::studio::SetupLogging(false, {});
            orbel::studio::AddLogSink(std::make_shared<spdlog::sinks::stderr_sink_mt>());
            const auto watch = WatchTerminationSignals({});
            raise(SIGTERM);
            while (watch->Received().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            raise(SIGINT);
            std::this_thread::sleep_for(std::chrono::seconds(20));
            std::_Exit(0);  // not ended by the second signal
        },
        ::testing::ExitedWithCode(128 + SIGINT), "SIGINT received while closing: ending at once");
}

TEST(TerminationSignals, ASignalIgnoredFromTheStartStaysIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction before {};
    sigaction(SIGHUP, &ignore, &before);
    {
        const auto watch = WatchTerminationSignals({});
        // Noted in the order raised: a SIGHUP taken would be the first.
        raise(SIGHUP);
        raise(SIGTERM);
        EXPECT_TRUE(Eventually([&] { return !watch->Received().empty(); }));
        EXPECT_EQ(watch->Received(), "SIGTERM");
    }
    EXPECT_EQ(HandlerOf(SIGHUP), SIG_IGN);
    sigaction(SIGHUP, &before, nullptr);
}

}  // namespace
