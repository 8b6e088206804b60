// The sensor panel: its address check, its button rules, and its start, stop and disconnect
// sequences against the sensor emulator on loopback, with the streamer and the ping monitor
// changing hands only on the GUI thread (the test's thread plays it).
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

#include "app/AppAction.h"
#include "app/SensorPanel.h"
#include "gui/app/AlwaysAnswers.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/LoopbackPeer.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::AppAction;
using orbel::studio::AppActionType;
using orbel::studio::SensorConfig;
using orbel::studio::gui::AppContext;
using orbel::studio::gui::SensorPanel;
using orbel::studio::gui::SensorPingMonitor;
using orbel::studio::gui::StartCheck;
using orbel::testing::AlwaysAnswers;
using orbel::testing::Eventually;

TEST(SensorPanelRulesTest, IsValidIPv4AcceptsOnlyPlainDottedDecimal) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"0.0.0.0", true},          {"127.0.0.1", true},       {"255.255.255.255", true},
        {"10.10.100.11", true},     {"256.1.1.1", false},      {"1.2.3", false},
        {"1.2.3.4.5", false},       {"01.2.3.4", false},       {"1.2.3.04", false},
        {"1.2.3.4 ", false},        {" 1.2.3.4", false},       {"1..2.3", false},
        {"a.b.c.d", false},         {"1.2.3.4x", false},       {"", false},
        {"-1.2.3.4", false},        {"+1.2.3.4", false},       {"1.2.-3.4", false},
        {"1.2.3.+4", false},        {"9999999999.1.1.1", false}, {"1000.1.1.1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(orbel::studio::gui::IsValidIPv4(c.text), c.valid) << '"' << c.text << '"';
    }
    EXPECT_FALSE(orbel::studio::gui::IsValidIPv4(nullptr));
}

TEST(SensorPanelRulesTest, StartSettingsAreCheckedBeforeAnythingStarts) {
    struct Case {
        const char* what;
        std::string sensorIp;
        int port;
        std::string cameraIp;
        bool camera;
        StartCheck expected;
    };
    const Case cases[] = {
        {"valid", "127.0.0.1", 4000, "127.0.0.2", true, StartCheck::Valid},
        {"lowest port", "127.0.0.1", 1, "127.0.0.2", true, StartCheck::Valid},
        {"highest port", "127.0.0.1", 65535, "127.0.0.2", true, StartCheck::Valid},
        {"port 0", "127.0.0.1", 0, "127.0.0.2", true, StartCheck::InvalidSettings},
        {"port 65536", "127.0.0.1", 65536, "127.0.0.2", true, StartCheck::InvalidSettings},
        {"empty sensor address", "", 4000, "127.0.0.2", true, StartCheck::InvalidSettings},
        {"sensor address with a sign", "-1.0.0.1", 4000, "127.0.0.2", true, StartCheck::InvalidSettings},
        {"bad camera address, camera on", "127.0.0.1", 4000, "127.0.0", true, StartCheck::InvalidSettings},
        {"bad camera address, camera off", "127.0.0.1", 4000, "127.0.0", false, StartCheck::Valid},
        {"same addresses", "127.0.0.1", 4000, "127.0.0.1", true, StartCheck::SameAddresses},
        {"same addresses, camera off", "127.0.0.1", 4000, "127.0.0.1", false, StartCheck::SameAddresses},
    };
    for (const Case& c : cases) {
        SensorConfig config;
        config.sensor_ip = c.sensorIp;
        config.sensor_port = c.port;
        config.camera_ip = c.cameraIp;
        config.enable_camera = c.camera;
        EXPECT_EQ(orbel::studio::gui::CheckStartSettings(config), c.expected) << c.what;
    }
}

TEST(SensorPanelRulesTest, EachConditionAloneDisablesTheButtons) {
    using orbel::studio::gui::DisconnectButtonState;
    using orbel::studio::gui::StartButtonState;
    EXPECT_TRUE(orbel::studio::gui::StartButtonEnabled({}));
    const std::pair<const char*, bool StartButtonState::*> startBlockers[] = {
        {"invalid input", &StartButtonState::invalidInput},
        {"replaying", &StartButtonState::replaying},
        {"third task slot", &StartButtonState::watchedTaskRunning},
        {"start task", &StartButtonState::startTaskRunning},
        {"stop task", &StartButtonState::stopTaskRunning},
    };
    for (const auto& [what, field] : startBlockers) {
        StartButtonState state;
        state.*field = true;
        EXPECT_FALSE(orbel::studio::gui::StartButtonEnabled(state)) << what;
    }

    const DisconnectButtonState ready{true, true, false, false, false, false};
    EXPECT_TRUE(orbel::studio::gui::DisconnectButtonEnabled(ready));
    const std::pair<const char*, DisconnectButtonState> disconnectBlocked[] = {
        {"not connected", {false, true, false, false, false, false}},
        {"no streamer", {true, false, false, false, false, false}},
        {"busy", {true, true, true, false, false, false}},
        {"recording", {true, true, false, true, false, false}},
        {"streaming", {true, true, false, false, true, false}},
        {"task not collected", {true, true, false, false, false, true}},
    };
    for (const auto& [what, state] : disconnectBlocked) {
        EXPECT_FALSE(orbel::studio::gui::DisconnectButtonEnabled(state)) << what;
    }
}

struct Actions : orbel::studio::IConsumer<AppAction> {
    std::mutex mutex;
    std::vector<std::shared_ptr<AppAction>> received;
    void Consume(std::shared_ptr<AppAction> action) override {
        std::lock_guard lock(mutex);
        received.push_back(std::move(action));
    }
    std::vector<std::string> Notifications() {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        for (const auto& action : received) {
            if (action->Is(AppActionType::Notification)) {
                const auto& notice = std::get<orbel::studio::NotificationPayload>(action->payload);
                texts.push_back(notice.text + " / " + std::to_string(notice.level));
            }
        }
        return texts;
    }
    size_t Count(AppActionType type) {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count_if(received.begin(), received.end(),
                                                 [&](const auto& action) { return action->Is(type); }));
    }
};

class SensorPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        config->sensor_ip = "127.0.0.1";
        config->sensor_port = emulator.Port();
        config->camera_ip = "127.0.0.2";
        config->enable_camera = false;
        context->dispatcher->Subscribe<AppAction>(&actions);
        threadsBefore = orbel::testing::ThreadCount();
        panel = std::make_unique<SensorPanel>(
            context, config, [this](std::shared_ptr<SensorConfig> c, std::shared_ptr<AppContext> ctx) {
                ++monitorsMade;
                return std::make_unique<SensorPingMonitor>(std::move(c), std::move(ctx),
                                                           std::make_unique<AlwaysAnswers>(), 50ms);
            });
    }
    void TearDown() override {
        panel.reset();
        context->dispatcher->Unsubscribe<AppAction>(&actions);
        // The SDK lets its threads end on their own; the next test counts threads.
        EXPECT_TRUE(Eventually([&] { return orbel::testing::ThreadCount() <= threadsBefore; }));
    }

    // Plays the GUI thread's frames until the panel's tasks are collected.
    bool SettleTasks() {
        return Eventually([&] {
            panel->Update();
            return !panel->TaskPending();
        });
    }
    size_t Commands(uint32_t id) {
        size_t n = 0;
        for (const auto& frame : emulator.ReceivedFrames()) n += frame.id == id ? 1 : 0;
        return n;
    }
    orbel::studio::gui::AppState& State() { return *context->appState; }

    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    std::shared_ptr<AppContext> context = std::make_shared<AppContext>();
    std::shared_ptr<SensorConfig> config = std::make_shared<SensorConfig>();
    Actions actions;
    int monitorsMade = 0;
    size_t threadsBefore = 0;
    std::unique_ptr<SensorPanel> panel;
};

TEST_F(SensorPanelTest, InvalidOrEqualAddressesStartNothing) {
    config->sensor_port = 0;
    panel->ClickStartStop();
    config->sensor_port = emulator.Port();
    config->camera_ip = config->sensor_ip;
    panel->ClickStartStop();

    EXPECT_EQ(actions.Notifications(),
              (std::vector<std::string>{"Invalid sensor configuration. / 3", "Both IP are the same. / 3"}));
    EXPECT_TRUE(log.Contains("Invalid sensor configuration. Please check the IP addresses and port.",
                             spdlog::level::err));
    EXPECT_TRUE(log.Contains("Sensor IP and Camera IP cannot be the same.", spdlog::level::err));
    EXPECT_FALSE(panel->HasStreamer());
    EXPECT_FALSE(panel->TaskPending());
    EXPECT_EQ(actions.Count(AppActionType::ClearViews), 0u);
    EXPECT_FALSE(emulator.WaitForClient(100ms));
}

TEST_F(SensorPanelTest, StartStopStartReusesTheSensorUntilDisconnect) {
    panel->ClickStartStop();
    EXPECT_EQ(actions.Count(AppActionType::ClearViews), 1u);
    ASSERT_TRUE(SettleTasks());
    EXPECT_TRUE(State().streaming);
    EXPECT_TRUE(State().connected);
    EXPECT_TRUE(panel->HasPingMonitor());
    EXPECT_FALSE(panel->DisconnectEnabled()) << "no disconnect while streaming";

    panel->ClickStartStop();  // "Stop streaming"
    ASSERT_TRUE(SettleTasks());
    EXPECT_FALSE(State().streaming);
    EXPECT_TRUE(State().connected);
    EXPECT_TRUE(panel->HasStreamer()) << "the built sensor stays for the next start";
    EXPECT_FALSE(panel->HasPingMonitor());
    EXPECT_FALSE(orbel::studio::gui::SettingsEditable(false, State().streaming, panel->HasStreamer()));
    EXPECT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, 5s));

    panel->ClickStartStop();  // "Start streaming" again
    ASSERT_TRUE(SettleTasks());
    EXPECT_TRUE(State().streaming);
    EXPECT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStart, 2, 5s));
    EXPECT_EQ(emulator.ConnectionCount(), 1u);
    EXPECT_EQ(monitorsMade, 2);

    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    ASSERT_TRUE(panel->DisconnectEnabled());
    panel->ClickDisconnect();
    EXPECT_FALSE(panel->HasStreamer());
    EXPECT_FALSE(State().connected);
    EXPECT_TRUE(emulator.WaitForNoClient(5s));
    EXPECT_TRUE(orbel::studio::gui::SettingsEditable(false, State().streaming, panel->HasStreamer()));
}

TEST_F(SensorPanelTest, SecondClickWhileConnectingStartsNoSecondTask) {
    // A late status answer keeps the connect busy long enough to click again.
    emulator.SetStatusAnswer(orbel::emulator::StatusAnswer::Late, 400ms);
    panel->ClickStartStop();
    EXPECT_TRUE(State().busy) << "busy from the click on, not from when the task gets going";
    EXPECT_FALSE(panel->StartEnabled());
    panel->ClickStartStop();
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    EXPECT_TRUE(State().streaming);
    EXPECT_EQ(emulator.ConnectionCount(), 1u);
    EXPECT_EQ(Commands(orbel::emulator::ids::kStart), 1u);
    EXPECT_EQ(actions.Count(AppActionType::ClearViews), 1u);
}

TEST_F(SensorPanelTest, FailedConnectDropsTheStreamerOnTheGuiThread) {
    config->sensor_port = orbel::testing::LoopbackPeer::UnusedPort();
    panel->ClickStartStop();
    ASSERT_TRUE(Eventually([&] { return !State().IsTaskRunning(orbel::studio::gui::AppState::kSensorStartTaskSlot); }));
    EXPECT_TRUE(panel->HasStreamer()) << "the task must not delete what the GUI thread reads";
    panel->Update();
    EXPECT_FALSE(panel->HasStreamer());
    EXPECT_FALSE(panel->HasPingMonitor());
    EXPECT_FALSE(State().connected);
    EXPECT_FALSE(State().busy);
    EXPECT_EQ(monitorsMade, 0);
}

TEST_F(SensorPanelTest, InvalidAddressStaysInvalidAfterAValidPortEdit) {
    panel->EditSensorIp("10.0.0.");
    panel->EditPort(4001);
    EXPECT_TRUE(panel->InvalidInput());
    EXPECT_FALSE(panel->StartEnabled());
    panel->ClickStartStop();
    EXPECT_FALSE(panel->HasStreamer()) << "would connect to the address before the edit";
    EXPECT_EQ(config->sensor_ip, "127.0.0.1");
    EXPECT_EQ(config->sensor_port, 4001);

    panel->EditSensorIp("127.0.0.1");
    EXPECT_FALSE(panel->InvalidInput());
    panel->EditPort(0);
    EXPECT_TRUE(panel->InvalidInput());
    EXPECT_EQ(config->sensor_port, 4001);
}

TEST_F(SensorPanelTest, SensorOfflineStopsAndReleasesTheStreamer) {
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    ASSERT_TRUE(State().streaming);

    // The panel's own message is not a report about the sensor.
    panel->Consume(std::make_shared<AppAction>(AppActionType::SensorOffline, panel.get()));
    panel->Update();
    EXPECT_TRUE(State().connected);

    // As the ping monitor reports it: through the hub, on its own thread.
    context->dispatcher->Subscribe<AppAction>(panel.get());
    int monitor = 0;
    std::thread([&] {
        context->dispatcher->Publish(std::make_shared<AppAction>(AppActionType::SensorOffline, &monitor));
    }).join();
    context->dispatcher->Unsubscribe<AppAction>(panel.get());
    // Nothing was started on the monitor's thread: a stop begun there would join the monitor
    // from its own thread.
    EXPECT_FALSE(panel->TaskPending()) << "the report is acted on by the GUI thread, not the monitor's";
    EXPECT_FALSE(State().busy);
    panel->Update();
    EXPECT_FALSE(State().connected);
    EXPECT_FALSE(State().cameraRunning);
    ASSERT_TRUE(SettleTasks());
    EXPECT_FALSE(panel->HasStreamer());
    EXPECT_FALSE(panel->HasPingMonitor());
    EXPECT_FALSE(State().busy);
    EXPECT_TRUE(emulator.WaitForNoClient(5s));
}

TEST_F(SensorPanelTest, CameraSwitchRemembersTheColorizerSwitch) {
    panel->SetCameraSwitch(true);
    panel->SetColorizerSwitch(true);
    panel->SetCameraSwitch(false);
    EXPECT_FALSE(panel->ColorizerSwitch());
    EXPECT_FALSE(config->enable_colorizer);
    EXPECT_FALSE(config->enable_camera);
    panel->SetCameraSwitch(true);
    EXPECT_TRUE(panel->ColorizerSwitch());
    EXPECT_TRUE(config->enable_colorizer);
    EXPECT_TRUE(config->enable_camera);
}

}  // namespace

namespace {

// A sensor that reports itself running but sends nothing (its process hangs, a cable is
// pulled where the host still answers pings): after 3 s without a line the user is told once,
// and again once data comes back; nothing stops.
TEST_F(SensorPanelTest, SilentSensorIsToldOnceAndAgainWhenDataComesBack) {
    emulator.SetStateByte(0x02);  // running already: no start command, so no stream
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    ASSERT_TRUE(State().streaming);

    const auto toastIs = [&](const std::string& text) {
        const auto toast = State().PendingToast();
        return toast && toast->text == text;
    };
    ASSERT_TRUE(Eventually([&] { return log.Contains("No data from the sensor for 3 s", spdlog::level::warn); }, 30s));
    EXPECT_TRUE(Eventually([&] { return toastIs("No data from the sensor for 3 s"); }));
    EXPECT_TRUE(State().streaming) << "told, not stopped";
    EXPECT_TRUE(State().connected);

    ASSERT_TRUE(emulator.SendPointCloudBurst(56));
    ASSERT_TRUE(Eventually([&] { return log.Contains("Data from the sensor again", spdlog::level::info); }, 30s));
    EXPECT_TRUE(Eventually([&] { return toastIs("Data from the sensor again"); }));
    EXPECT_EQ(log.Count("No data from the sensor", spdlog::level::warn), 1u) << "told once per silence";

    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
}

// The watch itself, on a clock of the test's own.
TEST(SensorSilenceWatch, TellsEachChangeOnce) {
    using orbel::studio::gui::SensorSilenceWatch;
    using Change = SensorSilenceWatch::Change;
    SensorSilenceWatch watch(3s);
    const SensorSilenceWatch::Clock::time_point t0{};
    watch.Restart(t0 + 1s);
    const struct {
        std::chrono::milliseconds at;
        bool seen;  // data arrives just before the check
        Change expected;
    } steps[] = {
        {3999ms, false, Change::None},       {4000ms, false, Change::FellSilent}, {9000ms, false, Change::None},
        {9100ms, true, Change::Resumed},     {9200ms, false, Change::None},       {12100ms, false, Change::FellSilent},
        {12200ms, true, Change::Resumed},
    };
    for (const auto& step : steps) {
        if (step.seen) watch.Seen(t0 + step.at);
        EXPECT_EQ(watch.Check(t0 + step.at), step.expected) << step.at.count() << " ms";
    }
    watch.Restart(t0 + 20s);  // a new stream starts without a silence told
    EXPECT_EQ(watch.Check(t0 + 20s), Change::None);
}

// A new stream counts its silence from its own start, whatever the stream before it did: one
// begun while the last was silent tells no return when its data comes, and one begun long
// after the last data tells no silence before the limit has passed since its start.
TEST(SensorSilenceWatch, ANewStreamCountsFromItsOwnStart) {
    using orbel::studio::gui::SensorSilenceWatch;
    using Change = SensorSilenceWatch::Change;
    SensorSilenceWatch watch(3s);
    const SensorSilenceWatch::Clock::time_point t0{};
    watch.Restart(t0);
    ASSERT_EQ(watch.Check(t0 + 5s), Change::FellSilent);

    watch.Restart(t0 + 10s);  // stopped while silent, started again
    EXPECT_EQ(watch.Check(t0 + 10s), Change::None);
    EXPECT_EQ(watch.Check(t0 + 12s), Change::None) << "2 s after the start is no silence yet";
    watch.Seen(t0 + 12s);
    EXPECT_EQ(watch.Check(t0 + 12s), Change::None) << "the first data of a stream is no return";
    EXPECT_EQ(watch.Check(t0 + 15s), Change::FellSilent);
}

}  // namespace
