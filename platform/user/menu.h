// Menus: menu bars and pop-ups built by calls or from MENUITEMTEMPLATE and
// MENUEX bytes, items by command or by position. A top-level window with a
// menu bar has a client area smaller by the bar's height. Nothing is ever
// tracked by a mouse: the test driver chooses items.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"
#include "user/window.h"

constexpr UINT MF_INSERT = 0x0000;
constexpr UINT MF_CHANGE = 0x0080;
constexpr UINT MF_APPEND = 0x0100;
constexpr UINT MF_DELETE = 0x0200;
constexpr UINT MF_REMOVE = 0x1000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_BITMAP = 0x0004;
constexpr UINT MF_OWNERDRAW = 0x0100;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_MENUBARBREAK = 0x0020;
constexpr UINT MF_MENUBREAK = 0x0040;
constexpr UINT MF_HILITE = 0x0080;
constexpr UINT MF_DEFAULT = 0x1000;
constexpr UINT MF_HELP = 0x4000;
constexpr UINT MF_END = 0x0080;  // the last item of a level in a template

constexpr UINT MFT_STRING = MF_STRING;
constexpr UINT MFT_SEPARATOR = MF_SEPARATOR;
constexpr UINT MFS_GRAYED = 0x0003;
constexpr UINT MFS_CHECKED = MF_CHECKED;
constexpr UINT MFS_DEFAULT = MF_DEFAULT;

constexpr UINT MIIM_STATE = 0x0001;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_SUBMENU = 0x0004;
constexpr UINT MIIM_DATA = 0x0020;
constexpr UINT MIIM_TYPE = 0x0010;
constexpr UINT MIIM_STRING = 0x0040;
constexpr UINT MIIM_FTYPE = 0x0100;

constexpr UINT TPM_RETURNCMD = 0x0100;
constexpr UINT TPM_NONOTIFY = 0x0080;

struct MENUITEMINFOW {
    UINT cbSize;
    UINT fMask;
    UINT fType;
    UINT fState;
    UINT wID;
    HMENU hSubMenu;
    HBITMAP hbmpChecked;
    HBITMAP hbmpUnchecked;
    ULONG_PTR dwItemData;
    LPWSTR dwTypeData;
    UINT cch;
    HBITMAP hbmpItem;
};

extern "C" {
HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
HMENU GetSubMenu(HMENU menu, int position);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int size, UINT flags);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags);
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOW* info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info);
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info);
BOOL SetMenu(HWND hwnd, HMENU menu);
HMENU GetMenu(HWND hwnd);
BOOL DrawMenuBar(HWND hwnd);
HMENU LoadMenuIndirectW(const void* tmpl);
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
// Headless: the choice is the test driver's (zq::user::test); without one,
// nothing is chosen.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
}

namespace zq::user {

// The reader of menu templates on bytes of known size: nullptr when a level
// or a string runs past the bytes, or a level is never closed.
HMENU LoadMenuFromBytes(std::span<const BYTE> bytes);

// The command TrackPopupMenu answers next on this thread (0: none).
void SetPopupMenuChoice(UINT id);

// A menu as text, for dumps: one item a line, sub-menus indented.
std::string DumpMenu(HMENU menu, int indent = 0);

}  // namespace zq::user
