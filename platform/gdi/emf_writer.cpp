// Writing enhanced metafiles record by record.
#include "gdi/emf_writer.h"

#include <algorithm>
#include <cstring>

namespace zq::emf {

Writer::Writer(int32_t widthPx, int32_t heightPx, int32_t dpi) {
    Begin(static_cast<uint32_t>(Rt::Header));
    R({0, 0, widthPx - 1, heightPx - 1});
    // Frame in 0.01 mm.
    auto hmm = [&](int32_t px) { return static_cast<int32_t>(int64_t{px} * 2540 / dpi); };
    R({0, 0, hmm(widthPx) - 1, hmm(heightPx) - 1});
    U32(kEmfSignature);
    U32(0x10000);
    U32(0);  // nBytes, fixed by Finish
    U32(0);  // nRecords
    U16(0);  // nHandles
    U16(0);
    U32(0);  // no description
    U32(0);
    U32(0);  // palette entries
    I32(widthPx);
    I32(heightPx);
    I32(static_cast<int32_t>(int64_t{widthPx} * 254 / (dpi * 10)));
    I32(static_cast<int32_t>(int64_t{heightPx} * 254 / (dpi * 10)));
    End();
}

void Writer::Begin(uint32_t type) {
    start_ = out_.size();
    U32(type);
    U32(0);
}

void Writer::End() {
    Pad();
    uint32_t size = static_cast<uint32_t>(out_.size() - start_);
    std::memcpy(out_.data() + start_ + 4, &size, 4);
    ++records_;
}

void Writer::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Writer::U16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
}
void Writer::F32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    U32(u);
}
void Writer::Pad() {
    while ((out_.size() - start_) % 4) out_.push_back(0);
}

void Writer::Value(Rt type, uint32_t value) {
    Begin(static_cast<uint32_t>(type));
    U32(value);
    End();
}
void Writer::Point(Rt type, POINTL p) {
    Begin(static_cast<uint32_t>(type));
    I32(p.x);
    I32(p.y);
    End();
}
void Writer::Rect(Rt type, RECTL r) {
    Begin(static_cast<uint32_t>(type));
    R(r);
    End();
}
void Writer::Plain(Rt type) {
    Begin(static_cast<uint32_t>(type));
    End();
}

static RECTL BoundsOf(std::span<const POINTL> pts) {
    if (pts.empty()) return {0, 0, -1, -1};
    RECTL b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    for (auto& p : pts) {
        b.left = std::min(b.left, p.x);
        b.top = std::min(b.top, p.y);
        b.right = std::max(b.right, p.x);
        b.bottom = std::max(b.bottom, p.y);
    }
    return b;
}

void Writer::Poly(Rt type, std::span<const POINTL> points) {
    Begin(static_cast<uint32_t>(type));
    R(BoundsOf(points));
    U32(static_cast<uint32_t>(points.size()));
    for (auto& p : points) {
        I32(p.x);
        I32(p.y);
    }
    End();
}
void Writer::Poly16(Rt type, std::span<const POINTL> points) {
    Begin(static_cast<uint32_t>(type));
    R(BoundsOf(points));
    U32(static_cast<uint32_t>(points.size()));
    for (auto& p : points) {
        U16(static_cast<uint16_t>(p.x));
        U16(static_cast<uint16_t>(p.y));
    }
    End();
}
void Writer::PolyPoly(Rt type, std::span<const uint32_t> counts, std::span<const POINTL> points) {
    Begin(static_cast<uint32_t>(type));
    R(BoundsOf(points));
    U32(static_cast<uint32_t>(counts.size()));
    U32(static_cast<uint32_t>(points.size()));
    for (auto c : counts) U32(c);
    for (auto& p : points) {
        I32(p.x);
        I32(p.y);
    }
    End();
}
void Writer::RoundRect(RECTL box, SIZEL corner) {
    Begin(static_cast<uint32_t>(Rt::RoundRect));
    R(box);
    I32(corner.cx);
    I32(corner.cy);
    End();
}
void Writer::Arc(Rt type, RECTL box, POINTL start, POINTL end) {
    Begin(static_cast<uint32_t>(type));
    R(box);
    I32(start.x); I32(start.y); I32(end.x); I32(end.y);
    End();
}
void Writer::WorldTransform(Rt type, const Xform& xf, uint32_t mode) {
    Begin(static_cast<uint32_t>(type));
    F32(xf.eM11); F32(xf.eM12); F32(xf.eM21); F32(xf.eM22); F32(xf.eDx); F32(xf.eDy);
    if (type == Rt::ModifyWorldTransform) U32(mode);
    End();
}
void Writer::CreatePen(uint32_t index, uint32_t style, int32_t width, COLORREF color) {
    Begin(static_cast<uint32_t>(Rt::CreatePen));
    U32(index); U32(style); I32(width); I32(0); U32(color);
    End();
    handles_ = std::max<uint16_t>(handles_, static_cast<uint16_t>(index + 1));
}
void Writer::ExtCreatePen(uint32_t index, uint32_t style, uint32_t width, COLORREF color,
                          std::span<const uint32_t> dashes) {
    Begin(static_cast<uint32_t>(Rt::ExtCreatePen));
    U32(index); U32(0); U32(0); U32(0); U32(0);
    U32(style); U32(width); U32(0 /* BS_SOLID */); U32(color); U32(0);
    U32(static_cast<uint32_t>(dashes.size()));
    for (auto d : dashes) U32(d);
    End();
    handles_ = std::max<uint16_t>(handles_, static_cast<uint16_t>(index + 1));
}
void Writer::CreateBrush(uint32_t index, uint32_t style, COLORREF color, uint32_t hatch) {
    Begin(static_cast<uint32_t>(Rt::CreateBrushIndirect));
    U32(index); U32(style); U32(color); U32(hatch);
    End();
    handles_ = std::max<uint16_t>(handles_, static_cast<uint16_t>(index + 1));
}
void Writer::CreateFont(uint32_t index, const LOGFONTW& font) {
    Begin(static_cast<uint32_t>(Rt::ExtCreateFontIndirectW));
    U32(index);
    const auto* b = reinterpret_cast<const uint8_t*>(&font);
    out_.insert(out_.end(), b, b + sizeof font);
    // The extended part of the record (full name, style, script): left empty.
    out_.insert(out_.end(), 332 - sizeof font, 0);
    End();
    handles_ = std::max<uint16_t>(handles_, static_cast<uint16_t>(index + 1));
}
void Writer::ExtTextOutW(POINTL at, std::u16string_view text, uint32_t options, RECTL rect,
                         std::span<const int32_t> dx) {
    Begin(static_cast<uint32_t>(Rt::ExtTextOutW));
    R({0, 0, -1, -1});
    U32(1);  // GM_COMPATIBLE
    F32(0); F32(0);
    I32(at.x); I32(at.y);
    U32(static_cast<uint32_t>(text.size()));
    uint32_t offString = 76;
    uint32_t textBytes = static_cast<uint32_t>((text.size() * 2 + 3) / 4 * 4);
    U32(offString);
    U32(options);
    R(rect);
    U32(dx.empty() ? 0 : offString + textBytes);
    for (char16_t c : text) U16(static_cast<uint16_t>(c));
    Pad();
    for (auto d : dx) I32(d);
    End();
}
void Writer::StretchDIBits(RECTL dest, int32_t width, int32_t height,
                           std::span<const uint32_t> pixels, uint32_t rop) {
    Begin(static_cast<uint32_t>(Rt::StretchDIBits));
    R(dest);
    I32(dest.left); I32(dest.top); I32(0); I32(0); I32(width); I32(height);
    uint32_t stride = static_cast<uint32_t>((width * 3 + 3) / 4 * 4);
    U32(80); U32(40); U32(120); U32(stride * static_cast<uint32_t>(height));
    U32(0 /* DIB_RGB_COLORS */); U32(rop);
    I32(dest.right - dest.left); I32(dest.bottom - dest.top);
    // BITMAPINFOHEADER, top-down rows.
    U32(40); I32(width); I32(-height); U16(1); U16(24); U32(0);
    U32(stride * static_cast<uint32_t>(height)); I32(3780); I32(3780); U32(0); U32(0);
    for (int32_t y = 0; y < height; ++y) {
        size_t rowStart = out_.size();
        for (int32_t x = 0; x < width; ++x) {
            uint32_t c = pixels[static_cast<size_t>(y) * width + x];
            out_.push_back(static_cast<uint8_t>(c));
            out_.push_back(static_cast<uint8_t>(c >> 8));
            out_.push_back(static_cast<uint8_t>(c >> 16));
        }
        while (out_.size() - rowStart < stride) out_.push_back(0);
    }
    End();
}
void Writer::ClipRects(uint32_t mode, std::span<const RECTL> rects) {
    Begin(static_cast<uint32_t>(Rt::ExtSelectClipRgn));
    uint32_t cb = rects.empty() && mode == 5 /* RGN_COPY */ ? 0 : 32 + 16 * static_cast<uint32_t>(rects.size());
    U32(cb);
    U32(mode);
    if (cb) {
        RECTL b = rects.empty() ? RECTL{0, 0, 0, 0} : rects[0];
        for (auto& r : rects) {
            b.left = std::min(b.left, r.left); b.top = std::min(b.top, r.top);
            b.right = std::max(b.right, r.right); b.bottom = std::max(b.bottom, r.bottom);
        }
        U32(32); U32(1 /* RDH_RECTANGLES */); U32(static_cast<uint32_t>(rects.size()));
        U32(16 * static_cast<uint32_t>(rects.size()));
        R(b);
        for (auto& r : rects) R(r);
    }
    End();
}
void Writer::Comment(std::span<const uint8_t> data) {
    Begin(static_cast<uint32_t>(Rt::GdiComment));
    U32(static_cast<uint32_t>(data.size()));
    out_.insert(out_.end(), data.begin(), data.end());
    End();
}
void Writer::Raw(uint32_t type, std::span<const uint8_t> operands) {
    Begin(type);
    out_.insert(out_.end(), operands.begin(), operands.end());
    End();
}

std::vector<uint8_t> Writer::Finish() {
    Begin(static_cast<uint32_t>(Rt::Eof));
    U32(0); U32(16); U32(20);
    End();
    uint32_t bytes = static_cast<uint32_t>(out_.size());
    std::memcpy(out_.data() + 48, &bytes, 4);
    std::memcpy(out_.data() + 52, &records_, 4);
    std::memcpy(out_.data() + 56, &handles_, 2);
    return std::move(out_);
}

LOGFONTW MakeLogFont(std::u16string_view face, int32_t height, int32_t weight, bool italic) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 1 : 0;
    lf.lfCharSet = 1;  // DEFAULT_CHARSET
    lf.lfOutPrecision = 4;  // OUT_TT_PRECIS
    for (size_t i = 0; i < face.size() && i + 1 < LF_FACESIZE; ++i) lf.lfFaceName[i] = face[i];
    return lf;
}

}  // namespace zq::emf
