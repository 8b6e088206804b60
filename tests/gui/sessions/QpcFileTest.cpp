// QPC frame files: round trips of the three point types at the sizes a 192-point frame has,
// the merged-cloud reader and writer, the recorded-batch writer's normalisation, and a table
// of damaged and hostile files that every reader refuses with one log line.
#include "sessions/QpcFile.h"

#include <unistd.h>

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"

namespace orbel::studio {
namespace {

using testing::Clouds;
using testing::Concatenate;
using testing::FrameLines;
using testing::PointCloudPayloadBuilder;
using testing::ProgramLogCapture;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

class QpcFile : public testing::ScratchFolder {};

struct TypeCase {
    uint8_t type;
    size_t fileBytes;
    bool coloured;
};

TEST_F(QpcFile, RecordedFramesRoundTripAtTheirSizes) {
    const TypeCase cases[] = {{0x60, 294'392, false}, {0x66, 326'648, true}, {0x6F, 756'728, true}};
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.type);
        const auto payloads = FrameLines(c.type, 192);
        auto lines = Clouds(payloads);
        std::reverse(lines.begin(), lines.end());  // the writer puts them in line-index order
        const fs::path path = root_ / "frame_00000007.qpc";
        WriteQpcLines(path, lines);
        ASSERT_EQ(fs::file_size(path), c.fileBytes);
        EXPECT_EQ(ReadBytes(path), Concatenate(payloads));

        const auto frame = ReadQpcFrame(path, false);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->sourceName, "frame_00000007.qpc");
        EXPECT_FALSE(frame->inMetres);
        EXPECT_EQ(frame->frameNumber, 7);  // as a live frame: line 0's number, 56 lines of its points
        EXPECT_EQ(frame->height, 56u);
        EXPECT_EQ(frame->width, 192u);
        ASSERT_EQ(frame->xyz.size(), 3u * 56 * 192);
        ASSERT_EQ(frame->timestamps.size(), 56u * 192);
        EXPECT_EQ(frame->rgb.size(), c.coloured ? 3u * 56 * 192 : 0u);
        for (uint32_t i : {0u, 191u, 192u, 10751u}) {
            const auto expected = PointCloudPayloadBuilder::DefaultPoint(i);
            EXPECT_EQ(frame->xyz[3 * i], expected.x) << i;
            EXPECT_EQ(frame->xyz[3 * i + 1], expected.y) << i;
            EXPECT_EQ(frame->xyz[3 * i + 2], expected.z) << i;
            EXPECT_EQ(frame->signal[i], expected.reflectivity) << i;
            EXPECT_EQ(frame->ambient[i], static_cast<float>(expected.ambient)) << i;
            EXPECT_EQ(frame->timestamps[i], 1000u + i / 192) << i;
            if (c.coloured) {
                EXPECT_EQ(frame->rgb[3 * i], expected.red) << i;
                EXPECT_EQ(frame->rgb[3 * i + 2], expected.blue) << i;
            }
        }

        const auto merged = ReadQpcPointCloud(path);
        ASSERT_NE(merged, nullptr);
        ASSERT_EQ(merged->GetPointCount(), 56u * 192);
        EXPECT_EQ(merged->GetConfidence()[10751], PointCloudPayloadBuilder::DefaultPoint(10751).confidence);
        EXPECT_EQ(merged->GetDistance()[193], PointCloudPayloadBuilder::DefaultPoint(193).distance);
        EXPECT_EQ(HasPerPointColours(*merged), c.coloured);
    }
}

TEST_F(QpcFile, MetresScaleOnlyTheCoordinatesAndTheRemainderIsIgnored) {
    auto bytes = Concatenate(FrameLines(0x60, 4));
    bytes.insert(bytes.end(), {1, 2, 3});
    const fs::path path = root_ / "frame.qpc";
    WriteBytes(path, bytes);

    const auto frame = ReadQpcFrame(path, true);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->inMetres);
    const auto point = PointCloudPayloadBuilder::DefaultPoint(5);
    EXPECT_FLOAT_EQ(frame->xyz[15], point.x * 0.001f);
    EXPECT_FLOAT_EQ(frame->xyz[17], point.z * 0.001f);
    EXPECT_EQ(frame->signal[5], point.reflectivity);
    EXPECT_EQ(frame->ambient[5], static_cast<float>(point.ambient));
    EXPECT_TRUE(frame->rgb.empty());
    EXPECT_EQ(std::vector<uint64_t>(frame->timestamps.begin(), frame->timestamps.begin() + 5),
              (std::vector<uint64_t>{1000, 1000, 1000, 1000, 1001}));
}

TEST_F(QpcFile, MixedKindsOfLinesAreWrittenAsOneKindWithoutLosingValues) {
    // The live colorizer colours the lines it could match; the others stay plain.
    auto payloads = FrameLines(0x60, 192);
    const auto coloured = FrameLines(0x66, 192);
    for (size_t i = 28; i < 56; ++i) payloads[i] = coloured[i];
    payloads[3].resize(payloads[3].size() + 5, 0xAB);  // bytes after the points are carried
    auto lines = Clouds(payloads);
    const fs::path path = root_ / "mixed.qpc";
    WriteQpcLines(path, lines);

    EXPECT_EQ(fs::file_size(path), 56u * (5833 + 5));
    const auto frame = ReadQpcFrame(path, false);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->rgb.size(), 3u * 56 * 192);
    EXPECT_EQ(frame->rgb[0], 0);  // line 0 had no colour
    const auto point = PointCloudPayloadBuilder::DefaultPoint(30 * 192 + 4);
    EXPECT_EQ(frame->rgb[3 * (30 * 192 + 4)], point.red);
    EXPECT_EQ(frame->ambient[30 * 192 + 4], static_cast<float>(point.ambient));
    EXPECT_EQ(frame->ambient[2 * 192 + 1], static_cast<float>(PointCloudPayloadBuilder::DefaultPoint(2 * 192 + 1).ambient));
    const auto merged = ReadQpcPointCloud(path);
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->GetConfidence()[2 * 192 + 1], PointCloudPayloadBuilder::DefaultPoint(2 * 192 + 1).confidence);
}

TEST_F(QpcFile, BatchesThatAreNotOneFrameAreNamed) {
    EXPECT_EQ(QpcBatchProblem(Clouds(FrameLines(0x60, 4, 7, 55))), "the frame has 55 lines, a QPC file holds 56");
    auto payloads = FrameLines(0x60, 4);
    payloads[9] = PointCloudPayloadBuilder().PointCount(3).LineIndex(9).Build();
    auto lines = Clouds(payloads);
    EXPECT_EQ(QpcBatchProblem(lines), "line 9 has 3 points, line 0 has 4");
    EXPECT_THROW(WriteQpcLines(root_ / "x.qpc", lines), std::runtime_error);
    EXPECT_FALSE(fs::exists(root_ / "x.qpc"));
}

TEST_F(QpcFile, MergedFrameWritesBackAsFiftySixLines) {
    for (const bool coloured : {false, true}) {
        SCOPED_TRACE(coloured);
        const auto payloads = FrameLines(coloured ? 0x66 : 0x60, 192, 12);
        auto merged = AssembleFramePointCloud(payloads);
        ASSERT_NE(merged, nullptr);
        const fs::path path = root_ / "out.qpc";
        ASSERT_TRUE(WriteQpcFrame(path, *merged));
        const auto bytes = ReadBytes(path);
        const size_t line = coloured ? 5833 : 5257;
        ASSERT_EQ(bytes.size(), 56 * line);
        for (size_t i = 0; i < 56; ++i) {
            EXPECT_EQ(bytes[i * line + 17], i);
            // All parts carry line 0's metadata apart from the line index.
            EXPECT_EQ(std::memcmp(bytes.data() + i * line + 18, payloads[0].data() + 18, 255 - 18), 0) << i;
        }
        const auto back = ReadQpcPointCloud(path);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->GetX(), merged->GetX());
        EXPECT_EQ(back->GetReflectivity(), merged->GetReflectivity());
        EXPECT_EQ(back->GetConfidence(), merged->GetConfidence());
        EXPECT_EQ(back->GetColors(), merged->GetColors());
    }
}

TEST_F(QpcFile, WriteQpcFrameRefusesAnyOtherPointCountAndLeavesNoFile) {
    ProgramLogCapture log;
    auto cloud = testing::Cloud(PointCloudPayloadBuilder().PointCount(10751).Build());
    EXPECT_FALSE(WriteQpcFrame(root_ / "short.qpc", *cloud));
    EXPECT_FALSE(fs::exists(root_ / "short.qpc"));
    EXPECT_TRUE(log.Contains("[QPC] Unexpected point count: 10751, expected 10752", spdlog::level::err));

    auto full = AssembleFramePointCloud(FrameLines(0x60, 192));
    EXPECT_FALSE(WriteQpcFrame(root_ / "missing" / "out.qpc", *full));
    EXPECT_TRUE(log.Contains("[QPC] Failed to open " + (root_ / "missing" / "out.qpc").string(), spdlog::level::err));
}

TEST_F(QpcFile, ExtendedLinesMergeIntoAColouredCloudWithZeroTail) {
    auto merged = AssembleFramePointCloud(FrameLines(0x6F, 3, 1, 4));
    ASSERT_NE(merged, nullptr);
    const auto& bytes = merged->Serialize();
    EXPECT_EQ(bytes[264], 0x66);
    ASSERT_EQ(bytes.size(), 265u + 12 * 69);
    EXPECT_TRUE(std::all_of(bytes.end() - 40 * 12, bytes.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(merged->GetColors()[11].g, PointCloudPayloadBuilder::DefaultPoint(11).green);
    EXPECT_EQ(AssembleFramePointCloud({}), nullptr);
}

TEST(QpcLines, AssemblyRefusesLinesThatDifferFromLineZero) {
    auto lines = FrameLines(0x60, 10, 1, 3);
    lines[2] = PointCloudPayloadBuilder().PointCount(11).Build();
    EXPECT_THROW(AssembleFramePointCloud(lines), std::runtime_error);
}

// One damaged or hostile file: how it is made and the reason each reader logs.
struct HostileCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
};

std::vector<uint8_t> WithLine(std::vector<std::vector<uint8_t>> lines, size_t index, std::vector<uint8_t> line) {
    lines[index] = std::move(line);
    return Concatenate(lines);
}

std::vector<HostileCase> HostileCases() {
    const auto plain = FrameLines(0x60, 10);
    const size_t lineBytes = plain[0].size();
    std::vector<HostileCase> cases;
    cases.push_back({"shorter than 56 line headers", std::vector<uint8_t>(56 * 265 - 1, 0), "is too short for 56 lines"});
    {
        auto truncated = Concatenate(plain);
        truncated.erase(truncated.end() - 1000, truncated.end());
        cases.push_back({"truncated", truncated, "Line 0 needs 525 bytes for its 10 points"});
    }
    // Same size, another type and count: 29 plain points and 26 coloured ones take 754 bytes.
    cases.push_back({"mixed point types",
                     WithLine(FrameLines(0x60, 29), 7, PointCloudPayloadBuilder().PointType(0x66).PointCount(26).LineIndex(7).Build()),
                     "Line 7 has point type 0x66, line 0 has 0x60"});
    cases.push_back({"mixed point counts",
                     WithLine(plain, 3, PointCloudPayloadBuilder().PointCount(9).LineIndex(3).TrailingBytes(26).Build()),
                     "Line 3 has 9 points, line 0 has 10"});
    {
        auto huge = plain;
        const uint32_t count = 0xFFFFFFFF;
        std::memcpy(huge[5].data() + 256, &count, 4);
        cases.push_back({"oversized point count", Concatenate(huge), "Line 5 needs 111669149935 bytes"});
    }
    {
        auto version = plain;
        version[40][3] = 15;
        cases.push_back({"metadata version", Concatenate(version), "Line 40 has metadata version 15, expected 16"});
    }
    {
        auto type = plain;
        type[0][264] = 0x61;
        cases.push_back({"unknown point type", Concatenate(type), "Line 0 has unknown point type 0x61"});
    }
    {
        std::mt19937 random(7);
        std::vector<uint8_t> garbage(56 * lineBytes);
        for (auto& b : garbage) b = static_cast<uint8_t>(random());
        cases.push_back({"garbage", garbage, "Line 0 has metadata version"});
    }
    return cases;
}

TEST_F(QpcFile, DamagedAndHostileFilesAreRefusedWithOneLogLine) {
    for (const HostileCase& c : HostileCases()) {
        SCOPED_TRACE(c.name);
        const fs::path path = root_ / "bad.qpc";
        WriteBytes(path, c.bytes);
        {
            ProgramLogCapture log;
            EXPECT_EQ(ReadQpcFrame(path, false), nullptr);
            ASSERT_EQ(log.Records().size(), 1u);
            EXPECT_EQ(log.Records()[0].level, spdlog::level::err);
            EXPECT_EQ(log.Records()[0].text.rfind("[IO] ", 0), 0u) << log.Records()[0].text;
            EXPECT_NE(log.Records()[0].text.find(c.reason), std::string::npos) << log.Records()[0].text;
            EXPECT_NE(log.Records()[0].text.find(path.string()), std::string::npos);
        }
        {
            ProgramLogCapture log;
            EXPECT_EQ(ReadQpcPointCloud(path), nullptr);
            ASSERT_EQ(log.Records().size(), 1u);
            EXPECT_NE(log.Records()[0].text.find(c.reason), std::string::npos) << log.Records()[0].text;
        }
    }
}

// A large file is held against what 56 lines of its first line's points can take before it
// is read: garbage fails on its first line's header, a real header with a body far beyond
// its points on the size. Either way only the header is read (sparse files: no disk used).
TEST_F(QpcFile, LargeFilesAreSizedByTheirFirstLineBeforeBeingRead) {
    std::vector<uint8_t> header = FrameLines(0x6F, 192)[0];
    header.resize(265);
    std::mt19937 random(3);
    std::vector<uint8_t> garbage(4096);
    for (auto& b : garbage) b = static_cast<uint8_t>(random());
    const struct {
        const char* name;
        std::vector<uint8_t> head;
        const char* reason;
    } cases[] = {
        {"garbage", garbage, "Line 0 has metadata version"},
        {"a header of 192 points", header, "is larger than 56 lines of 192 points can be (79049 bytes a line at most)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = root_ / "large.qpc";
        testing::WriteSparse(path, c.head, 400ull << 20);
        ProgramLogCapture log;
        const uint64_t before = testing::BytesReadByProcess();
        EXPECT_EQ(ReadQpcFrame(path, false), nullptr);
        EXPECT_EQ(ReadQpcPointCloud(path), nullptr);
        EXPECT_LT(testing::BytesReadByProcess() - before, uint64_t{1} << 20) << "the file was read";
        EXPECT_EQ(log.Count(c.reason, spdlog::level::err), 2u) << (log.Records().empty() ? "" : log.Records()[0].text);
    }
    // A recorded frame of those lines reads as before.
    WriteBytes(root_ / "frame.qpc", Concatenate(FrameLines(0x6F, 192)));
    EXPECT_NE(ReadQpcFrame(root_ / "frame.qpc", false), nullptr);
}

TEST_F(QpcFile, MissingEmptyAndOversizedFiles) {
    ProgramLogCapture log;
    EXPECT_EQ(ReadQpcFrame(root_ / "none.qpc", false), nullptr);
    EXPECT_TRUE(log.Contains("Error opening " + (root_ / "none.qpc").string(), spdlog::level::err));

    WriteBytes(root_ / "empty.qpc", {});
    EXPECT_EQ(ReadQpcPointCloud(root_ / "empty.qpc"), nullptr);
    EXPECT_EQ(ReadQpcFrame(root_ / "empty.qpc", false), nullptr);
    EXPECT_EQ(log.Count("The QPC file is empty", spdlog::level::err), 1u);  // the frame reader only

    // A sparse file: refused by its size, before anything is read into memory.
    const fs::path huge = root_ / "huge.qpc";
    WriteBytes(huge, {});
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kMaxQpcFileBytes + 1)), 0);
    EXPECT_EQ(ReadQpcFrame(huge, false), nullptr);
    EXPECT_EQ(log.Count("bytes is larger than the", spdlog::level::err), 1u);
}

}  // namespace
}  // namespace orbel::studio
