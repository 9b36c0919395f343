#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/files.h"
#include "base/loader.h"
#include "base/locale.h"
#include "base/profile.h"
#include "base/root.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/paper_record.h"
#include "settings/user_forms.h"
#include "store/registry.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

#ifndef ZQ_FAKE_DLGUI
#define ZQ_FAKE_DLGUI ""
#endif
#ifndef ZQ_FAKE_INSTREC
#define ZQ_FAKE_INSTREC ""
#endif

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

// Paper formats of the shipped Tarn 45 XL, derived by hand from its paper
// geometry rows (1/1200 inch) scaled by MulDiv(v, dpi, 1200).
class PaperFormatTest : public DriverModuleTest {
protected:
    void SetUp() override {
        DriverModuleTest::SetUp();
        BuildDefaultDevmode(devmode, model, {true, 1252, 1});
    }
    std::optional<PaperFormat> Format(int code, int orientation, bool rotated, int dpi, bool keep = false) {
        PaperFormat f{};
        if (!ComputePaperFormat(model, devmode, forms, code, orientation, rotated, dpi, keep, f)) {
            return std::nullopt;
        }
        return f;
    }
    ModuleModelData model{nullptr};
    PrivateDevmode devmode{};
    PaperFormSources forms;
};

TEST_F(PaperFormatTest, ScaledToTheResolution) {
    model = ModuleModelData(drvui_);
    BuildDefaultDevmode(devmode, model, {true, 1252, 1});
    struct Case {
        int code, orientation, dpi;
        WORD width, length, printableWidth, printableLength, left, top, second[4];
        WORD w720, l720;
    };
    const Case cases[] = {
        // A4 portrait: 9921 x 14031, printable 9321 x 13503 at 300/300, second 200/200 9521 x 13631.
        {9, 1, 1200, 9921, 14031, 9321, 13503, 300, 300, {200, 200, 9521, 13631}, 5592, 8101},
        {9, 1, 600, 4961, 7016, 4661, 6752, 150, 150, {100, 100, 4761, 6816}, 5592, 8101},
        {9, 1, 300, 2480, 3508, 2330, 3376, 75, 75, {50, 50, 2380, 3408}, 5592, 8101},
        {9, 1, 720, 5953, 8419, 5593, 8102, 180, 180, {120, 120, 5713, 8179}, 5592, 8101},
        // A4 landscape: its own row, 14031 x 9921, printable 13535 x 9513 at 240/200.
        {9, 2, 600, 7016, 4961, 6768, 4757, 120, 100, {100, 100, 6816, 4761}, 8121, 5707},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " at " + std::to_string(c.dpi));
        const auto f = Format(c.code, c.orientation, false, c.dpi);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->paperCodeAsked, c.code);
        EXPECT_EQ(f->paperCodeUsed, c.code);
        EXPECT_EQ(f->orientation, c.orientation);
        EXPECT_EQ(f->orientationCode, c.orientation);
        const WORD used[] = {f->usedWidth, f->usedLength, f->usedPrintableWidth, f->usedPrintableLength,
                             f->usedLeftMargin, f->usedTopMargin, f->usedSecondLeftMargin, f->usedSecondTopMargin,
                             f->usedSecondPrintableWidth, f->usedSecondPrintableLength};
        const WORD asked[] = {f->width, f->length, f->printableWidth, f->printableLength, f->leftMargin,
                              f->topMargin, f->secondLeftMargin, f->secondTopMargin, f->secondPrintableWidth,
                              f->secondPrintableLength};
        const WORD want[] = {c.width, c.length, c.printableWidth, c.printableLength, c.left, c.top,
                             c.second[0], c.second[1], c.second[2], c.second[3]};
        for (size_t i = 0; i < 10; ++i) {
            EXPECT_EQ(used[i], want[i]) << "word " << i;
            EXPECT_EQ(asked[i], want[i]) << "word " << i;
        }
        EXPECT_EQ(f->printableWidth720, c.w720);
        EXPECT_EQ(f->printableLength720, c.l720);
        EXPECT_EQ(f->flags, 1);  // the A4 rows' printer code
    }
}

TEST_F(PaperFormatTest, OrientationCodesPapersAndRefusals) {
    model = ModuleModelData(drvui_);
    BuildDefaultDevmode(devmode, model, {true, 1252, 1});
    EXPECT_EQ(Format(9, 1, true, 600)->orientationCode, static_cast<WORD>(-1));
    EXPECT_EQ(Format(9, 2, true, 600)->orientationCode, static_cast<WORD>(-2));
    // Envelopes in portrait on a model that feeds them the other way.
    EXPECT_EQ(Format(20, 1, false, 600)->orientationCode, 1);
    devmode.model.flags398 |= 0x10;
    EXPECT_EQ(Format(20, 1, false, 600)->orientationCode, static_cast<WORD>(-1));
    EXPECT_EQ(Format(20, 1, true, 600)->orientationCode, 1);
    EXPECT_EQ(Format(20, 2, false, 600)->orientationCode, 2);
    EXPECT_EQ(Format(9, 1, false, 600)->orientationCode, 1);
    // A code without a paper bit is looked for as Letter; a paper the model
    // lacks, or a resolution that is not positive, gives nothing.
    EXPECT_EQ(Format(200, 1, false, 1200)->usedWidth, 10200);
    EXPECT_EQ(Format(200, 1, false, 1200)->paperCodeUsed, 200);
    EXPECT_FALSE(Format(14, 1, false, 600));  // folio: not a Tarn paper
    EXPECT_FALSE(Format(9, 1, false, 0));
    EXPECT_FALSE(Format(9, 1, false, -600));
}

TEST_F(PaperFormatTest, CustomSizeFromTheRecord) {
    model = ModuleModelData(drvui_);
    BuildDefaultDevmode(devmode, model, {true, 1252, 1});
    devmode.dm.dmPaperWidth = 2000;   // tenths of a millimetre
    devmode.dm.dmPaperLength = 3000;
    auto f = Format(257, 1, false, 1200);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->usedWidth, 9449);       // MulDiv(2000, 1200, 254)
    EXPECT_EQ(f->usedLength, 14173);
    EXPECT_EQ(f->usedPrintableWidth, 9449 - 600);
    EXPECT_EQ(f->usedPrintableLength, 14173 - 600);
    EXPECT_EQ(f->printableWidth720, (8849 * 720 + 600) / 1200);
    EXPECT_EQ(f->printableLength720, (13573 * 720 + 600) / 1200);
    f = Format(257, 2, false, 1200);
    EXPECT_EQ(f->usedWidth, 14173);
    EXPECT_EQ(f->usedLength, 9449);
    // Asked for the model's own size, or without a size in the record.
    EXPECT_EQ(Format(257, 1, false, 1200, true)->usedWidth, 10200);
    devmode.dm.dmPaperLength = 0;
    EXPECT_EQ(Format(257, 1, false, 1200)->usedWidth, 10200);
}

// Forms come from the record lists: associations name a paper, user forms
// and spooler forms bring their own geometry.
TEST_F(PaperFormatTest, FormsThroughTheirSources) {
    class Forms : public PaperFormSources {
    public:
        std::optional<int> AssociatedPaper(int code) override {
            return code == 650 ? std::optional<int>(9) : std::nullopt;
        }
        std::optional<PaperGeometryRow> UserForm(int code, int) override {
            if (code != 515) return std::nullopt;
            return PaperGeometryRow{6000, 8000, 5400, 7400, 300, 300, 3240, 4440, 0, 200, 200, 5600, 7600};
        }
        std::optional<PaperGeometryRow> SpoolerForm(int code, int) override {
            if (code != 900) return std::nullopt;
            return PaperGeometryRow{7000, 9000, 6400, 8400, 300, 300, 3840, 5040, 0, 200, 200, 6600, 8600};
        }
    };
    Forms sources;
    model = ModuleModelData(drvui_);
    BuildDefaultDevmode(devmode, model, {true, 1252, 1});
    PaperFormat f{};
    ASSERT_TRUE(ComputePaperFormat(model, devmode, sources, 650, 1, false, 600, false, f));
    EXPECT_EQ(f.paperCodeAsked, 650);
    EXPECT_EQ(f.paperCodeUsed, 9);
    EXPECT_EQ(f.usedWidth, 4961);
    ASSERT_TRUE(ComputePaperFormat(model, devmode, forms, 651, 1, false, 1200, false, f));
    EXPECT_EQ(f.paperCodeUsed, 1);  // an association that cannot be read: Letter
    ASSERT_TRUE(ComputePaperFormat(model, devmode, sources, 515, 1, false, 600, false, f));
    EXPECT_EQ(f.usedWidth, 3000);
    EXPECT_EQ(f.flags, 0x1000);
    // A spooler form takes the flags of the model's entry for every form
    // (the Legal row's printer code 7).
    ASSERT_TRUE(ComputePaperFormat(model, devmode, sources, 900, 1, false, 600, false, f));
    EXPECT_EQ(f.usedLength, 4500);
    EXPECT_EQ(f.flags, 0x1007);
    // A spooler form that is not there is every form's entry of the model.
    ASSERT_TRUE(ComputePaperFormat(model, devmode, sources, 901, 1, false, 600, false, f));
    EXPECT_EQ(f.usedWidth, 5100);
    EXPECT_EQ(f.flags, 7);
}

TEST_F(DriverModuleTest, GetPaperFormatExport) {
    PrivateDevmode r{};
    BuildDefaultDevmode(r, ModuleModelData(drvui_), {true, 1252, 0});
    PaperFormat f{};
    EXPECT_FALSE(GetPaperFormat("Office", nullptr, nullptr, &r, 1, 1, FALSE, 600, FALSE));
    EXPECT_FALSE(GetPaperFormat("Office", nullptr, &f, nullptr, 1, 1, FALSE, 600, FALSE));
    ASSERT_TRUE(GetPaperFormat("Office", nullptr, &f, &r, 1, 1, FALSE, 600, FALSE));
    EXPECT_EQ(f.usedWidth, 5100);  // Letter, 8.5 in at 600 dpi
}

// The export over a printer's own forms: a user-defined form with its
// areas, an association naming A4, at the resolutions the renderer uses.
TEST_F(DriverModuleTest, GetPaperFormatOfThePrintersForms) {
    ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini"));
    ASSERT_TRUE(testing::InstallDriver(u"Zelquor Tarn 45 PCL XL"));
    HANDLE printer = testing::AddLocalPrinter(u"Forms", u"Zelquor Tarn 45 PCL XL");
    ASSERT_NE(printer, nullptr);
    PrivateDevmode r{};
    BuildDefaultDevmode(r, ModuleModelData(drvui_), {true, 1252, 1});
    // 6 x 8 inches; portrait area 5400 x 7400 at 300/300, landscape
    // 7600 x 5600 at 200/200 (1/1200 inch); printer code 3.
    PaperArea areas[4] = {{5400, 7400, 300, 300}, {7600, 5600, 200, 200}, {5400, 7400, 300, 300},
                          {7600, 5600, 200, 200}};
    UserFormValues form{515, 3, 7200, 9600,
                        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(areas), sizeof areas)};
    ASSERT_TRUE(UserFormAdd("Forms", 515, "Cards", form));
    FormAssocValues assoc{9, 0, {}, {}};
    ASSERT_TRUE(FormAssocAdd("Forms", 650, "Reports", assoc));
    struct Case {
        int code, orientation, dpi;
        WORD width, length, printableWidth, printableLength, left, top, w720, flags, used;
    };
    const Case cases[] = {
        {515, 1, 300, 1800, 2400, 1350, 1850, 75, 75, 3240, 0x1003, 515},
        {515, 1, 600, 3600, 4800, 2700, 3700, 150, 150, 3240, 0x1003, 515},
        {515, 1, 720, 4320, 5760, 3240, 4440, 180, 180, 3240, 0x1003, 515},
        {515, 2, 600, 4800, 3600, 3800, 2800, 100, 100, 4560, 0x1003, 515},
        // The association's paper, A4 (9921 x 14031 at 1200 dpi).
        {650, 1, 300, 2480, 3508, 2330, 3376, 75, 75, 5592, 1, 9},
        {650, 1, 720, 5953, 8419, 5593, 8102, 180, 180, 5592, 1, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.orientation) + " at " + std::to_string(c.dpi));
        PaperFormat f{};
        ASSERT_TRUE(GetPaperFormat("Forms", printer, &f, &r, c.code, c.orientation, FALSE, c.dpi, FALSE));
        EXPECT_EQ(f.paperCodeAsked, c.code);
        EXPECT_EQ(f.paperCodeUsed, c.used);
        EXPECT_EQ(f.usedWidth, c.width);
        EXPECT_EQ(f.usedLength, c.length);
        EXPECT_EQ(f.usedPrintableWidth, c.printableWidth);
        EXPECT_EQ(f.usedPrintableLength, c.printableLength);
        EXPECT_EQ(f.usedLeftMargin, c.left);
        EXPECT_EQ(f.usedTopMargin, c.top);
        EXPECT_EQ(f.printableWidth720, c.w720);
        EXPECT_EQ(f.flags, c.flags);
    }
    // Another printer has no such form: 515 takes the model's entry for
    // every form (the Legal rows, 8.5 inches wide).
    PaperFormat f{};
    ASSERT_TRUE(GetPaperFormat("Elsewhere", nullptr, &f, &r, 515, 1, FALSE, 1200, FALSE));
    EXPECT_EQ(f.usedWidth, 10200);
    EXPECT_FALSE(GetPaperFormat("Forms", printer, &f, &r, 515, 1, FALSE, 0, FALSE));
    ClosePrinter(printer);
}

// Entries {id, text} of a named list in printer data.
TEST_F(DriverModuleTest, NamedListEntries) {
    ASSERT_TRUE(testing::InstallDriver(u"Zelquor Mira 12 PCL"));
    HANDLE printer = testing::AddLocalPrinter(u"Lists", u"Zelquor Mira 12 PCL");
    ASSERT_NE(printer, nullptr);
    char text[32] = {};
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 3, "alpha", 0), 1);
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 4, "beta", 0), 1);
    ASSERT_EQ(NamedListGetEntry("Lists", "Hosts", 3, text, false), 1);
    EXPECT_STREQ(text, "alpha");
    // The same text under another id replaces the first entry; the same id
    // replaces its own.
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 5, "ALPHA", 0), 1);
    EXPECT_EQ(NamedListGetEntry("Lists", "Hosts", 3, text, false), 0);
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 4, "gamma", 0), 1);
    ASSERT_EQ(NamedListGetEntry("Lists", "Hosts", 4, text, false), 1);
    EXPECT_STREQ(text, "gamma");
    // A text longer than the buffer is cut and terminated.
    char small[4];
    ASSERT_EQ(NamedListGetEntry("Lists", "Hosts", 4, small, false), 1);
    EXPECT_STREQ(small, "gam");
    // Three bytes stored as six hexadecimal digits, read back as the bytes.
    const char bytes[3] = {'\x0A', '\x00', '\xFF'};
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 7, bytes, 3), 1);
    ASSERT_EQ(NamedListGetEntry("Lists", "Hosts", 7, text, false), 1);
    EXPECT_STREQ(text, "0A00FF");
    char back[3] = {};
    ASSERT_EQ(NamedListGetEntry("Lists", "Hosts", 7, back, true), 1);
    EXPECT_EQ(std::string(back, 3), std::string(bytes, 3));
    // Decoding stops at the buffer's size or at a text that is not hex.
    char one[1];
    EXPECT_EQ(NamedListGetEntry("Lists", "Hosts", 7, one, true), 0);
    EXPECT_EQ(NamedListGetEntry("Lists", "Hosts", 4, back, true), 0);
    // Refusals: id 0, no text, more than 64 binary bytes.
    const std::string long65(65, 'x');
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 0, "x", 0), 0);
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 8, nullptr, 0), 0);
    EXPECT_EQ(NamedListSetEntry("Lists", "Hosts", 8, long65.c_str(), 65), 0);
    EXPECT_EQ(NamedListDeleteEntry("Lists", "Hosts", 4), 1);
    EXPECT_EQ(NamedListDeleteEntry("Lists", "Hosts", 4), 0);
    EXPECT_EQ(NamedListGetEntry("Lists", "Hosts", 5, text, false), 1);
    EXPECT_EQ(NamedListClear("Lists", "Hosts"), 1);
    EXPECT_EQ(NamedListGetEntry("Lists", "Hosts", 5, text, false), 0);
    ClosePrinter(printer);
}

TEST(AngleTables, SineCosineArcTangent) {
    struct Sine { int angle, value; };
    const Sine sines[] = {{0, 0},      {30, 5000},  {90, 10000},  {150, 5000},  {180, 0},     {210, -5000},
                          {270, -10000}, {330, -5000}, {390, 5000}, {-30, -5000}, {-270, 10000}, {-210, 5000},
                          {45, 7071},  {1, 175}};
    for (const auto& c : sines) EXPECT_EQ(TableSine(c.angle), c.value) << c.angle;
    EXPECT_EQ(TableCosine(0), 10000);
    EXPECT_EQ(TableCosine(60), 5000);
    EXPECT_EQ(TableCosine(180), -10000);
    EXPECT_EQ(TableCosine(-60), 5000);
    struct Arc { int x, y, tenths; };
    const Arc arcs[] = {{0, 5, 450}, {100, 100, 460}, {1000, 577, 300}, {1000, 5000, 790}, {1, 100, 450},
                        {100, 0, 10}, {100, -5, 0}};
    for (const auto& c : arcs) EXPECT_EQ(TableArcTangent(c.x, c.y), c.tenths) << c.x << "," << c.y;
}

TEST(SmallUtilities, AliasFontMemoryAndCharset) {
    const std::string_view alias = "WINWORD=COPIES=3!DUPLEX=2;EXCEL:COPIES:5;NOTEPAD=COPIES=4";
    struct Case { int value; const char* app; const char* key; int expected; };
    const Case cases[] = {
        {1, "WINWORD", "DUPLEX", 2}, {1, "WINWORD", "COPIES", 3}, {1, "EXCEL", "COPIES", 5},
        {7, "WINWORD", "COPIES", 7},  // not the default: kept
        {1, "WINWORD", "COLLATE", 1}, {1, "NOTEPAD", "COPIES", 1},  // unended entry
        {1, "WIN", "COPIES", 1},      {1, "", "COPIES", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ApplicationAliasValue(c.value, alias, c.app, c.key, 1), c.expected) << c.app << " " << c.key;
    }
    EXPECT_EQ(EstimateFontMemory(2, 9, 3), 2 * (3 * 2 + 63));
    EXPECT_EQ(EstimateFontMemory(0, 100, 100), 0);
    for (const auto& [country, charset] : {std::pair{81, 128}, {82, 129}, {1, 0}, {49, 0}}) {
        LocaleSettings s = CurrentLocaleSettings();
        s.country = static_cast<DWORD>(country);
        ScopedLocaleSettings scoped(s);
        EXPECT_EQ(FarEastCharset(), charset) << country;
    }
}

// The driver of these tests lives outside the system root, where OpenFile
// does not reach; the name as given and the failure are what can be shown.
TEST_F(DriverModuleTest, OpenFileAsNamedElseNothing) {
    std::filesystem::create_directories(SystemRoot() / "c" / "temp");
    {
        std::ofstream out(SystemRoot() / "c" / "temp" / "fonts.lst");
        out << "x";
    }
    const HFILE given = OpenFileBesideModule("C:\\TEMP\\fonts.lst", OF_READ);
    EXPECT_GT(given, 0);
    if (given > 0) _lclose(given);
    EXPECT_LE(OpenFileBesideModule("C:\\nowhere\\missing.bin", OF_READ), 0);
    EXPECT_LE(OpenFileBesideModule("C:\\nowhere\\", OF_READ), 0);
    EXPECT_LE(OpenFileBesideModule(nullptr, OF_READ), 0);
}

class RenameTest : public RootTest {
protected:
    void Put(const std::string& key, const char* name, const std::string& value) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(k);
    }
    std::optional<std::string> Get(const std::string& key, const char* name) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
        char buffer[64] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        const LONG rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(k);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        return std::string(buffer);
    }
    bool Exists(const std::string& key) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
        RegCloseKey(k);
        return true;
    }
};

TEST_F(RenameTest, MovesEveryValueThenTheOldKey) {
    const std::string base = "Software\\Zelquor\\Printers\\";
    Put(base + ",,server,Office", "WebIP", "10.0.0.7");
    Put(base + ",,server,Office", "MRU_PROFILES", "Draft");
    RenameNames names{0, 0, "\\\\server\\Office", "\\\\server\\Front desk"};
    EXPECT_EQ(Rename(&names), 1u);
    EXPECT_EQ(Get(base + ",,server,Front desk", "WebIP"), "10.0.0.7");
    EXPECT_EQ(Get(base + ",,server,Front desk", "MRU_PROFILES"), "Draft");
    EXPECT_FALSE(Exists(base + ",,server,Office"));
    // No key of the old name: nothing is made.
    RenameNames missing{0, 0, "Nobody", "Somebody"};
    EXPECT_EQ(Rename(&missing), 0u);
    EXPECT_FALSE(Exists(base + "Somebody"));
    // A rename onto itself would lose the key.
    RenameNames same{0, 0, "\\\\server\\Front desk", "\\\\SERVER\\front desk"};
    EXPECT_EQ(Rename(&same), 0u);
    EXPECT_EQ(Get(base + ",,server,Front desk", "WebIP"), "10.0.0.7");
    EXPECT_EQ(Rename(nullptr), 0u);
}

TEST(XlatedCalls, ThroughTheDialogLibrarysExports) {
    HMODULE lib = LoadLibraryA(ZQ_FAKE_DLGUI);
    ASSERT_NE(lib, nullptr) << LastLoadError();
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CallLoadXlatedString(lib, 0, 1005, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "text 1005");
    EXPECT_EQ(CallLoadXlatedString(lib, 1, 6093, buffer, 8), 7);
    EXPECT_STREQ(buffer, "direct ");
    EXPECT_EQ(CallLoadXlatedResource(lib, 10, 6601) != nullptr, true);
    EXPECT_EQ(CallLoadXlatedResource(lib, 2, 6601), nullptr);
    EXPECT_EQ(CallGetSizeofXlatedResource(lib, 10, 6601), 4u);
    // No library, or one without the export: nothing, the buffer as it was.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CallLoadXlatedString(nullptr, 0, 1005, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 'x');
    HMODULE other = LoadLibraryA(ZQ_FAKE_INSTREC);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(CallLoadXlatedString(other, 0, 1005, buffer, sizeof buffer), 0);
    EXPECT_EQ(CallGetSizeofXlatedResource(other, 10, 6601), 0u);
    EXPECT_EQ(CallLoadXlatedResource(nullptr, 10, 6601), nullptr);
    FreeLibrary(other);
    FreeLibrary(lib);
}

TEST_F(DriverModuleTest, PaperDescriptionsOfTheModelTable) {
    const ModuleModelData model(drvui_);
    HMODULE names = LoadLibraryA(ZQ_FAKE_DLGUI);
    ASSERT_NE(names, nullptr);
    // Letter on the Mira 12 (row 0): portrait rows for areas 1 and 3,
    // landscape rows for 2 and 4.
    auto d = GetPaperDescription(model, 0, 1, names);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name, "text 1000");
    EXPECT_EQ(d->flags, 7);
    EXPECT_EQ(d->width, 10200);
    EXPECT_EQ(d->length, 13200);
    const std::array<uint16_t, 16> margins = {9600,  12672, 300, 300, 12704, 9792, 240, 200,
                                              9600,  12672, 300, 300, 12704, 9792, 240, 200};
    EXPECT_EQ(d->margins, margins);
    // A code without a bit of its own is described as Letter; a paper the
    // model lacks is not described; without the library the name is empty.
    d = GetPaperDescription(model, 0, 200, static_cast<HMODULE>(nullptr));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->code, 200);
    EXPECT_EQ(d->width, 10200);
    EXPECT_EQ(d->name, "");
    EXPECT_FALSE(GetPaperDescription(model, 0, 8, names));  // A3: not a Mira paper
    EXPECT_EQ(GetPaperDescription(model, 1, 8, names)->name, "text 1013");
    FreeLibrary(names);
}

}  // namespace
}  // namespace zq
