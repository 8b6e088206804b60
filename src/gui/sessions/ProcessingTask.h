// ProcessingTask: one panel's background task in AppState's processing slot, the slot that
// the converter and colorizer panels share. It tells the panel whether its own task runs
// (not merely whether the slot is busy: the other panel's task may hold it) and whether the
// other panel's task holds the slot, so each panel shows and stops only what it started.
//
// Contract: GUI thread only, except the job, which runs on its own thread (std::async). The
// job is released on that thread before the task reports that it has ended, so what it
// captured (the AppState whose slot holds the task's future, say) is never kept alive by the
// future; an exception that leaves the job is logged there. Wait and the destructor return
// once the job has ended and been released.
#pragma once

#include <functional>
#include <future>

#include "app/AppState.h"

namespace orbel::studio::gui {

class ProcessingTask {
public:
    ProcessingTask() = default;
    // Waits for a job that still runs; the owner asks it to stop first.
    ~ProcessingTask() { Wait(); }
    ProcessingTask(const ProcessingTask&) = delete;
    ProcessingTask& operator=(const ProcessingTask&) = delete;

    // This owner's job has been launched and has not ended.
    bool Running() const;
    // The slot holds a task that runs and is not this owner's.
    bool SlotTakenByOther(const AppState& state) const;
    // Starts `job` on a new thread and stores its future in the state's processing slot.
    // The slot must not hold a running task. Throws what std::async throws.
    void Launch(AppState& state, std::function<void()> job);
    void Wait() const;

private:
    std::shared_future<void> finished_;  // ready once the last job ended and was released
};

}  // namespace orbel::studio::gui
