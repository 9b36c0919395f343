// Records what the driver creates in the install log of the outside
// install-record library, so that uninstallation removes it.
#pragma once

#include <string>
#include <string_view>

#include "base/types.h"

namespace zq {

struct InstallLogEntry {
    std::string printerName;  // ANSI; empty: the printer's own name
    HANDLE printer = nullptr;
    std::string file;         // a created file
    std::string keyKind;      // root of a registry item, such as "hkcu"
    std::string key;
    std::string valueName;    // empty for a whole key
    int sectionKind = 1;      // 1 "Drivers", 2 "Printer " and the printer's name
};

// True when the name begins with "Zelquor", ignoring case.
bool IsZelquorName(std::string_view name);

// Records one file or registry item. Nothing is recorded, and nothing is
// reported, when the library, one of its calls or the printer's record is
// missing or when the log is not there.
void AddInstallLogEntry(const InstallLogEntry& entry);

}  // namespace zq
