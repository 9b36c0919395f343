// The stand-in loaded as "compstui.dll": its one export runs the common
// property-sheet UI of the platform library.
#include "user/common_sheet.h"

extern "C" __attribute__((visibility("default"))) LONG CommonPropertySheetUIW(HWND owner, PFNPROPSHEETUI function,
                                                                             LPARAM lParam, DWORD* result) {
    return zq::user::CommonPropertySheetUI(owner, function, lParam, result);
}
