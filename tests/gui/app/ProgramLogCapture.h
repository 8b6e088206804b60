// Collects what the program logs through orbel::studio::Log, for tests that check the
// texts: while alive, a logger named "orbel" with a recording sink is spdlog's default
// logger; the previous default comes back afterwards. One capture at a time per process.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

namespace orbel::testing {

class ProgramLogCapture {
public:
    struct Record {
        spdlog::level::level_enum level;
        std::string text;
    };

    ProgramLogCapture() : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("orbel", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(std::move(logger));
    }
    ~ProgramLogCapture() { spdlog::set_default_logger(previous_); }
    ProgramLogCapture(const ProgramLogCapture&) = delete;
    ProgramLogCapture& operator=(const ProgramLogCapture&) = delete;

    std::vector<Record> Records() const { return sink_->Records(); }

    // How many records at the level contain the fragment.
    size_t Count(const std::string& fragment, spdlog::level::level_enum level) const {
        const auto records = Records();
        return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&](const Record& record) {
            return record.level == level && record.text.find(fragment) != std::string::npos;
        }));
    }

    bool Contains(const std::string& exact, spdlog::level::level_enum level) const {
        const auto records = Records();
        return std::any_of(records.begin(), records.end(),
                           [&](const Record& record) { return record.level == level && record.text == exact; });
    }

private:
    class Sink final : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<Record> Records() {
            std::lock_guard lock(mutex_);
            return records_;
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& message) override {
            records_.push_back({message.level, std::string(message.payload.begin(), message.payload.end())});
        }
        void flush_() override {}

    private:
        std::vector<Record> records_;  // guarded by base_sink's mutex_
    };

    std::shared_ptr<Sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace orbel::testing
