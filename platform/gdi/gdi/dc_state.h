// Per-DC state of vector drawing and text, and the display-list records
// they draw with. Internal to the engine.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "gdi/dc_draw.h"

namespace zq::gdi {

// What SaveDC keeps and RestoreDC brings back.
struct DrawCore {
    PenObject* pen = nullptr;    // null: the stock black pen
    FontObject* font = nullptr;  // null: the stock system font
    POINTL current{0, 0};        // logical
    int mapMode = MM_TEXT;
    POINTL windowOrg{0, 0}, viewportOrg{0, 0};
    SIZEL windowExt{1, 1}, viewportExt{1, 1};
    int graphicsMode = GM_COMPATIBLE;
    XFORML world{1, 0, 0, 1, 0, 0};
    int polyFillMode = ALTERNATE;
    int rop2 = R2_COPYPEN;
    int arcDirection = AD_COUNTERCLOCKWISE;
    FLOAT miterLimit = 10.0f;
    UINT textAlign = TA_LEFT | TA_TOP;
    int charExtra = 0;
    int breakExtra = 0, breakCount = 0;
};

struct SavedDc {
    DrawCore draw;
    BrushObject* brush = nullptr;
    COLORREF bkColor = 0, textColor = 0;
    int bkMode = 0, stretchMode = 0;
    POINTL brushOrigin{0, 0};
    std::optional<Region> clip;
};

// Fonts realised before, by face, em height, weight, italic, resolution,
// baseline angle, width scale and glyph angle.
using RealisedFontKey =
    std::tuple<const FontFile*, int, double, int, bool, LONG, LONG, double, double, std::optional<double>>;
using KeptFonts = std::map<RealisedFontKey, std::shared_ptr<EngineFont>>;

struct DrawState : DrawCore {
    Path path;                  // device coordinates, 28.4
    bool pathOpen = false;      // between BeginPath and EndPath
    bool pathDone = false;      // a closed bracket waits to be used
    std::shared_ptr<EngineFont> realised;  // the selected font at the current transform
    KeptFonts keptFonts;                    // a printer DC's fonts realised before
    std::vector<SavedDc> saved;
    // Applied after the page transform while a metafile plays: its
    // reference device onto this one.
    XFORML playback{1, 0, 0, 1, 0, 0};
    // The metafile's reference device while it plays (pixels and
    // micrometres): its metric and English mapping modes are sized on it.
    SIZEL referencePixels{0, 0}, referenceMicrometers{0, 0};

    DrawCore Snapshot() const { return static_cast<const DrawCore&>(*this); }
    void Restore(const DrawCore& c) {
        static_cast<DrawCore&>(*this) = c;
        realised.reset();
    }
};

DrawState& State(DeviceContext& dc);

// A path stroked and/or filled, in page coordinates.
class PathRecord : public Record {
public:
    struct Pen {
        LogicalBrush brush;
        FLONG flags = 0;         // LA_*
        ULONG join = JOIN_ROUND, cap = ENDCAP_ROUND;
        float width = 0;         // geometric: world units
        float miterLimit = 10;
        std::vector<float> style;
        XFORML xform{1, 0, 0, 1, 0, 0};  // world to device, linear part
    };
    Path path;
    Region clip;
    POINTL brushOrigin{0, 0};
    FLONG fillMode = FP_ALTERNATEMODE;
    MIX mix = 0x0D0D;
    std::optional<LogicalBrush> fill;
    std::optional<Pen> stroke;

    bool Play(PlayContext& ctx) const override;
};

// A string in a realised font, in page coordinates.
class TextRecord : public Record {
public:
    std::shared_ptr<EngineFont> font;
    std::vector<HGLYPH> glyphs;
    std::vector<POINTL> positions;
    std::u16string text;
    bool defaultPlacement = true;
    bool glyphIndex = false;
    Region clip;
    LogicalBrush fore;
    std::optional<RECTL> opaque;
    LogicalBrush opaqueBrush;
    std::vector<RECTL> extra;  // underline and strike-out
    POINTL brushOrigin{0, 0};  // page coordinates, as every band must see it
    MIX mix = 0x0D0D;

    bool Play(PlayContext& ctx) const override;

private:
    // All that playing the string can touch on the page: its glyphs' bits,
    // the origins a driver places glyphs by, its background box and the
    // opaque and extra rectangles. Worked out on the first play, so that the
    // bands it misses cost nothing after.
    RECTL Reach() const;
    mutable std::optional<RECTL> reach_;
};

// Dots per inch of the DC's device; memory DCs count as 96, as screens do.
int DpiX(DeviceContext& dc);
int DpiY(DeviceContext& dc);

// A logical point in device 28.4 through a transform.
POINTFIX ToFix(const XFORML& m, double x, double y);
// A logical rectangle in device pixels: the bounding box of its corners under
// the DC's transform, reversed again where the logical one was (a mirrored
// stretch stays mirrored).
RECTL LogicalRectToDevice(DeviceContext& dc, const RECTL& r);
// Fills or inverts a rectangle given in device pixels, with `brush` or the
// DC's brush (region records of a metafile are in device pixels).
bool DeviceRectBlt(DeviceContext& dc, const RECTL& device, DWORD rop, const LogicalBrush* brush);

// The selected font realised for the DC's current transform.
std::shared_ptr<EngineFont> RealisedFont(DeviceContext& dc);

}  // namespace zq::gdi
