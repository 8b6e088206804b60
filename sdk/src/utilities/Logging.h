// orbel::utilities::Logging: the SDK's one process-wide logger, on a named spdlog
// logger of its own (never spdlog's default logger, which belongs to the program).
//
// Output is chosen once: console (colours only on a terminal) or rolling files
// "vr_<stamp>.log" of 1,000,000 bytes, 25 in all. Any thread may log; records are
// serialised by spdlog. The callback is called on the logging thread after the
// record is written, outside spdlog's locks, and may be replaced while other
// threads log. Logging never throws.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include <orbel/sdk/Logging.h>

#include "utilities/FunctionName.h"

namespace spdlog {
class logger;
namespace sinks {
template <typename Mutex>
class dist_sink;
}
}  // namespace spdlog

namespace orbel::utilities {

class Logging {
public:
    using Severity = orbel::sdk::Severity;

    // Creates the instance with console output on first use.
    static Logging& Instance();
    // Creates the instance with file output in folder on first use; later calls ignore folder.
    static Logging& Instance(const std::wstring& folder);

    bool Init(const std::wstring& folder, const Severity& severity);
    bool InitConsole(const Severity& severity);

    // function may be a qualified name or a compiler's decorated signature.
    void Log(const Severity& severity, const std::wstring& message, const std::wstring& detail, const char* file,
             const size_t& line, const char* function) noexcept;
    void Log(const Severity& severity, const std::wstring& message, const char* file, const size_t& line,
             const char* function) noexcept;

    // Whether a record of this severity would reach the output or the callback.
    bool IsEnabled(const Severity& severity) const noexcept;

    void SetSeverity(const Severity& severity);
    Severity GetSeverity() const noexcept;
    void SetLogCallBack(const orbel::sdk::LogCallback& callback);

    static std::wstring SeverityName(const Severity& severity);

    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

private:
    Logging();
    ~Logging() = default;

    void EnsureInitialised() noexcept;
    void WriteBanner();

    std::shared_ptr<const orbel::sdk::LogCallback> callback_;
    std::mutex callbackMutex_;
    std::atomic<bool> initialised_{false};
    std::mutex initMutex_;
    std::wstring folder_;
    std::atomic<uint32_t> minimalSeverity_{static_cast<uint32_t>(Severity::INFO)};
    std::shared_ptr<spdlog::sinks::dist_sink<std::mutex>> outputs_;
    std::shared_ptr<spdlog::logger> logger_;
};

}  // namespace orbel::utilities

// The SDK's logging calls. The message expression is evaluated only when the
// record can reach an output or the callback.
#define ORBEL_LOG(severity, message)                                                                           \
    do {                                                                                                       \
        auto& orbelLogging_ = ::orbel::utilities::Logging::Instance();                                         \
        if (orbelLogging_.IsEnabled(severity)) orbelLogging_.Log(severity, message, __FILE__, __LINE__, ORBEL_FUNCTION); \
    } while (0)

#define ORBEL_LOG_DETAIL(severity, message, detail)                                                            \
    do {                                                                                                       \
        auto& orbelLogging_ = ::orbel::utilities::Logging::Instance();                                         \
        if (orbelLogging_.IsEnabled(severity))                                                                 \
            orbelLogging_.Log(severity, message, detail, __FILE__, __LINE__, ORBEL_FUNCTION);                  \
    } while (0)

#define ORBEL_LOG_ERROR(message) ORBEL_LOG(::orbel::sdk::Severity::ERROR, message)
#define ORBEL_LOG_WARNING(message) ORBEL_LOG(::orbel::sdk::Severity::WARNING, message)
#define ORBEL_LOG_INFO(message) ORBEL_LOG(::orbel::sdk::Severity::INFO, message)
#define ORBEL_LOG_DEBUG(message) ORBEL_LOG(::orbel::sdk::Severity::DEBUG, message)
