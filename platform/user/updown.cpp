// The up-down control: a signed 16-bit range (or 32-bit through the *32
// messages), an automatic buddy, UDN_DELTAPOS that a non-zero answer
// cancels, then the scroll message to the parent.
#include <algorithm>

#include "base/text.h"
#include "gdi/dc.h"
#include "user/commctrl.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

struct UpDownData : ControlData {
    int lower = 100;  // the control's own default: 100 at the bottom, 0 at the top
    int upper = 0;
    int pos = 0;
    HWND buddy = nullptr;
};

UpDownData* D(HWND hwnd) {
    if (auto* d = DataOf<UpDownData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<UpDownData>());
    return DataOf<UpDownData>(hwnd);
}

LONG Style(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE); }

int Clamp(const UpDownData* d, int v) { return std::clamp(v, std::min(d->lower, d->upper), std::max(d->lower, d->upper)); }

std::u16string Format(int v, bool thousands) {
    std::string digits = std::to_string(v < 0 ? -static_cast<int64_t>(v) : v);
    if (thousands)
        for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return zq::Utf8ToUtf16((v < 0 ? "-" : "") + digits);
}

// The buddy's text as a number; false when it is not one.
bool BuddyValue(HWND buddy, int& out) {
    std::u16string text = zq::user::WindowText(buddy);
    text.erase(std::remove(text.begin(), text.end(), u','), text.end());
    if (text.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (text[0] == u'-') {
        negative = true;
        i = 1;
    }
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        v = v * 10 + (text[i] - u'0');
        if (v > 0x7FFFFFFF) return false;
    }
    out = static_cast<int>(negative ? -v : v);
    return true;
}

void ShowInBuddy(HWND hwnd, UpDownData* d) {
    if (d->buddy && (Style(hwnd) & UDS_SETBUDDYINT))
        SetWindowTextW(d->buddy, Format(d->pos, !(Style(hwnd) & UDS_NOTHOUSANDS)).c_str());
}

void SetBuddy(HWND hwnd, UpDownData* d, HWND buddy) {
    d->buddy = buddy;
    if (!buddy) return;
    const LONG style = Style(hwnd);
    if (style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)) {
        // The arrows sit on the buddy's edge and take their width from it.
        RECT b, me;
        GetWindowRect(buddy, &b);
        GetWindowRect(hwnd, &me);
        const int width = me.right - me.left;
        POINT o{b.left, b.top};
        ScreenToClient(GetParent(hwnd), &o);
        const int bw = std::max<int>(b.right - b.left - width, 0);
        if (style & UDS_ALIGNRIGHT) {
            SetWindowPos(buddy, nullptr, o.x, o.y, bw, b.bottom - b.top, SWP_NOZORDER | SWP_NOACTIVATE);
            SetWindowPos(hwnd, nullptr, o.x + bw, o.y, width, b.bottom - b.top, SWP_NOZORDER | SWP_NOACTIVATE);
        } else {
            SetWindowPos(hwnd, nullptr, o.x, o.y, width, b.bottom - b.top, SWP_NOZORDER | SWP_NOACTIVATE);
            SetWindowPos(buddy, nullptr, o.x + width, o.y, bw, b.bottom - b.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

// One step as the user makes it: asks the parent, moves, tells it.
void Step(HWND hwnd, UpDownData* d, int delta) {
    if (d->buddy && (Style(hwnd) & UDS_SETBUDDYINT)) {
        int v;
        if (BuddyValue(d->buddy, v)) d->pos = Clamp(d, v);
    }
    // "Up" moves towards the upper end of the range, whichever way it runs.
    if (d->upper < d->lower) delta = -delta;
    NMUPDOWN nm{{hwnd, static_cast<UINT_PTR>(GetWindowLongPtrW(hwnd, GWLP_ID)), UDN_DELTAPOS}, d->pos, delta};
    HWND parent = GetParent(hwnd);
    if (parent && SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm))) return;
    if (!IsWindow(hwnd)) return;
    d = D(hwnd);
    int next = d->pos + nm.iDelta;
    const int lo = std::min(d->lower, d->upper), hi = std::max(d->lower, d->upper);
    if (next > hi) next = (Style(hwnd) & UDS_WRAP) ? lo : hi;
    if (next < lo) next = (Style(hwnd) & UDS_WRAP) ? hi : lo;
    if (next == d->pos && !(Style(hwnd) & UDS_WRAP)) return;
    d->pos = next;
    ShowInBuddy(hwnd, d);
    const UINT scroll = (Style(hwnd) & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL;
    if (parent) {
        SendMessageW(parent, scroll, MAKELONG(SB_THUMBPOSITION, static_cast<WORD>(d->pos)), reinterpret_cast<LPARAM>(hwnd));
        SendMessageW(parent, scroll, MAKELONG(SB_ENDSCROLL, static_cast<WORD>(d->pos)), reinterpret_cast<LPARAM>(hwnd));
    }
}

LRESULT UpDownProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    UpDownData* d = D(hwnd);
    switch (message) {
    case WM_CREATE:
        if (Style(hwnd) & UDS_AUTOBUDDY) SetBuddy(hwnd, d, GetWindow(hwnd, GW_HWNDPREV));
        return 0;
    case UDM_SETRANGE:
        d->upper = static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
        d->lower = static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)));
        d->pos = Clamp(d, d->pos);
        return 0;
    case UDM_GETRANGE:
        return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(d->upper), static_cast<WORD>(d->lower)));
    case UDM_SETRANGE32:
        d->lower = static_cast<int>(wParam);
        d->upper = static_cast<int>(lParam);
        d->pos = Clamp(d, d->pos);
        return 0;
    case UDM_GETRANGE32:
        if (wParam) *reinterpret_cast<int*>(wParam) = d->lower;
        if (lParam) *reinterpret_cast<int*>(lParam) = d->upper;
        return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
        const int old = d->pos;
        d->pos = Clamp(d, message == UDM_SETPOS ? static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)))
                                                : static_cast<int>(lParam));
        ShowInBuddy(hwnd, d);
        return old;
    }
    case UDM_GETPOS:
    case UDM_GETPOS32: {
        bool error = false;
        if (d->buddy && (Style(hwnd) & UDS_SETBUDDYINT)) {
            int v;
            if (BuddyValue(d->buddy, v) && v == Clamp(d, v)) d->pos = v;
            else error = true;
        }
        if (message == UDM_GETPOS32) {
            if (lParam) *reinterpret_cast<BOOL*>(lParam) = error;
            return d->pos;
        }
        return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(d->pos), error ? 1 : 0));
    }
    case UDM_SETBUDDY: {
        HWND old = d->buddy;
        SetBuddy(hwnd, d, reinterpret_cast<HWND>(wParam));
        return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY: return reinterpret_cast<LRESULT>(d->buddy);
    case WM_LBUTTONDOWN: {
        RECT r;
        GetClientRect(hwnd, &r);
        const bool horizontal = Style(hwnd) & UDS_HORZ;
        const int x = static_cast<SHORT>(LOWORD(static_cast<DWORD>(lParam)));
        const int y = static_cast<SHORT>(HIWORD(static_cast<DWORD>(lParam)));
        const bool up = horizontal ? x >= r.right / 2 : y < r.bottom / 2;
        Step(hwnd, d, up ? 1 : -1);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_UP || wParam == VK_RIGHT) Step(hwnd, d, 1);
        if (wParam == VK_DOWN || wParam == VK_LEFT) Step(hwnd, d, -1);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            RECT r;
            GetClientRect(hwnd, &r);
            if (Style(hwnd) & UDS_HORZ) {
                PaintArrowButton(dc, RECT{0, 0, r.right / 2, r.bottom}, false, false);
                PaintArrowButton(dc, RECT{r.right / 2, 0, r.right, r.bottom}, true, false);
            } else {
                PaintArrowButton(dc, RECT{0, 0, r.right, r.bottom / 2}, false, true);
                PaintArrowButton(dc, RECT{0, r.bottom / 2, r.right, r.bottom}, true, true);
            }
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterUpDownClass() { RegisterSystemClass(UPDOWN_CLASSW, UpDownProc, CS_HREDRAW | CS_VREDRAW, 0, nullptr); }
}  // namespace zq::user::detail
