// Driver configuration data: the printer's settings kept as configuration
// tag lists in printer data and in the user's key ("DefDrvCfgData").
#pragma once

#include <cstdint>
#include <string_view>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

inline constexpr char16_t kDefDrvCfgData[] = u"DefDrvCfgData";

// Exports the record's document and printer settings (scopes 1 and 2) and
// stores the list by name (also under the user's key unless
// `printerDataOnly`). TRUE when a list was stored.
BOOL StoreDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, const PrivateDevmode& record,
                         HANDLE printer, bool printerDataOnly, const ModelData* model);

// Loads the list of that name (the user's copy first unless
// `printerDataOnly`) and imports every scope of it into a working copy of
// the record, which then replaces the record. `updatePrinterData` lets the
// rows also update printer data. TRUE when something was imported.
BOOL LoadDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, PrivateDevmode& record,
                        HANDLE printer, bool updatePrinterData, bool printerDataOnly, const ModelData* model);

}  // namespace zq
