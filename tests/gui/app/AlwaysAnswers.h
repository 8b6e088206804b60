// A reachability probe whose host always answers, for sensor panel tests whose ping
// monitor must never call the emulator offline.
#pragma once

#include <chrono>
#include <string>

#include "platform/ReachabilityProbe.h"

namespace orbel::testing {

class AlwaysAnswers : public orbel::studio::platform::IReachabilityProbe {
public:
    orbel::studio::platform::EchoResult Echo(const std::string&, std::chrono::milliseconds) override {
        return orbel::studio::platform::EchoResult::Reply;
    }
};

}  // namespace orbel::testing
