// The QPC converters and the folder driver: CSV and PCD headers and values, frames with
// some coloured lines, malformed lines, the driver's order, counts, progress and cancel, and
// frame files whose names are as long as a name may be.
#include "sessions/Converters.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/ConverterPanel.h"
#include "sessions/PlyFile.h"

namespace orbel::studio {
namespace {

using testing::Concatenate;
using testing::FrameLines;
using testing::PointCloudPayloadBuilder;
using testing::ProgramLogCapture;
using testing::ReadBytes;
using testing::WriteBytes;
using testing::WriteQpc;
namespace fs = std::filesystem;

class Converters : public testing::ScratchFolder {};

std::vector<std::string> TextLines(const fs::path& path) {
    const auto bytes = ReadBytes(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

TEST_F(Converters, CsvHeaderAndRows) {
    const fs::path qpc = WriteQpc(root_ / "frame_00000007.qpc", 0x66, 2, 7);
    ASSERT_TRUE(QPC2CSV(qpc, root_ / "out.csv", false));
    const auto lines = TextLines(root_ / "out.csv");
    ASSERT_EQ(lines.size(), 3u + 112);
    EXPECT_EQ(lines[0], "# frameNumber=7");
    EXPECT_EQ(lines[1], "# timestamp_us=5000");  // line 0's alternate time stamp
    EXPECT_EQ(lines[2], "x_mm,y_mm,z_mm,reflectivity,ambient,confidence,distance_mm,red,green,blue");
    // Point 3: x 0.5*3-7, y -0.25*3+3, z 2*3+0.125, reflectivity 3/4, ambient 40003,
    // confidence 0x01000000 + 51 (exact, not 1.67772e+07), distance 1003, colour 10,17,24.
    EXPECT_EQ(lines[3 + 3], "-5.5,2.25,6.125,0.75,40003,16777267,1003,10,17,24");

    const fs::path plain = WriteQpc(root_ / "plain.qpc", 0x60, 2, 7);
    ASSERT_TRUE(QPC2CSV(plain, root_ / "plain.csv", false));
    EXPECT_EQ(TextLines(root_ / "plain.csv")[2], "x_mm,y_mm,z_mm,reflectivity,ambient,confidence,distance_mm");
    EXPECT_EQ(TextLines(root_ / "plain.csv")[3], "-7,3,0.125,0,40000,16777216,1000");
}

TEST_F(Converters, PcdHeaderAndBinaryRecords) {
    const fs::path qpc = WriteQpc(root_ / "frame_00000009.qpc", 0x66, 2, 9);
    ASSERT_TRUE(QPC2PCD(qpc, root_ / "out.pcd", false));
    const auto bytes = ReadBytes(root_ / "out.pcd");
    const std::string header =
        "# .PCD v0.7 - Point Cloud Data file\n# frameNumber 9\n# timestamp_us 5000\nVERSION 0.7\n"
        "FIELDS x y z rgb intensity\nSIZE 4 4 4 4 4\nTYPE F F F F F\nCOUNT 1 1 1 1 1\nWIDTH 112\nHEIGHT 1\n"
        "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 112\nDATA binary\n";
    ASSERT_EQ(bytes.size(), header.size() + 112 * 20);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
    const auto point = PointCloudPayloadBuilder::DefaultPoint(5);
    const uint8_t* record = bytes.data() + header.size() + 5 * 20;
    float x, intensity;
    uint32_t rgb;
    std::memcpy(&x, record, 4);
    std::memcpy(&rgb, record + 12, 4);
    std::memcpy(&intensity, record + 16, 4);
    EXPECT_EQ(x, point.x);
    EXPECT_EQ(rgb, uint32_t{point.red} << 16 | uint32_t{point.green} << 8 | point.blue);
    EXPECT_EQ(intensity, point.reflectivity);

    ASSERT_TRUE(QPC2PCD(WriteQpc(root_ / "plain.qpc", 0x60, 2), root_ / "plain.pcd", false));
    const auto plain = ReadBytes(root_ / "plain.pcd");
    EXPECT_NE(std::string(plain.begin(), plain.end()).find("FIELDS x y z intensity\nSIZE 4 4 4 4\n"), std::string::npos);
}

TEST_F(Converters, PartlyColouredFramesGiveEveryPointAColour) {
    auto lines = FrameLines(0x60, 2);
    const auto coloured = FrameLines(0x66, 2);
    for (size_t i = 1; i < 56; i += 2) lines[i] = coloured[i];
    // Sizes differ per line here, so the lines are cut at the file's fixed size: pad them.
    const size_t size = coloured[0].size();
    for (auto& line : lines) line.resize(size, 0);
    WriteBytes(root_ / "mixed.qpc", Concatenate(lines));

    ASSERT_TRUE(QPC2CSV(root_ / "mixed.qpc", root_ / "mixed.csv", false));
    const auto rows = TextLines(root_ / "mixed.csv");
    ASSERT_EQ(rows.size(), 3u + 112);
    for (size_t i = 3; i < rows.size(); ++i) {
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), 9) << rows[i];
    }
    EXPECT_TRUE(rows[3].ends_with(",0,0,0"));           // line 0: no colour
    EXPECT_TRUE(rows[3 + 2].ends_with(",7,12,17")) << rows[5];  // line 1, point 2

    ASSERT_TRUE(QPC2PCD(root_ / "mixed.qpc", root_ / "mixed.pcd", false));
    const auto pcd = ReadBytes(root_ / "mixed.pcd");
    const std::string pcdText(pcd.begin(), pcd.end());
    EXPECT_NE(pcdText.find("FIELDS x y z rgb intensity\n"), std::string::npos);
    EXPECT_EQ(pcd.size() - (pcdText.find("DATA binary\n") + 12), 112u * 20);
    ASSERT_TRUE(QPC2PLY(root_ / "mixed.qpc", root_ / "mixed.ply", false));
    EXPECT_EQ(ReadPly(root_ / "mixed.ply")->rgb.size(), 3u * 112);
}

TEST_F(Converters, AMalformedLineFailsPlyAndPcdButNotCsv) {
    auto lines = FrameLines(0x60, 2);
    lines[2][3] = 99;  // metadata version
    WriteBytes(root_ / "bad.qpc", Concatenate(lines));
    ProgramLogCapture log;
    EXPECT_TRUE(QPC2CSV(root_ / "bad.qpc", root_ / "bad.csv", false));
    EXPECT_EQ(TextLines(root_ / "bad.csv").size(), 3u + 110);
    EXPECT_EQ(log.Count("[QPC2CSV] Deserialize error: ", spdlog::level::err), 1u);
    EXPECT_FALSE(QPC2PLY(root_ / "bad.qpc", root_ / "bad.ply", false));
    EXPECT_FALSE(QPC2PCD(root_ / "bad.qpc", root_ / "bad.pcd", false));
    EXPECT_FALSE(fs::exists(root_ / "bad.ply"));
    EXPECT_FALSE(fs::exists(root_ / "bad.pcd"));
    EXPECT_EQ(log.Count("Skipping file...", spdlog::level::warn), 2u);

    EXPECT_FALSE(QPC2CSV(root_ / "none.qpc", root_ / "none.csv", false));
    EXPECT_TRUE(log.Contains("[QPC2CSV] Error opening " + (root_ / "none.qpc").string(), spdlog::level::err));
}

TEST_F(Converters, FolderConversionInFrameOrderWithProgressAndCounts) {
    const fs::path input = root_ / "session";
    WriteQpc(input / "frames_qpc" / "frame_00000010.qpc", 0x60, 2, 10);
    WriteQpc(input / "frames_qpc" / "frame_00000002.qpc", 0x60, 2, 2);
    WriteQpc(input / "frames_qpc" / "old" / "frame_00000005.qpc", 0x60, 2, 5);
    WriteBytes(input / "frames_qpc" / "frame_00000003.qpc", {1, 2, 3});
    WriteQpc(input / "frames_qpc" / "stray.qpc", 0x60, 2, 1);

    std::vector<std::pair<size_t, size_t>> progress;
    const auto result = ConvertFolder(std::make_shared<std::atomic<bool>>(false), input, root_ / "out", FileType::Ply,
                                      [&](size_t done, size_t total) { progress.emplace_back(done, total); });
    EXPECT_EQ(result.total, 5u);
    EXPECT_EQ(result.converted, 4u);
    EXPECT_EQ(result.failed, 1u);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(progress, (std::vector<std::pair<size_t, size_t>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
    EXPECT_EQ(ReadPly(root_ / "out" / "frames_ply" / "frame_00000005.ply")->frameNumber, 5);
    EXPECT_TRUE(fs::exists(root_ / "out" / "frames_ply" / "stray.ply"));
}

// Which file is converted when: numbered frames in number order (0 included), then the
// files whose names carry no number ("stray.qpc" has no "_", "frame_abc.qpc" no digits) by path.
TEST_F(Converters, FilesWithoutANumberAreConvertedAfterTheNumberedOnes) {
    const fs::path input = root_ / "in";
    for (const char* name : {"stray.qpc", "frame_00000010.qpc", "frame_abc.qpc", "frame_00000002.qpc",
                             "frame_00000000.qpc", "a_scan.qpc"}) {
        WriteQpc(input / name, 0x60, 2, 1);
    }
    const fs::path folder = root_ / "out" / "frames_csv";
    std::vector<std::string> order;
    ConvertFolder(std::make_shared<std::atomic<bool>>(false), input, root_ / "out", FileType::Csv,
                  [&](size_t, size_t) {
                      for (const auto& entry : fs::directory_iterator(folder)) {
                          const std::string name = entry.path().filename();
                          if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
                      }
                  });
    EXPECT_EQ(order, (std::vector<std::string>{"frame_00000000.csv", "frame_00000002.csv", "frame_00000010.csv",
                                               "a_scan.csv", "frame_abc.csv", "stray.csv"}));
}

TEST_F(Converters, CancelStopsBetweenFiles) {
    for (uint32_t frame = 1; frame <= 6; ++frame) {
        WriteQpc(root_ / "in" / ("frame_0000000" + std::to_string(frame) + ".qpc"), 0x60, 2, frame);
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    const auto result = ConvertFolder(cancel, root_ / "in", root_ / "out", FileType::Csv, [&](size_t done, size_t) {
        if (done == 3) cancel->store(true);
    });
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.converted, 3u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "out" / "frames_csv")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame_00000001.csv", "frame_00000002.csv", "frame_00000003.csv"}));
}

TEST_F(Converters, DriverRefusals) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    fs::create_directories(root_ / "empty");
    const auto message = [&](FileType type, const fs::path& input) -> std::string {
        try {
            ConvertFolder(cancel, input, root_ / "out", type, {});
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(nothing thrown)";
    };
    EXPECT_EQ(message(FileType::Png, root_ / "empty"), "Unsupported output format: png");
    EXPECT_EQ(message(FileType::Pcd, root_ / "empty"), "No QPC files found");

    // An output name that leads back to the input is refused; the input stays as it was.
    const fs::path qpc = WriteQpc(root_ / "in" / "frame_00000001.qpc", 0x60, 2, 1);
    const auto before = ReadBytes(qpc);
    fs::create_directories(root_ / "in" / "frames_pcd");
    fs::create_symlink(qpc, root_ / "in" / "frames_pcd" / "frame_00000001.pcd");
    ProgramLogCapture log;
    const auto result = ConvertFolder(cancel, root_ / "in", root_ / "in", FileType::Pcd, {});
    EXPECT_EQ(result.failed, 1u);
    EXPECT_EQ(result.converted, 0u);
    EXPECT_EQ(ReadBytes(qpc), before);
    EXPECT_EQ(log.Count("[Converter] Refusing to write over the input file", spdlog::level::err), 1u);
}

// A frame file whose name takes all 255 bytes a name may have converts in every format, as
// the converter panel runs it.
TEST_F(Converters, NamesAsLongAsTheLimitConvert) {
    const std::string stem = "frame_00000001_" + std::string(255 - 15 - 4, 'x');
    WriteQpc(root_ / "in" / (stem + ".qpc"), 0x60, 2, 1);
    ASSERT_EQ((stem + ".qpc").size(), 255u);
    const char* extensions[] = {"ply", "pcd", "csv"};
    for (int format = 0; format < 3; ++format) {
        SCOPED_TRACE(extensions[format]);
        ProgramLogCapture log;
        auto state = std::make_shared<gui::AppState>();
        gui::RunConversion(state, std::make_shared<std::atomic<bool>>(false), root_ / "in", root_ / "out", format);
        ASSERT_TRUE(state->PendingToast().has_value());
        EXPECT_EQ(state->PendingToast()->text, "Conversion completed");
        const fs::path folder = root_ / "out" / (std::string("frames_") + extensions[format]);
        EXPECT_TRUE(fs::exists(folder / (stem + "." + extensions[format])));
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    }
}

}  // namespace
}  // namespace orbel::studio
