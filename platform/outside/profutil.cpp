// Stand-in of the outside personal-profile library. Profiles live in the
// registry, one key per profile under "Software\Zelquor\Profiles": list 9
// (the user's) under HKEY_CURRENT_USER, list 10 (the machine's) under
// HKEY_LOCAL_MACHINE. A key is named by the profile's serial number and holds
// "Name", "Description", "Model", "ModelText" (text) and "Settings" (the tag
// list the driver handed over). Configuration files are plain tag-list files.
//
// Results are Win32 codes: 0 success, 2 no such profile or file, 87 a bad
// request, 122 a buffer too small (its size is filled in).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "common/config_requests.h"
#include "store/registry.h"

namespace {

using namespace zq;

constexpr const char* kProfilesKey = "Software\\Zelquor\\Profiles";
constexpr uint32_t kNotFound = 2;
constexpr uint32_t kBadRequest = 87;
constexpr uint32_t kTooSmall = 122;

HKEY ListRoot(uint32_t list) {
    if (list == kUserProfileList) return HKEY_CURRENT_USER;
    if (list == kMachineProfileList) return HKEY_LOCAL_MACHINE;
    return nullptr;
}

uint32_t ListOfKindFlags(uint32_t kindFlags) {
    return (kindFlags & kProfileKindMachine) != 0 ? kMachineProfileList : kUserProfileList;
}

// An open key that closes itself.
struct Key {
    HKEY key = nullptr;
    ~Key() {
        if (key != nullptr) RegCloseKey(key);
    }
};

bool OpenProfile(uint32_t list, uint32_t serial, bool create, Key& out) {
    HKEY root = ListRoot(list);
    if (root == nullptr || serial == 0) return false;
    const std::string path = std::string(kProfilesKey) + "\\" + std::to_string(serial);
    if (create) {
        return RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &out.key, nullptr) == ERROR_SUCCESS;
    }
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &out.key) == ERROR_SUCCESS;
}

std::optional<std::vector<uint8_t>> ReadValue(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<uint8_t> bytes(size);
    if (RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    bytes.resize(size);
    return bytes;
}

std::string ReadText(HKEY key, const char* name) {
    const auto bytes = ReadValue(key, name);
    if (!bytes) return {};
    std::string text(bytes->begin(), bytes->end());
    text.resize(std::strlen(text.c_str()));
    return text;
}

void WriteText(HKEY key, const char* name, const char* text) {
    if (text == nullptr) return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
}

bool WriteList(HKEY key, const void* list, uint32_t length) {
    if (list == nullptr || length == 0) return false;
    return RegSetValueExA(key, "Settings", 0, REG_BINARY, static_cast<const BYTE*>(list), length) == ERROR_SUCCESS;
}

// The serial numbers of a list, in order.
std::vector<uint32_t> Serials(uint32_t list) {
    std::vector<uint32_t> serials;
    HKEY root = ListRoot(list);
    Key base;
    if (root == nullptr || RegOpenKeyExA(root, kProfilesKey, 0, KEY_READ, &base.key) != ERROR_SUCCESS) return serials;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD chars = sizeof name;
        if (RegEnumKeyExA(base.key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char* end = nullptr;
        const unsigned long n = std::strtoul(name, &end, 10);
        if (end != name && *end == '\0' && n > 0 && n < 0xFFFFFFFFul) serials.push_back(static_cast<uint32_t>(n));
    }
    std::sort(serials.begin(), serials.end());
    return serials;
}

// The profile of that list with the name and model, 0 when none.
uint32_t FindByName(uint32_t list, const char* name, const char* model) {
    if (name == nullptr) return 0;
    for (uint32_t serial : Serials(list)) {
        Key key;
        if (!OpenProfile(list, serial, false, key)) continue;
        if (ReadText(key.key, "Name") == name && ReadText(key.key, "Model") == (model ? model : "")) return serial;
    }
    return 0;
}

// Copies bytes out the way the driver asks for them: a size query first.
uint32_t Hand(const std::vector<uint8_t>& bytes, void* buffer, uint32_t& bufferSize) {
    if (buffer == nullptr || bufferSize < bytes.size()) {
        const bool query = buffer == nullptr || bufferSize == 0;
        bufferSize = static_cast<uint32_t>(bytes.size());
        return query ? 0 : kTooSmall;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    bufferSize = static_cast<uint32_t>(bytes.size());
    return 0;
}

int Report(uint32_t list, uint32_t serial, ProfileCallback callback, void* userData) {
    Key key;
    if (!OpenProfile(list, serial, false, key)) return -1;
    const std::string name = ReadText(key.key, "Name");
    const std::string description = ReadText(key.key, "Description");
    const std::string model = ReadText(key.key, "Model");
    ProfileEntry entry{};
    entry.size = sizeof entry;
    entry.state = 1;
    entry.four = 4;
    entry.idKind = list;
    entry.id[0] = list;
    entry.id[1] = serial;
    entry.name = name.c_str();
    entry.description = description.c_str();
    entry.modelName = model.c_str();
    return callback(&entry, userData);
}

}  // namespace

extern "C" {

uint32_t WritePerProfile(WriteProfileRequest* request) {
    if (request == nullptr || request->size < sizeof *request || request->name == nullptr ||
        request->name[0] == '\0') {
        return kBadRequest;
    }
    const uint32_t list = ListOfKindFlags(request->kindFlags);
    // A profile of the same name for the same model is replaced in place.
    uint32_t serial = FindByName(list, request->name, request->modelName);
    if (serial == 0) {
        const auto serials = Serials(list);
        serial = serials.empty() ? 1 : serials.back() + 1;
    }
    Key key;
    if (!OpenProfile(list, serial, true, key)) return 5;
    WriteText(key.key, "Name", request->name);
    WriteText(key.key, "Description", request->description ? request->description : "");
    WriteText(key.key, "Model", request->modelName ? request->modelName : "");
    WriteText(key.key, "ModelText", request->modelText ? request->modelText : "");
    if (!WriteList(key.key, request->list, request->listLength)) return kBadRequest;
    request->id[0] = list;
    request->id[1] = serial;
    request->id[2] = 0;
    request->id[3] = 0;
    return 0;
}

uint32_t ChangePerProf(ChangeProfileRequest* request) {
    if (request == nullptr || request->size < sizeof *request) return kBadRequest;
    Key key;
    if (!OpenProfile(request->id[0], request->id[1], false, key)) return kNotFound;
    if (request->name != nullptr && request->name[0] != '\0') WriteText(key.key, "Name", request->name);
    if (request->fieldMask == kChangeInformationMask) {
        WriteText(key.key, "Description", request->description);
        return 0;
    }
    return WriteList(key.key, request->list, request->listLength) ? 0 : kBadRequest;
}

uint32_t GetPerProf(GetProfileRequest* request) {
    if (request == nullptr || request->size < sizeof *request) return kBadRequest;
    Key key;
    if (!OpenProfile(request->id[0], request->id[1], false, key)) return kNotFound;
    const auto list = ReadValue(key.key, "Settings");
    if (!list) return kNotFound;
    return Hand(*list, request->buffer, request->bufferSize);
}

uint32_t GetDCD(GetDcdRequest* request) {
    if (request == nullptr || request->size < sizeof *request || request->path == nullptr) return kBadRequest;
    const auto file = MapPath(AnsiToWide(request->path));
    if (!file) return kNotFound;
    std::ifstream in(*file, std::ios::binary);
    if (!in) return kNotFound;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) return kNotFound;
    return Hand(bytes, request->buffer, request->bufferSize);
}

uint32_t DeletePerProf(DeleteProfileRequest* request) {
    if (request == nullptr || request->size < sizeof *request) return kBadRequest;
    HKEY root = ListRoot(request->id[0]);
    if (root == nullptr || request->id[1] == 0) return kNotFound;
    const std::string path = std::string(kProfilesKey) + "\\" + std::to_string(request->id[1]);
    return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS ? 0 : kNotFound;
}

uint32_t EnumPerProfs(EnumProfilesRequest* request) {
    if (request == nullptr || request->size < sizeof *request || request->callback == nullptr) return kBadRequest;
    for (uint32_t serial : Serials(request->list)) Report(request->list, serial, request->callback, request->userData);
    return 0;
}

uint32_t EnumSpecificPerProf(EnumSpecificProfileRequest* request) {
    if (request == nullptr || request->size < sizeof *request || request->callback == nullptr) return kBadRequest;
    if (request->id[0] != request->list) return kNotFound;
    return Report(request->list, request->id[1], request->callback, request->userData) < 0 ? kNotFound : 0;
}

}  // extern "C"
