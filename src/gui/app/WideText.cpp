#include "app/WideText.h"

#include <utf8.h>

namespace orbel::studio {

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
#if defined(_WIN32)
    utf8::utf16to8(text.begin(), text.end(), std::back_inserter(out));
#else
    utf8::utf32to8(text.begin(), text.end(), std::back_inserter(out));
#endif
    return out;
}

}  // namespace orbel::studio
