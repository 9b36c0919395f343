#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/diag.h"
#include "base/error.h"
#include "base/locale.h"
#include "base/text.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// Reference encodings (checked against an independent codec).
struct RoundTrip {
    UINT codePage;
    std::u16string text;
    std::string bytes;
};

class CodePageRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(CodePageRoundTrip, BothDirectionsMatchTheReference) {
    const RoundTrip& c = GetParam();
    const int wideSize = MultiByteToWideChar(c.codePage, 0, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                             nullptr, 0);
    ASSERT_EQ(wideSize, static_cast<int>(c.text.size()));
    std::u16string wide(wideSize, u'\0');
    ASSERT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), wide.data(),
                                  wideSize),
              wideSize);
    EXPECT_EQ(wide, c.text);

    BOOL usedDefault = TRUE;
    const int narrowSize = WideCharToMultiByte(c.codePage, 0, c.text.data(), static_cast<int>(c.text.size()),
                                               nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(narrowSize, static_cast<int>(c.bytes.size()));
    std::string narrow(narrowSize, '\0');
    ASSERT_EQ(WideCharToMultiByte(c.codePage, 0, c.text.data(), static_cast<int>(c.text.size()), narrow.data(),
                                  narrowSize, nullptr, c.codePage == CP_UTF8 ? nullptr : &usedDefault),
              narrowSize);
    EXPECT_EQ(narrow, c.bytes);
    if (c.codePage != CP_UTF8) {
        EXPECT_FALSE(usedDefault);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CodePageRoundTrip,
    testing::Values(
        RoundTrip{932, u"\u65E5\u672C\u8A9E\uFF71\\", Bytes({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0xB1, 0x5C})},
        RoundTrip{932, u"\u2460\u222A\uFFE2", Bytes({0x87, 0x40, 0x81, 0xBE, 0x81, 0xCA})},
        RoundTrip{1252, u"\u20AC\u201E\u00FF\u017DA", Bytes({0x80, 0x84, 0xFF, 0x8E, 0x41})},
        // An undefined byte of the Western page still survives the round trip.
        RoundTrip{1252, u"\u0081", Bytes({0x81})},
        RoundTrip{949, u"\uD55C\uAD6D", Bytes({0xC7, 0xD1, 0xB1, 0xB9})},
        RoundTrip{936, u"\u4E2D\u6587", Bytes({0xD6, 0xD0, 0xCE, 0xC4})},
        RoundTrip{950, u"\u4E2D\u6587", Bytes({0xA4, 0xA4, 0xA4, 0xE5})},
        RoundTrip{1250, u"\u0141\u00F3d\u017A", Bytes({0xA3, 0xF3, 0x64, 0x9F})},
        RoundTrip{1251, u"\u041F\u0440\u0438", Bytes({0xCF, 0xF0, 0xE8})},
        RoundTrip{CP_UTF8, u"a\u00E9\u20AC\U0001F600", Bytes({0x61, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98,
                                                             0x80})}));

TEST(MultiByteToWideChar, SizeProtocol) {
    const char* text = "Zelquor";
    // -1: NUL-terminated, the NUL converted and counted.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, nullptr, 0), 8);
    char16_t out[8];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, out, 8), 8);
    EXPECT_EQ(std::u16string(out), u"Zelquor");

    SetLastError(0);
    char16_t small[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, small, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // Explicit length: no NUL added.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, text, 3, out, 8), 3);
}

TEST(MultiByteToWideChar, RefusedArguments) {
    char16_t out[8];
    const char* text = "abc";
    struct Case {
        UINT cp;
        DWORD flags;
        const char* src;
        int srcLen;
        char16_t* dst;
        int dstLen;
        DWORD error;
    };
    const Case cases[] = {
        {1252, 0, nullptr, 3, out, 8, ERROR_INVALID_PARAMETER},
        {1252, 0, text, 0, out, 8, ERROR_INVALID_PARAMETER},
        {1252, 0, text, -2, out, 8, ERROR_INVALID_PARAMETER},
        {1252, 0, text, 3, nullptr, 8, ERROR_INVALID_PARAMETER},
        {1252, 0, text, 3, out, -1, ERROR_INVALID_PARAMETER},
        {4711, 0, text, 3, out, 8, ERROR_INVALID_PARAMETER},
        {1252, 0x100, text, 3, out, 8, ERROR_INVALID_FLAGS},
        {CP_UTF8, MB_PRECOMPOSED, text, 3, out, 8, ERROR_INVALID_FLAGS},
    };
    zq::DiagCapture log;
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.cp, c.flags, c.src, c.srcLen, c.dst, c.dstLen), 0) << c.cp << " " << c.flags;
        EXPECT_EQ(GetLastError(), c.error) << c.cp << " " << c.flags;
    }
    // Unsupported flags are logged, so that a caller relying on them is found.
    EXPECT_EQ(log.Matching("MultiByteToWideChar: refused: unsupported flags").size(), 2u);
}

TEST(MultiByteToWideChar, InvalidSequences) {
    struct Case {
        UINT cp;
        std::string bytes;
        std::u16string lenient;
    };
    const Case cases[] = {
        {CP_UTF8, Bytes({0x61, 0xC3}), u"a\uFFFD"},              // cut short
        {CP_UTF8, Bytes({0xC0, 0xAF, 0x62}), u"\uFFFD\uFFFD\x62"},  // over-long form: each byte refused
        {CP_UTF8, Bytes({0xED, 0xA0, 0x80}), u"\uFFFD"},          // encoded surrogate
        {932, Bytes({0x41, 0x93}), u"A?"},                       // lead byte without trail
        {932, Bytes({0x93, 0x20}), u"? "},                       // trail byte out of range
    };
    for (const Case& c : cases) {
        char16_t out[16];
        const int n = MultiByteToWideChar(c.cp, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), out, 16);
        EXPECT_EQ(std::u16string(out, n > 0 ? n : 0), c.lenient) << c.cp;
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.cp, MB_ERR_INVALID_CHARS, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                      out, 16),
                  0);
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION) << c.cp;
    }
}

TEST(WideCharToMultiByte, DefaultCharacterAndFlag) {
    const char16_t* text = u"A\u4E2DB";  // the CJK character is not in the Western page
    char out[8] = {};
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, text, -1, out, 8, nullptr, &used), 4);
    EXPECT_STREQ(out, "A?B");
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, text, -1, out, 8, "#", &used), 4);
    EXPECT_STREQ(out, "A#B");

    // A character outside the BMP is one default character.
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"\U0001F600", 2, out, 8, nullptr, &used), 1);
    EXPECT_EQ(out[0], '?');

    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(WideCharToMultiByte, ShortBufferAndUnpairedSurrogate) {
    char out[4];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"\u65E5\u672C\u8A9E", -1, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"\u65E5\u672C\u8A9E", -1, nullptr, 0, nullptr, nullptr), 7);

    char utf8[8];
    const char16_t lone[] = {0xD800, u'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 2, utf8, 8, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(utf8, 4), Bytes({0xEF, 0xBF, 0xBD, 'x'}));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 2, utf8, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(CodePages, AnsiCodePageFollowsSettings) {
    zq::LocaleSettings s = zq::CurrentLocaleSettings();
    s.ansiCodePage = 932;
    s.oemCodePage = 437;
    zq::ScopedLocaleSettings scope(s);
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(GetOEMCP(), 437u);
    EXPECT_TRUE(IsDBCSLeadByte(0x93));
    EXPECT_FALSE(IsDBCSLeadByte(0x41));
    char16_t out[4];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x93\xFA", 2, out, 4), 1);
    EXPECT_EQ(out[0], u'\u65E5');
    EXPECT_EQ(MultiByteToWideChar(CP_OEMCP, 0, "\x9B", 1, out, 4), 1);
    EXPECT_EQ(out[0], u'\u00A2');  // the US OEM page's cent sign
}

TEST(CodePages, Validity) {
    for (UINT cp : {437u, 850u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u,
                    1361u, 28592u, 28595u, CP_UTF8})
        EXPECT_TRUE(IsValidCodePage(cp)) << cp;
    for (UINT cp : {0u, 1u, 7u, 4711u, 65000u}) EXPECT_FALSE(IsValidCodePage(cp)) << cp;
}

TEST(CaseMapping, StringsAndSingleCharacters) {
    char16_t wide[] = u"stra\u00DFe \u00E9t\u00E9 \u0434\u043E\u043C";
    CharUpperW(wide);
    EXPECT_EQ(std::u16string(wide), u"STRA\u00DFE \u00C9T\u00C9 \u0414\u041E\u041C");
    CharLowerW(wide);
    EXPECT_EQ(std::u16string(wide), u"stra\u00DFe \u00E9t\u00E9 \u0434\u043E\u043C");

    // A pointer with a zero high part is one character.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(uintptr_t{u'\u00E4'}))), 0xC4u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(CharLowerA(reinterpret_cast<LPSTR>(uintptr_t{'Q'}))), uintptr_t{'q'});

    zq::LocaleSettings s = zq::CurrentLocaleSettings();
    s.ansiCodePage = 1252;
    zq::ScopedLocaleSettings scope(s);
    char narrow[] = "\xE9t\xE9 ok";
    CharUpperA(narrow);
    EXPECT_STREQ(narrow, "\xC9T\xC9 OK");

    // In a double-byte page, trail bytes that look like letters stay as they are.
    s.ansiCodePage = 932;
    zq::ScopedLocaleSettings japanese(s);
    char mixed[] = "a\x83\x61z";  // 0x83 0x61 is one katakana character
    CharUpperA(mixed);
    EXPECT_STREQ(mixed, "A\x83\x61Z");
}

TEST(StringCalls, BoundedCopyAndNullSafety) {
    char buf[6];
    std::memset(buf, 'x', sizeof buf);
    lstrcpynA(buf, "Zelquor", 4);
    EXPECT_STREQ(buf, "Zel");
    EXPECT_EQ(buf[4], 'x');  // nothing written past the bound
    char16_t wbuf[4];
    lstrcpynW(wbuf, u"abcdef", 4);
    EXPECT_EQ(std::u16string(wbuf), u"abc");
    lstrcpynW(wbuf, nullptr, 4);
    EXPECT_EQ(wbuf[0], 0);

    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenW(u"abc"), 3);
    EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
    char cat[16] = "Zel";
    EXPECT_STREQ(lstrcatA(cat, "quor"), "Zelquor");
}

TEST(StringCalls, Comparisons) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int cmp;
        int cmpi;
    };
    const Case cases[] = {
        {u"Ovra 3000", u"OVRA 3000", -1, 0},
        {u"abc", u"abd", -1, -1},
        {u"B", u"a", 1, 1},  // word order, not code order
        {u"a", u"A", -1, 0},
        {u"", u"a", -1, -1},
        {u"\u00E9t\u00E9", u"\u00C9T\u00C9", -1, 0},
        {u"_x", u"ax", -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lstrcmpW(c.a, c.b), c.cmp) << zq::Utf16ToUtf8(c.a);
        EXPECT_EQ(lstrcmpW(c.b, c.a), -c.cmp) << zq::Utf16ToUtf8(c.a);
        EXPECT_EQ(lstrcmpiW(c.a, c.b), c.cmpi) << zq::Utf16ToUtf8(c.a);
        const std::string a = zq::WideToAnsi(c.a, 1252);
        const std::string b = zq::WideToAnsi(c.b, 1252);
        zq::LocaleSettings s = zq::CurrentLocaleSettings();
        s.ansiCodePage = 1252;
        zq::ScopedLocaleSettings scope(s);
        EXPECT_EQ(lstrcmpiA(a.c_str(), b.c_str()), c.cmpi) << a;
        EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, c.a, -1, c.b, -1), c.cmpi + 2);
        EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, a.c_str(), -1, b.c_str(), -1), c.cmp + 2);
    }
    EXPECT_EQ(CompareStringW(0, NORM_IGNORECASE, u"abcX", 3, u"ABCY", 3), CSTR_EQUAL);
    EXPECT_EQ(CompareStringW(0, NORM_IGNORESYMBOLS, u"a-b", -1, u"ab", -1), CSTR_EQUAL);
    SetLastError(0);
    EXPECT_EQ(CompareStringW(0, 0x40000000, u"a", -1, u"a", -1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);

    EXPECT_TRUE(zq::StartsWithIgnoreCase(u"OVRA-12", u"ovra"));
    EXPECT_TRUE(zq::EqualsIgnoreCase(std::string_view("Model"), std::string_view("MODEL")));
    EXPECT_FALSE(zq::EqualsIgnoreCase(std::string_view("Model"), std::string_view("Models")));
}

TEST(Formatting, Conversions) {
    struct Case {
        const char* format;
        std::string expected;
    };
    char buf[64];
    auto fmt = [&](const char* f, auto... args) {
        wnsprintfA(buf, sizeof buf, f, args...);
        return std::string(buf);
    };
    EXPECT_EQ(fmt("%d|%5d|%-5d|%05d|%.3d", -42, 7, 7, -7, 5), "-42|    7|7    |-0007|005");
    EXPECT_EQ(fmt("%u %x %X %#x %lx %lu %ld", 4000000000u, 255u, 255u, 255u, 0xABCDu, 1u, LONG{-1}),
              "4000000000 ff FF 0xff abcd 1 -1");
    EXPECT_EQ(fmt("%hd %hu", 70000, 70000), "4464 4464");
    EXPECT_EQ(fmt("%I64d %I64x", int64_t{-5000000000}, uint64_t{0x123456789}), "-5000000000 123456789");
    EXPECT_EQ(fmt("[%s] [%-6s] [%6.2s] [%S] [%hs] [%ls]", "ab", "ab", "xyz", u"wide", "n", u"w"),
              "[ab] [ab    ] [    xy] [wide] [n] [w]");
    EXPECT_EQ(fmt("%c%c %C %%", 'o', 'k', u'W'), "ok W %");
    EXPECT_EQ(fmt("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(fmt("unknown %y end"), "unknown y end");

    char16_t wbuf[64];
    wnsprintfW(wbuf, 64, u"%s=%d %S %hs", u"n\u00E9", 3, "\xE9", "x");
    zq::LocaleSettings s = zq::CurrentLocaleSettings();
    s.ansiCodePage = 1252;
    zq::ScopedLocaleSettings scope(s);
    wnsprintfW(wbuf, 64, u"%s=%d %S %hs", u"n\u00E9", 3, "\xE9", "x");
    EXPECT_EQ(std::u16string(wbuf), u"n\u00E9=3 \u00E9 x");
}

TEST(Formatting, NeverWritesPastTheBuffer) {
    struct Case {
        int size;
        const char* expected;
        int result;
    };
    const Case cases[] = {{1, "", 0}, {2, "Z", 1}, {8, "Zelquor", 7}, {9, "Zelquor ", 8}, {64, "Zelquor 12345", 13}};
    for (const Case& c : cases) {
        std::vector<char> buf(static_cast<size_t>(c.size) + 4, '#');
        EXPECT_EQ(wnsprintfA(buf.data(), c.size, "%s %d", "Zelquor", 12345), c.result) << c.size;
        EXPECT_STREQ(buf.data(), c.expected);
        for (size_t i = static_cast<size_t>(c.size); i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << c.size;
    }
    char16_t w[5];
    std::fill(std::begin(w), std::end(w), u'#');
    EXPECT_EQ(wnsprintfW(w, 3, u"%08d", 1), 2);
    EXPECT_EQ(std::u16string(w), u"00");
    EXPECT_EQ(w[3], u'#');

    char one[1];
    EXPECT_EQ(wnsprintfA(one, 0, "x"), -1);
    EXPECT_EQ(wnsprintfA(nullptr, 4, "x"), -1);
    // A huge width is cut at the buffer, not trusted.
    char small[8];
    EXPECT_EQ(wnsprintfA(small, 8, "%999999999d", 1), 7);
}

TEST(Utf, HelpersRoundTripAndReplaceMalformedInput) {
    const std::u16string text = u"Zelquor \u00E9\u20AC\U0001F600";
    EXPECT_EQ(zq::Utf8ToUtf16(zq::Utf16ToUtf8(text)), text);
    EXPECT_EQ(zq::Utf8ToUtf16("\xFF" "a"), u"\uFFFDa");
    EXPECT_EQ(zq::AnsiToWide("\x80", 1252), u"\u20AC");
    EXPECT_EQ(zq::WideToAnsi(u"\u20AC\u4E2D", 1252), "\x80?");
}

}  // namespace

namespace {

TEST(CodePages, FirstUseFromManyThreadsAgrees) {
    // The Thai page is not used by the other cases, so its table is built
    // here, by whichever thread comes first.
    std::vector<std::thread> threads;
    std::vector<std::u16string> results(4);
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&results, t] { results[t] = zq::AnsiToWide("\xA1" "A", 874); });
    for (auto& th : threads) th.join();
    for (const auto& r : results) EXPECT_EQ(r, u"\u0E01A");  // Thai letter ko kai
}

}  // namespace
