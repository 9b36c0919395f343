// The test driver: input through the queue and the controls' own messages,
// scripted actions inside modal loops, and the tree as text.
#include "user/test_driver.h"

#include <algorithm>
#include <cstdlib>
#include <deque>

#include "base/diag.h"
#include "base/text.h"
#include "user/commctrl.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/menu.h"
#include "user/window_internal.h"

namespace zq::user::detail {
HWND ComboList(HWND combo);
}

namespace zq::user::test {

namespace {

std::u16string WithoutMarks(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out.push_back(text[i]);
    }
    return out;
}

std::vector<HWND> Below(HWND root) {
    if (!root) return AllWindows();
    std::vector<HWND> out;
    for (HWND h : AllWindows())
        if (IsChild(root, h)) out.push_back(h);
    return out;
}

HWND RootDialogOf(HWND hwnd) {
    // The outermost dialog holding the window: a sheet, not its page.
    HWND found = nullptr;
    for (HWND h = hwnd; h; h = GetAncestor(h, GA_PARENT)) {
        if (zq::EqualsIgnoreCase(ClassName(h), WC_DIALOG)) found = h;
        if (!(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;
    }
    return found;
}

LPARAM Center(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    return MAKELONG(static_cast<WORD>(r.right / 2), static_cast<WORD>(r.bottom / 2));
}

struct Shared {
    std::deque<std::function<void()>> actions;
    std::vector<std::string> endings;
};

thread_local Shared* g_script = nullptr;

}  // namespace

struct Script::State {
    Shared shared;
    Shared* previous = nullptr;
};

Script::Script() : state_(new State) {
    state_->previous = g_script;
    g_script = &state_->shared;
    SetIdleHandler([] {
        if (!g_script || g_script->actions.empty()) {
            if (g_script) g_script->endings.push_back("no action left: the loop of \"" + WindowTextUtf8(Active()) +
                                                      "\" ends");
            return false;
        }
        auto action = std::move(g_script->actions.front());
        g_script->actions.pop_front();
        action();
        return true;
    });
}

Script::~Script() {
    g_script = state_->previous;
    if (!g_script) SetIdleHandler(nullptr);
    delete state_;
}

void Script::Then(std::function<void()> action) { state_->shared.actions.push_back(std::move(action)); }
size_t Script::Left() const { return state_->shared.actions.size(); }
const std::vector<std::string>& Script::Endings() const { return state_->shared.endings; }

HWND FindById(HWND root, int id) {
    for (HWND h : Below(root))
        if ((GetWindowLongW(h, GWL_STYLE) & WS_CHILD) && static_cast<int>(GetWindowLongPtrW(h, GWLP_ID)) == id)
            return h;
    return nullptr;
}

HWND FindByClass(HWND root, std::u16string_view className, int nth) {
    for (HWND h : Below(root))
        if (zq::EqualsIgnoreCase(ClassName(h), className) && nth-- == 0) return h;
    return nullptr;
}

HWND FindByText(HWND root, std::u16string_view text) {
    const std::u16string wanted = WithoutMarks(text);
    for (HWND h : Below(root))
        if (zq::EqualsIgnoreCase(WithoutMarks(WindowText(h)), wanted)) return h;
    return nullptr;
}

HWND FindByPath(std::string_view path) {
    HWND at = nullptr;
    bool first = true;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view step = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        HWND next = nullptr;
        if (step.starts_with("#")) {
            next = FindById(at, std::atoi(std::string(step.substr(1)).c_str()));
        } else if (step.starts_with("class:")) {
            next = FindByClass(at, Utf8ToUtf16(step.substr(6)));
        } else if (first) {
            for (HWND h = GetTopWindow(nullptr); h && !next; h = GetWindow(h, GW_HWNDNEXT))
                if (zq::EqualsIgnoreCase(WithoutMarks(WindowText(h)), WithoutMarks(Utf8ToUtf16(step)))) next = h;
        } else {
            next = FindByText(at, Utf8ToUtf16(step));
        }
        if (!next) return nullptr;
        at = next;
        first = false;
    }
    return at;
}

HWND Active() { return GetActiveWindow(); }

void Click(HWND hwnd) {
    if (!IsWindowEnabled(hwnd)) return;
    if (zq::EqualsIgnoreCase(ClassName(hwnd), WC_BUTTON)) {
        SendMessageW(hwnd, BM_CLICK, 0, 0);
        return;
    }
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, Center(hwnd));
    if (IsWindow(hwnd)) SendMessageW(hwnd, WM_LBUTTONUP, 0, Center(hwnd));
}

void DoubleClick(HWND hwnd) {
    Click(hwnd);
    if (IsWindow(hwnd)) SendMessageW(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, Center(hwnd));
    if (IsWindow(hwnd)) SendMessageW(hwnd, WM_LBUTTONUP, 0, Center(hwnd));
}

void RightClick(HWND hwnd) {
    SendMessageW(hwnd, WM_RBUTTONDOWN, MK_RBUTTON, Center(hwnd));
    if (IsWindow(hwnd)) SendMessageW(hwnd, WM_RBUTTONUP, 0, Center(hwnd));
}

void MoveMouseTo(HWND hwnd) {
    DWORD flags = 0;
    HWND tracked = TrackedWindow(&flags);
    if (tracked && tracked != hwnd && (flags & TME_LEAVE)) {
        EndTracking();
        PostMessageW(tracked, WM_MOUSELEAVE, 0, 0);
    }
    RECT r;
    if (GetWindowRect(hwnd, &r)) SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, Center(hwnd));
}

size_t Pump() {
    size_t n = 0;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        HWND dialog = m.hwnd ? RootDialogOf(m.hwnd) : nullptr;
        if (!dialog || !IsDialogMessageW(dialog, &m)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        ++n;
    }
    return n;
}

void Key(UINT vk, std::initializer_list<UINT> modifiers) {
    HWND target = GetFocus();
    if (!target) target = GetActiveWindow();
    if (!target) return;
    for (UINT m : modifiers) PostMessageW(target, WM_KEYDOWN, m, 1);
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
        PostMessageW(target, WM_KEYUP, *it, static_cast<LPARAM>(0xC0000001u));
    // Inside a modal loop the loop dispatches; otherwise the driver does.
    if (!zq::user::InModalLoop(RootDialogOf(target))) Pump();
}

void Type(HWND hwnd, std::u16string_view text) {
    if (hwnd && GetFocus() != hwnd) SetFocus(hwnd);
    for (char16_t c : text) SendMessageW(hwnd ? hwnd : GetFocus(), WM_CHAR, c, 1);
}

void PressF1(HWND hwnd) {
    if (hwnd) SetFocus(hwnd);
    Key(VK_F1);
}

bool SelectItem(HWND control, int index) {
    if (zq::EqualsIgnoreCase(ClassName(control), WC_COMBOBOX)) {
        HWND list = zq::user::detail::ComboList(control);
        if (!list || index < 0 || index >= SendMessageW(list, LB_GETCOUNT, 0, 0)) return false;
        SendMessageW(control, CB_SHOWDROPDOWN, TRUE, 0);
        RECT r;
        SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
        SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(2, 1));
        SendMessageW(list, WM_LBUTTONUP, 0, MAKELONG(2, 1));
        SendMessageW(list, LB_SETTOPINDEX, 0, 0);
        return SendMessageW(control, CB_GETCURSEL, 0, 0) == index;
    }
    if (zq::EqualsIgnoreCase(ClassName(control), WC_LISTBOX)) {
        if (index < 0 || index >= SendMessageW(control, LB_GETCOUNT, 0, 0)) return false;
        SendMessageW(control, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
        SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(2, 1));
        SendMessageW(control, WM_LBUTTONUP, 0, MAKELONG(2, 1));
        return true;
    }
    return false;
}

bool SelectTab(HWND sheetOrTab, int index) {
    HWND tab = sheetOrTab;
    if (IsPropertySheet(sheetOrTab)) tab = reinterpret_cast<HWND>(SendMessageW(sheetOrTab, PSM_GETTABCONTROL, 0, 0));
    if (!zq::EqualsIgnoreCase(ClassName(tab), WC_TABCONTROLW)) return false;
    SendMessageW(tab, TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0);
    return SendMessageW(tab, TCM_GETCURSEL, 0, 0) == index;
}

bool ChooseMenuCommand(HWND window, UINT id) {
    HMENU menu = GetMenu(window);
    if (!menu) return false;
    const UINT state = GetMenuState(menu, id, MF_BYCOMMAND);
    if (state == 0xFFFFFFFF || (state & (MF_POPUP | MF_SEPARATOR))) return false;
    // Opening the menu lets the window set its items' states first.
    SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    if (!IsWindow(window)) return false;
    const UINT now = GetMenuState(menu, id, MF_BYCOMMAND);
    if (now == 0xFFFFFFFF || (now & (MF_GRAYED | MF_DISABLED))) return false;
    SendMessageW(window, WM_COMMAND, MAKELONG(static_cast<WORD>(id), 0), 0);
    return true;
}

static bool Press(HWND dialog, int id) {
    HWND b = GetDlgItem(dialog, id);
    if (!b || !IsWindowEnabled(b) || !(GetWindowLongW(b, GWL_STYLE) & WS_VISIBLE)) return false;
    SendMessageW(b, BM_CLICK, 0, 0);
    return true;
}

bool PressOk(HWND dialog) { return Press(dialog, IDOK); }
bool PressCancel(HWND dialog) { return Press(dialog, IDCANCEL); }
bool PressApply(HWND sheet) { return Press(sheet, IDC_SHEET_APPLY); }
bool PressHelp(HWND dialog) { return Press(dialog, IDHELP); }

bool MoveTo(HWND hwnd, int x, int y) {
    return SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

void AdvanceClock(FakeClock& clock, uint64_t milliseconds) {
    clock.Advance(milliseconds);
    Pump();
}

std::string Text(HWND hwnd) { return WindowTextUtf8(hwnd); }

bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

int Selection(HWND control) {
    if (zq::EqualsIgnoreCase(ClassName(control), WC_COMBOBOX))
        return static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    return static_cast<int>(SendMessageW(control, LB_GETCURSEL, 0, 0));
}

bool ApplyEnabled(HWND sheet) {
    SheetState s;
    return GetSheetState(sheet, s) && s.applyEnabled;
}

std::vector<HWND> SheetPages(HWND sheet) {
    SheetState s;
    GetSheetState(sheet, s);
    return s.pages;
}

static void DumpOne(HWND hwnd, int depth, std::string& out) {
    RECT r;
    GetWindowRect(hwnd, &r);
    POINT o{r.left, r.top};
    if (HWND parent = GetAncestor(hwnd, GA_PARENT)) ScreenToClient(parent, &o);
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    out += std::string(static_cast<size_t>(depth) * 2, ' ');
    out += Utf16ToUtf8(ClassName(hwnd)) + " \"" + WindowTextUtf8(hwnd) + "\"";
    if (style & WS_CHILD) out += " #" + std::to_string(GetWindowLongPtrW(hwnd, GWLP_ID));
    out += " (" + std::to_string(o.x) + "," + std::to_string(o.y) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top) + ")";
    if (!(style & WS_VISIBLE)) out += " [hidden]";
    if (style & WS_DISABLED) out += " [disabled]";
    if (zq::EqualsIgnoreCase(ClassName(hwnd), WC_BUTTON)) {
        const LRESULT c = SendMessageW(hwnd, BM_GETCHECK, 0, 0);
        if (c == BST_CHECKED) out += " [checked]";
        if (c == BST_INDETERMINATE) out += " [indeterminate]";
    }
    if (GetFocus() == hwnd) out += " [focus]";
    out += "\n";
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) DumpOne(c, depth + 1, out);
}

std::string Dump(HWND root) {
    std::string out;
    if (root) {
        DumpOne(root, 0, out);
        return out;
    }
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT)) DumpOne(h, 0, out);
    return out;
}

}  // namespace zq::user::test
