// CallbackGate: every callback the SDK makes into its caller for one sensor passes
// through one gate. Closing it makes later callbacks no-ops and, when closed from
// outside a callback, waits until callbacks already running have returned; so once
// the caller's last sensor handle is gone, none of its callbacks runs any more,
// whichever SDK thread ends up finishing the teardown. Closed from inside one of its
// own callbacks it only closes: waiting there could wait for ever on another
// callback that waits for this one.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace orbel::utilities {

class CallbackGate {
public:
    template <typename F>
    void Call(F&& f) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
            ++active_;
        }
        Scope scope(*this);
        f();
    }

    void Close();

    // Wraps a callback so that it runs through the gate; an empty one stays empty.
    template <typename... Args>
    static std::function<void(Args...)> Guard(std::shared_ptr<CallbackGate> gate, std::function<void(Args...)> callback) {
        if (!callback) return {};
        return [gate = std::move(gate), callback = std::move(callback)](Args... args) {
            gate->Call([&] { callback(std::forward<Args>(args)...); });
        };
    }

private:
    // Marks this thread as inside the gate for the callback's duration.
    class Scope {
    public:
        explicit Scope(CallbackGate& gate);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CallbackGate& gate_;
    };

    std::mutex mutex_;
    std::condition_variable idle_;
    bool closed_ = false;
    int active_ = 0;
};

}  // namespace orbel::utilities
