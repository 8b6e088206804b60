// How the real program ends other than by its close button (see StudioSession for the
// fixture): a termination signal while it streams and records ends it as the close button
// does, also while a file chooser is open or the window is minimised; a connection to the
// display cut off is logged and leaves the settings as last changed; and a start without a
// display says why on standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "gui/e2e/StudioSession.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using orbel::testing::Describe;
using orbel::testing::Eventually;
using orbel::testing::FindButtons;
using orbel::testing::FindRects;
using orbel::testing::kLayout;
using orbel::testing::kStepDeadline;
using orbel::testing::PointSizePlus;
using orbel::testing::ReadFile;
using orbel::testing::Rect;
namespace theme = orbel::testing::theme;

constexpr uintmax_t kQpcBytes = 756'728;  // one frame of 56 lines of the emulator's 192 points

class EndingEndToEndTest : public orbel::testing::StudioSession {
protected:
    // The recorder tab's folder typed in and "Start recording" pressed; frames streaming.
    void StartRecording(const fs::path& session) {
        const std::vector<Rect> fields = FindRects(Capture("02-recorder"), kLayout.sessionPanel, theme::kFrame, 200);
        ASSERT_EQ(fields.size(), 1u) << Describe(fields);
        Click(fields.front());
        Type(session.string());
        MoveAway();
        std::vector<Rect> buttons;
        ASSERT_TRUE(Eventually([&] {
            return (buttons = FindButtons(Capture("03-folder-typed"), kLayout.sessionPanel)).size() == 2;
        })) << Describe(buttons);
        Click(buttons.back());
        ASSERT_TRUE(WaitForLog("Sensor recording started")) << Log();
        MoveAway();
    }

    // Presses the point size's "+" once the panel holds still (the first frame adds its
    // histogram above it).
    void RaisePointSize(int presses, const std::string& step) {
        std::optional<Rect> plus;
        ASSERT_TRUE(Eventually([&] {
            plus = PointSizePlus(Capture(step + "-viewer"));
            const std::optional<Rect> again = PointSizePlus(Capture(step + "-viewer-again"));
            return plus && again && plus->left == again->left && plus->top == again->top;
        })) << "no point-size buttons in the viewer panel";
        for (int i = 0; i < presses; ++i) Click(*plus);
        MoveAway();
    }

    std::string Output() const { return ReadFile(artefacts / "orbelstudio.out"); }
};

// The log's last line, without its line end.
std::string LastLine(std::string log) {
    while (!log.empty() && log.back() == '\n') log.pop_back();
    const std::size_t start = log.rfind('\n');
    return start == std::string::npos ? log : log.substr(start + 1);
}

// What keeps the frame loop from its next frame when the signal comes: a file chooser, which
// holds the GUI thread in a loop of its own (a folder one, and an open-file one with the QEXT
// filter), or a minimised window, for which no frame is due.
enum class Holding { FolderChooser, QextChooser, Minimised };

struct Ending {
    int signal;
    const char* name;
    Holding holding;
};
void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class SignalEndToEndTest : public EndingEndToEndTest, public ::testing::WithParamInterface<Ending> {
protected:
    // The toolbox's dialogs: the Converter tab's (shown first) "Select input folder", and the
    // Colorizer tab's "Select QEXT file", the third of its five path buttons.
    void Hold(Holding holding) {
        if (holding == Holding::Minimised) {
            ASSERT_TRUE(MinimiseStudio());
            return;
        }
        if (holding == Holding::QextChooser) {
            std::vector<Rect> tabs;
            ASSERT_TRUE(Eventually([&] {
                return (tabs = FindRects(Capture("06-toolbox"), kLayout.toolboxPanel, theme::kTab, 20)).size() == 1;
            })) << Describe(tabs);
            Click(tabs.front());
            MoveAway();
        }
        const std::size_t expected = holding == Holding::FolderChooser ? 2 : 5;
        std::vector<Rect> buttons;
        ASSERT_TRUE(Eventually([&] {
            return (buttons = FindButtons(Capture("07-dialog-buttons"), kLayout.toolboxPanel)).size() == expected;
        })) << Describe(buttons);
        ClickOpeningDialog(holding == Holding::FolderChooser ? buttons.front() : buttons[2]);
        const char* title = holding == Holding::FolderChooser ? "Select Folder" : "Open File";
        const std::optional<unsigned long> chooser = WaitForWindow(title);
        ASSERT_TRUE(chooser) << "no file chooser \"" << title << "\"";
        // Made before it is shown: on screen once it can take the keyboard.
        ASSERT_TRUE(Eventually([&] { return Focus(*chooser); })) << "the chooser was never shown";
        Shoot("08-chooser");
    }
};

TEST_P(SignalEndToEndTest, EndsTheProgramAsItsCloseButtonDoes) {
    const Ending ending = GetParam();
    WriteSettings();  // point size 2
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    ASSERT_TRUE(StartStreaming("01"));
    const fs::path session = scratch / "session";
    StartRecording(session);
    if (HasFatalFailure()) return;

    // A change is on disk about a second later, while the program runs; the one after it
    // is left to the shutdown, which the signal starts at once.
    RaisePointSize(2, "04");
    EXPECT_TRUE(Eventually([&] { return SavedPointSize() == 4; })) << "not saved while running: " << Log();
    ASSERT_TRUE(emulator.WaitForStreamedFrames(emulator.StreamedFrames() + 20, kStepDeadline));
    RaisePointSize(1, "05");
    Hold(ending.holding);
    if (HasFatalFailure()) return;
    ASSERT_EQ(kill(pid, ending.signal), 0);

    EXPECT_EQ(WaitForExit(), 0) << Output();
    const std::string log = Log();
    EXPECT_NE(log.find(std::string("Closing: ") + ending.name + " received"), std::string::npos) << log;
    EXPECT_NE(log.find("Recording stopped"), std::string::npos) << log;
    // Last: what the sensor's and the recording's ends log comes before it.
    EXPECT_NE(LastLine(log).find("Orbel Studio - 1.1.1 closed"), std::string::npos) << log;
    EXPECT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, kStepDeadline)) << "the sensor was not stopped";
    EXPECT_EQ(SavedPointSize(), 5);
    EXPECT_FALSE(fs::exists(appData / "settings.bin.tmp"));

    // Every recorded frame whole: 56 lines, none cut off by the end.
    std::size_t frames = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(session / "frames_qpc", error)) {
        ++frames;
        EXPECT_EQ(entry.path().extension(), ".qpc") << entry.path();
        EXPECT_EQ(entry.file_size(), kQpcBytes) << entry.path();
    }
    EXPECT_GE(frames, 20u) << log;
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalEndToEndTest,
                         ::testing::Values(Ending{SIGTERM, "SIGTERM", Holding::FolderChooser},
                                           Ending{SIGINT, "SIGINT", Holding::QextChooser},
                                           Ending{SIGHUP, "SIGHUP", Holding::Minimised}),
                         [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// Who finds the loss: while frames stream, maybe a thread that posts a frame request, which
// leaves the settings as last saved; in an idle program the GUI thread, which first saves
// them as they are, with a change made just before that was not saved yet.
struct Loss {
    const char* name;
    bool streaming;
};
void PrintTo(const Loss& loss, std::ostream* os) { *os << loss.name; }

class DisplayLossEndToEndTest : public EndingEndToEndTest, public ::testing::WithParamInterface<Loss> {};

TEST_P(DisplayLossEndToEndTest, IsLoggedAndLeavesTheSettingsAsLastChanged) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    if (GetParam().streaming) {
        ASSERT_TRUE(StartStreaming("01"));
    }
    RaisePointSize(2, "02");
    ASSERT_TRUE(Eventually([&] { return SavedPointSize() == 4; })) << "not saved while running: " << Log();
    int expected = 4;
    if (!GetParam().streaming) {
        RaisePointSize(1, "03");  // the autosave waits a second for it to hold still
        expected = 5;
    }

    ASSERT_TRUE(KillDisplayConnection());
    EXPECT_EQ(WaitForExit(), 1) << Output();
    const std::string log = Log();
    EXPECT_NE(log.find("The connection to the display "), std::string::npos) << log;
    EXPECT_NE(log.find(" was lost: ending at once"), std::string::npos) << log;
    EXPECT_EQ(SavedPointSize(), expected);
    EXPECT_FALSE(fs::exists(appData / "settings.bin.tmp"));
}

INSTANTIATE_TEST_SUITE_P(Display, DisplayLossEndToEndTest,
                         ::testing::Values(Loss{"WhileStreaming", true}, Loss{"Idle", false}),
                         [](const ::testing::TestParamInfo<Loss>& info) { return std::string(info.param.name); });

// Started where no display exists, as from a terminal without one: one line on standard
// error names the reason and the log file, and the program ends with 1.
TEST(StartWithoutDisplayTest, SaysWhyOnStandardErrorWithTheLogsPath) {
    char pattern[] = "/tmp/orbelstudio-nodisplay-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr) << std::strerror(errno);
    const fs::path dataRoot = pattern;
    int display = 4242;
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
           fs::exists("/tmp/.X" + std::to_string(display) + "-lock")) {
        ++display;
    }
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("DISPLAY=", 0) != 0 && variable.rfind("XDG_DATA_HOME=", 0) != 0 &&
            variable.rfind("ASAN_OPTIONS=", 0) != 0) {
            variables.push_back(variable);
        }
    }
    variables.push_back("DISPLAY=:" + std::to_string(display));
    variables.push_back("XDG_DATA_HOME=" + dataRoot.string());
    variables.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const std::string errors = (dataRoot / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string program = ORBEL_STUDIO_EXECUTABLE;
    char* argv[] = {program.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0) << std::strerror(spawned);
    int status = 0;
    if (!Eventually([&] { return waitpid(child, &status, WNOHANG) == child; })) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the program did not end without a display";
    }

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    const std::string text = ReadFile(errors);
    const std::string logFile = (dataRoot / "Velmorant" / "OrbelStudio" / "orbelstudio.log").string();
    EXPECT_EQ(text.rfind("orbelstudio: The window system cannot be initialised", 0), 0u) << text;
    EXPECT_NE(text.find(": X11: Failed to open display :" + std::to_string(display)), std::string::npos)
        << "the window system's reason is missing: " << text;
    const std::string ending = " (see " + logFile + ")\n";
    EXPECT_TRUE(text.size() > ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0)
        << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "more than one line: " << text;
    EXPECT_NE(ReadFile(logFile).find("The window system cannot be initialised"), std::string::npos);
    fs::remove_all(dataRoot);
}

}  // namespace
