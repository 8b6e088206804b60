// The start-up phase's decisions: the splash's timing and drawing, when the main phase may
// begin, and where the splash window goes on a desktop with several monitors.
//
// Contract: GUI thread. Plain values, except DrawSplash, which needs an ImGui frame.
#pragma once

#include <utility>
#include <vector>

#include <imgui.h>

namespace orbel::studio::gui {

inline constexpr const char* kWindowTitle = "Orbel Studio - 1.1.1";
inline constexpr const char* kVersionText = "1.1.1";
inline constexpr int kSplashWidth = 800;
inline constexpr int kSplashHeight = 391;

struct SplashState {
    float elapsed = 0.0f;
    float duration = 1.0f;
};

// Adds the frame time; false once the splash's time is over.
bool AdvanceSplash(SplashState& splash, float frameSeconds);

// Draws the splash over the whole display: the image (when there is one) centred, the
// version below the middle and "Powered by Orbel SDK" under it.
void DrawSplash(ImTextureID image);

// Splash, then main phase, never back. The main phase begins on the frame the splash ends or
// a mouse button is clicked, but never before the start-up thread is done: until then the
// splash stays (and a click made during it is remembered).
class StartupPhases {
public:
    // One splash-phase frame; true when the main phase begins with it.
    bool SplashFrame(bool splashRunning, bool clicked, bool startupDone);
    bool InMainPhase() const { return main_; }
    // True once, on the first main-phase frame.
    bool TakeFirstMainFrame();

private:
    bool main_ = false;
    bool skipRequested_ = false;
    bool firstMainFrame_ = false;
};

// One frame of the splash phase: advances the splash and asks the phases; true when the main
// phase begins with this frame. Until then the splash is drawn, on every frame: also once its
// time is over while the start-up thread still runs (the window would be empty otherwise).
bool SplashPhaseFrame(StartupPhases& phases, SplashState& splash, ImTextureID image, float frameSeconds,
                      bool clicked, bool startupDone);

struct MonitorArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The index of the first monitor whose area holds the point; -1 when none does.
int MonitorAt(int x, int y, const std::vector<MonitorArea>& monitors);

// The top-left corner that centres a window of the given size on the first monitor whose
// area holds the cursor, else on the primary one (integer division, as the window system
// counts in whole pixels). {0, 0} without monitors.
std::pair<int, int> CentredWindowPosition(int cursorX, int cursorY, const std::vector<MonitorArea>& monitors,
                                          int primaryIndex, int width, int height);

// After a maximise request: true when the window system has left the size alone for
// `patienceSeconds` (no window manager acts on the request), so the program has to give the
// window the monitor's work area itself.
bool MaximiseNeedsFallback(int width, int height, int widthBefore, int heightBefore, double secondsSinceRequest,
                           double patienceSeconds);

}  // namespace orbel::studio::gui
