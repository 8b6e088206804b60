// The bytes waiting to leave for the client, in order. A chunk either owns its bytes
// or borrows them from a buffer whose owner keeps them unchanged until the queue has
// drained (the flood block). Used by the emulator's I/O thread only; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace orbel::emulator::detail {

class OutputQueue {
public:
    enum class FlushResult { Drained, WouldBlock, Failed };

    void Push(std::vector<uint8_t> bytes);
    void PushBorrowed(std::span<const uint8_t> bytes, bool flood);

    // Sends as much as the socket takes without blocking. On Failed, errno holds the
    // socket's error.
    FlushResult Flush(int fd);

    bool Empty() const { return chunks_.empty(); }
    size_t Bytes() const { return bytes_; }
    // Bytes of borrowed flood chunks that have left so far.
    uint64_t FloodBytesSent() const { return floodBytesSent_; }
    void Clear();

private:
    struct Chunk {
        std::vector<uint8_t> owned;
        std::span<const uint8_t> view;  // what is sent: owned's bytes or the borrowed ones
        bool flood = false;
    };

    std::deque<Chunk> chunks_;
    size_t headOffset_ = 0;  // bytes of the first chunk already sent
    size_t bytes_ = 0;       // unsent bytes
    uint64_t floodBytesSent_ = 0;
};

}  // namespace orbel::emulator::detail
