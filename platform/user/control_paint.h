// How the standard controls look in the classic scheme; used by their
// WM_PAINT handlers.
#pragma once

#include <string>

#include "user/window.h"

namespace zq::user::detail {

void PaintButton(HWND hwnd, HDC dc, DWORD type, WPARAM check, bool pushed, bool focus, HFONT font);
void PaintStatic(HWND hwnd, HDC dc, HFONT font);
void PaintEdit(HWND hwnd, HDC dc, HFONT font, const std::u16string& text, bool password);
// A sunken white box with rows of text (list boxes and the combo's field).
void PaintTextBox(HWND hwnd, HDC dc, HFONT font, const std::u16string* rows, size_t count, int rowHeight, int top,
                  int selected);

}  // namespace zq::user::detail
