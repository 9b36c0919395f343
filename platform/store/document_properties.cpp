// DocumentPropertiesA of the spooler. The interface driver's document
// property sheets do not exist yet, so a prompt is never shown: it is
// logged and answered IDOK, as a headless system answers every dialog.
// Without a prompt the call hands out the printer's default DEVMODE (or the
// caller's, when it gives one) and its size.
#include <cstring>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/error.h"
#include "base/msgbox.h"
#include "base/spool_types.h"
#include "store/spooler.h"

namespace {
constexpr DWORD kDmOutBuffer = 2;
constexpr DWORD kDmInPrompt = 4;
constexpr DWORD kDmInBuffer = 8;

size_t DevModeBytes(const DEVMODEA& dm) { return static_cast<size_t>(dm.dmSize) + dm.dmDriverExtra; }
}  // namespace

extern "C" LONG DocumentPropertiesA(HWND, HANDLE printer, LPSTR deviceName, DEVMODEA* out, DEVMODEA* in, DWORD mode) {
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    if (needed == 0) return -1;  // GetPrinter set the error (a bad handle)
    std::vector<BYTE> info(needed);
    if (!GetPrinterA(printer, 2, info.data(), needed, &needed)) return -1;
    const DEVMODEA* defaults = reinterpret_cast<const PRINTER_INFO_2A*>(info.data())->pDevMode;
    const size_t size = defaults ? DevModeBytes(*defaults) : sizeof(DEVMODEA);
    if (mode == 0) return static_cast<LONG>(size);
    if (mode & kDmInPrompt)
        zq::DiagLine("DocumentPropertiesA", std::string("no document property sheets for ") +
                                                (deviceName ? deviceName : "") + ": answered IDOK by policy");
    if ((mode & kDmOutBuffer) && out) {
        const DEVMODEA* from = ((mode & kDmInBuffer) && in) ? in : defaults;
        if (from)
            std::memcpy(out, from, std::min(size, DevModeBytes(*from)));
        else
            std::memset(out, 0, sizeof(DEVMODEA));
    }
    return IDOK;
}
