// The camera against the fake camera on loopback: connecting (and each way it
// fails), images in every output format with rising frame ids, the bounded
// queue that keeps the oldest images, start and stop rules, the counters the
// destructor logs, and stopping or releasing the camera from its own callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "camera/Camera.h"
#include "sdk/camera/CameraRig.h"
#include "sdk/camera/RecordingNodeMap.h"
#include "support/FakeCamera.h"
#include "support/LogCapture.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::camera::Camera;
using orbel::sdk::Exception;
using orbel::sdk::PixelFormat;
using orbel::sdk::SensorError;
using orbel::sdk::Severity;
using orbel::testing::Connected;
using orbel::testing::FakeCamera;
using orbel::testing::LogCapture;
using orbel::testing::Recorder;
using orbel::testing::RecordingNodeMap;
using orbel::testing::SmallImages;

uint32_t FramesBetween(uint32_t earlier, uint32_t later) { return FakeCamera::FramesBetween(earlier, later); }

uint64_t NowUs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

// What a call threw: its code and text; code -1 when it threw nothing.
std::pair<int, std::string> Thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exception& e) {
        return {static_cast<int>(e.GetType()), e.what()};
    }
    return {-1, ""};
}

TEST(Camera, InitializeConnectsOnTheCamerasOwnInterfaceAndConfiguresIt) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    LogCapture log;
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    EXPECT_EQ(camera->GetSerialNumber(), "ORBELFAKE1");
    EXPECT_EQ(camera->GetSerialNumberW(), L"ORBELFAKE1");
    EXPECT_TRUE(camera->CheckWriteAccess());
    EXPECT_FALSE(camera->IsRunning());
    EXPECT_EQ(log.Count(L"Using camera SDK version: Aravis 0.8."), 1u);
    const std::wstring address(fake.Address().begin(), fake.Address().end());
    EXPECT_EQ(log.Count(L"Connected to camera with Serial Number: ORBELFAKE1 at IP: " + address), 1u);
    // Two interfaces reach it; the sensor link's own (127.0.0.1) comes last.
    EXPECT_EQ(log.Count(L"Connected to camera on local interface: " + address), 1u);
    EXPECT_EQ(log.Count(L"Detected atypical configuration."), 1u);
}

TEST(Camera, ImagesArriveInTheOutputFormatWithRisingFrameIds) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    struct Case {
        PixelFormat output;
        const char* cameraFormat;  // set before connecting; the output may replace it
        size_t bytes;
    };
    const size_t pixels = 64 * 48;
    const Case cases[] = {
        {PixelFormat::RGB8, "Mono8", pixels * 3},
        {PixelFormat::RGB12, "Mono8", pixels * 6},
        {PixelFormat::BayerRG12, "Mono8", pixels * 2},
        {PixelFormat::BayerRG12Packed, "Mono8", pixels * 3 / 2},
        {PixelFormat::BayerRG8, "BayerRG8", pixels},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("output format " + std::to_string(static_cast<int>(c.output)));
        SmallImages(fake, 100, std::string("PixelFormat=") + c.cameraFormat);
        Recorder recorder;
        auto camera = Connected(fake, recorder, c.output);
        camera->Start(5s);
        EXPECT_TRUE(camera->IsRunning());
        ASSERT_TRUE(recorder.WaitUntil([&] { return recorder.images.size() >= 5; }));
        camera->Stop(5s);
        EXPECT_FALSE(camera->IsRunning());
        std::lock_guard lock(recorder.mutex);
        uint32_t lastFrame = 0;
        for (const auto& image : recorder.images) {
            const auto& m = image->GetMetadata();
            EXPECT_EQ(image->GetPixelFormat(), c.output);
            EXPECT_EQ(image->GetWidth(), 64u);
            EXPECT_EQ(image->GetHeight(), 48u);
            EXPECT_EQ(image->GetData().size(), c.bytes);
            if (lastFrame != 0) {
                EXPECT_GE(FramesBetween(lastFrame, m.frameId), 1u);
                EXPECT_LT(FramesBetween(lastFrame, m.frameId), 10u);
            }
            lastFrame = m.frameId;
            // The fake camera stamps with this host's clock: its time less 37 s.
            EXPECT_NEAR(static_cast<double>(m.hostTimestamp_us), static_cast<double>(NowUs()), 30e6);
            EXPECT_NEAR(static_cast<double>(m.deviceTimestamp_us), static_cast<double>(m.hostTimestamp_us) - 37e6,
                        1e6);
        }
        if (c.output == PixelFormat::RGB8) {
            const auto& data = recorder.images.front()->GetData();
            EXPECT_TRUE(std::any_of(data.begin(), data.end(), [](uint8_t b) { return b != 0; }));
        }
    }
}

TEST(Camera, RawOutputOfAnotherCameraFormatIsDroppedWithItsCode) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    SmallImages(fake, 100, "PixelFormat=BayerRG12");
    LogCapture log;
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::BayerRG8);
    camera->Start(5s);
    EXPECT_TRUE(log.WaitFor(L"Unexpected output pixel format (17825809), dropping frame ", 3));
    camera->Stop(5s);
    // Nothing of another format passes as BayerRG8.
    std::lock_guard lock(recorder.mutex);
    for (const auto& image : recorder.images) EXPECT_EQ(image->GetData().size(), 64u * 48);
}

TEST(Camera, ImagesLostOnTheWayAreDropped) {
    orbel::testing::FakeCameraOptions options;
    options.lostPacketsPerThousand = 700;
    ORBEL_FAKE_CAMERA_OR_SKIP(fake, options);
    // Large enough for many packets per image, so that hardly one arrives whole.
    fake.Configure("Width=512 Height=256 AcquisitionFrameRate=50");
    LogCapture log;
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    camera->Start(5s);
    EXPECT_TRUE(log.WaitFor(L"Received incomplete image, dropping frame ", 3));
    camera->Stop(5s);
}

TEST(Camera, FullQueueKeepsTheOldestImagesAndDropsTheNewest) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    SmallImages(fake, 100);
    LogCapture log;
    Recorder recorder;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    recorder.onImage = [released] { released.wait(); };
    auto camera = Connected(fake, recorder, PixelFormat::RGB8, 3);
    camera->Start(5s);
    // The first image holds the delivery thread; three more wait; the rest are dropped.
    const std::wstring full = L"Camera image buffer full, dropping frame ";
    ASSERT_TRUE(log.WaitFor(full, 5));
    release.set_value();
    ASSERT_TRUE(recorder.WaitUntil([&] { return recorder.images.size() >= 5; }));
    camera->Stop(5s);

    std::lock_guard lock(recorder.mutex);
    std::vector<uint32_t> delivered;
    for (const auto& image : recorder.images) delivered.push_back(image->GetMetadata().frameId);
    // Delivered oldest first; every image dropped while the queue was full is
    // newer than the three that waited, and older than the next one delivered.
    for (size_t i = 1; i < delivered.size(); ++i) EXPECT_GE(FramesBetween(delivered[i - 1], delivered[i]), 1u);
    size_t dropped = 0;
    for (const auto& text : log.Texts()) {
        if (text.rfind(full, 0) != 0) continue;
        const auto frame = static_cast<uint32_t>(std::stoul(text.substr(full.size())));
        EXPECT_GT(FramesBetween(delivered[3], frame), 0u) << frame;
        EXPECT_LT(FramesBetween(delivered[3], frame), FramesBetween(delivered[3], delivered[4])) << frame;
        ++dropped;
    }
    EXPECT_GE(dropped, 5u);
}

// A second Start must not touch a running camera: not its nodes (the pixel
// format rewritten under a running stream), not its stream, not its thread.
TEST(Camera, SecondStartIsRefusedBeforeTouchingTheCamera) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    SmallImages(fake);
    LogCapture log;
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    camera->Start(5s);
    ASSERT_TRUE(recorder.WaitUntil([&] { return !recorder.images.empty(); }));
    log.Clear();
    const auto [code, text] = Thrown([&] { camera->Start(5s); });
    EXPECT_EQ(code, static_cast<int>(SensorError::UNABLE_TO_START));
    EXPECT_NE(text.find("Failed to start camera: "), std::string::npos) << text;
    EXPECT_NE(text.find("Camera/acquisition is already running"), std::string::npos) << text;
    EXPECT_EQ(log.Count(L"Camera bandwidth optimization settings applied."), 0u);
    EXPECT_TRUE(camera->IsRunning());
    const size_t before = recorder.ImageCount();
    EXPECT_TRUE(recorder.WaitUntil([&] { return recorder.images.size() >= before + 3; }));
    camera->Stop(5s);
}

TEST(Camera, StopsRestartsAndLogsItsCountersWhenDestroyed) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    SmallImages(fake);
    LogCapture log;
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    const auto [code, text] = Thrown([&] { camera->Stop(5s); });
    EXPECT_EQ(code, static_cast<int>(SensorError::UNABLE_TO_STOP));
    EXPECT_NE(text.find("Camera/acquisition is not running"), std::string::npos) << text;

    for (unsigned round = 1; round <= 2; ++round) {
        camera->Start(5s);
        ASSERT_TRUE(recorder.WaitUntil([&] { return recorder.images.size() >= 3 * round; }));
        camera->Stop(5s);
        EXPECT_EQ(log.Count(L"Camera stream started."), round);
        EXPECT_EQ(log.Count(L"Camera stream stopped."), round);
    }
    camera.reset();
    // The destructor has ended the delivery thread: every image reported was delivered,
    // and every image received was reported, dropped with a warning or reported as an error.
    const size_t delivered = recorder.ImageCount();
    const size_t dropped = log.Count(L"Camera image buffer full, dropping frame ") +
                           log.Count(L"Unexpected output pixel format (") + recorder.ErrorCount();
    EXPECT_EQ(log.Count(L"Received " + std::to_wstring(delivered + dropped) + L" camera images in total."), 1u);
    EXPECT_EQ(log.Count(L"Reported " + std::to_wstring(delivered) + L" camera images to the customer."), 1u);
}

TEST(Camera, ACameraThatNeverConnectedRefusesItsOperationsWithTheirCodes) {
    LogCapture log;
    {
        Camera camera("127.0.0.1", 10);
        struct Case {
            std::function<void()> call;
            SensorError code;
            const char* text;
        };
        const Case cases[] = {
            {[&] { camera.ResetConfiguration(); }, SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED,
             "Camera configuration not initialized. Cannot reset configuration."},
            {[&] { camera.SetExposureTimeUs(1000); }, SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED,
             "Camera configuration not initialized. Cannot set exposure time."},
            {[&] { camera.GetExposureTimeUs(); }, SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED,
             "Camera configuration not initialized. Cannot get exposure time."},
            {[&] { camera.CheckWriteAccess(); }, SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED,
             "Camera configuration not initialized. Cannot check write access."},
            {[&] { camera.Start(5s); }, SensorError::UNABLE_TO_START, "Failed to start camera: "},
            {[&] { camera.Stop(5s); }, SensorError::UNABLE_TO_STOP, "Camera/acquisition is not running"},
        };
        for (const auto& c : cases) {
            const auto [code, text] = Thrown(c.call);
            EXPECT_EQ(code, static_cast<int>(c.code)) << c.text;
            EXPECT_NE(text.find(c.text), std::string::npos) << text;
        }
        EXPECT_FALSE(camera.IsRunning());
        EXPECT_NE(Thrown([&] { camera.Start(5s); }).second.find("Camera not connected"), std::string::npos);
    }
    EXPECT_EQ(log.Count(L"Received 0 camera images in total."), 1u);
    EXPECT_EQ(log.Count(L"Reported 0 camera images to the customer."), 1u);
}

// On a connected camera: 0 asks for automatic exposure; any other value turns automatic
// exposure off before the time is written, and the trigger delay takes the camera's offset
// of 229292.8 us less half the exposure. What the camera reports is read back truncated.
TEST(Camera, ExposureOnAConnectedCamera) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    RecordingNodeMap& nodes = RecordingNodeMap::On(*orbel::camera::CameraTestPeer::Device(*camera));
    const std::pair<uint32_t, std::vector<std::string>> writes[] = {
        {0, {"TriggerDelay=0", "ExposureAuto=Continuous"}},
        {1000, {"ExposureAuto=Off", "TriggerDelay=0", "ExposureTime=1000", "TriggerDelay=228792.8"}},
        {458586, {"ExposureAuto=Off", "TriggerDelay=0", "ExposureTime=458586", "TriggerDelay=0"}},
        {2500, {"ExposureAuto=Off", "TriggerDelay=0", "ExposureTime=2500", "TriggerDelay=228042.8"}},
    };
    for (const auto& [exposure, expected] : writes) {
        nodes.ClearWrites();
        camera->SetExposureTimeUs(exposure);
        EXPECT_EQ(nodes.Writes(), expected) << exposure << " us";
    }
    EXPECT_EQ(camera->GetExposureTimeUs(), 2500u);

    const std::pair<double, uint32_t> reported[] = {
        {1234.9, 1234}, {0.99, 0}, {30.0, 30}, {4294967295.9, 4294967295u}};
    for (const auto& [exposure, expected] : reported) {
        nodes.Answer("ExposureTime", exposure);
        EXPECT_EQ(camera->GetExposureTimeUs(), expected) << exposure;
    }
}

// The camera's failure texts: nothing on the subnet, no interface for the
// address (also for texts that are not four numbers of 0 to 255, which must not
// turn into some address), and a device whose address text differs.
TEST(Camera, ConnectionFailuresSayWhatWasFound) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    std::string leadingZero = fake.Address();
    leadingZero.insert(leadingZero.rfind('.') + 1, "0");
    struct Case {
        std::string cameraIp;
        std::string text;
    };
    const auto noInterface = [](const std::string& ip) {
        return "No interfaces available for the ipaddress " + ip + ". Please correct your computer's network settings.";
    };
    const Case cases[] = {
        {"127.99.0.1", "Extra information: No cameras found"},
        {"192.0.2.10", noInterface("192.0.2.10")},
        {"127.0.0.256", noInterface("127.0.0.256")},
        {"127.0.0", noInterface("127.0.0")},
        {"127.0.0.1.1", noInterface("127.0.0.1.1")},
        {"-1.0.0.1", noInterface("-1.0.0.1")},
        {"4294967297.0.0.1", noInterface("4294967297.0.0.1")},
        {"", noInterface("")},
        {leadingZero, "Camera not found at IP " + leadingZero + " - detected " + fake.Address()},
    };
    for (const auto& c : cases) {
        Camera camera(c.cameraIp, 10);
        const auto [code, text] = Thrown([&] { camera.Initialize("127.0.0.1"); });
        EXPECT_EQ(code, static_cast<int>(SensorError::CONNECTION_FAILED)) << c.cameraIp;
        EXPECT_NE(text.find(c.text), std::string::npos) << c.cameraIp << ": " << text;
    }
}

// Where the last reference or a Stop comes from inside the camera's own
// callbacks, the calling thread is released rather than joined, and the
// camera's state outlives it.
TEST(Camera, StopOrReleaseFromInsideItsOwnCallbacks) {
    enum class Where { StopInImageCallback, ReleaseInImageCallback, StopInErrorCallback, ReleaseInErrorCallback };
    for (Where where : {Where::StopInImageCallback, Where::ReleaseInImageCallback, Where::StopInErrorCallback,
                        Where::ReleaseInErrorCallback}) {
        SCOPED_TRACE(static_cast<int>(where));
        const bool viaError = where == Where::StopInErrorCallback || where == Where::ReleaseInErrorCallback;
        orbel::testing::FakeCameraOptions options;
        // A 16-bit monochrome camera without BayerRG8 cannot give RGB8: every
        // image is an acquisition error.
        options.bayerRG8 = !viaError;
        ORBEL_FAKE_CAMERA_OR_SKIP(fake, options);
        SmallImages(fake, 100, viaError ? "PixelFormat=Mono16" : "");
        orbel::testing::WithinDeadline([&] {
            LogCapture log;
            Recorder recorder;
            std::mutex holder;
            std::shared_ptr<Camera> camera = Connected(fake, recorder, PixelFormat::RGB8);
            std::atomic<bool> done{false};
            auto act = [&] {
                if (done.exchange(true)) return;
                std::shared_ptr<Camera> own;
                {
                    std::lock_guard lock(holder);
                    own = camera;
                    if (where == Where::ReleaseInImageCallback || where == Where::ReleaseInErrorCallback) camera.reset();
                }
                if (where == Where::StopInImageCallback || where == Where::StopInErrorCallback) {
                    own->Stop(5s);
                    EXPECT_FALSE(own->IsRunning());
                }
            };
            (viaError ? recorder.onError : recorder.onImage) = act;
            {
                std::lock_guard lock(holder);
                camera->Start(5s);
            }
            ASSERT_TRUE(orbel::testing::Eventually([&] { return done.load(); }));
            if (where == Where::StopInImageCallback || where == Where::StopInErrorCallback) {
                ASSERT_TRUE(log.WaitFor(L"Camera stream stopped."));
                std::lock_guard lock(holder);
                EXPECT_FALSE(camera->IsRunning());
                camera.reset();
            }
            // Destroyed, on whichever thread, with its threads ended or ending.
            EXPECT_TRUE(log.WaitFor(L"camera images to the customer."));
            EXPECT_TRUE(recorder.WaitForCallbacksToReturn());
        }, 60s);
    }
}

// A failure while processing an image must still hand its buffer back: the
// stream has 100 buffers, so without that it would run dry after 100 failures.
TEST(Camera, ImagesThatFailProcessingStillGoBackToTheStream) {
    orbel::testing::FakeCameraOptions options;
    options.bayerRG8 = false;
    ORBEL_FAKE_CAMERA_OR_SKIP(fake, options);
    // A 16-bit monochrome camera: RGB8 cannot be made from its images.
    SmallImages(fake, 500, "PixelFormat=Mono16");
    Recorder recorder;
    auto camera = Connected(fake, recorder, PixelFormat::RGB8);
    camera->Start(5s);
    EXPECT_TRUE(recorder.WaitUntil([&] { return recorder.errors.size() >= 250; }, 20s)) << recorder.ErrorCount();
    camera->Stop(5s);
    std::lock_guard lock(recorder.mutex);
    ASSERT_FALSE(recorder.errors.empty());
    EXPECT_NE(recorder.errors.front().find("Camera acquisition error: "), std::string::npos) << recorder.errors.front();
    EXPECT_NE(recorder.errors.front().find("unsupported source pixel format 17825799"), std::string::npos)
        << recorder.errors.front();
}

// A camera that stops answering fails every request at once, until the stream is
// stopped: unplugged (its process killed), or frozen for longer than its heartbeat
// time-out (3 s), after which it has given up its controller. The customer hears of it
// once; the tries that follow are paced and their count logged when the stream stops.
TEST(Camera, ALostCameraIsReportedOnce) {
    struct Case {
        const char* name;
        std::function<void(FakeCamera&)> lose;
    };
    const Case cases[] = {
        {"unplugged", [](FakeCamera& fake) { fake.Kill(); }},
        {"frozen past its heartbeat time-out",
         [](FakeCamera& fake) {
             fake.Pause();
             std::this_thread::sleep_for(4s);
             fake.Resume();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ORBEL_FAKE_CAMERA_OR_SKIP(fake);
        SmallImages(fake);
        orbel::testing::WithinDeadline([&] {
            LogCapture log(Severity::WARNING);
            Recorder recorder;
            auto camera = Connected(fake, recorder, PixelFormat::RGB8);
            camera->Start(5s);
            ASSERT_TRUE(recorder.WaitUntil([&] { return !recorder.images.empty(); }));
            c.lose(fake);
            ASSERT_TRUE(recorder.WaitUntil([&] { return !recorder.errors.empty(); }, 20s));
            // Long enough for several tries after the first.
            std::this_thread::sleep_for(1s);
            const auto stopped = std::chrono::steady_clock::now();
            camera->Stop(5s);
            std::lock_guard lock(recorder.mutex);
            ASSERT_EQ(recorder.errors.size(), 1u);
            EXPECT_NE(recorder.errors.front().find("stopped answering (control lost)"), std::string::npos)
                << recorder.errors.front();
            // About one try per pause, not thousands.
            const auto texts = log.Texts();
            const std::wstring repeated = L"Camera acquisition error repeated ";
            const auto line = std::find_if(texts.begin(), texts.end(),
                                           [&](const std::wstring& t) { return t.rfind(repeated, 0) == 0; });
            ASSERT_NE(line, texts.end());
            const auto tries = std::stoul(line->substr(repeated.size()));
            EXPECT_GE(tries, 2u);
            EXPECT_LE(tries, 2 + static_cast<size_t>((stopped - recorder.errorTimes.front()) /
                                                     Camera::kRepeatedErrorPause));
        }, 60s);
    }
}

TEST(CameraRules, DeviceTimestampIsTheCamerasTimeLess37SecondsAndNeverWraps) {
    const std::pair<uint64_t, uint64_t> cases[] = {
        {0, 0},
        {999, 0},
        {36'999'999'999, 0},
        {37'000'000'000, 0},
        {37'000'001'999, 1},
        {1'796'903'483'228'842'000, 1'796'903'446'228'842},
        {UINT64_MAX, UINT64_MAX / 1000 - 37'000'000},
    };
    for (const auto& [ns, us] : cases) EXPECT_EQ(Camera::DeviceTimestampUs(ns), us) << ns;
}

}  // namespace
