// String helpers of the store: UTF-16 names, the ANSI forms of the calls,
// and the case folding under which names compare.
#pragma once

#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq::store {

// Narrow text of the A calls to UTF-16 and back, in the process code page.
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

// Names compare as Windows compares them: by their upper-case form.
std::u16string Fold(std::u16string_view name);
// One code unit of a folded name.
char16_t FoldUnit(char16_t c);
bool SameName(std::u16string_view a, std::u16string_view b);

// Null-safe views of C strings.
inline std::u16string_view View(LPCWSTR s) {
    if (!s) return {};
    size_t n = 0;
    while (s[n]) ++n;
    return {s, n};
}
inline std::string_view View(LPCSTR s) { return s ? std::string_view(s) : std::string_view(); }

// The string types of the registry, between their UTF-16 bytes and the
// narrow bytes the A calls see.
inline bool IsStringType(DWORD type) { return type == 1 || type == 2 || type == 7; }
std::vector<BYTE> WideBytesToAnsi(std::span<const BYTE> wide);
std::vector<BYTE> AnsiBytesToWide(std::span<const BYTE> narrow);

inline std::vector<BYTE> ToBytes(std::u16string_view s, bool withNul = true) {
    std::vector<BYTE> out((s.size() + (withNul ? 1 : 0)) * 2, 0);
    if (!s.empty()) std::memcpy(out.data(), s.data(), s.size() * 2);
    return out;
}
// The text of a REG_SZ value up to its first NUL.
std::u16string TextOf(std::span<const BYTE> bytes);

}  // namespace zq::store
