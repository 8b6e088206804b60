// A running emulator on an ephemeral loopback port with one connected test client.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <orbel/emulator/SensorEmulator.h>

#include "TestClient.h"

namespace orbel::emulator::testing {

using namespace std::chrono_literals;

class EmulatorFixture : public ::testing::Test {
protected:
    void Connect(EmulatorOptions options = {}) {
        emulator = std::make_unique<SensorEmulator>(std::move(options));
        client = std::make_unique<TestClient>(emulator->Port());
        ASSERT_TRUE(emulator->WaitForClient(5s));
    }

    void TearDown() override {
        client.reset();
        emulator.reset();
    }

    std::unique_ptr<SensorEmulator> emulator;
    std::unique_ptr<TestClient> client;
};

}  // namespace orbel::emulator::testing
