// The list view in report mode: columns, items with sub-item texts, item
// data and images, selection and focus states with LVN_ITEMCHANGING (a
// non-zero answer keeps the state) and LVN_ITEMCHANGED.
#include <algorithm>

#include "user/commctrl.h"
#include "user/dialog.h"
#include "user/draw.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr int kHeaderHeight = 20;
constexpr int kRowHeight = 16;

struct Row {
    std::vector<std::u16string> texts;  // one per column
    int image = -1;
    LPARAM param = 0;
    UINT state = 0;
};

struct Column {
    std::u16string text;
    int width = 60;
    int fmt = 0;
};

struct ListViewData : ControlData {
    std::vector<Column> columns;
    std::vector<Row> rows;
    HIMAGELIST small = nullptr;
    DWORD extended = 0;
    HFONT font = nullptr;
};

// The header (unless LVS_NOCOLUMNHEADER) as raised cells with the column
// titles, then one row per item: its small image, then each column's text;
// selected rows in the highlight colours.
void Paint(HWND hwnd, HDC dc, const ListViewData& d) {
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ oldFont = d.font ? SelectObject(dc, d.font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    const bool header = !(GetWindowLongW(hwnd, GWL_STYLE) & LVS_NOCOLUMNHEADER);
    auto columnText = [&](const std::u16string& text, RECT cell, int fmt) {
        cell.left += 4;
        cell.right -= 4;
        const UINT align = (fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT    ? DT_RIGHT
                           : (fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER ? DT_CENTER
                                                                         : DT_LEFT;
        DrawTextW(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &cell,
                  align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    };
    int x = 0;
    if (header) {
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        for (const Column& c : d.columns) {
            RECT cell{x, 0, x + c.width, kHeaderHeight};
            FillRect(dc, &cell, GetSysColorBrush(COLOR_BTNFACE));
            RECT edge = cell;
            DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
            columnText(c.text, cell, c.fmt);
            x += c.width;
        }
        RECT rest{x, 0, client.right, kHeaderHeight};
        if (rest.right > rest.left) FillRect(dc, &rest, GetSysColorBrush(COLOR_BTNFACE));
    }
    int top = header ? kHeaderHeight : 0;
    for (const Row& row : d.rows) {
        if (top >= client.bottom) break;
        const bool selected = row.state & LVIS_SELECTED;
        if (selected) {
            RECT band{0, top, client.right, top + kRowHeight};
            FillRect(dc, &band, GetSysColorBrush(COLOR_HIGHLIGHT));
        }
        SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        x = 0;
        for (size_t i = 0; i < d.columns.size() && i < row.texts.size(); ++i) {
            RECT cell{x, top, x + d.columns[i].width, top + kRowHeight};
            if (i == 0 && d.small && row.image >= 0) {
                int w = 0, h = 0;
                ImageList_GetIconSize(d.small, &w, &h);
                ImageList_Draw(d.small, row.image, dc, cell.left + 2, top + (kRowHeight - h) / 2, ILD_NORMAL);
                cell.left += w + 2;
            }
            columnText(row.texts[i], cell, d.columns[i].fmt);
            x += d.columns[i].width;
        }
        top += kRowHeight;
    }
    if (oldFont) SelectObject(dc, oldFont);
}

ListViewData* D(HWND hwnd) {
    if (auto* d = DataOf<ListViewData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<ListViewData>());
    return DataOf<ListViewData>(hwnd);
}

LRESULT Notify(HWND hwnd, UINT code, int item, UINT newState, UINT oldState, UINT changed, LPARAM param) {
    NMLISTVIEW nm{{hwnd, static_cast<UINT_PTR>(GetWindowLongPtrW(hwnd, GWLP_ID)), code}, item, 0, newState, oldState,
                  changed, {0, 0}, param};
    HWND parent = GetParent(hwnd);
    return parent ? SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm)) : 0;
}

bool SetState(HWND hwnd, ListViewData* d, int index, UINT state, UINT mask) {
    Row& row = d->rows[static_cast<size_t>(index)];
    const UINT old = row.state;
    const UINT now = (old & ~mask) | (state & mask);
    if (now == old) return true;
    if (Notify(hwnd, LVN_ITEMCHANGING, index, now, old, LVIF_STATE, row.param)) return false;
    if (!IsWindow(hwnd)) return false;
    d = D(hwnd);
    if (index >= static_cast<int>(d->rows.size())) return false;
    // One selection (and one focus) in a single-selection list.
    if ((now & LVIS_SELECTED) && (GetWindowLongW(hwnd, GWL_STYLE) & LVS_SINGLESEL))
        for (int i = 0; i < static_cast<int>(d->rows.size()); ++i)
            if (i != index && (d->rows[static_cast<size_t>(i)].state & LVIS_SELECTED)) SetState(hwnd, d, i, 0, LVIS_SELECTED);
    if (now & LVIS_FOCUSED)
        for (int i = 0; i < static_cast<int>(d->rows.size()); ++i)
            if (i != index) d->rows[static_cast<size_t>(i)].state &= ~LVIS_FOCUSED;
    d->rows[static_cast<size_t>(index)].state = now;
    InvalidateRect(hwnd, nullptr, TRUE);
    Notify(hwnd, LVN_ITEMCHANGED, index, now, old, LVIF_STATE, d->rows[static_cast<size_t>(index)].param);
    return true;
}

void CopyText(const std::u16string& text, LPWSTR out, int size) {
    if (!out || size <= 0) return;
    const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(size - 1));
    std::copy_n(text.data(), n, out);
    out[n] = 0;
}

LRESULT ListViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ListViewData* d = D(hwnd);
    const int count = static_cast<int>(d->rows.size());
    auto valid = [count](WPARAM i) { return static_cast<int>(i) >= 0 && static_cast<int>(i) < count; };
    switch (message) {
    case LVM_GETITEMCOUNT: return count;
    case LVM_INSERTCOLUMNW: {
        const auto* c = reinterpret_cast<const LVCOLUMNW*>(lParam);
        if (!c) return -1;
        Column col;
        if ((c->mask & LVCF_TEXT) && c->pszText) col.text = c->pszText;
        if (c->mask & LVCF_WIDTH) col.width = c->cx;
        if (c->mask & LVCF_FMT) col.fmt = c->fmt;
        const int at = std::clamp(static_cast<int>(wParam), 0, static_cast<int>(d->columns.size()));
        d->columns.insert(d->columns.begin() + at, std::move(col));
        for (auto& row : d->rows)
            if (static_cast<int>(row.texts.size()) > at) row.texts.insert(row.texts.begin() + at, u"");
        InvalidateRect(hwnd, nullptr, TRUE);
        return at;
    }
    case LVM_GETCOLUMNW:
    case LVM_SETCOLUMNW: {
        auto* c = reinterpret_cast<LVCOLUMNW*>(lParam);
        if (!c || static_cast<size_t>(wParam) >= d->columns.size()) return FALSE;
        Column& col = d->columns[wParam];
        if (message == LVM_SETCOLUMNW) {
            if ((c->mask & LVCF_TEXT) && c->pszText) col.text = c->pszText;
            if (c->mask & LVCF_WIDTH) col.width = c->cx;
            return TRUE;
        }
        if (c->mask & LVCF_TEXT) CopyText(col.text, c->pszText, c->cchTextMax);
        if (c->mask & LVCF_WIDTH) c->cx = col.width;
        if (c->mask & LVCF_FMT) c->fmt = col.fmt;
        return TRUE;
    }
    case LVM_DELETECOLUMN:
        if (static_cast<size_t>(wParam) >= d->columns.size()) return FALSE;
        d->columns.erase(d->columns.begin() + static_cast<std::ptrdiff_t>(wParam));
        for (auto& row : d->rows)
            if (row.texts.size() > wParam) row.texts.erase(row.texts.begin() + static_cast<std::ptrdiff_t>(wParam));
        return TRUE;
    case LVM_GETCOLUMNWIDTH: return static_cast<size_t>(wParam) < d->columns.size() ? d->columns[wParam].width : 0;
    case LVM_SETCOLUMNWIDTH:
        if (static_cast<size_t>(wParam) >= d->columns.size()) return FALSE;
        d->columns[wParam].width = static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
        return TRUE;
    case LVM_INSERTITEMW: {
        const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
        if (!item || item->iSubItem != 0) return -1;
        Row row;
        row.texts.assign(std::max<size_t>(d->columns.size(), 1), u"");
        if ((item->mask & LVIF_TEXT) && item->pszText) row.texts[0] = item->pszText;
        if (item->mask & LVIF_IMAGE) row.image = item->iImage;
        if (item->mask & LVIF_PARAM) row.param = item->lParam;
        if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
        const int at = std::clamp(item->iItem, 0, count);
        d->rows.insert(d->rows.begin() + at, std::move(row));
        InvalidateRect(hwnd, nullptr, TRUE);
        return at;
    }
    case LVM_SETITEMW:
    case LVM_GETITEMW: {
        auto* item = reinterpret_cast<LVITEMW*>(lParam);
        if (!item || !valid(static_cast<WPARAM>(item->iItem)) || item->iSubItem < 0) return FALSE;
        Row& row = d->rows[static_cast<size_t>(item->iItem)];
        const size_t sub = static_cast<size_t>(item->iSubItem);
        if (message == LVM_SETITEMW) {
            if ((item->mask & LVIF_TEXT) && item->pszText) {
                if (row.texts.size() <= sub) row.texts.resize(sub + 1);
                row.texts[sub] = item->pszText;
            }
            if (sub == 0 && (item->mask & LVIF_IMAGE)) row.image = item->iImage;
            if (sub == 0 && (item->mask & LVIF_PARAM)) row.param = item->lParam;
            if (sub == 0 && (item->mask & LVIF_STATE)) SetState(hwnd, d, item->iItem, item->state, item->stateMask);
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        if (item->mask & LVIF_TEXT) CopyText(sub < row.texts.size() ? row.texts[sub] : u"", item->pszText, item->cchTextMax);
        if (item->mask & LVIF_IMAGE) item->iImage = row.image;
        if (item->mask & LVIF_PARAM) item->lParam = row.param;
        if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
        return TRUE;
    }
    case LVM_SETITEMTEXTW:
    case LVM_GETITEMTEXTW: {
        auto* item = reinterpret_cast<LVITEMW*>(lParam);
        if (!item || !valid(wParam) || item->iSubItem < 0) return 0;
        Row& row = d->rows[wParam];
        const size_t sub = static_cast<size_t>(item->iSubItem);
        if (message == LVM_SETITEMTEXTW) {
            if (row.texts.size() <= sub) row.texts.resize(sub + 1);
            row.texts[sub] = item->pszText ? item->pszText : u"";
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        const std::u16string text = sub < row.texts.size() ? row.texts[sub] : u"";
        CopyText(text, item->pszText, item->cchTextMax);
        return static_cast<LRESULT>(std::min<size_t>(text.size(), item->cchTextMax > 0 ? item->cchTextMax - 1 : 0));
    }
    case LVM_SETITEMSTATE: {
        const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
        if (!item) return FALSE;
        if (static_cast<int>(wParam) == -1) {
            for (int i = 0; i < count; ++i) SetState(hwnd, d, i, item->state, item->stateMask);
            return TRUE;
        }
        if (!valid(wParam)) return FALSE;
        return SetState(hwnd, d, static_cast<int>(wParam), item->state, item->stateMask);
    }
    case LVM_GETITEMSTATE: return valid(wParam) ? static_cast<LRESULT>(d->rows[wParam].state & static_cast<UINT>(lParam)) : 0;
    case LVM_GETSELECTEDCOUNT:
        return std::count_if(d->rows.begin(), d->rows.end(), [](const Row& r) { return r.state & LVIS_SELECTED; });
    case LVM_GETNEXTITEM: {
        const UINT flags = LOWORD(static_cast<DWORD>(lParam));
        for (int i = static_cast<int>(wParam) + 1; i < count; ++i) {
            const UINT s = d->rows[static_cast<size_t>(i)].state;
            if ((flags & LVNI_SELECTED) && !(s & LVIS_SELECTED)) continue;
            if ((flags & LVNI_FOCUSED) && !(s & LVIS_FOCUSED)) continue;
            return i;
        }
        return -1;
    }
    case LVM_DELETEITEM:
        if (!valid(wParam)) return FALSE;
        Notify(hwnd, LVN_DELETEITEM, static_cast<int>(wParam), 0, 0, 0, d->rows[wParam].param);
        if (!IsWindow(hwnd)) return FALSE;
        d = D(hwnd);
        d->rows.erase(d->rows.begin() + static_cast<std::ptrdiff_t>(wParam));
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case LVM_DELETEALLITEMS:
        while (!D(hwnd)->rows.empty()) SendMessageW(hwnd, LVM_DELETEITEM, D(hwnd)->rows.size() - 1, 0);
        return TRUE;
    case LVM_GETITEMRECT: {
        if (!valid(wParam) || !lParam) return FALSE;
        RECT client;
        GetClientRect(hwnd, &client);
        const int top = ((GetWindowLongW(hwnd, GWL_STYLE) & LVS_NOCOLUMNHEADER) ? 0 : kHeaderHeight) +
                        static_cast<int>(wParam) * kRowHeight;
        *reinterpret_cast<RECT*>(lParam) = RECT{0, top, client.right, top + kRowHeight};
        return TRUE;
    }
    case LVM_ENSUREVISIBLE: return valid(wParam);
    case LVM_SETIMAGELIST: {
        HIMAGELIST old = d->small;
        d->small = reinterpret_cast<HIMAGELIST>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case LVM_GETIMAGELIST: return reinterpret_cast<LRESULT>(d->small);
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        const DWORD old = d->extended;
        const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFF;
        d->extended = (d->extended & ~mask) | (static_cast<DWORD>(lParam) & mask);
        return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return d->extended;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: {
        if (GetFocus() != hwnd) SetFocus(hwnd);
        const int y = static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)));
        const int header = (GetWindowLongW(hwnd, GWL_STYLE) & LVS_NOCOLUMNHEADER) ? 0 : kHeaderHeight;
        const int index = y < header ? -1 : (y - header) / kRowHeight;
        if (index >= 0 && index < count) {
            if (!(GetWindowLongW(hwnd, GWL_STYLE) & LVS_SINGLESEL))
                for (int i = 0; i < count; ++i)
                    if (i != index) SetState(hwnd, D(hwnd), i, 0, LVIS_SELECTED);
            if (IsWindow(hwnd)) SetState(hwnd, D(hwnd), index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        }
        if (IsWindow(hwnd)) NotifyParentCode(hwnd, message == WM_LBUTTONDOWN ? NM_CLICK : NM_RCLICK);
        return 0;
    }
    case WM_LBUTTONDBLCLK: NotifyParentCode(hwnd, NM_DBLCLK); return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFONT:
        d->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (HDC dc = BeginPaint(hwnd, &ps)) Paint(hwnd, dc, *D(hwnd));
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterListViewClass() {
    RegisterSystemClass(WC_LISTVIEWW, ListViewProc, CS_DBLCLKS, 0,
                        reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)));
}
}  // namespace zq::user::detail
