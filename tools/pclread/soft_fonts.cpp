// Soft fonts of a PCL 5 job: headers, characters, symbol sets and drawing.
#include "pclread/soft_fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pclread {

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] << 8 | b[at + 1]) : 0;
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return at + 4 <= b.size() ? uint32_t{U16(b, at)} << 16 | U16(b, at + 2) : 0;
}
void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x >> 16);
    Put16(v, x & 0xFFFF);
}
uint32_t Tag(const char* t) {
    return uint32_t{static_cast<uint8_t>(t[0])} << 24 | uint32_t{static_cast<uint8_t>(t[1])} << 16 |
           uint32_t{static_cast<uint8_t>(t[2])} << 8 | static_cast<uint8_t>(t[3]);
}

}  // namespace

std::vector<uint8_t> SoftFont::Rebuild() const {
    std::span<const uint8_t> gt(globals);
    const uint16_t n = U16(gt, 4);
    if (gt.size() < 12 + size_t{16} * n) return {};
    std::map<uint32_t, std::vector<uint8_t>> tables;
    for (uint16_t i = 0; i < n; ++i) {
        const size_t e = 12 + size_t{16} * i;
        const uint32_t tag = U32(gt, e), offset = U32(gt, e + 8), length = U32(gt, e + 12);
        if (tag == Tag("gdir")) continue;
        if (offset > gt.size() || gt.size() - offset < length) return {};
        tables[tag].assign(gt.begin() + offset, gt.begin() + offset + length);
    }
    if (!tables.count(Tag("head")) || tables[Tag("head")].size() < 54 || !tables.count(Tag("maxp"))) return {};
    tables[Tag("head")][50] = 0;
    tables[Tag("head")][51] = 1;  // long "loca" offsets
    const uint16_t count = U16(tables[Tag("maxp")], 4);
    std::vector<uint8_t> glyf, loca;
    for (uint32_t g = 0; g < count; ++g) {
        Put32(loca, static_cast<uint32_t>(glyf.size()));
        if (auto it = glyphs.find(static_cast<uint16_t>(g)); it != glyphs.end()) {
            glyf.insert(glyf.end(), it->second.begin(), it->second.end());
            glyf.resize((glyf.size() + 3) & ~size_t{3}, 0);
        }
    }
    Put32(loca, static_cast<uint32_t>(glyf.size()));
    tables[Tag("glyf")] = std::move(glyf);
    tables[Tag("loca")] = std::move(loca);
    std::vector<uint8_t> out;
    Put32(out, 0x00010000);
    Put16(out, static_cast<uint32_t>(tables.size()));
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    uint32_t offset = 12 + 16 * static_cast<uint32_t>(tables.size());
    for (auto& [tag, bytes] : tables) {
        Put32(out, tag);
        Put32(out, 0);
        Put32(out, offset);
        Put32(out, static_cast<uint32_t>(bytes.size()));
        offset += (static_cast<uint32_t>(bytes.size()) + 3) & ~3u;
    }
    for (auto& [tag, bytes] : tables) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.resize((out.size() + 3) & ~size_t{3}, 0);
    }
    return out;
}

struct GlyphPainter::Faces {
    FT_Library library = nullptr;
    struct Face {
        std::vector<uint8_t> bytes;
        FT_Face face = nullptr;
    };
    std::map<uint32_t, Face> byFont;
    ~Faces() {
        for (auto& [id, f] : byFont)
            if (f.face) FT_Done_Face(f.face);
        if (library) FT_Done_FreeType(library);
    }
};

GlyphPainter::GlyphPainter() = default;
GlyphPainter::~GlyphPainter() = default;

void GlyphPainter::Forget(uint32_t key) {
    if (!faces_) return;
    if (auto it = faces_->byFont.find(key); it != faces_->byFont.end()) {
        if (it->second.face) FT_Done_Face(it->second.face);
        faces_->byFont.erase(it);
    }
}

void GlyphPainter::Clear() { faces_.reset(); }

std::string GlyphPainter::Draw(uint32_t key, const SoftFont& font, uint16_t glyph, double em, int32_t x, int32_t y,
                               const PixelFn& pixel, double angle) {
    if (!faces_) faces_ = std::make_unique<Faces>();
    if (!faces_->library && FT_Init_FreeType(&faces_->library)) return "FreeType unavailable";
    Faces::Face& face = faces_->byFont[key];
    if (!face.face) {
        face.bytes = font.Rebuild();
        if (face.bytes.empty() ||
            FT_New_Memory_Face(faces_->library, face.bytes.data(), static_cast<FT_Long>(face.bytes.size()), 0, &face.face)) {
            face.face = nullptr;
            return "TrueType font " + std::to_string(key) + " cannot be rebuilt";
        }
    }
    if (!(em > 0 && em < 20000)) return "character size " + std::to_string(em);
    FT_Set_Char_Size(face.face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
    // FreeType turns counterclockwise with y up, as the character angle
    // turns the glyphs on the page.
    const double r = -angle * 3.14159265358979323846 / 180;
    FT_Matrix turn{static_cast<FT_Fixed>(std::lround(std::cos(r) * 65536)), static_cast<FT_Fixed>(std::lround(std::sin(r) * 65536)),
                   static_cast<FT_Fixed>(std::lround(-std::sin(r) * 65536)), static_cast<FT_Fixed>(std::lround(std::cos(r) * 65536))};
    FT_Set_Transform(face.face, angle != 0 ? &turn : nullptr, nullptr);
    if (FT_Load_Glyph(face.face, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO | (angle != 0 ? FT_LOAD_NO_HINTING : 0)) ||
        FT_Render_Glyph(face.face->glyph, FT_RENDER_MODE_MONO))
        return "glyph " + std::to_string(glyph) + " does not render";
    const FT_Bitmap& bm = face.face->glyph->bitmap;
    const int32_t left = face.face->glyph->bitmap_left, top = face.face->glyph->bitmap_top;
    for (uint32_t r = 0; r < bm.rows; ++r)
        for (uint32_t c = 0; c < bm.width; ++c)
            if ((bm.buffer[static_cast<ptrdiff_t>(r) * bm.pitch + c / 8] >> (7 - c % 8)) & 1)
                pixel(x + left + static_cast<int32_t>(c), y - top + static_cast<int32_t>(r));
    return {};
}

void DrawBitmapChar(const SoftFont::Bitmap& b, int32_t x, int32_t y, const std::function<void(int32_t, int32_t)>& pixel) {
    const size_t row = (static_cast<size_t>(b.width) + 7) / 8;
    for (int32_t r = 0; r < b.height; ++r)
        for (int32_t c = 0; c < b.width; ++c) {
            const size_t at = static_cast<size_t>(r) * row + static_cast<size_t>(c) / 8;
            if (at < b.rows.size() && (b.rows[at] >> (7 - c % 8)) & 1) pixel(x + b.left + c, y - b.top + r);
        }
}

SoftFonts::SoftFonts(ErrorFn error) : error_(std::move(error)) {}
SoftFonts::~SoftFonts() = default;

void SoftFonts::Reset() {
    fonts_.clear();
    symbolSets_.clear();
    selected_ = -1;
    deviceSelected_ = false;
    painter_.Clear();
}

bool SoftFonts::SelectedIsBitmap() const {
    if (deviceSelected_ || selected_ < 0) return false;
    const auto it = fonts_.find(static_cast<uint32_t>(selected_));
    return it != fonts_.end() && it->second.format == 20;
}

double SoftFonts::SizeSlack() const {
    if (deviceSelected_ && !proportional_) return 0.005 / pitch_;
    return 0.125 / height_;
}

bool SoftFonts::Selected() const {
    return deviceSelected_ || (selected_ >= 0 && fonts_.count(static_cast<uint32_t>(selected_)));
}

bool SoftFonts::Execute(const std::string& p, char t, const std::string& value, std::span<const uint8_t> payload) {
    const long v = std::strtol(value.c_str(), nullptr, 10);
    if (p == "*c" && t == 'D') {
        fontId_ = static_cast<uint32_t>(std::clamp(v, 0L, 65535L));
    } else if (p == "*c" && t == 'E') {
        charCode_ = static_cast<uint32_t>(std::clamp(v, 0L, 65535L));
    } else if (p == "*c" && t == 'R') {
        symbolSetId_ = static_cast<uint32_t>(std::clamp(v, 0L, 65535L));
    } else if (p == "*c" && t == 'F') {
        if (v == 0 || v == 1) fonts_.clear();
        else if (v == 2) fonts_.erase(fontId_);
        painter_.Clear();
    } else if (p == ")s" && t == 'W') {
        Header(payload);
    } else if (p == "(s" && t == 'W') {
        Character(payload);
    } else if (p == "(f" && t == 'W') {
        SymbolSet(payload);
    } else if (p == "(" && t == 'X') {
        selected_ = v;
        deviceSelected_ = false;
        if (!fonts_.count(static_cast<uint32_t>(v))) error_("font " + std::to_string(v) + " selected but not defined");
    } else if (p == "(s" && (t == 'V' || t == 'H')) {
        const double size = std::clamp(std::strtod(value.c_str(), nullptr), 0.25, 999.75);
        (t == 'V' ? height_ : pitch_) = size;
    } else if (p == "(s" && (t == 'P' || t == 'S' || t == 'B' || t == 'T')) {
        // Selection by characteristics: the typeface ends it and selects
        // the printer face.
        const int n = static_cast<int>(std::clamp(v, -32768L, 65535L));
        if (t == 'P') proportional_ = n != 0;
        else if (t == 'S') style_ = n;
        else if (t == 'B') weight_ = n;
        else {
            typeface_ = n;
            deviceSelected_ = true;
            if (!FindDeviceFace(typeface_, style_, weight_)) error_("typeface " + std::to_string(n) + " is no printer face");
        }
    } else if (p == "(" && t >= 'A' && t <= 'Z') {
        // A symbol set's value is 0-2047 (ESC(#X is taken above); anything
        // else names no set, and must not overflow the code.
        selectedSet_ = v >= 0 && v <= 2047 ? static_cast<uint32_t>(v * 32 + (t - 64)) : 0;
    } else {
        return false;
    }
    return true;
}

void SoftFonts::Header(std::span<const uint8_t> d) {
    if (d.size() < 64) return error_("font header shorter than its descriptor");
    const uint16_t size = U16(d, 0);
    const uint8_t format = d[2];
    SoftFont font;
    font.format = format;
    if (format == 20) {
        if (size != 68 || d.size() != 68) error_("bitmap font header of " + std::to_string(d.size()) + " bytes");
        fonts_[fontId_] = std::move(font);
        return;
    }
    if (format != 15 && format != 16) return error_("font header format " + std::to_string(format));
    if (size != 72 || d.size() < 72) return error_("TrueType descriptor size " + std::to_string(size));
    font.unitsPerEm = U16(d, 64);
    // Segments up to the null segment, then the reserved byte and the checksum.
    size_t at = 72;
    bool ended = false;
    while (at + 2 <= d.size()) {
        const uint16_t id = U16(d, at);
        const size_t sizeBytes = format == 16 ? 4 : 2;
        if (at + 2 + sizeBytes > d.size()) break;
        const uint32_t length = format == 16 ? U32(d, at + 2) : U16(d, at + 2);
        at += 2 + sizeBytes;
        if (id == 0xFFFF) {
            ended = true;
            break;
        }
        if (at + length > d.size()) return error_("font segment longer than the header");
        if (id == ('G' << 8 | 'T')) font.globals.assign(d.begin() + at, d.begin() + at + length);
        at += length;
    }
    if (!ended) return error_("font header without its null segment");
    if (at + 2 != d.size()) error_("font header count differs from its segments by " + std::to_string(d.size() - at));
    uint8_t sum = 0;
    for (size_t i = 64; i < d.size(); ++i) sum = static_cast<uint8_t>(sum + d[i]);
    if (sum != 0) error_("font header checksum wrong");
    if (font.globals.empty()) error_("TrueType font without its GT segment");
    fonts_[fontId_] = std::move(font);
}

void SoftFonts::Character(std::span<const uint8_t> d) {
    auto it = fonts_.find(fontId_);
    if (it == fonts_.end()) return error_("character for font " + std::to_string(fontId_) + " that is not defined");
    SoftFont& font = it->second;
    if (d.size() < 2) return error_("character data shorter than 2 bytes");
    const bool continued = d[1] != 0;
    if (font.format == 20) {
        if (continued) {
            auto b = font.bitmaps.find(charCode_);
            if (b == font.bitmaps.end()) return error_("bitmap continuation without its character");
            b->second.rows.insert(b->second.rows.end(), d.begin() + 2, d.end());
            return;
        }
        if (d.size() < 16 || d[0] != 4 || d[2] != 14 || d[3] != 1) return error_("bitmap character descriptor");
        SoftFont::Bitmap b;
        b.left = static_cast<int16_t>(U16(d, 6));
        b.top = static_cast<int16_t>(U16(d, 8));
        b.width = U16(d, 10);
        b.height = U16(d, 12);
        b.deltaX = static_cast<int16_t>(U16(d, 14));
        b.rows.assign(d.begin() + 16, d.end());
        if (font.bitmaps.count(charCode_)) error_("character " + std::to_string(charCode_) + " sent twice");
        font.bitmaps[charCode_] = std::move(b);
        ++font.glyphDownloads;
        return;
    }
    if (!continued) {
        if (d.size() < 4 || d[0] != 15 || d[2] != 2 || d[3] != 15) return error_("TrueType character descriptor");
        pendingChar_.assign(d.begin() + 4, d.end());
    } else {
        pendingChar_.insert(pendingChar_.end(), d.begin() + 2, d.end());
    }
    const size_t want = size_t{U16(pendingChar_, 0)} + 2;  // data (size and glyph included), reserved, checksum
    if (pendingChar_.size() < want) return;  // more pieces follow
    if (pendingChar_.size() > want) error_("TrueType character longer than its size");
    uint8_t sum = 0;
    for (size_t i = 0; i < want; ++i) sum = static_cast<uint8_t>(sum + pendingChar_[i]);
    if (sum != 0) error_("TrueType character checksum wrong");
    const uint16_t glyph = U16(pendingChar_, 2);
    std::vector<uint8_t> data(pendingChar_.begin() + 4, pendingChar_.begin() + static_cast<ptrdiff_t>(want - 2));
    pendingChar_.clear();
    ++font.glyphDownloads;
    if (charCode_ != 65535) {
        if (font.codeToGlyph.count(charCode_)) error_("character " + std::to_string(charCode_) + " sent twice");
        font.codeToGlyph[charCode_] = glyph;
    }
    font.glyphs[glyph] = std::move(data);
    painter_.Forget(fontId_);  // rebuilt on the next draw
}

void SoftFonts::SymbolSet(std::span<const uint8_t> d) {
    if (d.size() < 18 || U16(d, 0) != 18) return error_("symbol set header");
    const uint16_t first = U16(d, 6), last = U16(d, 8);
    if (last < first || d.size() != 18 + 2 * size_t{last - first + 1u}) return error_("symbol set count differs from its codes");
    std::vector<uint16_t> codes;
    for (size_t at = 18; at + 2 <= d.size(); at += 2) codes.push_back(U16(d, at));
    if (U16(d, 2) != symbolSetId_) error_("symbol set value differs from its ID");
    symbolSets_[symbolSetId_] = std::move(codes);
}

double SoftFonts::Draw(uint8_t code, int32_t x, int32_t y, int32_t resolution, const PixelFn& pixel) {
    if (!Selected()) return 0;
    if (deviceSelected_) {
        const DeviceFaceRow* face = FindDeviceFace(typeface_, style_, weight_);
        if (!face) return 0;  // reported at the selection
        // A text face reads its codes through the symbol set in force; a
        // face of its own set (symbols, dingbats) by the code itself.
        const char32_t ch = face->symbolSet == "-" ? SymbolSetCharacter(selectedSet_, code) : code;
        if (!ch) {
            error_("code " + std::to_string(code) + " has no character in symbol set " + std::to_string(selectedSet_));
            return 0;
        }
        // A fixed-pitch face is sized by its pitch: one advance a pitch.
        double em = height_ * resolution / 72.0;
        if (!proportional_) {
            if (const double ems = devicePainter_.FixedAdvanceEms(*face); ems > 0) em = resolution / pitch_ / ems;
        }
        std::string fault;
        const double advance = devicePainter_.Draw(*face, ch, em, x, y, pixel, fault);
        if (!fault.empty()) error_(fault);
        return std::max(0.0, advance);
    }
    const auto id = static_cast<uint32_t>(selected_);
    const SoftFont& font = fonts_.at(id);
    if (font.format == 20) {
        auto it = font.bitmaps.find(code);
        if (it == font.bitmaps.end()) {
            error_("character " + std::to_string(code) + " printed but not sent");
            return 0;
        }
        DrawBitmapChar(it->second, x, y, pixel);
        return 0;
    }
    // TrueType: the code through the selected user symbol set to the
    // character, its glyph drawn from the rebuilt font.
    uint32_t value = code;
    if (auto set = symbolSets_.find(selectedSet_); set != symbolSets_.end()) {
        if (code < 32 || code - 32u >= set->second.size()) {
            error_("code outside the symbol set");
            return 0;
        }
        value = set->second[code - 32u];
    }
    auto g = font.codeToGlyph.find(value);
    if (g == font.codeToGlyph.end()) {
        error_("character " + std::to_string(value) + " printed but not sent");
        return 0;
    }
    const std::string fault = painter_.Draw(id, font, g->second, height_ * resolution / 72.0, x, y, pixel);
    if (!fault.empty()) error_(fault);
    return 0;
}

}  // namespace pclread
