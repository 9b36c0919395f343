// Gradient fills and transparent copies, built on the DC calls.
#include "gdi/blend.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/error.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"

namespace {

// Images larger than this many pixels a side are not made.
constexpr LONG kMaxSide = 8192;

// A top-down 32-bit image and its header, for StretchDIBits.
struct Image {
    BITMAPINFO info{};
    std::vector<uint32_t> pixels;  // 0x00RRGGBB
    LONG w = 0, h = 0;
    Image(LONG width, LONG height) : pixels(static_cast<size_t>(width) * static_cast<size_t>(height)), w(width), h(height) {
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    }
    BOOL Draw(HDC hdc, LONG x, LONG y, LONG cx, LONG cy, DWORD rop = SRCCOPY) const {
        return StretchDIBits(hdc, x, y, cx, cy, 0, 0, w, h, pixels.data(), &info, DIB_RGB_COLORS, rop) != 0;
    }
};

uint32_t Rgb(double r, double g, double b) {
    auto c = [](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
    return c(r) << 16 | c(g) << 8 | c(b);
}

double Channel(const TRIVERTEX& v, int c) { return ((c == 0 ? v.Red : c == 1 ? v.Green : v.Blue) >> 8); }

BOOL FillRectGradient(HDC hdc, const TRIVERTEX& a, const TRIVERTEX& b, bool across) {
    const LONG left = std::min(a.x, b.x), right = std::max(a.x, b.x), top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
    if (right == left || bottom == top) return TRUE;
    // A span that does not fit the DC's coordinates is refused, not wrapped.
    if (int64_t{right} - left > INT32_MAX || int64_t{bottom} - top > INT32_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // 256 steps are as many as 8-bit channels can show.
    constexpr int kSteps = 256;
    Image img(across ? kSteps : 1, across ? 1 : kSteps);
    // The colour runs from the first vertex's side to the second's.
    const bool reversed = across ? b.x < a.x : b.y < a.y;
    for (int k = 0; k < kSteps; ++k) {
        const double t = (k + 0.5) / kSteps, u = reversed ? 1 - t : t;
        img.pixels[static_cast<size_t>(k)] =
            Rgb(Channel(a, 0) + (Channel(b, 0) - Channel(a, 0)) * u, Channel(a, 1) + (Channel(b, 1) - Channel(a, 1)) * u,
                Channel(a, 2) + (Channel(b, 2) - Channel(a, 2)) * u);
    }
    return img.Draw(hdc, left, top, right - left, bottom - top);
}

BOOL FillTriangle(HDC hdc, const TRIVERTEX* v[3]) {
    // Interpolated in device pixels over the triangle's box, then drawn
    // through a clip of the triangle itself.
    POINT p[3] = {{v[0]->x, v[0]->y}, {v[1]->x, v[1]->y}, {v[2]->x, v[2]->y}};
    POINT d[3] = {p[0], p[1], p[2]};
    LPtoDP(hdc, d, 3);
    const LONG dl = std::min({d[0].x, d[1].x, d[2].x}), dr = std::max({d[0].x, d[1].x, d[2].x});
    const LONG dt = std::min({d[0].y, d[1].y, d[2].y}), db = std::max({d[0].y, d[1].y, d[2].y});
    const double area = double(d[1].x - d[0].x) * (d[2].y - d[0].y) - double(d[2].x - d[0].x) * (d[1].y - d[0].y);
    if (area == 0) return TRUE;
    if (dr - dl + 1 > kMaxSide || db - dt + 1 > kMaxSide) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Image img(dr - dl + 1, db - dt + 1);
    for (LONG y = 0; y < img.h; ++y)
        for (LONG x = 0; x < img.w; ++x) {
            // Barycentric weights of the pixel's centre (outside the
            // triangle they extrapolate; the clip keeps those out).
            const double px = dl + x + 0.5, py = dt + y + 0.5;
            const double w1 = ((d[1].x - px) * (d[2].y - py) - (d[2].x - px) * (d[1].y - py)) / area;
            const double w2 = ((d[2].x - px) * (d[0].y - py) - (d[0].x - px) * (d[2].y - py)) / area;
            const double w3 = 1 - w1 - w2;
            double c[3];
            for (int k = 0; k < 3; ++k) c[k] = w1 * Channel(*v[0], k) + w2 * Channel(*v[1], k) + w3 * Channel(*v[2], k);
            img.pixels[static_cast<size_t>(y) * static_cast<size_t>(img.w) + static_cast<size_t>(x)] = Rgb(c[0], c[1], c[2]);
        }
    POINT box[2] = {{dl, dt}, {dr + 1, db + 1}};
    DPtoLP(hdc, box, 2);
    const int saved = SaveDC(hdc);
    BeginPath(hdc);
    Polygon(hdc, p, 3);
    EndPath(hdc);
    SelectClipPath(hdc, RGN_AND);
    const BOOL ok = img.Draw(hdc, box[0].x, box[0].y, box[1].x - box[0].x, box[1].y - box[0].y);
    RestoreDC(hdc, saved);
    return ok;
}

// The pixels of a DC's rectangle, read through a memory DC holding a
// 32-bit image of the rectangle's size.
bool ReadPixels(HDC hdc, int x, int y, Image& img) {
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &img.info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section) return false;
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, section);
    const BOOL read = BitBlt(mem, 0, 0, img.w, img.h, hdc, x, y, SRCCOPY);
    if (read) std::memcpy(img.pixels.data(), bits, img.pixels.size() * 4);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(section);
    return read;
}

// The image stretched onto the destination except where `clear` is set:
// a mask white there ANDs the destination, then the image, black there,
// ORs onto it.
BOOL DrawWithHoles(HDC dest, int x, int y, int w, int h, Image& img, const std::vector<bool>& clear) {
    Image mask(img.w, img.h);
    bool any = false;
    for (size_t i = 0; i < img.pixels.size(); ++i) {
        mask.pixels[i] = clear[i] ? 0xFFFFFF : 0;
        if (clear[i]) img.pixels[i] = 0, any = true;
    }
    if (!any) return img.Draw(dest, x, y, w, h);
    return mask.Draw(dest, x, y, w, h, SRCAND) && img.Draw(dest, x, y, w, h, SRCPAINT);
}

}  // namespace

extern "C" {

BOOL GradientFill(HDC hdc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount,
                  ULONG mode) {
    if (!hdc || (!vertices && vertexCount) || (!mesh && meshCount) || mode > GRADIENT_FILL_TRIANGLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Every mesh is checked before anything is drawn.
    const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
    const auto* triangles = static_cast<const GRADIENT_TRIANGLE*>(mesh);
    for (ULONG m = 0; m < meshCount; ++m) {
        const bool bad = mode == GRADIENT_FILL_TRIANGLE
                             ? triangles[m].Vertex1 >= vertexCount || triangles[m].Vertex2 >= vertexCount ||
                                   triangles[m].Vertex3 >= vertexCount
                             : rects[m].UpperLeft >= vertexCount || rects[m].LowerRight >= vertexCount;
        if (bad) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    BOOL ok = TRUE;
    for (ULONG m = 0; m < meshCount && ok; ++m) {
        if (mode == GRADIENT_FILL_TRIANGLE) {
            const TRIVERTEX* v[3] = {&vertices[triangles[m].Vertex1], &vertices[triangles[m].Vertex2],
                                     &vertices[triangles[m].Vertex3]};
            ok = FillTriangle(hdc, v);
        } else {
            ok = FillRectGradient(hdc, vertices[rects[m].UpperLeft], vertices[rects[m].LowerRight],
                                  mode == GRADIENT_FILL_RECT_H);
        }
    }
    return ok;
}

BOOL TransparentBlt(HDC dest, int xDest, int yDest, int wDest, int hDest, HDC src, int xSrc, int ySrc, int wSrc,
                    int hSrc, UINT transparent) {
    if (!dest || !src || wDest <= 0 || hDest <= 0 || wSrc <= 0 || hSrc <= 0 || wSrc > kMaxSide || hSrc > kMaxSide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Image img(wSrc, hSrc);
    if (!ReadPixels(src, xSrc, ySrc, img)) return FALSE;
    const uint32_t key = (transparent & 0xFF) << 16 | (transparent & 0xFF00) | ((transparent >> 16) & 0xFF);
    std::vector<bool> clear(img.pixels.size());
    for (size_t i = 0; i < img.pixels.size(); ++i) clear[i] = (img.pixels[i] & 0xFFFFFF) == key;
    return DrawWithHoles(dest, xDest, yDest, wDest, hDest, img, clear);
}

BOOL MaskBlt(HDC dest, int xDest, int yDest, int width, int height, HDC src, int xSrc, int ySrc, HBITMAP mask,
             int xMask, int yMask, DWORD rop4) {
    // The foreground operation is the third byte of the ROP4, the
    // background's the fourth (as MAKEROP4 packs them).
    const BYTE fore = static_cast<BYTE>(rop4 >> 16), back = static_cast<BYTE>(rop4 >> 24);
    constexpr BYTE kCopy = 0xCC, kKeep = 0xAA;
    if (!dest || !src || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((fore != kCopy && fore != kKeep) || (back != kCopy && back != kKeep)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (fore == kKeep && back == kKeep) return TRUE;
    if (fore == kCopy && back == kCopy) return BitBlt(dest, xDest, yDest, width, height, src, xSrc, ySrc, SRCCOPY);
    auto* bits = zq::gdi::ObjectAs<zq::gdi::BitmapObject>(mask);
    const zq::gdi::Surface* m = bits && bits->bitmap ? bits->bitmap->Get() : nullptr;
    if (!m || m->iBitmapFormat != BMF_1BPP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Image img(width, height);
    if (!ReadPixels(src, xSrc, ySrc, img)) return FALSE;
    // A mask pixel outside the mask counts as 0.
    std::vector<bool> clear(img.pixels.size());
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const LONG mx = xMask + x, my = yMask + y;
            const bool set = mx >= 0 && my >= 0 && mx < m->sizlBitmap.cx && my < m->sizlBitmap.cy && m->Pixel(mx, my) != 0;
            clear[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                (set ? fore : back) == kKeep;
        }
    return DrawWithHoles(dest, xDest, yDest, width, height, img, clear);
}

BOOL AlphaBlend(HDC dest, int xDest, int yDest, int wDest, int hDest, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend) {
    if (!dest || !src || wDest <= 0 || hDest <= 0 || wSrc <= 0 || hSrc <= 0 || wSrc > kMaxSide || hSrc > kMaxSide ||
        wDest > kMaxSide || hDest > kMaxSide || blend.BlendOp != AC_SRC_OVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Image img(wSrc, hSrc);
    if (!ReadPixels(src, xSrc, ySrc, img)) return FALSE;
    // The source at the destination's size, so that it meets the
    // destination pixel for pixel.
    Image over(wDest, hDest);
    for (LONG y = 0; y < hDest; ++y)
        for (LONG x = 0; x < wDest; ++x)
            over.pixels[static_cast<size_t>(y) * static_cast<size_t>(wDest) + static_cast<size_t>(x)] =
                img.pixels[static_cast<size_t>(y * hSrc / hDest) * static_cast<size_t>(wSrc) + static_cast<size_t>(x * wSrc / wDest)];
    const bool perPixel = blend.AlphaFormat & AC_SRC_ALPHA;
    const uint32_t constant = blend.SourceConstantAlpha;
    // The source's weight and its premultiplied channels: per-pixel colours
    // come premultiplied by their own alpha, and the constant scales both.
    auto alphaOf = [&](uint32_t p) { return (perPixel ? (p >> 24) : 255u) * constant / 255; };
    auto channel = [&](uint32_t p, int shift) {
        const uint32_t c = (p >> shift) & 0xFF;
        return c * (perPixel ? constant : alphaOf(p)) / 255;
    };
    Image back(wDest, hDest);
    const bool readable = ReadPixels(dest, xDest, yDest, back);
    std::vector<bool> clear(over.pixels.size(), false);
    for (size_t i = 0; i < over.pixels.size(); ++i) {
        const uint32_t p = over.pixels[i], a = alphaOf(p);
        const uint32_t d = readable ? back.pixels[i] : 0xFFFFFF;
        uint32_t out = 0;
        for (int shift : {0, 8, 16}) {
            const uint32_t v = std::min<uint32_t>(255, channel(p, shift) + ((d >> shift) & 0xFF) * (255 - a) / 255);
            out |= v << shift;
        }
        over.pixels[i] = out;
        if (!readable) clear[i] = a < 128;
    }
    return DrawWithHoles(dest, xDest, yDest, wDest, hDest, over, clear);
}

}  // extern "C"
