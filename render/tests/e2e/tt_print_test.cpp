// TrueType text printed through pclrend as soft fonts on PCL 5 and PCL XL
// pages: read back with the test-side reader and rendered by the
// independent interpreter, compared with the engine's own render of the
// pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

using TrueTypePrintTest = PrinterTest;

zq::PrivateDevmode Pcl5Letter(int dpi, short ttOption) {
    auto dm = Letter(dpi);
    dm.printerLanguage = 1;
    dm.dm.dmTTOption = ttOption;
    return dm;
}

// Lines of DejaVu Sans: Latin, accented (composite glyphs), Cyrillic and
// Greek (past the first 224 glyphs), and glyph 5000 by its index.
void DrawText(HDC dc, int dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -dpi * 14 / 72;
    std::u16string face = u"DejaVu Sans";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const std::u16string lines[] = {u"Zelquor soft fonts", u"caf\u00e9 na\u00efve \u00c5ngstr\u00f6m",
                                    u"\u0416\u0443\u0440\u043d\u0430\u043b \u03a9\u03bc\u03ad\u03b3\u03b1"};
    int y = dpi;
    for (const auto& s : lines) {
        TextOutW(dc, dpi / 2, y, reinterpret_cast<LPCWSTR>(s.c_str()), static_cast<int>(s.size()));
        y += dpi / 3;
    }
    const WORD glyphs[] = {5000, 36, 6000};
    ExtTextOutW(dc, dpi / 2, y, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<LPCWSTR>(glyphs), 3, nullptr);
    SelectObject(dc, old);
    DeleteObject(font);
    // A face of a collection with Chinese text, and a CFF face (sent as bitmaps).
    const std::pair<std::u16string, std::u16string> more[] = {
        {u"WenQuanYi Micro Hei", u"\u6587\u6cc9\u9a7f \u5fae\u7c73\u9ed1 Zelquor"},
        {u"Nimbus Sans", u"Nimbus Sans, CFF outlines"},
    };
    for (const auto& [family, text] : more) {
        y += dpi / 3;
        LOGFONTW other{};
        other.lfHeight = -dpi * 12 / 72;
        std::copy(family.begin(), family.end(), other.lfFaceName);
        HFONT f = CreateFontIndirectW(&other);
        HGDIOBJ was = SelectObject(dc, f);
        TextOutW(dc, dpi / 2, y, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()));
        SelectObject(dc, was);
        DeleteObject(f);
    }
}

// Black pixels of a reader page, and the box around them.
struct Ink {
    int64_t count = 0;
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};
Ink InkOf(const pclread::Page& p) {
    Ink ink;
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x)
            if (p.Black(x, y)) {
                ++ink.count;
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
    return ink;
}
Ink InkOf(zq::gdi::Bitmap& reference) {
    Ink ink;
    zq::gdi::Surface* s = reference.Get();
    for (LONG y = 0; s && y < s->sizlBitmap.cy; ++y)
        for (LONG x = 0; x < s->sizlBitmap.cx; ++x)
            if ((s->Pal().ToRgb(s->Pixel(x, y)) & 0xFFFFFF) == 0) {
                ++ink.count;
                ink.left = std::min<int32_t>(ink.left, x);
                ink.right = std::max<int32_t>(ink.right, x);
                ink.top = std::min<int32_t>(ink.top, y);
                ink.bottom = std::max<int32_t>(ink.bottom, y);
            }
    return ink;
}

size_t Count(const std::vector<uint8_t>& job, std::string_view what, size_t from = 0, size_t to = std::string::npos) {
    const std::string_view s(reinterpret_cast<const char*>(job.data()), job.size());
    size_t n = 0;
    for (size_t at = s.find(what, from); at != std::string::npos && at < to; at = s.find(what, at + 1)) ++n;
    return n;
}

// ESC*c#E commands (a soft-font character follows each).
size_t CharacterCodes(std::string_view s) {
    size_t n = 0;
    for (size_t at = s.find("\x1b*c"); at != std::string_view::npos; at = s.find("\x1b*c", at + 1)) {
        size_t i = at + 3;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i < s.size() && i > at + 3 && s[i] == 'E') ++n;
    }
    return n;
}

TEST_F(TrueTypePrintTest, TextPrintsFromSoftFontsSentOncePerJob) {
    constexpr int dpi = 300;
    // 2: every glyph as a bitmap (the engine's own bits: the same ink); 3:
    // outlines for fonts without a device face, bitmaps where outlines
    // cannot serve (the CFF face).
    for (short option : {short{2}, short{3}}) {
        auto result = PrintPages(driverPath_, Pcl5Letter(dpi, option), 2, [&](HDC dc, int) { DrawText(dc, dpi); });
        ASSERT_TRUE(result.enabled);
        EXPECT_TRUE(result.endDocOk);
        const pclread::Job job = pclread::Read(result.job);
        std::string errors;
        for (const auto& e : job.errors) errors += e + "\n";
        EXPECT_TRUE(job.Ok()) << "option " << option << "\n" << errors;
        ASSERT_EQ(job.pages.size(), 2u);
        ASSERT_EQ(result.reference.size(), 2u);
        // Fonts and characters all went with the first page: a job of one
        // page carries as many.
        auto single = PrintPages(driverPath_, Pcl5Letter(dpi, option), 1, [&](HDC dc, int) { DrawText(dc, dpi); }, false);
        const std::string_view s(reinterpret_cast<const char*>(result.job.data()), result.job.size());
        const std::string_view one(reinterpret_cast<const char*>(single.job.data()), single.job.size());
        EXPECT_GT(CharacterCodes(one), 10u);
        EXPECT_EQ(CharacterCodes(s), CharacterCodes(one)) << "characters sent again, option " << option;
        EXPECT_EQ(Count(result.job, "\x1b)s"), Count(single.job, "\x1b)s")) << "fonts sent again, option " << option;
        if (option == 3) {
            EXPECT_GT(Count(result.job, "\x1b*c65535E"), 0u) << "composite parts";
            EXPECT_GT(Count(result.job, "\x1b(65G"), 0u) << "glyph 5000's block";
        }
        // Each page's ink is the reference's: identical for bitmaps, in the
        // same place (a pixel or two, sizes at quarter points) for outlines.
        for (size_t p = 0; p < 2; ++p) {
            const Ink got = InkOf(job.pages[p]), want = InkOf(result.reference[p]);
            ASSERT_GT(want.count, 1000);
            const int32_t tolerance = option == 2 ? 0 : 3;
            EXPECT_NEAR(got.left, want.left, tolerance) << "option " << option << " page " << p;
            EXPECT_NEAR(got.top, want.top, tolerance);
            EXPECT_NEAR(got.right, want.right, tolerance + (option == 2 ? 0 : want.right / 100));
            EXPECT_NEAR(got.bottom, want.bottom, tolerance);
            EXPECT_NEAR(static_cast<double>(got.count), static_cast<double>(want.count),
                        option == 2 ? 0.0 : want.count * 0.1);
        }
        if (const char* dump = std::getenv("ZQ_TT_DUMP")) {
            std::ofstream out(std::string(dump) + std::to_string(option) + ".pcl", std::ios::binary);
            out.write(reinterpret_cast<const char*>(result.job.data()), static_cast<std::streamsize>(result.job.size()));
        }
        const std::string gpcl6 = Gpcl6Path();
        if (gpcl6.empty()) continue;
        const auto judged = RunGpcl6(gpcl6, result.job, dpi, "ttprint");
        ASSERT_EQ(judged.size(), 2u);
        for (size_t p = 0; p < 2; ++p) {
            // The sheet holds the page at the printable corner.
            Ink g;
            for (int32_t y = 0; y < judged[p].height; ++y)
                for (int32_t x = 0; x < judged[p].width; ++x)
                    if (judged[p].grey[static_cast<size_t>(y) * judged[p].width + x] < 128) {
                        ++g.count;
                        g.left = std::min(g.left, x - dpi / 6);
                        g.right = std::max(g.right, x - dpi / 6);
                        g.top = std::min(g.top, y - dpi / 6);
                        g.bottom = std::max(g.bottom, y - dpi / 6);
                    }
            const Ink want = InkOf(result.reference[p]);
            EXPECT_NEAR(g.left, want.left, 3) << "gpcl6, option " << option << " page " << p;
            EXPECT_NEAR(g.top, want.top, 3) << "gpcl6, option " << option << " page " << p;
            EXPECT_NEAR(g.right, want.right, 3 + want.right / 100);
            EXPECT_NEAR(g.bottom, want.bottom, 3);
            EXPECT_NEAR(static_cast<double>(g.count), static_cast<double>(want.count), want.count * 0.15);
        }
    }
}

// Liberation Sans runs that carry more than glyphs: an underline, a
// strike-out, a grey text colour, and an opaque white box laid over a black
// bar with black text on it (the box must print under the text).
void DrawRuledText(HDC dc, int dpi) {
    auto font = [&](bool underline, bool strikeOut) {
        LOGFONTW lf{};
        lf.lfHeight = -dpi * 14 / 72;
        lf.lfUnderline = underline;
        lf.lfStrikeOut = strikeOut;
        const std::u16string face = u"Liberation Sans";
        std::copy(face.begin(), face.end(), lf.lfFaceName);
        return CreateFontIndirectW(&lf);
    };
    auto text = [&](int x, int y, std::u16string_view s) {
        TextOutW(dc, x, y, reinterpret_cast<LPCWSTR>(s.data()), static_cast<int>(s.size()));
    };
    SetBkMode(dc, TRANSPARENT);
    const int x = dpi / 2;
    int y = dpi;
    HFONT under = font(true, false), struck = font(false, true), plain = font(false, false);
    HGDIOBJ old = SelectObject(dc, under);
    text(x, y, u"Underlined soft-font text");
    SelectObject(dc, struck);
    text(x, y += dpi / 3, u"Struck out, not sent again");
    SelectObject(dc, plain);
    SetTextColor(dc, RGB(64, 64, 64));
    text(x, y += dpi / 3, u"Grey soft-font text");
    SetTextColor(dc, RGB(0, 0, 0));
    y += dpi / 3;
    HGDIOBJ brush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
    PatBlt(dc, x - dpi / 10, y - dpi / 20, 3 * dpi, dpi / 3, PATCOPY);
    SelectObject(dc, brush);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(255, 255, 255));
    const RECT box{x, y, x + 2 * dpi, y + dpi / 4};
    const std::u16string label = u"On a white box";
    ExtTextOutW(dc, x + dpi / 20, y, ETO_OPAQUE, &box, reinterpret_cast<LPCWSTR>(label.c_str()),
                static_cast<UINT>(label.size()), nullptr);
    SelectObject(dc, old);
    for (HFONT f : {under, struck, plain}) DeleteObject(f);
}

// The engine's page as grey (0 black).
pclread::Grey AsGrey(zq::gdi::Bitmap& reference) {
    zq::gdi::Surface* s = reference.Get();
    if (!s) return {};
    pclread::Grey g(s->sizlBitmap.cx, s->sizlBitmap.cy);
    for (LONG y = 0; y < g.height; ++y)
        for (LONG x = 0; x < g.width; ++x) {
            const uint32_t c = s->Pal().ToRgb(s->Pixel(x, y));
            g.v[static_cast<size_t>(y) * g.width + x] =
                static_cast<uint8_t>((5 * (c & 0xFF) + 9 * ((c >> 8) & 0xFF) + 2 * ((c >> 16) & 0xFF)) / 16);
        }
    return g;
}

TEST_F(TrueTypePrintTest, RulesBoxesAndGreyTextPrintBesideSoftFontText) {
    constexpr int dpi = 300;
    auto dm = Pcl5Letter(dpi, 4);
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) { DrawRuledText(dc, dpi); });
    ASSERT_TRUE(result.enabled);
    ASSERT_EQ(result.reference.size(), 1u);
    const std::string_view s(reinterpret_cast<const char*>(result.job.data()), result.job.size());
    // Every run is printer text: the glyphs went as soft-font characters
    // (each once), the grey as the text's pattern, and no glyph outline was
    // drawn in HP-GL/2.
    EXPECT_EQ(CharacterCodes(s), 27u) << "the distinct glyphs of the four runs";
    EXPECT_NE(s.find("\x1b*v4T"), std::string_view::npos) << "the grey text's pattern";
    EXPECT_EQ(s.find("PM0"), std::string_view::npos) << "a run was drawn as graphics";
    const auto job = pclread::Read(result.job, PrintableArea(dm));
    ASSERT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.pages.size(), 1u);
    const auto& glyphs = job.pages[0].textGlyphs;
    EXPECT_FALSE(glyphs.empty());
    // The rules and the box are the engine's rectangles, the glyphs within
    // the text tolerance: ink against ink, the tone of each block.
    const pclread::Grey expected = AsGrey(result.reference[0]);
    const pclread::Grey decoded = pclread::ToGrey(job.pages[0]);
    const auto m = pclread::MatchSheet(decoded, expected, pclread::GreyBlocks(decoded), glyphs);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->Passes()) << pclread::Verdict(*m);

    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 is absent: the interpreter's render is not judged";
    const auto sheets = RunGpcl6(gpcl6, result.job, dpi, "ttrules");
    ASSERT_EQ(sheets.size(), 1u);
    // The sheet holds the page at the printable corner.
    pclread::Grey printed(expected.width, expected.height);
    for (int32_t y = 0; y < printed.height; ++y)
        for (int32_t x = 0; x < printed.width; ++x) {
            const int32_t sx = x + dpi / 6, sy = y + dpi / 6;
            if (sx < sheets[0].width && sy < sheets[0].height)
                printed.v[static_cast<size_t>(y) * printed.width + x] = sheets[0].grey[static_cast<size_t>(sy) * sheets[0].width + sx];
        }
    const auto byInterpreter = pclread::MatchSheet(printed, expected, pclread::GreyBlocks(printed), glyphs);
    ASSERT_TRUE(byInterpreter);
    EXPECT_TRUE(byInterpreter->Passes()) << "gpcl6: " << pclread::Verdict(*byInterpreter);
}

// Ink of a sheet against the reference page placed at (offset, offset), in
// the reference's rows [top, bottom).
struct RowsMatch {
    int64_t extra = 0, missing = 0, ink = 0;
};
RowsMatch MatchRows(const GreyPage& sheet, zq::gdi::Bitmap& reference, int offset, int top, int bottom) {
    RowsMatch m;
    zq::gdi::Surface* s = reference.Get();
    for (LONG y = top; s && y < bottom && y < s->sizlBitmap.cy; ++y)
        for (LONG x = 0; x < s->sizlBitmap.cx; ++x) {
            const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
            const bool want = 299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c) < 128000;
            const int32_t sx = x + offset, sy = y + offset;
            const bool got = sx < sheet.width && sy < sheet.height && sheet.At(sx, sy) < 128;
            m.ink += want;
            m.extra += got && !want;
            m.missing += want && !got;
        }
    return m;
}

// PCL XL soft fonts between lines of a printer face: the face's character
// scale and its selection must not reach the soft fonts' text, nor theirs
// the face's second line. Bitmap fonts (2) print the engine's bits on the
// sheet, in the reader and in the independent interpreter alike; outlines
// (4) print in their place at their size.
TEST_F(TrueTypePrintTest, PclXlSoftFontsBetweenPrinterFaceLines) {
    constexpr int dpi = 300;
    for (short option : {short{2}, short{4}}) {
        SCOPED_TRACE("option " + std::to_string(option));
        auto dm = Letter(dpi);
        dm.printerLanguage = 2;
        dm.dm.dmTTOption = option;
        dm.nonCjkSwitch = 1;  // the printer's faces offered
        dm.fontSets1 = 0xFF;
        dm.model.fontListId = 0;
        auto face = [](HDC dc, int y) {
            LOGFONTW lf{};
            lf.lfHeight = -dpi / 6;
            const std::u16string name = u"Zel Sans (W1)";
            std::copy(name.begin(), name.end(), lf.lfFaceName);
            HFONT font = CreateFontIndirectW(&lf);
            HGDIOBJ old = SelectObject(dc, font);
            const std::u16string text = u"Printer face line";
            TextOutW(dc, dpi / 2, y, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()));
            SelectObject(dc, old);
            DeleteObject(font);
        };
        auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
            face(dc, dpi / 3);
            DrawText(dc, dpi);
            face(dc, dpi * 16 / 5);
        });
        ASSERT_TRUE(result.endDocOk);
        ASSERT_EQ(result.reference.size(), 1u);
        const pclread::Job job = pclread::Read(result.job);
        EXPECT_TRUE(job.Ok()) << ErrorText(job);
        ASSERT_EQ(job.xl.pages.size(), 1u);
        EXPECT_GT(Count(result.job, "Zel Sans        "), 1u) << "the face selected again after the soft fonts";
        // The rows of the TrueType lines, clear of the face's lines.
        const int top = dpi * 3 / 4, bottom = dpi * 3;
        const RowsMatch read = MatchRows(job.xl.pages[0], result.reference[0], dpi / 6, top, bottom);
        ASSERT_GT(read.ink, 5000);
        if (option == 2) {
            EXPECT_EQ(read.extra + read.missing, 0) << "reader: " << read.extra << " extra, " << read.missing << " missing";
        }
        const std::string gpcl6 = Gpcl6Path();
        if (gpcl6.empty()) continue;
        // The interpreter prints the face in a substitute of its own and
        // adds its error page for that.
        const auto judged = RunGpcl6(gpcl6, result.job, dpi, "ttxl");
        ASSERT_GE(judged.size(), 1u);
        const RowsMatch g = MatchRows(judged[0], result.reference[0], dpi / 6, top, bottom);
        if (option == 2) {
            EXPECT_EQ(g.extra + g.missing, 0) << "gpcl6: " << g.extra << " extra, " << g.missing << " missing";
        } else {
            EXPECT_LE(g.extra + g.missing, read.ink / 5) << "gpcl6: " << g.extra << " extra, " << g.missing << " missing";
        }
    }
    if (Gpcl6Path().empty()) GTEST_SKIP() << "gpcl6 not found: judged by the reader only";
}

}  // namespace
