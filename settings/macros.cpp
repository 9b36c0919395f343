// The overlay macro list.
#include "settings/macros.h"

#include <vector>

namespace zq {

namespace {

constexpr uint16_t kValueKey = 3, kTypeKey = 4;
constexpr uint32_t kIdEnd = 0x8000;

uint16_t TypeOf(const PdList* list) { return PdFieldWord(list, kTypeKey).value_or(kDefaultMacroType); }

std::vector<bool> IdsInUse(PdList* list) {
    std::vector<bool> used(kIdEnd, false);
    used[0] = true;
    if (PdListFirst(list)) {
        do {
            if (const auto id = PdRecordId(list)) used[*id] = true;
        } while (PdListNext(list));
    }
    return used;
}

// The lowest free id of the highest group of 16 that is not full.
uint16_t ChooseHighId(PdList* list) {
    const std::vector<bool> used = IdsInUse(list);
    for (uint32_t group = kIdEnd / 16; group-- > 0;) {
        for (uint32_t id = group * 16; id < group * 16 + 16; ++id) {
            if (!used[id]) return static_cast<uint16_t>(id);
        }
    }
    return 0;
}

bool Named(const char* name) { return name != nullptr && *name != '\0'; }

}  // namespace

PdList* MacroListOpen(const char* printerName) { return PdListOpen(printerName, kMacroListValue); }

int MacroGetFields(PdList* list, const uint8_t** id, const uint8_t** name, const uint8_t** type) {
    const uint8_t** out[4] = {id, name, nullptr, type};
    return PdListGetFields(list, out);
}

BOOL MacroAdd(const char* printerName, uint16_t id, std::string_view name, uint16_t value, uint16_t type) {
    if (id >= kIdEnd || name.empty() || name.size() >= 0xFFFF) return FALSE;
    PdListHolder list(MacroListOpen(printerName));
    if (!list) return FALSE;
    if (id == 0) {
        if (type != kChosenIdMacroType) return FALSE;
        id = ChooseHighId(list.get());
        if (id == 0) return FALSE;
    }
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdFieldWord(l, kPdIdKey) == id; });
    // The first record of that name and the new type goes; a record of that
    // name under another type stays.
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, name) && TypeOf(l) == type; });
    const std::string nameZ(name);
    std::vector<PdField> fields{{kPdIdKey, 2, &id}, {kPdNameKey, static_cast<uint16_t>(nameZ.size() + 1), nameZ.c_str()}};
    if (value != 0) fields.push_back({kValueKey, 2, &value});
    if (type != 0) fields.push_back({kTypeKey, 2, &type});
    if (!PdListAppend(list.get(), static_cast<uint16_t>(fields.size()), fields.data())) return FALSE;
    return list.Close();
}

BOOL MacroDelete(const char* printerName, uint16_t id, const char* name, uint16_t type) {
    PdListHolder list(MacroListOpen(printerName));
    if (!list) return FALSE;
    const bool named = Named(name);
    if (!PdDeleteFirst(list.get(), [&](const PdList* l) {
            return (id == 0 || PdFieldWord(l, kPdIdKey) == id) && (!named || (PdNameIs(l, name) && TypeOf(l) == type));
        })) {
        return FALSE;
    }
    return list.Close();
}

BOOL MacroListClear(const char* printerName) {
    PdListHolder list(MacroListOpen(printerName));
    if (!list) return FALSE;
    PdListClear(list.get());
    return list.Close();
}

uint16_t MacroFindFreeId(const char* printerName, int wishedId, const char* name, uint16_t type) {
    PdListHolder list(MacroListOpen(printerName));
    if (!list) return 0;
    if (name != nullptr) {
        // The name rule decides over any id found.
        if (*name == '\0') return 0;
        if (PdFindFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, name) && TypeOf(l) == type; })) return 0;
    }
    const std::vector<bool> used = IdsInUse(list.get());
    if (wishedId > 0 && wishedId < static_cast<int>(kIdEnd) && !used[static_cast<size_t>(wishedId)]) {
        return static_cast<uint16_t>(wishedId);
    }
    for (uint32_t id = 1; id < kIdEnd; ++id) {
        if (!used[id]) return static_cast<uint16_t>(id);
    }
    return 0;
}

int MacroEnumerate(const char* printerName, void** ids, void** names, void** types) {
    for (void** o : {ids, names, types}) {
        if (o != nullptr) *o = nullptr;
    }
    if (ids == nullptr && names == nullptr && types == nullptr) return 0;
    PdListHolder list(MacroListOpen(printerName));
    if (!list) return 0;
    std::vector<uint8_t> idBytes, nameBytes, typeBytes;
    int count = 0;
    if (PdListFirst(list.get())) {
        do {
            AppendWord(idBytes, PdFieldWord(list.get(), kPdIdKey).value_or(0));
            AppendText(nameBytes, PdFieldText(list.get(), kPdNameKey).value_or(""));
            AppendWord(typeBytes, TypeOf(list.get()));
            ++count;
        } while (PdListNext(list.get()));
    }
    if (count == 0) return 0;
    AppendWord(idBytes, 0);
    nameBytes.push_back(0);
    AppendWord(typeBytes, 0);
    return PublishEnumeration(count, {{ids, &idBytes, 1024}, {names, &nameBytes, 4096}, {types, &typeBytes, 1024}});
}

int MacroFeedbackRequest(const char* printerName, const MacroRequest& r) {
    const uint16_t id = r.id != nullptr ? *r.id : 0;
    const uint16_t type = r.type != nullptr ? *r.type : 0;
    const uint16_t value = r.value != nullptr ? *r.value : 0;
    const bool named = Named(r.name);
    switch (r.operation) {
    case 1:
        return named && MacroAdd(printerName, id, r.name, value, type) ? 1 : 0;
    case 2:
        if (id == 0 && !named) return 0;
        MacroDelete(printerName, id, named ? r.name : nullptr, type);
        return 1;
    case 3: {
        PdListHolder list(MacroListOpen(printerName));
        if (!list) return 0;
        PdList* l = list.get();
        const bool found = PdFindFirst(l, [&](const PdList* c) {
            return (id == 0 || id == 0xFFFF || PdFieldWord(c, kPdIdKey) == id) && (!named || PdNameIs(c, r.name)) &&
                   (type == 0 || PdFieldWord(c, kTypeKey) == type) && (value == 0 || PdFieldWord(c, kValueKey) == value);
        });
        if (!found) return 0;
        if (r.id != nullptr && *r.id == 0) {
            const auto v = PdFieldWord(l, kPdIdKey);
            if (!v) return 0;
            *r.id = *v;
        }
        if (r.name != nullptr && *r.name == '\0') {
            const auto v = PdFieldText(l, kPdNameKey);
            if (!v) return 0;
            CopyBounded(*v, r.name, r.nameCapacity);
        }
        if (r.type != nullptr && *r.type == 0) {
            const auto v = PdFieldWord(l, kTypeKey);
            if (!v) return 0;
            *r.type = *v;
        }
        if (r.value != nullptr && *r.value == 0) {
            const auto v = PdFieldWord(l, kValueKey);
            if (!v) return 0;
            *r.value = *v;
        }
        return 1;
    }
    default:
        return 0;
    }
}

}  // namespace zq
