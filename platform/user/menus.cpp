// Menus: menu bars of top-level windows.
#include "user/window.h"
#include "user/window_internal.h"

namespace zq::user::detail {

bool HasMenuBar(HWND) { return false; }
void DestroyMenuBar(HWND) {}

}  // namespace zq::user::detail
