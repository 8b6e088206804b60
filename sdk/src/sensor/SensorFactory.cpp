// orbel::sdk::SensorFactory: connects, wires link, parser, handler list and
// handlers to a new sensor, asks for its status once and, when images are
// wanted, attaches a camera. Everything runs on the caller's thread; the threads
// it starts belong to the objects that start them.
//
// The factory keeps nothing of a sensor once Build returns or throws: the returned
// handle owns the whole chain (sensor, handler list, client, link and their threads),
// so dropping its last copy closes the link; a failed Build closes its gate and
// releases what it had built, its link included, before the exception leaves.
#include <orbel/sdk/SensorFactory.h>

#include <stdexcept>

#include "camera/Camera.h"
#include "camera/vendor/GenericException.h"
#include "communication/TCPClient.h"
#include "communication/TCPConnection.h"
#include "communication/VelmorantParser.h"
#include "sensor/HandlerList.h"
#include "sensor/Sensor.h"
#include "sensor/messageHandlers/AlertsHandler.h"
#include "sensor/messageHandlers/DataHandler.h"
#include "sensor/messageHandlers/ErrorMessageHandler.h"
#include "sensor/messageHandlers/SensorStatusHandler.h"
#include "utilities/CallbackGate.h"
#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::sdk {

using orbel::communication::TCPClient;
using orbel::communication::TCPConnection;
using orbel::sensor::HandlerList;
using orbel::sensor::Sensor;
using orbel::utilities::ConvertToWString;
using orbel::utilities::ConvertToWStringLossy;

class SensorFactory::Impl {
public:
    ~Impl() {
        // Release order: texts and callbacks first, then the objects that own threads.
        cameraIp.clear();
        imageCallback = nullptr;
        alertCallback = nullptr;
        errorCallback = nullptr;
        pointCloudCallback = nullptr;
        ReleaseBuilt();
    }

    // Drops the factory's share of what the last Build made. A sensor still held here
    // was not returned: its link and threads end now, on the caller's thread.
    void ReleaseBuilt() noexcept {
        sensor.reset();
        handlerList.reset();
        tcpClient.reset();
        tcpConnection.reset();
        gate.reset();
    }

    void BuildTCPLayer(const std::string_view& ip, int port);
    void BuildSensorObjectUsingTCPLayer();
    void AttachMessageStateHandler();
    void AttachMessageDataHandler();
    void AttachErrorMessageHandler();
    void AttachAlertMessageHandler();
    void ConnectIncomingTCPMessagesToHandlers();
    void BuildCameraIfConfigured();

    size_t sendQueueLimit = 10;
    size_t pointCloudBufferSize = 112;
    size_t imageBufferSize = 10;
    std::shared_ptr<TCPConnection> tcpConnection;
    std::unique_ptr<TCPClient> tcpClient;
    std::shared_ptr<HandlerList> handlerList;
    std::shared_ptr<Sensor> sensor;
    PointCloudCallback pointCloudCallback;
    ErrorCallback errorCallback;
    AlertCallback alertCallback;
    ImageCallback imageCallback;
    std::string cameraIp = "10.10.100.12";
    PixelFormat imageOutputFormat = PixelFormat::RGB12;
    // The gate of the sensor being built; every caller callback goes through it.
    std::shared_ptr<orbel::utilities::CallbackGate> gate;

    ErrorCallback GuardedErrorCallback() const { return orbel::utilities::CallbackGate::Guard(gate, errorCallback); }
};

void SensorFactory::Impl::BuildTCPLayer(const std::string_view& ip, int port) {
    ORBEL_LOG_INFO(L"Sensor Factory: Building sensor for IP: " + ConvertToWString(ip) + L" and port: " +
                   std::to_wstring(port));
    tcpConnection = std::make_shared<TCPConnection>(ip, port);
    tcpClient = std::make_unique<TCPClient>(tcpConnection, sendQueueLimit);
    tcpClient->SetErrorHandler(GuardedErrorCallback());
    ORBEL_LOG_DEBUG(L"TCP Client and TCP Connection created");
}

void SensorFactory::Impl::BuildSensorObjectUsingTCPLayer() {
    sensor = std::make_shared<Sensor>(std::shared_ptr<TCPClient>(std::move(tcpClient)));
    sensor->SetErrorCallback(GuardedErrorCallback());
    ORBEL_LOG_DEBUG(L"Sensor object created");
}

void SensorFactory::Impl::AttachMessageStateHandler() {
    auto handler = std::make_shared<orbel::sensor::SensorStatusHandler>();
    std::weak_ptr<Sensor> weak = sensor;
    handler->SetStateCallback([weak](const SensorState& state) {
        if (auto s = weak.lock()) s->OnSensorStateChanged(state);
    });
    handler->SetErrorCallback([weak](const SensorError& code) {
        if (auto s = weak.lock()) s->OnSensorStateChangeError(code);
    });
    handlerList->AddHandler(handler);
    ORBEL_LOG_DEBUG(L"Sensor status handler registered with handlerList");
}

void SensorFactory::Impl::AttachMessageDataHandler() {
    auto handler = std::make_shared<orbel::sensor::DataHandler>(pointCloudBufferSize);
    handler->SetCallback(orbel::utilities::CallbackGate::Guard(gate, pointCloudCallback));
    handlerList->AddHandler(handler);
    ORBEL_LOG_DEBUG(L"PC data handler registered with handlerList");
}

void SensorFactory::Impl::AttachErrorMessageHandler() {
    handlerList->AddHandler(std::make_shared<orbel::sensor::ErrorMessageHandler>(GuardedErrorCallback()));
    ORBEL_LOG_DEBUG(L"Error data handler registered with handlerList");
}

void SensorFactory::Impl::AttachAlertMessageHandler() {
    auto handler = std::make_shared<orbel::sensor::AlertsHandler>();
    if (alertCallback) handler->SetAlertCallback(orbel::utilities::CallbackGate::Guard(gate, alertCallback));
    handlerList->AddHandler(handler);
    ORBEL_LOG_DEBUG(L"Events data handler registered with handlerList");
}

void SensorFactory::Impl::ConnectIncomingTCPMessagesToHandlers() {
    std::weak_ptr<HandlerList> weak = handlerList;
    tcpConnection->SetParser(
        std::make_shared<orbel::communication::VelmorantParser>([weak](orbel::communication::VelmorantMessage& m) {
            if (auto list = weak.lock()) list->HandleMessage(m);
        }));
    ORBEL_LOG_DEBUG(L"Message parser and dispatcher attached to connection");
}

void SensorFactory::Impl::BuildCameraIfConfigured() {
    if (!imageCallback) return;
    ORBEL_LOG_INFO(L"Sensor Factory: Building camera for IP: " + ConvertToWStringLossy(cameraIp));
    auto fail = [](const std::string& text) {
        const std::wstring message = ConvertToWStringLossy("Failed to create camera: " + text);
        ORBEL_LOG_ERROR(message);
        throw Exception(message, SensorError::CONNECTION_FAILED);
    };
    try {
        auto camera = std::make_shared<orbel::camera::Camera>(cameraIp, imageBufferSize);
        camera->Initialize(tcpConnection->GetLocalIp());
        camera->SetImageCallback(orbel::utilities::CallbackGate::Guard(gate, imageCallback));
        camera->SetErrorCallback(GuardedErrorCallback());
        camera->SetImageOutputFormat(imageOutputFormat);
        sensor->SetCamera(std::move(camera));
        ORBEL_LOG_INFO(L"Camera successfully created and attached to sensor");
    } catch (const orbel::camera::vendor::GenericException& e) {
        fail(e.GetDescription());
    } catch (const std::exception& e) {
        fail(e.what());
    } catch (...) {
        ORBEL_LOG_ERROR(L"Failed to create camera: Unknown error");
        ThrowUnknownError("Failed to create camera: Unknown error");
    }
}

SensorFactory::SensorFactory() : impl_(std::make_unique<Impl>()) {}
SensorFactory::~SensorFactory() = default;

void SensorFactory::SetAlertCallback(AlertCallback callback) { impl_->alertCallback = std::move(callback); }
void SensorFactory::SetErrorCallback(ErrorCallback callback) { impl_->errorCallback = std::move(callback); }
void SensorFactory::SetImageCallback(ImageCallback callback) { impl_->imageCallback = std::move(callback); }
void SensorFactory::SetPointCloudCallback(PointCloudCallback callback) {
    impl_->pointCloudCallback = std::move(callback);
}
void SensorFactory::SetCameraIPAddress(const std::string_view& ip) { impl_->cameraIp = std::string(ip); }
void SensorFactory::SetImageBufferSize(size_t size) { impl_->imageBufferSize = size; }
void SensorFactory::SetPointCloudBufferSize(size_t size) {
    // One slot always stays free, so fewer than two could never hold a message.
    if (size < 2)
        throw std::invalid_argument("The point-cloud buffer size must be at least 2, got " + std::to_string(size));
    impl_->pointCloudBufferSize = size;
}
void SensorFactory::SetImageOutputFormat(PixelFormat format) { impl_->imageOutputFormat = format; }

std::shared_ptr<ISensor> SensorFactory::Build(const std::string_view& ip, int port) {
    struct ReleaseOnExit {
        Impl& impl;
        ~ReleaseOnExit() { impl.ReleaseBuilt(); }
    } release{*impl_};
    impl_->gate = std::make_shared<orbel::utilities::CallbackGate>();
    try {
        impl_->BuildTCPLayer(ip, port);
        impl_->BuildSensorObjectUsingTCPLayer();
        impl_->handlerList = std::make_shared<HandlerList>();
        impl_->AttachMessageStateHandler();
        impl_->AttachMessageDataHandler();
        impl_->AttachErrorMessageHandler();
        impl_->AttachAlertMessageHandler();
        impl_->sensor->SetHandlerList(impl_->handlerList);
        impl_->ConnectIncomingTCPMessagesToHandlers();
        ORBEL_LOG_INFO(L"Sensor fully constructed");
        impl_->sensor->RequestStatus(std::chrono::milliseconds(5000));
        impl_->BuildCameraIfConfigured();
    } catch (...) {
        // No callback of a sensor that was never returned runs from here on.
        impl_->gate->Close();
        throw;
    }
    // The caller's handle closes the gate when its last copy goes: from then on no
    // callback of this sensor runs, even while an SDK thread still holds the sensor
    // for a moment and finishes its teardown.
    std::shared_ptr<Sensor> core = std::move(impl_->sensor);
    Sensor* raw = core.get();
    return std::shared_ptr<ISensor>(raw, [core = std::move(core), gate = impl_->gate](ISensor*) mutable {
        gate->Close();
        core.reset();
    });
}

}  // namespace orbel::sdk
