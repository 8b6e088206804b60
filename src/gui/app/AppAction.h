// AppAction: the program's command and notification message, published through the
// ObjectDispatcher. The payload alternatives keep a fixed order because receivers
// test the variant's index; the sender is only ever compared, never dereferenced.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ratio>
#include <string>
#include <utility>
#include <variant>

namespace orbel::studio {

// The kinds' numbers are fixed; 12, 16 and 17 are not used.
enum class AppActionType : int32_t {
    ClearViews = 0,
    Show2DView = 1,
    ResetView3DCamera = 2,
    SetCameraViewVisible = 3,
    CameraAvailable = 4,
    ViewerConfigChanged = 5,
    ReplayPlay = 6,
    ReplayPause = 7,
    ReplaySeek = 8,
    ReplayReset = 9,
    SessionLoadFailed = 10,
    ProgressUpdate = 11,
    Notification = 13,
    Export3DView = 14,
    Export2DView = 15,
    SessionLoaded = 18,
    SensorOffline = 19,
};

struct ProgressPayload {
    float fraction = 0.0f;
    std::string text;
};

struct NotificationPayload {
    std::string text;
    int32_t level = 0;  // toast level, 0 to 3
};

using AppActionPayload = std::variant<std::monostate,       // 0: none
                                      std::string,          // 1: text (a path, a session folder)
                                      float,                // 2: a 4-byte number no sender uses
                                      int32_t,              // 3: integer (a frame index)
                                      bool,                 // 4: flag
                                      ProgressPayload,      // 5: progress fraction and text
                                      NotificationPayload>; // 6: notification text and level

// Payload indices as receivers test them.
namespace payload_index {
inline constexpr std::size_t kNone = 0;
inline constexpr std::size_t kText = 1;
inline constexpr std::size_t kNumber = 2;
inline constexpr std::size_t kInteger = 3;
inline constexpr std::size_t kFlag = 4;
inline constexpr std::size_t kProgress = 5;
inline constexpr std::size_t kNotification = 6;
}  // namespace payload_index

// The system clock in 100-ns ticks since 1970-01-01 UTC: the creation stamp of messages
// and published data records.
inline int64_t SystemTicks100ns() {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The count of messages and data records made in this process so far: it orders any two of
// them as they were made, whatever the wall clock does, so that a clear can drop exactly what
// was made before it.
inline uint64_t NextCreationSequence() {
    static std::atomic<uint64_t> made{0};
    return made.fetch_add(1, std::memory_order_relaxed) + 1;
}

struct AppAction {
    AppAction(int type, const void* sender)
        : type(type), creationTime100ns(SystemTicks100ns()), sender(sender), creationSequence(NextCreationSequence()) {}
    AppAction(int type, const void* sender, AppActionPayload payload)
        : type(type),
          creationTime100ns(SystemTicks100ns()),
          payload(std::move(payload)),
          sender(sender),
          creationSequence(NextCreationSequence()) {}
    AppAction(AppActionType type, const void* sender) : AppAction(static_cast<int>(type), sender) {}
    AppAction(AppActionType type, const void* sender, AppActionPayload payload)
        : AppAction(static_cast<int>(type), sender, std::move(payload)) {}

    bool Is(AppActionType kind) const { return type == static_cast<int32_t>(kind); }

    int32_t type;
    int64_t creationTime100ns;
    AppActionPayload payload;
    const void* sender;
    uint64_t creationSequence;  // NextCreationSequence at construction
};

}  // namespace orbel::studio
