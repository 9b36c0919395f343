// A TrueType run printed from soft fonts: the font object read into what the
// download needs, every glyph sent first, then the run printed glyph by
// glyph at the engine's positions.
#include "render/tt_seam.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "render/driver.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/tt_download.h"
#include "render/xl_state.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr MIX kMixCopyPen = 13;

// FNV-1a over the file's first 4 KB and size (its table directory with
// every table's checksum, or a collection's), the family and a seed.
uint32_t FontIdentity(std::span<const uint8_t> bytes, const std::u16string& family, uint32_t seed) {
    uint32_t h = 2166136261u ^ seed;
    auto mix = [&](uint8_t b) { h = (h ^ b) * 16777619u; };
    for (size_t i = 0; i < bytes.size() && i < 4096; ++i) mix(bytes[i]);
    for (int k = 0; k < 4; ++k) mix(static_cast<uint8_t>(bytes.size() >> (8 * k)));
    for (char16_t c : family) {
        mix(static_cast<uint8_t>(c));
        mix(static_cast<uint8_t>(c >> 8));
    }
    return h ? h : 1;
}

}  // namespace

bool ReadTrueTypeSource(FONTOBJ* pfo, TrueTypeSource& f) {
    IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    XFORMOBJ* xo = FONTOBJ_pxoGetXform(pfo);
    if (!ifi || !xo) return false;
    XFORML m{};
    XFORMOBJ_iGetXform(xo, &m);
    f.xform = {m.eM11, m.eM12, m.eM21, m.eM22};
    f.simulations = pfo->flFontType & (kSimBold | kSimItalic);
    ULONG size = 0;
    auto* file = static_cast<const uint8_t*>(FONTOBJ_pvTrueTypeFontFile(pfo, &size));
    if (file && size) f.file = std::span(file, size);
    if (ifi->dpwszFamilyName > 0 && static_cast<ULONG>(ifi->dpwszFamilyName) < ifi->cjThis) {
        const auto* base = reinterpret_cast<const uint8_t*>(ifi) + ifi->dpwszFamilyName;
        const size_t room = (ifi->cjThis - static_cast<ULONG>(ifi->dpwszFamilyName)) / 2;
        for (size_t i = 0; i < room; ++i) {
            char16_t c;
            std::memcpy(&c, base + 2 * i, 2);
            if (!c) break;
            f.family.push_back(c);
        }
    }
    f.winCharSet = ifi->jWinCharSet;
    f.fixedPitch = (ifi->jWinPitchAndFamily & 3) == 1;
    f.aveCharWidth = ifi->fwdAveCharWidth;
    f.breakChar = ifi->wcBreakChar;
    f.winAscender = ifi->fwdWinAscender;
    f.winDescender = ifi->fwdWinDescender;
    f.maxCharInc = ifi->fwdMaxCharInc;
    f.unitsPerEm = ifi->fwdUnitsPerEm;
    // The engine makes a new font object each time a font is selected: the
    // printer's copy is known by what it is drawn from instead. The same
    // file and face is the same outline font; at the same transform and
    // simulations, the same bitmap font.
    f.ttUniq = FontIdentity(f.file, f.family, 0);
    const float terms[4] = {f.xform.m11, f.xform.m12, f.xform.m21, f.xform.m22};
    f.uniq = FontIdentity(std::span(reinterpret_cast<const uint8_t*>(terms), sizeof terms), f.family, f.ttUniq ^ f.simulations);
    f.bitmap = [pfo](uint32_t glyph, BitmapGlyph& out) {
        HGLYPH hg = glyph;
        GLYPHDATA* gd = nullptr;
        if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)) != 1 || !gd || !gd->gdf.pgb)
            return false;
        const GLYPHBITS* gb = gd->gdf.pgb;
        out.left = gb->ptlOrigin.x;
        out.top = gb->ptlOrigin.y;
        out.width = static_cast<uint32_t>(gb->sizlBitmap.cx);
        out.height = static_cast<uint32_t>(gb->sizlBitmap.cy);
        out.advanceQuarterDots = gd->fxD / 4;
        out.rows.assign(gb->aj, gb->aj + (out.width + 7) / 8 * out.height);
        return true;
    };
    return f.unitsPerEm > 0;
}

namespace {

// The rows a glyph's bits cover (bottom exclusive); nullopt when it has none.
std::optional<RECTL> GlyphBox(FONTOBJ* pfo, const GLYPHPOS& p) {
    HGLYPH hg = p.hg;
    GLYPHDATA* gd = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)) != 1 || !gd || !gd->gdf.pgb)
        return std::nullopt;
    const GLYPHBITS* gb = gd->gdf.pgb;
    const LONG left = p.ptl.x + gb->ptlOrigin.x, top = p.ptl.y + gb->ptlOrigin.y;
    return RECTL{left, top, left + gb->sizlBitmap.cx, top + gb->sizlBitmap.cy};
}

bool GlyphInside(FONTOBJ* pfo, const GLYPHPOS& p, const RECTL& clip) {
    const auto box = GlyphBox(pfo, p);
    return box && box->left >= clip.left && box->top >= clip.top && box->right <= clip.right && box->bottom <= clip.bottom;
}

}  // namespace

namespace {

// A soft font selected by its ID replaces the printer face in force and its
// symbol set: the next printer-face text selects them again.
void ForgetDeviceFont(DeviceRecord& r) {
    r.currentSymbolSet = 0xFFFF;
    r.symbolSetResource = 0;
}

}  // namespace

void PrintSoftFontGlyphs(DeviceRecord& r, const TrueTypeSource& f, FontForm form, const std::vector<GLYPHPOS>& glyphs,
                         const std::vector<GlyphCode>& codes) {
    DownloadedFonts& d = Downloads(r);
    const double em = EmPixels(f.xform, f.unitsPerEm);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const GlyphCode& c = codes[i];
        if (form == FontForm::Outline) {
            const auto height = static_cast<uint16_t>(QuarterPointHeight(em, r.resolution));
            if (c.symbolSet != d.selectedSymbolSet || c.fontId != d.selectedFontId || height != d.selectedHeight) {
                char size[32];
                SizeText(size, height);
                // Characteristics first: one sent after the selection by
                // ID would select again by characteristics.
                SpoolFormat(r, "\x1b(s%sV", {size});
                SpoolWrite(r, BlockSymbolSetSelection(c.symbolSet));
                SpoolFormat(r, "\x1b(%dX", {static_cast<uint32_t>(c.fontId)});
                d.selectedSymbolSet = c.symbolSet;
                d.selectedFontId = c.fontId;
                d.selectedHeight = height;
                ForgetDeviceFont(r);
            }
        } else if (c.fontId != d.selectedFontId) {
            SpoolFormat(r, "\x1b(%dX", {static_cast<uint32_t>(c.fontId)});
            d.selectedFontId = c.fontId;
            d.selectedSymbolSet = 0xFFFF;
            ForgetDeviceFont(r);
        }
        MoveToX(r, glyphs[i].ptl.x);
        MoveToY(r, glyphs[i].ptl.y + r.bandTop);
        SpoolWrite(r, &c.code, 1);
        r.cursorX = -1;  // the printer advanced by its own width
    }
}

namespace {

// The character state a printer face's text leaves (its scale, shear,
// angle and bold value) would act on soft-font text too, and a bitmap font
// takes none of it (an interpreter refuses its characters as illegal font
// data): the plain state again, which the face's caches then know nothing of.
void PlainXlCharState(DeviceRecord& r) {
    FontState& f = r.fonts;
    if (f.xformKnown) {
        XlAttrSInt16XY(r, Attr::CharShear, 0, 0);
        XlOperator(r, Op::SetCharShear);
        XlAttrReal32XY(r, Attr::CharScale, 1.0f, 1.0f);
        XlOperator(r, Op::SetCharScale);
        XlAttrSInt16(r, Attr::CharAngle, 0);
        XlOperator(r, Op::SetCharAngle);
        f.xformKnown = false;
        f.xlSimItalic = false;
    }
    if (r.xl.boldValue) {
        XlAttrReal32(r, Attr::CharBoldValue, 0.0f);
        XlOperator(r, Op::SetCharBoldValue);
        r.xl.boldValue = false;
    }
}

void PrintXl(DeviceRecord& r, const TrueTypeSource& f, FontForm form, const std::vector<GLYPHPOS>& glyphs,
             const std::vector<GlyphCode>& codes) {
    PlainXlCharState(r);
    // The soft fonts' selections replace the printer face's.
    r.fonts.xlRow = 0;
    r.fonts.xlCharSize = -1;
    r.fonts.xlSymbolSet = 0xFFFF;
    const double em = EmPixels(f.xform, f.unitsPerEm);
    const FontXform& x = f.xform;
    const bool turned = form == FontForm::Outline && !(x.m12 == 0 && x.m21 == 0 && x.m11 > 0 && x.m22 > 0);
    const double along = std::hypot(x.m11, x.m12), across = std::hypot(x.m21, x.m22);
    const bool scaled = form == FontForm::Outline && std::lround(1000 * along) != std::lround(1000 * across);
    if (turned) {
        XlAttrReal32(r, Attr::CharAngle, static_cast<float>(std::atan2(-x.m12, x.m11) * 180 / 3.14159265358979));
        XlOperator(r, Op::SetCharAngle);
    }
    if (scaled) {
        XlAttrReal32XY(r, Attr::CharScale, static_cast<float>(along / across), 1.0f);
        XlOperator(r, Op::SetCharScale);
    }
    size_t i = 0;
    while (i < glyphs.size()) {
        size_t end = i + 1;
        while (end < glyphs.size() && codes[end].fontId == codes[i].fontId) ++end;
        const std::string name = std::to_string(codes[i].fontId);
        XlAttrReal32(r, Attr::CharSize, form == FontForm::Outline ? static_cast<float>(em) : 1.0f);
        XlAttrUInt16(r, Attr::SymbolSet, 629);
        XlAttrUByteArray(r, Attr::FontName, std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
        XlOperator(r, Op::SetFont);
        XlAttrSInt16XY(r, Attr::Point, static_cast<int16_t>(glyphs[i].ptl.x), static_cast<int16_t>(glyphs[i].ptl.y));
        XlOperator(r, Op::SetCursor);
        std::vector<uint8_t> text;
        std::vector<int16_t> dx, dy;
        for (size_t k = i; k < end; ++k) {
            text.push_back(codes[k].code);
            const bool last = k + 1 == end;
            dx.push_back(static_cast<int16_t>(last ? 0 : glyphs[k + 1].ptl.x - glyphs[k].ptl.x));
            dy.push_back(static_cast<int16_t>(last ? 0 : glyphs[k + 1].ptl.y - glyphs[k].ptl.y));
        }
        XlAttrUByteArray(r, Attr::TextData, text);
        XlAttrSInt16Array(r, Attr::XSpacingData, dx);
        XlAttrSInt16Array(r, Attr::YSpacingData, dy);
        XlOperator(r, Op::Text);
        i = end;
    }
    if (turned) {
        XlAttrReal32(r, Attr::CharAngle, 0);
        XlOperator(r, Op::SetCharAngle);
    }
    if (scaled) {
        XlAttrReal32XY(r, Attr::CharScale, 1.0f, 1.0f);
        XlOperator(r, Op::SetCharScale);
    }
}

}  // namespace

bool DownloadAndSendTrueTypeRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, BRUSHOBJ* pboFore,
                                POINTL*, MIX mix, const std::function<void()>& beforeText,
                                const std::function<void()>& afterText) {
    if (!pstro || !pfo || !(pfo->flFontType & FO_TYPE_TRUETYPE) || r.jobState < kJobOpen) return false;
    if (r.ttOption == 1 || r.outputMode != 1) return false;
    const bool xl = r.language == Language::PclXl;
    if (r.language != Language::MonoRaster && r.language != Language::Pcl5Gl2 && !xl) return false;
    if ((mix & 0xFF) != kMixCopyPen || !pboFore || PageIsMapped(r)) return false;
    // PCL 5 on a monochrome page: text prints in the current pattern, which
    // `beforeText` selects (without it, only black text, in the black it
    // starts with). Colour pages and pattern brushes stay with the graphics
    // path.
    if (!xl && (r.colour || pboFore->iSolidColor == BR_NOT_SOLID ||
                (!beforeText && (BRUSHOBJ_ulGetBrushColor(pboFore) & 0xFFFFFF))))
        return false;
    if (!xl && pco && pco->iDComplexity == DC_COMPLEX) return false;

    TrueTypeSource f;
    if (!ReadTrueTypeSource(pfo, f)) return false;
    std::vector<GLYPHPOS> glyphs = StringGlyphs(pstro, true);
    if (r.language == Language::MonoRaster) {
        // Each glyph prints once: in the band its origin lies in. A glyph of
        // another band reaching into this one may have been drawn there by
        // the engine, cut at the seam: this band draws its part the same way.
        for (const GLYPHPOS& p : glyphs) {
            if (p.ptl.y >= 0 && p.ptl.y < r.bandHeight) continue;
            const auto box = GlyphBox(pfo, p);
            if (box && box->top < r.bandHeight && box->bottom > 0) return false;
        }
        std::erase_if(glyphs, [&](const GLYPHPOS& p) { return p.ptl.y < 0 || p.ptl.y >= r.bandHeight; });
    }
    const auto rectanglesOnly = [&] {
        if (beforeText) beforeText();
        if (afterText) afterText();
        return true;
    };
    if (glyphs.empty()) return rectanglesOnly();
    if (!xl && pco && pco->iDComplexity == DC_RECT) {
        for (const GLYPHPOS& p : glyphs)
            if (!GlyphInside(pfo, p, pco->rclBounds)) return false;
    }

    OutlineChoice choice;
    choice.ttMode = r.ttOption;
    choice.dbcs = IsDbcsCharSet(f.winCharSet);
    choice.unitsPerEm = f.unitsPerEm;
    auto font = UsableTrueType(f.file, f.family);
    bool outline = UseTrueTypeOutline(r.language, choice, font.has_value(), f.xform);
    // The printer's outlines carry no simulated bold or italic, and PCL 5
    // places turned outline text in a turned coordinate system: the engine's
    // own glyph bits serve both.
    if (f.simulations) outline = false;
    if (!xl && !(f.xform.m11 > 0 && f.xform.m22 > 0)) outline = false;
    // A glyph whose outline cannot be read whole makes the run a bitmap run.
    for (size_t i = 0; outline && i < glyphs.size(); ++i) outline = GlyphIsSendable(*font, glyphs[i].hg);
    const FontForm form = outline ? FontForm::Outline : FontForm::Bitmap;
    if (xl && XlBrushPaintState(r, pco, pboFore, mix) == kXlNoSource) return true;
    if (r.language == Language::Pcl5Gl2) ResetGlMode(r, false);
    std::vector<GlyphCode> codes(glyphs.size());
    for (size_t i = 0; i < glyphs.size(); ++i)
        if (!EnsureGlyphDownloaded(r, f, form, glyphs[i].hg, codes[i])) return false;
    if (xl) {
        PrintXl(r, f, form, glyphs, codes);
    } else {
        if (beforeText) beforeText();
        PrintSoftFontGlyphs(r, f, form, glyphs, codes);
        if (afterText) afterText();
    }
    return r.jobState >= kJobOpen;
}

}  // namespace pclrend
