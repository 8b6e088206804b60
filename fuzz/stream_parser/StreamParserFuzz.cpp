// The SDK's stream parser over a receive ring fed the way the TCP connection feeds it
// (socket reads of varying sizes, a ring of any capacity starting at any index, with the
// mirror the connection uses), checked against the frames the byte stream really holds:
// every delivered frame is whole and valid, and the parser delivers exactly the frames a
// resynchronising receiver finds, in order. Optionally the callback throws once (the
// frame must come again on the next parse, or, when the ring is cleared after the throw,
// parsing must pick up cleanly in the bytes that follow), and a parser without a callback
// must consume the same bytes.
//
// Input: flags u8 | capacity u16 | start index u16 | read sizes u32 | throw at u8 | stream.
//   flags bit 0: mirror five times the capacity (else exactly the capacity)
//         bit 1: the callback throws at delivery number `throw at`
//         bit 2: after that throw the ring is cleared (as a new connection would start)
//         bit 3: a parser without a callback runs over the same reads
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"
#include "common/WireReference.h"
#include "communication/VelmorantMessage.h"
#include "communication/VelmorantParser.h"
#include "sdk/communication/RingFeed.h"
#include "utilities/CircularBuffer.h"

namespace {

using orbel::communication::VelmorantMessage;
using orbel::communication::VelmorantParser;
using orbel::fuzzing::FrameSpan;
using orbel::fuzzing::FuzzInput;
using orbel::fuzzing::ReadSizes;
using orbel::testing::ByteRing;
using Bytes = std::vector<uint8_t>;

struct HandlerFailure : std::runtime_error {
    HandlerFailure() : std::runtime_error("handler failed") {}
};

// Starts an empty ring at this index, as if earlier traffic had been consumed.
void StartAt(ByteRing& ring, size_t index) {
    ring.AdvanceRead(index);
    ring.AdvanceWrite(index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const size_t capacity = 40 + input.U16();
    const size_t startIndex = input.U16() % capacity;
    ReadSizes reads(input.U32());
    const uint8_t throwAt = input.Byte();
    const auto stream = input.Rest();

    const bool bigMirror = flags & 1;
    const bool throwOnce = flags & 2;
    const bool clearAfterThrow = flags & 4;
    const bool silentTwin = (flags & 8) && !throwOnce;

    ByteRing ring(capacity, bigMirror ? 5 * capacity : capacity);
    ByteRing twinRing(capacity, bigMirror ? 5 * capacity : capacity);
    StartAt(ring, startIndex);
    StartAt(twinRing, startIndex);

    std::vector<Bytes> delivered;
    size_t calls = 0;
    bool thrown = false;
    VelmorantParser parser([&](VelmorantMessage& message) {
        ORBEL_FUZZ_CHECK(message.GetSize() >= 32 && message.GetSize() == message.GetPayloadSize() + 32ull,
                         "a delivered message's size is its payload plus 32");
        const uint8_t* bytes = message.GetData();
        ORBEL_FUZZ_CHECK(orbel::fuzzing::IsWholeFrame(bytes, message.GetSize()), "a delivered frame is valid");
        ORBEL_FUZZ_CHECK(message.GetId() == orbel::fuzzing::LittleEndian32(bytes + 14), "the id is the header's");
        ORBEL_FUZZ_CHECK(message.GetPayload() == bytes + 23, "the payload follows the header");
        if (throwOnce && !thrown && calls++ == throwAt) {
            thrown = true;
            throw HandlerFailure();
        }
        delivered.emplace_back(bytes, bytes + message.GetSize());
    });
    VelmorantParser twin(nullptr);

    // Where the stream starts again after a cleared ring; the frames before it were checked.
    std::optional<size_t> restartAt;
    size_t deliveredBeforeRestart = 0;
    size_t fed = 0;
    while (fed < stream.size()) {
        const size_t want = std::min(reads.Next(stream.size() - fed), stream.size() - fed);
        const size_t n = orbel::testing::ReceiveInto(ring, stream.data() + fed, want);
        ORBEL_FUZZ_CHECK(n > 0, "a ring the parser has emptied always has room");
        if (silentTwin) {
            ORBEL_FUZZ_CHECK(orbel::testing::ReceiveInto(twinRing, stream.data() + fed, n) == n,
                             "both rings take the same read");
        }
        fed += n;
        try {
            parser.Parse(ring);
        } catch (const HandlerFailure&) {
            ORBEL_FUZZ_CHECK(parser.GetState() == VelmorantParser::State::FrameValid,
                             "a throwing callback leaves the frame valid and unconsumed");
            if (clearAfterThrow) {
                ring.Clear();
                restartAt = fed;
                deliveredBeforeRestart = delivered.size();
            } else {
                parser.Parse(ring);  // the same frame is handed over again
            }
        }
        if (silentTwin) {
            twin.Parse(twinRing);
            ORBEL_FUZZ_CHECK(twinRing.Used() == ring.Used(), "a parser without a callback consumes the same bytes");
        }
        // Every frame the ring can hold fits in it, so a parsed ring is never left full.
        ORBEL_FUZZ_CHECK(ring.ContiguousWriteSize() > 0, "the ring is never left full after parsing");
    }

    // The frames the stream holds, for a receiver whose limit is the ring's capacity - 1.
    std::vector<FrameSpan> expected;
    size_t from = 0;
    if (restartAt) {
        const auto before = orbel::fuzzing::ReferenceFrames(stream.data(), *restartAt, capacity - 1);
        ORBEL_FUZZ_CHECK(deliveredBeforeRestart <= before.size(), "no frame is made up before the ring is cleared");
        expected.assign(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(deliveredBeforeRestart));
        from = *restartAt;
    }
    for (FrameSpan span : orbel::fuzzing::ReferenceFrames(stream.data() + from, stream.size() - from, capacity - 1)) {
        span.offset += from;
        expected.push_back(span);
    }
    ORBEL_FUZZ_CHECK(delivered.size() == expected.size(), "the parser delivers every frame of the stream once");
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint8_t* want = stream.data() + expected[i].offset;
        ORBEL_FUZZ_CHECK(delivered[i].size() == expected[i].size &&
                             std::memcmp(delivered[i].data(), want, expected[i].size) == 0,
                         "the frames are delivered in stream order, unchanged");
    }
    return 0;
}
