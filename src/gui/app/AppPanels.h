// AppPanels: every panel of the program, held by value and made in one fixed order (destroyed
// in reverse), together with the few things done to all of them: their dispatcher
// subscriptions, the hand-over of the shared context, the relay of replay commands, the
// release of their OpenGL objects, and one draw call per layout region.
//
// A panel slots in with one member below and its calls in AppPanels.cpp (its subscriptions in
// Subscribe, its draw call in the region's Draw method). A region whose panel is not built yet
// draws nothing.
//
// Contract: made on the start-up thread, then used on the GUI thread; Subscribe runs once,
// before any message is published. The destructor unsubscribes every panel before any panel
// is destroyed, so no publisher reaches a panel that is going away.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/CameraPanel.h"
#include "app/LogPanel.h"
#include "app/SensorConfig.h"
#include "app/SensorPanel.h"
#include "sessions/ColorizerPanel.h"
#include "sessions/ConverterPanel.h"
#include "sessions/RecorderPanel.h"
#include "sessions/ReplayPanel.h"
#include "views/Lidar2DViewPanel.h"
#include "views/View3DPanel.h"
#include "views/ViewerConfigPanel.h"

namespace orbel::studio::gui {

// A record of export settings the panels share; no panel of this build reads it yet.
struct PanelSettingsRecord {
    std::array<char, 512> inputPath{};
    std::array<char, 512> outputPath{};
    std::array<char, 512> name{"pointcloud"};
    int32_t mode = 0;
    int32_t step = 1;
    int32_t limit = 5000;
    std::shared_ptr<void> first;
    std::shared_ptr<void> second;
    std::function<void()> callback;
};

// Relays a replay command from one replay panel to the other: Play, Pause, Reset or Seek(index)
// on the lidar panel when the camera panel sent it, and the reverse; any other sender, or a seek
// without an integer index, does nothing. The senders are compared by address only.
template <typename ReplayPanelType>
void RelayReplayAction(const AppAction& action, ReplayPanelType* lidarPanel, ReplayPanelType* cameraPanel) {
    ReplayPanelType* target = nullptr;
    if (action.sender != nullptr && action.sender == static_cast<const void*>(lidarPanel)) {
        target = cameraPanel;
    } else if (action.sender != nullptr && action.sender == static_cast<const void*>(cameraPanel)) {
        target = lidarPanel;
    }
    if (target == nullptr) {
        return;
    }
    switch (static_cast<AppActionType>(action.type)) {
        case AppActionType::ReplayPlay: target->Play(); break;
        case AppActionType::ReplayPause: target->Pause(); break;
        case AppActionType::ReplayReset: target->Reset(); break;
        case AppActionType::ReplaySeek:
            if (action.payload.index() == payload_index::kInteger) {
                target->Seek(std::get<int32_t>(action.payload));
            }
            break;
        default: break;
    }
}

struct AppPanels {
    AppPanels(std::shared_ptr<SensorConfig> sensorConfig, std::shared_ptr<AppContext> context,
              SensorPanel::PingMonitorFactory pingMonitors = {});
    ~AppPanels();
    AppPanels(const AppPanels&) = delete;
    AppPanels& operator=(const AppPanels&) = delete;

    // The panels' own subscriptions, in the order each message type reaches them; the
    // controller subscribes itself after them, as the last of every list.
    void Subscribe();
    // Hands the shared context and dispatcher to the panels that keep them.
    void Connect();
    // The replay command of one replay panel, applied to the other.
    void RelayReplay(const AppAction& action);
    // Deletes every OpenGL object the panels made; the context must still be current.
    void ReleaseGraphics();
    // What the session panels act on between draws, once per GUI frame, whether or not their
    // tab (or their column) is shown: the recorder's automatic stop when the stream ends or a
    // recorder fails, and for the replay panels a session the other panel loaded or a stream
    // that drops them.
    void UpdateSessions();

    // Region contents, drawn by the layout inside the region's child window.
    void DrawSensor();
    void DrawRecorder();
    void DrawLidarReplay();
    void DrawCameraReplay();
    void DrawConverter();
    void DrawColorizer();
    void DrawView3D();
    void DrawCamera();
    void DrawView2D();
    void DrawViewerConfig();
    void DrawLog();

    std::shared_ptr<SensorConfig> sensorConfig;
    std::shared_ptr<AppContext> context;

    // The panels in construction order.
    CameraPanel cameraPanel;
    ConverterPanel converterPanel;
    Lidar2DViewPanel lidar2DView;
    LogPanel logPanel;
    RecorderPanel recorderPanel;
    ReplayPanel lidarReplayPanel;
    ReplayPanel cameraReplayPanel;
    SensorPanel sensorPanel;
    View3DPanel view3D;
    PanelSettingsRecord settingsRecord;
    ViewerConfigPanel viewerConfig;
    ColorizerPanel colorizerPanel;
};

}  // namespace orbel::studio::gui
