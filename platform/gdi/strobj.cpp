// Strings handed to drivers (STROBJ) and their enumeration.
#include <algorithm>

#include "gdi/text.h"

namespace zq::gdi {

std::vector<POINTL> LayOut(EngineFont& font, const std::vector<HGLYPH>& glyphs, POINTL origin,
                           const std::vector<LONG>& extra) {
    std::vector<POINTL> out;
    out.reserve(glyphs.size());
    FIX x = LTOFX(origin.x);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        out.push_back({FXTOLROUND(x), origin.y});
        x += font.Advance(glyphs[i]) + (i < extra.size() ? LTOFX(extra[i]) : 0);
    }
    return out;
}

EngineString::EngineString(EngineFont& font, std::vector<HGLYPH> glyphs, std::vector<POINTL> positions,
                           std::u16string text, bool defaultPlacement, bool glyphIndexText)
    : STROBJ{}, font_(font), text_(std::move(text)) {
    size_t n = std::min(glyphs.size(), positions.size());
    pos_.resize(n);
    defs_.resize(n);
    for (size_t i = 0; i < n; ++i) pos_[i] = {glyphs[i], &defs_[i], positions[i]};
    cGlyphs = static_cast<ULONG>(n);
    flAccel = SO_HORIZONTAL | (defaultPlacement ? SO_FLAG_DEFAULT_PLACEMENT : 0) |
              (glyphIndexText ? SO_GLYPHINDEX_TEXTOUT : 0);
    ulCharInc = 0;
    if (n) {
        LONG left = positions[0].x, right = positions[0].x;
        for (size_t i = 0; i < n; ++i) {
            left = std::min(left, positions[i].x);
            right = std::max(right, positions[i].x + FXTOLROUND(font.Advance(glyphs[i])));
        }
        rclBkGround = {left, positions[0].y - font.Ascent(), right, positions[0].y + font.Descent()};
    }
    // Explicit placement: every position is given at once; the bits come
    // with enumeration, as for default placement, so that a string whose
    // glyphs are drawn only in part (the engine's own text) never has them
    // made whole.
    if (!defaultPlacement) pgp = pos_.data();
    pwszOrg = text_.empty() ? nullptr : text_.data();
}

bool EngineString::Enum(ULONG* count, GLYPHPOS** out, bool withGlyphs) {
    size_t take = std::min<size_t>(kBatch, pos_.size() - std::min(next_, pos_.size()));
    if (withGlyphs && !font_.IsDevice())
        for (size_t i = next_; i < next_ + take; ++i)
            if (GLYPHDATA* gd = font_.Glyph(pos_[i].hg, FO_GLYPHBITS)) defs_[i].pgb = gd->gdf.pgb;
    *count = static_cast<ULONG>(take);
    *out = take ? pos_.data() + next_ : nullptr;
    next_ += take;
    return next_ < pos_.size();
}

}  // namespace zq::gdi

using zq::gdi::EngineString;

extern "C" void STROBJ_vEnumStart(STROBJ* pstro) {
    if (pstro) static_cast<EngineString*>(pstro)->EnumStart();
}

extern "C" BOOL STROBJ_bEnum(STROBJ* pstro, ULONG* pc, GLYPHPOS** ppgpos) {
    if (!pstro || !pc || !ppgpos) return FALSE;
    return static_cast<EngineString*>(pstro)->Enum(pc, ppgpos, true) ? TRUE : FALSE;
}

extern "C" BOOL STROBJ_bEnumPositionsOnly(STROBJ* pstro, ULONG* pc, GLYPHPOS** ppgpos) {
    if (!pstro || !pc || !ppgpos) return FALSE;
    return static_cast<EngineString*>(pstro)->Enum(pc, ppgpos, false) ? TRUE : FALSE;
}
