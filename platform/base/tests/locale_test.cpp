#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/error.h"
#include "base/locale.h"
#include "base/text.h"

namespace {

zq::LocaleSettings German() {
    zq::LocaleSettings s;
    s.ansiCodePage = 1252;
    s.oemCodePage = 850;
    s.languageId = 0x0407;
    s.country = 49;
    s.computerName = "printhost";
    s.userName = "J\xC3\xBCrgen";  // UTF-8
    return s;
}

TEST(LocaleInfo, ItemsOfTheUserLocale) {
    zq::ScopedLocaleSettings scope(German());
    struct Case {
        LCID locale;
        LCTYPE item;
        const char* expected;
    };
    const Case cases[] = {
        {LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, "49"},
        {LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, "de"},
        {LOCALE_USER_DEFAULT, LOCALE_SISO3166CTRYNAME, "DE"},
        {LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, "1252"},
        {LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, "German"},
        {LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, "DEU"},
        {LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE, "0407"},
        {LOCALE_SYSTEM_DEFAULT, LOCALE_ICOUNTRY | LOCALE_NOUSEROVERRIDE, "49"},
        {0x0407, LOCALE_ICOUNTRY, "49"},
        {0x0411, LOCALE_IDEFAULTANSICODEPAGE, "932"},
        {0x0411, LOCALE_ICOUNTRY, "81"},
        {0x0419, LOCALE_SISO639LANGNAME, "ru"},
        {0x0804, LOCALE_SISO3166CTRYNAME, "CN"},
        {0x0409, LOCALE_SABBREVLANGNAME, "ENU"},
    };
    for (const Case& c : cases) {
        char16_t wide[32];
        const int n = GetLocaleInfoW(c.locale, c.item, wide, 32);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)) + 1) << std::hex << c.locale << " " << c.item;
        EXPECT_EQ(zq::Utf16ToUtf8(wide), c.expected);
        char narrow[32];
        EXPECT_EQ(GetLocaleInfoA(c.locale, c.item, narrow, 32), n);
        EXPECT_STREQ(narrow, c.expected);
    }
}

TEST(LocaleInfo, BufferProtocol) {
    zq::ScopedLocaleSettings scope(German());
    // Size query: characters with the NUL.
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, nullptr, 0), 7);
    char16_t exact[7];
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, exact, 7), 7);
    EXPECT_EQ(std::u16string(exact), u"German");

    char16_t shortBuf[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, shortBuf, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    char narrow[4];
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, narrow, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    struct Refusal {
        LCID locale;
        LCTYPE item;
        int size;
        DWORD error;
    };
    const Refusal refusals[] = {
        {0x1234, LOCALE_ICOUNTRY, 8, ERROR_INVALID_PARAMETER},  // unknown locale
        {LOCALE_USER_DEFAULT, 0x7777, 8, ERROR_INVALID_FLAGS},  // unknown item
        {LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, -1, ERROR_INVALID_PARAMETER},
        {LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE | LOCALE_RETURN_NUMBER, 8, ERROR_INVALID_FLAGS},
    };
    for (const Refusal& r : refusals) {
        char16_t buf[8];
        SetLastError(0);
        EXPECT_EQ(GetLocaleInfoW(r.locale, r.item, buf, r.size), 0) << std::hex << r.locale << " " << r.item;
        EXPECT_EQ(GetLastError(), r.error) << std::hex << r.locale << " " << r.item;
    }

    DWORD number = 0;
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&number), 2),
              2);
    EXPECT_EQ(number, 49u);
}

TEST(LocaleSettings, LanguageAndDefaults) {
    zq::ScopedLocaleSettings scope(German());
    EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0407);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0407u);
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    EXPECT_EQ(GetACP(), 1252u);
    {
        zq::LocaleSettings us;
        zq::ScopedLocaleSettings inner(us);
        EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
        char country[8];
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, country, 8);
        EXPECT_STREQ(country, "1");
    }
    EXPECT_EQ(GetUserDefaultLangID(), 0x0407);  // restored
}

TEST(LocaleSettings, ReadFromTheEnvironment) {
    struct Var {
        const char* name;
        const char* value;
    };
    const Var vars[] = {{"ZQ_ACP", "932"},         {"ZQ_OEMCP", "437"},           {"ZQ_LANGID", "0x0411"},
                        {"ZQ_COUNTRY", "81"},      {"ZQ_COMPUTERNAME", "zq-build-host-01"},
                        {"ZQ_USERNAME", "tester"}};
    for (const Var& v : vars) setenv(v.name, v.value, 1);
    const zq::LocaleSettings s = zq::LocaleSettingsFromEnvironment();
    EXPECT_EQ(s.ansiCodePage, 932u);
    EXPECT_EQ(s.oemCodePage, 437u);
    EXPECT_EQ(s.languageId, 0x0411);
    EXPECT_EQ(s.country, 81u);
    EXPECT_EQ(s.computerName, "ZQ-BUILD-HOST-0");  // upper case, at most 15 characters
    EXPECT_EQ(s.userName, "tester");

    // Values that cannot be a system setting fall back to the defaults.
    setenv("ZQ_ACP", "65001", 1);
    setenv("ZQ_LANGID", "banana", 1);
    const zq::LocaleSettings bad = zq::LocaleSettingsFromEnvironment();
    EXPECT_EQ(bad.ansiCodePage, 1252u);
    EXPECT_EQ(bad.languageId, 0x0409);
    for (const Var& v : vars) unsetenv(v.name);
    const zq::LocaleSettings plain = zq::LocaleSettingsFromEnvironment();
    EXPECT_EQ(plain.computerName, "ZQHOST");
    EXPECT_FALSE(plain.userName.empty());
}

TEST(Names, ComputerNameSizeProtocol) {
    zq::ScopedLocaleSettings scope(German());
    char name[16];
    DWORD size = sizeof name;
    EXPECT_TRUE(GetComputerNameA(name, &size));
    EXPECT_STREQ(name, "PRINTHOST");
    EXPECT_EQ(size, 9u);  // without the NUL

    size = 9;
    SetLastError(0);
    EXPECT_FALSE(GetComputerNameA(name, &size));
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, 10u);  // needed, with the NUL

    char16_t wide[16];
    size = 16;
    EXPECT_TRUE(GetComputerNameW(wide, &size));
    EXPECT_EQ(std::u16string(wide), u"PRINTHOST");
}

TEST(Names, UserNameSizeProtocol) {
    zq::ScopedLocaleSettings scope(German());
    DWORD size = 0;
    SetLastError(0);
    EXPECT_FALSE(GetUserNameW(nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 7u);
    char16_t wide[7];
    EXPECT_TRUE(GetUserNameW(wide, &size));
    EXPECT_EQ(std::u16string(wide), u"J\u00FCrgen");
    EXPECT_EQ(size, 7u);  // with the NUL

    char narrow[42] = {};
    size = sizeof narrow;
    EXPECT_TRUE(GetUserNameA(narrow, &size));
    EXPECT_STREQ(narrow, "J\xFCrgen");  // in the ANSI code page
    EXPECT_FALSE(GetUserNameA(narrow, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
