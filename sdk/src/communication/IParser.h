// orbel::communication::IParser: cuts whole frames out of the receive ring.
#pragma once

#include <cstdint>

#include "utilities/CircularBuffer.h"

namespace orbel::communication {

class IParser {
public:
    virtual void Parse(orbel::utilities::CircularBuffer<uint8_t>& ring) = 0;
    virtual ~IParser() = default;
};

}  // namespace orbel::communication
