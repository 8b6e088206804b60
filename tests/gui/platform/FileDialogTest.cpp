// The file-dialog seam: what callers get without GTK, a test's double in its place, the
// filters as GTK's own matcher applies them, and start-up without a display. The chooser
// itself waits for a person and is not driven here.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtk/gtk.h>

#include "platform/FileDialog.h"

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

}  // namespace
