// Start-up, frame loop and shutdown of orbelstudio on GLFW 3.3, OpenGL 3.3 core (libepoxy)
// and Dear ImGui 1.86 with its GLFW and OpenGL3 backends.
#include "app/StudioApp.h"

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/FileHelpers.h"
#include "app/GlfwFrameScheduler.h"
#include "app/GlfwMonitors.h"
#include "app/GuiUtilities.h"
#include "app/IFrameRequest.h"
#include "app/ImGuiSink.h"
#include "app/Logging.h"
#include "app/MainLayout.h"
#include "app/OrbelStudioController.h"
#include "app/PointerTrickle.h"
#include "app/ShutdownDeadline.h"
#include "app/Startup.h"
#include "platform/CrashHandler.h"
#include "platform/DisplayLoss.h"
#include "platform/FileDialog.h"
#include "platform/InstanceLock.h"
#include "platform/TerminationSignals.h"
#include "platform/WindowPresence.h"

namespace orbel::studio::gui {
namespace {

// How long the window system gets to act on a maximise request before the program sizes the
// window itself (a display without a window manager ignores the request).
constexpr double kMaximisePatienceSeconds = 0.3;
constexpr double kLogFlushSeconds = 1.0;
// Longer than the slowest clean stop (a sensor stop, a camera stop and a start still under way,
// each bounded by its 5 s time-out), short enough that a closed window does not linger.
constexpr std::chrono::seconds kShutdownLimit{30};
constexpr double kCursorBlinkStepSeconds = 0.2;

// The benchmarks' hooks (see StudioApp.h), read here and nowhere else.
GlfwFrameScheduler::Mode LoopModeFromEnvironment() {
    const char* mode = std::getenv(kFrameLoopVariable);
    return mode != nullptr && std::string(mode) == kFrameLoopEveryFrame ? GlfwFrameScheduler::Mode::EveryFrame
                                                                       : GlfwFrameScheduler::Mode::OnChange;
}

std::string FrameLogFromEnvironment() {
    const char* path = std::getenv(kFrameLogVariable);
    return path != nullptr ? path : "";
}

// What the start-up thread hands over. The main thread reads the pointers and the failure
// only after it has seen `done` set (release/acquire).
struct StartupHandOver {
    std::shared_ptr<OrbelStudioController> controller;
    std::shared_ptr<AppState> appState;
    std::string failure;  // why there is no controller
    std::string notice;   // set before the thread starts: for the start's toast
    std::atomic<bool> done{false};
};

void RunInitThread(StartupHandOver& handOver) {
    try {
        handOver.controller = std::make_shared<OrbelStudioController>();
        if (!handOver.notice.empty()) handOver.controller->AddStartNotice(handOver.notice);
        handOver.appState = handOver.controller->Context()->appState;
    } catch (const std::exception& e) {
        handOver.failure = std::string("Start-up failed: ") + e.what();
        handOver.controller.reset();
    } catch (...) {
        handOver.failure = "Start-up failed";
        handOver.controller.reset();
    }
    handOver.done.store(true, std::memory_order_release);
}

// A start that fails says so where the user looks: the log, and one line on standard error
// (the terminal that started the program, or the desktop session's log).
int StartFailed(const std::string& reason, const std::filesystem::path& logFile) {
    Log(reason, 4);
    std::fprintf(stderr, "orbelstudio: %s (see %s)\n", reason.c_str(), logFile.string().c_str());
    std::fflush(stderr);
    return 1;
}

// The reason GLFW gave for the call that just failed on this thread, as ": reason".
std::string GlfwReason() {
    const char* description = nullptr;
    return glfwGetError(&description) != GLFW_NO_ERROR && description != nullptr ? std::string(": ") + description
                                                                                  : "";
}

void CentreOnCursorMonitor(GLFWwindow* window) {
    int count = 0;
    GLFWmonitor** monitors = glfwGetMonitors(&count);
    if (monitors == nullptr || count == 0) {
        return;
    }
    int windowX = 0;
    int windowY = 0;
    glfwGetWindowPos(window, &windowX, &windowY);
    double cursorX = 0.0;
    double cursorY = 0.0;
    glfwGetCursorPos(window, &cursorX, &cursorY);
    int primary = 0;
    GLFWmonitor* primaryMonitor = glfwGetPrimaryMonitor();
    for (int i = 0; i < count; ++i) {
        if (monitors[i] == primaryMonitor) primary = i;
    }
    const auto [x, y] = CentredWindowPosition(windowX + static_cast<int>(cursorX), windowY + static_cast<int>(cursorY),
                                              MonitorAreas(monitors, count), primary, kSplashWidth, kSplashHeight);
    glfwSetWindowPos(window, x, y);
}

// The work area of the monitor that holds the window's centre, else of the primary monitor.
void FillWorkArea(GLFWwindow* window) {
    GLFWmonitor* target = MonitorHoldingWindow(window);
    if (target == nullptr) {
        return;
    }
    int workX = 0;
    int workY = 0;
    int workWidth = 0;
    int workHeight = 0;
    glfwGetMonitorWorkarea(target, &workX, &workY, &workWidth, &workHeight);
    if (workWidth > 0 && workHeight > 0) {
        glfwSetWindowPos(window, workX, workY);
        glfwSetWindowSize(window, workWidth, workHeight);
    }
}

// Follows the window from the maximise request until it has its full size.
class MaximiseWatch {
public:
    void Request(GLFWwindow* window) {
        glfwGetWindowSize(window, &widthBefore_, &heightBefore_);
        requestedAt_ = glfwGetTime();
        glfwHideWindow(window);
        glfwSetWindowAttrib(window, GLFW_DECORATED, GLFW_TRUE);
        glfwMaximizeWindow(window);
        glfwShowWindow(window);
        pending_ = true;
    }

    bool Pending() const { return pending_; }

    // Once per main frame; true on the frame the window got its size.
    bool Settle(GLFWwindow* window) {
        if (!pending_) {
            return false;
        }
        int width = 0;
        int height = 0;
        glfwGetWindowSize(window, &width, &height);
        if (width != widthBefore_ || height != heightBefore_) {
            pending_ = false;
            return true;
        }
        if (MaximiseNeedsFallback(width, height, widthBefore_, heightBefore_, glfwGetTime() - requestedAt_,
                                  kMaximisePatienceSeconds)) {
            FillWorkArea(window);
            glfwGetWindowSize(window, &width, &height);
            pending_ = false;
            return true;
        }
        return false;
    }

private:
    bool pending_ = false;
    int widthBefore_ = 0;
    int heightBefore_ = 0;
    double requestedAt_ = 0.0;
};

void OnGlfwError(int code, const char* description) {
    Log("GLFW error " + std::to_string(code) + ": " + (description ? description : ""), 3);
}

int Run() {
    const std::filesystem::path appData = AppDataDir();
    // Held for the whole run: a program started while another holds the folder says so and
    // logs to a file of its own.
    const std::unique_ptr<platform::IInstanceLock> instance = platform::LockInstanceFile(appData / "orbelstudio.lock");
    const bool folderShared = instance->Get() == platform::IInstanceLock::State::HeldByAnother;
    const std::filesystem::path logFile = ProgramLogFile(appData, folderShared, platform::CurrentProcessId());
    SetupLogging(false, logFile);
    Log(std::string(kWindowTitle) + " starting", 2);
    const std::string startNotice = folderShared ? SharedSettingsFolderNotice(logFile) : "";
    if (folderShared) {
        Log(startNotice + " (" + appData.string() + ")", 3);
    } else if (instance->Get() == platform::IInstanceLock::State::Unknown) {
        Log("Cannot tell whether another Orbel Studio is using this settings folder: " + instance->Failure(), 3);
    }
    platform::CrashHandler(std::filesystem::current_path());
    // From here on SIGTERM, SIGINT and SIGHUP close the program as its close button does:
    // an open file dialog closes as if cancelled (it holds the GUI thread in a loop of its
    // own) and the frame loop, once it waits, is woken through the slot.
    FrameRequestSlot wakeOnSignal;
    const std::unique_ptr<platform::ITerminationSignals> signals =
        platform::WatchTerminationSignals([&wakeOnSignal] {
            platform::EndFileDialogs();
            wakeOnSignal.Request();
        });

    glfwSetErrorCallback(OnGlfwError);
    if (!glfwInit()) {
        return StartFailed("The window system cannot be initialised" + GlfwReason(), logFile);
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_TRANSPARENT_FRAMEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    // The window's class names the installed desktop entry (orbelstudio.desktop), so that a
    // desktop shows the window under the entry's name and icon.
    glfwWindowHintString(GLFW_X11_CLASS_NAME, "orbelstudio");
    glfwWindowHintString(GLFW_X11_INSTANCE_NAME, "orbelstudio");
    GLFWwindow* window = glfwCreateWindow(kSplashWidth, kSplashHeight, kWindowTitle, nullptr, nullptr);
    if (window == nullptr) {
        const std::string reason = "The window cannot be created" + GlfwReason();
        glfwTerminate();
        return StartFailed(reason, logFile);
    }

    const Resources::IconPixels icon = Resources::Instance().WindowIcon();
    if (icon.pixels != nullptr) {
        const GLFWimage image{icon.width, icon.height, icon.pixels};
        glfwSetWindowIcon(window, 1, &image);
    } else {
        Log("The window icon cannot be decoded", 3);
    }
    CentreOnCursorMonitor(window);

    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    if (const int version = epoxy_gl_version(); version < 33) {
        std::fputs("GLAD failed\n", stdout);
        glfwDestroyWindow(window);
        glfwTerminate();
        return StartFailed("OpenGL 3.3 cannot be loaded (the display offers " + std::to_string(version / 10) + "." +
                               std::to_string(version % 10) + ")",
                           logFile);
    }

    ImGui::CreateContext();
    // ImGui keeps the pointer: the text lives for the whole run.
    static const std::string iniFile = (AppDataDir() / "imgui.ini").string();
    ImGui::GetIO().IniFilename = iniFile.c_str();
    ApplyTheme();
    AddLogSink(ImGuiSink::Instance());

    if (!platform::InitFileDialogs()) {
        ImGui::DestroyContext();
        glfwDestroyWindow(window);
        glfwTerminate();
        return StartFailed("The file dialogs cannot be initialised", logFile);
    }
    // Before the backend's callbacks, which pass events on to the scheduler's.
    GlfwFrameScheduler scheduler(window, LoopModeFromEnvironment(), FrameLogFromEnvironment());
    ImGuiSink::Instance()->SetFrameRequest(scheduler.Requests());
    wakeOnSignal.Set(scheduler.Requests());
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    scheduler.HoldShortKeyTaps();
    ImGui_ImplOpenGL3_Init("#version 330");

    const unsigned splashTexture = CreateTexture(DecodedImage(SplashPng()));
    if (splashTexture == 0) {
        Log("The splash image cannot be decoded", 3);
    }

    // Declared before everything the shutdown releases, so that it watches all of it.
    ShutdownDeadline deadline([] {
        Log("Closing did not finish within " + std::to_string(kShutdownLimit.count()) +
                " s: leaving without waiting for the tasks still running",
            4);
        FlushLog();
        std::_Exit(1);
    });
    StartupHandOver handOver;
    handOver.notice = startNotice;
    std::thread startupThread(RunInitThread, std::ref(handOver));
    double last = glfwGetTime();

    SplashState splash;
    StartupPhases phases;
    MainLayout layout;
    MaximiseWatch maximise;
    std::shared_ptr<OrbelStudioController> controller;
    std::shared_ptr<AppState> appState;
    int exitCode = 0;

    // After GTK's start, which installs a handler of its own. What a lost display leaves
    // behind: the reason in the log and the settings as last saved (the autosave below), or
    // as they are, when the GUI thread itself found the loss and so is not changing them.
    const std::thread::id guiThread = std::this_thread::get_id();
    const platform::DisplayLossWatch displayLoss([&controller, guiThread](const std::string& reason) {
        // Into the file only: a thread that found the loss while logging holds the GUI sink.
        RemoveLogSink(ImGuiSink::Instance());
        Log(reason + ": ending at once", 4);
        if (std::this_thread::get_id() == guiThread && controller) {
            controller->SaveSettings();
        }
    });
    // Asked once a chore period as well as before each frame: a window destroyed while no
    // frame is due (the window system may report it iconified first) must still end the run.
    bool windowGone = false;
    const auto chores = [&controller, &windowGone, window] {
        FlushLog();
        if (controller) {
            controller->SaveSettingsWhenSettled(SteadySeconds());
        }
        windowGone = windowGone || !platform::WindowStillExists(window);
    };
    const auto endAsked = [&signals, &windowGone] { return windowGone || !signals->Received().empty(); };

    for (;;) {
        scheduler.WaitForFrame(kLogFlushSeconds, chores, endAsked);
        if (const std::string signal = signals->Received(); !signal.empty()) {
            Log("Closing: " + signal + " received", 2);
            FlushLog();
            break;
        }
        if (glfwWindowShouldClose(window)) {
            break;
        }
        if (windowGone || !platform::WindowStillExists(window)) {
            // Destroyed by another program: closing as if the user had closed it keeps the
            // session's files whole; drawing on would use sizes the window system never gave.
            Log("The window was destroyed by another program: closing", 3);
            break;
        }
        scheduler.StartFrame();
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGuiIO& io = ImGui::GetIO();
        if (const std::optional<PointerTrickle::Pointer> pointer = scheduler.Pointer().TakeFrame()) {
            // A button change as it happened, where it happened (see PointerTrickle).
            if (pointer->place) {
                io.MousePos = ImVec2(static_cast<float>(pointer->place->x), static_cast<float>(pointer->place->y));
            }
            for (int button = 0; button < PointerTrickle::kButtons; ++button) {
                io.MouseDown[button] = pointer->down[static_cast<std::size_t>(button)];
            }
        }
        ImGui::NewFrame();
        ImVec4 clear(0.0f, 0.0f, 0.0f, 0.0f);

        // The splash is short and the start-up's end tells nobody: its frames follow each other.
        FrameDemand demand = FrameDemand::Animation();
        if (!phases.InMainPhase()) {
            bool clicked = false;
            for (int button = 0; button < ImGuiMouseButton_COUNT; ++button) {
                clicked = clicked || ImGui::IsMouseClicked(button);
            }
            if (SplashPhaseFrame(phases, splash, ToTextureId(splashTexture), io.DeltaTime, clicked,
                                 handOver.done.load(std::memory_order_acquire))) {
                controller = handOver.controller;
                appState = handOver.appState;
                if (!controller) {
                    exitCode = StartFailed(handOver.failure, logFile);
                    ImGui::EndFrame();
                    break;
                }
                controller->Context()->SetFrameRequest(scheduler.Requests());
            }
        } else {
            // The phase lines are written at once: whoever waits for them reads the file.
            if (phases.TakeFirstMainFrame()) {
                Log(kMainPhaseLogText, 2);
                FlushLog();
                maximise.Request(window);
            }
            if (maximise.Settle(window)) {
                // The focus that showing the window asked for can be lost when the window was
                // not on screen yet; without a window manager nobody else would give it.
                glfwFocusWindow(window);
                int width = 0;
                int height = 0;
                glfwGetWindowSize(window, &width, &height);
                Log(std::string(kWindowReadyLogText) + " (" + std::to_string(width) + " x " + std::to_string(height) +
                        ")",
                    2);
                FlushLog();
            }
            clear = ImVec4(0.05f, 0.05f, 0.08f, 1.0f);
            const double now = glfwGetTime();
            controller->Update((now - last) * 1000.0);
            layout.Draw(*appState, controller->Panels(), controller->Plugins(), io.DeltaTime);
            last = now;
            demand = LayoutFrameDemand(*appState);
            if (controller->QueuedActions() > 0 || controller->QueuedImages() > 0) {
                demand = demand.With(FrameDemand::Animation());  // one of each is applied per frame
            }
            if (scheduler.InputPending()) {
                demand = demand.With(FrameDemand::Animation());  // held input passes one frame at a time
            }
            if (maximise.Pending()) {
                demand = demand.With(FrameDemand::Animation());
            }
            if (io.WantTextInput) {
                // The text cursor blinks (0.8 s shown, 0.4 s hidden).
                demand = demand.With(FrameDemand::ChangeIn(kCursorBlinkStepSeconds));
            }
        }

        ImGui::Render();
        int framebufferWidth = 0;
        int framebufferHeight = 0;
        glfwGetFramebufferSize(window, &framebufferWidth, &framebufferHeight);
        glViewport(0, 0, framebufferWidth, framebufferHeight);
        glClearColor(clear.x, clear.y, clear.z, clear.w);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        glfwSwapBuffers(window);
        scheduler.FrameDrawn(demand);
    }

    // Shutdown: every OpenGL object goes while the context still exists, before the backends.
    deadline.Arm(kShutdownLimit);
    platform::QuitFileDialogs();
    if (splashTexture != 0) {
        glDeleteTextures(1, &splashTexture);
    }
    startupThread.join();
    if (!controller) {
        controller = handOver.controller;  // the window was closed during the splash
        if (!controller && exitCode == 0) {
            exitCode = StartFailed(handOver.failure, logFile);
        }
    }
    if (controller) {
        controller->Shutdown();
        controller->ReleaseGraphics();
    }
    Resources::Instance().DeleteTextures();
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    ImGuiSink::Instance()->SetFrameRequest(nullptr);
    wakeOnSignal.Set(nullptr);
    scheduler.Stop();
    glfwDestroyWindow(window);
    glfwTerminate();
    // The controller, the panels and the SDK objects go with the last reference, here, so
    // that what they log on their way (the sensor's stop, the recordings' end) comes before
    // the closing line, the last one of the run.
    appState.reset();
    controller.reset();
    handOver.appState.reset();
    handOver.controller.reset();
    Log(std::string(kWindowTitle) + " closed", 2);
    return exitCode;
}

}  // namespace

int RunStudio() {
    try {
        return Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orbelstudio: %s\n", e.what());
        Log(std::string("orbelstudio stopped: ") + e.what(), 5);
        return 1;
    }
}

}  // namespace orbel::studio::gui
