// Scroll bars: the control and the bars of windows with WS_HSCROLL and
// WS_VSCROLL, SCROLLINFO with its clamping, and SB_* codes to the parent.
#include <algorithm>
#include <map>

#include "base/error.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

struct Bar {
    int min = 0;
    int max = 100;
    UINT page = 0;
    int pos = 0;
    int trackPos = 0;
};

struct ScrollData : ControlData {
    Bar bar;
};

// Window bars (SB_HORZ, SB_VERT) by window and bar; the control keeps its
// own in its data.
std::map<std::pair<HWND, int>, Bar>& WindowBars() {
    static auto* bars = new std::map<std::pair<HWND, int>, Bar>;
    return *bars;
}

Bar* BarOf(HWND hwnd, int bar) {
    if (!Get(hwnd)) return nullptr;
    if (bar == SB_CTL) {
        if (!IsClass(hwnd, WC_SCROLLBAR)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (!DataOf<ScrollData>(hwnd)) SetData(hwnd, std::make_unique<ScrollData>());
        return &DataOf<ScrollData>(hwnd)->bar;
    }
    if (bar != SB_HORZ && bar != SB_VERT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard guard(Lock());
    return &WindowBars()[{hwnd, bar}];
}

// The position stays within min .. max - (page - 1).
void Clamp(Bar& b) {
    const int64_t span = static_cast<int64_t>(b.max) - b.min + 1;
    if (b.page > span) b.page = static_cast<UINT>(std::max<int64_t>(span, 0));
    const int64_t top = std::max<int64_t>(static_cast<int64_t>(b.max) - (b.page ? b.page - 1 : 0), b.min);
    b.pos = static_cast<int>(std::clamp<int64_t>(b.pos, b.min, top));
    b.trackPos = static_cast<int>(std::clamp<int64_t>(b.trackPos, b.min, top));
}

int Apply(Bar& b, const SCROLLINFO& info) {
    if (info.fMask & SIF_RANGE) {
        // A range whose width does not fit an int is refused; the old stays.
        if (info.nMin <= info.nMax && static_cast<int64_t>(info.nMax) - info.nMin < 0x7FFFFFFF) {
            b.min = info.nMin;
            b.max = info.nMax;
        }
    }
    if (info.fMask & SIF_PAGE) b.page = info.nPage;
    if (info.fMask & SIF_POS) b.pos = info.nPos;
    Clamp(b);
    return b.pos;
}

void Send(HWND scroll, WORD code, int pos) {
    HWND parent = GetParent(scroll);
    if (!parent) return;
    const bool vertical = GetWindowLongW(scroll, GWL_STYLE) & SBS_VERT;
    SendMessageW(parent, vertical ? WM_VSCROLL : WM_HSCROLL, MAKELONG(code, static_cast<WORD>(pos)),
                 reinterpret_cast<LPARAM>(scroll));
}

LRESULT ScrollProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Bar* b = BarOf(hwnd, SB_CTL);
    if (!b) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
    case SBM_SETPOS: {
        const int old = b->pos;
        b->pos = static_cast<int>(wParam);
        Clamp(*b);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }
    case SBM_GETPOS: return b->pos;
    case SBM_SETRANGE:
    case SBM_SETRANGEREDRAW: {
        SCROLLINFO info{sizeof(SCROLLINFO), SIF_RANGE, static_cast<int>(wParam), static_cast<int>(lParam), 0, 0, 0};
        const int old = b->pos;
        Apply(*b, info);
        if (message == SBM_SETRANGEREDRAW) InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }
    case SBM_GETRANGE:
        if (wParam) *reinterpret_cast<int*>(wParam) = b->min;
        if (lParam) *reinterpret_cast<int*>(lParam) = b->max;
        return 0;
    case SBM_SETSCROLLINFO: {
        const auto* info = reinterpret_cast<const SCROLLINFO*>(lParam);
        if (!info) return b->pos;
        if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
        return Apply(*b, *info);
    }
    case SBM_GETSCROLLINFO: {
        auto* info = reinterpret_cast<SCROLLINFO*>(lParam);
        if (!info) return FALSE;
        if (info->fMask & SIF_RANGE) {
            info->nMin = b->min;
            info->nMax = b->max;
        }
        if (info->fMask & SIF_PAGE) info->nPage = b->page;
        if (info->fMask & SIF_POS) info->nPos = b->pos;
        if (info->fMask & SIF_TRACKPOS) info->nTrackPos = b->trackPos;
        return TRUE;
    }
    case WM_KEYDOWN: {
        WORD code;
        switch (wParam) {
        case VK_LEFT:
        case VK_UP: code = SB_LINEUP; break;
        case VK_RIGHT:
        case VK_DOWN: code = SB_LINEDOWN; break;
        case VK_PRIOR: code = SB_PAGEUP; break;
        case VK_NEXT: code = SB_PAGEDOWN; break;
        case VK_HOME: code = SB_TOP; break;
        case VK_END: code = SB_BOTTOM; break;
        default: return 0;
        }
        Send(hwnd, code, 0);
        Send(hwnd, SB_ENDSCROLL, 0);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        // Arrows at both ends, the thumb between, pages either side of it.
        RECT r;
        GetClientRect(hwnd, &r);
        const bool vertical = GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT;
        const int at = vertical ? static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))
                                : static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
        const int length = vertical ? r.bottom : r.right;
        const int arrow = std::min(16, length / 2);
        const int track = std::max(length - 2 * arrow, 1);
        const int64_t span = std::max<int64_t>(static_cast<int64_t>(b->max) - b->min + 1, 1);
        const int thumb = std::max<int>(b->page ? static_cast<int>(track * static_cast<int64_t>(b->page) / span) : 16, 8);
        const int range = std::max<int64_t>(span - std::max<UINT>(b->page, 1), 1);
        const int thumbAt = arrow + static_cast<int>((track - thumb) * static_cast<int64_t>(b->pos - b->min) / range);
        WORD code;
        if (at < arrow) code = SB_LINEUP;
        else if (at >= length - arrow) code = SB_LINEDOWN;
        else if (at < thumbAt) code = SB_PAGEUP;
        else if (at >= thumbAt + thumb) code = SB_PAGEDOWN;
        else {
            Send(hwnd, SB_THUMBTRACK, b->pos);
            Send(hwnd, SB_THUMBPOSITION, b->pos);
            Send(hwnd, SB_ENDSCROLL, 0);
            return 0;
        }
        Send(hwnd, code, 0);
        Send(hwnd, SB_ENDSCROLL, 0);
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) PaintScrollBar(hwnd, dc, b->min, b->max, b->page, b->pos);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterScrollClass() { RegisterSystemClass(WC_SCROLLBAR, ScrollProc, CS_DBLCLKS | CS_PARENTDC, 0, nullptr); }
}  // namespace zq::user::detail

extern "C" {

// cbSize must be the 28-byte size or that size without the track position.
int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO* info, BOOL redraw) {
    Bar* b = BarOf(hwnd, bar);
    if (!b || !info || (info->cbSize != sizeof(SCROLLINFO) && info->cbSize != sizeof(SCROLLINFO) - 4)) {
        if (b) SetLastError(ERROR_INVALID_PARAMETER);
        return b ? b->pos : 0;
    }
    const int pos = Apply(*b, *info);
    if (redraw) InvalidateRect(hwnd, nullptr, TRUE);
    return pos;
}

BOOL GetScrollInfo(HWND hwnd, int bar, SCROLLINFO* info) {
    Bar* b = BarOf(hwnd, bar);
    if (!b || !info || (info->cbSize != sizeof(SCROLLINFO) && info->cbSize != sizeof(SCROLLINFO) - 4)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (info->fMask & SIF_RANGE) {
        info->nMin = b->min;
        info->nMax = b->max;
    }
    if (info->fMask & SIF_PAGE) info->nPage = b->page;
    if (info->fMask & SIF_POS) info->nPos = b->pos;
    if ((info->fMask & SIF_TRACKPOS) && info->cbSize == sizeof(SCROLLINFO)) info->nTrackPos = b->trackPos;
    return TRUE;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
    Bar* b = BarOf(hwnd, bar);
    if (!b) return 0;
    const int old = b->pos;
    b->pos = pos;
    Clamp(*b);
    if (redraw) InvalidateRect(hwnd, nullptr, TRUE);
    return old;
}

int GetScrollPos(HWND hwnd, int bar) {
    Bar* b = BarOf(hwnd, bar);
    return b ? b->pos : 0;
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
    Bar* b = BarOf(hwnd, bar);
    if (!b) return FALSE;
    if (minPos > maxPos || static_cast<int64_t>(maxPos) - minPos >= 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    b->min = minPos;
    b->max = maxPos;
    Clamp(*b);
    if (redraw) InvalidateRect(hwnd, nullptr, TRUE);
    return TRUE;
}

BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos) {
    Bar* b = BarOf(hwnd, bar);
    if (!b) return FALSE;
    if (minPos) *minPos = b->min;
    if (maxPos) *maxPos = b->max;
    return TRUE;
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
    if (bar == SB_CTL) return ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE), TRUE;
    auto w = Get(hwnd);
    if (!w) return FALSE;
    DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    const DWORD bits = bar == SB_HORZ ? WS_HSCROLL : bar == SB_VERT ? WS_VSCROLL : (WS_HSCROLL | WS_VSCROLL);
    style = show ? (style | bits) : (style & ~bits);
    SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>(style));
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    return TRUE;
}

BOOL EnableScrollBar(HWND hwnd, UINT bar, UINT) { return BarOf(hwnd, static_cast<int>(bar)) != nullptr; }

}  // extern "C"
