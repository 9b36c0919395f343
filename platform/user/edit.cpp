// The edit control: text with a limit, ES_NUMBER read at each keystroke (so
// setting it at run time works), selection, one level of undo, and
// EN_CHANGE on every change including WM_SETTEXT.
#include <algorithm>

#include "base/text.h"
#include "user/control_paint.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr size_t kSingleLineLimit = 0x7FFFFFFE;
constexpr size_t kDefaultLimit = 30000;

struct EditData : ControlData {
    std::u16string text;
    size_t limit = kDefaultLimit;
    size_t selStart = 0;
    size_t selEnd = 0;
    std::u16string undoText;
    size_t undoStart = 0;
    size_t undoEnd = 0;
    bool canUndo = false;
    bool modified = false;
    HFONT font = nullptr;
    char16_t password = 0;
};

std::u16string& Clipboard() {
    static std::u16string clip;
    return clip;
}

EditData* D(HWND hwnd) {
    if (auto* d = DataOf<EditData>(hwnd)) return d;
    SetData(hwnd, std::make_unique<EditData>());
    return DataOf<EditData>(hwnd);
}

LONG Style(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE); }

void Changed(HWND hwnd) {
    InvalidateRect(hwnd, nullptr, TRUE);
    NotifyParent(hwnd, EN_UPDATE);
    NotifyParent(hwnd, EN_CHANGE);
}

void SaveUndo(EditData* d) {
    d->undoText = d->text;
    d->undoStart = d->selStart;
    d->undoEnd = d->selEnd;
    d->canUndo = true;
}

// Replaces the selection, within the limit; answers false when something
// had to be cut off.
bool Replace(HWND hwnd, EditData* d, std::u16string insert, bool undoable) {
    const size_t lo = std::min(d->selStart, d->selEnd);
    const size_t hi = std::max(d->selStart, d->selEnd);
    const size_t kept = d->text.size() - (hi - lo);
    bool fits = true;
    if (kept + insert.size() > d->limit) {
        insert.resize(d->limit > kept ? d->limit - kept : 0);
        fits = false;
    }
    if (insert.empty() && lo == hi) return fits;
    if (undoable) SaveUndo(d);
    const LONG style = Style(hwnd);
    if (style & ES_UPPERCASE)
        for (auto& c : insert) c = zq::ToUpper(c);
    if (style & ES_LOWERCASE)
        for (auto& c : insert) c = zq::ToLower(c);
    d->text.replace(lo, hi - lo, insert);
    d->selStart = d->selEnd = lo + insert.size();
    d->modified = true;
    Changed(hwnd);
    return fits;
}

void Undo(HWND hwnd, EditData* d) {
    if (!d->canUndo) return;
    std::swap(d->text, d->undoText);
    const size_t s = d->selStart, e = d->selEnd;
    d->selStart = d->undoStart;
    d->selEnd = d->undoEnd;
    d->undoStart = s;
    d->undoEnd = e;
    d->modified = true;
    Changed(hwnd);
}

void TypeChar(HWND hwnd, EditData* d, char16_t c) {
    const LONG style = Style(hwnd);
    if (style & ES_READONLY) return;
    if (c == 8) {  // backspace
        if (d->selStart == d->selEnd) {
            if (d->selStart == 0) return;
            d->selStart -= 1;
        }
        Replace(hwnd, d, u"", true);
        return;
    }
    if (c == 0x1A) {  // Ctrl+Z
        Undo(hwnd, d);
        return;
    }
    if (c == 0x18 || c == 0x03 || c == 0x16) {  // Ctrl+X, C, V
        SendMessageW(hwnd, c == 0x18 ? WM_CUT : c == 0x03 ? WM_COPY : WM_PASTE, 0, 0);
        return;
    }
    if (c < 0x20 && !(c == u'\r' && (style & ES_MULTILINE))) return;
    if ((style & ES_NUMBER) && (c < u'0' || c > u'9')) return;  // refused, as the number style does
    std::u16string insert(1, c);
    if (c == u'\r') insert = u"\r\n";
    if (!Replace(hwnd, d, insert, true)) NotifyParent(hwnd, EN_MAXTEXT);
}

void MoveCaret(EditData* d, size_t to, bool extend) {
    to = std::min(to, d->text.size());
    d->selEnd = to;
    if (!extend) d->selStart = to;
}

LRESULT EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    EditData* d = D(hwnd);
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) d->text = cs->lpszName;
        if (cs && (cs->style & ES_MULTILINE)) d->limit = kSingleLineLimit;
        if (cs && (cs->style & ES_PASSWORD)) d->password = u'*';
        return TRUE;
    }
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        d->text = text ? std::u16string(text) : std::u16string();
        d->selStart = d->selEnd = 0;
        d->canUndo = false;
        d->modified = false;
        Changed(hwnd);
        return TRUE;
    }
    case WM_GETTEXT: {
        auto* out = reinterpret_cast<LPWSTR>(lParam);
        if (!out || wParam == 0) return 0;
        const size_t n = std::min<size_t>(d->text.size(), wParam - 1);
        std::copy_n(d->text.data(), n, out);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(d->text.size());
    case EM_GETSEL: {
        const auto lo = static_cast<DWORD>(std::min(d->selStart, d->selEnd));
        const auto hi = static_cast<DWORD>(std::max(d->selStart, d->selEnd));
        if (wParam) *reinterpret_cast<DWORD*>(wParam) = lo;
        if (lParam) *reinterpret_cast<DWORD*>(lParam) = hi;
        return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(std::min<DWORD>(lo, 0xFFFF)),
                                             static_cast<WORD>(std::min<DWORD>(hi, 0xFFFF))));
    }
    case EM_SETSEL: {
        const auto start = static_cast<intptr_t>(static_cast<int>(wParam));
        const auto end = static_cast<intptr_t>(static_cast<int>(lParam));
        const size_t n = d->text.size();
        if (start == -1) {
            d->selStart = d->selEnd = std::min(d->selEnd, n);
        } else {
            d->selStart = std::min<size_t>(static_cast<size_t>(std::max<intptr_t>(start, 0)), n);
            d->selEnd = end < 0 ? n : std::min<size_t>(static_cast<size_t>(end), n);
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case EM_REPLACESEL: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        if (!Replace(hwnd, d, text ? std::u16string(text) : std::u16string(), wParam != 0))
            NotifyParent(hwnd, EN_MAXTEXT);
        return 0;
    }
    case EM_LIMITTEXT:
        d->limit = wParam ? static_cast<size_t>(wParam) : kSingleLineLimit;
        return 0;
    case EM_GETLIMITTEXT: return static_cast<LRESULT>(d->limit);
    case EM_CANUNDO: return d->canUndo;
    case EM_UNDO:
    case WM_UNDO: Undo(hwnd, d); return d->canUndo;
    case EM_EMPTYUNDOBUFFER: d->canUndo = false; return 0;
    case EM_GETMODIFY: return d->modified;
    case EM_SETMODIFY: d->modified = wParam != 0; return 0;
    case EM_SETREADONLY: {
        const LONG style = Style(hwnd);
        SetWindowLongW(hwnd, GWL_STYLE, wParam ? (style | ES_READONLY) : (style & ~static_cast<LONG>(ES_READONLY)));
        return TRUE;
    }
    case EM_SETPASSWORDCHAR: d->password = static_cast<char16_t>(wParam); return 0;
    case EM_GETLINECOUNT: return 1 + std::count(d->text.begin(), d->text.end(), u'\n');
    case WM_CHAR: TypeChar(hwnd, d, static_cast<char16_t>(wParam)); return 0;
    case WM_KEYDOWN: {
        const bool shift = GetKeyState(VK_SHIFT) < 0;
        switch (wParam) {
        case VK_DELETE:
            if (Style(hwnd) & ES_READONLY) return 0;
            if (d->selStart == d->selEnd) {
                if (d->selEnd >= d->text.size()) return 0;
                d->selEnd += 1;
            }
            Replace(hwnd, d, u"", true);
            return 0;
        case VK_LEFT: MoveCaret(d, d->selEnd ? d->selEnd - 1 : 0, shift); return 0;
        case VK_RIGHT: MoveCaret(d, d->selEnd + 1, shift); return 0;
        case VK_HOME: MoveCaret(d, 0, shift); return 0;
        case VK_END: MoveCaret(d, d->text.size(), shift); return 0;
        default: return 0;
        }
    }
    case WM_CUT:
    case WM_COPY: {
        const size_t lo = std::min(d->selStart, d->selEnd), hi = std::max(d->selStart, d->selEnd);
        if (hi > lo && !(Style(hwnd) & ES_PASSWORD)) Clipboard() = d->text.substr(lo, hi - lo);
        if (message == WM_CUT && !(Style(hwnd) & ES_READONLY)) Replace(hwnd, d, u"", true);
        return 0;
    }
    case WM_PASTE:
        if (!(Style(hwnd) & ES_READONLY)) {
            std::u16string clip = Clipboard();
            if (Style(hwnd) & ES_NUMBER)
                clip.erase(std::remove_if(clip.begin(), clip.end(), [](char16_t c) { return c < u'0' || c > u'9'; }),
                           clip.end());
            if (!Replace(hwnd, d, clip, true)) NotifyParent(hwnd, EN_MAXTEXT);
        }
        return 0;
    case WM_CLEAR:
        if (!(Style(hwnd) & ES_READONLY)) Replace(hwnd, d, u"", true);
        return 0;
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if ((Style(hwnd) & ES_MULTILINE) && (Style(hwnd) & ES_WANTRETURN) && msg && msg->message == WM_KEYDOWN &&
            msg->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd) SetFocus(hwnd);
        return 0;
    case WM_SETFOCUS: InvalidateRect(hwnd, nullptr, TRUE); NotifyParent(hwnd, EN_SETFOCUS); return 0;
    case WM_KILLFOCUS: InvalidateRect(hwnd, nullptr, TRUE); NotifyParent(hwnd, EN_KILLFOCUS); return 0;
    case WM_SETFONT:
        d->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) PaintEdit(hwnd, dc, d->font, d->text, d->password != 0);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace zq::user::detail {
void RegisterEditClass() { RegisterSystemClass(WC_EDIT, EditProc, CS_DBLCLKS, 0, nullptr); }
}  // namespace zq::user::detail
