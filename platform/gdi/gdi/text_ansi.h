// The ANSI forms of the text calls: the text is converted from the system's
// ANSI code page (double-byte characters included) and drawn by the wide
// calls, so both forms give the same pixels.
#pragma once

#include "base/types.h"
#include "gdi/dc_draw.h"

extern "C" {

HFONT CreateFontIndirectA(const LOGFONTA* font);
BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int count);
// `dx` has one advance per byte, as the ANSI call gives it; a double-byte
// character advances by the sum of its two bytes' entries.
BOOL ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count, const INT* dx);
BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, SIZE* size);

}  // extern "C"
