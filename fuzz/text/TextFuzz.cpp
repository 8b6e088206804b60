// The SDK's text conversions on any bytes and any wide characters. Checked: a strict
// conversion either throws the SDK's CONVERSION_FAILED or gives text that converts
// back to the input (UTF-8 both ways; UTF-7 back to the same characters, its encoding
// not being unique); UTF-7 output is plain ASCII; the lossy conversions never throw,
// agree with the strict ones where those succeed and otherwise mark each character they
// cannot convert with '?'; an encoding outside the table is refused.
//
// Input: mode u8 (bit 0: wide characters are whole 32-bit values, else 21-bit values
//        from three bytes each) | text.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <orbel/sdk/Exception.h>

#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"
#include "utilities/StringConversion.h"
#include "utilities/Utf7.h"

namespace {

using orbel::utilities::ConvertToString;
using orbel::utilities::ConvertToWString;
using orbel::utilities::Encoding;

template <typename F>
bool Converts(F&& convert) {
    try {
        convert();
        return true;
    } catch (const orbel::sdk::Exception& e) {
        ORBEL_FUZZ_CHECK(e.GetType() == orbel::sdk::SensorError::CONVERSION_FAILED, "a failed conversion is code 31");
        return false;
    }
}

bool IsCodePoint(wchar_t c) {
    const auto v = static_cast<uint32_t>(c);
    return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF);
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

void CheckNarrow(std::string_view text) {
    for (const Encoding encoding : {Encoding::ThreadCodePage, Encoding::UTF8, Encoding::UTF7}) {
        std::wstring wide;
        if (!Converts([&] { wide = ConvertToWString(text, encoding); })) continue;
        for (wchar_t c : wide) ORBEL_FUZZ_CHECK(IsCodePoint(c), "decoded text holds only code points");
        std::string back;
        ORBEL_FUZZ_CHECK(Converts([&] { back = ConvertToString(wide, encoding); }), "decoded text encodes again");
        if (encoding == Encoding::UTF7) {
            ORBEL_FUZZ_CHECK(IsAscii(back), "UTF-7 is ASCII");
            ORBEL_FUZZ_CHECK(ConvertToWString(back, encoding) == wide, "UTF-7 decodes back to the same characters");
        } else {
            ORBEL_FUZZ_CHECK(back == text, "UTF-8 decodes and encodes back to the same bytes");
        }
    }

    const std::wstring lossy = orbel::utilities::ConvertToWStringLossy(text);
    std::wstring strict;
    if (Converts([&] { strict = ConvertToWString(text); })) {
        ORBEL_FUZZ_CHECK(lossy == strict, "lossy decoding of valid text is the strict decoding");
    } else {
        ORBEL_FUZZ_CHECK(lossy.size() == text.size(), "lossy decoding keeps one character per byte");
        for (size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            ORBEL_FUZZ_CHECK(lossy[i] == (byte < 0x80 ? static_cast<wchar_t>(byte) : L'?'),
                             "lossy decoding keeps ASCII and marks the rest");
        }
    }

    bool refused = false;
    try {
        (void)ConvertToWString(text, static_cast<Encoding>(3));
    } catch (const std::out_of_range&) {
        refused = true;
    }
    ORBEL_FUZZ_CHECK(refused == !text.empty(), "an encoding outside the table is refused for any text");
}

void CheckWide(std::wstring_view text) {
    for (const Encoding encoding : {Encoding::ThreadCodePage, Encoding::UTF8, Encoding::UTF7}) {
        std::string narrow;
        const bool valid = [&] {
            for (wchar_t c : text) {
                if (!IsCodePoint(c)) return false;
            }
            return true;
        }();
        const bool converted = Converts([&] { narrow = ConvertToString(text, encoding); });
        ORBEL_FUZZ_CHECK(converted == valid, "wide text encodes exactly when it holds only code points");
        if (!converted) continue;
        if (encoding == Encoding::UTF7) ORBEL_FUZZ_CHECK(IsAscii(narrow), "UTF-7 is ASCII");
        std::wstring back;
        ORBEL_FUZZ_CHECK(Converts([&] { back = ConvertToWString(narrow, encoding); }), "encoded text decodes again");
        ORBEL_FUZZ_CHECK(back == text, "encoded text decodes back to the same characters");
    }

    const std::string lossy = orbel::utilities::ConvertToStringLossy(text);
    std::string expected;
    for (wchar_t c : text) {
        expected += IsCodePoint(c) ? ConvertToString(std::wstring_view(&c, 1)) : std::string("?");
    }
    ORBEL_FUZZ_CHECK(lossy == expected, "lossy encoding converts each character or marks it with '?'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    orbel::fuzzing::FuzzInput input(data, size);
    const bool whole = input.Byte() & 1;
    const auto bytes = input.Rest();

    CheckNarrow(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));

    std::wstring wide;
    if (whole) {
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            wide.push_back(static_cast<wchar_t>(orbel::fuzzing::FuzzInput(bytes.data() + i, 4).U32()));
        }
    } else {
        for (size_t i = 0; i + 3 <= bytes.size(); i += 3) {
            const uint32_t v = bytes[i] | bytes[i + 1] << 8 | (bytes[i + 2] & 0x1F) << 16;
            wide.push_back(static_cast<wchar_t>(v));
        }
    }
    CheckWide(wide);
    return 0;
}
