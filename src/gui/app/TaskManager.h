// TaskManager: background jobs by kind, each started with std::async; one future per
// kind name, the one last launched under it. Used for the two recording jobs.
//
// Contract: every call may come from any thread and holds the manager's mutex for its
// whole length; Wait holds it while the task runs, and Launch holds it while an earlier
// task of the same name finishes, so a job must never call back into its TaskManager.
// A job's escaped exception is logged once, when the task is waited for or replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <unordered_map>

namespace orbel::studio {

enum class TaskType : int32_t {
    Recording = 1,        // "recording": line-cloud recording
    CameraRecording = 2,  // camera recording; has no name of its own ("unknown")
    Conversion = 3,       // "conversion"; reserved
    Replay = 4,           // "replay"; reserved
};

// The kind's key: "recording", "conversion", "replay", and "unknown" for every other
// kind, so kinds without a name of their own share one slot.
std::string TaskTypeName(TaskType kind);

class TaskManager {
public:
    TaskManager();
    TaskManager(const TaskManager&) = delete;
    TaskManager& operator=(const TaskManager&) = delete;
    // Waits for every task still running and reports what they threw.
    ~TaskManager();

    // Starts the job on its own thread; first waits for the task stored under the same
    // name, if it still runs. Throws std::system_error when no thread can be started.
    void Launch(TaskType kind, std::function<void()> job);

    // True while the task stored under the kind's name has not finished.
    bool IsRunning(TaskType kind);

    // Waits for the task stored under the kind's name; returns at once when none is.
    void Wait(TaskType kind);

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::future<void>> tasks_;
};

}  // namespace orbel::studio
