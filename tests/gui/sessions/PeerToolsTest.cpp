// The files we write, read by the tools people use on point clouds: PCL's command-line
// converters and Open3D. Each test is skipped, saying why, where the tool is not installed
// (scripts/setup installs pcl-tools and python3-open3d).
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "gui/sessions/SessionFixtures.h"
#include "support/Threads.h"
#include "sessions/Converters.h"
#include "sessions/OfflinePlayer.h"
#include "sessions/PlyFile.h"

namespace orbel::studio {
namespace {

using testing::PointCloudPayloadBuilder;
using testing::WriteQpc;
namespace fs = std::filesystem;

constexpr uint32_t kPointsPerLine = 192;
constexpr size_t kPoints = 56 * kPointsPerLine;

struct Output {
    int status = -1;
    std::string text;
};

Output RunCommand(const std::string& command) {
    Output output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.text.append(buffer, n);
    output.status = pclose(pipe);
    return output;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Open3D's view of a file: the point count, then x y z and r g b (0..255) per point.
const char* kOpen3dScript = R"(
import sys
import numpy as np
import open3d as o3d
cloud = o3d.io.read_point_cloud(sys.argv[1])
points = np.asarray(cloud.points)
colours = np.asarray(cloud.colors) if cloud.has_colors() else np.zeros((len(points), 3))
print(len(points))
for p, c in zip(points, colours):
    print("%.9g %.9g %.9g %d %d %d" % (p[0], p[1], p[2], round(c[0] * 255), round(c[1] * 255), round(c[2] * 255)))
)";

struct PeerPoint {
    float x, y, z;
    int r, g, b;
};

std::vector<PeerPoint> ParsePoints(const std::string& text, size_t& count) {
    std::istringstream in(text);
    in >> count;
    std::vector<PeerPoint> points;
    double x, y, z;
    int r, g, b;
    while (in >> x >> y >> z >> r >> g >> b) {
        points.push_back({static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), r, g, b});
    }
    return points;
}

class PeerTools : public testing::ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        WriteQpc(root_ / "session" / "frame_00000042.qpc", 0x66, kPointsPerLine, 42);
        const auto cancel = std::make_shared<std::atomic<bool>>(false);
        for (FileType type : {FileType::Ply, FileType::Pcd}) {
            ASSERT_EQ(ConvertFolder(cancel, root_ / "session", root_ / "out", type, {}).converted, 1u);
        }
        ply_ = root_ / "out" / "frames_ply" / "frame_00000042.ply";
        pcd_ = root_ / "out" / "frames_pcd" / "frame_00000042.pcd";
    }

    static void ExpectOurPoints(const std::vector<PeerPoint>& points, bool colours) {
        ASSERT_EQ(points.size(), kPoints);
        for (uint32_t i = 0; i < kPoints; ++i) {
            const auto expected = PointCloudPayloadBuilder::DefaultPoint(i);
            ASSERT_EQ(points[i].x, expected.x) << i;
            ASSERT_EQ(points[i].y, expected.y) << i;
            ASSERT_EQ(points[i].z, expected.z) << i;
            if (colours) {
                ASSERT_EQ(points[i].r, expected.red) << i;
                ASSERT_EQ(points[i].g, expected.green) << i;
                ASSERT_EQ(points[i].b, expected.blue) << i;
            }
        }
    }

    fs::path ply_;
    fs::path pcd_;
};

TEST_F(PeerTools, Open3dReadsOurPlyAndPcd) {
    if (RunCommand("/usr/bin/python3 -c 'import open3d'").status != 0) {
        GTEST_SKIP() << "Open3D is not installed for /usr/bin/python3 (package python3-open3d)";
    }
    const fs::path script = root_ / "read.py";
    testing::WriteText(script, kOpen3dScript);
    for (const fs::path& file : {ply_, pcd_}) {
        SCOPED_TRACE(file.filename().string());
        const Output output = RunCommand("/usr/bin/python3 " + Quoted(script) + " " + Quoted(file));
        ASSERT_EQ(output.status, 0) << output.text;
        size_t count = 0;
        const auto points = ParsePoints(output.text, count);
        EXPECT_EQ(count, kPoints);
        ExpectOurPoints(points, true);
    }
}

TEST_F(PeerTools, PclConvertsOurFilesBothWaysAndWeReadItsPly) {
    if (!fs::exists("/usr/bin/pcl_pcd2ply") || !fs::exists("/usr/bin/pcl_ply2pcd")) {
        GTEST_SKIP() << "PCL's command-line tools are not installed (package pcl-tools)";
    }
    // Our PLY into PCL's ascii PCD: the point count it reports and the coordinates it wrote.
    const fs::path pclPcd = root_ / "pcl.pcd";
    Output output = RunCommand("pcl_ply2pcd -format 0 " + Quoted(ply_) + " " + Quoted(pclPcd));
    ASSERT_EQ(output.status, 0) << output.text;
    EXPECT_NE(output.text.find(std::to_string(kPoints) + " points"), std::string::npos) << output.text;
    {
        std::ifstream in(pclPcd);
        std::string line;
        size_t declared = 0;
        std::vector<std::string> fields;
        while (std::getline(in, line) && line.rfind("DATA", 0) != 0) {
            std::istringstream words(line);
            std::string key;
            words >> key;
            if (key == "POINTS") words >> declared;
            if (key == "FIELDS") for (std::string f; words >> f;) fields.push_back(f);
        }
        EXPECT_EQ(declared, kPoints);
        ASSERT_GE(fields.size(), 3u);
        ASSERT_EQ(fields[0], "x");
        std::vector<PeerPoint> points;
        while (std::getline(in, line)) {
            std::istringstream values(line);
            double x, y, z;
            values >> x >> y >> z;
            points.push_back({static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), 0, 0, 0});
        }
        ExpectOurPoints(points, false);
    }

    // Our PCD into PCL's PLY, which our reader and the replay then load.
    const fs::path replay = root_ / "replay";
    fs::create_directories(replay);
    const fs::path pclPly = replay / "frame_00111601.ply";  // PCL writes no frame number: the name's is taken
    output = RunCommand("pcl_pcd2ply " + Quoted(pcd_) + " " + Quoted(pclPly));
    ASSERT_EQ(output.status, 0) << output.text;
    EXPECT_NE(output.text.find(std::to_string(kPoints) + " points"), std::string::npos) << output.text;
    const auto frame = ReadPly(pclPly);
    ASSERT_NE(frame, nullptr);
    std::vector<PeerPoint> points;
    for (size_t i = 0; i < frame->xyz.size() / 3; ++i) {
        points.push_back({frame->xyz[3 * i], frame->xyz[3 * i + 1], frame->xyz[3 * i + 2], frame->rgb.at(3 * i),
                          frame->rgb.at(3 * i + 1), frame->rgb.at(3 * i + 2)});
    }
    ExpectOurPoints(points, true);
    EXPECT_EQ(frame->signal[7], PointCloudPayloadBuilder::DefaultPoint(7).reflectivity);  // PCD intensity

    auto dispatcher = std::make_shared<ObjectDispatcher>();
    testing::Collector<FrameData> views;
    dispatcher->Subscribe<FrameData>(&views);
    OfflinePlayer player(dispatcher, replay, FileType::Ply);
    ASSERT_EQ(player.FileCount(), 1);
    player.Show();
    ASSERT_TRUE(testing::Eventually([&] { return views.Count() == 1; }));
    EXPECT_EQ(views.Messages()[0]->xyz.size(), 3 * kPoints);
    EXPECT_EQ(views.Messages()[0]->frameNumber, 111601);
}

}  // namespace
}  // namespace orbel::studio
