#include "platform/charclass.h"

namespace platform {

bool IsHalfWidth(char32_t c) {
    if (c <= 0x00FF) return true;                    // ASCII, controls, Latin-1
    if (c >= 0xFF61 && c <= 0xFFDC) return true;     // half-width katakana and hangul
    if (c >= 0xFFE8 && c <= 0xFFEE) return true;     // half-width symbols
    if (c == 0x20A9) return true;                    // won sign, half-width
    return false;
}

bool IsAllHalfWidth(QStringView text) {
    for (char32_t c : text.toUcs4()) {
        if (!IsHalfWidth(c)) return false;
    }
    return true;
}

}  // namespace platform
