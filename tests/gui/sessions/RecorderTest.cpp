// The recorders: folder names and contents, batches that are not one frame, stopping before,
// during and after the write loop, write failures that end a recording, the camera queue's
// bound, and the choice of a fresh folder for a second recording.
#include "sessions/Recorder.h"


#include <future>
#include <latch>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/CameraRecorder.h"
#include "sessions/OfflinePlayer.h"
#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"
#include "support/Threads.h"

namespace orbel::studio {
namespace {

using recorder::CameraRecorder;
using testing::Clouds;
using testing::Eventually;
using testing::FrameLines;
using testing::ProgramLogCapture;
using testing::RgbImage;
namespace fs = std::filesystem;

std::shared_ptr<LineBatch> Batch(uint32_t frame, size_t lines = 56, uint8_t type = 0x60) {
    return std::make_shared<LineBatch>(Clouds(FrameLines(type, 8, frame, lines)));
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Recording : public testing::ScratchFolder {};

TEST_F(Recording, EveryFrameBecomesOneFileAndOddBatchesAreLogged) {
    ProgramLogCapture log;
    Recorder recorder;
    const fs::path folder = root_ / "session" / "frames_qpc";
    auto run = std::async(std::launch::async, [&] { recorder.Run(folder); });
    ASSERT_TRUE(Eventually([&] { return recorder.IsRunning(); }));

    auto published = Batch(12);
    recorder.Consume(published);
    EXPECT_TRUE(published->empty());  // moved out, as the only subscriber of batches
    recorder.Consume(Batch(13, 55));
    recorder.Consume(Batch(14, 57));
    recorder.Consume(Batch(15));
    recorder.Consume(Batch(12, 56, 0x66));  // the same frame number again
    ASSERT_TRUE(Eventually([&] { return recorder.FramesWritten() == 3 && recorder.BatchesRefused() == 2; }));
    EXPECT_TRUE(recorder.IsRunning());
    EXPECT_TRUE(recorder.Stop());
    run.get();

    EXPECT_EQ(Names(folder),
              (std::vector<std::string>{"frame_00000012.qpc", "frame_00000012_1.qpc", "frame_00000015.qpc"}));
    EXPECT_EQ(fs::file_size(folder / "frame_00000012.qpc"), 56u * (265 + 26 * 8));  // the first stays
    EXPECT_EQ(fs::file_size(folder / "frame_00000012_1.qpc"), 56u * (265 + 29 * 8));
    EXPECT_TRUE(log.Contains("Frame 13 not recorded: the frame has 55 lines, a QPC file holds 56", spdlog::level::warn));
    EXPECT_TRUE(log.Contains("Frame 14 not recorded: the frame has 57 lines, a QPC file holds 56", spdlog::level::warn));
    EXPECT_TRUE(log.Contains("Started recording to folder: " + folder.string(), spdlog::level::info));
    EXPECT_TRUE(log.Contains("Stopping recording...", spdlog::level::info));
    const auto frame = ReadQpcFrame(folder / "frame_00000015.qpc", false);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->xyz.size(), 3u * 56 * 8);
}

TEST_F(Recording, StopWritesWhatIsQueuedBeforeItReturns) {
    Recorder recorder;
    const fs::path folder = root_ / "frames_qpc";
    auto run = std::async(std::launch::async, [&] { recorder.Run(folder); });
    ASSERT_TRUE(Eventually([&] { return recorder.IsRunning(); }));
    for (uint32_t frame = 1; frame <= 40; ++frame) recorder.Consume(Batch(frame));
    recorder.Stop();
    EXPECT_EQ(recorder.FramesWritten(), 40u);
    EXPECT_EQ(Names(folder).size(), 40u);
    EXPECT_FALSE(recorder.IsRunning());
    run.get();
}

TEST_F(Recording, StopBeforeRunEndsTheLoopAtOnceAfterWritingTheQueue) {
    Recorder recorder;
    recorder.Consume(Batch(3));
    EXPECT_FALSE(recorder.Stop());
    auto run = std::async(std::launch::async, [&] { recorder.Run(root_ / "frames_qpc"); });
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "Run never returned";
    EXPECT_EQ(Names(root_ / "frames_qpc"), std::vector<std::string>{"frame_00000003.qpc"});
}

TEST_F(Recording, AWriteFailureEndsTheRecordingWithItsReason) {
    ProgramLogCapture log;
    Recorder recorder;
    const fs::path folder = root_ / "frames_qpc";
    auto run = std::async(std::launch::async, [&] { recorder.Run(folder); });
    recorder.Consume(Batch(1));
    ASSERT_TRUE(Eventually([&] { return recorder.FramesWritten() == 1; }));
    // The folder goes away under the recording: even root cannot write into a file.
    fs::remove_all(folder);
    testing::WriteText(folder, "not a folder");
    recorder.Consume(Batch(2));
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(recorder.IsRunning());
    ASSERT_TRUE(recorder.Failure().has_value());
    EXPECT_NE(recorder.Failure()->find("Cannot open output file"), std::string::npos) << *recorder.Failure();
    EXPECT_TRUE(log.Contains("Failed to write frame data to disk (may be due to insufficient disk space)",
                             spdlog::level::err));
    recorder.Consume(Batch(3));  // refused, not queued for ever
    EXPECT_EQ(recorder.BatchesRefused(), 1u);
    recorder.Stop();
}

TEST_F(Recording, AFolderThatCannotBeMadeIsReported) {
    ProgramLogCapture log;
    testing::WriteText(root_ / "file", "x");
    Recorder recorder;
    recorder.Run(root_ / "file" / "frames_qpc");
    EXPECT_TRUE(recorder.Failure().has_value());
    EXPECT_EQ(log.Count("Failed to create output directory: ", spdlog::level::err), 1u);
    CameraRecorder camera;
    camera.Run(root_ / "file" / "frames_rgb");
    EXPECT_TRUE(camera.Failure().has_value());
    EXPECT_EQ(log.Count("Failed to create output directory: ", spdlog::level::err), 2u);
}

TEST_F(Recording, ASecondRecordingNeverGoesIntoAnEarlierSession) {
    const fs::path chosen = root_ / "drive";
    EXPECT_EQ(FreshSessionFolder(chosen), chosen);
    fs::create_directories(chosen / "frames_qpc");  // an empty folder holds no session yet
    EXPECT_EQ(FreshSessionFolder(chosen), chosen);
    testing::WriteText(chosen / "frames_rgb" / "image_1_2.jpg", "x");
    EXPECT_EQ(FreshSessionFolder(chosen), root_ / "drive_2");
    testing::WriteText(root_ / "drive_2" / "frames_qpc" / "frame_00000001.qpc", "x");
    EXPECT_EQ(FreshSessionFolder(chosen), root_ / "drive_3");
    EXPECT_EQ(FreshSessionFolder(root_ / "drive" / ""), root_ / "drive_3");
}

// An earlier session whose frames cannot be listed may hold any frame: the next recording
// goes elsewhere rather than write over what it cannot see.
TEST_F(Recording, ASessionThatCannotBeListedIsNotRecordedInto) {
    const fs::path chosen = root_ / "drive";
    testing::WriteText(chosen / "frames_qpc" / "frame_00000001.qpc", "x");
    fs::permissions(chosen / "frames_qpc", fs::perms::none);
    std::optional<fs::path> fresh;
    {
        testing::HeldToPermissionBits held;
        if (!testing::Listable(chosen / "frames_qpc")) fresh = FreshSessionFolder(chosen);
    }
    fs::permissions(chosen / "frames_qpc", fs::perms::owner_all);
    if (!fresh) GTEST_SKIP() << "a folder without read permission can still be listed here";
    EXPECT_EQ(*fresh, root_ / "drive_2");
}

TEST_F(Recording, UnfinishedFilesNeverCarryTheFinalName) {
    {
        AtomicFile file(root_ / "frame.qpc");
        file.Write("half", 4);
        EXPECT_FALSE(fs::exists(root_ / "frame.qpc"));
    }
    EXPECT_TRUE(fs::is_empty(root_));
    AtomicFile file(root_ / "frame.qpc");
    file.Write("whole", 5);
    file.Commit();
    EXPECT_EQ(Names(root_), std::vector<std::string>{"frame.qpc"});
    EXPECT_EQ(UnusedFilePath(root_, "frame", ".qpc"), root_ / "frame_1.qpc");
}

// A camera image whose JPEG writing the test controls.
class ScriptedImage : public sdk::IImage {
public:
    ScriptedImage(uint32_t frameId, std::function<void(const fs::path&)> save) : save_(std::move(save)) {
        metadata_.frameId = frameId;
        metadata_.deviceTimestamp_us = 1000 + frameId;
    }
    uint32_t GetWidth() const override { return 0; }
    uint32_t GetHeight() const override { return 0; }
    sdk::PixelFormat GetPixelFormat() const override { return sdk::PixelFormat::RGB8; }
    const std::vector<uint8_t>& GetData() const override { return data_; }
    const sdk::ImageMetadata& GetMetadata() const override { return metadata_; }
    std::vector<uint8_t> Serialize() const override { return {}; }
    void Deserialize(const uint8_t*, size_t) override {}
    void Deserialize(const std::vector<uint8_t>&) override {}
    void SaveAsJpeg(const fs::path& path, int, bool) const override { save_(path); }

private:
    sdk::ImageMetadata metadata_;
    std::vector<uint8_t> data_;
    std::function<void(const fs::path&)> save_;
};

TEST_F(Recording, CameraImagesAreWrittenAsNamedJpegFiles) {
    CameraRecorder camera;
    camera.Consume(RgbImage(1, 2));  // not running yet: dropped
    const fs::path folder = root_ / "frames_rgb";
    auto run = std::async(std::launch::async, [&] { camera.Run(folder); });
    ASSERT_TRUE(Eventually([&] { return camera.IsRunning(); }));
    camera.Consume(RgbImage(12, 1234567890));
    camera.Consume(RgbImage(13, 1234617890));
    camera.Consume(nullptr);
    EXPECT_TRUE(camera.Stop());
    run.get();
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"image_00000012_00000000001234567890.jpg",
                                                       "image_00000013_00000000001234617890.jpg"}));
    const auto image = LoadCameraImage(folder / "image_00000012_00000000001234567890.jpg");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 16u);
    EXPECT_EQ(image->height, 8u);
    EXPECT_EQ(image->imageFrameNumber, 12u);
    EXPECT_EQ(image->deviceTimestamp_us, 1234567890u);
}

TEST_F(Recording, AnImageThatCannotBeSavedEndsTheCameraRecording) {
    ProgramLogCapture log;
    CameraRecorder camera;
    auto run = std::async(std::launch::async, [&] { camera.Run(root_ / "frames_rgb"); });
    ASSERT_TRUE(Eventually([&] { return camera.IsRunning(); }));
    camera.Consume(std::make_shared<ScriptedImage>(5, [](const fs::path& path) {
        testing::WriteText(path, "partial");
        throw std::runtime_error("disk full");
    }));
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_TRUE(camera.Failure().has_value());
    EXPECT_EQ(*camera.Failure(), "Failed to save camera image image_00000005_00000000000000001005.jpg: disk full");
    EXPECT_EQ(log.Count("[Recorder] Failed to save camera image", spdlog::level::err), 1u);
    EXPECT_TRUE(fs::is_empty(root_ / "frames_rgb"));  // no half file, under any name
    EXPECT_FALSE(camera.IsRunning());
    camera.Stop();
}

TEST_F(Recording, TheCameraQueueDropsTheOldestWhenTheDiskFallsBehind) {
    ProgramLogCapture log;
    CameraRecorder camera;
    std::latch release(1);
    std::atomic<int> entered{0};
    std::atomic<int> saved{0};
    const auto save = [&](const fs::path& path) {
        ++entered;
        release.wait();
        testing::WriteText(path, "jpeg");
        ++saved;
    };
    auto run = std::async(std::launch::async, [&] { camera.Run(root_ / "frames_rgb"); });
    ASSERT_TRUE(Eventually([&] { return camera.IsRunning(); }));
    camera.Consume(std::make_shared<ScriptedImage>(0, save));
    // The first image is being written (and held there); 40 more arrive.
    ASSERT_TRUE(Eventually([&] { return entered == 1; }));
    for (uint32_t id = 1; id <= 40; ++id) camera.Consume(std::make_shared<ScriptedImage>(id, save));
    EXPECT_EQ(camera.ImagesDropped(), 40u - CameraRecorder::kQueueCap);
    release.count_down();
    camera.Stop();
    run.get();
    EXPECT_EQ(saved.load(), 1 + static_cast<int>(CameraRecorder::kQueueCap));
    const auto names = Names(root_ / "frames_rgb");
    EXPECT_EQ(names.front(), "image_00000000_00000000000000001000.jpg");
    EXPECT_EQ(names[1], "image_00000009_00000000000000001009.jpg");  // 1 to 8 were the oldest
    EXPECT_EQ(log.Count("Camera images arrive faster than they are written", spdlog::level::warn), 1u);
    EXPECT_EQ(log.Count("8 camera images were dropped", spdlog::level::warn), 1u);
}

}  // namespace
}  // namespace orbel::studio
