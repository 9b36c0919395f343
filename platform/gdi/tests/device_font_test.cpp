// Device fonts: the engine asks the driver for its faces, chooses one when
// the application names it, takes its widths from the driver and hands its
// text to DrvTextOut as a device font, with no glyph bits of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "gdi/dc_state.h"
#include "test_support.h"

namespace {

using zq::gdi::DeviceContext;

struct PrinterPage {
    explicit PrinterPage(RecordingDriver& drv) {
        TestDriverSettings s;
        s.width = 400;
        s.height = 200;
        s.format = BMF_1BPP;
        TestDevmode dm = MakeTestDevmode(s);
        dc = zq::CreateDCForDriver(RecordingDriver::Path(), &dm.dm);
        drv.Clear();
    }
    ~PrinterPage() {
        DeleteDC(dc);
        if (previous) DeleteObject(previous);
    }
    // Selects a font of the face, em height in pixels and weight.
    HFONT Select(const char16_t* face, LONG em, LONG weight = FW_NORMAL) {
        LOGFONTW lf{};
        lf.lfHeight = -em;
        lf.lfWeight = weight;
        for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
        HFONT f = CreateFontIndirectW(&lf);
        SelectObject(dc, f);
        if (previous) DeleteObject(previous);
        previous = f;
        return f;
    }
    FONTOBJ* Realised() { return zq::gdi::RealisedFont(*DeviceContext::FromHandle(dc)).get(); }
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
};

std::string Narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

std::vector<std::string> Matching(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

// Which face a LOGFONT gets: a device face by its family name (any case),
// the closest weight among faces of that name; TrueType for other names.
TEST(DeviceFonts, FaceNameChoosesDeviceFaceElseTrueType) {
    RecordingDriver drv;
    PrinterPage page(drv);
    ASSERT_NE(page.dc, nullptr);
    struct Case {
        const char16_t* face;
        LONG weight;
        ULONG deviceFace;  // 0: a TrueType font
        bool simBold;
    };
    const Case cases[] = {
        {u"Zel Courier", FW_NORMAL, 1, false}, {u"zel gothic", FW_NORMAL, 2, false}, {u"ZEL GOTHIC", FW_BOLD, 3, false},
        {u"Zel Courier", FW_BOLD, 1, true},    {u"Liberation Sans", FW_NORMAL, 0, false},
        {u"Zel Gothicx", FW_NORMAL, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.face));
        page.Select(c.face, 40, c.weight);
        FONTOBJ* fo = page.Realised();
        ASSERT_NE(fo, nullptr);
        if (c.deviceFace) {
            EXPECT_TRUE(fo->flFontType & FO_TYPE_DEVICE);
            EXPECT_FALSE(fo->flFontType & FO_TYPE_TRUETYPE);
            EXPECT_EQ(fo->iFace, c.deviceFace);
            EXPECT_EQ((fo->flFontType & FO_SIM_BOLD) != 0, c.simBold);
            TEXTMETRICW tm{};
            ASSERT_TRUE(GetTextMetricsW(page.dc, &tm));
            EXPECT_TRUE(tm.tmPitchAndFamily & 8);  // TMPF_DEVICE
            EXPECT_EQ(tm.tmAscent, 32);             // 800 of 1000 units at 40 pixels
            EXPECT_EQ(tm.tmDescent, 8);
        } else {
            EXPECT_TRUE(fo->flFontType & FO_TYPE_TRUETYPE);
        }
    }
    // The driver was asked for its faces once: the count, each face, its
    // glyph set and its kerning pairs.
    auto calls = drv.Calls();
    EXPECT_EQ(Matching(calls, "QueryFont 0").size(), 1u);
    EXPECT_EQ(Matching(calls, "QueryFontTree").size(), 6u);
    // Device faces are offered to font enumeration before the TrueType ones.
    std::vector<std::pair<std::u16string, DWORD>> seen;
    EnumFontFamiliesW(
        page.dc, nullptr,
        [](const LOGFONTW* lf, const TEXTMETRICW*, DWORD type, LPARAM p) {
            reinterpret_cast<decltype(seen)*>(p)->emplace_back(lf->lfFaceName, type);
            return 1;
        },
        reinterpret_cast<LPARAM>(&seen));
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(std::u16string(u"Zel Courier"), DEVICE_FONTTYPE));
    EXPECT_EQ(seen[1], std::make_pair(std::u16string(u"Zel Gothic"), DEVICE_FONTTYPE));
    EXPECT_EQ(seen[2], std::make_pair(std::u16string(u"Zel Gothic"), DEVICE_FONTTYPE));
}

// Text extents of a device font are the driver's advance widths: the test
// driver's proportional face advances 400 + 60 x (code mod 5) units of 1000.
TEST(DeviceFonts, ExtentsComeFromTheDriversAdvanceWidths) {
    RecordingDriver drv;
    PrinterPage page(drv);
    ASSERT_NE(page.dc, nullptr);
    struct Case {
        const char16_t* face;
        LONG weight;
        std::u16string text;
    };
    const Case cases[] = {{u"Zel Gothic", FW_NORMAL, u"AVAW"}, {u"Zel Gothic", FW_BOLD, u"Hello, World"},
                          {u"Zel Courier", FW_NORMAL, u"iiiWWW"}, {u"Zel Gothic", FW_NORMAL, u""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        page.Select(c.face, 50, c.weight);
        drv.Clear();
        LONG want = 0;
        std::set<char16_t> distinct(c.text.begin(), c.text.end());
        for (char16_t ch : c.text) {
            LONG units = std::u16string_view(c.face) == u"Zel Courier" ? 600
                         : 400 + LONG(ch % 5) * 60 + (c.weight >= FW_BOLD ? 40 : 0);
            want += (units * 50 + 500) / 1000;  // each width whole pixels at 50 pixels to the em
        }
        SIZE size{};
        ASSERT_TRUE(GetTextExtentPoint32W(page.dc, c.text.data(), int(c.text.size()), &size));
        EXPECT_EQ(size.cx, want);
        EXPECT_EQ(size.cy, 50);
        // One question for the string's distinct glyphs; none the second time.
        auto asked = Matching(drv.Calls(), "QueryAdvanceWidths");
        if (distinct.empty()) {
            EXPECT_TRUE(asked.empty());
        } else {
            ASSERT_EQ(asked.size(), 1u);
            EXPECT_EQ(asked[0].substr(asked[0].rfind(' ') + 1), std::to_string(distinct.size()));
        }
        drv.Clear();
        ASSERT_TRUE(GetTextExtentPoint32W(page.dc, c.text.data(), int(c.text.size()), &size));
        EXPECT_TRUE(Matching(drv.Calls(), "QueryAdvanceWidths").empty());
    }
}

// Printing in a device face: DrvTextOut gets a device font object, the
// engine draws no glyphs of its own, and every block the driver handed over
// went back through DrvFree with its id.
TEST(DeviceFonts, TextReachesDrvTextOutAndBlocksAreFreed) {
    RecordingDriver drv;
    std::vector<std::string> calls;
    {
        PrinterPage page(drv);
        ASSERT_NE(page.dc, nullptr);
        DOCINFOW di{sizeof(DOCINFOW), u"Fonts", nullptr, nullptr, 0};
        ASSERT_GT(StartDocW(page.dc, &di), 0);
        ASSERT_GT(StartPage(page.dc), 0);
        page.Select(u"Zel Courier", 60);
        ASSERT_TRUE(TextOutW(page.dc, 10, 20, u"Zelquor", 7));
        page.Select(u"Liberation Sans", 60);
        ASSERT_TRUE(TextOutW(page.dc, 10, 120, u"Zel", 3));
        ASSERT_GT(EndPage(page.dc), 0);
        ASSERT_GT(EndDoc(page.dc), 0);
        calls = drv.Calls();
        // The device text left no ink: only the TrueType word was drawn,
        // below row 100.
        ASSERT_EQ(drv.PageCount(), 1u);
        LONG stride = 0;
        const BYTE* bits = drv.Page(0, &stride);
        size_t inkAbove = 0, inkBelow = 0;
        for (LONG y = 0; y < 200; ++y)
            for (LONG x = 0; x < 400 / 8; ++x) (y < 100 ? inkAbove : inkBelow) += bits[y * stride + x] != 0xFF;
        EXPECT_EQ(inkAbove, 0u);
        EXPECT_GT(inkBelow, 0u);
    }
    auto text = Matching(calls, "TextOut");
    EXPECT_EQ(text, (std::vector<std::string>{"TextOut 7 device 1", "TextOut 3"}));
    // The faces were asked before the text was laid out, the widths before
    // the page was played.
    auto at = [&](const std::string& line) { return std::find(calls.begin(), calls.end(), line) - calls.begin(); };
    EXPECT_LT(at("QueryFont 0"), at("QueryFont 1"));
    EXPECT_LT(at("QueryFontTree 1 3 id 101"), at("QueryAdvanceWidths 1 7"));
    EXPECT_LT(at("QueryAdvanceWidths 1 7"), at("TextOut 7 device 1"));
    std::multiset<std::string> handed, freed;
    for (const auto& c : calls) {
        if (auto p = c.find(" id "); p != std::string::npos && c.rfind("Query", 0) == 0) handed.insert(c.substr(p + 4));
        if (c.rfind("Free ", 0) == 0) freed.insert(c.substr(5));
    }
    EXPECT_EQ(handed.size(), 8u);  // three IFIMETRICS, three glyph sets, two kerning tables
    EXPECT_EQ(freed, handed);
}

}  // namespace
