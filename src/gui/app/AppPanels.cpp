// Where each panel is subscribed, connected and drawn. A panel that is not built yet has an
// empty region: its comment marks where its calls go.
#include "app/AppPanels.h"

#include <utility>


namespace orbel::studio::gui {

AppPanels::AppPanels(std::shared_ptr<SensorConfig> sensorConfigIn, std::shared_ptr<AppContext> contextIn,
                     SensorPanel::PingMonitorFactory pingMonitors)
    : sensorConfig(std::move(sensorConfigIn)),
      context(std::move(contextIn)),
      logPanel(),
      sensorPanel(context, sensorConfig, std::move(pingMonitors)) {}

AppPanels::~AppPanels() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    dispatcher.Unsubscribe<AppAction>(&sensorPanel);
}

void AppPanels::Subscribe() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    // FrameData: the 3D view, the 2D view, the viewer-configuration panel.
    // CameraData: the camera panel.
    // AppAction: the 3D view, the 2D view, the lidar and camera replay panels, the recorder
    // panel; then the sensor panel, which only notes SensorOffline.
    dispatcher.Subscribe<AppAction>(&sensorPanel);
}

void AppPanels::Connect() {
    // The replay panels get the dispatcher; the viewer-configuration and colorizer panels the context.
}

void AppPanels::RelayReplay(const AppAction&) {
    // RelayReplayAction(action, &lidarReplayPanel, &cameraReplayPanel) once both replay panels exist.
}

void AppPanels::ReleaseGraphics() {
    // The views' render targets and textures go here.
}

void AppPanels::DrawSensor() { sensorPanel.DrawSensorPanel(); }
void AppPanels::DrawRecorder() {}
void AppPanels::DrawLidarReplay() {}
void AppPanels::DrawCameraReplay() {}
void AppPanels::DrawConverter() {}
void AppPanels::DrawColorizer() {}
void AppPanels::DrawView3D() {}
void AppPanels::DrawCamera() {}
void AppPanels::DrawView2D() {}
void AppPanels::DrawViewerConfig() {}
void AppPanels::DrawLog() { logPanel.DrawLogPanel(); }

}  // namespace orbel::studio::gui
