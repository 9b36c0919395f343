// What the entry points, the hook dispatch and the drawing bodies share
// inside the shared object (engine types are known here).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gdi/ddi.h"
#include "gdi/ddi_font.h"
#include "gdi/ddi_path.h"
#include "render/brush.h"
#include "render/device_record.h"

namespace pclrend {

// A record handed back by the engine: usable when its stamp is one of ours.
DeviceRecord* CheckedRecord(DHPDEV dhpdev);
DeviceRecord* RecordOfSurface(SURFOBJ* pso);

inline SURFOBJ* BandSurface(const DeviceRecord& r) { return static_cast<SURFOBJ*>(r.bandSurface); }
inline bool RasterLanguage(const DeviceRecord& r) {
    return r.language == Language::MonoRaster || r.language == Language::ColourRaster;
}

// Surfaces and banding.
HSURF EnableSurface(DeviceRecord& r);
void DisableSurface(DeviceRecord& r);
void FreeBand(DeviceRecord& r);

// Frees everything the record owns and the record itself.
void DisableWorker(DeviceRecord* r);

// A wide text in the process's ANSI code page, cut to `limit` bytes at a
// character boundary.
std::string Narrow(const WCHAR* s, size_t limit);

// The glyphs of a string with their positions (at most 65536), with the
// glyph bits the engine gives when `withBits`.
std::vector<GLYPHPOS> StringGlyphs(STROBJ* pstro, bool withBits);

// A pixel of a bitmap surface as stored: an index, or the packed bits of a
// 16, 24 or 32-bit pixel (blue in the low byte for 24 and 32 bits).
uint32_t PixelAt(const SURFOBJ* so, LONG x, LONG y);
// `n` pixels of a 16, 24 or 32-bit source row from (x, y) as red, green,
// blue bytes at `out`: pixels whose layout the colour translation passes
// as it is are copied, any other goes through it.
void SourceRgbRow(const SURFOBJ* so, XLATEOBJ* pxlo, LONG x, LONG y, LONG n, uint8_t* out);

// The PCL XL bodies of the drawing hooks.
BOOL XlFillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix, FLONG options);
BOOL XlStrokePath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, LINEATTRS* la, MIX mix);
BOOL XlBitBlt(DeviceRecord& r, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& dest,
              const RECTL* src, BRUSHOBJ* pbo, ROP4 rop4);
// The state a brush painting needs (ROP, brush, no pen, opaque paint, clip);
// the brushKey selected, kXlNoSource when nothing will be painted.
uint32_t XlBrushPaintState(DeviceRecord& r, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix);
BOOL XlTextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
               BRUSHOBJ* pboOpaque, MIX mix);
// Printer text in PCL XL: the paint state of a text run (ROP, brush, no
// pen, clip); the brushKey selected.
uint32_t XlTextPaint(DeviceRecord& r, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix);
// The points of one PCL XL path run (lines, or Béziers three points a
// curve) at whole pixels cut to the signed 16-bit range, in records of at
// most 65535 points, curves kept whole.
void XlPointRecords(DeviceRecord& r, bool bezier, const POINTFIX* p, size_t count);

// The HP-GL/2 bodies of the path hooks (PCL 5 pages).
BOOL Gl2StrokePath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, LINEATTRS* la, MIX mix);
BOOL Gl2FillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix, FLONG options);
BOOL Gl2StrokeAndFillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                          LINEATTRS* la, BRUSHOBJ* pboFill, MIX mixFill, FLONG options);
// Rectangle fills (bit-block transfers that read no source) in HP-GL/2.
bool Gl2DrawsBlt(SURFOBJ* psoMask, ROP4 rop4);
BOOL Gl2FillBlt(DeviceRecord& r, CLIPOBJ* pco, const RECTL& target, BRUSHOBJ* pbo, ROP4 rop4);
// Transfers that read a source on a PCL 5 page: the source halftoned by the
// engine into a one-bit raster of the target (at the sheet's scale when the
// page is drawn at another size), sent per clip rectangle with the logical
// operation and, for the operations that use one, the brush as pattern.
struct Gl2Transfer {
    SURFOBJ* source = nullptr;
    CLIPOBJ* clip = nullptr;
    XLATEOBJ* translation = nullptr;
    RECTL target{};  // may be reversed (a mirrored stretch)
    RECTL from{};    // the source rectangle
    BRUSHOBJ* brush = nullptr;
    POINTL halftoneOrigin{0, 0};
    uint8_t rop3 = 0xCC;
};
BOOL Gl2SourceBlt(DeviceRecord& r, const Gl2Transfer& t);
// Text as graphics on a PCL 5 page: the opaque rectangle, each glyph's
// outline as HP-GL/2 polygons filled with the foreground brush, the extra
// rectangles.
BOOL Gl2TextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, MIX mix);
// Shared by the HP-GL/2 bodies: every rectangle of a complex clip, and the
// brush record of an engine brush (a solid colour made on `solid`).
void Gl2ForEachClipRectangle(CLIPOBJ* pco, const std::function<void(const RECTL&)>& fn);
const RealizedBrush* Gl2ResolveBrush(DeviceRecord& r, BRUSHOBJ* pbo, RealizedBrush& solid);

// Device fonts: the job's summary and font state at enable (false when no
// summary can be had), the "DBCSpfm" value, the shared 256-glyph set.
bool LoadDeviceFonts(DeviceRecord& r, HANDLE printer, const zq::PrivateDevmode& dm, const std::string& driverDirectory);
std::optional<std::string> DbcsFontNames(HANDLE printer);
FD_GLYPHSET* SharedGlyphSet();

// The reset body: the new record takes the job over from the old one.
void ResetBody(DeviceRecord& from, DeviceRecord& to);

// Each record of the engine's path that holds points, in order.
template <typename Fn>
void ForEachPathRecord(PATHOBJ* ppo, Fn fn) {
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    BOOL more;
    do {
        more = PATHOBJ_bEnum(ppo, &pd);
        if (pd.count && pd.pptfx) fn(pd);
    } while (more);
}

// The outline the font gives for a glyph (its origin at 0, 0, in 1/16
// pixel), or nullptr when it gives none.
inline PATHOBJ* GlyphPath(FONTOBJ* pfo, HGLYPH hg) {
    void* pv = nullptr;
    if (!pfo || FONTOBJ_cGetGlyphs(pfo, FO_PATHOBJ, 1, &hg, &pv) != 1 || !pv) return nullptr;
    return static_cast<GLYPHDATA*>(pv)->gdf.ppo;
}

}  // namespace pclrend
