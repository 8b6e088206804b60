// The plugin registry: optional tools that add a tab to the toolbox of the left column.
// This build ships none, so the registry stays empty; the controller still starts, updates,
// and shuts it down, and the layout draws one tab per visible plugin.
//
// Contract: GUI thread for Update, Draw and Shutdown; StartAll runs on the start-up thread
// while nothing else uses the registry.
#pragma once

#include <memory>
#include <vector>

#include "app/AppState.h"
#include "app/ObjectDispatcher.h"
#include "app/TaskManager.h"

namespace orbel::studio::plugins {

class IPlugin {
public:
    virtual ~IPlugin() = default;
    virtual void Start() = 0;
    virtual void Shutdown() = 0;
    virtual void Update(float frameMilliseconds) = 0;
    // The body of its tab.
    virtual void Draw() = 0;
    virtual bool IsHidden() const = 0;
    virtual const char* TabName() const = 0;
};

class PluginRegistry {
public:
    // The registry keeps none of these; plugins it would create get what they need from them.
    PluginRegistry(const std::shared_ptr<ObjectDispatcher>& dispatcher, const std::shared_ptr<TaskManager>& tasks,
                   const std::shared_ptr<gui::AppState>& appState);

    void Add(std::shared_ptr<IPlugin> plugin);
    void StartAll();
    void UpdateAll(float frameMilliseconds);
    void ShutdownAll();
    const std::vector<std::shared_ptr<IPlugin>>& Plugins() const { return plugins_; }

private:
    std::vector<std::shared_ptr<IPlugin>> plugins_;
};

}  // namespace orbel::studio::plugins
