// What the renderer last sent to a PCL XL printer, one cache per kind of
// printer state. A state command goes out only when the wanted value differs
// from its cache; page start, overlays and a reset of the device context
// make the caches forget what the printer may no longer hold.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pclrend {

// Sentinels: "unknown" makes the next comparison fail, so the value is sent.
inline constexpr uint32_t kXlUnknown = 0xFFFFFFFF;
inline constexpr uint32_t kXlNoSource = 0x300;  // NullPen / NullBrush in force

struct XlColourCache {
    uint8_t space = 0;                // 1 grey, 2 RGB, 0 unknown
    std::vector<uint32_t> palette;    // entries last sent (red, green, blue)
};

struct XlLineCache {
    int32_t penWidth = 0;
    uint16_t dashKind = 0;            // 0 solid line, 8 a dash
    std::vector<uint32_t> dash;       // the dash lengths last sent
    uint32_t join = 2;                // the engine's values: JOIN_MITER
    uint32_t cap = 2;                 //                      ENDCAP_BUTT
    float miterLimit = 0.0f;
};

struct XlClipCache {
    bool set = false;                 // a clip of ours is in force
    uint32_t id = 0;                  // identity of the clip in force (0: none kept)
    std::array<int32_t, 4> rect{};    // a rectangle clip's edges (left INT32_MIN: a path)
    uint8_t mode = 0;                 // ClipMode last sent (0: not known to be even-odd)
};

struct XlState {
    bool pageOpen = false;            // BeginPage sent, EndPage not yet
    bool boldValue = false;           // a character bold value other than 0 in force
    bool simItalic = false;           // a character shear in force
    XlColourCache colour;
    XlLineCache line;
    XlClipCache clip;
    uint32_t pen = kXlUnknown;        // brushKey of the pen source in force
    uint32_t brush = kXlUnknown;      // brushKey of the brush source in force
    uint16_t rop = 0xFFFF;            // ROP3 in force (0xFFFF unknown)
    uint8_t sourceTxMode = 0;
    uint8_t paintTxMode = 0;
    uint8_t fillMode = 0;
    // Raster patterns defined on this page, by content: the identifier of
    // entry i is i + 1.
    std::vector<std::vector<uint8_t>> pagePatterns;

    // Page start: the printer's graphics state is its default again.
    void PageStart() {
        colour = {};
        line = {};
        clip = {};
        pen = 0;
        brush = kXlUnknown;
        rop = 0xFFFF;
        sourceTxMode = paintTxMode = fillMode = 0;
        pagePatterns.clear();
    }
};

}  // namespace pclrend
