// Printing a metafile document the spooler's way: the document is spooled
// as an EMF job, then played onto a device context of the printer, whose
// driver produces the printer's own job.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "gdi/emf_player.h"

namespace zq::emf {

struct PrintResult {
    std::string error;      // empty on success: one line, what failed
    DWORD errorCode = 0;    // the failing call's last error (0 when what failed was no call)
    DWORD spoolJob = 0;     // the EMF job
    DWORD outputJob = 0;    // the RAW job of the driver's output
    PlayStats stats;
};

// `pngPath`, when not empty, receives the engine's unbanded reference render
// of the page.
PrintResult PrintDocument(std::u16string_view printer, std::span<const uint8_t> emf, std::u16string_view docName,
                          const DEVMODEW* devmode = nullptr, const std::string& pngPath = {});

}  // namespace zq::emf
