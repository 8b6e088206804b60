// Whether another Orbel Studio runs on the same application-data folder: an exclusive
// advisory lock on one file there (flock on Linux, LockFileEx on Windows), taken at the
// start and held for the whole run. The system lets go of it when the process ends, however
// it ends, so a crashed run leaves no stale lock behind; the file itself stays, empty.
//
// Contract: made and destroyed on the main thread; the state does not change afterwards and
// may be read from any thread. Within one process, two locks on one file also exclude each
// other (each holds its own open file).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace orbel::studio::platform {

class IInstanceLock {
public:
    enum class State {
        Held,           // this process has the lock: no other program holds the folder
        HeldByAnother,  // another process (or another lock here) has it
        Unknown,        // the lock file could not be opened or locked: see Failure
    };
    virtual ~IInstanceLock() = default;
    virtual State Get() const = 0;
    // Why the state is Unknown, in the system's words; empty otherwise.
    virtual std::string Failure() const = 0;
};

// Opens (creating it when missing) and tries to lock `file` without waiting.
std::unique_ptr<IInstanceLock> LockInstanceFile(const std::filesystem::path& file);

// The process's own number, as the system shows it (ps, the task manager).
long CurrentProcessId();

}  // namespace orbel::studio::platform
