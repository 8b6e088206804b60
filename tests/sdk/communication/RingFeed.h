// Moves bytes into a receive ring exactly as the TCP connection's receive completion
// does (write position, contiguous free space, CommitWrite, write index), and
// crafts wire headers and hostile streams, so parser tests and benchmarks share one
// feeding path.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "communication/IParser.h"
#include "support/RawFrame.h"
#include "utilities/CircularBuffer.h"

namespace orbel::testing {

using ByteRing = orbel::utilities::CircularBuffer<uint8_t>;

// One socket read of at most `size` bytes into the ring's free space; returns how many were taken.
inline size_t ReceiveInto(ByteRing& ring, const uint8_t* data, size_t size) {
    const auto [position, room] = ring.WriteSpan();
    const size_t n = std::min(size, room);
    if (n == 0) return 0;
    std::memcpy(position, data, n);
    ring.FinishWrite(n);
    return n;
}

// Feeds `size` bytes in reads of at most `chunk` bytes and parses after every read;
// a ring left full after parsing is cleared, as the connection does.
inline void FeedInReads(ByteRing& ring, orbel::communication::IParser& parser, const uint8_t* data, size_t size,
                        size_t chunk) {
    while (size > 0) {
        const size_t n = ReceiveInto(ring, data, std::min(chunk, size));
        data += n;
        size -= n;
        parser.Parse(ring);
        if (ring.ContiguousWriteSize() == 0) ring.Clear();
    }
}

inline void FeedInReads(ByteRing& ring, orbel::communication::IParser& parser, const std::vector<uint8_t>& bytes,
                        size_t chunk) {
    FeedInReads(ring, parser, bytes.data(), bytes.size(), chunk);
}

// A 23-byte header with any size field and a correct header checksum.
inline std::vector<uint8_t> RawHeader(uint32_t id, uint32_t counter, uint32_t payloadSize) {
    std::vector<uint8_t> header = RawFrame(id, counter, {});
    header.resize(23);
    for (int i = 0; i < 4; ++i) header[18 + i] = static_cast<uint8_t>(payloadSize >> (8 * i));
    header[22] = SumBytes(header.data(), 22);
    return header;
}

// Back-to-back headers, each with a correct header checksum, whose size fields all
// reach one shared end sequence, so every header is a candidate that spans the rest
// of the stream; `size` bytes in all. Each candidate's frame checksum fails: a
// header's bytes sum to an even number (its checksum repeats the sum of the rest),
// and the shared checksum byte is odd. Empty when `size` cannot hold one header.
inline std::vector<uint8_t> SharedEndHeaders(size_t size) {
    constexpr size_t kTrailer = 9;  // frame checksum and end sequence
    if (size < 23 + kTrailer) return {};
    const size_t headers = (size - kTrailer) / 23;
    std::vector<uint8_t> stream((size - kTrailer) % 23, 0x55);  // padding that holds no 0x02
    const size_t end = size;
    for (size_t i = 0; i < headers; ++i) {
        const size_t at = stream.size();
        const auto header = RawHeader(0x1000, static_cast<uint32_t>(i), static_cast<uint32_t>(end - at - 32));
        stream.insert(stream.end(), header.begin(), header.end());
    }
    stream.push_back(0x01);
    stream.insert(stream.end(), 8, 0x03);
    return stream;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace orbel::testing
