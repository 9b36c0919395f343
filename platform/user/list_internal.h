// Between the combo box and its drop-down list: private messages.
#pragma once

#include "user/window.h"

namespace zq::user::detail {

// To the list: wParam is the combo box it reports to.
constexpr UINT kListSetCombo = WM_USER + 0x3F0;
// To the combo box: wParam a list notification (LBN_*) or kListPicked.
constexpr UINT kListNotifyCombo = WM_USER + 0x3F1;
constexpr WPARAM kListPicked = 0x7F00;

}  // namespace zq::user::detail
