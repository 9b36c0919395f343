// Judging a printed page against an expected one: both reduced to a coarse
// grey picture by averaging, then the mean difference, the worst block and
// the extent of the ink compared. Written apart from the engine so that it
// judges the pages of an outside interpreter and an outside renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pclread/pclread.h"

namespace pclread {

// The extent of what is darker than a threshold, right and bottom exclusive;
// empty when right <= left.
struct InkBox {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
};

struct Figures {
    double meanDiff = 0;     // mean absolute difference per pixel, 0..255
    double worstBlock = 0;   // largest mean absolute difference of one 8 x 8 block, 0..255
    double inkOffMm = 0;     // largest distance between the two ink boxes' edges, millimetres
    InkBox printed, expected;
};

// Where a comparison passes; the values stand beside the tests that use them.
struct Thresholds {
    double meanDiff;
    double worstBlock;
    double inkOffMm;
};
bool Within(const Figures& f, const Thresholds& t);

// Averages `factor` x `factor` blocks into one pixel (a partial block at the
// right or bottom edge over the pixels it has).
Grey Reduce(const Grey& g, int factor);

// A 1-bit page as grey: black 0, white 255.
Grey ToGrey(const Page& page);

// `page` onto a white sheet of `width` x `height` at (`x`, `y`); what falls
// off the sheet is cut.
Grey Place(const Grey& page, int32_t width, int32_t height, int32_t x, int32_t y);

// Pixels darker than `threshold`.
InkBox FindInk(const Grey& g, uint8_t threshold = 160);

// Both pictures at `dpi`, of one size (else nullopt).
std::optional<Figures> Judge(const Grey& printed, const Grey& expected, int dpi);

// A printed sheet at `dpi` whose page starts at (`x`, `y`) dots, against the
// expected page at `expectedDpi`: both reduced to 75 dpi on the page's own
// grid, from its corner on, so that an offset of no whole number of 75 dpi
// pixels rounds neither apart. Ink boxes count from the page's corner.
// nullopt when a resolution is no multiple of 75, `expectedDpi` does not
// divide `dpi`, or the corner lies off the sheet.
std::optional<Figures> JudgeAgainstExpected(const Grey& sheet, int dpi, int32_t x, int32_t y, const Grey& expected,
                                            int expectedDpi);

// A PCL XL sheet against the expected sheet (the engine's pages placed on
// it), both of one size. Printers draw edges each by their own rules and
// halftone grey each in their own way, so ink (below 128) counts as extra or
// missing only when the other picture has none within one pixel, and only
// outside the 16 x 16 blocks `greyBlocks` marks; the mean grey of every
// 16 x 16 block is compared everywhere.
constexpr int32_t kToneBlock = 16;
constexpr int kToneBound = 40;  // largest difference of a block's mean grey, 0..255
struct SheetMatch {
    int64_t extra = 0, missing = 0, expectedInk = 0;
    int worstTone = 0;
    int32_t worstX = 0, worstY = 0;  // the worst block's top-left
    bool Passes() const { return extra + missing == 0 && worstTone <= kToneBound; }
};
// An area held to a rule of its own (sheet pixels, right and bottom
// exclusive): in the blocks it touches ink counts as near within `radius`
// and tone is not compared (radius above 1), or nothing is compared at all
// (`leftOut`).
struct LooseArea {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t radius = 1;
    bool leftOut = false;
};
// Around the glyphs of `text` (characters the decoded sheet drew from
// fonts) ink counts as near within the glyph's tolerance rather than one
// pixel, and their blocks' tone is not compared; `loose` areas likewise by
// their own rules. `lean`: the printed ink may lie that many pixels further
// right and down than the one pixel either way (a printer that places two
// kinds of drawing a pixel apart).
std::optional<SheetMatch> MatchSheet(const Grey& printed, const Grey& expected, const std::vector<uint8_t>& greyBlocks,
                                     std::span<const TextGlyph> text = {}, std::span<const LooseArea> loose = {},
                                     int32_t lean = 0);

// The 16 x 16 blocks of a decoded sheet holding a grey that is neither
// black nor white (grey fills and images), row after row of blocks.
std::vector<uint8_t> GreyBlocks(const Grey& decoded);

// One verdict line of a match, without commas.
std::string Verdict(const SheetMatch& m);

// `g` scaled by area averaging (each output pixel the mean of what it covers).
Grey Scale(const Grey& g, double sx, double sy);

// A decoded PCL XL sheet as grey.
Grey ToGrey(const GreyPage& sheet);

// A binary or plain PGM (8-bit) or binary PBM, as the outside interpreter writes them.
std::optional<Grey> ReadPnm(const std::string& path);

}  // namespace pclread
