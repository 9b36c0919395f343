// Loading a printer driver and calling its hooks in the order drivers rely
// on: DrvEnableDriver once per module; per device DrvEnablePDEV,
// DrvCompletePDEV, DrvEnableSurface; documents and pages; DrvResetPDEV; and
// at the end DrvDisableSurface, DrvDisablePDEV and DrvDisableDriver.
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "base/loader.h"
#include "base/text.h"
#include "gdi/engine.h"

namespace zq::gdi {

namespace {

std::mutex g_devLock;
std::unordered_set<Device*>& LiveDevices() {
    static std::unordered_set<Device*> set;
    return set;
}

// Drivers stay loaded while any device uses them; one module, one
// DrvEnableDriver.
std::mutex g_drvLock;
std::map<std::string, std::weak_ptr<Driver>>& LoadedDrivers() {
    static std::map<std::string, std::weak_ptr<Driver>> map;
    return map;
}

// A writable copy of a DEVMODE with its private part: drivers may write back
// into the DEVMODE they are given.
std::vector<BYTE> CopyDevmode(const DEVMODEW* dm) {
    if (!dm) return {};
    size_t size = size_t(dm->dmSize) + dm->dmDriverExtra;
    if (size < sizeof(DEVMODEW)) size = sizeof(DEVMODEW) + dm->dmDriverExtra;
    std::vector<BYTE> v(size);
    std::memcpy(v.data(), dm, size_t(dm->dmSize) + dm->dmDriverExtra);
    return v;
}

}  // namespace

std::shared_ptr<Driver> Driver::Load(const std::string& path) {
    std::lock_guard lock(g_drvLock);
    if (auto existing = LoadedDrivers()[path].lock()) return existing;
    // Driver files are named by Windows paths (the driver directory of the
    // system root) or by Linux paths; the loader maps both.
    std::u16string wide(path.size() + 1, u'\0');
    int n = MultiByteToWideChar(65001, 0, path.c_str(), static_cast<int>(path.size()), wide.data(),
                                static_cast<int>(wide.size()));
    if (n <= 0 && !path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    wide.resize(static_cast<size_t>(n));
    HMODULE module = LoadLibraryW(wide.c_str());
    if (!module) {
        if (!GetLastError()) SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    auto enable = reinterpret_cast<PFN_DrvEnableDriver>(GetProcAddress(module, "DrvEnableDriver"));
    if (!enable) {
        FreeLibrary(module);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    DRVENABLEDATA ded{};
    SetLastError(0);
    if (!enable(ENGINE_VERSION, sizeof(ded), &ded)) {
        DWORD err = GetLastError();
        FreeLibrary(module);
        SetLastError(err ? err : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<Driver> d(new Driver());
    d->module_ = module;
    d->path_ = path;
    for (ULONG i = 0; ded.pdrvfn && i < ded.c; ++i)
        if (ded.pdrvfn[i].iFunc <= INDEX_LAST) d->hooks_[ded.pdrvfn[i].iFunc] = ded.pdrvfn[i].pfn;
    LoadedDrivers()[path] = d;
    return d;
}

Driver::~Driver() {
    if (auto disable = reinterpret_cast<PFN_DrvDisableDriver>(GetProcAddress(module_, "DrvDisableDriver"))) disable();
    FreeLibrary(module_);
}

Device* Device::FromHandle(HDEV h) {
    std::lock_guard lock(g_devLock);
    auto* d = reinterpret_cast<Device*>(h);
    return LiveDevices().count(d) ? d : nullptr;
}

const Palette& Device::Pal() const { return palette_; }

RECTL Device::PageRect() const {
    LONG w = static_cast<LONG>(gdiInfo_.ulHorzRes), h = static_cast<LONG>(gdiInfo_.ulVertRes);
    if ((w <= 0 || h <= 0) && surface_) {
        w = surface_->sizlBitmap.cx;
        h = surface_->sizlBitmap.cy;
    }
    return {0, 0, w, h};
}

bool Device::Banding() const {
    Surface* s = SurfaceFromObject(surface_);
    return s && s->banding;
}

BOOL Device::EnablePdev(const DEVMODEW* devmode, DHPDEV* out, GDIINFO* gdi, DEVINFO* dev) {
    auto enablePdev = driver_->Get<PFN_DrvEnablePDEV>(INDEX_DrvEnablePDEV);
    if (!enablePdev) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    std::vector<BYTE> dm = CopyDevmode(devmode);
    std::u16string address(logicalAddress_), name(deviceName_);
    HSURF patterns[HS_DDI_MAX] = {};
    *gdi = GDIINFO{};
    *dev = DEVINFO{};
    SetLastError(0);
    *out = enablePdev(dm.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(dm.data()),
                      logicalAddress_.empty() ? nullptr : address.data(), HS_DDI_MAX, patterns, sizeof(GDIINFO),
                      reinterpret_cast<ULONG*>(gdi), sizeof(DEVINFO), dev, Handle(), name.data(), printer_);
    if (!*out) {
        if (!GetLastError()) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

std::unique_ptr<Device> Device::Enable(std::shared_ptr<Driver> driver, const DEVMODEW* devmode,
                                       std::u16string_view deviceName, std::u16string_view logicalAddress,
                                       HANDLE printer) {
    if (!driver) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::unique_ptr<Device> d(new Device());
    d->driver_ = std::move(driver);
    d->deviceName_ = deviceName;
    d->logicalAddress_ = logicalAddress;
    d->printer_ = printer;
    {
        std::lock_guard lock(g_devLock);
        LiveDevices().insert(d.get());
    }
    if (!d->EnablePdev(devmode, &d->pdev_, &d->gdiInfo_, &d->devInfo_)) return nullptr;
    if (Palette* p = PaletteFromHandle(d->devInfo_.hpalDefault)) d->palette_ = *p;
    else d->palette_ = DefaultPalette(d->gdiInfo_.cBitsPixel == 1 ? BMF_1BPP : BMF_24BPP);
    if (auto complete = d->driver_->Get<PFN_DrvCompletePDEV>(INDEX_DrvCompletePDEV)) complete(d->pdev_, d->Handle());
    auto enableSurface = d->driver_->Get<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface);
    SetLastError(0);
    d->hsurf_ = enableSurface ? enableSurface(d->pdev_) : nullptr;
    Surface* s = SurfaceFromHandle(d->hsurf_);
    if (!s) {
        DWORD err = GetLastError();
        d->hsurf_ = nullptr;
        d.reset();  // disables the PDEV
        SetLastError(err ? err : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!s->device) EngAssociateSurface(d->hsurf_, d->Handle(), 0);
    d->surface_ = s;
    return d;
}

void Device::DisableAll() {
    if (pdev_) {
        if (hsurf_)
            if (auto f = driver_->Get<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface)) f(pdev_);
        if (auto f = driver_->Get<PFN_DrvDisablePDEV>(INDEX_DrvDisablePDEV)) f(pdev_);
    }
    pdev_ = nullptr;
    hsurf_ = nullptr;
    surface_ = nullptr;
}

Device::~Device() {
    DisableAll();
    std::lock_guard lock(g_devLock);
    LiveDevices().erase(this);
}

BOOL Device::StartDoc(std::u16string_view documentName, DWORD jobId) {
    auto f = driver_->Get<PFN_DrvStartDoc>(INDEX_DrvStartDoc);
    if (!f || !surface_) return surface_ ? TRUE : FALSE;
    std::u16string name(documentName);
    return f(surface_, name.data(), jobId);
}

BOOL Device::StartPage() {
    auto f = driver_->Get<PFN_DrvStartPage>(INDEX_DrvStartPage);
    if (!surface_) return FALSE;
    return f ? f(surface_) : TRUE;
}

BOOL Device::EndDoc(FLONG flags) {
    auto f = driver_->Get<PFN_DrvEndDoc>(INDEX_DrvEndDoc);
    if (!surface_) return FALSE;
    return f ? f(surface_, flags) : TRUE;
}

ULONG Device::Escape(ULONG code, std::span<const BYTE> in, std::span<BYTE> out) {
    auto f = driver_->Get<PFN_DrvEscape>(INDEX_DrvEscape);
    if (!f || !surface_) return 0;
    return f(surface_, code, static_cast<ULONG>(in.size()), const_cast<BYTE*>(in.data()),
             static_cast<ULONG>(out.size()), out.empty() ? nullptr : out.data());
}

BOOL Device::Reset(const DEVMODEW* devmode) {
    DHPDEV fresh = nullptr;
    GDIINFO gdi{};
    DEVINFO dev{};
    if (!EnablePdev(devmode, &fresh, &gdi, &dev)) return FALSE;
    if (auto reset = driver_->Get<PFN_DrvResetPDEV>(INDEX_DrvResetPDEV); reset && !reset(pdev_, fresh)) {
        DWORD err = GetLastError();
        if (auto f = driver_->Get<PFN_DrvDisablePDEV>(INDEX_DrvDisablePDEV)) f(fresh);
        SetLastError(err);
        return FALSE;
    }
    DisableAll();
    faces_.reset();  // the new PDEV is asked again
    pdev_ = fresh;
    gdiInfo_ = gdi;
    devInfo_ = dev;
    if (Palette* p = PaletteFromHandle(devInfo_.hpalDefault)) palette_ = *p;
    if (auto complete = driver_->Get<PFN_DrvCompletePDEV>(INDEX_DrvCompletePDEV)) complete(pdev_, Handle());
    auto enableSurface = driver_->Get<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface);
    hsurf_ = enableSurface ? enableSurface(pdev_) : nullptr;
    Surface* s = SurfaceFromHandle(hsurf_);
    if (!s) {
        hsurf_ = nullptr;
        return FALSE;
    }
    if (!s->device) EngAssociateSurface(hsurf_, Handle(), 0);
    surface_ = s;
    return TRUE;
}

std::optional<Bitmap> Device::DitherColor(COLORREF rgb) {
    auto f = driver_->Get<PFN_DrvDitherColor>(INDEX_DrvDitherColor);
    ULONG format = devInfo_.iDitherFormat;
    LONG cx = devInfo_.cxDither, cy = devInfo_.cyDither;
    if (!f || cx <= 0 || cy <= 0 || BitsPerPixel(format) == 0) return std::nullopt;
    LONG stride = StrideOf(cx, format);
    std::vector<ULONG> buffer(std::max<size_t>(size_t(stride) * cy / 4 + 1, 64), 0);
    ULONG mode = gdiInfo_.cBitsPixel == 1 ? DM_MONOCHROME : DM_DEFAULT;
    if (f(pdev_, mode, rgb & 0xFFFFFF, buffer.data()) != DCR_DRIVER) return std::nullopt;
    Bitmap b(cx, cy, format);
    if (!b) return std::nullopt;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    for (LONG y = 0; y < cy; ++y) std::memcpy(b.Get()->Row(y), bytes + size_t(y) * stride, stride);
    return b;
}

void Device::Free(void* block, ULONG_PTR id) {
    if (auto f = driver_->Get<PFN_DrvFree>(INDEX_DrvFree)) f(block, id);
}

}  // namespace zq::gdi
