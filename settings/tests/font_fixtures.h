// Font descriptions written for tests, field by field from the stored
// layouts: the resident form and the printer-font-metrics form.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zq::testing {

struct FontSpec {
    std::string face = "Test Face";
    uint16_t points = 12;
    uint16_t resolution = 300;
    uint16_t ascent = 40;
    uint16_t pixHeight = 50;
    uint16_t avgWidth = 25;
    uint16_t maxWidth = 60;
    uint16_t weight = 400;
    uint8_t charSet = 0;
    bool variablePitch = true;
    uint16_t characters = 4;        // first form: widths and extent table entries
    bool scalable = true;           // extended metrics with different scales
    int16_t orientation = 0;
    int16_t kernPairs = 0;
    std::string selection = "\x1b(19U\x1b(s1p12v0s0b4148T";
    uint16_t symbolSet = 629;
    uint32_t memory = 0;            // driver information memory, 0: none given
    bool driverInfo = true;
};

class ByteWriter {
public:
    std::vector<uint8_t> b;
    size_t Here() const { return b.size(); }
    void U8(uint8_t v) { b.push_back(v); }
    void U16(uint16_t v) { U8(uint8_t(v)), U8(uint8_t(v >> 8)); }
    void U32(uint32_t v) { U16(uint16_t(v)), U16(uint16_t(v >> 16)); }
    void Zero(size_t n) { b.insert(b.end(), n, 0); }
    void Text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()), U8(0); }
    void Put16(size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
    void Put32(size_t at, uint32_t v) { Put16(at, uint16_t(v)), Put16(at + 2, uint16_t(v >> 16)); }
};

inline void WriteExtMetrics(ByteWriter& w, const FontSpec& s) {
    const int16_t v[26] = {52, int16_t(s.points * 20), s.orientation, 2048, 4, int16_t(s.scalable ? 999 : 4),
                           2048, 1400, 1000, 1500, 400, 0, 0, 0, 0, 0, -300, 100, 0, 0, 0, 0, 0, 0,
                           s.kernPairs, 0};
    for (int16_t x : v) w.U16(uint16_t(x));
}

// The resident (first) form.
inline std::vector<uint8_t> FirstForm(const FontSpec& s) {
    ByteWriter w;
    w.U16(512);
    w.U16(0);
    w.U32(0);  // size, filled in
    w.Zero(60);
    const size_t m = w.Here();  // 68
    w.U16(0), w.U16(s.points), w.U16(s.resolution), w.U16(s.resolution), w.U16(s.ascent), w.U16(5), w.U16(2);
    w.U8(0), w.U8(0), w.U8(0), w.U8(0);
    w.U16(s.weight);
    w.U8(s.charSet), w.U8(0);
    w.U16(s.variablePitch ? 0 : s.avgWidth), w.U16(s.pixHeight);
    w.U8(s.variablePitch ? 1 : 0), w.U8(0);
    w.U16(s.avgWidth), w.U16(s.maxWidth), w.U16(s.characters), w.U16(32), w.U16(0), w.U16(0);
    w.U32(0), w.U32(0) /* face at m+44 */, w.U32(0), w.U32(0), w.Zero(4);
    size_t ext;
    if (s.variablePitch) {
        for (uint16_t i = 0; i < s.characters; ++i) w.U16(uint16_t(20 + i));
        ext = w.Here();
    } else {
        w.b.resize(126);
        ext = 126;
    }
    w.Zero(44);
    w.Put32(ext, 44);
    const size_t em = w.Here();
    WriteExtMetrics(w, s);
    w.Put32(ext + 4, uint32_t(em));
    const size_t extent = w.Here();
    for (uint16_t i = 0; i < s.characters; ++i) w.U16(uint16_t(500 + i));
    w.Put32(ext + 8, uint32_t(extent));
    if (s.kernPairs > 0) {
        w.Put32(ext + 16, uint32_t(w.Here()));
        for (int i = 0; i < s.kernPairs; ++i) w.U16(65), w.U16(uint16_t(86 + i)), w.U16(uint16_t(-10)), w.U16(0);
    }
    size_t selectionRef = 0;
    if (s.driverInfo) {
        const size_t di = w.Here();
        w.Put32(ext + 24, uint32_t(di));
        w.U16(4 + 12 + 8 + 10), w.U16(2);
        w.U16(1), w.U16(12), w.U32(s.memory), w.U32(0);
        selectionRef = w.Here() - 4;
        w.U16(2), w.U16(8), w.U16(uint16_t(s.ascent)), w.U16(uint16_t(-12));
        w.U16(3), w.U16(10), w.U32(0), w.U16(s.symbolSet);
    }
    w.Put32(ext + 32, uint32_t(w.Here()));
    for (int i = 0; i < 10; ++i) w.U8(uint8_t(i + 1));
    w.Put32(ext + 36, uint32_t(w.Here()));
    w.Zero(16), w.U32(0x00000001), w.U32(0x80000000);
    // A character map with two segments.
    w.Put32(ext + 40, uint32_t(w.Here()));
    w.U16(0), w.U16(1), w.U16(3), w.U16(1), w.U32(12);
    w.U16(4), w.U16(0), w.U16(0), w.U16(4), w.U16(4), w.U16(1), w.U16(0);
    w.U16(0x7E), w.U16(0xFFFF), w.U16(0), w.U16(0x20), w.U16(0xFFFF), w.U16(0), w.U16(1), w.U16(0), w.U16(0);
    const size_t face = w.Here();
    w.Text("  " + s.face);
    w.Put32(m + 44, uint32_t(face));
    if (s.driverInfo) {
        w.Put32(selectionRef, uint32_t(w.Here()));
        w.Text(s.selection);
    }
    w.Put32(4, uint32_t(w.b.size()));
    return w.b;
}

// The printer-font-metrics (second) form, as a soft font or cartridge holds it.
inline std::vector<uint8_t> SecondForm(const FontSpec& s, uint8_t first = 32, uint8_t last = 35) {
    ByteWriter w;
    w.U16(256);
    w.U32(0);
    w.Zero(60);
    w.U16(0), w.U16(s.points), w.U16(s.resolution), w.U16(s.resolution), w.U16(s.ascent), w.U16(5), w.U16(2);
    w.U8(0), w.U8(0), w.U8(0);
    w.U16(s.weight);
    w.U8(s.charSet);
    w.U16(s.variablePitch ? 0 : s.avgWidth), w.U16(s.pixHeight);
    w.U8(s.variablePitch ? 1 : 0);
    w.U16(s.avgWidth), w.U16(s.maxWidth);
    w.U8(first), w.U8(last), w.U8(first), w.U8(first);
    w.U16(0), w.U32(0), w.U32(0) /* face at 105 */, w.U32(0), w.U32(0);
    if (s.variablePitch) {
        for (int c = first; c <= last + 1; ++c) w.U16(uint16_t(10 + c));
    }
    const size_t ext = w.Here();
    w.U16(30);
    w.Zero(28);
    if (s.scalable || s.kernPairs > 0) {
        w.Put32(ext + 2, uint32_t(w.Here()));
        WriteExtMetrics(w, s);
    }
    if (s.kernPairs > 0) {
        w.Put32(ext + 14, uint32_t(w.Here()));
        for (int i = 0; i < s.kernPairs; ++i) w.U16(65), w.U16(uint16_t(86 + i)), w.U16(uint16_t(-10)), w.U16(0);
    }
    size_t selectionRef = 0;
    if (s.driverInfo) {
        w.Put32(ext + 22, uint32_t(w.Here()));
        w.U16(12), w.U16(1), w.U32(s.memory), w.U32(0);
        selectionRef = w.Here() - 4;
    }
    w.Put32(105, uint32_t(w.Here()));
    w.Text(s.face);
    if (s.driverInfo) {
        w.Put32(selectionRef, uint32_t(w.Here()));
        w.Text(s.selection);
    }
    w.Put32(2, uint32_t(w.b.size()));
    return w.b;
}

// A cartridge file: its block head, then the descriptions back to back.
inline std::vector<uint8_t> Cartridge(const std::vector<std::vector<uint8_t>>& descriptions) {
    ByteWriter w;
    w.U16(3244), w.U16(0), w.U32(0), w.U32(0), w.U32(16);
    for (const auto& d : descriptions) w.b.insert(w.b.end(), d.begin(), d.end());
    w.Put32(4, uint32_t(w.b.size()));
    return w.b;
}

}  // namespace zq::testing
