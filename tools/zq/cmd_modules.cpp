// zq modules: loads every built module of a folder through the platform
// loader and shows what each one offers.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/loader.h"
#include "base/resources.h"
#include "base/text.h"
#include "command.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: zq modules [--dir DIR]\n\n"
    "Loads every shared object (*.so) of DIR through the platform loader (so each\n"
    "module's attach and detach entries run), and prints for each whether it\n"
    "loaded, the exports of interest that it has, and its resources counted by\n"
    "type. DIR defaults to the build's lib folder beside the zq program (../lib).\n"
    "The exit code is 1 when a module failed to load.\n";

// Entry points the package's deliverables and their hosts look up by name.
constexpr const char* kExports[] = {
    "DllMain", "DrvEnableDriver", "DrvDisableDriver", "DrvQueryDriverInfo", "DrvDocumentPropertySheets",
    "DrvDevicePropertySheets", "DrvDocumentEvent", "DrvPrinterEvent", "DrvDriverEvent", "DrvDeviceCapabilities",
    "DrvConvertDevMode", "DrvUpgradePrinter", "DevQueryPrintEx", "DllInitialize", "CallBackAccess", "RefreshProc",
    "DialogControl", "LoadXlatedString", "LoadXlatedResource", "GetSizeofXlatedResource", "getDevIC",
    "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer", "DllCanUnloadNow", "kaf_get_job_id",
    "kaf_start_printing", "showManualDuplexDlgW",
};

std::string TypeLabel(const zq::ResourceEntry& e) {
    if (e.typeIsString) return zq::Utf16ToUtf8(e.typeName);
    switch (e.typeId) {
    case 1: return "CURSOR";
    case 2: return "BITMAP";
    case 3: return "ICON";
    case 4: return "MENU";
    case 5: return "DIALOG";
    case 6: return "STRING";
    case 9: return "ACCELERATOR";
    case 10: return "RCDATA";
    case 12: return "GROUP_CURSOR";
    case 14: return "GROUP_ICON";
    case 16: return "VERSION";
    default: return std::to_string(e.typeId);
    }
}

fs::path DefaultDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return exe.parent_path().parent_path() / "lib";
}

int Run(const zq::Args& args) {
    zq::Options options(args);
    auto dirOption = options.Value("--dir");
    if (auto unknown = options.Unknown()) return zq::UsageError("modules", "unknown option " + *unknown);
    if (!options.Rest().empty()) return zq::UsageError("modules", "unexpected argument " + options.Rest().front());
    fs::path dir = dirOption ? fs::path(*dirOption) : DefaultDir();
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return zq::Fail("modules: no folder " + dir.string());

    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".so" && it->is_regular_file()) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    std::printf("%zu modules in %s\n", files.size(), dir.string().c_str());

    int failed = 0;
    for (const auto& file : files) {
        std::string name = file.filename().string();
        std::u16string path = zq::Utf8ToUtf16(fs::absolute(file).string());
        HMODULE module = LoadLibraryW(path.c_str());
        if (!module) {
            DWORD code = GetLastError();
            std::printf("%-24s FAILED (error %u: %s)\n", name.c_str(), code, zq::LastLoadError().c_str());
            ++failed;
            continue;
        }
        std::string exports;
        for (const char* e : kExports)
            if (GetProcAddress(module, e)) exports += std::string(exports.empty() ? "" : ", ") + e;
        std::map<std::string, int> counts;
        for (const auto& r : zq::ListResources(module)) ++counts[TypeLabel(r)];
        std::string resources;
        for (const auto& [type, n] : counts)
            resources += (resources.empty() ? "" : ", ") + type + " " + std::to_string(n);
        std::printf("%-24s loaded\n", name.c_str());
        std::printf("  exports:   %s\n", exports.empty() ? "(none of interest)" : exports.c_str());
        std::printf("  resources: %s\n", resources.empty() ? "(none)" : resources.c_str());
        FreeLibrary(module);
    }
    return failed ? 1 : 0;
}

zq::Registration registration{{"modules", "load the built modules and list their exports and resources", kUsage, Run}};

}  // namespace
