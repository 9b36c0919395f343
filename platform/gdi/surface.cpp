// Surfaces: engine bitmaps of every format (top-down or bottom-up), device
// surfaces that a driver draws itself, and their association with a device.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "base/error.h"
#include "gdi/engine.h"
#include "gdi/rop.h"

namespace zq::gdi {

namespace {

std::mutex g_surfLock;
std::unordered_set<Surface*>& LiveSurfaces() {
    static std::unordered_set<Surface*> set;
    return set;
}
std::atomic<ULONG> g_uniq{1};

Surface* Register(std::unique_ptr<Surface> s) {
    Surface* raw = s.release();
    raw->hsurf = reinterpret_cast<HSURF>(raw);
    raw->iUniq = g_uniq++;
    std::lock_guard lock(g_surfLock);
    LiveSurfaces().insert(raw);
    return raw;
}

}  // namespace

LONG StrideOf(LONG width, ULONG format) {
    int64_t bits = int64_t(width) * BitsPerPixel(format);
    return static_cast<LONG>(((bits + 31) / 32) * 4);
}

Surface* SurfaceFromHandle(HSURF h) {
    std::lock_guard lock(g_surfLock);
    auto* s = reinterpret_cast<Surface*>(h);
    return LiveSurfaces().count(s) ? s : nullptr;
}

Surface* SurfaceFromObject(SURFOBJ* so) {
    if (!so) return nullptr;
    std::lock_guard lock(g_surfLock);
    auto* s = static_cast<Surface*>(so);
    return LiveSurfaces().count(s) ? s : nullptr;
}

const Palette& Surface::Pal() const { return palette ? *palette : DefaultPalette(iBitmapFormat); }

// One pixel reader and writer serve the engine's surfaces and the raster
// operations on the driver's own SURFOBJs.
ULONG Surface::Pixel(LONG x, LONG y) const { return GetPx(*this, x, y); }

void Surface::SetPixel(LONG x, LONG y, ULONG v) { PutPx(*this, x, y, v); }

Bitmap::Bitmap(LONG width, LONG height, ULONG format, FLONG flags) {
    HBITMAP h = EngCreateBitmap({width, height}, 0, format, flags, nullptr);
    surface_ = SurfaceFromHandle(reinterpret_cast<HSURF>(h));
}
Bitmap::~Bitmap() {
    if (surface_) EngDeleteSurface(surface_->hsurf);
}
Bitmap::Bitmap(Bitmap&& o) noexcept : surface_(o.surface_) { o.surface_ = nullptr; }
Bitmap& Bitmap::operator=(Bitmap&& o) noexcept {
    if (this != &o) {
        if (surface_) EngDeleteSurface(surface_->hsurf);
        surface_ = o.surface_;
        o.surface_ = nullptr;
    }
    return *this;
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" HBITMAP EngCreateBitmap(SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits) {
    if (sizl.cx <= 0 || sizl.cy <= 0 || BitsPerPixel(iFormat) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LONG minStride = StrideOf(sizl.cx, iFormat);
    LONG stride = lWidth > 0 ? lWidth : minStride;
    if (stride < minStride || (int64_t(stride) * sizl.cy) > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto s = std::make_unique<Surface>();
    s->sizlBitmap = sizl;
    s->iBitmapFormat = iFormat;
    s->iType = STYPE_BITMAP;
    s->fjBitmap = static_cast<USHORT>(fl & (BMF_TOPDOWN | BMF_NOZEROINIT | BMF_DONTCACHE | BMF_USERMEM));
    s->cjBits = static_cast<ULONG>(stride) * static_cast<ULONG>(sizl.cy);
    if (pvBits) {
        s->pvBits = pvBits;
        s->fjBitmap |= BMF_USERMEM;
    } else {
        try {
            s->storage.assign(s->cjBits, 0);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        s->pvBits = s->storage.data();
    }
    // Top-down bitmaps start at their first byte; bottom-up ones keep the
    // top row last and walk backwards.
    if (fl & BMF_TOPDOWN) {
        s->pvScan0 = s->pvBits;
        s->lDelta = stride;
    } else {
        s->pvScan0 = static_cast<BYTE*>(s->pvBits) + static_cast<size_t>(stride) * (sizl.cy - 1);
        s->lDelta = -stride;
    }
    return reinterpret_cast<HBITMAP>(Register(std::move(s))->hsurf);
}

extern "C" HSURF EngCreateDeviceSurface(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat) {
    if (sizl.cx <= 0 || sizl.cy <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto s = std::make_unique<Surface>();
    s->dhsurf = dhsurf;
    s->sizlBitmap = sizl;
    s->iBitmapFormat = iFormatCompat;
    s->iType = STYPE_DEVICE;
    return Register(std::move(s))->hsurf;
}

extern "C" BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks) {
    Surface* s = SurfaceFromHandle(hsurf);
    Device* d = Device::FromHandle(hdev);
    if (!s || !d) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s->hdev = hdev;
    s->dhpdev = d->Pdev();
    s->device = d;
    s->hooks = flHooks & HOOK_FLAGS;
    s->palette = &d->Pal();
    return TRUE;
}

extern "C" BOOL EngMarkBandingSurface(HSURF hsurf) {
    Surface* s = SurfaceFromHandle(hsurf);
    if (!s) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s->banding = true;
    return TRUE;
}

extern "C" SURFOBJ* EngLockSurface(HSURF hsurf) {
    Surface* s = SurfaceFromHandle(hsurf);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ++s->locks;
    return s;
}

extern "C" void EngUnlockSurface(SURFOBJ* pso) {
    if (Surface* s = SurfaceFromObject(pso); s && s->locks > 0) --s->locks;
}

extern "C" BOOL EngDeleteSurface(HSURF hsurf) {
    Surface* s = nullptr;
    {
        std::lock_guard lock(g_surfLock);
        s = reinterpret_cast<Surface*>(hsurf);
        if (!LiveSurfaces().erase(s)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete s;
    return TRUE;
}

extern "C" BOOL EngEraseSurface(SURFOBJ* pso, RECTL* prcl, ULONG iColor) {
    Surface* s = SurfaceFromObject(pso);
    if (!s || !prcl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!s->HasBits()) return TRUE;  // a device surface: the driver keeps its own page
    RECTL r = IntersectRect(OrderRect(*prcl), {0, 0, s->sizlBitmap.cx, s->sizlBitmap.cy});
    if (RectEmpty(r)) return TRUE;
    ULONG bpp = BitsPerPixel(s->iBitmapFormat);
    ULONG mask = bpp >= 32 ? 0xFFFFFFFF : ((1u << bpp) - 1);
    ULONG v = iColor & mask;
    for (LONG y = r.top; y < r.bottom; ++y) {
        if (bpp == 8 || (bpp == 1 && (v == 0 || v == 1) && r.left % 8 == 0 && r.right % 8 == 0)) {
            BYTE b = bpp == 8 ? BYTE(v) : (v ? 0xFF : 0x00);
            LONG from = bpp == 8 ? r.left : r.left / 8, to = bpp == 8 ? r.right : r.right / 8;
            std::memset(s->Row(y) + from, b, to - from);
            continue;
        }
        for (LONG x = r.left; x < r.right; ++x) s->SetPixel(x, y, v);
    }
    return TRUE;
}

extern "C" PVOID EngAllocMem(ULONG fl, ULONG cj, ULONG) {
    void* p = std::malloc(cj ? cj : 1);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (fl & FL_ZERO_MEMORY) std::memset(p, 0, cj);
    return p;
}

extern "C" void EngFreeMem(PVOID pv) { std::free(pv); }
extern "C" ULONG EngGetLastError() { return GetLastError(); }
extern "C" void EngSetLastError(ULONG e) { SetLastError(e); }
