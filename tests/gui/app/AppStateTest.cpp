// AppState's flags, toast and task slots, the context that carries it, and
// TaskManager's kinds, names and waiting rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "ProgramLogCapture.h"
#include "app/AppContext.h"
#include "app/AppState.h"
#include "app/TaskManager.h"

namespace orbel::studio {
namespace {

using gui::AppState;
using namespace std::chrono_literals;

// A job that runs until released, so a test can look at it while it runs.
class Gate {
public:
    std::function<void()> Job() {
        return [this] {
            started_.set_value();
            released_.wait();
        };
    }
    void WaitStarted() { startedFuture_.wait(); }
    void Release() { release_.set_value(); }

private:
    std::promise<void> started_;
    std::future<void> startedFuture_ = started_.get_future();
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

TEST(AppStateTest, StartsClearedWithDefaultViewerConfigAndEmptyZones) {
    AppState state;
    EXPECT_FALSE(state.IsStreaming());
    EXPECT_FALSE(state.IsReplaying());
    EXPECT_FALSE(state.IsBusy());
    EXPECT_FALSE(state.connected);
    EXPECT_FALSE(state.cameraRunning);
    EXPECT_EQ(state.progressFraction, 0.0f);
    EXPECT_EQ(state.ProgressText(), "");
    EXPECT_FALSE(state.PendingToast().has_value());
    ASSERT_NE(state.viewerConfig, nullptr);
    EXPECT_EQ(state.viewerConfig->point_size, 2);
    ASSERT_NE(state.zoneEditorState, nullptr);
    EXPECT_TRUE(state.zoneEditorState->zones.empty());
    EXPECT_EQ(state.zoneEditorState->selectedZone, -1);
    for (std::size_t slot = 0; slot < AppState::kTaskSlotCount; ++slot) {
        EXPECT_FALSE(state.IsTaskRunning(slot));
    }
}

TEST(AppStateTest, InterfaceAnswersFromTheFlags) {
    AppState state;
    const IAppState& view = state;
    state.streaming = true;
    EXPECT_TRUE(view.IsStreaming());
    state.replaying = true;
    EXPECT_TRUE(view.IsReplaying());
    state.busy = true;
    EXPECT_TRUE(view.IsBusy());
}

TEST(AppStateTest, ANewToastReplacesTheOldOneWithItsFullTime) {
    AppState state;
    state.SetToast("Sensor started", 1);
    ASSERT_TRUE(state.AdvanceToast(4.0f).has_value());
    state.SetToast("Sensor stopped", 0);
    const auto shown = state.PendingToast();
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->text, "Sensor stopped");
    EXPECT_EQ(shown->level, 0);
    EXPECT_EQ(shown->elapsed, 0.0f);
    EXPECT_EQ(shown->duration, 5.0f);
}

TEST(AppStateTest, ToastExpiresAtItsDuration) {
    AppState state;
    state.SetToast("Sensor connection failed", 3);
    const auto during = state.AdvanceToast(4.9f);
    ASSERT_TRUE(during.has_value());
    EXPECT_FLOAT_EQ(during->elapsed, 4.9f);
    EXPECT_FALSE(state.AdvanceToast(0.1f).has_value());
    EXPECT_FALSE(state.PendingToast().has_value());
    EXPECT_FALSE(state.AdvanceToast(0.1f).has_value());
}

TEST(AppStateTest, ToastAndProgressTextAreSafeAcrossThreads) {
    AppState state;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            state.SetToast("toast " + std::to_string(i), i % 4);
            state.SetProgressText("progress " + std::to_string(i));
        }
    });
    for (int frame = 0; frame < 2000; ++frame) {
        const auto toast = state.AdvanceToast(0.016f);
        if (toast) {
            EXPECT_EQ(toast->text.rfind("toast ", 0), 0u);
        }
        const std::string text = state.ProgressText();
        EXPECT_TRUE(text.empty() || text.rfind("progress ", 0) == 0);
    }
    stop = true;
    writer.join();
}

TEST(AppStateTest, TaskSlotRunsUntilItsTaskEnds) {
    AppState state;
    Gate gate;
    state.tasks[AppState::kProcessingTaskSlot] = std::async(std::launch::async, gate.Job());
    gate.WaitStarted();
    EXPECT_TRUE(state.IsTaskRunning(AppState::kProcessingTaskSlot));
    EXPECT_FALSE(state.IsTaskRunning(AppState::kWatchedTaskSlot));
    EXPECT_FALSE(state.IsTaskRunning(99));
    gate.Release();
    state.tasks[AppState::kProcessingTaskSlot].wait();
    EXPECT_FALSE(state.IsTaskRunning(AppState::kProcessingTaskSlot));
}

TEST(AppContextTest, MakesItsThreeParts) {
    gui::AppContext context;
    EXPECT_NE(context.appState, nullptr);
    EXPECT_NE(context.taskManager, nullptr);
    EXPECT_NE(context.dispatcher, nullptr);
}

TEST(TaskManagerTest, KindNames) {
    const struct {
        int kind;
        const char* name;
    } cases[] = {{1, "recording"}, {2, "unknown"}, {3, "conversion"}, {4, "replay"}, {0, "unknown"}, {5, "unknown"}, {-1, "unknown"}};
    for (const auto& c : cases) {
        EXPECT_EQ(TaskTypeName(static_cast<TaskType>(c.kind)), c.name) << c.kind;
    }
}

TEST(TaskManagerTest, IsRunningFollowsTheTask) {
    TaskManager tasks;
    EXPECT_FALSE(tasks.IsRunning(TaskType::Recording));
    Gate gate;
    tasks.Launch(TaskType::Recording, gate.Job());
    gate.WaitStarted();
    EXPECT_TRUE(tasks.IsRunning(TaskType::Recording));
    EXPECT_FALSE(tasks.IsRunning(TaskType::Conversion));
    gate.Release();
    tasks.Wait(TaskType::Recording);
    EXPECT_FALSE(tasks.IsRunning(TaskType::Recording));
}

TEST(TaskManagerTest, KindsWithoutANameShareOneSlot) {
    TaskManager tasks;
    Gate first;
    tasks.Launch(TaskType::CameraRecording, first.Job());
    first.WaitStarted();
    EXPECT_TRUE(tasks.IsRunning(static_cast<TaskType>(5)));  // same key, "unknown"

    std::atomic<bool> secondRan{false};
    auto launching = std::async(std::launch::async, [&] {
        tasks.Launch(static_cast<TaskType>(5), [&] { secondRan = true; });
    });
    // The second launch waits for the first task before it starts its own.
    EXPECT_EQ(launching.wait_for(50ms), std::future_status::timeout);
    EXPECT_FALSE(secondRan);
    first.Release();
    launching.get();
    tasks.Wait(TaskType::CameraRecording);
    EXPECT_TRUE(secondRan);
}

TEST(TaskManagerTest, WaitWithNothingStoredReturnsAtOnce) {
    TaskManager tasks;
    EXPECT_NO_THROW(tasks.Wait(TaskType::Replay));
}

// A kind asked about before any launch, or waited for twice, has no live future; the
// manager must not call wait or get on it (that raises std::future_error).
TEST(TaskManagerTest, NeverWaitsOnAnInvalidFuture) {
    orbel::testing::ProgramLogCapture log;
    TaskManager tasks;
    EXPECT_FALSE(tasks.IsRunning(TaskType::Recording));
    EXPECT_NO_THROW(tasks.Wait(TaskType::Recording));

    tasks.Launch(TaskType::Recording, [] { throw std::runtime_error("disk full"); });
    EXPECT_NO_THROW(tasks.Wait(TaskType::Recording));
    EXPECT_NO_THROW(tasks.Wait(TaskType::Recording));
    EXPECT_FALSE(tasks.IsRunning(TaskType::Recording));
    EXPECT_NO_THROW(tasks.Launch(TaskType::Recording, [] {}));
    EXPECT_NO_THROW(tasks.Wait(TaskType::Recording));
    // The job's failure is reported once, not lost and not repeated.
    EXPECT_EQ(log.Count("Background task \"recording\" failed: disk full", spdlog::level::err), 1u);
}

TEST(TaskManagerTest, ReplacedTaskIsFinishedAndItsFailureReported) {
    orbel::testing::ProgramLogCapture log;
    TaskManager tasks;
    tasks.Launch(TaskType::Conversion, [] { throw std::runtime_error("bad frame"); });
    tasks.Launch(TaskType::Conversion, [] {});
    tasks.Wait(TaskType::Conversion);
    EXPECT_EQ(log.Count("Background task \"conversion\" failed: bad frame", spdlog::level::err), 1u);
}

}  // namespace
}  // namespace orbel::studio
