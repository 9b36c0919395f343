#include "vemfread/replay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "gdi/dc.h"
#include "gdi/emf.h"
#include "gdi/emf_player.h"
#include "gdi/emf_writer.h"
#include "gdi/font.h"
#include "pclread/pclread.h"

namespace vemfread {

namespace vemf = zq::vemf;

namespace {

constexpr uint32_t kSrcAnd = 0x008800C6, kSrcPaint = 0x00EE0086;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 24)};
    out.insert(out.end(), b, b + 4);
}

// The operands of a standard BITBLT: destination, raster operation and an
// optional packed bitmap (header + colours, then bits).
std::vector<uint8_t> BitBltOperands(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop,
                                    const std::vector<uint8_t>& info = {}, const std::vector<uint8_t>& bits = {}) {
    std::vector<uint8_t> o;
    for (int i = 0; i < 4; ++i) Put32(o, 0);  // bounds
    Put32(o, static_cast<uint32_t>(x));
    Put32(o, static_cast<uint32_t>(y));
    Put32(o, static_cast<uint32_t>(w));
    Put32(o, static_cast<uint32_t>(h));
    Put32(o, rop);
    Put32(o, 0);  // source x, y
    Put32(o, 0);
    const float identity[6] = {1, 0, 0, 1, 0, 0};
    for (float f : identity) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        Put32(o, v);
    }
    Put32(o, 0);  // background colour
    Put32(o, 0);  // RGB colours
    const uint32_t head = 8 + 92;
    Put32(o, info.empty() ? 0 : head);
    Put32(o, static_cast<uint32_t>(info.size()));
    Put32(o, info.empty() ? 0 : head + static_cast<uint32_t>(info.size()));
    Put32(o, static_cast<uint32_t>(bits.size()));
    o.insert(o.end(), info.begin(), info.end());
    o.insert(o.end(), bits.begin(), bits.end());
    return o;
}

struct Glyph {
    int32_t x = 0, y = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bits;
};

// A glyph's one-bit image as a bottom-up DIB with colours `zero` and `one`
// (0x00BBGGRR), for one of the two blits that paint it.
void GlyphDib(const Glyph& g, uint32_t zero, uint32_t one, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    info.clear();
    Put32(info, 40);
    Put32(info, g.width);
    Put32(info, g.height);
    Put32(info, 1 | 1 << 16);  // one plane, one bit
    Put32(info, 0);
    const uint32_t in = (g.width + 7) / 8, out = (g.width + 31) / 32 * 4;
    Put32(info, out * g.height);
    Put32(info, 0);
    Put32(info, 0);
    Put32(info, 2);
    Put32(info, 0);
    for (uint32_t c : {zero, one}) {
        info.push_back(static_cast<uint8_t>(c >> 16));
        info.push_back(static_cast<uint8_t>(c >> 8));
        info.push_back(static_cast<uint8_t>(c));
        info.push_back(0);
    }
    bits.assign(size_t{out} * g.height, 0);
    for (uint32_t row = 0; row < g.height; ++row)
        std::memcpy(bits.data() + size_t{g.height - 1 - row} * out, g.bits.data() + size_t{row} * in, in);
}

// The two blits that paint a glyph's one-bit image in `colour` at (x, y):
// its ink to black, then the colour added into the ink.
void PaintGlyph(zq::emf::Writer& w, const Glyph& g, int32_t x, int32_t y, uint32_t colour) {
    if (!g.width || !g.height) return;
    std::vector<uint8_t> info, bits;
    GlyphDib(g, 0xFFFFFF, 0, info, bits);
    w.Raw(static_cast<uint32_t>(zq::emf::Rt::BitBlt),
          BitBltOperands(x + g.x, y + g.y, static_cast<int32_t>(g.width), static_cast<int32_t>(g.height), kSrcAnd, info, bits));
    GlyphDib(g, 0, colour, info, bits);
    w.Raw(static_cast<uint32_t>(zq::emf::Rt::BitBlt),
          BitBltOperands(x + g.x, y + g.y, static_cast<int32_t>(g.width), static_cast<int32_t>(g.height), kSrcPaint, info, bits));
}

// A logical font that names one of the printer's faces (device precision).
// The replay stands in for the printer as the engine's reference render
// does: the face table gives the face's source font, drawn at the font's em
// with the characters' glyphs at the positions the stream gives.
struct PrinterFace {
    std::unique_ptr<zq::gdi::EngineFont> font;
    std::map<char16_t, Glyph> glyphs;
};

// The source font of a printer face's logical font; null when the face
// table has no such face.
std::unique_ptr<PrinterFace> OpenPrinterFace(const std::vector<uint8_t>& record, uint32_t dpi) {
    LOGFONTW lf{};
    std::memcpy(&lf, record.data() + 12, sizeof lf);
    lf.lfFaceName[LF_FACESIZE - 1] = 0;
    std::u16string name;
    for (size_t i = 0; i < LF_FACESIZE && lf.lfFaceName[i]; ++i) name += static_cast<char16_t>(lf.lfFaceName[i]);
    const int weight = lf.lfWeight ? static_cast<int>(lf.lfWeight) : 400;
    const bool italic = lf.lfItalic != 0;
    const auto source = zq::gdi::DeviceFaceSource(name, weight, italic);
    const double em = std::abs(static_cast<double>(lf.lfHeight));
    if (!source || !(em > 0)) return nullptr;
    auto face = std::make_unique<PrinterFace>();
    const LONG res = static_cast<LONG>(dpi ? dpi : 96);
    face->font = zq::gdi::EngineFont::Create(*source, em, weight >= 600 ? std::max(700, source->weight) : source->weight,
                                             italic || source->italic, SIZE{res, res});
    if (!face->font) return nullptr;
    return face;
}

// A character's glyph of a printer face, its bits read once.
const Glyph& PrinterGlyph(PrinterFace& face, char16_t ch) {
    if (const auto it = face.glyphs.find(ch); it != face.glyphs.end()) return it->second;
    Glyph& g = face.glyphs[ch];
    const GLYPHDATA* gd = face.font->Glyph(face.font->GlyphOf(ch), FO_GLYPHBITS);
    const GLYPHBITS* gb = gd ? gd->gdf.pgb : nullptr;
    if (gb && gb->sizlBitmap.cx > 0 && gb->sizlBitmap.cy > 0) {
        g.x = gb->ptlOrigin.x, g.y = gb->ptlOrigin.y;
        g.width = static_cast<uint32_t>(gb->sizlBitmap.cx), g.height = static_cast<uint32_t>(gb->sizlBitmap.cy);
        const size_t bytes = size_t{(g.width + 7) / 8} * g.height;
        g.bits.assign(gb->aj, gb->aj + bytes);
    }
    return g;
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
    return v;
}

}  // namespace

uint32_t Picture::At(int32_t x, int32_t y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return uint32_t{rgb[i]} << 16 | uint32_t{rgb[i + 1]} << 8 | rgb[i + 2];
}

std::vector<uint8_t> PageMetafile(const Page& page, int32_t width, int32_t height, std::string& error) {
    zq::emf::Writer w(width, height, 96);
    // Stream handles grow over the whole document; the player's table is
    // small, so each live handle takes the lowest free index.
    std::map<uint32_t, uint32_t> index;
    std::set<uint32_t> freeIndices;
    uint32_t nextIndex = 1;
    auto take = [&](uint32_t handle) {
        uint32_t i;
        if (!freeIndices.empty()) {
            i = *freeIndices.begin();
            freeIndices.erase(freeIndices.begin());
        } else {
            i = nextIndex++;
        }
        index[handle] = i;
        return i;
    };
    std::set<uint32_t> glyphFonts;
    std::map<std::pair<uint32_t, uint32_t>, Glyph> glyphs;
    uint32_t selectedGlyphFont = 0, textColour = 0;
    std::map<uint32_t, std::unique_ptr<PrinterFace>> printerFaces;
    PrinterFace* selectedFace = nullptr;
    std::set<uint32_t> playerFonts;  // logical fonts the player draws
    const Tag* resolution = page.FindTag(vemf::kTagResolution);
    const uint32_t dpi = resolution ? resolution->Value() : 0;
    auto fail = [&](const Record& r, const char* what) {
        error = "record " + std::to_string(r.type) + " at " + std::to_string(r.offset) + ": " + what;
        return std::vector<uint8_t>{};
    };
    bool started = false;
    for (const Record& r : page.records) {
        if (r.type == vemf::kPageRecord) {
            started = true;
            continue;
        }
        if (!started) continue;
        std::vector<uint8_t> body(r.bytes.begin() + 8, r.bytes.end());
        switch (r.type) {
        case vemf::kPageTrailer:
        case vemf::kPrivateBlock:
        case vemf::kPassthrough:
            continue;
        case vemf::kGlyphDefinition: {
            Glyph g;
            g.x = static_cast<int32_t>(r.U32(16)), g.y = static_cast<int32_t>(r.U32(20));
            g.width = r.U32(24), g.height = r.U32(28);
            const uint64_t bytes = uint64_t{(g.width + 7) / 8} * g.height;
            if (r.U32(32) != 40 || r.U32(36) != bytes || r.bytes.size() != 40 + bytes) return fail(r, "glyph sizes disagree");
            g.bits.assign(r.bytes.begin() + 40, r.bytes.end());
            glyphs[{r.U32(8), r.U32(12)}] = std::move(g);
            continue;
        }
        case vemf::kExtCreateFont: {
            bool empty = true;
            for (size_t i = 12; i < r.bytes.size(); ++i) empty = empty && r.bytes[i] == 0;
            if (empty) {
                glyphFonts.insert(r.U32(8));
                continue;
            }
            if (r.bytes.size() == sizeof(vemf::ExtCreateFont) &&
                r.bytes[12 + vemf::kFontOutPrecisionOffset] == vemf::kFontOutDevice) {
                auto face = OpenPrinterFace(r.bytes, dpi);
                if (!face) return fail(r, "names a printer face the face table does not have");
                printerFaces[r.U32(8)] = std::move(face);
                continue;
            }
            playerFonts.insert(r.U32(8));
            const uint32_t i = take(r.U32(8));
            std::memcpy(body.data(), &i, 4);
            break;
        }
        case vemf::kCreatePen:
        case vemf::kCreateBrush:
        case vemf::kCreateDibPatternBrush:
        case vemf::kExtCreatePen: {
            if (body.size() < 4) return fail(r, "too short");
            const uint32_t i = take(r.U32(8));
            std::memcpy(body.data(), &i, 4);
            // A 24-bit pattern's four zero bytes stand where a colour table
            // would: the player reads its bitmap as header and bits
            // together, so the header alone is handed over.
            if (r.type == vemf::kCreateDibPatternBrush && r.U32(20) == 44 && r.bytes.size() >= 72 &&
                (r.U32(32 + 12) >> 16) == 24) {
                const uint32_t header = 40;
                std::memcpy(body.data() + 12, &header, 4);
            }
            break;
        }
        case vemf::kSelectObject:
        case vemf::kDeleteObject: {
            const uint32_t h = r.U32(8);
            if (const auto face = printerFaces.find(h); face != printerFaces.end()) {
                if (r.type == vemf::kSelectObject) {
                    selectedFace = face->second.get();
                    selectedGlyphFont = 0;
                } else {
                    if (selectedFace == face->second.get()) selectedFace = nullptr;
                    printerFaces.erase(face);
                }
                continue;
            }
            // Selecting a font the player draws ends the hand-drawn font's turn.
            if (r.type == vemf::kSelectObject && playerFonts.count(h)) selectedFace = nullptr, selectedGlyphFont = 0;
            if (r.type == vemf::kDeleteObject) playerFonts.erase(h);
            if (glyphFonts.count(h)) {
                if (r.type == vemf::kSelectObject) {
                    selectedGlyphFont = h;
                    selectedFace = nullptr;
                } else {
                    glyphFonts.erase(h);
                    if (selectedGlyphFont == h) selectedGlyphFont = 0;
                    std::erase_if(glyphs, [h](const auto& e) { return e.first.first == h; });
                }
                continue;
            }
            if (h & zq::emf::kStockObject) break;
            auto it = index.find(h);
            if (it == index.end()) return fail(r, "names no live object");
            std::memcpy(body.data(), &it->second, 4);
            if (r.type == vemf::kDeleteObject) {
                freeIndices.insert(it->second);
                index.erase(it);
            }
            break;
        }
        case vemf::kSetTextColor:
            textColour = r.U32(8) & 0xFFFFFF;
            break;
        case vemf::kPatternBlit: {
            if (r.bytes.size() != 44) return fail(r, "not 44 bytes");
            w.Raw(static_cast<uint32_t>(zq::emf::Rt::BitBlt),
                  BitBltOperands(static_cast<int32_t>(r.U32(24)), static_cast<int32_t>(r.U32(28)),
                                 static_cast<int32_t>(r.U32(32)), static_cast<int32_t>(r.U32(36)), (r.U32(40) & 0xFF) << 16));
            continue;
        }
        case vemf::kBitBlt:
            if (body.size() < 36) return fail(r, "too short");
            {
                const uint32_t rop = (r.U32(40) & 0xFF) << 16;
                std::memcpy(body.data() + 32, &rop, 4);
            }
            break;
        case vemf::kStretchDIBits: {
            // The stream's head has a zero before the raster operation: the
            // standard head of 80 bytes leaves it out, and the offsets of
            // the header and bits move with it.
            if (r.bytes.size() < 84 || r.U32(48) < 84 || r.U32(56) < 84) return fail(r, "too short");
            std::vector<uint8_t> standard(body.begin(), body.begin() + 60);
            Put32(standard, (r.U32(72) & 0xFF) << 16);
            Put32(standard, r.U32(76));
            Put32(standard, r.U32(80));
            standard.insert(standard.end(), body.begin() + 76, body.end());
            const uint32_t header = r.U32(48) - 4, bits = r.U32(56) - 4;
            std::memcpy(standard.data() + 40, &header, 4);
            std::memcpy(standard.data() + 48, &bits, 4);
            body = std::move(standard);
            break;
        }
        case vemf::kExtTextOutW: {
            if (!selectedGlyphFont && !selectedFace) break;  // a font of its own: the player draws it
            const uint32_t n = r.U32(44), strings = r.U32(48), advances = r.U32(72);
            if (r.bytes.size() < 76 || strings != 76 || advances != 76 + 2 * uint64_t{n} ||
                r.bytes.size() != 76 + 10 * uint64_t{n})
                return fail(r, "string sizes disagree");
            // A printer face's string holds characters, a glyph font's
            // glyph handles.
            if (selectedFace && (r.U32(52) & vemf::kTextGlyphIndex)) return fail(r, "gives glyph handles of a printer face");
            int32_t x = static_cast<int32_t>(r.U32(36)), y = static_cast<int32_t>(r.U32(40));
            for (uint32_t i = 0; i < n; ++i) {
                uint16_t code;
                std::memcpy(&code, r.bytes.data() + 76 + 2 * i, 2);
                if (selectedFace) {
                    PaintGlyph(w, PrinterGlyph(*selectedFace, code), x, y, textColour);
                } else {
                    auto it = glyphs.find({selectedGlyphFont, code});
                    if (it == glyphs.end()) return fail(r, "draws a glyph not defined for its font");
                    PaintGlyph(w, it->second, x, y, textColour);
                }
                x += static_cast<int32_t>(U32At(r.bytes, advances + 8 * i));
                y += static_cast<int32_t>(U32At(r.bytes, advances + 8 * i + 4));
            }
            continue;
        }
        default:
            break;
        }
        w.Raw(r.type, body);
    }
    auto out = w.Finish();
    // The header's handle count: the highest index used, plus one.
    const uint16_t handles = static_cast<uint16_t>(std::min<uint32_t>(nextIndex, 65535));
    std::memcpy(out.data() + 56, &handles, 2);
    // One unit a device pixel exactly: a reference device of 10 pixels a
    // millimetre and a frame (0.01 mm) of 10 units a pixel.
    const int32_t frame[4] = {0, 0, 10 * width, 10 * height}, device[4] = {1000, 1000, 100, 100};
    std::memcpy(out.data() + 24, frame, sizeof frame);
    std::memcpy(out.data() + 72, device, sizeof device);
    return out;
}

bool Replay(const Stream& s, size_t index, Picture& out, std::string& error) {
    if (index >= s.pages.size()) {
        error = "no page " + std::to_string(index + 1);
        return false;
    }
    const Tag* printable = s.pages[index].FindTag(vemf::kTagPrintable);
    if (!printable || printable->payload.size() != 16) {
        error = "page " + std::to_string(index + 1) + " has no printable rectangle";
        return false;
    }
    int32_t rect[4];
    std::memcpy(rect, printable->payload.data(), 16);
    const int32_t width = rect[2] - rect[0], height = rect[3] - rect[1];
    if (width <= 0 || height <= 0 || int64_t{width} * height > (int64_t{1} << 28)) {
        error = "page " + std::to_string(index + 1) + " has an unusable size";
        return false;
    }
    const auto bytes = PageMetafile(s.pages[index], width, height, error);
    if (bytes.empty()) return false;
    auto parsed = zq::emf::ParseEmf(bytes);
    if (!parsed.document) {
        error = "page " + std::to_string(index + 1) + ": " + parsed.error;
        return false;
    }
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    void* pixels = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!dc || !bitmap || !pixels) {
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
        error = "no surface for page " + std::to_string(index + 1);
        return false;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, width, height, WHITENESS);
    const auto stats = zq::emf::Play(dc, *parsed.document, RECTL{0, 0, width, height});
    out.width = width, out.height = height;
    out.rgb.assign(size_t(width) * height * 3, 0);
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    for (int32_t y = 0; y < height; ++y) {
        const auto* row = static_cast<const uint8_t*>(pixels) + stride * y;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* o = out.rgb.data() + (size_t(y) * width + x) * 3;
            o[0] = row[3 * x + 2], o[1] = row[3 * x + 1], o[2] = row[3 * x];
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    if (stats.failed) {
        error = "page " + std::to_string(index + 1) + ": " + std::to_string(stats.failed) + " records failed to play";
        for (const auto& why : stats.refused) error += "; " + why;
        return false;
    }
    return true;
}

bool WritePicture(const Picture& p, const std::string& path) {
    std::vector<uint8_t> rows;
    rows.reserve((size_t(p.width) * 3 + 1) * p.height);
    for (int32_t y = 0; y < p.height; ++y) {
        rows.push_back(0);
        const auto* row = p.rgb.data() + size_t(y) * p.width * 3;
        rows.insert(rows.end(), row, row + size_t(p.width) * 3);
    }
    const auto png = pclread::PngBytes(static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height), 8, 2, rows);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace vemfread
