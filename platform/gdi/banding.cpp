// Pages and bands: the drawing of a page is kept as a display list; a
// banding surface gets it replayed once per band that DrvStartBanding and
// DrvNextBand hand out, in coordinates relative to the band and clipped to
// it; any other surface gets DrvSendPage.
#include <utility>

#include "base/error.h"
#include "gdi/engine.h"

namespace zq::gdi {

Region PlayContext::BandClip(const Region& pageClip) const {
    return pageClip.Intersect(Region(band)).Offset(-origin.x, -origin.y);
}

bool PlayContext::Hooked(FLONG hook) const {
    if (!device) return false;
    Surface* s = SurfaceFromObject(surface);
    return s && (s->hooks & hook);
}

namespace {
thread_local Device* g_playingFor = nullptr;

// A driver halftones into bitmaps of its own that the engine cannot tie to
// it; while a page plays they take the device's halftone cell.
class Playing {
public:
    explicit Playing(const PlayContext& ctx) : outer_(std::exchange(g_playingFor, ctx.device ? ctx.device : g_playingFor)) {}
    ~Playing() { g_playingFor = outer_; }
    Playing(const Playing&) = delete;
    Playing& operator=(const Playing&) = delete;

private:
    Device* outer_;
};
}  // namespace

Device* PlayingFor() { return g_playingFor; }

bool PlayList(const DisplayList& list, PlayContext& ctx) {
    Playing playing(ctx);
    bool ok = true;
    for (const auto& record : list)
        if (record && !record->Play(ctx)) ok = false;
    return ok;
}

bool PlayRecord(const Record& record, PlayContext& ctx) {
    Playing playing(ctx);
    return record.Play(ctx);
}

BOOL Device::EndPage(const DisplayList& page) {
    if (!surface_) return FALSE;
    if (!Banding()) {
        auto send = driver_->Get<PFN_DrvSendPage>(INDEX_DrvSendPage);
        return send ? send(surface_) : TRUE;
    }
    auto start = driver_->Get<PFN_DrvStartBanding>(INDEX_DrvStartBanding);
    auto next = driver_->Get<PFN_DrvNextBand>(INDEX_DrvNextBand);
    if (!start || !next) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    POINTL origin{0, 0};
    if (!start(surface_, &origin)) return FALSE;
    const RECTL pageRect = PageRect();
    // A driver that never ends the page would keep the engine here for ever;
    // no page has more bands than rows.
    for (LONG bands = 0; origin.x != -1 || origin.y != -1; ++bands) {
        if (bands > pageRect.bottom + 1) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        PlayContext ctx;
        ctx.surface = surface_;
        ctx.device = this;
        ctx.origin = origin;
        ctx.band = IntersectRect({origin.x, origin.y, origin.x + surface_->sizlBitmap.cx, origin.y + surface_->sizlBitmap.cy},
                                 pageRect);
        PlayList(page, ctx);
        if (!next(surface_, &origin)) return FALSE;
    }
    return TRUE;
}

}  // namespace zq::gdi
