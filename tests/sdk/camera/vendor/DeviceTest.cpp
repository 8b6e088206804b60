// A device of the vendor layer against the fake camera: its three node maps
// (reads and writes of every kind, failures that name the node, the transport
// layer's kept settings) and its stream (lent images with their fields, buffers
// handed back, start and stop rules, the newest-only mode, time-outs and images
// lost on the way).
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "camera/vendor/Device.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Image.h"
#include "camera/vendor/NodeMap.h"
#include "camera/vendor/Pfnc.h"
#include "sdk/camera/OpenedDevice.h"
#include "support/FakeCamera.h"

namespace {

namespace vendor = orbel::camera::vendor;
namespace pfnc = orbel::camera::vendor::pfnc;
using orbel::testing::OpenedDevice;
using vendor::GenericException;
using vendor::GetNodeValue;
using vendor::SetNodeValue;

// A lent image handed back when the scope ends.
struct Lent {
    vendor::Device* device;
    vendor::Image* image;
    ~Lent() { device->RequeueBuffer(image); }
    const vendor::Image* operator->() const { return image; }
};

void SmallFastStream(vendor::Device* device, const std::string& format, double framesPerSecond) {
    auto* nodes = device->GetNodeMap();
    SetNodeValue<int64_t>(nodes, "Width", 64);
    SetNodeValue<int64_t>(nodes, "Height", 48);
    SetNodeValue<std::string>(nodes, "PixelFormat", format);
    SetNodeValue<double>(nodes, "AcquisitionFrameRate", framesPerSecond);
}

TEST(VendorDevice, NodesReadBackWhatWasWrittenInEveryKind) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    auto* nodes = device->GetNodeMap();
    SetNodeValue<double>(nodes, "TriggerDelay", 228792.8);
    EXPECT_EQ(GetNodeValue<double>(nodes, "TriggerDelay"), 228792.8);
    SetNodeValue<std::string>(nodes, "TriggerOverlap", "PreviousFrame");
    EXPECT_EQ(GetNodeValue<std::string>(nodes, "TriggerOverlap"), "PreviousFrame");
    for (bool value : {true, false}) {
        SetNodeValue<bool>(nodes, "AcquisitionFrameRateEnable", value);
        EXPECT_EQ(GetNodeValue<bool>(nodes, "AcquisitionFrameRateEnable"), value);
    }
    SetNodeValue<int64_t>(nodes, "Width", 96);
    EXPECT_EQ(GetNodeValue<int64_t>(nodes, "Width"), 96);
    EXPECT_NO_THROW(vendor::ExecuteNode(nodes, "TimestampLatch"));
    EXPECT_EQ(device->GetDeviceInfo().IpAddressStr(), camera.Address());
}

TEST(VendorDevice, NodeFailuresNameTheNode) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    auto* nodes = device->GetNodeMap();
    struct Case {
        const char* node;
        std::function<void()> access;
    };
    const Case cases[] = {
        {"NoSuchNode", [&] { GetNodeValue<double>(nodes, "NoSuchNode"); }},
        {"TriggerSource", [&] { SetNodeValue<std::string>(nodes, "TriggerSource", "Line7"); }},
        {"NoSuchCommand", [&] { vendor::ExecuteNode(nodes, "NoSuchCommand"); }},
        {"Gain", [&] { GetNodeValue<double>(nullptr, "Gain"); }},
        {"CcpSwitchoverKey", [&] { GetNodeValue<double>(device->GetTLDeviceNodeMap(), "CcpSwitchoverKey"); }},
        {"Width", [&] { GetNodeValue<int64_t>(device->GetTLStreamNodeMap(), "Width"); }},
        {"StreamBufferHandlingMode",
         [&] { SetNodeValue<std::string>(device->GetTLStreamNodeMap(), "StreamBufferHandlingMode", "Bogus"); }},
    };
    for (const auto& c : cases) {
        try {
            c.access();
            ADD_FAILURE() << c.node << ": no exception";
        } catch (const GenericException& e) {
            EXPECT_NE(std::string(e.GetDescription()).find(c.node), std::string::npos) << e.GetDescription();
        }
    }
}

TEST(VendorDevice, TransportLayerMapsKeepTheirSettings) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    auto* transport = device->GetTLDeviceNodeMap();
    SetNodeValue<int64_t>(transport, "CcpSwitchoverKey", 6258);
    EXPECT_EQ(GetNodeValue<int64_t>(transport, "CcpSwitchoverKey"), 6258);
    EXPECT_GT(GetNodeValue<int64_t>(transport, "GevSCPSPacketSize"), 0);

    auto* stream = device->GetTLStreamNodeMap();
    EXPECT_EQ(GetNodeValue<std::string>(stream, "StreamBufferHandlingMode"), "OldestFirst");
    SetNodeValue<std::string>(stream, "StreamBufferHandlingMode", "NewestOnly");
    EXPECT_EQ(GetNodeValue<std::string>(stream, "StreamBufferHandlingMode"), "NewestOnly");
    for (const char* flag : {"StreamAutoNegotiatePacketSize", "StreamPacketResendEnable"}) {
        SetNodeValue<bool>(stream, flag, false);
        EXPECT_FALSE(GetNodeValue<bool>(stream, flag)) << flag;
        SetNodeValue<bool>(stream, flag, true);
        EXPECT_TRUE(GetNodeValue<bool>(stream, flag)) << flag;
    }
}

TEST(VendorDevice, StreamLendsImagesWithTheirFieldsAndTakesThemBack) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG8", 200);
    device->StartStream(4);
    EXPECT_THROW(device->StartStream(4), GenericException);
    uint32_t lastFrame = 0;
    const uint64_t nowNs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    // Five times the buffers: each must have gone back to the stream. A loaded
    // machine may drop packets on loopback, so only whole images are checked.
    int whole = 0;
    for (int i = 0; i < 20; ++i) {
        Lent image{device.get(), device->GetImage(1000)};
        ASSERT_NE(image.image, nullptr);
        const auto frame = static_cast<uint32_t>(image->GetFrameId());
        if (lastFrame != 0) {
            EXPECT_GE(orbel::testing::FakeCamera::FramesBetween(lastFrame, frame), 1u);
        }
        lastFrame = frame;
        // Its first image may still be in the format it had before.
        if (image->IsIncomplete() || i == 0) continue;
        ++whole;
        // The fake camera stamps with the host's clock.
        EXPECT_NEAR(static_cast<double>(image->GetTimestampNs()), static_cast<double>(nowNs), 60e9);
        EXPECT_TRUE(image->HasImageData());
        EXPECT_EQ(image->GetWidth(), 64u);
        EXPECT_EQ(image->GetHeight(), 48u);
        EXPECT_EQ(image->GetPixelFormat(), pfnc::BayerRG8);
        EXPECT_EQ(image->GetSizeFilled(), 64u * 48);
    }
    EXPECT_GE(whole, 10);
    device->StopStream();
    EXPECT_THROW(device->StopStream(), GenericException);
    try {
        device->GetImage(100);
        ADD_FAILURE() << "an image without a stream";
    } catch (const vendor::TimeoutException&) {
        ADD_FAILURE() << "a stopped stream is not a time-out";
    } catch (const GenericException&) {
    }
}

TEST(VendorDevice, BayerRG12StreamsTwoBytesPerPixel) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG12", 100);
    device->StartStream(4);
    // The fake camera may still send its first image in the format it had before,
    // and a loaded machine may lose packets: the third whole image counts.
    int whole = 0;
    for (int i = 0; i < 30 && whole < 3; ++i) {
        Lent image{device.get(), device->GetImage(1000)};
        if (image->IsIncomplete() || ++whole < 3) continue;
        EXPECT_EQ(image->GetPixelFormat(), pfnc::BayerRG12);
        EXPECT_EQ(image->GetSizeFilled(), 64u * 48 * 2);
    }
    EXPECT_EQ(whole, 3);
}

TEST(VendorDevice, ImageLentAcrossStopStreamStaysReadableAndGoesBack) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG8", 100);
    device->StartStream(4);
    // A loaded machine may lose packets on loopback: wait for a whole image.
    auto whole = [&] {
        int incomplete = 0;
        for (int i = 0; i < 100; ++i) {
            vendor::Image* image = device->GetImage(1000);
            if (!image->IsIncomplete() && image->HasImageData()) return image;
            incomplete += image->IsIncomplete();
            device->RequeueBuffer(image);
        }
        throw std::runtime_error("no whole image in 100, " + std::to_string(incomplete) + " incomplete");
    };
    vendor::Image* image = whole();
    device->StopStream();
    // Still the stream's memory: the sanitizers see any read of freed memory.
    std::vector<uint8_t> copy(image->GetData(), image->GetData() + image->GetSizeFilled());
    EXPECT_EQ(copy.size(), 64u * 48);
    device->RequeueBuffer(image);
    // And the stream starts again afresh.
    device->StartStream(4);
    device->RequeueBuffer(whole());
}

TEST(VendorDevice, NewestOnlySkipsToTheNewestWaitingImage) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG8", 100);
    device->StartStream(30);
    // The frame id of the next whole image (a loaded machine may lose packets).
    auto nextWhole = [&] {
        for (int i = 0; i < 50; ++i) {
            Lent image{device.get(), device->GetImage(1000)};
            if (!image->IsIncomplete()) return static_cast<uint32_t>(image->GetFrameId());
        }
        throw std::runtime_error("no whole image in 50");
    };
    auto gapAfterPause = [&] {
        const uint32_t first = nextWhole();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return orbel::testing::FakeCamera::FramesBetween(first, nextWhole());
    };
    // The next frame (a loaded machine may lose one on loopback)...
    EXPECT_LE(gapAfterPause(), 2u);
    // ...against the newest of some twenty that came meanwhile.
    SetNodeValue<std::string>(device->GetTLStreamNodeMap(), "StreamBufferHandlingMode", "NewestOnly");
    EXPECT_GE(gapAfterPause(), 10u);
}

TEST(VendorDevice, NoImageWithinTheTimeOutIsATimeout) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG8", 100);
    device->StartStream(4);
    Lent{device.get(), device->GetImage(5000)};
    // The camera stops sending; what it sent before is taken, then the wait ends empty.
    vendor::ExecuteNode(device->GetNodeMap(), "AcquisitionStop");
    bool timedOut = false;
    for (int i = 0; i < 10 && !timedOut; ++i) {
        try {
            Lent{device.get(), device->GetImage(200)};
        } catch (const vendor::TimeoutException&) {
            timedOut = true;
        }
    }
    EXPECT_TRUE(timedOut);
}

// Counts what the camera library reports through GLib at the critical level (its failed
// assertions) while it lives.
class LibraryCriticals {
public:
    LibraryCriticals()
        : handler_(g_log_set_handler(nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_RECURSION),
                                     &LibraryCriticals::Note, this)) {}
    ~LibraryCriticals() { g_log_remove_handler(nullptr, handler_); }
    LibraryCriticals(const LibraryCriticals&) = delete;
    LibraryCriticals& operator=(const LibraryCriticals&) = delete;

    std::vector<std::string> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    static void Note(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        auto* criticals = static_cast<LibraryCriticals*>(self);
        std::lock_guard lock(criticals->mutex_);
        criticals->messages_.emplace_back(message != nullptr ? message : "");
    }

    std::mutex mutex_;
    std::vector<std::string> messages_;
    guint handler_;
};

// Half the packets dropped: next to no image arrives whole. Their buffers are lent as
// incomplete images without data, never read through the library's image accessors,
// which answer only for whole images and complain on stderr for the rest.
TEST(VendorDevice, ImagesLostOnTheWayAreMarkedIncomplete) {
    LibraryCriticals criticals;
    orbel::testing::FakeCameraOptions options;
    options.lostPacketsPerThousand = 500;
    ORBEL_FAKE_CAMERA_OR_SKIP(camera, options);
    OpenedDevice device(camera);
    SmallFastStream(device.get(), "BayerRG8", 100);
    SetNodeValue<bool>(device->GetTLStreamNodeMap(), "StreamPacketResendEnable", false);
    // Several packets per image, half of them dropped: next to no image arrives whole.
    SetNodeValue<int64_t>(device->GetTLDeviceNodeMap(), "GevSCPSPacketSize", 576);
    device->StartStream(8);
    int incomplete = 0;
    for (int i = 0; i < 30; ++i) {
        Lent image{device.get(), device->GetImage(2000)};
        incomplete += image->IsIncomplete();
        if (image->IsIncomplete()) {
            EXPECT_FALSE(image->HasImageData());
            EXPECT_EQ(image->GetWidth(), 0u);
            EXPECT_EQ(image->GetSizeFilled(), 0u);
        } else {
            EXPECT_EQ(image->GetWidth(), 64u);
        }
    }
    EXPECT_GE(incomplete, 24);
    const std::vector<std::string> reported = criticals.Messages();
    EXPECT_TRUE(reported.empty()) << reported.size() << " reports, the first: " << reported.front();
}

}  // namespace
