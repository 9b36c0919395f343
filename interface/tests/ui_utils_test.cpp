#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/loader.h"
#include "base/locale.h"
#include "base/profile.h"
#include "base/root.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "interface/ui_utils.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

using RootTest = testing::StoreRoot;

TEST(IsUsa, CountryNumbers) {
    struct Case { DWORD country; BOOL usa; };
    const Case cases[] = {{1, TRUE},   {2, TRUE},   {50, TRUE},  {51, TRUE},  {52, FALSE}, {53, TRUE},
                          {54, TRUE},  {55, FALSE}, {56, TRUE},  {59, TRUE},  {60, FALSE}, {49, FALSE},
                          {499, FALSE}, {500, TRUE}, {520, TRUE}, {599, TRUE}, {600, FALSE}, {44, FALSE}};
    for (const auto& c : cases) {
        LocaleSettings s = CurrentLocaleSettings();
        s.country = c.country;
        ScopedLocaleSettings scoped(s);
        EXPECT_EQ(isUSA(), c.usa) << c.country;
    }
    EXPECT_FALSE(IsUsaCountry(std::nullopt));
}

TEST(PaperMasks, CodesBitsAndNames) {
    struct Case { int code; uint32_t bit; uint16_t nameId; };
    const Case cases[] = {
        {1, 0x1, 1000},       {3, 0x800000, 1023},  {5, 0x2, 1001},      {6, 0x20000, 1018},  {7, 0x10, 1004},
        {8, 0x2000, 1013},    {9, 0x8, 1003},       {11, 0x20, 1005},    {12, 0x4000, 1015},  {13, 0x4, 1002},
        {14, 0x10000, 1017},  {19, 0x80, 1007},     {20, 0x100, 1008},   {27, 0x200, 1009},   {28, 0x400, 1010},
        {34, 0x800, 1011},    {37, 0x40, 1006},     {257, 0x40000, 1016}, {258, 0x8000, 1014}, {259, 0x80000, 1019},
        {260, 0x100000, 1020}, {261, 0x200000, 1021}, {262, 0x400000, 1022}, {768, 0x80000000, 6104},
        {2, 0, 6104},         {118, 0, 6104},       {-1, 0, 6104},       {512, 0x80000000, 6104}, {900, 0x80000000, 6104},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PaperSizeToMaskBit(c.code), c.bit) << c.code;
        EXPECT_EQ(PaperMaskBitToNameId(c.bit), c.nameId) << c.code;
    }
    EXPECT_EQ(PaperMaskBitToNameId(0x1000), 1012);
}

TEST(ResolvePrintQuality, DraftFallsToMediumWhenLowerSlotsAreEmpty) {
    PrivateDevmode r{};
    r.resolutions[0] = 1200;
    r.resolutions[1] = 600;
    EXPECT_EQ(ResolvePrintQuality(r, DMRES_DRAFT), 600);
    r.dm.dmPrintQuality = DMRES_HIGH;
    EXPECT_EQ(ResolvePrintQuality(r, 0), 1200);
}

TEST(Names, OvraPrefixAndPaddedCopies) {
    EXPECT_TRUE(IsOvraName("ovra lite"));
    EXPECT_TRUE(IsOvraModel(u"OVRA Zelquor"));
    EXPECT_FALSE(IsOvraModel(u"Ovr"));
    EXPECT_FALSE(IsOvraName("Zelquor Ovra"));
    EXPECT_EQ(CheckOvraModel(nullptr, "Ovra"), 1);
    char field[8];
    std::memset(field, 'x', sizeof field);
    EXPECT_EQ(CopyStringPadded(field, "abc"), 3u);
    EXPECT_EQ(std::string(field, 8), std::string("abc\0\0\0\0\0", 8));
    EXPECT_EQ(CopyStringPadded(field, "abcdefghij"), 7u);
    EXPECT_EQ(field[7], '\0');
    EXPECT_TRUE(IsZelquorName("ZELQUOR Tarn"));
    EXPECT_FALSE(IsZelquorName("Zelquo"));
}

class DriverModuleTest : public RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        drvui_ = LoadLibraryA("drvui.dll");
        ASSERT_NE(drvui_, nullptr) << LastLoadError();
    }
    void TearDown() override {
        FreeLibrary(drvui_);
        RootTest::TearDown();
    }
    HMODULE drvui_ = nullptr;
};

TEST_F(DriverModuleTest, ModelFromTheIniOrTheDriverName) {
    EXPECT_EQ(FindModelIndex(drvui_, "Zelquor Corvo C30"), 2);
    EXPECT_EQ(FindModelIndex(drvui_, "zelquor corvo c30"), 2);
    EXPECT_EQ(FindModelIndex(drvui_, "Zelquor Tarn 45 PCL XL"), -1);
    ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini"));
    EXPECT_EQ(FindModelIndex(drvui_, "Zelquor Tarn 45 PCL XL"), 1);
    const LoadedModel m = LoadModelRecord(drvui_, 1);
    EXPECT_TRUE(m.nameLoaded && m.recordLoaded);
    EXPECT_STREQ(m.name, "Zelquor Tarn 45 XL");
    EXPECT_EQ(m.record.paperTableRow, 1);
    EXPECT_FALSE(LoadModelRecord(drvui_, 9).recordLoaded);
    uint8_t limits[8];
    EXPECT_EQ(LoadDriverResource(drvui_, 279, 3, limits), 8u);
    EXPECT_EQ(limits[0] | (limits[1] << 8), 10200);
    EXPECT_EQ(LoadDriverResource(drvui_, 279, 99, limits), 0u);
}

// Driver names longer than the 32 characters of the fallback: the section is
// found by the whole name, so two names that agree in their first 32
// characters may stand for different models.
TEST_F(DriverModuleTest, LongDriverNamesFindTheirOwnSection) {
    struct Section { const char* driver; const char* model; };
    const Section sections[] = {
        {"Zelquor Tarn 45 PCL XL Workgroup Edition", "Zelquor Tarn 45 XL"},
        {"Zelquor Tarn 45 PCL XL Workgroup Colour", "Zelquor Corvo C30"},
        {"Zelquor Corvo C30 Finishing with a long name", "Zelquor Corvo C30"},
    };
    for (const auto& s : sections) {
        ASSERT_TRUE(WritePrivateProfileStringA(s.driver, "Model", s.model, "pclrend.ini"));
    }
    struct Case { const char* driver; int index; };
    const Case cases[] = {
        {"Zelquor Tarn 45 PCL XL Workgroup Edition", 1},
        {"zelquor tarn 45 pcl xl workgroup colour", 2},
        {"Zelquor Corvo C30 Finishing with a long name", 2},
        // No section: the name cut to 32 characters is looked up, and no
        // model string is that long.
        {"Zelquor Tarn 45 PCL XL Workgroup", -1},
        {"Zelquor Corvo C30 and thirty-two more characters..", -1},
        {"Ovra Zelquor Lite 8", 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindModelIndex(drvui_, c.driver), c.index) << c.driver;
    }
}

TEST_F(DriverModuleTest, DialogLibraryBesideTheDriver) {
    EXPECT_EQ(DriverModule(), drvui_);
    const std::string first = DialogLibraryPath(drvui_, 0);
    const std::string other = DialogLibraryPath(drvui_, 7);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first.ends_with("dlgui.dll"));
    EXPECT_EQ(first, other);
    char path[300];
    const DWORD n = GetModuleFileNameA(drvui_, path, sizeof path);
    const std::string dir(path, n);
    EXPECT_EQ(first.substr(0, first.size() - 9), dir.substr(0, dir.find_last_of("\\/") + 1));
}

}  // namespace
}  // namespace zq
