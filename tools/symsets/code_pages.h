// The six single-byte symbol sets the renderer prints Unicode text through,
// with the code page each is made from (iconv's name) and the TrueType
// code-page-range bit that marks a device font covering it. Shared by the
// table writer and the resident-font generator, so that a font's coverage
// masks are judged against exactly the tables the renderer holds.
#pragma once

#include <iconv.h>

#include <array>
#include <cstdint>
#include <optional>

namespace zq::symsets {

struct SymbolSet {
    int id;                // resource id of the table (type 273)
    const char* name;      // after ESC (
    const char* codePage;  // iconv's name
    int windowsCodePage;
    uint32_t mask;         // coverage bit (mask 1)
    uint8_t charSet;       // Windows character set
};

inline constexpr SymbolSet kSets[] = {
    {1, "19U", "WINDOWS-1252", 1252, 0x01, 0},   {2, "9E", "WINDOWS-1250", 1250, 0x02, 238},
    {3, "9R", "WINDOWS-1251", 1251, 0x04, 204},  {4, "5T", "WINDOWS-1254", 1254, 0x10, 162},
    {5, "19L", "WINDOWS-1257", 1257, 0x80, 186}, {6, "9G", "WINDOWS-1253", 1253, 0x08, 161},
};

constexpr uint16_t kNone = 0xFFFF;
constexpr int kFirstPrinted = 32;  // bytes below are control codes

// Entry i: the character byte i prints in the set, kNone where it has none.
using Table = std::array<uint16_t, 256>;

inline std::optional<Table> MakeTable(const SymbolSet& s) {
    iconv_t cd = iconv_open("UTF-16LE", s.codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    Table t;
    for (int code = 0; code < 256; ++code) {
        t[code] = kNone;
        if (code < kFirstPrinted) continue;
        char in = static_cast<char>(code), out[4] = {};
        char *inp = &in, *outp = out;
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 2) {
            t[code] = static_cast<uint16_t>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8));
        }
    }
    iconv_close(cd);
    return t;
}

}  // namespace zq::symsets
