// IPv4 texts as numbers, for choosing the network interface that can reach the
// camera. Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orbel::camera {

// Four decimal numbers of 0 to 255, each one or more digits (leading zeros
// allowed), separated by one non-digit character each ("10.10.100.12"); the
// first number is the most significant byte. Any other text (fewer or more
// numbers, a number above 255, a sign, blanks or anything before or after) has
// no value.
std::optional<uint32_t> ParseIPv4(std::string_view text);

}  // namespace orbel::camera
