// The sheet context: what one property sheet of the interface driver, or one
// document event that needs the printer's settings, works on. The interface
// driver creates it; the dialog library's pages keep a pointer to it and read
// and write its fields directly, so both libraries see this one layout. An
// in-process record of native pointers, never stored or sent.
#pragma once

#include <cstdint>

#include "base/types.h"
#include "common/control_records.h"

namespace zq {

struct ScriptUiBinding;

inline constexpr size_t kSheetDevmodeBuffer = 1257;
inline constexpr size_t kWatermarkBufferSize = 204;
inline constexpr size_t kDocumentPageCount = 10;
inline constexpr uint16_t kNoModelCode = 255;

struct SheetContext {
    SheetContext* selfFirst;          // the record's own address
    uint32_t mayChange;               // the caller's mode lacks DM_NOPERMISSION
    HANDLE printer;                   // not owned
    HANDLE heap;                      // holds this record and its buffers
    void* sheetFunction;              // pfnComPropSheet
    HANDLE sheetHandle;               // hComPropSheet
    char16_t* printerName;
    char16_t* driverName;
    char* printerNameAnsi;
    uint32_t documentSheet;           // 1 document sheet, 0 device sheet
    uint16_t documentPagesCreated;
    uint16_t documentPagesApplied;
    uint16_t devicePagesCreated;
    uint16_t devicePagesApplied;
    uint32_t deviceQueried;
    uint32_t helpShown;
    uint32_t printerDataReadOnly;     // writing "SWEnable" failed at open
    uint32_t shellHost;               // explorer.exe or zeldcm.exe
    char16_t* helpFile;
    HMODULE pictureResources;         // pictres
    HMODULE pictureLibrary;           // pictlib
    void* paintPrinter;               // pictlib's PaintPrt
    void* managePalette;              // pictlib's ManagePal
    HWND summaryWindow;
    uint32_t installedOptions[7];     // "PrinterConfig" after its leading 1
    uint32_t installedOptionsAtOpen[7];
    uint32_t modelDefaultOptions[7];
    uint16_t pageFlags[kDocumentPageCount];
    uint32_t fontSetMask1;
    uint32_t fontSetMask2;
    uint32_t applied;                 // a page was applied; the sheet's result
    uint32_t unsavedChanges;
    uint16_t modelCode;               // 255: no known model
    uint16_t outsideUsa;
    ScriptUiBinding* scriptBinding;   // null while the dialog library serves
    uint32_t callingSheet;            // 0 document sheet, 1 device sheet
    int32_t paperSourceCount;
    uint16_t* paperSourceListA;       // installed masks
    uint16_t* paperSourceListB;       // entry words at 10
    int32_t trayCount;
    uint16_t* trayStringIds;
    uint16_t* trayCodes;
    uint16_t* trayWords;
    int32_t binCount;
    uint16_t* binNames;
    uint16_t* binCodes;
    uint16_t* binWords;
    uint16_t paperLimits[4];
    char constraintProcedure[128];    // "RefreshProc"
    HGLOBAL controlRecords;           // the working list
    HGLOBAL savedControlRecords;
    uint32_t controlRecordSize;
    uint8_t* recordByType[kControlTypeSlots];
    uint8_t* savedRecordByType[kControlTypeSlots];
    uint8_t* workingDevmode;          // kSheetDevmodeBuffer bytes
    uint8_t* defaultDevmode;          // kSheetDevmodeBuffer bytes
    HMODULE driverModule;
    HMODULE dialogModule;
    uint8_t* watermarkBuffers[2];     // kWatermarkBufferSize bytes each
    uint32_t mayAdminister;
    uint32_t contextReady;
    char accountId[18];
    uint16_t modelWords[7];           // DEVMODE words at 400, 392, 394, 416, 412, 350, 354
    char modelName[32];
    uint32_t settingsChanged;
    SheetContext* selfLast;           // the record's own address
};

}  // namespace zq
