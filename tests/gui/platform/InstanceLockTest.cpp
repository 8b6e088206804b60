// The instance lock: one holder at a time, seen by other processes (util-linux's flock stands
// in for a second program), free again once its holder lets go, even while a child the holder
// started still runs; a file that cannot be opened leaves the state unknown, with the reason.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/InstanceLock.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using orbel::studio::platform::IInstanceLock;
using orbel::studio::platform::LockInstanceFile;
using State = IInstanceLock::State;

}  // namespace

namespace orbel::studio::platform {
void PrintTo(IInstanceLock::State state, std::ostream* os) {
    *os << (state == IInstanceLock::State::Held ? "Held" : state == IInstanceLock::State::HeldByAnother ? "HeldByAnother"
                                                                                                       : "Unknown");
}
}  // namespace orbel::studio::platform

namespace {

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orbel-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        file_ = folder_ / "orbelstudio.lock";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static pid_t Spawn(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
    }
    static int ExitStatus(pid_t pid) {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Another process's attempt without waiting: 0 when it got the lock, 42 when it is held.
    int OtherProcessTries() const {
        return ExitStatus(Spawn({"flock", "--nonblock", "--conflict-exit-code", "42", file_.string(), "true"}));
    }

    fs::path folder_;
    fs::path file_;
};

TEST_F(InstanceLockTest, OneHolderAtATimeSeenByOtherProcesses) {
    EXPECT_EQ(OtherProcessTries(), 0);
    auto first = LockInstanceFile(file_);
    EXPECT_EQ(first->Get(), State::Held);
    EXPECT_EQ(first->Failure(), "");
    EXPECT_EQ(OtherProcessTries(), 42);
    EXPECT_EQ(LockInstanceFile(file_)->Get(), State::HeldByAnother);

    // A child started while the lock is held does not keep it after the holder lets go.
    const pid_t child = Spawn({"sleep", "600"});
    ASSERT_GT(child, 0);
    first.reset();
    const auto again = LockInstanceFile(file_);
    EXPECT_EQ(again->Get(), State::Held);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(InstanceLockTest, AFileThatCannotBeOpenedLeavesItUnknownWithTheReason) {
    const auto lock = LockInstanceFile(folder_ / "missing" / "orbelstudio.lock");
    EXPECT_EQ(lock->Get(), State::Unknown);
    EXPECT_EQ(lock->Failure(), "No such file or directory");
}

}  // namespace
