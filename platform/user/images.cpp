// Bitmaps and icons from the resources of a module. An icon image is a DIB
// twice its height: the colour image, then a one-bit mask (1 where the
// background shows); both become bitmaps of the engine.
#include "user/images.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <vector>

#include "base/error.h"
#include "base/resources.h"
#include "base/text.h"
#include "gdi/dc_draw.h"
#include "gdi/dib.h"

namespace {

struct Icon {
    HBITMAP image = nullptr;
    HBITMAP mask = nullptr;
    int width = 0, height = 0;
};

std::mutex g_iconsMutex;
std::set<Icon*>& Icons() {
    static auto* icons = new std::set<Icon*>;
    return *icons;
}

Icon* IconOf(HICON h) {
    std::lock_guard lock(g_iconsMutex);
    auto* icon = reinterpret_cast<Icon*>(h);
    if (!Icons().count(icon)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return icon;
}

std::span<const BYTE> ResourceBytes(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    HGLOBAL data = LoadResource(module, found);
    const auto* bytes = static_cast<const BYTE*>(LockResource(data));
    if (!bytes) return {};
    return {bytes, SizeofResource(module, found)};
}

uint16_t U16(std::span<const BYTE> b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(std::span<const BYTE> b, size_t at) { return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16; }

// A resource name as the wide calls take it: a number stays a number.
LPCWSTR WideName(LPCSTR name, std::u16string& storage) {
    if (IS_INTRESOURCE(name)) return reinterpret_cast<LPCWSTR>(name);
    storage = zq::AnsiToWide(name);
    return reinterpret_cast<LPCWSTR>(storage.c_str());
}

// One image of an icon resource as an icon.
HICON IconFromImage(std::span<const BYTE> data) {
    constexpr size_t kHeader = sizeof(BITMAPINFOHEADER);
    if (data.size() < kHeader || U32(data, 0) != kHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    BITMAPINFOHEADER h;
    std::memcpy(&h, data.data(), kHeader);
    if (h.biWidth <= 0 || h.biWidth > 256 || h.biHeight <= 0 || h.biHeight > 512 || h.biHeight % 2 != 0 ||
        h.biCompression != BI_RGB) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int w = h.biWidth, ht = h.biHeight / 2;
    const size_t colours = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : size_t{1} << h.biBitCount) : 0;
    const size_t imageRow = ((static_cast<size_t>(w) * h.biBitCount + 31) / 32) * 4;
    const size_t maskRow = ((static_cast<size_t>(w) + 31) / 32) * 4;
    const size_t imageAt = kHeader + colours * 4, maskAt = imageAt + imageRow * static_cast<size_t>(ht);
    if (h.biBitCount == 0 || colours > 256 || maskAt + maskRow * static_cast<size_t>(ht) > data.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The colour image: the same header at half the height.
    std::vector<BYTE> image(data.begin(), data.begin() + static_cast<ptrdiff_t>(maskAt));
    BITMAPINFOHEADER half = h;
    half.biHeight = ht;
    half.biSizeImage = 0;
    std::memcpy(image.data(), &half, kHeader);
    // The mask as a one-bit DIB of black (0) and white (1).
    BITMAPINFOHEADER m{kHeader, w, ht, 1, 1, BI_RGB, 0, 0, 0, 2, 0};
    std::vector<BYTE> mask(kHeader + 8);
    std::memcpy(mask.data(), &m, kHeader);
    std::memset(mask.data() + kHeader + 4, 0xFF, 3);
    mask.insert(mask.end(), data.begin() + static_cast<ptrdiff_t>(maskAt),
                data.begin() + static_cast<ptrdiff_t>(maskAt + maskRow * static_cast<size_t>(ht)));
    auto icon = std::make_unique<Icon>();
    icon->image = zq::gdi::BitmapFromPackedDib(image);
    icon->mask = zq::gdi::BitmapFromPackedDib(mask);
    icon->width = w;
    icon->height = ht;
    if (!icon->image || !icon->mask) {
        if (icon->image) DeleteObject(icon->image);
        if (icon->mask) DeleteObject(icon->mask);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(g_iconsMutex);
    Icons().insert(icon.get());
    return reinterpret_cast<HICON>(icon.release());
}

// Blits one of the icon's bitmaps with `rop`, stretched to cx by cy.
BOOL Blit(HDC hdc, int x, int y, int cx, int cy, HBITMAP bitmap, const Icon& icon, DWORD rop) {
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, bitmap);
    const BOOL ok = StretchBlt(hdc, x, y, cx, cy, mem, 0, 0, icon.width, icon.height, rop);
    SelectObject(mem, old);
    DeleteDC(mem);
    return ok;
}

}  // namespace

extern "C" {

HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name) {
    const auto bytes = ResourceBytes(module, name, MAKEINTRESOURCEW(2));  // RT_BITMAP
    if (bytes.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return zq::gdi::BitmapFromPackedDib(bytes);
}

HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name) {
    std::u16string storage;
    return LoadBitmapW(module, WideName(name, storage));
}

HICON LoadIconW(HINSTANCE module, LPCWSTR name) {
    const auto group = ResourceBytes(module, name, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (group.size() < 6 || U16(group, 2) != 1) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    // Entries of 14 bytes: width, height (0 for 256), colours, reserved,
    // planes, bits, bytes, image id. The nearest to 32 x 32, then the deepest.
    const size_t count = U16(group, 4);
    int best = -1, bestDistance = 0, bestBits = 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) {
        const size_t e = 6 + 14 * i;
        const int w = group[e] ? group[e] : 256, bits = U16(group, e + 6);
        const int distance = w > 32 ? w - 32 : 32 - w;
        if (best < 0 || distance < bestDistance || (distance == bestDistance && bits > bestBits)) {
            best = static_cast<int>(i);
            bestDistance = distance;
            bestBits = bits;
        }
    }
    if (best < 0) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const uint16_t id = U16(group, 6 + 14 * static_cast<size_t>(best) + 12);
    const auto image = ResourceBytes(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
    if (image.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return IconFromImage(image);
}

HICON LoadIconA(HINSTANCE module, LPCSTR name) {
    std::u16string storage;
    return LoadIconW(module, WideName(name, storage));
}

BOOL DestroyIcon(HICON h) {
    Icon* icon = IconOf(h);
    if (!icon) return FALSE;
    {
        std::lock_guard lock(g_iconsMutex);
        Icons().erase(icon);
    }
    DeleteObject(icon->image);
    DeleteObject(icon->mask);
    delete icon;
    return TRUE;
}

BOOL GetIconSize(HICON h, int* width, int* height) {
    Icon* icon = IconOf(h);
    if (!icon) return FALSE;
    if (width) *width = icon->width;
    if (height) *height = icon->height;
    return TRUE;
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON h, int cx, int cy, UINT, HBRUSH background, UINT flags) {
    Icon* icon = IconOf(h);
    if (!icon || !hdc) return FALSE;
    if (cx <= 0) cx = (flags & DI_DEFAULTSIZE) ? 32 : icon->width;
    if (cy <= 0) cy = (flags & DI_DEFAULTSIZE) ? 32 : icon->height;
    if (background) {
        const RECT box{x, y, x + cx, y + cy};
        FillRect(hdc, &box, background);
    }
    // A one-bit source takes the DC's text colour for 0 and its background
    // colour for 1: black and white, whatever the caller had set.
    const COLORREF text = SetTextColor(hdc, 0x000000), back = SetBkColor(hdc, 0xFFFFFF);
    BOOL ok = TRUE;
    if ((flags & DI_NORMAL) == DI_NORMAL) {
        ok = Blit(hdc, x, y, cx, cy, icon->mask, *icon, SRCAND) && Blit(hdc, x, y, cx, cy, icon->image, *icon, SRCINVERT);
    } else if (flags & DI_MASK) {
        ok = Blit(hdc, x, y, cx, cy, icon->mask, *icon, SRCCOPY);
    } else if (flags & DI_IMAGE) {
        ok = Blit(hdc, x, y, cx, cy, icon->image, *icon, SRCCOPY);
    }
    SetTextColor(hdc, text);
    SetBkColor(hdc, back);
    return ok;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) { return DrawIconEx(hdc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE); }

}  // extern "C"
