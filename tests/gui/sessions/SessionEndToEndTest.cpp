// A session end to end without a window: the sensor emulator streams on loopback, the
// program's streamer assembles and publishes frames, the recorder panel records 5 s, the
// lidar replay panel plays the recorded session, and the converter writes it as PLY. The
// files are checked against the emulator's own record and against its scene, regenerated
// for every recorded frame number.
#include <gtest/gtest.h>

#include <orbel/emulator/SensorEmulator.h>

#include "app/AppContext.h"
#include "app/SensorStreamer.h"
#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/ConverterPanel.h"
#include "sessions/QpcFile.h"
#include "sessions/PlyFile.h"
#include "sessions/RecorderPanel.h"
#include "sessions/ReplayPanel.h"
#include "support/LostFrames.h"
#include "support/Threads.h"

namespace orbel::studio::gui {
namespace {

using testing::Collector;
using testing::Eventually;
namespace fs = std::filesystem;

class SessionEndToEnd : public testing::ScratchFolder {};

TEST_F(SessionEndToEnd, RecordReplayAndConvertFiveSecondsOfTheEmulator) {
    testing::ProgramLogCapture log;
    emulator::SensorEmulator emulator;  // 192 points a line, type 0x6F, 20 frames per second
    auto context = std::make_shared<AppContext>();
    auto config = std::make_shared<SensorConfig>();
    config->sensor_ip = "127.0.0.1";
    config->sensor_port = emulator.Port();
    config->camera_ip = "127.0.0.1";
    config->enable_camera = false;

    const fs::path session = root_ / "session";
    {
        SensorStreamer streamer(context->appState, config, context->dispatcher);
        streamer.cameraEnabled = false;
        RecorderPanel recorder(context, config);
        streamer.Start();
        ASSERT_TRUE(context->appState->streaming.load());
        recorder.SetOutputFolder(session.string());
        recorder.PressRecordButton();
        ASSERT_TRUE(recorder.IsRecording());
        // About 5 s at 20 frames/s, counted in frames: a loaded machine slows the stream, not the check.
        const uint64_t streamedAtStart = emulator.StreamedFrames();
        ASSERT_TRUE(Eventually([&] { return emulator.StreamedFrames() >= streamedAtStart + 100; },
                               std::chrono::seconds(60)));
        recorder.PressRecordButton();
        streamer.Stop();
    }

    // What was recorded: whole frames of consecutive numbers, each the emulator's frame. A
    // machine too loaded to take the lines in as fast as they come loses some of them (the
    // SDK's buffer is bounded); a frame lost so is named in the log, never missing in silence.
    const auto files = ListReplayFiles(session / "frames_qpc", FileType::Qpc);
    ASSERT_FALSE(files.empty());
    std::string warnings;
    for (const auto& record : log.Records()) {
        if (record.level == spdlog::level::warn) warnings += record.text + "\n";
    }
    size_t told = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const uint64_t frame = *ExtractFileId(files[i]);
        for (uint64_t missing = i == 0 ? frame : *ExtractFileId(files[i - 1]) + 1; missing < frame; ++missing) {
            EXPECT_TRUE(testing::LogNamesFrameLost(warnings, missing))
                << "frame " << missing << " is missing without a word";
            ++told;
        }
        ASSERT_EQ(fs::file_size(files[i]), 56u * (265 + 69 * 192)) << files[i];
    }
    ASSERT_GE(files.size() + told, 90u) << "100 frames streamed while recording";
    ASSERT_LE(files.size(), 110u);
    const emulator::PointCloudGenerator scene(192, emulator::PointType::Extended);
    ASSERT_TRUE(emulator.LastStreamedFrameNumber().has_value());
    EXPECT_LE(*ExtractFileId(files.back()), *emulator.LastStreamedFrameNumber());
    EXPECT_GE(emulator.StreamedFrames(), files.size());
    for (const size_t i : {size_t{0}, files.size() / 2, files.size() - 1}) {
        const auto merged = ReadQpcPointCloud(files[i]);
        ASSERT_NE(merged, nullptr);
        ASSERT_EQ(merged->GetPointCount(), 56u * 192);
        const uint32_t frame = static_cast<uint32_t>(*ExtractFileId(files[i]));
        for (const uint8_t line : {uint8_t{0}, uint8_t{31}, uint8_t{55}}) {
            const auto sent = testing::Cloud(scene.MakeLine({frame, line, 0, 0, 0}));
            for (size_t p = 0; p < 192; p += 37) {
                EXPECT_EQ(merged->GetX()[line * 192 + p], sent->GetX()[p]) << frame << "/" << int(line) << "/" << p;
                EXPECT_EQ(merged->GetZ()[line * 192 + p], sent->GetZ()[p]) << frame << "/" << int(line) << "/" << p;
            }
        }
    }

    // Replayed: every recorded frame reaches the views.
    {
        Collector<FrameData> views;
        context->dispatcher->Subscribe<FrameData>(&views);
        ReplayPanel replay(0);
        replay.SetDispatcher(context->dispatcher);
        replay.SetFolder(session.string());
        replay.LoadSession(context->appState);
        ASSERT_NE(replay.Player(), nullptr);
        ASSERT_TRUE(Eventually([&] { return views.Count() == 1; }));
        replay.PressPlay();
        ASSERT_TRUE(Eventually([&] { return !replay.Player()->IsPlaying(); }, std::chrono::seconds(30)));
        const auto shown = views.Messages();
        ASSERT_EQ(shown.size(), 1 + files.size());
        for (size_t i = 1; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i]->sourceName, files[i - 1].filename().string());
            EXPECT_EQ(shown[i]->xyz.size(), 3u * 56 * 192);
        }
        context->dispatcher->Unsubscribe<FrameData>(&views);
    }

    // Converted to PLY: one file per frame, each with the frame's number and all its points.
    RunConversion(context->appState, std::make_shared<std::atomic<bool>>(false), session, root_ / "out", 0);
    EXPECT_EQ(context->appState->PendingToast()->text, "Conversion completed");
    const auto plys = ListReplayFiles(root_ / "out" / "frames_ply", FileType::Ply);
    ASSERT_EQ(plys.size(), files.size());
    for (size_t i = 0; i < plys.size(); i += 9) {
        const auto frame = ReadPly(plys[i]);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(static_cast<uint64_t>(static_cast<uint32_t>(frame->frameNumber)), *ExtractFileId(files[i]));
        EXPECT_EQ(frame->xyz.size(), 3u * 56 * 192);
        EXPECT_EQ(frame->rgb.size(), 3u * 56 * 192);  // the extended lines carry colours
    }
    EXPECT_EQ(log.Count("Failed", spdlog::level::err), 0u);
}

}  // namespace
}  // namespace orbel::studio::gui
