// SensorSilenceWatch: tells when a live stream has gone quiet and when data comes back.
// A sensor whose process stopped, or whose cable was pulled where the host still answers
// pings, keeps its link and its state: only the missing data shows it.
//
// Contract: Seen may come from any thread (the SDK's customer thread); Restart and Check
// from the streamer's lifecycle and its point-cloud worker. Each change is told once.
#pragma once

#include <atomic>
#include <chrono>

namespace orbel::studio::gui {

class SensorSilenceWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kDefaultLimit{3};

    enum class Change { None, FellSilent, Resumed };

    explicit SensorSilenceWatch(Clock::duration limit = kDefaultLimit) : limit_(limit) {}

    // A stream begins at `now`: the silence counts from here, and none is reported yet.
    void Restart(Clock::time_point now) {
        lastSeen_ = now.time_since_epoch().count();
        silent_ = false;
    }
    // Data arrived at `now`.
    void Seen(Clock::time_point now) { lastSeen_ = now.time_since_epoch().count(); }
    // FellSilent once no data came for the limit, Resumed once data came after that.
    Change Check(Clock::time_point now) {
        const Clock::duration quiet = now - Clock::time_point(Clock::duration(lastSeen_.load()));
        if (!silent_ && quiet >= limit_) {
            silent_ = true;
            return Change::FellSilent;
        }
        if (silent_ && quiet < limit_) {
            silent_ = false;
            return Change::Resumed;
        }
        return Change::None;
    }
    Clock::duration Limit() const { return limit_; }

private:
    const Clock::duration limit_;
    std::atomic<Clock::rep> lastSeen_{0};
    std::atomic<bool> silent_{false};
};

}  // namespace orbel::studio::gui
