#include "render/xl_fill.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "render/halftone.h"
#include "render/output.h"
#include "render/pclxl.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint32_t kPatternCache = 0x10000;  // cache value of pattern i: kPatternCache + its identifier
constexpr uint16_t kPatternSide = 32;

// The pattern's identifier on this page, defining it first when the page
// does not hold it yet.
int16_t DefinePattern(DeviceRecord& r, const uint8_t (&bits)[128]) {
    std::array<uint8_t, 128> key;
    std::memcpy(key.data(), bits, key.size());
    auto& known = r.xl.pagePatterns;
    const auto it = std::find(known.begin(), known.end(), key);
    if (it != known.end()) return static_cast<int16_t>(it - known.begin() + 1);
    known.push_back(key);
    XlPlainGrey(r);  // the pattern takes the colour space in force
    const auto id = static_cast<int16_t>(known.size());
    XlAttrEnum(r, Attr::ColorMapping, ColorMapping::Direct);
    XlAttrEnum(r, Attr::ColorDepth, ColorDepth::Bit1);
    XlAttrUInt16(r, Attr::SourceWidth, kPatternSide);
    XlAttrUInt16(r, Attr::SourceHeight, kPatternSide);
    XlAttrUInt16XY(r, Attr::DestinationSize, kPatternSide, kPatternSide);
    XlAttrSInt16(r, Attr::PatternDefineID, id);
    XlAttrEnum(r, Attr::PatternPersistence, PatternPersistence::Page);
    XlOperator(r, Op::BeginRastPattern);
    XlAttrUInt16(r, Attr::StartLine, 0);
    XlAttrUInt16(r, Attr::BlockHeight, kPatternSide);
    XlAttrEnum(r, Attr::CompressMode, CompressMode::None);
    XlOperator(r, Op::ReadRastPattern);
    XlDataLength(r, sizeof bits);
    SpoolWrite(r, bits, sizeof bits);
    XlOperator(r, Op::EndRastPattern);
    return id;
}

}  // namespace

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
        uint8_t bits[128];
        if (key >= 512) HatchPattern(key - 512, bits);
        else std::memcpy(bits, brush->pattern, sizeof bits);
        const int16_t id = DefinePattern(r, bits);
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
