// Bitmaps and icons from the test program's own resources.
#include <gtest/gtest.h>

#include <cstring>

#include "base/error.h"
#include "base/loader.h"
#include "dialog_ids.h"
#include "gdi/dc.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/images.h"
#include "user/picture.h"
#include "user/window.h"

namespace {

// A 32-bit top-down canvas filled with one colour.
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    uint32_t* bits = nullptr;
    int w, h;
    Canvas(int width, int height, COLORREF fill) : w(width), h(height) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        SelectObject(dc, bitmap);
        HBRUSH b = CreateSolidBrush(fill);
        const RECT all{0, 0, w, h};
        FillRect(dc, &all, b);
        DeleteObject(b);
    }
    ~Canvas() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    COLORREF At(int x, int y) const {
        const uint32_t p = bits[y * w + x];
        return ((p >> 16) & 0xFF) | (p & 0xFF00) | (p & 0xFF) << 16;
    }
};

TEST(Images, BitmapsComeFromTheModuleWithTheirColours) {
    HMODULE self = GetModuleHandleW(nullptr);
    HBITMAP bmp = LoadBitmapW(self, MAKEINTRESOURCEW(IDB_ZEL));
    ASSERT_NE(bmp, nullptr);
    Canvas c(20, 10, 0xFFFFFF);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    ASSERT_TRUE(BitBlt(c.dc, 2, 1, 16, 8, mem, 0, 0, SRCCOPY));
    SelectObject(mem, old);
    DeleteDC(mem);
    EXPECT_EQ(c.At(5, 1), RGB(0, 255, 0)) << "the top row, as the file has it";
    EXPECT_EQ(c.At(5, 5), RGB(255, 0, 0));
    EXPECT_EQ(c.At(15, 5), RGB(0, 0, 255));
    EXPECT_EQ(c.At(1, 5), RGB(255, 255, 255)) << "nothing outside";
    DeleteObject(bmp);
    // By the number as an ANSI name; a missing one.
    HBITMAP again = LoadBitmapA(self, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(IDB_ZEL)));
    EXPECT_NE(again, nullptr);
    DeleteObject(again);
    SetLastError(0);
    EXPECT_EQ(LoadBitmapW(self, MAKEINTRESOURCEW(IDB_ZEL + 50)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(Images, IconsDrawThroughTheirMask) {
    HMODULE self = GetModuleHandleW(nullptr);
    HICON icon = LoadIconW(self, MAKEINTRESOURCEW(IDI_ZEL));
    ASSERT_NE(icon, nullptr);
    int w = 0, h = 0;
    ASSERT_TRUE(GetIconSize(icon, &w, &h));
    EXPECT_EQ(w, 32) << "the image nearest 32 x 32";
    EXPECT_EQ(h, 32);
    const COLORREF grey = RGB(0x80, 0x80, 0x80);
    {
        Canvas c(40, 40, grey);
        ASSERT_TRUE(DrawIcon(c.dc, 4, 4, icon));
        EXPECT_EQ(c.At(4 + 16, 4 + 16), RGB(255, 255, 0)) << "the square";
        EXPECT_EQ(c.At(4 + 2, 4 + 2), grey) << "the transparent field shows the background";
        EXPECT_EQ(c.At(4 + 30, 4 + 16), grey);
    }
    {
        // Stretched to 64, on a brush; the mask alone.
        Canvas c(70, 70, grey);
        ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 64, 64, 0, nullptr, DI_NORMAL));
        EXPECT_EQ(c.At(20, 20), RGB(255, 255, 0));
        EXPECT_EQ(c.At(10, 10), grey);
        EXPECT_EQ(c.At(44, 44), RGB(255, 255, 0));
        ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 0, 0, 0, nullptr, DI_MASK));
        EXPECT_EQ(c.At(2, 2), RGB(255, 255, 255));
        EXPECT_EQ(c.At(16, 16), RGB(0, 0, 0));
    }
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon)) << "a handle is destroyed once";
    EXPECT_FALSE(GetIconSize(icon, &w, &h));
    EXPECT_EQ(LoadIconW(self, MAKEINTRESOURCEW(IDI_ZEL + 50)), nullptr);
}

}  // namespace

namespace {

// An icon static of a dialog template shows the icon its text names.
TEST(Images, AnIconStaticShowsItsIcon) {
    HWND d = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ICON), nullptr, nullptr, 0);
    ASSERT_NE(d, nullptr);
    HWND icon = GetDlgItem(d, IDC_ICON);
    ASSERT_NE(icon, nullptr);
    HICON shown = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    ASSERT_NE(shown, nullptr);
    int w = 0, h = 0;
    EXPECT_TRUE(GetIconSize(shown, &w, &h));
    EXPECT_EQ(w, 32);
    // The dialog's picture has the icon where the static sits (4, 4 in
    // dialog units from the client's corner) over the dialog's face.
    ASSERT_TRUE(zq::user::RenderWindowTree(d));
    int sw = 0, sh = 0;
    const auto* bits = static_cast<const uint32_t*>(zq::user::SurfaceBits(d, &sw, &sh));
    ASSERT_NE(bits, nullptr);
    RECT r;
    GetWindowRect(icon, &r);
    POINT at{r.left, r.top};
    ScreenToClient(d, &at);
    auto px = [&](int x, int y) { return bits[y * sw + x] & 0xFFFFFF; };
    EXPECT_EQ(px(at.x + 16, at.y + 16), 0xFFFF00u) << "the yellow square";
    EXPECT_EQ(px(at.x + 2, at.y + 2), px(at.x + 40, at.y + 2)) << "the transparent field shows the face";
    DestroyWindow(d);
    EXPECT_FALSE(GetIconSize(shown, &w, &h)) << "the static's own icon goes with it";
}

}  // namespace
