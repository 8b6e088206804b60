// The sensor emulator's frame decoder (what it makes of a client's bytes) fed in reads
// of varying sizes, checked against the frames the byte stream really holds: its valid
// frames are exactly those a resynchronising receiver finds, in order and unchanged; a
// rejected candidate's flags say which check failed first; and every byte fed is
// accounted for as skipped, delivered or still buffered.
//
// Input: read sizes u32 | frame size limit u16 (32 + v, or the receiver's 10 MiB limit
//        for 0xFFFF) | stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <orbel/emulator/WireFrame.h>

#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/WireReference.h"

namespace {

using orbel::emulator::DecodedFrame;
using orbel::fuzzing::FrameSpan;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::FuzzInput input(data, size);
    orbel::fuzzing::ReadSizes reads(input.U32());
    const uint16_t limit = input.U16();
    const size_t maxFrameSize = limit == 0xFFFF ? orbel::emulator::kReceiverMaxFrameSize : 32 + size_t{limit};
    const auto stream = input.Rest();

    orbel::emulator::FrameDecoder decoder(maxFrameSize);
    std::vector<DecodedFrame> valid;
    uint64_t deliveredBytes = 0;
    size_t fed = 0;
    while (fed < stream.size()) {
        const size_t n = std::min(reads.Next(stream.size() - fed), stream.size() - fed);
        decoder.Feed(stream.subspan(fed, n));
        fed += n;
        while (auto frame = decoder.Next()) {
            if (frame->Valid()) {
                deliveredBytes += frame->payload.size() + 32;
                valid.push_back(std::move(*frame));
                continue;
            }
            // The checks run in order: header checksum, size limit, then the whole frame.
            ORBEL_FUZZ_CHECK(frame->headerChecksumOk || !frame->sizeOk, "no size check before the header checksum");
            ORBEL_FUZZ_CHECK(frame->sizeOk || (!frame->endSequenceOk && !frame->frameChecksumOk),
                             "no frame check before the size check");
            ORBEL_FUZZ_CHECK(frame->payload.empty(), "a rejected candidate keeps no copy of its payload");
            const bool overLimit = uint64_t{frame->sizeField} + 32 > maxFrameSize;
            ORBEL_FUZZ_CHECK(frame->sizeOk || !frame->headerChecksumOk || overLimit,
                             "only frames over the limit fail the size check");
        }
        ORBEL_FUZZ_CHECK(decoder.SkippedBytes() + deliveredBytes + decoder.BufferedBytes() == fed,
                         "every byte fed is skipped, delivered or buffered");
    }

    const std::vector<FrameSpan> expected = orbel::fuzzing::ReferenceFrames(stream.data(), stream.size(), maxFrameSize);
    ORBEL_FUZZ_CHECK(valid.size() == expected.size(), "the decoder finds every frame of the stream once");
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint8_t* frame = stream.data() + expected[i].offset;
        const DecodedFrame& got = valid[i];
        ORBEL_FUZZ_CHECK(got.payload.size() + 32 == expected[i].size, "frame size");
        ORBEL_FUZZ_CHECK(got.counter == orbel::fuzzing::LittleEndian32(frame + 10) &&
                             got.id == orbel::fuzzing::LittleEndian32(frame + 14),
                         "counter and id");
        ORBEL_FUZZ_CHECK(got.payload.empty() || std::memcmp(got.payload.data(), frame + 23, got.payload.size()) == 0,
                         "the payload unchanged");
    }

    // The emulator's own encoder makes frames its decoder and the reference both accept.
    const auto payload = stream.first(std::min<size_t>(stream.size(), 512));
    const std::vector<uint8_t> encoded = orbel::emulator::EncodeFrame(0x1000, static_cast<uint32_t>(fed), payload);
    ORBEL_FUZZ_CHECK(orbel::fuzzing::IsWholeFrame(encoded.data(), encoded.size()), "an encoded frame is valid");
    return 0;
}
