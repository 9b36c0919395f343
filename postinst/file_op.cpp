#include "postinst/file_op.h"

#include <cstdlib>

#include "base/clock.h"
#include "base/error.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/version.h"
#include "postinst/debug_log.h"
#include "postinst/inf.h"
#include "postinst/registry.h"

namespace postinst {

namespace {
std::vector<std::string> g_pendingRenameLines;
}

const std::vector<std::string>& PendingRenameLines() { return g_pendingRenameLines; }

namespace FileOp {

bool Exists(const PathObject& path) { return GetFileAttributesA(path.FullPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

bool DirExists(const PathObject& dir, bool create) {
    if (dir.Dir().empty()) return false;
    if (create && !MakePath(dir)) return false;
    DWORD a = GetFileAttributesA(dir.Dir().c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakePath(const PathObject& path) {
    const std::string d = path.Dir();
    char saved[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, saved);
    std::string root, rest;
    if (!d.empty() && d[0] == '\\') {
        size_t sep = d.find('\\', 2);
        if (sep == std::string::npos) return false;
        root = d.substr(0, sep + 1);
        rest = d.substr(sep + 1);
    } else if (d.size() >= 2 && d[1] == ':') {
        size_t n = (d.size() >= 3 && d[2] == '\\') ? 3 : 2;
        root = d.substr(0, n);
        rest = d.substr(n);
    } else {
        rest = d;
    }
    bool ok = true;
    while (!rest.empty()) {
        size_t sep = rest.find('\\');
        size_t take = sep == std::string::npos ? rest.size() : sep + 1;
        root += rest.substr(0, take);
        rest = rest.substr(take);
        if (SetCurrentDirectoryA(root.c_str())) continue;
        DWORD e = GetLastError();
        if (e != ERROR_PATH_NOT_FOUND && e != ERROR_FILE_NOT_FOUND) {
            Log() << "FileOp::MakePath: could not switch to directory " << root << " (Error code: " << e << ")" << End;
            ok = false;
            break;
        }
        if (!CreateDirectoryA(root.c_str(), nullptr)) {
            Log() << "FileOp::MakePath: tried to create directory " << root << " but failed.  (Error code: "
                  << GetLastError() << ")" << End;
            ok = false;
            break;
        }
    }
    SetCurrentDirectoryA(saved);
    return ok;
}

int IsNewerTime(const PathObject& a, const PathObject& b) {
    FILETIME times[2];
    const PathObject* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE h = CreateFileA(paths[i]->FullPath().c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Log() << "FileOp::IsNewerTime: could not get file time for " << paths[i]->FullPath() << End;
            return 0;
        }
        BOOL ok = GetFileTime(h, nullptr, nullptr, &times[i]);
        CloseHandle(h);
        if (!ok) return 0;
    }
    LONG c = CompareFileTime(&times[0], &times[1]);
    return c > 0 ? 1 : (c < 0 ? -1 : 0);
}

std::string GetFileVersion(const PathObject& path) {
    if (!path.HasName()) return "";
    std::string full = path.FullPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(full.c_str(), &handle);
    if (size == 0) return "";
    std::vector<uint8_t> block(size);
    if (!GetFileVersionInfoA(full.c_str(), handle, size, block.data())) return "";
    LPVOID p = nullptr;
    UINT n = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &p, &n) || n < 4) return "";
    auto* words = static_cast<const uint16_t*>(p);
    std::string query = Format("\\StringFileInfo\\%08lx\\FileVersion",
                               (static_cast<unsigned long>(words[0]) << 16) | words[1]);
    if (!VerQueryValueA(block.data(), query.c_str(), &p, &n)) return "";
    std::string version = static_cast<const char*>(p);
    ReplaceAll(version, ",", ".");
    return version;
}

int CompareVersions(const std::string& a, const std::string& b) {
    Tokenizer ta(a, '.', 0), tb(b, '.', 0);
    for (;;) {
        std::string x, y;
        bool hx = ta.NextToken(x), hy = tb.NextToken(y);
        if (!hx && !hy) return 0;
        if (!hx) return -1;
        if (!hy) return 1;
        int ix = std::atoi(x.c_str()), iy = std::atoi(y.c_str());
        if (ix != iy) return ix > iy ? 1 : -1;
    }
}

bool isNewer(const PathObject& source, const PathObject& destination) {
    int c = CompareVersions(GetFileVersion(source), GetFileVersion(destination));
    return c > 0 || (c == 0 && IsNewerTime(source, destination) > 0);
}

bool NeedsCopy(const PathObject& source, const PathObject& destination, int flags) {
    if (!(flags & (kVersionsDiffer | kTimesDiffer))) return true;
    if (!Exists(destination)) return true;
    if ((flags & kVersionsDiffer) && CompareVersions(GetFileVersion(source), GetFileVersion(destination)) != 0)
        return true;
    if ((flags & kTimesDiffer) && IsNewerTime(source, destination) != 0) return true;
    return false;
}

bool CopyIntoPlace(const std::string& source, const std::string& destination) {
    PathObject dest(destination);
    PathObject temp = get_temp_name(dest);
    if (temp.Empty()) return false;
    if (!CopyFileA(source.c_str(), temp.FullPath().c_str(), FALSE) ||
        !MoveFileExA(temp.FullPath().c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD e = GetLastError();
        DeleteFileA(temp.FullPath().c_str());
        SetLastError(e);
        return false;
    }
    return true;
}

bool Copy(const PathObject& source, const PathObject& destination, int flags) {
    if (!NeedsCopy(source, destination, flags)) return true;
    const std::string src = source.FullPath(), dst = destination.FullPath();
    if (CopyIntoPlace(src, dst)) return true;
    DWORD e = GetLastError();
    bool inUse = e == ERROR_LOCK_VIOLATION || (e == ERROR_SHARING_VIOLATION && (flags & kSharingIsInUse));
    if (!inUse) {
        Log() << "FileOp::Copy: CopyFile failed with code " << e << End;
        return false;
    }
    if ((flags & kRecheck) && !NeedsCopy(source, destination, kVersionsDiffer | kTimesDiffer)) return true;
    Log() << "FileOp::Copy: destination file " << dst << " is in use.  Trying to rename it..." << End;
    PathObject temp = get_temp_name(destination);
    DeleteFileA(temp.FullPath().c_str());
    if (!temp.Empty() && MoveFileA(dst.c_str(), temp.FullPath().c_str())) {
        if (CopyIntoPlace(src, dst)) {
            removeFile(temp, 0);
            return true;
        }
        Log() << "FileOp::Copy: second CopyFile try failed with code " << GetLastError() << End;
        // The old file goes back where it was; the copy goes in at restart.
        MoveFileA(temp.FullPath().c_str(), dst.c_str());
    }
    temp = get_temp_name(destination);
    Log() << "FileOp::Copy: that sucker just won't budge.  Replacing " << dst << " with " << temp.FullPath()
          << " after reboot." << End;
    if (!temp.Empty() && CopyFileA(src.c_str(), temp.FullPath().c_str(), FALSE)) {
        if (!replaceOnReboot(temp.FullPath(), &dst)) {
            DeleteFileA(temp.FullPath().c_str());
            return false;
        }
        Log() << "! Reboot Required: To replace locked file. Inside FileOp::Copy." << End;
        return true;
    }
    Log() << "FileOp::Copy: third CopyFile try failed with code " << GetLastError() << End;
    return false;
}

bool Remove(const PathObject& path, int flags) {
    if (path.HasName()) return removeFile(path, flags);
    if (!path.Dir().empty()) return deleteDir(path);
    Log() << "FileOp::Remove: nothin' from nothin' leaves nothin'!" << End;
    return false;
}

bool removeFile(const PathObject& path, int flags) {
    const std::string full = path.FullPath();
    DWORD a = GetFileAttributesA(full.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(full.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    if (!(flags & kOnlyAtReboot)) {
        if (DeleteFileA(full.c_str())) return true;
        DWORD e = GetLastError();
        if ((flags & kNeverAtReboot) || e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return false;
    }
    return replaceOnReboot(full, nullptr);
}

bool replaceOnReboot(const std::string& oldPath, const std::string* newPath) {
    if (oldPath.empty()) return false;
    Log() << "Attempting to move " << oldPath << " to " << (newPath ? *newPath : std::string("NULL")) << " on reboot."
          << End;
    // The restart must replace an existing file, so the move says so.
    DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (newPath ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(oldPath.c_str(), newPath ? newPath->c_str() : nullptr, flags)) {
        Log() << "! Reboot Required: To replace locked file. Inside FileOp::replaceOnReboot; MoveFileEx call." << End;
        return true;
    }
    PathObject old(oldPath);
    if (old.HasName() || old.Dir().empty()) {
        Log() << " file : " << oldPath << " is a file" << End;
        char shortOld[250] = {}, shortNew[250] = {};
        if (!GetShortPathNameA(oldPath.c_str(), shortOld, sizeof shortOld)) lstrcpynA(shortOld, oldPath.c_str(), 250);
        if (newPath) {
            if (!GetShortPathNameA(newPath->c_str(), shortNew, sizeof shortNew))
                lstrcpynA(shortNew, newPath->c_str(), 250);
        } else {
            lstrcpynA(shortNew, "NUL", 250);
        }
        std::string line = std::string(shortNew) + "=" + shortOld;
        Log() << line << End;
        bool known = false;
        for (const auto& l : g_pendingRenameLines) known = known || EqualsNoCase(l, line);
        if (!known) g_pendingRenameLines.push_back(line);
        // Lines kept in memory are never carried out: the replacement did
        // not get scheduled, and the caller must know.
        return false;
    }
    Log() << " file : " << oldPath << " is a dir" << End;
    addToRebootBatFile(old.Dir());
    Log() << "! Reboot Required: To replace locked file. Inside FileOp::replaceOnReboot; wininit.ini change." << End;
    return true;
}

}  // namespace FileOp

PathObject get_temp_name(const PathObject& dir) {
    char name[MAX_PATH] = {};
    if (GetTempFileNameA(dir.Dir().c_str(), "tmp", 0, name) == 0) {
        Log() << "get_temp_name: GetTempFileName in directory " << dir.Dir() << " failed with code " << GetLastError()
              << End;
        return PathObject();
    }
    return PathObject(name);
}

bool deleteDir(const PathObject& dir) {
    if (RemoveDirectoryA(dir.Dir().c_str())) return true;
    if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) return false;
    return FileOp::replaceOnReboot(dir.Dir() + "\\", nullptr);
}

bool WipeOutDirectory(const PathObject& dir) {
    if (dir.HasName() || dir.Dir().empty()) {
        Log() << "WipeOutDirectory: the parameter must be a directory!  Passed: " << dir.FullPath() << End;
        return false;
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir.Dir() + "\\*.*").c_str(), &data);
    std::vector<std::pair<std::string, bool>> entries;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string n = data.cFileName;
            if (n == "." || n == "..") continue;
            // A link goes as itself, never followed into what it names.
            const DWORD a = data.dwFileAttributes;
            entries.emplace_back(dir.Dir() + "\\" + n,
                                 (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT));
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    for (auto& [path, isDir] : entries) {
        PathObject p;
        if (isDir) {
            p.SetDir(path);
            WipeOutDirectory(p);
        } else {
            FileOp::Remove(PathObject(path), 0);
        }
    }
    FileOp::Remove(dir, 0);
    return true;
}

void addToRebootBatFile(const std::string& dir) {
    PathObject batch = SystemPath(18);
    batch.SetName("unsttmp0.bat");
    std::vector<std::string> lines;
    {
        TextFile in;
        if (FileOp::Exists(batch) && in.Open(batch.FullPath(), TextFile::kRead, 1)) {
            std::string l;
            while (in.ReadString(l)) lines.push_back(l);
            if (!lines.empty() && lines.back().find("del") != std::string::npos) lines.pop_back();
        }
    }
    lines.push_back(Format("rmdir \"%s\"", dir.c_str()));
    lines.push_back(Format("del \"%s\"", batch.FullPath().c_str()));
    TextFile out;
    if (!out.Open(batch.FullPath(), TextFile::kWrite, 1)) {
        Log() << "addToRebootBatFile: file " << batch.FullPath() << " could not be saved!" << End;
        return;
    }
    for (auto& l : lines) out.WriteString(l + "\n");
    out.Close();
    PathObject command = SystemPath(19);
    command.SetName("command.com");
    RegistryValue v;
    v.kind = RegistryValue::kString;
    v.text = command.FullPath() + " /C \"" + batch.FullPath() + "\"";
    Registry reg;
    const char* runOnce = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    reg.CreateKey("HKLM", runOnce, false);
    reg.WriteValue("HKLM", runOnce, "ZelTmpDelBat", v);
}

}  // namespace postinst
