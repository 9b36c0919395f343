// The combo box: a drop-down list with its own list window, a drop-down
// with an edit child, owner-drawn items, and the CBN_* notifications
// (EDITCHANGE, KILLFOCUS, CLOSEUP among them).
#include <algorithm>

#include "base/text.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/list_internal.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr int kEditId = 1001;
constexpr int kFieldHeight = 20;

struct ComboData : ControlData {
    HWND list = nullptr;
    HWND edit = nullptr;
    bool dropped = false;
    bool settingEdit = false;  // the edit's change came from a selection
    HFONT font = nullptr;
    int droppedHeight = 100;
};

ComboData* D(HWND hwnd) {
    if (auto* d = DataOf<ComboData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<ComboData>());
    return DataOf<ComboData>(hwnd);
}

LONG Style(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE); }
DWORD Kind(HWND hwnd) { return static_cast<DWORD>(Style(hwnd)) & CBS_TYPEMASK; }

UINT ListMessage(UINT m) {
    switch (m) {
    case CB_ADDSTRING: return LB_ADDSTRING;
    case CB_INSERTSTRING: return LB_INSERTSTRING;
    case CB_DELETESTRING: return LB_DELETESTRING;
    case CB_RESETCONTENT: return LB_RESETCONTENT;
    case CB_GETCOUNT: return LB_GETCOUNT;
    case CB_GETLBTEXT: return LB_GETTEXT;
    case CB_GETLBTEXTLEN: return LB_GETTEXTLEN;
    case CB_GETITEMDATA: return LB_GETITEMDATA;
    case CB_SETITEMDATA: return LB_SETITEMDATA;
    case CB_FINDSTRING: return LB_FINDSTRING;
    case CB_FINDSTRINGEXACT: return LB_FINDSTRINGEXACT;
    case CB_GETCURSEL: return LB_GETCURSEL;
    default: return 0;
    }
}

std::u16string ItemText(HWND list, int index) {
    const LRESULT n = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n < 0) return {};
    std::u16string text(static_cast<size_t>(n) + 1, u'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

void UpdateEdit(HWND hwnd, ComboData* d) {
    if (!d->edit) return;
    const int sel = static_cast<int>(SendMessageW(d->list, LB_GETCURSEL, 0, 0));
    const bool strings = !(Style(hwnd) & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) || (Style(hwnd) & CBS_HASSTRINGS);
    d->settingEdit = true;
    SetWindowTextW(d->edit, sel >= 0 && strings ? ItemText(d->list, sel).c_str() : u"");
    SendMessageW(d->edit, EM_SETSEL, 0, -1);
    d->settingEdit = false;
}

void ShowDropDown(HWND hwnd, ComboData* d, bool show, bool picked) {
    if (Kind(hwnd) == CBS_SIMPLE || show == d->dropped) return;
    if (show) {
        NotifyParent(hwnd, CBN_DROPDOWN);
        if (!IsWindow(hwnd)) return;
        RECT r;
        GetWindowRect(hwnd, &r);
        SetWindowPos(d->list, HWND_TOP, r.left, r.bottom, r.right - r.left, d->droppedHeight,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
        d->dropped = true;
    } else {
        d->dropped = false;
        NotifyParent(hwnd, picked ? CBN_SELENDOK : CBN_SELENDCANCEL);
        if (!IsWindow(hwnd)) return;
        ShowWindow(d->list, SW_HIDE);
        NotifyParent(hwnd, CBN_CLOSEUP);
    }
    InvalidateRect(hwnd, nullptr, TRUE);
}

void PaintField(HWND hwnd, ComboData* d) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (dc && Kind(hwnd) != CBS_SIMPLE) {
        RECT r;
        GetClientRect(hwnd, &r);
        const int w = GetSystemMetrics(SM_CXVSCROLL);
        PaintArrowButton(dc, RECT{r.right - w, 0, r.right, std::min<LONG>(r.bottom, kFieldHeight)}, true, true);
    }
    if (dc && !d->edit) {
        const int sel = static_cast<int>(SendMessageW(d->list, LB_GETCURSEL, 0, 0));
        if (Style(hwnd) & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) {
            DRAWITEMSTRUCT dis{};
            dis.CtlType = ODT_COMBOBOX;
            dis.CtlID = static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID));
            dis.itemID = static_cast<UINT>(sel);
            dis.itemAction = ODA_DRAWENTIRE;
            dis.itemState = ODS_COMBOBOXEDIT | (GetFocus() == hwnd ? ODS_FOCUS | ODS_SELECTED : 0) |
                            (IsWindowEnabled(hwnd) ? 0 : ODS_DISABLED);
            dis.hwndItem = hwnd;
            dis.hDC = dc;
            GetClientRect(hwnd, &dis.rcItem);
            dis.rcItem.right -= GetSystemMetrics(SM_CXVSCROLL);
            dis.itemData = sel >= 0 ? static_cast<ULONG_PTR>(SendMessageW(d->list, LB_GETITEMDATA, sel, 0)) : 0;
            SendMessageW(GetParent(hwnd), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
        } else {
            const std::u16string text = sel >= 0 ? ItemText(d->list, sel) : u"";
            PaintTextBox(hwnd, dc, d->font, &text, 1, kFieldHeight - 4, 0, GetFocus() == hwnd ? 0 : -1,
                         GetSystemMetrics(SM_CXVSCROLL));
        }
    }
    EndPaint(hwnd, &ps);
}

LRESULT ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ComboData* d = D(hwnd);
    switch (message) {
    case WM_CREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        const LONG style = cs ? cs->style : 0;
        DWORD listStyle = WS_BORDER | WS_VSCROLL | LBS_NOTIFY;
        if (style & CBS_OWNERDRAWFIXED) listStyle |= LBS_OWNERDRAWFIXED;
        if (style & CBS_OWNERDRAWVARIABLE) listStyle |= LBS_OWNERDRAWVARIABLE;
        if (style & CBS_HASSTRINGS) listStyle |= LBS_HASSTRINGS;
        if (style & CBS_SORT) listStyle |= LBS_SORT;
        RECT r;
        GetClientRect(hwnd, &r);
        d->droppedHeight = std::max<int>(cs ? cs->cy - kFieldHeight : 0, 40);
        if ((static_cast<DWORD>(style) & CBS_TYPEMASK) == CBS_SIMPLE) {
            d->list = CreateWindowExW(0, WC_COMBOLBOX, u"", WS_CHILD | WS_VISIBLE | listStyle, 0, kFieldHeight,
                                      r.right, std::max<LONG>(r.bottom - kFieldHeight, 0), hwnd, nullptr, nullptr,
                                      nullptr);
        } else {
            d->list = CreateWindowExW(WS_EX_TOOLWINDOW, WC_COMBOLBOX, u"", WS_POPUP | listStyle, 0, 0, r.right,
                                      d->droppedHeight, hwnd, nullptr, nullptr, nullptr);
        }
        if (!d->list) return -1;
        SendMessageW(d->list, kListSetCombo, reinterpret_cast<WPARAM>(hwnd), 0);
        if (listStyle & LBS_OWNERDRAWFIXED) {
            // The list measured itself before it knew its combo box.
            MEASUREITEMSTRUCT mis{ODT_COMBOBOX, static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID)), 0, 0, 16, 0};
            SendMessageW(GetParent(hwnd), WM_MEASUREITEM, mis.CtlID, reinterpret_cast<LPARAM>(&mis));
            SendMessageW(d->list, LB_SETITEMHEIGHT, 0, MAKELONG(static_cast<WORD>(mis.itemHeight), 0));
        }
        if ((static_cast<DWORD>(style) & CBS_TYPEMASK) != CBS_DROPDOWNLIST) {
            d->edit = CreateWindowExW(0, WC_EDIT, cs && cs->lpszName ? cs->lpszName : u"",
                                      WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0,
                                      r.right - GetSystemMetrics(SM_CXVSCROLL), kFieldHeight, hwnd,
                                      reinterpret_cast<HMENU>(static_cast<intptr_t>(kEditId)), nullptr, nullptr);
            if (!d->edit) return -1;
        }
        // The field keeps its own height; the template's height is the list's.
        if (cs && (static_cast<DWORD>(style) & CBS_TYPEMASK) != CBS_SIMPLE)
            SetWindowPos(hwnd, nullptr, 0, 0, cs->cx, kFieldHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_DESTROY:
        if (d->list && IsWindow(d->list)) DestroyWindow(d->list);
        d->list = nullptr;
        return 0;
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_DELETESTRING:
    case CB_GETCOUNT:
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN:
    case CB_GETITEMDATA:
    case CB_SETITEMDATA:
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_GETCURSEL: return SendMessageW(d->list, ListMessage(message), wParam, lParam);
    case CB_RESETCONTENT:
        SendMessageW(d->list, LB_RESETCONTENT, 0, 0);
        UpdateEdit(hwnd, d);
        InvalidateRect(hwnd, nullptr, TRUE);
        return CB_OKAY;
    case CB_SETCURSEL: {
        const LRESULT r = SendMessageW(d->list, LB_SETCURSEL, wParam, 0);
        UpdateEdit(hwnd, d);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case CB_SELECTSTRING: {
        const LRESULT i = SendMessageW(d->list, LB_FINDSTRING, wParam, lParam);
        if (i == LB_ERR) return CB_ERR;
        return SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    }
    case CB_SHOWDROPDOWN: ShowDropDown(hwnd, d, wParam != 0, false); return TRUE;
    case CB_GETDROPPEDSTATE: return d->dropped;
    case CB_GETDROPPEDCONTROLRECT:
        if (lParam) {
            RECT r;
            GetWindowRect(hwnd, &r);
            r.bottom = r.top + kFieldHeight + d->droppedHeight;
            *reinterpret_cast<RECT*>(lParam) = r;
        }
        return TRUE;
    case CB_SETITEMHEIGHT:
        if (static_cast<int>(wParam) == -1) return CB_OKAY;  // the field keeps its height
        return SendMessageW(d->list, LB_SETITEMHEIGHT, wParam, lParam);
    case CB_GETITEMHEIGHT:
        if (static_cast<int>(wParam) == -1) return kFieldHeight - 4;
        return SendMessageW(d->list, LB_GETITEMHEIGHT, wParam, 0);
    case CB_LIMITTEXT:
        if (!d->edit) return CB_ERR;
        SendMessageW(d->edit, EM_LIMITTEXT, wParam, 0);
        return TRUE;
    case CB_GETEDITSEL: return d->edit ? SendMessageW(d->edit, EM_GETSEL, wParam, lParam) : CB_ERR;
    case CB_SETEDITSEL:
        if (!d->edit) return CB_ERR;
        SendMessageW(d->edit, EM_SETSEL, static_cast<WPARAM>(static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)))),
                     static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam))));
        return TRUE;
    case WM_SETTEXT:
        if (d->edit) return SendMessageW(d->edit, WM_SETTEXT, wParam, lParam);
        {
            const LRESULT i = SendMessageW(d->list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), lParam);
            if (i == LB_ERR) return CB_ERR;
            SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return TRUE;
        }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        if (d->edit) return SendMessageW(d->edit, message, wParam, lParam);
        const int sel = static_cast<int>(SendMessageW(d->list, LB_GETCURSEL, 0, 0));
        const std::u16string text = sel >= 0 ? ItemText(d->list, sel) : u"";
        if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
        auto* out = reinterpret_cast<LPWSTR>(lParam);
        if (!out || wParam == 0) return 0;
        const size_t n = std::min<size_t>(text.size(), wParam - 1);
        std::copy_n(text.data(), n, out);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case kListNotifyCombo:
        if (wParam == kListPicked) {
            UpdateEdit(hwnd, d);
            ShowDropDown(hwnd, d, false, true);
        } else if (wParam == LBN_SELCHANGE) {
            UpdateEdit(hwnd, d);
            InvalidateRect(hwnd, nullptr, TRUE);
            NotifyParent(hwnd, CBN_SELCHANGE);
        } else if (wParam == LBN_DBLCLK) {
            NotifyParent(hwnd, CBN_DBLCLK);
        }
        return 0;
    case WM_COMMAND:
        if (d->edit && reinterpret_cast<HWND>(lParam) == d->edit) {
            switch (HIWORD(static_cast<DWORD>(wParam))) {
            case EN_CHANGE:
                if (!d->settingEdit) NotifyParent(hwnd, CBN_EDITCHANGE);
                break;
            case EN_UPDATE:
                if (!d->settingEdit) NotifyParent(hwnd, CBN_EDITUPDATE);
                break;
            case EN_SETFOCUS: NotifyParent(hwnd, CBN_SETFOCUS); break;
            case EN_KILLFOCUS:
                if (d->dropped) ShowDropDown(hwnd, d, false, false);
                NotifyParent(hwnd, CBN_KILLFOCUS);
                break;
            default: break;
            }
        }
        return 0;
    case WM_SETFOCUS:
        if (d->edit) {
            SetFocus(d->edit);
        } else {
            InvalidateRect(hwnd, nullptr, TRUE);
            NotifyParent(hwnd, CBN_SETFOCUS);
        }
        return 0;
    case WM_KILLFOCUS:
        if (!d->edit) {
            if (d->dropped) ShowDropDown(hwnd, d, false, false);
            InvalidateRect(hwnd, nullptr, TRUE);
            NotifyParent(hwnd, CBN_KILLFOCUS);
        }
        return 0;
    case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd && !(d->edit && GetFocus() == d->edit)) SetFocus(hwnd);
        ShowDropDown(hwnd, d, !d->dropped, false);
        return 0;
    case WM_KEYDOWN: {
        if (wParam == VK_F4) {
            ShowDropDown(hwnd, d, !d->dropped, false);
            return 0;
        }
        const int count = static_cast<int>(SendMessageW(d->list, LB_GETCOUNT, 0, 0));
        int sel = static_cast<int>(SendMessageW(d->list, LB_GETCURSEL, 0, 0));
        int next = sel;
        if (wParam == VK_DOWN) next = std::min(sel + 1, count - 1);
        else if (wParam == VK_UP) next = std::max(sel - 1, 0);
        else if (wParam == VK_HOME) next = 0;
        else if (wParam == VK_END) next = count - 1;
        else if (wParam == VK_RETURN && d->dropped) {
            ShowDropDown(hwnd, d, false, true);
            return 0;
        }
        if (count > 0 && next != sel && next >= 0) {
            SendMessageW(d->list, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
            UpdateEdit(hwnd, d);
            InvalidateRect(hwnd, nullptr, TRUE);
            NotifyParent(hwnd, CBN_SELCHANGE);
        }
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFONT:
        d->font = reinterpret_cast<HFONT>(wParam);
        if (d->edit) SendMessageW(d->edit, WM_SETFONT, wParam, lParam);
        if (d->list) SendMessageW(d->list, WM_SETFONT, wParam, lParam);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_ENABLE:
        if (d->edit) EnableWindow(d->edit, static_cast<BOOL>(wParam));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: PaintField(hwnd, d); return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterComboClass() { RegisterSystemClass(WC_COMBOBOX, ComboProc, CS_DBLCLKS | CS_PARENTDC, 0, nullptr); }

// The list window of a combo box, for the test driver and pictures.
HWND ComboList(HWND combo) {
    auto* d = DataOf<ComboData>(combo);
    return d ? d->list : nullptr;
}
}  // namespace zq::user::detail
