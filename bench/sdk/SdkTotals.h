// The SDK's own delivery totals, read from its log: the data handler logs
// "Received N point clouds in total." and "Reported M point clouds to the customer."
// when it is destroyed. Shared by the live-path benchmarks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cwchar>
#include <mutex>
#include <optional>
#include <string>

#include <orbel/sdk/Logging.h>

namespace orbel::bench {

// Keeps the last "Received N ..." and "Reported M ..." that the data handler logs when
// it is destroyed. The callback runs on SDK threads; one mutex guards everything here.
class SdkTotals {
public:
    struct Totals {
        uint64_t received = 0;
        uint64_t reported = 0;
    };

    void Install() {
        orbel::sdk::SetLogCallBack([this](const orbel::sdk::Severity&, const std::wstring& text) { OnRecord(text); });
    }
    static void Uninstall() { orbel::sdk::SetLogCallBack(nullptr); }

    void Clear() {
        std::lock_guard lock(mutex_);
        received_.reset();
        reported_.reset();
    }

    std::optional<Totals> Wait(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, deadline, [this] { return received_ && reported_; })) return std::nullopt;
        return Totals{*received_, *reported_};
    }

private:
    static std::optional<uint64_t> NumberBetween(const std::wstring& text, const wchar_t* prefix, const wchar_t* suffix) {
        const size_t p = std::wcslen(prefix), s = std::wcslen(suffix);
        if (text.size() <= p + s || text.compare(0, p, prefix) != 0 || text.compare(text.size() - s, s, suffix) != 0) {
            return std::nullopt;
        }
        try {
            return std::stoull(text.substr(p, text.size() - p - s));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    void OnRecord(const std::wstring& text) {
        std::lock_guard lock(mutex_);
        if (auto n = NumberBetween(text, L"Received ", L" point clouds in total.")) received_ = n;
        if (auto n = NumberBetween(text, L"Reported ", L" point clouds to the customer.")) reported_ = n;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<uint64_t> received_;
    std::optional<uint64_t> reported_;
};

}  // namespace orbel::bench
