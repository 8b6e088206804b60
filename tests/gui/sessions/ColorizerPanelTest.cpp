// The colorizer panel: when its button can be pressed and what it reads, the pickers and
// their dialogs, a run that is stopped, a run that fails at once, what the end of a run says
// (files without time stamps skipped), and the progress text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <functional>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/ColorizationSession.h"
#include "platform/FileDialog.h"
#include "sessions/ColorizerPanel.h"
#include "support/HeadlessImGui.h"
#include "support/Threads.h"

namespace {

using orbel::studio::gui::AppState;
using orbel::studio::gui::ColorizerPanel;
using orbel::studio::platform::DialogFilter;
using orbel::studio::platform::DialogResult;
namespace fs = std::filesystem;

// Answers every dialog with one path and remembers what was asked.
class ScriptedDialogs : public orbel::studio::platform::IFileDialog {
public:
    explicit ScriptedDialogs(fs::path answer) : answer_(std::move(answer)) {}
    DialogResult OpenFile(const std::vector<DialogFilter>& filters, const fs::path& start, fs::path& chosen) override {
        calls.push_back("open");
        lastFilters = filters;
        lastStart = start;
        chosen = answer_;
        return DialogResult::Okay;
    }
    DialogResult PickFolder(const fs::path& start, fs::path& chosen) override {
        calls.push_back("folder");
        lastStart = start;
        chosen = answer_;
        return DialogResult::Okay;
    }
    std::vector<std::string> calls;
    std::vector<DialogFilter> lastFilters;
    fs::path lastStart;

private:
    fs::path answer_;
};

class ColorizerPanelTest : public orbel::testing::ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        auto scripted = std::make_unique<ScriptedDialogs>(root_ / "chosen");
        dialogs = scripted.get();
        previous = orbel::studio::platform::ReplaceFileDialogs(std::move(scripted));
    }
    void TearDown() override {
        if (appState->tasks[AppState::kProcessingTaskSlot].valid()) appState->tasks[AppState::kProcessingTaskSlot].wait();
        orbel::studio::platform::ReplaceFileDialogs(std::move(previous));
        ScratchFolder::TearDown();
    }
    static void Fill(ColorizerPanel& panel, ColorizerPanel::Field field, const std::string& text) {
        std::strncpy(panel.Buffer(field), text.c_str(), ColorizerPanel::kBufferSize - 1);
    }
    // Every field from the session's own folders and QEXT file.
    static void FillFrom(ColorizerPanel& panel, const orbel::testing::ColorizationSession& session) {
        Fill(panel, ColorizerPanel::kPointCloudFolder, session.clouds.string());
        Fill(panel, ColorizerPanel::kImageFolder, session.images.string());
        Fill(panel, ColorizerPanel::kQextFile, session.qext.string());
        Fill(panel, ColorizerPanel::kOutputFolder, session.output.string());
    }
    std::string Toast() const {
        const auto toast = appState->PendingToast();
        return toast ? toast->text : "";
    }

    orbel::testing::ProgramLogCapture log;
    std::shared_ptr<AppState> appState = std::make_shared<AppState>();
    ScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<orbel::studio::platform::IFileDialog> previous;
};

TEST_F(ColorizerPanelTest, ButtonNeedsEveryFieldButTheSyncFile) {
    ColorizerPanel panel;
    EXPECT_FALSE(panel.ButtonEnabled(*appState));
    for (auto field : {ColorizerPanel::kPointCloudFolder, ColorizerPanel::kImageFolder, ColorizerPanel::kQextFile,
                       ColorizerPanel::kOutputFolder}) {
        Fill(panel, field, "x");
    }
    EXPECT_TRUE(panel.ButtonEnabled(*appState));
    EXPECT_STREQ(panel.ButtonLabel(), "Start colorization");
    for (auto missing : {ColorizerPanel::kPointCloudFolder, ColorizerPanel::kImageFolder, ColorizerPanel::kQextFile,
                         ColorizerPanel::kOutputFolder}) {
        ColorizerPanel partial;
        for (auto field : {ColorizerPanel::kPointCloudFolder, ColorizerPanel::kImageFolder, ColorizerPanel::kQextFile,
                           ColorizerPanel::kOutputFolder, ColorizerPanel::kSyncFile}) {
            if (field != missing) Fill(partial, field, "x");
        }
        EXPECT_FALSE(partial.ButtonEnabled(*appState)) << missing;
    }
    // Another panel's task in the shared slot: nothing can start (its future would be waited for).
    std::promise<void> release;
    appState->tasks[AppState::kProcessingTaskSlot] =
        std::async(std::launch::async, [future = release.get_future()]() mutable { future.wait(); });
    EXPECT_FALSE(panel.ButtonEnabled(*appState));
    EXPECT_STREQ(panel.ButtonLabel(), "Start colorization");
    release.set_value();
}

// The pickers, in the order they are drawn, and what each dialog is asked for.
TEST_F(ColorizerPanelTest, PickersFillTheirFieldsFromTheDialogs) {
    orbel::testing::HeadlessImGui gui;
    ColorizerPanel panel;
    ImVec2 origin;
    const auto draw = [&] {
        origin = ImGui::GetCursorScreenPos();
        panel.DrawColorizerPanel(appState);
    };
    gui.Frame(draw);
    const ImGuiStyle& style = ImGui::GetStyle();
    const float rowHeight = 2 * (ImGui::GetFrameHeight() + style.ItemSpacing.y) + 8.0f + style.ItemSpacing.y;
    const struct {
        ColorizerPanel::Field field;
        const char* dialog;
    } rows[] = {{ColorizerPanel::kPointCloudFolder, "folder"},
                {ColorizerPanel::kImageFolder, "folder"},
                {ColorizerPanel::kQextFile, "open"},
                {ColorizerPanel::kOutputFolder, "folder"},
                {ColorizerPanel::kSyncFile, "open"}};
    for (size_t row = 0; row < std::size(rows); ++row) {
        dialogs->calls.clear();
        const std::string typed = (root_ / ("typed" + std::to_string(row))).string();
        Fill(panel, rows[row].field, typed);
        gui.Click(ImVec2(origin.x + 10.0f, origin.y + row * rowHeight + ImGui::GetFrameHeight() / 2), draw);
        EXPECT_EQ(dialogs->calls, std::vector<std::string>{rows[row].dialog}) << "row " << row;
        EXPECT_EQ(dialogs->lastStart, fs::path(typed)) << "row " << row << ": the dialog opens where the field points";
        EXPECT_EQ(std::string(panel.Buffer(rows[row].field)), (root_ / "chosen").string()) << "row " << row;
        if (rows[row].field == ColorizerPanel::kQextFile) {
            ASSERT_EQ(dialogs->lastFilters.size(), 1u);
            EXPECT_EQ(dialogs->lastFilters[0].name, "QEXT");
            EXPECT_EQ(dialogs->lastFilters[0].extensions, "qext");
        }
        if (rows[row].field == ColorizerPanel::kSyncFile) {
            EXPECT_TRUE(dialogs->lastFilters.empty());
        }
    }
}

// A run held inside its first image decode: the panel shows it running, its pickers do
// nothing, Stop asks it to end, and no "Colorization completed" follows.
TEST_F(ColorizerPanelTest, StoppedRunShowsNoCompletion) {
    orbel::testing::ColorizationSession session(root_);
    session.AddFrame(1, 1'000'000);
    session.AddImage(1, 1'000'000, 60);

    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    ColorizerPanel panel([&] {
        return std::make_shared<orbel::studio::ColorizerSDK>([&](const fs::path& path) {
            std::unique_lock lock(mutex);
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
            return orbel::studio::LoadCameraImage(path);
        });
    });
    FillFrom(panel, session);

    panel.PressButton(appState);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return entered; }));
    }
    EXPECT_TRUE(panel.Running());
    EXPECT_STREQ(panel.ButtonLabel(), "Stop colorization");
    EXPECT_TRUE(panel.ButtonEnabled(*appState));

    orbel::testing::HeadlessImGui gui;
    ImVec2 origin;
    const auto draw = [&] {
        origin = ImGui::GetCursorScreenPos();
        panel.DrawColorizerPanel(appState);
    };
    gui.Frame(draw);
    gui.Click(ImVec2(origin.x + 10.0f, origin.y + ImGui::GetFrameHeight() / 2), draw);
    EXPECT_TRUE(dialogs->calls.empty()) << "a picker answered while the run went on";

    panel.PressButton(appState);
    EXPECT_EQ(Toast(), "Colorization stop requested");
    EXPECT_EQ(appState->PendingToast()->level, 0);
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    appState->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_TRUE(orbel::testing::Eventually([&] { return !panel.Running(); }));
    EXPECT_EQ(Toast(), "Colorization stop requested");
    EXPECT_STREQ(panel.ButtonLabel(), "Start colorization");
}

// The panel going while its run is held: its destructor asks the run to stop and returns only
// once the task has ended, so the task never ends as the AppState's last owner.
TEST_F(ColorizerPanelTest, PanelGoingWaitsForItsRun) {
    orbel::testing::ColorizationSession session(root_);
    session.AddFrame(1, 1'000'000);
    session.AddImage(1, 1'000'000, 60);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto panel = std::make_unique<ColorizerPanel>([&] {
        return std::make_shared<orbel::studio::ColorizerSDK>([&, released](const fs::path& path) {
            entered.set_value();
            released.wait();
            return orbel::studio::LoadCameraImage(path);
        });
    });
    Fill(*panel, ColorizerPanel::kPointCloudFolder, session.clouds.string());
    Fill(*panel, ColorizerPanel::kImageFolder, session.images.string());
    Fill(*panel, ColorizerPanel::kQextFile, session.qext.string());
    Fill(*panel, ColorizerPanel::kOutputFolder, session.output.string());
    panel->PressButton(appState);
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);

    std::atomic<bool> destroyed{false};
    std::thread goes([&] {
        panel.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(destroyed) << "the panel went while its run was held";
    release.set_value();
    goes.join();
    EXPECT_EQ(appState->tasks[AppState::kProcessingTaskSlot].wait_for(std::chrono::seconds(5)),
              std::future_status::ready);
    EXPECT_NE(Toast(), "Colorization completed");  // a stopped run says nothing
    EXPECT_EQ(appState.use_count(), 1);           // the task let go of the AppState
}

// A run whose point-cloud folder does not exist ends at once; it is told as a failure.
TEST_F(ColorizerPanelTest, RunThatCannotStartIsToldAsAFailure) {
    ColorizerPanel panel;
    Fill(panel, ColorizerPanel::kPointCloudFolder, (root_ / "missing").string());
    Fill(panel, ColorizerPanel::kImageFolder, root_.string());
    Fill(panel, ColorizerPanel::kQextFile, (root_ / "a.qext").string());
    Fill(panel, ColorizerPanel::kOutputFolder, (root_ / "out").string());
    panel.PressButton(appState);
    appState->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_TRUE(log.Contains("[Colorizer] Point cloud folder not found", spdlog::level::err));
    EXPECT_EQ(Toast(), "Colorization failed: Point cloud folder not found");
    EXPECT_EQ(appState->PendingToast()->level, 3);
}

// A FIFO chosen as the QEXT file is refused before it is opened: the run ends at once and is
// told as a failure, where opening it would have waited for a writer for ever.
TEST_F(ColorizerPanelTest, QextFileThatIsAFifoFailsTheRunWithoutWaiting) {
    orbel::testing::ColorizationSession session(root_);
    session.AddFrame(1, 1'000'000);
    session.AddImage(1, 1'000'000, 60);
    const fs::path fifo = root_ / "calibration.qext";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ColorizerPanel panel;
    Fill(panel, ColorizerPanel::kPointCloudFolder, session.clouds.string());
    Fill(panel, ColorizerPanel::kImageFolder, session.images.string());
    Fill(panel, ColorizerPanel::kQextFile, fifo.string());
    Fill(panel, ColorizerPanel::kOutputFolder, session.output.string());
    panel.PressButton(appState);
    if (appState->tasks[AppState::kProcessingTaskSlot].wait_for(std::chrono::seconds(60)) !=
        std::future_status::ready) {
        // A writer that comes and goes lets the waiting open return, so the test can end.
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        FAIL() << "the run waits on the FIFO";
    }
    EXPECT_TRUE(log.Contains("[Colorizer] Invalid QEXT file: Cannot open qext file", spdlog::level::err));
    EXPECT_EQ(Toast(), "Colorization failed: Invalid QEXT file: Cannot open qext file");
}

TEST_F(ColorizerPanelTest, CompletedRunSaysSoAndReportsProgress) {
    orbel::testing::ColorizationSession session(root_);
    session.AddFrame(1, 1'000'000);
    session.AddImage(1, 1'000'000, 60);
    ColorizerPanel panel;
    FillFrom(panel, session);
    panel.PressButton(appState);
    appState->tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_EQ(Toast(), "Colorization completed: 1 frame coloured");
    EXPECT_EQ(appState->PendingToast()->level, 1);
    EXPECT_EQ(appState->ProgressText(), "Colorizing 100/100");
    EXPECT_FLOAT_EQ(appState->progressFraction.load(), 1.0f);
}

// A relative output folder is taken in the home folder when the run starts, not in the
// folder the program was started in; the log names the absolute folder written.
TEST_F(ColorizerPanelTest, RelativeOutputFolderGoesUnderTheHomeFolder) {
    orbel::testing::ColorizationSession session(root_);
    session.AddFrame(1, 1'000'000);
    session.AddImage(1, 1'000'000, 60);
    orbel::testing::HomeAndWorkingFolder folders(root_ / "home", root_ / "started-here");
    ColorizerPanel panel;
    Fill(panel, ColorizerPanel::kPointCloudFolder, session.clouds.string());
    Fill(panel, ColorizerPanel::kImageFolder, session.images.string());
    Fill(panel, ColorizerPanel::kQextFile, session.qext.string());
    Fill(panel, ColorizerPanel::kOutputFolder, "coloured");
    panel.PressButton(appState);
    appState->tasks[AppState::kProcessingTaskSlot].wait();
    const fs::path written = root_ / "home" / "coloured";
    EXPECT_EQ(Toast(), "Colorization completed: 1 frame coloured");
    EXPECT_TRUE(fs::exists(written / orbel::testing::ColorizationSession::FrameName(1)));
    EXPECT_TRUE(log.Contains("[Colorizer] Writing to " + written.string(), spdlog::level::info));
    EXPECT_TRUE(fs::is_empty(root_ / "started-here"));
}

// Images whose names hold no time stamp (a holiday photo, a name cut short) and frames
// without one are skipped, named in one line per kind with their count, and the rest is
// coloured; the toast says what the run coloured and skipped. A run left with nothing to
// colour says why in its toast.
TEST_F(ColorizerPanelTest, FilesWithoutATimeStampAreSkippedAndTheEndSaysSo) {
    using orbel::testing::ColorizationSession;
    const struct {
        const char* name;
        std::function<void(ColorizationSession&)> prepare;
        std::vector<std::string> skipped;  // the lines naming what was skipped, after "(in <folder>): "
        std::string toast;
        int level;
        size_t outputs;
    } cases[] = {
        {"some usable",
         [](ColorizationSession& s) {
             for (uint32_t f = 1; f <= 3; ++f) {
                 s.AddFrame(f, 1'000'000 * f);
                 s.AddImage(f, 1'000'000 * f, 60);
             }
             s.AddImage(40, 0, 90, "holiday.jpg");
             s.AddImage(42, 0, 90, "image_00000042_notime.jpg");
             s.AddFrame(9, 0);
         },
         {"Skipped 2 images without a time stamp in their names (in {images}): holiday.jpg, "
          "image_00000042_notime.jpg",
          "Skipped 1 frame without a time stamp (in {clouds}): frame_00000009.qpc"},
         "Colorization completed: 3 frames coloured, 1 frame skipped, 2 images skipped",
         1,
         3},
        {"none usable",
         [](ColorizationSession& s) {
             s.AddFrame(1, 1'000'000);
             for (int i = 0; i < 12; ++i) s.AddImage(i, 0, 90, fmt::format("photo_{:02}.jpg", i));
         },
         {"Skipped 12 images without a time stamp in their names (in {images}): photo_00.jpg, photo_01.jpg, "
          "photo_02.jpg, photo_03.jpg, photo_04.jpg, photo_05.jpg, photo_06.jpg, photo_07.jpg, photo_08.jpg, "
          "photo_09.jpg, and 2 more"},
         "Colorization failed: No valid images found: 12 images without a time stamp in their names",
         3,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "session");
        ColorizationSession session(root_ / "session");
        c.prepare(session);
        orbel::testing::ProgramLogCapture runLog;
        ColorizerPanel panel;
        FillFrom(panel, session);
        panel.PressButton(appState);
        appState->tasks[AppState::kProcessingTaskSlot].wait();
        EXPECT_EQ(Toast(), c.toast);
        EXPECT_EQ(appState->PendingToast()->level, c.level);
        EXPECT_EQ(runLog.Count("[Colorizer] Skipped ", spdlog::level::warn), c.skipped.size());
        for (const std::string& line : c.skipped) {
            const std::string expected = fmt::format(fmt::runtime("[Colorizer] " + line),
                                                     fmt::arg("images", session.images.string()),
                                                     fmt::arg("clouds", session.clouds.string()));
            EXPECT_TRUE(runLog.Contains(expected, spdlog::level::warn)) << expected;
        }
        std::error_code error;
        const auto written = std::distance(fs::directory_iterator(session.output, error), fs::directory_iterator());
        EXPECT_EQ(static_cast<size_t>(written), c.outputs);
    }
}

TEST(ColorizationProgressText, ReportsPercentages) {
    AppState state;
    orbel::studio::gui::ReportColorizationProgress(state, 42, 100);
    EXPECT_FLOAT_EQ(state.progressFraction.load(), 0.42f);
    EXPECT_EQ(state.ProgressText(), "Colorizing 42/100");
    orbel::studio::gui::ReportColorizationProgress(state, 5, 0);  // nothing for a total of 0
    EXPECT_EQ(state.ProgressText(), "Colorizing 42/100");
}

}  // namespace
