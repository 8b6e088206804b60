// What the orbel-sensor-emulator program's arguments ask for: a text to print and leave,
// the options to run with, or a usage error with its reason.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <orbel/emulator/CommandLine.h>

namespace orbel::emulator::testing {
namespace {

CommandLine Parse(const std::vector<const char*>& arguments) {
    return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(EmulatorCommandLine, HelpAndVersionPrintTheirOwnText) {
    const std::regex versionLine(R"(orbel-sensor-emulator [0-9]+\.[0-9]+\.[0-9]+\n)");
    struct Case {
        std::vector<const char*> arguments;
        bool version;  // the version line; otherwise the usage text
    };
    const Case cases[] = {
        {{"--help"}, false},
        {{"-h"}, false},
        {{"--version"}, true},
        {{"--port", "0", "--version"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const CommandLine line = Parse(c.arguments);
        EXPECT_FALSE(line.options);
        if (c.version) {
            EXPECT_TRUE(std::regex_match(line.text, versionLine)) << line.text;
        } else {
            EXPECT_EQ(line.text, UsageText());
        }
    }
}

TEST(EmulatorCommandLine, OptionsOrTheReasonTheyAreRefused) {
    struct Case {
        std::vector<const char*> arguments;
        uint16_t port;        // when accepted
        const char* refused;  // the start of the reason, when refused
    };
    const Case cases[] = {
        {{}, 4000, nullptr},
        {{"--port=0", "--rate", "5"}, 0, nullptr},
        {{"--bind", "0.0.0.0"}, 0, "--bind accepts 127.0.0.1 only"},
        {{"--points", "16385"}, 0, "invalid value for --points: \"16385\""},
        {{"--port"}, 0, "--port needs a value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "no arguments" : c.arguments.front());
        if (c.refused) {
            try {
                Parse(c.arguments);
                ADD_FAILURE() << "accepted";
            } catch (const UsageError& e) {
                EXPECT_EQ(std::string(e.what()).rfind(c.refused, 0), 0u) << e.what();
            }
            continue;
        }
        const CommandLine line = Parse(c.arguments);
        ASSERT_TRUE(line.options);
        EXPECT_TRUE(line.text.empty());
        EXPECT_EQ(line.options->port, c.port);
        EXPECT_EQ(line.options->bindAddress, "127.0.0.1");
    }
}

}  // namespace
}  // namespace orbel::emulator::testing
