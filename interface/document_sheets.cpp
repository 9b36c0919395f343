#include "interface/document_sheets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/loader.h"
#include "interface/dialog_library.h"
#include "interface/sheet_context.h"
#include "settings/printer_devmode.h"
#include "store/spooler.h"

namespace zq {

namespace {

uint8_t* Bytes(DEVMODEW* dm) { return reinterpret_cast<uint8_t*>(dm); }
const uint8_t* Bytes(const DEVMODEW* dm) { return reinterpret_cast<const uint8_t*>(dm); }

LONG RunLegacyPropertySheet(HWND window, HANDLE printer, LPWSTR name, DEVMODEW* out, DEVMODEW* in, DWORD mode) {
    DOCUMENTPROPERTYHEADER header{};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name;
    header.pdmIn = in;
    header.pdmOut = out;
    header.fMode = mode;
    if ((mode & DM_PROMPT) == 0) return ServeDocumentPropertyHeader(&header);
    LONG result = 0;
    const LONG rc = CallCommonPropertySheetUI(window, DrvDocumentPropertySheets, reinterpret_cast<LPARAM>(&header),
                                              &result);
    return rc < 0 ? rc : result;
}

}  // namespace

WORD DevmodeSpecVersion(const DEVMODEW* devmode) {
    if (devmode == nullptr) return 0;
    if (devmode->dmSize == 212) return 0x400;
    if (devmode->dmSize == 220) return 0x401;
    return devmode->dmSpecVersion;
}

LONG ConvertDevmode(const DEVMODEW* in, DEVMODEW* out) {
    if (DevmodeSpecVersion(in) == 0 || DevmodeSpecVersion(out) == 0) return -1;
    const WORD version = DevmodeSpecVersion(out);
    const WORD driverVersion = out->dmDriverVersion;
    const WORD size = out->dmSize;
    const WORD extra = out->dmDriverExtra;
    const size_t publicBytes = std::min(in->dmSize, size);
    const size_t extraBytes = std::min(in->dmDriverExtra, extra);
    std::memmove(Bytes(out), Bytes(in), publicBytes);
    out->dmSpecVersion = version;
    out->dmDriverVersion = driverVersion;
    out->dmSize = size;
    out->dmDriverExtra = extra;
    std::memmove(Bytes(out) + size, Bytes(in) + in->dmSize, extraBytes);
    return static_cast<LONG>(publicBytes + extraBytes);
}

LONG MergeDevmodeOut(const DEVMODEW* working, const DEVMODEW* in, DEVMODEW* out) {
    if (in == nullptr) {
        std::memcpy(out, working, static_cast<size_t>(working->dmSize) + working->dmDriverExtra);
        return 1;
    }
    const DEVMODEW* bySize = in->dmSize < working->dmSize ? in : working;
    const DEVMODEW* byExtra = in->dmDriverExtra < working->dmDriverExtra ? in : working;
    // The fields are read before any is written: `in` and `out` may be one.
    const WORD version = bySize->dmSpecVersion, size = bySize->dmSize;
    const WORD driverVersion = byExtra->dmDriverVersion, extra = byExtra->dmDriverExtra;
    out->dmSpecVersion = version;
    out->dmSize = size;
    out->dmDriverVersion = driverVersion;
    out->dmDriverExtra = extra;
    return ConvertDevmode(working, out) > 0 ? 1 : 0;
}

LONG ServeDocumentPropertyHeader(DOCUMENTPROPERTYHEADER* header) {
    header->cbOut = kDriverDevmodeSize;
    if (header->fMode == 0 || header->pdmOut == nullptr) return kDriverDevmodeSize;
    SheetContext* context = CreateUiState(header->hPrinter, header->pdmIn);
    if (context == nullptr) return -1;
    if (header->fMode & (DM_UPDATE | DM_COPY)) {
        MergeDevmodeOut(&WorkingDevmode(*context).dm, header->pdmIn, header->pdmOut);
    }
    DestroySheetContext(context);
    return 1;
}

LONG CallCommonPropertySheetUI(HWND window, LONG (*callback)(void*, LPARAM), LPARAM lParam, LONG* result) {
    HMODULE library = LoadLibraryA("compstui.dll");
    if (library == nullptr) return -1;
    using Common = LONG (*)(HWND, LONG (*)(void*, LPARAM), LPARAM, LONG*);
    const auto common = reinterpret_cast<Common>(GetProcAddress(library, "CommonPropertySheetUIW"));
    const LONG rc = common ? common(window, callback, lParam, result) : -1;
    FreeLibrary(library);
    return rc;
}

}  // namespace zq

using namespace zq;

extern "C" LONG DrvDocumentPropertySheets(void* info, LPARAM lParam) {
    // The sheets themselves are the property pages' part; without a sheet
    // the lParam is the header.
    if (info != nullptr) return -1;
    auto* header = reinterpret_cast<DOCUMENTPROPERTYHEADER*>(lParam);
    if (header == nullptr) return -1;
    return ServeDocumentPropertyHeader(header);
}

extern "C" LONG DrvDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in,
                                      DWORD mode) {
    if (mode == 0 || out == nullptr) return kDriverDevmodeSize;
    const LONG result = RunLegacyPropertySheet(window, printer, deviceName, out, in, mode);
    if (result > 0) return 1;  // IDOK
    if (result == 0) return 2;  // IDCANCEL
    return result;
}

extern "C" LONG DrvAdvancedDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out,
                                              DEVMODEW* in) {
    if (out == nullptr) return kDriverDevmodeSize;
    return RunLegacyPropertySheet(window, printer, deviceName, out, in, DM_PROMPT | DM_COPY | DM_ADVANCED) > 0 ? 1 : 0;
}

extern "C" BOOL DrvConvertDevMode(LPWSTR printerName, DEVMODEW* in, DEVMODEW* out, LONG* size, DWORD mode) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode == CDM_CONVERT) {
        if (out != nullptr && in != nullptr && *size >= 0 &&
            static_cast<LONG>(out->dmSize) + out->dmDriverExtra <= *size && ConvertDevmode(in, out) > 0) {
            *size = static_cast<LONG>(out->dmSize) + out->dmDriverExtra;
            return TRUE;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode == CDM_DRIVER_DEFAULT) {
        const LONG given = *size;
        *size = kDriverDevmodeSize;
        if (given < kDriverDevmodeSize || out == nullptr) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        HANDLE printer = nullptr;
        if (printerName == nullptr || !OpenPrinterW(printerName, &printer, nullptr)) return FALSE;
        auto record = std::make_unique<PrivateDevmode>();
        const uint32_t rc = GetPrinterDevmode(printer, DriverModule(), *record, {}, 2);
        ClosePrinter(printer);
        if (rc & 0x8000) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        std::memcpy(out, record.get(), sizeof *record);
        return TRUE;
    }
    return FALSE;
}
