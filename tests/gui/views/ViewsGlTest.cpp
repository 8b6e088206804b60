// The views rendering for real (Mesa under Xvfb): a known frame drawn off screen and read
// back (point colours at their projected places, grid and axes, an opaque alpha under
// translucent fills), the PNG exports of the 3D and 2D views compared with the pixels
// read back from OpenGL, a 2D picture whose width is not a multiple of four, the steady
// frame that uploads nothing, and the panels drawn through ImGui.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "app/GuiUtilities.h"
#include "support/GlTestContext.h"
#include "support/HeadlessImGui.h"
#include "views/Lidar2DViewPanel.h"
#include "views/View3DPanel.h"
#include "views/ViewerConfigPanel.h"
#include "views/ViewOverlays.h"
#include "views/ZoneEditor.h"

namespace orbel::studio::gui {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;

struct Rgba {
    int r, g, b, a;
};

std::vector<uint8_t> ReadTexture(unsigned texture, int width, int height, int components) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width * height * components));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, components == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return pixels;
}

// Pixel (x, y) with y counted from the top, as on screen; OpenGL keeps the bottom row first.
Rgba At(const std::vector<uint8_t>& rgba, int x, int y) {
    const auto i = static_cast<std::size_t>(((kHeight - 1 - y) * kWidth + x) * 4);
    return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

bool Near(Rgba p, Rgba q, int tolerance = 3) {
    return std::abs(p.r - q.r) <= tolerance && std::abs(p.g - q.g) <= tolerance && std::abs(p.b - q.b) <= tolerance;
}

// Whether any pixel within `radius` of (x, y) has the colour.
bool FoundNear(const std::vector<uint8_t>& rgba, Vec2 screen, Rgba colour, int radius = 2, int tolerance = 12) {
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const int x = static_cast<int>(screen.x) + dx;
            const int y = static_cast<int>(screen.y) + dy;
            if (x >= 0 && y >= 0 && x < kWidth && y < kHeight && Near(At(rgba, x, y), colour, tolerance)) {
                return true;
            }
        }
    }
    return false;
}

struct Scene3D {
    std::shared_ptr<AppState> app = std::make_shared<AppState>();
    View3DPanel panel;

    Scene3D() {
        ViewerConfig& c = *app->viewerConfig;
        c.background_color_r = c.background_color_g = c.background_color_b = 0.0f;
        c.show_grid = false;
        c.show_origin = false;
        c.point_size = 9;
        c.view3d_colormap = COLORMAP_JET;
        c.view3d_scalar_type = ScalarType::ZAxis;
        c.view3d_min_scalar_value = 0.0f;
        c.view3d_max_scalar_value = 1000.0f;
        // Straight down from 30 m, +x up the screen.
        panel.Camera().eye = {0.0f, 0.0f, 30000.0f};
        panel.Camera().target = {0.0f, 0.0f, 0.0f};
        panel.Camera().up = {1.0f, 0.0f, 0.0f};
    }
    void Frame(std::vector<float> xyzMm) {
        auto frame = std::make_shared<FrameData>();
        frame->xyz.assign(xyzMm.begin(), xyzMm.end());
        panel.Consume(frame);
    }
    std::vector<uint8_t> Draw() {
        panel.UpdateScene(app);
        panel.Render(kWidth, kHeight, *app->viewerConfig);
        return ReadTexture(panel.Renderer().ColorTexture(), kWidth, kHeight, 4);
    }
    Vec2 Screen(Vec3 metres) {
        const Mat4 mvp = RenderProjection(kWidth, kHeight) * panel.Camera().ViewMatrix();
        return Project(metres, mvp, {0, 0}, {kWidth, kHeight}).position;
    }
};

TEST(ViewsGlTest, PointsDrawInTheirColourMapColoursWhereTheyProject) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    Scene3D s;
    // Low, middle and high points (z 0, 500, 1000 mm): Jet at t = 0, 0.5 and 1.
    s.Frame({5000, 0, 0, 0, 5000, 500, -5000, -5000, 1000});
    const std::vector<uint8_t> image = s.Draw();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(Near(At(image, 5, 5), {0, 0, 0, 255}));
    EXPECT_TRUE(FoundNear(image, s.Screen({5, 0, 0}), {0, 0, 127, 255}));
    EXPECT_TRUE(FoundNear(image, s.Screen({0, 5, 0.5f}), {127, 255, 127, 255}));
    EXPECT_TRUE(FoundNear(image, s.Screen({-5, -5, 1}), {127, 0, 0, 255}));
    // Viridis at its top stop through the shader's own table.
    s.app->viewerConfig->view3d_colormap = COLORMAP_VIRIDIS;
    s.panel.Consume(std::make_shared<AppAction>(AppActionType::ViewerConfigChanged, nullptr));
    const std::vector<uint8_t> viridis = s.Draw();
    EXPECT_TRUE(FoundNear(viridis, s.Screen({-5, -5, 1}), {253, 231, 36, 255}));
    // Embedded colours with the wrong count draw white.
    s.app->viewerConfig->view3d_colormap = COLORMAP_EMBEDDED;
    s.panel.CurrentFrame()->rgb = {10, 20, 30};
    s.panel.Consume(std::make_shared<AppAction>(AppActionType::ViewerConfigChanged, nullptr));
    EXPECT_TRUE(FoundNear(s.Draw(), s.Screen({5, 0, 0}), {255, 255, 255, 255}));
}

TEST(ViewsGlTest, GridAndAxesAppearWhenSwitchedOn) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    Scene3D s;
    s.panel.Camera().eye = {0.0f, 0.0f, 15000.0f};
    std::vector<uint8_t> image = s.Draw();
    const Vec2 onAxisX = s.Screen({0.6f, 0, 0});
    const Vec2 onAxisY = s.Screen({0, 0.6f, 0});
    const Vec2 onCircle = s.Screen({0, 5.0f, 0});
    EXPECT_FALSE(FoundNear(image, onAxisX, {255, 0, 0, 255}));
    EXPECT_FALSE(FoundNear(image, onCircle, {102, 102, 102, 255}));

    s.app->viewerConfig->show_origin = true;
    s.app->viewerConfig->show_grid = true;
    image = s.Draw();
    EXPECT_TRUE(FoundNear(image, onAxisX, {255, 0, 0, 255}));
    EXPECT_TRUE(FoundNear(image, onAxisY, {0, 255, 0, 255}));
    // Grey at alpha 0.8 over black.
    EXPECT_TRUE(FoundNear(image, onCircle, {102, 102, 102, 255}));
    EXPECT_TRUE(FoundNear(image, s.Screen({-5.0f, 0, 0}), {102, 102, 102, 255}));
}

TEST(ViewsGlTest, TranslucentFillsKeepTheBackgroundOpaqueForTheExport) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    Scene3D s;
    ZoneEditor::SetEditing(*s.app->zoneEditorState, true);  // a zone at x 4..8, y -2..2
    s.panel.Camera().eye = {6000.0f, 0.0f, 20000.0f};
    s.panel.Camera().target = {6000.0f, 0.0f, 0.0f};
    const std::vector<uint8_t> image = s.Draw();
    const Vec2 inside = s.Screen({6.5f, 0.5f, 1.1f});
    const Rgba p = At(image, static_cast<int>(inside.x), static_cast<int>(inside.y));
    EXPECT_GT(p.r, 0);  // the orange fills are there
    EXPECT_EQ(p.a, 255);
}

TEST(ViewsGlTest, ASteadyFrameUploadsNothing) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    Scene3D s;
    s.app->viewerConfig->show_grid = true;
    s.app->viewerConfig->show_origin = true;
    s.Frame({5000, 0, 0});
    s.Draw();
    const uint64_t uploads = s.panel.Renderer().UploadCount();
    s.Draw();
    s.Draw();
    EXPECT_EQ(s.panel.Renderer().UploadCount(), uploads);
    s.Frame({5000, 0, 0});
    s.Draw();
    EXPECT_EQ(s.panel.Renderer().UploadCount(), uploads + 1);
}

std::vector<uint8_t> DecodePng(const std::string& path, int& width, int& height, int components) {
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &width, &height, &channels, components);
    std::vector<uint8_t> pixels;
    if (data != nullptr) {
        pixels.assign(data, data + static_cast<std::ptrdiff_t>(width * height * components));
        stbi_image_free(data);
    }
    return pixels;
}

// Bottom-up rows as OpenGL gives them, turned top-down as a PNG keeps them.
std::vector<uint8_t> TopDown(const std::vector<uint8_t>& bottomUp, int width, int height, int components) {
    std::vector<uint8_t> out(bottomUp.size());
    const auto stride = static_cast<std::size_t>(width * components);
    for (int row = 0; row < height; ++row) {
        std::copy_n(bottomUp.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(row) * stride), stride,
                    out.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(height - 1 - row) * stride));
    }
    return out;
}

class ExportGlTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("orbel-views-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(ExportGlTest, The3DExportHoldsTheRenderedPixels) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    Scene3D s;
    s.app->viewerConfig->show_grid = true;
    s.app->viewerConfig->background_color_b = 0.3f;
    s.Frame({5000, 0, 0, 0, 5000, 500, -5000, -5000, 1000});
    const std::vector<uint8_t> rendered = s.Draw();

    std::string path = (folder_ / "view.png").string();
    s.panel.ExportPng(path, *s.app);
    ASSERT_TRUE(s.app->PendingToast().has_value());
    EXPECT_EQ(s.app->PendingToast()->text, "3D view exported");
    int width = 0;
    int height = 0;
    const std::vector<uint8_t> png = DecodePng(path, width, height, 4);
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    EXPECT_TRUE(png == TopDown(rendered, kWidth, kHeight, 4));

    // A path that cannot be written is a failure, never "exported".
    std::string bad = (folder_ / "missing" / "view.png").string();
    s.panel.ExportPng(bad, *s.app);
    EXPECT_EQ(s.app->PendingToast()->text, "3D view export failed");
}

// A frame of 56 lines of `width` points with signal = column * 10 + line.
std::shared_ptr<FrameData> SignalFrame(int width) {
    auto frame = std::make_shared<FrameData>();
    frame->width = static_cast<uint32_t>(width);
    frame->height = 56;
    for (int line = 0; line < 56; ++line) {
        for (int column = 0; column < width; ++column) {
            frame->signal.push_back(static_cast<float>(column * 10 + line));
        }
    }
    frame->ambient = frame->signal;
    return frame;
}

TEST_F(ExportGlTest, The2DPictureUploadsRowsOfAnyWidthAndExportsThem) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::HeadlessImGui imgui;
    auto app = std::make_shared<AppState>();
    app->viewerConfig->view2d_colormap = COLORMAP_VIRIDIS;
    app->viewerConfig->view2d_min_scalar_value = 0.0f;
    app->viewerConfig->view2d_max_scalar_value = 150.0f;
    Lidar2DViewPanel panel;
    panel.Consume(SignalFrame(10));  // 30-byte rows: not a multiple of 4
    imgui.Frame([&] { panel.DrawLidar2DViewPanel(app); });
    ASSERT_TRUE(panel.HasImage());
    ASSERT_EQ(panel.ImageWidth(), 10);
    ASSERT_NE(panel.ImageTexture(), 0u);
    EXPECT_TRUE(panel.LogoLoaded());
    const std::vector<uint8_t> uploaded = ReadTexture(panel.ImageTexture(), 10, 56, 3);
    EXPECT_TRUE(uploaded == panel.ImageBytes());

    std::string path = (folder_ / "view2d.png").string();
    panel.ExportPng(path, *app);
    EXPECT_EQ(app->PendingToast()->text, "2D view exported as PNG");
    int width = 0;
    int height = 0;
    const std::vector<uint8_t> png = DecodePng(path, width, height, 3);
    ASSERT_EQ(width, 10);
    ASSERT_EQ(height, 56);
    // Scan line 0 at the bottom of the picture, as the view shows it.
    EXPECT_TRUE(png == TopDown(uploaded, 10, 56, 3));

    std::string bad = (folder_ / "missing" / "view2d.png").string();
    panel.ExportPng(bad, *app);
    EXPECT_EQ(app->PendingToast()->text, "Failed to export 2D view");

    panel.ReleaseGl();
    EXPECT_EQ(panel.ImageTexture(), 0u);
    Resources::Instance().DeleteTextures();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ViewsGlTest, PanelsDrawThroughImGuiAndReleaseEveryGlObject) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::HeadlessImGui imgui(ImVec2(1600.0f, 900.0f));
    auto context3d = std::make_shared<AppContext>();
    auto app = context3d->appState;
    View3DPanel view3d;
    Lidar2DViewPanel view2d;
    ViewerConfigPanel viewer;
    viewer.SetAppContext(context3d);
    context3d->dispatcher->Subscribe<AppAction>(&view3d);
    context3d->dispatcher->Subscribe<AppAction>(&view2d);

    auto frame = SignalFrame(192);
    for (int i = 0; i < 56 * 192; ++i) {
        frame->xyz.insert(frame->xyz.end(), {1000.0f + static_cast<float>(i % 192) * 50.0f,
                                             static_cast<float>(i / 192) * 100.0f - 2800.0f, 500.0f});
    }
    auto draw = [&] {
        ImGui::BeginChild("Center3D", ImVec2(1200.0f, 600.0f));
        view3d.DrawView3DPanel(app);
        ImGui::EndChild();
        ImGui::BeginChild("Center2D", ImVec2(1200.0f, 224.0f));
        view2d.DrawLidar2DViewPanel(app);
        ImGui::EndChild();
        ImGui::SetCursorPos(ImVec2(1220.0f, 10.0f));
        ImGui::BeginChild("RightTop", ImVec2(350.0f, 860.0f));
        viewer.DrawViewerConfigPanel(app);
        ImGui::EndChild();
    };
    for (auto* consumer : std::initializer_list<IConsumer<FrameData>*>{&view3d, &view2d, &viewer}) {
        consumer->Consume(frame);
    }
    for (int i = 0; i < 5; ++i) {
        imgui.Frame(draw);
    }
    EXPECT_EQ(view3d.Renderer().FramebufferWidth(), 1200);
    EXPECT_EQ(view3d.Renderer().FramebufferHeight(), 600);
    EXPECT_TRUE(view3d.Renderer().HasObject("lidar"));
    EXPECT_TRUE(view2d.HasImage());
    ASSERT_NE(viewer.CurrentFrame(), nullptr);
    EXPECT_FALSE(viewer.Histogram3D().values.empty());

    // Zone editing is switched on by the toolbar's "Edit zones" switch over the picture,
    // and the click does not reach the camera.
    const Vec3 eye = view3d.Camera().eye;
    const ImVec2 origin = ImGui::GetStyle().WindowPadding;
    imgui.Click(ImVec2(origin.x + 20.0f, origin.y + 18.0f), draw);
    EXPECT_TRUE(app->zoneEditorState->editing);
    imgui.Frame(draw);
    EXPECT_TRUE(view3d.Renderer().HasObject("zone_top_fill_1"));
    EXPECT_FALSE(view3d.Camera().Dragging());
    EXPECT_EQ(view3d.Camera().eye.x, eye.x);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const unsigned texture = view3d.Renderer().ColorTexture();
    view3d.ReleaseGl();
    view2d.ReleaseGl();
    Resources::Instance().DeleteTextures();
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_EQ(view3d.Renderer().ColorTexture(), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
}  // namespace orbel::studio::gui

namespace orbel::studio::gui {
namespace {

// Counts the ViewerConfigChanged actions published.
struct ChangeCounter : IConsumer<AppAction> {
    void Consume(std::shared_ptr<AppAction> action) override { changes += action->Is(AppActionType::ViewerConfigChanged); }
    int changes = 0;
};

TEST(ViewsGlTest, AfterAGizmoDragTheCloudKeepsItsChannelColours) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::HeadlessImGui imgui(ImVec2(1000.0f, 700.0f));
    auto app = std::make_shared<AppState>();
    ViewerConfig& config = *app->viewerConfig;
    config.cloud_transform_mode = 1;
    config.view3d_scalar_type = ScalarType::Signal;
    View3DPanel panel;
    panel.Camera().eye = {0.0f, -20000.0f, 5000.0f};
    panel.Camera().target = {0.0f, 0.0f, 0.0f};
    panel.Camera().up = {0.0f, 0.0f, 1.0f};
    auto frame = std::make_shared<FrameData>();
    frame->xyz.assign({1000, 0, 3000, 2000, 0, 3000});
    frame->signal = {42, 43};
    panel.Consume(frame);
    auto draw = [&] {
        ImGui::BeginChild("Center3D", ImVec2(800.0f, 600.0f));
        panel.DrawView3DPanel(app);
        ImGui::EndChild();
    };
    imgui.Frame(draw);
    ASSERT_EQ(panel.Renderer().FindObject("lidar")->scalars, (std::vector<float>{42, 43}));

    // The x arrow, as the panel projects it in its 800 x 600 image.
    const Vec2 rectMin = ToVec2(ImGui::GetStyle().WindowPadding);
    const Mat4 mvp = OverlayProjection(800.0f, 600.0f) * panel.Camera().ViewMatrix();
    const Vec2 o = Project({0, 0, 0}, mvp, rectMin, rectMin + Vec2{800, 600}).position;
    const Vec2 tip = Project({kGizmoAxisLengthMetres, 0, 0}, mvp, rectMin, rectMin + Vec2{800, 600}).position;
    const Vec2 grab = o + (tip - o) * 0.6f;
    imgui.MoveMouse(ToImVec(grab));
    imgui.Frame(draw);
    imgui.SetMouseButton(0, true);
    imgui.Frame(draw);
    imgui.MoveMouse(ToImVec(grab + (tip - o) * 0.5f));
    imgui.Frame(draw);
    imgui.SetMouseButton(0, false);
    imgui.Frame(draw);
    imgui.Frame(draw);

    EXPECT_NEAR(config.cloud_offset_x_meters.load(), 0.675f, 0.05f);
    const auto lidar = panel.Renderer().FindObject("lidar");
    ASSERT_TRUE(lidar.has_value());
    EXPECT_NEAR(lidar->positions[0].x, 1000.0f + 675.0f, 50.0f);
    EXPECT_EQ(lidar->scalars, (std::vector<float>{42, 43}));  // still the signal, not the height
    panel.ReleaseGl();
    Resources::Instance().DeleteTextures();
}

TEST(ViewsGlTest, FitsTellTheViewsWhenTheyEndAndAResetWaitsForThem) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::HeadlessImGui imgui(ImVec2(400.0f, 1000.0f));
    auto appContext = std::make_shared<AppContext>();
    auto app = appContext->appState;
    ChangeCounter counter;
    appContext->dispatcher->Subscribe<AppAction>(&counter);

    auto frame = std::make_shared<FrameData>();
    constexpr int kPoints = 56 * 40000;  // large enough that a fit outlasts one draw
    frame->signal.resize(kPoints);
    frame->xyz.resize(3 * kPoints);
    for (int i = 0; i < kPoints; ++i) {
        frame->signal[static_cast<std::size_t>(i)] = static_cast<float>((static_cast<int64_t>(i) * 7919) % 200);
        frame->xyz[static_cast<std::size_t>(3 * i + 2)] = static_cast<float>((static_cast<int64_t>(i) * 104729) % 4000) - 2000.0f;
    }
    frame->ambient = frame->signal;
    frame->width = 40000;
    frame->height = 56;

    {
        ViewerConfigPanel panel;
        panel.SetAppContext(appContext);
        panel.Consume(frame);
        auto draw = [&] { panel.DrawViewerConfigPanel(app); };
        imgui.Frame(draw);
        EXPECT_TRUE(panel.FitRunning3D());
        EXPECT_TRUE(panel.FitRunning2D());
        EXPECT_EQ(counter.changes, 0);  // a fit that starts has changed nothing yet
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((panel.FitRunning3D() || panel.FitRunning2D()) && std::chrono::steady_clock::now() < deadline) {
            imgui.Frame(draw);
        }
        EXPECT_GE(counter.changes, 1);
        EXPECT_NEAR(app->viewerConfig->view2d_min_scalar_value.load(), 2.0f, 1.0f);
        EXPECT_NEAR(app->viewerConfig->view2d_max_scalar_value.load(), 198.0f, 1.0f);
        EXPECT_NEAR(app->viewerConfig->view3d_min_scalar_value.load(), -1960.0f, 5.0f);
        EXPECT_FALSE(panel.Histogram3D().values.empty());
        EXPECT_FALSE(panel.Histogram2D().values.empty());
    }

    // A reset right after the fits started: the defaults stay, whatever the fits find.
    // (No histograms to build this time, so the draw ends long before the fit.)
    app->viewerConfig->show_2d_view = false;
    app->viewerConfig->view3d_colormap = COLORMAP_UNIFORM;
    ViewerConfigPanel panel;
    panel.SetAppContext(appContext);
    panel.Consume(frame);
    imgui.Frame([&] { panel.DrawViewerConfigPanel(app); });
    EXPECT_TRUE(panel.FitRunning3D());
    EXPECT_FALSE(panel.FitRunning2D());  // the 2D view is off: no 2D fit
    panel.ResetConfiguration(*app->viewerConfig);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const ViewerConfig defaults;
    EXPECT_EQ(app->viewerConfig->view3d_min_scalar_value.load(), defaults.view3d_min_scalar_value.load());
    EXPECT_EQ(app->viewerConfig->view3d_max_scalar_value.load(), defaults.view3d_max_scalar_value.load());
    EXPECT_TRUE(app->viewerConfig->show_2d_view.load());
    EXPECT_EQ(app->viewerConfig->view3d_colormap, COLORMAP_JET);
    EXPECT_FALSE(panel.FitRunning3D());
    Resources::Instance().DeleteTextures();
}

}  // namespace
}  // namespace orbel::studio::gui
