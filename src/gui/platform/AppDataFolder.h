// Where the operating system keeps a user's own folders: the per-user application-data
// root and the home folder. This is the one place where Windows and Linux differ on them;
// the program's own folder names are added by AppDataDir and ResolveOutputFolder
// (app/FileHelpers.h). Reads the environment only; stateless.
#pragma once

#include <filesystem>
#include <optional>

namespace orbel::studio::platform {

// The per-user data folder, taken from the first environment variable that holds
// an absolute path:
//   Windows: LOCALAPPDATA, then APPDATA.
//   Linux:   LOCALAPPDATA, then APPDATA, then XDG_DATA_HOME, then the home folder
//            joined with ".local/share".
// Empty or relative values are skipped, so the result is never the working folder.
// Throws std::filesystem::filesystem_error when none of them is usable.
std::filesystem::path UserDataRoot();

// The user's home folder: USERPROFILE on Windows, HOME on Linux. None when the variable is
// missing, empty or relative (a relative one would name whatever folder the program was
// started in).
std::optional<std::filesystem::path> UserHomeFolder();

}  // namespace orbel::studio::platform
