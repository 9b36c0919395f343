// Configuration data: the exports an outside configuration tool calls, and
// the configuration file handed over at installation through the machine's
// DrvCfg key.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/paths.h"
#include "base/profile.h"
#include "interface/ui_utils.h"
#include "settings/config_data.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_data_values.h"
#include "settings/printer_devmode.h"
#include "settings/tag_tables.h"
#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

class ConfigDataTest : public testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        module_ = LoadLibraryA("drvui.dll");
        ASSERT_NE(module_, nullptr) << LastLoadError();
        ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini"));
        ASSERT_TRUE(testing::InstallDriver(u"Zelquor Tarn 45 PCL XL"));
        ASSERT_TRUE(testing::InstallDriver(u"Zelquor Corvo C30"));
        p1_ = testing::AddLocalPrinter(u"P1", u"Zelquor Tarn 45 PCL XL");
        p2_ = testing::AddLocalPrinter(u"P2", u"Zelquor Tarn 45 PCL XL");
        ASSERT_TRUE(p1_ && p2_);
    }
    void TearDown() override {
        for (HANDLE h : {p1_, p2_}) {
            if (h != nullptr) ClosePrinter(h);
        }
        if (module_ != nullptr) FreeLibrary(module_);
        StoreRoot::TearDown();
    }
    PrivateDevmode Get(HANDLE printer) {
        PrivateDevmode r{};
        EXPECT_EQ(GetPrinterDevmode(printer, module_, r, {}, 2), 1u);
        return r;
    }
    std::vector<uint8_t> Export(const PrivateDevmode& record, uint32_t scope) {
        HGLOBAL list = nullptr;
        uint32_t length = 0;
        const ModuleModelData model(module_);
        EXPECT_EQ(DevmodeToTagList(record, scope, &list, &length, "P1", p1_, false, &model), kCfgOk);
        std::vector<uint8_t> bytes(static_cast<uint8_t*>(list), static_cast<uint8_t*>(list) + length);
        GlobalFree(list);
        return bytes;
    }
    std::vector<uint8_t> Value(HANDLE printer, const char* name) {
        const PrinterDataBytes v = ReadPrinterDataBytes(printer, name);
        return v.status == ValueRead::Ok ? v.bytes : std::vector<uint8_t>{};
    }
    // The machine's DrvCfg key of a printer naming a configuration file.
    void HandOver(const char* printer, const std::u16string& file, const std::u16string& description) {
        HKEY key = nullptr;
        const std::string path = std::string(kDrvCfgKeyFormat) + printer;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, text] : {std::pair{u"DCDConfigFile", file}, std::pair{u"DCDShortDesc", description}}) {
            ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * 2)),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }
    bool KeyExists(const char* printer) {
        HKEY key = nullptr;
        const std::string path = std::string(kDrvCfgKeyFormat) + printer;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    void WriteFile(const std::u16string& windowsPath, const std::vector<uint8_t>& bytes) {
        const auto host = MapPath(windowsPath);
        ASSERT_TRUE(host);
        std::filesystem::create_directories(host->parent_path());
        std::ofstream(*host, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }

    HMODULE module_ = nullptr;
    HANDLE p1_ = nullptr;
    HANDLE p2_ = nullptr;
};

TEST_F(ConfigDataTest, ConvertPrtIntoDcdChecksTheObjectAndExportsTheScope) {
    PrivateDevmode record = Get(p1_);
    record.dm.dmCopies = 6;
    struct Case {
        const char* what;
        void (*spoil)(PrinterObject&, PrivateDevmode&);
    };
    const Case refused[] = {
        {"one byte short", [](PrinterObject& o, PrivateDevmode&) { o.size = sizeof(PrinterObject) - 1; }},
        {"state 0", [](PrinterObject& o, PrivateDevmode&) { o.state = 0; }},
        {"record size 1255", [](PrinterObject& o, PrivateDevmode&) { o.recordSize = 1255; }},
        {"no record", [](PrinterObject& o, PrivateDevmode&) { o.record = nullptr; }},
        {"a signature wrong", [](PrinterObject&, PrivateDevmode& r) { r.signature3 ^= 1; }},
    };
    auto object = std::make_unique<PrinterObject>();
    auto fill = [&](PrivateDevmode& r) {
        std::memset(object.get(), 0, sizeof *object);
        object->size = sizeof *object;
        object->state = 1;
        object->record = &r;
        object->recordSize = sizeof r;
        object->scope = kScopeDocument | kScopePrinter;
        std::strcpy(object->printerName, "P1");
    };
    for (const Case& c : refused) {
        PrivateDevmode r = record;
        fill(r);
        c.spoil(*object, r);
        EXPECT_EQ(ConvertPrtIntoDCD(object.get()), kCfgBadInput) << c.what;
        EXPECT_EQ(object->list, nullptr) << c.what;
    }
    EXPECT_EQ(ConvertPrtIntoDCD(nullptr), kCfgBadInput);

    fill(record);
    ASSERT_EQ(ConvertPrtIntoDCD(object.get()), kCfgOk);
    ASSERT_NE(object->list, nullptr);
    EXPECT_GT(object->listLength, 0u);
    EXPECT_STREQ(object->version, "1.0.0.23");
    EXPECT_EQ(object->marker, 0x10001u);
    EXPECT_EQ(std::vector<uint32_t>(object->driverWords, object->driverWords + 5),
              (std::vector<uint32_t>{128, 1, 2, 7, 5}));
    EXPECT_EQ(std::memcmp(object->modelText, reinterpret_cast<const uint8_t*>(&record) + 308, 512), 0);
    // The list carries the settings: a fresh printer takes the copies.
    PrivateDevmode other = Get(p2_);
    ASSERT_EQ(ApplyTagListToDevmode("P2", {static_cast<const uint8_t*>(object->list), object->listLength},
                                    kScopeAll, other, p2_, false, nullptr),
              1);
    EXPECT_EQ(other.dm.dmCopies, 6);
    EXPECT_EQ(other.profileKind, 0u) << "an imported list is no profile";
    GlobalFree(object->list);
}

TEST_F(ConfigDataTest, ForcingAListOntoAPrinterWritesEveryCopyOfItsSettings) {
    PrivateDevmode source = Get(p1_);
    source.dm.dmCopies = 7;
    const std::vector<uint8_t> list = Export(source, kScopeDocument | kScopePrinter);
    const auto before = Value(p2_, "CurrentDevmode");
    Get(p2_);
    const auto stored = Value(p2_, "CurrentDevmode");

    DrvCfgRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.printerName = "P2";
    request.modelName = "Zelquor Tarn 45 PCL XL";
    request.scope = kScopeAll;
    request.description = "";
    request.flags8 = kDrvCfgFlags8;
    request.flags1 = kDrvCfgFlags1;
    request.flags2 = kDrvCfgFlags2;
    request.list = list.data();
    request.listLength = static_cast<uint32_t>(list.size());

    struct Case {
        const char* what;
        void (*change)(DrvCfgRequest&);
        uint32_t expected;
    };
    const Case refused[] = {
        {"another model", [](DrvCfgRequest& r) { r.modelName = "Zelquor Corvo C30"; }, kCfgBadInput},
        {"another description", [](DrvCfgRequest& r) { r.description = "Someone else"; }, kCfgBadInput},
        {"flag 0x80 missing", [](DrvCfgRequest& r) { r.flags8 = 0; }, kCfgBadInput},
        {"empty list", [](DrvCfgRequest& r) { r.listLength = 0; }, kCfgBadInput},
        {"a request one byte short", [](DrvCfgRequest& r) { r.size -= 1; }, kCfgBadInput},
        // Without a printer there is nothing to import into.
        {"empty printer name", [](DrvCfgRequest& r) { r.printerName = ""; }, kCfgNoMemory},
        {"no such printer", [](DrvCfgRequest& r) { r.printerName = "Nobody"; }, kCfgNoMemory},
    };
    for (const Case& c : refused) {
        DrvCfgRequest r = request;
        c.change(r);
        EXPECT_EQ(Cfi2DrvForceDCDIntoPrtObj(&r), c.expected) << c.what;
        EXPECT_EQ(Value(p2_, "CurrentDevmode"), stored) << c.what << " changed the printer";
    }
    EXPECT_EQ(Cfi2DrvForceDCDIntoPrtObj(nullptr), kCfgBadInput);
    (void)before;

    ASSERT_EQ(Cfi2DrvForceDCDIntoPrtObj(&request), kCfgOk);
    const auto written = DevmodeFromBytes(Value(p2_, "CurrentDevmode"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->dm.dmCopies, 7);
    EXPECT_TRUE(IsDevmodeCrcValid(*written));
    // The printer's own DEVMODE and the user's copy agree.
    DWORD needed = 0;
    GetPrinterW(p2_, 2, nullptr, 0, &needed);
    std::vector<uint8_t> info(needed);
    ASSERT_TRUE(GetPrinterW(p2_, 2, info.data(), needed, &needed));
    const DEVMODEW* own = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pDevMode;
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->dmCopies, 7);
    const auto user = ReadUserValue(p2_, HKEY_CURRENT_USER, nullptr, u"CurrentDevmode", nullptr);
    ASSERT_TRUE(user && user->size() == kPrivateDevmodeSize);
    EXPECT_EQ(DevmodeFromBytes(*user)->dm.dmCopies, 7);
    EXPECT_FALSE(Value(p2_, "DefDrvCfgData").empty());
    EXPECT_EQ(Get(p2_).dm.dmCopies, 7) << "the next device context sees the settings";
}

TEST_F(ConfigDataTest, SupportRecordByVersionAndVendor) {
    const int index = FindModelIndex(module_, "Zelquor Tarn 45 PCL XL");
    ASSERT_GE(index, 0);
    const ModelRecord tarn = LoadModelRecord(module_, index).record;
    struct Case {
        uint32_t version;
        const char* model;
        const char* printer;
        uint32_t capabilities, capabilities2, vendor, state;
    };
    const uint32_t tarnState = (tarn.flags394 & 0x8) != 0 ? 0u : 2u;
    const Case cases[] = {
        {3, "Zelquor Tarn 45 PCL XL", "", static_cast<uint32_t>(tarn.words418[1] & 0x13E),
         static_cast<uint32_t>(tarn.words418[0] & 0x65), 2, 0xFFu},
        {3, "Other Maker 5", "", 0x13E, 0x65, 3, 0xFFu},
        {3, "", "", 0x13E, 0x65, 1, 0xFFu},
        {3, "zelquor (generic)", "", 0x13E, 0x65, 2, 0xFFu},
        {2, "Zelquor Tarn 45 PCL XL", "P1", 0xAA, 0xAA, 0xAA, tarnState | 1},
        {2, "Zelquor Tarn 45 PCL XL", "Nobody", 0xAA, 0xAA, 0xAA, tarnState},
        {2, "Unknown", "P1", 0xAA, 0xAA, 0xAA, 3},
        {1, "Zelquor Tarn 45 PCL XL", "P1", 0xAA, 0xAA, 0xAA, 0xFF},
    };
    for (const Case& c : cases) {
        DrvCfgSupport s{};
        s.version = c.version;
        s.wantPrinterTest = c.printer[0] != '\0';
        s.capabilities = s.capabilities2 = s.vendorKind = 0xAA;
        s.printerState = 0xFF;
        std::strcpy(s.modelName, c.model);
        std::strcpy(s.printerName, c.printer);
        ASSERT_EQ(EnumDrvCfgSupport(&s), 0u);
        const std::string what = std::string(c.model) + " v" + std::to_string(c.version);
        EXPECT_EQ(s.capabilities, c.capabilities) << what;
        EXPECT_EQ(s.capabilities2, c.capabilities2) << what;
        EXPECT_EQ(s.vendorKind, c.vendor) << what;
        EXPECT_EQ(s.printerState, c.state) << what;
        EXPECT_STREQ(s.versionText, "1.0.0.23");
        EXPECT_EQ(s.words[0], 128u);
        EXPECT_EQ(s.words2[1], 5u);
    }
    EXPECT_EQ(EnumDrvCfgSupport(nullptr), 1u);
}

TEST_F(ConfigDataTest, StoredConfigurationMatchesOnlyItsModel) {
    const PrivateDevmode record = Get(p1_);
    struct Case {
        const char* what;
        uint8_t flags8;
        uint32_t value;
        const char* model;
        const char* description;
        uint32_t found;
    };
    const Case cases[] = {
        {"match", 0x80, 42, "zelquor tarn 45 pcl xl", "Zelquor Tarn 45 XL", 42},
        {"flag byte", 0x00, 42, "Zelquor Tarn 45 PCL XL", "Zelquor Tarn 45 XL", 0},
        {"no value", 0x80, 0, "Zelquor Tarn 45 PCL XL", "Zelquor Tarn 45 XL", 0},
        {"other model", 0x80, 42, "Zelquor Corvo C30", "Zelquor Tarn 45 XL", 0},
        {"no description", 0x80, 42, "Zelquor Tarn 45 PCL XL", nullptr, 0},
    };
    for (const Case& c : cases) {
        DrvCfgMatch match{&record, 0};
        DrvCfgCandidate candidate{};
        candidate.flags8 = c.flags8;
        candidate.flags1 = 1;
        candidate.flags2 = 2;
        candidate.value = c.value;
        candidate.modelName = c.model;
        candidate.description = c.description;
        EXPECT_EQ(EnumSpecificDrvCfgCallBack(&match, &candidate), 0u);
        EXPECT_EQ(match.found, c.found) << c.what;
    }
}

TEST_F(ConfigDataTest, HandedOverFileGivesTheNewPrinterItsSettingsOnce) {
    PrivateDevmode source = Get(p1_);
    source.dm.dmCopies = 5;
    source.dm.dmOrientation = DMORIENT_LANDSCAPE;
    WriteFile(u"C:\\config\\p1.dcd", Export(source, kScopeDocument | kScopePrinter));
    HandOver("P2", u"C:\\config\\p1.dcd", u"Front office");

    const PrivateDevmode r = Get(p2_);
    EXPECT_EQ(r.dm.dmCopies, 5);
    EXPECT_EQ(r.dm.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(r.profileKind, 4u);
    EXPECT_EQ(std::vector<uint32_t>(r.profileId, r.profileId + 4), (std::vector<uint32_t>{2, 0, 0, 0}));
    EXPECT_FALSE(KeyExists("P2")) << "a configuration is handed over once";
    const auto installed = Value(p2_, "DCD_InstalledDocDefaults");
    ASSERT_FALSE(installed.empty());
    // The installed document defaults bring the copies back to a record.
    PrivateDevmode fresh = Get(p1_);
    ASSERT_EQ(ApplyInstalledDocDefaults("P2", kScopeAll, fresh, p2_, nullptr), 0u);
    EXPECT_EQ(fresh.dm.dmCopies, 5);
    EXPECT_EQ(ApplyInstalledDocDefaults("P1", kScopeAll, fresh, p1_, nullptr), kCfgNotApplied);
    // "CurrentDefaultCONFIG" stands in, zero-filled, only for a "PrinterConfig"
    // that could not be read (a printer added through the driver has one).
    const bool configRead = Value(p2_, "PrinterConfig").size() == 32;
    EXPECT_EQ(Value(p2_, "CurrentDefaultCONFIG"), configRead ? std::vector<uint8_t>{} : std::vector<uint8_t>(32, 0));
    char16_t file[64] = {};
    DWORD type = 0, needed = 0;
    ASSERT_EQ(GetPrinterDataW(p2_, const_cast<LPWSTR>(u"DCDConfigFile"), &type, reinterpret_cast<LPBYTE>(file),
                              sizeof file, &needed),
              0u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::u16string(file), u"C:\\config\\p1.dcd");

    // Loading again keeps the settings and writes nothing.
    const auto current = Value(p2_, "CurrentDevmode");
    EXPECT_EQ(Get(p2_).dm.dmCopies, 5);
    EXPECT_EQ(Value(p2_, "CurrentDevmode"), current);
    EXPECT_EQ(Value(p2_, "DCD_InstalledDocDefaults"), installed);
}

TEST_F(ConfigDataTest, UnreadableFileOffersRetryAndKeepsTheDefault) {
    ScopedMessageBoxScript boxes;
    HandOver("P2", u"C:\\config\\missing.dcd", u"Front office");
    MessageBoxService::Queue(IDRETRY);
    MessageBoxService::Queue(IDCANCEL);
    const PrivateDevmode r = Get(p2_);
    const auto shown = MessageBoxService::Shown();
    ASSERT_EQ(shown.size(), 2u) << "one box per attempt";
    for (const auto& box : shown) {
        EXPECT_EQ(box.style & MB_TYPEMASK, MB_RETRYCANCEL);
        EXPECT_NE(box.text.find("P2"), std::string::npos) << box.text;
    }
    EXPECT_EQ(r.dm.dmCopies, 1);
    EXPECT_EQ(std::vector<uint32_t>(r.profileId, r.profileId + 4), (std::vector<uint32_t>{1, 0, 0, 0}));
    EXPECT_FALSE(KeyExists("P2"));
    EXPECT_TRUE(Value(p2_, "DCD_InstalledDocDefaults").empty());
}

TEST_F(ConfigDataTest, PwConfigFileIsLookedForInTheSystemThenTheWindowsDirectory) {
    PrivateDevmode source = Get(p1_);
    source.dm.dmCopies = 9;
    WriteFile(WindowsDirectory() + u"\\office.dcd", Export(source, kScopeDocument));
    DWORD flag = 1;
    ASSERT_EQ(SetPrinterDataA(p2_, const_cast<LPSTR>("PWConfigFlag"), REG_DWORD, reinterpret_cast<LPBYTE>(&flag), 4),
              0u);
    char name[] = "Office set";
    ASSERT_EQ(SetPrinterDataA(p2_, const_cast<LPSTR>("PWConfigName"), REG_SZ, reinterpret_cast<LPBYTE>(name),
                              sizeof name),
              0u);
    char file[] = "office.dcd";
    ASSERT_EQ(SetPrinterDataA(p2_, const_cast<LPSTR>("PWConfigFile"), REG_SZ, reinterpret_cast<LPBYTE>(file),
                              sizeof file),
              0u);
    ScopedMessageBoxScript boxes;
    EXPECT_EQ(Get(p2_).dm.dmCopies, 9);
    EXPECT_TRUE(MessageBoxService::Shown().empty());

    // A file in neither place: a warning naming the file and the set.
    char missing[] = "gone.dcd";
    SetPrinterDataA(p1_, const_cast<LPSTR>("PWConfigFlag"), REG_DWORD, reinterpret_cast<LPBYTE>(&flag), 4);
    SetPrinterDataA(p1_, const_cast<LPSTR>("PWConfigName"), REG_SZ, reinterpret_cast<LPBYTE>(name), sizeof name);
    SetPrinterDataA(p1_, const_cast<LPSTR>("PWConfigFile"), REG_SZ, reinterpret_cast<LPBYTE>(missing),
                    sizeof missing);
    DeletePrinterDataA(p1_, const_cast<LPSTR>("CurrentDevmode"));
    DeletePrinterDataA(p1_, const_cast<LPSTR>("DefDrvCfgData"));
    EXPECT_EQ(Get(p1_).dm.dmCopies, 1);
    const auto shown = MessageBoxService::Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().caption, "P1");
    EXPECT_NE(shown.back().text.find("gone.dcd"), std::string::npos) << shown.back().text;
    EXPECT_NE(shown.back().text.find("Office set"), std::string::npos) << shown.back().text;
}

}  // namespace
}  // namespace zq
