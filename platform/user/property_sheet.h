// Property sheets: pages from templates (PSP_DLGINDIRECT, PSP_PREMATURE,
// PSP_HASHELP), a sheet whose first child is its tab control, with OK,
// Cancel, Apply and Help, and the PSN_* notifications in the order pages
// rely on:
//   first show:  WM_INITDIALOG, PSN_SETACTIVE
//   tab change:  PSN_KILLACTIVE (TRUE in DWLP_MSGRESULT keeps the page),
//                then PSN_SETACTIVE on the new page
//   OK:          PSN_KILLACTIVE of the current page, then PSN_APPLY with
//                lParam 1 to every created page in page order; the sheet closes
//   Apply:       the same with lParam 0; the sheet stays
//   Cancel:      PSN_QUERYCANCEL, then PSN_RESET to every created page
//   Help:        PSN_HELP, only to a page with PSP_HASHELP
// PSM_CHANGED and PSM_UNCHANGED drive the Apply button. Pages get
// WM_DESTROY after the sheet closes.
#pragma once

#include <string>
#include <vector>

#include "base/types.h"
#include "user/dialog.h"

struct PropSheetPage;
using HPROPSHEETPAGE = PropSheetPage*;

struct PROPSHEETPAGEW;
using LPFNPSPCALLBACKW = UINT (*)(HWND, UINT message, PROPSHEETPAGEW* page);

constexpr DWORD PSP_DEFAULT = 0x0000;
constexpr DWORD PSP_DLGINDIRECT = 0x0001;
constexpr DWORD PSP_USEHICON = 0x0002;
constexpr DWORD PSP_USEICONID = 0x0004;
constexpr DWORD PSP_USETITLE = 0x0008;
constexpr DWORD PSP_RTLREADING = 0x0010;
constexpr DWORD PSP_HASHELP = 0x0020;
constexpr DWORD PSP_USEREFPARENT = 0x0040;
constexpr DWORD PSP_USECALLBACK = 0x0080;
constexpr DWORD PSP_PREMATURE = 0x0400;

constexpr UINT PSPCB_ADDREF = 0;
constexpr UINT PSPCB_RELEASE = 1;
constexpr UINT PSPCB_CREATE = 2;

// A page as the caller describes it; the caller's own fields may follow and
// are copied with it (dwSize bytes), and WM_INITDIALOG's lParam points at
// that copy.
struct PROPSHEETPAGEW {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    union {
        LPCWSTR pszTemplate;
        LPCDLGTEMPLATEW pResource;
    };
    union {
        HICON hIcon;
        LPCWSTR pszIcon;
    };
    LPCWSTR pszTitle;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
    LPFNPSPCALLBACKW pfnCallback;
    UINT* pcRefParent;
    LPCWSTR pszHeaderTitle;
    LPCWSTR pszHeaderSubTitle;
};
constexpr DWORD PROPSHEETPAGEW_V1_SIZE = offsetof(PROPSHEETPAGEW, pszHeaderTitle);

constexpr DWORD PSH_DEFAULT = 0x0000;
constexpr DWORD PSH_PROPTITLE = 0x0001;
constexpr DWORD PSH_USEHICON = 0x0002;
constexpr DWORD PSH_USEICONID = 0x0004;
constexpr DWORD PSH_PROPSHEETPAGE = 0x0008;
constexpr DWORD PSH_NOAPPLYNOW = 0x0080;
constexpr DWORD PSH_USECALLBACK = 0x0100;
constexpr DWORD PSH_HASHELP = 0x0200;
constexpr DWORD PSH_MODELESS = 0x0400;
constexpr DWORD PSH_USEPSTARTPAGE = 0x0800;

struct PROPSHEETHEADERW {
    DWORD dwSize;
    DWORD dwFlags;
    HWND hwndParent;
    HINSTANCE hInstance;
    union {
        HICON hIcon;
        LPCWSTR pszIcon;
    };
    LPCWSTR pszCaption;
    UINT nPages;
    union {
        UINT nStartPage;
        LPCWSTR pStartPage;
    };
    union {
        const PROPSHEETPAGEW* ppsp;
        HPROPSHEETPAGE* phpage;
    };
    int (*pfnCallback)(HWND, UINT, LPARAM);
};

// Notifications to pages (WM_NOTIFY with a PSHNOTIFY).
constexpr UINT PSN_FIRST = 0u - 200;
constexpr UINT PSN_SETACTIVE = PSN_FIRST - 0;
constexpr UINT PSN_KILLACTIVE = PSN_FIRST - 1;
constexpr UINT PSN_APPLY = PSN_FIRST - 2;
constexpr UINT PSN_RESET = PSN_FIRST - 3;
constexpr UINT PSN_HELP = PSN_FIRST - 5;
constexpr UINT PSN_QUERYCANCEL = PSN_FIRST - 9;

constexpr LRESULT PSNRET_NOERROR = 0;
constexpr LRESULT PSNRET_INVALID = 1;
constexpr LRESULT PSNRET_INVALID_NOCHANGEPAGE = 2;

struct PSHNOTIFY {
    NMHDR hdr;
    LPARAM lParam;
};

// Messages to the sheet.
constexpr UINT PSM_SETCURSEL = WM_USER + 101;
constexpr UINT PSM_REMOVEPAGE = WM_USER + 102;
constexpr UINT PSM_ADDPAGE = WM_USER + 103;
constexpr UINT PSM_CHANGED = WM_USER + 104;
constexpr UINT PSM_CANCELTOCLOSE = WM_USER + 107;
constexpr UINT PSM_QUERYSIBLINGS = WM_USER + 108;
constexpr UINT PSM_UNCHANGED = WM_USER + 109;
constexpr UINT PSM_APPLY = WM_USER + 110;
constexpr UINT PSM_PRESSBUTTON = WM_USER + 111;
constexpr UINT PSM_GETTABCONTROL = WM_USER + 116;
constexpr UINT PSM_GETCURRENTPAGEHWND = WM_USER + 118;
constexpr UINT PSM_SETTITLEW = WM_USER + 120;

constexpr int PSBTN_OK = 3;
constexpr int PSBTN_APPLYNOW = 4;
constexpr int PSBTN_CANCEL = 5;
constexpr int PSBTN_HELP = 6;

// Ids of the sheet's own controls.
constexpr int IDC_SHEET_TAB = 0x3020;
constexpr int IDC_SHEET_APPLY = 0x3021;

extern "C" {
HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page);
BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page);
// Modal: 1 when closed with OK, 0 with Cancel, -1 on failure. Modeless
// (PSH_MODELESS): the sheet window.
INT_PTR PropertySheetW(const PROPSHEETHEADERW* header);
}

namespace zq::user {

// What the test driver reads of a sheet.
struct SheetState {
    std::vector<HWND> pages;  // null for a page not created yet
    int current = -1;
    bool applyEnabled = false;
    bool closed = false;
};
bool GetSheetState(HWND sheet, SheetState& state);
bool IsPropertySheet(HWND hwnd);

}  // namespace zq::user
