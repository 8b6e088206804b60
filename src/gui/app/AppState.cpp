// AppState's shared texts: the toast and the progress text are written by workers and
// tasks while the GUI thread draws them, so they are only ever touched under textMutex_.
#include "app/AppState.h"

#include <chrono>

namespace orbel::studio::gui {

AppState::AppState()
    : viewerConfig(std::make_shared<ViewerConfig>()), zoneEditorState(std::make_shared<ZoneEditorState>()) {}

void AppState::SetToast(const std::string& text, int32_t level) {
    {
        std::lock_guard lock(textMutex_);
        toast_.reset();
        toast_.emplace(ToastMessage{text, 0.0f, kToastSeconds, level});
    }
    frameRequest.Request();
}

std::optional<ToastMessage> AppState::PendingToast() const {
    std::lock_guard lock(textMutex_);
    return toast_;
}

std::optional<ToastMessage> AppState::AdvanceToast(float frameSeconds) {
    std::lock_guard lock(textMutex_);
    if (!toast_) {
        return std::nullopt;
    }
    toast_->elapsed += frameSeconds;
    if (toast_->elapsed >= toast_->duration) {
        toast_.reset();
    }
    return toast_;
}

void AppState::ClearToast() {
    std::lock_guard lock(textMutex_);
    toast_.reset();
}

void AppState::SetProgressText(const std::string& text) {
    {
        std::lock_guard lock(textMutex_);
        if (progressText_ == text) {
            return;
        }
        progressText_ = text;
    }
    frameRequest.Request();
}

std::string AppState::ProgressText() const {
    std::lock_guard lock(textMutex_);
    return progressText_;
}

bool AppState::IsTaskRunning(std::size_t slot) const {
    if (slot >= tasks.size() || !tasks[slot].valid()) {
        return false;
    }
    return tasks[slot].wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

}  // namespace orbel::studio::gui
