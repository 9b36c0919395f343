// The one table of printer-data values and the size-first reader.
#include "settings/printer_data_values.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "store/spooler.h"

namespace zq {

namespace {

constexpr std::array kValues{
    kCurrentDevmodeValue, kCurrentDefaultDevmodeValue, kPrinterConfigValue, kCurrentDefaultConfigValue,
    kSwEnableValue, kDefDrvCfgDataValue, kInstalledDocDefaultsValue, kDcdConfigFileValue,
    kDcdShortDescValue, kDcdPrtPropOkValue, kPwConfigFlagValue, kPwConfigNameValue,
    kPwConfigFileValue, kPermissionValue, kConvertInOwnProcessValue, kShowInstructionsInOwnProcessValue,
    kFontSubstitutesValue, kAliasValue, kAdditionalFontsValue, kDbcsPfmValue,
    kFontSummaryFileValue, kWatermarkValue, kUserDefFormsValue, kUserAssocFormsValue,
    kMacroValue, kSoftFontValue, kCompressValue, kOutputRedirectValue,
    kPtypeValue, kPTypeValue, kBinValue, kLangIdValue, kManufacturerValue,
    kPrintStaplingSupportedValue, kPrintMemoryValue, kPrintDuplexSupportedValue,
};

constexpr DWORD kFirstReadSize = 4096;

}  // namespace

std::span<const PrinterDataValue> PrinterDataValues() { return kValues; }

const PrinterDataValue* FindPrinterDataValue(std::string_view name) {
    // "Ptype" and "PType" are two values: the exact spelling decides first.
    for (const PrinterDataValue& v : kValues) {
        if (v.name == name) return &v;
    }
    for (const PrinterDataValue& v : kValues) {
        if (EqualsIgnoreCase(v.name, name)) return &v;
    }
    return nullptr;
}

PrinterDataBytes ReadPrinterDataBytes(HANDLE printer, const char* name) {
    PrinterDataBytes r;
    LPSTR n = const_cast<LPSTR>(name);
    // Most values fit a small buffer: one call reads them; a larger one is
    // asked for its size first.
    {
        DWORD type = 0, got = 0;
        r.bytes.assign(kFirstReadSize, 0);
        const DWORD rc = GetPrinterDataA(printer, n, &type, r.bytes.data(), kFirstReadSize, &got);
        if (rc == ERROR_SUCCESS && got <= kFirstReadSize) {
            r.bytes.resize(got);
            r.status = ValueRead::Ok;
            r.type = type;
            return r;
        }
        r.bytes.clear();
        if (rc == ERROR_FILE_NOT_FOUND) {
            r.status = ValueRead::Missing;
            return r;
        }
        if (rc != ERROR_MORE_DATA) {
            r.status = ValueRead::Failed;
            return r;
        }
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, needed = 0;
        uint8_t probe = 0;
        DWORD rc = GetPrinterDataA(printer, n, &type, &probe, 0, &needed);
        if (rc == ERROR_FILE_NOT_FOUND) {
            r.status = ValueRead::Missing;
            return r;
        }
        if (rc == ERROR_SUCCESS && needed == 0) {
            r.status = ValueRead::Ok;
            r.type = type;
            return r;
        }
        if (rc != ERROR_MORE_DATA && rc != ERROR_SUCCESS) {
            r.status = ValueRead::Failed;
            return r;
        }
        r.bytes.assign(needed, 0);
        DWORD got = 0;
        rc = GetPrinterDataA(printer, n, &type, r.bytes.data(), needed, &got);
        if (rc == ERROR_SUCCESS && got <= needed) {
            r.bytes.resize(got);
            r.status = ValueRead::Ok;
            r.type = type;
            return r;
        }
        if (rc == ERROR_FILE_NOT_FOUND) {
            r.bytes.clear();
            r.status = ValueRead::Missing;
            return r;
        }
        if (rc != ERROR_MORE_DATA) break;  // grew between the reads: ask again
    }
    r.bytes.clear();
    r.status = ValueRead::Failed;
    return r;
}

int InstalledOptionsRecord(HANDLE printer, std::span<uint8_t, 32> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    const PrinterDataBytes v = ReadPrinterDataBytes(printer, kPrinterConfigValue.name.data());
    if (v.status != ValueRead::Ok || v.bytes.size() != out.size()) return 1;
    std::memcpy(out.data(), v.bytes.data(), out.size());
    return 0;
}

}  // namespace zq
