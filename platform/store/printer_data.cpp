// Printer data: named values under a printer's "PrinterDriverData" key and
// keyed data under its other subkeys. The A and W calls address the same
// values; string types are kept wide and narrowed for the A calls.
#include "store/admin.h"
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

// The size protocol of printer data: the size always lands in *needed; a
// buffer smaller than the value gets ERROR_MORE_DATA.
DWORD CopyData(const StoredValue& v, bool ansi, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    std::vector<BYTE> narrowed;
    std::span<const BYTE> bytes = v.data;
    if (ansi && IsStringType(v.type)) {
        narrowed = WideBytesToAnsi(v.data);
        bytes = narrowed;
    }
    if (type) *type = v.type;
    *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) return ERROR_MORE_DATA;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

std::u16string KeyPath(std::u16string_view key) {
    std::u16string path(key);
    while (!path.empty() && path.front() == u'\\') path.erase(0, 1);
    return path;
}

DWORD GetData(HANDLE printer, std::u16string_view name, bool ansi, LPDWORD type, LPBYTE data, DWORD size,
              LPDWORD needed) {
    if (!needed || (size && !data)) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        Txn txn(*h->db, Txn::Mode::Read);
        int64_t serial = txn.Serial();
        if (serial != h->cacheSerial) {
            h->cache.clear();
            h->cacheSerial = serial;
        }
        std::u16string folded = Fold(name);
        auto it = h->cache.find(folded);
        if (it == h->cache.end()) {
            auto key = LivePrinter(txn, *h);
            if (!key) return ERROR_INVALID_HANDLE;
            auto dataKey = txn.Child(*key, kPrinterDataKey);
            std::optional<StoredValue> v;
            if (dataKey) v = txn.Value(*dataKey, name);
            it = h->cache.emplace(folded, std::move(v)).first;
        }
        if (!it->second) return ERROR_FILE_NOT_FOUND;
        return CopyData(*it->second, ansi, type, data, size, needed);
    });
}

DWORD GetDataEx(HANDLE printer, std::u16string_view keyName, std::u16string_view name, bool ansi, LPDWORD type,
                LPBYTE data, DWORD size, LPDWORD needed) {
    if (!needed || (size && !data)) return ERROR_INVALID_PARAMETER;
    std::u16string path = KeyPath(keyName);
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        Txn txn(*h->db, Txn::Mode::Read);
        auto key = LivePrinter(txn, *h);
        if (!key) return ERROR_INVALID_HANDLE;
        auto sub = txn.Walk(*key, path);
        if (!sub) return ERROR_FILE_NOT_FOUND;
        auto v = txn.Value(*sub, name);
        if (!v) return ERROR_FILE_NOT_FOUND;
        return CopyData(*v, ansi, type, data, size, needed);
    });
}

DWORD SetDataEx(HANDLE printer, std::u16string_view keyName, std::u16string_view name, bool ansi, DWORD type,
                const BYTE* data, DWORD size) {
    if (size && !data) return ERROR_INVALID_PARAMETER;
    std::u16string path = KeyPath(keyName);
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    std::vector<BYTE> bytes(data, data + size);
    if (ansi && IsStringType(type)) bytes = AnsiBytesToWide(bytes);
    return GuardCode([&]() -> DWORD {
        Txn txn(*h->db, Txn::Mode::Write);
        auto key = LivePrinter(txn, *h);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!MayAdminister(*h) || IsReadOnly(txn, *key)) return ERROR_ACCESS_DENIED;
        KeyId sub = txn.WalkCreate(*key, path);
        txn.SetValue(sub, name, type, bytes);
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

DWORD DeleteDataEx(HANDLE printer, std::u16string_view keyName, std::u16string_view name) {
    std::u16string path = KeyPath(keyName);
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        Txn txn(*h->db, Txn::Mode::Write);
        auto key = LivePrinter(txn, *h);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!MayAdminister(*h) || IsReadOnly(txn, *key)) return ERROR_ACCESS_DENIED;
        auto sub = txn.Walk(*key, path);
        if (!sub || !txn.DeleteValue(*sub, name)) return ERROR_FILE_NOT_FOUND;
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

template <class Ch>
DWORD EnumData(HANDLE printer, DWORD index, Ch* name, DWORD nameBytes, LPDWORD nameNeeded, LPDWORD type,
               LPBYTE data, DWORD dataBytes, LPDWORD dataNeeded) {
    constexpr bool ansi = std::is_same_v<Ch, CHAR>;
    if (!nameNeeded || !dataNeeded) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        std::vector<StoredValue> values;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            auto key = LivePrinter(txn, *h);
            if (!key) return ERROR_INVALID_HANDLE;
            if (auto dataKey = txn.Child(*key, kPrinterDataKey)) values = txn.Values(*dataKey);
        }
        for (auto& v : values)
            if (ansi && IsStringType(v.type)) v.data = WideBytesToAnsi(v.data);
        auto nameSize = [](const StoredValue& v) { return static_cast<DWORD>((v.name.size() + 1) * sizeof(Ch)); };
        if (nameBytes == 0 && dataBytes == 0) {
            // Both sizes zero asks for the largest name and data of all values.
            if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
            DWORD n = 0, d = 0;
            for (auto& v : values) {
                n = std::max(n, nameSize(v));
                d = std::max(d, static_cast<DWORD>(v.data.size()));
            }
            *nameNeeded = n;
            *dataNeeded = d;
            return ERROR_SUCCESS;
        }
        if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
        auto& v = values[index];
        *nameNeeded = nameSize(v);
        *dataNeeded = static_cast<DWORD>(v.data.size());
        if (nameBytes < nameSize(v) || dataBytes < v.data.size() || !name || (!data && !v.data.empty()))
            return ERROR_MORE_DATA;
        if constexpr (ansi) {
            std::string n = WideToAnsi(v.name);
            std::memcpy(name, n.c_str(), n.size() + 1);
        } else {
            std::memcpy(name, v.name.c_str(), (v.name.size() + 1) * 2);
        }
        if (type) *type = v.type;
        if (!v.data.empty()) std::memcpy(data, v.data.data(), v.data.size());
        return ERROR_SUCCESS;
    });
}

std::u16string W(LPCSTR s) { return AnsiToWide(View(s)); }

}  // namespace

}  // namespace zq::store

using namespace zq::store;

extern "C" {

DWORD GetPrinterDataW(HANDLE printer, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    return GetData(printer, View(name), false, type, data, size, needed);
}
DWORD GetPrinterDataA(HANDLE printer, LPSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    return GetData(printer, W(name), true, type, data, size, needed);
}
DWORD SetPrinterDataW(HANDLE printer, LPWSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetDataEx(printer, kPrinterDataKey, View(name), false, type, data, size);
}
DWORD SetPrinterDataA(HANDLE printer, LPSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetDataEx(printer, kPrinterDataKey, W(name), true, type, data, size);
}
DWORD GetPrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed) {
    return GetDataEx(printer, View(key), View(name), false, type, data, size, needed);
}
DWORD GetPrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed) {
    return GetDataEx(printer, W(key), W(name), true, type, data, size, needed);
}
DWORD SetPrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetDataEx(printer, View(key), View(name), false, type, data, size);
}
DWORD SetPrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetDataEx(printer, W(key), W(name), true, type, data, size);
}
DWORD DeletePrinterDataW(HANDLE printer, LPWSTR name) { return DeleteDataEx(printer, kPrinterDataKey, View(name)); }
DWORD DeletePrinterDataA(HANDLE printer, LPSTR name) { return DeleteDataEx(printer, kPrinterDataKey, W(name)); }
DWORD DeletePrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name) {
    return DeleteDataEx(printer, View(key), View(name));
}
DWORD DeletePrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name) { return DeleteDataEx(printer, W(key), W(name)); }

DWORD EnumPrinterDataW(HANDLE printer, DWORD index, LPWSTR name, DWORD nameBytes, LPDWORD nameNeeded, LPDWORD type,
                       LPBYTE data, DWORD dataBytes, LPDWORD dataNeeded) {
    return EnumData(printer, index, name, nameBytes, nameNeeded, type, data, dataBytes, dataNeeded);
}
DWORD EnumPrinterDataA(HANDLE printer, DWORD index, LPSTR name, DWORD nameBytes, LPDWORD nameNeeded, LPDWORD type,
                       LPBYTE data, DWORD dataBytes, LPDWORD dataNeeded) {
    return EnumData(printer, index, name, nameBytes, nameNeeded, type, data, dataBytes, dataNeeded);
}

DWORD EnumPrinterDataExW(HANDLE printer, LPCWSTR key, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (!needed || !returned) return ERROR_INVALID_PARAMETER;
    std::u16string path(View(key));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        std::vector<StoredValue> values;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            auto k = LivePrinter(txn, *h);
            if (!k) return ERROR_INVALID_HANDLE;
            auto sub = txn.Walk(*k, path);
            if (!sub) return ERROR_FILE_NOT_FOUND;
            values = txn.Values(*sub);
        }
        BOOL ok = PackRecords<PRINTER_ENUM_VALUESW, WCHAR>(
            values.size(), buffer, size, needed, returned, [&](auto& rec, size_t i, auto& p) {
                rec.pValueName = p.Str(values[i].name);
                rec.cbValueName = static_cast<DWORD>((values[i].name.size() + 1) * 2);
                rec.dwType = values[i].type;
                rec.pData = p.Bytes(values[i].data);
                rec.cbData = static_cast<DWORD>(values[i].data.size());
            });
        return ok ? ERROR_SUCCESS : ERROR_MORE_DATA;
    });
}

DWORD EnumPrinterKeyW(HANDLE printer, LPCWSTR key, LPWSTR subKeys, DWORD size, LPDWORD needed) {
    if (!needed) return ERROR_INVALID_PARAMETER;
    std::u16string path(View(key));
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        std::u16string list;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            auto k = LivePrinter(txn, *h);
            if (!k) return ERROR_INVALID_HANDLE;
            auto sub = txn.Walk(*k, path);
            if (!sub) return ERROR_FILE_NOT_FOUND;
            for (auto& c : txn.Children(*sub)) {
                list += c.name;
                list.push_back(0);
            }
        }
        list.push_back(0);
        *needed = static_cast<DWORD>(list.size() * 2);
        if (size < *needed || !subKeys) return ERROR_MORE_DATA;
        std::memcpy(subKeys, list.data(), list.size() * 2);
        return ERROR_SUCCESS;
    });
}

DWORD DeletePrinterKeyW(HANDLE printer, LPCWSTR key) {
    std::u16string path(View(key));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return ERROR_INVALID_HANDLE;
    return GuardCode([&]() -> DWORD {
        Txn txn(*h->db, Txn::Mode::Write);
        auto k = LivePrinter(txn, *h);
        if (!k) return ERROR_INVALID_HANDLE;
        if (!MayAdminister(*h) || IsReadOnly(txn, *k)) return ERROR_ACCESS_DENIED;
        auto sub = txn.Walk(*k, path);
        if (!sub) return ERROR_FILE_NOT_FOUND;
        txn.DeleteTree(*sub);
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

}  // extern "C"
