// Window classes and windows: creation and destruction, the tree of
// parents, owners and z-order, extra bytes, properties, text, visibility
// and enabling.
#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "user/window.h"
#include "user/window_internal.h"

namespace zq::user::detail {

namespace {

struct Tables {
    std::recursive_mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<std::shared_ptr<WindowClass>> classes;
    std::vector<HWND> topLevel;  // front to back
    uintptr_t nextHandle = 0x10020;
    ATOM nextAtom = 0xC000;
};

Tables& T() {
    static Tables* tables = new Tables;  // lives until exit, after every window
    return *tables;
}

}  // namespace

std::recursive_mutex& Lock() { return T().lock; }

std::shared_ptr<Window> Find(HWND hwnd) {
    std::lock_guard guard(Lock());
    auto it = T().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == T().windows.end() || it->second->destroyed) return nullptr;
    return it->second;
}

std::shared_ptr<Window> Get(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

std::shared_ptr<WindowClass> FindClass(std::u16string_view name, HINSTANCE instance) {
    EnsureSystemClasses();
    std::lock_guard guard(Lock());
    std::shared_ptr<WindowClass> any;
    for (auto& c : T().classes) {
        if (!EqualsIgnoreCase(c->name, name)) continue;
        if (c->instance == instance && !c->system) return c;
        if (!any || (c->system && !any->system)) any = c;
    }
    return any;
}

ControlData* Data(HWND hwnd) {
    auto w = Find(hwnd);
    return w ? w->data.get() : nullptr;
}

void SetData(HWND hwnd, std::unique_ptr<ControlData> data) {
    if (auto w = Find(hwnd)) w->data = std::move(data);
}

bool IsClass(HWND hwnd, std::u16string_view name) {
    auto w = Find(hwnd);
    return w && EqualsIgnoreCase(w->cls->name, name);
}

void RegisterSystemClass(std::u16string_view name, WNDPROC proc, UINT style, int wndExtra, HBRUSH background) {
    auto c = std::make_shared<WindowClass>();
    c->name = name;
    c->proc = proc;
    c->style = style | CS_GLOBALCLASS;
    c->wndExtra = wndExtra;
    c->background = background;
    c->system = true;
    std::lock_guard guard(Lock());
    c->atom = T().nextAtom++;
    T().classes.push_back(std::move(c));
}

POINT ClientOrigin(const Window& w) {
    POINT p{w.rect.left + w.inset.left, w.rect.top + w.inset.top};
    if (auto parent = Find(w.parent)) {
        const POINT o = ClientOrigin(*parent);
        p.x += o.x;
        p.y += o.y;
    }
    return p;
}

RECT ClientRect(const Window& w) {
    const LONG width = (w.rect.right - w.rect.left) - w.inset.left - w.inset.right;
    const LONG height = (w.rect.bottom - w.rect.top) - w.inset.top - w.inset.bottom;
    return RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
}

void NotifyParent(HWND control, WORD code) {
    auto w = Find(control);
    if (!w || !w->parent) return;
    SendMessageW(w->parent, WM_COMMAND, MAKELONG(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(control));
}

LRESULT NotifyParentCode(HWND control, UINT code) {
    NMHDR nm{control, static_cast<UINT_PTR>(GetWindowLongPtrW(control, GWLP_ID)), code};
    HWND parent = GetParent(control);
    return parent ? SendMessageW(parent, WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm)) : 0;
}

}  // namespace zq::user::detail

using namespace zq::user::detail;

namespace {

std::shared_ptr<WindowClass> ClassOf(LPCWSTR name, HINSTANCE instance) {
    if (!name) return nullptr;
    if (IS_INTRESOURCE(name)) {
        EnsureSystemClasses();
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        std::lock_guard guard(Lock());
        for (auto& c : T().classes)
            if (c->atom == atom) return c;
        return nullptr;
    }
    return FindClass(name, instance);
}

std::u16string AnsiOrEmpty(LPCSTR s) { return s ? zq::AnsiToWide(s) : std::u16string(); }

// Extra bytes are read and written at byte offsets; a field that does not
// fit fails with ERROR_INVALID_INDEX and changes nothing.
template <class T>
bool ReadAt(const std::vector<BYTE>& bytes, int index, T& out) {
    if (index < 0 || static_cast<size_t>(index) + sizeof(T) > bytes.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        out = T{};
        return false;
    }
    std::memcpy(&out, bytes.data() + index, sizeof(T));
    return true;
}

template <class T>
T SwapAt(std::vector<BYTE>& bytes, int index, T value) {
    T old{};
    if (!ReadAt(bytes, index, old)) return T{};
    std::memcpy(bytes.data() + index, &value, sizeof(T));
    return old;
}

ATOM Register(const WNDCLASSEXW& wc, bool unicode) {
    if (!wc.lpszClassName || !wc.lpfnWndProc || wc.cbClsExtra < 0 || wc.cbWndExtra < 0 || wc.cbClsExtra > 40000 ||
        wc.cbWndExtra > 40000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string name = IS_INTRESOURCE(wc.lpszClassName) ? std::u16string() : wc.lpszClassName;
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard guard(Lock());
    for (auto& c : T().classes) {
        if (!c->system && c->instance == wc.hInstance && zq::EqualsIgnoreCase(c->name, name)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    auto c = std::make_shared<WindowClass>();
    c->name = name;
    c->style = wc.style;
    c->proc = wc.lpfnWndProc;
    c->unicode = unicode;
    c->clsExtra = wc.cbClsExtra;
    c->wndExtra = wc.cbWndExtra;
    c->instance = wc.hInstance;
    c->icon = wc.hIcon;
    c->iconSmall = wc.hIconSm;
    c->cursor = wc.hCursor;
    c->background = wc.hbrBackground;
    if (wc.lpszMenuName && !IS_INTRESOURCE(wc.lpszMenuName)) c->menuName = wc.lpszMenuName;
    c->extra.assign(static_cast<size_t>(wc.cbClsExtra), 0);
    c->atom = T().nextAtom++;
    T().classes.push_back(c);
    return c->atom;
}

WNDCLASSEXW FromClassA(const WNDCLASSEXA& a, std::u16string& name, std::u16string& menu) {
    WNDCLASSEXW w{};
    w.cbSize = sizeof(w);
    w.style = a.style;
    w.lpfnWndProc = a.lpfnWndProc;
    w.cbClsExtra = a.cbClsExtra;
    w.cbWndExtra = a.cbWndExtra;
    w.hInstance = a.hInstance;
    w.hIcon = a.hIcon;
    w.hCursor = a.hCursor;
    w.hbrBackground = a.hbrBackground;
    w.hIconSm = a.hIconSm;
    if (a.lpszClassName) {
        if (IS_INTRESOURCE(a.lpszClassName)) {
            w.lpszClassName = reinterpret_cast<LPCWSTR>(a.lpszClassName);
        } else {
            name = zq::AnsiToWide(a.lpszClassName);
            w.lpszClassName = name.c_str();
        }
    }
    if (a.lpszMenuName && !IS_INTRESOURCE(a.lpszMenuName)) {
        menu = zq::AnsiToWide(a.lpszMenuName);
        w.lpszMenuName = menu.c_str();
    }
    return w;
}

void Unlink(Window& w) {
    auto& list = w.parent ? Find(w.parent)->children : T().topLevel;
    list.erase(std::remove(list.begin(), list.end(), w.handle), list.end());
}

std::vector<HWND>* Siblings(const Window& w) {
    if (!w.parent) return &T().topLevel;
    auto p = Find(w.parent);
    return p ? &p->children : nullptr;
}

// Frame edges of a style, as the classic look draws them.
RECT FrameInsets(DWORD style, DWORD exStyle, bool menu) {
    RECT r{0, 0, 0, 0};
    auto grow = [&r](int n) {
        r.left += n;
        r.top += n;
        r.right += n;
        r.bottom += n;
    };
    if (style & WS_THICKFRAME) {
        grow(GetSystemMetrics(SM_CXFRAME));
    } else if ((exStyle & WS_EX_DLGMODALFRAME) || (style & WS_DLGFRAME)) {
        grow(GetSystemMetrics(SM_CXDLGFRAME));
    } else if (style & WS_BORDER) {
        grow(GetSystemMetrics(SM_CXBORDER));
    }
    if ((style & WS_CAPTION) == WS_CAPTION) r.top += GetSystemMetrics(SM_CYCAPTION);
    if (exStyle & WS_EX_CLIENTEDGE) grow(GetSystemMetrics(SM_CXEDGE));
    if (exStyle & WS_EX_STATICEDGE) grow(GetSystemMetrics(SM_CXBORDER));
    if (menu) r.top += GetSystemMetrics(SM_CYMENU);
    return r;
}

int ScreenWidth = 1280;
int ScreenHeight = 1024;

void ApplyClient(const std::shared_ptr<Window>& w) {
    NCCALCSIZE_PARAMS params{};
    params.rgrc[0] = w->rect;
    SendMessageW(w->handle, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&params));
    const RECT& c = params.rgrc[0];
    std::lock_guard guard(Lock());
    w->inset = RECT{c.left - w->rect.left, c.top - w->rect.top, w->rect.right - c.right, w->rect.bottom - c.bottom};
    const LONG width = w->rect.right - w->rect.left;
    const LONG height = w->rect.bottom - w->rect.top;
    // A client never reaches outside its window.
    w->inset.left = std::clamp<LONG>(w->inset.left, 0, width);
    w->inset.right = std::clamp<LONG>(w->inset.right, 0, width - w->inset.left);
    w->inset.top = std::clamp<LONG>(w->inset.top, 0, height);
    w->inset.bottom = std::clamp<LONG>(w->inset.bottom, 0, height - w->inset.top);
}

bool IsAncestor(HWND ancestor, HWND hwnd) {
    for (auto w = Find(hwnd); w; w = Find(w->parent))
        if (w->parent == ancestor) return true;
    return false;
}

// Every window below `w` (children before their own children), for
// destruction.
void CollectDescendants(const Window& w, std::vector<HWND>& out) {
    for (HWND c : w.children) {
        out.push_back(c);
        if (auto cw = Find(c)) CollectDescendants(*cw, out);
    }
}

}  // namespace

namespace zq::user::detail {
RECT FrameEdges(DWORD style, DWORD exStyle, bool menu) { return FrameInsets(style, exStyle, menu); }
}  // namespace zq::user::detail

namespace zq::user {

void SetScreenSize(int width, int height) {
    ScreenWidth = std::max(width, 1);
    ScreenHeight = std::max(height, 1);
}

std::vector<HWND> AllWindows() {
    std::lock_guard guard(Lock());
    std::vector<HWND> out;
    for (HWND h : T().topLevel) {
        out.push_back(h);
        if (auto w = Find(h)) CollectDescendants(*w, out);
    }
    return out;
}

std::u16string WindowText(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) return {};
    const int n = GetWindowTextLengthW(hwnd);
    std::u16string text(static_cast<size_t>(std::max(n, 0)) + 1, u'\0');
    const int got = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

std::string WindowTextUtf8(HWND hwnd) { return Utf16ToUtf8(WindowText(hwnd)); }

std::u16string ClassName(HWND hwnd) {
    auto w = Find(hwnd);
    return w ? w->cls->name : std::u16string();
}

}  // namespace zq::user

extern "C" {

// ---- Classes --------------------------------------------------------------

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Register(*wc, true);
}

ATOM RegisterClassW(const WNDCLASSW* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXW ex{sizeof(ex), wc->style, wc->lpfnWndProc, wc->cbClsExtra, wc->cbWndExtra, wc->hInstance, wc->hIcon,
                   wc->hCursor, wc->hbrBackground, wc->lpszMenuName, wc->lpszClassName, nullptr};
    return Register(ex, true);
}

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string name, menu;
    return Register(FromClassA(*wc, name, menu), false);
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXA ex{sizeof(ex), wc->style, wc->lpfnWndProc, wc->cbClsExtra, wc->cbWndExtra, wc->hInstance, wc->hIcon,
                   wc->hCursor, wc->hbrBackground, wc->lpszMenuName, wc->lpszClassName, nullptr};
    std::u16string name, menu;
    return Register(FromClassA(ex, name, menu), false);
}

BOOL UnregisterClassW(LPCWSTR name, HINSTANCE instance) {
    std::lock_guard guard(Lock());
    auto c = ClassOf(name, instance);
    if (!c || c->system || c->instance != instance) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (c->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    auto& list = T().classes;
    list.erase(std::remove(list.begin(), list.end(), c), list.end());
    return TRUE;
}

BOOL UnregisterClassA(LPCSTR name, HINSTANCE instance) {
    if (name && !IS_INTRESOURCE(name)) return UnregisterClassW(AnsiOrEmpty(name).c_str(), instance);
    return UnregisterClassW(reinterpret_cast<LPCWSTR>(name), instance);
}

BOOL GetClassInfoExW(HINSTANCE instance, LPCWSTR name, WNDCLASSEXW* wc) {
    auto c = ClassOf(name, instance);
    if (!c || !wc) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wc = WNDCLASSEXW{sizeof(WNDCLASSEXW), c->style, c->proc, c->clsExtra, c->wndExtra, c->instance, c->icon,
                      c->cursor, c->background, nullptr, name, c->iconSmall};
    return c->atom;
}

BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR name, WNDCLASSW* wc) {
    WNDCLASSEXW ex{};
    ex.cbSize = sizeof(ex);
    const BOOL ok = GetClassInfoExW(instance, name, &ex);
    if (ok && wc)
        *wc = WNDCLASSW{ex.style, ex.lpfnWndProc, ex.cbClsExtra, ex.cbWndExtra, ex.hInstance, ex.hIcon, ex.hCursor,
                        ex.hbrBackground, nullptr, name};
    return ok;
}

BOOL GetClassInfoExA(HINSTANCE instance, LPCSTR name, WNDCLASSEXA* wc) {
    const std::u16string wide = name && !IS_INTRESOURCE(name) ? AnsiOrEmpty(name) : std::u16string();
    WNDCLASSEXW ex{};
    ex.cbSize = sizeof(ex);
    const BOOL ok =
        GetClassInfoExW(instance, IS_INTRESOURCE(name) ? reinterpret_cast<LPCWSTR>(name) : wide.c_str(), &ex);
    if (ok && wc)
        *wc = WNDCLASSEXA{sizeof(WNDCLASSEXA), ex.style,   ex.lpfnWndProc, ex.cbClsExtra, ex.cbWndExtra, ex.hInstance,
                          ex.hIcon,            ex.hCursor, ex.hbrBackground, nullptr,     name,          ex.hIconSm};
    return ok;
}

int GetClassNameW(HWND hwnd, LPWSTR buffer, int size) {
    auto w = Get(hwnd);
    if (!w || !buffer || size <= 0) return 0;
    const int n = std::min<int>(static_cast<int>(w->cls->name.size()), size - 1);
    std::copy_n(w->cls->name.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

int GetClassNameA(HWND hwnd, LPSTR buffer, int size) {
    auto w = Get(hwnd);
    if (!w || !buffer || size <= 0) return 0;
    const std::string a = zq::WideToAnsi(w->cls->name);
    const int n = std::min<int>(static_cast<int>(a.size()), size - 1);
    std::memcpy(buffer, a.data(), static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}

ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) {
    auto w = Get(hwnd);
    if (!w) return 0;
    const auto& c = *w->cls;
    if (index >= 0) {
        ULONG_PTR v = 0;
        return ReadAt(c.extra, index, v) ? v : 0;
    }
    switch (index) {
    case GCLP_HBRBACKGROUND: return reinterpret_cast<ULONG_PTR>(c.background);
    case GCLP_HCURSOR: return reinterpret_cast<ULONG_PTR>(c.cursor);
    case GCLP_HICON: return reinterpret_cast<ULONG_PTR>(c.icon);
    case GCLP_HMODULE: return reinterpret_cast<ULONG_PTR>(c.instance);
    case GCL_CBWNDEXTRA: return static_cast<ULONG_PTR>(c.wndExtra);
    case GCL_CBCLSEXTRA: return static_cast<ULONG_PTR>(c.clsExtra);
    case GCLP_WNDPROC: return reinterpret_cast<ULONG_PTR>(c.proc);
    case GCL_STYLE: return c.style;
    case GCW_ATOM: return c.atom;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
    }
}

DWORD GetClassLongW(HWND hwnd, int index) {
    auto w = Get(hwnd);
    if (!w) return 0;
    DWORD v = 0;
    if (index >= 0) return ReadAt(w->cls->extra, index, v) ? v : 0;
    return static_cast<DWORD>(GetClassLongPtrW(hwnd, index));
}

WORD GetClassWord(HWND hwnd, int index) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (index == GCW_ATOM) return w->cls->atom;
    WORD v = 0;
    ReadAt(w->cls->extra, index, v);
    return v;
}

ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    auto w = Get(hwnd);
    if (!w) return 0;
    auto& c = *w->cls;
    if (index >= 0) return static_cast<ULONG_PTR>(SwapAt(c.extra, index, value));
    const ULONG_PTR old = GetClassLongPtrW(hwnd, index);
    switch (index) {
    case GCLP_HBRBACKGROUND: c.background = reinterpret_cast<HBRUSH>(value); break;
    case GCLP_HCURSOR: c.cursor = reinterpret_cast<HCURSOR>(value); break;
    case GCLP_HICON: c.icon = reinterpret_cast<HICON>(value); break;
    case GCL_STYLE: c.style = static_cast<UINT>(value); break;
    case GCLP_WNDPROC: c.proc = reinterpret_cast<WNDPROC>(value); break;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
    }
    return old;
}

// ---- Creation and destruction -------------------------------------------

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    auto cls = ClassOf(className, instance);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    HWND owner = nullptr;
    if (parent == HWND_MESSAGE) parent = nullptr;
    if (style & WS_CHILD) {
        if (!parent || !Find(parent)) {
            SetLastError(parent ? ERROR_INVALID_WINDOW_HANDLE : 1406 /* a child needs a parent */);
            return nullptr;
        }
    } else if (parent) {
        if (!Find(parent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        owner = GetAncestor(parent, GA_ROOT);
        parent = nullptr;
    }
    const bool child = (style & WS_CHILD) != 0;
    if (!child) {
        if (x == CW_USEDEFAULT) x = y = 0;
        if (width == CW_USEDEFAULT) {
            width = ScreenWidth / 2;
            height = ScreenHeight / 2;
        }
        if (!(style & WS_POPUP)) style |= WS_CLIPSIBLINGS | WS_CAPTION;
    } else {
        if (x == CW_USEDEFAULT) x = y = 0;
        if (width == CW_USEDEFAULT) width = height = 0;
    }
    auto w = std::make_shared<Window>();
    {
        std::lock_guard guard(Lock());
        w->handle = reinterpret_cast<HWND>(T().nextHandle);
        T().nextHandle += 4;
        w->cls = cls;
        w->style = style & ~WS_VISIBLE;
        w->exStyle = exStyle;
        w->id = reinterpret_cast<LONG_PTR>(menu);
        w->parent = parent;
        w->owner = owner;
        w->proc = cls->proc;
        w->unicode = cls->unicode;
        w->extra.assign(static_cast<size_t>(cls->wndExtra), 0);
        w->instance = instance;
        w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        w->thread = CurrentThread();
        ++cls->windows;
        T().windows.emplace(reinterpret_cast<uintptr_t>(w->handle), w);
        if (parent)
            Find(parent)->children.push_back(w->handle);  // children: creation order is tab order
        else
            T().topLevel.insert(T().topLevel.begin(), w->handle);
    }
    const HWND hwnd = w->handle;
    CREATESTRUCTW cs{param, instance, menu, parent ? parent : owner, height, width, y, x,
                     static_cast<LONG>(style), windowName, className, exStyle};
    if (!SendMessageW(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        if (Find(hwnd)) DestroyWindow(hwnd);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!Find(hwnd)) return nullptr;
    ApplyClient(w);
    if (SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (Find(hwnd)) DestroyWindow(hwnd);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!Find(hwnd)) return nullptr;
    const RECT client = ClientRect(*w);
    SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELONG(static_cast<WORD>(client.right), static_cast<WORD>(client.bottom)));
    SendMessageW(hwnd, WM_MOVE, 0,
                 MAKELONG(static_cast<WORD>(w->rect.left + w->inset.left), static_cast<WORD>(w->rect.top + w->inset.top)));
    if (child && !(exStyle & WS_EX_NOPARENTNOTIFY) && Find(parent))
        SendMessageW(parent, WM_PARENTNOTIFY, MAKELONG(WM_CREATE, static_cast<WORD>(w->id)),
                     reinterpret_cast<LPARAM>(hwnd));
    if ((style & WS_VISIBLE) && Find(hwnd)) ShowWindow(hwnd, SW_SHOW);
    return Find(hwnd) ? hwnd : nullptr;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    const std::u16string cls = className && !IS_INTRESOURCE(className) ? AnsiOrEmpty(className) : std::u16string();
    const std::u16string name = AnsiOrEmpty(windowName);
    return CreateWindowExW(exStyle, IS_INTRESOURCE(className) ? reinterpret_cast<LPCWSTR>(className) : cls.c_str(),
                           windowName ? name.c_str() : nullptr, style, x, y, width, height, parent, menu, instance,
                           param);
}

BOOL DestroyWindow(HWND hwnd) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    if (w->destroying) return TRUE;
    w->destroying = true;
    // Owned windows go first, then the window with its children: WM_DESTROY
    // from the top down, WM_NCDESTROY from the bottom up.
    std::vector<HWND> owned;
    {
        std::lock_guard guard(Lock());
        for (HWND h : T().topLevel)
            if (auto o = Find(h); o && o->owner == hwnd) owned.push_back(h);
    }
    for (HWND h : owned) DestroyWindow(h);
    if (w->parent && !(w->exStyle & WS_EX_NOPARENTNOTIFY) && Find(w->parent))
        SendMessageW(w->parent, WM_PARENTNOTIFY, MAKELONG(WM_DESTROY, static_cast<WORD>(w->id)),
                     reinterpret_cast<LPARAM>(hwnd));
    if (w->style & WS_VISIBLE) {
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    MoveFocusAway(hwnd);
    std::vector<HWND> all{hwnd};
    CollectDescendants(*w, all);
    for (HWND h : all) {
        if (auto d = Find(h)) {
            d->destroying = true;
            SendMessageW(h, WM_DESTROY, 0, 0);
        }
    }
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        auto d = Find(*it);
        if (!d) continue;
        SendMessageW(*it, WM_NCDESTROY, 0, 0);
        KillWindowTimers(*it);
        ForgetWindowState(*it);
        DestroyMenuBar(*it);
        DropSurface(*it);
        std::lock_guard guard(Lock());
        if (d->parent) {
            if (auto p = T().windows.find(reinterpret_cast<uintptr_t>(d->parent)); p != T().windows.end()) {
                auto& list = p->second->children;
                list.erase(std::remove(list.begin(), list.end(), *it), list.end());
            }
        } else {
            auto& list = T().topLevel;
            list.erase(std::remove(list.begin(), list.end(), *it), list.end());
        }
        d->destroyed = true;
        ProcsChanged();
        --d->cls->windows;
        d->props.clear();
        DropProcHandles(d->procHandles);
        d->procHandles.clear();
        T().windows.erase(reinterpret_cast<uintptr_t>(*it));
        // The record itself lives on while a dispatch still holds it; its
        // handle is never given out again.
    }
    return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) != nullptr; }

BOOL IsChild(HWND parent, HWND hwnd) { return Find(parent) && IsAncestor(parent, hwnd); }

HWND GetParent(HWND hwnd) {
    auto w = Get(hwnd);
    if (!w) return nullptr;
    if (w->style & WS_CHILD) return w->parent;
    return (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND SetParent(HWND hwnd, HWND parent) {
    auto w = Get(hwnd);
    if (!w) return nullptr;
    if (parent && !Get(parent)) return nullptr;
    if (parent == hwnd || (parent && IsAncestor(hwnd, parent))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard guard(Lock());
    const HWND old = w->parent;
    Unlink(*w);
    w->parent = parent;
    if (parent)
        Find(parent)->children.insert(Find(parent)->children.begin(), hwnd);
    else
        T().topLevel.insert(T().topLevel.begin(), hwnd);
    return old;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
    auto w = Get(hwnd);
    if (!w) return nullptr;
    switch (flags) {
    case GA_PARENT: return w->parent;
    case GA_ROOT: {
        HWND h = hwnd;
        for (auto x = w; x && x->parent; x = Find(x->parent)) h = x->parent;
        return h;
    }
    case GA_ROOTOWNER: {
        HWND h = GetAncestor(hwnd, GA_ROOT);
        for (auto x = Find(h); x && x->owner; x = Find(x->owner)) h = GetAncestor(x->owner, GA_ROOT);
        return h;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
    }
}

HWND GetWindow(HWND hwnd, UINT cmd) {
    auto w = Get(hwnd);
    if (!w) return nullptr;
    std::lock_guard guard(Lock());
    switch (cmd) {
    case GW_CHILD: return w->children.empty() ? nullptr : w->children.front();
    case GW_OWNER: return w->owner;
    case GW_ENABLEDPOPUP: {
        for (HWND h : T().topLevel)
            if (auto o = Find(h); o && o->owner == hwnd && (o->style & WS_VISIBLE) && !(o->style & WS_DISABLED))
                return h;
        return nullptr;
    }
    case GW_HWNDFIRST:
    case GW_HWNDLAST:
    case GW_HWNDNEXT:
    case GW_HWNDPREV: {
        const auto* list = Siblings(*w);
        if (!list || list->empty()) return nullptr;
        if (cmd == GW_HWNDFIRST) return list->front();
        if (cmd == GW_HWNDLAST) return list->back();
        auto it = std::find(list->begin(), list->end(), hwnd);
        if (it == list->end()) return nullptr;
        if (cmd == GW_HWNDNEXT) return (it + 1 == list->end()) ? nullptr : *(it + 1);
        return it == list->begin() ? nullptr : *(it - 1);
    }
    default: SetLastError(ERROR_INVALID_GW_COMMAND); return nullptr;
    }
}

HWND GetTopWindow(HWND hwnd) {
    if (!hwnd) {
        std::lock_guard guard(Lock());
        return T().topLevel.empty() ? nullptr : T().topLevel.front();
    }
    return GetWindow(hwnd, GW_CHILD);
}

HWND GetDesktopWindow() { return nullptr; }

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param) {
    std::vector<HWND> all;
    if (parent) {
        auto w = Get(parent);
        if (!w) return FALSE;
        std::lock_guard guard(Lock());
        CollectDescendants(*w, all);
    } else {
        all = zq::user::AllWindows();
    }
    for (HWND h : all)
        if (Find(h) && !proc(h, param)) return FALSE;
    return TRUE;
}

BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM param) {
    std::vector<HWND> tops;
    {
        std::lock_guard guard(Lock());
        for (HWND h : T().topLevel)
            if (auto w = Find(h); w && w->thread == threadId) tops.push_back(h);
    }
    for (HWND h : tops)
        if (Find(h) && !proc(h, param)) return FALSE;
    return TRUE;
}

HWND FindWindowExW(HWND parent, HWND after, LPCWSTR className, LPCWSTR windowName) {
    std::vector<HWND> list;
    {
        std::lock_guard guard(Lock());
        if (parent) {
            auto p = Get(parent);
            if (!p) return nullptr;
            list = p->children;
        } else {
            list = T().topLevel;
        }
    }
    auto it = list.begin();
    if (after) {
        it = std::find(list.begin(), list.end(), after);
        if (it == list.end()) return nullptr;
        ++it;
    }
    auto cls = className ? ClassOf(className, nullptr) : nullptr;
    if (className && !cls) return nullptr;
    for (; it != list.end(); ++it) {
        auto w = Find(*it);
        if (!w) continue;
        if (cls && w->cls != cls && !zq::EqualsIgnoreCase(w->cls->name, cls->name)) continue;
        if (windowName && w->text != windowName) continue;
        return *it;
    }
    return nullptr;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    return FindWindowExW(nullptr, nullptr, className, windowName);
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (processId) *processId = 1;
    return w->thread;
}

DWORD GetCurrentThreadId() { return CurrentThread(); }

// ---- Extra bytes and fields ----------------------------------------------

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (index >= 0) {
        LONG_PTR v = 0;
        return ReadAt(w->extra, index, v) ? v : 0;
    }
    switch (index) {
    case GWLP_WNDPROC: {
        return ProcForCaller(*w, true);
    }
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_ID: return w->id;
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWLP_USERDATA: return w->userData;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
    }
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (index >= 0) return SwapAt(w->extra, index, value);
    switch (index) {
    case GWLP_WNDPROC: {
        return SwapProc(*w, value, true);
    }
    case GWLP_HINSTANCE: {
        const auto old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(value);
        return old;
    }
    case GWLP_HWNDPARENT: {
        const auto old = reinterpret_cast<LONG_PTR>(w->owner);
        if (!(w->style & WS_CHILD)) w->owner = reinterpret_cast<HWND>(value);
        return old;
    }
    case GWLP_ID: {
        const LONG_PTR old = w->id;
        w->id = value;
        return old;
    }
    case GWL_STYLE:
    case GWL_EXSTYLE: {
        const bool ex = index == GWL_EXSTYLE;
        STYLESTRUCT ss{ex ? w->exStyle : w->style, static_cast<DWORD>(value)};
        SendMessageW(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        if (!Find(hwnd)) return 0;
        const DWORD old = ex ? w->exStyle : w->style;
        (ex ? w->exStyle : w->style) = ss.styleNew;
        ss.styleOld = old;
        SendMessageW(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        return static_cast<LONG>(old);
    }
    case GWLP_USERDATA: {
        const LONG_PTR old = w->userData;
        w->userData = value;
        return old;
    }
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
    }
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    if (index == GWLP_WNDPROC) {
        auto w = Get(hwnd);
        if (!w) return 0;
        return ProcForCaller(*w, false);
    }
    return GetWindowLongPtrW(hwnd, index);
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    if (index == GWLP_WNDPROC) {
        auto w = Get(hwnd);
        if (!w) return 0;
        return SwapProc(*w, value, false);
    }
    return SetWindowLongPtrW(hwnd, index, value);
}

// The 32-bit forms read and write four bytes at a byte offset; a pointer
// field does not fit and fails as on 64-bit Windows.
LONG GetWindowLongW(HWND hwnd, int index) {
    auto w = Get(hwnd);
    if (!w) return 0;
    LONG v = 0;
    if (index >= 0) return ReadAt(w->extra, index, v) ? v : 0;
    if (index == GWLP_WNDPROC || index == GWLP_HINSTANCE || index == GWLP_HWNDPARENT || index == GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(GetWindowLongPtrW(hwnd, index));
}

LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
    auto w = Get(hwnd);
    if (!w) return 0;
    if (index >= 0) return SwapAt(w->extra, index, value);
    if (index == GWLP_WNDPROC || index == GWLP_HINSTANCE || index == GWLP_HWNDPARENT || index == GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, value));
}

LONG GetWindowLongA(HWND hwnd, int index) { return GetWindowLongW(hwnd, index); }
LONG SetWindowLongA(HWND hwnd, int index, LONG value) { return SetWindowLongW(hwnd, index, value); }

WORD GetWindowWord(HWND hwnd, int index) {
    auto w = Get(hwnd);
    WORD v = 0;
    if (w) ReadAt(w->extra, index, v);
    return v;
}

WORD SetWindowWord(HWND hwnd, int index, WORD value) {
    auto w = Get(hwnd);
    return w ? SwapAt(w->extra, index, value) : 0;
}

BOOL IsWindowUnicode(HWND hwnd) {
    auto w = Get(hwnd);
    return w && w->unicode;
}

// ---- Properties ------------------------------------------------------------

namespace {
std::u16string PropKey(LPCWSTR name) {
    if (IS_INTRESOURCE(name)) return u"#" + zq::Utf8ToUtf16(std::to_string(reinterpret_cast<uintptr_t>(name)));
    return name;
}
std::u16string PropKeyA(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return PropKey(reinterpret_cast<LPCWSTR>(name));
    return zq::AnsiToWide(name);
}
}  // namespace

BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data) {
    auto w = Get(hwnd);
    if (!w || !name) return FALSE;
    const std::u16string key = PropKey(name);
    std::lock_guard guard(Lock());
    for (auto& [k, v] : w->props)
        if (zq::EqualsIgnoreCase(k, key)) {
            v = data;
            return TRUE;
        }
    w->props.emplace_back(key, data);
    return TRUE;
}

HANDLE GetPropW(HWND hwnd, LPCWSTR name) {
    auto w = Find(hwnd);
    if (!w || !name) return nullptr;
    const std::u16string key = PropKey(name);
    std::lock_guard guard(Lock());
    for (auto& [k, v] : w->props)
        if (zq::EqualsIgnoreCase(k, key)) return v;
    return nullptr;
}

HANDLE RemovePropW(HWND hwnd, LPCWSTR name) {
    auto w = Get(hwnd);
    if (!w || !name) return nullptr;
    const std::u16string key = PropKey(name);
    std::lock_guard guard(Lock());
    for (auto it = w->props.begin(); it != w->props.end(); ++it)
        if (zq::EqualsIgnoreCase(it->first, key)) {
            HANDLE v = it->second;
            w->props.erase(it);
            return v;
        }
    return nullptr;
}

BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data) {
    return name ? SetPropW(hwnd, PropKeyA(name).c_str(), data) : FALSE;
}
HANDLE GetPropA(HWND hwnd, LPCSTR name) { return name ? GetPropW(hwnd, PropKeyA(name).c_str()) : nullptr; }
HANDLE RemovePropA(HWND hwnd, LPCSTR name) { return name ? RemovePropW(hwnd, PropKeyA(name).c_str()) : nullptr; }

int EnumPropsW(HWND hwnd, PROPENUMPROCW proc) {
    auto w = Get(hwnd);
    if (!w || !proc) return -1;
    std::vector<std::pair<std::u16string, HANDLE>> copy;
    {
        std::lock_guard guard(Lock());
        copy = w->props;
    }
    int last = -1;
    for (auto& [k, v] : copy) {
        last = proc(hwnd, k.c_str(), v);
        if (!last) break;
    }
    return last;
}

// ---- Text --------------------------------------------------------------------

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
    if (!Get(hwnd)) return FALSE;
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!Get(hwnd)) return FALSE;
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int size) {
    if (!Get(hwnd) || !buffer || size <= 0) return 0;
    buffer[0] = 0;
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    if (!Get(hwnd) || !buffer || size <= 0) return 0;
    buffer[0] = 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND hwnd) {
    if (!Get(hwnd)) return 0;
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int GetWindowTextLengthA(HWND hwnd) {
    if (!Get(hwnd)) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int InternalGetWindowText(HWND hwnd, LPWSTR buffer, int size) {
    auto w = Get(hwnd);
    if (!w || !buffer || size <= 0) return 0;
    const int n = std::min<int>(static_cast<int>(w->text.size()), size - 1);
    std::copy_n(w->text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

// ---- Visibility and enabling ----------------------------------------------

BOOL ShowWindow(HWND hwnd, int cmd) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    const bool was = (w->style & WS_VISIBLE) != 0;
    const bool show = cmd != SW_HIDE && cmd != SW_MINIMIZE;
    if (show == was) return was;
    SendMessageW(hwnd, WM_SHOWWINDOW, show, 0);
    if (!Find(hwnd)) return was;
    UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
    if (cmd == SW_SHOWNA || cmd == SW_SHOWNOACTIVATE || cmd == SW_HIDE || (w->style & WS_CHILD))
        flags |= SWP_NOACTIVATE;
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, flags);
    if (!show) MoveFocusAway(hwnd);
    if (show && !(w->style & WS_CHILD) && !(flags & SWP_NOACTIVATE) && Find(hwnd)) SetActiveWindow(hwnd);
    return was;
}

BOOL IsWindowVisible(HWND hwnd) {
    for (auto w = Find(hwnd); w; w = Find(w->parent)) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (!w->parent) return TRUE;
    }
    return FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    const bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable && wasDisabled) {
        w->style &= ~WS_DISABLED;
        SendMessageW(hwnd, WM_ENABLE, TRUE, 0);
    } else if (!enable && !wasDisabled) {
        w->style |= WS_DISABLED;
        const HWND focus = GetFocus();
        if (focus == hwnd || IsChild(hwnd, focus)) SetFocus(nullptr);
        SendMessageW(hwnd, WM_ENABLE, FALSE, 0);
    }
    if (enable != !wasDisabled && Find(hwnd)) InvalidateRect(hwnd, nullptr, TRUE);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
    auto w = Find(hwnd);
    return w && !(w->style & WS_DISABLED);
}

// ---- Geometry ------------------------------------------------------------------

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    auto w = Get(hwnd);
    if (!w) return FALSE;
    WINDOWPOS pos{hwnd, insertAfter, x, y, width, height, flags};
    if (!(flags & SWP_NOMOVE) || !(flags & SWP_NOSIZE)) {
        if (flags & SWP_NOMOVE) {
            pos.x = w->rect.left;
            pos.y = w->rect.top;
        }
        if (flags & SWP_NOSIZE) {
            pos.cx = w->rect.right - w->rect.left;
            pos.cy = w->rect.bottom - w->rect.top;
        }
    }
    if (!(flags & SWP_NOSENDCHANGING)) {
        SendMessageW(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
        if (!Find(hwnd)) return FALSE;
    }
    flags = pos.flags;
    const RECT before = w->rect;
    bool geometry = false;
    {
        std::lock_guard guard(Lock());
        if (!(flags & SWP_NOMOVE)) {
            const LONG cw = w->rect.right - w->rect.left;
            const LONG ch = w->rect.bottom - w->rect.top;
            w->rect = RECT{pos.x, pos.y, pos.x + cw, pos.y + ch};
        }
        if (!(flags & SWP_NOSIZE)) {
            w->rect.right = w->rect.left + std::max(pos.cx, 0);
            w->rect.bottom = w->rect.top + std::max(pos.cy, 0);
        }
        geometry = before.left != w->rect.left || before.top != w->rect.top ||
                   before.right != w->rect.right || before.bottom != w->rect.bottom;
        if (!(flags & SWP_NOZORDER)) {
            auto* list = Siblings(*w);
            if (list && pos.hwndInsertAfter != hwnd) {
                list->erase(std::remove(list->begin(), list->end(), hwnd), list->end());
                if (pos.hwndInsertAfter == HWND_TOP || pos.hwndInsertAfter == HWND_TOPMOST ||
                    pos.hwndInsertAfter == HWND_NOTOPMOST) {
                    list->insert(list->begin(), hwnd);
                } else if (pos.hwndInsertAfter == HWND_BOTTOM) {
                    list->push_back(hwnd);
                } else {
                    auto it = std::find(list->begin(), list->end(), pos.hwndInsertAfter);
                    list->insert(it == list->end() ? list->end() : it + 1, hwnd);
                }
            }
        }
        if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
        if (flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
    }
    if (geometry || (flags & SWP_FRAMECHANGED)) ApplyClient(w);
    if (!Find(hwnd)) return FALSE;
    if (!(flags & SWP_NOREDRAW) && (geometry || (flags & (SWP_SHOWWINDOW | SWP_FRAMECHANGED)))) {
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    if (flags & SWP_HIDEWINDOW) {
        if (auto p = Find(w->parent)) {
            RECT r = w->rect;
            InvalidateRect(p->handle, &r, TRUE);
        }
    }
    pos.x = w->rect.left;
    pos.y = w->rect.top;
    pos.cx = w->rect.right - w->rect.left;
    pos.cy = w->rect.bottom - w->rect.top;
    if (!geometry) pos.flags |= SWP_NOMOVE | SWP_NOSIZE;
    SendMessageW(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if ((flags & SWP_SHOWWINDOW) && !(flags & SWP_NOACTIVATE) && !(w->style & WS_CHILD) && Find(hwnd))
        SetActiveWindow(hwnd);
    return Find(hwnd) != nullptr;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    auto w = Get(hwnd);
    if (!w || !rect) return FALSE;
    POINT o{0, 0};
    if (auto p = Find(w->parent)) o = ClientOrigin(*p);
    *rect = w->rect;
    OffsetRect(rect, o.x, o.y);
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
    auto w = Get(hwnd);
    if (!w || !rect) return FALSE;
    *rect = ClientRect(*w);
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
    auto w = Get(hwnd);
    if (!w || !point) return FALSE;
    const POINT o = ClientOrigin(*w);
    point->x += o.x;
    point->y += o.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
    auto w = Get(hwnd);
    if (!w || !point) return FALSE;
    const POINT o = ClientOrigin(*w);
    point->x -= o.x;
    point->y -= o.y;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
    POINT a{0, 0}, b{0, 0};
    if (from) {
        auto w = Get(from);
        if (!w) return 0;
        a = ClientOrigin(*w);
    }
    if (to) {
        auto w = Get(to);
        if (!w) return 0;
        b = ClientOrigin(*w);
    }
    const LONG dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; i < count && points; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    SetLastError(0);
    return static_cast<int>(MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect) return FALSE;
    const RECT in = FrameInsets(style, exStyle, menu);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }

HWND ChildWindowFromPoint(HWND parent, POINT point) {
    auto p = Get(parent);
    if (!p) return nullptr;
    const RECT client = ClientRect(*p);
    if (!PtInRect(&client, point)) return nullptr;
    for (HWND h : p->children) {
        auto c = Find(h);
        if (c && (c->style & WS_VISIBLE) && PtInRect(&c->rect, point)) return h;
    }
    return parent;
}

// The deepest visible, enabled window under a screen point, front first.
HWND WindowFromPoint(POINT point) {
    std::vector<HWND> level;
    {
        std::lock_guard guard(Lock());
        level = T().topLevel;
    }
    HWND found = nullptr;
    for (;;) {
        HWND next = nullptr;
        for (HWND h : level) {
            auto w = Find(h);
            if (!w || !(w->style & WS_VISIBLE)) continue;
            RECT r;
            GetWindowRect(h, &r);
            if (PtInRect(&r, point)) {
                next = h;
                break;
            }
        }
        if (!next) return found;
        found = next;
        auto w = Find(next);
        if (!w || (w->style & WS_DISABLED)) return found;
        level = w->children;
    }
}

BOOL BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN: return ScreenWidth;
    case SM_CYSCREEN: return ScreenHeight;
    case SM_CYFULLSCREEN: return ScreenHeight - 19;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CYMENU: return 19;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return 4;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK: return 13;
    default: return 0;
    }
}

// ---- Rectangles ----------------------------------------------------------------

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL SetRectEmpty(RECT* rect) { return SetRect(rect, 0, 0, 0, 0); }

BOOL CopyRect(RECT* dst, const RECT* src) {
    if (!dst || !src) return FALSE;
    *dst = *src;
    return TRUE;
}

BOOL IsRectEmpty(const RECT* rect) { return !rect || rect->right <= rect->left || rect->bottom <= rect->top; }

BOOL EqualRect(const RECT* a, const RECT* b) {
    return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL InflateRect(RECT* rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left -= dx;
    rect->right += dx;
    rect->top -= dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b) return FALSE;
    RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
           std::min(a->bottom, b->bottom)};
    if (IsRectEmpty(&r)) {
        SetRectEmpty(dst);
        return FALSE;
    }
    *dst = r;
    return TRUE;
}

BOOL UnionRect(RECT* dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b) return FALSE;
    if (IsRectEmpty(a)) {
        if (IsRectEmpty(b)) return SetRectEmpty(dst), FALSE;
        *dst = *b;
        return TRUE;
    }
    if (IsRectEmpty(b)) {
        *dst = *a;
        return TRUE;
    }
    *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
    return TRUE;
}

BOOL SubtractRect(RECT* dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b) return FALSE;
    RECT r = *a;
    RECT i;
    if (IntersectRect(&i, a, b)) {
        if (i.top == r.top && i.bottom == r.bottom) {
            if (i.left == r.left) r.left = i.right;
            else if (i.right == r.right) r.right = i.left;
        } else if (i.left == r.left && i.right == r.right) {
            if (i.top == r.top) r.top = i.bottom;
            else if (i.bottom == r.bottom) r.bottom = i.top;
        }
    }
    if (IsRectEmpty(&r)) return SetRectEmpty(dst), FALSE;
    *dst = r;
    return TRUE;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom;
}

}  // extern "C"
