// PCL page setup and overlays, the n-up layout, the band flush and the
// page-end output.
#pragma once

#include <cstdint>

#include "render/device_record.h"

namespace pclrend {

// Every page after the job header: paper, orientation and margins, source,
// the page's comment and the overlays that run at page start.
int PagePart(DeviceRecord& r);

// ESC&l#A (and the custom size); returns 1 for an envelope.
int PageSize(DeviceRecord& r);
void PageFormat(DeviceRecord& r);

// PCL page-size code of a paper code, and the source code of a paper source.
int PageSizeCode(uint16_t paperCode);
int PaperSourceCode(uint16_t paperSource, uint8_t featureByte572);

// The page's orientation as PCL numbers it (0 portrait, 1 landscape, 2 and 3
// their reverses), and the printer's name of a tray's media byte (none for 0).
int PageOrientationCode(const DeviceRecord& r);
const char* PaperTypeName(uint8_t media);

// Where the printer starts its PCL 5 logical page across the sheet, in
// device pixels from the paper's left edge (its edge across the page in
// landscape), and how far right of that the device's pixels begin (the
// printable area's left margin; negative when the margin is narrower).
int32_t LogicalPageLeft(const DeviceRecord& r);
int32_t PrintableShift(const DeviceRecord& r);
// The column of the logical page where the device's pixels begin, after any
// registration the page part sent (never negative).
int32_t RasterLeft(const DeviceRecord& r);

// The n-up cells of the sheet, from the geometry of both orientations.
// Returns 'Z' when the sheet is to be used in the other orientation.
// `other` is the paper format of the other orientation.
int NupLayout(DeviceRecord& r, const zq::PaperFormat& other);

// Sends the band that the engine finished (when it drew into it) and clears it.
void BandFlush(DeviceRecord& r);

// After the last band of a page: n-up frame, overlays, the sheet's form feed.
int PageEndOutput(DeviceRecord& r);

// Frame thickness of n-up pages at a resolution.
constexpr int FrameThickness(int resolution) {
    return resolution == 600 ? 4 : resolution == 1200 ? 6 : 2;
}

}  // namespace pclrend
