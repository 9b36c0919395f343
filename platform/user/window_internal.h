// What the window manager's sources share: the class and window records,
// the one lock and the lookup of handles. Not for callers outside the
// library.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "user/window.h"

namespace zq::user::detail {

// State a built-in control keeps beside its window.
struct ControlData {
    virtual ~ControlData() = default;
};

struct WindowClass {
    std::u16string name;
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    bool unicode = true;
    int clsExtra = 0;
    int wndExtra = 0;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON iconSmall = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    std::u16string menuName;
    std::vector<BYTE> extra;
    bool system = false;
    int windows = 0;
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> cls;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR id = 0;  // a child's id; a top-level window's menu
    HWND parent = nullptr;
    HWND owner = nullptr;
    std::vector<HWND> children;  // front to back
    std::u16string text;
    WNDPROC proc = nullptr;
    bool unicode = true;
    std::vector<BYTE> extra;
    LONG_PTR userData = 0;
    HINSTANCE instance = nullptr;
    RECT rect{};   // in the parent's client coordinates (the screen's for top-level windows)
    RECT inset{};  // the non-client edges: client = rect minus these
    std::vector<std::pair<std::u16string, HANDLE>> props;
    HFONT font = nullptr;
    DWORD thread = 0;
    bool destroying = false;
    bool destroyed = false;
    bool hasUpdate = false;
    bool eraseUpdate = false;
    RECT update{};  // client coordinates
    std::unique_ptr<ControlData> data;
    std::vector<uintptr_t> procHandles;
};

// The one lock of the window manager's tables. Never held while a window
// procedure, hook or timer procedure runs.
std::recursive_mutex& Lock();

// The live window behind a handle; null (without touching the last error)
// when there is none.
std::shared_ptr<Window> Find(HWND hwnd);
// The same, setting ERROR_INVALID_WINDOW_HANDLE when there is none.
std::shared_ptr<Window> Get(HWND hwnd);
std::shared_ptr<WindowClass> FindClass(std::u16string_view name, HINSTANCE instance);

// Sends through the window's procedure, converting text between the
// caller's form (unicode) and the procedure's.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode);
LRESULT CallProc(WNDPROC proc, bool procUnicode, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                 bool callerUnicode);

// Every change of a window procedure and every destruction moves this on,
// so that what a thread remembers of a window is looked up again.
void ProcsChanged();

// The control state of a built-in control; null when it has none yet.
ControlData* Data(HWND hwnd);
void SetData(HWND hwnd, std::unique_ptr<ControlData> data);
template <class T>
T* DataOf(HWND hwnd) {
    return dynamic_cast<T*>(Data(hwnd));
}

// Registers the library's own classes once (system_classes.cpp).
void EnsureSystemClasses();

// Registers one of the library's own classes (W procedures).
void RegisterSystemClass(std::u16string_view name, WNDPROC proc, UINT style, int wndExtra, HBRUSH background);

// Geometry helpers in screen coordinates.
POINT ClientOrigin(const Window& w);  // screen position of the client's top-left
RECT ClientRect(const Window& w);     // client coordinates (0, 0, width, height)

// Forgets the window's timers (on destroy) and the thread's timers, hooks
// and queue (on thread exit).
void KillWindowTimers(HWND hwnd);
DWORD CurrentThread();

// Sends WM_COMMAND with a notification code to a control's parent.
void NotifyParent(HWND control, WORD code);
// Sends WM_NOTIFY with a bare NMHDR of the code to a control's parent.
LRESULT NotifyParentCode(HWND control, UINT code);

// The class name as it was registered, for the built-in controls' checks.
bool IsClass(HWND hwnd, std::u16string_view name);

// The procedure as a caller of one form sees it: the procedure itself when
// the forms agree, else a handle that CallWindowProc converts through.
LONG_PTR ProcForCaller(Window& w, bool unicode);
LONG_PTR SwapProc(Window& w, LONG_PTR value, bool unicode);
void DropProcHandles(const std::vector<uintptr_t>& handles);

// Focus, activation and capture leave a window that hides or goes.
void ForgetWindowState(HWND hwnd);
void MoveFocusAway(HWND hwnd);

// Non-client edges of a style in the classic look.
RECT FrameEdges(DWORD style, DWORD exStyle, bool menu);

// A top-level window's menu bar (menus.cpp).
bool HasMenuBar(HWND hwnd);
void DestroyMenuBar(HWND hwnd);

// The surface of a top-level window goes with it; the class brush of a
// window (COLOR_x + 1 becomes the system colour's brush).
void DropSurface(HWND hwnd);
HBRUSH ClassBrush(HWND hwnd);

}  // namespace zq::user::detail
