#include "interface/dialog_library.h"

#include "base/loader.h"

namespace zq {

HMODULE DriverModule() {
    // The loader knows the driver by its file name once it has loaded it;
    // without that (the driver's code linked into a program) the program
    // stands for it.
    return GetModuleHandleA("drvui.dll");
}

std::string DialogLibraryPath(HMODULE driver, uint8_t selector) {
    char path[261] = {};
    const DWORD n = GetModuleFileNameA(driver, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return {};
    }
    std::string dir(path, n);
    const size_t cut = dir.find_last_of("\\/:");
    dir.resize(cut == std::string::npos ? 0 : cut + 1);
    const std::string full = dir + (selector == 0 ? kFirstDialogLibrary : kSecondDialogLibrary);
    return full.size() < 260 ? full : std::string();
}

HMODULE LoadDialogLibrary(uint8_t selector) {
    const std::string path = DialogLibraryPath(DriverModule(), selector);
    return path.empty() ? nullptr : LoadLibraryA(path.c_str());
}

}  // namespace zq
