// Glyphs kept in the system root for later processes: a font realised again
// gives the very metrics and bits FreeType made, taken from the file only
// while the file names this font as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/root.h"
#include "gdi/font.h"
#include "testing/temp_root.h"

namespace zq::gdi {
namespace {

namespace fs = std::filesystem;

struct Made {
    HGLYPH hg = 0;
    FIX advance = 0, a = 0, ab = 0, inkTop = 0, inkBottom = 0;
    std::vector<uint8_t> bits;  // origin, size and rows
};

struct Realisation {
    const char* what;
    double em;
    int weight;
    bool italic;
    double angle;
    double widthScale;
};
constexpr Realisation kRealisations[] = {
    {"plain", 100, 400, false, 0, 1},      {"simulated bold", 37, 700, false, 0, 1},
    {"simulated italic", 60, 400, true, 0, 1}, {"turned", 80, 400, false, 30, 1},
    {"widened", 50, 400, false, 0, 1.5},
};

class KeptGlyphs : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = zq::testing::MakeTempDirectory("zq-kept-glyphs");
        ASSERT_FALSE(root_.empty());
        SetSystemRoot(root_);
        auto face = FindFont("Liberation Sans", 400, false);
        ASSERT_TRUE(face);
        face_ = *face;
    }
    void TearDown() override {
        SetSystemRoot({});
        zq::testing::RemoveTree(root_);
    }
    std::unique_ptr<EngineFont> Realise(const Realisation& r) const {
        return EngineFont::Create(face_, r.em, r.weight, r.italic, {600, 600}, r.angle, r.widthScale);
    }
    // The glyphs of "Hag." (advance first, as text is measured before it is
    // drawn), with the font let go afterwards.
    std::vector<Made> Glyphs(const Realisation& r) const {
        auto font = Realise(r);
        EXPECT_TRUE(font);
        if (!font) return {};
        std::vector<Made> out;
        for (char16_t c : std::u16string(u"Hag.")) {
            const HGLYPH hg = font->GlyphOf(c);
            Made m;
            m.hg = hg;
            m.advance = font->Advance(hg);
            GLYPHDATA* gd = font->Glyph(hg, FO_GLYPHBITS);
            EXPECT_TRUE(gd && gd->gdf.pgb);
            if (!gd || !gd->gdf.pgb) return {};
            EXPECT_EQ(gd->fxD, m.advance);
            m.a = gd->fxA;
            m.ab = gd->fxAB;
            m.inkTop = gd->fxInkTop;
            m.inkBottom = gd->fxInkBottom;
            const GLYPHBITS* gb = gd->gdf.pgb;
            const size_t size = offsetof(GLYPHBITS, aj) + (gb->sizlBitmap.cx + 7) / 8 * size_t(gb->sizlBitmap.cy);
            m.bits.assign(reinterpret_cast<const uint8_t*>(gb), reinterpret_cast<const uint8_t*>(gb) + size);
            out.push_back(std::move(m));
        }
        return out;
    }
    std::vector<fs::path> Files() const {
        std::vector<fs::path> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root_ / "glyphs", ec)) out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    static void Same(const std::vector<Made>& a, const std::vector<Made>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].advance, b[i].advance) << i;
            EXPECT_EQ(a[i].a, b[i].a) << i;
            EXPECT_EQ(a[i].ab, b[i].ab) << i;
            EXPECT_EQ(a[i].inkTop, b[i].inkTop) << i;
            EXPECT_EQ(a[i].inkBottom, b[i].inkBottom) << i;
            EXPECT_EQ(a[i].bits, b[i].bits) << i;
        }
    }
    fs::path root_;
    FontFace face_;
};

TEST_F(KeptGlyphs, ARealisationAgainGivesWhatFreeTypeMade) {
    for (const Realisation& r : kRealisations) {
        SCOPED_TRACE(r.what);
        const auto made = Glyphs(r);
        ASSERT_EQ(made.size(), 4u);
        const auto kept = Glyphs(r);  // from the file the first font wrote
        Same(made, kept);
    }
    EXPECT_EQ(Files().size(), std::size(kRealisations));  // one file each, none shared
}

// A font of large glyphs that were only ever drawn in part keeps no record of
// them (nothing was made whole to keep): a later realisation makes their
// bits as the first would have, then keeps them.
TEST_F(KeptGlyphs, GlyphsDrawnOnlyInPartAreNotKeptWithoutBits) {
    const Realisation large{"large", 600, 400, false, 0, 1};
    {
        auto font = Realise(large);
        ASSERT_TRUE(font);
        for (char16_t c : std::u16string(u"Hag.")) {
            const HGLYPH hg = font->GlyphOf(c);
            RECTL box;
            ASSERT_TRUE(font->BitsBox(hg, &box));
            std::vector<uint64_t> store;
            EXPECT_TRUE(font->BitsCovering(hg, {box.left, box.top, box.left + 10, box.top + 10}, store));
        }
    }
    const auto made = Glyphs(large);
    ASSERT_EQ(made.size(), 4u);
    const auto kept = Glyphs(large);
    Same(made, kept);
}

// A file whose first glyph's bits were turned over shows whether the file
// or FreeType answered: the file is taken only while it names this font.
TEST_F(KeptGlyphs, TheFileIsTakenOnlyForTheFontItNames) {
    const Realisation plain = kRealisations[0];
    const auto made = Glyphs(plain);
    ASSERT_EQ(Files().size(), 1u);
    const fs::path file = Files()[0];
    std::string text;
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    // The last row byte of the file's first glyph (after its 28-byte head).
    const size_t body = text.find('\n', text.find('\n') + 1) + 1;
    ASSERT_LT(body + 4, text.size());
    HGLYPH first = 0;
    std::memcpy(&first, text.data() + body, 4);
    const Made* firstMade = nullptr;
    for (const Made& m : made)
        if (m.hg == first) firstMade = &m;
    ASSERT_TRUE(firstMade);
    const size_t lastByte = body + 28 + firstMade->bits.size() - 1;
    ASSERT_LT(lastByte, text.size());
    std::string altered = text;
    altered[lastByte] ^= 0x80;
    const auto keyEnd = text.find('\n', text.find('\n') + 1);

    const struct {
        const char* what;
        std::function<std::string()> content;
        bool taken;
    } cases[] = {
        {"the file as written, altered bits", [&] { return altered; }, true},
        {"another font's key", [&] { return std::string(altered).replace(keyEnd - 1, 1, "x"); }, false},
        {"another header", [&] { return "zq glyphs 0" + altered.substr(altered.find('\n')); }, false},
        {"cut short", [&] { return altered.substr(0, altered.size() - 3); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.content();
        auto font = Realise(plain);
        ASSERT_TRUE(font);
        GLYPHDATA* gd = font->Glyph(first, FO_GLYPHBITS);
        ASSERT_TRUE(gd && gd->gdf.pgb);
        const auto* bytes = reinterpret_cast<const uint8_t*>(gd->gdf.pgb);
        std::vector<uint8_t> got(bytes, bytes + firstMade->bits.size());
        std::vector<uint8_t> expected = firstMade->bits;
        if (c.taken) expected.back() ^= 0x80;
        EXPECT_EQ(got, expected);
        font.reset();  // nothing new made: the file stays as it was
    }
}

// A server printing ever new sizes does not fill its disk: the folder of
// kept fonts is started afresh at a bound, and the font just let go is kept.
TEST_F(KeptGlyphs, TheFolderIsBounded) {
    size_t most = 0;
    for (int size = 8; size < 8 + 300; ++size) {
        auto font = EngineFont::Create(face_, size, 400, false, {600, 600});
        ASSERT_TRUE(font);
        ASSERT_TRUE(font->Glyph(font->GlyphOf(u'x'), FO_GLYPHBITS));
        font.reset();
        most = std::max(most, Files().size());
    }
    EXPECT_LE(most, 256u);
    EXPECT_GE(Files().size(), 1u);
    Realisation last{"last", 8 + 299, 400, false, 0, 1};
    const auto files = Files();
    auto font = Realise(last);
    ASSERT_TRUE(font);
    font->Glyph(font->GlyphOf(u'x'), FO_GLYPHBITS);
    font.reset();
    EXPECT_EQ(Files(), files);  // taken from its file: nothing written
}

}  // namespace
}  // namespace zq::gdi
