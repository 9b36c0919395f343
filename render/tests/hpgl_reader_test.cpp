// The test-side HP-GL/2 interpreter: what it decodes and paints, and the
// faults of form it reports, on jobs written by hand from the public format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclread/judge.h"
#include "pclread/pclread.h"

namespace pclread {
namespace {

using namespace std::string_literals;

// The set-up our renderer writes at 300 dpi: one user unit a dot, y down
// from the frame's top-left corner.
const std::string kSetUp = "INSP1IP0,0,1016,1016SC0,300,0,-300IR0,100PU0,0TR0PP1PW0LA1,4,2,1";

std::vector<uint8_t> PclJob(const std::string& pcl) {
    const std::string s = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E" + pcl + "\f\x1b" "E\x1b%-12345X";
    return {s.begin(), s.end()};
}
std::vector<uint8_t> GlJob(const std::string& gl, const std::string& pclBefore = "") {
    return PclJob(pclBefore + "\x1b%1B" + kSetUp + gl + "\x1b%0A");
}

Job Decode(const std::vector<uint8_t>& bytes, int w = 400, int h = 300) {
    Options o;
    o.pageWidth = w;
    o.pageHeight = h;
    return pclread::Read(bytes, o);
}

// The box of the pixels darker than mid-grey, right and bottom exclusive.
InkBox Ink(const Page& p) { return FindInk(ToGrey(p), 128); }

std::string Pe(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        uint32_t n = v < 0 ? (static_cast<uint32_t>(-v) << 1 | 1) : static_cast<uint32_t>(v) << 1;
        while (n >= 64) {
            s += static_cast<char>(63 + n % 64);
            n /= 64;
        }
        s += static_cast<char>(191 + n);
    }
    return s;
}

std::vector<double> PePoints(const Job& job) {
    std::vector<double> out;
    for (const auto& c : job.gl)
        if (c.mnemonic == "PE") out.insert(out.end(), c.params.begin(), c.params.end());
    return out;
}

TEST(HpglReader, PolylineEncoding) {
    const struct {
        const char* name;
        std::string pe;
        std::vector<double> points;
    } cases[] = {
        {"absolute, then relative", "PE=<" + Pe({10, 20}) + Pe({5, -5}) + ";", {10, 20, 15, 15}},
        {"zero, one, minus one, a hundred", "PE=" + Pe({0, 1}) + Pe({-1, 100}) + ";", {0, 1, -1, 101}},
        {"the bytes of 0, 1, -1 and 100", "PE=\xBF\xC1\xC2G\xC2;", {0, 1, -1, 101}},
        {"seven-bit mode: 0, 1 and -1 in base 32", "PE7=__ab;", {0, 0, 1, -1}},
        {"two fractional bits", "PE>" + Pe({2}) + "=" + Pe({5, 10}) + ";", {1.25, 2.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = Decode(GlJob(c.pe));
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors[0]);
        EXPECT_EQ(PePoints(job), c.points);
    }
}

// Shapes paint the pixels whose centres they cover, in the user units the
// set-up makes device dots, from the frame's top-left corner.
TEST(HpglReader, PaintsWhereTheShapesAre) {
    const struct {
        const char* name;
        std::string gl;
        InkBox box;
    } cases[] = {
        {"a rectangle fill", "PUPA10,220RR100,-200", {10, 20, 110, 220}},
        {"a closed square polygon", "PE=<" + Pe({20, 30}) + ";PM0PE" + Pe({40, 0, 0, 40, -40, 0}) + ";PM2FP", {20, 30, 60, 70}},
        {"the polygon cut by the input window, its edges inside", "PE=<" + Pe({20, 30}) + ";PM0PE" + Pe({40, 0, 0, 40, -40, 0}) + ";PM2IW25,49,34,40FP1",
         {25, 40, 35, 50}},
        {"a polygon outside the frame is cut at the frame", "PUPA-50,10RR100,10", {0, 10, 50, 20}},
        {"a wide horizontal line: 10 dots, butt caps", "PW0.84667LA1,1PUPA50,100PDPA150,100", {50, 95, 150, 105}},
        {"the set-up's round caps", "PW0.84667PUPA50,100PDPA150,100", {45, 95, 155, 105}},
        {"a wide line with square caps", "PW0.84667LA1,2PUPA50,100PDPA150,100", {45, 95, 155, 105}},
        {"a one-dot line", "PW0PUPA50,100PDPA150,100", {50, 100, 151, 101}},
        {"a Bézier from the pen", "PUPA10,10PDBZ10,110,110,110,110,10;PU", {9, 9, 111, 86}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = Decode(GlJob(c.gl));
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors[0]);
        ASSERT_EQ(job.pages.size(), 1u);
        const InkBox b = Ink(job.pages[0]);
        EXPECT_NEAR(b.left, c.box.left, 1);
        EXPECT_NEAR(b.top, c.box.top, 1);
        EXPECT_NEAR(b.right, c.box.right, 1);
        EXPECT_NEAR(b.bottom, c.box.bottom, 1);
    }
}

TEST(HpglReader, FillRulesAndEdges) {
    // A pentagram: even-odd leaves its middle, nonzero fills it.
    const std::string star = "PE=<" + Pe({100, 40}) + ";PM0PE=" + Pe({135, 148}) + "=" + Pe({43, 81}) + "=" + Pe({157, 81}) + "=" + Pe({65, 148}) + ";PM2";
    const auto evenOdd = Decode(GlJob(star + "FP"));
    const auto winding = Decode(GlJob(star + "FP1"));
    ASSERT_EQ(evenOdd.pages.size(), 1u);
    ASSERT_EQ(winding.pages.size(), 1u);
    EXPECT_FALSE(evenOdd.pages[0].Black(100, 100));
    EXPECT_TRUE(winding.pages[0].Black(100, 100));
    EXPECT_TRUE(evenOdd.pages[0].Black(100, 60)) << "an arm";
    // EP draws only the edges: the inside stays white.
    const auto edged = Decode(GlJob("PW0.5PE=<" + Pe({20, 30}) + ";PM0PE" + Pe({100, 0, 0, 100, -100, 0}) + ";PM2EP"));
    ASSERT_EQ(edged.pages.size(), 1u);
    EXPECT_TRUE(edged.pages[0].Black(20, 80));
    EXPECT_FALSE(edged.pages[0].Black(70, 80));
    // An open subpath ended by PU is not closed by EP.
    const auto open = Decode(GlJob("PW0.5PE=<" + Pe({20, 30}) + ";PM0PE" + Pe({100, 0, 0, 100}) + ";PUPM2EP"));
    ASSERT_EQ(open.pages.size(), 1u);
    EXPECT_TRUE(open.pages[0].Black(119, 80));
    EXPECT_FALSE(open.pages[0].Black(70, 80)) << "no closing diagonal";
}

// Fills through the PCL palette and patterns, their transparency and the
// logical operation.
TEST(HpglReader, ColoursGreysAndPatterns) {
    const std::string rect = "PUPA10,60RR50,-50";
    // A palette of white and red, pen 1.
    const std::string palette = "\x1b&p3i6c3S\x1b*v6W"s + std::string("\0\1\1\x08\x08\x08", 6) +
                                "\x1b*v255a255b255c0I\x1b*v255a0b0c1I";
    auto colourAt = [](const Job& j, int x, int y) { return j.pages.at(0).Colour(x, y); };
    {
        const auto job = Decode(PclJob(palette + "\x1b%1B" + kSetUp + "SP1FT" + rect + "\x1b%0A"));
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors[0]);
        ASSERT_EQ(job.pages.size(), 1u);
        EXPECT_EQ(colourAt(job, 30, 30), 0xFF0000u);
        EXPECT_EQ(colourAt(job, 5, 5), 0xFFFFFFu);
    }
    {
        // FT10 shades in the pen's colour; FT10,0 paints white over black.
        const auto job = Decode(GlJob("FT10,50" + rect + "FT10,0PUPA20,40RR10,-10"));
        ASSERT_EQ(job.pages.size(), 1u);
        EXPECT_NEAR(job.pages[0].Colour(15, 15) & 0xFF, 128, 1);
        EXPECT_EQ(colourAt(job, 25, 35), 0xFFFFFFu);
    }
    {
        // FT9 is listed as a vendor area of its level and painted flat.
        const auto job = Decode(GlJob("FT9,200" + rect));
        ASSERT_EQ(job.vendorAreas.size(), 1u);
        const auto& a = job.vendorAreas[0];
        EXPECT_EQ(a.command, "FT9");
        EXPECT_EQ(a.level, 200);
        EXPECT_EQ(a.left, 10);
        EXPECT_EQ(a.top, 10);
        EXPECT_EQ(a.right, 60);
        EXPECT_EQ(a.bottom, 60);
        EXPECT_EQ(colourAt(job, 30, 30), 0xC8C8C8u);
    }
    {
        // A user pattern (8 x 8, left column inked) under FT22; TR0 paints
        // its white pixels, TR1 leaves the black beneath.
        std::string pattern = "\x1b*c7G\x1b*c16W"s + std::string("\0\0\1\0\0\x08\0\x08", 8);
        pattern += std::string(8, '\x80');
        const std::string under = "PUPA0,100RR100,-100";  // black beneath
        const auto opaque = Decode(PclJob(pattern + "\x1b%1B" + kSetUp + under + "FT22,7TR0" + rect + "\x1b%0A"));
        const auto clear = Decode(PclJob(pattern + "\x1b%1B" + kSetUp + under + "FT22,7TR1" + rect + "\x1b%0A"));
        EXPECT_TRUE(opaque.Ok()) << (opaque.errors.empty() ? "" : opaque.errors[0]);
        ASSERT_EQ(opaque.pages.size(), 1u);
        ASSERT_EQ(clear.pages.size(), 1u);
        EXPECT_TRUE(opaque.pages[0].Black(16, 30));
        EXPECT_FALSE(opaque.pages[0].Black(17, 30));
        EXPECT_TRUE(clear.pages[0].Black(17, 30));
    }
    {
        // MC1,0 paints black whatever the fill; the reset's MC0 is 252 (T or S).
        const auto job = Decode(GlJob("FT10,0MC1,0" + rect));
        ASSERT_EQ(job.pages.size(), 1u);
        EXPECT_TRUE(job.pages[0].Black(30, 30));
    }
}

// The copy for a general interpreter paints each vendor grey (area and
// line) as a user raster fill whose tone over any 16 x 16 block is that
// grey within a level, wherever the block lies; the rest of the job stands.
TEST(HpglReader, VendorGreysCopyKeepsTheirTone) {
    for (const int level : {0, 16, 80, 110, 190, 224, 255}) {
        const std::string gl = "FT9," + std::to_string(level) + "PUPA10,60RR80,-50SV9," + std::to_string(level) +
                               "PW2.54PUPA10,150PDPA390,150PUFT1PA300,10RR20,20";
        const auto original = GlJob(gl);
        const auto copy = VendorGreysAsShading(original);
        const std::string text(copy.begin(), copy.end());
        EXPECT_EQ(text.find("FT9"), std::string::npos) << level;
        EXPECT_EQ(text.find("SV9"), std::string::npos) << level;
        const auto flat = Decode(original);
        const auto dithered = Decode(copy);
        EXPECT_TRUE(dithered.Ok()) << (dithered.errors.empty() ? "" : dithered.errors[0]);
        ASSERT_EQ(dithered.pages.size(), 1u);
        EXPECT_TRUE(dithered.vendorAreas.empty()) << level;
        const Grey want = ToGrey(flat.pages.at(0)), got = ToGrey(dithered.pages[0]);
        // Blocks at odd offsets inside the area (10..90 x 10..60) and the
        // 30-dot line (135..165), and the solid square beside them.
        for (const auto& [bx, by] : {std::pair{10, 10}, {27, 19}, {73, 43}, {101, 137}, {311, 149}, {302, 12}}) {
            int sumWant = 0, sumGot = 0;
            for (int y = by; y < by + 16; ++y)
                for (int x = bx; x < bx + 16; ++x) sumWant += want.At(x, y), sumGot += got.At(x, y);
            EXPECT_NEAR(sumGot / 256.0, sumWant / 256.0, 1.0) << "level " << level << " block " << bx << ":" << by;
        }
    }
}

// The picture frame and plot size scale HP-GL/2, pens included.
TEST(HpglReader, PlotSizeScalesIntoTheFrame) {
    // A frame of 2 x 1.5 inches at (100, 50) and a plot of 4 x 3 inches:
    // everything at half size from the frame's corner.
    const std::string frame = "\x1b*p100x50Y\x1b*c1440x1080Y\x1b*c0T\x1b*c4.0000k3.0000L";
    const auto job = Decode(PclJob(frame + "\x1b%1B" + kSetUp + "PUPA20,220RR200,-200PW0.84667PUPA20,400PDPA420,400\x1b%0A"), 800, 600);
    EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors[0]);
    ASSERT_EQ(job.pages.size(), 1u);
    const auto& p = job.pages[0];
    EXPECT_TRUE(p.Black(100 + 10, 50 + 10));
    EXPECT_TRUE(p.Black(100 + 109, 50 + 109));
    EXPECT_FALSE(p.Black(100 + 111, 50 + 50));
    // The 10-dot line at y 400 is 5 dots wide at y 250.
    int rows = 0;
    for (int y = 230; y < 270; ++y) rows += p.Black(200, y);
    EXPECT_NEAR(rows, 5, 1);
    EXPECT_TRUE(p.Black(200, 250));
}

TEST(HpglReader, Dashes) {
    // Line type 2 (half on, half off) with a 10 mm pattern: 59 dots on, 59 off.
    const auto job = Decode(GlJob("PW0.5LT2,10,1PUPA10,100PDPA390,100"));
    ASSERT_EQ(job.pages.size(), 1u);
    const auto& p = job.pages[0];
    EXPECT_TRUE(p.Black(40, 100));
    EXPECT_FALSE(p.Black(100, 100));
    EXPECT_TRUE(p.Black(160, 100));
    // LT alone is solid again.
    const auto solid = Decode(GlJob("PW0.5LT2,10,1LTPUPA10,100PDPA390,100"));
    EXPECT_TRUE(solid.pages.at(0).Black(100, 100));
}

// The printer's least pen width (0.08467 mm) is exactly 2 dots at 600 dpi
// and 4 at 1200, not a hair more (whose edges would straddle a third row of
// pixel centres); a line starts at the dot of its first point, dashes too
// (a coordinate through the scaling points comes out a hair below the whole
// dot). A least-width pen above one dot is listed for the judges.
TEST(HpglReader, LeastWidthPensAndDashStarts) {
    auto at = [](int dpi, const std::string& gl) {
        const std::string d = std::to_string(dpi);
        const std::string setUp = "INSP1IP0,0,1016,1016SC0," + d + ",0,-" + d + "IR0,100PU0,0TR0PP1PW0LA1,4,2,1";
        return Decode(PclJob("\x1b&u" + d + "D\x1b*t" + d + "R\x1b%1B" + setUp + gl + "\x1b%0A"), 400, 300);
    };
    const struct {
        const char* name;
        int dpi;
        std::string gl;
        InkBox box;
        int32_t radius;  // of the least-width pen listed, 0 none
    } cases[] = {
        {"one dot at 300", 300, "PW0.08467LA1,1PUPA50,100PDPA150,100", {50, 100, 151, 101}, 0},
        {"two dots at 600", 600, "PW0.08467LA1,1PUPA50,100PDPA150,100", {50, 99, 150, 101}, 1},
        {"four dots at 1200", 1200, "PW0.08467LA1,1PUPA50,100PDPA150,100", {50, 98, 150, 102}, 2},
        {"six dots (0.254 mm at 600), not least", 600, "PW0.25400LA1,1PUPA50,100PDPA150,100", {50, 97, 150, 103}, 0},
        {"a dash from its first dot", 300, "PW0.08467UL8,28,9,28,9LT8,6.26533,1PUPA101,50PDPA120,50", {101, 50, 121, 51}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = at(c.dpi, c.gl);
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors[0]);
        ASSERT_EQ(job.pages.size(), 1u);
        const InkBox b = Ink(job.pages[0]);
        EXPECT_EQ(b.left, c.box.left);
        EXPECT_EQ(b.top, c.box.top);
        EXPECT_EQ(b.right, c.box.right);
        EXPECT_EQ(b.bottom, c.box.bottom);
        int32_t radius = 0;
        for (const auto& a : job.markedAreas)
            if (a.what == "least-width pen") radius = a.radius;
        EXPECT_EQ(radius, c.radius);
    }
    // The second dash starts 37 dots after the first (28 on, 9 off).
    const auto dashed = at(300, "PW0.08467UL8,28,9,28,9LT8,6.26533,1PUPA100,50PDPA200,50");
    const auto& p = dashed.pages.at(0);
    EXPECT_FALSE(p.Black(99, 50));
    EXPECT_TRUE(p.Black(100, 50));
    EXPECT_FALSE(p.Black(136, 50));
    EXPECT_TRUE(p.Black(137, 50));
}

TEST(HpglReader, ListsCommandsAndReportsFaults) {
    const auto job = Decode(GlJob("CO\"a note\"SP1;PA10,10;PD;PU;"));
    std::vector<std::string> names;
    for (const auto& c : job.gl) names.push_back(c.mnemonic);
    const std::vector<std::string> expected = {"IN", "SP", "IP", "SC", "IR", "PU", "TR", "PP", "PW", "LA",
                                               "CO", "SP", "PA", "PD", "PU"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(job.gl.at(10).text, "a note");
    EXPECT_EQ(job.gl.at(4).params, (std::vector<double>{0, 100}));
    const struct {
        const char* name;
        std::string gl;
        const char* fault;
    } faults[] = {
        {"PE cut by an escape", "PE=" + Pe({1, 2}), "PE not ended"},
        {"an unknown command", "QQ1;", "unknown HP-GL/2 command QQ"},
        {"a pattern never downloaded", "FT22,9PUPA0,10RR10,-10", "never downloaded"},
        {"a rotation", "RO90;", "rotation not decoded"},
        {"an odd coordinate", "PA1,2,3;", "odd number"},
        {"a Bézier of four points", "PDBZ1,1,2,2;", "partial curve"},
        {"a stray byte", "PA1,1;#", "stray byte"},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        const auto bad = Decode(GlJob(f.gl));
        bool found = false;
        for (const auto& e : bad.errors) found |= e.find(f.fault) != std::string::npos;
        EXPECT_TRUE(found) << (bad.errors.empty() ? "no fault" : bad.errors[0]);
    }
}

// PCL fills that language 1 pages use beside HP-GL/2: shading, the
// printer's own grey (listed), user patterns, the foreground colour.
TEST(HpglReader, PclPatternFills) {
    const std::string rect = "\x1b*p10x20Y\x1b*c40a30B";
    const auto shade = Decode(PclJob(rect + "\x1b*c25g2P"));
    ASSERT_EQ(shade.pages.size(), 1u);
    EXPECT_NEAR(shade.pages[0].Colour(20, 30) & 0xFF, 191, 1);
    const auto vendor = Decode(PclJob(rect + "\x1b*c128G\x1b*v9T\x1b*c5P"));
    ASSERT_EQ(vendor.vendorAreas.size(), 1u);
    EXPECT_EQ(vendor.vendorAreas[0].command, "ESC*v9T");
    EXPECT_EQ(vendor.vendorAreas[0].level, 128);
    EXPECT_EQ(vendor.vendorAreas[0].right, 50);
    EXPECT_EQ(vendor.vendorAreas[0].bottom, 50);
    const auto shortPattern = Decode(PclJob("\x1b*c1G\x1b*c12W"s + std::string("\0\0\1\0\0\x08\0\x08\0\0\0\0", 12)));
    ASSERT_FALSE(shortPattern.errors.empty());
    EXPECT_NE(shortPattern.errors[0].find("pattern data shorter"), std::string::npos);
    // A red foreground from a palette fills a rectangle in red.
    const std::string palette = "\x1b*v6W"s + std::string("\0\1\1\x08\x08\x08", 6) + "\x1b*v255a1I\x1b*v1S";
    const auto red = Decode(PclJob(palette + rect + "\x1b*c0P"));
    ASSERT_EQ(red.pages.size(), 1u);
    EXPECT_EQ(red.pages[0].Colour(20, 30), 0xFF0000u);
}

}  // namespace
}  // namespace pclread
