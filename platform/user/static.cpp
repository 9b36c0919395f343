// The static control: text, icons, owner-drawn statics and the notify style.
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/images.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

struct StaticData : ControlData {
    HFONT font = nullptr;
    HANDLE image = nullptr;
    HICON ownIcon = nullptr;  // loaded from the text at creation; destroyed with the control
};

// An icon static takes the size of its icon.
void FitIcon(HWND hwnd, HANDLE icon) {
    int w = 0, h = 0;
    if (icon && GetIconSize(static_cast<HICON>(icon), &w, &h))
        SetWindowPos(hwnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

StaticData* D(HWND hwnd) {
    if (auto* d = DataOf<StaticData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<StaticData>());
    return DataOf<StaticData>(hwnd);
}

DWORD TypeOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & SS_TYPEMASK; }
bool Notifies(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_STYLE) & SS_NOTIFY) != 0; }

LRESULT StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: D(hwnd); return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_CREATE: {
        // An icon static names its icon in its text: a resource of the
        // module that made it, by number ("\xFFFF" and the id) or by name.
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (TypeOf(hwnd) == SS_ICON && cs && cs->lpszName && cs->lpszName[0]) {
            const std::u16string_view name(reinterpret_cast<const char16_t*>(cs->lpszName));
            D(hwnd)->ownIcon = name[0] == 0xFFFF ? (name.size() > 1 ? LoadIconW(cs->hInstance, MAKEINTRESOURCEW(name[1])) : nullptr)
                                                 : LoadIconW(cs->hInstance, cs->lpszName);
            D(hwnd)->image = D(hwnd)->ownIcon;
            FitIcon(hwnd, D(hwnd)->image);
        }
        return 0;
    }
    case WM_NCDESTROY:
        if (D(hwnd)->ownIcon) DestroyIcon(D(hwnd)->ownIcon);
        D(hwnd)->ownIcon = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case STM_SETICON:
    case STM_SETIMAGE: {
        HANDLE old = D(hwnd)->image;
        // The icon handed back is the caller's from now on.
        if (old == D(hwnd)->ownIcon) D(hwnd)->ownIcon = nullptr;
        D(hwnd)->image = reinterpret_cast<HANDLE>(message == STM_SETICON ? wParam : static_cast<WPARAM>(lParam));
        if (TypeOf(hwnd) == SS_ICON) FitIcon(hwnd, D(hwnd)->image);
        InvalidateRect(hwnd, nullptr, TRUE);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON:
    case STM_GETIMAGE: return reinterpret_cast<LRESULT>(D(hwnd)->image);
    case WM_NCHITTEST: return Notifies(hwnd) ? HTCLIENT : HTTRANSPARENT;
    case WM_GETDLGCODE: return DLGC_STATIC;
    case WM_LBUTTONDOWN:
        if (Notifies(hwnd)) NotifyParent(hwnd, STN_CLICKED);
        return 0;
    case WM_LBUTTONDBLCLK:
        if (Notifies(hwnd)) NotifyParent(hwnd, STN_DBLCLK);
        return 0;
    case WM_ENABLE:
        if (Notifies(hwnd)) NotifyParent(hwnd, wParam ? STN_ENABLE : STN_DISABLE);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_SETFONT:
        D(hwnd)->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(D(hwnd)->font);
    case WM_SETTEXT: InvalidateRect(hwnd, nullptr, TRUE); return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc && TypeOf(hwnd) == SS_OWNERDRAW) {
            DRAWITEMSTRUCT dis{};
            dis.CtlType = ODT_STATIC;
            dis.CtlID = static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID));
            dis.itemAction = ODA_DRAWENTIRE;
            dis.itemState = IsWindowEnabled(hwnd) ? 0 : ODS_DISABLED;
            dis.hwndItem = hwnd;
            dis.hDC = dc;
            GetClientRect(hwnd, &dis.rcItem);
            SendMessageW(GetParent(hwnd), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
        } else if (dc) {
            PaintStatic(hwnd, dc, D(hwnd)->font, TypeOf(hwnd) == SS_ICON ? static_cast<HICON>(D(hwnd)->image) : nullptr);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterStaticClass() { RegisterSystemClass(WC_STATIC, StaticProc, CS_DBLCLKS | CS_PARENTDC, 0, nullptr); }
}  // namespace zq::user::detail
