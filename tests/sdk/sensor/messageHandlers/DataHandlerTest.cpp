// The point-cloud ring and its customer thread: order, overflow by slots and by
// bytes and its log, malformed messages, and release from inside the callback.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "sdk/sensor/MessageFixtures.h"
#include "sensor/messageHandlers/DataHandler.h"
#include "support/LogCapture.h"
#include "support/PointCloudPayloadBuilder.h"
#include "support/Threads.h"

namespace {

using orbel::sensor::DataHandler;
using orbel::testing::Eventually;
using orbel::testing::PointCloudPayloadBuilder;
using orbel::testing::Received;

orbel::communication::VelmorantMessage Cloud(uint32_t frame, uint8_t line = 0, uint32_t points = 4) {
    return Received(0x1000,
                    PointCloudPayloadBuilder().PointType(0x60).PointCount(points).FrameNumber(frame).LineIndex(line).Build());
}

// About 300 KB: three of them pass a 1 MB limit.
constexpr uint32_t kLargePoints = 11'500;
constexpr size_t kByteLimit = 1'000'000;

// Holds the customer thread inside the callback until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool entered = false;

    void Pass() {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return entered; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(DataHandler, DeliversCloudsInArrivalOrder) {
    DataHandler handler(112);
    std::mutex mutex;
    std::vector<uint32_t> frames;
    handler.SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        std::lock_guard lock(mutex);
        frames.push_back(cloud->GetMetadata().frameNumber);
    });
    for (uint32_t f = 0; f < 300; ++f) {
        auto m = Cloud(f);
        EXPECT_TRUE(handler.Handle(m));
        if (f % 50 == 49) {
            ASSERT_TRUE(Eventually([&] { return handler.ReportedCount() == f + 1; }));
        }
    }
    ASSERT_TRUE(Eventually([&] { return handler.ReportedCount() == 300; }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(frames.size(), 300u);
    for (uint32_t f = 0; f < 300; ++f) EXPECT_EQ(frames[f], f);
}

TEST(DataHandler, FullRingDropsTheNewestAndCountsThem) {
    Gate gate;  // outlives the handler, whose thread may still pass it
    std::atomic<int> delivered{0};
    DataHandler handler(112);
    handler.SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud>) {
        if (delivered++ == 0) gate.Pass();
    });
    auto first = Cloud(0);
    handler.Handle(first);
    ASSERT_TRUE(gate.WaitEntered());  // the ring is empty again, the thread is busy

    for (uint32_t f = 1; f <= 200; ++f) {
        auto m = Cloud(f);
        handler.Handle(m);
    }
    EXPECT_EQ(handler.MissedCount(), 200u - 111u);
    gate.Open();
    ASSERT_TRUE(Eventually([&] { return delivered == 112; }));
    EXPECT_EQ(handler.ReceivedCount(), 201u);
}

TEST(DataHandler, BytesBeyondTheLimitAreDroppedAndCountedLikeOtherMisses) {
    Gate gate;
    std::mutex mutex;
    std::vector<uint32_t> frames;
    DataHandler handler(112, std::chrono::milliseconds(10'000), kByteLimit);
    struct OpenOnExit {
        Gate& gate;
        ~OpenOnExit() { gate.Open(); }  // before the handler joins its thread, even after a failed assertion
    } openOnExit{gate};
    handler.SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        {
            std::lock_guard lock(mutex);
            frames.push_back(cloud->GetMetadata().frameNumber);
        }
        if (cloud->GetMetadata().frameNumber == 0) gate.Pass();
    });
    auto first = Cloud(0, 0, kLargePoints);
    handler.Handle(first);
    ASSERT_TRUE(gate.WaitEntered());

    constexpr uint32_t kSent = 20;  // far fewer than the slots, far more than the bytes allow
    for (uint32_t f = 1; f <= kSent; ++f) {
        auto m = Cloud(f, 0, kLargePoints);
        handler.Handle(m);
        ASSERT_LE(handler.StoredBytes(), kByteLimit) << "after cloud " << f;
    }
    EXPECT_GT(handler.MissedCount(), 0u);
    gate.Open();
    ASSERT_TRUE(Eventually([&] { return handler.ReportedCount() + handler.MissedCount() == kSent + 1; }));
    std::lock_guard lock(mutex);
    ASSERT_GE(frames.size(), 2u);
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], i) << "the waiting clouds come first, in order";
}

// Each slot in turn receiving one large cloud must not leave every slot holding that much.
TEST(DataHandler, ReusedSlotsKeepNoMoreStorageThanTheLimit) {
    DataHandler handler(112, std::chrono::milliseconds(10'000), kByteLimit);
    handler.SetCallback([](std::unique_ptr<orbel::sdk::IPointCloud>) {});
    for (uint32_t f = 0; f < 120; ++f) {
        auto m = Cloud(f, 0, kLargePoints);
        handler.Handle(m);
        ASSERT_LE(handler.StoredBytes(), kByteLimit) << "after cloud " << f;
        ASSERT_TRUE(Eventually([&] { return handler.ReportedCount() == f + 1; }));
    }
    EXPECT_EQ(handler.MissedCount(), 0u);
}

TEST(DataHandler, MissesAreLoggedOncePerInterval) {
    orbel::testing::LogCapture log;
    Gate gate;
    DataHandler handler(2, std::chrono::milliseconds(1000));
    handler.SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud>) { gate.Pass(); });
    auto m = Cloud(0);
    handler.Handle(m);
    ASSERT_TRUE(gate.WaitEntered());
    handler.Handle(m);  // waits in the one usable slot
    handler.Handle(m);  // missed, too early to log
    EXPECT_EQ(log.Count(L"point clouds were discarded"), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    handler.Handle(m);  // missed, now logged with both
    EXPECT_EQ(log.Count(L"In the last 10 seconds 2 point clouds were discarded because the callback was busy."), 1u);
    gate.Open();
}

TEST(DataHandler, WithoutCallbackCloudsAreCountedNotMissed) {
    DataHandler handler(4);
    for (int i = 0; i < 10; ++i) {
        auto m = Cloud(i);
        EXPECT_TRUE(handler.Handle(m));
    }
    EXPECT_EQ(handler.ReceivedCount(), 10u);
    EXPECT_EQ(handler.MissedCount(), 0u);
    EXPECT_EQ(handler.ReportedCount(), 0u);
}

TEST(DataHandler, MalformedCloudIsLoggedAndSkipped) {
    orbel::testing::LogCapture log;
    DataHandler handler(112);
    std::atomic<uint32_t> lastFrame{0};
    std::atomic<int> delivered{0};
    handler.SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        lastFrame = cloud->GetMetadata().frameNumber;
        ++delivered;
    });
    auto bad = Received(0x1000, {0, 1, 2});
    auto good = Cloud(42);
    handler.Handle(bad);
    handler.Handle(good);
    ASSERT_TRUE(Eventually([&] { return delivered == 1; }));
    EXPECT_EQ(lastFrame, 42u);
    EXPECT_EQ(log.Count(L"Failed to process point clouds: Message is too small to contain version data."), 1u);
}

TEST(DataHandler, OtherDataIdsAreTakenSilentlyAndTheRestRefused) {
    DataHandler handler(2);
    for (uint32_t id : {0x1001u, 0x1008u, 0x1068u, 0x106Bu}) {
        auto m = Received(id);
        EXPECT_TRUE(handler.Handle(m)) << id;
    }
    for (uint32_t id : {0x1009u, 0x1067u, 0x106Cu, 0x3000u}) {
        auto m = Received(id);
        EXPECT_FALSE(handler.Handle(m)) << id;
    }
}

TEST(DataHandler, RefusesABufferThatCouldHoldNothing) {
    EXPECT_THROW(DataHandler(0), std::invalid_argument);
    EXPECT_THROW(DataHandler(1), std::invalid_argument);
}

TEST(DataHandler, CanBeReleasedInsideItsOwnCallback) {
    const size_t threadsBefore = orbel::testing::ThreadCount();
    auto handler = std::make_shared<DataHandler>(8);
    std::mutex mutex;
    std::shared_ptr<DataHandler> holder = handler;
    std::atomic<bool> released{false};
    handler->SetCallback([&](std::unique_ptr<orbel::sdk::IPointCloud>) {
        std::shared_ptr<DataHandler> last;
        {
            std::lock_guard lock(mutex);
            last = std::move(holder);
        }
        last.reset();  // the last reference goes on the customer thread
        released = true;
    });
    auto m = Cloud(1);
    handler->Handle(m);
    handler.reset();
    ASSERT_TRUE(Eventually([&] { return released.load(); }));
    EXPECT_TRUE(Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }));
}

}  // namespace
