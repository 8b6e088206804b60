// The JPEG writer: rows per libjpeg call, sampling factors and colours read
// back from the written file, the open failure, and that no failed write
// leaves a file behind.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "sdk/utilities/JpegTestFile.h"
#include "support/LogCapture.h"
#include "utilities/LibJpegTurboWrapper.h"

namespace {

using orbel::testing::DecodeJpegFile;
using orbel::testing::TempFolder;
using orbel::utilities::LibJpegTurboWrapper;
using orbel::utilities::RGB8Image;

std::vector<uint8_t> SolidRGB(uint32_t width, uint32_t height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t{width} * height * 3);
    for (size_t i = 0; i < size_t{width} * height; ++i) rgb.insert(rgb.end(), {r, g, b});
    return rgb;
}

std::vector<uint8_t> NoiseRGB(uint32_t width, uint32_t height) {
    std::mt19937 random(7);
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (auto& v : rgb) v = static_cast<uint8_t>(random());
    return rgb;
}

TEST(LibJpegTurboWrapper, RowsPerWriteCall) {
    const std::pair<uint32_t, uint32_t> cases[] = {{2160, 1080}, {1080, 1080}, {0, 1080},  {1200, 16},
                                                   {1201, 1},    {600, 8},     {1024, 1024}, {3072, 1024},
                                                   {2, 2},       {1, 1},       {3, 1}};
    for (const auto& [height, rows] : cases) {
        EXPECT_EQ(LibJpegTurboWrapper::RowsPerWriteCall(height), rows) << "height " << height;
    }
}

class JpegWrite : public ::testing::Test {
protected:
    TempFolder folder_;
};

TEST_F(JpegWrite, SamplingFollowsSubsampleAndColoursSurvive) {
    // 1201 rows go one per call, 1200 sixteen per call: both must reach the file whole.
    for (uint32_t height : {48u, 1201u}) {
        const uint32_t width = 40;
        const auto rgb = SolidRGB(width, height, 200, 30, 90);
        for (bool subsample : {false, true}) {
            SCOPED_TRACE("height " + std::to_string(height) + " subsample " + std::to_string(subsample));
            const auto path = folder_ / "out.jpg";
            EXPECT_TRUE(LibJpegTurboWrapper::SaveImageAsRGB8({width, height, rgb.data()}, path, 90, subsample));
            const auto decoded = DecodeJpegFile(path);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->width, width);
            EXPECT_EQ(decoded->height, height);
            ASSERT_EQ(decoded->components, 3);
            const int luma = subsample ? 2 : 1;
            EXPECT_EQ(decoded->sampling, (std::vector<std::pair<int, int>>{{luma, luma}, {1, 1}, {1, 1}}));
            EXPECT_LE(orbel::testing::MaxColourError(*decoded, 200, 30, 90), 4);
        }
    }
}

TEST_F(JpegWrite, RowsKeepTheirOrder) {
    // Top half red, bottom half blue, over several write calls (600 rows: 8 per call).
    const uint32_t width = 16, height = 600;
    std::vector<uint8_t> rgb = SolidRGB(width, height / 2, 250, 0, 0);
    const auto blue = SolidRGB(width, height / 2, 0, 0, 250);
    rgb.insert(rgb.end(), blue.begin(), blue.end());
    const auto path = folder_ / "halves.jpg";
    LibJpegTurboWrapper::SaveImageAsRGB8({width, height, rgb.data()}, path, 95, false);
    const auto decoded = DecodeJpegFile(path);
    ASSERT_TRUE(decoded);
    const uint8_t* top = &decoded->rgb[(size_t{10} * width) * 3];
    const uint8_t* bottom = &decoded->rgb[(size_t{590} * width) * 3];
    EXPECT_GT(top[0], 240);
    EXPECT_LT(top[2], 10);
    EXPECT_LT(bottom[0], 10);
    EXPECT_GT(bottom[2], 240);
}

TEST_F(JpegWrite, QualityReachesTheEncoder) {
    const auto rgb = NoiseRGB(64, 64);
    const auto low = folder_ / "low.jpg";
    const auto high = folder_ / "high.jpg";
    LibJpegTurboWrapper::SaveImageAsRGB8({64, 64, rgb.data()}, low, 10, true);
    LibJpegTurboWrapper::SaveImageAsRGB8({64, 64, rgb.data()}, high, 95, true);
    EXPECT_LT(std::filesystem::file_size(low) * 2, std::filesystem::file_size(high));
}

TEST_F(JpegWrite, NonAsciiPathIsOpenedAsItsNativeName) {
    const auto rgb = SolidRGB(8, 8, 1, 2, 3);
    const auto path = folder_ / std::filesystem::path(u8"bild_\u00e4\u4e2d.jpg");
    LibJpegTurboWrapper::SaveImageAsRGB8({8, 8, rgb.data()}, path, 90, true);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

TEST_F(JpegWrite, MissingFolderThrowsAndWritesNothing) {
    const auto rgb = SolidRGB(8, 8, 1, 2, 3);
    const auto path = folder_ / "absent" / "out.jpg";
    try {
        LibJpegTurboWrapper::SaveImageAsRGB8({8, 8, rgb.data()}, path, 90, true);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not write to file. Failed to open file.");
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "absent"));
}

TEST_F(JpegWrite, LibjpegErrorIsLoggedThrownAndLeavesNoFile) {
    orbel::testing::LogCapture log;
    const auto rgb = SolidRGB(8, 8, 1, 2, 3);
    const auto path = folder_ / "empty.jpg";
    try {
        // libjpeg refuses an image without rows once the file is open.
        LibJpegTurboWrapper::SaveImageAsRGB8({8, 0, rgb.data()}, path, 90, true);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error in libjpeg");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].first, orbel::sdk::Severity::ERROR);
    EXPECT_EQ(records[0].second.rfind(L"Error in libJpeg.Empty JPEG image", 0), 0u) << records[0].second;
}

// A write that fails half-way (here: the file-size limit) must not leave the
// partial file. Runs in a child process so the limit stays there.
TEST_F(JpegWrite, FailedWriteHalfWayLeavesNoPartialFile) {
    const auto rgb = NoiseRGB(256, 256);
    const auto path = folder_ / "partial.jpg";
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int code = 0;
        try {
            LibJpegTurboWrapper::SaveImageAsRGB8({256, 256, rgb.data()}, path, 95, false);
            code = 2;  // the limit did not bite
        } catch (const std::runtime_error& e) {
            code = std::string(e.what()) == "Error in libjpeg" ? 0 : 3;
        }
        if (code == 0 && std::filesystem::exists(path)) code = 4;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: write succeeded, 3: other error, 4: partial file left";
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
