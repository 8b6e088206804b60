// orbel::emulator::SensorEmulator: a stand-in lidar on 127.0.0.1 for tests, benchmarks
// and demo runs. It speaks the sensor's wire protocol: answers the commands, streams
// point-cloud lines of a moving scene at a set rate, and plays scripted faults.
//
// Contract:
// - Listens on 127.0.0.1 only; any other bind address is refused with
//   std::invalid_argument before a socket is opened.
// - One I/O thread, started by the constructor, owns both sockets: it accepts one client
//   at a time (a second one waits in the backlog until the first has gone), decodes and
//   records what the client sends, answers commands, paces the stream and sends
//   everything in order. Stop() and the destructor close the sockets and join it.
// - Every public method is thread-safe. Fault scripts are handed to the I/O thread and
//   return once it has queued their bytes behind everything queued before (true) or
//   found no client (false); they must not be called from the log callback.
// - Each connection starts idle, with its own send counter from 0; frame numbers,
//   time stamps and the streamed counts go on across connections.
// - Every frame sent carries the next counter and correct checksums, except where a
//   fault script damages it on purpose.
// - Latency hook: each streamed point-cloud line carries, in payload bytes 43..50 (a
//   field receivers carry but do not interpret), the steady-clock time in microseconds
//   at which it was handed to the socket path. std::chrono::steady_clock in the same
//   process (or CLOCK_MONOTONIC elsewhere) compares with it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <orbel/emulator/MessageIds.h>
#include <orbel/emulator/PointCloudGenerator.h>
#include <orbel/emulator/WireFrame.h>

namespace orbel::emulator {

struct EmulatorOptions {
    std::string bindAddress = "127.0.0.1";
    uint16_t port = 0;  // 0: an ephemeral port, see Port()
    uint32_t pointsPerLine = 192;
    double framesPerSecond = 20.0;
    PointType pointType = PointType::Extended;
    uint32_t serialNumber = 0x03023112;  // MR Q9 JY, unit 66051
    // Shifts the main time stamp (payload offset 27), in microseconds, from the wall
    // clock. The alternate time stamp (offset 19) stays the time since the emulator
    // started. Lets the emulator share a clock with a camera whose device time is not
    // the wall clock: the SDK reads a camera's device clock as TAI (a PTP camera keeps
    // TAI) and subtracts the 37 s by which TAI runs ahead of UTC, so a camera that in
    // fact counts UTC, as the fake GigE Vision camera of the tests does, reports times
    // 37 s behind the wall clock; -37'000'000 puts the emulator beside it. An offset
    // that would put the clock before 1970 is refused with std::invalid_argument.
    int64_t timestampOffset_us = 0;
    // Connections, commands and rejected frames, one line each; called on the I/O thread.
    std::function<void(const std::string&)> log;
};

enum class StatusAnswer {
    Normal,     // one 0x7000 at once
    None,       // 0x6000 is ignored
    Late,       // one 0x7000 after the set delay
    Duplicate,  // two 0x7000
};

enum class CommandAnswer {
    Normal,  // the command's own answer, with its effect
    None,    // nothing, no effect
    Error,   // the configured error id with a one-byte payload, no effect
};

enum class FrameFault { BadHeaderChecksum, BadFrameChecksum, BadEndSequence };

// Each fails exactly one check of a receiver's point-cloud validation.
enum class MalformedPointCloud {
    Empty,                   // 0 bytes
    TooShortForVersion,      // 3 bytes
    WrongMetadataVersion,    // byte 3 is not 16
    TooShortForMetadata,     // 100 bytes, version 16
    TooShortForPointHeader,  // 260 bytes
    BadPointDataVersion,     // byte 255 is not 1
    UnsupportedPointType,    // byte 264 is 0x61
    InsufficientData,        // one byte short of N points
};

enum class CloseMode {
    Graceful,  // queued bytes are flushed (for up to a second), then shutdown and close
    Reset,     // SO_LINGER 0 and close: the client sees ECONNRESET
};

struct FloodStats {
    uint64_t messages = 0;  // whole messages that have left
    uint64_t bytes = 0;
};

class SensorEmulator {
public:
    explicit SensorEmulator(EmulatorOptions options = {});
    ~SensorEmulator();
    SensorEmulator(const SensorEmulator&) = delete;
    SensorEmulator& operator=(const SensorEmulator&) = delete;

    uint16_t Port() const;
    // Closes the client gracefully and the listening socket, joins the I/O thread.
    // Idempotent; every later fault script returns false.
    void Stop();

    // Configuration, effective for the next command answered.
    void SetSerialNumber(uint32_t serialNumber);
    // The state byte of 0x7000; std::nullopt (the default) follows the emulated state:
    // 0x01 idle, 0x02 running, 0x00 after close.
    void SetStateByte(std::optional<uint8_t> stateByte);
    void SetErrorByte(uint8_t errorByte);
    void SetStatusAnswer(StatusAnswer answer, std::chrono::milliseconds delay = std::chrono::milliseconds(500));
    // For 0x2008, 0x2009, 0x4000 and 0x4001; errorId is sent for CommandAnswer::Error.
    void SetCommandAnswer(uint32_t commandId, CommandAnswer answer, uint32_t errorId = ids::kUnableToStart);

    // Fault scripts; false when no client is connected.
    bool SendFrame(uint32_t id, std::span<const uint8_t> payload);
    bool SendRaw(std::span<const uint8_t> bytes);
    bool SendGarbage(size_t count);  // deterministic bytes that never contain 0x02
    bool SendDamagedFrame(FrameFault fault, uint32_t id, std::span<const uint8_t> payload);
    // A header with a valid checksum declaring sizeField (0xFFFFFFFF, 10,485,728, ...).
    bool SendOversizedHeader(uint32_t sizeField);
    // Start sequence and a valid header checksum, but no frame follows it.
    bool SendFalseHeader(uint32_t declaredPayloadSize = 64);
    bool SendError(uint32_t id, uint8_t payloadByte = 0);
    // Payload {0x00, on}, cut to payloadSize bytes (0 or 1 for a short alert).
    bool SendAlert(uint32_t id, bool on, size_t payloadSize = 2);
    // The malformed payload as a 0x1000 message, then one valid line of the stream.
    bool SendMalformedPointCloud(MalformedPointCloud kind);
    // count lines of the stream's sequence at once, as fast as the socket takes them.
    bool SendPointCloudBurst(size_t count);
    // Valid frames of payloadBytes each until totalBytes have been queued; with id 0x1000
    // each is a valid point-cloud line of the stream's type with as many points as fit
    // (at most PointCloudGenerator::kMaxPointsPerLine). Bad sizes throw std::invalid_argument.
    bool SendLargeFrames(uint64_t totalBytes, size_t payloadBytes = size_t{1} << 20, uint32_t id = ids::kUnhandledData);
    bool CloseClient(CloseMode mode);

    // Flood: pre-built 0x6F lines (the configured points per line) as fast as the
    // socket takes them, until StopFlood or the client goes.
    bool StartFlood();
    void StopFlood();
    FloodStats GetFloodStats() const;

    // Observability.
    bool WaitForClient(std::chrono::milliseconds timeout) const;
    bool WaitForNoClient(std::chrono::milliseconds timeout) const;
    // Valid frames with the id received since construction or the last clear.
    bool WaitForFrames(uint32_t id, size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForStreamedFrames(uint64_t count, std::chrono::milliseconds timeout) const;
    // Every frame received, valid or rejected, in arrival order.
    std::vector<DecodedFrame> ReceivedFrames() const;
    void ClearReceivedFrames();
    bool IsClientConnected() const;
    uint64_t ConnectionCount() const;
    bool IsStreaming() const;
    // Point-cloud lines queued for the client (paced, bursts, large point-cloud frames and
    // the valid line after a malformed one; not the flood), over the emulator's life.
    uint64_t StreamedMessages() const;
    uint64_t StreamedFrames() const;  // of those, lines with index 55
    std::optional<uint32_t> LastStreamedFrameNumber() const;  // the frame of the last line; none before one

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::emulator
