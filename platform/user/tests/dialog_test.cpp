#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/loader.h"
#include "base/resources.h"
#include "base/text.h"
#include "dialog_ids.h"
#include "user/controls.h"
#include "user/dialog.h"

namespace {

std::span<const BYTE> Resource(int id) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(self, MAKEINTRESOURCEW(static_cast<WORD>(id)), MAKEINTRESOURCEW(5));
    if (!r) return {};
    return {static_cast<const BYTE*>(LockResource(LoadResource(self, r))), SizeofResource(self, r)};
}

// A template built at run time as a program builds one: classic form,
// classes named by string rather than ordinal.
class TemplateWriter {
public:
    void Head(DWORD style, WORD count, SHORT x, SHORT y, SHORT cx, SHORT cy, std::u16string_view title, WORD points,
              std::u16string_view face) {
        Put<DWORD>(style | DS_SETFONT);
        Put<DWORD>(0);
        Put<WORD>(count);
        for (SHORT v : {x, y, cx, cy}) Put<SHORT>(v);
        Put<WORD>(0);  // no menu
        Put<WORD>(0);  // dialog class
        Str(title);
        Put<WORD>(points);
        Str(face);
    }
    void Item(DWORD style, SHORT x, SHORT y, SHORT cx, SHORT cy, WORD id, std::u16string_view cls,
              std::u16string_view text) {
        while (bytes.size() % 4) bytes.push_back(0);
        Put<DWORD>(style | WS_CHILD | WS_VISIBLE);
        Put<DWORD>(0);
        for (SHORT v : {x, y, cx, cy}) Put<SHORT>(v);
        Put<WORD>(id);
        Str(cls);
        Str(text);
        Put<WORD>(0);
    }
    std::vector<BYTE> bytes;

private:
    template <class T>
    void Put(T v) {
        const auto* p = reinterpret_cast<const BYTE*>(&v);
        bytes.insert(bytes.end(), p, p + sizeof(T));
    }
    void Str(std::u16string_view s) {
        for (char16_t c : s) Put<WORD>(c);
        Put<WORD>(0);
    }
};

std::vector<BYTE> RunTimeLayout() {
    TemplateWriter w;
    w.Head(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 10, 10, 10, 200, 120, u"Zelquor layout", 8,
           u"MS Shell Dlg");
    w.Item(SS_LEFT | WS_GROUP, 7, 9, 40, 8, IDC_LABEL, u"STATIC", u"&Name:");
    w.Item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 50, 7, 100, 14, IDC_NAME, u"edit", u"");
    w.Item(BS_GROUPBOX, 7, 26, 100, 50, IDC_GROUP, u"Button", u"Mode");
    w.Item(BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 14, 38, 60, 10, IDC_FAST, u"Button", u"&Fast");
    w.Item(BS_AUTORADIOBUTTON, 14, 50, 60, 10, IDC_BEST, u"Button", u"&Best");
    w.Item(BS_AUTORADIOBUTTON, 14, 62, 60, 10, IDC_DRAFT, u"Button", u"&Draft");
    w.Item(BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP, 115, 38, 60, 10, IDC_COLLATE, u"Button", u"&Collate");
    w.Item(BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 36, 99, 50, 14, IDOK, u"Button", u"OK");
    w.Item(BS_PUSHBUTTON | WS_TABSTOP, 90, 99, 50, 14, IDCANCEL, u"Button", u"Cancel");
    w.Item(BS_PUSHBUTTON | WS_TABSTOP, 144, 99, 50, 14, IDHELP, u"Button", u"&Help");
    return w.bytes;
}

// The tree as ids, classes and pixel rectangles relative to the dialog.
std::string Tree(HWND dialog) {
    std::string out;
    RECT dr;
    GetWindowRect(dialog, &dr);
    out += "dialog " + std::to_string(dr.right - dr.left) + "x" + std::to_string(dr.bottom - dr.top) + "\n";
    for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(h, &r);
        out += std::to_string(GetDlgCtrlID(h)) + " " + zq::Utf16ToUtf8(zq::user::ClassName(h)) + " " +
               std::to_string(r.left - dr.left) + "," + std::to_string(r.top - dr.top) + "," +
               std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + " \"" +
               zq::user::WindowTextUtf8(h) + "\"\n";
    }
    return out;
}

INT_PTR QuietProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(Dialogs, OneLayoutInThreeTemplateFormsGivesOneTree) {
    const auto classic = Resource(IDD_CLASSIC);
    const auto extended = Resource(IDD_EXTENDED);
    ASSERT_FALSE(classic.empty());
    ASSERT_FALSE(extended.empty());
    const std::vector<BYTE> runtime = RunTimeLayout();
    ASSERT_TRUE(zq::user::ReadDialogTemplate(extended)->extended);
    ASSERT_FALSE(zq::user::ReadDialogTemplate(classic)->extended);
    std::vector<std::string> trees;
    for (auto bytes : {classic, extended, std::span<const BYTE>(runtime)}) {
        HWND d = zq::user::CreateDialogFromBytes(nullptr, bytes, nullptr, QuietProc, 0);
        ASSERT_NE(d, nullptr);
        trees.push_back(Tree(d));
        const SIZE base = zq::user::DialogBaseUnits(d);
        EXPECT_NE(base.cx, 8) << "the template's font, not the system font, gives the base units";
        RECT r{0, 0, 4, 8};
        MapDialogRect(d, &r);
        EXPECT_EQ(r.right, base.cx);
        EXPECT_EQ(r.bottom, base.cy);
        DestroyWindow(d);
    }
    EXPECT_EQ(trees[0], trees[1]);
    EXPECT_EQ(trees[0], trees[2]);
    EXPECT_NE(trees[0].find("1001 Edit"), std::string::npos) << trees[0];
}

TEST(Dialogs, TemplatesThatRunPastTheirBytesFailAndNothingPastIsRead) {
    for (int id : {IDD_CLASSIC, IDD_EXTENDED}) {
        const auto full = Resource(id);
        ASSERT_FALSE(full.empty());
        const auto whole = zq::user::ReadDialogTemplate(full);
        ASSERT_TRUE(whole);
        // Every cut inside the used bytes fails; a copy on the heap makes any
        // read past the cut an error the sanitizer reports.
        for (size_t n = 0; n < whole->size; ++n) {
            std::vector<BYTE> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_FALSE(zq::user::ReadDialogTemplate(cut)) << id << " cut at " << n;
            EXPECT_EQ(zq::user::CreateDialogFromBytes(nullptr, cut, nullptr, QuietProc, 0), nullptr);
        }
    }
    // A count that the bytes cannot hold fails before anything is made.
    std::vector<BYTE> bytes(Resource(IDD_CLASSIC).begin(), Resource(IDD_CLASSIC).end());
    bytes[8] = 0xFF;
    bytes[9] = 0xFF;
    EXPECT_FALSE(zq::user::ReadDialogTemplate(bytes));
    // A string without its end.
    TemplateWriter w;
    w.Head(WS_POPUP, 0, 0, 0, 10, 10, u"title", 8, u"face");
    w.bytes.resize(w.bytes.size() - 2);
    EXPECT_FALSE(zq::user::ReadDialogTemplate(w.bytes));
}

TEST(Dialogs, AnItemOfAnUnregisteredClassFailsTheDialog) {
    const size_t before = zq::user::AllWindows().size();
    EXPECT_EQ(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UNKNOWN_CLASS), nullptr, QuietProc, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    EXPECT_EQ(zq::user::AllWindows().size(), before);
}

struct ModalScript {
    std::vector<std::string> log;
    HWND owner = nullptr;
};

INT_PTR ModalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* script = reinterpret_cast<ModalScript*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<ModalScript*>(lParam)->log.push_back("init");
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_COLLATE) {
            script->log.push_back(std::string("owner ") + (IsWindowEnabled(script->owner) ? "enabled" : "disabled"));
            EndDialog(dialog, -123456789);
        }
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
        return TRUE;
    default: return FALSE;
    }
}

TEST(Dialogs, AModalDialogIsDrivenInsideItsLoopAndReturnsTheEndDialogValue) {
    HWND owner = CreateWindowExW(0, WC_DIALOG, u"owner", WS_POPUP | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    ModalScript script;
    script.owner = owner;
    int turns = 0;
    zq::user::SetIdleHandler([&] {
        // Inside the loop: find the dialog and click its check box.
        ++turns;
        HWND dialog = GetActiveWindow();
        HWND box = GetDlgItem(dialog, IDC_COLLATE);
        if (!box) return false;
        SendMessageW(box, BM_CLICK, 0, 0);
        return true;
    });
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLASSIC), owner, ModalProc,
                        reinterpret_cast<LPARAM>(&script));
    zq::user::SetIdleHandler(nullptr);
    EXPECT_EQ(result, -123456789);
    EXPECT_EQ(turns, 1);
    EXPECT_EQ(script.log, (std::vector<std::string>{"init", "owner disabled"}));
    EXPECT_TRUE(IsWindowEnabled(owner));
    // Nobody to act: the loop ends as Cancel instead of waiting.
    script.log.clear();
    EXPECT_EQ(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLASSIC), owner, ModalProc,
                              reinterpret_cast<LPARAM>(&script)),
              IDCANCEL);
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST(Dialogs, ModalLoopsNest) {
    static int depth = 0;
    static std::vector<INT_PTR> results;
    static DLGPROC proc = nullptr;
    results.clear();
    proc = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message != WM_INITDIALOG) return FALSE;
        if (++depth < 3) {
            const auto bytes = Resource(IDD_CLASSIC);
            // The owner is disabled while the inner loop runs.
            results.push_back(
                DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), dialog, proc, 0));
            results.push_back(IsWindowEnabled(dialog) ? 1 : 0);
        }
        EndDialog(dialog, 40 + depth--);
        return TRUE;
    };
    results.push_back(zq::user::DialogBoxFromBytes(nullptr, Resource(IDD_CLASSIC), nullptr, proc, 0));
    EXPECT_EQ(results, (std::vector<INT_PTR>{43, 1, 42, 1, 41}));
}

// A child with WS_EX_CONTROLPARENT (a page in a sheet) is walked into: its
// controls take its place in the ring; hidden, it is stepped over whole.
TEST(Dialogs, TheTabRingWalksIntoControlParents) {
    HWND d = zq::user::CreateDialogFromBytes(nullptr, Resource(IDD_CLASSIC), nullptr, QuietProc, 0);
    ASSERT_NE(d, nullptr);
    HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, u"Static", u"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50, d,
                                reinterpret_cast<HMENU>(static_cast<intptr_t>(900)), nullptr, nullptr);
    ASSERT_NE(page, nullptr);
    for (int id : {901, 902, 903}) {
        const DWORD tab = id == 902 ? 0 : WS_TABSTOP;  // 902 is not a tab stop
        CreateWindowExW(0, u"Button", u"x", WS_CHILD | WS_VISIBLE | tab, 0, 0, 20, 10, page,
                        reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }
    HWND p1 = GetDlgItem(page, 901), p3 = GetDlgItem(page, 903);
    auto id = [](HWND h) { return h ? GetDlgCtrlID(h) : 0; };
    EXPECT_EQ(id(GetNextDlgTabItem(d, GetDlgItem(d, IDHELP), FALSE)), 901);
    EXPECT_EQ(id(GetNextDlgTabItem(d, p1, FALSE)), 903);
    EXPECT_EQ(id(GetNextDlgTabItem(d, p3, FALSE)), IDC_NAME) << "wraps out of the page";
    EXPECT_EQ(id(GetNextDlgTabItem(d, GetDlgItem(d, IDC_NAME), TRUE)), 903);
    EXPECT_EQ(id(GetNextDlgTabItem(d, p1, TRUE)), IDHELP);
    ShowWindow(page, SW_HIDE);
    EXPECT_EQ(id(GetNextDlgTabItem(d, GetDlgItem(d, IDHELP), FALSE)), IDC_NAME);
    ShowWindow(page, SW_SHOW);
    // Through IsDialogMessage, Tab from the page's last control leaves it.
    ShowWindow(d, SW_SHOW);
    SetFocus(p3);
    MSG m{p3, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(d, &m));
    EXPECT_EQ(id(GetFocus()), IDC_NAME);
    DestroyWindow(d);
}

TEST(Dialogs, TheTabRingSkipsHiddenAndDisabledControls) {
    HWND d = zq::user::CreateDialogFromBytes(nullptr, Resource(IDD_CLASSIC), nullptr, QuietProc, 0);
    ASSERT_NE(d, nullptr);
    auto id = [](HWND h) { return h ? GetDlgCtrlID(h) : 0; };
    struct Case {
        int from;
        bool previous;
        int disabled;  // 0: none
        int hidden;
        int expect;
    };
    const Case cases[] = {
        {IDC_NAME, false, 0, 0, IDC_FAST},
        {IDC_FAST, false, 0, 0, IDC_COLLATE},
        {IDC_COLLATE, false, 0, 0, IDOK},
        {IDHELP, false, 0, 0, IDC_NAME},  // wraps
        {IDC_NAME, true, 0, 0, IDHELP},   // wraps backwards
        {IDC_FAST, false, IDC_COLLATE, 0, IDOK},
        {IDC_FAST, false, IDC_COLLATE, IDOK, IDCANCEL},
        {IDC_NAME, true, IDHELP, IDCANCEL, IDOK},
    };
    for (const Case& c : cases) {
        if (c.disabled) EnableWindow(GetDlgItem(d, c.disabled), FALSE);
        if (c.hidden) ShowWindow(GetDlgItem(d, c.hidden), SW_HIDE);
        EXPECT_EQ(id(GetNextDlgTabItem(d, GetDlgItem(d, c.from), c.previous)), c.expect) << c.from;
        if (c.disabled) EnableWindow(GetDlgItem(d, c.disabled), TRUE);
        if (c.hidden) ShowWindow(GetDlgItem(d, c.hidden), SW_SHOW);
    }
    // Tab through IsDialogMessage moves the focus along the same ring.
    ShowWindow(d, SW_SHOW);
    SetFocus(GetDlgItem(d, IDC_NAME));
    MSG m{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(d, &m));
    EXPECT_EQ(id(GetFocus()), IDC_FAST);
    // Arrows stay in the group and check the radio button they reach.
    m = MSG{GetFocus(), WM_KEYDOWN, VK_DOWN, 0, 0, {}};
    IsDialogMessageW(d, &m);
    EXPECT_EQ(id(GetFocus()), IDC_BEST);
    EXPECT_EQ(IsDlgButtonChecked(d, IDC_BEST), BST_CHECKED);
    m = MSG{GetFocus(), WM_KEYDOWN, VK_UP, 0, 0, {}};
    IsDialogMessageW(d, &m);
    m = MSG{GetFocus(), WM_KEYDOWN, VK_UP, 0, 0, {}};
    IsDialogMessageW(d, &m);
    EXPECT_EQ(id(GetFocus()), IDC_DRAFT);  // wraps inside the group
    DestroyWindow(d);
}

TEST(Dialogs, AutoRadioGroupsCheckOneButtonPerGroup) {
    HWND d = zq::user::CreateDialogFromBytes(nullptr, Resource(IDD_CLASSIC), nullptr, QuietProc, 0);
    struct Case {
        int click;
        UINT fast, best, draft, collate;
    };
    const Case cases[] = {
        {IDC_BEST, 0, 1, 0, 0},
        {IDC_DRAFT, 0, 0, 1, 0},
        {IDC_COLLATE, 0, 0, 1, 1},  // another group: the radio buttons stay
        {IDC_FAST, 1, 0, 0, 1},
        {IDC_FAST, 1, 0, 0, 1},  // a checked one clicked again stays checked
        {IDC_COLLATE, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SendDlgItemMessageW(d, c.click, BM_CLICK, 0, 0);
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_FAST), c.fast) << c.click;
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_BEST), c.best) << c.click;
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_DRAFT), c.draft) << c.click;
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_COLLATE), c.collate) << c.click;
    }
    // The checked radio button is the group's tab stop.
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(d, IDC_FAST), GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(GetWindowLongW(GetDlgItem(d, IDC_BEST), GWL_STYLE) & WS_TABSTOP);
    CheckRadioButton(d, IDC_FAST, IDC_DRAFT, IDC_DRAFT);
    EXPECT_EQ(IsDlgButtonChecked(d, IDC_FAST), 0u);
    EXPECT_EQ(IsDlgButtonChecked(d, IDC_DRAFT), 1u);
    DestroyWindow(d);
}

INT_PTR ResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return FALSE;
    case WM_NOTIFY:
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, static_cast<LONG_PTR>(0x123456789A));
        return wParam == 1;  // only a TRUE answer takes the stored result
    case WM_CTLCOLORSTATIC: return 77;  // answered directly
    case WM_COMMAND:
        SetWindowLongPtrW(dialog, DWLP_USER, static_cast<LONG_PTR>(wParam));
        return TRUE;
    default: return FALSE;
    }
}

TEST(Dialogs, MessageResultCombinesWithTheProcedureAnswer) {
    HWND d = zq::user::CreateDialogFromBytes(nullptr, Resource(IDD_EXTENDED), nullptr, ResultProc, 0);
    ASSERT_NE(d, nullptr);
    NMHDR nm{d, 0, 0};
    EXPECT_EQ(SendMessageW(d, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&nm)), 0x123456789A);
    EXPECT_EQ(SendMessageW(d, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm)), 0);
    EXPECT_EQ(SendMessageW(d, WM_CTLCOLORSTATIC, 0, 0), 77);
    // DWLP_USER holds a full pointer.
    SetWindowLongPtrW(d, DWLP_USER, static_cast<LONG_PTR>(0x7FEDCBA987654321));
    EXPECT_EQ(GetWindowLongPtrW(d, DWLP_USER), static_cast<LONG_PTR>(0x7FEDCBA987654321));
    // Enter goes to the default button, Escape to Cancel; DM_SETDEFID moves
    // the default.
    SetFocus(GetDlgItem(d, IDC_NAME));
    MSG m{GetDlgItem(d, IDC_NAME), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    IsDialogMessageW(d, &m);
    EXPECT_EQ(GetWindowLongPtrW(d, DWLP_USER), MAKELONG(IDOK, BN_CLICKED));
    m.wParam = VK_ESCAPE;
    IsDialogMessageW(d, &m);
    EXPECT_EQ(GetWindowLongPtrW(d, DWLP_USER), MAKELONG(IDCANCEL, BN_CLICKED));
    SendMessageW(d, DM_SETDEFID, IDHELP, 0);
    EXPECT_EQ(SendMessageW(d, DM_GETDEFID, 0, 0), MAKELONG(IDHELP, DC_HASDEFID));
    EXPECT_EQ(GetWindowLongW(GetDlgItem(d, IDOK), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_PUSHBUTTON));
    EXPECT_EQ(GetWindowLongW(GetDlgItem(d, IDHELP), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_DEFPUSHBUTTON));
    m.wParam = VK_RETURN;
    IsDialogMessageW(d, &m);
    EXPECT_EQ(GetWindowLongPtrW(d, DWLP_USER), MAKELONG(IDHELP, BN_CLICKED));
    DestroyWindow(d);
}

TEST(Dialogs, DlgItemIntegers) {
    HWND d = zq::user::CreateDialogFromBytes(nullptr, Resource(IDD_CLASSIC), nullptr, QuietProc, 0);
    struct Case {
        const char16_t* text;
        BOOL isSigned;
        UINT value;
        BOOL translated;
    };
    const Case cases[] = {
        {u"42", FALSE, 42, TRUE},        {u"  -17 ", TRUE, static_cast<UINT>(-17), TRUE},
        {u"-17", FALSE, 0, FALSE},       {u"12a", FALSE, 0, FALSE},
        {u"", FALSE, 0, FALSE},          {u"4294967295", FALSE, 4294967295u, TRUE},
        {u"4294967296", FALSE, 0, FALSE}, {u"2147483648", TRUE, 0, FALSE},
    };
    for (const Case& c : cases) {
        SetDlgItemTextW(d, IDC_NAME, c.text);
        BOOL ok = -1;
        EXPECT_EQ(GetDlgItemInt(d, IDC_NAME, &ok, c.isSigned), c.value) << zq::Utf16ToUtf8(c.text);
        EXPECT_EQ(ok, c.translated) << zq::Utf16ToUtf8(c.text);
    }
    SetDlgItemInt(d, IDC_NAME, static_cast<UINT>(-5), TRUE);
    WCHAR text[16];
    GetDlgItemTextW(d, IDC_NAME, text, 16);
    EXPECT_EQ(std::u16string(text), u"-5");
    DestroyWindow(d);
}

}  // namespace
