// The status, error and alert handlers: which ids each takes and what it reports.
#include <gtest/gtest.h>

#include <optional>

#include "sensor/messageHandlers/AlertsHandler.h"
#include "sensor/messageHandlers/ErrorMessageHandler.h"
#include "sensor/messageHandlers/SensorStatusHandler.h"
#include "support/LogCapture.h"
#include "sdk/sensor/MessageFixtures.h"

namespace {

using orbel::sdk::Alert;
using orbel::sdk::SensorError;
using orbel::sdk::SensorState;
using orbel::testing::Received;

TEST(SensorStatusHandler, StateMessagesAndStateErrors) {
    orbel::testing::LogCapture log;
    orbel::sensor::SensorStatusHandler handler;
    std::vector<SensorState> states;
    std::vector<SensorError> errors;
    handler.SetStateCallback([&](const SensorState& s) { states.push_back(s); });
    handler.SetErrorCallback([&](const SensorError& e) { errors.push_back(e); });

    for (uint32_t id : {0x3000u, 0x3001u, 0x5001u, 0x5002u}) {
        auto m = Received(id);
        EXPECT_TRUE(handler.Handle(m));
    }
    EXPECT_EQ(states, (std::vector<SensorState>{SensorState::Idle, SensorState::UnInitialized, SensorState::Running,
                                                SensorState::Idle}));

    const std::pair<uint32_t, SensorError> errorIds[] = {
        {0x2803, SensorError::ACTION_ILLEGAL_SENSOR_RUNNING},
        {0x2804, SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED},
        {0x2805, SensorError::UNABLE_TO_INITIALISE},
        {0x2806, SensorError::UNABLE_TO_CLOSE},
        {0x2807, SensorError::SENSOR_ALREADY_INITIALIZED},
        {0x280B, SensorError::ACTION_ILLEGAL_NOT_RUNNING},
        {0x4803, SensorError::UNABLE_TO_START},
        {0x4804, SensorError::UNABLE_TO_STOP},
        {0x4806, SensorError::ACTION_ILLEGAL_SENSOR_RUNNING},
    };
    for (const auto& [id, code] : errorIds) {
        errors.clear();
        auto m = Received(id);
        EXPECT_TRUE(handler.Handle(m)) << id;
        EXPECT_EQ(errors, std::vector<SensorError>{code}) << id;
    }
    auto other = Received(0x7000);
    EXPECT_FALSE(handler.Handle(other));
    // With an error callback set, the errors go there alone: an ERROR record would
    // report each one a second time (the program treats every SDK ERROR as a lost sensor).
    EXPECT_EQ(log.CountAt(orbel::sdk::Severity::ERROR), 0u);
}

TEST(SensorStatusHandler, StateErrorWithoutCallbackIsLogged) {
    orbel::testing::LogCapture log;
    orbel::sensor::SensorStatusHandler handler;
    auto m = Received(0x4803);
    EXPECT_TRUE(handler.Handle(m));
    EXPECT_EQ(log.Count(L"Received status error. Either the system could not change state or the action requested "
                        L"is illegal in the current state."),
              1u);
}

TEST(ErrorMessageHandler, MapsSensorErrorsToExceptions) {
    std::vector<std::pair<SensorError, std::string>> reported;
    orbel::sensor::ErrorMessageHandler handler(
        [&](const orbel::sdk::Exception& e) { reported.emplace_back(e.GetType(), e.what()); });
    const std::pair<uint32_t, SensorError> cases[] = {
        {0x1800, SensorError::COMMAND_NOT_KNOWN},      {0x4800, SensorError::COMMAND_NOT_KNOWN},
        {0x6800, SensorError::COMMAND_NOT_KNOWN},      {0x2801, SensorError::COMMAND_BUFFER_FULL},
        {0x4801, SensorError::COMMAND_BUFFER_FULL},    {0x2802, SensorError::COMMAND_NOT_SUPPORTED},
        {0x4802, SensorError::COMMAND_NOT_SUPPORTED},  {0x2808, SensorError::PAYLOAD_INCORRECT},
        {0x2809, SensorError::UNKNOWN_ERROR},          {0x4805, SensorError::ACQUISITION_FAILED},
        {0x4809, SensorError::MEMORY_FULL},            {0x480B, SensorError::ILLEGAL_TEMPERATURE},
        {0x6801, SensorError::CRITICAL_HARDWARE_ERROR},
    };
    for (const auto& [id, code] : cases) {
        reported.clear();
        auto m = Received(id);
        EXPECT_TRUE(handler.Handle(m)) << id;
        ASSERT_EQ(reported.size(), 1u) << id;
        EXPECT_EQ(reported[0].first, code) << id;
        if (id != 0x2809) {
            EXPECT_EQ(reported[0].second.find("Extra information"), std::string::npos) << id;
        }
    }
    reported.clear();
    auto unknown = Received(0x2809);
    handler.Handle(unknown);
    EXPECT_EQ(reported.at(0).second, "Exception: An error occurred that is not specifically handled by this SDK. "
                                     "Extra information: The sensor reported an unspecified error: 10249");
    auto other = Received(0x1009);
    EXPECT_FALSE(handler.Handle(other));
}

struct AlertCase {
    uint32_t id;
    std::vector<uint8_t> payload;
    Alert alert;
    std::optional<bool> status;
    const wchar_t* text;
};

TEST(AlertsHandler, ReportsAlertsWithTheirStatus) {
    const AlertCase cases[] = {
        {0x5008, {0, 1}, Alert::Temperature, true, L"critical temperature reached"},
        {0x5008, {0, 0}, Alert::Temperature, false, L"temperature normalized"},
        {0x500C, {0, 7}, Alert::Power, true, L"power issue occurred"},
        {0x500D, {0, 0}, Alert::Voltage, false, L"voltage normalized"},
        {0x500F, {0, 1}, Alert::EyeSafety, true, L"eye safety issue occurred"},
        {0x500E, {0, 0}, Alert::Humidity, false, L"humidity normalized"},
        {0x3006, {0}, Alert::SystemShutdown, std::nullopt, L"System shutting down"},
        // Too short to carry the status byte: reported without one, never read past the payload.
        {0x5008, {0}, Alert::Temperature, std::nullopt, L"temperature alert without a status"},
        {0x500E, {}, Alert::Humidity, std::nullopt, L"humidity alert without a status"},
    };
    for (const auto& c : cases) {
        orbel::testing::LogCapture log;
        orbel::sensor::AlertsHandler handler;
        std::vector<std::pair<Alert, std::optional<bool>>> reported;
        handler.SetAlertCallback([&](Alert a, std::optional<bool> s) { reported.emplace_back(a, s); });
        auto m = Received(c.id, c.payload);
        EXPECT_TRUE(handler.Handle(m)) << c.id;
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].first, c.alert) << c.id;
        EXPECT_EQ(reported[0].second, c.status) << c.id;
        EXPECT_EQ(log.Count(std::wstring(L"Received an alert from the system: ") + c.text), 1u) << c.id;
    }
}

TEST(AlertsHandler, MissingStatusIsAProgrammingError) {
    EXPECT_THROW(orbel::sensor::AlertsHandler::AlertText(Alert::Voltage, std::nullopt), std::logic_error);
    EXPECT_EQ(orbel::sensor::AlertsHandler::AlertText(static_cast<Alert>(9), true), "unknown");
    orbel::sensor::AlertsHandler handler;  // no callback: still handled and logged
    auto m = Received(0x500C, {0, 1});
    EXPECT_TRUE(handler.Handle(m));
    auto other = Received(0x5009, {0, 1});
    EXPECT_FALSE(handler.Handle(other));
}

}  // namespace
