#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/loader.h"
#include "base/resources.h"
#include "dialog_ids.h"
#include "user/menu.h"
#include "user/test_driver.h"

namespace {

std::span<const BYTE> MenuResource(int id) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(self, MAKEINTRESOURCEW(static_cast<WORD>(id)), MAKEINTRESOURCEW(4));
    if (!r) return {};
    return {static_cast<const BYTE*>(LockResource(LoadResource(self, r))), SizeofResource(self, r)};
}

TEST(Menus, PositionsAfterInsertAndDelete) {
    HMENU m = CreatePopupMenu();
    AppendMenuW(m, MF_STRING, 10, u"a");
    AppendMenuW(m, MF_STRING, 20, u"b");
    AppendMenuW(m, MF_STRING, 30, u"c");
    struct Case {
        const char* what;
        std::vector<UINT> ids;  // by position, 0xFFFFFFFF for a popup
    };
    auto ids = [&] {
        std::vector<UINT> v;
        for (int i = 0; i < GetMenuItemCount(m); ++i) v.push_back(GetMenuItemID(m, i));
        return v;
    };
    InsertMenuW(m, 1, MF_BYPOSITION | MF_STRING, 15, u"a2");
    EXPECT_EQ(ids(), (std::vector<UINT>{10, 15, 20, 30}));
    InsertMenuW(m, 30, MF_BYCOMMAND | MF_STRING, 25, u"b2");  // before the command
    EXPECT_EQ(ids(), (std::vector<UINT>{10, 15, 20, 25, 30}));
    InsertMenuW(m, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 40, u"d");  // -1 appends
    EXPECT_EQ(ids(), (std::vector<UINT>{10, 15, 20, 25, 30, 40}));
    HMENU sub = CreatePopupMenu();
    AppendMenuW(sub, MF_STRING, 99, u"deep");
    InsertMenuW(m, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"sub");
    EXPECT_EQ(ids(), (std::vector<UINT>{0xFFFFFFFF, 10, 15, 20, 25, 30, 40}));
    EXPECT_TRUE(DeleteMenu(m, 2, MF_BYPOSITION));  // 15
    EXPECT_TRUE(DeleteMenu(m, 30, MF_BYCOMMAND));
    EXPECT_TRUE(DeleteMenu(m, 99, MF_BYCOMMAND));  // found in the sub-menu
    EXPECT_EQ(GetMenuItemCount(sub), 0);
    EXPECT_FALSE(DeleteMenu(m, 77, MF_BYCOMMAND));
    EXPECT_EQ(ids(), (std::vector<UINT>{0xFFFFFFFF, 10, 20, 25, 40}));
    // Missing items answer -1.
    EXPECT_EQ(GetMenuItemID(m, 9), 0xFFFFFFFFu);
    EXPECT_EQ(GetMenuItemID(m, -1), 0xFFFFFFFFu);
    EXPECT_EQ(GetMenuState(m, 77, MF_BYCOMMAND), 0xFFFFFFFFu);
    EXPECT_EQ(CheckMenuItem(m, 77, MF_CHECKED), 0xFFFFFFFFu);
    CheckMenuItem(m, 20, MF_BYCOMMAND | MF_CHECKED);
    EXPECT_EQ(GetMenuState(m, 2, MF_BYPOSITION) & MF_CHECKED, MF_CHECKED);
    DestroyMenu(m);
    EXPECT_FALSE(IsMenu(sub));  // sub-menus go with their menu
}

TEST(Menus, BothTemplateFormsGiveOneMenuAndCutsFail) {
    std::vector<std::string> dumps;
    for (int id : {IDM_CLASSIC, IDM_EXTENDED}) {
        const auto bytes = MenuResource(id);
        ASSERT_FALSE(bytes.empty());
        HMENU m = zq::user::LoadMenuFromBytes(bytes);
        ASSERT_NE(m, nullptr) << id;
        dumps.push_back(zq::user::DumpMenu(m));
        DestroyMenu(m);
        // A level that runs past the bytes, or is never closed, fails.
        for (size_t n = 0; n < bytes.size(); ++n) {
            std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            HMENU bad = zq::user::LoadMenuFromBytes(cut);
            EXPECT_EQ(bad, nullptr) << id << " cut at " << n;
            if (bad) DestroyMenu(bad);
        }
    }
    EXPECT_EQ(dumps[0], dumps[1]);
    EXPECT_EQ(dumps[0],
              "\"&File\"\n  \"&Open...\" #300\n  \"&Save\" #301 [grayed]\n  -----\n  \"&Recent\"\n"
              "    \"One\" #302 [checked]\n\"&Help\" #303\n");
    // A classic level without its end mark: the next bytes are padding.
    std::vector<BYTE> unclosed{0, 0, 0, 0, 0, 0, 1, 0, u'x', 0, 0, 0};
    EXPECT_EQ(zq::user::LoadMenuFromBytes(unclosed), nullptr);
}

std::vector<std::string> g_menuLog;
LRESULT MenuWindowProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_INITMENU) {
        g_menuLog.push_back("INITMENU");
        EnableMenuItem(reinterpret_cast<HMENU>(w), IDM_SAVE, MF_BYCOMMAND | MF_ENABLED);
    }
    if (m == WM_COMMAND) g_menuLog.push_back("COMMAND " + std::to_string(LOWORD(static_cast<DWORD>(w))));
    return DefWindowProcW(hwnd, m, w, l);
}

TEST(Menus, MenuBarTakesItsHeightAndAChosenItemSendsWmCommand) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MenuWindowProc;
    wc.lpszClassName = u"ZqMenuWindow";
    RegisterClassExW(&wc);
    HWND h = CreateWindowExW(0, u"ZqMenuWindow", u"m", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                             nullptr, nullptr, nullptr);
    RECT before, after;
    GetClientRect(h, &before);
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_CLASSIC));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(SetMenu(h, menu));
    GetClientRect(h, &after);
    EXPECT_EQ(before.bottom - after.bottom, GetSystemMetrics(SM_CYMENU));
    g_menuLog.clear();
    // Grayed until WM_INITMENU enables it.
    EXPECT_TRUE(zq::user::test::ChooseMenuCommand(h, IDM_SAVE));
    EXPECT_FALSE(zq::user::test::ChooseMenuCommand(h, 12345));
    EXPECT_EQ(g_menuLog, (std::vector<std::string>{"INITMENU", "COMMAND 301"}));
    DestroyWindow(h);
    EXPECT_FALSE(IsMenu(menu));  // the bar goes with its window
}

}  // namespace
