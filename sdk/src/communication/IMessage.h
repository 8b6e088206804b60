// orbel::communication::IMessage: one wire frame in one byte buffer, as the send
// path stamps and transmits it and the handlers read it.
#pragma once

#include <cstdint>

namespace orbel::communication {

class IMessage {
public:
    virtual uint32_t GetId() const = 0;
    // Writes the counter and recomputes both checksums.
    virtual void SetCounter(const uint32_t& counter) = 0;
    // Writes the start and end sequences, bytes 8 and 9, the size field and both checksums.
    virtual void Finalize() = 0;
    virtual const uint8_t* GetData() const = 0;
    virtual uint64_t GetSize() const = 0;
    virtual ~IMessage() = default;
};

}  // namespace orbel::communication
