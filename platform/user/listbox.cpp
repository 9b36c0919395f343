// The list box: single, multiple and extended selection, owner-drawn items
// of fixed and variable height, item data, and the finds that search
// case-insensitively from the item after the start, wrapping round. The
// combo box's drop-down list is the same control under the class
// "ComboLBox", reporting to its combo box.
#include <algorithm>

#include "base/text.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/list_internal.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr int kDefaultItemHeight = 16;

struct Item {
    std::u16string text;
    ULONG_PTR data = 0;
    bool selected = false;
    UINT height = kDefaultItemHeight;
};

struct ListData : ControlData {
    std::vector<Item> items;
    int current = -1;  // the selection (single) or the caret (multiple)
    int anchor = -1;
    int top = 0;
    UINT itemHeight = kDefaultItemHeight;
    HFONT font = nullptr;
    HWND combo = nullptr;  // the combo box a drop-down list belongs to
};

ListData* D(HWND hwnd) {
    if (auto* d = DataOf<ListData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<ListData>());
    return DataOf<ListData>(hwnd);
}

LONG Style(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE); }
bool OwnerDraw(HWND hwnd) { return (Style(hwnd) & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) != 0; }
bool HasStrings(HWND hwnd) { return !OwnerDraw(hwnd) || (Style(hwnd) & LBS_HASSTRINGS); }
bool Multi(HWND hwnd) { return (Style(hwnd) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0; }

// Owner-draw messages go to the list's owner: the combo box's parent for a
// drop-down list, which names the combo box.
HWND OwnerOf(HWND hwnd, ListData* d, UINT& type, UINT& id, HWND& item) {
    if (d->combo) {
        type = ODT_COMBOBOX;
        id = static_cast<UINT>(GetWindowLongPtrW(d->combo, GWLP_ID));
        item = d->combo;
        return GetParent(d->combo);
    }
    type = ODT_LISTBOX;
    id = static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID));
    item = hwnd;
    return GetParent(hwnd);
}

void Notify(HWND hwnd, ListData* d, WORD code) {
    if (d->combo) {
        SendMessageW(d->combo, kListNotifyCombo, code, reinterpret_cast<LPARAM>(hwnd));
        return;
    }
    if (Style(hwnd) & LBS_NOTIFY) NotifyParent(hwnd, code);
}

void Measure(HWND hwnd, ListData* d, int index) {
    if (!OwnerDraw(hwnd)) return;
    UINT type, id;
    HWND item;
    HWND owner = OwnerOf(hwnd, d, type, id, item);
    MEASUREITEMSTRUCT mis{type, id, static_cast<UINT>(std::max(index, 0)), 0, d->itemHeight,
                          index >= 0 ? d->items[static_cast<size_t>(index)].data : 0};
    if (owner) SendMessageW(owner, WM_MEASUREITEM, id, reinterpret_cast<LPARAM>(&mis));
    if (index >= 0 && (Style(hwnd) & LBS_OWNERDRAWVARIABLE))
        d->items[static_cast<size_t>(index)].height = mis.itemHeight;
    else
        d->itemHeight = mis.itemHeight;
}

LRESULT Insert(HWND hwnd, ListData* d, int index, LPARAM lParam, bool sorted) {
    Item item;
    if (HasStrings(hwnd)) {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        item.text = text ? std::u16string(text) : std::u16string();
    } else {
        item.data = static_cast<ULONG_PTR>(lParam);
    }
    item.height = d->itemHeight;
    const int count = static_cast<int>(d->items.size());
    if (sorted && HasStrings(hwnd)) {
        index = 0;
        while (index < count && zq::CompareIgnoreCase(d->items[static_cast<size_t>(index)].text, item.text) <= 0)
            ++index;
    } else if (index < 0) {
        index = count;
    } else if (index > count) {
        return LB_ERR;
    }
    d->items.insert(d->items.begin() + index, std::move(item));
    if (d->current >= index) ++d->current;
    if (d->anchor >= index) ++d->anchor;
    if (Style(hwnd) & LBS_OWNERDRAWVARIABLE) Measure(hwnd, d, index);
    InvalidateRect(hwnd, nullptr, TRUE);
    return index;
}

void DeleteItem(HWND hwnd, ListData* d, int index) {
    if (OwnerDraw(hwnd) || d->items[static_cast<size_t>(index)].data) {
        UINT type, id;
        HWND item;
        HWND owner = OwnerOf(hwnd, d, type, id, item);
        DELETEITEMSTRUCT dis{type, id, static_cast<UINT>(index), item, d->items[static_cast<size_t>(index)].data};
        if (owner && OwnerDraw(hwnd)) SendMessageW(owner, WM_DELETEITEM, id, reinterpret_cast<LPARAM>(&dis));
    }
    d->items.erase(d->items.begin() + index);
    if (d->current == index) d->current = Multi(hwnd) ? std::min(index, static_cast<int>(d->items.size()) - 1) : -1;
    else if (d->current > index) --d->current;
    if (d->anchor >= index) d->anchor = std::max(d->anchor - 1, -1);
}

// A find: from the item after `start` (the first for -1) round to `start`.
LRESULT Find(HWND hwnd, ListData* d, WPARAM start, LPARAM lParam, bool exact) {
    const int count = static_cast<int>(d->items.size());
    if (count == 0) return LB_ERR;
    int from = static_cast<int>(start);
    if (from < -1 || from >= count) from = -1;
    const bool strings = HasStrings(hwnd);
    const std::u16string wanted = strings && lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : u"";
    for (int k = 1; k <= count; ++k) {
        const int i = (from + k) % count;
        const Item& item = d->items[static_cast<size_t>(i)];
        if (!strings) {
            if (item.data == static_cast<ULONG_PTR>(lParam)) return i;
            continue;
        }
        if (exact ? zq::EqualsIgnoreCase(item.text, wanted) : zq::StartsWithIgnoreCase(item.text, wanted)) return i;
    }
    return LB_ERR;
}

void SelectOnly(ListData* d, int index) {
    for (size_t i = 0; i < d->items.size(); ++i) d->items[i].selected = static_cast<int>(i) == index;
}

LRESULT SetCurSel(HWND hwnd, ListData* d, int index) {
    if (Multi(hwnd)) return LB_ERR;
    if (index < -1 || index >= static_cast<int>(d->items.size())) return LB_ERR;
    d->current = index;
    SelectOnly(d, index);
    InvalidateRect(hwnd, nullptr, TRUE);
    return index == -1 ? LB_ERR : index;
}

int ItemAt(HWND hwnd, ListData* d, int y) {
    int top = 0;
    for (size_t i = static_cast<size_t>(std::max(d->top, 0)); i < d->items.size(); ++i) {
        const int h = static_cast<int>((Style(hwnd) & LBS_OWNERDRAWVARIABLE) ? d->items[i].height : d->itemHeight);
        if (y >= top && y < top + h) return static_cast<int>(i);
        top += h;
    }
    return -1;
}

// What a click or a key does to the selection; notifies LBN_SELCHANGE.
void UserSelect(HWND hwnd, ListData* d, int index) {
    if (index < 0 || index >= static_cast<int>(d->items.size())) return;
    const LONG style = Style(hwnd);
    if (style & LBS_NOSEL) return;
    if (style & LBS_MULTIPLESEL) {
        d->items[static_cast<size_t>(index)].selected = !d->items[static_cast<size_t>(index)].selected;
        d->current = index;
    } else if (style & LBS_EXTENDEDSEL) {
        const bool shift = GetKeyState(VK_SHIFT) < 0;
        const bool ctrl = GetKeyState(VK_CONTROL) < 0;
        if (shift && d->anchor >= 0) {
            const int lo = std::min(d->anchor, index), hi = std::max(d->anchor, index);
            for (int i = 0; i < static_cast<int>(d->items.size()); ++i)
                d->items[static_cast<size_t>(i)].selected = (i >= lo && i <= hi) || (ctrl && d->items[static_cast<size_t>(i)].selected);
        } else if (ctrl) {
            d->items[static_cast<size_t>(index)].selected = !d->items[static_cast<size_t>(index)].selected;
            d->anchor = index;
        } else {
            SelectOnly(d, index);
            d->anchor = index;
        }
        d->current = index;
    } else {
        if (d->current == index) {
            if (d->combo) Notify(hwnd, d, LBN_SELCHANGE);
            return;
        }
        d->current = index;
        SelectOnly(d, index);
    }
    InvalidateRect(hwnd, nullptr, TRUE);
    Notify(hwnd, d, LBN_SELCHANGE);
}

void Paint(HWND hwnd, ListData* d) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc) {
        EndPaint(hwnd, &ps);
        return;
    }
    if (OwnerDraw(hwnd)) {
        UINT type, id;
        HWND itemWnd;
        HWND owner = OwnerOf(hwnd, d, type, id, itemWnd);
        RECT client;
        GetClientRect(hwnd, &client);
        int y = 0;
        for (size_t i = static_cast<size_t>(std::max(d->top, 0)); i < d->items.size() && y < client.bottom; ++i) {
            const int h =
                static_cast<int>((Style(hwnd) & LBS_OWNERDRAWVARIABLE) ? d->items[i].height : d->itemHeight);
            DRAWITEMSTRUCT dis{};
            dis.CtlType = type;
            dis.CtlID = id;
            dis.itemID = static_cast<UINT>(i);
            dis.itemAction = ODA_DRAWENTIRE;
            dis.itemState = (d->items[i].selected ? ODS_SELECTED : 0) |
                            (GetFocus() == hwnd && d->current == static_cast<int>(i) ? ODS_FOCUS : 0) |
                            (IsWindowEnabled(hwnd) ? 0 : ODS_DISABLED);
            dis.hwndItem = hwnd;
            dis.hDC = dc;
            dis.rcItem = RECT{0, y, client.right, y + h};
            dis.itemData = d->items[i].data;
            if (owner) SendMessageW(owner, WM_DRAWITEM, id, reinterpret_cast<LPARAM>(&dis));
            y += h;
        }
    } else {
        std::vector<std::u16string> rows;
        int selected = -1;
        for (size_t i = 0; i < d->items.size(); ++i) {
            rows.push_back(d->items[i].text);
            if (d->items[i].selected) selected = static_cast<int>(i);
        }
        PaintTextBox(hwnd, dc, d->font, rows.data(), rows.size(), static_cast<int>(d->itemHeight), d->top, selected);
    }
    EndPaint(hwnd, &ps);
}

LRESULT ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ListData* d = D(hwnd);
    const int count = static_cast<int>(d->items.size());
    auto valid = [count](WPARAM i) { return static_cast<int>(i) >= 0 && static_cast<int>(i) < count; };
    switch (message) {
    case WM_CREATE:
        if (Style(hwnd) & LBS_OWNERDRAWFIXED) Measure(hwnd, d, -1);
        return 0;
    case kListSetCombo: d->combo = reinterpret_cast<HWND>(wParam); return 0;
    case LB_ADDSTRING: return Insert(hwnd, d, -1, lParam, (Style(hwnd) & LBS_SORT) != 0);
    case LB_INSERTSTRING: return Insert(hwnd, d, static_cast<int>(wParam), lParam, false);
    case LB_DELETESTRING:
        if (!valid(wParam)) return LB_ERR;
        DeleteItem(hwnd, d, static_cast<int>(wParam));
        InvalidateRect(hwnd, nullptr, TRUE);
        return static_cast<LRESULT>(d->items.size());
    case LB_RESETCONTENT:
        while (!d->items.empty()) DeleteItem(hwnd, d, static_cast<int>(d->items.size()) - 1);
        d->current = d->anchor = -1;
        d->top = 0;
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case LB_GETCOUNT: return count;
    case LB_GETTEXT: {
        if (!valid(wParam)) return LB_ERR;
        const Item& item = d->items[wParam];
        if (!HasStrings(hwnd)) {
            if (lParam) *reinterpret_cast<ULONG_PTR*>(lParam) = item.data;
            return sizeof(ULONG_PTR);
        }
        if (lParam) {
            auto* out = reinterpret_cast<LPWSTR>(lParam);
            std::copy(item.text.begin(), item.text.end(), out);
            out[item.text.size()] = 0;
        }
        return static_cast<LRESULT>(item.text.size());
    }
    case LB_GETTEXTLEN:
        if (!valid(wParam)) return LB_ERR;
        return HasStrings(hwnd) ? static_cast<LRESULT>(d->items[wParam].text.size()) : sizeof(ULONG_PTR);
    case LB_SETCURSEL: return SetCurSel(hwnd, d, static_cast<int>(wParam));
    case LB_GETCURSEL: return d->current;
    case LB_SETSEL: {
        if (!Multi(hwnd)) return LB_ERR;
        const int index = static_cast<int>(lParam);
        if (index == -1) {
            for (auto& item : d->items) item.selected = wParam != 0;
        } else {
            if (index < 0 || index >= count) return LB_ERR;
            d->items[static_cast<size_t>(index)].selected = wParam != 0;
            d->current = index;
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case LB_GETSEL:
        if (!valid(wParam)) return LB_ERR;
        return d->items[wParam].selected ? 1 : 0;
    case LB_GETSELCOUNT:
        if (!Multi(hwnd)) return LB_ERR;
        return std::count_if(d->items.begin(), d->items.end(), [](const Item& i) { return i.selected; });
    case LB_GETSELITEMS: {
        if (!Multi(hwnd)) return LB_ERR;
        auto* out = reinterpret_cast<int*>(lParam);
        int n = 0;
        for (int i = 0; i < count && n < static_cast<int>(wParam); ++i)
            if (d->items[static_cast<size_t>(i)].selected) {
                if (out) out[n] = i;
                ++n;
            }
        return n;
    }
    case LB_SELITEMRANGE:
    case LB_SELITEMRANGEEX: {
        if (!Multi(hwnd)) return LB_ERR;
        int first, last;
        bool select;
        if (message == LB_SELITEMRANGE) {
            first = LOWORD(static_cast<DWORD>(lParam));
            last = HIWORD(static_cast<DWORD>(lParam));
            select = wParam != 0;
        } else {
            first = static_cast<int>(wParam);
            last = static_cast<int>(lParam);
            select = first <= last;
            if (!select) std::swap(first, last);
        }
        for (int i = std::max(first, 0); i <= std::min(last, count - 1); ++i)
            d->items[static_cast<size_t>(i)].selected = select;
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case LB_SETITEMDATA:
        if (!valid(wParam)) return LB_ERR;
        d->items[wParam].data = static_cast<ULONG_PTR>(lParam);
        return TRUE;
    case LB_GETITEMDATA:
        if (!valid(wParam)) return LB_ERR;
        return static_cast<LRESULT>(d->items[wParam].data);
    case LB_FINDSTRING: return Find(hwnd, d, wParam, lParam, false);
    case LB_FINDSTRINGEXACT: return Find(hwnd, d, wParam, lParam, true);
    case LB_SELECTSTRING: {
        const LRESULT i = Find(hwnd, d, wParam, lParam, false);
        if (i == LB_ERR) return LB_ERR;
        if (Multi(hwnd)) {
            d->current = static_cast<int>(i);
            return i;
        }
        return SetCurSel(hwnd, d, static_cast<int>(i));
    }
    case LB_SETTOPINDEX:
        if (!valid(wParam)) return LB_ERR;
        d->top = static_cast<int>(wParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case LB_GETTOPINDEX: return d->top;
    case LB_SETCARETINDEX:
        if (!valid(wParam)) return LB_ERR;
        d->current = static_cast<int>(wParam);
        return 0;
    case LB_GETCARETINDEX: return d->current;
    case LB_SETANCHORINDEX:
        if (!valid(wParam)) return LB_ERR;
        d->anchor = static_cast<int>(wParam);
        return 0;
    case LB_GETANCHORINDEX: return d->anchor;
    case LB_SETITEMHEIGHT:
        if (LOWORD(static_cast<DWORD>(lParam)) == 0 || LOWORD(static_cast<DWORD>(lParam)) > 255) return LB_ERR;
        if ((Style(hwnd) & LBS_OWNERDRAWVARIABLE) && valid(wParam))
            d->items[wParam].height = LOWORD(static_cast<DWORD>(lParam));
        else
            d->itemHeight = LOWORD(static_cast<DWORD>(lParam));
        return 0;
    case LB_GETITEMHEIGHT:
        if ((Style(hwnd) & LBS_OWNERDRAWVARIABLE) && count) {
            if (!valid(wParam)) return LB_ERR;
            return d->items[wParam].height;
        }
        return d->itemHeight;
    case LB_GETITEMRECT: {
        if (!valid(wParam) || !lParam) return LB_ERR;
        RECT client;
        GetClientRect(hwnd, &client);
        int y = 0;
        for (int i = d->top; i < static_cast<int>(wParam); ++i)
            y += static_cast<int>((Style(hwnd) & LBS_OWNERDRAWVARIABLE) ? d->items[static_cast<size_t>(i)].height
                                                                        : d->itemHeight);
        const int h = static_cast<int>((Style(hwnd) & LBS_OWNERDRAWVARIABLE) ? d->items[wParam].height : d->itemHeight);
        *reinterpret_cast<RECT*>(lParam) = RECT{0, y, client.right, y + h};
        return 1;
    }
    case LB_ITEMFROMPOINT: {
        const int i = ItemAt(hwnd, d, static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam))));
        return i < 0 ? MAKELONG(static_cast<WORD>(count), 1) : i;
    }
    case WM_LBUTTONDOWN: {
        if (!d->combo && GetFocus() != hwnd) SetFocus(hwnd);
        UserSelect(hwnd, d, ItemAt(hwnd, d, static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))));
        return 0;
    }
    case WM_LBUTTONUP:
        if (d->combo) SendMessageW(d->combo, kListNotifyCombo, kListPicked, reinterpret_cast<LPARAM>(hwnd));
        return 0;
    case WM_LBUTTONDBLCLK:
        if (ItemAt(hwnd, d, static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))) >= 0) Notify(hwnd, d, LBN_DBLCLK);
        return 0;
    case WM_KEYDOWN: {
        int next = d->current;
        switch (wParam) {
        case VK_UP: next = std::max(d->current - 1, 0); break;
        case VK_DOWN: next = std::min(d->current + 1, count - 1); break;
        case VK_HOME: next = 0; break;
        case VK_END: next = count - 1; break;
        case VK_SPACE:
            if (Style(hwnd) & LBS_MULTIPLESEL) UserSelect(hwnd, d, d->current);
            return 0;
        default: return 0;
        }
        if (count == 0) return 0;
        if (Style(hwnd) & LBS_MULTIPLESEL) {
            d->current = next;
            InvalidateRect(hwnd, nullptr, TRUE);
        } else {
            UserSelect(hwnd, d, next);
        }
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFOCUS: Notify(hwnd, d, LBN_SETFOCUS); InvalidateRect(hwnd, nullptr, TRUE); return 0;
    case WM_KILLFOCUS: Notify(hwnd, d, LBN_KILLFOCUS); InvalidateRect(hwnd, nullptr, TRUE); return 0;
    case WM_SETFONT:
        d->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_DESTROY:
        SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
        return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(hwnd, d); return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterListClasses() {
    RegisterSystemClass(WC_LISTBOX, ListProc, CS_DBLCLKS, 0, nullptr);
    RegisterSystemClass(WC_COMBOLBOX, ListProc, CS_DBLCLKS | CS_SAVEBITS, 0, nullptr);
}
}  // namespace zq::user::detail
