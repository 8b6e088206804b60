// TaskManager: futures are only waited for while valid, and a finished task's result is
// collected at most once, so neither a kind that was never launched nor one that was
// already waited for can raise std::future_error.
#include "app/TaskManager.h"

#include <chrono>
#include <exception>
#include <utility>

#include "app/Logging.h"

namespace orbel::studio {
namespace {

constexpr int kLevelError = 4;

// Waits for the task and reports what it threw; the future is spent afterwards.
void Finish(const std::string& name, std::future<void>& task) {
    if (!task.valid()) {
        return;
    }
    try {
        task.get();
    } catch (const std::exception& e) {
        Log("Background task \"" + name + "\" failed: " + e.what(), kLevelError);
    } catch (...) {
        Log("Background task \"" + name + "\" failed with an unknown exception", kLevelError);
    }
}

}  // namespace

std::string TaskTypeName(TaskType kind) {
    switch (kind) {
        case TaskType::Recording: return "recording";
        case TaskType::Conversion: return "conversion";
        case TaskType::Replay: return "replay";
        default: return "unknown";
    }
}

TaskManager::TaskManager() { tasks_.max_load_factor(1.0f); }

TaskManager::~TaskManager() {
    for (auto& [name, task] : tasks_) {
        Finish(name, task);
    }
}

void TaskManager::Launch(TaskType kind, std::function<void()> job) {
    const std::string name = TaskTypeName(kind);
    std::lock_guard lock(mutex_);
    const auto found = tasks_.find(name);
    if (found != tasks_.end()) {
        Finish(name, found->second);
    }
    tasks_[name] = std::async(std::launch::async, std::move(job));
}

bool TaskManager::IsRunning(TaskType kind) {
    const std::string name = TaskTypeName(kind);
    std::lock_guard lock(mutex_);
    const auto found = tasks_.find(name);
    if (found == tasks_.end() || !found->second.valid()) {
        return false;
    }
    return found->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void TaskManager::Wait(TaskType kind) {
    const std::string name = TaskTypeName(kind);
    std::lock_guard lock(mutex_);
    const auto found = tasks_.find(name);
    if (found != tasks_.end()) {
        Finish(name, found->second);
        tasks_.erase(found);
    }
}

}  // namespace orbel::studio
