// The common property-sheet UI: one sheet per call, built from the pages
// the caller adds through the callback during INIT.
#include "user/common_sheet.h"

#include <mutex>

#include "base/diag.h"
#include "base/error.h"
#include "user/window_internal.h"

namespace {

struct ComSheet {
    std::vector<HPROPSHEETPAGE> pages;
    LRESULT result = CPSUI_CANCEL;
};

std::mutex& CallsLock() {
    static std::mutex lock;
    return lock;
}
std::vector<zq::user::CommonSheetCall>& Calls() {
    static auto* calls = new std::vector<zq::user::CommonSheetCall>;
    return *calls;
}

LONG_PTR ComPropSheet(HANDLE handle, UINT function, LPARAM lParam1, LPARAM lParam2) {
    auto* sheet = static_cast<ComSheet*>(handle);
    LONG_PTR answer = 0;
    if (sheet) {
        switch (function) {
        case CPSFUNC_ADD_HPROPSHEETPAGE:
            if (lParam1) {
                sheet->pages.push_back(reinterpret_cast<HPROPSHEETPAGE>(lParam1));
                answer = lParam1;
            }
            break;
        case CPSFUNC_ADD_PROPSHEETPAGEW:
            if (HPROPSHEETPAGE page = CreatePropertySheetPageW(reinterpret_cast<const PROPSHEETPAGEW*>(lParam1))) {
                sheet->pages.push_back(page);
                answer = reinterpret_cast<LONG_PTR>(page);
            }
            break;
        case CPSFUNC_SET_RESULT:
            sheet->result = lParam2;
            answer = 1;
            break;
        default: break;  // not served: 0
        }
    }
    std::lock_guard guard(CallsLock());
    Calls().push_back(zq::user::CommonSheetCall{function, lParam1, lParam2, answer});
    return answer;
}

}  // namespace

namespace zq::user {

std::vector<CommonSheetCall> CommonSheetCalls() {
    std::lock_guard guard(CallsLock());
    return Calls();
}

void ResetCommonSheetCalls() {
    std::lock_guard guard(CallsLock());
    Calls().clear();
}

LONG CommonPropertySheetUI(HWND owner, PFNPROPSHEETUI function, LPARAM lParam, DWORD* result) {
    if (result) *result = CPSUI_CANCEL;
    if (!function) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERR_CPSUI_GETLASTERROR;
    }
    ComSheet sheet;
    PROPSHEETUI_INFO info{sizeof(PROPSHEETUI_INFO), 0x0100, 0, PROPSHEETUI_REASON_INIT, &sheet, ComPropSheet,
                          lParam, 0, 0};
    if (function(&info, lParam) <= 0) {
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        function(&info, 1);
        for (auto* page : sheet.pages) DestroyPropertySheetPage(page);
        return ERR_CPSUI_GETLASTERROR;
    }
    PROPSHEETUI_INFO_HEADER header{};
    header.cbSize = sizeof(header);
    header.hWndParent = owner;
    info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
    function(&info, reinterpret_cast<LPARAM>(&header));
    LONG answer = CPSUI_CANCEL;
    if (!sheet.pages.empty()) {
        PROPSHEETHEADERW psh{};
        psh.dwSize = sizeof(psh);
        psh.dwFlags = (header.Flags & PSUIHDRF_NOAPPLYNOW ? PSH_NOAPPLYNOW : 0) |
                      (header.Flags & PSUIHDRF_PROPTITLE ? PSH_PROPTITLE : 0);
        psh.hwndParent = header.hWndParent ? header.hWndParent : owner;
        psh.hInstance = header.hInst;
        psh.pszCaption = header.pTitle;
        psh.nPages = static_cast<UINT>(sheet.pages.size());
        psh.phpage = sheet.pages.data();
        // The sheet takes the pages and frees them when it closes.
        const INT_PTR r = PropertySheetW(&psh);
        answer = r == 1 ? CPSUI_OK : CPSUI_CANCEL;
    } else {
        DiagLine("user", "CommonPropertySheetUIW: no page was added; no sheet is shown");
    }
    SETRESULT_INFO set{sizeof(SETRESULT_INFO), 0, &sheet, answer};
    info.Reason = PROPSHEETUI_REASON_SET_RESULT;
    function(&info, reinterpret_cast<LPARAM>(&set));
    info.Reason = PROPSHEETUI_REASON_DESTROY;
    function(&info, 0);
    if (result) *result = static_cast<DWORD>(answer);
    return answer;
}

}  // namespace zq::user
