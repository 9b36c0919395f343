// The reference render: a page's display list drawn by the engine alone onto
// one unbanded bitmap, to compare a driver's output with.
#include "gdi/engine.h"

namespace zq::gdi {

Bitmap RenderPage(const DisplayList& page, SIZEL size, ULONG format, Device* ditherDevice) {
    Bitmap out(size.cx, size.cy, format);
    if (!out) return out;
    out.Get()->ditherDevice = ditherDevice;
    RECTL all{0, 0, size.cx, size.cy};
    EngEraseSurface(out.Object(), &all, out.Get()->Pal().FromRgb(RGB(255, 255, 255)));
    PlayContext ctx;
    ctx.surface = out.Object();
    ctx.band = all;
    // A one-bit device that asks for the engine's halftoning has its bands
    // stretch images with it, whatever stretch mode the DC chose.
    if (ditherDevice && format == BMF_1BPP && (ditherDevice->DevInfo().flGraphicsCaps & GCAPS_HALFTONE))
        ctx.imageStretchMode = HALFTONE;
    PlayList(page, ctx);
    out.Get()->ditherDevice = nullptr;
    return out;
}

}  // namespace zq::gdi
