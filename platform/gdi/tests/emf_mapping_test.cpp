// Where a metafile's drawing lands: the page placed at its physical size on
// the printable area, and the metafile's own mapping modes, extents and world
// transforms taken exactly, measured in device pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <functional>
#include <string>

#include "base/locale.h"
#include "gdi/dc_draw.h"
#include "gdi/emf_player.h"
#include "gdi/emf_print.h"
#include "gdi/emf_writer.h"
#include "test_support.h"

namespace {

using namespace zq;
using emf::Rt;

using Ink = RECTL;
bool Empty(const Ink& ink) { return ink.right < ink.left; }

// A reference device of 1000 x 1000 pixels on 100 x 100 mm (254 dpi, ten
// pixels to the millimetre), with an exact frame: played onto a page of the
// same pixels, reference pixels are device pixels, while the memory DC's own
// resolution (96 dpi) is not the metafile's.
std::vector<uint8_t> Finish(emf::Writer& w) {
    auto bytes = w.Finish();
    const int32_t frame[4] = {0, 0, 10000, 10000};
    std::memcpy(bytes.data() + 24, frame, sizeof frame);
    return bytes;
}

Ink Played(const std::vector<uint8_t>& bytes, int size = 1000) {
    auto d = emf::ParseEmf(bytes);
    EXPECT_TRUE(d.document) << d.error;
    MemoryPage page(size, size);
    if (!d.document) return Ink{0, 0, -1, -1};
    auto stats = emf::Play(page.dc, *d.document, {0, 0, size, size});
    EXPECT_EQ(stats.failed, 0u);
    return page.InkBox();
}

constexpr uint32_t kStockPenNull = 0x80000000 | NULL_PEN;

void BlackFill(emf::Writer& w) {
    w.CreateBrush(1, 0 /* BS_SOLID */, RGB(0, 0, 0));
    w.Value(Rt::SelectObject, 1);
    w.Value(Rt::SelectObject, kStockPenNull);
}

struct MappingCase {
    const char* name;
    std::function<void(emf::Writer&)> setup;
    RECTL logical;   // the rectangle drawn
    RECTL device;    // where its ink must be (right/bottom exclusive)
};

void Mode(emf::Writer& w, int mode) { w.Value(Rt::SetMapMode, static_cast<uint32_t>(mode)); }

TEST(EmfMapping, RectanglesLandWhereTheMappingModePutsThem) {
    const MappingCase cases[] = {
        {"MM_TEXT", [](emf::Writer& w) { Mode(w, MM_TEXT); }, {100, 100, 500, 300}, {100, 100, 500, 300}},
        // Metric and English units are measured on the reference device.
        {"MM_LOMETRIC", [](emf::Writer& w) { Mode(w, MM_LOMETRIC); }, {100, -100, 500, -300}, {100, 100, 500, 300}},
        {"MM_HIMETRIC", [](emf::Writer& w) { Mode(w, MM_HIMETRIC); }, {1000, -1000, 5000, -3000}, {100, 100, 500, 300}},
        {"MM_LOENGLISH", [](emf::Writer& w) { Mode(w, MM_LOENGLISH); }, {100, -100, 200, -300}, {254, 254, 508, 762}},
        {"MM_HIENGLISH", [](emf::Writer& w) { Mode(w, MM_HIENGLISH); }, {1000, -1000, 2000, -3000}, {254, 254, 508, 762}},
        {"MM_TWIPS", [](emf::Writer& w) { Mode(w, MM_TWIPS); }, {1440, -1440, 2880, -4320}, {254, 254, 508, 762}},
        // The office suite's page: 0.01 mm units through window and viewport extents.
        {"MM_ANISOTROPIC 0.01 mm",
         [](emf::Writer& w) {
             Mode(w, MM_ANISOTROPIC);
             w.Point(Rt::SetWindowExtEx, {10000, 10000});
             w.Point(Rt::SetViewportExtEx, {1000, 1000});
         },
         {1000, 2000, 3000, 2500}, {100, 200, 300, 250}},
        {"MM_ANISOTROPIC origins",
         [](emf::Writer& w) {
             Mode(w, MM_ANISOTROPIC);
             w.Point(Rt::SetWindowExtEx, {1000, 1000});
             w.Point(Rt::SetViewportExtEx, {500, 250});
             w.Point(Rt::SetWindowOrgEx, {100, 100});
             w.Point(Rt::SetViewportOrgEx, {10, 20});
         },
         {300, 300, 700, 700}, {110, 70, 310, 170}},
        // Isotropic: both axes take the smaller scale.
        {"MM_ISOTROPIC",
         [](emf::Writer& w) {
             Mode(w, MM_ISOTROPIC);
             w.Point(Rt::SetWindowExtEx, {1000, 1000});
             w.Point(Rt::SetViewportExtEx, {500, 250});
         },
         {0, 0, 800, 400}, {0, 0, 200, 100}},
        {"MM_ISOTROPIC flipped y",
         [](emf::Writer& w) {
             Mode(w, MM_ISOTROPIC);
             w.Point(Rt::SetWindowExtEx, {100, 100});
             w.Point(Rt::SetViewportExtEx, {400, -800});
             w.Point(Rt::SetViewportOrgEx, {0, 900});
         },
         {10, 10, 60, 110}, {40, 460, 240, 860}},
        {"world scale and offset",
         [](emf::Writer& w) {
             w.WorldTransform(Rt::SetWorldTransform, {2, 0, 0, 2, 50, 60});
         },
         {10, 10, 110, 60}, {70, 80, 270, 180}},
        {"world rotation by a quarter turn",
         [](emf::Writer& w) {
             w.WorldTransform(Rt::SetWorldTransform, {0, 1, -1, 0, 500, 0});
         },
         {100, 100, 300, 200}, {300, 100, 400, 300}},
        {"world after page: both apply",
         [](emf::Writer& w) {
             Mode(w, MM_LOMETRIC);
             w.WorldTransform(Rt::SetWorldTransform, {1, 0, 0, 1, 0, -500});
             w.WorldTransform(Rt::ModifyWorldTransform, {2, 0, 0, 1, 0, 0}, MWT_LEFTMULTIPLY);
         },
         {50, 100, 250, 0}, {100, 400, 500, 500}},
    };
    for (const auto& c : cases) {
        emf::Writer w(1000, 1000, 254);
        BlackFill(w);
        c.setup(w);
        w.Rect(Rt::Rectangle, c.logical);
        Ink ink = Played(Finish(w));
        ASSERT_FALSE(Empty(ink)) << c.name;
        // One pixel either way: which edge pixels a fill takes.
        EXPECT_NEAR(ink.left, c.device.left, 1) << c.name;
        EXPECT_NEAR(ink.top, c.device.top, 1) << c.name;
        EXPECT_NEAR(ink.right, c.device.right, 1) << c.name;
        EXPECT_NEAR(ink.bottom, c.device.bottom, 1) << c.name;
    }
}

// A line of text in each mode, its font height given in that mode's units,
// lands where the same text drawn in pixels lands: same baseline, same left
// edge, same glyph height.
TEST(EmfMapping, TextLandsAndSizesAsInPixels) {
    auto text = [](std::function<void(emf::Writer&)> setup, POINTL at, int32_t height) {
        emf::Writer w(1000, 1000, 254);
        setup(w);
        w.CreateFont(1, emf::MakeLogFont(u"Liberation Sans", -height));
        w.Value(Rt::SelectObject, 1);
        w.Value(Rt::SetTextAlign, TA_BASELINE | TA_LEFT);
        w.ExtTextOutW(at, u"HELLO");
        return Played(Finish(w));
    };
    // 127 pixels high, baseline at (100, 400).
    Ink pixels = text([](emf::Writer& w) { Mode(w, MM_TEXT); }, {100, 400}, 127);
    ASSERT_FALSE(Empty(pixels));
    EXPECT_NEAR(pixels.bottom, 400, 1);
    EXPECT_NEAR(pixels.bottom - pixels.top, 127 * 0.716, 4);  // cap height of the face
    struct Case {
        const char* name;
        int mode;
        POINTL at;
        int32_t height;
    } cases[] = {
        {"MM_LOMETRIC", MM_LOMETRIC, {100, -400}, 127},
        {"MM_HIMETRIC", MM_HIMETRIC, {1000, -4000}, 1270},
        {"MM_LOENGLISH", MM_LOENGLISH, {39, -157}, 50},  // 99.06 and 398.78 pixels
        {"MM_HIENGLISH", MM_HIENGLISH, {394, -1575}, 500},
        {"MM_TWIPS", MM_TWIPS, {567, -2268}, 720},
    };
    for (const auto& c : cases) {
        Ink ink = text([&](emf::Writer& w) { Mode(w, c.mode); }, c.at, c.height);
        ASSERT_FALSE(Empty(ink)) << c.name;
        EXPECT_NEAR(ink.left, pixels.left, 2) << c.name;
        EXPECT_NEAR(ink.bottom, pixels.bottom, 2) << c.name;
        EXPECT_NEAR(ink.top, pixels.top, 2) << c.name;
        EXPECT_NEAR(ink.right, pixels.right, 3) << c.name;
    }
    // The office suite's 0.01 mm page: 12.7 mm high glyph cells.
    Ink office = text(
        [](emf::Writer& w) {
            Mode(w, MM_ANISOTROPIC);
            w.Point(Rt::SetWindowExtEx, {10000, 10000});
            w.Point(Rt::SetViewportExtEx, {1000, 1000});
        },
        {1000, 4000}, 1270);
    EXPECT_NEAR(office.left, pixels.left, 2);
    EXPECT_NEAR(office.top, pixels.top, 2);
    EXPECT_NEAR(office.right, pixels.right, 3);
}

// The page at its physical size from the printable area's top-left; a page
// larger than the printable area shrinks uniformly to fit.
TEST(EmfPlacement, PagesKeepTheirPhysicalSize) {
    auto header = [](RECTL frame, RECTL bounds = {0, 0, 999, 999}) {
        emf::Header h;
        h.frame = frame;
        h.bounds = bounds;
        h.device = {1000, 1000};
        h.millimeters = {100, 100};
        return h;
    };
    const SIZEL letter600{4900, 6400};  // letter less 1/6 inch margins
    struct Case {
        const char* name;
        emf::Header h;
        SIZEL printable;
        int dpi;
        RECTL want;
    } cases[] = {
        {"100 x 50 mm fits", header({0, 0, 10000, 5000}), letter600, 600, {0, 0, 2362, 1181}},
        {"frame offset keeps the size", header({500, 700, 10500, 5700}), letter600, 600, {0, 0, 2362, 1181}},
        // The office suite's page: 180 x 273 mm is taller than letter's printable area.
        {"180 x 273 mm shrinks to the height", header({0, 0, 18000, 27300}), letter600, 600, {0, 0, 4220, 6400}},
        {"A4 on letter shrinks uniformly", header({0, 0, 21000, 29700}), letter600, 600, {0, 0, 4526, 6400}},
        {"wide page shrinks to the width", header({0, 0, 40000, 10000}), letter600, 600, {0, 0, 4900, 1225}},
        {"300 dpi", header({0, 0, 10000, 5000}), {2450, 3200}, 300, {0, 0, 1181, 591}},
        // No frame: the bounds in reference pixels (ten to the millimetre).
        {"empty frame takes the bounds", header({0, 0, 0, 0}, {0, 0, 499, 249}), letter600, 600, {0, 0, 1181, 591}},
        // A damaged frame neither overflows nor leaves the printable area.
        {"huge frame", header({INT_MIN, INT_MIN, INT_MAX, INT_MAX}), letter600, 600, {0, 0, 4900, 4900}},
    };
    for (const auto& c : cases) {
        RECTL r = emf::PlacePage(c.h, c.printable, c.dpi, c.dpi);
        EXPECT_EQ(r.left, c.want.left) << c.name;
        EXPECT_EQ(r.top, c.want.top) << c.name;
        EXPECT_NEAR(r.right, c.want.right, 1) << c.name;
        EXPECT_NEAR(r.bottom, c.want.bottom, 1) << c.name;
        EXPECT_LE(r.right, c.printable.cx) << c.name;
        EXPECT_LE(r.bottom, c.printable.cy) << c.name;
    }
}

// Several metafiles one after another are the pages of one document; a
// damaged page names itself.
TEST(EmfPlacement, DocumentsOfSeveralPages) {
    std::vector<uint8_t> doc;
    for (int i = 0; i < 3; ++i) {
        emf::Writer w(100 + i, 100, 100);
        w.Rect(Rt::Rectangle, {1, 1, 50, 50});
        auto page = w.Finish();
        doc.insert(doc.end(), page.begin(), page.end());
    }
    auto pages = emf::ParseEmfPages(doc);
    ASSERT_EQ(pages.pages.size(), 3u) << pages.error;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pages.pages[static_cast<size_t>(i)].header.device.cx, 100 + i);
    doc.resize(doc.size() - 4);
    auto cut = emf::ParseEmfPages(doc);
    EXPECT_TRUE(cut.pages.empty());
    EXPECT_EQ(cut.error.rfind("page 3: ", 0), 0u) << cut.error;
    EXPECT_FALSE(emf::ParseEmfPages({}).error.empty());
    EXPECT_EQ(emf::PagePath("out/page-%d.png", 12), "out/page-12.png");
    EXPECT_EQ(emf::PagePath("page.png", 2), "page.png");
    EXPECT_EQ(emf::RecordName(118), "GRADIENTFILL");
    EXPECT_EQ(emf::RecordName(999), "kind 999");
}

// A glyph outline as a vector editor writes it: one figure of many
// PolyBezierTo and LineTo records inside a path bracket, then FillPath. Each
// record goes on with the open figure; a new one would leave only slivers.
TEST(EmfMapping, OutlinesOfManyRecordsFillAsOneFigure) {
    emf::Writer w(1000, 1000, 254);
    BlackFill(w);
    w.Plain(Rt::BeginPath);
    w.Point(Rt::MoveToEx, {100, 500});
    const POINTL up[] = {{100, 300}, {300, 100}, {500, 100}};
    w.Poly(Rt::PolyBezierTo, up);
    const POINTL down[] = {{700, 100}, {900, 300}, {900, 500}};
    w.Poly(Rt::PolyBezierTo, down);
    w.Point(Rt::LineTo, {900, 900});
    const POINTL back[] = {{700, 900}, {300, 900}, {100, 900}};
    w.Poly(Rt::PolyBezierTo, back);
    w.Plain(Rt::CloseFigure);
    w.Plain(Rt::EndPath);
    w.Rect(Rt::FillPath, {0, 0, -1, -1});
    auto d = emf::ParseEmf(Finish(w));
    ASSERT_TRUE(d.document);
    MemoryPage page(1000, 1000);
    emf::Play(page.dc, *d.document, {0, 0, 1000, 1000});
    const gdi::Surface* s = gdi::DeviceContext::FromHandle(page.dc)->bitmap->bitmap->Get();
    for (POINTL p : {POINTL{500, 500}, POINTL{200, 700}, POINTL{800, 300}, POINTL{500, 150}})
        EXPECT_EQ(s->Pixel(p.x, p.y), 0u) << p.x << "," << p.y;  // inside: filled
    EXPECT_EQ(s->Pixel(150, 150), 0xFFFFFFu);  // outside the curve's corner
}

// Text alignment and turned baselines: where the ink of "HHHH" (60 pixels
// high, cap height about 43) lands around the reference point (500, 500).
TEST(EmfMapping, TextAlignsAndTurnsWithItsBaseline) {
    struct Case {
        const char* name;
        int escapement;  // tenths of a degree, counterclockwise
        UINT align;
        // Where the ink must be: each edge within 7 pixels of a value (the
        // side bearings of H), or unchecked (INT_MIN); the glyphs' run and
        // height are checked apart.
        LONG left, top, right, bottom;
        bool runsAcross;  // the text's length lies along x
    } cases[] = {
        {"baseline left", 0, TA_BASELINE | TA_LEFT, 500, INT_MIN, INT_MIN, 500, true},
        {"baseline right", 0, TA_BASELINE | TA_RIGHT, INT_MIN, INT_MIN, 500, 500, true},
        {"top left", 0, TA_TOP | TA_LEFT, 500, INT_MIN, INT_MIN, INT_MIN, true},
        {"turned a quarter, reads upwards", 900, TA_BASELINE | TA_LEFT, INT_MIN, INT_MIN, 500, 500, false},
        {"turned a quarter, aligned right", 900, TA_BASELINE | TA_RIGHT, INT_MIN, 500, 500, INT_MIN, false},
        {"upside down", 1800, TA_BASELINE | TA_LEFT, INT_MIN, 500, 500, INT_MIN, true},
        {"three quarters, reads downwards", 2700, TA_BASELINE | TA_LEFT, 500, 500, INT_MIN, INT_MIN, false},
    };
    for (const auto& c : cases) {
        emf::Writer w(1000, 1000, 254);
        LOGFONTW lf = emf::MakeLogFont(u"Liberation Sans", -60);
        lf.lfEscapement = lf.lfOrientation = c.escapement;
        w.CreateFont(1, lf);
        w.Value(Rt::SelectObject, 1);
        w.Value(Rt::SetTextAlign, c.align);
        w.ExtTextOutW({500, 500}, u"HHHH");
        Ink ink = Played(Finish(w));
        ASSERT_FALSE(Empty(ink)) << c.name;
        auto near = [&](LONG got, LONG want, const char* edge) {
            if (want != INT_MIN) {
                EXPECT_NEAR(got, want, 7) << c.name << ": " << edge;
            }
        };
        near(ink.left, c.left, "left");
        near(ink.top, c.top, "top");
        near(ink.right, c.right, "right");
        near(ink.bottom, c.bottom, "bottom");
        LONG across = ink.right - ink.left, down = ink.bottom - ink.top;
        LONG run = c.runsAcross ? across : down, height = c.runsAcross ? down : across;
        EXPECT_GT(run, 120) << c.name;            // four glyphs of about 40 pixels
        EXPECT_NEAR(height, 43, 4) << c.name;     // turned glyphs, not only turned positions
    }
}

// The spacing a document gives is followed: the dx advances summed before
// they are rounded (0.01 mm units of 0.1 pixel: ten steps of 12.5 pixels
// end where one glyph placed at 112.5 pixels does, not 4.5 pixels further),
// kerned pairs closer than the glyphs' advances, and ETO_PDY's steps across
// the baseline.
TEST(EmfMapping, TextFollowsTheSpacingItIsGiven) {
    auto text = [](POINTL at, std::u16string_view s, uint32_t options, std::vector<int32_t> dx, bool office) {
        emf::Writer w(1000, 1000, 254);
        if (office) {
            Mode(w, MM_ANISOTROPIC);
            w.Point(Rt::SetWindowExtEx, {10000, 10000});
            w.Point(Rt::SetViewportExtEx, {1000, 1000});
        }
        w.CreateFont(1, emf::MakeLogFont(u"Liberation Sans", office ? -400 : -40));
        w.Value(Rt::SelectObject, 1);
        w.Value(Rt::SetTextAlign, TA_BASELINE | TA_LEFT);
        w.ExtTextOutW(at, s, options, {}, dx);
        return Played(Finish(w));
    };
    const Ink run = text({1000, 4000}, u"llllllllll", 0, std::vector<int32_t>(10, 125), true);
    const Ink last = text({2125, 4000}, u"l", 0, {}, true);
    ASSERT_FALSE(Empty(run) || Empty(last));
    EXPECT_NEAR(run.right, last.right, 1) << "rounding does not pile up along the line";

    // A kerned pair: V moved 5 pixels under A's advance (the plain pair's
    // right edge less V's own, at the same origin).
    const Ink plain = text({100, 400}, u"AV", 0, {}, false), v = text({100, 400}, u"V", 0, {}, false);
    ASSERT_FALSE(Empty(plain) || Empty(v));
    const int32_t advanceOfA = plain.right - v.right;
    const Ink kerned = text({100, 400}, u"AV", 0, {advanceOfA - 5, 30}, false);
    EXPECT_EQ(kerned.right, plain.right - 5) << "the pair is drawn 5 pixels closer";

    // ETO_PDY: the second H 60 pixels right of the first and 80 below it.
    const Ink one = text({100, 400}, u"H", 0, {}, false);
    const Ink stepped = text({100, 400}, u"HH", ETO_PDY, {60, 80, 60, 0}, false);
    ASSERT_FALSE(Empty(one) || Empty(stepped));
    EXPECT_EQ(stepped.top, one.top);
    EXPECT_EQ(stepped.bottom, one.bottom + 80);
    EXPECT_EQ(stepped.right, one.right + 60);
}

// GRADIENTFILL of rectangles, across and down: the colour runs from one
// vertex's to the other's over the rectangle; a mesh naming a vertex the
// record lacks is refused and the rest of the page is drawn.
TEST(EmfMapping, GradientRectanglesFillFromColourToColour) {
    auto gradient = [](uint32_t mode, RECTL r, uint32_t meshB) {
        std::vector<uint8_t> ops;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) ops.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        auto u16 = [&](uint16_t v) {
            ops.push_back(static_cast<uint8_t>(v));
            ops.push_back(static_cast<uint8_t>(v >> 8));
        };
        for (LONG v : {r.left, r.top, r.right, r.bottom}) u32(static_cast<uint32_t>(v));  // bounds
        u32(2);     // vertices
        u32(1);     // meshes
        u32(mode);  // GRADIENT_FILL_RECT_H or _V
        u32(static_cast<uint32_t>(r.left)), u32(static_cast<uint32_t>(r.top)), u16(0), u16(0), u16(0), u16(0);
        u32(static_cast<uint32_t>(r.right)), u32(static_cast<uint32_t>(r.bottom)), u16(0xFF00), u16(0xFF00), u16(0xFF00),
            u16(0);
        u32(0), u32(meshB);
        return ops;
    };
    emf::Writer w(1000, 1000, 254);
    w.Value(Rt::SetStretchBltMode, HALFTONE);
    w.Raw(static_cast<uint32_t>(Rt::GradientFill), gradient(0, {100, 100, 900, 200}, 1));
    w.Raw(static_cast<uint32_t>(Rt::GradientFill), gradient(1, {100, 300, 200, 900}, 1));
    w.Raw(static_cast<uint32_t>(Rt::GradientFill), gradient(0, {300, 300, 900, 900}, 7));  // no vertex 7
    BlackFill(w);
    w.Rect(Rt::Rectangle, {950, 950, 990, 990});
    auto d = emf::ParseEmf(Finish(w));
    ASSERT_TRUE(d.document) << d.error;
    MemoryPage page(1000, 1000);
    auto stats = emf::Play(page.dc, *d.document, {0, 0, 1000, 1000});
    EXPECT_EQ(stats.failed, 1u);
    EXPECT_EQ(stats.Skipped(), 0u);
    auto grey = [&](int x, int y) { return GetGValue(page.At(x, y)); };
    int lastAcross = -1, lastDown = -1;
    for (int i = 0; i < 8; ++i) {
        int across = grey(150 + 100 * i, 150), down = grey(150, 350 + 70 * i);
        EXPECT_GT(across, lastAcross) << "across at " << 150 + 100 * i;
        EXPECT_GT(down, lastDown) << "down at " << 350 + 70 * i;
        lastAcross = across;
        lastDown = down;
    }
    EXPECT_LT(grey(110, 150), 16);
    EXPECT_GT(grey(890, 150), 239);
    EXPECT_EQ(page.At(600, 600), RGB(255, 255, 255));  // the refused mesh drew nothing
    EXPECT_EQ(page.At(970, 970), RGB(0, 0, 0));        // the page goes on after it
}

// The writer's metafile played whole onto a fresh 1000 x 1000 page: every
// record drawn, none refused or skipped.
std::unique_ptr<MemoryPage> PlayedWhole(emf::Writer& w) {
    const auto bytes = Finish(w);  // images of the document point into it
    auto d = emf::ParseEmf(bytes);
    EXPECT_TRUE(d.document) << d.error;
    auto page = std::make_unique<MemoryPage>(1000, 1000);
    if (!d.document) return page;
    auto stats = emf::Play(page->dc, *d.document, {0, 0, 1000, 1000});
    EXPECT_EQ(stats.failed, 0u);
    EXPECT_EQ(stats.Skipped(), 0u);
    return page;
}

// GRADIENTFILL of triangles is drawn, inside the triangle only.
TEST(EmfMapping, GradientTrianglesAreDrawnInsideTheirCorners) {
    std::vector<uint8_t> ops;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) ops.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto vertex = [&](uint32_t x, uint32_t y, uint16_t grey) {
        u32(x), u32(y);
        for (int c = 0; c < 4; ++c) ops.push_back(0), ops.push_back(static_cast<uint8_t>(c < 3 ? grey >> 8 : 0));
    };
    for (uint32_t v : {100u, 100u, 900u, 900u}) u32(v);  // bounds
    u32(3), u32(1), u32(2);  // three vertices, one triangle
    vertex(100, 100, 0), vertex(900, 100, 0x8000), vertex(100, 900, 0x8000);
    u32(0), u32(1), u32(2);
    emf::Writer w(1000, 1000, 254);
    w.Raw(static_cast<uint32_t>(Rt::GradientFill), ops);
    const auto page = PlayedWhole(w);
    EXPECT_LT(GetGValue(page->At(110, 110)), 16) << "near the black corner";
    EXPECT_NEAR(GetGValue(page->At(480, 110)), 61, 12) << "halfway along the top side";
    EXPECT_EQ(page->At(700, 700), RGB(255, 255, 255)) << "beyond the long side";
}

// TRANSPARENTBLT leaves out its key colour and ALPHABLEND its transparent
// pixels (premultiplied alpha 0): the green under them stays, where a plain
// copy would paint magenta or black.
TEST(EmfMapping, TransparentAndAlphaBlendsKeepWhatIsUnderTheirHoles) {
    // A 4 x 2 source, 32 bits, top-down: left half the key (magenta, alpha
    // 0 and premultiplied black for the blend), right half opaque blue.
    auto blt = [](RECTL dest, uint32_t rop, bool premultiplied) {
        std::vector<uint8_t> ops;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) ops.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        for (LONG v : {dest.left, dest.top, dest.right, dest.bottom}) u32(static_cast<uint32_t>(v));  // bounds
        u32(static_cast<uint32_t>(dest.left)), u32(static_cast<uint32_t>(dest.top));
        u32(static_cast<uint32_t>(dest.right - dest.left)), u32(static_cast<uint32_t>(dest.bottom - dest.top));
        u32(rop);
        u32(0), u32(0);                                   // source origin
        for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            u32(bits);
        }
        u32(0), u32(0);                                   // background colour, DIB_RGB_COLORS
        u32(108), u32(40), u32(148), u32(32);             // header and bits after the record's fixed part
        u32(4), u32(2);                                   // source size
        u32(40), u32(4), u32(static_cast<uint32_t>(-2)), u32(1 | 32 << 16), u32(0), u32(32), u32(0), u32(0), u32(0), u32(0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) u32(x < 2 ? (premultiplied ? 0x00000000u : 0x00FF00FFu) : 0xFF0000FFu);
        return ops;
    };
    emf::Writer w(1000, 1000, 254);
    w.CreateBrush(1, 0, RGB(0, 160, 0));
    w.Value(Rt::SelectObject, 1);
    w.Value(Rt::SelectObject, kStockPenNull);
    w.Rect(Rt::Rectangle, {0, 0, 1001, 1001});
    w.Raw(static_cast<uint32_t>(Rt::TransparentBlt), blt({100, 100, 500, 300}, RGB(255, 0, 255), false));
    w.Raw(static_cast<uint32_t>(Rt::AlphaBlend), blt({100, 500, 500, 700}, 0x01FF0000 /* AC_SRC_ALPHA, 255 */, true));
    const auto page = PlayedWhole(w);
    EXPECT_EQ(page->At(150, 200), RGB(0, 160, 0)) << "the key colour leaves the green";
    EXPECT_EQ(page->At(450, 200), RGB(0, 0, 255));
    EXPECT_EQ(page->At(150, 600), RGB(0, 160, 0)) << "transparent pixels leave the green";
    EXPECT_EQ(page->At(450, 600), RGB(0, 0, 255));
}

// EXTTEXTOUTA plays its bytes in the ANSI code page (0x80 is the euro sign
// in 1252, not a control character), double-byte characters included, with
// spacing given per byte; it draws what the wide record of the same text
// draws.
TEST(EmfMapping, AnsiTextPlaysInTheAnsiCodePage) {
    auto ansiRecord = [](POINTL at, std::string_view bytes, std::span<const int32_t> dx) {
        std::vector<uint8_t> ops;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) ops.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        for (uint32_t v : {0u, 0u, 0xFFFFFFFFu, 0xFFFFFFFFu}) u32(v);  // bounds
        u32(1), u32(0), u32(0);                                        // GM_COMPATIBLE, scales
        u32(static_cast<uint32_t>(at.x)), u32(static_cast<uint32_t>(at.y));
        u32(static_cast<uint32_t>(bytes.size())), u32(76), u32(0);
        for (int k = 0; k < 4; ++k) u32(0);                             // no rectangle
        const uint32_t padded = static_cast<uint32_t>((bytes.size() + 3) / 4 * 4);
        u32(dx.empty() ? 0 : 76 + padded);
        for (char c : bytes) ops.push_back(static_cast<uint8_t>(c));
        while (ops.size() % 4) ops.push_back(0);
        for (int32_t d : dx) u32(static_cast<uint32_t>(d));
        return ops;
    };
    struct Case {
        const char* name;
        UINT codePage;
        std::string bytes;
        std::vector<int32_t> byteDx;
        std::u16string wide;
        std::vector<int32_t> wideDx;
    } cases[] = {
        {"euro in 1252", 1252, "Zel \x80 5", {}, u"Zel \u20AC 5", {}},
        {"double-byte in 932", 932, "A\x82\xa0" "B", {30, 20, 25, 10}, u"A\u3042B", {30, 45, 10}},
    };
    for (const auto& c : cases) {
        zq::LocaleSettings locale = zq::CurrentLocaleSettings();
        locale.ansiCodePage = c.codePage;
        zq::ScopedLocaleSettings scoped(locale);
        auto page = [&](bool ansi) {
            emf::Writer w(400, 100, 96);
            w.CreateFont(1, emf::MakeLogFont(u"Liberation Sans", -24));
            w.Value(Rt::SelectObject, 1);
            if (ansi) w.Raw(static_cast<uint32_t>(Rt::ExtTextOutA), ansiRecord({10, 10}, c.bytes, c.byteDx));
            else w.ExtTextOutW({10, 10}, c.wide, 0, {0, 0, -1, -1}, c.wideDx);
            return Finish(w);
        };
        const auto a = page(true), wbytes = page(false);
        auto da = emf::ParseEmf(a), dw = emf::ParseEmf(wbytes);
        ASSERT_TRUE(da.document) << c.name << ": " << da.error;
        ASSERT_TRUE(dw.document) << c.name << ": " << dw.error;
        MemoryPage pa(400, 100), pw(400, 100);
        EXPECT_EQ(emf::Play(pa.dc, *da.document, {0, 0, 400, 100}).failed, 0u) << c.name;
        emf::Play(pw.dc, *dw.document, {0, 0, 400, 100});
        EXPECT_GT(pa.NotWhite(), 0u) << c.name;
        size_t differ = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 400; ++x) differ += pa.At(x, y) != pw.At(x, y);
        EXPECT_EQ(differ, 0u) << c.name;
    }
}

// FRAMERGN paints the region's frame, its stroke wide, and leaves the inside.
TEST(EmfMapping, FrameRegionPaintsOnlyTheFrame) {
    std::vector<uint8_t> ops;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) ops.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (uint32_t v : {100u, 100u, 300u, 300u}) u32(v);  // bounds
    u32(48), u32(1), u32(10), u32(20);                   // region bytes, brush 1, stroke 10 x 20
    u32(32), u32(1), u32(1), u32(16);                    // RGNDATAHEADER: size, type, one rectangle
    for (uint32_t v : {100u, 100u, 300u, 300u}) u32(v);  // its bound
    for (uint32_t v : {100u, 100u, 300u, 300u}) u32(v);  // the rectangle
    emf::Writer w(1000, 1000, 254);
    BlackFill(w);
    w.Raw(static_cast<uint32_t>(Rt::FrameRgn), ops);
    const auto page = PlayedWhole(w);
    EXPECT_EQ(page->At(105, 200), RGB(0, 0, 0)) << "the left side, 10 wide";
    EXPECT_EQ(page->At(112, 200), RGB(255, 255, 255));
    EXPECT_EQ(page->At(200, 115), RGB(0, 0, 0)) << "the top, 20 high";
    EXPECT_EQ(page->At(200, 125), RGB(255, 255, 255));
    EXPECT_EQ(page->At(200, 200), RGB(255, 255, 255)) << "the inside";
    EXPECT_EQ(page->At(95, 200), RGB(255, 255, 255)) << "outside";
}

// Operand bytes of records built by hand, four bytes at a time.
struct Ops {
    std::vector<uint8_t> bytes;
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Identity() {
        for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            U32(bits);
        }
    }
    // A 32-bit top-down header of `w` x `h`, then its pixels.
    void Image32(int32_t w, int32_t h, std::initializer_list<uint32_t> pixels) {
        U32(40), U32(static_cast<uint32_t>(w)), U32(static_cast<uint32_t>(-h)), U32(1 | 32 << 16);
        for (int i = 0; i < 6; ++i) U32(0);
        for (uint32_t p : pixels) U32(p);
    }
};

// MASKBLT: the foreground operation where its mask is set, the background
// one where it is not, for copying and keeping (one drawing with holes) and
// for any other pair (through clips of the mask), with or without a source.
TEST(EmfMapping, MaskBltAppliesEachOperationWhereItsMaskSays) {
    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), green = RGB(0, 160, 0), under = RGB(200, 200, 0);
    struct Case {
        const char* name;
        uint32_t rop4;
        bool source;
        COLORREF columns[4];  // what the four columns hold afterwards
    } cases[] = {
        {"copy where set, keep elsewhere", 0xAACC0020, true, {red, under, under, blue}},
        {"keep where set, copy elsewhere", 0xCCAA0020, true, {under, red, blue, under}},
        {"inverted source where set, keep", 0xAA330008, true, {RGB(0, 255, 255), under, under, RGB(255, 255, 0)}},
        {"brush where set, black elsewhere", 0x00F00021, false, {green, 0, 0, green}},
        {"white where set, inverted page elsewhere", 0x55FF0062, false,
         {RGB(255, 255, 255), RGB(55, 55, 255), RGB(55, 55, 255), RGB(255, 255, 255)}},
    };
    for (const auto& c : cases) {
        Ops o;
        for (uint32_t v : {100u, 100u, 103u, 101u}) o.U32(v);  // bounds
        o.U32(100), o.U32(100), o.U32(4), o.U32(2);           // destination, the size
        o.U32(c.rop4);
        o.U32(0), o.U32(0);  // source origin
        o.Identity();
        o.U32(0), o.U32(0);  // background, DIB_RGB_COLORS
        const uint32_t sourceSize = c.source ? 40 : 0, sourceBits = c.source ? 32 : 0;
        o.U32(sourceSize ? 128 : 0), o.U32(sourceSize), o.U32(128 + sourceSize), o.U32(sourceBits);
        o.U32(0), o.U32(0), o.U32(0);  // mask origin, usage
        const uint32_t at = 128 + sourceSize + sourceBits;
        o.U32(at), o.U32(48), o.U32(at + 48), o.U32(8);  // the mask: header and two colours, then 2 rows
        // Source: red on the left half and blue on the right.
        if (c.source) o.Image32(4, 2, {0x00FF0000u, 0x00FF0000u, 0x000000FFu, 0x000000FFu,
                                        0x00FF0000u, 0x00FF0000u, 0x000000FFu, 0x000000FFu});
        // Mask: 1 bit, top-down, set in the first and last column.
        o.U32(40), o.U32(4), o.U32(static_cast<uint32_t>(-2)), o.U32(1 | 1 << 16), o.U32(0), o.U32(8), o.U32(0),
            o.U32(0), o.U32(2), o.U32(0);
        o.U32(0x00000000), o.U32(0x00FFFFFF);
        for (int y = 0; y < 2; ++y) o.U32(0x90);  // 1001 0000
        emf::Writer w(1000, 1000, 254);
        w.CreateBrush(1, 0, under);
        w.Value(Rt::SelectObject, 1);
        w.Value(Rt::SelectObject, kStockPenNull);
        w.Rect(Rt::Rectangle, {0, 0, 1001, 1001});
        w.CreateBrush(2, 0, green);
        w.Value(Rt::SelectObject, 2);
        w.Raw(static_cast<uint32_t>(Rt::MaskBlt), o.bytes);
        const auto page = PlayedWhole(w);
        for (int y : {100, 101})
            for (int x = 0; x < 4; ++x) EXPECT_EQ(page->At(100 + x, y), c.columns[x]) << c.name << ", column " << x;
        EXPECT_EQ(page->At(104, 100), under) << c.name << ": beside it";
    }
}

// PLGBLT: the source lands on the parallelogram of its three corners, here
// turned a quarter (its top edge runs down the page, its left edge leftward);
// with a mask, only where the mask is set.
TEST(EmfMapping, PlgBltTurnsItsImageOntoTheParallelogram) {
    const uint32_t red = 0x00FF0000, green = 0x0000FF00, blue = 0x000000FF;
    for (bool masked : {false, true}) {
        Ops o;
        for (uint32_t v : {100u, 100u, 300u, 300u}) o.U32(v);  // bounds
        for (uint32_t v : {300u, 100u, 300u, 300u, 100u, 100u}) o.U32(v);  // top left, top right, bottom left
        o.U32(0), o.U32(0), o.U32(2), o.U32(2);  // the source's rectangle
        o.Identity();
        o.U32(0), o.U32(0);                        // background, DIB_RGB_COLORS
        o.U32(140), o.U32(40), o.U32(180), o.U32(16);
        o.U32(0), o.U32(0), o.U32(0);              // mask origin, usage
        if (masked) o.U32(196), o.U32(48), o.U32(244), o.U32(8);
        else o.U32(0), o.U32(0), o.U32(0), o.U32(0);
        o.Image32(2, 2, {red, green, blue, 0});
        if (masked) {
            // Set on the diagonal: top left and bottom right.
            o.U32(40), o.U32(2), o.U32(static_cast<uint32_t>(-2)), o.U32(1 | 1 << 16), o.U32(0), o.U32(8), o.U32(0),
                o.U32(0), o.U32(2), o.U32(0);
            o.U32(0x00000000), o.U32(0x00FFFFFF);
            o.U32(0x80), o.U32(0x40);
        }
        emf::Writer w(1000, 1000, 254);
        w.Raw(static_cast<uint32_t>(Rt::PlgBlt), o.bytes);
        const auto page = PlayedWhole(w);
        const COLORREF white = RGB(255, 255, 255);
        EXPECT_EQ(page->At(290, 110), RGB(255, 0, 0)) << masked << ": the source's top left at the first corner";
        EXPECT_EQ(page->At(290, 290), masked ? white : RGB(0, 255, 0)) << masked << ": its top right below it";
        EXPECT_EQ(page->At(110, 110), masked ? white : RGB(0, 0, 255)) << masked << ": its bottom left to the left";
        EXPECT_EQ(page->At(110, 290), RGB(0, 0, 0)) << masked;
        for (POINT outside : {POINT{305, 200}, POINT{95, 200}, POINT{200, 95}, POINT{200, 305}})
            EXPECT_EQ(page->At(outside.x, outside.y), white) << masked << ": nothing outside the parallelogram";
    }
}

}  // namespace
