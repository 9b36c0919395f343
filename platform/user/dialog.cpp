// Dialogs: creation from templates, the dialog class and its default
// procedure, modal loops, keyboard navigation and the DlgItem calls.
#include "user/dialog.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>
#include <cstring>
#include <string>

#include "base/diag.h"
#include "base/error.h"
#include "base/loader.h"
#include "base/msgbox.h"
#include "base/muldiv.h"
#include "base/resources.h"
#include "base/text.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/controls.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr WORD kRtDialog = 5;
constexpr LONG kSystemBaseX = 8;  // without DS_SETFONT: the system font's units
constexpr LONG kSystemBaseY = 16;

struct DialogData : ControlData {
    DLGPROC proc = nullptr;
    bool unicode = true;
    HFONT font = nullptr;
    LONG baseX = kSystemBaseX;
    LONG baseY = kSystemBaseY;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    HWND lastFocus = nullptr;
    WORD defId = 0;
};

DialogData* DataOfDialog(HWND hwnd) { return DataOf<DialogData>(hwnd); }

// Base units of a font: the average width of the 52 letters, rounded, and
// the font's height.
void ComputeBaseUnits(HFONT font, LONG& x, LONG& y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    static const char16_t kLetters[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    TEXTMETRICW tm{};
    if (GetTextExtentPoint32W(dc, kLetters, 52, &extent) && GetTextMetricsW(dc, &tm) && tm.tmHeight > 0) {
        x = (extent.cx / 26 + 1) / 2;
        y = tm.tmHeight;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
}

bool IsTabCandidate(HWND h) {
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

std::vector<HWND> ChildrenOf(HWND dialog) {
    std::vector<HWND> out;
    for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) out.push_back(h);
    return out;
}

// The controls the keyboard walks, in z-order: a visible, enabled child with
// WS_EX_CONTROLPARENT (a property page in its sheet) stands for its own
// controls, at any depth.
void AppendControls(HWND parent, std::vector<HWND>& out, int depth = 0) {
    for (HWND h : ChildrenOf(parent)) {
        if (depth < 16 && (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)) {
            if (IsTabCandidate(h)) AppendControls(h, out, depth + 1);
            continue;
        }
        out.push_back(h);
    }
}

std::vector<HWND> ControlsOf(HWND dialog) {
    std::vector<HWND> out;
    AppendControls(dialog, out);
    return out;
}

LRESULT CallDialogProc(DialogData* d, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!d || !d->proc) return 0;
    return CallProc(reinterpret_cast<WNDPROC>(d->proc), d->unicode, hwnd, message, wParam, lParam, true);
}

HWND FirstTabStop(HWND dialog) {
    for (HWND h : ControlsOf(dialog))
        if ((GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) && IsTabCandidate(h)) return h;
    return nullptr;
}

void SetDefaultButton(HWND dialog, DialogData* d, WORD id) {
    if (!d) return;
    if (d->defId && d->defId != id) {
        HWND old = GetDlgItem(dialog, d->defId);
        if (old && (SendMessageW(old, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON))
            SendMessageW(old, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
    d->defId = id;
    HWND now = GetDlgItem(dialog, id);
    if (now && (SendMessageW(now, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
        SendMessageW(now, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// Focus into a dialog control; an edit gets all its text selected, as a
// tab into it does.
void FocusControl(HWND dialog, HWND control) {
    if (!control) return;
    if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
    SetFocus(control);
    if (auto* d = DataOfDialog(dialog)) d->lastFocus = control;
}

// A template's font and its base units, made once per face, size and style:
// dialogs share them, as they share the fonts of their templates.
struct DialogFont {
    HFONT font = nullptr;
    LONG baseX = kSystemBaseX;
    LONG baseY = kSystemBaseY;
};

const DialogFont& FontOf(const zq::user::DialogTemplate& t) {
    static std::mutex lock;
    static auto* fonts = new std::map<std::tuple<std::u16string, WORD, WORD, BYTE, BYTE>, DialogFont>;
    std::u16string face = t.face.substr(0, LF_FACESIZE - 1);
    for (auto& c : face) c = zq::ToLower(c);
    const auto key = std::make_tuple(face, t.pointSize, t.weight, t.italic, t.charset);
    std::lock_guard guard(lock);
    auto it = fonts->find(key);
    if (it != fonts->end()) return it->second;
    DialogFont f;
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(t.pointSize, 96, 72);
    lf.lfWeight = t.weight ? t.weight : FW_NORMAL;
    lf.lfItalic = t.italic;
    lf.lfCharSet = t.charset;
    std::copy_n(t.face.data(), std::min<size_t>(t.face.size(), LF_FACESIZE - 1), lf.lfFaceName);
    f.font = CreateFontIndirectW(&lf);
    if (f.font) ComputeBaseUnits(f.font, f.baseX, f.baseY);
    return fonts->emplace(key, f).first->second;
}

LRESULT DialogWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefDlgProcW(hwnd, message, wParam, lParam);
}

HWND CreateFromTemplate(HINSTANCE instance, const zq::user::DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param,
                        bool unicode) {
    auto data = std::make_unique<DialogData>();
    data->proc = proc;
    data->unicode = unicode;
    if (t.hasFont) {
        const DialogFont& f = FontOf(t);
        data->font = f.font;
        data->baseX = f.baseX;
        data->baseY = f.baseY;
    }
    const LONG baseX = data->baseX, baseY = data->baseY;
    auto toPixels = [baseX, baseY](LONG v, bool horizontal) {
        return MulDiv(v, horizontal ? baseX : baseY, horizontal ? 4 : 8);
    };
    // Class: the template's or the dialog class; every item's class must be
    // registered before anything is created.
    std::u16string className = WC_DIALOG;
    if (t.cls.isId) className = u"#" + zq::Utf8ToUtf16(std::to_string(t.cls.id));
    else if (!t.cls.name.empty()) className = t.cls.name;
    if (!FindClass(className, instance)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    std::vector<std::u16string> itemClasses;
    for (const auto& item : t.items) {
        std::u16string name = item.cls.isId ? zq::user::ClassOfOrdinal(item.cls.id) : item.cls.name;
        if (name.empty() || !FindClass(name, instance)) {
            zq::DiagLine("user", "dialog item " + std::to_string(item.id) + " names an unregistered class \"" +
                                     zq::Utf16ToUtf8(name) + "\"; the dialog is not created");
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        itemClasses.push_back(std::move(name));
    }
    DWORD style = t.style;
    const bool child = (style & WS_CHILD) != 0;
    if (!child && (style & DS_MODALFRAME)) style |= WS_DLGFRAME;
    RECT r{0, 0, toPixels(t.cx, true), toPixels(t.cy, false)};
    const bool hasMenu = !t.menu.empty() && !child;
    AdjustWindowRectEx(&r, style & ~WS_VISIBLE, hasMenu, t.exStyle | ((style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0));
    int x = toPixels(t.x, true) + r.left;
    int y = toPixels(t.y, false) + r.top;
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (!child && !(style & DS_ABSALIGN) && owner) {
        POINT o{0, 0};
        ClientToScreen(owner, &o);
        x += o.x;
        y += o.y;
    }
    if (!child && (style & DS_CENTER)) {
        RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (owner) GetWindowRect(GetAncestor(owner, GA_ROOT), &area);
        x = area.left + ((area.right - area.left) - width) / 2;
        y = area.top + ((area.bottom - area.top) - height) / 2;
    }
    HWND dialog = CreateWindowExW(t.exStyle | ((style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0), className.c_str(),
                                  t.title.c_str(), style & ~WS_VISIBLE, x, y, width, height, owner, nullptr, instance,
                                  reinterpret_cast<LPVOID>(param));
    if (!dialog) return nullptr;
    // From here on the dialog procedure sees the messages.
    SetData(dialog, std::move(data));
    DialogData* d = DataOfDialog(dialog);
    if (!d) return nullptr;
    SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
    if (d->font) SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(d->font), FALSE);
    for (size_t i = 0; i < t.items.size(); ++i) {
        const auto& item = t.items[i];
        // A static's text may be an ordinal: the id of its icon, handed on
        // in the ordinal form ("\xFFFF" and the id).
        const bool ordinalText = item.text.isId && zq::EqualsIgnoreCase(itemClasses[i], u"Static");
        const std::u16string text = ordinalText    ? std::u16string{char16_t(0xFFFF), char16_t(item.text.id)}
                                    : item.text.isId ? std::u16string()
                                                     : item.text.name;
        std::vector<BYTE> creation;
        if (!item.creationData.empty()) {
            // The control sees the data with its size word in front.
            creation.resize(2 + item.creationData.size());
            const WORD size = static_cast<WORD>(creation.size());
            std::memcpy(creation.data(), &size, 2);
            std::memcpy(creation.data() + 2, item.creationData.data(), item.creationData.size());
        }
        // Bordered edits and lists take the sunken edge of the 3-D look.
        DWORD itemStyle = (item.style | WS_CHILD) & ~WS_POPUP;
        DWORD itemEx = item.exStyle | WS_EX_NOPARENTNOTIFY;
        if ((itemStyle & WS_BORDER) && (zq::EqualsIgnoreCase(itemClasses[i], u"Edit") ||
                                        zq::EqualsIgnoreCase(itemClasses[i], u"ListBox"))) {
            itemStyle &= ~WS_BORDER;
            itemEx |= WS_EX_CLIENTEDGE;
        }
        HWND c = CreateWindowExW(itemEx, itemClasses[i].c_str(), text.c_str(), itemStyle, toPixels(item.x, true), toPixels(item.y, false),
                                 toPixels(item.cx, true), toPixels(item.cy, false), dialog,
                                 reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id & 0xFFFF)), instance,
                                 creation.empty() ? nullptr : creation.data());
        if (!c) {
            if (!(t.style & DS_NOFAILCREATE)) {
                zq::DiagLine("user", "dialog item " + std::to_string(item.id) + " failed to create; the dialog fails");
                DestroyWindow(dialog);
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            continue;
        }
        if (item.text.isId && zq::EqualsIgnoreCase(itemClasses[i], u"Static"))
            SetWindowTextW(c, (u"#" + zq::Utf8ToUtf16(std::to_string(item.text.id))).c_str());
        // The dialog's state is looked up again after every call that may
        // reach its procedure: a template may name a control class for the
        // dialog itself, whose own state then takes the dialog's place.
        d = DataOfDialog(dialog);
        if (!d) {
            zq::DiagLine("user", "the dialog's class replaced the dialog's state; the dialog fails");
            DestroyWindow(dialog);
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (d->font) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(d->font), FALSE);
        if ((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && zq::EqualsIgnoreCase(itemClasses[i], u"Button")) {
            d = DataOfDialog(dialog);
            if (d && !d->defId) d->defId = static_cast<WORD>(item.id);
        }
    }
    HWND first = FirstTabStop(dialog);
    const LRESULT focus = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (!IsWindow(dialog)) return nullptr;
    if (focus) {
        first = FirstTabStop(dialog);
        if (first) FocusControl(dialog, first);
    }
    if (t.style & WS_VISIBLE) {
        ShowWindow(dialog, SW_SHOWNORMAL);
        if (!IsWindow(dialog)) return nullptr;
        if (focus && first && IsWindow(first) && GetFocus() != first) FocusControl(dialog, first);
    }
    return dialog;
}

HWND CreateFromSpan(HINSTANCE instance, std::span<const BYTE> bytes, HWND owner, DLGPROC proc, LPARAM param,
                    bool unicode) {
    auto t = zq::user::ReadDialogTemplate(bytes);
    if (!t) {
        zq::DiagLine("user", "dialog template runs past its bytes or is not a template; the dialog is not created");
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return CreateFromTemplate(instance, *t, owner, proc, param, unicode);
}

// Without a size, a template inside a module's resources is bounded by
// them; one built in memory by the caller is read as far as its own counts
// say.
std::span<const BYTE> TemplateBytes(HINSTANCE instance, LPCDLGTEMPLATEW tmpl) {
    const auto* p = reinterpret_cast<const BYTE*>(tmpl);
    if (!p) return {};
    const auto [dir, size] = zq::ModuleResourceDirectory(instance);
    if (dir && p >= dir && p < dir + size) return {p, static_cast<size_t>(dir + size - p)};
    return {p, static_cast<size_t>(1) << 20};
}

std::span<const BYTE> ResourceTemplate(HINSTANCE instance, LPCWSTR name) {
    HRSRC res = FindResourceW(instance, name, MAKEINTRESOURCEW(kRtDialog));
    if (!res) return {};
    HGLOBAL g = LoadResource(instance, res);
    const auto* p = static_cast<const BYTE*>(LockResource(g));
    if (!p) return {};
    return {p, SizeofResource(instance, res)};
}

INT_PTR RunModal(HWND dialog, HWND owner) {
    if (!dialog) return -1;
    bool reenable = false;
    if (owner && IsWindowEnabled(owner)) {
        EnableWindow(owner, FALSE);
        reenable = true;
    }
    auto* d = DataOfDialog(dialog);
    if (d) d->modal = true;
    if (!(GetWindowLongW(dialog, GWL_STYLE) & WS_VISIBLE) && IsWindow(dialog) && (!d || !d->ended))
        ShowWindow(dialog, SW_SHOWNORMAL);
    INT_PTR result = IDCANCEL;
    for (;;) {
        d = DataOfDialog(dialog);
        if (!d || !IsWindow(dialog)) break;
        if (d->ended) {
            result = d->result;
            break;
        }
        MSG m;
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(m.wParam));  // for the loop outside
                break;
            }
            if (!IsDialogMessageW(dialog, &m)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
            continue;
        }
        if (!zq::user::RunIdleHandler()) {
            zq::DiagLine("user", "modal dialog \"" + zq::user::WindowTextUtf8(dialog) +
                                     "\": nothing left to do and nobody to act; it ends as Cancel");
            // The dialog sees the Cancel, as from Escape; if it stays, it is
            // ended all the same.
            SendMessageW(dialog, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            d = DataOfDialog(dialog);
            if (d && !d->ended) EndDialog(dialog, IDCANCEL);
        }
    }
    if (reenable && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (IsWindow(dialog)) DestroyWindow(dialog);
    if (reenable && IsWindow(owner)) SetActiveWindow(owner);
    return result;
}

}  // namespace

namespace zq::user::detail {
void RegisterDialogClass() {
    RegisterSystemClass(WC_DIALOG, DialogWindowProc, CS_DBLCLKS | CS_SAVEBITS, DLGWINDOWEXTRA,
                        reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1)));
}
}  // namespace zq::user::detail

namespace zq::user {

HWND CreateDialogFromBytes(HINSTANCE instance, std::span<const BYTE> bytes, HWND owner, DLGPROC proc, LPARAM param,
                           bool unicodeProc) {
    return CreateFromSpan(instance, bytes, owner, proc, param, unicodeProc);
}

INT_PTR DialogBoxFromBytes(HINSTANCE instance, std::span<const BYTE> bytes, HWND owner, DLGPROC proc, LPARAM param,
                           bool unicodeProc) {
    if (owner) owner = GetAncestor(owner, GA_ROOT);
    HWND dialog = CreateFromSpan(instance, bytes, owner, proc, param, unicodeProc);
    return dialog ? RunModal(dialog, owner) : -1;
}

std::span<const BYTE> TemplateSpan(HINSTANCE instance, LPCDLGTEMPLATEW tmpl) { return TemplateBytes(instance, tmpl); }
std::span<const BYTE> ResourceTemplateSpan(HINSTANCE instance, LPCWSTR name) { return ResourceTemplate(instance, name); }

bool InModalLoop(HWND dialog) {
    auto* d = DataOfDialog(dialog);
    return d && d->modal && !d->ended;
}

SIZE DialogBaseUnits(HWND dialog) {
    auto* d = DataOfDialog(dialog);
    return d ? SIZE{d->baseX, d->baseY} : SIZE{kSystemBaseX, kSystemBaseY};
}

}  // namespace zq::user

extern "C" {

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param) {
    return CreateFromSpan(instance, TemplateBytes(instance, tmpl), owner, proc, param, true);
}

HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param) {
    return CreateFromSpan(instance, TemplateBytes(instance, tmpl), owner, proc, param, false);
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    const auto bytes = ResourceTemplate(instance, name);
    if (bytes.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateFromSpan(instance, bytes, owner, proc, param, true);
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    const std::u16string wide = IS_INTRESOURCE(name) ? std::u16string() : zq::AnsiToWide(name);
    const auto bytes =
        ResourceTemplate(instance, IS_INTRESOURCE(name) ? reinterpret_cast<LPCWSTR>(name) : wide.c_str());
    if (bytes.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateFromSpan(instance, bytes, owner, proc, param, false);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param) {
    return zq::user::DialogBoxFromBytes(instance, TemplateBytes(instance, tmpl), owner, proc, param, true);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param) {
    return zq::user::DialogBoxFromBytes(instance, TemplateBytes(instance, tmpl), owner, proc, param, false);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    const auto bytes = ResourceTemplate(instance, name);
    if (bytes.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    return zq::user::DialogBoxFromBytes(instance, bytes, owner, proc, param, true);
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    const std::u16string wide = IS_INTRESOURCE(name) ? std::u16string() : zq::AnsiToWide(name);
    const auto bytes =
        ResourceTemplate(instance, IS_INTRESOURCE(name) ? reinterpret_cast<LPCWSTR>(name) : wide.c_str());
    if (bytes.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    return zq::user::DialogBoxFromBytes(instance, bytes, owner, proc, param, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    auto* d = DataOfDialog(dialog);
    if (!d) {
        if (!Get(dialog)) return FALSE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    d->ended = true;
    d->result = result;
    // The dialog disappears now; the loop destroys it when it returns.
    if (d->modal) ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

LRESULT DefDlgProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = Find(hwnd);
    if (!w) return 0;
    DialogData* d = DataOfDialog(hwnd);
    if (!d && message == WM_NCCREATE) {
        // Dialogs created by CreateWindow on the dialog class get data here.
        SetData(hwnd, std::make_unique<DialogData>());
        d = DataOfDialog(hwnd);
    }
    if (d && d->proc) {
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
        const LRESULT r = CallDialogProc(d, hwnd, message, wParam, lParam);
        if (!IsWindow(hwnd)) return r;
        switch (message) {
        // These answer with the procedure's own value.
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOR:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
            if (r) return r;
            break;
        default:
            if (r) return GetWindowLongPtrW(hwnd, DWLP_MSGRESULT);
            break;
        }
        d = DataOfDialog(hwnd);
    }
    switch (message) {
    case WM_ERASEBKGND: {
        HBRUSH brush = reinterpret_cast<HBRUSH>(
            SendMessageW(hwnd, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(hwnd)));
        if (!brush) brush = GetSysColorBrush(COLOR_BTNFACE);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
        return 1;
    }
    case WM_SETFONT:
        if (d) d->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT: return d ? reinterpret_cast<LRESULT>(d->font) : 0;
    case WM_CLOSE: {
        HWND cancel = GetDlgItem(hwnd, IDCANCEL);
        if (!cancel || IsWindowEnabled(cancel))
            PostMessageW(hwnd, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_SETFOCUS: {
        HWND target = d && d->lastFocus && IsChild(hwnd, d->lastFocus) && IsTabCandidate(d->lastFocus)
                          ? d->lastFocus
                          : FirstTabStop(hwnd);
        if (target) FocusControl(hwnd, target);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (d && focus && IsChild(hwnd, focus)) d->lastFocus = focus;
        } else if (d && d->lastFocus && IsWindow(d->lastFocus)) {
            SetFocus(d->lastFocus);
        } else {
            SendMessageW(hwnd, WM_SETFOCUS, 0, 0);
        }
        return 0;
    case WM_NEXTDLGCTL: {
        HWND target = nullptr;
        if (LOWORD(lParam)) target = reinterpret_cast<HWND>(wParam);
        else target = GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0);
        if (target) FocusControl(hwnd, target);
        return 0;
    }
    case DM_GETDEFID:
        if (d && d->defId) return MAKELONG(d->defId, DC_HASDEFID);
        return 0;
    case DM_SETDEFID:
        SetDefaultButton(hwnd, d, static_cast<WORD>(wParam));
        return TRUE;
    case WM_GETDLGCODE: return 0;
    case WM_INITDIALOG: return 0;
    case WM_COMMAND:
    case WM_NOTIFY: return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT DefDlgProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallProc(DefDlgProcW, true, hwnd, message, wParam, lParam, false);
}

BOOL IsDialogMessageW(HWND dialog, MSG* msg) {
    if (!msg || !IsWindow(dialog)) return FALSE;
    if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
    if (msg->message == WM_KEYDOWN) {
        const LRESULT code = SendMessageW(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
        if (!(code & (DLGC_WANTMESSAGE | DLGC_WANTALLKEYS))) {
            switch (msg->wParam) {
            case VK_TAB:
                if (!(code & DLGC_WANTTAB)) {
                    SendMessageW(dialog, WM_NEXTDLGCTL, GetKeyState(VK_SHIFT) < 0, 0);
                    return TRUE;
                }
                break;
            case VK_LEFT:
            case VK_UP:
            case VK_RIGHT:
            case VK_DOWN:
                if (!(code & DLGC_WANTARROWS)) {
                    HWND next = GetNextDlgGroupItem(dialog, msg->hwnd, msg->wParam == VK_LEFT || msg->wParam == VK_UP);
                    if (next && next != msg->hwnd) {
                        FocusControl(dialog, next);
                        if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON)
                            SendMessageW(next, BM_CLICK, 0, 0);
                    }
                    return TRUE;
                }
                break;
            case VK_RETURN: {
                WORD id = IDOK;
                HWND button = nullptr;
                if (code & DLGC_DEFPUSHBUTTON) {
                    button = msg->hwnd;
                    id = static_cast<WORD>(GetDlgCtrlID(button));
                } else if (code & DLGC_UNDEFPUSHBUTTON) {
                    button = msg->hwnd;
                    id = static_cast<WORD>(GetDlgCtrlID(button));
                } else {
                    const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
                    if (HIWORD(static_cast<DWORD>(def)) == DC_HASDEFID) id = LOWORD(static_cast<DWORD>(def));
                    button = GetDlgItem(dialog, id);
                }
                if (button && !IsWindowEnabled(button)) return TRUE;
                SendMessageW(dialog, WM_COMMAND, MAKELONG(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
                return TRUE;
            }
            case VK_ESCAPE: {
                HWND cancel = GetDlgItem(dialog, IDCANCEL);
                if (cancel && !IsWindowEnabled(cancel)) return TRUE;
                SendMessageW(dialog, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
                return TRUE;
            }
            default: break;
            }
        }
    }
    TranslateMessage(msg);
    DispatchMessageW(msg);
    return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) { return IsDialogMessageW(dialog, msg); }

HWND GetDlgItem(HWND dialog, int id) {
    if (!Get(dialog)) return nullptr;
    for (HWND h : ChildrenOf(dialog))
        if (static_cast<WORD>(GetWindowLongPtrW(h, GWLP_ID)) == static_cast<WORD>(id)) return h;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (!(w->style & WS_CHILD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return static_cast<int>(w->id);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND h = GetDlgItem(dialog, id);
    return h ? SendMessageW(h, message, wParam, lParam) : 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND h = GetDlgItem(dialog, id);
    return h ? SendMessageA(h, message, wParam, lParam) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND h = GetDlgItem(dialog, id);
    return h ? SetWindowTextW(h, text) : FALSE;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND h = GetDlgItem(dialog, id);
    return h ? SetWindowTextA(h, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size) {
    HWND h = GetDlgItem(dialog, id);
    if (!h) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(h, buffer, size));
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    HWND h = GetDlgItem(dialog, id);
    if (!h) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(h, buffer, size));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    const std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextW(dialog, id, zq::Utf8ToUtf16(text).c_str());
}

// Leading and trailing blanks are allowed; anything else, or a value out of
// range, answers 0 with `translated` FALSE.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND h = GetDlgItem(dialog, id);
    if (!h) return 0;
    std::u16string text = zq::user::WindowText(h);
    size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        if (negative && !isSigned) return 0;
        ++i;
    }
    const size_t digitsStart = i;
    int64_t value = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i] - u'0');
        if (value > 0xFFFFFFFFll) return 0;
        ++i;
    }
    if (i == digitsStart) return 0;
    while (i < text.size() && text[i] == u' ') ++i;
    if (i != text.size()) return 0;
    if (negative) value = -value;
    if (isSigned ? (value < INT32_MIN || value > INT32_MAX) : value > 0xFFFFFFFFll) return 0;
    if (translated) *translated = TRUE;
    return static_cast<UINT>(static_cast<int64_t>(value));
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND h = GetDlgItem(dialog, id);
    if (!h) return FALSE;
    SendMessageW(h, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    HWND h = GetDlgItem(dialog, id);
    return h ? static_cast<UINT>(SendMessageW(h, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    if (!Get(dialog)) return FALSE;
    for (HWND h : ChildrenOf(dialog)) {
        const int id = static_cast<int>(GetWindowLongPtrW(h, GWLP_ID));
        if (id >= first && id <= last) SendMessageW(h, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

// The tab ring: the dialog's controls in z-order (those of control parents
// in their place), only those with WS_TABSTOP that are visible and enabled,
// wrapping at either end.
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
    if (!Get(dialog)) return nullptr;
    std::vector<HWND> all = ControlsOf(dialog);
    std::vector<HWND> ring;
    for (HWND h : all)
        if ((GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) && IsTabCandidate(h)) ring.push_back(h);
    if (ring.empty()) return control;
    auto at = std::find(all.begin(), all.end(), control);
    if (at == all.end()) return previous ? ring.back() : ring.front();
    const size_t n = all.size();
    const size_t start = static_cast<size_t>(at - all.begin());
    for (size_t k = 1; k <= n; ++k) {
        const size_t i = previous ? (start + n - k) % n : (start + k) % n;
        if (std::find(ring.begin(), ring.end(), all[i]) != ring.end()) return all[i];
    }
    return control;
}

// A group runs from a control with WS_GROUP to the next one; hidden and
// disabled controls are stepped over.
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
    if (!Get(dialog)) return nullptr;
    std::vector<HWND> all = ControlsOf(dialog);
    auto at = std::find(all.begin(), all.end(), control);
    if (at == all.end()) return nullptr;
    size_t first = static_cast<size_t>(at - all.begin());
    while (first > 0 && !(GetWindowLongW(all[first], GWL_STYLE) & WS_GROUP)) --first;
    size_t end = first + 1;
    while (end < all.size() && !(GetWindowLongW(all[end], GWL_STYLE) & WS_GROUP)) ++end;
    const size_t n = end - first;
    const size_t pos = static_cast<size_t>(at - all.begin()) - first;
    for (size_t k = 1; k <= n; ++k) {
        const size_t i = first + (previous ? (pos + n - k) % n : (pos + k) % n);
        if (IsTabCandidate(all[i])) return all[i];
    }
    return control;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
    auto* d = DataOfDialog(dialog);
    if (!d || !rect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    rect->left = MulDiv(rect->left, d->baseX, 4);
    rect->right = MulDiv(rect->right, d->baseX, 4);
    rect->top = MulDiv(rect->top, d->baseY, 8);
    rect->bottom = MulDiv(rect->bottom, d->baseY, 8);
    return TRUE;
}

LONG GetDialogBaseUnits() { return static_cast<LONG>(MAKELONG(kSystemBaseX, kSystemBaseY)); }

}  // extern "C"
