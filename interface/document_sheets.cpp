#include "interface/document_sheets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/loader.h"
#include "store/registry.h"
#include "base/text.h"
#include "common/spooler_helpers.h"
#include "interface/control_records.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "interface/module_entry.h"
#include "interface/ui_utils.h"
#include "settings/config_data.h"
#include "settings/user_settings.h"
#include "user/common_sheet.h"
#include "interface/sheet_context.h"
#include "settings/printer_devmode.h"
#include "store/spooler.h"

namespace zq {

namespace {

uint8_t* Bytes(DEVMODEW* dm) { return reinterpret_cast<uint8_t*>(dm); }
const uint8_t* Bytes(const DEVMODEW* dm) { return reinterpret_cast<const uint8_t*>(dm); }

LONG RunLegacyPropertySheet(HWND window, HANDLE printer, LPWSTR name, DEVMODEW* out, DEVMODEW* in, DWORD mode) {
    DOCUMENTPROPERTYHEADER header{};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name;
    header.pdmIn = in;
    header.pdmOut = out;
    header.fMode = mode;
    if ((mode & DM_PROMPT) == 0) return ServeDocumentPropertyHeader(&header);
    LONG result = 0;
    const LONG rc = CallCommonPropertySheetUI(window, DrvDocumentPropertySheets, reinterpret_cast<LPARAM>(&header),
                                              &result);
    return rc < 0 ? rc : result;
}

}  // namespace

WORD DevmodeSpecVersion(const DEVMODEW* devmode) {
    if (devmode == nullptr) return 0;
    if (devmode->dmSize == 212) return 0x400;
    if (devmode->dmSize == 220) return 0x401;
    return devmode->dmSpecVersion;
}

LONG ConvertDevmode(const DEVMODEW* in, DEVMODEW* out) {
    if (DevmodeSpecVersion(in) == 0 || DevmodeSpecVersion(out) == 0) return -1;
    const WORD version = DevmodeSpecVersion(out);
    const WORD driverVersion = out->dmDriverVersion;
    const WORD size = out->dmSize;
    const WORD extra = out->dmDriverExtra;
    const size_t publicBytes = std::min(in->dmSize, size);
    const size_t extraBytes = std::min(in->dmDriverExtra, extra);
    std::memmove(Bytes(out), Bytes(in), publicBytes);
    out->dmSpecVersion = version;
    out->dmDriverVersion = driverVersion;
    out->dmSize = size;
    out->dmDriverExtra = extra;
    std::memmove(Bytes(out) + size, Bytes(in) + in->dmSize, extraBytes);
    return static_cast<LONG>(publicBytes + extraBytes);
}

LONG MergeDevmodeOut(const DEVMODEW* working, const DEVMODEW* in, DEVMODEW* out) {
    if (in == nullptr) {
        std::memcpy(out, working, static_cast<size_t>(working->dmSize) + working->dmDriverExtra);
        return 1;
    }
    const DEVMODEW* bySize = in->dmSize < working->dmSize ? in : working;
    const DEVMODEW* byExtra = in->dmDriverExtra < working->dmDriverExtra ? in : working;
    // The fields are read before any is written: `in` and `out` may be one.
    const WORD version = bySize->dmSpecVersion, size = bySize->dmSize;
    const WORD driverVersion = byExtra->dmDriverVersion, extra = byExtra->dmDriverExtra;
    out->dmSpecVersion = version;
    out->dmSize = size;
    out->dmDriverVersion = driverVersion;
    out->dmDriverExtra = extra;
    return ConvertDevmode(working, out) > 0 ? 1 : 0;
}

LONG ServeDocumentPropertyHeader(DOCUMENTPROPERTYHEADER* header) {
    header->cbOut = kDriverDevmodeSize;
    if (header->fMode == 0 || header->pdmOut == nullptr) return kDriverDevmodeSize;
    SheetContext* context = CreateUiState(header->hPrinter, header->pdmIn);
    if (context == nullptr) return -1;
    if (header->fMode & (DM_UPDATE | DM_COPY)) {
        MergeDevmodeOut(&WorkingDevmode(*context).dm, header->pdmIn, header->pdmOut);
    }
    DestroySheetContext(context);
    return 1;
}

LONG CallCommonPropertySheetUI(HWND window, LONG (*callback)(void*, LPARAM), LPARAM lParam, LONG* result) {
    HMODULE library = LoadLibraryA("compstui.dll");
    if (library == nullptr) return -1;
    using Common = LONG (*)(HWND, LONG (*)(void*, LPARAM), LPARAM, LONG*);
    const auto common = reinterpret_cast<Common>(GetProcAddress(library, "CommonPropertySheetUIW"));
    const LONG rc = common ? common(window, callback, lParam, result) : -1;
    FreeLibrary(library);
    return rc;
}

}  // namespace zq

using namespace zq;

namespace zq {
namespace {

// One page flag per document page: pages 1 to 8 ordinary, the web page 3,
// the about page 2.
void SetDocumentPageFlags(SheetContext& c) {
    for (size_t i = 0; i < kDocumentPageCount; ++i) c.pageFlags[i] = 1;
    c.pageFlags[8] = 3;
    c.pageFlags[9] = 2;
}

bool ReadPrinterValue(HANDLE printer, const char* name, void* data, DWORD size) {
    DWORD type = 0, needed = 0;
    return SplGetPrinterDataA(printer, const_cast<LPSTR>(name), &type, static_cast<LPBYTE>(data), size, &needed) ==
               ERROR_SUCCESS &&
           needed == size;
}

DWORD WritePrinterValue(HANDLE printer, const char* name, const void* data, DWORD size) {
    return SplSetPrinterDataA(printer, const_cast<LPSTR>(name), REG_BINARY,
                              static_cast<LPBYTE>(const_cast<void*>(data)), size);
}

void WriteSwEnable(SheetContext& c) {
    BYTE value = WorkingDevmode(c).swEnable;
    WritePrinterValue(c.printer, "SWEnable", &value, 1);
}

void FreePictureModules(SheetContext& c) {
    for (HMODULE* m : {&c.pictureResources, &c.pictureLibrary}) {
        if (*m != nullptr) FreeLibrary(*m);
        *m = nullptr;
    }
    c.paintPrinter = c.managePalette = nullptr;
}

// The printer picture's libraries beside the driver; either may be missing.
void LoadPictureModules(SheetContext& c) {
    c.pictureLibrary = LoadLibraryW(BesideDriver(DriverModule(), u"pictlib.dll").c_str());
    if (c.pictureLibrary != nullptr) {
        c.paintPrinter = reinterpret_cast<void*>(GetProcAddress(c.pictureLibrary, "PaintPrt"));
        c.managePalette = reinterpret_cast<void*>(GetProcAddress(c.pictureLibrary, "ManagePal"));
    }
    c.pictureResources = LoadLibraryW(BesideDriver(DriverModule(), u"pictres.dll").c_str());
}

// The driver's default record for the sheet: built for the working record's
// model and names, or the one the administrator stored.
void MakeSheetDefaults(SheetContext& c, PrivateDevmode& defaults) {
    const PrivateDevmode& working = WorkingDevmode(c);
    std::memcpy(defaults.modelName, working.modelName, sizeof defaults.modelName);
    std::memcpy(defaults.dm.dmDeviceName, working.dm.dmDeviceName, sizeof defaults.dm.dmDeviceName);
    std::memcpy(defaults.printerName, working.printerName, sizeof defaults.printerName);
    BuildDefaultDevmode(DriverModule(), defaults, std::string_view(defaults.modelName, strnlen(defaults.modelName, 32)));
    auto stored = std::make_unique<PrivateDevmode>();
    char description[64];
    if (ReadPrinterValue(c.printer, "CurrentDefaultDevMode", stored.get(), sizeof *stored) &&
        ReadPrinterValue(c.printer, "DCDShortDesc", description, sizeof description))
        defaults = *stored;
    std::memcpy(c.defaultDevmode, &defaults, sizeof defaults);
}

// The pages of the dialog library. Without the library or its export the
// sheet opens without the driver's pages; 0 when the pages failed.
using DialogControlProc = LONG (*)(SheetContext*, HGLOBAL, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                   uint32_t, uint32_t, uint32_t, HANDLE);

int ShowDialogPages(SheetContext& c, HANDLE printer, PROPSHEETUI_INFO& info, uint16_t pageCount) {
    if (pageCount == 0) return 0;
    const PrivateDevmode& working = WorkingDevmode(c);
    c.dialogModule = LoadDialogLibrary(static_cast<uint8_t>(working.model.dialogSelector));
    const auto control = c.dialogModule
                             ? reinterpret_cast<DialogControlProc>(GetProcAddress(c.dialogModule, "DialogControl"))
                             : nullptr;
    if (control != nullptr) {
        // The page list only means something to the library that builds the
        // pages: without one the sheet opens without them, list or none.
        uint32_t pages[8] = {};
        if (DriverModelData().Resource(281, static_cast<uint16_t>(working.model.pageListId + 1),
                                       {reinterpret_cast<uint8_t*>(pages), sizeof pages}) == 0)
            return 0;
        if (control(&c, c.controlRecords, pages[0], pages[1], pages[2], pages[3], pages[4], pages[5], pages[6],
                    pages[7], pageCount, printer) != 0)
            return 0;
    } else if (c.dialogModule != nullptr) {
        FreeLibrary(c.dialogModule);
        c.dialogModule = nullptr;
    }
    info.UserData = reinterpret_cast<ULONG_PTR>(&c);
    info.Result = 0;
    return 1;
}

// The sheet's settings written back: into the caller's record, the printer's
// data and, where allowed, the user's copy.
void SaveDocumentSettings(SheetContext& c, const DOCUMENTPROPERTYHEADER& header) {
    PrivateDevmode& working = WorkingDevmode(c);
    if (c.controlRecords != nullptr)
        ControlsToDevmode({static_cast<const uint8_t*>(c.controlRecords), c.controlRecordSize}, working,
                          DriverModelData());
    if (header.pdmOut != nullptr) MergeDevmodeOut(&working.dm, header.pdmIn, header.pdmOut);
    if (c.modelCode != kNoModelCode) {
        uint32_t config[8] = {1};
        std::memcpy(config + 1, c.installedOptions, sizeof c.installedOptions);
        WritePrinterValue(c.printer, "PrinterConfig", config, sizeof config);
    }
    WritePrinterValue(c.printer, "CurrentDevmode", &working, sizeof working);
    bool userCopy = false;
    if (c.printerDataReadOnly == 0 || c.shellHost != 0) {
        HKEY key = nullptr;
        char16_t path[300] = {};
        if (OpenUserPrinterKey(c.printer, HKEY_CURRENT_USER, &key, nullptr, path)) {
            userCopy = RegSetValueExW(key, u"CurrentDevmode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&working),
                                      sizeof working) == ERROR_SUCCESS;
            RegCloseKey(key);
            InstallLogEntry entry;
            entry.printer = c.printer;
            entry.keyKind = "hkcu";
            entry.key = WideToAnsi(path);
            entry.valueName = "CurrentDevmode";
            entry.sectionKind = 2;
            AddInstallLogEntry(entry);
        }
    }
    const std::string_view name(working.printerName, strnlen(working.printerName, sizeof working.printerName));
    StoreDevmodeTagList(AnsiToWide(std::string(name)), u"DefDrvCfgData", working, c.printer, !userCopy,
                        &DriverModelData());
}

LONG OpenDocumentSheet(PROPSHEETUI_INFO& info, const DOCUMENTPROPERTYHEADER& header) {
    SheetContext* c = CreateUiState(header.hPrinter, header.pdmIn);
    if (!IsValidSheetContext(c)) return -1;
    c->callingSheet = 0;
    c->mayChange = (header.fMode & DM_NOPERMISSION) == 0 ? 1 : 0;
    c->sheetFunction = reinterpret_cast<void*>(info.pfnComPropSheet);
    c->sheetHandle = info.hComPropSheet;
    auto defaults = std::make_unique<PrivateDevmode>();
    MakeSheetDefaults(*c, *defaults);
    SetDocumentPageFlags(*c);
    if (c->modelCode != kNoModelCode) {
        LoadPictureModules(*c);
        const auto options = ReadPrinterConfig(*c);
        std::copy(options.begin(), options.end(), c->modelDefaultOptions);
        std::copy(std::begin(c->installedOptions), std::end(c->installedOptions), c->installedOptionsAtOpen);
        MapDefaultSourceToTray(*c);
    }
    c->documentSheet = 1;
    PrivateDevmode& working = WorkingDevmode(*c);
    DWORD swEnable = 0;
    if (!ReadPrinterValue(c->printer, "SWEnable", &swEnable, sizeof swEnable)) swEnable = 0;
    if (!IsOvraName(std::string_view(c->modelName, strnlen(c->modelName, sizeof c->modelName))))
        working.swEnable = static_cast<BYTE>(swEnable);
    BYTE byte = working.swEnable;
    if (WritePrinterValue(c->printer, "SWEnable", &byte, 1) != ERROR_SUCCESS) c->printerDataReadOnly = 1;
    c->shellHost = IsShellHost() ? 1 : 0;
    // No control records, no pages: the sheet opens without the driver's,
    // and nothing is left for a destroy call that will not find the context.
    if (BuildSheetControlRecords(*c, *defaults) != 0) {
        DestroySheetContext(c);
        return 1;
    }
    c->scriptBinding = BindScriptUi(BesideDriver(DriverModule(), kScriptUiFileName).c_str());
    if (c->scriptBinding != nullptr) {
        if (ScriptUiDocumentPages(c->scriptBinding, c, &info, reinterpret_cast<LPARAM>(&header))) {
            info.UserData = reinterpret_cast<ULONG_PTR>(c);
            info.Result = 0;
            return 1;
        }
        ReleaseScriptUi(c->scriptBinding);
        c->scriptBinding = nullptr;
        DestroySheetContext(c);
        return -1;
    }
    if (ShowDialogPages(*c, header.hPrinter, info, kDocumentPageCount) != 0) return 1;
    DestroySheetContext(c);
    return -1;
}

bool SavesSettings(const DOCUMENTPROPERTYHEADER& header) { return (header.fMode & (DM_UPDATE | DM_COPY)) != 0; }

}  // namespace
}  // namespace zq

extern "C" LONG DrvDocumentPropertySheets(void* infoPointer, LPARAM lParam) {
    auto* info = static_cast<PROPSHEETUI_INFO*>(infoPointer);
    auto* header = reinterpret_cast<DOCUMENTPROPERTYHEADER*>(info != nullptr ? info->lParamInit : lParam);
    if (header == nullptr) return -1;
    if (info == nullptr) return ServeDocumentPropertyHeader(header);
    if (info->Reason == PROPSHEETUI_REASON_INIT) return OpenDocumentSheet(*info, *header);
    auto* c = reinterpret_cast<SheetContext*>(info->UserData);
    if (!IsValidSheetContext(c)) return -1;
    c->callingSheet = 0;
    switch (info->Reason) {
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        auto* infoHeader = reinterpret_cast<PROPSHEETUI_INFO_HEADER*>(lParam);
        if (infoHeader != nullptr) {
            infoHeader->Flags = PSUIHDRF_PROPTITLE;
            infoHeader->pTitle = header->pszPrinterName;
            infoHeader->hInst = DriverModule();
            infoHeader->IconID = 64063;
        }
        if (c->scriptBinding != nullptr) ScriptUiDocumentPages(c->scriptBinding, c, info, lParam);
        return 1;
    }
    case PROPSHEETUI_REASON_SET_RESULT: {
        auto* result = reinterpret_cast<SETRESULT_INFO*>(lParam);
        const LRESULT value = result != nullptr ? result->Result : 0;
        if (value == CPSUI_OK && SavesSettings(*header)) {
            SaveDocumentSettings(*c, *header);
            c->unsavedChanges = 0;
        }
        info->Result = static_cast<ULONG_PTR>(value);
        return 1;
    }
    case PROPSHEETUI_REASON_DESTROY: {
        if (c->unsavedChanges != 0 && SavesSettings(*header))
            SaveDocumentSettings(*c, *header);
        else
            WriteSwEnable(*c);
        if (c->sheetFunction != nullptr)
            reinterpret_cast<PFNCOMPROPSHEET>(c->sheetFunction)(c->sheetHandle, CPSFUNC_SET_RESULT, 0,
                                                                c->applied != 0 ? 1 : 0);
        if (c->scriptBinding != nullptr) {
            ScriptUiDocumentPages(c->scriptBinding, c, info, lParam);
            ReleaseScriptUi(c->scriptBinding);
            c->scriptBinding = nullptr;
        }
        FreePictureModules(*c);
        info->UserData = 0;
        DestroySheetContext(c);
        return 1;
    }
    default:
        return -1;
    }
}

extern "C" LONG DrvDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in,
                                      DWORD mode) {
    if (mode == 0 || out == nullptr) return kDriverDevmodeSize;
    const LONG result = RunLegacyPropertySheet(window, printer, deviceName, out, in, mode);
    if (result > 0) return 1;  // IDOK
    if (result == 0) return 2;  // IDCANCEL
    return result;
}

extern "C" LONG DrvAdvancedDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out,
                                              DEVMODEW* in) {
    if (out == nullptr) return kDriverDevmodeSize;
    return RunLegacyPropertySheet(window, printer, deviceName, out, in, DM_PROMPT | DM_COPY | DM_ADVANCED) > 0 ? 1 : 0;
}

extern "C" BOOL DrvConvertDevMode(LPWSTR printerName, DEVMODEW* in, DEVMODEW* out, LONG* size, DWORD mode) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode == CDM_CONVERT) {
        if (out != nullptr && in != nullptr && *size >= 0 &&
            static_cast<LONG>(out->dmSize) + out->dmDriverExtra <= *size && ConvertDevmode(in, out) > 0) {
            *size = static_cast<LONG>(out->dmSize) + out->dmDriverExtra;
            return TRUE;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode == CDM_DRIVER_DEFAULT) {
        const LONG given = *size;
        *size = kDriverDevmodeSize;
        if (given < kDriverDevmodeSize || out == nullptr) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        HANDLE printer = nullptr;
        if (printerName == nullptr || !OpenPrinterW(printerName, &printer, nullptr)) return FALSE;
        auto record = std::make_unique<PrivateDevmode>();
        const uint32_t rc = GetPrinterDevmode(printer, DriverModule(), *record, {}, 2);
        ClosePrinter(printer);
        if (rc & 0x8000) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        std::memcpy(out, record.get(), sizeof *record);
        return TRUE;
    }
    return FALSE;
}
