// How publishers on any thread tell the frame loop that something on screen has changed, so
// that a loop waiting for events draws again: IFrameRequest is what the loop gives out (its
// window-system side wakes the waiting loop), FrameRequestSlot is where a publisher keeps it,
// and NotifyingAtomic is a shared flag whose every store asks for a frame.
//
// Contract: RequestFrame may be called from any thread, at any rate, with any lock held by
// the caller; it never blocks and never calls back into the caller. A slot may be filled or
// emptied from any thread while others request through it; an empty slot asks nobody.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace orbel::studio {

class IFrameRequest {
public:
    virtual ~IFrameRequest() = default;
    virtual void RequestFrame() = 0;
};

class FrameRequestSlot {
public:
    void Set(std::shared_ptr<IFrameRequest> request) {
        std::lock_guard lock(mutex_);
        request_ = std::move(request);
    }

    void Request() const {
        std::shared_ptr<IFrameRequest> request;
        {
            std::lock_guard lock(mutex_);
            request = request_;
        }
        if (request) {
            request->RequestFrame();
        }
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<IFrameRequest> request_;
};

// An atomic value that the GUI shows: a store that changes it asks the slot for a frame (the
// GUI thread rewrites some flags every frame; an unchanged value asks nothing). It reads and
// writes like std::atomic<T> (the operations the program uses), so that the writers on other
// threads need not know that the loop waits.
template <typename T>
class NotifyingAtomic {
public:
    NotifyingAtomic(const FrameRequestSlot& slot, T initial) : slot_(slot), value_(initial) {}
    NotifyingAtomic(const NotifyingAtomic&) = delete;
    NotifyingAtomic& operator=(const NotifyingAtomic&) = delete;

    T load(std::memory_order order = std::memory_order_seq_cst) const { return value_.load(order); }
    operator T() const { return load(); }

    void store(T value, std::memory_order order = std::memory_order_seq_cst) { exchange(value, order); }
    NotifyingAtomic& operator=(T value) {
        store(value);
        return *this;
    }
    T exchange(T value, std::memory_order order = std::memory_order_seq_cst) {
        const T before = value_.exchange(value, order);
        if (!(before == value)) {
            slot_.Request();
        }
        return before;
    }

private:
    const FrameRequestSlot& slot_;
    std::atomic<T> value_;
};

}  // namespace orbel::studio
