// Fonts of the engine: faces found through fontconfig, read with FreeType,
// realised at a size as the FONTOBJ that drivers receive.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gdi/ddi_font.h"

namespace zq::gdi {

// The bytes of one font file (a collection stays whole).
class FontFile {
public:
    static std::shared_ptr<FontFile> Open(const std::string& path);  // null when unreadable
    ~FontFile();
    std::span<const uint8_t> Bytes() const { return {data_, size_}; }
    const std::string& Path() const { return path_; }
    bool IsCollection() const { return size_ >= 4 && std::string_view(reinterpret_cast<const char*>(data_), 4) == "ttcf"; }

private:
    std::string path_;
    // The file mapped read-only (only the tables a document uses are ever
    // read in: collections of large scripts are tens of megabytes), or,
    // where it cannot be mapped, read whole into bytes_.
    void* map_ = nullptr;
    std::vector<uint8_t> bytes_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

struct FontFace {
    std::shared_ptr<FontFile> file;
    int index = 0;              // face within a collection
    std::string family;         // as the font names it
    std::string style;
    int weight = 400;
    bool italic = false;
};

// The face fontconfig chooses for a family, weight and slant. Aliases the
// system knows (metric-compatible substitutes) are followed.
// Answers are kept in the process and in the system root (when it exists)
// for later processes, as long as the host's font configuration stays as it
// was.
std::optional<FontFace> FindFont(std::string_view family, int weight, bool italic);
// Drops the answers this process keeps; the next question reads the root's
// file again.
void ForgetFontAnswers();
// The scalable families installed, sorted, each once.
std::vector<std::string> FontFamilies();

// The source font a printer face is drawn with where the engine draws
// printer text itself (the reference render): the face table's row for the
// family (without a symbol-set suffix such as " (W1)") closest in slant and
// weight. The face carries the row's weight and slant.
std::optional<FontFace> DeviceFaceSource(std::u16string_view family, int weight, bool italic);

class Device;
struct SharedFtFace;

// A face the printer's driver offers (DrvQueryFont), with its glyph set and
// kerning pairs (DrvQueryFontTree), copied out of what the driver handed
// over and gave back through DrvFree.
struct DeviceFace {
    ULONG index = 0;                  // iFace, from 1
    std::u16string family;            // the family name of the IFIMETRICS
    std::vector<uint64_t> ifi;        // the IFIMETRICS and what follows it, 8-byte aligned
    std::map<char16_t, HGLYPH> glyphs;  // character to glyph handle
    std::vector<FD_KERNINGPAIR> kerning;
    const IFIMETRICS& Ifi() const { return *reinterpret_cast<const IFIMETRICS*>(ifi.data()); }
};

// The device face an application's face name asks for: the family name
// compared without regard to case, then the face closest in slant and
// weight; null when the driver offers no face of that name.
std::shared_ptr<const DeviceFace> MatchDeviceFace(Device& device, std::u16string_view name, int weight, bool italic);
// Whether the printer prints `face` with its baseline at `angle` degrees
// (counterclockwise as seen): upright always; turned by a right angle when
// the face allows 90-degree rotations or any transform; no other angle.
bool DeviceFaceTurns(const DeviceFace& face, double angle);

// A font realised at a size: the FONTOBJ handed to drivers and EngTextOut.
class EngineFont : public FONTOBJ {
public:
    // `emPixels`: em height in device pixels. Bold or italic that the face
    // lacks are simulated (FO_SIM_BOLD, FO_SIM_ITALIC).
    // `angle`: the baseline's direction in degrees, counterclockwise as seen
    // on the device; glyphs are turned with it, or by `glyphAngle` when one
    // is given (a font's orientation apart from its escapement). `widthScale`
    // widens (above 1) or narrows the glyphs and their advances along the
    // baseline.
    static std::unique_ptr<EngineFont> Create(const FontFace& face, double emPixels, int weight, bool italic,
                                              SIZE resolution, double angle = 0, double widthScale = 1,
                                              std::optional<double> glyphAngle = std::nullopt);
    // A device face of `device` (FO_TYPE_DEVICE): widths come from
    // DrvQueryAdvanceWidths and metrics from DrvQueryFontData; the engine
    // has no glyph bits or outlines for it.
    // `angle` as for Create: a turned printer face turns its transform.
    static std::unique_ptr<EngineFont> CreateDevice(Device& device, std::shared_ptr<const DeviceFace> face,
                                                    double emPixels, int weight, bool italic, SIZE resolution,
                                                    double angle = 0);
    bool IsDevice() const { return deviceFace_ != nullptr; }
    const DeviceFace* DeviceFaceOf() const { return deviceFace_.get(); }
    // Asks the driver at once for the advances of glyphs not yet known (one
    // DrvQueryAdvanceWidths call for a string); nothing for TrueType.
    void QueryAdvances(const std::vector<HGLYPH>& glyphs);
    ~EngineFont();
    EngineFont(const EngineFont&) = delete;
    EngineFont& operator=(const EngineFont&) = delete;

    const FontFace& Face() const { return face_; }
    double EmPixels() const { return em_; }
    double Angle() const { return angle_; }
    IFIMETRICS* Ifi();
    Xform* Transform() { return &xform_; }
    HGLYPH GlyphOf(char32_t ch) const;
    // Glyph data with bits or a path; null for a glyph the font cannot give.
    GLYPHDATA* Glyph(HGLYPH hg, ULONG mode);
    // Where a glyph's bits lie from its origin (device pixels), known
    // without making them; false for a glyph that has no bits.
    bool BitsBox(HGLYPH hg, RECTL* box);
    // The glyph's bits as far as `part` (from its origin) needs them: a
    // glyph of ordinary size gives its whole bits, made once and kept; a
    // large one is rasterised for `part` alone into `store`, so that drawing
    // a glyph far larger than the surface costs what is drawn of it. Null
    // for a glyph without bits there.
    const GLYPHBITS* BitsCovering(HGLYPH hg, const RECTL& part, std::vector<uint64_t>& store);
    // Advance in 28.4.
    FIX Advance(HGLYPH hg);
    // Ascent and descent of the realised font in pixels (from the Windows
    // metrics of OS/2), and the external leading.
    LONG Ascent() const { return ascent_; }
    LONG Descent() const { return descent_; }
    LONG Leading() const { return leading_; }
    LONG AverageWidth() const { return avgWidth_; }
    char16_t MapBack(HGLYPH hg);  // the character of a glyph (0 when none)

private:
    EngineFont() = default;
    struct Glyph_;
    Glyph_* Load(HGLYPH hg);
    Glyph_* Keep(HGLYPH hg, std::unique_ptr<Glyph_> g);
    void LoadPath(HGLYPH hg, Glyph_& g);
    const GLYPHBITS* RenderPart(Glyph_& g, const RECTL& part, std::vector<uint64_t>& store) const;
    void ReadKeptGlyphs();
    void WriteKeptGlyphs() const;
    FIX SlotAdvance() const;  // of the glyph FreeType's slot holds
    void Activate() const;    // this font's size and transform on the shared face

    FontFace face_;
    Device* device_ = nullptr;
    std::shared_ptr<const DeviceFace> deviceFace_;
    std::map<HGLYPH, FIX> deviceAdvances_;
    std::map<HGLYPH, FIX> advances_;  // engine glyphs measured, not (yet) drawn
    double em_ = 0;
    double angle_ = 0;
    double widthScale_ = 1;
    double glyphAngle_ = 0;
    // The face is opened once per font file and shared by every size
    // realised from it; this font's own size and transform are set on it
    // (under its lock) whenever a glyph is loaded.
    std::shared_ptr<SharedFtFace> shared_;
    void* ftFace_ = nullptr;   // FT_Face, shared_'s
    void* ftSize_ = nullptr;   // FT_Size
    long matrix_[4] = {0x10000, 0, 0, 0x10000};  // FT_Matrix: xx, xy, yx, yy
    Xform xform_;
    std::vector<uint8_t> ifi_;
    std::map<HGLYPH, std::unique_ptr<Glyph_>> glyphs_;
    // The engine glyphs of glyphs_ by handle, for the handles a face's
    // usual glyphs have: every band of a page looks its glyphs up again.
    std::vector<Glyph_*> loaded_;
    std::map<HGLYPH, char16_t> reverse_;
    // Glyphs made by earlier processes, read from the system root's file
    // for this font (`keptFile_`, empty without a root) on the first glyph
    // asked for; `rendered_` counts the glyphs FreeType made here, which
    // the file is written again for when the font goes.
    std::string keptFile_;
    std::string keptKey_;
    bool keptRead_ = false;
    std::map<HGLYPH, std::unique_ptr<Glyph_>> keptGlyphs_;
    size_t rendered_ = 0;
    LONG ascent_ = 0, descent_ = 0, leading_ = 0, avgWidth_ = 0;
};

EngineFont* FontFromObject(FONTOBJ* pfo);  // null for a font the engine did not make

// IFIMETRICS of a face read from its tables, in font units (the notional
// space). `simulateBold`/`simulateItalic` add the FONTDIFFs of simulations.
std::vector<uint8_t> BuildIfiMetrics(const FontFace& face, void* ftFace);

}  // namespace zq::gdi
