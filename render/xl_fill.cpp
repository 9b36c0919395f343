#include "render/xl_fill.h"

#include <algorithm>
#include <functional>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/halftone.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/rect_outline.h"
#include "render/rounding.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint32_t kPatternCache = 0x10000;  // cache value of pattern i: kPatternCache + its identifier
constexpr uint16_t kPatternSide = 32;

// The identifier of the pattern `key` names on this page, or 0 when the
// page does not hold it yet (then it is noted, and `fresh` is set).
int16_t PatternId(DeviceRecord& r, std::vector<uint8_t> key, bool& fresh) {
    auto& known = r.xl.pagePatterns;
    const auto it = std::find(known.begin(), known.end(), key);
    fresh = it == known.end();
    if (!fresh) return static_cast<int16_t>(it - known.begin() + 1);
    known.push_back(std::move(key));
    return static_cast<int16_t>(known.size());
}

// BeginRastPattern, one ReadRastPattern of all rows (padded to 32 bits) and
// EndRastPattern, in the colour space in force.
void SendPattern(DeviceRecord& r, int16_t id, ColorMapping mapping, ColorDepth depth, uint16_t width, uint16_t height,
                 std::span<const uint8_t> rows) {
    XlAttrEnum(r, Attr::ColorMapping, mapping);
    XlAttrEnum(r, Attr::ColorDepth, depth);
    XlAttrUInt16(r, Attr::SourceWidth, width);
    XlAttrUInt16(r, Attr::SourceHeight, height);
    // Brushes repeat in device pixels, as the engine paints them: on a page
    // scaled into its cell the pattern's size in page units undoes the scale.
    auto side = [&](uint16_t n, uint16_t page, uint16_t drawn) {
        if (!PageIsMapped(r) || page == 0 || drawn == 0) return n;
        return static_cast<uint16_t>(std::clamp<long>(std::lround(double(n) * page / drawn), 1, 0x7FFF));
    };
    XlAttrUInt16XY(r, Attr::DestinationSize, side(width, r.PageWidth(), r.drawnWidth),
                   side(height, r.PageHeight(), r.drawnHeight));
    XlAttrSInt16(r, Attr::PatternDefineID, id);
    XlAttrEnum(r, Attr::PatternPersistence, PatternPersistence::Page);
    XlOperator(r, Op::BeginRastPattern);
    XlAttrUInt16(r, Attr::StartLine, 0);
    XlAttrUInt16(r, Attr::BlockHeight, height);
    XlAttrEnum(r, Attr::CompressMode, CompressMode::None);
    XlOperator(r, Op::ReadRastPattern);
    XlDataLength(r, static_cast<uint32_t>(rows.size()));
    SpoolWrite(r, rows.data(), static_cast<int32_t>(rows.size()));
    XlOperator(r, Op::EndRastPattern);
}

// The 32 x 32 one-bit pattern's identifier on this page, defining it first
// when the page does not hold it yet.
int16_t DefinePattern(DeviceRecord& r, const uint8_t (&bits)[128]) {
    bool fresh = false;
    const int16_t id = PatternId(r, std::vector<uint8_t>(bits, bits + 128), fresh);
    if (!fresh) return id;
    XlPlainGrey(r);  // the pattern takes the colour space in force
    SendPattern(r, id, ColorMapping::Direct, ColorDepth::Bit1, kPatternSide, kPatternSide, bits);
    return id;
}

// What tells one bitmap-kept brush from another: size, format, bits, palette.
std::vector<uint8_t> KeptKey(const RealizedBrush& b) {
    const auto* base = reinterpret_cast<const uint8_t*>(&b);
    const uint8_t* bits = base + kKeptBitsOffset;
    std::vector<uint8_t> key(12);
    std::memcpy(key.data(), &b.width, 4);
    std::memcpy(key.data() + 4, &b.height, 4);
    std::memcpy(key.data() + 8, &b.format, 4);
    key.insert(key.end(), bits, bits + KeptRowSize(b.width, b.format) * b.height);
    key.insert(key.end(), base + b.paletteOffset, base + b.paletteOffset + 4 * size_t{b.paletteCount});
    return key;
}

// Colour sources are cached as this bit with their colour (red low).
constexpr uint32_t kColourCache = 0x1000000;

}  // namespace

void XlSetRgbPalette(DeviceRecord& r, std::span<const uint32_t> entries, size_t count) {
    std::vector<uint32_t> palette(count, 0);
    for (size_t i = 0; i < count && i < entries.size(); ++i) palette[i] = entries[i] & 0xFFFFFF;
    if (r.xl.colour.space == static_cast<uint8_t>(ColorSpace::Rgb) && r.xl.colour.palette == palette) return;
    XlAttrEnum(r, Attr::ColorSpace, ColorSpace::Rgb);
    if (!palette.empty()) {
        XlAttrEnum(r, Attr::PaletteDepth, ColorDepth::Bit8);
        XlAttrRgbArray(r, Attr::PaletteData, palette);
    }
    XlOperator(r, Op::SetColorSpace);
    r.xl.colour = {static_cast<uint8_t>(ColorSpace::Rgb), std::move(palette)};
}

namespace {

// A one-bit 32 x 32 pattern (1 = the second colour) in two colours, as an
// indexed colour raster pattern; its identifier on this page.
int16_t DefineTwoColourPattern(DeviceRecord& r, const uint8_t (&bits)[128], uint32_t zero, uint32_t one) {
    std::vector<uint8_t> key(bits, bits + 128);
    for (uint32_t c : {zero, one})
        for (int i = 0; i < 3; ++i) key.push_back(static_cast<uint8_t>(c >> (8 * i)));
    key.push_back('C');  // never equal to a grey pattern's key
    bool fresh = false;
    const int16_t id = PatternId(r, std::move(key), fresh);
    if (!fresh) return id;
    const uint32_t colours[2] = {zero, one};
    XlSetRgbPalette(r, colours, 2);
    SendPattern(r, id, ColorMapping::Indexed, ColorDepth::Bit1, kPatternSide, kPatternSide, bits);
    return id;
}

// A bitmap-kept brush's identifier on this page, defining it first: indexed
// bits through their palette; deeper ones as grey, or on a colour page as
// red, green, blue per pixel.
int16_t DefineKeptPattern(DeviceRecord& r, const RealizedBrush& b, bool colour) {
    const auto* base = reinterpret_cast<const uint8_t*>(&b);
    const size_t rowSize = KeptRowSize(b.width, b.format);
    const uint8_t* bits = base + kKeptBitsOffset;
    const auto* palette = reinterpret_cast<const uint32_t*>(base + b.paletteOffset);
    std::vector<uint8_t> key = KeptKey(b);
    if (colour) key.push_back('C');  // never equal to the grey pattern's key
    bool fresh = false;
    const int16_t id = PatternId(r, std::move(key), fresh);
    if (!fresh) return id;
    const auto w = static_cast<uint16_t>(b.width), h = static_cast<uint16_t>(b.height);
    if (b.format != 24) {
        if (colour) {
            XlSetRgbPalette(r, std::span(palette, b.paletteCount), size_t{1} << b.format);
        } else {
            XlSetPalette(r, std::span(palette, b.paletteCount), size_t{1} << b.format);
        }
        const ColorDepth depth = b.format == 1 ? ColorDepth::Bit1 : b.format == 4 ? ColorDepth::Bit4 : ColorDepth::Bit8;
        SendPattern(r, id, ColorMapping::Indexed, depth, w, h, std::span(bits, rowSize * b.height));
        return id;
    }
    const size_t depth = colour ? 3 : 1;
    const size_t outRow = (static_cast<size_t>(w) * depth + 3) / 4 * 4;
    std::vector<uint8_t> out(outRow * h, 0);
    if (colour) {
        XlSetRgbPalette(r, {}, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) std::memcpy(&out[y * outRow + 3 * x], bits + y * rowSize + 4 * x, 3);
    } else {
        XlPlainGrey(r);
        const uint8_t* curve = ToneCurve(r.darknessLevel);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = bits + y * rowSize + 4 * x;
                out[y * outRow + x] = curve[GreyOf(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16))];
            }
    }
    SendPattern(r, id, ColorMapping::Direct, ColorDepth::Bit8, w, h, out);
    return id;
}

}  // namespace

uint32_t XlSelectColourFill(DeviceRecord& r, const RealizedBrush* brush, XlRole role) {
    uint32_t& cache = role == XlRole::Brush ? r.xl.brush : r.xl.pen;
    const Op op = role == XlRole::Brush ? Op::SetBrushSource : Op::SetPenSource;
    const uint32_t key = brush ? brush->brushKey : kXlNoSource;
    auto rgb = [](const uint8_t (&c)[3]) { return static_cast<uint32_t>(c[0] | c[1] << 8 | c[2] << 16); };
    if (key < 256) {
        const uint32_t wanted = kColourCache | rgb(brush->colour);
        if (cache == wanted) return key;
        XlSetRgbPalette(r, {}, 0);
        XlAttrUByteArray(r, Attr::RGBColor, brush->colour);
        XlOperator(r, op);
        cache = wanted;
        return key;
    }
    if (key < 0x300) {
        int16_t id;
        if (key == 256 && brush->format) {
            id = DefineKeptPattern(r, *brush, true);
        } else if (key >= 512) {
            // The hatch's lines in the brush colour over its background.
            uint8_t bits[128];
            HatchPattern(key - 512, bits);
            id = DefineTwoColourPattern(r, bits, rgb(brush->colour), rgb(brush->backColour));
        } else {
            id = DefineTwoColourPattern(r, brush->pattern, 0, 0xFFFFFF);
        }
        const uint32_t wanted = kPatternCache + static_cast<uint32_t>(id);
        if (cache != wanted) {
            XlAttrSInt16(r, Attr::PatternSelectID, id);
            XlOperator(r, op);
            cache = wanted;
        }
        return 256;
    }
    return XlSelectMonoFill(r, nullptr, role);
}

void XlSetRop(DeviceRecord& r, uint8_t rop3) {
    if (r.xl.rop == rop3) return;
    XlAttrUByte(r, Attr::ROP3, rop3);
    XlOperator(r, Op::SetROP);
    r.xl.rop = rop3;
}

void XlPlainGrey(DeviceRecord& r) {
    if (r.xl.colour.space == static_cast<uint8_t>(ColorSpace::Gray) && r.xl.colour.palette.empty()) return;
    XlAttrEnum(r, Attr::ColorSpace, ColorSpace::Gray);
    XlOperator(r, Op::SetColorSpace);
    r.xl.colour = {static_cast<uint8_t>(ColorSpace::Gray), {}};
}

void XlSetPalette(DeviceRecord& r, std::span<const uint32_t> entries, size_t count) {
    std::vector<uint32_t> palette(count, 0);
    for (size_t i = 0; i < count && i < entries.size(); ++i) palette[i] = entries[i] & 0xFFFFFF;
    if (r.xl.colour.space == static_cast<uint8_t>(ColorSpace::Gray) && r.xl.colour.palette == palette) return;
    XlAttrEnum(r, Attr::ColorSpace, ColorSpace::Gray);
    XlAttrEnum(r, Attr::PaletteDepth, ColorDepth::Bit8);
    XlAttrGreyArray(r, Attr::PaletteData, palette);
    XlOperator(r, Op::SetColorSpace);
    r.xl.colour = {static_cast<uint8_t>(ColorSpace::Gray), std::move(palette)};
}

void CopyRowBits(const uint8_t* row, size_t rowBytes, size_t offset, size_t bits, uint8_t* out) {
    const size_t first = offset / 8, shift = offset % 8, n = (bits + 7) / 8;
    if (n == 0) return;
    auto at = [&](size_t i) -> unsigned { return i < rowBytes ? row[i] : 0u; };
    // Output bytes whose source bytes all lie inside the row go in bulk;
    // the rest read what lies past the row's end as 0.
    const size_t avail = first < rowBytes ? rowBytes - first : 0;
    size_t i = 0;
    if (!shift) {
        i = std::min(n, avail);
        if (i) std::memcpy(out, row + first, i);
    } else {
        const size_t inside = avail ? std::min(n, avail - 1) : 0;
        const uint8_t* s = avail ? row + first : row;
        for (; i < inside; ++i) out[i] = static_cast<uint8_t>((s[i] << shift) | (s[i + 1] >> (8 - shift)));
    }
    for (; i < n; ++i) {
        const unsigned v = shift ? (at(first + i) << shift) | (at(first + i + 1) >> (8 - shift)) : at(first + i);
        out[i] = static_cast<uint8_t>(v);
    }
    if (bits % 8) out[n - 1] &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
}

namespace {

// A side of an outline as relative points of at most `limit` each way: as
// many equal pieces as the longer way needs, their ends rounded onto whole
// units (a side along an axis stays on it).
template <typename Put>
void SidePieces(LONG dx, LONG dy, LONG limit, Put put) {
    const LONG longer = std::max(std::abs(dx), std::abs(dy));
    if (longer <= limit) {  // one piece, the side itself (most sides of glyphs and rectangles), or none
        if (longer) put(dx, dy);
        return;
    }
    const LONG pieces = (longer + limit - 1) / limit;
    LONG x = 0, y = 0;
    for (LONG i = 1; i <= pieces; ++i) {
        const auto at = [&](LONG d) { return static_cast<LONG>(RoundHalfAway(static_cast<double>(d) * i / pieces)); };
        const LONG nx = at(dx), ny = at(dy);
        put(nx - x, ny - y);
        x = nx, y = ny;
    }
}

}  // namespace

void XlOutlineSides(std::span<const POINTL> corners, std::vector<uint8_t>& out) {
    constexpr LONG kSafe = 32767;
    if (corners.size() < 2) return;
    const auto corner = [&](size_t k) {
        return POINTL{std::clamp(corners[k].x, -kSafe, kSafe), std::clamp(corners[k].y, -kSafe, kSafe)};
    };
    const POINTL first = corner(0);
    // Signed bytes unless 16-bit points are shorter (long sides).
    size_t bytePoints = 0, wordPoints = 0;
    POINTL prev = first;
    for (size_t k = 1; k < corners.size(); ++k) {
        const POINTL next = corner(k);
        const LONG d = std::max(std::abs(next.x - prev.x), std::abs(next.y - prev.y));
        bytePoints += static_cast<size_t>((d + 126) / 127);
        wordPoints += static_cast<size_t>((d + kSafe - 1) / kSafe);
        prev = next;
    }
    const bool bytes = 2 * bytePoints <= 4 * wordPoints;
    const size_t width = bytes ? 2 : 4;
    std::vector<uint8_t> data(width * (bytes ? bytePoints : wordPoints));
    uint8_t* at = data.data();
    prev = first;
    for (size_t k = 1; k < corners.size(); ++k) {
        const POINTL next = corner(k);
        SidePieces(next.x - prev.x, next.y - prev.y, bytes ? 127 : kSafe, [&](LONG x, LONG y) {
            if (bytes) {
                *at++ = static_cast<uint8_t>(static_cast<int8_t>(x));
                *at++ = static_cast<uint8_t>(static_cast<int8_t>(y));
                return;
            }
            for (LONG v : {x, y}) {
                *at++ = static_cast<uint8_t>(v);
                *at++ = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
            }
        });
        prev = next;
    }
    // A point count is 16 bits wide: a longer outline goes on in further
    // records from where the last one ended. Each record: NumberOfPoints
    // (a ubyte or uint16 attribute), PointType, LineRelPath, its data length
    // (a byte, or four) and the points.
    const auto put = [&](std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); };
    const auto u8 = [](auto v) { return static_cast<uint8_t>(v); };
    constexpr size_t kMaxPoints = 0xFFFF;
    for (size_t done = 0; done < data.size();) {
        const size_t n = std::min(kMaxPoints, (data.size() - done) / width), length = n * width;
        if (n <= 0xFF) put({u8(Tag::UByte), u8(n), u8(Tag::AttrUByte), u8(Attr::NumberOfPoints)});
        else put({u8(Tag::UInt16), u8(n), u8(n >> 8), u8(Tag::AttrUByte), u8(Attr::NumberOfPoints)});
        put({u8(Tag::UByte), u8(bytes ? PointType::SByte : PointType::SInt16), u8(Tag::AttrUByte), u8(Attr::PointType)});
        put({u8(Op::LineRelPath)});
        if (length <= 0xFF) put({u8(Tag::DataLengthByte), u8(length)});
        else put({u8(Tag::DataLength), u8(length), u8(length >> 8), u8(length >> 16), u8(length >> 24)});
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                   data.begin() + static_cast<std::ptrdiff_t>(done + length));
        done += length;
    }
    put({u8(Op::CloseSubPath)});
}

void XlClosedOutline(DeviceRecord& r, std::span<const POINTL> corners) {
    constexpr LONG kSafe = 32767;
    if (corners.size() < 2) return;
    std::vector<uint8_t> sides;
    XlOutlineSides(corners, sides);
    XlOutlineFrom(r, {std::clamp(corners[0].x, -kSafe, kSafe), std::clamp(corners[0].y, -kSafe, kSafe)}, sides);
}

void XlOutlineFrom(DeviceRecord& r, POINTL first, std::span<const uint8_t> sides) {
    XlAttrSInt16XY(r, Attr::Point, static_cast<int16_t>(first.x), static_cast<int16_t>(first.y));
    XlOperator(r, Op::SetCursor);
    SpoolWrite(r, sides.data(), static_cast<int32_t>(sides.size()));
}

void XlRectanglesPath(DeviceRecord& r, std::span<const RECTL> rects) {
    constexpr LONG kSafe = 32767;
    std::vector<RECTL> cut(rects.begin(), rects.end());
    for (RECTL& q : cut) {
        q.left = std::clamp(q.left, -kSafe, kSafe), q.right = std::clamp(q.right, -kSafe, kSafe);
        q.top = std::clamp(q.top, -kSafe, kSafe), q.bottom = std::clamp(q.bottom, -kSafe, kSafe);
    }
    for (const auto& c : OutlineOfRectangles(cut)) XlRectilinearOutline(r, c);
}

void XlRectilinearOutline(DeviceRecord& r, std::span<const POINTL> corners) {
    if (corners.size() != 4) {
        XlClosedOutline(r, corners);
        return;
    }
    const auto& c = corners;
    const auto [x0, x1] = std::minmax({c[0].x, c[1].x, c[2].x});
    const auto [y0, y1] = std::minmax({c[0].y, c[1].y, c[2].y});
    XlAttrSInt16Box(r, Attr::BoundingBox, static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1),
                    static_cast<int16_t>(y1));
    XlOperator(r, Op::RectanglePath);
}

void ForEachGlyphInkRectangle(const GLYPHPOS& pos, const std::function<void(const RECTL&)>& out) {
    const GLYPHBITS* gb = pos.pgdf ? pos.pgdf->pgb : nullptr;
    if (!gb) return;
    struct Run {
        LONG left, right, top;
    };
    std::vector<Run> open, next;
    const LONG stride = (gb->sizlBitmap.cx + 7) / 8;
    const LONG ox = pos.ptl.x + gb->ptlOrigin.x, oy = pos.ptl.y + gb->ptlOrigin.y;
    auto close = [&](const Run& run, LONG bottom) { out(RECTL{ox + run.left, oy + run.top, ox + run.right, oy + bottom}); };
    for (LONG y = 0; y <= gb->sizlBitmap.cy; ++y) {
        next.clear();
        size_t o = 0;  // runs of the row above, in order, left to right
        if (y < gb->sizlBitmap.cy) {
            const BYTE* row = gb->aj + y * stride;
            for (LONG x = 0; x < gb->sizlBitmap.cx;) {
                if (!((row[x / 8] >> (7 - x % 8)) & 1)) {
                    ++x;
                    continue;
                }
                LONG end = x;
                while (end < gb->sizlBitmap.cx && ((row[end / 8] >> (7 - end % 8)) & 1)) ++end;
                while (o < open.size() && open[o].left < x) close(open[o++], y);
                if (o < open.size() && open[o].left == x && open[o].right == end) next.push_back(open[o++]);
                else next.push_back({x, end, y});
                x = end;
            }
        }
        while (o < open.size()) close(open[o++], y);
        std::swap(open, next);
    }
}

void HatchPattern(uint32_t style, uint8_t (&bits)[128]) {
    std::memset(bits, 0xFF, sizeof bits);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            // The engine's hatch cells: the straight lines through the cell's
            // middle, the diagonals through its corners.
            const bool horizontal = y % 8 == 4, vertical = x % 8 == 4;
            const bool down = (x - y + 32) % 8 == 0, up = (x + y) % 8 == 7;
            bool ink = false;
            switch (style) {
            case 0: ink = horizontal; break;
            case 1: ink = vertical; break;
            case 2: ink = down; break;
            case 3: ink = up; break;
            case 4: ink = horizontal || vertical; break;
            default: ink = down || up; break;
            }
            if (ink) bits[y * 4 + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        }
}

uint32_t XlSelectMonoFill(DeviceRecord& r, const RealizedBrush* brush, XlRole role) {
    if (ColourAsked(r) && brush) return XlSelectColourFill(r, brush, role);
    uint32_t& cache = role == XlRole::Brush ? r.xl.brush : r.xl.pen;
    const Op op = role == XlRole::Brush ? Op::SetBrushSource : Op::SetPenSource;
    const uint32_t key = brush ? brush->brushKey : kXlNoSource;
    if (key < 256) {
        if (cache == key) return key;
        XlPlainGrey(r);
        XlAttrUByte(r, Attr::GrayLevel, ToneCurve(r.darknessLevel)[key]);
        XlOperator(r, op);
        cache = key;
        return key;
    }
    if (key < 0x300) {
        int16_t id;
        if (key == 256 && brush->format) {
            id = DefineKeptPattern(r, *brush, false);
        } else {
            uint8_t bits[128];
            if (key >= 512) HatchPattern(key - 512, bits);
            else std::memcpy(bits, brush->pattern, sizeof bits);
            id = DefinePattern(r, bits);
        }
        const uint32_t wanted = kPatternCache + static_cast<uint32_t>(id);
        if (cache != wanted) {
            XlAttrSInt16(r, Attr::PatternSelectID, id);
            XlOperator(r, op);
            cache = wanted;
        }
        return 256;
    }
    // No brush, or one the engine will not realise: nothing is painted.
    if (cache != kXlNoSource) {
        XlAttrUByte(r, role == XlRole::Brush ? Attr::NullBrush : Attr::NullPen, 0);
        XlOperator(r, op);
        cache = kXlNoSource;
    }
    return kXlNoSource;
}

}  // namespace pclrend
