#include "base/loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include "base/error.h"
#include "base/paths.h"
#include "base/resource_directory.h"
#include "base/resources.h"
#include "base/root.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace {

struct Module {
    uintptr_t token = 0;
    fs::path path;            // canonical file path; empty for the program
    void* dl = nullptr;       // dlopen handle; null for a resource file
    link_map* map = nullptr;  // the object's link map, to tell its symbols from its dependencies'
    int references = 0;
    bool attached = false;
    bool program = false;
    std::vector<uint8_t> fileBytes;  // a standalone resource file
    const uint8_t* directory = nullptr;
    size_t directorySize = 0;
};

using DllMainProc = BOOL (*)(HINSTANCE, DWORD, LPVOID);

struct LoaderState {
    // Recursive: DllMain runs under the lock and may load or free modules,
    // as under the Windows loader lock.
    std::recursive_mutex lock;
    std::map<uintptr_t, std::unique_ptr<Module>> modules;
    uintptr_t nextSerial = 1;
    Module* program = nullptr;
};

LoaderState& State() {
    static LoaderState* state = new LoaderState;  // outlives static destructors of modules
    return *state;
}

thread_local std::string t_lastLoadError;

HMODULE ToHandle(uintptr_t token) { return reinterpret_cast<HMODULE>(token); }

uintptr_t NewToken(LoaderState& s) {
    // Aligned like Windows module handles, never a small integer resource id.
    return 0x5A0000000000ull + (s.nextSerial++ << 16);
}

std::string LowerAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The object (link map) that holds an address.
link_map* MapOf(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return nullptr;
    return map;
}

// A symbol of the module itself, not of a library it depends on.
void* OwnSymbol(const Module& m, const char* name) {
    if (!m.dl) return nullptr;
    void* sym = dlsym(m.dl, name);
    if (!sym || MapOf(sym) != m.map) return nullptr;
    return sym;
}

void FindDirectory(Module& m) {
    auto* dir = static_cast<const uint8_t*>(OwnSymbol(m, zq::kResourceDirectorySymbol));
    if (!dir || std::memcmp(dir, zq::kResourceMagic, sizeof zq::kResourceMagic) != 0) return;
    uint32_t total;
    std::memcpy(&total, dir + 12, 4);
    m.directory = dir;
    m.directorySize = total;
}

Module* Program(LoaderState& s) {
    if (s.program) return s.program;
    auto m = std::make_unique<Module>();
    m->token = NewToken(s);
    m->program = true;
    m->references = 1;
    m->attached = true;
    m->dl = dlopen(nullptr, RTLD_NOW);
    if (m->dl) dlinfo(m->dl, RTLD_DI_LINKMAP, &m->map);
    std::error_code ec;
    m->path = fs::read_symlink("/proc/self/exe", ec);
    FindDirectory(*m);
    s.program = m.get();
    s.modules.emplace(m->token, std::move(m));
    return s.program;
}

Module* Find(LoaderState& s, HMODULE handle) {
    if (!handle) return Program(s);
    auto it = s.modules.find(reinterpret_cast<uintptr_t>(handle));
    return it == s.modules.end() ? nullptr : it->second.get();
}

// File names a module name may stand for: "x.dll", "x.drv" and "x" become
// "x.so" (the name as given is the second choice); a name with any other
// extension (a resource file "x.res") is tried as given first.
std::vector<std::string> Candidates(const std::string& name) {
    static constexpr std::string_view kCodeExtensions[] = {".dll", ".drv", ".ocx", ".exe", ".cpl", ".sys", ".ax"};
    std::vector<std::string> out;
    std::string base = name;
    while (!base.empty() && (base.back() == '.' || base.back() == ' ')) base.pop_back();
    if (base.empty()) return out;
    auto dot = base.rfind('.');
    std::string ext = dot == std::string::npos ? "" : LowerAscii(base.substr(dot));
    std::string so = (dot == std::string::npos ? base : base.substr(0, dot)) + ".so";
    if (ext == ".so") {
        out.push_back(base);
    } else if (ext.empty() ||
               std::find(std::begin(kCodeExtensions), std::end(kCodeExtensions), ext) != std::end(kCodeExtensions)) {
        out.push_back(so);
        if (!ext.empty()) out.push_back(base);
    } else {
        out.push_back(base);
        out.push_back(so);
    }
    return out;
}

// An entry of a directory by name, ignoring case: an exact match first, else
// the first case-insensitive match in byte order.
std::optional<fs::path> FindNoCase(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::exists(dir / name, ec)) return dir / name;
    std::optional<std::string> best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string n = it->path().filename().string();
        if (zq::EqualsIgnoreCase(std::string_view(n), std::string_view(name)) && (!best || n < *best)) best = n;
    }
    if (!best) return std::nullopt;
    return dir / *best;
}

std::optional<fs::path> FindModuleFile(const fs::path& dir, const std::string& name) {
    for (const auto& c : Candidates(name)) {
        auto p = FindNoCase(dir, c);
        std::error_code ec;
        if (p && fs::is_regular_file(*p, ec)) return p;
    }
    return std::nullopt;
}

fs::path DirectoryOfAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) {
        std::error_code ec;
        return fs::read_symlink("/proc/self/exe", ec).parent_path();
    }
    return fs::path(info.dli_fname).parent_path();
}

std::vector<fs::path> SearchDirectories(LoaderState& s, const void* caller) {
    std::vector<fs::path> dirs;
    auto add = [&](const fs::path& d) {
        if (!d.empty() && std::find(dirs.begin(), dirs.end(), d) == dirs.end()) dirs.push_back(d);
    };
    if (caller) add(DirectoryOfAddress(caller));
    for (const auto& [token, m] : s.modules)
        if (!m->program && !m->path.empty()) add(m->path.parent_path());
    if (const char* env = std::getenv("ZQ_LIB_PATH")) {
        std::string list = env;
        size_t i = 0;
        while (i <= list.size()) {
            size_t j = list.find(':', i);
            if (j == std::string::npos) j = list.size();
            if (j > i) add(fs::path(list.substr(i, j - i)));
            i = j + 1;
        }
    }
    add(DirectoryOfAddress(reinterpret_cast<const void*>(&State)));
    fs::path system = zq::SystemRoot() / "c" / "windows" / "system32";
    add(system);
    add(system / "spool" / "drivers" / "w32x86" / "3");
    return dirs;
}

std::optional<fs::path> Resolve(LoaderState& s, const std::string& name, const void* caller) {
    if (name.empty()) return std::nullopt;
    bool hasPath = name.find_first_of("\\/:") != std::string::npos;
    if (!hasPath) {
        for (const auto& dir : SearchDirectories(s, caller))
            if (auto p = FindModuleFile(dir, name)) return p;
        return std::nullopt;
    }
    std::string dirPart, filePart;
    auto cut = name.find_last_of("\\/");
    if (cut == std::string::npos) {  // "C:name"
        dirPart = name.substr(0, 2) + "\\";
        filePart = name.substr(2);
    } else {
        dirPart = name.substr(0, cut + 1);
        filePart = name.substr(cut + 1);
    }
    std::optional<fs::path> dir;
    if (name[0] == '/' && name.find('\\') == std::string::npos)
        dir = fs::path(dirPart);  // a Linux path, as GetModuleFileName gives for the build tree
    else
        dir = zq::MapPath(zq::Utf8ToUtf16(dirPart));
    if (!dir) return std::nullopt;
    return FindModuleFile(*dir, filePart);
}

std::string NameOf(LPCWSTR name) { return zq::Utf16ToUtf8(std::u16string_view(name)); }

void Detach(LoaderState& s, uintptr_t token) {
    auto it = s.modules.find(token);
    if (it == s.modules.end()) return;
    Module* m = it->second.get();
    if (m->attached) {
        m->attached = false;
        if (auto entry = reinterpret_cast<DllMainProc>(OwnSymbol(*m, "DllMain")))
            entry(ToHandle(m->token), DLL_PROCESS_DETACH, nullptr);
    }
    // DllMain may have changed the table: look the module up again.
    it = s.modules.find(token);
    if (it == s.modules.end()) return;
    std::unique_ptr<Module> owned = std::move(it->second);
    s.modules.erase(it);
    zq::ForgetModuleResources(ToHandle(token));
    if (owned->dl) dlclose(owned->dl);
}

// Runs the attach entry; false when it refused (the module is then gone).
bool Attach(LoaderState& s, Module& m) {
    m.attached = true;
    auto entry = reinterpret_cast<DllMainProc>(OwnSymbol(m, "DllMain"));
    if (!entry || entry(ToHandle(m.token), DLL_PROCESS_ATTACH, nullptr)) return true;
    Detach(s, m.token);
    return false;
}

bool IsResourceFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[8] = {};
    in.read(magic, 8);
    return in && std::memcmp(magic, zq::kResourceMagic, 8) == 0;
}

HMODULE LoadPath(LoaderState& s, const fs::path& file, DWORD flags) {
    std::error_code ec;
    fs::path path = fs::canonical(file, ec);
    if (ec) path = file;
    bool dataOnly = (flags & LOAD_LIBRARY_AS_DATAFILE) != 0;
    for (auto& [token, m] : s.modules) {
        if (m->program || m->path != path) continue;
        ++m->references;
        if (!m->attached && !dataOnly && m->dl) {
            if (!Attach(s, *m)) {
                SetLastError(ERROR_DLL_INIT_FAILED);
                return nullptr;
            }
        }
        return ToHandle(token);
    }
    if (dataOnly && IsResourceFile(path)) return zq::LoadResourceFile(path);
    void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!dl) {
        const char* why = dlerror();
        t_lastLoadError = why ? why : "dlopen failed";
        std::ifstream in(path, std::ios::binary);
        char magic[4] = {};
        in.read(magic, 4);
        SetLastError(std::memcmp(magic, "\x7f" "ELF", 4) == 0 ? ERROR_MOD_NOT_FOUND : 193 /* ERROR_BAD_EXE_FORMAT */);
        return nullptr;
    }
    // The same object may be known under another name (a link, a case
    // variant): one module, one reference count.
    link_map* map = nullptr;
    dlinfo(dl, RTLD_DI_LINKMAP, &map);
    for (auto& [token, m] : s.modules) {
        if (m->program || m->map != map || !m->dl) continue;
        dlclose(dl);
        return LoadPath(s, m->path, flags);
    }
    auto m = std::make_unique<Module>();
    m->token = NewToken(s);
    m->path = path;
    m->dl = dl;
    m->map = map;
    m->references = 1;
    FindDirectory(*m);
    Module* raw = m.get();
    s.modules.emplace(raw->token, std::move(m));
    if (!dataOnly && !Attach(s, *raw)) {
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return ToHandle(raw->token);
}

HMODULE Load(LPCWSTR name, DWORD flags, const void* caller) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.lock);
    std::string n = NameOf(name);
    // A bare name of a module already loaded is that module.
    if (n.find_first_of("\\/:") == std::string::npos) {
        auto candidates = Candidates(n);
        for (auto& [token, m] : s.modules) {
            if (m->program || m->path.empty()) continue;
            std::string file = m->path.filename().string();
            for (const auto& c : candidates) {
                if (zq::EqualsIgnoreCase(std::string_view(file), std::string_view(c)))
                    return LoadPath(s, m->path, flags);
            }
        }
    }
    auto path = Resolve(s, n, caller);
    if (!path) {
        t_lastLoadError = "no module file for '" + n + "'";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadPath(s, *path, flags);
}

// "C:\..." for a module under the system root; the Linux path otherwise.
std::u16string FileNameOf(const Module& m) {
    if (auto windows = zq::ToWindowsPath(m.path)) return *windows;
    return zq::Utf8ToUtf16(m.path.string());
}

template <typename Char>
DWORD CopyOut(const std::basic_string<Char>& text, Char* buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() + 1 <= size) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(text.size());
    }
    std::copy(text.begin(), text.begin() + (size - 1), buffer);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// GetModuleFileName, A and W alike.
template <typename Char>
DWORD ModuleFileName(HMODULE module, Char* buffer, DWORD size) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    Module* m = Find(s, module);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if constexpr (sizeof(Char) == 1) {
        return CopyOut(zq::WideToAnsi(FileNameOf(*m)), buffer, size);
    } else {
        return CopyOut(FileNameOf(*m), buffer, size);
    }
}

}  // namespace

extern "C" HMODULE LoadLibraryW(LPCWSTR name) { return Load(name, 0, __builtin_return_address(0)); }

extern "C" HMODULE LoadLibraryExW(LPCWSTR name, HANDLE, DWORD flags) {
    return Load(name, flags, __builtin_return_address(0));
}

extern "C" HMODULE LoadLibraryA(LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string wide = zq::AnsiToWide(name);
    return Load(wide.c_str(), 0, __builtin_return_address(0));
}

extern "C" HMODULE LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string wide = zq::AnsiToWide(name);
    return Load(wide.c_str(), flags, __builtin_return_address(0));
}

extern "C" BOOL FreeLibrary(HMODULE module) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    Module* m = module ? Find(s, module) : nullptr;
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (m->program) return TRUE;
    if (--m->references > 0) return TRUE;
    Detach(s, m->token);
    return TRUE;
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    Module* m = Find(s, module);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Exports by ordinal do not exist here.
    if (!name || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* sym = OwnSymbol(*m, name);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

extern "C" HMODULE GetModuleHandleW(LPCWSTR name) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    if (!name) return ToHandle(Program(s)->token);
    std::string n = NameOf(name);
    auto cut = n.find_last_of("\\/:");
    std::string file = cut == std::string::npos ? n : n.substr(cut + 1);
    auto candidates = Candidates(file);
    for (auto& [token, m] : s.modules) {
        if (m->program || m->path.empty()) continue;
        std::string own = m->path.filename().string();
        for (const auto& c : candidates)
            if (zq::EqualsIgnoreCase(std::string_view(own), std::string_view(c))) return ToHandle(token);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" HMODULE GetModuleHandleA(LPCSTR name) {
    if (!name) return GetModuleHandleW(nullptr);
    std::u16string wide = zq::AnsiToWide(name);
    return GetModuleHandleW(wide.c_str());
}

extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    return ModuleFileName(module, buffer, size);
}

extern "C" DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    return ModuleFileName(module, buffer, size);
}

namespace zq {

std::optional<ModuleInfo> FindModule(HMODULE module) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    Module* m = Find(s, module);
    if (!m) return std::nullopt;
    ModuleInfo info;
    info.handle = ToHandle(m->token);
    info.path = m->path;
    info.dl = m->dl;
    info.references = m->references;
    info.attached = m->attached;
    return info;
}

std::pair<const uint8_t*, size_t> ModuleResourceDirectory(HMODULE module) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    Module* m = Find(s, module);
    if (!m) return {nullptr, 0};
    return {m->directory, m->directorySize};
}

HMODULE LoadResourceFile(const fs::path& file) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    std::error_code ec;
    fs::path path = fs::canonical(file, ec);
    if (ec) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    for (auto& [token, m] : s.modules) {
        if (!m->program && m->path == path) {
            ++m->references;
            return ToHandle(token);
        }
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t total = 0;
    if (bytes.size() >= sizeof(ResourceDirectoryHeader)) std::memcpy(&total, bytes.data() + 12, 4);
    if (bytes.size() < sizeof(ResourceDirectoryHeader) || std::memcmp(bytes.data(), kResourceMagic, 8) != 0 ||
        total > bytes.size()) {
        SetLastError(193 /* ERROR_BAD_EXE_FORMAT */);
        return nullptr;
    }
    auto m = std::make_unique<Module>();
    m->token = NewToken(s);
    m->path = path;
    m->references = 1;
    m->fileBytes = std::move(bytes);
    m->directory = m->fileBytes.data();
    m->directorySize = total;
    uintptr_t token = m->token;
    s.modules.emplace(token, std::move(m));
    return ToHandle(token);
}

std::string LastLoadError() { return t_lastLoadError; }

std::optional<fs::path> ResolveModulePath(std::u16string_view name) {
    auto& s = State();
    std::lock_guard lock(s.lock);
    return Resolve(s, Utf16ToUtf8(name), nullptr);
}

}  // namespace zq
