// The session panels' decisions, driven without a window, and their drawing in a headless
// ImGui context: the recorder panel against published batches and images, the two replay
// panels in step through the messages they publish (the test relays them as the controller
// does), and the converter panel's task, outcome and stop.
#include <future>
#include <set>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "platform/FileDialog.h"
#include "sessions/ConverterPanel.h"
#include "sessions/RecorderPanel.h"
#include "sessions/ReplayPanel.h"
#include "support/HeadlessImGui.h"
#include "support/Threads.h"
#include "views/Colormaps.h"

namespace orbel::studio::gui {
namespace {

using testing::Clouds;
using testing::Collector;
using testing::Eventually;
using testing::FrameLines;
using testing::ProgramLogCapture;
using testing::RgbImage;
using testing::WriteQpc;
namespace fs = std::filesystem;

std::shared_ptr<LineBatch> Batch(uint32_t frame) {
    return std::make_shared<LineBatch>(Clouds(FrameLines(0x60, 4, frame)));
}

size_t FileCount(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return 0;
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Answers every folder dialog with one folder.
class ScriptedDialogs final : public platform::IFileDialog {
public:
    explicit ScriptedDialogs(fs::path folder) : folder_(std::move(folder)) {}
    platform::DialogResult OpenFile(const std::vector<platform::DialogFilter>&, const fs::path&, fs::path&) override {
        return platform::DialogResult::Cancel;
    }
    platform::DialogResult PickFolder(const fs::path&, fs::path& chosen) override {
        chosen = folder_;
        return platform::DialogResult::Okay;
    }

private:
    fs::path folder_;
};

class DialogAnswers {
public:
    explicit DialogAnswers(fs::path folder)
        : previous_(platform::ReplaceFileDialogs(std::make_unique<ScriptedDialogs>(std::move(folder)))) {}
    ~DialogAnswers() { platform::ReplaceFileDialogs(std::move(previous_)); }

private:
    std::unique_ptr<platform::IFileDialog> previous_;
};

// The first button of a panel drawn in the headless window.
const ImVec2 kFirstButton{14.0f, 14.0f};

// ---------------------------------------------------------------------------------------
// Recorder panel

class RecorderPanelTest : public testing::ScratchFolder {
protected:
    std::shared_ptr<AppContext> context_ = std::make_shared<AppContext>();
    AppState& state_ = *context_->appState;
    std::shared_ptr<SensorConfig> config_ = std::make_shared<SensorConfig>();  // the sensor panel's
};

TEST_F(RecorderPanelTest, ButtonAndStatusFollowTheStreamAndTheFolder) {
    RecorderPanel panel(context_, config_);
    EXPECT_FALSE(panel.RecordButtonEnabled());
    auto status = panel.CurrentStatus(std::chrono::steady_clock::now());
    EXPECT_EQ(status.text, "Waiting for sensor");
    EXPECT_EQ(status.colour, (std::array<float, 4>{0.9f, 0.7f, 0.2f, 1.0f}));
    state_.streaming = true;
    EXPECT_FALSE(panel.RecordButtonEnabled());  // no folder yet
    panel.SetOutputFolder((root_ / "out").string());
    EXPECT_TRUE(panel.RecordButtonEnabled());
    EXPECT_STREQ(panel.RecordButtonLabel(), "Start recording");
    EXPECT_EQ(panel.CurrentStatus(std::chrono::steady_clock::now()).text, "Ready to record");
    EXPECT_EQ(RecorderPanel::FormatElapsed(std::chrono::seconds(3725)), "(01:02:05)");
}

TEST_F(RecorderPanelTest, RecordsUntilTheStreamEndsThenStopsByItself) {
    ProgramLogCapture log;
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    panel.SetOutputFolder((root_ / "session").string());
    panel.PressRecordButton();
    ASSERT_TRUE(panel.IsRecording());
    EXPECT_EQ(state_.PendingToast()->text, "Recording started");
    EXPECT_STREQ(panel.RecordButtonLabel(), "Stop recording");
    const auto status = panel.CurrentStatus(std::chrono::steady_clock::now() + std::chrono::seconds(61));
    EXPECT_EQ(status.text, "Recording");
    EXPECT_EQ(status.colour, (std::array<float, 4>{0.2f, 0.9f, 0.2f, 1.0f}));
    EXPECT_EQ(status.elapsed, "(00:01:01)");

    for (uint32_t frame = 1; frame <= 30; ++frame) context_->dispatcher->Publish(Batch(frame));
    state_.streaming = false;
    panel.Update();
    EXPECT_FALSE(panel.HasRecorder());
    EXPECT_FALSE(panel.IsRecording());
    EXPECT_EQ(state_.PendingToast()->text, "Recording stopped");
    EXPECT_EQ(FileCount(root_ / "session" / "frames_qpc"), 30u);  // all that was published
    EXPECT_TRUE(log.Contains("Camera not available, skipping camera recording", spdlog::level::warn));
    EXPECT_TRUE(log.Contains("Recording stopped", spdlog::level::info));
    context_->dispatcher->Publish(Batch(31));  // nobody records now
    EXPECT_EQ(FileCount(root_ / "session" / "frames_qpc"), 30u);
}

TEST_F(RecorderPanelTest, CameraImagesAreRecordedBesideTheFrames) {
    ProgramLogCapture log;
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    state_.cameraRunning = true;
    panel.Consume(std::make_shared<AppAction>(AppActionType::CameraAvailable, &state_, true));
    EXPECT_TRUE(panel.RecordCamera());
    panel.Consume(std::make_shared<AppAction>(AppActionType::CameraAvailable, &panel, false));  // its own: ignored
    EXPECT_TRUE(panel.RecordCamera());
    panel.SetOutputFolder((root_ / "session").string());
    panel.PressRecordButton();
    ASSERT_TRUE(panel.HasCameraRecorder());
    ASSERT_TRUE(Eventually([&] { return context_->taskManager->IsRunning(TaskType::CameraRecording); }));
    // Images queue only once the camera loop runs; wait for it.
    ASSERT_TRUE(Eventually([&] { return fs::exists(root_ / "session" / "frames_rgb"); }));
    context_->dispatcher->Publish(Batch(5));
    context_->dispatcher->Publish(RgbImage(7, 70000));
    panel.PressRecordButton();
    EXPECT_EQ(state_.PendingToast()->text, "Sensor recording stopped");
    EXPECT_EQ(FileCount(root_ / "session" / "frames_qpc"), 1u);
    EXPECT_TRUE(fs::exists(root_ / "session" / "frames_rgb" / "image_00000007_00000000000000070000.jpg"));
    EXPECT_TRUE(log.Contains("Camera recording stopped", spdlog::level::info));
}

TEST_F(RecorderPanelTest, RecordingAgainKeepsTheEarlierSession) {
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    panel.SetOutputFolder((root_ / "drive").string());
    panel.PressRecordButton();
    context_->dispatcher->Publish(Batch(1));
    EXPECT_EQ(panel.CurrentStatus(std::chrono::steady_clock::now()).folder, (root_ / "drive").string());
    EXPECT_EQ(state_.PendingToast()->text, "Recording started");
    panel.PressRecordButton();
    panel.PressRecordButton();
    EXPECT_EQ(panel.SessionFolder(), root_ / "drive_2");
    // The user is told where this one goes: the toast and the status line name the new folder.
    EXPECT_EQ(state_.PendingToast()->text, "Recording started in " + (root_ / "drive_2").string());
    EXPECT_EQ(panel.CurrentStatus(std::chrono::steady_clock::now()).folder, (root_ / "drive_2").string());
    EXPECT_EQ(panel.OutputFolder(), (root_ / "drive").string());
    context_->dispatcher->Publish(Batch(1));
    panel.PressRecordButton();
    EXPECT_EQ(FileCount(root_ / "drive" / "frames_qpc"), 1u);
    EXPECT_EQ(FileCount(root_ / "drive_2" / "frames_qpc"), 1u);
}

// The camera warning is for a camera that is switched on in the sensor panel but does not
// run; switched off, "Record camera" already shows it and the log says nothing.
TEST_F(RecorderPanelTest, OnlyASwitchedOnCameraThatDoesNotRunIsWarnedAbout) {
    for (const bool cameraSwitch : {true, false}) {
        SCOPED_TRACE(cameraSwitch ? "camera switched on" : "camera switched off");
        ProgramLogCapture log;
        config_->enable_camera = cameraSwitch;
        RecorderPanel panel(context_, config_);
        state_.streaming = true;
        panel.SetOutputFolder((root_ / (cameraSwitch ? "on" : "off")).string());
        panel.PressRecordButton();
        ASSERT_TRUE(panel.IsRecording());
        panel.PressRecordButton();
        EXPECT_FALSE(panel.HasCameraRecorder());
        EXPECT_EQ(log.Count("Camera not available", spdlog::level::warn), cameraSwitch ? 1u : 0u);
        EXPECT_EQ(log.Count("camera recording", spdlog::level::info), 0u);
    }
}

// A folder typed as a relative path records under the home folder, not wherever the program
// was started, and the status line, the toast and the log name the absolute folder.
TEST_F(RecorderPanelTest, ARelativeFolderRecordsUnderTheHomeFolder) {
    ProgramLogCapture log;
    testing::HomeAndWorkingFolder folders(root_ / "home", root_ / "started-here");
    const fs::path absolute = root_ / "home" / "relrec";
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    panel.SetOutputFolder("relrec");
    panel.PressRecordButton();
    ASSERT_TRUE(panel.IsRecording());
    EXPECT_EQ(panel.CurrentStatus(std::chrono::steady_clock::now()).folder, absolute.string());
    EXPECT_EQ(state_.PendingToast()->text, "Recording started in " + absolute.string());
    context_->dispatcher->Publish(Batch(1));
    panel.PressRecordButton();
    EXPECT_EQ(FileCount(absolute / "frames_qpc"), 1u);
    EXPECT_TRUE(log.Contains("Started recording to folder: " + (absolute / "frames_qpc").string(),
                             spdlog::level::info));
    EXPECT_TRUE(fs::is_empty(root_ / "started-here"));

    // With no home folder to put it in, a relative folder is refused, not put in the working folder.
    unsetenv("HOME");
    panel.SetOutputFolder("elsewhere");
    panel.PressRecordButton();
    EXPECT_FALSE(panel.IsRecording());
    EXPECT_FALSE(panel.HasRecorder());
    EXPECT_EQ(state_.PendingToast()->text, "Failed to start recording");
    EXPECT_EQ(log.Count("Failed to start recording: The output folder elsewhere is relative", spdlog::level::err),
              1u);
    EXPECT_TRUE(fs::is_empty(root_ / "started-here"));
}

TEST_F(RecorderPanelTest, AFailingRecorderEndsTheRecordingAndIsLetGo) {
    ProgramLogCapture log;
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    testing::WriteText(root_ / "session" / "frames_qpc", "a file where the folder should be");
    panel.SetOutputFolder((root_ / "session").string());
    panel.PressRecordButton();
    ASSERT_TRUE(Eventually([&] { return !panel.IsRecording(); }));
    panel.Update();
    EXPECT_FALSE(panel.HasRecorder());
    EXPECT_EQ(state_.PendingToast()->text, "Recording failed");
    EXPECT_EQ(state_.PendingToast()->level, 3);
    EXPECT_EQ(log.Count("Failed to create output directory: ", spdlog::level::err), 1u);
    context_->dispatcher->Publish(Batch(1));  // no recorder left to queue it
}

TEST_F(RecorderPanelTest, StartingAndStoppingAtOnceNeverHangs) {
    RecorderPanel panel(context_, config_);
    state_.streaming = true;
    panel.SetOutputFolder((root_ / "quick").string());
    auto cycles = std::async(std::launch::async, [&] {
        for (int i = 0; i < 20; ++i) {
            panel.PressRecordButton();
            panel.StopRecording();  // often before the job has reached its loop
        }
    });
    ASSERT_EQ(cycles.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "a recording never stopped";
    EXPECT_FALSE(panel.HasRecorder());
}

TEST_F(RecorderPanelTest, LeavingWhileRecordingWritesWhatWasPublished) {
    {
        RecorderPanel panel(context_, config_);
        state_.streaming = true;
        panel.SetOutputFolder((root_ / "session").string());
        panel.PressRecordButton();
        for (uint32_t frame = 1; frame <= 5; ++frame) context_->dispatcher->Publish(Batch(frame));
    }
    EXPECT_EQ(FileCount(root_ / "session" / "frames_qpc"), 5u);
    context_->dispatcher->Publish(Batch(6));
}

TEST_F(RecorderPanelTest, DrawsAndTakesTheFolderFromTheDialog) {
    DialogAnswers answers(root_ / "picked");
    RecorderPanel panel(context_, config_);
    testing::HeadlessImGui gui;
    const auto draw = [&] { panel.DrawRecorderPanel(); };
    gui.Frame(draw);
    gui.Click(kFirstButton, draw);
    EXPECT_EQ(panel.OutputFolder(), (root_ / "picked").string());
    state_.streaming = true;
    gui.Frame(draw);
}

// ---------------------------------------------------------------------------------------
// Replay panels

class ReplayPanels : public testing::ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        lidar_.SetDispatcher(dispatcher_);
        camera_.SetDispatcher(dispatcher_);
        dispatcher_->Subscribe<AppAction>(&lidar_);
        dispatcher_->Subscribe<AppAction>(&camera_);
        dispatcher_->Subscribe<AppAction>(&actions_);
        dispatcher_->Subscribe<FrameData>(&frames_);
        dispatcher_->Subscribe<CameraData>(&images_);
    }
    void TearDown() override {
        dispatcher_->Unsubscribe<AppAction>(&lidar_);
        dispatcher_->Unsubscribe<AppAction>(&camera_);
        ScratchFolder::TearDown();
    }

    // A session of `frames` QPC frames and `images` camera images.
    fs::path Session(uint32_t frames, uint32_t images, uint8_t type = 0x60) {
        const fs::path session = root_ / "session";
        for (uint32_t i = 0; i < frames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%08u.qpc", i);
            WriteQpc(session / "frames_qpc" / name, type, 2, i);
        }
        fs::create_directories(session / "frames_rgb");
        for (uint32_t i = 0; i < images; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "image_%08u_%020u.jpg", i, 1000 + i);
            RgbImage(i, 1000 + i, 4, 2)->SaveAsJpeg(session / "frames_rgb" / name, 90, false);
        }
        return session;
    }

    // What the controller does with the replay actions: the other panel follows.
    void Relay() {
        for (const auto& action : actions_.Messages()) {
            if (relayed_.count(action.get())) continue;
            relayed_.insert(action.get());
            ReplayPanel* target = action->sender == &lidar_ ? &camera_ : action->sender == &camera_ ? &lidar_ : nullptr;
            if (!target) continue;
            if (action->Is(AppActionType::ReplayPlay)) target->Play();
            if (action->Is(AppActionType::ReplayPause)) target->Pause();
            if (action->Is(AppActionType::ReplayReset)) target->Reset();
            if (action->Is(AppActionType::ReplaySeek)) target->Seek(std::get<int32_t>(action->payload));
        }
    }

    std::vector<AppActionType> Kinds(const void* sender) const {
        std::vector<AppActionType> kinds;
        for (const auto& action : actions_.Messages()) {
            if (action->sender == sender) kinds.push_back(static_cast<AppActionType>(action->type));
        }
        return kinds;
    }

    std::shared_ptr<ObjectDispatcher> dispatcher_ = std::make_shared<ObjectDispatcher>();
    std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
    Collector<AppAction> actions_;
    Collector<FrameData> frames_;
    Collector<CameraData> images_;
    std::set<const AppAction*> relayed_;
    // After the collectors, so the panels' players are gone before what they publish to.
    ReplayPanel lidar_{0};
    ReplayPanel camera_{1};
};

TEST_F(ReplayPanels, ASessionLoadsInBothPanelsAndPlaysInStep) {
    const fs::path session = Session(4, 6);
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    EXPECT_EQ(Kinds(&lidar_), (std::vector<AppActionType>{AppActionType::SessionLoaded, AppActionType::ClearViews}));
    EXPECT_EQ(std::get<std::string>(actions_.Messages()[0]->payload), (session / "frames_rgb").string());
    camera_.Update(state_);  // the camera panel acts on its next draw
    ASSERT_NE(lidar_.Player(), nullptr);
    ASSERT_NE(camera_.Player(), nullptr);
    EXPECT_EQ(lidar_.Player()->FileCount(), 4);
    EXPECT_EQ(camera_.Player()->FileCount(), 6);
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 1 && images_.Count() == 1; }));

    const auto view = lidar_.Describe(*state_);
    EXPECT_EQ(view.frameText, "Frame 1 / 4");
    EXPECT_EQ(view.playPauseLabel, "Play");

    camera_.PressPlay();  // and the lidar panel follows through the controller
    Relay();
    lidar_.Update(state_);
    ASSERT_TRUE(Eventually([&] { return !lidar_.Player()->IsPlaying() && !camera_.Player()->IsPlaying(); }));
    EXPECT_EQ(frames_.Count(), 1u + 4);
    EXPECT_EQ(images_.Count(), 1u + 6);
    EXPECT_EQ(lidar_.Describe(*state_).frameText, "Frame 4 / 4");

    lidar_.MoveSlider(2);
    Relay();
    ASSERT_TRUE(Eventually([&] { return camera_.Player()->GetIndex() == 2 && images_.Count() == 8; }));
    EXPECT_EQ(images_.Messages().back()->imageFrameNumber, 2u);
    lidar_.PressReset();
    Relay();
    EXPECT_EQ(camera_.Player()->GetIndex(), 0);
    EXPECT_EQ(Kinds(&camera_), std::vector<AppActionType>{AppActionType::ReplayPlay});
}

TEST_F(ReplayPanels, ASessionWithoutCameraFolderEmptiesTheCameraPanel) {
    const fs::path session = Session(2, 3);
    camera_.SetFolder((session / "frames_rgb").string());
    camera_.LoadSession(state_);
    ASSERT_NE(camera_.Player(), nullptr);

    fs::remove_all(session / "frames_rgb");
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    EXPECT_EQ(Kinds(&lidar_).front(), AppActionType::SessionLoadFailed);
    camera_.Update(state_);
    EXPECT_EQ(camera_.Player(), nullptr);
}

TEST_F(ReplayPanels, TheCameraPanelRefusesAFolderWithoutImagesAndKeepsItsPlayer) {
    ProgramLogCapture log;
    const fs::path session = Session(2, 3);
    camera_.SetFolder(session.string());
    camera_.LoadSession(state_);
    OfflinePlayer* before = camera_.Player();
    ASSERT_NE(before, nullptr);
    // Another session's frames_qpc folder, with no camera images beside it.
    WriteQpc(root_ / "other" / "frames_qpc" / "frame_00000001.qpc", 0x60, 2, 1);
    camera_.SetFolder((root_ / "other" / "frames_qpc").string());
    camera_.LoadSession(state_);
    EXPECT_EQ(camera_.Player(), before);
    EXPECT_TRUE(log.Contains(
        "Selected folder does not contain RGB images. Camera replay mode requires a folder with RGB images.",
        spdlog::level::err));
    EXPECT_EQ(state_->PendingToast()->text, "Invalid folder for camera replay");
    EXPECT_EQ(state_->PendingToast()->level, 3);
}

TEST_F(ReplayPanels, EmptyAndMissingFoldersLoadNothing) {
    ProgramLogCapture log;
    fs::create_directories(root_ / "empty");
    lidar_.SetFolder((root_ / "empty").string());
    lidar_.LoadSession(state_);
    EXPECT_EQ(lidar_.Player(), nullptr);
    EXPECT_TRUE(log.Contains("No frames found in the selected folder.", spdlog::level::warn));
    EXPECT_EQ(state_->PendingToast()->text, "No frames found");
    EXPECT_EQ(state_->PendingToast()->level, 2);

    lidar_.SetFolder((root_ / "missing").string());
    lidar_.LoadSession(state_);
    EXPECT_EQ(lidar_.Player(), nullptr);
    EXPECT_EQ(state_->PendingToast()->text, "Failed to load session");
}

TEST_F(ReplayPanels, StreamingDropsBothPlayers) {
    const fs::path session = Session(2, 2);
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    camera_.Update(state_);
    ASSERT_NE(camera_.Player(), nullptr);
    state_->streaming = true;
    lidar_.Update(state_);
    camera_.Update(state_);
    EXPECT_EQ(lidar_.Player(), nullptr);
    EXPECT_EQ(camera_.Player(), nullptr);
    EXPECT_TRUE(lidar_.Folder().empty());
    EXPECT_TRUE(camera_.Folder().empty());
    const auto view = lidar_.Describe(*state_);
    EXPECT_FALSE(view.loadEnabled);
    EXPECT_EQ(view.hint, "Stop streaming to load a session");
    EXPECT_EQ(view.frameText, "Frame ID: -");
    EXPECT_EQ(view.playPauseLabel, "Play");  // nothing plays
}

// A conversion or colorization reads and writes files only: the session stays loaded (the
// views still show it), and loading another waits until the task has ended.
TEST_F(ReplayPanels, ABackgroundTaskLeavesTheSessionLoaded) {
    const fs::path session = Session(3, 2);
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    camera_.Update(state_);
    std::promise<void> release;
    state_->tasks[AppState::kProcessingTaskSlot] =
        std::async(std::launch::async, [future = release.get_future()]() mutable { future.wait(); });
    lidar_.Update(state_);
    camera_.Update(state_);
    EXPECT_NE(lidar_.Player(), nullptr);
    EXPECT_NE(camera_.Player(), nullptr);
    const auto view = lidar_.Describe(*state_);
    EXPECT_EQ(view.frameText, "Frame 1 / 3");
    EXPECT_EQ(view.playPauseLabel, "Play");
    EXPECT_FALSE(view.loadEnabled);
    EXPECT_EQ(view.hint, "Wait for stitching to finish");
    release.set_value();
    state_->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_TRUE(lidar_.Describe(*state_).loadEnabled);
}

TEST_F(ReplayPanels, ColouredFramesSwitchTheColourMapOnTheGuiThread) {
    const fs::path session = Session(2, 0, 0x66);
    fs::remove_all(session / "frames_rgb");
    state_->viewerConfig->view3d_colormap = ColormapFromName("Jet");
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 1; }));
    EXPECT_EQ(state_->viewerConfig->view3d_colormap, ColormapFromName("Jet"));  // not from the player's thread
    lidar_.Update(state_);
    EXPECT_EQ(state_->viewerConfig->view3d_colormap, ColormapFromName("Embedded"));
}

TEST_F(ReplayPanels, AFrameThatCannotBeReadIsSaidSoUnderItsNumber) {
    const fs::path session = Session(3, 0);
    testing::WriteBytes(session / "frames_qpc" / "frame_00000001.qpc", {1, 2, 3});
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 1; }));
    lidar_.MoveSlider(1);
    ASSERT_TRUE(Eventually([&] { return lidar_.Describe(*state_).frameText == "Frame 2 / 3 (could not be read)"; }))
        << lidar_.Describe(*state_).frameText;
    lidar_.MoveSlider(2);
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 2; }));
    EXPECT_EQ(lidar_.Describe(*state_).frameText, "Frame 3 / 3");
}

// However often a session is played, each frame that cannot be read is told once, and frames
// removed together in one line; a folder in which no frame can be read is refused at load in
// one line, and the camera panel is not sent off to load its images.
TEST_F(ReplayPanels, UnreadableFramesAreToldOnceAndAFolderOfThemIsRefused) {
    ProgramLogCapture log;
    const fs::path session = Session(9, 0);
    fs::remove_all(session / "frames_rgb");
    const fs::path frames = session / "frames_qpc";
    const fs::path empty = frames / "frame_00000001.qpc";
    const fs::path gone = frames / "frame_00000003.qpc";
    testing::WriteBytes(empty, {});
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    ASSERT_NE(lidar_.Player(), nullptr);
    // After the listing, before they are played: one on its own, and a run of three.
    for (const char* name : {"frame_00000003.qpc", "frame_00000005.qpc", "frame_00000006.qpc", "frame_00000007.qpc"}) {
        fs::remove(frames / name);
    }
    for (int round = 0; round < 3; ++round) {
        lidar_.PressPlay();
        ASSERT_TRUE(Eventually([&] { return !lidar_.Player()->IsPlaying(); }));
    }
    EXPECT_EQ(frames_.Count(), 1u + 3 * 4);  // 0, 2, 4 and 8
    for (const fs::path& path : {empty, gone}) {
        size_t told = 0;
        for (const auto& record : log.Records()) {
            told += record.level >= spdlog::level::warn && record.text.find(path.string()) != std::string::npos;
        }
        EXPECT_EQ(told, 1u) << path;
        EXPECT_EQ(log.Count("Failed to load frame: " + path.string(), spdlog::level::err), 1u) << path;
    }
    EXPECT_EQ(log.Count("Failed to load frames 6 to 8 of 9: " + (frames / "frame_00000005.qpc").string() +
                            " to frame_00000007.qpc are gone",
                        spdlog::level::err),
              1u);
    const auto warnings = [&](size_t from) {
        std::vector<std::string> told;
        const auto records = log.Records();
        for (size_t i = from; i < records.size(); ++i) {
            if (records[i].level >= spdlog::level::warn) told.push_back(records[i].text);
        }
        return told;
    };
    EXPECT_EQ(warnings(0).size(), 3u);

    const fs::path empties = root_ / "empties";
    for (int i = 0; i < 50; ++i) {
        testing::WriteBytes(empties / "frames_qpc" / ("frame_" + std::to_string(i) + ".qpc"), {});
    }
    fs::create_directories(empties / "frames_rgb");
    testing::RgbImage(1, 1000, 4, 2)->SaveAsJpeg(empties / "frames_rgb" / "image_00000001_00000000000000001000.jpg", 90,
                                                 false);
    const size_t before = log.Records().size();
    lidar_.SetFolder(empties.string());
    lidar_.LoadSession(state_);
    EXPECT_EQ(lidar_.Player(), nullptr);
    camera_.Update(state_);
    EXPECT_EQ(camera_.Player(), nullptr) << "the refused session's images were loaded";
    ASSERT_TRUE(state_->PendingToast().has_value());
    EXPECT_EQ(state_->PendingToast()->text, "Failed to load session");
    EXPECT_EQ(state_->PendingToast()->level, 3);
    EXPECT_EQ(Kinds(&lidar_).back(), AppActionType::ClearViews);
    EXPECT_EQ(Kinds(&lidar_).end()[-2], AppActionType::SessionLoadFailed);
    const std::vector<std::string> told = warnings(before);
    ASSERT_EQ(told.size(), 1u) << (told.empty() ? "nothing told" : told.back());
    EXPECT_EQ(told[0].rfind("Failed to load session: none of the 50 frames could be read (frame_0.qpc: ", 0), 0u)
        << told[0];
}

// A session folder removed or renamed while loaded is told once by each replay, which stops
// with a toast, however much is played or stepped after; back in its place, it plays again.
TEST_F(ReplayPanels, ASessionFolderGoneIsToldOnceAndStopsTheReplay) {
    ProgramLogCapture log;
    const fs::path session = Session(12, 12);
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    camera_.Update(state_);
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 1 && images_.Count() == 1; }));
    fs::rename(session, root_ / "moved");
    const auto stopped = [&] { return !lidar_.Player()->IsPlaying() && !camera_.Player()->IsPlaying(); };
    for (int round = 0; round < 2; ++round) {
        lidar_.PressPlay();
        Relay();
        ASSERT_TRUE(Eventually(stopped));
        for (ReplayPanel* panel : {&lidar_, &camera_}) {
            state_->ClearToast();
            panel->Update(state_);
            EXPECT_EQ(state_->PendingToast().has_value(), round == 0);
            if (round == 0 && state_->PendingToast()) {
                EXPECT_EQ(state_->PendingToast()->text, "Session folder gone: replay stopped");
                EXPECT_EQ(state_->PendingToast()->level, 3);
            }
        }
        lidar_.PressNext();
        camera_.PressNext();
    }
    std::multiset<std::string> told;  // the two players tell on their own threads
    for (const auto& record : log.Records()) {
        if (record.level >= spdlog::level::warn) told.insert(record.text);
    }
    const auto goneLine = [&](const char* folder) {
        return "Session folder gone: " + (session / folder).string() +
               " was removed or renamed after it was loaded; replay stopped";
    };
    EXPECT_EQ(told, (std::multiset<std::string>{goneLine("frames_qpc"), goneLine("frames_rgb")}));

    fs::rename(root_ / "moved", session);
    lidar_.PressNext();
    ASSERT_TRUE(Eventually([&] { return frames_.Count() == 2; }));
    lidar_.PressPlay();
    ASSERT_TRUE(Eventually(stopped));
    EXPECT_EQ(lidar_.Describe(*state_).frameText, "Frame 12 / 12");
}

TEST_F(ReplayPanels, UnloadTellsTheViews) {
    const fs::path session = Session(1, 1);
    lidar_.SetFolder(session.string());
    lidar_.LoadSession(state_);
    camera_.Update(state_);
    lidar_.Unload();
    camera_.Unload();
    EXPECT_EQ(Kinds(&lidar_).back(), AppActionType::ClearViews);
    ASSERT_EQ(Kinds(&camera_).back(), AppActionType::SetCameraViewVisible);
    EXPECT_FALSE(std::get<bool>(actions_.Messages().back()->payload));
    EXPECT_EQ(lidar_.Player(), nullptr);
}

TEST_F(ReplayPanels, DrawsAndLoadsTheSessionTheDialogPicks) {
    const fs::path session = Session(3, 0);
    DialogAnswers answers(session);
    testing::HeadlessImGui gui;
    const auto draw = [&] { lidar_.DrawReplayPanel(state_); };
    gui.Frame(draw);
    gui.Click(kFirstButton, draw);
    ASSERT_NE(lidar_.Player(), nullptr);
    EXPECT_EQ(lidar_.Player()->FileCount(), 3);
    EXPECT_EQ(lidar_.Folder(), session.string());
    gui.Frame(draw);
    EXPECT_FALSE(state_->replaying.load());
}

// ---------------------------------------------------------------------------------------
// Converter panel

class ConverterPanelTest : public testing::ScratchFolder {
protected:
    void Frames(uint32_t count, uint32_t broken = 0) {
        for (uint32_t i = 0; i < count; ++i) {
            const fs::path path = root_ / "in" / ("frame_" + std::to_string(1000 + i) + ".qpc");
            if (i < broken) {
                testing::WriteText(path, "broken");
            } else {
                WriteQpc(path, 0x60, 2, i);
            }
        }
    }

    std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(ConverterPanelTest, TheButtonNeedsBothFolders) {
    ConverterPanel panel;
    EXPECT_EQ(ConverterPanel::FormatLabels(), (std::array<std::string, 3>{"PLY", "PCD", "CSV"}));
    panel.SetInputFolder((root_ / "in").string());
    EXPECT_FALSE(panel.ButtonEnabled(*state_));
    panel.SetOutputFolder((root_ / "out").string());
    EXPECT_TRUE(panel.ButtonEnabled(*state_));
    EXPECT_STREQ(panel.ButtonLabel(), "Start conversion");
}

TEST_F(ConverterPanelTest, OutcomesAreToldAsTheyWere) {
    ProgramLogCapture log;
    RunConversion(state_, cancel_, root_ / "nowhere", root_ / "out", 0);
    EXPECT_TRUE(log.Contains("[Converter] Input path does not exist", spdlog::level::err));
    EXPECT_EQ(state_->PendingToast()->text, "Input path does not exist");
    EXPECT_FALSE(fs::exists(root_ / "out"));

    Frames(20);
    RunConversion(state_, cancel_, root_ / "in", root_ / "out", 0);
    EXPECT_EQ(state_->PendingToast()->text, "Conversion completed");
    EXPECT_EQ(state_->PendingToast()->level, 1);
    EXPECT_EQ(state_->ProgressText(), "Converting to PLY: 20/20");
    EXPECT_EQ(state_->progressFraction.load(), 1.0f);

    fs::remove_all(root_ / "in");
    Frames(20, 3);
    RunConversion(state_, cancel_, root_ / "in", root_ / "out", 2);
    EXPECT_EQ(state_->PendingToast()->text, "Conversion completed: 3 of 20 files failed");
    EXPECT_EQ(state_->PendingToast()->level, 2);

    fs::remove_all(root_ / "in");
    Frames(4, 4);
    RunConversion(state_, cancel_, root_ / "in", root_ / "out", 1);
    EXPECT_EQ(state_->PendingToast()->text, "Failed to convert data");
    EXPECT_TRUE(log.Contains("Failed to convert data: none of the 4 QPC files could be converted", spdlog::level::err));
    EXPECT_FALSE(log.Contains("[Converter] Conversion completed successfully", spdlog::level::info) &&
                 state_->PendingToast()->text == "Conversion completed");

    fs::remove_all(root_ / "in");
    fs::create_directories(root_ / "in");
    RunConversion(state_, cancel_, root_ / "in", root_ / "out", 1);
    EXPECT_TRUE(log.Contains("Failed to convert data: No QPC files found", spdlog::level::err));
}

TEST_F(ConverterPanelTest, ThePanelRunsTheConversionAsATaskAndCanStopIt) {
    Frames(400);
    ConverterPanel panel;
    panel.SetInputFolder((root_ / "in").string());
    panel.SetOutputFolder((root_ / "out").string());
    panel.SetFormatIndex(2);
    panel.PressButton(state_);
    ASSERT_TRUE(panel.ConversionRunning());
    EXPECT_STREQ(panel.ButtonLabel(), "Stop conversion");
    panel.PressButton(state_);  // stop
    EXPECT_EQ(state_->PendingToast()->text, "Conversion stop requested");
    panel.WaitForConversion();
    EXPECT_FALSE(panel.ConversionRunning());
    EXPECT_EQ(state_.use_count(), 1) << "the ended task still holds the AppState whose slot holds it";
    EXPECT_EQ(state_->PendingToast()->text, "Conversion stop requested");  // no "completed" after a stop
    EXPECT_LT(FileCount(root_ / "out" / "frames_csv"), 400u);

    panel.PressButton(state_);  // a fresh run is not stopped by the earlier request
    state_->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_EQ(FileCount(root_ / "out" / "frames_csv"), 400u);
    EXPECT_EQ(state_->PendingToast()->text, "Conversion completed");
}

// The colorizer panel shares the processing slot: its task is not this panel's to show or stop.
// A relative output folder is taken in the home folder when the run starts; the log names
// the absolute folder written.
TEST_F(ConverterPanelTest, ARelativeOutputFolderGoesUnderTheHomeFolder) {
    ProgramLogCapture log;
    testing::HomeAndWorkingFolder folders(root_ / "home", root_ / "started-here");
    Frames(3);
    ConverterPanel panel;
    panel.SetInputFolder((root_ / "in").string());
    panel.SetOutputFolder("converted");
    panel.PressButton(state_);
    panel.WaitForConversion();
    const fs::path written = root_ / "home" / "converted" / "frames_ply";
    EXPECT_EQ(FileCount(written), 3u);
    EXPECT_TRUE(log.Contains("[Converter] Writing to " + written.string(), spdlog::level::info));
    EXPECT_TRUE(fs::is_empty(root_ / "started-here"));
    EXPECT_EQ(state_->PendingToast()->text, "Conversion completed");
}

TEST_F(ConverterPanelTest, AnotherPanelsTaskIsNeitherShownNorStopped) {
    ConverterPanel panel;
    panel.SetInputFolder((root_ / "in").string());
    panel.SetOutputFolder((root_ / "out").string());
    std::promise<void> release;
    state_->tasks[AppState::kProcessingTaskSlot] =
        std::async(std::launch::async, [future = release.get_future()]() mutable { future.wait(); });
    EXPECT_FALSE(panel.ConversionRunning());
    EXPECT_STREQ(panel.ButtonLabel(), "Start conversion");
    EXPECT_FALSE(panel.ButtonEnabled(*state_));
    panel.PressButton(state_);
    EXPECT_FALSE(state_->PendingToast().has_value());
    EXPECT_EQ(state_->tasks[AppState::kProcessingTaskSlot].wait_for(std::chrono::seconds(0)),
              std::future_status::timeout);
    release.set_value();
    state_->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_TRUE(panel.ButtonEnabled(*state_));
}

TEST_F(ConverterPanelTest, DrawsInAHeadlessWindow) {
    DialogAnswers answers(root_ / "picked");
    ConverterPanel panel;
    testing::HeadlessImGui gui;
    const auto draw = [&] { panel.DrawConverterPanel(state_); };
    gui.Frame(draw);
    gui.Click(kFirstButton, draw);
    EXPECT_EQ(panel.InputFolder(), (root_ / "picked").string());
}

}  // namespace
}  // namespace orbel::studio::gui
