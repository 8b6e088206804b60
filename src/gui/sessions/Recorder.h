// Recorder: writes the live stream's frames to disk while the recorder panel records.
// Every published batch of one frame's 56 line clouds becomes one QPC file
// "frame_<frame number, 8 digits>.qpc" in the recording's "frames_qpc" folder.
//
// Contract: Consume runs on the publisher's thread (the streamer's point-cloud worker) and
// only queues: nothing is written there, nothing is lost for lack of room. Run is the
// write loop on the recording task's thread. Stop may come from any thread, before, during
// or after Run; once Stop has returned an active Run has written every queued frame and
// returned, and a Run that starts later writes what is queued and returns at once. A write
// failure ends the loop with a log line and leaves the reason in Failure; frames published
// after that are not queued. A batch that is not one QPC frame (not 56 lines, mixed point
// counts) is logged and counted, not written. Files appear under their names only when
// complete; a frame number met twice is written under a new name, never over the first.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/IConsumer.h"
#include "app/PointCloudWorker.h"
#include "sessions/RecordingQueue.h"

namespace orbel::studio {

// The folder a new recording goes to when the user picked `chosen`: `chosen` itself unless
// it already holds a recorded session (a "frames_qpc" or "frames_rgb" folder with files),
// else the first of `chosen`_2, `chosen`_3, ... that does not, so recording again never
// writes into an earlier session.
std::filesystem::path FreshSessionFolder(const std::filesystem::path& chosen);

class Recorder : public IConsumer<LineBatch> {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    // Logs how many frames were queued but never written, if any.
    ~Recorder() override;

    // Moves the batch's clouds out of the published vector (leaving it empty) and queues them.
    void Consume(std::shared_ptr<LineBatch> batch) override;

    // Creates `folder` (with its parents) and writes queued frames until Stop or a failure.
    void Run(const std::filesystem::path& folder);

    // Logs "Stopping recording...", asks Run to finish and waits for an active Run to
    // write what is queued. Returns whether Run was running.
    bool Stop();

    bool IsRunning() const { return queue_.Running(); }
    // Why the recording ended by itself; none while it runs or after a plain stop.
    std::optional<std::string> Failure() const { return queue_.Failure(); }
    uint64_t FramesWritten() const { return framesWritten_.load(); }
    uint64_t BatchesRefused() const { return batchesRefused_.load(); }

private:
    // False when the recording cannot go on.
    bool WriteFrame(LineBatch& lines, const std::filesystem::path& folder);
    void Fail(const std::string& logText, const std::string& reason);

    RecordingQueue<LineBatch> queue_;
    std::atomic<uint64_t> framesWritten_{0};
    std::atomic<uint64_t> batchesRefused_{0};
};

}  // namespace orbel::studio
