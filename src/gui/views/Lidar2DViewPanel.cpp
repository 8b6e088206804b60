// The 2D view panel: frame intake, the picture's bytes and texture, logo, export.
#include "views/Lidar2DViewPanel.h"

#include <epoxy/gl.h>
#include <imgui.h>

#include <exception>
#include <variant>

#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "views/LidarImage.h"
#include "views/ViewExport.h"
#include "views/ViewOverlays.h"

namespace orbel::studio::gui {
namespace {

constexpr float kButtonSide = 50.0f;
constexpr int kInfoLevel = 2;
constexpr int kWarningLevel = 3;
constexpr int kErrorLevel = 4;

}  // namespace

Lidar2DViewPanel::Lidar2DViewPanel() : Lidar2DViewPanel(LogoPng()) {}

Lidar2DViewPanel::Lidar2DViewPanel(PngBytes logo) : logo_(logo) {}

void Lidar2DViewPanel::Consume(std::shared_ptr<FrameData> frame) { frames_.PushBounded(std::move(frame), kMaxQueued); }

void Lidar2DViewPanel::Consume(std::shared_ptr<AppAction> action) {
    // Told here, as it is published: the first frame of what follows a clear (a replay's,
    // say) may be taken before the clear itself.
    if (action && (action->Is(AppActionType::ClearViews) || action->Is(AppActionType::Show2DView))) {
        notLinesTold_ = false;
    }
    actions_.PushBounded(std::move(action), kMaxQueued);
}

void Lidar2DViewPanel::ResetTexture(const AppAction& clear) {
    frames_.RemoveIf([&clear](const std::shared_ptr<FrameData>& frame) { return !frame || MadeBefore(*frame, clear); });
    if (current_ && !MadeBefore(*current_, clear)) {
        return;
    }
    current_.reset();
    ClearPicture();
}

void Lidar2DViewPanel::ClearPicture() {
    hasImage_ = false;
    uploadPending_ = false;
    imageBytes_.clear();
    imageWidth_ = 0;
    imageRows_ = kImageRows;
    texture_.Release();
}

void Lidar2DViewPanel::ReleaseGl() {
    texture_.Release();
    if (logoTexture_ != 0) {
        glDeleteTextures(1, &logoTexture_);
        logoTexture_ = 0;
    }
    logoLoaded_ = false;
    uploadPending_ = hasImage_;
}

void Lidar2DViewPanel::LoadLogoTexture() {
    if (logoLoaded_ || logoFailed_) {
        return;
    }
    try {
        const DecodedImage image(logo_);
        if (!image.Valid()) {
            logoFailed_ = true;
            Log("Failed to load velmorant logo from memory", kErrorLevel);
            return;
        }
        if (logoTexture_ != 0) {
            glDeleteTextures(1, &logoTexture_);
        }
        logoTexture_ = CreateTexture(image);
        logoWidth_ = image.Width();
        logoHeight_ = image.Height();
        logoLoaded_ = logoTexture_ != 0;
    } catch (const std::exception& e) {
        logoFailed_ = true;
        Log(std::string("Exception loading logo texture: ") + e.what(), kErrorLevel);
    }
}

void Lidar2DViewPanel::Update(const std::shared_ptr<AppState>& appState) {
    bool configChanged = false;
    if (auto action = actions_.TryPop(); action && *action) {
        const AppAction& a = **action;
        if (a.Is(AppActionType::ClearViews) || a.Is(AppActionType::Show2DView)) {
            ResetTexture(a);
        } else if (a.Is(AppActionType::Export2DView) && appState) {
            std::string path;
            if (a.payload.index() == payload_index::kText) {
                path = std::get<std::string>(a.payload);
            }
            ExportPng(path, *appState);
        } else if (a.Is(AppActionType::ViewerConfigChanged)) {
            configChanged = true;
        }
    }
    if (!appState || !appState->viewerConfig) {
        return;
    }
    if (auto frame = frames_.TryPop(); frame && *frame) {
        current_ = std::move(*frame);
    } else if (!current_ || !configChanged) {
        return;
    }
    const ViewerConfig& config = *appState->viewerConfig;
    const std::vector<float>* channel = Channel2D(*current_, config.view2d_scalar_type.load());
    if (channel != nullptr && BuildImageRows(*channel, config.view2d_colormap, config.view2d_min_scalar_value.load(),
                                             config.view2d_max_scalar_value.load(), imageBytes_, imageWidth_)) {
        imageRows_ = kImageRows;
        hasImage_ = true;
        uploadPending_ = true;
        notLinesTold_ = false;
        return;
    }
    // A picture of an earlier frame (another session's, say) must not pass for this one.
    ClearPicture();
    if (!notLinesTold_.exchange(true)) {
        Log(NotLinesMessage(*current_, channel != nullptr ? channel->size() : 0), kWarningLevel);
    }
}

void Lidar2DViewPanel::ExportPng(std::string& path, AppState& appState) {
    if (!hasImage_ || imageWidth_ < 1 || imageRows_ < 1) {
        Log("No image available to export", kErrorLevel);
        return;
    }
    try {
        if (path.empty()) {
            path = NewScreenshotPath("2d").string();
        }
        if (!WritePngBottomUp(path, imageWidth_, imageRows_, 3, imageBytes_)) {
            throw std::runtime_error("cannot write " + path);
        }
        appState.SetToast("2D view exported as PNG", 1);
        Log("2D view exported to " + path, kInfoLevel);
    } catch (const std::exception& e) {
        appState.SetToast("Failed to export 2D view", 3);
        Log(std::string("Failed to export 2D view: ") + e.what(), kErrorLevel);
    }
}

void Lidar2DViewPanel::DrawLidar2DViewPanel(const std::shared_ptr<AppState>& appState) {
    Update(appState);
    if (uploadPending_ && hasImage_) {
        texture_.Upload(imageWidth_, imageRows_, 3, imageBytes_.data());
        uploadPending_ = false;
    }
    LoadLogoTexture();

    const ImGuiIO& io = ImGui::GetIO();
    const Vec2 origin = ToVec2(ImGui::GetCursorScreenPos());
    const Vec2 region = ToVec2(ImGui::GetContentRegionAvail());
    const Vec2 mouse = ToVec2(io.MousePos);
    const bool mouseValid = ImGui::IsMousePosValid(&io.MousePos);
    const bool clicked = ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    if (region.x < 1.0f || region.y < 1.0f) {
        return;
    }
    ImGui::InvisibleButton("Lidar2DView", ToImVec(region));
    ImGui::SetItemAllowOverlap();
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    drawList->AddRectFilled(ImGui::GetItemRectMin(), ImGui::GetItemRectMax(), IM_COL32(0, 0, 0, 255));

    if (!hasImage_ && logoTexture_ != 0 && logoWidth_ > 0 && logoHeight_ > 0) {
        const Rect logo = LogoRect(origin, region, logoWidth_, logoHeight_);
        drawList->AddImage(ToTextureId(logoTexture_), ToImVec(logo.min), ToImVec(logo.max), ImVec2(0.0f, 0.0f),
                           ImVec2(1.0f, 1.0f), IM_COL32(255, 255, 255, 102));
    } else if (texture_.Id() != 0 && imageWidth_ > 0 && imageRows_ > 0) {
        const Rect picture = FitImage(origin, region, imageWidth_, imageRows_);
        // Scan line 0 at the bottom of the picture.
        drawList->AddImage(ToTextureId(texture_.Id()), ToImVec(picture.min), ToImVec(picture.max), ImVec2(0.0f, 1.0f),
                           ImVec2(1.0f, 0.0f));
    }

    const Vec2 buttonMin = origin + region - Vec2{kButtonSide + 10.0f, kButtonSide + 10.0f};
    const Vec2 buttonSize{kButtonSide, kButtonSide};
    const int firstVertex = drawList->VtxBuffer.Size;
    ImGui::SetCursorScreenPos(ToImVec(buttonMin));
    IconButton("##2dCameraBtn", 0, ToImVec(buttonSize));
    const Vec2 centre = buttonMin + buttonSize * 0.5f;
    FadeVertices(drawList, firstVertex, mouseValid ? FadeAlpha(mouse, centre) : 0.0f);
    if (clicked && mouseValid && Inside(mouse, buttonMin, buttonSize) && appState) {
        std::string path;
        ExportPng(path, *appState);
    }
}

}  // namespace orbel::studio::gui
