// Device-font text printed through the engine in each language: the faces
// the engine sees, the selection and symbol-set commands the job carries,
// and the ink an independent interpreter puts where the text stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "gdi/engine.h"
#include "pclread/device_faces.h"
#include "pclread/judge.h"
#include "pclread/pclread.h"
#include "store/registry.h"

namespace pclrend::testing {
namespace {

class FontPrintTest : public PrinterTest, public ::testing::WithParamInterface<int> {};

zq::PrivateDevmode FontLetter(int dpi, int language) {
    auto dm = Letter(dpi);
    dm.printerLanguage = static_cast<BYTE>(language);
    dm.nonCjkSwitch = 1;  // device fonts offered
    dm.fontSets1 = 0xFF;
    dm.model.fontListId = 0;
    return dm;
}

void Text(HDC dc, const char16_t* face, int height, const std::u16string& text, int x, int y, int escapement = 0,
          int weight = 400, bool italic = false) {
    LOGFONTW lf{};
    lf.lfHeight = -height;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 1 : 0;
    lf.lfEscapement = escapement;
    for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    TextOutW(dc, x, y, text.data(), static_cast<int>(text.size()));
    SelectObject(dc, old);
    DeleteObject(font);
}

bool Has(const std::vector<uint8_t>& job, const std::string& needle) {
    return std::search(job.begin(), job.end(), needle.begin(), needle.end()) != job.end();
}
size_t Find(const std::vector<uint8_t>& job, const std::string& needle) {
    return static_cast<size_t>(std::search(job.begin(), job.end(), needle.begin(), needle.end()) - job.begin());
}

TEST_P(FontPrintTest, DeviceFontTextIsPrinterText) {
    const int language = GetParam();
    const int dpi = 150;
    auto result = PrintPages(driverPath_, FontLetter(dpi, language), 1, [&](HDC dc, int) {
        // 25 dots at 150 dpi: 12 points.
        Text(dc, u"Zel Sans (W1)", 25, u"Hello \u03b1\u03b2 \u2603 end", 150, 150);
    });
    ASSERT_TRUE(result.enabled);
    ASSERT_TRUE(result.endDocOk);
    const auto& job = result.job;
    if (language == 2) {
        EXPECT_TRUE(Has(job, "Zel Sans        ")) << "the font name in SetFont";
        EXPECT_TRUE(Has(job, "Hello ")) << "the text data";
    } else {
        EXPECT_TRUE(Has(job, "T\x1b(s12.00V")) << "the selection string with its height";
        const size_t latin = Find(job, "\x1b(19U"), greek = Find(job, "\x1b(9G");
        ASSERT_LT(latin, job.size());
        ASSERT_LT(greek, job.size());
        EXPECT_LT(latin, greek);
        EXPECT_TRUE(Has(job, "Hello"));
        EXPECT_TRUE(Has(job, "end")) << "the snowman no set holds is skipped, the rest printed";
    }
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 is absent: the interpreter's render is not judged";
    const auto pages = RunGpcl6(gpcl6, job, dpi, "fonts-" + std::to_string(language));
    // A PCL XL printer that does not know the font by its name prints the
    // text in a substitute and adds its error page.
    ASSERT_EQ(pages.size(), language == 2 ? 2u : 1u);
    // Ink on the text's line, none far below it. The page origin is the
    // printable area's corner, 1/6 inch in.
    const auto& p = pages[0];
    auto inkIn = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1 && y < p.height; ++y)
            for (int x = x0; x < x1 && x < p.width; ++x) n += p.grey[static_cast<size_t>(y) * p.width + x] < 128;
        return n;
    };
    const int off = dpi / 6;
    EXPECT_GT(inkIn(off + 150, off + 150, off + 350, off + 175), 50);
    EXPECT_EQ(inkIn(off + 150, off + 300, off + 350, off + 350), 0);
}


// A TrueType family that a printer face stands in for ("FontSubstitutes")
// prints the string's characters in the face: the bytes between the
// commands are the text itself, not the TrueType font's glyph numbers.
TEST_P(FontPrintTest, ASubstitutedFamilyPrintsItsCharacters) {
    const int language = GetParam();
    auto dm = FontLetter(150, language);
    dm.switch225 = 1;
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
    const std::string substitutes = "DejaVu Sans=Zel Sans";
    EXPECT_EQ(SetPrinterDataW(printer, W(u"FontSubstitutes"), REG_BINARY,
                              reinterpret_cast<LPBYTE>(const_cast<char*>(substitutes.data())),
                              static_cast<DWORD>(substitutes.size())),
              static_cast<DWORD>(ERROR_SUCCESS));
    ClosePrinter(printer);
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) { Text(dc, u"DejaVu Sans", 25, u"Hello", 150, 150); });
    ASSERT_TRUE(result.endDocOk);
    const std::string job(result.job.begin(), result.job.end());
    if (language == 2) {
        EXPECT_NE(job.find("Zel Sans        "), std::string::npos) << "the face named in SetFont";
        EXPECT_NE(job.find("Hello"), std::string::npos) << "the text data";
        return;
    }
    const size_t selection = job.find("\x1b(s12.00V");
    ASSERT_NE(selection, std::string::npos) << "the face selected";
    // What is left of the page's text once the commands are taken out
    // (ESC, a parameterised character, an optional group character, then
    // values each ended by a letter, lower case but for the last).
    const std::string page = job.substr(selection, job.find('\x0c', selection) - selection);
    std::string text;
    for (size_t i = 0; i < page.size();) {
        if (page[i] != '\x1b') {
            text += page[i++];
            continue;
        }
        i += 2;
        if (i < page.size() && page[i] >= 'a' && page[i] <= 'z') ++i;
        while (i < page.size()) {
            const char c = page[i++];
            if ((c >= 'A' && c <= 'Z') || c == '@') break;
        }
    }
    EXPECT_NE(text.find("Hello"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Languages, FontPrintTest, ::testing::Values(0, 1, 2));

// A PCL XL printer selects its fonts by name alone: each style of a face is
// a font of its own name, which the job names and the reader draws with
// that style's source font.
class XlFaceStyleTest : public PrinterTest {};

TEST_F(XlFaceStyleTest, EachStyleOfAPrinterFaceHasItsOwnPclXlName) {
    struct Case {
        int weight;
        bool italic;
        const char* name;  // as SetFont carries it, padded to 16 bytes
    };
    const Case cases[] = {
        {400, false, "Zel Sans        "},
        {700, false, "Zel Sans Bd     "},
        {400, true, "Zel Sans It     "},
        {700, true, "Zel Sans BdIt   "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto dm = FontLetter(150, 2);
        dm.model.fontListId = 1;  // the Tarn's faces, with the italics
        auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
            Text(dc, u"Zel Sans (W1)", 25, u"Hello", 150, 150, 0, c.weight, c.italic);
        });
        ASSERT_TRUE(result.endDocOk);
        EXPECT_TRUE(Has(result.job, c.name)) << "the style's font named in SetFont";
        for (const Case& other : cases) {
            if (&other != &c) {
                EXPECT_FALSE(Has(result.job, other.name)) << other.name;
            }
        }
        const auto job = pclread::Read(result.job);
        EXPECT_TRUE(job.Ok()) << ErrorText(job);
        const pclread::DeviceFaceRow* row = pclread::FindDeviceFace(std::string(c.name));
        ASSERT_NE(row, nullptr) << "the reader knows the name";
        EXPECT_EQ(row->weight != 0, c.weight == 700) << row->source;
        EXPECT_EQ((row->style & 3) != 0, c.italic) << row->source;
    }
}

// A TrueType font the printer has a face for prints in that face: the job
// carries the run's characters (its glyph indexes would print other
// letters), and the reader draws them where the engine drew the TrueType
// glyphs, a turned run turned.
using XlSubstitutionTest = PrinterTest;

TEST_F(XlSubstitutionTest, SubstitutedRunsCarryTheirCharactersAndTurn) {
    const int dpi = 150;
    auto dm = FontLetter(dpi, 2);
    dm.model.fontListId = 1;
    dm.switch225 = 1;  // TrueType fonts substituted by the printer's faces
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        Text(dc, u"Liberation Sans", 25, u"Substituted text", 150, 150);
        Text(dc, u"Liberation Sans", 25, u"Turned text", 600, 700, 900);
    });
    ASSERT_TRUE(result.endDocOk);
    ASSERT_EQ(result.reference.size(), 1u);
    EXPECT_TRUE(Has(result.job, "Zel Sans        ")) << "the run went to the printer's face";
    EXPECT_TRUE(Has(result.job, "Substituted text"));
    EXPECT_TRUE(Has(result.job, "Turned text"));
    const auto job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.xl.pages.size(), 1u);
    const pclread::GreyPage& sheet = job.xl.pages[0];
    zq::gdi::Surface* ref = result.reference[0].Get();
    ASSERT_NE(ref, nullptr);
    // Each run's ink box on the sheet (the page at the printable corner)
    // and in the reference.
    struct Box {
        int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
        void Add(int x, int y) {
            left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
        }
    };
    const int off = dpi / 6;
    const struct {
        const char* what;
        int x0, y0, x1, y1;
    } areas[] = {{"upright", 100, 100, 700, 250}, {"turned", 550, 250, 700, 750}};
    for (const auto& a : areas) {
        Box got, want;
        for (int y = a.y0; y < a.y1; ++y)
            for (int x = a.x0; x < a.x1; ++x) {
                if ((ref->Pal().ToRgb(ref->Pixel(x, y)) & 0xFFFFFF) == 0) want.Add(x, y);
                if (sheet.At(x + off, y + off) < 128) got.Add(x, y);
            }
        ASSERT_GE(want.right, 0) << a.what;
        EXPECT_NEAR(got.left, want.left, 3) << a.what;
        EXPECT_NEAR(got.top, want.top, 3) << a.what;
        EXPECT_NEAR(got.right, want.right, 3 + (want.right - want.left) / 50) << a.what;
        EXPECT_NEAR(got.bottom, want.bottom, 3 + (want.bottom - want.top) / 50) << a.what;
    }
}



// The raster language: a TrueType font under DMTT_BITMAP is drawn by the
// engine into the band (no font is sent, the page is the reference's pixel
// for pixel); under a complex clip TrueType text goes to the band as well,
// while a printer face still prints as printer text.
TEST_F(PrinterTest, BitmapOptionAndComplexClipsDrawTrueTypeInTheBand) {
    struct Case {
        short ttOption;
        bool complexClip;
        const char* what;
    };
    const Case cases[] = {{1, false, "DMTT_BITMAP"}, {2, true, "soft fonts asked, under a complex clip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto dm = FontLetter(150, 0);
        dm.dm.dmTTOption = c.ttOption;
        auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
            SetBkMode(dc, TRANSPARENT);
            // A notch away from the text makes the clip more than a rectangle.
            if (c.complexClip) ExcludeClipRect(dc, 900, 250, 910, 260);
            Text(dc, u"DejaVu Sans", 25, u"TrueType", 150, 200);
            Text(dc, u"Zel Sans (W1)", 25, u"Printer", 150, 300);
        });
        ASSERT_TRUE(result.endDocOk);
        ASSERT_EQ(result.reference.size(), 1u);
        const std::string job(result.job.begin(), result.job.end());
        EXPECT_EQ(job.find("\x1b)s"), std::string::npos) << "no soft font";
        EXPECT_NE(job.find("T\x1b(s12.00V"), std::string::npos) << "the printer face selected";
        const auto read = pclread::Read(result.job, PrintableArea(dm));
        ASSERT_TRUE(read.Ok());
        ASSERT_EQ(read.pages.size(), 1u);
        const pclread::Page& page = read.pages[0];
        EXPECT_EQ(page.textGlyphs.size(), 7u) << "only the printer face's characters drawn from fonts";
        // Above the printer text's line the page is the reference's, pixel for pixel.
        const std::string png = (root_ / "band-reference.png").string();
        ASSERT_TRUE(zq::gdi::WritePng(*result.reference[0].Get(), png));
        auto reference = pclread::ReadPng(png);
        ASSERT_TRUE(reference);
        pclread::Page top = page;
        for (pclread::Page* p : {&top, &*reference}) {
            std::fill(p->bits.begin() + static_cast<ptrdiff_t>(280 * p->stride), p->bits.end(), uint8_t{0});
            p->textGlyphs.clear();
        }
        EXPECT_GT(top.BlackCount(), 200) << "the TrueType text in the raster";
        EXPECT_EQ(pclread::Differences(top, *reference), 0);
    }
}

// Printer-face text after TrueType text sent as a soft font in the same
// face and size as before: the soft font's selection replaced the face, so
// the face is selected again and its characters print in it.
TEST_F(PrinterTest, APrinterFaceIsSelectedAgainAfterASoftFont) {
    auto dm = FontLetter(150, 0);
    dm.dm.dmTTOption = 2;
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        SetBkMode(dc, TRANSPARENT);
        Text(dc, u"Zel Sans (W1)", 25, u"AAA", 150, 200);
        Text(dc, u"DejaVu Sans", 25, u"BBB", 150, 300);
        Text(dc, u"Zel Sans (W1)", 25, u"CCC", 150, 400);
    });
    ASSERT_TRUE(result.endDocOk);
    const std::string job(result.job.begin(), result.job.end());
    const size_t soft = job.find("\x1b(16385X"), again = job.find("\x1b(s12.00V", soft), ccc = job.find("CCC");
    ASSERT_NE(soft, std::string::npos) << "the soft font selected by its ID";
    EXPECT_LT(again, ccc) << "the face selected again before its characters";
    const auto read = pclread::Read(result.job);
    EXPECT_TRUE(read.Ok()) << ErrorText(read);
}

// Printer text turned by a right angle: each character is bracketed by the
// print direction (ESC&a90P ... ESC&a0P for 90 degrees), and lands where the
// engine draws it. The reader draws it turned from the face's source font
// and is judged by the text tolerance against the reference; the outside
// interpreter prints a face of its own, so its ink is judged by place and
// direction only: the text's box starts where the reference's does and runs
// the same way.
class TurnedFaceTest : public PrinterTest, public ::testing::WithParamInterface<int> {};

TEST_P(TurnedFaceTest, EachCharacterIsBracketedByThePrintDirection) {
    const int degrees = GetParam();
    const int dpi = 150;
    auto dm = FontLetter(dpi, 0);
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        Text(dc, u"Zel Sans (W1)", 25, u"Zelquor", 600, 700, degrees * 10);
    });
    ASSERT_TRUE(result.endDocOk);
    ASSERT_EQ(result.reference.size(), 1u);
    const std::string_view job(reinterpret_cast<const char*>(result.job.data()), result.job.size());
    const std::string turn = "\x1b&a" + std::to_string(degrees) + "P";
    size_t brackets = 0;
    for (size_t at = job.find(turn); at != std::string_view::npos; at = job.find(turn, at + 1)) {
        ++brackets;
        // The character (its symbol set first, the first time), then the
        // way back to upright.
        const size_t back = job.find("\x1b&a0P", at);
        ASSERT_NE(back, std::string_view::npos);
        std::string_view between = job.substr(at + turn.size(), back - at - turn.size());
        if (between.substr(0, 5) == "\x1b(19U") between.remove_prefix(5);
        EXPECT_EQ(between.size(), 1u) << "one character in the bracket";
    }
    EXPECT_EQ(brackets, 7u) << "one bracket a character";
    EXPECT_NE(job.find("\x1b(s12.00V"), std::string_view::npos) << "printer text at 12 points";

    const auto read = pclread::Read(result.job, PrintableArea(dm));
    ASSERT_TRUE(read.Ok()) << ErrorText(read);
    ASSERT_EQ(read.pages.size(), 1u);
    const pclread::Page& page = read.pages[0];
    EXPECT_EQ(page.textGlyphs.size(), 7u);
    const std::string png = (root_ / "turned-reference.png").string();
    ASSERT_TRUE(zq::gdi::WritePng(*result.reference[0].Get(), png));
    const auto reference = pclread::ReadPng(png);
    ASSERT_TRUE(reference);
    const auto judged = pclread::JudgeWithText(page, *reference);
    ASSERT_TRUE(judged);
    EXPECT_EQ(judged->outside, 0) << "ink away from the text, first at " << judged->outsideX << "," << judged->outsideY;
    EXPECT_EQ(judged->farInk, 0) << "text beyond its tolerance (worst " << judged->worst << " of it at " << judged->worstX
                                 << "," << judged->worstY << ")";

    const pclread::InkBox want = pclread::FindInk(pclread::ToGrey(*reference));
    ASSERT_FALSE(want.Empty());
    // Along the baseline the text is several times longer than across it.
    const bool upright = degrees == 180;
    EXPECT_GT(upright ? want.right - want.left : want.bottom - want.top,
              2 * (upright ? want.bottom - want.top : want.right - want.left));
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 is absent: the interpreter's render is not judged";
    const auto sheets = RunGpcl6(gpcl6, result.job, dpi, "turned-" + std::to_string(degrees));
    ASSERT_EQ(sheets.size(), 1u);
    pclread::Grey sheet(sheets[0].width, sheets[0].height);
    sheet.v = sheets[0].grey;
    pclread::InkBox got = pclread::FindInk(sheet);
    ASSERT_FALSE(got.Empty());
    const int off = dpi / 6;  // the page starts at the printable corner
    got = {got.left - off, got.top - off, got.right - off, got.bottom - off};
    // Where the text starts (the run's first character), within a quarter
    // of the size; across the baseline within the size.
    const int em = 25, slack = em / 4;
    switch (degrees) {
    case 90:  // up the page from the origin
        EXPECT_NEAR(got.bottom, want.bottom, slack);
        EXPECT_NEAR(got.left, want.left, em);
        EXPECT_LT(got.top, got.bottom - 2 * (got.right - got.left));
        break;
    case 180:  // leftwards
        EXPECT_NEAR(got.right, want.right, slack);
        EXPECT_NEAR(got.top, want.top, em);
        EXPECT_LT(got.left, got.right - 2 * (got.bottom - got.top));
        break;
    default:  // 270: down the page
        EXPECT_NEAR(got.top, want.top, slack);
        EXPECT_NEAR(got.right, want.right, em);
        EXPECT_GT(got.bottom, got.top + 2 * (got.right - got.left));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(RightAngles, TurnedFaceTest, ::testing::Values(90, 180, 270));

}  // namespace
}  // namespace pclrend::testing
