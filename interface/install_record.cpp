#include "interface/install_record.h"

#include <algorithm>
#include <vector>

#include "base/loader.h"
#include "base/paths.h"
#include "store/spooler.h"

namespace zq {

namespace {

using FindLogFileProc = int (*)(const char* logName, int mode);
using AddFileProc = int (*)(const char* section, const char* file);
using AddRegistryProc = int (*)(const char* section, const char* text);

// Texts handed to the library are at most 260 characters.
std::string Bounded(std::string text) {
    if (text.size() > 260) {
        text.resize(260);
    }
    return text;
}

class Library {
public:
    Library() {
        char dir[261] = {};
        const UINT n = GetSystemDirectoryA(dir, sizeof dir);
        if (n > 0 && n < sizeof dir) {
            module_ = LoadLibraryA((std::string(dir, n) + "\\instrec.DLL").c_str());
        }
    }
    ~Library() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <typename Proc>
    Proc Get(const char* name) const {
        return module_ == nullptr ? nullptr : reinterpret_cast<Proc>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_ = nullptr;
};

}  // namespace

bool IsZelquorName(std::string_view name) {
    constexpr std::string_view kMaker = "zelquor";
    return name.size() >= kMaker.size() &&
           std::equal(kMaker.begin(), kMaker.end(), name.begin(), [](char a, char b) {
               return a == ((b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b);
           });
}

void AddInstallLogEntry(const InstallLogEntry& entry) {
    const Library library;
    const auto findLogFile = library.Get<FindLogFileProc>("FindLogFile");
    const auto addFile = library.Get<AddFileProc>("AddFile");
    const auto addRegistry = library.Get<AddRegistryProc>("AddRegistry");
    if (findLogFile == nullptr || addFile == nullptr || addRegistry == nullptr) {
        return;
    }
    DWORD needed = 0;
    GetPrinterA(entry.printer, 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2A)) {
        return;
    }
    std::vector<uint8_t> buffer(needed);
    if (!GetPrinterA(entry.printer, 2, buffer.data(), needed, &needed)) {
        return;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    std::string section;
    if (entry.sectionKind == 1) {
        section = "Drivers";
    } else if (entry.sectionKind == 2) {
        const std::string own = info->pPrinterName != nullptr ? info->pPrinterName : "";
        section = "Printer " + (entry.printerName.empty() ? own : entry.printerName);
    } else {
        return;
    }
    const std::string driver = info->pDriverName != nullptr ? info->pDriverName : "";
    const char* vendor = IsZelquorName(driver) ? "Zelquor" : "Generic";
    if (findLogFile(vendor, 2) != 0) {
        return;
    }
    section = Bounded(section);
    if (!entry.file.empty()) {
        addFile(section.c_str(), Bounded(entry.file).c_str());
    } else if (!entry.keyKind.empty() && !entry.key.empty()) {
        std::string text = entry.keyKind + ", \"" + entry.key + "\"";
        if (!entry.valueName.empty()) {
            text += ", " + entry.valueName;
        }
        addRegistry(section.c_str(), Bounded(text).c_str());
    }
}

}  // namespace zq
