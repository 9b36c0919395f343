// The font hooks and the device-font operations on a record holding a small
// summary made by hand: faces and their names, simulations, widths, kerning
// order, glyph sets, the job's font memory and the substitution list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/memory.h"
#include "gdi/font.h"
#include "render/device_fonts.h"
#include "render/driver.h"
#include "render/tests/font_summary_fixture.h"
#include "render/output.h"
#include "render/tests/capture_sink.h"
#include "render/text_out.h"

extern "C" {
BOOL DrvTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
IFIMETRICS* DrvQueryFont(DHPDEV, ULONG_PTR, ULONG, ULONG_PTR*);
PVOID DrvQueryFontTree(DHPDEV, ULONG_PTR, ULONG, ULONG, ULONG_PTR*);
void DrvFree(PVOID, ULONG_PTR);
}

namespace pclrend {
namespace {

using testing::GiveFonts;
using testing::TestFont;

DHPDEV H(DeviceRecord& r) { return reinterpret_cast<DHPDEV>(&r); }

std::u16string Name(const IFIMETRICS* ifi, PTRDIFF at) {
    std::u16string s;
    const auto* base = reinterpret_cast<const uint8_t*>(ifi);
    for (ULONG i = static_cast<ULONG>(at); i + 1 < ifi->cjThis; i += 2) {
        char16_t c;
        std::memcpy(&c, base + i, 2);
        if (!c) break;
        s.push_back(c);
    }
    return s;
}

struct Face {
    std::u16string family;
    uint8_t charSet;
    bool charSets;
};

std::vector<Face> Faces(DeviceRecord& r) {
    std::vector<Face> out;
    ULONG_PTR id = 0;
    const auto n = reinterpret_cast<ULONG_PTR>(DrvQueryFont(H(r), 0, 0, &id));
    for (ULONG i = 1; i <= n; ++i) {
        IFIMETRICS* ifi = DrvQueryFont(H(r), 0, i, &id);
        if (!ifi) continue;
        out.push_back({Name(ifi, ifi->dpwszFamilyName), ifi->jWinCharSet, ifi->dpCharSets != 0});
        EXPECT_LE(static_cast<ULONG>(ifi->dpFontSim) + sizeof(FONTSIM), ifi->cjThis);
        if (ifi->dpCharSets) {
            EXPECT_LE(static_cast<ULONG>(ifi->dpCharSets) + 24, ifi->cjThis);
        }
        DrvFree(ifi, id);
    }
    return out;
}

TEST(DeviceFaces, VariantsNamesAndCharacterSets) {
    struct Case {
        const char* what;
        uint32_t fontMask, jobMask;
        std::vector<Face> want;
    };
    const Case cases[] = {
        {"two sets", 0x3, 0xFF, {{u"Univers (W1)", 0, true}, {u"Univers (WE)", 238, true}}},
        {"no common set: own name and set", 0x3, 0x4, {{u"Univers", 1, false}}},
        {"an empty suffix", 0x200000, 0x200000, {{u"Univers ()", 130, true}}},
        {"table order, not mask order", 0x88, 0xFF, {{u"Univers (WL)", 186, true}, {u"Univers (WG)", 161, true}}},
    };
    for (const Case& c : cases) {
        DeviceRecord r;
        TestFont f;
        f.face = "Univers";
        f.mask1 = c.fontMask;
        GiveFonts(r, {f}, c.jobMask);
        const auto faces = Faces(r);
        ASSERT_EQ(faces.size(), c.want.size()) << c.what;
        for (size_t i = 0; i < faces.size(); ++i) {
            EXPECT_EQ(faces[i].family, c.want[i].family) << c.what;
            EXPECT_EQ(faces[i].charSet, c.want[i].charSet) << c.what;
            EXPECT_EQ(faces[i].charSets, c.want[i].charSets) << c.what;
        }
    }
}

TEST(DeviceFaces, EquivalentNamesFollowTheFamily) {
    DeviceRecord r;
    TestFont f;
    f.face = "Univers";
    GiveFonts(r, {f}, 0);
    ULONG_PTR id = 0;
    IFIMETRICS* ifi = DrvQueryFont(H(r), 0, 1, &id);
    ASSERT_NE(ifi, nullptr);
    EXPECT_TRUE(ifi->flInfo & FM_INFO_FAMILY_EQUIV);
    PTRDIFF at = ifi->dpwszFamilyName + 2 * (7 + 1);
    EXPECT_EQ(Name(ifi, at), u"Helvetica");
    EXPECT_EQ(ifi->dpwszStyleName, ifi->dpwszFamilyName + 2 * 8 + 2 * (10 + 5 + 14 + 6 + 8 + 1));
    DrvFree(ifi, id);
}

TEST(DeviceFaces, FaceZeroOrPastTheCountFailsWith87) {
    DeviceRecord r;
    GiveFonts(r, {TestFont{}}, 0);
    for (ULONG face : {1u + 1u, 100u}) {
        SetLastError(0);
        ULONG_PTR id = 5;
        EXPECT_EQ(DrvQueryFont(H(r), 0, face, &id), nullptr);
        EXPECT_EQ(id, 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_EQ(DrvQueryFontTree(H(r), 0, face, QFT_GLYPHSET, &id), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    SetLastError(0);
    EXPECT_EQ(DrvQueryFontTree(H(r), 0, 0, QFT_GLYPHSET, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(DeviceFaces, NoFacesWithoutDeviceFontsOrInTheSpoolAndColourLanguages) {
    for (auto [on, language] : {std::pair{false, Language::MonoRaster}, std::pair{true, Language::SpoolStream},
                                std::pair{true, Language::ColourRaster}}) {
        DeviceRecord r;
        GiveFonts(r, {TestFont{}}, 0);
        r.fonts.deviceFontsOn = on;
        r.language = language;
        EXPECT_EQ(DrvQueryFont(H(r), 0, 0, nullptr), nullptr);
    }
}

TEST(DeviceFaces, DbcsNamesAreTakenOffTheCount) {
    EXPECT_EQ(CountDbcsNames(""), 0u);
    EXPECT_EQ(CountDbcsNames("MD_Mincho"), 1u);
    EXPECT_EQ(CountDbcsNames("MD_Mincho;MD_Gothic"), 2u);
    EXPECT_EQ(CountDbcsNames(std::string("A;B\0C;D", 7)), 2u) << "the text ends at its NUL";
}

IFIMETRICS* Ifi(DeviceRecord& r, const TestFont& f, Language language = Language::MonoRaster) {
    r.language = language;
    GiveFonts(r, {f}, 0);
    return DrvQueryFont(H(r), 0, 1, nullptr);
}

FONTSIM Sim(const IFIMETRICS* ifi) {
    FONTSIM s;
    std::memcpy(&s, reinterpret_cast<const uint8_t*>(ifi) + ifi->dpFontSim, sizeof s);
    return s;
}

TEST(DeviceFaces, Simulations) {
    struct Case {
        const char* what;
        uint16_t weight;
        uint8_t italic;
        Language language;
        bool bold, italics;
    };
    const Case cases[] = {
        {"regular, PCL 5", 400, 0, Language::MonoRaster, true, false},
        {"bold face: no bold", 700, 0, Language::MonoRaster, false, false},
        {"regular, PCL XL", 400, 0, Language::PclXl, true, true},
        {"italic, PCL XL: no italics", 400, 1, Language::PclXl, true, false},
    };
    for (const Case& c : cases) {
        DeviceRecord r;
        TestFont f;
        f.weight = c.weight;
        f.italic = c.italic;
        IFIMETRICS* ifi = Ifi(r, f, c.language);
        ASSERT_NE(ifi, nullptr) << c.what;
        const FONTSIM s = Sim(ifi);
        EXPECT_EQ(s.dpBold != 0, c.bold) << c.what;
        EXPECT_EQ(s.dpItalic != 0, c.italics) << c.what;
        EXPECT_EQ(s.dpBoldItalic != 0, c.italics) << c.what;
        const auto* base = reinterpret_cast<const uint8_t*>(ifi) + ifi->dpFontSim;
        if (s.dpBold) {
            FONTDIFF d;
            std::memcpy(&d, base + s.dpBold, sizeof d);
            EXPECT_EQ(d.usWinWeight, 700);
            EXPECT_EQ(d.fwdAveCharWidth, 510) << "2% wider";
            EXPECT_EQ(d.fwdMaxCharInc, 1020);
        }
        if (s.dpItalic) {
            FONTDIFF d;
            std::memcpy(&d, base + s.dpBoldItalic, sizeof d);
            EXPECT_EQ(d.usWinWeight, 700);
            EXPECT_EQ(d.fsSelection, FM_SEL_ITALIC);
            EXPECT_EQ(d.fwdAveCharWidth, 650);
        }
        EXPECT_LE(static_cast<ULONG>(ifi->dpFontSim) + sizeof(FONTSIM) + (c.language == Language::PclXl ? 3 : 1) * sizeof(FONTDIFF),
                  ifi->cjThis);
        DrvFree(ifi, 0);
    }
}

TEST(DeviceFaces, MetricsOfOutlineAndBitmapFonts) {
    DeviceRecord r;
    TestFont f;
    IFIMETRICS* ifi = Ifi(r, f);
    ASSERT_NE(ifi, nullptr);
    EXPECT_EQ(ifi->fwdUnitsPerEm, 1000);
    EXPECT_EQ(ifi->fwdWinAscender, 800);
    EXPECT_EQ(ifi->fwdWinDescender, 200);
    EXPECT_EQ(ifi->fwdTypoDescender, -200);
    EXPECT_EQ(ifi->fwdUnderscorePosition, 100);
    EXPECT_EQ(ifi->wcFirstChar, 32);
    EXPECT_EQ(ifi->wcLastChar, 126);
    EXPECT_EQ(ifi->ptlAspect.x, 300);
    EXPECT_TRUE(ifi->flInfo & FM_INFO_TECH_OUTLINE_NOT_TRUETYPE);
    DrvFree(ifi, 0);

    DeviceRecord b;
    f.scalable = false;
    f.variablePitch = false;
    f.em = 50;
    ifi = Ifi(b, f);
    ASSERT_NE(ifi, nullptr);
    EXPECT_EQ(ifi->fwdUnitsPerEm, 50);
    EXPECT_EQ(ifi->fwdWinAscender, 40);
    EXPECT_EQ(ifi->fwdWinDescender, 10);
    EXPECT_EQ(ifi->fwdMacDescender, -10);
    EXPECT_EQ(ifi->fwdMaxCharInc, 500) << "fixed pitch: the average";
    EXPECT_EQ(ifi->flInfo & (FM_INFO_TECH_BITMAP | FM_INFO_CONSTANT_WIDTH), FM_INFO_TECH_BITMAP | FM_INFO_CONSTANT_WIDTH);
    DrvFree(ifi, 0);
}

TEST(DeviceWidths, CharacterMapAndFixedDoubleByteWidths) {
    DeviceRecord r;
    TestFont f;
    f.segments = {{65, 70, static_cast<uint16_t>(1 - 65)}, {200, 202, static_cast<uint16_t>(7 - 200)}};
    f.widths = {111, 601, 602, 603, 604, 605, 606, 701, 702, 703};
    TestFont fixed;
    fixed.variablePitch = false;
    fixed.charSet = 128;
    fixed.avgWidth = 480;
    GiveFonts(r, {f, fixed}, 0);
    struct Case {
        uint32_t row, handle;
        int32_t width;
        const char* what;
    };
    const Case cases[] = {
        {1, 65, 601, "first of a segment"},
        {1, 70, 606, "last of a segment"},
        {1, 100, 111, "a code below its segment: glyph 0"},
        {1, 201, 702, "second segment"},
        {1, 0xFFF0, 111, "past every segment"},
        {2, 0x41, 480, "double-byte fixed: single byte"},
        {2, 0x8140, 960, "double-byte fixed: two bytes"},
    };
    for (const Case& c : cases) EXPECT_EQ(HandleWidth(r, c.row, c.handle), c.width) << c.what;
}

TEST(DeviceWidths, GlyphSetRunsLeaveOutTheClosingSegment) {
    DeviceRecord r;
    TestFont f;
    f.segments = {{65, 70, static_cast<uint16_t>(1 - 65)}, {200, 202, static_cast<uint16_t>(7 - 200)}};
    f.widths = std::vector<int16_t>(10, 500);
    TestFont bytes;
    bytes.charSet = 2;
    GiveFonts(r, {f, bytes}, 0);
    auto* set = static_cast<FD_GLYPHSET*>(DrvQueryFontTree(H(r), 0, 1, QFT_GLYPHSET, nullptr));
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->cRuns, 2u);
    EXPECT_EQ(set->awcrun[0].wcLow, 65);
    EXPECT_EQ(set->awcrun[0].cGlyphs, 6);
    EXPECT_EQ(set->awcrun[1].wcLow, 200);
    EXPECT_EQ(set->cGlyphsSupported, 10u);
    DrvFree(set, 0);
    EXPECT_EQ(DrvQueryFontTree(H(r), 0, 2, QFT_GLYPHSET, nullptr), SharedGlyphSet()) << "a symbol font shares the set";
}

TEST(DeviceKerning, PairsComeSortedBySecondThenFirstAndEndWithZero) {
    DeviceRecord r;
    TestFont f;
    f.kerning = {{'V', 'A', -80}, {'A', 'V', -70}, {'T', 'o', -60}, {'A', 'A', 5}, {'L', 'T', -40}};
    GiveFonts(r, {f}, 0);
    auto* pairs = static_cast<FD_KERNINGPAIR*>(DrvQueryFontTree(H(r), 0, 1, QFT_KERNPAIRS, nullptr));
    ASSERT_NE(pairs, nullptr);
    const std::vector<std::pair<char16_t, char16_t>> want = {{'A', 'A'}, {'V', 'A'}, {'L', 'T'}, {'A', 'V'}, {'T', 'o'}};
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(pairs[i].wcFirst, want[i].first) << i;
        EXPECT_EQ(pairs[i].wcSecond, want[i].second) << i;
    }
    EXPECT_EQ(pairs[1].fwdKern, -80);
    EXPECT_EQ(pairs[5].wcFirst | pairs[5].wcSecond | pairs[5].fwdKern, 0);
    DrvFree(pairs, 0);
    DeviceRecord none;
    GiveFonts(none, {TestFont{}}, 0);
    EXPECT_EQ(DrvQueryFontTree(H(none), 0, 1, QFT_KERNPAIRS, nullptr), nullptr);
}

TEST(DeviceKerning, TheSortAgreesWithTheLibrarysOnRandomAndEqualKeys) {
    std::mt19937 rng(7);
    for (size_t n : {0u, 1u, 2u, 3u, 17u, 500u}) {
        std::vector<StoredKerningPair> pairs(n);
        for (auto& p : pairs) p = {static_cast<uint16_t>(rng() % 8), static_cast<uint16_t>(rng() % 8), 0, 0};
        auto want = pairs;
        auto key = [](const StoredKerningPair& p) { return uint32_t{p.first} | (uint32_t{p.second} << 16); };
        std::sort(want.begin(), want.end(), [&](auto& a, auto& b) { return key(a) < key(b); });
        SortKerningPairs(pairs);
        for (size_t i = 0; i < n; ++i) EXPECT_EQ(key(pairs[i]), key(want[i])) << n << " at " << i;
    }
}

TEST(FontMemory, RecordMemoryAndTheStartDocCheck) {
    struct Case {
        const char* what;
        uint16_t megabytes;
        bool track;
        uint32_t residentMemory;
        bool ok;
    };
    const Case cases[] = {
        {"0 MB: no figure, no tracking, not refused", 0, true, 0, true},
        {"1 MB tracked", 1, true, 0, true},
        {"1 MB with a large installed font", 1, true, 400000, false},
        {"not tracked: no reservation", 1, false, 400000, true},
    };
    for (const Case& c : cases) {
        DeviceRecord r;
        TestFont f;
        f.resourceId = 0xFFFF;
        f.memory = c.residentMemory;
        GiveFonts(r, {f}, 0);
        r.fonts.printerMemory = PrinterMemoryOf(c.megabytes);
        r.fonts.trackMemory = c.track && c.megabytes;
        EXPECT_EQ(ReserveFontMemory(r), c.ok) << c.what;
        EXPECT_GE(r.fonts.printerMemory, 0) << c.what;
    }
    EXPECT_EQ(PrinterMemoryOf(1), 921600 - 462848);
}

TEST(FontMemory, MarkFontUsedAgesTheOthers) {
    DeviceRecord r;
    TestFont kept;
    GiveFonts(r, {TestFont{}, TestFont{}, kept}, 0);
    auto* e = reinterpret_cast<zq::FontSummaryEntry*>(r.fonts.summary.data() + sizeof(zq::FontSummaryHeader));
    e[2].strings[6] = 0xFFFFFFFF;  // left alone
    e[1].useAge = 0xFFFF;
    e[0].useAge = 3;
    MarkFontUsed(r, 2);
    MarkFontUsed(r, 2);
    EXPECT_EQ(e[1].useAge, 0);
    EXPECT_EQ(e[1].used, 1);
    EXPECT_EQ(r.fonts.fontsUsedCount, 1);
    EXPECT_EQ(e[0].useAge, 5);
    EXPECT_EQ(e[2].useAge, 0xFFFF);
    PageFontReset(r);
    EXPECT_EQ(e[1].used, 0);
    EXPECT_EQ(r.fonts.fontsUsedCount, 0);
}

TEST(FontSubstitutes, TheListEndsInAnEmptyNameWhateverTheValueHolds) {
    const std::string value = "Arial=Helv;Times New Roman=Zel Roman";  // no NUL, no closing ';'
    DeviceRecord r;
    r.fonts.substituteList = ParseSubstitutes({reinterpret_cast<const uint8_t*>(value.data()), value.size()});
    EXPECT_EQ(std::string(r.fonts.substituteList.data(), 5), std::string("Arial\0", 6).substr(0, 5));
    EXPECT_EQ(r.fonts.substituteList.back(), '\0');
    EXPECT_EQ(SubstituteFor(r, "Arial"), "Helv");
    EXPECT_EQ(SubstituteFor(r, "Times New Roman"), "Zel Roman");
    EXPECT_EQ(SubstituteFor(r, "Helv"), "") << "only the TrueType names are looked up";
    const std::string spec = "Arial=Helv;";
    const auto list = ParseSubstitutes({reinterpret_cast<const uint8_t*>(spec.data()), spec.size()});
    EXPECT_EQ(std::string(list.data(), 11), std::string("Arial\0Helv\0", 11));
    EXPECT_EQ(list[11], '\0') << "an empty third name";
}

TEST(TextRectangles, AnOpaqueRectangleOnALowerBandAndAnAllZeroOne) {
    DeviceRecord r;
    CaptureSink sink;
    ASSERT_TRUE(AllocateBuffers(r, false));
    r.sink = &sink;
    r.jobState = kJobOpen;
    r.geometry.printableWidth = r.drawnWidth = 2400;
    r.geometry.printableLength = r.drawnHeight = 3000;
    r.bandTop = 1000;
    PclFillRectangle(r, {0, 0, 0, 0});
    SpoolFlush(r);
    EXPECT_TRUE(sink.bytes.empty()) << "an all-zero rectangle draws nothing";
    PclFillRectangle(r, {10, 20, 110, 70});
    SpoolFlush(r);
    EXPECT_EQ(sink.Text(), "\x1b*p10X\x1b*p1020Y\x1b*c100A\x1b*c50B\x1b*c5P");
}

TEST(TextOut, BeforeStartDocFalseAndNoBytes) {
    for (Language language : {Language::PclXl, Language::Pcl5Gl2}) {
        DeviceRecord r;
        CaptureSink sink;
        ASSERT_TRUE(AllocateBuffers(r, false));
        r.sink = &sink;
        r.language = language;
        GiveFonts(r, {TestFont{}}, 0);
        SURFOBJ so{};
        so.dhpdev = H(r);
        WCHAR text[] = u"A";
        GLYPHPOS pos{u'A', nullptr, {10, 10}};
        STROBJ str{1, 0, 0, {10, 0, 20, 12}, &pos, text};
        FONTOBJ font{};
        font.iFace = 1;
        font.flFontType = FO_TYPE_DEVICE;
        BRUSHOBJ black{0, nullptr, 0};
        EXPECT_FALSE(DrvTextOut(&so, &str, &font, nullptr, nullptr, nullptr, &black, nullptr, nullptr, 0x0D0D));
        font.iFace = 2;
        r.jobState = kJobOpen;
        SetLastError(0);
        EXPECT_FALSE(DrvTextOut(&so, &str, &font, nullptr, nullptr, nullptr, &black, nullptr, nullptr, 0x0D0D))
            << "a face past the count";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SpoolFlush(r);
        EXPECT_TRUE(sink.bytes.empty());
    }
}

TEST(TextSizes, QuarterPoints) {
    const std::pair<int32_t, int32_t> cases[] = {{1013, 1025}, {1012, 1000}, {1000, 1000}, {1037, 1025}, {1038, 1050}, {1088, 1100}};
    for (auto [in, out] : cases) EXPECT_EQ(QuarterPoints(in), out) << in;
}

TEST(TextSizes, LengthsAndAngles) {
    EXPECT_EQ(IntLength(3, 4), 5);
    EXPECT_EQ(IntLength(1, 1), 2) << "rounded up";
    EXPECT_EQ(IntLength(-7, 0), 7);
    struct Case {
        float m[6];
        int angle;
    };
    const Case cases[] = {
        {{1, 0, 0, 1, 0, 0}, 0}, {{0, -1, 1, 0, 0, 0}, 90}, {{-1, 0, 0, -1, 0, 0}, 180}, {{0, 1, -1, 0, 0, 0}, 270},
        {{0.7071f, -0.7071f, 0.7071f, 0.7071f, 0, 0}, 45},
    };
    for (const Case& c : cases) EXPECT_EQ(CharAngle(c.m), c.angle);
}

TEST(TextSubstitution, TheKoreanRuleAsksForCodePage949UnlessTheFaceIsExempt) {
    struct Case {
        char16_t ch;
        const char* face;
        bool in;
        const char* what;
    };
    const Case cases[] = {
        {u'A', "Zel Myeongjo", true, "below 128"},
        {0xAC00, "Zel Myeongjo", true, "a Hangul syllable: lead B0 in 949"},
        {0x4E00, "MD_BatangChe", true, "Hanja for an exempt face"},
        {0x4E00, "MD_DotumChe", true, "Hanja for the other exempt face"},
        {0x4E00, "Zel Myeongjo", false, "Hanja (lead EC in 949) for any other face"},
    };
    for (const Case& c : cases) EXPECT_EQ(InDbcsRange(129, c.ch, c.face), c.in) << c.what;
}


// A TrueType family listed in "FontSubstitutes" takes the listed printer
// face only in the style of its own bold and italic bits; in another
// style it stays TrueType (the face's classification differs too, so
// nothing else stands in).
TEST(TextSubstitution, AListedFamilyTakesOnlyAFaceOfItsOwnStyle) {
    struct Case {
        int ttWeight;                      // DejaVu Sans regular or bold
        std::vector<uint16_t> faceWeights;  // the rows of "Zel Serif"
        uint32_t row;                      // the row substituted, 0 for none
        const char* what;
    };
    const Case cases[] = {
        {400, {400}, 1, "regular for regular"},
        {400, {700}, 0, "a bold face for a regular font"},
        {700, {400}, 0, "a regular face for a bold font"},
        {700, {400, 700}, 2, "the bold row for a bold font"},
    };
    for (const Case& c : cases) {
        const auto face = zq::gdi::FindFont("DejaVu Sans", c.ttWeight, false);
        if (!face || face->family != "DejaVu Sans") GTEST_SKIP() << "DejaVu Sans is not installed (tools/install-deps.sh)";
        auto font = zq::gdi::EngineFont::Create(*face, 50, c.ttWeight, false, {300, 300});
        ASSERT_TRUE(font);
        ASSERT_EQ((font->Ifi()->fsSelection & FM_SEL_BOLD) != 0, c.ttWeight == 700);
        std::vector<TestFont> fonts;
        for (uint16_t w : c.faceWeights) {
            TestFont f;
            f.face = "Zel Serif";
            f.charSet = 0;  // single-byte: prints codes 32 to 255
            f.weight = w;
            std::fill(std::begin(f.panose), std::end(f.panose), uint8_t{0});
            fonts.push_back(f);
        }
        DeviceRecord r;
        GiveFonts(r, fonts, 0xFF);
        r.resolution = 300;
        const std::string list = "DejaVu Sans=Zel Serif";
        r.fonts.substituteList = ParseSubstitutes({reinterpret_cast<const uint8_t*>(list.data()), list.size()});
        WCHAR text[] = u"Ab";
        GLYPHPOS pos[2] = {{36, nullptr, {10, 40}}, {69, nullptr, {40, 40}}};
        STROBJ str{2, 0, 0, {10, 0, 70, 50}, pos, text};
        EXPECT_EQ(FindSubstituteFont(r, font.get(), &str), c.row) << c.what;
    }
}

}  // namespace
}  // namespace pclrend
