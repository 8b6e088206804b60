// The program's logger (level table, flushing, no console unless asked, the log
// file), the GUI log sink's bounded list, the line-colour rule and the log panel
// drawn in a headless Dear ImGui context. Every ctest case runs in its own process,
// so a case that installs the process-wide default logger affects no other case;
// the cases still never rely on each other's set-up.
#include <stdlib.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "app/ImGuiSink.h"
#include "app/LogPanel.h"
#include "app/Logging.h"
#include "support/HeadlessImGui.h"

namespace orbel::studio {
namespace {

namespace fs = std::filesystem;
using gui::ImGuiSink;
using gui::LogLineTag;
using gui::LogPanel;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Keeps every record it receives and counts flushes; tests read it from their own
// thread only after logging has returned.
class RecordingSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    struct Record {
        spdlog::level::level_enum level;
        std::string text;
    };
    std::vector<Record> records;
    int flushes = 0;

protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        records.push_back({message.level, std::string(message.payload.begin(), message.payload.end())});
    }
    void flush_() override { ++flushes; }
};

// Each case starts as a fresh process does: spdlog's stock console logger is the
// default, and nothing of the program's logger exists.
class ProgramLog : public ::testing::Test {
protected:
    void SetUp() override {
        spdlog::set_default_logger(
            std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stdout_color_sink_mt>()));
        std::string pattern = (fs::temp_directory_path() / "orbel-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        spdlog::set_default_logger(nullptr);  // closes the log file before its folder goes
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::shared_ptr<RecordingSink> SetupWithRecorder() {
        SetupLogging(false, {});
        auto sink = std::make_shared<RecordingSink>();
        AddLogSink(sink);
        return sink;
    }

    fs::path folder_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text after a leading "[HH:MM:SS]" clock stamp; a marker when there is none.
std::string AfterClockStamp(const std::string& line) {
    static constexpr std::string_view kShape = "[00:00:00]";
    if (line.size() < kShape.size()) {
        return "(no clock stamp)";
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = kShape[i] == '0';
        if (digit ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != kShape[i]) {
            return "(no clock stamp)";
        }
    }
    return line.substr(kShape.size());
}

TEST_F(ProgramLog, LevelTableAndFlushes) {
    const auto sink = SetupWithRecorder();
    spdlog::default_logger()->set_level(spdlog::level::trace);  // to see where 0 and 1 go

    struct Case {
        int level;
        bool logged;
        spdlog::level::level_enum spdlogLevel;
        bool flushed;
    };
    const Case cases[] = {
        {0, true, spdlog::level::trace, false}, {1, true, spdlog::level::debug, false},
        {2, true, spdlog::level::info, false},  {3, true, spdlog::level::warn, true},
        {4, true, spdlog::level::err, true},    {5, true, spdlog::level::critical, true},
        {6, false, {}, false},                  {-1, false, {}, false},
        {100, false, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        const std::size_t recordsBefore = sink->records.size();
        const int flushesBefore = sink->flushes;
        Log("message " + std::to_string(c.level), c.level);
        ASSERT_EQ(sink->records.size(), recordsBefore + (c.logged ? 1 : 0));
        if (c.logged) {
            EXPECT_EQ(sink->records.back().level, c.spdlogLevel);
            EXPECT_EQ(sink->records.back().text, "message " + std::to_string(c.level));
        }
        EXPECT_EQ(sink->flushes, flushesBefore + (c.flushed ? 1 : 0));
    }
}

TEST_F(ProgramLog, InfoIsTheLowestLevelKept) {
    const auto sink = SetupWithRecorder();
    Log("trace", 0);
    Log("debug", 1);
    Log("info {} stays verbatim", 2);
    ASSERT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(sink->records[0].text, "info {} stays verbatim");
    EXPECT_EQ(spdlog::default_logger()->name(), "orbel");
}

TEST_F(ProgramLog, SinksCanBeAddedWhileOtherThreadsLog) {
    SetupLogging(false, {});
    std::atomic<bool> stop{false};
    std::atomic<int> logged{0};
    std::thread worker([&] {
        while (!stop.load()) {
            Log("busy", 2);
            ++logged;
        }
    });
    while (logged.load() == 0) {
        std::this_thread::yield();
    }
    std::vector<std::shared_ptr<ImGuiSink>> sinks;
    for (int i = 0; i < 200; ++i) {
        sinks.push_back(std::make_shared<ImGuiSink>(10));
        AddLogSink(sinks.back());
    }
    stop = true;
    worker.join();
    Log("seen by all", 4);
    for (const auto& sink : sinks) {
        EXPECT_THAT(sink->Lines().lines.back(), EndsWith("[error] seen by all"));
    }
}

TEST_F(ProgramLog, NothingIsWrittenBeforeSetup) {
    auto early = std::make_shared<RecordingSink>();
    AddLogSink(early);  // no program logger yet: dropped, not added to spdlog's stock logger
    ::testing::internal::CaptureStdout();
    Log("too early", 4);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    SetupLogging(false, {});
    Log("after setup", 4);
    EXPECT_TRUE(early->records.empty());
}

TEST_F(ProgramLog, NoConsoleUnlessAsked) {
    ::testing::internal::CaptureStdout();
    SetupLogging(false, folder_ / "orbelstudio.log");
    Log("to the file only", 4);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_THAT(ReadFile(folder_ / "orbelstudio.log"), HasSubstr("to the file only"));

    ::testing::internal::CaptureStdout();  // before the sink exists, so it sees no terminal
    SetupLogging(true, {});
    Log("to the console", 4);
    fflush(stdout);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("[error] to the console"));
}

TEST_F(ProgramLog, WarningsReachTheFileBeforeLogReturns) {
    const fs::path file = folder_ / "orbelstudio.log";
    SetupLogging(false, file);
    Log("careful {}", 3);
    EXPECT_EQ(AfterClockStamp(ReadFile(file)), " [warning] careful {}\n");
}

TEST_F(ProgramLog, LogFileIsAppendedUntilFullThenEmptied) {
    const fs::path file = folder_ / "orbelstudio.log";
    constexpr std::size_t kMaxBytes = 10 * 1024 * 1024;
    const std::string earlier(kMaxBytes - 100, 'x');
    std::ofstream(file, std::ios::binary) << earlier;

    SetupLogging(false, file);
    Log("still fits", 3);
    std::string content = ReadFile(file);
    EXPECT_EQ(content.size(), earlier.size() + std::string("[00:00:00] [warning] still fits\n").size());
    EXPECT_EQ(content.compare(0, earlier.size(), earlier), 0);

    Log(std::string(200, 'y'), 4);
    EXPECT_EQ(AfterClockStamp(ReadFile(file)), " [error] " + std::string(200, 'y') + "\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
        << "no backup file is kept";
}

TEST(ImGuiSinkList, KeepsTheLast2000Lines) {
    auto sink = std::make_shared<ImGuiSink>();
    spdlog::logger logger("test", sink);
    for (int i = 1; i <= 2001; ++i) {
        logger.info("line {}", i);
    }
    const ImGuiSink::Snapshot snapshot = sink->Lines();
    ASSERT_EQ(snapshot.lines.size(), 2000u);
    EXPECT_THAT(snapshot.lines.front(), EndsWith("] line 2"));
    EXPECT_THAT(snapshot.lines.back(), EndsWith("] line 2001"));
    EXPECT_EQ(snapshot.appended, 2001u);

    sink->Clear();
    EXPECT_EQ(sink->Count(), 0u);
    EXPECT_EQ(sink->Lines().appended, 0u);
}

TEST_F(ProgramLog, GuiSinkLinesUseTheirOwnPatternWithoutLineEnding) {
    SetupLogging(false, {});
    auto sink = std::make_shared<ImGuiSink>();
    AddLogSink(sink);
    Log("short", 3);
    const std::string longText(1000, 'z');  // far past the 250-byte stack buffer
    Log(longText, 2);
    Log("not kept", 1);

    const auto lines = sink->Lines().lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(AfterClockStamp(lines[0]), " [warning] short");
    EXPECT_EQ(AfterClockStamp(lines[1]), " [info] " + longText);
}

TEST(ImGuiSinkList, OneInstanceForTheProgram) {
    EXPECT_EQ(ImGuiSink::Instance(), ImGuiSink::Instance());
    spdlog::logger logger("test", ImGuiSink::Instance());
    for (int i = 0; i < 2005; ++i) {
        logger.warn("x");
    }
    EXPECT_EQ(ImGuiSink::Instance()->Count(), ImGuiSink::kDefaultCapacity);
}

TEST(ImGuiSinkList, ReadersAndClearsRaceWithLoggingThreads) {
    auto sink = std::make_shared<ImGuiSink>(100);
    spdlog::logger logger("test", sink);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            while (!stop.load()) {
                logger.info("from a worker thread with a line long enough to matter");
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        const auto snapshot = sink->Lines();
        EXPECT_LE(snapshot.lines.size(), 100u);
        for (const std::string& line : snapshot.lines) {
            ASSERT_THAT(line, EndsWith("long enough to matter"));
        }
        if (i % 10 == 0) {
            sink->Clear();
        }
    }
    stop = true;
    for (std::thread& writer : writers) {
        writer.join();
    }
}

TEST(LogLineColour, FirstTagFoundInOrderColoursTheLine) {
    struct Case {
        const char* line;
        LogLineTag tag;
        const char* head;
        const char* rest;
    };
    const Case cases[] = {
        {"[10:00:00] [error] disk full", LogLineTag::Error, "[10:00:00] [error]", " disk full"},
        {"[10:00:00] [warning] slow", LogLineTag::Warning, "[10:00:00] [warning]", " slow"},
        {"[10:00:00] [info] connected", LogLineTag::Info, "[10:00:00] [info]", " connected"},
        // The pattern's own tag comes first, but the search order decides.
        {"[10:00:00] [warning] got [info] back", LogLineTag::Warning, "[10:00:00] [warning]", " got [info] back"},
        {"[10:00:00] [info] peer said [error] twice", LogLineTag::Error, "[10:00:00] [info] peer said [error]",
         " twice"},
        {"[10:00:00] [error]", LogLineTag::Error, "[10:00:00] [error]", ""},
        {"[10:00:00] [debug] details", LogLineTag::None, "", "[10:00:00] [debug] details"},
        {"[10:00:00] [critical] stop", LogLineTag::None, "", "[10:00:00] [critical] stop"},
        {"[10:00:00] [trace] [Info] [ERROR]", LogLineTag::None, "", "[10:00:00] [trace] [Info] [ERROR]"},
        {"", LogLineTag::None, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const gui::LogLineParts parts = gui::SplitLogLine(c.line);
        EXPECT_EQ(parts.tag, c.tag);
        EXPECT_EQ(parts.head, c.head);
        EXPECT_EQ(parts.rest, c.rest);
    }
}

TEST(LogLineColour, TagColours) {
    const auto expectColour = [](LogLineTag tag, ImVec4 expected) {
        const auto colour = gui::LogTagColor(tag);
        ASSERT_TRUE(colour.has_value());
        EXPECT_FLOAT_EQ(colour->x, expected.x);
        EXPECT_FLOAT_EQ(colour->y, expected.y);
        EXPECT_FLOAT_EQ(colour->z, expected.z);
        EXPECT_FLOAT_EQ(colour->w, expected.w);
    };
    expectColour(LogLineTag::Error, {1.0f, 0.2f, 0.2f, 1.0f});
    expectColour(LogLineTag::Warning, {1.0f, 1.0f, 0.2f, 1.0f});
    expectColour(LogLineTag::Info, {0.4f, 0.7f, 1.0f, 1.0f});
    EXPECT_FALSE(gui::LogTagColor(LogLineTag::None).has_value());
}

// A Dear ImGui context with no window or renderer: frames are built and rendered
// into draw lists that nobody shows. The panel fills a fixed 400 x 300 window.
class HeadlessLogPanel : public ::testing::Test {
protected:
    void Frame() {
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImVec2(400.0f, 300.0f));
        ImGui::Begin("Log", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings);
        panel_.DrawLogPanel();
        ImGui::End();
        ImGui::Render();
    }

    // Two frames: a scroll asked for in one frame is applied in the next.
    void Frames() {
        Frame();
        Frame();
    }

    // Presses and releases the left button over the "Clear" button, the panel's
    // first item at the window's top-left padding.
    void ClickClear() {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = ImVec2(14.0f, 14.0f);
        Frame();
        io.MouseDown[0] = true;
        Frame();
        io.MouseDown[0] = false;
        Frame();
        io.MousePos = ImVec2(-1.0f, -1.0f);
    }

    ImGuiWindow* ScrollRegion() {
        for (ImGuiWindow* window : ImGui::GetCurrentContext()->Windows) {
            if (window->ParentWindow != nullptr && std::string(window->Name).find("/scroll_") != std::string::npos) {
                return window;
            }
        }
        ADD_FAILURE() << "no scroll region";
        return nullptr;
    }

    bool AtBottom() {
        ImGuiWindow* region = ScrollRegion();
        return region != nullptr && region->ScrollMax.y > 0.0f && region->Scroll.y >= region->ScrollMax.y - 1.0f;
    }

    void ScrollToTop() {
        ImGui::SetScrollY(ScrollRegion(), 0.0f);
        Frames();
        ASSERT_EQ(ScrollRegion()->Scroll.y, 0.0f);
    }

    void AddLines(int count) {
        for (int i = 0; i < count; ++i) {
            logger_.info("line {}", ++written_);
        }
    }

    orbel::testing::HeadlessImGui imgui_{ImVec2(400.0f, 300.0f)};
    std::shared_ptr<ImGuiSink> sink_ = std::make_shared<ImGuiSink>(50);
    spdlog::logger logger_{"panel", sink_};
    LogPanel panel_{sink_};
    int written_ = 0;
};

TEST_F(HeadlessLogPanel, SeenCountFollowsNewLinesAndTheViewScrollsToThem) {
    Frame();
    EXPECT_EQ(panel_.SeenCount(), 0u);
    AddLines(3);
    Frame();
    EXPECT_EQ(panel_.SeenCount(), 3u);

    AddLines(30);
    Frames();
    EXPECT_EQ(panel_.SeenCount(), 33u);
    EXPECT_TRUE(AtBottom());

    // With nothing new the user's scroll position stays.
    ScrollToTop();
    Frames();
    EXPECT_EQ(ScrollRegion()->Scroll.y, 0.0f);

    AddLines(1);
    Frames();
    EXPECT_EQ(panel_.SeenCount(), 34u);
    EXPECT_TRUE(AtBottom());
}

TEST_F(HeadlessLogPanel, ClearEmptiesTheSinkAndTheNextLinesScrollAgain) {
    AddLines(40);
    Frames();
    ASSERT_EQ(panel_.SeenCount(), 40u);

    ClickClear();
    EXPECT_EQ(sink_->Count(), 0u);
    EXPECT_EQ(panel_.SeenCount(), 0u);

    AddLines(40);
    Frames();
    EXPECT_EQ(panel_.SeenCount(), 40u);
    EXPECT_TRUE(AtBottom());
}

TEST_F(HeadlessLogPanel, AFullLogStillFollowsNewLines) {
    AddLines(60);  // past the sink's capacity of 50
    Frames();
    ASSERT_TRUE(AtBottom());
    ScrollToTop();

    AddLines(1);  // the list stays at 50 lines, but this one is new
    Frames();
    EXPECT_TRUE(AtBottom());
    EXPECT_THAT(sink_->Lines().lines.back(), EndsWith("line 61"));
}

TEST_F(HeadlessLogPanel, SteppingOverLinesOutOfViewKeepsTheLogsFullHeight) {
    // Lines of every kind: tagged and not, short, and long enough to wrap several times.
    for (int i = 0; i < 50; ++i) {
        const std::string text(static_cast<size_t>(i * 7 % 130), static_cast<char>('a' + i % 26));
        if (i % 3 == 0) {
            logger_.warn("warning {} {}", i, text);
        } else if (i % 3 == 1) {
            logger_.info("info {} {}", i, text);
        } else {
            logger_.critical("untagged {} {}", i, text);
        }
    }
    Frames();
    // New lines on a full list: only they are measured, and the view follows them.
    AddLines(5);
    Frames();
    EXPECT_TRUE(AtBottom());
    ScrollToTop();
    const float panelHeight = ScrollRegion()->ContentSize.y;

    // The same lines drawn one after the other into a region of the same size.
    const ImGuiSink::Snapshot snapshot = sink_->Lines();
    // A region's content size is that of its previous frame, and the scroll bar comes in the
    // second: the third frame holds the final height.
    float fullHeight = 0.0f;
    for (int frame = 0; frame < 3; ++frame) {
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImVec2(400.0f, 300.0f));
        ImGui::Begin("Reference", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings);
        ImGui::Button("Clear");
        ImGui::Separator();
        ImGui::BeginChild("scroll", ImVec2(0.0f, 0.0f), false);
        for (const std::string& line : snapshot.lines) gui::DrawLogLine(line);
        fullHeight = ImGui::GetCurrentWindow()->ContentSize.y;
        ImGui::EndChild();
        ImGui::End();
        ImGui::Render();
    }
    EXPECT_GT(fullHeight, 1000.0f);
    EXPECT_EQ(panelHeight, fullHeight);
}

}  // namespace
}  // namespace orbel::studio
