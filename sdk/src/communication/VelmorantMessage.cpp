// VelmorantMessage: building, stamping, validating and copying wire frames, and the
// frame format's additive checksum. Guarantees: a message's three pointers always
// point into its own vector; a validated message is exactly one consistent frame.
#include "communication/VelmorantMessage.h"

#include <algorithm>
#include <cstring>
#include <string>

#if (defined(__SSE2__) && defined(__x86_64__)) || defined(_M_X64)
#include <emmintrin.h>
#define ORBEL_BYTESUM_SSE2 1
#endif

#include <orbel/sdk/Exception.h>

#include "utilities/Logging.h"

namespace orbel::communication {
namespace {

void WriteU32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// Everything of a consistent frame but its frame checksum.
bool IsConsistentFrameShape(const uint8_t* data, size_t length) {
    if (data == nullptr || length < kHeaderSize) return false;
    if (std::memcmp(data, kStartSequence.data(), kStartSequence.size()) != 0) return false;
    if (data[kHeaderChecksumOffset] != ByteSum(data, kHeaderChecksumOffset)) return false;
    // In 64 bits: a size field of 0xFFFFFFFF must not wrap round to a 31-byte frame.
    const uint64_t expected = static_cast<uint64_t>(ReadU32(data + kSizeOffset)) + kFrameOverhead;
    if (static_cast<uint64_t>(length) != expected) return false;
    return std::memcmp(data + length - kEndSequence.size(), kEndSequence.data(), kEndSequence.size()) == 0;
}

}  // namespace

bool IsConsistentFrame(const uint8_t* data, size_t length) {
    if (!IsConsistentFrameShape(data, length)) return false;
    const size_t checksumAt = length - kFrameChecksumFromEnd;
    return data[checksumAt] == ByteSum(data, checksumAt);
}

bool IsConsistentFrame(const uint8_t* data, size_t length, uint8_t sumBeforeChecksum) {
    return IsConsistentFrameShape(data, length) && data[length - kFrameChecksumFromEnd] == sumBeforeChecksum;
}

uint8_t ByteSum(const uint8_t* data, size_t size) {
    uint64_t sum = 0;
    size_t i = 0;
#if defined(ORBEL_BYTESUM_SSE2)
    // psadbw against zero adds eight bytes into each 64-bit lane; it cannot overflow here.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero;
    __m128i acc1 = zero;
    for (; i + 64 <= size; i += 64) {
        const auto* block = reinterpret_cast<const __m128i*>(data + i);
        const __m128i a = _mm_loadu_si128(block);
        const __m128i b = _mm_loadu_si128(block + 1);
        const __m128i c = _mm_loadu_si128(block + 2);
        const __m128i d = _mm_loadu_si128(block + 3);
        acc0 = _mm_add_epi64(acc0, _mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)));
        acc1 = _mm_add_epi64(acc1, _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero)));
    }
    for (; i + 16 <= size; i += 16) {
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), zero));
    }
    const __m128i acc = _mm_add_epi64(acc0, acc1);
    sum = static_cast<uint64_t>(_mm_cvtsi128_si64(acc)) +
          static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; i < size; ++i) sum += data[i];
    return static_cast<uint8_t>(sum);
}

VelmorantMessage::VelmorantMessage() : frame_(kFrameOverhead, 0) { _Allocate(0); }

VelmorantMessage::VelmorantMessage(const size_t& size, const bool& isPayloadSize) : frame_(size, 0) {
    if (!isPayloadSize && size < kFrameOverhead) {
        // size - 32 would wrap round to an absurd payload size.
        throw orbel::sdk::Exception("A frame cannot be smaller than its 32 bytes of overhead.",
                                    orbel::sdk::SensorError::PAYLOAD_INCORRECT);
    }
    _Allocate(isPayloadSize ? size : size - kFrameOverhead);
}

VelmorantMessage::VelmorantMessage(const uint8_t* data, const size_t& length) {
    if (!Load(data, length)) {
        throw orbel::sdk::Exception("The provided buffer does not contain a consistent TCPmessage.",
                                    orbel::sdk::SensorError::PAYLOAD_INCORRECT);
    }
}

bool VelmorantMessage::Load(const uint8_t* data, size_t length) {
    if (!IsConsistentFrame(data, length)) return false;
    Assign(data, length);
    return true;
}

bool VelmorantMessage::Load(const uint8_t* data, size_t length, uint8_t sumBeforeChecksum) {
    if (!IsConsistentFrame(data, length, sumBeforeChecksum)) return false;
    Assign(data, length);
    return true;
}

void VelmorantMessage::Assign(const uint8_t* data, size_t length) {
    // assign copies straight from the source, without zero-filling first, and keeps
    // the capacity of a reused message.
    frame_.assign(data, data + length);
    total_ = length;
    _SetPointers();
}

VelmorantMessage::VelmorantMessage(const VelmorantMessage& other)
    : frame_(other.frame_.begin(), other.frame_.begin() + static_cast<std::ptrdiff_t>(other.total_)),
      total_(other.total_) {
    _SetPointers();
}

VelmorantMessage& VelmorantMessage::operator=(const VelmorantMessage& other) {
    return *this = static_cast<const IMessage&>(other);
}

VelmorantMessage& VelmorantMessage::operator=(const IMessage& other) {
    if (static_cast<const IMessage*>(this) == &other) return *this;
    const uint64_t size = other.GetSize();
    if (size < kFrameOverhead) {
        throw orbel::sdk::Exception("The provided buffer does not contain a consistent TCPmessage.",
                                    orbel::sdk::SensorError::PAYLOAD_INCORRECT);
    }
    _Allocate(static_cast<size_t>(size - kFrameOverhead));
    std::memcpy(frame_.data(), other.GetData(), static_cast<size_t>(size));
    _SetPointers();
    return *this;
}

uint32_t VelmorantMessage::GetId() const { return ReadU32(header_ + kIdOffset); }

void VelmorantMessage::SetId(const uint32_t& id) {
    WriteU32(header_ + kIdOffset, id);
    _UpdateChecksums();
}

void VelmorantMessage::SetCounter(const uint32_t& counter) {
    WriteU32(header_ + kCounterOffset, counter);
    _UpdateChecksums();
}

uint32_t VelmorantMessage::GetCounter() const { return ReadU32(header_ + kCounterOffset); }

void VelmorantMessage::Finalize() {
    std::copy(kStartSequence.begin(), kStartSequence.end(), header_);
    std::copy(kEndSequence.begin(), kEndSequence.end(), header_ + total_ - kEndSequence.size());
    header_[8] = 1;
    header_[9] = 1;
    WriteU32(header_ + kSizeOffset, static_cast<uint32_t>(total_ - kFrameOverhead));
    _UpdateChecksums();
}

const uint8_t* VelmorantMessage::GetData() const { return header_; }

uint64_t VelmorantMessage::GetSize() const { return total_; }

uint8_t* VelmorantMessage::GetPayload() { return payload_; }

const uint8_t* VelmorantMessage::GetPayload() const { return payload_; }

void VelmorantMessage::ReleaseStorage() {
    std::vector<uint8_t>(kFrameOverhead, 0).swap(frame_);
    _Allocate(0);
}

uint32_t VelmorantMessage::GetPayloadSize() const { return static_cast<uint32_t>(total_ - kFrameOverhead); }

void VelmorantMessage::_Allocate(const size_t& payloadSize) {
    total_ = static_cast<uint64_t>(payloadSize) + kFrameOverhead;
    if (total_ > frame_.size()) {
        ORBEL_LOG_DEBUG(L"Resizing the VelmorantMessage to " + std::to_wstring(total_) + L" bytes.");
        frame_.resize(static_cast<size_t>(total_), 0);
    }
    _SetPointers();
    WriteU32(header_ + kSizeOffset, static_cast<uint32_t>(payloadSize));
}

void VelmorantMessage::_SetPointers() {
    if (total_ > frame_.size()) {
        ORBEL_LOG_DEBUG(L"Resizing the VelmorantMessage to " + std::to_wstring(total_) + L" bytes.");
        frame_.resize(static_cast<size_t>(total_), 0);
    }
    header_ = frame_.data();
    payload_ = header_ + kHeaderSize;
    checksum_ = header_ + total_ - kFrameChecksumFromEnd;
}

void VelmorantMessage::_UpdateChecksums() {
    header_[kHeaderChecksumOffset] = ByteSum(header_, kHeaderChecksumOffset);
    *checksum_ = ByteSum(header_, static_cast<size_t>(total_) - kFrameChecksumFromEnd);
}

}  // namespace orbel::communication
