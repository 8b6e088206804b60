// Narrow/wide conversions in each encoding, their failures, and ReverseBytes.
#include <gtest/gtest.h>

#include <stdexcept>

#include <orbel/sdk/Exception.h>

#include "utilities/StringConversion.h"

namespace {

using orbel::utilities::ConvertToString;
using orbel::utilities::ConvertToWString;
using orbel::utilities::Encoding;

struct RoundTrip {
    Encoding encoding;
    std::wstring wide;
    std::string narrow;
};

TEST(StringConversion, ConvertsBothWaysInEachEncoding) {
    const RoundTrip cases[] = {
        {Encoding::ThreadCodePage, L"Sensor moved to new state: Idle", "Sensor moved to new state: Idle"},
        {Encoding::UTF8, L"\u00b5s \u20ac \U0001F600", "\xc2\xb5s \xe2\x82\xac \xf0\x9f\x98\x80"},
        {Encoding::UTF7, L"Hi Mom -\u263a-!", "Hi Mom -+Jjo--+ACE-"},
        {Encoding::UTF7, L"A+B", "A+-B"},
        {Encoding::UTF7, L"\u65e5\u672c\u8a9e", "+ZeVnLIqe-"},
        {Encoding::UTF7, L"\U0001F600", "+2D3eAA-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertToString(c.wide, c.encoding), c.narrow);
        EXPECT_EQ(ConvertToWString(c.narrow, c.encoding), c.wide);
    }
}

TEST(StringConversion, EmptyInputNeedsNoValidEncoding) {
    EXPECT_EQ(ConvertToString(L"", static_cast<Encoding>(9)), "");
    EXPECT_EQ(ConvertToWString("", static_cast<Encoding>(9)), L"");
}

TEST(StringConversion, UnknownEncodingIsOutOfRange) {
    try {
        ConvertToString(L"x", static_cast<Encoding>(9));
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
}

TEST(StringConversion, MalformedInputFailsWithConversionFailed) {
    const auto expectFailure = [](auto convert, const char* detail) {
        try {
            convert();
            FAIL() << detail;
        } catch (const orbel::sdk::Exception& e) {
            EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::CONVERSION_FAILED);
            EXPECT_NE(std::string(e.what()).find(detail), std::string::npos);
        }
    };
    expectFailure([] { ConvertToWString("\xff\xfe"); }, "MultiByteToWideChar failed");
    expectFailure([] { ConvertToWString("+2D3-", Encoding::UTF7); }, "MultiByteToWideChar failed");
    expectFailure([] { ConvertToString(std::wstring(1, static_cast<wchar_t>(0xD800))); }, "WideCharToMultiByte failed");
}

TEST(StringConversion, LossyConversionsNeverThrow) {
    const std::wstring broken = L"ok" + std::wstring(1, static_cast<wchar_t>(0x110000)) + L"!";
    EXPECT_EQ(orbel::utilities::ConvertToStringLossy(broken), "ok?!");
    // Every byte outside ASCII is marked, the lowest as much as the highest.
    for (const char* text : {"ok\xff!", "ok\x80!"}) EXPECT_EQ(orbel::utilities::ConvertToWStringLossy(text), L"ok?!") << text;
}

TEST(ReverseBytes, ReadsCountDownToOneAndSkipsTheFirst) {
    const uint8_t source[4] = {0xA0, 0xB1, 0xC2, 0xD3};
    uint8_t destination[3] = {};
    orbel::utilities::ReverseBytes(destination, source, 3);
    EXPECT_EQ(destination[0], 0xD3);
    EXPECT_EQ(destination[1], 0xC2);
    EXPECT_EQ(destination[2], 0xB1);
}

}  // namespace
