// ANSI text through the wide calls.
#include "gdi/text_ansi.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace {

// The text in UTF-16 and, for each UTF-16 unit, how many bytes of the ANSI
// text it came from (the last unit of a character takes them all).
struct Wide {
    std::u16string text;
    std::vector<int> bytes;
};

Wide Convert(LPCSTR text, UINT count) {
    Wide w;
    for (UINT at = 0; at < count;) {
        const UINT n = (at + 1 < count && IsDBCSLeadByte(static_cast<BYTE>(text[at]))) ? 2 : 1;
        WCHAR units[2] = {};
        int got = MultiByteToWideChar(CP_ACP, 0, text + at, static_cast<int>(n), units, 2);
        if (got <= 0) {
            units[0] = u'?';
            got = 1;
        }
        for (int i = 0; i < got; ++i) {
            w.text.push_back(static_cast<char16_t>(units[i]));
            w.bytes.push_back(i + 1 == got ? static_cast<int>(n) : 0);
        }
        at += n;
    }
    return w;
}

}  // namespace

extern "C" {

HFONT CreateFontIndirectA(const LOGFONTA* font) {
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LOGFONTW w{};
    std::memcpy(&w, font, offsetof(LOGFONTA, lfFaceName));
    const size_t n = strnlen(font->lfFaceName, LF_FACESIZE);
    const std::u16string face = zq::AnsiToWide(std::string_view(font->lfFaceName, n));
    std::copy_n(face.begin(), std::min<size_t>(face.size(), LF_FACESIZE - 1), w.lfFaceName);
    return CreateFontIndirectW(&w);
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int count) {
    return ExtTextOutA(hdc, x, y, 0, nullptr, text, count < 0 ? 0 : static_cast<UINT>(count), nullptr);
}

BOOL ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count, const INT* dx) {
    if (count && !text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Wide w = Convert(text, count);
    std::vector<INT> wideDx;
    if (dx) {
        // ETO_PDY gives x and y for every byte.
        const bool pairs = (options & ETO_PDY) != 0;
        size_t byte = 0;
        for (int n : w.bytes) {
            INT ax = 0, ay = 0;
            for (int i = 0; i < n; ++i, ++byte) {
                ax += pairs ? dx[2 * byte] : dx[byte];
                if (pairs) ay += dx[2 * byte + 1];
            }
            wideDx.push_back(ax);
            if (pairs) wideDx.push_back(ay);
        }
    }
    return ExtTextOutW(hdc, x, y, options, rect, reinterpret_cast<LPCWSTR>(w.text.c_str()),
                       static_cast<UINT>(w.text.size()), dx ? wideDx.data() : nullptr);
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, SIZE* size) {
    if (count < 0 || (count && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Wide w = Convert(text, static_cast<UINT>(count));
    return GetTextExtentPoint32W(hdc, reinterpret_cast<LPCWSTR>(w.text.c_str()), static_cast<int>(w.text.size()), size);
}

}  // extern "C"
