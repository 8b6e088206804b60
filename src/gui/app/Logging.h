// The program's log: one spdlog logger named "orbel", also spdlog's default
// logger, writing to "orbelstudio.log" (or a file of its own, see ProgramLogFile)
// and to the GUI log sink. Log may be called from any thread; warnings and worse
// are flushed before it returns.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <spdlog/sinks/sink.h>

namespace orbel::studio {

// Where a run logs in the application-data folder: "orbelstudio.log", or, while another
// Orbel Studio holds the folder (`folderShared`), "orbelstudio-<processId>.log" of its own,
// so that the lines of the two are never mixed in one file.
std::filesystem::path ProgramLogFile(const std::filesystem::path& folder, bool folderShared, long processId);

// Builds the sinks (console when asked, rotating file when the path is not empty),
// creates the logger "orbel" on them and makes it the default logger.
void SetupLogging(bool withConsole, const std::filesystem::path& logFile);

// Appends a sink to the default logger when both exist; otherwise drops it.
void AddLogSink(std::shared_ptr<spdlog::sinks::sink> sink);
// Takes a sink off the default logger the same way; lines logged after it no longer reach it.
void RemoveLogSink(const std::shared_ptr<spdlog::sinks::sink>& sink);

// Levels 0 to 5: trace, debug, info, warn, error, critical; any other level writes nothing.
void Log(const std::string& message, int level);

// The levels of Log by name.
namespace log_level {
inline constexpr int kTrace = 0;
inline constexpr int kDebug = 1;
inline constexpr int kInfo = 2;
inline constexpr int kWarning = 3;
inline constexpr int kError = 4;
inline constexpr int kCritical = 5;
}  // namespace log_level

// Writes what the sinks still buffer (info lines are not flushed one by one). The program
// calls it about once a second, so the log file is never far behind.
void FlushLog();

}  // namespace orbel::studio
