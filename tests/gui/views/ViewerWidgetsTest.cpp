// The viewer panel's range slider drawn into a headless ImGui frame: its metre labels stay
// inside the slider with either handle at its end.
#include "views/ViewerWidgets.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <limits>

#include "support/HeadlessImGui.h"

namespace orbel::studio::gui {
namespace {

TEST(ViewerWidgetsTest, MetreLabelsStayInsideTheSlider) {
    orbel::testing::HeadlessImGui gui(ImVec2(400.0f, 200.0f));
    // Everything but the labels (white) is drawn in other colours.
    const auto red = [](float) -> uint32_t { return IM_COL32(255, 0, 0, 255); };
    const struct {
        const char* name;
        float min, max;
    } cases[] = {
        {"upper handle at the right end", 1000.0f, 15000.0f},
        {"upper handle near the right end", 1000.0f, 14500.0f},
        {"lower handle at the left end", -15000.0f, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        float min = c.min;
        float max = c.max;
        float sliderLeft = 0.0f;
        float sliderRight = 0.0f;
        float labelsLeft = std::numeric_limits<float>::max();
        float labelsRight = std::numeric_limits<float>::lowest();
        gui.Frame([&] {
            ImDrawList* list = ImGui::GetWindowDrawList();
            sliderLeft = ImGui::GetCursorScreenPos().x;
            sliderRight = sliderLeft + ImGui::GetContentRegionAvail().x;
            const int before = list->VtxBuffer.Size;
            RangeSlider("Range", &min, &max, {-15000.0f, 15000.0f}, red, true, 0.01f);
            for (int i = before; i < list->VtxBuffer.Size; ++i) {
                if (list->VtxBuffer[i].col != IM_COL32_WHITE) continue;
                labelsLeft = std::min(labelsLeft, list->VtxBuffer[i].pos.x);
                labelsRight = std::max(labelsRight, list->VtxBuffer[i].pos.x);
            }
        });
        ASSERT_LT(labelsLeft, labelsRight) << "no labels drawn";
        EXPECT_GE(labelsLeft, sliderLeft);
        EXPECT_LE(labelsRight, sliderRight);
    }
}

}  // namespace
}  // namespace orbel::studio::gui
