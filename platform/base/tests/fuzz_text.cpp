// Outside text through the code-page conversions: any bytes, any code page,
// any output size. Checks that the size query agrees with the conversion,
// that a short buffer is refused without writing past it, and that UTF-16
// from any source converts back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace {

constexpr UINT kPages[] = {1252, 932, 936, 949, 950, 1361, 1250, 1251, 850, 437, CP_UTF8};

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const UINT cp = kPages[data[0] % std::size(kPages)];
    const DWORD mbFlags = (data[1] & 1) ? MB_ERR_INVALID_CHARS : 0;
    const int shortBy = (data[1] >> 1) % 4 + 1;
    const auto* text = reinterpret_cast<const char*>(data + 2);
    const int length = static_cast<int>(size - 2);
    if (length == 0) return 0;

    const int needed = MultiByteToWideChar(cp, mbFlags, text, length, nullptr, 0);
    if (needed == 0) {
        Check(GetLastError() == ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    // Guard words on both sides of the output catch any write past the size.
    std::vector<char16_t> wide(static_cast<size_t>(needed) + 2, u'\xA5A5');
    Check(MultiByteToWideChar(cp, mbFlags, text, length, wide.data() + 1, needed) == needed);
    Check(wide.front() == u'\xA5A5' && wide.back() == u'\xA5A5');
    if (needed > shortBy) {
        std::vector<char16_t> small(static_cast<size_t>(needed - shortBy) + 1, u'\xA5A5');
        Check(MultiByteToWideChar(cp, mbFlags, text, length, small.data(), needed - shortBy) == 0);
        Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
        Check(small.back() == u'\xA5A5');
    }

    // Back again; in UTF-8 a valid input comes back byte for byte.
    const char16_t* w = wide.data() + 1;
    BOOL used = FALSE;
    const int back = WideCharToMultiByte(cp, 0, w, needed, nullptr, 0, nullptr, cp == CP_UTF8 ? nullptr : &used);
    Check(back > 0);
    std::string narrow(static_cast<size_t>(back), '\0');
    Check(WideCharToMultiByte(cp, 0, w, needed, narrow.data(), back, nullptr, cp == CP_UTF8 ? nullptr : &used) ==
          back);
    if (cp == CP_UTF8 && mbFlags) Check(narrow == std::string(text, static_cast<size_t>(length)));

    // The raw bytes as UTF-16 (unpaired surrogates and all).
    if (length >= 2) {
        std::u16string units(static_cast<size_t>(length) / 2, u'\0');
        std::memcpy(units.data(), text, units.size() * 2);
        const std::string utf8 = zq::Utf16ToUtf8(units);
        const std::u16string again = zq::Utf8ToUtf16(utf8);
        Check(zq::Utf16ToUtf8(again) == utf8);
        const std::string ansi = zq::WideToAnsi(units, cp == CP_UTF8 ? 1252 : cp);
        (void)ansi;
    }

    char formatted[64];
    Check(wnsprintfA(formatted, sizeof formatted, "[%-20.40s]", std::string(text, static_cast<size_t>(length)).c_str()) <
          static_cast<int>(sizeof formatted));
    return 0;
}
