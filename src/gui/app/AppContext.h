// AppContext: what the controller hands to the panels: the shared AppState, the
// TaskManager and the ObjectDispatcher, all made at construction. It lives as long as
// the controller and every panel that holds it.
#pragma once

#include <memory>

#include "app/AppState.h"
#include "app/ObjectDispatcher.h"
#include "app/TaskManager.h"

namespace orbel::studio::gui {

struct AppContext {
    AppContext()
        : appState(std::make_shared<AppState>()),
          taskManager(std::make_shared<TaskManager>()),
          dispatcher(std::make_shared<ObjectDispatcher>()) {}

    // What the state and the hub ask for a frame when something they carry changes.
    void SetFrameRequest(const std::shared_ptr<IFrameRequest>& request) {
        appState->frameRequest.Set(request);
        dispatcher->SetFrameRequest(request);
    }

    std::shared_ptr<AppState> appState;
    std::shared_ptr<TaskManager> taskManager;
    std::shared_ptr<ObjectDispatcher> dispatcher;
};

}  // namespace orbel::studio::gui
