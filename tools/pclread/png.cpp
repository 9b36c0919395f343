// A small 1-bit PNG writer and a reader of the plain PNG forms the engine
// and this writer produce (zlib for the image data).
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include <zlib.h>

#include "pclread/pclread.h"

namespace pclread {

namespace {

void Be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Be32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    Be32(out, static_cast<uint32_t>(crc));
}

uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the row filters in place; `bpp` is the filter's byte distance.
bool Unfilter(std::vector<uint8_t>& raw, size_t rowBytes, size_t rows, size_t bpp) {
    std::vector<uint8_t> zero(rowBytes, 0);
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* line = raw.data() + y * (rowBytes + 1);
        const uint8_t filter = line[0];
        uint8_t* cur = line + 1;
        const uint8_t* up = y ? raw.data() + (y - 1) * (rowBytes + 1) + 1 : zero.data();
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? cur[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
            switch (filter) {
                case 0: break;
                case 1: cur[i] = static_cast<uint8_t>(cur[i] + a); break;
                case 2: cur[i] = static_cast<uint8_t>(cur[i] + b); break;
                case 3: cur[i] = static_cast<uint8_t>(cur[i] + (a + b) / 2); break;
                case 4: cur[i] = static_cast<uint8_t>(cur[i] + Paeth(a, b, c)); break;
                default: return false;
            }
        }
    }
    return true;
}

}  // namespace

namespace {

// A PNG of the plain forms, its rows unfiltered (each still led by its
// filter byte).
struct DecodedPng {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, kind = 0;
    size_t channels = 0, rowBytes = 0;
    std::vector<uint8_t> raw;
    const uint8_t* Row(size_t y) const { return raw.data() + y * (rowBytes + 1) + 1; }
    size_t Colours() const { return kind == 4 || kind == 6 ? channels - 1 : channels; }  // alpha is not a colour
};

std::optional<DecodedPng> DecodePng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    static constexpr uint8_t kMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || !std::equal(kMagic, kMagic + 8, file.begin())) return std::nullopt;
    DecodedPng png;
    uint8_t interlace = 1;
    std::vector<uint8_t> packed;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const uint32_t length = ReadBe32(&file[pos]);
        if (length > file.size() - pos - 12) return std::nullopt;
        const uint8_t* type = &file[pos + 4];
        const uint8_t* data = &file[pos + 8];
        if (std::equal(type, type + 4, "IHDR") && length >= 13) {
            png.width = ReadBe32(data);
            png.height = ReadBe32(data + 4);
            png.depth = data[8];
            png.kind = data[9];
            interlace = data[12];
        } else if (std::equal(type, type + 4, "IDAT")) {
            packed.insert(packed.end(), data, data + length);
        } else if (std::equal(type, type + 4, "IEND")) {
            break;
        }
        pos += 12 + length;
    }
    // Grey (0), RGB (2), grey and alpha (4), RGBA (6) at 8 bits; 1-bit grey.
    const uint8_t kind = png.kind;
    if (png.depth == 8) png.channels = kind == 0 ? 1 : kind == 2 ? 3 : kind == 4 ? 2 : kind == 6 ? 4 : 0;
    else if (png.depth == 1 && kind == 0) png.channels = 1;
    if (!png.channels || interlace || !png.width || !png.height || png.width > 1u << 16 || png.height > 1u << 16)
        return std::nullopt;
    png.rowBytes = png.depth == 1 ? (png.width + 7) / 8 : png.width * png.channels;
    png.raw.resize((png.rowBytes + 1) * png.height);
    uLongf rawSize = static_cast<uLongf>(png.raw.size());
    if (uncompress(png.raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        rawSize != png.raw.size() || !Unfilter(png.raw, png.rowBytes, png.height, png.depth == 1 ? 1 : png.channels))
        return std::nullopt;
    return png;
}

}  // namespace

std::optional<Grey> ReadGreyPng(const std::string& path) {
    auto png = DecodePng(path);
    if (!png) return std::nullopt;
    Grey g(static_cast<int32_t>(png->width), static_cast<int32_t>(png->height));
    for (size_t y = 0; y < png->height; ++y) {
        const uint8_t* src = png->Row(y);
        uint8_t* out = g.v.data() + y * png->width;
        for (size_t x = 0; x < png->width; ++x) {
            if (png->depth == 1) {
                out[x] = (src[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
                continue;
            }
            const uint8_t* px = src + x * png->channels;
            // Luminance of the colour samples (ITU-R 601 weights).
            out[x] = png->Colours() == 3 ? static_cast<uint8_t>((299 * px[0] + 587 * px[1] + 114 * px[2] + 500) / 1000)
                                         : px[0];
        }
    }
    return g;
}

std::optional<Page> ReadPng(const std::string& path) {
    auto png = DecodePng(path);
    if (!png) return std::nullopt;
    const uint32_t width = png->width, height = png->height;
    const uint8_t depth = png->depth;
    const size_t rowBytes = png->rowBytes, channels = png->channels;
    Page page;
    page.width = static_cast<int32_t>(width);
    page.height = static_cast<int32_t>(height);
    page.stride = (page.width + 7) / 8;
    page.bits.assign(static_cast<size_t>(page.stride) * height, 0);
    size_t colourFrom = 0;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* src = png->Row(y);
        uint8_t* out = page.bits.data() + y * static_cast<size_t>(page.stride);
        if (depth == 1) {
            for (size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(~src[i]);
            if (width % 8) out[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width % 8));
            continue;
        }
        const size_t colours = png->Colours();
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* px = src + x * channels;
            bool black = true, white = true;
            for (size_t c = 0; c < colours; ++c) black &= px[c] == 0, white &= px[c] == 255;
            if (black) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            // A page in colour keeps its colours, as decoded colour pages do.
            if (colours >= 3 && !black && !white && page.rgb.empty())
                page.rgb.assign(static_cast<size_t>(width) * height * 3, 255), colourFrom = y;
        }
        if (!page.rgb.empty())
            for (size_t x = 0; x < width; ++x) std::copy_n(src + x * channels, 3, &page.rgb[(y * width + x) * 3]);
    }
    // Rows before the first colour was met, once more in colour.
    for (size_t y = 0; !page.rgb.empty() && y < colourFrom; ++y)
        for (size_t x = 0; x < width; ++x) std::copy_n(png->Row(y) + x * channels, 3, &page.rgb[(y * width + x) * 3]);
    return page;
}

std::optional<Page> ReadRgbPng(const std::string& path) {
    auto page = ReadPng(path);
    auto png = page ? DecodePng(path) : std::nullopt;
    if (!png || png->depth != 8) return page;
    page->rgb.assign(static_cast<size_t>(page->width) * page->height * 3, 0);
    const size_t colours = png->Colours();
    for (size_t y = 0; y < png->height; ++y) {
        const uint8_t* src = png->Row(y);
        uint8_t* out = &page->rgb[y * png->width * 3];
        for (size_t x = 0; x < png->width; ++x, out += 3) {
            const uint8_t* px = src + x * png->channels;
            for (size_t c = 0; c < 3; ++c) out[c] = px[colours >= 3 ? c : 0];
        }
    }
    return page;
}

std::vector<uint8_t> PngBytes(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                              std::span<const uint8_t> filteredRows) {
    uLongf packedSize = compressBound(static_cast<uLong>(filteredRows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, filteredRows.data(), static_cast<uLong>(filteredRows.size()), 6) != Z_OK)
        return {};
    packed.resize(packedSize);
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Be32(ihdr, width);
    Be32(ihdr, height);
    ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});  // deflate, filters of method 0, no interlace
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", {});
    return out;
}

namespace {

bool WriteFile(const std::vector<uint8_t>& out, const std::string& path) {
    if (out.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

bool WritePng(const Page& page, const std::string& path) {
    if (page.width <= 0 || page.height <= 0) return false;
    if (!page.rgb.empty()) {
        const size_t rowBytes = static_cast<size_t>(page.width) * 3;
        std::vector<uint8_t> raw;
        raw.reserve((rowBytes + 1) * static_cast<size_t>(page.height));
        for (int32_t y = 0; y < page.height; ++y) {
            raw.push_back(0);
            const auto row = page.rgb.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(y) * rowBytes);
            raw.insert(raw.end(), row, row + static_cast<ptrdiff_t>(rowBytes));
        }
        return WriteFile(PngBytes(static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height), 8, 2, raw), path);
    }
    const size_t rowBytes = (static_cast<size_t>(page.width) + 7) / 8;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(page.height));
    for (int32_t y = 0; y < page.height; ++y) {
        raw.push_back(0);  // filter: none
        const uint8_t* row = page.bits.data() + static_cast<size_t>(y) * page.stride;
        for (size_t i = 0; i < rowBytes; ++i) raw.push_back(static_cast<uint8_t>(~row[i]));  // PNG grey: 1 = white
    }
    return WriteFile(PngBytes(static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height), 1, 0, raw), path);
}

bool WriteGreyPng(const Grey& g, const std::string& path) {
    if (g.width <= 0 || g.height <= 0) return false;
    std::vector<uint8_t> raw;
    raw.reserve((static_cast<size_t>(g.width) + 1) * static_cast<size_t>(g.height));
    for (int32_t y = 0; y < g.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), g.v.begin() + static_cast<ptrdiff_t>(y) * g.width, g.v.begin() + static_cast<ptrdiff_t>(y + 1) * g.width);
    }
    return WriteFile(PngBytes(static_cast<uint32_t>(g.width), static_cast<uint32_t>(g.height), 8, 0, raw), path);
}

}  // namespace pclread
