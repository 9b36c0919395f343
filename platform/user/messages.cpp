// Messages: sending through window procedures (with the A/W conversion of
// text), a posted queue per thread, PeekMessage and GetMessage with their
// filters, the keyboard hooks, and timers on the base clock.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>

#include "base/clock.h"
#include "base/diag.h"
#include "base/error.h"
#include "base/text.h"
#include "user/controls.h"
#include "user/window.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

struct Posted {
    MSG msg;
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    uint64_t due = 0;
    DWORD thread = 0;
};

struct Hook {
    uintptr_t handle = 0;
    int type = 0;
    HOOKPROC proc = nullptr;
    DWORD thread = 0;
};

struct ProcHandle {
    WNDPROC proc = nullptr;
    bool unicode = true;
};

struct ThreadState;

struct Shared {
    std::unordered_map<DWORD, ThreadState*> threads;
    std::vector<Timer> timers;
    std::vector<Hook> hooks;  // newest first
    std::unordered_map<uintptr_t, ProcHandle> procs;
    std::vector<std::pair<std::u16string, UINT>> registeredMessages;
    uintptr_t nextProc = 0;
    uintptr_t nextHook = 0x100;
    UINT_PTR nextTimerId = 0x7F00;
    DWORD nextThread = 1;
};

Shared& S() {
    static Shared* shared = new Shared;
    return *shared;
}

struct ThreadState {
    DWORD id = 0;
    std::deque<Posted> queue;
    bool quit = false;
    int quitCode = 0;
    HWND focus = nullptr;
    HWND active = nullptr;
    HWND capture = nullptr;
    TRACKMOUSEEVENT tracking{};
    std::function<bool()> idle;
    BYTE keys[256] = {};
    MSG last{};

    ThreadState() {
        std::lock_guard guard(Lock());
        id = S().nextThread++;
        S().threads[id] = this;
    }
    ~ThreadState() {
        // Hooks, timers and the queue go with their thread.
        std::lock_guard guard(Lock());
        S().threads.erase(id);
        auto& hooks = S().hooks;
        hooks.erase(std::remove_if(hooks.begin(), hooks.end(), [this](const Hook& h) { return h.thread == id; }),
                    hooks.end());
        auto& timers = S().timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(), [this](const Timer& t) { return t.thread == id; }),
                     timers.end());
    }
};

ThreadState& Current() {
    thread_local ThreadState state;
    return state;
}

constexpr uintptr_t kProcHandleBase = 0xFFFF000000000000ull;

bool IsProcHandle(uintptr_t value) { return (value & 0xFFFF000000000000ull) == kProcHandleBase && value != 0; }

// ---- A/W conversion ------------------------------------------------------

bool ListHasStrings(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) return false;
    const auto& name = w->cls->name;
    if (zq::EqualsIgnoreCase(name, u"ListBox") || zq::EqualsIgnoreCase(name, u"ComboLBox"))
        return !(w->style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) || (w->style & LBS_HASSTRINGS);
    if (zq::EqualsIgnoreCase(name, u"ComboBox"))
        return !(w->style & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) || (w->style & CBS_HASSTRINGS);
    return false;
}

enum class TextKind { None, In, Out, Length, Create, Char };

TextKind KindOf(HWND hwnd, UINT message) {
    switch (message) {
    case WM_SETTEXT:
    case EM_REPLACESEL: return TextKind::In;
    case WM_GETTEXT: return TextKind::Out;
    case WM_GETTEXTLENGTH: return TextKind::Length;
    case WM_NCCREATE:
    case WM_CREATE: return TextKind::Create;
    case WM_CHAR:
    case WM_SYSCHAR: return TextKind::Char;
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_FINDSTRING:
    case LB_FINDSTRINGEXACT:
    case LB_SELECTSTRING:
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_SELECTSTRING: return ListHasStrings(hwnd) ? TextKind::In : TextKind::None;
    case LB_GETTEXT:
    case CB_GETLBTEXT: return ListHasStrings(hwnd) ? TextKind::Out : TextKind::None;
    case LB_GETTEXTLEN:
    case CB_GETLBTEXTLEN: return ListHasStrings(hwnd) ? TextKind::Length : TextKind::None;
    default: return TextKind::None;
    }
}

// The message in the procedure's form. `toWide`: an A caller and a W
// procedure; otherwise a W caller and an A procedure.
LRESULT Convert(WNDPROC proc, bool toWide, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const TextKind kind = KindOf(hwnd, message);
    switch (kind) {
    case TextKind::None: return proc(hwnd, message, wParam, lParam);
    case TextKind::In: {
        if (!lParam) return proc(hwnd, message, wParam, lParam);
        if (toWide) {
            const std::u16string w = zq::AnsiToWide(reinterpret_cast<LPCSTR>(lParam));
            return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(w.c_str()));
        }
        const std::string a = zq::WideToAnsi(reinterpret_cast<LPCWSTR>(lParam));
        return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(a.c_str()));
    }
    case TextKind::Create: {
        if (!lParam) return proc(hwnd, message, wParam, lParam);
        if (toWide) {
            const auto* a = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            const std::u16string name = a->lpszName ? zq::AnsiToWide(a->lpszName) : std::u16string();
            const std::u16string cls =
                a->lpszClass && !IS_INTRESOURCE(a->lpszClass) ? zq::AnsiToWide(a->lpszClass) : std::u16string();
            CREATESTRUCTW w{a->lpCreateParams, a->hInstance, a->hMenu, a->hwndParent, a->cy, a->cx, a->y, a->x,
                            a->style, a->lpszName ? name.c_str() : nullptr,
                            IS_INTRESOURCE(a->lpszClass) ? reinterpret_cast<LPCWSTR>(a->lpszClass) : cls.c_str(),
                            a->dwExStyle};
            return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(&w));
        }
        const auto* w = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        const std::string name = w->lpszName ? zq::WideToAnsi(w->lpszName) : std::string();
        const std::string cls =
            w->lpszClass && !IS_INTRESOURCE(w->lpszClass) ? zq::WideToAnsi(w->lpszClass) : std::string();
        CREATESTRUCTA a{w->lpCreateParams, w->hInstance, w->hMenu, w->hwndParent, w->cy, w->cx, w->y, w->x,
                        w->style, w->lpszName ? name.c_str() : nullptr,
                        IS_INTRESOURCE(w->lpszClass) ? reinterpret_cast<LPCSTR>(w->lpszClass) : cls.c_str(),
                        w->dwExStyle};
        return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(&a));
    }
    case TextKind::Char: {
        if (toWide) {
            const char c = static_cast<char>(wParam & 0xFF);
            const std::u16string w = zq::AnsiToWide(std::string_view(&c, 1));
            return proc(hwnd, message, w.empty() ? 0 : w[0], lParam);
        }
        const char16_t c = static_cast<char16_t>(wParam & 0xFFFF);
        const std::string a = zq::WideToAnsi(std::u16string_view(&c, 1));
        return proc(hwnd, message, a.empty() ? 0 : static_cast<BYTE>(a[0]), lParam);
    }
    case TextKind::Length:
    case TextKind::Out: {
        // The whole text in the procedure's form, then the caller's.
        const bool whole = message == WM_GETTEXT || message == WM_GETTEXTLENGTH;
        const UINT lengthMessage = whole ? WM_GETTEXTLENGTH : (message == LB_GETTEXT || message == LB_GETTEXTLEN)
                                                                  ? LB_GETTEXTLEN
                                                                  : CB_GETLBTEXTLEN;
        const UINT textMessage = whole ? WM_GETTEXT : lengthMessage == LB_GETTEXTLEN ? LB_GETTEXT : CB_GETLBTEXT;
        const WPARAM index = whole ? 0 : wParam;
        const LRESULT length = proc(hwnd, lengthMessage, index, 0);
        if (length < 0) return length;
        std::u16string text;
        if (toWide) {
            std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
            const LRESULT got = proc(hwnd, textMessage, whole ? buffer.size() : index,
                                     reinterpret_cast<LPARAM>(buffer.data()));
            if (got < 0) return got;
            buffer.resize(std::min<size_t>(static_cast<size_t>(got), static_cast<size_t>(length)));
            text = buffer;
        } else {
            std::string buffer(static_cast<size_t>(length) + 1, '\0');
            const LRESULT got = proc(hwnd, textMessage, whole ? buffer.size() : index,
                                     reinterpret_cast<LPARAM>(buffer.data()));
            if (got < 0) return got;
            buffer.resize(std::min<size_t>(static_cast<size_t>(got), static_cast<size_t>(length)));
            text = zq::AnsiToWide(buffer);
        }
        if (kind == TextKind::Length) {
            return toWide ? static_cast<LRESULT>(zq::WideToAnsi(text).size()) : static_cast<LRESULT>(text.size());
        }
        if (!lParam) return 0;
        if (toWide) {
            const std::string a = zq::WideToAnsi(text);
            auto* out = reinterpret_cast<char*>(lParam);
            size_t n = a.size();
            if (whole) {
                if (wParam == 0) return 0;
                n = std::min<size_t>(n, wParam - 1);
            }
            std::memcpy(out, a.data(), n);
            out[n] = 0;
            return static_cast<LRESULT>(n);
        }
        auto* out = reinterpret_cast<char16_t*>(lParam);
        size_t n = text.size();
        if (whole) {
            if (wParam == 0) return 0;
            n = std::min<size_t>(n, wParam - 1);
        }
        std::copy_n(text.data(), n, out);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    }
    return 0;
}

std::vector<Hook> HooksOf(int type, DWORD thread) {
    std::lock_guard guard(Lock());
    std::vector<Hook> out;
    for (const Hook& h : S().hooks)
        if (h.type == type && h.thread == thread) out.push_back(h);
    return out;
}

bool IsKeyMessage(UINT m) { return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP; }

bool Matches(const MSG& m, HWND filter, UINT first, UINT last) {
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        if (m.hwnd) return false;
    } else if (filter && m.hwnd != filter && !IsChild(filter, m.hwnd)) {
        return false;
    }
    if (first == 0 && last == 0) return true;
    return m.message >= first && m.message <= last;
}

void Stamp(MSG& m) {
    m.time = GetTickCount();
    GetCursorPos(&m.pt);
}

BOOL Peek(MSG* out, HWND filter, UINT first, UINT last, UINT remove) {
    ThreadState& ts = Current();
    const bool removing = (remove & PM_REMOVE) != 0;
    for (;;) {
        std::optional<MSG> found;
        {
            std::lock_guard guard(Lock());
            for (auto it = ts.queue.begin(); it != ts.queue.end(); ++it) {
                if (!Matches(it->msg, filter, first, last)) continue;
                found = it->msg;
                if (removing) ts.queue.erase(it);
                break;
            }
        }
        if (found) {
            if (IsKeyMessage(found->message)) {
                if (removing) {
                    // The key state changes as the message is taken, so a hook
                    // sees Ctrl already down when the letter comes.
                    BYTE& k = ts.keys[found->wParam & 0xFF];
                    if (found->message == WM_KEYDOWN || found->message == WM_SYSKEYDOWN) {
                        if (!(k & 0x80)) k ^= 0x01;
                        k |= 0x80;
                    } else {
                        k &= static_cast<BYTE>(~0x80);
                    }
                }
                const auto hooks = HooksOf(WH_KEYBOARD, ts.id);
                if (!hooks.empty()) {
                    const LRESULT eaten = hooks.front().proc(removing ? HC_ACTION : HC_NOREMOVE, found->wParam,
                                                             found->lParam);
                    if (eaten && removing) continue;
                }
            }
            *out = *found;
            ts.last = *found;
            return TRUE;
        }
        if (ts.quit && (first == 0 && last == 0 ? true : (WM_QUIT >= first && WM_QUIT <= last))) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(ts.quitCode), 0, GetTickCount(), {}};
            if (removing) ts.quit = false;
            return TRUE;
        }
        // Timers that are due, oldest first.
        if (first == 0 && last == 0 ? true : (WM_TIMER >= first && WM_TIMER <= last)) {
            const uint64_t now = zq::CurrentClock().TickMilliseconds();
            std::lock_guard guard(Lock());
            Timer* best = nullptr;
            for (Timer& t : S().timers) {
                if (t.thread != ts.id || t.due > now) continue;
                if (filter && filter != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) && t.hwnd != filter &&
                    !IsChild(filter, t.hwnd))
                    continue;
                if (!best || t.due < best->due) best = &t;
            }
            if (best) {
                MSG m{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), 0, {}};
                Stamp(m);
                if (removing) best->due = now + best->elapse;
                *out = m;
                ts.last = m;
                return TRUE;
            }
        }
        return FALSE;
    }
}

}  // namespace

namespace zq::user::detail {
LRESULT CallProc(WNDPROC proc, bool procUnicode, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                 bool callerUnicode);
}

namespace {

// A procedure or a handle that stands for one of the other form; a plain
// procedure is taken to be of the caller's form.
LRESULT CallThrough(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool callerUnicode) {
    const auto v = reinterpret_cast<uintptr_t>(proc);
    if (IsProcHandle(v)) {
        ProcHandle h;
        {
            std::lock_guard guard(Lock());
            auto it = S().procs.find(v);
            if (it == S().procs.end()) return 0;
            h = it->second;
        }
        return zq::user::detail::CallProc(h.proc, h.unicode, hwnd, message, wParam, lParam, callerUnicode);
    }
    return zq::user::detail::CallProc(proc, callerUnicode, hwnd, message, wParam, lParam, callerUnicode);
}

}  // namespace

namespace zq::user::detail {

DWORD CurrentThread() { return Current().id; }

LRESULT CallProc(WNDPROC proc, bool procUnicode, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                 bool callerUnicode) {
    if (!proc) return 0;
    if (procUnicode == callerUnicode) return proc(hwnd, message, wParam, lParam);
    return Convert(proc, !callerUnicode, hwnd, message, wParam, lParam);
}

std::atomic<uint64_t>& ProcGeneration() {
    static std::atomic<uint64_t> generation{1};
    return generation;
}

void ProcsChanged() { ProcGeneration().fetch_add(1, std::memory_order_acq_rel); }

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode) {
    // The last window this thread sent to, valid while no procedure changed
    // and no window went anywhere: sending needs no lock then.
    struct Last {
        HWND hwnd = nullptr;
        WNDPROC proc = nullptr;
        bool unicode = true;
        uint64_t generation = 0;
    };
    static thread_local Last last __attribute__((tls_model("initial-exec")));
    const uint64_t generation = ProcGeneration().load(std::memory_order_acquire);
    if (last.hwnd != hwnd || last.generation != generation) {
        auto w = Get(hwnd);
        if (!w) return 0;
        last = Last{hwnd, w->proc, w->unicode, generation};
    }
    // Only the procedure is read: nothing of the window is touched after
    // the call, which may destroy it.
    return CallProc(last.proc, last.unicode, hwnd, message, wParam, lParam, unicode);
}

LONG_PTR ProcForCaller(Window& w, bool unicode) {
    if (w.unicode == unicode) return reinterpret_cast<LONG_PTR>(w.proc);
    std::lock_guard guard(Lock());
    for (uintptr_t h : w.procHandles) {
        auto it = S().procs.find(h);
        if (it != S().procs.end() && it->second.proc == w.proc && it->second.unicode == w.unicode)
            return static_cast<LONG_PTR>(h);
    }
    const uintptr_t h = kProcHandleBase | (++S().nextProc << 4);
    S().procs[h] = ProcHandle{w.proc, w.unicode};
    w.procHandles.push_back(h);
    return static_cast<LONG_PTR>(h);
}

LONG_PTR SwapProc(Window& w, LONG_PTR value, bool unicode) {
    const LONG_PTR old = ProcForCaller(w, unicode);
    ProcsChanged();
    std::lock_guard guard(Lock());
    const auto v = static_cast<uintptr_t>(value);
    if (IsProcHandle(v)) {
        auto it = S().procs.find(v);
        if (it == S().procs.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        w.proc = it->second.proc;
        w.unicode = it->second.unicode;
    } else {
        w.proc = reinterpret_cast<WNDPROC>(value);
        w.unicode = unicode;
    }
    return old;
}

void DropProcHandles(const std::vector<uintptr_t>& handles) {
    std::lock_guard guard(Lock());
    for (uintptr_t h : handles) S().procs.erase(h);
}

void KillWindowTimers(HWND hwnd) {
    std::lock_guard guard(Lock());
    auto& timers = S().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                 timers.end());
}

void ForgetWindowState(HWND hwnd) {
    std::lock_guard guard(Lock());
    for (auto& [id, ts] : S().threads) {
        if (ts->focus == hwnd) ts->focus = nullptr;
        if (ts->active == hwnd) ts->active = nullptr;
        if (ts->capture == hwnd) ts->capture = nullptr;
        if (ts->tracking.hwndTrack == hwnd) ts->tracking = {};
        auto& q = ts->queue;
        q.erase(std::remove_if(q.begin(), q.end(), [hwnd](const Posted& p) { return p.msg.hwnd == hwnd; }), q.end());
    }
}

HWND& FocusSlot() { return Current().focus; }
HWND& ActiveSlot() { return Current().active; }
HWND& CaptureSlot() { return Current().capture; }
TRACKMOUSEEVENT& TrackingSlot() { return Current().tracking; }
BYTE* KeyStates() { return Current().keys; }

}  // namespace zq::user::detail

namespace zq::user {

void SetIdleHandler(std::function<bool()> handler) { Current().idle = std::move(handler); }

bool RunIdleHandler() {
    auto& idle = Current().idle;
    if (!idle) return false;
    auto copy = idle;  // the handler may replace itself
    return copy();
}

size_t PumpMessages() {
    size_t n = 0;
    MSG m;
    while (Peek(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));  // left for the loop that owns it
            break;
        }
        TranslateMessage(&m);
        DispatchMessageW(&m);
        ++n;
    }
    return n;
}

}  // namespace zq::user

extern "C" {

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Send(hwnd, message, wParam, lParam, true);
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Send(hwnd, message, wParam, lParam, false);
}

BOOL InSendMessage() { return FALSE; }  // every send is on the caller's thread

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallThrough(proc, hwnd, message, wParam, lParam, true);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallThrough(proc, hwnd, message, wParam, lParam, false);
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd) return PostThreadMessageW(GetCurrentThreadId(), message, wParam, lParam);
    auto w = Get(hwnd);
    if (!w) return FALSE;
    std::lock_guard guard(Lock());
    auto it = S().threads.find(w->thread);
    if (it == S().threads.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MSG m{hwnd, message, wParam, lParam, 0, {}};
    Stamp(m);
    it->second->queue.push_back(Posted{m});
    return TRUE;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(hwnd, message, wParam, lParam);
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    Current();
    std::lock_guard guard(Lock());
    auto it = S().threads.find(threadId);
    if (it == S().threads.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MSG m{nullptr, message, wParam, lParam, 0, {}};
    Stamp(m);
    it->second->queue.push_back(Posted{m});
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    ThreadState& ts = Current();
    ts.quit = true;
    ts.quitCode = exitCode;
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT first, UINT last, UINT remove) {
    if (!msg) return FALSE;
    return Peek(msg, hwnd, first, last, remove);
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT first, UINT last, UINT remove) {
    return PeekMessageW(msg, hwnd, first, last, remove);
}

// Headless: when nothing is queued and no timer is due, the thread's idle
// handler (the test driver) may act; when it does not, the loop ends as if
// told to quit, logged, so that no loop waits for ever.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT first, UINT last) {
    if (!msg) return FALSE;
    for (;;) {
        if (Peek(msg, hwnd, first, last, PM_REMOVE)) return msg->message != WM_QUIT;
        if (!zq::user::RunIdleHandler()) {
            zq::DiagLine("user", "GetMessage: nothing to do and nobody to act; the loop ends");
            *msg = MSG{nullptr, WM_QUIT, 0, 0, GetTickCount(), {}};
            return FALSE;
        }
    }
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT first, UINT last) { return GetMessageW(msg, hwnd, first, last); }

BOOL TranslateMessage(const MSG* msg) {
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
    const UINT vk = static_cast<UINT>(msg->wParam);
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    WPARAM ch = 0;
    if (vk >= 'A' && vk <= 'Z') {
        ch = ctrl ? vk - 'A' + 1 : shift ? vk : vk + 32;
    } else if ((vk >= '0' && vk <= '9') || vk == VK_SPACE) {
        ch = vk;
    } else if (vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE) {
        ch = vk;
    } else {
        return FALSE;
    }
    return PostMessageW(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, ch, msg->lParam);
}

static LRESULT Dispatch(const MSG* msg, bool unicode) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        // Only a procedure some timer was set with is ever called.
        TIMERPROC proc = nullptr;
        {
            std::lock_guard guard(Lock());
            for (const Timer& t : S().timers)
                if (t.hwnd == msg->hwnd && t.id == msg->wParam && reinterpret_cast<LPARAM>(t.proc) == msg->lParam)
                    proc = t.proc;
        }
        if (proc) proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    if (!msg->hwnd) return 0;
    return Send(msg->hwnd, msg->message, msg->wParam, msg->lParam, unicode);
}

LRESULT DispatchMessageW(const MSG* msg) { return Dispatch(msg, true); }

LRESULT DispatchMessageA(const MSG* msg) { return Dispatch(msg, false); }

DWORD GetQueueStatus(UINT) {
    std::lock_guard guard(Lock());
    return Current().queue.empty() ? 0 : 0x00080008;
}

DWORD GetMessagePos() {
    const MSG& m = Current().last;
    return MAKELONG(static_cast<WORD>(m.pt.x), static_cast<WORD>(m.pt.y));
}

LONG GetMessageTime() { return static_cast<LONG>(Current().last.time); }

UINT RegisterWindowMessageW(LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard guard(Lock());
    auto& list = S().registeredMessages;
    for (auto& [n, id] : list)
        if (zq::EqualsIgnoreCase(n, name)) return id;
    const UINT id = 0xC100 + static_cast<UINT>(list.size());
    list.emplace_back(name, id);
    return id;
}

// ---- Timers ----------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    DWORD thread = Current().id;
    if (hwnd) {
        auto w = Get(hwnd);
        if (!w) return 0;
        thread = w->thread;
    }
    // A period below 10 ms is 10 ms, so a zero period cannot spin a loop.
    elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);
    const uint64_t due = zq::CurrentClock().TickMilliseconds() + elapse;
    std::lock_guard guard(Lock());
    auto& timers = S().timers;
    if (!hwnd) {
        auto it = std::find_if(timers.begin(), timers.end(),
                               [&](const Timer& t) { return !t.hwnd && id && t.id == id && t.thread == thread; });
        if (it == timers.end()) {
            id = S().nextTimerId++;
            timers.push_back(Timer{nullptr, id, elapse, proc, due, thread});
        } else {
            *it = Timer{nullptr, id, elapse, proc, due, thread};
        }
        return id;
    }
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers.end())
        *it = Timer{hwnd, id, elapse, proc, due, thread};
    else
        timers.push_back(Timer{hwnd, id, elapse, proc, due, thread});
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    std::lock_guard guard(Lock());
    auto& timers = S().timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timers.erase(it);
    // A WM_TIMER already queued for it does not arrive after the kill.
    auto& q = Current().queue;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [&](const Posted& p) {
                               return p.msg.message == WM_TIMER && p.msg.hwnd == hwnd && p.msg.wParam == id;
                           }),
            q.end());
    return TRUE;
}

// ---- Hooks -------------------------------------------------------------------

HHOOK SetWindowsHookExW(int type, HOOKPROC proc, HINSTANCE, DWORD threadId) {
    if (type != WH_KEYBOARD && type != WH_GETMESSAGE && type != WH_CALLWNDPROC && type != WH_MSGFILTER) {
        SetLastError(ERROR_INVALID_HOOK_FILTER);
        return nullptr;
    }
    if (!proc) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    const DWORD thread = threadId ? threadId : Current().id;
    std::lock_guard guard(Lock());
    if (!S().threads.count(thread)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const uintptr_t h = S().nextHook;
    S().nextHook += 4;
    S().hooks.insert(S().hooks.begin(), Hook{h, type, proc, thread});
    return reinterpret_cast<HHOOK>(h);
}

HHOOK SetWindowsHookExA(int type, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    return SetWindowsHookExW(type, proc, module, threadId);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    std::lock_guard guard(Lock());
    auto& hooks = S().hooks;
    auto it = std::find_if(hooks.begin(), hooks.end(),
                           [hook](const Hook& h) { return h.handle == reinterpret_cast<uintptr_t>(hook); });
    if (it == hooks.end()) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return FALSE;
    }
    hooks.erase(it);
    return TRUE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    HOOKPROC next = nullptr;
    {
        std::lock_guard guard(Lock());
        const auto& hooks = S().hooks;
        auto it = std::find_if(hooks.begin(), hooks.end(),
                               [hook](const Hook& h) { return h.handle == reinterpret_cast<uintptr_t>(hook); });
        if (it == hooks.end()) return 0;
        for (auto n = it + 1; n != hooks.end(); ++n)
            if (n->type == it->type && n->thread == it->thread) {
                next = n->proc;
                break;
            }
    }
    return next ? next(code, wParam, lParam) : 0;
}

SHORT GetKeyState(int key) {
    const BYTE k = Current().keys[key & 0xFF];
    return static_cast<SHORT>(((k & 0x80) ? 0x8000 : 0) | (k & 0x01));
}

SHORT GetAsyncKeyState(int key) { return static_cast<SHORT>(GetKeyState(key) & 0x8000); }

}  // extern "C"
