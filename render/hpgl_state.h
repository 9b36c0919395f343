// What the renderer last sent to a PCL 5 printer in HP-GL/2 and in PCL's
// colour and pattern commands. As with the PCL XL caches, a state command
// goes out only when the wanted value differs; the HP-GL/2 set-up at the
// first entry of a page makes the printer's state, and the caches, known.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pclrend {

inline constexpr uint32_t kGlUnknown = 0xFFFFFFFF;

// The PCL palette slots (palette IDs 0-20) and the kinds of palette that
// share them.
inline constexpr int kPaletteSlots = 21;
inline constexpr int kPaletteKinds = 11;

struct Gl2State {
    bool pendingSemicolon = false;    // an instruction went out without its ";"
    bool paletteSaved = false;        // opaque pattern transparency sent (answered by ESC*v0O)
    bool windowActive = false;        // an input window of ours is in force
    std::array<int32_t, 4> window{};  // left, top, right, bottom
    uint32_t penFill = kGlUnknown;    // brushKey last selected for lines (SV)
    uint32_t brushFill = kGlUnknown;  // brushKey last selected for areas (FT)
    bool colourResetPending = false;

    // Line attributes in force, as the engine's values. The set-up string
    // selects mitre joins and round caps.
    uint32_t lineJoin = kGlUnknown;
    uint32_t lineCap = kGlUnknown;
    float miterLimit = -1.0f;
    int32_t penWidth = -1;
    uint16_t lineType = 0;            // 0 solid, 1 LT1, 2 LT2, 8 the user dash
    std::vector<uint32_t> dashStyle;  // the style last defined as line type 8, as given
    uint32_t dashPattern = 0;         // its pattern length in hundredths of a device pixel
    bool dashGeometric = false;
    // The box of the points of the polygon last sent (left, top, right,
    // bottom; right and bottom exclusive), control points included: the
    // clip rectangles that miss it paint nothing and are not sent.
    std::array<int32_t, 4> polygonBounds{};

    // Colour pages: render settings of the three kinds of object (selector,
    // lightness, saturation, gamma in tenths).
    std::array<std::array<uint8_t, 4>, 3> renderSettings{{{0, 0, 0, 10}, {0, 0, 0, 10}, {0, 0, 0, 10}}};
    std::array<uint8_t, kPaletteSlots> slotState{};  // 0 free, 1 stored, 2 selected
    std::array<uint8_t, kPaletteSlots> slotAge{};
    std::array<std::vector<uint32_t>, kPaletteSlots> slotColours;  // 4 bytes a colour, red in the low byte

    // The set-up at a page's first entry: the printer's HP-GL/2 state is
    // what the set-up string selects.
    void SetUp() {
        pendingSemicolon = false;
        windowActive = false;
        window = {};
        penFill = brushFill = kGlUnknown;
        colourResetPending = false;
        lineJoin = 2;   // JOIN_MITER: LA2,1
        lineCap = 0;    // ENDCAP_ROUND: LA1,4
        miterLimit = -1.0f;
        penWidth = 0;   // PW0
        lineType = 0;
    }
};

}  // namespace pclrend
