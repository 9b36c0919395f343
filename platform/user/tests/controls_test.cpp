#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "user/controls.h"
#include "user/dialog.h"

namespace {

// A parent that records the notifications and owner-draw requests it gets.
struct Parent {
    std::vector<std::string> log;
    std::vector<UINT> drawStates;
    UINT measureHeight = 20;
};

LRESULT ParentProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    auto* p = reinterpret_cast<Parent*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (p) {
        if (m == WM_COMMAND) p->log.push_back(std::to_string(LOWORD(static_cast<DWORD>(w))) + ":" +
                                              std::to_string(HIWORD(static_cast<DWORD>(w))));
        if (m == WM_HSCROLL || m == WM_VSCROLL) p->log.push_back("scroll:" + std::to_string(LOWORD(static_cast<DWORD>(w))));
        if (m == WM_DRAWITEM) p->drawStates.push_back(reinterpret_cast<const DRAWITEMSTRUCT*>(l)->itemState);
        if (m == WM_MEASUREITEM) {
            auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(l);
            mis->itemHeight = p->measureHeight + mis->itemID;
            p->log.push_back("measure:" + std::to_string(static_cast<int>(mis->itemID)));
            return TRUE;
        }
    }
    return DefWindowProcW(hwnd, m, w, l);
}

class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = ParentProc;
            wc.lpszClassName = u"ZqControlParent";
            RegisterClassExW(&wc);
            registered = true;
        }
        parent_ = CreateWindowExW(0, u"ZqControlParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                                  nullptr, nullptr, nullptr);
        SetWindowLongPtrW(parent_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&p_));
    }
    void TearDown() override { DestroyWindow(parent_); }
    HWND Make(const char16_t* cls, DWORD style, int id = 10, int height = 100) {
        return CreateWindowExW(0, cls, u"", WS_CHILD | WS_VISIBLE | style, 10, 10, 120, height, parent_,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }
    HWND parent_ = nullptr;
    Parent p_;
};

TEST_F(Controls, ListFindsStartAfterTheGivenItemWrapAndIgnoreCase) {
    HWND list = Make(WC_LISTBOX, LBS_NOTIFY);
    for (const char16_t* s : {u"Alpha", u"beta", u"Alphabet", u"ALPHA", u"gamma"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    struct Case {
        UINT message;
        int start;
        const char16_t* text;
        LRESULT expect;
    };
    const Case cases[] = {
        {LB_FINDSTRING, -1, u"alpha", 0},
        {LB_FINDSTRING, 0, u"alpha", 2},       // starts after item 0
        {LB_FINDSTRING, 2, u"alpha", 3},
        {LB_FINDSTRING, 3, u"alpha", 0},       // wraps round
        {LB_FINDSTRING, 4, u"BE", 1},
        {LB_FINDSTRING, -1, u"delta", LB_ERR},
        {LB_FINDSTRING, 99, u"gam", 4},        // out of range searches all
        {LB_FINDSTRINGEXACT, -1, u"alpha", 0},
        {LB_FINDSTRINGEXACT, 0, u"alpha", 3},  // "Alphabet" is no exact match
        {LB_FINDSTRINGEXACT, -1, u"alph", LB_ERR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SendMessageW(list, c.message, static_cast<WPARAM>(c.start), reinterpret_cast<LPARAM>(c.text)),
                  c.expect)
            << c.start << " " << zq::Utf16ToUtf8(c.text);
    // SELECTSTRING selects what FINDSTRING finds, without a notification.
    p_.log.clear();
    EXPECT_EQ(SendMessageW(list, LB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(u"alpha")), 2);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(p_.log.empty());
}

TEST_F(Controls, ComboFindsFollowTheListRulesAndNotifyInOrder) {
    HWND combo = Make(WC_COMBOBOX, CBS_DROPDOWNLIST, 20, 120);
    for (const char16_t* s : {u"Letter", u"legal", u"A4", u"LETTER small"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"le")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(u"le")), 1);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, 1, reinterpret_cast<LPARAM>(u"letter")), 3);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, 3, reinterpret_cast<LPARAM>(u"letter")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(u"letter")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"a")), 2);
    WCHAR text[32];
    GetWindowTextW(combo, text, 32);
    EXPECT_EQ(std::u16string(text), u"A4");
    // The drop-down list is a window of its own; a pick from it notifies
    // SELCHANGE, SELENDOK, CLOSEUP.
    p_.log.clear();
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    HWND list = FindWindowExW(nullptr, nullptr, WC_COMBOLBOX, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(IsWindowVisible(list));
    RECT item;
    SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(2, static_cast<WORD>(item.top + 1)));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELONG(2, static_cast<WORD>(item.top + 1)));
    EXPECT_EQ(p_.log, (std::vector<std::string>{"20:7", "20:1", "20:9", "20:8"}));  // DROPDOWN SELCHANGE SELENDOK CLOSEUP
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_FALSE(IsWindowVisible(list));
}

TEST_F(Controls, DropDownComboEditsThroughItsEditChild) {
    HWND combo = Make(WC_COMBOBOX, CBS_DROPDOWN, 21, 120);
    HWND edit = GetWindow(combo, GW_CHILD);
    ASSERT_NE(edit, nullptr);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"One"));
    p_.log.clear();
    SetFocus(combo);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(p_.log, (std::vector<std::string>{"21:3"}));  // CBN_SETFOCUS
    p_.log.clear();
    SendMessageW(edit, WM_CHAR, 'x', 0);
    SendMessageW(combo, CB_SETCURSEL, 0, 0);  // a selection changes the text without EDITCHANGE
    SetFocus(parent_);
    EXPECT_EQ(p_.log, (std::vector<std::string>{"21:6", "21:5", "21:4"}));  // EDITUPDATE EDITCHANGE KILLFOCUS
    WCHAR text[16];
    GetWindowTextW(combo, text, 16);
    EXPECT_EQ(std::u16string(text), u"One");
}

TEST_F(Controls, ListSelectionModes) {
    struct Case {
        DWORD style;
        std::vector<int> clicks;
        std::vector<int> ctrlClicks;
        int selCount;  // LB_ERR for single selection
    };
    const Case cases[] = {
        {0, {1, 3}, {}, static_cast<int>(LB_ERR)},
        {LBS_MULTIPLESEL, {1, 3, 1}, {}, 1},
        {LBS_EXTENDEDSEL, {1, 3}, {}, 1},
        {LBS_EXTENDEDSEL, {1}, {3, 4}, 3},
    };
    for (const Case& c : cases) {
        HWND list = Make(WC_LISTBOX, LBS_NOTIFY | c.style);
        for (int i = 0; i < 6; ++i)
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"item"));
        SendMessageW(list, LB_SETITEMDATA, 3, 0x1234567890);
        EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 3, 0), 0x1234567890);
        const LRESULT h = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
        for (int i : c.clicks) SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(3, static_cast<WORD>(i * h + 1)));
        PostMessageW(list, WM_KEYDOWN, VK_CONTROL, 0);
        zq::user::PumpMessages();
        for (int i : c.ctrlClicks) SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(3, static_cast<WORD>(i * h + 1)));
        PostMessageW(list, WM_KEYUP, VK_CONTROL, 0);
        zq::user::PumpMessages();
        EXPECT_EQ(SendMessageW(list, LB_GETSELCOUNT, 0, 0), c.selCount) << std::hex << c.style;
        // Single selection follows the last click; LB_SETCURSEL is for it only.
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), c.style ? SendMessageW(list, LB_GETCARETINDEX, 0, 0) : 3);
        EXPECT_EQ(SendMessageW(list, LB_SETCURSEL, 0, 0), c.style ? LB_ERR : 0);
        DestroyWindow(list);
    }
}

TEST_F(Controls, OwnerDrawListsMeasureAndDrawWithTheirStates) {
    p_.measureHeight = 18;
    HWND fixed = Make(WC_LISTBOX, LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 30);
    EXPECT_EQ(SendMessageW(fixed, LB_GETITEMHEIGHT, 0, 0), 18);
    HWND variable = Make(WC_LISTBOX, LBS_OWNERDRAWVARIABLE, 31);
    p_.log.clear();
    SendMessageW(variable, LB_ADDSTRING, 0, 7);
    SendMessageW(variable, LB_ADDSTRING, 0, 8);
    EXPECT_EQ(p_.log, (std::vector<std::string>{"measure:0", "measure:1"}));
    EXPECT_EQ(SendMessageW(variable, LB_GETITEMHEIGHT, 1, 0), 19);
    // Without strings, the finds compare item data.
    EXPECT_EQ(SendMessageW(variable, LB_FINDSTRING, static_cast<WPARAM>(-1), 8), 1);
    SendMessageW(variable, LB_SETCURSEL, 1, 0);
    p_.drawStates.clear();
    InvalidateRect(variable, nullptr, TRUE);
    UpdateWindow(variable);
    EXPECT_EQ(p_.drawStates, (std::vector<UINT>{0, ODS_SELECTED}));
}

TEST_F(Controls, OwnerDrawButtonStates) {
    HWND b = Make(WC_BUTTON, BS_OWNERDRAW, 40, 20);
    struct Case {
        bool focus;
        bool pushed;
        bool enabled;
        UINT state;
    };
    const Case cases[] = {
        {false, false, true, 0},
        {true, false, true, ODS_FOCUS},
        {true, true, true, ODS_FOCUS | ODS_SELECTED},
        {false, false, false, ODS_DISABLED},
    };
    for (const Case& c : cases) {
        EnableWindow(b, c.enabled);
        SetFocus(c.focus ? b : parent_);
        SendMessageW(b, BM_SETSTATE, c.pushed, 0);
        p_.drawStates.clear();
        InvalidateRect(b, nullptr, TRUE);
        UpdateWindow(b);
        ASSERT_EQ(p_.drawStates.size(), 1u);
        EXPECT_EQ(p_.drawStates[0], c.state);
        SendMessageW(b, BM_SETSTATE, FALSE, 0);
    }
}

TEST_F(Controls, CheckBoxStates) {
    struct Case {
        DWORD style;
        std::vector<LRESULT> afterClicks;
    };
    const Case cases[] = {
        {BS_AUTOCHECKBOX, {1, 0, 1}},
        {BS_AUTO3STATE, {1, 2, 0}},
        {BS_CHECKBOX, {0, 0, 0}},  // not automatic: the parent checks it
    };
    for (const Case& c : cases) {
        HWND b = Make(WC_BUTTON, c.style, 41, 20);
        for (LRESULT expect : c.afterClicks) {
            SendMessageW(b, BM_CLICK, 0, 0);
            EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), expect) << c.style;
        }
        // A two-state box takes "indeterminate" as checked.
        SendMessageW(b, BM_SETCHECK, BST_INDETERMINATE, 0);
        EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), c.style == BS_AUTO3STATE ? 2 : 1);
        DestroyWindow(b);
    }
}

TEST_F(Controls, EditLimitNumberUndoAndChangeNotifications) {
    HWND e = Make(WC_EDIT, ES_AUTOHSCROLL | WS_BORDER, 50, 20);
    p_.log.clear();
    SetWindowTextW(e, u"12");
    EXPECT_EQ(p_.log, (std::vector<std::string>{"50:1024", "50:768"}));  // EN_UPDATE, EN_CHANGE
    SendMessageW(e, EM_LIMITTEXT, 4, 0);
    SendMessageW(e, EM_SETSEL, 2, 2);
    for (char c : std::string("a3")) SendMessageW(e, WM_CHAR, static_cast<WPARAM>(c), 0);
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "12a3");
    p_.log.clear();
    SendMessageW(e, WM_CHAR, '9', 0);  // over the limit
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "12a3");
    EXPECT_EQ(p_.log, (std::vector<std::string>{"50:1281"}));  // EN_MAXTEXT
    // ES_NUMBER set at run time refuses letters from then on.
    SetWindowTextW(e, u"");
    SetWindowLongW(e, GWL_STYLE, GetWindowLongW(e, GWL_STYLE) | ES_NUMBER);
    for (char c : std::string("4x2")) SendMessageW(e, WM_CHAR, static_cast<WPARAM>(c), 0);
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "42");
    // One level of undo; undoing again redoes.
    SendMessageW(e, EM_SETSEL, 0, -1);
    SendMessageW(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(u"7"));
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "7");
    EXPECT_TRUE(SendMessageW(e, EM_CANUNDO, 0, 0));
    SendMessageW(e, EM_UNDO, 0, 0);
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "42");
    SendMessageW(e, EM_UNDO, 0, 0);
    EXPECT_EQ(zq::user::WindowTextUtf8(e), "7");
    SetWindowTextW(e, u"new");
    EXPECT_FALSE(SendMessageW(e, EM_CANUNDO, 0, 0));
    DWORD start = 9, end = 9;
    SendMessageW(e, EM_SETSEL, 1, 99);
    SendMessageW(e, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(end, 3u);
    // The A view converts.
    char narrow[8];
    EXPECT_EQ(GetWindowTextA(e, narrow, 8), 3);
}

TEST_F(Controls, ScrollInfoClamping) {
    HWND s = Make(WC_SCROLLBAR, SBS_HORZ, 60, 16);
    struct Case {
        UINT mask;
        int min, max;
        UINT page;
        int pos;
        int expectPos;
        UINT expectPage;
    };
    const Case cases[] = {
        {SIF_ALL, 0, 100, 10, 50, 50, 10},
        {SIF_POS, 0, 0, 0, 95, 91, 10},      // max - (page - 1)
        {SIF_POS, 0, 0, 0, -5, 0, 10},
        {SIF_PAGE, 0, 0, 500, 0, 0, 101},    // a page is at most the range
        {SIF_ALL, 10, 20, 0, 25, 20, 0},
        {SIF_RANGE, 30, 20, 0, 0, 20, 0},    // min above max: refused, old range kept
        {SIF_RANGE | SIF_POS, -10, 10, 0, -20, -10, 0},
    };
    for (const Case& c : cases) {
        SCROLLINFO in{sizeof(SCROLLINFO), c.mask, c.min, c.max, c.page, c.pos, 0};
        EXPECT_EQ(SetScrollInfo(s, SB_CTL, &in, FALSE), c.expectPos);
        SCROLLINFO out{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
        ASSERT_TRUE(GetScrollInfo(s, SB_CTL, &out));
        EXPECT_EQ(out.nPos, c.expectPos);
        EXPECT_EQ(out.nPage, c.expectPage);
    }
    SCROLLINFO bad{12, SIF_ALL, 0, 0, 0, 0, 0};
    EXPECT_FALSE(GetScrollInfo(s, SB_CTL, &bad));
    // The bar tells its parent; it does not move itself.
    p_.log.clear();
    SendMessageW(s, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(p_.log, (std::vector<std::string>{"scroll:1", "scroll:8"}));
    EXPECT_EQ(GetScrollPos(s, SB_CTL), -10);
}

}  // namespace
