// fontgen: writes the models' resident fonts (font descriptions of type 258
// in the first form, and the per-model lists of type 265) as a record
// description, from the face table and the fonts it names, read through
// FreeType. Every figure is the font's own, in its design units (scalable
// fonts) or in dots at 300 dpi (fixed-size fonts).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../symsets/code_pages.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDesignResolution = 300;
constexpr int kNominalPoints = 12;
constexpr size_t kMaxKerningPairs = 48;  // the strongest pairs of the printable ASCII range
constexpr const char* kModelLetters = "MTC";
// PCL XL font names are 16 bytes, padded with blanks by the driver.
constexpr size_t kMaxXlName = 16;

struct Face {
    std::string name, models, source, family, symbolSet;
    std::string xlName;  // the PCL XL name of this one font
    int typeface = 0, style = 0, weight = 0, points = 0;
    int line = 0;
};

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "fontgen: %s\n", what.c_str());
    std::exit(1);
}

std::vector<Face> ReadFaces(const std::string& path) {
    std::ifstream in(path);
    if (!in) Die("cannot read " + path);
    std::vector<Face> faces;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        Face f;
        f.line = n;
        if (!(s >> std::quoted(f.name) >> f.models >> f.source >> f.typeface >> f.style >> f.weight >> f.family >>
              f.points >> f.symbolSet >> std::quoted(f.xlName))) {
            Die(path + ":" + std::to_string(n) + ": expected face, models, source, typeface, style, weight, family, "
                                                 "points, symset, xlname");
        }
        const bool printable = std::all_of(f.xlName.begin(), f.xlName.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
        if (f.xlName.empty() || f.xlName.size() > kMaxXlName || !printable || f.xlName.back() == ' ')
            Die(path + ":" + std::to_string(n) + ": the PCL XL name \"" + f.xlName + "\" is not 1 to " +
                std::to_string(kMaxXlName) + " printable characters without trailing blanks");
        // A PCL XL printer selects a font by its name alone: two fonts of
        // one name must be the same font (a fixed-size face's sizes).
        for (const Face& other : faces)
            if (other.xlName == f.xlName && (other.source != f.source || other.style != f.style || other.weight != f.weight))
                Die(path + ":" + std::to_string(n) + ": the PCL XL name \"" + f.xlName + "\" also names the font of line " +
                    std::to_string(other.line));
        faces.push_back(f);
    }
    return faces;
}

uint8_t FamilyBits(const std::string& family) {
    static const std::map<std::string, uint8_t> kFamilies = {
        {"roman", 0x10}, {"swiss", 0x20}, {"modern", 0x30}, {"script", 0x40}, {"decorative", 0x50}};
    const auto it = kFamilies.find(family);
    return it == kFamilies.end() ? 0 : it->second;
}

// PCL symbol-set value of "19M": 19 x 32 + 'M' - 64.
uint16_t SymbolSetValue(const std::string& name) {
    if (name.size() < 2 || name.back() < 'A' || name.back() > 'Z') return 0;
    return static_cast<uint16_t>(std::stoi(name.substr(0, name.size() - 1)) * 32 + (name.back() - 64));
}

// One field of a record description, and the bytes it stands for.
struct Field {
    std::string decl;   // "uint16 widths[]", "FontMetrics metrics"
    std::string value;  // the initialiser
    size_t size;
};

std::string List(const std::vector<long>& values, int perLine = 12) {
    std::string s = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        s += (i % perLine == 0 ? "\n        " : " ") + std::to_string(values[i]) + ",";
    }
    return s + "\n    }";
}

std::string Quote(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c < 32 || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            s += hex;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

struct Description {
    std::string comment;
    std::vector<Field> fields;
    size_t Size() const {
        size_t n = 0;
        for (const Field& f : fields) n += f.size;
        return n;
    }
    void Add(std::string decl, std::string value, size_t size) { fields.push_back({std::move(decl), std::move(value), size}); }
};

class FontFile {
public:
    FontFile(FT_Library lib, const fs::path& path) {
        if (FT_New_Face(lib, path.c_str(), 0, &face_) != 0) Die("FreeType cannot open " + path.string());
    }
    ~FontFile() { FT_Done_Face(face_); }
    FT_Face get() const { return face_; }
    const TT_OS2* Os2() const { return static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2)); }
    const TT_Postscript* Post() const {
        return static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face_, FT_SFNT_POST));
    }
    long Advance(FT_UInt glyph) const {
        FT_Fixed a = 0;
        FT_Get_Advance(face_, glyph, FT_LOAD_NO_SCALE, &a);
        return a;
    }
    // Height of a glyph's outline box above (top) or below (bottom) the baseline.
    long Top(FT_ULong c) const { return Box(c, true); }
    long Bottom(FT_ULong c) const { return Box(c, false); }

private:
    long Box(FT_ULong c, bool top) const {
        const FT_UInt g = FT_Get_Char_Index(face_, c);
        if (g == 0 || FT_Load_Glyph(face_, g, FT_LOAD_NO_SCALE) != 0) return 0;
        const FT_Glyph_Metrics& m = face_->glyph->metrics;
        return top ? m.horiBearingY : m.horiBearingY - m.height;
    }
    FT_Face face_ = nullptr;
};

// The Type 1 version of a font that Debian ships beside its OpenType
// version (opentype/X/F.otf -> type1/X/F.t1 or its metrics file F.afm).
fs::path TypeOneSibling(const fs::path& source, const char* extension) {
    const fs::path folder = source.parent_path();
    return folder.parent_path().parent_path() / "type1" / folder.filename() /
           fs::path(source.filename()).replace_extension(extension);
}

// Kerning pairs of the printable ASCII range: the font's own table, or for
// fonts that keep pairs only in their positioning tables, the metrics file
// that ships beside the font's Type 1 version.
std::vector<std::array<long, 3>> KerningPairs(const FontFile& font, const fs::path& source) {
    FT_Face f = font.get();
    std::vector<std::array<long, 3>> pairs;
    if (FT_HAS_KERNING(f)) {
        for (FT_ULong a = 0x20; a < 0x7F; ++a) {
            const FT_UInt ga = FT_Get_Char_Index(f, a);
            if (ga == 0) continue;
            for (FT_ULong b = 0x20; b < 0x7F; ++b) {
                const FT_UInt gb = FT_Get_Char_Index(f, b);
                FT_Vector k{};
                if (gb != 0 && FT_Get_Kerning(f, ga, gb, FT_KERNING_UNSCALED, &k) == 0 && k.x != 0) {
                    pairs.push_back({long(a), long(b), k.x});
                }
            }
        }
    } else {
        const fs::path afm = TypeOneSibling(source, ".afm");
        std::ifstream in(afm);
        std::map<FT_UInt, FT_ULong> ascii;
        for (FT_ULong c = 0x20; c < 0x7F; ++c) {
            if (const FT_UInt g = FT_Get_Char_Index(f, c)) ascii.emplace(g, c);
        }
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream s(line);
            std::string kpx, first, second;
            long amount = 0;
            if (!(s >> kpx >> first >> second >> amount) || kpx != "KPX" || amount == 0) continue;
            const auto a = ascii.find(FT_Get_Name_Index(f, first.c_str()));
            const auto b = ascii.find(FT_Get_Name_Index(f, second.c_str()));
            if (a == ascii.end() || b == ascii.end()) continue;
            // Metrics files count in thousandths of the em.
            pairs.push_back({long(a->second), long(b->second), std::lround(double(amount) * f->units_per_EM / 1000.0)});
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) { return std::abs(x[2]) > std::abs(y[2]); });
    if (pairs.size() > kMaxKerningPairs) pairs.resize(kMaxKerningPairs);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

// A character a font may print: not a control code (the tables carry DEL as
// the code pages do).
bool Printable(uint16_t c) { return c != zq::symsets::kNone && c >= 0x20 && !(c >= 0x7F && c < 0xA0); }

struct Segment {
    uint16_t start, end, delta;
};

// Writes one description; `id` is its resource id.
Description Describe(FT_Library lib, const Face& face, const fs::path& fontRoot,
                     const std::vector<zq::symsets::Table>& tables) {
    const fs::path source = fontRoot / face.source;
    const FontFile font(lib, source);
    const FT_Face f = font.get();
    const TT_OS2* os2 = font.Os2();
    const TT_Postscript* post = font.Post();
    if (os2 == nullptr) Die(face.source + ": no OS/2 table");
    const bool symbol = face.symbolSet != "-";
    const bool scalable = face.points == 0;
    const long em = f->units_per_EM;
    // Fixed-size fonts count in dots at the design resolution.
    auto dots = [&](long units) -> long {
        return scalable ? units : std::lround(double(units) * face.points * kDesignResolution / (72.0 * em));
    };

    // The characters: a text font covers what the symbol-set tables print and
    // the font has, in Unicode order, glyph 0 standing for any other; a symbol
    // font is indexed by its own byte codes.
    std::vector<uint16_t> codes;       // glyph i + 1 prints codes[i] (text fonts)
    std::vector<long> widths;          // per glyph, in design units or dots
    uint32_t mask = 0;
    std::vector<uint8_t> charSets;
    std::vector<Segment> segments;
    if (!symbol) {
        std::set<uint16_t> wanted;
        for (const auto& t : tables) {
            for (uint16_t c : t) {
                if (Printable(c)) wanted.insert(c);
            }
        }
        for (uint16_t c : wanted) {
            if (FT_Get_Char_Index(f, c) != 0) codes.push_back(c);
        }
        for (size_t i = 0; i < tables.size(); ++i) {
            const bool all = std::all_of(tables[i].begin(), tables[i].end(), [&](uint16_t c) {
                return !Printable(c) || FT_Get_Char_Index(f, c) != 0;
            });
            if (all) {
                mask |= zq::symsets::kSets[i].mask;
                charSets.push_back(zq::symsets::kSets[i].charSet);
            }
        }
        widths.push_back(dots(font.Advance(0)));
        for (uint16_t c : codes) widths.push_back(dots(font.Advance(FT_Get_Char_Index(f, c))));
        for (size_t i = 0; i < codes.size();) {
            size_t j = i;
            while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1) ++j;
            segments.push_back({codes[i], codes[j], static_cast<uint16_t>(i + 1 - codes[i])});
            i = j + 1;
        }
    } else {
        // The byte codes are those of the font's Type 1 version (its built-in
        // encoding), matched to this font's glyphs by name.
        const fs::path t1 = TypeOneSibling(source, ".t1");
        const FontFile coded(lib, t1);
        if (FT_Select_Charmap(coded.get(), FT_ENCODING_ADOBE_CUSTOM) != 0) Die(t1.string() + ": no built-in encoding");
        for (int b = 0; b < 256; ++b) {
            const FT_UInt g1 = b < 32 ? 0 : FT_Get_Char_Index(coded.get(), FT_ULong(b));
            char name[64] = {};
            FT_UInt g = 0;
            if (g1 != 0 && FT_Get_Glyph_Name(coded.get(), g1, name, sizeof name) == 0) {
                g = FT_Get_Name_Index(f, name);
            }
            widths.push_back(g == 0 ? 0 : font.Advance(g));
        }
        segments.push_back({0x20, 0xFF, 0});
    }
    segments.push_back({0xFFFF, 0xFFFF, 1});
    while (charSets.size() < 16) charSets.push_back(1);

    long maxWidth = 0;
    for (long w : widths) maxWidth = std::max(maxWidth, w);
    const bool variable = !FT_IS_FIXED_WIDTH(f);
    const long ascent = f->ascender, descent = f->descender;
    const long lineGap = std::max<long>(0, f->height - (ascent - descent));
    const long internalLeading = std::max<long>(0, ascent - descent - em);
    const auto kerning = scalable ? KerningPairs(font, source) : std::vector<std::array<long, 3>>{};
    const uint16_t n = static_cast<uint16_t>(widths.size());

    // The selection string: the standard face by its typeface number, the
    // size left to the driver (#HEIGHT, #PITCH) for scalable fonts; text
    // fonts start with the symbol-set placeholder the driver fills per run.
    std::string selection = symbol ? "\x1b(" + face.symbolSet : "\x1b(#SYMSET";
    char spec[96];
    if (scalable) {
        std::snprintf(spec, sizeof spec, "\x1b(s%dp%ds%db%dT\x1b(s%s", variable ? 1 : 0, face.style, face.weight,
                      face.typeface, variable ? "#HEIGHTV" : "#PITCHH");
    } else {
        const double pitch = 72.0 * em / (double(font.Advance(FT_Get_Char_Index(f, 'M'))) * face.points);
        std::snprintf(spec, sizeof spec, "\x1b(s0p%.2fh%dv%ds%db%dT", pitch, face.points, face.style, face.weight,
                      face.typeface);
    }
    selection += spec;

    Description d;
    char comment[256];
    std::snprintf(comment, sizeof comment, "%s%s, from %s (%s %s, revision %.5f)", face.name.c_str(),
                  scalable ? "" : (" " + std::to_string(face.points) + " pt").c_str(), face.source.c_str(),
                  f->family_name, f->style_name, FT_Get_Sfnt_Table(f, FT_SFNT_HEAD)
                      ? static_cast<const TT_Header*>(FT_Get_Sfnt_Table(f, FT_SFNT_HEAD))->Font_Revision / 65536.0
                      : 0.0);
    d.comment = comment;

    // Offsets: the fixed head, then the blocks in the order written below.
    const size_t widthsAt = 128;
    const size_t extensionAt = variable ? widthsAt + 2 * n : 126;
    size_t at = extensionAt + 44;
    const size_t extMetricsAt = scalable ? at : 0;
    at += scalable ? 52 : 0;
    const size_t extentAt = scalable ? at : 0;
    at += scalable ? 2 * n : 0;
    const size_t kerningAt = kerning.empty() ? 0 : at;
    at += 8 * kerning.size();
    const size_t driverAt = at;
    at += 34;
    const size_t panoseAt = at;
    at += 10;
    const size_t setsAt = at;
    at += 24;
    const size_t mapAt = at;
    const size_t segs = segments.size();
    at += 26 + 8 * segs + 2;
    const size_t faceAt = at;
    at += face.name.size() + 1;
    const size_t selectionAt = at;
    at += selection.size() + 1;
    const size_t xlNameAt = at;
    at += face.xlName.size() + 1;

    d.Add("uint16 format", "512", 2);
    d.Add("uint16 reserved", "0", 2);
    d.Add("uint32 size", std::to_string(at), 4);
    d.Add("pad[60]", "", 60);  // notice
    char metrics[1024];
    std::snprintf(metrics, sizeof metrics,
                  "{\n        type = 0x%02X, pointSize = %d, vertRes = %d, horzRes = %d,\n"
                  "        ascent = %ld, internalLeading = %ld, externalLeading = %ld,\n"
                  "        italic = %d, weight = %d, charSet = %d,\n"
                  "        pixWidth = %ld, pixHeight = %ld, pitchAndFamily = 0x%02X,\n"
                  "        avgWidth = %ld, maxWidth = %ld, characters = %u, firstChar = %u,\n"
                  "        faceName = %zu\n    }",
                  scalable ? 0x81 : 0x80, scalable ? kNominalPoints : face.points, kDesignResolution,
                  kDesignResolution, dots(ascent), dots(internalLeading), dots(lineGap),
                  (f->style_flags & FT_STYLE_FLAG_ITALIC) ? 1 : 0, os2->usWeightClass, symbol ? 2 : 1,
                  variable ? 0 : dots(os2->xAvgCharWidth), scalable ? em : dots(em),
                  FamilyBits(face.family) | (variable ? 1 : 0), dots(os2->xAvgCharWidth), maxWidth, n,
                  symbol ? 0u : unsigned(codes.front()), faceAt);
    d.Add(variable ? "FontMetrics metrics" : "FontMetricsFixedPitch metrics", metrics, variable ? 60 : 58);
    if (variable) d.Add("uint16 widths[]", List(widths), 2 * n);
    std::snprintf(metrics, sizeof metrics,
                  "{\n        extMetrics = %zu, extentTable = %zu, pairKernTable = %zu, driverInfo = %zu,\n"
                  "        panose = %zu, symbolSets = %zu, charMap = %zu\n    }",
                  extMetricsAt, extentAt, kerningAt, driverAt, panoseAt, setsAt, mapAt);
    d.Add("FontExtension extension", metrics, 44);
    if (scalable) {
        const long capHeight = os2->version >= 2 && os2->sCapHeight ? os2->sCapHeight : font.Top('H');
        const long xHeight = os2->version >= 2 && os2->sxHeight ? os2->sxHeight : font.Top('x');
        std::snprintf(metrics, sizeof metrics,
                      "{\n        pointSize = %d, masterHeight = %ld, minScale = 4, maxScale = 999, masterUnits = %ld,\n"
                      "        capHeight = %ld, xHeight = %ld, lowerCaseAscent = %ld, lowerCaseDescent = %ld,\n"
                      "        slant = %ld, superScript = %d, subScript = %d, superScriptSize = %d, subScriptSize = %d,\n"
                      "        underlineOffset = %d, underlineWidth = %d, strikeOutOffset = %d, strikeOutWidth = %d,\n"
                      "        kernPairs = %zu\n    }",
                      kNominalPoints * 20, em, em, capHeight, xHeight, font.Top('d'), -font.Bottom('p'),
                      post ? std::lround(-post->italicAngle / 65536.0 * 10) : 0L, os2->ySuperscriptYOffset,
                      -os2->ySubscriptYOffset, os2->ySuperscriptYSize, os2->ySubscriptYSize, -f->underline_position,
                      f->underline_thickness, os2->yStrikeoutPosition, os2->yStrikeoutSize, kerning.size());
        d.Add("ExtMetrics extMetrics", metrics, 52);
        d.Add("uint16 extent[]", List(widths), 2 * n);
    }
    if (!kerning.empty()) {
        std::string k = "{";
        for (const auto& p : kerning) {
            k += "\n        { first = " + std::to_string(p[0]) + ", second = " + std::to_string(p[1]) +
                 ", amount = " + std::to_string(p[2]) + " },";
        }
        d.Add("KernPair kerning[]", k + "\n    }", 8 * kerning.size());
    }
    std::snprintf(metrics, sizeof metrics,
                  "{ selection = %zu, ascent = %ld, descent = %ld, secondText = %zu, symbolSet = %u }", selectionAt,
                  dots(ascent), dots(descent), xlNameAt,
                  symbol ? SymbolSetValue(face.symbolSet) : SymbolSetValue(zq::symsets::kSets[0].name));
    d.Add("DriverInfo driverInfo", metrics, 34);
    std::vector<long> panose(os2->panose, os2->panose + 10);
    d.Add("uint8 panose[]", List(panose, 10), 10);
    std::vector<long> sets(charSets.begin(), charSets.end());
    char masks[64];
    std::snprintf(masks, sizeof masks, ",\n        mask1 = 0x%X, mask2 = 0\n    }", mask);
    std::string block = "{\n        charSets = {";
    for (size_t i = 0; i < sets.size(); ++i) block += (i ? ", " : " ") + std::to_string(sets[i]);
    d.Add("SymbolSetBlock symbolSets", block + " }" + masks, 24);
    int power = 1, log = 0;
    while (power * 2 <= int(segs)) power *= 2, ++log;
    std::snprintf(metrics, sizeof metrics,
                  "{ length = %zu, segCountX2 = %zu, searchRange = %d, entrySelector = %d, rangeShift = %zu }",
                  16 + 8 * segs, 2 * segs, 2 * power, log, 2 * segs - 2 * power);
    d.Add("CharMapHead charMap", metrics, 26);
    std::vector<long> ends, starts, deltas;
    for (const Segment& s : segments) ends.push_back(s.end), starts.push_back(s.start), deltas.push_back(s.delta);
    d.Add("uint16 endCodes[]", List(ends, 8), 2 * segs);
    d.Add("uint16 reservedPad", "0", 2);
    d.Add("uint16 startCodes[]", List(starts, 8), 2 * segs);
    d.Add("uint16 deltas[]", List(deltas, 8), 2 * segs);
    d.Add("uint16 rangeOffsets[" + std::to_string(segs) + "]", "", 2 * segs);
    d.Add("char[" + std::to_string(face.name.size() + 1) + "] face", Quote(face.name), face.name.size() + 1);
    d.Add("char[" + std::to_string(selection.size() + 1) + "] selection", Quote(selection), selection.size() + 1);
    d.Add("char[" + std::to_string(face.xlName.size() + 1) + "] xlName", Quote(face.xlName), face.xlName.size() + 1);
    if (d.Size() != at) Die(face.source + ": layout of " + std::to_string(d.Size()) + " bytes, not " + std::to_string(at));
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string help =
        "usage: fontgen FACES.txt OUTPUT.rec [FONT-ROOT] [--face-table FILE]\n\n"
        "Writes the resident font descriptions (type 258) and the models' font\n"
        "lists (type 265) for the faces of FACES.txt, reading the fonts it names\n"
        "below FONT-ROOT (default /usr/share/fonts) through FreeType.\n"
        "--face-table also writes the face table that the test-side renderers\n"
        "draw printer text with: one line per font description, tab-separated:\n"
        "face, PCL typeface number, style, stroke weight, points, symbol set,\n"
        "source font file, PCL XL name.\n";
    std::vector<std::string> args;
    std::string faceTable;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s", help.c_str());
            return 0;
        }
        if (a == "--face-table" && i + 1 < argc) faceTable = argv[++i];
        else args.push_back(a);
    }
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "%s", help.c_str());
        return 2;
    }
    const fs::path root = args.size() == 3 ? args[2] : "/usr/share/fonts";
    const auto faces = ReadFaces(args[0]);
    std::vector<zq::symsets::Table> tables;
    for (const auto& s : zq::symsets::kSets) {
        const auto t = zq::symsets::MakeTable(s);
        if (!t) Die(std::string("iconv has no ") + s.codePage);
        tables.push_back(*t);
    }
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) Die("FreeType does not start");
    std::string out =
        "// The models' resident fonts, written by tools/fontgen from\n"
        "// settings/res/resident_faces.txt and the fonts it names; do not edit.\n"
        "// Layouts: font_layout.rec.\n";
    std::map<char, std::vector<long>> lists;
    for (size_t i = 0; i < faces.size(); ++i) {
        std::fprintf(stderr, "\r%zu of %zu faces", i + 1, faces.size());
        const Description d = Describe(lib, faces[i], root, tables);
        out += "\n// " + d.comment + "\nRECORD 258 " + std::to_string(i + 1) + " {\n";
        for (const Field& f : d.fields) {
            out += "    " + f.decl + (f.value.empty() ? "" : " = " + f.value) + ";\n";
        }
        out += "}\n";
        for (char m : faces[i].models) {
            if (!std::strchr(kModelLetters, m)) Die("unknown model letter " + std::string(1, m));
            lists[m].push_back(long(i));  // the list holds resource id - 1
        }
    }
    std::fprintf(stderr, "\n");
    FT_Done_FreeType(lib);
    const char* names[] = {"Mira 12", "Tarn 45 XL", "Corvo C30"};
    for (int m = 0; m < 3; ++m) {
        std::vector<long> ids = lists[kModelLetters[m]];
        ids.push_back(-1);
        out += "\n// " + std::string(names[m]) + "\nRECORD 265 " + std::to_string(m + 1) + " {\n    sint16 fonts[] = " +
               List(ids, 16) + ";\n}\n";
    }
    std::ofstream file(args[1], std::ios::binary | std::ios::trunc);
    file << out;
    if (!file) Die("cannot write " + args[1]);
    if (!faceTable.empty()) {
        std::ofstream table(faceTable, std::ios::binary | std::ios::trunc);
        table << "# The printer's faces and the fonts the test-side renderers draw them\n"
                 "# with, written by tools/fontgen from settings/res/resident_faces.txt;\n"
                 "# do not edit. face, typeface, style, weight, points, symset, source,\n"
                 "# PCL XL name.\n";
        for (const Face& f : faces)
            table << f.name << '\t' << f.typeface << '\t' << f.style << '\t' << f.weight << '\t' << f.points << '\t'
                  << f.symbolSet << '\t' << (root / f.source).string() << '\t' << f.xlName << '\n';
        if (!table) Die("cannot write " + faceTable);
    }
    return 0;
}
