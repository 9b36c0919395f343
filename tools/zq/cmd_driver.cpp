// zq driver: install and list printer drivers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/root.h"
#include "command.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

using zq::store::FromUtf8;
using zq::store::ToUtf8;
using zq::cli::Text;

constexpr const char* kUsage =
    "usage: zq driver add NAME --driver-file FILE --data-file FILE --config-file FILE\n"
    "                     [--help-file FILE] [--dependent FILE,FILE...] [--monitor NAME]\n"
    "                     [--datatype TYPE] [--version N] [--environment ENV]\n"
    "       zq driver list [--environment ENV]\n\n"
    "add    installs the driver (level 3). A FILE that exists on this machine is copied\n"
    "       into the driver directory; any other FILE is taken as a name already there.\n"
    "list   lists installed drivers with their files (level 3)\n";

// The Linux folder of the driver directory's version subfolder.
std::filesystem::path VersionFolder(const std::u16string& env, unsigned version) {
    DWORD needed = 0;
    GetPrinterDriverDirectoryW(nullptr, env.empty() ? nullptr : const_cast<LPWSTR>(env.c_str()), 1, nullptr, 0,
                               &needed);
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterDriverDirectoryW(nullptr, env.empty() ? nullptr : const_cast<LPWSTR>(env.c_str()), 1,
                                    buffer.data(), needed, &needed))
        return {};
    // C:\WINDOWS\... lies at <root>/c/windows/...
    std::string win = ToUtf8(reinterpret_cast<char16_t*>(buffer.data()));
    std::string rel = win.substr(3);
    for (auto& c : rel) c = (c == '\\') ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return zq::SystemRoot() / "c" / rel / std::to_string(version);
}

// A file argument: copied when it exists here, then named by its base name.
std::optional<std::u16string> Stage(const std::string& file, const std::filesystem::path& folder) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) {
        std::filesystem::create_directories(folder, ec);
        auto target = folder / std::filesystem::path(file).filename();
        std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) return std::nullopt;
        return FromUtf8(std::filesystem::path(file).filename().string());
    }
    return FromUtf8(file);
}

int Add(zq::Options& opts) {
    auto driverFile = opts.Value("--driver-file");
    auto dataFile = opts.Value("--data-file");
    auto configFile = opts.Value("--config-file");
    auto helpFile = opts.Value("--help-file");
    auto dependent = opts.Value("--dependent");
    auto monitor = opts.Value("--monitor");
    auto datatype = opts.Value("--datatype");
    auto version = opts.Value("--version");
    auto environment = opts.Value("--environment");
    if (auto bad = opts.Unknown()) return zq::UsageError("driver", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.size() != 2) return zq::UsageError("driver", "add takes one driver name");
    if (!driverFile || !dataFile || !configFile)
        return zq::UsageError("driver", "add needs --driver-file, --data-file and --config-file");
    unsigned v = 3u;
    if (version) {
        char* end = nullptr;
        errno = 0;
        unsigned long parsed = std::strtoul(version->c_str(), &end, 10);
        if (version->empty() || version->front() < '0' || version->front() > '9' || *end || errno == ERANGE ||
            parsed > 0xFFFFFFFFul)
            return zq::UsageError("driver", "--version is a number");
        v = static_cast<unsigned>(parsed);
    }
    std::u16string env = FromUtf8(environment.value_or(""));
    auto folder = VersionFolder(env, v);
    if (folder.empty()) return zq::Fail("driver: unknown environment " + environment.value_or(""));
    std::vector<std::string> deps;
    if (dependent) {
        std::stringstream ss(*dependent);
        for (std::string item; std::getline(ss, item, ',');)
            if (!item.empty()) deps.push_back(item);
    }
    std::u16string name = FromUtf8(rest[1]);
    std::vector<std::u16string> staged;
    for (const std::string* f : {&*driverFile, &*dataFile, &*configFile}) {
        auto s = Stage(*f, folder);
        if (!s) return zq::Fail("driver: cannot copy " + *f);
        staged.push_back(*s);
    }
    std::u16string help;
    if (helpFile) {
        auto s = Stage(*helpFile, folder);
        if (!s) return zq::Fail("driver: cannot copy " + *helpFile);
        help = *s;
    }
    std::u16string depList;
    for (auto& d : deps) {
        auto s = Stage(d, folder);
        if (!s) return zq::Fail("driver: cannot copy " + d);
        depList += *s;
        depList.push_back(0);
    }
    depList.push_back(0);
    std::u16string mon = FromUtf8(monitor.value_or("")), type = FromUtf8(datatype.value_or("RAW"));
    DRIVER_INFO_3W info{};
    info.cVersion = v;
    info.pName = name.data();
    info.pEnvironment = env.empty() ? nullptr : env.data();
    info.pDriverPath = staged[0].data();
    info.pDataFile = staged[1].data();
    info.pConfigFile = staged[2].data();
    info.pHelpFile = help.data();
    info.pDependentFiles = depList.data();
    info.pMonitorName = mon.data();
    info.pDefaultDataType = type.data();
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info)))
        return zq::cli::FailWithError("driver", "cannot add " + rest[1]);
    std::printf("added %s\n", rest[1].c_str());
    return 0;
}

int List(zq::Options& opts) {
    auto environment = opts.Value("--environment");
    if (auto bad = opts.Unknown()) return zq::UsageError("driver", "unknown option " + *bad);
    std::u16string env = FromUtf8(environment.value_or(""));
    LPWSTR e = env.empty() ? nullptr : env.data();
    DWORD count = 0;
    auto buffer = zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return EnumPrinterDriversW(nullptr, e, 3, b, size, needed, &count);
    });
    if (!buffer) return zq::cli::FailWithError("driver", "cannot list");
    auto* list = reinterpret_cast<DRIVER_INFO_3W*>(buffer->data());
    for (DWORD i = 0; i < count; ++i) {
        std::printf("%s\tversion %u\t%s\n  driver: %s\n  data: %s\n  config: %s\n", Text(list[i].pName).c_str(),
                    list[i].cVersion, Text(list[i].pEnvironment).c_str(), Text(list[i].pDriverPath).c_str(),
                    Text(list[i].pDataFile).c_str(), Text(list[i].pConfigFile).c_str());
        for (const char16_t* d = list[i].pDependentFiles; d && *d; d += std::char_traits<char16_t>::length(d) + 1)
            std::printf("  dependent: %s\n", Text(d).c_str());
        if (list[i].pMonitorName && *list[i].pMonitorName) std::printf("  monitor: %s\n", Text(list[i].pMonitorName).c_str());
    }
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (args.empty()) return zq::UsageError("driver", "missing verb");
    zq::Options opts(args);
    if (args[0] == "add") return Add(opts);
    if (args[0] == "list") return List(opts);
    return zq::UsageError("driver", "unknown verb " + args[0]);
}

zq::Registration registration{{"driver", "install and list printer drivers", kUsage, Run}};

}  // namespace
