// The emulator's I/O loop: accept, decode, answer, pace, flood, fault scripts (see IoLoop.h).
#include "IoLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>

#include <orbel/emulator/MessageIds.h>

#include "ByteOrder.h"

namespace orbel::emulator::detail {

namespace {

// The stream waits while this much is still queued, so a client that does not read
// costs bounded memory.
constexpr size_t kStreamHighWater = 4u << 20;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

const char* CommandName(uint32_t id) {
    switch (id) {
        case ids::kInitialize:
            return "initialise";
        case ids::kClose:
            return "close";
        case ids::kStart:
            return "start";
        case ids::kStop:
            return "stop";
        case ids::kStatusRequest:
            return "status request";
        default:
            return nullptr;
    }
}

uint64_t SteadyMicros(IoLoop::Clock::time_point t) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count());
}

}  // namespace

IoLoop::IoLoop(const EmulatorOptions& options, SharedState& shared, FileDescriptor listener)
    : options_(options),
      shared_(shared),
      listener_(std::move(listener)),
      generator_(options.pointsPerLine, options.pointType),
      steadyOrigin_(Clock::now()),
      clockOrigin_us_(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count() +
                                            options.timestampOffset_us)),
      linePeriod_(1.0 / (options.framesPerSecond * kLinesPerFrame)) {}

void IoLoop::RequestStop() {
    stop_ = true;
    wake_.Signal();
}

bool IoLoop::Post(Script script) {
    std::future<bool> done;
    {
        std::lock_guard lock(scriptsMutex_);
        if (stopped_) return false;
        scripts_.push_back({std::move(script), {}});
        done = scripts_.back().done.get_future();
    }
    wake_.Signal();
    return done.get();
}

FloodStats IoLoop::GetFloodStats() const { return {floodMessages_.load(), floodBytes_.load()}; }

void IoLoop::Log(const std::string& text) const {
    if (!options_.log) return;
    try {
        options_.log(text);
    } catch (...) {
        // A failing log sink must not take the I/O thread down.
    }
}

void IoLoop::Run() {
    try {
        Loop();
    } catch (const std::exception& error) {
        // Nothing may escape the thread; the emulator stops serving and says why.
        Log(std::string("the I/O loop stopped: ") + error.what());
    }
    FailPendingScripts();
    if (client_.Valid()) DropClient("emulator stopped", Closing::Graceful);
    listener_.Reset();
}

void IoLoop::Loop() {
    while (!stop_) {
        const Clock::time_point now = Clock::now();
        const bool connected = client_.Valid();
        const int fd = connected ? client_.Get() : listener_.Get();
        const short events = static_cast<short>(POLLIN | (connected && !output_.Empty() ? POLLOUT : 0));
        const short revents = PollOnce(wake_, fd, events, connected ? NextWakeup_ns(now) : -1);
        if (stop_) break;
        RunScripts();
        if (!client_.Valid()) {
            if (revents & POLLIN) Accept();
            continue;
        }
        if (revents & (POLLIN | POLLHUP | POLLERR)) ReadClient();
        if (!client_.Valid()) continue;
        const Clock::time_point later = Clock::now();
        FireScheduled(later);
        PaceStream(later);
        FeedFlood();
        Flush();
    }
}

void IoLoop::RunScripts() {
    std::deque<Pending> batch;
    {
        std::lock_guard lock(scriptsMutex_);
        batch.swap(scripts_);
    }
    for (Pending& pending : batch) {
        if (!client_.Valid()) {
            pending.done.set_value(false);
            continue;
        }
        try {
            pending.script(*this);
            pending.done.set_value(true);
        } catch (...) {
            pending.done.set_exception(std::current_exception());
        }
    }
    if (client_.Valid()) Flush();
}

void IoLoop::FailPendingScripts() {
    std::deque<Pending> batch;
    {
        std::lock_guard lock(scriptsMutex_);
        stopped_ = true;
        batch.swap(scripts_);
    }
    for (Pending& pending : batch) pending.done.set_value(false);
}

void IoLoop::Accept() {
    std::string peer;
    FileDescriptor fd = AcceptClient(listener_.Get(), peer);
    if (!fd.Valid()) return;
    client_ = std::move(fd);
    decoder_ = FrameDecoder();
    output_.Clear();
    counter_ = 0;
    state_ = SensorState::Idle;
    streaming_ = false;
    flooding_ = false;
    scheduled_.clear();
    shared_.SetConnected(true);
    Log("client connected from " + peer);
}

void IoLoop::DropClient(const std::string& reason, Closing how) {
    switch (how) {
        case Closing::PeerGone:
            client_.Reset();
            break;
        case Closing::Graceful:
            CloseGracefully(client_);
            break;
        case Closing::Reset:
            CloseWithReset(client_);
            break;
    }
    output_.Clear();
    scheduled_.clear();
    if (streaming_) shared_.SetStreaming(false);
    streaming_ = false;
    flooding_ = false;
    shared_.SetConnected(false);
    Log("client disconnected: " + reason);
}

void IoLoop::ReadClient() {
    uint8_t buffer[64 * 1024];
    for (int round = 0; round < 16 && client_.Valid(); ++round) {
        const ssize_t received = ReceiveSome(client_.Get(), buffer);
        if (received == 0) {
            DropClient("the client closed the connection", Closing::PeerGone);
            return;
        }
        if (received < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            DropClient(std::string("receive failed: ") + std::strerror(errno), Closing::PeerGone);
            return;
        }
        decoder_.Feed({buffer, static_cast<size_t>(received)});
        while (client_.Valid()) {
            std::optional<DecodedFrame> frame = decoder_.Next();
            if (!frame) break;
            HandleFrame(*frame);
        }
    }
}

void IoLoop::HandleFrame(const DecodedFrame& frame) {
    shared_.RecordFrame(frame);
    if (!frame.Valid()) {
        Log("rejected a frame with id " + Hex(frame.id) + ": header checksum " +
            (frame.headerChecksumOk ? "ok" : "bad") + ", size " + (frame.sizeOk ? "ok" : "too large") +
            ", frame checksum " + (frame.frameChecksumOk ? "ok" : "bad") + ", end sequence " +
            (frame.endSequenceOk ? "ok" : "bad"));
        return;
    }
    HandleCommand(frame);
}

void IoLoop::HandleCommand(const DecodedFrame& frame) {
    const char* name = CommandName(frame.id);
    if (!name) {
        Log("received " + Hex(frame.id) + " (not a command), counter " + std::to_string(frame.counter));
        return;
    }
    Log(std::string("command ") + Hex(frame.id) + " (" + name + "), counter " + std::to_string(frame.counter));

    const AnswerConfig config = shared_.Config();
    static constexpr uint8_t kZero[] = {0x00};
    if (frame.id == ids::kStatusRequest) {
        switch (config.status) {
            case StatusAnswer::Normal:
                QueueFrame(ids::kStatusResponse, StatusPayload(config));
                break;
            case StatusAnswer::None:
                Log("status request ignored");
                break;
            case StatusAnswer::Late:
                // The answer describes the moment of the request, like a sensor slow to send it.
                scheduled_.push_back({Clock::now() + config.statusDelay, ids::kStatusResponse, StatusPayload(config)});
                break;
            case StatusAnswer::Duplicate:
                QueueFrame(ids::kStatusResponse, StatusPayload(config));
                QueueFrame(ids::kStatusResponse, StatusPayload(config));
                break;
        }
        return;
    }

    const auto [answer, errorId] = config.CommandFor(frame.id);
    if (answer == CommandAnswer::None) {
        Log(std::string(name) + " left unanswered");
        return;
    }
    if (answer == CommandAnswer::Error) {
        Log(std::string(name) + " answered with error " + Hex(errorId));
        QueueFrame(errorId, kZero);
        return;
    }
    switch (frame.id) {
        case ids::kInitialize:
            StopStream();
            state_ = SensorState::Idle;
            QueueFrame(ids::kInitialized, kZero);
            break;
        case ids::kClose:
            StopStream();
            state_ = SensorState::UnInitialized;
            QueueFrame(ids::kClosed, kZero);
            break;
        case ids::kStart:
            state_ = SensorState::Running;
            QueueFrame(ids::kStarted, kZero);
            StartStream();
            break;
        case ids::kStop:
            // Lines already queued leave before the answer: the stream has ended when 0x5002 arrives.
            StopStream();
            state_ = SensorState::Idle;
            QueueFrame(ids::kStopped, kZero);
            break;
    }
}

std::vector<uint8_t> IoLoop::StatusPayload(const AnswerConfig& config) const {
    const uint8_t stateByte =
        config.stateByte.value_or(state_ == SensorState::Running ? 0x02 : state_ == SensorState::Idle ? 0x01 : 0x00);
    // The serial number goes most significant byte first.
    return {0x00,
            stateByte,
            static_cast<uint8_t>(config.serialNumber >> 24),
            static_cast<uint8_t>(config.serialNumber >> 16),
            static_cast<uint8_t>(config.serialNumber >> 8),
            static_cast<uint8_t>(config.serialNumber),
            config.errorByte};
}

void IoLoop::QueueFrame(uint32_t id, std::span<const uint8_t> payload) {
    output_.Push(EncodeFrame(id, counter_++, payload));
}

void IoLoop::QueueFrame(std::vector<uint8_t> frame, const std::function<void(std::vector<uint8_t>&)>& damage) {
    FinalizeFrame(frame, counter_++);
    if (damage) damage(frame);
    output_.Push(std::move(frame));
}

void IoLoop::QueueRaw(std::vector<uint8_t> bytes) { output_.Push(std::move(bytes)); }

LineStamp IoLoop::NextStamp(Clock::time_point lineTime) {
    LineStamp stamp;
    stamp.frameNumber = nextFrameNumber_;
    stamp.lineIndex = nextLineIndex_;
    // The sensor clock: wall time at start-up (shifted by the configured offset)
    // advanced by the steady clock, so it never steps back; every line gets a later
    // time stamp than the one before.
    const auto sinceOrigin = std::chrono::duration_cast<std::chrono::microseconds>(lineTime - steadyOrigin_).count();
    stamp.timestamp_us = std::max(clockOrigin_us_ + static_cast<uint64_t>(std::max<int64_t>(sinceOrigin, 0)),
                                  lastTimestamp_us_ + 1);
    lastTimestamp_us_ = stamp.timestamp_us;
    stamp.alternateTimestamp_us = stamp.timestamp_us - clockOrigin_us_;
    stamp.sendTime_us = SteadyMicros(Clock::now());
    if (++nextLineIndex_ == kLinesPerFrame) {
        nextLineIndex_ = 0;
        ++nextFrameNumber_;
    }
    return stamp;
}

std::vector<uint8_t> IoLoop::MakeLineFrame(const PointCloudGenerator& generator, const LineStamp& stamp) {
    std::vector<uint8_t> frame = MakeFrame(ids::kPointCloud, generator.PayloadSize());
    generator.WriteLine(std::span(frame).subspan(kPayloadOffset, generator.PayloadSize()), stamp);
    FinalizeFrame(frame, counter_++);
    return frame;
}

std::vector<uint8_t> IoLoop::PeekStreamPayload() const {
    LineStamp stamp;
    stamp.frameNumber = nextFrameNumber_;
    stamp.lineIndex = nextLineIndex_;
    stamp.timestamp_us = lastTimestamp_us_ + 1;
    stamp.alternateTimestamp_us = stamp.timestamp_us - std::min(stamp.timestamp_us, clockOrigin_us_);
    stamp.sendTime_us = SteadyMicros(Clock::now());
    return generator_.MakeLine(stamp);
}

void IoLoop::QueueStreamLines(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const LineStamp stamp = NextStamp(Clock::now());
        output_.Push(MakeLineFrame(generator_, stamp));
        shared_.CountLine(stamp.frameNumber, stamp.lineIndex, kLinesPerFrame - 1);
    }
}

void IoLoop::QueueLargeFrames(uint64_t totalBytes, size_t payloadBytes, uint32_t id) {
    if (payloadBytes + kFrameOverhead > kReceiverMaxFrameSize) throw std::invalid_argument("frame larger than a receiver takes");
    std::unique_ptr<PointCloudGenerator> generator;
    if (id == ids::kPointCloud) {
        const size_t perPoint = BytesPerPoint(options_.pointType);
        if (payloadBytes < payload::kPointDataOffset + perPoint) throw std::invalid_argument("payload too small for a point");
        generator = std::make_unique<PointCloudGenerator>(
            static_cast<uint32_t>((payloadBytes - payload::kPointDataOffset) / perPoint), options_.pointType);
    }
    uint64_t queued = 0;
    uint32_t fill = 0;
    while (queued < totalBytes) {
        std::vector<uint8_t> frame;
        if (generator) {
            const LineStamp stamp = NextStamp(Clock::now());
            frame = MakeLineFrame(*generator, stamp);
            shared_.CountLine(stamp.frameNumber, stamp.lineIndex, kLinesPerFrame - 1);
        } else {
            frame = MakeFrame(id, payloadBytes);
            // A byte pattern that changes from frame to frame, so that stale bytes would show.
            for (size_t i = kPayloadOffset; i < kPayloadOffset + payloadBytes; ++i) frame[i] = static_cast<uint8_t>(i + fill);
            ++fill;
            FinalizeFrame(frame, counter_++);
        }
        queued += frame.size();
        output_.Push(std::move(frame));
    }
}

void IoLoop::Close(CloseMode mode) {
    if (mode == CloseMode::Reset) {
        DropClient("reset by a fault script", Closing::Reset);
        return;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    while (!output_.Empty() && Clock::now() < deadline) {
        if (output_.Flush(client_.Get()) == OutputQueue::FlushResult::Failed) break;
        if (!output_.Empty()) WaitWritable(client_.Get(), 50);
    }
    DropClient("closed by a fault script", Closing::Graceful);
}

void IoLoop::SetFlood(bool on) {
    if (on && !flood_) flood_ = std::make_unique<FloodSource>(options_.pointsPerLine);
    flooding_ = on;
}

void IoLoop::StartStream() {
    if (streaming_) return;
    // A stream always begins with line 0 of a fresh frame.
    if (nextLineIndex_ != 0) {
        nextLineIndex_ = 0;
        ++nextFrameNumber_;
    }
    streaming_ = true;
    streamStart_ = Clock::now();
    streamOrdinal_ = 0;
    shared_.SetStreaming(true);
}

void IoLoop::StopStream() {
    if (!streaming_) return;
    streaming_ = false;
    shared_.SetStreaming(false);
}

void IoLoop::PaceStream(Clock::time_point now) {
    while (streaming_ && output_.Bytes() < kStreamHighWater) {
        Clock::time_point due =
            streamStart_ + std::chrono::duration_cast<Clock::duration>(linePeriod_ * static_cast<double>(streamOrdinal_));
        if (now < due) return;
        if (now - due > linePeriod_ * static_cast<double>(kLinesPerFrame)) {
            // More than a frame behind (a slow reader): go on from now instead of bursting.
            streamStart_ = now - std::chrono::duration_cast<Clock::duration>(linePeriod_ * static_cast<double>(streamOrdinal_));
            due = now;
        }
        const LineStamp stamp = NextStamp(due);
        output_.Push(MakeLineFrame(generator_, stamp));
        shared_.CountLine(stamp.frameNumber, stamp.lineIndex, kLinesPerFrame - 1);
        ++streamOrdinal_;
    }
}

void IoLoop::FeedFlood() {
    // Only re-stamp the block once the queue has let go of it.
    if (!flooding_ || !output_.Empty()) return;
    std::vector<LineStamp> stamps;
    stamps.reserve(kLinesPerFrame);
    if (nextLineIndex_ != 0) {
        nextLineIndex_ = 0;
        ++nextFrameNumber_;
    }
    const Clock::time_point now = Clock::now();
    for (uint32_t line = 0; line < kLinesPerFrame; ++line) stamps.push_back(NextStamp(now));
    const uint32_t first = counter_;
    counter_ += kLinesPerFrame;
    output_.PushBorrowed(flood_->Stamp(first, stamps), true);
}

void IoLoop::FireScheduled(Clock::time_point now) {
    // In due order; a late answer leaves no earlier than its time.
    std::stable_sort(scheduled_.begin(), scheduled_.end(), [](const Scheduled& a, const Scheduled& b) { return a.due < b.due; });
    size_t fired = 0;
    while (fired < scheduled_.size() && scheduled_[fired].due <= now) {
        QueueFrame(scheduled_[fired].id, scheduled_[fired].payload);
        ++fired;
    }
    scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<std::ptrdiff_t>(fired));
}

void IoLoop::Flush() {
    const OutputQueue::FlushResult result = output_.Flush(client_.Get());
    const int error = errno;
    if (flood_) {
        const uint64_t bytes = output_.FloodBytesSent();
        floodBytes_ = bytes;
        floodMessages_ = bytes / flood_->FrameSize();
    }
    if (result == OutputQueue::FlushResult::Failed) {
        DropClient(std::string("send failed: ") + std::strerror(error), Closing::PeerGone);
    }
}

int64_t IoLoop::NextWakeup_ns(Clock::time_point now) const {
    Clock::time_point wake = Clock::time_point::max();
    if (streaming_ && output_.Bytes() < kStreamHighWater) {
        wake = streamStart_ +
               std::chrono::duration_cast<Clock::duration>(linePeriod_ * static_cast<double>(streamOrdinal_));
    }
    for (const Scheduled& s : scheduled_) wake = std::min(wake, s.due);
    if (flooding_ && output_.Empty()) wake = now;
    if (wake == Clock::time_point::max()) return -1;
    if (wake <= now) return 0;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
}

}  // namespace orbel::emulator::detail
