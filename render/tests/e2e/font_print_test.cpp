// Device-font text printed through the engine in each language: the faces
// the engine sees, the selection and symbol-set commands the job carries,
// and the ink an independent interpreter puts where the text stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "pclread/device_faces.h"
#include "pclread/pclread.h"

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
        std::string errors;
        for (const auto& e : job.errors) errors += e + "\n";
        EXPECT_TRUE(job.Ok()) << errors;
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
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    EXPECT_TRUE(job.Ok()) << errors;
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

}  // namespace
}  // namespace pclrend::testing
