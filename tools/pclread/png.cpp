// A small 1-bit PNG writer (zlib for the image data).
#include <cstdio>
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

}  // namespace

bool WritePng(const Page& page, const std::string& path) {
    if (page.width <= 0 || page.height <= 0) return false;
    const size_t rowBytes = (static_cast<size_t>(page.width) + 7) / 8;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(page.height));
    for (int32_t y = 0; y < page.height; ++y) {
        raw.push_back(0);  // filter: none
        const uint8_t* row = page.bits.data() + static_cast<size_t>(y) * page.stride;
        for (size_t i = 0; i < rowBytes; ++i) raw.push_back(static_cast<uint8_t>(~row[i]));  // PNG grey: 1 = white
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Be32(ihdr, static_cast<uint32_t>(page.width));
    Be32(ihdr, static_cast<uint32_t>(page.height));
    ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});  // 1 bit, grey, deflate, no filter, no interlace
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace pclread
