// The device record: one per device context, the state every part of the
// renderer works on. It is an ordinary C++ record; the byte image that escape
// 5012 hands to the interface library is produced from it by
// device_record_image.h, which alone knows the image's offsets.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/types.h"

namespace pclrend {

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

// Output languages (`language`).
enum class Language : uint8_t {
    MonoRaster = 0,
    Pcl5Gl2 = 1,
    PclXl = 2,
    SpoolStream = 4,
    ColourRaster = 5,
};

struct DeviceRecord {
    // Output (buffers and the sink they drain into).
    Sink* sink = nullptr;
    uint16_t jobState = kJobIdle;
    bool documentLost = false;  // a write failed during this document
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

    // Page geometry in device pixels (from the geometry block of the DEVMODE).
    uint16_t pageCode = 0;       // paper code of the geometry block (88)
    uint16_t orientation = 1;    // (90)
    uint16_t paperWidth = 0;     // physical size (92)
    uint16_t paperHeight = 0;    // (94)
    uint16_t pageWidth = 0;      // printable page (96)
    uint16_t pageHeight = 0;     // (98)
    uint16_t printableLeft = 0;  // physical offsets (100)
    uint16_t printableTop = 0;   // (102)
    uint16_t paperSize = 0;      // paper code of the sheet half (112)
    int16_t rasterAngle = 0;     // (114)
    uint16_t sheetWidth = 0;     // sheet area (116)
    uint16_t sheetHeight = 0;    // (118)
    uint16_t targetWidth = 0;    // target area (120)
    uint16_t targetHeight = 0;   // (122)
    uint16_t marginLeft = 0;     // (124)
    uint16_t marginTop = 0;      // (126)
    uint16_t frameWidth = 0;     // picture frame in decipoints (128)
    uint16_t frameHeight = 0;    // (130)
    uint16_t geometryTag = 0;

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
};

// True when the page is drawn at another size than it is printed (n-up or fit
// to page): coordinates then go through the cell mapping.
inline bool PageIsMapped(const DeviceRecord& r) {
    return r.pagesPerSheet > 1 || r.drawnWidth != r.pageWidth || r.drawnHeight != r.pageHeight;
}

}  // namespace pclrend
