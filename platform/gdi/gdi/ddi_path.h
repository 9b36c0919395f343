// Engine objects for vector drawing: paths (PATHOBJ), transforms (XFORMOBJ),
// line attributes and 28.4 fixed-point coordinates, as drivers see them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/types.h"
#include "gdi/ddi.h"

// 28.4 fixed point: 1/16 device pixel.
using FIX = LONG;
using FLONG = ULONG;
using FLOATL = float;
constexpr FIX FIX_ONE = 16;
constexpr FIX LTOFX(LONG v) { return static_cast<FIX>(static_cast<uint32_t>(v) << 4); }
// Device pixel of a FIX value: arithmetic shift, rounds toward minus infinity.
constexpr LONG FXTOL(FIX v) { return v >> 4; }
constexpr LONG FXTOLROUND(FIX v) { return (v + 8) >> 4; }

struct POINTFIX { FIX x; FIX y; };
struct RECTFX { FIX xLeft; FIX yTop; FIX xRight; FIX yBottom; };
struct POINTFL { FLOATL x; FLOATL y; };

// One enumerated record of a path.
struct PATHDATA {
    FLONG flags;
    ULONG count;
    POINTFIX* pptfx;
};
constexpr FLONG PD_BEGINSUBPATH = 0x1;
constexpr FLONG PD_ENDSUBPATH = 0x2;
constexpr FLONG PD_RESETSTYLE = 0x4;
constexpr FLONG PD_CLOSEFIGURE = 0x8;
constexpr FLONG PD_BEZIERS = 0x10;

struct PATHOBJ {
    FLONG fl;
    ULONG cCurves;
};
constexpr FLONG PO_BEZIERS = 0x1;
constexpr FLONG PO_ELLIPSE = 0x2;

union FLOAT_LONG {
    FLOATL e;
    LONG l;
};

struct LINEATTRS {
    FLONG fl;
    ULONG iJoin;
    ULONG iEndCap;
    FLOAT_LONG elWidth;
    FLOATL eMiterLimit;
    ULONG cstyle;
    FLOAT_LONG* pstyle;
    FLOAT_LONG elStyleState;
};
constexpr FLONG LA_GEOMETRIC = 0x1;
constexpr FLONG LA_ALTERNATE = 0x2;
constexpr FLONG LA_STARTGAP = 0x4;
constexpr FLONG LA_STYLED = 0x8;
constexpr ULONG JOIN_ROUND = 0;
constexpr ULONG JOIN_BEVEL = 1;
constexpr ULONG JOIN_MITER = 2;
constexpr ULONG ENDCAP_ROUND = 0;
constexpr ULONG ENDCAP_SQUARE = 1;
constexpr ULONG ENDCAP_BUTT = 2;

constexpr FLONG FP_ALTERNATEMODE = 1;
constexpr FLONG FP_WINDINGMODE = 2;

struct XFORML {
    FLOATL eM11, eM12, eM21, eM22, eDx, eDy;
};
struct XFORMOBJ {
    ULONG ulReserved;
};
constexpr ULONG GX_IDENTITY = 0;
constexpr ULONG GX_OFFSET = 1;
constexpr ULONG GX_SCALE = 2;
constexpr ULONG GX_GENERAL = 3;
constexpr ULONG XF_LTOL = 0;
constexpr ULONG XF_INV_LTOL = 1;
constexpr ULONG XF_LTOFX = 2;
constexpr ULONG XF_INV_FXTOL = 3;

extern "C" {
void PATHOBJ_vEnumStart(PATHOBJ* ppo);
BOOL PATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd);
void PATHOBJ_vGetBounds(PATHOBJ* ppo, RECTFX* prectfx);
void EngDeletePath(PATHOBJ* ppo);
ULONG XFORMOBJ_iGetXform(XFORMOBJ* pxo, XFORML* pxform);
BOOL XFORMOBJ_bApplyXform(XFORMOBJ* pxo, ULONG iMode, ULONG cPoints, PVOID pvIn, PVOID pvOut);

// Drawing fallbacks: the engine rasterises the path and paints the covered
// pixels with the brush and the mix's foreground raster operation (the low
// byte, an R2_ code from 1 to 16), inside the clip.
BOOL EngStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                   LINEATTRS* plineattrs, MIX mix);
BOOL EngFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix,
                 FLONG flOptions);
BOOL EngStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                          LINEATTRS* plineattrs, BRUSHOBJ* pboFill, POINTL* pptlBrushOrg, MIX mixFill,
                          FLONG flOptions);
}

// ROP3 of a mix's foreground R2_ code (1 R2_BLACK ... 13 R2_COPYPEN ... 16 R2_WHITE).
constexpr ULONG Rop3FromRop2(ULONG rop2) {
    ULONG table = (rop2 - 1) & 0xF;  // bit (P * 2 + D) of the binary operation
    ULONG rop3 = 0;
    for (ULONG i = 0; i < 8; ++i) {
        ULONG p = i >> 2, d = i & 1;
        if (table & (1u << (p * 2 + d))) rop3 |= 1u << i;
    }
    return rop3;
}
static_assert(Rop3FromRop2(13) == 0xF0 && Rop3FromRop2(11) == 0xAA && Rop3FromRop2(7) == 0x5A);
static_assert(Rop3FromRop2(1) == 0x00 && Rop3FromRop2(16) == 0xFF && Rop3FromRop2(2) == 0x05);

namespace zq::gdi {

// A path built by the engine (from the DC's path calls, a clip region or a
// glyph outline), enumerated by drivers through PATHOBJ.
class Path : public PATHOBJ {
public:
    Path() : PATHOBJ{0, 0} {}
    void MoveTo(POINTFIX p);
    void LineTo(POINTFIX p);
    // One cubic Bézier from the current point through c1, c2 to end.
    void BezierTo(POINTFIX c1, POINTFIX c2, POINTFIX end);
    void CloseFigure();
    void AddRect(RECTFX r);
    // An ellipse in the box as four Béziers (closed).
    void AddEllipse(RECTFX box);
    bool Empty() const { return figures_.empty(); }

    struct Segment { bool bezier; std::vector<POINTFIX> points; };  // 1 point per line, 3 per curve
    struct Figure {
        POINTFIX start;
        std::vector<Segment> runs;  // consecutive segments of one kind
        bool closed = false;
    };
    const std::vector<Figure>& Figures() const { return figures_; }
    // The path with every Bézier replaced by line segments.
    Path Flattened() const;
    RECTFX Bounds() const;
    // Largest record the enumeration hands out, in points: keeps drivers'
    // 16-bit point counters safe on long paths.
    static constexpr size_t kMaxRecordPoints = 4095;

    void EnumStart();
    bool Enum(PATHDATA* pd);

private:
    Figure& Current();
    std::vector<Figure> figures_;
    bool open_ = false;
    POINTFIX current_{0, 0};
    // Enumeration cursor.
    size_t fig_ = 0, run_ = 0, offset_ = 0;
    std::vector<POINTFIX> buffer_;
};

// A transform from world (notional) space to device space, as drivers see it.
class Xform : public XFORMOBJ {
public:
    Xform() : XFORMOBJ{0} {}
    explicit Xform(const XFORML& m) : XFORMOBJ{0}, m_(m) {}
    const XFORML& Matrix() const { return m_; }
    ULONG Kind() const;
    std::optional<XFORML> Inverse() const;
    POINTFL Apply(POINTFL p) const;

private:
    XFORML m_{1, 0, 0, 1, 0, 0};
};

XFORML Multiply(const XFORML& a, const XFORML& b);  // a then b

}  // namespace zq::gdi
