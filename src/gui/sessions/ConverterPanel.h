// ConverterPanel: the "Converter" tab. The user picks an input folder tree of QPC frame files,
// an output folder and a format (PLY, PCD or CSV) and converts; the conversion runs as one
// std::async task whose future sits in AppState's processing slot, reports its progress
// through AppState's progress fraction and text, and can be asked to stop between files. An
// output folder typed as a relative path is taken in the user's home folder when the run
// starts, and the log names the absolute folder written.
//
// Contract: the panel's methods run on the GUI thread. The task shares with the GUI thread
// only its own cancel flag (made fresh on the GUI thread for every run), the AppState (whose
// progress text and toast are guarded there) and copies of the folder texts; it lets go of
// the AppState as it ends (see ProcessingTask), and the panel, going away, stops a running
// conversion and waits for it. The panel shows and stops only its own conversion: while the
// colorizer panel's task holds the shared slot, its button is disabled. The outcome is told
// truthfully: a run that converted nothing is a failure, and one where some files failed
// says how many.
#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/FileHelpers.h"
#include "sessions/ProcessingTask.h"

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
    // This panel's conversion has been started and has not ended.
    bool ConversionRunning() const { return task_.Running(); }
    // To stop this panel's conversion, or to start one when both folders are named and no
    // other task holds the slot.
    bool ButtonEnabled(const AppState& state) const;
    const char* ButtonLabel() const;
    void PressButton(const std::shared_ptr<AppState>& state);
    // Returns once this panel's conversion, if any, has ended.
    void WaitForConversion() const { task_.Wait(); }

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
    ProcessingTask task_;  // last member: going first, it waits for the task
};

// The conversion task's body: converts `input` into `output` as `formatIndex` chooses, writes
// the progress into the AppState and ends with a log line and a toast that say how it went.
void RunConversion(const std::shared_ptr<AppState>& state, const std::shared_ptr<std::atomic<bool>>& cancel,
                   const std::filesystem::path& input, const std::filesystem::path& output, int formatIndex);

}  // namespace orbel::studio::gui
