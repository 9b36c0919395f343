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
// the monochrome raster language, whose one-bit band cannot carry it.
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
        {"mono raster, colour asked", 0, 0, 0x0008, DMCOLOR_COLOR, Language::MonoRaster, 0},
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
