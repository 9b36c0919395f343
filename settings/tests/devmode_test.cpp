#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "interface/ui_utils.h"
#include "model_fixture.h"
#include "settings/devmode_ops.h"
#include "testing/temp_root.h"

namespace zq {
namespace {

using testing::TestModel;

std::vector<uint8_t> Lcg(size_t n, uint32_t seed) {
    std::vector<uint8_t> out;
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = (x * 1103515245u + 12345u) & 0x7fffffffu;
        out.push_back(static_cast<uint8_t>((x >> 16) & 0xff));
    }
    return out;
}

uint16_t CrcWithTwoZeros(std::vector<uint8_t> m) {
    m.push_back(0);
    m.push_back(0);
    return CalcDevmodeCrc(m);
}

TEST(DevmodeCrc, KnownValues) {
    const std::string abc = "abc";
    EXPECT_EQ(CalcDevmodeCrc({reinterpret_cast<const uint8_t*>(abc.data()), abc.size()}), 0x1EE4);
    EXPECT_EQ(CalcDevmodeCrc({}), 0);
    const std::vector<uint8_t> zeros(156, 0);
    EXPECT_EQ(CalcDevmodeCrc(zeros), 0);
}

// Values of binascii.crc_hqx(M, 0) computed outside this code base.
TEST(DevmodeCrc, AgreesWithCrcHqxVectors) {
    struct Case { size_t n; uint32_t seed; uint16_t crcHqx; };
    const Case cases[] = {{1, 1, 0xb98a}, {2, 7, 0xe74d}, {17, 3, 0x3604}, {156, 42, 0x332b}, {1000, 9, 0xdbce}};
    for (const auto& c : cases) {
        EXPECT_EQ(CrcWithTwoZeros(Lcg(c.n, c.seed)), c.crcHqx) << "n=" << c.n;
    }
}

// The same comparison on fresh random messages, against Python's own
// CRC-16 when python3 is there.
TEST(DevmodeCrc, AgreesWithPythonCrcHqx) {
    if (std::system("python3 -c 'import binascii' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 not available";
    }
    const auto dir = zq::testing::MakeTempDirectory("zq_crc");
    std::mt19937 rng(1234);
    std::vector<std::vector<uint8_t>> messages;
    {
        std::ofstream in(dir / "in.txt");
        for (int i = 0; i < 64; ++i) {
            std::vector<uint8_t> m(rng() % 300);
            for (auto& b : m) b = static_cast<uint8_t>(rng());
            for (auto b : m) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", b);
                in << hex;
            }
            in << "\n";
            messages.push_back(std::move(m));
        }
    }
    const std::string cmd = "python3 -c \"import binascii,sys\nfor l in open(sys.argv[1]): "
                            "print(binascii.crc_hqx(bytes.fromhex(l.strip()),0))\" " +
                            (dir / "in.txt").string() + " > " + (dir / "out.txt").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream out(dir / "out.txt");
    for (const auto& m : messages) {
        unsigned expected = 0;
        ASSERT_TRUE(out >> expected);
        EXPECT_EQ(CrcWithTwoZeros(m), expected);
    }
    zq::testing::RemoveTree(dir);
}

class DevmodeTest : public ::testing::Test {
protected:
    PrivateDevmode Default(bool usa = true, uint32_t codePage = 1252) {
        model.Commit();
        PrivateDevmode r{};
        BuildDefaultDevmode(r, model.data, {usa, codePage, 0});
        return r;
    }
    TestModel model;
};

TEST_F(DevmodeTest, ValidityNeedsEverySignatureAndSize) {
    const PrivateDevmode good = Default();
    EXPECT_TRUE(IsValidPrivateDevmode(good));
    EXPECT_TRUE(IsDevmodeCrcValid(good));
    const std::vector<std::function<void(PrivateDevmode&)>> breakers = {
        [](PrivateDevmode& r) { r.dm.dmSpecVersion = 0x400; },
        [](PrivateDevmode& r) { r.dm.dmSize = 156; },
        [](PrivateDevmode& r) { r.dm.dmDriverExtra = 1035; },
        [](PrivateDevmode& r) { r.privateVersion = 565; },
        [](PrivateDevmode& r) { r.signature1 ^= 1; },
        [](PrivateDevmode& r) { r.signature2 ^= 0x100; },
        [](PrivateDevmode& r) { r.signature3 = 0; },
    };
    for (size_t i = 0; i < breakers.size(); ++i) {
        PrivateDevmode r = good;
        breakers[i](r);
        EXPECT_FALSE(IsValidPrivateDevmode(r)) << "case " << i;
    }
    // The check value is not part of validity.
    PrivateDevmode r = good;
    r.checkValue ^= 1;
    EXPECT_TRUE(IsValidPrivateDevmode(r));
    EXPECT_FALSE(IsDevmodeCrcValid(r));
    // Bytes shorter than a record are never valid.
    const auto bytes = DevmodeBytes(good);
    EXPECT_TRUE(IsValidPrivateDevmode(bytes));
    EXPECT_FALSE(IsValidPrivateDevmode(bytes.first(1255)));
}

TEST_F(DevmodeTest, CheckValueCoversPublicBytesOnly) {
    PrivateDevmode r = Default();
    const uint16_t before = DevmodeCheckValue(r);
    r.dm.dmDeviceName[0] = u'Q';  // before byte 64
    r.option1228 = 2;             // private
    EXPECT_EQ(DevmodeCheckValue(r), before);
    r.dm.dmCopies = 3;
    EXPECT_NE(DevmodeCheckValue(r), before);
}

TEST_F(DevmodeTest, EqualityComparesChosenFieldsOnly) {
    const PrivateDevmode a = Default();
    struct Case { const char* what; std::function<void(PrivateDevmode&)> change; bool equal; };
    const Case cases[] = {
        {"orientation", [](auto& r) { r.dm.dmOrientation = 2; }, false},
        {"copies", [](auto& r) { r.dm.dmCopies = 2; }, false},
        {"dither", [](auto& r) { r.dm.dmDitherType = 1; }, false},
        {"byte 225", [](auto& r) { r.switch225 = 0; }, false},
        {"byte 234", [](auto& r) { r.pairSecond = 9; }, false},
        {"slot value 649", [](auto& r) { r.slotValues[10] = 1; }, false},
        {"byte 674", [](auto& r) { r.watermarkId2 = 1; }, false},
        {"byte 1248", [](auto& r) { r.options1244[4] = 1; }, false},
        {"word 1096", [](auto& r) { r.secondPaper = 5; }, false},
        {"u32 1084", [](auto& r) { r.number1084 = 70000; }, false},
        {"mask 816", [](auto& r) { r.fontSets1 = 1; }, false},
        {"text 468", [](auto& r) { std::strcpy(r.overlayName1, "Form"); }, false},
        {"dmPaperLength", [](auto& r) { r.dm.dmPaperLength = 100; }, true},
        {"dmYResolution", [](auto& r) { r.dm.dmYResolution = 1; }, true},
        {"byte 224", [](auto& r) { r.switch224 = 1; }, true},
        {"byte 228", [](auto& r) { r.metaSpoolResolved = 1; }, true},
        {"byte 235", [](auto& r) { r.colourOption235 = 1; }, true},
        {"mask 820", [](auto& r) { r.fontSets2 = 1; }, true},
        {"format 854", [](auto& r) { r.paperFormats[0].width = 1; }, true},
        {"account text", [](auto& r) { std::strcpy(r.accountId, "77"); }, true},
        {"model data", [](auto& r) { r.model.flags392 = 0xFFFF; }, true},
    };
    for (const auto& c : cases) {
        PrivateDevmode b = a;
        c.change(b);
        EXPECT_EQ(DevmodesEqual(a, b), c.equal) << c.what;
    }
    PrivateDevmode x = a, y = a;
    std::strcpy(x.text824, "Draft Copy");
    std::strcpy(y.text824, "DRAFT copy");
    EXPECT_TRUE(DevmodesEqual(x, y));
    // Unterminated texts compare within their field.
    std::memset(x.pin849, '7', sizeof x.pin849);
    std::memset(y.pin849, '7', sizeof y.pin849);
    EXPECT_TRUE(DevmodesEqual(x, y));
}

TEST_F(DevmodeTest, DefaultFollowsTheCountryAndModel) {
    model.SetResolutions(1, {{1200, 0}, {600, 1}, {600, 1}, {300, 0}});
    const PrivateDevmode us = Default(true);
    const PrivateDevmode eu = Default(false);
    EXPECT_EQ(us.dm.dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(eu.dm.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(us.dm.dmFields, kDefaultDevmodeFields);
    EXPECT_EQ(us.dm.dmDefaultSource, 7);
    EXPECT_EQ(us.dm.dmPrintQuality, 600);
    EXPECT_EQ(us.dm.dmYResolution, 600);
    EXPECT_EQ(us.dm.dmColor, DMCOLOR_MONOCHROME);
    EXPECT_EQ(us.dm.dmTTOption, 2);
    EXPECT_EQ(us.resolutions[0], 1200);
    EXPECT_EQ(us.resolutions[1], 600);
    EXPECT_EQ(us.resolutions[2], 300);
    EXPECT_EQ(us.resolutions[3], 0);
    EXPECT_EQ(us.defaultResolution, 600);
    EXPECT_EQ(us.resolutionFeature, 1);
    EXPECT_EQ(us.printerLanguage, 1);
    EXPECT_EQ(us.languageValue430, 7);
    EXPECT_EQ(us.option231, 3);
    EXPECT_EQ(us.pairFirst, 2);
    EXPECT_EQ(us.pairSecond, 1);
    EXPECT_EQ(us.memoryMegabytes, 16);
    EXPECT_EQ(us.installedSourceMask, 0x000F);
    EXPECT_EQ(us.installedOptions, 0x21);
    EXPECT_EQ(us.slotSourceCodes[0], 7);
    EXPECT_EQ(us.slotCodes[0], 1);
    EXPECT_EQ(us.slotValues[0], 5);
    EXPECT_EQ(us.slotSourceCodes[1], 2);
    EXPECT_EQ(us.slotCodes[1], 4);
    EXPECT_EQ(us.slotValues[1], 9);
    EXPECT_EQ(us.slotSourceCodes[2], 0);
    EXPECT_EQ(us.nonCjkSwitch, 1);
    EXPECT_STREQ(us.modelDisplayName, "Zelquor Test 1");
    EXPECT_EQ(us.profileKind, 4u);
    EXPECT_EQ(us.profileId[0], 1u);
    EXPECT_TRUE(IsDevmodeCrcValid(us));
}

TEST_F(DevmodeTest, DefaultKeepsTheNamesAndClearsTheRest) {
    PrivateDevmode r;
    std::memset(&r, 0x5A, sizeof r);
    std::memcpy(r.dm.dmDeviceName, u"Queue", 12);
    std::strcpy(r.modelName, "Zelquor Test 1");
    std::strcpy(r.printerName, "Queue");
    BuildDefaultDevmode(r, model.data, {true, 1252, 0});
    EXPECT_EQ(std::u16string(r.dm.dmDeviceName, 5), u"Queue");
    EXPECT_STREQ(r.modelName, "Zelquor Test 1");
    EXPECT_STREQ(r.printerName, "Queue");
    EXPECT_EQ(r.option238, 0);
    EXPECT_EQ(r.text824[0], 0);
    EXPECT_EQ(r.accountId[0], 0);
}

TEST_F(DevmodeTest, DefaultRules) {
    struct Case {
        const char* what;
        std::function<void(ModelRecord&)> set;
        uint32_t codePage;
        std::function<bool(const PrivateDevmode&)> holds;
    };
    const Case cases[] = {
        {"colour model", [](auto& m) { m.flags400 = 0x08; }, 1252,
         [](auto& r) { return r.dm.dmColor == 2 && r.dm.dmICMMethod == 1u && r.dm.dmICMIntent == 2u &&
                              (r.dm.dmFields & 0x1800800u) == 0x1800800u; }},
        {"no-colour bit", [](auto& m) { m.flags400 = 0x08; m.flags394 = 0x20; }, 1252,
         [](auto& r) { return r.dm.dmColor == 1 && (r.dm.dmFields & DM_COLOR) == 0; }},
        {"selector with 394 bit", [](auto& m) { m.dialogSelector = 3; m.flags394 = 0x20; }, 1252,
         [](auto& r) { return r.dm.dmColor == 1 && r.dm.dmICMMethod == 1u && (r.dm.dmFields & DM_COLOR) &&
                              r.switch458 == 1 && r.option655 == 4 && r.watermarkFlag == 1; }},
        {"collation", [](auto& m) { m.flags396 = 0x4; }, 1252,
         [](auto& r) { return r.dm.dmCollate == 1 && (r.dm.dmFields & DM_COLLATE); }},
        {"TrueType 2 forbidden", [](auto& m) { m.flags392 = 0x2; }, 1252,
         [](auto& r) { return r.dm.dmTTOption == 1; }},
        {"459 from 396", [](auto& m) { m.flags396 = 0x1800; m.flags398 = 0x4; }, 1252,
         [](auto& r) { return r.duplexOptions == 3; }},
        {"459 from 398", [](auto& m) { m.flags398 = 0x4; }, 1252, [](auto& r) { return r.duplexOptions == 3; }},
        {"459 bit 1", [](auto& m) { m.flags396 = 0x1000; }, 1252, [](auto& r) { return r.duplexOptions == 2; }},
        {"460", [](auto& m) { m.word402 = 2; }, 1252, [](auto& r) { return r.count460 == 1; }},
        {"453 cleared", [](auto& m) { m.flags400 = 0x04; }, 1252, [](auto& r) { return r.switch453 == 0; }},
        {"936 with 0x20", [](auto& m) { m.flags392 = 0x20; }, 936,
         [](auto& r) { return r.nonCjkSwitch == 0 && r.cjkSwitch == 1; }},
        {"949 needs 0x10", [](auto& m) { m.flags392 = 0x20; }, 949,
         [](auto& r) { return r.nonCjkSwitch == 0 && r.cjkSwitch == 0; }},
        {"950 with 0x40", [](auto& m) { m.flags392 = 0x40; }, 950, [](auto& r) { return r.cjkSwitch == 1; }},
        {"western", [](auto& m) { m.flags392 = 0x70; }, 1250,
         [](auto& r) { return r.nonCjkSwitch == 1 && r.cjkSwitch == 0; }},
    };
    for (const auto& c : cases) {
        TestModel fresh;
        c.set(fresh.record);
        fresh.Commit();
        PrivateDevmode r{};
        BuildDefaultDevmode(r, fresh.data, {true, c.codePage, 0});
        EXPECT_TRUE(c.holds(r)) << c.what;
    }
}

TEST_F(DevmodeTest, DefaultWithoutModelResources) {
    MemoryModelData empty;
    PrivateDevmode r{};
    BuildDefaultDevmode(r, empty, {false, 1252, 0});
    EXPECT_TRUE(IsValidPrivateDevmode(r));
    EXPECT_EQ(r.dm.dmDefaultSource, 1);
    EXPECT_EQ(r.installedSourceMask, 0xFFFF);
    EXPECT_EQ(r.installedOptions, 0);
    for (const WORD dpi : r.resolutions) EXPECT_EQ(dpi, 300);
    EXPECT_EQ(r.defaultResolution, 300);
    EXPECT_EQ(r.dm.dmPrintQuality, 300);
}

// Byte 652 follows the driver name the printer uses (239), whatever model
// string that driver was mapped to (308).
TEST_F(DevmodeTest, OvraDriversEnableScripting) {
    struct Case { const char* driver; const char* modelString; BYTE swEnable; };
    const Case cases[] = {
        {"OVRA Zelquor Test", "Zelquor Test 1", 1},
        {"Zelquor Test Driver", "Ovra Zelquor Test", 0},
        {"Zelquor Ovra", "Zelquor Ovra", 0},
        {"", "Ovra Zelquor Test", 0},
    };
    for (const auto& c : cases) {
        model.name = c.modelString;
        model.Commit();
        PrivateDevmode r{};
        std::strcpy(r.modelName, c.driver);
        BuildDefaultDevmode(r, model.data, {true, 1252, 0});
        EXPECT_EQ(r.swEnable, c.swEnable) << c.driver << " / " << c.modelString;
    }
}

TEST_F(DevmodeTest, DefaultSourceComesFromTheModelsTable) {
    struct Case { uint16_t defaultIndex; SHORT source; };
    // Sources of the test model in order: 7, 1, 2, 3.
    const Case cases[] = {{0, 7}, {2, 2}, {3, 3}, {4, 7}, {0xFFFF, 7}};
    for (const auto& c : cases) {
        model.SetSources(c.defaultIndex, {{0x1, 7}, {0x2, 1}, {0x4, 2}, {0x8, 3}});
        EXPECT_EQ(Default().dm.dmDefaultSource, c.source) << "default index " << c.defaultIndex;
    }
    // A table without entries has no code to give.
    model.SetSources(0, {});
    EXPECT_EQ(Default().dm.dmDefaultSource, 1);
}

// Merge cases: the application's record is the printer's default with one
// change, handed over as exactly the bytes the case gives.
class MergeTest : public DevmodeTest {
protected:
    void SetUp() override {
        model.SetResolutions(1, {{1200, 0}, {600, 1}, {600, 1}, {300, 0}});
        base = Default(true);
    }
    PrivateDevmode Merge(const std::vector<uint8_t>& app) {
        PrivateDevmode out{};
        EXPECT_EQ(ValidateDevmodeForModel(out, app, base, model.data, env), 1);
        return out;
    }
    PrivateDevmode Merge(const PrivateDevmode& app, size_t size = sizeof(PrivateDevmode)) {
        const auto bytes = DevmodeBytes(app);
        return Merge(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size)));
    }
    PrivateDevmode App(DWORD fields) {
        PrivateDevmode a = base;
        a.dm.dmFields = fields;
        return a;
    }
    PrivateDevmode base;
    MergeEnvironment env;
};

TEST_F(MergeTest, PublicFields) {
    struct Case {
        const char* what;
        DWORD field;
        std::function<void(PrivateDevmode&)> set;
        std::function<bool(const PrivateDevmode&)> holds;
    };
    const Case cases[] = {
        {"copies 9999", DM_COPIES, [](auto& a) { a.dm.dmCopies = 9999; }, [](auto& o) { return o.dm.dmCopies == 9999; }},
        {"copies 10000", DM_COPIES, [](auto& a) { a.dm.dmCopies = 10000; }, [](auto& o) { return o.dm.dmCopies == 1; }},
        {"copies 0", DM_COPIES, [](auto& a) { a.dm.dmCopies = 0; }, [](auto& o) { return o.dm.dmCopies == 1; }},
        {"copies without bit", 0, [](auto& a) { a.dm.dmCopies = 5; }, [](auto& o) { return o.dm.dmCopies == 1; }},
        {"quality -1 falls back", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = -1; },
         [](auto& o) { return o.dm.dmPrintQuality == 300 && o.dm.dmYResolution == 300; }},
        {"quality -2", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = -2; }, [](auto& o) { return o.dm.dmPrintQuality == 300; }},
        {"quality -3", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = -3; }, [](auto& o) { return o.dm.dmPrintQuality == 600; }},
        {"quality -4", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = -4; }, [](auto& o) { return o.dm.dmPrintQuality == 1200; }},
        {"quality -5", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = -5; }, [](auto& o) { return o.dm.dmPrintQuality == 600; }},
        {"quality 450", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = 450; },
         [](auto& o) { return o.dm.dmPrintQuality == 600 && o.resolutionFeature == 1; }},
        {"quality 300 drops 232", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = 300; },
         [](auto& o) { return o.dm.dmPrintQuality == 300 && o.dm.dmYResolution == 300 && o.resolutionFeature == 0; }},
        {"quality 0", DM_PRINTQUALITY, [](auto& a) { a.dm.dmPrintQuality = 0; }, [](auto& o) { return o.dm.dmPrintQuality == 600; }},
        {"orientation 2", DM_ORIENTATION, [](auto& a) { a.dm.dmOrientation = 2; }, [](auto& o) { return o.dm.dmOrientation == 2; }},
        {"orientation 3", DM_ORIENTATION, [](auto& a) { a.dm.dmOrientation = 3; }, [](auto& o) { return o.dm.dmOrientation == 1; }},
        {"A4 in model", DM_PAPERSIZE, [](auto& a) { a.dm.dmPaperSize = 9; }, [](auto& o) { return o.dm.dmPaperSize == 9; }},
        {"A3 not in model", DM_PAPERSIZE, [](auto& a) { a.dm.dmPaperSize = 8; }, [](auto& o) { return o.dm.dmPaperSize == 1; }},
        {"unknown code", DM_PAPERSIZE, [](auto& a) { a.dm.dmPaperSize = 200; }, [](auto& o) { return o.dm.dmPaperSize == 1; }},
        {"negative code", DM_PAPERSIZE, [](auto& a) { a.dm.dmPaperSize = -9; }, [](auto& o) { return o.dm.dmPaperSize == 1; }},
        {"form refused", DM_PAPERSIZE, [](auto& a) { a.dm.dmPaperSize = 520; }, [](auto& o) { return o.dm.dmPaperSize == 1; }},
        {"source installed", DM_DEFAULTSOURCE, [](auto& a) { a.dm.dmDefaultSource = 3; }, [](auto& o) { return o.dm.dmDefaultSource == 3; }},
        {"source unknown", DM_DEFAULTSOURCE, [](auto& a) { a.dm.dmDefaultSource = 15; }, [](auto& o) { return o.dm.dmDefaultSource == 7; }},
        {"duplex 3", DM_DUPLEX, [](auto& a) { a.dm.dmDuplex = 3; }, [](auto& o) { return o.dm.dmDuplex == 3; }},
        {"duplex 7", DM_DUPLEX, [](auto& a) { a.dm.dmDuplex = 7; }, [](auto& o) { return o.dm.dmDuplex == 1; }},
        {"TrueType 4 refused", DM_TTOPTION, [](auto& a) { a.dm.dmTTOption = 4; }, [](auto& o) { return o.dm.dmTTOption == 2; }},
        {"TrueType 1", DM_TTOPTION, [](auto& a) { a.dm.dmTTOption = 1; }, [](auto& o) { return o.dm.dmTTOption == 1; }},
        {"dither 2", DM_DITHERTYPE, [](auto& a) { a.dm.dmDitherType = 2; }, [](auto& o) { return o.dm.dmDitherType == 2u; }},
        {"dither 4", DM_DITHERTYPE, [](auto& a) { a.dm.dmDitherType = 4; }, [](auto& o) { return o.dm.dmDitherType == 3u; }},
        {"colour 2", DM_COLOR, [](auto& a) { a.dm.dmColor = 2; }, [](auto& o) { return o.dm.dmColor == 1; }},  // base lacks DM_COLOR
    };
    for (const auto& c : cases) {
        PrivateDevmode a = App(c.field);
        c.set(a);
        EXPECT_TRUE(c.holds(Merge(a))) << c.what;
    }
}

TEST_F(MergeTest, FormsNeedTheFormCheck) {
    PrivateDevmode a = App(DM_PAPERSIZE);
    a.dm.dmPaperSize = 520;
    env.acceptForm = [](int code) { return code == 520; };
    EXPECT_EQ(Merge(a).dm.dmPaperSize, 520);
    a.dm.dmPaperSize = 521;
    EXPECT_EQ(Merge(a).dm.dmPaperSize, 1);
}

TEST_F(MergeTest, CustomPaperWithinTheModelLimits) {
    // Limits 3: width 4-8.5 in (1016-2159 tenths of mm), length 6-14 in (1524-3556).
    struct Case { SHORT width, length; bool taken; };
    const Case cases[] = {
        {2000, 3000, true}, {1016, 1524, true}, {2159, 3556, true}, {2000, 3600, false},
        {1000, 3000, false}, {2160, 3000, false}, {0, 3000, false}, {-5, 3000, false},
    };
    for (const auto& c : cases) {
        PrivateDevmode a = App(DM_PAPERSIZE);
        a.dm.dmPaperSize = 257;
        a.dm.dmPaperWidth = c.width;
        a.dm.dmPaperLength = c.length;
        const PrivateDevmode o = Merge(a);
        ASSERT_EQ(o.dm.dmPaperSize, 257);
        if (c.taken) {
            EXPECT_EQ(o.dm.dmPaperWidth, c.width);
            EXPECT_EQ(o.dm.dmPaperLength, c.length);
            EXPECT_EQ(o.dm.dmFields & (DM_PAPERLENGTH | DM_PAPERWIDTH), DM_PAPERLENGTH | DM_PAPERWIDTH);
        } else {
            EXPECT_EQ(o.dm.dmPaperWidth, 0) << c.width << "x" << c.length;
            EXPECT_EQ(o.dm.dmPaperLength, 0);
            EXPECT_EQ(o.dm.dmFields & (DM_PAPERLENGTH | DM_PAPERWIDTH), 0u);
        }
    }
}

TEST_F(MergeTest, CollationFollowsTheApplicationsPermission) {
    base.dm.dmFields |= DM_COLLATE;
    PrivateDevmode a = App(DM_COLLATE);
    a.dm.dmCollate = 1;
    a.collateAllowed = 0;
    EXPECT_EQ(Merge(a).dm.dmCollate, 0);
    a.collateAllowed = 1;
    EXPECT_EQ(Merge(a).dm.dmCollate, 1);
    // A public-only record cannot say; the printer's own permission holds.
    EXPECT_EQ(Merge(a, 220).dm.dmCollate, 1);
    base.collateAllowed = 0;
    EXPECT_EQ(Merge(a, 220).dm.dmCollate, 0);
}

TEST_F(MergeTest, PublicOnlyRecordLeavesPrivateFields) {
    PrivateDevmode a = App(DM_COPIES | DM_ORIENTATION);
    a.dm.dmCopies = 4;
    a.dm.dmOrientation = 2;
    a.dm.dmDriverExtra = 0;
    a.option1228 = 2;  // beyond the 220 bytes handed over
    const PrivateDevmode o = Merge(a, 220);
    EXPECT_EQ(o.dm.dmCopies, 4);
    EXPECT_EQ(o.dm.dmOrientation, 2);
    EXPECT_EQ(o.option1228, base.option1228);
}

TEST_F(MergeTest, LyingSizesAreNotFollowed) {
    // The vectors are exactly as long as the case says, so reading past
    // them is caught by the address sanitizer.
    PrivateDevmode a = App(DM_COPIES | DM_DUPLEX | DM_DITHERTYPE);
    a.dm.dmCopies = 4;
    a.dm.dmDuplex = 2;
    a.dm.dmDitherType = 1;

    // dmSize claims a whole record, only 90 bytes are there: copies (86)
    // are read, duplex (94) and dither (200) are not.
    a.dm.dmSize = 220;
    a.dm.dmDriverExtra = 1036;
    PrivateDevmode o = Merge(a, 90);
    EXPECT_EQ(o.dm.dmCopies, 4);
    EXPECT_EQ(o.dm.dmDuplex, 1);
    EXPECT_EQ(o.dm.dmDitherType, 3u);

    // The bytes are there but dmSize ends before dmDuplex.
    a.dm.dmSize = 90;
    o = Merge(a);
    EXPECT_EQ(o.dm.dmCopies, 4);
    EXPECT_EQ(o.dm.dmDuplex, 1);

    // Too short to hold dmFields: nothing is taken.
    a.dm.dmSize = 220;
    o = Merge(a, 74);
    EXPECT_EQ(o.dm.dmCopies, 1);
    o = Merge(std::vector<uint8_t>{});
    EXPECT_TRUE(DevmodesEqual(o, base));

    // A valid-looking record cut short is not read as a private record.
    a = base;
    a.dm.dmFields = 0;
    a.option1228 = 2;
    o = Merge(a, 1255);
    EXPECT_EQ(o.option1228, base.option1228);
}

TEST_F(MergeTest, PrivateFieldsFromAValidRecord) {
    PrivateDevmode a = App(0);
    a.option1228 = 2;
    a.pagesPerSheet = 3;
    a.slotValues[0] = 1;
    a.number1084 = 65535;
    a.option303 = 9;           // not merged
    a.model.flags392 = 0x3;    // model data is the printer's
    std::memset(a.overlayName1, 'A', sizeof a.overlayName1);  // unterminated
    std::memset(a.pin849, '1', sizeof a.pin849);
    std::memset(a.userName, 'u', sizeof a.userName);
    std::memcpy(a.text824, "Confidential", 13);
    const PrivateDevmode o = Merge(a);
    EXPECT_EQ(o.option1228, 2);
    EXPECT_EQ(o.pagesPerSheet, 3);
    EXPECT_EQ(o.slotValues[0], 1);
    EXPECT_EQ(o.number1084, 65535u);
    EXPECT_EQ(o.option303, base.option303);
    EXPECT_EQ(o.model.flags392, base.model.flags392);
    EXPECT_EQ(std::string(o.overlayName1), std::string(63, 'A'));
    EXPECT_EQ(std::string(o.pin849), "1111");
    EXPECT_EQ(std::string(o.userName), std::string(40, 'u'));
    EXPECT_STREQ(o.text824, "Confidential");
}

// A valid record written for another driver (239) gives its public part
// only: its language, pairs, trays and texts are another model's.
TEST_F(MergeTest, AnotherModelsRecordGivesItsPublicPartOnly) {
    std::strcpy(base.modelName, "Zelquor Test 1 PCL");
    struct Case { const char* appModel; bool privateTaken; };
    const Case cases[] = {
        {"Zelquor Test 1 PCL", true},
        {"ZELQUOR TEST 1 pcl", true},
        {"Zelquor Test 2 PCL XL", false},
        {"Zelquor Test 1 PCL XL", false},
        {"", false},
    };
    for (const auto& c : cases) {
        PrivateDevmode a = App(DM_COPIES | DM_ORIENTATION);
        std::memset(a.modelName, 0, sizeof a.modelName);
        std::strcpy(a.modelName, c.appModel);
        a.dm.dmCopies = 3;
        a.dm.dmOrientation = 2;
        a.printerLanguage = 2;
        a.pairFirst = 1;
        a.pairSecond = 2;
        a.slotSourceCodes[0] = 257;
        a.slotCodes[0] = 2;
        a.installedSourceMask = 0x3F;
        a.pagesPerSheet = 3;
        a.collateAllowed = 0;
        std::strcpy(a.userName, "someone");
        const PrivateDevmode o = Merge(a);
        SCOPED_TRACE(c.appModel);
        EXPECT_EQ(o.dm.dmCopies, 3);
        EXPECT_EQ(o.dm.dmOrientation, 2);
        EXPECT_STREQ(o.modelName, "Zelquor Test 1 PCL");
        const PrivateDevmode& want = c.privateTaken ? a : base;
        EXPECT_EQ(o.printerLanguage, want.printerLanguage);
        EXPECT_EQ(o.pairFirst, want.pairFirst);
        EXPECT_EQ(o.pairSecond, want.pairSecond);
        EXPECT_EQ(o.slotSourceCodes[0], want.slotSourceCodes[0]);
        EXPECT_EQ(o.slotCodes[0], want.slotCodes[0]);
        EXPECT_EQ(o.installedSourceMask, want.installedSourceMask);
        EXPECT_EQ(o.pagesPerSheet, want.pagesPerSheet);
        EXPECT_EQ(o.collateAllowed, want.collateAllowed);
        EXPECT_STREQ(o.userName, want.userName);
    }
}

TEST_F(MergeTest, ResolutionFeatureRecheckedAfterPrivateCopy) {
    PrivateDevmode a = App(DM_PRINTQUALITY);
    a.dm.dmPrintQuality = 300;
    a.resolutionFeature = 1;  // not allowed at 300 dpi
    EXPECT_EQ(Merge(a).resolutionFeature, 0);
}

TEST_F(MergeTest, ProfileIdentityKeptOnlyForUnchangedSettings) {
    base.profileKind = 2;
    base.profileId[1] = 77;
    PrivateDevmode a = App(DM_COPIES);
    a.profileKind = 3;
    a.profileId[2] = 5;
    SetDevmodeCrc(a);
    PrivateDevmode o = Merge(a);
    EXPECT_EQ(o.profileKind, 3u);
    EXPECT_EQ(o.profileId[2], 5u);

    // A stale check value: the base's profile, whose settings still match.
    a.checkValue ^= 1;
    o = Merge(a);
    EXPECT_EQ(o.profileKind, 2u);
    EXPECT_EQ(o.profileId[1], 77u);

    // A request the merge refuses leaves settings that are neither the
    // application's nor the printer's: no profile.
    a.dm.dmFields |= DM_DUPLEX;
    a.dm.dmCopies = 3;
    a.dm.dmDuplex = 7;
    SetDevmodeCrc(a);
    o = Merge(a);
    EXPECT_EQ(o.profileKind, 0u);
    EXPECT_EQ(o.profileId[1] | o.profileId[2], 0u);
}

TEST(ResolvePrintQuality, FallsBackToEarlierSlots) {
    PrivateDevmode r{};
    const WORD slots[] = {1200, 600, 0, 0, 0};
    std::memcpy(r.resolutions, slots, sizeof slots);
    r.dm.dmPrintQuality = -2;
    EXPECT_EQ(ResolvePrintQuality(r, DMRES_DRAFT), 600);
    EXPECT_EQ(ResolvePrintQuality(r, DMRES_LOW), 600);
    EXPECT_EQ(ResolvePrintQuality(r, DMRES_MEDIUM), 600);
    EXPECT_EQ(ResolvePrintQuality(r, DMRES_HIGH), 1200);
    EXPECT_EQ(ResolvePrintQuality(r, -9), 1200);
    EXPECT_EQ(ResolvePrintQuality(r, 0), 600);
    EXPECT_EQ(ResolvePrintQuality(r, 450), 450);
}

}  // namespace
}  // namespace zq
