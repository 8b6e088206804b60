// StreamedTexture: an OpenGL texture refilled with whole pictures (the camera image, the 2D
// view's picture). A picture of another size or channel count allocates the texture anew with
// linear filters; one of the same shape is written in place. Rows are tightly packed bytes,
// RGB or RGBA; the unpack state the upload needs is handed back as it was found.
//
// Contract: GUI thread, with the context current for Upload and Release. The destructor
// makes no OpenGL call: the owner calls Release while the context still exists.
#pragma once

#include <cstdint>

namespace orbel::studio::gui {

class StreamedTexture {
public:
    StreamedTexture() = default;
    StreamedTexture(const StreamedTexture&) = delete;
    StreamedTexture& operator=(const StreamedTexture&) = delete;

    // `channels` is 3 or 4; the texture is created on the first upload.
    void Upload(int width, int height, int channels, const uint8_t* bytes);
    // Deletes the texture (if any); the next Upload creates a new one.
    void Release();

    unsigned Id() const { return id_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    unsigned id_ = 0;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
};

}  // namespace orbel::studio::gui
