// The deferred text of colour raster pages: the glyph cache, which queued
// runs a drawing renders into the band (and in what order), and the page-end
// output that skips a run it cannot send and sends the rest.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/font_table.h"
#include "render/output.h"
#include "render/tests/capture_sink.h"
#include "render/text_queue.h"

extern "C" BOOL DrvResetPDEV(DHPDEV, DHPDEV);

namespace pclrend {
namespace {

// A glyph's bits as the engine hands them: rows of (w + 7) / 8 bytes.
struct EngineGlyph {
    std::vector<uint8_t> block;
    GLYPHDATA data{};
    EngineGlyph(int32_t w, int32_t h, const std::vector<uint8_t>& rows) : block(sizeof(GLYPHBITS) + rows.size()) {
        auto* gb = reinterpret_cast<GLYPHBITS*>(block.data());
        gb->ptlOrigin = {1, -static_cast<LONG>(h)};
        gb->sizlBitmap = {w, h};
        std::memcpy(gb->aj, rows.data(), rows.size());
        data.gdf.pgb = gb;
        data.fxD = 16 * (w + 2);
    }
};

bool Bit(const QueuedGlyph& g, int32_t x, int32_t y) {
    const size_t rowBytes = (static_cast<size_t>(g.width) + 7) / 8;
    return (g.rows[static_cast<size_t>(y) * rowBytes + x / 8] >> (7 - x % 8)) & 1;
}

TEST(QueuedGlyphs, DoubleByteBoldIsCachedTwoPixelsLargerEveryPixelA3x3Block) {
    struct Case {
        int32_t w, h;
        std::vector<uint8_t> rows;
        std::set<std::pair<int, int>> ink;  // (x, y) of the source's set pixels
    };
    const Case cases[] = {
        {1, 1, {0x80}, {{0, 0}}},
        {8, 2, {0x81, 0x00}, {{0, 0}, {7, 0}}},  // bold reaches into a ninth column
        {10, 3, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00}, {{9, 1}}},
    };
    for (const Case& c : cases) {
        EngineGlyph e(c.w, c.h, c.rows);
        const QueuedGlyph plain = CacheGlyphBitmap(e.data, false);
        EXPECT_EQ(plain.width, c.w);
        EXPECT_EQ(plain.height, c.h);
        EXPECT_EQ(plain.rows, c.rows);
        EXPECT_EQ(plain.originX, 1);
        EXPECT_EQ(plain.advance, 16 * (c.w + 2));
        const QueuedGlyph bold = CacheGlyphBitmap(e.data, true);
        ASSERT_EQ(bold.width, c.w + 2);
        ASSERT_EQ(bold.height, c.h + 2);
        EXPECT_EQ(bold.originX, plain.originX);
        EXPECT_EQ(bold.originY, plain.originY);
        for (int32_t y = 0; y < bold.height; ++y)
            for (int32_t x = 0; x < bold.width; ++x) {
                bool want = false;
                for (const auto& [ix, iy] : c.ink) want |= x >= ix && x <= ix + 2 && y >= iy && y <= iy + 2;
                EXPECT_EQ(Bit(bold, x, y), want) << c.w << "x" << c.h << " at " << x << "," << y;
            }
    }
}

// A record of a colour raster page with a band of 64 x 48 pixels whose top
// is page row `bandTop`, and a queue of runs of one 4 x 4 glyph each.
struct Page {
    explicit Page(int32_t bandTop = 0) {
        r.language = Language::ColourRaster;
        r.colour = 1;
        r.bandTop = static_cast<int16_t>(bandTop);
        pixels.assign(static_cast<size_t>(kStride) * kHeight, 0xFF);
        surface.iBitmapFormat = BMF_24BPP;
        surface.sizlBitmap = {kWidth, kHeight};
        r.bandSurface = &surface;
        r.band = MonoBand{pixels.data(), kStride, kWidth, kHeight};
        r.textQueue = std::make_shared<TextQueue>();
        auto font = std::make_unique<QueuedFont>();
        font->fontId = 7;
        QueuedGlyph g;
        g.handle = 36;
        g.originX = 0;
        g.originY = -4;
        g.width = g.height = 4;
        g.advance = 16 * 5;
        g.rows.assign(4, 0xF0);
        font->Add(g);
        r.textQueue->queuedFonts.push_back(std::move(font));
    }
    // A run whose glyph's ink covers (x, y - 4) to (x + 4, y), page rows.
    void Add(char name, int32_t x, int32_t y, uint32_t pixel, uint32_t fontId = 7) {
        QueuedRun run;
        run.fontId = fontId;
        run.ink = {x, y - 4, x + 4, y};
        run.pixel = pixel;
        run.textColour = pixel;
        run.glyphs.push_back({36, x, y});
        r.textQueue->queuedRuns.push_back(run);
        names[pixel] = name;
    }
    std::string Queued() const {
        std::string s;
        for (const QueuedRun& run : r.textQueue->queuedRuns) s += names.at(run.pixel);
        return s;
    }
    uint32_t At(int32_t x, int32_t pageRow) const {
        const uint8_t* p = &pixels[static_cast<size_t>(pageRow - r.bandTop) * kStride + static_cast<size_t>(x) * 3];
        return p[0] | p[1] << 8 | p[2] << 16;
    }
    static constexpr int32_t kWidth = 64, kHeight = 48, kStride = 192;
    DeviceRecord r;
    SURFOBJ surface{};
    std::vector<uint8_t> pixels;
    std::map<uint32_t, char> names;
};

TEST(QueuedText, ADrawingRendersTheRunsItCoversAndEveryEarlierRunUnderThem) {
    struct Case {
        const char* what;
        int32_t bandTop;
        DrawnArea area;
        std::optional<DrawnArea> inner;
        const char* left;  // the runs still queued
    };
    // Runs A (10..14, 16..20), B (30..34, 16..20) and C (12..16, 18..22),
    // queued in that order; C lies over A.
    const Case cases[] = {
        {"over B alone", 0, {28, 14, 40, 24}, {}, "AC"},
        {"over C where A is not: A first, then C", 0, {15, 21, 17, 23}, {}, "B"},
        {"runs strictly inside a stroke's hollow stay", 0, {0, 0, 50, 40}, DrawnArea{25, 10, 45, 30}, "B"},
        {"a drawing beside every run", 0, {40, 0, 60, 40}, {}, "ABC"},
        {"the same area on a band further down", 100, {0, 0, 50, 40}, {}, "ABC"},
    };
    for (const Case& c : cases) {
        Page page(c.bandTop);
        page.Add('A', 10, 20, 0x0000AA);
        page.Add('B', 30, 20, 0x00BB00);
        page.Add('C', 12, 22, 0xCC0000);
        FlushOverlappingText(page.r, c.area, c.inner ? &*c.inner : nullptr);
        EXPECT_EQ(page.Queued(), c.left) << c.what;
        if (c.bandTop) continue;
        const std::string left = c.left;
        // Rendered runs are in the band in queue order: C over A.
        EXPECT_EQ(page.At(13, 19), left.find('C') == std::string::npos ? 0xCC0000u : left.find('A') == std::string::npos ? 0x0000AAu : 0xFFFFFFu)
            << c.what;
        EXPECT_EQ(page.At(10, 16), left.find('A') == std::string::npos ? 0x0000AAu : 0xFFFFFFu) << c.what;
        EXPECT_EQ(page.At(31, 17), left.find('B') == std::string::npos ? 0x00BB00u : 0xFFFFFFu) << c.what;
        EXPECT_EQ(page.r.pageFlags & 4, left == "ABC" ? 0 : 4) << c.what;
    }
}

// The page end: a run whose font is gone and a run whose glyph cannot be
// sent are skipped; the run after them still prints, in its colour.
TEST(QueuedText, APageEndSkipsTheRunsItCannotSendAndSendsTheRest) {
    Page page(0);
    CaptureSink sink;
    ASSERT_TRUE(AllocateBuffers(page.r, false));
    page.r.sink = &sink;
    page.r.jobState = kJobOpen;
    page.r.resolution = 300;
    page.r.pageCount = 1;
    page.r.geometry.printableWidth = 64;
    page.r.geometry.printableLength = 48;
    ResetDownloadedFonts(Downloads(page.r), 0);
    QueuedFont& font = *page.r.textQueue->queuedFonts.front();
    font.source.uniq = font.source.ttUniq = 5;
    font.source.family = u"Zelquor Sans";
    font.source.unitsPerEm = 2048;
    font.source.aveCharWidth = 1000;
    font.source.winAscender = 1900;
    font.source.winDescender = 500;
    font.source.maxCharInc = 2000;
    font.source.xform = {10.0f / 2048, 0, 0, 10.0f / 2048};
    DrawFromCache(font);
    page.Add('A', 4, 10, 0x0000FF, 99);  // no such font
    page.Add('B', 20, 10, 0x00FF00);
    page.r.textQueue->queuedRuns.back().glyphs.front().handle = 37;  // not in the cache
    page.Add('C', 30, 20, 0xFF0000);
    EXPECT_EQ(EmitQueuedText(page.r), 0);
    EXPECT_EQ(page.Queued(), "");
    SpoolFlush(page.r);
    const std::string pcl = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n" + sink.Text() + "\x1b%-12345X";
    const pclread::Job job = pclread::Read(std::span(reinterpret_cast<const uint8_t*>(pcl.data()), pcl.size()));
    for (const std::string& e : job.errors) ADD_FAILURE() << e;
    ASSERT_EQ(job.pages.size(), 1u);
    const pclread::Page& p = job.pages[0];
    // C's glyph: its 4 x 4 block above its position, in blue (0xBBGGRR).
    for (int32_t y = 16; y < 20; ++y)
        for (int32_t x = 30; x < 34; ++x) EXPECT_EQ(p.Colour(x, y), 0x0000FFu) << x << "," << y;
    int64_t inked = 0;
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) inked += p.Colour(x, y) != 0xFFFFFF;
    EXPECT_EQ(inked, 16) << "only C printed";
    // The page's fonts and their glyphs go with it; an empty queue answers 1.
    EXPECT_TRUE(page.r.textQueue->queuedFonts.empty());
    EXPECT_EQ(EmitQueuedText(page.r), 1);
}


// Before band 1 of 2 is sent: a run that reaches into band 2 is drawn into
// it and still waits to print; a run band 1 holds whole only waits; a run
// covered in an earlier band that no call drew again here is drawn.
TEST(QueuedText, ABandIsSentWithTheRunsThatReachIntoLaterBands) {
    Page page(0);
    page.r.bandCount = 2;
    page.r.bandIndex = 1;
    page.r.bandHeight = Page::kHeight;
    page.r.geometry.printableWidth = Page::kWidth;
    page.r.geometry.printableLength = 200;
    page.Add('A', 10, 50, 0x0000AA);  // rows 46..50 of a band of 48
    page.Add('B', 30, 14, 0x00BB00);
    page.Add('C', 40, 24, 0xCC0000);
    page.r.textQueue->queuedRuns.back().partial = true;
    CarryQueuedText(page.r);
    EXPECT_EQ(page.Queued(), "ABC");
    EXPECT_EQ(page.At(11, 47), 0x0000AAu);
    EXPECT_EQ(page.At(31, 12), 0xFFFFFFu);
    EXPECT_EQ(page.At(41, 22), 0xCC0000u);
    EXPECT_EQ(page.r.textQueue->queuedRuns.back().partialBand, 1);
    EXPECT_FALSE(page.r.textQueue->queuedRuns.front().partial);
    // A drawing over A on band 1 covers it: A no longer prints, and band 2
    // draws it where it comes again.
    FlushOverlappingText(page.r, {8, 44, 16, 48});
    EXPECT_TRUE(page.r.textQueue->queuedRuns.front().partial);
}

// A reset in the middle of a page hands the queued runs and their fonts to
// the new record: the page end of the new record prints them.
TEST(QueuedText, AResetHandsTheQueueToTheNewRecord) {
    Page page(0);
    page.Add('A', 10, 20, 0x0000AA);
    page.r.stamp = kStampPortrait;
    DeviceRecord fresh;
    fresh.stamp = kStampPortrait;
    ASSERT_TRUE(DrvResetPDEV(reinterpret_cast<DHPDEV>(&page.r), reinterpret_cast<DHPDEV>(&fresh)));
    ASSERT_TRUE(fresh.textQueue);
    EXPECT_EQ(fresh.textQueue->queuedRuns.size(), 1u);
    EXPECT_EQ(fresh.textQueue->queuedFonts.size(), 1u);
    EXPECT_FALSE(page.r.textQueue);
    fresh.stamp = page.r.stamp = 0;
}

}  // namespace
}  // namespace pclrend
