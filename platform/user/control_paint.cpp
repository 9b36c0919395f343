// The classic look of the standard controls: button faces with light and
// dark edges, sunken white boxes for edits and lists, check marks and radio
// dots, text in the control's font.
#include "user/control_paint.h"

#include <algorithm>

#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/controls.h"
#include "user/draw.h"
#include "user/images.h"
#include "user/menu.h"
#include "user/window_internal.h"

namespace zq::user::detail {

namespace {

void Fill(HDC dc, const RECT& r, int color) { FillRect(dc, &r, GetSysColorBrush(color)); }

// Two-pixel edges: raised (button) or sunken (edit, list).
void Edge(HDC dc, RECT r, bool raised) { DrawEdge(dc, &r, raised ? EDGE_RAISED : EDGE_SUNKEN, BF_RECT); }

// One line of text centred on the rectangle's height, left (0), centred (1)
// or right (2), "&" marking the letter to underline unless `prefix` is off.
void Text(HDC dc, HFONT font, const std::u16string& raw, RECT r, UINT align, COLORREF color, bool prefix = true) {
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    const UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | (align == 1 ? DT_CENTER : align == 2 ? DT_RIGHT : DT_LEFT) |
                        (prefix ? 0 : DT_NOPREFIX);
    DrawTextW(dc, reinterpret_cast<LPCWSTR>(raw.c_str()), static_cast<int>(raw.size()), &r, format);
    if (font) SelectObject(dc, old);
}

std::u16string TextOf(HWND hwnd) { return zq::user::WindowText(hwnd); }

}  // namespace

void PaintButton(HWND hwnd, HDC dc, DWORD type, WPARAM check, bool pushed, bool focus, HFONT font) {
    RECT r;
    GetClientRect(hwnd, &r);
    const bool enabled = IsWindowEnabled(hwnd);
    const COLORREF textColor = GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
    const std::u16string text = TextOf(hwnd);
    // A group box is a frame only: the controls inside show through.
    if (type != BS_GROUPBOX) Fill(dc, r, COLOR_BTNFACE);
    switch (type) {
    case BS_GROUPBOX: {
        RECT frame = r;
        frame.top += 6;
        SolidLine(dc, frame.left, frame.top, frame.right - 1, frame.top, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, frame.left, frame.top, frame.left, frame.bottom - 1, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, frame.right - 2, frame.top, frame.right - 2, frame.bottom - 1, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, frame.left, frame.bottom - 2, frame.right - 1, frame.bottom - 2, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, frame.left + 1, frame.top + 1, frame.right - 2, frame.top + 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        SolidLine(dc, frame.left + 1, frame.top + 1, frame.left + 1, frame.bottom - 2, GetSysColor(COLOR_BTNHIGHLIGHT));
        SolidLine(dc, frame.right - 1, frame.top, frame.right - 1, frame.bottom, GetSysColor(COLOR_BTNHIGHLIGHT));
        SolidLine(dc, frame.left, frame.bottom - 1, frame.right, frame.bottom - 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        if (!text.empty()) {
            HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            if (font) SelectObject(dc, old);
            RECT label{r.left + 8, r.top, r.left + 12 + size.cx, r.top + 13};
            Fill(dc, label, COLOR_BTNFACE);
            label.left += 2;
            Text(dc, font, text, label, 0, textColor);
        }
        return;
    }
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
        const int box = 13;
        const int top = r.top + (r.bottom - r.top - box) / 2;
        RECT b{r.left, top, r.left + box, top + box};
        const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
        Fill(dc, b, (check == BST_INDETERMINATE || pushed || !enabled) ? COLOR_BTNFACE : COLOR_WINDOW);
        Edge(dc, b, false);
        if (check) {
            const COLORREF mark = GetSysColor(enabled && check == BST_CHECKED ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT);
            if (radio) {
                RECT dot{b.left + 4, b.top + 4, b.left + 9, b.top + 9};
                HBRUSH brush = CreateSolidBrush(mark);
                FillRect(dc, &dot, brush);
                DeleteObject(brush);
            } else {
                for (int i = 0; i < 3; ++i) {
                    SolidLine(dc, b.left + 3, b.top + 5 + i, b.left + 5, b.top + 7 + i, mark);
                    SolidLine(dc, b.left + 5, b.top + 7 + i, b.left + 10, b.top + 2 + i, mark);
                }
            }
        }
        RECT label{b.right + 4, r.top, r.right, r.bottom};
        Text(dc, font, text, label, 0, textColor);
        if (focus) {
            HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            if (font) SelectObject(dc, old);
            const int y0 = r.top + (r.bottom - r.top - size.cy) / 2 - 1;
            for (int x = label.left - 1; x < label.left + size.cx + 1; x += 2) {
                SetPixelV(dc, x, y0, 0);
                SetPixelV(dc, x, y0 + size.cy + 1, 0);
            }
        }
        return;
    }
    default: {
        const bool isDefault = type == BS_DEFPUSHBUTTON;
        RECT face = r;
        if (isDefault || pushed) {
            SolidLine(dc, r.left, r.top, r.right - 1, r.top, 0);
            SolidLine(dc, r.right - 1, r.top, r.right - 1, r.bottom - 1, 0);
            SolidLine(dc, r.right - 1, r.bottom - 1, r.left, r.bottom - 1, 0);
            SolidLine(dc, r.left, r.bottom - 1, r.left, r.top, 0);
            InflateRect(&face, -1, -1);
        }
        if (pushed) {
            SolidLine(dc, face.left, face.top, face.right - 1, face.top, GetSysColor(COLOR_BTNSHADOW));
            SolidLine(dc, face.right - 1, face.top, face.right - 1, face.bottom - 1, GetSysColor(COLOR_BTNSHADOW));
            SolidLine(dc, face.right - 1, face.bottom - 1, face.left, face.bottom - 1, GetSysColor(COLOR_BTNSHADOW));
            SolidLine(dc, face.left, face.bottom - 1, face.left, face.top, GetSysColor(COLOR_BTNSHADOW));
        } else {
            Edge(dc, face, true);
        }
        RECT label = face;
        if (pushed) OffsetRect(&label, 1, 1);
        Text(dc, font, text, label, 1, textColor);
        if (focus) {
            RECT f = face;
            InflateRect(&f, -4, -4);
            for (int x = f.left; x < f.right; x += 2) {
                SetPixelV(dc, x, f.top, 0);
                SetPixelV(dc, x, f.bottom - 1, 0);
            }
            for (int y = f.top; y < f.bottom; y += 2) {
                SetPixelV(dc, f.left, y, 0);
                SetPixelV(dc, f.right - 1, y, 0);
            }
        }
        return;
    }
    }
}

void PaintStatic(HWND hwnd, HDC dc, HFONT font, HICON iconImage) {
    RECT r;
    GetClientRect(hwnd, &r);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const DWORD type = style & SS_TYPEMASK;
    HWND parent = GetParent(hwnd);
    HBRUSH brush = parent ? reinterpret_cast<HBRUSH>(SendMessageW(parent, WM_CTLCOLORSTATIC,
                                                                  reinterpret_cast<WPARAM>(dc),
                                                                  reinterpret_cast<LPARAM>(hwnd)))
                          : nullptr;
    FillRect(dc, &r, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    switch (type) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP: {
        RECT line = r;
        line.bottom = std::min<LONG>(r.bottom, r.top + 13);
        Text(dc, font, TextOf(hwnd), line, type == SS_CENTER ? 1 : type == SS_RIGHT ? 2 : 0,
             GetSysColor(IsWindowEnabled(hwnd) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT), !(style & SS_NOPREFIX));
        return;
    }
    case SS_ETCHEDHORZ:
        SolidLine(dc, r.left, r.top, r.right, r.top, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, r.left, r.top + 1, r.right, r.top + 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        return;
    case SS_ETCHEDVERT:
        SolidLine(dc, r.left, r.top, r.left, r.bottom, GetSysColor(COLOR_BTNSHADOW));
        SolidLine(dc, r.left + 1, r.top, r.left + 1, r.bottom, GetSysColor(COLOR_BTNHIGHLIGHT));
        return;
    case SS_ETCHEDFRAME: Edge(dc, r, false); return;
    case SS_BLACKRECT: FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME)); return;
    case SS_GRAYRECT: FillRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW)); return;
    case SS_WHITERECT: FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW)); return;
    case SS_ICON: {
        if (iconImage && DrawIconEx(dc, r.left, r.top, iconImage, 0, 0, 0, nullptr, DI_NORMAL)) return;
        // Without an icon image: a framed square where the icon sits.
        RECT icon{r.left, r.top, r.left + 32, r.top + 32};
        Edge(dc, icon, true);
        return;
    }
    default: return;
    }
}

void PaintEdit(HWND hwnd, HDC dc, HFONT font, const std::u16string& text, bool password) {
    RECT r;
    GetClientRect(hwnd, &r);
    const bool enabled = IsWindowEnabled(hwnd);
    const bool readOnly = GetWindowLongW(hwnd, GWL_STYLE) & ES_READONLY;
    Fill(dc, r, enabled && !readOnly ? COLOR_WINDOW : COLOR_BTNFACE);
    RECT line{r.left + 3, r.top + 1, r.right - 3, r.bottom - 1};
    const std::u16string shown = password ? std::u16string(text.size(), u'*') : text;
    Text(dc, font, shown, line, 0, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT), false);
}

void PaintTextBox(HWND hwnd, HDC dc, HFONT font, const std::u16string* rows, size_t count, int rowHeight, int top,
                  int selected, int rightMargin) {
    RECT r;
    GetClientRect(hwnd, &r);
    r.right -= rightMargin;
    const bool enabled = IsWindowEnabled(hwnd);
    Fill(dc, r, enabled ? COLOR_WINDOW : COLOR_BTNFACE);
    int y = r.top + 1;
    for (size_t i = static_cast<size_t>(std::max(top, 0)); i < count && y < r.bottom; ++i) {
        RECT row{r.left + 1, y, r.right - 1, y + rowHeight};
        const bool sel = static_cast<int>(i) == selected;
        if (sel) Fill(dc, row, COLOR_HIGHLIGHT);
        RECT textRow = row;
        textRow.left += 2;
        Text(dc, font, rows[i], textRow, 0,
             GetSysColor(!enabled ? COLOR_GRAYTEXT : sel ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT), false);
        y += rowHeight;
    }
}

void PaintNonClient(HWND hwnd, HDC dc, bool active) {
    RECT window;
    GetWindowRect(hwnd, &window);
    RECT r{0, 0, window.right - window.left, window.bottom - window.top};
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    const bool child = style & WS_CHILD;
    const RECT frame = FrameEdges(style, exStyle & ~(WS_EX_CLIENTEDGE | WS_EX_STATICEDGE), false);
    RECT inner = r;
    if (frame.left >= 3) {
        Fill(dc, r, COLOR_BTNFACE);
        Edge(dc, r, true);
    } else if (frame.left == 1) {
        HBRUSH black = GetSysColorBrush(COLOR_WINDOWFRAME);
        RECT edges[] = {{0, 0, r.right, 1}, {0, r.bottom - 1, r.right, r.bottom}, {0, 0, 1, r.bottom},
                        {r.right - 1, 0, r.right, r.bottom}};
        for (const RECT& e : edges) FillRect(dc, &e, black);
    }
    inner.left += frame.left;
    inner.top += frame.left;
    inner.right -= frame.left;
    inner.bottom -= frame.left;
    if ((style & WS_CAPTION) == WS_CAPTION) {
        const int height = GetSystemMetrics(SM_CYCAPTION);
        RECT caption{inner.left, inner.top, inner.right, inner.top + height - 1};
        Fill(dc, caption, active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
        static HFONT bold = [] {
            LOGFONTW lf{};
            lf.lfHeight = -11;
            lf.lfWeight = FW_BOLD;
            const char16_t face[] = u"MS Shell Dlg";
            std::copy(std::begin(face), std::end(face), lf.lfFaceName);
            return CreateFontIndirectW(&lf);
        }();
        RECT text{caption.left + 3, caption.top, caption.right - 20, caption.bottom};
        Text(dc, bold, zq::user::WindowText(hwnd), text, 0, GetSysColor(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT),
             false);
        if (style & WS_SYSMENU) {
            RECT box{caption.right - 18, caption.top + 2, caption.right - 2, caption.bottom - 2};
            Fill(dc, box, COLOR_BTNFACE);
            Edge(dc, box, true);
            const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
            for (int d = 0; d < 2; ++d) {
                SolidLine(dc, cx - 4 + d, cy - 3, cx + 3 + d, cy + 4, 0);
                SolidLine(dc, cx + 3 + d, cy - 3, cx - 4 + d, cy + 4, 0);
            }
        }
        inner.top += height;
    }
    if (!child && HasMenuBar(hwnd)) {
        const int height = GetSystemMetrics(SM_CYMENU);
        RECT bar{inner.left, inner.top, inner.right, inner.top + height};
        Fill(dc, bar, COLOR_MENU);
        HMENU menu = GetMenu(hwnd);
        int x = bar.left + 6;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            WCHAR buffer[128];
            GetMenuStringW(menu, static_cast<UINT>(i), buffer, 128, MF_BYPOSITION);
            const std::u16string item = buffer;
            HDC measure = dc;
            SIZE size{};
            GetTextExtentPoint32W(measure, item.c_str(), static_cast<int>(item.size()), &size);
            RECT cell{x, bar.top, x + size.cx + 4, bar.bottom};
            Text(dc, nullptr, item, cell, 0, GetSysColor(COLOR_MENUTEXT));
            x += size.cx + 14;
        }
        inner.top += height;
    }
    if (exStyle & WS_EX_CLIENTEDGE) Edge(dc, inner, false);
}

void PaintArrowButton(HDC dc, RECT box, bool down, bool vertical) {
    Fill(dc, box, COLOR_BTNFACE);
    Edge(dc, box, true);
    const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
    const COLORREF black = GetSysColor(COLOR_BTNTEXT);
    for (int i = 0; i < 4; ++i) {
        if (vertical) {
            const int y = down ? cy - 2 + i : cy + 1 - i;
            SolidLine(dc, cx - 3 + i, y, cx + 4 - i, y, black);
        } else {
            const int x = down ? cx - 2 + i : cx + 1 - i;
            SolidLine(dc, x, cy - 3 + i, x, cy + 4 - i, black);
        }
    }
}

void PaintScrollBar(HWND hwnd, HDC dc, int min, int max, UINT page, int pos) {
    RECT r;
    GetClientRect(hwnd, &r);
    const bool vertical = GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT;
    Fill(dc, r, COLOR_SCROLLBAR);
    const int length = vertical ? r.bottom : r.right;
    const int arrow = std::min(16, length / 2);
    const RECT first = vertical ? RECT{0, 0, r.right, arrow} : RECT{0, 0, arrow, r.bottom};
    const RECT last = vertical ? RECT{0, r.bottom - arrow, r.right, r.bottom} : RECT{r.right - arrow, 0, r.right, r.bottom};
    PaintArrowButton(dc, first, false, vertical);
    PaintArrowButton(dc, last, true, vertical);
    const int track = std::max(length - 2 * arrow, 1);
    const int64_t span = std::max<int64_t>(static_cast<int64_t>(max) - min + 1, 1);
    const int thumb = std::max<int>(page ? static_cast<int>(track * static_cast<int64_t>(page) / span) : 16, 8);
    const int64_t range = std::max<int64_t>(span - std::max<UINT>(page, 1), 1);
    const int at = arrow + static_cast<int>((track - thumb) * static_cast<int64_t>(pos - min) / range);
    RECT t = vertical ? RECT{0, at, r.right, at + thumb} : RECT{at, 0, at + thumb, r.bottom};
    Fill(dc, t, COLOR_BTNFACE);
    Edge(dc, t, true);
}

}  // namespace zq::user::detail
