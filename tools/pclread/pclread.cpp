#include "pclread/pclread.h"
#include "pclread/soft_fonts.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string_view>

#include <zlib.h>

namespace pclread {

int64_t Page::BlackCount() const {
    int64_t n = 0;
    for (uint8_t b : bits) n += __builtin_popcount(b);
    return n;
}

uint8_t Luminance(uint32_t rgb) {
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return static_cast<uint8_t>((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

int64_t Differences(const Page& a, const Page& b) {
    if (a.width != b.width || a.height != b.height || a.stride != b.stride || a.bits.size() != b.bits.size()) return -1;
    int64_t n = 0;
    if (!a.rgb.empty() && !b.rgb.empty()) {
        // Colour pages: colour for colour.
        for (int32_t y = 0; y < a.height; ++y)
            for (int32_t x = 0; x < a.width; ++x) n += a.Colour(x, y) != b.Colour(x, y);
        return n;
    }
    for (size_t i = 0; i < a.bits.size(); ++i) n += __builtin_popcount(static_cast<unsigned>(a.bits[i] ^ b.bits[i]));
    return n;
}

bool PrintedOverLevels(const Page& page, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= page.width || y >= page.height) return false;
    const uint32_t v = page.Level(x, y), top = page.levelBits ? (1u << page.levelBits) - 1 : 1;
    const uint32_t g = v ? 255 - v * 255 / top : 255;
    return page.Colour(x, y) != (g << 16 | g << 8 | g);
}

double TextGlyph::Tolerance() const {
    const double fromStart = std::hypot((left + right) / 2.0 - runX, (top + bottom) / 2.0 - runY);
    return 2 + (0.01 + sizeSlack) * fromStart;
}

namespace {

// Chessboard distance from each pixel of `box` to the nearest black pixel of
// `page` (capped at 255), row after row of the box.
std::vector<uint8_t> InkDistance(const Page& page, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t w = x1 - x0, h = y1 - y0;
    std::vector<uint8_t> d(static_cast<size_t>(w) * h, 255);
    auto at = [&](int32_t x, int32_t y) -> uint8_t& { return d[static_cast<size_t>(y) * w + x]; };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (page.Black(x0 + x, y0 + y)) {
                at(x, y) = 0;
                continue;
            }
            int v = at(x, y);
            if (x > 0) v = std::min(v, at(x - 1, y) + 1);
            if (y > 0) {
                v = std::min(v, at(x, y - 1) + 1);
                if (x > 0) v = std::min(v, at(x - 1, y - 1) + 1);
                if (x + 1 < w) v = std::min(v, at(x + 1, y - 1) + 1);
            }
            at(x, y) = static_cast<uint8_t>(std::min(v, 255));
        }
    for (int32_t y = h - 1; y >= 0; --y)
        for (int32_t x = w - 1; x >= 0; --x) {
            int v = at(x, y);
            if (x + 1 < w) v = std::min(v, at(x + 1, y) + 1);
            if (y + 1 < h) {
                v = std::min(v, at(x, y + 1) + 1);
                if (x + 1 < w) v = std::min(v, at(x + 1, y + 1) + 1);
                if (x > 0) v = std::min(v, at(x - 1, y + 1) + 1);
            }
            at(x, y) = static_cast<uint8_t>(v);
        }
    return d;
}

// Chessboard distance from (x, y) to the nearest pixel of `page` in
// `colour`, searched out to `limit` (limit + 1 when none is that near).
int ColourDistance(const Page& page, int32_t x, int32_t y, uint32_t colour, int limit) {
    for (int d = 0; d <= limit; ++d) {
        const int32_t top = y - d, bottom = y + d, left = x - d, right = x + d;
        for (int32_t v = std::max(0, top); v <= std::min(page.height - 1, bottom); ++v) {
            if (v == top || v == bottom) {
                for (int32_t u = std::max(0, left); u <= std::min(page.width - 1, right); ++u)
                    if (page.Colour(u, v) == colour) return d;
            } else {
                if (left >= 0 && page.Colour(left, v) == colour) return d;
                if (right < page.width && page.Colour(right, v) == colour) return d;
            }
        }
    }
    return limit + 1;
}

}  // namespace

std::optional<TextJudgement> JudgeWithText(const Page& decoded, const Page& reference) {
    if (decoded.width != reference.width || decoded.height != reference.height || decoded.stride != reference.stride ||
        decoded.bits.size() != reference.bits.size())
        return std::nullopt;
    // Each glyph's tolerance over its box widened by it; where boxes
    // overlap, the larger.
    int32_t x0 = decoded.width, y0 = decoded.height, x1 = 0, y1 = 0;
    struct Zone {
        int32_t left, top, right, bottom;
        double tolerance;
    };
    std::vector<Zone> zones;
    for (const Page::TextGlyph& g : decoded.textGlyphs) {
        const double t = g.Tolerance();
        const auto grow = static_cast<int32_t>(std::ceil(t));
        Zone z{std::max(0, g.left - grow), std::max(0, g.top - grow), std::min(decoded.width, g.right + grow),
               std::min(decoded.height, g.bottom + grow), t};
        if (z.right <= z.left || z.bottom <= z.top) continue;
        zones.push_back(z);
        x0 = std::min(x0, z.left), y0 = std::min(y0, z.top), x1 = std::max(x1, z.right), y1 = std::max(y1, z.bottom);
    }
    TextJudgement j;
    std::vector<float> tolerance;
    std::vector<uint8_t> toDecoded, toReference;
    const int32_t w = x1 - x0;
    const bool colour = !decoded.rgb.empty() || !reference.rgb.empty();
    if (!zones.empty()) {
        tolerance.assign(static_cast<size_t>(w) * (y1 - y0), 0.0f);
        for (const Zone& z : zones)
            for (int32_t y = z.top; y < z.bottom; ++y)
                for (int32_t x = z.left; x < z.right; ++x) {
                    float& t = tolerance[static_cast<size_t>(y - y0) * w + (x - x0)];
                    t = std::max(t, static_cast<float>(z.tolerance));
                }
        if (!colour) {
            toDecoded = InkDistance(decoded, x0, y0, x1, y1);
            toReference = InkDistance(reference, x0, y0, x1, y1);
        }
    }
    // A pixel where the pages differ: outside every glyph's zone it counts
    // as a difference; inside, its distance (from `distance(at, t)`, `at`
    // the zone index) is weighed against the zone's tolerance.
    const auto judge = [&](int32_t x, int32_t y, const auto& distance) {
        const bool inZones = !zones.empty() && x >= x0 && x < x1 && y >= y0 && y < y1;
        const size_t at = inZones ? static_cast<size_t>(y - y0) * w + (x - x0) : 0;
        const float t = inZones ? tolerance[at] : 0.0f;
        if (t <= 0) {
            if (!j.outside++) j.outsideX = x, j.outsideY = y;
            return;
        }
        const int d = distance(at, t);
        if (d / static_cast<double>(t) > j.worst) {
            j.worst = d / static_cast<double>(t);
            j.worstX = x;
            j.worstY = y;
        }
        if (d > t) ++j.farInk;
    };
    if (colour) {
        // Colour for colour: outside the glyphs every pixel the same; where
        // the pages differ around a glyph, each page's colour there must lie
        // in the other page within the tolerance (text shifted by a pixel
        // swaps its colour and the colour under it at its edges).
        for (int32_t y = 0; y < decoded.height; ++y)
            for (int32_t x = 0; x < decoded.width; ++x) {
                const uint32_t a = decoded.Colour(x, y), b = reference.Colour(x, y);
                if (a == b) continue;
                judge(x, y, [&](size_t, float t) {
                    const int reach = 2 * static_cast<int>(std::ceil(t));
                    return std::max(ColourDistance(reference, x, y, a, reach), ColourDistance(decoded, x, y, b, reach));
                });
            }
        return j;
    }
    for (int32_t y = 0; y < decoded.height; ++y)
        for (int32_t i = 0; i < decoded.stride; ++i) {
            const size_t byte = static_cast<size_t>(y) * decoded.stride + i;
            const unsigned diff = decoded.bits[byte] ^ reference.bits[byte];
            if (!diff) continue;
            for (int b = 0; b < 8; ++b) {
                if (!(diff & (0x80u >> b))) continue;
                const int32_t x = i * 8 + b;
                judge(x, y, [&](size_t at, float) -> int { return decoded.Black(x, y) ? toReference[at] : toDecoded[at]; });
            }
        }
    return j;
}

std::optional<LevelComparison> CompareLevels(const Page& decoded, const Page& reference, ScreenFunction level) {
    if (decoded.width != reference.width || decoded.height != reference.height || decoded.levels.empty()) return std::nullopt;
    auto rgbAt = [&](int32_t x, int32_t y) -> uint32_t {
        if (!reference.rgb.empty()) {
            const uint8_t* p = &reference.rgb[(static_cast<size_t>(y) * reference.width + x) * 3];
            return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
        }
        return reference.Black(x, y) ? 0 : 0xFFFFFF;
    };
    auto near = [&](int32_t x, int32_t y, const auto& test) {
        for (int32_t v = std::max(0, y - 2); v <= std::min(decoded.height - 1, y + 2); ++v)
            for (int32_t u = std::max(0, x - 2); u <= std::min(decoded.width - 1, x + 2); ++u)
                if (test(u, v)) return true;
        return false;
    };
    LevelComparison c;
    for (int32_t y = 0; y < decoded.height; ++y)
        for (int32_t x = 0; x < decoded.width; ++x) {
            if (PrintedOverLevels(decoded, x, y)) {
                ++c.printed;
                const uint32_t colour = decoded.Colour(x, y);
                if (near(x, y, [&](int32_t u, int32_t v) { return rgbAt(u, v) == colour; })) continue;
                if (!c.printedWrong++) c.firstPrintedX = x, c.firstPrintedY = y;
                continue;
            }
            const uint32_t rgb = rgbAt(x, y);
            if (level(x, y, static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)) ==
                decoded.Level(x, y))
                continue;
            if (near(x, y, [&](int32_t u, int32_t v) { return PrintedOverLevels(decoded, u, v); })) continue;
            if (!c.differing++) c.firstX = x, c.firstY = y;
        }
    return c;
}

std::optional<std::vector<uint8_t>> InflateBlock(std::span<const uint8_t> data, size_t size, std::string& why) {
    if (data.size() < 2 || data[0] != 0x68 || data[1] != 0x05) {
        why = "block does not start with the zlib header 68 05";
        return std::nullopt;
    }
    std::vector<uint8_t> out(size + 1);
    z_stream z{};
    if (inflateInit2(&z, 14) != Z_OK) {
        why = "inflate cannot start";
        return std::nullopt;
    }
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t produced = z.total_out, left = z.avail_in;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        why = "block does not inflate to a whole zlib stream (" + std::to_string(rc) + ")";
        return std::nullopt;
    }
    if (produced != size) {
        why = "block inflates to " + std::to_string(produced) + " bytes, not " + std::to_string(size);
        return std::nullopt;
    }
    if (left) {
        why = std::to_string(left) + " bytes after the block's zlib stream";
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

bool DecodePackBits(std::span<const uint8_t> data, std::vector<uint8_t>& row) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < data.size()) {
        const int8_t c = static_cast<int8_t>(data[i++]);
        if (c >= 0) {
            const size_t n = static_cast<size_t>(c) + 1;
            if (i + n > data.size()) return false;
            out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(i), data.begin() + static_cast<ptrdiff_t>(i + n));
            i += n;
        } else if (c != -128) {
            if (i >= data.size()) return false;
            out.insert(out.end(), static_cast<size_t>(1 - c), data[i++]);
        }
    }
    std::fill(row.begin(), row.end(), 0);
    if (out.size() > row.size()) row.resize(out.size());
    std::copy(out.begin(), out.end(), row.begin());
    return true;
}

bool DecodePackBits16(std::span<const uint8_t> data, std::vector<uint8_t>& row) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < data.size()) {
        const int8_t c = static_cast<int8_t>(data[i++]);
        if (c >= 0) {
            const size_t n = (static_cast<size_t>(c) + 1) * 2;
            if (i + n > data.size()) return false;
            out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(i), data.begin() + static_cast<ptrdiff_t>(i + n));
            i += n;
        } else if (c != -128) {
            if (i + 2 > data.size()) return false;
            for (int k = 0; k < 1 - c; ++k) {
                out.push_back(data[i]);
                out.push_back(data[i + 1]);
            }
            i += 2;
        }
    }
    std::fill(row.begin(), row.end(), 0);
    if (out.size() > row.size()) row.resize(out.size());
    std::copy(out.begin(), out.end(), row.begin());
    return true;
}

bool DecodeRunLength(std::span<const uint8_t> data, std::vector<uint8_t>& row) {
    if (data.size() % 2) return false;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < data.size(); i += 2) out.insert(out.end(), static_cast<size_t>(data[i]) + 1, data[i + 1]);
    std::fill(row.begin(), row.end(), 0);
    if (out.size() > row.size()) row.resize(out.size());
    std::copy(out.begin(), out.end(), row.begin());
    return true;
}

bool DecodeDelta(std::span<const uint8_t> data, std::vector<uint8_t>& row) {
    size_t i = 0;
    size_t pos = 0;
    while (i < data.size()) {
        const uint8_t c = data[i++];
        const size_t count = (c >> 5) + 1;
        size_t offset = c & 31;
        if (offset == 31) {
            for (;;) {
                if (i >= data.size()) return false;
                const uint8_t more = data[i++];
                offset += more;
                if (more != 255) break;
            }
        }
        pos += offset;
        if (i + count > data.size()) return false;
        if (pos + count > row.size()) row.resize(pos + count, 0);
        std::copy(data.begin() + static_cast<ptrdiff_t>(i), data.begin() + static_cast<ptrdiff_t>(i + count),
                  row.begin() + static_cast<ptrdiff_t>(pos));
        i += count;
        pos += count;
    }
    return true;
}

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr std::string_view kUel = "\x1b%-12345X";
// The renderer keeps every raster block below 32,768 bytes; a larger one
// means its block splitting went wrong.
constexpr size_t kMaxRasterBlock = 32767;

bool IsParameterised(uint8_t c) { return c >= 33 && c <= 47; }
bool IsGroup(uint8_t c) { return c >= 96 && c <= 126; }
bool IsParam(uint8_t c) { return c >= 96 && c <= 126; }     // lower case: more follow
bool IsTerminator(uint8_t c) { return c >= 64 && c <= 94; } // upper case: last

// Pages this large keep no colour picture (3 bytes a pixel): a fault.
constexpr int64_t kMaxColourPixels = 64LL * 1000 * 1000;
constexpr uint32_t kWhiteRgb = 0xFFFFFF;

class Reader : public GlSurface {
public:
    Reader(std::span<const uint8_t> bytes, const Options& options, Job& job)
        : in_(bytes), options_(options), job_(job),
          gl_({options.keepCommands ? &job.gl : nullptr, &job.vendorAreas, &job.errors, &job.markedAreas}) {
        ResetColour();
    }

    // ---- what HP-GL/2 draws on ----------------------------------------
    int32_t Width() const override { return options_.pageWidth > 0 ? options_.pageWidth : Units() * 17 / 2; }
    int32_t Height() const override { return options_.pageHeight > 0 ? options_.pageHeight : Units() * 11; }
    int32_t Dpi() const override { return Units(); }
    uint32_t Get(int32_t x, int32_t y) override { return CurrentPage().Colour(x, y); }
    void Set(int32_t x, int32_t y, uint32_t rgb) override {
        Page& pg = CurrentPage();
        if (x < 0 || y < 0 || x >= pg.width || y >= pg.height) return;
        rgb &= kWhiteRgb;
        if (pg.rgb.empty() && rgb != 0 && rgb != kWhiteRgb) {
            if (int64_t{pg.width} * pg.height > kMaxColourPixels) {
                if (!colourTooLarge_) Error("page too large for its colours");
                colourTooLarge_ = true;
            } else {
                pg.rgb.assign(static_cast<size_t>(pg.width) * pg.height * 3, 255);
                for (int32_t yy = 0; yy < pg.height; ++yy)
                    for (int32_t xx = 0; xx < pg.width; ++xx)
                        if (pg.Black(xx, yy)) std::fill_n(&pg.rgb[(static_cast<size_t>(yy) * pg.width + xx) * 3], 3, 0);
            }
        }
        if (!pg.rgb.empty()) {
            uint8_t* p = &pg.rgb[(static_cast<size_t>(y) * pg.width + x) * 3];
            p[0] = static_cast<uint8_t>(rgb >> 16), p[1] = static_cast<uint8_t>(rgb >> 8), p[2] = static_cast<uint8_t>(rgb);
        }
        uint8_t& b = pg.bits[static_cast<size_t>(y) * pg.stride + x / 8];
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
        b = Luminance(rgb) < 128 ? (b | m) : (b & ~m);
    }
    uint32_t PaletteColour(int index) const override {
        const auto& p = palettes_.at(activePalette_);
        return p.empty() ? 0 : p[static_cast<size_t>(std::max(0, index)) % p.size()];
    }
    int PaletteSize() const override { return static_cast<int>(palettes_.at(activePalette_).size()); }
    const PclPattern* Pattern(int id) const override {
        const auto it = patterns_.find(id);
        return it == patterns_.end() ? nullptr : &it->second;
    }
    void Frame(double& x, double& y, double& w, double& h, double& plotW, double& plotH) const override {
        x = frameX_;
        y = frameY_;
        w = frameW_ > 0 ? frameW_ * Units() / 720.0 : Width() - frameX_;
        h = frameH_ > 0 ? frameH_ * Units() / 720.0 : Height() - frameY_;
        plotW = plotW_ > 0 ? plotW_ * 1016.0 : 0;
        plotH = plotH_ > 0 ? plotH_ * 1016.0 : 0;
    }
    size_t PageIndex() const override { return job_.pages.size(); }

    void Run() {
        while (pos_ < in_.size()) {
            if (pjl_) {
                ReadPjl();
            } else {
                ReadPcl();
            }
        }
        if (rasterOpen_) Error("raster graphics left open at the end of the job");
        if (dirty_) EndPage();
        if (!softFonts_.Fonts().empty()) job_.softFonts = softFonts_.Fonts();
    }

private:
    // ---- PJL ---------------------------------------------------------
    bool AtUel() const {
        return in_.size() - pos_ >= kUel.size() &&
               std::equal(kUel.begin(), kUel.end(), in_.begin() + static_cast<ptrdiff_t>(pos_));
    }

    void ReadPjl() {
        if (AtUel()) {
            pos_ += kUel.size();
            ++job_.uelCount;
            return;
        }
        if (in_[pos_] == ESC) {
            // Outside a language only PJL lines and the UEL may stand.
            pjl_ = false;
            if (job_.pjl.empty() || job_.pjl.back().rfind("@PJL ENTER LANGUAGE", 0) != 0)
                Error("escape sequence outside a language (no ENTER LANGUAGE)");
            return;
        }
        size_t end = pos_;
        while (end < in_.size() && in_[end] != '\n') ++end;
        std::string line(in_.begin() + static_cast<ptrdiff_t>(pos_), in_.begin() + static_cast<ptrdiff_t>(end));
        if (end >= in_.size()) Error("PJL line without its line feed");
        if (line.rfind("@PJL", 0) != 0) Error("PJL line not starting with @PJL: " + line);
        for (char c : line)
            if (static_cast<uint8_t>(c) < 32 && c != '\t' && c != '\r') Error("control byte in a PJL line");
        if (line.rfind("@PJL SET ", 0) == 0 && !SetHasValue(line)) Error("PJL SET line without a value: " + line);
        pos_ = std::min(end + 1, in_.size());
        job_.pjl.push_back(line);
        if (line == "@PJL ENTER LANGUAGE=PCLXL") {
            pos_ += ReadXl(in_.subspan(pos_), pos_, options_.maxPages, job_.xl, job_.errors);
            return;
        }
        if (line.rfind("@PJL ENTER LANGUAGE", 0) == 0) {
            if (line != "@PJL ENTER LANGUAGE=PCL") Error("unsupported language: " + line);
            pjl_ = false;
        }
    }

    // "@PJL SET [prefix :] VARIABLE = value": something other than blanks
    // must follow the equals sign.
    static bool SetHasValue(const std::string& line) {
        const size_t eq = line.find('=');
        return eq != std::string::npos && line.find_first_not_of(" \t\r", eq + 1) != std::string::npos;
    }

    // ---- PCL ---------------------------------------------------------
    void ReadPcl() {
        if (AtUel()) {
            pos_ += kUel.size();
            ++job_.uelCount;
            if (rasterOpen_) Error("UEL inside raster graphics");
            pjl_ = true;
            gl2_ = false;
            return;
        }
        const uint8_t c = in_[pos_];
        if (gl2_ && c != ESC) {
            pos_ = gl_.Read(in_, pos_, 0, *this);
            return;
        }
        if (c != ESC) {
            ++pos_;
            if (c == 0x0C) {
                ++job_.formFeeds;
                EndPage();
            } else if (c == '\r') {
                cursorX_ = 0;
            } else if (c == '\n') {
                // Line feeds move the cursor by the line spacing; this driver
                // never prints text through them.
            } else if (softFonts_.Selected() && c >= 32) {
                Page& pg = CurrentPage();
                // The printer keeps the cursor finer than a dot: a run's
                // characters advance from where the job put the cursor.
                if (cursorX_ != textX_ || (direction_ && cursorY_ != textY_)) {
                    textXFine_ = cursorX_;
                    textYFine_ = cursorY_;
                    runX_ = cursorX_;
                    runY_ = cursorY_;
                }
                Page::TextGlyph g{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, runX_, runY_, softFonts_.SizeSlack()};
                // In a turned print direction the character turns about the
                // cursor (counterclockwise as seen) and the cursor moves
                // along the turned baseline.
                const int32_t cx = cursorX_, cy = cursorY_;
                const double advance = softFonts_.Draw(c, cx, cy, Units(), [&](int32_t x, int32_t y) {
                    const int32_t dx = x - cx, dy = y - cy;
                    if (direction_ == 90) x = cx + dy, y = cy - dx - 1;
                    else if (direction_ == 180) x = cx - dx - 1, y = cy - dy - 1;
                    else if (direction_ == 270) x = cx - dy - 1, y = cy + dx;
                    if (x >= 0 && y >= 0 && x < pg.width && y < pg.height) Set(x, y, foreground_);
                    g.left = std::min(g.left, x), g.top = std::min(g.top, y);
                    g.right = std::max(g.right, x + 1), g.bottom = std::max(g.bottom, y + 1);
                });
                // Bitmap characters print as sent: judged pixel for pixel.
                if (!softFonts_.SelectedIsBitmap() && g.right > g.left) pg.textGlyphs.push_back(g);
                textXFine_ += direction_ == 180 ? -advance : direction_ == 0 ? advance : 0;
                cursorX_ = textX_ = static_cast<int32_t>(std::lround(textXFine_));
                if (direction_) {
                    textYFine_ += direction_ == 90 ? -advance : direction_ == 270 ? advance : 0;
                    cursorY_ = static_cast<int32_t>(std::lround(textYFine_));
                }
                textY_ = cursorY_;
            } else {
                Error("printable data outside any command");
            }
            return;
        }
        const size_t start = pos_++;
        if (pos_ >= in_.size()) return Error("escape at the end of the job");
        const uint8_t p = in_[pos_++];
        if (p >= 48 && p <= 126) {  // two-character escape
            Command cmd;
            cmd.terminator = static_cast<char>(p);
            cmd.offset = start;
            Push(cmd);
            if (p == 'E') Reset();
            return;
        }
        if (!IsParameterised(p)) return Error("bad character after escape");
        std::string prefix(1, static_cast<char>(p));
        if (pos_ < in_.size() && IsGroup(in_[pos_])) {
            prefix += static_cast<char>(in_[pos_++]);
        } else if (p != '%' && p != '(' && p != ')') {
            return Error("escape sequence without a group character");
        }
        for (;;) {
            std::string value;
            if (pos_ < in_.size() && (in_[pos_] == '+' || in_[pos_] == '-')) value += static_cast<char>(in_[pos_++]);
            bool digits = false, dot = false;
            while (pos_ < in_.size() && ((in_[pos_] >= '0' && in_[pos_] <= '9') || (in_[pos_] == '.' && !dot))) {
                if (in_[pos_] == '.') dot = true; else digits = true;
                value += static_cast<char>(in_[pos_++]);
            }
            if (!value.empty() && !digits) return Error("value field without digits");
            if (pos_ >= in_.size()) return Error("escape sequence cut off");
            const uint8_t t = in_[pos_++];
            if (!IsParam(t) && !IsTerminator(t)) return Error("bad parameter character");
            Command cmd;
            cmd.prefix = prefix;
            cmd.terminator = static_cast<char>(IsParam(t) ? t - 32 : t);
            cmd.value = value;
            cmd.offset = start;
            const size_t payload = PayloadOf(cmd);
            if (cmd.prefix == "*b" && (cmd.terminator == 'W' || cmd.terminator == 'V') && payload > kMaxRasterBlock &&
                !(levelBits_[activePalette_] == 4 && payload == 32768))  // a raw block of 4-bit levels
                Error("raster block of " + std::to_string(payload) + " bytes (at most " + std::to_string(kMaxRasterBlock) + ")");
            if (payload) {
                if (pos_ + payload > in_.size()) return Error("binary data shorter than its count");
                cmd.payload = payload;
            }
            Execute(cmd, in_.subspan(pos_, payload));
            pos_ += payload;
            Push(cmd);
            if (IsTerminator(t)) return;
            if (payload) return Error("binary data inside a combined sequence");
        }
    }

    // Values beyond any page are cut to a range that no sum of two overflows.
    static long Int(const Command& c) {
        const long v = std::strtol(c.value.c_str(), nullptr, 10);
        return std::clamp(v, -1000000L, 1000000L);
    }
    static int32_t Clamp(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -1000000, 1000000)); }
    static bool Relative(const Command& c) { return !c.value.empty() && (c.value[0] == '+' || c.value[0] == '-'); }

    size_t PayloadOf(const Command& c) const {
        static const char* kData[] = {"*b", "*c", "(s", ")s", "(f", "&n", "*v", "*m", "*l", "&b", "*o", "&p"};
        const bool dataCmd = (c.terminator == 'W' && std::any_of(std::begin(kData), std::end(kData),
                                                                  [&](const char* k) { return c.prefix == k; })) ||
                             (c.prefix == "&p" && c.terminator == 'X') || (c.prefix == "*b" && c.terminator == 'V');
        if (!dataCmd) return 0;
        const long n = Int(c);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    void Push(const Command& c) {
        if (options_.keepCommands) job_.commands.push_back(c);
    }

    void Error(const std::string& what) {
        if (job_.errors.size() < 100) job_.errors.push_back(what + " (offset " + std::to_string(pos_) + ")");
    }

    void Reset() {
        if (rasterOpen_) Error("printer reset inside raster graphics");
        if (dirty_) EndPage();
        cursorX_ = cursorY_ = 0;
        topMarginLines_ = 0;
        vmi48_ = 8.0;  // six lines per inch
        compression_ = 0;
        rasterWidth_ = rasterHeight_ = 0;
        direction_ = 0;
        rectW_ = rectH_ = 0;
        ResetColour();
        frameX_ = frameY_ = 0;
        frameW_ = frameH_ = 0;
        plotW_ = plotH_ = 0;
        gl_.Initialize();
        if (!softFonts_.Fonts().empty()) job_.softFonts = softFonts_.Fonts();
        softFonts_.Reset();
    }

    // The colour state of a printer reset: one palette (white, black), no
    // patterns, solid black fills.
    void ResetColour() {
        palettes_.clear();
        palettes_[0] = {kWhiteRgb, 0};
        levelBits_.clear();
        activePalette_ = 0;
        paletteControl_ = 0;
        paletteStack_.clear();
        encodings_.clear();
        encodingStack_.clear();
        sourceOpaque_ = false;
        rop_ = 252;
        destWidth_ = destHeight_ = 0;
        patterns_.clear();
        patternId_ = 0;
        patternType_ = 0;
        foreground_ = 0;
        patternOpaque_ = false;
        components_[0] = components_[1] = components_[2] = 0;
    }

    std::vector<uint32_t>& Active() { return palettes_[activePalette_]; }
    // How the active palette's raster is coded: 0 one plane, n > 0 indexed
    // by pixel with n bits or 24 direct by pixel, -n n planes (not decoded).
    int& Encoding() { return encodings_[activePalette_]; }
    int Encoding() const {
        const auto it = encodings_.find(activePalette_);
        return it == encodings_.end() ? 0 : it->second;
    }

    // A configured palette: 2^bits entries, white and black first.
    void NewPalette(int bits) {
        static const uint32_t kDefaults[8] = {kWhiteRgb, 0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF};
        const size_t n = size_t{1} << std::clamp(bits, 1, 8);
        auto& p = Active();
        p.assign(n, 0);
        for (size_t i = 0; i < n && i < 8; ++i) p[i] = kDefaults[i];
    }

    void DownloadPattern(std::span<const uint8_t> d) {
        if (d.size() < 8) return Error("pattern shorter than its header");
        const uint8_t format = d[0];
        const int bits = format == 1 ? d[2] : 1;
        const size_t header = format == 20 ? 12 : 8;
        if ((format != 0 && format != 1 && format != 20) || d.size() < header || bits < 1 || bits > 8 || 8 % bits)
            return Error("pattern format " + std::to_string(format) + " with " + std::to_string(bits) + " bits a pixel");
        PclPattern p;
        p.height = d[4] << 8 | d[5];
        p.width = d[6] << 8 | d[7];
        p.colour = format == 1;
        if (format == 20) p.xres = d[8] << 8 | d[9], p.yres = d[10] << 8 | d[11];
        const size_t rowBytes = (static_cast<size_t>(p.width) * bits + 7) / 8;
        if (p.width == 0 || p.height == 0 || d.size() - header < rowBytes * p.height)
            return Error("pattern data shorter than its " + std::to_string(p.width) + " x " + std::to_string(p.height) + " pixels");
        if (d.size() - header > rowBytes * p.height) Error("pattern data longer than its pixels");
        for (int32_t y = 0; y < p.height; ++y)
            for (int32_t x = 0; x < p.width; ++x) {
                const size_t bit = static_cast<size_t>(x) * bits;
                const uint8_t byte = d[header + static_cast<size_t>(y) * rowBytes + bit / 8];
                p.pixels.push_back(static_cast<uint8_t>((byte >> (8 - bits - bit % 8)) & ((1 << bits) - 1)));
            }
        patterns_[patternId_] = std::move(p);
    }

    // A PCL rectangle fill of kind 2 (shading), 3 (cross-hatch) or 5 (the
    // current pattern).
    void PatternFill(long kind) {
        int type = kind == 2 ? 2 : kind == 3 ? 3 : patternType_;
        const uint32_t fg = foreground_;
        const PclPattern* pattern = type == 4 ? Pattern(patternId_) : nullptr;
        if (type == 4 && !pattern) return Error("fill with pattern " + std::to_string(patternId_) + ", never downloaded");
        const int32_t x0 = std::max(0, cursorX_), y0 = std::max(0, cursorY_);
        const int32_t x1 = std::min<int64_t>(Width(), int64_t{cursorX_} + rectW_), y1 = std::min<int64_t>(Height(), int64_t{cursorY_} + rectH_);
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) {
                uint32_t c = fg;
                bool white = false;
                switch (type) {
                case 0: break;
                case 1: c = kWhiteRgb; break;
                case 2: c = Mix(fg, std::clamp(patternId_, 0, 100) / 100.0); break;
                case 3: white = !HatchInk(patternId_, x, y, Units()); break;
                case 9: {
                    const uint32_t v = static_cast<uint32_t>(std::clamp(patternId_, 0, 255));
                    c = v | v << 8 | v << 16;
                    break;
                }
                case 4: {
                    const int32_t kx = pattern->xres > 0 ? std::max(1, Units() / pattern->xres) : 1;
                    const int32_t ky = pattern->yres > 0 ? std::max(1, Units() / pattern->yres) : 1;
                    const uint8_t v = pattern->pixels[static_cast<size_t>((y / ky) % pattern->height) * pattern->width +
                                                      (x / kx) % pattern->width];
                    if (pattern->colour) c = PaletteColour(v), white = c == kWhiteRgb;
                    else white = v == 0;
                    break;
                }
                default: return Error("pattern type " + std::to_string(type) + " is not decoded");
                }
                if (white) {
                    if (!patternOpaque_) continue;
                    c = kWhiteRgb;
                }
                Set(x, y, c);
            }
        if (type == 9 && x1 > x0 && y1 > y0 && job_.vendorAreas.size() < 100000)
            job_.vendorAreas.push_back({"ESC*v9T", patternId_, job_.pages.size(), x0, y0, x1, y1});
    }

    int32_t Units() const { return job_.resolution > 0 ? job_.resolution : 300; }

    Page& CurrentPage() {
        if (!dirty_) {
            page_ = Page{};
            page_.width = Width();
            page_.height = Height();
            page_.stride = (page_.width + 7) / 8;
            page_.bits.assign(static_cast<size_t>(page_.stride) * page_.height, 0);
            dirty_ = true;
        }
        return page_;
    }

    void EndPage() {
        if (rasterOpen_) Error("page ended inside raster graphics");
        if (job_.pages.size() < options_.maxPages) job_.pages.push_back(CurrentPage());
        dirty_ = false;
    }

    void Fill(int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t colour) {
        Page& pg = CurrentPage();
        const int32_t x1 = static_cast<int32_t>(std::min<int64_t>(pg.width, int64_t{x0} + w));
        const int32_t y1 = static_cast<int32_t>(std::min<int64_t>(pg.height, int64_t{y0} + h));
        for (int32_t y = std::max(0, y0); y < y1; ++y)
            for (int32_t x = std::max(0, x0); x < x1; ++x) Set(x, y, colour);
    }

    // The colour of pixel i of a decoded colour row: direct (3 bytes) or
    // indexed by pixel (`bits` bits).
    uint32_t RowPixel(const std::vector<uint8_t>& row, int bits, size_t i) const {
        auto at = [&](size_t k) -> uint32_t { return k < row.size() ? row[k] : 0; };
        if (bits == 24) return at(3 * i) << 16 | at(3 * i + 1) << 8 | at(3 * i + 2);
        const size_t bit = i * static_cast<size_t>(bits);
        const uint32_t index = (at(bit / 8) >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        return PaletteColour(static_cast<int>(index));
    }

    // A raster pixel onto the page: white is left out under a transparent
    // source; logical operation 136 keeps the darker of source and page.
    void PaintRaster(int32_t x, int32_t y, uint32_t c) {
        if (c == kWhiteRgb && !sourceOpaque_) return;
        if (rop_ == 136) c &= CurrentPage().Colour(x, y);
        Set(x, y, c);
    }

    void PlotColourRow(const std::vector<uint8_t>& row, int bits) {
        const size_t pixels = rasterWidth_ > 0 ? static_cast<size_t>(rasterWidth_) : row.size() * 8 / static_cast<size_t>(bits);
        if (scaled_) {
            if (scaledRows_.size() < 65536) {
                scaledRows_.emplace_back(pixels);
                for (size_t i = 0; i < pixels; ++i) scaledRows_.back()[i] = RowPixel(row, bits, i);
            }
            return;
        }
        Page& pg = CurrentPage();
        const int32_t y = rasterY_;
        rasterY_ = Clamp(int64_t{rasterY_} + 1);
        cursorY_ = Clamp(int64_t{y} + 1);
        if (y < 0 || y >= pg.height) return;
        for (size_t i = 0; i < pixels; ++i) {
            const int64_t x = rasterX_ + static_cast<int64_t>(i);
            if (x >= 0 && x < pg.width) PaintRaster(static_cast<int32_t>(x), y, RowPixel(row, bits, i));
        }
    }

    // The rows of a raster scaled by the printer, drawn at its end: each
    // target pixel takes the source pixel its centre falls in.
    void PlotScaled() {
        if (scaledRows_.empty()) return;
        const int64_t sh = rasterHeight_ > 0 ? rasterHeight_ : static_cast<int64_t>(scaledRows_.size());
        const int64_t sw = static_cast<int64_t>(scaledRows_.front().size());
        const int64_t dw = destWidth_ > 0 ? std::llround(destWidth_ * Units() / 720.0) : sw;
        const int64_t dh = destHeight_ > 0 ? std::llround(destHeight_ * Units() / 720.0) : sh;
        if (sw <= 0 || dw <= 0 || dh <= 0 || dw * dh > kMaxColourPixels) return Error("scaled raster of no size or too large");
        for (int64_t dy = 0; dy < dh; ++dy) {
            const int64_t sy = (2 * dy + 1) * sh / (2 * dh);
            if (sy >= static_cast<int64_t>(scaledRows_.size())) break;  // rows never sent
            const auto& src = scaledRows_[static_cast<size_t>(sy)];
            for (int64_t dx = 0; dx < dw; ++dx) {
                const int64_t x = rasterX_ + dx, y = rasterY_ + dy;
                if (x < 0 || y < 0 || x >= Width() || y >= Height()) continue;
                const int64_t sx = (2 * dx + 1) * sw / (2 * dw);
                PaintRaster(static_cast<int32_t>(x), static_cast<int32_t>(y), src[static_cast<size_t>(sx)]);
            }
        }
        cursorY_ = Clamp(rasterY_ + dh);
        scaledRows_.clear();
    }

    void PlotRow(const std::vector<uint8_t>& row) {
        if (const int bits = Encoding(); bits > 0) return PlotColourRow(row, bits);
        if (Encoding() < 0) return Error("planar colour raster is not decoded");
        Page& pg = CurrentPage();
        const int32_t y = rasterY_;
        rasterY_ = Clamp(int64_t{rasterY_} + 1);
        cursorY_ = Clamp(int64_t{y} + 1);
        if (y < 0 || y >= pg.height) return;
        const size_t bytes = rasterWidth_ > 0 ? std::min(row.size(), static_cast<size_t>((rasterWidth_ + 7) / 8)) : row.size();
        for (size_t i = 0; i < bytes; ++i) {
            uint8_t b = row[i];
            if (!b) continue;
            for (int k = 0; k < 8; ++k) {
                if (!((b >> (7 - k)) & 1)) continue;
                const int64_t x = rasterX_ + static_cast<int64_t>(i) * 8 + k;
                if (rasterWidth_ > 0 && static_cast<int64_t>(i) * 8 + k >= rasterWidth_) break;
                if (x < 0 || x >= pg.width) continue;
                if (!pg.rgb.empty()) Set(static_cast<int32_t>(x), y, 0);
                pg.bits[static_cast<size_t>(y) * pg.stride + static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }

    void StartRaster(long mode) {
        if (rasterOpen_) return;  // a second start inside raster graphics is ignored by printers
        rasterOpen_ = true;
        rasterX_ = mode == 1 || mode == 3 ? cursorX_ : 0;
        rasterY_ = cursorY_;
        // Scaling is a colour mode's: a one-bit raster ignores it.
        scaled_ = (mode == 2 || mode == 3) && Encoding() > 0;
        scaledRows_.clear();
        const int bits = std::max(1, Encoding());
        const size_t rowBytes = (static_cast<size_t>(std::max(0, rasterWidth_)) * static_cast<size_t>(bits) + 7) / 8;
        seed_.assign(std::max<size_t>({1, static_cast<size_t>(CurrentPage().stride), rowBytes}), 0);
    }

    void EndRaster() {
        if (!rasterOpen_) return;
        if (scaled_) PlotScaled();
        scaled_ = false;
        rasterOpen_ = false;
        cursorX_ = rasterX_;
    }

    // The vendor's colour raster set-up: colour space 255, three
    // components, levels of 2 or 4 bits a pixel.
    void LevelSpace(std::span<const uint8_t> d) {
        if (d[1] != 3 || (d[3] != 2 && d[3] != 4) || d[2] || d[4] || d[5])
            return Error("colour space 255 with bytes " + std::to_string(d[1]) + "," + std::to_string(d[2]) + "," +
                         std::to_string(d[3]) + "," + std::to_string(d[4]) + "," + std::to_string(d[5]));
        levelBits_[activePalette_] = d[3];
    }

    // One block of levels (every row of the raster height in one transfer),
    // raw (method 0) or deflated (1009), laid on the page in the print
    // direction: printer rows advance across it, pixels along it.
    void LevelBlock(std::span<const uint8_t> data) {
        const int bits = levelBits_[activePalette_];
        if (!rasterOpen_) return Error("level block outside raster graphics");
        if (rasterWidth_ <= 0 || rasterHeight_ <= 0) return Error("level block without raster width and height");
        const size_t rowBytes = (static_cast<size_t>(rasterWidth_) * bits + 7) / 8;
        const size_t size = rowBytes * static_cast<size_t>(rasterHeight_);
        std::vector<uint8_t> block;
        if (compression_ == 1009) {
            std::string why;
            auto inflated = InflateBlock(data, size, why);
            if (!inflated) return Error(why);
            block = std::move(*inflated);
        } else if (compression_ == 0) {
            if (data.size() != size) return Error("raw level block of " + std::to_string(data.size()) + " bytes, not " + std::to_string(size));
            block.assign(data.begin(), data.end());
        } else {
            return Error("level block in compression method " + std::to_string(compression_));
        }
        ++job_.levelBlocks;
        Page& pg = CurrentPage();
        if (pg.levels.empty()) pg.levels.assign(static_cast<size_t>(pg.width) * pg.height, 0);
        pg.levelBits = bits;
        // Page steps along a printer row (i) and across rows (j).
        int32_t ix = 1, iy = 0, jx = 0, jy = 1;
        if (direction_ == 90) ix = 0, iy = -1, jx = 1, jy = 0;
        else if (direction_ == 180) ix = -1, iy = 0, jx = 0, jy = -1;
        else if (direction_ == 270) ix = 0, iy = 1, jx = -1, jy = 0;
        const int top = (1 << bits) - 1;
        for (int32_t j = 0; j < rasterHeight_; ++j)
            for (int32_t i = 0; i < rasterWidth_; ++i) {
                const size_t bit = static_cast<size_t>(i) * bits;
                const uint8_t v = static_cast<uint8_t>((block[j * rowBytes + bit / 8] >> (8 - bits - bit % 8)) & top);
                const int64_t x = int64_t{rasterX_} + int64_t{i} * ix + int64_t{j} * jx;
                const int64_t y = int64_t{rasterY_} + int64_t{i} * iy + int64_t{j} * jy;
                if (x < 0 || y < 0 || x >= pg.width || y >= pg.height) {
                    if (v) ++job_.levelsOffPage;
                    continue;
                }
                pg.levels[static_cast<size_t>(y) * pg.width + x] = v;
                if (v) {
                    const uint32_t g = static_cast<uint32_t>(255 - v * 255 / top);
                    Set(static_cast<int32_t>(x), static_cast<int32_t>(y), g << 16 | g << 8 | g);
                }
            }
    }

    void TransferRow(std::span<const uint8_t> data) {
        if (!rasterOpen_) StartRaster(0);
        bool ok = true;
        switch (compression_) {
        case 0: seed_.assign(std::max(seed_.size(), data.size()), 0); std::copy(data.begin(), data.end(), seed_.begin()); break;
        case 1: ok = DecodeRunLength(data, seed_); break;
        case 2: ok = DecodePackBits(data, seed_); break;
        case 3: ok = DecodeDelta(data, seed_); break;
        case 5:
        case 1008: return Adaptive(data);
        default: return Error("unsupported compression method " + std::to_string(compression_));
        }
        if (!ok) return Error("malformed row data");
        PlotRow(seed_);
    }

    void Adaptive(std::span<const uint8_t> data) {
        size_t i = 0;
        while (i < data.size()) {
            if (i + 3 > data.size()) return Error("adaptive record cut off");
            const uint8_t cmd = data[i];
            const size_t count = static_cast<size_t>(data[i + 1]) << 8 | data[i + 2];
            i += 3;
            const bool hasData = cmd != 4 && cmd != 5;
            if (hasData && i + count > data.size()) return Error("adaptive record longer than its block");
            const auto body = data.subspan(i, hasData ? count : 0);
            bool ok = true;
            switch (cmd) {
            case 0: std::fill(seed_.begin(), seed_.end(), 0); if (count > seed_.size()) seed_.resize(count); std::copy(body.begin(), body.end(), seed_.begin()); break;
            case 1: ok = DecodeRunLength(body, seed_); break;
            case 2: ok = DecodePackBits(body, seed_); break;
            case 3: ok = DecodeDelta(body, seed_); break;
            case 4: std::fill(seed_.begin(), seed_.end(), 0); for (size_t k = 0; k < count; ++k) PlotRow(seed_); break;
            case 5: for (size_t k = 0; k < count; ++k) PlotRow(seed_); break;
            case 254:
                if (compression_ != 1008) return Error("16-bit run-length record outside method 1008");
                ok = DecodePackBits16(body, seed_);
                break;
            default: return Error("unknown adaptive record " + std::to_string(cmd));
            }
            if (!ok) return Error("malformed adaptive record");
            if (cmd <= 3 || cmd == 254) PlotRow(seed_);
            i += body.size();
        }
    }

    void Execute(const Command& c, std::span<const uint8_t> payload) {
        const std::string& p = c.prefix;
        const char t = c.terminator;
        if (softFonts_.Execute(p, t, c.value, payload)) return;
        if (p == "%" && (t == 'B' || t == 'A')) {
            gl2_ = t == 'B';
            if (gl2_) gl_.Enter(*this, Int(c) & 1, cursorX_, cursorY_);
        } else if (p == "*c" && (t == 'X' || t == 'Y')) {
            (t == 'X' ? frameW_ : frameH_) = std::max(0L, Int(c));
            plotW_ = plotH_ = 0;
            gl_.FrameChanged(*this);
        } else if (p == "*c" && t == 'T') {
            if (Int(c) == 0) frameX_ = cursorX_, frameY_ = cursorY_;
            gl_.FrameChanged(*this);
        } else if (p == "*c" && (t == 'K' || t == 'L')) {
            (t == 'K' ? plotW_ : plotH_) = std::clamp(std::strtod(c.value.c_str(), nullptr), 0.0, 1000.0);
            gl_.FrameChanged(*this);
        } else if (p == "*v" && t >= 'A' && t <= 'C') {
            components_[t - 'A'] = static_cast<int32_t>(std::clamp(Int(c), 0L, 255L));
        } else if (p == "*v" && t == 'I') {
            auto& pal = Active();
            const long i = Int(c);
            if (i < 0 || static_cast<size_t>(i) >= pal.size()) {
                Error("colour index " + std::to_string(i) + " beyond the palette's " + std::to_string(pal.size()));
            } else {
                pal[static_cast<size_t>(i)] = static_cast<uint32_t>(components_[0] << 16 | components_[1] << 8 | components_[2]);
            }
            components_[0] = components_[1] = components_[2] = 0;
        } else if (p == "*v" && t == 'W') {
            levelBits_[activePalette_] = 0;
            if (payload.size() < 6) Error("configure image data shorter than 6 bytes");
            else if (payload[0] == 255) LevelSpace(payload);
            else if (payload[1] <= 1) {
                NewPalette(payload[2]);  // indexed
                Encoding() = payload[1] == 1 ? (payload[2] == 1 || payload[2] == 2 || payload[2] == 4 || payload[2] == 8 ? payload[2] : -8)
                                             : (payload[2] == 1 ? 0 : -payload[2]);
            } else {
                NewPalette(1);  // direct: the palette keeps two entries
                Encoding() = payload[1] == 3 && payload[3] == 8 && payload[4] == 8 && payload[5] == 8 ? 24 : -3;
            }
        } else if (p == "*r" && t == 'U') {
            const long planes = Int(c);
            Encoding() = planes == 1 ? 0 : -3;
            if (planes == 1) Active() = {kWhiteRgb, 0};
            else if (planes == 3) Active() = {0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, kWhiteRgb};
            else if (planes == -3) Active() = {kWhiteRgb, 0x00FFFF, 0xFF00FF, 0x0000FF, 0xFFFF00, 0x00FF00, 0xFF0000, 0};
            else Error("simple colour " + std::to_string(planes));
        } else if (p == "&p" && t == 'I') {
            paletteControl_ = static_cast<int32_t>(Int(c));
        } else if (p == "&p" && t == 'C') {
            const long op = Int(c);
            if (op == 0) {
                const auto keep = Active();
                const int encoding = Encoding();
                palettes_.clear();
                encodings_.clear();
                palettes_[activePalette_] = keep;
                Encoding() = encoding;
            } else if (op == 1) {
                paletteStack_.clear();
            } else if (op == 2 && paletteControl_ != activePalette_) {
                palettes_.erase(paletteControl_);
            } else if (op == 6) {
                palettes_[paletteControl_] = Active();
                encodings_[paletteControl_] = Encoding();
                levelBits_[paletteControl_] = levelBits_[activePalette_];
            }
        } else if (p == "&p" && t == 'S') {
            const int32_t id = static_cast<int32_t>(Int(c));
            if (palettes_.count(id)) activePalette_ = id;
            else Error("palette " + std::to_string(id) + " selected but never made");
        } else if (p == "*p" && t == 'P') {
            if (Int(c) == 0) {
                if (paletteStack_.size() < 64) paletteStack_.push_back(Active()), encodingStack_.push_back(Encoding());
            } else if (paletteStack_.empty()) {
                Error("palette popped from an empty stack");
            } else {
                Active() = paletteStack_.back();
                paletteStack_.pop_back();
                if (!encodingStack_.empty()) Encoding() = encodingStack_.back(), encodingStack_.pop_back();
            }
        } else if (p == "*v" && t == 'S') {
            foreground_ = PaletteColour(static_cast<int>(Int(c)));  // the colour at the time it is chosen
        } else if (p == "*v" && t == 'T') {
            patternType_ = static_cast<int32_t>(Int(c));
        } else if (p == "*v" && t == 'N') {
            sourceOpaque_ = Int(c) == 1;
        } else if (p == "*l" && t == 'O') {
            rop_ = static_cast<int32_t>(Int(c));
        } else if (p == "*r" && t == 'T') {
            rasterHeight_ = static_cast<int32_t>(std::max(0L, Int(c)));
        } else if (p == "*t" && (t == 'H' || t == 'V')) {
            (t == 'H' ? destWidth_ : destHeight_) = std::clamp(std::strtod(c.value.c_str(), nullptr), 0.0, 1e6);
        } else if (p == "*v" && t == 'O') {
            patternOpaque_ = Int(c) == 1;
        } else if (p == "*c" && t == 'G') {
            patternId_ = static_cast<int32_t>(Int(c));
        } else if (p == "*c" && t == 'W') {
            DownloadPattern(payload);
        } else if (p == "&u" && t == 'D') {
            job_.resolution = static_cast<int32_t>(Int(c));
        } else if (p == "*t" && t == 'R') {
            if (Int(c) != Units()) Error("raster resolution differs from the unit of measure");
        } else if (p == "*p" && (t == 'X' || t == 'Y')) {
            int32_t& axis = t == 'X' ? cursorX_ : cursorY_;
            axis = Clamp(Relative(c) ? int64_t{axis} + Int(c) : Int(c));
            if (rasterOpen_) Error("cursor moved inside raster graphics");
        } else if (p == "&l" && t == 'C') {
            vmi48_ = std::strtod(c.value.c_str(), nullptr);
        } else if (p == "&l" && t == 'E') {
            topMarginLines_ = static_cast<int32_t>(Int(c));
        } else if (p == "*r" && t == 'A') {
            StartRaster(Int(c));
        } else if (p == "*r" && (t == 'B' || t == 'C')) {
            EndRaster();
        } else if (p == "*r" && t == 'S') {
            rasterWidth_ = static_cast<int32_t>(Int(c));
        } else if (p == "&a" && t == 'P') {
            const long d = Int(c);
            if (d != 0 && d != 90 && d != 180 && d != 270) Error("print direction " + c.value);
            else direction_ = static_cast<int32_t>(d);
        } else if (p == "*b" && t == 'M') {
            compression_ = static_cast<int32_t>(Int(c));
        } else if (p == "*b" && t == 'Y') {
            if (!rasterOpen_) StartRaster(0);
            std::fill(seed_.begin(), seed_.end(), 0);
            rasterY_ = Clamp(int64_t{rasterY_} + Int(c));
        } else if (p == "*b" && t == 'W') {
            if (levelBits_[activePalette_]) LevelBlock(payload);
            else TransferRow(payload);
        } else if (p == "*c" && t == 'A') {
            rectW_ = static_cast<int32_t>(Int(c));
        } else if (p == "*c" && t == 'B') {
            rectH_ = static_cast<int32_t>(Int(c));
        } else if (p == "*c" && t == 'P') {
            const long kind = Int(c);
            if (kind == 0 || kind == 1) {
                Fill(cursorX_, cursorY_, rectW_, rectH_, kind == 0 ? foreground_ : kWhiteRgb);
            } else if (kind == 2 || kind == 3 || kind == 5) {
                PatternFill(kind);
            } else {
                Error("rectangle fill kind " + std::to_string(kind) + " is not decoded");
            }
        } else if (p == "&l" && t == 'A') {
            // A new page size ejects a page that holds marks.
        }
    }

    std::span<const uint8_t> in_;
    const Options& options_;
    Job& job_;
    size_t pos_ = 0;
    bool pjl_ = true;
    bool gl2_ = false;

    int32_t cursorX_ = 0, cursorY_ = 0;
    int32_t textX_ = -1;       // the cursor as printed text left it
    int32_t runX_ = 0, runY_ = 0;  // where the text run in print began
    double textXFine_ = 0;     // and to a fraction of a dot
    int32_t textY_ = -1;       // the same down the page (turned text)
    double textYFine_ = 0;
    int32_t topMarginLines_ = 0;
    double vmi48_ = 8.0;
    int32_t compression_ = 0;
    int32_t rasterWidth_ = 0;
    int32_t rasterHeight_ = 0;
    int32_t direction_ = 0;                // print direction ESC&a#P
    std::map<int32_t, int> levelBits_;     // palettes set up for levels (colour space 255)
    int32_t rectW_ = 0, rectH_ = 0;

    bool rasterOpen_ = false;
    int32_t rasterX_ = 0, rasterY_ = 0;
    std::vector<uint8_t> seed_;

    bool dirty_ = false;
    Page page_;
    bool colourTooLarge_ = false;

    // Colour and pattern state.
    std::map<int32_t, std::vector<uint32_t>> palettes_;
    int32_t activePalette_ = 0, paletteControl_ = 0;
    std::vector<std::vector<uint32_t>> paletteStack_;
    std::map<int32_t, int> encodings_;
    std::vector<int> encodingStack_;
    bool sourceOpaque_ = false;
    int32_t rop_ = 252;
    double destWidth_ = 0, destHeight_ = 0;  // decipoints of a scaled raster
    bool scaled_ = false;
    std::vector<std::vector<uint32_t>> scaledRows_;
    int32_t components_[3] = {0, 0, 0};
    std::map<int32_t, PclPattern> patterns_;
    int32_t patternId_ = 0, patternType_ = 0;
    uint32_t foreground_ = 0;
    bool patternOpaque_ = false;

    // The picture frame: anchor in dots, size in decipoints, plot size in
    // inches (0: defaults).
    int32_t frameX_ = 0, frameY_ = 0;
    long frameW_ = 0, frameH_ = 0;
    double plotW_ = 0, plotH_ = 0;
    GlReader gl_;
    SoftFonts softFonts_{[this](const std::string& e) { Error(e); }};
};

}  // namespace

Job Read(std::span<const uint8_t> bytes, const Options& options) {
    Job job;
    Reader(bytes, options, job).Run();
    return job;
}

}  // namespace pclread
