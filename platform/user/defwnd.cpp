// What a window does with a message its procedure leaves to the system.
#include <algorithm>

#include "base/error.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/window.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr WPARAM kNotifyUnicode = 2;
constexpr WPARAM kNotifyAnsi = 1;
constexpr WPARAM kSysCommandClose = 0xF060;

LRESULT CtlColor(HWND hwnd, HDC dc, UINT message) {
    (void)hwnd;
    const bool white = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(white ? COLOR_WINDOW : COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(white ? COLOR_WINDOW : COLOR_BTNFACE));
}

}  // namespace

extern "C" {

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = Find(hwnd);
    if (!w) return 0;
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) w->text = cs->lpszName;
        return TRUE;
    }
    case WM_NCCALCSIZE: {
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        if (!params) return 0;
        RECT& r = params->rgrc[0];
        const RECT edges =
            FrameEdges(w->style, w->exStyle, !(w->style & WS_CHILD) && HasMenuBar(hwnd));
        r.left += edges.left;
        r.top += edges.top;
        r.right -= edges.right;
        r.bottom -= edges.bottom;
        if (w->style & WS_VSCROLL) r.right -= GetSystemMetrics(SM_CXVSCROLL);
        if (w->style & WS_HSCROLL) r.bottom -= GetSystemMetrics(SM_CYHSCROLL);
        r.right = std::max(r.right, r.left);
        r.bottom = std::max(r.bottom, r.top);
        return 0;
    }
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        w->text = text ? std::u16string(text) : std::u16string();
        if ((w->style & WS_CAPTION) == WS_CAPTION) RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
        return TRUE;
    }
    case WM_GETTEXT: {
        auto* out = reinterpret_cast<LPWSTR>(lParam);
        if (!out || wParam == 0) return 0;
        const size_t n = std::min<size_t>(w->text.size(), wParam - 1);
        std::copy_n(w->text.data(), n, out);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_SETFONT: w->font = reinterpret_cast<HFONT>(wParam); return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kSysCommandClose) SendMessageW(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!pos) return 0;
        if (!(pos->flags & SWP_NOMOVE))
            SendMessageW(hwnd, WM_MOVE, 0,
                         MAKELONG(static_cast<WORD>(w->rect.left + w->inset.left),
                                  static_cast<WORD>(w->rect.top + w->inset.top)));
        if (!(pos->flags & SWP_NOSIZE)) {
            const RECT c = ClientRect(*w);
            SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELONG(static_cast<WORD>(c.right), static_cast<WORD>(c.bottom)));
        }
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        HBRUSH brush = ClassBrush(hwnd);
        if (!brush) return 0;
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
        return 1;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return CtlColor(hwnd, reinterpret_cast<HDC>(wParam), message);
    case WM_CTLCOLOR:
        // The legacy form carries the kind in the high word.
        return CtlColor(hwnd, reinterpret_cast<HDC>(wParam), WM_CTLCOLORMSGBOX + HIWORD(static_cast<DWORD>(lParam)));
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !(w->style & WS_MINIMIZE)) SetFocus(hwnd);
        return 0;
    case WM_MOUSEACTIVATE: return 1;  // activate
    case WM_NCHITTEST: return HTCLIENT;
    case WM_NCACTIVATE: return TRUE;
    case WM_NCPAINT: {
        HDC dc = GetWindowDC(hwnd);
        if (dc) {
            PaintNonClient(hwnd, dc, GetActiveWindow() == GetAncestor(hwnd, GA_ROOT));
            ReleaseDC(hwnd, dc);
        }
        return 0;
    }
    case WM_NOTIFYFORMAT: return w->unicode ? kNotifyUnicode : kNotifyAnsi;
    case WM_KEYDOWN:
        if (wParam == VK_F1 && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0) {
            HELPINFO help{sizeof(HELPINFO), HELPINFO_WINDOW, static_cast<int>(w->id), hwnd, 0, {}};
            GetCursorPos(&help.MousePos);
            SendMessageW(hwnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        }
        return 0;
    case WM_HELP:
    case WM_CONTEXTMENU: {
        // Passed up to the parent, or a top-level window's owner.
        const HWND up = (w->style & WS_CHILD) ? w->parent : w->owner;
        if (up) return SendMessageW(up, message, message == WM_CONTEXTMENU ? wParam : wParam, lParam);
        return 0;
    }
    case WM_RBUTTONUP: {
        POINT p{static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam))),
                static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))};
        ClientToScreen(hwnd, &p);
        SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd),
                     MAKELONG(static_cast<WORD>(p.x), static_cast<WORD>(p.y)));
        return 0;
    }
    default: return 0;
    }
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallProc(DefWindowProcW, true, hwnd, message, wParam, lParam, false);
}

}  // extern "C"
