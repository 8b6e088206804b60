// How often the real orbelstudio draws and what it costs, under the display it is given (Xvfb
// with Mesa's llvmpipe in scripts/bench, 1920 x 1080), with the sensor emulator streaming 20
// frames/s and Aravis's fake camera (1920 x 1200) on loopback. Each session starts the program,
// waits for its main window and measures, in this order:
//  - idle: the main window, not streaming, no input;
//  - idle input: the pointer moved over the 3D view every 750 ms (longer than the frames
//    drawn after an input last), nothing else;
//  - streaming: "Start streaming" clicked, no input;
//  - streaming with the pointer moving over the 3D view every 8 ms;
// reporting frames drawn per second, the process's CPU time per second (1.0 = one core, all
// its threads, the renderer's included; also by thread) and the latency from each event to
// the frame that shows it: from an input (sent through XTEST and synced with the server) or a
// frame request (stamped by whoever posted new data) to the start of the frame that takes it
// in and to the end of that frame's swap; for input also from the moment the program's event
// callback saw it (what the X server takes to deliver an input is left out there). The
// program writes the frames' times (ORBEL_FRAME_LOG); the baseline is the same program drawing
// every frame as soon as the last is swapped (ORBEL_FRAME_LOOP=every-frame), as it did before
// it waited for changes. Sessions of both loops alternate; the table shows each figure's
// median over the sessions (latencies: percentiles over all sessions' events).
//
// Run it inside a private network namespace with a display (scripts/bench bench_frame_pacing);
// ORBEL_BENCH_SESSIONS sets the number of sessions per loop (default 3).
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

#include "app/ConfigHandler.h"
#include "app/Startup.h"
#include "app/StudioApp.h"
#include "gui/e2e/StudioSession.h"
#include "common/SpawnProgram.h"
#include "support/FakeCamera.h"

// Last: Xlib's macros (None, Status, ...) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using orbel::testing::kLayout;

constexpr auto kWindow = 5s;  // each measured stretch

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct FrameRecord {
    int64_t start = 0;
    int64_t end = 0;
    int64_t requested = 0;  // 0: no frame request before it
    int64_t input = 0;      // 0: no input before it
};

std::vector<FrameRecord> ReadFrameLog(const fs::path& file) {
    std::vector<FrameRecord> frames;
    std::ifstream in(file);
    FrameRecord record;
    while (in >> record.start >> record.end >> record.requested >> record.input) frames.push_back(record);
    return frames;
}

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> values((std::istream_iterator<std::string>(fields)), std::istream_iterator<std::string>());
    if (values.size() < 13) return 0.0;
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the command's name.
    return (std::stod(values[11]) + std::stod(values[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds by thread name (digits dropped: llvmpipe's workers are one group).
std::map<std::string, double> CpuByThread(pid_t pid) {
    std::map<std::string, double> byName;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t open = text.find('(');
        const std::size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::string name = text.substr(open + 1, close - open - 1);
        name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }), name.end());
        std::istringstream fields(text.substr(close + 2));
        std::vector<std::string> values((std::istream_iterator<std::string>(fields)),
                                        std::istream_iterator<std::string>());
        if (values.size() < 13) continue;
        byName[name] += (std::stod(values[11]) + std::stod(values[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return byName;
}

double Median(std::vector<double> values) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    return values[at];
}

// The pointer and its buttons, as the X server's test extension plays them.
class Pointer {
public:
    Pointer() : display_(XOpenDisplay(nullptr)) {}
    ~Pointer() {
        if (display_) XCloseDisplay(display_);
    }
    Pointer(const Pointer&) = delete;
    Pointer& operator=(const Pointer&) = delete;
    bool Ready() const { return display_ != nullptr; }

    // Returns when the server has taken the move: the time the program can see it from.
    int64_t MoveTo(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XSync(display_, False);
        return NowNs();
    }
    void Click(int x, int y) {
        MoveTo(x, y);
        std::this_thread::sleep_for(200ms);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XSync(display_, False);
        std::this_thread::sleep_for(100ms);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XSync(display_, False);
    }

private:
    Display* display_;
};

// What one stretch of a session measured.
struct Stretch {
    double framesPerSecond = 0.0;
    double cores = 0.0;
    std::vector<double> inputToStartMs;
    std::vector<double> inputToEndMs;
    std::vector<double> seenInputToStartMs;  // from the program's own sight of the input
    std::vector<double> dataToStartMs;
    std::vector<double> dataToEndMs;
    std::map<std::string, double> coresByThread;
};

struct Window {
    int64_t from = 0;
    int64_t to = 0;
    double cpuFrom = 0.0;
    double cpuTo = 0.0;
    std::map<std::string, double> threadsFrom;
    std::map<std::string, double> threadsTo;
    std::vector<int64_t> inputs;
};

Stretch Evaluate(const Window& window, const std::vector<FrameRecord>& frames) {
    Stretch stretch;
    int count = 0;
    for (const FrameRecord& frame : frames) {
        if (frame.start < window.from || frame.start >= window.to) continue;
        ++count;
        if (frame.input != 0 && !window.inputs.empty()) {
            stretch.seenInputToStartMs.push_back(static_cast<double>(frame.start - frame.input) / 1e6);
        }
        if (frame.requested != 0 && frame.requested >= window.from) {
            stretch.dataToStartMs.push_back(static_cast<double>(frame.start - frame.requested) / 1e6);
            stretch.dataToEndMs.push_back(static_cast<double>(frame.end - frame.requested) / 1e6);
        }
    }
    const double seconds = static_cast<double>(window.to - window.from) / 1e9;
    stretch.framesPerSecond = count / seconds;
    stretch.cores = (window.cpuTo - window.cpuFrom) / seconds;
    for (const auto& [name, to] : window.threadsTo) {
        const auto from = window.threadsFrom.find(name);
        stretch.coresByThread[name] = (to - (from != window.threadsFrom.end() ? from->second : 0.0)) / seconds;
    }
    for (const int64_t input : window.inputs) {
        const auto frame = std::find_if(frames.begin(), frames.end(), [&](const FrameRecord& f) { return f.start >= input; });
        if (frame == frames.end()) continue;
        stretch.inputToStartMs.push_back(static_cast<double>(frame->start - input) / 1e6);
        stretch.inputToEndMs.push_back(static_cast<double>(frame->end - input) / 1e6);
    }
    return stretch;
}

enum Phase { kIdle, kIdleInput, kStreaming, kStreamingInput, kPhases };
const char* const kPhaseNames[kPhases] = {"idle", "idle, pointer moved every 750 ms", "streaming",
                                          "streaming, pointer moving over the 3D view"};

struct Session {
    bool ok = false;
    std::string failure;
    Stretch phases[kPhases];
};

bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

Session RunSession(bool everyFrame, const orbel::testing::FakeCamera& camera) {
    Session session;
    orbel::emulator::SensorEmulator emulator;
    char pattern[] = "/tmp/orbel-bench-pacing-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        session.failure = "no temporary folder";
        return session;
    }
    const fs::path data = pattern;
    const fs::path appData = data / "Velmorant" / "OrbelStudio";
    const fs::path frameLog = data / "frames.log";
    fs::create_directories(appData);
    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    sensor->sensor_ip = "127.0.0.1";
    sensor->sensor_port = emulator.Port();
    sensor->camera_ip = camera.Address();
    sensor->enable_camera = true;
    sensor->enable_colorizer = false;
    orbel::studio::gui::ConfigHandler::Save(std::make_shared<orbel::studio::gui::ViewerConfig>(), sensor,
                                            appData / "settings.bin");
    std::vector<std::string> environment = {"XDG_DATA_HOME=" + data.string(),
                                            std::string(orbel::studio::gui::kFrameLogVariable) + "=" +
                                                frameLog.string()};
    if (everyFrame) {
        environment.push_back(std::string(orbel::studio::gui::kFrameLoopVariable) + "=" +
                              orbel::studio::gui::kFrameLoopEveryFrame);
    }
    const auto log = [&] { return orbel::testing::ReadFile(appData / "orbelstudio.log"); };
    const pid_t pid = orbel::bench::SpawnQuiet({ORBEL_STUDIO_EXECUTABLE}, environment);
    Pointer pointer;
    orbel::testing::XDisplay display;
    Window windows[kPhases];
    const auto measure = [&](Window& window, const std::function<void()>& during) {
        window.threadsFrom = CpuByThread(pid);
        window.cpuFrom = CpuSeconds(pid);
        window.from = NowNs();
        during();
        window.to = NowNs();
        window.cpuTo = CpuSeconds(pid);
        window.threadsTo = CpuByThread(pid);
    };
    const auto run = [&]() -> std::string {
        if (pid <= 0) return "orbelstudio cannot be started";
        if (!pointer.Ready() || !display.Open()) return "no display";
        if (!orbel::testing::Eventually(
                [&] { return log().find(orbel::studio::gui::kWindowReadyLogText) != std::string::npos || !Alive(pid); },
                60s) ||
            !Alive(pid)) {
            return "no main window";
        }
        pointer.MoveTo(kLayout.restX, kLayout.restY);
        std::this_thread::sleep_for(2s);  // the layout drawn, the GUI settled

        measure(windows[kIdle], [] { std::this_thread::sleep_for(kWindow); });
        measure(windows[kIdleInput], [&] {
            const auto end = Clock::now() + kWindow;
            for (int i = 0; Clock::now() < end; ++i) {
                const int dx = (i % 2) ? 40 : -40;
                windows[kIdleInput].inputs.push_back(pointer.MoveTo(kLayout.view3D.CentreX() + dx, kLayout.view3D.CentreY()));
                std::this_thread::sleep_for(750ms);
            }
        });

        std::vector<orbel::testing::Rect> right;
        const fs::path shot = data / "sensor-panel.png";
        if (!orbel::testing::Eventually([&] {
                pointer.MoveTo(kLayout.restX, kLayout.restY);
                if (orbel::testing::RunTool({"import", "-window", "root", shot.string()}) != 0) return false;
                right.clear();
                for (const auto& button : orbel::testing::FindButtons(orbel::testing::Screenshot(shot), kLayout.sensorPanel)) {
                    if (button.right > kLayout.sensorPanel.CentreX()) right.push_back(button);
                }
                return right.size() == 1;
            })) {
            return "no streaming button";
        }
        pointer.Click(right.front().CentreX(), right.front().CentreY());
        if (!emulator.WaitForFrames(orbel::emulator::ids::kStart, 1, 30s)) return "the sensor was not started";
        if (!orbel::testing::Eventually([&] { return log().find("Frames arriving") != std::string::npos; }, 30s)) {
            return "no frames arrived";
        }
        pointer.MoveTo(kLayout.restX, kLayout.restY);
        std::this_thread::sleep_for(3s);  // the camera view opened, the GUI settled

        measure(windows[kStreaming], [] { std::this_thread::sleep_for(kWindow); });
        measure(windows[kStreamingInput], [&] {
            const auto end = Clock::now() + kWindow;
            for (int i = 0; Clock::now() < end; ++i) {
                const double angle = i * 0.05;
                windows[kStreamingInput].inputs.push_back(
                    pointer.MoveTo(kLayout.view3D.CentreX() + static_cast<int>(150 * std::cos(angle)),
                                   kLayout.view3D.CentreY() + static_cast<int>(100 * std::sin(angle))));
                std::this_thread::sleep_for(8ms);
            }
        });
        pointer.MoveTo(kLayout.restX, kLayout.restY);
        return "";
    };
    session.failure = run();
    if (pid > 0) {
        if (const auto window = display.Open() ? display.FindWindow(orbel::studio::gui::kWindowTitle)
                                               : std::nullopt) {
            display.RequestClose(*window);
        }
        int status = 0;
        const bool ended = orbel::testing::Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30s);
        if (!ended) {
            kill(pid, SIGKILL);  // our own child
            waitpid(pid, nullptr, 0);
        }
    }
    if (session.failure.empty()) {
        const std::vector<FrameRecord> frames = ReadFrameLog(frameLog);
        for (int phase = 0; phase < kPhases; ++phase) session.phases[phase] = Evaluate(windows[phase], frames);
        session.ok = true;
    } else {
        session.failure += "\n" + log();
    }
    fs::remove_all(data);
    return session;
}

std::map<bool, std::vector<Session>> sessions;  // by loop: every frame (true) or on change

void BM_FramePacing(benchmark::State& state) {
    orbel::testing::FakeCamera camera;
    if (!camera.Ready()) {
        state.SkipWithError(("no fake camera: " + camera.Reason()).c_str());
        return;
    }
    camera.Configure("Width=1920 Height=1200");
    const char* count = std::getenv("ORBEL_BENCH_SESSIONS");
    const int repeats = count != nullptr ? std::max(1, std::atoi(count)) : 3;
    for (auto _ : state) {
        for (int i = 0; i < repeats; ++i) {
            for (const bool everyFrame : {false, true}) {
                Session session = RunSession(everyFrame, camera);
                if (!session.ok) {
                    state.SkipWithError(session.failure.c_str());
                    return;
                }
                sessions[everyFrame].push_back(std::move(session));
            }
        }
    }
}
BENCHMARK(BM_FramePacing)->Iterations(1)->Unit(benchmark::kSecond);

void PrintTable() {
    if (sessions[false].empty() || sessions[true].empty()) return;
    const auto median = [](const std::vector<Session>& runs, int phase, auto field) {
        std::vector<double> values;
        for (const Session& run : runs) values.push_back(field(run.phases[phase]));
        return Median(values);
    };
    const auto all = [](const std::vector<Session>& runs, int phase, std::vector<double> Stretch::*field) {
        std::vector<double> values;
        for (const Session& run : runs) {
            const std::vector<double>& more = run.phases[phase].*field;
            values.insert(values.end(), more.begin(), more.end());
        }
        return values;
    };
    std::printf("\nMedians over %zu sessions per loop (1920 x 1080; CPU: 1.00 = one core):\n", sessions[false].size());
    std::printf("%-46s %22s %22s\n", "", "waits for changes", "every frame (baseline)");
    for (int phase = 0; phase < kPhases; ++phase) {
        std::printf("%s\n", kPhaseNames[phase]);
        std::printf("  %-44s %22.1f %22.1f\n", "frames drawn per second",
                    median(sessions[false], phase, [](const Stretch& s) { return s.framesPerSecond; }),
                    median(sessions[true], phase, [](const Stretch& s) { return s.framesPerSecond; }));
        std::printf("  %-44s %22.3f %22.3f\n", "CPU (cores)",
                    median(sessions[false], phase, [](const Stretch& s) { return s.cores; }),
                    median(sessions[true], phase, [](const Stretch& s) { return s.cores; }));
        const auto latency = [&](const char* name, std::vector<double> Stretch::*field) {
            const std::vector<double> ours = all(sessions[false], phase, field);
            const std::vector<double> base = all(sessions[true], phase, field);
            if (ours.empty() && base.empty()) return;
            std::printf("  %-44s %8.1f/%5.1f/%6.1f %8.1f/%5.1f/%6.1f\n", name, Percentile(ours, 0.5),
                        Percentile(ours, 0.99), ours.empty() ? std::nan("") : *std::max_element(ours.begin(), ours.end()),
                        Percentile(base, 0.5), Percentile(base, 0.99),
                        base.empty() ? std::nan("") : *std::max_element(base.begin(), base.end()));
        };
        for (const bool everyFrame : {false, true}) {
            std::map<std::string, std::vector<double>> byName;
            for (const Session& run : sessions[everyFrame]) {
                for (const auto& [name, cores] : run.phases[phase].coresByThread) byName[name].push_back(cores);
            }
            std::string line;
            for (const auto& [name, values] : byName) {
                const double cores = Median(values);
                if (cores < 0.02) continue;
                char part[96];
                std::snprintf(part, sizeof part, " %s %.2f", name.c_str(), cores);
                line += part;
            }
            std::printf("    threads, %s:%s\n", everyFrame ? "every frame" : "waits", line.c_str());
        }
        latency("input -> frame start, ms (p50/p99/max)", &Stretch::inputToStartMs);
        latency("input -> frame swapped, ms (p50/p99/max)", &Stretch::inputToEndMs);
        latency("input seen by the program -> frame start, ms", &Stretch::seenInputToStartMs);
        latency("new data -> frame start, ms (p50/p99/max)", &Stretch::dataToStartMs);
        latency("new data -> frame swapped, ms (p50/p99/max)", &Stretch::dataToEndMs);
    }
    std::printf("Goals (llvmpipe): idle under 0.05 cores; streaming under 1 core; every frame started within one\n"
                "refresh interval (16.7 ms at 60 Hz) of its event.\n");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintTable();
    benchmark::Shutdown();
    return 0;
}
