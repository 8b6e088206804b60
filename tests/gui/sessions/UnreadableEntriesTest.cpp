// Folders that hold an entry which cannot be examined or read, through the panels the user
// starts from: the replay panels load such a session and play its good frames and images,
// the converter panel converts the good frames, and the colorizer panel colours them from an
// image folder that holds the same kind of entry. The entry is named in the log in one line.
// A link to a folder, in the same place, is no fault: it is not followed and goes unnamed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <set>

#include <gtest/gtest.h>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/ColorizationSession.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/ColorizerPanel.h"
#include "sessions/ConverterPanel.h"
#include "sessions/ReplayPanel.h"
#include "support/Threads.h"

namespace orbel::studio::gui {
namespace {

using testing::Collector;
using testing::Eventually;
using testing::ProgramLogCapture;
using testing::WriteQpc;
namespace fs = std::filesystem;

enum class Entry { LinkLoop, DanglingLink, Fifo, FolderWithoutReadPermission, LinkToFolder };

struct EntryCase {
    Entry entry;
    const char* label;
    size_t namings;  // lines of the log, at warning level or worse, that name each of its paths
};

void PrintTo(const EntryCase& entryCase, std::ostream* out) { *out << entryCase.label; }

const EntryCase kCases[] = {
    {Entry::LinkLoop, "LinkLoop", 1},
    {Entry::DanglingLink, "DanglingLink", 1},
    {Entry::Fifo, "Fifo", 1},
    {Entry::FolderWithoutReadPermission, "FolderWithoutReadPermission", 1},
    {Entry::LinkToFolder, "LinkToFolder", 0},
};

std::set<std::string> FileNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class UnreadableEntries : public testing::ScratchFolder, public ::testing::WithParamInterface<EntryCase> {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        if (GetParam().entry == Entry::FolderWithoutReadPermission) {
            held_.emplace();
            const fs::path probe = root_ / "probe";
            fs::create_directories(probe);
            fs::permissions(probe, fs::perms::none);
            const bool listable = testing::Listable(probe);
            fs::permissions(probe, fs::perms::owner_all);
            if (listable) GTEST_SKIP() << "a folder without read permission can still be listed here";
        }
    }
    void TearDown() override {
        held_.reset();
        for (const fs::path& path : locked_) fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        ScratchFolder::TearDown();
    }

    // The case's entry in the folder under `name`, where `good` is a sound file of the same
    // kind; gives the paths that the log must name (or, for a link to a folder, must not).
    std::vector<fs::path> Put(const fs::path& folder, const std::string& name, const fs::path& good) {
        const fs::path path = folder / name;
        switch (GetParam().entry) {
            case Entry::LinkLoop: {
                const fs::path partner = folder / ("loop_" + name);  // path -> partner -> path
                fs::create_symlink(partner, path);
                fs::create_symlink(path, partner);
                return {path, partner};
            }
            case Entry::DanglingLink: fs::create_symlink(folder / "gone", path); return {path};
            case Entry::Fifo: EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0); return {path};
            case Entry::FolderWithoutReadPermission:
                fs::create_directories(folder / "locked");
                fs::copy_file(good, folder / "locked" / name);
                fs::permissions(folder / "locked", fs::perms::none);
                locked_.push_back(folder / "locked");
                return {folder / "locked"};
            case Entry::LinkToFolder: {
                // Beside the listed folder, so that only a followed link would reach the file.
                const fs::path target = folder.parent_path() / ("linked_" + folder.filename().string());
                fs::create_directories(target);
                fs::copy_file(good, target / name);
                fs::create_directory_symlink(target, path);
                return {path};
            }
        }
        return {};
    }

    // Every path is named in as many lines, at warning level or worse, as the case says.
    static void ExpectNamedOnce(const ProgramLogCapture& log, const std::vector<fs::path>& paths) {
        const auto records = log.Records();
        for (const fs::path& path : paths) {
            std::string lines;
            size_t namings = 0;
            for (const auto& record : records) {
                if (record.level >= spdlog::level::warn && record.text.find(path.string()) != std::string::npos) {
                    ++namings;
                    lines += "\n  " + record.text;
                }
            }
            EXPECT_EQ(namings, GetParam().namings) << path << " is named in:" << lines;
        }
    }

    std::shared_ptr<AppState> state_ = std::make_shared<AppState>();

private:
    std::optional<testing::HeldToPermissionBits> held_;  // root too cannot list a locked folder
    std::vector<fs::path> locked_;  // given their permissions back before the folder goes
};

TEST_P(UnreadableEntries, ReplayPlaysTheRestOfTheSession) {
    const fs::path frames = root_ / "session" / "frames_qpc";
    const fs::path images = root_ / "session" / "frames_rgb";
    WriteQpc(frames / "frame_00000000.qpc", 0x60, 2, 0);
    WriteQpc(frames / "frame_00000002.qpc", 0x60, 2, 2);
    fs::create_directories(images);
    for (uint32_t id : {0u, 2u}) {
        testing::RgbImage(id, 1000 + id, 4, 2)
            ->SaveAsJpeg(images / ("image_0000000" + std::to_string(id) + "_00000000000000001000.jpg"), 90, false);
    }
    std::vector<fs::path> named = Put(frames, "frame_00000001.qpc", frames / "frame_00000000.qpc");
    for (const fs::path& path : Put(images, "image_00000001_00000000000000001000.jpg",
                                    images / "image_00000000_00000000000000001000.jpg")) {
        named.push_back(path);
    }

    ProgramLogCapture log;
    auto dispatcher = std::make_shared<ObjectDispatcher>();
    Collector<FrameData> shown;
    Collector<CameraData> shownImages;
    dispatcher->Subscribe<FrameData>(&shown);
    dispatcher->Subscribe<CameraData>(&shownImages);
    ReplayPanel lidar(0);
    ReplayPanel camera(1);
    for (ReplayPanel* panel : {&lidar, &camera}) {
        panel->SetDispatcher(dispatcher);
        dispatcher->Subscribe<AppAction>(panel);
    }
    lidar.SetFolder((root_ / "session").string());
    lidar.LoadSession(state_);
    camera.Update(state_);  // the camera panel loads the session's images on its next draw
    ASSERT_NE(lidar.Player(), nullptr);
    ASSERT_NE(camera.Player(), nullptr);
    EXPECT_FALSE(state_->PendingToast().has_value()) << state_->PendingToast()->text;

    lidar.PressPlay();
    camera.PressPlay();
    ASSERT_TRUE(Eventually([&] { return !lidar.Player()->IsPlaying() && !camera.Player()->IsPlaying(); }));
    std::set<std::string> frameNames;
    for (const auto& frame : shown.Messages()) frameNames.insert(frame->sourceName);
    EXPECT_EQ(frameNames, (std::set<std::string>{"frame_00000000.qpc", "frame_00000002.qpc"}));
    std::set<uint32_t> imageIds;
    for (const auto& image : shownImages.Messages()) imageIds.insert(image->imageFrameNumber);
    EXPECT_EQ(imageIds, (std::set<uint32_t>{0, 2}));
    ExpectNamedOnce(log, named);
    for (ReplayPanel* panel : {&lidar, &camera}) dispatcher->Unsubscribe<AppAction>(panel);
}

TEST_P(UnreadableEntries, ConverterConvertsTheRest) {
    const fs::path input = root_ / "in";
    WriteQpc(input / "frame_00000000.qpc", 0x60, 2, 0);
    WriteQpc(input / "sub" / "frame_00000002.qpc", 0x60, 2, 2);
    const std::vector<fs::path> named = Put(input, "frame_00000001.qpc", input / "frame_00000000.qpc");

    ProgramLogCapture log;
    ConverterPanel panel;
    panel.SetInputFolder(input.string());
    panel.SetOutputFolder((root_ / "out").string());
    panel.PressButton(state_);  // PLY
    panel.WaitForConversion();
    ASSERT_TRUE(state_->PendingToast().has_value());
    EXPECT_NE(state_->PendingToast()->text, "Failed to convert data");
    EXPECT_EQ(FileNames(root_ / "out" / "frames_ply"),
              (std::set<std::string>{"frame_00000000.ply", "frame_00000002.ply"}));
    ExpectNamedOnce(log, named);
}

TEST_P(UnreadableEntries, ColorizerColoursTheRest) {
    testing::ColorizationSession session(root_);
    const fs::path frame = session.AddFrame(1, 1'000'000);
    session.AddFrame(2, 2'000'000);
    const fs::path image = session.AddImage(1, 1'000'000, 60);
    session.AddImage(2, 2'000'000, 90);
    std::vector<fs::path> named = Put(session.clouds, "frame_00000003.qpc", frame);
    for (const fs::path& path : Put(session.images, "image_00000003_00000000000003000000.jpg", image)) {
        named.push_back(path);
    }

    ProgramLogCapture log;
    ColorizerPanel panel;
    const std::pair<ColorizerPanel::Field, fs::path> fields[] = {{ColorizerPanel::kPointCloudFolder, session.clouds},
                                                                 {ColorizerPanel::kImageFolder, session.images},
                                                                 {ColorizerPanel::kQextFile, session.qext},
                                                                 {ColorizerPanel::kOutputFolder, session.output}};
    for (const auto& [field, path] : fields) {
        std::strncpy(panel.Buffer(field), path.c_str(), ColorizerPanel::kBufferSize - 1);
    }
    panel.PressButton(state_);
    state_->tasks[AppState::kProcessingTaskSlot].wait();
    ASSERT_TRUE(state_->PendingToast().has_value());
    EXPECT_EQ(state_->PendingToast()->text, "Colorization completed: 2 frames coloured");
    EXPECT_EQ(FileNames(session.output), (std::set<std::string>{"frame_00000001.qpc", "frame_00000002.qpc"}));
    ExpectNamedOnce(log, named);
}

INSTANTIATE_TEST_SUITE_P(Entries, UnreadableEntries, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace orbel::studio::gui
