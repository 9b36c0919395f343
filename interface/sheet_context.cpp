#include "interface/sheet_context.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/loader.h"
#include "base/memory.h"
#include "base/text.h"
#include "common/res_ids.h"
#include "common/spooler_helpers.h"
#include "interface/control_records.h"
#include "interface/dialog_library.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {

namespace {

constexpr char kPrinterConfig[] = "PrinterConfig";
constexpr uint16_t kModelsWithConfig = 39;  // model codes below read "PrinterConfig"

uint16_t Ref(uint16_t word) { return static_cast<uint16_t>(word + 1); }

template <class T>
T* HeapNew(HANDLE heap, size_t count) {
    return static_cast<T*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(T) * std::max<size_t>(count, 1)));
}

char16_t* HeapCopy(HANDLE heap, const char16_t* text) {
    const std::u16string_view s = text ? std::u16string_view(text) : std::u16string_view();
    auto* out = HeapNew<char16_t>(heap, s.size() + 1);
    if (out != nullptr) std::copy(s.begin(), s.end(), out);
    return out;
}

// The fields that the administrator's configuration always decides, from a
// record built of the installation's defaults.
void TakeAdministeredFields(PrivateDevmode& to, const PrivateDevmode& from) {
    to.memoryMegabytes = from.memoryMegabytes;
    to.switch224 = from.switch224;
    to.collateAllowed = from.collateAllowed;
    to.installedSourceMask = from.installedSourceMask;
    to.installedOptions = from.installedOptions;
    to.duplexOptions = from.duplexOptions;
    to.count460 = from.count460;
    to.count461 = from.count461;
    to.switch1080 = from.switch1080;
    to.switch1090 = from.switch1090;
    to.option1229 = from.option1229;
    to.switch1236 = from.switch1236;
    to.cjkSwitch = from.cjkSwitch;
    if (to.model.flags394 & 0x4) to.accountTracking = from.accountTracking;
}

// The printer's defaults as the installation configured them: the names,
// the model's defaults, the configuration file and "DefDrvCfgData".
bool InstallationDefaults(HANDLE printer, const PRINTER_INFO_2W& info, PrivateDevmode& out) {
    std::memset(&out, 0, sizeof out);
    const std::string driver = WideToAnsi(info.pDriverName ? info.pDriverName : u"");
    CopyStringPadded(out.modelName, driver);
    const std::u16string_view device = info.pDriverName ? std::u16string_view(info.pDriverName) : u"";
    std::copy_n(device.begin(), std::min<size_t>(device.size(), CCHDEVICENAME - 1), out.dm.dmDeviceName);
    std::string name = WideToAnsi(info.pPrinterName ? info.pPrinterName : u"");
    if (name.starts_with("\\\\")) name = name.substr(name.find_last_of('\\') + 1);
    CopyStringPadded(out.printerName, name);
    BuildDefaultDevmode(DriverModule(), out, driver);
    DevmodeSources sources;
    const std::u16string_view printerName = info.pPrinterName ? std::u16string_view(info.pPrinterName) : u"";
    sources.ApplyDcdConfigFile(out, printer, DriverModelData());
    sources.LoadDevmodeTagList(out, printer, printerName, nullptr, false, DriverModelData());
    return true;
}

// Paper limits and font-set masks of the model (steps 5).
void ModelLimits(SheetContext& c, const PrivateDevmode& dm, const ModelData& model) {
    const auto limits = ReadModelResource<8>(model, res::kPaperLimits, Ref(dm.model.paperLimitsId));
    if (limits.present()) {
        for (size_t i = 0; i < 4; ++i) c.paperLimits[i] = limits.u16(2 * i);
    }
    for (const CodePageEntry& e : ReadCodePageList(model, Ref(dm.model.codePageId))) {
        if (auto masks = ReadCodePageRow(model, e.tableIndex)) {
            c.fontSetMask1 |= masks->first;
            c.fontSetMask2 |= masks->second;
        }
    }
}

// The tray and bin lists of the model (step 6). False when memory runs out.
bool TrayLists(SheetContext& c, const PrivateDevmode& dm, const ModelData& model) {
    const SourceTable sources = ReadSourceTable(model, Ref(dm.model.sourceTableId));
    c.paperSourceCount = static_cast<int32_t>(sources.entries.size());
    c.paperSourceListA = HeapNew<uint16_t>(c.heap, sources.entries.size());
    c.paperSourceListB = HeapNew<uint16_t>(c.heap, sources.entries.size());
    if (!c.paperSourceListA || !c.paperSourceListB) return false;
    for (size_t i = 0; i < sources.entries.size(); ++i) {
        c.paperSourceListA[i] = sources.entries[i].mask;
        c.paperSourceListB[i] = sources.entries[i].value;
    }

    const auto trays = ReadModelResource<48>(model, res::kTrayTable, Ref(dm.model.trayTableId));
    const size_t trayCount = trays.present() ? std::min<size_t>(trays.u16(0), (48 - 8) / 8) : 0;
    c.trayCount = static_cast<int32_t>(trayCount);
    c.trayStringIds = HeapNew<uint16_t>(c.heap, trayCount);
    c.trayCodes = HeapNew<uint16_t>(c.heap, trayCount);
    c.trayWords = HeapNew<uint16_t>(c.heap, trayCount);
    if (!c.trayStringIds || !c.trayCodes || !c.trayWords) return false;
    if (trayCount > 0) {
        HMODULE library = LoadDialogLibrary(static_cast<uint8_t>(dm.model.dialogSelector & 0xFF));
        using GetTrayId = uint32_t (*)(uint32_t);
        const auto get = library ? reinterpret_cast<GetTrayId>(GetProcAddress(library, "GetTrayID")) : nullptr;
        for (size_t i = 0; i < trayCount; ++i) {
            const size_t e = 8 + 8 * i;
            c.trayCodes[i] = trays.u16(e);
            c.trayStringIds[i] = get ? static_cast<uint16_t>(get(trays.u16(e + 4))) : 0;
            c.trayWords[i] = trays.u16(e + 6);
        }
        if (library) FreeLibrary(library);
    }

    // The names of the bins by their kind: the bin name strings of the
    // dialog library, in kind order.
    static constexpr uint16_t kBinNameIds[] = {3100, 3101, 3102, 3103, 3104, 3105, 3106, 3107, 3108, 3109};
    const auto bins = ReadModelResource<80>(model, res::kBinTable, Ref(dm.model.binTableId));
    const size_t binCount = bins.present() ? std::min<size_t>(bins.u16(0), (80 - 8) / 8) : 0;
    c.binCount = static_cast<int32_t>(binCount);
    if (binCount == 0) return true;
    c.binNames = HeapNew<uint16_t>(c.heap, binCount);
    c.binCodes = HeapNew<uint16_t>(c.heap, binCount);
    c.binWords = HeapNew<uint16_t>(c.heap, binCount);
    if (!c.binNames || !c.binCodes || !c.binWords) return false;
    for (size_t i = 0; i < binCount; ++i) {
        const size_t e = 8 + 8 * i;
        const uint16_t kind = bins.u16(e + 2);
        c.binNames[i] = kind < std::size(kBinNameIds) ? kBinNameIds[kind] : 0;
        c.binCodes[i] = bins.u16(e);
        c.binWords[i] = bins.u16(e + 4);
    }
    return true;
}

// "PrinterConfig" (step 8): read while it is there and led by 1, else
// computed from the model and written.
void InstalledOptions(SheetContext& c) {
    if (c.modelCode >= kModelsWithConfig) return;
    uint32_t stored[8] = {};
    DWORD type = 0, needed = 0;
    const DWORD rc = SplGetPrinterDataA(c.printer, const_cast<LPSTR>(kPrinterConfig), &type,
                                        reinterpret_cast<LPBYTE>(stored), sizeof stored, &needed);
    if (rc == ERROR_SUCCESS && needed == sizeof stored && stored[0] == 1) {
        std::copy_n(stored + 1, 7, c.installedOptions);
        return;
    }
    const auto options = ReadPrinterConfig(c);
    std::copy(options.begin(), options.end(), c.installedOptions);
    stored[0] = 1;
    std::copy(options.begin(), options.end(), stored + 1);
    SplSetPrinterDataA(c.printer, const_cast<LPSTR>(kPrinterConfig), REG_BINARY, reinterpret_cast<LPBYTE>(stored),
                       sizeof stored);
}

SheetContext* Fail(HANDLE heap) {
    HeapDestroy(heap);
    return nullptr;
}

}  // namespace

const ModelData& DriverModelData() {
    // The data follows the driver module: a driver loaded again may come
    // back under another handle.
    static std::unique_ptr<ModuleModelData> data;
    static HMODULE seen = nullptr;
    const HMODULE module = DriverModule();
    if (!data || seen != module) {
        data = std::make_unique<ModuleModelData>(module);
        seen = module;
    }
    return *data;
}

PrivateDevmode& WorkingDevmode(SheetContext& context) {
    return *reinterpret_cast<PrivateDevmode*>(context.workingDevmode);
}
PrivateDevmode& DefaultDevmode(SheetContext& context) {
    return *reinterpret_cast<PrivateDevmode*>(context.defaultDevmode);
}

SheetContext* CreateUiState(HANDLE printer, const DEVMODEW* application) {
    HANDLE heap = HeapCreate(HEAP_NO_SERIALIZE, 8192, 0);
    if (heap == nullptr) return nullptr;
    auto* c = HeapNew<SheetContext>(heap, 1);
    if (c == nullptr) return Fail(heap);
    c->selfFirst = c;
    c->selfLast = c;
    c->printer = printer;
    c->heap = heap;

    DWORD needed = 0;
    SplGetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2W)) return Fail(heap);
    auto* infoBytes = HeapNew<BYTE>(heap, needed);
    if (infoBytes == nullptr || !SplGetPrinterW(printer, 2, infoBytes, needed, &needed)) return Fail(heap);
    const auto& info = *reinterpret_cast<const PRINTER_INFO_2W*>(infoBytes);
    c->driverName = HeapCopy(heap, info.pDriverName);
    c->printerName = HeapCopy(heap, info.pPrinterName);
    std::string ansi = WideToAnsi(info.pPrinterName ? info.pPrinterName : u"");
    // A double-byte code page keeps at most 32 bytes of the ANSI name.
    if (GetCjkCodePage() != 0 && ansi.size() > 32) ansi.resize(32);
    c->printerNameAnsi = HeapNew<char>(heap, ansi.size() + 1);
    c->workingDevmode = HeapNew<uint8_t>(heap, kSheetDevmodeBuffer);
    c->defaultDevmode = HeapNew<uint8_t>(heap, kSheetDevmodeBuffer);
    if (!c->driverName || !c->printerName || !c->printerNameAnsi || !c->workingDevmode || !c->defaultDevmode)
        return Fail(heap);
    std::memcpy(c->printerNameAnsi, ansi.data(), ansi.size());

    // The printer's record with the caller's merged in when it is valid.
    PrivateDevmode& working = WorkingDevmode(*c);
    std::span<const uint8_t> caller;
    if (application != nullptr)
        caller = {reinterpret_cast<const uint8_t*>(application),
                  static_cast<size_t>(application->dmSize) + application->dmDriverExtra};
    if ((GetPrinterDevmode(printer, DriverModule(), working, caller, caller.empty() ? 2 : 10) & 0x8000) != 0)
        return Fail(heap);

    // What the administrator configured stays, whatever the caller asked.
    auto installation = std::make_unique<PrivateDevmode>();
    InstallationDefaults(printer, info, *installation);
    TakeAdministeredFields(working, *installation);
    SetDevmodeCrc(working);

    const ModelData& model = DriverModelData();
    ModelLimits(*c, working, model);
    if (!TrayLists(*c, working, model)) return Fail(heap);

    c->outsideUsa = isUSA() ? 0 : 1;
    c->modelCode = working.model.modelCode;
    c->helpFile = GetHelpFileName(printer, heap);
    std::memcpy(c->modelName, working.modelName, sizeof c->modelName);
    InstalledOptions(*c);

    const ModelRecord& m = working.model;
    const uint16_t words[7] = {m.flags400, m.flags392, m.flags394, m.dialogSelector, m.webPrinterCode, m.printRate,
                               m.paperTableRow};
    std::copy(std::begin(words), std::end(words), c->modelWords);
    c->driverModule = DriverModule();
    std::strcpy(c->constraintProcedure, "RefreshProc");
    for (auto& buffer : c->watermarkBuffers) {
        buffer = HeapNew<uint8_t>(heap, kWatermarkBufferSize);
        if (buffer == nullptr) return Fail(heap);
    }
    c->mayAdminister = CanOpenPrinterW(c->printerName) ? 1 : 0;
    c->contextReady = 1;
    HeapFree(heap, 0, infoBytes);
    return c;
}

bool IsValidSheetContext(const SheetContext* context) {
    return context != nullptr && context->selfFirst == context && context->selfLast == context;
}

void DestroySheetContext(SheetContext* context) {
    if (!IsValidSheetContext(context)) return;
    FreeSheetControlRecords(*context);
    for (HMODULE* m : {&context->pictureResources, &context->pictureLibrary, &context->dialogModule}) {
        if (*m != nullptr) FreeLibrary(*m);
        *m = nullptr;
    }
    HeapDestroy(context->heap);
}

int BuildSheetControlRecords(SheetContext& context, const PrivateDevmode& defaults) {
    FreeSheetControlRecords(context);
    std::memcpy(context.defaultDevmode, &defaults, sizeof defaults);
    ControlContext owner{&DriverModelData(), &WorkingDevmode(context), &DefaultDevmode(context)};
    const uint32_t token = RegisterControlContext(owner);
    ControlLists lists;
    if (BuildControlRecords(lists, token, WorkingDevmode(context), DefaultDevmode(context), DriverModelData()) != 0 ||
        lists.working.empty()) {
        UnregisterControlContext(token);
        return -1;
    }
    const size_t size = lists.working.size();
    HGLOBAL working = GlobalAlloc(GMEM_FIXED, size);
    HGLOBAL saved = GlobalAlloc(GMEM_FIXED, size);
    if (working == nullptr || saved == nullptr) {
        if (working) GlobalFree(working);
        if (saved) GlobalFree(saved);
        UnregisterControlContext(token);
        return -1;
    }
    std::memcpy(working, lists.working.data(), size);
    std::memcpy(saved, lists.saved.data(), size);
    context.controlRecords = working;
    context.savedControlRecords = saved;
    context.controlRecordSize = static_cast<uint32_t>(size);
    std::array<uint8_t*, kControlTypeSlots> byType{};
    IndexControlRecords({static_cast<uint8_t*>(working), size}, byType);
    std::copy(byType.begin(), byType.end(), context.recordByType);
    IndexControlRecords({static_cast<uint8_t*>(saved), size}, byType);
    std::copy(byType.begin(), byType.end(), context.savedRecordByType);
    return 0;
}

void FreeSheetControlRecords(SheetContext& context) {
    if (context.controlRecords != nullptr && context.controlRecordSize >= sizeof(ListHeaderRecord)) {
        ListHeaderRecord header;
        std::memcpy(&header, context.controlRecords, sizeof header);
        UnregisterControlContext(header.contextToken);
    }
    for (HGLOBAL* list : {&context.controlRecords, &context.savedControlRecords}) {
        if (*list != nullptr) GlobalFree(*list);
        *list = nullptr;
    }
    context.controlRecordSize = 0;
    std::fill(std::begin(context.recordByType), std::end(context.recordByType), nullptr);
    std::fill(std::begin(context.savedRecordByType), std::end(context.savedRecordByType), nullptr);
}

std::array<uint32_t, 7> ReadPrinterConfig(SheetContext& context) {
    std::array<uint32_t, 7> options{};
    const PrivateDevmode& dm = WorkingDevmode(context);
    const ModelData& model = DriverModelData();
    std::memcpy(context.modelName, dm.modelName, sizeof context.modelName);
    auto setSourceOption = [&](uint16_t value) {
        options[5] = (options[5] & 0xFFFF0000u) | value;
    };
    auto flagByte = [&](uint32_t bit) { options[0] |= bit << 24; };
    const SourceTable sources = ReadSourceTable(model, Ref(dm.model.sourceTableId));
    const auto trays = ReadModelResource<48>(model, res::kTrayTable, Ref(dm.model.trayTableId));
    if (sources.present && trays.present()) {
        if (sources.defaultIndex < sources.entries.size()) {
            switch (sources.entries[sources.defaultIndex].trayId) {
                case 3: setSourceOption(7); break;
                case 5:
                case 6:
                    setSourceOption(6);
                    if (context.modelCode == 35 || context.modelCode == 38) {
                        context.installedOptions[5] = (context.installedOptions[5] & 0xFFFF0000u) | 1;
                    }
                    break;
                case 8: setSourceOption(8); break;
                case 9: setSourceOption(1); break;
                case 10: setSourceOption(2); break;
                case 11: setSourceOption(3); break;
                case 12: setSourceOption(4); break;
                case 13: setSourceOption(5); break;
                default: setSourceOption(0); break;
            }
        }
        const uint16_t installedTrays = trays.u16(2);
        for (const SourceEntry& e : sources.entries) {
            if ((e.mask & installedTrays) == 0) continue;
            const uint32_t v = e.value & 3u;
            switch (e.trayId) {
                case 3: options[0] = (options[0] & ~0x3000u) | 0x1000u; break;
                case 8: flagByte(0x8); break;
                case 9: options[0] = (options[0] & ~0x300u) | (v << 8); break;
                case 10: options[0] = (options[0] & ~0xC0u) | (v << 6); break;
                case 11: options[0] = (options[0] & ~0x30u) | (v << 4); break;
                case 12: options[0] = (options[0] & ~0xCu) | (v << 2); break;
                case 13: options[0] = (options[0] & ~0x3u) | v; break;
                default: break;
            }
        }
    }
    const auto bins = ReadModelResource<80>(model, res::kBinTable, Ref(dm.model.binTableId));
    if (bins.present()) {
        const size_t count = std::min<size_t>(bins.u16(0), (80 - 8) / 8);
        for (size_t i = 0; i < count; ++i) {
            const size_t e = 8 + 8 * i;
            if ((bins.u16(e) & bins.u16(2)) == 0) continue;
            const uint16_t kind = bins.u16(e + 2);
            if (kind == 0) options[0] = (options[0] | (1u << 14)) & ~((1u << 15) | (1u << 16));
            if (kind == 7) options[0] = (options[0] & ~((1u << 14) | (1u << 15) | (1u << 17) | (1u << 18))) |
                                        (1u << 16) | (1u << 19);
        }
    }
    if (dm.model.flags398 & 0x4) flagByte(0x4);
    return options;
}

void MapDefaultSourceToTray(SheetContext& context) {
    const PrivateDevmode& dm = WorkingDevmode(context);
    uint16_t option = 0;
    switch (dm.dm.dmDefaultSource) {
        case 1: option = 1; break;
        case 2: option = 2; break;
        case 3: option = 3; break;
        case 4:
        case 6: option = (context.modelCode == 35 || context.modelCode == 38) ? 1 : 6; break;
        case 5: option = 7; break;
        case 14: option = 8; break;
        case 257: option = 4; break;
        case 258: option = 5; break;
        default: option = 0; break;
    }
    context.installedOptions[5] = option | (static_cast<uint32_t>(dm.option448) << 16);
}

bool CanOpenPrinter(const char* name) {
    return name != nullptr && CanOpenPrinter(std::string_view(name));
}

bool CanOpenPrinterW(const char16_t* name) {
    return name != nullptr && CanOpenPrinter(std::u16string_view(name));
}

bool IsShellHostName(std::string_view processPath) {
    const size_t cut = processPath.find_last_of("\\/");
    std::string base(cut == std::string_view::npos ? processPath : processPath.substr(cut + 1));
    if (base.size() > 260) return false;
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return base == "explorer.exe" || base == "zeldcm.exe";
}

bool IsShellHost() {
    char path[261] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path - 1);
    return n > 0 && IsShellHostName(std::string_view(path, n));
}

char16_t* GetHelpFileName(HANDLE printer, HANDLE heap) {
    DWORD needed = 0;
    SplGetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    if (needed >= sizeof(DRIVER_INFO_3W)) {
        HGLOBAL block = GlobalAlloc(GMEM_FIXED, needed);
        if (block && SplGetPrinterDriverW(printer, nullptr, 3, static_cast<LPBYTE>(block), needed, &needed)) {
            const auto* d3 = static_cast<const DRIVER_INFO_3W*>(block);
            if (d3->pHelpFile && *d3->pHelpFile) {
                char16_t* out = HeapCopy(heap, d3->pHelpFile);
                GlobalFree(block);
                return out;
            }
        }
        if (block) GlobalFree(block);
    }
    char16_t path[261] = {};
    const DWORD n = GetModuleFileNameW(DriverModule(), path, 260);
    std::u16string dir(path, std::min<DWORD>(n, 260));
    const size_t cut = dir.find_last_of(u"\\/");
    dir.resize(cut == std::u16string::npos ? 0 : cut);
    dir += u"\\drvui.hlp";
    return HeapCopy(heap, dir.c_str());
}

}  // namespace zq
