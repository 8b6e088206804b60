#include "utilities/SdkThread.h"

namespace orbel::utilities {
namespace {
thread_local bool tSdkThread = false;
}  // namespace

void MarkSdkThread() noexcept { tSdkThread = true; }

bool OnSdkThread() noexcept { return tSdkThread; }

bool JoinOrRelease(std::thread& thread) noexcept {
    if (!thread.joinable()) return false;
    try {
        if (tSdkThread || thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
            return false;
        }
        thread.join();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace orbel::utilities
