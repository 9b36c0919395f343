// Where TrueType text leaves the text path: a run in a TrueType font that
// the record's settings want downloaded is handed over whole (its opaque
// and extra rectangles, colour and glyphs). False when it was not printed
// as text; the caller then draws it as graphics.
#pragma once

#include "gdi/ddi.h"
#include "gdi/ddi_font.h"
#include "render/device_record.h"

namespace pclrend {

bool DownloadAndSendTrueTypeRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                                RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, MIX mix);

}  // namespace pclrend
