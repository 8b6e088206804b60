// Crash reports on Linux: handlers for the fatal signals, run on an alternate stack, write a
// plain-text report (signal, fault address, time, program, backtrace) into the "dumps"
// folder and then let the signal end the process with its default action (and a core
// dump where the system keeps them). Nothing leaves the machine.
//
// Everything a handler needs is prepared at installation: the open "dumps" folder, the
// program's path, the alternate stack, and libgcc's unwinder, which backtrace loads on its
// first call. In the handler only async-signal-safe calls are made (openat, write, close,
// clock_gettime, getpid, gettid, sigaction, raise, nanosleep) plus glibc's backtrace and
// backtrace_symbols_fd, which allocate nothing once loaded.
//
// The alternate stack belongs to the thread that installed the handlers (the main thread),
// so a stack overflow is reported there; other threads' faults run the handler on their own
// stacks. The Windows build's unhandled-exception filter has no counterpart here.
#include "platform/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "platform/ExecutablePath.h"

namespace orbel::studio::platform {
namespace {

constexpr int kInfo = 2;
constexpr int kError = 4;

struct Signal {
    int number;
    const char* name;
};
constexpr std::array<Signal, 5> kSignals{{
    {SIGSEGV, "SIGSEGV"},
    {SIGBUS, "SIGBUS"},
    {SIGFPE, "SIGFPE"},
    {SIGILL, "SIGILL"},
    {SIGABRT, "SIGABRT"},
}};

constexpr std::size_t kAlternateStackBytes = 256 * 1024;
constexpr int kBacktraceFrames = 64;

// Set once by CrashHandler on the main thread before any handler is installed; read-only in
// the handlers afterwards.
struct Prepared {
    int dumpsFolder = -1;
    std::array<char, PATH_MAX + 1> dumpsPath{};
    std::array<char, PATH_MAX + 1> program{};
    void* alternateStack = nullptr;
};
Prepared gPrepared;

// The thread writing a report, 0 while none does.
std::atomic<long> gCrashingThread{0};
static_assert(std::atomic<long>::is_always_lock_free, "used inside signal handlers");

// A fixed buffer that formats text and numbers without allocating.
class Line {
public:
    Line& Text(const char* text) {
        while (*text != 0 && length_ < buffer_.size()) {
            buffer_[length_++] = *text++;
        }
        return *this;
    }
    Line& Number(uint64_t value, unsigned base = 10, unsigned minDigits = 1) {
        std::array<char, 24> digits{};
        unsigned count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value != 0 && count < digits.size());
        while (count < minDigits && count < digits.size()) {
            digits[count++] = '0';
        }
        while (count > 0 && length_ < buffer_.size()) {
            buffer_[length_++] = digits[--count];
        }
        return *this;
    }
    const char* CString() {
        buffer_[length_ < buffer_.size() ? length_ : buffer_.size() - 1] = 0;
        return buffer_.data();
    }
    void WriteTo(int fd) const {
        std::size_t done = 0;
        while (done < length_) {
            const ssize_t written = ::write(fd, buffer_.data() + done, length_ - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            done += static_cast<std::size_t>(written);
        }
    }
    void Clear() { length_ = 0; }

private:
    std::array<char, 1024> buffer_{};
    std::size_t length_ = 0;
};

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian), in plain arithmetic
// because gmtime is not safe in a signal handler.
struct Date {
    int64_t year;
    unsigned month;
    unsigned day;
};
Date CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// "20261210-114725" in UTC.
void AppendCompactTime(Line& line, int64_t seconds) {
    const Date date = CivilFromDays(seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0));
    const int64_t ofDay = ((seconds % 86400) + 86400) % 86400;
    line.Number(static_cast<uint64_t>(date.year), 10, 4).Number(date.month, 10, 2).Number(date.day, 10, 2);
    line.Text("-").Number(static_cast<uint64_t>(ofDay / 3600), 10, 2);
    line.Number(static_cast<uint64_t>(ofDay / 60 % 60), 10, 2).Number(static_cast<uint64_t>(ofDay % 60), 10, 2);
}

// "2026-12-10 11:47:25 UTC".
void AppendReadableTime(Line& line, int64_t seconds) {
    const Date date = CivilFromDays(seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0));
    const int64_t ofDay = ((seconds % 86400) + 86400) % 86400;
    line.Number(static_cast<uint64_t>(date.year), 10, 4).Text("-").Number(date.month, 10, 2).Text("-");
    line.Number(date.day, 10, 2).Text(" ").Number(static_cast<uint64_t>(ofDay / 3600), 10, 2).Text(":");
    line.Number(static_cast<uint64_t>(ofDay / 60 % 60), 10, 2).Text(":");
    line.Number(static_cast<uint64_t>(ofDay % 60), 10, 2).Text(" UTC");
}

const char* SignalName(int number) {
    for (const Signal& signal : kSignals) {
        if (signal.number == number) {
            return signal.name;
        }
    }
    return "unknown";
}

// A new report file "crash-<UTC time>-<pid>[-n].txt" in the dumps folder; -1 when none
// can be made. Its name goes into `name`.
int CreateReport(int64_t seconds, Line& name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name.Clear();
        name.Text("crash-");
        AppendCompactTime(name, seconds);
        name.Text("-").Number(static_cast<uint64_t>(::getpid()));
        if (attempt > 0) {
            name.Text("-").Number(attempt);
        }
        name.Text(".txt");
        const int fd = ::openat(gPrepared.dumpsFolder, name.CString(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void WriteReport(int number, const siginfo_t* info) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t seconds = now.tv_sec;

    Line name;
    const int fd = CreateReport(seconds, name);

    Line line;
    line.Text("Orbel Studio crash report\n");
    line.Text("signal: ").Number(static_cast<uint64_t>(number)).Text(" (").Text(SignalName(number)).Text(")\n");
    line.Text("code: ").Number(static_cast<uint64_t>(static_cast<uint32_t>(info != nullptr ? info->si_code : 0)));
    line.Text("\nfault address: 0x");
    line.Number(reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr), 16, 2 * sizeof(void*));
    line.Text("\ntime: ");
    AppendReadableTime(line, seconds);
    line.Text("\nprocess: ").Number(static_cast<uint64_t>(::getpid()));
    line.Text("\nthread: ").Number(static_cast<uint64_t>(::syscall(SYS_gettid)));
    line.Text("\nprogram: ").Text(gPrepared.program.data());
    line.Text("\nbacktrace (addr2line -Cfie <program> <offset> names a frame):\n");

    if (fd >= 0) {
        line.WriteTo(fd);
        std::array<void*, kBacktraceFrames> frames{};
        const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
        ::backtrace_symbols_fd(frames.data(), count, fd);
        ::close(fd);
    }

    Line notice;
    notice.Text("orbelstudio: fatal signal ").Text(SignalName(number));
    if (fd >= 0) {
        notice.Text("; crash report ").Text(gPrepared.dumpsPath.data()).Text("/").Text(name.CString());
    } else {
        notice.Text("; no crash report could be written");
    }
    notice.Text("\n");
    notice.WriteTo(STDERR_FILENO);
}

// Ends the process by the signal itself, as if no handler had been installed: the signal
// stays blocked until the handler returns and is then taken with its default action.
void ResendWithDefaultAction(int number) {
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(number, &fallback, nullptr);
    ::raise(number);
}

void OnFatalSignal(int number, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (gCrashingThread.compare_exchange_strong(expected, self)) {
        WriteReport(number, info);
    } else if (expected != self) {
        // Another thread is writing the report and will end the process; give it time.
        for (int waited = 0; waited < 100; ++waited) {
            timespec pause{0, 100'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    // A second fault inside the handler lands here directly, without a second report.
    ResendWithDefaultAction(number);
    errno = savedErrno;
}

bool InstallAlternateStack() {
    if (gPrepared.alternateStack == nullptr) {
        void* memory = ::mmap(nullptr, kAlternateStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            return false;
        }
        gPrepared.alternateStack = memory;
    }
    stack_t stack{};
    stack.ss_sp = gPrepared.alternateStack;
    stack.ss_size = kAlternateStackBytes;
    stack.ss_flags = 0;
    return ::sigaltstack(&stack, nullptr) == 0;
}

bool InstallHandlers() {
    std::array<struct sigaction, kSignals.size()> previous{};
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction action{};
        action.sa_sigaction = &OnFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        ::sigemptyset(&action.sa_mask);
        if (::sigaction(kSignals[i].number, &action, &previous[i]) != 0) {
            // All or none: put back what was replaced so far.
            for (std::size_t j = 0; j < i; ++j) {
                ::sigaction(kSignals[j].number, &previous[j], nullptr);
            }
            return false;
        }
    }
    return true;
}

void CopyInto(std::array<char, PATH_MAX + 1>& target, const std::string& text) {
    const std::size_t length = text.size() < target.size() - 1 ? text.size() : target.size() - 1;
    std::memcpy(target.data(), text.data(), length);
    target[length] = 0;
}

}  // namespace

bool CrashHandler(const std::filesystem::path& folder) {
    // The working folder would hold a separate handler program; reports need none here.
    (void)folder;

    std::filesystem::path dumps;
    try {
        dumps = AppDataDir() / "dumps";
        std::filesystem::create_directories(dumps);
    } catch (const std::exception&) {
        Log("[CrashHandler] Initialization of the crash report database failed", kError);
        return false;
    }
    // Held open for the rest of the process, so a report lands in this folder whatever
    // happens to the working folder or the environment later.
    const int dumpsFolder = ::open(dumps.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dumpsFolder < 0 || ::faccessat(dumpsFolder, ".", W_OK, AT_EACCESS) != 0) {
        if (dumpsFolder >= 0) {
            ::close(dumpsFolder);
        }
        Log("[CrashHandler] Initialization of the crash report database failed", kError);
        return false;
    }
    if (gPrepared.dumpsFolder >= 0) {
        ::close(gPrepared.dumpsFolder);
    }
    gPrepared.dumpsFolder = dumpsFolder;
    CopyInto(gPrepared.dumpsPath, dumps.string());
    CopyInto(gPrepared.program, ExecutablePath().string());

    // The first backtrace loads libgcc's unwinder, which allocates; never in a handler.
    std::array<void*, 4> warmUp{};
    ::backtrace(warmUp.data(), static_cast<int>(warmUp.size()));

    if (!InstallAlternateStack() || !InstallHandlers()) {
        Log("[CrashHandler] Starting handler failed", kError);
        return false;
    }
    Log("[CrashHandler] Active — dumps in: " + dumps.string(), kInfo);
    return true;
}

}  // namespace orbel::studio::platform
