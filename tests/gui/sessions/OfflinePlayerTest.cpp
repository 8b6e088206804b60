// The offline player: the order of its files, stepping, seeking, playing to the end and
// again, seeking while playing, files that cannot be read, the frame number and shape of
// the frames shown, the first frame's colour mode, and camera images with the ids in their
// names.
#include "sessions/OfflinePlayer.h"

#include <gtest/gtest.h>

#include "sessions/PlyFile.h"
#include "sessions/QpcFile.h"

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "support/Threads.h"

namespace orbel::studio {
namespace {

using testing::Collector;
using testing::Eventually;
using testing::ProgramLogCapture;
using testing::WriteQpc;
namespace fs = std::filesystem;

std::string FrameName(uint32_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%08u.qpc", frame);
    return name;
}

class Player : public testing::ScratchFolder {
protected:
    // A folder of QPC frames 0..count-1 (two points a line), written out of order.
    fs::path Frames(uint32_t count, uint8_t type = 0x60) {
        const fs::path folder = root_ / "frames_qpc";
        for (uint32_t i = count; i-- > 0;) {
            testing::WriteBytes(folder / FrameName(i), testing::Concatenate(testing::FrameLines(type, 2, i)));
        }
        fs::create_directories(folder);
        return folder;
    }

    // The source names of the frames shown so far.
    std::vector<std::string> Shown() const {
        std::vector<std::string> names;
        for (const auto& frame : views_.Messages()) names.push_back(frame->sourceName);
        return names;
    }
    bool ShownCount(size_t n) const {
        return Eventually([&] { return views_.Count() == n; });
    }

    void SetUp() override {
        ScratchFolder::SetUp();
        dispatcher_->Subscribe<FrameData>(&views_);
        dispatcher_->Subscribe<CameraData>(&camera_);
    }

    std::shared_ptr<ObjectDispatcher> dispatcher_ = std::make_shared<ObjectDispatcher>();
    Collector<FrameData> views_;
    Collector<CameraData> camera_;
};

TEST_F(Player, NumberedFramesPlayInNumberOrderThenTheOthersByName) {
    const fs::path folder = root_ / "frames_qpc";
    for (const char* name : {"frame_00000010.qpc", "room_scan.qpc", "frame_2.qpc", "old/frame_00000003.qpc",
                             "frame_abc.qpc", "cloud.qpc", "notes.txt"}) {
        testing::WriteText(folder / name, "x");
    }
    ProgramLogCapture log;
    const auto files = ListReplayFiles(folder, FileType::Qpc);
    std::vector<fs::path> expected{folder / "frame_2.qpc", folder / "old/frame_00000003.qpc",
                                   folder / "frame_00000010.qpc", folder / "cloud.qpc", folder / "frame_abc.qpc",
                                   folder / "room_scan.qpc"};
    EXPECT_EQ(files, expected);
    EXPECT_EQ(log.Count("3 of 6 files have no frame number in their names", spdlog::level::info), 1u);

    // A folder of nothing but named clouds plays them all.
    for (const char* name : {"room_scan.ply", "cloud_a.ply", "cloud_b.ply"}) {
        testing::WriteText(root_ / "scans" / name, "x");
    }
    EXPECT_EQ(ListReplayFiles(root_ / "scans", FileType::Ply),
              (std::vector<fs::path>{root_ / "scans" / "cloud_a.ply", root_ / "scans" / "cloud_b.ply",
                                     root_ / "scans" / "room_scan.ply"}));

    for (const char* name : {"image_00000003_00000000000000000500.jpg", "image_00000001_00000000000000000900.JPEG",
                             "image_00000002_00000000000000000100.jpg"}) {
        testing::WriteText(root_ / "frames_rgb" / name, "x");
    }
    const auto images = ListReplayFiles(root_ / "frames_rgb", FileType::Jpg);
    ASSERT_EQ(images.size(), 3u);  // ".jpeg" counts too
    EXPECT_EQ(images[0].filename(), "image_00000002_00000000000000000100.jpg");
    EXPECT_EQ(images[2].filename(), "image_00000001_00000000000000000900.JPEG");
}

TEST_F(Player, StepsAndSeeksAreClamped) {
    OfflinePlayer player(dispatcher_, Frames(4), FileType::Qpc);
    ASSERT_EQ(player.FileCount(), 4);
    const std::function<void()> steps[] = {
        [&] { player.Show(); },
        [&] { player.Prev(); },      // at 0: 0 again
        [&] { player.Next(); },      // 1
        [&] { player.Seek(-5); },    // 0
        [&] { player.Seek(100); },   // 3, the last
        [&] { player.Next(); },      // stays on the last
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i]();
        ASSERT_TRUE(ShownCount(i + 1)) << i;
    }
    EXPECT_EQ(Shown(), (std::vector<std::string>{FrameName(0), FrameName(0), FrameName(1), FrameName(0), FrameName(3),
                                                 FrameName(3)}));
    EXPECT_EQ(player.GetIndex(), 3);
}

TEST_F(Player, PlayShowsEveryFileToTheLastThenStartsAgain) {
    OfflinePlayer player(dispatcher_, Frames(5), FileType::Qpc);
    player.Play();
    ASSERT_TRUE(Eventually([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(Shown(), (std::vector<std::string>{FrameName(0), FrameName(1), FrameName(2), FrameName(3), FrameName(4)}));
    EXPECT_EQ(player.GetIndex(), 4);

    player.Play();  // at the end: from file 0 again
    ASSERT_TRUE(ShownCount(10));
    ASSERT_TRUE(Eventually([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(Shown()[5], FrameName(0));

    OfflinePlayer single(dispatcher_, Frames(1), FileType::Qpc);
    single.Play();
    ASSERT_TRUE(ShownCount(11));
    ASSERT_TRUE(Eventually([&] { return !single.IsPlaying(); }));
}

TEST_F(Player, SeekWhilePlayingGoesOnFromThere) {
    OfflinePlayer player(dispatcher_, Frames(40), FileType::Qpc);
    player.Play();
    ASSERT_TRUE(Eventually([&] { return views_.Count() >= 2; }));
    player.Seek(35);
    ASSERT_TRUE(Eventually([&] { return !player.IsPlaying(); }));
    const auto shown = Shown();
    ASSERT_GE(shown.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(shown.end() - 5, shown.end()),
              (std::vector<std::string>{FrameName(35), FrameName(36), FrameName(37), FrameName(38), FrameName(39)}));
    EXPECT_LT(shown.size(), 20u);
}

TEST_F(Player, PauseAndStopLeaveNothingToCome) {
    OfflinePlayer player(dispatcher_, Frames(100), FileType::Qpc);
    player.Play();
    ASSERT_TRUE(Eventually([&] { return views_.Count() >= 2; }));
    player.Pause();
    EXPECT_FALSE(player.IsPlaying());
    const size_t shown = views_.Count();
    std::this_thread::sleep_for(3 * OfflinePlayer::kFramePeriod);
    EXPECT_EQ(views_.Count(), shown);
    EXPECT_EQ(player.GetIndex() + 1, static_cast<int64_t>(shown));  // the index is the frame on screen

    player.Play();
    player.Stop();
    EXPECT_EQ(player.GetIndex(), 0);
}

TEST_F(Player, AFileThatCannotBeReadIsPassedOverOnce) {
    const fs::path folder = Frames(4);
    testing::WriteBytes(folder / FrameName(1), {1, 2, 3});
    ProgramLogCapture log;
    OfflinePlayer player(dispatcher_, folder, FileType::Qpc);
    player.Play();
    ASSERT_TRUE(Eventually([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(Shown(), (std::vector<std::string>{FrameName(0), FrameName(2), FrameName(3)}));
    EXPECT_EQ(log.Count("Failed to load frame: " + (folder / FrameName(1)).string(), spdlog::level::err), 1u);
    EXPECT_EQ(player.FailedIndex(), -1) << "the last load succeeded";

    // Shown on its own, the unreadable file is reported as the one that failed.
    player.Seek(1);
    ASSERT_TRUE(Eventually([&] { return player.FailedIndex() == 1; }));
    player.Seek(2);
    ASSERT_TRUE(ShownCount(4));
    EXPECT_EQ(player.FailedIndex(), -1);
}

TEST_F(Player, FramesCarryTheirNumberAndShapeAsLiveFramesDo) {
    const fs::path qpc = Frames(13);
    auto ply = ReadQpcFrame(qpc / FrameName(12), false);
    ASSERT_NE(ply, nullptr);
    ply->width = ply->height = 0;  // the converter's PLY files name no lines
    fs::create_directories(root_ / "frames_ply");
    WritePly(root_ / "frames_ply" / "frame_00000012.ply", *ply);

    const std::pair<fs::path, FileType> folders[] = {{qpc, FileType::Qpc}, {root_ / "frames_ply", FileType::Ply}};
    for (const auto& [folder, type] : folders) {
        SCOPED_TRACE(folder.string());
        OfflinePlayer player(dispatcher_, folder, type);
        const size_t shown = views_.Count();
        player.Seek(12);
        ASSERT_TRUE(ShownCount(shown + 1));
        const auto frame = views_.Messages().back();
        EXPECT_EQ(frame->frameNumber, 12);
        EXPECT_EQ(frame->height, 56u);
        EXPECT_EQ(frame->width, 2u);
    }
}

TEST_F(Player, AColouredFirstFrameSwitchesTheColourModeOnce) {
    ProgramLogCapture log;
    std::vector<std::string> modes;
    std::mutex mutex;
    OfflinePlayer player(dispatcher_, Frames(3, 0x66), FileType::Qpc);
    player.SetColourModeCallback([&](std::string mode) {
        std::lock_guard lock(mutex);
        modes.push_back(std::move(mode));
    });
    player.Play();
    ASSERT_TRUE(Eventually([&] { return !player.IsPlaying(); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(modes, std::vector<std::string>{"Embedded"});
    EXPECT_EQ(log.Count("Embedded RGB colors detected in the first frame. Defaulting to Embedded color mode.",
                        spdlog::level::info),
              1u);
}

TEST_F(Player, CameraImagesCarryTheIdsOfTheirNames) {
    const fs::path folder = root_ / "frames_rgb";
    fs::create_directories(folder);
    testing::RgbImage(12, 1234567890, 4, 2)->SaveAsJpeg(folder / "image_00000012_00000000001234567890.jpg", 90, false);
    testing::RgbImage(1, 5, 4, 2)->SaveAsJpeg(folder / "photo.jpeg", 90, false);
    testing::WriteText(folder / "broken.jpg", "not a jpeg");

    const auto named = LoadCameraImage(folder / "image_00000012_00000000001234567890.jpg");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->imageFrameNumber, 12u);
    EXPECT_EQ(named->deviceTimestamp_us, 1234567890u);
    EXPECT_EQ(named->channels, 3u);
    EXPECT_EQ(named->format, 2u);
    EXPECT_EQ(named->pixels.size(), 4u * 2 * 3);
    EXPECT_EQ(LoadCameraImage(folder / "photo.jpeg")->deviceTimestamp_us, 0u);
    EXPECT_EQ(LoadCameraImage(folder / "broken.jpg"), nullptr);
    EXPECT_EQ(LoadCameraImage(folder / "missing.jpg"), nullptr);

    const std::pair<const char*, std::pair<uint64_t, uint64_t>> names[] = {
        {"image_00000012_00000000001234567890.jpg", {12, 1234567890}},
        {"image_7.jpg", {0, 0}},
        {"image_x_5.jpg", {0, 0}},
        {"image_3_y.jpg", {3, 0}},
    };
    for (const auto& [name, ids] : names) EXPECT_EQ(ParseImageIds(name), ids) << name;

    OfflinePlayer player(dispatcher_, folder, FileType::Jpg);
    EXPECT_EQ(player.FileCount(), 3);
    player.Seek(2);  // by time stamp: photo (0), broken (0), then the named image
    ASSERT_TRUE(Eventually([&] { return camera_.Count() == 1; }));
    EXPECT_EQ(camera_.Messages()[0]->imageFrameNumber, 12u);
}

TEST_F(Player, AFolderThatCannotBeMadeGivesNoFiles) {
    testing::WriteText(root_ / "file", "x");
    ProgramLogCapture log;
    OfflinePlayer player(dispatcher_, root_ / "file", FileType::Qpc);
    EXPECT_EQ(player.FileCount(), 0);
    EXPECT_TRUE(log.Contains("Path does not exist: " + (root_ / "file").string(), spdlog::level::err));
    player.Show();
    player.Play();
    EXPECT_TRUE(log.Contains("Current file index out of range", spdlog::level::err));
}

}  // namespace
}  // namespace orbel::studio
