// Offline colorization of a session made by the test: every point takes the colour of its
// pixel in the right image, in time-stamp mode and with a sync file; the sync file's
// reading, and sync paths that name no file or something else; the progress figures; the
// runs that end early and why; outputs that never replace an input or each other; a failed
// write; memory bounded on 1,000 frames.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <set>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/ColorizationSession.h"
#include "sessions/ColorizationAdapters.h"
#include "sessions/ColorizerSDK.h"
#include "sessions/OfflinePlayer.h"
#include "sessions/PlyFile.h"

namespace {

using orbel::studio::ColorizeOutcome;
using orbel::studio::ColorizerSDK;
using orbel::studio::QpcFrameColorizable;
using orbel::studio::SyncPair;
using orbel::testing::ColorizationSession;
using orbel::testing::Pixel;
using orbel::testing::ProgramLogCapture;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Checks that every point of a written frame has its pixel's colour in `image`, and that
// every line kept its own metadata (index, time stamps) as the session wrote it.
void ExpectColouredFrom(const fs::path& written, const fs::path& image, uint32_t frame, uint64_t time_us,
                        uint32_t points = 4) {
    std::unique_ptr<QpcFrameColorizable> read;
    ASSERT_NO_THROW(read = QpcFrameColorizable::Read(written)) << written;
    ASSERT_EQ(read->Lines().size(), 56u);
    for (uint32_t l = 0; l < 56; ++l) {
        auto& line = *read->Lines()[l];
        EXPECT_EQ(line.GetMetadata().lineIndex, l);
        EXPECT_EQ(line.GetMetadata().frameNumber, frame);
        EXPECT_EQ(line.GetTimestamp(), time_us + l) << "line " << l << " of " << written;
        EXPECT_EQ(line.GetAlternateTimestamp(), 7000u + l);
        const auto& colours = line.GetColors();
        ASSERT_EQ(colours.size(), points);
        for (uint32_t p = 0; p < points; ++p) {
            const auto expected = ColorizationSession::DecodedColour(image, ColorizationSession::PixelOf(l, p));
            EXPECT_EQ((std::array<uint8_t, 3>{colours[p].r, colours[p].g, colours[p].b}), expected)
                << written << " line " << l << " point " << p;
        }
    }
}

class OfflineColorization : public orbel::testing::ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        session = std::make_unique<ColorizationSession>(root_);
    }

    ColorizeOutcome Run(const fs::path& sync = {}, ColorizerSDK* sdk = nullptr) {
        ColorizerSDK own;
        ColorizerSDK& colorizer = sdk ? *sdk : own;
        progress.clear();
        return colorizer.Colorize(session->clouds, session->images, session->qext, sync, session->output,
                                  [this](size_t done, size_t total) {
                                      EXPECT_EQ(total, 100u);
                                      progress.push_back(done);
                                  });
    }

    std::set<std::string> Outputs() const {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(session->output, error)) names.insert(entry.path().filename());
        return names;
    }

    ProgramLogCapture log;
    std::unique_ptr<ColorizationSession> session;
    std::vector<size_t> progress;
};

TEST_F(OfflineColorization, TimeStampsColourEveryPointFromTheNearestImage) {
    std::vector<fs::path> images;
    for (uint32_t f = 0; f < 5; ++f) {
        session->AddFrame(f + 1, 1'000'000 + 100'000 * f);
        // Images 30 ms after their frame, and decoys 60 ms after it (40 ms before the next).
        images.push_back(session->AddImage(f, 1'030'000 + 100'000 * f, static_cast<uint8_t>(20 + 40 * f)));
        session->AddImage(100 + f, 1'060'000 + 100'000 * f, 250);
    }
    EXPECT_EQ(Run(), ColorizeOutcome::Completed);
    EXPECT_TRUE(log.Contains("[Colorizer] Timestamp colorization completed: 5 frames coloured", spdlog::level::info));
    ASSERT_EQ(Outputs().size(), 5u);
    for (uint32_t f = 0; f < 5; ++f) {
        ExpectColouredFrom(session->output / ColorizationSession::FrameName(f + 1), images[f], f + 1,
                           1'000'000 + 100'000 * f);
    }
    EXPECT_EQ(progress.back(), 100u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(OfflineColorization, SyncFileColoursEachFrameFromItsImageAndDecodesEachImageOnce) {
    const fs::path a = session->AddImage(11, 5'000'000, 60);
    const fs::path b = session->AddImage(12, 9'000'000, 200);
    session->AddFrame(1, 1'000'000);
    session->AddFrame(2, 2'000'000);
    session->AddFrame(3, 3'000'000);
    const fs::path sync = session->clouds.parent_path() / "sync.txt";
    orbel::testing::WriteText(sync, "cloud image\n1 12\r\n2 11 trailing words\n3 12\n");

    std::map<fs::path, int> decodes;
    ColorizerSDK sdk([&](const fs::path& path) {
        ++decodes[path];
        return orbel::studio::LoadCameraImage(path);
    });
    EXPECT_EQ(Run(sync, &sdk), ColorizeOutcome::Completed);
    EXPECT_TRUE(log.Contains("[Colorizer] Sync colorization completed: 3 frames coloured", spdlog::level::info));
    ExpectColouredFrom(session->output / ColorizationSession::FrameName(1), b, 1, 1'000'000);
    ExpectColouredFrom(session->output / ColorizationSession::FrameName(2), a, 2, 2'000'000);
    ExpectColouredFrom(session->output / ColorizationSession::FrameName(3), b, 3, 3'000'000);
    EXPECT_EQ(decodes[b], 1);
    EXPECT_EQ(decodes[a], 1);
    EXPECT_EQ(progress, (std::vector<size_t>{33, 66, 100}));
}

TEST_F(OfflineColorization, SyncPairsThatCannotBeUsedAreSkippedWithTheirReason) {
    session->AddImage(11, 5'000'000, 60);
    fs::path broken = session->images / "image_00000013_00000000000006000000.jpg";
    orbel::testing::WriteText(broken, "not a jpeg");
    session->AddFrame(1, 1'000'000);
    session->AddFrame(2, 2'000'000, 4, "frame_abc.qpc");  // a stray name: no id
    const fs::path sync = session->clouds.parent_path() / "sync.txt";
    orbel::testing::WriteText(sync, "header\n9 11\n1 99\n1 13\nnot numbers\n\n1 11\n");

    EXPECT_EQ(Run(sync), ColorizeOutcome::Completed);
    EXPECT_EQ(log.Count("[Colorizer] Missing point cloud id 9", spdlog::level::warn), 1u);
    EXPECT_EQ(log.Count("[Colorizer] Missing image id 99", spdlog::level::warn), 1u);
    EXPECT_EQ(log.Count("[Colorizer] Invalid image: " + broken.string(), spdlog::level::warn), 1u);
    EXPECT_EQ(log.Count("[Colorizer] Skipping a file without an id in its name: " +
                            (session->clouds / "frame_abc.qpc").string(),
                        spdlog::level::warn),
              1u);
    EXPECT_EQ(Outputs(), (std::set<std::string>{ColorizationSession::FrameName(1)}));
    EXPECT_EQ(progress, (std::vector<size_t>{25, 50, 75, 100}));
    EXPECT_TRUE(log.Contains("[Colorizer] Sync colorization completed: 1 frame coloured, 3 sync pairs skipped",
                             spdlog::level::info));
}

// A name without "_" has id 0, as frame_00000000 has. Of two files with one id the one listed
// last is used: the last in the folder walk, and ".jpeg" images are listed after ".jpg" ones.
TEST_F(OfflineColorization, SyncIdsOfFilesWithoutANumberAndOfFilesSharingOne) {
    session->AddImage(11, 5'000'000, 60);
    const fs::path jpeg = session->AddImage(11, 6'000'000, 200, "image_00000011_00000000000006000000.jpeg");
    const fs::path snapshot = session->AddImage(99, 7'000'000, 120, "snapshot.jpg");
    session->AddFrame(3, 3'000'000, 4, "frame.qpc");
    session->AddFrame(4, 4'000'000, 4, "frame_00000000.qpc");
    session->AddFrame(5, 5'000'000);
    const fs::path sync = session->clouds.parent_path() / "sync.txt";
    orbel::testing::WriteText(sync, "cloud image\n0 11\n5 0\n");

    EXPECT_EQ(Run(sync), ColorizeOutcome::Completed);
    std::vector<fs::path> listed = orbel::studio::ListFilesRecursive(session->clouds, ".qpc");
    listed.erase(std::remove(listed.begin(), listed.end(), session->clouds / ColorizationSession::FrameName(5)),
                 listed.end());
    ASSERT_EQ(listed.size(), 2u);
    const fs::path zero = listed.back();
    EXPECT_EQ(Outputs(), (std::set<std::string>{zero.filename(), ColorizationSession::FrameName(5)}));
    const bool bare = zero.filename() == "frame.qpc";
    ExpectColouredFrom(session->output / zero.filename(), jpeg, bare ? 3 : 4, bare ? 3'000'000 : 4'000'000);
    ExpectColouredFrom(session->output / ColorizationSession::FrameName(5), snapshot, 5, 5'000'000);
}

TEST(SyncFile, ParsesPairsAfterTheHeader) {
    struct Case {
        const char* text;
        std::vector<SyncPair> pairs;
    };
    const Case cases[] = {
        {"", {}},
        {"1 2\n", {}},  // the first line is the header whatever it holds
        {"h\n1 2", {{1, 2}}},
        {"h\r\n 1\t2 \r\n3 4 five\n", {{1, 2}, {3, 4}}},
        {"h\n\n7\nx 1\n1 x\n-1 2\n12x 3\n18446744073709551615 0\n18446744073709551616 1\n",
         {{18446744073709551615ull, 0}}},
    };
    for (const Case& c : cases) EXPECT_EQ(orbel::studio::ParseSyncText(c.text), c.pairs) << c.text;
}

TEST_F(OfflineColorization, HeaderOnlySyncFileColoursNothing) {
    session->AddImage(11, 5'000'000, 60);
    session->AddFrame(1, 1'000'000);
    const fs::path sync = session->clouds.parent_path() / "sync.txt";
    orbel::testing::WriteText(sync, "cloud image\n");
    EXPECT_EQ(Run(sync), ColorizeOutcome::Failed);
    EXPECT_TRUE(log.Contains("[Colorizer] No valid sync pairs found: the sync file lists none", spdlog::level::err));
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(OfflineColorization, SyncPathThatNamesNoFileSelectsTimeStamps) {
    session->AddImage(1, 1'000'000, 60);
    session->AddFrame(1, 1'000'000);
    EXPECT_EQ(Run(session->clouds.parent_path() / "no-such-sync.txt"), ColorizeOutcome::Completed);
    EXPECT_TRUE(log.Contains("[Colorizer] Timestamp colorization completed: 1 frame coloured", spdlog::level::info));
}

// A sync path that names something other than a file fails the run with its reason, though
// the session would colour by time stamps: the user chose a sync file and gets none.
TEST_F(OfflineColorization, SyncPathThatIsNotAFileFailsTheRunWithItsReason) {
    session->AddImage(1, 1'000'000, 60);
    session->AddFrame(1, 1'000'000);
    const fs::path sync = session->clouds.parent_path() / "sync.txt";
    const struct {
        const char* kind;
        std::function<void()> make;
    } cases[] = {
        {"a folder", [&] { fs::create_directory(sync); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(sync.c_str(), 0600), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove_all(sync);
        c.make();
        auto run = std::async(std::launch::async, [&] { return Run(sync); });
        if (run.wait_for(30s) != std::future_status::ready) {
            ::close(::open(sync.c_str(), O_WRONLY | O_NONBLOCK));  // lets an open waiting on the FIFO go
            ADD_FAILURE() << "the run waited on the sync path";
        }
        EXPECT_EQ(run.get(), ColorizeOutcome::Failed);
        EXPECT_TRUE(log.Contains("[Colorizer] Cannot read sync file: Not a regular file (" + std::string(c.kind) +
                                     "): " + sync.string(),
                                 spdlog::level::err));
        EXPECT_EQ(log.Count("[Colorizer] Timestamp colorization completed", spdlog::level::info), 0u);
        EXPECT_TRUE(Outputs().empty());
    }
    fs::remove_all(sync);
}

// Four images, the second unreadable: progress after the images reads 8, 24 and 33; the
// frames then report (i + 1) x 33 / c + 33, the colouring up to 100.
TEST_F(OfflineColorization, ProgressFigures) {
    session->AddImage(1, 1'000'000, 10);
    orbel::testing::WriteText(session->images / "image_00000002_00000000000001100000.jpg", "unreadable");
    session->AddImage(3, 1'200'000, 30);
    session->AddImage(4, 1'300'000, 40);
    session->AddFrame(1, 1'000'000);
    session->AddFrame(2, 1'300'000);

    // The folder walk's order decides which file is the unreadable one's place.
    const auto listed = orbel::studio::ListFilesRecursive(session->images, ".jpg");
    const size_t brokenAt = static_cast<size_t>(
        std::find_if(listed.begin(), listed.end(),
                     [](const fs::path& p) { return p.filename().string().find("00000002") != std::string::npos; }) -
        listed.begin());
    std::vector<size_t> expectedImages;
    for (size_t k = 1; k <= 4; ++k) {
        if (k - 1 != brokenAt) expectedImages.push_back(orbel::studio::ScaleProgress(k, 4, 0, 33));
    }
    EXPECT_EQ(Run(), ColorizeOutcome::Completed);
    ASSERT_GE(progress.size(), 5u);
    EXPECT_EQ(std::vector<size_t>(progress.begin(), progress.begin() + 3), expectedImages);
    EXPECT_EQ(progress[3], 49u);  // 1 x 33 / 2 + 33
    EXPECT_EQ(progress[4], 66u);
    EXPECT_EQ(progress.back(), 100u);
    EXPECT_EQ(log.Count("[Colorizer] Invalid or unsupported image: ", spdlog::level::warn), 1u);
}

TEST(ColorizationProgress, ScaleProgress) {
    EXPECT_EQ(orbel::studio::ScaleProgress(1, 4, 0, 33), 8u);
    EXPECT_EQ(orbel::studio::ScaleProgress(3, 4, 0, 33), 24u);
    EXPECT_EQ(orbel::studio::ScaleProgress(4, 4, 0, 33), 33u);
    EXPECT_EQ(orbel::studio::ScaleProgress(0, 0, 66, 100), 100u);
}

// Runs that end before colouring anything, each with its reason.
TEST_F(OfflineColorization, RunsThatEndEarlySayWhy) {
    struct Case {
        const char* name;
        std::function<void(ColorizationSession&)> prepare;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"NoPointCloudFolder", [](ColorizationSession& s) { fs::remove_all(s.clouds); },
         "[Colorizer] Point cloud folder not found"},
        {"PcdFolder",
         [](ColorizationSession& s) {
             for (int i = 0; i < 2; ++i) orbel::testing::WriteText(s.clouds / ("f" + std::to_string(i) + ".pcd"), "");
             s.AddFrame(1, 1'000'000);
             fs::remove_all(s.images);  // the format is refused before the images are looked at
         },
         "[Colorizer] Unsupported point cloud format"},
        {"NoImageFolder",
         [](ColorizationSession& s) {
             s.AddFrame(1, 1'000'000);
             fs::remove_all(s.images);
         },
         "[Colorizer] Image folder not found"},
        {"QextMissing",
         [](ColorizationSession& s) {
             s.AddFrame(1, 1'000'000);
             s.AddImage(1, 1'000'000, 1);
             fs::remove(s.qext);
         },
         "[Colorizer] Invalid QEXT file: Cannot open qext file"},
        {"NoImages", [](ColorizationSession& s) { s.AddFrame(1, 1'000'000); }, "[Colorizer] No JPG/JPEG images found"},
        {"NoReadableImage",
         [](ColorizationSession& s) {
             s.AddFrame(1, 1'000'000);
             orbel::testing::WriteText(s.images / "image_00000001_00000000000001000000.jpg", "x");
         },
         "[Colorizer] No valid images found: 1 image that cannot be read"},
        {"NoImageWithATimeStamp",
         [](ColorizationSession& s) {
             s.AddFrame(1, 1'000'000);
             s.AddImage(1, 0, 1, "holiday.jpg");
             s.AddImage(2, 0, 1, "image_00000002.jpg");
             orbel::testing::WriteText(s.images / "image_00000003_00000000000001000000.jpg", "x");
         },
         "[Colorizer] No valid images found: 2 images without a time stamp in their names, 1 that cannot be read"},
        {"NoFrameWithATimeStamp",
         [](ColorizationSession& s) {
             s.AddImage(1, 1'000'000, 1);
             s.AddFrame(1, 0);
         },
         "[Colorizer] No valid point clouds found: 1 frame without a time stamp"},
        {"NoFrameNearAnyImage",
         [](ColorizationSession& s) {
             s.AddImage(1, 9'000'000, 1);
             s.AddFrame(1, 1'000'000);
         },
         "[Colorizer] No matching image/point cloud timestamps found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        session = std::make_unique<ColorizationSession>(root_);
        c.prepare(*session);
        ColorizerSDK sdk;
        const size_t before = log.Count(c.log, spdlog::level::err);
        EXPECT_EQ(Run({}, &sdk), ColorizeOutcome::Failed);
        EXPECT_EQ(log.Count(c.log, spdlog::level::err), before + 1);
        EXPECT_EQ(("[Colorizer] " + sdk.Summary().failure).rfind(c.log, 0), 0u) << sdk.Summary().failure;
        EXPECT_TRUE(Outputs().empty());
    }
}

// Ten frames, seven near an image and three far from all: seven files, and the warning
// counts three of ten.
TEST_F(OfflineColorization, FramesWithoutAnImageAreCountedInTheWarning) {
    for (uint32_t f = 0; f < 7; ++f) {
        session->AddFrame(f, 10'000'000 + 100'000 * f);
        session->AddImage(f, 10'000'000 + 100'000 * f, 5);
    }
    for (uint32_t f = 7; f < 10; ++f) session->AddFrame(f, 1'000'000 + 1'000 * f);  // long before the first image
    EXPECT_EQ(Run(), ColorizeOutcome::Completed);
    EXPECT_EQ(Outputs().size(), 7u);
    EXPECT_TRUE(log.Contains("[Colorizer] 3/10 point clouds could not be colorized due to missing image matches or "
                             "timestamp inconsistencies",
                             spdlog::level::warn));
    EXPECT_TRUE(log.Contains("[Colorizer] Timestamp colorization completed: 7 frames coloured, 3 without a matching "
                             "image",
                             spdlog::level::info));
}

TEST_F(OfflineColorization, OutputsNeverReplaceInputsOrEachOther) {
    // The output folder is the input folder, and two frames carry the same frame number.
    session->output = session->clouds;
    const fs::path first = session->AddFrame(4, 1'000'000, 4, "frame_00000004.qpc");
    const fs::path second = session->AddFrame(4, 2'000'000, 4, "frame_00000004_b.qpc");
    session->AddImage(1, 1'000'000, 60);
    const fs::path later = session->AddImage(2, 2'000'000, 120);
    const auto firstBytes = orbel::testing::ReadBytes(first);
    const auto secondBytes = orbel::testing::ReadBytes(second);

    EXPECT_EQ(Run(), ColorizeOutcome::Completed);
    EXPECT_EQ(orbel::testing::ReadBytes(first), firstBytes);
    EXPECT_EQ(orbel::testing::ReadBytes(second), secondBytes);
    EXPECT_EQ(Outputs(), (std::set<std::string>{"frame_00000004.qpc", "frame_00000004_b.qpc", "frame_00000004_1.qpc",
                                                "frame_00000004_2.qpc"}));
    ExpectColouredFrom(session->clouds / "frame_00000004_2.qpc", later, 4, 2'000'000);
}

// PLY files of other tools, one time stamp per point: those that carry no frame number take
// the number in their names (as pcl_pcd2ply's "frame_00111601.ply"), and frames of one number
// get names of their own.
TEST_F(OfflineColorization, PlyFramesAreNamedByTheirFrameNumbersOrTheirFileNames) {
    const struct {
        const char* file;
        bool numberComment;  // "comment frameNumber 0", as the program's own files hold
    } inputs[] = {
        {"frame_00111601.ply", false}, {"frame_00111602.ply", false}, {"scan0.ply", true}, {"scan1.ply", true}};
    for (size_t i = 0; i < std::size(inputs); ++i) {
        orbel::studio::FrameData frame;
        for (uint32_t p = 0; p < 4; ++p) {
            const Pixel pixel = ColorizationSession::PixelOf(0, p);
            frame.xyz.insert(frame.xyz.end(), {1000.0f, -1000.0f * pixel.x, -1000.0f * pixel.y});
            frame.timestamps.push_back(1'000'000 + 10'000 * i);
        }
        const fs::path path = session->clouds / inputs[i].file;
        orbel::studio::WritePly(path, frame);
        if (!inputs[i].numberComment) {
            auto bytes = orbel::testing::ReadBytes(path);
            std::string text(bytes.begin(), bytes.end());
            const std::string comment = "comment frameNumber 0\n";
            ASSERT_NE(text.find(comment), std::string::npos);
            text.erase(text.find(comment), comment.size());
            orbel::testing::WriteText(path, text);
        }
    }
    const fs::path image = session->AddImage(1, 1'050'000, 90);
    EXPECT_EQ(Run(), ColorizeOutcome::Completed);
    const std::map<std::string, int32_t> expected = {{"frame_00111601.ply", 111601},
                                                     {"frame_00111602.ply", 111602},
                                                     {"frame_00000000.ply", 0},
                                                     {"frame_00000000_1.ply", 0}};
    std::set<std::string> names;
    for (const auto& [name, number] : expected) names.insert(name);
    EXPECT_EQ(Outputs(), names);
    for (const auto& [name, number] : expected) {
        SCOPED_TRACE(name);
        auto read = orbel::studio::ReadPly(session->output / name);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->frameNumber, number);
        ASSERT_EQ(read->rgb.size(), 12u);
        for (uint32_t p = 0; p < 4; ++p) {
            const auto colour = ColorizationSession::DecodedColour(image, ColorizationSession::PixelOf(0, p));
            EXPECT_EQ((std::array<uint8_t, 3>{read->rgb[3 * p], read->rgb[3 * p + 1], read->rgb[3 * p + 2]}), colour);
        }
    }
}

TEST_F(OfflineColorization, FailedWriteEndsTheRunUncounted) {
    session->AddFrame(1, 1'000'000);
    session->AddFrame(2, 1'100'000);
    session->AddImage(1, 1'000'000, 60);
    session->AddImage(2, 1'100'000, 60);
    // A folder where the first output file would go: its write cannot succeed.
    fs::create_directories(session->output / ColorizationSession::FrameName(1) / "taken");
    EXPECT_EQ(Run(), ColorizeOutcome::Failed);
    EXPECT_EQ(log.Count("[Colorizer] ", spdlog::level::err), 1u);
    EXPECT_EQ(log.Count("[Colorizer] Timestamp colorization completed", spdlog::level::info), 0u);
    EXPECT_FALSE(fs::exists(session->output / ColorizationSession::FrameName(2)));  // the run ended there
}

TEST_F(OfflineColorization, GreyImagesColourPointsGrey) {
    session->AddFrame(1, 1'000'000);
    session->AddImage(1, 1'000'000, 60);
    // The loader hands over what a one-channel JPEG decodes to.
    ColorizerSDK sdk([](const fs::path& path) {
        auto grey = std::make_shared<orbel::studio::CameraData>();
        grey->width = ColorizationSession::kWidth;
        grey->height = ColorizationSession::kHeight;
        grey->channels = 1;
        grey->format = 1;
        grey->pixels.assign(size_t{grey->width} * grey->height, 77);
        grey->deviceTimestamp_us = orbel::studio::ParseImageIds(path).second;
        return grey;
    });
    EXPECT_EQ(Run({}, &sdk), ColorizeOutcome::Completed);
    auto read = QpcFrameColorizable::Read(session->output / ColorizationSession::FrameName(1));
    for (auto& line : read->Lines()) {
        for (const auto& c : line->GetColors()) EXPECT_EQ(c, (orbel::sdk::RGB{77, 77, 77}));
    }
}

TEST(ColorizationAdapters, ImagesBecomeThreeChannels) {
    auto image = [](uint32_t channels, std::vector<uint8_t> pixels) {
        auto data = std::make_shared<orbel::studio::CameraData>();
        data->width = 2;
        data->height = 1;
        data->channels = channels;
        data->format = channels == 1 ? 1 : channels == 3 ? 2 : channels == 4 ? 3 : 0;
        data->pixels = std::move(pixels);
        return data;
    };
    using orbel::studio::ToThreeChannels;
    EXPECT_EQ(ToThreeChannels(image(1, {5, 9}))->pixels, (std::vector<uint8_t>{5, 5, 5, 9, 9, 9}));
    EXPECT_EQ(ToThreeChannels(image(2, {5, 200, 9, 200}))->pixels, (std::vector<uint8_t>{5, 5, 5, 9, 9, 9}));
    EXPECT_EQ(ToThreeChannels(image(4, {1, 2, 3, 255, 4, 5, 6, 255}))->pixels,
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    const auto rgb = image(3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ToThreeChannels(rgb), rgb);
    EXPECT_EQ(ToThreeChannels(image(1, {5})), nullptr);  // fewer pixels than the size says
    EXPECT_EQ(ToThreeChannels(image(5, std::vector<uint8_t>(10))), nullptr);
    EXPECT_EQ(ToThreeChannels(nullptr), nullptr);

    orbel::studio::ImageAdapter adapter(ToThreeChannels(image(1, {5, 9})));
    EXPECT_EQ(adapter.GetPixelFormat(), orbel::sdk::PixelFormat::RGB8);
    EXPECT_THROW(adapter.Serialize(), std::logic_error);

    orbel::studio::FrameData frame;
    frame.xyz = {1, 2, 3, 4, 5, 6, 7};  // a trailing incomplete triple is dropped
    orbel::studio::FrameDataColorizable colourable(frame);
    EXPECT_EQ(colourable.GetPointCount(), 2u);
    EXPECT_EQ(colourable.GetY(), (std::vector<float>{2, 5}));
    EXPECT_EQ(colourable.GetTimestamp(), 0u);
    EXPECT_THROW(colourable.SetColors({{1, 2, 3}}), std::runtime_error);
    colourable.SetColors({{1, 2, 3}, {4, 5, 6}});
    EXPECT_EQ(frame.rgb, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(OfflineColorization, StopRequestEndsTheRunBeforeTheNextFile) {
    session->AddFrame(1, 1'000'000);
    session->AddImage(1, 1'000'000, 60);
    ColorizerSDK sdk;
    sdk.RequestStop();
    EXPECT_EQ(Run({}, &sdk), ColorizeOutcome::Stopped);
    EXPECT_TRUE(log.Contains("[Colorizer] Stop requested", spdlog::level::info));
    EXPECT_TRUE(Outputs().empty());
}

// The peak resident memory of the process since the last reset, in KiB; 0 when unknown.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}
bool ResetPeakResident() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"); }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // freed memory is held back by the sanitizer
#else
constexpr bool kSanitized = false;
#endif

// 1,000 frames and 1,000 images at 20 per second, in both modes: at most the images of a
// few frames' tolerance windows are decoded at once, and the peak resident memory grows by
// far less than the decoded images would take.
TEST_F(OfflineColorization, MemoryStaysBoundedOnAThousandFrames) {
    constexpr uint32_t kFrames = 1000;
    constexpr uint32_t kSide = 320;  // each image: 320 x 240 x 3 bytes decoded
    std::string sync = "cloud image\n";
    for (uint32_t f = 0; f < kFrames; ++f) {
        session->AddFrame(f, 1'000'000 + 50'000ull * f);
        sync += std::to_string(f) + " " + std::to_string(f) + "\n";
    }
    // One JPEG of 320 x 240, linked under every image's name: the decoding is real, the
    // disk holds it once.
    const fs::path sample = session->AddImage(999999, 1, 77, "sample.jpg");
    {
        std::vector<uint8_t> bytes(64 + 3 * kSide * 240, 0);
        bytes[0] = 1;
        bytes[21] = kSide & 0xFF;
        bytes[22] = kSide >> 8;
        bytes[25] = 240;
        bytes[29] = static_cast<uint8_t>(orbel::sdk::PixelFormat::RGB8);
        for (size_t i = 64; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        auto image = orbel::sdk::CreateImage();
        image->Deserialize(bytes);
        image->SaveAsJpeg(sample, 90, false);
    }
    for (uint32_t f = 0; f < kFrames; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "image_%08u_%020llu.jpg", f,
                      static_cast<unsigned long long>(1'010'000 + 50'000ull * f));
        fs::create_hard_link(sample, session->images / name);
    }
    fs::remove(sample);
    const size_t decodedBytes = size_t{kSide} * 240 * 3;
    const long everything_KiB = static_cast<long>(kFrames * decodedBytes / 1024);

    for (const bool withSync : {false, true}) {
        SCOPED_TRACE(withSync ? "sync file" : "time stamps");
        std::atomic<int> live{0};
        std::atomic<int> mostLive{0};
        std::atomic<int> decodes{0};
        ColorizerSDK sdk([&](const fs::path& path) -> std::shared_ptr<orbel::studio::CameraData> {
            auto image = orbel::studio::LoadCameraImage(path);
            if (!image) return nullptr;
            ++decodes;
            const int now = ++live;
            mostLive = std::max(mostLive.load(), now);
            return {image.get(), [&live, image](orbel::studio::CameraData*) mutable {
                        --live;
                        image.reset();
                    }};
        });
        fs::remove_all(session->output);
        const bool resetWorks = ResetPeakResident();
        const long before_KiB = PeakResidentKiB();
        const fs::path syncFile = root_ / "sync.txt";
        if (withSync) orbel::testing::WriteText(syncFile, sync);
        EXPECT_EQ(Run(withSync ? syncFile : fs::path(), &sdk), ColorizeOutcome::Completed);
        const long growth_KiB = PeakResidentKiB() - before_KiB;

        EXPECT_EQ(Outputs().size(), kFrames);
        EXPECT_EQ(decodes.load(), static_cast<int>(kFrames));
        EXPECT_LE(mostLive.load(), 16) << "decoded images held at once";
        if (resetWorks && !kSanitized) {
            EXPECT_LT(growth_KiB, everything_KiB / 4)
                << "peak grew by " << growth_KiB << " KiB; all images decoded take " << everything_KiB << " KiB";
        }
        RecordProperty(withSync ? "peak_growth_sync_KiB" : "peak_growth_timestamps_KiB", std::to_string(growth_KiB));
        EXPECT_EQ(live.load(), 0);
    }
}

}  // namespace
