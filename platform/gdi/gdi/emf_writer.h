// Writing enhanced metafiles record by record: what our sample documents,
// tests and fuzz seeds are made with.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "gdi/emf.h"

namespace zq::emf {

class Writer {
public:
    // A page of `widthPx` x `heightPx` reference-device pixels at `dpi`.
    Writer(int32_t widthPx, int32_t heightPx, int32_t dpi);

    void Value(Rt type, uint32_t value);
    void Point(Rt type, POINTL p);
    void Rect(Rt type, RECTL r);
    void Plain(Rt type);
    void Poly(Rt type, std::span<const POINTL> points);          // 32-bit kinds
    void Poly16(Rt type, std::span<const POINTL> points);        // 16-bit kinds
    void PolyPoly(Rt type, std::span<const uint32_t> counts, std::span<const POINTL> points);
    void RoundRect(RECTL box, SIZEL corner);
    void Arc(Rt type, RECTL box, POINTL start, POINTL end);
    void WorldTransform(Rt type, const Xform& xf, uint32_t mode = 0);
    void CreatePen(uint32_t index, uint32_t style, int32_t width, COLORREF color);
    void ExtCreatePen(uint32_t index, uint32_t style, uint32_t width, COLORREF color,
                      std::span<const uint32_t> dashes = {});
    void CreateBrush(uint32_t index, uint32_t style, COLORREF color, uint32_t hatch = 0);
    void CreateFont(uint32_t index, const LOGFONTW& font);
    void ExtTextOutW(POINTL at, std::u16string_view text, uint32_t options = 0,
                     RECTL rect = {}, std::span<const int32_t> dx = {});
    // A 24-bit top-down bitmap of `width` x `height` pixels (0x00RRGGBB).
    void StretchDIBits(RECTL dest, int32_t width, int32_t height, std::span<const uint32_t> pixels,
                       uint32_t rop = 0x00CC0020);
    void ClipRects(uint32_t mode, std::span<const RECTL> rects);
    void Comment(std::span<const uint8_t> data);
    // Any record, given its operand bytes (after type and size).
    void Raw(uint32_t type, std::span<const uint8_t> operands);

    // Appends the end record and fixes the header's totals.
    std::vector<uint8_t> Finish();

private:
    void Begin(uint32_t type);
    void End();
    void U32(uint32_t v);
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U16(uint16_t v);
    void F32(float f);
    void R(RECTL r) { I32(r.left); I32(r.top); I32(r.right); I32(r.bottom); }
    void Pad();

    std::vector<uint8_t> out_;
    size_t start_ = 0;
    uint32_t records_ = 0;
    uint16_t handles_ = 1;
};

// A LOGFONTW with the given face, height (negative: character height) and weight.
LOGFONTW MakeLogFont(std::u16string_view face, int32_t height, int32_t weight = 400,
                     bool italic = false);

}  // namespace zq::emf
