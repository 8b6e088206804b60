#include "app/PluginRegistry.h"

#include <utility>

namespace orbel::studio::plugins {

PluginRegistry::PluginRegistry(const std::shared_ptr<ObjectDispatcher>&, const std::shared_ptr<TaskManager>&,
                               const std::shared_ptr<gui::AppState>&) {}

void PluginRegistry::Add(std::shared_ptr<IPlugin> plugin) {
    if (plugin) {
        plugins_.push_back(std::move(plugin));
    }
}

void PluginRegistry::StartAll() {
    for (const auto& plugin : plugins_) plugin->Start();
}

void PluginRegistry::UpdateAll(float frameMilliseconds) {
    for (const auto& plugin : plugins_) plugin->Update(frameMilliseconds);
}

void PluginRegistry::ShutdownAll() {
    for (const auto& plugin : plugins_) plugin->Shutdown();
}

}  // namespace orbel::studio::plugins
