#include "postinst/engine.h"

#include <cstdio>
#include <cstdlib>

#include "base/clock.h"
#include "base/error.h"
#include "base/files.h"
#include "base/loader.h"
#include "base/locale.h"
#include "base/paths.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/registry.h"
#include "store/spooler.h"

namespace postinst {

namespace {
constexpr const char* kZelquorKey = "SOFTWARE\\Zelquor";

std::string AsctimeNow() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return Format("%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", days[t.wDayOfWeek % 7], months[(t.wMonth + 11) % 12], t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wYear);
}
}  // namespace

KovrantEngine::KovrantEngine() = default;
KovrantEngine::~KovrantEngine() = default;

void KovrantEngine::readSettings() {
    Registry reg;
    DebugLog::Instance().SetFile(reg.ReadString("HKLM", kZelquorKey, "KovrantDebug"));
    updateMode_ = std::atoi(reg.ReadString("HKLM", kZelquorKey, "KovrantUpdateAllPrinters").c_str()) > 0;
    customInstall_ = std::atoi(reg.ReadString("HKLM", kZelquorKey, "Running").c_str()) > 0;
}

bool KovrantEngine::parseCommandLine(const std::string& commandLine) {
    Tokenizer tokens(commandLine, ' ', Tokenizer::kQuotes | Tokenizer::kTrim);
    std::string token;
    char option = 0;
    while (tokens.NextToken(token)) {
        if (token.empty()) continue;
        if (option) {
            switch (option) {
            case 'I': infPath_ = token; break;
            case 'N': printObjectName_ = token; break;
            case 'P': port_ = token; break;
            default: break;
            }
            option = 0;
            continue;
        }
        if (token.size() == 2 && token[0] == '-') {
            char letter = Upper(token.substr(1))[0];
            // "-S" is a plain switch: it takes no value, so it neither
            // swallows the option after it nor fails as the last token.
            if (letter == 'S')
                silent_ = true;
            else
                option = letter;
        }
    }
    bool ok = true;
    if (!infPath_.empty() && GetFileAttributesA(infPath_.c_str()) != INVALID_FILE_ATTRIBUTES) {
        inf_.Load(infPath_);
    } else {
        Log() << "parseCommandLine: could not load INF: " << infPath_ << End;
        ok = false;
    }
    if (printObjectName_.empty()) {
        Log() << "parseCommandLine: no printer name specified." << End;
        ok = false;
    }
    return ok;
}

int KovrantEngine::getManufacturers() {
    if (ManufacturerSections(inf_, manufacturers_)) return 0;
    Log() << "KovrantEngine::getManufacturers: could not find manufacturer section: " << "Manufacturer" << End;
    return 3;
}

bool KovrantEngine::getPrinterInfo() {
    OSInfo os;
    if (os.isWin9x()) {
        driverName_ = printObjectName_;
        printObjectName_.clear();
        return true;
    }
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_READ};
    if (!OpenPrinterA(printObjectName_.data(), &printer, &defaults)) {
        Log() << "KovrantApp::getPrinterInfo: OpenPrinter of " << printObjectName_ << " failed with error code "
              << GetLastError() << End;
        return false;
    }
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    if (needed == 0) {
        Log() << "KovrantApp::getPrinterInfo: GetPrinter of " << printObjectName_ << " provided no data." << End;
        ClosePrinter(printer);
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterA(printer, 2, buffer.data(), needed, &needed)) {
        Log() << "KovrantApp::getPrinterInfo: GetPrinter of " << printObjectName_ << " failed with error code "
              << GetLastError() << End;
        ClosePrinter(printer);
        return false;
    }
    auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    printObjectName_ = info->pPrinterName ? info->pPrinterName : "";
    driverName_ = info->pDriverName ? info->pDriverName : "";
    pointAndPrint_ = isRemotePrinter(*info);
    ClosePrinter(printer);
    return true;
}

bool KovrantEngine::isRemotePrinter(const PRINTER_INFO_2A& printer) const {
    if (OSInfo().isWin9x() || !printer.pServerName || !*printer.pServerName) return false;
    // The whole computer name: a 15-character name must still count as this
    // computer.
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return false;
    return !EqualsNoCase(std::string("\\\\") + name, printer.pServerName);
}

std::string KovrantEngine::findInstallSection(const std::string& driverName) const {
    return InstallSectionOf(inf_, manufacturers_, driverName);
}

void KovrantEngine::readInstallDir() {
    std::string value;
    if (!inf_.getValue(installSection_, "ZelUninstall", uninstallSection_)) uninstallSection_ = "Zel_Unst_Info";
    if (inf_.getValue(uninstallSection_, "ZelInstallDir", value)) {
        auto fields = Tokenizer(value, ',', Tokenizer::kQuotes | Tokenizer::kTrim).AllTokens();
        if (!fields.empty()) {
            installDir_ = LookupDir(std::atoi(fields[0].c_str()));
            if (fields.size() > 1) installDir_.Append(fields[1]);
        }
    }
}

void KovrantEngine::readStringsSection(const std::string& name) {
    const InfSection* s = inf_.findSection(name);
    if (!s) return;
    std::string key, value;
    for (const auto& line : s->lines)
        if (splitKeyValue(line, key, value)) strings_[Lower(key)] = value;
}

void KovrantEngine::getStrings() {
    Registry reg;
    std::string iso = reg.ReadString("HKLM", kZelquorKey, "InstallLanguageISO");
    uint16_t id;
    if (!iso.empty()) {
        iso_ = iso;
        id = LanguageIdOfIso(iso);
    } else {
        iso_ = getUserLocaleName();
        id = GetUserDefaultLangID();
    }
    std::string language = Format("%04x", id % 256), country = Format("%04x", id);
    Log() << "KovrantEngine::getStrings: Language Codes Found" << End;
    Log() << "\tHex Country code: " << country << End;
    Log() << "\tHex Language code: " << language << End;
    Log() << "\tISO code: " << iso_ << End;
    readStringsSection("Strings");
    readStringsSection(Format("%s.%s", "Strings", language.c_str()));
    readStringsSection(Format("%s.%s", "Strings", country.c_str()));
    strings_["lang_hex"] = "0x" + country;
    strings_["lang"] = iso_;
    strings_["device"] = driverName_;
    strings_["port"] = port_;
}

std::string KovrantEngine::DecodeMacros(const std::string& text, int flags) const {
    std::string out, name;
    char open = 0;
    for (char c : text) {
        if (!open) {
            if (c == '%' || c == '$') {
                open = c;
                name.clear();
            } else {
                out.push_back(c);
            }
            continue;
        }
        if (c != open) {
            name.push_back(c);
            continue;
        }
        int number = 0;
        bool numeric = std::sscanf(name.c_str(), "%d", &number) == 1;
        if (open == '$') {
            if (flags & 1) {
                if (numeric) {
                    out += LookupDir(number).FullPath();
                } else {
                    out += "$" + name + "$";
                    Log() << "KovrantEngine::DecodeMacros: invalid macro: " << name << End;
                }
            }
        } else {
            std::string value;
            if (flags & 2) {
                auto it = strings_.find(Lower(name));
                if (it != strings_.end()) value = it->second;
                out += value;
            }
            if (value.empty() && (flags & 1) && numeric) out += LookupDir(number).FullPath();
        }
        open = 0;
    }
    if (open) {
        Log() << "KovrantEngine::DecodeMacros: Runaway macro in string " << text << End;
        out.push_back(open);
        out += name;
    }
    return out;
}

PathObject KovrantEngine::LookupDir(int code) const {
    switch (code) {
    case 1: return SystemPath(2);
    case 2: return SystemPath(18);
    case 3: return SystemPath(6);
    case 10: return SystemPath(19);
    case 11: return SystemPath(15);
    case 51: return SystemPath(12);
    case 52: return SystemPath(13);
    case 777: return installDir_;
    case 2500: return SystemPath(10);
    case 5000:
    case 10000: return SystemPath(8);
    case 66000: return SystemPath(7);
    case 66001: return SystemPath(9);
    default: Log() << "LookupDir: could not get directory for code " << code << End; return PathObject();
    }
}

DRIVER_INFO_3A* KovrantEngine::driverInfo(const std::string& driverName, int* level) {
    return const_cast<DRIVER_INFO_3A*>(findDriverInfo(driverName, level));
}

char* KovrantEngine::KeepString(const std::string& text) {
    kept_.push_back(text);
    return kept_.back().data();
}

std::string KovrantEngine::getEnvironmentName() { return OSInfo().isWin9x() ? "Windows 4.0" : "Windows NT x86"; }

void KovrantEngine::flushLogOps(const std::string& name) {
    Log() << "KovrantEngine::flushLogOps: logging operations..." << End;
    if (logOperations_.empty()) return;
    HMODULE library = LoadLibraryA("INSTREC.DLL");
    if (!library) {
        Log() << "KovrantEngine::FlushLogOps: Could not load instrec, error code " << GetLastError() << End;
        return;
    }
    using AddAnyItemProc = int (*)(const char*, const char*, int, const char*);
    using AddDriverNameExProc = int (*)(const char*, const char*, int);
    if (auto add = reinterpret_cast<AddAnyItemProc>(GetProcAddress(library, "AddAnyItem"))) {
        for (const auto& op : logOperations_)
            add(op.section.c_str(), op.path.c_str(), op.type, op.passName ? name.c_str() : "");
    } else {
        Log() << "KovrantEngine::FlushLogOps: could not get address of AddAnyItem" << End;
    }
    if (auto driver = reinterpret_cast<AddDriverNameExProc>(GetProcAddress(library, "AddDriverNameEx")))
        driver(driverName_.c_str(), name.c_str(), networkLevel_);
    FreeLibrary(library);
}

const DRIVER_INFO_3A* KovrantEngine::findDriverInfo(const std::string& driverName, int* level) const {
    if (level) *level = driverLevel_;
    size_t stride = driverLevel_ == 6 ? sizeof(DRIVER_INFO_6A) : sizeof(DRIVER_INFO_3A);
    for (DWORD i = 0; i < driverCount_; ++i) {
        auto* d = reinterpret_cast<const DRIVER_INFO_3A*>(drivers_.data() + i * stride);
        if (d->pName && EqualsNoCase(d->pName, driverName)) return d;
    }
    return nullptr;
}

bool KovrantEngine::isCommandForThisInstall(int mask) const {
    if (mask == 0) return false;
    return (mask & (pointAndPrint_ ? 2 : 1)) != 0;
}

void KovrantEngine::addLogOperation(int type, const std::string& path, const std::string& section, bool passName) {
    logOperations_.push_back(LogOperation{type, path, section, passName});
}

bool KovrantEngine::SetupMultipleDrivers(std::vector<std::unique_ptr<GenericInfo>>& list) {
    OSInfo os;
    driverLevel_ = os.isNT5() ? 6 : 3;
    std::string environment = getEnvironmentName();
    DWORD needed = 0, count = 0;
    EnumPrinterDriversA(nullptr, environment.data(), driverLevel_, nullptr, 0, &needed, &count);
    drivers_.assign(needed, 0);
    if (!EnumPrinterDriversA(nullptr, environment.data(), driverLevel_, drivers_.data(), needed, &needed, &count)) {
        Log() << "SetupMultipleDrivers: EnumPrinterDrivers failed with code " << GetLastError() << End;
        driverCount_ = 0;
        return false;
    }
    driverCount_ = count;
    size_t stride = driverLevel_ == 6 ? sizeof(DRIVER_INFO_6A) : sizeof(DRIVER_INFO_3A);
    for (DWORD i = 0; i < count; ++i) {
        auto* d = reinterpret_cast<const DRIVER_INFO_3A*>(drivers_.data() + i * stride);
        std::string name = d->pName ? d->pName : "";
        Log() << " Driver found: " << name << End;
        bool forThisOS = os.isWin9x() || (os.Class() == OSInfo::kNT4 && d->cVersion == 2) ||
                         (os.isNT5() && d->cVersion == 3);
        if (!forThisOS) {
            Log() << "\tSkipping: this driver is not for this OS version" << End;
            continue;
        }
        if (driverLevel_ == 6 && (!d->pHelpFile || !*d->pHelpFile))
            Log() << " WARNING!! Missing RegKey: HelpFile is empty for: " << name << End;
        list.push_back(std::make_unique<UpdateDepFilesInfo>(
            *this, reinterpret_cast<DRIVER_INFO_3A*>(drivers_.data() + i * stride), driverLevel_));
        if (!updateMode_ && name != driverName_) continue;
        list.push_back(std::make_unique<DeleteRegInfo>(*this, name));
        list.push_back(std::make_unique<AddRegInfo>(*this, name));
    }
    return true;
}

void KovrantEngine::SetupMultiplePrinters(std::vector<std::unique_ptr<GenericInfo>>& list) {
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count);
    printers_.assign(needed, 0);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, printers_.data(), needed, &needed,
                       &count))
        count = 0;
    printerCount_ = count;
    OSInfo os;
    for (DWORD i = 0; i < count; ++i) {
        auto* p = reinterpret_cast<PRINTER_INFO_2A*>(printers_.data()) + i;
        std::string name = p->pPrinterName ? p->pPrinterName : "", driver = p->pDriverName ? p->pDriverName : "";
        if (!updateMode_) {
            if (os.isWin9x() && driver != driverName_) continue;
            if (!os.isWin9x() && name != printObjectName_) continue;
        }
        list.push_back(std::make_unique<PrtDrvDataInfo>(*this, name, driver));
        int level = 0;
        DRIVER_INFO_3A* info = driverInfo(driver, &level);
        list.push_back(std::make_unique<MonitorInfo>(*this, p, info, level));
        if (!isRemotePrinter(*p)) list.push_back(std::make_unique<ProcessorInfo>(*this, p));
    }
}

int KovrantEngine::run(const std::string& commandLine) {
    readSettings();
    Log() << "---- Post install utility Flight Recorder ----" << End;
    Log() << AsctimeNow() << End;
    Log() << "Command line: " << commandLine << End;
    if (!parseCommandLine(commandLine)) return 1;
    if (int r = getManufacturers()) return r;
    if (!getPrinterInfo()) return 2;
    installSection_ = findInstallSection(driverName_);
    if (installSection_.empty()) return 4;
    std::string level;
    if (inf_.getValue(installSection_, "ZQ_DRV_NETSUPPORT", level)) networkLevel_ = std::atoi(level.c_str());
    readInstallDir();
    getStrings();
    Log() << "Driver name:       " << driverName_ << End;
    Log() << "Print Object Name: " << printObjectName_ << End;
    Log() << "Point and Print:   " << (pointAndPrint_ ? "yes" : "no") << End;
    Log() << "Install section:   " << installSection_ << End;
    Log() << "Update Mode:       " << (updateMode_ ? "yes" : "no") << End;
    Log() << "Custom install:    " << (customInstall_ ? "yes" : "no") << End;
    Log() << "Network level:\t\t" << networkLevel_ << End;
    std::vector<std::unique_ptr<GenericInfo>> actions;
    actions.push_back(std::make_unique<UnzipFileInfo>(*this));
    actions.push_back(std::make_unique<RunExeInfo>(*this, 0));
    actions.push_back(std::make_unique<InstFileInfo>(*this));
    SetupMultipleDrivers(actions);
    SetupMultiplePrinters(actions);
    actions.push_back(std::make_unique<UpdateIniInfo>(*this));
    actions.push_back(std::make_unique<StartMenuInfo>(*this));
    actions.push_back(std::make_unique<RunExeInfo>(*this, 1));
    actions.push_back(std::make_unique<DeleteFileInfo>(*this));
    actions.push_back(std::make_unique<UninstallInfo>(*this));
    for (auto& a : actions) a->Process();
    return 0;
}

}  // namespace postinst
