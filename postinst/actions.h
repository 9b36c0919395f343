// The INF actions: a base that finds its key in an install section, reads
// the sections the key names and hands each line to its command handler,
// and the actions of this engine.
#pragma once

#include <string>
#include <vector>

#include "base/spool_types.h"
#include "postinst/engine.h"

namespace postinst {

class GenericInfo {
public:
    explicit GenericInfo(KovrantEngine& engine) : engine_(engine) {}
    virtual ~GenericInfo() = default;
    virtual bool ReadINF(const std::string& installSection);
    virtual bool Process();
    virtual bool ParseCommand(const std::string& line);
    virtual bool HandleCommand(const std::vector<std::string>& args) = 0;
    const std::string& KeyName() const { return keyName_; }

protected:
    // Every field of the line, quote-aware, with no mask field.
    bool ParsePlain(const std::string& line);
    std::string Expand(const std::string& text) const { return engine_.DecodeMacros(text, 255); }
    PathObject ExpandPath(const std::string& text) const { return PathObject(Expand(text)); }

    KovrantEngine& engine_;
    std::string keyName_;
    std::string driverName_;
};

class UnzipFileInfo : public GenericInfo {
public:
    explicit UnzipFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelUnZipZipFile"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class RunExeInfo : public GenericInfo {
public:
    RunExeInfo(KovrantEngine& e, int type);
    bool HandleCommand(const std::vector<std::string>& args) override;

private:
    bool runDriver(const std::string& name);
};

class InstFileInfo : public GenericInfo {
public:
    explicit InstFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelInstallFile"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
    static bool ourLZCopy(const PathObject& source, const PathObject& destination);
};

class DeleteFileInfo : public GenericInfo {
public:
    explicit DeleteFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelDelFiles"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class PrtDrvDataInfo : public GenericInfo {
public:
    PrtDrvDataInfo(KovrantEngine& e, const std::string& printer, const std::string& driver)
        : GenericInfo(e), printer_(printer) {
        keyName_ = "ZelPrtDrvData";
        driverName_ = driver;
    }
    bool HandleCommand(const std::vector<std::string>& args) override;

private:
    std::string printer_;
};

class AddRegInfo : public GenericInfo {
public:
    AddRegInfo(KovrantEngine& e, const std::string& driver) : GenericInfo(e) {
        keyName_ = "AddReg";
        driverName_ = driver;
    }
    bool ParseCommand(const std::string& line) override { return ParsePlain(line); }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class DeleteRegInfo : public GenericInfo {
public:
    DeleteRegInfo(KovrantEngine& e, const std::string& driver) : GenericInfo(e) {
        keyName_ = "DelReg";
        driverName_ = driver;
    }
    bool ParseCommand(const std::string& line) override { return ParsePlain(line); }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

// Ties the driver to the INF's port monitor and asks for bidirectional
// support on the printer.
class MonitorInfo : public GenericInfo {
public:
    MonitorInfo(KovrantEngine& e, PRINTER_INFO_2A* printer, DRIVER_INFO_3A* driver, int level)
        : GenericInfo(e), printer_(printer), driver_(driver), level_(level) {
        keyName_ = "ZelAssociateMonitor";
    }
    bool HandleCommand(const std::vector<std::string>& args) override;

private:
    PRINTER_INFO_2A* printer_;
    DRIVER_INFO_3A* driver_;
    int level_;
};

namespace MonitorAction {
bool MonitorExists(const std::string& name);
}

namespace DriverComponent {
// Re-adds the driver with its (changed) record, staging its files first.
bool UpdatePrinterDriver(DRIVER_INFO_3A* driver, int level);
}

// Installs the print processor of the driver's data section and selects it
// with its datatype on the printer.
class ProcessorInfo : public GenericInfo {
public:
    ProcessorInfo(KovrantEngine& e, PRINTER_INFO_2A* printer) : GenericInfo(e), printer_(printer) {
        keyName_ = "PrintProcessor";
        if (printer && printer->pDriverName) driverName_ = printer->pDriverName;
    }
    bool Process() override;
    bool HandleCommand(const std::vector<std::string>&) override { return true; }
    const std::string& Processor() const { return processor_; }
    const std::string& Dll() const { return dll_; }
    const std::string& Datatype() const { return datatype_; }

private:
    bool addProcessor();
    bool writeProcessorInfo();
    PRINTER_INFO_2A* printer_;
    std::string processor_, dll_, datatype_;
};

// Brings the driver's dependent-file list up to the INF's files.
class UpdateDepFilesInfo : public GenericInfo {
public:
    UpdateDepFilesInfo(KovrantEngine& e, DRIVER_INFO_3A* driver, int level)
        : GenericInfo(e), driver_(driver), level_(level) {
        keyName_ = "UpdateDependentFiles";
        if (driver && driver->pName) driverName_ = driver->pName;
    }
    bool Process() override;
    bool HandleCommand(const std::vector<std::string>&) override { return true; }

private:
    DRIVER_INFO_3A* driver_;
    int level_;
};

// Edits INI files of the system, one key a line.
class UpdateIniInfo : public GenericInfo {
public:
    explicit UpdateIniInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "UpdateInis"; }
    bool ParseCommand(const std::string& line) override { return ParsePlain(line); }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

// Shell links in the start menu or another shell folder.
class StartMenuInfo : public GenericInfo {
public:
    explicit StartMenuInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelAddGroup"; }
    bool Process() override;
    bool HandleCommand(const std::vector<std::string>& args) override;
    // The shell folder id of a line's folder name.
    static int FolderId(const std::string& name);
};

// One shell link to write.
class Shortcut {
public:
    void SetLink(const PathObject& folder, const std::string& name);
    void SetTarget(const PathObject& target) { target_ = target; }
    void SetArguments(const std::string& arguments) { arguments_ = arguments; }
    void SetDescription(const std::string& text) { description_ = text; }
    void SetIcon(const PathObject& path, int index) {
        icon_ = path;
        iconIndex_ = index;
    }
    const PathObject& LinkFile() const { return linkFile_; }
    bool CreateLink();

private:
    PathObject folder_, target_, linkFile_, icon_;
    std::string arguments_, description_;
    int iconIndex_ = 0;
};

// Unpacks the uninstaller's archive and lets its install engine install it,
// then hands the logged operations to the install-record library.
class UninstallInfo : public GenericInfo {
public:
    explicit UninstallInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelUninstall"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

// The outside install engine, loaded from the unpacked archive.
class InstallEngine {
public:
    explicit InstallEngine(const std::string& path) { loadTheDll(path); }
    ~InstallEngine();
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;
    bool loadTheDll(const std::string& path);
    void* ourGetProcAddress(const char* name) const;
    void SetWorkingDir(const std::string& dir);
    void SetLanguage(const std::string& language);
    bool DoInstall(const std::string& script, const std::string& a, const std::string& b);
    int GetErrorCode();
    bool Loaded() const { return module_ != nullptr; }

private:
    HMODULE module_ = nullptr;
};

}  // namespace postinst
