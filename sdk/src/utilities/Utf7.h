// UTF-7 (RFC 2152) between UTF-8 and UTF-7 text, for the one encoding that
// neither the C++ library nor utfcpp offers. Used only off Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orbel::utilities {

// Empty optional on malformed input.
std::optional<std::u32string> DecodeUtf7(std::string_view text);
std::optional<std::string> EncodeUtf7(std::u32string_view text);

}  // namespace orbel::utilities
