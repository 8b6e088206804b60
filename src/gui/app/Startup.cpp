#include "app/Startup.h"

#include <cfloat>

namespace orbel::studio::gui {

bool AdvanceSplash(SplashState& splash, float frameSeconds) {
    splash.elapsed += frameSeconds;
    return splash.elapsed < splash.duration;
}

void DrawSplash(ImTextureID image) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImVec4(0.05f, 0.05f, 0.08f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoTitleBar |
                                   ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoSavedSettings |
                                   ImGuiWindowFlags_NoMouseInputs | ImGuiWindowFlags_NoNav;
    if (ImGui::Begin("##splash", nullptr, flags)) {
        ImDrawList* draw = ImGui::GetWindowDrawList();
        const ImVec2 origin = viewport->Pos;
        const ImVec2 display = viewport->Size;
        if (image != ImTextureID{}) {
            const ImVec2 min(origin.x + (display.x - kSplashWidth) * 0.5f, origin.y + (display.y - kSplashHeight) * 0.5f);
            draw->AddImage(image, min, ImVec2(min.x + kSplashWidth, min.y + kSplashHeight));
        }
        ImFont* font = ImGui::GetFont();
        const float versionSize = ImGui::GetFontSize() * 3.0f;
        const ImVec2 version = font->CalcTextSizeA(versionSize, FLT_MAX, 0.0f, kVersionText);
        const float versionTop = origin.y + display.y * 0.5f + 50.0f;
        draw->AddText(font, versionSize, ImVec2(origin.x + (display.x - version.x) * 0.5f, versionTop),
                      ImGui::GetColorU32(ImGuiCol_Text), kVersionText);
        const char* powered = "Powered by Orbel SDK";
        const float poweredSize = ImGui::GetFontSize() * 1.5f;
        const ImVec2 poweredText = font->CalcTextSizeA(poweredSize, FLT_MAX, 0.0f, powered);
        draw->AddText(font, poweredSize,
                      ImVec2(origin.x + (display.x - poweredText.x) * 0.5f,
                             origin.y + display.y * 0.5f + 70.0f + version.y + 10.0f),
                      IM_COL32(0, 0, 0, 255), powered);
    }
    ImGui::End();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
}

bool SplashPhaseFrame(StartupPhases& phases, SplashState& splash, ImTextureID image, float frameSeconds,
                      bool clicked, bool startupDone) {
    const bool splashRunning = AdvanceSplash(splash, frameSeconds);
    if (phases.SplashFrame(splashRunning, clicked, startupDone)) {
        return true;
    }
    DrawSplash(image);
    return false;
}

bool StartupPhases::SplashFrame(bool splashRunning, bool clicked, bool startupDone) {
    if (main_) {
        return false;
    }
    skipRequested_ = skipRequested_ || clicked;
    if (startupDone && (!splashRunning || skipRequested_)) {
        main_ = true;
        firstMainFrame_ = true;
        return true;
    }
    return false;
}

bool StartupPhases::TakeFirstMainFrame() {
    const bool first = firstMainFrame_;
    firstMainFrame_ = false;
    return first;
}

int MonitorAt(int x, int y, const std::vector<MonitorArea>& monitors) {
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const MonitorArea& m = monitors[i];
        if (x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::pair<int, int> CentredWindowPosition(int cursorX, int cursorY, const std::vector<MonitorArea>& monitors,
                                          int primaryIndex, int width, int height) {
    int chosen = MonitorAt(cursorX, cursorY, monitors);
    if (chosen < 0) {
        if (primaryIndex < 0 || primaryIndex >= static_cast<int>(monitors.size())) {
            return {0, 0};
        }
        chosen = primaryIndex;
    }
    const MonitorArea& area = monitors[static_cast<std::size_t>(chosen)];
    return {(area.width - width) / 2 + area.x, (area.height - height) / 2 + area.y};
}

bool MaximiseNeedsFallback(int width, int height, int widthBefore, int heightBefore, double secondsSinceRequest,
                           double patienceSeconds) {
    return width == widthBefore && height == heightBefore && secondsSinceRequest >= patienceSeconds;
}

}  // namespace orbel::studio::gui
