#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock.h"
#include "base/loader.h"
#include "dialog_ids.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/test_driver.h"

namespace {

namespace t = zq::user::test;

std::vector<std::string> g_seen;

LRESULT Hook(int code, WPARAM vk, LPARAM l) {
    if (code == HC_ACTION && !(l & KF_UP_BIT) && vk == 'S' && GetKeyState(VK_CONTROL) < 0) g_seen.push_back("hook ctrl+S");
    return CallNextHookEx(nullptr, code, vk, l);
}

WNDPROC g_editProc = nullptr;
LRESULT EditSpy(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_KEYDOWN && w == 'S') g_seen.push_back("edit WM_KEYDOWN S");
    return CallWindowProcW(g_editProc, hwnd, m, w, l);
}

INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        HWND edit = GetDlgItem(dialog, IDC_NAME);
        g_editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditSpy)));
        SetTimer(dialog, 7, 500, nullptr);
        return TRUE;
    }
    if (message == WM_TIMER) g_seen.push_back("timer " + std::to_string(wParam));
    if (message == WM_COMMAND && LOWORD(static_cast<DWORD>(wParam)) == IDOK) {
        g_seen.push_back("ok with \"" + t::Text(GetDlgItem(dialog, IDC_NAME)) + "\"");
        EndDialog(dialog, 77);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(static_cast<DWORD>(wParam)) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

TEST(TestDriver, PlaysTheUserInsideAModalLoop) {
    zq::FakeClock clock;
    zq::ScopedClock scoped(clock);
    g_seen.clear();
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD, Hook, nullptr, 0);
    std::string dump;
    {
        t::Script script;
        script.Then([] { t::Type(t::FindById(t::Active(), IDC_NAME), u"Zel"); });
        script.Then([] { t::Key('S', {VK_CONTROL}); });
        script.Then([] { t::AdvanceClock(*static_cast<zq::FakeClock*>(&zq::CurrentClock()), 499); });
        script.Then([] { t::AdvanceClock(*static_cast<zq::FakeClock*>(&zq::CurrentClock()), 1); });
        script.Then([] { t::Click(t::FindByText(t::Active(), u"Best")); });
        script.Then([&] { dump = t::Dump(t::Active()); });
        script.Then([] { t::PressOk(t::Active()); });
        const INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLASSIC), nullptr, Proc, 0);
        EXPECT_EQ(r, 77);
        EXPECT_EQ(script.Left(), 0u);
        EXPECT_TRUE(script.Endings().empty());
    }
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_seen, (std::vector<std::string>{"hook ctrl+S", "edit WM_KEYDOWN S", "timer 7", "ok with \"Zel\""}));
    EXPECT_NE(dump.find("Button \"&Best\" #1004"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[checked]"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Edit \"Zel\" #1001"), std::string::npos) << dump;
    EXPECT_EQ(dump.rfind("#32770 \"Zelquor layout\"", 0), 0u) << dump;
}

TEST(TestDriver, ALoopWithNothingLeftEndsAsCancelAndSaysSo) {
    t::Script script;
    const INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLASSIC), nullptr, Proc, 0);
    EXPECT_EQ(r, IDCANCEL);
    ASSERT_EQ(script.Endings().size(), 1u);
    EXPECT_EQ(script.Endings()[0], "no action left: the loop of \"Zelquor layout\" ends");
}

TEST(TestDriver, FindsByPathAndMovesWindows) {
    HWND d = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLASSIC), nullptr,
                                          [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR { return m == WM_INITDIALOG; }, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(t::FindByPath("Zelquor layout/#1003"), GetDlgItem(d, IDC_FAST));
    EXPECT_EQ(t::FindByPath("zelquor LAYOUT/class:Edit"), GetDlgItem(d, IDC_NAME));
    EXPECT_EQ(t::FindByPath("Zelquor layout/Collate"), GetDlgItem(d, IDC_COLLATE));
    EXPECT_EQ(t::FindByPath("Nobody/#1"), nullptr);
    EXPECT_TRUE(t::MoveTo(d, 40, 50));
    RECT r;
    GetWindowRect(d, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    DestroyWindow(d);
}

}  // namespace

namespace {

std::vector<std::string> g_mouse;
LRESULT HoverProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_MOUSEMOVE) {
        TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, hwnd, HOVER_DEFAULT};
        _TrackMouseEvent(&t);
        g_mouse.push_back("move " + std::to_string(GetDlgCtrlID(hwnd)));
    }
    if (m == WM_MOUSELEAVE) g_mouse.push_back("leave " + std::to_string(GetDlgCtrlID(hwnd)));
    return DefWindowProcW(hwnd, m, w, l);
}

TEST(TestDriver, MovingTheMouseOffATrackedWindowSendsMouseLeave) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = HoverProc;
    wc.lpszClassName = u"ZqHover";
    RegisterClassExW(&wc);
    HWND top = CreateWindowExW(0, WC_DIALOG, u"hover", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                               nullptr, nullptr);
    HWND a = CreateWindowExW(0, u"ZqHover", u"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(1)), nullptr, nullptr);
    HWND b = CreateWindowExW(0, u"ZqHover", u"", WS_CHILD | WS_VISIBLE, 60, 0, 50, 50, top,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(2)), nullptr, nullptr);
    g_mouse.clear();
    t::MoveMouseTo(a);
    t::MoveMouseTo(a);  // still inside: no leave
    t::MoveMouseTo(b);
    t::Pump();
    EXPECT_EQ(g_mouse, (std::vector<std::string>{"move 1", "move 1", "move 2", "leave 1"}));
    DestroyWindow(top);
}

}  // namespace
