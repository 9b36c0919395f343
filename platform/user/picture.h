// Pictures of window trees: every window of a top-level window painted,
// frames, captions and menu bars included, onto its 32-bit surface, and
// written as PNG. Pictures are made by our own renderer in a plain classic
// look; nothing depends on a display.
#pragma once

#include <string>

#include "user/window.h"

namespace zq::user {

// Paints the whole tree of `root` (non-client areas, backgrounds, clients,
// children back to front) on its surface.
bool RenderWindowTree(HWND root);
// RenderWindowTree, then the surface as PNG.
bool WriteWindowPng(HWND root, const std::string& path);

}  // namespace zq::user
