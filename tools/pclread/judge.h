// Judging a printed page against an expected one: both reduced to a coarse
// grey picture by averaging, then the mean difference, the worst block and
// the extent of the ink compared. Written apart from the engine so that it
// judges the pages of an outside interpreter and an outside renderer.
#pragma once

#include <cstdint>
#include <optional>
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

// A binary or plain PGM (8-bit) or binary PBM, as the outside interpreter writes them.
std::optional<Grey> ReadPnm(const std::string& path);

}  // namespace pclread
