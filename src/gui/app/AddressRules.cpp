// IsValidIPv4: a hand-written scan, so that text sscanf would accept (a sign, a space, a
// leading zero, characters after the last number) is refused.
#include "app/AddressRules.h"

namespace orbel::studio::gui {

bool IsValidIPv4(const char* text) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*p != '.') {
                return false;
            }
            ++p;
        }
        // Plain digits only: a sign, a space or a leading zero would not print back as typed.
        if (*p < '0' || *p > '9') {
            return false;
        }
        if (*p == '0' && p[1] >= '0' && p[1] <= '9') {
            return false;
        }
        int value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            if (++digits > 3) {
                return false;
            }
            value = value * 10 + (*p - '0');
            ++p;
        }
        if (value > 255) {
            return false;
        }
    }
    return *p == '\0';
}

}  // namespace orbel::studio::gui
