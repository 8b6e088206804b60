// The sensor streamer against the sensor emulator on loopback: frames assembled
// and published, start and stop, a lost sensor, a sensor that does not run, each
// stream's silence counted from its own start, and the streamer's lifetime against
// the SDK's process-wide log callback; the words its notices give.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <orbel/emulator/SensorEmulator.h>

#include "app/AppAction.h"
#include "app/FrameData.h"
#include "app/PointCloudWorker.h"
#include "app/SensorStreamer.h"
#include "gui/app/ProgramLogCapture.h"
#include "gui/app/SensorStreamerTestPeer.h"
#include "support/LoopbackPeer.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::AppAction;
using orbel::studio::AppActionType;
using orbel::studio::FrameData;
using orbel::studio::LineBatch;
using orbel::studio::gui::SensorStreamer;
using orbel::studio::gui::SensorStreamerTestPeer;
using orbel::testing::Eventually;

// Ends the test process when the guarded scope has not left in time, so that a call
// that hangs fails the run instead of stalling it.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what)
        : thread_([this, limit, what = std::move(what)] {
              std::unique_lock lock(mutex_);
              if (!done_changed_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "Watchdog: %s did not return within %lld s\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::_Exit(EXIT_FAILURE);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_changed_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread thread_;
};

struct Received : orbel::studio::IConsumer<FrameData>,
                  orbel::studio::IConsumer<LineBatch>,
                  orbel::studio::IConsumer<AppAction> {
    std::mutex mutex;
    std::vector<std::shared_ptr<FrameData>> frames;
    std::vector<std::vector<uint8_t>> batchLineIndices;
    std::vector<int32_t> actions;

    void Consume(std::shared_ptr<FrameData> frame) override {
        std::lock_guard lock(mutex);
        frames.push_back(std::move(frame));
    }
    void Consume(std::shared_ptr<LineBatch> batch) override {
        std::vector<uint8_t> indices;
        for (auto& line : *batch) indices.push_back(line->GetMetadata().lineIndex);
        std::lock_guard lock(mutex);
        batchLineIndices.push_back(std::move(indices));
    }
    void Consume(std::shared_ptr<AppAction> action) override {
        std::lock_guard lock(mutex);
        actions.push_back(action->type);
    }
    size_t FrameCount() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
};

class StreamerTest : public ::testing::Test {
protected:
    void SetUp() override {
        config->sensor_ip = "127.0.0.1";
        config->sensor_port = emulator.Port();
        config->camera_ip = "127.0.0.1";
        config->enable_camera = false;
        dispatcher->Subscribe<FrameData>(&received);
        dispatcher->Subscribe<LineBatch>(&received);
        dispatcher->Subscribe<AppAction>(&received);
        threadsBefore = orbel::testing::ThreadCount();
    }
    void TearDown() override {
        streamer.reset();
        dispatcher->Unsubscribe<FrameData>(&received);
        dispatcher->Unsubscribe<LineBatch>(&received);
        dispatcher->Unsubscribe<AppAction>(&received);
    }
    SensorStreamer& MakeStreamer() {
        streamer = std::make_unique<SensorStreamer>(appState, config, dispatcher);
        streamer->cameraEnabled = false;
        return *streamer;
    }
    std::string Toast() {
        auto toast = appState->PendingToast();
        return toast ? toast->text : "";
    }

    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    std::shared_ptr<orbel::studio::gui::AppState> appState = std::make_shared<orbel::studio::gui::AppState>();
    std::shared_ptr<orbel::studio::SensorConfig> config = std::make_shared<orbel::studio::SensorConfig>();
    std::shared_ptr<orbel::studio::ObjectDispatcher> dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    Received received;
    size_t threadsBefore = 0;
    std::unique_ptr<SensorStreamer> streamer;
};

TEST_F(StreamerTest, PublishesWholeFramesWhileStreaming) {
    SensorStreamer& s = MakeStreamer();
    s.Start();
    EXPECT_TRUE(appState->streaming);
    EXPECT_TRUE(appState->connected);
    EXPECT_FALSE(appState->busy);
    EXPECT_EQ(Toast(), "Sensor started");
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 3; }));
    s.Stop();
    EXPECT_FALSE(appState->streaming);
    EXPECT_EQ(Toast(), "Sensor stopped");
    EXPECT_TRUE(log.Contains("Sensor stopped", spdlog::level::info));
    EXPECT_FALSE(emulator.IsStreaming());

    std::lock_guard lock(received.mutex);
    // The first frame may have begun before the stream was taken up; the later ones are whole.
    for (size_t i = 1; i < received.frames.size(); ++i) {
        const FrameData& frame = *received.frames[i];
        EXPECT_EQ(frame.frameNumber, received.frames[i - 1]->frameNumber + 1);
        EXPECT_EQ(frame.height, 56u);
        EXPECT_EQ(frame.width, 192u);
        EXPECT_EQ(frame.xyz.size(), 56u * 192 * 3);
        EXPECT_EQ(frame.signal.size(), 56u * 192);
        EXPECT_EQ(frame.ambient.size(), 56u * 192);
        EXPECT_EQ(frame.timestamps.size(), 56u * 192);
        EXPECT_EQ(frame.rgb.size(), 56u * 192 * 3);
        std::vector<uint8_t> sorted(56);
        for (uint8_t l = 0; l < 56; ++l) sorted[l] = l;
        EXPECT_EQ(received.batchLineIndices[i], sorted);
    }
    // The camera is off: no camera was announced and no image waits.
    EXPECT_EQ(std::count(received.actions.begin(), received.actions.end(),
                         static_cast<int32_t>(AppActionType::CameraAvailable)),
              0);
    EXPECT_EQ(s.PendingImages(), 0u);
}

TEST_F(StreamerTest, LostSensorEndsStreamingAndReleasesItOffTheSdkThread) {
    SensorStreamer& s = MakeStreamer();
    s.Start();
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 1; }));
    ASSERT_TRUE(emulator.CloseClient(orbel::emulator::CloseMode::Graceful));

    ASSERT_TRUE(Eventually([&] { return !s.HasSensor(); }));
    s.WaitForPendingRelease();
    EXPECT_FALSE(appState->streaming);
    EXPECT_FALSE(appState->connected);
    EXPECT_TRUE(log.Contains("Sensor error: Exception: Unspecified error. Extra information: TCP connection closed by "
                             "remote host",
                             spdlog::level::err));
    // At most as many as before: a thread of an earlier test in the same process (a
    // repeated run) may still have been ending when the count was taken.
    EXPECT_TRUE(Eventually([&] { return orbel::testing::ThreadCount() <= threadsBefore; }))
        << orbel::testing::ThreadCount() << " threads, " << threadsBefore << " before";
}

// An error message from the sensor while it streams: the sensor is stopped over the
// link (Stop, then disconnected), as a Stop by the user would, off the SDK's thread.
TEST_F(StreamerTest, SensorErrorWhileStreamingStopsTheSensorBeforeReleasingIt) {
    SensorStreamer& s = MakeStreamer();
    s.Start();
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 1; }));
    emulator.ClearReceivedFrames();
    ASSERT_TRUE(emulator.SendError(0x4805));  // acquisition failed

    ASSERT_TRUE(Eventually([&] { return !s.HasSensor(); }));
    s.WaitForPendingRelease();
    EXPECT_TRUE(emulator.WaitForFrames(orbel::emulator::ids::kStop, 1, 0ms));
    EXPECT_FALSE(emulator.IsStreaming());
    EXPECT_FALSE(appState->streaming);
    EXPECT_FALSE(appState->connected);
    EXPECT_FALSE(appState->busy);
    EXPECT_EQ(log.Count("Sensor error: ", spdlog::level::err), 1u);
    EXPECT_TRUE(log.Contains("Sensor stopped", spdlog::level::info));
    EXPECT_EQ(Toast(), "Sensor stopped");
}

// A second Start while streaming leaves the running worker alone: it neither waits for
// it (the worker ends only with the stream) nor starts another beside it.
TEST_F(StreamerTest, SecondStartWhileStreamingKeepsTheRunningWorker) {
    SensorStreamer& s = MakeStreamer();
    s.Start();
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 1; }));
    {
        Watchdog watchdog(20s, "a second SensorStreamer::Start while streaming");
        s.Start();
    }
    EXPECT_TRUE(appState->streaming);
    EXPECT_FALSE(appState->busy);
    EXPECT_EQ(log.Count("Sensor started", spdlog::level::info), 1u);

    // Frames whose lines were queued when Start cleared the queue may lack some; every
    // frame begun after that is whole, which two workers sharing the queue could not build.
    const uint32_t lastCleared = emulator.LastStreamedFrameNumber().value();
    auto laterFrames = [&] {
        std::vector<std::shared_ptr<FrameData>> later;
        std::lock_guard lock(received.mutex);
        for (const auto& frame : received.frames) {
            if (static_cast<uint32_t>(frame->frameNumber) > lastCleared) later.push_back(frame);
        }
        return later;
    };
    ASSERT_TRUE(Eventually([&] { return laterFrames().size() >= 3; }));
    s.Stop();
    for (const auto& frame : laterFrames()) {
        EXPECT_EQ(frame->xyz.size(), 56u * 192 * 3) << "frame " << frame->frameNumber;
    }
}

TEST_F(StreamerTest, EndedStreamingStopsFillingTheQueues) {
    SensorStreamer& s = MakeStreamer();
    s.Start();
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 1; }));
    appState->streaming = false;  // the workers leave; the sensor still sends
    std::this_thread::sleep_for(100ms);  // callbacks already past their check finish
    const size_t leftBehind = s.PendingClouds();
    const uint64_t sent = emulator.StreamedMessages();
    ASSERT_TRUE(Eventually([&] { return emulator.StreamedMessages() > sent + 112; }));
    // What was queued when the workers left may stay; nothing new piles up behind it.
    EXPECT_LE(s.PendingClouds(), leftBehind);

    // A Start afterwards replaces the worker that ended on its own.
    const size_t frames = received.FrameCount();
    s.Start();
    EXPECT_TRUE(Eventually([&] { return received.FrameCount() >= frames + 2; }));
}

TEST_F(StreamerTest, SensorThatDoesNotRunIsNotReportedStreaming) {
    emulator.SetStateByte(0x10);  // the status answer carries an error flag
    SensorStreamer& s = MakeStreamer();
    s.Start();
    EXPECT_FALSE(appState->streaming);
    EXPECT_FALSE(appState->busy);
    EXPECT_EQ(Toast(), "Sensor did not start");
    EXPECT_TRUE(log.Contains("Cannot start streaming: the sensor reports state Error instead of Running",
                             spdlog::level::err));
}

TEST_F(StreamerTest, RunningSensorIsNotStartedAgain) {
    emulator.SetStateByte(0x02);
    SensorStreamer& s = MakeStreamer();
    s.Start();
    EXPECT_TRUE(appState->streaming);
    EXPECT_NE(Toast(), "Sensor started");
    EXPECT_FALSE(log.Contains("Sensor started", spdlog::level::info));
}

// Each stream counts its silence from its own start: a stream that went silent, stopped and
// started again tells no return of data when its lines come, and a first line 2 s after
// that start tells no silence.
TEST_F(StreamerTest, EachStreamCountsItsSilenceFromItsOwnStart) {
    emulator.SetStateByte(0x02);  // running already: no start command, so only the lines the test sends
    SensorStreamer& s = MakeStreamer();
    s.Start();
    ASSERT_TRUE(appState->streaming);
    ASSERT_TRUE(Eventually([&] { return log.Contains("No data from the sensor for 3 s", spdlog::level::warn); }, 30s));
    s.Stop();

    // The sensor reports itself running again on its own (started from elsewhere), so the
    // next Start starts no stream of the emulator's.
    ASSERT_TRUE(emulator.SendFrame(orbel::emulator::ids::kStarted, std::vector<uint8_t>{0}));
    ASSERT_TRUE(Eventually([&] {
        return SensorStreamerTestPeer::Sensor(s)->GetState() == orbel::sdk::SensorState::Running;
    }));
    s.Start();
    ASSERT_TRUE(appState->streaming);
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(emulator.StreamedMessages(), 0u);
    ASSERT_TRUE(emulator.SendPointCloudBurst(57));  // a whole frame and the line that ends it
    ASSERT_TRUE(Eventually([&] { return received.FrameCount() >= 1; }));
    s.Stop();
    EXPECT_EQ(log.Count("No data from the sensor", spdlog::level::warn), 1u) << "told again for the new stream";
    EXPECT_EQ(log.Count("Data from the sensor again", spdlog::level::info), 0u) << "the new stream's data told as a return";
}

TEST_F(StreamerTest, UnreachableSensorFailsTheStartCleanly) {
    config->sensor_port = orbel::testing::LoopbackPeer::UnusedPort();
    SensorStreamer& s = MakeStreamer();
    s.Start();
    EXPECT_FALSE(appState->streaming);
    EXPECT_FALSE(appState->connected);
    EXPECT_FALSE(appState->busy);
    EXPECT_EQ(Toast(), "Sensor is not available: Connection refused");
    EXPECT_EQ(log.Count("Failed to connect to sensor. (", spdlog::level::err), 1u);
    EXPECT_TRUE(log.Contains("Sensor creation failed", spdlog::level::err));
    EXPECT_TRUE(log.Contains("Cannot start streaming: sensor is not available", spdlog::level::err));
}

TEST_F(StreamerTest, SdkLogCallbackDoesNotOutliveTheStreamer) {
    MakeStreamer().Connect();
    streamer.reset();
    // Without the streamer's callback cleared this would call into freed memory.
    orbel::sdk::Log(orbel::sdk::Severity::ERROR, L"late error", __FILE__, __LINE__, "test");
    SUCCEED();
}

TEST(SensorStreamerRules, UserMessages) {
    EXPECT_EQ(SensorStreamer::UserMessageFor("Exception: ... Failed to create camera: none"), "Camera not found");
    EXPECT_EQ(SensorStreamer::UserMessageFor("Failed to start camera: busy"), "Failed to start camera");
    EXPECT_EQ(SensorStreamer::UserMessageFor("connect error 10060"),
              "Sensor is currently busy. Please try again in a few moments.");
    EXPECT_EQ(SensorStreamer::UserMessageFor("anything else"), "anything else");
}

// The words a notice gives for a failure: an SDK exception's detail, a camera's own reason.
TEST(SensorStreamerRules, ShortReasons) {
    const std::pair<std::string, std::string> cases[] = {
        {orbel::sdk::Exception("Connection refused", orbel::sdk::SensorError::CONNECTION_FAILED).what(),
         "Connection refused"},
        {orbel::sdk::Exception("Failed to create camera: Camera not found at IP 127.0.0.3",
                               orbel::sdk::SensorError::CONNECTION_FAILED)
             .what(),
         "Camera not found at IP 127.0.0.3"},
        {orbel::sdk::Exception("Camera acquisition error: The camera stopped answering",
                               orbel::sdk::SensorError::UNKNOWN_ERROR)
             .what(),
         "The camera stopped answering"},
        {"QEXT file /tmp/a.qext holds 10 bytes, 72 needed", "QEXT file /tmp/a.qext holds 10 bytes, 72 needed"},
        {"Not a regular file (a FIFO): /tmp/a.qext", "Not a regular file (a FIFO): /tmp/a.qext"},
        // Without a detail, or with one that says nothing, the code's own text: a notice
        // never ends at its colon.
        {orbel::sdk::Exception("", orbel::sdk::SensorError::UNKNOWN_ERROR).what(),
         "An error occurred that is not specifically handled by this SDK"},
        {orbel::sdk::Exception(" .", orbel::sdk::SensorError::COMMAND_TIMEOUT).what(), "Unspecified error"},
        {orbel::sdk::Exception("Failed to start camera: ", orbel::sdk::SensorError::UNABLE_TO_START).what(),
         "Failed to start the sensor. Please check the sensor's configuration and try again"},
    };
    for (const auto& [text, reason] : cases) EXPECT_EQ(SensorStreamer::ShortReason(text), reason) << text;
}

TEST(SensorStreamerRules, TimestampWarningThreshold) {
    EXPECT_TRUE(SensorStreamer::TimestampsDiverge(100'000'001, 40'000'000));
    EXPECT_FALSE(SensorStreamer::TimestampsDiverge(100'000'000, 40'000'000));
    EXPECT_TRUE(SensorStreamer::TimestampsDiverge(40'000'000, 100'000'001));
}

}  // namespace
