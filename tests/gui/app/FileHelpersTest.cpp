// File kinds, the application-data folder rules (driven by this process's
// environment), folder creation, session folder layouts and frame-file listings,
// each against a scratch folder of its own.
#include "app/FileHelpers.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orbel-files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path Touch(const fs::path& relative) {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path;
    }
    fs::path Folder(const fs::path& relative) {
        fs::create_directories(root_ / relative);
        return root_ / relative;
    }

    fs::path root_;
};

std::vector<fs::path> Sorted(std::vector<fs::path> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string ErrorText(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

TEST(FileType, ExtensionOfEveryType) {
    const std::pair<int, const char*> cases[] = {{0, "ply"}, {1, "pcd"}, {2, "png"}, {3, "csv"},
                                                 {4, "qpc"}, {5, "jpg"}, {6, ""},    {7, ""}};
    for (const auto& [type, extension] : cases) {
        EXPECT_EQ(FileTypeToExtension(static_cast<FileType>(type)), extension) << type;
    }
}

TEST(FileType, FromExtensionIgnoresCaseAndOneLeadingDot) {
    const std::pair<const char*, FileType> cases[] = {
        {"ply", FileType::Ply},     {".pcd", FileType::Pcd},     {"PNG", FileType::Png},
        {"Csv", FileType::Csv},     {".QPC", FileType::Qpc},     {"jpg", FileType::Jpg},
        {".JPEG", FileType::Jpg},   {"jpeg", FileType::Jpg},     {"Jpg", FileType::Jpg},
        {"", FileType::Unknown},    {".", FileType::Unknown},    {"tiff", FileType::Unknown},
        {"..ply", FileType::Unknown}, {"ply ", FileType::Unknown},
    };
    for (const auto& [text, type] : cases) {
        EXPECT_EQ(FileTypeFromExtension(text), type) << '"' << text << '"';
    }
}

// Each case sets the variables it names and clears the others; the process's own
// values come back afterwards.
class AppDataFolder : public ScratchFolder {
protected:
    static constexpr const char* kVariables[] = {"LOCALAPPDATA", "APPDATA", "XDG_DATA_HOME", "HOME"};

    void SetUp() override {
        ScratchFolder::SetUp();
        for (const char* name : kVariables) {
            const char* value = getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        ScratchFolder::TearDown();
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(AppDataFolder, FirstUsableVariableWins) {
    const fs::path local = root_ / "local";
    const fs::path roaming = root_ / "roaming";
    const fs::path xdg = root_ / "xdg";
    const fs::path home = root_ / "home";
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::string>> set;
        fs::path expectedBase;
    };
    const Case cases[] = {
        {"LOCALAPPDATA first", {{"LOCALAPPDATA", local}, {"APPDATA", roaming}, {"XDG_DATA_HOME", xdg}}, local},
        {"empty LOCALAPPDATA", {{"LOCALAPPDATA", ""}, {"APPDATA", roaming}, {"XDG_DATA_HOME", xdg}}, roaming},
        {"XDG_DATA_HOME", {{"XDG_DATA_HOME", xdg}, {"HOME", home}}, xdg},
        {"HOME", {{"XDG_DATA_HOME", ""}, {"HOME", home}}, home / ".local" / "share"},
        {"relative values skipped", {{"LOCALAPPDATA", "rel"}, {"XDG_DATA_HOME", "rel/xdg"}, {"HOME", home}},
         home / ".local" / "share"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : kVariables) {
            unsetenv(name);
        }
        for (const auto& [name, value] : c.set) {
            setenv(name, value.c_str(), 1);
        }
        const fs::path expected = c.expectedBase / "Velmorant" / "OrbelStudio";
        EXPECT_EQ(AppDataDir(), expected);
        EXPECT_TRUE(fs::is_directory(expected / "dumps"));
    }
}

TEST_F(AppDataFolder, NothingUsableFailsInsteadOfUsingTheWorkingFolder) {
    const fs::path previous = fs::current_path();
    fs::current_path(Folder("cwd"));
    setenv("APPDATA", "", 1);
    setenv("XDG_DATA_HOME", "relative", 1);
    EXPECT_THROW(AppDataDir(), fs::filesystem_error);
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
    fs::current_path(previous);
}

TEST_F(AppDataFolder, FolderThatCannotBeCreatedThrows) {
    setenv("XDG_DATA_HOME", Touch("not-a-folder").c_str(), 1);
    EXPECT_THROW(AppDataDir(), fs::filesystem_error);
}

TEST_F(AppDataFolder, RelativeOutputFoldersGoUnderTheHomeFolder) {
    const fs::path home = root_ / "home";
    setenv("HOME", home.c_str(), 1);
    const std::pair<fs::path, fs::path> cases[] = {
        {"relrec", home / "relrec"},
        {"a/./b/../c", home / "a" / "c"},
        {"~/rec", home / "~" / "rec"},  // "~" is a name like any other
    };
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(ResolveOutputFolder(typed), expected) << typed;
    }
    EXPECT_EQ(ErrorText([] { ResolveOutputFolder(""); }), "No output folder given");

    const std::string homeless = "The output folder relrec is relative and there is no home folder to put it in";
    setenv("HOME", "relative/home", 1);
    EXPECT_EQ(ErrorText([] { ResolveOutputFolder("relrec"); }), homeless);
    unsetenv("HOME");
    EXPECT_EQ(ErrorText([] { ResolveOutputFolder("relrec"); }), homeless);
    EXPECT_EQ(ResolveOutputFolder(root_ / "abs"), root_ / "abs");
}

TEST_F(ScratchFolder, EnsureDirectoryCreatesParentsAndRejectsFiles) {
    const fs::path nested = root_ / "a" / "b" / "c";
    EnsureDirectory(nested);
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_NO_THROW(EnsureDirectory(nested));

    const fs::path file = Touch("plain.txt");
    EXPECT_EQ(ErrorText([&] { EnsureDirectory(file); }), "Path exists but is not a directory: " + file.string());
    EXPECT_THROW(EnsureDirectory(file / "below"), fs::filesystem_error);
}

TEST_F(ScratchFolder, SessionPathsFromAnyFolderOfASession) {
    const fs::path session = root_ / "session";
    const fs::path qpc = Folder("session/frames_qpc");
    const fs::path rgb = Folder("session/frames_rgb");
    const fs::path cameraOnly = root_ / "camera-only";
    const fs::path cameraOnlyRgb = Folder("camera-only/frames_rgb");
    // Its sub-folders kept on another drive, say, and linked in.
    const fs::path linked = Folder("linked");
    fs::create_directory_symlink(Folder("store/qpc"), linked / "frames_qpc");
    fs::create_directory_symlink(Folder("store/rgb"), linked / "frames_rgb");

    struct Case {
        const char* what;
        fs::path picked;
        SessionPaths expected;
    };
    const Case cases[] = {
        {"session folder", session, {session, qpc, rgb, true}},
        {"its frames_qpc", qpc, {session, qpc, rgb, true}},
        {"frames_qpc with a trailing separator", qpc / "", {session, qpc, rgb, true}},
        {"folder holding only frames_rgb", cameraOnly, {{}, {}, cameraOnlyRgb, false}},
        {"a frames_rgb folder", cameraOnlyRgb, {cameraOnly, {}, cameraOnlyRgb, false}},
        {"sub-folders that are links to folders", linked,
         {linked, linked / "frames_qpc", linked / "frames_rgb", true}},
        {"missing folder", root_ / "missing", {}},
        {"unrelated folder", Folder("other"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SessionPaths paths = MakeSessionPaths(c.picked);
        EXPECT_EQ(paths.root, c.expected.root);
        EXPECT_EQ(paths.lidar_folder, c.expected.lidar_folder);
        EXPECT_EQ(paths.camera_folder, c.expected.camera_folder);
        EXPECT_EQ(paths.has_lidar_frames, c.expected.has_lidar_frames);
    }
}

TEST_F(ScratchFolder, SessionPathsIgnoreFilesNamedLikeTheSubFolders) {
    Touch("session/frames_qpc");
    Touch("session/frames_rgb");
    const SessionPaths paths = MakeSessionPaths(root_ / "session");
    EXPECT_TRUE(paths.root.empty());
    EXPECT_TRUE(paths.camera_folder.empty());
    EXPECT_FALSE(paths.has_lidar_frames);
}

TEST_F(ScratchFolder, MostCommonExtensionCountsDirectFilesOfKnownKinds) {
    struct Case {
        const char* what;
        std::vector<const char*> files;
        const char* expected;
    };
    const Case cases[] = {
        {"tie goes to the first text", {"1.qpc", "2.qpc", "3.qpc", "1.jpg", "2.jpg", "3.jpg"}, "jpg"},
        {"upper case counts as lower", {"1.QPC", "2.Qpc", "3.ply"}, "qpc"},
        {"sub-folders are not counted", {"1.ply", "sub/1.png", "sub/2.png", "sub/3.png"}, "ply"},
        {"jpeg counts as jpg", {"1.jpeg", "2.JPEG", "3.qpc"}, "jpg"},
        {"jpeg and jpg together", {"1.jpeg", "2.jpg", "3.csv", "4.csv"}, "csv"},
        {"unknown kinds only", {"a.txt", "b.tiff", "noextension"}, ""},
        {"empty folder", {}, ""},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = Folder("case" + std::to_string(index++));
        for (const char* file : c.files) {
            Touch(folder.filename() / file);
        }
        EXPECT_EQ(MostCommonExtension(folder), c.expected);
    }
}

TEST_F(ScratchFolder, MostCommonExtensionSkipsFoldersNamedLikeFiles) {
    Folder("f/a.qpc");
    Folder("f/b.qpc");
    Touch("f/c.ply");
    EXPECT_EQ(MostCommonExtension(root_ / "f"), "ply");
}

TEST_F(ScratchFolder, ListingsRejectMissingFoldersAndFiles) {
    const fs::path missing = root_ / "missing";
    const fs::path file = Touch("file.qpc");
    for (const auto& call : std::vector<std::function<void(const fs::path&)>>{
             [](const fs::path& p) { MostCommonExtension(p); },
             [](const fs::path& p) { ListFilesRecursive(p, "ply"); },
             [](const fs::path& p) { ListQpcFilesRecursive(p); }}) {
        EXPECT_EQ(ErrorText([&] { call(missing); }), "Folder does not exist: " + missing.string());
        EXPECT_EQ(ErrorText([&] { call(file); }), "Path is not a directory: " + file.string());
    }
}

TEST_F(ScratchFolder, ListFilesRecursiveMatchesExtensionsWhateverTheirSpelling) {
    const fs::path top = Touch("tree/a.ply");
    const fs::path upper = Touch("tree/B.PLY");
    const fs::path deep = Touch("tree/x/y/z/c.ply");
    Touch("tree/d.pcd");
    Touch("tree/x/e.ply.bak");
    Folder("tree/folder.ply");
    const std::vector<fs::path> plys{top, upper, deep};
    const fs::path tree = root_ / "tree";

    EXPECT_EQ(Sorted(ListFilesRecursive(tree, "PLY")), Sorted(plys));
    EXPECT_EQ(Sorted(ListFilesRecursive(tree, ".ply")), Sorted(plys));
    EXPECT_EQ(Sorted(ListFilesRecursive(tree, "ply")), Sorted(plys));
    EXPECT_TRUE(ListFilesRecursive(tree, "tiff").empty());
}

TEST_F(ScratchFolder, ListFilesRecursiveWithoutExtensionAndQpcShortcut) {
    const fs::path bare = Touch("tree/README");
    const fs::path qpc = Touch("tree/frames_qpc/frame_00000001.qpc");
    const fs::path qpcUpper = Touch("tree/frames_qpc/old/frame_00000002.QPC");
    Touch("tree/frames_qpc/frame_00000001.qpcx");
    EXPECT_EQ(ListFilesRecursive(root_ / "tree", ""), std::vector<fs::path>{bare});
    EXPECT_EQ(Sorted(ListQpcFilesRecursive(root_ / "tree")), Sorted({qpc, qpcUpper}));
}

TEST_F(ScratchFolder, ListFilesRecursiveDoesNotFollowFolderLinks) {
    Touch("elsewhere/outside.ply");
    const fs::path inside = Touch("tree/inside.ply");
    fs::create_directory_symlink(root_ / "elsewhere", root_ / "tree" / "link");
    EXPECT_EQ(ListFilesRecursive(root_ / "tree", ".ply"), std::vector<fs::path>{inside});
    // The folder asked for may itself be a link: it is the folder it names.
    EXPECT_EQ(ListFilesRecursive(root_ / "tree" / "link", ".ply"),
              std::vector<fs::path>{root_ / "tree" / "link" / "outside.ply"});
    EXPECT_EQ(MostCommonExtension(root_ / "tree" / "link"), "ply");
}

// What a listing cannot examine costs that entry or sub-folder only, each named once; names
// of other kinds go by without a word, and the vote on a folder's kind says nothing.
TEST_F(ScratchFolder, ListingsPassOverWhatTheyCannotExamine) {
    const fs::path top = Touch("tree/a.ply");
    const fs::path deep = Touch("tree/sub/deeper/b.ply");
    const fs::path loop1 = root_ / "tree" / "loop1.ply";
    const fs::path loop2 = root_ / "tree" / "loop2.ply";
    fs::create_symlink(loop2, loop1);
    fs::create_symlink(loop1, loop2);
    const fs::path dangling = root_ / "tree" / "sub" / "dangling.ply";
    fs::create_symlink(root_ / "tree" / "nowhere", dangling);
    const fs::path fifo = root_ / "tree" / "sub" / "deeper" / "pipe.ply";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(root_ / "tree" / "self.txt", root_ / "tree" / "self.txt");
    fs::create_directory_symlink(root_ / "tree", root_ / "tree" / "sub" / "up");  // never entered
    std::vector<std::pair<fs::path, std::string>> skipped{{loop1, "Too many levels of symbolic links"},
                                                          {loop2, "Too many levels of symbolic links"},
                                                          {dangling, "No such file or directory"},
                                                          {fifo, "not a regular file (a FIFO)"}};
    // Root reads a folder whatever its permissions say: only another user sees this one.
    const fs::path locked = root_ / "tree" / "locked";
    Touch("tree/locked/c.ply");
    struct Unlock {
        fs::path path;
        ~Unlock() { fs::permissions(path, fs::perms::owner_all, fs::perm_options::add); }
    } unlock{locked};
    fs::permissions(locked, fs::perms::none);
    std::vector<fs::path> expected{top, deep};
    if (geteuid() == 0) {
        expected.push_back(locked / "c.ply");
    } else {
        skipped.emplace_back(locked, "Permission denied");
    }

    testing::ProgramLogCapture log;
    EXPECT_EQ(Sorted(ListFilesRecursive(root_ / "tree", ".PLY")), Sorted(expected));
    for (const auto& [path, reason] : skipped) {
        EXPECT_TRUE(log.Contains("Skipped " + path.string() + ": " + reason, spdlog::level::warn)) << path;
    }
    EXPECT_EQ(log.Records().size(), skipped.size());
    EXPECT_EQ(MostCommonExtension(root_ / "tree"), "ply");
    EXPECT_EQ(log.Records().size(), skipped.size());
}

TEST(FileId, NumberAfterTheFirstUnderscoreOrNoneForAStrayName) {
    const std::pair<const char*, std::optional<uint64_t>> cases[] = {
        {"frame_00001234.qpc", 1234},
        {"image_00000012_00000000001234567890.jpg", 12},
        {"dir_1/cloud.ply", 0},  // no "_" in the name itself
        {"frame_12b.ply", 12},
        {"frame_18446744073709551615.qpc", UINT64_MAX},
        {"frame_18446744073709551616.qpc", std::nullopt},
        {"frame_abc.qpc", std::nullopt},
        {"frame_.qpc", std::nullopt},
        {"frame_-1.qpc", std::nullopt},
    };
    for (const auto& [name, id] : cases) {
        EXPECT_EQ(ExtractFileId(name), id) << name;
        // A name without "_" has file id 0 but no frame number to be ordered by.
        const bool underscore = fs::path(name).stem().string().find('_') != std::string::npos;
        EXPECT_EQ(FrameNumberInName(name), underscore ? id : std::nullopt) << name;
    }
}

}  // namespace
}  // namespace orbel::studio
