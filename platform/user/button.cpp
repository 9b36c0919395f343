// The button control: push, default push, check boxes (two and three
// states), radio buttons with automatic groups, group boxes and owner-drawn
// buttons.
#include "base/text.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/control_paint.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

struct ButtonData : ControlData {
    WPARAM check = BST_UNCHECKED;
    bool pushed = false;
    bool focus = false;
    HFONT font = nullptr;
    HANDLE image = nullptr;
};

DWORD TypeOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & BS_TYPEMASK; }

bool IsCheckType(DWORD t) {
    return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE || t == BS_RADIOBUTTON ||
           t == BS_AUTORADIOBUTTON;
}

bool IsRadio(DWORD t) { return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON; }

ButtonData* D(HWND hwnd) {
    if (auto* d = DataOf<ButtonData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<ButtonData>());
    return DataOf<ButtonData>(hwnd);
}

void Notify(HWND hwnd, WORD code) { NotifyParent(hwnd, code); }

void SetCheck(HWND hwnd, WPARAM value) {
    const DWORD type = TypeOf(hwnd);
    if (!IsCheckType(type)) return;
    const WPARAM most = (type == BS_3STATE || type == BS_AUTO3STATE) ? BST_INDETERMINATE : BST_CHECKED;
    if (value > most) value = most;
    ButtonData* d = D(hwnd);
    if (d->check != value) {
        d->check = value;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    // A checked radio button is the group's tab stop.
    if (IsRadio(type)) {
        LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        style = value ? (style | static_cast<LONG>(WS_TABSTOP)) : (style & ~static_cast<LONG>(WS_TABSTOP));
        SetWindowLongW(hwnd, GWL_STYLE, style);
    }
}

// Unchecks the other automatic radio buttons of the clicked one's group.
void UncheckGroup(HWND hwnd) {
    HWND parent = GetParent(hwnd);
    if (!parent) return;
    // Walk the group whatever the siblings' visibility: a hidden radio button
    // still belongs to it.
    HWND first = hwnd;
    for (HWND h = hwnd; h; h = GetWindow(h, GW_HWNDPREV)) {
        first = h;
        if (GetWindowLongW(h, GWL_STYLE) & WS_GROUP) break;
    }
    for (HWND h = first; h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (h != first && (GetWindowLongW(h, GWL_STYLE) & WS_GROUP)) break;
        if (h != hwnd && IsClass(h, WC_BUTTON) && TypeOf(h) == BS_AUTORADIOBUTTON) SetCheck(h, BST_UNCHECKED);
    }
}

void Click(HWND hwnd) {
    const DWORD type = TypeOf(hwnd);
    ButtonData* d = D(hwnd);
    switch (type) {
    case BS_AUTOCHECKBOX: SetCheck(hwnd, d->check ? BST_UNCHECKED : BST_CHECKED); break;
    case BS_AUTO3STATE:
        SetCheck(hwnd, d->check == BST_UNCHECKED ? BST_CHECKED
                       : d->check == BST_CHECKED ? BST_INDETERMINATE
                                                 : BST_UNCHECKED);
        break;
    case BS_AUTORADIOBUTTON:
        SetCheck(hwnd, BST_CHECKED);
        UncheckGroup(hwnd);
        break;
    default: break;
    }
    Notify(hwnd, BN_CLICKED);
}

void DrawOwner(HWND hwnd) {
    ButtonData* d = D(hwnd);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = (d->pushed ? ODS_SELECTED : 0) | (d->focus ? ODS_FOCUS : 0) |
                    (IsWindowEnabled(hwnd) ? 0 : ODS_DISABLED) | (d->check ? ODS_CHECKED : 0);
    dis.hwndItem = hwnd;
    dis.hDC = dc;
    GetClientRect(hwnd, &dis.rcItem);
    if (HWND parent = GetParent(hwnd))
        SendMessageW(parent, WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    EndPaint(hwnd, &ps);
}

void SetPushed(HWND hwnd, bool pushed) {
    ButtonData* d = D(hwnd);
    if (d->pushed == pushed) return;
    d->pushed = pushed;
    InvalidateRect(hwnd, nullptr, TRUE);
}

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const DWORD type = TypeOf(hwnd);
    switch (message) {
    case WM_NCCREATE: D(hwnd); return DefWindowProcW(hwnd, message, wParam, lParam);
    case BM_GETCHECK: return IsCheckType(type) ? static_cast<LRESULT>(D(hwnd)->check) : 0;
    case BM_SETCHECK: SetCheck(hwnd, wParam); return 0;
    case BM_GETSTATE: {
        ButtonData* d = D(hwnd);
        return static_cast<LRESULT>(d->check) | (d->pushed ? BST_PUSHED : 0) | (d->focus ? BST_FOCUS : 0);
    }
    case BM_SETSTATE: SetPushed(hwnd, wParam != 0); return 0;
    case BM_SETSTYLE: {
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        SetWindowLongW(hwnd, GWL_STYLE,
                       (style & ~static_cast<LONG>(BS_TYPEMASK)) | static_cast<LONG>(wParam & BS_TYPEMASK));
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case BM_CLICK:
        if (!IsWindowEnabled(hwnd)) return 0;
        SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
        return 0;
    case BM_SETIMAGE: {
        HANDLE old = D(hwnd)->image;
        D(hwnd)->image = reinterpret_cast<HANDLE>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case BM_GETIMAGE: return reinterpret_cast<LRESULT>(D(hwnd)->image);
    case WM_GETDLGCODE:
        switch (type) {
        case BS_PUSHBUTTON: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_DEFPUSHBUTTON: return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX: return DLGC_STATIC;
        default: return DLGC_BUTTON;
        }
    case WM_LBUTTONDBLCLK:
        if ((GetWindowLongW(hwnd, GWL_STYLE) & BS_NOTIFY) || IsRadio(type) || type == BS_OWNERDRAW) {
            Notify(hwnd, BN_DOUBLECLICKED);
            return 0;
        }
        [[fallthrough]];
    case WM_LBUTTONDOWN:
        if (type == BS_GROUPBOX) return 0;
        SetCapture(hwnd);
        if (GetFocus() != hwnd) SetFocus(hwnd);
        SetPushed(hwnd, true);
        return 0;
    case WM_LBUTTONUP: {
        const bool wasPushed = D(hwnd)->pushed;
        const bool captured = GetCapture() == hwnd;
        SetPushed(hwnd, false);
        if (captured) ReleaseCapture();
        if (!wasPushed) return 0;
        RECT r;
        GetClientRect(hwnd, &r);
        const POINT p{static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam))),
                      static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))};
        if (PtInRect(&r, p)) Click(hwnd);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && type != BS_GROUPBOX) SetPushed(hwnd, true);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && D(hwnd)->pushed) {
            SetPushed(hwnd, false);
            Click(hwnd);
        }
        return 0;
    case WM_SETFOCUS:
        D(hwnd)->focus = true;
        InvalidateRect(hwnd, nullptr, TRUE);
        if (GetWindowLongW(hwnd, GWL_STYLE) & BS_NOTIFY) Notify(hwnd, BN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        D(hwnd)->focus = false;
        SetPushed(hwnd, false);
        if (GetCapture() == hwnd) ReleaseCapture();
        if (GetWindowLongW(hwnd, GWL_STYLE) & BS_NOTIFY) Notify(hwnd, BN_KILLFOCUS);
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != hwnd) SetPushed(hwnd, false);
        return 0;
    case WM_SETFONT:
        D(hwnd)->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(D(hwnd)->font);
    case WM_SETTEXT:
    case WM_ENABLE: InvalidateRect(hwnd, nullptr, TRUE); return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
        if (type == BS_OWNERDRAW) {
            DrawOwner(hwnd);
            return 0;
        }
        {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            ButtonData* d = D(hwnd);
            if (dc) PaintButton(hwnd, dc, type, d->check, d->pushed, d->focus, d->font);
            EndPaint(hwnd, &ps);
        }
        return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterButtonClass() { RegisterSystemClass(WC_BUTTON, ButtonProc, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, 0, nullptr); }
}  // namespace zq::user::detail
