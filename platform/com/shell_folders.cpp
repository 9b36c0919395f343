// The shell's special folders, answered from the Shell Folders values of
// the registry (the user's under HKCU, the common ones under HKLM). Virtual
// folders (printers, drives, control panel and the like) have an id list
// but no path.
#include <cstring>
#include <string>

#include "base/error.h"
#include "base/paths.h"
#include "com/com.h"
#include "store/registry.h"

namespace {

struct FolderRow {
    int csidl;
    bool common;
    const char* value;  // nullptr: a virtual folder without a path
};

constexpr FolderRow kFolders[] = {
    {CSIDL_DESKTOP, false, "Desktop"},
    {CSIDL_PROGRAMS, false, "Programs"},
    {CSIDL_CONTROLS, false, nullptr},
    {CSIDL_PRINTERS, false, nullptr},
    {CSIDL_PERSONAL, false, "Personal"},
    {CSIDL_FAVORITES, false, "Favorites"},
    {CSIDL_STARTUP, false, "Startup"},
    {CSIDL_RECENT, false, "Recent"},
    {CSIDL_SENDTO, false, "SendTo"},
    {CSIDL_BITBUCKET, false, nullptr},
    {CSIDL_STARTMENU, false, "Start Menu"},
    {CSIDL_DESKTOPDIRECTORY, false, "Desktop"},
    {CSIDL_DRIVES, false, nullptr},
    {CSIDL_NETWORK, false, nullptr},
    {CSIDL_NETHOOD, false, "NetHood"},
    {CSIDL_FONTS, false, "Fonts"},
    {CSIDL_TEMPLATES, false, "Templates"},
    {CSIDL_COMMON_STARTMENU, true, "Common Start Menu"},
    {CSIDL_COMMON_PROGRAMS, true, "Common Programs"},
    {CSIDL_COMMON_STARTUP, true, "Common Startup"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, true, "Common Desktop"},
    {CSIDL_APPDATA, false, "AppData"},
    {CSIDL_PRINTHOOD, false, "PrintHood"},
};

const FolderRow* Row(int csidl) {
    for (const auto& r : kFolders)
        if (r.csidl == csidl) return &r;
    return nullptr;
}

}  // namespace

extern "C" {

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!Row(csidl)) return E_INVALIDARG;
    *out = new ITEMIDLIST{csidl};
    return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
    if (!path) return FALSE;
    *path = '\0';
    const FolderRow* row = list ? Row(list->csidl) : nullptr;
    if (!row || !row->value) return FALSE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(row->common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return FALSE;
    char buffer[MAX_PATH] = {};
    DWORD type = 0, size = sizeof buffer - 1;
    LONG rc = RegQueryValueExA(key, row->value, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || buffer[0] == '\0') return FALSE;
    std::strcpy(path, buffer);
    return TRUE;
}

void CoTaskMemFree(LPVOID block) { delete static_cast<ITEMIDLIST*>(block); }

void SHChangeNotify(LONG, UINT, LPCVOID, LPCVOID) {}

}
