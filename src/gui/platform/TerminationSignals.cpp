// The termination signals on Linux through a self-pipe: the handler makes only
// async-signal-safe calls (an atomic count, write, _exit); naming, logging and waking the
// frame loop happen on the watcher's own thread.
#include "platform/TerminationSignals.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <utility>

#include "app/Logging.h"

namespace orbel::studio::platform {

#ifndef _WIN32
namespace {

constexpr std::array kWatched{SIGTERM, SIGINT, SIGHUP};
// Written by the watcher's destructor: no signal has the number 0.
constexpr unsigned char kStopByte = 0;

// What the handler reaches: the pipe's writing end (-1 while nobody watches) and the
// signals seen. A handler has no argument for them, so they live here, set by the one watcher.
std::atomic<int> writeEnd{-1};
std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");

const char* SignalName(int signal) {
    switch (signal) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

void OnSignal(int signal) {
    const int savedErrno = errno;
    if (signalsSeen.fetch_add(1) >= 2) {
        _exit(128 + signal);  // the watcher did not end the process on the second one
    }
    const int fd = writeEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

class PipeWatcher final : public ITerminationSignals {
public:
    explicit PipeWatcher(std::function<void()> wake) : wake_(std::move(wake)) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            Log("Termination signals cannot be watched: no pipe; they end the program at once", log_level::kWarning);
            return;
        }
        readEnd_ = fds[0];
        fcntl(fds[1], F_SETFL, O_NONBLOCK);  // a full pipe must not block a handler
        writeEnd.store(fds[1]);
        signalsSeen.store(0);
        thread_ = std::thread([this] { Watch(); });
        for (std::size_t i = 0; i < kWatched.size(); ++i) {
            // A signal the program was started to ignore (nohup, a background job of a
            // script) stays ignored, as its starter asked.
            sigaction(kWatched[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = OnSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            installed_[i] = sigaction(kWatched[i], &action, nullptr) == 0;
        }
    }

    ~PipeWatcher() override {
        if (readEnd_ < 0) return;
        for (std::size_t i = 0; i < kWatched.size(); ++i) {
            if (installed_[i]) sigaction(kWatched[i], &previous_[i], nullptr);
        }
        const int fd = writeEnd.exchange(-1);
        [[maybe_unused]] const ssize_t written = write(fd, &kStopByte, 1);
        thread_.join();
        close(fd);
        close(readEnd_);
    }

    PipeWatcher(const PipeWatcher&) = delete;
    PipeWatcher& operator=(const PipeWatcher&) = delete;

    std::string Received() const override {
        const int signal = received_.load();
        return signal != 0 ? SignalName(signal) : "";
    }

private:
    void Watch() {
        for (;;) {
            unsigned char byte = kStopByte;
            const ssize_t got = read(readEnd_, &byte, 1);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0 || byte == kStopByte) return;
            const int signal = byte;
            int none = 0;
            if (received_.compare_exchange_strong(none, signal)) {
                if (wake_) wake_();
                continue;
            }
            // Logged at error level, which flushes before the process goes.
            Log(std::string(SignalName(signal)) + " received while closing: ending at once", log_level::kError);
            std::_Exit(128 + signal);
        }
    }

    std::function<void()> wake_;
    std::atomic<int> received_{0};
    int readEnd_ = -1;
    std::array<struct sigaction, kWatched.size()> previous_{};
    std::array<bool, kWatched.size()> installed_{};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<ITerminationSignals> WatchTerminationSignals(std::function<void()> wake) {
    return std::make_unique<PipeWatcher>(std::move(wake));
}
#else
namespace {

class NoWatcher final : public ITerminationSignals {
public:
    std::string Received() const override { return ""; }
};

}  // namespace

std::unique_ptr<ITerminationSignals> WatchTerminationSignals(std::function<void()>) {
    return std::make_unique<NoWatcher>();
}
#endif

}  // namespace orbel::studio::platform
