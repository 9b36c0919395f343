// The registry calls over the store's key tree.
#include "store/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/locale.h"
#include "database.h"
#include "store/admin.h"
#include "store_internal.h"
#include "wide.h"

namespace zq::store {

namespace {

struct OpenKey {
    std::shared_ptr<Db> db;
    KeyId id = 0;
    REGSAM access = 0;
};

struct KeyTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, OpenKey> keys;
    uintptr_t next = 0x10000;
};
KeyTable& Keys() {
    static KeyTable* table = new KeyTable;
    return *table;
}

std::mutex g_userLock;
std::u16string g_user;

HKEY AddHandle(OpenKey key) {
    auto& t = Keys();
    std::lock_guard lock(t.lock);
    uintptr_t token = t.next;
    t.next += 4;
    t.keys.emplace(token, std::move(key));
    return reinterpret_cast<HKEY>(token);
}

enum class Root { None, Hklm, Hku, Hkcu, Hkcc, Hkcr };

Root PredefinedOf(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return Root::Hklm;
    if (key == HKEY_USERS) return Root::Hku;
    if (key == HKEY_CURRENT_USER) return Root::Hkcu;
    if (key == HKEY_CURRENT_CONFIG) return Root::Hkcc;
    if (key == HKEY_CLASSES_ROOT) return Root::Hkcr;
    return Root::None;
}

// What a handle stands for: a database and a key in it (resolved inside the
// caller's transaction, since HKEY_CURRENT_USER may need creating).
struct Target {
    std::shared_ptr<Db> db;
    Root root = Root::None;
    KeyId id = 0;
    REGSAM access = KEY_ALL_ACCESS;
};

std::optional<Target> TargetOf(HKEY key) {
    Root root = PredefinedOf(key);
    if (root != Root::None) return Target{Db::Current(), root, 0, KEY_ALL_ACCESS};
    auto& t = Keys();
    std::lock_guard lock(t.lock);
    auto it = t.keys.find(reinterpret_cast<uintptr_t>(key));
    if (it == t.keys.end()) return std::nullopt;
    return Target{it->second.db, Root::None, it->second.id, it->second.access};
}

// The key id of a target; nullopt when it is gone (a deleted key, or the
// current user's hive not made yet and create not asked).
std::optional<KeyId> Resolve(Txn& txn, const Target& t, bool create) {
    Db& db = txn.Database();
    switch (t.root) {
    case Root::Hklm: return db.Hklm();
    case Root::Hku: return db.Hku();
    case Root::Hkcc: return db.Hkcc();
    case Root::Hkcu:
        if (create) return txn.CreateChild(db.Hku(), RegistryUser());
        return txn.Child(db.Hku(), RegistryUser());
    case Root::Hkcr:
        if (create) return txn.WalkCreate(db.Hklm(), u"SOFTWARE\\Classes");
        return txn.Walk(db.Hklm(), u"SOFTWARE\\Classes");
    case Root::None: break;
    }
    if (!txn.KeyExists(t.id)) return std::nullopt;
    return t.id;
}

LONG Missing(const Target& t) { return t.root == Root::None ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND; }
// An enumeration of a root whose hive is not made yet is simply empty.
LONG EnumMissing(const Target& t) { return t.root == Root::None ? ERROR_KEY_DELETED : ERROR_NO_MORE_ITEMS; }

REGSAM Granted(REGSAM asked) {
    if (asked & MAXIMUM_ALLOWED) return KEY_ALL_ACCESS;
    return asked;
}

template <class F>
LONG Guard(F&& f, LONG onFailure) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const StoreError& e) {
        return static_cast<LONG>(NoteStoreFailure(e, static_cast<DWORD>(onFailure)));
    }
}

// One registry call on the key behind a handle, in one transaction of the
// given mode: the handle must carry `needs`; failures of the database come
// back as the mode's read or write error.
template <class F>
LONG OnKey(HKEY key, Txn::Mode mode, REGSAM needs, F&& body) {
    auto t = TargetOf(key);
    if (!t) return ERROR_INVALID_HANDLE;
    if ((t->access & needs) != needs) return ERROR_ACCESS_DENIED;
    return Guard(
        [&]() -> LONG {
            Txn txn(*t->db, mode);
            return body(txn, *t);
        },
        mode == Txn::Mode::Read ? ERROR_CANTREAD : ERROR_CANTWRITE);
}

// The same on a key that must exist (or be made, with `create`): a key that
// is gone answers as Missing does.
template <class F>
LONG OnResolvedKey(HKEY key, Txn::Mode mode, REGSAM needs, bool create, F&& body) {
    return OnKey(key, mode, needs, [&](Txn& txn, const Target& t) -> LONG {
        auto id = Resolve(txn, t, create);
        if (!id) return Missing(t);
        return body(txn, *id, t);
    });
}

LONG OpenKeyW(HKEY key, std::u16string_view sub, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return OnResolvedKey(key, Txn::Mode::Read, 0, false, [&](Txn& txn, KeyId base, const Target& t) -> LONG {
        auto id = txn.Walk(base, sub);
        if (!id) return ERROR_FILE_NOT_FOUND;
        *result = AddHandle({t.db, *id, Granted(access)});
        return ERROR_SUCCESS;
    });
}

LONG CreateKeyW(HKEY key, std::u16string_view sub, REGSAM access, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return OnResolvedKey(key, Txn::Mode::Write, 0, true, [&](Txn& txn, KeyId base, const Target& t) -> LONG {
        auto existing = txn.Walk(base, sub);
        bool created = false;
        KeyId id = 0;
        if (existing) {
            id = *existing;
        } else {
            if (!(t.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            id = txn.WalkCreate(base, sub, &created);
            created = true;
        }
        txn.Commit();
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        *result = AddHandle({t.db, id, Granted(access)});
        return ERROR_SUCCESS;
    });
}

// Copies a value out under the size protocol of the registry: no buffer
// asks for the size; a short buffer gets ERROR_MORE_DATA and the size.
LONG CopyOut(std::span<const BYTE> data, DWORD type, LPDWORD typeOut, LPBYTE buffer, LPDWORD size) {
    if (typeOut) *typeOut = type;
    if (!size) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD need = static_cast<DWORD>(data.size());
    if (!buffer) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    if (need) std::memcpy(buffer, data.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, std::u16string_view name, LPDWORD type, LPBYTE data, LPDWORD size, bool ansi) {
    return OnResolvedKey(key, Txn::Mode::Read, 0, false, [&](Txn& txn, KeyId id, const Target&) -> LONG {
        auto v = txn.Value(id, name);
        if (!v) return ERROR_FILE_NOT_FOUND;
        if (ansi && IsStringType(v->type)) v->data = WideBytesToAnsi(v->data);
        return CopyOut(v->data, v->type, type, data, size);
    });
}

LONG SetValue(HKEY key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size, bool ansi) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    return OnResolvedKey(key, Txn::Mode::Write, KEY_SET_VALUE, true, [&](Txn& txn, KeyId id, const Target&) -> LONG {
        std::vector<BYTE> bytes(data, data + size);
        if (ansi && IsStringType(type)) bytes = AnsiBytesToWide(bytes);
        txn.SetValue(id, name, type, bytes);
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

LONG DeleteValue(HKEY key, std::u16string_view name) {
    return OnResolvedKey(key, Txn::Mode::Write, KEY_SET_VALUE, false, [&](Txn& txn, KeyId id, const Target&) -> LONG {
        if (!txn.DeleteValue(id, name)) return ERROR_FILE_NOT_FOUND;
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

LONG DeleteKey(HKEY key, std::u16string_view sub) {
    return OnResolvedKey(key, Txn::Mode::Write, 0, false, [&](Txn& txn, KeyId base, const Target&) -> LONG {
        auto id = txn.Walk(base, sub);
        if (!id) return ERROR_FILE_NOT_FOUND;
        Db& db = txn.Database();
        if (*id == db.Hklm() || *id == db.Hku() || *id == db.Hkcc()) return ERROR_ACCESS_DENIED;
        // A key with subkeys is not deleted: callers walk the tree
        // themselves, from the leaves up.
        if (!txn.Children(*id).empty()) return ERROR_ACCESS_DENIED;
        txn.DeleteTree(*id);
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

FILETIME ToFileTime(int64_t unixSeconds) {
    uint64_t ticks = (static_cast<uint64_t>(unixSeconds) + 11644473600ull) * 10000000ull;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

template <class Ch>
LONG CopyName(std::u16string_view name, Ch* out, LPDWORD chars) {
    if (!out || !chars) return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *chars) return ERROR_MORE_DATA;
    if constexpr (std::is_same_v<Ch, char>) {
        std::string n = WideToAnsi(name);
        std::memcpy(out, n.data(), n.size());
    } else {
        std::memcpy(out, name.data(), name.size() * 2);
    }
    out[name.size()] = 0;
    *chars = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

template <class Ch>
LONG EnumKey(HKEY key, DWORD index, Ch* name, LPDWORD chars, Ch* keyClass, LPDWORD classChars, FILETIME* lastWrite) {
    return OnKey(key, Txn::Mode::Read, 0, [&](Txn& txn, const Target& t) -> LONG {
        auto id = Resolve(txn, t, false);
        if (!id) return EnumMissing(t);
        auto children = txn.Children(*id);
        if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
        LONG rc = CopyName(children[index].name, name, chars);
        if (rc != ERROR_SUCCESS) return rc;
        if (keyClass && classChars && *classChars) keyClass[0] = 0;
        if (classChars) *classChars = 0;
        if (lastWrite) *lastWrite = ToFileTime(txn.WriteTime(children[index].id));
        return ERROR_SUCCESS;
    });
}

template <class Ch>
LONG EnumValue(HKEY key, DWORD index, Ch* name, LPDWORD chars, LPDWORD type, LPBYTE data, LPDWORD size) {
    constexpr bool ansi = std::is_same_v<Ch, char>;
    return OnKey(key, Txn::Mode::Read, 0, [&](Txn& txn, const Target& t) -> LONG {
        auto id = Resolve(txn, t, false);
        if (!id) return EnumMissing(t);
        auto values = txn.Values(*id);
        if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
        auto& v = values[index];
        if (ansi && IsStringType(v.type)) v.data = WideBytesToAnsi(v.data);
        LONG rc = CopyName(v.name, name, chars);
        if (rc != ERROR_SUCCESS) {
            if (size) *size = static_cast<DWORD>(v.data.size());
            return rc;
        }
        return CopyOut(v.data, v.type, type, data, size);
    });
}

template <class Ch>
LONG QueryInfo(HKEY key, Ch* keyClass, LPDWORD classChars, LPDWORD subKeys, LPDWORD maxSubKey, LPDWORD maxClass,
               LPDWORD values, LPDWORD maxValueName, LPDWORD maxValueBytes, LPDWORD securityBytes,
               FILETIME* lastWrite) {
    constexpr bool ansi = std::is_same_v<Ch, char>;
    return OnKey(key, Txn::Mode::Read, 0, [&](Txn& txn, const Target& t) -> LONG {
        auto id = Resolve(txn, t, false);
        std::vector<KeyInfo> children;
        std::vector<StoredValue> vals;
        if (id) {
            children = txn.Children(*id);
            vals = txn.Values(*id);
        } else if (t.root == Root::None) {
            return ERROR_KEY_DELETED;
        }
        DWORD longestKey = 0, longestName = 0, longestData = 0;
        for (auto& c : children) longestKey = std::max<DWORD>(longestKey, static_cast<DWORD>(c.name.size()));
        for (auto& v : vals) {
            longestName = std::max<DWORD>(longestName, static_cast<DWORD>(v.name.size()));
            size_t bytes = (ansi && IsStringType(v.type)) ? v.data.size() / 2 : v.data.size();
            longestData = std::max<DWORD>(longestData, static_cast<DWORD>(bytes));
        }
        if (keyClass && classChars && *classChars) keyClass[0] = 0;
        if (classChars) *classChars = 0;
        if (subKeys) *subKeys = static_cast<DWORD>(children.size());
        if (maxSubKey) *maxSubKey = longestKey;
        if (maxClass) *maxClass = 0;
        if (values) *values = static_cast<DWORD>(vals.size());
        if (maxValueName) *maxValueName = longestName;
        if (maxValueBytes) *maxValueBytes = longestData;
        if (securityBytes) *securityBytes = 20;
        if (lastWrite) *lastWrite = ToFileTime(id ? txn.WriteTime(*id) : 0);
        return ERROR_SUCCESS;
    });
}

}  // namespace

std::u16string LocalComputerName() {
    char16_t name[64] = {};
    DWORD size = 64;
    if (!GetComputerNameW(name, &size)) return u"LOCALHOST";
    return std::u16string(name, size);
}

namespace {

LONG Connect(std::u16string_view machine, HKEY key, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    while (!machine.empty() && machine.front() == u'\\') machine.remove_prefix(1);
    if (!machine.empty() && !SameName(machine, LocalComputerName()) && !SameName(machine, u"localhost") &&
        machine != u".")
        return 53;  // ERROR_BAD_NETPATH: only this computer's registry is reachable
    if (key != HKEY_LOCAL_MACHINE && key != HKEY_USERS) return ERROR_INVALID_HANDLE;
    *result = key;
    return ERROR_SUCCESS;
}

std::u16string A(LPCSTR s) { return AnsiToWide(View(s)); }

}  // namespace

namespace {

// The login name of the process's user. Every key under HKEY_CURRENT_USER
// asks for it, and the account database is a file read per lookup, so the
// name is looked up once per user id (a process that changes its id asks
// again).
std::u16string AccountName() {
    static std::mutex lock;
    static uid_t cachedUid = static_cast<uid_t>(-1);
    static std::u16string cachedName;
    const uid_t uid = getuid();
    std::lock_guard guard(lock);
    if (uid != cachedUid || cachedName.empty()) {
        passwd pw{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        cachedName = getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
                             found->pw_name != nullptr
                         ? FromUtf8(found->pw_name)
                         : u"user";
        cachedUid = uid;
    }
    return cachedName;
}

}  // namespace

void SetRegistryUser(std::u16string_view user) {
    std::lock_guard lock(g_userLock);
    g_user = std::u16string(user);
}

std::u16string RegistryUser() {
    {
        std::lock_guard lock(g_userLock);
        if (!g_user.empty()) return g_user;
    }
    if (const char* env = std::getenv("ZQ_USER"); env && *env) return FromUtf8(env);
    return AccountName();
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    return OpenKeyW(key, View(subKey), access, result);
}
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    return OpenKeyW(key, A(subKey), access, result);
}
LONG RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result) { return OpenKeyW(key, View(subKey), KEY_ALL_ACCESS, result); }
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return OpenKeyW(key, A(subKey), KEY_ALL_ACCESS, result); }

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    return CreateKeyW(key, View(subKey), access, result, disposition);
}
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    return CreateKeyW(key, A(subKey), access, result, disposition);
}
LONG RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
    return CreateKeyW(key, View(subKey), KEY_ALL_ACCESS, result, nullptr);
}
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return CreateKeyW(key, A(subKey), KEY_ALL_ACCESS, result, nullptr);
}

LONG RegCloseKey(HKEY key) {
    if (PredefinedOf(key) != Root::None) return ERROR_SUCCESS;
    auto& t = Keys();
    std::lock_guard lock(t.lock);
    return t.keys.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegConnectRegistryW(LPCWSTR machine, HKEY key, PHKEY result) { return Connect(View(machine), key, result); }
LONG RegConnectRegistryA(LPCSTR machine, HKEY key, PHKEY result) { return Connect(A(machine), key, result); }

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    return QueryValue(key, View(name), type, data, size, false);
}
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    return QueryValue(key, A(name), type, data, size, true);
}
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    return SetValue(key, View(name), type, data, size, false);
}
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    return SetValue(key, A(name), type, data, size, true);
}
LONG RegDeleteValueW(HKEY key, LPCWSTR name) { return DeleteValue(key, View(name)); }
LONG RegDeleteValueA(HKEY key, LPCSTR name) { return DeleteValue(key, A(name)); }
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return DeleteKey(key, View(subKey)); }
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) { return DeleteKey(key, A(subKey)); }

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPWSTR keyClass,
                   LPDWORD classChars, FILETIME* lastWrite) {
    return EnumKey(key, index, name, nameChars, keyClass, classChars, lastWrite);
}
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPSTR keyClass,
                   LPDWORD classChars, FILETIME* lastWrite) {
    return EnumKey(key, index, name, nameChars, keyClass, classChars, lastWrite);
}
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD size) {
    return EnumValue(key, index, name, nameChars, type, data, size);
}
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD size) {
    return EnumValue(key, index, name, nameChars, type, data, size);
}
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values, LPDWORD maxValueNameChars,
                      LPDWORD maxValueBytes, LPDWORD securityBytes, FILETIME* lastWrite) {
    return QueryInfo(key, keyClass, classChars, subKeys, maxSubKeyChars, maxClassChars, values, maxValueNameChars,
                     maxValueBytes, securityBytes, lastWrite);
}
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classChars, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values, LPDWORD maxValueNameChars,
                      LPDWORD maxValueBytes, LPDWORD securityBytes, FILETIME* lastWrite) {
    return QueryInfo(key, keyClass, classChars, subKeys, maxSubKeyChars, maxClassChars, values, maxValueNameChars,
                     maxValueBytes, securityBytes, lastWrite);
}

LONG RegGetKeySecurity(HKEY key, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR descriptor, LPDWORD size) {
    if (!TargetOf(key)) return ERROR_INVALID_HANDLE;
    if (!size) return ERROR_INVALID_PARAMETER;
    // An empty self-relative descriptor: revision 1, control SE_SELF_RELATIVE.
    static constexpr BYTE kDescriptor[20] = {1, 0, 0, 0x80};
    if (!descriptor || *size < sizeof kDescriptor) {
        *size = sizeof kDescriptor;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(descriptor, kDescriptor, sizeof kDescriptor);
    *size = sizeof kDescriptor;
    return ERROR_SUCCESS;
}

LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) {
    return TargetOf(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY key) { return TargetOf(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE; }

}  // extern "C"
