// Dropping the last reference to a sensor anywhere, the SDK's own callback
// threads included, tears it down without a crash, a hang or a thread left behind;
// the factory keeps no share of what it built, whether Build returned or threw.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "sdk/api/EmulatedSensor.h"
#include "support/LoopbackPeer.h"
#include "support/RawFrame.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::emulator::SensorEmulator;
using orbel::sdk::SensorFactory;

// The one reference to a sensor, which any thread may take and drop.
struct LastReference {
    std::mutex mutex;
    std::shared_ptr<orbel::sdk::ISensor> sensor;
    std::atomic<bool> dropped{false};
    std::atomic<bool> armed{false};  // callbacks drop only once the test hands over

    void Set(std::shared_ptr<orbel::sdk::ISensor> s) {
        std::lock_guard lock(mutex);
        sensor = std::move(s);
    }
    std::shared_ptr<orbel::sdk::ISensor> Get() {
        std::lock_guard lock(mutex);
        return sensor;
    }
    void Drop() {
        std::shared_ptr<orbel::sdk::ISensor> last;
        {
            std::lock_guard lock(mutex);
            last = std::move(sensor);
        }
        if (!last) return;
        last.reset();  // the sensor is destroyed here, on the calling thread
        dropped = true;
    }
};

enum class Where { MainThreadWhileStreaming, PointCloudCallback, ErrorCallbackAfterPeerClose, ErrorLogCallback,
                   WhileStartWaits };

class Teardown : public ::testing::TestWithParam<Where> {};

TEST_P(Teardown, LastReferenceMayGoAnywhere) {
    orbel::testing::WithinDeadline([] {
        SensorEmulator emulator;
        const size_t threadsBefore = orbel::testing::ThreadCount();
        // Shared with the log callback, which the SDK may still be running on its I/O thread
        // (a second error of the same reset) when the callback is removed and this ends.
        const auto owner = std::make_shared<LastReference>();
        LastReference& reference = *owner;
        const Where where = GetParam();
        {
            SensorFactory factory;
            factory.SetPointCloudCallback([&](std::unique_ptr<orbel::sdk::IPointCloud>) {
                if (where == Where::PointCloudCallback && reference.armed) reference.Drop();
            });
            factory.SetErrorCallback([&](const orbel::sdk::Exception&) {
                if (where == Where::ErrorCallbackAfterPeerClose && reference.armed) reference.Drop();
            });
            reference.Set(factory.Build("127.0.0.1", emulator.Port()));
        }  // the factory's share of the link is gone: the sensor holds the last one

        if (where == Where::ErrorLogCallback) {
            orbel::sdk::SetLogSeverity(orbel::sdk::Severity::ERROR);
            orbel::sdk::SetLogCallBack([owner](const orbel::sdk::Severity& severity, const std::wstring&) {
                if (severity == orbel::sdk::Severity::ERROR && owner->armed) owner->Drop();
            });
        }

        switch (where) {
            case Where::MainThreadWhileStreaming:
                reference.Get()->Start(5s);
                ASSERT_TRUE(emulator.WaitForStreamedFrames(2, 10s));
                reference.Drop();
                break;
            case Where::PointCloudCallback:
                reference.Get()->Start(5s);
                reference.armed = true;
                break;
            case Where::ErrorCallbackAfterPeerClose:
                reference.armed = true;
                ASSERT_TRUE(emulator.CloseClient(orbel::emulator::CloseMode::Graceful));
                break;
            case Where::ErrorLogCallback:
                reference.armed = true;
                ASSERT_TRUE(emulator.CloseClient(orbel::emulator::CloseMode::Reset));
                break;
            case Where::WhileStartWaits: {
                emulator.SetCommandAnswer(orbel::emulator::ids::kStart, orbel::emulator::CommandAnswer::None);
                std::shared_ptr<orbel::sdk::ISensor> own = reference.Get();
                std::thread starter([own = std::move(own)]() mutable {
                    EXPECT_THROW(own->Start(500ms), orbel::sdk::Exception);
                    own.reset();  // now the last one, dropped on the commanding thread
                });
                reference.Drop();
                starter.join();
                reference.dropped = true;
                break;
            }
        }
        ASSERT_TRUE(orbel::testing::Eventually([&] { return reference.dropped.load(); }));
        orbel::sdk::SetLogCallBack(nullptr);
        EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }))
            << orbel::testing::ThreadCount() << " threads, " << threadsBefore << " before";
    });
}

TEST(SensorHandle, NoCallbackRunsOnceTheLastHandleIsGone) {
    // A state-change error with no command waiting reaches the error callback on the
    // I/O thread, which holds the sensor for that moment. Dropping the handle must
    // still wait for that callback and silence every later one.
    orbel::testing::WithinDeadline([] {
        SensorEmulator emulator;
        std::promise<void> entered;
        std::promise<void> release;
        auto released = release.get_future().share();
        std::atomic<bool> running{false};
        std::atomic<int> calls{0};
        std::shared_ptr<orbel::sdk::ISensor> sensor;
        {
            SensorFactory factory;
            factory.SetErrorCallback([&](const orbel::sdk::Exception&) {
                running = true;
                if (calls++ == 0) {
                    entered.set_value();
                    released.wait();
                }
                running = false;
            });
            sensor = factory.Build("127.0.0.1", emulator.Port());
        }
        ASSERT_TRUE(emulator.SendError(0x4803));
        entered.get_future().wait();
        auto dropping = std::async(std::launch::async, [&] {
            sensor.reset();
            return running.load();
        });
        EXPECT_EQ(dropping.wait_for(50ms), std::future_status::timeout);
        release.set_value();
        EXPECT_FALSE(dropping.get()) << "the handle was gone while its callback still ran";
        emulator.SendError(0x4803);
        emulator.SendError(0x2808);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(calls, 1);
    });
}

TEST(SensorFactoryLifetime, DroppingTheLastHandleClosesTheLinkWhileTheFactoryLives) {
    orbel::testing::WithinDeadline([] {
        SensorEmulator emulator;
        const size_t threadsBefore = orbel::testing::ThreadCount();
        SensorFactory factory;
        factory.SetPointCloudCallback([](std::unique_ptr<orbel::sdk::IPointCloud>) {});
        auto sensor = factory.Build("127.0.0.1", emulator.Port());
        sensor->Start(5s);
        ASSERT_TRUE(emulator.WaitForStreamedFrames(1, 10s));
        sensor.reset();
        EXPECT_TRUE(emulator.WaitForNoClient(5s)) << "the link outlived the sensor's last handle";
        EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }))
            << orbel::testing::ThreadCount() << " threads, " << threadsBefore << " before";
        // The same factory builds again on the next connection.
        EXPECT_EQ(factory.Build("127.0.0.1", emulator.Port())->GetState(), orbel::sdk::SensorState::Idle);
    });
}

TEST(SensorFactoryLifetime, BuildRefusingAGarbledPeerClosesItsLink) {
    orbel::testing::WithinDeadline([] {
        orbel::testing::LoopbackPeer peer;
        const size_t threadsBefore = orbel::testing::ThreadCount();
        SensorFactory factory;
        auto build = std::async(std::launch::async, [&] { return factory.Build("127.0.0.1", peer.Port()); });
        ASSERT_TRUE(peer.Accept());
        ASSERT_EQ(peer.Read(33).size(), 33u);  // the status request
        std::vector<uint8_t> answer(500);
        for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(0x30 + i % 64);
        // A status response one byte short of what the SDK reads.
        const auto tooShort = orbel::testing::RawFrame(0x7000, 0, {0, 1, 2, 3, 4, 5});
        answer.insert(answer.end(), tooShort.begin(), tooShort.end());
        peer.Write(answer);
        try {
            build.get();
            FAIL() << "built on a garbled status answer";
        } catch (const orbel::sdk::Exception& e) {
            EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::PAYLOAD_INCORRECT);
        }
        EXPECT_TRUE(peer.WaitForClose(5s)) << "the failed build left its link open";
        EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }));
    });
}

TEST(SensorFactoryLifetime, BuildFailingOnItsCameraClosesItsLink) {
    orbel::testing::WithinDeadline([] {
        SensorEmulator emulator;
        const size_t threadsBefore = orbel::testing::ThreadCount();
        SensorFactory factory;
        factory.SetImageCallback([](std::unique_ptr<orbel::sdk::IImage>) {});
        factory.SetCameraIPAddress("127.0.0.1");
        EXPECT_THROW(factory.Build("127.0.0.1", emulator.Port()), orbel::sdk::Exception);
        EXPECT_TRUE(emulator.WaitForNoClient(5s)) << "the failed build left its link open";
        EXPECT_TRUE(orbel::testing::Eventually([&] { return orbel::testing::ThreadCount() == threadsBefore; }));
    });
}

const char* WhereName(Where where) {
    switch (where) {
        case Where::MainThreadWhileStreaming: return "MainThreadWhileStreaming";
        case Where::PointCloudCallback: return "InsidePointCloudCallback";
        case Where::ErrorCallbackAfterPeerClose: return "InsideErrorCallbackAfterPeerClose";
        case Where::ErrorLogCallback: return "InsideErrorLogCallback";
        case Where::WhileStartWaits: return "WhileStartWaits";
    }
    return "Unknown";
}

void PrintTo(Where where, std::ostream* os) { *os << WhereName(where); }

std::string Name(const ::testing::TestParamInfo<Where>& info) { return WhereName(info.param); }

INSTANTIATE_TEST_SUITE_P(SensorSdk, Teardown,
                         ::testing::Values(Where::MainThreadWhileStreaming, Where::PointCloudCallback,
                                           Where::ErrorCallbackAfterPeerClose, Where::ErrorLogCallback,
                                           Where::WhileStartWaits),
                         Name);

}  // namespace
