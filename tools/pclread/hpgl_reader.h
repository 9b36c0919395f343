// Test-side HP-GL/2 interpreter for the vectors inside PCL 5 jobs: lists
// every command with its parameters and paints polygons, strokes, rectangles
// and Béziers into the page through the PCL state around it (picture frame,
// plot size, palette, user patterns). Written from the public format, apart
// from the renderer.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace pclread {

// One HP-GL/2 command as written: the mnemonic upper-cased, its numbers
// (for PE the decoded points, absolute, x then y), a label's or comment's text.
struct GlCommand {
    std::string mnemonic;
    std::vector<double> params;
    std::string text;
    size_t offset = 0;
};

// An area painted by a printer's own grey command (FT9/SV9 in HP-GL/2,
// ESC*v9T in PCL), which a general interpreter ignores: listed so that a
// test checks it itself. The box is in device dots, right and bottom
// exclusive; `level` is the grey asked for (0 black, 255 white).
struct VendorArea {
    std::string command;
    int level = 0;
    size_t page = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// An area the printer inks by a rule of its own, which a judge holds to
// that rule rather than to a pixel: "least-width pen", a stroke whose pen is
// the printer's least width (0.08467 mm: one dot at 300 dpi, 2 at 600, 4 at
// 1200), which every line thinner than that prints at, so its ink may lie
// `radius` dots off a thinner line's; "FT21" and "SV21", the printer's own
// cross-hatch patterns, which each interpreter draws in its own way;
// "fractional dashes", a dashed line whose dashes are no whole number of
// dots (an interpreter laying dashes out in whole dots drifts along it);
// "round join", a sharp corner of a wide round-joined line, and "dashed
// line end", the end of a dashed line (interpreters differ in what they
// ink there). The box is in device dots, right and
// bottom exclusive.
struct MarkedArea {
    std::string what;
    size_t page = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t radius = 0;
};

// The job as a general interpreter can print it: the vendor's flat greys
// (FT9 and SV9 with a grey level, 255 white) become user raster fills (RF
// with FT11 and SV2) of a 16 x 16 ordered dither of the same darkness, so
// their areas can be judged as tone over 16 x 16 blocks. (The standard
// shading, FT10, is no substitute: interpreters print it as one of eight
// fixed patterns, 57 and 69 percent alike.)
std::vector<uint8_t> VendorGreysAsShading(std::span<const uint8_t> job);

// A PCL pattern as downloaded (ESC*c#W): one palette index (or, for
// one-bit patterns, 1 = ink) per pixel.
struct PclPattern {
    int32_t width = 0, height = 0;
    bool colour = false;          // indices into the palette (format 1)
    int32_t xres = 0, yres = 0;   // format 20: the pattern's own resolution
    std::vector<uint8_t> pixels;
};

// What HP-GL/2 draws on: the PCL page and the PCL state it reads.
class GlSurface {
public:
    virtual ~GlSurface() = default;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual int32_t Dpi() const = 0;
    // 0xRRGGBB
    virtual uint32_t Get(int32_t x, int32_t y) = 0;
    virtual void Set(int32_t x, int32_t y, uint32_t rgb) = 0;
    virtual uint32_t PaletteColour(int index) const = 0;
    virtual int PaletteSize() const = 0;
    virtual const PclPattern* Pattern(int id) const = 0;
    // The picture frame in device dots and the plot size in plotter units
    // (1016 an inch); plot size 0 when the frame's own.
    virtual void Frame(double& x, double& y, double& w, double& h, double& plotW, double& plotH) const = 0;
    virtual size_t PageIndex() const = 0;
};

// A device-dot box, right and bottom exclusive.
struct GlBox {
    int32_t left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
};
class GlMask;

// The printer's cross-hatch patterns 1-6 at `dpi`: true where they ink.
bool HatchInk(int n, int32_t x, int32_t y, int32_t dpi);

// The colour `inkFraction` (0-1) of the way from white to `colour`.
uint32_t Mix(uint32_t colour, double inkFraction);

// ROP3 on 0xRRGGBB colours, each bit by itself (1 = white).
uint32_t RgbRop3(uint8_t rop, uint32_t texture, uint32_t source, uint32_t destination);

class GlReader {
public:
    struct Output {
        std::vector<GlCommand>* commands = nullptr;  // null: not kept
        std::vector<VendorArea>* vendorAreas = nullptr;
        std::vector<std::string>* errors = nullptr;
        std::vector<MarkedArea>* markedAreas = nullptr;
    };
    explicit GlReader(Output out) : out_(out) { Initialize(); }

    // ESC%#B: `penAtCursor` (1B) places the pen at the PCL cursor (dots).
    void Enter(GlSurface& s, bool penAtCursor, double cursorX, double cursorY);
    // Reads HP-GL/2 from `in` at `pos` up to the next escape or the end;
    // returns the position reached. `base` is added to offsets.
    size_t Read(std::span<const uint8_t> in, size_t pos, size_t base, GlSurface& s);
    // The printer reset (ESC E) and IN.
    void Initialize();
    // The picture frame or plot size changed: P1/P2 and the window go back
    // to their defaults.
    void FrameChanged(GlSurface& s);

    struct Pt {
        double x = 0, y = 0;
    };
    using Poly = std::vector<Pt>;

private:
    struct Fill {
        int kind = 1;      // 1 solid, 9 vendor grey, 10 shading, 11 raster fill, 21 hatch, 22 user pattern
        double level = 0;
    };
    struct SubPolygon {
        std::vector<Pt> points;    // user units
        std::vector<bool> drawn;   // edge i (to point i) drawn by EP
        bool closedDrawn = false;  // the closing edge
    };

    void Execute(const std::string& mn, const std::vector<double>& p, GlSurface& s, size_t offset);
    void ReadPe(std::span<const uint8_t> in, size_t& pos, size_t base, GlSurface& s);
    void Error(const std::string& what, size_t offset);
    void Command(const std::string& mn, std::vector<double> params, std::string text, size_t offset);

    Pt ToDevice(GlSurface& s, Pt user) const;
    Pt ToUser(GlSurface& s, Pt device) const;
    double Scale(GlSurface& s) const;      // device dots per plotter unit
    double PenWidthDots(GlSurface& s) const;

    void MoveTo(GlSurface& s, Pt user, bool down);
    void Bezier(GlSurface& s, Pt c1, Pt c2, Pt end);
    void FlushLine(GlSurface& s);
    void StrokePolylines(GlSurface& s, const std::vector<Poly>& lines, const std::vector<bool>& closed, bool screened);
    void PaintPolys(GlSurface& s, const std::vector<Poly>& polys, bool nonzero, const Fill& fill, const char* what);
    // Returns the box of the pixels painted.
    GlBox PaintMask(GlSurface& s, const GlMask& mask, const Fill& fill, const char* what);
    void Mark(GlSurface& s, const char* what, const GlBox& painted, int32_t radius);
    void FillRect(GlSurface& s, Pt a, Pt b, bool edge);
    void DefaultWindow();
    // The pixels a shape within (l, t)-(r, b) in dots may touch: on the
    // page, in the picture frame and in the input window.
    GlBox ClipBox(GlSurface& s, double l, double t, double r, double b) const;

    Output out_;
    // Scaling points in plotter units, origin at the frame's lower left.
    Pt p1_, p2_;
    bool p1p2Default_ = true;
    bool scaled_ = false;
    int scaleType_ = 0;
    double sc_[4] = {0, 1, 0, 1};
    bool window_ = false;
    double win_[4] = {0, 0, 0, 0};  // device dots: left, top, right, bottom

    Pt pen_;          // user units
    bool penDown_ = false;
    bool relative_ = false;
    int pen_number_ = 1;
    double penWidthMm_ = 0.35;
    bool widthRelative_ = false;
    int cap_ = 1, join_ = 1;
    double miter_ = 5;
    int lineType_ = 0;  // 0 solid
    bool lineTypeOn_ = false;
    double patternLength_ = 4;
    bool patternAbsolute_ = false;
    std::map<int, std::vector<double>> userLines_;
    Fill areaFill_, lineFill_{0, 0};  // line kind 0: the pen's solid colour
    uint8_t rop_ = 252;
    bool transparent_ = true;
    struct RasterFill {
        int32_t width = 0, height = 0;
        std::vector<int> pens;
    };
    std::map<int, RasterFill> rasterFills_;

    // The current line: drawn points since the pen went down.
    Poly line_;
    bool polygonMode_ = false;
    std::vector<SubPolygon> polygon_;
    size_t polygonPoints_ = 0;
};

}  // namespace pclread
