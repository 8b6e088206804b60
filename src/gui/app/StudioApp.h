// The program's run from start to end: logging and crash reports, the window with its OpenGL
// 3.3 context and the GUI, the splash while a start-up thread builds the controller, the frame
// loop of the main phase, and the shutdown in a fixed order.
//
// Contract: called once, on the main thread, by main(). Everything but the controller's
// construction runs on that thread.
#pragma once

namespace orbel::studio::gui {

// 0 after a normal run, also one ended by SIGTERM, SIGINT or SIGHUP; 1 when the window
// system, the window, the OpenGL loader or the file dialogs cannot be set up, or the
// controller cannot be built (said on standard error too), and when the display is lost.
// A second signal while closing ends the process at once with 128 + its number.
int RunStudio();

// The program's log lines that mark its phases (tests and benchmarks wait for them).
inline constexpr const char* kMainPhaseLogText = "Main phase started";
inline constexpr const char* kWindowReadyLogText = "Main window ready";

// Test hooks for the benchmarks, read once at start-up. ORBEL_FRAME_LOOP=every-frame draws
// every frame as soon as the last one is swapped, as the loop did before it waited for a
// change (the baseline the benchmark measures against). ORBEL_FRAME_LOG=<file> writes one line
// per drawn frame (GlfwFrameScheduler says what). Users set neither.
inline constexpr const char* kFrameLoopVariable = "ORBEL_FRAME_LOOP";
inline constexpr const char* kFrameLoopEveryFrame = "every-frame";
inline constexpr const char* kFrameLogVariable = "ORBEL_FRAME_LOG";

}  // namespace orbel::studio::gui
