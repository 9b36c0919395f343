// Realised fonts (FONTOBJ): metrics, transforms, glyph bits and glyph paths
// from FreeType; device faces realised on the driver's own metrics.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <numbers>

#include "base/root.h"
#include "gdi/engine.h"
#include "gdi/font.h"

namespace zq::gdi {
namespace {

std::atomic<ULONG> nextUniq{1};

FT_Face F(void* p) { return static_cast<FT_Face>(p); }

// One FreeType library for the process: starting one loads every module, and
// a document realises a dozen fonts. Faces are opened and closed under its
// lock, as FreeType asks of a library shared between threads. Never closed:
// fonts may outlive any owner.
struct SharedLibrary {
    FT_Library library = nullptr;
    std::mutex lock;
};

SharedLibrary& Library() {
    static SharedLibrary* shared = [] {
        auto* s = new SharedLibrary;
        if (FT_Init_FreeType(&s->library)) s->library = nullptr;
        return s;
    }();
    return *shared;
}

}  // namespace

// Opening a face reads its tables; every size of a font file shares one.
// Fonts on different threads may share it: each loads its glyphs under the
// face's lock, with its own size and transform set first.
struct SharedFtFace {
    FT_Face face = nullptr;
    std::shared_ptr<FontFile> file;  // the bytes the face reads
    std::mutex lock;
    ~SharedFtFace() {
        std::lock_guard l(Library().lock);
        FT_Done_Face(face);
    }
};

namespace {

std::shared_ptr<SharedFtFace> OpenSharedFace(const FontFace& face) {
    SharedLibrary& shared = Library();
    if (!shared.library) return nullptr;
    static auto* open = new std::map<std::pair<const FontFile*, int>, std::weak_ptr<SharedFtFace>>;
    std::lock_guard lock(shared.lock);
    const auto key = std::make_pair(face.file.get(), face.index);
    if (auto it = open->find(key); it != open->end())
        if (auto s = it->second.lock()) return s;
    std::erase_if(*open, [](const auto& entry) { return entry.second.expired(); });
    auto bytes = face.file->Bytes();
    FT_Face ft = nullptr;
    if (FT_New_Memory_Face(shared.library, bytes.data(), static_cast<FT_Long>(bytes.size()), face.index, &ft))
        return nullptr;
    auto s = std::make_shared<SharedFtFace>();
    s->face = ft;
    s->file = face.file;
    (*open)[key] = s;
    return s;
}

// 26.6 (FreeType) to 28.4.
FIX Fx(FT_Pos v) { return static_cast<FIX>(v / 4); }

struct PathSink {
    Path* path;
    FT_Vector last;
};
POINTFIX Pt(const FT_Vector* v) { return {Fx(v->x), -Fx(v->y)}; }
int MoveTo(const FT_Vector* to, void* user) {
    auto* s = static_cast<PathSink*>(user);
    s->path->CloseFigure();
    s->path->MoveTo(Pt(to));
    s->last = *to;
    return 0;
}
int LineTo(const FT_Vector* to, void* user) {
    auto* s = static_cast<PathSink*>(user);
    s->path->LineTo(Pt(to));
    s->last = *to;
    return 0;
}
int ConicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
    auto* s = static_cast<PathSink*>(user);
    // A quadratic as a cubic: control points two thirds of the way.
    FT_Vector c1{s->last.x + 2 * (c->x - s->last.x) / 3, s->last.y + 2 * (c->y - s->last.y) / 3};
    FT_Vector c2{to->x + 2 * (c->x - to->x) / 3, to->y + 2 * (c->y - to->y) / 3};
    s->path->BezierTo(Pt(&c1), Pt(&c2), Pt(to));
    s->last = *to;
    return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* s = static_cast<PathSink*>(user);
    s->path->BezierTo(Pt(c1), Pt(c2), Pt(to));
    s->last = *to;
    return 0;
}

// What a font's glyphs are made from, as one line: FreeType's version, the
// font file as it is now (path, size, time, inode), the face, the size, the
// transform, bold simulation and what the advance is measured along; empty
// when the file cannot be named so.
std::string KeptGlyphsKey(const FontFile& file, int index, double em, const long matrix[4], bool bold, double glyphAngle,
                          double widthScale) {
    struct stat st {};
    if (file.Path().empty() || file.Path().find('\n') != std::string::npos || ::stat(file.Path().c_str(), &st) != 0)
        return {};
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(Library().library, &major, &minor, &patch);
    char numbers[400];
    std::snprintf(numbers, sizeof numbers, "ft %d.%d.%d|%lld|%lld.%09ld|%llu|%d|%a|%ld %ld %ld %ld|%d|%a|%a|", major, minor,
                  patch, static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec,
                  static_cast<unsigned long long>(st.st_ino), index, em, matrix[0], matrix[1], matrix[2], matrix[3],
                  bold ? 1 : 0, glyphAngle, widthScale);
    return numbers + file.Path();
}

}  // namespace

// This font's size and transform on the shared face; the caller holds its lock.
void EngineFont::Activate() const {
    FT_Activate_Size(static_cast<FT_Size>(ftSize_));
    FT_Matrix m{matrix_[0], matrix_[1], matrix_[2], matrix_[3]};
    FT_Set_Transform(F(ftFace_), &m, nullptr);
}

// A glyph's outline as FreeType loaded it (fitted, emboldened, turned),
// kept for rasterising a part of the glyph at a time.
struct GlyphOutline {
    std::vector<FT_Vector> points;
    std::vector<char> tags;
    std::vector<short> contours;
    int flags = 0;
    explicit GlyphOutline(const FT_Outline& o)
        : points(o.points, o.points + o.n_points),
          tags(o.tags, o.tags + o.n_points),
          contours(o.contours, o.contours + o.n_contours),
          flags(o.flags) {}
    FT_Outline View() {
        FT_Outline o{};
        o.n_points = static_cast<short>(points.size());
        o.n_contours = static_cast<short>(contours.size());
        o.points = points.data();
        o.tags = tags.data();
        o.contours = contours.data();
        o.flags = flags;
        return o;
    }
};

struct EngineFont::Glyph_ {
    GLYPHDATA data{};
    std::vector<uint64_t> bits;  // GLYPHBITS storage, 8-byte aligned
    std::unique_ptr<Path> path;  // made when first asked for
    bool pathTried = false;
    bool bitsMade = false;
    // A glyph too large to keep bits for at once: where its bits lie from its
    // origin (device pixels, y down), and its outline, from which the part
    // asked for is rasterised (the whole when a driver asks for the bits).
    RECTL box{};
    std::unique_ptr<GlyphOutline> outline;
};

namespace {

// Glyphs of up to this many pixels keep their whole bits, made once; a larger
// one (a font of hundreds of pixels an em and up) is rasterised only where it
// is drawn, so a glyph far larger than the surface costs what lands on it.
constexpr uint64_t kWholeGlyphPixels = 1u << 16;

// The pixels FreeType's 1-bit rendering of an outline covers (FreeType's
// axes, y up): each edge of the control box rounded so that a pixel whose
// centre the box takes in is covered, and an axis that rounds to nothing
// kept one pixel, on the side its rounding leant to. This is where
// FT_Render_Glyph places the bitmap, so a part rasterised alone lands where
// the whole would have; false where FreeType would not render it at all.
bool MonoPixelBox(const FT_Outline& outline, FT_BBox* px) {
    FT_BBox c;
    FT_Outline_Get_CBox(&outline, &c);
    auto axis = [](FT_Pos lo, FT_Pos hi, FT_Pos* min, FT_Pos* max) {
        *min = (lo + 31) >> 6;
        *max = (hi + 32) >> 6;
        if (*min == *max) {
            if (((lo + 31) & 63) - 31 + ((hi + 32) & 63) - 32 < 0) --*min;
            else ++*max;
        }
    };
    axis(c.xMin, c.xMax, &px->xMin, &px->xMax);
    axis(c.yMin, c.yMax, &px->yMin, &px->yMax);
    return px->xMin >= -0x8000 && px->xMax <= 0x7FFF && px->yMin >= -0x8000 && px->yMax <= 0x7FFF;
}

}  // namespace

std::unique_ptr<EngineFont> EngineFont::Create(const FontFace& face, double emPixels, int weight, bool italic,
                                               SIZE resolution, double angle, double widthScale,
                                               std::optional<double> glyphAngle) {
    if (!face.file || !(emPixels > 0) || emPixels > 16384) return nullptr;
    if (!std::isfinite(widthScale) || widthScale <= 0) widthScale = 1;
    widthScale = std::clamp(widthScale, 1.0 / 64, 64.0);
    std::unique_ptr<EngineFont> f(new EngineFont());
    f->face_ = face;
    f->em_ = emPixels;
    f->shared_ = OpenSharedFace(face);
    if (!f->shared_) return nullptr;
    FT_Face ft = f->shared_->face;
    f->ftFace_ = ft;
    std::lock_guard faceLock(f->shared_->lock);
    if (!FT_IS_SCALABLE(ft) || ft->units_per_EM == 0) return nullptr;
    FT_Size size = nullptr;
    if (FT_New_Size(ft, &size)) return nullptr;
    f->ftSize_ = size;
    FT_Activate_Size(size);
    FT_Set_Char_Size(ft, 0, static_cast<FT_F26Dot6>(std::lround(emPixels * 64)), 72, 72);

    f->iUniq = nextUniq++;
    f->iFace = 1;
    f->flFontType = FO_TYPE_TRUETYPE;
    if (weight >= 600 && face.weight < 600) f->flFontType |= FO_SIM_BOLD;
    if (italic && !face.italic) f->flFontType |= FO_SIM_ITALIC;
    f->iTTUniq = reinterpret_cast<ULONG_PTR>(face.file.get()) ^ static_cast<ULONG_PTR>(face.index);
    f->iFile = reinterpret_cast<ULONG_PTR>(face.file.get());
    f->sizLogResPpi = resolution;
    f->ulStyleSize = 0;
    f->pvConsumer = nullptr;
    f->pvProducer = nullptr;
    // A width other than the face's own scales x first, simulated italic
    // shears the glyphs (about 11 degrees), and a turned baseline turns them
    // after that.
    f->widthScale_ = widthScale;
    double m[4] = {widthScale, (f->flFontType & FO_SIM_ITALIC) ? 0.2 * widthScale : 0, 0, 1};
    if (std::isfinite(angle) && std::fmod(angle, 360.0) != 0) f->angle_ = std::fmod(angle, 360.0);
    const double turn = glyphAngle ? *glyphAngle : angle;
    if (std::isfinite(turn) && std::fmod(turn, 360.0) != 0) {
        f->glyphAngle_ = std::fmod(turn, 360.0);
        double c = std::cos(f->glyphAngle_ * std::numbers::pi / 180), s = std::sin(f->glyphAngle_ * std::numbers::pi / 180);
        // Rotation (c -s; s c) times the shear, in FreeType's y-up axes.
        double r[4] = {c * m[0] - s * m[2], c * m[1] - s * m[3], s * m[0] + c * m[2], s * m[1] + c * m[3]};
        std::copy(r, r + 4, m);
    }
    if (m[0] != 1 || m[1] != 0 || m[2] != 0 || m[3] != 1) {
        auto fx = [](double v) { return static_cast<FT_Fixed>(std::lround(v * 0x10000)); };
        f->matrix_[0] = fx(m[0]);
        f->matrix_[1] = fx(m[1]);
        f->matrix_[2] = fx(m[2]);
        f->matrix_[3] = fx(m[3]);
    }
    double scale = emPixels / ft->units_per_EM;
    // Notional units to device pixels (y down), turned with the glyphs: a
    // driver that draws the glyphs itself sees the turn here.
    const double turnRad = f->glyphAngle_ * std::numbers::pi / 180;
    const double tc = f->glyphAngle_ ? std::cos(turnRad) : 1, ts = f->glyphAngle_ ? std::sin(turnRad) : 0;
    auto fl = [](double v) { return static_cast<FLOATL>(std::fabs(v) < 1e-12 ? 0 : v); };
    f->xform_ = Xform(XFORML{fl(scale * widthScale * tc), fl(-scale * widthScale * ts), fl(scale * ts), fl(scale * tc), 0, 0});
    f->ifi_ = BuildIfiMetrics(face, ft);
    auto* ifi = reinterpret_cast<IFIMETRICS*>(f->ifi_.data());
    f->ascent_ = static_cast<LONG>(std::lround(static_cast<USHORT>(ifi->fwdWinAscender) * scale));
    f->descent_ = static_cast<LONG>(std::lround(static_cast<USHORT>(ifi->fwdWinDescender) * scale));
    LONG gap = ifi->fwdMacLineGap;
    LONG extra = ifi->fwdMacAscender - ifi->fwdMacDescender + gap -
                 (static_cast<USHORT>(ifi->fwdWinAscender) + static_cast<USHORT>(ifi->fwdWinDescender));
    f->leading_ = std::max<LONG>(0, static_cast<LONG>(std::lround(extra * scale)));
    f->avgWidth_ = static_cast<LONG>(std::lround(ifi->fwdAveCharWidth * scale * widthScale));
    f->cxMax = static_cast<ULONG>(std::lround(ifi->fwdMaxCharInc * scale * widthScale)) + 1;
    f->keptKey_ = KeptGlyphsKey(*f->face_.file, f->face_.index, emPixels, f->matrix_, f->flFontType & FO_SIM_BOLD,
                                f->glyphAngle_, f->widthScale_);
    if (!f->keptKey_.empty()) {
        const std::filesystem::path root = ExistingSystemRoot();
        if (!root.empty()) {
            uint64_t hash = 14695981039346656037ull;  // FNV-1a
            for (unsigned char c : f->keptKey_) hash = (hash ^ c) * 1099511628211ull;
            char name[32];
            std::snprintf(name, sizeof name, "%016" PRIx64 ".glyphs", hash);
            f->keptFile_ = (root / "glyphs" / name).string();
        }
    }
    return f;
}

std::unique_ptr<EngineFont> EngineFont::CreateDevice(Device& device, std::shared_ptr<const DeviceFace> face,
                                                     double emPixels, int weight, bool italic, SIZE resolution,
                                                     double angle) {
    if (!face || !(emPixels > 0) || emPixels > 16384) return nullptr;
    const IFIMETRICS& ifi = face->Ifi();
    if (ifi.fwdUnitsPerEm <= 0) return nullptr;
    std::unique_ptr<EngineFont> f(new EngineFont());
    f->device_ = &device;
    f->deviceFace_ = face;
    f->em_ = emPixels;
    f->face_.family.assign(face->family.begin(), face->family.end());
    f->face_.weight = ifi.usWinWeight;
    f->face_.italic = (ifi.fsSelection & FM_SEL_ITALIC) != 0;
    f->iUniq = nextUniq++;
    f->iFace = face->index;
    f->flFontType = FO_TYPE_DEVICE;
    // Bold and italic the face lacks are simulated where its FONTSIM offers them.
    const BYTE* base = reinterpret_cast<const BYTE*>(&ifi);
    if (ifi.dpFontSim > 0 && static_cast<ULONG>(ifi.dpFontSim) + sizeof(FONTSIM) <= ifi.cjThis) {
        FONTSIM sim;
        std::memcpy(&sim, base + ifi.dpFontSim, sizeof sim);
        if (weight >= 600 && ifi.usWinWeight < 600 && sim.dpBold) f->flFontType |= FO_SIM_BOLD;
        if (italic && !f->face_.italic && sim.dpItalic) f->flFontType |= FO_SIM_ITALIC;
    }
    f->iTTUniq = 0;
    f->iFile = 0;
    f->sizLogResPpi = resolution;
    double scale = emPixels / ifi.fwdUnitsPerEm;
    // A turned face: its transform turns as a TrueType font's does (notional
    // units to device pixels, y down), which is how its driver learns the
    // print direction.
    if (std::isfinite(angle) && std::fmod(angle, 360.0) != 0) f->angle_ = f->glyphAngle_ = std::fmod(angle, 360.0);
    const double turn = f->angle_ * std::numbers::pi / 180;
    const double tc = f->angle_ ? std::cos(turn) : 1, ts = f->angle_ ? std::sin(turn) : 0;
    auto fl = [](double v) { return static_cast<FLOATL>(std::fabs(v) < 1e-12 ? 0 : v); };
    f->xform_ = Xform(XFORML{fl(scale * tc), fl(-scale * ts), fl(scale * ts), fl(scale * tc), 0, 0});
    f->ifi_.assign(base, base + ifi.cjThis);
    f->ascent_ = static_cast<LONG>(std::lround(static_cast<USHORT>(ifi.fwdWinAscender) * scale));
    f->descent_ = static_cast<LONG>(std::lround(static_cast<USHORT>(ifi.fwdWinDescender) * scale));
    f->leading_ = std::max<LONG>(0, static_cast<LONG>(std::lround(ifi.fwdMacLineGap * scale)));
    f->avgWidth_ = static_cast<LONG>(std::lround(ifi.fwdAveCharWidth * scale));
    f->cxMax = static_cast<ULONG>(std::lround(ifi.fwdMaxCharInc * scale)) + 1;
    // The driver's own extents of the realised font, where it answers.
    if (auto query = device.Drv().Get<PFN_DrvQueryFontData>(INDEX_DrvQueryFontData)) {
        FD_DEVICEMETRICS dm{};
        if (query(device.Pdev(), f.get(), QFD_MAXEXTENTS, HGLYPH_INVALID, nullptr, &dm, sizeof dm) > 0 && dm.cxMax)
            f->cxMax = dm.cxMax;
    }
    return f;
}

void EngineFont::QueryAdvances(const std::vector<HGLYPH>& glyphs) {
    if (!deviceFace_) return;
    std::vector<HGLYPH> missing;
    for (HGLYPH g : glyphs)
        if (!deviceAdvances_.count(g) && std::find(missing.begin(), missing.end(), g) == missing.end())
            missing.push_back(g);
    if (missing.empty()) return;
    std::vector<USHORT> widths(missing.size(), 0);
    auto query = device_->Drv().Get<PFN_DrvQueryAdvanceWidths>(INDEX_DrvQueryAdvanceWidths);
    bool ok = query && query(device_->Pdev(), this, QAW_GETWIDTHS, missing.data(), widths.data(),
                             static_cast<ULONG>(missing.size()));
    // Without the driver's widths every glyph advances by the average width.
    for (size_t i = 0; i < missing.size(); ++i)
        deviceAdvances_[missing[i]] = ok ? FIX(widths[i]) : LTOFX(avgWidth_);
}

EngineFont::~EngineFont() {
    if (rendered_) WriteKeptGlyphs();
    if (ftSize_) {
        std::lock_guard lock(shared_->lock);
        FT_Done_Size(static_cast<FT_Size>(ftSize_));
    }
}

IFIMETRICS* EngineFont::Ifi() { return reinterpret_cast<IFIMETRICS*>(ifi_.data()); }

HGLYPH EngineFont::GlyphOf(char32_t ch) const {
    if (deviceFace_) {
        const auto& glyphs = deviceFace_->glyphs;
        auto it = ch <= 0xFFFF ? glyphs.find(static_cast<char16_t>(ch)) : glyphs.end();
        if (it == glyphs.end()) it = glyphs.find(reinterpret_cast<const IFIMETRICS*>(ifi_.data())->wcDefaultChar);
        return it == glyphs.end() ? 0 : it->second;
    }
    std::lock_guard lock(shared_->lock);
    return FT_Get_Char_Index(F(ftFace_), ch);
}

char16_t EngineFont::MapBack(HGLYPH hg) {
    if (reverse_.empty() && deviceFace_) {
        for (auto [c, g] : deviceFace_->glyphs) reverse_.emplace(g, c);
    } else if (reverse_.empty()) {
        std::lock_guard lock(shared_->lock);
        FT_UInt gi;
        FT_ULong c = FT_Get_First_Char(F(ftFace_), &gi);
        while (gi != 0) {
            if (c < 0x10000 && !reverse_.count(gi)) reverse_[gi] = static_cast<char16_t>(c);
            c = FT_Get_Next_Char(F(ftFace_), c, &gi);
        }
    }
    auto it = reverse_.find(hg);
    return it == reverse_.end() ? 0 : it->second;
}

FIX EngineFont::SlotAdvance() const {
    FT_GlyphSlot slot = F(ftFace_)->glyph;
    // The advance along the baseline: a turned glyph's own advance is turned too.
    FT_Pos along = glyphAngle_ != 0 ? static_cast<FT_Pos>((slot->linearHoriAdvance >> 10) * widthScale_) : slot->advance.x;
    FT_Pos advance = along + ((flFontType & FO_SIM_BOLD) ? static_cast<FT_Pos>(em_ * 64 / 24) : 0);
    return Fx((advance + 32) & ~63);
}

constexpr HGLYPH kDirectGlyphs = 4096;  // handles below this are also found by index

EngineFont::Glyph_* EngineFont::Keep(HGLYPH hg, std::unique_ptr<Glyph_> g) {
    auto* raw = g.get();
    glyphs_[hg] = std::move(g);
    if (hg < kDirectGlyphs) {
        if (loaded_.size() <= hg) loaded_.resize(hg + 1, nullptr);
        loaded_[hg] = raw;
    }
    return raw;
}

EngineFont::Glyph_* EngineFont::Load(HGLYPH hg) {
    if (hg < loaded_.size() && loaded_[hg]) return loaded_[hg];
    auto it = glyphs_.find(hg);
    if (it != glyphs_.end()) return it->second.get();
    FT_Face ft = F(ftFace_);
    if (hg >= static_cast<HGLYPH>(ft->num_glyphs)) return nullptr;
    if (!keptRead_) ReadKeptGlyphs();
    if (auto kept = keptGlyphs_.find(hg); kept != keptGlyphs_.end()) {
        auto g = std::move(kept->second);
        keptGlyphs_.erase(kept);
        return Keep(hg, std::move(g));
    }
    std::lock_guard lock(shared_->lock);
    Activate();
    if (FT_Load_Glyph(ft, hg, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO)) return nullptr;
    FT_GlyphSlot slot = ft->glyph;
    if (flFontType & FO_SIM_BOLD) FT_Outline_EmboldenXY(&slot->outline, static_cast<FT_Pos>(em_ * 64 / 24), 0);
    auto g = std::make_unique<Glyph_>();
    g->data.hg = hg;
    g->data.fxD = SlotAdvance();
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    g->data.fxA = Fx(box.xMin);
    g->data.fxAB = Fx(box.xMax);
    g->data.fxInkTop = -Fx(box.yMax);
    g->data.fxInkBottom = -Fx(box.yMin);
    g->data.ptqD.x.HighPart = g->data.fxD;
    FT_BBox px;
    if (MonoPixelBox(slot->outline, &px) &&
        static_cast<uint64_t>(px.xMax - px.xMin) * static_cast<uint64_t>(px.yMax - px.yMin) > kWholeGlyphPixels) {
        // Too large to rasterise whole ahead of need: kept as its outline.
        g->box = {static_cast<LONG>(px.xMin), static_cast<LONG>(-px.yMax), static_cast<LONG>(px.xMax),
                  static_cast<LONG>(-px.yMin)};
        g->data.rclInk = g->box;
        g->outline = std::make_unique<GlyphOutline>(slot->outline);
        return Keep(hg, std::move(g));
    }
    // Glyph bits: FreeType's own 1-bit rendering.
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) == 0) {
        const FT_Bitmap& bm = slot->bitmap;
        LONG w = static_cast<LONG>(bm.width), h = static_cast<LONG>(bm.rows);
        bool blank = w == 0 || h == 0;
        if (blank) w = h = 1;
        size_t rowBytes = static_cast<size_t>(w + 7) / 8;
        size_t size = offsetof(GLYPHBITS, aj) + rowBytes * static_cast<size_t>(h);
        g->bits.assign((size + 7) / 8, 0);
        auto* gb = reinterpret_cast<GLYPHBITS*>(g->bits.data());
        gb->ptlOrigin = blank ? POINTL{0, 0} : POINTL{slot->bitmap_left, -slot->bitmap_top};
        gb->sizlBitmap = {w, h};
        if (!blank)
            for (LONG y = 0; y < h; ++y)
                std::memcpy(gb->aj + rowBytes * y, bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch, rowBytes);
        g->data.rclInk = {gb->ptlOrigin.x, gb->ptlOrigin.y, gb->ptlOrigin.x + w, gb->ptlOrigin.y + h};
        g->bitsMade = true;
    }
    ++rendered_;
    return Keep(hg, std::move(g));
}

// `part` (from the glyph's origin, inside its box) of a large glyph's bits,
// rasterised from its outline into `store` as GLYPHBITS: the outline is moved
// by whole pixels so that the part's top-left pixel is the target's, which
// gives each pixel exactly as the whole bitmap has it. Null where FreeType
// cannot rasterise it.
const GLYPHBITS* EngineFont::RenderPart(Glyph_& g, const RECTL& part, std::vector<uint64_t>& store) const {
    const LONG w = part.right - part.left, h = part.bottom - part.top;
    if (w <= 0 || h <= 0) return nullptr;
    const size_t rowBytes = static_cast<size_t>(w + 7) / 8;
    const size_t size = offsetof(GLYPHBITS, aj) + rowBytes * static_cast<size_t>(h);
    store.assign((size + 7) / 8, 0);
    auto* gb = reinterpret_cast<GLYPHBITS*>(store.data());
    gb->ptlOrigin = {part.left, part.top};
    gb->sizlBitmap = {w, h};
    FT_Bitmap target{};
    target.rows = static_cast<unsigned>(h);
    target.width = static_cast<unsigned>(w);
    target.pitch = static_cast<int>(rowBytes);
    target.buffer = gb->aj;
    target.pixel_mode = FT_PIXEL_MODE_MONO;
    target.num_grays = 2;
    // The outline is shared by every user of the font: moved and moved back
    // under the face's lock.
    std::lock_guard lock(shared_->lock);
    FT_Outline outline = g.outline->View();
    const FT_Pos dx = -FT_Pos{part.left} * 64, dy = FT_Pos{part.bottom} * 64;
    FT_Outline_Translate(&outline, dx, dy);
    const FT_Error error = FT_Outline_Get_Bitmap(Library().library, &outline, &target);
    FT_Outline_Translate(&outline, -dx, -dy);
    if (error) {
        store.clear();
        return nullptr;
    }
    return gb;
}

bool EngineFont::BitsBox(HGLYPH hg, RECTL* box) {
    if (deviceFace_) return false;
    Glyph_* g = Load(hg);
    if (!g) return false;
    if (g->bitsMade) {
        const auto* gb = reinterpret_cast<const GLYPHBITS*>(g->bits.data());
        *box = {gb->ptlOrigin.x, gb->ptlOrigin.y, gb->ptlOrigin.x + gb->sizlBitmap.cx,
                gb->ptlOrigin.y + gb->sizlBitmap.cy};
        return true;
    }
    if (!g->outline) return false;
    *box = g->box;
    return true;
}

const GLYPHBITS* EngineFont::BitsCovering(HGLYPH hg, const RECTL& part, std::vector<uint64_t>& store) {
    if (deviceFace_) return nullptr;
    Glyph_* g = Load(hg);
    if (!g) return nullptr;
    if (g->bitsMade) return reinterpret_cast<const GLYPHBITS*>(g->bits.data());
    if (!g->outline) return nullptr;
    const RECTL within{std::max(part.left, g->box.left), std::max(part.top, g->box.top),
                       std::min(part.right, g->box.right), std::min(part.bottom, g->box.bottom)};
    return RenderPart(*g, within, store);
}

// The file of kept glyphs: a first line naming what they were made from
// (a file that names anything else is not this font's), then per glyph its
// handle, metrics (28.4) and, when it has bits, the GLYPHBITS storage.
namespace {
constexpr char kKeptGlyphsHeader[] = "zq glyphs 1";
constexpr size_t kMaxKeptFonts = 256;          // files in the folder
constexpr size_t kMaxKeptBytes = 4u << 20;     // glyph bits in one file
struct KeptGlyphHead {
    uint32_t hg;
    int32_t fxD, fxA, fxAB, inkTop, inkBottom;
    uint32_t bitsWords;  // 0: FreeType gave no bits
};
}  // namespace

void EngineFont::ReadKeptGlyphs() {
    keptRead_ = true;
    if (keptFile_.empty()) return;
    std::ifstream in(keptFile_, std::ios::binary);
    std::string header, key;
    if (!std::getline(in, header) || header != kKeptGlyphsHeader || !std::getline(in, key) || key != keptKey_) return;
    const FT_Long glyphs = F(ftFace_)->num_glyphs;
    std::map<HGLYPH, std::unique_ptr<Glyph_>> read;
    KeptGlyphHead head;
    while (in.read(reinterpret_cast<char*>(&head), sizeof head)) {
        if (head.hg >= static_cast<uint32_t>(glyphs) || head.bitsWords > (64u << 20) / 8) return;
        auto g = std::make_unique<Glyph_>();
        g->data.hg = head.hg;
        g->data.fxD = head.fxD;
        g->data.fxA = head.fxA;
        g->data.fxAB = head.fxAB;
        g->data.fxInkTop = head.inkTop;
        g->data.fxInkBottom = head.inkBottom;
        g->data.ptqD.x.HighPart = head.fxD;
        if (head.bitsWords) {
            g->bits.resize(head.bitsWords);
            if (!in.read(reinterpret_cast<char*>(g->bits.data()), static_cast<std::streamsize>(head.bitsWords * 8))) return;
            const auto* gb = reinterpret_cast<const GLYPHBITS*>(g->bits.data());
            const LONG w = gb->sizlBitmap.cx, h = gb->sizlBitmap.cy;
            if (head.bitsWords * 8 < offsetof(GLYPHBITS, aj) || w < 1 || h < 1 ||
                offsetof(GLYPHBITS, aj) + (static_cast<size_t>(w) + 7) / 8 * static_cast<size_t>(h) > head.bitsWords * 8)
                return;
            g->data.rclInk = {gb->ptlOrigin.x, gb->ptlOrigin.y, gb->ptlOrigin.x + w, gb->ptlOrigin.y + h};
            g->bitsMade = true;
        }
        read[head.hg] = std::move(g);
    }
    if (!in.eof()) return;
    keptGlyphs_ = std::move(read);
}

// Written whole under a name of this process and moved over the old file,
// with every glyph this font holds: a reader sees either file, never half.
void EngineFont::WriteKeptGlyphs() const {
    if (keptFile_.empty()) return;
    size_t bytes = 0;
    for (const auto* held : {&glyphs_, &keptGlyphs_})
        for (const auto& [hg, g] : *held) bytes += g->bits.size() * 8;
    if (bytes > kMaxKeptBytes) return;  // a font of huge glyphs is not kept: the folder stays small
    const std::filesystem::path file(keptFile_);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // Bounded: a server printing ever new sizes starts the folder afresh.
    size_t files = 0;
    for (auto it = std::filesystem::directory_iterator(file.parent_path(), ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++files;
    if (files >= kMaxKeptFonts)
        for (auto it = std::filesystem::directory_iterator(file.parent_path(), ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            std::error_code gone;
            std::filesystem::remove(it->path(), gone);
        }
    const std::filesystem::path temp = file.string() + "." + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << kKeptGlyphsHeader << '\n' << keptKey_ << '\n';
        auto put = [&](HGLYPH hg, const Glyph_& g) {
            // A large glyph whose bits were never made whole is not kept:
            // a reader would take it for one without bits.
            if (!g.bitsMade && g.outline) return;
            const KeptGlyphHead head{hg,
                                     g.data.fxD,
                                     g.data.fxA,
                                     g.data.fxAB,
                                     g.data.fxInkTop,
                                     g.data.fxInkBottom,
                                     g.bitsMade ? static_cast<uint32_t>(g.bits.size()) : 0u};
            out.write(reinterpret_cast<const char*>(&head), sizeof head);
            if (g.bitsMade) out.write(reinterpret_cast<const char*>(g.bits.data()), static_cast<std::streamsize>(g.bits.size() * 8));
        };
        for (const auto& [hg, g] : glyphs_) put(hg, *g);
        for (const auto& [hg, g] : keptGlyphs_) put(hg, *g);
        if (!out.flush()) {
            out.close();
            std::filesystem::remove(temp, ec);
            return;
        }
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) std::filesystem::remove(temp, ec);
}

void EngineFont::LoadPath(HGLYPH hg, Glyph_& g) {
    g.pathTried = true;
    // The outline loaded again (rendering consumed the slot), when a driver
    // first asks for it: the one the bits were made from, fitted to this
    // size's pixels, so a device filling it inks what the bits ink.
    FT_Face ft = F(ftFace_);
    std::lock_guard lock(shared_->lock);
    Activate();
    if (FT_Load_Glyph(ft, hg, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return;
    if (flFontType & FO_SIM_BOLD) FT_Outline_EmboldenXY(&ft->glyph->outline, static_cast<FT_Pos>(em_ * 64 / 24), 0);
    g.path = std::make_unique<Path>();
    PathSink sink{g.path.get(), {0, 0}};
    FT_Outline_Funcs funcs{MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
    FT_Outline_Decompose(&ft->glyph->outline, &funcs, &sink);
    g.path->CloseFigure();
}

GLYPHDATA* EngineFont::Glyph(HGLYPH hg, ULONG mode) {
    if (deviceFace_) {
        // The printer draws device glyphs: the driver gives their metrics
        // (DrvQueryFontData) but neither bits nor outlines.
        if (mode != FO_GLYPHBITS) return nullptr;
        auto it = glyphs_.find(hg);
        if (it == glyphs_.end()) {
            auto query = device_->Drv().Get<PFN_DrvQueryFontData>(INDEX_DrvQueryFontData);
            auto g = std::make_unique<Glyph_>();
            if (!query || query(device_->Pdev(), this, QFD_GLYPHANDBITMAP, hg, &g->data, nullptr, 0) < 0)
                return nullptr;
            g->data.hg = hg;
            g->data.gdf.pgb = nullptr;
            it = glyphs_.emplace(hg, std::move(g)).first;
        }
        return &it->second->data;
    }
    Glyph_* g = Load(hg);
    if (!g) return nullptr;
    if (mode == FO_GLYPHBITS) {
        // A driver takes a large glyph's bits whole: made now, and kept.
        if (!g->bitsMade && g->outline && RenderPart(*g, g->box, g->bits)) {
            g->bitsMade = true;
            ++rendered_;
        }
        if (!g->bitsMade) return nullptr;
        g->data.gdf.pgb = reinterpret_cast<GLYPHBITS*>(g->bits.data());
    } else if (mode == FO_PATHOBJ) {
        if (!g->pathTried) LoadPath(hg, *g);
        if (!g->path) return nullptr;
        g->data.gdf.ppo = g->path.get();
    } else {
        g->data.gdf.pgb = nullptr;
    }
    return &g->data;
}

FIX EngineFont::Advance(HGLYPH hg) {
    if (deviceFace_) {
        QueryAdvances({hg});
        return deviceAdvances_[hg];
    }
    // Measuring text needs no glyph bits or outline: a glyph drawn later is
    // loaded whole then.
    if (hg < loaded_.size() && loaded_[hg]) return loaded_[hg]->data.fxD;
    if (auto it = glyphs_.find(hg); it != glyphs_.end()) return it->second->data.fxD;
    if (auto it = advances_.find(hg); it != advances_.end()) return it->second;
    FT_Face ft = F(ftFace_);
    if (hg >= static_cast<HGLYPH>(ft->num_glyphs)) return 0;
    if (!keptRead_) ReadKeptGlyphs();
    if (auto kept = keptGlyphs_.find(hg); kept != keptGlyphs_.end()) return kept->second->data.fxD;
    std::lock_guard lock(shared_->lock);
    Activate();
    if (FT_Load_Glyph(ft, hg, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO)) return 0;
    return advances_[hg] = SlotAdvance();
}

// Engine fonts are the only FONTOBJs the engine hands out; a driver's own
// FONTOBJ never reaches these services.
EngineFont* FontFromObject(FONTOBJ* pfo) { return static_cast<EngineFont*>(pfo); }

}  // namespace zq::gdi

using zq::gdi::FontFromObject;

namespace {
constexpr FLONG kEngineFontTypes = FO_TYPE_TRUETYPE | FO_TYPE_DEVICE;
}

extern "C" IFIMETRICS* FONTOBJ_pifi(FONTOBJ* pfo) {
    return pfo && (pfo->flFontType & kEngineFontTypes) ? FontFromObject(pfo)->Ifi() : nullptr;
}

extern "C" XFORMOBJ* FONTOBJ_pxoGetXform(FONTOBJ* pfo) {
    return pfo && (pfo->flFontType & kEngineFontTypes) ? FontFromObject(pfo)->Transform() : nullptr;
}

extern "C" ULONG FONTOBJ_cGetGlyphs(FONTOBJ* pfo, ULONG iMode, ULONG cGlyph, HGLYPH* phg, PVOID* ppvGlyph) {
    // One glyph a call, as drivers ask for them. A device glyph comes with
    // its metrics and no bits.
    if (!pfo || !(pfo->flFontType & kEngineFontTypes) || cGlyph < 1 || !phg || !ppvGlyph) return 0;
    if (iMode != FO_GLYPHBITS && iMode != FO_PATHOBJ) return 0;
    GLYPHDATA* gd = FontFromObject(pfo)->Glyph(phg[0], iMode);
    if (!gd) return 0;
    *ppvGlyph = gd;
    return 1;
}

extern "C" PVOID FONTOBJ_pvTrueTypeFontFile(FONTOBJ* pfo, ULONG* pcjFile) {
    if (pcjFile) *pcjFile = 0;
    if (!pfo || !(pfo->flFontType & FO_TYPE_TRUETYPE)) return nullptr;
    auto bytes = FontFromObject(pfo)->Face().file->Bytes();
    if (pcjFile) *pcjFile = static_cast<ULONG>(bytes.size());
    return const_cast<uint8_t*>(bytes.data());
}
