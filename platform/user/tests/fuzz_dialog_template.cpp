// Dialog templates from untrusted bytes: the reader never reads past them,
// and a dialog made from what it accepts is created and destroyed cleanly.
#include <cstddef>
#include <cstdint>

#include "user/dialog.h"

namespace {
INT_PTR Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const BYTE> bytes(data, size);
    auto t = zq::user::ReadDialogTemplate(bytes);
    if (!t || t->items.size() > 32) return 0;
    // Windows as large as the template asks are fine: nothing is drawn.
    HWND d = zq::user::CreateDialogFromBytes(nullptr, bytes, nullptr, Proc, 0);
    if (d) DestroyWindow(d);
    return 0;
}
