// orbel::communication::VelmorantParser: finds whole, valid frames in the receive
// ring, validating them in place (the ring's mirror makes unread bytes contiguous),
// and hands each to the message callback. A rejected candidate costs one byte, so
// the search resynchronises after garbage. Runs only on the connection's I/O
// thread; the ring's mutex is held only while an index is read or moved.
//
// An exception from the callback leaves Parse with the frame unconsumed and the
// state at "frame valid"; the connection's I/O loop reports it.
#pragma once

#include <cstdint>
#include <functional>

#include "communication/IParser.h"
#include "communication/VelmorantMessage.h"

namespace orbel::communication {

class VelmorantParser : public IParser {
public:
    enum class State : uint32_t { Searching = 0, StartFound = 1, HeaderValid = 2, FrameValid = 3 };

    explicit VelmorantParser(std::function<void(VelmorantMessage&)> onMessage);
    ~VelmorantParser() override = default;

    void Parse(orbel::utilities::CircularBuffer<uint8_t>& ring) override;

    State GetState() const { return state_; }

private:
    State state_ = State::Searching;
    std::function<void(VelmorantMessage&)> onMessage_;
    VelmorantMessage received_;  // reused for every frame, so steady streams allocate nothing
};

}  // namespace orbel::communication
