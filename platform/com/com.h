// The COM subset the package's programs use: GUIDs, IUnknown reference
// counting, CoInitialize and CoCreateInstance over a table of in-process
// classes; the shell-link class with IShellLinkA and IPersistFile; and the
// shell's special-folder lookup and change notice.
#pragma once

#include <cstdint>

#include "base/types.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCOLESTR = const char16_t*;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           __builtin_memcmp(a.Data4, b.Data4, 8) == 0;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }
inline HRESULT HRESULT_FROM_WIN32(DWORD e) {
    return e == 0 ? S_OK : static_cast<HRESULT>((e & 0xFFFF) | 0x80070000u);
}

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

extern const IID IID_IUnknown;
extern const IID IID_IShellLinkA;
extern const IID IID_IPersistFile;
extern const CLSID CLSID_ShellLink;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IShellLinkA : IUnknown {
    virtual HRESULT SetPath(LPCSTR path) = 0;
    virtual HRESULT SetArguments(LPCSTR arguments) = 0;
    virtual HRESULT SetWorkingDirectory(LPCSTR dir) = 0;
    virtual HRESULT SetDescription(LPCSTR text) = 0;
    virtual HRESULT SetIconLocation(LPCSTR path, int index) = 0;

protected:
    ~IShellLinkA() = default;
};

struct IPersistFile : IUnknown {
    virtual HRESULT Save(LPCOLESTR fileName, BOOL remember) = 0;

protected:
    ~IPersistFile() = default;
};

extern "C" {
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* out);
}

// An in-process class of the table CoCreateInstance answers from.
using ComClassFactory = HRESULT (*)(REFIID iid, void** out);
// Adds a class (a test's, or a later library's); false when the id is there.
bool CoRegisterInProcessClass(REFCLSID clsid, ComClassFactory factory);

// ---------------------------------------------------------------- shell

// An item-id list as the shell hands it out: here the folder's id only.
struct ITEMIDLIST {
    int csidl;
};
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PROGRAMS = 2;
constexpr int CSIDL_CONTROLS = 3;
constexpr int CSIDL_PRINTERS = 4;
constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_FAVORITES = 6;
constexpr int CSIDL_STARTUP = 7;
constexpr int CSIDL_RECENT = 8;
constexpr int CSIDL_SENDTO = 9;
constexpr int CSIDL_BITBUCKET = 10;
constexpr int CSIDL_STARTMENU = 11;
constexpr int CSIDL_DESKTOPDIRECTORY = 16;
constexpr int CSIDL_DRIVES = 17;
constexpr int CSIDL_NETWORK = 18;
constexpr int CSIDL_NETHOOD = 19;
constexpr int CSIDL_FONTS = 20;
constexpr int CSIDL_TEMPLATES = 21;
constexpr int CSIDL_COMMON_STARTMENU = 22;
constexpr int CSIDL_COMMON_PROGRAMS = 23;
constexpr int CSIDL_COMMON_STARTUP = 24;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 25;
constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_PRINTHOOD = 27;

constexpr LONG SHCNE_UPDATEDIR = 0x00001000;
constexpr UINT SHCNF_PATHA = 0x0001;

extern "C" {
// Answers from the Shell Folders values of the registry; a folder that has
// no path there (PRINTERS, DRIVES, CONTROLS and the like) fails.
HRESULT SHGetSpecialFolderLocation(HWND owner, int csidl, LPITEMIDLIST* out);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);
void CoTaskMemFree(LPVOID block);
// Nothing watches folders here.
void SHChangeNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID item2);
}
