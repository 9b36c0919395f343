// The deferred text of colour raster pages (language 5). The engine draws
// those pages into 24-bit bands, but TrueType text is to print as text: its
// glyphs wait in a queue and go out as bitmap soft-font text after the
// page's last band. Drawing that comes later and covers a queued run first
// renders the run into the band (its cached glyph bits in its colour), so the
// page keeps the engine's painting order.
//
// A TrueType string that a printer face stands in for (a substitution) is
// queued the same way and printed at the page end in that face: its
// characters wait beside the glyph bits, which serve when the run is
// covered and must be drawn into a band.
//
// A run is queued in the band whose own rows (those no other band holds) it
// starts in; a run that starts in rows two bands share is drawn by the
// engine in both. When it reaches into later bands, each band but the last
// it reaches is sent with the run drawn in (text printed over its own glyph bits changes
// nothing), so that a later band that covers the run can leave it out of
// the text: the bands that hold its upper part already show it. The engine
// hands the run again in every band it reaches; those calls are known by
// their glyphs and positions. Raster sent after text would cover it (bands
// go out opaque), so queued glyphs are sent only once every band has been.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "gdi/ddi.h"
#include "gdi/ddi_font.h"
#include "render/colour_raster.h"
#include "render/device_record.h"
#include "render/text_out.h"
#include "render/tt_download.h"

namespace pclrend {

// A glyph's bits as the engine drew them, kept for the page: rows of
// (width + 7) / 8 bytes, top row first, leftmost pixel in bit 7.
struct QueuedGlyph {
    uint32_t handle = 0;
    int32_t originX = 0, originY = 0;  // the bitmap's top left from the glyph position
    int32_t width = 0, height = 0;
    int32_t advance = 0;               // 28.4
    std::vector<uint8_t> rows;
};

// One engine font used by queued text on the page, with its cached glyphs.
struct QueuedFont {
    uint32_t fontId = 0;    // the font object's iUniq
    TrueTypeSource source;  // what the bitmap soft font is made of
    bool hasSource = false;  // source read (runs in a printer face need none)
    // The font's transform (eM11, eM12, eM21, eM22, eDx, eDy): the print
    // direction of its runs in a printer face.
    float transform[6] = {1, 0, 0, 1, 0, 0};
    const QueuedGlyph* Find(uint32_t handle) const;
    const QueuedGlyph& Add(QueuedGlyph g);

private:
    std::vector<QueuedGlyph> glyphs_;
    std::unordered_map<uint32_t, size_t> byHandle_;  // index into glyphs_
};

struct QueuedPosition {
    uint32_t handle = 0;
    int32_t x = 0, y = 0;  // page pixels
};

// One queued string. Coordinates are page pixels (band row + bandTop).
struct QueuedRun {
    uint32_t fontId = 0;
    RECTL ink{};               // the union of its glyphs' bits
    uint32_t pixel = 0;        // the text colour as a band pixel
    uint32_t textColour = 0;   // and as 0xBBGGRR for the printer
    int32_t band = 0;          // the band it was queued in
    // Covered in a band while it reaches into bands after it: it will not
    // print, and each later band draws it where the engine hands it again.
    bool partial = false;
    int32_t partialBand = -1;  // the band it was last drawn into
    std::vector<QueuedPosition> glyphs;
    // A run printed in a printer face: its summary row (0 for a TrueType
    // run), the value of its selection's size placeholder, the height last
    // selected (hundredths of a point), simulations of a double-byte face,
    // and its characters, one per glyph.
    uint32_t deviceFont = 0;
    uint32_t sizeValue = 0;
    uint32_t heightValue = 0;
    bool simItalic = false, simBold = false;
    std::vector<char16_t> codes;
};

struct TextQueue {
    std::vector<std::unique_ptr<QueuedFont>> queuedFonts;
    std::list<QueuedRun> queuedRuns;
};

// Queues a string of a TrueType font (language 5), in the printer face
// `info` names when it is substituted. Non-zero when it waits for the page
// end; 0 when the caller must draw it into the band itself (after
// FlushOverlappingText over it). The opaque and extra rectangles go into
// the band at once: only the glyphs wait.
BOOL QueueTextRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                  BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix, const TextRunInfo& info = {});

// Drawing over `area` (band pixels) is about to be made: every queued run it
// may cover is rendered into the band first, with every earlier run that
// overlaps one rendered, in queue order. Runs strictly inside `inner` (the
// hollow of a stroke) stay queued.
void FlushOverlappingText(DeviceRecord& r, const DrawnArea& area, const DrawnArea* inner = nullptr);

// Before a band is sent: the runs it holds part of that reach into later
// bands are drawn into it (a covered run where no call drew it again).
void CarryQueuedText(DeviceRecord& r);

// Sends the queued runs as text (page end, after the last band) and empties
// the queue. A run whose font is missing or whose glyphs cannot be sent is
// skipped and the others still go: the answer is then 0, else 1.
int EmitQueuedText(DeviceRecord& r);

// Drops the page's queue (a new page, or a page that is not printed).
void FreeQueuedText(DeviceRecord& r);

// Makes the font's soft font draw its glyphs from the cache (the engine's
// font object is gone by the page end).
void DrawFromCache(QueuedFont& font);

// A glyph's bits for the cache: a double-byte font with simulated bold is
// emboldened, 2 pixels wider and 2 rows taller, every set pixel covering a
// 3 x 3 block.
QueuedGlyph CacheGlyphBitmap(const GLYPHDATA& gd, bool embolden);

}  // namespace pclrend
