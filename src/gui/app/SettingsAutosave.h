// SettingsAutosave: when the settings are written. While the program runs they are written
// once they differ from what was last tried and have then held still for kQuietSeconds, so
// that a drag over a control costs one write at its end, an idle program writes nothing,
// and what the user last changed is on disk within about two seconds even when the program
// ends without its shutdown (a lost display). At the end they are written only when they
// differ from what the file was last known to hold (loaded or written by this program): a
// program that changed nothing leaves the file alone, so it never undoes what another
// program on the same settings folder saved meanwhile; a write that failed is tried again.
//
// It also says when a failed write is worth telling the user: the first failure after the
// file was last in order, not each one of a row.
//
// Contract: plain values, GUI thread; times in seconds on one steady clock.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace orbel::studio::gui {

class SettingsAutosave {
public:
    static constexpr double kQuietSeconds = 1.0;

    // `written`: the settings as serialised when they were loaded.
    explicit SettingsAutosave(std::string written = {}) : written_(written), tried_(std::move(written)) {}

    // The settings as serialised now; true when they should be written now.
    bool Due(const std::string& current, double now) {
        if (current == tried_) {
            pending_.reset();
            return false;
        }
        if (!pending_ || *pending_ != current) {
            pending_ = current;
            pendingSince_ = now;
            return false;
        }
        return now - pendingSince_ >= kQuietSeconds;
    }

    // True while the file may not hold these settings: they were neither loaded nor written.
    bool Unsaved(const std::string& current) const { return current != written_; }

    // These bytes are now on disk.
    void Written(std::string bytes) {
        written_ = bytes;
        tried_ = std::move(bytes);
        pending_.reset();
        failing_ = false;
    }

    // A write of these bytes failed. It is not tried again while running until the settings
    // change once more (the end still tries, as they are unsaved). True when the user should
    // be told: the first failure since the last write that worked.
    bool Failed(std::string bytes) {
        tried_ = std::move(bytes);
        pending_.reset();
        const bool first = !failing_;
        failing_ = true;
        return first;
    }

private:
    std::string written_;  // what the file holds, as far as this program knows
    std::string tried_;    // what was last loaded or tried
    std::optional<std::string> pending_;
    double pendingSince_ = 0.0;
    bool failing_ = false;
};

}  // namespace orbel::studio::gui
