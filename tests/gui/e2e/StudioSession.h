// StudioSession: the fixture of the tests that drive the real orbelstudio end to end, as a
// user runs it. Each test gets an X server of its own (Xvfb, 1920 x 1080), a temporary
// application-data folder whose settings name the sensor emulator on 127.0.0.1, the built
// program started there, screenshots read back by their pixels (ImageMagick's import), and
// xdotool's pointer and keyboard. What a test leaves (screenshots, the program's output, log
// and settings) is kept in e2e-artefacts/<suite>.<test>/ of the test build folder.
//
// How to use it:
//
//   class MyEndToEndTest : public orbel::testing::StudioSession {};
//
//   TEST_F(MyEndToEndTest, ShowsTheStream) {
//       WriteSettings();                          // the emulator as the sensor, no camera
//       StartStudio();
//       ASSERT_TRUE(WaitForMainWindow()) << Log();
//       ASSERT_TRUE(StartStreaming());            // "Start streaming" pressed, frames arrive
//       const Screenshot shot = Capture("02-streaming");  // kept as 02-streaming.png
//       EXPECT_GT(CountPixels(shot, kLayout.view3D, [](Rgb p) { return p.Spread() > 48; }), 1000);
//       ASSERT_TRUE(StopStreaming());             // "Stop streaming" pressed, the sensor stops
//       EXPECT_EQ(CloseStudio(), 0);
//   }
//
// A test of the camera view turns the camera on in its settings (WriteSettings' `adjust`:
// enable_camera, camera_ip on loopback) and passes what the camera needs to the program
// through StartStudio's environment.
//
// SetUp skips the test when there is no display or a tool is missing (and fails instead when
// ORBEL_REQUIRE_DISPLAY is set); TearDown kills a program still running and removes the
// temporary folders. Waits poll a condition up to a generous deadline (Eventually,
// WaitForLog), never sleep a fixed time. Widgets are found from the layout's fixed geometry
// (kLayout) and their theme colours in a screenshot (FindRects, FindButtons).
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

#include "app/SensorConfig.h"
#include "app/ViewerConfig.h"
#include "gui/e2e/XDisplay.h"
#include "proto/viewer_config.pb.h"

namespace orbel::testing {

// The sanitizer build under a software renderer is slow to start and slow to draw.
inline constexpr std::chrono::seconds kStartDeadline{90};
inline constexpr std::chrono::seconds kStepDeadline{30};

// Polls every 50 ms until the condition holds or the deadline has passed (then once more).
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = kStepDeadline);
// Runs a program to its end: its exit status, or -1 when it could not be run or was killed.
int RunTool(const std::vector<std::string>& arguments);
bool ToolExists(const std::string& name);
std::string ReadFile(const std::filesystem::path& path);

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
    // Largest minus smallest channel: 0 for greys, large for saturated colours.
    int Spread() const;
};

// Screen pixels; right and bottom are exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    int CentreX() const { return (left + right) / 2; }
    int CentreY() const { return (top + bottom) / 2; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};
std::ostream& operator<<(std::ostream& out, const Rect& rect);
// A picture of width x height fitted into `region` as the views draw one: scaled to the
// region's full width or height with its aspect kept, centred.
Rect FittedPicture(const Rect& region, int width, int height);
std::string Describe(const std::vector<Rect>& rects);

// A screenshot (or any image file stb reads), as RGB pixels.
class Screenshot {
public:
    explicit Screenshot(const std::filesystem::path& file);
    ~Screenshot();
    Screenshot(Screenshot&& other) noexcept;
    Screenshot& operator=(Screenshot&& other) noexcept;
    Screenshot(const Screenshot&) = delete;
    Screenshot& operator=(const Screenshot&) = delete;

    bool Valid() const { return pixels_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    Rect Bounds() const { return {0, 0, width_, height_}; }
    // The pixel at (x, y); black outside the picture.
    Rgb At(int x, int y) const;
    bool Is(int x, int y, Rgb colour) const { return At(x, y) == colour; }

private:
    int width_ = 0;
    int height_ = 0;
    unsigned char* pixels_ = nullptr;
};

// Pixels of an area (clipped to both pictures) that differ between two screenshots.
int CountDifferences(const Screenshot& a, const Screenshot& b, const Rect& area);
// Pixels of an area that satisfy the predicate.
int CountPixels(const Screenshot& shot, const Rect& area, const std::function<bool(Rgb)>& predicate);

// The program's theme colours as they reach the screen.
namespace theme {
inline constexpr Rgb kButton{51, 64, 77};     // an enabled button, not hovered
inline constexpr Rgb kFrame{41, 46, 51};      // text fields, combos, sliders
inline constexpr Rgb kTab{38, 46, 56};        // a tab that is not selected
inline constexpr Rgb kTabActive{71, 102, 140};  // the selected tab
}  // namespace theme

// Rectangles of one colour in an area: runs of at least minRun such pixels on a row, each
// joined with a rectangle above that shares its columns, as long as every row between shows
// some of the colour within them (the glyphs of a label cut its rows into short runs; the
// border and spacing between two widgets show none). Top to bottom, then left to right.
std::vector<Rect> FindRects(const Screenshot& shot, const Rect& area, Rgb colour, int minRun);
// The enabled, unhovered buttons of an area at least minWidth pixels wide.
std::vector<Rect> FindButtons(const Screenshot& shot, const Rect& area, int minWidth = 40);
// The viewer panel's point-size "+": the right one of the only two small buttons that share
// a row ("-" and "+"; the combos' arrows are small too, each alone on its row).
std::optional<Rect> PointSizePlus(const Screenshot& shot);

// The main window's regions on the 1920 x 1080 screen (the window fills it from 0, 0), with
// both columns open, the 2D view shown at its default scale and no camera view: the layout's
// own sizes (LayoutSizes) placed with the theme's padding and spacing. The camera view's two
// places are those of the default split ratio; while it shows, the view beside it keeps the
// rest of the width.
struct StudioLayout {
    Rect sensorPanel;
    Rect sessionPanel;  // the "Recorder", "Replay" and "Camera Replay" tabs
    Rect toolboxPanel;  // the "Converter" and "Colorizer" tabs
    Rect view3D;        // the rendered picture
    Rect view2D;        // the 2D view's region (the picture is centred in it)
    Rect cameraBelow;   // the camera view beside the 2D view (where it opens)
    Rect cameraAbove;   // the camera view beside the 3D view (after its placement button)
    Rect viewerPanel;   // the right column's viewer settings
    Rect logPanel;
    // Where nothing is drawn that changes on its own: the pointer rests there between steps.
    int restX = 0;
    int restY = 0;
};
StudioLayout MakeStudioLayout();
inline const StudioLayout kLayout = MakeStudioLayout();

class StudioSession : public ::testing::Test {
protected:
    StudioSession() = default;
    // A fixture whose emulator streams otherwise (its clock, its point type).
    explicit StudioSession(orbel::emulator::EmulatorOptions options) : emulator(std::move(options)) {}

    void SetUp() override;
    void TearDown() override;

    // Settings in the program's own schema: the emulator as the sensor on 127.0.0.1, the camera
    // off at 127.0.0.2; `adjust` may change more before the file is written.
    void WriteSettings(
        const std::function<void(orbel::studio::SensorConfig&, orbel::studio::gui::ViewerConfig&)>& adjust = {});
    // The program's settings file, and its point size; none while it cannot be read.
    std::optional<orbel::studio::gui::ViewerConfigProto> SavedSettings() const;
    std::optional<int> SavedPointSize() const;
    // Starts a hard link (or copy) of the program placed in `folder` instead of the built one,
    // for a test that needs the executable's folder to itself. Returns the new program path.
    std::filesystem::path UseProgramIn(const std::filesystem::path& folder);
    // Starts the program (its output into the artefacts) with SIGTERM, SIGINT and SIGHUP at
    // their default actions, as a terminal starts it, whatever the test's own;
    // `environment` adds "NAME=value"s.
    void StartStudio(const std::vector<std::string>& environment = {});
    // Starts one more program as StartStudio does, on the same application-data folder and
    // display, as a user starting it a second time; its output goes to <name>/orbelstudio.out
    // in the artefacts. Returns its process id (0 when it could not be started); the caller
    // ends it and waits for it.
    pid_t StartAnotherStudio(const std::string& name);
    // The window is drawn at its full size and the main phase has begun, and its frames are
    // counted from here on; false when the program ended first.
    bool WaitForMainWindow();
    bool Running();
    // From the main window to live frames: presses the sensor panel's streaming button (the
    // enabled button that reaches into the panel's right half: "Disconnect" and "Browse
    // calibration" stand at the left) reading "Start streaming", and waits for the emulator's start command and the
    // program's "Frames arriving". StopStreaming presses it again ("Stop streaming") and waits
    // for the stop command and "Sensor stopped". Screenshots <step>-stream-start/stop.
    ::testing::AssertionResult StartStreaming(const std::string& step = "00");
    ::testing::AssertionResult StopStreaming(const std::string& step = "99");
    // Only presses the streaming button (screenshot <shotName>), whatever it says; for a start
    // that is meant to fail.
    ::testing::AssertionResult PressStreamingButton(const std::string& shotName);
    // Asks the window to close as a window manager does and waits for the end: the exit
    // status, or -1 when the program did not end in time (then it is killed) or crashed.
    int CloseStudio();
    // Waits for the program to end by itself: its exit status as CloseStudio gives it.
    int WaitForExit();
    // Has the X server cut the program's connection to the display off (as xkill does);
    // false when its window is not found.
    bool KillDisplayConnection();
    // Minimises the program's window as a window manager does; the program draws no frames
    // until it is shown again. False when its window is not found.
    bool MinimiseStudio();

    // The program's log (orbelstudio.log in the application-data folder).
    std::string Log() const;
    bool LogHas(const std::string& text) const;
    // Waits for the text in the log; false at the deadline or when the program has ended.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds deadline = kStepDeadline);
    // The rest of the line after the first `text` in the log at or after byte `from` (a
    // Log().size() taken before an action); none while there is none.
    std::optional<std::string> LogLineAfter(const std::string& text, std::size_t from = 0) const;

    // A screenshot of the whole screen kept as <name>.png in the artefacts.
    std::filesystem::path Shoot(const std::string& name);
    Screenshot Capture(const std::string& name);

    // ImGui reads the pointer once per frame, so every input waits for frames drawn after it
    // (WaitForFrames): a click first lets the program see the pointer on its target, then
    // presses and releases, then lets it take the click before anything moves on.
    void Click(int x, int y);
    void Click(const Rect& rect) { Click(rect.CentreX(), rect.CentreY()); }
    // A click on something that opens a modal dialog: the program draws no frame until the
    // dialog is gone, so nothing is awaited after the press.
    void ClickOpeningDialog(const Rect& rect);
    // A move to where the pointer already is sends nothing, so it waits for nothing either.
    void MoveTo(int x, int y);
    // Input as a busy program gets it: all of it reaches the program before its next frame
    // (it is stopped while xdotool sends it); then frames.
    void SendAtOnce(const std::vector<std::string>& xdotoolArguments);
    // A hurried hand: the press, the release and the move to kLayout's resting place at once.
    void ClickAndMoveAway(const Rect& rect);
    // Back to kLayout's resting place, so that screenshots show widgets unhovered. It does
    // not wait for frames: follow it with a condition on a screenshot, or with a Click.
    void MoveAway();
    // Text typed into the program's focused field, keys by xdotool's names ("ctrl+a",
    // "Return"). Both wait until the program has drawn frames after them.
    void Type(const std::string& text);
    void Key(const std::string& keys);
    // Waits until the program has presented `count` more frames; false at the deadline.
    bool WaitForFrames(int count = 2, std::chrono::milliseconds deadline = kStepDeadline);
    // The frames presented so far (none when they cannot be counted), and the wait for
    // `count` more than such a mark: taken before an input, it counts the frames the input
    // causes however soon they come.
    std::optional<uint64_t> FrameMark();
    bool WaitForFramesAfter(std::optional<uint64_t> mark, int count = 2,
                            std::chrono::milliseconds deadline = kStepDeadline);

    // Another top-level window (a GTK file chooser, say): found by its exact title, given the
    // keyboard (no window manager does it here), then typed into; nothing waits for the
    // program's frames, which stop while a modal dialog runs.
    std::optional<unsigned long> FindWindow(const std::string& title);
    std::optional<unsigned long> WaitForWindow(const std::string& title,
                                               std::chrono::milliseconds deadline = kStepDeadline);
    bool Focus(unsigned long window);  // false while the window cannot take it (not shown yet)
    void TypeIn(unsigned long window, const std::string& text);
    void KeyIn(unsigned long window, const std::string& keys);

    orbel::emulator::SensorEmulator emulator;
    std::filesystem::path artefacts;  // this test's own folder of screenshots and logs
    std::filesystem::path dataRoot;   // the program's XDG_DATA_HOME; removed at the end
    std::filesystem::path appData;    // settings.bin, orbelstudio.log, dumps/ of the program
    std::filesystem::path scratch;    // a folder for the test's own files; removed at the end
    pid_t pid = 0;

private:
    class XServer;
    std::shared_ptr<XServer> xServer_;
    std::unique_ptr<XDisplay> display_;
    std::filesystem::path program_;
    bool framesWatched_ = false;
    std::optional<std::pair<int, int>> pointerAt_;  // where this fixture last put the pointer
};

}  // namespace orbel::testing
