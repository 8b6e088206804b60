// Whole-file reading and writing on POSIX (open, read, write, close with errno) and on
// Windows (CreateFileW, ReadFile, WriteFile with GetLastError). The kind of entry is asked
// before anything is opened; on POSIX the file is opened without waiting (O_NONBLOCK) and
// its kind asked again, so an entry swapped for a FIFO in between is refused all the same.
#include "platform/WholeFile.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orbel::studio::platform {
namespace {

namespace fs = std::filesystem;

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Empty for a regular file; otherwise why it is not read.
std::string RefusedKind(fs::file_type type) {
    switch (type) {
        case fs::file_type::regular: return "";
        case fs::file_type::directory: return ErrnoText(EISDIR);
        case fs::file_type::fifo: return "a FIFO, not a regular file";
        case fs::file_type::socket: return "a socket, not a regular file";
        case fs::file_type::block:
        case fs::file_type::character: return "a device, not a regular file";
        default: return "not a regular file";
    }
}

#ifndef _WIN32
fs::file_type TypeOf(mode_t mode) {
    if (S_ISREG(mode)) return fs::file_type::regular;
    if (S_ISDIR(mode)) return fs::file_type::directory;
    if (S_ISFIFO(mode)) return fs::file_type::fifo;
    if (S_ISSOCK(mode)) return fs::file_type::socket;
    if (S_ISBLK(mode)) return fs::file_type::block;
    if (S_ISCHR(mode)) return fs::file_type::character;
    return fs::file_type::unknown;
}
#else
std::string LastErrorText() { return std::system_category().message(static_cast<int>(GetLastError())); }
#endif

}  // namespace

std::optional<std::string> ReadRegularFile(const fs::path& file, std::string& failure) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error) {
        failure = error.message();
        return std::nullopt;
    }
    failure = RefusedKind(status.type());
    if (!failure.empty()) {
        return std::nullopt;
    }
    std::string bytes;
#ifndef _WIN32
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failure = ErrnoText(errno);
        return std::nullopt;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        failure = ErrnoText(errno);
    } else {
        failure = RefusedKind(TypeOf(opened.st_mode));
    }
    char buffer[4096];
    while (failure.empty()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            failure = ErrnoText(errno);
        }
    }
    ::close(fd);
#else
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure = LastErrorText();
        return std::nullopt;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        failure = "not a regular file";
    }
    char buffer[4096];
    while (failure.empty()) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
            failure = LastErrorText();
        } else if (got == 0) {
            break;
        } else {
            bytes.append(buffer, got);
        }
    }
    CloseHandle(handle);
#endif
    if (!failure.empty()) {
        return std::nullopt;
    }
    return bytes;
}

WriteOutcome WriteWholeFile(const fs::path& file, std::string_view bytes) {
    WriteOutcome outcome;
#ifndef _WIN32
    // O_NONBLOCK: a FIFO of that name without a reader fails at once instead of waiting.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        outcome.failure = ErrnoText(errno);
        return outcome;
    }
    outcome.opened = true;
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(put));
        } else if (errno != EINTR) {
            outcome.failure = ErrnoText(errno);
            break;
        }
    }
    if (::close(fd) != 0 && outcome.failure.empty()) {
        outcome.failure = ErrnoText(errno);
    }
#else
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        outcome.failure = LastErrorText();
        return outcome;
    }
    outcome.opened = true;
    while (!bytes.empty()) {
        DWORD put = 0;
        const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &put, nullptr)) {
            outcome.failure = LastErrorText();
            break;
        }
        bytes.remove_prefix(put);
    }
    if (!CloseHandle(handle) && outcome.failure.empty()) {
        outcome.failure = LastErrorText();
    }
#endif
    return outcome;
}

}  // namespace orbel::studio::platform
