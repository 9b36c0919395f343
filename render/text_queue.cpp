// The deferred text of colour raster pages: queueing with the glyph cache,
// rendering covered runs into the band, and the page-end output.
#include "render/text_queue.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "render/colour_raster.h"
#include "render/driver.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/rectangles.h"
#include "render/spool_stream.h"
#include "render/text_out.h"
#include "render/tt_seam.h"

namespace pclrend {

namespace {

constexpr uint8_t kEngineDrew = 0x04;
constexpr MIX kMixCopyPen = 13;
constexpr uint32_t kWhiteRgb = 0x00FFFFFF;

bool StrictlyInside(const RECTL& a, const RECTL& outer) {
    return a.left > outer.left && a.right < outer.right && a.top > outer.top && a.bottom < outer.bottom;
}

TextQueue& Queue(DeviceRecord& r) {
    if (!r.textQueue) r.textQueue = std::make_shared<TextQueue>();
    return *r.textQueue;
}

QueuedFont* FindFont(TextQueue& q, uint32_t fontId) {
    for (auto& f : q.queuedFonts)
        if (f->fontId == fontId) return f.get();
    return nullptr;
}

// The page rows only the current band holds: its bitmap's rows less those
// the bands before and after it also draw.
void OwnRows(const DeviceRecord& r, int32_t& top, int32_t& bottom) {
    top = r.bandTop;
    bottom = r.bandTop + r.band.height;
    if (r.bandCount > 1) {
        if (r.bandIndex > 1) top = std::max(top, ColourBandTop(r, r.bandIndex - 1, r.bandHeight) + r.bandHeight);
        if (r.bandIndex < static_cast<int32_t>(r.bandCount)) bottom = std::min(bottom, ColourBandTop(r, r.bandIndex + 1, r.bandHeight));
    }
    top = std::max(top, 0);
    bottom = std::min<int32_t>(bottom, r.PageHeight());
}

int32_t BandBottom(const DeviceRecord& r) { return r.bandTop + r.band.height; }

bool SameRun(const QueuedRun& a, const QueuedRun& b) {
    if (a.pixel != b.pixel || a.glyphs.size() != b.glyphs.size() || a.deviceFont != b.deviceFont) return false;
    for (size_t i = 0; i < a.glyphs.size(); ++i)
        if (a.glyphs[i].handle != b.glyphs[i].handle || a.glyphs[i].x != b.glyphs[i].x || a.glyphs[i].y != b.glyphs[i].y)
            return false;
    return true;
}

// A run's glyph bits into the band in its colour (the band's 24-bit pixels,
// as the engine writes a solid colour).
void RenderQueuedRun(DeviceRecord& r, const QueuedRun& run) {
    TextQueue& q = *r.textQueue;
    const QueuedFont* font = FindFont(q, run.fontId);
    SURFOBJ* so = BandSurface(r);
    if (!font || !so || so->iBitmapFormat != BMF_24BPP || !r.band.bits) return;
    const uint8_t colour[3] = {static_cast<uint8_t>(run.pixel), static_cast<uint8_t>(run.pixel >> 8),
                               static_cast<uint8_t>(run.pixel >> 16)};
    for (const QueuedPosition& p : run.glyphs) {
        const QueuedGlyph* g = font->Find(p.handle);
        if (!g) continue;
        const int32_t left = p.x + g->originX, top = p.y + g->originY - r.bandTop;
        const size_t rowBytes = (static_cast<size_t>(g->width) + 7) / 8;
        for (int32_t j = std::max(0, -top); j < g->height && top + j < r.band.height; ++j) {
            const uint8_t* bits = g->rows.data() + static_cast<size_t>(j) * rowBytes;
            uint8_t* row = r.band.bits + static_cast<ptrdiff_t>(top + j) * r.band.stride;
            for (int32_t i = std::max(0, -left); i < g->width && left + i < r.band.width; ++i)
                if ((bits[i >> 3] >> (7 - (i & 7))) & 1) std::memcpy(row + static_cast<ptrdiff_t>(left + i) * 3, colour, 3);
        }
    }
    r.pageFlags |= kEngineDrew;
}

void FlushOverlapping(DeviceRecord& r, const DrawnArea& given, const DrawnArea* inner, const QueuedRun* spared);

// The cached glyph of a handle, cached now when new; nullptr when the
// engine has no bits for it.
const QueuedGlyph* CachedGlyph(QueuedFont& font, FONTOBJ* pfo, uint32_t handle, bool embolden) {
    if (const QueuedGlyph* g = font.Find(handle)) return g;
    HGLYPH hg = handle;
    GLYPHDATA* gd = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)) != 1 || !gd || !gd->gdf.pgb)
        return nullptr;
    QueuedGlyph g = CacheGlyphBitmap(*gd, embolden);
    g.handle = handle;
    return &font.Add(std::move(g));
}

// The text colour, unless it is in force.
void SelectTextColour(DeviceRecord& r, uint32_t rgb, uint32_t& inForce) {
    if (rgb == inForce) return;
    const uint32_t colours[2] = {kWhiteRgb, rgb};
    SelectPalette(r, 0, colours, false, true, 0);
    if (r.patternState) SpoolWrite(r, "\x1b*v0T");
    r.patternState = 0;
    SpoolWrite(r, "\x1b*v1S");
    inForce = rgb;
}

// A run in a printer face: the face at the run's size, then each character
// at its glyph's place, turned as the font is.
void PrintDeviceRun(DeviceRecord& r, const QueuedRun& run, const QueuedFont& font) {
    const auto* e = FontRow(r, run.deviceFont);
    if (r.currentSymbolSet != run.deviceFont || (e->scalable && run.heightValue != r.lastFontHeight)) {
        r.lastFontHeight = static_cast<uint16_t>(run.heightValue);
        SendDeviceSelection(r, run.deviceFont, run.sizeValue);
    }
    const bool kind1 = e->charSet == 1, dbcs = IsDbcsCharset(e->charSet);
    const bool simItalic = dbcs && run.simItalic, simBold = dbcs && run.simBold;
    const float(&m)[6] = font.transform;
    const char* turn = PrintDirectionCommand(PrintDirection(m));
    if (simItalic) SpoolWrite(r, "\x1b(s1S");
    if (simBold) SpoolWrite(r, "\x1b(s5B");
    bool twoByte = false;
    for (size_t i = 0; i < run.glyphs.size(); ++i) {
        // Columns count from where the raster's do.
        MoveToX(r, run.glyphs[i].x + RasterLeft(r));
        MoveToY(r, run.glyphs[i].y);
        if (turn) SpoolWrite(r, turn);
        const char16_t ch = run.codes[i];
        if (kind1) {
            EmitMappedChar(r, run.deviceFont, ch);
        } else if (dbcs) {
            const std::string b = DbcsBytes(e->charSet, ch);
            const bool two = b.size() == 2 && (static_cast<uint8_t>(b[0]) & 0x80);
            if (!b.empty() && two != twoByte) SpoolWrite(r, two ? "\x1b&t38P" : "\x1b&t0P");
            if (!b.empty()) twoByte = two;
            SpoolWrite(r, b);
        } else {
            const uint8_t byte = static_cast<uint8_t>(ch);
            SpoolWrite(r, &byte, 1);
        }
        if (m[0] <= 0) {
            SpoolWrite(r, "\x1b&a0P");
            r.cursorY = -1;
        }
        r.cursorX = -1;  // the printer advanced by the face's own width
    }
    if (twoByte) SpoolWrite(r, "\x1b&t0P");
    if (simItalic) SpoolWrite(r, "\x1b(s0S");
    if (simBold) SpoolWrite(r, "\x1b(s0B");
    r.cursorX = r.cursorY = -1;
    // A soft font selected after this must be selected again.
    Downloads(r).selectedFontId = 0xFFFF;
    MarkFontUsed(r, run.deviceFont);
}

}  // namespace

void DrawFromCache(QueuedFont& font) {
    const QueuedFont* cached = &font;
    font.source.bitmap = [cached](uint32_t glyph, BitmapGlyph& out) {
        const QueuedGlyph* g = cached->Find(glyph);
        if (!g) return false;
        out.left = g->originX;
        out.top = g->originY;
        out.width = static_cast<uint32_t>(g->width);
        out.height = static_cast<uint32_t>(g->height);
        out.advanceQuarterDots = g->advance / 4;
        out.rows = g->rows;
        return true;
    };
}

const QueuedGlyph* QueuedFont::Find(uint32_t handle) const {
    const auto it = byHandle_.find(handle);
    return it == byHandle_.end() ? nullptr : &glyphs_[it->second];
}

const QueuedGlyph& QueuedFont::Add(QueuedGlyph g) {
    byHandle_[g.handle] = glyphs_.size();
    glyphs_.push_back(std::move(g));
    return glyphs_.back();
}

QueuedGlyph CacheGlyphBitmap(const GLYPHDATA& gd, bool embolden) {
    const GLYPHBITS& gb = *gd.gdf.pgb;
    QueuedGlyph g;
    g.originX = gb.ptlOrigin.x;
    g.originY = gb.ptlOrigin.y;
    g.width = std::max<LONG>(0, gb.sizlBitmap.cx);
    g.height = std::max<LONG>(0, gb.sizlBitmap.cy);
    g.advance = gd.fxD;
    const size_t rowBytes = (static_cast<size_t>(g.width) + 7) / 8;
    if (!embolden) {
        g.rows.assign(gb.aj, gb.aj + rowBytes * g.height);
        return g;
    }
    // Every set pixel covers the 3 x 3 block to its lower right.
    const int32_t w = g.width + 2, h = g.height + 2;
    const size_t out = (static_cast<size_t>(w) + 7) / 8;
    g.rows.assign(out * h, 0);
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x) {
            if (!((gb.aj[static_cast<size_t>(y) * rowBytes + x / 8] >> (7 - x % 8)) & 1)) continue;
            for (int32_t dy = 0; dy < 3; ++dy)
                for (int32_t dx = 0; dx < 3; ++dx)
                    g.rows[static_cast<size_t>(y + dy) * out + (x + dx) / 8] |= static_cast<uint8_t>(0x80 >> ((x + dx) % 8));
        }
    g.width = w;
    g.height = h;
    return g;
}

BOOL QueueTextRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                  BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix, const TextRunInfo& info) {
    if (r.language != Language::ColourRaster || !r.colour || !pstro || !pfo || !(pfo->flFontType & FO_TYPE_TRUETYPE))
        return FALSE;
    // Text the printer cannot print as it is drawn stays with the engine:
    // other mixes, pattern colours, pages drawn smaller, complex clips.
    if ((mix & 0xFF) != kMixCopyPen || !pboFore || pboFore->iSolidColor == BR_NOT_SOLID || PageIsMapped(r)) return FALSE;
    if (pco && pco->iDComplexity == DC_COMPLEX) return FALSE;
    SURFOBJ* band = BandSurface(r);
    if (!band || band->iBitmapFormat != BMF_24BPP) return FALSE;
    const IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    XFORMOBJ* pxo = FONTOBJ_pxoGetXform(pfo);
    if (!ifi || !pxo) return FALSE;
    // A printer face standing in for the font prints the string's
    // characters, one a glyph, at the size its selection asks for.
    const bool device = info.useDevice && info.deviceFont && FontRow(r, info.deviceFont);
    if (info.useDevice && !device) return FALSE;
    QueuedRun run;
    if (device) {
        if (!pstro->pwszOrg) return FALSE;
        run.deviceFont = info.deviceFont;
        const auto height = FontSizeValue(r, pfo, false, info);
        const auto size = SizedByPitch(r, info.deviceFont) ? FontSizeValue(r, pfo, true, info) : height;
        if (!height || !size) return FALSE;
        run.heightValue = *height;
        run.sizeValue = *size;
        run.simItalic = (pfo->flFontType & FO_SIM_ITALIC) != 0;
        run.simBold = info.simBold != 0;
        run.codes.assign(pstro->pwszOrg, pstro->pwszOrg + pstro->cGlyphs);
    }

    TextQueue& q = Queue(r);
    QueuedFont* font = FindFont(q, static_cast<uint32_t>(pfo->iUniq));
    std::unique_ptr<QueuedFont> made;
    if (!font) {
        made = std::make_unique<QueuedFont>();
        made->fontId = static_cast<uint32_t>(pfo->iUniq);
        XFORML x{};
        XFORMOBJ_iGetXform(pxo, &x);
        const float m[6] = {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
        std::copy(m, m + 6, made->transform);
        font = made.get();
    }
    // The soft font is made of the TrueType font: a run in a printer face
    // needs none.
    if (!font->hasSource) {
        if (ReadTrueTypeSource(pfo, font->source)) {
            DrawFromCache(*font);
            font->hasSource = true;
        } else if (!device) {
            return FALSE;
        }
    }
    const bool embolden = IsDbcsCharSet(ifi->jWinCharSet) && (pfo->flFontType & FO_SIM_BOLD);

    run.fontId = font->fontId;
    run.pixel = pboFore->iSolidColor;
    run.textColour = BRUSHOBJ_ulGetBrushColor(pboFore) & 0xFFFFFF;
    run.ink = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    const std::vector<GLYPHPOS> positions = StringGlyphs(pstro, false);
    LONG x = positions.empty() ? 0 : positions.front().ptl.x;
    for (size_t i = 0; i < positions.size(); ++i) {
        QueuedPosition p{static_cast<uint32_t>(positions[i].hg), positions[i].ptl.x, positions[i].ptl.y + r.bandTop};
        if (pstro->ulCharInc && i) p.x = x += static_cast<LONG>(pstro->ulCharInc);
        const QueuedGlyph* g = CachedGlyph(*font, pfo, p.handle, embolden);
        if (!g) return FALSE;
        if (g->width > 0 && g->height > 0) {
            run.ink.left = std::min(run.ink.left, p.x + g->originX);
            run.ink.top = std::min(run.ink.top, p.y + g->originY);
            run.ink.right = std::max(run.ink.right, p.x + g->originX + g->width);
            run.ink.bottom = std::max(run.ink.bottom, p.y + g->originY + g->height);
        }
        run.glyphs.push_back(p);
    }
    if (device && run.codes.size() != run.glyphs.size()) return FALSE;
    const bool inked = run.ink.left < run.ink.right;
    // The engine hands a run again in each band it reaches: it is queued
    // already (a run that was covered is drawn now, in its place).
    QueuedRun* again = nullptr;
    for (QueuedRun& other : q.queuedRuns) {
        if (!inked || other.band >= r.bandIndex || !SameRun(other, run)) continue;
        // The engine may make the font object anew: the same font is the
        // same file, face, size and simulations.
        const QueuedFont* was = FindFont(q, other.fontId);
        if (was && (was == font || (was->hasSource && font->hasSource && was->source.uniq == font->source.uniq)))
            again = &other;
    }
    if (!again && inked) {
        // The glyphs must lie whole in the rows only this band draws, on the
        // page, and inside the clip (a clip edge at the band's edge is the
        // band, not a clip).
        int32_t own0, own1;
        OwnRows(r, own0, own1);
        if (run.ink.top < own0 || run.ink.top >= own1 || run.ink.bottom > r.PageHeight() || run.ink.left < 0 ||
            run.ink.right > r.PageWidth())
            return FALSE;
        if (pco && pco->iDComplexity == DC_RECT) {
            const RECTL& c = pco->rclBounds;
            const bool topIsBand = c.top <= 0, bottomIsBand = c.bottom >= r.band.height;
            if (run.ink.left < c.left || run.ink.right > c.right) return FALSE;
            if (!topIsBand && run.ink.top < c.top + r.bandTop) return FALSE;
            if (!bottomIsBand && run.ink.bottom > c.bottom + r.bandTop) return FALSE;
        }
        // The glyphs go to the printer now: a font or glyph the printer's
        // memory cannot take leaves the run to the engine. A printer face
        // needs nothing sent.
        for (size_t i = 0; !device && i < run.glyphs.size(); ++i) {
            GlyphCode code;
            if (!EnsureGlyphDownloaded(r, font->source, FontForm::Bitmap, run.glyphs[i].handle, code)) return FALSE;
        }
    }
    if (made) q.queuedFonts.push_back(std::move(made));

    // The rectangles are drawn now, in their place among the page's
    // drawing; only the glyphs wait.
    auto fill = [&](const RECTL& given, BRUSHOBJ* brush) {
        RECTL rect = Ordered(given);
        if (Empty(rect)) return;
        RECTL area = rect;
        if (pco && pco->iDComplexity == DC_RECT) {
            area.left = std::max(area.left, pco->rclBounds.left);
            area.top = std::max(area.top, pco->rclBounds.top);
            area.right = std::min(area.right, pco->rclBounds.right);
            area.bottom = std::min(area.bottom, pco->rclBounds.bottom);
        }
        FlushOverlapping(r, {area.left, area.top, area.right, area.bottom}, nullptr, again);
        EngBitBlt(band, nullptr, nullptr, pco, nullptr, &rect, nullptr, nullptr, brush, pptlOrg, 0xF0F0);
        r.pageFlags |= kEngineDrew;
    };
    if (prclOpaque && pboOpaque) fill(*prclOpaque, pboOpaque);
    for (RECTL* e = prclExtra; e && (e->left || e->top || e->right || e->bottom); ++e) fill(*e, pboFore);
    if (again && again->partial && again->partialBand != r.bandIndex) {
        RenderQueuedRun(r, *again);
        again->partialBand = r.bandIndex;
    }
    if (inked && !again) {
        run.band = r.bandIndex;
        q.queuedRuns.push_back(std::move(run));
    }
    return TRUE;
}

void FlushOverlappingText(DeviceRecord& r, const DrawnArea& area, const DrawnArea* inner) {
    FlushOverlapping(r, area, inner, nullptr);
}

namespace {

// `spared`: the run whose own rectangles are being drawn.
void FlushOverlapping(DeviceRecord& r, const DrawnArea& given, const DrawnArea* inner, const QueuedRun* spared) {
    if (!r.textQueue || r.textQueue->queuedRuns.empty() || r.language != Language::ColourRaster) return;
    // Drawing reaches this band's rows only.
    RECTL area{given.left, given.top + r.bandTop, given.right, given.bottom + r.bandTop};
    area.top = std::max<LONG>(area.top, r.bandTop);
    area.bottom = std::min<LONG>(area.bottom, r.bandTop + r.band.height);
    if (Empty(area)) return;
    std::optional<RECTL> hollow;
    if (inner) hollow = RECTL{inner->left, inner->top + r.bandTop, inner->right, inner->bottom + r.bandTop};

    auto& runs = r.textQueue->queuedRuns;
    std::vector<QueuedRun*> order;
    for (QueuedRun& run : runs) order.push_back(&run);
    std::vector<bool> render(order.size(), false);
    for (size_t i = 0; i < order.size(); ++i)
        render[i] = !order[i]->partial && order[i] != spared && Overlap(order[i]->ink, area) &&
                    !(hollow && StrictlyInside(order[i]->ink, *hollow));
    // A run rendered into the band must not end up under an earlier run
    // that overlaps it and would print over it: that one is rendered first.
    for (size_t i = order.size(); i-- > 0;)
        if (render[i])
            for (size_t j = 0; j < i; ++j)
                if (!render[j] && !order[j]->partial && order[j] != spared && Overlap(order[j]->ink, order[i]->ink))
                    render[j] = true;
    size_t i = 0;
    for (auto it = runs.begin(); it != runs.end(); ++i) {
        if (!render[i]) {
            ++it;
            continue;
        }
        RenderQueuedRun(r, *it);
        if (it->ink.bottom > BandBottom(r)) {
            // Later bands hold more of it: they draw it where it comes again.
            it->partial = true;
            it->partialBand = r.bandIndex;
            ++it;
        } else {
            it = runs.erase(it);
        }
    }
}

}  // namespace

void CarryQueuedText(DeviceRecord& r) {
    if (!r.textQueue || r.language != Language::ColourRaster || r.bandCount <= 1) return;
    int32_t own0, own1;
    OwnRows(r, own0, own1);
    for (QueuedRun& run : r.textQueue->queuedRuns) {
        if (run.ink.top >= BandBottom(r) || run.ink.bottom <= r.bandTop) continue;
        if (run.partial) {
            // Covered in an earlier band, and not handed again in this one.
            if (run.partialBand == r.bandIndex) continue;
            run.partialBand = r.bandIndex;
        } else if (run.ink.bottom <= own1) {
            continue;  // this band holds the rest of it: it prints as text
        }
        RenderQueuedRun(r, run);
    }
}

int EmitQueuedText(DeviceRecord& r) {
    if (!r.textQueue) return 1;
    TextQueue& q = *r.textQueue;
    int result = 1;
    if (!q.queuedRuns.empty()) {
        const bool drawRequest = r.stream && r.stream->drawRequestOpen;
        SetPclRop(r, drawRequest ? 168 : 252);
        uint32_t colourInForce = 0xFFFFFFFF;
        for (const QueuedRun& run : q.queuedRuns) {
            if (run.partial) continue;  // drawn into the bands instead
            const QueuedFont* font = FindFont(q, run.fontId);
            if (!font || (run.deviceFont && !FontRow(r, run.deviceFont))) {
                result = 0;
                continue;
            }
            if (run.deviceFont) {
                SelectTextColour(r, run.textColour, colourInForce);
                PrintDeviceRun(r, run, *font);
                continue;
            }
            std::vector<GLYPHPOS> glyphs;
            std::vector<GlyphCode> codes;
            bool sendable = true;
            for (const QueuedPosition& p : run.glyphs) {
                GlyphCode code;
                if (!EnsureGlyphDownloaded(r, font->source, FontForm::Bitmap, p.handle, code)) {
                    sendable = false;
                    break;
                }
                GLYPHPOS g{};
                g.hg = p.handle;
                // Columns count from where the raster's do.
                g.ptl = {p.x + RasterLeft(r), p.y - r.bandTop};
                glyphs.push_back(g);
                codes.push_back(code);
            }
            // A run that cannot go is lost to this page alone: the runs
            // after it still print.
            if (!sendable) {
                result = 0;
                continue;
            }
            SelectTextColour(r, run.textColour, colourInForce);
            PrintSoftFontGlyphs(r, font->source, FontForm::Bitmap, glyphs, codes);
        }
        r.cursorX = r.cursorY = -1;
    }
    FreeQueuedText(r);
    return result;
}

void FreeQueuedText(DeviceRecord& r) {
    if (!r.textQueue) return;
    r.textQueue->queuedRuns.clear();
    r.textQueue->queuedFonts.clear();
}

}  // namespace pclrend
