// Spooling a metafile and playing it onto the printer's device context.
#include "gdi/emf_print.h"

#include <algorithm>
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

}  // namespace

PrintResult PrintDocument(std::u16string_view printerName, std::span<const uint8_t> emf, std::u16string_view docName,
                          const DEVMODEW* devmode, const std::string& pngPath) {
    PrintResult r;
    auto parsed = ParseEmf(emf);
    if (!parsed.document) {
        r.error = parsed.error;
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
    std::ifstream in(store::JobFile(r.spoolJob), std::ios::binary);
    std::vector<uint8_t> spooled((std::istreambuf_iterator<char>(in)), {});
    auto fromSpool = ParseEmf(spooled);
    if (!fromSpool.document) {
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
    if (ok) {
        step = "start the page";
        ok = StartPage(dc) > 0;
    }
    if (ok) {
        // The metafile's frame is the whole sheet; the device's page starts
        // at its printable offset.
        RECTL dest{0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES)};
        int pw = GetDeviceCaps(dc, PHYSICALWIDTH), ph = GetDeviceCaps(dc, PHYSICALHEIGHT);
        if (pw > 0 && ph > 0) {
            int ox = GetDeviceCaps(dc, PHYSICALOFFSETX), oy = GetDeviceCaps(dc, PHYSICALOFFSETY);
            dest = {-ox, -oy, pw - ox, ph - oy};
        }
        r.stats = Play(dc, *fromSpool.document, dest);
        step = "finish the page";
        ok = EndPage(dc) > 0;
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
    if (ok && !pngPath.empty() && !WriteReferencePng(dc, 0, pngPath)) {
        DeleteDC(dc);
        played(0);
        r.error = "cannot write " + pngPath;
        return r;
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
