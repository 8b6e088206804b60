// Collects the SDK's log records through its log callback, for tests that check
// what was logged. One capture at a time per process (the callback is process-wide).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <orbel/sdk/Logging.h>

namespace orbel::testing {

class LogCapture {
public:
    using Record = std::pair<orbel::sdk::Severity, std::wstring>;

    explicit LogCapture(orbel::sdk::Severity minimal = orbel::sdk::Severity::DEBUG) {
        orbel::sdk::SetLogSeverity(minimal);
        orbel::sdk::SetLogCallBack([this](const orbel::sdk::Severity& severity, const std::wstring& text) {
            std::lock_guard lock(mutex_);
            records_.emplace_back(severity, text);
            changed_.notify_all();
        });
    }
    ~LogCapture() { orbel::sdk::SetLogCallBack(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Record> Records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

    std::vector<std::wstring> Texts() {
        std::vector<std::wstring> texts;
        for (auto& [severity, text] : Records()) texts.push_back(text);
        return texts;
    }

    // How many records contain the fragment.
    size_t Count(const std::wstring& fragment) {
        std::lock_guard lock(mutex_);
        return CountLocked(fragment);
    }

    size_t CountAt(orbel::sdk::Severity severity) {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (auto& record : records_) n += record.first == severity;
        return n;
    }

    // Waits until `times` records contain the fragment.
    bool WaitFor(const std::wstring& fragment, size_t times = 1,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return CountLocked(fragment) >= times; });
    }

    // Position of the first record containing the fragment, or -1.
    long IndexOf(const std::wstring& fragment) {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < records_.size(); ++i)
            if (records_[i].second.find(fragment) != std::wstring::npos) return static_cast<long>(i);
        return -1;
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    size_t CountLocked(const std::wstring& fragment) const {
        size_t n = 0;
        for (auto& record : records_) n += record.second.find(fragment) != std::wstring::npos;
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Record> records_;
};

}  // namespace orbel::testing
