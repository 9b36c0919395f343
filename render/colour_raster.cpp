#include "render/colour_raster.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <numeric>

#include "render/halftone.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/page_setup.h"

namespace pclrend {

namespace {

// ---- Screen generators ------------------------------------------------------
//
// Every screen is a clustered-dot screen made from a spot function: the
// cells of the h x w tile are ranked by
//     s(x, y) = cos(2 pi fx (x + 1/2) / w + phase) + cos(2 pi fy (y + 1/2) / h + phase)
// (largest first, ties in dispersed Bayer order), so that dots grow from
// their centres as the darkness rises. Depth 2: the k-th of N cells gets the
// threshold 1 + 254 k / (N - 1); each cell points at one of a few level
// lists (count n, then the levels 1 + 2 i / (n - 1), rising from 1 to 3),
// chosen by its rank. Depth 4: the rank spreads over 1-64 for level 1 and
// is raised by 64 for each further level. The first four thresholds of the
// first row are the line's own calibrated values.

struct Generator {
    int rows, columns;
    double fx, fy, phase;
    std::array<int, 4> lists;    // level-list lengths (depth 2)
    std::array<uint8_t, 4> first;  // first four thresholds of row 0 (level 1)
};

std::vector<int> Ranks(const Generator& g) {
    constexpr double kPi = 3.14159265358979323846;
    const int n = g.rows * g.columns;
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::vector<double> spot(static_cast<size_t>(n));
    for (int y = 0; y < g.rows; ++y)
        for (int x = 0; x < g.columns; ++x)
            spot[static_cast<size_t>(y * g.columns + x)] = std::cos(2 * kPi * g.fx * (x + 0.5) / g.columns + g.phase) +
                                                           std::cos(2 * kPi * g.fy * (y + 0.5) / g.rows + g.phase);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const double sa = std::round(spot[static_cast<size_t>(a)] * 1e9), sb = std::round(spot[static_cast<size_t>(b)] * 1e9);
        if (sa != sb) return sa > sb;
        return BayerIndex(a % g.columns, a / g.columns) < BayerIndex(b % g.columns, b / g.columns);
    });
    std::vector<int> rank(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) rank[static_cast<size_t>(order[static_cast<size_t>(k)])] = k;
    return rank;
}

// Gives the first four cells their calibrated thresholds; the value each
// displaces goes to the cell (among the others) that held the value nearest
// the calibrated one, so the screen keeps its spread of thresholds.
void ForceFirst(uint8_t* t, int n, const std::array<uint8_t, 4>& first) {
    for (int i = 0; i < 4; ++i) {
        int nearest = -1;
        for (int j = 4; j < n; ++j)
            if (nearest < 0 || std::abs(t[j] - first[static_cast<size_t>(i)]) < std::abs(t[nearest] - first[static_cast<size_t>(i)]))
                nearest = j;
        t[nearest] = t[i];
        t[i] = first[static_cast<size_t>(i)];
    }
}

// A screen of `matrices` h x w matrices after its two size bytes, and the
// generator's ranks of its cells.
ColourScreen NewScreen(const Generator& g, int depth, int matrices, std::vector<int>& rank) {
    rank = Ranks(g);
    ColourScreen s;
    s.depth = depth;
    s.bytes.assign(2 + static_cast<size_t>(matrices) * g.rows * g.columns, 0);
    s.bytes[0] = static_cast<uint8_t>(g.rows);
    s.bytes[1] = static_cast<uint8_t>(g.columns);
    return s;
}

ColourScreen MakeLevelScreen(const Generator& g) {
    const int n = g.rows * g.columns;
    std::vector<int> rank;
    ColourScreen s = NewScreen(g, 2, 2, rank);
    std::array<uint8_t, 4> offsets{};
    std::vector<uint8_t> pool;
    for (size_t l = 0; l < g.lists.size(); ++l) {
        offsets[l] = static_cast<uint8_t>(pool.size());
        const int count = g.lists[l];
        pool.push_back(static_cast<uint8_t>(count));
        for (int i = 0; i < count; ++i) pool.push_back(static_cast<uint8_t>(count < 2 ? 3 : 1 + 2 * i / (count - 1)));
    }
    for (int c = 0; c < n; ++c) {
        const int k = rank[static_cast<size_t>(c)];
        s.bytes[2 + static_cast<size_t>(c)] = static_cast<uint8_t>(1 + 254 * k / (n - 1));
        s.bytes[2 + static_cast<size_t>(n + c)] = offsets[static_cast<size_t>(k) % offsets.size()];
    }
    ForceFirst(s.bytes.data() + 2, n, g.first);
    s.bytes.insert(s.bytes.end(), pool.begin(), pool.end());
    return s;
}

ColourScreen MakeThresholdStack(const Generator& g) {
    const int n = g.rows * g.columns;
    std::vector<int> rank;
    ColourScreen s = NewScreen(g, 4, 4, rank);
    for (int level = 0; level < 4; ++level)
        for (int c = 0; c < n; ++c)
            s.bytes[2 + static_cast<size_t>(level * n + c)] =
                static_cast<uint8_t>(std::min(255, 1 + 63 * rank[static_cast<size_t>(c)] / (n - 1) + 64 * level));
    ForceFirst(s.bytes.data() + 2, n, g.first);
    return s;
}

struct LineScreens {
    ColourScreen shared16x16, jm, jk, other;
    ColourScreen sharedStack, jkStack;
};

const LineScreens& Screens() {
    static const LineScreens screens = [] {
        LineScreens s;
        s.shared16x16 = MakeLevelScreen({16, 16, 2, 2, 0.0, {3, 6, 9, 12}, {36, 115, 145, 217}});
        s.jm = MakeLevelScreen({16, 12, 2, 1.5, 0.3, {4, 8, 12, 6}, {59, 70, 84, 156}});
        s.jk = MakeLevelScreen({16, 16, 1, 1, 0.0, {5, 10, 12, 7}, {62, 138, 169, 240}});
        s.other = MakeLevelScreen({16, 12, 2, 2, 0.0, {4, 8, 12, 6}, {43, 56, 69, 163}});
        s.sharedStack = MakeThresholdStack({8, 16, 2, 1, 0.0, {}, {1, 16, 108, 189}});
        s.jkStack = MakeThresholdStack({8, 16, 1, 1, 0.5, {}, {1, 51, 113, 180}});
        return s;
    }();
    return screens;
}

bool SameCode(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

bool SharedLine(std::string_view p) { return SameCode(p, "QJS") || SameCode(p, "QJR") || SameCode(p, "QJW"); }

// The alignment remainder of a row count (band tops stay on multiples of 32).
int32_t AlignmentRemainder(int32_t v) { return v == 0 ? 0 : 32 - (v & 31); }

void* FixedBlock(size_t bytes) { return std::malloc(bytes); }

}  // namespace

std::string& ScreenProductCode() {
    static std::string code = "QJF";
    return code;
}

const ColourScreen* LevelScreenOf(std::string_view product) {
    const LineScreens& s = Screens();
    if (SharedLine(product)) return &s.shared16x16;
    if (SameCode(product, "QJM")) return &s.jm;
    if (SameCode(product, "QJK")) return &s.jk;
    return &s.other;
}

const ColourScreen* ThresholdStackOf(std::string_view product) {
    const LineScreens& s = Screens();
    if (SharedLine(product)) return &s.sharedStack;
    if (SameCode(product, "QJK")) return &s.jkStack;
    return nullptr;
}

int ColourRasterDepth(const DeviceRecord& r) {
    const bool four = r.classValue == 7 || r.classValue == 9;
    return four && ThresholdStackOf(ScreenProductCode()) ? 4 : 2;
}

int ColourRasterConfiguredBits(const DeviceRecord& r) {
    if (r.classValue != 5 && r.classValue != 7 && r.classValue != 9) return 0;
    return ColourRasterDepth(r);
}

uint8_t ScreenLevel(const ColourScreen& s, int32_t x, int32_t y, uint8_t red, uint8_t green, uint8_t blue, bool& inked) {
    const int h = s.Rows(), w = s.Columns();
    const int row = ((y % h) + h) % h, column = ((x % w) + w) % w;
    const size_t at = static_cast<size_t>(row * w + column);
    const int d = 255 - ((5 * red + 9 * green + 2 * blue) >> 4);
    if (s.depth == 4) {
        const size_t n = static_cast<size_t>(h) * w;
        const uint8_t* t = s.Thresholds();
        const uint8_t v = static_cast<uint8_t>((d >= t[at] ? 8 : 0) | (d >= t[n + at] ? 4 : 0) | (d >= t[2 * n + at] ? 2 : 0) |
                                               (d >= t[3 * n + at] ? 1 : 0));
        inked = inked || v;
        return v;
    }
    const int e = d - s.Thresholds()[at];
    if (e < 0) return 0;
    inked = true;
    if (e > 12) return 3;
    const uint8_t* list = s.Pool() + s.Index()[at];
    return e >= list[0] ? 3 : list[1 + e];
}

int32_t TrimWhiteStrided(const uint8_t* pixels, int32_t count, ptrdiff_t stride) {
    for (int32_t n = count; n > 0; --n) {
        const uint8_t* p = pixels + (n - 1) * stride;
        if ((p[0] & p[1] & p[2]) != 0xFF) return n;
    }
    return 0;
}

int32_t TrimWhite(const uint8_t* pixels, int32_t count) {
    // Whole words of white are stepped over from the end.
    int32_t n = count;
    while (n >= 8) {
        uint64_t a, b, c;
        const uint8_t* p = pixels + static_cast<ptrdiff_t>(n - 8) * 3;
        std::memcpy(&a, p, 8), std::memcpy(&b, p + 8, 8), std::memcpy(&c, p + 16, 8);
        if ((a & b & c) != ~uint64_t{0}) break;
        n -= 8;
    }
    return TrimWhiteStrided(pixels, n, 3);
}

int32_t MarginRemainder(const DeviceRecord& r, bool vertical) {
    const auto h = static_cast<int16_t>(r.geometry.length - r.geometry.secondTopMargin - r.geometry.topMargin);
    const int32_t n = vertical ? 128 : 512;
    const int32_t rem = h - n * (h / n);
    return rem < 1 ? rem : rem - n;
}

int16_t ColourAngle(const DeviceRecord& r) {
    const auto angle = static_cast<int16_t>(r.geometry.orientationCode);
    const uint16_t paper = r.geometry.paperCodeUsed;
    if ((r.FeatureByte(574) & 8) && paper >= 19 && paper <= 38) {
        switch (angle) {
        case -2: return 2;
        case 2: return -2;
        case -1: return 1;
        default: return -1;
        }
    }
    return angle;
}

int ColourAngleDegrees(int16_t angle) { return angle == -2 ? 90 : angle == -1 ? 180 : angle == 2 ? 270 : 0; }

ColourBandLayout ColourLayout(const DeviceRecord& r) {
    ColourBandLayout l;
    l.angle = ColourAngle(r);
    const int degrees = ColourAngleDegrees(l.angle);
    l.unit = degrees == 90 || degrees == 270 ? 512 : 128;
    // Grids sent from the top down start at the raster offset above the
    // page; those sent from the bottom up end on the paper's raster edge.
    if (degrees == 0 || degrees == 270)
        l.gridTop = std::min(0, static_cast<int16_t>(r.geometry.secondTopMargin) - static_cast<int16_t>(r.geometry.topMargin));
    else
        l.gridTop = MarginRemainder(r, degrees == 180);
    l.margin = -l.gridTop;
    l.remainder = AlignmentRemainder(l.margin);
    l.stride = ((static_cast<uint32_t>(r.PageWidth()) * 24 + 31) / 8) & ~3u;
    l.minimumBudget = static_cast<uint64_t>(l.stride) * static_cast<uint64_t>(l.unit + l.remainder);
    return l;
}

std::vector<BandChoice> ColourBandChoices(const DeviceRecord& r, uint64_t budget) {
    const ColourBandLayout l = ColourLayout(r);
    const int32_t page = r.PageHeight();
    std::vector<BandChoice> out;
    budget = std::max(budget, l.minimumBudget);
    for (int32_t n = 1; n <= page / 128 + 1; ++n) {
        BandChoice c;
        if (n == 1) {
            c = {page, 1};
        } else {
            const int32_t step = std::max(l.unit, page / n / l.unit * l.unit);
            c = {step + l.remainder, (page + l.margin + step - 1) / step};
            if (c.count < 2) continue;  // no smaller than the whole page
        }
        if (static_cast<uint64_t>(l.stride) * static_cast<uint64_t>(c.rows) > budget) continue;
        if (!out.empty() && out.back().rows == c.rows) continue;
        out.push_back(c);
    }
    return out;
}

int32_t ColourBandTop(const DeviceRecord& r, int32_t index, int32_t height) {
    if (index <= 1) return 0;
    const ColourBandLayout l = ColourLayout(r);
    return (index - 1) * (height - l.remainder) - l.margin - l.remainder;
}

ColourBufferAlloc& ColourBufferAllocator() {
    static ColourBufferAlloc alloc = FixedBlock;
    return alloc;
}

namespace {

constexpr int32_t kBlockRows = 128, kBlockPixels = 512;
constexpr uint8_t kInkedMark = 0x80;

// A screen as a table: for each cell (row by row) and each darkness 0-255,
// the level, with kInkedMark where the pixel counts as inked. Made once per
// screen from ScreenLevel, which stays the reference.
const std::vector<uint8_t>& Levels(const ColourScreen& s) {
    static std::map<const ColourScreen*, std::vector<uint8_t>> tables;
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    auto& t = tables[&s];
    if (t.empty()) {
        t.resize(static_cast<size_t>(s.Rows()) * s.Columns() * 256);
        for (int y = 0; y < s.Rows(); ++y)
            for (int x = 0; x < s.Columns(); ++x)
                for (int d = 0; d < 256; ++d) {
                    // A grey of that darkness: (5 + 9 + 2) g / 16 = g.
                    const auto g = static_cast<uint8_t>(255 - d);
                    bool inked = false;
                    const uint8_t v = ScreenLevel(s, x, y, g, g, g, inked);
                    t[(static_cast<size_t>(y) * s.Columns() + x) * 256 + static_cast<size_t>(d)] =
                        static_cast<uint8_t>(v | (inked ? kInkedMark : 0));
                }
    }
    return t;
}

struct Buffer {
    void* p = nullptr;
    explicit Buffer(size_t bytes) : p(ColourBufferAllocator()(bytes)) {}
    ~Buffer() {
        std::free(p);
    }
    uint8_t* get() const { return static_cast<uint8_t*>(p); }
};

// One 128 x 512 block: where it lies on the page and how its printer rows
// walk the band.
struct BlockPlace {
    int32_t left, top;       // the block's top-left page pixel
    int32_t anchorX, anchorY;
    // Page step along a printer row, and from one printer row to the next.
    int32_t ix, iy, jx, jy;
};

BlockPlace Place(int degrees, int32_t left, int32_t top) {
    switch (degrees) {
    case 90: return {left, top, left, top + kBlockPixels - 1, 0, -1, 1, 0};
    case 180: return {left, top, left + kBlockPixels - 1, top + kBlockRows - 1, -1, 0, 0, -1};
    case 270: return {left, top, left + kBlockRows - 1, top, 0, 1, -1, 0};
    default: return {left, top, left, top, 1, 0, 0, 1};
    }
}

class BandSender {
public:
    BandSender(DeviceRecord& r, const ColourBand& band, int32_t bandY, const ColourScreen& screen, int degrees)
        : r_(r), band_(band), bandY_(bandY), screen_(screen), degrees_(degrees), depth_(screen.depth),
          rowBytes_(kBlockPixels * screen.depth / 8), blockBytes_(kBlockRows * rowBytes_), levels_(Levels(screen)) {}

    // False when the block buffer cannot be had.
    bool Run(const ColourBandLayout& l) {
        Buffer block(static_cast<size_t>(blockBytes_) + 10);
        if (!block.get()) return false;
        const size_t compressedCapacity = static_cast<size_t>(blockBytes_) + 10 + (static_cast<size_t>(blockBytes_) + 10) / 100;
        Buffer compressed(compressedCapacity);
        block_ = block.get();
        compressed_ = compressed.get();
        compressedCapacity_ = compressedCapacity;
        zInit_ = compressed_ && deflateInit2(&z_, 1, Z_DEFLATED, 14, 6, Z_DEFAULT_STRATEGY) == Z_OK;

        const int32_t W = r_.PageWidth(), H = r_.PageHeight();
        const bool tall = degrees_ == 90 || degrees_ == 270;
        const int32_t bw = tall ? kBlockRows : kBlockPixels, bh = tall ? kBlockPixels : kBlockRows;
        // Columns: from the left raster edge rightwards at 0 and 90 degrees,
        // from the right one leftwards at 180 and 270.
        std::vector<int32_t> columns;
        if (degrees_ == 0 || degrees_ == 90) {
            const int32_t x0 = std::min(0, static_cast<int16_t>(r_.geometry.secondLeftMargin) - static_cast<int16_t>(r_.geometry.leftMargin));
            for (int32_t x = x0; x < W; x += bw) columns.push_back(x);
        } else {
            int32_t xR = static_cast<int16_t>(r_.geometry.width - r_.geometry.secondLeftMargin - r_.geometry.leftMargin) - 1;
            if (xR < W - 1) xR += (W - 1 - xR + bw - 1) / bw * bw;  // the grid reaches the page's right edge
            for (int32_t x = xR; x >= 0; x -= bw) columns.push_back(x - bw + 1);
        }
        // Grid rows of this band: those whose rows on the page all lie in it.
        std::vector<int32_t> rows;
        const int32_t bandEnd = bandY_ + band_.height;
        for (int32_t y = l.gridTop + (std::max(0, bandY_ - l.gridTop) / bh) * bh - bh; y < std::min(H, bandEnd); y += bh) {
            const int32_t from = std::max(0, y), to = std::min(H, y + bh);
            if (from >= to || from < bandY_ || to > bandEnd) continue;
            rows.push_back(y);
        }
        if (degrees_ == 180 || degrees_ == 90) std::reverse(rows.begin(), rows.end());
        // Grid rows of blocks at 0 and 180 degrees; strips of 128 columns,
        // each walked block by block, at 90 and 270.
        if (tall) {
            for (int32_t x : columns)
                for (int32_t y : rows) SendBlock(Place(degrees_, x, y));
        } else {
            for (int32_t y : rows)
                for (int32_t x : columns) SendBlock(Place(degrees_, x, y));
        }
        if (zInit_) deflateEnd(&z_);
        return true;
    }

private:
    void SendBlock(const BlockPlace& p) {
        std::memset(block_, 0, static_cast<size_t>(blockBytes_));
        const int32_t W = r_.PageWidth(), H = r_.PageHeight();
        bool inked = false;
        for (int32_t j = 0; j < kBlockRows; ++j) {
            // The printer row's first pixel and its in-page run.
            const int32_t sx = p.anchorX + j * p.jx, sy = p.anchorY + j * p.jy;
            int32_t i0 = 0, i1 = kBlockPixels;  // pixels i0 .. i1-1 lie on the page
            if (p.ix) {
                if (sy < 0 || sy >= H) continue;
                const int32_t a = p.ix > 0 ? -sx : sx - (W - 1), b = p.ix > 0 ? W - sx : sx + 1;
                i0 = std::max(i0, a), i1 = std::min(i1, b);
            } else {
                if (sx < 0 || sx >= W) continue;
                const int32_t a = p.iy > 0 ? -sy : sy - (H - 1), b = p.iy > 0 ? H - sy : sy + 1;
                i0 = std::max(i0, a), i1 = std::min(i1, b);
            }
            if (i0 >= i1) continue;
            const int32_t fx = sx + i0 * p.ix, fy = sy + i0 * p.iy;
            const int32_t by = fy - bandY_;
            if (by < 0 || by >= band_.height) continue;  // never beyond the band (grid rows lie in it)
            const uint8_t* first = band_.pixels + static_cast<ptrdiff_t>(by) * band_.stride + static_cast<ptrdiff_t>(fx) * 3;
            const ptrdiff_t step = p.ix * 3 + static_cast<ptrdiff_t>(p.iy) * band_.stride;
            int32_t count = i1 - i0;
            if (p.iy) count = std::min(count, p.iy > 0 ? band_.height - by : by + 1);
            const int32_t n = step == 3 ? TrimWhite(first, count) : TrimWhiteStrided(first, count, step);
            if (n == 0) continue;
            inked |= ScreenRow(block_ + static_cast<size_t>(j) * rowBytes_, i0, first, step, n, fx, fy, p.ix, p.iy);
        }
        if (!inked) return;
        r_.cursorX = r_.cursorY = -1;
        const int32_t ax = MapX(r_, p.anchorX) + RasterLeft(r_), ay = p.anchorY;
        if (degrees_ == 90 || degrees_ == 270) {
            MoveToYMapped(r_, ay);
            MoveToX(r_, ax);
        } else {
            MoveToX(r_, ax);
            MoveToYMapped(r_, ay);
        }
        if (degrees_) SpoolFormat(r_, "\x1b&a%dP", {degrees_});
        SpoolFormat(r_, "\x1b*r%dt%dS", {kBlockRows, kBlockPixels});
        SpoolWrite(r_, "\x1b*r1A");
        const int32_t packed = Compress();
        if (packed > 0) {
            if (method_ != 1009) SpoolWrite(r_, "\x1b*b1009M");
            method_ = 1009;
            SpoolFormat(r_, "\x1b*b%dW", {packed});
            SpoolWrite(r_, compressed_, packed);
        } else {
            if (method_ == 1009) SpoolWrite(r_, "\x1b*b0M");
            method_ = 0;
            SpoolFormat(r_, "\x1b*b%dW", {blockBytes_});
            SpoolWrite(r_, block_, blockBytes_);
        }
        SpoolWrite(r_, "\x1b*rB");
        if (degrees_) SpoolWrite(r_, "\x1b&a0P");
    }

    // Screens `n` pixels of one printer row starting at printer pixel i0.
    bool ScreenRow(uint8_t* out, int32_t i0, const uint8_t* px, ptrdiff_t step, int32_t n, int32_t x, int32_t y, int32_t dx,
                   int32_t dy) {
        const int h = screen_.Rows(), w = screen_.Columns();
        int column = ((x % w) + w) % w, row = ((y % h) + h) % h;
        // The level of every cell for every darkness, looked up by the
        // cell the walk is on; the row and column follow the walk so that
        // no division is needed.
        const uint8_t* lut = levels_.data();
        uint8_t levels[kBlockPixels];
        uint8_t any = 0;
        if (dx) {
            // Darkness first (a loop the compiler can widen), then the
            // cells of the screen row in runs without a wrap.
            uint8_t dark[kBlockPixels];
            for (int32_t k = 0; k < n; ++k, px += step) dark[k] = static_cast<uint8_t>(255 - ((5 * px[0] + 9 * px[1] + 2 * px[2]) >> 4));
            const uint8_t* cells = lut + static_cast<size_t>(row) * w * 256;
            int32_t k = 0;
            if (dx > 0) {
                while (k < n) {
                    for (int c = column; c < w && k < n; ++c, ++k) any |= levels[k] = cells[c * 256 + dark[k]];
                    column = 0;
                }
            } else {
                while (k < n) {
                    for (int c = column; c >= 0 && k < n; --c, ++k) any |= levels[k] = cells[c * 256 + dark[k]];
                    column = w - 1;
                }
            }
        } else {
            for (int32_t k = 0; k < n; ++k, px += step) {
                const int d = 255 - ((5 * px[0] + 9 * px[1] + 2 * px[2]) >> 4);
                const uint8_t v = lut[(static_cast<size_t>(row) * w + column) * 256 + d];
                any |= v;
                levels[k] = v;
                row = dy > 0 ? (row + 1 == h ? 0 : row + 1) : (row == 0 ? h - 1 : row - 1);
            }
        }
        if (!any) return false;
        // Packing, first pixel in the high bits; whole bytes at a time
        // where the run starts on a byte.
        const int perByte = 8 / depth_;
        int32_t k = 0;
        if (i0 % perByte == 0) {
            uint8_t* o = out + i0 / perByte;
            if (depth_ == 2) {
                for (; k + 4 <= n; k += 4)
                    *o++ = static_cast<uint8_t>((levels[k] & 3) << 6 | (levels[k + 1] & 3) << 4 | (levels[k + 2] & 3) << 2 | (levels[k + 3] & 3));
            } else {
                for (; k + 2 <= n; k += 2) *o++ = static_cast<uint8_t>((levels[k] & 15) << 4 | (levels[k + 1] & 15));
            }
        }
        for (; k < n; ++k) {
            const int32_t i = i0 + k;
            const uint8_t v = levels[k] & 0x0F;
            if (depth_ == 2) out[i >> 2] |= static_cast<uint8_t>(v << (6 - 2 * (i & 3)));
            else out[i >> 1] |= static_cast<uint8_t>(v << (4 - 4 * (i & 1)));
        }
        return any & kInkedMark;
    }

    // The compressed size, or 0 when the block goes raw: no compression
    // buffer, or deflate not finished (Z_STREAM_END) below the block's size.
    int32_t Compress() {
        if (!zInit_) return 0;
        deflateReset(&z_);
        z_.next_in = block_;
        z_.avail_in = static_cast<uInt>(blockBytes_);
        z_.next_out = compressed_;
        z_.avail_out = static_cast<uInt>(compressedCapacity_);
        const int rc = deflate(&z_, Z_FINISH);
        if (rc != Z_STREAM_END || z_.total_out >= static_cast<uLong>(blockBytes_)) return 0;
        return static_cast<int32_t>(z_.total_out);
    }

    DeviceRecord& r_;
    const ColourBand& band_;
    int32_t bandY_;
    const ColourScreen& screen_;
    int degrees_;
    int depth_;
    int32_t rowBytes_, blockBytes_;
    const std::vector<uint8_t>& levels_;
    uint8_t* block_ = nullptr;
    uint8_t* compressed_ = nullptr;
    size_t compressedCapacity_ = 0;
    z_stream z_{};
    bool zInit_ = false;
    int method_ = 0;  // each band starts with method 0 noted
};

}  // namespace

bool SendColourBand(DeviceRecord& r, const ColourBand& band, int32_t, int32_t bandY) {
    const int depth = ColourRasterDepth(r);
    const ColourScreen* screen = depth == 4 ? ThresholdStackOf(ScreenProductCode()) : LevelScreenOf(ScreenProductCode());
    if (!screen || r.pageParity) return true;
    SelectPalette(r, 10, {}, false, true, 204);
    SpoolWrite(r, "\x1b*r0F\x1b*v0S\x1b*v0T\x1b*v1O\x1b*v1N");
    r.gl.paletteSaved = true;
    r.patternState = 0;
    SetPclRop(r, 204);
    const ColourBandLayout layout = ColourLayout(r);
    BandSender sender(r, band, bandY, *screen, ColourAngleDegrees(layout.angle));
    if (!sender.Run(layout)) return false;
    SpoolWrite(r, "\x1b*v0O\x1b*v0N");
    return true;
}

}  // namespace pclrend
