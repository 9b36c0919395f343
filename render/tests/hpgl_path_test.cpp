#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/hpgl_mode.h"
#include "render/hpgl_path.h"
#include "render/output.h"
#include "render/tests/gl_capture.h"

namespace pclrend {
namespace {

using namespace std::string_literals;

std::string Pe(std::initializer_list<int32_t> values) {
    std::string s;
    for (int32_t v : values) PeEncode(v, s);
    return s;
}

TEST(HpglPath, PeEncoding) {
    const struct {
        int32_t value;
        std::string bytes;
    } cases[] = {
        {0, "\xBF"}, {1, "\xC1"}, {-1, "\xC2"}, {100, "G\xC2"}, {31, "\xFD"}, {32, "?\xC0"},
        // Beyond 16 bits the value is not folded: 40000 -> 80000 = 19*4096 + 34*64 + 0.
        {40000, "\x3F\x61\xD2"},
        // Each count of digits, at the edges where one more begins.
        {2047, "}\xFE"}, {2048, "??\xC0"}, {8388608, "????\xC0"}, {536870912, "?????\xC0"},
        {-2147483647, "~~~~~\xC2"},
    };
    std::string chained, separate;
    char buffer[8 * std::size(cases)];
    char* end = buffer;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Pe({c.value}), c.bytes);
        end = PeEncodeTo(c.value, end);
        separate += c.bytes;
    }
    // Written one after the other into one buffer, as paths are: each
    // number's spare bytes are overwritten by the next.
    EXPECT_EQ(std::string(buffer, end), separate);
}

// A path made of records of whole pixels.
struct TestPath {
    struct Record {
        FLONG flags;
        std::vector<POINTFIX> points;
    };
    std::vector<Record> records;
    PathSource Source() {
        at = 0;
        return [this](PathPiece& p) {
            if (at >= records.size()) return false;
            const Record& rec = records[at++];
            p.flags = rec.flags;
            p.points = rec.points.data();
            p.count = static_cast<ULONG>(rec.points.size());
            return at < records.size();
        };
    }
    size_t at = 0;
};

std::vector<POINTFIX> Px(std::initializer_list<std::pair<int, int>> pts) {
    std::vector<POINTFIX> v;
    // Each point within half a pixel of its pixel (x half a pixel after,
    // which goes down; y 7/16 before): the nearest pixel is written.
    for (auto [x, y] : pts) v.push_back({x * 16 + 8, y * 16 - 7});
    return v;
}

constexpr FLONG kBegin = PD_BEGINSUBPATH, kEnd = PD_ENDSUBPATH, kClose = PD_CLOSEFIGURE, kBez = PD_BEZIERS;

TEST(HpglPath, PolygonsAsTheyAreWritten) {
    const struct {
        const char* name;
        TestPath path;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"a closed square",
         {{{kBegin | kEnd | kClose, Px({{10, 20}, {110, 20}, {110, 120}, {10, 120}})}}},
         "PE=<" + Pe({10, 20}) + ";PM0PE" + Pe({100, 0, 0, 100, -100, 0}) + ";PM2", true},
        {"two subpaths: the second after PM1, the open one ends with PU",
         {{{kBegin | kEnd, Px({{0, 0}, {5, 0}})}, {kBegin | kEnd | kClose, Px({{50, 50}, {60, 50}, {60, 60}})}}},
         "PE=<" + Pe({0, 0}) + ";PM0PE" + Pe({5, 0}) + ";PU" + "PM1PE=<" + Pe({50, 50}) + Pe({10, 0, 0, 10}) + ";PM2",
         true},
        {"lines, Béziers, lines",
         {{{kBegin, Px({{0, 0}, {10, 0}})},
           {kBez, Px({{20, 0}, {30, 10}, {30, 20}, {30, 30}, {20, 40}, {10, 40}})},
           {kEnd, Px({{0, 40}, {0, 20}})}}},
         "PE=<" + Pe({0, 0}) + ";PM0PE" + Pe({10, 0}) + ";PDBZ20,0,30,10,30,20,30,30,20,40,10,40" + ";PE=" +
             Pe({0, 40}) + Pe({0, -20}) + ";PU" + "PM2",
         true},
        {"a Bézier record of four points fails and closes polygon mode",
         {{{kBegin, Px({{0, 0}, {10, 0}})}, {kBez | kEnd, Px({{1, 1}, {2, 2}, {3, 3}, {4, 4}})}}},
         "PE=<" + Pe({0, 0}) + ";PM0PE" + Pe({10, 0}) + ";PM2", false},
        {"an empty path writes nothing", {{{kBegin | kEnd, {}}}}, "", true},
        {"points far off the page are held to the safe range",
         {{{kBegin | kEnd | kClose, {{0, 0}, {100000 * 16, 0}, {0, -100000 * 16}}}}},
         "PE=<" + Pe({0, 0}) + ";PM0PE" + Pe({32767, 0, -32767, -32767}) + ";PM2", true},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        GlCapture g;
        g.r.glState = kGlInGl2;
        bool drew = false;
        EXPECT_EQ(Gl2EmitPath(g.r, c.path.Source(), &drew), c.ok);
        const std::string out = g.Out();
        EXPECT_EQ(out, c.bytes);
        if (!c.ok) continue;
        // The reader finds every point of the path, in order, where it is
        // (whole pixels, held to the safe range), in the PE and BZ numbers.
        const std::string job = "\x1b" "E\x1b%1BIN" + out + "\x1b%0A\f";
        const auto decoded = DecodeGl({job.begin(), job.end()}, 300, 300);
        EXPECT_TRUE(decoded.Ok()) << Faults(decoded);
        std::vector<double> found, expected;
        for (const auto& cmd : decoded.gl)
            if (cmd.mnemonic == "PE" || cmd.mnemonic == "BZ") found.insert(found.end(), cmd.params.begin(), cmd.params.end());
        for (const auto& rec : c.path.records)
            for (const auto& pt : rec.points)
                for (LONG v : {pt.x, pt.y}) expected.push_back(std::clamp<LONG>(NearestPixel(v), -32767, 32767));
        EXPECT_EQ(found, expected);
    }
}

TEST(HpglPath, FillAndEdgePerClipRectangle) {
    GlCapture g;
    const RECTL a{10, 20, 30, 40};
    Gl2DrawPolygonIn(g.r, nullptr, false, true, false);
    EXPECT_EQ(g.Out(), "EP");
    Gl2DrawPolygonIn(g.r, &a, true, false, true);
    EXPECT_EQ(g.Out(), "IW10,39,29,20FP1");
    Gl2DrawPolygonIn(g.r, &a, false, true, true);
    EXPECT_EQ(g.Out(), "FPEP");
    Gl2DrawPolygonIn(g.r, nullptr, false, false, true);
    EXPECT_EQ(g.Out(), "IWFP");
}

LINEATTRS Cosmetic(LONG width, FLONG fl = 0) {
    LINEATTRS la{};
    la.fl = fl;
    la.elWidth.l = width;
    return la;
}

LINEATTRS Geometric(float width, ULONG join, ULONG cap, float miter = 10.0f) {
    LINEATTRS la{};
    la.fl = LA_GEOMETRIC;
    la.elWidth.e = width;
    la.iJoin = join;
    la.iEndCap = cap;
    la.eMiterLimit = miter;
    return la;
}

TEST(HpglPath, LineAttributes) {
    const struct {
        const char* name;
        uint16_t dpi;
        LINEATTRS la;
        std::string bytes;
    } cases[] = {
        {"cosmetic at 300 dpi: one pixel", 300, Cosmetic(1), "LA1,1PW0.08467"},
        {"cosmetic at 600 dpi: raised to 2", 600, Cosmetic(1), "LA1,1PW0.08467"},
        {"cosmetic at 1200 dpi: raised to 4", 1200, Cosmetic(1), "LA1,1PW0.08467"},
        {"ten pixels at 600 dpi", 600, Cosmetic(10), "LA1,1PW0.42333"},
        {"alternate, one pixel at 300 dpi", 300, Cosmetic(1, LA_ALTERNATE), "LA1,1PW0.08467LT1,0.5,1"},
        {"alternate at 600 dpi: wider than one", 600, Cosmetic(1, LA_ALTERNATE), "LA1,1PW0.08467LT2,2,1"},
        {"round join, butt cap right after set-up", 300, Geometric(3, JOIN_ROUND, ENDCAP_BUTT),
         "LA2,4,1,1,3,10PW0.25400"},
        {"mitre join and round cap: the set-up's", 300, Geometric(3, JOIN_MITER, ENDCAP_ROUND), "LA3,10PW0.25400"},
        {"bevel and square, mitre 0.5 raised to 1", 300, Geometric(300, JOIN_BEVEL, ENDCAP_SQUARE, 0.5f),
         "LA2,5,1,2,3,1PW25.40000"},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        GlCapture g(c.dpi);
        SetGlMode(g.r, true);
        g.Out();
        Gl2SetLineAttributes(g.r, c.la, 0.0f, 1.0f);
        EXPECT_EQ(g.Out(), c.bytes);
        if (c.la.fl & LA_GEOMETRIC) {
            EXPECT_GE(c.la.eMiterLimit, 1.0f);
        }
        // The same attributes again send nothing.
        Gl2SetLineAttributes(g.r, c.la, 0.0f, 1.0f);
        EXPECT_EQ(g.Out(), "");
    }
}

// A geometric pen's width through the world transform, to the nearest
// pixel: the engine strokes the unrounded width, so a width cut down prints
// a pixel thinner (a one-unit outline of a page drawn 2.88 times).
TEST(HpglPath, DeviceWidthsRoundToTheNearestPixel) {
    const struct {
        const char* name;
        float width, m21, m22;
        int32_t pixels;
    } cases[] = {
        {"one unit at 2.88", 1.0f, 0.0f, 2.882f, 3},
        {"six units at 2.87", 6.0f, 0.0f, 2.8707f, 17},
        {"four units at 2.88", 4.0f, 0.0f, 2.882f, 12},
        {"mirrored", 4.0f, 0.0f, -2.882f, 12},
        {"turned a quarter", 1.0f, -2.882f, 0.0f, 3},
        {"turned an eighth", 1.0f, 0.7071f, 0.7071f, 1},
        {"a 3-4-5 turn", 10.0f, 0.3f, 0.4f, 5},
        {"not a number", std::nanf(""), 0.0f, 1.0f, 0},
        {"beyond the range", 3e38f, 0.0f, 10.0f, INT32_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Gl2DeviceWidth(c.width, c.m21, c.m22), c.pixels);
    }
    // The pen width sent is that many pixels.
    GlCapture g;
    SetGlMode(g.r, true);
    g.Out();
    LINEATTRS la = Geometric(1, JOIN_MITER, ENDCAP_ROUND);
    Gl2SetLineAttributes(g.r, la, 0.0f, 2.882f);
    EXPECT_EQ(g.Out(), "LA3,10PW0.25400");
}

TEST(HpglPath, Dashes) {
    GlCapture g;
    SetGlMode(g.r, true);
    g.Out();
    FLOAT_LONG two[2], many[25];
    two[0].l = 6;
    two[1].l = 3;
    std::string first20;
    for (int i = 0; i < 25; ++i) {
        many[i].l = i + 1;
        if (i < 20) first20 += "," + std::to_string(i + 1);
    }
    LINEATTRS dashed = Cosmetic(1), longer = Cosmetic(1), solid = Cosmetic(1);
    dashed.cstyle = 2;
    dashed.pstyle = two;
    longer.cstyle = 25;
    longer.pstyle = many;
    const struct {
        const char* name;
        LINEATTRS* la;
        std::string bytes;
    } steps[] = {
        {"two lengths are written twice", &dashed, "LA1,1PW0.08467UL8,6,3,6,3LT8,1.52400,1"},
        {"the same dash", &dashed, ""},
        {"solid", &solid, "LT"},
        {"the dash again: line type 8 only", &dashed, "LT8,1.52400,1"},
        {"25 lengths are cut to 20", &longer, "UL8" + first20 + "LT8,17.78000,1"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        Gl2SetLineAttributes(g.r, *s.la, 0.0f, 1.0f);
        EXPECT_EQ(g.Out(), s.bytes);
    }
    // A geometric dash through a scale of 2.87 keeps its hundredths (30 and
    // 12 units: 86.1 and 34.44 pixels), and the pattern is as long as they
    // together (241.08 pixels at 300 dpi: 20.41144 mm), so the tenth dash
    // starts where the engine starts it, not 4 pixels before.
    FLOAT_LONG units[2];
    units[0].e = 30;
    units[1].e = 12;
    LINEATTRS wide = Geometric(6, JOIN_MITER, ENDCAP_ROUND);
    wide.cstyle = 2;
    wide.pstyle = units;
    Gl2SetLineAttributes(g.r, wide, 0.0f, 2.87f);
    const std::string out = g.Out();
    EXPECT_NE(out.find("UL8,86.10,34.44,86.10,34.44LT8,20.41144,1"), std::string::npos) << out;
}

// A cosmetic line after a square-capped wide one gets butt ends again (at
// 600 dpi it prints two dots wide, so a square cap would lengthen each dash
// by a dot at either end); the cap is sent only when the printer holds
// another.
TEST(HpglPath, CosmeticLinesHaveButtEnds) {
    GlCapture g(600);
    SetGlMode(g.r, true);
    g.Out();
    LINEATTRS square = Geometric(18, JOIN_BEVEL, ENDCAP_SQUARE), thin = Cosmetic(1), butt = Geometric(18, JOIN_BEVEL, ENDCAP_BUTT);
    const struct {
        const char* name;
        LINEATTRS* la;
        std::string bytes;
    } steps[] = {
        {"wide, square caps", &square, "LA2,5,1,2,3,10PW0.76200"},
        {"cosmetic: butt", &thin, "LA1,1PW0.08467"},
        {"cosmetic again: nothing", &thin, ""},
        {"wide with butt caps: no cap", &butt, "PW0.76200"},
        {"wide, square caps again", &square, "LA1,2"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        Gl2SetLineAttributes(g.r, *s.la, 0.0f, 1.0f);
        EXPECT_EQ(g.Out(), s.bytes);
    }
}

// The independent interpreter fills our polygons where they are drawn: a
// square exactly, and a star by its fill rule.
TEST(HpglPath, PolygonsPrintInGpcl6) {
    // A pentagram of radius 60 around (c, 100): its middle is inside by the
    // winding rule and outside by even-odd.
    auto star = [](int c) {
        std::vector<std::pair<int, int>> pts;
        for (int i = 0; i < 5; ++i) {
            const double a = -M_PI / 2 + i * 4 * M_PI / 5;
            pts.push_back({c + static_cast<int>(std::lround(60 * std::cos(a))), 100 + static_cast<int>(std::lround(60 * std::sin(a)))});
        }
        TestPath p;
        std::vector<POINTFIX> v;
        for (auto [x, y] : pts) v.push_back({x * 16, y * 16});
        p.records.push_back({kBegin | kEnd | kClose, v});
        return p;
    };
    GlCapture g;
    g.r.ropCache = 256;
    SpoolWrite(g.r, "\x1b" "E\x1b&l0E");  // no top margin: HP-GL/2's origin is the page's top-left
    SetGlMode(g.r, true);
    SpoolWrite(g.r, "FT");
    TestPath square;
    square.records.push_back({kBegin | kEnd | kClose, Px({{20, 20}, {60, 20}, {60, 60}, {20, 60}})});
    ASSERT_TRUE(Gl2EmitPath(g.r, square.Source()));
    Gl2DrawPolygonIn(g.r, nullptr, false, false, true);
    TestPath evenOdd = star(200), winding = star(400);
    ASSERT_TRUE(Gl2EmitPath(g.r, evenOdd.Source()));
    Gl2DrawPolygonIn(g.r, nullptr, false, false, true);
    ASSERT_TRUE(Gl2EmitPath(g.r, winding.Source()));
    Gl2DrawPolygonIn(g.r, nullptr, true, false, true);
    SetGlMode(g.r, false);
    SpoolWrite(g.r, "\f\x1b" "E");
    g.Out();
    if (const char* dump = std::getenv("ZQ_DUMP_JOB")) {
        FILE* f = std::fopen(dump, "wb");
        std::fwrite(g.sink.bytes.data(), 1, g.sink.bytes.size(), f);
        std::fclose(f);
    }
    // The reader, then the independent interpreter, print the same shapes.
    const auto decoded = DecodeGl(g.sink.bytes);
    EXPECT_TRUE(decoded.Ok()) << Faults(decoded);
    ASSERT_EQ(decoded.pages.size(), 1u);
    std::vector<testing::GreyPage> printed = {GreyOf(decoded.pages[0])};
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) std::printf("gpcl6 not found: the shapes are checked by the reader only\n");
    else printed.push_back(testing::RunGpcl6(gpcl6, g.sink.bytes, 300, "hpglpath").at(0));
    for (const auto& p : printed) {
        // HP-GL/2's origin is PCL's (the logical page's left edge, the top
        // margin): the square, alone in the sheet's top-left corner, shows it.
        const InkBox b = InkBoxOf(p, &p == &printed[0] ? 120 : 200, 300);  // the reader's page starts at the printable area
        ASSERT_GE(b.right, 0);
        EXPECT_NEAR(b.right - b.left + 1, 40, 1);
        EXPECT_NEAR(b.bottom - b.top + 1, 40, 1);
        const int ox = b.left - 20, oy = b.top - 20;
        auto ink = [&](int x, int y) { return p.grey[static_cast<size_t>(y + oy) * p.width + x + ox] < 128; };
        EXPECT_TRUE(ink(40, 40));
        EXPECT_FALSE(ink(200, 100)) << "even-odd leaves the star's middle";
        EXPECT_TRUE(ink(200, 60)) << "an arm of the even-odd star";
        EXPECT_TRUE(ink(400, 100)) << "the winding rule fills the star's middle";
    }
}

// The box of the ink in a binary PBM (P4) as hp2xx writes it: width and
// height, 0 x 0 when there is none or the file is not one.
std::pair<int, int> PbmInkSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), {});
    int w = 0, h = 0, n = 0;
    if (std::sscanf(d.c_str(), "P4 %d %d%n", &w, &h, &n) != 2 || w <= 0 || h <= 0) return {0, 0};
    const size_t start = static_cast<size_t>(n) + 1, row = (static_cast<size_t>(w) + 7) / 8;
    if (d.size() < start + row * h) return {0, 0};
    int l = w, t = h, r = -1, b = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((static_cast<uint8_t>(d[start + y * row + x / 8]) >> (7 - x % 8)) & 1) {
                l = std::min(l, x), r = std::max(r, x), t = std::min(t, y), b = std::max(b, y);
            }
    return r < 0 ? std::pair{0, 0} : std::pair{r - l + 1, b - t + 1};
}

// Debian's hp2xx, an outside HP-GL/2 plotter, draws the HP-GL/2 we write
// for a table of shapes to the size the reader prints them.
TEST(HpglPath, Hp2xxDrawsTheShapesTheReaderPrints) {
    if (std::system("command -v hp2xx >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "hp2xx not found (tools/install-deps.sh installs it)";
    auto star = [] {
        TestPath p;
        std::vector<POINTFIX> v;
        for (int i = 0; i < 5; ++i) {
            const double a = -M_PI / 2 + i * 4 * M_PI / 5;
            v.push_back({static_cast<LONG>(std::lround(150 + 80 * std::cos(a))) * 16, static_cast<LONG>(std::lround(150 + 80 * std::sin(a))) * 16});
        }
        p.records.push_back({kBegin | kEnd | kClose, v});
        return p;
    };
    TestPath curve;
    curve.records.push_back({kBegin, Px({{50, 150}})});
    curve.records.push_back({kBez | kEnd | kClose, Px({{50, 50}, {250, 50}, {250, 150}, {250, 250}, {50, 250}, {50, 150}})});
    TestPath square, polyline;
    square.records.push_back({kBegin | kEnd | kClose, Px({{40, 40}, {240, 40}, {240, 200}, {40, 200}})});
    polyline.records.push_back({kBegin | kEnd, Px({{40, 60}, {140, 200}, {240, 60}})});
    const struct {
        const char* name;
        TestPath path;
        const char* paint;  // after the path
        LONG width;         // geometric pen width in pixels (0: cosmetic)
        int outline;        // what hp2xx adds around a fill (below)
    } cases[] = {
        // hp2xx fills a polygon up to its right and bottom edges inclusive
        // and outlines it with its thinnest pen (0.1 mm, a pixel at 300
        // dpi, half of it outside): 3 pixels more a side than the reader,
        // and a pixel more at a star's sharp tips. Strokes compare as they are.
        {"square", square, "FP", 0, 3},
        {"star, even-odd", star(), "FP", 0, 4},
        {"star, nonzero", star(), "FP1", 0, 4},
        {"Bézier", curve, "FP", 0, 3},
        {"wide polyline", polyline, "EP", 12, 0},
    };
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zq-hp2xx-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        GlCapture g;
        g.r.ropCache = 256;
        SpoolWrite(g.r, "\x1b" "E\x1b&l0E");
        SetGlMode(g.r, true);
        if (c.width) {
            LINEATTRS la{};
            la.fl = LA_GEOMETRIC;
            la.elWidth.e = static_cast<float>(c.width);
            la.iJoin = JOIN_ROUND;
            la.iEndCap = ENDCAP_ROUND;
            la.eMiterLimit = 10;
            Gl2SetLineAttributes(g.r, la, 0.0f, 1.0f);
        }
        SpoolWrite(g.r, "FT");
        ASSERT_TRUE(Gl2EmitPath(g.r, c.path.Source()));
        SpoolWrite(g.r, c.paint);
        SetGlMode(g.r, false);
        SpoolWrite(g.r, "\f\x1b" "E");
        g.Out();
        const auto decoded = DecodeGl(g.sink.bytes, 400, 400);
        EXPECT_TRUE(decoded.Ok()) << Faults(decoded);
        ASSERT_EQ(decoded.pages.size(), 1u);
        const InkBox ours = InkBoxOf(GreyOf(decoded.pages[0]));
        ASSERT_GE(ours.right, 0);
        // The HP-GL/2 between the mode switches, as a plotter file.
        const std::string bytes(g.sink.bytes.begin(), g.sink.bytes.end());
        std::string gl;
        for (size_t at = bytes.find("\x1b%1B"); at != std::string::npos; at = bytes.find("\x1b%1B", at + 1)) {
            const size_t end = bytes.find('\x1b', at + 1);
            gl += bytes.substr(at + 4, end - at - 4);
        }
        // Without the picture frame of PCL, a plotter takes IR to a frame of
        // nothing; the comment (with its zero byte) it cannot parse.
        for (const std::string& what : {"IR0,100"s, "CO\"Zelquor Enhanced GL/2\""s, std::string(1, '\0')}) {
            for (size_t at = gl.find(what); at != std::string::npos; at = gl.find(what)) gl.erase(at, what.size());
        }
        {
            std::ofstream out(dir / "shape.hgl", std::ios::binary);
            out << gl;
        }
        const std::string command = "cd '" + dir.string() + "' && hp2xx -q -m pbm -d 300 -t -f shape.pbm shape.hgl >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << gl;
        const auto [w, h] = PbmInkSize((dir / "shape.pbm").string());
        EXPECT_NEAR(w, ours.right - ours.left + 1 + c.outline, 1) << gl;
        EXPECT_NEAR(h, ours.bottom - ours.top + 1 + c.outline, 1) << gl;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace pclrend
