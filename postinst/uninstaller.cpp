// The uninstaller: its archive unpacked into a fresh work folder, the
// install engine it carries loaded from there and handed a one-entry
// script, the folder removed, and the logged operations handed on.
#include "base/error.h"
#include "base/files.h"
#include "base/loader.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/ini_file.h"
#include "postinst/registry.h"
#include "postinst/zip_extract.h"

namespace postinst {

bool InstallEngine::loadTheDll(const std::string& path) {
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        Log() << "InstallEngine::loadTheDll: could not load " << path << " (error code: " << GetLastError() << ")"
              << End;
        return false;
    }
    return true;
}

InstallEngine::~InstallEngine() {
    if (module_) FreeLibrary(module_);
}

void* InstallEngine::ourGetProcAddress(const char* name) const {
    if (!module_) {
        Log() << "InstallEngine::ourGetProcAddress: DLL has not been loaded." << End;
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
}

void InstallEngine::SetWorkingDir(const std::string& dir) {
    if (auto f = reinterpret_cast<void (*)(const char*)>(ourGetProcAddress("SetWorkingDirA"))) f(dir.c_str());
}

void InstallEngine::SetLanguage(const std::string& language) {
    if (auto f = reinterpret_cast<void (*)(const char*)>(ourGetProcAddress("SetLanguageA"))) f(language.c_str());
}

bool InstallEngine::DoInstall(const std::string& script, const std::string& a, const std::string& b) {
    auto f = reinterpret_cast<unsigned char (*)(const char*, const char*, const char*)>(ourGetProcAddress("DoInstallA"));
    if (!f) return false;
    f(script.c_str(), a.c_str(), b.c_str());
    return true;
}

int InstallEngine::GetErrorCode() {
    auto f = reinterpret_cast<int (*)()>(ourGetProcAddress("GetErrorCode"));
    return f ? f() : 0;
}

bool UninstallInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        Log() << "UninstallInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    PathObject archive = ExpandPath(args[0]);
    std::string name = args.size() > 1 ? Expand(args[1]) : "";
    if (engine_.CustomInstall()) {
        Log() << "UninstallInfo::HandleCommand: Skipping - custom installer is running." << End;
        engine_.flushLogOps(name);
        return true;
    }
    PathObject work = SystemPath(18);
    work.Append(archive.Name() + "_Extracted");
    // A folder of that name may hold anything, even an engine of its own:
    // only what this archive brings may run.
    if (GetFileAttributesA(work.Dir().c_str()) != INVALID_FILE_ATTRIBUTES) WipeOutDirectory(work);
    if (!FileOp::DirExists(work, true)) {
        Log() << "UninstallInfo::HandleCommand: could not create temp path " << work.Dir() << End;
        engine_.flushLogOps(name);
        return true;
    }
    if (!ZipListContents(archive.FullPath(), kZipExtract, work.Dir(), nullptr)) {
        Log() << "UninstallerInfo::HandleCommand: could not extract " << archive.FullPath() << " to " << work.Dir()
              << End;
        engine_.flushLogOps(name);
        return true;
    }
    {
        PathObject engineDir = work;
        engineDir.Append("Install");
        PathObject engineFile = engineDir;
        engineFile.SetName("Engine.dll");
        InstallEngine engine(engineFile.FullPath());
        engine.SetWorkingDir(engineDir.Dir());
        engine.SetLanguage(Registry().ReadString("HKLM", "SOFTWARE\\Zelquor", "InstallLanguageISO"));
        PathObject script = work;
        script.SetName("Temp.isf");
        IniFile ini(false);
        ini.SetValue("Install", "Uninstaller", "1");
        ini.Write(script.FullPath());
        engine.DoInstall(script.FullPath(), "", "");
        int code = engine.GetErrorCode();
        Log() << "UninstallerInfo::HandleCommand: installation returned code " << code << End;
        WipeOutDirectory(work);
    }
    engine_.flushLogOps(name);
    return true;
}

}  // namespace postinst
