// orbel::sdk::SerialNumber: the sensor's 32-bit serial number, decoded into
// type, variation, version, orientation and a 20-bit unit id. A plain value type.
#pragma once

#include <cstdint>
#include <string>

#include <orbel/sdk/Export.h>

namespace orbel::sdk {

enum class SensorType : uint32_t {
    MR_Q9 = 0,
    MK7 = 1,
    Unknown = 2,
};

enum class SensorVariation : uint32_t {
    R17 = 0,
    R28 = 1,
    R39 = 2,
    JW = 3,
    JY = 4,
    KB = 5,
    MK7Variant = 6,
    Unknown = 7,
};

class ORBEL_SDK_API SerialNumber {
public:
    SerialNumber();
    SerialNumber(const SerialNumber& other);
    SerialNumber& operator=(const SerialNumber& other);
    explicit SerialNumber(const uint32_t& value);
    // Four bytes in wire order, most significant first.
    explicit SerialNumber(const uint8_t* bytes);
    virtual ~SerialNumber();

    SensorType GetSensorType() const;
    uint32_t GetSensorUID() const;
    SensorVariation GetSensorVariation() const;
    uint32_t GetSensorTypeVersion() const;
    bool GetOrientation() const;
    uint32_t ToInt() const;

    std::string ToString() const;
    std::wstring ToWString() const;

private:
    // Each takes the four value bytes, least significant first.
    void _DeserializeSerialNumber(const uint8_t* bytes);
    SensorType _ExtractSensorType(const uint8_t* bytes) const;
    uint32_t _ExtractUID(const uint8_t* bytes) const;
    SensorVariation _ExtractVariation(const uint8_t* bytes) const;
    uint32_t _ExtractVersion(const uint8_t* bytes) const;
    bool _ExtractOrientation(const uint8_t* bytes) const;

    SensorType type_;
    uint32_t uid_;
    SensorVariation variation_;
    uint32_t version_;
    bool orientation_;
    uint32_t raw_;
};

}  // namespace orbel::sdk
