// Spooling a metafile and playing it onto the printer's device context.
#include "gdi/emf_print.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/error.h"
#include "base/fsutil.h"
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

// A failed call: what failed, and its last error for the caller to report.
void Failed(PrintResult& r, std::string what, DWORD code = GetLastError()) {
    r.error = std::move(what);
    r.errorCode = code;
}

// Writes all of `bytes` as one page of the handle's job; a short write is
// continued, a write that takes nothing is a failure.
bool SpoolPage(HANDLE printer, std::span<const uint8_t> bytes) {
    if (!StartPagePrinter(printer)) return false;
    size_t at = 0;
    while (at < bytes.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 30)), written = 0;
        if (!WritePrinter(printer, const_cast<uint8_t*>(bytes.data() + at), piece, &written)) return false;
        if (written == 0) {
            SetLastError(ERROR_NO_SPOOL_SPACE);
            return false;
        }
        at += written;
    }
    return EndPagePrinter(printer) != FALSE;
}

// The pages of a job that reached the port.
DWORD PagesPrinted(HANDLE printer, DWORD job) {
    DWORD needed = 0;
    GetJobW(printer, job, 1, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (!needed || !GetJobW(printer, job, 1, buffer.data(), needed, &needed)) return 0;
    return reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->PagesPrinted;
}

// The pages of a document: where each lies in its bytes, each checked by
// reading it whole. Only one page's records live at a time, so a long
// document costs the memory of its largest page, not of all of them.
struct PageExtents {
    std::vector<std::span<const uint8_t>> pages;
    std::string error;  // set when a page is damaged: which page, what and where
};

PageExtents CheckPages(std::span<const uint8_t> bytes) {
    PageExtents out;
    out.error = ForEachEmfPage(bytes, [&](Document&, std::span<const uint8_t> page) { out.pages.push_back(page); });
    if (!out.error.empty()) out.pages.clear();
    return out;
}

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
    auto parsed = CheckPages(emf);
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
        Failed(r, "cannot open printer " + store::ToUtf8(name));
        return r;
    }
    // Spool: the document becomes an EMF job of the printer.
    std::u16string datatype = u"NT EMF 1.008";
    DOC_INFO_1W info{doc.data(), nullptr, datatype.data()};
    r.spoolJob = StartDocPrinterW(p.h, 1, reinterpret_cast<LPBYTE>(&info));
    if (!r.spoolJob) {
        Failed(r, "cannot spool the document");
        return r;
    }
    // The write's own error is the one to report, not the end's.
    bool wrote = SpoolPage(p.h, emf);
    DWORD spoolError = GetLastError();
    if (!EndDocPrinter(p.h) || !wrote) {
        Failed(r, "cannot spool the document", wrote ? GetLastError() : spoolError);
        // A job the spooler took whole but the write loop gave up on is in
        // error too, not waiting to be played.
        store::SetPlayedJobState(p.h, r.spoolJob, JOB_STATUS_ERROR, 0, r.errorCode);
        return r;
    }
    // From here the EMF job is being printed, by playing it; it ends printed
    // or in error, never left waiting.
    store::SetPlayedJobState(p.h, r.spoolJob, JOB_STATUS_PRINTING, 0, 0);
    auto played = [&](DWORD error) {
        DWORD pages = error || !r.outputJob ? 0 : PagesPrinted(p.h, r.outputJob);
        store::SetPlayedJobState(p.h, r.spoolJob, error ? JOB_STATUS_ERROR : JOB_STATUS_PRINTED, pages, error);
    };
    // Play what the spooler holds.
    std::vector<uint8_t> spooled;
    spooled.reserve(emf.size());
    if (!fsutil::AppendFile(store::JobFile(r.spoolJob).string(), spooled)) spooled.clear();
    // What the spooler holds is played, a page at a time. The same bytes as
    // the document's are already checked: their pages lie at the same places.
    PageExtents fromSpool;
    if (spooled.size() == emf.size() && std::equal(emf.begin(), emf.end(), spooled.begin())) {
        for (std::span<const uint8_t> page : parsed.pages)
            fromSpool.pages.push_back(std::span<const uint8_t>(spooled).subspan(page.data() - emf.data(), page.size()));
    } else {
        fromSpool = CheckPages(spooled);
    }
    if (fromSpool.pages.size() != parsed.pages.size()) {
        r.error = "the spooled job is not the document: " + fromSpool.error;
        played(ERROR_INVALID_DATA);
        return r;
    }
    HDC dc = CreateDCW(u"WINSPOOL", name.c_str(), nullptr, devmode);
    if (!dc) {
        Failed(r, "cannot make a device context on " + store::ToUtf8(name));
        played(r.errorCode ? r.errorCode : ERROR_INVALID_HANDLE);
        return r;
    }
    if (!pngPath.empty()) KeepPages(dc, true);
    DOCINFOW di{sizeof(DOCINFOW), doc.c_str(), nullptr, nullptr, 0};
    // The driver's output is a RAW job of its own, beside the EMF job.
    // `step` names what failed; its error is taken before anything else runs.
    const char* step = "start the document";
    int job = StartDocW(dc, &di);
    bool ok = job > 0;
    for (std::span<const uint8_t> pageBytes : fromSpool.pages) {
        if (!ok) break;
        // Checked above: reading the page again cannot fail.
        auto read = ParseEmf(pageBytes);
        if (!read.document) {
            if (job > 0) AbortDoc(dc);
            DeleteDC(dc);
            r.error = "the spooled job is not the document: " + read.error;
            played(ERROR_INVALID_DATA);
            return r;
        }
        const Document& page = *read.document;
        step = "start the page";
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
        for (const std::string& why : s.refused) r.stats.refused.push_back("page " + std::to_string(r.pages + 1) + ": " + why);
        step = "finish the page";
        ok = EndPage(dc) > 0;
        if (ok) ++r.pages;
    }
    if (ok) {
        step = "end the document";
        ok = EndDoc(dc) > 0;
    }
    DWORD err = ok ? 0 : GetLastError();
    // A driver gives up on the document when the printer's job lost a write;
    // that write's error is the cause to report, not the driver's.
    std::string cause = std::string("the driver could not ") + step;
    if (!ok && job > 0)
        if (DWORD lost = store::JobError(static_cast<DWORD>(job))) {
            err = lost;
            cause += ": writing the printer's job failed";
        }
    if (!ok) AbortDoc(dc);
    if (ok) r.outputJob = static_cast<DWORD>(job);
    for (size_t i = 0; ok && !pngPath.empty() && i < r.pages; ++i) {
        std::string path = PagePath(pngPath, i + 1);
        if (!WriteReferencePng(dc, i, path)) {
            DeleteDC(dc);
            played(0);
            r.error = "cannot write " + path;
            return r;
        }
    }
    DeleteDC(dc);
    if (!ok) {
        Failed(r, cause, err);
        played(err ? err : ERROR_GEN_FAILURE);
        return r;
    }
    played(0);
    return r;
}

}  // namespace zq::emf
