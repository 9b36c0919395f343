#include "settings/profiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/text.h"
#include "interface/dialog_library.h"
#include "interface/ui_utils.h"
#include "settings/config_data.h"
#include "settings/printer_data_values.h"
#include "settings/user_settings.h"

namespace zq {
namespace {

// The library for one call; freed at the end of it.
class ProfileLibrary {
public:
    ProfileLibrary() : module_(LoadProfileLibrary()) {}
    ~ProfileLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    ProfileLibrary(const ProfileLibrary&) = delete;
    ProfileLibrary& operator=(const ProfileLibrary&) = delete;
    bool Loaded() const { return module_ != nullptr; }
    // The entry point, null when the library or the entry is missing.
    template <class Request>
    auto Entry(const char* name) const -> uint32_t (*)(Request*) {
        if (module_ == nullptr) return nullptr;
        return reinterpret_cast<uint32_t (*)(Request*)>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

// Tells the user that profiles cannot be read: `code` 0 for a missing
// library, else the number of the missing entry point.
void WarnMissing(const char* caption, const PrivateDevmode& record, unsigned code) {
    HMODULE dialogs = LoadDialogLibrary(static_cast<uint8_t>(record.model.dialogSelector & 0xFF));
    char text[512] = {};
    if (CallLoadXlatedString(dialogs, 0, 23, text, sizeof text - 64) <= 0) {
        std::strcpy(text, "Personal profiles are not available");
    }
    if (dialogs != nullptr) FreeLibrary(dialogs);
    char detail[64];
    std::snprintf(detail, sizeof detail, " (%s)1[0x%04X]", kProfileLibrary, code);
    const std::string message = std::string(text) + detail;
    MessageBoxA(nullptr, message.c_str(), caption, MB_OK | MB_ICONWARNING);
}

std::string PrinterNameText(HANDLE printer) { return WideToAnsi(PrinterNameOf(printer).value_or(u"")); }

template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// A list the export made, freed at the end of a scope.
struct ExportedList {
    HGLOBAL block = nullptr;
    uint32_t length = 0;
    ~ExportedList() {
        if (block != nullptr) GlobalFree(block);
    }
};

// The record's list for a profile: the profile-only settings go with it
// into the user's or the machine's list.
bool ExportForProfile(const PrivateDevmode& record, uint32_t kindFlags, uint32_t scope, HANDLE printer,
                      const ModelData* model, ExportedList& list) {
    const bool profile = (kindFlags & (kProfileKindUser | kProfileKindMachine)) != 0;
    return DevmodeToTagList(record, scope, &list.block, &list.length, PrinterNameText(printer), printer, profile,
                            model) == kCfgOk;
}

// Asks the library for a list twice, the size first; empty when nothing
// came back.
template <class Request>
std::vector<uint8_t> FetchList(uint32_t (*entry)(Request*), Request& request) {
    request.buffer = nullptr;
    request.bufferSize = 0;
    if (entry(&request) != 0 || request.bufferSize == 0) return {};
    std::vector<uint8_t> bytes(request.bufferSize);
    request.buffer = bytes.data();
    if (entry(&request) != 0 || request.bufferSize > bytes.size()) return {};
    bytes.resize(request.bufferSize);
    return bytes;
}

// Relays the library's callbacks and keeps the last result.
struct Relay {
    ProfileCallback callback;
    void* userData;
    int last;
};
int RelayEntry(const ProfileEntry* entry, void* data) {
    auto* relay = static_cast<Relay*>(data);
    relay->last = relay->callback(entry, relay->userData);
    return relay->last;
}

}  // namespace

HMODULE LoadProfileLibrary() {
    char path[261] = {};
    const DWORD n = GetModuleFileNameA(DriverModule(), path, sizeof path);
    if (n > 0 && n < sizeof path) {
        std::string full(path, n);
        const size_t cut = full.find_last_of("\\/:");
        full.resize(cut == std::string::npos ? 0 : cut + 1);
        full += kProfileLibrary;
        if (full.size() < 260) return LoadLibraryA(full.c_str());
    }
    return LoadLibraryA(kProfileLibrary);
}

uint32_t WritePersonalProfile(HWND owner, const PrivateDevmode& record, uint32_t kindFlags, uint32_t id[4],
                              const char* name, const char* description, uint32_t scope, HANDLE printer,
                              const ModelData* model) {
    ExportedList list;
    if (!ExportForProfile(record, kindFlags, scope, printer, model, list)) return kProfileEmptyList;
    const ProfileLibrary library;
    const auto entry = library.Entry<WriteProfileRequest>("WritePerProfile");
    if (entry == nullptr) return kProfileMissing;
    const std::string modelName = FieldText(record.modelName);
    const std::string modelText = FieldText(record.modelDisplayName);
    WriteProfileRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.owner = owner;
    request.kindFlags = kindFlags;
    if (id != nullptr) std::copy_n(id, 4, request.id);
    request.modelName = modelName.c_str();
    request.modelText = modelText.c_str();
    request.name = name;
    request.description = description;
    request.list = list.block;
    request.listLength = list.length;
    const uint32_t result = entry(&request);
    if (result == 0 && id != nullptr) std::copy_n(request.id, 4, id);
    return result;
}

namespace {

uint32_t ChangeProfile(HWND owner, const PrivateDevmode& record, uint32_t kindFlags, const uint32_t id[4],
                       const char* name, const char* description, uint32_t mask, const ExportedList* list) {
    const ProfileLibrary library;
    const auto entry = library.Entry<ChangeProfileRequest>("ChangePerProf");
    if (entry == nullptr) return kProfileMissing;
    const std::string modelName = FieldText(record.modelName);
    const std::string modelText = FieldText(record.modelDisplayName);
    ChangeProfileRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.owner = owner;
    request.two = 2;
    request.kindFlags = kindFlags;
    if (id != nullptr) std::copy_n(id, 4, request.id);
    request.name = name;
    request.description = description;
    request.fieldMask = mask;
    request.modelName = modelName.c_str();
    request.modelText = modelText.c_str();
    if (list != nullptr) {
        request.list = list->block;
        request.listLength = list->length;
    }
    return entry(&request);
}

}  // namespace

uint32_t ChangePersonalProfile(HWND owner, const PrivateDevmode& record, uint32_t kindFlags, const uint32_t id[4],
                               const char* name, uint32_t scope, HANDLE printer, const ModelData* model) {
    ExportedList list;
    if (!ExportForProfile(record, kindFlags, scope, printer, model, list)) return kProfileEmptyList;
    return ChangeProfile(owner, record, kindFlags, id, name, nullptr, kChangeSettingsMask, &list);
}

uint32_t ChangePersonalProfileInfo(HWND owner, const PrivateDevmode& record, const char* name, const uint32_t id[4],
                                   const char* description) {
    return ChangeProfile(owner, record, 0, id, name, description, kChangeInformationMask, nullptr);
}

uint32_t ReadPersonalProfile(const char* caption, uint32_t kind, const uint32_t id[4], uint32_t scope,
                             PrivateDevmode& record, HANDLE printer, const ModelData* model) {
    const ProfileLibrary library;
    const auto entry = library.Entry<GetProfileRequest>("GetPerProf");
    if (entry == nullptr) {
        WarnMissing(caption, record, library.Loaded() ? 4 : 0);
        return kProfileNoLibrary;
    }
    GetProfileRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.caption = caption;
    request.kind = kind;
    if (id != nullptr) std::copy_n(id, 4, request.id);
    const std::vector<uint8_t> list = FetchList(entry, request);
    if (list.empty()) return kProfileMissing;
    return ApplyTagListToDevmode(PrinterNameText(printer), list, scope, record, printer, false, model) == 1
               ? kProfileOk
               : kProfileMissing;
}

int LoadDcdFile(const char* caption, const char* path, const char* description, uint32_t flag, uint32_t scope,
                PrivateDevmode& record, HANDLE printer, const ModelData* model) {
    const ProfileLibrary library;
    const auto entry = library.Entry<GetDcdRequest>("GetDCD");
    if (entry == nullptr) {
        WarnMissing(caption, record, library.Loaded() ? 3 : 0);
        return -1;
    }
    GetDcdRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.path = path;
    request.description = description;
    request.flag = flag;
    const std::vector<uint8_t> list = FetchList(entry, request);
    if (list.empty()) return 0;
    return ApplyTagListToDevmode(PrinterNameText(printer), list, scope, record, printer, true, model);
}

int EnumPersonalProfiles(HWND owner, uint32_t listFlags, const uint32_t id[4], ProfileCallback callback,
                         void* userData, uint8_t dialogSelector, HANDLE printer) {
    if (callback == nullptr) return kProfileMissing;
    Relay relay{callback, userData, static_cast<int>(kProfileMissing)};
    const bool anyProfile = id == nullptr || std::all_of(id, id + 4, [](uint32_t w) { return w == 0; });
    if ((listFlags & kListBuiltIn) != 0) {
        HMODULE dialogs = LoadDialogLibrary(dialogSelector);
        const bool installed =
            ReadPrinterDataBytes(printer, "DCD_InstalledDocDefaults").status == ValueRead::Ok;
        struct BuiltIn {
            uint32_t kind;
            uint32_t stringId;
            const char* fallback;
            bool offered;
        };
        const BuiltIn builtIns[] = {{1, 3003, " Factory Defaults", true},
                                    {2, 3004, " Installed Defaults", installed}};
        for (const BuiltIn& b : builtIns) {
            if (!b.offered || !(anyProfile || id[0] == b.kind)) continue;
            char name[256] = {};
            if (CallLoadXlatedString(dialogs, 0, b.stringId, name, sizeof name - 1) <= 0) {
                std::strcpy(name, b.fallback);
            }
            ProfileEntry entry{};
            entry.size = 96;
            entry.state = 1;
            entry.four = 4;
            entry.idKind = b.kind;
            entry.id[0] = b.kind;
            entry.name = name;
            entry.description = "";
            entry.modelName = "";
            RelayEntry(&entry, &relay);
        }
        if (dialogs != nullptr) FreeLibrary(dialogs);
    }
    const ProfileLibrary library;
    for (const auto& [flag, list] : {std::pair{kProfileKindUser, kUserProfileList},
                                    std::pair{kProfileKindMachine, kMachineProfileList}}) {
        if ((listFlags & flag) == 0) continue;
        if (anyProfile) {
            const auto entry = library.Entry<EnumProfilesRequest>("EnumPerProfs");
            if (entry == nullptr) continue;
            EnumProfilesRequest request{sizeof(EnumProfilesRequest), 1, owner, list, RelayEntry, &relay};
            entry(&request);
        } else {
            const auto entry = library.Entry<EnumSpecificProfileRequest>("EnumSpecificPerProf");
            if (entry == nullptr) continue;
            EnumSpecificProfileRequest request{};
            request.size = sizeof request;
            request.state = 1;
            request.list = list;
            std::copy_n(id, 4, request.id);
            request.callback = RelayEntry;
            request.userData = &relay;
            entry(&request);
        }
    }
    return relay.last;
}

uint32_t DeletePersonalProfile(HWND, uint32_t kindFlags, const uint32_t id[4], const void* argument) {
    const ProfileLibrary library;
    const auto entry = library.Entry<DeleteProfileRequest>("DeletePerProf");
    if (entry == nullptr) return kProfileMissing;
    DeleteProfileRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.two = 2;
    request.kindFlags = kindFlags | kProfileDelete;
    if (id != nullptr) std::copy_n(id, 4, request.id);
    request.argument = argument;
    return entry(&request);
}

}  // namespace zq
