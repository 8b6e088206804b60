// Damaged frames and malformed point-cloud payloads (see FaultFrames.h).
#include "FaultFrames.h"

#include <stdexcept>

#include <orbel/emulator/PointCloudGenerator.h>
#include <orbel/emulator/WireFrame.h>

#include "ByteOrder.h"

namespace orbel::emulator::detail {

void DamageFrame(std::vector<uint8_t>& frame, FrameFault fault) {
    const size_t checksumAt = frame.size() - kSequenceLength - 1;
    switch (fault) {
        case FrameFault::BadHeaderChecksum:
            frame[kHeaderChecksumOffset] = static_cast<uint8_t>(frame[kHeaderChecksumOffset] + 1);
            frame[checksumAt] = ByteSum({frame.data(), checksumAt});
            return;
        case FrameFault::BadFrameChecksum:
            frame[checksumAt] = static_cast<uint8_t>(frame[checksumAt] + 1);
            return;
        case FrameFault::BadEndSequence:
            frame.back() = 0x00;
            return;
    }
    throw std::invalid_argument("unknown frame fault");
}

std::vector<uint8_t> LoneHeader(uint32_t id, uint32_t counter, uint32_t payloadSize) {
    std::vector<uint8_t> header(kHeaderSize, kStartByte);
    header[8] = 0x01;
    header[9] = 0x01;
    WriteLE32(header.data() + kCounterOffset, counter);
    WriteLE32(header.data() + kIdOffset, id);
    WriteLE32(header.data() + kSizeOffset, payloadSize);
    header[kHeaderChecksumOffset] = ByteSum({header.data(), kHeaderChecksumOffset});
    return header;
}

std::vector<uint8_t> MalformPointCloud(MalformedPointCloud kind, std::span<const uint8_t> valid) {
    if (valid.size() <= payload::kPointDataOffset) throw std::invalid_argument("needs a payload with points");
    std::vector<uint8_t> bytes(valid.begin(), valid.end());
    switch (kind) {
        case MalformedPointCloud::Empty:
            bytes.clear();
            break;
        case MalformedPointCloud::TooShortForVersion:
            bytes.resize(3);
            break;
        case MalformedPointCloud::WrongMetadataVersion:
            bytes[payload::kMetadataVersionOffset] = payload::kMetadataVersion + 1;
            break;
        case MalformedPointCloud::TooShortForMetadata:
            bytes.resize(100);
            break;
        case MalformedPointCloud::TooShortForPointHeader:
            bytes.resize(260);
            break;
        case MalformedPointCloud::BadPointDataVersion:
            bytes[payload::kPointDataVersionOffset] = payload::kPointDataVersion + 1;
            break;
        case MalformedPointCloud::UnsupportedPointType:
            bytes[payload::kPointTypeOffset] = 0x61;
            break;
        case MalformedPointCloud::InsufficientData:
            bytes.pop_back();
            break;
    }
    return bytes;
}

}  // namespace orbel::emulator::detail
