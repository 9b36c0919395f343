// Device-independent bitmaps handed to the DC calls, as engine bitmaps.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "gdi/dc.h"

namespace zq::gdi {

struct Dib {
    std::shared_ptr<Bitmap> bitmap;    // a copy of the bits, rows as stored
    std::shared_ptr<Palette> palette;  // colour table or bit fields (null: the format's default)
    bool bottomUp = false;
};

// Checks the header and copies the image; `bits` null means a packed DIB
// (bits after the colour table). nullopt with last error 87 when the header
// is not one the engine draws (compressed, DIB_PAL_COLORS, bad sizes).
std::optional<Dib> LoadDib(const BITMAPINFO* info, const void* bits, UINT usage);

// A DIB of the header's size and colours with bits all zero: the header
// alone is read (CreateDIBSection).
std::optional<Dib> NewDib(const BITMAPINFO* info, UINT usage);

// The same for a packed DIB held in `bytes` (header, masks or colour table,
// bits): nothing is read outside them.
std::optional<Dib> LoadPackedDib(std::span<const BYTE> bytes, UINT usage = DIB_RGB_COLORS);

// Expands run-length encoded rows (BI_RLE8 with 8 bits a pixel, BI_RLE4 with
// 4) into uncompressed bottom-up rows of `width` x `height`, each padded to
// 4 bytes; pixels the runs skip or leave out stay 0. Nothing is read past
// `in` or written past the image; false when the runs are damaged.
bool DecodeRle(std::span<const BYTE> in, int bitCount, LONG width, LONG height, std::vector<BYTE>& out);

// A bitmap handle owning the DIB's bits and colours; from packed bytes, null
// (last error 87) when they are not a DIB the engine draws.
HBITMAP BitmapFromDib(const Dib& dib);
HBITMAP BitmapFromPackedDib(std::span<const BYTE> bytes);

}  // namespace zq::gdi
