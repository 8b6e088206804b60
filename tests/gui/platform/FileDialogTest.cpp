// The file-dialog seam: what callers get without GTK, a test's double in its place, the
// filters as GTK's own matcher applies them, start-up without a display, and the program's
// end closing the chooser that waits. Choosing in the chooser waits for a person and is not
// driven here.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtk/gtk.h>

#include "platform/FileDialog.h"
#include "support/Threads.h"

namespace {

using orbel::studio::platform::DialogFilter;
using orbel::studio::platform::DialogResult;
using orbel::studio::platform::FileDialogs;
using orbel::studio::platform::FilterPatterns;
using orbel::studio::platform::IFileDialog;
using orbel::studio::platform::ReplaceFileDialogs;

class ScriptedDialogs final : public IFileDialog {
public:
    DialogResult OpenFile(const std::vector<DialogFilter>& filters, const std::filesystem::path& defaultFolder,
                          std::filesystem::path& chosen) override {
        lastFilters = filters;
        lastFolder = defaultFolder;
        chosen = "/data/alignment.qext";
        return DialogResult::Okay;
    }
    DialogResult PickFolder(const std::filesystem::path&, std::filesystem::path&) override {
        return DialogResult::Cancel;
    }
    std::vector<DialogFilter> lastFilters;
    std::filesystem::path lastFolder;
};

// Runs `body` in a child process (GTK keeps its state for the process, and the end of the
// dialogs is for good) and gives its exit status, or -1 when it did not end within the
// deadline (then it is killed).
int InChild(int (*body)()) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) _exit(body());
    int status = 0;
    if (!orbel::testing::Eventually([&] { return waitpid(child, &status, WNOHANG) == child; },
                                    std::chrono::seconds(30))) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FileDialogs, WithoutInitialisationEveryDialogIsAnErrorAndChoosesNothing) {
    std::filesystem::path chosen = "untouched";
    EXPECT_EQ(FileDialogs().OpenFile({{"QEXT", "qext"}}, {}, chosen), DialogResult::Error);
    EXPECT_EQ(FileDialogs().PickFolder({}, chosen), DialogResult::Error);
    EXPECT_EQ(chosen, "untouched");
}

TEST(FileDialogs, AReplacementAnswersUntilThePreviousDialogsAreRestored) {
    auto installed = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs* scripted = installed.get();
    std::unique_ptr<IFileDialog> previous = ReplaceFileDialogs(std::move(installed));

    std::filesystem::path chosen;
    EXPECT_EQ(FileDialogs().OpenFile({{"QEXT", "qext"}}, "/data", chosen), DialogResult::Okay);
    EXPECT_EQ(chosen, "/data/alignment.qext");
    ASSERT_EQ(scripted->lastFilters.size(), 1u);
    EXPECT_EQ(scripted->lastFilters[0].extensions, "qext");
    EXPECT_EQ(scripted->lastFolder, "/data");
    EXPECT_EQ(FileDialogs().PickFolder({}, chosen), DialogResult::Cancel);

    std::unique_ptr<IFileDialog> mine = ReplaceFileDialogs(std::move(previous));
    EXPECT_EQ(mine.get(), scripted);
    EXPECT_EQ(FileDialogs().PickFolder({}, chosen), DialogResult::Error);
}

TEST(FileDialogs, FilterExtensionsBecomeCaseInsensitivePatterns) {
    const struct {
        DialogFilter filter;
        std::vector<std::string> patterns;
    } cases[] = {
        {{"QEXT", "qext"}, {"*.[qQ][eE][xX][tT]"}},
        {{"Images", " png, .jpg ,,jpeg "}, {"*.[pP][nN][gG]", "*.[jJ][pP][gG]", "*.[jJ][pP][eE][gG]"}},
        {{"Archives", "7z"}, {"*.7[zZ]"}},
        {{"Odd", "a*b?"}, {"*.[aA][*][bB][?]"}},
        {{"Nothing", ""}, {}},
        {{"Dots only", ". , .."}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilterPatterns(c.filter), c.patterns) << c.filter.name;
    }
}

// The patterns are written for GTK's matcher; this asks that matcher, not ours.
TEST(FileDialogs, GtkMatchesTheFilterPatternsRegardlessOfCase) {
    GtkFileFilter* filter = gtk_file_filter_new();
    g_object_ref_sink(filter);
    for (const std::string& pattern : FilterPatterns({"Frames", "qpc,ply"})) {
        gtk_file_filter_add_pattern(filter, pattern.c_str());
    }
    const auto matches = [&](const char* name) {
        GtkFileFilterInfo info{};
        info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
        info.display_name = name;
        return gtk_file_filter_filter(filter, &info) != FALSE;
    };
    EXPECT_TRUE(matches("frame_0001.qpc"));
    EXPECT_TRUE(matches("FRAME_0001.QPC"));
    EXPECT_TRUE(matches("cloud.Ply"));
    EXPECT_FALSE(matches("cloud.ply.bak"));
    EXPECT_FALSE(matches("qpc"));
    EXPECT_FALSE(matches("notes.txt"));
    g_object_unref(filter);
}

// Left to itself the chooser opens in its list of recent files, where a typed path does not
// take: every dialog starts in a folder.
TEST(FileDialogs, DialogsStartInTheFieldsFolderElseAtHome) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/orbel-dialog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    const fs::path home = root / "home";
    fs::create_directories(home);
    fs::create_directories(root / "session");
    std::ofstream(root / "session" / "alignment.qext") << "x";
    const struct {
        fs::path given;
        fs::path expected;
        const char* why;
    } cases[] = {
        {root / "session", root / "session", "a folder"},
        {root / "session" / "alignment.qext", root / "session", "a file: its folder"},
        {root / "session" / "to-be-made", root / "session", "a folder still to be made: where it goes"},
        {root / "missing" / "deeper", home, "nothing there: home"},
        {"", home, "an empty field: home"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orbel::studio::platform::StartingFolder(c.given, home), c.expected) << c.why;
    }
    EXPECT_EQ(orbel::studio::platform::StartingFolder("", root / "no-home"), fs::path()) << "no folder at all";
    fs::remove_all(root);
}

// GTK keeps its start-up state for the process, so a child tries it.
TEST(FileDialogs, InitialisationFailsWithoutADisplay) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsetenv("DISPLAY");
        // Without this GTK would try a Wayland compositor's default socket.
        setenv("GDK_BACKEND", "x11", 1);
        _exit(orbel::studio::platform::InitFileDialogs() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "InitFileDialogs reported success without a display";
}

constexpr int kNoDisplay = 10;

// The chooser waits on this thread; the end comes from another, as a signal's watcher sends
// it, once the chooser's own loop turns: while it is on screen.
int EndWhileAChooserWaits() {
    using orbel::studio::platform::EndFileDialogs;
    setenv("GSETTINGS_BACKEND", "memory", 1);  // the chooser keeps its state where no user reads it
    if (!orbel::studio::platform::InitFileDialogs()) return kNoDisplay;
    std::thread ender;
    g_idle_add(
        +[](gpointer data) -> gboolean {
            *static_cast<std::thread*>(data) = std::thread(EndFileDialogs);
            return G_SOURCE_REMOVE;
        },
        &ender);
    std::filesystem::path chosen = "untouched";
    const DialogResult answer = FileDialogs().PickFolder({}, chosen);
    if (!ender.joinable()) return 1;  // ended before the chooser was shown
    ender.join();
    if (answer != DialogResult::Cancel || chosen != "untouched") return 2;
    GList* windows = gtk_window_list_toplevels();
    bool shown = false;
    for (GList* entry = windows; entry != nullptr; entry = entry->next) {
        shown = shown || gtk_widget_get_visible(GTK_WIDGET(entry->data));
    }
    g_list_free(windows);
    if (shown) return 3;

    // From now on no dialog is asked for at all.
    auto installed = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs* scripted = installed.get();
    ReplaceFileDialogs(std::move(installed));
    if (FileDialogs().OpenFile({{"QEXT", "qext"}}, "/data", chosen) != DialogResult::Cancel) return 4;
    if (!scripted->lastFolder.empty() || chosen != "untouched") return 5;
    return 0;
}

TEST(FileDialogs, TheProgramsEndClosesTheWaitingChooserAsCancelledAndOpensNoOther) {
    const int status = InChild(EndWhileAChooserWaits);
    if (status == kNoDisplay) {
        if (std::getenv("ORBEL_REQUIRE_DISPLAY") != nullptr) FAIL() << "no display for GTK";
        GTEST_SKIP() << "no display for GTK";
    }
    EXPECT_NE(status, -1) << "the chooser stayed open";
    EXPECT_EQ(status, 0) << "1: ended before the chooser showed, 2: not cancelled, 3: a window left shown, "
                            "4/5: a dialog asked for after the end";
}

}  // namespace
