// The views on one 56 x 192-point frame (10,752 points):
//  - RebuildLidar (colours, scalars, transform and the staged vertex arrays) for three
//    colourings, against a memcpy of the frame's coordinates;
//  - picking the point under the mouse; a range fit and the histogram of one channel;
//  - the 3D view's off-screen render alone (empty scene, and the frame with grid and axes);
//  - under the machine's OpenGL (llvmpipe under Xvfb) at 1920 x 1080: one whole GUI frame
//    with the 3D view, the 2D view and the viewer panel laid out as in the program, with a
//    new lidar frame and with none (steady), against a frame that only clears and swaps
//    and against the same windows without the views (what the layout alone costs).
// GUI frames are timed in wall-clock time and end with glFinish, so the GPU's work counts.
// Without a display the OpenGL benchmarks are skipped with a message.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GuiUtilities.h"
#include "common/RecordingReporter.h"
#include "views/Lidar2DViewPanel.h"
#include "views/LidarCloud.h"
#include "views/OrbitCamera.h"
#include "views/View3DPanel.h"
#include "views/ViewerConfigLogic.h"
#include "views/ViewerConfigPanel.h"

namespace {

using namespace orbel::studio;
using namespace orbel::studio::gui;

constexpr int kLines = 56;
constexpr int kPointsPerLine = 192;
constexpr int kPoints = kLines * kPointsPerLine;
constexpr int kWindowWidth = 1920;
constexpr int kWindowHeight = 1080;

// A frame like the sensor's: 56 lines fanning out in front of the sensor, signal,
// ambient and colours varying with the point; `seed` shifts the values frame to frame.
std::shared_ptr<FrameData> MakeFrame(int seed) {
    auto frame = std::make_shared<FrameData>();
    frame->width = kPointsPerLine;
    frame->height = kLines;
    frame->xyz.reserve(3 * kPoints);
    for (int line = 0; line < kLines; ++line) {
        for (int p = 0; p < kPointsPerLine; ++p) {
            const float azimuth = (static_cast<float>(p) / kPointsPerLine - 0.5f) * 2.0f;
            const float elevation = (static_cast<float>(line) / kLines - 0.5f) * 0.5f;
            const float range = 8000.0f + 3000.0f * std::sin(static_cast<float>(p + seed) * 0.05f);
            frame->xyz.push_back(range * std::cos(azimuth));
            frame->xyz.push_back(range * std::sin(azimuth));
            frame->xyz.push_back(range * std::sin(elevation) + 1500.0f);
            frame->signal.push_back(static_cast<float>((p * 7 + line * 13 + seed) % 300));
            frame->ambient.push_back(static_cast<float>((p * 3 + line + seed) % 765));
            frame->rgb.insert(frame->rgb.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(line * 4),
                                                 static_cast<uint8_t>(seed)});
        }
    }
    return frame;
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const auto frame = MakeFrame(0);
    std::vector<float> target(frame->xyz.size());
    for (auto _ : state) {
        std::memcpy(target.data(), frame->xyz.data(), target.size() * sizeof(float));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel("memcpy of the frame's coordinates");
}

void BM_RebuildLidar(benchmark::State& state) {
    auto frame = MakeFrame(1);
    ViewerConfig config;
    const char* label = "";
    switch (state.range(0)) {
        case 0:
            label = "Jet by height";
            break;
        case 1:
            label = "Viridis by signal, rotated";
            config.view3d_colormap = COLORMAP_VIRIDIS;
            config.view3d_scalar_type = ScalarType::Signal;
            config.cloud_yaw_degrees = 30.0f;
            config.cloud_offset_x_meters = 1.0f;
            break;
        default:
            label = "embedded colours";
            config.view3d_colormap = COLORMAP_EMBEDDED;
            break;
    }
    SceneRenderer renderer;
    renderer.AddAxes(1000.0f);
    renderer.AddRangeCircles();
    std::vector<float> pick;
    Scene scene;
    StagedScene staged;
    for (auto _ : state) {
        SceneObject object;
        BuildLidarObject(*frame, config, object, pick);
        scene["lidar"] = std::move(object);
        StageScene(scene, staged);
        benchmark::DoNotOptimize(staged.positions.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string("RebuildLidar + staging, ") + label);
}

void BM_PickPoint(benchmark::State& state) {
    auto frame = MakeFrame(2);
    ViewerConfig config;
    SceneObject object;
    std::vector<float> pick;
    BuildLidarObject(*frame, config, object, pick);
    OrbitCamera camera;
    camera.Reset();
    const Mat4 mvp = OverlayProjection(1170.0f, 840.0f) * camera.ViewMatrix();
    const Vec2 mouse = Project({pick[3 * 5000], pick[3 * 5000 + 1], pick[3 * 5000 + 2]}, mvp, {0, 0}, {1170, 840}).position;
    for (auto _ : state) {
        auto found = PickPoint(pick, mouse, mvp, {0, 0}, {1170, 840});
        benchmark::DoNotOptimize(found);
    }
    state.SetLabel("PickPoint over the frame");
}

void BM_FitAndHistogram(benchmark::State& state) {
    auto frame = MakeFrame(3);
    Histogram histogram;
    for (auto _ : state) {
        auto fit = FitRange(frame->signal, FitBounds(ScalarType::Signal));
        UpdateHistogram(histogram, &frame->signal, ScalarBounds{0.0f, 300.0f});
        benchmark::DoNotOptimize(fit);
        benchmark::DoNotOptimize(histogram.counts.data());
    }
    state.SetLabel("fit + histogram of the signal");
}

// One window with an OpenGL 3.3 context and the ImGui backends, for the GUI frames.
struct GuiHarness {
    GLFWwindow* window = nullptr;
    std::shared_ptr<AppState> app = std::make_shared<AppState>();
    std::shared_ptr<AppContext> context = std::make_shared<AppContext>();
    std::unique_ptr<View3DPanel> view3d;
    std::unique_ptr<Lidar2DViewPanel> view2d;
    std::unique_ptr<ViewerConfigPanel> viewer;
    std::shared_ptr<FrameData> frames[2];

    bool Open() {
        if (!glfwInit()) {
            return false;
        }
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
        glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
        window = glfwCreateWindow(kWindowWidth, kWindowHeight, "bench", nullptr, nullptr);
        if (window == nullptr) {
            glfwTerminate();
            return false;
        }
        glfwMakeContextCurrent(window);
        glfwSwapInterval(0);
        ImGui::CreateContext();
        ImGui::GetIO().IniFilename = nullptr;
        ApplyTheme();
        ImGui_ImplGlfw_InitForOpenGL(window, false);
        ImGui_ImplOpenGL3_Init("#version 330");
        app = context->appState;
        view3d = std::make_unique<View3DPanel>();
        view2d = std::make_unique<Lidar2DViewPanel>();
        viewer = std::make_unique<ViewerConfigPanel>();
        viewer->SetAppContext(context);
        context->dispatcher->Subscribe<FrameData>(view3d.get());
        context->dispatcher->Subscribe<FrameData>(view2d.get());
        context->dispatcher->Subscribe<FrameData>(viewer.get());
        context->dispatcher->Subscribe<AppAction>(view3d.get());
        context->dispatcher->Subscribe<AppAction>(view2d.get());
        frames[0] = MakeFrame(10);
        frames[1] = MakeFrame(11);
        return true;
    }

    void Close() {
        if (window == nullptr) {
            return;
        }
        view3d->ReleaseGl();
        view2d->ReleaseGl();
        Resources::Instance().DeleteTextures();
        viewer.reset();
        view2d.reset();
        view3d.reset();
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplGlfw_Shutdown();
        ImGui::DestroyContext();
        glfwDestroyWindow(window);
        glfwTerminate();
        window = nullptr;
    }

    enum class Content { Nothing, LayoutOnly, Panels };

    // The program's layout: two 350-pixel columns, the 3D view above the 2D view between
    // them; with LayoutOnly the windows are there but the views and the panel are not.
    void Frame(Content content) {
        const bool withPanels = content == Content::Panels;
        glfwPollEvents();
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplGlfw_NewFrame();
        ImGui::NewFrame();
        if (content != Content::Nothing) {
            const ImGuiViewport* viewport = ImGui::GetMainViewport();
            ImGui::SetNextWindowPos(viewport->Pos);
            ImGui::SetNextWindowSize(viewport->Size);
            ImGui::Begin("Root", nullptr,
                         ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                             ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse);
            const float height = ImGui::GetContentRegionAvail().y;
            ImGui::BeginChild("LeftColumn", ImVec2(350.0f, height), true);
            ImGui::EndChild();
            ImGui::SameLine();
            const float centreWidth = ImGui::GetContentRegionAvail().x - 350.0f - 16.0f;
            ImGui::BeginChild("Center", ImVec2(centreWidth, height), true);
            const float height2d = 56.0f * app->viewerConfig->lidar_2d_view_scale_factor;
            // As in the program's layout, the view regions draw no background of their own.
            ImGui::BeginChild("Center3D", ImVec2(0.0f, ImGui::GetContentRegionAvail().y - height2d - 10.0f), false,
                              ImGuiWindowFlags_NoBackground);
            if (withPanels) {
                view3d->DrawView3DPanel(app);
            }
            ImGui::EndChild();
            ImGui::BeginChild("Center2D", ImVec2(0.0f, height2d), false, ImGuiWindowFlags_NoBackground);
            if (withPanels) {
                view2d->DrawLidar2DViewPanel(app);
            }
            ImGui::EndChild();
            ImGui::EndChild();
            ImGui::SameLine();
            ImGui::BeginChild("RightTop", ImVec2(350.0f, height), true);
            if (withPanels) {
                viewer->DrawViewerConfigPanel(app);
            }
            ImGui::EndChild();
            ImGui::End();
        }
        ImGui::Render();
        int width = 0;
        int heightPixels = 0;
        glfwGetFramebufferSize(window, &width, &heightPixels);
        glViewport(0, 0, width, heightPixels);
        glClearColor(0.05f, 0.05f, 0.08f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        glfwSwapBuffers(window);
        glFinish();
    }
};

GuiHarness* g_gui = nullptr;

bool RequireGui(benchmark::State& state) {
    if (g_gui == nullptr) {
        state.SkipWithError("no display: OpenGL benchmarks skipped");
        return false;
    }
    return true;
}

void BM_ClearAndSwap(benchmark::State& state) {
    if (!RequireGui(state)) {
        return;
    }
    for (auto _ : state) {
        g_gui->Frame(GuiHarness::Content::Nothing);
    }
    state.SetLabel("clear and swap, 1920 x 1080");
}

// The 3D view's off-screen render alone, 1170 x 830 as in the layout: an empty scene, then
// the lidar frame with grid and axes.
void BM_Render3D(benchmark::State& state) {
    if (!RequireGui(state)) {
        return;
    }
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    if (state.range(0) == 1) {
        panel.Consume(g_gui->frames[0]);
    } else {
        app->viewerConfig->show_grid = false;
        app->viewerConfig->show_origin = false;
    }
    panel.UpdateScene(app);
    for (auto _ : state) {
        panel.Render(1170.0f, 830.0f, *app->viewerConfig);
        glFinish();
    }
    panel.ReleaseGl();
    state.SetLabel(state.range(0) == 1 ? "3D render: frame, grid, axes" : "3D render: empty scene");
}

void BM_GuiFrameLayoutOnly(benchmark::State& state) {
    if (!RequireGui(state)) {
        return;
    }
    for (auto _ : state) {
        g_gui->Frame(GuiHarness::Content::LayoutOnly);
    }
    state.SetLabel("the program's empty windows, no views");
}

void BM_GuiFrameNewLidarFrame(benchmark::State& state) {
    if (!RequireGui(state)) {
        return;
    }
    int next = 0;
    for (auto _ : state) {
        g_gui->context->dispatcher->Publish(g_gui->frames[next]);
        next ^= 1;
        g_gui->Frame(GuiHarness::Content::Panels);
    }
    state.SetLabel("3D + 2D + viewer panel, new frame each");
}

void BM_GuiFrameSteady(benchmark::State& state) {
    if (!RequireGui(state)) {
        return;
    }
    g_gui->context->dispatcher->Publish(g_gui->frames[0]);
    for (int i = 0; i < 6; ++i) {
        g_gui->Frame(GuiHarness::Content::Panels);  // let the queues drain and the fits end
    }
    const uint64_t uploadsBefore = g_gui->view3d->Renderer().UploadCount();
    for (auto _ : state) {
        g_gui->Frame(GuiHarness::Content::Panels);
    }
    state.counters["uploads"] = static_cast<double>(g_gui->view3d->Renderer().UploadCount() - uploadsBefore);
    state.SetLabel("3D + 2D + viewer panel, no new data");
}

BENCHMARK(BM_MemcpyBaseline);
BENCHMARK(BM_RebuildLidar)->DenseRange(0, 2);
BENCHMARK(BM_PickPoint);
BENCHMARK(BM_FitAndHistogram);
BENCHMARK(BM_ClearAndSwap)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Render3D)->DenseRange(0, 1)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_GuiFrameLayoutOnly)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GuiFrameNewLidarFrame)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GuiFrameSteady)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Frames drawn through OpenGL are measured in wall-clock time; the rest in CPU time.
bool TimedByTheClock(const std::string& name) {
    return name.find("Gui") != std::string::npos || name.find("Render3D") != std::string::npos ||
           name.find("ClearAndSwap") != std::string::npos;
}

double PerFrameNs(const orbel::bench::CaseResult& result) {
    return TimedByTheClock(result.name) ? result.realNs : result.cpuNs;
}

// Each result per frame beside its baseline: memcpy for the CPU work, clear-and-swap for
// the frames drawn.
void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    const orbel::bench::CaseResult* memcpyBase = runs.FindPrefix("BM_MemcpyBaseline");
    const orbel::bench::CaseResult* swapBase = runs.FindPrefix("BM_ClearAndSwap");
    std::printf("\n%-52s %12s %12s\n", "per frame of 10,752 points", "us", "x baseline");
    for (const orbel::bench::CaseResult& r : runs.Results()) {
        const orbel::bench::CaseResult* base = TimedByTheClock(r.name) ? swapBase : memcpyBase;
        const double ns = PerFrameNs(r);
        const double baseNs = base != nullptr ? PerFrameNs(*base) : 0.0;
        const double ratio = baseNs > 0.0 ? ns / baseNs : 0.0;
        std::printf("%-52s %12.1f %12.2f\n", r.label.c_str(), ns / 1e3, ratio);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    GuiHarness gui;
    if (gui.Open()) {
        g_gui = &gui;
    } else {
        std::printf("No OpenGL 3.3 window (no display?): the GUI-frame benchmarks are skipped.\n");
    }
    orbel::bench::RecordingReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    g_gui = nullptr;
    gui.Close();
    benchmark::Shutdown();
    return 0;
}
