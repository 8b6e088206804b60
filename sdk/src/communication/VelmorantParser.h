// orbel::communication::VelmorantParser: finds whole, valid frames in the receive
// ring, validating them in place (the ring's mirror makes unread bytes contiguous),
// and hands each to the message callback. A rejected candidate costs one byte, so
// the search resynchronises after garbage. Candidate frames are checked against
// running byte sums, so the work stays linear in the bytes received, even for
// crafted streams of headers that all claim one far-away end. Runs only on the
// connection's I/O thread; the ring's mutex is held only while an index is read or moved.
//
// An exception from the callback leaves Parse with the frame unconsumed and the
// state at "frame valid"; the connection's I/O loop reports it.
#pragma once

#include <cstdint>
#include <functional>

#include "communication/IParser.h"
#include "communication/RunningByteSums.h"
#include "communication/VelmorantMessage.h"

namespace orbel::communication {

class VelmorantParser : public IParser {
public:
    enum class State : uint32_t { Searching = 0, StartFound = 1, HeaderValid = 2, FrameValid = 3 };

    explicit VelmorantParser(std::function<void(VelmorantMessage&)> onMessage);
    ~VelmorantParser() override = default;

    void Parse(orbel::utilities::CircularBuffer<uint8_t>& ring) override;

    State GetState() const { return state_; }

    // Bytes read for checksums so far. However the bytes are crafted, this stays within
    // a small constant times the bytes received: the parser's cost is linear.
    uint64_t SummedBytes() const { return headerSummed_ + sums_.SummedBytes(); }

private:
    bool HeaderChecksumOk(const uint8_t* p);

    State state_ = State::Searching;
    std::function<void(VelmorantMessage&)> onMessage_;
    VelmorantMessage received_;  // reused for every frame, so steady streams allocate nothing
    RunningByteSums sums_;       // over the unread bytes, kept between calls
    // Where this parser left the ring: the unread bytes are the ones summed only while
    // the ring has not been cleared and its read index is still here.
    uint64_t ringClears_ = 0;
    size_t ringRead_ = static_cast<size_t>(-1);
    uint64_t headerSummed_ = 0;
};

}  // namespace orbel::communication
