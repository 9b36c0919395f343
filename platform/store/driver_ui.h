// What the spooler and the graphics engine hand a printer's interface driver
// (its configuration file, DRIVER_INFO_3's pConfigFile): the DEVMODE calls'
// header and modes, the conversion modes and the document events, with the
// entries' signatures as the loader finds them by name.
#pragma once

#include "base/spool_types.h"
#include "base/types.h"

// Modes of DocumentProperties and of the driver's DEVMODE entries.
constexpr DWORD DM_UPDATE = 1;
constexpr DWORD DM_COPY = 2;
constexpr DWORD DM_PROMPT = 4;
constexpr DWORD DM_MODIFY = 8;
constexpr DWORD DM_ADVANCED = 0x10;
constexpr DWORD DM_NOPERMISSION = 0x20;
constexpr DWORD DM_OUT_BUFFER = DM_COPY;
constexpr DWORD DM_IN_PROMPT = DM_PROMPT;
constexpr DWORD DM_IN_BUFFER = DM_MODIFY;

// What DrvDocumentPropertySheets is handed without a sheet, and as the
// lParam of a sheet's callback.
struct DOCUMENTPROPERTYHEADER {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    DEVMODEW* pdmIn;
    DEVMODEW* pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

// DrvConvertDevMode's modes.
constexpr DWORD CDM_CONVERT = 1;
constexpr DWORD CDM_CONVERT351 = 2;
constexpr DWORD CDM_DRIVER_DEFAULT = 4;

// Document events, in the order a printer DC raises them.
constexpr int DOCUMENTEVENT_CREATEDCPRE = 1;
constexpr int DOCUMENTEVENT_CREATEDCPOST = 2;
constexpr int DOCUMENTEVENT_RESETDCPRE = 3;
constexpr int DOCUMENTEVENT_RESETDCPOST = 4;
constexpr int DOCUMENTEVENT_STARTDOC = 5;
constexpr int DOCUMENTEVENT_STARTPAGE = 6;
constexpr int DOCUMENTEVENT_ENDPAGE = 7;
constexpr int DOCUMENTEVENT_ENDDOC = 8;
constexpr int DOCUMENTEVENT_ABORTDOC = 9;
constexpr int DOCUMENTEVENT_DELETEDC = 10;
constexpr int DOCUMENTEVENT_ESCAPE = 11;
constexpr int DOCUMENTEVENT_ENDDOCPOST = 12;
constexpr int DOCUMENTEVENT_STARTDOCPOST = 13;

constexpr int DOCUMENTEVENT_SUCCESS = 1;
constexpr int DOCUMENTEVENT_UNSUPPORTED = 0;
constexpr int DOCUMENTEVENT_FAILURE = -1;

// CREATEDCPRE's input.
struct DOCEVENT_CREATEDCPRE {
    LPWSTR pszDriver;
    LPWSTR pszDevice;
    DEVMODEW* pdm;
    BOOL bIC;
};

// ESCAPE's input: the application's escape as ExtEscape received it.
struct DOCEVENT_ESCAPE {
    int iEscape;
    int cjInput;
    const void* pvInData;
};

using PFN_DrvDocumentEvent = int (*)(HANDLE printer, HDC hdc, int event, ULONG inSize, void* in, ULONG outSize,
                                     void* out);
using PFN_DrvDocumentPropertySheets = LONG (*)(void* info, LPARAM lParam);
using PFN_DrvConvertDevMode = BOOL (*)(LPWSTR printerName, DEVMODEW* in, DEVMODEW* out, LONG* size, DWORD mode);
using PFN_DrvDeviceCapabilities = DWORD (*)(HANDLE printer, LPWSTR deviceName, WORD capability, void* output,
                                            DEVMODEW* devmode);
