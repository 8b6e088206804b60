// The process's file dialogs: GTK 3's native file chooser after InitFileDialogs, a test's
// double after ReplaceFileDialogs, and otherwise a stand-in that answers Error to every call.
// The native chooser shows the desktop's own dialog through its portal where one runs, and
// GTK's file chooser dialog everywhere else. GTK is used only from the thread that
// initialised it (the GUI thread); each dialog runs its own modal loop and is gone from the
// screen when the call returns. The program's end reaches that loop from any thread through
// one flag and GLib's wake-up of the loop's context, the one GLib call made off the GUI thread.
#include "platform/FileDialog.h"

#include <atomic>
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

// Set once, by EndFileDialogs on any thread; read on the GUI thread before a dialog and
// while one waits.
std::atomic<bool>& DialogsEnded() {
    static std::atomic<bool> ended{false};
    return ended;
}

// Dialogs that open nothing and give one answer to every call.
class NoFileDialogs final : public IFileDialog {
public:
    explicit NoFileDialogs(DialogResult answer) : answer_(answer) {}
    DialogResult OpenFile(const std::vector<DialogFilter>&, const std::filesystem::path&,
                          std::filesystem::path&) override {
        return answer_;
    }
    DialogResult PickFolder(const std::filesystem::path&, std::filesystem::path&) override { return answer_; }

private:
    DialogResult answer_;
};

class GtkFileDialogs final : public IFileDialog {
public:
    DialogResult OpenFile(const std::vector<DialogFilter>& filters, const std::filesystem::path& defaultFolder,
                          std::filesystem::path& chosen) override {
        GtkFileChooserNative* dialog =
            gtk_file_chooser_native_new("Open File", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
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
        GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
            "Select Folder", nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select", "_Cancel");
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

    static DialogResult Run(GtkFileChooserNative* dialog, const std::filesystem::path& defaultFolder,
                            std::filesystem::path& chosen) {
        const std::filesystem::path start = StartingFolder(defaultFolder, g_get_home_dir());
        if (!start.empty()) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), start.c_str());
        }
        gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
        // The program's window is not GTK's, so the dialog has no parent; modal keeps the
        // portal's dialog in front of the program on the desktops that honour it.
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);

        const gint response = RunModal(GTK_NATIVE_DIALOG(dialog));
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
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(dialog));
        g_object_unref(dialog);
        // Nobody else runs GTK's main loop: without this the closed dialog stays drawn
        // until the next dialog is opened.
        while (gtk_events_pending()) {
            gtk_main_iteration();
        }
        return result;
    }

    // gtk_native_dialog_run, with one step between showing and waiting: where GTK shows its
    // own chooser dialog (no portal), that dialog is kept above, or a maximised program
    // window may cover it while it waits for the user. The wait also ends with the program
    // (EndFileDialogs), and then answers GTK_RESPONSE_NONE.
    static gint RunModal(GtkNativeDialog* dialog) {
        struct Wait {
            bool answered = false;
            gint response = GTK_RESPONSE_NONE;
        } wait;
        const gulong handler = g_signal_connect(
            dialog, "response", G_CALLBACK(+[](GtkNativeDialog*, gint response, gpointer data) {
                auto* waiting = static_cast<Wait*>(data);
                waiting->answered = true;
                waiting->response = response;
            }),
            &wait);
        gtk_native_dialog_show(dialog);
        KeepChooserDialogsAbove();
        if (gtk_native_dialog_get_visible(dialog)) {
            // One dispatch at a time, the end looked at before each: EndFileDialogs sets it and
            // then wakes the context, and a wake-up that comes before the wait begins makes
            // the next wait return at once, so no order of the two is missed.
            while (!wait.answered && !DialogsEnded().load()) {
                g_main_context_iteration(nullptr, TRUE);
            }
        }
        g_signal_handler_disconnect(dialog, handler);
        return wait.response;
    }

    static void KeepChooserDialogsAbove() {
        GList* windows = gtk_window_list_toplevels();
        for (GList* entry = windows; entry != nullptr; entry = entry->next) {
            GtkWidget* window = GTK_WIDGET(entry->data);
            if (GTK_IS_FILE_CHOOSER_DIALOG(window) && gtk_widget_get_visible(window)) {
                gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
            }
        }
        g_list_free(windows);
    }
};

NoFileDialogs& Unavailable() {
    static NoFileDialogs instance(DialogResult::Error);
    return instance;
}

NoFileDialogs& Ending() {
    static NoFileDialogs instance(DialogResult::Cancel);
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

void EndFileDialogs() {
    if (!DialogsEnded().exchange(true)) {
        g_main_context_wakeup(nullptr);  // the default context, where every dialog waits
    }
}

IFileDialog& FileDialogs() {
    if (DialogsEnded().load()) {
        return Ending();
    }
    if (Installed() != nullptr) {
        return *Installed();
    }
    return Unavailable();
}

std::unique_ptr<IFileDialog> ReplaceFileDialogs(std::unique_ptr<IFileDialog> dialogs) {
    return std::exchange(Installed(), std::move(dialogs));
}

}  // namespace orbel::studio::platform
