// Drawing on windows in the classic scheme. Everything goes through the DC
// calls, so it lands on whatever surface the DC has and follows its clip.
#include "user/draw.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "gdi/dc_draw.h"
#include "user/window.h"

namespace zq::user::detail {

void SolidLine(HDC dc, int x0, int y0, int x1, int y1, COLORREF color) {
    // Controls draw their frames from lines along an axis on unscaled DCs:
    // one drawn rightwards or downwards is the one-pixel rectangle a stroke
    // would fill, and filling it costs a fraction of stroking a path. Lines
    // drawn the other way keep the stroke's own choice of pixels.
    XFORM xf{};
    const bool axis = (x0 == x1 && y1 > y0) || (y0 == y1 && x1 > x0);
    if (axis && GetMapMode(dc) == MM_TEXT && GetWorldTransform(dc, &xf) && xf.eM11 == 1 && xf.eM12 == 0 &&
        xf.eM21 == 0 && xf.eM22 == 1) {
        const int rop2 = SetROP2(dc, R2_COPYPEN);
        SetROP2(dc, rop2);
        if (rop2 == R2_COPYPEN) {
            const RECT r = y0 == y1 ? RECT{x0, y0, x1, y0 + 1} : RECT{x0, y0, x0 + 1, y1};
            HBRUSH brush = CreateSolidBrush(color);
            FillRect(dc, &r, brush);
            DeleteObject(brush);
            return;
        }
    }
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
    SelectObject(dc, old);
    DeleteObject(pen);
}

}  // namespace zq::user::detail

namespace {

using zq::user::detail::SolidLine;

// A check mark three pixels thick round (cx, cy): down two, then up five.
void Tick(HDC dc, int cx, int cy, COLORREF color) {
    for (int i = 0; i < 3; ++i) {
        SolidLine(dc, cx - 3, cy - 1 + i, cx - 1, cy + 1 + i, color);
        SolidLine(dc, cx - 1, cy + 1 + i, cx + 4, cy - 4 + i, color);
    }
}

void Fill(HDC dc, const RECT& r, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

// One line of text as shown: "&x" underlines x, "&&" is one "&".
struct ShownLine {
    std::u16string text;
    int underline = -1;  // index in `text`, or -1
};

ShownLine StripPrefix(std::u16string_view raw, bool prefix) {
    ShownLine line;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (prefix && raw[i] == u'&' && i + 1 < raw.size()) {
            ++i;
            if (raw[i] != u'&') line.underline = static_cast<int>(line.text.size());
        }
        line.text.push_back(raw[i]);
    }
    return line;
}

// The DC's text colour (setting a colour answers the one before).
COLORREF TextColorOf(HDC dc) {
    const COLORREF c = SetTextColor(dc, 0);
    SetTextColor(dc, c);
    return c;
}

int Width(HDC dc, std::u16string_view text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.data()), static_cast<int>(text.size()), &size);
    return size.cx;
}

std::u16string ExpandTabs(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c != u'\t') {
            out.push_back(c);
            continue;
        }
        do out.push_back(u' ');
        while (out.size() % 8 != 0);
    }
    return out;
}

// Splits the text into the lines DrawText shows: at line ends unless
// DT_SINGLELINE, and with DT_WORDBREAK between words where a line would
// pass `width` (a word longer than the line stands alone).
std::vector<ShownLine> Lines(HDC dc, std::u16string_view text, UINT format, int width) {
    const bool prefix = (format & DT_NOPREFIX) == 0;
    std::vector<std::u16string_view> paragraphs;
    if (format & DT_SINGLELINE) {
        paragraphs.push_back(text);
    } else {
        size_t at = 0;
        while (true) {
            const size_t end = text.find_first_of(u"\r\n", at);
            paragraphs.push_back(text.substr(at, end == std::u16string_view::npos ? end : end - at));
            if (end == std::u16string_view::npos) break;
            at = end + 1;
            if (text[end] == u'\r' && at < text.size() && text[at] == u'\n') ++at;
        }
    }
    std::vector<ShownLine> lines;
    for (std::u16string_view p : paragraphs) {
        if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
            lines.push_back(StripPrefix(p, prefix));
            continue;
        }
        size_t start = 0;
        while (true) {
            // Take words while the line fits; at least one word.
            size_t end = start, fit = std::u16string_view::npos;
            while (end < p.size()) {
                size_t next = p.find(u' ', end);
                if (next == std::u16string_view::npos) next = p.size();
                if (fit != std::u16string_view::npos && Width(dc, StripPrefix(p.substr(start, next - start), prefix).text) > width)
                    break;
                fit = next;
                end = next < p.size() ? next + 1 : next;
            }
            if (fit == std::u16string_view::npos) fit = p.size();
            lines.push_back(StripPrefix(p.substr(start, fit - start), prefix));
            start = fit;
            while (start < p.size() && p[start] == u' ') ++start;
            if (start >= p.size()) break;
        }
    }
    return lines;
}

}  // namespace

extern "C" {

int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT* rect, UINT format) {
    if (!hdc || !rect || (!text && count != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view raw;
    if (text) raw = count < 0 ? std::u16string_view(text) : std::u16string_view(text, static_cast<size_t>(count));
    const std::u16string expanded = (format & DT_EXPANDTABS) ? ExpandTabs(raw) : std::u16string(raw);
    TEXTMETRICW tm{};
    GetTextMetricsW(hdc, &tm);
    const int lineHeight = tm.tmHeight;
    const int boxWidth = rect->right - rect->left;
    const auto lines = Lines(hdc, expanded, format, boxWidth);
    int widest = 0;
    for (const auto& l : lines) widest = std::max(widest, Width(hdc, l.text));
    const int height = lineHeight * static_cast<int>(lines.size());
    if (format & DT_CALCRECT) {
        rect->right = rect->left + widest;
        rect->bottom = rect->top + height;
        return height;
    }
    int y = rect->top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
        else if (format & DT_BOTTOM) y = rect->bottom - lineHeight;
    }
    const int saved = SaveDC(hdc);
    if (!(format & DT_NOCLIP)) IntersectClipRect(hdc, rect->left, rect->top, rect->right, rect->bottom);
    const COLORREF color = TextColorOf(hdc);
    for (const auto& l : lines) {
        const int w = Width(hdc, l.text);
        int x = rect->left;
        if (format & DT_CENTER) x = rect->left + (boxWidth - w) / 2;
        else if (format & DT_RIGHT) x = rect->right - w;
        if (!(format & DT_PREFIXONLY))
            TextOutW(hdc, x, y, reinterpret_cast<LPCWSTR>(l.text.c_str()), static_cast<int>(l.text.size()));
        if (l.underline >= 0 && !(format & DT_HIDEPREFIX)) {
            const int before = Width(hdc, std::u16string_view(l.text).substr(0, static_cast<size_t>(l.underline)));
            const int letter = Width(hdc, std::u16string_view(l.text).substr(static_cast<size_t>(l.underline), 1));
            SolidLine(hdc, x + before, y + lineHeight - 1, x + before + letter, y + lineHeight - 1, color);
        }
        y += lineHeight;
    }
    RestoreDC(hdc, saved);
    return height;
}

int DrawTextA(HDC hdc, LPCSTR text, int count, RECT* rect, UINT format) {
    std::string_view narrow;
    if (text) narrow = count < 0 ? std::string_view(text) : std::string_view(text, static_cast<size_t>(count));
    const std::u16string wide = zq::AnsiToWide(narrow);
    return DrawTextW(hdc, text ? reinterpret_cast<LPCWSTR>(wide.c_str()) : nullptr, static_cast<int>(wide.size()),
                     rect, format);
}

BOOL DrawEdge(HDC hdc, RECT* rect, UINT edge, UINT flags) {
    if (!hdc || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Each border is a light and a dark colour: raised borders are light on
    // the top and left, sunken ones dark there.
    struct Border {
        UINT raised, sunken;
        int raisedLight, raisedDark, sunkenLight, sunkenDark;
    };
    const Border borders[2] = {
        {BDR_RAISEDOUTER, BDR_SUNKENOUTER, COLOR_3DLIGHT, COLOR_3DDKSHADOW, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT},
        {BDR_RAISEDINNER, BDR_SUNKENINNER, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW, COLOR_3DDKSHADOW, COLOR_3DLIGHT},
    };
    RECT r = *rect;
    for (const Border& b : borders) {
        if (!(edge & (b.raised | b.sunken))) continue;
        if (r.right - r.left <= 0 || r.bottom - r.top <= 0) break;
        const bool raised = (edge & b.raised) != 0;
        COLORREF light = GetSysColor(raised ? b.raisedLight : b.sunkenLight);
        COLORREF dark = GetSysColor(raised ? b.raisedDark : b.sunkenDark);
        if (flags & BF_MONO) light = dark = GetSysColor(COLOR_WINDOWFRAME);
        else if (flags & BF_FLAT) light = dark = GetSysColor(COLOR_BTNSHADOW);
        if (flags & BF_LEFT) SolidLine(hdc, r.left, r.bottom - 1, r.left, r.top, light);
        if (flags & BF_TOP) SolidLine(hdc, r.left, r.top, r.right - 1, r.top, light);
        if (flags & BF_RIGHT) SolidLine(hdc, r.right - 1, r.top, r.right - 1, r.bottom - 1, dark);
        if (flags & BF_BOTTOM) SolidLine(hdc, r.right - 1, r.bottom - 1, r.left - 1, r.bottom - 1, dark);
        if (flags & BF_LEFT) ++r.left;
        if (flags & BF_TOP) ++r.top;
        if (flags & BF_RIGHT) --r.right;
        if (flags & BF_BOTTOM) --r.bottom;
    }
    if ((flags & BF_MIDDLE) && r.right > r.left && r.bottom > r.top)
        Fill(hdc, r, GetSysColor((flags & (BF_MONO | BF_FLAT)) ? COLOR_WINDOW : COLOR_BTNFACE));
    if (flags & BF_ADJUST) *rect = r;
    return TRUE;
}

BOOL DrawFocusRect(HDC hdc, const RECT* rect) {
    if (!hdc || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const RECT r = *rect;
    auto dot = [hdc](int x, int y) { return PatBlt(hdc, x, y, 1, 1, DSTINVERT); };
    // Every other pixel round the edge, each once (the corners too).
    for (int x = r.left; x < r.right; x += 2) {
        dot(x, r.top);
        if (r.bottom - 1 > r.top) dot(x, r.bottom - 1);
    }
    for (int y = r.top + 2; y < r.bottom - 1; y += 2) {
        dot(r.left, y);
        if (r.right - 1 > r.left) dot(r.right - 1, y);
    }
    return TRUE;
}

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    if (!hdc || !rect || !brush) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const RECT r = *rect;
    if (r.right <= r.left || r.bottom <= r.top) return 0;
    const RECT sides[4] = {{r.left, r.top, r.right, r.top + 1},
                           {r.left, r.bottom - 1, r.right, r.bottom},
                           {r.left, r.top, r.left + 1, r.bottom},
                           {r.right - 1, r.top, r.right, r.bottom}};
    for (const RECT& s : sides) FillRect(hdc, &s, brush);
    return 1;
}

BOOL InvertRect(HDC hdc, const RECT* rect) {
    if (!hdc || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return PatBlt(hdc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, DSTINVERT);
}

BOOL DrawFrameControl(HDC hdc, RECT* rect, UINT type, UINT state) {
    if (!hdc || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT r = *rect;
    const bool inactive = state & DFCS_INACTIVE, pushed = state & DFCS_PUSHED, checked = state & DFCS_CHECKED;
    const COLORREF mark = GetSysColor(inactive ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
    switch (type) {
    case DFC_BUTTON: {
        const UINT kind = state & 0x1F;
        if (kind == DFCS_BUTTONPUSH) {
            DrawEdge(hdc, &r, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
            return TRUE;
        }
        // Check boxes and radio buttons: a 13-pixel sunken box in the
        // square of the rectangle's height, left-aligned and centred.
        const int size = std::min(r.right - r.left, r.bottom - r.top);
        RECT box{r.left, r.top + (r.bottom - r.top - size) / 2, r.left + size, 0};
        box.bottom = box.top + size;
        const bool indeterminate = kind == DFCS_BUTTON3STATE && checked;
        Fill(hdc, box, GetSysColor(pushed || inactive || indeterminate ? COLOR_BTNFACE : COLOR_WINDOW));
        RECT inner = box;
        DrawEdge(hdc, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        if (!checked) return TRUE;
        const COLORREF ink = indeterminate ? GetSysColor(COLOR_GRAYTEXT) : mark;
        const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
        if (kind == DFCS_BUTTONRADIO) {
            const RECT dot{cx - 2, cy - 2, cx + 3, cy + 3};
            Fill(hdc, dot, ink);
        } else {
            Tick(hdc, cx, cy, ink);
        }
        return TRUE;
    }
    case DFC_SCROLL: {
        DrawEdge(hdc, &r, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
        // A solid triangle pointing the arrow's way, four pixels deep.
        const int cx = (r.left + r.right) / 2 + (pushed ? 1 : 0), cy = (r.top + r.bottom) / 2 + (pushed ? 1 : 0);
        const UINT dir = state & 0x3;
        for (int i = 0; i < 4; ++i) {
            switch (dir) {
            case DFCS_SCROLLUP: SolidLine(hdc, cx - i, cy - 2 + i, cx + i + 1, cy - 2 + i, mark); break;
            case DFCS_SCROLLDOWN: SolidLine(hdc, cx - i, cy + 1 - i, cx + i + 1, cy + 1 - i, mark); break;
            case DFCS_SCROLLLEFT: SolidLine(hdc, cx - 2 + i, cy - i, cx - 2 + i, cy + i + 1, mark); break;
            default: SolidLine(hdc, cx + 1 - i, cy - i, cx + 1 - i, cy + i + 1, mark); break;
            }
        }
        return TRUE;
    }
    case DFC_CAPTION: {
        DrawEdge(hdc, &r, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
        // The close box's cross, two pixels wide.
        const int s = std::min(r.right - r.left, r.bottom - r.top) - 4;
        if (s <= 0) return TRUE;
        const int x = r.left + (r.right - r.left - s) / 2, y = r.top + (r.bottom - r.top - s) / 2;
        for (int d = 0; d < 2; ++d) {
            SolidLine(hdc, x + d, y, x + s + d, y + s, mark);
            SolidLine(hdc, x + s - 1 + d, y, x - 1 + d, y + s, mark);
        }
        return TRUE;
    }
    case DFC_MENU: {
        const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        if ((state & 0x3) == DFCS_MENUBULLET) {
            const RECT dot{cx - 2, cy - 2, cx + 2, cy + 2};
            Fill(hdc, dot, mark);
        } else {
            Tick(hdc, cx, cy, mark);
        }
        return TRUE;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
}

BOOL DrawStateW(HDC hdc, HBRUSH, void* callback, LPARAM data, WPARAM wData, int x, int y, int cx, int cy,
                UINT flags) {
    const UINT kind = flags & 0xF;
    if (!hdc || callback || (kind != DST_TEXT && kind != DST_PREFIXTEXT && kind != DST_BITMAP)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (kind == DST_BITMAP) {
        // A bitmap has no size to measure here: the caller gives it.
        if (cx <= 0 || cy <= 0 || (flags & (DSS_DISABLED | DSS_MONO))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        HDC mem = CreateCompatibleDC(hdc);
        HGDIOBJ old = SelectObject(mem, reinterpret_cast<HGDIOBJ>(data));
        const BOOL ok = old != nullptr && BitBlt(hdc, x, y, cx, cy, mem, 0, 0, SRCCOPY);
        if (old) SelectObject(mem, old);
        DeleteDC(mem);
        return ok;
    }
    const auto* text = reinterpret_cast<LPCWSTR>(data);
    if (!text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int count = wData ? static_cast<int>(wData) : -1;
    const UINT format = DT_SINGLELINE | DT_NOCLIP | (kind == DST_TEXT ? DT_NOPREFIX : 0) |
                        ((flags & DSS_RIGHT) ? DT_RIGHT : DT_LEFT);
    RECT box{x, y, x + cx, y + cy};
    if (cx <= 0 || cy <= 0) {
        RECT measured{x, y, x, y};
        DrawTextW(hdc, text, count, &measured, format | DT_CALCRECT);
        if (cx <= 0) box.right = measured.right;
        if (cy <= 0) box.bottom = measured.bottom;
    }
    const COLORREF before = TextColorOf(hdc);
    const int mode = SetBkMode(hdc, TRANSPARENT);
    if (flags & DSS_DISABLED) {
        // Embossed: the highlight copy one pixel down and right, the shadow
        // copy over it.
        RECT lower = box;
        OffsetRect(&lower, 1, 1);
        SetTextColor(hdc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(hdc, text, count, &lower, format);
        SetTextColor(hdc, GetSysColor(COLOR_BTNSHADOW));
    }
    DrawTextW(hdc, text, count, &box, format);
    SetTextColor(hdc, before);
    SetBkMode(hdc, mode);
    return TRUE;
}

}  // extern "C"
