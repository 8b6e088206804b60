// The lost display on X11: an I/O error handler of our own in place of Xlib's (or GTK's)
// exit(1). Xlib's handler takes no user data, so the watch's last words are reached through
// one pointer here, set and cleared by the one watch.
#include "platform/DisplayLoss.h"

#ifndef _WIN32
#include <X11/Xlib.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace orbel::studio::platform {

#ifndef _WIN32
namespace {

// Longer than logging a line and writing the settings take; the bound only matters when
// the last words wait on a lock that a thread now stopped in this handler holds.
constexpr std::chrono::seconds kLastWordsLimit{5};

std::atomic<const std::function<void(const std::string&)>*> activeLastWords{nullptr};
XIOErrorHandler previousHandler = nullptr;
std::atomic<bool> ending{false};

int OnDisplayLost(Display* display) {
    if (ending.exchange(true)) {
        // Another thread speaks the last words (or this one does, and they used the
        // display after all): wait for its end, bounded.
        std::this_thread::sleep_for(kLastWordsLimit);
        std::_Exit(1);
    }
    const char* name = display != nullptr ? DisplayString(display) : nullptr;
    const std::string reason =
        std::string("The connection to the display ") + (name != nullptr ? name : "") + " was lost";
    if (const auto* words = activeLastWords.load(); words != nullptr && *words) {
        (*words)(reason);
    }
    std::_Exit(1);
}

}  // namespace

DisplayLossWatch::DisplayLossWatch(std::function<void(const std::string& reason)> lastWords)
    : lastWords_(std::move(lastWords)) {
    activeLastWords.store(&lastWords_);
    previousHandler = XSetIOErrorHandler(OnDisplayLost);
}

DisplayLossWatch::~DisplayLossWatch() {
    XSetIOErrorHandler(previousHandler);
    previousHandler = nullptr;
    activeLastWords.store(nullptr);
}
#else
DisplayLossWatch::DisplayLossWatch(std::function<void(const std::string& reason)> lastWords)
    : lastWords_(std::move(lastWords)) {}

DisplayLossWatch::~DisplayLossWatch() = default;
#endif

}  // namespace orbel::studio::platform
