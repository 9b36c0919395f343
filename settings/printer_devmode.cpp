#include "settings/printer_devmode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/msgbox.h"
#include "base/text.h"
#include "common/res_ids.h"
#include "interface/renderer_ini.h"
#include "interface/ui_utils.h"
#include "settings/config_data.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/paper_resolution.h"
#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {

namespace {

constexpr char kCurrentDevmode[] = "CurrentDevmode";
constexpr char kCurrentDefaultDevmode[] = "CurrentDefaultDevMode";
constexpr char kSwEnable[] = "SWEnable";

std::string ToAnsi(const WCHAR* text) {
    if (text == nullptr) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n - 1));
    return s;
}

// The printer's level-2 information in a buffer that owns its strings.
struct PrinterInfo {
    std::vector<uint8_t> buffer;
    const PRINTER_INFO_2W* info() const { return reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data()); }
};

std::optional<PrinterInfo> ReadPrinterInfo(HANDLE printer) {
    // Most records fit the first buffer: one call reads them.
    PrinterInfo p;
    p.buffer.resize(4096);
    DWORD needed = 0;
    if (GetPrinterW(printer, 2, p.buffer.data(), static_cast<DWORD>(p.buffer.size()), &needed)) {
        return p;
    }
    if (needed < sizeof(PRINTER_INFO_2W)) {
        return std::nullopt;
    }
    p.buffer.resize(needed);
    if (!GetPrinterW(printer, 2, p.buffer.data(), needed, &needed)) {
        return std::nullopt;
    }
    return p;
}

// The fields that belong to the printer rather than to a document: they
// follow the printer's default whatever the stored record says.
void CopyPrinterScopeFields(PrivateDevmode& to, const PrivateDevmode& from) {
    to.switch224 = from.switch224;
    to.memoryMegabytes = from.memoryMegabytes;
    to.duplexOptions = from.duplexOptions;
    to.count460 = from.count460;
    to.count461 = from.count461;
    to.installedSourceMask = from.installedSourceMask;
    to.installedOptions = from.installedOptions;
    to.switch1080 = from.switch1080;
    to.switch1090 = from.switch1090;
    to.collateAllowed = from.collateAllowed;
    to.cjkSwitch = from.cjkSwitch;
    to.option1229 = from.option1229;
    to.switch1236 = from.switch1236;
    if (to.model.flags394 & 0x4) {
        to.accountTracking = from.accountTracking;
    }
}

bool ValidCodePage(uint32_t codePage) {
    return IsValidCodePage(codePage) != FALSE;
}

void WriteRecord(HANDLE printer, const char* name, const PrivateDevmode& record) {
    PrivateDevmode copy = record;
    SetPrinterDataA(printer, const_cast<LPSTR>(name), REG_BINARY, reinterpret_cast<LPBYTE>(&copy), sizeof copy);
}

}  // namespace

std::optional<std::vector<uint8_t>> DevmodeSources::ReadUserDevmode(HANDLE printer, HKEY userKey) {
    std::vector<uint8_t> bytes(kPrivateDevmodeSize);
    if (zq::ReadUserDevmode(printer, userKey, u"CurrentDevmode", bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return bytes;
}

bool DevmodeSources::ApplyDcdConfigFile(PrivateDevmode& record, HANDLE printer, const ModelData& model) {
    return zq::ApplyDcdConfigFile(record, printer, &model) == 1;
}

bool DevmodeSources::LoadDevmodeTagList(PrivateDevmode& record, HANDLE printer, std::u16string_view printerName,
                                        HKEY userKey, bool perUserFirst, const ModelData& model) {
    return zq::LoadDevmodeTagList(printerName, kDefDrvCfgData, record, printer, false, !perUserFirst, &model,
                                  &userKey) != FALSE;
}

void DevmodeSources::StoreDevmodeTagList(const PrivateDevmode& record, HANDLE printer, std::u16string_view printerName,
                                         const ModelData& model) {
    zq::StoreDevmodeTagList(printerName, kDefDrvCfgData, record, printer, true, &model);
}

void DevmodeSources::UpdateRendererIni(HANDLE printer, std::u16string_view printerName) {
    zq::UpdateRendererIni(printerName, printer);
}

uint32_t GetCjkCodePage() {
    const UINT cp = GetACP();
    return (cp == 932 || cp == 936 || cp == 949 || cp == 950) ? cp : 0;
}

void BuildDefaultDevmode(HMODULE module, PrivateDevmode& record, std::string_view driverName) {
    BuildDefaultDevmode(module, record, driverName, -1);
}

void BuildDefaultDevmode(HMODULE module, PrivateDevmode& record, std::string_view driverName, int knownIndex) {
    int index = knownIndex >= 0 ? knownIndex : FindModelIndex(module, driverName);
    if (index < 0) {
        index = 0;
    }
    // The model string and record are looked at first only to tell the
    // user when the driver's data is broken; each box says what it found
    // missing, and building goes on regardless.
    const LoadedModel loaded = LoadModelRecord(module, index);
    if (!loaded.nameLoaded) {
        char text[96];
        std::snprintf(text, sizeof text, "hInst=%X(%X), resId=%d",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)),
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)), res::kModelStringBase);
        MessageBoxA(nullptr, text, "LoadString failed", MB_OK);
    }
    if (!loaded.recordLoaded) {
        const std::string modelName(record.modelName, strnlen(record.modelName, sizeof record.modelName));
        char text[96];
        std::snprintf(text, sizeof text, "%s (%d)", modelName.c_str(), index);
        MessageBoxA(nullptr, text, "GetPrtrInfo failed", MB_OK);
    }
    BuildDefaultDevmode(record, ModuleModelData(module), {isUSA() != FALSE, GetACP(), index});
}

namespace {

// A record holding only the names that identify the printer: its name, its
// driver's name (239, cut to the field) and its name without a server part.
PrivateDevmode PrinterNames(const PRINTER_INFO_2W& info) {
    PrivateDevmode record;
    std::memset(&record, 0, sizeof record);
    const WCHAR* name = info.pPrinterName;
    if (name != nullptr) {
        const std::u16string_view wide(name);
        std::copy_n(wide.begin(), std::min<size_t>(wide.size(), CCHDEVICENAME - 1), record.dm.dmDeviceName);
    }
    CopyStringPadded(record.modelName, ToAnsi(info.pDriverName));
    // A connection's name "\\server\queue" keeps only the queue.
    std::string printerName = ToAnsi(name);
    if (printerName.starts_with("\\\\")) {
        const size_t slash = printerName.find('\\', 2);
        printerName = slash == std::string::npos ? std::string() : printerName.substr(slash + 1);
    }
    CopyStringPadded(record.printerName, printerName);
    return record;
}

// The printer's default: the model comes from the whole driver name, which
// field 239 may hold only in part.
void BuildPrinterDefault(HMODULE module, const PRINTER_INFO_2W& info, PrivateDevmode& record, int knownIndex = -1) {
    record = PrinterNames(info);
    BuildDefaultDevmode(module, record, ToAnsi(info.pDriverName), knownIndex);
}

}  // namespace

bool BuildPrinterDefaultDevmode(HMODULE module, HANDLE printer, PrivateDevmode& record) {
    const auto info = ReadPrinterInfo(printer);
    if (!info) {
        return false;
    }
    BuildPrinterDefault(module, *info->info(), record);
    return true;
}

int LoadOrRebuildPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out, DevmodeSources& sources) {
    const auto info = ReadPrinterInfo(printer);
    if (!info) {
        return 0;
    }
    const ModuleModelData model(module);
    const PrivateDevmode names = PrinterNames(*info->info());
    PrivateDevmode def;

    // A stored record is used only while it is valid and made for the
    // printer's current model: after a driver change its model data would
    // be another model's. The default is built once either way, so that a
    // box about broken model data shows once.
    const std::u16string printerWide = info->info()->pPrinterName != nullptr ? info->info()->pPrinterName : u"";
    // The user's key is opened once: both the record and the tag list are
    // read from it.
    struct UserKey {
        HKEY key;
        ~UserKey() {
            if (key != nullptr) RegCloseKey(key);
        }
    };
    const auto keyName = PrinterNameToKeyName(printerWide.c_str());
    const UserKey userKey{keyName ? OpenUserPrinterKeyForRead(printer, keyName->c_str()) : nullptr};
    const auto stored = sources.ReadUserDevmode(printer, userKey.key);
    std::optional<PrivateDevmode> current = stored ? DevmodeFromBytes(*stored) : std::nullopt;
    if (current && IsValidPrivateDevmode(*current) && SameModelName(*current, names)) {
        // The default is built for the model the stored record was made
        // for, found by its display name: its printer fields then belong to
        // the record's own model, and pclrend.ini need not be read at every
        // load. A name no model has any more takes the INI's model.
        const std::string display(current->modelDisplayName,
                                  strnlen(current->modelDisplayName, sizeof current->modelDisplayName));
        BuildPrinterDefault(module, *info->info(), def, FindModelIndexByName(model, display));
        sources.ApplyDcdConfigFile(def, printer, model);
        sources.LoadDevmodeTagList(def, printer, printerWide, userKey.key, true, model);
        CopyPrinterScopeFields(*current, def);
        RestrictFontSetsByCodePage(*current, model, ValidCodePage);
        out = *current;
        return 1;
    }

    sources.UpdateRendererIni(printer, printerWide);
    BuildPrinterDefault(module, *info->info(), def);
    const BYTE defaultSwEnable = def.swEnable;
    const bool configApplied = sources.ApplyDcdConfigFile(def, printer, model);
    WriteRecord(printer, kCurrentDefaultDevmode, def);
    bool tagsApplied = false;
    if (!configApplied) {
        tagsApplied = sources.LoadDevmodeTagList(def, printer, printerWide, userKey.key, false, model);
        if (tagsApplied) {
            def.profileKind = 0;
            std::memset(def.profileId, 0, sizeof def.profileId);
        }
    }
    PrivateDevmode result = def;
    if (!configApplied && !tagsApplied) {
        const DEVMODEW* own = info->info()->pDevMode;
        if (own != nullptr) {
            const size_t size = static_cast<size_t>(own->dmSize) + own->dmDriverExtra;
            const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(own), size);
            const auto whole = DevmodeFromBytes(bytes);
            if (whole && IsValidPrivateDevmode(*whole) && SameModelName(*whole, def)) {
                result = *whole;
            } else {
                // Another model's record gives its public part only.
                ValidateDevmodeForModel(result, bytes, def, model,
                                        PrinterFormEnvironment(ToAnsi(info->info()->pPrinterName), printer, model, def));
            }
        }
    }
    PrivateDevmode printerScope = def;
    sources.LoadDevmodeTagList(printerScope, printer, printerWide, userKey.key, false, model);
    CopyPrinterScopeFields(result, printerScope);

    const std::string printerName = ToAnsi(info->info()->pPrinterName);
    if (!IsOvraName(printerName) && result.swEnable != defaultSwEnable) {
        BYTE value = result.swEnable;
        SetPrinterDataA(printer, const_cast<LPSTR>(kSwEnable), REG_BINARY, &value, 1);
    }
    SetDevmodeCrc(result);
    WriteRecord(printer, kCurrentDevmode, result);
    sources.StoreDevmodeTagList(result, printer, printerWide, model);
    RestrictFontSetsByCodePage(result, model, ValidCodePage);
    out = result;
    return 1;
}

uint32_t GetPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out,
                           std::span<const uint8_t> application, uint32_t flags, DevmodeSources& sources) {
    auto record = std::make_unique<PrivateDevmode>();
    if (LoadOrRebuildPrinterDevmode(printer, module, *record, sources) != 1) {
        return kDevmodeFailure;
    }
    if ((flags & kMergeApplicationDevmode) != 0 && !application.empty()) {
        auto merged = std::make_unique<PrivateDevmode>();
        const ModuleModelData model(module);
        const auto name = PrinterNameOf(printer);
        ValidateDevmodeForModel(*merged, application, *record, model,
                                PrinterFormEnvironment(name ? WideToAnsi(*name) : std::string(), printer, model, *record));
        *record = *merged;
    }
    SetDevmodeCrc(*record);
    out = *record;
    return 1;
}

uint32_t GetPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out,
                           std::span<const uint8_t> application, uint32_t flags) {
    DevmodeSources sources;
    return GetPrinterDevmode(printer, module, out, application, flags, sources);
}

}  // namespace zq
