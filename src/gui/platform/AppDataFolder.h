// Where the operating system keeps per-user application data. This is the one
// place where Windows and Linux differ on it; the program's own folder names are
// added by AppDataDir (app/FileHelpers.h). Reads the environment only; stateless.
#pragma once

#include <filesystem>

namespace orbel::studio::platform {

// The per-user data folder, taken from the first environment variable that holds
// an absolute path:
//   Windows: LOCALAPPDATA, then APPDATA.
//   Linux:   LOCALAPPDATA, then APPDATA, then XDG_DATA_HOME, then HOME joined
//            with ".local/share".
// Empty or relative values are skipped, so the result is never the working folder.
// Throws std::filesystem::filesystem_error when none of them is usable.
std::filesystem::path UserDataRoot();

}  // namespace orbel::studio::platform
