#include "base/locale.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/diag.h"
#include "base/error.h"
#include "base/text.h"

namespace {

struct LanguageInfo {
    LANGID id;
    const char* iso639;
    const char* iso3166;
    UINT ansiCodePage;
    UINT oemCodePage;
    const char* englishLanguage;
    const char* abbreviation;  // language abbreviation: ISO 639 and a sublanguage letter
    DWORD country;
    const char* englishCountry;
    const char* decimal;
    const char* thousand;
};

// The languages the driver's translations and installers name.
constexpr std::array kLanguages = {
    LanguageInfo{0x0401, "ar", "SA", 1256, 720, "Arabic", "ARA", 966, "Saudi Arabia", ".", ","},
    LanguageInfo{0x0402, "bg", "BG", 1251, 866, "Bulgarian", "BGR", 359, "Bulgaria", ",", " "},
    LanguageInfo{0x0403, "ca", "ES", 1252, 850, "Catalan", "CAT", 34, "Spain", ",", "."},
    LanguageInfo{0x0404, "zh", "TW", 950, 950, "Chinese", "CHT", 886, "Taiwan", ".", ","},
    LanguageInfo{0x0405, "cs", "CZ", 1250, 852, "Czech", "CSY", 420, "Czech Republic", ",", " "},
    LanguageInfo{0x0406, "da", "DK", 1252, 850, "Danish", "DAN", 45, "Denmark", ",", "."},
    LanguageInfo{0x0407, "de", "DE", 1252, 850, "German", "DEU", 49, "Germany", ",", "."},
    LanguageInfo{0x0408, "el", "GR", 1253, 737, "Greek", "ELL", 30, "Greece", ",", "."},
    LanguageInfo{0x0409, "en", "US", 1252, 437, "English", "ENU", 1, "United States", ".", ","},
    LanguageInfo{0x040A, "es", "ES", 1252, 850, "Spanish", "ESP", 34, "Spain", ",", "."},
    LanguageInfo{0x040B, "fi", "FI", 1252, 850, "Finnish", "FIN", 358, "Finland", ",", " "},
    LanguageInfo{0x040C, "fr", "FR", 1252, 850, "French", "FRA", 33, "France", ",", " "},
    LanguageInfo{0x040D, "he", "IL", 1255, 862, "Hebrew", "HEB", 972, "Israel", ".", ","},
    LanguageInfo{0x040E, "hu", "HU", 1250, 852, "Hungarian", "HUN", 36, "Hungary", ",", " "},
    LanguageInfo{0x040F, "is", "IS", 1252, 850, "Icelandic", "ISL", 354, "Iceland", ",", "."},
    LanguageInfo{0x0410, "it", "IT", 1252, 850, "Italian", "ITA", 39, "Italy", ",", "."},
    LanguageInfo{0x0411, "ja", "JP", 932, 932, "Japanese", "JPN", 81, "Japan", ".", ","},
    LanguageInfo{0x0412, "ko", "KR", 949, 949, "Korean", "KOR", 82, "Korea", ".", ","},
    LanguageInfo{0x0413, "nl", "NL", 1252, 850, "Dutch", "NLD", 31, "Netherlands", ",", "."},
    LanguageInfo{0x0414, "no", "NO", 1252, 850, "Norwegian", "NOR", 47, "Norway", ",", " "},
    LanguageInfo{0x0415, "pl", "PL", 1250, 852, "Polish", "PLK", 48, "Poland", ",", " "},
    LanguageInfo{0x0416, "pt", "BR", 1252, 850, "Portuguese", "PTB", 55, "Brazil", ",", "."},
    LanguageInfo{0x0418, "ro", "RO", 1250, 852, "Romanian", "ROM", 40, "Romania", ",", "."},
    LanguageInfo{0x0419, "ru", "RU", 1251, 866, "Russian", "RUS", 7, "Russia", ",", " "},
    LanguageInfo{0x041A, "hr", "HR", 1250, 852, "Croatian", "HRV", 385, "Croatia", ",", "."},
    LanguageInfo{0x041B, "sk", "SK", 1250, 852, "Slovak", "SKY", 421, "Slovakia", ",", " "},
    LanguageInfo{0x041D, "sv", "SE", 1252, 850, "Swedish", "SVE", 46, "Sweden", ",", " "},
    LanguageInfo{0x041E, "th", "TH", 874, 874, "Thai", "THA", 66, "Thailand", ".", ","},
    LanguageInfo{0x041F, "tr", "TR", 1254, 857, "Turkish", "TRK", 90, "Turkey", ",", "."},
    LanguageInfo{0x0422, "uk", "UA", 1251, 866, "Ukrainian", "UKR", 380, "Ukraine", ",", " "},
    LanguageInfo{0x0424, "sl", "SI", 1250, 852, "Slovenian", "SLV", 386, "Slovenia", ",", "."},
    LanguageInfo{0x0425, "et", "EE", 1257, 775, "Estonian", "ETI", 372, "Estonia", ",", " "},
    LanguageInfo{0x0426, "lv", "LV", 1257, 775, "Latvian", "LVI", 371, "Latvia", ",", " "},
    LanguageInfo{0x0427, "lt", "LT", 1257, 775, "Lithuanian", "LTH", 370, "Lithuania", ",", "."},
    LanguageInfo{0x0804, "zh", "CN", 936, 936, "Chinese", "CHS", 86, "People's Republic of China", ".", ","},
    LanguageInfo{0x0807, "de", "CH", 1252, 850, "German", "DES", 41, "Switzerland", ".", "'"},
    LanguageInfo{0x0809, "en", "GB", 1252, 850, "English", "ENG", 44, "United Kingdom", ".", ","},
    LanguageInfo{0x080A, "es", "MX", 1252, 850, "Spanish", "ESM", 52, "Mexico", ".", ","},
    LanguageInfo{0x080C, "fr", "BE", 1252, 850, "French", "FRB", 32, "Belgium", ",", "."},
    LanguageInfo{0x0810, "it", "CH", 1252, 850, "Italian", "ITS", 41, "Switzerland", ".", "'"},
    LanguageInfo{0x0813, "nl", "BE", 1252, 850, "Dutch", "NLB", 32, "Belgium", ",", "."},
    LanguageInfo{0x0814, "no", "NO", 1252, 850, "Norwegian", "NON", 47, "Norway", ",", " "},
    LanguageInfo{0x0816, "pt", "PT", 1252, 850, "Portuguese", "PTG", 351, "Portugal", ",", "."},
    LanguageInfo{0x0C04, "zh", "HK", 950, 950, "Chinese", "ZHH", 852, "Hong Kong S.A.R.", ".", ","},
    LanguageInfo{0x0C07, "de", "AT", 1252, 850, "German", "DEA", 43, "Austria", ",", "."},
    LanguageInfo{0x0C09, "en", "AU", 1252, 850, "English", "ENA", 61, "Australia", ".", ","},
    LanguageInfo{0x0C0A, "es", "ES", 1252, 850, "Spanish", "ESN", 34, "Spain", ",", "."},
    LanguageInfo{0x0C0C, "fr", "CA", 1252, 850, "French", "FRC", 2, "Canada", ",", " "},
    LanguageInfo{0x1004, "zh", "SG", 936, 936, "Chinese", "ZHI", 65, "Singapore", ".", ","},
    LanguageInfo{0x1009, "en", "CA", 1252, 850, "English", "ENC", 2, "Canada", ".", ","},
    LanguageInfo{0x100C, "fr", "CH", 1252, 850, "French", "FRS", 41, "Switzerland", ".", "'"},
    LanguageInfo{0x1409, "en", "NZ", 1252, 850, "English", "ENZ", 64, "New Zealand", ".", ","},
    LanguageInfo{0x1809, "en", "IE", 1252, 850, "English", "ENI", 353, "Ireland", ".", ","},
};

const LanguageInfo* FindLanguage(LANGID id) {
    for (const auto& l : kLanguages)
        if (l.id == id) return &l;
    return nullptr;
}

std::mutex g_lock;
std::optional<zq::LocaleSettings> g_settings;
// Copies of the numbers that conversions read on every call, so that those
// calls take no lock and copy no strings.
std::atomic<bool> g_published{false};
std::atomic<UINT> g_ansiCodePage{1252};
std::atomic<UINT> g_oemCodePage{850};
std::atomic<LANGID> g_languageId{0x0409};

void Publish(const zq::LocaleSettings& s) {
    g_ansiCodePage.store(s.ansiCodePage);
    g_oemCodePage.store(s.oemCodePage);
    g_languageId.store(s.languageId);
    g_published.store(true, std::memory_order_release);
}

void EnsureLoaded() {
    if (!g_published.load(std::memory_order_acquire)) zq::CurrentLocaleSettings();
}

std::optional<unsigned long> ParseNumber(const char* text) {
    if (!text || !*text) return std::nullopt;
    std::string_view s(text);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    unsigned long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::string LinuxUserName() {
    const long bufSize = std::max(sysconf(_SC_GETPW_R_SIZE_MAX), 16384L);
    std::string buf(static_cast<size_t>(bufSize), '\0');
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return "user";
}

std::string NormalizeComputerName(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    return name;
}

// The settings a locale query answers from: the user's own locale takes the
// country the process was given.
struct Resolved {
    const LanguageInfo* info;
    DWORD country;
};

std::optional<Resolved> Resolve(LCID locale) {
    const zq::LocaleSettings s = zq::CurrentLocaleSettings();
    LANGID id = LANGIDFROMLCID(locale);
    const bool user = locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL ||
                      id == s.languageId;
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL)
        id = s.languageId;
    if (locale == LOCALE_INVARIANT) id = 0x0409;
    const LanguageInfo* info = FindLanguage(id);
    if (!info) {
        if (!user) return std::nullopt;
        info = FindLanguage(0x0409);  // a configured language we do not know reads as English
    }
    return Resolved{info, user ? s.country : info->country};
}

// The item's text, or nullopt for an unknown item; numeric items also give
// their number.
std::optional<std::string> ItemText(const Resolved& r, LCTYPE item, std::optional<DWORD>& number) {
    const LanguageInfo& l = *r.info;
    char hex[8];
    switch (item) {
    case LOCALE_ILANGUAGE:
        std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(l.id));
        number = l.id;
        return hex;
    case LOCALE_SLANGUAGE: {
        std::string s = l.englishLanguage;
        return s + " (" + l.englishCountry + ")";
    }
    case LOCALE_SENGLANGUAGE: return std::string(l.englishLanguage);
    case LOCALE_SNATIVELANGNAME: return std::string(l.englishLanguage);
    case LOCALE_SABBREVLANGNAME: return std::string(l.abbreviation);
    case LOCALE_ICOUNTRY:
    case LOCALE_IDEFAULTCOUNTRY: {
        const DWORD c = item == LOCALE_ICOUNTRY ? r.country : l.country;
        number = c;
        return std::to_string(c);
    }
    case LOCALE_SCOUNTRY:
    case LOCALE_SENGCOUNTRY: return std::string(l.englishCountry);
    case LOCALE_SABBREVCTRYNAME: return std::string(l.iso3166);
    case LOCALE_IDEFAULTLANGUAGE:
        std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(l.id));
        number = l.id;
        return hex;
    case LOCALE_IDEFAULTCODEPAGE: number = l.oemCodePage; return std::to_string(l.oemCodePage);
    case LOCALE_IDEFAULTANSICODEPAGE: number = l.ansiCodePage; return std::to_string(l.ansiCodePage);
    case LOCALE_IMEASURE: {
        const DWORD m = r.country == 1 ? 1 : 0;  // US measure only in the United States
        number = m;
        return std::to_string(m);
    }
    case LOCALE_SDECIMAL: return std::string(l.decimal);
    case LOCALE_STHOUSAND: return std::string(l.thousand);
    case LOCALE_SLIST: return std::string(std::string_view(l.decimal) == "," ? ";" : ",");
    case LOCALE_SISO639LANGNAME: return std::string(l.iso639);
    case LOCALE_SISO3166CTRYNAME: return std::string(l.iso3166);
    default: return std::nullopt;
    }
}

// Shared by both forms: Ch is the output character type.
template <class Ch>
int LocaleInfo(LCID locale, LCTYPE type, Ch* data, int size) {
    if (size < 0 || (size > 0 && !data)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto resolved = Resolve(locale);
    if (!resolved) {
        char why[48];
        std::snprintf(why, sizeof why, "unknown locale 0x%X", static_cast<unsigned>(locale));
        zq::DiagRefused("GetLocaleInfo", why);
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const LCTYPE item = type & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER);
    std::optional<DWORD> number;
    const auto text = ItemText(*resolved, item, number);
    if (!text || ((type & LOCALE_RETURN_NUMBER) && !number)) {
        char why[48];
        std::snprintf(why, sizeof why, "unsupported item 0x%X", static_cast<unsigned>(type));
        zq::DiagRefused("GetLocaleInfo", why);
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::basic_string<Ch> out;
    if (type & LOCALE_RETURN_NUMBER) {
        out.resize(sizeof(DWORD) / sizeof(Ch));
        std::memcpy(out.data(), &*number, sizeof(DWORD));
    } else {
        if constexpr (sizeof(Ch) == 1) {
            const UINT cp = (type & LOCALE_USE_CP_ACP) ? CP_ACP : resolved->info->ansiCodePage;
            out = zq::WideToAnsi(zq::Utf8ToUtf16(*text), cp);
        } else {
            out = zq::Utf8ToUtf16(*text);
        }
        out.push_back(Ch(0));
    }
    const int needed = static_cast<int>(out.size());
    if (size == 0) return needed;
    if (needed > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), data);
    return needed;
}

// The size protocol of the name calls; withNul says whether the count
// returned on success includes the NUL.
template <class Ch>
BOOL CopyName(const std::basic_string<Ch>& name, Ch* buffer, LPDWORD size, bool withNul, DWORD shortError) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        SetLastError(shortError);
        return FALSE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = Ch(0);
    *size = withNul ? needed : needed - 1;
    return TRUE;
}

}  // namespace

namespace zq {

LocaleSettings LocaleSettingsFromEnvironment() {
    LocaleSettings s;
    // Only code pages that can be a system's ANSI or OEM page are taken.
    if (auto v = ParseNumber(std::getenv("ZQ_ACP")); v && *v != CP_UTF8 && *v > CP_SYMBOL && IsValidCodePage(*v))
        s.ansiCodePage = static_cast<UINT>(*v);
    if (auto v = ParseNumber(std::getenv("ZQ_OEMCP")); v && *v != CP_UTF8 && *v > CP_SYMBOL && IsValidCodePage(*v))
        s.oemCodePage = static_cast<UINT>(*v);
    if (auto v = ParseNumber(std::getenv("ZQ_LANGID")); v && *v > 0 && *v <= 0xFFFF)
        s.languageId = static_cast<LANGID>(*v);
    if (auto v = ParseNumber(std::getenv("ZQ_COUNTRY")); v && *v <= 0xFFFFFFFFul) s.country = static_cast<DWORD>(*v);
    if (const char* name = std::getenv("ZQ_COMPUTERNAME"); name && *name) s.computerName = name;
    s.computerName = NormalizeComputerName(s.computerName);
    const char* user = std::getenv("ZQ_USERNAME");
    s.userName = (user && *user) ? std::string(user) : LinuxUserName();
    if (s.userName.size() > UNLEN) s.userName.resize(UNLEN);
    return s;
}

LocaleSettings CurrentLocaleSettings() {
    {
        std::lock_guard lock(g_lock);
        if (g_settings) return *g_settings;
    }
    // Read outside the lock: validating a code page builds its table.
    LocaleSettings fromEnv = LocaleSettingsFromEnvironment();
    std::lock_guard lock(g_lock);
    if (!g_settings) {
        g_settings = std::move(fromEnv);
        Publish(*g_settings);
    }
    return *g_settings;
}

void SetLocaleSettings(const LocaleSettings& settings) {
    LocaleSettings s = settings;
    s.computerName = NormalizeComputerName(s.computerName);
    std::lock_guard lock(g_lock);
    g_settings = std::move(s);
    Publish(*g_settings);
}

ScopedLocaleSettings::ScopedLocaleSettings(const LocaleSettings& settings) : previous_(CurrentLocaleSettings()) {
    SetLocaleSettings(settings);
}

ScopedLocaleSettings::~ScopedLocaleSettings() { SetLocaleSettings(previous_); }

}  // namespace zq

extern "C" int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
    return LocaleInfo<char>(locale, type, data, size);
}
extern "C" int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size) {
    return LocaleInfo<char16_t>(locale, type, data, size);
}
extern "C" BOOL IsValidLocale(LCID locale, DWORD) { return FindLanguage(LANGIDFROMLCID(locale)) ? TRUE : FALSE; }

extern "C" UINT GetACP() {
    EnsureLoaded();
    return g_ansiCodePage.load();
}
extern "C" UINT GetOEMCP() {
    EnsureLoaded();
    return g_oemCodePage.load();
}
extern "C" LANGID GetUserDefaultLangID() {
    EnsureLoaded();
    return g_languageId.load();
}
extern "C" LANGID GetSystemDefaultLangID() { return GetUserDefaultLangID(); }
extern "C" LANGID GetUserDefaultUILanguage() { return GetUserDefaultLangID(); }
extern "C" LANGID GetSystemDefaultUILanguage() { return GetUserDefaultLangID(); }
extern "C" LCID GetUserDefaultLCID() { return MAKELCID(GetUserDefaultLangID(), SORT_DEFAULT); }
extern "C" LCID GetSystemDefaultLCID() { return MAKELCID(GetSystemDefaultLangID(), SORT_DEFAULT); }
extern "C" LCID GetThreadLocale() { return GetUserDefaultLCID(); }

extern "C" BOOL GetComputerNameA(LPSTR name, LPDWORD size) {
    return CopyName(zq::WideToAnsi(zq::Utf8ToUtf16(zq::CurrentLocaleSettings().computerName)), name, size, false,
                    ERROR_BUFFER_OVERFLOW);
}
extern "C" BOOL GetComputerNameW(LPWSTR name, LPDWORD size) {
    return CopyName(zq::Utf8ToUtf16(zq::CurrentLocaleSettings().computerName), name, size, false,
                    ERROR_BUFFER_OVERFLOW);
}
extern "C" BOOL GetUserNameA(LPSTR name, LPDWORD size) {
    return CopyName(zq::WideToAnsi(zq::Utf8ToUtf16(zq::CurrentLocaleSettings().userName)), name, size, true,
                    ERROR_INSUFFICIENT_BUFFER);
}
extern "C" BOOL GetUserNameW(LPWSTR name, LPDWORD size) {
    return CopyName(zq::Utf8ToUtf16(zq::CurrentLocaleSettings().userName), name, size, true,
                    ERROR_INSUFFICIENT_BUFFER);
}
