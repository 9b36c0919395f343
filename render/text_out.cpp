// Text output: for every string the engine draws, the choice between
// printer text in a device font (a resident font, or one that stands in for
// a TrueType font), a TrueType font sent to the printer, and graphics; then
// the opaque and extra rectangles, the text colour, the font selection and
// the glyphs, in PCL 5 (languages 0 and 1) or PCL XL (language 2).
#include "render/text_out.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/resources.h"
#include "render/device_fonts.h"
#include "settings/font_summary.h"
#include "render/driver.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/rectangles.h"
#include "render/spool_stream.h"
#include "render/text_queue.h"
#include "render/tt_seam.h"
#include "render/xl_fill.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint8_t kEngineDrewFlag = 0x04;
constexpr ULONG DMTT_BITMAP = 1;

// The transform of a font object as six floats (0 when it has none).
bool FontTransform(FONTOBJ* pfo, float (&m)[6]) {
    XFORML x{};
    XFORMOBJ* pxo = FONTOBJ_pxoGetXform(pfo);
    if (!pxo) return false;
    XFORMOBJ_iGetXform(pxo, &x);
    const float v[6] = {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
    std::copy(v, v + 6, m);
    return true;
}

// Length of a transformed vector in 28.4.
int64_t TransformedLength(FONTOBJ* pfo, LONG x, LONG y) {
    POINTL in{x, y}, out{0, 0};
    XFORMOBJ* pxo = FONTOBJ_pxoGetXform(pfo);
    if (!pxo || !XFORMOBJ_bApplyXform(pxo, XF_LTOFX, 1, &in, &out)) return 0;
    return IntLength(out.x, out.y);
}

bool IsSolid(BRUSHOBJ* pbo) { return pbo && pbo->iSolidColor != 0xFFFFFFFF; }

uint8_t GreyOf(uint32_t rgb) {
    const uint32_t red = rgb & 0xFF, green = (rgb >> 8) & 0xFF, blue = (rgb >> 16) & 0xFF;
    return static_cast<uint8_t>((5 * red + 9 * green + 2 * blue) >> 4);
}

// The symbol-set table of variant row `row` (resource type 273, 256 codes).
std::span<const uint16_t> SymbolSetTable(const DeviceRecord& r, size_t row) {
    ULONG size = 0;
    const void* bytes = r.resourceModule ? EngFindResource(r.resourceModule, static_cast<int>(row + 1), kSymbolSetTableType, &size)
                                         : nullptr;
    if (!bytes || size < 512) return {};
    return {static_cast<const uint16_t*>(bytes), 256};
}

int FindCode(std::span<const uint16_t> table, uint32_t ch) {
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i] == ch && ch != 0xFFFF) return static_cast<int>(i);
    return -1;
}

bool FontAllows(const DeviceRecord& r, uint32_t row, size_t variant) {
    const auto masks = FontMasks(r, row);
    const auto& v = kSymbolSetVariants[variant];
    return (masks[0] == 0 || (v.mask1 & masks[0])) && (masks[1] == 0 || !v.mask2 || (v.mask2 & masks[1]));
}


struct Run {
    DeviceRecord& r;
    STROBJ* pstro;
    FONTOBJ* pfo;
    TextRunInfo info;
    std::vector<GLYPHPOS> glyphs;
};

// Glyphs inside the clip (its bounds widened by a pixel); a band edge
// is no clip. On a banded page the engine hands the string over once per
// band: each glyph is printed in the band that holds its origin.
void ClipRange(const DeviceRecord& r, CLIPOBJ* pco, Run& run) {
    const bool banded = RasterLanguage(r) && r.bandCount > 1;
    if (banded) {
        std::erase_if(run.glyphs, [&](const GLYPHPOS& g) { return g.ptl.y < 0 || g.ptl.y >= r.bandHeight; });
    }
    if (!pco || (pco->iDComplexity != DC_RECT && pco->iDComplexity != DC_COMPLEX)) return;
    RECTL c = pco->rclBounds;
    if (banded && c.bottom >= r.bandHeight) c.bottom = r.PageHeight();
    std::erase_if(run.glyphs, [&](const GLYPHPOS& g) {
        return g.ptl.x < c.left - 1 || g.ptl.x > c.right + 1 || g.ptl.y < c.top - 1 || g.ptl.y > c.bottom + 1;
    });
}

// A rectangle cut to the band being drawn (band coordinates), so that each
// band prints its own part of it.
RECTL InBand(const DeviceRecord& r, RECTL q) {
    if (!RasterLanguage(r) || r.bandCount <= 1) return q;
    q.top = std::max<LONG>(q.top, 0);
    q.bottom = std::min<LONG>(q.bottom, r.bandHeight);
    if (q.bottom <= q.top) q = {0, 0, 0, 0};
    return q;
}

}  // namespace

void PclFillRectangle(DeviceRecord& r, const RECTL& q) {
    if (!q.left && !q.top && !q.right && !q.bottom) return;
    MoveToXMapped(r, q.left);
    MoveToYMapped(r, q.top + r.bandTop);
    SendEscape(r, '*', 'c', 'A', q.right - q.left);
    SendEscape(r, '*', 'c', 'B', q.bottom - q.top);
    SpoolWrite(r, "\x1b*c5P");
}

namespace {

// A rectangle of the string cut to a rectangular clip (language 0 fills it
// in PCL, which knows no clip; an all-zero rectangle stays as it is).
void ClipToRectangle(CLIPOBJ* pco, RECTL& q) {
    if (!pco || pco->iDComplexity != DC_RECT || (!q.left && !q.top && !q.right && !q.bottom)) return;
    q = Intersection(Ordered(q), pco->rclBounds);
    if (Empty(q)) q = {0, 0, 0, 0};
}

// The colour text and rectangles print in.
void SelectTextColour(DeviceRecord& r, BRUSHOBJ* pbo, CLIPOBJ* pco, MIX mix) {
    if (r.language == Language::PclXl) {
        XlTextPaint(r, pco, pbo, mix);
        return;
    }
    RealizedBrush solid;
    const RealizedBrush* brush = pbo ? Gl2ResolveBrush(r, pbo, solid) : nullptr;
    if (!brush) {
        solid = RealizedBrush{};
        solid.kind = kBrushSolid;
        solid.brushKey = 0;
        brush = &solid;
    }
    SelectPclPattern(r, *brush, false);
}

void FillRectangles(DeviceRecord& r, RECTL* rects, CLIPOBJ* pco, BRUSHOBJ* pbo) {
    if (!rects) return;
    for (RECTL* e = rects; e->left || e->top || e->right || e->bottom; ++e) {
        RECTL q{std::min(e->left, e->right), std::min(e->top, e->bottom), std::max(e->left, e->right),
                std::max(e->top, e->bottom)};
        if (r.language == Language::PclXl) XlBitBlt(r, nullptr, nullptr, pco, nullptr, q, nullptr, pbo, 0xF0F0);
        else if (r.language == Language::Pcl5Gl2) Gl2FillBlt(r, pco, q, pbo, 0xF0F0);
        else PclFillRectangle(r, InBand(r, q));
    }
}

}  // namespace

int PrintDirection(const float (&m)[6]) {
    if (m[0] == 0 && m[3] == 0) return m[1] < 0 ? 90 : 270;
    if (m[1] == 0 && m[2] == 0 && m[0] < 0) return 180;
    return 0;
}

const char* PrintDirectionCommand(int degrees) {
    return degrees == 90 ? "\x1b&a90P" : degrees == 270 ? "\x1b&a270P" : degrees == 180 ? "\x1b&a180P" : nullptr;
}

// Unicode characters through the printer's symbol sets: the set in force
// when it holds the character, else the first allowed set that does.
void EmitMappedChar(DeviceRecord& r, uint32_t row, uint32_t ch) {
    if (r.symbolSetResource) {
        const size_t cur = r.symbolSetResource - 1u;
        if (cur < kSymbolSetVariants.size() && FontAllows(r, row, cur)) {
            const int code = FindCode(SymbolSetTable(r, cur), ch);
            if (code >= 0) {
                const uint8_t b = static_cast<uint8_t>(code);
                SpoolWrite(r, &b, 1);
                return;
            }
        }
    }
    for (size_t i = 0; i < kSymbolSetVariants.size(); ++i) {
        if (!FontAllows(r, row, i)) continue;
        const int code = FindCode(SymbolSetTable(r, i), ch);
        if (code < 0) continue;
        if (r.symbolSetResource != i + 1) {
            SpoolWrite(r, "\x1b(");
            SpoolWrite(r, kSymbolSetVariants[i].name);
            r.symbolSetResource = static_cast<uint16_t>(i + 1);
        }
        const uint8_t b = static_cast<uint8_t>(code);
        SpoolWrite(r, &b, 1);
        return;
    }
    // No allowed set holds it: skipped.
}

// Two bytes of a double-byte code (high first), or one.
std::string DbcsBytes(uint8_t charSet, uint32_t ch) {
    const UINT cp = charSet == 128 ? 932 : charSet == 134 ? 936 : charSet == 136 ? 950 : charSet == 129 ? 1361 : 0;
    char out[4] = {};
    WCHAR w = static_cast<WCHAR>(ch);
    const INT n = EngWideCharToMultiByte(cp, &w, 2, out, sizeof out);
    return n > 0 ? std::string(out, static_cast<size_t>(std::min(n, 2))) : std::string();
}

namespace {

bool EmitPcl(Run& run) {
    DeviceRecord& r = run.r;
    const uint32_t row = run.info.deviceFont;
    const auto* e = FontRow(r, row);
    if (!e) return false;
    if (run.glyphs.empty()) return true;
    const float(&m)[6] = r.fonts.xform;
    const int dir = PrintDirection(m);
    const bool perGlyph = (run.glyphs.size() > 1 && !(run.info.accel & SO_FLAG_DEFAULT_PLACEMENT)) || run.info.substituted ||
                          PageIsMapped(r);
    const bool kind1 = e->charSet == 1;
    const bool dbcs = IsDbcsCharset(e->charSet);
    const bool simItalic = dbcs && (run.pfo->flFontType & FO_SIM_ITALIC);
    const bool simBold = dbcs && run.info.simBold;
    const bool leftToRight = m[1] == 0 && m[2] == 0 && m[0] > 0;
    int64_t s = TransformedLength(run.pfo, 4096, 0);
    const IFIMETRICS* ifi = FONTOBJ_pifi(run.pfo);
    const int32_t fontEm = ifi ? ifi->fwdUnitsPerEm : 0;
    const int32_t rowEm = e->scalable ? e->extMetrics.masterUnits : static_cast<int16_t>(e->pixHeight);

    auto moveTo = [&](const GLYPHPOS& g) {
        MoveToXMapped(r, g.ptl.x);
        MoveToYMapped(r, g.ptl.y + r.bandTop);
    };
    bool twoByte = false;
    auto code = [&](uint32_t hg) {
        if (kind1) return EmitMappedChar(r, row, hg);
        if (dbcs) {
            const std::string b = DbcsBytes(e->charSet, hg);
            if (b.empty()) return;
            const bool two = b.size() == 2 && (static_cast<uint8_t>(b[0]) & 0x80);
            if (two != twoByte) SpoolWrite(r, two ? "\x1b&t38P" : "\x1b&t0P");
            twoByte = two;
            SpoolWrite(r, b);
            return;
        }
        const uint8_t byte = static_cast<uint8_t>(hg);
        SpoolWrite(r, &byte, 1);
    };
    if (simItalic) SpoolWrite(r, "\x1b(s1S");
    if (simBold) SpoolWrite(r, "\x1b(s5B");
    const char* turn = PrintDirectionCommand(dir);
    if (!perGlyph) {
        moveTo(run.glyphs.front());
        if (turn) SpoolWrite(r, turn);
        for (const GLYPHPOS& g : run.glyphs) code(g.hg);
        if (m[0] <= 0) SpoolWrite(r, "\x1b&a0P");
    } else {
        LONG x = run.glyphs.front().ptl.x;
        for (size_t i = 0; i < run.glyphs.size(); ++i) {
            GLYPHPOS g = run.glyphs[i];
            if (run.pstro->ulCharInc && i) {
                x += static_cast<LONG>(run.pstro->ulCharInc);
                g.ptl.x = x;
            }
            moveTo(g);
            if (turn) SpoolWrite(r, turn);
            code(g.hg);
            if (m[0] <= 0) SpoolWrite(r, "\x1b&a0P");
            if (kind1 && leftToRight && !PageIsMapped(r) && rowEm > 0 && fontEm > 0 && r.cursorX >= 0) {
                // The printer advanced by the glyph's own width.
                const int64_t w = int64_t{HandleWidth(r, row, g.hg)} * fontEm / rowEm;
                r.cursorX = static_cast<int16_t>(r.cursorX + (((w * s) >> 12) + 8) / 16);
            } else {
                r.cursorX = -1;
            }
            if (m[0] <= 0) r.cursorY = -1;
        }
    }
    if (twoByte) SpoolWrite(r, "\x1b&t0P");
    if (simItalic) SpoolWrite(r, "\x1b(s0S");
    if (simBold) SpoolWrite(r, "\x1b(s0B");
    r.cursorX = r.cursorY = -1;
    MarkFontUsed(r, row);
    return true;
}

// PCL XL: the character transform when it changed.
void SetXlCharTransform(DeviceRecord& r, FONTOBJ* pfo, const float (&m)[6]) {
    const bool italic = (pfo->flFontType & FO_SIM_ITALIC) != 0;
    FontState& f = r.fonts;
    if (f.xformKnown && std::equal(m, m + 4, f.xform) && f.xlSimItalic == italic) return;
    if (italic) XlAttrReal32XY(r, Attr::CharShear, 0.0f, 0.309017f);
    else XlAttrSInt16XY(r, Attr::CharShear, 0, 0);
    XlOperator(r, Op::SetCharShear);
    f.xlSimItalic = italic;
    std::copy(m, m + 6, f.xform);
    f.xformKnown = true;
    XlAttrReal32XY(r, Attr::CharScale, static_cast<float>(FloatLength(m[0], m[1])),
                   static_cast<float>(FloatLength(m[2], m[3])));
    XlOperator(r, Op::SetCharScale);
    XlAttrSInt16(r, Attr::CharAngle, static_cast<int16_t>(CharAngle(m)));
    XlOperator(r, Op::SetCharAngle);
}

// The name a PCL XL printer knows the device font by: the font's own
// PCL XL name where its description gives one, else its face name, padded
// with blanks to 16 bytes (20 for Korean fonts).
std::string XlFontName(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    std::string name = FontFaceName(r, row);
    if (e && e->strings[1] != zq::kEmptySlot) {
        const std::string own = zq::SummaryString(r.fonts.summary, e->strings[1]);
        if (!own.empty()) name = own;
    }
    name.resize(e && e->charSet == 129 ? 20 : 16, ' ');
    return name;
}

bool EmitXl(Run& run, const float (&transform)[6]) {
    DeviceRecord& r = run.r;
    const uint32_t row = run.info.deviceFont;
    const auto* e = FontRow(r, row);
    const IFIMETRICS* ifi = FONTOBJ_pifi(run.pfo);
    if (!e || !ifi || ifi->fwdUnitsPerEm <= 0) return false;
    if (run.glyphs.empty()) return true;
    SetXlCharTransform(r, run.pfo, transform);
    const bool bold = run.info.simBold != 0;
    if (bold != r.xl.boldValue) {
        XlAttrReal32(r, Attr::CharBoldValue, bold ? 0.01f : 0.0f);
        XlOperator(r, Op::SetCharBoldValue);
        r.xl.boldValue = bold;
    }
    const bool kind1 = e->charSet == 1;
    const std::string name = XlFontName(r, row);
    // Runs of one symbol set: kind 1 fonts map each character to the
    // first allowed set that holds it (codes are table indexes).
    size_t i = 0;
    while (i < run.glyphs.size()) {
        uint16_t set = e->symbolSet ? e->symbolSet : kSymbolSetVariants[0].value;
        std::vector<uint8_t> codes;
        std::vector<int16_t> dx, dy;
        const size_t first = i;
        int variant = -1;
        for (; i < run.glyphs.size(); ++i) {
            const uint32_t ch = run.glyphs[i].hg;
            int code = static_cast<int>(ch & 0xFF);
            if (kind1) {
                int found = -1;
                for (size_t v = 0; v < kSymbolSetVariants.size() && found < 0; ++v) {
                    if (!FontAllows(r, row, v)) continue;
                    const int c = FindCode(SymbolSetTable(r, v), ch);
                    if (c >= 0) {
                        found = static_cast<int>(v);
                        code = c;
                    }
                }
                if (found < 0) {
                    if (variant < 0 && i == first) {
                        ++i;
                        break;  // an unmappable first character: skipped
                    }
                    continue;
                }
                if (variant < 0) variant = found;
                if (found != variant) break;
                set = kSymbolSetVariants[static_cast<size_t>(variant)].value;
            }
            if (!codes.empty()) {
                const GLYPHPOS& prev = run.glyphs[i - 1];
                dx.push_back(static_cast<int16_t>(run.glyphs[i].ptl.x - prev.ptl.x));
                dy.push_back(static_cast<int16_t>(run.glyphs[i].ptl.y - prev.ptl.y));
            }
            codes.push_back(static_cast<uint8_t>(code));
        }
        if (codes.empty()) continue;
        const uint16_t charSize = static_cast<uint16_t>(ifi->fwdUnitsPerEm);
        if (r.fonts.xlSymbolSet != set || r.fonts.xlCharSize != charSize || r.fonts.xlRow != row) {
            XlAttrUInt16(r, Attr::SymbolSet, set);
            XlAttrUInt16(r, Attr::CharSize, charSize);
            XlAttrUByteArray(r, Attr::FontName, {reinterpret_cast<const uint8_t*>(name.data()), name.size()});
            XlOperator(r, Op::SetFont);
            r.fonts.xlSymbolSet = set;
            r.fonts.xlCharSize = charSize;
            r.fonts.xlRow = row;
        }
        // The first glyph of this piece (skipped glyphs before it count).
        size_t at = first;
        while (at < run.glyphs.size() && kind1) {
            const uint32_t ch = run.glyphs[at].hg;
            bool any = false;
            for (size_t v = 0; v < kSymbolSetVariants.size() && !any; ++v)
                any = FontAllows(r, row, v) && FindCode(SymbolSetTable(r, v), ch) >= 0;
            if (any) break;
            ++at;
        }
        const GLYPHPOS& g0 = run.glyphs[std::min(at, run.glyphs.size() - 1)];
        XlAttrSInt16XY(r, Attr::Point, static_cast<int16_t>(g0.ptl.x), static_cast<int16_t>(g0.ptl.y));
        XlOperator(r, Op::SetCursor);
        dx.push_back(0);
        dy.push_back(0);
        XlAttrSInt16Array(r, Attr::XSpacingData, dx);
        if (std::any_of(dy.begin(), dy.end(), [](int16_t v) { return v != 0; })) XlAttrSInt16Array(r, Attr::YSpacingData, dy);
        XlAttrUByteArray(r, Attr::TextData, codes);
        XlOperator(r, Op::Text);
    }
    MarkFontUsed(r, row);
    return true;
}

// The graphics way of a run, by language.
BOOL Graphics(DeviceRecord& r, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
              RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    (void)pso;
    if (r.language == Language::PclXl) return XlTextOut(r, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, mix);
    if (r.language == Language::Pcl5Gl2) return Gl2TextOut(r, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, mix);
    if (!r.bandSurface) return FALSE;
    r.pageFlags |= kEngineDrewFlag;
    if (pstro->pgp == nullptr) STROBJ_vEnumStart(pstro);
    return EngTextOut(BandSurface(r), pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix);
}

}  // namespace

int64_t IntLength(int64_t x, int64_t y) {
    x = x < 0 ? -x : x;
    y = y < 0 ? -y : y;
    if (!x || !y) return x + y;
    const int64_t sq = x * x + y * y;
    int64_t n = std::max<int64_t>(std::max(x, y), static_cast<int64_t>(std::sqrt(static_cast<double>(sq))) - 1);
    while (n * n < sq) ++n;
    return n;
}

double FloatLength(double x, double y) {
    x = std::fabs(x);
    y = std::fabs(y);
    if (x == 0 || y == 0) return x + y;
    return std::sqrt(x * x + y * y);
}

int CharAngle(const float (&m)[6]) {
    if (m[1] == 0 && m[2] == 0) return m[0] < 0 ? 180 : 0;
    if (m[0] == 0 && m[3] == 0) return m[1] < 0 ? 90 : 270;
    const double t = std::fabs(static_cast<double>(m[1]) / m[0]);
    int a = 90;
    for (int d = 0; d < 90; ++d) {
        if (std::tan(d * 3.14159265358979323846 / 180) >= t - 1e-6) {  // float noise of the transform
            a = d;
            break;
        }
    }
    if (m[0] < 0 && m[1] < 0) return 180 - a;
    if (m[0] < 0) return 180 + a;
    if (m[0] > 0 && m[1] >= 0) return a == 0 ? 0 : 360 - a;
    return a;
}

int32_t QuarterPoints(int32_t value) {
    const int32_t rest = value % 100 % 25;
    return rest >= 13 ? value + 25 - rest : value - rest;
}

std::optional<uint32_t> FontSizeValue(const DeviceRecord& r, FONTOBJ* pfo, bool pitch, const TextRunInfo& info) {
    const IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    if (!ifi || ifi->fwdUnitsPerEm <= 0 || !FONTOBJ_pxoGetXform(pfo)) return std::nullopt;
    const int32_t em = ifi->fwdUnitsPerEm;
    if (!pitch) {
        const int64_t length = TransformedLength(pfo, 0, em);  // 28.4
        if (length <= 0) return std::nullopt;
        const int64_t value = (length * 7200 + 8 * r.resolution) / (16 * int64_t{r.resolution});
        return static_cast<uint32_t>(QuarterPoints(static_cast<int32_t>(value)));
    }
    int64_t length;
    if (info.substituted) {
        const auto* e = FontRow(r, info.deviceFont);
        const int32_t rowEm = e ? (e->scalable ? e->extMetrics.masterUnits : static_cast<int16_t>(e->pixHeight)) : 0;
        if (!e || rowEm <= 0) return std::nullopt;
        length = TransformedLength(pfo, 0, em) * e->avgWidth / rowEm;
    } else {
        length = TransformedLength(pfo, 0, ifi->fwdAveCharWidth);
    }
    // A width of 0 has no pitch: such a font prints as graphics.
    if (length <= 0) return std::nullopt;
    return static_cast<uint32_t>((int64_t{r.resolution} * 100 * 16 + length / 2) / length);
}

namespace {

// A device font's selection string as it is sent: kind-1 fonts choose their
// symbol set per character, so their "#SYMSET" prefix is dropped.
std::string SelectionOf(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    std::string selection = FontSelection(r, row);
    if (e && e->charSet == 1 && selection.rfind("\x1b(#SYMSET", 0) == 0) selection.erase(0, 9);
    return selection;
}

}  // namespace

bool SizedByPitch(const DeviceRecord& r, uint32_t row) {
    const std::string selection = SelectionOf(r, row);
    const size_t hash = selection.find('#');
    return hash != std::string::npos && selection.compare(hash, 6, "#PITCH") == 0;
}

void SendDeviceSelection(DeviceRecord& r, uint32_t row, uint32_t value) {
    const auto* e = FontRow(r, row);
    if (!e) return;
    std::string selection = SelectionOf(r, row);
    const size_t hash = selection.find('#');
    if (hash != std::string::npos) {
        const bool isPitch = selection.compare(hash, 6, "#PITCH") == 0;
        const bool isHeight = selection.compare(hash, 7, "#HEIGHT") == 0;
        if (isPitch || isHeight) {
            char text[32];
            const size_t n = SizeText(text, static_cast<int32_t>(value));
            selection.replace(hash, isPitch ? 6 : 7, text, n);
        }
    }
    SpoolWrite(r, selection);
    r.selectedFontId = r.designatedFontId = r.selectedFontIdCopy = 0xFFFF;
    r.currentSymbolSet = static_cast<uint16_t>(row);
    if (e->charSet != 1) r.symbolSetResource = 0;
}

bool SelectDeviceFont(DeviceRecord& r, FONTOBJ* pfo, const TextRunInfo& info) {
    const auto* e = FontRow(r, info.deviceFont);
    if (!e) return false;
    const auto height = FontSizeValue(r, pfo, false, info);
    if (!height) return false;
    r.fonts.heightValue = *height;
    if (r.currentSymbolSet == info.deviceFont && (!e->scalable || *height == r.lastFontHeight)) return true;
    const bool isPitch = SizedByPitch(r, info.deviceFont);
    const auto value = isPitch ? FontSizeValue(r, pfo, true, info) : height;
    if (!value) return false;
    int64_t v = *value;
    // On a page drawn smaller (n-up, fit to page) the glyphs shrink as the
    // cursor moves do: a height by the vertical ratio, a pitch (characters
    // per inch) by the inverse horizontal one.
    if (PageIsMapped(r) && r.PageWidth() && r.PageHeight() && r.drawnWidth && r.drawnHeight)
        v = isPitch ? v * r.PageWidth() / r.drawnWidth : v * r.drawnHeight / r.PageHeight();
    r.lastFontHeight = static_cast<uint16_t>(*height);
    SendDeviceSelection(r, info.deviceFont, static_cast<uint32_t>(v));
    return true;
}

uint32_t FindSubstituteFont(const DeviceRecord& r, FONTOBJ* pfo, STROBJ* pstro) {
    const IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    float m[6];
    if (!ifi || !FontTransform(pfo, m)) return 0;
    if (r.language != Language::PclXl) {
        if (m[0] != 0 && m[1] != 0 && m[2] != 0 && m[3] != 0) return 0;
        if (TransformedLength(pfo, 1000, 0) != TransformedLength(pfo, 0, 1000)) return 0;
    }
    // The family name (at most 80 characters).
    std::string family;
    if (ifi->dpwszFamilyName > 0 && static_cast<ULONG>(ifi->dpwszFamilyName) < ifi->cjThis) {
        const auto* base = reinterpret_cast<const uint8_t*>(ifi);
        for (ULONG at = static_cast<ULONG>(ifi->dpwszFamilyName); at + 1 < ifi->cjThis && family.size() < 80; at += 2) {
            char16_t c;
            std::memcpy(&c, base + at, 2);
            if (!c) break;
            family.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    const std::string_view listed = SubstituteFor(r, family);
    const std::string name = listed.empty() ? family : std::string(listed);
    const bool dbcs = IsDbcsCharset(ifi->jWinCharSet);
    if (dbcs && !family.empty() && family[0] == '@') return 0;
    const bool bold = (ifi->fsSelection & FM_SEL_BOLD) != 0, italic = (ifi->fsSelection & FM_SEL_ITALIC) != 0;
    const auto styleAgrees = [&](const zq::FontSummaryEntry& e) { return (e.weight >= 700) == bold && (e.italic != 0) == italic; };
    const SummaryView v = ViewSummary(r.fonts.summary);
    uint32_t row = 0;
    for (uint32_t i = 0; i < v.entries.size() && !row; ++i)
        if (FontFaceName(r, i + 1) == name && styleAgrees(v.entries[i])) row = i + 1;
    if (dbcs) {
        if (!row) return 0;
        const std::string face = FontFaceName(r, row);
        for (ULONG i = 0; pstro && pstro->pwszOrg && i < pstro->cGlyphs; ++i)
            if (!InDbcsRange(ifi->jWinCharSet, pstro->pwszOrg[i], face)) return 0;
    }
    if (!row && (ifi->panose.bFamilyType == 2 || ifi->panose.bFamilyType == 3)) {
        for (uint32_t i = 0; i < v.entries.size() && !row; ++i) {
            const auto panose = FontData(r, v.entries[i].panose, sizeof(PANOSE));
            if (styleAgrees(v.entries[i]) && panose.size() == sizeof(PANOSE) &&
                std::memcmp(panose.data(), &ifi->panose, sizeof(PANOSE)) == 0)
                row = i + 1;
        }
    }
    if (!row || !pstro || !pstro->pwszOrg) return row;
    // The device font must print every character.
    const auto* e = FontRow(r, row);
    for (ULONG i = 0; i < pstro->cGlyphs; ++i) {
        const uint32_t ch = pstro->pwszOrg[i];
        if (e->charSet == 1) {
            bool any = false;
            for (size_t s = 0; s < kSymbolSetVariants.size() && !any; ++s)
                any = FontAllows(r, row, s) && FindCode(SymbolSetTable(r, s), ch) >= 0;
            if (!any) return 0;
        } else if (IsDbcsCharset(e->charSet) ? ch < 32 : (ch < 32 || ch > 255)) {
            return 0;
        }
    }
    return row;
}

bool InDbcsRange(uint8_t charSet, char16_t ch, std::string_view deviceFace) {
    if (ch < 128) return true;
    auto bytes = [](UINT cp, char16_t c) -> uint32_t {
        char out[4] = {};
        WCHAR w = c;
        const INT n = EngWideCharToMultiByte(cp, &w, 2, out, sizeof out);
        if (n == 1) return static_cast<uint8_t>(out[0]);
        if (n == 2) return (uint32_t{static_cast<uint8_t>(out[0])} << 8) | static_cast<uint8_t>(out[1]);
        return 0xFFFFFFFF;
    };
    switch (charSet) {
    case 136: {
        const uint32_t v = bytes(950, ch);
        const uint32_t trail = v & 0xFF;
        return ((v >= 0xA140 && v <= 0xC67F) || (v >= 0xC940 && v <= 0xF9D5)) && trail != 0xA0;
    }
    case 134: {
        const uint32_t v = bytes(936, ch), lead = v >> 8, trail = v & 0xFF;
        return (v >= 0x8140 && v <= 0xA0FE) || (trail >= 0xA1 && trail <= 0xFE && lead >= 0xA1 && lead <= 0xA9) ||
               (trail >= 0x40 && trail <= 0xA0 && lead >= 0xA8 && lead <= 0xFE) ||
               (trail >= 0xA1 && trail <= 0xFE && lead >= 0xB0 && lead <= 0xF7);
    }
    case 128: {
        const uint32_t v = bytes(932, ch);
        return (v >= 0x8140 && v <= 0x9FFC) || (v >= 0xE040 && v <= 0xFCFC) || (v >= 0xA0 && v <= 0xDF);
    }
    case 129: {
        const uint32_t j = bytes(1361, ch);
        if (!((j >= 0x8441 && j <= 0xDEFE) || (j >= 0xE031 && j <= 0xF9FE))) return false;
        if (deviceFace == "MD_BatangChe" || deviceFace == "MD_DotumChe") return true;
        const uint32_t v = bytes(949, ch), lead = v >> 8, trail = v & 0xFF;
        if (v == 0xFFFFFFFF) return false;
        return !(lead >= 0xCA && lead <= 0xFD && trail >= 0xA1 && trail <= 0xFE);
    }
    default:
        return true;
    }
}

BOOL PclTextOut(DeviceRecord& r, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    if (!pso || !pstro || !pfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r.jobState < kJobOpen) return FALSE;
    const bool device = (pfo->flFontType & FO_TYPE_DEVICE) != 0;
    if (device && (pfo->iFace == 0 || pfo->iFace > CountFaces(r))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TextRunInfo info;
    info.accel = pstro->flAccel;
    info.deviceFont = device ? FaceToFont(r, pfo->iFace) : 0;
    info.simBold = pfo->flFontType & FO_SIM_BOLD;
    const IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    const bool dbcs = ifi && IsDbcsCharset(ifi->jWinCharSet);
    if ((pfo->flFontType & FO_TYPE_TRUETYPE) && r.fonts.substituteFonts && !(pstro->flAccel & SO_DO_NOT_SUBSTITUTE_DEVICE_FONT) &&
        r.ttOption != DMTT_BITMAP && (dbcs || !(pstro->flAccel & SO_GLYPHINDEX_TEXTOUT))) {
        const uint32_t row = FindSubstituteFont(r, pfo, pstro);
        if (row && (!dbcs || r.fonts.substituteDbcs)) {
            info.substituted = 1;
            info.deviceFont = row;
        }
    }
    info.useDevice = (info.substituted || device) ? 1 : 0;
    // Colour raster pages queue their text for the page end: TrueType text
    // as soft fonts, or in the printer's face that stands in for it (the
    // language offers no device faces of its own). What cannot wait is
    // drawn into the band, over the queued text it covers.
    if (r.language == Language::ColourRaster) {
        if (r.ttOption != DMTT_BITMAP && QueueTextRun(r, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix, info))
            return TRUE;
        // What the engine is about to draw: the background, the opaque and
        // extra rectangles, within the clip's bounds.
        RECTL area = pstro->rclBkGround;
        auto add = [&](const RECTL& q) {
            area.left = std::min({area.left, q.left, q.right});
            area.top = std::min({area.top, q.top, q.bottom});
            area.right = std::max({area.right, q.left, q.right});
            area.bottom = std::max({area.bottom, q.top, q.bottom});
        };
        if (prclOpaque) add(*prclOpaque);
        for (RECTL* e = prclExtra; e && (e->left || e->top || e->right || e->bottom); ++e) add(*e);
        if (pco && (pco->iDComplexity == DC_RECT || pco->iDComplexity == DC_COMPLEX)) {
            area.left = std::max(area.left, pco->rclBounds.left);
            area.top = std::max(area.top, pco->rclBounds.top);
            area.right = std::min(area.right, pco->rclBounds.right);
            area.bottom = std::min(area.bottom, pco->rclBounds.bottom);
        }
        FlushOverlappingText(r, {area.left, area.top, area.right, area.bottom});
        return Graphics(r, pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix);
    }
    const bool colourText = r.language == Language::MonoRaster && r.colour && IsSolid(pboFore) &&
                            GreyOf(BRUSHOBJ_ulGetBrushColor(pboFore)) != 0;
    const auto graphics = [&] { return Graphics(r, pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix); };

    if (!info.useDevice) {
        if (r.ttOption == DMTT_BITMAP) return graphics();
        // The download options send TrueType fonts as soft fonts (2: always
        // as bitmaps, 4: as outlines where the font allows); a record
        // without a choice, and a run the soft fonts cannot carry, keep the
        // engine's glyphs.
        if (r.ttOption < 2) return graphics();
        if (r.language == Language::PclXl) {
            if (!prclExtra && !prclOpaque && DownloadAndSendTrueTypeRun(r, pstro, pfo, pco, pboFore, pptlOrg, mix))
                return TRUE;
            return graphics();
        }
        // PCL 5: the opaque box under the glyphs, the underline and
        // strike-out over them, as for printer faces, each cut to the clip
        // in a copy (the engine's rectangles stay as they are). The glyphs
        // print in the text colour: the pattern of its grey on a monochrome
        // page (nothing is sent while it is in force).
        const auto under = [&] {
            if (prclOpaque && pboOpaque) {
                RECTL opaque[2] = {*prclOpaque, {0, 0, 0, 0}};
                ClipToRectangle(pco, opaque[0]);
                if (r.language == Language::MonoRaster) SelectTextColour(r, pboOpaque, pco, mix);
                FillRectangles(r, opaque, pco, pboOpaque);
                if (r.language == Language::Pcl5Gl2) ResetGlMode(r, false);
            }
            SelectTextColour(r, pboFore, pco, mix);
        };
        const auto over = [&] {
            if (!prclExtra || !pboFore) return;
            std::vector<RECTL> inside;
            for (const RECTL* e = prclExtra; e->left || e->top || e->right || e->bottom; ++e) {
                RECTL q = *e;
                ClipToRectangle(pco, q);
                if (q.left || q.top || q.right || q.bottom) inside.push_back(q);
            }
            inside.push_back({0, 0, 0, 0});
            FillRectangles(r, inside.data(), pco, pboFore);
        };
        if (DownloadAndSendTrueTypeRun(r, pstro, pfo, pco, pboFore, pptlOrg, mix, under, over)) return TRUE;
        return graphics();
    }
    if (((pco && pco->iDComplexity == DC_COMPLEX) || colourText) && info.substituted) return graphics();

    // Printer text. Its size must be known before anything is sent: a font
    // without an em or a pitch prints as graphics.
    float transform[6];
    if (!FontTransform(pfo, transform) || !FontSizeValue(r, pfo, false, info)) {
        if (device) return FALSE;
        return graphics();
    }
    if (r.language == Language::Pcl5Gl2) ResetGlMode(r, false);

    // Non-black text on a colour raster page waits in the deferred buffer.
    const uint16_t savedSet = r.symbolSetResource, savedRop = r.ropCache;
    if (colourText) {
        r.currentSymbolSet = 0xFFFF;
        r.cursorY = -1;
        r.symbolSetResource = 0;
        r.ropCache = 256;
        r.deferredActive = true;
    }
    const auto restore = [&] {
        if (!colourText) return;
        r.symbolSetResource = savedSet;
        r.ropCache = savedRop;
        r.currentSymbolSet = 0xFFFF;
        r.cursorY = -1;
        r.deferredActive = false;
    };

    if (r.language != Language::PclXl) std::copy(transform, transform + 6, r.fonts.xform);
    if (r.language != Language::PclXl && !SelectDeviceFont(r, pfo, info)) {
        restore();
        return device ? FALSE : graphics();
    }
    Run run{r, pstro, pfo, info, StringGlyphs(pstro, false)};
    // The printer's face prints the string's characters, not the TrueType
    // font's glyph numbers.
    if (info.substituted && pstro->pwszOrg && run.glyphs.size() == pstro->cGlyphs)
        for (size_t i = 0; i < run.glyphs.size(); ++i) run.glyphs[i].hg = pstro->pwszOrg[i];
    ClipRange(r, pco, run);
    const bool drawRequest = r.stream && r.stream->drawRequestOpen;
    if (r.language == Language::PclXl) XlSetRop(r, drawRequest ? 168 : 252);
    else SetPclRop(r, drawRequest ? 168 : 252);

    if (prclOpaque && pboOpaque) {
        RECTL opaque[2] = {*prclOpaque, {0, 0, 0, 0}};
        if (r.language == Language::MonoRaster) SelectTextColour(r, pboOpaque, pco, mix);
        FillRectangles(r, opaque, pco, pboOpaque);
    }
    // The rectangles of a PCL 5 page may have been drawn in HP-GL/2: the
    // text goes in PCL.
    if (r.language == Language::Pcl5Gl2) ResetGlMode(r, false);
    SelectTextColour(r, pboFore, pco, mix);
    const bool ok = r.language == Language::PclXl ? EmitXl(run, transform) : EmitPcl(run);
    if (!ok) {
        restore();
        return device ? FALSE : graphics();
    }
    if (prclExtra && pboFore) FillRectangles(r, prclExtra, pco, pboFore);
    restore();
    return r.jobState >= kJobOpen;
}

std::vector<GLYPHPOS> StringGlyphs(STROBJ* pstro, bool withBits) {
    // Positions the caller laid out are the glyphs, unless their bits are asked.
    if (pstro->pgp && !withBits) return std::vector<GLYPHPOS>(pstro->pgp, pstro->pgp + pstro->cGlyphs);
    std::vector<GLYPHPOS> out;
    STROBJ_vEnumStart(pstro);
    ULONG count = 0;
    GLYPHPOS* pos = nullptr;
    BOOL more;
    do {
        more = withBits ? STROBJ_bEnum(pstro, &count, &pos) : STROBJ_bEnumPositionsOnly(pstro, &count, &pos);
        if (pos) out.insert(out.end(), pos, pos + count);
    } while (more && count && out.size() < 65536);
    return out;
}

}  // namespace pclrend
