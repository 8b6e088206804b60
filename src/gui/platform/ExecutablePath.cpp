// The running program's file name from the operating system: /proc/self/exe on Linux,
// the module file name on Windows. Never derived from argv[0] or the working folder.
#include "platform/ExecutablePath.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

namespace orbel::studio::platform {

std::filesystem::path ExecutablePath() {
#ifdef _WIN32
    // A path longer than the buffer is truncated and reported with the full size, so
    // the buffer grows until the name fits (long-path systems go beyond MAX_PATH).
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= 32768) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::filesystem::path(std::wstring(buffer.data(), length));
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
#else
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return path;
#endif
}

}  // namespace orbel::studio::platform
