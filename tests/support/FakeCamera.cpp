#include "support/FakeCamera.h"

#include <orbel/fakecamera/Description.h>

#include <arpa/inet.h>
#include <arv.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orbel::testing {
namespace {

constexpr const char* kProgram = "arv-fake-gv-camera-0.8";

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

// Runs a program to its end; its exit status, or -1.
int Run(const std::vector<std::string>& arguments) {
    // Everything the child needs is made before fork: it may only make system calls.
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::atomic<unsigned> cameraCount{0};

std::string PickAddress() {
    const unsigned pid = static_cast<unsigned>(::getpid());
    const unsigned n = cameraCount.fetch_add(1);
    const unsigned a = 64 + (n + pid / (253 * 256)) % 64;
    const unsigned b = (pid / 253) % 256;
    const unsigned c = 1 + pid % 253;
    return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

}  // namespace

std::optional<std::string> FakeCamera::Unavailable() {
    if (!FindProgram(kProgram)) return std::string(kProgram) + " is not installed (scripts/setup installs aravis-tools)";
    if (!FindProgram("ip")) return std::string("the ip tool is not installed (iproute2)");
    struct if_nameindex* names = ::if_nameindex();
    if (names == nullptr) return std::string("the network interfaces cannot be listed");
    std::string others;
    for (struct if_nameindex* i = names; i->if_index != 0; ++i) {
        if (std::string(i->if_name) != "lo") others += std::string(others.empty() ? "" : ", ") + i->if_name;
    }
    ::if_freenameindex(names);
    if (!others.empty()) {
        return "not in a private network namespace (interfaces " + others +
               "); run the tests inside `unshare -n` as scripts/test does";
    }
    return std::nullopt;
}

bool FakeCamera::Required() { return std::getenv("ORBEL_REQUIRE_FAKE_CAMERA") != nullptr; }

FakeCamera::FakeCamera(FakeCameraOptions options) : options_(std::move(options)) {
    if (auto reason = Unavailable()) {
        reason_ = *reason;
        return;
    }
    try {
        Launch();
    } catch (const std::exception& e) {
        reason_ = e.what();
    }
}

// One fake camera streams at a time in a network namespace: several at once
// on one host hand each other's clients stray images now and then, which a
// test would read as the SDK's fault. The lock is an abstract Unix socket
// name, which belongs to the namespace and goes with the process holding it.
static int LockNamespace() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("cannot open the fake cameras' lock");
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    const char tag[] = "orbel-fake-camera";
    std::memcpy(name.sun_path + 1, tag, sizeof tag - 1);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + sizeof tag - 1);
    while (::bind(fd, reinterpret_cast<const sockaddr*>(&name), size) != 0) {
        if (errno != EADDRINUSE) {
            ::close(fd);
            throw std::runtime_error(std::string("cannot take the fake cameras' lock: ") + std::strerror(errno));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fd;
}

// An anonymous file the fake camera inherits: nothing is left on disk, whatever becomes of the test.
static int MemoryFile(const char* name) {
    const int fd = ::memfd_create(name, 0);
    if (fd < 0) throw std::runtime_error(std::string("cannot make ") + name + ": " + std::strerror(errno));
    return fd;
}

void FakeCamera::Launch() {
    lock_ = LockNamespace();
    description_ = MemoryFile("fake-camera.xml");
    const std::string xml = orbel::fakecamera::Description({options_.omitNodes, options_.bayerRG8});
    if (::write(description_, xml.data(), xml.size()) != static_cast<ssize_t>(xml.size())) {
        throw std::runtime_error("cannot write the fake camera's description");
    }
    log_ = MemoryFile("fake-camera.log");

    // Adding an address that is already there fails: the kernel hands each
    // address to one fixture only, whatever runs in parallel.
    for (int attempt = 0; attempt < 64 && !addressAdded_; ++attempt) {
        address_ = PickAddress();
        addressAdded_ = Run({"ip", "addr", "add", address_ + "/32", "dev", "lo"}) == 0;
    }
    if (!addressAdded_) throw std::runtime_error("cannot add an address of 127.64.0.0/10 to lo");

    // The fake camera reads its description through the descriptor it inherits.
    const std::string xmlPath = "/proc/self/fd/" + std::to_string(description_);
    std::vector<std::string> arguments = {kProgram, "-i", address_, "-s", options_.serial, "-g", xmlPath};
    if (options_.lostPacketsPerThousand > 0) {
        arguments.push_back("-r");
        arguments.push_back(std::to_string(options_.lostPacketsPerThousand));
    }
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Gone with the thread that made the fixture, whatever happens to the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(log_, 1);
        ::dup2(log_, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the fake camera ended at start: " + LogText());
        }
        if (Answers(100)) return;
    }
    throw std::runtime_error("the fake camera does not answer on " + address_ + ": " + LogText());
}

bool FakeCamera::Answers(int timeoutMs) const {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(3956);
    ::inet_pton(AF_INET, address_.c_str(), &to.sin_addr);
    const uint8_t command[8] = {0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0x7E, 0x57};
    ::sendto(fd, command, sizeof command, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd poll{fd, POLLIN, 0};
    bool answered = false;
    if (::poll(&poll, 1, timeoutMs) == 1) {
        uint8_t answer[512];
        const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
        answered = n >= 8 + 0xD8 + 16 && answer[2] == 0x00 && answer[3] == 0x03 && answer[6] == 0x7E &&
                   answer[7] == 0x57 &&
                   std::string(reinterpret_cast<const char*>(answer + 8 + 0xD8),
                               strnlen(reinterpret_cast<const char*>(answer + 8 + 0xD8), 16)) == options_.serial;
    }
    ::close(fd);
    return answered;
}

void FakeCamera::Configure(const std::string& features) const {
    GInetAddress* local = g_inet_address_new_from_string("127.0.0.1");
    GInetAddress* remote = g_inet_address_new_from_string(address_.c_str());
    GError* error = nullptr;
    ArvDevice* device = arv_gv_device_new(local, remote, &error);
    g_object_unref(local);
    g_object_unref(remote);
    if (device != nullptr) {
        arv_device_set_features_from_string(device, features.c_str(), &error);
        g_object_unref(device);
    }
    if (error != nullptr) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot configure the fake camera (" + features + "): " + message);
    }
}

void FakeCamera::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
}

void FakeCamera::Pause() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void FakeCamera::Resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
}

std::string FakeCamera::LogText() const {
    std::string text;
    char chunk[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(log_, chunk, sizeof chunk, at);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

FakeCamera::~FakeCamera() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::kill(pid_, SIGCONT);  // a paused camera ends too
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 200 && !reaped; ++i) {
            reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (addressAdded_) Run({"ip", "addr", "del", address_ + "/32", "dev", "lo"});
    for (int fd : {description_, log_, lock_}) {
        if (fd >= 0) ::close(fd);
    }
}

}  // namespace orbel::testing
