// The text path's one call into the TrueType download: a run of glyphs in a
// TrueType font that the job's TrueType option asks to send as soft fonts.
#pragma once

#include "gdi/ddi.h"
#include "gdi/ddi_font.h"
#include "render/device_record.h"
#include "render/tt_download.h"

#include <functional>
#include <vector>

namespace pclrend {

// Sends the fonts and glyphs the run needs, then prints the run with them
// (languages 0, 1 and 2). False means nothing of the run was printed and it
// must be drawn as graphics: the font, the clip, the brush or the page
// cannot be served by soft fonts, or a glyph could not be sent.
// `beforeText` and `afterText` (PCL 5), when given, print what goes under
// and over the glyphs (the opaque box, underline and strike-out); they are
// called only once nothing can send the run to graphics any more, also in
// a band that holds none of the run's glyphs.
bool DownloadAndSendTrueTypeRun(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, BRUSHOBJ* pboFore,
                                POINTL* pptlOrg, MIX mix, const std::function<void()>& beforeText = {},
                                const std::function<void()>& afterText = {});

// What a download reads of a realised TrueType font; false for a font
// without metrics, a transform or an em. Its glyph bits are read from the
// font object, which lives only for the call.
bool ReadTrueTypeSource(FONTOBJ* pfo, TrueTypeSource& f);

// Prints glyphs whose soft-font characters are on the printer (PCL 5): the
// font of each by ID (outline fonts by size, block symbol set and ID), the
// cursor to each glyph's position (band pixels), its code.
void PrintSoftFontGlyphs(DeviceRecord& r, const TrueTypeSource& f, FontForm form, const std::vector<GLYPHPOS>& glyphs,
                         const std::vector<GlyphCode>& codes);

}  // namespace pclrend
