// Spooling a metafile and playing it onto the printer's device context.
#include "gdi/emf_print.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/error.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace zq::emf {
namespace {

struct Printer {
    HANDLE h = nullptr;
    ~Printer() {
        if (h) ClosePrinter(h);
    }
};

std::string Code() { return " (error " + std::to_string(GetLastError()) + ")"; }

}  // namespace

RECTL PlacePage(const Header& header, SIZEL printable, int dpiX, int dpiY) {
    RECTL whole{0, 0, printable.cx, printable.cy};
    PageFrame f = FrameOf(header);
    double w = f.width / 25.4 * dpiX, h = f.height / 25.4 * dpiY;
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h) || printable.cx <= 0 || printable.cy <= 0)
        return whole;
    double s = std::min({1.0, printable.cx / w, printable.cy / h});
    return {0, 0, static_cast<LONG>(std::min<double>(printable.cx, std::lround(w * s))),
            static_cast<LONG>(std::min<double>(printable.cy, std::lround(h * s)))};
}

std::string PagePath(const std::string& pattern, size_t page) {
    auto at = pattern.find("%d");
    if (at == std::string::npos) return pattern;
    return pattern.substr(0, at) + std::to_string(page) + pattern.substr(at + 2);
}

PrintResult PrintDocument(std::u16string_view printerName, std::span<const uint8_t> emf, std::u16string_view docName,
                          const DEVMODEW* devmode, const std::string& pngPath) {
    PrintResult r;
    auto parsed = ParseEmfPages(emf);
    if (parsed.pages.empty()) {
        r.error = parsed.error;
        return r;
    }
    if (!pngPath.empty() && parsed.pages.size() > 1 && pngPath.find("%d") == std::string::npos) {
        r.error = "a document of " + std::to_string(parsed.pages.size()) +
                  " pages needs \"%d\" in the reference page name for the page number";
        return r;
    }
    std::u16string name(printerName), doc(docName);
    Printer p;
    if (!OpenPrinterW(name.data(), &p.h, nullptr)) {
        r.error = "cannot open printer " + store::ToUtf8(name) + Code();
        return r;
    }
    // Spool: the document becomes an EMF job of the printer.
    std::u16string datatype = u"NT EMF 1.008";
    DOC_INFO_1W info{doc.data(), nullptr, datatype.data()};
    r.spoolJob = StartDocPrinterW(p.h, 1, reinterpret_cast<LPBYTE>(&info));
    if (!r.spoolJob) {
        r.error = "cannot spool the document" + Code();
        return r;
    }
    DWORD written = 0;
    bool wrote = WritePrinter(p.h, const_cast<uint8_t*>(emf.data()), static_cast<DWORD>(emf.size()), &written) &&
                 written == emf.size();
    if (!EndDocPrinter(p.h) || !wrote) {
        r.error = "cannot spool the document" + Code();
        return r;
    }
    // Play what the spooler holds.
    std::ifstream in(store::JobFile(r.spoolJob), std::ios::binary);
    std::vector<uint8_t> spooled((std::istreambuf_iterator<char>(in)), {});
    auto fromSpool = ParseEmfPages(spooled);
    if (fromSpool.pages.size() != parsed.pages.size()) {
        r.error = "the spooled job is not the document: " + fromSpool.error;
        return r;
    }
    HDC dc = CreateDCW(u"WINSPOOL", name.c_str(), nullptr, devmode);
    if (!dc) {
        r.error = "cannot make a device context on " + store::ToUtf8(name) + Code();
        return r;
    }
    if (!pngPath.empty()) KeepPages(dc, true);
    DOCINFOW di{sizeof(DOCINFOW), doc.c_str(), nullptr, nullptr, 0};
    // The driver's output is a RAW job of its own, beside the EMF job.
    int job = StartDocW(dc, &di);
    bool ok = job > 0;
    for (const Document& page : fromSpool.pages) {
        if (!ok) break;
        ok = StartPage(dc) > 0;
        if (!ok) break;
        // The device's pixels start at the printable area's top-left.
        SIZEL printable{GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES)};
        PagePlacement at;
        at.dpiX = GetDeviceCaps(dc, LOGPIXELSX);
        at.dpiY = GetDeviceCaps(dc, LOGPIXELSY);
        at.dest = PlacePage(page.header, printable, at.dpiX, at.dpiY);
        at.offset = {GetDeviceCaps(dc, PHYSICALOFFSETX), GetDeviceCaps(dc, PHYSICALOFFSETY)};
        at.sheet = {GetDeviceCaps(dc, PHYSICALWIDTH), GetDeviceCaps(dc, PHYSICALHEIGHT)};
        PageFrame frame = FrameOf(page.header);
        at.widthMm = frame.width;
        at.heightMm = frame.height;
        r.placements.push_back(at);
        PlayStats s = Play(dc, page, at.dest);
        r.stats.played += s.played;
        r.stats.failed += s.failed;
        for (auto& [kind, count] : s.skipped) r.stats.skipped[kind] += count;
        ok = EndPage(dc) > 0;
        if (ok) ++r.pages;
    }
    if (ok) ok = EndDoc(dc) > 0;
    else AbortDoc(dc);
    DWORD err = GetLastError();
    for (size_t i = 0; ok && !pngPath.empty() && i < r.pages; ++i) {
        std::string path = PagePath(pngPath, i + 1);
        if (!WriteReferencePng(dc, i, path)) {
            DeleteDC(dc);
            r.error = "cannot write " + path;
            return r;
        }
    }
    DeleteDC(dc);
    if (!ok) {
        SetLastError(err);
        r.error = "the driver failed the document" + Code();
        return r;
    }
    r.outputJob = static_cast<DWORD>(job);
    return r;
}

}  // namespace zq::emf
