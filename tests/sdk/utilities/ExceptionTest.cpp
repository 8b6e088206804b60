// The exception's composed text and the wide names of codes and states.
#include <gtest/gtest.h>

#include <orbel/sdk/Exception.h>

#include "utilities/StringConversion.h"

namespace {

using orbel::sdk::Exception;
using orbel::sdk::SensorError;

struct TextCase {
    uint32_t code;
    const char* expected;
};

TEST(Exception, ComposesCodeTextAndDetail) {
    const TextCase cases[] = {
        {0, "Exception: Failed to connect to the sensor on the provided IP and port. Extra information: d"},
        {13, "Exception: The payload of the previous command is incorrect. Extra information: d"},
        // The code's own text ends in a blank, so two stand before the detail.
        {11, "Exception: The command buffer of the sensor is full. The previous command  Extra information: d"},
        {27, "Exception: An error occurred that is not specifically handled by this SDK. Extra information: d"},
        {1, "Exception: Unspecified error. Extra information: d"},
        {14, "Exception: Unspecified error. Extra information: d"},
        {19, "Exception: Unspecified error. Extra information: d"},
        {31, "Exception: Unspecified error. Extra information: d"},
        {99, "Exception: Unspecified error. Extra information: d"},
    };
    for (const auto& c : cases) {
        const Exception e(std::string("d"), static_cast<SensorError>(c.code));
        EXPECT_STREQ(e.what(), c.expected) << c.code;
        EXPECT_EQ(static_cast<uint32_t>(e.GetType()), c.code);
    }
}

TEST(Exception, EmptyDetailHasNoExtraInformation) {
    EXPECT_STREQ(Exception(std::string(), SensorError::COMMAND_TIMEOUT).what(), "Exception: Unspecified error.");
}

TEST(Exception, WideDetailIsConverted) {
    const Exception e(std::wstring(L"caf\u00e9"), SensorError::NOT_CONNECTED);
    EXPECT_STREQ(e.what(), "Exception: Unspecified error. Extra information: caf\xc3\xa9");
}

TEST(Exception, CopiesKeepTextAndCode) {
    const Exception original(std::string("x"), SensorError::TCP_ERROR);
    Exception copy(std::string("y"), SensorError::NOT_CONNECTED);
    copy = original;
    copy = copy;
    EXPECT_STREQ(copy.what(), original.what());
    EXPECT_EQ(Exception(original).GetType(), SensorError::TCP_ERROR);
}

TEST(Exception, ThrowUnknownErrorAndVersion) {
    try {
        orbel::sdk::ThrowUnknownError("camera");
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::UNKNOWN_ERROR);
        EXPECT_NE(std::string(e.what()).find("Extra information: camera"), std::string::npos);
    }
    EXPECT_EQ(orbel::sdk::GetVersion(), "2.2.1");
}

TEST(Names, ErrorNamesExistOnlyForStateCodes) {
    using orbel::utilities::SensorErrorToWString;
    EXPECT_EQ(SensorErrorToWString(SensorError::UNABLE_TO_START), L"UNABLE_TO_START");
    EXPECT_EQ(SensorErrorToWString(SensorError::ACTION_ILLEGAL_NOT_RUNNING), L"ACTION_ILLEGAL_NOT_RUNNING");
    EXPECT_EQ(SensorErrorToWString(SensorError::UNKNOWN_ERROR), L"UNKNOWN_ERROR");
    for (uint32_t code : {0u, 1u, 10u, 14u, 19u, 26u, 28u, 31u, 77u})
        EXPECT_EQ(SensorErrorToWString(static_cast<SensorError>(code)), L"Unknown error") << code;
}

TEST(Names, StateNames) {
    using orbel::sdk::SensorState;
    using orbel::utilities::SensorStateToWString;
    EXPECT_EQ(SensorStateToWString(SensorState::Unknown), L"Unknown");
    EXPECT_EQ(SensorStateToWString(SensorState::UnInitialized), L"UnInitialized");
    EXPECT_EQ(SensorStateToWString(SensorState::Idle), L"Idle");
    EXPECT_EQ(SensorStateToWString(SensorState::Running), L"Running");
    EXPECT_EQ(SensorStateToWString(SensorState::Error), L"Error");
    EXPECT_EQ(SensorStateToWString(static_cast<SensorState>(5)), L"Invalid");
}

}  // namespace
