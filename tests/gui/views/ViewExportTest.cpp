// Where the views' PNG exports go and how their rows are written: the first folder that
// can be made and written to, the fallback when it cannot, a failure when none can, the
// file name, and rows turned top-down.
#include "views/ViewExport.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orbel::studio::gui {
namespace {

namespace fs = std::filesystem;

class ViewExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("orbel-export-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        // A plain file where a folder would have to be: nothing can be created under it,
        // whoever runs the test (permissions do not stop root).
        std::ofstream(root_ / "a-file") << "x";
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(ViewExportTest, TakesTheFirstFolderThatCanBeMadeAndWritten) {
    const ExportFolder first = ChooseExportFolder({root_ / "beside" / "screenshots", root_ / "appdata" / "screenshots"});
    EXPECT_EQ(first.folder, root_ / "beside" / "screenshots");
    EXPECT_FALSE(first.fallback);
    EXPECT_TRUE(fs::is_directory(first.folder));
    EXPECT_TRUE(fs::is_empty(first.folder));  // the write probe is gone

    const ExportFolder fallback = ChooseExportFolder({root_ / "a-file" / "screenshots", root_ / "appdata" / "screenshots"});
    EXPECT_EQ(fallback.folder, root_ / "appdata" / "screenshots");
    EXPECT_TRUE(fallback.fallback);
    EXPECT_NE(fallback.whyNotFirst.find("a-file"), std::string::npos);

    // A file in the folder's place is no folder either.
    const ExportFolder notAFolder = ChooseExportFolder({root_ / "a-file", root_ / "other"});
    EXPECT_EQ(notAFolder.folder, root_ / "other");
}

TEST_F(ViewExportTest, NoUsableFolderIsAFilesystemError) {
    try {
        ChooseExportFolder({root_ / "a-file" / "one", root_ / "a-file" / "two"});
        FAIL() << "no folder could be made";
    } catch (const fs::filesystem_error& e) {
        EXPECT_NE(std::string(e.what()).find("create_directory"), std::string::npos);
        EXPECT_EQ(e.path1(), root_ / "a-file" / "two");
    }
    EXPECT_THROW(ChooseExportFolder({}), fs::filesystem_error);
}

TEST_F(ViewExportTest, FileNamesCarryTheTimeAndTheViewsName) {
    const fs::path path = ExportFilePath(ExportFolder{root_, false, {}}, "3d");
    EXPECT_EQ(path.parent_path(), root_);
    // "YY-MM-DD-HH-MM-SS_3d.png"
    const std::string name = path.filename().string();
    ASSERT_EQ(name.size(), 24u) << name;
    for (std::size_t i = 0; i < 17; ++i) {
        EXPECT_TRUE(i % 3 == 2 ? name[i] == '-' : std::isdigit(static_cast<unsigned char>(name[i]))) << name;
    }
    EXPECT_EQ(name.substr(17), "_3d.png");

    // Within one second the next exports take the following free names.
    const std::time_t second = std::time(nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        const fs::path next = ExportFilePath(ExportFolder{root_, false, {}}, "2d", second);
        std::ofstream(next) << i;
        names.push_back(next.filename().string());
    }
    const std::string stem = names[0].substr(0, 20);
    EXPECT_EQ(names, (std::vector<std::string>{stem + ".png", stem + "_1.png", stem + "_2.png"}));
}

TEST_F(ViewExportTest, RowsAreWrittenTopFirstAndFailuresAreReported) {
    // Two rows of three RGB pixels, bottom row first: the PNG's top row is the second.
    const std::vector<uint8_t> bottomUp{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const fs::path path = root_ / "rows.png";
    ASSERT_TRUE(WritePngBottomUp(path, 3, 2, 3, bottomUp));
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    const std::vector<uint8_t> decoded(pixels, pixels + 18);
    stbi_image_free(pixels);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(decoded, (std::vector<uint8_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

    EXPECT_FALSE(WritePngBottomUp(root_ / "a-file" / "x.png", 3, 2, 3, bottomUp));
    EXPECT_FALSE(WritePngBottomUp(root_ / "short.png", 3, 3, 3, bottomUp));  // too few bytes
    EXPECT_FALSE(WritePngBottomUp(root_ / "empty.png", 0, 2, 3, bottomUp));
}

}  // namespace
}  // namespace orbel::studio::gui
