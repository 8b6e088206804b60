// PLY files: the writer's header and body, round trips, files as other programs write them
// (ascii, big-endian, other names and types, faces and cameras beside the vertices, no frame
// number of their own), a table of broken and hostile files that the reader refuses with a
// reason, and bodies cut short, read and replayed.
#include "sessions/PlyFile.h"

#include <bit>
#include <cstring>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/OfflinePlayer.h"
#include "support/Threads.h"

namespace orbel::studio {
namespace {

using testing::ProgramLogCapture;
using testing::ReadBytes;
using testing::WriteBytes;
using testing::WriteText;
namespace fs = std::filesystem;

class PlyFile : public testing::ScratchFolder {};

FrameData FullFrame(size_t points) {
    FrameData frame;
    frame.frameNumber = 4711;
    frame.sourceName = "frame_00004711.qpc";
    frame.width = static_cast<uint32_t>(points);
    frame.height = 1;
    for (size_t i = 0; i < points; ++i) {
        frame.xyz.insert(frame.xyz.end(), {0.5f * i, -1.25f * i, 1000.0f + i});
        frame.signal.push_back(0.25f * i);
        frame.ambient.push_back(30000.0f + i);
        frame.rgb.insert(frame.rgb.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i), 255});
        frame.timestamps.push_back(1'700'000'000'000'000ull + i);  // exact as a double
    }
    return frame;
}

std::string HeaderOf(const fs::path& path) {
    const auto bytes = ReadBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find("end_header\n") + 11);
}

TEST_F(PlyFile, WrittenFramesReadBackWhole) {
    const FrameData frame = FullFrame(5);
    const fs::path path = root_ / "frame.ply";
    WritePly(path, frame);
    EXPECT_EQ(HeaderOf(path),
              "ply\nformat binary_little_endian 1.0\ncomment frameNumber 4711\n"
              "comment originalFilename frame_00004711.qpc\ncomment width 5\ncomment height 1\n"
              "element vertex 5\nproperty float x\nproperty float y\nproperty float z\n"
              "property float signal\nproperty float ambient\n"
              "property uchar red\nproperty uchar green\nproperty uchar blue\n"
              "property double timestamp\nend_header\n");
    EXPECT_EQ(fs::file_size(path), HeaderOf(path).size() + 5 * 31);

    const auto back = ReadPly(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->frameNumber, 4711);
    EXPECT_EQ(back->sourceName, "frame_00004711.qpc");
    EXPECT_EQ(std::vector<float>(back->xyz.begin(), back->xyz.end()), std::vector<float>(frame.xyz.begin(), frame.xyz.end()));
    EXPECT_EQ(back->signal, frame.signal);
    EXPECT_EQ(back->ambient, frame.ambient);
    EXPECT_EQ(back->rgb, frame.rgb);
    EXPECT_EQ(back->timestamps, frame.timestamps);
    EXPECT_EQ(back->width, 0u);  // not read back
}

TEST_F(PlyFile, ArraysWithoutOneValuePerPointAreLeftOut) {
    FrameData frame = FullFrame(3);
    frame.signal.pop_back();
    frame.rgb.pop_back();
    frame.width = 0;
    frame.sourceName = "two\nlines\r.qpc";
    const fs::path path = root_ / "partial.ply";
    WritePly(path, frame);
    const std::string header = HeaderOf(path);
    EXPECT_EQ(header.find("signal"), std::string::npos);
    EXPECT_EQ(header.find("red"), std::string::npos);
    EXPECT_EQ(header.find("comment width"), std::string::npos);
    EXPECT_NE(header.find("property float ambient\nproperty double timestamp\n"), std::string::npos);
    EXPECT_NE(header.find("comment originalFilename two lines .qpc\n"), std::string::npos);
    EXPECT_EQ(fs::file_size(path), header.size() + 3 * 24);

    const auto back = ReadPly(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->sourceName, "two lines .qpc");
    EXPECT_TRUE(back->rgb.empty());
    EXPECT_EQ(back->signal, std::vector<float>(3, 0.0f));
}

TEST_F(PlyFile, WriterFailures) {
    EXPECT_THROW(
        {
            try {
                WritePly(root_ / "empty.ply", FrameData());
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "FrameData contains no points.");
                throw;
            }
        },
        std::runtime_error);
    const fs::path unwritable = root_ / "no" / "such" / "folder.ply";
    try {
        WritePly(unwritable, FullFrame(1));
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open output file: " + unwritable.string() + " (No such file or directory)");
    }
}

// Files as other programs write them.
TEST_F(PlyFile, ForeignFilesAreRead) {
    // ascii with CRLF, r/g/b and intensity, int and short columns, a face list first.
    WriteText(root_ / "ascii.ply",
              "ply\r\nformat ascii 1.0\r\ncomment made elsewhere\r\nelement face 1\r\n"
              "property list uchar int vertex_indices\r\nelement vertex 2\r\nproperty float x\r\n"
              "property float y\r\nproperty float z\r\nproperty int label\r\nproperty float intensity\r\n"
              "property uchar r\r\nproperty uchar g\r\nproperty uchar b\r\nproperty short flag\r\nend_header\r\n"
              "3 0 1 2\r\n1.5 -2 3e2 -7 0.5 10 20 30 -1\r\n+4 5 6 2147483647 1 255 0 1 32767\r\n");
    auto ascii = ReadPly(root_ / "ascii.ply");
    ASSERT_NE(ascii, nullptr);
    EXPECT_EQ(std::vector<float>(ascii->xyz.begin(), ascii->xyz.end()),
              (std::vector<float>{1.5f, -2.0f, 300.0f, 4.0f, 5.0f, 6.0f}));
    EXPECT_EQ(ascii->signal, (std::vector<float>{0.5f, 1.0f}));
    EXPECT_EQ(ascii->rgb, (std::vector<uint8_t>{10, 20, 30, 255, 0, 1}));
    EXPECT_EQ(ascii->sourceName, "ascii.ply");

    // big-endian binary: double coordinates and a camera element after the vertices.
    std::string header =
        "ply\nformat binary_big_endian 1.0\nelement vertex 2\nproperty double x\nproperty double y\n"
        "property double z\nproperty ushort extra\nelement camera 1\nproperty float view_px\nend_header\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    const auto putBig = [&bytes](auto value) {
        auto raw = std::bit_cast<std::array<uint8_t, sizeof value>>(value);
        bytes.insert(bytes.end(), raw.rbegin(), raw.rend());
    };
    for (double v : {1.0, 2.0, 3.0}) putBig(v);
    putBig(uint16_t{9});
    for (double v : {-1.0, 1e300, 0.25}) putBig(v);
    putBig(uint16_t{9});
    putBig(1.0f);
    WriteBytes(root_ / "big.ply", bytes);
    auto big = ReadPly(root_ / "big.ply");
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->xyz.size(), 6u);
    EXPECT_EQ(big->xyz[2], 3.0f);
    EXPECT_EQ(big->xyz[3], -1.0f);
    EXPECT_TRUE(std::isinf(big->xyz[4]));
    EXPECT_TRUE(big->rgb.empty());
}

// The frame number: the file's own frameNumber comment; without one, the number its name
// carries as the replay and the sync file read it; without either, 0.
TEST_F(PlyFile, FrameNumberFromTheCommentElseFromTheName) {
    const std::string body =
        "element vertex 1\nproperty float x\nproperty float y\nproperty float z\nend_header\n1 2 3\n";
    const struct {
        const char* name;
        const char* comment;
        int32_t frameNumber;
    } cases[] = {
        {"frame_00111601.ply", "", 111601},
        {"frame_00111601.ply", "comment frameNumber 5\n", 5},
        {"frame_00111601.ply", "comment frameNumber 0\n", 0},
        {"scan_7_b.ply", "", 7},
        {"scan.ply", "", 0},
        {"frame_abc.ply", "", 0},
        {"frame_4294967296.ply", "", 0},  // beyond a frame number's 32 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.comment);
        const fs::path path = root_ / c.name;
        WriteText(path, std::string("ply\nformat ascii 1.0\n") + c.comment + body);
        const auto frame = ReadPly(path);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->frameNumber, c.frameNumber);
        fs::remove(path);
    }
}

// A broken or hostile file and the reason the reader gives.
struct BadPly {
    const char* name;
    std::string text;
    const char* reason;
};

std::string BinaryHeader(const std::string& count, const std::string& properties) {
    return "ply\nformat binary_little_endian 1.0\nelement vertex " + count + "\n" + properties + "end_header\n";
}

TEST_F(PlyFile, BrokenAndHostileFilesAreRefusedWithAReason) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    const std::string oneVertex(12, '\0');
    const BadPly cases[] = {
        {"no magic", "format ascii 1.0\nelement vertex 1\n" + xyz + "end_header\n1 2 3\n", "Not a PLY file"},
        {"no format", "ply\nelement vertex 1\n" + xyz + "end_header\n1 2 3\n", "no format line"},
        {"unknown format", "ply\nformat binary_middle_endian 1.0\nelement vertex 1\n" + xyz + "end_header\n",
         "Unknown PLY format \"binary_middle_endian\""},
        {"keyword inside a word", "ply\nformat asciii 1.0\n", "Unknown PLY format \"asciii\""},
        {"no vertices", BinaryHeader("0", xyz), "holds no vertices"},
        {"another element only", "ply\nformat ascii 1.0\nelement vertexes 1\n" + xyz + "end_header\n1 2 3\n",
         "holds no vertices"},
        {"no vertex properties", BinaryHeader("4", ""), "no properties"},
        {"invalid count", BinaryHeader("-5", xyz), "invalid count \"-5\""},
        {"property before element", "ply\nformat ascii 1.0\nproperty float x\n", "before any element"},
        {"unknown property type", BinaryHeader("1", "property float x\nproperty quad y\n") + oneVertex,
         "Unknown property type \"quad\""},
        {"no end_header", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "1 2 3\n", "no end_header"},
        {"binary body without a whole vertex", BinaryHeader("3", xyz) + std::string(11, '\0'),
         "declares 3 vertices, the body holds none"},
        {"ascii body without a vertex line", "ply\nformat ascii 1.0\nelement vertex 3\n" + xyz + "end_header\n",
         "ends after 0 of 3 vertex lines"},
        {"uchar out of range", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "property uchar red\nend_header\n1 2 3 300\n",
         "Value \"300\" of property \"red\" does not fit its type"},
        {"int that is no number", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "property int id\nend_header\n1 2 3 abc\n",
         "Value \"abc\" of property \"id\" does not fit its type"},
        {"float that is no number", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "end_header\n1 2 3.5x\n",
         "Value \"3.5x\" of property \"z\" is not a number"},
        {"too many values", "ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "end_header\n1 2 3 4\n",
         "more values than properties"},
        {"huge list before the vertices",
         "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list uint int idx\nelement vertex 1\n" + xyz +
             "end_header\n" + std::string("\xff\xff\xff\x7f", 4) + oneVertex,
         "ends inside element \"face\""},
        {"negative time stamp",
         BinaryHeader("1", xyz + "property double timestamp\n") + oneVertex + std::string("\0\0\0\0\0\0\xf0\xbf", 8),
         "Time stamp -1 does not fit"},
    };
    for (const BadPly& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = root_ / "bad.ply";
        WriteText(path, c.text);
        ProgramLogCapture log;
        EXPECT_EQ(ReadPly(path), nullptr);
        const auto records = log.Records();
        ASSERT_EQ(records.size(), 1u);
        const std::string& line = records[0].text;
        EXPECT_EQ(records[0].level, spdlog::level::err);
        EXPECT_EQ(line.rfind("[PLY] ", 0), 0u) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
        EXPECT_NE(line.find(path.string()), std::string::npos) << line;
    }
}

// A body cut short gives the whole vertices before the cut, with a warning that names the
// file and both counts, whether the file is read or replayed; a whole body is not told short.
TEST_F(PlyFile, ShortBodiesGiveTheVerticesThereWithAWarning) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    std::string two;
    for (const float v : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}) two.append(reinterpret_cast<const char*>(&v), 4);
    std::string listed;  // one vertex of x, y, z and a list of two bytes
    listed.append(two, 0, 12);
    listed += std::string("\x02\x07\x08", 3);
    const struct {
        const char* name;
        std::string text;
        uint64_t declared;
        size_t read;
    } cases[] = {
        {"binary whole", BinaryHeader("2", xyz) + two, 2, 2},
        {"ascii whole", "ply\nformat ascii 1.0\nelement vertex 2\n" + xyz + "end_header\n1 2 3\n4 5 6\n", 2, 2},
        {"binary cut inside the third vertex", BinaryHeader("3", xyz) + two + std::string(6, '\0'), 3, 2},
        {"binary count far beyond the body", BinaryHeader("1000000000000", xyz) + two, 1000000000000, 2},
        {"ascii with two of three lines", "ply\nformat ascii 1.0\nelement vertex 3\n" + xyz + "end_header\n1 2 3\n4 5 6\n", 3, 2},
        {"binary with a list, cut inside the second vertex",
         BinaryHeader("2", xyz + "property list uchar uchar tags\n") + listed + two.substr(0, 12) + "\x05", 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = root_ / "replay";
        const fs::path path = folder / "short.ply";
        fs::create_directories(folder);
        WriteText(path, c.text);
        const bool cut = c.read < c.declared;
        const std::string warning = fmt::format(
            "[PLY] The file is cut short: only {} of the {} vertices its header declares were read: {}", c.read,
            c.declared, path.string());
        {
            ProgramLogCapture log;
            const auto frame = ReadPly(path);
            ASSERT_NE(frame, nullptr);
            ASSERT_EQ(frame->xyz.size(), 3 * c.read);
            EXPECT_EQ(std::vector<float>(frame->xyz.begin(), frame->xyz.begin() + 3), (std::vector<float>{1, 2, 3}));
            EXPECT_EQ(frame->signal.size(), c.read);
            EXPECT_EQ(log.Count("[PLY] The file is cut short", spdlog::level::warn), cut ? 1u : 0u);
            EXPECT_EQ(log.Contains(warning, spdlog::level::warn), cut);
        }
        {
            ProgramLogCapture log;
            auto dispatcher = std::make_shared<ObjectDispatcher>();
            testing::Collector<FrameData> views;
            dispatcher->Subscribe<FrameData>(&views);
            {
                OfflinePlayer player(dispatcher, folder, FileType::Ply);
                player.Show();
                ASSERT_TRUE(testing::Eventually([&] { return views.Count() == 1; }));
            }
            EXPECT_EQ(views.Messages()[0]->xyz.size(), 3 * c.read);
            EXPECT_EQ(log.Count("[PLY] The file is cut short", spdlog::level::warn), cut ? 1u : 0u) << "replayed";
            EXPECT_EQ(log.Contains(warning, spdlog::level::warn), cut) << "replayed";
        }
    }
}

// A binary body of fixed-size vertices followed by more (another element's records, bytes
// that no element declares) gives exactly the vertices declared, none made of what follows
// them, and no warning of a short body.
TEST_F(PlyFile, BinaryVerticesFollowedByMoreGiveExactlyTheDeclaredCount) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    std::string two;
    for (const float v : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}) two.append(reinterpret_cast<const char*>(&v), 4);
    std::string faces;  // three triangles: a count byte and three int indices each
    for (int face = 0; face < 3; ++face) {
        faces += '\x03';
        for (const int32_t index : {0, 1, face}) faces.append(reinterpret_cast<const char*>(&index), 4);
    }
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"a face element after the vertices",
         BinaryHeader("2", xyz + "element face 3\nproperty list uchar int vertex_indices\n") + two + faces},
        {"bytes that no element declares", BinaryHeader("2", xyz) + two + std::string(40, '\x7f')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = root_ / "more.ply";
        WriteText(path, c.text);
        ProgramLogCapture log;
        const auto frame = ReadPly(path);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(std::vector<float>(frame->xyz.begin(), frame->xyz.end()), (std::vector<float>{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(frame->signal.size(), 2u);
        EXPECT_EQ(frame->timestamps.size(), 2u);
        EXPECT_TRUE(log.Records().empty()) << log.Records()[0].text;
    }
}

// A large file is read no further than its header can use: garbage stops at the first line,
// a binary body at the end of its vertices (sparse files: no disk used).
TEST_F(PlyFile, LargeFilesAreReadOnlyAsFarAsTheirHeaderUses) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    const std::string header = BinaryHeader("2", xyz) + std::string(24, '\0');
    const struct {
        const char* name;
        std::string head;
        bool read;
    } cases[] = {
        {"garbage", std::string(4096, 'x'), false},
        {"two vertices and a long tail", header, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = root_ / "large.ply";
        testing::WriteSparse(path, std::vector<uint8_t>(c.head.begin(), c.head.end()), 400ull << 20);
        ProgramLogCapture log;
        const uint64_t before = testing::BytesReadByProcess();
        const auto frame = ReadPly(path);
        EXPECT_LT(testing::BytesReadByProcess() - before, uint64_t{1} << 20) << "the file was read";
        EXPECT_EQ(frame != nullptr, c.read);
        if (frame) {
            EXPECT_EQ(frame->xyz.size(), 6u);
        } else {
            EXPECT_EQ(log.Count("Not a PLY file", spdlog::level::err), 1u);
        }
    }
}

TEST_F(PlyFile, MissingFileGivesNoneSilently) {
    ProgramLogCapture log;
    EXPECT_EQ(ReadPly(root_ / "none.ply"), nullptr);
    EXPECT_TRUE(log.Records().empty());
}

}  // namespace
}  // namespace orbel::studio
