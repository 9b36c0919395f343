// System colours, update regions and painting: each top-level window draws
// on its own 32-bit surface at 96 dpi; a window's DC is that surface with
// the origin and clipping of the window.
#include <algorithm>
#include <map>

#include "base/error.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/window.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

// The classic scheme: one fixed table, so pictures never depend on a host.
constexpr COLORREF kSysColors[] = {
    RGB(212, 208, 200),  // COLOR_SCROLLBAR
    RGB(58, 110, 165),   // COLOR_BACKGROUND
    RGB(10, 36, 106),    // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(212, 208, 200),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(212, 208, 200),  // COLOR_ACTIVEBORDER
    RGB(212, 208, 200),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(10, 36, 106),    // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(212, 208, 200),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(212, 208, 200),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(64, 64, 64),     // COLOR_3DDKSHADOW
    RGB(212, 208, 200),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(181, 181, 181),  // 25: unused in the scheme
    RGB(0, 0, 128),      // COLOR_HOTLIGHT
    RGB(166, 202, 240),  // COLOR_GRADIENTACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_GRADIENTINACTIVECAPTION
};
constexpr int kSysColorCount = static_cast<int>(std::size(kSysColors));

struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    void* bits = nullptr;
    int width = 0;
    int height = 0;
    int lent = 0;  // GetDC calls not yet released
};

std::map<HWND, Surface>& Surfaces() {
    static auto* surfaces = new std::map<HWND, Surface>;
    return *surfaces;
}

void FreeSurface(Surface& s) {
    if (s.dc) {
        SelectObject(s.dc, s.previous);
        DeleteDC(s.dc);
    }
    if (s.bitmap) DeleteObject(s.bitmap);
    s = Surface{};
}

Surface* SurfaceOf(HWND root) {
    RECT r;
    if (!GetWindowRect(root, &r)) return nullptr;
    const int width = std::max<LONG>(r.right - r.left, 1);
    const int height = std::max<LONG>(r.bottom - r.top, 1);
    std::lock_guard guard(Lock());
    Surface& s = Surfaces()[root];
    if (s.dc && (s.width != width || s.height != height) && s.lent == 0) FreeSurface(s);
    if (!s.dc) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        s.dc = CreateCompatibleDC(nullptr);
        s.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &s.bits, nullptr, 0);
        if (!s.dc || !s.bitmap) {
            FreeSurface(s);
            return nullptr;
        }
        s.previous = SelectObject(s.dc, s.bitmap);
        s.width = width;
        s.height = height;
    }
    return &s;
}

// The DC of a window: its root's surface with the origin at the window's
// client (or, for the whole window, its top-left) and clipping to it.
HDC LendDc(HWND hwnd, bool whole) {
    auto w = Get(hwnd);
    if (!w) return nullptr;
    const HWND root = GetAncestor(hwnd, GA_ROOT);
    Surface* s = SurfaceOf(root);
    if (!s) return nullptr;
    RECT rootRect;
    GetWindowRect(root, &rootRect);
    RECT area;
    if (whole) {
        GetWindowRect(hwnd, &area);
    } else {
        const POINT o = ClientOrigin(*w);
        const RECT c = ClientRect(*w);
        area = RECT{o.x, o.y, o.x + c.right, o.y + c.bottom};
    }
    // Ancestors' clients clip their children.
    for (auto p = Find(w->parent); p; p = Find(p->parent)) {
        const POINT o = ClientOrigin(*p);
        const RECT c = ClientRect(*p);
        const RECT pc{o.x, o.y, o.x + c.right, o.y + c.bottom};
        IntersectRect(&area, &area, &pc);
    }
    const POINT origin = whole ? POINT{area.left, area.top} : ClientOrigin(*w);
    HDC dc = s->dc;
    SaveDC(dc);
    ++s->lent;
    SetViewportOrgEx(dc, origin.x - rootRect.left, origin.y - rootRect.top, nullptr);
    SelectClipRgn(dc, nullptr);
    IntersectClipRect(dc, area.left - origin.x, area.top - origin.y, area.right - origin.x, area.bottom - origin.y);
    return dc;
}

HBRUSH BrushOf(HBRUSH classBrush) {
    const auto v = reinterpret_cast<uintptr_t>(classBrush);
    if (v > 0 && v <= static_cast<uintptr_t>(kSysColorCount)) return GetSysColorBrush(static_cast<int>(v - 1));
    return classBrush;
}

void PaintNow(HWND hwnd, bool children) {
    auto w = Find(hwnd);
    if (!w) return;
    if (w->hasUpdate && IsWindowVisible(hwnd)) SendMessageW(hwnd, WM_PAINT, 0, 0);
    if (!children) return;
    std::vector<HWND> kids;
    if (auto again = Find(hwnd)) kids = again->children;
    // Back to front, so that the front window is drawn last.
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) PaintNow(*it, true);
}

}  // namespace

namespace zq::user::detail {
void DropSurface(HWND hwnd) {
    std::lock_guard guard(Lock());
    auto it = Surfaces().find(hwnd);
    if (it == Surfaces().end()) return;
    FreeSurface(it->second);
    Surfaces().erase(it);
}
HBITMAP SurfaceBitmap(HWND root) {
    Surface* s = SurfaceOf(root);
    return s ? s->bitmap : nullptr;
}
HBRUSH ClassBrush(HWND hwnd) {
    auto w = Find(hwnd);
    return w ? BrushOf(w->cls->background) : nullptr;
}
}  // namespace zq::user::detail

namespace zq::user {

const void* SurfaceBits(HWND root, int* width, int* height) {
    Surface* s = SurfaceOf(root);
    if (!s) return nullptr;
    if (width) *width = s->width;
    if (height) *height = s->height;
    return s->bits;
}

}  // namespace zq::user

extern "C" {

DWORD GetSysColor(int index) {
    if (index < 0 || index >= kSysColorCount) return 0;
    return kSysColors[index];
}

HBRUSH GetSysColorBrush(int index) {
    if (index < 0 || index >= kSysColorCount) return nullptr;
    static HBRUSH brushes[kSysColorCount] = {};
    std::lock_guard guard(Lock());
    if (!brushes[index]) brushes[index] = CreateSolidBrush(kSysColors[index]);
    return brushes[index];
}

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (!hwnd) {
        for (HWND h : zq::user::AllWindows()) InvalidateRect(h, nullptr, erase);
        return TRUE;
    }
    auto w = Get(hwnd);
    if (!w) return FALSE;
    const RECT client = ClientRect(*w);
    RECT r = client;
    if (rect) IntersectRect(&r, rect, &client);
    std::lock_guard guard(Lock());
    if (IsRectEmpty(&r) && !IsRectEmpty(&client)) return TRUE;
    if (w->hasUpdate)
        UnionRect(&w->update, &w->update, &r);
    else
        w->update = r;
    w->hasUpdate = true;
    w->eraseUpdate = w->eraseUpdate || erase;
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    std::lock_guard guard(Lock());
    if (!rect) {
        w->hasUpdate = false;
        w->eraseUpdate = false;
        SetRectEmpty(&w->update);
        return TRUE;
    }
    RECT left;
    if (!SubtractRect(&left, &w->update, rect)) {
        w->hasUpdate = false;
        w->eraseUpdate = false;
        SetRectEmpty(&w->update);
    } else {
        w->update = left;
    }
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    if (rect) *rect = w->hasUpdate ? w->update : RECT{};
    return w->hasUpdate;
}

BOOL UpdateWindow(HWND hwnd) {
    if (!Get(hwnd)) return FALSE;
    PaintNow(hwnd, true);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* rect, HRGN, UINT flags) {
    if (!Get(hwnd)) return FALSE;
    std::vector<HWND> targets{hwnd};
    if (flags & RDW_ALLCHILDREN) {
        for (HWND h : zq::user::AllWindows())
            if (IsChild(hwnd, h)) targets.push_back(h);
    }
    for (HWND h : targets) {
        if (flags & RDW_INVALIDATE) InvalidateRect(h, h == hwnd ? rect : nullptr, (flags & RDW_ERASE) != 0);
        if (flags & RDW_VALIDATE) ValidateRect(h, h == hwnd ? rect : nullptr);
        if ((flags & RDW_FRAME) && (flags & RDW_INVALIDATE) && Find(h)) SendMessageW(h, WM_NCPAINT, 1, 0);
    }
    if (flags & RDW_UPDATENOW) PaintNow(hwnd, (flags & RDW_ALLCHILDREN) != 0);
    return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
    auto w = Get(hwnd);
    if (!w || !paint) return nullptr;
    *paint = PAINTSTRUCT{};
    const bool erase = w->eraseUpdate;
    paint->rcPaint = w->hasUpdate ? w->update : RECT{};
    ValidateRect(hwnd, nullptr);
    HDC dc = LendDc(hwnd, false);
    paint->hdc = dc;
    if (!dc) return nullptr;
    IntersectClipRect(dc, paint->rcPaint.left, paint->rcPaint.top, paint->rcPaint.right, paint->rcPaint.bottom);
    paint->fErase = TRUE;
    if (erase) paint->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
    return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (!paint) return FALSE;
    ReleaseDC(hwnd, paint->hdc);
    return TRUE;
}

HDC GetDC(HWND hwnd) {
    if (!hwnd) {
        // The screen: a memory DC of its own, deleted by ReleaseDC.
        return CreateCompatibleDC(nullptr);
    }
    return LendDc(hwnd, false);
}

HDC GetWindowDC(HWND hwnd) { return hwnd ? LendDc(hwnd, true) : CreateCompatibleDC(nullptr); }

int ReleaseDC(HWND, HDC hdc) {
    if (!hdc) return 0;
    {
        std::lock_guard guard(Lock());
        for (auto& [root, s] : Surfaces()) {
            if (s.dc == hdc && s.lent > 0) {
                --s.lent;
                RestoreDC(hdc, -1);
                return 1;
            }
        }
    }
    return DeleteDC(hdc) ? 1 : 0;
}

}  // extern "C"
