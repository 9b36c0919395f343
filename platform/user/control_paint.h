// How the standard controls look in the classic scheme; used by their
// WM_PAINT handlers.
#pragma once

#include <string>

#include "user/window.h"

namespace zq::user::detail {

void PaintButton(HWND hwnd, HDC dc, DWORD type, WPARAM check, bool pushed, bool focus, HFONT font);
// `icon`: the icon an SS_ICON static shows (null: an empty frame).
void PaintStatic(HWND hwnd, HDC dc, HFONT font, HICON icon = nullptr);
void PaintEdit(HWND hwnd, HDC dc, HFONT font, const std::u16string& text, bool password);
// A sunken white box with rows of text (list boxes and the combo's field).
void PaintTextBox(HWND hwnd, HDC dc, HFONT font, const std::u16string* rows, size_t count, int rowHeight, int top,
                  int selected, int rightMargin = 0);

// A raised button with a small triangle (scroll bars, combo boxes).
void PaintArrowButton(HDC dc, RECT box, bool down, bool vertical);
void PaintScrollBar(HWND hwnd, HDC dc, int min, int max, UINT page, int pos);

// Frame, caption (with a close box) and menu bar, on the window's DC.
void PaintNonClient(HWND hwnd, HDC dc, bool active);

}  // namespace zq::user::detail
