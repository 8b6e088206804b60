// The 3D and 2D views of the real program while the emulator streams: they follow the live
// frames while nothing around them moves, their colour maps recolour them, and their export
// buttons write PNGs that hold what the screen shows (see StudioSession for the fixture).
#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "gui/e2e/StudioSession.h"

namespace {

namespace fs = std::filesystem;
using orbel::testing::CountDifferences;
using orbel::testing::CountPixels;
using orbel::testing::Eventually;
using orbel::testing::kLayout;
using orbel::testing::Rect;
using orbel::testing::Rgb;
using orbel::testing::Screenshot;

constexpr int kLineWidth = 192;  // the emulator's points per line: the 2D picture's width
constexpr int kImageRows = 56;

// The 2D picture inside its region.
Rect PictureIn(const Rect& region) { return orbel::testing::FittedPicture(region, kLineWidth, kImageRows); }
const Rect kPicture2D = PictureIn(kLayout.view2D);

// The export buttons: 50 pixels square, 10 pixels in from each view's bottom-right corner.
constexpr int kButtonInset = 35;
int ExportButtonX(const Rect& view) { return view.right - kButtonInset; }
int ExportButtonY(const Rect& view) { return view.bottom - kButtonInset; }

// A PNG as the program wrote it: its size and components, and its pixels as RGB.
struct Png {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<Rgb> pixels;
    Rgb At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
std::optional<Png> ReadPng(const fs::path& file) {
    Png png;
    unsigned char* data = stbi_load(file.c_str(), &png.width, &png.height, &png.components, 3);
    if (data == nullptr) return std::nullopt;
    for (int i = 0; i < png.width * png.height; ++i) png.pixels.push_back({data[3 * i], data[3 * i + 1], data[3 * i + 2]});
    stbi_image_free(data);
    return png;
}

bool Saturated(Rgb pixel) { return pixel.Spread() > 48; }

// The colour-map combos of the viewer panel, top to bottom (3D, then 2D): a box filled
// (50, 50, 50) right of the map's gradient and name, 20 pixels high with its border.
std::vector<Rect> ColourMapCombos(const Screenshot& shot) {
    std::vector<Rect> combos;
    for (const Rect& rect : orbel::testing::FindRects(shot, kLayout.viewerPanel, {50, 50, 50}, 40)) {
        if (rect.Height() >= 14 && rect.Height() <= 20 && rect.Width() > 200) combos.push_back(rect);
    }
    return combos;
}

// In an open colour-map list, the row whose gradient runs from black to white: runs of at
// least 150 grey pixels that only get brighter, by at least 150 levels. Its middle.
std::optional<Rect> GrayscaleRow(const Screenshot& shot, const Rect& area) {
    for (int y = area.top; y < area.bottom; ++y) {
        int x = area.left;
        while (x < area.right) {
            const int start = x;
            int previous = -1;
            while (x < area.right && shot.At(x, y).Spread() <= 2 && shot.At(x, y).r >= previous) {
                previous = shot.At(x, y).r;
                ++x;
            }
            if (x - start >= 150 && shot.At(x - 1, y).r - shot.At(start, y).r >= 150) {
                return Rect{start, y, x, y + 1};
            }
            x = std::max(x, start + 1);
        }
    }
    return std::nullopt;
}

class ViewsEndToEndTest : public orbel::testing::StudioSession {
protected:
    void StartAndStream() {
        WriteSettings();
        StartStudio();
        ASSERT_TRUE(WaitForMainWindow()) << Log();
        ASSERT_TRUE(StartStreaming("01"));
    }

    // Opens a colour-map combo, picks "Grayscale" from its list.
    void ChooseGrayscale(const Rect& combo, const std::string& step) {
        Click(combo);
        std::optional<Rect> row;
        const Rect below{kLayout.view3D.right, combo.bottom, 1920, std::min(combo.bottom + 320, 1080)};
        ASSERT_TRUE(Eventually([&] { return (row = GrayscaleRow(Capture(step + "-list"), below)).has_value(); }))
            << "no Grayscale row below " << combo;
        Click(*row);
        MoveAway();
    }

    // Presses a view's export button and waits for the log line that names the file.
    std::optional<fs::path> Export(const Rect& view, const std::string& logText) {
        const std::size_t before = Log().size();
        Click(ExportButtonX(view), ExportButtonY(view));
        std::optional<fs::path> file;
        Eventually([&] {
            const std::optional<std::string> line = LogLineAfter(logText, before);
            if (line) file = *line;
            return line.has_value();
        });
        MoveAway();
        if (file) {
            // Kept with the screenshots for whoever reads a failure.
            std::error_code ignored;
            fs::copy_file(*file, artefacts / ("exported-" + file->filename().string()),
                          fs::copy_options::overwrite_existing, ignored);
        }
        return file;
    }
};

TEST_F(ViewsEndToEndTest, LiveFramesChangeBothViewsAndNothingAroundThem) {
    StartAndStream();
    const Screenshot before = Capture("02-before");
    // The box sweeps across the room: a few frames later both pictures differ where it moved,
    // while the room, the panels, the splitter and the 2D view's margins stay as they were.
    const uint64_t streamed = emulator.StreamedFrames();
    ASSERT_TRUE(emulator.WaitForStreamedFrames(streamed + 3, orbel::testing::kStepDeadline));
    const Rect splitter{kLayout.view3D.left, kLayout.view3D.bottom, kLayout.view3D.right, kLayout.view2D.top};
    const Rect leftMargin{kLayout.view2D.left, kLayout.view2D.top, kPicture2D.left, kLayout.view2D.bottom};
    const Rect rightMargin{kPicture2D.right, kLayout.view2D.top, kLayout.view2D.right, kLayout.view2D.bottom};
    int changed3D = 0;
    int changed2D = 0;
    Screenshot after("");
    ASSERT_TRUE(Eventually([&] {
        after = Capture("03-after");
        changed3D = CountDifferences(before, after, kLayout.view3D);
        changed2D = CountDifferences(before, after, kPicture2D);
        return changed3D > 200 && changed2D > 200;
    })) << changed3D << " pixels of the 3D view and " << changed2D << " of the 2D picture changed";
    EXPECT_LT(changed3D, kLayout.view3D.Width() * kLayout.view3D.Height() / 4) << "the room moved too";
    for (const Rect& still : {kLayout.sessionPanel, kLayout.toolboxPanel, splitter, leftMargin, rightMargin}) {
        EXPECT_EQ(CountDifferences(before, after, still), 0) << still;
    }
    EXPECT_EQ(CloseStudio(), 0);
}

TEST_F(ViewsEndToEndTest, ColourMapsRecolourTheirOwnView) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    // The 3D combo is found before the stream starts: its toast then covers it for a while
    // (the toast takes no input, so the combo still takes the click).
    std::vector<Rect> combos;
    ASSERT_TRUE(Eventually([&] { return !(combos = ColourMapCombos(Capture("01-main"))).empty(); }));
    const Rect combo3D = combos.front();
    ASSERT_TRUE(StartStreaming("02"));

    // Jet: the cloud and the picture are coloured.
    int colourful3D = 0;
    int colourful2D = 0;
    const int picture = kPicture2D.Width() * kPicture2D.Height();
    ASSERT_TRUE(Eventually([&] {
        const Screenshot shot = Capture("03-jet");
        colourful3D = CountPixels(shot, kLayout.view3D, Saturated);
        colourful2D = CountPixels(shot, kPicture2D, Saturated);
        combos = ColourMapCombos(shot);
        return colourful3D > 5000 && colourful2D > picture / 2 && !combos.empty();
    })) << colourful3D << " coloured pixels in the 3D view, " << colourful2D << " in the 2D picture";
    const Rect combo2D = combos.back();
    ASSERT_GT(combo2D.top, combo3D.bottom) << "the 2D combo is not below the 3D one";

    // Grayscale in the 3D view: its points turn grey (what stays coloured is the origin's axes),
    // the 2D picture keeps its own map.
    ChooseGrayscale(combo3D, "04");
    int grey3D = 0;
    EXPECT_TRUE(Eventually([&] {
        const Screenshot shot = Capture("05-grey3d");
        grey3D = CountPixels(shot, kLayout.view3D, Saturated);
        colourful2D = CountPixels(shot, kPicture2D, Saturated);
        return grey3D < colourful3D / 20;
    })) << grey3D << " of " << colourful3D << " pixels of the 3D view still coloured";
    EXPECT_GT(colourful2D, picture / 2);

    // Grayscale in the 2D view: every pixel of the picture is grey.
    ChooseGrayscale(combo2D, "06");
    EXPECT_TRUE(Eventually([&] {
        colourful2D = CountPixels(Capture("07-grey2d"), kPicture2D, [](Rgb p) { return p.Spread() > 2; });
        return colourful2D == 0;
    })) << colourful2D << " pixels of the 2D picture still coloured";
    EXPECT_EQ(CloseStudio(), 0);
}

// The "Edit zones" switch governs editing only: the zone it made stays drawn once it is off.
TEST_F(ViewsEndToEndTest, ZonesStayDrawnWhenEditingIsSwitchedOff) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    // Below the toolbar (which grows while editing), away from the fading buttons.
    const Rect scene{kLayout.view3D.left, kLayout.view3D.top + 80, kLayout.view3D.right, kLayout.view3D.bottom - 80};
    const Screenshot before = Capture("01-no-zone");
    const int switchX = kLayout.view3D.left + 30;  // the switch at the toolbar's start
    const int switchY = kLayout.view3D.top + 20;
    int editing = 0;
    Click(switchX, switchY);
    MoveAway();
    ASSERT_TRUE(Eventually([&] { return (editing = CountDifferences(before, Capture("02-editing"), scene)) > 3000; }))
        << "no zone appeared: " << editing << " pixels changed";
    Click(switchX, switchY);
    MoveAway();
    int shown = 0;
    Screenshot off("");
    ASSERT_TRUE(Eventually([&] {
        off = Capture("03-editing-off");
        shown = CountDifferences(before, off, scene);
        // The editor's handles go; the zone's fill, edges and label stay.
        return shown > editing / 2 && CountDifferences(Capture("03-editing-off-again"), off, scene) == 0;
    })) << shown << " pixels show the zone once editing is off, " << editing << " while editing";
    EXPECT_LT(shown, editing) << "the editor's handles are still drawn";
    EXPECT_EQ(CloseStudio(), 0);
}

TEST_F(ViewsEndToEndTest, ExportButtonsWritePngsBesideTheProgramElseIntoTheDataFolder) {
    const fs::path programFolder = scratch / "bin";
    UseProgramIn(programFolder);
    StartAndStream();
    const std::string saved3D = "3D rendering: File saved to ";
    const std::string saved2D = "2D view exported to ";

    // Beside the program, while frames arrive: the 3D view at its size, the 2D picture at
    // the line width by 56 rows.
    const std::optional<fs::path> live3D = Export(kLayout.view3D, saved3D);
    ASSERT_TRUE(live3D) << Log();
    const std::optional<fs::path> live2D = Export(kLayout.view2D, saved2D);
    ASSERT_TRUE(live2D) << Log();
    EXPECT_EQ(live3D->parent_path(), programFolder / "screenshots");
    EXPECT_EQ(live2D->parent_path(), programFolder / "screenshots");
    std::optional<Png> png = ReadPng(*live3D);
    ASSERT_TRUE(png) << *live3D;
    EXPECT_EQ(png->width, kLayout.view3D.Width());
    EXPECT_EQ(png->height, kLayout.view3D.Height());
    EXPECT_EQ(png->components, 4);
    png = ReadPng(*live2D);
    ASSERT_TRUE(png) << *live2D;
    EXPECT_EQ(png->width, kLineWidth);
    EXPECT_EQ(png->height, kImageRows);
    EXPECT_EQ(png->components, 3);

    // A file where the folder beside the program would be: the exports go to the application-
    // data folder and the log says why. The stream is stopped first, so that the screen and
    // the files hold the same frame and can be compared pixel by pixel.
    ASSERT_TRUE(StopStreaming("02"));
    fs::remove_all(programFolder / "screenshots");
    { std::ofstream(programFolder / "screenshots") << "not a folder"; }
    const std::optional<fs::path> still3D = Export(kLayout.view3D, saved3D);
    ASSERT_TRUE(still3D) << Log();
    const std::optional<fs::path> still2D = Export(kLayout.view2D, saved2D);
    ASSERT_TRUE(still2D) << Log();
    EXPECT_EQ(still3D->parent_path(), appData / "screenshots");
    EXPECT_EQ(still2D->parent_path(), appData / "screenshots");
    EXPECT_TRUE(LogHas("Screenshots cannot be saved beside the program")) << Log();

    // The screen shows what the files hold, once the export buttons have faded out: the 3D
    // view pixel for pixel (its toolbar aside); the 2D picture is the file scaled up with
    // linear filtering, so its block middles mix an eighth of their neighbours in: the mean
    // difference stays within a few levels (a file upside down or mirrored is off by tens).
    const std::optional<Png> file3D = ReadPng(*still3D);
    const std::optional<Png> file2D = ReadPng(*still2D);
    ASSERT_TRUE(file3D && file3D->width == kLayout.view3D.Width() && file3D->height == kLayout.view3D.Height())
        << *still3D;
    ASSERT_TRUE(file2D && file2D->width == kLineWidth && file2D->height == kImageRows) << *still2D;
    const Rect toolbar{0, 0, 200, 50};  // view coordinates
    const int block = kPicture2D.Width() / kLineWidth;
    int different3D = 0;
    int compared3D = 0;
    double meanDifference2D = 0.0;
    EXPECT_TRUE(Eventually([&] {
        const Screenshot screen = Capture("03-exported");
        different3D = compared3D = 0;
        for (int y = 0; y < file3D->height; ++y) {
            for (int x = 0; x < file3D->width; ++x) {
                if (toolbar.Contains(x, y)) continue;
                ++compared3D;
                different3D += !(file3D->At(x, y) == screen.At(kLayout.view3D.left + x, kLayout.view3D.top + y));
            }
        }
        long long sum = 0;
        for (int y = 0; y < file2D->height; ++y) {
            for (int x = 0; x < file2D->width; ++x) {
                const Rgb stored = file2D->At(x, y);
                const Rgb shown = screen.At(kPicture2D.left + x * block + block / 2, kPicture2D.top + y * block + block / 2);
                sum += std::abs(stored.r - shown.r) + std::abs(stored.g - shown.g) + std::abs(stored.b - shown.b);
            }
        }
        meanDifference2D = static_cast<double>(sum) / (3.0 * kLineWidth * kImageRows);
        return different3D == 0 && meanDifference2D < 4.0;
    })) << different3D << " of " << compared3D << " pixels of the 3D file differ from the screen; the 2D file by "
        << meanDifference2D << " levels on average";
    EXPECT_EQ(CloseStudio(), 0);
    const std::string log = Log();
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
}

}  // namespace
