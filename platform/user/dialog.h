// The dialog manager: dialogs from in-memory templates (both forms),
// modeless and modal, dialog base units, the DlgItem calls, tab and group
// order, the default button and IsDialogMessage.
//
// A modal loop never waits for a person: it runs posted messages and due
// timers, then asks the thread's idle handler (the test driver) to act; a
// loop left with nothing to do ends as IDCANCEL, written to the diagnostic
// log.
#pragma once

#include <span>

#include "base/msgbox.h"  // IDOK, IDCANCEL...
#include "base/types.h"
#include "user/dialog_template.h"
#include "user/window.h"

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// The dialog class's extra bytes: result, procedure and user value, each
// pointer-sized.
constexpr int DLGWINDOWEXTRA = 30;
constexpr int DWLP_MSGRESULT = 0;
constexpr int DWLP_DLGPROC = DWLP_MSGRESULT + static_cast<int>(sizeof(LRESULT));
constexpr int DWLP_USER = DWLP_DLGPROC + static_cast<int>(sizeof(DLGPROC));

inline constexpr const char16_t* WC_DIALOG = u"#32770";

constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr UINT DM_REPOSITION = WM_USER + 2;
constexpr WORD DC_HASDEFID = 0x534B;
constexpr UINT WM_NEXTDLGCTL = 0x0028;

// WM_GETDLGCODE answers.
constexpr LRESULT DLGC_WANTARROWS = 0x0001;
constexpr LRESULT DLGC_WANTTAB = 0x0002;
constexpr LRESULT DLGC_WANTALLKEYS = 0x0004;
constexpr LRESULT DLGC_WANTMESSAGE = 0x0004;
constexpr LRESULT DLGC_HASSETSEL = 0x0008;
constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x0010;
constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x0020;
constexpr LRESULT DLGC_RADIOBUTTON = 0x0040;
constexpr LRESULT DLGC_WANTCHARS = 0x0080;
constexpr LRESULT DLGC_STATIC = 0x0100;
constexpr LRESULT DLGC_BUTTON = 0x2000;

extern "C" {

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEW tmpl, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsDialogMessageW(HWND dialog, MSG* msg);
BOOL IsDialogMessageA(HWND dialog, MSG* msg);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);
BOOL MapDialogRect(HWND dialog, RECT* rect);
LONG GetDialogBaseUnits();

}  // extern "C"

namespace zq::user {

// The same as the Indirect calls, on a template of known size: nothing past
// `bytes` is read, and a template that runs past it fails the create.
HWND CreateDialogFromBytes(HINSTANCE instance, std::span<const BYTE> bytes, HWND owner, DLGPROC proc, LPARAM param,
                           bool unicodeProc = true);
INT_PTR DialogBoxFromBytes(HINSTANCE instance, std::span<const BYTE> bytes, HWND owner, DLGPROC proc, LPARAM param,
                           bool unicodeProc = true);

// The bytes of a template given by pointer (bounded by its module's
// resources when it lies in them) or by resource name.
std::span<const BYTE> TemplateSpan(HINSTANCE instance, LPCDLGTEMPLATEW tmpl);
std::span<const BYTE> ResourceTemplateSpan(HINSTANCE instance, LPCWSTR name);

// Whether a dialog's modal loop is running, and its result once ended.
bool InModalLoop(HWND dialog);

// The base units a dialog computed from its font (x: average width of the
// 52 letters, y: the font's height).
SIZE DialogBaseUnits(HWND dialog);

}  // namespace zq::user
