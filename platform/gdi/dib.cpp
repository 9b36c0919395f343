// Device-independent bitmaps: header checks, colour tables and bit fields,
// and the copy into an engine bitmap of the same row order.
#include <cstring>
#include <vector>

#include "base/error.h"
#include "gdi/dib.h"

namespace zq::gdi {

namespace {

// Where the bits of a DIB come from.
enum class Bits { Packed, Given, Zeroed };

std::optional<Dib> MakeDib(const BITMAPINFO* info, Bits from, const void* bits, UINT usage) {
    auto fail = [] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    };
    if (!info || usage != DIB_RGB_COLORS) return fail();
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == INT32_MIN)
        return fail();
    ULONG format = 0;
    switch (h.biBitCount) {
        case 1: format = BMF_1BPP; break;
        case 4: format = BMF_4BPP; break;
        case 8: format = BMF_8BPP; break;
        case 16: format = BMF_16BPP; break;
        case 24: format = BMF_24BPP; break;
        case 32: format = BMF_32BPP; break;
        default: return fail();
    }
    const bool fields = h.biCompression == BI_BITFIELDS;
    if (h.biCompression != BI_RGB && !(fields && (h.biBitCount == 16 || h.biBitCount == 32))) return fail();
    const LONG height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const int64_t stride = (int64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    if (stride * height > 0x7FFFFFFF) return fail();

    const BYTE* base = reinterpret_cast<const BYTE*>(info);
    const BYTE* colors = base + h.biSize;
    Dib dib;
    dib.bottomUp = h.biHeight > 0;
    size_t tableBytes = 0;
    if (fields) {
        DWORD masks[3];
        std::memcpy(masks, colors, sizeof(masks));
        tableBytes = sizeof(masks);
        dib.palette = std::make_shared<Palette>();
        dib.palette->mode = PAL_BITFIELDS;
        dib.palette->red = masks[0];
        dib.palette->green = masks[1];
        dib.palette->blue = masks[2];
    } else if (h.biBitCount <= 8) {
        DWORD count = h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount);
        if (count > (1u << h.biBitCount)) return fail();
        dib.palette = std::make_shared<Palette>();
        dib.palette->mode = PAL_INDEXED;
        for (DWORD i = 0; i < count; ++i) {
            RGBQUAD q;
            std::memcpy(&q, colors + 4 * i, 4);
            dib.palette->entries.push_back(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
        }
        // Indices past a short colour table show black.
        dib.palette->entries.resize(size_t(1) << h.biBitCount, 0);
        tableBytes = 4 * size_t(count);
    }
    // Deeper images may carry an optional colour table before their bits.
    if (!fields && h.biBitCount > 8) tableBytes = 4 * size_t(h.biClrUsed);
    dib.bitmap = std::make_shared<Bitmap>(h.biWidth, height, format, dib.bottomUp ? 0 : BMF_TOPDOWN);
    if (!*dib.bitmap) return std::nullopt;
    const BYTE* data = from == Bits::Given ? static_cast<const BYTE*>(bits)
                       : from == Bits::Packed ? colors + tableBytes
                                              : nullptr;
    // Engine bitmaps start zeroed, which is what a new section holds.
    if (data) std::memcpy(dib.bitmap->Get()->pvBits, data, size_t(stride) * height);
    if (dib.palette) dib.bitmap->Get()->palette = dib.palette.get();
    return dib;
}

}  // namespace

std::optional<Dib> LoadDib(const BITMAPINFO* info, const void* bits, UINT usage) {
    return MakeDib(info, bits ? Bits::Given : Bits::Packed, bits, usage);
}

std::optional<Dib> NewDib(const BITMAPINFO* info, UINT usage) { return MakeDib(info, Bits::Zeroed, nullptr, usage); }

std::optional<Dib> LoadPackedDib(std::span<const BYTE> bytes, UINT usage) {
    auto fail = [] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    };
    if (bytes.size() < sizeof(BITMAPINFOHEADER)) return fail();
    BITMAPINFOHEADER h;
    std::memcpy(&h, bytes.data(), sizeof(h));
    if (h.biSize < sizeof(h) || h.biSize > bytes.size() || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == INT32_MIN || h.biBitCount == 0 || h.biBitCount > 32)
        return fail();
    size_t table = 0;
    if (h.biCompression == BI_BITFIELDS) table = 12;
    else if (h.biBitCount <= 8) table = 4 * size_t(h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount));
    else table = 4 * size_t(h.biClrUsed);
    const uint64_t height = h.biHeight < 0 ? uint64_t(-int64_t(h.biHeight)) : uint64_t(h.biHeight);
    const uint64_t stride = (uint64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    const uint64_t need = uint64_t(h.biSize) + table + stride * height;
    if (table > (1u << 10) || need > bytes.size()) return fail();
    // The header is copied to aligned storage before it is read as one.
    std::vector<BYTE> aligned(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(h.biSize + table));
    aligned.resize(aligned.size() + 4);
    return LoadDib(reinterpret_cast<const BITMAPINFO*>(aligned.data()), bytes.data() + h.biSize + table, usage);
}

bool DecodeRle(std::span<const BYTE> in, int bitCount, LONG width, LONG height, std::vector<BYTE>& out) {
    if ((bitCount != 4 && bitCount != 8) || width <= 0 || height <= 0) return false;
    const size_t stride = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    out.assign(stride * static_cast<size_t>(height), 0);
    LONG x = 0, y = 0;  // y counts rows from the bottom, as they are stored
    auto put = [&](BYTE index) {
        if (x < width && y < height) {
            BYTE* row = out.data() + stride * static_cast<size_t>(y);
            if (bitCount == 8) {
                row[x] = index;
            } else {
                BYTE& b = row[x / 2];
                b = static_cast<BYTE>(x % 2 ? (b & 0xF0) | (index & 0x0F) : (b & 0x0F) | (index << 4));
            }
        }
        ++x;
    };
    size_t at = 0;
    while (at + 2 <= in.size()) {
        const BYTE count = in[at], value = in[at + 1];
        at += 2;
        if (count > 0) {  // a run: the value (or, in 4 bits, its two nibbles in turn)
            for (int i = 0; i < count; ++i) put(bitCount == 8 ? value : (i % 2 ? value & 0x0F : value >> 4));
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // delta: right and up
            if (at + 2 > in.size()) return false;
            x += in[at];
            y += in[at + 1];
            at += 2;
        } else {  // absolute: `value` pixels follow, padded to a word
            const size_t bytes = bitCount == 8 ? value : (value + 1u) / 2;
            if (at + bytes > in.size()) return false;
            for (int i = 0; i < value; ++i)
                put(bitCount == 8 ? in[at + static_cast<size_t>(i)]
                                  : (i % 2 ? in[at + static_cast<size_t>(i / 2)] & 0x0F : in[at + static_cast<size_t>(i / 2)] >> 4));
            at += bytes + (bytes % 2);
        }
        if (y >= height) return true;
    }
    // Runs that end without their end-of-bitmap mark keep what they drew.
    return true;
}

}  // namespace zq::gdi

namespace zq::gdi {

HBITMAP BitmapFromDib(const Dib& dib) {
    auto* obj = new BitmapObject();
    obj->bitmap = dib.bitmap;
    obj->palette = dib.palette;
    if (dib.palette) obj->bitmap->Get()->palette = obj->palette.get();
    return static_cast<HBITMAP>(obj->Handle());
}

HBITMAP BitmapFromPackedDib(std::span<const BYTE> bytes) {
    auto dib = LoadPackedDib(bytes);
    return dib ? BitmapFromDib(*dib) : nullptr;
}

}  // namespace zq::gdi
