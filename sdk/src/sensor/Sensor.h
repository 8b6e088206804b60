// orbel::sensor::Sensor: the object behind ISensor. Keeps the state and serial
// number, sends commands through the dispatcher (the TCP client), waits for the
// state change a command causes and decodes the status response.
//
// Threads: commands run on the caller's thread, one waited command at a time;
// OnSensorStateChanged / OnSensorStateChangeError run on the connection's I/O
// thread under the handler list's lock. The promise (guarded by its own mutex) is
// the only hand-over between the two. Each command gets its own message object.
//
// Errors: every failure reaches the caller as an orbel::sdk::Exception. A command on
// a lost link (the SDK never reconnects) fails at once with NOT_CONNECTED, and a wait
// ends as soon as the link goes; a full send queue is reported as TCP_ERROR.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <orbel/sdk/Exception.h>
#include <orbel/sdk/ISensor.h>

#include "communication/IMessageDispatcher.h"
#include "sensor/HandlerList.h"

namespace orbel::sensor {

class Sensor : public orbel::sdk::ISensor {
public:
    static constexpr uint32_t kInitialize = 0x2008;
    static constexpr uint32_t kClose = 0x2009;
    static constexpr uint32_t kStart = 0x4000;
    static constexpr uint32_t kStop = 0x4001;
    static constexpr uint32_t kStatusRequest = 0x6000;
    static constexpr uint32_t kStatusResponse = 0x7000;

    explicit Sensor(std::shared_ptr<orbel::communication::IMessageDispatcher> dispatcher);
    ~Sensor() override;
    Sensor(const Sensor&) = delete;
    Sensor& operator=(const Sensor&) = delete;

    void Start(const std::chrono::milliseconds& timeout) override;
    void Stop(const std::chrono::milliseconds& timeout) override;
    orbel::sdk::SerialNumber GetSerialNumber() override;
    orbel::sdk::SensorState GetState() override;
    std::vector<orbel::sdk::SensorError> RequestStatus(const std::chrono::milliseconds& timeout) override;
    void Close() override;
    void Initialize() override;
    std::shared_ptr<orbel::sdk::ICamera> GetCamera() override;

    void SetErrorCallback(std::function<void(const orbel::sdk::Exception&)> callback);
    void SetHandlerList(std::shared_ptr<HandlerList> handlerList);
    void SetCamera(std::shared_ptr<orbel::sdk::ICamera> camera);

    void OnSensorStateChanged(const orbel::sdk::SensorState& newState);
    void OnSensorStateChangeError(const orbel::sdk::SensorError& code);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::sensor
