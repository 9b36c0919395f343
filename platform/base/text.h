// Code pages, character conversion, case mapping, string calls and bounded
// formatting.
//
// Conversions are table driven: each code page's tables are data built into
// the library (written at build time from the system's converters), spread
// out once on first use and never changed afterwards, so every call is
// thread-safe and no converter is opened at run time.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_MACCP = 2;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_SYMBOL = 42;
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;

// MultiByteToWideChar flags.
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_COMPOSITE = 0x2;
constexpr DWORD MB_USEGLYPHCHARS = 0x4;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// WideCharToMultiByte flags.
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// An input sequence that has no character in the code page (with
// MB_ERR_INVALID_CHARS or WC_ERR_INVALID_CHARS).

// CompareString flags and results.
constexpr DWORD NORM_IGNORECASE = 0x1;
constexpr DWORD NORM_IGNORENONSPACE = 0x2;
constexpr DWORD NORM_IGNORESYMBOLS = 0x4;
constexpr DWORD SORT_STRINGSORT = 0x1000;
constexpr DWORD NORM_IGNOREKANATYPE = 0x10000;
constexpr DWORD NORM_IGNOREWIDTH = 0x20000;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

extern "C" {

// Lengths of -1 mean NUL-terminated, the NUL converted and counted. An output
// size of 0 asks for the size needed. A short buffer gives 0 with
// ERROR_INSUFFICIENT_BUFFER; bad arguments 0 with ERROR_INVALID_PARAMETER,
// unknown flags 0 with ERROR_INVALID_FLAGS.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

BOOL IsValidCodePage(UINT codePage);
UINT GetACP();
UINT GetOEMCP();
BOOL IsDBCSLeadByte(BYTE b);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE b);

// A pointer whose high bits are zero stands for one character in its low
// word: the mapped character is returned the same way. Otherwise the string
// is mapped in place and returned.
LPSTR CharUpperA(LPSTR text);
LPWSTR CharUpperW(LPWSTR text);
LPSTR CharLowerA(LPSTR text);
LPWSTR CharLowerW(LPWSTR text);
DWORD CharUpperBuffA(LPSTR text, DWORD length);
DWORD CharUpperBuffW(LPWSTR text, DWORD length);
DWORD CharLowerBuffA(LPSTR text, DWORD length);
DWORD CharLowerBuffW(LPWSTR text, DWORD length);
LPSTR CharNextA(LPCSTR p);
LPWSTR CharNextW(LPCWSTR p);
LPSTR CharPrevA(LPCSTR start, LPCSTR p);
LPWSTR CharPrevW(LPCWSTR start, LPCWSTR p);

// Null pointers are treated as empty strings or refused, never dereferenced.
int lstrlenA(LPCSTR s);
int lstrlenW(LPCWSTR s);
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
// Copies at most max - 1 characters and always terminates (when max > 0).
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max);
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max);
LPSTR lstrcatA(LPSTR dst, LPCSTR src);
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
// -1, 0 or 1. Case-insensitive forms fold case; the others order a word
// before its capitalised form but otherwise compare like the folded forms.
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiA(LPCSTR a, LPCSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
// CSTR_* or 0 with the last error. The locale does not change the order.
int CompareStringA(LCID locale, DWORD flags, LPCSTR a, int lengthA, LPCSTR b, int lengthB);
int CompareStringW(LCID locale, DWORD flags, LPCWSTR a, int lengthA, LPCWSTR b, int lengthB);

// Bounded formatting in the manner of wsprintf: %[-][#][0][width][.precision]
// with d i u x X c C s S p and the size prefixes h, l, w and I64. "l" means a
// 32-bit LONG or DWORD, as on Windows; I64 a 64-bit value. In the A forms %s
// is a narrow and %S a wide string, in the W forms the other way round; %hs
// is always narrow and %ls/%ws always wide. Narrow strings are in the ANSI
// code page. Writes at most size characters including the terminating NUL,
// always terminates, and returns the characters written without the NUL
// (-1 when size is not positive or an argument is null).
int wvnsprintfA(LPSTR dst, int size, LPCSTR format, va_list args);
int wnsprintfA(LPSTR dst, int size, LPCSTR format, ...);
int wvnsprintfW(LPWSTR dst, int size, LPCWSTR format, va_list args);
int wnsprintfW(LPWSTR dst, int size, LPCWSTR format, ...);

}  // extern "C"

namespace zq {

// UTF-16 and UTF-8 for our own code: unpaired surrogates and malformed
// sequences become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Through a code page (CP_ACP by default); characters without a mapping
// become the code page's default character.
std::u16string AnsiToWide(std::string_view text, UINT codePage = CP_ACP);
std::string WideToAnsi(std::u16string_view text, UINT codePage = CP_ACP);

// Simple one-to-one case mapping of a UTF-16 code unit.
char16_t ToUpper(char16_t c);
char16_t ToLower(char16_t c);

// Case-insensitive comparison: UTF-16 with full case folding of the BMP,
// narrow strings with ASCII folding (bytes above 127 compare exactly).
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);
int CompareIgnoreCase(std::string_view a, std::string_view b);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

}  // namespace zq
