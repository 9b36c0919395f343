// The module loader: LoadLibrary, GetProcAddress, FreeLibrary,
// GetModuleHandle and GetModuleFileName over dlopen.
//
// Names. Windows file names resolve case-insensitively. A last component
// ending in ".dll" (or any other extension, such as ".drv" or ".ocx") or
// with no extension at all maps to "<name>.so"; the name as given is tried
// too. Deliverables carry no "lib" prefix, and none is added.
//
// Where a bare name is looked for, in order:
//   1. modules already loaded through this loader with that file name;
//   2. the directory of the calling module;
//   3. the directories of the modules already loaded through this loader;
//   4. each directory of $ZQ_LIB_PATH (a colon list), then the directory of
//      the platform library itself (the build's lib folder);
//   5. the system directory $ZQ_ROOT/c/windows/system32 and the driver
//      directory below it (spool/drivers/w32x86/3).
// A name with a path is a Windows path (mapped onto the system root by
// base/paths.h: "C:\...", relative to the current directory, and so on) or
// an absolute Linux path.
//
// Module handles are tokens of this loader, never dlopen pointers; they serve
// as HINSTANCE for the resource calls. GetModuleHandle(NULL) is the program.
//
// Attach and detach: a module may export
//   extern "C" BOOL DllMain(HINSTANCE, DWORD reason, LPVOID reserved);
// It is called with DLL_PROCESS_ATTACH when the module is first loaded and
// with DLL_PROCESS_DETACH when its reference count drops to zero. An attach
// that answers FALSE fails the load with ERROR_DLL_INIT_FAILED; as on
// Windows, the module then gets DLL_PROCESS_DETACH before it is unloaded.
// Loading with LOAD_LIBRARY_AS_DATAFILE (as EngLoadModule does) does not
// attach; a later ordinary load of the same module does.
//
// GetModuleFileName answers "C:\..." for a module below the system root, and
// the Linux path (with '/') for one outside it, such as the build's lib
// folder; callers that cut off the file name accept either separator.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/types.h"

// An export, to be cast to its real type. `void (*)()` is the one function
// type the compiler lets callers cast to any other without a warning.
using FARPROC = void (*)();

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD DONT_RESOLVE_DLL_REFERENCES = 0x00000001;
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;


extern "C" {
HMODULE LoadLibraryA(LPCSTR name);
HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryExA(LPCSTR name, HANDLE reserved, DWORD flags);
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
}

namespace zq {

// What the loader knows of a module, for tools and the resource API.
struct ModuleInfo {
    HMODULE handle = nullptr;
    std::filesystem::path path;  // the file (empty for the program)
    void* dl = nullptr;          // dlopen handle, null for a resource file
    int references = 0;
    bool attached = false;
};

std::optional<ModuleInfo> FindModule(HMODULE module);

// The bytes of a module's compiled resource directory; empty when the module
// has none. The bytes stay valid while the module is loaded.
std::pair<const uint8_t*, size_t> ModuleResourceDirectory(HMODULE module);

// Registers a standalone resource file as a module (EngLoadModule). The
// loader owns the bytes; FreeLibrary releases them.
HMODULE LoadResourceFile(const std::filesystem::path& file);

// Why the last failed load of this thread failed, in the host's words
// (dlopen's message), for tools that report it.
std::string LastLoadError();

// The file a module name would load, without loading it (for tools/tests).
std::optional<std::filesystem::path> ResolveModulePath(std::u16string_view name);

}  // namespace zq
