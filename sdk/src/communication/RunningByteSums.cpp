// RunningByteSums: 128-byte block sums kept as running (prefix) sums, extended only
// forward and trimmed from the front, so the work is linear in the bytes summed.
#include "communication/RunningByteSums.h"

#if (defined(__SSE2__) && defined(__x86_64__)) || defined(_M_X64)
#include <emmintrin.h>
#define ORBEL_BLOCKSUM_SSE2 1
#endif

#include "communication/VelmorantMessage.h"

namespace orbel::communication {
namespace {

// Blocks wholly behind the first unread byte are dropped once there are this many
// and they make up at least half of what is kept: each block is moved O(1) times.
constexpr size_t kTrimBlocks = 4096;

// Appends the running sum after each of `blocks` blocks starting at `data`. A block is
// large enough that one horizontal add per block costs about what a plain streaming
// sum of the same bytes costs.
void AppendBlockSums(const uint8_t* data, size_t blocks, std::vector<uint8_t>& prefix) {
    static_assert(RunningByteSums::kBlock == 128);
    const size_t first = prefix.size();
    prefix.resize(first + blocks);
    uint8_t* out = prefix.data() + first;
    uint8_t running = prefix[first - 1];
#if defined(ORBEL_BLOCKSUM_SSE2)
    const __m128i zero = _mm_setzero_si128();
    for (size_t k = 0; k < blocks; ++k, data += RunningByteSums::kBlock) {
        const auto* v = reinterpret_cast<const __m128i*>(data);
        // psadbw against zero adds eight bytes into each 64-bit lane.
        const __m128i a = _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(v), zero), _mm_sad_epu8(_mm_loadu_si128(v + 1), zero));
        const __m128i b = _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(v + 2), zero), _mm_sad_epu8(_mm_loadu_si128(v + 3), zero));
        const __m128i c = _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(v + 4), zero), _mm_sad_epu8(_mm_loadu_si128(v + 5), zero));
        const __m128i d = _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(v + 6), zero), _mm_sad_epu8(_mm_loadu_si128(v + 7), zero));
        const __m128i lanes = _mm_add_epi64(_mm_add_epi64(a, b), _mm_add_epi64(c, d));
        const __m128i both = _mm_add_epi64(lanes, _mm_unpackhi_epi64(lanes, lanes));
        running = static_cast<uint8_t>(running + _mm_cvtsi128_si32(both));
        out[k] = running;
    }
#else
    for (size_t k = 0; k < blocks; ++k, data += RunningByteSums::kBlock) {
        running = static_cast<uint8_t>(running + ByteSum(data, RunningByteSums::kBlock));
        out[k] = running;
    }
#endif
}

}  // namespace

uint8_t RunningByteSums::Direct(const uint8_t* data, size_t length) {
    if (length == 0) return 0;
    summed_ += length;
    return ByteSum(data, length);
}

void RunningByteSums::Forget() {
    origin_ = position_;
    prefix_.assign(1, 0);
}

uint8_t RunningByteSums::Sum(const uint8_t* unread, size_t length) {
    const uint64_t from = position_;
    const uint64_t to = from + length;
    if (from >= Frontier()) {
        // Nothing summed lies ahead: start afresh here.
        Forget();
    } else {
        const uint64_t behind = (from - origin_) / kBlock;
        if (behind >= kTrimBlocks && behind * 2 >= prefix_.size()) {
            prefix_.erase(prefix_.begin(), prefix_.begin() + static_cast<std::ptrdiff_t>(behind));
            origin_ += behind * kBlock;
        }
    }
    // Extend over every whole block that ends within the query; they start at or after `from`.
    if (Frontier() + kBlock <= to) {
        const size_t blocks = static_cast<size_t>((to - Frontier()) / kBlock);
        AppendBlockSums(unread + (Frontier() - from), blocks, prefix_);
        summed_ += blocks * kBlock;
    }
    // Block boundaries: the first at or after `from`, the last at or before `to`.
    const uint64_t firstBoundary = (from - origin_ + kBlock - 1) / kBlock;
    const uint64_t lastBoundary = (to - origin_) / kBlock;
    if (firstBoundary >= lastBoundary) return Direct(unread, length);  // less than two blocks
    const size_t head = static_cast<size_t>(origin_ + firstBoundary * kBlock - from);
    const size_t tailStart = static_cast<size_t>(origin_ + lastBoundary * kBlock - from);
    const uint8_t middle = static_cast<uint8_t>(prefix_[lastBoundary] - prefix_[firstBoundary]);
    return static_cast<uint8_t>(Direct(unread, head) + middle + Direct(unread + tailStart, length - tailStart));
}

}  // namespace orbel::communication
