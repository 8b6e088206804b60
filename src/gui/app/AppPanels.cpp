// Where each panel is subscribed, connected and drawn. A panel that is not built yet has an
// empty region: its comment marks where its calls go.
#include "app/AppPanels.h"

#include <utility>


namespace orbel::studio::gui {

AppPanels::AppPanels(std::shared_ptr<SensorConfig> sensorConfigIn, std::shared_ptr<AppContext> contextIn,
                     SensorPanel::PingMonitorFactory pingMonitors)
    : sensorConfig(std::move(sensorConfigIn)),
      context(std::move(contextIn)),
      lidar2DView(),
      logPanel(),
      sensorPanel(context, sensorConfig, std::move(pingMonitors)),
      view3D(),
      viewerConfig() {}

AppPanels::~AppPanels() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    dispatcher.Unsubscribe<FrameData>(&view3D);
    dispatcher.Unsubscribe<FrameData>(&lidar2DView);
    dispatcher.Unsubscribe<FrameData>(&viewerConfig);
    dispatcher.Unsubscribe<AppAction>(&view3D);
    dispatcher.Unsubscribe<AppAction>(&lidar2DView);
    dispatcher.Unsubscribe<AppAction>(&sensorPanel);
}

void AppPanels::Subscribe() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    dispatcher.Subscribe<FrameData>(&view3D);
    dispatcher.Subscribe<FrameData>(&lidar2DView);
    dispatcher.Subscribe<FrameData>(&viewerConfig);
    // CameraData: the camera panel.
    dispatcher.Subscribe<AppAction>(&view3D);
    dispatcher.Subscribe<AppAction>(&lidar2DView);
    // AppAction, still to come: the lidar and camera replay panels, the recorder panel.
    // Then the sensor panel, which only notes SensorOffline.
    dispatcher.Subscribe<AppAction>(&sensorPanel);
}

void AppPanels::Connect() {
    // The replay panels get the dispatcher; the colorizer panel the context.
    viewerConfig.SetAppContext(context);
}

void AppPanels::RelayReplay(const AppAction&) {
    // RelayReplayAction(action, &lidarReplayPanel, &cameraReplayPanel) once both replay panels exist.
}

void AppPanels::ReleaseGraphics() {
    view3D.ReleaseGl();
    lidar2DView.ReleaseGl();
}

void AppPanels::DrawSensor() { sensorPanel.DrawSensorPanel(); }
void AppPanels::DrawRecorder() {}
void AppPanels::DrawLidarReplay() {}
void AppPanels::DrawCameraReplay() {}
void AppPanels::DrawConverter() {}
void AppPanels::DrawColorizer() {}
void AppPanels::DrawView3D() { view3D.DrawView3DPanel(context->appState); }
void AppPanels::DrawCamera() {}
void AppPanels::DrawView2D() { lidar2DView.DrawLidar2DViewPanel(context->appState); }
void AppPanels::DrawViewerConfig() { viewerConfig.DrawViewerConfigPanel(context->appState); }
void AppPanels::DrawLog() { logPanel.DrawLogPanel(); }

}  // namespace orbel::studio::gui
