// Narrow/wide text conversions and the wide names of error codes and states.
// Reentrant; the only shared state is the read-only code-page table.
// On Windows the conversions go through the system's code pages; elsewhere
// wchar_t holds UTF-32 and the thread's code page is taken to be UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <orbel/sdk/SensorError.h>
#include <orbel/sdk/SensorState.h>

namespace orbel::utilities {

enum class Encoding : uint32_t {
    ThreadCodePage = 0,
    UTF7 = 1,
    UTF8 = 2,
};

// Throw orbel::sdk::Exception with CONVERSION_FAILED on malformed input and
// std::out_of_range for an encoding outside the table (unless the input is empty).
std::wstring ConvertToWString(std::string_view text, Encoding encoding);
std::wstring ConvertToWString(std::string_view text);
std::string ConvertToString(std::wstring_view text, Encoding encoding);
std::string ConvertToString(std::wstring_view text);

// Never throw: malformed input is replaced character by character.
std::string ConvertToStringLossy(std::wstring_view text) noexcept;
std::wstring ConvertToWStringLossy(std::string_view text) noexcept;

std::wstring SensorErrorToWString(const orbel::sdk::SensorError& error);
std::wstring SensorStateToWString(const orbel::sdk::SensorState& state);

// destination[i] = source[count - i] for i in [0, count): source must hold count + 1 bytes.
void ReverseBytes(uint8_t* destination, const uint8_t* source, size_t count);

}  // namespace orbel::utilities
