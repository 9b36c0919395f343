// Upkeep of the renderer's INI file pclrend.ini (in the Windows directory):
// a driver version brings a scratch file "pclrend$.ini" beside drvui with its
// version, its tag and update rules, applied to the INI file once per
// version.
#pragma once

#include <string>
#include <string_view>

#include "base/types.h"

namespace zq {

inline constexpr char kRendererIni[] = "pclrend.ini";
inline constexpr char kRendererIniScratch[] = "pclrend$.ini";

// Applies the scratch file beside the interface driver. 1 when done or
// nothing was to do, 0 after telling the user (captioned with the printer
// name) that a rule could not be applied; the version is then not recorded.
int UpdateRendererIni(std::u16string_view printerName, HANDLE printer);

// The same with the scratch file given (empty: none).
int UpdateRendererIniFrom(const std::string& scratchPath, std::u16string_view printerName, HANDLE printer);

}  // namespace zq
