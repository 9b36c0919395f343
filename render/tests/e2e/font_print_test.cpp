// Device-font text printed through the engine in each language: the faces
// the engine sees, the selection and symbol-set commands the job carries,
// and the ink an independent interpreter puts where the text stands.
#include <gtest/gtest.h>

#include <string>

#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"

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

void Text(HDC dc, const char16_t* face, int height, const std::u16string& text, int x, int y, int escapement = 0) {
    LOGFONTW lf{};
    lf.lfHeight = -height;
    lf.lfWeight = 400;
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

}  // namespace
}  // namespace pclrend::testing
