#include "utilities/CallbackGate.h"

#include <algorithm>
#include <vector>

namespace orbel::utilities {
namespace {
// The gates whose callbacks this thread is inside, innermost last.
thread_local std::vector<const CallbackGate*> tInside;
}  // namespace

CallbackGate::Scope::Scope(CallbackGate& gate) : gate_(gate) { tInside.push_back(&gate_); }

CallbackGate::Scope::~Scope() {
    tInside.pop_back();
    std::lock_guard lock(gate_.mutex_);
    --gate_.active_;
    gate_.idle_.notify_all();
}

void CallbackGate::Close() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    if (std::find(tInside.begin(), tInside.end(), this) != tInside.end()) return;
    idle_.wait(lock, [this] { return active_ == 0; });
}

}  // namespace orbel::utilities
