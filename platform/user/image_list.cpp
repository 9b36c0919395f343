// Image lists: images of one size kept as 32-bit pixels with a mask, added
// from bitmaps (with a mask bitmap or a mask colour) and drawn onto a DC.
#include <algorithm>
#include <memory>
#include <vector>

#include "base/error.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/commctrl.h"
#include "user/window_internal.h"

struct ImageList {
    int cx = 0;
    int cy = 0;
    UINT flags = 0;
    struct Image {
        std::vector<uint32_t> pixels;  // 0x00RRGGBB
        std::vector<bool> transparent;
    };
    std::vector<Image> images;
};

namespace {

// The bitmap's pixels, read by copying it onto a 32-bit surface of ours.
std::vector<uint32_t> Pixels(HBITMAP bitmap, int width, int height) {
    std::vector<uint32_t> out;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC to = CreateCompatibleDC(nullptr);
    HDC from = CreateCompatibleDC(nullptr);
    if (copy && to && from && bits) {
        HGDIOBJ oldTo = SelectObject(to, copy);
        HGDIOBJ oldFrom = SelectObject(from, bitmap);
        if (oldFrom && BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY)) {
            const auto* p = static_cast<const uint32_t*>(bits);
            out.assign(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
            for (auto& v : out) v &= 0x00FFFFFF;
        }
        if (oldFrom) SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    if (from) DeleteDC(from);
    if (to) DeleteDC(to);
    if (copy) DeleteObject(copy);
    return out;
}

uint32_t Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

int AddStrip(HIMAGELIST list, HBITMAP image, HBITMAP mask, bool byColour, COLORREF colour) {
    if (!list || !image || list->cx <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // A strip of images side by side; its width says how many.
    auto* object = zq::gdi::ObjectAs<zq::gdi::BitmapObject>(image);
    if (!object || !object->bitmap || !object->bitmap->Get()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const LONG width = object->bitmap->Get()->sizlBitmap.cx;
    const int count = static_cast<int>(width / list->cx);
    if (count <= 0 || object->bitmap->Get()->sizlBitmap.cy < list->cy) return -1;
    std::vector<uint32_t> pixels = Pixels(image, list->cx * count, list->cy);
    if (pixels.empty()) return -1;
    std::vector<uint32_t> maskPixels = mask ? Pixels(mask, list->cx * count, list->cy) : std::vector<uint32_t>();
    const int first = static_cast<int>(list->images.size());
    for (int i = 0; i < count; ++i) {
        ImageList::Image img;
        img.pixels.resize(static_cast<size_t>(list->cx) * static_cast<size_t>(list->cy));
        img.transparent.assign(img.pixels.size(), false);
        for (int y = 0; y < list->cy; ++y)
            for (int x = 0; x < list->cx; ++x) {
                const size_t from = static_cast<size_t>(y) * static_cast<size_t>(list->cx * count) +
                                    static_cast<size_t>(i * list->cx + x);
                const size_t to = static_cast<size_t>(y) * static_cast<size_t>(list->cx) + static_cast<size_t>(x);
                img.pixels[to] = pixels[from];
                if (byColour && (list->flags & ILC_MASK)) img.transparent[to] = pixels[from] == Rgb(colour);
                if (!maskPixels.empty() && (list->flags & ILC_MASK)) img.transparent[to] = maskPixels[from] != 0;
            }
        list->images.push_back(std::move(img));
    }
    return first;
}

}  // namespace

extern "C" {

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int) {
    if (cx <= 0 || cy <= 0 || cx > 4096 || cy > 4096) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto list = std::make_unique<ImageList>();
    list->cx = cx;
    list->cy = cy;
    list->flags = flags;
    list->images.reserve(static_cast<size_t>(std::clamp(initial, 0, 1024)));
    return list.release();
}

BOOL ImageList_Destroy(HIMAGELIST list) {
    if (!list) return FALSE;
    delete list;
    return TRUE;
}

int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask) { return AddStrip(list, image, mask, false, 0); }

int ImageList_AddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColor) {
    return AddStrip(list, image, nullptr, true, maskColor);
}

int ImageList_GetImageCount(HIMAGELIST list) { return list ? static_cast<int>(list->images.size()) : 0; }

BOOL ImageList_Remove(HIMAGELIST list, int index) {
    if (!list) return FALSE;
    if (index == -1) {
        list->images.clear();
        return TRUE;
    }
    if (index < 0 || index >= static_cast<int>(list->images.size())) return FALSE;
    list->images.erase(list->images.begin() + index);
    return TRUE;
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy) {
    if (!list) return FALSE;
    if (cx) *cx = list->cx;
    if (cy) *cy = list->cy;
    return TRUE;
}

BOOL ImageList_Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT) {
    if (!list || index < 0 || index >= static_cast<int>(list->images.size()) || !dc) return FALSE;
    const auto& img = list->images[static_cast<size_t>(index)];
    for (int row = 0; row < list->cy; ++row)
        for (int col = 0; col < list->cx; ++col) {
            const size_t i = static_cast<size_t>(row) * static_cast<size_t>(list->cx) + static_cast<size_t>(col);
            if (img.transparent[i]) continue;
            const uint32_t p = img.pixels[i];
            SetPixelV(dc, x + col, y + row, RGB(static_cast<BYTE>(p >> 16), static_cast<BYTE>(p >> 8), static_cast<BYTE>(p)));
        }
    return TRUE;
}

void InitCommonControls() {}
BOOL InitCommonControlsEx(const void*) { return TRUE; }

}  // extern "C"
