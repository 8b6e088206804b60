// Where each panel is subscribed, connected and drawn. A panel that is not built yet has an
// empty region: its comment marks where its calls go.
#include "app/AppPanels.h"

#include <utility>


namespace orbel::studio::gui {

AppPanels::AppPanels(std::shared_ptr<SensorConfig> sensorConfigIn, std::shared_ptr<AppContext> contextIn,
                     SensorPanel::PingMonitorFactory pingMonitors)
    : sensorConfig(std::move(sensorConfigIn)),
      context(std::move(contextIn)),
      cameraPanel(),
      converterPanel(),
      lidar2DView(),
      logPanel(),
      recorderPanel(context, sensorConfig),
      lidarReplayPanel(0),
      cameraReplayPanel(1),
      sensorPanel(context, sensorConfig, std::move(pingMonitors)),
      view3D(),
      viewerConfig(),
      colorizerPanel() {}

AppPanels::~AppPanels() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    dispatcher.Unsubscribe<FrameData>(&view3D);
    dispatcher.Unsubscribe<FrameData>(&lidar2DView);
    dispatcher.Unsubscribe<FrameData>(&viewerConfig);
    dispatcher.Unsubscribe<CameraData>(&cameraPanel);
    dispatcher.Unsubscribe<AppAction>(&view3D);
    dispatcher.Unsubscribe<AppAction>(&lidar2DView);
    dispatcher.Unsubscribe<AppAction>(&lidarReplayPanel);
    dispatcher.Unsubscribe<AppAction>(&cameraReplayPanel);
    dispatcher.Unsubscribe<AppAction>(&recorderPanel);
    dispatcher.Unsubscribe<AppAction>(&sensorPanel);
}

void AppPanels::Subscribe() {
    ObjectDispatcher& dispatcher = *context->dispatcher;
    dispatcher.Subscribe<FrameData>(&view3D);
    dispatcher.Subscribe<FrameData>(&lidar2DView);
    dispatcher.Subscribe<FrameData>(&viewerConfig);
    // The camera panel takes images only; the controller decides when the camera view shows.
    dispatcher.Subscribe<CameraData>(&cameraPanel);
    dispatcher.Subscribe<AppAction>(&view3D);
    dispatcher.Subscribe<AppAction>(&lidar2DView);
    dispatcher.Subscribe<AppAction>(&lidarReplayPanel);
    dispatcher.Subscribe<AppAction>(&cameraReplayPanel);
    dispatcher.Subscribe<AppAction>(&recorderPanel);
    // Then the sensor panel, which only notes SensorOffline.
    dispatcher.Subscribe<AppAction>(&sensorPanel);
}

void AppPanels::Connect() {
    lidarReplayPanel.SetDispatcher(context->dispatcher);
    cameraReplayPanel.SetDispatcher(context->dispatcher);
    viewerConfig.SetAppContext(context);
}

void AppPanels::RelayReplay(const AppAction& action) {
    RelayReplayAction(action, &lidarReplayPanel, &cameraReplayPanel);
}

void AppPanels::ReleaseGraphics() {
    cameraPanel.ReleaseGl();
    view3D.ReleaseGl();
    lidar2DView.ReleaseGl();
}

void AppPanels::UpdateSessions() {
    recorderPanel.Update();
    lidarReplayPanel.Update(context->appState);
    cameraReplayPanel.Update(context->appState);
}

void AppPanels::DrawSensor() { sensorPanel.DrawSensorPanel(); }
void AppPanels::DrawRecorder() { recorderPanel.DrawRecorderPanel(); }
void AppPanels::DrawLidarReplay() { lidarReplayPanel.DrawReplayPanel(context->appState); }
void AppPanels::DrawCameraReplay() { cameraReplayPanel.DrawReplayPanel(context->appState); }
void AppPanels::DrawConverter() { converterPanel.DrawConverterPanel(context->appState); }
void AppPanels::DrawColorizer() { colorizerPanel.DrawColorizerPanel(context->appState); }
void AppPanels::DrawView3D() { view3D.DrawView3DPanel(context->appState); }
void AppPanels::DrawCamera() { cameraPanel.DrawCameraPanel(context->appState); }
void AppPanels::DrawView2D() { lidar2DView.DrawLidar2DViewPanel(context->appState); }
void AppPanels::DrawViewerConfig() { viewerConfig.DrawViewerConfigPanel(context->appState); }
void AppPanels::DrawLog() { logPanel.DrawLogPanel(); }

}  // namespace orbel::studio::gui
