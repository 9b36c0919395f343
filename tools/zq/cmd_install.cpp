// zq install: the stand-in of the system's printer installer. It installs
// one model of an INF (its files into the driver directory, the driver at
// level 6 and the printer) and starts postinst in the INF's folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/files.h"
#include "base/kernel_objects.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/text.h"
#include "command.h"
#include "postinst/file_op.h"
#include "postinst/inf.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq install INF --model MODEL --printer NAME [--port PORT] [--silent]\n\n"
    "Installs MODEL from the INF (a Windows path on the system root, e.g. D:\\zelquor.inf):\n"
    "copies the files its install section names (CopyFiles, DriverFile, DataFile,\n"
    "ConfigFile, HelpFile, also from its DataSection) from the INF's folder into the\n"
    "driver directory, adds the language monitor its LanguageMonitor key names\n"
    "(\"name,file\"), the driver (level 6) and the printer NAME on PORT\n"
    "(default LPT1:), then starts postinst -I INF -N NAME -P PORT [-S] in the INF's\n"
    "folder and reports its exit code, which is also zq's.\n";

// A key of the install section, else of its data section.
std::string DriverKey(const postinst::InfFile& inf, const std::string& section, const char* key) {
    std::string value, data;
    if (inf.getValue(section, key, value)) return value;
    if (inf.getValue(section, "DataSection", data)) inf.getValue(data, key, value);
    return value;
}

std::vector<std::string> CopyFilesOf(const postinst::InfFile& inf, const std::string& section) {
    std::vector<std::string> files;
    std::string list;
    inf.getValue(section, "CopyFiles", list);
    for (auto& entry : postinst::Tokenizer(list, ',', postinst::Tokenizer::kTrim).AllTokens()) {
        if (!entry.empty() && entry[0] == '@') {
            files.push_back(postinst::Trim(entry.substr(1)));
            continue;
        }
        if (const auto* s = inf.findSection(entry))
            for (const auto& line : s->lines) {
                size_t eq = line.find('=');
                files.push_back(postinst::Trim(eq == std::string::npos || eq == 0 ? line : line.substr(0, eq)));
            }
    }
    return files;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    zq::Options opts(args);
    auto model = opts.Value("--model");
    auto printer = opts.Value("--printer");
    std::string port = opts.Value("--port").value_or("LPT1:");
    bool silent = opts.Flag("--silent");
    auto rest = opts.Rest();
    if (auto unknown = opts.Unknown()) return zq::UsageError("install", "unknown option " + *unknown);
    if (rest.size() != 1 || !model || !printer) return zq::UsageError("install", "give INF, --model and --printer");
    const std::string infPath = rest[0];
    postinst::InfFile inf;
    if (!inf.Load(infPath)) return zq::Fail("install: cannot read " + infPath);
    std::vector<std::string> manufacturers;
    postinst::ManufacturerSections(inf, manufacturers);
    std::string section = postinst::InstallSectionOf(inf, manufacturers, *model);
    if (section.empty()) return zq::Fail("install: " + infPath + " has no install section for \"" + *model + "\"");
    postinst::PathObject infFile(infPath);
    const std::string mediaDir = infFile.Dir().empty() ? "." : infFile.Dir();

    // The driver's files into the driver directory of this Windows version.
    char driverDir[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(driverDir), MAX_PATH, &needed))
        return zq::Fail("install: no driver directory");
    std::string versionDir = std::string(driverDir) + "\\3";
    postinst::PathObject target;
    target.SetDir(versionDir);
    if (!postinst::FileOp::DirExists(target, true)) return zq::Fail("install: cannot create " + versionDir);
    std::string driverFile = DriverKey(inf, section, "DriverFile"), dataFile = DriverKey(inf, section, "DataFile"),
                configFile = DriverKey(inf, section, "ConfigFile"), helpFile = DriverKey(inf, section, "HelpFile");
    if (driverFile.empty() || dataFile.empty() || configFile.empty())
        return zq::Fail("install: section " + section + " names no DriverFile, DataFile or ConfigFile");
    std::vector<std::string> files = CopyFilesOf(inf, section);
    for (const auto& f : {driverFile, dataFile, configFile, helpFile})
        if (!f.empty()) files.push_back(f);
    std::string dependents;
    for (const auto& f : files) {
        std::string from = mediaDir + "\\" + f, to = versionDir + "\\" + f;
        if (!postinst::FileOp::CopyIntoPlace(from, to))
            return zq::Fail("install: cannot copy " + from + " (error " + std::to_string(GetLastError()) + ")");
        if (f != driverFile && f != dataFile && f != configFile && f != helpFile &&
            dependents.find(f + '\0') == std::string::npos)
            dependents += f + '\0';
    }
    dependents += '\0';

    // The language monitor first, as the system's installer adds it; one
    // already there is kept.
    std::string monitorKey = DriverKey(inf, section, "LanguageMonitor");
    if (monitorKey.size() >= 2 && monitorKey.front() == '"' && monitorKey.back() == '"')
        monitorKey = monitorKey.substr(1, monitorKey.size() - 2);
    if (!monitorKey.empty()) {
        auto fields = postinst::Tokenizer(monitorKey, ',', postinst::Tokenizer::kQuotes | postinst::Tokenizer::kTrim)
                          .AllTokens();
        if (fields.size() < 2 || fields[0].empty() || fields[1].empty())
            return zq::Fail("install: LanguageMonitor of " + section + " is not \"name,file\"");
        std::string environment = "Windows NT x86";
        MONITOR_INFO_2A m{fields[0].data(), environment.data(), fields[1].data()};
        if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&m)) &&
            GetLastError() != ERROR_PRINT_MONITOR_ALREADY_INSTALLED)
            return zq::Fail("install: AddMonitor of " + fields[0] + " failed (error " +
                            std::to_string(GetLastError()) + ")");
    }

    DRIVER_INFO_6A d{};
    std::string name = *model;
    d.cVersion = 3;
    d.pName = name.data();
    d.pDriverPath = driverFile.data();
    d.pDataFile = dataFile.data();
    d.pConfigFile = configFile.data();
    d.pHelpFile = helpFile.empty() ? nullptr : helpFile.data();
    d.pDependentFiles = dependents.data();
    std::string provider = "Zelquor";
    d.pszMfgName = provider.data();
    d.pszProvider = provider.data();
    if (!AddPrinterDriverA(nullptr, 6, reinterpret_cast<LPBYTE>(&d)))
        return zq::Fail("install: AddPrinterDriver failed (error " + std::to_string(GetLastError()) + ")");

    HANDLE existing = nullptr;
    std::string printerName = *printer;
    if (OpenPrinterA(printerName.data(), &existing, nullptr)) {
        ClosePrinter(existing);
    } else {
        std::string processor = "WinPrint", datatype = "RAW";
        PRINTER_INFO_2A info{};
        info.pPrinterName = printerName.data();
        info.pDriverName = name.data();
        info.pPortName = port.data();
        info.pPrintProcessor = processor.data();
        info.pDatatype = datatype.data();
        HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        if (!added) return zq::Fail("install: AddPrinter failed (error " + std::to_string(GetLastError()) + ")");
        ClosePrinter(added);
    }

    // The install-record library into the system directory, as the
    // system's installer brings it; postinst hands its records to it.
    {
        std::error_code ec;
        auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        auto library = self.parent_path().parent_path() / "lib" / "instrec.so";
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, MAX_PATH);
        auto target = zq::MapPath(zq::AnsiToWide(std::string(system) + "\\instrec.so"));
        if (!ec && target && std::filesystem::exists(library, ec))
            std::filesystem::copy_file(library, *target, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec || !target || !std::filesystem::exists(*target, ec))
            std::fprintf(stderr, "zq install: warning: no install-record library installed\n");
    }

    // postinst is found beside zq unless the caller says where programs are.
    if (!std::getenv("ZQ_BIN_PATH")) {
        std::error_code ec;
        auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec) setenv("ZQ_BIN_PATH", self.parent_path().c_str(), 1);
    }
    std::u16string commandLine = u"postinst -I " + zq::QuoteArgument(zq::AnsiToWide(infPath)) + u" -N " +
                                 zq::QuoteArgument(zq::AnsiToWide(printerName)) + u" -P " +
                                 zq::QuoteArgument(zq::AnsiToWide(port)) + (silent ? u" -S" : u"");
    std::string line = zq::WideToAnsi(commandLine);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION pi{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, mediaDir.c_str(), &startup, &pi))
        return zq::Fail("install: cannot start postinst (error " + std::to_string(GetLastError()) + ")");
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    std::printf("installed \"%s\" as \"%s\" from %s (section %s, %zu files); postinst exit code %u\n", name.c_str(),
                printerName.c_str(), infPath.c_str(), section.c_str(), files.size(), code);
    return static_cast<int>(code);
}

zq::Registration reg{{"install", "install a model from an INF and run postinst", kUsage, Run}};

}  // namespace
