// The engine of one post-install run: settings, command line, the INF and
// its strings, the installed drivers and printers, and the INF actions it
// runs in their fixed order.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/spool_types.h"
#include "postinst/inf.h"
#include "postinst/text.h"

namespace postinst {

class GenericInfo;

struct LogOperation {
    int type = 0;  // 1 a file, 3 a registry item
    std::string path;
    std::string section;
    bool passName = false;
};

class KovrantEngine {
public:
    KovrantEngine();
    ~KovrantEngine();

    // The whole run; the exit code (0 once the actions ran, 1-4 before).
    int run(const std::string& commandLine);

    // Macro expansion: flag bit 0 directory codes, bit 1 string macros.
    std::string DecodeMacros(const std::string& text, int flags = 255) const;
    PathObject LookupDir(int code) const;
    std::string findInstallSection(const std::string& driverName) const;
    // The installed driver record of a name and its level (none: nullptr).
    const DRIVER_INFO_3A* findDriverInfo(const std::string& driverName, int* level) const;
    // The same record, for the actions that change it in place; their
    // changes stay visible to the later actions of the run.
    DRIVER_INFO_3A* driverInfo(const std::string& driverName, int* level);
    bool isCommandForThisInstall(int mask) const;
    // A text that lives as long as the engine, for records it lends out.
    char* KeepString(const std::string& text);
    // Hands the logged operations to the install-record library.
    void flushLogOps(const std::string& name);
    // "Windows 4.0" on the 9x family, else "Windows NT x86".
    static std::string getEnvironmentName();
    void addLogOperation(int type, const std::string& path, const std::string& section, bool passName);

    const InfFile& Inf() const { return inf_; }
    const std::string& InstallSection() const { return installSection_; }
    const std::string& PrintObjectName() const { return printObjectName_; }
    const std::string& DriverName() const { return driverName_; }
    bool Silent() const { return silent_; }
    bool PointAndPrint() const { return pointAndPrint_; }
    const std::vector<LogOperation>& LogOperations() const { return logOperations_; }
    const std::map<std::string, std::string>& Strings() const { return strings_; }
    const PathObject& InstallDir() const { return installDir_; }
    bool CustomInstall() const { return customInstall_; }
    int NetworkLevel() const { return networkLevel_; }
    int DriverLevel() const { return driverLevel_; }

    // Parts of run, reachable for tests.
    bool parseCommandLine(const std::string& commandLine);
    void readSettings();
    void getStrings();

private:
    bool getPrinterInfo();
    bool isRemotePrinter(const PRINTER_INFO_2A& printer) const;
    int getManufacturers();
    void readInstallDir();
    void readStringsSection(const std::string& name);
    bool SetupMultipleDrivers(std::vector<std::unique_ptr<GenericInfo>>& list);
    void SetupMultiplePrinters(std::vector<std::unique_ptr<GenericInfo>>& list);

    std::string printObjectName_, driverName_, port_, installSection_, iso_;
    std::string infPath_;
    InfFile inf_;
    int networkLevel_ = 0;
    bool pointAndPrint_ = false, silent_ = false, customInstall_ = false, updateMode_ = false;
    PathObject installDir_;
    std::vector<std::string> manufacturers_;
    std::string uninstallSection_ = "Zel_Unst_Info";
    std::vector<BYTE> drivers_;
    DWORD driverCount_ = 0;
    int driverLevel_ = 3;
    std::vector<BYTE> printers_;
    DWORD printerCount_ = 0;
    std::vector<LogOperation> logOperations_;
    std::map<std::string, std::string> strings_;
    std::deque<std::string> kept_;
};

}  // namespace postinst
