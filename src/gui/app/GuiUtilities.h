// Small pieces the panels share: the texture cache of the embedded icons, the program's
// theme and accent colour, a few custom-drawn widgets (section header, icon buttons, a
// button with a spinner while busy), the executable's folder, time-stamped file names and
// the copying of a file-dialog result into a fixed text buffer.
//
// Contract: GUI thread only (it owns the OpenGL context); nothing here locks. Functions that
// create textures need a current OpenGL context; the widgets need an ImGui frame. Textures
// made by Resources live until Resources::DeleteTextures, which the program calls once, while
// its context still exists, before the backends shut down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <unordered_map>

#include <imgui.h>

#include "app/EmbeddedImages.h"
#include "platform/FileDialog.h"

namespace orbel::studio::gui {

// The GUI's accent colour: section headers, selected toggles, the "off" state colour.
inline const ImVec4 kAccentColor{0.0f, 0.6157f, 0.8745f, 0.8f};

// An OpenGL texture name as ImGui takes it.
inline ImTextureID ToTextureId(unsigned texture) {
    return reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(texture));
}

// An RGBA image decoded from PNG bytes; owns its pixels.
class DecodedImage {
public:
    DecodedImage() = default;
    explicit DecodedImage(PngBytes png);
    ~DecodedImage();
    DecodedImage(DecodedImage&& other) noexcept;
    DecodedImage& operator=(DecodedImage&& other) noexcept;
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;

    // False when the bytes were not a readable image; then there are no pixels.
    bool Valid() const { return pixels_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    unsigned char* Pixels() const { return pixels_; }

private:
    int width_ = 0;
    int height_ = 0;
    unsigned char* pixels_ = nullptr;
};

// Decodes PNG (or any format stb_image reads) bytes and uploads them as an RGBA texture with
// linear filters and mipmaps. Returns the texture name, or 0 without touching OpenGL when the
// bytes cannot be decoded.
unsigned LoadTextureFromMemory(const unsigned char* bytes, std::size_t length);

// Uploads decoded RGBA pixels as a texture with linear filters (no mipmaps): the splash and
// the views' logo. 0 for an invalid image, without touching OpenGL.
unsigned CreateTexture(const DecodedImage& image);

// The cache of icon textures and the window icon's pixels. One instance for the program
// (Instance); tests may make their own.
class Resources {
public:
    struct IconPixels {
        int width = 0;
        int height = 0;
        unsigned char* pixels = nullptr;  // RGBA; null when the icon cannot be decoded
    };

    static Resources& Instance();

    Resources() = default;
    // Frees the window icon's pixels. Touches no OpenGL: the instance outlives the context,
    // so its textures must be gone by then (DeleteTextures).
    ~Resources() = default;
    Resources(const Resources&) = delete;
    Resources& operator=(const Resources&) = delete;

    // The texture of button icon `id` (0 camera, 1 eye, 2 rotate, 3 move, 4 grid), made on
    // first use. 0 for an id without an image, or an image that cannot be decoded.
    unsigned ButtonIcon(int id);
    // The texture of the toast icon of `level` (0 to 3), made on first use; 0 as above.
    unsigned ToastIcon(int level);
    // The window icon, decoded on the first call and kept for the life of the instance.
    IconPixels WindowIcon();

    // Deletes every texture made so far; later calls make them anew. Needs the context that
    // made them to be current.
    void DeleteTextures();
    std::size_t TextureCount() const { return toastIcons_.size() + buttonIcons_.size(); }

private:
    unsigned CachedTexture(std::unordered_map<int, unsigned>& cache, int key, PngBytes png);

    std::unordered_map<int, unsigned> toastIcons_;
    std::unordered_map<int, unsigned> buttonIcons_;
    bool windowIconDecoded_ = false;
    DecodedImage windowIcon_;
};

// Sets the program's theme on the current ImGui style and returns it.
ImGuiStyle& ApplyTheme();

// A separator line led by the title in the accent colour, then a vertical gap.
void SectionHeader(const std::string& title, float gap);

// Opaque white when on, the accent colour when off.
ImVec4 StateColor(bool on);

// A square button showing button icon `iconId`; true when clicked.
bool IconButton(const std::string& id, int iconId, ImVec2 size);
// As IconButton; flips *value when clicked (value may be null: the button then draws as off).
bool IconToggleButton(const std::string& id, int iconId, bool* value, ImVec2 size);
// The two above with the texture given: what tests drive without an OpenGL context.
bool DrawIconButton(const std::string& id, ImTextureID texture, bool* toggled, bool toggle, ImVec2 size);

// A normal button while not busy; a grey button of the same size with a spinner while busy,
// which is never pressed.
bool BusyButton(const char* label, bool busy, ImVec2 size = ImVec2(0.0f, 0.0f));
// The size BusyButton gives a busy button: a zero width or height becomes the label's text
// size plus twice the frame padding in that direction.
ImVec2 BusyButtonSize(const char* label, ImVec2 size);

// The folder of the running program; empty when the system cannot tell.
std::filesystem::path ExecutableDirectory();

// "YY-MM-DD-HH-MM-SS_<name>.<extension>" in local time, for example "24-05-01-13-45-09_2d.png".
std::string TimestampedFileName(const std::string& name, const std::string& extension);
std::string TimestampedFileName(const std::string& name, const std::string& extension, std::time_t at);

// Copies the path a dialog accepted into `buffer` (NUL-terminated) and returns true. Returns
// false and leaves the buffer as it was when the dialog was not accepted, the path is empty,
// the buffer has no room at all, or the path does not fit (a cut path would name another
// file; that case is logged as a warning).
bool CopyDialogResult(platform::DialogResult result, const std::filesystem::path& chosen, char* buffer,
                      std::size_t size);

}  // namespace orbel::studio::gui
