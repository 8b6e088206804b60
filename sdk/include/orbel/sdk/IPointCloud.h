// One line point cloud as every consumer sees it. IColorizableData is what the
// colorizer needs (coordinates, time stamps, colours); IPointCloud adds the rest
// of the point-cloud message. Neither has a lock: one thread uses a cloud at a time.
// Failures are std::runtime_error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <orbel/sdk/Export.h>

namespace orbel::sdk {

// One point's colour: red, green, blue.
struct RGB {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const RGB&) const = default;
};

// The fields of the message's 255-byte metadata block that the cloud decodes.
struct PointCloudMetadata {
    uint64_t alternateTimestamp_us = 0;  // bytes 19..26
    uint64_t timestamp_us = 0;           // bytes 27..34
    uint64_t reserved43 = 0;             // bytes 43..50, carried, not interpreted
    uint32_t frameNumber = 0;            // bytes 12..15
    uint8_t lineIndex = 0;               // byte 17
    uint8_t reserved16 = 0;              // byte 16, carried, not interpreted
    uint32_t reserved8 = 0;              // bytes 8..11, carried, not interpreted
    uint8_t reserved18 = 0;              // byte 18, carried, not interpreted
};

struct AuxiliaryInfo {
    std::array<uint8_t, 16> block{};  // metadata bytes 141..156
    double value = 0.0;               // metadata bytes 157..164
};

struct ScanInfo {
    uint32_t value = 0;   // metadata bytes 79..82
    float maxInput = 0;   // the larger of the floats at 63 and 71
};

class ORBEL_SDK_API IColorizableData {
public:
    IColorizableData();
    IColorizableData(const IColorizableData& other);
    IColorizableData& operator=(const IColorizableData& other);
    virtual ~IColorizableData();

    virtual size_t GetPointCount() const = 0;
    virtual const std::vector<float>& GetX() = 0;
    virtual const std::vector<float>& GetY() = 0;
    virtual const std::vector<float>& GetZ() = 0;
    virtual uint64_t GetTimestamp() const = 0;
    virtual uint64_t GetAlternateTimestamp() const = 0;
    virtual void SetColors(const std::vector<RGB>& colors) = 0;
};

class ORBEL_SDK_API IPointCloud : public IColorizableData {
public:
    virtual const std::vector<float>& GetDistance() = 0;
    virtual const std::vector<float>& GetReflectivity() = 0;
    virtual const std::vector<uint16_t>& GetAmbient() = 0;
    virtual const std::vector<uint32_t>& GetConfidence() = 0;
    virtual const PointCloudMetadata& GetMetadata() const = 0;
    virtual const AuxiliaryInfo& GetAuxiliaryInfo() = 0;
    virtual const ScanInfo& GetScanInfo() = 0;
    virtual const std::vector<RGB>& GetColors() = 0;
    virtual const std::vector<uint8_t>& Serialize() = 0;
    virtual void Deserialize(const uint8_t* data, size_t size) = 0;
    virtual void Deserialize(const std::vector<uint8_t>& bytes) = 0;
};

// A new, empty cloud; fill it with Deserialize.
ORBEL_SDK_API std::unique_ptr<IPointCloud> CreatePointCloud();

}  // namespace orbel::sdk
