// The document settings entries of the interface driver that need no sheet:
// the DEVMODE size query and merge without UI, the legacy entries (whose
// prompt goes through the common property-sheet UI) and the conversion.
#pragma once

#include "base/types.h"
#include "store/driver_ui.h"

extern "C" {
LONG DrvDocumentPropertySheets(void* info, LPARAM lParam);
LONG DrvDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in, DWORD mode);
LONG DrvAdvancedDocumentProperties(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in);
BOOL DrvConvertDevMode(LPWSTR printerName, DEVMODEW* in, DEVMODEW* out, LONG* size, DWORD mode);
}

namespace zq {

// The size the driver reports for its DEVMODE.
inline constexpr LONG kDriverDevmodeSize = 1256;

// The spec version a DEVMODE stands for: 0 for none, 0x400 for a dmSize of
// 212, 0x401 for 220, else its own field.
WORD DevmodeSpecVersion(const DEVMODEW* devmode);

// Copies what both records hold from `in` to `out`, keeping the output's own
// versions and sizes; the bytes copied, -1 when either version is 0.
LONG ConvertDevmode(const DEVMODEW* in, DEVMODEW* out);

// Gives `out` the working record in the shape of the smaller of `in` and
// `working` (the whole working record without `in`); 1 when something was
// copied.
LONG MergeDevmodeOut(const DEVMODEW* working, const DEVMODEW* in, DEVMODEW* out);

// The call without UI: the size, or the printer's record merged with the
// header's input into its output.
LONG ServeDocumentPropertyHeader(DOCUMENTPROPERTYHEADER* header);

// The common property-sheet UI of "compstui.dll" run over `callback`;
// -1 when the library or its export is missing.
LONG CallCommonPropertySheetUI(HWND window, LONG (*callback)(void*, LPARAM), LPARAM lParam, LONG* result);

}  // namespace zq
