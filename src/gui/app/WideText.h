// The SDK's wide texts as the program's UTF-8: UTF-16 on Windows, UTF-32 elsewhere.
#pragma once

#include <string>

namespace orbel::studio {

// Throws utf8::exception (a std::exception) on text that is not valid Unicode.
std::string WideToUtf8(const std::wstring& text);

}  // namespace orbel::studio
