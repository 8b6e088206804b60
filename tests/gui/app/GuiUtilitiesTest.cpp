// The shared GUI pieces that decide without a window: the embedded pictures, time-stamped
// names, dialog results into fixed buffers, the busy button and the icon toggle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/EmbeddedImages.h"
#include "app/GuiUtilities.h"
#include "support/HeadlessImGui.h"

namespace {

using orbel::studio::gui::BusyButton;
using orbel::studio::gui::CopyDialogResult;
using orbel::studio::gui::DecodedImage;
using orbel::studio::gui::DrawIconButton;
using orbel::studio::platform::DialogResult;
using orbel::testing::HeadlessImGui;

TEST(EmbeddedImagesTest, EveryPictureTheProgramAsksForDecodes) {
    struct Expected {
        const char* what;
        orbel::studio::gui::PngBytes png;
        int width;
        int height;
    };
    std::vector<Expected> pictures = {
        {"splash", orbel::studio::gui::SplashPng(), 800, 391},
        {"window icon", orbel::studio::gui::WindowIconPng(), 128, 128},
        {"logo", orbel::studio::gui::LogoPng(), 600, 180},
    };
    for (int id = 0; id < orbel::studio::gui::kButtonIconCount; ++id) {
        pictures.push_back({"button icon", orbel::studio::gui::ButtonIconPng(id), 64, 64});
    }
    for (int level = 1; level < orbel::studio::gui::kToastLevelCount; ++level) {
        pictures.push_back({"toast icon", orbel::studio::gui::ToastIconPng(level), 64, 64});
    }
    for (const Expected& picture : pictures) {
        const DecodedImage image(picture.png);
        ASSERT_TRUE(image.Valid()) << picture.what;
        EXPECT_EQ(image.Width(), picture.width) << picture.what;
        EXPECT_EQ(image.Height(), picture.height) << picture.what;
    }
    EXPECT_EQ(orbel::studio::gui::ToastIconPng(0).data(), orbel::studio::gui::WindowIconPng().data());
    EXPECT_TRUE(orbel::studio::gui::ButtonIconPng(5).empty());
    EXPECT_TRUE(orbel::studio::gui::ButtonIconPng(-1).empty());
    EXPECT_TRUE(orbel::studio::gui::ToastIconPng(4).empty());
}

// Runs without an OpenGL context: a texture call here would crash the test.
TEST(EmbeddedImagesTest, UndecodableBytesMakeNoTexture) {
    const unsigned char garbage[] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(orbel::studio::gui::LoadTextureFromMemory(garbage, sizeof garbage), 0u);
    EXPECT_EQ(orbel::studio::gui::LoadTextureFromMemory(nullptr, 0), 0u);
    EXPECT_FALSE(DecodedImage(orbel::studio::gui::PngBytes{}).Valid());
}

TEST(EmbeddedImagesTest, WindowIconIsDecodedOnce) {
    orbel::studio::gui::Resources resources;
    const auto first = resources.WindowIcon();
    ASSERT_NE(first.pixels, nullptr);
    EXPECT_EQ(first.width, 128);
    EXPECT_EQ(resources.WindowIcon().pixels, first.pixels);
}

TEST(GuiUtilitiesTest, StateColorIsWhiteWhenOnAndTheAccentWhenOff) {
    const ImVec4 on = orbel::studio::gui::StateColor(true);
    const ImVec4 off = orbel::studio::gui::StateColor(false);
    EXPECT_EQ(std::vector<float>({on.x, on.y, on.z, on.w}), std::vector<float>({1.0f, 1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(std::vector<float>({off.x, off.y, off.z, off.w}), std::vector<float>({0.0f, 0.6157f, 0.8745f, 0.8f}));
}

TEST(GuiUtilitiesTest, TimestampedFileNameUsesLocalTime) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "UTC-2", 1);  // two hours east of UTC
    tzset();
    // 2024-05-01 11:45:09 UTC.
    EXPECT_EQ(orbel::studio::gui::TimestampedFileName("2d", "png", 1714563909), "24-05-01-13-45-09_2d.png");
    if (previous) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(GuiUtilitiesTest, CopyDialogResultTakesOnlyAWholeAcceptedPath) {
    const std::string path = "/data/cal.qext";  // 14 characters
    struct Case {
        const char* what;
        DialogResult result;
        std::string chosen;
        std::size_t size;
        bool copied;
    };
    const Case cases[] = {
        {"accepted, room to spare", DialogResult::Okay, path, 64, true},
        {"accepted, exactly fits with its terminator", DialogResult::Okay, path, path.size() + 1, true},
        {"accepted, one character too long", DialogResult::Okay, path, path.size(), false},
        {"accepted into a buffer of size 0", DialogResult::Okay, path, 0, false},
        {"accepted but empty", DialogResult::Okay, "", 64, false},
        {"cancelled", DialogResult::Cancel, path, 64, false},
        {"failed", DialogResult::Error, path, 64, false},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(66, '#');
        buffer[0] = 'x';
        buffer[1] = '\0';
        // The buffer's bytes past `size` must never be written.
        const bool copied = CopyDialogResult(c.result, c.chosen, buffer.data(), c.size);
        EXPECT_EQ(copied, c.copied) << c.what;
        if (c.copied) {
            EXPECT_STREQ(buffer.data(), path.c_str()) << c.what;
            EXPECT_EQ(buffer[path.size() + 1], '#') << c.what;
        } else {
            EXPECT_STREQ(buffer.data(), "x") << c.what << ": a refused result leaves the buffer as it was";
            EXPECT_EQ(buffer[2], '#') << c.what;
        }
    }
}

TEST(GuiUtilitiesTest, BusyButtonKeepsTheNormalSizeAndIsNeverPressed) {
    HeadlessImGui gui;
    ImVec2 normalSize;
    ImVec2 busySize;
    gui.Frame([&] {
        BusyButton("Start streaming", false);
        normalSize = ImGui::GetItemRectSize();
        BusyButton("Start streaming", true);
        busySize = ImGui::GetItemRectSize();
    });
    EXPECT_FLOAT_EQ(busySize.x, normalSize.x);
    EXPECT_FLOAT_EQ(busySize.y, normalSize.y);

    int pressed = 0;
    const auto busy = [&] {
        ImGui::SetCursorScreenPos(ImVec2(100.0f, 100.0f));
        pressed += BusyButton("Start streaming", true, ImVec2(150.0f, 30.0f)) ? 1 : 0;
    };
    gui.Click(ImVec2(170.0f, 115.0f), busy);
    EXPECT_EQ(pressed, 0);

    const auto idle = [&] {
        ImGui::SetCursorScreenPos(ImVec2(100.0f, 100.0f));
        pressed += BusyButton("Start streaming", false, ImVec2(150.0f, 30.0f)) ? 1 : 0;
    };
    gui.Click(ImVec2(170.0f, 115.0f), idle);
    EXPECT_EQ(pressed, 1);
}

TEST(GuiUtilitiesTest, IconToggleClickedTwiceComesBack) {
    HeadlessImGui gui;
    bool value = false;
    int clicks = 0;
    const auto draw = [&] {
        ImGui::SetCursorScreenPos(ImVec2(50.0f, 50.0f));
        clicks += DrawIconButton("##move", ImTextureID{}, &value, true, ImVec2(50.0f, 50.0f)) ? 1 : 0;
    };
    gui.Click(ImVec2(75.0f, 75.0f), draw);
    EXPECT_TRUE(value);
    gui.Click(ImVec2(75.0f, 75.0f), draw);
    EXPECT_FALSE(value);
    EXPECT_EQ(clicks, 2);

    // Without a bool the button still reports its clicks.
    int plainClicks = 0;
    gui.Click(ImVec2(75.0f, 75.0f), [&] {
        ImGui::SetCursorScreenPos(ImVec2(50.0f, 50.0f));
        plainClicks += DrawIconButton("##plain", ImTextureID{}, nullptr, true, ImVec2(50.0f, 50.0f)) ? 1 : 0;
    });
    EXPECT_EQ(plainClicks, 1);
}

}  // namespace
