// Pictures: a tree painted front-last onto its root's surface and written
// through the graphics engine's PNG writer.
#include "user/picture.h"

#include "gdi/dc.h"
#include "gdi/engine.h"
#include "user/window_internal.h"

namespace zq::user::detail {
HBITMAP SurfaceBitmap(HWND root);
}

namespace zq::user {

namespace {

void PaintTree(HWND hwnd) {
    if (!(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE)) return;
    SendMessageW(hwnd, WM_NCPAINT, 1, 0);
    InvalidateRect(hwnd, nullptr, TRUE);
    if (auto w = detail::Find(hwnd); w && w->hasUpdate) SendMessageW(hwnd, WM_PAINT, 0, 0);
    std::vector<HWND> children;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    // Back to front: the front window is drawn last.
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (IsWindow(*it)) PaintTree(*it);
}

}  // namespace

bool RenderWindowTree(HWND root) {
    if (!IsWindow(root) || GetAncestor(root, GA_ROOT) != root) return false;
    const bool wasVisible = GetWindowLongW(root, GWL_STYLE) & WS_VISIBLE;
    // A hidden root is painted as if shown, without showing it.
    if (!wasVisible) SetWindowLongW(root, GWL_STYLE, GetWindowLongW(root, GWL_STYLE) | WS_VISIBLE);
    PaintTree(root);
    if (!wasVisible) SetWindowLongW(root, GWL_STYLE, GetWindowLongW(root, GWL_STYLE) & ~static_cast<LONG>(WS_VISIBLE));
    return true;
}

bool WriteWindowPng(HWND root, const std::string& path) {
    if (!RenderWindowTree(root)) return false;
    HBITMAP bitmap = detail::SurfaceBitmap(root);
    auto* object = zq::gdi::ObjectAs<zq::gdi::BitmapObject>(bitmap);
    if (!object || !object->bitmap || !object->bitmap->Get()) return false;
    return zq::gdi::WritePng(*object->bitmap->Get(), path);
}

}  // namespace zq::user
