// What several fuzz targets share: a quiet SDK log (records below ERROR are not even
// formatted, so logging never dominates a run) and a temporary folder of the process's
// own for targets that must go through files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace orbel::fuzzing {

// The folder is made on first use and removed when the process exits normally.
inline const std::filesystem::path& ProcessTempDir() {
    static const std::filesystem::path folder = [] {
        const auto made =
            std::filesystem::temp_directory_path() / ("orbel-fuzz-" + std::to_string(static_cast<long>(::getpid())));
        std::filesystem::create_directories(made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ProcessTempDir(), ignored);
        });
        return made;
    }();
    return folder;
}

}  // namespace orbel::fuzzing

#if __has_include(<orbel/sdk/Logging.h>)
#include <orbel/sdk/Logging.h>

namespace orbel::fuzzing {

inline void QuietSdkLog() {
    static const bool done = [] {
        orbel::sdk::SetLogSeverity(orbel::sdk::Severity::ERROR);
        return true;
    }();
    (void)done;
}

}  // namespace orbel::fuzzing
#endif
