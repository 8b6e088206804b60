// SettingsAutosave: when the settings are written while the program runs. They are written
// once they differ from what was last written and have then held still for kQuietSeconds,
// so that a drag over a control costs one write at its end, an idle program writes nothing,
// and what the user last changed is on disk within about two seconds even when the
// program ends without its shutdown (a lost display).
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

    // `written`: the settings as serialised when they were loaded or last written.
    explicit SettingsAutosave(std::string written = {}) : written_(std::move(written)) {}

    // The settings as serialised now; true when they should be written now.
    bool Due(const std::string& current, double now) {
        if (current == written_) {
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

    // A write of these bytes was tried. A failed one is not tried again until the settings
    // change once more (the shutdown still tries, and reports it).
    void Tried(std::string bytes) {
        written_ = std::move(bytes);
        pending_.reset();
    }

private:
    std::string written_;
    std::optional<std::string> pending_;
    double pendingSince_ = 0.0;
};

}  // namespace orbel::studio::gui
