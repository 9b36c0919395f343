// Device fonts: the faces a printer's driver offers, asked once per PDEV
// (DrvQueryFont for the count and each IFIMETRICS, DrvQueryFontTree for the
// glyph set and the kerning pairs), and the choice of one by face name.
#include <algorithm>
#include <cstring>

#include "gdi/engine.h"
#include "gdi/font.h"

namespace zq::gdi {
namespace {

// Bounds on what a driver hands over; beyond them its answer is taken as
// damaged rather than read.
constexpr ULONG_PTR kMaxFaces = 4096;
constexpr ULONG kMaxIfiBytes = 1u << 20;
constexpr ULONG kMaxRuns = 0x10000;
constexpr size_t kMaxKerningPairs = 0x10000;

bool CopyIfi(const IFIMETRICS& ifi, DeviceFace& face) {
    if (ifi.cjThis < sizeof(IFIMETRICS) || ifi.cjThis > kMaxIfiBytes) return false;
    face.ifi.assign((ifi.cjThis + 7) / 8, 0);
    std::memcpy(face.ifi.data(), &ifi, ifi.cjThis);
    const IFIMETRICS& own = face.Ifi();
    if (own.dpwszFamilyName <= 0 || static_cast<ULONG>(own.dpwszFamilyName) >= own.cjThis) return false;
    const BYTE* base = reinterpret_cast<const BYTE*>(face.ifi.data());
    for (ULONG at = static_cast<ULONG>(own.dpwszFamilyName); at + 1 < own.cjThis; at += 2) {
        char16_t c;
        std::memcpy(&c, base + at, 2);
        if (!c) break;
        face.family.push_back(c);
    }
    return !face.family.empty();
}

void ReadGlyphSet(const FD_GLYPHSET& set, std::map<char16_t, HGLYPH>& glyphs) {
    for (ULONG r = 0; r < std::min(set.cRuns, kMaxRuns); ++r) {
        const WCRUN& run = set.awcrun[r];
        for (ULONG k = 0; k < run.cGlyphs && run.wcLow + k <= 0xFFFF; ++k) {
            char16_t c = static_cast<char16_t>(run.wcLow + k);
            glyphs.emplace(c, run.phg ? run.phg[k] : HGLYPH(c));
        }
    }
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return Fold(x) == Fold(y);
           });
}

}  // namespace

const std::vector<std::shared_ptr<const DeviceFace>>& Device::Faces() {
    if (faces_) return *faces_;
    faces_.emplace();
    auto query = driver_->Get<PFN_DrvQueryFont>(INDEX_DrvQueryFont);
    auto tree = driver_->Get<PFN_DrvQueryFontTree>(INDEX_DrvQueryFontTree);
    if (!query || !pdev_) return *faces_;
    ULONG_PTR id = 0;
    ULONG_PTR count = std::min(reinterpret_cast<ULONG_PTR>(query(pdev_, 0, 0, &id)), kMaxFaces);
    for (ULONG i = 1; i <= count; ++i) {
        id = 0;
        IFIMETRICS* ifi = query(pdev_, 0, i, &id);
        if (!ifi) continue;
        auto face = std::make_shared<DeviceFace>();
        face->index = i;
        bool ok = CopyIfi(*ifi, *face);
        Free(ifi, id);
        if (!ok || !tree) continue;
        id = 0;
        if (auto* set = static_cast<FD_GLYPHSET*>(tree(pdev_, 0, i, QFT_GLYPHSET, &id))) {
            ReadGlyphSet(*set, face->glyphs);
            Free(set, id);
        }
        id = 0;
        if (auto* pairs = static_cast<FD_KERNINGPAIR*>(tree(pdev_, 0, i, QFT_KERNPAIRS, &id))) {
            // The array ends with an all-zero pair.
            for (size_t k = 0; k < kMaxKerningPairs && (pairs[k].wcFirst || pairs[k].wcSecond || pairs[k].fwdKern); ++k)
                face->kerning.push_back(pairs[k]);
            Free(pairs, id);
        }
        // A face without a glyph set cannot map text to glyphs.
        if (!face->glyphs.empty()) faces_->push_back(std::move(face));
    }
    return *faces_;
}

std::shared_ptr<const DeviceFace> MatchDeviceFace(Device& device, std::u16string_view name, int weight, bool italic) {
    std::shared_ptr<const DeviceFace> best;
    int bestScore = 0;
    for (const auto& face : device.Faces()) {
        if (!SameName(face->family, name)) continue;
        const IFIMETRICS& ifi = face->Ifi();
        bool faceItalic = (ifi.fsSelection & FM_SEL_ITALIC) != 0;
        int score = (faceItalic == italic ? 0 : 10000) + std::abs(int(ifi.usWinWeight) - weight);
        if (!best || score < bestScore) {
            best = face;
            bestScore = score;
        }
    }
    return best;
}

bool DeviceFaceTurns(const DeviceFace& face, double angle) {
    if (angle == 0) return true;
    if (angle != 90 && angle != 180 && angle != 270) return false;
    return (face.Ifi().flInfo & (FM_INFO_90DEGREE_ROTATIONS | FM_INFO_ARB_XFORMS)) != 0;
}

}  // namespace zq::gdi
