// The DEVMODE entries without a sheet, as the spooler reaches them through
// the printer's configuration file, the sheet context they build on, and the
// module entry.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "common/devcaps.h"
#include "common/spooler_helpers.h"
#include "interface/document_sheets.h"
#include "interface/module_entry.h"
#include "interface/sheet_context.h"
#include "settings/devmode_ops.h"
#include "store/registry.h"
#include "user/common_sheet.h"
#include "installed_driver.h"

namespace zq {
namespace {

class DocumentSheetsTest : public testing::InstalledDriver {
protected:
    void SetUp() override {
        InstalledDriver::SetUp();
        Install();
    }
    // The printer's data value, or nullopt when it is not there.
    std::optional<std::vector<uint8_t>> Data(HANDLE printer, const char* name) {
        std::vector<uint8_t> value(2048);
        DWORD type = 0, needed = 0;
        if (GetPrinterDataA(printer, const_cast<LPSTR>(name), &type, value.data(), static_cast<DWORD>(value.size()),
                            &needed) != ERROR_SUCCESS)
            return std::nullopt;
        value.resize(needed);
        return value;
    }
    std::vector<uint8_t> Level2Devmode(HANDLE printer) {
        DWORD needed = 0;
        GetPrinterW(printer, 2, nullptr, 0, &needed);
        std::vector<uint8_t> info(needed);
        if (!GetPrinterW(printer, 2, info.data(), needed, &needed)) return {};
        const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pDevMode;
        if (dm == nullptr) return {};
        const auto* p = reinterpret_cast<const uint8_t*>(dm);
        return {p, p + dm->dmSize + dm->dmDriverExtra};
    }
};

TEST_F(DocumentSheetsTest, AnAddedPrinterGetsItsDriversDefault) {
    for (const auto& m : testing::kShippedModels) {
        SCOPED_TRACE(WideToAnsi(m.printer));
        HANDLE h = Open(m.printer);
        const auto bytes = Level2Devmode(h);
        ASSERT_EQ(bytes.size(), kPrivateDevmodeSize);
        const auto dm = DevmodeFromBytes(bytes);
        ASSERT_TRUE(dm);
        EXPECT_TRUE(IsValidPrivateDevmode(*dm));
        EXPECT_TRUE(IsDevmodeCrcValid(*dm));
        EXPECT_EQ(std::string(dm->modelName), WideToAnsi(m.driver).substr(0, 31));
        EXPECT_EQ(std::string(dm->printerName), WideToAnsi(m.printer));
        ClosePrinter(h);
    }
}

TEST_F(DocumentSheetsTest, AConfigurationFileThatDoesNotLoadLeavesThePrinterWithout) {
    ASSERT_TRUE(testing::InstallDriver(u"Zelquor Elsewhere", {u"pclrend.dll", u"drvui.dll", u"missing.dll"}));
    HANDLE added = testing::AddLocalPrinter(u"Elsewhere", u"Zelquor Elsewhere");
    ASSERT_NE(added, nullptr);
    EXPECT_TRUE(Level2Devmode(added).empty());
    EXPECT_EQ(DocumentPropertiesW(nullptr, added, nullptr, nullptr, nullptr, 0), -1);
    ClosePrinter(added);
}

TEST_F(DocumentSheetsTest, EntriesWithoutASheet) {
    HANDLE h = Open(u"Mira");
    std::u16string name = u"Mira";
    auto out = std::make_unique<PrivateDevmode>();

    // A size query touches nothing: the sheet context would have written
    // "PrinterConfig".
    EXPECT_EQ(DrvDocumentProperties(nullptr, h, name.data(), &out->dm, nullptr, 0), 1256);
    EXPECT_FALSE(Data(h, "PrinterConfig"));
    DOCUMENTPROPERTYHEADER header{sizeof header, 0, h, name.data(), nullptr, nullptr, 0, DM_COPY};
    EXPECT_EQ(DrvDocumentPropertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), 1256);
    EXPECT_EQ(header.cbOut, 1256u);
    EXPECT_FALSE(Data(h, "PrinterConfig"));
    EXPECT_EQ(DrvAdvancedDocumentProperties(nullptr, h, name.data(), nullptr, nullptr), 1256);

    // The conversion's sizes and errors.
    LONG size = 1255;
    SetLastError(0);
    EXPECT_FALSE(DrvConvertDevMode(name.data(), nullptr, &out->dm, &size, CDM_DRIVER_DEFAULT));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 1256);
    EXPECT_FALSE(DrvConvertDevMode(name.data(), nullptr, &out->dm, nullptr, CDM_DRIVER_DEFAULT));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_FALSE(DrvConvertDevMode(name.data(), nullptr, &out->dm, &size, CDM_CONVERT351));
    EXPECT_EQ(GetLastError(), 0u);
    size = 1256;
    ASSERT_TRUE(DrvConvertDevMode(name.data(), nullptr, &out->dm, &size, CDM_DRIVER_DEFAULT));
    EXPECT_TRUE(IsValidPrivateDevmode(*out));
    EXPECT_TRUE(IsDevmodeCrcValid(*out));

    // The legacy entry without a prompt answers IDOK and writes the record.
    auto copy = std::make_unique<PrivateDevmode>();
    EXPECT_EQ(DrvDocumentProperties(nullptr, h, name.data(), &copy->dm, nullptr, DM_COPY), 1);
    EXPECT_EQ(std::memcmp(copy.get(), out.get(), sizeof *out), 0);
    ClosePrinter(h);
}

TEST_F(DocumentSheetsTest, DocumentPropertiesGoesThroughTheDriver) {
    HANDLE h = Open(u"Tarn");
    std::u16string name = u"Tarn";
    EXPECT_EQ(DocumentPropertiesW(nullptr, h, name.data(), nullptr, nullptr, 0), 1256);
    EXPECT_EQ(DocumentPropertiesA(nullptr, h, const_cast<LPSTR>("Tarn"), nullptr, nullptr, 0), 1256 - 64);
    auto printer = std::make_unique<PrivateDevmode>();
    ASSERT_EQ(DocumentPropertiesW(nullptr, h, name.data(), &printer->dm, nullptr, DM_OUT_BUFFER), IDOK);
    EXPECT_TRUE(IsDevmodeCrcValid(*printer));

    // An application's record is merged: its orientation is kept.
    auto application = std::make_unique<PrivateDevmode>(*printer);
    application->dm.dmOrientation = 2;
    SetDevmodeCrc(*application);
    auto merged = std::make_unique<PrivateDevmode>();
    ASSERT_EQ(DocumentPropertiesW(nullptr, h, name.data(), &merged->dm, &application->dm, DM_OUT_BUFFER | DM_IN_BUFFER),
              IDOK);
    EXPECT_EQ(merged->dm.dmOrientation, 2);
    EXPECT_TRUE(IsDevmodeCrcValid(*merged));

    // An older application's record of 212 bytes comes back in its own shape.
    std::vector<uint8_t> old(212 + kDriverExtraSize, 0);
    std::memcpy(old.data(), &printer->dm, 212);
    std::memcpy(old.data() + 212, reinterpret_cast<const uint8_t*>(printer.get()) + 220, kDriverExtraSize);
    auto* oldDm = reinterpret_cast<DEVMODEW*>(old.data());
    oldDm->dmSize = 212;
    oldDm->dmSpecVersion = 0x400;
    oldDm->dmOrientation = 2;
    std::vector<uint8_t> back(1256, 0);
    ASSERT_EQ(DocumentPropertiesW(nullptr, h, name.data(), reinterpret_cast<DEVMODEW*>(back.data()), oldDm,
                                  DM_OUT_BUFFER | DM_IN_BUFFER),
              IDOK);
    const auto* backDm = reinterpret_cast<const DEVMODEW*>(back.data());
    EXPECT_EQ(backDm->dmSize, 212);
    EXPECT_EQ(backDm->dmSpecVersion, 0x400);
    EXPECT_EQ(backDm->dmDriverExtra, kDriverExtraSize);
    EXPECT_EQ(backDm->dmOrientation, 2);
    // The private part follows the 212 bytes.
    uint32_t signature = 0;
    std::memcpy(&signature, back.data() + 212, 4);
    EXPECT_EQ(signature, kPrivateDevmodeSignature);
    ClosePrinter(h);
}

TEST_F(DocumentSheetsTest, DeviceCapabilitiesGoesThroughTheDriver) {
    EXPECT_EQ(DeviceCapabilitiesW(u"Mira", nullptr, DC_PAPERS, nullptr, nullptr), 6);
    EXPECT_EQ(DeviceCapabilitiesA("Tarn", nullptr, DC_PAPERS, nullptr, nullptr), 13);
    std::vector<WORD> papers(6);
    ASSERT_EQ(DeviceCapabilitiesW(u"Mira", nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(papers.data()), nullptr), 6);
    EXPECT_NE(std::find(papers.begin(), papers.end(), 1), papers.end());  // Letter
    // Names in ANSI entries of the wide entries' width.
    const int n = DeviceCapabilitiesW(u"Mira", nullptr, DC_PAPERNAMES, nullptr, nullptr);
    ASSERT_GT(n, 0);
    std::vector<char16_t> wide(static_cast<size_t>(n) * 64);
    std::vector<char> narrow(static_cast<size_t>(n) * 64, 'x');
    ASSERT_EQ(DeviceCapabilitiesW(u"Mira", nullptr, DC_PAPERNAMES, wide.data(), nullptr), n);
    ASSERT_EQ(DeviceCapabilitiesA("Mira", nullptr, DC_PAPERNAMES, narrow.data(), nullptr), n);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(std::string(narrow.data() + 64 * i), WideToAnsi(std::u16string(wide.data() + 64 * i)));
    EXPECT_EQ(DeviceCapabilitiesW(u"Nobody", nullptr, DC_PAPERS, nullptr, nullptr), -1);
}

// The sheet function the common UI hands over, recording what it is asked.
std::vector<std::array<LPARAM, 3>> gSheetCalls;
LONG_PTR RecordSheetCall(HANDLE, UINT function, LPARAM a, LPARAM b) {
    gSheetCalls.push_back({static_cast<LPARAM>(function), a, b});
    return 1;
}

// A sheet with neither the scripted plug-in nor the dialog library's pages:
// it opens without the driver's pages, and what it saves depends on how it
// closes and on the caller's mode.
TEST_F(DocumentSheetsTest, ASheetWithoutPages) {
    struct Case {
        const char* name;
        DWORD mode;
        LRESULT result;       // of the set-result call; -1 for none
        uint32_t unsaved;     // the pages' unsaved changes flag at destroy
        uint32_t applied;
        bool savesDevmode;
    } cases[] = {
        {"OK with update", DM_UPDATE, CPSUI_OK, 0, 1, true},
        {"OK with copy", DM_COPY, CPSUI_OK, 0, 0, true},
        {"OK without update or copy", DM_PROMPT, CPSUI_OK, 0, 0, false},
        {"cancel after nothing applied", DM_UPDATE, CPSUI_CANCEL, 0, 0, false},
        {"closed with unsaved changes", DM_UPDATE, -1, 1, 1, true},
        {"closed with unsaved changes, no update", DM_PROMPT, -1, 1, 0, false},
    };
    std::u16string name = u"Mira";
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        HANDLE h = Open(u"Mira");
        DeletePrinterDataA(h, const_cast<LPSTR>("CurrentDevmode"));
        DeletePrinterDataA(h, const_cast<LPSTR>("SWEnable"));
        gSheetCalls.clear();
        auto out = std::make_unique<PrivateDevmode>();
        DOCUMENTPROPERTYHEADER header{sizeof header, 0, h, name.data(), nullptr, &out->dm, 0, t.mode};
        PROPSHEETUI_INFO info{sizeof info, 0x100, 0, PROPSHEETUI_REASON_INIT, reinterpret_cast<HANDLE>(7),
                              RecordSheetCall, reinterpret_cast<LPARAM>(&header), 0, 99};
        ASSERT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
        auto* c = reinterpret_cast<SheetContext*>(info.UserData);
        ASSERT_TRUE(IsValidSheetContext(c));
        EXPECT_EQ(info.Result, 0u);
        EXPECT_TRUE(gSheetCalls.empty());  // no page was added
        EXPECT_EQ(c->documentSheet, 1u);
        EXPECT_EQ(c->mayChange, 1u);
        EXPECT_EQ(std::vector<uint16_t>(c->pageFlags, c->pageFlags + 10),
                  (std::vector<uint16_t>{1, 1, 1, 1, 1, 1, 1, 1, 3, 2}));
        EXPECT_NE(c->controlRecords, nullptr);
        EXPECT_TRUE(Data(h, "SWEnable"));  // written back at open

        info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
        PROPSHEETUI_INFO_HEADER infoHeader{};
        ASSERT_EQ(DrvDocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&infoHeader)), 1);
        EXPECT_EQ(infoHeader.Flags, PSUIHDRF_PROPTITLE);
        EXPECT_EQ(std::u16string(infoHeader.pTitle), u"Mira");
        EXPECT_EQ(infoHeader.IconID, 64063u);

        if (t.result >= 0) {
            info.Reason = PROPSHEETUI_REASON_SET_RESULT;
            SETRESULT_INFO result{sizeof result, 0, nullptr, t.result};
            ASSERT_EQ(DrvDocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&result)), 1);
            EXPECT_EQ(info.Result, static_cast<ULONG_PTR>(t.result));
        }
        c->unsavedChanges = t.unsaved;
        c->applied = t.applied;
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        ASSERT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
        EXPECT_EQ(info.UserData, 0u);
        ASSERT_EQ(gSheetCalls.size(), 1u);
        EXPECT_EQ(gSheetCalls[0], (std::array<LPARAM, 3>{CPSFUNC_SET_RESULT, 0, t.applied ? 1 : 0}));
        // A context once destroyed is not served again.
        info.UserData = 0;
        EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), -1);

        const auto saved = Data(h, "CurrentDevmode");
        EXPECT_EQ(saved.has_value(), t.savesDevmode);
        if (saved) {
            ASSERT_EQ(saved->size(), 1256u);
            const auto dm = DevmodeFromBytes(*saved);
            ASSERT_TRUE(dm);
            EXPECT_TRUE(IsDevmodeCrcValid(*dm));
            EXPECT_EQ(std::memcmp(saved->data(), out.get(), 1256), 0);  // the caller got the same record
        }
        const auto swEnable = Data(h, "SWEnable");
        ASSERT_TRUE(swEnable);
        EXPECT_EQ(swEnable->size(), 1u);
        ClosePrinter(h);
    }
}

TEST_F(DocumentSheetsTest, ASheetRefusesWhatItCannotServe) {
    HANDLE h = Open(u"Mira");
    std::u16string name = u"Mira";
    DOCUMENTPROPERTYHEADER header{sizeof header, 0, h, name.data(), nullptr, nullptr, 0, DM_UPDATE};
    PROPSHEETUI_INFO info{sizeof info, 0x100, 0, PROPSHEETUI_REASON_INIT, nullptr, RecordSheetCall, 0, 0, 0};
    EXPECT_EQ(DrvDocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&header)), -1);  // header is lParamInit
    info.lParamInit = reinterpret_cast<LPARAM>(&header);
    for (WORD reason : {PROPSHEETUI_REASON_GET_INFO_HEADER, PROPSHEETUI_REASON_SET_RESULT,
                        PROPSHEETUI_REASON_DESTROY}) {
        info.Reason = reason;
        EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), -1) << reason;  // no context
    }
    info.Reason = PROPSHEETUI_REASON_INIT;
    ASSERT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    info.Reason = 4;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), -1);
    info.Reason = PROPSHEETUI_REASON_DESTROY;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    // A printer that cannot be read opens no sheet.
    header.hPrinter = nullptr;
    info.Reason = PROPSHEETUI_REASON_INIT;
    info.UserData = 0;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), -1);
    EXPECT_EQ(info.UserData, 0u);
    ClosePrinter(h);
}

TEST_F(DocumentSheetsTest, TheSheetContext) {
    HANDLE h = Open(u"Mira");
    // A stored configuration not led by 1 is computed again and rewritten.
    uint32_t config[8] = {7, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("PrinterConfig"), REG_BINARY, reinterpret_cast<LPBYTE>(config),
                              sizeof config),
              ERROR_SUCCESS);
    SheetContext* c = CreateUiState(h, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(IsValidSheetContext(c));
    EXPECT_EQ(std::u16string(c->printerName), u"Mira");
    EXPECT_EQ(std::string(c->printerNameAnsi), "Mira");
    EXPECT_EQ(std::u16string(c->driverName), u"Zelquor Mira 12 PCL");
    EXPECT_STREQ(c->constraintProcedure, "RefreshProc");
    EXPECT_EQ(c->modelCode, WorkingDevmode(*c).model.modelCode);
    EXPECT_TRUE(IsDevmodeCrcValid(WorkingDevmode(*c)));
    EXPECT_EQ(c->contextReady, 1u);
    if (c->modelCode < 39) {
        const auto stored = Data(h, "PrinterConfig");
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->size(), 32u);
        uint32_t first = 0;
        std::memcpy(&first, stored->data(), 4);
        EXPECT_EQ(first, 1u);
        EXPECT_EQ(std::memcmp(stored->data() + 4, c->installedOptions, 28), 0);
    }
    // A broken stamp is refused and left alone.
    c->selfLast = nullptr;
    EXPECT_FALSE(IsValidSheetContext(c));
    DestroySheetContext(c);
    c->selfLast = c;
    EXPECT_TRUE(IsValidSheetContext(c));
    DestroySheetContext(c);
    EXPECT_FALSE(IsValidSheetContext(nullptr));
    ClosePrinter(h);
}

TEST_F(DocumentSheetsTest, ModuleEntryAndHelpers) {
    using Entry = BOOL (*)(HINSTANCE, DWORD, LPVOID);
    const auto entry = reinterpret_cast<Entry>(GetProcAddress(drvui_, "DllInitialize"));
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry(drvui_, DLL_THREAD_ATTACH, nullptr));
    EXPECT_FALSE(entry(drvui_, DLL_THREAD_DETACH, nullptr));
    // The scripted plug-in is not there: no binding, the dialog library serves.
    EXPECT_EQ(BindScriptUi(BesideDriver(drvui_, kScriptUiFileName).c_str()), nullptr);
    ReleaseScriptUi(nullptr);

    struct Case {
        const char* path;
        bool shell;
    } cases[] = {{"C:\\WINNT\\EXPLORER.EXE", true}, {"/usr/bin/zeldcm.exe", true}, {"zeldcm.exe", true},
                 {"C:\\explorer.exe.bak", false}, {"C:\\tools\\zq", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(IsShellHostName(c.path), c.shell) << c.path;

    // Publishing a printer that was never published is refused, and the
    // helper says so.
    HANDLE h = nullptr;
    std::u16string name = u"Mira";
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    ASSERT_TRUE(OpenPrinterW(name.data(), &h, &all));
    PRINTER_INFO_7W seven{nullptr, DSPRINT_UPDATE};
    EXPECT_FALSE(SplSetPrinterW(h, 7, reinterpret_cast<LPBYTE>(&seven), 0));
    EXPECT_TRUE(CanOpenPrinter("Mira"));
    EXPECT_FALSE(CanOpenPrinter("Nobody"));
    void* info = AllocPrinterInfo(h, 2);
    ASSERT_NE(info, nullptr);
    GlobalFree(info);
    EXPECT_EQ(AllocPrinterInfo(nullptr, 2), nullptr);
    ClosePrinter(h);
}

}  // namespace
}  // namespace zq
