// Bitmaps and icons from module resources, and drawing icons.
#pragma once

#include "base/types.h"
#include "gdi/dc.h"

extern "C" {

constexpr UINT DI_MASK = 0x0001, DI_IMAGE = 0x0002, DI_NORMAL = 0x0003, DI_DEFAULTSIZE = 0x0008;

// A module's BITMAP resource as a bitmap of its own colours and size; null
// (last error 1814) when there is none, 87 when it is not a bitmap.
HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name);
HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name);

// A module's ICON resource: of its images, the one nearest 32 x 32 with the
// most colours. Icons stored as PNG are not read.
HICON LoadIconW(HINSTANCE module, LPCWSTR name);
HICON LoadIconA(HINSTANCE module, LPCSTR name);
BOOL DestroyIcon(HICON icon);
// The icon's size in pixels; FALSE for a handle that is not an icon.
BOOL GetIconSize(HICON icon, int* width, int* height);

// The icon at x, y, `cx` by `cy` (0: its own size, or 32 with
// DI_DEFAULTSIZE): its mask ANDed onto the DC, then its image XORed
// (DI_NORMAL), or only one of the two.
BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH background, UINT flags);
BOOL DrawIcon(HDC hdc, int x, int y, HICON icon);

}  // extern "C"
