// A session with the real program, as a user goes through it (see StudioSession for the
// fixture): record five seconds of the emulator's stream from the recorder panel, replay
// them in the 3D view from the Replay tab (the folder chosen in GTK's own file chooser),
// convert them to PLY from the Converter tab, and hold every file against what the
// emulator sent: its frame numbers and, point by point, the scene it encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <orbel/emulator/PointCloudGenerator.h>

#include "gui/e2e/StudioSession.h"
#include "support/LostFrames.h"

namespace {

namespace fs = std::filesystem;
using orbel::testing::CountDifferences;
using orbel::testing::Describe;
using orbel::testing::Eventually;
using orbel::testing::FindButtons;
using orbel::testing::FindRects;
using orbel::testing::kLayout;
using orbel::testing::Rect;
using orbel::testing::Rgb;
using orbel::testing::Screenshot;
namespace theme = orbel::testing::theme;
namespace emu = orbel::emulator;

constexpr uint32_t kPointsPerLine = 192;  // the emulator's default line
constexpr uintmax_t kQpcBytes = 756'728;  // one 0x6F frame of 56 lines of 192 points
constexpr int kRecordedFrames = 100;      // five seconds at 20 frames per second
constexpr Rgb kSliderGrab{61, 133, 224};
constexpr int kCloudPixels = 5000;  // pixels of the 3D view that a frame changes, at the least

// The frame numbers of the files named <prefix>%08u<extension> in a folder; anything else
// there (a temporary file left behind, say) is returned in `strays`.
std::map<uint32_t, fs::path> NumberedFiles(const fs::path& folder, const std::string& prefix,
                                           const std::string& extension, std::vector<std::string>& strays) {
    std::map<uint32_t, fs::path> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool numbered = name.size() == prefix.size() + 8 + extension.size() && name.rfind(prefix, 0) == 0 &&
                              name.compare(prefix.size() + 8, std::string::npos, extension) == 0 &&
                              std::all_of(name.begin() + static_cast<long>(prefix.size()),
                                          name.begin() + static_cast<long>(prefix.size() + 8),
                                          [](char c) { return c >= '0' && c <= '9'; });
        if (numbered) {
            files[static_cast<uint32_t>(std::stoul(name.substr(prefix.size(), 8)))] = entry.path();
        } else {
            strays.push_back(name);
        }
    }
    return files;
}

// A binary little-endian PLY as the converter writes it, read here on its own terms: the
// frameNumber comment, the vertex count and each vertex's x, y and z.
struct PlyCloud {
    std::optional<uint32_t> frameNumber;
    std::size_t vertices = 0;
    std::vector<float> x, y, z;
};

std::optional<PlyCloud> ReadPlyCloud(const fs::path& file, std::string& why) {
    const std::string bytes = orbel::testing::ReadFile(file);
    const std::size_t headerEnd = bytes.find("end_header\n");
    if (bytes.rfind("ply\n", 0) != 0 || headerEnd == std::string::npos) {
        why = "no PLY header";
        return std::nullopt;
    }
    PlyCloud cloud;
    std::istringstream header(bytes.substr(0, headerEnd));
    std::string line;
    std::size_t stride = 0;
    std::map<std::string, std::size_t> offsets;
    bool inVertex = false;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string keyword, first, second;
        words >> keyword >> first >> second;
        if (keyword == "format" && first != "binary_little_endian") {
            why = "format " + first;
            return std::nullopt;
        } else if (keyword == "comment" && first == "frameNumber") {
            cloud.frameNumber = static_cast<uint32_t>(std::stoul(second));
        } else if (keyword == "element") {
            inVertex = first == "vertex";
            if (inVertex) cloud.vertices = std::stoul(second);
        } else if (keyword == "property" && inVertex) {
            static const std::map<std::string, std::size_t> kSizes = {
                {"char", 1},  {"uchar", 1}, {"int8", 1},  {"uint8", 1},   {"short", 2},   {"ushort", 2},
                {"int16", 2}, {"uint16", 2}, {"int", 4},  {"uint", 4},    {"float", 4},   {"int32", 4},
                {"uint32", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
            const auto size = kSizes.find(first);
            if (size == kSizes.end()) {
                why = "property type " + first;
                return std::nullopt;
            }
            offsets[second] = stride;
            stride += size->second;
        }
    }
    const std::size_t body = headerEnd + std::strlen("end_header\n");
    if (!offsets.count("x") || !offsets.count("y") || !offsets.count("z") ||
        bytes.size() < body + cloud.vertices * stride) {
        why = "no x, y, z or a short body";
        return std::nullopt;
    }
    const auto value = [&](std::size_t vertex, const char* name) {
        float v = 0.0f;
        std::memcpy(&v, bytes.data() + body + vertex * stride + offsets[name], sizeof v);
        return v;
    };
    for (std::size_t i = 0; i < cloud.vertices; ++i) {
        cloud.x.push_back(value(i, "x"));
        cloud.y.push_back(value(i, "y"));
        cloud.z.push_back(value(i, "z"));
    }
    return cloud;
}

// The little-endian float of a point array in an emulator line's payload.
float PayloadFloat(const std::vector<uint8_t>& payload, std::size_t array, std::size_t point) {
    float v = 0.0f;
    std::memcpy(&v, payload.data() + emu::payload::kPointDataOffset + (array * kPointsPerLine + point) * 4, sizeof v);
    return v;
}

class SessionsEndToEndTest : public orbel::testing::StudioSession {
protected:
    // Waits for the buttons of a panel to be as `ready` wants them (screenshot per try).
    std::vector<Rect> ButtonsWhen(const Rect& panel, const std::string& shotName, int minWidth,
                                  const std::function<bool(const std::vector<Rect>&)>& ready) {
        std::vector<Rect> buttons;
        EXPECT_TRUE(Eventually([&] { return ready(buttons = FindButtons(Capture(shotName), panel, minWidth)); }))
            << shotName << ": " << Describe(buttons);
        return buttons;
    }

    // Clicks a text field, types into it, and leaves it.
    void TypeInto(const Rect& field, const std::string& text) {
        Click(field);
        Type(text);
        MoveAway();
    }

    // The replay panel's frame slider: its grab (the one thing of that colour in the panel)
    // and the frame around it on the grab's rows, from its left to its right end.
    struct Slider {
        Rect grab;
        int left = 0;
        int right = 0;
    };
    static std::optional<Slider> FindSlider(const Screenshot& shot) {
        const std::vector<Rect> grabs = FindRects(shot, kLayout.sessionPanel, kSliderGrab, 4);
        if (grabs.size() != 1) return std::nullopt;
        const Rect rows{kLayout.sessionPanel.left, grabs.front().top, kLayout.sessionPanel.right, grabs.front().bottom};
        const std::vector<Rect> frame = FindRects(shot, rows, theme::kFrame, 4);
        if (frame.empty()) return std::nullopt;
        Slider slider{grabs.front(), std::min(grabs.front().left, frame.front().left), grabs.front().right};
        for (const Rect& part : frame) {
            slider.left = std::min(slider.left, part.left);
            slider.right = std::max(slider.right, part.right);
        }
        return slider;
    }

    // The replay panel's controls, from its buttons top to bottom: "Load session" first, the
    // row "<", "Play"/"Pause", "Reset", ">" last (between them only the rate combo's arrow).
    struct ReplayControls {
        Rect load;
        Rect previous, playPause, reset, next;
        bool PlayShown() const { return playPause.Width() < reset.Width(); }  // "Play" is a letter shorter
    };
    static std::optional<ReplayControls> FindReplayControls(const std::vector<Rect>& buttons) {
        if (buttons.empty()) return std::nullopt;
        // Narrow buttons lose their first row to the rounded corners: a row is told by centres.
        std::vector<Rect> row;
        for (const Rect& button : buttons) {
            if (std::abs(button.CentreY() - buttons.back().CentreY()) <= 3) row.push_back(button);
        }
        if (row.size() != 4 || buttons.size() < 5) return std::nullopt;
        std::sort(row.begin(), row.end(), [](const Rect& a, const Rect& b) { return a.left < b.left; });
        return ReplayControls{buttons.front(), row[0], row[1], row[2], row[3]};
    }
};

TEST_F(SessionsEndToEndTest, RecordReplayAndConvertWhatTheEmulatorSent) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    const Screenshot empty = Capture("00-empty");  // the 3D view's grid and axes alone
    ASSERT_TRUE(StartStreaming("01"));
    const fs::path session = scratch / "session";
    const fs::path converted = scratch / "converted";

    // Recorder tab: the output folder typed into its field; "Start recording" below it is
    // enabled once the field holds a folder and frames arrive.
    const std::vector<Rect> recorderFields =
        FindRects(Capture("02-recorder"), kLayout.sessionPanel, theme::kFrame, 200);
    ASSERT_EQ(recorderFields.size(), 1u) << Describe(recorderFields);
    TypeInto(recorderFields.front(), session.string());
    std::vector<Rect> buttons =
        ButtonsWhen(kLayout.sessionPanel, "03-folder-typed", 40, [](const auto& b) { return b.size() == 2; });
    ASSERT_EQ(buttons.size(), 2u);
    const Rect recordButton = buttons.back();
    Click(recordButton);
    ASSERT_TRUE(WaitForLog("Sensor recording started")) << Log();
    // Every frame streamed from here on reaches the recorder: it subscribed before the log line.
    const uint32_t lastBefore = emulator.LastStreamedFrameNumber().value_or(0);
    const uint64_t streamedBefore = emulator.StreamedFrames();
    MoveAway();
    ASSERT_TRUE(emulator.WaitForStreamedFrames(streamedBefore + kRecordedFrames, orbel::testing::kStepDeadline));
    Shoot("04-recording");
    const uint32_t lastWhileRecording = emulator.LastStreamedFrameNumber().value_or(0);
    Click(recordButton);  // now "Stop recording"
    ASSERT_TRUE(WaitForLog("Recording stopped")) << Log();
    const uint32_t lastAfter = emulator.LastStreamedFrameNumber().value_or(0);
    MoveAway();

    // One QPC file per frame, consecutive, none lost, none beyond what the emulator sent, each
    // 56 lines of 192 points of type 0x6F; no temporary file left behind.
    std::vector<std::string> strays;
    const std::map<uint32_t, fs::path> qpc = NumberedFiles(session / "frames_qpc", "frame_", ".qpc", strays);
    EXPECT_TRUE(strays.empty()) << strays.front();
    ASSERT_FALSE(qpc.empty()) << Log();
    const uint32_t first = qpc.begin()->first;
    const uint32_t last = qpc.rbegin()->first;
    // A machine too loaded to take the lines in as fast as they come loses some (the SDK's
    // buffer is bounded): a frame lost so is named in the log, never missing in silence.
    const std::string programLog = Log();
    size_t told = 0;
    for (uint32_t frame = first; frame <= last; ++frame) {
        if (qpc.count(frame) != 0) continue;
        EXPECT_TRUE(orbel::testing::LogNamesFrameLost(programLog, frame))
            << "frame " << frame << " is missing without a word";
        ++told;
    }
    EXPECT_LE(first, lastBefore + 1) << "frames streamed while recording are missing at the start";
    EXPECT_LE(last, lastAfter) << "a frame the emulator never sent";
    // The program may still be a few frames behind the emulator when "Stop" is pressed.
    EXPECT_GE(last + 10, lastWhileRecording) << "frames streamed while recording are missing at the end";
    EXPECT_GE(qpc.size() + told, static_cast<std::size_t>(kRecordedFrames) - 10);
    for (const auto& [frame, file] : qpc) {
        EXPECT_EQ(fs::file_size(file), kQpcBytes) << file;
    }

    // Replay tab (loading needs the stream stopped): the session's folder is typed into the
    // panel's field, which the file chooser opens in; there Ctrl+L takes the path again.
    ASSERT_TRUE(StopStreaming("05"));
    std::vector<Rect> tabs;
    ASSERT_TRUE(Eventually([&] {
        return (tabs = FindRects(Capture("06-stopped"), kLayout.sessionPanel, theme::kTab, 20)).size() == 2;
    })) << Describe(tabs);
    Click(tabs.front());  // "Replay"; "Recorder" is the selected tab
    MoveAway();
    std::optional<ReplayControls> controls;
    ButtonsWhen(kLayout.sessionPanel, "07-replay", 12,
                [&](const auto& b) { return (controls = FindReplayControls(b)).has_value(); });
    ASSERT_TRUE(controls);
    const std::vector<Rect> replayFields =
        FindRects(Capture("07-replay"), kLayout.sessionPanel, theme::kFrame, 200);
    ASSERT_FALSE(replayFields.empty());
    TypeInto(replayFields.front(), session.string());
    const std::size_t logBeforeLoad = Log().size();
    ClickOpeningDialog(controls->load);
    const std::optional<unsigned long> chooser = WaitForWindow("Select Folder");
    ASSERT_TRUE(chooser) << "no file chooser";
    KeyIn(*chooser, "ctrl+l");
    TypeIn(*chooser, session.string());
    Shoot("08-chooser");
    // "_Select" by its mnemonic: Return may first take the entry's completion instead. What
    // the completion appends ("/", or "/frames_qpc/") still names this session.
    KeyIn(*chooser, "alt+s");
    ASSERT_TRUE(Eventually([&] { return !FindWindow("Select Folder"); })) << "the file chooser stayed open";
    MoveAway();

    // Loaded: the play button reads "Play", the frame slider appears with its grab at the
    // left ("Frame 1 / N") and the 3D view shows the first frame, which the log names as a
    // live frame is named. A click on the slider seeks and the 3D view shows another frame;
    // Play runs on to the last file: "Play" is back and the grab stands at the slider's right
    // end ("Frame N / N").
    std::optional<Slider> slider;
    int cloud = 0;
    const Screenshot loaded = [&] {
        std::optional<Screenshot> shot;
        EXPECT_TRUE(Eventually([&] {
            shot = Capture("09-loaded");
            controls = FindReplayControls(FindButtons(*shot, kLayout.sessionPanel, 12));
            slider = FindSlider(*shot);
            cloud = CountDifferences(empty, *shot, kLayout.view3D);
            return controls && controls->PlayShown() && slider && cloud > kCloudPixels;
        })) << "no session shown: " << cloud << " pixels of the 3D view show more than the grid\n" << Log();
        return std::move(*shot);
    }();
    ASSERT_TRUE(controls && slider);
    EXPECT_EQ(LogLineAfter("Frames arriving: frame ", logBeforeLoad),
              std::to_string(first) + ", 56 lines of " + std::to_string(kPointsPerLine) + " points");
    EXPECT_LE(slider->grab.left, slider->left + 4) << "not on the first frame";
    // The box sweeps to and fro, so some frames look like the first: the seek goes near the
    // right end, to a frame whose box stands well away from where it stood in the first.
    const auto boxFromFirst = [&](uint32_t index) {
        return std::abs(emu::PointCloudGenerator::BoxCentreY_mm(std::next(qpc.begin(), index)->first) -
                        emu::PointCloudGenerator::BoxCentreY_mm(first));
    };
    const auto files = static_cast<uint32_t>(qpc.size());
    uint32_t target = files * 9 / 10;
    for (const uint32_t candidate : {files * 3 / 4, files / 2}) {
        if (boxFromFirst(candidate) > boxFromFirst(target)) target = candidate;
    }
    ASSERT_GT(boxFromFirst(target), 1000.0);
    Click(slider->left + (slider->right - slider->left) * static_cast<int>(target) / static_cast<int>(files - 1),
          slider->grab.CentreY());
    MoveAway();
    EXPECT_TRUE(Eventually([&] { return CountDifferences(loaded, Capture("10-sought"), kLayout.view3D) > 200; }))
        << "the 3D view did not follow the slider";
    Click(controls->playPause);
    MoveAway();
    std::optional<Slider> played;
    EXPECT_TRUE(Eventually(
        [&] {
            const Screenshot shot = Capture("11-played");
            controls = FindReplayControls(FindButtons(shot, kLayout.sessionPanel, 12));
            played = FindSlider(shot);
            return controls && controls->PlayShown() && played && played->grab.right + 4 >= slider->right;
        },
        orbel::testing::kStepDeadline))
        << "the play did not end on the last frame";

    // Converter tab (the toolbox's first): the session in, a folder out, PLY (the first
    // format); "Start conversion" is enabled once both folders are there.
    const std::vector<Rect> converterFields =
        FindRects(Capture("12-converter"), kLayout.toolboxPanel, theme::kFrame, 200);
    ASSERT_EQ(converterFields.size(), 2u) << Describe(converterFields);
    TypeInto(converterFields[0], session.string());
    TypeInto(converterFields[1], converted.string());
    buttons = ButtonsWhen(kLayout.toolboxPanel, "13-folders-typed", 40, [](const auto& b) { return b.size() == 3; });
    ASSERT_EQ(buttons.size(), 3u);
    Click(buttons.back());
    MoveAway();
    ASSERT_TRUE(WaitForLog("Conversion completed")) << Log();
    EXPECT_TRUE(LogHas("Conversion completed successfully")) << Log();
    // The conversion left the replayed session loaded, on its last frame, and in the 3D view.
    const Screenshot convertedShot = Capture("14-converted");
    const std::optional<Slider> after = FindSlider(convertedShot);
    EXPECT_TRUE(after && after->grab.right + 4 >= slider->right) << "the session was unloaded";
    EXPECT_GT(CountDifferences(empty, convertedShot, kLayout.view3D), kCloudPixels);

    // One PLY per QPC file, under the same frame number, with 56 x 192 vertices that are,
    // point by point, the ones the emulator encoded for that frame.
    strays.clear();
    const std::map<uint32_t, fs::path> ply = NumberedFiles(converted / "frames_ply", "frame_", ".ply", strays);
    EXPECT_TRUE(strays.empty()) << strays.front();
    ASSERT_EQ(ply.size(), qpc.size());
    const emu::PointCloudGenerator generator(kPointsPerLine, emu::PointType::Extended);
    for (const auto& [frame, file] : ply) {
        ASSERT_TRUE(qpc.count(frame)) << file;
        std::string why;
        const std::optional<PlyCloud> cloud = ReadPlyCloud(file, why);
        ASSERT_TRUE(cloud) << file << ": " << why;
        EXPECT_EQ(cloud->frameNumber, frame) << file;
        ASSERT_EQ(cloud->vertices, std::size_t{emu::kLinesPerFrame} * kPointsPerLine) << file;
        int mismatches = 0;
        for (uint8_t line = 0; line < emu::kLinesPerFrame; ++line) {
            const std::vector<uint8_t> sent = generator.MakeLine({frame, line});
            for (std::size_t p = 0; p < kPointsPerLine; ++p) {
                const std::size_t v = line * kPointsPerLine + p;
                mismatches += cloud->x[v] != PayloadFloat(sent, 1, p) || cloud->y[v] != PayloadFloat(sent, 2, p) ||
                              cloud->z[v] != PayloadFloat(sent, 3, p);
            }
        }
        EXPECT_EQ(mismatches, 0) << file << " differs from what the emulator sent for frame " << frame;
    }

    EXPECT_EQ(CloseStudio(), 0);
    const std::string log = Log();
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
}

// A recording ends with its stream whichever tab is shown: here the "Replay" tab. The next
// stream is not written into the session (each recording holds one stream).
TEST_F(SessionsEndToEndTest, ARecordingEndsWithItsStreamWhileTheReplayTabIsShown) {
    WriteSettings();
    StartStudio();
    ASSERT_TRUE(WaitForMainWindow()) << Log();
    ASSERT_TRUE(StartStreaming("01"));
    const fs::path session = scratch / "session";
    const std::vector<Rect> fields = FindRects(Capture("02-recorder"), kLayout.sessionPanel, theme::kFrame, 200);
    ASSERT_EQ(fields.size(), 1u) << Describe(fields);
    TypeInto(fields.front(), session.string());
    const std::vector<Rect> buttons =
        ButtonsWhen(kLayout.sessionPanel, "03-folder-typed", 40, [](const auto& b) { return b.size() == 2; });
    ASSERT_EQ(buttons.size(), 2u);
    Click(buttons.back());
    ASSERT_TRUE(WaitForLog("Sensor recording started")) << Log();
    MoveAway();
    std::vector<Rect> tabs;
    ASSERT_TRUE(Eventually([&] {
        return (tabs = FindRects(Capture("04-recording"), kLayout.sessionPanel, theme::kTab, 20)).size() == 2;
    })) << Describe(tabs);
    Click(tabs.front());  // "Replay"
    MoveAway();
    ASSERT_TRUE(emulator.WaitForStreamedFrames(emulator.StreamedFrames() + 20, orbel::testing::kStepDeadline));

    ASSERT_TRUE(StopStreaming("05"));
    ASSERT_TRUE(WaitForLog("Recording stopped")) << "the recording outlived its stream\n" << Log();
    std::vector<std::string> strays;
    const std::size_t recorded = NumberedFiles(session / "frames_qpc", "frame_", ".qpc", strays).size();
    ASSERT_GT(recorded, 0u) << Log();

    ASSERT_TRUE(StartStreaming("06"));
    ASSERT_TRUE(emulator.WaitForStreamedFrames(emulator.StreamedFrames() + 20, orbel::testing::kStepDeadline));
    ASSERT_TRUE(StopStreaming("07"));
    EXPECT_EQ(NumberedFiles(session / "frames_qpc", "frame_", ".qpc", strays).size(), recorded)
        << "the second stream went into the first session";
    EXPECT_EQ(CloseStudio(), 0);
}

}  // namespace
