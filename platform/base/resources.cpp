#include "base/resources.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include "base/error.h"
#include "base/locale.h"
#include "base/resource_directory.h"
#include "base/text.h"

namespace {

constexpr DWORD ERROR_RESOURCE_ENUM_USER_STOP = 15106;

uint32_t Read32(const BYTE* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t Read16(const BYTE* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Decodes a directory, checking every offset against its size.
std::optional<std::vector<zq::ResourceEntry>> Parse(const BYTE* data, size_t size) {
    using zq::ResourceDirectoryEntry;
    using zq::ResourceDirectoryHeader;
    if (!data || size < sizeof(ResourceDirectoryHeader) || std::memcmp(data, zq::kResourceMagic, 8) != 0)
        return std::nullopt;
    size_t total = Read32(data + 12);
    if (total > size || total < sizeof(ResourceDirectoryHeader)) return std::nullopt;
    size_t count = Read32(data + 8);
    if (count > (total - sizeof(ResourceDirectoryHeader)) / sizeof(ResourceDirectoryEntry)) return std::nullopt;
    auto name = [&](uint32_t ref, bool& isString, WORD& id, std::u16string& text) {
        if (!(ref & zq::kResourceNameIsString)) {
            if (ref > 0xFFFF) return false;
            isString = false;
            id = static_cast<WORD>(ref);
            return true;
        }
        size_t at = ref & ~zq::kResourceNameIsString;
        if (at > total || total - at < 2) return false;
        size_t length = Read16(data + at);
        if ((total - at - 2) / 2 < length) return false;
        isString = true;
        text.resize(length);
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(Read16(data + at + 2 + 2 * i));
        return true;
    };
    std::vector<zq::ResourceEntry> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const BYTE* e = data + sizeof(ResourceDirectoryHeader) + i * sizeof(ResourceDirectoryEntry);
        zq::ResourceEntry r;
        if (!name(Read32(e), r.typeIsString, r.typeId, r.typeName)) return std::nullopt;
        if (!name(Read32(e + 4), r.nameIsString, r.nameId, r.name)) return std::nullopt;
        r.language = Read16(e + 8);
        size_t offset = Read32(e + 12), length = Read32(e + 16);
        if (offset > total || total - offset < length) return std::nullopt;
        r.data = data + offset;
        r.size = static_cast<DWORD>(length);
        out.push_back(std::move(r));
    }
    return out;
}

// Parsed directories by module handle. Handles are never reused, so an entry
// of an unloaded module is simply never asked for again.
struct Cache {
    std::mutex lock;
    std::map<HMODULE, std::pair<const BYTE*, std::unique_ptr<std::vector<zq::ResourceEntry>>>> parsed;
};

Cache& TheCache() {
    static Cache* cache = new Cache;
    return *cache;
}

const std::vector<zq::ResourceEntry>* EntriesOf(HMODULE module) {
    auto [dir, size] = zq::ModuleResourceDirectory(module);
    if (!dir) return nullptr;
    auto& c = TheCache();
    std::lock_guard lock(c.lock);
    auto& slot = c.parsed[module];
    if (slot.first != dir || !slot.second) {
        auto entries = Parse(dir, size);
        if (!entries) return nullptr;
        slot.first = dir;
        slot.second = std::make_unique<std::vector<zq::ResourceEntry>>(std::move(*entries));
    }
    return slot.second.get();
}

// A resource name or type as the caller gave it.
struct Key {
    bool isString = false;
    WORD id = 0;
    std::u16string name;
};

Key KeyOf(LPCWSTR p) {
    Key k;
    if (IS_INTRESOURCE(p)) {
        k.id = static_cast<WORD>(reinterpret_cast<uintptr_t>(p));
        return k;
    }
    std::u16string_view s(p);
    if (s.size() > 1 && s[0] == u'#') {  // "#12" is the number 12
        uint32_t v = 0;
        bool digits = true;
        for (char16_t c : s.substr(1)) {
            if (c < u'0' || c > u'9' || v > 0xFFFF) digits = false;
            v = v * 10 + (c - u'0');
        }
        if (digits && v <= 0xFFFF) {
            k.id = static_cast<WORD>(v);
            return k;
        }
    }
    k.isString = true;
    k.name = std::u16string(s);
    return k;
}

Key KeyOf(LPCSTR p) {
    if (IS_INTRESOURCE(p)) {
        Key k;
        k.id = static_cast<WORD>(reinterpret_cast<uintptr_t>(p));
        return k;
    }
    std::u16string wide = zq::AnsiToWide(p);
    return KeyOf(wide.c_str());
}

bool Matches(const Key& k, bool isString, WORD id, const std::u16string& name) {
    if (k.isString != isString) return false;
    return isString ? zq::EqualsIgnoreCase(std::u16string_view(k.name), std::u16string_view(name)) : k.id == id;
}

// language: nullopt picks neutral, then the user's language, then US
// English, then the first present.
HRSRC Find(HMODULE module, const Key& type, const Key& name, std::optional<WORD> language) {
    const auto* entries = EntriesOf(module);
    if (!entries) {
        SetLastError(zq::FindModule(module) ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool typeSeen = false;
    std::vector<const zq::ResourceEntry*> found;
    for (const auto& e : *entries) {
        if (!Matches(type, e.typeIsString, e.typeId, e.typeName)) continue;
        typeSeen = true;
        if (Matches(name, e.nameIsString, e.nameId, e.name)) found.push_back(&e);
    }
    if (found.empty()) {
        SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    auto pick = [&](WORD lang) -> const zq::ResourceEntry* {
        for (auto* e : found)
            if (e->language == lang) return e;
        return nullptr;
    };
    const zq::ResourceEntry* chosen = nullptr;
    if (language && *language != 0) {
        chosen = pick(*language);
        if (!chosen) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return nullptr;
        }
    } else {
        chosen = pick(0);
        if (!chosen) chosen = pick(GetUserDefaultLangID());
        if (!chosen) chosen = pick(0x0409);
        if (!chosen) chosen = found.front();
    }
    return reinterpret_cast<HRSRC>(const_cast<zq::ResourceEntry*>(chosen));
}

const zq::ResourceEntry* EntryOf(HRSRC r) { return reinterpret_cast<const zq::ResourceEntry*>(r); }

// FindResource and FindResourceEx, A and W alike.
template <class Ch>
HRSRC FindNamed(HMODULE module, const Ch* type, const Ch* name, std::optional<WORD> language) {
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Find(module, KeyOf(type), KeyOf(name), language);
}

// EnumResourceNames, A and W alike: one call per name, whatever the number
// of its languages.
template <class Ch, class Proc>
BOOL EnumNames(HMODULE module, const Ch* type, Proc proc, LONG_PTR param) {
    if (!type || !proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* entries = EntriesOf(module);
    Key t = KeyOf(type);
    bool any = false;
    const zq::ResourceEntry* previous = nullptr;
    for (const auto& e : entries ? *entries : std::vector<zq::ResourceEntry>{}) {
        if (!Matches(t, e.typeIsString, e.typeId, e.typeName)) continue;
        if (previous && previous->nameIsString == e.nameIsString && previous->nameId == e.nameId &&
            previous->name == e.name)
            continue;
        previous = &e;
        any = true;
        std::basic_string<Ch> name;
        if constexpr (std::is_same_v<Ch, char>) {
            name = zq::WideToAnsi(e.name);
        } else {
            name = e.name;
        }
        Ch* n = e.nameIsString ? name.data() : reinterpret_cast<Ch*>(static_cast<uintptr_t>(e.nameId));
        if (!proc(module, type, n, param)) {
            SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
            return FALSE;
        }
    }
    if (!any) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

// The string `id` of a module: a pointer into its string block and a length.
std::optional<std::u16string_view> FindString(HINSTANCE module, UINT id) {
    Key type, block;
    type.id = zq::kRtString;
    block.id = static_cast<WORD>(((id >> 4) + 1) & 0xFFFF);
    if (id > 0xFFFF) return std::nullopt;
    HRSRC r = Find(module, type, block, std::nullopt);
    if (!r) return std::nullopt;
    const auto* e = EntryOf(r);
    size_t at = 0;
    for (UINT i = 0;; ++i) {
        if (at > e->size || e->size - at < 2) return std::nullopt;
        size_t length = Read16(e->data + at);
        at += 2;
        if ((e->size - at) / 2 < length) return std::nullopt;
        if (i == (id & 15)) {
            if (length == 0) return std::nullopt;
            return std::u16string_view(reinterpret_cast<const char16_t*>(e->data + at), length);
        }
        at += 2 * length;
    }
}

}  // namespace

extern "C" HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    return FindNamed(module, type, name, std::nullopt);
}

extern "C" HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    return FindNamed(module, type, name, std::nullopt);
}

extern "C" HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    return FindNamed(module, type, name, language);
}

extern "C" HRSRC FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    return FindNamed(module, type, name, language);
}

extern "C" HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<BYTE*>(EntryOf(resource)->data);
}

extern "C" LPVOID LockResource(HGLOBAL data) { return data; }

extern "C" DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return EntryOf(resource)->size;
}

extern "C" BOOL FreeResource(HGLOBAL) { return FALSE; }

extern "C" int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
    if (!buffer || size < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto text = FindString(module, id);
    if (size == 0) {
        // The caller gets a read-only pointer into the module's string block.
        if (!text) return 0;
        *reinterpret_cast<LPCWSTR*>(buffer) = text->data();
        return static_cast<int>(text->size());
    }
    if (!text) {
        buffer[0] = 0;
        return 0;
    }
    size_t n = std::min(text->size(), static_cast<size_t>(size) - 1);
    std::copy(text->begin(), text->begin() + static_cast<std::ptrdiff_t>(n), buffer);
    buffer[n] = 0;
    return static_cast<int>(n);
}

extern "C" int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto text = FindString(module, id);
    if (!text) {
        buffer[0] = 0;
        return 0;
    }
    std::string ansi = zq::WideToAnsi(*text);
    size_t n = std::min(ansi.size(), static_cast<size_t>(size) - 1);
    // Never cut a double-byte character in half.
    if (n < ansi.size()) {
        size_t i = 0;
        while (i < n) {
            size_t step = IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) ? 2 : 1;
            if (i + step > n) break;
            i += step;
        }
        n = i;
    }
    std::memcpy(buffer, ansi.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

extern "C" BOOL EnumResourceNamesW(HMODULE module, LPCWSTR type, ENUMRESNAMEPROCW proc, LONG_PTR param) {
    return EnumNames(module, type, proc, param);
}

extern "C" BOOL EnumResourceNamesA(HMODULE module, LPCSTR type, ENUMRESNAMEPROCA proc, LONG_PTR param) {
    return EnumNames(module, type, proc, param);
}

extern "C" HANDLE EngLoadModule(LPWSTR path) {
    if (!path) return nullptr;
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

extern "C" PVOID EngFindResource(HANDLE module, int name, int type, ULONG* size) {
    if (size) *size = 0;
    if (!module || name < 0 || name > 0xFFFF || type < 0 || type > 0xFFFF) return nullptr;
    auto h = static_cast<HMODULE>(module);
    HRSRC r = FindResourceW(h, MAKEINTRESOURCEW(static_cast<WORD>(name)), MAKEINTRESOURCEW(static_cast<WORD>(type)));
    if (!r) return nullptr;
    if (size) *size = SizeofResource(h, r);
    return LockResource(LoadResource(h, r));
}

extern "C" void EngFreeModule(HANDLE module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

namespace zq {

std::vector<ResourceEntry> ListResources(HMODULE module) {
    const auto* entries = EntriesOf(module);
    return entries ? *entries : std::vector<ResourceEntry>{};
}

void ForgetModuleResources(HMODULE module) {
    auto& c = TheCache();
    std::lock_guard lock(c.lock);
    c.parsed.erase(module);
}

bool IsValidResourceDirectory(const BYTE* data, size_t size) { return Parse(data, size).has_value(); }

}  // namespace zq
