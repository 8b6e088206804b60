// The viewer-configuration panel driven through its own controls, as a user drives it: the
// 3D scalar and colour-map combos, the rotation drags, the point-size field and the reset
// button, each found on screen by hovering and then clicked, dragged or typed into. The
// panel's icon buttons upload textures, hence the OpenGL context.
#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/GuiUtilities.h"
#include "support/GlTestContext.h"
#include "support/HeadlessImGui.h"
#include "views/ViewerConfigPanel.h"

namespace orbel::studio::gui {
namespace {

// Counts the ViewerConfigChanged actions published.
struct ChangeCounter : IConsumer<AppAction> {
    void Consume(std::shared_ptr<AppAction> action) override { changes += action->Is(AppActionType::ViewerConfigChanged); }
    int changes = 0;
};

// One point per line: z from -2000 to 3000 mm, x from 1000 to 6000 mm, reflectivity 0 to
// 165. With fewer than 100 points the automatic fit's percentiles are the extremes too.
std::shared_ptr<FrameData> SpanFrame() {
    auto frame = std::make_shared<FrameData>();
    frame->width = 1;
    frame->height = 56;
    for (int i = 0; i < 56; ++i) {
        const float share = static_cast<float>(i) / 55.0f;
        frame->xyz.insert(frame->xyz.end(), {1000.0f + 5000.0f * share, 0.0f, -2000.0f + 5000.0f * share});
        frame->signal.push_back(3.0f * static_cast<float>(i));  // 0 to 165
    }
    frame->ambient = frame->signal;
    return frame;
}

class PanelDriver {
public:
    PanelDriver() {
        context_->dispatcher->Subscribe<AppAction>(&counter);
        panel.SetAppContext(context_);
    }
    ~PanelDriver() { Resources::Instance().DeleteTextures(); }

    ViewerConfig& Config() { return *app->viewerConfig; }

    void Frame() { gui.Frame(draw_); }
    void Click(ImVec2 at) { gui.Click(at, draw_); }

    // The centre of the item with this label, found by moving the mouse down the column at
    // `x`. The panel sits alone in the test window, so its IDs are the window's.
    ImVec2 Find(const char* label, float x = 30.0f) {
        ImGuiID id = 0;
        gui.Frame([&] {
            id = ImGui::GetID(label);
            panel.DrawViewerConfigPanel(app);
        });
        return FindHovered(x, [id] { return GImGui->HoveredId == id; });
    }

    // The centre of the first item in the child region `name` down the column at `x`.
    ImVec2 FindInChild(const char* name, float x = 30.0f) {
        ImGuiID id = 0;
        return FindHovered(x, [&] {
            const ImGuiWindow* window = GImGui->HoveredWindow;
            if (id == 0 && GImGui->HoveredId != 0 && window != nullptr && std::string(window->Name).find(name) != std::string::npos) {
                id = GImGui->HoveredId;
            }
            return id != 0 && GImGui->HoveredId == id;
        });
    }

    // The centre of each item of the open popup, top to bottom.
    std::vector<ImVec2> PopupRows() {
        Frame();  // a popup is sized on its first frame and shown on the next
        const ImGuiContext& g = *GImGui;
        if (g.OpenPopupStack.Size == 0 || g.OpenPopupStack.back().Window == nullptr) {
            return {};
        }
        const ImGuiWindow* popup = g.OpenPopupStack.back().Window;
        std::vector<ImVec2> rows;
        ImGuiID last = 0;
        float top = 0.0f;
        const float x = popup->Pos.x + 12.0f;
        for (float y = popup->Pos.y; y <= popup->Pos.y + popup->Size.y; y += 1.0f) {
            gui.MoveMouse(ImVec2(x, y));
            Frame();
            const ImGuiID hovered = g.HoveredId;
            if (hovered != last && last != 0) rows.emplace_back(x, (top + y - 1.0f) * 0.5f);
            if (hovered != last) top = y;
            last = hovered;
        }
        return rows;
    }

    bool PopupOpen() const { return GImGui->OpenPopupStack.Size > 0; }

    // Picks entry `index` of the combo `label`.
    void Choose(const char* label, int index) {
        Click(Find(label));
        const std::vector<ImVec2> rows = PopupRows();
        ASSERT_GT(static_cast<int>(rows.size()), index) << label;
        Click(rows[static_cast<std::size_t>(index)]);
        Frame();
        ASSERT_FALSE(PopupOpen()) << label;
    }

    // Presses the mouse at `from`, moves it by `dx` while held, and lets go.
    void Drag(ImVec2 from, float dx) {
        gui.MoveMouse(from);
        Frame();
        gui.SetMouseButton(0, true);
        Frame();
        gui.MoveMouse(ImVec2(from.x + dx, from.y));
        Frame();
        gui.SetMouseButton(0, false);
        Frame();
    }

    void Type(const char* text) {
        for (const char* c = text; *c != '\0'; ++c) {
            ImGui::GetIO().AddInputCharacter(static_cast<unsigned>(*c));
            Frame();
        }
    }

    void WaitForFits() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        do {
            Frame();
        } while ((panel.FitRunning3D() || panel.FitRunning2D()) && std::chrono::steady_clock::now() < deadline);
        ASSERT_FALSE(panel.FitRunning3D() || panel.FitRunning2D());
    }

    testing::HeadlessImGui gui{ImVec2(350.0f, 1000.0f)};
    ChangeCounter counter;

private:
    std::shared_ptr<AppContext> context_ = std::make_shared<AppContext>();

public:
    std::shared_ptr<AppState> app = context_->appState;
    ViewerConfigPanel panel;

private:
    ImVec2 FindHovered(float x, const std::function<bool()>& isIt) {
        float first = -1.0f;
        float last = -1.0f;
        for (float y = 0.0f; y < ImGui::GetIO().DisplaySize.y; y += 2.0f) {
            gui.MoveMouse(ImVec2(x, y));
            Frame();
            if (isIt()) {
                if (first < 0.0f) first = y;
                last = y;
            } else if (first >= 0.0f) {
                break;
            }
        }
        EXPECT_GE(first, 0.0f) << "item not found";
        return ImVec2(x, (first + last) * 0.5f);
    }

    std::function<void()> draw_ = [this] { panel.DrawViewerConfigPanel(app); };
};

// "Color" colours the cloud by its embedded colours and locks the colour-map combo; any
// other scalar afterwards gives Jet, whatever map was chosen before "Color".
TEST(ViewerConfigPanelGlTest, ColorLocksTheMapToEmbeddedAndAnotherScalarGivesJet) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    PanelDriver d;
    d.Frame();
    d.Choose("##view3dColorMode_colormap_btn", 1);
    EXPECT_EQ(d.Config().view3d_colormap, COLORMAP_VIRIDIS);

    int changes = d.counter.changes;
    d.Choose("##view3dScalarsType", 4);  // "Color"
    EXPECT_EQ(d.Config().view3d_colormap, COLORMAP_EMBEDDED);
    EXPECT_GT(d.counter.changes, changes);
    d.Click(d.Find("##view3dColorMode_colormap_btn"));
    d.Frame();
    EXPECT_FALSE(d.PopupOpen()) << "the colour-map combo is disabled";
    EXPECT_EQ(d.Config().view3d_colormap, COLORMAP_EMBEDDED);

    changes = d.counter.changes;
    d.Choose("##view3dScalarsType", 0);  // "Height"
    EXPECT_EQ(d.Config().view3d_colormap, COLORMAP_JET);
    EXPECT_EQ(d.Config().view3d_scalar_type.load(), ScalarType::ZAxis);
    EXPECT_GT(d.counter.changes, changes);
    d.Click(d.Find("##view3dColorMode_colormap_btn"));
    EXPECT_EQ(d.PopupRows().size(), 7u) << "enabled again";
}

// A scalar chosen with a frame sets the range to the frame's extremes of that channel, each
// held within the scalar's default bounds, which the slider takes; without a frame the range
// is those bounds. (The fit that a choice with a frame starts lands on the same extremes
// with so few points, and also keeps within the slider's bounds.)
TEST(ViewerConfigPanelGlTest, AChosenScalarTakesTheFramesExtremesOrWithoutAFrameItsBounds) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    PanelDriver d;
    d.Frame();
    d.Choose("##view3dScalarsType", 1);  // "Depth", no frame yet
    EXPECT_EQ(d.Config().view3d_scalar_type.load(), ScalarType::XAxis);
    EXPECT_EQ(d.Config().view3d_min_scalar_value.load(), 0.0f);
    EXPECT_EQ(d.Config().view3d_max_scalar_value.load(), 150000.0f);
    EXPECT_EQ(d.panel.Bounds3D().lower, 0.0f);
    EXPECT_EQ(d.panel.Bounds3D().upper, 150000.0f);

    d.panel.Consume(SpanFrame());
    d.WaitForFits();
    struct Case {
        int entry;
        ScalarType type;
        float min, max;          // the range
        float lower, upper;      // the slider's bounds
    };
    const Case cases[] = {
        {0, ScalarType::ZAxis, -2000.0f, 3000.0f, -15000.0f, 15000.0f},  // "Height"
        {1, ScalarType::XAxis, 1000.0f, 6000.0f, 0.0f, 150000.0f},       // "Depth"
        {2, ScalarType::Signal, 0.0f, 100.0f, 0.0f, 100.0f},             // "Reflectivity", held
    };
    for (const Case& c : cases) {
        d.Choose("##view3dScalarsType", c.entry);
        d.WaitForFits();
        EXPECT_EQ(d.Config().view3d_scalar_type.load(), c.type) << c.entry;
        EXPECT_EQ(d.Config().view3d_min_scalar_value.load(), c.min) << c.entry;
        EXPECT_EQ(d.Config().view3d_max_scalar_value.load(), c.max) << c.entry;
        EXPECT_EQ(d.panel.Bounds3D().lower, c.lower) << c.entry;
        EXPECT_EQ(d.panel.Bounds3D().upper, c.upper) << c.entry;
    }
}

// Dragged past either end of a turn, an angle is stored within 0 to 360.
TEST(ViewerConfigPanelGlTest, RotationDragsWrapIntoOneTurn) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    PanelDriver d;
    d.Config().cloud_transform_mode = 2;
    d.Config().cloud_pitch_degrees = 355.0f;
    d.Config().cloud_yaw_degrees = 180.0f;
    d.Frame();
    struct Case {
        const char* label;
        std::atomic<float>* angle;
        float pixels;  // 0.2 degrees each
        float stored;
    };
    const Case cases[] = {
        {"Roll", &d.Config().cloud_roll_degrees, -50.0f, 350.0f},
        {"Pitch", &d.Config().cloud_pitch_degrees, 50.0f, 5.0f},
        {"Yaw", &d.Config().cloud_yaw_degrees, 25.0f, 185.0f},
    };
    for (const Case& c : cases) {
        const int changes = d.counter.changes;
        d.Drag(d.Find(c.label, 120.0f), c.pixels);
        EXPECT_NEAR(c.angle->load(), c.stored, 1e-3f) << c.label;
        EXPECT_GT(d.counter.changes, changes) << c.label;
    }
}

// Typed into, the point size is held within 1 to 20.
TEST(ViewerConfigPanelGlTest, TypedPointSizesAreHeldWithinOneToTwenty) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    PanelDriver d;
    d.Frame();
    // The field is in its own child region: found by the hovered window, not by an ID.
    const ImVec2 field = d.FindInChild("PointSizeSelection");
    struct Case {
        const char* typed;
        int stored;
    };
    for (const Case c : {Case{"0", 1}, Case{"50", 20}, Case{"7", 7}, Case{"-3", 1}}) {
        d.Click(field);  // the click selects the whole text: typing replaces it
        d.Type(c.typed);
        EXPECT_EQ(d.Config().point_size.load(), c.stored) << c.typed;
        d.Click(ImVec2(340.0f, field.y));  // beside the field: editing ends
    }
}

// The reset stores the defaults, hides the camera view and tells the views, also when
// nothing differed.
TEST(ViewerConfigPanelGlTest, ResetHidesTheCameraRestoresTheDefaultsAndAlwaysPublishes) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    PanelDriver d;
    d.Config().show_camera = true;
    d.Config().camera_above = true;
    d.Config().point_size = 9;
    d.Config().view3d_colormap = COLORMAP_MAGMA;
    d.Config().cloud_roll_degrees = 40.0f;
    d.Frame();
    const ImVec2 reset = d.Find("Reset configuration");
    for (int round = 0; round < 2; ++round) {
        const int changes = d.counter.changes;
        d.Click(reset);
        EXPECT_EQ(d.counter.changes, changes + 1) << "round " << round;
        const ViewerConfig defaults;
        EXPECT_FALSE(d.Config().show_camera.load());
        EXPECT_FALSE(d.Config().camera_above.load());
        EXPECT_EQ(d.Config().point_size.load(), defaults.point_size.load());
        EXPECT_EQ(d.Config().view3d_colormap, defaults.view3d_colormap);
        EXPECT_EQ(d.Config().cloud_roll_degrees.load(), defaults.cloud_roll_degrees.load());
    }
}

}  // namespace
}  // namespace orbel::studio::gui
