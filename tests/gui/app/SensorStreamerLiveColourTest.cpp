// The live colorizer end to end: the sensor emulator and the fake camera stream side by
// side, the streamer runs the camera and the colorizer, and a QEXT file made here maps
// the emulator's room into the camera's image. Published frames carry the colours of the
// camera image nearest in time at the pixels their points project to, and the 3D view's
// "embedded" colour map draws them; once the camera stops, frames keep coming uncoloured.
//
// Clocks: the colorizer matches on the clouds' main time stamp, which the emulator takes
// from the wall clock. The SDK reads a camera's device clock as TAI, as a PTP camera keeps
// it, and subtracts the 37 s by which TAI leads UTC; the fake camera counts UTC, so its
// images come out 37 s behind the wall clock. The emulator's main time stamp is shifted
// by the same 37 s to share the camera's clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>
#include <orbel/sdk/IImage.h>

#include "app/FrameData.h"
#include "app/SensorStreamer.h"
#include "app/ViewerConfig.h"
#include "gui/app/ProgramLogCapture.h"
#include "gui/app/SensorStreamerTestPeer.h"
#include "support/FakeCamera.h"
#include "support/QextBytes.h"
#include "support/Threads.h"
#include "views/LidarCloud.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::FrameData;
using orbel::studio::gui::SensorStreamer;
using orbel::studio::gui::SensorStreamerTestPeer;
using orbel::testing::Eventually;

constexpr int64_t kTaiMinusUtc_us = 37'000'000;
constexpr uint32_t kImageWidth = 320;
constexpr uint32_t kImageHeight = 240;

// The lidar looks along x (y left, z up); the camera sits 40 mm to the lidar's right and
// 25 mm above it, looking the same way. Its focal lengths fit the lidar's 120 x 40 degree
// field into the image: columns span tan(60°) x 80 ≈ 139 pixels each side of the centre,
// rows tan(20°) x 300 ≈ 109. Different focal lengths catch swapped axes.
struct Alignment {
    float t0 = 0, t1 = -40, t2 = -25;
    float fx = 80, fy = 300, cx = 160, cy = 120;

    std::vector<uint8_t> Qext() const {
        return orbel::testing::QextBytes({1, 0, 0, 0, 1, 0, 0, 0, 1, t0, t1, t2, 0, 0, fx, fy, cx, cy});
    }

    // The pixel a point falls on, or false outside the image: the pinhole without
    // distortion in single precision, rounding halves away from zero. `nearHalf` tells a
    // point within a rounding error of a pixel border, whose pixel the arithmetic's order
    // decides.
    bool Pixel(float x, float y, float z, int32_t& column, int32_t& row, bool& nearHalf) const {
        const float c0 = x + t0;
        const float c1 = y + t1;
        const float c2 = z + t2;
        if (std::fabs(x) < 1e-6f || c0 < 1e-6f) return false;
        const float u = -c1 / c0;
        const float v = -c2 / c0;
        const float exactColumn = u * fx + cx;
        const float exactRow = v * fy + cy;
        const auto offHalf = [](float value) { return std::fabs(value - std::floor(value) - 0.5f) < 1e-3f; };
        nearHalf = offHalf(exactColumn) || offHalf(exactRow);
        column = static_cast<int32_t>(std::lround(exactColumn));
        row = static_cast<int32_t>(std::lround(exactRow));
        return column >= 0 && column < static_cast<int32_t>(kImageWidth) && row >= 0 &&
               row < static_cast<int32_t>(kImageHeight);
    }
};

struct Published : orbel::studio::IConsumer<FrameData>, orbel::studio::IConsumer<orbel::sdk::IImage> {
    std::mutex mutex;
    std::vector<std::shared_ptr<FrameData>> frames;
    std::vector<std::shared_ptr<orbel::sdk::IImage>> images;

    void Consume(std::shared_ptr<FrameData> frame) override {
        std::lock_guard lock(mutex);
        frames.push_back(std::move(frame));
    }
    void Consume(std::shared_ptr<orbel::sdk::IImage> image) override {
        std::lock_guard lock(mutex);
        images.push_back(std::move(image));
    }
    static bool Coloured(const FrameData& frame) {
        if (frame.rgb.size() != frame.xyz.size()) return false;
        for (uint8_t byte : frame.rgb)
            if (byte != 0) return true;
        return false;
    }
    size_t ColouredFrames() {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [](auto& f) { return Coloured(*f); }));
    }
    // Frames from index `from` on without colours.
    size_t UncolouredFrom(size_t from) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (size_t i = from; i < frames.size(); ++i) n += frames[i]->rgb.empty();
        return n;
    }
    size_t FrameCount() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
};

uint64_t DeviceTime_us(const orbel::sdk::IImage& image) { return image.GetMetadata().deviceTimestamp_us; }

// The image a cloud stamped t is matched with: the nearest by device time, the later one
// on a tie. `images` is in time order.
const orbel::sdk::IImage* Nearest(const std::vector<std::shared_ptr<orbel::sdk::IImage>>& images, uint64_t t) {
    const orbel::sdk::IImage* best = nullptr;
    uint64_t bestDistance = UINT64_MAX;
    for (const auto& image : images) {
        const uint64_t time = DeviceTime_us(*image);
        const uint64_t distance = time > t ? time - t : t - time;
        if (distance <= bestDistance) {
            best = image.get();
            bestDistance = distance;
        }
    }
    return best;
}

TEST(StreamerWithCameraAndColorizer, ColoursFramesFromTheCameraAndGoesOnUncolouredWhenItStops) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    fake.Configure("Width=" + std::to_string(kImageWidth) + " Height=" + std::to_string(kImageHeight) +
                   " AcquisitionFrameRate=25");
    orbel::emulator::EmulatorOptions options;
    options.pointType = orbel::emulator::PointType::Basic;  // no colours of its own
    options.timestampOffset_us = -kTaiMinusUtc_us;
    orbel::emulator::SensorEmulator emulator(options);

    const Alignment alignment;
    const auto qextPath = std::filesystem::temp_directory_path() /
                          ("orbel-live-colour-" + std::to_string(::getpid()) + ".qext");
    {
        const std::vector<uint8_t> bytes = alignment.Qext();
        std::ofstream(qextPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    orbel::testing::ProgramLogCapture log;
    auto appState = std::make_shared<orbel::studio::gui::AppState>();
    auto config = std::make_shared<orbel::studio::SensorConfig>();
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    config->sensor_ip = "127.0.0.1";
    config->sensor_port = emulator.Port();
    config->camera_ip = fake.Address();
    config->enable_camera = true;
    config->qext_path = qextPath.string();
    Published published;
    dispatcher->Subscribe<FrameData>(&published);
    dispatcher->Subscribe<orbel::sdk::IImage>(&published);
    size_t framesBeforeCameraStop = 0;
    {
        SensorStreamer streamer(appState, config, dispatcher);
        streamer.cameraEnabled = true;
        streamer.colorizerEnabled = true;
        streamer.useAlternateTimestamp = false;
        streamer.Start();
        ASSERT_TRUE(appState->streaming);
        ASSERT_TRUE(appState->cameraRunning);
        EXPECT_TRUE(log.Contains("Colorizer initialized", spdlog::level::info));
        EXPECT_TRUE(Eventually([&] { return published.ColouredFrames() >= 30; }, 30s))
            << published.FrameCount() << " frames, " << published.ColouredFrames() << " coloured";

        // The camera stops: the clouds after its last image wait for a match until the
        // colorizer's queue is full, then leave it uncoloured, and the stream goes on.
        auto camera = SensorStreamerTestPeer::Camera(streamer);
        ASSERT_NE(camera, nullptr);
        camera->Stop(5000ms);
        framesBeforeCameraStop = published.FrameCount();
        EXPECT_TRUE(Eventually([&] { return published.UncolouredFrom(framesBeforeCameraStop) >= 5; }, 30s))
            << published.FrameCount() - framesBeforeCameraStop << " frames since the camera stopped";
        streamer.Stop();
        EXPECT_EQ(log.Count("Large timestamp difference", spdlog::level::warn), 0u);
        EXPECT_EQ(log.Count("", spdlog::level::err), 0u);
    }
    dispatcher->Unsubscribe<FrameData>(&published);
    dispatcher->Unsubscribe<orbel::sdk::IImage>(&published);
    std::error_code ignored;
    std::filesystem::remove(qextPath, ignored);

    std::lock_guard lock(published.mutex);
    ASSERT_GE(published.images.size(), 20u);
    const uint64_t firstImage = DeviceTime_us(*published.images.front());
    const uint64_t lastImage = DeviceTime_us(*published.images.back());

    // Frames well inside the time the images span, where every image near a line has
    // been seen here: each line took the colours of the nearest image at its points' pixels.
    size_t checkedFrames = 0;
    size_t framePoints = 0;
    size_t checkedPoints = 0;
    std::set<int> distinctColours;
    for (const auto& frame : published.frames) {
        if (!Published::Coloured(*frame) || frame->timestamps.empty()) continue;
        if (frame->timestamps.front() < firstImage + 300'000 || frame->timestamps.back() + 300'000 > lastImage) {
            continue;
        }
        ++checkedFrames;
        framePoints += frame->timestamps.size();
        for (size_t i = 0; i < frame->timestamps.size(); ++i) {
            const orbel::sdk::IImage* image = Nearest(published.images, frame->timestamps[i]);
            ASSERT_NE(image, nullptr);
            ASSERT_EQ(image->GetPixelFormat(), orbel::sdk::PixelFormat::RGB8);
            ASSERT_EQ(image->GetWidth(), kImageWidth);
            const float x = frame->xyz[3 * i], y = frame->xyz[3 * i + 1], z = frame->xyz[3 * i + 2];
            uint8_t expected[3] = {0, 0, 0};
            int32_t column = 0, row = 0;
            bool nearHalf = false;
            const bool inside = alignment.Pixel(x, y, z, column, row, nearHalf);
            if (nearHalf) continue;
            if (inside) {
                const uint8_t* pixel = image->GetData().data() + 3 * (row * kImageWidth + column);
                std::copy_n(pixel, 3, expected);
                ++checkedPoints;
                distinctColours.insert(expected[0] << 16 | expected[1] << 8 | expected[2]);
            }
            ASSERT_TRUE(std::equal(expected, expected + 3, frame->rgb.begin() + 3 * i))
                << "frame " << frame->frameNumber << " point " << i << " (" << x << ", " << y << ", " << z
                << ") at pixel (" << column << ", " << row << ") of the image at " << DeviceTime_us(*image)
                << " us: " << int{frame->rgb[3 * i]} << " " << int{frame->rgb[3 * i + 1]} << " "
                << int{frame->rgb[3 * i + 2]} << " instead of " << int{expected[0]} << " " << int{expected[1]}
                << " " << int{expected[2]};
        }
    }
    EXPECT_GE(checkedFrames, 10u);
    EXPECT_GE(checkedPoints, framePoints * 3 / 4);  // most points lie in the image
    // The camera's pattern changes from pixel to pixel and from image to image, so a
    // point coloured from a neighbouring pixel or another image would have shown.
    EXPECT_GE(distinctColours.size(), 100u);

    // After the camera stopped: the frames end uncoloured, their lines later than every image.
    ASSERT_GE(published.frames.size(), framesBeforeCameraStop + 5);
    const FrameData& last = *published.frames.back();
    EXPECT_TRUE(last.rgb.empty());
    EXPECT_GT(last.timestamps.front(), lastImage);

    // The 3D view's "embedded" colour map draws each point in its own colour.
    const auto coloured = std::find_if(published.frames.begin(), published.frames.end(),
                                       [](const auto& f) { return Published::Coloured(*f); });
    ASSERT_NE(coloured, published.frames.end());
    orbel::studio::gui::ViewerConfig viewer;
    viewer.view3d_colormap = orbel::studio::gui::COLORMAP_EMBEDDED;
    orbel::studio::gui::SceneObject object;
    std::vector<float> pick;
    orbel::studio::gui::BuildLidarObject(**coloured, viewer, object, pick);
    EXPECT_EQ(object.color_mode, static_cast<int>(orbel::studio::gui::COLORMAP_EMBEDDED));
    ASSERT_EQ(object.colors.size() * 3, (*coloured)->rgb.size());
    for (size_t i = 0; i < object.colors.size(); ++i) {
        const auto& c = object.colors[i];
        ASSERT_FLOAT_EQ(c.x * 255.0f, (*coloured)->rgb[3 * i]) << i;
        ASSERT_FLOAT_EQ(c.y * 255.0f, (*coloured)->rgb[3 * i + 1]) << i;
        ASSERT_FLOAT_EQ(c.z * 255.0f, (*coloured)->rgb[3 * i + 2]) << i;
    }
}

}  // namespace
