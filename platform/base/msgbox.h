// Message boxes, headless: a box is never shown and nothing waits. Each box
// is written to the diagnostic log and answered at once, by a test's scripted
// answer when one is queued, else by policy: the style's default button.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/types.h"

// Buttons.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
// Icons.
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_USERICON = 0x00000080;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
// Default button.
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFBUTTON4 = 0x00000300;
// Modality and the rest.
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_HELP = 0x00004000;
constexpr UINT MB_NOFOCUS = 0x00008000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_DEFAULT_DESKTOP_ONLY = 0x00020000;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr UINT MB_RIGHT = 0x00080000;
constexpr UINT MB_RTLREADING = 0x00100000;
constexpr UINT MB_SERVICE_NOTIFICATION = 0x00200000;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr UINT MB_MODEMASK = 0x00003000;
constexpr UINT MB_MISCMASK = 0x0000C000;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDHELP = 9;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

extern "C" {

// A null caption reads "Error", as Windows shows it. 0 for an unknown button
// set, with ERROR_INVALID_PARAMETER.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
int MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT style, WORD languageId);
int MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD languageId);
// No sound: logs nothing and succeeds.
BOOL MessageBeep(UINT type);

}  // extern "C"

namespace zq {

// One box as it was asked for and answered. Texts are UTF-8.
struct MessageBoxRecord {
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    UINT style = 0;
    WORD languageId = 0;
    int answer = 0;
    bool scripted = false;
};

class MessageBoxService {
public:
    // The buttons of a style in order, and its default answer: the button
    // named by MB_DEFBUTTONn, the first when there is no such button.
    static std::vector<int> Buttons(UINT style);
    static int DefaultAnswer(UINT style);

    // Queues answers for the next boxes, first in first out.
    static void Queue(int answer);
    // Decides every box not answered from the queue (nullopt: fall back to
    // the policy); an empty function removes it.
    static void SetHandler(std::function<std::optional<int>(const MessageBoxRecord&)> handler);
    // Every box shown since the last Reset.
    static std::vector<MessageBoxRecord> Shown();
    // Forgets the boxes shown, the queued answers and the handler.
    static void Reset();

    // The window layer's part in a box with an owner: called with true
    // before the box is answered (the owner is disabled as a modal box
    // disables it) and with false after. Null removes it.
    static void SetOwnerHook(void (*hook)(HWND owner, bool showing));

    // What the Win32 calls run.
    static int Show(HWND owner, std::string caption, std::string text, UINT style, WORD languageId);
};

// Resets the service when a test starts and again when it ends.
class ScopedMessageBoxScript {
public:
    ScopedMessageBoxScript() { MessageBoxService::Reset(); }
    ~ScopedMessageBoxScript() { MessageBoxService::Reset(); }
    ScopedMessageBoxScript(const ScopedMessageBoxScript&) = delete;
    ScopedMessageBoxScript& operator=(const ScopedMessageBoxScript&) = delete;
};

}  // namespace zq
