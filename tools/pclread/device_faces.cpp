// The printer's faces drawn from their source fonts: the face table, the
// symbol sets and the drawing.
#include "pclread/device_faces.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#ifndef ZQ_DEVICE_FACES_FILE
#error "the build names the face table (ZQ_DEVICE_FACES_FILE)"
#endif

namespace pclread {
namespace {

const std::vector<DeviceFaceRow>& Table() {
    static const std::vector<DeviceFaceRow> rows = [] {
        std::vector<DeviceFaceRow> out;
        std::ifstream in(ZQ_DEVICE_FACES_FILE);
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> cols;
            std::istringstream s(line);
            for (std::string col; std::getline(s, col, '\t');) cols.push_back(col);
            if (cols.size() != 8) continue;
            DeviceFaceRow r;
            r.face = cols[0];
            r.typeface = std::atoi(cols[1].c_str());
            r.style = std::atoi(cols[2].c_str());
            r.weight = std::atoi(cols[3].c_str());
            r.points = std::atoi(cols[4].c_str());
            r.symbolSet = cols[5];
            r.source = cols[6];
            r.xlName = cols[7];
            out.push_back(std::move(r));
        }
        return out;
    }();
    return rows;
}

// The six sets and the code pages they are made from.
struct Set {
    uint32_t value;
    const char* codePage;
};
constexpr Set kSets[] = {{629, "WINDOWS-1252"}, {293, "WINDOWS-1250"}, {306, "WINDOWS-1251"},
                         {180, "WINDOWS-1254"}, {620, "WINDOWS-1257"}, {295, "WINDOWS-1253"}};

}  // namespace

const DeviceFaceRow* FindDeviceFace(int typeface, int style, int weight) {
    const DeviceFaceRow* best = nullptr;
    int bestScore = 0;
    for (const DeviceFaceRow& r : Table()) {
        if (r.typeface != typeface) continue;
        const int score = ((r.style & 3) == (style & 3) ? 0 : 1000) + std::abs(r.weight - weight);
        if (!best || score < bestScore) {
            best = &r;
            bestScore = score;
        }
    }
    return best;
}

const DeviceFaceRow* FindDeviceFace(const std::string& xlName) {
    std::string name = xlName;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    for (const DeviceFaceRow& r : Table())
        if (r.xlName == name) return &r;
    return nullptr;
}

char32_t SymbolSetCharacter(uint32_t symbolSet, uint8_t code) {
    static const std::map<uint32_t, std::array<char32_t, 256>> tables = [] {
        std::map<uint32_t, std::array<char32_t, 256>> out;
        for (const Set& s : kSets) {
            std::array<char32_t, 256> t{};
            iconv_t cd = iconv_open("UTF-32LE", s.codePage);
            if (cd == reinterpret_cast<iconv_t>(-1)) continue;
            for (int c = 32; c < 256; ++c) {
                char in = static_cast<char>(c);
                unsigned char outBytes[8] = {};
                char *inp = &in, *outp = reinterpret_cast<char*>(outBytes);
                size_t inLeft = 1, outLeft = sizeof outBytes;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 4)
                    t[c] = outBytes[0] | outBytes[1] << 8 | outBytes[2] << 16 | static_cast<char32_t>(outBytes[3]) << 24;
            }
            iconv_close(cd);
            out[s.value] = t;
        }
        return out;
    }();
    const auto it = tables.find(symbolSet);
    return it == tables.end() ? 0 : it->second[code];
}

struct DeviceFacePainter::Fonts {
    FT_Library library = nullptr;
    std::map<std::string, FT_Face> faces;
    ~Fonts() {
        for (auto& [path, face] : faces)
            if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
    FT_Face Open(const std::string& path) {
        if (!library && FT_Init_FreeType(&library)) return nullptr;
        auto [it, added] = faces.emplace(path, nullptr);
        if (added && FT_New_Face(library, path.c_str(), 0, &it->second)) it->second = nullptr;
        return it->second;
    }
};

DeviceFacePainter::DeviceFacePainter() = default;
DeviceFacePainter::~DeviceFacePainter() = default;

double DeviceFacePainter::Draw(const DeviceFaceRow& row, char32_t ch, double em, int32_t x, int32_t y,
                               const PixelFn& pixel, std::string& fault, double angle) {
    if (!fonts_) fonts_ = std::make_unique<Fonts>();
    FT_Face face = fonts_->Open(row.source);
    if (!face) {
        fault = "the source font " + row.source + " of " + row.face + " does not open";
        return -1;
    }
    if (!(em > 0 && em < 20000)) {
        fault = "character size " + std::to_string(em);
        return -1;
    }
    const FT_UInt glyph = FT_Get_Char_Index(face, ch);
    FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
    // FreeType turns counterclockwise with y up, as the character angle
    // turns the characters on the page.
    const double r = -angle * 3.14159265358979323846 / 180;
    FT_Matrix turn{static_cast<FT_Fixed>(std::lround(std::cos(r) * 65536)), static_cast<FT_Fixed>(std::lround(std::sin(r) * 65536)),
                   static_cast<FT_Fixed>(std::lround(-std::sin(r) * 65536)), static_cast<FT_Fixed>(std::lround(std::cos(r) * 65536))};
    FT_Set_Transform(face, angle != 0 ? &turn : nullptr, nullptr);
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO | (angle != 0 ? FT_LOAD_NO_HINTING : 0)) ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO)) {
        fault = "character " + std::to_string(ch) + " of " + row.face + " does not render";
        return -1;
    }
    const FT_Bitmap& bm = face->glyph->bitmap;
    const int32_t left = face->glyph->bitmap_left, top = face->glyph->bitmap_top;
    for (uint32_t r = 0; r < bm.rows; ++r)
        for (uint32_t c = 0; c < bm.width; ++c)
            if ((bm.buffer[static_cast<ptrdiff_t>(r) * bm.pitch + c / 8] >> (7 - c % 8)) & 1)
                pixel(x + left + static_cast<int32_t>(c), y - top + static_cast<int32_t>(r));
    // The printer advances by the design width, as the driver's widths are.
    return face->units_per_EM ? static_cast<double>(face->glyph->linearHoriAdvance) / 65536.0 : 0;
}

double DeviceFacePainter::FixedAdvanceEms(const DeviceFaceRow& row) {
    if (!fonts_) fonts_ = std::make_unique<Fonts>();
    FT_Face face = fonts_->Open(row.source);
    if (!face || !face->units_per_EM) return 0;
    if (FT_Load_Char(face, U'0', FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING)) return 0;
    return static_cast<double>(face->glyph->metrics.horiAdvance) / face->units_per_EM;
}

}  // namespace pclread
