// The user's data and home folders from the environment, Windows and Linux rules side by side.
#include "platform/AppDataFolder.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

namespace orbel::studio::platform {
namespace {

using Path = std::filesystem::path;

// A variable counts only when it holds an absolute path: an empty or relative value
// would put the program's data under whatever folder it was started in.
std::optional<Path> AbsoluteFromEnvironment(const Path::value_type* name) {
#ifdef _WIN32
    const wchar_t* value = _wgetenv(name);
#else
    const char* value = std::getenv(name);
#endif
    if (value == nullptr || *value == 0) {
        return std::nullopt;
    }
    Path path(value);
    if (!path.is_absolute()) {
        return std::nullopt;
    }
    return path;
}

}  // namespace

Path UserDataRoot() {
#ifdef _WIN32
    for (const wchar_t* name : {L"LOCALAPPDATA", L"APPDATA"}) {
        if (auto path = AbsoluteFromEnvironment(name)) {
            return *path;
        }
    }
    constexpr const char* kTried = "LOCALAPPDATA and APPDATA";
#else
    for (const char* name : {"LOCALAPPDATA", "APPDATA", "XDG_DATA_HOME"}) {
        if (auto path = AbsoluteFromEnvironment(name)) {
            return *path;
        }
    }
    if (auto home = UserHomeFolder()) {
        return *home / ".local" / "share";
    }
    constexpr const char* kTried = "LOCALAPPDATA, APPDATA, XDG_DATA_HOME and HOME";
#endif
    throw std::filesystem::filesystem_error(
        std::string("No per-user application-data folder: none of ") + kTried + " holds an absolute path",
        std::make_error_code(std::errc::no_such_file_or_directory));
}

std::optional<Path> UserHomeFolder() {
#ifdef _WIN32
    return AbsoluteFromEnvironment(L"USERPROFILE");
#else
    return AbsoluteFromEnvironment("HOME");
#endif
}

}  // namespace orbel::studio::platform
