// SensorEmulator: option checks, the I/O thread's lifetime, and the public methods
// that configure, observe, or post fault scripts to the I/O loop (see SensorEmulator.h).
#include <orbel/emulator/SensorEmulator.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "FaultFrames.h"
#include "IoLoop.h"
#include "SharedState.h"
#include "Socket.h"

namespace orbel::emulator {

namespace {

void CheckOptions(const EmulatorOptions& options) {
    // Checked before any socket exists: the emulator never listens beyond loopback.
    if (options.bindAddress != "127.0.0.1") {
        throw std::invalid_argument("the sensor emulator binds 127.0.0.1 only, not \"" + options.bindAddress + "\"");
    }
    if (options.pointsPerLine == 0 || options.pointsPerLine > PointCloudGenerator::kMaxPointsPerLine) {
        throw std::invalid_argument("points per line must be between 1 and " +
                                    std::to_string(PointCloudGenerator::kMaxPointsPerLine));
    }
    if (!std::isfinite(options.framesPerSecond) || options.framesPerSecond <= 0 || options.framesPerSecond > 10'000) {
        throw std::invalid_argument("the frame rate must be above 0 and at most 10000 frames per second");
    }
    if (!IsPointType(static_cast<uint8_t>(options.pointType))) {
        throw std::invalid_argument("the point type must be 0x60, 0x66 or 0x6F");
    }
    const auto wall_us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    if (options.timestampOffset_us < 0 && options.timestampOffset_us < -wall_us) {
        throw std::invalid_argument("a time stamp offset of " + std::to_string(options.timestampOffset_us) +
                                    " us puts the sensor clock before 1970");
    }
}

}  // namespace

struct SensorEmulator::Impl {
    explicit Impl(EmulatorOptions options)
        : shared(options.serialNumber), listenerPort(0) {
        detail::FileDescriptor listener = detail::ListenOnLoopback(options.port);
        listenerPort = detail::LocalPort(listener.Get());
        loop = std::make_unique<detail::IoLoop>(options, shared, std::move(listener));
        thread = std::thread([this] { loop->Run(); });
    }

    void Stop() {
        std::lock_guard lock(lifeMutex);
        loop->RequestStop();
        if (thread.joinable()) thread.join();
    }

    detail::SharedState shared;
    uint16_t listenerPort;
    std::unique_ptr<detail::IoLoop> loop;
    std::mutex lifeMutex;  // serialises Stop() callers around the join
    std::thread thread;
};

SensorEmulator::SensorEmulator(EmulatorOptions options) {
    CheckOptions(options);
    impl_ = std::make_unique<Impl>(std::move(options));
}

SensorEmulator::~SensorEmulator() { Stop(); }

uint16_t SensorEmulator::Port() const { return impl_->listenerPort; }

void SensorEmulator::Stop() { impl_->Stop(); }

void SensorEmulator::SetSerialNumber(uint32_t serialNumber) {
    impl_->shared.UpdateConfig([&](detail::AnswerConfig& c) { c.serialNumber = serialNumber; });
}

void SensorEmulator::SetStateByte(std::optional<uint8_t> stateByte) {
    impl_->shared.UpdateConfig([&](detail::AnswerConfig& c) { c.stateByte = stateByte; });
}

void SensorEmulator::SetErrorByte(uint8_t errorByte) {
    impl_->shared.UpdateConfig([&](detail::AnswerConfig& c) { c.errorByte = errorByte; });
}

void SensorEmulator::SetStatusAnswer(StatusAnswer answer, std::chrono::milliseconds delay) {
    impl_->shared.UpdateConfig([&](detail::AnswerConfig& c) {
        c.status = answer;
        c.statusDelay = delay;
    });
}

void SensorEmulator::SetCommandAnswer(uint32_t commandId, CommandAnswer answer, uint32_t errorId) {
    if (commandId != ids::kInitialize && commandId != ids::kClose && commandId != ids::kStart && commandId != ids::kStop) {
        throw std::invalid_argument("only initialise, close, start and stop have a configurable answer");
    }
    impl_->shared.UpdateConfig([&](detail::AnswerConfig& c) { c.commands[commandId] = {answer, errorId}; });
}

bool SensorEmulator::SendFrame(uint32_t id, std::span<const uint8_t> payload) {
    std::vector<uint8_t> bytes(payload.begin(), payload.end());
    return impl_->loop->Post([id, bytes = std::move(bytes)](detail::IoLoop& loop) { loop.QueueFrame(id, bytes); });
}

bool SensorEmulator::SendRaw(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    return impl_->loop->Post([copy = std::move(copy)](detail::IoLoop& loop) mutable { loop.QueueRaw(std::move(copy)); });
}

bool SensorEmulator::SendGarbage(size_t count) {
    std::vector<uint8_t> bytes(count);
    // A fixed sequence that avoids 0x02, so no start sequence can hide in it.
    uint32_t x = 0x9E3779B9u;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
        if (b == 0x02) b = 0xA5;
    }
    return SendRaw(bytes);
}

bool SensorEmulator::SendDamagedFrame(FrameFault fault, uint32_t id, std::span<const uint8_t> payload) {
    std::vector<uint8_t> frame = MakeFrame(id, payload.size());
    std::copy(payload.begin(), payload.end(), frame.begin() + kPayloadOffset);
    return impl_->loop->Post([fault, frame = std::move(frame)](detail::IoLoop& loop) mutable {
        loop.QueueFrame(std::move(frame), [fault](std::vector<uint8_t>& f) { detail::DamageFrame(f, fault); });
    });
}

bool SensorEmulator::SendOversizedHeader(uint32_t sizeField) {
    return impl_->loop->Post([sizeField](detail::IoLoop& loop) {
        loop.QueueRaw(detail::LoneHeader(ids::kPointCloud, loop.TakeCounter(), sizeField));
    });
}

bool SensorEmulator::SendFalseHeader(uint32_t declaredPayloadSize) {
    return impl_->loop->Post([declaredPayloadSize](detail::IoLoop& loop) {
        loop.QueueRaw(detail::LoneHeader(ids::kStatusResponse, loop.TakeCounter(), declaredPayloadSize));
    });
}

bool SensorEmulator::SendError(uint32_t id, uint8_t payloadByte) {
    const uint8_t payload[1] = {payloadByte};
    return SendFrame(id, payload);
}

bool SensorEmulator::SendAlert(uint32_t id, bool on, size_t payloadSize) {
    const uint8_t payload[2] = {0x00, static_cast<uint8_t>(on ? 0x01 : 0x00)};
    return SendFrame(id, std::span(payload).first(std::min<size_t>(payloadSize, 2)));
}

bool SensorEmulator::SendMalformedPointCloud(MalformedPointCloud kind) {
    return impl_->loop->Post([kind](detail::IoLoop& loop) {
        const std::vector<uint8_t> valid = loop.PeekStreamPayload();
        loop.QueueFrame(ids::kPointCloud, detail::MalformPointCloud(kind, valid));
        loop.QueueStreamLines(1);
    });
}

bool SensorEmulator::SendPointCloudBurst(size_t count) {
    return impl_->loop->Post([count](detail::IoLoop& loop) { loop.QueueStreamLines(count); });
}

bool SensorEmulator::SendLargeFrames(uint64_t totalBytes, size_t payloadBytes, uint32_t id) {
    return impl_->loop->Post(
        [=](detail::IoLoop& loop) { loop.QueueLargeFrames(totalBytes, payloadBytes, id); });
}

bool SensorEmulator::CloseClient(CloseMode mode) {
    return impl_->loop->Post([mode](detail::IoLoop& loop) { loop.Close(mode); });
}

bool SensorEmulator::StartFlood() {
    return impl_->loop->Post([](detail::IoLoop& loop) { loop.SetFlood(true); });
}

void SensorEmulator::StopFlood() {
    impl_->loop->Post([](detail::IoLoop& loop) { loop.SetFlood(false); });
}

FloodStats SensorEmulator::GetFloodStats() const { return impl_->loop->GetFloodStats(); }

bool SensorEmulator::WaitForClient(std::chrono::milliseconds timeout) const {
    return impl_->shared.WaitFor(timeout, [](const detail::SharedState& s) { return s.ConnectedLocked(); });
}

bool SensorEmulator::WaitForNoClient(std::chrono::milliseconds timeout) const {
    return impl_->shared.WaitFor(timeout, [](const detail::SharedState& s) { return !s.ConnectedLocked(); });
}

bool SensorEmulator::WaitForFrames(uint32_t id, size_t count, std::chrono::milliseconds timeout) const {
    return impl_->shared.WaitFor(timeout, [&](const detail::SharedState& s) { return s.CountValidLocked(id) >= count; });
}

bool SensorEmulator::WaitForStreamedFrames(uint64_t count, std::chrono::milliseconds timeout) const {
    return impl_->shared.WaitFor(timeout, [&](const detail::SharedState& s) { return s.StreamedFramesLocked() >= count; });
}

std::vector<DecodedFrame> SensorEmulator::ReceivedFrames() const { return impl_->shared.Received(); }
void SensorEmulator::ClearReceivedFrames() { impl_->shared.ClearReceived(); }
bool SensorEmulator::IsClientConnected() const { return impl_->shared.Connected(); }
uint64_t SensorEmulator::ConnectionCount() const { return impl_->shared.Connections(); }
bool SensorEmulator::IsStreaming() const { return impl_->shared.Streaming(); }
uint64_t SensorEmulator::StreamedMessages() const { return impl_->shared.StreamedMessages(); }
uint64_t SensorEmulator::StreamedFrames() const { return impl_->shared.StreamedFrames(); }
std::optional<uint32_t> SensorEmulator::LastStreamedFrameNumber() const { return impl_->shared.LastFrameNumber(); }

}  // namespace orbel::emulator
