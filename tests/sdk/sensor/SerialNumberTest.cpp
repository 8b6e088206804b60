// SerialNumber: decoding of wire bytes and values into fields, and the text form.
#include <orbel/sdk/SerialNumber.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

using orbel::sdk::SensorType;
using orbel::sdk::SensorVariation;
using orbel::sdk::SerialNumber;

struct Decoded {
    const char* name;
    uint32_t value;
    SensorType type;
    SensorVariation variation;
    uint32_t version;
    bool orientation;
    uint32_t uid;
    const char* text;
};

// Byte 0 (least significant) of the value: type code << 3 | variation code << 1.
constexpr uint32_t Byte0(uint32_t typeCode, uint32_t variationCode) { return typeCode << 3 | variationCode << 1; }

const Decoded kDecoded[] = {
    {"ExampleMrQ9Jy", 0x03023112, SensorType::MR_Q9, SensorVariation::JY, 3, true, 66051, "MR Q9 JY - 66051"},
    {"ExampleUnknown", 0x12345678, SensorType::Unknown, SensorVariation::Unknown, 5, false, 406546, "Unknown - 406546"},
    {"MrQ9Jw", Byte0(2, 0), SensorType::MR_Q9, SensorVariation::JW, 0, false, 0, "MR Q9 JW - 0"},
    {"MrQ9Kb", Byte0(2, 2), SensorType::MR_Q9, SensorVariation::KB, 0, false, 0, "MR Q9 KB - 0"},
    {"MrQ9VariationCode3", 0x00070000u | Byte0(2, 3), SensorType::MR_Q9, SensorVariation::Unknown, 0, false, 0x700,
     "MR Q9 Unknown - 1792"},
    // MK7 prints no variation, whatever the code.
    {"Mk7Code0", 0x2A000000u | Byte0(3, 0), SensorType::MK7, SensorVariation::MK7Variant, 0, false, 42, "MK7 - 42"},
    {"Mk7Code1", Byte0(3, 1), SensorType::MK7, SensorVariation::MK7Variant, 0, false, 0, "MK7 - 0"},
    {"Mk7Code3", 0x0000F300u | Byte0(3, 3), SensorType::MK7, SensorVariation::MK7Variant, 15, true, 0x30000,
     "MK7 - 196608"},
    {"TypeCode0IsUnknown", Byte0(0, 1), SensorType::Unknown, SensorVariation::Unknown, 0, false, 0, "Unknown - 0"},
    {"TypeCode31IsUnknown", Byte0(31, 3), SensorType::Unknown, SensorVariation::Unknown, 0, false, 0, "Unknown - 0"},
    // Byte 2 is the uid's middle byte; byte 1's low nibble its top four bits.
    {"UidMiddleByte", 0x000F0000, SensorType::Unknown, SensorVariation::Unknown, 0, false, 0xF00, "Unknown - 3840"},
    {"UidFullWidth", 0xFFFF0F00u | Byte0(3, 0), SensorType::MK7, SensorVariation::MK7Variant, 0, true, 0xFFFFF,
     "MK7 - 1048575"},
};

void PrintTo(const Decoded& d, std::ostream* os) { *os << d.name; }

class SerialNumberDecoding : public ::testing::TestWithParam<Decoded> {};

TEST_P(SerialNumberDecoding, FromValue) {
    const Decoded& d = GetParam();
    const SerialNumber serial(d.value);
    EXPECT_EQ(serial.GetSensorType(), d.type);
    EXPECT_EQ(serial.GetSensorVariation(), d.variation);
    EXPECT_EQ(serial.GetSensorTypeVersion(), d.version);
    EXPECT_EQ(serial.GetOrientation(), d.orientation);
    EXPECT_EQ(serial.GetSensorUID(), d.uid);
    EXPECT_EQ(serial.ToInt(), d.value);
    EXPECT_EQ(serial.ToString(), d.text);
    EXPECT_EQ(serial.ToWString(), std::wstring(d.text, d.text + std::char_traits<char>::length(d.text)));
}

TEST_P(SerialNumberDecoding, FromWireBytesMostSignificantFirst) {
    const uint32_t v = GetParam().value;
    const std::array<uint8_t, 4> wire{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                      static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    const SerialNumber serial(wire.data());
    EXPECT_EQ(serial.ToInt(), v);
    EXPECT_EQ(serial.GetSensorUID(), GetParam().uid);
    EXPECT_EQ(serial.ToString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, SerialNumberDecoding, ::testing::ValuesIn(kDecoded),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialNumber, WireExampleGivesItsValue) {
    const std::array<uint8_t, 4> wire{0x03, 0x02, 0x31, 0x12};
    EXPECT_EQ(SerialNumber(wire.data()).ToInt(), 0x03023112u);
}

TEST(SerialNumber, DefaultIsMk7WithZeroes) {
    const SerialNumber serial;
    EXPECT_EQ(serial.GetSensorType(), SensorType::MK7);
    EXPECT_EQ(serial.GetSensorVariation(), SensorVariation::R17);
    EXPECT_EQ(serial.GetSensorUID(), 0u);
    EXPECT_EQ(serial.GetSensorTypeVersion(), 0u);
    EXPECT_FALSE(serial.GetOrientation());
    EXPECT_EQ(serial.ToInt(), 0u);
    EXPECT_EQ(serial.ToString(), "MK7 - 0");
    EXPECT_EQ(serial.ToWString(), L"MK7 - 0");
}

TEST(SerialNumber, UnusedBitChangesOnlyTheRawValue) {
    const SerialNumber even(0x03023112u);
    const SerialNumber odd(0x03023113u);
    EXPECT_EQ(odd.GetSensorType(), even.GetSensorType());
    EXPECT_EQ(odd.GetSensorVariation(), even.GetSensorVariation());
    EXPECT_EQ(odd.GetSensorTypeVersion(), even.GetSensorTypeVersion());
    EXPECT_EQ(odd.GetOrientation(), even.GetOrientation());
    EXPECT_EQ(odd.GetSensorUID(), even.GetSensorUID());
    EXPECT_EQ(odd.ToString(), even.ToString());
    EXPECT_NE(odd.ToInt(), even.ToInt());
}

TEST(SerialNumber, CopiesCarryEveryField) {
    const SerialNumber source(0x03023112u);
    SerialNumber assigned(0x12345678u);
    const SerialNumber& assignedRef = assigned;
    assigned = source;
    const SerialNumber copied(source);
    for (const SerialNumber* s : {&assignedRef, &copied}) {
        EXPECT_EQ(s->GetSensorType(), SensorType::MR_Q9);
        EXPECT_EQ(s->GetSensorVariation(), SensorVariation::JY);
        EXPECT_EQ(s->GetSensorTypeVersion(), 3u);
        EXPECT_TRUE(s->GetOrientation());
        EXPECT_EQ(s->GetSensorUID(), 66051u);
        EXPECT_EQ(s->ToInt(), 0x03023112u);
    }
}

}  // namespace
