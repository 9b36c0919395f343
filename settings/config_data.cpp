#include "settings/config_data.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/msgbox.h"
#include "base/loader.h"
#include "base/paths.h"
#include "base/text.h"
#include "interface/dialog_library.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_data_values.h"
#include "settings/printer_devmode.h"
#include "settings/profiles.h"
#include "settings/tag_list.h"
#include "settings/tag_tables.h"
#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {
namespace {

// Frees a context at the end of a scope.
struct ScopedTagList {
    TagListContext* context = nullptr;
    ScopedTagList() { TagListCreate(&context); }
    ~ScopedTagList() { TagListDestroy(&context); }
};

// Closes a printer opened here.
struct ScopedPrinter {
    HANDLE handle = nullptr;
    ~ScopedPrinter() {
        if (handle != nullptr) ClosePrinter(handle);
    }
};

std::u16string NameOrPrinters(std::u16string_view printerName, HANDLE printer) {
    if (!printerName.empty()) return std::u16string(printerName);
    return PrinterNameOf(printer).value_or(u"");
}

template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// The driver's model data when the caller has none at hand.
struct ModelOrDriver {
    std::unique_ptr<ModuleModelData> own;
    const ModelData* model;
    explicit ModelOrDriver(const ModelData* given) : model(given) {
        if (model == nullptr) {
            own = std::make_unique<ModuleModelData>(DriverModule());
            model = own.get();
        }
    }
};

// Opens a printer with full access, else with none asked for.
HANDLE OpenPrinterForSettings(const std::string& name) {
    if (name.empty()) return nullptr;
    std::string copy = name;
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(copy.data(), &printer, &defaults)) return printer;
    if (OpenPrinterA(copy.data(), &printer, nullptr)) return printer;
    return nullptr;
}

// Writes binary printer data only when its bytes differ from the stored
// ones, so that loading settings again writes nothing.
void WriteIfChanged(HANDLE printer, const char* name, std::span<const uint8_t> bytes) {
    const PrinterDataBytes stored = ReadPrinterDataBytes(printer, name);
    if (stored.status == ValueRead::Ok && stored.type == REG_BINARY &&
        std::equal(stored.bytes.begin(), stored.bytes.end(), bytes.begin(), bytes.end())) {
        return;
    }
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    SetPrinterDataA(printer, const_cast<LPSTR>(name), REG_BINARY, copy.data(), static_cast<DWORD>(copy.size()));
}

// A translated text used as a format: each "%s" takes the next argument
// (nothing once they run out), "%%" is one percent sign, and any other
// conversion is kept as text, so a translation cannot make the driver read
// arguments it was not given.
std::string SubstituteArguments(std::string_view format, std::initializer_list<std::string_view> arguments) {
    std::string out;
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                if (next != arguments.end()) out += *next++;
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

// The dialog library's logical strings joined, within `limit` bytes.
std::string JoinedStrings(HMODULE dialogs, std::initializer_list<uint32_t> ids, size_t limit) {
    std::string text;
    for (uint32_t id : ids) {
        char part[1024] = {};
        if (CallLoadXlatedString(dialogs, 0, id, part, sizeof part - 1) <= 0) continue;
        text += part;
        if (text.size() >= limit) {
            text.resize(limit - 1);
            break;
        }
    }
    return text;
}

constexpr size_t kBoxTextLimit = 4096;

// Tells the user that the configuration file could not be read; IDRETRY
// when the user asks to try again.
int ShowConfigFileError(const PrivateDevmode& record, const std::string& printerName) {
    HMODULE dialogs = LoadDialogLibrary(static_cast<uint8_t>(record.model.dialogSelector & 0xFF));
    std::string format = JoinedStrings(dialogs, {3, 4, 5}, kBoxTextLimit);
    std::string caption = JoinedStrings(dialogs, {2}, 256);
    if (dialogs != nullptr) FreeLibrary(dialogs);
    if (format.empty()) format = "The configuration file for %s could not be read.";
    if (caption.empty() || format.size() + 1 >= kBoxTextLimit) caption = printerName;
    const std::string text = SubstituteArguments(format, {printerName});
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_RETRYCANCEL | MB_ICONWARNING);
}

void ShowPwConfigWarning(const PrivateDevmode& record, const std::string& printerName, const std::string& path,
                         const std::string& configName) {
    HMODULE dialogs = LoadDialogLibrary(static_cast<uint8_t>(record.model.dialogSelector & 0xFF));
    std::string format = JoinedStrings(dialogs, {1}, kBoxTextLimit);
    if (dialogs != nullptr) FreeLibrary(dialogs);
    if (format.empty()) format = "The configuration file %s (%s) could not be applied.";
    const std::string text = SubstituteArguments(format, {path, configName});
    MessageBoxA(nullptr, text.c_str(), printerName.c_str(), MB_OK | MB_ICONWARNING);
}

std::u16string ReadRegistryText(HKEY key, const char16_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0) return {};
    std::vector<uint8_t> bytes(size + 2);
    if (RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return text;
}

DWORD ReadRegistryDword(HKEY key, const char16_t* name) {
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return 0;
    }
    return value;
}

void CopyTextToPrinterData(HANDLE printer, const char16_t* name, const std::u16string& text) {
    std::u16string value(name);
    SetPrinterDataW(printer, value.data(), REG_SZ, reinterpret_cast<LPBYTE>(const_cast<char16_t*>(text.c_str())),
                    static_cast<DWORD>((text.size() + 1) * 2));
}

// Reads and imports a configuration file, offering to try again while it
// fails. True when it was applied.
bool ApplyFileWithRetry(PrivateDevmode& record, HANDLE printer, const ModelData* model,
                        const std::string& printerName, const std::string& path, const std::string& description,
                        uint32_t flag) {
    for (;;) {
        const int result = LoadDcdFile(printerName.c_str(), path.c_str(), description.c_str(), flag, kScopeAll,
                                       record, printer, model);
        if (result == 1) return true;
        if (result < 0) return false;  // the missing library was told already
        if (ShowConfigFileError(record, printerName) != IDRETRY) return false;
    }
}

// The file "PWConfigFlag" points to: in the system directory, else in the
// Windows directory.
bool ApplyPwConfig(PrivateDevmode& record, HANDLE printer, const ModelData* model, const std::string& printerName) {
    if (ReadPrinterDataBytes(printer, "PWConfigFlag").status != ValueRead::Ok) return false;
    auto text = [&](const char* name, size_t limit) {
        const PrinterDataBytes value = ReadPrinterDataBytes(printer, name);
        std::string s(value.bytes.begin(), value.bytes.begin() + std::min(value.bytes.size(), limit));
        s.resize(strnlen(s.c_str(), s.size()));
        return s;
    };
    const std::string configName = text("PWConfigName", 256);
    const std::string file = text("PWConfigFile", 260);
    std::string path;
    for (const std::u16string& directory : {SystemDirectory(), WindowsDirectory()}) {
        const std::string candidate = WideToAnsi(directory) + "\\" + file;
        const auto mapped = MapPath(AnsiToWide(candidate));
        if (!file.empty() && mapped && std::filesystem::is_regular_file(*mapped)) {
            path = candidate;
            break;
        }
    }
    int result = 0;
    if (!path.empty()) {
        result = LoadDcdFile(printerName.c_str(), path.c_str(), configName.c_str(), 0, kScopeAll, record, printer,
                             model);
        if (result == 1) return true;
    }
    if (result >= 0) ShowPwConfigWarning(record, printerName, path.empty() ? file : path, configName);
    return false;
}

}  // namespace

uint32_t DevmodeToTagList(const PrivateDevmode& record, uint32_t scope, HGLOBAL* list, uint32_t* length,
                          std::string_view printerName, HANDLE printer, bool profile, const ModelData* model) {
    if (list == nullptr || length == nullptr) return kCfgNothingProduced;
    if (*list != nullptr) return kCfgNotApplied;
    *length = 0;
    ScopedTagList writer;
    if (writer.context == nullptr) return kCfgNothingProduced;
    const ModelOrDriver data(model);
    auto copy = std::make_unique<PrivateDevmode>(record);
    DvCfgContext context;
    context.scope = scope;
    context.printerName = std::string(printerName);
    context.printer = printer;
    context.profile = profile;
    context.record = copy.get();
    context.model = data.model;
    if (DevmodeToTagList(context, &writer.context) <= 0) return kCfgNothingProduced;
    const std::span<const uint8_t> bytes = TagListBytes(writer.context);
    if (bytes.empty()) return kCfgNothingProduced;
    HGLOBAL block = GlobalAlloc(GPTR, bytes.size());
    if (block == nullptr) return kCfgNothingProduced;
    std::memcpy(block, bytes.data(), bytes.size());
    *list = block;
    *length = static_cast<uint32_t>(bytes.size());
    return kCfgOk;
}

BOOL StoreDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, const PrivateDevmode& record,
                         HANDLE printer, bool printerDataOnly, const ModelData* model) {
    ScopedTagList list;
    if (list.context == nullptr) return FALSE;
    auto copy = std::make_unique<PrivateDevmode>(record);
    const std::u16string name = NameOrPrinters(printerName, printer);
    DvCfgContext context;
    // Scopes 1 and 2 only: the printer's lists (watermarks and the rest)
    // would make the stored configuration carry them twice.
    context.scope = kScopeDocument | kScopePrinter;
    context.printerName = WideToAnsi(name);
    context.printer = printer;
    context.record = copy.get();
    context.model = model;
    if (DevmodeToTagList(context, &list.context) <= 0) return FALSE;
    return StoreTagList(&list.context, name, valueName, printer, printerDataOnly);
}

BOOL LoadDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, PrivateDevmode& record,
                        HANDLE printer, bool updatePrinterData, bool printerDataOnly, const ModelData* model,
                        const HKEY* userKey) {
    ScopedTagList list;
    if (list.context == nullptr) return FALSE;
    const std::u16string name = NameOrPrinters(printerName, printer);
    if (!LoadTagList(&list.context, valueName, printer, printerDataOnly, userKey)) return FALSE;
    auto working = std::make_unique<PrivateDevmode>(record);
    DvCfgContext context;
    context.scope = kScopeAll;
    context.printerName = WideToAnsi(name);
    context.printer = printer;
    context.updatePrinterData = updatePrinterData;
    context.record = working.get();
    context.model = model;
    if (ImportTagList(context, &list.context) <= 0) return FALSE;
    record = *working;
    return TRUE;
}

int ApplyTagListToDevmode(std::string_view printerName, std::span<const uint8_t> list, uint32_t scope,
                          PrivateDevmode& record, HANDLE printer, bool updatePrinterData, const ModelData* model) {
    if (list.empty()) return 0;
    ScopedTagList reader;
    if (reader.context == nullptr || !TagListAttach(&reader.context, list.data(), list.size())) return 0;
    const ModelOrDriver data(model);
    auto working = std::make_unique<PrivateDevmode>(record);
    DvCfgContext context;
    context.scope = scope;
    context.printerName = std::string(printerName);
    if (context.printerName.empty()) context.printerName = WideToAnsi(PrinterNameOf(printer).value_or(u""));
    context.printer = printer;
    context.updatePrinterData = updatePrinterData;
    context.record = working.get();
    context.model = data.model;
    if (ImportTagList(context, &reader.context) <= 0) return 0;
    working->profileKind = 0;
    std::memset(working->profileId, 0, sizeof working->profileId);
    record = *working;
    return 1;
}

uint32_t ApplyInstalledDocDefaults(std::string_view printerName, uint32_t scope, PrivateDevmode& record,
                                   HANDLE printer, const ModelData* model) {
    // A value that cannot be read stays as it is: the defaults serve.
    const PrinterDataBytes stored = ReadPrinterDataBytes(printer, "DCD_InstalledDocDefaults");
    if (stored.status != ValueRead::Ok) return kCfgNotApplied;
    return ApplyTagListToDevmode(printerName, stored.bytes, scope, record, printer, false, model) == 1
               ? kCfgOk
               : kCfgNotApplied;
}

int ApplyDcdConfigFile(PrivateDevmode& record, HANDLE printer, const ModelData* model) {
    const std::string printerName = FieldText(record.printerName);
    const std::string keyPath = std::string(kDrvCfgKeyFormat) + printerName;
    HKEY key = nullptr;
    const bool keyFound = !printerName.empty() &&
                          RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    std::u16string file, description;
    DWORD remote = 0;
    if (keyFound) {
        file = ReadRegistryText(key, u"DCDConfigFile");
        description = ReadRegistryText(key, u"DCDShortDesc");
        remote = ReadRegistryDword(key, u"DCDRemoteConfigInstall");
        RegCloseKey(key);
        if (!file.empty()) CopyTextToPrinterData(printer, u"DCDConfigFile", file);
        if (!description.empty()) CopyTextToPrinterData(printer, u"DCDShortDesc", description);
    }
    const ModelOrDriver data(model);
    bool applied = false;
    if (!file.empty() && !description.empty()) {
        applied = ApplyFileWithRetry(record, printer, data.model, printerName, WideToAnsi(file),
                                     WideToAnsi(description), remote);
    }
    if (!applied) applied = ApplyPwConfig(record, printer, data.model, printerName);
    if (applied) {
        record.profileKind = 4;
        const DWORD installed[4] = {2, 0, 0, 0};
        std::memcpy(record.profileId, installed, sizeof installed);
        std::array<uint8_t, 32> options{};
        if (InstalledOptionsRecord(printer, options) != 0) {
            WriteIfChanged(printer, "CurrentDefaultCONFIG", options);
        }
        HGLOBAL list = nullptr;
        uint32_t length = 0;
        const std::string ownName = WideToAnsi(PrinterNameOf(printer).value_or(u""));
        if (DevmodeToTagList(record, kScopeDocument, &list, &length, ownName, printer, false, data.model) == kCfgOk) {
            WriteIfChanged(printer, "DCD_InstalledDocDefaults",
                           std::span<const uint8_t>(static_cast<const uint8_t*>(list), length));
            GlobalFree(list);
        }
    }
    // Handed over once, whether or not it could be applied.
    if (keyFound) RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    return applied ? 1 : 0;
}

}  // namespace zq

using namespace zq;

extern "C" {

uint32_t ConvertPrtIntoDCD(PrinterObject* object) {
    if (object == nullptr || object->size < sizeof(PrinterObject) || object->state < 1 ||
        object->recordSize < kPrivateDevmodeSize || object->record == nullptr) {
        return kCfgBadInput;
    }
    const auto record = DevmodeFromBytes(
        std::span<const uint8_t>(static_cast<const uint8_t*>(object->record), kPrivateDevmodeSize));
    if (!record || !IsValidPrivateDevmode(*record)) return kCfgBadInput;
    object->state = 1;
    object->marker = kDriverDataMarker;
    std::memcpy(object->modelText, static_cast<const uint8_t*>(object->record) + 308, sizeof object->modelText);
    std::copy(std::begin(kDriverDataWords), std::end(kDriverDataWords), object->driverWords);
    object->zero[0] = object->zero[1] = 0;
    std::memset(object->version, 0, sizeof object->version);
    std::memcpy(object->version, kDriverVersionText, sizeof kDriverVersionText);
    object->list = nullptr;
    object->listLength = 0;
    const std::string name(object->printerName, strnlen(object->printerName, sizeof object->printerName));
    ScopedPrinter printer{OpenPrinterForSettings(name)};
    return DevmodeToTagList(*record, object->scope, &object->list, &object->listLength, name, printer.handle, false,
                            nullptr);
}

uint32_t Cfi2DrvForceDCDIntoPrtObj(const DrvCfgRequest* request) {
    if (request == nullptr || request->size < sizeof(DrvCfgRequest)) return kCfgBadInput;
    // Without a printer there is no record to import into.
    const std::string name = request->printerName != nullptr ? request->printerName : "";
    if (name.empty()) return kCfgNoMemory;
    ScopedPrinter printer{OpenPrinterForSettings(name)};
    if (printer.handle == nullptr) return kCfgNoMemory;
    HMODULE module = DriverModule();
    auto record = std::make_unique<PrivateDevmode>();
    std::span<const uint8_t> application;
    if (request->record != nullptr) {
        const auto* head = static_cast<const DEVMODEW*>(request->record);
        application = {static_cast<const uint8_t*>(request->record),
                       static_cast<size_t>(head->dmSize) + head->dmDriverExtra};
    }
    if (GetPrinterDevmode(printer.handle, module, *record, application, application.empty() ? 2 : 10) != 1) {
        return kCfgUnreadable;
    }
    if (request->list == nullptr || request->listLength == 0) return kCfgBadInput;
    std::vector<uint8_t> list;
    try {
        list.assign(static_cast<const uint8_t*>(request->list),
                    static_cast<const uint8_t*>(request->list) + request->listLength);
    } catch (const std::bad_alloc&) {
        return kCfgNoMemory;
    }
    const std::string description = request->description != nullptr ? request->description : "";
    const bool matches = (request->flags8 & kDrvCfgFlags8) != 0 && (request->flags1 & kDrvCfgFlags1) != 0 &&
                         (request->flags2 & kDrvCfgFlags2) != 0 && request->modelName != nullptr &&
                         EqualsIgnoreCase(std::string_view(request->modelName), FieldText(record->modelName)) &&
                         (description.empty() || description == FieldText(record->modelDisplayName));
    if (!matches) return kCfgBadInput;
    const ModuleModelData model(module);
    if (ApplyTagListToDevmode(name, list, request->scope, *record, printer.handle, true, &model) != 1) {
        return kCfgNotApplied;
    }
    auto rebuilt = std::make_unique<PrivateDevmode>();
    const std::span<const uint8_t> imported(reinterpret_cast<const uint8_t*>(record.get()), sizeof *record);
    if (GetPrinterDevmode(printer.handle, module, *rebuilt, imported, 10) != 1) return kCfgNotApplied;
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(rebuilt.get()), sizeof *rebuilt);
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    SetPrinterDataA(printer.handle, const_cast<LPSTR>("CurrentDevmode"), REG_BINARY, copy.data(),
                    static_cast<DWORD>(copy.size()));
    DWORD needed = 0;
    GetPrinterW(printer.handle, 2, nullptr, 0, &needed);
    if (needed >= sizeof(PRINTER_INFO_2W)) {
        std::vector<uint8_t> info(needed);
        if (GetPrinterW(printer.handle, 2, info.data(), needed, &needed)) {
            reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode = &rebuilt->dm;
            SetPrinterW(printer.handle, 2, info.data(), 0);
        }
    }
    WriteUserValue(printer.handle, nullptr, u"CurrentDevmode", bytes);
    StoreDevmodeTagList({}, kDefDrvCfgData, *rebuilt, printer.handle, true, &model);
    return kCfgOk;
}

uint32_t EnumDrvCfgSupport(DrvCfgSupport* support) {
    if (support == nullptr) return kCfgBadInput;
    support->words[0] = kDriverDataWords[0];
    support->words[1] = kDriverDataWords[1];
    support->words[2] = kDriverDataWords[2];
    std::memset(support->versionText, 0, sizeof support->versionText);
    std::memcpy(support->versionText, kDriverVersionText, sizeof kDriverVersionText);
    support->words2[0] = kDriverDataWords[3];
    support->words2[1] = kDriverDataWords[4];
    support->zero[0] = support->zero[1] = 0;
    const std::string modelName(support->modelName, strnlen(support->modelName, sizeof support->modelName));
    const std::string printerName(support->printerName, strnlen(support->printerName, sizeof support->printerName));
    HMODULE module = DriverModule();
    const int index = modelName.empty() ? -1 : FindModelIndex(module, modelName);
    std::optional<ModelRecord> model;
    if (index >= 0) {
        const LoadedModel loaded = LoadModelRecord(module, index);
        if (loaded.recordLoaded) model = loaded.record;
    }
    if (support->version >= 3) {
        support->capabilities = model ? (model->words418[1] & 0x13E) : 0x13E;
        support->capabilities2 = model ? (model->words418[0] & 0x65) : 0x65;
        std::string upper = modelName;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        const bool ours = upper.find("ZELQUOR") != std::string::npos;
        support->vendorKind = modelName.empty() ? 1 : ours ? 2 : 3;
    }
    if (support->version >= 2 && support->wantPrinterTest != 0) {
        support->printerState = model && (model->flags394 & 0x8) != 0 ? 0 : 2;
        if (!printerName.empty() && CanOpenPrinter(printerName)) support->printerState |= 1;
    }
    return kCfgOk;
}

uint32_t EnumSpecificDrvCfgCallBack(DrvCfgMatch* match, const DrvCfgCandidate* candidate) {
    if (match == nullptr || candidate == nullptr || match->record == nullptr) return 0;
    const auto* record = static_cast<const PrivateDevmode*>(match->record);
    if ((candidate->flags8 & 0x80) != 0 && (candidate->flags1 & 0x1) != 0 && (candidate->flags2 & 0x2) != 0 &&
        candidate->value != 0 && candidate->modelName != nullptr && candidate->description != nullptr &&
        EqualsIgnoreCase(std::string_view(candidate->modelName), FieldText(record->modelName)) &&
        EqualsIgnoreCase(std::string_view(candidate->description), FieldText(record->modelDisplayName))) {
        match->found = candidate->value;
    }
    return 0;
}

}  // extern "C"
