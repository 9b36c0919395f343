// The PCL XL session and its pages: the language switch and session start of
// the job header, BeginPage at the first page of every sheet, where each page
// lies on the sheet, the sheet's end and the session's end.
#pragma once

#include <cstdint>

#include "render/device_record.h"
#include "render/pclxl.h"

namespace pclrend {

// After the PJL lines: the language switch, the stream header, BeginSession,
// OpenDataSource and the session's comment.
void XlSessionStart(DeviceRecord& r);

// The page part of every page: BeginPage with the sheet's media when the
// sheet is new (its caches start afresh, in a grey colour space), then the
// page's place on the sheet.
int XlPagePart(DeviceRecord& r);

// The page-end output: the n-up frame, the default CTM back, and the sheet's
// EndPage when the sheet is full.
int XlPageEnd(DeviceRecord& r);

// EndDoc: the last, partly filled sheet ends, then the session.
void XlSessionEnd(DeviceRecord& r);

// The BeginPage values of a record (the tables of paper codes and sources).
struct XlMedia {
    xl::Orientation orientation = xl::Orientation::Portrait;
    bool custom = false;
    xl::MediaSize size = xl::MediaSize::Letter;
    float customWidth = 0, customLength = 0;  // inches, as the sheet is fed
    xl::MediaSource source = xl::MediaSource::Default;
    const char* type = nullptr;               // media type name, when one is chosen
    bool duplex = false;
    xl::DuplexPageMode binding = xl::DuplexPageMode::VerticalBinding;
    xl::DuplexPageSide side = xl::DuplexPageSide::Front;
};
XlMedia XlMediaOf(const DeviceRecord& r);

// The size enumeration of a paper code, when the code has one.
bool XlMediaSizeOf(uint16_t paperCode, xl::MediaSize& size);
xl::MediaSource XlMediaSourceOf(uint16_t paperSource);

}  // namespace pclrend
