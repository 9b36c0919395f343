// User-defined forms and form associations.
#include "settings/user_forms.h"

#include <algorithm>
#include <cstring>

#include "base/muldiv.h"

namespace zq {

namespace {

struct Range {
    const char* value;
    uint16_t first;
    uint32_t end;
};
constexpr Range kUserForms{kUserFormListValue, kFirstUserForm, kUserFormEnd};
constexpr Range kAssocs{kFormAssocListValue, kFirstFormAssoc, kFormAssocEnd};

uint16_t FindFreeId(const char* printerName, const Range& r) {
    PdListHolder list(PdListOpen(printerName, r.value));
    if (!list) return 0;
    return PdFindFreeId(list.get(), r.first, r.end);
}

uint16_t IdFromName(const char* printerName, const Range& r, std::string_view name) {
    PdListHolder list(PdListOpen(printerName, r.value));
    if (!list) return 0;
    if (!PdFindFirst(list.get(), [&](const PdList* l) {
            return PdNameIs(l, name) && PdFieldWord(l, kPdIdKey).value_or(0) != 0;
        })) {
        return 0;
    }
    return *PdFieldWord(list.get(), kPdIdKey);
}

BOOL Delete(const char* printerName, const Range& r, uint16_t id, const char* name) {
    PdListHolder list(PdListOpen(printerName, r.value));
    if (!list) return FALSE;
    const bool named = name != nullptr && *name != '\0';
    if (!PdDeleteFirst(list.get(), [&](const PdList* l) {
            return (id == 0 || PdFieldWord(l, kPdIdKey) == id) && (!named || PdNameIs(l, name));
        })) {
        return FALSE;
    }
    return list.Close();
}

// Secures the id, then replaces by id and by name with the given fields.
BOOL Add(const char* printerName, const Range& r, uint16_t id, std::string_view name, std::vector<PdField> rest) {
    if (id == 0) id = FindFreeId(printerName, r);
    if (id < r.first || id >= r.end || name.empty()) return FALSE;
    const std::string nameZ(name);
    std::vector<PdField> fields{{kPdIdKey, 2, &id},
                                {kPdNameKey, static_cast<uint16_t>(std::min<size_t>(nameZ.size() + 1, 0xFFFF)),
                                 nameZ.c_str()}};
    fields.insert(fields.end(), rest.begin(), rest.end());
    if (nameZ.size() >= 0xFFFF || PdRecordLength(fields) == 0) return FALSE;
    PdListHolder list(PdListOpen(printerName, r.value));
    if (!list) return FALSE;
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdFieldWord(l, kPdIdKey) == id; });
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, name); });
    if (!PdListAppend(list.get(), static_cast<uint16_t>(fields.size()), fields.data())) return FALSE;
    return list.Close();
}

bool FindById(PdList* list, int id) {
    return PdFindFirst(list, [&](const PdList* l) {
        return id == 0 || id == -1 || PdFieldWord(l, kPdIdKey) == static_cast<uint16_t>(id);
    });
}

bool CopyWord(const PdList* list, uint16_t key, uint16_t* out) {
    if (out == nullptr) return true;
    const auto v = PdFieldWord(list, key);
    if (!v) return false;
    *out = *v;
    return true;
}

bool CopyText(const PdList* list, uint16_t key, char* out, size_t capacity) {
    if (out == nullptr) return true;
    const auto v = PdFieldText(list, key);
    if (!v) return false;
    CopyBounded(*v, out, capacity);
    return true;
}

uint16_t Length(const std::string& text) { return static_cast<uint16_t>(std::min<size_t>(text.size() + 1, 0xFFFF)); }

}  // namespace

PdList* UserFormListOpen(const char* printerName) { return PdListOpen(printerName, kUserFormListValue); }
PdList* FormAssocListOpen(const char* printerName) { return PdListOpen(printerName, kFormAssocListValue); }
int UserFormGetFields(PdList* list, std::span<const uint8_t** const, 7> out) { return PdListGetFields(list, out); }
int FormAssocGetFields(PdList* list, std::span<const uint8_t** const, 12> out) { return PdListGetFields(list, out); }

uint16_t UserFormFindFreeId(const char* printerName) { return FindFreeId(printerName, kUserForms); }
uint16_t FormAssocFindFreeId(const char* printerName) { return FindFreeId(printerName, kAssocs); }
uint16_t UserFormIdFromName(const char* printerName, std::string_view name) {
    return IdFromName(printerName, kUserForms, name);
}
uint16_t FormAssocIdFromName(const char* printerName, std::string_view name) {
    return IdFromName(printerName, kAssocs, name);
}
BOOL UserFormDelete(const char* printerName, uint16_t id, const char* name) {
    return Delete(printerName, kUserForms, id, name);
}
BOOL FormAssocDelete(const char* printerName, uint16_t id, const char* name) {
    return Delete(printerName, kAssocs, id, name);
}

BOOL UserFormAdd(const char* printerName, uint16_t id, std::string_view name, const UserFormValues& v) {
    if (v.block.empty() || v.block.size() > 0xFFFF) return FALSE;
    return Add(printerName, kUserForms, id, name,
               {{3, 2, &v.value3},
                {4, 2, &v.value4},
                {5, 2, &v.width},
                {6, 2, &v.length},
                {7, static_cast<uint16_t>(v.block.size()), v.block.data()}});
}

BOOL FormAssocAdd(const char* printerName, uint16_t id, std::string_view name, const FormAssocValues& v) {
    std::vector<PdField> rest{{3, 2, &v.value3}, {4, 2, &v.value4}};
    for (size_t i = 0; i < 4; ++i) {
        rest.push_back({static_cast<uint16_t>(5 + 2 * i), Length(v.texts[i]), v.texts[i].c_str()});
        rest.push_back({static_cast<uint16_t>(6 + 2 * i), 2, &v.words[i]});
    }
    return Add(printerName, kAssocs, id, name, std::move(rest));
}

int UserFormSet(const char* printerName, uint16_t id, const char* name, const UserFormValues& values) {
    const bool named = name != nullptr && *name != '\0';
    if (named && !values.block.empty()) return UserFormAdd(printerName, id, name, values) ? 1 : 0;
    if (id == 0 && !named) return 0;
    return UserFormDelete(printerName, id, name) ? 1 : 0;
}

int FormAssocSet(const char* printerName, uint16_t id, const char* name, const FormAssocValues* values) {
    const bool named = name != nullptr && *name != '\0';
    if (named) return values != nullptr && FormAssocAdd(printerName, id, name, *values) ? 1 : 0;
    if (id == 0) return 0;
    return FormAssocDelete(printerName, id, nullptr) ? 1 : 0;
}

int UserFormGet(const char* printerName, int id, const UserFormGetRequest& r) {
    PdListHolder list(UserFormListOpen(printerName));
    if (!list || !FindById(list.get(), id)) return 0;
    PdList* l = list.get();
    if (!CopyText(l, kPdNameKey, r.name, r.nameCapacity)) return 0;
    for (int i = 0; i < 4; ++i) {
        if (!CopyWord(l, static_cast<uint16_t>(3 + i), r.words[i])) return 0;
    }
    if (r.block != nullptr) {
        const auto block = PdFieldData(l, 7);
        if (!block) return 0;
        std::memset(r.block, 0, r.blockLength);
        std::memcpy(r.block, block->data(), std::min(block->size(), r.blockLength));
    }
    return 1;
}

int FormAssocGet(const char* printerName, int id, const FormAssocGetRequest& r) {
    PdListHolder list(FormAssocListOpen(printerName));
    if (!list || !FindById(list.get(), id)) return 0;
    PdList* l = list.get();
    if (!CopyText(l, kPdNameKey, r.name, r.nameCapacity) || !CopyWord(l, 3, r.value3) || !CopyWord(l, 4, r.value4)) {
        return 0;
    }
    for (int i = 0; i < 4; ++i) {
        if (!CopyText(l, static_cast<uint16_t>(5 + 2 * i), r.texts[i], r.textCapacity) ||
            !CopyWord(l, static_cast<uint16_t>(6 + 2 * i), r.words[i])) {
            return 0;
        }
    }
    return 1;
}

namespace {

void PutLong(std::vector<uint8_t>& out, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    AppendWord(out, static_cast<uint16_t>(u));
    AppendWord(out, static_cast<uint16_t>(u >> 16));
}

int Enumerate(const char* printerName, const Range& r, void** ids, void** names, void** sizes) {
    for (void** o : {ids, names, sizes}) {
        if (o != nullptr) *o = nullptr;
    }
    if (ids == nullptr && names == nullptr && sizes == nullptr) return 0;
    PdListHolder list(PdListOpen(printerName, r.value));
    if (!list) return 0;
    std::vector<uint8_t> idBytes, nameBytes, sizeBytes;
    int count = 0;
    if (PdListFirst(list.get())) {
        do {
            PdList* l = list.get();
            AppendWord(idBytes, PdFieldWord(l, kPdIdKey).value_or(0));
            AppendText(nameBytes, PdFieldText(l, kPdNameKey).value_or(""));
            PutLong(sizeBytes, MulDiv(PdFieldWord(l, 5).value_or(0), 254, 1200));
            PutLong(sizeBytes, MulDiv(PdFieldWord(l, 6).value_or(0), 254, 1200));
            ++count;
        } while (PdListNext(list.get()));
    }
    if (count == 0) return 0;
    AppendWord(idBytes, 0);
    nameBytes.push_back(0);
    PutLong(sizeBytes, 0);
    PutLong(sizeBytes, 0);
    return PublishEnumeration(count, {{ids, &idBytes, 1024}, {names, &nameBytes, 4096}, {sizes, &sizeBytes, 4096}});
}

}  // namespace

int UserFormEnumerate(const char* printerName, void** ids, void** names, void** sizes) {
    return Enumerate(printerName, kUserForms, ids, names, sizes);
}

int FormAssocEnumerate(const char* printerName, void** ids, void** names) {
    return Enumerate(printerName, kAssocs, ids, names, nullptr);
}

}  // namespace zq
