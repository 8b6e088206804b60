// Small builders for received messages, shared by the sensor suites.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "communication/VelmorantMessage.h"

namespace orbel::testing {

inline orbel::communication::VelmorantMessage Received(uint32_t id, const std::vector<uint8_t>& payload = {0}) {
    orbel::communication::VelmorantMessage message(payload.size(), true);
    message.SetId(id);
    std::copy(payload.begin(), payload.end(), message.GetPayload());
    message.Finalize();
    return message;
}

}  // namespace orbel::testing
