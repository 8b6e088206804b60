// The shared GUI pieces: image decoding and textures, the theme, the custom widgets, and the
// small file-name helpers (Dear ImGui 1.86, OpenGL through libepoxy, stb_image).
#include "app/GuiUtilities.h"

#include <epoxy/gl.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "app/Logging.h"
#include "platform/ExecutablePath.h"

namespace orbel::studio::gui {
DecodedImage::DecodedImage(PngBytes png) {
    if (png.empty() || png.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return;
    }
    int channels = 0;
    pixels_ = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width_, &height_, &channels, 4);
    if (pixels_ == nullptr) {
        width_ = 0;
        height_ = 0;
    }
}

DecodedImage::~DecodedImage() {
    if (pixels_ != nullptr) {
        stbi_image_free(pixels_);
    }
}

DecodedImage::DecodedImage(DecodedImage&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      pixels_(std::exchange(other.pixels_, nullptr)) {}

DecodedImage& DecodedImage::operator=(DecodedImage&& other) noexcept {
    if (this != &other) {
        if (pixels_ != nullptr) {
            stbi_image_free(pixels_);
        }
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        pixels_ = std::exchange(other.pixels_, nullptr);
    }
    return *this;
}

unsigned CreateTexture(const DecodedImage& image) {
    if (!image.Valid()) {
        return 0;
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.Width(), image.Height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.Pixels());
    return texture;
}

unsigned LoadTextureFromMemory(const unsigned char* bytes, std::size_t length) {
    const DecodedImage image(bytes == nullptr ? PngBytes{} : PngBytes{bytes, length});
    const unsigned texture = CreateTexture(image);
    if (texture != 0) {
        glGenerateMipmap(GL_TEXTURE_2D);
    }
    return texture;
}

Resources& Resources::Instance() {
    static Resources instance;
    return instance;
}

unsigned Resources::CachedTexture(std::unordered_map<int, unsigned>& cache, int key, PngBytes png) {
    if (cache.max_load_factor() != 1.0f) {
        cache.max_load_factor(1.0f);
    }
    if (const auto found = cache.find(key); found != cache.end()) {
        return found->second;
    }
    // A key without a picture is remembered too, so it is not looked for on every frame.
    const unsigned texture = LoadTextureFromMemory(png.data(), png.size());
    cache.emplace(key, texture);
    return texture;
}

unsigned Resources::ButtonIcon(int id) { return CachedTexture(buttonIcons_, id, ButtonIconPng(id)); }

unsigned Resources::ToastIcon(int level) { return CachedTexture(toastIcons_, level, ToastIconPng(level)); }

Resources::IconPixels Resources::WindowIcon() {
    if (!windowIconDecoded_) {
        windowIcon_ = DecodedImage(WindowIconPng());
        windowIconDecoded_ = true;
    }
    return {windowIcon_.Width(), windowIcon_.Height(), windowIcon_.Pixels()};
}

void Resources::DeleteTextures() {
    for (auto* cache : {&toastIcons_, &buttonIcons_}) {
        for (const auto& [key, texture] : *cache) {
            if (texture != 0) {
                glDeleteTextures(1, &texture);
            }
        }
        cache->clear();
    }
}

ImGuiStyle& ApplyTheme() {
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowPadding = ImVec2(8.0f, 8.0f);
    style.WindowRounding = 4.0f;
    style.WindowBorderSize = 1.0f;
    style.FramePadding = ImVec2(6.0f, 4.0f);
    style.FrameRounding = 3.0f;
    style.FrameBorderSize = 1.0f;
    style.ItemSpacing = ImVec2(8.0f, 6.0f);
    style.ScrollbarRounding = 3.0f;
    style.GrabRounding = 3.0f;
    style.TabRounding = 3.0f;

    ImVec4* colors = style.Colors;
    colors[ImGuiCol_Text] = ImVec4(0.9f, 0.9f, 0.9f, 1.0f);
    colors[ImGuiCol_TextDisabled] = ImVec4(0.5f, 0.5f, 0.5f, 1.0f);
    colors[ImGuiCol_WindowBg] = ImVec4(0.1f, 0.11f, 0.12f, 1.0f);
    colors[ImGuiCol_ChildBg] = ImVec4(0.12f, 0.13f, 0.14f, 1.0f);
    colors[ImGuiCol_PopupBg] = ImVec4(0.08f, 0.08f, 0.09f, 1.0f);
    colors[ImGuiCol_Border] = ImVec4(0.3f, 0.3f, 0.3f, 1.0f);
    colors[ImGuiCol_BorderShadow] = ImVec4(0.0f, 0.0f, 0.0f, 0.0f);
    colors[ImGuiCol_FrameBg] = ImVec4(0.16f, 0.18f, 0.2f, 1.0f);
    colors[ImGuiCol_FrameBgHovered] = ImVec4(0.25f, 0.3f, 0.35f, 1.0f);
    colors[ImGuiCol_FrameBgActive] = ImVec4(0.3f, 0.35f, 0.4f, 1.0f);
    colors[ImGuiCol_TitleBg] = ImVec4(0.08f, 0.09f, 0.1f, 1.0f);
    colors[ImGuiCol_TitleBgActive] = ImVec4(0.15f, 0.18f, 0.22f, 1.0f);
    colors[ImGuiCol_ScrollbarBg] = ImVec4(0.05f, 0.05f, 0.05f, 1.0f);
    colors[ImGuiCol_ScrollbarGrab] = ImVec4(0.3f, 0.3f, 0.3f, 1.0f);
    colors[ImGuiCol_Button] = ImVec4(0.2f, 0.25f, 0.3f, 1.0f);
    colors[ImGuiCol_ButtonHovered] = ImVec4(0.3f, 0.4f, 0.5f, 1.0f);
    colors[ImGuiCol_ButtonActive] = ImVec4(0.25f, 0.35f, 0.45f, 1.0f);
    colors[ImGuiCol_Header] = ImVec4(0.2f, 0.25f, 0.3f, 1.0f);
    colors[ImGuiCol_HeaderHovered] = ImVec4(0.3f, 0.4f, 0.5f, 1.0f);
    colors[ImGuiCol_HeaderActive] = ImVec4(0.25f, 0.35f, 0.45f, 1.0f);
    colors[ImGuiCol_ResizeGrip] = ImVec4(0.26f, 0.59f, 0.98f, 0.25f);
    colors[ImGuiCol_TabHovered] = ImVec4(0.38f, 0.5f, 0.65f, 1.0f);
    colors[ImGuiCol_Tab] = ImVec4(0.15f, 0.18f, 0.22f, 1.0f);
    colors[ImGuiCol_TabActive] = ImVec4(0.28f, 0.4f, 0.55f, 1.0f);  // the selected tab
    colors[ImGuiCol_PlotHistogram] = ImVec4(0.4f, 0.6f, 0.8f, 1.0f);
    return style;
}

void SectionHeader(const std::string& title, float gap) {
    // ImGui 1.86 has no separator with text: the title leads, the line fills the rest of
    // the row at the text's middle, both in the accent colour.
    ImGui::PushStyleColor(ImGuiCol_Separator, kAccentColor);
    const ImVec2 start = ImGui::GetCursorScreenPos();
    const ImVec2 textSize = ImGui::CalcTextSize(title.c_str());
    const float right = start.x + ImGui::GetContentRegionAvail().x;
    ImGui::PushStyleColor(ImGuiCol_Text, kAccentColor);
    ImGui::TextUnformatted(title.c_str());
    ImGui::PopStyleColor();
    const float lineStart = start.x + textSize.x + (title.empty() ? 0.0f : ImGui::GetStyle().ItemInnerSpacing.x);
    if (right > lineStart) {
        const float y = std::floor(start.y + textSize.y * 0.5f) + 0.5f;
        ImGui::GetWindowDrawList()->AddLine(ImVec2(lineStart, y), ImVec2(right, y),
                                            ImGui::GetColorU32(ImGuiCol_Separator), 1.0f);
    }
    ImGui::Dummy(ImVec2(0.0f, gap));
    ImGui::PopStyleColor();
}

ImVec4 StateColor(bool on) { return on ? ImVec4(1.0f, 1.0f, 1.0f, 1.0f) : kAccentColor; }

bool DrawIconButton(const std::string& id, ImTextureID texture, bool* toggled, bool toggle, ImVec2 size) {
    const ImVec2 topLeft = ImGui::GetCursorScreenPos();
    const bool clicked = ImGui::InvisibleButton(id.c_str(), size);
    const bool hovered = ImGui::IsItemHovered();
    if (clicked && toggle && toggled != nullptr) {
        *toggled = !*toggled;
    }
    const bool on = toggle && toggled != nullptr && *toggled;

    const ImVec2 bottomRight(topLeft.x + size.x, topLeft.y + size.y);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImU32 fill = on ? ImGui::GetColorU32(kAccentColor)
                          : (hovered ? IM_COL32(67, 72, 84, 214) : IM_COL32(42, 46, 56, 192));
    const ImU32 border = on ? IM_COL32(176, 205, 255, 255) : IM_COL32(102, 110, 126, 188);
    draw->AddRectFilled(topLeft, bottomRight, fill, 9.0f);
    draw->AddRect(topLeft, bottomRight, border, 9.0f, 0, 1.6f);
    if (texture != ImTextureID{}) {
        const float side = 0.56f * size.x;
        const ImVec2 iconMin(topLeft.x + (size.x - side) * 0.5f, topLeft.y + (size.y - side) * 0.5f + 1.0f);
        draw->AddImage(texture, iconMin, ImVec2(iconMin.x + side, iconMin.y + side), ImVec2(0.0f, 0.0f),
                       ImVec2(1.0f, 1.0f));
    }
    return clicked;
}

bool IconButton(const std::string& id, int iconId, ImVec2 size) {
    return DrawIconButton(id, ToTextureId(Resources::Instance().ButtonIcon(iconId)), nullptr, false, size);
}

bool IconToggleButton(const std::string& id, int iconId, bool* value, ImVec2 size) {
    return DrawIconButton(id, ToTextureId(Resources::Instance().ButtonIcon(iconId)), value, true, size);
}

ImVec2 BusyButtonSize(const char* label, ImVec2 size) {
    const ImVec2 text = ImGui::CalcTextSize(label, nullptr, true);
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    if (size.x == 0.0f) {
        size.x = text.x + padding.x * 2.0f;
    }
    if (size.y == 0.0f) {
        size.y = text.y + padding.y * 2.0f;
    }
    return size;
}

bool BusyButton(const char* label, bool busy, ImVec2 size) {
    if (!busy) {
        return ImGui::Button(label, size);
    }
    const ImVec2 busySize = BusyButtonSize(label, size);
    const ImVec4 grey(0.25f, 0.25f, 0.25f, 1.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, grey);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, grey);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, grey);
    ImGui::Button((std::string("##") + label).c_str(), busySize);
    ImGui::PopStyleColor(3);

    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    const ImVec2 centre((min.x + max.x) * 0.5f, (min.y + max.y) * 0.5f);
    const float radius = 0.28f * ImGui::GetFontSize();
    const float start = 4.0f * static_cast<float>(ImGui::GetTime());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->PathArcTo(centre, radius, start, start + 4.396f, 16);
    draw->PathStroke(IM_COL32(255, 255, 255, 220), 0, 2.5f);
    return false;
}

std::filesystem::path ExecutableDirectory() {
    const std::filesystem::path executable = platform::ExecutablePath();
    return executable.empty() ? executable : executable.parent_path();
}

std::string TimestampedFileName(const std::string& name, const std::string& extension, std::time_t at) {
    std::tm local{};
    localtime_r(&at, &local);
    char stamp[32] = {};
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%y-%m-%d-%H-%M-%S", &local);
    return std::string(stamp, length) + "_" + name + "." + extension;
}

std::string TimestampedFileName(const std::string& name, const std::string& extension) {
    return TimestampedFileName(name, extension, std::time(nullptr));
}

bool CopyDialogResult(platform::DialogResult result, const std::filesystem::path& chosen, char* buffer,
                      std::size_t size) {
    if (result != platform::DialogResult::Okay || chosen.empty() || buffer == nullptr || size == 0) {
        return false;
    }
    const std::string text = chosen.string();
    if (text.size() > size - 1) {
        Log("The chosen path is longer than " + std::to_string(size - 1) + " characters and was not taken: " + text,
            3);
        return false;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

}  // namespace orbel::studio::gui
