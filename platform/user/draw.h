// Drawing on windows: formatted text, 3-D edges, focus rectangles, frames
// and the classic frame controls, in the system colours. They draw with the
// DC calls of the graphics engine on any DC (a window's, a memory DC).
#pragma once

#include "base/types.h"
#include "gdi/dc.h"

extern "C" {

// DrawText formats.
constexpr UINT DT_TOP = 0x0000, DT_LEFT = 0x0000, DT_CENTER = 0x0001, DT_RIGHT = 0x0002, DT_VCENTER = 0x0004,
               DT_BOTTOM = 0x0008, DT_WORDBREAK = 0x0010, DT_SINGLELINE = 0x0020, DT_EXPANDTABS = 0x0040,
               DT_NOCLIP = 0x0100, DT_CALCRECT = 0x0400, DT_NOPREFIX = 0x0800, DT_HIDEPREFIX = 0x100000,
               DT_PREFIXONLY = 0x200000;

// Edges: the outer and inner borders, and which sides.
constexpr UINT BDR_RAISEDOUTER = 0x0001, BDR_SUNKENOUTER = 0x0002, BDR_RAISEDINNER = 0x0004,
               BDR_SUNKENINNER = 0x0008;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER, EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER,
               EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER, EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr UINT BF_LEFT = 0x0001, BF_TOP = 0x0002, BF_RIGHT = 0x0004, BF_BOTTOM = 0x0008,
               BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM, BF_MIDDLE = 0x0800, BF_SOFT = 0x1000,
               BF_ADJUST = 0x2000, BF_FLAT = 0x4000, BF_MONO = 0x8000;

// Frame controls.
constexpr UINT DFC_CAPTION = 1, DFC_MENU = 2, DFC_SCROLL = 3, DFC_BUTTON = 4;
constexpr UINT DFCS_CAPTIONCLOSE = 0x0000, DFCS_MENUCHECK = 0x0001, DFCS_MENUBULLET = 0x0002;
constexpr UINT DFCS_SCROLLUP = 0x0000, DFCS_SCROLLDOWN = 0x0001, DFCS_SCROLLLEFT = 0x0002,
               DFCS_SCROLLRIGHT = 0x0003;
constexpr UINT DFCS_BUTTONCHECK = 0x0000, DFCS_BUTTONRADIO = 0x0004, DFCS_BUTTON3STATE = 0x0008,
               DFCS_BUTTONPUSH = 0x0010;
constexpr UINT DFCS_INACTIVE = 0x0100, DFCS_PUSHED = 0x0200, DFCS_CHECKED = 0x0400, DFCS_FLAT = 0x4000,
               DFCS_MONO = 0x8000;

// DrawState kinds and states.
constexpr UINT DST_TEXT = 0x0001, DST_PREFIXTEXT = 0x0002, DST_BITMAP = 0x0004;
constexpr UINT DSS_NORMAL = 0x0000, DSS_DISABLED = 0x0020, DSS_MONO = 0x0080, DSS_RIGHT = 0x8000;

// Text in `rect` by `format`. The height of the text drawn (with
// DT_CALCRECT: measured, and `rect` widened or lowered to hold it); 0 on a
// bad argument. A count of -1 takes the text up to its NUL.
int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT* rect, UINT format);
int DrawTextA(HDC hdc, LPCSTR text, int count, RECT* rect, UINT format);

// The 3-D edge `edge` on the sides `flags` names; BF_ADJUST leaves in `rect`
// what the edge does not cover, BF_MIDDLE fills it with the face colour.
BOOL DrawEdge(HDC hdc, RECT* rect, UINT edge, UINT flags);

// A dotted rectangle that inverts what is under it: drawn twice, it is gone.
BOOL DrawFocusRect(HDC hdc, const RECT* rect);
// A one-pixel frame in `brush`; InvertRect inverts the whole rectangle.
int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush);
BOOL InvertRect(HDC hdc, const RECT* rect);

// The classic check box, radio button, push button, scroll arrow, caption
// close box and menu check in `rect`.
BOOL DrawFrameControl(HDC hdc, RECT* rect, UINT type, UINT state);

// Text or a bitmap at x, y in `brush`-less classic style; DSS_DISABLED draws
// it embossed (a highlight copy one pixel down-right under a shadow copy).
// `data` is the text (DST_TEXT, DST_PREFIXTEXT; `wData` its length, 0 for
// all) or the HBITMAP (DST_BITMAP). A width or height of 0 is measured.
BOOL DrawStateW(HDC hdc, HBRUSH brush, void* callback, LPARAM data, WPARAM wData, int x, int y, int cx, int cy,
                UINT flags);

}  // extern "C"

namespace zq::user::detail {

// A one-pixel solid line in `color` from (x0, y0) to (x1, y1), the end point
// left out as LineTo leaves it.
void SolidLine(HDC dc, int x0, int y0, int x1, int y1, COLORREF color);

}  // namespace zq::user::detail
