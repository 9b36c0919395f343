// Property sheets: a dialog built at run time around a tab control, the
// pages as child dialogs created on first selection (or at once with
// PSP_PREMATURE), and the notification order of the header.
#include "user/property_sheet.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/diag.h"
#include "base/error.h"
#include "base/resources.h"
#include "base/text.h"
#include "user/commctrl.h"
#include "user/controls.h"
#include "user/window_internal.h"

struct PropSheetPage {
    std::vector<BYTE> copy;  // the caller's structure, dwSize bytes at least
    std::vector<BYTE> tmpl;  // the page's template, made a child dialog
    std::u16string title;
    PROPSHEETPAGEW* Page() { return reinterpret_cast<PROPSHEETPAGEW*>(copy.data()); }
};

using namespace zq::user::detail;

namespace {

constexpr int kMargin = 7;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;

struct Sheet {
    DWORD flags = 0;
    std::vector<HPROPSHEETPAGE> pages;
    std::vector<HWND> windows;
    int current = -1;
    int start = 0;
    std::vector<HWND> changed;
    bool modeless = false;
    bool closed = false;
    HWND tab = nullptr;
    RECT display{};
    std::u16string caption;
};

Sheet* SheetOf(HWND hwnd) {
    if (!IsWindow(hwnd)) return nullptr;
    auto* s = reinterpret_cast<Sheet*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return s;
}

void Release(HPROPSHEETPAGE page) {
    PROPSHEETPAGEW* p = page->Page();
    if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback) p->pfnCallback(nullptr, PSPCB_RELEASE, p);
    delete page;
}

LRESULT NotifyPage(HWND sheet, HWND page, UINT code, LPARAM lParam) {
    if (!page || !IsWindow(page)) return 0;
    PSHNOTIFY n{{sheet, 0, code}, lParam};
    return SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
}

void SetApply(HWND sheet, Sheet* s) {
    if (HWND apply = GetDlgItem(sheet, IDC_SHEET_APPLY)) EnableWindow(apply, !s->changed.empty());
}

bool CreatePage(HWND sheet, Sheet* s, size_t index) {
    if (s->windows[index]) return true;
    PropSheetPage* page = s->pages[index];
    PROPSHEETPAGEW* p = page->Page();
    if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback && !p->pfnCallback(nullptr, PSPCB_CREATE, p)) return false;
    HWND w = zq::user::CreateDialogFromBytes(p->hInstance, page->tmpl, sheet, p->pfnDlgProc,
                                             reinterpret_cast<LPARAM>(p));
    if (!w) {
        zq::DiagLine("user", "property page " + std::to_string(index) + " could not be created");
        return false;
    }
    s = SheetOf(sheet);
    if (!s) return false;
    s->windows[index] = w;
    SetWindowPos(w, nullptr, s->display.left, s->display.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

// Shows page `index`; when `killFirst`, the current page may refuse to go.
bool Activate(HWND sheet, Sheet* s, int index, bool killFirst) {
    if (index < 0 || index >= static_cast<int>(s->pages.size())) return false;
    if (killFirst && s->current >= 0 && s->current != index) {
        if (NotifyPage(sheet, s->windows[static_cast<size_t>(s->current)], PSN_KILLACTIVE, 0)) return false;
    }
    if (!CreatePage(sheet, s, static_cast<size_t>(index))) return false;
    s = SheetOf(sheet);
    if (!s) return false;
    HWND page = s->windows[static_cast<size_t>(index)];
    const int old = s->current;
    s->current = index;
    SendMessageW(s->tab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NotifyPage(sheet, page, PSN_SETACTIVE, 0);
    if (old >= 0 && old != index && s->windows[static_cast<size_t>(old)])
        ShowWindow(s->windows[static_cast<size_t>(old)], SW_HIDE);
    if (IsWindow(page)) ShowWindow(page, SW_SHOW);
    if (HWND help = GetDlgItem(sheet, IDHELP))
        EnableWindow(help, (s->pages[static_cast<size_t>(index)]->Page()->dwFlags & PSP_HASHELP) != 0);
    return true;
}

void Close(HWND sheet, Sheet* s, INT_PTR result) {
    s->closed = true;
    if (s->modeless)
        DestroyWindow(sheet);
    else
        EndDialog(sheet, result);
}

// PSN_KILLACTIVE of the current page, then PSN_APPLY to every created page
// in page order; false when a page keeps the sheet open.
bool Apply(HWND sheet, Sheet* s, LPARAM closing) {
    if (s->current >= 0 && NotifyPage(sheet, s->windows[static_cast<size_t>(s->current)], PSN_KILLACTIVE, 0))
        return false;
    for (size_t i = 0; i < s->windows.size(); ++i) {
        if (!s->windows[i]) continue;
        const LRESULT r = NotifyPage(sheet, s->windows[i], PSN_APPLY, closing);
        s = SheetOf(sheet);
        if (!s) return false;
        if (r == PSNRET_INVALID || r == PSNRET_INVALID_NOCHANGEPAGE) {
            if (r == PSNRET_INVALID) Activate(sheet, s, static_cast<int>(i), false);
            return false;
        }
    }
    s->changed.clear();
    SetApply(sheet, s);
    return true;
}

void Cancel(HWND sheet, Sheet* s) {
    if (s->current >= 0 && NotifyPage(sheet, s->windows[static_cast<size_t>(s->current)], PSN_QUERYCANCEL, 0))
        return;
    for (HWND page : s->windows)
        if (page) NotifyPage(sheet, page, PSN_RESET, 0);
    if ((s = SheetOf(sheet))) Close(sheet, s, 0);
}

void AddTab(Sheet* s, HPROPSHEETPAGE page, int at) {
    std::u16string title = page->title;
    TCITEMW item{TCIF_TEXT, 0, 0, title.data(), 0, -1, 0};
    SendMessageW(s->tab, TCM_INSERTITEMW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
}

void Layout(HWND sheet, Sheet* s) {
    // The display area fits the largest page.
    LONG width = 0, height = 0;
    for (auto* page : s->pages) {
        auto t = zq::user::ReadDialogTemplate(page->tmpl);
        if (!t) continue;
        RECT r{0, 0, t->cx, t->cy};
        MapDialogRect(sheet, &r);
        width = std::max(width, r.right);
        height = std::max(height, r.bottom);
    }
    RECT tabRect{0, 0, width, height};
    SendMessageW(s->tab, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&tabRect));
    OffsetRect(&tabRect, kMargin - tabRect.left, kMargin - tabRect.top);
    SetWindowPos(s->tab, nullptr, tabRect.left, tabRect.top, tabRect.right - tabRect.left,
                 tabRect.bottom - tabRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    s->display = RECT{0, 0, tabRect.right - tabRect.left, tabRect.bottom - tabRect.top};
    SendMessageW(s->tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&s->display));
    OffsetRect(&s->display, tabRect.left, tabRect.top);
    const int y = tabRect.bottom + kMargin;
    int x = tabRect.right;
    for (int id : {IDHELP, IDC_SHEET_APPLY, IDCANCEL, IDOK}) {
        HWND b = GetDlgItem(sheet, id);
        if (!b || !(GetWindowLongW(b, GWL_STYLE) & WS_VISIBLE)) continue;
        x -= kButtonWidth;
        SetWindowPos(b, nullptr, x, y, kButtonWidth, kButtonHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        x -= kButtonGap;
    }
    RECT client{0, 0, tabRect.right + kMargin, y + kButtonHeight + kMargin};
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongW(sheet, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(sheet, GWL_EXSTYLE)));
    const int w = client.right - client.left, h = client.bottom - client.top;
    SetWindowPos(sheet, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w,
                 h, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR SheetProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam) {
    Sheet* s = SheetOf(sheet);
    switch (message) {
    case WM_INITDIALOG: {
        s = reinterpret_cast<Sheet*>(lParam);
        SetWindowLongPtrW(sheet, DWLP_USER, lParam);
        s->tab = GetDlgItem(sheet, IDC_SHEET_TAB);
        if (s->flags & PSH_NOAPPLYNOW) ShowWindow(GetDlgItem(sheet, IDC_SHEET_APPLY), SW_HIDE);
        bool help = (s->flags & PSH_HASHELP) != 0;
        for (auto* p : s->pages) help = help || (p->Page()->dwFlags & PSP_HASHELP);
        if (!help) ShowWindow(GetDlgItem(sheet, IDHELP), SW_HIDE);
        for (size_t i = 0; i < s->pages.size(); ++i) AddTab(s, s->pages[i], static_cast<int>(i));
        Layout(sheet, s);
        SetApply(sheet, s);
        for (size_t i = 0; i < s->pages.size(); ++i)
            if (s->pages[i]->Page()->dwFlags & PSP_PREMATURE) {
                if (CreatePage(sheet, s, i)) ShowWindow(s->windows[i], SW_HIDE);
            }
        if (!Activate(sheet, s, std::clamp(s->start, 0, static_cast<int>(s->pages.size()) - 1), false)) {
            // No page to show: the sheet is of no use.
            Close(sheet, s, -1);
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (!s) return FALSE;
        switch (LOWORD(static_cast<DWORD>(wParam))) {
        case IDOK:
            if (Apply(sheet, s, 1) && (s = SheetOf(sheet))) Close(sheet, s, 1);
            return TRUE;
        case IDCANCEL: Cancel(sheet, s); return TRUE;
        case IDC_SHEET_APPLY: Apply(sheet, s, 0); return TRUE;
        case IDHELP:
            if (s->current >= 0 && (s->pages[static_cast<size_t>(s->current)]->Page()->dwFlags & PSP_HASHELP))
                NotifyPage(sheet, s->windows[static_cast<size_t>(s->current)], PSN_HELP, 0);
            return TRUE;
        default: return FALSE;
        }
    case WM_NOTIFY: {
        const auto* nm = reinterpret_cast<const NMHDR*>(lParam);
        if (!s || !nm || nm->hwndFrom != s->tab) return FALSE;
        if (nm->code == TCN_SELCHANGING) {
            const bool refused =
                s->current >= 0 && NotifyPage(sheet, s->windows[static_cast<size_t>(s->current)], PSN_KILLACTIVE, 0);
            SetWindowLongPtrW(sheet, DWLP_MSGRESULT, refused);
            return TRUE;
        }
        if (nm->code == TCN_SELCHANGE) {
            Activate(sheet, s, static_cast<int>(SendMessageW(s->tab, TCM_GETCURSEL, 0, 0)), false);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DESTROY:
        // Pages go in page order.
        if (s)
            for (HWND page : std::vector<HWND>(s->windows))
                if (page && IsWindow(page)) DestroyWindow(page);
        return FALSE;
    case WM_NCDESTROY:
        // A modeless sheet owns its record and pages; a modal one's caller
        // frees them.
        if (s && s->modeless) {
            for (auto* page : s->pages) Release(page);
            delete s;
            SetWindowLongPtrW(sheet, DWLP_USER, 0);
        }
        return FALSE;
    case PSM_CHANGED: {
        if (!s) return FALSE;
        const HWND page = reinterpret_cast<HWND>(wParam);
        if (std::find(s->changed.begin(), s->changed.end(), page) == s->changed.end()) s->changed.push_back(page);
        SetApply(sheet, s);
        return TRUE;
    }
    case PSM_UNCHANGED: {
        if (!s) return FALSE;
        const HWND page = reinterpret_cast<HWND>(wParam);
        s->changed.erase(std::remove(s->changed.begin(), s->changed.end(), page), s->changed.end());
        SetApply(sheet, s);
        return TRUE;
    }
    case PSM_SETCURSEL: {
        if (!s) return FALSE;
        int index = static_cast<int>(wParam);
        if (lParam) {
            auto it = std::find(s->pages.begin(), s->pages.end(), reinterpret_cast<HPROPSHEETPAGE>(lParam));
            index = it == s->pages.end() ? -1 : static_cast<int>(it - s->pages.begin());
        }
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT, Activate(sheet, s, index, true));
        return TRUE;
    }
    case PSM_ADDPAGE: {
        if (!s || !lParam) return FALSE;
        auto* page = reinterpret_cast<HPROPSHEETPAGE>(lParam);
        s->pages.push_back(page);
        s->windows.push_back(nullptr);
        AddTab(s, page, static_cast<int>(s->pages.size()) - 1);
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case PSM_REMOVEPAGE: {
        if (!s) return FALSE;
        int index = static_cast<int>(wParam);
        if (lParam) {
            auto it = std::find(s->pages.begin(), s->pages.end(), reinterpret_cast<HPROPSHEETPAGE>(lParam));
            index = it == s->pages.end() ? -1 : static_cast<int>(it - s->pages.begin());
        }
        if (index < 0 || index >= static_cast<int>(s->pages.size())) return FALSE;
        if (s->windows[static_cast<size_t>(index)]) DestroyWindow(s->windows[static_cast<size_t>(index)]);
        if (!(s = SheetOf(sheet))) return FALSE;
        Release(s->pages[static_cast<size_t>(index)]);
        s->pages.erase(s->pages.begin() + index);
        s->windows.erase(s->windows.begin() + index);
        SendMessageW(s->tab, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
        if (s->current == index) {
            s->current = -1;
            if (!s->pages.empty()) Activate(sheet, s, std::min(index, static_cast<int>(s->pages.size()) - 1), false);
        } else if (s->current > index) {
            --s->current;
        }
        return TRUE;
    }
    case PSM_PRESSBUTTON: {
        const int id = wParam == PSBTN_OK ? IDOK : wParam == PSBTN_CANCEL ? IDCANCEL
                       : wParam == PSBTN_APPLYNOW ? IDC_SHEET_APPLY : wParam == PSBTN_HELP ? IDHELP : 0;
        HWND b = GetDlgItem(sheet, id);
        if (b && IsWindowEnabled(b)) SendMessageW(sheet, WM_COMMAND, MAKELONG(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
        return TRUE;
    }
    case PSM_APPLY:
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT, s && Apply(sheet, s, 0));
        return TRUE;
    case PSM_GETTABCONTROL:
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(s ? s->tab : nullptr));
        return TRUE;
    case PSM_GETCURRENTPAGEHWND:
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT,
                          reinterpret_cast<LONG_PTR>(s && s->current >= 0 ? s->windows[static_cast<size_t>(s->current)]
                                                                          : nullptr));
        return TRUE;
    case PSM_QUERYSIBLINGS: {
        LRESULT r = 0;
        if (s)
            for (HWND page : std::vector<HWND>(s->windows))
                if (page && !r) r = SendMessageW(page, PSM_QUERYSIBLINGS, wParam, lParam);
        SetWindowLongPtrW(sheet, DWLP_MSGRESULT, r);
        return TRUE;
    }
    case PSM_CANCELTOCLOSE:
        EnableWindow(GetDlgItem(sheet, IDCANCEL), FALSE);
        SetDlgItemTextW(sheet, IDOK, u"Close");
        return TRUE;
    case PSM_SETTITLEW: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        std::u16string title = text && !IS_INTRESOURCE(text) ? std::u16string(text) : u"";
        if (wParam & PSH_PROPTITLE) title = u"Properties for " + title;
        SetWindowTextW(sheet, title.c_str());
        return TRUE;
    }
    default: return FALSE;
    }
}

std::vector<BYTE> SheetTemplate(const std::u16string& caption) {
    zq::user::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CONTEXTHELP;
    t.cx = 200;
    t.cy = 150;
    t.title = caption;
    t.hasFont = true;
    t.pointSize = 8;
    t.face = u"MS Shell Dlg";
    auto item = [&](DWORD style, DWORD id, std::u16string cls, std::u16string text) {
        zq::user::DialogItemTemplate i;
        i.style = WS_CHILD | WS_VISIBLE | style;
        i.id = id;
        i.cls.name = std::move(cls);
        i.text.name = std::move(text);
        t.items.push_back(std::move(i));
    };
    // The tab control is the first child, as pages and hooks expect.
    item(WS_TABSTOP | WS_CLIPSIBLINGS, IDC_SHEET_TAB, WC_TABCONTROLW, u"");
    item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK, u"Button", u"OK");
    item(BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, u"Button", u"Cancel");
    item(BS_PUSHBUTTON | WS_TABSTOP, IDC_SHEET_APPLY, u"Button", u"&Apply");
    item(BS_PUSHBUTTON | WS_TABSTOP, IDHELP, u"Button", u"Help");
    return zq::user::WriteDialogTemplate(t);
}

}  // namespace

namespace zq::user {

bool IsPropertySheet(HWND hwnd) {
    return IsWindow(hwnd) && reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hwnd, DWLP_DLGPROC)) == SheetProc;
}

bool GetSheetState(HWND sheet, SheetState& state) {
    if (!IsPropertySheet(sheet)) return false;
    Sheet* s = SheetOf(sheet);
    if (!s) return false;
    state.pages = s->windows;
    state.current = s->current;
    HWND apply = GetDlgItem(sheet, IDC_SHEET_APPLY);
    state.applyEnabled = apply && IsWindowEnabled(apply);
    state.closed = s->closed;
    return true;
}

}  // namespace zq::user

extern "C" {

HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page) {
    if (!page || page->dwSize < PROPSHEETPAGEW_V1_SIZE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto p = std::make_unique<PropSheetPage>();
    p->copy.assign(std::max<size_t>(page->dwSize, sizeof(PROPSHEETPAGEW)), 0);
    std::memcpy(p->copy.data(), page, page->dwSize);
    PROPSHEETPAGEW* own = p->Page();
    if (page->dwSize < sizeof(PROPSHEETPAGEW)) {
        own->pszHeaderTitle = nullptr;
        own->pszHeaderSubTitle = nullptr;
    }
    const auto bytes = (own->dwFlags & PSP_DLGINDIRECT) ? zq::user::TemplateSpan(own->hInstance, own->pResource)
                                                        : zq::user::ResourceTemplateSpan(own->hInstance, own->pszTemplate);
    auto t = zq::user::ReadDialogTemplate(bytes);
    if (!t) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    // A page is a child dialog whatever its template says.
    t->style = (t->style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | WS_THICKFRAME)) |
               WS_CHILD | DS_CONTROL;
    t->exStyle |= WS_EX_CONTROLPARENT;
    t->x = t->y = 0;
    p->title = t->title;
    if ((own->dwFlags & PSP_USETITLE) && own->pszTitle) {
        if (IS_INTRESOURCE(own->pszTitle)) {
            WCHAR buffer[256];
            if (LoadStringW(own->hInstance, static_cast<UINT>(reinterpret_cast<uintptr_t>(own->pszTitle)), buffer, 256) > 0)
                p->title = buffer;
        } else {
            p->title = own->pszTitle;
        }
    }
    p->tmpl = zq::user::WriteDialogTemplate(*t);
    if ((own->dwFlags & PSP_USECALLBACK) && own->pfnCallback) own->pfnCallback(nullptr, PSPCB_ADDREF, own);
    return p.release();
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) {
    if (!page) return FALSE;
    Release(page);
    return TRUE;
}

INT_PTR PropertySheetW(const PROPSHEETHEADERW* header) {
    if (!header || header->dwSize < offsetof(PROPSHEETHEADERW, pfnCallback)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto sheet = std::make_unique<Sheet>();
    sheet->flags = header->dwFlags;
    sheet->modeless = (header->dwFlags & PSH_MODELESS) != 0;
    for (UINT i = 0; i < header->nPages; ++i) {
        HPROPSHEETPAGE page = nullptr;
        if (header->dwFlags & PSH_PROPSHEETPAGE) {
            const auto* p = reinterpret_cast<const PROPSHEETPAGEW*>(reinterpret_cast<const BYTE*>(header->ppsp) +
                                                                    static_cast<size_t>(i) * header->ppsp->dwSize);
            page = CreatePropertySheetPageW(p);
        } else {
            page = header->phpage[i];
        }
        if (!page) {
            for (auto* made : sheet->pages) Release(made);
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        sheet->pages.push_back(page);
    }
    sheet->windows.assign(sheet->pages.size(), nullptr);
    if (header->dwFlags & PSH_USEPSTARTPAGE) {
        for (size_t i = 0; i < sheet->pages.size(); ++i)
            if (header->pStartPage && sheet->pages[i]->title == header->pStartPage) sheet->start = static_cast<int>(i);
    } else {
        sheet->start = static_cast<int>(header->nStartPage);
    }
    std::u16string caption = header->pszCaption && !IS_INTRESOURCE(header->pszCaption) ? header->pszCaption : u"";
    if (header->dwFlags & PSH_PROPTITLE) caption = u"Properties for " + caption;
    sheet->caption = caption;
    if (sheet->pages.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const std::vector<BYTE> tmpl = SheetTemplate(caption);
    if (sheet->modeless) {
        Sheet* raw = sheet.release();  // released with the window's pages by the caller's DestroyWindow
        HWND w = zq::user::CreateDialogFromBytes(header->hInstance, tmpl, header->hwndParent, SheetProc,
                                                 reinterpret_cast<LPARAM>(raw));
        if (w) ShowWindow(w, SW_SHOW);
        return reinterpret_cast<INT_PTR>(w);
    }
    const INT_PTR r = zq::user::DialogBoxFromBytes(header->hInstance, tmpl, header->hwndParent, SheetProc,
                                                   reinterpret_cast<LPARAM>(sheet.get()));
    for (auto* page : sheet->pages) Release(page);
    if (r < 0) return -1;
    return r == 1 ? 1 : 0;
}

}  // extern "C"
