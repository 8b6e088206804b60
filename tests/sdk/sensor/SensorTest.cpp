// The sensor's state machine and commands against a scripted link: state
// checks, waiting for the state change, errors during a command, and the
// status response.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "communication/IMessageDispatcher.h"
#include "communication/VelmorantMessage.h"
#include "sdk/sensor/MessageFixtures.h"
#include "sensor/HandlerList.h"
#include "sensor/Sensor.h"
#include "support/LogCapture.h"

namespace {

using orbel::communication::IMessage;
using orbel::communication::VelmorantMessage;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::sdk::SensorState;
using orbel::sensor::HandlerList;
using orbel::sensor::Sensor;
using namespace std::chrono_literals;

// Keeps every dispatched message and answers it, on another thread, as scripted.
// It can be disconnected, or have a full queue.
class ScriptedLink : public orbel::communication::IMessageDispatcher {
public:
    using Answer = std::function<void(uint32_t id)>;
    ~ScriptedLink() override { JoinAll(); }
    void Dispatch(std::shared_ptr<IMessage> message) override {
        if (full) throw std::length_error("Outgoing message queue full. Message will not be transmitted");
        std::lock_guard lock(mutex_);
        queued_.push_back(message);
        if (answer_) threads_.emplace_back(answer_, message->GetId());
    }
    bool IsConnected() override { return connected; }
    std::atomic<bool> connected{true};
    std::atomic<bool> full{false};
    void OnDispatch(Answer answer) { answer_ = std::move(answer); }
    std::vector<std::shared_ptr<IMessage>> Queued() {
        std::lock_guard lock(mutex_);
        return queued_;
    }
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
    }

private:
    std::mutex mutex_;
    Answer answer_;
    std::vector<std::shared_ptr<IMessage>> queued_;
    std::vector<std::thread> threads_;
};

struct SensorRig {
    std::shared_ptr<ScriptedLink> link = std::make_shared<ScriptedLink>();
    std::shared_ptr<HandlerList> handlers = std::make_shared<HandlerList>();
    std::shared_ptr<Sensor> sensor = std::make_shared<Sensor>(link);
    std::vector<std::string> errors;

    SensorRig() {
        sensor->SetHandlerList(handlers);
        sensor->SetErrorCallback([this](const Exception& e) { errors.push_back(e.what()); });
    }
    ~SensorRig() { link->JoinAll(); }

    // Answers status requests with a 0x7000 carrying these bytes.
    void AnswerStatus(std::vector<uint8_t> payload) {
        link->OnDispatch([this, payload](uint32_t id) {
            if (id != Sensor::kStatusRequest) return;
            auto answer = orbel::testing::Received(Sensor::kStatusResponse, payload);
            handlers->HandleMessage(answer);
        });
    }
};

std::vector<uint8_t> Status(uint8_t stateByte, uint8_t errorByte, uint32_t serial = 0x03023112) {
    return {0, stateByte, uint8_t(serial >> 24), uint8_t(serial >> 16), uint8_t(serial >> 8), uint8_t(serial),
            errorByte};
}

TEST(Sensor, StartAndStopFollowTheReportedState) {
    SensorRig rig;
    rig.link->OnDispatch([&](uint32_t id) {
        if (id == Sensor::kStart) rig.sensor->OnSensorStateChanged(SensorState::Running);
        if (id == Sensor::kStop) rig.sensor->OnSensorStateChanged(SensorState::Idle);
    });
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Idle);
    rig.sensor->Start(5s);
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Running);
    rig.sensor->Stop(5s);
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Idle);

    const auto queued = rig.link->Queued();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0]->GetId(), Sensor::kStart);
    EXPECT_EQ(queued[1]->GetId(), Sensor::kStop);
    EXPECT_EQ(queued[0]->GetSize(), 33u);
}

TEST(Sensor, StartOutsideIdleIsRefusedWithoutSending) {
    for (SensorState state : {SensorState::UnInitialized, SensorState::Running, SensorState::Error}) {
        SensorRig rig;
        rig.sensor->OnSensorStateChanged(state);
        try {
            rig.sensor->Start(1s);
            FAIL();
        } catch (const Exception& e) {
            EXPECT_EQ(e.GetType(), SensorError::UNABLE_TO_START);
            EXPECT_NE(std::string(e.what()).find("Cannot start sensor. Sensor is not in the correct state."),
                      std::string::npos);
        }
        EXPECT_TRUE(rig.link->Queued().empty());
    }
    SensorRig idle;
    EXPECT_THROW(idle.sensor->Stop(1s), Exception);
    EXPECT_TRUE(idle.link->Queued().empty());
}

TEST(Sensor, UnansweredStartTimesOutAndTheNextCommandStillWorks) {
    SensorRig rig;
    try {
        rig.sensor->Start(30ms);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::COMMAND_TIMEOUT);
    }
    // A late state message only moves the state; it fulfils nothing.
    rig.sensor->OnSensorStateChanged(SensorState::Idle);
    rig.link->OnDispatch([&](uint32_t) { rig.sensor->OnSensorStateChanged(SensorState::Running); });
    rig.sensor->Start(5s);
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Running);
}

TEST(Sensor, EachCommandHasItsOwnMessage) {
    // A Start that still waits in the send queue must not become a Stop.
    SensorRig rig;
    EXPECT_THROW(rig.sensor->Start(10ms), Exception);
    rig.sensor->OnSensorStateChanged(SensorState::Running);
    EXPECT_THROW(rig.sensor->Stop(10ms), Exception);
    const auto queued = rig.link->Queued();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0]->GetId(), Sensor::kStart);
    EXPECT_EQ(queued[1]->GetId(), Sensor::kStop);
    EXPECT_NE(queued[0].get(), queued[1].get());
}

TEST(Sensor, StateErrorDuringStartIsThrownThere) {
    SensorRig rig;
    rig.link->OnDispatch([&](uint32_t) { rig.sensor->OnSensorStateChangeError(SensorError::UNABLE_TO_START); });
    try {
        rig.sensor->Start(5s);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::UNABLE_TO_START);
        EXPECT_STREQ(e.what(), "Exception: Failed to start the sensor. Please check the sensor's configuration and try "
                               "again. Extra information: Unable to perform state change action.");
    }
    EXPECT_TRUE(rig.errors.empty());
}

TEST(Sensor, StateErrorWithoutWaitingCommandGoesToTheCallback) {
    orbel::testing::LogCapture log;
    SensorRig rig;
    rig.sensor->OnSensorStateChangeError(SensorError::UNABLE_TO_STOP);
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_NE(rig.errors[0].find("Unable to perform state change action."), std::string::npos);
    EXPECT_EQ(log.Count(L"Received state change error: UNABLE_TO_STOP"), 1u);
}

TEST(Sensor, StartReportingAnotherStateFails) {
    SensorRig rig;
    rig.link->OnDispatch([&](uint32_t) { rig.sensor->OnSensorStateChanged(SensorState::UnInitialized); });
    try {
        rig.sensor->Start(5s);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("Sensor failed to start. The new reported state is not running."),
                  std::string::npos);
    }
}

struct StatusCase {
    SensorState before;
    uint8_t stateByte;
    uint8_t errorByte;
    SensorState after;
    std::vector<SensorError> flags;
};

TEST(Sensor, StatusResponseMovesStateAndListsFlags) {
    using E = SensorError;
    const StatusCase cases[] = {
        {SensorState::Idle, 0x03, 0x00, SensorState::Running, {}},
        {SensorState::Running, 0x03, 0x00, SensorState::Idle, {}},
        {SensorState::Running, 0x01, 0x00, SensorState::Idle, {}},
        {SensorState::Idle, 0x01, 0x10, SensorState::Idle, {E::STATUS_FLAG_8}},
        {SensorState::Idle, 0xD1, 0x0F, SensorState::Error,
         {E::STATUS_FLAG_1, E::STATUS_FLAG_2, E::STATUS_FLAG_3, E::STATUS_FLAG_4, E::STATUS_FLAG_5, E::STATUS_FLAG_6,
          E::STATUS_FLAG_7}},
        {SensorState::Error, 0x12, 0x00, SensorState::Running, {E::STATUS_FLAG_1}},
    };
    for (const auto& c : cases) {
        SensorRig rig;
        rig.sensor->OnSensorStateChanged(c.before);
        rig.AnswerStatus(Status(c.stateByte, c.errorByte));
        EXPECT_EQ(rig.sensor->RequestStatus(5s), c.flags) << int(c.stateByte);
        EXPECT_EQ(rig.sensor->GetState(), c.after) << int(c.stateByte);
    }
}

TEST(Sensor, StatusResponseTeachesTheSerialNumberAndChecksLaterOnes) {
    orbel::testing::LogCapture log;
    SensorRig rig;
    rig.AnswerStatus(Status(0x01, 0, 0x03023112));
    rig.sensor->RequestStatus(5s);
    EXPECT_EQ(rig.sensor->GetSerialNumber().ToInt(), 0x03023112u);
    EXPECT_EQ(log.Count(L"Serial number received: MR Q9 JY - 66051"), 1u);

    rig.link->JoinAll();
    rig.AnswerStatus(Status(0x02, 0, 0x03023113));
    try {
        rig.sensor->RequestStatus(5s);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::PAYLOAD_INCORRECT);
    }
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Idle);
}

TEST(Sensor, SerialNumberWithoutUnitIdIsAlwaysAccepted) {
    SensorRig rig;
    rig.AnswerStatus(Status(0x01, 0, 0x000000F8));
    rig.sensor->RequestStatus(5s);
    rig.link->JoinAll();
    rig.AnswerStatus(Status(0x01, 0, 0x000000F0));
    EXPECT_NO_THROW(rig.sensor->RequestStatus(5s));
}

TEST(Sensor, ShortStatusResponseIsAVersionMismatch) {
    SensorRig rig;
    rig.AnswerStatus({0, 1, 2, 3, 4, 5});
    try {
        rig.sensor->RequestStatus(5s);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::PAYLOAD_INCORRECT);
        EXPECT_NE(std::string(e.what()).find("Possibly there is a version mismatch."), std::string::npos);
    }
}

TEST(Sensor, CommandsWithoutDispatcherFail) {
    Sensor sensor(nullptr);
    for (auto command : std::vector<std::function<void()>>{[&] { sensor.Initialize(); }, [&] { sensor.Close(); },
                                                           [&] { sensor.Start(1s); }}) {
        try {
            command();
            FAIL();
        } catch (const Exception& e) {
            EXPECT_EQ(e.GetType(), SensorError::NO_DISPATCHER);
        }
    }
}

struct Command {
    const char* name;
    std::function<void(Sensor&)> run;
    SensorState from;  // the state in which the command is allowed
};

const Command kCommands[] = {
    {"Start", [](Sensor& s) { s.Start(3s); }, SensorState::Idle},
    {"Stop", [](Sensor& s) { s.Stop(3s); }, SensorState::Running},
    {"RequestStatus", [](Sensor& s) { s.RequestStatus(3s); }, SensorState::Idle},
    {"Initialize", [](Sensor& s) { s.Initialize(); }, SensorState::Idle},
    {"Close", [](Sensor& s) { s.Close(); }, SensorState::Idle},
};

// Runs the command and returns the SDK exception it throws; anything else fails the test.
std::optional<Exception> Thrown(const Command& command, Sensor& sensor) {
    try {
        command.run(sensor);
    } catch (const Exception& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << command.name << " let a non-SDK exception out: " << e.what();
    }
    return std::nullopt;
}

TEST(Sensor, CommandsOnALostLinkFailAtOnceWithNotConnected) {
    for (const Command& command : kCommands) {
        SensorRig rig;
        rig.sensor->OnSensorStateChanged(command.from);
        rig.link->connected = false;
        const auto error = Thrown(command, *rig.sensor);
        ASSERT_TRUE(error.has_value()) << command.name;
        EXPECT_EQ(error->GetType(), SensorError::NOT_CONNECTED) << command.name;
        EXPECT_TRUE(rig.link->Queued().empty()) << command.name << " queued a message that can never be sent";
    }
}

TEST(Sensor, LinkLostWhileACommandWaitsEndsTheWait) {
    for (const Command& command : kCommands) {
        if (command.name == std::string("Initialize") || command.name == std::string("Close")) continue;
        SensorRig rig;
        rig.sensor->OnSensorStateChanged(command.from);
        rig.link->OnDispatch([&](uint32_t) { rig.link->connected = false; });  // sent, then the peer is gone
        const auto error = Thrown(command, *rig.sensor);  // waits 3 s unless the loss ends it
        ASSERT_TRUE(error.has_value()) << command.name;
        EXPECT_EQ(error->GetType(), SensorError::NOT_CONNECTED) << command.name;
    }
}

TEST(Sensor, AFullSendQueueReachesTheCallerAsAnSdkException) {
    for (const Command& command : kCommands) {
        SensorRig rig;
        rig.sensor->OnSensorStateChanged(command.from);
        rig.link->full = true;
        const auto error = Thrown(command, *rig.sensor);
        ASSERT_TRUE(error.has_value()) << command.name;
        EXPECT_EQ(error->GetType(), SensorError::TCP_ERROR) << command.name;
        EXPECT_NE(std::string(error->what()).find("Outgoing message queue full. Message will not be transmitted"),
                  std::string::npos)
            << error->what();
    }
}

}  // namespace
