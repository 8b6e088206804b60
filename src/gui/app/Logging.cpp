// The program's logger "orbel": its sinks, its place as spdlog's default logger and
// the level table of Log. spdlog runs synchronously here; every sink locks itself.
// Until SetupLogging has run, the default logger is spdlog's stock console logger,
// which the program never writes to: Log and AddLogSink do nothing until then.
#include "app/Logging.h"

#include <algorithm>
#include <string>
#include <vector>

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

namespace orbel::studio {
namespace {

constexpr const char* kLoggerName = "orbel";
constexpr const char* kPattern = "[%H:%M:%S] [%^%l%$] %v";
// With no backup files the full file is emptied and written again from its start.
constexpr std::size_t kLogFileMaxBytes = 10 * 1024 * 1024;
constexpr std::size_t kLogFileBackups = 0;

// The program's logger, or null while spdlog's stock default is in place. The
// registry hands out a counted copy under its own lock, so a logger replaced by
// AddLogSink stays alive for a Log call that is still using it.
std::shared_ptr<spdlog::logger> ProgramLogger() {
    std::shared_ptr<spdlog::logger> logger = spdlog::default_logger();
    if (logger == nullptr || logger->name() != kLoggerName) {
        return nullptr;
    }
    return logger;
}

}  // namespace

std::filesystem::path ProgramLogFile(const std::filesystem::path& folder, bool folderShared, long processId) {
    return folder / (folderShared ? "orbelstudio-" + std::to_string(processId) + ".log" : std::string("orbelstudio.log"));
}

void SetupLogging(bool withConsole, const std::filesystem::path& logFile) {
    std::vector<spdlog::sink_ptr> sinks;
    if (withConsole) {
        sinks.push_back(std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
    }
    if (!logFile.empty()) {
        sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            logFile.string(), kLogFileMaxBytes, kLogFileBackups, /*rotate_on_open=*/false));
    }
    auto logger = std::make_shared<spdlog::logger>(kLoggerName, sinks.begin(), sinks.end());
    logger->set_level(spdlog::level::info);
    logger->set_pattern(kPattern);
    spdlog::set_default_logger(std::move(logger));
}

void AddLogSink(std::shared_ptr<spdlog::sinks::sink> sink) {
    std::shared_ptr<spdlog::logger> current = ProgramLogger();
    if (current == nullptr || sink == nullptr) {
        return;
    }
    // A logger's sink list may not change while another thread logs through it, so
    // the sink goes into a copy that then replaces the default logger as a whole.
    std::shared_ptr<spdlog::logger> extended = current->clone(kLoggerName);
    extended->sinks().push_back(std::move(sink));
    spdlog::set_default_logger(std::move(extended));
}

void RemoveLogSink(const std::shared_ptr<spdlog::sinks::sink>& sink) {
    std::shared_ptr<spdlog::logger> current = ProgramLogger();
    if (current == nullptr || sink == nullptr) {
        return;
    }
    std::shared_ptr<spdlog::logger> reduced = current->clone(kLoggerName);
    auto& sinks = reduced->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
    spdlog::set_default_logger(std::move(reduced));
}

void Log(const std::string& message, int level) {
    static constexpr spdlog::level::level_enum kLevels[] = {
        spdlog::level::trace, spdlog::level::debug, spdlog::level::info,
        spdlog::level::warn,  spdlog::level::err,   spdlog::level::critical,
    };
    if (level < 0 || level >= static_cast<int>(std::size(kLevels))) {
        return;
    }
    const std::shared_ptr<spdlog::logger> logger = ProgramLogger();
    if (logger == nullptr) {
        return;
    }
    logger->log(kLevels[level], message);
    if (level >= 3) {
        logger->flush();
    }
}

void FlushLog() {
    if (const std::shared_ptr<spdlog::logger> logger = ProgramLogger()) {
        logger->flush();
    }
}

}  // namespace orbel::studio
