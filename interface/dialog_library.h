// The dialog library of a sheet, chosen by the DEVMODE's selector.
#pragma once

#include <cstdint>
#include <string>

#include "base/types.h"

namespace zq {

// The two file names of the dialog library: selector 0 takes the first,
// every other selector the second. Both are `dlgui` in this package.
inline constexpr const char* kFirstDialogLibrary = "dlgui.dll";
inline constexpr const char* kSecondDialogLibrary = "dlgui.dll";

// The interface driver's own module (the one these services are part of).
HMODULE DriverModule();

// The path LoadDialogLibrary loads: the driver's directory and the file
// name the selector chooses; empty when it does not fit 260 characters.
std::string DialogLibraryPath(HMODULE driver, uint8_t selector);

// Loads the dialog library from the driver's own directory; null when it
// cannot be loaded. The caller frees it.
HMODULE LoadDialogLibrary(uint8_t selector);

}  // namespace zq
