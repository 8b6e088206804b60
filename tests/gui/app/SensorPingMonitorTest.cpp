// The ping monitor against a scripted probe (answers, silence, no permission, address
// edits, stopping during an echo, during the pause and from its own subscriber) and once
// against the real ICMP probe on loopback.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <vector>

#include "app/AppAction.h"
#include "app/SensorPingMonitor.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::AppAction;
using orbel::studio::AppActionType;
using orbel::studio::SensorConfig;
using orbel::studio::gui::AppContext;
using orbel::studio::gui::SensorPingMonitor;
using orbel::studio::platform::EchoResult;
using orbel::studio::platform::IReachabilityProbe;
using orbel::testing::Eventually;
using orbel::testing::ProgramLogCapture;

constexpr auto kWatchdog = 10s;

// What the scripted probe answers and what it was asked; shared with the test because the
// monitor owns the probe. Rounds beyond `released` wait in Echo until the test lets them go.
struct Script {
    std::mutex mutex;
    std::condition_variable changed;
    EchoResult answer = EchoResult::Reply;
    std::vector<std::string> asked;
    size_t released = std::numeric_limits<size_t>::max();
    bool probeDestroyed = false;
    // Runs on the monitor's thread inside each echo, before it is answered.
    std::function<void()> duringEcho;

    void Release(size_t rounds) {
        {
            std::lock_guard lock(mutex);
            released = rounds;
        }
        changed.notify_all();
    }
    bool WaitForAsked(size_t rounds) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kWatchdog, [&] { return asked.size() >= rounds; });
    }
    std::vector<std::string> Asked() {
        std::lock_guard lock(mutex);
        return asked;
    }
};

class ScriptedProbe final : public IReachabilityProbe {
public:
    explicit ScriptedProbe(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    ~ScriptedProbe() override {
        std::lock_guard lock(script_->mutex);
        script_->probeDestroyed = true;
        script_->changed.notify_all();
    }
    EchoResult Echo(const std::string& ipv4, std::chrono::milliseconds) override {
        if (script_->duringEcho) script_->duringEcho();
        std::unique_lock lock(script_->mutex);
        script_->asked.push_back(ipv4);
        const size_t round = script_->asked.size();
        script_->changed.notify_all();
        script_->changed.wait(lock, [&] { return round <= script_->released; });
        return script_->answer;
    }
    std::string UnavailableReason() const override { return "no permission here"; }

private:
    std::shared_ptr<Script> script_;
};

struct ActionLog : orbel::studio::IConsumer<AppAction> {
    std::mutex mutex;
    std::vector<std::pair<int32_t, const void*>> received;
    std::function<void()> onOffline;  // runs on the publisher's thread

    void Consume(std::shared_ptr<AppAction> action) override {
        {
            std::lock_guard lock(mutex);
            received.emplace_back(action->type, action->sender);
        }
        if (action->Is(AppActionType::SensorOffline) && onOffline) {
            onOffline();
        }
    }
    std::vector<std::pair<int32_t, const void*>> Received() {
        std::lock_guard lock(mutex);
        return received;
    }
};

class PingMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        config->sensor_ip = "127.0.0.1";
        context->appState->connected = true;
        context->appState->streaming = true;
        context->dispatcher->Subscribe<AppAction>(&actions);
    }
    void TearDown() override {
        script->Release(std::numeric_limits<size_t>::max());
        monitor.reset();
        context->dispatcher->Unsubscribe<AppAction>(&actions);
    }
    SensorPingMonitor& Make(std::chrono::milliseconds interval) {
        monitor = std::make_unique<SensorPingMonitor>(config, context, std::make_unique<ScriptedProbe>(script), interval);
        return *monitor;
    }
    // Stops on another thread so a hang fails the test instead of stalling the run.
    bool StopsWithinWatchdog() {
        auto stopped = std::async(std::launch::async, [&] { monitor->Stop(); });
        return stopped.wait_for(kWatchdog) == std::future_status::ready;
    }

    ProgramLogCapture log;
    std::shared_ptr<SensorConfig> config = std::make_shared<SensorConfig>();
    std::shared_ptr<AppContext> context = std::make_shared<AppContext>();
    std::shared_ptr<Script> script = std::make_shared<Script>();
    ActionLog actions;
    std::unique_ptr<SensorPingMonitor> monitor;
};

TEST_F(PingMonitorTest, AnsweringSensorCausesNoLogAndNoMessage) {
    Make(1ms).Start();
    ASSERT_TRUE(script->WaitForAsked(5));
    ASSERT_TRUE(StopsWithinWatchdog());

    EXPECT_TRUE(log.Records().empty());
    EXPECT_TRUE(actions.Received().empty());
    EXPECT_TRUE(context->appState->connected);
    EXPECT_TRUE(context->appState->streaming);
}

TEST_F(PingMonitorTest, EachSilentRoundWarnsAndPublishesOfflineOnceAndClearsTheFlags) {
    script->answer = EchoResult::NoReply;
    script->released = 2;
    Make(1ms).Start();
    // The third echo is asked only after the first two rounds have been reported.
    ASSERT_TRUE(script->WaitForAsked(3));

    EXPECT_EQ(log.Count("Sensor is offline: 127.0.0.1", spdlog::level::warn), 2u);
    EXPECT_TRUE(log.Contains("Sensor is offline: 127.0.0.1", spdlog::level::warn));
    const auto received = actions.Received();
    ASSERT_EQ(received.size(), 2u);
    for (const auto& [type, sender] : received) {
        EXPECT_EQ(type, static_cast<int32_t>(AppActionType::SensorOffline));
        EXPECT_EQ(sender, monitor.get());
    }
    EXPECT_FALSE(context->appState->connected);
    EXPECT_FALSE(context->appState->streaming);
}

TEST_F(PingMonitorTest, UnavailableEchoesWarnOnceAndReportNothing) {
    script->answer = EchoResult::Unavailable;
    Make(1ms).Start();
    ASSERT_TRUE(script->WaitForAsked(5));
    ASSERT_TRUE(StopsWithinWatchdog());

    const auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::warn);
    EXPECT_EQ(records[0].text, "Sensor reachability cannot be checked: no permission here");
    EXPECT_TRUE(actions.Received().empty());
    EXPECT_TRUE(context->appState->connected);
    EXPECT_TRUE(context->appState->streaming);
}

TEST_F(PingMonitorTest, StopDuringThePauseReturnsWithoutWaitingItOut) {
    Make(std::chrono::hours(1)).Start();
    ASSERT_TRUE(script->WaitForAsked(1));
    EXPECT_TRUE(StopsWithinWatchdog());
}

TEST_F(PingMonitorTest, DestroyingDuringThePauseReturnsWithoutWaitingItOut) {
    Make(std::chrono::hours(1)).Start();
    ASSERT_TRUE(script->WaitForAsked(1));
    auto destroyed = std::async(std::launch::async, [&] { monitor.reset(); });
    EXPECT_EQ(destroyed.wait_for(kWatchdog), std::future_status::ready);
}

// The stream was stopped while the echo was out: its missing reply says nothing about the
// sensor any more, and a new stream must not be ended by it.
TEST_F(PingMonitorTest, AnEchoUnansweredAfterStopReportsNothing) {
    script->answer = EchoResult::NoReply;
    script->duringEcho = [&] { monitor->Stop(); };  // on the monitor's thread: no join, only the flag
    Make(1ms).Start();
    ASSERT_TRUE(script->WaitForAsked(1));
    ASSERT_TRUE(StopsWithinWatchdog());

    EXPECT_EQ(script->Asked().size(), 1u);
    EXPECT_EQ(log.Count("Sensor is offline", spdlog::level::warn), 0u);
    EXPECT_TRUE(actions.Received().empty());
    EXPECT_TRUE(context->appState->connected);
    EXPECT_TRUE(context->appState->streaming);
}

TEST_F(PingMonitorTest, AnEditedAddressIsUsedFromTheNextRound) {
    script->released = 0;
    Make(1ms).Start();
    ASSERT_TRUE(script->WaitForAsked(1));
    // The first round is held inside its echo while the address changes.
    config->sensor_ip = "127.0.0.2";
    script->Release(2);
    ASSERT_TRUE(script->WaitForAsked(3));
    const auto asked = script->Asked();
    EXPECT_EQ(asked[0], "127.0.0.1");
    EXPECT_EQ(asked[1], "127.0.0.2");
}

// A subscriber of SensorOffline runs on the monitor's thread; stopping the monitor there,
// or dropping it altogether, must neither join that thread from itself nor leave it running.
TEST_F(PingMonitorTest, StoppingFromTheOfflineSubscriberEndsTheRoundsWithoutError) {
    script->answer = EchoResult::NoReply;
    actions.onOffline = [&] { monitor->Stop(); };
    Make(1ms).Start();
    ASSERT_TRUE(Eventually([&] { return !actions.Received().empty(); }));
    ASSERT_TRUE(StopsWithinWatchdog());

    EXPECT_EQ(script->Asked().size(), 1u);
    EXPECT_EQ(actions.Received().size(), 1u);
    EXPECT_EQ(log.Count("", spdlog::level::err), 0u);
}

TEST_F(PingMonitorTest, DestroyingFromTheOfflineSubscriberLetsTheThreadEndOnItsOwn) {
    script->answer = EchoResult::NoReply;
    actions.onOffline = [&] { monitor.reset(); };
    const size_t threadsBefore = orbel::testing::ThreadCount();
    Make(1ms).Start();
    {
        // The thread releases its probe as it ends.
        std::unique_lock lock(script->mutex);
        ASSERT_TRUE(script->changed.wait_for(lock, kWatchdog, [&] { return script->probeDestroyed; }));
        EXPECT_EQ(script->asked.size(), 1u);
    }
    EXPECT_EQ(actions.Received().size(), 1u);
    // Nobody joins it, so it must be gone by itself.
    EXPECT_TRUE(Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }));
}

// The real probe, counted on its way through.
class CountingProbe final : public IReachabilityProbe {
public:
    explicit CountingProbe(std::shared_ptr<Script> script)
        : real_(orbel::studio::platform::CreateIcmpProbe()), script_(std::move(script)) {}
    EchoResult Echo(const std::string& ipv4, std::chrono::milliseconds timeout) override {
        const EchoResult result = real_->Echo(ipv4, timeout);
        std::lock_guard lock(script_->mutex);
        script_->asked.push_back(ipv4);
        script_->answer = result;
        script_->changed.notify_all();
        return result;
    }
    std::string UnavailableReason() const override { return real_->UnavailableReason(); }

private:
    std::unique_ptr<IReachabilityProbe> real_;
    std::shared_ptr<Script> script_;
};

TEST_F(PingMonitorTest, RealProbeFindsLoopbackAnswering) {
    {
        const auto probe = orbel::studio::platform::CreateIcmpProbe();
        if (probe->Echo("127.0.0.1", 1000ms) == EchoResult::Unavailable) {
            GTEST_SKIP() << "ICMP echo is not permitted here: " << probe->UnavailableReason();
        }
    }
    monitor = std::make_unique<SensorPingMonitor>(config, context, std::make_unique<CountingProbe>(script), 1ms);
    monitor->Start();
    ASSERT_TRUE(script->WaitForAsked(3));
    ASSERT_TRUE(StopsWithinWatchdog());

    {
        std::lock_guard lock(script->mutex);
        EXPECT_EQ(script->answer, EchoResult::Reply);
    }
    EXPECT_TRUE(log.Records().empty());
    EXPECT_TRUE(actions.Received().empty());
    EXPECT_TRUE(context->appState->connected);
}

}  // namespace
