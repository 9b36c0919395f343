// Module resources: FindResource, LoadResource, LoadString, the engine's
// EngLoadModule/EngFindResource, over the compiled resource directory of
// each module (base/resource_directory.h, written by the resource compiler).
//
// A module handle of base/loader.h (NULL for the program) or a handle of
// EngLoadModule selects where to look. Names and types are numbers
// (MAKEINTRESOURCE) or strings, compared without regard to case ("#12"
// stands for the number 12). Without a language, the neutral language is
// preferred, then US English, then the first one present.
//
// Resource memory belongs to the module and stays valid while it is loaded;
// LoadResource and LockResource hand out a pointer to it, FreeResource does
// nothing.
#pragma once

#include <string>
#include <vector>

#include "base/loader.h"
#include "base/error.h"
#include "base/types.h"

// Resource types: usable where an LPCSTR or an LPCWSTR type is expected.
struct IntResource {
    WORD id;
    operator LPCSTR() const { return MAKEINTRESOURCEA(id); }
    operator LPCWSTR() const { return MAKEINTRESOURCEW(id); }
};
inline constexpr IntResource RT_CURSOR{1};
inline constexpr IntResource RT_BITMAP{2};
inline constexpr IntResource RT_ICON{3};
inline constexpr IntResource RT_MENU{4};
inline constexpr IntResource RT_DIALOG{5};
inline constexpr IntResource RT_STRING{6};
inline constexpr IntResource RT_FONTDIR{7};
inline constexpr IntResource RT_FONT{8};
inline constexpr IntResource RT_ACCELERATOR{9};
inline constexpr IntResource RT_RCDATA{10};
inline constexpr IntResource RT_MESSAGETABLE{11};
inline constexpr IntResource RT_GROUP_CURSOR{12};
inline constexpr IntResource RT_GROUP_ICON{14};
inline constexpr IntResource RT_VERSION{16};


using ENUMRESNAMEPROCA = BOOL (*)(HMODULE, LPCSTR type, LPSTR name, LONG_PTR param);
using ENUMRESNAMEPROCW = BOOL (*)(HMODULE, LPCWSTR type, LPWSTR name, LONG_PTR param);

extern "C" {
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HRSRC FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language);
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);

// The characters copied (at most size - 1, then a NUL), 0 when the string
// is missing or empty. LoadStringW with size 0 stores a read-only pointer to
// the string (not terminated) in *buffer and answers its length.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size);
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);

BOOL EnumResourceNamesA(HMODULE module, LPCSTR type, ENUMRESNAMEPROCA proc, LONG_PTR param);
BOOL EnumResourceNamesW(HMODULE module, LPCWSTR type, ENUMRESNAMEPROCW proc, LONG_PTR param);

// The engine's resource calls: a module file (loaded as data) or a compiled
// resource file, numbered names and types only.
HANDLE EngLoadModule(LPWSTR path);
PVOID EngFindResource(HANDLE module, int name, int type, ULONG* size);
void EngFreeModule(HANDLE module);
}

namespace zq {

// One resource of a module, for tools and tests.
struct ResourceEntry {
    bool typeIsString = false;
    WORD typeId = 0;
    std::u16string typeName;
    bool nameIsString = false;
    WORD nameId = 0;
    std::u16string name;
    WORD language = 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

// Every resource of a module; empty for a module without resources or with a
// malformed directory.
std::vector<ResourceEntry> ListResources(HMODULE module);

// Drops what the resource calls keep of a module; the loader calls it when
// the module goes.
void ForgetModuleResources(HMODULE module);

// Checks a resource directory's bytes (as a resource file holds them).
bool IsValidResourceDirectory(const BYTE* data, size_t size);

}  // namespace zq
