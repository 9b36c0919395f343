// Printing a metafile document the spooler's way: the document is spooled
// as an EMF job, then played onto a device context of the printer, whose
// driver produces the printer's own job.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gdi/emf_player.h"

namespace zq::emf {

// Where one page went, in the device's pixels.
struct PagePlacement {
    RECTL dest{};         // from the printable area's top-left
    POINTL offset{};      // the printable area on the sheet
    SIZEL sheet{};        // the physical sheet
    int dpiX = 0, dpiY = 0;
    double widthMm = 0, heightMm = 0;  // the page's frame
};

struct PrintResult {
    std::string error;      // empty on success: one line, what failed
    DWORD errorCode = 0;    // the failing call's last error (0 when what failed was no call)
    DWORD spoolJob = 0;     // the EMF job
    DWORD outputJob = 0;    // the RAW job of the driver's output
    size_t pages = 0;       // pages printed
    PlayStats stats;        // over all pages
    std::vector<PagePlacement> placements;  // one per page
};

// Where a page lands on the printer, in device pixels from the printable
// area's top-left: the metafile's frame at its physical size, shrunk
// uniformly (never cropped) when it is larger than the printable area.
RECTL PlacePage(const Header& header, SIZEL printable, int dpiX, int dpiY);

// Prints `emf`, one metafile or several one after another (one per page), as
// one document: one EMF job, one printer job. `pngPath`, when not empty,
// receives the engine's unbanded reference render of each page; with "%d"
// in it, that is the page's number (from 1), which a document of several
// pages needs.
PrintResult PrintDocument(std::u16string_view printer, std::span<const uint8_t> emf, std::u16string_view docName,
                          const DEVMODEW* devmode = nullptr, const std::string& pngPath = {});

// `pattern` with its "%d" replaced by `page`; the pattern itself when it has none.
std::string PagePath(const std::string& pattern, size_t page);

}  // namespace zq::emf
