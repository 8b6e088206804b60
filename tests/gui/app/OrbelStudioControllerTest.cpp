// The controller: settings in and out, one queued action per frame, camera images, the relay
// of replay commands between the two replay panels, and a teardown that no publisher outlives.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppPanels.h"
#include "app/ConfigHandler.h"
#include "app/OrbelStudioController.h"
#include "gui/app/ProgramLogCapture.h"

namespace {

using orbel::studio::AppAction;
using orbel::studio::AppActionPayload;
using orbel::studio::AppActionType;
using orbel::studio::CameraData;
using orbel::studio::FrameData;
using orbel::studio::NotificationPayload;
using orbel::studio::gui::OrbelStudioController;

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/orbel-controller-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class ControllerTest : public ::testing::Test {
protected:
    std::filesystem::path Settings() const { return folder.Path() / "settings.bin"; }
    void Publish(AppActionType type, const void* sender = nullptr, AppActionPayload payload = {}) {
        controller->Context()->dispatcher->Publish(std::make_shared<AppAction>(type, sender, std::move(payload)));
    }
    std::string Toast() {
        auto toast = controller->Context()->appState->PendingToast();
        return toast ? toast->text : "";
    }

    orbel::testing::ProgramLogCapture log;
    TempFolder folder;
    std::unique_ptr<OrbelStudioController> controller;
};

TEST_F(ControllerTest, MissingSettingsLeaveTheDefaultsAndShutdownWritesThem) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    EXPECT_EQ(controller->Settings()->sensor_ip, "10.10.100.11");
    EXPECT_EQ(controller->Settings()->sensor_port, 4000);
    EXPECT_TRUE(controller->Settings()->enable_camera);
    EXPECT_EQ(controller->Panels().sensorPanel.SensorIpText(), std::string("10.10.100.11"));
    EXPECT_EQ(log.Count("Configuration file does not exist", spdlog::level::warn), 1u);
    EXPECT_FALSE(controller->Context()->appState->PendingToast());  // a first start is nothing to tell

    controller->Panels().sensorPanel.EditSensorIp("127.0.0.1");
    controller->Panels().sensorPanel.EditPort(4100);
    controller->Context()->appState->viewerConfig->lidar_2d_view_scale_factor = 6.0f;
    controller->Shutdown();
    controller.reset();

    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    const auto viewer = orbel::studio::gui::ConfigHandler::Load(Settings(), sensor);
    ASSERT_TRUE(viewer);
    EXPECT_EQ(sensor->sensor_ip, "127.0.0.1");
    EXPECT_EQ(sensor->sensor_port, 4100);
    EXPECT_FLOAT_EQ(viewer->lidar_2d_view_scale_factor, 6.0f);

    // The next start reads them back.
    controller = std::make_unique<OrbelStudioController>(Settings());
    EXPECT_EQ(controller->Settings()->sensor_port, 4100);
    EXPECT_EQ(controller->Panels().sensorPanel.Port(), 4100);
}

// A damaged file: the program starts on the defaults and says so, the file is kept beside
// it, and neither the save at exit nor the next start destroys the kept copy.
TEST_F(ControllerTest, UnreadableSettingsAreKeptAsideAndToldAndSurviveTheSave) {
    {
        auto sensor = std::make_shared<orbel::studio::SensorConfig>();
        sensor->sensor_ip = "127.0.0.1";
        sensor->sensor_port = 4100;
        ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Save(std::make_shared<orbel::studio::gui::ViewerConfig>(),
                                                            sensor, Settings()));
    }
    std::string damaged = ReadFile(Settings());
    damaged.resize(damaged.size() - 8);  // cut inside the camera address
    std::ofstream(Settings(), std::ios::binary | std::ios::trunc) << damaged;
    const std::filesystem::path kept = folder.Path() / "settings.bin.unreadable";

    controller = std::make_unique<OrbelStudioController>(Settings());
    EXPECT_EQ(controller->Settings()->sensor_ip, "10.10.100.11");
    EXPECT_EQ(controller->Settings()->sensor_port, 4000);
    EXPECT_EQ(controller->Panels().sensorPanel.SensorIpText(), std::string("10.10.100.11"));
    EXPECT_EQ(Toast(), "Settings could not be read: defaults in use (sensor 10.10.100.11:4000); the file is kept "
                       "as settings.bin.unreadable");
    EXPECT_EQ(log.Count("Loading configuration: Settings could not be read: defaults in use (sensor "
                        "10.10.100.11:4000); the file is kept as ",
                        spdlog::level::warn),
              1u);
    EXPECT_EQ(ReadFile(kept), damaged);

    controller->Panels().sensorPanel.EditPort(4200);
    controller->Shutdown();
    controller.reset();
    EXPECT_EQ(ReadFile(kept), damaged);
    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Load(Settings(), sensor));
    EXPECT_EQ(sensor->sensor_ip, "10.10.100.11");
    EXPECT_EQ(sensor->sensor_port, 4200);

    // The next start reads the saved defaults: nothing more to tell, the kept copy stays.
    controller = std::make_unique<OrbelStudioController>(Settings());
    EXPECT_FALSE(controller->Context()->appState->PendingToast());
    controller->Shutdown();
    EXPECT_EQ(ReadFile(kept), damaged);
}

// A notice of the start (another program holds the settings folder) is shown after the one
// that loading the settings left, not in its place.
TEST_F(ControllerTest, StartNoticeFollowsTheSettingsNotice) {
    const std::string shared = orbel::studio::gui::SharedSettingsFolderNotice(folder.Path() / "orbelstudio-42.log");
    EXPECT_EQ(shared, "Another Orbel Studio is using this settings folder; this one logs to orbelstudio-42.log");
    controller = std::make_unique<OrbelStudioController>(Settings());
    controller->AddStartNotice(shared);
    EXPECT_EQ(Toast(), shared);

    std::ofstream(Settings(), std::ios::binary | std::ios::trunc) << "garbage bytes!";
    controller = std::make_unique<OrbelStudioController>(Settings());
    controller->AddStartNotice(shared);
    EXPECT_EQ(Toast(), "Settings could not be read: defaults in use (sensor 10.10.100.11:4000); the file is kept "
                       "as settings.bin.unreadable\n" + shared);
}

TEST_F(ControllerTest, UnwritableSettingsAreReported) {
    controller = std::make_unique<OrbelStudioController>(folder.Path() / "no-such" / "dir" / "settings.bin");
    std::filesystem::create_directories(folder.Path() / "no-such");
    std::ofstream(folder.Path() / "no-such" / "dir") << "a file where a folder should be";
    controller->Panels().sensorPanel.EditPort(4100);
    controller->Shutdown();
    EXPECT_TRUE(log.Contains("Failed to save viewer configuration", spdlog::level::err));
    EXPECT_EQ(Toast(), "Settings could not be saved: Not a directory");
}

// Two programs on one settings folder: the one that changed nothing writes nothing at its
// end, so the other's saved change stays; a change of its own is written at the end as before.
TEST_F(ControllerTest, TheEndWritesTheSettingsOnlyWhenTheyChanged) {
    {
        auto sensor = std::make_shared<orbel::studio::SensorConfig>();
        sensor->sensor_port = 4100;
        ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Save(std::make_shared<orbel::studio::gui::ViewerConfig>(),
                                                            sensor, Settings()));
    }
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto other = std::make_shared<orbel::studio::SensorConfig>();
    other->sensor_port = 4321;  // saved meanwhile by another program
    ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Save(std::make_shared<orbel::studio::gui::ViewerConfig>(), other,
                                                        Settings()));
    const std::string others = ReadFile(Settings());
    controller->SaveSettingsWhenSettled(0.0);
    controller->SaveSettingsWhenSettled(5.0);
    controller->Shutdown();
    EXPECT_EQ(ReadFile(Settings()), others);

    controller = std::make_unique<OrbelStudioController>(Settings());
    EXPECT_EQ(controller->Settings()->sensor_port, 4321);
    controller->Context()->appState->viewerConfig->point_size = 5;
    controller->Shutdown();
    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    const auto saved = orbel::studio::gui::ConfigHandler::Load(Settings(), sensor);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->point_size, 5);
}

// A save that fails is told in a toast with the system's reason the first time, not at each
// failure after it; once a save has worked, the next failure is told again. The end tries
// once more what the running program could not write.
TEST_F(ControllerTest, AFailedSaveIsToldOnceAndTriedAgainAtTheEnd) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto& viewer = *controller->Context()->appState->viewerConfig;
    auto& state = *controller->Context()->appState;
    double now = 0.0;
    const auto settle = [&] {
        controller->SaveSettingsWhenSettled(now += 2.0);
        controller->SaveSettingsWhenSettled(now += 2.0);
    };
    std::filesystem::create_directories(Settings() / "inside");  // a folder in the file's place

    viewer.point_size = 3;
    settle();
    EXPECT_EQ(Toast(), "Settings could not be saved: Is a directory");
    EXPECT_EQ(log.Count("ConfigHandler::Save: Failed to replace file: " + Settings().string() + " (Is a directory)",
                        spdlog::level::err),
              1u);
    state.ClearToast();
    viewer.point_size = 4;
    settle();
    EXPECT_EQ(Toast(), "") << "told again while the saves still fail";
    EXPECT_EQ(log.Count("Failed to replace file", spdlog::level::err), 2u);

    std::filesystem::remove_all(Settings());
    viewer.point_size = 5;
    settle();
    EXPECT_EQ(Toast(), "");
    std::filesystem::remove(Settings());
    std::filesystem::create_directories(Settings() / "inside");
    viewer.point_size = 6;
    settle();
    EXPECT_EQ(Toast(), "Settings could not be saved: Is a directory") << "a new failure after a save that worked";

    std::filesystem::remove_all(Settings());
    controller->Shutdown();
    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    const auto saved = orbel::studio::gui::ConfigHandler::Load(Settings(), sensor);
    ASSERT_TRUE(saved) << "the end did not try again";
    EXPECT_EQ(saved->point_size, 6);
}

// While the program runs, a change is written once it has held still for a second; an
// unchanged program never writes, not even after its start with a settings file.
TEST_F(ControllerTest, SettingsAreWrittenOnceAChangeHoldsStillAndNeverWhileIdle) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto& viewer = *controller->Context()->appState->viewerConfig;
    const auto savedPointSize = [&]() -> std::optional<int> {
        auto sensor = std::make_shared<orbel::studio::SensorConfig>();
        const auto loaded = orbel::studio::gui::ConfigHandler::Load(Settings(), sensor);
        return loaded ? std::optional<int>(loaded->point_size.load()) : std::nullopt;
    };
    for (const double now : {0.0, 1.0, 5.0}) controller->SaveSettingsWhenSettled(now);
    EXPECT_FALSE(std::filesystem::exists(Settings())) << "written while nothing changed";

    viewer.point_size = 3;
    controller->SaveSettingsWhenSettled(10.0);
    viewer.point_size = 4;  // still changing: the second counts from here
    controller->SaveSettingsWhenSettled(10.5);
    controller->SaveSettingsWhenSettled(11.4);
    EXPECT_FALSE(std::filesystem::exists(Settings())) << "written before the change held still";
    controller->SaveSettingsWhenSettled(11.5);
    EXPECT_EQ(savedPointSize(), 4);

    std::filesystem::remove(Settings());
    controller->SaveSettingsWhenSettled(20.0);
    controller->SaveSettingsWhenSettled(30.0);
    EXPECT_FALSE(std::filesystem::exists(Settings())) << "the same settings written again";

    // The next start reads what was written and, left alone, writes nothing.
    viewer.point_size = 6;
    controller->Shutdown();
    controller = std::make_unique<OrbelStudioController>(Settings());
    const auto written = std::filesystem::last_write_time(Settings());
    for (const double now : {0.0, 1.0, 5.0}) controller->SaveSettingsWhenSettled(now);
    EXPECT_EQ(std::filesystem::last_write_time(Settings()), written);
    EXPECT_EQ(savedPointSize(), 6);
}

TEST_F(ControllerTest, OneQueuedActionIsAppliedPerFrameInOrder) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    for (int i = 0; i < 10; ++i) {
        Publish(AppActionType::Notification, nullptr, NotificationPayload{std::to_string(i), 1});
    }
    for (int frame = 0; frame < 10; ++frame) {
        controller->Update(16.0);
        EXPECT_EQ(Toast(), std::to_string(frame));
        EXPECT_EQ(controller->QueuedActions(), static_cast<size_t>(9 - frame));
    }
}

TEST_F(ControllerTest, ActionsChangeStateOnlyWithTheirPayload) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto& state = *controller->Context()->appState;
    struct Step {
        const char* what;
        AppActionType type;
        AppActionPayload payload;
    };
    const Step steps[] = {
        {"a notification as plain text is ignored", AppActionType::Notification, std::string("plain")},
        {"a progress update", AppActionType::ProgressUpdate, orbel::studio::ProgressPayload{0.25f, "Converting"}},
        {"camera view shown", AppActionType::SetCameraViewVisible, true},
        {"camera view flag as an integer is ignored", AppActionType::SetCameraViewVisible, int32_t{0}},
    };
    for (const Step& step : steps) {
        Publish(step.type, nullptr, step.payload);
        controller->Update(16.0);
    }
    EXPECT_EQ(Toast(), "");
    EXPECT_FLOAT_EQ(state.progressFraction, 0.25f);
    EXPECT_EQ(state.ProgressText(), "Converting");
    EXPECT_TRUE(state.progressVisible);
    EXPECT_TRUE(state.viewerConfig->show_camera);
    Publish(AppActionType::ClearViews);
    controller->Update(16.0);
    EXPECT_FALSE(state.viewerConfig->show_camera);
}

TEST_F(ControllerTest, CameraImageShowsTheCameraViewAndTheQueueIsCapped) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto& dispatcher = *controller->Context()->dispatcher;
    for (int i = 0; i < 9; ++i) dispatcher.Publish(std::make_shared<CameraData>());
    EXPECT_EQ(controller->QueuedImages(), OrbelStudioController::kCameraQueueCap + 1);
    EXPECT_FALSE(controller->Context()->appState->viewerConfig->show_camera);
    controller->Update(16.0);
    EXPECT_TRUE(controller->Context()->appState->viewerConfig->show_camera);
}

TEST_F(ControllerTest, FirstFrameOfEachStreamIsLogged) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto& dispatcher = *controller->Context()->dispatcher;
    auto frame = std::make_shared<FrameData>();
    frame->frameNumber = 7;
    frame->width = 192;
    frame->height = 56;
    dispatcher.Publish(frame);
    dispatcher.Publish(frame);
    Publish(AppActionType::ClearViews);
    dispatcher.Publish(frame);
    EXPECT_EQ(log.Count("Frames arriving: frame 7, 56 lines of 192 points", spdlog::level::info), 2u);
}

struct FakeReplayPanel {
    std::vector<std::string> calls;
    void Play() { calls.push_back("play"); }
    void Pause() { calls.push_back("pause"); }
    void Reset() { calls.push_back("reset"); }
    void Seek(int index) { calls.push_back("seek " + std::to_string(index)); }
};

TEST(ReplayRelayTest, CommandOfOneReplayPanelMovesTheOther) {
    struct Case {
        const char* what;
        AppActionType type;
        int sender;  // 0 lidar, 1 camera, 2 someone else
        AppActionPayload payload;
        std::vector<std::string> lidar;
        std::vector<std::string> camera;
    };
    const Case cases[] = {
        {"lidar plays", AppActionType::ReplayPlay, 0, {}, {}, {"play"}},
        {"camera pauses", AppActionType::ReplayPause, 1, {}, {"pause"}, {}},
        {"lidar resets", AppActionType::ReplayReset, 0, {}, {}, {"reset"}},
        {"camera seeks", AppActionType::ReplaySeek, 1, int32_t{42}, {"seek 42"}, {}},
        {"seek without an index", AppActionType::ReplaySeek, 0, std::string("42"), {}, {}},
        {"another sender", AppActionType::ReplayPlay, 2, {}, {}, {}},
        {"not a replay command", AppActionType::SessionLoaded, 0, std::string("/x"), {}, {}},
    };
    for (const Case& c : cases) {
        FakeReplayPanel lidar;
        FakeReplayPanel camera;
        int other = 0;
        const void* senders[] = {&lidar, &camera, &other};
        const AppAction action(c.type, senders[c.sender], c.payload);
        orbel::studio::gui::RelayReplayAction(action, &lidar, &camera);
        EXPECT_EQ(lidar.calls, c.lidar) << c.what;
        EXPECT_EQ(camera.calls, c.camera) << c.what;
    }
}

TEST_F(ControllerTest, TeardownWhilePublishersRunReachesNothingFreed) {
    controller = std::make_unique<OrbelStudioController>(Settings());
    auto dispatcher = controller->Context()->dispatcher;
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        while (!stop) {
            dispatcher->Publish(std::make_shared<AppAction>(AppActionType::SensorOffline, nullptr));
            dispatcher->Publish(std::make_shared<CameraData>());
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    controller.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    publisher.join();
    SUCCEED();
}

}  // namespace
