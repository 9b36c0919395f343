// The printer's private DEVMODE: building its default, loading (and when
// needed rebuilding) the stored record, and merging an application's record
// into it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

// What loading the printer's record reads and writes besides the printer's
// own data: the per-user copy, the driver configuration file and the
// configuration tag list "DefDrvCfgData".
class DevmodeSources {
public:
    virtual ~DevmodeSources() = default;
    // `printerName` is the printer's name as the spooler gives it; passing
    // it down spares each reader asking the spooler again.
    //
    // The user's "CurrentDevmode", else the printer's; nullopt when neither
    // holds exactly 1256 bytes.
    // `userKey` is the user's key of the printer, opened once for the load
    // (null: the user has none).
    virtual std::optional<std::vector<uint8_t>> ReadUserDevmode(HANDLE printer, HKEY userKey);
    // True when a configuration file was applied to the record.
    virtual bool ApplyDcdConfigFile(PrivateDevmode& record, HANDLE printer, const ModelData& model);
    // True when the tag list changed the record; `perUserFirst` looks at the
    // per-user copy of the list before the printer's.
    virtual bool LoadDevmodeTagList(PrivateDevmode& record, HANDLE printer, std::u16string_view printerName,
                                    HKEY userKey, bool perUserFirst, const ModelData& model);
    // Stores the record's list "DefDrvCfgData" in printer data.
    virtual void StoreDevmodeTagList(const PrivateDevmode& record, HANDLE printer, std::u16string_view printerName,
                                     const ModelData& model);
    // Brings pclrend.ini up to date before a default is built.
    virtual void UpdateRendererIni(HANDLE printer, std::u16string_view printerName);
};

// The ANSI code page when it is 932, 936, 949 or 950, else 0.
uint32_t GetCjkCodePage();

// Fills `record` with the defaults of the model that the module's data and
// pclrend.ini give for the driver name (whole, not cut to field 239),
// keeping the names in it. A model string or record missing from the
// module is told in a message box each; building goes on.
void BuildDefaultDevmode(HMODULE module, PrivateDevmode& record, std::string_view driverName);
// The same for a model index already known (a negative index: look it up).
void BuildDefaultDevmode(HMODULE module, PrivateDevmode& record, std::string_view driverName, int knownIndex);

// The default record of a printer: its name, its driver's name and the
// printer name without a server part put in, then the model's defaults.
// False when the printer information cannot be read.
bool BuildPrinterDefaultDevmode(HMODULE module, HANDLE printer, PrivateDevmode& record);

// The printer's current valid record. 1 when a record was produced, 0 when
// the printer could not be read.
int LoadOrRebuildPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out, DevmodeSources& sources);

constexpr uint32_t kMergeApplicationDevmode = 0x8;
constexpr uint32_t kDevmodeFailure = 0xFFFF;

// 1 with the printer's record in `out` (merged with the application's
// record, of any size, when flags has 0x8 and one is given) and its check
// value set; 0xFFFF with `out` unchanged when the printer cannot be read.
uint32_t GetPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out,
                           std::span<const uint8_t> application, uint32_t flags, DevmodeSources& sources);
uint32_t GetPrinterDevmode(HANDLE printer, HMODULE module, PrivateDevmode& out,
                           std::span<const uint8_t> application, uint32_t flags);

}  // namespace zq
