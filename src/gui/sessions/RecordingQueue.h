// RecordingQueue<T>: the hand-over between a recorder's Consume (any publisher's thread)
// and its write loop (the recording task's thread), with the loop's life: a stop request
// that holds even when it comes before the loop starts, the loop's failure, and a wait for
// an active loop to finish its queue.
//
// Contract: every member locks the queue's one mutex and releases it before returning;
// nothing is written to disk under it. The loop (Run, or by hand) calls BeginRun once,
// Next until it returns none with StopRequested true (or until it fails), drains with
// TakeAll, then EndRun. Stop-side callers use RequestStop and WaitUntilRunEnded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "app/FileHelpers.h"
#include "app/Logging.h"

namespace orbel::studio {

template <typename T>
class RecordingQueue {
public:
    static constexpr std::chrono::milliseconds kWait{50};  // how long Run waits for an item at a time

    // A recorder's write loop, on the recording task's thread: creates `folder` with its
    // parents (when that fails, `folderFailed` gets the reason and the run ends), logs
    // "Started recording to folder: <folder>", then hands each item to `write` until a stop,
    // then the items still queued; `write` returns false when the recording cannot go on.
    // True when the run went through to its end.
    template <typename Write, typename FolderFailed>
    bool Run(const std::filesystem::path& folder, Write write, FolderFailed folderFailed) {
        const bool started = BeginRun();
        struct Ending {
            RecordingQueue& queue;
            ~Ending() { queue.EndRun(); }
        } ending{*this};
        try {
            EnsureDirectory(folder);
        } catch (const std::exception& e) {
            folderFailed(std::string(e.what()));
            return false;
        }
        Log("Started recording to folder: " + folder.string(), log_level::kInfo);
        if (started) {
            while (!StopRequested()) {
                if (auto item = Next(kWait); item && !write(*item)) {
                    return false;
                }
            }
        }
        // Stopped: what was published before the stop is written before Run returns.
        for (auto& item : TakeAll()) {
            if (!write(*item)) {
                return false;
            }
        }
        return true;
    }

    // Appends the item unless the recording failed. With a cap, the oldest items go first
    // so that at most `cap` wait. Returns how many items were dropped (the new one counts
    // when the recording failed).
    size_t Push(std::shared_ptr<T> item, size_t cap = 0) {
        size_t dropped = 0;
        {
            std::lock_guard lock(mutex_);
            if (failure_) {
                return 1;
            }
            if (cap > 0) {
                while (items_.size() >= cap) {
                    items_.pop_front();
                    ++dropped;
                }
            }
            items_.push_back(std::move(item));
        }
        changed_.notify_all();
        return dropped;
    }

    // Marks the loop active; false when a stop was requested before it began.
    bool BeginRun() {
        std::lock_guard lock(mutex_);
        running_ = true;
        return !stopRequested_;
    }

    // The oldest item, waiting at most `wait` for one; none when there is none by then or
    // a stop was requested.
    std::shared_ptr<T> Next(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return !items_.empty() || stopRequested_; });
        if (items_.empty() || stopRequested_) {
            return nullptr;
        }
        std::shared_ptr<T> item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    std::deque<std::shared_ptr<T>> TakeAll() {
        std::lock_guard lock(mutex_);
        return std::exchange(items_, {});
    }

    bool StopRequested() const {
        std::lock_guard lock(mutex_);
        return stopRequested_;
    }

    // Records why the recording ended; later pushes are refused. Returns how many queued
    // items were dropped with it (none are written any more).
    size_t Fail(std::string reason) {
        std::deque<std::shared_ptr<T>> dropped;
        {
            std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::move(reason);
            dropped.swap(items_);
        }
        return dropped.size();
    }

    std::optional<std::string> Failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

    void EndRun() {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        changed_.notify_all();
    }

    // Returns whether the loop was running.
    bool RequestStop() {
        bool wasRunning = false;
        {
            std::lock_guard lock(mutex_);
            wasRunning = running_;
            stopRequested_ = true;
        }
        changed_.notify_all();
        return wasRunning;
    }

    // Waits until no loop is active: an active loop has written its queue by then.
    void WaitUntilRunEnded() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !running_; });
    }

    bool Running() const {
        std::lock_guard lock(mutex_);
        return running_;
    }

    size_t Size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<T>> items_;
    bool running_ = false;
    bool stopRequested_ = false;
    std::optional<std::string> failure_;
};

}  // namespace orbel::studio
