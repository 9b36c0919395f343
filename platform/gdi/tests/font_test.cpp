// Fonts as drivers see them: metrics checked against the font's own tables
// (read here with a separate little reader), glyph bits against FreeType's
// own 1-bit rendering, the font file, simulations, strings and code pages.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "gdi/font.h"
#include "gdi/text.h"

namespace zq::gdi {
namespace {

// Big-endian reads from an sfnt table found by its tag.
class Sfnt {
public:
    explicit Sfnt(std::span<const uint8_t> b) : b_(b) {}
    size_t Table(const char* tag) const {
        uint16_t n = U16(4);
        for (uint16_t i = 0; i < n; ++i) {
            size_t rec = 12 + 16u * i;
            if (std::memcmp(b_.data() + rec, tag, 4) == 0) return U32(rec + 8);
        }
        ADD_FAILURE() << "no table " << tag;
        return 0;
    }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(b_[at] << 8 | b_[at + 1]); }
    int16_t S16(size_t at) const { return static_cast<int16_t>(U16(at)); }
    uint32_t U32(size_t at) const { return uint32_t{U16(at)} << 16 | U16(at + 2); }

private:
    std::span<const uint8_t> b_;
};

std::unique_ptr<EngineFont> Realise(const char* family, double em, int weight = 400, bool italic = false) {
    auto face = FindFont(family, 400, false);
    if (!face) return nullptr;
    EXPECT_NE(face->family.find(family), std::string::npos) << face->family;
    return EngineFont::Create(*face, em, weight, italic, {600, 600});
}

TEST(Fonts, IfiMetricsComeFromTheFontTables) {
    for (const char* family : {"Liberation Serif", "DejaVu Sans"}) {
        auto font = Realise(family, 50);
        ASSERT_TRUE(font) << family;
        IFIMETRICS* ifi = FONTOBJ_pifi(font.get());
        ASSERT_TRUE(ifi);
        Sfnt t(font->Face().file->Bytes());
        size_t os2 = t.Table("OS/2"), head = t.Table("head"), hhea = t.Table("hhea"), post = t.Table("post");
        EXPECT_EQ(ifi->fwdUnitsPerEm, t.S16(head + 18)) << family;
        EXPECT_EQ(ifi->usWinWeight, t.U16(os2 + 4)) << family;
        EXPECT_EQ(ifi->fwdAveCharWidth, t.S16(os2 + 2)) << family;
        EXPECT_EQ(static_cast<USHORT>(ifi->fwdWinAscender), t.U16(os2 + 74)) << family;
        EXPECT_EQ(static_cast<USHORT>(ifi->fwdWinDescender), t.U16(os2 + 76)) << family;
        EXPECT_EQ(ifi->fwdTypoAscender, t.S16(os2 + 68)) << family;
        EXPECT_EQ(ifi->fwdTypoDescender, t.S16(os2 + 70)) << family;
        EXPECT_EQ(ifi->fwdStrikeoutPosition, t.S16(os2 + 28)) << family;
        EXPECT_EQ(ifi->fwdMacAscender, t.S16(hhea + 4)) << family;
        EXPECT_EQ(ifi->fwdMaxCharInc, static_cast<FWORD>(t.U16(hhea + 10))) << family;
        EXPECT_EQ(ifi->fwdUnderscorePosition, t.S16(post + 8)) << family;
        EXPECT_EQ(ifi->fwdUnderscoreSize, t.S16(post + 10)) << family;
        EXPECT_EQ(ifi->rclFontBox.left, t.S16(head + 36)) << family;
        EXPECT_EQ(ifi->rclFontBox.top, t.S16(head + 42)) << family;
        EXPECT_EQ(std::memcmp(&ifi->panose, font->Face().file->Bytes().data() + os2 + 32, 10), 0) << family;
        // Names sit inside the block.
        auto* name = reinterpret_cast<const char16_t*>(reinterpret_cast<const BYTE*>(ifi) + ifi->dpwszFamilyName);
        EXPECT_EQ(std::u16string(name).size(), std::string(family).size());
        EXPECT_LT(static_cast<ULONG>(ifi->dpFontSim), ifi->cjThis);
        // The transform takes font units to device pixels: the em to 50.
        XFORMOBJ* xo = FONTOBJ_pxoGetXform(font.get());
        POINTL em{0, ifi->fwdUnitsPerEm}, out;
        ASSERT_TRUE(XFORMOBJ_bApplyXform(xo, XF_LTOL, 1, &em, &out));
        EXPECT_EQ(out.y, 50);
    }
}

TEST(Fonts, GlyphBitsAreFreeTypesMonoRendering) {
    auto font = Realise("Liberation Sans", 37);
    ASSERT_TRUE(font);
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face ft;
    auto bytes = font->Face().file->Bytes();
    ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), font->Face().index, &ft), 0);
    FT_Set_Char_Size(ft, 0, 37 * 64, 72, 72);
    for (char16_t ch : std::u16string(u"AgW@%j")) {
        HGLYPH hg = font->GlyphOf(ch);
        ASSERT_NE(hg, 0u);
        GLYPHDATA* gd = nullptr;
        ASSERT_EQ(FONTOBJ_cGetGlyphs(font.get(), FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)), 1u);
        GLYPHBITS* gb = gd->gdf.pgb;
        ASSERT_EQ(FT_Load_Glyph(ft, hg, FT_LOAD_TARGET_MONO), 0);
        ASSERT_EQ(FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_MONO), 0);
        const FT_Bitmap& bm = ft->glyph->bitmap;
        ASSERT_EQ(gb->sizlBitmap.cx, static_cast<LONG>(bm.width));
        ASSERT_EQ(gb->sizlBitmap.cy, static_cast<LONG>(bm.rows));
        EXPECT_EQ(gb->ptlOrigin.x, ft->glyph->bitmap_left);
        EXPECT_EQ(gb->ptlOrigin.y, -ft->glyph->bitmap_top);
        size_t rowBytes = (bm.width + 7) / 8;
        for (unsigned y = 0; y < bm.rows; ++y)
            EXPECT_EQ(std::memcmp(gb->aj + rowBytes * y, bm.buffer + y * bm.pitch, rowBytes), 0) << "row " << y;
        EXPECT_EQ(gd->fxD, static_cast<FIX>(((ft->glyph->advance.x + 32) & ~63) / 4));
        // The glyph path covers the ink box.
        ASSERT_EQ(FONTOBJ_cGetGlyphs(font.get(), FO_PATHOBJ, 1, &hg, reinterpret_cast<PVOID*>(&gd)), 1u);
        RECTFX b;
        PATHOBJ_vGetBounds(gd->gdf.ppo, &b);
        EXPECT_NEAR(FXTOL(b.yTop), -ft->glyph->bitmap_top, 2);
    }
    FT_Done_Face(ft);
    FT_Done_FreeType(lib);
}

// Sizes of one font file share its face: fonts realised side by side at
// different sizes, one of them sheared (simulated italic), load their glyphs
// interleaved and still get FreeType's rendering at their own size and shear,
// from a face of the test's own.
TEST(Fonts, SizesOfOneFaceKeepTheirOwnSizeAndShear) {
    struct Case {
        double em;
        bool italic;
    } const cases[] = {{37, false}, {61, false}, {37, true}};
    std::vector<std::unique_ptr<EngineFont>> fonts;
    for (const Case& c : cases) {
        fonts.push_back(Realise("Liberation Sans", c.em, 400, c.italic));
        ASSERT_TRUE(fonts.back());
    }
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    auto bytes = fonts[0]->Face().file->Bytes();
    for (char16_t ch : std::u16string(u"AgW")) {
        for (size_t i = 0; i < fonts.size(); ++i) {
            FT_Face ft;
            ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), fonts[i]->Face().index, &ft), 0);
            FT_Set_Char_Size(ft, 0, static_cast<FT_F26Dot6>(cases[i].em * 64), 72, 72);
            if (cases[i].italic) {
                FT_Matrix shear{0x10000, static_cast<FT_Fixed>(0.2 * 0x10000 + 0.5), 0, 0x10000};
                FT_Set_Transform(ft, &shear, nullptr);
            }
            HGLYPH hg = fonts[i]->GlyphOf(ch);
            GLYPHDATA* gd = nullptr;
            ASSERT_EQ(FONTOBJ_cGetGlyphs(fonts[i].get(), FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)), 1u);
            ASSERT_EQ(FT_Load_Glyph(ft, hg, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO), 0);
            ASSERT_EQ(FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_MONO), 0);
            const FT_Bitmap& bm = ft->glyph->bitmap;
            const GLYPHBITS* gb = gd->gdf.pgb;
            ASSERT_EQ(gb->sizlBitmap.cx, static_cast<LONG>(bm.width)) << i;
            ASSERT_EQ(gb->sizlBitmap.cy, static_cast<LONG>(bm.rows)) << i;
            const size_t rowBytes = (bm.width + 7) / 8;
            for (unsigned y = 0; y < bm.rows; ++y)
                EXPECT_EQ(std::memcmp(gb->aj + rowBytes * y, bm.buffer + y * bm.pitch, rowBytes), 0) << i << " row " << y;
            EXPECT_EQ(gd->fxD, static_cast<FIX>(((ft->glyph->advance.x + 32) & ~63) / 4)) << i;
            FT_Done_Face(ft);
        }
    }
    FT_Done_FreeType(lib);
}

// The pixel (x, y) of glyph bits, counted from their origin; 0 outside them.
int BitAt(const GLYPHBITS* gb, LONG x, LONG y) {
    x -= gb->ptlOrigin.x;
    y -= gb->ptlOrigin.y;
    if (x < 0 || y < 0 || x >= gb->sizlBitmap.cx || y >= gb->sizlBitmap.cy) return 0;
    const size_t rowBytes = (static_cast<size_t>(gb->sizlBitmap.cx) + 7) / 8;
    return (gb->aj[rowBytes * static_cast<size_t>(y) + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1;
}

// Glyphs of every size, upright, sheared, emboldened and turned: the box
// given without bits is where the whole bits lie (and, upright, where
// FreeType's own rendering lies), and any part asked for holds exactly the
// whole bits' pixels there. Glyphs of hundreds of pixels an em are made a
// part at a time, so these parts are rasterised alone, at every offset
// against the glyph's bytes.
TEST(Fonts, GlyphPartsAreTheWholeGlyphsPixels) {
    struct Case {
        const char* what;
        double em;
        int weight;
        bool italic;
        double angle;
        bool freetype;  // compared with FreeType's rendering of its own face
    } const cases[] = {
        {"ordinary size", 37, 400, false, 0, true},     {"large", 700, 400, false, 0, true},
        {"large, sheared", 530, 400, true, 0, true},    {"large, emboldened", 610, 700, false, 0, false},
        {"large, turned", 450, 400, false, 33, false},  {"huge", 2500, 400, false, 0, true},
    };
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    for (const Case& c : cases) {
        auto face = FindFont("Liberation Sans", 400, false);
        ASSERT_TRUE(face);
        auto font = EngineFont::Create(*face, c.em, c.weight, c.italic, {600, 600}, c.angle);
        ASSERT_TRUE(font) << c.what;
        FT_Face ft;
        auto bytes = font->Face().file->Bytes();
        ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), font->Face().index, &ft), 0);
        FT_Set_Char_Size(ft, 0, static_cast<FT_F26Dot6>(c.em * 64), 72, 72);
        if (c.italic) {
            FT_Matrix shear{0x10000, static_cast<FT_Fixed>(0.2 * 0x10000 + 0.5), 0, 0x10000};
            FT_Set_Transform(ft, &shear, nullptr);
        }
        for (char16_t ch : std::u16string(u"Wg@ .")) {
            SCOPED_TRACE(std::string(c.what) + ", '" + static_cast<char>(ch) + "'");
            const HGLYPH hg = font->GlyphOf(ch);
            RECTL box;
            ASSERT_TRUE(font->BitsBox(hg, &box));
            // A part before the whole: the whole is not made for it.
            std::vector<uint64_t> early;
            const RECTL middle{(box.left + box.right) / 2 - 9, (box.top + box.bottom) / 2 - 5,
                               (box.left + box.right) / 2 + 4, (box.top + box.bottom) / 2 + 12};
            const GLYPHBITS* first = font->BitsCovering(hg, middle, early);
            ASSERT_TRUE(first);
            std::vector<uint8_t> firstCopy(reinterpret_cast<const uint8_t*>(first),
                                           reinterpret_cast<const uint8_t*>(first) + offsetof(GLYPHBITS, aj) +
                                               (first->sizlBitmap.cx + 7) / 8 * size_t(first->sizlBitmap.cy));
            GLYPHDATA* gd = font->Glyph(hg, FO_GLYPHBITS);
            ASSERT_TRUE(gd && gd->gdf.pgb);
            const GLYPHBITS* whole = gd->gdf.pgb;
            EXPECT_EQ(box.left, whole->ptlOrigin.x);
            EXPECT_EQ(box.top, whole->ptlOrigin.y);
            EXPECT_EQ(box.right, whole->ptlOrigin.x + whole->sizlBitmap.cx);
            EXPECT_EQ(box.bottom, whole->ptlOrigin.y + whole->sizlBitmap.cy);
            if (c.freetype) {
                ASSERT_EQ(FT_Load_Glyph(ft, hg, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO), 0);
                ASSERT_EQ(FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_MONO), 0);
                const FT_Bitmap& bm = ft->glyph->bitmap;
                ASSERT_EQ(whole->sizlBitmap.cx, static_cast<LONG>(bm.width));
                ASSERT_EQ(whole->sizlBitmap.cy, static_cast<LONG>(bm.rows));
                EXPECT_EQ(whole->ptlOrigin.x, ft->glyph->bitmap_left);
                EXPECT_EQ(whole->ptlOrigin.y, -ft->glyph->bitmap_top);
                const size_t rowBytes = (bm.width + 7) / 8;
                size_t rowsDiffering = 0;
                for (unsigned y = 0; y < bm.rows; ++y)
                    rowsDiffering += std::memcmp(whole->aj + rowBytes * y, bm.buffer + y * bm.pitch, rowBytes) != 0;
                EXPECT_EQ(rowsDiffering, 0u);
            }
            const LONG w = box.right - box.left, h = box.bottom - box.top;
            const RECTL parts[] = {
                box,
                {box.left, box.top, box.left + 5, box.top + 7},
                {box.left + w / 3 + 3, box.top + h / 2, box.left + w / 3 + 3 + 61, box.top + h / 2 + 1},
                {box.left + w / 2 + 1, box.top, box.left + w / 2 + 2, box.bottom},
                {box.right - 13, box.bottom - 9, box.right + 40, box.bottom + 40},
                {box.left - 100, box.top - 3, box.left + w / 4 + 5, box.top + h / 5},
                middle,
            };
            struct Asked {
                RECTL part;
                const GLYPHBITS* bits;
            };
            std::vector<Asked> asked{{middle, reinterpret_cast<const GLYPHBITS*>(firstCopy.data())}};
            std::vector<std::vector<uint64_t>> stores(std::size(parts));
            for (size_t i = 0; i < std::size(parts); ++i)
                asked.push_back({parts[i], font->BitsCovering(hg, parts[i], stores[i])});
            for (size_t i = 0; i < asked.size(); ++i) {
                const RECTL* part = &asked[i].part;
                const GLYPHBITS* gb = asked[i].bits;
                ASSERT_TRUE(gb) << "part " << i;
                // The part's pixels, and for one made alone nothing past the
                // glyph's box.
                const LONG l = std::max(part->left, box.left), t = std::max(part->top, box.top);
                const LONG r = std::min(part->right, box.right), b = std::min(part->bottom, box.bottom);
                EXPECT_LE(gb->ptlOrigin.x, l) << "part " << i;
                EXPECT_LE(gb->ptlOrigin.y, t) << "part " << i;
                EXPECT_GE(gb->ptlOrigin.x + gb->sizlBitmap.cx, r) << "part " << i;
                EXPECT_GE(gb->ptlOrigin.y + gb->sizlBitmap.cy, b) << "part " << i;
                EXPECT_GE(gb->ptlOrigin.x, box.left) << "part " << i;
                EXPECT_GE(gb->ptlOrigin.y, box.top) << "part " << i;
                size_t differing = 0, ink = 0;
                for (LONG y = t; y < b; ++y)
                    for (LONG x = l; x < r; ++x) {
                        differing += BitAt(gb, x, y) != BitAt(whole, x, y);
                        ink += BitAt(whole, x, y);
                    }
                EXPECT_EQ(differing, 0u) << "part " << i << " of " << ink << " inked pixels";
            }
        }
        FT_Done_Face(ft);
    }
    FT_Done_FreeType(lib);
}

TEST(Fonts, FileAndSimulations) {
    auto font = Realise("DejaVu Sans", 20, 700, true);
    ASSERT_TRUE(font);
    ULONG size = 0;
    void* file = FONTOBJ_pvTrueTypeFontFile(font.get(), &size);
    ASSERT_TRUE(file);
    auto bytes = font->Face().file->Bytes();
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(std::memcmp(file, "\0\1\0\0", 4), 0);  // a TrueType file, whole
    EXPECT_TRUE(font->flFontType & FO_SIM_BOLD);
    EXPECT_TRUE(font->flFontType & FO_SIM_ITALIC);
    auto plain = Realise("DejaVu Sans", 20);
    EXPECT_FALSE(plain->flFontType & (FO_SIM_BOLD | FO_SIM_ITALIC));
    HGLYPH hg = plain->GlyphOf(u'l');
    EXPECT_GT(font->Advance(hg), plain->Advance(hg));  // emboldening widens
    // The simulations the face offers are described in its metrics.
    IFIMETRICS* ifi = FONTOBJ_pifi(plain.get());
    auto* sim = reinterpret_cast<FONTSIM*>(reinterpret_cast<BYTE*>(ifi) + ifi->dpFontSim);
    ASSERT_NE(sim->dpBold, 0);
    auto* bold = reinterpret_cast<FONTDIFF*>(reinterpret_cast<BYTE*>(sim) + sim->dpBold);
    EXPECT_EQ(bold->usWinWeight, 700);
    EXPECT_TRUE(bold->fsSelection & FM_SEL_BOLD);
    // Not a TrueType font object: no file.
    FONTOBJ device{};
    device.flFontType = FO_TYPE_DEVICE;
    EXPECT_EQ(FONTOBJ_pvTrueTypeFontFile(&device, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(Strings, DefaultPlacementEnumeratesInBatches) {
    auto font = Realise("Liberation Serif", 24);
    ASSERT_TRUE(font);
    std::u16string text(150, u'x');
    std::vector<HGLYPH> glyphs(text.size(), font->GlyphOf(u'x'));
    auto pos = LayOut(*font, glyphs, {100, 200});
    EngineString str(*font, glyphs, pos, text, true, false);
    EXPECT_EQ(str.pgp, nullptr);
    EXPECT_TRUE(str.flAccel & SO_FLAG_DEFAULT_PLACEMENT);
    EXPECT_EQ(str.rclBkGround.left, 100);
    EXPECT_EQ(str.rclBkGround.top, 200 - font->Ascent());
    STROBJ_vEnumStart(&str);
    ULONG total = 0, c;
    GLYPHPOS* gp;
    std::vector<ULONG> batches;
    BOOL more;
    do {
        more = STROBJ_bEnum(&str, &c, &gp);
        batches.push_back(c);
        for (ULONG i = 0; i < c; ++i) {
            EXPECT_EQ(gp[i].ptl.x, pos[total + i].x);
            EXPECT_TRUE(gp[i].pgdf && gp[i].pgdf->pgb);
        }
        total += c;
    } while (more);
    EXPECT_EQ(total, 150u);
    EXPECT_EQ(batches, (std::vector<ULONG>{64, 64, 22}));
    // Explicit placement hands every position over at once.
    std::vector<POINTL> mine = {{5, 50}, {40, 50}, {41, 50}};
    EngineString explicitStr(*font, {glyphs[0], glyphs[0], glyphs[0]}, mine, u"xxx", false, false);
    ASSERT_NE(explicitStr.pgp, nullptr);
    EXPECT_EQ(explicitStr.pgp[1].ptl.x, 40);
    // and enumerating it gives the glyphs' bits.
    STROBJ_vEnumStart(&explicitStr);
    EXPECT_FALSE(STROBJ_bEnum(&explicitStr, &c, &gp));
    ASSERT_EQ(c, 3u);
    for (ULONG i = 0; i < c; ++i) EXPECT_TRUE(gp[i].pgdf && gp[i].pgdf->pgb) << i;
}

TEST(CodePages, GlyphSetAndConversions) {
    FD_GLYPHSET* gs = EngComputeGlyphSet(1252, 0, 256);
    ASSERT_TRUE(gs);
    ULONG total = 0;
    bool euroFound = false;
    for (ULONG r = 0; r < gs->cRuns; ++r) {
        total += gs->awcrun[r].cGlyphs;
        for (USHORT i = 0; i < gs->awcrun[r].cGlyphs; ++i)
            if (gs->awcrun[r].wcLow + i == 0x20AC) euroFound = gs->awcrun[r].phg[i] == 0x80;
    }
    EXPECT_EQ(total, gs->cGlyphsSupported);
    EXPECT_TRUE(euroFound);
    EngFreeMem(gs);
    EXPECT_EQ(EngComputeGlyphSet(0, 200, 100), nullptr);

    char16_t wide[8] = {};
    ULONG got = 0;
    char ansi[] = "A\x80z";
    EngMultiByteToUnicodeN(wide, 4, &got, ansi, 3);  // room for two characters only
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(wide[1], 0x20AC);
    EXPECT_EQ(wide[2], 0);
    char back[4] = {};
    char16_t src[] = {u'A', 0x20AC};
    EngUnicodeToMultiByteN(back, 4, &got, src, 4);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(static_cast<unsigned char>(back[1]), 0x80);
    char dbcs[8] = {};
    char16_t kanji[] = {0x3042};  // HIRAGANA A in code page 932: 82 A0
    EXPECT_EQ(EngWideCharToMultiByte(932, kanji, 2, dbcs, 8), 2);
    EXPECT_EQ(static_cast<unsigned char>(dbcs[0]), 0x82);
}

}  // namespace
}  // namespace zq::gdi
