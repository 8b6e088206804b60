#include "utilities/StringConversion.h"

#include <stdexcept>
#include <unordered_map>

#include <orbel/sdk/Exception.h>

#if defined(_WIN32)
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#else
#  include <utf8.h>
#  include "utilities/Utf7.h"
#endif

namespace orbel::utilities {
namespace {

using orbel::sdk::Exception;
using orbel::sdk::SensorError;

constexpr uint32_t kThreadCodePage = 3;  // CP_THREAD_ACP
constexpr uint32_t kUtf7CodePage = 65000;
constexpr uint32_t kUtf8CodePage = 65001;

// Filled when the library is loaded, read-only afterwards, and never destroyed: an SDK
// thread still finishing a teardown at process exit may convert a log text.
const auto* const kCodePages = new std::unordered_map<Encoding, uint32_t>{
    {Encoding::ThreadCodePage, kThreadCodePage},
    {Encoding::UTF7, kUtf7CodePage},
    {Encoding::UTF8, kUtf8CodePage},
};

uint32_t CodePage(Encoding encoding) {
    const auto it = kCodePages->find(encoding);
    if (it == kCodePages->end()) throw std::out_of_range("invalid unordered_map<K, T> key");
    return it->second;
}

[[noreturn]] void ThrowToWideFailed() {
    throw Exception(std::string("MultiByteToWideChar failed"), SensorError::CONVERSION_FAILED);
}
[[noreturn]] void ThrowToNarrowFailed() {
    throw Exception(std::string("WideCharToMultiByte failed"), SensorError::CONVERSION_FAILED);
}

#if defined(_WIN32)

std::wstring ToWide(std::string_view text, uint32_t codePage) {
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) ThrowToWideFailed();
    std::wstring out(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), length) != length)
        ThrowToWideFailed();
    return out;
}

std::string ToNarrow(std::wstring_view text, uint32_t codePage) {
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) ThrowToNarrowFailed();
    std::string out(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                            nullptr) != length)
        ThrowToNarrowFailed();
    return out;
}

#else

static_assert(sizeof(wchar_t) == 4, "wide texts are UTF-32 off Windows");

std::wstring ToWide(std::string_view text, uint32_t codePage) {
    std::u32string wide;
    if (codePage == kUtf7CodePage) {
        auto decoded = DecodeUtf7(text);
        if (!decoded) ThrowToWideFailed();
        wide = std::move(*decoded);
    } else {
        try {
            wide = utf8::utf8to32(text);
        } catch (const utf8::exception&) {
            ThrowToWideFailed();
        }
    }
    return std::wstring(wide.begin(), wide.end());
}

std::string ToNarrow(std::wstring_view text, uint32_t codePage) {
    const std::u32string wide(text.begin(), text.end());
    if (codePage == kUtf7CodePage) {
        auto encoded = EncodeUtf7(wide);
        if (!encoded) ThrowToNarrowFailed();
        return std::move(*encoded);
    }
    try {
        return utf8::utf32to8(wide);
    } catch (const utf8::exception&) {
        ThrowToNarrowFailed();
    }
}

#endif

}  // namespace

std::wstring ConvertToWString(std::string_view text, Encoding encoding) {
    if (text.empty()) return {};
    return ToWide(text, CodePage(encoding));
}

std::wstring ConvertToWString(std::string_view text) { return ConvertToWString(text, Encoding::ThreadCodePage); }

std::string ConvertToString(std::wstring_view text, Encoding encoding) {
    if (text.empty()) return {};
    return ToNarrow(text, CodePage(encoding));
}

std::string ConvertToString(std::wstring_view text) { return ConvertToString(text, Encoding::ThreadCodePage); }

std::string ConvertToStringLossy(std::wstring_view text) noexcept {
    try {
        return ConvertToString(text);
    } catch (...) {
    }
    try {
        std::string out;
        out.reserve(text.size());
        for (wchar_t c : text) {
            try {
                out += ConvertToString(std::wstring_view(&c, 1));
            } catch (...) {
                out += '?';
            }
        }
        return out;
    } catch (...) {
        return {};
    }
}

std::wstring ConvertToWStringLossy(std::string_view text) noexcept {
    try {
        return ConvertToWString(text);
    } catch (...) {
    }
    try {
        // Keep the ASCII, mark everything else: enough to read an error text.
        std::wstring out;
        out.reserve(text.size());
        for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?');
        return out;
    } catch (...) {
        return {};
    }
}

std::wstring SensorErrorToWString(const orbel::sdk::SensorError& error) {
    switch (error) {
        case SensorError::ACTION_ILLEGAL_SENSOR_RUNNING: return L"ACTION_ILLEGAL_SENSOR_RUNNING";
        case SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED: return L"ACTION_ILLEGAL_SENSOR_NOT_INITIALISED";
        case SensorError::UNABLE_TO_INITIALISE: return L"UNABLE_TO_INITIALISE";
        case SensorError::UNABLE_TO_START: return L"UNABLE_TO_START";
        case SensorError::UNABLE_TO_STOP: return L"UNABLE_TO_STOP";
        case SensorError::UNABLE_TO_CLOSE: return L"UNABLE_TO_CLOSE";
        case SensorError::SENSOR_ALREADY_INITIALIZED: return L"SENSOR_ALREADY_INITIALIZED";
        case SensorError::ACTION_ILLEGAL_NOT_RUNNING: return L"ACTION_ILLEGAL_NOT_RUNNING";
        case SensorError::UNKNOWN_ERROR: return L"UNKNOWN_ERROR";
        default: return L"Unknown error";
    }
}

std::wstring SensorStateToWString(const orbel::sdk::SensorState& state) {
    using orbel::sdk::SensorState;
    switch (state) {
        case SensorState::Unknown: return L"Unknown";
        case SensorState::UnInitialized: return L"UnInitialized";
        case SensorState::Idle: return L"Idle";
        case SensorState::Running: return L"Running";
        case SensorState::Error: return L"Error";
        default: return L"Invalid";
    }
}

void ReverseBytes(uint8_t* destination, const uint8_t* source, size_t count) {
    for (size_t i = 0; i < count; ++i) destination[i] = source[count - i];
}

}  // namespace orbel::utilities
