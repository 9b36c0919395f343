// The test driver: plays the user of the headless window layer. It finds
// windows, clicks, types and presses keys (through the message queue, so
// keyboard hooks see them first), selects items, tabs and menu commands,
// presses a dialog's or sheet's buttons, moves windows, advances the fake
// clock so that due timers fire, acts inside modal loops, and reads back
// any window's state or the whole tree as text.
//
// Inside a modal loop the driver runs the queued actions one per idle turn;
// a loop left with nothing queued ends as Cancel (logged), so no test hangs.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "user/property_sheet.h"
#include "user/window.h"

namespace zq::user::test {

// ---- Finding ---------------------------------------------------------------

// Below `root` (null: every top-level window and below), depth first.
HWND FindById(HWND root, int id);
HWND FindByClass(HWND root, std::u16string_view className, int nth = 0);
// Text compares without the "&" marks and without case.
HWND FindByText(HWND root, std::u16string_view text);
// A path of steps separated by '/': "#id", "class:Name", or a window text;
// the first step is looked for among the top-level windows.
HWND FindByPath(std::string_view path);
// The active window of the calling thread (a modal dialog or sheet).
HWND Active();

// ---- Acting ------------------------------------------------------------------

void Click(HWND hwnd);
void DoubleClick(HWND hwnd);
void RightClick(HWND hwnd);
void MoveMouseTo(HWND hwnd);  // ends a tracked window's hover with WM_MOUSELEAVE
// Keys go to the focus window through the queue and are dispatched as the
// dialog manager would; `modifiers` are VK_CONTROL, VK_SHIFT or VK_MENU held
// around the key.
void Key(UINT vk, std::initializer_list<UINT> modifiers = {});
void Type(HWND hwnd, std::u16string_view text);
void PressF1(HWND hwnd);
// A user's choice of an item in a list box or combo box (notifies).
bool SelectItem(HWND control, int index);
bool SelectTab(HWND sheetOrTab, int index);
bool ChooseMenuCommand(HWND window, UINT id);
// Buttons of a dialog or property sheet by their ids.
bool PressOk(HWND dialog);
bool PressCancel(HWND dialog);
bool PressApply(HWND sheet);
bool PressHelp(HWND dialog);
bool MoveTo(HWND hwnd, int x, int y);
// Moves the fake clock on and dispatches the timers that fell due.
void AdvanceClock(FakeClock& clock, uint64_t milliseconds);
// Dispatches what is queued, as a dialog's loop would.
size_t Pump();

// ---- Acting inside modal loops --------------------------------------------

// Actions for the next idle turns of the calling thread's loops, one each.
class Script {
public:
    Script();
    ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    void Then(std::function<void()> action);
    size_t Left() const;
    // What the loops did without an action left: one line per ending.
    const std::vector<std::string>& Endings() const;

private:
    struct State;
    State* state_;
};

// ---- Reading ----------------------------------------------------------------

std::string Text(HWND hwnd);
bool IsChecked(HWND button);
int Selection(HWND listOrCombo);
bool ApplyEnabled(HWND sheet);
std::vector<HWND> SheetPages(HWND sheet);
// The tree as text, one window a line, indented by depth:
//   Class "text" #id (x,y wxh) [hidden] [disabled] [checked] [focus]
std::string Dump(HWND root);

}  // namespace zq::user::test
