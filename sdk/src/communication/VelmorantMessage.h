// orbel::communication::VelmorantMessage: one wire frame held in one contiguous
// byte vector (all fields little-endian, n = payload size):
//
//   0  8  start sequence, eight 0x02      14  4  message id
//   8  1  0x01                            18  4  payload size n
//   9  1  0x01                            22  1  header checksum (sum of bytes 0..21 mod 256)
//  10  4  counter                         23  n  payload
//  23+n 1 frame checksum (sum of bytes 0..22+n mod 256)   24+n 8 end sequence, eight 0x03
//
// No lock: a message is built on one thread and handed over through the send
// queue, or created, read and dropped on the connection's I/O thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "communication/IMessage.h"

namespace orbel::communication {

constexpr size_t kFrameOverhead = 32;
constexpr size_t kHeaderSize = 23;
constexpr size_t kSequenceSize = 8;
constexpr size_t kCounterOffset = 10;
constexpr size_t kIdOffset = 14;
constexpr size_t kSizeOffset = 18;
constexpr size_t kHeaderChecksumOffset = 22;
// The frame checksum byte lies this far before the end of the frame.
constexpr size_t kFrameChecksumFromEnd = 9;
constexpr std::array<uint8_t, 8> kStartSequence{0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02};
constexpr std::array<uint8_t, 8> kEndSequence{0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03};

class VelmorantMessage : public IMessage {
public:
    // An empty message: 32 zero bytes, payload size 0.
    VelmorantMessage();
    // With isPayloadSize, size is the payload size; otherwise the total frame size.
    // Start and end sequences and checksums stay zero until Finalize.
    VelmorantMessage(const size_t& size, const bool& isPayloadSize);
    // Validating construction from received bytes; throws orbel::sdk::Exception
    // PAYLOAD_INCORRECT (13) when they are not one consistent frame.
    VelmorantMessage(const uint8_t* data, const size_t& length);

    // The validating construction into an existing message, reusing its storage; false
    // (and the message unchanged) when the bytes are not one consistent frame.
    bool Load(const uint8_t* data, size_t length);
    // The same with the sum of the bytes before the frame checksum (modulo 256) given by
    // a caller that already knows it; every other check is made here.
    bool Load(const uint8_t* data, size_t length, uint8_t sumBeforeChecksum);

    VelmorantMessage(const VelmorantMessage& other);
    VelmorantMessage& operator=(const VelmorantMessage& other);
    VelmorantMessage& operator=(const IMessage& other);
    ~VelmorantMessage() override = default;

    uint32_t GetId() const override;
    void SetId(const uint32_t& id);
    void SetCounter(const uint32_t& counter) override;
    uint32_t GetCounter() const;
    void Finalize() override;
    const uint8_t* GetData() const override;
    uint64_t GetSize() const override;

    uint8_t* GetPayload();
    const uint8_t* GetPayload() const;
    uint32_t GetPayloadSize() const;

    // Bytes the message's storage holds, which may exceed its frame: a reused message
    // keeps the storage of the largest frame it held.
    size_t StorageBytes() const { return frame_.capacity(); }
    // Gives the storage back and becomes an empty message (32 zero bytes).
    void ReleaseStorage();

private:
    void _Allocate(const size_t& payloadSize);
    void _SetPointers();
    void _UpdateChecksums();
    void Assign(const uint8_t* data, size_t length);

    std::vector<uint8_t> frame_;
    uint64_t total_ = 0;
    uint8_t* header_ = nullptr;
    uint8_t* payload_ = nullptr;
    uint8_t* checksum_ = nullptr;
};

// Additive checksum of the frame format: the sum of the bytes modulo 256.
uint8_t ByteSum(const uint8_t* data, size_t size);

// Whether `length` bytes are exactly one consistent frame: start sequence, header
// checksum, size field, end sequence and frame checksum. The second form takes the
// sum of the bytes before the frame checksum instead of computing it.
bool IsConsistentFrame(const uint8_t* data, size_t length);
bool IsConsistentFrame(const uint8_t* data, size_t length, uint8_t sumBeforeChecksum);

// The frame's little-endian 32-bit fields.
inline uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace orbel::communication
