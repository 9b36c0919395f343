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
#include "gdi/rop.h"

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

// Calls `draw` with the device rectangle `box` in logical units, through a
// clip of the polygon `p` (logical), so that no pixel of the box outside the
// polygon is touched even where the drawing rounds outward.
template <class Draw>
BOOL ThroughPolygon(HDC hdc, const POINT* p, int n, RECTL box, Draw draw) {
    POINT corners[2] = {{box.left, box.top}, {box.right, box.bottom}};
    DPtoLP(hdc, corners, 2);
    const int saved = SaveDC(hdc);
    BeginPath(hdc);
    Polygon(hdc, p, n);
    EndPath(hdc);
    SelectClipPath(hdc, RGN_AND);
    const BOOL ok = draw(corners[0].x, corners[0].y, corners[1].x - corners[0].x, corners[1].y - corners[0].y);
    RestoreDC(hdc, saved);
    return ok;
}

// The part of the device rectangle `box` that can be drawn on: the DC's clip
// cut to its surface. An image made only for that part keeps a triangle or
// parallelogram reaching far past the page from costing its whole box.
RECTL Visible(HDC hdc, const RECTL& box) {
    const auto* dc = zq::gdi::DeviceContext::FromHandle(hdc);
    if (!dc) return box;
    return zq::gdi::IntersectRect(box, dc->EffectiveClip().Bounds());
}

BOOL FillTriangle(HDC hdc, const TRIVERTEX* v[3]) {
    // Interpolated in device pixels over the triangle's box, then drawn
    // through a clip of the triangle itself.
    POINT p[3] = {{v[0]->x, v[0]->y}, {v[1]->x, v[1]->y}, {v[2]->x, v[2]->y}};
    POINT d[3] = {p[0], p[1], p[2]};
    LPtoDP(hdc, d, 3);
    const LONG dl = std::min({d[0].x, d[1].x, d[2].x}), dr = std::max({d[0].x, d[1].x, d[2].x});
    const LONG dt = std::min({d[0].y, d[1].y, d[2].y}), db = std::max({d[0].y, d[1].y, d[2].y});
    const double area = (double(d[1].x) - d[0].x) * (double(d[2].y) - d[0].y) -
                        (double(d[2].x) - d[0].x) * (double(d[1].y) - d[0].y);
    if (area == 0) return TRUE;
    if (int64_t{dr} - dl + 1 > kMaxSide || int64_t{db} - dt + 1 > kMaxSide) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const RECTL seen = Visible(hdc, {dl, dt, dr + 1, db + 1});
    if (zq::gdi::RectEmpty(seen)) return TRUE;
    Image img(seen.right - seen.left, seen.bottom - seen.top);
    for (LONG y = 0; y < img.h; ++y)
        for (LONG x = 0; x < img.w; ++x) {
            // Barycentric weights of the pixel's centre (outside the
            // triangle they extrapolate; the clip keeps those out).
            const double px = seen.left + x + 0.5, py = seen.top + y + 0.5;
            const double w1 = ((d[1].x - px) * (d[2].y - py) - (d[2].x - px) * (d[1].y - py)) / area;
            const double w2 = ((d[2].x - px) * (d[0].y - py) - (d[0].x - px) * (d[2].y - py)) / area;
            const double w3 = 1 - w1 - w2;
            double c[3];
            for (int k = 0; k < 3; ++k) c[k] = w1 * Channel(*v[0], k) + w2 * Channel(*v[1], k) + w3 * Channel(*v[2], k);
            img.pixels[static_cast<size_t>(y) * static_cast<size_t>(img.w) + static_cast<size_t>(x)] = Rgb(c[0], c[1], c[2]);
        }
    return ThroughPolygon(hdc, p, 3, seen, [&](LONG x, LONG y, LONG w, LONG h) { return img.Draw(hdc, x, y, w, h); });
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
    // A destination reaching past the coordinate range is no rectangle the
    // DC can hold.
    if (!dest || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        int64_t{xDest} + width > INT32_MAX || int64_t{yDest} + height > INT32_MAX ||
        ((zq::gdi::RopUsesSource(fore) || zq::gdi::RopUsesSource(back)) && !src)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fore == kKeep && back == kKeep) return TRUE;
    auto blt = [&](BYTE rop) {
        return BitBlt(dest, xDest, yDest, width, height, src, xSrc, ySrc, static_cast<DWORD>(rop) << 16);
    };
    if (fore == back) return blt(fore);
    auto* bits = zq::gdi::ObjectAs<zq::gdi::BitmapObject>(mask);
    const zq::gdi::Surface* m = bits && bits->bitmap ? bits->bitmap->Get() : nullptr;
    if (!m || m->iBitmapFormat != BMF_1BPP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A mask pixel outside the mask counts as 0.
    auto set = [&](LONG x, LONG y) {
        const int64_t mx = int64_t{xMask} + x, my = int64_t{yMask} + y;
        return mx >= 0 && my >= 0 && mx < m->sizlBitmap.cx && my < m->sizlBitmap.cy &&
               m->Pixel(static_cast<LONG>(mx), static_cast<LONG>(my)) != 0;
    };
    if ((fore == kCopy || fore == kKeep) && (back == kCopy || back == kKeep)) {
        // Copying and keeping: the image with holes, in one drawing.
        Image img(width, height);
        if (!ReadPixels(src, xSrc, ySrc, img)) return FALSE;
        std::vector<bool> clear(img.pixels.size());
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x)
                clear[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                    (set(x, y) ? fore : back) == kKeep;
        return DrawWithHoles(dest, xDest, yDest, width, height, img, clear);
    }
    // Any other pair: each operation through a clip of the mask's set
    // pixels (each row's runs as rectangles), the foreground inside it and
    // the background outside.
    auto clipToMask = [&](int mode) {
        BeginPath(dest);
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width;) {
                if (!set(x, y)) {
                    ++x;
                    continue;
                }
                LONG end = x;
                while (end < width && set(end, y)) ++end;
                const POINT run[4] = {{xDest + x, yDest + y}, {xDest + end, yDest + y}, {xDest + end, yDest + y + 1},
                                      {xDest + x, yDest + y + 1}};
                Polygon(dest, run, 4);
                x = end;
            }
        EndPath(dest);
        return SelectClipPath(dest, mode);
    };
    BOOL ok = TRUE;
    for (const auto& [rop, mode] : {std::pair{fore, RGN_AND}, std::pair{back, RGN_DIFF}}) {
        if (rop == kKeep) continue;
        const int saved = SaveDC(dest);
        ok = ok && clipToMask(mode) && blt(rop);
        RestoreDC(dest, saved);
    }
    return ok;
}

BOOL PlgBlt(HDC dest, const POINT* corners, HDC src, int xSrc, int ySrc, int width, int height, HBITMAP mask, int xMask,
            int yMask) {
    if (!dest || !src || !corners || width == 0 || height == 0 || std::abs(width) > kMaxSide ||
        std::abs(height) > kMaxSide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const zq::gdi::Surface* m = nullptr;
    if (mask) {
        auto* bits = zq::gdi::ObjectAs<zq::gdi::BitmapObject>(mask);
        m = bits && bits->bitmap ? bits->bitmap->Get() : nullptr;
        if (!m || m->iBitmapFormat != BMF_1BPP) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    // A negative extent reads the source from its other side.
    const LONG w = std::abs(width), h = std::abs(height);
    const LONG x0 = width < 0 ? xSrc + width : xSrc, y0 = height < 0 ? ySrc + height : ySrc;
    Image img(w, h);
    if (!ReadPixels(src, x0, y0, img)) return FALSE;
    // The source's top left goes to the first corner, its top right to the
    // second and its bottom left to the third; the fourth completes the
    // parallelogram.
    // A fourth corner beyond the coordinate range is no parallelogram this
    // device can hold.
    const int64_t x3 = int64_t{corners[1].x} + corners[2].x - corners[0].x;
    const int64_t y3 = int64_t{corners[1].y} + corners[2].y - corners[0].y;
    if (x3 != static_cast<LONG>(x3) || y3 != static_cast<LONG>(y3)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    POINT d[4] = {corners[0], corners[1], corners[2], {static_cast<LONG>(x3), static_cast<LONG>(y3)}};
    POINT logical[4] = {d[0], d[1], d[3], d[2]};
    LPtoDP(dest, d, 4);
    const double ux = double(d[1].x) - d[0].x, uy = double(d[1].y) - d[0].y, vx = double(d[2].x) - d[0].x,
                 vy = double(d[2].y) - d[0].y;
    const double det = ux * vy - vx * uy;
    if (det == 0) return TRUE;
    const LONG dl = std::min({d[0].x, d[1].x, d[2].x, d[3].x}), dr = std::max({d[0].x, d[1].x, d[2].x, d[3].x});
    const LONG dt = std::min({d[0].y, d[1].y, d[2].y, d[3].y}), db = std::max({d[0].y, d[1].y, d[2].y, d[3].y});
    if (int64_t{dr} - dl + 1 > kMaxSide || int64_t{db} - dt + 1 > kMaxSide) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    // Each device pixel's centre taken back into the source (nearest
    // pixel); pixels outside it or outside the mask are left as they are.
    const RECTL seen = Visible(dest, {dl, dt, dr + 1, db + 1});
    if (zq::gdi::RectEmpty(seen)) return TRUE;
    Image out(seen.right - seen.left, seen.bottom - seen.top);
    std::vector<bool> clear(out.pixels.size(), true);
    for (LONG y = 0; y < out.h; ++y)
        for (LONG x = 0; x < out.w; ++x) {
            const double px = seen.left + x + 0.5 - d[0].x, py = seen.top + y + 0.5 - d[0].y;
            const double s = (px * vy - vx * py) / det, t = (ux * py - px * uy) / det;
            if (s < 0 || s >= 1 || t < 0 || t >= 1) continue;
            LONG sx = static_cast<LONG>(s * w), sy = static_cast<LONG>(t * h);
            if (width < 0) sx = w - 1 - sx;
            if (height < 0) sy = h - 1 - sy;
            if (m) {
                const LONG mx = xMask + sx, my = yMask + sy;
                if (mx < 0 || my < 0 || mx >= m->sizlBitmap.cx || my >= m->sizlBitmap.cy || m->Pixel(mx, my) == 0)
                    continue;
            }
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(out.w) + static_cast<size_t>(x);
            out.pixels[i] = img.pixels[static_cast<size_t>(sy) * static_cast<size_t>(w) + static_cast<size_t>(sx)];
            clear[i] = false;
        }
    return ThroughPolygon(dest, logical, 4, seen, [&](LONG x, LONG y, LONG w, LONG h) {
        return DrawWithHoles(dest, x, y, w, h, out, clear);
    });
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
