// The replay panel's decisions, its session loading and its drawing (Dear ImGui 1.86).
#include "sessions/ReplayPanel.h"

#include <cfloat>

#include <imgui.h>
#include <imgui_stdlib.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "platform/FileDialog.h"
#include "views/Colormaps.h"

namespace orbel::studio::gui {
namespace fs = std::filesystem;

ReplayPanel::ReplayPanel(int mode) : mode_(mode == 1 ? ReplayMode::Camera : ReplayMode::Lidar) {}

ReplayPanel::~ReplayPanel() { player_.reset(); }

void ReplayPanel::SetDispatcher(std::shared_ptr<ObjectDispatcher> dispatcher) { dispatcher_ = std::move(dispatcher); }

void ReplayPanel::Publish(AppActionType type, AppActionPayload payload) {
    if (dispatcher_) {
        dispatcher_->Publish(std::make_shared<AppAction>(type, this, std::move(payload)));
    }
}

bool ReplayPanel::TaskPending(const AppState& state) { return state.IsTaskRunning(AppState::kProcessingTaskSlot); }

void ReplayPanel::Consume(std::shared_ptr<AppAction> action) {
    if (!action || action->sender == this) {
        return;
    }
    const bool loaded = action->Is(AppActionType::SessionLoaded) && action->payload.index() == payload_index::kText;
    if (loaded || action->Is(AppActionType::SessionLoadFailed)) {
        std::lock_guard lock(pendingMutex_);
        pendingActions_.push_back(std::move(action));
    }
}

void ReplayPanel::Update(const std::shared_ptr<AppState>& state) {
    std::vector<std::shared_ptr<AppAction>> actions;
    std::optional<std::string> colourMode;
    {
        std::lock_guard lock(pendingMutex_);
        actions.swap(pendingActions_);
        colourMode.swap(pendingColourMode_);
    }
    for (const auto& action : actions) {
        if (action->Is(AppActionType::SessionLoaded)) {
            folder_ = std::get<std::string>(action->payload);
            LoadSession(nullptr);
        } else {
            player_.reset();
        }
    }
    if (!state) {
        return;
    }
    if (colourMode && state->viewerConfig) {
        state->viewerConfig->view3d_colormap = ColormapFromName(*colourMode);
    }
    if (player_ && player_->TakeFolderGone()) {
        state->SetToast("Session folder gone: replay stopped", 3);
    }
    // A live stream takes the views; a background task (a conversion, a colorization) only
    // reads or writes files and leaves a loaded session as it is.
    if (player_ && state->streaming.load()) {
        player_.reset();
        folder_.clear();
    }
    if (mode_ == ReplayMode::Lidar) {
        state->replaying.store(player_ != nullptr && player_->IsPlaying());
    }
}

ReplayPanel::View ReplayPanel::Describe(const AppState& state) const {
    View view;
    const bool streaming = state.streaming.load();
    const bool pending = TaskPending(state);
    view.loadEnabled = !streaming && !pending;
    view.hint = streaming ? "Stop streaming to load a session" : pending ? "Wait for stitching to finish" : "";
    view.showUnload = player_ != nullptr;
    view.showSlider = player_ != nullptr && !streaming;
    if (view.showSlider) {
        view.count = player_->FileCount();
        view.index = static_cast<int>(player_->GetIndex());
        view.frameText = "Frame " + std::to_string(view.index + 1) + " / " + std::to_string(view.count);
        // The views still show the frame before it: say that this one is not what they show.
        if (player_->FailedIndex() == player_->GetIndex()) {
            view.frameText += " (could not be read)";
        }
    } else {
        view.frameText = "Frame ID: -";
    }
    view.playPauseLabel = player_ && player_->IsPlaying() ? "Pause" : "Play";
    return view;
}

void ReplayPanel::LoadSession(std::shared_ptr<AppState> state) {
    if (!dispatcher_) {
        Log("[Replay] The replay panel has no dispatcher to play to", log_level::kError);
        return;
    }
    try {
        const fs::path picked(folder_);
        const SessionPaths paths = MakeSessionPaths(picked);
        fs::path folder = picked;
        if (mode_ == ReplayMode::Camera && !paths.camera_folder.empty()) {
            folder = paths.camera_folder;
        } else if (mode_ == ReplayMode::Lidar && !paths.lidar_folder.empty()) {
            folder = paths.lidar_folder;
        }
        const FileType type = FileTypeFromExtension(MostCommonExtension(folder));
        if (mode_ == ReplayMode::Camera && type != FileType::Jpg) {
            Log("Selected folder does not contain RGB images. Camera replay mode requires a folder with RGB images.",
                log_level::kError);
            if (state) state->SetToast("Invalid folder for camera replay", 3);
            return;
        }

        // Listed and tried before anything is published, so that a session none of whose
        // files can be read does not send the camera panel off to load its images.
        auto next = std::make_unique<OfflinePlayer>(dispatcher_, folder, type);
        const std::string unreadable = next->UnreadableReason();
        if (mode_ == ReplayMode::Lidar) {
            if (unreadable.empty() && !paths.camera_folder.empty()) {
                Publish(AppActionType::SessionLoaded, paths.camera_folder.string());
            } else {
                Publish(AppActionType::SessionLoadFailed);
            }
            Publish(AppActionType::ClearViews);
        }

        player_.reset();  // its worker ends before the new player shows anything
        player_ = std::move(next);
        if (state) {
            player_->SetColourModeCallback([this](std::string mode) {
                std::lock_guard lock(pendingMutex_);
                pendingColourMode_ = std::move(mode);
            });
        }
        if (!unreadable.empty()) {
            Log("Failed to load session: " + unreadable, log_level::kError);
            if (state) state->SetToast("Failed to load session", 3);
            player_.reset();
        } else if (player_->FileCount() > 0) {
            player_->Show();
        } else {
            Log("No frames found in the selected folder.", log_level::kWarning);
            if (state) state->SetToast("No frames found", 2);
            player_.reset();
        }
    } catch (const std::exception& e) {
        Log(std::string("Failed to load session: ") + e.what(), log_level::kError);
        if (state) state->SetToast("Failed to load session", 3);
        if (mode_ == ReplayMode::Lidar) {
            Publish(AppActionType::SessionLoadFailed);
        }
    }
}

void ReplayPanel::Play() {
    if (player_) player_->Play();
}

void ReplayPanel::Pause() {
    if (player_) player_->Pause();
}

void ReplayPanel::Reset() {
    if (player_) player_->Stop();
}

void ReplayPanel::Seek(int32_t index) {
    if (player_) player_->Seek(index);
}

void ReplayPanel::PressPlay() {
    if (player_) player_->Play();
    Publish(AppActionType::ReplayPlay);
}

void ReplayPanel::PressPause() {
    if (player_) player_->Pause();
    Publish(AppActionType::ReplayPause);
}

void ReplayPanel::PressReset() {
    if (player_) {
        player_->Stop();
        player_->Show();
    }
    Publish(AppActionType::ReplayReset);
}

void ReplayPanel::PressPrev() {
    if (player_) player_->Prev();
}

void ReplayPanel::PressNext() {
    if (player_) player_->Next();
}

void ReplayPanel::MoveSlider(int index) {
    if (!player_) return;
    player_->Seek(index);
    Publish(AppActionType::ReplaySeek, static_cast<int32_t>(index));
}

void ReplayPanel::Unload() {
    player_.reset();
    folder_.clear();
    if (mode_ == ReplayMode::Camera) {
        Publish(AppActionType::SetCameraViewVisible, false);
    } else {
        Publish(AppActionType::ClearViews);
    }
}

void ReplayPanel::DrawReplayPanel(std::shared_ptr<AppState> state) {
    Update(state);
    const View view = Describe(*state);
    ImGui::PushID(this);

    ImGui::BeginDisabled(!view.loadEnabled);
    if (ImGui::Button("Load session") && platform::PickFolderInto(folder_)) {
        LoadSession(state);
    }
    if (view.showUnload) {
        ImGui::SameLine();
        if (ImGui::Button("Unload session")) {
            Unload();
        }
    }
    if (!view.hint.empty()) {
        ImGui::SameLine();
        ImGui::TextUnformatted(view.hint.c_str());
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::InputText("##frames", &folder_);
    ImGui::EndDisabled();

    const char* rates[] = {"10 Hz", "20 Hz"};
    ImGui::Combo("##hz", &rate_, rates, 2);

    if (view.showSlider && player_) {
        int index = view.index;
        if (ImGui::SliderInt("##frame", &index, 0, std::max(0, view.count - 1))) {
            MoveSlider(index);
        }
    } else {
        ImGui::Dummy(ImVec2(0.0f, ImGui::GetFrameHeight()));
    }
    ImGui::TextUnformatted(view.frameText.c_str());

    if (ImGui::Button("<")) PressPrev();
    ImGui::SameLine();
    if (ImGui::Button(view.playPauseLabel.c_str())) {
        if (view.playPauseLabel == "Pause") PressPause();
        else PressPlay();
    }
    ImGui::SameLine();
    if (ImGui::Button("Reset")) PressReset();
    ImGui::SameLine();
    if (ImGui::Button(">")) PressNext();

    ImGui::PopID();
}

}  // namespace orbel::studio::gui
