// The program's log: one spdlog logger named "orbel", also spdlog's default
// logger, writing to "orbelstudio.log" and to the GUI log sink. Log may be
// called from any thread; warnings and worse are flushed before it returns.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <spdlog/sinks/sink.h>

namespace orbel::studio {

// Builds the sinks (console when asked, rotating file when the path is not empty),
// creates the logger "orbel" on them and makes it the default logger.
void SetupLogging(bool withConsole, const std::filesystem::path& logFile);

// Appends a sink to the default logger when both exist; otherwise drops it.
void AddLogSink(std::shared_ptr<spdlog::sinks::sink> sink);

// Levels 0 to 5: trace, debug, info, warn, error, critical; any other level writes nothing.
void Log(const std::string& message, int level);

// Writes what the sinks still buffer (info lines are not flushed one by one). The program
// calls it about once a second, so the log file is never far behind.
void FlushLog();

}  // namespace orbel::studio
