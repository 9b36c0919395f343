// The process's locale, computer and user: what Windows would take from the
// system's regional settings, here set by environment variables or by tests.
//
//   ZQ_ACP           ANSI code page (default 1252)
//   ZQ_OEMCP         OEM code page (default 850)
//   ZQ_LANGID        user and system default language id, decimal or 0x hex (default 0x0409)
//   ZQ_COUNTRY       the user's country number (default 1)
//   ZQ_COMPUTERNAME  computer name (default "ZQHOST")
//   ZQ_USERNAME      user name (default: the Linux user)
#pragma once

#include <string>

#include "base/error.h"
#include "base/types.h"

constexpr LCID LOCALE_NEUTRAL = 0x0000;
constexpr LCID LOCALE_INVARIANT = 0x007F;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr WORD SORT_DEFAULT = 0;
constexpr LCID MAKELCID(LANGID language, WORD sort) { return (static_cast<LCID>(sort) << 16) | language; }
constexpr LANGID LANGIDFROMLCID(LCID locale) { return static_cast<LANGID>(locale & 0xFFFF); }

// GetLocaleInfo items. The high bits are modifiers.
constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000;
constexpr LCTYPE LOCALE_USE_CP_ACP = 0x40000000;
constexpr LCTYPE LOCALE_RETURN_NUMBER = 0x20000000;
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;
constexpr LCTYPE LOCALE_SLANGUAGE = 0x0002;
constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;
constexpr LCTYPE LOCALE_SNATIVELANGNAME = 0x0004;
constexpr LCTYPE LOCALE_ICOUNTRY = 0x0005;
constexpr LCTYPE LOCALE_SCOUNTRY = 0x0006;
constexpr LCTYPE LOCALE_SABBREVCTRYNAME = 0x0007;
constexpr LCTYPE LOCALE_IDEFAULTLANGUAGE = 0x0009;
constexpr LCTYPE LOCALE_IDEFAULTCOUNTRY = 0x000A;
constexpr LCTYPE LOCALE_IDEFAULTCODEPAGE = 0x000B;
constexpr LCTYPE LOCALE_IMEASURE = 0x000D;
constexpr LCTYPE LOCALE_SDECIMAL = 0x000E;
constexpr LCTYPE LOCALE_STHOUSAND = 0x000F;
constexpr LCTYPE LOCALE_SLIST = 0x000C;
constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;

constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
constexpr DWORD UNLEN = 256;

// GetComputerName's answer for a short buffer.

extern "C" {

// Characters written including the NUL; with size 0 the size needed. A short
// buffer gives 0 with ERROR_INSUFFICIENT_BUFFER, an unknown locale 0 with
// ERROR_INVALID_PARAMETER, an unknown item 0 with ERROR_INVALID_FLAGS.
// LOCALE_RETURN_NUMBER on a numeric item writes a DWORD (2 WCHARs or 4 bytes).
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size);
BOOL IsValidLocale(LCID locale, DWORD flags);

LANGID GetUserDefaultLangID();
LANGID GetSystemDefaultLangID();
LANGID GetUserDefaultUILanguage();
LANGID GetSystemDefaultUILanguage();
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();
LCID GetThreadLocale();

// size: in, the buffer in characters; out, the characters written without the
// NUL. A short buffer gives FALSE with ERROR_BUFFER_OVERFLOW and the size
// needed with the NUL.
BOOL GetComputerNameA(LPSTR name, LPDWORD size);
BOOL GetComputerNameW(LPWSTR name, LPDWORD size);
// size: in, the buffer in characters; out, the characters written with the
// NUL. A short buffer gives FALSE with ERROR_INSUFFICIENT_BUFFER and the size
// needed with the NUL.
BOOL GetUserNameA(LPSTR name, LPDWORD size);
BOOL GetUserNameW(LPWSTR name, LPDWORD size);

}  // extern "C"

namespace zq {

struct LocaleSettings {
    UINT ansiCodePage = 1252;
    UINT oemCodePage = 850;
    LANGID languageId = 0x0409;
    DWORD country = 1;
    std::string computerName = "ZQHOST";  // at most 15 characters, upper case
    std::string userName;                 // UTF-8
};

// The settings from the environment, as a process starts with them.
LocaleSettings LocaleSettingsFromEnvironment();

// The settings in force. The first use reads the environment.
LocaleSettings CurrentLocaleSettings();

// Replaces the settings in force for the whole process. The computer name is
// upper-cased and cut to MAX_COMPUTERNAME_LENGTH as Windows keeps it.
void SetLocaleSettings(const LocaleSettings& settings);

// Puts settings in force for a scope (a test) and restores the previous ones.
class ScopedLocaleSettings {
public:
    explicit ScopedLocaleSettings(const LocaleSettings& settings);
    ~ScopedLocaleSettings();
    ScopedLocaleSettings(const ScopedLocaleSettings&) = delete;
    ScopedLocaleSettings& operator=(const ScopedLocaleSettings&) = delete;

private:
    LocaleSettings previous_;
};

}  // namespace zq
