// Names for the cases of parameterised suites. GoogleTest accepts only letters, digits and
// underscores there, and falls back to a bare index where a suite names nothing; these turn
// a case's own words into a name it accepts, so a log line says which case failed.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace orbel::testing {

// "a bad header checksum" -> "a_bad_header_checksum": each run of characters a test name
// cannot hold becomes one underscore, and none is left at either end.
inline std::string TestName(std::string_view words) {
    std::string name;
    bool gap = false;
    for (const char c : words) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            if (gap && !name.empty()) name += '_';
            name += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return name;
}

}  // namespace orbel::testing
