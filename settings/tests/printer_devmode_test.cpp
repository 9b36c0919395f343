// The printer's record through the spooler: built from the model the
// driver stands for, kept while valid, rebuilt when not, merged with an
// application's record on request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <filesystem>
#include <vector>

#include "base/loader.h"
#include "base/locale.h"
#include "base/msgbox.h"
#include "base/profile.h"
#include "base/root.h"
#include "settings/config_data.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/tag_tables.h"
#include "settings/user_forms.h"
#include "settings/printer_devmode.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

LPSTR A(const char* s) { return const_cast<LPSTR>(s); }

class PrinterDevmodeTest : public testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        module_ = LoadLibraryA("drvui.dll");
        ASSERT_NE(module_, nullptr) << LastLoadError();
        ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini"));
        for (const char16_t* driver : {u"Zelquor Tarn 45 PCL XL", u"Zelquor Corvo C30", u"Unknown Driver"}) {
            ASSERT_TRUE(testing::InstallDriver(driver));
        }
        printer_ = Add(u"Office", u"Zelquor Tarn 45 PCL XL");
        ASSERT_NE(printer_, nullptr);
    }
    void TearDown() override {
        if (printer_ != nullptr) ClosePrinter(printer_);
        if (module_ != nullptr) FreeLibrary(module_);
        StoreRoot::TearDown();
    }
    HANDLE Add(const char16_t* name, const char16_t* driver, DEVMODEW* devmode = nullptr) {
        return testing::AddLocalPrinter(name, driver, devmode);
    }
    PrivateDevmode Get(HANDLE printer, std::span<const uint8_t> app = {}, uint32_t flags = 2) {
        PrivateDevmode r{};
        EXPECT_EQ(GetPrinterDevmode(printer, module_, r, app, flags), 1u);
        return r;
    }
    std::optional<PrivateDevmode> Stored(const char* name) {
        std::vector<uint8_t> b(2000);
        DWORD type = 0, needed = 0;
        if (GetPrinterDataA(printer_, A(name), &type, b.data(), static_cast<DWORD>(b.size()), &needed) != 0 ||
            needed != kPrivateDevmodeSize) {
            return std::nullopt;
        }
        return DevmodeFromBytes(b);
    }
    void Store(const PrivateDevmode& r) {
        PrivateDevmode copy = r;
        ASSERT_EQ(SetPrinterDataA(printer_, A("CurrentDevmode"), REG_BINARY, reinterpret_cast<LPBYTE>(&copy), sizeof copy), 0u);
    }

    HMODULE module_ = nullptr;
    HANDLE printer_ = nullptr;
};

TEST_F(PrinterDevmodeTest, FirstLoadBuildsAndStoresTheModelDefault) {
    const PrivateDevmode r = Get(printer_);
    EXPECT_TRUE(IsValidPrivateDevmode(r));
    EXPECT_TRUE(IsDevmodeCrcValid(r));
    EXPECT_STREQ(r.modelDisplayName, "Zelquor Tarn 45 XL");
    EXPECT_STREQ(r.modelName, "Zelquor Tarn 45 PCL XL");
    EXPECT_STREQ(r.printerName, "Office");
    EXPECT_EQ(std::u16string(r.dm.dmDeviceName), u"Office");
    EXPECT_EQ(r.printerLanguage, 2);
    const auto current = Stored("CurrentDevmode");
    const auto defaults = Stored("CurrentDefaultDevMode");
    ASSERT_TRUE(current && defaults);
    // The font sets are limited to the model's code pages after storing.
    EXPECT_EQ(current->fontSets1, 0x80000001u);
    EXPECT_EQ(r.fontSets1, 0x00000001u);
    PrivateDevmode unrestricted = r;
    unrestricted.fontSets1 = current->fontSets1;
    EXPECT_TRUE(DevmodesEqual(*current, unrestricted));
    EXPECT_TRUE(IsValidPrivateDevmode(*defaults));
}

TEST_F(PrinterDevmodeTest, DriverNameStandsForTheModelWithoutAnIniSection) {
    HANDLE corvo = Add(u"Colour", u"Zelquor Corvo C30");
    HANDLE unknown = Add(u"Other", u"Unknown Driver");
    ASSERT_TRUE(corvo && unknown);
    EXPECT_STREQ(Get(corvo).modelDisplayName, "Zelquor Corvo C30");
    EXPECT_EQ(Get(corvo).dm.dmColor, DMCOLOR_COLOR);
    EXPECT_STREQ(Get(unknown).modelDisplayName, "Zelquor Mira 12");  // the first model
    ClosePrinter(corvo);
    ClosePrinter(unknown);
}

TEST_F(PrinterDevmodeTest, CountryChoosesThePaper) {
    LocaleSettings s = CurrentLocaleSettings();
    s.country = 49;
    {
        ScopedLocaleSettings germany(s);
        EXPECT_EQ(Get(printer_).dm.dmPaperSize, DMPAPER_A4);
    }
    // A rebuild from nothing: the stored configuration would bring A4 back.
    DeletePrinterDataA(printer_, A("CurrentDevmode"));
    DeletePrinterDataA(printer_, A("DefDrvCfgData"));
    s.country = 1;
    ScopedLocaleSettings us(s);
    EXPECT_EQ(Get(printer_).dm.dmPaperSize, DMPAPER_LETTER);
}

TEST_F(PrinterDevmodeTest, StoredConfigurationHoldsDocumentAndPrinterRowsAndSurvivesARebuild) {
    const PrivateDevmode first = Get(printer_);
    std::vector<uint8_t> list(1 << 16);
    DWORD type = 0, needed = 0;
    ASSERT_EQ(GetPrinterDataA(printer_, A("DefDrvCfgData"), &type, list.data(), static_cast<DWORD>(list.size()),
                              &needed), 0u);
    list.resize(needed);
    TagListContext* reader = nullptr;
    ASSERT_TRUE(TagListCreate(&reader));
    ASSERT_TRUE(TagListAttach(&reader, list.data(), list.size()));
    uint32_t tag = 0;
    size_t elements = 0;
    while (TagEnter(&reader, &tag)) {
        ++elements;
        const auto rows = TopTagTable().rows;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const DvCfgRow& r) { return r.tag == tag; });
        ASSERT_NE(row, rows.end()) << tag;
        EXPECT_NE(row->scope & 3u, 0u) << tag;
        ASSERT_TRUE(TagEnd(&reader));
    }
    EXPECT_EQ(reader->readPosition, list.size()) << "the whole list is sound";
    TagListDestroy(&reader);
    EXPECT_GT(elements, 40u);

    // A second load of the valid record changes nothing stored.
    const auto before = Stored("CurrentDevmode");
    const auto defaultsBefore = Stored("CurrentDefaultDevMode");
    Get(printer_);
    EXPECT_TRUE(before && Stored("CurrentDevmode") && DevmodesEqual(*before, *Stored("CurrentDevmode")));
    EXPECT_TRUE(defaultsBefore && DevmodesEqual(*defaultsBefore, *Stored("CurrentDefaultDevMode")));

    // The stored configuration brings the document settings back when the
    // record itself is lost.
    PrivateDevmode changed = first;
    changed.dm.dmCopies = 5;
    changed.dm.dmOrientation = DMORIENT_LANDSCAPE;
    const ModuleModelData model(module_);
    ASSERT_TRUE(StoreDevmodeTagList(u"Office", kDefDrvCfgData, changed, printer_, true, &model));
    DeletePrinterDataA(printer_, A("CurrentDevmode"));
    const PrivateDevmode rebuilt = Get(printer_);
    EXPECT_EQ(rebuilt.dm.dmCopies, 5);
    EXPECT_EQ(rebuilt.dm.dmOrientation, DMORIENT_LANDSCAPE);
}

TEST_F(PrinterDevmodeTest, ValidStoredRecordIsKeptWithPrinterScopeFromTheDefault) {
    PrivateDevmode r = Get(printer_);
    r.dm.dmCopies = 5;
    r.installedSourceMask = 0x0003;  // printer scope: the default's comes back
    r.pagesPerSheet = 2;
    Store(r);
    const PrivateDevmode again = Get(printer_);
    EXPECT_EQ(again.dm.dmCopies, 5);
    EXPECT_EQ(again.pagesPerSheet, 2);
    EXPECT_EQ(again.installedSourceMask, 0x000F);
}

TEST_F(PrinterDevmodeTest, BrokenOrForeignStoredRecordIsRebuilt) {
    struct Case { const char* what; void (*damage)(PrivateDevmode&); };
    const Case cases[] = {
        {"one signature", [](PrivateDevmode& r) { r.signature2 ^= 1; }},
        {"version", [](PrivateDevmode& r) { r.privateVersion = 565; }},
        {"another model", [](PrivateDevmode& r) { std::strcpy(r.modelName, "Zelquor Corvo C30"); }},
    };
    for (const auto& c : cases) {
        PrivateDevmode r = Get(printer_);
        r.dm.dmCopies = 5;
        c.damage(r);
        Store(r);
        const PrivateDevmode again = Get(printer_);
        EXPECT_EQ(again.dm.dmCopies, 1) << c.what;
        EXPECT_TRUE(IsValidPrivateDevmode(again)) << c.what;
        EXPECT_STREQ(again.modelName, "Zelquor Tarn 45 PCL XL") << c.what;
    }
}

TEST_F(PrinterDevmodeTest, ApplicationRecordMergedOnlyWhenAsked) {
    PrivateDevmode app = Get(printer_);
    app.dm.dmCopies = 9999;
    app.dm.dmPrintQuality = DMRES_HIGH;
    const auto bytes = DevmodeBytes(app);
    const std::vector<uint8_t> publicOnly(bytes.begin(), bytes.begin() + 220);
    EXPECT_EQ(Get(printer_, publicOnly, 2).dm.dmCopies, 1);
    const PrivateDevmode merged = Get(printer_, publicOnly, 10);
    EXPECT_EQ(merged.dm.dmCopies, 9999);
    EXPECT_EQ(merged.dm.dmPrintQuality, 1200);
    EXPECT_TRUE(IsDevmodeCrcValid(merged));
    // The merge is not stored.
    EXPECT_EQ(Stored("CurrentDevmode")->dm.dmCopies, 1);
}

TEST_F(PrinterDevmodeTest, ApplicationFormsAreTakenWhenThePrinterHasThem) {
    std::vector<uint8_t> block(32, 0);
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
    PrivateDevmode app = Get(printer_);
    const short defaultPaper = app.dm.dmPaperSize;
    app.dm.dmFields |= DM_PAPERSIZE;
    for (const auto& [code, expected] : {std::pair<short, short>{512, 512}, std::pair<short, short>{513, defaultPaper}}) {
        app.dm.dmPaperSize = code;
        const auto bytes = DevmodeBytes(app);
        const std::vector<uint8_t> publicOnly(bytes.begin(), bytes.begin() + 220);
        EXPECT_EQ(Get(printer_, publicOnly, 10).dm.dmPaperSize, expected) << code;
    }
}

TEST_F(PrinterDevmodeTest, PrintersOwnPublicDevmodeSeedsTheFirstRecord) {
    DEVMODEW dm{};
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof dm;
    dm.dmFields = DM_COPIES | DM_ORIENTATION;
    dm.dmCopies = 3;
    dm.dmOrientation = DMORIENT_LANDSCAPE;
    HANDLE p = Add(u"Seeded", u"Zelquor Tarn 45 PCL XL", &dm);
    ASSERT_NE(p, nullptr);
    const PrivateDevmode r = Get(p);
    EXPECT_EQ(r.dm.dmCopies, 3);
    EXPECT_EQ(r.dm.dmOrientation, DMORIENT_LANDSCAPE);
    ClosePrinter(p);
}

// A queue whose driver changed from the Tarn 45 XL to the Mira 12 keeps the
// Tarn's record as its own DEVMODE, and a document may carry a record saved
// on another printer: either gives its public part, never the other model's
// language and trays.
TEST_F(PrinterDevmodeTest, AnotherModelsRecordGivesItsPublicPartOnly) {
    ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Mira 12 PCL", "Model", "Zelquor Mira 12", "pclrend.ini"));
    ASSERT_TRUE(testing::InstallDriver(u"Zelquor Mira 12 PCL"));
    PrivateDevmode tarn = Get(printer_);
    ASSERT_EQ(tarn.printerLanguage, 2);
    tarn.dm.dmCopies = 4;
    tarn.pagesPerSheet = 2;

    struct Case { const char* what; std::function<PrivateDevmode()> load; };
    const Case cases[] = {
        {"the queue's own DEVMODE after a driver change",
         [&] {
             HANDLE switched = Add(u"Switched", u"Zelquor Mira 12 PCL", &tarn.dm);
             EXPECT_NE(switched, nullptr);
             const PrivateDevmode r = Get(switched);
             std::vector<uint8_t> b(2000);
             DWORD type = 0, needed = 0;
             EXPECT_EQ(GetPrinterDataA(switched, A("CurrentDevmode"), &type, b.data(), 2000, &needed), 0u);
             EXPECT_EQ(DevmodeFromBytes(b)->printerLanguage, 1) << "stored";
             ClosePrinter(switched);
             return r;
         }},
        {"an application's record of another model",
         [&] {
             HANDLE mira = Add(u"Mira", u"Zelquor Mira 12 PCL");
             EXPECT_NE(mira, nullptr);
             PrivateDevmode app = tarn;
             app.dm.dmFields |= DM_COPIES;
             const PrivateDevmode r = Get(mira, DevmodeBytes(app), 10);
             ClosePrinter(mira);
             return r;
         }},
    };
    for (const auto& c : cases) {
        const PrivateDevmode r = c.load();
        SCOPED_TRACE(c.what);
        EXPECT_STREQ(r.modelName, "Zelquor Mira 12 PCL");
        EXPECT_STREQ(r.modelDisplayName, "Zelquor Mira 12");
        EXPECT_EQ(r.dm.dmCopies, 4);             // public: taken
        EXPECT_EQ(r.printerLanguage, 1);         // PCL 5, not PCL XL
        EXPECT_EQ(r.pairFirst, 1);
        EXPECT_EQ(r.pairSecond, 0);
        EXPECT_EQ(r.slotSourceCodes[0], 0);      // the Mira has no tray slots
        EXPECT_EQ(r.pagesPerSheet, 0);
        EXPECT_EQ(std::memcmp(&r.model, &tarn.model, sizeof r.model) != 0, true);
    }
}

// A driver name longer than field 239 still finds its own section of
// pclrend.ini, and the record stored for it is kept on the next load.
TEST_F(PrinterDevmodeTest, LongDriverNameGetsItsModel) {
    const char16_t* driver = u"Zelquor Tarn 45 PCL XL Workgroup Edition";
    ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL Workgroup Edition", "Model", "Zelquor Tarn 45 XL",
                                           "pclrend.ini"));
    ASSERT_TRUE(testing::InstallDriver(driver));
    HANDLE p = Add(u"Workgroup", driver);
    ASSERT_NE(p, nullptr);
    PrivateDevmode r = Get(p);
    EXPECT_STREQ(r.modelDisplayName, "Zelquor Tarn 45 XL");
    EXPECT_STREQ(r.modelName, "Zelquor Tarn 45 PCL XL Workgrou");  // cut to the field
    EXPECT_EQ(r.printerLanguage, 2);
    r.dm.dmCopies = 6;
    PrivateDevmode copy = r;
    ASSERT_EQ(SetPrinterDataA(p, A("CurrentDevmode"), REG_BINARY, reinterpret_cast<LPBYTE>(&copy), sizeof copy), 0u);
    EXPECT_EQ(Get(p).dm.dmCopies, 6);
    ClosePrinter(p);
}

// Broken model data is told once per box and load, each box on its own.
TEST_F(PrinterDevmodeTest, BrokenModelDataIsToldOnceEach) {
    const auto file = SystemRoot() / "empty.res";
    {
        std::ofstream out(file, std::ios::binary);
        const char header[16] = {'Z', 'Q', 'R', 'S', 'R', 'C', '0', '1', 0, 0, 0, 0, 16, 0, 0, 0};
        out.write(header, sizeof header);
    }
    HMODULE empty = LoadResourceFile(file);
    ASSERT_NE(empty, nullptr);
    ScopedMessageBoxScript boxes;
    PrivateDevmode r{};
    DevmodeSources sources;
    ASSERT_EQ(LoadOrRebuildPrinterDevmode(printer_, empty, r, sources), 1);  // a rebuild: nothing stored
    std::vector<std::string> captions;
    for (const auto& box : MessageBoxService::Shown()) captions.push_back(box.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"LoadString failed", "GetPrtrInfo failed"}));
    EXPECT_EQ(MessageBoxService::Shown().at(1).text, "Zelquor Tarn 45 PCL XL (0)");
    EXPECT_TRUE(IsValidPrivateDevmode(r));
    FreeLibrary(empty);
}

TEST_F(PrinterDevmodeTest, UnreadablePrinterFailsAndLeavesTheBuffer) {
    PrivateDevmode r;
    std::memset(&r, 0x77, sizeof r);
    EXPECT_EQ(GetPrinterDevmode(nullptr, module_, r, {}, 2), kDevmodeFailure);
    EXPECT_EQ(r.signature1, 0x77777777u);
}

}  // namespace
}  // namespace zq
