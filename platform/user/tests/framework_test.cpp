#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/loader.h"
#include "base/resources.h"
#include "dialog_ids.h"
#include "user/framework.h"
#include "user/test_driver.h"

namespace {

std::span<const BYTE> Layout() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(self, MAKEINTRESOURCEW(IDD_CLASSIC), MAKEINTRESOURCEW(5));
    return {static_cast<const BYTE*>(LockResource(LoadResource(self, r))), SizeofResource(self, r)};
}

std::vector<std::string> g_log;

// A check box that handles its own click and consumes it.
class SelfishBox : public CButton {
public:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM, LRESULT* result) override {
        if (message == WM_COMMAND && HIWORD(static_cast<DWORD>(wParam)) == BN_CLICKED) {
            g_log.push_back("box consumed click");
            *result = 0;
            return TRUE;
        }
        return FALSE;
    }
};

// An edit that counts the characters typed into it and passes them on.
class CountingEdit : public CEdit {
public:
    int chars = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CHAR) ++chars;
        return CEdit::WindowProc(message, wParam, lParam);
    }
};

class LayoutDialog : public CDialog {
public:
    LayoutDialog() : CDialog(Layout()) {}
    SelfishBox box;
    CountingEdit edit;
    BOOL OnInitDialog() override {
        box.SubclassDlgItem(IDC_COLLATE, this);
        edit.SubclassDlgItem(IDC_NAME, this);
        g_log.push_back("init");
        return TRUE;
    }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        if (LOWORD(static_cast<DWORD>(wParam)) == IDC_FAST) g_log.push_back("dialog saw fast");
        if (LOWORD(static_cast<DWORD>(wParam)) == IDC_COLLATE) g_log.push_back("dialog saw collate");
        return CDialog::OnCommand(wParam, lParam);
    }
    void OnOK() override {
        g_log.push_back("ok, typed " + std::to_string(edit.chars));
        CDialog::OnOK();
    }
};

TEST(Framework, DialogWithSubclassedControlsAndReflectedNotifications) {
    g_log.clear();
    LayoutDialog dialog;
    zq::user::test::Script script;
    script.Then([] { zq::user::test::Type(zq::user::test::FindById(zq::user::test::Active(), IDC_NAME), u"ab"); });
    script.Then([] { zq::user::test::Click(zq::user::test::FindById(zq::user::test::Active(), IDC_COLLATE)); });
    script.Then([] { zq::user::test::Click(zq::user::test::FindById(zq::user::test::Active(), IDC_FAST)); });
    script.Then([] { zq::user::test::PressOk(zq::user::test::Active()); });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(g_log, (std::vector<std::string>{"init", "box consumed click", "dialog saw fast", "ok, typed 2"}));
    // The objects let go of their windows when they went.
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.edit.m_hWnd, nullptr);
}

TEST(Framework, SubclassAndUnsubclassRestoreTheProcedure) {
    HWND edit = CreateWindowExW(0, WC_EDIT, u"", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    const LONG_PTR before = GetWindowLongPtrW(edit, GWLP_WNDPROC);
    CountingEdit wrapper;
    ASSERT_TRUE(wrapper.SubclassWindow(edit));
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), &wrapper);
    EXPECT_FALSE(CountingEdit().SubclassWindow(edit));  // one object a window
    SendMessageW(edit, WM_CHAR, 'x', 0);
    EXPECT_EQ(wrapper.chars, 1);
    EXPECT_EQ(zq::user::WindowTextUtf8(edit), "x");  // Default() reached the edit
    EXPECT_EQ(wrapper.UnsubclassWindow(), edit);
    EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), before);
    SendMessageW(edit, WM_CHAR, 'y', 0);
    EXPECT_EQ(wrapper.chars, 1);
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    CWnd* temp = CWnd::FromHandle(edit);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(temp->GetWindowText(), u"xy");
    DestroyWindow(edit);
}

TEST(Framework, AFailedClassRegistrationThrowsATypedException) {
    WNDCLASSW wc{};
    wc.lpszClassName = u"ZqNoProcedure";
    EXPECT_THROW(ZqRegisterClass(wc), CResourceException);
    wc.lpfnWndProc = DefWindowProcW;
    EXPECT_NO_THROW(ZqRegisterClass(wc));
    EXPECT_NO_THROW(ZqRegisterClass(wc));  // the same class again is no failure
    try {
        WNDCLASSW other = wc;
        other.lpfnWndProc = DefWindowProcA;
        ZqRegisterClass(other);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_NE(std::string(e.what()).find("ZqNoProcedure"), std::string::npos);
    }
}

class Page : public CPropertyPage {
public:
    explicit Page(std::vector<std::string>* log) : CPropertyPage(Layout(), u"General"), log_(log) {}
    BOOL OnSetActive() override {
        log_->push_back("setactive");
        return TRUE;
    }
    BOOL OnApply() override {
        log_->push_back("apply");
        return TRUE;
    }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        if (LOWORD(static_cast<DWORD>(wParam)) == IDC_COLLATE) SetModified();
        return CPropertyPage::OnCommand(wParam, lParam);
    }

private:
    std::vector<std::string>* log_;
};

TEST(Framework, PropertyPagesInASheet) {
    std::vector<std::string> log;
    Page page(&log);
    HPROPSHEETPAGE handle = page.CreatePage();
    ASSERT_NE(handle, nullptr);
    bool applyAfterChange = false;
    zq::user::test::Script script;
    script.Then([&] {
        zq::user::test::Click(zq::user::test::FindById(zq::user::test::Active(), IDC_COLLATE));
        applyAfterChange = zq::user::test::ApplyEnabled(zq::user::test::Active());
    });
    script.Then([] { zq::user::test::PressOk(zq::user::test::Active()); });
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof(h);
    h.pszCaption = u"Zelquor";
    h.nPages = 1;
    h.phpage = &handle;
    EXPECT_EQ(PropertySheetW(&h), 1);
    EXPECT_TRUE(applyAfterChange);
    EXPECT_EQ(log, (std::vector<std::string>{"setactive", "apply"}));
}

}  // namespace
