// orbel::sdk::SensorFactory: configure with the setters, then Build a sensor.
// Setters take effect at the next Build. Use one factory from one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <orbel/sdk/Alert.h>
#include <orbel/sdk/Exception.h>
#include <orbel/sdk/Export.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>
#include <orbel/sdk/ISensor.h>

namespace orbel::sdk {

using PointCloudCallback = std::function<void(std::unique_ptr<IPointCloud>)>;
using ErrorCallback = std::function<void(const Exception&)>;
using AlertCallback = std::function<void(Alert, std::optional<bool>)>;
using ImageCallback = std::function<void(std::unique_ptr<IImage>)>;

class ORBEL_SDK_API SensorFactory {
public:
    SensorFactory();
    virtual ~SensorFactory();
    SensorFactory(const SensorFactory&) = delete;
    SensorFactory& operator=(const SensorFactory&) = delete;

    void SetAlertCallback(AlertCallback callback);
    void SetErrorCallback(ErrorCallback callback);
    void SetImageCallback(ImageCallback callback);
    void SetPointCloudCallback(PointCloudCallback callback);
    void SetCameraIPAddress(const std::string_view& ip);
    void SetImageBufferSize(size_t size);
    void SetPointCloudBufferSize(size_t size);
    void SetImageOutputFormat(PixelFormat format);

    // Connects, wires the handlers, asks for the status once (5000 ms) and, when
    // an image callback is set, builds the camera. Throws orbel::sdk::Exception.
    std::shared_ptr<ISensor> Build(const std::string_view& ip, int port);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::sdk
