// The trackbar: a position in a range moved by keys and the mouse, each
// move told to the parent as WM_HSCROLL (or WM_VSCROLL) and the end of a
// drag as NM_RELEASEDCAPTURE.
#include <algorithm>

#include "gdi/dc.h"
#include "user/commctrl.h"
#include "user/dialog.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr int kChannelMargin = 8;

struct TrackData : ControlData {
    int min = 0;
    int max = 100;
    int pos = 0;
    int page = 20;
    int line = 1;
    int ticFrequency = 1;
    bool dragging = false;
};

TrackData* D(HWND hwnd) {
    if (auto* d = DataOf<TrackData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<TrackData>());
    return DataOf<TrackData>(hwnd);
}

bool Vertical(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE) & TBS_VERT; }

void Tell(HWND hwnd, WORD code, int pos) {
    HWND parent = GetParent(hwnd);
    if (!parent) return;
    SendMessageW(parent, Vertical(hwnd) ? WM_VSCROLL : WM_HSCROLL, MAKELONG(code, static_cast<WORD>(pos)),
                 reinterpret_cast<LPARAM>(hwnd));
}

int PosAt(HWND hwnd, TrackData* d, LPARAM lParam) {
    RECT r;
    GetClientRect(hwnd, &r);
    const int at = Vertical(hwnd) ? static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)))
                                  : static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
    const int length = std::max<int>((Vertical(hwnd) ? r.bottom : r.right) - 2 * kChannelMargin, 1);
    const int64_t span = static_cast<int64_t>(d->max) - d->min;
    const int64_t v = d->min + (static_cast<int64_t>(std::clamp(at - kChannelMargin, 0, length)) * span + length / 2) / length;
    return static_cast<int>(std::clamp<int64_t>(v, d->min, d->max));
}

void Move(HWND hwnd, TrackData* d, int to, WORD code) {
    d->pos = std::clamp(to, d->min, std::max(d->min, d->max));
    InvalidateRect(hwnd, nullptr, TRUE);
    Tell(hwnd, code, d->pos);
}

LRESULT TrackProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TrackData* d = D(hwnd);
    switch (message) {
    case TBM_GETPOS: return d->pos;
    case TBM_GETRANGEMIN: return d->min;
    case TBM_GETRANGEMAX: return d->max;
    case TBM_SETPOS:
        d->pos = std::clamp(static_cast<int>(lParam), d->min, std::max(d->min, d->max));
        if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case TBM_SETRANGE:
        d->min = static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
        d->max = static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)));
        d->pos = std::clamp(d->pos, d->min, std::max(d->min, d->max));
        return 0;
    case TBM_SETRANGEMIN:
        d->min = static_cast<int>(lParam);
        d->pos = std::clamp(d->pos, d->min, std::max(d->min, d->max));
        return 0;
    case TBM_SETRANGEMAX:
        d->max = static_cast<int>(lParam);
        d->pos = std::clamp(d->pos, d->min, std::max(d->min, d->max));
        return 0;
    case TBM_SETTICFREQ: d->ticFrequency = std::max(static_cast<int>(wParam), 1); return 0;
    case TBM_SETPAGESIZE: {
        const int old = d->page;
        d->page = static_cast<int>(lParam);
        return old;
    }
    case TBM_GETPAGESIZE: return d->page;
    case TBM_SETLINESIZE: {
        const int old = d->line;
        d->line = static_cast<int>(lParam);
        return old;
    }
    case TBM_GETLINESIZE: return d->line;
    case WM_KEYDOWN: {
        switch (wParam) {
        case VK_LEFT:
        case VK_UP: Move(hwnd, d, d->pos - d->line, TB_LINEUP); break;
        case VK_RIGHT:
        case VK_DOWN: Move(hwnd, d, d->pos + d->line, TB_LINEDOWN); break;
        case VK_PRIOR: Move(hwnd, d, d->pos - d->page, TB_PAGEUP); break;
        case VK_NEXT: Move(hwnd, d, d->pos + d->page, TB_PAGEDOWN); break;
        case VK_HOME: Move(hwnd, d, d->min, TB_TOP); break;
        case VK_END: Move(hwnd, d, d->max, TB_BOTTOM); break;
        default: return 0;
        }
        if (IsWindow(hwnd)) Tell(hwnd, TB_ENDTRACK, D(hwnd)->pos);
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd) SetFocus(hwnd);
        SetCapture(hwnd);
        d->dragging = true;
        Move(hwnd, d, PosAt(hwnd, d, lParam), TB_THUMBTRACK);
        return 0;
    case WM_MOUSEMOVE:
        if (d->dragging) Move(hwnd, d, PosAt(hwnd, d, lParam), TB_THUMBTRACK);
        return 0;
    case WM_LBUTTONUP:
        if (!d->dragging) return 0;
        d->dragging = false;
        Tell(hwnd, TB_THUMBPOSITION, d->pos);
        if (!IsWindow(hwnd)) return 0;
        Tell(hwnd, TB_ENDTRACK, D(hwnd)->pos);
        if (GetCapture() == hwnd) ReleaseCapture();
        if (IsWindow(hwnd)) NotifyParentCode(hwnd, NM_RELEASEDCAPTURE);
        return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
            const bool v = Vertical(hwnd);
            const int length = std::max<int>((v ? r.bottom : r.right) - 2 * kChannelMargin, 1);
            const int64_t span = std::max<int64_t>(static_cast<int64_t>(d->max) - d->min, 1);
            const int at = kChannelMargin + static_cast<int>((static_cast<int64_t>(d->pos - d->min) * length) / span);
            RECT channel = v ? RECT{r.right / 2 - 2, kChannelMargin, r.right / 2 + 2, r.bottom - kChannelMargin}
                             : RECT{kChannelMargin, r.bottom / 2 - 2, r.right - kChannelMargin, r.bottom / 2 + 2};
            FillRect(dc, &channel, GetSysColorBrush(COLOR_BTNSHADOW));
            RECT thumb = v ? RECT{r.right / 2 - 10, at - 5, r.right / 2 + 10, at + 5}
                           : RECT{at - 5, r.bottom / 2 - 10, at + 5, r.bottom / 2 + 10};
            FillRect(dc, &thumb, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterTrackbarClass() { RegisterSystemClass(TRACKBAR_CLASSW, TrackProc, CS_HREDRAW | CS_VREDRAW, 0, nullptr); }
}  // namespace zq::user::detail
