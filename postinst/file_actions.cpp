// The action framework and the file actions: archives, programs, files
// (with LZ expansion and in-use handling) and deletions.
#include <cstdlib>

#include "base/error.h"
#include "base/files.h"
#include "base/lz.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/launch.h"
#include "postinst/registry.h"
#include "postinst/zip_extract.h"
#include "store/spooler.h"

namespace postinst {

bool GenericInfo::Process() {
    Log() << "GenericInfo::Process: Processing " << keyName_ << End;
    Log().StartClock();
    std::string section = driverName_.empty() ? engine_.InstallSection() : engine_.findInstallSection(driverName_);
    bool result = ReadINF(section);
    Log().LogElapsed("GenericInfo::Process: Finished.  (Elapsed time: %f seconds.)");
    return result;
}

bool GenericInfo::ReadINF(const std::string& installSection) {
    std::string value;
    if (keyName_.empty() || !engine_.Inf().getValue(installSection, keyName_, value)) return false;
    Tokenizer names(value, ',', 0);
    std::string name;
    while (names.NextToken(name)) {
        name = Trim(name);
        const InfSection* s = engine_.Inf().findSection(name);
        if (!s) {
            Log() << "GenericInfo::ReadINF: Section " << name << " not found" << End;
            continue;
        }
        for (const auto& line : s->lines) {
            if (ParseCommand(line)) continue;
            Log() << "GenericInfo::ReadINF: Error parsing command:" << End;
            Log() << "\t\tSection: " << installSection << End;
            Log() << "\t\tCommand Name: " << keyName_ << End;
            Log() << "\t\tCommand: " << line << End;
        }
    }
    return true;
}

bool GenericInfo::ParseCommand(const std::string& line) {
    Tokenizer fields(line, ',', Tokenizer::kQuotes);
    std::string first, mask;
    fields.NextToken(first);
    if (!fields.NextToken(mask)) {
        Log() << "GenericInfo::ParseCommand: command " << line << " is invalid!" << End;
        return false;
    }
    // A line for the other kind of install is not run, and is no error.
    if (!engine_.isCommandForThisInstall(std::atoi(mask.c_str()))) return true;
    return HandleCommand(fields.AllTokens());
}

bool GenericInfo::ParsePlain(const std::string& line) {
    HandleCommand(Tokenizer(line, ',', Tokenizer::kQuotes).AllTokens());
    return true;
}

// ---------------------------------------------------------------- unzip

bool UnzipFileInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        Log() << "UnZipInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    PathObject archive = ExpandPath(args[0]);
    std::string destination = args.size() > 1 ? ExpandPath(args[1]).FullPath() : archive.Dir();
    return ZipListContents(archive.FullPath(), kZipExtract, destination, nullptr);
}

// ---------------------------------------------------------------- programs

RunExeInfo::RunExeInfo(KovrantEngine& e, int type) : GenericInfo(e) {
    if (type == 0)
        keyName_ = "ZelUnZipEXEFile";
    else if (type == 1)
        keyName_ = "ZelRunApps";
    else
        Log() << "RunAppInfo::ctor: invalid type: " << type << End;
}

bool RunExeInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        Log() << "RunAppInfo::HandleCommand: Not enough arguments!" << End;
        return false;
    }
    std::string program = Expand(args[0]);
    std::string parameters = args.size() > 1 ? args[1] : "";
    uint16_t show = args.size() > 2 ? static_cast<uint16_t>(std::atoi(args[2].c_str())) : 0;
    bool wait = args.size() <= 3 || std::atoi(args[3].c_str()) == 1;
    DWORD flags = 0;
    if (args.size() > 4) flags = (EqualsNoCase(args[4], "DOS") || EqualsNoCase(args[4], "WIN16")) ? 0x800 : 0x28;
    bool runWhenSilent = args.size() <= 5 || std::atoi(args[5].c_str()) == 1;
    if (engine_.Silent() && !runWhenSilent) return true;
    if (program == "DRIVER_DOC_PROP" || program == "DRIVER_ADV_DOC_PROP" || program == "DRIVER_PTR_PROP") {
        if (OSInfo().isNT()) runDriver(program);
        return true;
    }
    LaunchRequest request;
    request.commandLine = QuoteProgram(program) + " " + parameters;
    request.wait = wait;
    request.changeDirectory = true;
    request.showMode = show;
    request.creationFlags = flags;
    LaunchResult r = launch_helper(request);
    // The logged command line is the one the INF gave.
    std::string shown = program + " " + parameters;
    if (wait)
        Log() << "RunProgramInfo: " << shown << " returned " << r.exitCode << " (error code " << r.error << ")" << End;
    else
        Log() << "RunProgramInfo: " << shown << " ran.  (Error code " << r.error << ")" << End;
    return true;
}

bool RunExeInfo::runDriver(const std::string& name) {
    std::string printerName = engine_.PrintObjectName();
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_READ};
    if (!OpenPrinterA(printerName.data(), &printer, &defaults)) {
        Log() << "RunAppInfo::runDriver: OpenPrinter of " << printerName << " failed with code " << GetLastError()
              << End;
        return false;
    }
    bool ok = true;
    if (name == "DRIVER_DOC_PROP")
        ok = DocumentPropertiesA(nullptr, printer, printerName.data(), nullptr, nullptr, 4) != 0;
    ClosePrinter(printer);
    return ok;
}

// ---------------------------------------------------------------- files

bool InstFileInfo::ourLZCopy(const PathObject& source, const PathObject& destination) {
    OFSTRUCT of{};
    std::string src = source.FullPath();
    INT in = LZOpenFileA(src.data(), &of, OF_READ);
    if (in < 0) return false;
    // The expansion goes beside the destination under a temporary name and
    // is renamed into place only when it is whole.
    PathObject temp = get_temp_name(destination);
    if (temp.Empty()) {
        LZClose(in);
        return false;
    }
    std::string tmp = temp.FullPath();
    INT out = LZOpenFileA(tmp.data(), &of, OF_CREATE);
    LONG n = out < 0 ? LZERROR_BADOUTHANDLE : LZCopy(in, out);
    if (n < 0) {
        std::string reason;
        switch (n) {
        case -6: reason = " LZ file handle cannot be locked down"; break;
        case -5: reason = " too many open compressed files"; break;
        case -3: reason = " source file format invalid"; break;
        case -2: reason = " bad output handle"; break;
        case -1: reason = " bad input handle"; break;
        default: reason = " unknown code " + std::to_string(n); break;
        }
        Log() << "InstFileInfo::ourLZCopy: LZCopy failed: " << reason << End;
    }
    LZClose(in);
    if (out >= 0) LZClose(out);
    bool ok = n >= 0 && MoveFileExA(tmp.c_str(), destination.FullPath().c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(tmp.c_str());
    return ok;
}

bool InstFileInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        Log() << "InstFileInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    PathObject destination = ExpandPath(args[0]), source = ExpandPath(args[1]), temp = ExpandPath(args[2]);
    bool deleteSource = args.size() > 3 && std::atoi(args[3].c_str()) != 0;
    int logKind = args.size() > 4 ? std::atoi(args[4].c_str()) : 0;
    if (!FileOp::Exists(source)) {
        Log() << "InstFileInfo::HandleCommand: file " << source.FullPath() << " does not exist!" << End;
        return false;
    }
    if (!FileOp::DirExists(destination, true)) {
        Log() << "InstFileInfo::HandleCommand: dest dir " << destination.Dir() << " does not exist and cannot be created"
              << End;
        return false;
    }
    if (!FileOp::DirExists(temp, true)) {
        Log() << "InstFileInfo::HandleCommand: temp dir " << temp.Dir() << " does not exist and cannot be created"
              << End;
        return false;
    }
    bool copied = true;
    if (!FileOp::Exists(destination)) {
        copied = ourLZCopy(source, destination);
    } else if (FileOp::isNewer(source, destination) && !ourLZCopy(source, destination)) {
        // The destination is in use.
        if (OSInfo().isNT()) {
            copied = false;
            if (MoveFileExA(destination.FullPath().c_str(), temp.FullPath().c_str(), 0)) {
                if (ourLZCopy(source, destination)) {
                    MoveFileExA(temp.FullPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
                    copied = true;
                } else {
                    MoveFileExA(temp.FullPath().c_str(), destination.FullPath().c_str(), 0);
                }
            } else {
                // Held without sharing, it cannot even be renamed: the
                // expansion waits in the temporary file and replaces it at
                // the next start.
                copied = ourLZCopy(source, temp) &&
                         FileOp::Copy(temp, destination, FileOp::kRecheck | FileOp::kSharingIsInUse);
            }
        } else {
            copied = ourLZCopy(source, temp) && FileOp::Copy(temp, destination, FileOp::kRecheck);
        }
    }
    // A file that did not get into place keeps its source and is not
    // recorded as installed.
    if (!copied) return false;
    // Never delete the file just installed, when the line names it twice.
    if (deleteSource && PathObject::Compare(source, destination) != 0) FileOp::Remove(source, 0);
    std::string section;
    if (logKind == 1) {
        section = "Uninstaller";
        engine_.addLogOperation(1, destination.FullPath(), section, true);
    } else if (logKind == 2) {
        section = "Driver " + engine_.DriverName();
        engine_.addLogOperation(1, destination.FullPath(), section, false);
    }
    if (logKind == 1 || logKind == 2)
        Log() << "InstFileInfo::HandleCommand: wrote file " << destination.FullPath() << " log section " << section
              << End;
    return true;
}

// ---------------------------------------------------------------- deletions

bool DeleteFileInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        Log() << "DeleteFileInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    PathObject path = ExpandPath(args[0]);
    int mode = args.size() > 1 ? std::atoi(args[1].c_str()) : 1;
    if (mode < 0 || mode > 2) {
        Log() << "DeleteFilesInfo::HandleCommand: invalid flag: " << mode << End;
        mode = 1;
    }
    static constexpr int kFlags[] = {FileOp::kNeverAtReboot, 0, FileOp::kOnlyAtReboot};
    return FileOp::Remove(path, kFlags[mode]);
}

}  // namespace postinst
