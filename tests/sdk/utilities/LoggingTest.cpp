// The SDK's log: output chosen once, severities, the callback and its swaps,
// record text, and that logging never throws. Tests that depend on being the
// first SDK call run in a fresh child process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <orbel/sdk/Logging.h>

#include "support/LogCapture.h"
#include "utilities/Logging.h"

namespace {

namespace fs = std::filesystem;
using orbel::sdk::Severity;

fs::path FreshFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() /
           ("orbel-log-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + name);
}

std::vector<fs::path> LogFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    if (!fs::exists(folder)) return files;
    for (auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FreshProcess : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Runs body in a re-executed child, where no SDK call has happened yet.
#define IN_FRESH_PROCESS(body)                                              \
    EXPECT_EXIT(                                                            \
        {                                                                   \
            body;                                                           \
            std::exit(::testing::Test::HasFailure() ? 1 : 0);               \
        },                                                                  \
        ::testing::ExitedWithCode(0), "")

TEST_F(FreshProcess, FolderFirstGivesARollingFileStartingWithTheBanner) {
    IN_FRESH_PROCESS({
        const fs::path folder = FreshFolder("file") / "nested";
        orbel::sdk::SetLogOutputFolder(folder.wstring());
        const auto files = LogFiles(folder);
        ASSERT_EQ(files.size(), 1u);
        const std::string name = files[0].filename().string();
        EXPECT_EQ(name.rfind("vr_", 0), 0u) << name;
        EXPECT_EQ(name.size(), std::string("vr_2026-03-01_14-05-09.log").size()) << name;
        const std::string text = ReadAll(files[0]);
        EXPECT_NE(text.find("Velmorant C++ SDK - 2.2.1"), std::string::npos) << text;
        fs::remove_all(folder.parent_path());
    });
}

TEST_F(FreshProcess, CallbackFirstFixesTheConsole) {
    IN_FRESH_PROCESS({
        const fs::path folder = FreshFolder("console");
        const fs::path out = FreshFolder("stdout.txt");
        ASSERT_NE(std::freopen(out.c_str(), "w", stdout), nullptr);
        orbel::sdk::SetLogCallBack([](const Severity&, const std::wstring&) {});
        orbel::sdk::SetLogOutputFolder(folder.wstring());
        std::fflush(stdout);
        const std::string printed = ReadAll(out);
        EXPECT_NE(printed.find("creating logging instance\nlogging instance created\n"), std::string::npos);
        EXPECT_TRUE(LogFiles(folder).empty());
        fs::remove(out);
    });
}

TEST_F(FreshProcess, MinimalSeverityFiltersOutputAndCallback) {
    IN_FRESH_PROCESS({
        const fs::path folder = FreshFolder("severity");
        orbel::sdk::SetLogOutputFolder(folder.wstring());
        orbel::testing::LogCapture capture(Severity::ERROR);
        orbel::sdk::Log(Severity::INFO, L"an info record", __FILE__, __LINE__, "test::Info");
        orbel::sdk::Log(Severity::ERROR, L"an error record", __FILE__, __LINE__, "test::Error");
        orbel::utilities::Logging::Instance().Log(Severity::ERROR, L"message", L"the detail", __FILE__, 7,
                                                  "void test::WithDetail(int)");
        const std::string text = ReadAll(LogFiles(folder).at(0));
        EXPECT_EQ(text.find("an info record"), std::string::npos);
        EXPECT_NE(text.find("an error record"), std::string::npos);
        EXPECT_NE(text.find("message | Detailed information: the detail"), std::string::npos);
        EXPECT_NE(text.find("test::WithDetail@7"), std::string::npos) << text;
        EXPECT_EQ(capture.Texts(), (std::vector<std::wstring>{L"an error record", L"message"}));
        fs::remove_all(folder);
    });
}

TEST(Logging, SeverityNames) {
    EXPECT_EQ(orbel::sdk::GetLogTypeString(Severity::ERROR), L"ERROR");
    EXPECT_EQ(orbel::sdk::GetLogTypeString(Severity::WARNING), L"WARNING");
    EXPECT_EQ(orbel::sdk::GetLogTypeString(Severity::INFO), L"INFO");
    EXPECT_EQ(orbel::sdk::GetLogTypeString(Severity::DEBUG), L"DEBUG");
    EXPECT_EQ(orbel::sdk::GetLogTypeString(static_cast<Severity>(7)), L"");
}

TEST(Logging, RemovedCallbackHearsItsRemovalAndTheNewOneNotItsRegistration) {
    orbel::sdk::SetLogSeverity(Severity::INFO);
    std::vector<std::wstring> first;
    std::vector<std::wstring> second;
    orbel::sdk::SetLogCallBack([&](const Severity&, const std::wstring& text) { first.push_back(text); });
    orbel::sdk::SetLogCallBack([&](const Severity&, const std::wstring& text) { second.push_back(text); });
    orbel::sdk::SetLogCallBack(nullptr);
    EXPECT_EQ(first, (std::vector<std::wstring>{L"Log callback function registered"}));
    EXPECT_EQ(second, (std::vector<std::wstring>{L"Log callback function removed"}));
    EXPECT_EQ(orbel::sdk::GetLogSeverity(), Severity::INFO);
}

TEST(Logging, NeverThrows) {
    orbel::sdk::SetLogSeverity(Severity::DEBUG);
    orbel::sdk::SetLogCallBack([](const Severity&, const std::wstring&) { throw std::runtime_error("callback"); });
    const std::wstring unconvertible(1, static_cast<wchar_t>(0xD800));
    EXPECT_NO_THROW(orbel::sdk::Log(Severity::ERROR, L"bad " + unconvertible, __FILE__, __LINE__, ORBEL_FUNCTION));
    EXPECT_NO_THROW(orbel::sdk::Log(static_cast<Severity>(9), L"odd severity", __FILE__, __LINE__, "f"));
    orbel::sdk::SetLogCallBack(nullptr);
}

TEST(Logging, CallbackCanBeSwappedWhileOtherThreadsLog) {
    orbel::sdk::SetLogSeverity(Severity::DEBUG);
    std::atomic<bool> stop{false};
    std::atomic<long> heard{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i) {
        writers.emplace_back([&] {
            while (!stop) ORBEL_LOG_DEBUG(L"tick");
        });
    }
    for (int i = 0; i < 200; ++i) {
        orbel::sdk::SetLogCallBack([&heard](const Severity&, const std::wstring&) { ++heard; });
        orbel::sdk::SetLogCallBack(nullptr);
    }
    stop = true;
    for (auto& w : writers) w.join();
    SUCCEED() << heard.load();
}

}  // namespace
