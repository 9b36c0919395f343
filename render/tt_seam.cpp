// TrueType fonts are not downloaded by this build: every TrueType run is
// drawn as graphics.
#include "render/tt_seam.h"

namespace pclrend {

bool DownloadAndSendTrueTypeRun(DeviceRecord&, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, MIX) {
    return false;
}

}  // namespace pclrend
