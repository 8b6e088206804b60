// The instance lock: flock(LOCK_EX | LOCK_NB) on Linux, whose locks belong to the open file
// (so two opens in one process exclude each other too, and a child started later does not
// inherit it: the file is opened close-on-exec); LockFileEx with LOCKFILE_FAIL_IMMEDIATELY on
// one byte on Windows. The file is kept open until the lock is destroyed.
#include "platform/InstanceLock.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace orbel::studio::platform {
namespace {

#ifndef _WIN32
class FlockLock final : public IInstanceLock {
public:
    explicit FlockLock(const std::filesystem::path& file) {
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            failure_ = std::generic_category().message(errno);
            return;
        }
        int result = 0;
        do {
            result = ::flock(fd_, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            state_ = State::Held;
        } else if (errno == EWOULDBLOCK) {
            state_ = State::HeldByAnother;
        } else {
            failure_ = std::generic_category().message(errno);
        }
    }
    ~FlockLock() override {
        if (fd_ >= 0) ::close(fd_);  // lets go of the lock
    }
    FlockLock(const FlockLock&) = delete;
    FlockLock& operator=(const FlockLock&) = delete;

    State Get() const override { return state_; }
    std::string Failure() const override { return failure_; }

private:
    int fd_ = -1;
    State state_ = State::Unknown;
    std::string failure_;
};
#else
class FileRangeLock final : public IInstanceLock {
public:
    explicit FileRangeLock(const std::filesystem::path& file) {
        handle_ = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            failure_ = std::system_category().message(static_cast<int>(GetLastError()));
            return;
        }
        OVERLAPPED first{};
        if (LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first)) {
            state_ = State::Held;
        } else if (const DWORD error = GetLastError(); error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
            state_ = State::HeldByAnother;
        } else {
            failure_ = std::system_category().message(static_cast<int>(error));
        }
    }
    ~FileRangeLock() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);  // lets go of the lock
    }
    FileRangeLock(const FileRangeLock&) = delete;
    FileRangeLock& operator=(const FileRangeLock&) = delete;

    State Get() const override { return state_; }
    std::string Failure() const override { return failure_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    State state_ = State::Unknown;
    std::string failure_;
};
#endif

}  // namespace

std::unique_ptr<IInstanceLock> LockInstanceFile(const std::filesystem::path& file) {
#ifndef _WIN32
    return std::make_unique<FlockLock>(file);
#else
    return std::make_unique<FileRangeLock>(file);
#endif
}

long CurrentProcessId() {
#ifndef _WIN32
    return static_cast<long>(::getpid());
#else
    return static_cast<long>(GetCurrentProcessId());
#endif
}

}  // namespace orbel::studio::platform
