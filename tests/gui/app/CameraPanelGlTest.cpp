// The camera view against a real OpenGL context: images of odd widths uploaded and read
// back byte for byte (RGB8, RGB12 reduced to 8 bits, RGBA), the texture kept by images that
// cannot be shown, re-specified when the size changes, drawn at the fitted place, and gone
// after the one explicit release.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "app/CameraPanel.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/GlTestContext.h"
#include "support/HeadlessImGui.h"
#include "app/GuiUtilities.h"

namespace orbel::studio::gui {
namespace {

std::shared_ptr<CameraData> Rgb8(uint32_t width, uint32_t height, uint8_t seed) {
    auto image = std::make_shared<CameraData>();
    image->width = width;
    image->height = height;
    image->pixels.resize(std::size_t{width} * height * 3);
    for (std::size_t i = 0; i < image->pixels.size(); ++i) image->pixels[i] = static_cast<uint8_t>(seed + i * 7);
    image->byteSize = image->pixels.size();
    return image;
}

// The texture's bytes, rows packed tightly.
std::vector<uint8_t> ReadBack(unsigned texture, int width, int height, int channels) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(width * height * channels));
    GLint packAlignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, bytes.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
    return bytes;
}

GLint UnpackAlignment() {
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    return alignment;
}

void Show(CameraPanel& panel, std::shared_ptr<CameraData> image) {
    panel.Consume(std::move(image));
    panel.Update();
    panel.UploadPending();
}

TEST(CameraPanelGlTest, OddWidthImagesReadBackAsSentAndBadImagesLeaveTheTexture) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::ProgramLogCapture log;
    CameraPanel panel;
    ASSERT_EQ(UnpackAlignment(), 4);

    // 5 pixels of 3 bytes: rows of 15 bytes, which a 4-byte alignment would misread.
    const auto first = Rgb8(5, 3, 1);
    Show(panel, first);
    const unsigned texture = panel.Texture();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(panel.TextureWidth(), 5);
    EXPECT_EQ(panel.TextureHeight(), 3);
    EXPECT_EQ(ReadBack(texture, 5, 3, 3), first->pixels);
    EXPECT_EQ(UnpackAlignment(), 4) << "the unpack state is handed back";

    // Width 0, a short buffer and Bayer data: the texture keeps the last picture.
    auto empty = Rgb8(5, 3, 9);
    empty->width = 0;
    auto shortImage = Rgb8(5, 3, 9);
    shortImage->pixels.pop_back();
    auto bayer = Rgb8(5, 3, 9);
    bayer->format = 0;
    bayer->channels = 1;
    bayer->pixels.resize(15);
    for (const auto& bad : {empty, shortImage, bayer}) {
        Show(panel, bad);
        EXPECT_EQ(panel.CurrentImage(), bad);
        EXPECT_EQ(panel.Texture(), texture);
        EXPECT_EQ(panel.TextureWidth(), 5);
        EXPECT_EQ(ReadBack(texture, 5, 3, 3), first->pixels);
    }

    // The same size refills the same texture; another size re-specifies it.
    const auto second = Rgb8(5, 3, 50);
    Show(panel, second);
    EXPECT_EQ(panel.Texture(), texture);
    EXPECT_EQ(ReadBack(texture, 5, 3, 3), second->pixels);
    const auto third = Rgb8(7, 1, 90);
    Show(panel, third);
    EXPECT_EQ(panel.TextureWidth(), 7);
    EXPECT_EQ(panel.TextureHeight(), 1);
    EXPECT_EQ(ReadBack(panel.Texture(), 7, 1, 3), third->pixels);

    // Four channels of a replayed picture, 3 pixels wide.
    auto rgba = Rgb8(3, 2, 3);
    rgba->format = 3;
    rgba->channels = 4;
    rgba->pixels.resize(3 * 2 * 4, 200);
    Show(panel, rgba);
    EXPECT_EQ(ReadBack(panel.Texture(), 3, 2, 4), rgba->pixels);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    panel.ReleaseGl();
    EXPECT_EQ(panel.Texture(), 0u);
    EXPECT_FALSE(glIsTexture(texture));
}

// One row of RGB pixels in 16-bit words, as the SDK delivers RGB12.
std::shared_ptr<CameraData> TwelveBitRow(const std::vector<uint16_t>& samples) {
    auto image = std::make_shared<CameraData>();
    image->width = static_cast<uint32_t>(samples.size() / 3);
    image->height = 1;
    image->bitsPerChannel = 12;
    image->pixels.resize(samples.size() * 2);
    std::memcpy(image->pixels.data(), samples.data(), image->pixels.size());
    image->byteSize = image->pixels.size();
    return image;
}

TEST(CameraPanelGlTest, TwelveBitSamplesAreScaledSoTheirTopIsWhite) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    CameraPanel panel;
    Show(panel, TwelveBitRow({0, 4095, 2048, 16, 15, 0x0FF0, 4095, 4095, 4095}));
    ASSERT_NE(panel.Texture(), 0u);
    EXPECT_EQ(ReadBack(panel.Texture(), 3, 1, 3), (std::vector<uint8_t>{0, 255, 128, 1, 0, 255, 255, 255, 255}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    panel.ReleaseGl();
}

// Bits above the twelfth should be clear; where a camera sets them anyway the sample is
// white, not what its low byte after the shift happens to be (4096 would become 0).
TEST(CameraPanelGlTest, TwelveBitSamplesAboveTheirTopAreClampedToWhite) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    CameraPanel panel;
    Show(panel, TwelveBitRow({4096, 0x1010, 0x8000, 0xF00F, 0xFFFF, 4095}));
    ASSERT_NE(panel.Texture(), 0u);
    EXPECT_EQ(ReadBack(panel.Texture(), 2, 1, 3), (std::vector<uint8_t>(6, 255)));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    panel.ReleaseGl();
}

TEST(CameraPanelGlTest, TheDrawShowsTheNewestImageFittedIntoTheRegion) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    testing::HeadlessImGui gui(ImVec2(800.0f, 400.0f));
    CameraPanel panel;
    auto app = std::make_shared<AppState>();
    for (uint8_t seed : {1, 2, 3, 4}) panel.Consume(Rgb8(16, 6, seed));  // four between two frames
    gui.Frame([&] { panel.DrawCameraPanel(app); });
    ASSERT_NE(panel.Texture(), 0u);
    EXPECT_EQ(ReadBack(panel.Texture(), 16, 6, 3), Rgb8(16, 6, 4)->pixels);

    // The image's quad: the one drawn with the panel's texture. A 16 : 6 picture in the test
    // window's region (800 x 400 less the window padding) takes the full width.
    const ImDrawData* data = ImGui::GetDrawData();
    ImVec2 min(1e9f, 1e9f);
    ImVec2 max(-1e9f, -1e9f);
    int found = 0;
    for (int l = 0; l < data->CmdListsCount; ++l) {
        const ImDrawList* list = data->CmdLists[l];
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.TextureId != ToTextureId(panel.Texture())) continue;
            ++found;
            for (unsigned i = 0; i < cmd.ElemCount; ++i) {
                const ImVec2 p = list->VtxBuffer[list->IdxBuffer[static_cast<int>(cmd.IdxOffset + i)]].pos;
                min = ImVec2(std::min(min.x, p.x), std::min(min.y, p.y));
                max = ImVec2(std::max(max.x, p.x), std::max(max.y, p.y));
            }
        }
    }
    ASSERT_EQ(found, 1);
    const ImVec2 padding = ImGui::GetStyle().WindowPadding;
    const float width = 800.0f - 2.0f * padding.x;
    const float height = 400.0f - 2.0f * padding.y;
    EXPECT_FLOAT_EQ(min.x, padding.x);
    EXPECT_FLOAT_EQ(max.x, padding.x + width);
    EXPECT_FLOAT_EQ(max.y - min.y, width * 6.0f / 16.0f);
    EXPECT_FLOAT_EQ(min.y, padding.y + (height - width * 6.0f / 16.0f) / 2.0f);
    panel.ReleaseGl();
}

}  // namespace
}  // namespace orbel::studio::gui
