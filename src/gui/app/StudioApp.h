// The program's run from start to end: logging and crash reports, the window with its OpenGL
// 3.3 context and the GUI, the splash while a start-up thread builds the controller, the frame
// loop of the main phase, and the shutdown in a fixed order.
//
// Contract: called once, on the main thread, by main(). Everything but the controller's
// construction runs on that thread.
#pragma once

namespace orbel::studio::gui {

// 0 after a normal run; 1 when the window system, the window, the OpenGL loader or the file
// dialogs cannot be set up, or the controller cannot be built.
int RunStudio();

// The program's log lines that mark its phases (tests and benchmarks wait for them).
inline constexpr const char* kMainPhaseLogText = "Main phase started";
inline constexpr const char* kWindowReadyLogText = "Main window ready";

}  // namespace orbel::studio::gui
