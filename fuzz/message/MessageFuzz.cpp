// The validating construction of wire messages from received bytes, checked against the
// frame layout: it succeeds exactly for one consistent frame, the message then reads
// back the header's fields and holds the bytes unchanged, and a failed construction or
// load changes nothing. Copies, assignment, loading into a reused message and restamping
// (counter, id) keep a message one consistent frame. The same bytes, taken as a payload,
// give a frame built by size and finalised that is valid too.
//
// Input: the candidate frame itself (seeds are valid frames).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "common/FuzzCheck.h"
#include "common/FuzzSupport.h"
#include "common/WireReference.h"
#include "communication/VelmorantMessage.h"

namespace {

using orbel::communication::VelmorantMessage;
using orbel::fuzzing::IsWholeFrame;
using orbel::fuzzing::LittleEndian32;

bool Holds(const VelmorantMessage& message, const uint8_t* data, size_t size) {
    return message.GetSize() == size && std::memcmp(message.GetData(), data, size) == 0;
}

void CheckFields(const VelmorantMessage& message) {
    const uint8_t* bytes = message.GetData();
    ORBEL_FUZZ_CHECK(IsWholeFrame(bytes, message.GetSize()), "the message is one consistent frame");
    ORBEL_FUZZ_CHECK(message.GetCounter() == LittleEndian32(bytes + 10), "counter");
    ORBEL_FUZZ_CHECK(message.GetId() == LittleEndian32(bytes + 14), "id");
    ORBEL_FUZZ_CHECK(message.GetPayloadSize() == LittleEndian32(bytes + 18), "payload size");
    ORBEL_FUZZ_CHECK(message.GetPayload() == bytes + 23, "payload position");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    const bool consistent = IsWholeFrame(data, size);

    bool built = false;
    try {
        const VelmorantMessage message(data, size);
        built = true;
        ORBEL_FUZZ_CHECK(Holds(message, data, size), "a built message holds the bytes it was given");
        CheckFields(message);

        VelmorantMessage copy(message);
        ORBEL_FUZZ_CHECK(Holds(copy, data, size), "a copy holds the same frame");
        copy.SetCounter(LittleEndian32(data + 10) ^ 0x5A5A5A5Au);
        CheckFields(copy);
        copy.SetId(~message.GetId());
        CheckFields(copy);
        ORBEL_FUZZ_CHECK(std::memcmp(copy.GetPayload(), message.GetPayload(), message.GetPayloadSize()) == 0,
                         "restamping leaves the payload alone");

        VelmorantMessage assigned(size / 2, true);
        assigned = message;
        ORBEL_FUZZ_CHECK(Holds(assigned, data, size), "assignment copies the whole frame");
    } catch (const orbel::sdk::Exception& e) {
        ORBEL_FUZZ_CHECK(e.GetType() == orbel::sdk::SensorError::PAYLOAD_INCORRECT, "the refusal's code is 13");
    }
    ORBEL_FUZZ_CHECK(built == consistent, "the bytes are taken exactly when they are one consistent frame");

    // Loading into a message that already holds a larger frame reuses its storage.
    VelmorantMessage reused(size + 40, true);
    reused.Finalize();
    const std::vector<uint8_t> before(reused.GetData(), reused.GetData() + reused.GetSize());
    const bool loaded = reused.Load(data, size);
    ORBEL_FUZZ_CHECK(loaded == consistent, "Load takes exactly the consistent frames");
    if (loaded) {
        ORBEL_FUZZ_CHECK(Holds(reused, data, size), "a loaded message holds the new frame only");
        CheckFields(reused);
    } else {
        ORBEL_FUZZ_CHECK(Holds(reused, before.data(), before.size()), "a refused load leaves the message as it was");
    }

    // The bytes as the payload of a frame built by size.
    VelmorantMessage outgoing(size, true);
    if (size != 0) std::memcpy(outgoing.GetPayload(), data, size);
    outgoing.SetCounter(static_cast<uint32_t>(size));
    outgoing.Finalize();
    CheckFields(outgoing);
    ORBEL_FUZZ_CHECK(outgoing.GetSize() == size + 32u, "a frame is its payload plus 32 bytes");
    ORBEL_FUZZ_CHECK(size == 0 || std::memcmp(outgoing.GetPayload(), data, size) == 0, "finalising keeps the payload");
    const VelmorantMessage received(outgoing.GetData(), outgoing.GetSize());
    ORBEL_FUZZ_CHECK(Holds(received, outgoing.GetData(), outgoing.GetSize()), "a finalised frame is accepted");
    return 0;
}
