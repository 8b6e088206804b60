// The end-to-end fixture: the private X server, the program's start and end, screenshots and
// their pixels, the pointer and the keyboard.
#include "gui/e2e/StudioSession.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>

#include "app/ConfigHandler.h"
#include "app/MainLayout.h"
#include "app/StudioApp.h"

extern char** environ;

namespace orbel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kWindowTitle = "Orbel Studio - 1.1.1";

}  // namespace

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

int RunTool(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ToolExists(const std::string& name) { return RunTool({"sh", "-c", "command -v " + name + " >/dev/null"}) == 0; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int Rgb::Spread() const { return std::max({r, g, b}) - std::min({r, g, b}); }

Rect FittedPicture(const Rect& region, int width, int height) {
    const double scale =
        std::min(static_cast<double>(region.Width()) / width, static_cast<double>(region.Height()) / height);
    const int fittedWidth = static_cast<int>(width * scale);
    const int fittedHeight = static_cast<int>(height * scale);
    const int left = region.left + (region.Width() - fittedWidth) / 2;
    const int top = region.top + (region.Height() - fittedHeight) / 2;
    return {left, top, left + fittedWidth, top + fittedHeight};
}

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
    return out << "[" << rect.left << ".." << rect.right << " x " << rect.top << ".." << rect.bottom << "]";
}

std::string Describe(const std::vector<Rect>& rects) {
    std::ostringstream text;
    text << rects.size() << " rectangles:";
    for (const Rect& rect : rects) text << " " << rect;
    return text.str();
}

Screenshot::Screenshot(const fs::path& file) {
    int channels = 0;
    pixels_ = stbi_load(file.c_str(), &width_, &height_, &channels, 3);
}

Screenshot::~Screenshot() { stbi_image_free(pixels_); }

Screenshot::Screenshot(Screenshot&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      pixels_(std::exchange(other.pixels_, nullptr)) {}

Screenshot& Screenshot::operator=(Screenshot&& other) noexcept {
    if (this != &other) {
        stbi_image_free(pixels_);
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        pixels_ = std::exchange(other.pixels_, nullptr);
    }
    return *this;
}

Rgb Screenshot::At(int x, int y) const {
    if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const unsigned char* p = pixels_ + (static_cast<size_t>(y) * width_ + x) * 3;
    return {p[0], p[1], p[2]};
}

namespace {
Rect Clip(const Rect& area, int width, int height) {
    return {std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, width), std::min(area.bottom, height)};
}
}  // namespace

int CountDifferences(const Screenshot& a, const Screenshot& b, const Rect& area) {
    const Rect clipped =
        Clip(area, std::min(a.Width(), b.Width()), std::min(a.Height(), b.Height()));
    int count = 0;
    for (int y = clipped.top; y < clipped.bottom; ++y) {
        for (int x = clipped.left; x < clipped.right; ++x) {
            if (!(a.At(x, y) == b.At(x, y))) ++count;
        }
    }
    return count;
}

int CountPixels(const Screenshot& shot, const Rect& area, const std::function<bool(Rgb)>& predicate) {
    const Rect clipped = Clip(area, shot.Width(), shot.Height());
    int count = 0;
    for (int y = clipped.top; y < clipped.bottom; ++y) {
        for (int x = clipped.left; x < clipped.right; ++x) {
            if (predicate(shot.At(x, y))) ++count;
        }
    }
    return count;
}

std::vector<Rect> FindRects(const Screenshot& shot, const Rect& area, Rgb colour, int minRun) {
    std::vector<Rect> rects;
    std::vector<bool> open;  // seen on the row before: rows through a label still show some fill
    const Rect clipped = Clip(area, shot.Width(), shot.Height());
    for (int y = clipped.top; y < clipped.bottom; ++y) {
        for (std::size_t i = 0; i < rects.size(); ++i) {
            if (!open[i]) continue;
            Rect& rect = rects[i];
            bool seen = false;
            for (int x = rect.left; x < rect.right && !seen; ++x) seen = shot.Is(x, y, colour);
            open[i] = seen;
            if (seen) rect.bottom = y + 1;
        }
        int x = clipped.left;
        while (x < clipped.right) {
            if (!shot.Is(x, y, colour)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < clipped.right && shot.Is(x, y, colour)) ++x;
            if (x - start < minRun) continue;
            bool merged = false;
            for (std::size_t i = 0; i < rects.size() && !merged; ++i) {
                Rect& rect = rects[i];
                if (open[i] && start < rect.right && x > rect.left) {
                    rect.left = std::min(rect.left, start);
                    rect.right = std::max(rect.right, x);
                    merged = true;
                }
            }
            if (!merged) {
                rects.push_back({start, y, x, y + 1});
                open.push_back(true);
            }
        }
    }
    std::sort(rects.begin(), rects.end(), [](const Rect& a, const Rect& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });
    return rects;
}

std::vector<Rect> FindButtons(const Screenshot& shot, const Rect& area, int minWidth) {
    return FindRects(shot, area, theme::kButton, minWidth);
}

std::optional<Rect> PointSizePlus(const Screenshot& shot) {
    std::vector<Rect> small;
    for (const Rect& button : FindButtons(shot, kLayout.viewerPanel, 10)) {
        if (button.Width() <= 30 && button.Height() <= 30) small.push_back(button);
    }
    std::optional<Rect> plus;
    int pairs = 0;
    for (std::size_t i = 0; i < small.size(); ++i) {
        for (std::size_t j = i + 1; j < small.size(); ++j) {
            if (std::abs(small[i].CentreY() - small[j].CentreY()) <= 3) {
                ++pairs;
                plus = small[i].left > small[j].left ? small[i] : small[j];
            }
        }
    }
    return pairs == 1 ? plus : std::nullopt;
}

StudioLayout MakeStudioLayout() {
    using orbel::studio::gui::LayoutSizes;
    // The theme's window padding and item spacing; a bordered child's border and padding.
    constexpr int kPadding = 8;
    constexpr int kSpacingX = 8;
    constexpr int kSpacingY = 6;
    constexpr int kScreenWidth = 1920;
    constexpr int kScreenHeight = 1080;
    const int column = static_cast<int>(LayoutSizes::kColumnWidth);
    const int separator = static_cast<int>(LayoutSizes::kSeparatorWidth);
    const int contentWidth = kScreenWidth - 2 * kPadding;
    const int contentHeight = kScreenHeight - 2 * kPadding;

    StudioLayout layout;
    const int left = kPadding;
    int y = kPadding;
    layout.sensorPanel = {left, y, left + column, y + static_cast<int>(LayoutSizes::kSensorPanelHeight)};
    y = layout.sensorPanel.bottom + kSpacingY;
    layout.sessionPanel = {left, y, left + column, y + static_cast<int>(LayoutSizes::kSessionPanelHeight)};
    y = layout.sessionPanel.bottom + kSpacingY;
    layout.toolboxPanel = {left, y, left + column,
                           y + static_cast<int>(orbel::studio::gui::ProcessingPanelHeight(contentHeight))};

    const int centreLeft = left + column + kSpacingX + separator + kSpacingX;
    const int centreWidth = static_cast<int>(orbel::studio::gui::CentreWidth(contentWidth, false, false));
    const orbel::studio::gui::ViewerConfig defaults;
    const auto centre = orbel::studio::gui::ComputeCentre(
        true, false, false, defaults.lidar_2d_view_scale_factor, defaults.camera_split_ratio,
        static_cast<float>(centreWidth - 2 * kPadding), static_cast<float>(contentHeight - 2 * kPadding));
    const int viewLeft = centreLeft + kPadding;
    const int viewTop = kPadding + kPadding;
    layout.view3D = {viewLeft, viewTop, viewLeft + static_cast<int>(centre.view3DWidth),
                     viewTop + static_cast<int>(centre.view3DHeight)};
    const int view2DTop = layout.view3D.bottom + static_cast<int>(LayoutSizes::kSplitterThickness);
    layout.view2D = {viewLeft, view2DTop, viewLeft + static_cast<int>(centre.view3DWidth),
                     view2DTop + static_cast<int>(centre.view2DHeight)};
    // With the camera view: the view keeps its share of the width less the splitter, the camera
    // the rest, each in whole pixels, the splitter between them.
    const auto split = orbel::studio::gui::ComputeCentre(
        true, true, false, defaults.lidar_2d_view_scale_factor, defaults.camera_split_ratio,
        static_cast<float>(centreWidth - 2 * kPadding), static_cast<float>(contentHeight - 2 * kPadding));
    const int cameraOffset =
        static_cast<int>(std::floor(split.view3DWidth)) + static_cast<int>(LayoutSizes::kSplitterThickness);
    const int cameraWidth = static_cast<int>(std::floor(split.cameraWidth));
    layout.cameraBelow = {viewLeft + cameraOffset, layout.view2D.top, viewLeft + cameraOffset + cameraWidth,
                          layout.view2D.bottom};
    layout.cameraAbove = {viewLeft + cameraOffset, layout.view3D.top, viewLeft + cameraOffset + cameraWidth,
                          layout.view3D.bottom};

    const int rightLeft = centreLeft + centreWidth + kSpacingX + separator + kSpacingX;
    const int logHeight = static_cast<int>(LayoutSizes::kLogPanelHeight);
    layout.viewerPanel = {rightLeft, kPadding, rightLeft + column, kPadding + contentHeight - logHeight - kSpacingY};
    layout.logPanel = {rightLeft, layout.viewerPanel.bottom + kSpacingY, rightLeft + column, kPadding + contentHeight};

    // The sensor panel's empty lower part.
    layout.restX = layout.sensorPanel.CentreX();
    layout.restY = layout.sensorPanel.bottom - 40;
    return layout;
}

// An X server of the test's own (Xvfb, 1920 x 1080), so that nothing else drawn on a shared
// display can cover the program or take its clicks. DISPLAY names it for the test and every
// program the test starts.
class StudioSession::XServer {
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
    ~XServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = 0;
};

void StudioSession::SetUp() {
    const bool required = std::getenv("ORBEL_REQUIRE_DISPLAY") != nullptr;
    std::string missing;
    auto server = std::make_shared<XServer>();
    if (!(ToolExists("Xvfb") && server->Start()) && std::getenv("DISPLAY") == nullptr) {
        missing = "no display: neither Xvfb nor DISPLAY";
    } else if (!ToolExists("xdotool")) {
        missing = "xdotool is not installed";
    } else if (!ToolExists("import")) {
        missing = "ImageMagick's import is not installed";
    }
    xServer_ = std::move(server);
    if (missing.empty()) {
        display_ = std::make_unique<XDisplay>();
        if (!display_->Open()) missing = "the display cannot be opened";
    }
    if (!missing.empty()) {
        if (required) FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    artefacts = fs::path(ORBEL_E2E_ARTEFACTS) / (std::string(test->test_suite_name()) + "." + test->name());
    fs::remove_all(artefacts);
    fs::create_directories(artefacts);
    char pattern[] = "/tmp/orbelstudio-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr) << std::strerror(errno);
    dataRoot = pattern;
    appData = dataRoot / "Velmorant" / "OrbelStudio";
    scratch = dataRoot / "scratch";
    fs::create_directories(appData);
    fs::create_directories(scratch);
    program_ = ORBEL_STUDIO_EXECUTABLE;
}

void StudioSession::TearDown() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
    if (!dataRoot.empty()) {
        // The program's own files stay with the screenshots for whoever reads a failure.
        for (const char* name : {"orbelstudio.log", "settings.bin"}) {
            std::error_code ignored;
            fs::copy_file(appData / name, artefacts / name, fs::copy_options::overwrite_existing, ignored);
        }
        std::error_code ignored;
        fs::remove_all(dataRoot, ignored);
    }
    display_.reset();
    xServer_.reset();
}

void StudioSession::WriteSettings(
    const std::function<void(orbel::studio::SensorConfig&, orbel::studio::gui::ViewerConfig&)>& adjust) {
    auto sensor = std::make_shared<orbel::studio::SensorConfig>();
    sensor->sensor_ip = "127.0.0.1";
    sensor->sensor_port = emulator.Port();
    sensor->camera_ip = "127.0.0.2";
    sensor->enable_camera = false;
    sensor->enable_colorizer = false;
    auto viewer = std::make_shared<orbel::studio::gui::ViewerConfig>();
    if (adjust) adjust(*sensor, *viewer);
    ASSERT_TRUE(orbel::studio::gui::ConfigHandler::Save(viewer, sensor, appData / "settings.bin"));
}

fs::path StudioSession::UseProgramIn(const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path copy = folder / fs::path(ORBEL_STUDIO_EXECUTABLE).filename();
    std::error_code error;
    fs::create_hard_link(ORBEL_STUDIO_EXECUTABLE, copy, error);
    if (error) {
        fs::copy_file(ORBEL_STUDIO_EXECUTABLE, copy, fs::copy_options::overwrite_existing);
    }
    program_ = copy;
    return copy;
}

void StudioSession::StartStudio(const std::vector<std::string>& environment) {
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
    variables.insert(variables.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = (artefacts / "orbelstudio.out").string();
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // A test run from a script's background job inherits SIGINT ignored, and the program
    // keeps what it was started to ignore.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string program = program_.string();
    char* argv[] = {program.data(), nullptr};
    const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid = 0;
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(error);
    }
}

pid_t StudioSession::StartAnotherStudio(const std::string& name) {
    const pid_t first = std::exchange(pid, 0);
    const fs::path own = std::exchange(artefacts, artefacts / name);
    fs::create_directories(artefacts);
    StartStudio();
    artefacts = own;
    return std::exchange(pid, first);
}

bool StudioSession::Running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

bool StudioSession::WaitForMainWindow() {
    std::optional<unsigned long> window;
    if (!Eventually([&] { return (window = FindWindow(kWindowTitle)).has_value() || !Running(); }, kStartDeadline) ||
        !Running()) {
        return false;
    }
    framesWatched_ = display_->WatchFrames(*window);
    if (!framesWatched_) {
        ADD_FAILURE() << "the X server has no DAMAGE extension: frames cannot be counted";
        return false;
    }
    if (!Eventually([&] { return LogHas(orbel::studio::gui::kWindowReadyLogText) || !Running(); }, kStartDeadline) ||
        !Running()) {
        return false;
    }
    // The first frames after the log line may still be drawn at the splash's size: wait for
    // the corners of the full layout (the screen's root is black).
    return Eventually([&] {
        const Screenshot shot = Capture("00-window");
        const Rgb black;
        return !(shot.At(kLayout.toolboxPanel.left + 2, kLayout.toolboxPanel.bottom - 2) == black) &&
               !(shot.At(kLayout.logPanel.right - 2, kLayout.logPanel.bottom - 2) == black);
    });
}

::testing::AssertionResult StudioSession::PressStreamingButton(const std::string& shotName) {
    std::vector<Rect> buttons;
    std::vector<Rect> right;
    if (!Eventually([&] {
            buttons = FindButtons(Capture(shotName), kLayout.sensorPanel);
            right.clear();
            std::copy_if(buttons.begin(), buttons.end(), std::back_inserter(right),
                         [](const Rect& b) { return b.right > kLayout.sensorPanel.CentreX(); });
            return right.size() == 1;
        })) {
        return ::testing::AssertionFailure() << "no one streaming button at the right of the sensor panel: "
                                             << Describe(buttons);
    }
    Click(right.front());
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult StudioSession::StartStreaming(const std::string& step) {
    if (auto pressed = PressStreamingButton(step + "-stream-start"); !pressed) return pressed;
    if (!emulator.WaitForFrames(orbel::emulator::ids::kStart, 1, kStepDeadline)) {
        return ::testing::AssertionFailure() << "the sensor was not started";
    }
    if (!WaitForLog("Frames arriving: frame ")) return ::testing::AssertionFailure() << "no frames arrived:\n" << Log();
    MoveTo(kLayout.restX, kLayout.restY);  // the screen settled for the caller
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult StudioSession::StopStreaming(const std::string& step) {
    if (auto pressed = PressStreamingButton(step + "-stream-stop"); !pressed) return pressed;
    if (!emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, kStepDeadline)) {
        return ::testing::AssertionFailure() << "the sensor was not stopped";
    }
    if (!WaitForLog("Sensor stopped")) return ::testing::AssertionFailure() << "not stopped:\n" << Log();
    MoveTo(kLayout.restX, kLayout.restY);  // the screen settled for the caller
    return ::testing::AssertionSuccess();
}

int StudioSession::CloseStudio() {
    const std::optional<unsigned long> window = FindWindow(kWindowTitle);
    if (!window || pid <= 0) return -1;
    display_->RequestClose(*window);
    return WaitForExit();
}

int StudioSession::WaitForExit() {
    if (pid <= 0) return -1;
    int status = 0;
    const bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kStepDeadline);
    if (!ended) return -1;  // TearDown kills it
    pid = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool StudioSession::KillDisplayConnection() {
    const std::optional<unsigned long> window = FindWindow(kWindowTitle);
    if (!window) return false;
    display_->KillClient(*window);
    framesWatched_ = false;
    return true;
}

bool StudioSession::MinimiseStudio() {
    const std::optional<unsigned long> window = FindWindow(kWindowTitle);
    if (!window) return false;
    display_->Iconify(*window);
    return true;
}

std::optional<orbel::studio::gui::ViewerConfigProto> StudioSession::SavedSettings() const {
    orbel::studio::gui::ViewerConfigProto saved;
    const std::string bytes = ReadFile(appData / "settings.bin");
    if (bytes.empty() || !saved.ParseFromString(bytes)) return std::nullopt;
    return saved;
}

std::optional<int> StudioSession::SavedPointSize() const {
    const std::optional<orbel::studio::gui::ViewerConfigProto> saved = SavedSettings();
    return saved ? std::optional<int>(saved->point_size()) : std::nullopt;
}

std::string StudioSession::Log() const { return ReadFile(appData / "orbelstudio.log"); }

bool StudioSession::LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

bool StudioSession::WaitForLog(const std::string& text, std::chrono::milliseconds deadline) {
    return Eventually([&] { return LogHas(text) || !Running(); }, deadline) && LogHas(text);
}

std::optional<std::string> StudioSession::LogLineAfter(const std::string& text, std::size_t from) const {
    const std::string log = Log();
    const std::size_t at = log.find(text, from);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t start = at + text.size();
    const std::size_t end = log.find('\n', start);
    return log.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

fs::path StudioSession::Shoot(const std::string& name) {
    const fs::path file = artefacts / (name + ".png");
    EXPECT_EQ(RunTool({"import", "-window", "root", file.string()}), 0) << name;
    return file;
}

Screenshot StudioSession::Capture(const std::string& name) {
    Screenshot shot(Shoot(name));
    EXPECT_TRUE(shot.Valid()) << name;
    return shot;
}

std::optional<uint64_t> StudioSession::FrameMark() {
    if (!framesWatched_) {
        const std::optional<unsigned long> window = FindWindow(kWindowTitle);
        framesWatched_ = window && display_->WatchFrames(*window);
        if (!framesWatched_) {
            ADD_FAILURE() << "no program window whose frames can be counted";
            return std::nullopt;
        }
    }
    return display_->FramesPresented();
}

bool StudioSession::WaitForFramesAfter(std::optional<uint64_t> mark, int count, std::chrono::milliseconds deadline) {
    if (!mark) {
        return false;
    }
    return Eventually([&] { return display_->FramesPresented() >= *mark + static_cast<uint64_t>(count) || !Running(); },
                      deadline) &&
           Running();
}

bool StudioSession::WaitForFrames(int count, std::chrono::milliseconds deadline) {
    return WaitForFramesAfter(FrameMark(), count, deadline);
}

// Frames are counted from before the input: an idle program draws only for a moment after
// it, and a test slower than that moment would otherwise wait for frames that never come.
void StudioSession::MoveTo(int x, int y) {
    if (pointerAt_ == std::make_pair(x, y)) return;
    const std::optional<uint64_t> mark = FrameMark();
    EXPECT_EQ(RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y)}), 0);
    pointerAt_ = std::make_pair(x, y);
    EXPECT_TRUE(WaitForFramesAfter(mark)) << "no frames after moving to " << x << ", " << y;
}

void StudioSession::MoveAway() {
    EXPECT_EQ(RunTool({"xdotool", "mousemove", std::to_string(kLayout.restX), std::to_string(kLayout.restY)}), 0);
    pointerAt_ = std::make_pair(kLayout.restX, kLayout.restY);
}

void StudioSession::Click(int x, int y) {
    MoveTo(x, y);
    const std::optional<uint64_t> mark = FrameMark();
    EXPECT_EQ(RunTool({"xdotool", "click", "1"}), 0);
    EXPECT_TRUE(WaitForFramesAfter(mark)) << "no frames after clicking at " << x << ", " << y;
}

void StudioSession::SendAtOnce(const std::vector<std::string>& xdotoolArguments) {
    const std::optional<uint64_t> mark = FrameMark();
    std::vector<std::string> command{"xdotool"};
    command.insert(command.end(), xdotoolArguments.begin(), xdotoolArguments.end());
    // Stopped, the program reads none of it until all of it waits for it.
    EXPECT_EQ(kill(pid, SIGSTOP), 0);
    EXPECT_EQ(RunTool(command), 0);
    EXPECT_EQ(kill(pid, SIGCONT), 0);
    EXPECT_TRUE(WaitForFramesAfter(mark)) << "no frames after xdotool " << xdotoolArguments.front();
}

void StudioSession::ClickAndMoveAway(const Rect& rect) {
    MoveTo(rect.CentreX(), rect.CentreY());
    SendAtOnce({"click", "1", "mousemove", std::to_string(kLayout.restX), std::to_string(kLayout.restY)});
    pointerAt_ = std::make_pair(kLayout.restX, kLayout.restY);
}

void StudioSession::ClickOpeningDialog(const Rect& rect) {
    MoveTo(rect.CentreX(), rect.CentreY());
    EXPECT_EQ(RunTool({"xdotool", "click", "1"}), 0);
}

void StudioSession::Type(const std::string& text) {
    const std::optional<uint64_t> mark = FrameMark();
    EXPECT_EQ(RunTool({"xdotool", "type", "--delay", "5", text}), 0);
    EXPECT_TRUE(WaitForFramesAfter(mark)) << "no frames after typing " << text;
}

void StudioSession::Key(const std::string& keys) {
    const std::optional<uint64_t> mark = FrameMark();
    EXPECT_EQ(RunTool({"xdotool", "key", keys}), 0);
    EXPECT_TRUE(WaitForFramesAfter(mark)) << "no frames after " << keys;
}

bool StudioSession::Focus(unsigned long window) {
    return RunTool({"xdotool", "windowfocus", "--sync", std::to_string(window)}) == 0;
}

void StudioSession::TypeIn(unsigned long window, const std::string& text) {
    EXPECT_TRUE(Eventually([&] { return Focus(window); })) << "the window never took the keyboard";
    EXPECT_EQ(RunTool({"xdotool", "type", "--delay", "5", text}), 0);
}

void StudioSession::KeyIn(unsigned long window, const std::string& keys) {
    EXPECT_TRUE(Eventually([&] { return Focus(window); })) << "the window never took the keyboard";
    EXPECT_EQ(RunTool({"xdotool", "key", keys}), 0);
}

std::optional<unsigned long> StudioSession::FindWindow(const std::string& title) {
    return display_ ? display_->FindWindow(title) : std::nullopt;
}

std::optional<unsigned long> StudioSession::WaitForWindow(const std::string& title,
                                                          std::chrono::milliseconds deadline) {
    std::optional<unsigned long> window;
    Eventually([&] { return (window = FindWindow(title)).has_value(); }, deadline);
    return window;
}

}  // namespace orbel::testing
