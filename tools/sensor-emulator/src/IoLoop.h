// The emulator's I/O thread: one loop that owns the listening and the client socket,
// decodes and answers what the client sends, paces the point-cloud stream, feeds the
// flood and runs the fault scripts other threads post.
//
// Thread contract: Run() is called on the one I/O thread and returns after
// RequestStop(). Post(), RequestStop() and GetFloodStats() may be called from any other
// thread; everything else, including what a posted script calls, runs on the I/O thread
// only. Post() waits for its script, so it must never be called on the I/O thread.
// Locks: the script queue's mutex (never held while a script runs) and SharedState's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <orbel/emulator/PointCloudGenerator.h>
#include <orbel/emulator/SensorEmulator.h>
#include <orbel/emulator/WireFrame.h>

#include "FloodSource.h"
#include "OutputQueue.h"
#include "SharedState.h"
#include "Socket.h"

namespace orbel::emulator::detail {

class IoLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Script = std::function<void(IoLoop&)>;

    IoLoop(const EmulatorOptions& options, SharedState& shared, FileDescriptor listener);
    IoLoop(const IoLoop&) = delete;
    IoLoop& operator=(const IoLoop&) = delete;

    void Run();

    // --- any thread ---
    void RequestStop();
    // Runs the script on the I/O thread while a client is connected; false when there
    // is none or the loop has stopped. An exception from the script is rethrown here.
    bool Post(Script script);
    FloodStats GetFloodStats() const;

    // --- the I/O thread (scripts) ---
    void QueueFrame(uint32_t id, std::span<const uint8_t> payload);
    // Finalises the frame with the next counter, then lets damage change it.
    void QueueFrame(std::vector<uint8_t> frame, const std::function<void(std::vector<uint8_t>&)>& damage = {});
    void QueueRaw(std::vector<uint8_t> bytes);
    uint32_t TakeCounter() { return counter_++; }
    // The payload the stream's next line would have; nothing is queued or advanced.
    std::vector<uint8_t> PeekStreamPayload() const;
    void QueueStreamLines(size_t count);
    void QueueLargeFrames(uint64_t totalBytes, size_t payloadBytes, uint32_t id);
    void Close(CloseMode mode);
    void SetFlood(bool on);

private:
    enum class SensorState { UnInitialized, Idle, Running };
    enum class Closing { PeerGone, Graceful, Reset };
    struct Pending {
        Script script;
        std::promise<bool> done;
    };
    struct Scheduled {
        Clock::time_point due;
        uint32_t id;
        std::vector<uint8_t> payload;
    };

    void Loop();
    void RunScripts();
    void FailPendingScripts();
    void Accept();
    void ReadClient();
    void HandleFrame(const DecodedFrame& frame);
    void HandleCommand(const DecodedFrame& frame);
    std::vector<uint8_t> StatusPayload(const AnswerConfig& config) const;
    void StartStream();
    void StopStream();
    void PaceStream(Clock::time_point now);
    void FeedFlood();
    void FireScheduled(Clock::time_point now);
    void Flush();
    void DropClient(const std::string& reason, Closing how);
    int64_t NextWakeup_ns(Clock::time_point now) const;
    LineStamp NextStamp(Clock::time_point lineTime);
    std::vector<uint8_t> MakeLineFrame(const PointCloudGenerator& generator, const LineStamp& stamp);
    void Log(const std::string& text) const;

    const EmulatorOptions options_;
    SharedState& shared_;
    FileDescriptor listener_;
    FileDescriptor client_;
    WakeEvent wake_;
    std::atomic<bool> stop_{false};

    std::mutex scriptsMutex_;
    std::deque<Pending> scripts_;
    bool stopped_ = false;  // guarded by scriptsMutex_: no script is accepted any more

    // Session state, reset for every client.
    FrameDecoder decoder_;
    OutputQueue output_;
    uint32_t counter_ = 0;
    SensorState state_ = SensorState::Idle;
    bool streaming_ = false;
    Clock::time_point streamStart_;
    uint64_t streamOrdinal_ = 0;  // lines paced since the stream started
    std::vector<Scheduled> scheduled_;
    bool flooding_ = false;

    // Sequence state, kept across clients.
    PointCloudGenerator generator_;
    std::unique_ptr<FloodSource> flood_;
    uint32_t nextFrameNumber_ = 1;
    uint8_t nextLineIndex_ = 0;
    const Clock::time_point steadyOrigin_;
    const uint64_t clockOrigin_us_;  // the main time stamp at start-up: wall clock plus the offset
    uint64_t lastTimestamp_us_ = 0;
    std::chrono::duration<double> linePeriod_;

    std::atomic<uint64_t> floodBytes_{0};
    std::atomic<uint64_t> floodMessages_{0};
};

}  // namespace orbel::emulator::detail
