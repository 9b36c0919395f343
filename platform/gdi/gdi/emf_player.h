// Playing enhanced metafiles onto a device context: the spooler's road for
// printing documents, and the PlayEnhMetaFile call of applications.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "gdi/dc.h"
#include "gdi/emf.h"

using HENHMETAFILE = struct HENHMETAFILE__*;

extern "C" {
HENHMETAFILE GetEnhMetaFileW(LPCWSTR path);
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bytes);
BOOL DeleteEnhMetaFile(HENHMETAFILE emf);
// Plays the records in `rect` (logical units of the DC): the metafile's
// frame is fitted to it.
BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect);
}

namespace zq::emf {

struct PlayStats {
    size_t played = 0;
    size_t failed = 0;                 // records the DC refused
    std::map<uint32_t, size_t> skipped;  // kinds not played (unknown or not supported), with counts
    std::vector<std::string> refused;    // damaged records, each with why (counted in `failed` too)
    size_t Skipped() const;
};

// The size of the metafile's reference device in micrometres: the header's
// finer figure when it has one, else its millimetres; zero when unknown.
SIZEL ReferenceMicrometers(const Header& h);

// The page of a metafile in millimetres: its frame, or its bounds when the
// frame is empty.
struct PageFrame {
    double left = 0, top = 0, width = 0, height = 0;
};
PageFrame FrameOf(const Header& h);

// Plays a parsed document onto the DC, its frame fitted to `dest` (device
// pixels). The DC's state is saved before and restored after.
PlayStats Play(HDC hdc, const Document& doc, const RECTL& dest);

}  // namespace zq::emf
