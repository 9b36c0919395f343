// Replays the pages of a walked spool stream with the platform's engine, as
// the finishing library draws them: standard records through the metafile
// player at one unit a device pixel, the private ones by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vemfread/vemfread.h"

namespace vemfread {

// A replayed page: 24-bit pixels, red, green, blue, row after row.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint32_t At(int32_t x, int32_t y) const;  // 0x00RRGGBB
};

// The page as one standard metafile of `width` x `height` pixels: object
// handles renumbered, blits of record 108 and glyph strings of record 84
// turned into standard blits (strings in glyph fonts from their glyphs of
// record 111, strings in a printer face from the face's source font in the
// face table), records 106, 107, 111, 115 and 117 left out.
// Empty (with `error`) when the page cannot be converted.
std::vector<uint8_t> PageMetafile(const Page& page, int32_t width, int32_t height, std::string& error);

// Draws page `index` of `s` on a white surface of its printable size.
// False (with `error`) when the page cannot be converted or played.
bool Replay(const Stream& s, size_t index, Picture& out, std::string& error);

// Writes a picture as an 8-bit RGB PNG.
bool WritePicture(const Picture& p, const std::string& path);

}  // namespace vemfread
