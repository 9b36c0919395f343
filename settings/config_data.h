// Driver configuration data: the printer's settings kept as configuration
// tag lists in printer data and in the user's key ("DefDrvCfgData"), the
// configuration file an administrator hands over at installation, and the
// exports through which an outside configuration tool exchanges settings
// with the driver.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/types.h"
#include "common/config_requests.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

inline constexpr char16_t kDefDrvCfgData[] = u"DefDrvCfgData";
inline constexpr char16_t kInstalledDocDefaults[] = u"DCD_InstalledDocDefaults";
// The machine-wide key naming a printer's configuration file (%s: the
// printer name without a server part).
inline constexpr char kDrvCfgKeyFormat[] = "SOFTWARE\\Zelquor\\DrvCfg\\";

// Configuration export results.
constexpr uint32_t kCfgOk = 0;
constexpr uint32_t kCfgBadInput = 1;
constexpr uint32_t kCfgNoMemory = 2;
constexpr uint32_t kCfgNotApplied = 3;
constexpr uint32_t kCfgUnreadable = 14;
constexpr uint32_t kCfgNothingProduced = 24;

// Exports the record with `scope` into a new zero-initialised global block
// (fixed: the handle is the address) that the caller frees. `profile` also
// exports the profile-only text. 0 with a list, 24 when nothing was
// produced, 3 when `*list` already held a block (it is left to its owner).
uint32_t DevmodeToTagList(const PrivateDevmode& record, uint32_t scope, HGLOBAL* list, uint32_t* length,
                          std::string_view printerName, HANDLE printer, bool profile, const ModelData* model);

// Exports the record's document and printer settings (scopes 1 and 2) and
// stores the list by name (also under the user's key unless
// `printerDataOnly`). TRUE when a list was stored.
BOOL StoreDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, const PrivateDevmode& record,
                         HANDLE printer, bool printerDataOnly, const ModelData* model);

// Loads the list of that name (the user's copy first unless
// `printerDataOnly`) and imports every scope of it into a working copy of
// the record, which then replaces the record. `updatePrinterData` lets the
// rows also update printer data. TRUE when something was imported.
// `userKey` as LoadTagList takes it.
BOOL LoadDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, PrivateDevmode& record,
                        HANDLE printer, bool updatePrinterData, bool printerDataOnly, const ModelData* model,
                        const HKEY* userKey = nullptr);

// Imports a given list into the record (through a working copy); on success
// the record's profile kind and id are cleared. 1 when something was
// imported, else 0 with the record unchanged.
int ApplyTagListToDevmode(std::string_view printerName, std::span<const uint8_t> list, uint32_t scope,
                          PrivateDevmode& record, HANDLE printer, bool updatePrinterData, const ModelData* model);

// Imports printer data "DCD_InstalledDocDefaults" into the record: 0 when
// imported, 3 otherwise. A value that cannot be read is left as it is.
uint32_t ApplyInstalledDocDefaults(std::string_view printerName, uint32_t scope, PrivateDevmode& record,
                                   HANDLE printer, const ModelData* model);

// Printer initialisation: applies the configuration file the machine's
// DrvCfg key names (or the one "PWConfigFlag" points to) to the freshly
// built default, records what was installed, and deletes the key so that a
// configuration is handed over once. 1 when configuration data was applied.
int ApplyDcdConfigFile(PrivateDevmode& record, HANDLE printer, const ModelData* model);

}  // namespace zq

// The configuration exports of drvui, for the outside configuration tool.
extern "C" {
uint32_t ConvertPrtIntoDCD(zq::PrinterObject* object);
uint32_t Cfi2DrvForceDCDIntoPrtObj(const zq::DrvCfgRequest* request);
uint32_t EnumDrvCfgSupport(zq::DrvCfgSupport* support);
uint32_t EnumSpecificDrvCfgCallBack(zq::DrvCfgMatch* match, const zq::DrvCfgCandidate* candidate);
}
