// ThreadSafeQueue<T>: the message queue of the panels, the controller and the workers:
// shared pointers in arrival order under one mutex, with a condition variable for
// workers that wait. It has no capacity of its own; each consumer caps it in Consume,
// most through PushBounded.
//
// Contract: every operation locks the queue's own mutex and releases it before
// returning, so callers never hold two queue mutexes. A worker that waits does
// `auto lock = queue.Lock(); if (queue.WaitUntil(lock, deadline)) item = queue.PopLocked(lock);`
// and lets the lock go before it handles the item.
#pragma once

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace orbel::studio {

template <typename T>
class ThreadSafeQueue {
public:
    ThreadSafeQueue() = default;
    ThreadSafeQueue(const ThreadSafeQueue&) = delete;
    ThreadSafeQueue& operator=(const ThreadSafeQueue&) = delete;

    void Push(std::shared_ptr<T> item) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
        }
        changed_.notify_one();
    }

    // Pushes the item and then drops the oldest messages until at most `maxItems` wait, in
    // one locked step (a size check, a pop and a push apart could each see another state).
    // The dropped messages are released outside the lock.
    void PushBounded(std::shared_ptr<T> item, std::size_t maxItems) {
        std::deque<std::shared_ptr<T>> dropped;
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
            while (items_.size() > maxItems) {
                dropped.push_back(std::move(items_.front()));
                items_.pop_front();
            }
        }
        changed_.notify_one();
    }

    // The oldest message, or no value at once when the queue is empty.
    std::optional<std::shared_ptr<T>> TryPop() {
        std::optional<std::shared_ptr<T>> result;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty()) {
                return std::nullopt;
            }
            result = std::move(items_.front());
            items_.pop_front();
        }
        changed_.notify_one();
        return result;
    }

    void Clear() {
        std::deque<std::shared_ptr<T>> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(items_);
        }
        // The messages are released outside the lock: a message's destructor may be slow.
    }

    // Removes every message for which `drop` is true, keeping the others in order; returns
    // how many went. `drop` runs under the queue's lock: it must not touch the queue.
    template <typename Predicate>
    std::size_t RemoveIf(Predicate drop) {
        std::deque<std::shared_ptr<T>> dropped;
        {
            std::lock_guard lock(mutex_);
            std::deque<std::shared_ptr<T>> kept;
            for (auto& item : items_) {
                (drop(item) ? dropped : kept).push_back(std::move(item));
            }
            items_.swap(kept);
        }
        return dropped.size();
    }

    std::size_t Size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

    // The lock that WaitUntil and PopLocked expect.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }

    // With the queue's lock held: true at once when a message is queued; otherwise waits
    // until one is or the steady-clock deadline passes, and tells whether one is queued.
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline) {
        assert(lock.owns_lock() && lock.mutex() == &mutex_);
        return changed_.wait_until(lock, deadline, [this] { return !items_.empty(); });
    }

    // With the queue's lock held: takes the oldest message, if any.
    std::optional<std::shared_ptr<T>> PopLocked(std::unique_lock<std::mutex>& lock) {
        assert(lock.owns_lock() && lock.mutex() == &mutex_);
        (void)lock;
        if (items_.empty()) {
            return std::nullopt;
        }
        std::optional<std::shared_ptr<T>> result(std::move(items_.front()));
        items_.pop_front();
        return result;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<T>> items_;
};

}  // namespace orbel::studio
