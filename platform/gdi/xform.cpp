// Transforms of the engine as drivers see them (XFORMOBJ).
#include <cmath>

#include "gdi/ddi_path.h"

namespace zq::gdi {

ULONG Xform::Kind() const {
    bool linearIdentity = m_.eM11 == 1 && m_.eM22 == 1 && m_.eM12 == 0 && m_.eM21 == 0;
    if (linearIdentity) return (m_.eDx == 0 && m_.eDy == 0) ? GX_IDENTITY : GX_OFFSET;
    if (m_.eM12 == 0 && m_.eM21 == 0) return GX_SCALE;
    return GX_GENERAL;
}

std::optional<XFORML> Xform::Inverse() const {
    double det = double{m_.eM11} * m_.eM22 - double{m_.eM12} * m_.eM21;
    if (det == 0 || !std::isfinite(det)) return std::nullopt;
    XFORML r;
    r.eM11 = static_cast<FLOATL>(m_.eM22 / det);
    r.eM12 = static_cast<FLOATL>(-m_.eM12 / det);
    r.eM21 = static_cast<FLOATL>(-m_.eM21 / det);
    r.eM22 = static_cast<FLOATL>(m_.eM11 / det);
    r.eDx = -(m_.eDx * r.eM11 + m_.eDy * r.eM21);
    r.eDy = -(m_.eDx * r.eM12 + m_.eDy * r.eM22);
    return r;
}

POINTFL Xform::Apply(POINTFL p) const {
    return {p.x * m_.eM11 + p.y * m_.eM21 + m_.eDx, p.x * m_.eM12 + p.y * m_.eM22 + m_.eDy};
}

XFORML Multiply(const XFORML& a, const XFORML& b) {
    return {a.eM11 * b.eM11 + a.eM12 * b.eM21, a.eM11 * b.eM12 + a.eM12 * b.eM22,
            a.eM21 * b.eM11 + a.eM22 * b.eM21, a.eM21 * b.eM12 + a.eM22 * b.eM22,
            a.eDx * b.eM11 + a.eDy * b.eM21 + b.eDx, a.eDx * b.eM12 + a.eDy * b.eM22 + b.eDy};
}

}  // namespace zq::gdi

using zq::gdi::Xform;

extern "C" ULONG XFORMOBJ_iGetXform(XFORMOBJ* pxo, XFORML* pxform) {
    if (!pxo) return GX_IDENTITY;
    auto* x = static_cast<Xform*>(pxo);
    if (pxform) *pxform = x->Matrix();
    return x->Kind();
}

// Applies the transform to points: LONG to LONG (rounded), LONG to FIX, or
// their inverses. A singular transform cannot be inverted: FALSE.
extern "C" BOOL XFORMOBJ_bApplyXform(XFORMOBJ* pxo, ULONG iMode, ULONG cPoints, PVOID pvIn, PVOID pvOut) {
    if (!pxo || (cPoints && (!pvIn || !pvOut)) || iMode > XF_INV_FXTOL) return FALSE;
    auto* x = static_cast<Xform*>(pxo);
    Xform use = *x;
    if (iMode == XF_INV_LTOL || iMode == XF_INV_FXTOL) {
        auto inv = x->Inverse();
        if (!inv) return FALSE;
        use = Xform(*inv);
    }
    const auto* in = static_cast<const POINTL*>(pvIn);
    auto* out = static_cast<POINTL*>(pvOut);
    for (ULONG i = 0; i < cPoints; ++i) {
        POINTFL p{static_cast<FLOATL>(in[i].x), static_cast<FLOATL>(in[i].y)};
        if (iMode == XF_INV_FXTOL) p = {p.x / 16, p.y / 16};
        POINTFL q = use.Apply(p);
        double scale = iMode == XF_LTOFX ? 16.0 : 1.0;
        double qx = std::nearbyint(q.x * scale), qy = std::nearbyint(q.y * scale);
        if (!(std::fabs(qx) < 2e9 && std::fabs(qy) < 2e9)) return FALSE;
        out[i] = {static_cast<LONG>(qx), static_cast<LONG>(qy)};
    }
    return TRUE;
}
