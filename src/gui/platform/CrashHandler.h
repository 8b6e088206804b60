// Crash reports: after CrashHandler returns true, a fatal signal (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT) writes one report into the "dumps" folder of the application-data folder
// (signal, fault address, time, backtrace) and then ends the process with the signal's
// default action. Nothing is uploaded. Called once, on the main thread, right after logging
// is set up; a failure is logged and the program goes on without crash reports.
#pragma once

#include <filesystem>

namespace orbel::studio::platform {

// `folder` is the program's working folder at start-up. Returns true when reports will be written.
bool CrashHandler(const std::filesystem::path& folder);

}  // namespace orbel::studio::platform
