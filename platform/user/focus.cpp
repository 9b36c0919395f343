// Keyboard focus, activation and mouse capture of the calling thread, and
// the tracking of the mouse leaving a window.
#include "base/error.h"
#include "user/window.h"
#include "user/window_internal.h"

namespace zq::user::detail {
HWND& FocusSlot();
HWND& ActiveSlot();
HWND& CaptureSlot();
TRACKMOUSEEVENT& TrackingSlot();
}  // namespace zq::user::detail

using namespace zq::user::detail;

namespace {
POINT g_cursor{0, 0};

bool CanTakeFocus(HWND hwnd) {
    for (auto w = Find(hwnd); w; w = Find(w->parent)) {
        if (w->style & (WS_DISABLED | WS_MINIMIZE)) return false;
        if (!w->parent) break;
    }
    return true;
}
}  // namespace

namespace zq::user::detail {

void MoveFocusAway(HWND hwnd) {
    const HWND focus = FocusSlot();
    if (focus && (focus == hwnd || IsChild(hwnd, focus))) {
        auto w = Find(hwnd);
        const HWND parent = w && (w->style & WS_CHILD) ? w->parent : nullptr;
        SetFocus(parent && IsWindowVisible(parent) ? parent : nullptr);
    }
    if (ActiveSlot() == hwnd) {
        ActiveSlot() = nullptr;
        auto w = Find(hwnd);
        if (w && w->owner && IsWindowVisible(w->owner) && IsWindowEnabled(w->owner)) SetActiveWindow(w->owner);
    }
}

}  // namespace zq::user::detail

extern "C" {

HWND SetFocus(HWND hwnd) {
    HWND& focus = FocusSlot();
    const HWND old = focus;
    if (hwnd) {
        if (!Get(hwnd)) return nullptr;
        if (!CanTakeFocus(hwnd)) return nullptr;
        if (hwnd == old) return old;
        const HWND root = GetAncestor(hwnd, GA_ROOT);
        if (root && ActiveSlot() != root) {
            SetActiveWindow(root);
            if (!Find(hwnd)) return nullptr;
            if (FocusSlot() == hwnd) return old;  // the activation gave it already
        }
    }
    const HWND previous = focus;
    focus = hwnd;
    if (previous && Find(previous)) SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd && FocusSlot() == hwnd && Find(hwnd))
        SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return old;
}

HWND GetFocus() { return FocusSlot(); }

HWND SetActiveWindow(HWND hwnd) {
    HWND& active = ActiveSlot();
    const HWND old = active;
    if (hwnd) {
        auto w = Get(hwnd);
        if (!w) return nullptr;
        if (w->style & WS_CHILD) hwnd = GetAncestor(hwnd, GA_ROOT);
    }
    if (hwnd == old) return old;
    active = hwnd;
    if (old && Find(old)) {
        SendMessageW(old, WM_NCACTIVATE, FALSE, reinterpret_cast<LPARAM>(hwnd));
        SendMessageW(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
    }
    if (hwnd && ActiveSlot() == hwnd && Find(hwnd)) {
        SendMessageW(hwnd, WM_NCACTIVATE, TRUE, reinterpret_cast<LPARAM>(old));
        SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
    } else if (!hwnd && FocusSlot()) {
        SetFocus(nullptr);
    }
    return old;
}

HWND GetActiveWindow() { return ActiveSlot(); }
BOOL SetForegroundWindow(HWND hwnd) { return SetActiveWindow(hwnd) != nullptr || GetActiveWindow() == hwnd; }
HWND GetForegroundWindow() { return ActiveSlot(); }

HWND SetCapture(HWND hwnd) {
    HWND& capture = CaptureSlot();
    const HWND old = capture;
    if (hwnd && !Get(hwnd)) return nullptr;
    capture = hwnd;
    if (old && old != hwnd && Find(old))
        SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    return old;
}

BOOL ReleaseCapture() {
    HWND& capture = CaptureSlot();
    const HWND old = capture;
    capture = nullptr;
    if (old && Find(old)) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture() { return CaptureSlot(); }

// One window tracked per thread; the test driver posts WM_MOUSELEAVE when
// the mouse it moves leaves that window.
BOOL TrackMouseEvent(TRACKMOUSEEVENT* event) {
    if (!event || event->cbSize != sizeof(TRACKMOUSEEVENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TRACKMOUSEEVENT& t = TrackingSlot();
    if (event->dwFlags & 0x40000000 /* query */) {
        *event = t;
        event->cbSize = sizeof(TRACKMOUSEEVENT);
        return TRUE;
    }
    if (!Get(event->hwndTrack)) return FALSE;
    if (event->dwFlags & TME_CANCEL) {
        if (t.hwndTrack == event->hwndTrack) t.dwFlags &= ~(event->dwFlags & ~TME_CANCEL);
        if (!(t.dwFlags & (TME_HOVER | TME_LEAVE))) t = {};
        return TRUE;
    }
    t = *event;
    return TRUE;
}

BOOL _TrackMouseEvent(TRACKMOUSEEVENT* event) { return TrackMouseEvent(event); }

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    *point = g_cursor;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    g_cursor = POINT{x, y};
    return TRUE;
}

}  // extern "C"

namespace zq::user {

// For the test driver: the window whose leaving is tracked, and its end.
HWND TrackedWindow(DWORD* flags) {
    const TRACKMOUSEEVENT& t = TrackingSlot();
    if (flags) *flags = t.dwFlags;
    return t.hwndTrack;
}

void EndTracking() { TrackingSlot() = {}; }

}  // namespace zq::user
