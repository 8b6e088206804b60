// The camera view: image intake, the upload decision, the texture, and the drawing.
#include "app/CameraPanel.h"

#include <epoxy/gl.h>
#include <imgui.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "views/ViewOverlays.h"

namespace orbel::studio::gui {
namespace {

constexpr uint32_t kRgbFormat = 2;
constexpr uint32_t kRgbaFormat = 3;
constexpr float kButtonFromRight = 50.0f;
constexpr float kButtonFromTop = 10.0f;
constexpr int kWarningLevel = 3;

std::string Describe(const CameraData& image) {
    return std::to_string(image.width) + " x " + std::to_string(image.height) + ", format " +
           std::to_string(image.format) + ", " + std::to_string(image.channels) + " channels of " +
           std::to_string(image.bitsPerChannel) + " bits, " + std::to_string(image.pixels.size()) + " bytes";
}

// 16-bit words of `bits` significant bits to bytes: the top of the range becomes 255, and
// whatever lies above it (bits the camera should have left clear) is clamped there.
void ReduceTo8Bits(const std::vector<uint8_t>& words, int bits, std::vector<uint8_t>& bytes) {
    const std::size_t samples = words.size() / 2;
    const uint32_t top = (1u << bits) - 1u;
    const int shift = bits - 8;
    bytes.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        uint16_t word = 0;
        std::memcpy(&word, words.data() + 2 * i, sizeof word);
        bytes[i] = static_cast<uint8_t>(std::min<uint32_t>(word, top) >> shift);
    }
}

}  // namespace

std::optional<CameraUpload> PlanCameraUpload(const CameraData& image) {
    if (image.format != kRgbFormat && image.format != kRgbaFormat) {
        return std::nullopt;
    }
    if (image.channels != 3 && image.channels != 4) {
        return std::nullopt;
    }
    if (image.width == 0 || image.height == 0 || image.width > INT_MAX || image.height > INT_MAX) {
        return std::nullopt;
    }
    if (image.bitsPerChannel < 8 || image.bitsPerChannel > 16) {
        return std::nullopt;
    }
    const uint64_t sampleBytes = image.bitsPerChannel == 8 ? 1 : 2;
    uint64_t expected = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(image.width), static_cast<uint64_t>(image.height), &expected) ||
        __builtin_mul_overflow(expected, static_cast<uint64_t>(image.channels) * sampleBytes, &expected) ||
        expected != image.pixels.size()) {
        return std::nullopt;
    }
    return CameraUpload{static_cast<int>(image.width), static_cast<int>(image.height),
                        static_cast<int>(image.channels), static_cast<int>(image.bitsPerChannel)};
}

CameraViewLayout LayoutCameraView(Vec2 regionMin, Vec2 regionSize, int textureWidth, int textureHeight,
                                  Vec2 windowMin, float windowWidth, bool cameraAbove) {
    CameraViewLayout layout;
    layout.image = textureWidth > 0 && textureHeight > 0 ? FitImage(regionMin, regionSize, textureWidth, textureHeight)
                                                         : Rect{regionMin, regionMin};
    layout.buttonMin = {windowMin.x + windowWidth - kButtonFromRight, windowMin.y + kButtonFromTop};
    layout.arrow = cameraAbove ? "v" : "^";
    return layout;
}

void CameraPanel::Consume(std::shared_ptr<CameraData> image) {
    if (images_.Size() > kMaxWaiting) {
        images_.Clear();
    }
    images_.Push(std::move(image));
}

void CameraPanel::Consume(std::shared_ptr<AppAction> action) {
    if (actions_.Size() > kMaxWaiting) {
        actions_.Clear();
    }
    actions_.Push(std::move(action));
}

void CameraPanel::Update() {
    if (auto action = actions_.TryPop(); action && *action && (*action)->Is(AppActionType::ClearViews)) {
        current_.reset();
        pending_.reset();
        uploaded_.reset();
        texture_.Release();
        images_.Clear();
    }
    auto image = images_.TryPop();
    if (!image || !*image) {
        return;
    }
    current_ = std::move(*image);
    // The image that was waiting is superseded; the texture keeps the last one uploaded.
    pending_ = PlanCameraUpload(*current_);
    uploaded_.reset();
    if (pending_) {
        mismatchLogged_ = false;
    } else if ((current_->format == kRgbFormat || current_->format == kRgbaFormat) && !mismatchLogged_) {
        mismatchLogged_ = true;
        Log("Camera image not shown: its pixels do not match its size (" + Describe(*current_) + ")", kWarningLevel);
    }
}

void CameraPanel::UploadPending() {
    if (!pending_ || !current_) {
        return;
    }
    const CameraUpload upload = *pending_;
    pending_.reset();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (upload.width > maxSize || upload.height > maxSize) {
        if (!tooLargeLogged_) {
            tooLargeLogged_ = true;
            Log("Camera image not shown: " + std::to_string(upload.width) + " x " + std::to_string(upload.height) +
                    " exceeds the largest texture (" + std::to_string(maxSize) + ")",
                kWarningLevel);
        }
        return;
    }
    const uint8_t* bytes = current_->pixels.data();
    if (upload.bitsPerChannel > 8) {
        ReduceTo8Bits(current_->pixels, upload.bitsPerChannel, reduced_);
        bytes = reduced_.data();
    }
    texture_.Upload(upload.width, upload.height, upload.channels, bytes);
    uploaded_ = upload;
}

void CameraPanel::ReleaseGl() {
    texture_.Release();
    if (uploaded_) {
        pending_ = uploaded_;
        uploaded_.reset();
    }
}

void CameraPanel::DrawCameraPanel(const std::shared_ptr<AppState>& appState) {
    Update();
    UploadPending();

    const Vec2 origin = ToVec2(ImGui::GetCursorScreenPos());
    const Vec2 region = ToVec2(ImGui::GetContentRegionAvail());
    if (region.x < 1.0f || region.y < 1.0f) {
        return;
    }
    ImGui::InvisibleButton("CameraView", ToImVec(region));
    ImGui::SetItemAllowOverlap();
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    drawList->AddRectFilled(ImGui::GetItemRectMin(), ImGui::GetItemRectMax(), IM_COL32(0, 0, 0, 255));

    const bool cameraAbove = appState && appState->viewerConfig && appState->viewerConfig->camera_above;
    const CameraViewLayout layout =
        LayoutCameraView(origin, region, texture_.Width(), texture_.Height(), ToVec2(ImGui::GetWindowPos()),
                         ImGui::GetWindowSize().x, cameraAbove);
    if (texture_.Id() != 0 && texture_.Width() > 0 && texture_.Height() > 0) {
        drawList->AddImage(ToTextureId(texture_.Id()), ToImVec(layout.image.min), ToImVec(layout.image.max),
                           ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), IM_COL32(255, 255, 255, 255));
    }

    ImGui::SetCursorScreenPos(ToImVec(layout.buttonMin));
    const bool clicked = ImGui::InvisibleButton("##cameraPlacement", ToImVec(layout.buttonSize));
    const bool hovered = ImGui::IsItemHovered();
    const ImVec2 buttonMax = ToImVec(layout.buttonMin + layout.buttonSize);
    drawList->AddRectFilled(ToImVec(layout.buttonMin), buttonMax,
                            hovered ? IM_COL32(80, 120, 200, 220) : IM_COL32(60, 60, 80, 180), 3.0f);
    const ImVec2 textSize = ImGui::CalcTextSize(layout.arrow);
    const ImVec2 textPos(layout.buttonMin.x + (layout.buttonSize.x - textSize.x) * 0.5f,
                         layout.buttonMin.y + (layout.buttonSize.y - textSize.y) * 0.5f);
    drawList->AddText(textPos, IM_COL32(255, 255, 255, 230), layout.arrow);
    if (clicked && appState && appState->viewerConfig) {
        appState->viewerConfig->camera_above = !cameraAbove;
    }
}

}  // namespace orbel::studio::gui
