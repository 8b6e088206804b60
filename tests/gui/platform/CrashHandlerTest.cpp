// Crash reports: a child process that installs the handlers and then crashes in each of the
// handled ways leaves exactly one report with a backtrace in "dumps" and dies by the signal;
// the test process itself never installs them. Also the set-up's failure paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "gui/app/ProgramLogCapture.h"
#include "platform/CrashHandler.h"

namespace {

namespace fs = std::filesystem;
using orbel::studio::platform::CrashHandler;
using orbel::testing::ProgramLogCapture;

// The ways to crash, kept away from the sanitizers, which would report them first.
#define ORBEL_UNCHECKED __attribute__((noinline, no_sanitize("address", "undefined")))

ORBEL_UNCHECKED void WriteThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

ORBEL_UNCHECKED void DivideByZero() {
    // Both operands unknown to the compiler, so a real division instruction runs.
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int result = numerator / zero;
    (void)result;
}

ORBEL_UNCHECKED void IllegalInstruction() { __builtin_trap(); }

ORBEL_UNCHECKED void Abort() { std::abort(); }

// A page of a file that has been cut away under its mapping.
ORBEL_UNCHECKED void ReadPastTruncatedMapping() {
    char name[] = "/tmp/orbel-bus-XXXXXX";
    const int fd = mkstemp(name);
    unlink(name);
    if (fd < 0 || ftruncate(fd, 4096) != 0) _exit(4);
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (page == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(4);
    volatile char byte = *static_cast<volatile char*>(page);
    (void)byte;
}

// Overflows the stack the handler must not share.
volatile bool gDeeper = true;
ORBEL_UNCHECKED int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return (gDeeper ? Recurse(depth + 1) : 0) + frame[0];
}
ORBEL_UNCHECKED void OverflowStack() { (void)Recurse(0); }

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "orbel-crash-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<fs::path> Reports(const fs::path& dumps) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dumps, error)) found.push_back(entry.path());
    return found;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Child exit codes that say why it did not crash.
constexpr int kSetUpFailed = 2;
constexpr int kSurvived = 3;

struct CrashCase {
    const char* name;
    void (*crash)();
    int signal;
    const char* signalText;
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.name << ", " << c.signalText; }

class CrashReportTest : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashReportTest, ChildLeavesOneReportWithBacktraceAndDiesByTheSignal) {
    const CrashCase& crash = GetParam();
    TempFolder dataRoot;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("LOCALAPPDATA", dataRoot.path().c_str(), 1);
        const rlimit noCoreFile{0, 0};
        setrlimit(RLIMIT_CORE, &noCoreFile);
        ProgramLogCapture log;
        const bool active = CrashHandler(fs::current_path());
        const std::string expected =
            "[CrashHandler] Active — dumps in: " + (dataRoot.path() / "Velmorant/OrbelStudio/dumps").string();
        if (!active || !log.Contains(expected, spdlog::level::info)) _exit(kSetUpFailed);
        crash.crash();
        _exit(kSurvived);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFEXITED(status)) << "child exited with " << WEXITSTATUS(status)
                                    << (WEXITSTATUS(status) == kSetUpFailed ? " (set-up failed)" : "");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), crash.signal);

    const auto reports = Reports(dataRoot.path() / "Velmorant/OrbelStudio/dumps");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].filename().string().rfind("crash-", 0), 0u) << reports[0];
    EXPECT_EQ(reports[0].extension(), ".txt");
    const std::string report = Read(reports[0]);
    EXPECT_NE(report.find("signal: " + std::to_string(crash.signal) + " (" + crash.signalText + ")\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("fault address: 0x"), std::string::npos) << report;
    EXPECT_NE(report.find(" UTC\n"), std::string::npos) << report;
    EXPECT_NE(report.find("process: " + std::to_string(child) + "\n"), std::string::npos) << report;
    const auto backtrace = report.find("backtrace");
    ASSERT_NE(backtrace, std::string::npos) << report;
    // Frames of this very program, as backtrace_symbols_fd prints them: "file(+offset)[address]".
    std::istringstream frames(report.substr(backtrace));
    int ownFrames = 0;
    for (std::string line; std::getline(frames, line);) {
        if (line.find("gui_platform_tests(") != std::string::npos && line.find(")[0x") != std::string::npos) {
            ++ownFrames;
        }
    }
    EXPECT_GE(ownFrames, 2) << report;
}

INSTANTIATE_TEST_SUITE_P(FatalSignals, CrashReportTest,
                         ::testing::Values(CrashCase{"NullWrite", WriteThroughNull, SIGSEGV, "SIGSEGV"},
                                           CrashCase{"StackOverflow", OverflowStack, SIGSEGV, "SIGSEGV"},
                                           CrashCase{"TruncatedMapping", ReadPastTruncatedMapping, SIGBUS, "SIGBUS"},
                                           CrashCase{"DivideByZero", DivideByZero, SIGFPE, "SIGFPE"},
                                           CrashCase{"Trap", IllegalInstruction, SIGILL, "SIGILL"},
                                           CrashCase{"Abort", Abort, SIGABRT, "SIGABRT"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The set-up fails before it installs anything, so these run in the test process itself.
TEST(CrashHandlerSetUp, UnusableDumpsFolderIsLoggedAndNothingIsInstalled) {
    TempFolder dataRoot;
    fs::create_directories(dataRoot.path() / "Velmorant/OrbelStudio");
    std::ofstream(dataRoot.path() / "Velmorant/OrbelStudio/dumps") << "a file where the folder belongs";

    const char* previous = std::getenv("LOCALAPPDATA");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("LOCALAPPDATA", dataRoot.path().c_str(), 1);
    struct sigaction before{};
    sigaction(SIGSEGV, nullptr, &before);

    ProgramLogCapture log;
    EXPECT_FALSE(CrashHandler(fs::current_path()));

    struct sigaction after{};
    sigaction(SIGSEGV, nullptr, &after);
    if (previous != nullptr) {
        setenv("LOCALAPPDATA", saved.c_str(), 1);
    } else {
        unsetenv("LOCALAPPDATA");
    }
    EXPECT_TRUE(log.Contains("[CrashHandler] Initialization of the crash report database failed", spdlog::level::err));
    EXPECT_EQ(log.Records().size(), 1u);
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
}

}  // namespace
