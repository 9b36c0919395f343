// The built-in code-page tables against the system's converters (glibc
// iconv), asked afresh here: every byte, every pair after a lead byte and
// every character of the BMP, for each code page we support.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>

#include "base/text.h"

namespace {

struct Page {
    UINT codePage;
    const char* iconvName;
};

constexpr Page kPages[] = {
    {437, "CP437"},         {737, "CP737"},         {775, "CP775"},         {850, "CP850"},
    {852, "CP852"},         {855, "CP855"},         {857, "CP857"},         {860, "CP860"},
    {861, "CP861"},         {862, "CP862"},         {863, "CP863"},         {864, "CP864"},
    {865, "CP865"},         {866, "CP866"},         {869, "CP869"},         {874, "CP874"},
    {1250, "CP1250"},       {1251, "CP1251"},       {1252, "CP1252"},       {1253, "CP1253"},
    {1254, "CP1254"},       {1255, "CP1255"},       {1256, "CP1256"},       {1257, "CP1257"},
    {1258, "CP1258"},       {932, "CP932"},         {936, "CP936"},         {949, "CP949"},
    {950, "CP950"},         {1361, "JOHAB"},        {10000, "MACINTOSH"},   {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
};

// One conversion through iconv from a reset state: the output, or nothing
// with the errno in `error`.
std::string Iconv(iconv_t cd, const std::string& in, int& error) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char out[16];
    char* outPtr = out;
    size_t outLeft = sizeof out;
    error = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ? errno : 0;
    if (error == 0) iconv(cd, nullptr, nullptr, &outPtr, &outLeft);  // a letter held back for a combining mark
    if (error == 0 && inLeft != 0) error = EINVAL;
    return error ? std::string() : std::string(out, sizeof out - outLeft);
}

std::string Utf16Bytes(char16_t c) { return std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)}; }

// What our decoder makes of `bytes` (strict); `ok` false when it refuses them.
std::u16string Decode(UINT cp, const std::string& bytes, bool& ok) {
    char16_t out[8];
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), out, 8);
    ok = n > 0;
    return std::u16string(out, n > 0 ? n : 0);
}

class CodePageTables : public testing::TestWithParam<Page> {};

TEST_P(CodePageTables, AgreeWithTheSystemConverter) {
    const Page& page = GetParam();
    iconv_t toWide = iconv_open("UTF-16LE", page.iconvName);
    iconv_t fromWide = iconv_open(page.iconvName, "UTF-16LE");
    const iconv_t none = reinterpret_cast<iconv_t>(-1);
    if (toWide == none || fromWide == none) {
        if (toWide != none) iconv_close(toWide);
        if (fromWide != none) iconv_close(fromWide);
        GTEST_SKIP() << "this system has no converter for " << page.iconvName;
    }
    ASSERT_TRUE(IsValidCodePage(page.codePage));
    int failures = 0;
    auto fail = [&] { return ++failures < 20; };  // a broken table reports its first faults, not all

    // Decoding: each byte, then each pair after a lead byte.
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        int error = 0;
        const std::string want = Iconv(toWide, byte, error);
        bool ok = false;
        const std::u16string got = Decode(page.codePage, byte, ok);
        if (error == EINVAL) {
            if (!IsDBCSLeadByteEx(page.codePage, static_cast<BYTE>(b)) && fail())
                ADD_FAILURE() << page.codePage << ": byte " << b << " starts a pair but is no lead byte";
            for (int trail = 1; trail < 256; ++trail) {
                const std::string pair{static_cast<char>(b), static_cast<char>(trail)};
                const std::string wantPair = Iconv(toWide, pair, error);
                const std::u16string gotPair = Decode(page.codePage, pair, ok);
                if (error == 0 && wantPair.size() == 2 && wantPair != std::string(2, '\0')) {
                    if ((!ok || gotPair.size() != 1 || Utf16Bytes(gotPair[0]) != wantPair) && fail())
                        ADD_FAILURE() << page.codePage << ": pair " << b << " " << trail << " decodes wrongly";
                } else if (ok && fail()) {
                    ADD_FAILURE() << page.codePage << ": pair " << b << " " << trail << " is invalid but decodes";
                }
            }
        } else if (error == 0) {
            if ((!ok || got.size() != 1 || Utf16Bytes(got[0]) != want) && fail())
                ADD_FAILURE() << page.codePage << ": byte " << b << " decodes wrongly";
        } else if ((!ok || got.size() != 1) && fail()) {
            // Undefined in the code page: still one character of its own.
            ADD_FAILURE() << page.codePage << ": undefined byte " << b << " has no character";
        }
    }

    // Encoding: the converter's bytes where it has some that decode back;
    // otherwise bytes that decode to the character, or the default character.
    for (uint32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;
        const char16_t ch = static_cast<char16_t>(c);
        char got[4];
        BOOL usedDefault = FALSE;
        const int n = WideCharToMultiByte(page.codePage, 0, &ch, 1, got, sizeof got, nullptr, &usedDefault);
        const std::string gotBytes(got, n > 0 ? n : 0);
        int error = 0;
        const std::string want = Iconv(fromWide, Utf16Bytes(ch), error);
        int backError = 0;
        // One character is one code: a byte, or a pair in a double-byte page
        // (not a letter and a combining mark). Some only encode one way (a
        // best fit of the converter's own): those are kept too.
        const bool doubleByte = page.codePage == 932 || page.codePage == 936 || page.codePage == 949 ||
                                page.codePage == 950 || page.codePage == 1361;
        const bool wantValid = error == 0 && (want.size() == 1 || (want.size() == 2 && doubleByte)) &&
                               !Iconv(toWide, want, backError).empty() && backError == 0;
        if (wantValid) {
            if ((usedDefault || gotBytes != want) && fail())
                ADD_FAILURE() << page.codePage << ": character " << c << " encodes other than the converter does";
            continue;
        }
        if (usedDefault) continue;
        bool ok = false;
        const std::u16string back = Decode(page.codePage, gotBytes, ok);
        if ((!ok || back != std::u16string(1, ch)) && fail())
            ADD_FAILURE() << page.codePage << ": character " << c << " encodes to bytes that do not decode to it";
    }
    iconv_close(toWide);
    iconv_close(fromWide);
}

// Whole texts through iconv, for text longer than one character.
std::string IconvText(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "(no converter)";
    std::string out(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    return ok ? out.substr(0, out.size() - outLeft) : "(refused)";
}

std::string Utf16Bytes(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += Utf16Bytes(c);
    return out;
}

// Plain text is converted several bytes at a time: texts of every length up
// to a few such steps, with characters beyond 7 bits at every position
// (alone, in pairs, and where a surrogate pair straddles a step), convert
// as the system's converter does in both directions.
TEST(CodePageTexts, LongerTextsAgreeWithTheSystemConverter) {
    struct Case {
        UINT codePage;
        const char* iconvName;
        std::u16string special;  // one character (or surrogate pair) beyond 7 bits
    };
    const Case cases[] = {
        {CP_UTF8, "UTF-8", u"\u00E9"},      {CP_UTF8, "UTF-8", u"\u20AC"},     {CP_UTF8, "UTF-8", u"\U0001F600"},
        {1252, "CP1252", u"\u00E9"},        {1252, "CP1252", u"\u20AC"},       {932, "CP932", u"\u3042"},
        {932, "CP932", u"\uFF71"},          {850, "CP850", u"\u00E9"},
    };
    for (const Case& c : cases) {
        for (size_t length = 0; length <= 26; ++length) {
            for (size_t at = 0; at <= length; ++at) {
                for (const bool twice : {false, true}) {
                    std::u16string text;
                    for (size_t i = 0; i < length; ++i) text += static_cast<char16_t>(u'A' + (i % 26));
                    text.insert(at, c.special);
                    if (twice) text += c.special;
                    SCOPED_TRACE(testing::Message() << c.codePage << " length " << length << " at " << at
                                                    << (twice ? " and at the end" : ""));
                    const std::string bytes = IconvText(c.iconvName, "UTF-16LE", Utf16Bytes(text));
                    ASSERT_NE(bytes.front(), '(') << bytes;
                    std::string encoded(bytes.size() + 8, '\0');
                    const int n = WideCharToMultiByte(c.codePage, 0, text.data(), static_cast<int>(text.size()),
                                                      encoded.data(), static_cast<int>(encoded.size()), nullptr,
                                                      nullptr);
                    EXPECT_EQ(encoded.substr(0, n > 0 ? n : 0), bytes);
                    std::u16string decoded(text.size() + 8, u'\0');
                    const int m = MultiByteToWideChar(c.codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                                      static_cast<int>(bytes.size()), decoded.data(),
                                                      static_cast<int>(decoded.size()));
                    EXPECT_EQ(Utf16Bytes(decoded.substr(0, m > 0 ? m : 0)),
                              IconvText("UTF-16LE", c.iconvName, bytes));
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, CodePageTables, testing::ValuesIn(kPages),
                         [](const testing::TestParamInfo<Page>& info) {
                             return "cp" + std::to_string(info.param.codePage);
                         });

}  // namespace
