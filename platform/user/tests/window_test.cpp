#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/text.h"
#include "user/window.h"

namespace {

// A log of what a procedure saw, shared by the tests' procedures.
std::vector<std::string>& Log() {
    thread_local std::vector<std::string> log;
    return log;
}

std::string Name(UINT m) {
    switch (m) {
    case WM_NCCREATE: return "NCCREATE";
    case WM_CREATE: return "CREATE";
    case WM_SIZE: return "SIZE";
    case WM_MOVE: return "MOVE";
    case WM_DESTROY: return "DESTROY";
    case WM_NCDESTROY: return "NCDESTROY";
    case WM_SETFOCUS: return "SETFOCUS";
    case WM_KILLFOCUS: return "KILLFOCUS";
    case WM_WINDOWPOSCHANGING: return "POSCHANGING";
    case WM_WINDOWPOSCHANGED: return "POSCHANGED";
    case WM_SHOWWINDOW: return "SHOWWINDOW";
    case WM_KEYDOWN: return "KEYDOWN";
    case WM_TIMER: return "TIMER";
    case WM_USER: return "USER";
    default: return {};
    }
}

LRESULT LoggingProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    const std::string n = Name(m);
    if (!n.empty()) Log().push_back(n);
    return DefWindowProcW(hwnd, m, w, l);
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        Log().clear();
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = LoggingProc;
            wc.cbWndExtra = 24;
            wc.cbClsExtra = 8;
            wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
            wc.lpszClassName = u"ZqTestWindow";
            ASSERT_NE(RegisterClassExW(&wc), 0);
            registered = true;
        }
    }
    void TearDown() override {
        for (HWND h : made_) DestroyWindow(h);
    }
    HWND Top(DWORD style = WS_OVERLAPPEDWINDOW) {
        HWND h = CreateWindowExW(0, u"zqtestwindow", u"top", style, 10, 20, 300, 200, nullptr, nullptr, nullptr,
                                 nullptr);
        made_.push_back(h);
        return h;
    }
    HWND Child(HWND parent, int id, DWORD style = WS_VISIBLE) {
        return CreateWindowExW(0, u"ZQTESTWINDOW", u"child", WS_CHILD | style, 5, 6, 50, 40, parent,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }
    std::vector<HWND> made_;
};

TEST_F(Windows, ClassNamesCompareWithoutCaseAndDuplicatesFail) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = u"ZQTestWINDOW";
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    HWND h = Top();
    WCHAR name[64];
    ASSERT_GT(GetClassNameW(h, name, 64), 0);
    EXPECT_EQ(std::u16string(name), u"ZqTestWindow");
}

TEST_F(Windows, CreationOrderOfMessages) {
    HWND h = Top();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Log(), (std::vector<std::string>{"NCCREATE", "CREATE", "SIZE", "MOVE"}));
    EXPECT_EQ(zq::user::WindowTextUtf8(h), "top");
}

TEST_F(Windows, ExtraBytesAtByteOffsets) {
    HWND h = Top();
    struct Case {
        int index;
        bool pointerFits;  // 8 bytes from index within 24
        bool longFits;     // 4 bytes
    };
    const Case cases[] = {{0, true, true}, {4, true, true}, {16, true, true},
                          {17, false, true}, {20, false, true}, {21, false, false}, {24, false, false}};
    for (const Case& c : cases) {
        SetLastError(0);
        SetWindowLongPtrW(h, c.index, 0x1122334455667788);
        EXPECT_EQ(GetLastError() == 0, c.pointerFits) << c.index;
        SetLastError(0);
        SetWindowLongW(h, c.index, 0x0A0B0C0D);
        EXPECT_EQ(GetLastError() == 0, c.longFits) << c.index;
        if (c.longFits) {
            EXPECT_EQ(GetWindowLongW(h, c.index), 0x0A0B0C0D);
        }
    }
    // Overlapping writes land byte by byte, little-endian.
    SetWindowLongPtrW(h, 0, 0);
    SetWindowLongPtrW(h, 8, 0);
    SetWindowLongW(h, 2, 0x44332211);
    EXPECT_EQ(GetWindowLongPtrW(h, 0), 0x0000443322110000);
    EXPECT_EQ(GetWindowWord(h, 4), 0x4433);
    // Class extra bytes.
    SetClassLongPtrW(h, 0, 42);
    EXPECT_EQ(GetClassLongPtrW(h, 0), 42u);
    EXPECT_EQ(GetClassLongPtrW(h, GCL_CBWNDEXTRA), 24u);
    EXPECT_EQ(GetClassLongPtrW(h, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
}

TEST_F(Windows, DestroyedHandlesFailWith1400AndAreNeverReused) {
    HWND h = Top();
    HWND c = Child(h, 7);
    ASSERT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(IsWindow(c));
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrW(h, GWL_STYLE), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(SetWindowTextW(c, u"x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    HWND again = Top();
    EXPECT_NE(again, h);
    EXPECT_NE(again, c);
    made_.erase(made_.begin());
}

LRESULT SelfDestroyingProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_USER) {
        DestroyWindow(hwnd);
        // Still safe to look at after its own destruction: it fails cleanly.
        Log().push_back(IsWindow(hwnd) ? "alive" : "gone");
        return 5;
    }
    return DefWindowProcW(hwnd, m, w, l);
}

TEST_F(Windows, AWindowDestroyedInItsOwnDispatchIsNotTouchedAgain) {
    HWND h = Top();
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SelfDestroyingProc));
    Log().clear();
    EXPECT_EQ(SendMessageW(h, WM_USER, 0, 0), 5);
    EXPECT_EQ(Log(), (std::vector<std::string>{"gone"}));
    PostMessageW(h, WM_USER, 0, 0);  // fails: gone
    EXPECT_EQ(zq::user::PumpMessages(), 0u);
    made_.clear();
}

// Subclassing: each procedure sees the message and hands it on.
WNDPROC g_previous[3];
template <int N>
LRESULT SubProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_USER) Log().push_back("sub" + std::to_string(N));
    return CallWindowProcW(g_previous[N], hwnd, m, w, l);
}

TEST_F(Windows, SubclassChainsRunNewestFirstAndUnwind) {
    HWND h = Top();
    g_previous[0] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubProc<0>)));
    g_previous[1] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubProc<1>)));
    g_previous[2] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubProc<2>)));
    EXPECT_EQ(g_previous[0], LoggingProc);
    Log().clear();
    SendMessageW(h, WM_USER, 0, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"sub2", "sub1", "sub0", "USER"}));
    // Removing the newest restores the chain below it.
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previous[2]));
    Log().clear();
    SendMessageW(h, WM_USER, 0, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"sub1", "sub0", "USER"}));
}

// An A procedure sees ANSI text; a W caller never does.
std::string g_seenAnsi;
WNDPROC g_wideBelow;
LRESULT AnsiProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_SETTEXT && l) g_seenAnsi = reinterpret_cast<const char*>(l);
    return CallWindowProcA(g_wideBelow, hwnd, m, w, l);
}

TEST_F(Windows, AnsiSubclassConvertsTextBothWays) {
    HWND h = Top();
    g_wideBelow = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AnsiProc)));
    EXPECT_NE(g_wideBelow, LoggingProc);  // a handle that converts back, not the W procedure itself
    EXPECT_FALSE(IsWindowUnicode(h));
    // The W view of the A procedure is a handle too.
    const auto wideView = GetWindowLongPtrW(h, GWLP_WNDPROC);
    EXPECT_NE(wideView, reinterpret_cast<LONG_PTR>(AnsiProc));
    EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(AnsiProc));
    ASSERT_TRUE(SetWindowTextW(h, u"Gr\u00fc\u00dfe"));
    EXPECT_EQ(g_seenAnsi, "Gr\xfc\xdf" "e");  // Windows-1252
    WCHAR wide[16];
    EXPECT_EQ(GetWindowTextW(h, wide, 16), 5);
    EXPECT_EQ(std::u16string(wide), u"Gr\u00fc\u00dfe");
    char narrow[4];
    EXPECT_EQ(GetWindowTextA(h, narrow, 4), 3);  // cut to the buffer
    EXPECT_EQ(std::string(narrow), "Gr\xfc");
    EXPECT_EQ(GetWindowTextLengthA(h), 5);
    // The W view of the A procedure puts back the A procedure; unwinding to
    // the procedure below makes the window W again.
    SetWindowLongPtrW(h, GWLP_WNDPROC, wideView);
    EXPECT_FALSE(IsWindowUnicode(h));
    SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_wideBelow));
    EXPECT_TRUE(IsWindowUnicode(h));
    EXPECT_EQ(GetWindowLongPtrW(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(LoggingProc));
}

TEST_F(Windows, PropertiesByNameAndAtom) {
    HWND h = Top();
    int a = 0, b = 0;
    EXPECT_TRUE(SetPropW(h, u"Zel.Data", &a));
    EXPECT_TRUE(SetPropA(h, "zel.data", &b));  // same name, other case: replaced
    EXPECT_EQ(GetPropW(h, u"ZEL.DATA"), &b);
    EXPECT_TRUE(SetPropW(h, MAKEINTRESOURCEW(0xC123), &a));
    EXPECT_EQ(GetPropW(h, MAKEINTRESOURCEW(0xC123)), &a);
    EXPECT_EQ(RemovePropW(h, u"zel.DATA"), &b);
    EXPECT_EQ(GetPropW(h, u"Zel.Data"), nullptr);
}

TEST_F(Windows, TreeZOrderAndVisibilityThroughAncestors) {
    HWND h = Top();
    HWND a = Child(h, 1);
    HWND b = Child(h, 2);
    HWND c = Child(h, 3);
    EXPECT_EQ(GetWindow(h, GW_CHILD), a);  // creation order
    EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
    EXPECT_EQ(GetWindow(c, GW_HWNDPREV), b);
    EXPECT_EQ(GetWindow(c, GW_HWNDNEXT), nullptr);
    SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetWindow(h, GW_CHILD), c);
    SetWindowPos(c, a, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), c);
    EXPECT_EQ(GetParent(a), h);
    EXPECT_TRUE(IsChild(h, a));
    // A visible child of a hidden parent is not visible.
    EXPECT_FALSE(IsWindowVisible(a));
    ShowWindow(h, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(a));
    ShowWindow(h, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(a));
    EXPECT_TRUE(GetWindowLongW(a, GWL_STYLE) & WS_VISIBLE);
    // Owned top-level windows.
    HWND popup = CreateWindowExW(0, u"ZqTestWindow", u"p", WS_POPUP, 0, 0, 10, 10, a, nullptr, nullptr, nullptr);
    EXPECT_EQ(GetWindow(popup, GW_OWNER), h);
    EXPECT_EQ(GetAncestor(popup, GA_ROOTOWNER), h);
    DestroyWindow(h);  // takes the owned popup with it
    EXPECT_FALSE(IsWindow(popup));
    made_.clear();
}

TEST_F(Windows, GeometryOfFramesAndSetWindowPos) {
    struct Case {
        DWORD style;
        DWORD exStyle;
        RECT client;  // in window coordinates
    };
    const Case cases[] = {
        {WS_POPUP, 0, {0, 0, 300, 200}},
        {WS_POPUP | WS_BORDER, 0, {1, 1, 299, 199}},
        {WS_POPUP | WS_CAPTION, 0, {3, 22, 297, 197}},
        {WS_OVERLAPPEDWINDOW, 0, {4, 23, 296, 196}},
        {WS_POPUP, WS_EX_CLIENTEDGE, {2, 2, 298, 198}},
        {WS_POPUP | WS_VSCROLL, 0, {0, 0, 284, 200}},
    };
    for (const Case& c : cases) {
        HWND h = CreateWindowExW(c.exStyle, u"ZqTestWindow", u"", c.style, 10, 20, 300, 200, nullptr, nullptr, nullptr,
                                 nullptr);
        RECT client, window;
        GetClientRect(h, &client);
        GetWindowRect(h, &window);
        POINT origin{0, 0};
        ClientToScreen(h, &origin);
        EXPECT_EQ(origin.x - window.left, c.client.left) << std::hex << c.style;
        EXPECT_EQ(origin.y - window.top, c.client.top) << std::hex << c.style;
        EXPECT_EQ(client.right, c.client.right - c.client.left) << std::hex << c.style;
        EXPECT_EQ(client.bottom, c.client.bottom - c.client.top) << std::hex << c.style;
        RECT adjusted{0, 0, client.right, client.bottom};
        AdjustWindowRectEx(&adjusted, c.style & ~WS_VSCROLL, FALSE, c.exStyle);
        if (!(c.style & WS_VSCROLL)) {
            EXPECT_EQ(adjusted.right - adjusted.left, 300) << std::hex << c.style;
        }
        DestroyWindow(h);
    }
    HWND h = Top(WS_POPUP);
    HWND c = Child(h, 1);
    Log().clear();
    SetWindowPos(c, nullptr, 30, 40, 70, 80, SWP_NOZORDER);
    EXPECT_EQ(Log(), (std::vector<std::string>{"POSCHANGING", "POSCHANGED", "MOVE", "SIZE"}));
    Log().clear();
    SetWindowPos(c, nullptr, 31, 41, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    EXPECT_EQ(Log(), (std::vector<std::string>{"POSCHANGING", "POSCHANGED", "MOVE"}));
    RECT r;
    GetWindowRect(c, &r);
    EXPECT_EQ(r.left, 10 + 31);
    EXPECT_EQ(r.top, 20 + 41);
    EXPECT_EQ(r.right - r.left, 70);
    POINT p{0, 0};
    MapWindowPoints(c, h, &p, 1);
    EXPECT_EQ(p.x, 31);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1024);
}

TEST_F(Windows, FocusMovesWithKillAndSetFocus) {
    HWND h = Top(WS_POPUP | WS_VISIBLE);
    HWND a = Child(h, 1);
    HWND b = Child(h, 2);
    SetFocus(a);
    Log().clear();
    EXPECT_EQ(SetFocus(b), a);
    EXPECT_EQ(Log(), (std::vector<std::string>{"KILLFOCUS", "SETFOCUS"}));
    EXPECT_EQ(GetFocus(), b);
    // A disabled window takes no focus; disabling the focus window drops it.
    EnableWindow(a, FALSE);
    EXPECT_EQ(SetFocus(a), nullptr);
    EXPECT_EQ(GetFocus(), b);
    EnableWindow(b, FALSE);
    EXPECT_EQ(GetFocus(), nullptr);
    // Hiding the focus child gives focus to the parent.
    EnableWindow(a, TRUE);
    SetFocus(a);
    ShowWindow(a, SW_HIDE);
    EXPECT_EQ(GetFocus(), h);
    DestroyWindow(h);
    EXPECT_EQ(GetFocus(), nullptr);
    made_.clear();
}

TEST_F(Windows, PeekMessageFiltersByWindowAndRange) {
    HWND h = Top();
    HWND c = Child(h, 1);
    HWND other = Top();
    PostMessageW(other, WM_USER + 1, 0, 0);
    PostMessageW(c, WM_USER + 2, 0, 0);
    PostMessageW(h, WM_USER + 3, 0, 0);
    PostMessageW(nullptr, WM_USER + 4, 0, 0);
    MSG m;
    // The parent's filter takes its children's messages too.
    ASSERT_TRUE(PeekMessageW(&m, h, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 3, WM_USER + 4, PM_NOREMOVE));
    EXPECT_EQ(m.message, WM_USER + 3);
    ASSERT_TRUE(PeekMessageW(&m, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 4);
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_USER + 5, WM_USER + 9, PM_REMOVE));
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 1);
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 3);
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

int g_timerCalls = 0;
void CountingTimer(HWND, UINT, UINT_PTR, DWORD) { ++g_timerCalls; }

TEST_F(Windows, TimersFireOnTheFakeClockAndShortPeriodsBecome10ms) {
    zq::FakeClock clock;
    zq::ScopedClock scoped(clock);
    HWND h = Top();
    struct Case {
        UINT elapse;
        uint64_t advance;
        size_t fired;
    };
    const Case cases[] = {{0, 9, 0}, {0, 10, 1}, {5, 10, 1}, {100, 99, 0}, {100, 100, 1}, {100, 350, 1}};
    for (const Case& c : cases) {
        SetTimer(h, 1, c.elapse, nullptr);  // resets the timer
        clock.Advance(c.advance);
        Log().clear();
        zq::user::PumpMessages();
        size_t timers = 0;
        for (auto& s : Log()) timers += s == "TIMER";
        EXPECT_EQ(timers, c.fired) << c.elapse << " after " << c.advance;
    }
    KillTimer(h, 1);
    // A zero period advanced by 9 then 1 ms fires once, not in a loop.
    SetTimer(h, 2, 0, nullptr);
    clock.Advance(9);
    Log().clear();
    EXPECT_EQ(zq::user::PumpMessages(), 0u);
    clock.Advance(1);
    EXPECT_EQ(zq::user::PumpMessages(), 1u);
    EXPECT_EQ(zq::user::PumpMessages(), 0u);
    clock.Advance(35);  // several periods late: one message, not a burst
    EXPECT_EQ(zq::user::PumpMessages(), 1u);
    KillTimer(h, 2);
    // A timer procedure is called by the dispatch.
    g_timerCalls = 0;
    const UINT_PTR id = SetTimer(nullptr, 0, 50, CountingTimer);
    EXPECT_NE(id, 0u);
    clock.Advance(50);
    zq::user::PumpMessages();
    EXPECT_EQ(g_timerCalls, 1);
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(KillTimer(nullptr, id));
    // Timers go with their window.
    SetTimer(h, 3, 10, nullptr);
    DestroyWindow(h);
    clock.Advance(100);
    EXPECT_EQ(zq::user::PumpMessages(), 0u);
    made_.clear();
}

TEST_F(Windows, SubclassHandlesGoWithTheirWindowAndForgedTimerMessagesCallNothing) {
    HWND h = Top();
    // The A view of a W procedure is a handle that lives with the window.
    const auto handle = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC));
    ASSERT_NE(handle, LoggingProc);
    Log().clear();
    CallWindowProcA(handle, h, WM_USER, 0, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"USER"}));
    DestroyWindow(h);
    made_.clear();
    HWND other = Top();
    Log().clear();
    EXPECT_EQ(CallWindowProcA(handle, other, WM_USER, 0, 0), 0);
    EXPECT_TRUE(Log().empty());
    // A WM_TIMER naming a procedure no timer was set with calls nothing.
    g_timerCalls = 0;
    MSG forged{other, WM_TIMER, 5, reinterpret_cast<LPARAM>(CountingTimer), 0, {}};
    DispatchMessageW(&forged);
    EXPECT_EQ(g_timerCalls, 0);
}

std::vector<std::string> g_hookLog;
LRESULT KeyHook(int code, WPARAM vk, LPARAM l) {
    if (code == HC_ACTION) {
        std::string s = "hook:";
        if (GetKeyState(VK_CONTROL) < 0) s += "ctrl+";
        s += static_cast<char>(vk);
        if (vk == 'S' || vk == VK_CONTROL) g_hookLog.push_back(s + ((l & KF_UP_BIT) ? ":up" : ":down"));
        if (vk == 'Q') return 1;  // eaten
    }
    return CallNextHookEx(nullptr, code, vk, l);
}

LRESULT KeyProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_KEYDOWN) g_hookLog.push_back(std::string("WM_KEYDOWN:") + static_cast<char>(w));
    return DefWindowProcW(hwnd, m, w, l);
}

TEST_F(Windows, CtrlSReachesTheKeyboardHookBeforeWmKeydown) {
    HWND h = Top(WS_POPUP | WS_VISIBLE);
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(KeyProc));
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD, KeyHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    g_hookLog.clear();
    PostMessageW(h, WM_KEYDOWN, VK_CONTROL, 1);
    PostMessageW(h, WM_KEYDOWN, 'S', 1);
    PostMessageW(h, WM_KEYDOWN, 'Q', 1);
    PostMessageW(h, WM_KEYUP, 'S', KF_UP_BIT | 1);
    PostMessageW(h, WM_KEYUP, VK_CONTROL, KF_UP_BIT | 1);
    zq::user::PumpMessages();
    EXPECT_EQ(g_hookLog,
              (std::vector<std::string>{"hook:ctrl+\x11:down", "WM_KEYDOWN:\x11", "hook:ctrl+S:down", "WM_KEYDOWN:S",
                                        "hook:ctrl+S:up", "hook:\x11:up"}));
    EXPECT_TRUE(UnhookWindowsHookEx(hook));
    EXPECT_FALSE(UnhookWindowsHookEx(hook));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HOOK_HANDLE);
}

TEST_F(Windows, HooksGoWithTheirThread) {
    HHOOK hook = nullptr;
    std::thread t([&] { hook = SetWindowsHookExW(WH_KEYBOARD, KeyHook, nullptr, 0); });
    t.join();
    ASSERT_NE(hook, nullptr);
    EXPECT_FALSE(UnhookWindowsHookEx(hook));  // already gone with the thread
}

TEST_F(Windows, GetMessageWithNothingToDoEndsInsteadOfWaiting) {
    MSG m;
    zq::user::SetIdleHandler(nullptr);
    EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_QUIT);
    // An idle handler that acts keeps the loop going.
    HWND h = Top();
    int rounds = 0;
    zq::user::SetIdleHandler([&] {
        if (rounds++ == 2) return false;
        PostMessageW(h, WM_USER, 0, 0);
        return true;
    });
    int got = 0;
    while (GetMessageW(&m, nullptr, 0, 0)) {
        DispatchMessageW(&m);
        ++got;
    }
    EXPECT_EQ(got, 2);
    zq::user::SetIdleHandler(nullptr);
}

TEST_F(Windows, SysColorsAndDefaultCtlColor) {
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
    EXPECT_NE(GetSysColorBrush(COLOR_BTNFACE), nullptr);
    EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));
    HWND h = Top();
    HDC dc = GetDC(h);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(DefWindowProcW(h, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
    EXPECT_EQ(DefWindowProcW(h, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
    // The legacy message names the kind in its high word: 1 is an edit.
    EXPECT_EQ(DefWindowProcW(h, WM_CTLCOLOR, reinterpret_cast<WPARAM>(dc), MAKELONG(0, 1)),
              reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
    ReleaseDC(h, dc);
}

TEST_F(Windows, HelpAndContextMenuGoUpToTheParent) {
    HWND h = Top(WS_POPUP | WS_VISIBLE);
    HWND c = Child(h, 9);
    static std::vector<std::string> seen;
    seen.clear();
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
                          if (m == WM_HELP) {
                              const auto* hi = reinterpret_cast<const HELPINFO*>(lp);
                              seen.push_back("help:" + std::to_string(hi->iCtrlId));
                              return TRUE;
                          }
                          if (m == WM_CONTEXTMENU) seen.push_back("context");
                          return DefWindowProcW(w, m, wp, lp);
                      }));
    SetFocus(c);
    SendMessageW(c, WM_KEYDOWN, VK_F1, 0);
    SendMessageW(c, WM_RBUTTONUP, 0, MAKELONG(3, 4));
    EXPECT_EQ(seen, (std::vector<std::string>{"help:9", "context"}));
}

TEST_F(Windows, UpdateRegionsAndPaint) {
    HWND h = Top(WS_POPUP | WS_VISIBLE);
    UpdateWindow(h);
    RECT r;
    EXPECT_FALSE(GetUpdateRect(h, &r, FALSE));
    RECT a{10, 10, 20, 20}, b{30, 5, 40, 15};
    InvalidateRect(h, &a, TRUE);
    InvalidateRect(h, &b, FALSE);
    EXPECT_TRUE(GetUpdateRect(h, &r, FALSE));
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 5);
    EXPECT_EQ(r.right, 40);
    EXPECT_EQ(r.bottom, 20);
    UpdateWindow(h);
    EXPECT_FALSE(GetUpdateRect(h, &r, FALSE));
    // The class brush (COLOR_BTNFACE + 1) erased the surface.
    int width = 0, height = 0;
    const auto* bits = static_cast<const uint32_t*>(zq::user::SurfaceBits(h, &width, &height));
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(width, 300);
    EXPECT_EQ(bits[15 * width + 15] & 0xFFFFFF, 0xD4D0C8u);
}

TEST_F(Windows, TwoThreadsKeepTheirOwnQueuesAndFocus) {
    auto run = [](int n, bool* ok) {
        HWND h = CreateWindowExW(0, u"ZqTestWindow", u"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
        bool good = h != nullptr;
        for (int i = 0; i < 200; ++i) {
            PostMessageW(h, WM_USER, static_cast<WPARAM>(n), 0);
            MSG m;
            good = good && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && m.wParam == static_cast<WPARAM>(n);
            SetFocus(h);
            good = good && GetFocus() == h;
        }
        DestroyWindow(h);
        *ok = good;
    };
    bool ok1 = false, ok2 = false;
    std::thread t1(run, 1, &ok1), t2(run, 2, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

}  // namespace
