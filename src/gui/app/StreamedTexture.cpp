// Uploads of whole pictures into one texture, allocated anew only when the shape changes.
#include "app/StreamedTexture.h"

#include <epoxy/gl.h>

namespace orbel::studio::gui {

void StreamedTexture::Upload(int width, int height, int channels, const uint8_t* bytes) {
    if (id_ == 0) {
        glGenTextures(1, &id_);
        width_ = 0;
        height_ = 0;
        channels_ = 0;
    }
    const GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
    // Rows of any width are tightly packed; the state is handed back as it was found.
    GLint alignment = 4;
    GLint rowLength = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, id_);
    if (width_ != width || height_ != height || channels_ != channels) {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, GL_UNSIGNED_BYTE, bytes);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        width_ = width;
        height_ = height;
        channels_ = channels;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, bytes);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
}

void StreamedTexture::Release() {
    if (id_ != 0) {
        glDeleteTextures(1, &id_);
        id_ = 0;
    }
    width_ = 0;
    height_ = 0;
    channels_ = 0;
}

}  // namespace orbel::studio::gui
