// Device contexts: printer DCs on a driver and memory DCs on a bitmap; the
// documents and pages of a printer DC, escapes, brushes, bitmaps, clipping
// and the bit-block calls, each recorded into the page's display list.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "base/loader.h"
#include "base/memory.h"
#include "base/text.h"
#include "store/spooler.h"
#include "gdi/dc.h"
#include "store/driver_ui.h"
#include "gdi/dc_draw.h"
#include "gdi/dc_state.h"
#include "gdi/dib.h"
#include "gdi/rop.h"

namespace zq::gdi {

namespace {

std::mutex g_objLock;
std::unordered_set<GdiObject*>& LiveObjects() {
    static std::unordered_set<GdiObject*> set;
    return set;
}
std::mutex g_dcLock;
std::unordered_set<DeviceContext*>& LiveDcs() {
    static std::unordered_set<DeviceContext*> set;
    return set;
}
std::atomic<DWORD> g_jobId{1};
constexpr DWORD ERROR_BUSY_OBJECT = 170;  // ERROR_BUSY

BrushObject* StockBrush(int index) {
    static BrushObject* brushes[6] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        const COLORREF colors[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(64, 64, 64),
                                    RGB(0, 0, 0)};
        for (int i = 0; i < 5; ++i) {
            LogicalBrush b;
            b.color = colors[i];
            brushes[i] = new BrushObject(b);
            brushes[i]->stock = true;
        }
        LogicalBrush null;
        null.kind = LogicalBrush::Kind::Null;
        brushes[5] = new BrushObject(null);
        brushes[5]->stock = true;
    });
    return index >= 0 && index < 6 ? brushes[index] : nullptr;
}

// The 1 x 1 one-bit bitmap every memory DC starts with.
BitmapObject* StockBitmap() {
    static BitmapObject* bitmap = [] {
        auto* b = new BitmapObject();
        b->bitmap = std::make_shared<Bitmap>(1, 1, BMF_1BPP);
        b->stock = true;
        return b;
    }();
    return bitmap;
}

// One bit-block operation of a page: a fill, a transfer from a bitmap, or a
// stretched transfer, in page coordinates.
class BltRecord : public Record {
public:
    Region clip;
    RECTL dest{};  // may be reversed to mirror a stretch
    std::shared_ptr<Bitmap> source;
    std::shared_ptr<Palette> sourcePalette;
    RECTL sourceRect{};
    std::optional<LogicalBrush> brush;
    POINTL brushOrigin{0, 0};
    ROP4 rop4 = 0xCCCC;
    ULONG stretchMode = COLORONCOLOR;

    bool Play(PlayContext& ctx) const override {
        Region bandClip = ctx.BandClip(clip).Intersect(Region(ctx.ToBand(OrderRect(dest))));
        if (bandClip.Empty()) return true;
        EngineClip ec(bandClip);
        Surface* target = SurfaceFromObject(ctx.surface);
        if (!target) return false;
        RECTL d = ctx.ToBand(dest);
        POINTL org = ctx.ToBand(brushOrigin);
        std::optional<EngineBrush> eb;
        if (brush) eb.emplace(*brush, target);
        BRUSHOBJ* pbo = eb ? &*eb : nullptr;
        std::optional<EngineXlate> xlo;
        SURFOBJ* src = source ? source->Object() : nullptr;
        if (source) xlo.emplace(sourcePalette ? *sourcePalette : source->Get()->Pal(), target->Pal());
        XLATEOBJ* pxlo = xlo ? &*xlo : nullptr;
        const ULONG rop3 = rop4 & 0xFF;
        const bool stretched = source && (sourceRect.right - sourceRect.left != d.right - d.left ||
                                          sourceRect.bottom - sourceRect.top != d.bottom - d.top);
        RECTL s = sourceRect;
        const ULONG mode = stretched && ctx.imageStretchMode ? *ctx.imageStretchMode : stretchMode;
        POINTL srcPt{sourceRect.left, sourceRect.top};
        Device* dev = ctx.device;
        if (stretched) {
            if (rop4 == Rop4(ROP3_SRCCOPY) && ctx.Hooked(HOOK_STRETCHBLT))
                return dev->Drv().Get<PFN_DrvStretchBlt>(INDEX_DrvStretchBlt)(ctx.surface, src, nullptr, &ec, pxlo,
                                                                                nullptr, &org, &d, &s, nullptr,
                                                                                mode);
            if (ctx.Hooked(HOOK_STRETCHBLTROP))
                return dev->Drv().Get<PFN_DrvStretchBltROP>(INDEX_DrvStretchBltROP)(
                    ctx.surface, src, nullptr, &ec, pxlo, nullptr, &org, &d, &s, nullptr, mode, pbo, rop4);
            if (!ctx.surface->pvScan0) return false;
            return EngStretchBltROP(ctx.surface, src, nullptr, &ec, pxlo, nullptr, &org, &d, &s, nullptr, mode,
                                    pbo, rop4);
        }
        RECTL od = OrderRect(d);
        if (source && rop3 == ROP3_SRCCOPY && rop4 == Rop4(rop3) && ctx.Hooked(HOOK_COPYBITS))
            return dev->Drv().Get<PFN_DrvCopyBits>(INDEX_DrvCopyBits)(ctx.surface, src, &ec, pxlo, &od, &srcPt);
        if (ctx.Hooked(HOOK_BITBLT))
            return dev->Drv().Get<PFN_DrvBitBlt>(INDEX_DrvBitBlt)(ctx.surface, src, nullptr, &ec, pxlo, &od,
                                                                  source ? &srcPt : nullptr, nullptr, pbo, &org, rop4);
        if (!ctx.surface->pvScan0) return false;
        return EngBitBlt(ctx.surface, src, nullptr, &ec, pxlo, &od, source ? &srcPt : nullptr, nullptr, pbo, &org, rop4);
    }
};

DeviceContext* Dc(HDC h) {
    DeviceContext* dc = DeviceContext::FromHandle(h);
    if (!dc) SetLastError(ERROR_INVALID_HANDLE);
    return dc;
}

int RegionKind(const Region& r) { return r.Empty() ? NULLREGION : r.IsRect() ? SIMPLEREGION : COMPLEXREGION; }

ROP4 Rop4FromDword(DWORD rop) { return Rop4((rop >> 16) & 0xFF); }

// Records a transfer; `source` is null for fills.
bool Blt(DeviceContext& dc, RECTL dest, std::shared_ptr<Bitmap> source, std::shared_ptr<Palette> palette,
         RECTL sourceRect, DWORD rop, const LogicalBrush* brush) {
    auto rec = std::make_shared<BltRecord>();
    ROP4 rop4 = Rop4FromDword(rop);
    bool needP = RopUsesPattern(rop4 & 0xFF);
    bool needS = RopUsesSource(rop4 & 0xFF);
    rec->clip = dc.EffectiveClip();
    rec->dest = dest;
    rec->rop4 = rop4;
    rec->stretchMode = dc.stretchMode == STRETCH_HALFTONE ? HALFTONE : COLORONCOLOR;
    rec->brushOrigin = dc.brushOrigin;
    if (needS) {
        if (!source) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        rec->source = std::move(source);
        rec->sourcePalette = std::move(palette);
        rec->sourceRect = sourceRect;
    }
    if (needP) {
        const LogicalBrush* b = brush ? brush : (dc.brush ? &dc.brush->logical : nullptr);
        if (!b || b->kind == LogicalBrush::Kind::Null) {
            // A null brush paints nothing.
            if (!needS) return true;
            LogicalBrush none;
            none.kind = LogicalBrush::Kind::Null;
            rec->brush = none;
        } else {
            rec->brush = *b;
        }
    }
    return dc.Draw(std::move(rec));
}

// A copy of a rectangle of a memory DC's bitmap: records must not change when
// the application draws on the bitmap later.
std::shared_ptr<Bitmap> CopyArea(const BitmapObject& bmp, RECTL& area) {
    Surface* s = bmp.bitmap->Get();
    RECTL r = IntersectRect(OrderRect(area), {0, 0, s->sizlBitmap.cx, s->sizlBitmap.cy});
    if (RectEmpty(r)) return nullptr;
    auto out = std::make_shared<Bitmap>(r.right - r.left, r.bottom - r.top, s->iBitmapFormat);
    if (!*out) return nullptr;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) out->Get()->SetPixel(x - r.left, y - r.top, s->Pixel(x, y));
    out->Get()->palette = s->palette;
    area = {area.left - r.left, area.top - r.top, area.right - r.left, area.bottom - r.top};
    return out;
}

// Tells the printer's interface driver of a document event; 1 (handled)
// for a DC that has no such driver. An escape raised while an event runs is
// the driver's own and raises nothing.
int RaiseEvent(DeviceContext& dc, int event, ULONG inSize = 0, void* in = nullptr, ULONG outSize = 0,
               void* out = nullptr) {
    if (dc.documentEvent == nullptr) return DOCUMENTEVENT_SUCCESS;
    ++dc.eventDepth;
    const int rc = dc.documentEvent(dc.printer, dc.Handle(), event, inSize, in, outSize, out);
    --dc.eventDepth;
    return rc;
}

// Ends an open document without printing it: DrvEndDoc with ED_ABORTDOC and
// the spooler's job, if any, removed.
bool AbortDocument(DeviceContext& dc) {
    RaiseEvent(dc, DOCUMENTEVENT_ABORTDOC);
    dc.docOpen = false;
    dc.pageOpen = false;
    dc.holdDrawing = false;
    dc.page.clear();
    bool ok = dc.device->EndDoc(ED_ABORTDOC) != FALSE;
    if (dc.printer) {
        DWORD err = GetLastError();
        AbortPrinter(dc.printer);
        SetLastError(err);
    }
    return ok;
}

}  // namespace

bool DeviceRectBlt(DeviceContext& dc, const RECTL& device, DWORD rop, const LogicalBrush* brush) {
    return Blt(dc, OrderRect(device), nullptr, nullptr, {}, rop, brush);
}

GdiObject::GdiObject() {
    std::lock_guard lock(g_objLock);
    LiveObjects().insert(this);
}
GdiObject::~GdiObject() {
    std::lock_guard lock(g_objLock);
    LiveObjects().erase(this);
}

GdiObject* ObjectFromHandle(HGDIOBJ h) {
    std::lock_guard lock(g_objLock);
    auto* o = static_cast<GdiObject*>(h);
    return LiveObjects().count(o) ? o : nullptr;
}

GdiObject* BrushObject::SelectInto(DeviceContext& dc) {
    GdiObject* prev = dc.brush;
    if (dc.brush) --dc.brush->selections;
    dc.brush = this;
    ++selections;
    return prev;
}

GdiObject* BitmapObject::SelectInto(DeviceContext& dc) {
    // A bitmap is selected into one memory DC at a time (the stock one into
    // any number).
    if (dc.device || (selections > 0 && !stock)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiObject* prev = dc.bitmap;
    if (dc.bitmap) --dc.bitmap->selections;
    dc.bitmap = this;
    ++selections;
    return prev;
}

GdiObject* RegionObject::SelectInto(DeviceContext& dc) {
    dc.clip = region;
    return nullptr;
}

DeviceContext::DeviceContext() {
    brush = StockBrush(WHITE_BRUSH);
    std::lock_guard lock(g_dcLock);
    LiveDcs().insert(this);
}

DeviceContext::~DeviceContext() {
    std::lock_guard lock(g_dcLock);
    LiveDcs().erase(this);
}

DeviceContext* DeviceContext::FromHandle(HDC h) {
    std::lock_guard lock(g_dcLock);
    auto* dc = reinterpret_cast<DeviceContext*>(h);
    return LiveDcs().count(dc) ? dc : nullptr;
}

SIZEL DeviceContext::Size() const {
    if (device) {
        RECTL r = device->PageRect();
        return {r.right, r.bottom};
    }
    if (bitmap && bitmap->bitmap) return bitmap->bitmap->Get()->sizlBitmap;
    return {1, 1};
}

Region DeviceContext::EffectiveClip() const {
    Region all(Bounds());
    return clip ? clip->Intersect(all) : all;
}

ULONG DeviceContext::Format() const {
    if (device && device->SurfaceObject()) {
        ULONG f = device->SurfaceObject()->iBitmapFormat;
        if (BitsPerPixel(f)) return f;
        return device->Info().cBitsPixel == 1 ? BMF_1BPP : BMF_24BPP;
    }
    if (bitmap && bitmap->bitmap) return bitmap->bitmap->Get()->iBitmapFormat;
    return BMF_1BPP;
}

const Palette& DeviceContext::Pal() const {
    if (device) return device->Pal();
    if (bitmap && bitmap->bitmap) return bitmap->bitmap->Get()->Pal();
    return DefaultPalette(BMF_1BPP);
}

bool DeviceContext::Draw(std::shared_ptr<const Record> record) {
    if (device) {
        if (!pageOpen) {
            // Between pages only a document event may draw (the interface
            // driver's instruction page at ENDDOC, on a page the driver
            // opened itself through an escape): straight to the device.
            if (!docOpen || eventDepth == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            PlayContext ctx;
            ctx.surface = device->SurfaceObject();
            ctx.device = device.get();
            ctx.band = device->PageRect();
            return record->Play(ctx);
        }
        page.push_back(record);
        if (device->Banding() || holdDrawing) return true;
        PlayContext ctx;
        ctx.surface = device->SurfaceObject();
        ctx.device = device.get();
        ctx.band = device->PageRect();
        return PlayRecord(*record, ctx);
    }
    if (!bitmap || !bitmap->bitmap) return false;
    PlayContext ctx;
    ctx.surface = bitmap->bitmap->Object();
    ctx.band = Bounds();
    return record->Play(ctx);
}

}  // namespace zq::gdi

using namespace zq::gdi;

namespace zq {

HDC CreateDCForDriver(const std::string& driverPath, const DEVMODEW* devmode, std::u16string_view deviceName) {
    auto driver = gdi::Driver::Load(driverPath);
    if (!driver) return nullptr;
    auto device = gdi::Device::Enable(driver, devmode, deviceName, u"", nullptr);
    if (!device) return nullptr;
    auto* dc = new DeviceContext();
    dc->device = std::move(device);
    return dc->Handle();
}

void KeepPages(HDC hdc, bool keep) {
    if (auto* dc = Dc(hdc)) dc->keepPages = keep;
}

size_t KeptPageCount(HDC hdc) {
    auto* dc = Dc(hdc);
    return dc ? dc->keptPages.size() : 0;
}

gdi::Bitmap RenderReferencePage(HDC hdc, size_t index) {
    auto* dc = Dc(hdc);
    if (!dc || index >= dc->keptPages.size()) return {};
    return gdi::RenderPage(*dc->keptPages[index], dc->Size(), dc->Format(), dc->device.get());
}

bool WriteReferencePng(HDC hdc, size_t index, const std::string& pngPath) {
    auto* dc = Dc(hdc);
    if (!dc || index >= dc->keptPages.size()) return false;
    gdi::Bitmap page = RenderReferencePage(hdc, index);
    if (!page) return false;
    // Indexed pages are written through the device's colours; deeper ones
    // were drawn in their own format's order, which is how they are read.
    const bool indexed = page.Get()->iBitmapFormat <= BMF_8BPP;
    if (indexed) page.Get()->palette = &dc->Pal();
    bool ok = gdi::WritePng(*page.Get(), pngPath);
    if (indexed) page.Get()->palette = nullptr;
    return ok;
}

}  // namespace zq

namespace {

// A spooler answer of the size-query kind: asks for the size, then fills a
// buffer of that size.
template <class Call>
std::vector<BYTE> Query(Call call) {
    DWORD needed = 0;
    call(nullptr, 0, &needed);
    if (needed == 0) return {};
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed)) return {};
    return buffer;
}

std::string Utf8(LPCWSTR text) { return text ? zq::Utf16ToUtf8(text) : std::string(); }

// The printer's own DEVMODE as its interface driver gives it through
// DocumentProperties; empty when the driver cannot be asked.
std::vector<BYTE> PrinterDevmode(HANDLE printer, std::u16string& name) {
    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size < static_cast<LONG>(sizeof(DEVMODEW))) return {};
    std::vector<BYTE> record(static_cast<size_t>(size));
    if (DocumentPropertiesW(nullptr, printer, name.data(), reinterpret_cast<DEVMODEW*>(record.data()), nullptr,
                            DM_OUT_BUFFER) < 0)
        return {};
    return record;
}

// A DC on a printer of the spooler: the printer's driver (GetPrinterDriver
// level 3) is loaded and enabled with the given DEVMODE, or the printer's
// own (through DocumentProperties) when none is given. The printer's
// interface driver hears the document events: CREATEDCPRE before the device
// is enabled (its job DEVMODE is the one enabled, copied before
// CREATEDCPOST frees it), then CREATEDCPOST; -1 from either fails the call.
// The printer handle stays open for the driver until the DC is deleted.
HDC CreatePrinterDc(LPCWSTR device, LPCWSTR output, const DEVMODEW* devmode, bool informationOnly) {
    if (!device || !*device) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    HANDLE printer = nullptr;
    std::u16string name(device);
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return nullptr;
    HMODULE ui = nullptr;
    auto fail = [&] {
        DWORD err = GetLastError();
        if (ui) FreeLibrary(ui);
        ClosePrinter(printer);
        SetLastError(err ? err : ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    };
    auto info = Query([&](LPBYTE b, DWORD n, LPDWORD need) { return GetPrinterW(printer, 2, b, n, need); });
    auto driverInfo =
        Query([&](LPBYTE b, DWORD n, LPDWORD need) { return GetPrinterDriverW(printer, nullptr, 3, b, n, need); });
    if (info.empty() || driverInfo.empty()) return fail();
    auto* p2 = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
    auto* d3 = reinterpret_cast<const DRIVER_INFO_3W*>(driverInfo.data());
    if (!d3->pDriverPath) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return fail();
    }
    std::vector<BYTE> own;
    if (!devmode) {
        own = PrinterDevmode(printer, name);
        devmode = own.empty() ? p2->pDevMode : reinterpret_cast<const DEVMODEW*>(own.data());
    }
    using DocumentEvent = int (*)(HANDLE, HDC, int, ULONG, void*, ULONG, void*);
    DocumentEvent event = nullptr;
    if (d3->pConfigFile && *d3->pConfigFile) {
        ui = LoadLibraryW(d3->pConfigFile);
        if (ui) event = reinterpret_cast<DocumentEvent>(GetProcAddress(ui, "DrvDocumentEvent"));
    }
    auto driver = Driver::Load(Utf8(d3->pDriverPath));
    if (!driver) return fail();

    // CREATEDCPRE: the interface driver's job DEVMODE replaces the caller's.
    std::u16string driverName = d3->pName ? std::u16string(d3->pName) : std::u16string();
    DEVMODEW* job = nullptr;
    std::vector<BYTE> jobCopy;
    if (event) {
        DOCEVENT_CREATEDCPRE pre{driverName.data(), name.data(), const_cast<DEVMODEW*>(devmode),
                                 informationOnly ? TRUE : FALSE};
        const int rc = event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof job, &job);
        if (rc == DOCUMENTEVENT_FAILURE) {
            // A job DEVMODE published before the failure is the driver's
            // to free; it is never used.
            if (job) GlobalFree(job);
            SetLastError(GetLastError() ? GetLastError() : ERROR_INVALID_DATA);
            return fail();
        }
        if (job) {
            const auto* p = reinterpret_cast<const BYTE*>(job);
            jobCopy.assign(p, p + job->dmSize + job->dmDriverExtra);
            devmode = reinterpret_cast<const DEVMODEW*>(jobCopy.data());
        }
    }
    std::u16string address = output && *output ? std::u16string(output)
                             : p2->pPortName ? std::u16string(p2->pPortName) : std::u16string();
    auto dev = Device::Enable(driver, devmode, name, address, printer);
    if (!dev) {
        if (job) GlobalFree(job);
        return fail();
    }
    auto* dc = new DeviceContext();
    dc->device = std::move(dev);
    dc->printer = printer;
    dc->uiModule = ui;
    dc->documentEvent = event;
    dc->informationOnly = informationOnly;
    if (event) {
        // CREATEDCPOST frees the job DEVMODE; a refused renderer fails the DC.
        DEVMODEW* posted = job;
        if (RaiseEvent(*dc, DOCUMENTEVENT_CREATEDCPOST, sizeof posted, &posted) == DOCUMENTEVENT_FAILURE) {
            DWORD err = GetLastError();
            DeleteDC(dc->Handle());
            SetLastError(err ? err : ERROR_INVALID_PRINTER_NAME);
            return nullptr;
        }
    }
    return dc->Handle();
}

}  // namespace

extern "C" {

HDC CreateDCW(LPCWSTR, LPCWSTR device, LPCWSTR output, const DEVMODEW* devmode) {
    return CreatePrinterDc(device, output, devmode, false);
}

HDC CreateICW(LPCWSTR, LPCWSTR device, LPCWSTR output, const DEVMODEW* devmode) {
    return CreatePrinterDc(device, output, devmode, true);
}

HDC CreateCompatibleDC(HDC hdc) {
    if (hdc && !Dc(hdc)) return nullptr;
    auto* dc = new DeviceContext();
    StockBitmap()->SelectInto(*dc);
    return dc->Handle();
}

BOOL DeleteDC(HDC hdc) {
    auto* dc = Dc(hdc);
    if (!dc) return FALSE;
    if (dc->docOpen && dc->device) AbortDocument(*dc);
    RaiseEvent(*dc, DOCUMENTEVENT_DELETEDC);
    if (dc->brush) --dc->brush->selections;
    if (dc->bitmap) --dc->bitmap->selections;
    // Pens and fonts selected, now or in a saved state, are free to delete
    // once their DC is gone.
    DrawState& s = State(*dc);
    if (s.pen) --s.pen->selections;
    if (s.font) --s.font->selections;
    for (const SavedDc& saved : s.saved) {
        if (saved.brush) --saved.brush->selections;
        if (saved.draw.pen) --saved.draw.pen->selections;
        if (saved.draw.font) --saved.draw.font->selections;
    }
    HANDLE printer = dc->printer;
    HMODULE ui = dc->uiModule;
    delete dc;  // disables the device before its printer closes
    if (printer) ClosePrinter(printer);
    if (ui) FreeLibrary(ui);
    return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
    auto* dc = Dc(hdc);
    if (!dc) return 0;
    if (!dc->device) {
        SIZEL s = dc->Size();
        switch (index) {
            case HORZRES: return s.cx;
            case VERTRES: return s.cy;
            case BITSPIXEL: return static_cast<int>(BitsPerPixel(dc->Format()));
            case PLANES: return 1;
            // A memory DC stands for the screen.
            case LOGPIXELSX:
            case LOGPIXELSY: return 96;
            default: return 0;
        }
    }
    const GDIINFO& g = dc->device->Info();
    switch (index) {
        case DRIVERVERSION: return static_cast<int>(g.ulVersion);
        case TECHNOLOGY: return static_cast<int>(g.ulTechnology);
        case HORZSIZE: return static_cast<int>(g.ulHorzSize);
        case VERTSIZE: return static_cast<int>(g.ulVertSize);
        case HORZRES: return static_cast<int>(g.ulHorzRes);
        case VERTRES: return static_cast<int>(g.ulVertRes);
        case BITSPIXEL: return static_cast<int>(g.cBitsPixel);
        case PLANES: return static_cast<int>(g.cPlanes);
        case NUMCOLORS: return static_cast<int>(g.ulNumColors);
        case LOGPIXELSX: return static_cast<int>(g.ulLogPixelsX);
        case LOGPIXELSY: return static_cast<int>(g.ulLogPixelsY);
        case PHYSICALWIDTH: return g.szlPhysSize.cx;
        case PHYSICALHEIGHT: return g.szlPhysSize.cy;
        case PHYSICALOFFSETX: return g.ptlPhysOffset.x;
        case PHYSICALOFFSETY: return g.ptlPhysOffset.y;
        default: return 0;
    }
}

int StartDocW(HDC hdc, const DOCINFOW* info) {
    auto* dc = Dc(hdc);
    if (!dc) return -1;
    if (!dc->device || dc->docOpen || dc->informationOnly) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const DOCINFOW* given = info;
    if (RaiseEvent(*dc, DOCUMENTEVENT_STARTDOC, sizeof given, &given) == DOCUMENTEVENT_FAILURE) return -1;
    std::u16string name = info && info->lpszDocName ? std::u16string(info->lpszDocName) : std::u16string();
    // A DC on a printer of the spooler writes a RAW job: what the driver
    // sends through WritePrinter lands in it. A DC on a driver file alone has
    // no spooler and numbers its documents itself.
    DWORD job = 0;
    if (dc->printer) {
        std::u16string output = info && info->lpszOutput ? std::u16string(info->lpszOutput) : std::u16string();
        std::u16string datatype = u"RAW";
        DOC_INFO_1W spool{name.data(), output.empty() ? nullptr : output.data(), datatype.data()};
        job = StartDocPrinterW(dc->printer, 1, reinterpret_cast<LPBYTE>(&spool));
        if (!job) return -1;
    } else {
        job = g_jobId++;
    }
    if (!dc->device->StartDoc(name, job)) {
        DWORD err = GetLastError();
        if (dc->printer) AbortPrinter(dc->printer);
        SetLastError(err);
        return -1;
    }
    dc->docOpen = true;
    DWORD jobId = job;
    RaiseEvent(*dc, DOCUMENTEVENT_STARTDOCPOST, sizeof jobId, &jobId);
    return static_cast<int>(job);
}

int StartPage(HDC hdc) {
    auto* dc = Dc(hdc);
    if (!dc) return -1;
    if (!dc->device || !dc->docOpen || dc->pageOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    dc->page.clear();
    // The interface driver may draw on the page at its start (before
    // DrvStartPage): held in the page and played once the page started.
    dc->pageOpen = true;
    dc->holdDrawing = true;
    const bool ok = RaiseEvent(*dc, DOCUMENTEVENT_STARTPAGE) != DOCUMENTEVENT_FAILURE && dc->device->StartPage();
    dc->holdDrawing = false;
    if (!ok) {
        dc->pageOpen = false;
        dc->page.clear();
        return -1;
    }
    if (!dc->device->Banding()) {
        PlayContext ctx;
        ctx.surface = dc->device->SurfaceObject();
        ctx.device = dc->device.get();
        ctx.band = dc->device->PageRect();
        PlayList(dc->page, ctx);
    }
    // The spooler counts the job's pages.
    if (dc->printer && !StartPagePrinter(dc->printer)) {
        dc->pageOpen = false;
        return -1;
    }
    return 1;
}

int EndPage(HDC hdc) {
    auto* dc = Dc(hdc);
    if (!dc) return -1;
    if (!dc->device || !dc->pageOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // The interface driver's drawing at the page's end lands on the page.
    if (RaiseEvent(*dc, DOCUMENTEVENT_ENDPAGE) == DOCUMENTEVENT_FAILURE) return -1;
    dc->pageOpen = false;
    BOOL ok = dc->device->EndPage(dc->page);
    if (dc->keepPages) dc->keptPages.push_back(std::make_shared<const DisplayList>(dc->page));
    dc->page.clear();
    if (ok && dc->printer) ok = EndPagePrinter(dc->printer);
    return ok ? 1 : -1;
}

int EndDoc(HDC hdc) {
    auto* dc = Dc(hdc);
    if (!dc) return -1;
    if (!dc->device || !dc->docOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (dc->pageOpen && EndPage(hdc) < 0) {
        DWORD err = GetLastError();
        AbortDocument(*dc);
        SetLastError(err);
        return -1;
    }
    if (RaiseEvent(*dc, DOCUMENTEVENT_ENDDOC) == DOCUMENTEVENT_FAILURE) {
        DWORD err = GetLastError();
        AbortDocument(*dc);
        SetLastError(err);
        return -1;
    }
    dc->docOpen = false;
    if (!dc->device->EndDoc(0)) {
        // A document the driver could not finish is no job to print.
        DWORD err = GetLastError();
        if (dc->printer) AbortPrinter(dc->printer);
        SetLastError(err);
        return -1;
    }
    if (dc->printer && !EndDocPrinter(dc->printer)) return -1;
    RaiseEvent(*dc, DOCUMENTEVENT_ENDDOCPOST);
    return 1;
}

int AbortDoc(HDC hdc) {
    auto* dc = Dc(hdc);
    if (!dc || !dc->device || !dc->docOpen) return -1;
    return AbortDocument(*dc) ? 1 : -1;
}

HDC ResetDCW(HDC hdc, const DEVMODEW* devmode) {
    auto* dc = Dc(hdc);
    if (!dc || !dc->device || dc->pageOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // RESETDCPRE: the interface driver's job DEVMODE replaces the caller's;
    // RESETDCPOST frees it.
    DEVMODEW* given = const_cast<DEVMODEW*>(devmode);
    DEVMODEW* job = nullptr;
    if (RaiseEvent(*dc, DOCUMENTEVENT_RESETDCPRE, sizeof given, &given, sizeof job, &job) == DOCUMENTEVENT_FAILURE) {
        if (job) GlobalFree(job);
        return nullptr;
    }
    const bool ok = dc->device->Reset(job ? job : devmode) != FALSE;
    if (dc->documentEvent) {
        DEVMODEW* posted = job;
        if (RaiseEvent(*dc, DOCUMENTEVENT_RESETDCPOST, sizeof posted, &posted) == DOCUMENTEVENT_FAILURE) return nullptr;
    }
    return ok ? hdc : nullptr;
}

int ExtEscape(HDC hdc, int code, int cjIn, LPCSTR in, int cjOut, LPSTR out) {
    auto* dc = Dc(hdc);
    if (!dc) return -1;
    if (!dc->device || cjIn < 0 || cjOut < 0 || (cjIn > 0 && !in) || (cjOut > 0 && !out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // An application's escape is the interface driver's to see first.
    if (dc->eventDepth == 0) {
        DOCEVENT_ESCAPE escape{code, cjIn, in};
        if (RaiseEvent(*dc, DOCUMENTEVENT_ESCAPE, sizeof escape, &escape) == DOCUMENTEVENT_FAILURE) return -1;
    }
    ULONG r = dc->device->Escape(static_cast<ULONG>(code),
                                 std::span<const BYTE>(reinterpret_cast<const BYTE*>(in), in ? size_t(cjIn) : 0),
                                 std::span<BYTE>(reinterpret_cast<BYTE*>(out), out ? size_t(cjOut) : 0));
    return static_cast<int>(r);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    LogicalBrush b;
    b.color = color & 0xFFFFFF;
    return (new BrushObject(b))->Handle();
}

HBRUSH CreateHatchBrush(int style, COLORREF color) {
    if (style < 0 || style >= static_cast<int>(HS_DDI_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LogicalBrush b;
    b.kind = LogicalBrush::Kind::Hatch;
    b.hatch = static_cast<ULONG>(style);
    b.color = color & 0xFFFFFF;
    return (new BrushObject(b))->Handle();
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
    auto* bmp = ObjectAs<BitmapObject>(bitmap);
    if (!bmp || !bmp->bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    LogicalBrush b;
    b.kind = LogicalBrush::Kind::Pattern;
    RECTL all{0, 0, bmp->bitmap->Get()->sizlBitmap.cx, bmp->bitmap->Get()->sizlBitmap.cy};
    b.pattern = CopyArea(*bmp, all);
    b.patternPalette = bmp->palette;
    if (!b.pattern) return nullptr;
    return (new BrushObject(b))->Handle();
}

HBRUSH CreateDIBPatternBrushPt(const void* packedDib, UINT usage) {
    if (!packedDib) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* info = static_cast<const BITMAPINFO*>(packedDib);
    auto dib = LoadDib(info, nullptr, usage);
    if (!dib) return nullptr;
    LogicalBrush b;
    b.kind = LogicalBrush::Kind::Pattern;
    b.pattern = dib->bitmap;
    b.patternPalette = dib->palette;
    return (new BrushObject(b))->Handle();
}

HGDIOBJ GetStockObject(int index) {
    if (BrushObject* b = StockBrush(index)) return b->Handle();
    if (GdiObject* o = StockDrawObject(index)) return o->Handle();
    return nullptr;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
    auto* dc = Dc(hdc);
    GdiObject* obj = ObjectFromHandle(object);
    if (!dc || !obj) {
        if (dc) SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (auto* rgn = dynamic_cast<RegionObject*>(obj)) {
        rgn->SelectInto(*dc);
        return reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(RegionKind(dc->EffectiveClip())));
    }
    GdiObject* prev = obj->SelectInto(*dc);
    return prev ? prev->Handle() : nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
    GdiObject* obj = ObjectFromHandle(object);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (obj->stock) return TRUE;
    // An object still selected into a DC stays until it is deselected.
    if (obj->selections > 0) {
        SetLastError(ERROR_BUSY_OBJECT);
        return FALSE;
    }
    delete obj;
    return TRUE;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    auto* dc = Dc(hdc);
    if (!dc) return 0xFFFFFFFF;
    COLORREF prev = dc->bkColor;
    dc->bkColor = color & 0xFFFFFF;
    return prev;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    auto* dc = Dc(hdc);
    if (!dc) return 0xFFFFFFFF;
    COLORREF prev = dc->textColor;
    dc->textColor = color & 0xFFFFFF;
    return prev;
}

int SetBkMode(HDC hdc, int mode) {
    auto* dc = Dc(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int prev = dc->bkMode;
    dc->bkMode = mode;
    return prev;
}

int SetStretchBltMode(HDC hdc, int mode) {
    auto* dc = Dc(hdc);
    if (!dc || mode < STRETCH_ANDSCANS || mode > STRETCH_HALFTONE) return 0;
    int prev = dc->stretchMode;
    dc->stretchMode = mode;
    return prev;
}

BOOL SetBrushOrgEx(HDC hdc, int x, int y, POINT* previous) {
    auto* dc = Dc(hdc);
    if (!dc) return FALSE;
    if (previous) *previous = {dc->brushOrigin.x, dc->brushOrigin.y};
    dc->brushOrigin = {x, y};
    return TRUE;
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
    ULONG format = bitCount == 1 ? BMF_1BPP : bitCount == 4 ? BMF_4BPP : bitCount == 8 ? BMF_8BPP
                   : bitCount == 16 ? BMF_16BPP : bitCount == 24 ? BMF_24BPP : bitCount == 32 ? BMF_32BPP : 0;
    if (width <= 0 || height <= 0 || planes != 1 || !format) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto bmp = std::make_shared<Bitmap>(width, height, format);
    if (!*bmp) return nullptr;
    if (bits) {
        // Rows of device-dependent bitmaps are padded to 16 bits.
        size_t stride = (size_t(width) * bitCount + 15) / 16 * 2;
        size_t rowBytes = (size_t(width) * bitCount + 7) / 8;
        for (int y = 0; y < height; ++y)
            std::memcpy(bmp->Get()->Row(y), static_cast<const BYTE*>(bits) + stride * y, rowBytes);
    }
    auto* obj = new BitmapObject();
    obj->bitmap = std::move(bmp);
    return obj->Handle();
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
    // The application fills the bits after the call; nothing follows the
    // header and colour table in its structure.
    std::optional<PalColors> pal;
    if (usage == DIB_PAL_COLORS) {
        if (!(pal = ResolvePalColors(hdc, info))) return nullptr;
        info = pal->Info();
        usage = DIB_RGB_COLORS;
    }
    auto dib = NewDib(info, usage);
    if (!dib) return nullptr;
    // The section's colours keep following the palette it was made through.
    if (pal && dib->palette && !pal->source->stock) pal->source->followers.push_back({dib->palette, pal->indices});
    if (bits) *bits = dib->bitmap->Get()->pvBits;
    return BitmapFromDib(*dib);
}

// A rectangle given by a corner and its sides whose far corner lies past
// the coordinate range is no rectangle a DC can hold: refused, rather than
// summed past what an int holds.
static bool FarCornerInRange(int x, int y, int width, int height) {
    const int64_t r = int64_t{x} + width, b = int64_t{y} + height;
    if (r >= INT32_MIN && r <= INT32_MAX && b >= INT32_MIN && b <= INT32_MAX) return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
    auto* dc = Dc(hdc);
    if (!dc || !FarCornerInRange(x, y, width, height)) return FALSE;
    if (RopUsesSource((rop >> 16) & 0xFF)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECTL r = OrderRect(LogicalRectToDevice(*dc, {x, y, x + width, y + height}));
    return Blt(*dc, r, nullptr, nullptr, {}, rop, nullptr) ? TRUE : FALSE;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    auto* dc = Dc(hdc);
    if (!dc) return 0;
    auto* b = ObjectAs<BrushObject>(brush);
    if (!rect || !b) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // FillRect does not fill a rectangle whose right or bottom is not past
    // its left or top.
    if (rect->right <= rect->left || rect->bottom <= rect->top) return 1;
    RECTL d = OrderRect(LogicalRectToDevice(*dc, *rect));
    return Blt(*dc, d, nullptr, nullptr, {}, PATCOPY, &b->logical) ? 1 : 0;
}

BOOL StretchBlt(HDC hdc, int x, int y, int width, int height, HDC source, int x1, int y1, int width1, int height1,
                DWORD rop) {
    auto* dc = Dc(hdc);
    if (!dc) return FALSE;
    if (!RopUsesSource((rop >> 16) & 0xFF)) return PatBlt(hdc, x, y, width, height, rop);
    if (!FarCornerInRange(x, y, width, height) || !FarCornerInRange(x1, y1, width1, height1)) return FALSE;
    auto* src = Dc(source);
    if (!src || !src->bitmap || !src->bitmap->bitmap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECTL area = LogicalRectToDevice(*src, {x1, y1, x1 + width1, y1 + height1});
    auto copy = CopyArea(*src->bitmap, area);
    if (!copy) return TRUE;
    RECTL dest = LogicalRectToDevice(*dc, {x, y, x + width, y + height});
    return Blt(*dc, dest, copy, src->bitmap->palette, area, rop, nullptr) ? TRUE : FALSE;
}

BOOL BitBlt(HDC hdc, int x, int y, int width, int height, HDC source, int x1, int y1, DWORD rop) {
    return StretchBlt(hdc, x, y, width, height, source, x1, y1, width, height, rop);
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
    auto* dc = Dc(hdc);
    if (!dc) return 0;
    if (!RopUsesSource((rop >> 16) & 0xFF))
        return PatBlt(hdc, xDest, yDest, destWidth, destHeight, rop) ? destHeight : 0;
    std::optional<PalColors> pal;
    if (usage == DIB_PAL_COLORS) {
        if (!(pal = ResolvePalColors(hdc, info))) return 0;
        if (!bits) bits = pal->bitsAfter;
        info = pal->Info();
        usage = DIB_RGB_COLORS;
    }
    auto dib = LoadDib(info, bits, usage);
    if (!dib) return 0;
    // Source rectangles of bottom-up images count rows from the bottom.
    LONG h = dib->bitmap->Get()->sizlBitmap.cy;
    RECTL s{xSrc, ySrc, xSrc + srcWidth, ySrc + srcHeight};
    if (dib->bottomUp) s = {xSrc, h - ySrc - srcHeight, xSrc + srcWidth, h - ySrc};
    if (srcHeight < 0 && dib->bottomUp) std::swap(s.top, s.bottom);
    RECTL d = LogicalRectToDevice(*dc, {xDest, yDest, xDest + destWidth, yDest + destHeight});
    return Blt(*dc, d, dib->bitmap, dib->palette, s, rop, nullptr) ? std::abs(srcHeight) : 0;
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT scanLines, const void* bits, const BITMAPINFO* info, UINT usage) {
    if (startScan != 0 || !info || scanLines < static_cast<UINT>(std::abs(info->bmiHeader.biHeight))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int r = StretchDIBits(hdc, xDest, yDest, static_cast<int>(width), static_cast<int>(height), xSrc, ySrc,
                          static_cast<int>(width), static_cast<int>(height), bits, info, usage, SRCCOPY);
    return r ? static_cast<int>(scanLines) : 0;
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    auto* r = new RegionObject();
    r->region = Region(RECTL{left, top, right, bottom});
    return r->Handle();
}

int CombineRgn(HRGN dest, HRGN a, HRGN b, int mode) {
    auto* d = ObjectAs<RegionObject>(dest);
    auto* ra = ObjectAs<RegionObject>(a);
    auto* rb = ObjectAs<RegionObject>(b);
    if (!d || !ra || (mode != RGN_COPY && !rb)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_REGION;
    }
    switch (mode) {
        case RGN_AND: d->region = ra->region.Intersect(rb->region); break;
        case RGN_OR: d->region = ra->region.Union(rb->region); break;
        case RGN_DIFF: d->region = ra->region.Subtract(rb->region); break;
        case RGN_XOR: d->region = ra->region.Subtract(rb->region).Union(rb->region.Subtract(ra->region)); break;
        case RGN_COPY: d->region = ra->region; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return ERROR_REGION;
    }
    return RegionKind(d->region);
}

int SelectClipRgn(HDC hdc, HRGN region) {
    auto* dc = Dc(hdc);
    if (!dc) return ERROR_REGION;
    if (!region) {
        dc->clip.reset();
        return SIMPLEREGION;
    }
    auto* r = ObjectAs<RegionObject>(region);
    if (!r) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_REGION;
    }
    dc->clip = r->region;
    return RegionKind(dc->EffectiveClip());
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
    auto* dc = Dc(hdc);
    if (!dc) return ERROR_REGION;
    dc->clip = dc->EffectiveClip().Intersect(Region(OrderRect(LogicalRectToDevice(*dc, {left, top, right, bottom}))));
    return RegionKind(*dc->clip);
}

int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
    auto* dc = Dc(hdc);
    if (!dc) return ERROR_REGION;
    dc->clip = dc->EffectiveClip().Subtract(Region(OrderRect(LogicalRectToDevice(*dc, {left, top, right, bottom}))));
    return RegionKind(*dc->clip);
}

int GetClipBox(HDC hdc, RECT* rect) {
    auto* dc = Dc(hdc);
    if (!dc || !rect) return ERROR_REGION;
    Region r = dc->EffectiveClip();
    *rect = r.Bounds();
    return RegionKind(r);
}

}  // extern "C"
