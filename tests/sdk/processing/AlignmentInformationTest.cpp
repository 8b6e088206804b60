// Reading the QEXT alignment file: the values of a valid file, and every file that
// cannot describe an alignment refused with the file's name and no change.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <limits>
#include <stdexcept>

#include <orbel/processing/AlignmentInformation.h>
#include <orbel/processing/Colorizer.h>

#include "sdk/processing/ProcessingFixtures.h"
#include "support/QextBytes.h"

namespace {

using orbel::processing::AlignmentInformation;
using orbel::testing::QextBytes;
using orbel::testing::TempFile;

// R identity, T (100, 0, -50), k1 -0.1, k2 0.01, fx 1000, fy 1000, cx 960, cy 600.
std::vector<float> ExampleValues() {
    return {1, 0, 0, 0, 1, 0, 0, 0, 1, 100, 0, -50, -0.1f, 0.01f, 1000, 1000, 960, 600};
}

// An alignment unlike the defaults and unlike the example, to see that a refusal changes nothing.
AlignmentInformation Sentinel() {
    AlignmentInformation a;
    a.rotation = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    a.translation = {1, 2, 3};
    a.k1 = 0.5f;
    a.fx = 7;
    a.cy = 9;
    return a;
}

TEST(QextFile, ReadsEveryValueInOrderAndIgnoresTrailingBytes) {
    std::vector<uint8_t> bytes = QextBytes(ExampleValues());
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});  // a NaN after byte 72 is not read
    TempFile file(bytes);

    AlignmentInformation a;
    a.ReadFromQext(file.Path());

    EXPECT_EQ(a.rotation, (std::array<float, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(a.translation, (std::array<float, 3>{100, 0, -50}));
    EXPECT_EQ(a.k1, -0.1f);
    EXPECT_EQ(a.k2, 0.01f);
    EXPECT_EQ(a.fx, 1000.0f);
    EXPECT_EQ(a.fy, 1000.0f);
    EXPECT_EQ(a.cx, 960.0f);
    EXPECT_EQ(a.cy, 600.0f);
}

TEST(QextFile, DefaultsAreTheIdentityPinhole) {
    const AlignmentInformation a;
    EXPECT_EQ(a.rotation, (std::array<float, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(a.translation, (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(a.k1, 0);
    EXPECT_EQ(a.k2, 0);
    EXPECT_EQ(a.fx, 1);
    EXPECT_EQ(a.fy, 1);
    EXPECT_EQ(a.cx, 0);
    EXPECT_EQ(a.cy, 0);
}

struct RefusedFile {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;  // a fragment of the message, besides the file's name
};
void PrintTo(const RefusedFile& c, std::ostream* os) { *os << c.name; }

std::vector<RefusedFile> RefusedFiles() {
    auto with = [](size_t index, float value) {
        std::vector<float> values = ExampleValues();
        values[index] = value;
        return QextBytes(values);
    };
    std::vector<uint8_t> fifty = QextBytes(ExampleValues());
    fifty.resize(50);
    std::vector<uint8_t> seventyOne = QextBytes(ExampleValues());
    seventyOne.resize(71);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    return {
        {"Empty", {}, "holds 0 bytes; an alignment needs 72"},
        {"EndsInsideK1", fifty, "holds 50 bytes"},
        {"OneByteShort", seventyOne, "holds 71 bytes"},
        {"NaNRotation", with(4, nan), "not a finite number (R11)"},
        {"InfiniteTranslation", with(9, inf), "not a finite number (T0)"},
        {"NegativeInfiniteK2", with(13, -inf), "not a finite number (k2)"},
        {"NaNPrincipalPoint", with(17, nan), "not a finite number (cy)"},
        {"ZeroFocalLength", with(14, 0.0f), "focal length that is not positive"},
        {"NegativeFocalLength", with(15, -1000.0f), "focal length that is not positive"},
    };
}

class QextRefused : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(QextRefused, NamesTheFileAndChangesNothing) {
    TempFile file(GetParam().bytes);
    AlignmentInformation a = Sentinel();
    try {
        a.ReadFromQext(file.Path());
        FAIL() << "accepted";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(file.Path()), std::string::npos) << text;
        EXPECT_NE(text.find(GetParam().reason), std::string::npos) << text;
    }
    EXPECT_EQ(a, Sentinel());
}

INSTANTIATE_TEST_SUITE_P(Files, QextRefused, ::testing::ValuesIn(RefusedFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

// A FIFO is refused before it is opened: opening one without a writer waits for ever.
TEST(QextFile, PathsThatCannotBeOpenedThrowCannotOpen) {
    const std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / ("orbel-qext-" + std::to_string(::getpid()) + ".fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/nonexistent/orbel/alignment.qext"),
                                   std::filesystem::temp_directory_path().string(), fifo.string(),
                                   std::string("/dev/zero")}) {
        AlignmentInformation a = Sentinel();
        try {
            a.ReadFromQext(path);
            FAIL() << path;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Cannot open qext file") << path;
        }
        EXPECT_EQ(a, Sentinel());
    }
    std::filesystem::remove(fifo);
}

TEST(QextFile, ColorizerPassesTheOpenFailureOn) {
    auto colorizer = orbel::processing::ColorizerFactory::CreateColorizer({250000, 25000, 560});
    EXPECT_THROW(colorizer->InitializeFromQext("/nonexistent/orbel/alignment.qext"), std::runtime_error);
}

}  // namespace
