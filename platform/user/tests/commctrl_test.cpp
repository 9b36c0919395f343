#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gdi/dc.h"
#include "user/commctrl.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/picture.h"
#include "user/window.h"

namespace {

struct Seen {
    std::vector<std::string> log;
    bool cancelDelta = false;
    bool refuseChange = false;
};
thread_local Seen* g_seen = nullptr;

LRESULT ParentProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
    if (g_seen) {
        if (m == WM_NOTIFY) {
            const auto* nm = reinterpret_cast<const NMHDR*>(l);
            if (nm->code == UDN_DELTAPOS) {
                const auto* ud = reinterpret_cast<const NMUPDOWN*>(l);
                g_seen->log.push_back("delta " + std::to_string(ud->iPos) + " " + std::to_string(ud->iDelta));
                return g_seen->cancelDelta;
            }
            if (nm->code == NM_RELEASEDCAPTURE) g_seen->log.push_back("released");
            if (nm->code == LVN_ITEMCHANGING) {
                g_seen->log.push_back("changing " + std::to_string(reinterpret_cast<const NMLISTVIEW*>(l)->iItem));
                return g_seen->refuseChange;
            }
            if (nm->code == LVN_ITEMCHANGED) {
                const auto* lv = reinterpret_cast<const NMLISTVIEW*>(l);
                g_seen->log.push_back("changed " + std::to_string(lv->iItem) + " " + std::to_string(lv->uNewState));
            }
        }
        if (m == WM_VSCROLL || m == WM_HSCROLL)
            g_seen->log.push_back((m == WM_VSCROLL ? "v " : "h ") + std::to_string(LOWORD(static_cast<DWORD>(w))) + " " +
                                  std::to_string(static_cast<SHORT>(HIWORD(static_cast<DWORD>(w)))));
    }
    return DefWindowProcW(hwnd, m, w, l);
}

class Common : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ParentProc;
        wc.lpszClassName = u"ZqCommonParent";
        RegisterClassExW(&wc);
        parent_ = CreateWindowExW(0, u"ZqCommonParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                  nullptr, nullptr);
        g_seen = &seen_;
    }
    void TearDown() override {
        g_seen = nullptr;
        DestroyWindow(parent_);
    }
    HWND Make(const char16_t* cls, DWORD style, int x, int w, int h, int id = 5) {
        return CreateWindowExW(0, cls, u"", WS_CHILD | WS_VISIBLE | style, x, 10, w, h, parent_,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }
    HWND parent_ = nullptr;
    Seen seen_;
};

// The report view's picture: a header of raised cells, rows in the window
// colour, the selected row in the highlight colour, text in every column.
TEST_F(Common, ListViewPaintsHeaderRowsAndSelection) {
    HWND lv = Make(WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL, 10, 300, 120);
    for (int c = 0; c < 2; ++c) {
        LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH | LVCF_FMT, c == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT, 120,
                      const_cast<LPWSTR>(c ? u"Size" : u"Name"), 0, c};
        SendMessageW(lv, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
    for (int i = 0; i < 3; ++i) {
        std::u16string name = u"Form " + std::u16string(1, static_cast<char16_t>(u'A' + i));
        LVITEMW item{LVIF_TEXT, i, 0, 0, 0, name.data(), 0, 0, 0, 0};
        SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        LVITEMW sub{LVIF_TEXT, i, 1, 0, 0, const_cast<LPWSTR>(u"A4"), 0, 0, 0, 0};
        SendMessageW(lv, LVM_SETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&sub));
    }
    LVITEMW state{LVIF_STATE, 1, 0, LVIS_SELECTED, LVIS_SELECTED, nullptr, 0, 0, 0, 0};
    SendMessageW(lv, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    ASSERT_TRUE(zq::user::RenderWindowTree(parent_));
    int w = 0, h = 0;
    const auto* bits = static_cast<const uint32_t*>(zq::user::SurfaceBits(parent_, &w, &h));
    ASSERT_NE(bits, nullptr);
    POINT inner{0, 0};
    ClientToScreen(lv, &inner);
    ScreenToClient(parent_, &inner);
    auto px = [&](int x, int y) { return bits[(inner.y + y) * w + inner.x + x] & 0xFFFFFF; };
    auto bgr = [](int colour) {
        const DWORD c = GetSysColor(colour);
        return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    };
    auto inkIn = [&](int x0, int x1, int y0, int y1, uint32_t background) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += px(x, y) != background;
        return n;
    };
    RECT row1;
    SendMessageW(lv, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row1));
    EXPECT_EQ(px(60, 10), bgr(COLOR_BTNFACE)) << "the header's face";
    EXPECT_GT(inkIn(2, 118, 2, 18, bgr(COLOR_BTNFACE)), 20) << "the header's edges and titles";
    EXPECT_EQ(px(250, row1.top + 1), bgr(COLOR_HIGHLIGHT)) << "the selected row";
    EXPECT_EQ(px(250, row1.top + 17), bgr(COLOR_WINDOW)) << "the row below it";
    EXPECT_GT(inkIn(0, 120, row1.top - 16, row1.top, bgr(COLOR_WINDOW)), 10) << "row 0's name";
    // Right-aligned sizes sit at the column's right end.
    EXPECT_GT(inkIn(200, 240, row1.top + 16, row1.top + 32, bgr(COLOR_WINDOW)), 5);
    EXPECT_EQ(inkIn(122, 180, row1.top + 16, row1.top + 32, bgr(COLOR_WINDOW)), 0);
}

TEST_F(Common, UpDownDeltaPosCancelsAndKeepsASigned16BitRange) {
    HWND edit = Make(WC_EDIT, WS_BORDER, 10, 80, 20, 1);
    HWND ud = Make(UPDOWN_CLASSW, UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT, 0, 16, 20, 2);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(ud, UDM_GETBUDDY, 0, 0)), edit);
    RECT e, u;
    GetWindowRect(edit, &e);
    GetWindowRect(ud, &u);
    EXPECT_EQ(e.right, u.left);  // aligned on the buddy's right edge
    EXPECT_EQ(e.right - e.left, 80 - 16);
    SendMessageW(ud, UDM_SETRANGE, 0, MAKELONG(static_cast<WORD>(-5), static_cast<WORD>(-10)));  // max -5, min -10
    EXPECT_EQ(SendMessageW(ud, UDM_GETRANGE, 0, 0), MAKELONG(static_cast<WORD>(-5), static_cast<WORD>(-10)));
    SendMessageW(ud, UDM_SETPOS, 0, static_cast<WORD>(-7));
    EXPECT_EQ(zq::user::WindowTextUtf8(edit), "-7");
    struct Case {
        bool up;
        bool cancel;
        int pos;
    };
    const Case cases[] = {{true, false, -6}, {true, true, -6}, {true, false, -5}, {true, false, -5},
                          {false, false, -6}, {false, true, -6}};
    for (const Case& c : cases) {
        seen_.cancelDelta = c.cancel;
        SendMessageW(ud, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, c.up ? 2 : 18));
        EXPECT_EQ(static_cast<SHORT>(LOWORD(static_cast<DWORD>(SendMessageW(ud, UDM_GETPOS, 0, 0)))), c.pos);
    }
    EXPECT_EQ(seen_.log.front(), "delta -7 1");
    EXPECT_EQ(seen_.log[1], "v 4 -6");  // SB_THUMBPOSITION with the new position
    // A buddy text that is not a number is an error of GETPOS.
    SetWindowTextW(edit, u"abc");
    EXPECT_EQ(HIWORD(static_cast<DWORD>(SendMessageW(ud, UDM_GETPOS, 0, 0))), 1);
    SetWindowTextW(edit, u"1,234");
    SendMessageW(ud, UDM_SETRANGE32, 0, 5000);
    EXPECT_EQ(SendMessageW(ud, UDM_GETPOS32, 0, 0), 1234);
    SendMessageW(ud, UDM_SETPOS32, 0, 4321);
    EXPECT_EQ(zq::user::WindowTextUtf8(edit), "4,321");
}

TEST_F(Common, TrackbarKeysMouseAndReleasedCapture) {
    HWND tb = Make(TRACKBAR_CLASSW, 0, 10, 216, 30);
    SendMessageW(tb, TBM_SETRANGE, TRUE, MAKELONG(0, 10));
    SendMessageW(tb, TBM_SETPAGESIZE, 0, 4);
    struct Case {
        UINT vk;
        int pos;
    };
    const Case cases[] = {{VK_RIGHT, 1}, {VK_NEXT, 5}, {VK_END, 10}, {VK_RIGHT, 10}, {VK_PRIOR, 6}, {VK_HOME, 0}, {VK_LEFT, 0}};
    for (const Case& c : cases) {
        SendMessageW(tb, WM_KEYDOWN, c.vk, 0);
        EXPECT_EQ(SendMessageW(tb, TBM_GETPOS, 0, 0), c.pos) << c.vk;
    }
    EXPECT_EQ(seen_.log[0], "h 1 1");
    EXPECT_EQ(seen_.log[1], "h 8 1");  // TB_ENDTRACK
    seen_.log.clear();
    SendMessageW(tb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(108, 15));  // the middle
    SendMessageW(tb, WM_LBUTTONUP, 0, MAKELONG(108, 15));
    EXPECT_EQ(seen_.log, (std::vector<std::string>{"h 5 5", "h 4 5", "h 8 5", "released"}));
    SendMessageW(tb, TBM_SETPOS, TRUE, 99);
    EXPECT_EQ(SendMessageW(tb, TBM_GETPOS, 0, 0), 10);  // clamped
}

TEST_F(Common, ListViewReportRowsAndSelectionNotifications) {
    HWND lv = Make(WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL, 10, 300, 200);
    LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH, 0, 120, const_cast<LPWSTR>(u"Name"), 0, 0};
    SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    col.pszText = const_cast<LPWSTR>(u"Size");
    SendMessageW(lv, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
    for (int i = 0; i < 3; ++i) {
        std::u16string name = u"Form " + std::u16string(1, static_cast<char16_t>(u'A' + i));
        LVITEMW item{LVIF_TEXT | LVIF_PARAM, i, 0, 0, 0, name.data(), 0, 0, 100 + i, 0};
        EXPECT_EQ(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), i);
        LVITEMW sub{LVIF_TEXT, i, 1, 0, 0, const_cast<LPWSTR>(u"A4"), 0, 0, 0, 0};
        SendMessageW(lv, LVM_SETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&sub));
    }
    WCHAR text[16];
    LVITEMW get{LVIF_TEXT, 0, 1, 0, 0, text, 16, 0, 0, 0};
    SendMessageW(lv, LVM_GETITEMTEXTW, 2, reinterpret_cast<LPARAM>(&get));
    EXPECT_EQ(std::u16string(text), u"A4");
    RECT r;
    SendMessageW(lv, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
    SendMessageW(lv, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, static_cast<WORD>(r.top + 2)));
    EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
    EXPECT_EQ(seen_.log, (std::vector<std::string>{"changing 1", "changed 1 3"}));
    // A refused change keeps the state.
    seen_.refuseChange = true;
    SendMessageW(lv, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&r));
    SendMessageW(lv, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, static_cast<WORD>(r.top + 2)));
    EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
    seen_.refuseChange = false;
    SendMessageW(lv, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, static_cast<WORD>(r.top + 2)));
    EXPECT_EQ(SendMessageW(lv, LVM_GETSELECTEDCOUNT, 0, 0), 1);  // single selection
    EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 2);
}

TEST(ImageLists, MaskedImagesDrawOnlyTheirOpaquePixels) {
    // A strip of two 4x4 images: magenta is the mask colour.
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 8, -4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP strip = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(strip, nullptr);
    auto* p = static_cast<uint32_t*>(bits);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) p[y * 8 + x] = (x == y || x - 4 == y) ? 0x00FF00FF : (x < 4 ? 0x000000FF : 0x0000FF00);
    HIMAGELIST list = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 2, 2);
    EXPECT_EQ(ImageList_AddMasked(list, strip, RGB(255, 0, 255)), 0);
    EXPECT_EQ(ImageList_GetImageCount(list), 2);
    // Draw image 1 on white.
    info.bmiHeader.biWidth = 4;
    void* targetBits = nullptr;
    HBITMAP target = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &targetBits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, target);
    auto* t = static_cast<uint32_t*>(targetBits);
    std::fill(t, t + 16, 0x00FFFFFF);
    ASSERT_TRUE(ImageList_Draw(list, 1, dc, 0, 0, ILD_TRANSPARENT));
    EXPECT_EQ(t[0] & 0xFFFFFF, 0xFFFFFFu);  // masked: the white shows through
    EXPECT_EQ(t[1] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(t[5] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_FALSE(ImageList_Draw(list, 2, dc, 0, 0, 0));
    EXPECT_TRUE(ImageList_Remove(list, 0));
    EXPECT_EQ(ImageList_GetImageCount(list), 1);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(target);
    DeleteObject(strip);
    ImageList_Destroy(list);
}

}  // namespace
