#include "utilities/Logging.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>

#include <spdlog/logger.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <orbel/sdk/Exception.h>

#include "utilities/StringConversion.h"

namespace orbel::utilities {
namespace {

using orbel::sdk::Severity;

constexpr size_t kMaxFileBytes = 1'000'000;
constexpr size_t kRotatedFiles = 24;  // plus the current file: 25 in all
constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e] [%l] [thread %t] [%!@%#] %v";

// Filled when the library is loaded, read-only afterwards, and never destroyed, like
// the logger itself: SDK threads may still log while the process exits.
const auto* const kSeverityNames = new std::map<Severity, std::wstring>{
    {Severity::ERROR, L"ERROR"},
    {Severity::WARNING, L"WARNING"},
    {Severity::INFO, L"INFO"},
    {Severity::DEBUG, L"DEBUG"},
};

bool IsKnown(Severity severity) { return static_cast<uint32_t>(severity) <= static_cast<uint32_t>(Severity::DEBUG); }

spdlog::level::level_enum ToSpdlog(Severity severity) {
    switch (severity) {
        case Severity::ERROR: return spdlog::level::err;
        case Severity::WARNING: return spdlog::level::warn;
        case Severity::INFO: return spdlog::level::info;
        default: return spdlog::level::debug;
    }
}

std::string LocalStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d_%H-%M-%S", &local);
    return text;
}

std::once_flag gCreated;
Logging* gInstance = nullptr;

}  // namespace

Logging::Logging()
    : outputs_(std::make_shared<spdlog::sinks::dist_sink<std::mutex>>()),
      logger_(std::make_shared<spdlog::logger>("orbel_sdk", outputs_)) {
    logger_->set_level(spdlog::level::debug);
    // The instance is never destroyed, so nothing flushes at exit: INFO and worse go out at once.
    logger_->flush_on(spdlog::level::info);
}

Logging& Logging::Instance() {
    std::call_once(gCreated, [] {
        auto* created = new Logging();
        created->InitConsole(Severity::INFO);
        gInstance = created;
    });
    return *gInstance;
}

Logging& Logging::Instance(const std::wstring& folder) {
    std::call_once(gCreated, [&folder] {
        auto* created = new Logging();
        try {
            created->Init(folder, Severity::INFO);
        } catch (...) {
            // A file-system error leaves the creation undone; the next call tries again.
            delete created;
            throw;
        }
        gInstance = created;
    });
    return *gInstance;
}

bool Logging::InitConsole(const Severity& severity) {
    {
        std::lock_guard lock(initMutex_);
        const bool already = initialised_.load();
        auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
        console->set_pattern(kPattern);
        outputs_->add_sink(console);
        if (already) {
            logger_->log(spdlog::level::err,
                         "Logger already initialized. Cannot remove previous log locations. Console will be added as "
                         "additional log location");
        } else {
            logger_->set_level(spdlog::level::debug);
        }
    }
    SetSeverity(severity);
    initialised_ = true;
    WriteBanner();
    return true;
}

bool Logging::Init(const std::wstring& folder, const Severity& severity) {
    if (initialised_) {
        Log(Severity::ERROR, L"Logger already initialized. Cannot change output location.", __FILE__, __LINE__,
            ORBEL_FUNCTION);
        return false;
    }
    const std::filesystem::path directory(folder);
    if (!std::filesystem::exists(directory)) std::filesystem::create_directories(directory);
    if (!std::filesystem::exists(directory)) {
        Log(Severity::ERROR,
            L"Error creating log directory \"" + folder + L"\". Check file permissions in the root directory.",
            __FILE__, __LINE__, ORBEL_FUNCTION);
        return false;
    }
    {
        std::lock_guard lock(initMutex_);
        if (initialised_) return false;
        const auto file = directory / ("vr_" + LocalStamp() + ".log");
#if defined(SPDLOG_WCHAR_FILENAMES)
        auto rolling = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file.wstring(), kMaxFileBytes, kRotatedFiles);
#else
        auto rolling = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file.string(), kMaxFileBytes, kRotatedFiles);
#endif
        rolling->set_pattern(kPattern);
        outputs_->add_sink(rolling);
        logger_->set_level(spdlog::level::info);
        folder_ = folder;
    }
    SetSeverity(severity);
    initialised_ = true;
    WriteBanner();
    return true;
}

void Logging::WriteBanner() {
    Log(Severity::INFO, L"Velmorant C++ SDK - " + ConvertToWString(orbel::sdk::GetVersion()), "", 0, "");
}

void Logging::EnsureInitialised() noexcept {
    if (initialised_) return;
    try {
        bool needed = false;
        {
            std::lock_guard lock(initMutex_);
            needed = !initialised_;
        }
        if (needed) InitConsole(Severity::INFO);
    } catch (...) {
    }
}

bool Logging::IsEnabled(const Severity& severity) const noexcept {
    if (static_cast<uint32_t>(severity) <= minimalSeverity_.load(std::memory_order_relaxed)) return true;
    return IsKnown(severity) && logger_->should_log(ToSpdlog(severity));
}

void Logging::Log(const Severity& severity, const std::wstring& message, const std::wstring& detail, const char* file,
                  const size_t& line, const char* function) noexcept {
    EnsureInitialised();
    if (IsKnown(severity) && logger_->should_log(ToSpdlog(severity))) {
        try {
            std::string text = ConvertToStringLossy(message);
            if (!detail.empty()) {
                text += " | Detailed information: ";
                text += ConvertToStringLossy(detail);
            }
            const std::string name = QualifiedFunctionName(function ? function : "");
            spdlog::source_loc where{(file && *file) ? file : nullptr, static_cast<int>(line),
                                     name.empty() ? nullptr : name.c_str()};
            logger_->log(where, ToSpdlog(severity), text);
        } catch (...) {
        }
    }
    if (static_cast<uint32_t>(severity) > minimalSeverity_.load()) return;
    std::shared_ptr<const orbel::sdk::LogCallback> callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = callback_;
    }
    if (!callback) return;
    try {
        (*callback)(severity, message);
    } catch (...) {
        // A throwing callback must not take the logging thread down with it.
    }
}

void Logging::Log(const Severity& severity, const std::wstring& message, const char* file, const size_t& line,
                  const char* function) noexcept {
    Log(severity, message, std::wstring(), file, line, function);
}

void Logging::SetSeverity(const Severity& severity) {
    minimalSeverity_ = static_cast<uint32_t>(severity);
    if (IsKnown(severity)) logger_->set_level(ToSpdlog(severity));
    if (initialised_) {
        Log(Severity::INFO, L"Minimal log severity set to: " + SeverityName(severity), __FILE__, __LINE__,
            ORBEL_FUNCTION);
    }
}

Logging::Severity Logging::GetSeverity() const noexcept { return static_cast<Severity>(minimalSeverity_.load()); }

void Logging::SetLogCallBack(const orbel::sdk::LogCallback& callback) {
    EnsureInitialised();
    Log(Severity::INFO, callback ? L"Log callback function registered" : L"Log callback function removed", __FILE__,
        __LINE__, ORBEL_FUNCTION);
    auto stored = callback ? std::make_shared<const orbel::sdk::LogCallback>(callback) : nullptr;
    std::lock_guard lock(callbackMutex_);
    callback_ = std::move(stored);
}

std::wstring Logging::SeverityName(const Severity& severity) {
    const auto it = kSeverityNames->find(severity);
    return it == kSeverityNames->end() ? std::wstring() : it->second;
}

}  // namespace orbel::utilities

namespace orbel::sdk {

using orbel::utilities::Logging;

void SetLogOutputFolder(const std::wstring& folder) {
    std::cout << "creating logging instance" << std::endl;
    if (folder.empty()) {
        Logging::Instance();
    } else {
        Logging::Instance(folder);
    }
    std::cout << "logging instance created" << std::endl;
}

void SetLogSeverity(const Severity& severity) { Logging::Instance().SetSeverity(severity); }

Severity GetLogSeverity() { return Logging::Instance().GetSeverity(); }

void SetLogCallBack(const LogCallback& callback) { Logging::Instance().SetLogCallBack(callback); }

std::wstring GetLogTypeString(const Severity& severity) { return Logging::SeverityName(severity); }

void Log(Severity severity, std::wstring message, const char* file, const size_t& line, const char* function) {
    Logging::Instance().Log(severity, message, file, line, function);
}

}  // namespace orbel::sdk
