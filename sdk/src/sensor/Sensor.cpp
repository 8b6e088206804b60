#include "sensor/Sensor.h"

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>

#include "communication/VelmorantMessage.h"
#include "utilities/Capture.h"
#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::sdk {
ISensor::~ISensor() = default;
}  // namespace orbel::sdk

namespace orbel::sensor {

using orbel::communication::VelmorantMessage;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::sdk::SensorState;
using orbel::sdk::SerialNumber;

namespace {

std::shared_ptr<VelmorantMessage> MakeCommand(uint32_t id) {
    auto message = std::make_shared<VelmorantMessage>(1, true);
    message->SetId(id);
    message->GetPayload()[0] = 0x00;
    return message;
}

}  // namespace

class Sensor::Impl {
public:
    explicit Impl(std::shared_ptr<orbel::communication::IMessageDispatcher> d) : dispatcher(std::move(d)) {}
    ~Impl() {
        ORBEL_LOG_DEBUG(L"Destructing Sensor");
        camera.reset();
        errorCallback = nullptr;
        handlerList.reset();
        commandMessage.reset();
        statePromise = {};
        dispatcher.reset();
    }

    void RequireDispatcher() const {
        if (!dispatcher)
            throw Exception(std::string("Cannot send message. No dispatcher connected."), SensorError::NO_DISPATCHER);
    }

    // Commands on a lost link fail at once: the SDK never reconnects, so nothing queued
    // would ever be sent.
    void RequireLink() const {
        RequireDispatcher();
        if (!dispatcher->IsConnected())
            throw Exception(std::string(orbel::utilities::kLinkLost), SensorError::NOT_CONNECTED);
    }

    // The send queue's own error stays inside the client; callers of the sensor only
    // ever see an orbel::sdk::Exception.
    [[noreturn]] void ThrowQueueFull(const std::length_error& error) const {
        throw Exception(std::string(error.what()),
                        dispatcher->IsConnected() ? SensorError::TCP_ERROR : SensorError::NOT_CONNECTED);
    }

    void Send(std::shared_ptr<orbel::communication::IMessage> message) {
        RequireLink();
        try {
            dispatcher->Dispatch(std::move(message));
        } catch (const std::length_error& error) {
            ThrowQueueFull(error);
        }
    }

    SensorState SendAndWaitForState(uint32_t id, const std::chrono::milliseconds& timeout);
    std::vector<SensorError> InterpretSensorStatusMessage(const std::vector<uint8_t>& payload);

    std::mutex serialMutex;
    SerialNumber serialNumber;
    std::shared_ptr<orbel::communication::IMessageDispatcher> dispatcher;
    std::atomic<SensorState> state{SensorState::Idle};
    std::mutex promiseMutex;  // guards statePromise and promiseFulfilled
    std::promise<SensorState> statePromise;
    bool promiseFulfilled = true;
    std::atomic<bool> commandPending{false};
    // The message of the last waited command, kept while it may still sit in the send queue.
    std::shared_ptr<VelmorantMessage> commandMessage;
    std::shared_ptr<HandlerList> handlerList;
    std::function<void(const Exception&)> errorCallback;
    std::shared_ptr<orbel::sdk::ICamera> camera;
};

SensorState Sensor::Impl::SendAndWaitForState(uint32_t id, const std::chrono::milliseconds& timeout) {
    RequireLink();
    // A fresh message per command: a Stop must not rewrite a Start still waiting in the queue.
    commandMessage = MakeCommand(id);
    std::future<SensorState> future;
    {
        std::lock_guard lock(promiseMutex);
        statePromise = std::promise<SensorState>();
        promiseFulfilled = false;
        future = statePromise.get_future();
        commandPending = true;
    }
    struct ClearPending {
        std::atomic<bool>& flag;
        ~ClearPending() { flag = false; }
    } clear{commandPending};
    Send(commandMessage);
    orbel::utilities::WaitForAnswer(future, *dispatcher, timeout);
    return future.get();
}

std::vector<SensorError> Sensor::Impl::InterpretSensorStatusMessage(const std::vector<uint8_t>& payload) {
    if (payload.size() < 7) {
        throw Exception(std::string("Payload size of sensor status response does not match expectations. Possibly "
                                    "there is a version mismatch."),
                        SensorError::PAYLOAD_INCORRECT);
    }
    const SerialNumber received(&payload[2]);
    {
        std::lock_guard lock(serialMutex);
        if (serialNumber.GetSensorUID() == 0) {
            serialNumber = received;
            ORBEL_LOG_INFO(L"Serial number received: " + serialNumber.ToWString());
        } else if (received.ToInt() != serialNumber.ToInt()) {
            throw Exception(
                std::string("Serial number in response does not match expected serial number. Ignoring response"),
                SensorError::PAYLOAD_INCORRECT);
        }
    }
    const uint8_t stateByte = payload[1];
    const uint8_t errorByte = payload[6];
    const bool errorFlag = (stateByte & 0xD0) != 0 || (errorByte & 0x0F) != 0;
    if (errorFlag && state != SensorState::Error) {
        state = SensorState::Error;
        ORBEL_LOG_INFO(L"Sensor moved to new state: ERROR");
    } else if ((stateByte & 0x02) && state != SensorState::Running) {
        state = SensorState::Running;
        ORBEL_LOG_INFO(L"Sensor moved to new state: RUNNING");
    } else if ((stateByte & 0x01) && state != SensorState::Idle) {
        state = SensorState::Idle;
        ORBEL_LOG_INFO(L"Sensor moved to new state: IDLE");
    }
    std::vector<SensorError> flags;
    if (stateByte & 0x10) flags.push_back(SensorError::STATUS_FLAG_1);
    if (stateByte & 0x40) flags.push_back(SensorError::STATUS_FLAG_2);
    if (stateByte & 0x80) flags.push_back(SensorError::STATUS_FLAG_3);
    if (errorByte & 0x01) flags.push_back(SensorError::STATUS_FLAG_4);
    if (errorByte & 0x02) flags.push_back(SensorError::STATUS_FLAG_5);
    if (errorByte & 0x04) flags.push_back(SensorError::STATUS_FLAG_6);
    if (errorByte & 0x08) flags.push_back(SensorError::STATUS_FLAG_7);
    if (errorByte & 0x10) flags.push_back(SensorError::STATUS_FLAG_8);
    return flags;
}

Sensor::Sensor(std::shared_ptr<orbel::communication::IMessageDispatcher> dispatcher)
    : impl_(std::make_unique<Impl>(std::move(dispatcher))) {}

Sensor::~Sensor() = default;

void Sensor::Start(const std::chrono::milliseconds& timeout) {
    if (impl_->state != SensorState::Idle)
        throw Exception(std::string("Cannot start sensor. Sensor is not in the correct state."),
                        SensorError::UNABLE_TO_START);
    if (impl_->SendAndWaitForState(kStart, timeout) != SensorState::Running)
        throw Exception(std::string("Sensor failed to start. The new reported state is not running. Error unknown"),
                        SensorError::UNABLE_TO_START);
}

void Sensor::Stop(const std::chrono::milliseconds& timeout) {
    if (impl_->state != SensorState::Running)
        throw Exception(std::string("Cannot stop sensor. Sensor is not in the correct state."),
                        SensorError::UNABLE_TO_STOP);
    if (impl_->SendAndWaitForState(kStop, timeout) != SensorState::Idle)
        throw Exception(std::string("Sensor failed to stop. The new reported state is not idle. Error unknown"),
                        SensorError::UNABLE_TO_STOP);
}

void Sensor::Initialize() { impl_->Send(MakeCommand(kInitialize)); }

void Sensor::Close() { impl_->Send(MakeCommand(kClose)); }

orbel::sdk::SerialNumber Sensor::GetSerialNumber() {
    std::lock_guard lock(impl_->serialMutex);
    return impl_->serialNumber;
}

orbel::sdk::SensorState Sensor::GetState() { return impl_->state; }

std::vector<orbel::sdk::SensorError> Sensor::RequestStatus(const std::chrono::milliseconds& timeout) {
    impl_->RequireDispatcher();
    if (!impl_->handlerList)
        throw Exception(std::string("Cannot request the status. No handler list connected."),
                        SensorError::NO_DISPATCHER);
    impl_->RequireLink();
    orbel::utilities::CaptureRequest request(*impl_->dispatcher, MakeCommand(kStatusRequest), *impl_->handlerList);
    std::vector<uint8_t> payload;
    try {
        payload = request.SendAndWait(kStatusResponse, timeout);
    } catch (const std::length_error& error) {
        impl_->ThrowQueueFull(error);
    }
    return impl_->InterpretSensorStatusMessage(payload);
}

std::shared_ptr<orbel::sdk::ICamera> Sensor::GetCamera() { return impl_->camera; }

void Sensor::SetErrorCallback(std::function<void(const orbel::sdk::Exception&)> callback) {
    impl_->errorCallback = std::move(callback);
}
void Sensor::SetHandlerList(std::shared_ptr<HandlerList> handlerList) { impl_->handlerList = std::move(handlerList); }
void Sensor::SetCamera(std::shared_ptr<orbel::sdk::ICamera> camera) { impl_->camera = std::move(camera); }

void Sensor::OnSensorStateChanged(const orbel::sdk::SensorState& newState) {
    impl_->state = newState;
    ORBEL_LOG_INFO(L"Sensor moved to new state: " + orbel::utilities::SensorStateToWString(newState));
    std::lock_guard lock(impl_->promiseMutex);
    if (impl_->commandPending && !impl_->promiseFulfilled) {
        impl_->statePromise.set_value(newState);
        impl_->promiseFulfilled = true;
    }
}

void Sensor::OnSensorStateChangeError(const orbel::sdk::SensorError& code) {
    const Exception error(std::string("Unable to perform state change action."), code);
    {
        std::lock_guard lock(impl_->promiseMutex);
        if (impl_->commandPending && !impl_->promiseFulfilled) {
            impl_->statePromise.set_exception(std::make_exception_ptr(error));
            impl_->promiseFulfilled = true;
            return;
        }
    }
    ORBEL_LOG_ERROR(L"Received state change error: " + orbel::utilities::SensorErrorToWString(code));
    if (impl_->errorCallback) impl_->errorCallback(error);
}

}  // namespace orbel::sensor
