// Engine bitmaps as PNG files, through cairo's PNG writer.
#include <cairo.h>

#include "gdi/engine.h"

namespace zq::gdi {

bool WritePng(const Surface& surface, const std::string& path) {
    if (!surface.HasBits()) return false;
    const LONG w = surface.sizlBitmap.cx, h = surface.sizlBitmap.cy;
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(img);
        return false;
    }
    cairo_surface_flush(img);
    unsigned char* data = cairo_image_surface_get_data(img);
    const int stride = cairo_image_surface_get_stride(img);
    const Palette& pal = surface.Pal();
    for (LONG y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        for (LONG x = 0; x < w; ++x) {
            COLORREF c = pal.ToRgb(surface.Pixel(x, y));
            row[x] = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
        }
    }
    cairo_surface_mark_dirty(img);
    bool ok = cairo_surface_write_to_png(img, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(img);
    return ok;
}

}  // namespace zq::gdi
