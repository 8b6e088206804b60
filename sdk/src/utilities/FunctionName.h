// Turns a compiler's decorated function signature into the qualified name that
// log records carry ("orbel::sensor::DataHandler::Handle").
#pragma once

#include <string>
#include <string_view>

#if defined(_MSC_VER)
#  define ORBEL_FUNCTION __FUNCTION__
#else
#  define ORBEL_FUNCTION __PRETTY_FUNCTION__
#endif

namespace orbel::utilities {

// A text without a parameter list is returned as it is.
std::string QualifiedFunctionName(std::string_view signature);

}  // namespace orbel::utilities
