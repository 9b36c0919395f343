// The sheet context's life: created from a printer and an application's
// DEVMODE on a private heap, checked by its two stamps, and ended by
// destroying that heap; with the helpers that fill it (installed options,
// the default paper source, help file, shell host, printer access).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/types.h"
#include "common/uitypes.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

// A new context for the printer, its working DEVMODE the printer's merged
// with `application` (when valid); null when the printer cannot be read or
// memory runs out.
SheetContext* CreateUiState(HANDLE printer, const DEVMODEW* application);

// Not null and both stamps equal the record's address.
bool IsValidSheetContext(const SheetContext* context);

// Frees the control record lists and the per-sheet modules, then the heap
// (and with it the context). A broken context is left untouched.
void DestroySheetContext(SheetContext* context);

// The context's two DEVMODE buffers as records.
PrivateDevmode& WorkingDevmode(SheetContext& context);
PrivateDevmode& DefaultDevmode(SheetContext& context);

// The model data of the driver module.
const ModelData& DriverModelData();

// Builds the context's working and saved control record lists from its
// working DEVMODE and `defaults`, indexed by type. 0 on success, -1 when the
// model has no control table or memory runs out.
int BuildSheetControlRecords(SheetContext& context, const PrivateDevmode& defaults);
// Frees both lists (and their token); the context keeps no dangling index.
void FreeSheetControlRecords(SheetContext& context);

// The seven installed-option words the model's resources give.
std::array<uint32_t, 7> ReadPrinterConfig(SheetContext& context);

// The paper-source option of the installed options from dmDefaultSource.
void MapDefaultSourceToTray(SheetContext& context);

// The printer opens with PRINTER_ALL_ACCESS (the handle is closed again).
bool CanOpenPrinter(const char* name);
bool CanOpenPrinterW(const char16_t* name);

// The process is explorer.exe or zeldcm.exe.
bool IsShellHost();
bool IsShellHostName(std::string_view processPath);

// The driver's help file, or drvui.hlp beside the driver, on the heap.
char16_t* GetHelpFileName(HANDLE printer, HANDLE heap);

}  // namespace zq
