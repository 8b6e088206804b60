#include "utilities/FunctionName.h"

namespace orbel::utilities {

std::string QualifiedFunctionName(std::string_view signature) {
    // The name ends at the first '(' outside template arguments; "operator()" keeps its own pair.
    int depth = 0;
    size_t end = std::string_view::npos;
    for (size_t i = 0; i < signature.size(); ++i) {
        const char c = signature[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth > 0) --depth;
        } else if (c == '(' && depth == 0) {
            if (i >= 8 && signature.substr(i - 8, 8) == "operator" && signature.substr(i, 2) == "()") {
                ++i;
                continue;
            }
            end = i;
            break;
        }
    }
    if (end == std::string_view::npos) return std::string(signature);

    // The return type, if any, ends at the last blank outside template arguments.
    size_t begin = 0;
    depth = 0;
    for (size_t i = 0; i < end; ++i) {
        const char c = signature[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth > 0) --depth;
        } else if (c == ' ' && depth == 0) {
            begin = i + 1;
        }
    }
    return std::string(signature.substr(begin, end - begin));
}

}  // namespace orbel::utilities
