// The camera through the SDK's public factory: a sensor built with an image
// callback against the sensor emulator and the fake camera delivers point
// clouds and images side by side, and no image reaches the caller once its
// sensor handle is gone. (A camera that cannot be found fails the build:
// SensorEndToEnd.WantingImagesWithoutACameraFailsTheBuild.)
#include <gtest/gtest.h>

#include <thread>

#include "sdk/api/EmulatedSensor.h"
#include "support/FakeCamera.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::emulator::SensorEmulator;
using orbel::sdk::PixelFormat;
using orbel::sdk::SensorFactory;
using orbel::testing::Recorded;

struct Images {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<orbel::sdk::IImage>> images;

    orbel::sdk::ImageCallback Callback() {
        return [this](std::unique_ptr<orbel::sdk::IImage> image) {
            std::lock_guard lock(mutex);
            images.push_back(std::move(image));
            changed.notify_all();
        };
    }
    bool WaitFor(size_t count, std::chrono::milliseconds deadline = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, deadline, [&] { return images.size() >= count; });
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return images.size();
    }
};

TEST(CameraEndToEnd, PointCloudsAndImagesBothArrive) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    fake.Configure("Width=320 Height=240 AcquisitionFrameRate=30");
    struct Case {
        std::optional<PixelFormat> requested;
        PixelFormat delivered;
        size_t bytesPerPixel;
    };
    const size_t threadsBefore = orbel::testing::ThreadCount();
    // The factory's own default is RGB12; the program asks for RGB8.
    for (const Case& c : {Case{std::nullopt, PixelFormat::RGB12, 6}, Case{PixelFormat::RGB8, PixelFormat::RGB8, 3}}) {
        SCOPED_TRACE(static_cast<int>(c.delivered));
        orbel::testing::WithinDeadline([&] {
            SensorEmulator emulator;
            Recorded recorded;
            Images images;
            SensorFactory factory;
            orbel::testing::ConfigureRecording(factory, recorded);
            factory.SetCameraIPAddress(fake.Address());
            factory.SetImageCallback(images.Callback());
            if (c.requested) factory.SetImageOutputFormat(*c.requested);
            auto sensor = factory.Build("127.0.0.1", emulator.Port());
            auto camera = sensor->GetCamera();
            ASSERT_NE(camera, nullptr);
            EXPECT_EQ(camera->GetSerialNumber(), fake.Serial());

            sensor->Start(5s);
            camera->Start(5s);
            ASSERT_TRUE(images.WaitFor(5));
            ASSERT_TRUE(recorded.WaitUntil([&] { return recorded.clouds.size() >= 2 * 56; }));
            camera->Stop(5s);
            sensor->Stop(5s);

            std::lock_guard lock(images.mutex);
            for (size_t i = 0; i < images.images.size(); ++i) {
                const auto& image = images.images[i];
                EXPECT_EQ(image->GetPixelFormat(), c.delivered);
                EXPECT_EQ(image->GetWidth(), 320u);
                EXPECT_EQ(image->GetHeight(), 240u);
                EXPECT_EQ(image->GetData().size(), 320u * 240 * c.bytesPerPixel);
                if (i > 0) {
                    const uint32_t step = orbel::testing::FakeCamera::FramesBetween(
                        images.images[i - 1]->GetMetadata().frameId, image->GetMetadata().frameId);
                    EXPECT_TRUE(step >= 1 && step < 10) << step;
                }
            }
            std::lock_guard cloudLock(recorded.mutex);
            EXPECT_TRUE(recorded.errors.empty()) << recorded.errors.front().second;
        });
        // The last reference to the sensor may go on one of its own threads, which
        // then releases the camera there: everything has ended once the count is back.
        EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() <= threadsBefore; }))
            << orbel::testing::ThreadCount() << " threads, " << threadsBefore << " before";
    }
}

TEST(CameraEndToEnd, NoImageReachesTheCallerOnceItsSensorHandleIsGone) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    fake.Configure("Width=64 Height=48 AcquisitionFrameRate=100");
    const size_t threadsBefore = orbel::testing::ThreadCount();
    orbel::testing::WithinDeadline([&] {
        SensorEmulator emulator;
        Images images;
        std::shared_ptr<orbel::sdk::ICamera> camera;
        {
            SensorFactory factory;
            factory.SetCameraIPAddress(fake.Address());
            factory.SetImageCallback(images.Callback());
            auto sensor = factory.Build("127.0.0.1", emulator.Port());
            camera = sensor->GetCamera();
            camera->Start(5s);
            ASSERT_TRUE(images.WaitFor(3));
        }
        const size_t atRelease = images.Count();
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(images.Count(), atRelease);
        EXPECT_TRUE(camera->IsRunning());
        camera->Stop(5s);
    });
    EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() <= threadsBefore; }))
        << orbel::testing::ThreadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
