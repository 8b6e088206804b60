// Native file dialogs behind one small interface: open one file, pick one folder. On Linux
// the implementation is GTK 3's file chooser; tests put a scripted double in its place.
//
// Contract: GUI thread only, but for EndFileDialogs. Like the platform's dialog library, the
// dialogs are process-wide: InitFileDialogs once before the first dialog (the program ends
// with 1 when it fails), QuitFileDialogs once at shutdown. A dialog call blocks until the
// user answers, or until EndFileDialogs closes it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orbel::studio::platform {

// The numbers match the dialog library's result codes that CopyDialogResult tests for.
enum class DialogResult : int { Error = 0, Okay = 1, Cancel = 2 };

// One filter of an open dialog: a name shown to the user and comma-separated extensions
// without dots, for example {"QEXT", "qext"}.
struct DialogFilter {
    std::string name;
    std::string extensions;
};

class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    // Fills `chosen` only with Okay. The dialog opens in StartingFolder(`defaultFolder`, the
    // user's home): callers pass the text their field holds, or nothing.
    virtual DialogResult OpenFile(const std::vector<DialogFilter>& filters, const std::filesystem::path& defaultFolder,
                                  std::filesystem::path& chosen) = 0;
    virtual DialogResult PickFolder(const std::filesystem::path& defaultFolder, std::filesystem::path& chosen) = 0;
};

// The file-name patterns of one filter as the GTK chooser matches them: one "*.ext" per
// extension, case-insensitive ("*.[qQ][eE][xX][tT]"), blanks and leading dots dropped;
// empty extensions are skipped.
std::vector<std::string> FilterPatterns(const DialogFilter& filter);

// Where a dialog opens: `given` when it is a folder, else the folder that holds it when that
// exists (a field may name a file, or a folder still to be made), else `home`; empty when
// none is a folder. A dialog left to itself opens in its list of recent files, where a typed
// path does not take.
std::filesystem::path StartingFolder(const std::filesystem::path& given, const std::filesystem::path& home);

// A folder dialog over a text field: opens where `text` points and, when the user picks a
// folder, puts its path in `text`. True when it did.
bool PickFolderInto(std::string& text);

// Starts the platform's dialogs; false when they cannot be used (no display, no GTK).
bool InitFileDialogs();
void QuitFileDialogs();

// The program is ending (a termination signal came): the dialog that is open closes as if the
// user had cancelled it, and every dialog asked for from then on answers Cancel without
// opening, so that the frame loop gets back to its end. For the rest of the process; any
// thread, any number of times; never blocks.
void EndFileDialogs();

// The process's dialogs: the platform's after InitFileDialogs, or whatever a test installed;
// once EndFileDialogs has run, ones that answer Cancel. Without any, every call answers Error.
IFileDialog& FileDialogs();

// Installs `dialogs` in place of the current ones and returns those (tests restore them).
std::unique_ptr<IFileDialog> ReplaceFileDialogs(std::unique_ptr<IFileDialog> dialogs);

}  // namespace orbel::studio::platform
