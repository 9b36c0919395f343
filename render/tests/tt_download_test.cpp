// TrueType soft fonts: the bounded font reader, the outline-or-bitmap choice,
// the headers and characters a job carries (read back by the test-side
// reader and drawn with FreeType against the source font), and the font
// table's use list and printer memory.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/font_table.h"
#include "render/output.h"
#include "render/sfnt.h"
#include "render/tests/capture_sink.h"
#include "render/tt_download.h"

namespace pclrend {
namespace {

const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* kMicroHei = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
const char* kCff = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#define NEED_FILE(bytes, path) \
    if ((bytes).empty()) GTEST_SKIP() << path << " is not installed (tools/install-deps.sh)"


// An sfnt of the given tables (directory sorted as given, tables padded).
std::vector<uint8_t> MakeSfnt(const std::map<std::string, std::vector<uint8_t>>& tables) {
    std::vector<uint8_t> out;
    PutBe32(out, 0x00010000);
    PutBe16(out, static_cast<uint32_t>(tables.size()));
    PutBe16(out, 0);
    PutBe16(out, 0);
    PutBe16(out, 0);
    uint32_t offset = 12 + 16 * static_cast<uint32_t>(tables.size());
    for (const auto& [tag, bytes] : tables) {
        for (char c : tag) out.push_back(static_cast<uint8_t>(c));
        PutBe32(out, TableChecksum(bytes));
        PutBe32(out, offset);
        PutBe32(out, static_cast<uint32_t>(bytes.size()));
        offset += (static_cast<uint32_t>(bytes.size()) + 3) & ~3u;
    }
    for (const auto& [tag, bytes] : tables) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.resize((out.size() + 3) & ~size_t{3}, 0);
    }
    return out;
}

// A font of `glyphs` whose glyph i is a composite of the glyphs listed
// for it (an empty list: an empty simple glyph).
std::vector<uint8_t> CompositeFont(const std::vector<std::vector<uint16_t>>& glyphs) {
    std::vector<uint8_t> glyf, loca;
    for (const auto& parts : glyphs) {
        PutBe32(loca, static_cast<uint32_t>(glyf.size()));
        if (parts.empty()) continue;
        PutBe16(glyf, 0xFFFF);
        for (int i = 0; i < 4; ++i) PutBe16(glyf, 0);
        for (size_t k = 0; k < parts.size(); ++k) {
            PutBe16(glyf, k + 1 < parts.size() ? 0x20 : 0);  // byte arguments
            PutBe16(glyf, parts[k]);
            PutBe16(glyf, 0);
        }
    }
    PutBe32(loca, static_cast<uint32_t>(glyf.size()));
    std::vector<uint8_t> head(54, 0), maxp(6, 0);
    head[18] = 0x08;  // 2048 units per em
    head[51] = 1;     // long offsets
    maxp[0] = 0;
    maxp[1] = 1;
    maxp[4] = static_cast<uint8_t>(glyphs.size() >> 8);
    maxp[5] = static_cast<uint8_t>(glyphs.size());
    return MakeSfnt({{"glyf", glyf}, {"head", head}, {"loca", loca}, {"maxp", maxp}});
}

TEST(Sfnt, MapsCodesAndFindsGlyphsAsFreeTypeDoes) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    auto s = Sfnt::Open(bytes);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->Usable());
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face), 0);
    EXPECT_EQ(s->NumGlyphs(), face->num_glyphs);
    for (char32_t c : {U'A', U'z', U'\u00e9', U'\u03a9', U'\u20ac', U'\uffff', U'\u4e00'})
        EXPECT_EQ(s->MapCode(c), FT_Get_Char_Index(face, c)) << static_cast<uint32_t>(c);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    // Glyphs past the font are empty; a composite's parts are found.
    EXPECT_TRUE(s->Glyph(s->NumGlyphs()).empty());
    std::vector<uint16_t> parts;
    ASSERT_TRUE(s->AllComponents(s->MapCode(U'\u00e9'), parts));
    EXPECT_FALSE(parts.empty());
}

TEST(Sfnt, CollectionsMatchTheFamilyNameAndCffFontsAreNotUsable) {
    const auto ttc = ReadFile(kMicroHei);
    NEED_FILE(ttc, kMicroHei);
    EXPECT_TRUE(UsableTrueType(ttc, u"WenQuanYi Micro Hei"));
    EXPECT_TRUE(UsableTrueType(ttc, u"WenQuanYi Micro Hei Mono"));
    // The second font, not the first, answers its own name.
    EXPECT_NE(Sfnt::Resolve(ttc, u"WenQuanYi Micro Hei")->DirectoryOffset(),
              Sfnt::Resolve(ttc, u"WenQuanYi Micro Hei Mono")->DirectoryOffset());
    EXPECT_FALSE(UsableTrueType(ttc, u"WenQuanYi Micro"));
    EXPECT_FALSE(UsableTrueType(ttc, u""));
    const auto cff = ReadFile(kCff);
    NEED_FILE(cff, kCff);
    ASSERT_TRUE(Sfnt::Open(cff));
    EXPECT_FALSE(UsableTrueType(cff, u"Nimbus Sans"));
}

TEST(Sfnt, CompositesAreBoundedCycleFreeAndEachPartOnce) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint16_t>> glyphs;
        bool ok;
        std::vector<uint16_t> parts;  // of glyph 0
    };
    // Glyph i is built from glyph i + 1: 0 -> 1 -> ... -> n - 1.
    auto chain = [](size_t n) {
        std::vector<std::vector<uint16_t>> g(n);
        for (size_t i = 0; i + 1 < n; ++i) g[i] = {static_cast<uint16_t>(i + 1)};
        return g;
    };
    const auto deep = chain(17), tooDeep = chain(18);  // parts 16 and 17 levels down
    const Case cases[] = {
        {"simple", {{}, {}}, true, {}},
        {"shared part once", {{1, 2}, {3}, {3}, {}}, true, {1, 3, 2}},
        {"self", {{0}}, false, {}},
        {"cycle", {{1}, {2}, {0}}, false, {}},
        {"outside the font", {{7}}, false, {}},
        {"sixteen deep", deep, true, {}},
        {"seventeen deep", tooDeep, false, {}},
    };
    for (const Case& c : cases) {
        const auto bytes = CompositeFont(c.glyphs);
        auto s = Sfnt::Open(bytes);
        ASSERT_TRUE(s) << c.name;
        std::vector<uint16_t> parts;
        EXPECT_EQ(s->AllComponents(0, parts), c.ok) << c.name;
        if (c.ok && !c.parts.empty()) {
            EXPECT_EQ(parts, c.parts) << c.name;
        }
    }
    // A wide diamond of shared parts is walked once per glyph, not per path.
    std::vector<std::vector<uint16_t>> wide(3000);
    for (uint16_t i = 0; i + 2 < 3000; i += 2) wide[i] = {static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + 2)},
                                                   wide[i + 1] = {static_cast<uint16_t>(i + 2)};
    const auto bytes = CompositeFont(wide);
    std::vector<uint16_t> parts;
    EXPECT_FALSE(Sfnt::Open(bytes)->AllComponents(0, parts));  // deeper than 16
}

TEST(Sfnt, DamagedFilesAnswerNothingInsteadOfReadingPastTheEnd) {
    const auto good = CompositeFont({{1}, {}});
    // Cut anywhere: nothing is read past the cut (ASan watches).
    for (size_t cut = 0; cut < good.size(); cut += 3) {
        std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut));
        auto s = Sfnt::Open(part);
        if (!s) continue;
        std::vector<uint16_t> parts;
        s->AllComponents(0, parts);
        s->Glyph(0);
        s->MapCode('A');
        s->Metrics(1);
        EXPECT_FALSE(s->Usable());
    }
    // A "loca" pointing past "glyf" gives an empty glyph.
    auto bad = good;
    auto s = Sfnt::Open(bad);
    const SfntTable* loca = s->Find(SfntTag("loca"));
    bad[loca->offset + 7] = 0xF0;
    EXPECT_TRUE(Sfnt::Open(bad)->Glyph(0).empty());
}

TEST(Download, OutlineOrBitmapFollowsLanguageModeAndTransform) {
    const double s = 0.01, c = 0.70710678 * s;
    struct Case {
        const char* name;
        Language language;
        OutlineChoice choice;
        bool usable;
        FontXform x;
        bool outline;
    } const cases[] = {
        {"upright PCL 5", Language::Pcl5Gl2, {}, true, {float(s), 0, 0, float(s)}, true},
        {"90 degrees PCL 5", Language::Pcl5Gl2, {}, true, {0, float(-s), float(s), 0}, true},
        {"45 degrees PCL 5", Language::Pcl5Gl2, {}, true, {float(c), float(-c), float(c), float(c)}, false},
        {"45 degrees PCL XL", Language::PclXl, {}, true, {float(c), float(-c), float(c), float(c)}, true},
        {"widened PCL 5", Language::Pcl5Gl2, {}, true, {float(2 * s), 0, 0, float(s)}, false},
        // A page fitted to the printable area scales x a hair less than y:
        // under a pixel over a 2048-unit em at 36 points (600 dpi) the
        // printer's even scale serves; at twice the size it is 1.6 pixels.
        {"36 points fitted PCL 5", Language::Pcl5Gl2, {0, false, false, false, 2048}, true, {0.14016f, 0, 0, 0.14054f}, true},
        {"72 points fitted PCL 5", Language::Pcl5Gl2, {0, false, false, false, 2048}, true, {0.28032f, 0, 0, 0.28108f}, false},
        {"36 points fitted, turned PCL 5", Language::Pcl5Gl2, {0, false, false, false, 2048}, true, {0, -0.14016f, 0.14054f, 0},
         true},
        {"widened PCL XL", Language::PclXl, {}, true, {float(2 * s), 0, 0, float(s)}, true},
        {"always bitmap", Language::PclXl, {2, false, false, false}, true, {float(s), 0, 0, float(s)}, false},
        {"unusable file", Language::PclXl, {}, false, {float(s), 0, 0, float(s)}, false},
        {"double-byte without permission", Language::PclXl, {0, true, true, false}, true, {float(s), 0, 0, float(s)}, false},
        {"double-byte with permission", Language::PclXl, {0, true, false, true}, true, {float(s), 0, 0, float(s)}, true},
    };
    for (const Case& k : cases) EXPECT_EQ(UseTrueTypeOutline(k.language, k.choice, k.usable, k.x), k.outline) << k.name;
}

TEST(Download, HeightsAreRoundedToQuarterPoints) {
    // At 7200 dots an inch a pixel is a hundredth of a point.
    EXPECT_EQ(QuarterPointHeight(1013, 7200), 1025);
    EXPECT_EQ(QuarterPointHeight(1012, 7200), 1000);
    EXPECT_EQ(QuarterPointHeight(50, 600), 600);
}

// A record writing PCL 5 into a capture.
struct Job {
    explicit Job(Language language = Language::Pcl5Gl2, uint16_t megabytes = 0) {
        EXPECT_TRUE(AllocateBuffers(r, false));
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.language = language;
        r.resolution = 600;
        r.pageCount = 1;
        ResetDownloadedFonts(Downloads(r), megabytes);
    }
    std::string Flush() {
        SpoolFlush(r);
        std::string out = sink.Text();
        sink.bytes.clear();
        return out;
    }
    CaptureSink sink;
    DeviceRecord r;
};

// The test-side reader's view of PCL 5 output.
pclread::Job ReadPcl(const std::string& pcl) {
    const std::string job = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n" + pcl + "\x1b%-12345X";
    return pclread::Read(std::span(reinterpret_cast<const uint8_t*>(job.data()), job.size()));
}

TrueTypeSource SourceOf(const std::vector<uint8_t>& file, uint32_t uniq = 1) {
    TrueTypeSource f;
    f.uniq = uniq;
    f.ttUniq = uniq;
    f.file = file;
    f.family = u"DejaVu Sans";
    f.unitsPerEm = 2048;
    f.aveCharWidth = 1038;
    f.winAscender = 1901;
    f.winDescender = 483;
    f.maxCharInc = 2000;
    f.xform = {50.0f / 2048, 0, 0, 50.0f / 2048};
    // Bitmaps: a box as wide as the glyph number's last digit plus one.
    f.bitmap = [](uint32_t glyph, BitmapGlyph& out) {
        out.left = 1;
        out.top = -10;
        out.width = glyph % 10 + 1;
        out.height = 10;
        out.advanceQuarterDots = 4 * 12;
        out.rows.assign((out.width + 7) / 8 * out.height, 0xAA);
        return true;
    };
    return f;
}

TEST(Download, Glyph5000GoesToBlock22AsCode5256) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    Job job;
    GlyphCode code;
    ASSERT_TRUE(EnsureGlyphDownloaded(job.r, SourceOf(bytes), FontForm::Outline, 5000, code));
    EXPECT_EQ(code.symbolSet, 2087);
    EXPECT_EQ(BlockSymbolSetSelection(code.symbolSet), "\x1b(65G");
    EXPECT_EQ(code.code, 5000 % 224 + 32);
    EXPECT_EQ(code.fontId, kFirstSoftFontId);
    const std::string out = job.Flush();
    EXPECT_NE(out.find("\x1b*c2087R\x1b(f466W"), std::string::npos);
    EXPECT_NE(out.find("\x1b*c5256E"), std::string::npos);
}

TEST(Download, HeaderAndGlyphsRebuildTheSourceFontForFreeType) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    auto font = Sfnt::Open(bytes);
    Job job;
    const TrueTypeSource f = SourceOf(bytes);
    // Latin, a composite (e acute), past 224 and past 5000.
    std::vector<uint32_t> glyphs;
    for (char32_t c : {U'A', U'g', U'\u00e9', U'\u0416', U'\u2211'}) glyphs.push_back(font->MapCode(c));
    glyphs.push_back(5000);
    glyphs.push_back(6000);
    std::string job1;
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t g : glyphs) {
            GlyphCode code;
            ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Outline, g, code)) << g;
        }
        const std::string out = job.Flush();
        if (pass == 0) job1 = out;
        else EXPECT_EQ(out, "") << "a glyph was sent twice";
    }
    // A second page of the same text sends nothing either.
    job.r.pageCount = 2;
    for (uint32_t g : glyphs) {
        GlyphCode code;
        ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Outline, g, code));
    }
    EXPECT_EQ(job.Flush(), "");

    const pclread::Job read = ReadPcl(job1);
    for (const std::string& e : read.errors) ADD_FAILURE() << e;
    ASSERT_EQ(read.softFonts.count(kFirstSoftFontId), 1u);
    const pclread::SoftFont& sent = read.softFonts.at(kFirstSoftFontId);
    EXPECT_EQ(sent.format, 15);
    // Every glyph and component arrived once, byte for byte.
    std::vector<uint16_t> all;
    for (uint32_t g : glyphs) {
        all.push_back(static_cast<uint16_t>(g));
        EXPECT_EQ(sent.codeToGlyph.at(g + 256), g);
        std::vector<uint16_t> parts;
        ASSERT_TRUE(font->AllComponents(g, parts));
        all.insert(all.end(), parts.begin(), parts.end());
    }
    for (uint16_t g : all) {
        ASSERT_TRUE(sent.glyphs.count(g)) << g;
        auto source = font->Glyph(g);
        EXPECT_TRUE(std::equal(source.begin(), source.end(), sent.glyphs.at(g).begin(), sent.glyphs.at(g).end())) << g;
    }
    EXPECT_EQ(sent.glyphDownloads, sent.glyphs.size());
    // Composite parts went with code 65535.
    EXPECT_NE(job1.find("\x1b*c65535E"), std::string::npos);

    // The rebuilt font draws every glyph as the source font does.
    const std::vector<uint8_t> rebuilt = sent.Rebuild();
    FT_Library lib;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face a, b;
    ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &a), 0);
    ASSERT_EQ(FT_New_Memory_Face(lib, rebuilt.data(), static_cast<FT_Long>(rebuilt.size()), 0, &b), 0);
    for (int px : {13, 50, 173}) {
        FT_Set_Pixel_Sizes(a, 0, static_cast<FT_UInt>(px));
        FT_Set_Pixel_Sizes(b, 0, static_cast<FT_UInt>(px));
        for (uint32_t g : glyphs) {
            ASSERT_EQ(FT_Load_Glyph(a, g, FT_LOAD_TARGET_MONO), 0);
            ASSERT_EQ(FT_Render_Glyph(a->glyph, FT_RENDER_MODE_MONO), 0);
            ASSERT_EQ(FT_Load_Glyph(b, g, FT_LOAD_TARGET_MONO), 0) << g;
            ASSERT_EQ(FT_Render_Glyph(b->glyph, FT_RENDER_MODE_MONO), 0);
            const FT_Bitmap &x = a->glyph->bitmap, &y = b->glyph->bitmap;
            ASSERT_EQ(x.width, y.width) << g << " at " << px;
            ASSERT_EQ(x.rows, y.rows) << g << " at " << px;
            EXPECT_EQ(a->glyph->bitmap_left, b->glyph->bitmap_left);
            EXPECT_EQ(a->glyph->bitmap_top, b->glyph->bitmap_top);
            EXPECT_EQ(a->glyph->advance.x, b->glyph->advance.x);
            for (unsigned row = 0; row < x.rows; ++row)
                EXPECT_EQ(std::memcmp(x.buffer + row * x.pitch, y.buffer + row * y.pitch, (x.width + 7) / 8), 0)
                    << g << " row " << row << " at " << px;
        }
    }
    FT_Done_Face(a);
    FT_Done_Face(b);
    FT_Done_FreeType(lib);
}

// The font with its "cvt " table replaced by `cvt` bytes (the size of the
// global segment follows it).
std::vector<uint8_t> WithCvt(const std::vector<uint8_t>& bytes, size_t cvt) {
    auto font = Sfnt::Open(bytes);
    std::map<std::string, std::vector<uint8_t>> tables;
    for (const SfntTable& t : font->Tables()) {
        const char tag[4] = {char(t.tag >> 24), char(t.tag >> 16), char(t.tag >> 8), char(t.tag)};
        auto b = font->File().subspan(t.offset, t.length);
        tables[std::string(tag, 4)].assign(b.begin(), b.end());
    }
    tables["cvt "].assign(cvt, 1);
    return MakeSfnt(tables);
}

TEST(Download, AGlobalSegmentOver65535BytesMakesFormat16) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    for (size_t cvt : {size_t{64}, size_t{70000}}) {
        const auto big = WithCvt(bytes, cvt);
        auto s = Sfnt::Open(big);
        int format = 0;
        const auto header = BuildPcl5TrueTypeHeader(*s, SourceOf(big), false, kFirstSoftFontId, format);
        EXPECT_EQ(format, cvt > 0xFFFF ? 16 : 15);
        // Sized as the segments add up, and the checksum closes the sum.
        const size_t n = BuildGlobalTrueTypeSegment(*s).size();
        EXPECT_EQ(header.size(), n + (format == 16 ? 130 : 108)) << "format " << format;
        uint8_t sum = 0;
        for (size_t i = 64; i < header.size(); ++i) sum = static_cast<uint8_t>(sum + header[i]);
        EXPECT_EQ(sum, 0);
        Job job;
        job.r.pageCount = 1;
        GlyphCode code;
        ASSERT_TRUE(EnsureGlyphDownloaded(job.r, SourceOf(big), FontForm::Outline, 36, code));
        const std::string out = job.Flush();
        const pclread::Job read = ReadPcl(out);
        for (const std::string& e : read.errors) ADD_FAILURE() << e;
        EXPECT_EQ(read.softFonts.at(kFirstSoftFontId).format, format);
    }
}

TEST(Download, BitmapCharactersAreSentAsTheEngineDrewThem) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    Job job;
    const TrueTypeSource f = SourceOf(bytes);
    std::map<uint32_t, GlyphCode> codes;
    // The first glyph lies past the first block: its font heads the chain.
    for (uint32_t g : {300u, 36u, 37u, 300u}) ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Bitmap, g, codes[g]));
    // One PCL font per block of 224.
    EXPECT_EQ(codes[36].fontId, codes[37].fontId);
    EXPECT_NE(codes[36].fontId, codes[300].fontId);
    EXPECT_EQ(codes[300].code, 300 % 224 + 32);
    const std::string out = job.Flush();
    // The next page finds every character on the printer.
    job.r.pageCount = 2;
    for (uint32_t g : {36u, 300u}) ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Bitmap, g, codes[g]));
    EXPECT_EQ(job.Flush(), "");
    const pclread::Job read = ReadPcl(out);
    for (const std::string& e : read.errors) ADD_FAILURE() << e;
    for (uint32_t g : {36u, 37u, 300u}) {
        const auto& font = read.softFonts.at(codes[g].fontId);
        EXPECT_EQ(font.format, 20);
        const auto& b = font.bitmaps.at(codes[g].code);
        BitmapGlyph want;
        f.bitmap(g, want);
        EXPECT_EQ(b.width, static_cast<int32_t>(want.width));
        EXPECT_EQ(b.top, -want.top);
        EXPECT_EQ(b.left, want.left);
        EXPECT_EQ(b.deltaX, want.advanceQuarterDots);
        EXPECT_EQ(b.rows, want.rows);
    }
}

TEST(FontTable, ReclaimDeletesLeastRecentlyUsedFontsOffThePageFirst) {
    DownloadedFonts d;
    ResetDownloadedFonts(d, 1);
    ASSERT_TRUE(d.tracking);
    // Four fonts of 100000 bytes each: used on pages 1, 2, 1 (in use), 3.
    struct Use {
        uint16_t page;
        uint32_t inUse;
    } const uses[] = {{1, 0}, {2, 0}, {1, 1}, {3, 0}};
    for (const Use& u : uses) {
        const uint16_t i = AddEntry(d);
        d.entries[i].lastPage = u.page;
        d.entries[i].inUse = u.inUse;
        d.entries[i].tables = std::make_shared<FontTableBuffer>();
        ChargeEntry(d, d.entries[i], 100000);
        TouchEntry(d, i);
    }
    // Font 0 used again after the others: the least recently used is now 1.
    TouchEntry(d, 0);
    d.page = 3;
    const int64_t start = d.freeMemory;  // 458752 - 400000
    std::vector<uint16_t> removed;
    auto remove = [&](DownloadedFontEntry& e) { removed.push_back(e.fontId); };
    // Enough for one deletion: only the least recently used goes.
    EXPECT_TRUE(ReclaimPrinterMemory(d, start - kMemoryMargin + 50000, remove));
    EXPECT_EQ(removed, std::vector<uint16_t>{kFirstSoftFontId + 1});
    EXPECT_EQ(d.freeMemory, start + 100000);
    EXPECT_FALSE(d.entries[1].tables);
    // More than can be freed: font 0 goes too, the in-use one and the one
    // on this page stay, and the answer is no.
    EXPECT_FALSE(ReclaimPrinterMemory(d, 400000, remove));
    EXPECT_EQ(removed, (std::vector<uint16_t>{kFirstSoftFontId + 1, kFirstSoftFontId}));
    EXPECT_EQ(d.leastRecent, 2);
    EXPECT_EQ(d.mostRecent, 3);
}

TEST(FontTable, AZeroMemorySizeTracksNothing) {
    DownloadedFonts d;
    ResetDownloadedFonts(d, 0);
    EXPECT_FALSE(d.tracking);
    EXPECT_EQ(d.freeMemory, 0);
    EXPECT_TRUE(ReclaimPrinterMemory(d, 100000000, nullptr));
    EXPECT_LT(PrinterMemoryBytes(0), 0);  // the size is signed, never wrapped
}

TEST(Download, AGlyphWithoutRoomIsNotMarkedAndIsSentOnceThereIsRoom) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    Job job(Language::Pcl5Gl2, 1);
    const TrueTypeSource f = SourceOf(bytes);
    DownloadedFonts& d = Downloads(job.r);
    GlyphCode code;
    ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Outline, 36, code));
    job.Flush();
    // The printer fills up: the next glyph finds no room.
    const int64_t keep = d.freeMemory;
    d.freeMemory = kMemoryMargin;
    EXPECT_FALSE(EnsureGlyphDownloaded(job.r, f, FontForm::Outline, 37, code));
    EXPECT_TRUE(d.exhausted);
    EXPECT_EQ(job.Flush().find("\x1b*c293E"), std::string::npos);
    d.freeMemory = keep;
    ASSERT_TRUE(EnsureGlyphDownloaded(job.r, f, FontForm::Outline, 37, code));
    EXPECT_NE(job.Flush().find("\x1b*c293E"), std::string::npos);
}

TEST(Download, FontsOfEarlierPagesMakeRoomInUseOrder) {
    const auto bytes = ReadFile(kDejaVu);
    NEED_FILE(bytes, kDejaVu);
    const auto big = WithCvt(bytes, 100000);
    Job job(Language::Pcl5Gl2, 1);  // 458752 bytes
    // Fonts whose headers take more than a fifth of the memory each, on
    // pages 1 to 4: the fourth needs room.
    for (uint32_t font = 1; font <= 4; ++font) {
        job.r.pageCount = static_cast<uint16_t>(font);
        GlyphCode code;
        ASSERT_TRUE(EnsureGlyphDownloaded(job.r, SourceOf(big, font), FontForm::Outline, 36, code)) << font;
    }
    EXPECT_FALSE(Downloads(job.r).entries[0].flags & 1);
    EXPECT_TRUE(Downloads(job.r).entries[1].flags & 1);
    const std::string out = job.Flush();
    // The first font went first.
    const size_t del = out.find("\x1b*c2F");
    ASSERT_NE(del, std::string::npos);
    EXPECT_EQ(out.rfind("\x1b*c16385D", del), del - 9);
}

}  // namespace
}  // namespace pclrend
