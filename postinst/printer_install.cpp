// The actions that finish a printer's installation once its files are in
// place: the port monitor tied to the driver, the print processor installed
// and selected, and the driver's dependent-file list brought up to date.
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/error.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/ini_file.h"
#include "postinst/registry.h"
#include "store/spooler.h"

namespace postinst {

namespace {

// File names compare as Windows compares them: case ignored, so a case
// difference alone never re-adds a driver.
using FileSet = std::set<std::string, IniKeyLess>;

std::vector<std::string> MultiStrings(const char* multi) {
    std::vector<std::string> out;
    for (const char* p = multi; p && *p; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

std::string Text(const char* s) { return s ? s : ""; }

// Opens the printer for full access, sets the held record at level 2 and
// closes it; the error code of a failed step (0 when all went well) and
// whether the open failed.
DWORD SetHeldPrinter(PRINTER_INFO_2A* info, bool* openFailed) {
    *openFailed = false;
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(info->pPrinterName, &printer, &defaults)) {
        *openFailed = true;
        return GetLastError();
    }
    DWORD error = SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(info), 0) ? 0 : GetLastError();
    ClosePrinter(printer);
    return error;
}

}  // namespace

// ---------------------------------------------------------------- monitor

bool MonitorAction::MonitorExists(const std::string& name) {
    DWORD needed = 0, count = 0;
    EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &count);
    if (needed == 0) {
        Log() << "MonitorAction::MonitorExists: First call to EnumMonitors failed with code " << GetLastError() << End;
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!EnumMonitorsA(nullptr, 1, buffer.data(), needed, &needed, &count)) {
        Log() << "MonitorAction::monitorExists: Call to EnumMonitors() failed. Error code: " << GetLastError() << End;
        return false;
    }
    auto* monitors = reinterpret_cast<const MONITOR_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        if (monitors[i].pName && name == monitors[i].pName) return true;
    return false;
}

bool MonitorInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        Log() << "MonitorInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    if (!driver_ || !printer_) {
        Log() << "MonitorInfo::HandleCommand: bad parameters" << End;
        return false;
    }
    const std::string& monitor = args[0];
    int bidi = std::atoi(args[1].c_str());
    if (!MonitorAction::MonitorExists(monitor)) {
        Log() << "MonitorInfo::HandleCommand: " << monitor << " does not exist." << End;
        return false;
    }
    if (Text(driver_->pMonitorName) != monitor) {
        driver_->pMonitorName = engine_.KeepString(monitor);
        if (!DriverComponent::UpdatePrinterDriver(driver_, engine_.DriverLevel())) {
            Log() << "MonitorInfo::HandleCommand: unable to update driver." << End;
            Log() << "\tDriver name: " << Text(driver_->pName) << End;
            Log() << "\tMonitor name: " << monitor << End;
            return false;
        }
    }
    if (bidi == 1 && !(printer_->Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI)) {
        std::string name = Text(printer_->pPrinterName);
        Log() << "MonitorInfo::HandleCommand: Printer " << name << " needs an update!" << End;
        printer_->Attributes |= PRINTER_ATTRIBUTE_ENABLE_BIDI;
        bool openFailed = false;
        if (DWORD e = SetHeldPrinter(printer_, &openFailed)) {
            if (openFailed)
                Log() << "MonitorInfo::HandleCommand: OpenPrinter of printer " << name << " failed with code " << e
                      << End;
            else
                Log() << "MonitorInfo::HandleCommand: SetPrinter of printer " << name << " failed with code " << e
                      << End;
        }
    }
    return true;
}

// ---------------------------------------------------------------- processor

bool ProcessorInfo::Process() {
    if (!printer_) return false;
    std::string section = engine_.findInstallSection(driverName_);
    if (section.empty()) return false;
    Log() << "ProcessorInfo Status" << End;
    Log() << "\t\tPrinter name:    " << Text(printer_->pPrinterName) << End;
    Log() << "\t\tDriver name:     " << driverName_ << End;
    Log() << "\t\tInstall section: " << section << End;
    std::string data;
    if (!engine_.Inf().getValue(section, "DataSection", data)) {
        Log() << "\t\tNo data section!" << End;
        return false;
    }
    Log() << "\t\tData section:    " << data << End;
    static const char* const kPairs[][2] = {{"ZelPrintProcessor", "ZelDefaultDataType"},
                                            {"PrintProcessor", "DefaultDataType"}};
    auto fields = [](std::string text) {
        text = Trim(text);
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
        return Tokenizer(text, ',', Tokenizer::kQuotes | Tokenizer::kTrim).AllTokens();
    };
    for (const auto& pair : kPairs) {
        std::string value;
        if (engine_.Inf().getValue(data, pair[0], value)) {
            auto f = fields(Expand(value));
            if (!f.empty()) processor_ = f[0];
            if (f.size() > 1) dll_ = f[1];
        }
        if (datatype_.empty() && engine_.Inf().getValue(data, pair[1], value)) {
            auto f = fields(value);
            if (!f.empty()) datatype_ = f[0];
        }
        if (!processor_.empty()) break;
    }
    addProcessor();
    writeProcessorInfo();
    return true;
}

bool ProcessorInfo::addProcessor() {
    Log() << "ProcessorInfo::addProcessor: About to add processor." << End;
    Log() << "\t\tProcessor: " << processor_ << End;
    Log() << "\t\tDLL: " << dll_ << End;
    Log() << "\t\tData Type: " << datatype_ << End;
    if (processor_.empty() || dll_.empty()) return false;
    std::string environment = KovrantEngine::getEnvironmentName();
    if (AddPrintProcessorA(nullptr, environment.data(), dll_.data(), processor_.data())) {
        Log() << "ProcessorInfo::addProcessor: added processor successfully!" << End;
        return true;
    }
    Log() << "ProcessorInfo::addProcessor: system AddPrintProcessor returned " << GetLastError() << End;
    return false;
}

bool ProcessorInfo::writeProcessorInfo() {
    if (processor_.empty()) return false;
    if (printer_->pPrintProcessor && printer_->pDatatype && processor_ == printer_->pPrintProcessor &&
        datatype_ == printer_->pDatatype)
        return false;
    std::string name = Text(printer_->pPrinterName);
    Log() << "PrinterInfo::writeProcessorInfo: adding processor " << processor_ << " to printer " << name << End;
    printer_->pPrintProcessor = engine_.KeepString(processor_);
    if (!datatype_.empty()) printer_->pDatatype = engine_.KeepString(datatype_);
    bool openFailed = false;
    DWORD e = SetHeldPrinter(printer_, &openFailed);
    if (e == 0) return true;
    Log() << (openFailed ? "ProcessorInfo::WriteProcessorInfo: OpenPrinter failed."
                         : "ProcessorInfo::writeProcessorInfo: SetPrinter failed.")
          << End;
    Log() << "\tCode: " << e << "\n\tPrint object: " << name << "\n\tProcessor: " << processor_ << End;
    return false;
}

// ---------------------------------------------------------------- dependent files

bool UpdateDepFilesInfo::Process() {
    if (!driver_) return true;
    std::string section = engine_.findInstallSection(driverName_);
    if (section.empty()) return true;
    std::vector<std::string> names;
    std::string list;
    engine_.Inf().getValue(section, "CopyFiles", list);
    for (const auto& entry : Tokenizer(list, ',', Tokenizer::kTrim).AllTokens()) {
        if (!entry.empty() && entry[0] == '@') {
            names.push_back(Trim(entry.substr(1)));
            continue;
        }
        if (const InfSection* s = engine_.Inf().findSection(Trim(entry)))
            for (const auto& line : s->lines) {
                size_t eq = line.find('=');
                names.push_back(Trim(eq != std::string::npos && eq != 0 ? line.substr(0, eq) : line));
            }
    }
    bool nt = OSInfo().isNT();
    PathObject versionDir = SystemPath(8);
    FileSet infFiles;
    for (auto& name : names) {
        if (name.empty()) continue;
        std::string file = name;
        if (nt) {
            PathObject p = versionDir;
            p.SetName(name);
            file = p.FullPath();
        }
        if (level_ == 6) {
            bool own = false;
            for (const char* f : {driver_->pDataFile, driver_->pConfigFile, driver_->pDriverPath, driver_->pHelpFile})
                if (f && EqualsNoCase(f, file)) own = true;
            if (own) continue;
        }
        infFiles.insert(file);
    }
    if (infFiles.empty()) {
        Log() << "UpdateDepFilesInfo::Process: no inf dependent files found:" << End;
        Log() << "\tDriver name: " << driverName_ << End;
        Log() << "\tINF section: " << section << End;
        return false;
    }
    auto current = MultiStrings(driver_->pDependentFiles);
    FileSet driverFiles(current.begin(), current.end());
    if (driverFiles.empty()) {
        Log() << "UpdateDepFilesInfo::Process: no driver dependent files found:" << End;
        Log() << "\tDriver name: " << driverName_ << End;
        return false;
    }
    for (const auto& file : infFiles) {
        if (driverFiles.count(file)) continue;
        Log() << "\tThis file will cause an update: " << file << End;
        Log() << "UpdateDepFilesInfo::Process: driver " << driverName_ << " needs an update" << End;
        std::string multi;
        for (const auto& f : infFiles) multi += PathObject(f).Name() + '\0';
        multi += '\0';
        driver_->pDependentFiles = engine_.KeepString(multi);
        return DriverComponent::UpdatePrinterDriver(driver_, engine_.DriverLevel());
    }
    return true;
}

// ---------------------------------------------------------------- driver

bool DriverComponent::UpdatePrinterDriver(DRIVER_INFO_3A* driver, int level) {
    OSInfo os;
    bool fits = os.isWin9x() || (os.isNT5() && driver->cVersion == 3) ||
                (os.Class() == OSInfo::kNT4 && driver->cVersion == 2);
    if (!fits) {
        Log() << "UpdatePrinterDriver: not updating alt driver " << Text(driver->pName) << " (version "
              << driver->cVersion << "): wrong OS" << End;
        return true;
    }
    if (os.isNT()) {
        std::vector<std::string> files = MultiStrings(driver->pDependentFiles);
        if (level == 6)
            for (const char* f : {driver->pHelpFile, driver->pConfigFile, driver->pDataFile, driver->pDriverPath})
                if (f && *f) files.emplace_back(f);
        PathObject versionDir = SystemPath(8), driverDir = SystemPath(7);
        for (const auto& f : files) {
            PathObject source(f);
            if (source.Dir().empty()) {
                source = versionDir;
                source.SetName(f);
            }
            PathObject target = driverDir;
            target.SetName(source.Name());
            if (FileOp::Exists(target)) continue;
            if (!FileOp::Exists(source)) {
                Log() << "DriverComponent::UpdatePrinterDriver: dependent file not found: " << source.FullPath()
                      << End;
                return false;
            }
            if (!FileOp::Copy(source, target, 3)) {
                Log() << "DriverComponent::UpdatePrinterDriver: unable to copy file " << source.FullPath() << " to "
                      << target.FullPath() << End;
                return false;
            }
        }
    }
    if (!AddPrinterDriverA(nullptr, level, reinterpret_cast<LPBYTE>(driver))) {
        Log() << "DriverComponent::UpdatePrinterDriver: AddPrinterDriver failed with code " << GetLastError() << End;
        Log() << "\tDriver name: " << Text(driver->pName) << End;
        return false;
    }
    return true;
}

}  // namespace postinst
