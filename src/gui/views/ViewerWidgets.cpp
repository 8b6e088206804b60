// Colour-map combo, range slider and histogram of the viewer panel.
#include "views/ViewerWidgets.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "views/Colormaps.h"

namespace orbel::studio::gui {
namespace {

uint8_t ToByte(float component) { return static_cast<uint8_t>(std::clamp(component, 0.0f, 1.0f) * 255.0f); }

ImU32 PackRgb(ColorRgb c, float scale = 1.0f) {
    return IM_COL32(ToByte(c.r * scale), ToByte(c.g * scale), ToByte(c.b * scale), 255);
}

}  // namespace

bool ColormapCombo(const char* label, int* selected, const char* const* names, int count, const ViewerConfig* config) {
    ColorRgba8 uniform{128, 128, 128, 255};
    if (config != nullptr) {
        uniform = {ToByte(config->point_color_r), ToByte(config->point_color_g), ToByte(config->point_color_b), 255};
    }
    std::vector<std::function<uint32_t(float)>> gradients;
    gradients.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        gradients.push_back(PackedColorFunction(names[i], uniform));
    }
    if (*selected < 0 || *selected >= count) {
        *selected = 0;
    }

    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 cursor = ImGui::GetCursorScreenPos();
    const float available = ImGui::GetContentRegionAvail().x;
    const ImVec2 boxMax(cursor.x + available - 10.0f, cursor.y + 20.0f);
    drawList->AddRectFilled(cursor, boxMax, IM_COL32(50, 50, 50, 255), 4.0f);
    drawList->AddRect(cursor, boxMax, IM_COL32(100, 100, 100, 255), 4.0f, 0, 1.0f);
    const int k = static_cast<int>(0.6f * available);
    const auto& preview = gradients[static_cast<std::size_t>(*selected)];
    for (int i = 0; i <= k - 5; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(std::max(k - 5, 1));
        const float x = cursor.x + 8.0f + static_cast<float>(i);
        drawList->AddLine(ImVec2(x, cursor.y + 2.0f), ImVec2(x, boxMax.y - 2.0f), preview(t), 12.0f);
    }
    drawList->AddText(ImVec2(cursor.x + 0.6f * available + 20.0f, cursor.y + 4.0f), IM_COL32_WHITE,
                      names[*selected]);

    const std::string popup = std::string(label) + "_colormap_popup";
    if (ImGui::InvisibleButton((std::string(label) + "_colormap_btn").c_str(), ImVec2(std::max(available, 1.0f), 20.0f))) {
        ImGui::OpenPopup(popup.c_str());
    }
    bool chosen = false;
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(std::max(available, 1.0f), 300.0f));
    if (ImGui::BeginPopup(popup.c_str())) {
        const float width = std::max(ImGui::GetContentRegionAvail().x, available);
        ImDrawList* popupList = ImGui::GetWindowDrawList();
        for (int i = 0; i < count; ++i) {
            const ImVec2 at = ImGui::GetCursorScreenPos();
            const ImVec2 rowMin(at.x + 2.0f, at.y + 2.0f);
            const ImVec2 rowMax(rowMin.x + 0.7f * width - 4.0f, rowMin.y + 18.0f);
            popupList->AddRectFilled(rowMin, rowMax, IM_COL32(40, 40, 40, 255));
            popupList->AddRect(rowMin, rowMax, IM_COL32(80, 80, 80, 255), 2.0f, 0, i == *selected ? 2.0f : 1.0f);
            const int pixels = static_cast<int>(rowMax.x - rowMin.x - 16.0f);
            const auto& gradient = gradients[static_cast<std::size_t>(i)];
            for (int p = 0; p < pixels; ++p) {
                const float t = static_cast<float>(p) / static_cast<float>(std::max(pixels - 1, 1));
                const float x = rowMin.x + 8.0f + static_cast<float>(p);
                popupList->AddLine(ImVec2(x, rowMin.y + 2.0f), ImVec2(x, rowMax.y - 2.0f), gradient(t), 15.0f);
            }
            popupList->AddText(ImVec2(rowMax.x + 15.0f, rowMin.y + 1.0f), IM_COL32_WHITE, names[i]);
            ImGui::PushID(i);
            if (ImGui::InvisibleButton("##row", ImVec2(std::max(width, 1.0f), 24.0f))) {
                *selected = i;
                chosen = true;
                ImGui::CloseCurrentPopup();
            }
            ImGui::PopID();
        }
        ImGui::EndPopup();
    }
    return chosen;
}

bool RangeSlider(const char* label, float* min, float* max, ScalarBounds bounds,
                 const std::function<uint32_t(float)>& colour, bool metreLabels, float gap) {
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 cursor = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    const float left = cursor.x + 8.0f;
    const float right = cursor.x + width - 8.0f;
    const float y = cursor.y + 16.0f;
    drawList->AddRectFilled(ImVec2(left, y - 4.0f), ImVec2(right, y + 4.0f), IM_COL32(60, 60, 60, 255), 4.0f);

    const float minX = SliderX(*min, bounds, left, right);
    const float maxX = SliderX(*max, bounds, left, right);
    const int k = static_cast<int>(std::max(0.0f, maxX - minX));
    for (int i = 0; i < k; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(std::max(k - 1, 1));
        const float x = minX + static_cast<float>(i);
        drawList->AddLine(ImVec2(x, y - 4.0f), ImVec2(x, y + 4.0f), colour(t), 2.0f);
    }
    drawList->AddCircleFilled(ImVec2(minX, y), 8.0f, colour(0.0f));
    drawList->AddCircle(ImVec2(minX, y), 8.0f, IM_COL32(20, 20, 20, 255), 0, 1.5f);
    drawList->AddCircleFilled(ImVec2(maxX, y), 8.0f, colour(1.0f));
    drawList->AddCircle(ImVec2(maxX, y), 8.0f, IM_COL32(20, 20, 20, 255), 0, 1.5f);

    ImGui::InvisibleButton((std::string(label) + "_slider").c_str(), ImVec2(std::max(width, 1.0f), 32.0f));
    const bool active = ImGui::IsItemActive();
    if (active) {
        const float mouseX = ImGui::GetIO().MousePos.x;
        const float value = SliderValue(mouseX, bounds, left, right);
        std::tie(*min, *max) = MoveNearestHandle(value, *min, *max, mouseX, minX, maxX, gap);
    }
    if (metreLabels) {
        char lower[32];
        char upper[32];
        std::snprintf(lower, sizeof lower, "%.1fm", static_cast<double>(*min / 1000.0f));
        std::snprintf(upper, sizeof upper, "%.1fm", static_cast<double>(*max / 1000.0f));
        const auto [lowerX, upperX] =
            PlaceHandleLabels(minX, maxX, ImGui::CalcTextSize(lower).x, ImGui::CalcTextSize(upper).x, cursor.x,
                              cursor.x + width, 6.0f);
        drawList->AddText(ImVec2(lowerX, y - 28.0f), IM_COL32_WHITE, lower);
        drawList->AddText(ImVec2(upperX, y - 28.0f), IM_COL32_WHITE, upper);
    }
    return active;
}

void HistogramPlot(const char* label, const Histogram& histogram, ColormapType map, ScalarBounds display) {
    const float lower = histogram.lower;
    const float upper = histogram.upper;
    if (histogram.values.empty() || !std::isfinite(lower) || !std::isfinite(upper) || !(lower < upper)) {
        return;
    }
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 cursor = ImGui::GetCursorScreenPos();
    const float width = std::max(ImGui::GetContentRegionAvail().x, 1.0f);
    constexpr float kHeight = 200.0f;
    const float lineHeight = ImGui::GetTextLineHeight();
    ImGui::Dummy(ImVec2(width, kHeight));

    const ImVec2 frameMax(cursor.x + width, cursor.y + kHeight);
    drawList->AddRectFilled(cursor, frameMax, IM_COL32(30, 32, 36, 255), 4.0f);
    drawList->AddText(ImVec2(cursor.x + 6.0f, cursor.y + 4.0f), IM_COL32(230, 230, 230, 255), label);

    // Plot area: room for the title above, the count labels left and the value labels below.
    const ImVec2 plotMin(cursor.x + 40.0f, cursor.y + lineHeight + 10.0f);
    const ImVec2 plotMax(frameMax.x - 8.0f, frameMax.y - 2.0f * lineHeight - 8.0f);
    if (!(plotMax.x > plotMin.x) || !(plotMax.y > plotMin.y)) {
        return;
    }
    drawList->AddRect(plotMin, plotMax, IM_COL32(90, 90, 90, 255));
    const double countTop = 1.1 * histogram.countScale;
    const double span = static_cast<double>(upper) - lower;
    const double binWidth = span / kHistogramBins;
    const ColormapFn colourOf = ColormapFunction(map);
    auto xOf = [&](double value) {
        return plotMin.x + static_cast<float>((value - lower) / span) * (plotMax.x - plotMin.x);
    };
    drawList->PushClipRect(plotMin, plotMax, true);
    for (int i = 0; i < kHistogramBins; ++i) {
        const double count = histogram.counts[static_cast<std::size_t>(i)];
        if (count <= 0.0) {
            continue;
        }
        const double centre = histogram.centres[static_cast<std::size_t>(i)];
        const float top = plotMax.y - static_cast<float>(std::min(count / countTop, 1.0)) * (plotMax.y - plotMin.y);
        const ImVec2 barMin(xOf(centre - 0.475 * binWidth), top);
        const ImVec2 barMax(xOf(centre + 0.475 * binWidth), plotMax.y);
        const ColorRgb c = colourOf(HistogramColorPosition(centre, display));
        drawList->AddRectFilled(barMin, barMax, PackRgb(c));
        drawList->AddRect(barMin, barMax, PackRgb(c, 0.7f));
    }
    drawList->PopClipRect();

    char text[32];
    const ImU32 axisText = IM_COL32(180, 180, 180, 255);
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(lower));
    drawList->AddText(ImVec2(plotMin.x, plotMax.y + 2.0f), axisText, text);
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(upper));
    drawList->AddText(ImVec2(plotMax.x - ImGui::CalcTextSize(text).x, plotMax.y + 2.0f), axisText, text);
    drawList->AddText(ImVec2((plotMin.x + plotMax.x) / 2.0f - ImGui::CalcTextSize("Value").x / 2.0f,
                             plotMax.y + lineHeight + 4.0f),
                      axisText, "Value");
    std::snprintf(text, sizeof text, "%.0f", countTop);
    drawList->AddText(ImVec2(cursor.x + 4.0f, plotMin.y), axisText, text);
    drawList->AddText(ImVec2(cursor.x + 4.0f, plotMax.y - lineHeight), axisText, "0");
    drawList->AddText(ImVec2(cursor.x + 4.0f, (plotMin.y + plotMax.y) / 2.0f - lineHeight / 2.0f), axisText, "Count");
}

}  // namespace orbel::studio::gui
