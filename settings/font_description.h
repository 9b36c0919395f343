// Reading one device font's description into the working record the
// summary is built from, in either of its two forms (the resident form, and
// the printer font metrics file form that soft fonts and cartridges carry).
// Every offset and length is checked against the description; damaged data
// refuses the font.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/font_summary_format.h"

namespace zq {

struct ParsedFont {
    FontMetricsRecord metrics{};
    bool hasExtMetrics = false;
    ExtendedFontMetrics extMetrics{};
    bool scalable = false;
    uint16_t masterUnits = 0;
    uint16_t designResolution = 0;
    uint32_t memory = 0;
    std::string face;
    std::string selection;   // the PCL selection string
    std::string secondText;
    int16_t vertical[2] = {};
    uint16_t symbolSet = 0;
    std::span<const uint8_t> panose, symbolSets, widths, charMap, kerning;
};

// Wanted orientation 0 (any), 1 or 2; kind as the source gives it (1 when
// none). Nothing when the font is refused or its data is damaged.
std::optional<ParsedFont> ReadFontDescription(std::span<const uint8_t> description, int orientation, uint16_t kind,
                                              bool scalableOnly);

// The symbol-set code of the first ESC ( <digits> <capital> in a selection
// string: digits x 32 + (capital - 64); 0 when there is none.
uint16_t ParseSymbolSetEscape(std::string_view selection);

// Brings the metrics to the job's resolution; false when the font's own
// resolution is 0 and it would have to be rescaled.
bool ScaleFontToResolution(FontMetricsRecord& metrics, bool scalable, uint16_t resolution);

}  // namespace zq
