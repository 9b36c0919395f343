#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "render/hpgl_colour.h"
#include "render/output.h"
#include "render/tests/gl_capture.h"

namespace pclrend {
namespace {

using namespace std::string_literals;

// A colour page, in PCL.
struct ColourCapture : GlCapture {
    ColourCapture() : GlCapture(300, kGlInPcl) { AskColour(); }
};

std::string Entry(uint32_t c, int i) {
    return "\x1b*v" + std::to_string(c & 0xFF) + "a" + std::to_string((c >> 8) & 0xFF) + "b" +
           std::to_string((c >> 16) & 0xFF) + "c" + std::to_string(i) + "I";
}
const std::string kTwoColours = "\x1b*v6W"s + std::string{0, 1, 1, 8, 8, 8};

TEST(PclPalette, SlotsAreReusedWhileTheyMatchAndTheOldestIsGivenUp) {
    ColourCapture c;
    std::vector<std::vector<uint32_t>> palettes;
    for (uint32_t i = 0; i < 7; ++i) palettes.push_back({0xFFFFFF, 0x10 * (i + 1)});
    auto select = [&](size_t p) { return SelectPalette(c.r, 0, palettes[p], false, false, 0); };
    auto fresh = [&](int slot, size_t p) {
        return "\x1b&p" + std::to_string(slot) + "i6c" + std::to_string(slot) + "S" + kTwoColours +
               Entry(palettes[p][0], 0) + Entry(palettes[p][1], 1);
    };
    for (size_t p = 0; p < 6; ++p) {
        EXPECT_EQ(select(p), static_cast<int>(p));
        EXPECT_EQ(c.Out(), fresh(static_cast<int>(p), p));
    }
    // Ages: the last used has the kind's slot count, the others count down.
    EXPECT_EQ(std::vector<int>(c.r.gl.slotAge.begin(), c.r.gl.slotAge.begin() + 6), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(c.r.gl.slotState[5], 2);
    EXPECT_EQ(c.r.gl.slotState[0], 1);

    const struct {
        size_t palette;
        int slot;
        std::string bytes;
        std::vector<int> ages;
    } steps[] = {
        {5, 5, "", {1, 1, 2, 3, 4, 6}},                       // selected already
        {0, 0, "\x1b&p0S", {6, 1, 1, 2, 3, 5}},               // stored: selected again
        {6, 1, "\x1b&p1S" + kTwoColours + Entry(palettes[6][0], 0) + Entry(palettes[6][1], 1), {5, 6, 1, 1, 2, 4}},
        {1, 2, "\x1b&p2S" + kTwoColours + Entry(palettes[1][0], 0) + Entry(palettes[1][1], 1), {4, 5, 6, 1, 1, 3}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.palette);
        EXPECT_EQ(select(s.palette), s.slot);
        EXPECT_EQ(c.Out(), s.bytes);
        EXPECT_EQ(std::vector<int>(c.r.gl.slotAge.begin(), c.r.gl.slotAge.begin() + 6), s.ages);
        for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(c.r.gl.slotState[slot], slot == s.slot ? 2 : 1) << slot;
    }
    FreeSlots(c.r, 0, 6);
    EXPECT_EQ(select(3), 0);
    EXPECT_EQ(c.Out(), fresh(0, 3));
}

TEST(PclPalette, ConfigurationFollowsTheColourCount) {
    const std::vector<uint32_t> bw = {0, 0xFFFFFF}, wb = {0xFFFFFF, 0}, three = {1, 2, 3};
    std::vector<uint32_t> twenty(20, 0x123456);
    const struct {
        const char* name;
        int kind;
        const std::vector<uint32_t>* colours;
        uint8_t rop;
        uint16_t classValue;
        std::string config;
    } cases[] = {
        {"black and white copied: one black plane", 0, &bw, 204, 0, "\x1b*r1U"},
        {"white and black copied", 0, &wb, 204, 0, "\x1b*r1U"},
        {"black and white under another rop", 0, &bw, 240, 0, kTwoColours},
        {"three colours: 4 bits", 1, &three, 0, 0, "\x1b*v6W"s + std::string{0, 1, 4, 8, 8, 8}},
        {"twenty colours: 8 bits", 1, &twenty, 0, 0, "\x1b*v6W"s + std::string{0, 1, 8, 8, 8, 8}},
        {"direct", 5, nullptr, 0, 0, "\x1b*v6W"s + std::string{0, 3, 0, 8, 8, 8}},
        // The product has no depth-4 screen: its bands go at depth 2, and so
        // does the configuration (the depth-4 products' case is with the
        // colour raster's tests).
        {"colour raster, class 7", 10, nullptr, 0, 7, "\x1b*v6W"s + std::string{char(255), 3, 0, 2, 0, 0}},
        {"colour raster, class 5", 10, nullptr, 0, 5, "\x1b*v6W"s + std::string{char(255), 3, 0, 2, 0, 0}},
        {"colour raster, other class", 10, nullptr, 0, 3, ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        ColourCapture c;
        c.r.classValue = k.classValue;
        const std::vector<uint32_t> none;
        const auto& colours = k.colours ? *k.colours : none;
        const int slot = SelectPalette(c.r, k.kind, colours, false, false, k.rop);
        std::string want = "\x1b&p" + std::to_string(slot) + "i6c" + std::to_string(slot) + "S" + k.config;
        if (k.config != "\x1b*r1U")
            for (size_t i = 0; i < colours.size(); ++i) want += Entry(colours[i], static_cast<int>(i));
        EXPECT_EQ(c.Out(), want);
    }
}

TEST(PclPalette, HpGl2IsLeftAndEnteredAroundThePalette) {
    ColourCapture c;
    c.r.glState = kGlInGl2;
    const std::vector<uint32_t> p = {0xFFFFFF, 0xFF};
    SelectPalette(c.r, 0, p, true, false, 0);
    EXPECT_EQ(c.Out(), "\x1b%0A\x1b&p0i6c0S" + kTwoColours + Entry(0xFFFFFF, 0) + Entry(0xFF, 1) + "\x1b%1B");
    SelectPalette(c.r, 0, p, true, true, 0);  // selected already; the caller goes on in PCL
    EXPECT_EQ(c.Out(), "\x1b%0A");
}

TEST(PclPalette, RenderSettingsAndColourReset) {
    ColourCapture c;
    c.r.gl.renderSettings[1] = {1, 20, 30, 14};
    SendRenderSettings(c.r, 1);
    const std::string one = "\x1b*t1.4I\x1b*o3W"s + std::string{6, 0, 20} + "\x1b*o3W" + std::string{6, 1, 30} + "\x1b*t13J";
    EXPECT_EQ(c.Out(), one);
    c.r.gl.renderSettings[2] = {5, 0, 0, 22};
    SendRenderSettings(c.r, 2);
    const std::string two = "\x1b*t2.2I\x1b*o3W"s + std::string{6, 0, 0} + "\x1b*o3W" + std::string{6, 1, 0};
    EXPECT_EQ(c.Out(), two);
    ResetPclColor(c.r);
    EXPECT_EQ(c.Out(), "");
    c.r.gl.colourResetPending = true;
    ResetPclColor(c.r);
    EXPECT_EQ(c.Out(), "\x1b*p0P\x1b*r1U\x1b*v1S\x1b*p1P");
    EXPECT_FALSE(c.r.gl.colourResetPending);
}

TEST(PclPalette, ColourFills) {
    ColourCapture c;
    c.r.glState = kGlInGl2;
    RealizedBrush red{};
    red.colour[0] = 255;
    red.brushKey = 76;
    RealizedBrush hatch{};
    hatch.kind = kBrushHatch;
    hatch.brushKey = 512 + 2;
    hatch.colour[2] = 255;
    for (auto& b : hatch.backColour) b = 255;
    RealizedBrush opaque = hatch;
    opaque.backColour[1] = 0;
    uint8_t bits[32];
    HatchBitmap16(2, bits);
    const struct {
        const char* name;
        const RealizedBrush* brush;
        GlRole role;
        std::string bytes;
    } steps[] = {
        {"red area: pen 1 of white and red", &red, GlRole::Area,
         "\x1b%0A\x1b&p0i6c0S" + kTwoColours + Entry(0xFFFFFF, 0) + Entry(0xFF, 1) + "\x1b%1BSP1FT"},
        {"red again", &red, GlRole::Area, ""},
        {"red line", &red, GlRole::Line, "SP1SV"},
        {"blue hatch on white: cross-hatch 4 in pen 1", &hatch, GlRole::Area,
         ";\x1b%0A\x1b&p12i6c12S" + kTwoColours + Entry(0xFFFFFF, 0) + Entry(0xFF0000, 1) + "\x1b%1BFT21,4"},
        {"blue hatch on magenta: a two-colour pattern", &opaque, GlRole::Area,
         ";\x1b%0A\x1b&p12S" + kTwoColours + Entry(0xFF00FF, 0) + Entry(0xFF0000, 1) + "\x1b*c256G\x1b*c40W" +
             std::string{1, 0, 1, 0, 0, 16, 0, 16} + std::string(reinterpret_cast<char*>(bits), 32) + "\x1b%1BFT22,256"},
        {"red after the hatch: the fill type again", &red, GlRole::Area,
         ";\x1b%0A\x1b&p0S\x1b%1BSP1FT"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        SelectColourFill(c.r, s.brush, s.role, 0);
        EXPECT_EQ(c.Out(), s.bytes);
    }
    // A down diagonal hatch: ink where x - y is a multiple of 8, rows top first.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ((bits[y * 2 + x / 8] >> (7 - x % 8)) & 1, (x - y + 16) % 8 == 0 ? 1 : 0) << x << "," << y;
}

// The colour fill sequence as the independent interpreter prints it: a
// flat colour exactly, and black again after it.
TEST(PclPalette, ColourFillsPrintFlatInGpcl6) {
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    ColourCapture c;
    c.r.glState = kGlNotSetUp;
    SpoolWrite(c.r, "\x1b" "E");
    SetGlMode(c.r, true);
    RealizedBrush red{}, black{};
    red.colour[0] = 255;
    red.brushKey = 76;
    SelectColourFill(c.r, &red, GlRole::Area, 0);
    SpoolWrite(c.r, "PU10,10;PM0;PD100,10,100,100,10,100;PM2;FP;");
    SelectColourFill(c.r, &black, GlRole::Area, 0);
    SpoolWrite(c.r, "PU200,10;PM0;PD290,10,290,100,200,100;PM2;FP;");
    SetGlMode(c.r, false);
    SpoolWrite(c.r, "\f\x1b" "E");
    c.Out();
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zq-gl2colour-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "job.pcl", std::ios::binary).write(reinterpret_cast<const char*>(c.sink.bytes.data()),
                                                          static_cast<std::streamsize>(c.sink.bytes.size()));
    const std::string command = "'" + gpcl6 + "' -q -dNOPAUSE -dBATCH -sDEVICE=ppmraw -r300 -sOutputFile='" +
                                (dir / "page.ppm").string() + "' '" + (dir / "job.pcl").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(dir / "page.ppm", std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), {});
    fs::remove_all(dir);
    // P6, a comment, the size, the maximum: four lines.
    size_t at = 0;
    for (int i = 0; i < 4 && at != std::string::npos; ++i) at = d.find('\n', at) + 1;
    const int width = 2550;
    ASSERT_GE(d.size(), at + static_cast<size_t>(width) * 400 * 3);
    std::map<uint32_t, int> colours;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 500; ++x) {
            const size_t o = at + (static_cast<size_t>(y) * width + x) * 3;
            ++colours[static_cast<uint8_t>(d[o]) | static_cast<uint8_t>(d[o + 1]) << 8 | static_cast<uint8_t>(d[o + 2]) << 16];
        }
    EXPECT_EQ(colours[0x0000FF], 90 * 90) << "red, flat";
    EXPECT_EQ(colours[0x000000], 90 * 90) << "black after red";
    EXPECT_EQ(colours[0xFFFFFF], 500 * 400 - 2 * 90 * 90);
}

}  // namespace
}  // namespace pclrend
