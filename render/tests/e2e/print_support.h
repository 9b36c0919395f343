// Shared by the print tests and the benchmark: a language-0 printer on the
// current system root, the sample DEVMODE and drawings, and a print run that
// keeps the job and the engine's reference render of each page.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/root.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "pclread/judge.h"
#include "pclread/pclread.h"
#include "settings/devmode.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/fresh_root.h"

namespace pclrend::testing {

inline LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

// Makes `dm` a record for the monochrome raster language writing the PCL
// job (not the spool stream) at `dpi`, with the sheet geometry of its paper
// (letter, or A4 for paper code 9) and margins of 1/6 inch.
inline void MakeRasterDevmode(zq::PrivateDevmode& dm, int dpi) {
    const bool a4 = dm.dm.dmPaperSize == DMPAPER_A4;
    dm.dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dm.dmPrintQuality = static_cast<SHORT>(dpi);
    dm.dm.dmYResolution = static_cast<SHORT>(dpi);
    dm.dm.dmColor = DMCOLOR_MONOCHROME;
    dm.printerLanguage = 0;
    dm.metaSpool = 0;  // the PCL job, not the spool stream
    auto& g = dm.paperFormats[0];
    g = {};
    g.paperCodeAsked = g.paperCodeUsed = a4 ? DMPAPER_A4 : DMPAPER_LETTER;
    g.orientation = 1;
    g.width = g.usedWidth = static_cast<WORD>(a4 ? dpi * 2100 / 254 : dpi * 17 / 2);
    g.length = g.usedLength = static_cast<WORD>(a4 ? dpi * 2970 / 254 : dpi * 11);
    g.leftMargin = g.usedLeftMargin = static_cast<WORD>(dpi / 6);
    g.topMargin = g.usedTopMargin = static_cast<WORD>(dpi / 6);
    g.printableWidth = g.usedPrintableWidth = static_cast<WORD>(g.width - 2 * g.leftMargin);
    g.printableLength = g.usedPrintableLength = static_cast<WORD>(g.length - 2 * g.topMargin);
    dm.paperFormats[1] = g;
    std::swap(dm.paperFormats[1].width, dm.paperFormats[1].length);
    std::swap(dm.paperFormats[1].usedWidth, dm.paperFormats[1].usedLength);
    std::swap(dm.paperFormats[1].printableWidth, dm.paperFormats[1].printableLength);
    std::swap(dm.paperFormats[1].usedPrintableWidth, dm.paperFormats[1].usedPrintableLength);
}

inline zq::PrivateDevmode Letter(int dpi) {
    zq::PrivateDevmode dm{};
    dm.dm.dmSpecVersion = DM_SPECVERSION;
    dm.dm.dmSize = zq::kPublicDevmodeSize;
    dm.dm.dmDriverExtra = zq::kDriverExtraSize;
    dm.dm.dmFields = zq::kDefaultDevmodeFields;
    dm.privateVersion = zq::kPrivateDevmodeVersion;
    dm.signature1 = dm.signature2 = dm.signature3 = zq::kPrivateDevmodeSignature;
    dm.dm.dmPaperSize = DMPAPER_LETTER;
    dm.dm.dmCopies = 1;
    dm.dm.dmDefaultSource = 1;
    dm.dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dm.dmDitherType = 3;
    dm.darknessLevel = 4;
    std::strcpy(dm.printerName, "Mono");
    MakeRasterDevmode(dm, dpi);
    return dm;
}

// A printer of the colour line printing in colour in `language` (PCL 5
// with its colour image path).
inline zq::PrivateDevmode ColourLetter(int dpi, BYTE language) {
    auto dm = Letter(dpi);
    dm.model.flags400 |= 0x08 | 0x20;
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.printerLanguage = language;
    return dm;
}

// A postcard sheet (100 x 148 mm, paper code 43) with 1/6 inch margins.
inline void Postcard(zq::PrivateDevmode& dm, int dpi) {
    dm.dm.dmPaperSize = 43;
    for (int o = 0; o < 2; ++o) {
        auto& g = dm.paperFormats[o];
        g.paperCodeAsked = g.paperCodeUsed = 43;
        const WORD w = static_cast<WORD>(dpi * 1000 / 254), l = static_cast<WORD>(dpi * 1480 / 254);
        g.width = g.usedWidth = o ? l : w;
        g.length = g.usedLength = o ? w : l;
        g.printableWidth = g.usedPrintableWidth = static_cast<WORD>(g.width - 2 * g.leftMargin);
        g.printableLength = g.usedPrintableLength = static_cast<WORD>(g.length - 2 * g.topMargin);
    }
}

// The sample drawings: each page a different mix of what the raster route
// hands to the engine. Solid fills are black or white here: grey fills are
// dithered with the driver's own cells, which the engine's reference render
// does not use (see GreyFillsUseTheDriversDither).
inline void DrawShapes(HDC dc, int dpi, int page) {
    const int u = dpi / 100;  // drawing unit: 1/100 inch
    HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 0, 0));
    HBRUSH lines = CreateHatchBrush(HS_HORIZONTAL + page, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, 50 * u, 50 * u, 400 * u, 300 * u);
    SelectObject(dc, lines);
    Ellipse(dc, 300 * u, 200 * u, 750 * u, 600 * u);
    SelectObject(dc, hatch);
    Rectangle(dc, 100 * u, 650 * u, 700 * u, 1000 * u);
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    for (int i = 0; i < 20; ++i) PatBlt(dc, (60 + i * 35) * u, (320 + page * 7) * u, 2 * u + i, 200 * u, PATCOPY);
    PatBlt(dc, 0, 0, 30 * u, 30 * u, PATCOPY);  // the page's top left corner
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, 800 * u, 1040 * u);
    SelectObject(dc, old);
    DeleteObject(hatch);
    DeleteObject(lines);
}


// Installs the driver (copied from the build) and a printer "Mono" on the
// current system root; returns the driver file, empty on failure.
inline std::filesystem::path InstallPrinter() {
    DRIVER_INFO_2W d{3, W(u"Zelquor M600"), nullptr, W(u"pclrend.so"), W(u"pclrend.so"), W(u"pclrend.so")};
    if (!AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&d))) return {};
    PRINTER_INFO_2W info{};
    info.pPrinterName = W(u"Mono");
    info.pDriverName = W(u"Zelquor M600");
    info.pPortName = W(u"LPT1:");
    HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) return {};
    DWORD needed = 0;
    GetPrinterDriverW(h, nullptr, 2, nullptr, 0, &needed);
    std::vector<BYTE> block(needed);
    std::filesystem::path path;
    if (GetPrinterDriverW(h, nullptr, 2, block.data(), needed, &needed)) {
        if (auto target = zq::MapPath(reinterpret_cast<DRIVER_INFO_2W*>(block.data())->pDriverPath)) path = *target;
    }
    ClosePrinter(h);
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    if (path.empty() || !bin) return {};
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::filesystem::copy_file(std::filesystem::path(bin) / "lib" / "pclrend.so", path,
                               std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? std::filesystem::path{} : path;
}

struct PrintResult {
    std::vector<uint8_t> job;
    std::vector<zq::gdi::Bitmap> reference;
    bool endDocOk = false;
    bool pagesOk = true;
    DWORD pageError = 0;  // the last error of the first page that failed
    bool enabled = false;
};

// Prints `pages` pages on "Mono" through the driver at `driverPath`.
inline PrintResult PrintPages(const std::filesystem::path& driverPath, zq::PrivateDevmode dm, int pages,
                              const std::function<void(HDC, int)>& draw, bool keepReference = true,
                              const char16_t* documentName = u"sample") {
    PrintResult result;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(W(u"Mono"), &printer, nullptr)) return result;
    DOC_INFO_1W doc{W(u"sample"), nullptr, W(u"RAW")};
    const DWORD jobId = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    auto driver = zq::gdi::Driver::Load(driverPath.string());
    auto device = driver ? zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"LPT1:", printer) : nullptr;
    if (device && jobId) {
        result.enabled = true;
        auto* context = new zq::gdi::DeviceContext();
        context->device = std::move(device);
        HDC dc = context->Handle();
        zq::KeepPages(dc, keepReference);
        DOCINFOW info{sizeof(DOCINFOW), documentName, nullptr, nullptr, 0};
        result.pagesOk = StartDocW(dc, &info) > 0;
        bool pageFailed = false;
        for (int p = 0; p < pages; ++p) {
            result.pagesOk &= StartPage(dc) > 0;
            draw(dc, p);
            const bool sent = EndPage(dc) > 0;
            if (!sent && !pageFailed) result.pageError = GetLastError();
            pageFailed |= !sent;
            result.pagesOk &= sent;
        }
        result.endDocOk = EndDoc(dc) > 0;
        for (size_t i = 0; i < zq::KeptPageCount(dc); ++i) result.reference.push_back(zq::RenderReferencePage(dc, i));
        DeleteDC(dc);
    }
    EndDocPrinter(printer);
    ClosePrinter(printer);
    if (jobId) {
        std::ifstream in(zq::store::JobFile(jobId), std::ios::binary);
        result.job.assign(std::istreambuf_iterator<char>(in), {});
    }
    return result;
}

// A fresh system root with the driver and printer "Mono" installed, and no
// write fault left over from a test before or for a test after.
class PrinterTest : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
        driverPath_ = InstallPrinter();
        ASSERT_FALSE(driverPath_.empty());
    }
    void TearDown() override {
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
        FreshRoot::TearDown();
    }
    std::filesystem::path driverPath_;
};

// Reader options for a job printed with `dm`: the page is the record's
// printable area.
inline pclread::Options PrintableArea(const zq::PrivateDevmode& dm) {
    pclread::Options options;
    options.pageWidth = dm.paperFormats[0].printableWidth;
    options.pageHeight = dm.paperFormats[0].printableLength;
    return options;
}

// What the reader found wrong with a job, one line each, for a failed
// check's message.
inline std::string ErrorText(const pclread::Job& job) {
    std::string text;
    for (const auto& e : job.errors) text += e + "\n";
    return text;
}

// The reference render as a page of the reader's form (1 = black).
inline pclread::Page AsPage(zq::gdi::Bitmap& reference) {
    pclread::Page page;
    zq::gdi::Surface* s = reference.Get();
    if (!s) return page;
    page.width = s->sizlBitmap.cx;
    page.height = s->sizlBitmap.cy;
    page.stride = (page.width + 7) / 8;
    page.bits.assign(static_cast<size_t>(page.stride) * page.height, 0);
    const bool fast = s->iBitmapFormat == BMF_1BPP;
    const bool zeroIsBlack = s->Pal().ToRgb(0) == 0;
    for (LONG y = 0; y < page.height; ++y) {
        uint8_t* out = page.bits.data() + static_cast<size_t>(y) * page.stride;
        if (fast) {
            const BYTE* row = s->Row(y);
            for (LONG i = 0; i < page.stride; ++i) out[i] = zeroIsBlack ? static_cast<uint8_t>(~row[i]) : row[i];
            if (page.width % 8) out[page.stride - 1] &= static_cast<uint8_t>(0xFF00 >> (page.width % 8));
            continue;
        }
        for (LONG x = 0; x < page.width; ++x)
            if (s->Pal().ToRgb(s->Pixel(x, y)) == 0) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return page;
}

// `page` onto `sheet` at (x, y), darker wins.
inline void Overlay(pclread::Grey& sheet, const pclread::Grey& page, int32_t x, int32_t y) {
    for (int32_t py = 0; py < page.height; ++py)
        for (int32_t px = 0; px < page.width; ++px) {
            const int32_t sx = px + x, sy = py + y;
            if (sx < 0 || sy < 0 || sx >= sheet.width || sy >= sheet.height) continue;
            uint8_t& v = sheet.v[static_cast<size_t>(sy) * sheet.width + sx];
            v = std::min(v, page.At(px, py));
        }
}

// The interpreter feeds a landscape sheet the short edge first: its page
// comes out turned. Turned back (the way that matches the decoded sheet
// best) it is the sheet as the reader draws it.
inline pclread::Grey Upright(const pclread::Grey& printed, const pclread::Grey& decoded) {
    if (printed.width == decoded.width || printed.width != decoded.height) return printed;
    pclread::Grey best;
    int64_t bestDiff = -1;
    for (bool clockwise : {false, true}) {
        pclread::Grey t(printed.height, printed.width);
        for (int32_t y = 0; y < t.height; ++y)
            for (int32_t x = 0; x < t.width; ++x)
                t.v[static_cast<size_t>(y) * t.width + x] =
                    clockwise ? printed.At(y, printed.height - 1 - x) : printed.At(printed.width - 1 - y, x);
        int64_t diff = 0;
        for (size_t i = 0; i < t.v.size(); i += 7) diff += std::abs(int{t.v[i]} - int{decoded.v[i]});
        if (bestDiff < 0 || diff < bestDiff) {
            bestDiff = diff;
            best = std::move(t);
        }
    }
    return best;
}

// A file's bytes; empty when it cannot be read.
inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The sample documents of tools/emfgen, one after the other as one document
// of their pages; empty when the source tree is unknown or a sample is missing.
inline std::vector<uint8_t> SampleDocument(const std::vector<const char*>& samples) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    if (source == nullptr) return {};
    std::vector<uint8_t> emf;
    for (const char* sample : samples) {
        const auto bytes = ReadAll(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(sample) + ".emf"));
        if (bytes.empty()) return {};
        emf.insert(emf.end(), bytes.begin(), bytes.end());
    }
    return emf;
}

}  // namespace pclrend::testing
