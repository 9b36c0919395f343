// The engine side of the graphics engine: loading a printer driver, calling
// its hooks in the order drivers rely on, the display list of a page and its
// replay band by band, and the engine objects behind SURFOBJ, CLIPOBJ,
// BRUSHOBJ and XLATEOBJ.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "gdi/ddi.h"

namespace zq::gdi {

// ---- Regions: non-overlapping rectangles, sorted top to bottom, then left
// to right (the order CD_RIGHTDOWN enumerates).
class Region {
public:
    Region() = default;
    explicit Region(const RECTL& r);
    static Region FromRects(std::span<const RECTL> rects);  // union of any rectangles

    bool Empty() const { return rects_.empty(); }
    std::span<const RECTL> Rects() const { return rects_; }
    RECTL Bounds() const;
    bool IsRect() const { return rects_.size() == 1; }

    Region Intersect(const Region& other) const;
    Region Union(const Region& other) const;
    Region Subtract(const Region& other) const;
    Region Offset(LONG dx, LONG dy) const;
    bool Contains(LONG x, LONG y) const;
    bool operator==(const Region& other) const;

private:
    std::vector<RECTL> rects_;
};

RECTL IntersectRect(const RECTL& a, const RECTL& b);
bool RectEmpty(const RECTL& r);
RECTL OrderRect(const RECTL& r);  // left <= right, top <= bottom

// ---- Palettes -----------------------------------------------------------

// Behind HPALETTE. Colours are COLORREF values: red in the low byte.
struct Palette {
    ULONG mode = PAL_RGB;
    std::vector<COLORREF> entries;  // PAL_INDEXED
    FLONG red = 0, green = 0, blue = 0;  // PAL_BITFIELDS masks

    COLORREF ToRgb(ULONG pixel) const;
    ULONG FromRgb(COLORREF rgb) const;  // nearest entry for indexed palettes
};

Palette* PaletteFromHandle(HPALETTE h);
// The palette a bitmap of this format has when nobody gave it one: black and
// white for 1 bit, the 16 and 256 standard colours, 5-5-5 for 16 bits, and
// 0x00RRGGBB (bytes blue, green, red) for 24 and 32.
const Palette& DefaultPalette(ULONG format);

// ---- Surfaces -----------------------------------------------------------

class Device;
struct DeviceFace;

struct Surface : SURFOBJ {
    std::vector<BYTE> storage;  // engine-owned bits (empty for user memory and device surfaces)
    FLONG hooks = 0;
    bool banding = false;
    int locks = 0;
    Device* device = nullptr;
    // The device whose DrvDitherColor dithers solid colours drawn on this
    // engine bitmap (the reference render of the device's page); no hooks
    // are called for it otherwise.
    Device* ditherDevice = nullptr;
    const Palette* palette = nullptr;  // colour meaning of the pixels; null: DefaultPalette

    const Palette& Pal() const;
    bool HasBits() const { return pvScan0 != nullptr; }
    BYTE* Row(LONG y) const { return static_cast<BYTE*>(pvScan0) + static_cast<ptrdiff_t>(y) * lDelta; }
    ULONG Pixel(LONG x, LONG y) const;
    void SetPixel(LONG x, LONG y, ULONG value);
};

Surface* SurfaceFromHandle(HSURF h);
Surface* SurfaceFromObject(SURFOBJ* so);  // null for a SURFOBJ the engine did not make
LONG StrideOf(LONG width, ULONG format);  // bytes a row, padded to 32 bits

// An engine bitmap owned by C++ code (EngDeleteSurface on destruction).
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(LONG width, LONG height, ULONG format, FLONG flags = BMF_TOPDOWN);
    ~Bitmap();
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    explicit operator bool() const { return surface_ != nullptr; }
    Surface* Get() const { return surface_; }
    SURFOBJ* Object() const { return surface_; }
    HSURF Handle() const { return surface_ ? surface_->hsurf : nullptr; }

private:
    Surface* surface_ = nullptr;
};

// ---- Engine objects -----------------------------------------------------

// A clip object the engine made: a region in the coordinates of the call.
struct EngineClip : CLIPOBJ {
    explicit EngineClip(const Region& region, std::optional<RECTL> limit = std::nullopt);
    EngineClip(const EngineClip&) = delete;
    EngineClip& operator=(const EngineClip&) = delete;
    ~EngineClip();

    Region region;
    std::vector<RECTL> order;  // rectangles in the order of the running enumeration
    size_t next = 0;
};

// The region a CLIPOBJ stands for, limited to `bounds`: its rectangles for an
// engine clip, else its bounds (DC_RECT) or `bounds` (DC_TRIVIAL or null).
Region ClipRegion(const CLIPOBJ* pco, const RECTL& bounds);

// Colour translation between two palettes, or by a table for indexed sources.
struct EngineXlate : XLATEOBJ {
    EngineXlate(const Palette& source, const Palette& target);
    EngineXlate(const EngineXlate&) = delete;
    EngineXlate& operator=(const EngineXlate&) = delete;
    ~EngineXlate();

    const Palette* source;
    const Palette* target;
    std::vector<ULONG> table;
    ULONG Translate(ULONG pixel) const;
};

// What an application brush is made of.
struct LogicalBrush {
    enum class Kind { Solid, Hatch, Pattern, Null } kind = Kind::Solid;
    COLORREF color = 0;          // solid colour or hatch foreground
    COLORREF background = 0xFFFFFF;  // hatch background
    ULONG hatch = 0;             // HS_*
    std::shared_ptr<Bitmap> pattern;   // pattern bits
    std::shared_ptr<Palette> patternPalette;  // colours of an indexed pattern (null: the bitmap's)
};

// The 8 x 8 one-bit tile of a standard hatch style, top row first, 1 = line.
std::span<const BYTE, 8> HatchBits(ULONG style);

// A brush realised for one target surface: the BRUSHOBJ handed to drivers.
struct EngineBrush : BRUSHOBJ {
    EngineBrush(const LogicalBrush& brush, Surface* target);
    EngineBrush(const EngineBrush&) = delete;
    EngineBrush& operator=(const EngineBrush&) = delete;
    ~EngineBrush();

    LogicalBrush logical;
    Surface* target;
    std::vector<BYTE> driverRealization;  // what BRUSHOBJ_pvAllocRbrush gave out
    bool realizing = false;
    // The engine's own pattern in the target's format (pattern, hatch or
    // dithered colour); empty for a solid colour.
    std::unique_ptr<Bitmap> enginePattern;

    // Makes enginePattern on first use; false when the brush cannot be drawn.
    bool EnsureEnginePattern();
};

EngineBrush* BrushFromObject(BRUSHOBJ* pbo);

// ---- Drivers and devices ------------------------------------------------

// A loaded printer driver and its hook table. Unloading calls
// DrvDisableDriver.
class Driver {
public:
    static std::shared_ptr<Driver> Load(const std::string& path);  // null: last error set
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    PFN Hook(ULONG index) const { return index <= INDEX_LAST ? hooks_[index] : nullptr; }
    template <class F>
    F Get(ULONG index) const { return reinterpret_cast<F>(Hook(index)); }
    const std::string& Path() const { return path_; }

private:
    Driver() = default;
    HMODULE module_ = nullptr;
    std::string path_;
    PFN hooks_[INDEX_LAST + 1] = {};
};

// One drawing operation of a page, kept so that the page can be replayed
// band by band. New kinds of drawing (paths, text) add their own records.
struct PlayContext {
    SURFOBJ* surface = nullptr;  // where the record draws
    Device* device = nullptr;    // null when the engine draws alone (reference render)
    POINTL origin{0, 0};         // band origin in page coordinates
    RECTL band{0, 0, 0, 0};      // band rectangle in page coordinates
    // When set, the stretch mode of every stretched image in place of the
    // one its DC chose (the reference render of a page whose driver
    // halftones images).
    std::optional<ULONG> imageStretchMode;

    // Page coordinates to surface coordinates.
    RECTL ToBand(const RECTL& r) const { return {r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y}; }
    POINTL ToBand(const POINTL& p) const { return {p.x - origin.x, p.y - origin.y}; }
    // The clip of a record (page coordinates) cut to the band, in surface
    // coordinates; empty when nothing of it lies in the band.
    Region BandClip(const Region& pageClip) const;
    // The hooks of the surface's device that the surface asked for.
    bool Hooked(FLONG hook) const;
};

class Record {
public:
    virtual ~Record() = default;
    // False when the drawing failed (the page goes on).
    virtual bool Play(PlayContext& ctx) const = 0;
};

using DisplayList = std::vector<std::shared_ptr<const Record>>;

// Plays every record of a page onto one surface (one band or the page).
bool PlayList(const DisplayList& list, PlayContext& ctx);
// Plays one record as PlayList does: on a device's page, the driver's own
// bitmaps take the device's halftone cell (a driver that draws its page
// without banding gets the same dots as one that bands).
bool PlayRecord(const Record& record, PlayContext& ctx);
// The device whose page is being played on this thread (null when none).
Device* PlayingFor();

// The engine side of one device context on a driver: DrvEnablePDEV through
// DrvDisablePDEV.
class Device {
public:
    // DrvEnablePDEV, DrvCompletePDEV, DrvEnableSurface; null when any fails
    // (the last error is the driver's, or 87/8 from the engine).
    static std::unique_ptr<Device> Enable(std::shared_ptr<Driver> driver, const DEVMODEW* devmode,
                                          std::u16string_view deviceName, std::u16string_view logicalAddress,
                                          HANDLE printer);
    // DrvDisableSurface and DrvDisablePDEV.
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    HDEV Handle() { return reinterpret_cast<HDEV>(this); }
    static Device* FromHandle(HDEV h);
    DHPDEV Pdev() const { return pdev_; }
    Driver& Drv() const { return *driver_; }
    const GDIINFO& Info() const { return gdiInfo_; }
    const DEVINFO& DevInfo() const { return devInfo_; }
    const Palette& Pal() const;
    SURFOBJ* SurfaceObject() const { return surface_; }
    RECTL PageRect() const;
    bool Banding() const;

    BOOL StartDoc(std::u16string_view documentName, DWORD jobId);
    BOOL StartPage();
    // Ends the page: replays `page` band by band (DrvStartBanding and
    // DrvNextBand) on a banding surface, then or else DrvSendPage.
    BOOL EndPage(const DisplayList& page);
    BOOL EndDoc(FLONG flags);
    ULONG Escape(ULONG code, std::span<const BYTE> in, std::span<BYTE> out);
    // A new PDEV for the new DEVMODE; DrvResetPDEV hands the state over and the
    // old PDEV is disabled. False leaves the old one in place.
    BOOL Reset(const DEVMODEW* devmode);

    // Colour dithering through DrvDitherColor; nullopt when the driver does
    // not hook it or asks the engine to halftone.
    std::optional<Bitmap> DitherColor(COLORREF rgb);

    // Hands a block the driver gave out back through DrvFree.
    void Free(void* block, ULONG_PTR id);

    // The faces the driver offers (DrvQueryFont, DrvQueryFontTree), asked
    // once per PDEV.
    const std::vector<std::shared_ptr<const DeviceFace>>& Faces();

private:
    Device() = default;
    BOOL EnablePdev(const DEVMODEW* devmode, DHPDEV* out, GDIINFO* gdi, DEVINFO* dev);
    void DisableAll();

    std::shared_ptr<Driver> driver_;
    DHPDEV pdev_ = nullptr;
    HSURF hsurf_ = nullptr;
    SURFOBJ* surface_ = nullptr;
    GDIINFO gdiInfo_{};
    DEVINFO devInfo_{};
    std::u16string deviceName_;
    std::u16string logicalAddress_;
    HANDLE printer_ = nullptr;
    Palette palette_;  // copy of the driver's default palette, which it may delete first
    std::optional<std::vector<std::shared_ptr<const DeviceFace>>> faces_;
};

// ---- The reference render -----------------------------------------------

// Draws a page's display list onto one unbanded engine bitmap of the page
// size, the engine alone (no driver hooks). Solid colours that the format
// cannot show are dithered by `ditherDevice`'s DrvDitherColor when it has
// one, as on the device's own bands, else by the engine. On a one-bit page of
// a device with GCAPS_HALFTONE, stretched images are halftoned by the engine,
// aligned to the page, as that device's bands stretch them.
Bitmap RenderPage(const DisplayList& page, SIZEL size, ULONG format, Device* ditherDevice = nullptr);
// Writes an engine bitmap as PNG (RGB, 8 bits a channel). False on failure.
bool WritePng(const Surface& surface, const std::string& path);

}  // namespace zq::gdi
