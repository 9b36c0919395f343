// Writes our sample documents as enhanced metafiles: text in several fonts
// and sizes, shapes with fills and wide lines, a photo-like image,
// clipping, and text in the printer's fonts and in fonts sent to it. Usage: emfgen OUTPUT-DIRECTORY
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "gdi/emf_writer.h"

namespace {

using zq::emf::Rt;
using zq::emf::Writer;

// Letter at 100 dots per inch.
constexpr int32_t kWidth = 850, kHeight = 1100, kDpi = 100;

void Text(Writer& w, int32_t x, int32_t y, std::u16string_view s) { w.ExtTextOutW({x, y}, s); }

std::vector<uint8_t> TextPage() {
    Writer w(kWidth, kHeight, kDpi);
    w.Value(Rt::SetBkMode, 1);  // TRANSPARENT
    w.Value(Rt::SetTextAlign, 24);  // TA_BASELINE
    struct Line { const char16_t* face; int32_t height; int32_t weight; bool italic; COLORREF color; const char16_t* text; };
    const Line lines[] = {
        {u"Liberation Serif", -48, 700, false, RGB(0, 0, 0), u"Zelquor sample document"},
        {u"Liberation Serif", -17, 400, false, RGB(0, 0, 0), u"Liberation Serif 12 pt: the quick brown fox jumps over the lazy dog."},
        {u"Liberation Serif", -17, 400, true, RGB(0, 0, 0), u"Liberation Serif italic: 0123456789 (simulated or real)."},
        {u"Liberation Sans", -14, 400, false, RGB(0, 0, 128), u"Liberation Sans 10 pt in dark blue: Sphinx of black quartz, judge my vow."},
        {u"Liberation Sans", -22, 700, false, RGB(160, 0, 0), u"Liberation Sans bold 16 pt in red"},
        {u"Liberation Mono", -14, 400, false, RGB(0, 0, 0), u"Liberation Mono: for (int i = 0; i < 10; ++i) total += i;"},
        {u"DejaVu Sans", -28, 400, false, RGB(0, 100, 0), u"DejaVu Sans 20 pt, green"},
        {u"DejaVu Sans", -11, 400, false, RGB(0, 0, 0), u"DejaVu Sans 8 pt: small print at the foot of a form, still legible."},
        {u"Liberation Serif", -50, 400, false, RGB(90, 90, 90), u"Large 36 pt grey"},
    };
    uint32_t index = 1;
    int32_t y = 120;
    for (const Line& l : lines) {
        w.CreateFont(index, zq::emf::MakeLogFont(l.face, l.height, l.weight, l.italic));
        w.Value(Rt::SelectObject, index);
        w.Value(Rt::SetTextColor, l.color);
        Text(w, 80, y, l.text);
        y += -l.height * 2 + 20;
        ++index;
    }
    // Underlined text and explicit spacing.
    LOGFONTW under = zq::emf::MakeLogFont(u"Liberation Sans", -20);
    under.lfUnderline = 1;
    w.CreateFont(index, under);
    w.Value(Rt::SelectObject, index);
    w.Value(Rt::SetTextColor, RGB(0, 0, 0));
    Text(w, 80, y, u"Underlined text");
    const int32_t dx[] = {30, 30, 30, 30, 30, 30, 30};
    w.ExtTextOutW({80, y + 60}, u"SPACED!", 0, {}, dx);
    // An opaque label with its own background.
    w.Value(Rt::SetBkMode, 2);
    w.Value(Rt::SetBkColor, RGB(255, 230, 120));
    w.ExtTextOutW({80, y + 130}, u"Opaque background label", 2 /* ETO_OPAQUE */, {70, y + 100, 520, y + 145});
    return w.Finish();
}

std::vector<uint8_t> ShapesPage() {
    Writer w(kWidth, kHeight, kDpi);
    // Filled rectangle and ellipse with a thin outline.
    w.CreatePen(1, 0, 1, RGB(0, 0, 0));
    w.CreateBrush(2, 0, RGB(200, 40, 40));
    w.Value(Rt::SelectObject, 1);
    w.Value(Rt::SelectObject, 2);
    w.Rect(Rt::Rectangle, {60, 60, 360, 260});
    w.CreateBrush(3, 0, RGB(40, 120, 220));
    w.Value(Rt::SelectObject, 3);
    w.Rect(Rt::Ellipse, {420, 60, 780, 260});
    // Hatched round rectangle.
    w.CreateBrush(4, 2 /* BS_HATCHED */, RGB(0, 128, 0), 5 /* HS_DIAGCROSS */);
    w.Value(Rt::SelectObject, 4);
    w.RoundRect({60, 300, 360, 480}, {60, 60});
    // A star: winding fills the middle, alternate leaves it empty.
    const POINTL star[] = {{570, 300}, {640, 480}, {460, 370}, {680, 370}, {500, 480}};
    w.CreateBrush(5, 0, RGB(250, 200, 0));
    w.Value(Rt::SelectObject, 5);
    w.Value(Rt::SetPolyFillMode, 2);
    w.Poly(Rt::Polygon, star);
    const POINTL star2[] = {{570 + 150, 300}, {640 + 150, 480}, {460 + 150, 370}, {680 + 150, 370}, {500 + 150, 480}};
    w.Value(Rt::SetPolyFillMode, 1);
    w.Poly(Rt::Polygon, star2);
    // Wide lines: caps and joins.
    struct Wide { uint32_t style; COLORREF color; int32_t y; };
    const Wide wides[] = {
        {0x10000 | 0x200 | 0x2000, RGB(0, 0, 0), 540},      // geometric, flat caps, miter joins
        {0x10000 | 0x000 | 0x0000, RGB(0, 90, 160), 620},   // round caps and joins
        {0x10000 | 0x100 | 0x1000, RGB(160, 60, 0), 700},   // square caps, bevel joins
    };
    uint32_t idx = 6;
    for (const Wide& wd : wides) {
        w.ExtCreatePen(idx, wd.style, 18, wd.color);
        w.Value(Rt::SelectObject, idx);
        const POINTL zig[] = {{80, wd.y + 40}, {180, wd.y}, {280, wd.y + 40}, {380, wd.y}};
        w.Poly(Rt::Polyline, zig);
        ++idx;
    }
    // Dashed lines, cosmetic and geometric.
    const uint32_t styles[] = {1, 2, 3, 4};
    for (uint32_t i = 0; i < 4; ++i) {
        w.CreatePen(idx, styles[i], 0, RGB(0, 0, 0));
        w.Value(Rt::SelectObject, idx);
        w.Point(Rt::MoveToEx, {460, 540 + 30 * static_cast<int32_t>(i)});
        w.Point(Rt::LineTo, {790, 540 + 30 * static_cast<int32_t>(i)});
        ++idx;
    }
    const uint32_t dashes[] = {30, 12};
    w.ExtCreatePen(idx, 0x10000 | 7 /* PS_USERSTYLE */ | 0x200, 6, RGB(120, 0, 160), dashes);
    w.Value(Rt::SelectObject, idx++);
    w.Point(Rt::MoveToEx, {460, 680});
    w.Point(Rt::LineTo, {790, 680});
    // Béziers, a pie and a chord.
    w.ExtCreatePen(idx, 0x10000, 4, RGB(0, 0, 0));
    w.Value(Rt::SelectObject, idx++);
    const POINTL curve[] = {{80, 900}, {180, 760}, {300, 1040}, {400, 880}};
    w.Poly(Rt::PolyBezier, curve);
    w.CreateBrush(idx, 0, RGB(120, 200, 120));
    w.Value(Rt::SelectObject, idx++);
    w.Arc(Rt::Pie, {460, 760, 620, 920}, {620, 840}, {540, 760});
    w.Arc(Rt::Chord, {640, 760, 800, 920}, {800, 800}, {640, 880});
    // A path: a filled and stroked triangle with a hole.
    w.Plain(Rt::BeginPath);
    const POINTL tri[] = {{100, 960}, {300, 960}, {200, 1060}};
    w.Poly(Rt::Polygon, tri);
    w.Rect(Rt::Ellipse, {180, 975, 220, 1005});
    w.Plain(Rt::EndPath);
    w.Value(Rt::SetPolyFillMode, 1);
    w.Rect(Rt::StrokeAndFillPath, {100, 960, 300, 1060});
    return w.Finish();
}

std::vector<uint8_t> PhotoPage() {
    Writer w(kWidth, kHeight, kDpi);
    // A landscape: sky gradient, sun, hills and a lake, with some texture.
    const int32_t pw = 320, ph = 220;
    std::vector<uint32_t> px(static_cast<size_t>(pw) * ph);
    for (int32_t y = 0; y < ph; ++y) {
        for (int32_t x = 0; x < pw; ++x) {
            double fx = static_cast<double>(x) / pw, fy = static_cast<double>(y) / ph;
            double hill = 0.55 + 0.08 * std::sin(fx * 9.0) + 0.05 * std::sin(fx * 23.0 + 1.3);
            double noise = 0.04 * std::sin(x * 12.9898 + y * 78.233) * std::sin(x * 0.7 + y * 1.3);
            int r, g, b;
            double sun = std::hypot(fx - 0.75, fy - 0.22);
            if (fy < hill) {
                r = static_cast<int>(90 + 120 * fy);
                g = static_cast<int>(150 + 80 * fy);
                b = 235;
                if (sun < 0.08) r = 255, g = 225, b = 90;
            } else if (fy < 0.8) {
                double shade = (fy - hill) / (0.8 - hill);
                r = static_cast<int>(40 + 40 * shade);
                g = static_cast<int>(120 - 50 * shade);
                b = static_cast<int>(40 + 10 * shade);
            } else {
                r = 30;
                g = static_cast<int>(80 + 60 * std::sin(fx * 40 + fy * 10) * 0.3);
                b = 150;
            }
            auto clamp = [&](int v) { return static_cast<uint32_t>(std::max(0, std::min(255, static_cast<int>(v * (1 + noise))))); };
            px[static_cast<size_t>(y) * pw + x] = (clamp(r) << 16) | (clamp(g) << 8) | clamp(b);
        }
    }
    w.StretchDIBits({75, 100, 775, 581}, pw, ph, px);
    w.CreateFont(1, zq::emf::MakeLogFont(u"Liberation Serif", -20, 400, true));
    w.Value(Rt::SelectObject, 1);
    w.Value(Rt::SetBkMode, 1);
    w.Value(Rt::SetTextAlign, 6 /* TA_CENTER */);
    w.ExtTextOutW({425, 600}, u"A lake below the hills (generated image)");
    // The same image small, twice, as thumbnails.
    w.StretchDIBits({75, 680, 395, 900}, pw, ph, px);
    w.StretchDIBits({455, 680, 615, 790}, pw, ph, px);
    return w.Finish();
}

std::vector<uint8_t> ClipPage() {
    Writer w(kWidth, kHeight, kDpi);
    w.CreatePen(1, 5 /* PS_NULL */, 0, 0);
    w.Value(Rt::SelectObject, 1);
    w.CreateBrush(2, 0, RGB(220, 60, 60));
    w.CreateBrush(3, 0, RGB(60, 60, 220));
    auto stripes = [&](int32_t top, int32_t bottom) {
        for (int32_t x = 40; x < 810; x += 40) {
            w.Value(Rt::SelectObject, (x / 40) % 2 ? 2 : 3);
            w.Rect(Rt::Rectangle, {x, top, x + 40, bottom});
        }
    };
    // 1: a clip rectangle.
    w.Plain(Rt::SaveDC);
    w.Rect(Rt::IntersectClipRect, {200, 60, 650, 260});
    stripes(40, 280);
    w.Value(Rt::RestoreDC, static_cast<uint32_t>(-1));
    // 2: a region of three rectangles.
    w.Plain(Rt::SaveDC);
    const RECTL rgn[] = {{60, 320, 260, 420}, {320, 340, 520, 520}, {580, 320, 780, 400}};
    w.ClipRects(5 /* RGN_COPY */, rgn);
    stripes(300, 540);
    w.Value(Rt::RestoreDC, static_cast<uint32_t>(-1));
    // 3: a clip path, an ellipse with a rectangle cut out.
    w.Plain(Rt::SaveDC);
    w.Plain(Rt::BeginPath);
    w.Rect(Rt::Ellipse, {150, 600, 700, 950});
    w.Plain(Rt::EndPath);
    w.Value(Rt::SelectClipPath, 5);
    w.Rect(Rt::ExcludeClipRect, {380, 740, 470, 810});
    stripes(580, 970);
    w.Value(Rt::RestoreDC, static_cast<uint32_t>(-1));
    // Unclipped frame around everything after the restores.
    w.CreatePen(4, 0, 3, RGB(0, 0, 0));
    w.Value(Rt::SelectObject, 4);
    w.Value(Rt::SelectObject, 0x80000005);  // NULL_BRUSH
    w.Rect(Rt::Rectangle, {30, 30, 820, 1000});
    return w.Finish();
}


// Text the printer prints from its own fonts and from the fonts the job
// sends it: the printer's faces in the six single-byte symbol sets;
// TrueType faces at several sizes, with glyphs past the first 224 and past
// 5000 (by index) and accented letters built of parts; simulated bold and
// italic; text turned by 90, 180, 270 and 45 degrees; underlined, struck
// out, opaque and coloured text; Chinese text from a face of a collection;
// and a face with CFF outlines.
std::vector<uint8_t> FontsPage() {
    Writer w(kWidth, kHeight, kDpi);
    w.Value(Rt::SetBkMode, 1);  // TRANSPARENT
    w.Value(Rt::SetTextAlign, 24);  // TA_BASELINE
    w.Value(Rt::SetTextColor, RGB(0, 0, 0));
    uint32_t index = 1;
    auto select = [&](const LOGFONTW& lf) {
        w.CreateFont(index, lf);
        w.Value(Rt::SelectObject, index);
        ++index;
    };
    auto font = [&](const char16_t* face, int32_t height, int32_t weight = 400, bool italic = false) {
        select(zq::emf::MakeLogFont(face, height, weight, italic));
    };
    // The printer's faces, one symbol set a line (the suffix names the set).
    struct Line { const char16_t* face; int32_t weight; const char16_t* text; };
    const Line device[] = {
        {u"Zel Roman (W1)", 400, u"Zel Roman (W1): na\u00efve fa\u00e7ade, d\u00e9j\u00e0 vu, \u00a3 \u00a9 \u00bd"},
        {u"Zel Sans (WE)", 400, u"Zel Sans (WE): \u0141\u00f3d\u017a, \u017dlu\u0165ou\u010dk\u00fd k\u016f\u0148, \u0150\u0171"},
        {u"Zel Sans (WR)", 700, u"Zel Sans (WR): \u0421\u044a\u0435\u0448\u044c \u0436\u0435 \u0435\u0449\u0451 \u044d\u0442\u0438\u0445"},
        {u"Zel Mono (WT)", 400, u"Zel Mono (WT): I\u015f\u0131k \u011f\u00fc\u015f\u00f6\u00e7 \u0130stanbul"},
        {u"Zel Roman (WL)", 400, u"Zel Roman (WL): \u0104\u017euolas, \u0117gl\u0117, \u0160\u010d\u016b"},
        {u"Zel Sans (WG)", 400, u"Zel Sans (WG): \u039e\u03b5\u03c3\u03ba\u03b5\u03c0\u03ac\u03b6\u03c9 \u03c8\u03c5\u03c7\u03ae"},
    };
    int32_t y = 70;
    for (const Line& l : device) {
        font(l.face, -17, l.weight);
        Text(w, 60, y, l.text);
        y += 30;
    }
    // TrueType sizes: 8, 12, 20 and 36 points (100 dots per inch).
    const int32_t heights[] = {-11, -17, -28, -50};
    for (int32_t h : heights) {
        y += -h + 10;
        font(u"DejaVu Sans", h);
        Text(w, 60, y, u"caf\u00e9 \u00c5ngstr\u00f6m \u0416\u0443\u0440\u043d\u0430\u043b \u03a9\u03bc\u03ad\u03b3\u03b1");
    }
    // Glyphs by index, past 5000 among them.
    y += 40;
    font(u"DejaVu Sans", -22);
    const char16_t glyphs[] = {36, 5000, 5001, 5256, 3000, 6000};
    w.ExtTextOutW({60, y}, std::u16string_view(glyphs, std::size(glyphs)), 0x10 /* ETO_GLYPH_INDEX */);
    // Simulated bold and italic: a face with no bold or italic of its own.
    y += 40;
    font(u"WenQuanYi Micro Hei", -20, 700);
    Text(w, 60, y, u"Micro Hei bold (simulated)");
    font(u"WenQuanYi Micro Hei", -20, 400, true);
    Text(w, 420, y, u"Micro Hei italic (simulated)");
    // Chinese text from a face of a collection, and CFF outlines.
    y += 40;
    font(u"WenQuanYi Micro Hei", -24);
    Text(w, 60, y, u"\u6587\u6cc9\u9a7f\u5fae\u7c73\u9ed1 \u4e2d\u6587\u5b57\u4f53 Zelquor");
    font(u"Nimbus Sans", -20);
    Text(w, 420, y, u"Nimbus Sans: CFF outlines");
    // Underlined, struck out, coloured and opaque.
    y += 40;
    LOGFONTW lines = zq::emf::MakeLogFont(u"Liberation Sans", -20);
    lines.lfUnderline = 1;
    select(lines);
    Text(w, 60, y, u"Underlined");
    lines.lfUnderline = 0;
    lines.lfStrikeOut = 1;
    select(lines);
    Text(w, 220, y, u"Struck out");
    font(u"Liberation Serif", -20, 700);
    w.Value(Rt::SetTextColor, RGB(0, 90, 200));
    Text(w, 380, y, u"Blue");
    w.Value(Rt::SetTextColor, RGB(128, 128, 128));
    Text(w, 460, y, u"Grey");
    w.Value(Rt::SetTextColor, RGB(0, 0, 0));
    w.Value(Rt::SetBkMode, 2);  // OPAQUE
    w.Value(Rt::SetBkColor, RGB(200, 200, 200));
    w.ExtTextOutW({560, y}, u"Opaque box", 2 /* ETO_OPAQUE */, {550, y - 22, 760, y + 8});
    w.Value(Rt::SetBkMode, 1);
    // Turned text around one centre.
    const int32_t cx = 420, cy = 800;
    const std::pair<int32_t, const char16_t*> turns[] = {
        {0, u"  upright"}, {450, u"  45 degrees"}, {900, u"  90 degrees"}, {1800, u"  180 degrees"}, {2700, u"  270 degrees"}};
    for (auto [tenths, label] : turns) {
        LOGFONTW turned = zq::emf::MakeLogFont(u"DejaVu Sans", -20);
        turned.lfEscapement = turned.lfOrientation = tenths;
        select(turned);
        Text(w, cx, cy, label);
    }
    return w.Finish();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: emfgen OUTPUT-DIRECTORY\n");
        return argc == 2 ? 0 : 2;
    }
    std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    struct Sample { const char* name; std::vector<uint8_t> (*make)(); };
    const Sample samples[] = {{"text.emf", TextPage}, {"shapes.emf", ShapesPage}, {"photo.emf", PhotoPage},
                              {"clip.emf", ClipPage}, {"fonts.emf", FontsPage}};
    for (const Sample& s : samples) {
        auto bytes = s.make();
        std::ofstream out(dir / s.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "emfgen: cannot write %s\n", (dir / s.name).c_str());
            return 1;
        }
    }
    return 0;
}
