#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/loader.h"
#include "base/resources.h"
#include "dialog_ids.h"
#include "user/commctrl.h"
#include "user/common_sheet.h"
#include "user/controls.h"
#include "user/property_sheet.h"

namespace {

// What every page saw, in order, on this thread.
std::vector<std::string>& Log() {
    thread_local std::vector<std::string> log;
    return log;
}
thread_local bool refuseKill = false;
thread_local bool refuseCancel = false;

const DLGTEMPLATE* PageTemplate() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(self, MAKEINTRESOURCEW(IDD_CLASSIC), MAKEINTRESOURCEW(5));
    return static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(self, r)));
}

// The caller's page structure with a field of its own after the standard
// ones: the copy WM_INITDIALOG gets carries it.
struct MyPage {
    PROPSHEETPAGEW psp;
    int number;
};

INT_PTR PageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* mine = reinterpret_cast<const MyPage*>(lParam);
        SetWindowLongPtrW(page, DWLP_USER, mine->number);
        Log().push_back("p" + std::to_string(mine->number) + ":INIT");
        return TRUE;
    }
    const std::string p = "p" + std::to_string(GetWindowLongPtrW(page, DWLP_USER)) + ":";
    if (message == WM_DESTROY) Log().push_back(p + "DESTROY");
    if (message != WM_NOTIFY) return FALSE;
    const auto* n = reinterpret_cast<const PSHNOTIFY*>(lParam);
    switch (n->hdr.code) {
    case PSN_SETACTIVE: Log().push_back(p + "SETACTIVE"); break;
    case PSN_KILLACTIVE:
        Log().push_back(p + "KILLACTIVE");
        SetWindowLongPtrW(page, DWLP_MSGRESULT, refuseKill);
        return TRUE;
    case PSN_APPLY: Log().push_back(p + "APPLY" + std::to_string(n->lParam)); break;
    case PSN_QUERYCANCEL:
        Log().push_back(p + "QUERYCANCEL");
        SetWindowLongPtrW(page, DWLP_MSGRESULT, refuseCancel);
        return TRUE;
    case PSN_RESET: Log().push_back(p + "RESET"); break;
    case PSN_HELP: Log().push_back(p + "HELP"); break;
    default: return FALSE;
    }
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
}

MyPage Page(int number, DWORD flags) {
    MyPage p{};
    p.psp.dwSize = sizeof(MyPage);
    p.psp.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE | flags;
    p.psp.hInstance = GetModuleHandleW(nullptr);
    p.psp.pResource = PageTemplate();
    static const char16_t* titles[] = {u"General", u"Paper", u"Finishing"};
    p.psp.pszTitle = titles[number % 3];
    p.psp.pfnDlgProc = PageProc;
    p.number = number;
    return p;
}

// Runs a modal sheet whose loop plays the given steps, one per idle turn.
INT_PTR RunSheet(std::vector<MyPage> pages, std::vector<std::function<void(HWND)>> steps) {
    size_t next = 0;
    zq::user::SetIdleHandler([&] {
        if (next == steps.size()) return false;
        HWND sheet = GetActiveWindow();
        if (!zq::user::IsPropertySheet(sheet)) return false;
        steps[next++](sheet);
        return true;
    });
    std::vector<HPROPSHEETPAGE> handles;
    for (auto& p : pages) handles.push_back(CreatePropertySheetPageW(&p.psp));
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof(h);
    h.pszCaption = u"Zelquor sheet";
    h.nPages = static_cast<UINT>(handles.size());
    h.phpage = handles.data();
    const INT_PTR r = PropertySheetW(&h);
    zq::user::SetIdleHandler(nullptr);
    return r;
}

void ChooseTab(HWND sheet, int index) {
    SendMessageW(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0)), TCM_SETCURFOCUS,
                 static_cast<WPARAM>(index), 0);
}
void Press(HWND sheet, int id) { SendMessageW(GetDlgItem(sheet, id), BM_CLICK, 0, 0); }
HWND Current(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

TEST(PropertySheet, NotificationOrderOfShowTabsApplyHelpAndOk) {
    Log().clear();
    bool applyAfterChange = false, applyAfterApply = true;
    int pageAfterRefusal = -1;
    const INT_PTR r = RunSheet(
        {Page(0, 0), Page(1, PSP_HASHELP), Page(2, PSP_PREMATURE)},
        {
            [](HWND s) { ChooseTab(s, 1); },
            [&](HWND s) {
                refuseKill = true;
                ChooseTab(s, 0);
                refuseKill = false;
                zq::user::SheetState st;
                zq::user::GetSheetState(s, st);
                pageAfterRefusal = st.current;
            },
            [&](HWND s) {
                SendMessageW(s, PSM_CHANGED, reinterpret_cast<WPARAM>(Current(s)), 0);
                applyAfterChange = IsWindowEnabled(GetDlgItem(s, IDC_SHEET_APPLY));
                Press(s, IDC_SHEET_APPLY);
                applyAfterApply = IsWindowEnabled(GetDlgItem(s, IDC_SHEET_APPLY));
            },
            [](HWND s) { Press(s, IDC_SHEET_APPLY); },  // disabled: nothing happens
            [](HWND s) {
                SendMessageW(s, PSM_CHANGED, reinterpret_cast<WPARAM>(Current(s)), 0);
                Press(s, IDC_SHEET_APPLY);
            },
            [](HWND s) { Press(s, IDHELP); },
            [](HWND s) { Press(s, IDOK); },
        });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(pageAfterRefusal, 1);
    EXPECT_TRUE(applyAfterChange);
    EXPECT_FALSE(applyAfterApply);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "p2:INIT",                                                  // premature
                         "p0:INIT", "p0:SETACTIVE",                                  // first show
                         "p0:KILLACTIVE", "p1:INIT", "p1:SETACTIVE",                 // tab change
                         "p1:KILLACTIVE",                                            // refused
                         "p1:KILLACTIVE", "p0:APPLY0", "p1:APPLY0", "p2:APPLY0",     // Apply
                         "p1:KILLACTIVE", "p0:APPLY0", "p1:APPLY0", "p2:APPLY0",     // Apply again after a change
                         "p1:HELP",                                                  // Help
                         "p1:KILLACTIVE", "p0:APPLY1", "p1:APPLY1", "p2:APPLY1",     // OK
                         "p0:DESTROY", "p1:DESTROY", "p2:DESTROY",                   // after closing
                     }));
}

TEST(PropertySheet, CancelAndHelpWithoutTheFlag) {
    Log().clear();
    const INT_PTR r = RunSheet({Page(0, 0), Page(1, 0)},
                               {
                                   [](HWND s) { SendMessageW(s, WM_COMMAND, IDHELP, 0); },  // no PSP_HASHELP: nothing
                                   [](HWND s) {
                                       refuseCancel = true;
                                       Press(s, IDCANCEL);
                                       refuseCancel = false;
                                   },
                                   [](HWND s) { Press(s, IDCANCEL); },
                               });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"p0:INIT", "p0:SETACTIVE", "p0:QUERYCANCEL", "p0:QUERYCANCEL",
                                               "p0:RESET", "p0:DESTROY"}));
}

TEST(PropertySheet, TheTabControlIsTheFirstChildAndALeftLoopCancels) {
    Log().clear();
    HWND firstChild = nullptr;
    const INT_PTR r = RunSheet({Page(0, 0)}, {[&](HWND s) { firstChild = GetWindow(s, GW_CHILD); }});
    EXPECT_EQ(r, 0);
    ASSERT_NE(firstChild, nullptr);
    EXPECT_EQ(Log(), (std::vector<std::string>{"p0:INIT", "p0:SETACTIVE", "p0:QUERYCANCEL", "p0:RESET",
                                               "p0:DESTROY"}));
}

TEST(PropertySheet, TwoThreadsRunASheetEach) {
    std::vector<std::string> logs[2];
    INT_PTR results[2] = {-5, -5};
    auto run = [&](int n) {
        Log().clear();
        results[n] = RunSheet({Page(0, 0), Page(1, 0)}, {
                                                            [](HWND s) { ChooseTab(s, 1); },
                                                            [n](HWND s) { Press(s, n == 0 ? IDOK : IDCANCEL); },
                                                        });
        logs[n] = Log();
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(logs[0], (std::vector<std::string>{"p0:INIT", "p0:SETACTIVE", "p0:KILLACTIVE", "p1:INIT",
                                                 "p1:SETACTIVE", "p1:KILLACTIVE", "p0:APPLY1", "p1:APPLY1",
                                                 "p0:DESTROY", "p1:DESTROY"}));
    EXPECT_EQ(logs[1], (std::vector<std::string>{"p0:INIT", "p0:SETACTIVE", "p0:KILLACTIVE", "p1:INIT",
                                                 "p1:SETACTIVE", "p1:QUERYCANCEL", "p0:RESET", "p1:RESET",
                                                 "p0:DESTROY", "p1:DESTROY"}));
}

// The recording callback of a driver's interface.
struct Recorder {
    std::vector<std::string> reasons;
    LRESULT setResult = -1;
};

LONG SheetUi(PROPSHEETUI_INFO* info, LPARAM lParam) {
    auto* rec = reinterpret_cast<Recorder*>(info->lParamInit);
    switch (info->Reason) {
    case PROPSHEETUI_REASON_INIT: {
        rec->reasons.push_back("INIT");
        static MyPage a = Page(0, 0), b = Page(1, 0);
        info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW, reinterpret_cast<LPARAM>(&a.psp), 0);
        info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_HPROPSHEETPAGE,
                              reinterpret_cast<LPARAM>(CreatePropertySheetPageW(&b.psp)), 0);
        info->pfnComPropSheet(info->hComPropSheet, 7, 0, 0);  // not served
        info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_SET_RESULT, 0, 1);
        return 1;
    }
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        rec->reasons.push_back("GET_INFO_HEADER");
        auto* header = reinterpret_cast<PROPSHEETUI_INFO_HEADER*>(lParam);
        header->pTitle = u"Zelquor L5";
        header->Flags = PSUIHDRF_PROPTITLE;
        return 1;
    }
    case PROPSHEETUI_REASON_SET_RESULT:
        rec->reasons.push_back("SET_RESULT");
        rec->setResult = reinterpret_cast<const SETRESULT_INFO*>(lParam)->Result;
        return 1;
    case PROPSHEETUI_REASON_DESTROY: rec->reasons.push_back("DESTROY"); return 1;
    default: return 0;
    }
}

TEST(CommonPropertySheetUi, ReasonsAndCallbackCallsThroughTheLoadedModule) {
    HMODULE module = LoadLibraryW(u"compstui.dll");
    ASSERT_NE(module, nullptr) << zq::LastLoadError();
    using Entry = LONG (*)(HWND, PFNPROPSHEETUI, LPARAM, DWORD*);
    auto entry = reinterpret_cast<Entry>(GetProcAddress(module, "CommonPropertySheetUIW"));
    ASSERT_NE(entry, nullptr);
    zq::user::ResetCommonSheetCalls();
    Log().clear();
    std::string caption;
    zq::user::SetIdleHandler([&] {
        HWND sheet = GetActiveWindow();
        if (!zq::user::IsPropertySheet(sheet)) return false;
        caption = zq::user::WindowTextUtf8(sheet);
        Press(sheet, IDOK);
        return true;
    });
    Recorder rec;
    DWORD result = 99;
    const LONG r = entry(nullptr, SheetUi, reinterpret_cast<LPARAM>(&rec), &result);
    zq::user::SetIdleHandler(nullptr);
    EXPECT_EQ(r, CPSUI_OK);
    EXPECT_EQ(result, static_cast<DWORD>(CPSUI_OK));
    EXPECT_EQ(caption, "Properties for Zelquor L5");
    EXPECT_EQ(rec.reasons, (std::vector<std::string>{"INIT", "GET_INFO_HEADER", "SET_RESULT", "DESTROY"}));
    EXPECT_EQ(rec.setResult, CPSUI_OK);
    const auto calls = zq::user::CommonSheetCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].function, CPSFUNC_ADD_PROPSHEETPAGEW);
    EXPECT_NE(calls[0].answer, 0);
    EXPECT_EQ(calls[1].function, CPSFUNC_ADD_HPROPSHEETPAGE);
    EXPECT_NE(calls[1].answer, 0);
    EXPECT_EQ(calls[2].function, 7u);
    EXPECT_EQ(calls[2].answer, 0);
    EXPECT_EQ(calls[3].function, CPSFUNC_SET_RESULT);
    EXPECT_EQ(calls[3].lParam2, 1);
    EXPECT_EQ(Log(), (std::vector<std::string>{"p0:INIT", "p0:SETACTIVE", "p0:KILLACTIVE", "p0:APPLY1",
                                               "p0:DESTROY"}));
    FreeLibrary(module);
}

}  // namespace
