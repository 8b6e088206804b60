// A panel's own task in the shared processing slot: launch, own state, release of the job.
#include "sessions/ProcessingTask.h"

#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "app/Logging.h"

namespace orbel::studio::gui {

bool ProcessingTask::Running() const {
    return finished_.valid() && finished_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

bool ProcessingTask::SlotTakenByOther(const AppState& state) const {
    return state.processingTaskOwner != this && state.IsTaskRunning(AppState::kProcessingTaskSlot);
}

void ProcessingTask::Launch(AppState& state, std::function<void()> job) {
    auto finished = std::make_shared<std::promise<void>>();
    std::shared_future<void> future = finished->get_future().share();
    // The task's callable lives as long as the future in the slot: the job is moved out and
    // dropped on the task's thread, and only then is the end told.
    auto task = [job = std::move(job), finished]() mutable {
        struct Finished {
            std::promise<void>& promise;
            ~Finished() { promise.set_value(); }
        } signal{*finished};
        std::function<void()> run;
        run.swap(job);
        try {
            run();
        } catch (const std::exception& e) {
            Log(std::string("[Task] ") + e.what(), log_level::kError);
        } catch (...) {
            Log("[Task] The background task failed", log_level::kError);
        }
    };
    state.tasks[AppState::kProcessingTaskSlot] = std::async(std::launch::async, std::move(task));
    state.processingTaskOwner = this;
    finished_ = std::move(future);
}

void ProcessingTask::Wait() const {
    if (finished_.valid()) {
        finished_.wait();
    }
}

}  // namespace orbel::studio::gui
