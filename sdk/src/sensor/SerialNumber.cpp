// orbel::sdk::SerialNumber: decoding of the sensor's 32-bit serial number and its text
// form. Let b0..b3 be the value's bytes, least significant first: the type code is
// b0 >> 3, the variation code (b0 >> 1) & 3, the version b1 >> 4, the orientation
// b1 bit 0, and the 20-bit uid ((b1 & 0x0F) << 16) | (b2 << 8) | b3. Bit 0 of b0 is
// unused, so two numbers may decode alike and still differ in raw value.
#include <orbel/sdk/SerialNumber.h>

#include <array>

#include "utilities/StringConversion.h"

namespace orbel::sdk {
namespace {

constexpr uint32_t kUidMask = 0xFFFFF;

std::array<uint8_t, 4> ValueBytes(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

uint32_t FromWireOrder(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

const char* VariationSuffix(SensorVariation variation) {
    switch (variation) {
        case SensorVariation::R17: return " R17";
        case SensorVariation::R28: return " R28";
        case SensorVariation::R39: return " R39";
        case SensorVariation::JW: return " JW";
        case SensorVariation::JY: return " JY";
        case SensorVariation::KB: return " KB";
        default: return " Unknown";
    }
}

}  // namespace

SerialNumber::SerialNumber()
    : type_(SensorType::MK7), uid_(0), variation_(SensorVariation::R17), version_(0), orientation_(false), raw_(0) {}

SerialNumber::SerialNumber(const SerialNumber& other) = default;

SerialNumber& SerialNumber::operator=(const SerialNumber& other) = default;

SerialNumber::SerialNumber(const uint32_t& value) : SerialNumber() {
    const std::array<uint8_t, 4> bytes = ValueBytes(value);
    _DeserializeSerialNumber(bytes.data());
}

SerialNumber::SerialNumber(const uint8_t* bytes) : SerialNumber(FromWireOrder(bytes)) {}

SerialNumber::~SerialNumber() = default;

SensorType SerialNumber::GetSensorType() const { return type_; }

uint32_t SerialNumber::GetSensorUID() const { return uid_; }

SensorVariation SerialNumber::GetSensorVariation() const { return variation_; }

uint32_t SerialNumber::GetSensorTypeVersion() const { return version_; }

bool SerialNumber::GetOrientation() const { return orientation_; }

uint32_t SerialNumber::ToInt() const { return raw_; }

std::string SerialNumber::ToString() const {
    std::string text;
    switch (type_) {
        case SensorType::MR_Q9: text = "MR Q9"; break;
        case SensorType::MK7: text = "MK7"; break;
        default: text = "Unknown"; break;
    }
    if (type_ == SensorType::MR_Q9) text += VariationSuffix(variation_);
    text += " - ";
    text += std::to_string(uid_);
    return text;
}

std::wstring SerialNumber::ToWString() const {
    return orbel::utilities::ConvertToWString(ToString(), orbel::utilities::Encoding::ThreadCodePage);
}

void SerialNumber::_DeserializeSerialNumber(const uint8_t* bytes) {
    type_ = _ExtractSensorType(bytes);
    uid_ = _ExtractUID(bytes);
    variation_ = _ExtractVariation(bytes);
    version_ = _ExtractVersion(bytes);
    orientation_ = _ExtractOrientation(bytes);
    raw_ = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

SensorType SerialNumber::_ExtractSensorType(const uint8_t* bytes) const {
    switch (bytes[0] >> 3) {
        case 2: return SensorType::MR_Q9;
        case 3: return SensorType::MK7;
        default: return SensorType::Unknown;
    }
}

uint32_t SerialNumber::_ExtractUID(const uint8_t* bytes) const {
    // Yields b3, b2, b1: the uid's least significant byte is the value's most significant.
    std::array<uint8_t, 3> reversed{};
    orbel::utilities::ReverseBytes(reversed.data(), bytes, reversed.size());
    const uint32_t uid = static_cast<uint32_t>(reversed[0]) | static_cast<uint32_t>(reversed[1]) << 8 |
                         static_cast<uint32_t>(reversed[2]) << 16;
    return uid & kUidMask;
}

// Reads type_, so the type must be extracted first.
SensorVariation SerialNumber::_ExtractVariation(const uint8_t* bytes) const {
    switch (type_) {
        case SensorType::MR_Q9:
            switch ((bytes[0] >> 1) & 3) {
                case 0: return SensorVariation::JW;
                case 1: return SensorVariation::JY;
                case 2: return SensorVariation::KB;
                default: return SensorVariation::Unknown;
            }
        case SensorType::MK7: return SensorVariation::MK7Variant;
        default: return SensorVariation::Unknown;
    }
}

uint32_t SerialNumber::_ExtractVersion(const uint8_t* bytes) const { return bytes[1] >> 4; }

bool SerialNumber::_ExtractOrientation(const uint8_t* bytes) const { return (bytes[1] & 1) != 0; }

}  // namespace orbel::sdk
