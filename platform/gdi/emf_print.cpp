// Spooling a metafile and playing it onto the printer's device context.
#include "gdi/emf_print.h"

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
    auto fromSpool = ParseEmf(spooled);
    if (!fromSpool.document) {
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
    if (ok) ok = StartPage(dc) > 0;
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
        ok = EndPage(dc) > 0;
    }
    if (ok) ok = EndDoc(dc) > 0;
    else AbortDoc(dc);
    DWORD err = GetLastError();
    if (ok && !pngPath.empty() && !WriteReferencePng(dc, 0, pngPath)) {
        DeleteDC(dc);
        r.error = "cannot write " + pngPath;
        return r;
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
