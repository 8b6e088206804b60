// ReplayPanel: loads a recorded session and steps or plays through it. The program has two:
// mode 0, the lidar replay ("Replay" tab), which plays a session's QPC or PLY frames, and
// mode 1, the camera replay ("Camera Replay" tab), which plays its JPEG images. Each owns at
// most one OfflinePlayer. They stay in step through AppAction messages: loading a session in
// the lidar panel loads its camera folder in the camera panel (SessionLoaded, or
// SessionLoadFailed when it has none), and Play, Pause, Reset and the frame slider pressed in
// one panel are published for the controller to relay to the other panel's Play, Pause, Reset
// and Seek.
//
// Contract: every method but Consume runs on the GUI thread. Consume runs on the publisher's
// thread and only queues what the panel acts on (SessionLoaded, SessionLoadFailed); the panel
// acts on it at the top of its next draw (Update), on the GUI thread. The player's
// colour-mode switch ("Embedded" for coloured frames) comes from the player's thread and is
// applied to the viewer settings in Update too, and so is the toast for a session folder
// that went away while loaded. Only the lidar panel writes AppState's replaying flag.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AppAction.h"
#include "app/AppState.h"
#include "app/IConsumer.h"
#include "app/ObjectDispatcher.h"
#include "sessions/OfflinePlayer.h"

namespace orbel::studio::gui {

enum class ReplayMode : int { Lidar = 0, Camera = 1 };

class ReplayPanel : public IConsumer<AppAction> {
public:
    // What the panel shows, decided without a window.
    struct View {
        bool loadEnabled = false;  // "Load session" and the folder field
        std::string hint;          // beside the buttons: why loading is off
        bool showUnload = false;
        bool showSlider = false;
        int index = 0;
        int count = 0;
        std::string frameText;        // "Frame i / n" (with " (could not be read)"), or "Frame ID: -"
        std::string playPauseLabel;   // "Pause" while playing, else "Play"
    };

    explicit ReplayPanel(int mode);
    // Ends the player (its worker may still report a colour mode to this panel) first.
    ~ReplayPanel() override;
    ReplayPanel(const ReplayPanel&) = delete;
    ReplayPanel& operator=(const ReplayPanel&) = delete;

    void SetDispatcher(std::shared_ptr<ObjectDispatcher> dispatcher);

    // Draws the panel and acts on it, once per GUI frame.
    void DrawReplayPanel(std::shared_ptr<AppState> state);

    // Loads the folder field's session into a new player. With an AppState, failures are
    // also shown as toasts and the lidar player may switch the 3D colour map.
    void LoadSession(std::shared_ptr<AppState> state);

    // The other panel's command, relayed by the controller: forwarded to the player.
    void Play();
    void Pause();
    void Reset();  // the player stops and rewinds to file 0
    void Seek(int32_t index);

    void Consume(std::shared_ptr<AppAction> action) override;

    // The panel's own decisions and buttons, as the drawing uses them.
    void Update(const std::shared_ptr<AppState>& state);
    View Describe(const AppState& state) const;
    void PressPlay();
    void PressPause();
    void PressReset();
    void PressPrev();
    void PressNext();
    void MoveSlider(int index);
    void Unload();

    void SetFolder(std::string folder) { folder_ = std::move(folder); }
    const std::string& Folder() const { return folder_; }
    ReplayMode Mode() const { return mode_; }
    OfflinePlayer* Player() const { return player_.get(); }
    int RateSelection() const { return rate_; }

private:
    void Publish(AppActionType type, AppActionPayload payload = {});
    static bool TaskPending(const AppState& state);

    std::string folder_;
    int rate_ = 1;  // 0 "10 Hz", 1 "20 Hz"; the player always plays at 20
    std::shared_ptr<ObjectDispatcher> dispatcher_;
    std::unique_ptr<OfflinePlayer> player_;
    ReplayMode mode_;

    // Filled by Consume and the player's thread, emptied by Update.
    std::mutex pendingMutex_;
    std::vector<std::shared_ptr<AppAction>> pendingActions_;
    std::optional<std::string> pendingColourMode_;
};

}  // namespace orbel::studio::gui
