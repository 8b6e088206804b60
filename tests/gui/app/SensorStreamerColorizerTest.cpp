// The streamer's live colorizer path with the real colorizer: the sensor emulator
// streams uncoloured (type 0x60) lines, the test stands in for the camera's delivery
// thread with RGB8 images of one colour, and the published frames show that colour;
// when the images stop, frames keep arriving uncoloured. The PTP warning compares the
// clock the colorizer matches on. A QEXT file that cannot be used fails the start with
// its reason.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include <orbel/emulator/SensorEmulator.h>
#include <orbel/sdk/IImage.h>

#include "app/FrameData.h"
#include "app/SensorStreamer.h"
#include "gui/app/ProgramLogCapture.h"
#include "gui/app/SensorStreamerTestPeer.h"
#include "support/QextBytes.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::FrameData;
using orbel::studio::gui::SensorStreamer;
using orbel::studio::gui::SensorStreamerTestPeer;
using orbel::testing::Eventually;

constexpr uint8_t kRed = 10, kGreen = 200, kBlue = 30;

// A 64 x 64 RGB8 image of one colour, through the serialised form (64-byte header).
std::unique_ptr<orbel::sdk::IImage> UniformImage(uint64_t deviceTime_us) {
    constexpr uint32_t kSide = 64;
    std::vector<uint8_t> bytes(64 + 3 * kSide * kSide);
    bytes[0] = 1;
    for (int i = 0; i < 8; ++i) bytes[1 + i] = static_cast<uint8_t>(deviceTime_us >> (8 * i));
    for (int i = 0; i < 4; ++i) {
        bytes[21 + i] = static_cast<uint8_t>(kSide >> (8 * i));
        bytes[25 + i] = static_cast<uint8_t>(kSide >> (8 * i));
    }
    bytes[29] = static_cast<uint8_t>(orbel::sdk::PixelFormat::RGB8);
    for (size_t p = 64; p < bytes.size(); p += 3) {
        bytes[p] = kRed;
        bytes[p + 1] = kGreen;
        bytes[p + 2] = kBlue;
    }
    auto image = orbel::sdk::CreateImage();
    image->Deserialize(bytes);
    return image;
}

// Identity rotation and a unit pinhole centred on the 64 x 64 image: every point in
// front of the sensor lands within a few pixels of its centre.
std::vector<uint8_t> CentredQext() {
    return orbel::testing::QextBytes({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 32, 32});
}

uint64_t WallClock_us() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

struct Frames : orbel::studio::IConsumer<FrameData> {
    std::mutex mutex;
    std::vector<std::shared_ptr<FrameData>> frames;
    void Consume(std::shared_ptr<FrameData> frame) override {
        std::lock_guard lock(mutex);
        frames.push_back(std::move(frame));
    }
    // Frames after the first `from` whose every point has the test colour (or is black,
    // for the few points the projection cannot place), and those without colours.
    size_t Coloured(size_t from = 0) { return CountFrom(from, [](const FrameData& f) { return IsTestColoured(f); }); }
    size_t Uncoloured(size_t from = 0) { return CountFrom(from, [](const FrameData& f) { return f.rgb.empty(); }); }
    size_t Count() {
        std::lock_guard lock(mutex);
        return frames.size();
    }

private:
    template <typename Predicate>
    size_t CountFrom(size_t from, Predicate predicate) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (size_t i = from; i < frames.size(); ++i) n += predicate(*frames[i]);
        return n;
    }
    static bool IsTestColoured(const FrameData& frame) {
        if (frame.rgb.size() != frame.xyz.size() || frame.rgb.empty()) return false;
        size_t coloured = 0;
        for (size_t p = 0; p < frame.rgb.size(); p += 3) {
            const bool test = frame.rgb[p] == kRed && frame.rgb[p + 1] == kGreen && frame.rgb[p + 2] == kBlue;
            const bool black = frame.rgb[p] == 0 && frame.rgb[p + 1] == 0 && frame.rgb[p + 2] == 0;
            if (!test && !black) return false;
            coloured += test;
        }
        return coloured * 3 * 10 >= frame.rgb.size() * 9;  // at least 90 % of the points
    }
};

class StreamerColorizerTest : public ::testing::Test {
protected:
    StreamerColorizerTest() {
        orbel::emulator::EmulatorOptions options;
        options.pointType = orbel::emulator::PointType::Basic;
        emulator = std::make_unique<orbel::emulator::SensorEmulator>(options);
        qextPath = std::filesystem::temp_directory_path() /
                   ("orbel-streamer-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".qext");
    }
    void SetUp() override {
        config->sensor_ip = "127.0.0.1";
        config->sensor_port = emulator->Port();
        config->camera_ip = "127.0.0.1";
        config->qext_path = qextPath.string();
        dispatcher->Subscribe<FrameData>(&frames);
        streamer = std::make_unique<SensorStreamer>(appState, config, dispatcher);
        streamer->cameraEnabled = false;  // the test delivers the images itself
        streamer->colorizerEnabled = true;
        streamer->useAlternateTimestamp = false;  // the emulator's time stamp is the wall clock
    }
    void TearDown() override {
        StopImages();
        streamer.reset();
        dispatcher->Unsubscribe<FrameData>(&frames);
        std::error_code error;
        std::filesystem::remove(qextPath, error);
    }
    void WriteQext(const std::vector<uint8_t>& bytes) {
        std::ofstream(qextPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // One image every 20 ms stamped with the wall clock, as a camera synchronised with
    // the sensor would deliver them.
    void StartImages() {
        imagesRunning = true;
        images = std::thread([this] {
            while (imagesRunning) {
                SensorStreamerTestPeer::DeliverImage(*streamer, UniformImage(WallClock_us()));
                std::this_thread::sleep_for(20ms);
            }
        });
    }
    void StopImages() {
        imagesRunning = false;
        if (images.joinable()) images.join();
    }

    orbel::testing::ProgramLogCapture log;
    std::unique_ptr<orbel::emulator::SensorEmulator> emulator;
    std::filesystem::path qextPath;
    std::shared_ptr<orbel::studio::gui::AppState> appState = std::make_shared<orbel::studio::gui::AppState>();
    std::shared_ptr<orbel::studio::SensorConfig> config = std::make_shared<orbel::studio::SensorConfig>();
    std::shared_ptr<orbel::studio::ObjectDispatcher> dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    Frames frames;
    std::unique_ptr<SensorStreamer> streamer;
    std::atomic<bool> imagesRunning{false};
    std::thread images;
};

TEST_F(StreamerColorizerTest, FramesTakeTheImagesColourAndGoOnUncolouredWhenImagesStop) {
    WriteQext(CentredQext());
    StartImages();
    streamer->Start();
    ASSERT_TRUE(appState->streaming);
    EXPECT_TRUE(log.Contains("Colorizer initialized", spdlog::level::info));
    ASSERT_TRUE(Eventually([&] { return frames.Coloured() >= 3; }, 20s))
        << frames.Count() << " frames, " << frames.Coloured() << " coloured";

    // The camera stops: clouds newer than every image wait until the colorizer's queue
    // is full, then leave it uncoloured; the stream does not freeze.
    StopImages();
    const size_t before = frames.Count();
    EXPECT_TRUE(Eventually([&] { return frames.Uncoloured(before) >= 3; }, 20s))
        << frames.Count() - before << " frames since the images stopped";
    streamer->Stop();
    EXPECT_FALSE(appState->streaming);
}

// The emulator's main time stamp is the wall clock, as are the images' device times; its
// alternate time stamp counts from its start. The PTP warning compares the clock that the
// colorizer matches on.
TEST_F(StreamerColorizerTest, TimestampWarningComparesTheClockTheColorizerMatchesOn) {
    const struct {
        bool alternate;
        size_t warnings;  // so far
    } cases[] = {{false, 0}, {true, 1}};
    WriteQext(CentredQext());
    for (const auto& c : cases) {
        streamer->useAlternateTimestamp = c.alternate;
        StartImages();
        streamer->Start();
        ASSERT_TRUE(appState->streaming) << c.alternate;
        const size_t before = frames.Count();
        // Both streams have delivered: the check has run. (Without a camera worker the
        // images the streamer takes stay queued.)
        EXPECT_TRUE(Eventually([&] { return frames.Count() >= before + 2 && streamer->PendingImages() > 0; }, 20s))
            << c.alternate;
        streamer->Stop();
        StopImages();
        EXPECT_EQ(log.Count("Large timestamp difference detected", spdlog::level::warn), c.warnings) << c.alternate;
    }
}

TEST_F(StreamerColorizerTest, UnusableQextFileFailsTheStartWithItsReason) {
    struct Case {
        const char* name;
        std::function<void()> make;  // puts the case's file (or none) at the path
        std::string reason;
    };
    std::vector<uint8_t> shortFile = CentredQext();
    shortFile.resize(40);
    const std::string path = qextPath.string();
    const Case cases[] = {
        {"missing", [] {}, "Cannot open " + path},
        {"short", [&] { WriteQext(shortFile); }, "QEXT file " + path + " holds 40 bytes"},
        // Opening a FIFO with no writer would wait for ever, and the start with it.
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(qextPath.c_str(), 0600), 0); }, "Not a regular file (a FIFO): " + path},
        {"folder", [&] { std::filesystem::create_directory(qextPath); }, "Not a regular file (a folder): " + path},
    };
    for (const Case& c : cases) {
        std::error_code error;
        std::filesystem::remove(qextPath, error);
        c.make();
        auto start = std::async(std::launch::async, [&] { streamer->Start(); });
        if (start.wait_for(30s) != std::future_status::ready) {
            ::close(::open(qextPath.c_str(), O_WRONLY | O_NONBLOCK));  // lets a waiting open go
            start.wait();
            ADD_FAILURE() << c.name << ": the start waited on the file";
        }
        EXPECT_FALSE(appState->streaming) << c.name;
        EXPECT_FALSE(appState->busy) << c.name;
        EXPECT_EQ(log.Count("Failed to start sensor: " + c.reason, spdlog::level::err), 1u) << c.name;
        const auto toast = appState->PendingToast();
        ASSERT_TRUE(toast) << c.name;
        EXPECT_EQ(toast->text.rfind("Colorizer not started: " + c.reason, 0), 0u) << toast->text;
        EXPECT_EQ(toast->level, 3) << c.name;
    }
    std::error_code error;
    std::filesystem::remove(qextPath, error);
}

}  // namespace
