// Start-menu items: shell links in a shell folder, one a line, written
// through the shell-link class.
#include "base/error.h"
#include "base/paths.h"
#include "base/text.h"
#include "com/com.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/registry.h"

namespace postinst {

namespace {

struct FolderName {
    const char* name;
    int id;
};

constexpr FolderName kFolderNames[] = {
    {"DESKTOP", 0},           {"PROGRAMS", 2},          {"CONTROLS", 3},          {"PRINTERS", 4},
    {"PERSONAL", 5},          {"FAVORITES", 6},         {"STARTUP", 7},           {"RECENT", 8},
    {"SENDTO", 9},            {"BITBUCKET", 10},        {"STARTMENU", 11},        {"DESKTOPDIRECTORY", 16},
    {"DRIVES", 17},           {"NETWORK", 18},          {"NETHOOD", 19},          {"FONTS", 20},
    {"TEMPLATES", 21},        {"COMMON_STARTMENU", 22}, {"COMMON_PROGRAMS", 23},  {"COMMON_STARTUP", 24},
    {"COMMON_DESKTOPDIRECTORY", 25}, {"APPDATA", 26},   {"PRINTHOOD", 27},
};

// The folder of a shell folder id; empty when the shell knows no path.
std::string ShellFolderPath(int id) {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, id, &list))) return "";
    char path[MAX_PATH] = {};
    BOOL ok = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    return ok ? path : "";
}

}  // namespace

int StartMenuInfo::FolderId(const std::string& name) {
    for (const auto& f : kFolderNames)
        if (EqualsNoCase(name, f.name)) return f.id;
    return OSInfo().isNT() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
}

bool StartMenuInfo::Process() {
    // COM stays initialised for the rest of the run.
    CoInitialize(nullptr);
    return GenericInfo::Process();
}

bool StartMenuInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 4) {
        Log() << "StartMenuInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    std::string group = Expand(args[1]), name = Expand(args[2]), target = Expand(args[3]);
    std::string arguments = args.size() > 4 ? Expand(args[4]) : "";
    std::string base = ShellFolderPath(FolderId(args[0]));
    PathObject folder;
    folder.SetDir(base);
    folder.Append(group);
    auto details = [&] {
        Log() << "\tLink folder: " << folder.FullPath() << End;
        Log() << "\tItem name: " << name << End;
        Log() << "\tTarget file: " << target << End;
        Log() << "\tArguments: " << arguments << End;
    };
    // Without the shell folder the link would land relative to the current
    // directory: the line writes nothing.
    if (base.empty()) {
        Log() << "StartMenuInfo::HandleCommand: failed to create link." << End;
        details();
        return false;
    }
    Shortcut link;
    link.SetLink(folder, name);
    link.SetTarget(PathObject(target));
    if (!arguments.empty()) link.SetArguments(arguments);
    if (!link.CreateLink()) {
        Log() << "StartMenuInfo::HandleCommand: failed to create link." << End;
        details();
    }
    return true;
}

void Shortcut::SetLink(const PathObject& folder, const std::string& name) {
    folder_ = folder;
    linkFile_ = folder;
    linkFile_.SetName(name + ".LNK");
}

bool Shortcut::CreateLink() {
    if (!FileOp::DirExists(folder_, true)) return false;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        link->Release();
        return false;
    }
    bool ok = true;
    std::string path = target_.FullPath();
    if (FAILED(link->SetPath(path.c_str()))) {
        Log() << "Shortcut::CreateLink: failed to set shortcut path: " << path << End;
        ok = false;
    }
    if (!arguments_.empty() && FAILED(link->SetArguments(arguments_.c_str()))) {
        Log() << "Shortcut::CreateLink: failed to set shortcut arguments: " << arguments_ << End;
        ok = false;
    }
    std::string dir = target_.Dir();
    if (dir.size() == 2) dir += "\\";
    if (FAILED(link->SetWorkingDirectory(dir.c_str()))) {
        Log() << "Shortcut::CreateLink: failed to set working directory: " << dir << End;
        ok = false;
    }
    if (!description_.empty() && FAILED(link->SetDescription(description_.c_str()))) {
        Log() << "Shortcut::CreateLink: failed to set comment: " << description_ << End;
        ok = false;
    }
    if (!icon_.Empty() && FAILED(link->SetIconLocation(icon_.FullPath().c_str(), iconIndex_))) {
        Log() << "Shortcut::CraeteLink: failed to set icon path: " << icon_.FullPath() << End;
        Log() << "\twith icon number: " << iconIndex_ << End;
        ok = false;
    }
    if (ok) {
        std::u16string wide = zq::AnsiToWide(linkFile_.FullPath());
        ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
        if (ok) SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, folder_.Dir().c_str(), nullptr);
    }
    file->Release();
    link->Release();
    return ok;
}

}  // namespace postinst
