// The device, its node maps and its stream over Aravis's GigE Vision device.
#include "camera/vendor/Device.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "camera/vendor/AravisText.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Image.h"
#include "camera/vendor/NodeMap.h"
#include "camera/vendor/Pfnc.h"

namespace orbel::camera::vendor {
namespace {

[[noreturn]] void ThrowNotFound(const std::string& map, const std::string& name) {
    throw GenericException("[" + name + "] Not found in the " + map);
}

[[noreturn]] void ThrowWrongKind(const std::string& name, const char* kind) {
    throw GenericException("[" + name + "] is not " + kind + " node");
}

// A running stream and the buffers lent from it. Images hold it, so it outlives
// StopStream while one is still out or GetImage still waits on it.
class StreamState final : public BufferHome {
public:
    explicit StreamState(ArvStream* stream) : stream_(stream) {}
    ~StreamState() override { g_object_unref(stream_); }

    ArvStream* Stream() const { return stream_; }
    void Close() { open_ = false; }

    void Return(void* buffer) noexcept override {
        auto* arvBuffer = static_cast<ArvBuffer*>(buffer);
        if (open_) {
            arv_stream_push_buffer(stream_, arvBuffer);
        } else {
            g_object_unref(arvBuffer);
        }
    }

private:
    ArvStream* stream_;
    std::atomic<bool> open_{true};
};

}  // namespace

struct Device::Impl {
    Impl(ArvDevice* d, DeviceInfo i);
    ~Impl();

    ArvDevice* device;
    DeviceInfo info;
    std::mutex mutex;  // node access, stream start and stop
    // Aravis's heartbeat gives up control when the device stops answering.
    const bool openedInControl;
    bool Lost() const { return openedInControl && !arv_gv_device_is_controller(ARV_GV_DEVICE(device)); }

    std::mutex streamMutex;  // the pointer only
    std::shared_ptr<StreamState> stream;

    // Transport-layer settings (under mutex, except newestOnly).
    std::atomic<bool> newestOnly{false};
    bool autoNegotiatePacketSize = false;
    bool packetResend = true;
    int64_t switchoverKey = 0;

    // Device node maps that an interposed one replaced and passes on to: they outlive it.
    std::vector<std::unique_ptr<NodeMap>> replacedDeviceMaps;
    std::unique_ptr<NodeMap> deviceMap;
    std::unique_ptr<NodeMap> transportDeviceMap;
    std::unique_ptr<NodeMap> transportStreamMap;

    void StopStreamLocked();
};

// The device's GenICam features.
class FeatureNodeMap final : public NodeMap {
    // Runs one Aravis call under the device's lock and throws what it reports.
    template <typename F>
    auto Call(const std::string& name, F&& f) {
        std::lock_guard lock(impl_.mutex);
        ErrorSlot error;
        if constexpr (std::is_void_v<decltype(f(error.Out()))>) {
            f(error.Out());
            error.ThrowIfSet(name);
        } else {
            auto result = f(error.Out());
            error.ThrowIfSet(name);
            return result;
        }
    }

public:
    explicit FeatureNodeMap(Device::Impl& impl) : impl_(impl) {}

    double GetFloat(const std::string& name) override {
        return Call(name, [&](GError** e) { return arv_device_get_float_feature_value(impl_.device, name.c_str(), e); });
    }
    std::string GetString(const std::string& name) override {
        return Call(name, [&](GError** e) {
            const char* value = arv_device_get_string_feature_value(impl_.device, name.c_str(), e);
            return std::string(value ? value : "");
        });
    }
    bool GetBoolean(const std::string& name) override {
        return Call(name,
                    [&](GError** e) { return arv_device_get_boolean_feature_value(impl_.device, name.c_str(), e) != 0; });
    }
    int64_t GetInteger(const std::string& name) override {
        return Call(name, [&](GError** e) {
            return static_cast<int64_t>(arv_device_get_integer_feature_value(impl_.device, name.c_str(), e));
        });
    }
    void SetFloat(const std::string& name, double value) override {
        Call(name, [&](GError** e) { arv_device_set_float_feature_value(impl_.device, name.c_str(), value, e); });
    }
    void SetString(const std::string& name, const std::string& value) override {
        Call(name,
             [&](GError** e) { arv_device_set_string_feature_value(impl_.device, name.c_str(), value.c_str(), e); });
    }
    void SetBoolean(const std::string& name, bool value) override {
        Call(name, [&](GError** e) { arv_device_set_boolean_feature_value(impl_.device, name.c_str(), value, e); });
    }
    void SetInteger(const std::string& name, int64_t value) override {
        Call(name, [&](GError** e) { arv_device_set_integer_feature_value(impl_.device, name.c_str(), value, e); });
    }
    void Execute(const std::string& name) override {
        Call(name, [&](GError** e) { arv_device_execute_command(impl_.device, name.c_str(), e); });
    }

private:
    Device::Impl& impl_;
};

// Transport-layer device settings: the control-channel switchover key (kept;
// Aravis takes control without one) and the stream channel's packet size.
class TransportDeviceNodeMap final : public NodeMap {
public:
    explicit TransportDeviceNodeMap(Device::Impl& impl) : impl_(impl) {}

    int64_t GetInteger(const std::string& name) override {
        std::lock_guard lock(impl_.mutex);
        if (name == "CcpSwitchoverKey") return impl_.switchoverKey;
        if (name == "GevSCPSPacketSize") {
            ErrorSlot error;
            const auto size = arv_gv_device_get_packet_size(ARV_GV_DEVICE(impl_.device), error.Out());
            error.ThrowIfSet(name);
            return size;
        }
        ThrowNotFound(kName, name);
    }
    void SetInteger(const std::string& name, int64_t value) override {
        std::lock_guard lock(impl_.mutex);
        if (name == "CcpSwitchoverKey") {
            impl_.switchoverKey = value;
            return;
        }
        if (name == "GevSCPSPacketSize") {
            if (value <= 0 || value > 65535) throw GenericException("[" + name + "] out of range");
            ErrorSlot error;
            arv_gv_device_set_packet_size(ARV_GV_DEVICE(impl_.device), static_cast<gint>(value), error.Out());
            error.ThrowIfSet(name);
            return;
        }
        ThrowNotFound(kName, name);
    }
    double GetFloat(const std::string& name) override { Refuse(name, "a float"); }
    std::string GetString(const std::string& name) override { Refuse(name, "a text"); }
    bool GetBoolean(const std::string& name) override { Refuse(name, "a boolean"); }
    void SetFloat(const std::string& name, double) override { Refuse(name, "a float"); }
    void SetString(const std::string& name, const std::string&) override { Refuse(name, "a text"); }
    void SetBoolean(const std::string& name, bool) override { Refuse(name, "a boolean"); }
    void Execute(const std::string& name) override { Refuse(name, "a command"); }

private:
    static constexpr const char* kName = "transport-layer device node map";
    [[noreturn]] static void Refuse(const std::string& name, const char* kind) {
        if (name == "CcpSwitchoverKey" || name == "GevSCPSPacketSize") ThrowWrongKind(name, kind);
        ThrowNotFound(kName, name);
    }

    Device::Impl& impl_;
};

// Transport-layer stream settings: kept here and applied when the stream
// starts, except the buffer handling mode, which GetImage follows at once.
class TransportStreamNodeMap final : public NodeMap {
public:
    explicit TransportStreamNodeMap(Device::Impl& impl) : impl_(impl) {}

    std::string GetString(const std::string& name) override {
        std::lock_guard lock(impl_.mutex);
        if (name == kHandling) return impl_.newestOnly ? "NewestOnly" : "OldestFirst";
        Refuse(name, "a text");
    }
    void SetString(const std::string& name, const std::string& value) override {
        std::lock_guard lock(impl_.mutex);
        if (name != kHandling) Refuse(name, "a text");
        if (value == "NewestOnly") {
            impl_.newestOnly = true;
        } else if (value == "OldestFirst") {
            impl_.newestOnly = false;
        } else {
            throw GenericException("[" + name + "] '" + value + "' not an entry");
        }
    }
    bool GetBoolean(const std::string& name) override {
        std::lock_guard lock(impl_.mutex);
        return *Flag(name);
    }
    void SetBoolean(const std::string& name, bool value) override {
        std::lock_guard lock(impl_.mutex);
        *Flag(name) = value;
    }
    double GetFloat(const std::string& name) override { Refuse(name, "a float"); }
    int64_t GetInteger(const std::string& name) override { Refuse(name, "an integer"); }
    void SetFloat(const std::string& name, double) override { Refuse(name, "a float"); }
    void SetInteger(const std::string& name, int64_t) override { Refuse(name, "an integer"); }
    void Execute(const std::string& name) override { Refuse(name, "a command"); }

private:
    static constexpr const char* kName = "transport-layer stream node map";
    static constexpr const char* kHandling = "StreamBufferHandlingMode";

    bool* Flag(const std::string& name) {
        if (name == "StreamAutoNegotiatePacketSize") return &impl_.autoNegotiatePacketSize;
        if (name == "StreamPacketResendEnable") return &impl_.packetResend;
        Refuse(name, "a boolean");
    }
    [[noreturn]] static void Refuse(const std::string& name, const char* kind) {
        if (name == kHandling || name == "StreamAutoNegotiatePacketSize" || name == "StreamPacketResendEnable")
            ThrowWrongKind(name, kind);
        ThrowNotFound(kName, name);
    }

    Device::Impl& impl_;
};

Device::Impl::Impl(ArvDevice* d, DeviceInfo i)
    : device(d), info(std::move(i)), openedInControl(arv_gv_device_is_controller(ARV_GV_DEVICE(d)) != 0) {
    deviceMap = std::make_unique<FeatureNodeMap>(*this);
    transportDeviceMap = std::make_unique<TransportDeviceNodeMap>(*this);
    transportStreamMap = std::make_unique<TransportStreamNodeMap>(*this);
}

Device::Impl::~Impl() {
    {
        std::lock_guard lock(mutex);
        try {
            StopStreamLocked();
        } catch (...) {
            // Released either way; the device may be gone.
        }
    }
    // Gives up control of the device; a device that no longer answers takes a few seconds.
    g_object_unref(device);
}

void Device::Impl::StopStreamLocked() {
    std::shared_ptr<StreamState> running;
    {
        std::lock_guard lock(streamMutex);
        running.swap(stream);
    }
    if (!running) throw GenericException("[stream] The stream is not running");
    running->Close();
    // A device that no longer answers has nothing to stop; its stream is released all the same.
    if (Lost()) return;
    ErrorSlot error;
    arv_device_execute_command(device, "AcquisitionStop", error.Out());
    running.reset();
    error.ThrowIfSet("AcquisitionStop");
}

Device::Device(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Device* Device::Open(const DeviceInfo& info) {
    struct Address {
        explicit Address(const std::string& text) : value(g_inet_address_new_from_string(text.c_str())) {
            if (value == nullptr) throw GenericException("'" + text + "' is not an IPv4 address");
        }
        ~Address() { g_object_unref(value); }
        GInetAddress* value;
    };
    const Address local(info.interfaceIpAddress);
    const Address remote(info.ipAddress);
    ErrorSlot error;
    // Unicast to the device's own address from the interface's: no broadcast.
    ArvDevice* device = arv_gv_device_new(local.value, remote.value, error.Out());
    if (device == nullptr) error.ThrowIfSet("device " + info.ipAddress, "The device cannot be opened");
    return new Device(std::make_unique<Impl>(device, info));
}

Device::~Device() = default;

NodeMap* Device::GetNodeMap() { return impl_->deviceMap.get(); }
NodeMap* Device::GetTLDeviceNodeMap() { return impl_->transportDeviceMap.get(); }
NodeMap* Device::GetTLStreamNodeMap() { return impl_->transportStreamMap.get(); }

NodeMap* Device::InterposeNodeMap(std::unique_ptr<NodeMap> map) {
    NodeMap* replaced = impl_->deviceMap.get();
    impl_->replacedDeviceMaps.push_back(std::move(impl_->deviceMap));
    impl_->deviceMap = std::move(map);
    return replaced;
}

const DeviceInfo& Device::GetDeviceInfo() const { return impl_->info; }

void Device::StartStream(size_t bufferCount) {
    std::lock_guard lock(impl_->mutex);
    {
        std::lock_guard streamLock(impl_->streamMutex);
        if (impl_->stream) throw GenericException("[stream] The stream is already running");
    }
    if (bufferCount == 0) throw GenericException("[stream] A stream needs at least one buffer");
    if (impl_->Lost()) throw GenericException("[stream] " + LostText(impl_->info));

    ErrorSlot error;
    const gint64 payload = arv_device_get_integer_feature_value(impl_->device, "PayloadSize", error.Out());
    error.ThrowIfSet("PayloadSize");
    if (payload <= 0) throw GenericException("[PayloadSize] The device reports no payload");
    if (impl_->autoNegotiatePacketSize) {
        // A device that cannot negotiate keeps its current packet size.
        arv_gv_device_auto_packet_size(ARV_GV_DEVICE(impl_->device), error.Out());
        error.Clear();
    }
    ArvStream* stream = arv_device_create_stream(impl_->device, nullptr, nullptr, error.Out());
    if (stream == nullptr) error.ThrowIfSet("stream", "The stream cannot be created");
    auto state = std::make_shared<StreamState>(stream);
    g_object_set(stream, "packet-resend",
                 impl_->packetResend ? ARV_GV_STREAM_PACKET_RESEND_ALWAYS : ARV_GV_STREAM_PACKET_RESEND_NEVER, nullptr);
    for (size_t i = 0; i < bufferCount; ++i) arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
    arv_device_execute_command(impl_->device, "AcquisitionStart", error.Out());
    error.ThrowIfSet("AcquisitionStart");
    std::lock_guard streamLock(impl_->streamMutex);
    impl_->stream = std::move(state);
}

void Device::StopStream() {
    std::lock_guard lock(impl_->mutex);
    impl_->StopStreamLocked();
}

Image* Device::GetImage(uint64_t timeoutMs) {
    if (impl_->Lost()) throw GenericException(LostText(impl_->info));
    std::shared_ptr<StreamState> state;
    {
        std::lock_guard lock(impl_->streamMutex);
        state = impl_->stream;
    }
    if (!state) throw GenericException("[stream] The stream is not running");
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(state->Stream(), timeoutMs * 1000);
    if (buffer == nullptr) {
        if (impl_->Lost()) throw GenericException(LostText(impl_->info));
        throw TimeoutException("No image received within " + std::to_string(timeoutMs) + " ms");
    }
    if (impl_->newestOnly) {
        while (ArvBuffer* newer = arv_stream_try_pop_buffer(state->Stream())) {
            arv_stream_push_buffer(state->Stream(), buffer);
            buffer = newer;
        }
    }
    Image::Fields fields;
    size_t size = 0;
    // The library's image accessors (size, format) answer only for a buffer that was filled
    // whole with an image in its first part, and complain on stderr for any other: one that
    // lost packets (a camera that died or drops them) or holds no image. Such a buffer is
    // lent as an incomplete image without data.
    const auto payloadType = arv_buffer_get_payload_type(buffer);
    const ArvBufferStatus status = arv_buffer_get_status(buffer);
    const bool image = status == ARV_BUFFER_STATUS_SUCCESS &&
                       (payloadType == ARV_BUFFER_PAYLOAD_TYPE_IMAGE ||
                        payloadType == ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA) &&
                       arv_buffer_get_n_parts(buffer) > 0 &&
                       arv_buffer_get_part_data_type(buffer, 0) == ARV_BUFFER_PART_DATA_TYPE_2D_IMAGE;
    if (image) {
        fields.data = static_cast<const uint8_t*>(arv_buffer_get_image_data(buffer, &size));
        fields.width = static_cast<uint32_t>(std::max(arv_buffer_get_image_width(buffer), 0));
        fields.height = static_cast<uint32_t>(std::max(arv_buffer_get_image_height(buffer), 0));
        fields.pixelFormat = arv_buffer_get_image_pixel_format(buffer);
    }
    fields.size = fields.data ? size : 0;
    fields.hasImageData = fields.data != nullptr && fields.size > 0;
    // Fewer bytes than its size and format need is an incomplete image, whatever the stream says.
    const auto needed = pfnc::PixelBytes(fields.pixelFormat, fields.width, fields.height);
    fields.incomplete = status != ARV_BUFFER_STATUS_SUCCESS ||
                        (fields.hasImageData && needed && fields.size < *needed);
    fields.frameId = arv_buffer_get_frame_id(buffer);
    fields.timestampNs = arv_buffer_get_timestamp(buffer);
    return new Image(fields, buffer, std::move(state));
}

void Device::RequeueBuffer(Image* image) noexcept { ImageFactory::Destroy(image); }

}  // namespace orbel::camera::vendor
