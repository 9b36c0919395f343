#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "render/halftone.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/tests/gl_capture.h"

namespace pclrend {
namespace {

using namespace std::string_literals;

const std::string kComment("CO\"Zelquor Enhanced GL/2\"\0", 26);

std::string SetUpBytes(const std::string& scale) {
    const std::string body = scale.empty() ? ""
                                           : "\x1b%1BINSP1IP0,0,1016,1016SC" + scale +
                                                 "IR0,100PU0,0TR0PP1PW0LA1,4,2,1";
    return "\x1b*p0P" + body + "\x1b%0A\x1b*p1P\x1b%1B" + kComment;
}

TEST(HpglMode, FirstEntryWritesTheSetUpOfTheResolution) {
    const struct {
        uint16_t dpi;
        std::string scale;
        size_t setUpLength;
    } cases[] = {{300, "0,300,0,-300", 68}, {600, "0,600,0,-600", 68}, {1200, "0,1200,0,-1200", 70}, {400, "", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        GlCapture g(c.dpi);
        g.r.ropCache = 256;
        EXPECT_TRUE(SetGlMode(g.r, true));
        const std::string out = g.Out();
        EXPECT_EQ(out, SetUpBytes(c.scale));
        EXPECT_EQ(out.size(), 5 + c.setUpLength + 4 + 5 + 4 + 26);
        EXPECT_EQ(g.r.glState, kGlInGl2);
        EXPECT_EQ(g.r.ropCache, 240);
        // A second entry writes nothing.
        EXPECT_FALSE(SetGlMode(g.r, true));
        EXPECT_EQ(g.Out(), "");
    }
}

TEST(HpglMode, LeavingClosesTheOpenInstructionAndEnteringAgainIsShort) {
    GlCapture g;
    SetGlMode(g.r, true);
    g.Out();
    SetRop(g.r, false, 9);  // R2_MASKPEN: DPa
    EXPECT_EQ(g.Out(), "MC1,160");
    SetGlMode(g.r, false);
    EXPECT_EQ(g.Out(), ";\x1b%0A");
    EXPECT_EQ(g.r.glState, kGlInPcl);
    SetGlMode(g.r, false);
    EXPECT_EQ(g.Out(), "");
    g.r.gl.paletteSaved = true;
    EXPECT_FALSE(SetGlMode(g.r, true));
    EXPECT_EQ(g.Out(), "\x1b*v0O\x1b%1B");
    EXPECT_FALSE(g.r.gl.paletteSaved);

    // The page end puts the pattern copy back before PCL takes over; a
    // restart makes the next page set up again.
    ResetGlMode(g.r, false);
    EXPECT_EQ(g.Out(), "MC1,240;\x1b%0A");
    SetGlMode(g.r, true);
    ResetGlMode(g.r, true);
    EXPECT_EQ(g.Out(), "\x1b%1B\x1b%0A");
    EXPECT_EQ(g.r.glState, kGlNotSetUp);
    EXPECT_TRUE(SetGlMode(g.r, true));

    // A record that never uses HP-GL/2 writes nothing.
    GlCapture none;
    none.r.glState = kGlUnused;
    EXPECT_FALSE(SetGlMode(none.r, true));
    ResetGlMode(none.r, true);
    EXPECT_EQ(none.Out(), "");
}

TEST(HpglMode, SetUpCachesTheJoinAndCapItSelects) {
    // The set-up string selects mitre joins and round caps: a round join or
    // a butt cap must still be sent later.
    GlCapture g;
    g.r.gl.lineJoin = 0;
    g.r.gl.lineCap = 2;
    SetGlMode(g.r, true);
    EXPECT_EQ(g.r.gl.lineJoin, 2u);  // JOIN_MITER
    EXPECT_EQ(g.r.gl.lineCap, 0u);   // ENDCAP_ROUND
}

TEST(HpglMode, LogicalOperationsShareOneCache) {
    GlCapture g;
    SetGlMode(g.r, true);
    g.Out();
    const struct {
        std::function<void()> act;
        std::string bytes;
    } steps[] = {
        {[&] { SetRop(g.r, false, 13); }, ""},  // R2_COPYPEN is the set-up's 240
        {[&] { SetRop(g.r, true, 0xCC); }, "MC1,204"},
        {[&] { SetRop(g.r, true, 0xCC); }, ""},
        {[&] { SetPclRop(g.r, 0xCC); }, ""},
        {[&] { SetPclRop(g.r, 252); }, "\x1b*l252O"},
        {[&] { SetRop(g.r, false, 16); }, "MC1,255"},   // R2_WHITE
        {[&] { SetRop(g.r, false, 99); }, "MC1,240"},   // out of range: pattern copy
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].act();
        EXPECT_EQ(g.Out(), steps[i].bytes);
    }
}

TEST(HpglMode, InputWindowIsSentLeftBottomRightTopOnlyWhenItChanges) {
    GlCapture g;
    const int32_t a[4] = {10, 20, 300, 400}, b[4] = {10, 20, 300, 401};
    SetInputWindow(g.r, nullptr);
    EXPECT_EQ(g.Out(), "");
    SetInputWindow(g.r, a);
    EXPECT_EQ(g.Out(), "IW10,399,299,20");
    SetInputWindow(g.r, a);
    EXPECT_EQ(g.Out(), "");
    SetInputWindow(g.r, b);
    EXPECT_EQ(g.Out(), "IW10,400,299,20");
    SetInputWindow(g.r, nullptr);
    EXPECT_EQ(g.Out(), "IW");
    SetInputWindow(g.r, nullptr);
    EXPECT_EQ(g.Out(), "");
}

RealizedBrush Brush(uint16_t key, uint8_t kind = kBrushSolid) {
    RealizedBrush b{};
    b.brushKey = key;
    b.kind = kind;
    return b;
}

// A brush whose 32 x 32 pattern is a down-right diagonal (1 = white), so
// mirrored rows would show as the other diagonal.
RealizedBrush Diagonal() {
    RealizedBrush b = Brush(256, kBrushPattern);
    b.width = b.height = 32;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool ink = (x - y + 32) % 8 == 0 || (x < 4 && y < 2);
            if (!ink) b.pattern[y * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    return b;
}

std::string UserPattern(const RealizedBrush& b, uint16_t dpi) {
    std::string s = "\x1b*c140W"s + std::string{20, 0, 1, 0, 0, 32, 0, 32, static_cast<char>(dpi >> 8),
                                                 static_cast<char>(dpi), static_cast<char>(dpi >> 8),
                                                 static_cast<char>(dpi)};
    for (uint8_t v : b.pattern) s += static_cast<char>(~v);
    return s;
}

TEST(HpglMode, MonochromeFillsForAreasAndLines) {
    GlCapture g;
    g.r.darknessLevel = 2;
    SetGlMode(g.r, true);
    g.Out();
    const uint8_t* curve = ToneCurve(2);
    const RealizedBrush black = Brush(0), grey = Brush(128), white = Brush(255), hatch = Brush(514, kBrushHatch),
                        none = Brush(kNoBrush), pattern = Diagonal();
    const struct {
        const char* name;
        const RealizedBrush* brush;
        GlRole role;
        std::string bytes;
        uint32_t key;
    } steps[] = {
        {"black area", &black, GlRole::Area, "FT", 0},
        {"black area again: one FT for two equal fills", &black, GlRole::Area, "", 0},
        {"black line", &black, GlRole::Line, "SV", 0},
        {"grey area through the tone curve", &grey, GlRole::Area, "FT9," + std::to_string(curve[128]), 128},
        {"grey line", &grey, GlRole::Line, "SV9," + std::to_string(curve[128]), 128},
        {"white area", &white, GlRole::Area, "FT10,0", 255},
        {"white line", &white, GlRole::Line, "SV1,0", 255},
        {"hatch style 2: cross-hatch 4", &hatch, GlRole::Area, "FT21,4", 514},
        {"hatch again", &hatch, GlRole::Area, "", 514},
        {"no brush", nullptr, GlRole::Area, "", kNoBrush},
        {"a brush the engine refused", &none, GlRole::Line, "", kNoBrush},
        {"user pattern", &pattern, GlRole::Area,
         ";\x1b%0A\x1b*c256G" + UserPattern(pattern, 300) + "\x1b%1BFT22,256", 256},
        {"the same pattern for lines: downloaded again", &pattern, GlRole::Line,
         ";\x1b%0A\x1b*c256G" + UserPattern(pattern, 300) + "\x1b%1BSV22,256", 256},
        {"black area after the pattern", &black, GlRole::Area, "FT", 0},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(SelectMonoFill(g.r, s.brush, s.role), s.key);
        EXPECT_EQ(g.Out(), s.bytes);
    }
}

TEST(HpglMode, ScaledPatternAnnouncesExactlyWhatItSends) {
    const uint8_t rows[8] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};  // ink top-left and bottom-right
    const struct {
        uint16_t dpi;
        uint8_t colour;
        uint32_t side;
    } cases[] = {{300, 0, 16}, {600, 0, 32}, {1200, 0, 64}, {400, 0, 24}, {600, 1, 16}, {100, 0, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        GlCapture g(c.dpi);
        g.AskColour(c.colour);
        EXPECT_EQ(DownloadScaledPattern(g.r, rows, false, false), c.side);
        const std::string out = g.Out();
        const std::string head = "\x1b*c" + std::to_string(c.side * c.side / 8 + 8) + "W";
        ASSERT_EQ(out.substr(0, head.size()), head);
        const std::string data = out.substr(head.size());
        ASSERT_EQ(data.size(), c.side * c.side / 8 + 8);
        EXPECT_EQ(data.substr(0, 8), (std::string{1, 0, 1, 0, 0, static_cast<char>(c.side), 0, static_cast<char>(c.side)}));
        // The first pixel is ink, scaled to a square of side / 8.
        const uint32_t scale = c.side / 8, rowBytes = c.side / 8;
        for (uint32_t y = 0; y < c.side; ++y)
            for (uint32_t x = 0; x < c.side; ++x) {
                const bool ink = (static_cast<uint8_t>(data[8 + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
                const bool want = (x < scale && y < scale) || (x >= c.side - scale && y >= c.side - scale);
                ASSERT_EQ(ink, want) << x << "," << y;
            }
    }
    // Bottom-up rows and the second bitmap's sense.
    GlCapture g;
    DownloadScaledPattern(g.r, rows, true, true);
    const std::string out = g.Out();
    EXPECT_EQ(static_cast<uint8_t>(out[out.find('W') + 1 + 8]), 0xFF);  // the last row first: no clear bit in its first byte
}

TEST(HpglMode, PclPatternsOfBrushes) {
    GlCapture g;
    RealizedBrush grey = Brush(128);
    for (int i = 0; i < 128; ++i) grey.pattern[i] = static_cast<uint8_t>(i % 2 ? 0xAA : 0x55);
    const RealizedBrush black = Brush(0), white = Brush(255), hatch = Brush(515, kBrushHatch);
    RealizedBrush grey2 = grey;
    const struct {
        const char* name;
        std::function<void()> act;
        std::string bytes;
    } steps[] = {
        {"black at page start: the default", [&] { SelectPclPattern(g.r, black, false); }, ""},
        {"hatch 3: cross-hatch 3", [&] { SelectPclPattern(g.r, hatch, false); }, "\x1b*c3G\x1b*v3T"},
        {"black", [&] { SelectPclPattern(g.r, black, false); }, "\x1b*v0T"},
        {"white opaque", [&] { SelectPclPattern(g.r, white, true); }, "\x1b*v1T\x1b*v1O"},
        {"white again", [&] { SelectPclPattern(g.r, white, true); }, ""},
        {"grey as a user pattern", [&] { SelectPclPattern(g.r, grey, false); },
         "\x1b*c640G" + UserPattern(grey, 300) + "\x1b*v4T"},
        {"the same grey", [&] { SelectPclPattern(g.r, grey2, false); }, ""},
        {"the printer's own grey on models that shade", [&] {
             g.r.modelFlags = 16;
             grey2.brushKey = 100;
             SelectPclPattern(g.r, grey2, false);
         }, "\x1b*c100G\x1b*v9T"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        s.act();
        EXPECT_EQ(g.Out(), s.bytes);
    }
}

// The user pattern as the independent interpreter prints it: the brush's
// pattern, ink where the brush is 0, rows top first.
TEST(HpglMode, UserPatternPrintsAsTheBrushInGpcl6) {
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    GlCapture g;
    SpoolWrite(g.r, "\x1b" "E");
    SetGlMode(g.r, true);
    const RealizedBrush pattern = Diagonal();
    SelectMonoFill(g.r, &pattern, GlRole::Area);
    SpoolWrite(g.r, ";PU64,64RA192,192;");
    SetGlMode(g.r, false);
    SpoolWrite(g.r, "\f\x1b" "E");
    const auto pages = testing::RunGpcl6(gpcl6, (g.Out(), g.sink.bytes), 300, "userpattern");
    ASSERT_EQ(pages.size(), 1u);
    const auto& p = pages[0];
    // Find the filled square on the sheet (its place depends on the logical
    // page), then compare it with the tiled pattern at some phase.
    const InkBox box = InkBoxOf(p);
    ASSERT_GE(box.right, 0);
    const int left = box.left, top = box.top;
    auto inkAt = [&](int x, int y) { return p.grey[static_cast<size_t>(y) * p.width + x] < 128; };
    bool matched = false;
    for (int dy = 0; dy < 32 && !matched; ++dy)
        for (int dx = 0; dx < 32 && !matched; ++dx) {
            bool all = true;
            for (int y = 8; y < 120 && all; ++y)
                for (int x = 8; x < 120 && all; ++x) {
                    const int px = (x + dx) % 32, py = (y + dy) % 32;
                    const bool want = !((pattern.pattern[py * 4 + px / 8] >> (7 - px % 8)) & 1);
                    all = inkAt(left + x, top + y) == want;
                }
            matched = all;
        }
    EXPECT_TRUE(matched) << "the printed square is not the brush's pattern at any phase";
}

}  // namespace
}  // namespace pclrend

namespace pclrend {
namespace {

// The picture frame of an n-up cell: a page drawn at page size lands in
// the cell at the drawn size, scaled by the printer.
TEST(HpglMode, PictureFrameScalesThePageIntoItsCell) {
    GlCapture g;
    g.r.geometry.printableWidth = 2400;
    g.r.geometry.printableLength = 3150;
    g.r.geometry.printableWidth720 = 5760;
    g.r.geometry.printableLength720 = 7560;
    g.r.drawnWidth = 2400;
    g.r.drawnHeight = 3150;
    Gl2PictureFrame(g.r);
    EXPECT_EQ(g.Out(), "\x1b*p0x0Y\x1b*c5760x7560Y\x1b*c0T" + SetUpBytes("0,300,0,-300") + "\x1b%0A");

    const Cell cell{300, 600, 1500, 2175};
    g.r.pagesPerSheet = 2;
    g.r.currentCell = &cell;
    g.r.drawnWidth = 1200;
    g.r.drawnHeight = 1575;
    SpoolWrite(g.r, "\x1b" "E");
    Gl2PictureFrame(g.r);
    const std::string out = g.Out();
    EXPECT_EQ(out, "\x1b" "E\x1b*p300x600Y\x1b*c2881x3781Y\x1b*c0T\x1b*c8.0028K\x1b*c10.5028L" +
                       SetUpBytes("0,300,0,-300") + "\x1b%0A");
    // The whole page as a filled polygon prints as the cell.
    SetGlMode(g.r, true);
    SpoolWrite(g.r, "FTPU0,0;PM0;PD2400,0,2400,3150,0,3150;PM2;FP;");
    SetGlMode(g.r, false);
    SpoolWrite(g.r, "\f\x1b" "E");
    g.Out();
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    const auto pages = testing::RunGpcl6(gpcl6, g.sink.bytes, 300, "nupframe");
    ASSERT_EQ(pages.size(), 1u);
    const auto& p = pages[0];
    const InkBox b = InkBoxOf(p);
    EXPECT_NEAR(b.right - b.left + 1, 1200, 2);
    EXPECT_NEAR(b.bottom - b.top + 1, 1575, 2);
    // PCL's origin is the logical page's left edge and the top margin.
    EXPECT_NEAR(b.left, 75 + 300, 1);
    EXPECT_NEAR(b.top, 150 + 600, 1);
}

}  // namespace
}  // namespace pclrend
