// Judging a replayed page against the engine's reference render. Text in a
// logical font is drawn by the player from the face at a whole-pixel height
// where the engine drew it at a fractional one, so it is judged glyph by
// glyph: each glyph's ink box within a pixel of the reference's. Every other
// pixel keeps its grey level (within one step).
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vemfread/vemfread.h"

namespace vemfread {

// A box of pixels; `right` and `bottom` are exclusive for a run's box and
// inclusive for an ink box (right < 0 when there is no ink).
struct Box {
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};

// Where a page's text stands, for each string the stream draws in a logical
// font (records 82, 37 and 84): a box round the string, and the left edge of
// each glyph's cell (its origin; the first from the box's left). A string on
// a turned baseline is one cell. The box reaches into the lines above and
// below; the string's own ink is the ink whose middle lies between `top`
// and `bottom` (an em above the baseline to half an em below it; the whole
// box on a turned baseline).
struct TextRun {
    Box box;
    std::vector<int32_t> cells;
    int32_t top = INT32_MIN, bottom = INT32_MAX;
};
std::vector<TextRun> LogicalFontRuns(const Page& page);

// The grey level of pixel (x, y) of a page.
using GreyAt = std::function<int(int32_t, int32_t)>;

// The glyphs of `runs` whose ink box (ink: grey below 254) is not within a
// pixel of the reference's, described.
std::vector<std::string> GlyphInkOff(const std::vector<TextRun>& runs, int32_t width, int32_t height, const GreyAt& mine,
                                     const GreyAt& theirs);

bool InAnyBox(const std::vector<TextRun>& runs, int32_t x, int32_t y);

// The grey of a colour 0x00RRGGBB, as the reference renders store it.
int Grey(uint32_t rgb);

// Pixels whose grey differs by more than one step from the reference's,
// outside the boxes of `skip`; `far` counts those whose grey the reference
// has nowhere within one pixel (an edge moved by a pixel has it beside it),
// `firstFar` says where the first is.
size_t GreyDifferences(const std::vector<TextRun>& skip, int32_t width, int32_t height, const GreyAt& mine,
                       const GreyAt& theirs, size_t& far, std::string* firstFar = nullptr);

// The whole judgement of one page: "same as the reference", or how many
// pixels outside the text differ (how many not within a pixel, and where
// the first is) and how many glyphs are off. `sameOut` tells which.
std::string JudgePage(const std::vector<TextRun>& runs, int32_t width, int32_t height, const GreyAt& mine,
                      const GreyAt& theirs, bool* sameOut = nullptr);

}  // namespace vemfread
