// orbel::sensor::IMessageHandler: one receiver of parsed messages. Handle runs on
// the connection's I/O thread under the handler list's lock and must return quickly.
#pragma once

#include "communication/VelmorantMessage.h"

namespace orbel::sensor {

class IMessageHandler {
public:
    // True when the handler took the message.
    virtual bool Handle(orbel::communication::VelmorantMessage& message) = 0;
    virtual ~IMessageHandler() = default;
};

}  // namespace orbel::sensor
