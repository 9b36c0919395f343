// The device record: one per device context, the state every part of the
// renderer works on. It is an ordinary C++ record; the byte image that escape
// 5012 hands to the interface library is produced from it by
// device_record_image.h, which alone knows the image's offsets.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/types.h"
#include "render/device_fonts.h"
#include "render/hpgl_state.h"
#include "render/xl_state.h"
#include "settings/devmode.h"

namespace pclrend {

struct StreamState;  // render/spool_stream.h
struct DownloadedFonts;  // render/font_table.h
struct TextQueue;  // render/text_queue.h
struct GlyphInkCache;  // render/glyph_ink.cpp
struct GlyphOutlineCache;  // render/xl_draw.cpp

// Where the finished job goes. The real sink is the spooler's WritePrinter;
// tests capture the bytes or make writes fail.
class Sink {
public:
    virtual ~Sink() = default;
    // Writes what it can of `size` bytes and returns how many it wrote
    // (0 means the write failed).
    virtual uint32_t Write(const uint8_t* bytes, uint32_t size) = 0;
};

// Values of `jobState`.
constexpr uint16_t kJobIdle = 0;
constexpr uint16_t kJobOpen = 1;
constexpr uint16_t kJobPageOpen = 2;  // bit value, set while a page is open

constexpr uint32_t kBufferSize = 65535;  // main, deferred and scratch buffers

// One n-up cell in device pixels of the sheet.
struct Cell {
    uint32_t left = 0, top = 0, right = 0, bottom = 0;
};

// A one-bit band as the engine drew it: 1 = white, rows top to bottom,
// leftmost pixel in bit 7. The rows are inverted in place while they are
// sent (the caller clears the band afterwards).
struct MonoBand {
    uint8_t* bits = nullptr;
    int32_t stride = 0;  // bytes from one row to the next
    int32_t width = 0;   // pixels
    int32_t height = 0;  // rows
};

// A rectangle the engine filled in the band with a grey's pattern, which the
// band flush may send as a PCL pattern fill instead (band pixels).
struct GreyRectangle {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    uint16_t key = 0;         // the grey's brushKey
    uint8_t pattern[128]{};   // its 32 x 32 pattern, 1 = white
};

// Output languages (`language`).
enum class Language : uint8_t {
    MonoRaster = 0,
    Pcl5Gl2 = 1,
    PclXl = 2,
    SpoolStream = 4,
    ColourRaster = 5,
};

struct DeviceRecord {
    // Engine and spooler handles (opaque here; the entry points know their types).
    void* printer = nullptr;          // spooler printer handle
    void* resourceModule = nullptr;   // the driver file loaded as a resource module
    void* engineDevice = nullptr;     // HDEV from DrvCompletePDEV
    void* deviceSurface = nullptr;    // HSURF made by DrvEnableSurface
    void* bandBitmap = nullptr;       // HSURF of the band bitmap (raster languages)
    void* bandSurface = nullptr;      // its locked SURFOBJ
    void* palette = nullptr;          // HPALETTE of the device
    uint32_t paletteColours = 0;
    uint32_t bandBudget = 0;
    uint8_t wasReset = 0;
    uint8_t bandingMarked = 0;
    uint8_t journal = 0;
    uint8_t outputMode = 1;
    uint8_t manualDuplexPrompt = 0;
    uint32_t manualDuplexFlags = 0;  // bit 0: DEVMODE 1233 bit 0; 8: duplex done by the host
    uint8_t bookletMode = 0;         // DEVMODE 1081
    uint8_t option2061 = 0;          // DEVMODE 1236, carried across a reset
    uint16_t glState = 0;
    uint16_t ttOption = 0;
    std::unique_ptr<Sink> ownSink;    // the spooler sink of a real job

    // Output (buffers and the sink they drain into).
    Sink* sink = nullptr;
    uint16_t jobState = kJobIdle;
    bool documentLost = false;  // a write failed during this document
    bool pageFailed = false;    // a band of the page could not be sent
    std::unique_ptr<uint8_t[]> mainBuffer;
    std::unique_ptr<uint8_t[]> deferredBuffer;
    std::unique_ptr<uint8_t[]> scratchBuffer;
    uint32_t mainFill = 0;
    uint32_t deferredFill = 0;
    bool deferredActive = false;
    uint16_t symbolSetResource = 0;

    // Cursor last sent, in dots (0xFFFF = unknown).
    int16_t cursorX = -1;
    int16_t cursorY = -1;

    // Page geometry in device pixels: the paper format of the DEVMODE for
    // the page's orientation (printableWidth/Length are the page size the
    // engine draws, used* the sheet half; flags is the geometry tag).
    zq::PaperFormat geometry{};

    // N-up and scaling.
    uint8_t pagesPerSheet = 1;
    uint8_t nupRowFirst = 1;
    uint8_t nupFrame = 0;
    uint16_t drawnWidth = 0;
    uint16_t drawnHeight = 0;
    std::unique_ptr<Cell[]> nupCells;
    const Cell* currentCell = nullptr;
    uint16_t scaledFrom = 0;
    uint32_t printableSize[2] = {0, 0};

    uint16_t resolution = 300;
    Language language = Language::MonoRaster;
    uint8_t colour = 0;
    uint8_t forcedColour = 0;    // colour forced on a model that prints black only (byte 732)

    // The band the engine draws into (raster languages).
    MonoBand band;
    std::vector<GreyRectangle> greyRectangles;  // of the band being drawn

    // Copies of the DEVMODE kept by the record (enable step 4 and after).
    std::unique_ptr<zq::PrivateDevmode> devmode;  // the job's DEVMODE as enable left it
    uint16_t stamp = 0;          // 0x8888 portrait, 0x8889 landscape
    uint16_t jobFlags = 0;       // DEVMODE 456
    uint16_t featureWords[4] = {0, 0, 0, 0};  // DEVMODE 392-399
    uint16_t modelFlags = 0;     // DEVMODE 400
    uint8_t printerClass = 0;    // DEVMODE 232
    uint16_t classValue = 0;
    int16_t copies = 1;
    uint16_t paperSource = 0;
    uint16_t paperSizeCode = 0;  // public dmPaperSize
    uint8_t duplex = 1;
    uint8_t duplexFlags = 0;
    uint8_t printerCopies = 0;
    uint8_t ditherCode = 1;
    uint8_t darknessLevel = 4;
    uint8_t screenIndex = 0;
    char printerName[32] = {};   // ANSI, from the spooler
    bool printerInfoReadable = false;
    uint32_t ansiCodePage = 1252;

    // Job and page state.
    std::string documentName;
    uint16_t changeFlags = 0;    // bit 0: job header sent
    uint16_t pageCount = 0;
    uint16_t sheetPages = 0;
    uint16_t sheetPageCount = 0;
    uint8_t pageFlags = 0;       // 4: the engine drew into the band; 8: a band without drawing
    uint8_t bandParityOption = 0;  // DEVMODE 238: the band walk records the page's parity
    uint8_t pageParity = 0;        // (page number XOR the option) bit 0, while the option is set
    int16_t bandRows = 0;
    int16_t bandIndex = 0;
    uint8_t bandActive = 0;
    int16_t bandTop = 0;
    uint16_t bandHeight = 0;
    uint16_t bandCount = 1;
    uint16_t currentSymbolSet = 0xFFFF;
    uint16_t selectedFontId = 0xFFFF;
    uint16_t designatedFontId = 0xFFFF;
    uint16_t selectedFontIdCopy = 0xFFFF;
    uint16_t lastFontHeight = 0;
    uint16_t ttSize = 0;
    uint32_t patternState = 0;
    uint16_t ropCache = 256;
    uint8_t pageSuppressed = 0;
    int16_t registration = 0;    // logical page moved left by the registration sent (decipoints, negative), 0 none
    uint8_t registrationOrientation = 0;  // the orientation that registration was sent for

    // Device fonts of the job and the text caches.
    FontState fonts;

    // PCL XL: what the printer was last sent.
    XlState xl;
    // HP-GL/2 and PCL colour: likewise.
    Gl2State gl;

    // Soft fonts sent in this job (render/tt_download.h).
    std::shared_ptr<DownloadedFonts> downloads;
    // Colour raster pages: text waiting for the page end (render/text_queue.h).
    std::shared_ptr<TextQueue> textQueue;
    // PCL XL text from the engine's glyph bits: each glyph's ink, kept by its
    // bits (render/glyph_ink.h).
    std::shared_ptr<GlyphInkCache> glyphInk;
    // PCL XL text from glyph outlines: each glyph's outline, kept by font
    // and glyph.
    std::shared_ptr<GlyphOutlineCache> glyphOutlines;
    // Off: PCL XL text works out every glyph's outline and ink at its place
    // (the same bytes, more slowly; for comparison).
    bool keepGlyphShapes = true;

    // Output mode 4: the spool stream and the private escapes' state.
    std::shared_ptr<StreamState> stream;

    uint8_t FeatureByte(int offset) const {  // record bytes 568-575
        const uint16_t w = featureWords[(offset - 568) / 2];
        return static_cast<uint8_t>((offset - 568) % 2 ? w >> 8 : w);
    }
    uint16_t PageWidth() const { return geometry.printableWidth; }
    uint16_t PageHeight() const { return geometry.printableLength; }
};

constexpr uint16_t kStampPortrait = 0x8888;
constexpr uint16_t kStampLandscape = 0x8889;

// True when the page is drawn at another size than it is printed (n-up or fit
// to page): coordinates then go through the cell mapping.
inline bool PageIsMapped(const DeviceRecord& r) {
    return r.pagesPerSheet > 1 || r.drawnWidth != r.PageWidth() || r.drawnHeight != r.PageHeight();
}

}  // namespace pclrend

namespace pclrend {

// Fills a new record from the job's DEVMODE (the copy steps of enable):
// geometry, job options, colour, language, duplex, n-up layout and fit to
// page. The language chosen for "model default" is written back into the
// caller's record. False when the DEVMODE is not one of ours or its geometry
// cannot make a page.
bool RecordFromDevmode(DeviceRecord& r, zq::PrivateDevmode& caller);

// Output mode and journalling from the manual-duplex byte (DEVMODE 1076)
// and the journal choice (227, with its installed default 228), after
// RecordFromDevmode. A resolved journal choice is written back into the
// caller's record.
void DecideOutputMode(DeviceRecord& r, zq::PrivateDevmode& caller);

// Why this build cannot print the record's documents (a route whose bodies
// are not built), or nullptr when it can.
const char* UnbuiltRoute(const DeviceRecord& r);
// Pages drawn in colour: the record asks for colour (dmColor). Colour that
// only the model's class or flags switch on is no such request, and a
// monochrome printer of such a class must not get colour fills.
bool ColourAsked(const DeviceRecord& r);

}  // namespace pclrend
