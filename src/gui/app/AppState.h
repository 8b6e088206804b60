// AppState: the state that every panel and worker of the program shares: the stream and
// connection flags, the progress display, the pending toast, the background-task
// futures, the viewer settings and the zones.
//
// Contract: the five flags and the progress fraction are atomics, read and written from
// any thread; a change to one of them, a new toast and a new progress text ask the frame
// loop for a frame through `frameRequest`, which the loop fills once it waits for events. The pending toast and the progress text sit behind one mutex inside this
// class and are reached only through the methods below, from any thread. Everything else
// (the task futures, the progress-bar animation fields and the viewer-config pointer
// after start-up) belongs to the GUI thread; ViewerConfig and ZoneEditorState carry
// their own rules.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/IAppState.h"
#include "app/IFrameRequest.h"
#include "app/ViewerConfig.h"
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {

// One user notice, shown for `duration` seconds; `level` 0 to 3 picks its icon.
struct ToastMessage {
    std::string text;
    float elapsed = 0.0f;
    float duration = 5.0f;
    int32_t level = 0;
};

class AppState : public IAppState {
public:
    // Task slots: the converter and colorizer panels share the second, the sensor panel
    // keeps its connect-and-start task in the fifth; the start button and the progress
    // display also watch the third.
    static constexpr std::size_t kTaskSlotCount = 5;
    static constexpr std::size_t kProcessingTaskSlot = 1;
    static constexpr std::size_t kWatchedTaskSlot = 2;
    static constexpr std::size_t kSensorStartTaskSlot = 4;
    static constexpr float kToastSeconds = 5.0f;

    AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    bool IsStreaming() const override { return streaming.load(); }
    bool IsReplaying() const override { return replaying.load(); }
    bool IsBusy() const override { return busy.load(); }

    // Replaces the pending toast, whatever its age, with a fresh one of 5 s.
    void SetToast(const std::string& text, int32_t level);
    // A copy of the pending toast, if any.
    std::optional<ToastMessage> PendingToast() const;
    // Advances the pending toast by the frame time; removes it at or beyond its duration
    // and returns what is left to draw.
    std::optional<ToastMessage> AdvanceToast(float frameSeconds);
    void ClearToast();

    void SetProgressText(const std::string& text);
    std::string ProgressText() const;

    // GUI thread: whether the future in the slot is valid and not ready.
    bool IsTaskRunning(std::size_t slot) const;

    // Declared before the values that ask through it.
    FrameRequestSlot frameRequest;

    NotifyingAtomic<bool> streaming{frameRequest, false};      // a live stream runs
    NotifyingAtomic<bool> replaying{frameRequest, false};      // the lidar-mode replay panel plays
    NotifyingAtomic<bool> connected{frameRequest, false};      // a sensor object is built and answering
    NotifyingAtomic<bool> cameraRunning{frameRequest, false};  // a camera was obtained and streams
    NotifyingAtomic<bool> busy{frameRequest, false};           // a connect, start or stop is in progress
    NotifyingAtomic<float> progressFraction{frameRequest, 0.0f};

    std::array<std::future<void>, kTaskSlotCount> tasks;
    // Who launched the task now in the processing slot: its future turns ready a moment after the
    // launcher's job has ended, and until then the slot must still read as that launcher's.
    const void* processingTaskOwner = nullptr;

    std::shared_ptr<ViewerConfig> viewerConfig;
    std::shared_ptr<ZoneEditorState> zoneEditorState;

    // Progress-bar animation, kept by the main layout.
    float progressOpacity = 0.0f;
    bool progressVisible = false;
    float progressHideTimer = 0.0f;
    bool progressComplete = false;

private:
    mutable std::mutex textMutex_;  // guards toast_ and progressText_
    std::optional<ToastMessage> toast_;
    std::string progressText_;
};

}  // namespace orbel::studio::gui
