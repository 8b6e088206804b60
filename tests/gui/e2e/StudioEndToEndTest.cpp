// orbelstudio end to end, as a user runs it: the real program under the test's X display,
// its application-data folder in a temporary folder whose settings name the sensor emulator
// on 127.0.0.1. xdotool presses the buttons (found by their colour in a screenshot), the
// emulator's record shows what reached the sensor, the program's log shows what it saw, and
// a close request like a window manager's ends it. Every step leaves a screenshot in
// e2e-artefacts/ of the test build folder.
//
// Runs on an Xvfb of its own (or, without Xvfb, on DISPLAY) and needs xdotool and ImageMagick's
// import; without them the test is skipped, or fails where ORBEL_REQUIRE_DISPLAY asks for a
// display.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

#include "app/ConfigHandler.h"
#include "app/StudioApp.h"
#include "gui/e2e/XDisplay.h"
#include "proto/viewer_config.pb.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kStartDeadline = 90s;  // the sanitizer build under a software renderer is slow to start
constexpr auto kStepDeadline = 30s;

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

// Runs a program to its end; its exit status, or -1 when it could not be run.
int RunTool(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ToolExists(const std::string& name) {
    return RunTool({"sh", "-c", "command -v " + name + " >/dev/null"}) == 0;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A screenshot, read back for its pixels.
class Screenshot {
public:
    explicit Screenshot(const fs::path& file) {
        int channels = 0;
        pixels_ = stbi_load(file.c_str(), &width_, &height_, &channels, 3);
    }
    ~Screenshot() { stbi_image_free(pixels_); }
    Screenshot(const Screenshot&) = delete;
    Screenshot& operator=(const Screenshot&) = delete;

    bool Valid() const { return pixels_ != nullptr; }
    bool Is(int x, int y, const unsigned char rgb[3]) const {
        const unsigned char* p = pixels_ + (static_cast<size_t>(y) * width_ + x) * 3;
        return p[0] == rgb[0] && p[1] == rgb[1] && p[2] == rgb[2];
    }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    int width_ = 0;
    int height_ = 0;
    unsigned char* pixels_ = nullptr;
};

struct Button {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    int CentreX() const { return (left + right) / 2; }
    int CentreY() const { return (top + bottom) / 2; }
};

std::string Describe(const std::vector<Button>& buttons) {
    std::string text = std::to_string(buttons.size()) + " buttons:";
    for (const Button& b : buttons) {
        text += " [" + std::to_string(b.left) + ".." + std::to_string(b.right) + " x " + std::to_string(b.top) +
                ".." + std::to_string(b.bottom) + "]";
    }
    return text;
}

// The enabled, unhovered buttons in an area, by the theme's button colour (0.2, 0.25, 0.3):
// runs of at least 40 such pixels on a row, joined into one button with the runs above that
// share their columns; left to right.
std::vector<Button> FindButtons(const Screenshot& shot, int maxX, int maxY) {
    static const unsigned char kButton[3] = {51, 64, 77};
    std::vector<Button> buttons;
    for (int y = 0; y < std::min(maxY, shot.Height()); ++y) {
        int x = 0;
        while (x < std::min(maxX, shot.Width())) {
            if (!shot.Is(x, y, kButton)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < std::min(maxX, shot.Width()) && shot.Is(x, y, kButton)) ++x;
            if (x - start < 40) continue;
            // Rows through the label are cut by its glyphs into short runs; a run joins the
            // button whose columns it shares less than a line of text above it.
            bool merged = false;
            for (Button& button : buttons) {
                if (start < button.right && x > button.left && y - button.bottom <= 16) {
                    button.left = std::min(button.left, start);
                    button.right = std::max(button.right, x);
                    button.bottom = y;
                    merged = true;
                    break;
                }
            }
            if (!merged) buttons.push_back({start, x, y, y});
        }
    }
    std::sort(buttons.begin(), buttons.end(), [](const Button& a, const Button& b) { return a.left < b.left; });
    return buttons;
}

// An X server of the test's own (Xvfb, 1920 x 1080), so that nothing else drawn on a shared
// display can cover the program or take its clicks. DISPLAY names it for the test and every
// program the test starts.
class PrivateXServer {
public:
    bool Start() {
        int fds[2];
        if (pipe(fds) != 0) return false;
        const std::string fd = std::to_string(fds[1]);
        std::vector<std::string> arguments = {"Xvfb", "-displayfd", fd, "-screen", "0", "1920x1080x24", "-nolisten",
                                              "tcp"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int error = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (error != 0) {
            close(fds[0]);
            pid_ = 0;
            return false;
        }
        // Xvfb writes its display number once it accepts clients.
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return false;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }
    ~PrivateXServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = 0;
};

class StudioEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        const bool required = std::getenv("ORBEL_REQUIRE_DISPLAY") != nullptr;
        std::string missing;
        if (!(ToolExists("Xvfb") && xServer.Start()) && std::getenv("DISPLAY") == nullptr) {
            missing = "no display: neither Xvfb nor DISPLAY";
        } else if (!ToolExists("xdotool")) missing = "xdotool is not installed";
        else if (!ToolExists("import")) missing = "ImageMagick's import is not installed";
        if (!missing.empty()) {
            if (required) FAIL() << missing;
            GTEST_SKIP() << missing;
        }
        artefacts = fs::path(ORBEL_E2E_ARTEFACTS);
        fs::remove_all(artefacts);
        fs::create_directories(artefacts);
        char pattern[] = "/tmp/orbelstudio-e2e-XXXXXX";
        dataRoot = mkdtemp(pattern);
        appData = dataRoot / "Velmorant" / "OrbelStudio";
        fs::create_directories(appData);
    }

    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (!dataRoot.empty()) {
            // The program's own files stay with the screenshots for whoever reads a failure.
            for (const char* name : {"orbelstudio.log", "settings.bin"}) {
                std::error_code ignored;
                fs::copy_file(appData / name, artefacts / name, fs::copy_options::overwrite_existing, ignored);
            }
            fs::remove_all(dataRoot);
        }
    }

    // Settings in the program's own schema: the emulator as the sensor, no camera, and a 3D
    // range that the program does not keep, so that a rewritten file shows itself.
    void WriteSettings() {
        auto sensor = std::make_shared<orbel::studio::SensorConfig>();
        sensor->sensor_ip = "127.0.0.1";
        sensor->sensor_port = emulator.Port();
        sensor->camera_ip = "127.0.0.2";
        sensor->enable_camera = false;
        sensor->enable_colorizer = false;
        auto viewer = std::make_shared<orbel::studio::gui::ViewerConfig>();
        viewer->view3d_min_scalar_value = -1234.0f;
        ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Save(viewer, sensor, appData / "settings.bin"));
    }

    void StartStudio() {
        const auto replaced = [](const std::string& variable) {
            for (const char* name : {"LOCALAPPDATA=", "APPDATA=", "XDG_DATA_HOME=", "ASAN_OPTIONS="}) {
                if (variable.rfind(name, 0) == 0) return true;
            }
            return false;
        };
        std::vector<std::string> variables;
        for (char** entry = environ; *entry; ++entry) {
            if (!replaced(*entry)) variables.emplace_back(*entry);
        }
        variables.push_back("XDG_DATA_HOME=" + dataRoot.string());
        // The GL driver and GTK keep memory until exit that is not ours to free.
        variables.push_back("ASAN_OPTIONS=detect_leaks=0");
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = (artefacts / "orbelstudio.out").string();
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        char program[] = ORBEL_STUDIO_EXECUTABLE;
        char* argv[] = {program, nullptr};
        const int error = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(error, 0) << std::strerror(error);
    }

    std::string Log() const { return ReadFile(appData / "orbelstudio.log"); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
    bool Running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

    fs::path Shoot(const std::string& name) {
        const fs::path file = artefacts / (name + ".png");
        EXPECT_EQ(RunTool({"import", "-window", "root", file.string()}), 0) << name;
        return file;
    }

    // The sensor panel's buttons, left to right, in a fresh screenshot.
    std::vector<Button> SensorPanelButtons(const std::string& shotName) {
        const Screenshot shot(Shoot(shotName));
        EXPECT_TRUE(shot.Valid()) << shotName;
        // The sensor panel is the top 310 pixels of the 350-pixel left column.
        return shot.Valid() ? FindButtons(shot, 360, 320) : std::vector<Button>{};
    }

    // The pointer stays on the button: the program reads its position once per frame, so it
    // must still be there on the frames that see the press and the release.
    void Click(const Button& button) {
        ASSERT_EQ(RunTool({"xdotool", "mousemove", std::to_string(button.CentreX()), std::to_string(button.CentreY()),
                           "click", "1"}),
                  0);
    }
    // Once the click has shown its effect: away, so that screenshots show the buttons unhovered.
    void MoveAway() { ASSERT_EQ(RunTool({"xdotool", "mousemove", "960", "700"}), 0); }

    PrivateXServer xServer;
    orbel::emulator::SensorEmulator emulator;
    fs::path artefacts;
    fs::path dataRoot;
    fs::path appData;
    pid_t pid = 0;
};

TEST_F(StudioEndToEndTest, StreamStopDisconnectAndClose) {
    WriteSettings();
    StartStudio();
    orbel::testing::XDisplay x;
    ASSERT_TRUE(x.Open());
    ASSERT_TRUE(Eventually([&] { return x.FindWindow("Orbel Studio - 1.1.1").has_value() || !Running(); },
                           kStartDeadline));
    ASSERT_TRUE(Running()) << ReadFile(artefacts / "orbelstudio.out");
    // The splash, once the window has drawn something over the black root.
    static const unsigned char kBlack[3] = {0, 0, 0};
    EXPECT_TRUE(Eventually(
        [&] {
            const Screenshot shot(Shoot("00-splash"));
            return shot.Valid() && !shot.Is(shot.Width() / 2, shot.Height() / 2, kBlack);
        },
        kStartDeadline));

    ASSERT_TRUE(Eventually([&] { return LogHas(orbel::studio::gui::kWindowReadyLogText) || !Running(); },
                           kStartDeadline))
        << Log();
    ASSERT_TRUE(LogHas("Main window ready (1920 x 1080)")) << Log();
    // Idle: only "Start streaming" is enabled ("Disconnect" is greyed out).
    std::vector<Button> buttons;
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("01-main")).size() == 1; }, kStepDeadline))
        << Describe(buttons);

    Click(buttons.back());
    ASSERT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStart, 1, kStepDeadline)) << "the sensor was not started";
    ASSERT_TRUE(Eventually([&] { return LogHas("Frames arriving: frame "); }, kStepDeadline)) << Log();
    EXPECT_TRUE(LogHas("Sensor started"));
    MoveAway();
    // Streaming: the same place now holds "Stop streaming"; "Disconnect" stays greyed out.
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("02-streaming")).size() == 1; }, kStepDeadline))
        << Describe(buttons);

    Click(buttons.back());
    ASSERT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, kStepDeadline)) << "the sensor was not stopped";
    ASSERT_TRUE(Eventually([&] { return LogHas("Sensor stopped"); }, kStepDeadline)) << Log();
    MoveAway();
    // Stopped and still connected: "Disconnect" and "Start streaming" are both enabled.
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("03-stopped")).size() == 2; }, kStepDeadline))
        << Describe(buttons);

    Click(buttons.front());
    ASSERT_TRUE(emulator.WaitForNoClient(kStepDeadline)) << "the connection was not closed";
    MoveAway();
    ASSERT_TRUE(Eventually([&] { return (buttons = SensorPanelButtons("04-disconnected")).size() == 1; }, kStepDeadline))
        << Describe(buttons);
    EXPECT_EQ(emulator.ConnectionCount(), 1u);

    const std::optional<unsigned long> window = x.FindWindow("Orbel Studio - 1.1.1");
    ASSERT_TRUE(window);
    x.RequestClose(*window);
    int status = 0;
    ASSERT_TRUE(Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kStepDeadline))
        << "the program did not end after the close request";
    pid = 0;
    Shoot("05-closed");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    // Settings written at the end: the range the program does not keep on loading is no longer
    // the one written before the start (the views fit it to the first frame).
    orbel::studio::gui::ViewerConfigProto saved;
    ASSERT_TRUE(saved.ParseFromString(ReadFile(appData / "settings.bin")));
    EXPECT_NE(saved.view3d_min_scalar_value(), -1234.0f);
    EXPECT_EQ(saved.sensor_ip(), "127.0.0.1");
    EXPECT_EQ(saved.sensor_port(), emulator.Port());

    const std::string log = Log();
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[critical]"), std::string::npos) << log;
    EXPECT_NE(log.find("Orbel Studio - 1.1.1 closed"), std::string::npos) << log;
    EXPECT_TRUE(fs::is_empty(appData / "dumps")) << "a crash report was left";
}

}  // namespace
