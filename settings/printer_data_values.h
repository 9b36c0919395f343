// The printer-data values that the driver libraries keep per printer: their
// names, types and sizes in one table, and the size-first reader every
// variable-size value goes through.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq {

constexpr DWORD kRegSz = 1;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kAnyType = 0xFFFFFFFF;  // the installer decides
constexpr uint32_t kVariableSize = 0;

struct PrinterDataValue {
    std::string_view name;
    DWORD type;
    uint32_t size;  // bytes, or kVariableSize
    bool wide;      // read and written through the wide calls
};

inline constexpr PrinterDataValue kCurrentDevmodeValue{"CurrentDevmode", kRegBinary, 1256, false};
inline constexpr PrinterDataValue kCurrentDefaultDevmodeValue{"CurrentDefaultDevMode", kRegBinary, 1256, false};
inline constexpr PrinterDataValue kPrinterConfigValue{"PrinterConfig", kRegBinary, 32, false};
inline constexpr PrinterDataValue kCurrentDefaultConfigValue{"CurrentDefaultCONFIG", kRegBinary, 32, false};
inline constexpr PrinterDataValue kSwEnableValue{"SWEnable", kRegBinary, 1, false};
inline constexpr PrinterDataValue kDefDrvCfgDataValue{"DefDrvCfgData", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kInstalledDocDefaultsValue{"DCD_InstalledDocDefaults", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kDcdConfigFileValue{"DCDConfigFile", kRegSz, kVariableSize, false};
inline constexpr PrinterDataValue kDcdShortDescValue{"DCDShortDesc", kRegSz, kVariableSize, false};
inline constexpr PrinterDataValue kDcdPrtPropOkValue{"DCDPrtPropOK", kRegDword, 4, false};
inline constexpr PrinterDataValue kPwConfigFlagValue{"PWConfigFlag", kAnyType, 4, false};
inline constexpr PrinterDataValue kPwConfigNameValue{"PWConfigName", kAnyType, 256, false};
inline constexpr PrinterDataValue kPwConfigFileValue{"PWConfigFile", kAnyType, 260, false};
inline constexpr PrinterDataValue kPermissionValue{"Permission", kRegDword, 4, false};
inline constexpr PrinterDataValue kConvertInOwnProcessValue{"ConvertInOwnProcess", kAnyType, 4, true};
inline constexpr PrinterDataValue kShowInstructionsInOwnProcessValue{"ShowInstructionsInOwnProcess", kAnyType, 4, true};
inline constexpr PrinterDataValue kFontSubstitutesValue{"FontSubstitutes", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kAliasValue{"ALIAS", kRegBinary, 2047, false};
inline constexpr PrinterDataValue kAdditionalFontsValue{"AdditionalFonts", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kDbcsPfmValue{"DBCSpfm", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kFontSummaryFileValue{"FontSummaryFile", kRegBinary, 260, false};
inline constexpr PrinterDataValue kWatermarkValue{"Watermark", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kUserDefFormsValue{"UserDefForms", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kUserAssocFormsValue{"UserAssocForms", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kMacroValue{"Macro", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kSoftFontValue{"SoftFont", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kCompressValue{"Compress", kAnyType, 4, true};
inline constexpr PrinterDataValue kOutputRedirectValue{"OutputRedirect", kAnyType, 4, true};
// Record lists of the interface library; both spellings of the paper-type
// list are in use by its callers.
inline constexpr PrinterDataValue kPtypeValue{"Ptype", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kPTypeValue{"PType", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kBinValue{"Bin", kRegBinary, kVariableSize, false};
inline constexpr PrinterDataValue kLangIdValue{"LangId", kAnyType, kVariableSize, false};
inline constexpr PrinterDataValue kManufacturerValue{"Manufacturer", kAnyType, kVariableSize, false};

// Directory-service properties, under the key "DsDriver".
inline constexpr std::string_view kDsDriverKey = "DsDriver";
inline constexpr PrinterDataValue kPrintStaplingSupportedValue{"printStaplingSupported", kRegBinary, 4, true};
inline constexpr PrinterDataValue kPrintMemoryValue{"printMemory", kRegDword, 4, true};
inline constexpr PrinterDataValue kPrintDuplexSupportedValue{"printDuplexSupported", kRegBinary, 4, true};

// Every value above, for lookups by name.
std::span<const PrinterDataValue> PrinterDataValues();
const PrinterDataValue* FindPrinterDataValue(std::string_view name);

enum class ValueRead { Ok, Missing, Failed };
struct PrinterDataBytes {
    ValueRead status = ValueRead::Missing;
    DWORD type = 0;
    std::vector<uint8_t> bytes;
};

// Asks for the size with an empty buffer, then reads that many bytes. A
// value that changes size between the two reads is read again, a few times.
PrinterDataBytes ReadPrinterDataBytes(HANDLE printer, const char* name);

// Reads "PrinterConfig" (32 bytes) into `out`: 0 when read, 1 when it is
// missing or not 32 bytes; `out` is then zero and the stored value is left
// as it is.
int InstalledOptionsRecord(HANDLE printer, std::span<uint8_t, 32> out);

}  // namespace zq
