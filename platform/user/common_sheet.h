// The common property-sheet UI, as the driver's interface reaches it
// through "compstui.dll": CommonPropertySheetUIW calls the caller's
// function with the reasons INIT, GET_INFO_HEADER, SET_RESULT and DESTROY
// around one property sheet, and serves the page-adding functions of the
// callback it hands over. Every call of that callback is recorded.
#pragma once

#include <vector>

#include "base/types.h"
#include "user/property_sheet.h"

using PFNCOMPROPSHEET = LONG_PTR (*)(HANDLE sheet, UINT function, LPARAM lParam1, LPARAM lParam2);

struct PROPSHEETUI_INFO {
    WORD cbSize;
    WORD Version;
    WORD Flags;
    WORD Reason;
    HANDLE hComPropSheet;
    PFNCOMPROPSHEET pfnComPropSheet;
    LPARAM lParamInit;
    ULONG_PTR UserData;
    ULONG_PTR Result;
};

using PFNPROPSHEETUI = LONG (*)(PROPSHEETUI_INFO* info, LPARAM lParam);

struct PROPSHEETUI_INFO_HEADER {
    WORD cbSize;
    WORD Flags;
    LPCWSTR pTitle;
    HWND hWndParent;
    HINSTANCE hInst;
    union {
        HICON hIcon;
        ULONG_PTR IconID;
    };
};

struct SETRESULT_INFO {
    WORD cbSize;
    WORD wReserved;
    HANDLE hSetResult;
    LRESULT Result;
};

constexpr WORD PROPSHEETUI_REASON_INIT = 0;
constexpr WORD PROPSHEETUI_REASON_GET_INFO_HEADER = 1;
constexpr WORD PROPSHEETUI_REASON_DESTROY = 2;
constexpr WORD PROPSHEETUI_REASON_SET_RESULT = 3;

constexpr WORD PSUIHDRF_PROPTITLE = 0x0001;
constexpr WORD PSUIHDRF_NOAPPLYNOW = 0x0002;

constexpr UINT CPSFUNC_ADD_HPROPSHEETPAGE = 0;
constexpr UINT CPSFUNC_ADD_PROPSHEETPAGEW = 1;
constexpr UINT CPSFUNC_SET_RESULT = 9;

constexpr LONG CPSUI_CANCEL = 0;
constexpr LONG CPSUI_OK = 1;
constexpr LONG ERR_CPSUI_GETLASTERROR = -1;

namespace zq::user {

// One call of the sheet callback, as it was made.
struct CommonSheetCall {
    UINT function = 0;
    LPARAM lParam1 = 0;
    LPARAM lParam2 = 0;
    LONG_PTR answer = 0;
};

// What CommonPropertySheetUIW does; the stand-in module exports it.
LONG CommonPropertySheetUI(HWND owner, PFNPROPSHEETUI function, LPARAM lParam, DWORD* result);

// The calls recorded since the last reset, and the reset.
std::vector<CommonSheetCall> CommonSheetCalls();
void ResetCommonSheetCalls();

}  // namespace zq::user
