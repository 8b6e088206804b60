// ConverterPanel: the "Converter" tab. The user picks an input folder tree of QPC frame files,
// an output folder and a format (PLY, PCD or CSV) and converts; the conversion runs as one
// std::async task whose future sits in AppState's processing slot, reports its progress
// through AppState's progress fraction and text, and can be asked to stop between files.
//
// Contract: the panel's methods run on the GUI thread. The task shares with the GUI thread
// only its own cancel flag (made fresh on the GUI thread for every run), the AppState (whose
// progress text and toast are guarded there) and copies of the folder texts. The task holds
// the AppState whose slot holds the task's future, so the panel collects the future once the
// task has ended (at the top of every draw) and, going away, stops and collects a running
// one: neither is left holding the other. The outcome is told truthfully: a run that
// converted nothing is a failure, and one where some files failed says how many.
#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/FileHelpers.h"

namespace orbel::studio::gui {

class ConverterPanel {
public:
    ConverterPanel() = default;
    // Stops a conversion this panel started and waits for it.
    ~ConverterPanel();
    ConverterPanel(const ConverterPanel&) = delete;
    ConverterPanel& operator=(const ConverterPanel&) = delete;

    // Draws the panel and acts on it, once per GUI frame.
    void DrawConverterPanel(std::shared_ptr<AppState> state);

    // The format labels "PLY", "PCD", "CSV" and their file types.
    static const std::array<std::string, 3>& FormatLabels();
    static FileType FormatType(int formatIndex);

    // The decisions the drawing follows, callable without a window.
    static bool ConversionRunning(const AppState& state);
    bool ButtonEnabled(const AppState& state) const;
    const char* ButtonLabel(const AppState& state) const;
    void PressButton(const std::shared_ptr<AppState>& state);
    // Takes the processing slot's future back once the conversion this panel started ended.
    void CollectFinished(AppState& state);

    void SetInputFolder(std::string folder) { inputFolder_ = std::move(folder); }
    void SetOutputFolder(std::string folder) { outputFolder_ = std::move(folder); }
    void SetFormatIndex(int index) { formatIndex_ = index; }
    const std::string& InputFolder() const { return inputFolder_; }
    const std::string& OutputFolder() const { return outputFolder_; }

private:
    void Start(const std::shared_ptr<AppState>& state);

    std::string inputFolder_;
    std::string outputFolder_;
    int formatIndex_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<AppState> launchedIn_;  // the state whose slot holds this panel's running task
};

// The conversion task's body: converts `input` into `output` as `formatIndex` chooses, writes
// the progress into the AppState and ends with a log line and a toast that say how it went.
void RunConversion(const std::shared_ptr<AppState>& state, const std::shared_ptr<std::atomic<bool>>& cancel,
                   const std::filesystem::path& input, const std::filesystem::path& output, int formatIndex);

}  // namespace orbel::studio::gui
