#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/loader.h"
#include "dialog_ids.h"
#include "user/commctrl.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/picture.h"

namespace {

std::vector<char> Bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

INT_PTR GalleryProc(HWND d, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    SetDlgItemTextW(d, 2001, u"Zelquor L5");
    SetDlgItemTextW(d, 2002, u"read only");
    CheckDlgButton(d, 2003, BST_CHECKED);
    CheckDlgButton(d, 2005, BST_INDETERMINATE);
    CheckDlgButton(d, 2006, BST_CHECKED);
    CheckRadioButton(d, 2007, 2008, 2008);
    for (const char16_t* s : {u"Letter", u"Legal", u"A4", u"A5"}) {
        SendDlgItemMessageW(d, 2009, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendDlgItemMessageW(d, 2010, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendDlgItemMessageW(d, 2011, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    }
    SendDlgItemMessageW(d, 2009, LB_SETCURSEL, 2, 0);
    SendDlgItemMessageW(d, 2010, CB_SETCURSEL, 0, 0);
    SetDlgItemTextW(d, 2011, u"Custom");
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 100, 20, 40, 0};
    SetScrollInfo(GetDlgItem(d, 2012), SB_CTL, &si, FALSE);
    SendDlgItemMessageW(d, 2013, TBM_SETRANGE, FALSE, MAKELONG(0, 10));
    SendDlgItemMessageW(d, 2013, TBM_SETPOS, FALSE, 3);
    SendDlgItemMessageW(d, 2014, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(d, 2002)), 0);
    for (int i = 0; i < 2; ++i) {
        const char16_t* titles[] = {u"General", u"Paper"};
        TCITEMW item{TCIF_TEXT, 0, 0, const_cast<LPWSTR>(titles[i]), 0, -1, 0};
        SendDlgItemMessageW(d, 2015, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
    return TRUE;
}

// The gallery's picture equals the golden a person looked at. Set
// ZQ_UPDATE_GOLDEN=1 to write a new golden after a deliberate change.
TEST(Pictures, TheGalleryRendersEqualToItsGolden) {
    const std::filesystem::path golden = std::filesystem::path(ZQ_USER_TEST_DATA) / "gallery.png";
    HWND d = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_GALLERY), nullptr, GalleryProc, 0);
    ASSERT_NE(d, nullptr);
    SetWindowPos(d, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(zq::user::WindowTextUtf8(GetDlgItem(d, 2011)), "Custom");
    EXPECT_EQ(zq::user::WindowTextUtf8(GetWindow(GetDlgItem(d, 2011), GW_CHILD)), "Custom");
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "zq_user_gallery.png";
    ASSERT_TRUE(zq::user::WriteWindowPng(d, out.string()));
    DestroyWindow(d);
    if (std::getenv("ZQ_UPDATE_GOLDEN")) std::filesystem::copy_file(out, golden, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(std::filesystem::exists(golden)) << golden;
    EXPECT_EQ(Bytes(out), Bytes(golden)) << "the picture differs from the golden; it is at " << out;
}

}  // namespace
