#include <gtest/gtest.h>

#include <string>

#include "render/device_record.h"
#include "render/device_record_image.h"

namespace pclrend {
namespace {

zq::PrivateDevmode Base() {
    zq::PrivateDevmode dm{};
    dm.privateVersion = zq::kPrivateDevmodeVersion;
    dm.dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dm.dmPrintQuality = 600;
    dm.dm.dmCopies = 1;
    dm.dm.dmColor = DMCOLOR_MONOCHROME;
    auto& g = dm.paperFormats[0];
    g.width = g.usedWidth = 5100;
    g.length = g.usedLength = 6600;
    g.printableWidth = g.usedPrintableWidth = 4900;
    g.printableLength = g.usedPrintableLength = 6400;
    dm.paperFormats[1] = g;
    return dm;
}

TEST(RecordFromDevmode, TableOfCases) {
    struct Case {
        const char* name;
        void (*setup)(zq::PrivateDevmode&);
        bool ok;
        Language language;
        uint16_t stamp;
    } const cases[] = {
        {"plain", [](zq::PrivateDevmode&) {}, true, Language::MonoRaster, kStampPortrait},
        {"version 565", [](zq::PrivateDevmode& d) { d.privateVersion = 565; }, false, Language::MonoRaster, 0},
        {"no resolution", [](zq::PrivateDevmode& d) { d.dm.dmPrintQuality = 0; }, false, Language::MonoRaster, 0},
        {"no printable page", [](zq::PrivateDevmode& d) { d.paperFormats[0].printableLength = 0; }, false,
         Language::MonoRaster, 0},
        {"landscape", [](zq::PrivateDevmode& d) { d.dm.dmOrientation = DMORIENT_LANDSCAPE; }, true,
         Language::MonoRaster, kStampLandscape},
        {"model default language from 430",
         [](zq::PrivateDevmode& d) {
             d.printerLanguage = 6;
             d.graphicsModeResolved = 255;
             d.languageValue430 = 1;
         },
         true, Language::Pcl5Gl2, kStampPortrait},
        {"model default language from 432",
         [](zq::PrivateDevmode& d) {
             d.printerLanguage = 6;
             d.graphicsModeResolved = 0;
             d.languageValue430 = 1;
         },
         true, Language::MonoRaster, kStampPortrait},
        {"two pages per sheet leave the plain raster", [](zq::PrivateDevmode& d) { d.pagesPerSheet = 1; }, true,
         Language::Pcl5Gl2, kStampPortrait},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        c.setup(dm);
        DeviceRecord r;
        EXPECT_EQ(RecordFromDevmode(r, dm), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(r.language, c.language) << c.name;
        EXPECT_EQ(r.stamp, c.stamp) << c.name;
        if (std::string(c.name).rfind("model default", 0) == 0) {
            EXPECT_EQ(dm.printerLanguage, static_cast<uint8_t>(c.language)) << "written back: " << c.name;
        }
    }
}

// A resolution-bound feature forces colour on a monochrome model, except in
// the raster language, whose one-bit band cannot carry it; a colour model
// asked for colour draws that language's bands in 24 bits.
TEST(RecordFromDevmode, ColourByLanguageAndModel) {
    struct Case {
        const char* name;
        uint8_t language;
        uint8_t feature;
        uint16_t modelFlags;
        int16_t dmColor;
        Language expectLanguage;
        uint8_t colour;
    } const cases[] = {
        {"mono raster, feature on", 0, 1, 0x0004, DMCOLOR_MONOCHROME, Language::MonoRaster, 0},
        {"mono raster, feature on, forced by 0x4000", 0, 1, 0x4004, DMCOLOR_MONOCHROME, Language::MonoRaster, 0},
        {"mono model in the raster language, colour asked", 0, 0, 0x0004, DMCOLOR_COLOR, Language::MonoRaster, 0},
        // A colour model's raster language draws 24-bit bands.
        {"colour model in the raster language, colour asked", 0, 0, 0x0008, DMCOLOR_COLOR, Language::MonoRaster, 1},
        {"PCL 5, feature on", 1, 1, 0x0004, DMCOLOR_MONOCHROME, Language::Pcl5Gl2, 1},
        {"colour model, feature on", 0, 1, 0x0008, DMCOLOR_MONOCHROME, Language::MonoRaster, 0},
        {"forced colour to the colour raster", 0, 1, 0x8000, DMCOLOR_MONOCHROME, Language::ColourRaster, 1},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        dm.printerLanguage = c.language;
        dm.resolutionFeature = c.feature;
        dm.model.flags400 = c.modelFlags;
        dm.dm.dmColor = c.dmColor;
        DeviceRecord r;
        ASSERT_TRUE(RecordFromDevmode(r, dm)) << c.name;
        EXPECT_EQ(r.language, c.expectLanguage) << c.name;
        EXPECT_EQ(r.colour, c.colour) << c.name;
    }
}

// The colour raster keeps only pages it can send: n-up pages the host
// finishes (with TrueType as bitmaps), and no overlay at page start, which
// the page's raster would cover.
TEST(RecordFromDevmode, ColourRasterFallsBackWhereItCannotPrint) {
    struct Case {
        const char* name;
        uint8_t nup;         // DEVMODE 605
        uint8_t metaSpool;   // 227
        uint16_t macro;      // the first page's overlay
        uint8_t atStart;     // 467
        uint16_t custom;     // 804
        uint8_t customAtStart;  // 808
        int16_t ttIn;
        Language language;
        int16_t ttOut;
    } const cases[] = {
        {"one page a sheet", 0, 0, 0, 0, 0, 0, 4, Language::ColourRaster, 2},
        {"n-up, no host finishing", 1, 0, 0, 0, 0, 0, 2, Language::Pcl5Gl2, 2},
        {"n-up, host finishing", 1, 2, 0, 0, 0, 0, 2, Language::ColourRaster, 1},
        {"overlay at page end", 0, 0, 7, 0, 0, 0, 2, Language::ColourRaster, 2},
        {"overlay at page start", 0, 0, 7, 1, 0, 0, 2, Language::Pcl5Gl2, 2},
        {"custom-paper overlay at page start", 0, 0, 0, 0, 9, 1, 2, Language::Pcl5Gl2, 2},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        dm.dm.dmColor = DMCOLOR_COLOR;
        dm.printerLanguage = 5;
        dm.pagesPerSheet = c.nup;
        dm.metaSpool = c.metaSpool;
        dm.macroIds[0] = c.macro;
        dm.overlayAtPageStart = c.atStart;
        dm.userPaperWord804 = c.custom;
        dm.userPaperSettings[0] = c.customAtStart;
        dm.dm.dmTTOption = c.ttIn;
        DeviceRecord r;
        ASSERT_TRUE(RecordFromDevmode(r, dm)) << c.name;
        EXPECT_EQ(r.language, c.language) << c.name;
        EXPECT_EQ(dm.dm.dmTTOption, c.ttOut) << c.name;
    }
}

// Booklets and duplex done by the host: what the record and its image carry
// for the interface library, and what the job is left with.
TEST(RecordFromDevmode, BookletAndHostDuplex) {
    struct Case {
        const char* name;
        uint16_t flags396;     // byte 572 low, 573 high: 0x0800 / 0x1000 are 573's 8 / 16
        uint8_t duplexOptions; // 459: 1 short edge, 2 long edge by the unit
        int16_t dmDuplex;
        uint8_t booklet;       // 1081
        uint8_t manualDuplex;  // 1076
        uint8_t nupCode;       // 605
        uint8_t switch1233;
        // Expected:
        uint8_t pagesPerSheet;
        uint8_t duplex;
        Language language;
        uint32_t manualDuplexFlags;
        int16_t copies;
        int16_t collate;
        uint8_t prompt;
    } const cases[] = {
        {"booklet on a duplex unit: one page a sheet, short edge", 0, 1, DMDUP_SIMPLEX, 1, 0, 3, 0,
         1, 3, Language::MonoRaster, 0, 3, 1, 0},
        {"booklet, host turns sheets (573 bit 8)", 0x0800, 0, DMDUP_SIMPLEX, 1, 0, 1, 0,
         1, 3, Language::MonoRaster, 0, 3, 1, 0},
        {"booklet without any duplex: n-up stays", 0, 2, DMDUP_SIMPLEX, 1, 0, 1, 0,
         2, 1, Language::Pcl5Gl2, 0, 3, 1, 0},
        {"unit duplex, long edge", 0, 2, DMDUP_VERTICAL, 0, 0, 0, 0,
         1, 2, Language::MonoRaster, 0, 3, 1, 0},
        {"host duplex", 0x1000, 0, DMDUP_VERTICAL, 0, 0, 0, 1,
         1, 2, Language::MonoRaster, 9, 3, 1, 0},
        {"host duplex with instructions: one copy, no collation", 0x0800, 0, DMDUP_HORIZONTAL, 0, 0x80, 3, 0,
         1, 3, Language::MonoRaster, 8, 1, 0, 1},
        {"host duplex asked for simplex", 0x1800, 0, DMDUP_SIMPLEX, 0, 0, 0, 1,
         1, 1, Language::MonoRaster, 0, 3, 1, 0},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        dm.model.flags396 = c.flags396;
        dm.duplexOptions = c.duplexOptions;
        dm.dm.dmDuplex = c.dmDuplex;
        dm.option1081 = c.booklet;
        dm.manualDuplex = c.manualDuplex;
        dm.pagesPerSheet = c.nupCode;
        dm.switch1233 = c.switch1233;
        dm.dm.dmCopies = 3;
        dm.dm.dmCollate = 1;
        dm.metaSpool = 0;
        DeviceRecord r;
        ASSERT_TRUE(RecordFromDevmode(r, dm)) << c.name;
        DecideOutputMode(r, dm);
        EXPECT_EQ(r.pagesPerSheet, c.pagesPerSheet) << c.name;
        EXPECT_EQ(r.duplex, c.duplex) << c.name;
        EXPECT_EQ(r.language, c.language) << c.name;
        EXPECT_EQ(r.copies, c.copies) << c.name;
        EXPECT_EQ(r.devmode->dm.dmCollate, c.collate) << c.name;
        EXPECT_EQ(r.bookletMode, c.booklet) << c.name;
        const auto image = MakeImage(r);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&image);
        EXPECT_EQ(bytes[2056] | bytes[2057] << 8, static_cast<int>(c.manualDuplexFlags)) << c.name;
        EXPECT_EQ(bytes[705], c.prompt) << c.name;
    }
}

// The output mode from the manual-duplex byte M and the journal choice J
// (with its installed default Jd), and whether this build can print it.
TEST(DecideOutputMode, TableOfCases) {
    struct Case {
        const char* name;
        uint8_t language;
        uint8_t M, J, Jd;
        void (*setup)(zq::PrivateDevmode&);
        uint8_t outputMode, journal, writtenJ;
        bool printable;
    } const cases[] = {
        {"raster, PCL job asked", 0, 0, 0, 255, nullptr, 1, 0, 0, true},
        {"raster, journal undecided: host finishing", 0, 0, 2, 255, nullptr, 4, 0, 2, true},
        {"PCL 5, journal undecided: the PCL job", 1, 0, 2, 255, nullptr, 1, 0, 2, true},
        {"PCL 5 in colour", 1, 0, 2, 255, [](zq::PrivateDevmode& d) { d.dm.dmColor = DMCOLOR_COLOR; }, 1, 0, 2, true},
        {"PCL 5 booklet: host finishing", 1, 0, 2, 255, [](zq::PrivateDevmode& d) { d.option1081 = 1; }, 4, 0, 2, true},
        {"PCL 5 reversed order: host finishing", 1, 0, 2, 255,
         [](zq::PrivateDevmode& d) { d.reversePageOrder = 1; }, 4, 0, 2, true},
        {"journal 1 asks for the stream", 0, 0, 1, 255, nullptr, 4, 0, 1, true},
        {"journal 1 with M 2 journals", 0, 2, 1, 255, nullptr, 4, 1, 1, true},
        {"M 4 keeps the stream with J 0", 0, 4, 0, 255, nullptr, 4, 0, 0, true},
        {"M 64 resolves J from Jd", 0, 64, 2, 0, nullptr, 64, 0, 0, true},
        {"M 64 without Jd: raster journals", 0, 64, 2, 255, nullptr, 64, 1, 1, true},
        {"manual duplex with instructions", 0, 0x80, 2, 255, nullptr, 1, 0, 2, true},
        // The colour raster goes to host finishing for what the interface
        // driver draws on its pages: either watermark, a frame.
        {"colour raster: the PCL job", 5, 0, 2, 255, [](zq::PrivateDevmode& d) { d.dm.dmColor = DMCOLOR_COLOR; }, 1, 1, 2,
         true},
        {"colour raster, first watermark: host finishing", 5, 0, 2, 255,
         [](zq::PrivateDevmode& d) { d.dm.dmColor = DMCOLOR_COLOR, d.watermarkId1 = 2; }, 4, 0, 2, true},
        {"colour raster, second watermark: host finishing", 5, 0, 2, 255,
         [](zq::PrivateDevmode& d) { d.dm.dmColor = DMCOLOR_COLOR, d.watermarkId2 = 3; }, 4, 0, 2, true},
        {"colour raster, frame: host finishing", 5, 0, 2, 255,
         [](zq::PrivateDevmode& d) { d.dm.dmColor = DMCOLOR_COLOR, d.userPaperSettings[2] = 1; }, 4, 0, 2, true},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        dm.printerLanguage = c.language;
        dm.manualDuplex = c.M;
        dm.metaSpool = c.J;
        dm.metaSpoolResolved = c.Jd;
        if (c.setup) c.setup(dm);
        DeviceRecord r;
        ASSERT_TRUE(RecordFromDevmode(r, dm)) << c.name;
        DecideOutputMode(r, dm);
        EXPECT_EQ(r.outputMode, c.outputMode) << c.name;
        EXPECT_EQ(r.journal, c.journal) << c.name;
        EXPECT_EQ(dm.metaSpool, c.writtenJ) << c.name;
        EXPECT_EQ(r.manualDuplexPrompt, c.M == 0x80 ? 1 : 0) << c.name;
        EXPECT_EQ(UnbuiltRoute(r) == nullptr, c.printable) << c.name;
    }
}

// A sheet used in the other orientation takes that orientation's tag too:
// the tag says whether the sheet is bound and finished.
// In PCL XL the record's switch at 604 puts the geometry's alternative
// margins and printable area in place of its own; other languages, a
// geometry without an alternative area and one off the sheet keep theirs.
TEST(RecordFromDevmode, AlternativeAreaInPclXl) {
    const struct {
        const char* name;
        uint8_t language, flag;
        WORD secondWidth;
        bool alternative;
    } cases[] = {
        {"PCL XL with the switch", 2, 1, 5000, true},
        {"PCL XL without it", 2, 0, 5000, false},
        {"raster with the switch", 0, 1, 5000, false},
        {"no alternative area", 2, 1, 0, false},
        {"an area off the sheet", 2, 1, 5090, false},
    };
    for (const auto& c : cases) {
        auto dm = Base();
        dm.printerLanguage = c.language;
        dm.switch604 = c.flag;
        for (auto& g : dm.paperFormats) {
            g.leftMargin = g.topMargin = g.usedLeftMargin = g.usedTopMargin = 100;
            g.secondLeftMargin = g.secondTopMargin = g.usedSecondLeftMargin = g.usedSecondTopMargin = 50;
            g.secondPrintableWidth = g.usedSecondPrintableWidth = c.secondWidth;
            g.secondPrintableLength = g.usedSecondPrintableLength = 6500;
        }
        DeviceRecord r;
        ASSERT_TRUE(RecordFromDevmode(r, dm)) << c.name;
        EXPECT_EQ(r.geometry.usedLeftMargin, c.alternative ? 50 : 100) << c.name;
        EXPECT_EQ(r.geometry.usedTopMargin, c.alternative ? 50 : 100) << c.name;
        EXPECT_EQ(r.geometry.usedPrintableWidth, c.alternative ? 5000 : 4900) << c.name;
        EXPECT_EQ(r.geometry.usedPrintableLength, c.alternative ? 6500 : 6400) << c.name;
        EXPECT_EQ(r.geometry.usedWidth, 5100) << "the sheet stays: " << c.name;
        EXPECT_EQ(r.PageWidth(), c.alternative ? 5000 : 4900) << "the page takes the area: " << c.name;
        EXPECT_EQ(r.drawnWidth, r.PageWidth()) << "not a scaled page: " << c.name;
    }
}

TEST(RecordFromDevmode, RotatedSheetTakesItsOwnTag) {
    auto dm = Base();
    dm.pagesPerSheet = 1;  // two pages a sheet, portrait on tall paper: rotated
    dm.paperFormats[0].flags = 0x0001;
    dm.paperFormats[1].flags = 0x000E;
    DeviceRecord r;
    ASSERT_TRUE(RecordFromDevmode(r, dm));
    EXPECT_EQ(r.geometry.flags, 0x000E);
}

TEST(DeviceRecordImage, CarriesWhatTheInterfaceReads) {
    auto dm = Base();
    dm.option448 = 2;
    DeviceRecord r;
    ASSERT_TRUE(RecordFromDevmode(r, dm));
    r.pageCount = 0x1234;
    r.manualDuplexPrompt = 1;
    r.manualDuplexFlags = 0x19;
    const auto image = MakeImage(r);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&image);
    EXPECT_EQ(bytes[280], 2);
    EXPECT_EQ(bytes[682] | bytes[683] << 8, 0x1234);
    EXPECT_EQ(bytes[705], 1);
    EXPECT_EQ(bytes[2056], 0x19);
    EXPECT_EQ(bytes[196] | bytes[197] << 8, kStampPortrait);
}

}  // namespace
}  // namespace pclrend
