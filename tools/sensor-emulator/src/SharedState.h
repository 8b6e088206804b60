// What the emulator's I/O thread shares with the threads that drive it: the answer
// configuration (written by callers, read by the I/O thread) and what tests observe
// (written by the I/O thread, read and awaited by callers). One mutex guards all of it;
// no other lock is ever taken while it is held, and no callback runs under it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>

namespace orbel::emulator::detail {

struct AnswerConfig {
    uint32_t serialNumber = 0;
    std::optional<uint8_t> stateByte;
    uint8_t errorByte = 0;
    StatusAnswer status = StatusAnswer::Normal;
    std::chrono::milliseconds statusDelay{500};
    std::map<uint32_t, std::pair<CommandAnswer, uint32_t>> commands;

    std::pair<CommandAnswer, uint32_t> CommandFor(uint32_t id) const {
        const auto it = commands.find(id);
        return it == commands.end() ? std::pair{CommandAnswer::Normal, uint32_t{0}} : it->second;
    }
};

class SharedState {
public:
    explicit SharedState(uint32_t serialNumber) { config_.serialNumber = serialNumber; }

    template <typename Change>
    void UpdateConfig(Change&& change) {
        std::lock_guard lock(mutex_);
        change(config_);
    }

    AnswerConfig Config() const {
        std::lock_guard lock(mutex_);
        return config_;
    }

    // --- written by the I/O thread ---
    void RecordFrame(const DecodedFrame& frame) {
        {
            std::lock_guard lock(mutex_);
            received_.push_back(frame);
        }
        changed_.notify_all();
    }

    void SetConnected(bool connected) {
        {
            std::lock_guard lock(mutex_);
            connected_ = connected;
            if (connected) ++connections_;
        }
        changed_.notify_all();
    }

    void SetStreaming(bool streaming) {
        std::lock_guard lock(mutex_);
        streaming_ = streaming;
    }

    void CountLine(uint32_t frameNumber, uint8_t lineIndex, uint8_t lastLineIndex) {
        {
            std::lock_guard lock(mutex_);
            ++streamedMessages_;
            if (lineIndex == lastLineIndex) ++streamedFrames_;
            lastFrameNumber_ = frameNumber;
        }
        changed_.notify_all();
    }

    // --- read by callers ---
    template <typename Predicate>
    bool WaitFor(std::chrono::milliseconds timeout, Predicate&& predicate) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return predicate(*this); });
    }

    // The accessors below expect the mutex held (inside WaitFor) or take it (Get*).
    bool ConnectedLocked() const { return connected_; }
    uint64_t StreamedFramesLocked() const { return streamedFrames_; }
    size_t CountValidLocked(uint32_t id) const {
        size_t count = 0;
        for (const DecodedFrame& frame : received_) count += frame.Valid() && frame.id == id;
        return count;
    }

    std::vector<DecodedFrame> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void ClearReceived() {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    bool Connected() const {
        std::lock_guard lock(mutex_);
        return connected_;
    }
    uint64_t Connections() const {
        std::lock_guard lock(mutex_);
        return connections_;
    }
    bool Streaming() const {
        std::lock_guard lock(mutex_);
        return streaming_;
    }
    uint64_t StreamedMessages() const {
        std::lock_guard lock(mutex_);
        return streamedMessages_;
    }
    uint64_t StreamedFrames() const {
        std::lock_guard lock(mutex_);
        return streamedFrames_;
    }
    std::optional<uint32_t> LastFrameNumber() const {
        std::lock_guard lock(mutex_);
        return lastFrameNumber_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    AnswerConfig config_;
    std::vector<DecodedFrame> received_;
    bool connected_ = false;
    uint64_t connections_ = 0;
    bool streaming_ = false;
    uint64_t streamedMessages_ = 0;
    uint64_t streamedFrames_ = 0;
    std::optional<uint32_t> lastFrameNumber_;
};

}  // namespace orbel::emulator::detail
