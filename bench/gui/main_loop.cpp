// The desktop program's frame and start-up under the display it is given (Xvfb with Mesa's
// llvmpipe in scripts/bench), at 1920 x 1080:
//  - BM_ClearAndSwap: a frame that only clears and swaps (the baseline);
//  - BM_LayoutFrame: one whole main-loop frame: controller update, the layout with every panel
//    of the program (no sensor), ImGui's render and the OpenGL3 backend's draw, swap;
//  - BM_LayoutImGuiWork: the ImGui part of that frame alone (NewFrame to Render), CPU time;
//    once with an empty log and once with the log panel full (2000 lines) and a toast showing;
//  - BM_StartToMainPhase: a fresh orbelstudio process from its start to its first main-phase
//    frame (it logs "Main phase started" then), no click ending the splash early; its baseline,
//    BM_StartToFirstFrame, is a process of this program that opens a GLFW window with an
//    OpenGL 3.3 context and swaps one frame.
// After the table it prints the ratios. Run it by hand: scripts/bench bench_main_loop (with a
// display, e.g. scripts/with-display).
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/AppPanels.h"
#include "app/ConfigHandler.h"
#include "app/GuiUtilities.h"
#include "app/ImGuiSink.h"
#include "app/Logging.h"
#include "app/MainLayout.h"
#include "app/OrbelStudioController.h"
#include "app/StudioApp.h"
#include "common/RecordingReporter.h"
#include "common/SpawnProgram.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path TempFolder(const char* stem) {
    std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    return mkdtemp(pattern.data());
}

// One window, context, ImGui and a controller for the in-process frame benchmarks.
class Studio {
public:
    Studio() {
        if (!glfwInit()) return;
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
        glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
        glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
        window_ = glfwCreateWindow(1920, 1080, "orbel-bench", nullptr, nullptr);
        if (window_ == nullptr) return;
        glfwMakeContextCurrent(window_);
        glfwSwapInterval(0);  // measure the work, not the display's pace
        ImGui::CreateContext();
        ImGui::GetIO().IniFilename = nullptr;
        orbel::studio::gui::ApplyTheme();
        ImGui_ImplGlfw_InitForOpenGL(window_, true);
        ImGui_ImplOpenGL3_Init("#version 330");
        folder_ = TempFolder("orbel-bench-settings");
        controller_ = std::make_unique<orbel::studio::gui::OrbelStudioController>(folder_ / "settings.bin");
    }
    ~Studio() {
        if (controller_) {
            controller_->ReleaseGraphics();
            orbel::studio::gui::Resources::Instance().DeleteTextures();
            ImGui_ImplOpenGL3_Shutdown();
            ImGui_ImplGlfw_Shutdown();
            ImGui::DestroyContext();
            controller_.reset();
            fs::remove_all(folder_);
        }
        if (window_) glfwDestroyWindow(window_);
        glfwTerminate();
    }
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    bool Ready() const { return controller_ != nullptr; }
    orbel::studio::gui::AppState& State() { return *controller_->Context()->appState; }

    void ClearAndSwap() {
        glfwPollEvents();
        Clear();
        glfwSwapBuffers(window_);
    }

    // The ImGui part of a main frame, without the backends' GL work.
    void ImGuiWork() {
        ImGui::GetIO().DisplaySize = ImVec2(1920.0f, 1080.0f);
        ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        controller_->Update(16.0);
        layout_.Draw(State(), controller_->Panels(), controller_->Plugins(), 1.0f / 60.0f);
        ImGui::Render();
    }

    void LayoutFrame() {
        glfwPollEvents();
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        controller_->Update(16.0);
        layout_.Draw(State(), controller_->Panels(), controller_->Plugins(), ImGui::GetIO().DeltaTime);
        ImGui::Render();
        Clear();
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        glfwSwapBuffers(window_);
    }

    // GL work is queued; glFinish makes each frame's cost its own.
    static void Finish() { glFinish(); }

private:
    void Clear() {
        int width = 0;
        int height = 0;
        glfwGetFramebufferSize(window_, &width, &height);
        glViewport(0, 0, width, height);
        glClearColor(0.05f, 0.05f, 0.08f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    GLFWwindow* window_ = nullptr;
    fs::path folder_;
    std::unique_ptr<orbel::studio::gui::OrbelStudioController> controller_;
    orbel::studio::gui::MainLayout layout_;
};

Studio* studio = nullptr;

bool NeedsStudio(benchmark::State& state) {
    if (studio == nullptr || !studio->Ready()) {
        state.SkipWithError("no display with OpenGL 3.3");
        return false;
    }
    return true;
}

void BM_ClearAndSwap(benchmark::State& state) {
    if (!NeedsStudio(state)) return;
    for (auto _ : state) {
        studio->ClearAndSwap();
        Studio::Finish();
    }
}
BENCHMARK(BM_ClearAndSwap)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_LayoutFrame(benchmark::State& state) {
    if (!NeedsStudio(state)) return;
    for (auto _ : state) {
        studio->LayoutFrame();
        Studio::Finish();
    }
}
BENCHMARK(BM_LayoutFrame)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_LayoutImGuiWork(benchmark::State& state) {
    if (!NeedsStudio(state)) return;
    const bool busyPanels = state.range(0) != 0;
    orbel::studio::gui::ImGuiSink::Instance()->Clear();
    if (busyPanels) {
        for (int i = 0; i < 2000; ++i) {
            orbel::studio::Log("Sensor line " + std::to_string(i) + ": a log line of ordinary length for the panel", 2);
        }
    }
    for (auto _ : state) {
        if (busyPanels && !studio->State().PendingToast()) studio->State().SetToast("Sensor started", 1);
        studio->ImGuiWork();
    }
    state.SetLabel(busyPanels ? "2000 log lines, toast" : "empty log");
}
BENCHMARK(BM_LayoutImGuiWork)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// ---- start-up ----

std::string SelfPath() { return fs::read_symlink("/proc/self/exe").string(); }

void BM_StartToMainPhase(benchmark::State& state) {
    if (!NeedsStudio(state)) return;
    for (auto _ : state) {
        const fs::path data = TempFolder("orbel-bench-start");
        const fs::path appData = data / "Velmorant" / "OrbelStudio";
        const fs::path log = appData / "orbelstudio.log";
        auto sensor = std::make_shared<orbel::studio::SensorConfig>();
        sensor->sensor_ip = "127.0.0.1";
        sensor->camera_ip = "127.0.0.2";
        sensor->enable_camera = false;
        orbel::studio::gui::ConfigHandler::Save(std::make_shared<orbel::studio::gui::ViewerConfig>(), sensor,
                                                appData / "settings.bin");
        const auto start = Clock::now();
        const pid_t pid = orbel::bench::SpawnQuiet({ORBEL_STUDIO_EXECUTABLE}, {"XDG_DATA_HOME=" + data.string()});
        bool seen = false;
        while (pid > 0 && !seen && Clock::now() - start < std::chrono::seconds(30)) {
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            seen = text.str().find(orbel::studio::gui::kMainPhaseLogText) != std::string::npos;
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (pid > 0) {
            kill(pid, SIGKILL);  // our own child; its shutdown is not what is measured
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(data);
        if (!seen) {
            state.SkipWithError("orbelstudio did not reach its main phase");
            break;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_StartToMainPhase)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_StartToFirstFrame(benchmark::State& state) {
    if (!NeedsStudio(state)) return;
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid = orbel::bench::SpawnQuiet({SelfPath(), "--first-frame-probe"}, {});
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the window probe failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_StartToFirstFrame)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The baseline process: a window with an OpenGL 3.3 context and one swapped frame.
int FirstFrameProbe() {
    if (!glfwInit()) return 1;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(800, 391, "probe", nullptr, nullptr);
    if (window == nullptr) return 1;
    glfwMakeContextCurrent(window);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glfwSwapBuffers(window);
    glFinish();
    _exit(0);  // like the measured program, it is not waited for to shut down
}

void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    // Names carry their options ("/min_time:...", "/iterations:..."): found by their start.
    const auto find = [&](const std::string& name) {
        const orbel::bench::CaseResult* result = runs.Find(name);
        return result != nullptr ? result : runs.FindPrefix(name + "/");
    };
    const auto cpu_us = [&](const std::string& name) {
        const orbel::bench::CaseResult* result = find(name);
        return result != nullptr ? result->cpuNs / 1e3 : 0.0;
    };
    const auto real_ms = [&](const std::string& name) {
        const orbel::bench::CaseResult* result = find(name);
        return result != nullptr ? result->realNs / 1e6 : 0.0;
    };
    std::printf("\nPer frame at 1920 x 1080 (microseconds, CPU time):\n");
    std::printf("  clear and swap (baseline)        %9.1f\n", cpu_us("BM_ClearAndSwap"));
    std::printf("  whole main-loop frame            %9.1f  (%.1f x the baseline)\n", cpu_us("BM_LayoutFrame"),
                cpu_us("BM_ClearAndSwap") > 0 ? cpu_us("BM_LayoutFrame") / cpu_us("BM_ClearAndSwap") : 0.0);
    std::printf("  layout's ImGui work, empty log   %9.1f  (goal: under 1000)\n", cpu_us("BM_LayoutImGuiWork/0"));
    std::printf("  layout's ImGui work, full log    %9.1f\n", cpu_us("BM_LayoutImGuiWork/1"));
    std::printf("Start-up (milliseconds, wall clock):\n");
    std::printf("  window and first frame (baseline) %8.1f\n", real_ms("BM_StartToFirstFrame"));
    std::printf("  start to first main-phase frame   %8.1f  (goal: under 1500; the splash alone is 1000)\n",
                real_ms("BM_StartToMainPhase"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--first-frame-probe") == 0) {
        return FirstFrameProbe();
    }
    // The program's log goes nowhere here; the log panel still gets its lines.
    orbel::studio::SetupLogging(false, {});
    orbel::studio::AddLogSink(orbel::studio::gui::ImGuiSink::Instance());
    benchmark::Initialize(&argc, argv);
    Studio instance;
    studio = &instance;
    orbel::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    studio = nullptr;
    benchmark::Shutdown();
    return 0;
}
