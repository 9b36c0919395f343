// The tab control: a row of tabs above a display area; a user's change of
// tab asks the parent first (TCN_SELCHANGING, a non-zero answer keeps the
// tab) and then tells it (TCN_SELCHANGE). TCM_SETCURSEL notifies nothing.
#include <algorithm>

#include "base/text.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/commctrl.h"
#include "user/dialog.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr int kTabWidthPadding = 12;

struct Tab {
    std::u16string text;
    int image = -1;
    LPARAM param = 0;
};

struct TabData : ControlData {
    std::vector<Tab> tabs;
    int current = -1;
    int focus = -1;
    HFONT font = nullptr;
};

TabData* D(HWND hwnd) {
    if (auto* d = DataOf<TabData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<TabData>());
    return DataOf<TabData>(hwnd);
}

LRESULT Notify(HWND hwnd, UINT code) { return NotifyParentCode(hwnd, code); }

int TextWidth(HWND hwnd, TabData* d, const std::u16string& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = d->font ? SelectObject(dc, d->font) : nullptr;
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (d->font) SelectObject(dc, old);
    DeleteDC(dc);
    (void)hwnd;
    return size.cx;
}

RECT ItemRect(HWND hwnd, TabData* d, int index) {
    int x = 2;
    for (int i = 0; i < index; ++i) x += TextWidth(hwnd, d, d->tabs[static_cast<size_t>(i)].text) + kTabWidthPadding;
    const int w = TextWidth(hwnd, d, d->tabs[static_cast<size_t>(index)].text) + kTabWidthPadding;
    return RECT{x, 2, x + w, kTabRowHeight};
}

// A user's choice of a tab.
void Choose(HWND hwnd, TabData* d, int index) {
    if (index < 0 || index >= static_cast<int>(d->tabs.size()) || index == d->current) return;
    if (Notify(hwnd, TCN_SELCHANGING)) return;
    if (!IsWindow(hwnd)) return;
    d = D(hwnd);
    d->current = d->focus = index;
    InvalidateRect(hwnd, nullptr, TRUE);
    Notify(hwnd, TCN_SELCHANGE);
}

void Paint(HWND hwnd, TabData* d) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (dc) {
        RECT r;
        GetClientRect(hwnd, &r);
        // Only the row of tabs and the frame: the pages in the display area
        // show through, whatever their place among the siblings.
        RECT row{0, 0, r.right, kTabRowHeight};
        FillRect(dc, &row, GetSysColorBrush(COLOR_BTNFACE));
        RECT body{0, kTabRowHeight, r.right, r.bottom};
        HPEN light = CreatePen(0, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        HPEN dark = CreatePen(0, 1, GetSysColor(COLOR_3DDKSHADOW));
        HPEN shadow = CreatePen(0, 1, GetSysColor(COLOR_BTNSHADOW));
        HGDIOBJ old = SelectObject(dc, light);
        MoveToEx(dc, body.left, body.bottom - 1, nullptr);
        LineTo(dc, body.left, body.top);
        LineTo(dc, body.right - 1, body.top);
        SelectObject(dc, dark);
        LineTo(dc, body.right - 1, body.bottom - 1);
        LineTo(dc, body.left, body.bottom - 1);
        SelectObject(dc, shadow);
        MoveToEx(dc, body.right - 2, body.top + 1, nullptr);
        LineTo(dc, body.right - 2, body.bottom - 2);
        LineTo(dc, body.left, body.bottom - 2);
        HGDIOBJ oldFont = d->font ? SelectObject(dc, d->font) : nullptr;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        for (int i = 0; i < static_cast<int>(d->tabs.size()); ++i) {
            RECT t = ItemRect(hwnd, d, i);
            if (i == d->current) {
                InflateRect(&t, 2, 2);
                t.bottom += 1;
                RECT fill = t;
                FillRect(dc, &fill, GetSysColorBrush(COLOR_BTNFACE));
            }
            SelectObject(dc, light);
            MoveToEx(dc, t.left, t.bottom - 1, nullptr);
            LineTo(dc, t.left, t.top + 2);
            LineTo(dc, t.left + 2, t.top);
            LineTo(dc, t.right - 2, t.top);
            SelectObject(dc, dark);
            LineTo(dc, t.right, t.top + 2);
            LineTo(dc, t.right, t.bottom - (i == d->current ? 0 : 1));
            const auto& text = d->tabs[static_cast<size_t>(i)].text;
            TextOutW(dc, t.left + kTabWidthPadding / 2, t.top + 3, text.c_str(), static_cast<int>(text.size()));
        }
        if (d->font) SelectObject(dc, oldFont);
        SelectObject(dc, old);
        DeleteObject(light);
        DeleteObject(dark);
        DeleteObject(shadow);
    }
    EndPaint(hwnd, &ps);
}

LRESULT TabProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TabData* d = D(hwnd);
    const int count = static_cast<int>(d->tabs.size());
    switch (message) {
    case TCM_GETITEMCOUNT: return count;
    case TCM_INSERTITEMW: {
        const auto* item = reinterpret_cast<const TCITEMW*>(lParam);
        if (!item) return -1;
        int index = std::clamp(static_cast<int>(wParam), 0, count);
        Tab t;
        if ((item->mask & TCIF_TEXT) && item->pszText) t.text = item->pszText;
        if (item->mask & TCIF_IMAGE) t.image = item->iImage;
        if (item->mask & TCIF_PARAM) t.param = item->lParam;
        d->tabs.insert(d->tabs.begin() + index, std::move(t));
        if (d->current >= index) ++d->current;
        if (d->current < 0) d->current = 0;
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }
    case TCM_SETITEMW:
    case TCM_GETITEMW: {
        auto* item = reinterpret_cast<TCITEMW*>(lParam);
        if (!item || static_cast<int>(wParam) < 0 || static_cast<int>(wParam) >= count) return FALSE;
        Tab& t = d->tabs[wParam];
        if (message == TCM_SETITEMW) {
            if ((item->mask & TCIF_TEXT) && item->pszText) t.text = item->pszText;
            if (item->mask & TCIF_IMAGE) t.image = item->iImage;
            if (item->mask & TCIF_PARAM) t.param = item->lParam;
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
            const size_t n = std::min<size_t>(t.text.size(), static_cast<size_t>(item->cchTextMax - 1));
            std::copy_n(t.text.data(), n, item->pszText);
            item->pszText[n] = 0;
        }
        if (item->mask & TCIF_IMAGE) item->iImage = t.image;
        if (item->mask & TCIF_PARAM) item->lParam = t.param;
        return TRUE;
    }
    case TCM_DELETEITEM: {
        const int i = static_cast<int>(wParam);
        if (i < 0 || i >= count) return FALSE;
        d->tabs.erase(d->tabs.begin() + i);
        if (d->current == i) d->current = -1;
        else if (d->current > i) --d->current;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case TCM_DELETEALLITEMS:
        d->tabs.clear();
        d->current = -1;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case TCM_GETCURSEL: return d->current;
    case TCM_SETCURSEL: {
        const int old = d->current;
        if (static_cast<int>(wParam) < 0 || static_cast<int>(wParam) >= count) return -1;
        d->current = d->focus = static_cast<int>(wParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }
    case TCM_GETCURFOCUS: return d->focus;
    case TCM_SETCURFOCUS: Choose(hwnd, d, static_cast<int>(wParam)); return 0;
    case TCM_GETITEMRECT:
        if (static_cast<int>(wParam) < 0 || static_cast<int>(wParam) >= count || !lParam) return FALSE;
        *reinterpret_cast<RECT*>(lParam) = ItemRect(hwnd, d, static_cast<int>(wParam));
        return TRUE;
    case TCM_ADJUSTRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r) return 0;
        // TRUE: from a display area to the control's; FALSE: the other way.
        if (wParam) {
            r->left -= 4;
            r->right += 4;
            r->top -= kTabRowHeight + 4;
            r->bottom += 4;
        } else {
            r->left += 4;
            r->right -= 4;
            r->top += kTabRowHeight + 4;
            r->bottom -= 4;
        }
        return 0;
    }
    case WM_LBUTTONDOWN: {
        const POINT p{static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam))),
                      static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))};
        for (int i = 0; i < count; ++i) {
            RECT t = ItemRect(hwnd, d, i);
            if (PtInRect(&t, p)) {
                Choose(hwnd, d, i);
                return 0;
            }
        }
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_LEFT) Choose(hwnd, d, d->current - 1);
        if (wParam == VK_RIGHT) Choose(hwnd, d, d->current + 1);
        return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFONT:
        d->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(hwnd, d); return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterTabClass() { RegisterSystemClass(WC_TABCONTROLW, TabProc, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, 0, nullptr); }
}  // namespace zq::user::detail
