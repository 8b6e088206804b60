// The process's file dialogs: GTK 3's file chooser after InitFileDialogs, a test's double
// after ReplaceFileDialogs, and otherwise a stand-in that answers Error to every call.
// GTK is used only from the thread that initialised it (the GUI thread); each dialog runs
// its own modal loop and is gone from the screen when the call returns.
#include "platform/FileDialog.h"

#include <cctype>
#include <utility>

#include <gtk/gtk.h>

namespace orbel::studio::platform {
namespace {

// The extensions of a comma-separated list, without blanks and leading dots.
std::vector<std::string> SplitExtensions(const std::string& extensions) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start <= extensions.size()) {
        std::size_t end = extensions.find(',', start);
        if (end == std::string::npos) {
            end = extensions.size();
        }
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && std::isspace(static_cast<unsigned char>(extensions[first]))) {
            ++first;
        }
        while (last > first && std::isspace(static_cast<unsigned char>(extensions[last - 1]))) {
            --last;
        }
        while (first < last && extensions[first] == '.') {
            ++first;
        }
        if (first < last) {
            result.push_back(extensions.substr(first, last - first));
        }
        start = end + 1;
    }
    return result;
}

class NoFileDialogs final : public IFileDialog {
public:
    DialogResult OpenFile(const std::vector<DialogFilter>&, const std::filesystem::path&,
                          std::filesystem::path&) override {
        return DialogResult::Error;
    }
    DialogResult PickFolder(const std::filesystem::path&, std::filesystem::path&) override {
        return DialogResult::Error;
    }
};

class GtkFileDialogs final : public IFileDialog {
public:
    DialogResult OpenFile(const std::vector<DialogFilter>& filters, const std::filesystem::path& defaultFolder,
                          std::filesystem::path& chosen) override {
        GtkWidget* dialog = gtk_file_chooser_dialog_new("Open File", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                        "_Cancel", GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT,
                                                        nullptr);
        for (const DialogFilter& filter : filters) {
            const std::vector<std::string> patterns = FilterPatterns(filter);
            if (patterns.empty()) {
                continue;
            }
            GtkFileFilter* gtkFilter = gtk_file_filter_new();
            gtk_file_filter_set_name(gtkFilter, DisplayName(filter).c_str());
            for (const std::string& pattern : patterns) {
                gtk_file_filter_add_pattern(gtkFilter, pattern.c_str());
            }
            // The chooser takes over the filter's floating reference.
            gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), gtkFilter);
        }
        return Run(dialog, defaultFolder, chosen);
    }

    DialogResult PickFolder(const std::filesystem::path& defaultFolder, std::filesystem::path& chosen) override {
        GtkWidget* dialog = gtk_file_chooser_dialog_new("Select Folder", nullptr,
                                                        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                                        GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
        return Run(dialog, defaultFolder, chosen);
    }

private:
    // "QEXT (*.qext)": the extensions as the user knows them, beside the filter's name.
    static std::string DisplayName(const DialogFilter& filter) {
        std::string shown;
        for (const std::string& pattern : SplitExtensions(filter.extensions)) {
            shown += (shown.empty() ? "*." : ", *.") + pattern;
        }
        return filter.name + " (" + shown + ")";
    }

    static DialogResult Run(GtkWidget* dialog, const std::filesystem::path& defaultFolder,
                            std::filesystem::path& chosen) {
        const std::filesystem::path start = StartingFolder(defaultFolder, g_get_home_dir());
        if (!start.empty()) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), start.c_str());
        }
        gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
        // The dialog has no parent window of GTK's; without this a maximised program window
        // may cover it while it waits for the user.
        gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);

        const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
        DialogResult result = DialogResult::Cancel;
        if (response == GTK_RESPONSE_ACCEPT) {
            gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
            if (name != nullptr) {
                chosen = std::filesystem::path(name);
                g_free(name);
                result = DialogResult::Okay;
            } else {
                result = DialogResult::Error;
            }
        }
        gtk_widget_destroy(dialog);
        // Nobody else runs GTK's main loop: without this the closed dialog stays drawn
        // until the next dialog is opened.
        while (gtk_events_pending()) {
            gtk_main_iteration();
        }
        return result;
    }

};

NoFileDialogs& Unavailable() {
    static NoFileDialogs instance;
    return instance;
}

// The installed dialogs; null means Unavailable(). GUI thread only, like every dialog call.
std::unique_ptr<IFileDialog>& Installed() {
    static std::unique_ptr<IFileDialog> dialogs;
    return dialogs;
}

}  // namespace

std::vector<std::string> FilterPatterns(const DialogFilter& filter) {
    std::vector<std::string> patterns;
    for (const std::string& extension : SplitExtensions(filter.extensions)) {
        std::string pattern = "*.";
        for (const char c : extension) {
            const auto byte = static_cast<unsigned char>(c);
            if (std::isalpha(byte)) {
                pattern += '[';
                pattern += static_cast<char>(std::tolower(byte));
                pattern += static_cast<char>(std::toupper(byte));
                pattern += ']';
            } else if (c == '*' || c == '?' || c == '[' || c == ']') {
                // A glob character in a name matches only itself.
                pattern += '[';
                pattern += c;
                pattern += ']';
            } else {
                pattern += c;
            }
        }
        patterns.push_back(std::move(pattern));
    }
    return patterns;
}

std::filesystem::path StartingFolder(const std::filesystem::path& given, const std::filesystem::path& home) {
    std::error_code error;
    if (!given.empty()) {
        // A relative text means nothing to a dialog that does not share our working folder.
        const std::filesystem::path text = std::filesystem::absolute(given, error);
        for (const std::filesystem::path& folder : {text, text.parent_path()}) {
            if (!error && !folder.empty() && std::filesystem::is_directory(folder, error)) {
                return folder;
            }
            error.clear();
        }
    }
    return std::filesystem::is_directory(home, error) ? home : std::filesystem::path();
}

bool PickFolderInto(std::string& text) {
    std::filesystem::path chosen;
    if (FileDialogs().PickFolder(std::filesystem::path(text), chosen) != DialogResult::Okay) {
        return false;
    }
    text = chosen.string();
    return true;
}

bool InitFileDialogs() {
    // gtk_init_check opens the display named by the environment and fails without one
    // instead of ending the process as gtk_init would.
    if (!gtk_init_check(nullptr, nullptr)) {
        return false;
    }
    if (Installed() == nullptr) {
        Installed() = std::make_unique<GtkFileDialogs>();
    }
    return true;
}

void QuitFileDialogs() {
    // A test's double stays; only the platform's dialogs are dropped.
    if (dynamic_cast<GtkFileDialogs*>(Installed().get()) != nullptr) {
        Installed().reset();
    }
}

IFileDialog& FileDialogs() {
    if (Installed() != nullptr) {
        return *Installed();
    }
    return Unavailable();
}

std::unique_ptr<IFileDialog> ReplaceFileDialogs(std::unique_ptr<IFileDialog> dialogs) {
    return std::exchange(Installed(), std::move(dialogs));
}

}  // namespace orbel::studio::platform
