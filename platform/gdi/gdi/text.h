// Strings as drivers see them (STROBJ): glyphs, their positions and the
// background rectangle, enumerated in batches.
#pragma once

#include <string>
#include <vector>

#include "gdi/font.h"

namespace zq::gdi {

class EngineString : public STROBJ {
public:
    // `positions`: glyph origins on the baseline in device pixels, one a
    // glyph. `defaultPlacement`: the positions follow the font's advances
    // (drivers then enumerate; pgp stays null).
    EngineString(EngineFont& font, std::vector<HGLYPH> glyphs, std::vector<POINTL> positions, std::u16string text,
                 bool defaultPlacement, bool glyphIndexText);
    EngineString(const EngineString&) = delete;
    EngineString& operator=(const EngineString&) = delete;

    void EnumStart() { next_ = 0; }
    bool Enum(ULONG* count, GLYPHPOS** out, bool withGlyphs);
    EngineFont& Font() const { return font_; }

    static constexpr ULONG kBatch = 64;  // glyphs handed out by one enumeration call

private:
    EngineFont& font_;
    std::u16string text_;
    std::vector<GLYPHPOS> pos_;
    std::vector<GLYPHDEF> defs_;
    size_t next_ = 0;
};

// Positions of glyphs laid out with the font's advances (plus extra spacing
// per glyph), starting at `origin` on the baseline.
std::vector<POINTL> LayOut(EngineFont& font, const std::vector<HGLYPH>& glyphs, POINTL origin,
                           const std::vector<LONG>& extra = {});

}  // namespace zq::gdi
