// The text path's one call into the TrueType download: a run of glyphs in a
// TrueType font that the job's TrueType option asks to send as soft fonts.
#pragma once

#include "gdi/ddi.h"
#include "gdi/ddi_font.h"
#include "render/device_record.h"

namespace pclrend {

// Sends the fonts and glyphs the run needs, then prints the run with them
// (languages 0, 1 and 2). False means nothing of the run was printed and it
// must be drawn as graphics: the font, the clip, the brush or the page
// cannot be served by soft fonts, or a glyph could not be sent.
bool DownloadAndSendTrueTypeRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, BRUSHOBJ* pboFore,
                                POINTL* pptlOrg, MIX mix);

}  // namespace pclrend
