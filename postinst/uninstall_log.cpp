// The uninstall log: components, shared components and their installers,
// item sections, and the conversion of the older forms of the record.
#include "postinst/uninstall_log.h"

#include <cstdlib>
#include <deque>
#include <memory>

#include "base/files.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/inf.h"
#include "postinst/registry.h"
#include "store/registry.h"

namespace postinst {

namespace {

constexpr const char* kRoot = "Install";

struct ItemType {
    const char* suffix;
    int filter;  // 0: none
};
constexpr ItemType kItemTypes[] = {{"", 0},       {"_Files", 1}, {"_Files", 2}, {"_Reg", 1},   {"_Reg", 2},
                                   {"_Start", 1}, {"_Start", 2}, {"_Special", 0}, {"_Service", 1}};

std::string SystemFile(const char* name) {
    PathObject p = SystemPath(15);
    p.SetName(name);
    return p.FullPath();
}

bool FileThere(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The maker's older component names and their names now.
struct Rename {
    const char* from;
    const char* to;
};
constexpr Rename kRenames[] = {
    {"KovrantUtility", "Kovrant"},
    {"ZelDriverSet", "Drivers"},
    {"ZelUninst", "Uninstaller"},
};
// Old names that belonged to one installation: they gain its qualifier.
constexpr const char* kQualifiedPrefixes[] = {"Driver ", "Printer "};

}  // namespace

UninstallLog& ProcessUninstallLog() {
    static UninstallLog log(false);
    return log;
}

UninstallLog::UninstallLog(bool load, const std::string& qualifier) : IniFile(false), qualifier_(qualifier) {
    SetFileName(SystemFile("ZelFiles.ulf"));
    if (load) Load(false, false);
}

std::string UninstallLog::Qualified(const std::string& name, bool shared) const {
    return shared || qualifier_.empty() ? name : name + "," + qualifier_;
}

bool UninstallLog::IsShared(const std::string& component) {
    std::string c = Component(component);
    if (EqualsNoCase(c, kRoot)) return true;
    IniSection* special = FindSection(c + "_Special");
    std::string value;
    return special && special->GetValue("Shared", value) && std::atoi(value.c_str()) == 1;
}

std::string UninstallLog::getSection(int type, const std::string& component) {
    if (type < 0 || type > 8) {
        Log() << "UninstallLog::getSection: invalid item type " << type << End;
        return "";
    }
    std::string c = Component(component);
    return Qualified(c + kItemTypes[type].suffix, IsShared(c));
}

IniSection* UninstallLog::itemSection(int type, const std::string& component, bool create) {
    std::string name = getSection(type, component);
    if (name.empty()) return nullptr;
    return create ? GetSection(name) : FindSection(name);
}

void UninstallLog::GetItems(int type, const std::string& component, std::set<std::string, IniKeyLess>& out) {
    IniSection* s = itemSection(type, component, false);
    if (!s) return;
    int filter = type >= 0 && type <= 8 ? kItemTypes[type].filter : 0;
    std::string value;
    for (const auto& key : s->Keys())
        if (s->GetValue(key, value) && (filter == 0 || std::atoi(value.c_str()) == filter)) out.insert(key);
}

std::string UninstallLog::GetSpecial(const std::string& component, const std::string& key) {
    std::string value;
    if (IniSection* s = itemSection(7, component, false)) s->GetValue(key, value);
    return value;
}

void UninstallLog::SetSpecial(const std::string& component, const std::string& key, const std::string& value) {
    if (IniSection* s = itemSection(7, component, true)) s->SetValue(key, value);
}

void UninstallLog::AddToList(const std::string& component, const std::string& key, const std::string& item) {
    if (IsInList(component, key, item)) return;
    std::string list = GetSpecial(component, key);
    if (!list.empty() && list.back() != ',') list += ",";
    SetSpecial(component, key, list + item);
}

void UninstallLog::RemoveFromList(const std::string& component, const std::string& key, const std::string& item) {
    std::string list = GetSpecial(component, key), rebuilt;
    for (const auto& entry : Tokenizer(list, ',', 0).AllTokens()) {
        if (entry.empty() || EqualsNoCase(entry, item)) continue;
        rebuilt += (rebuilt.empty() ? "" : ",") + entry;
    }
    if (rebuilt != list) SetSpecial(component, key, rebuilt);
}

bool UninstallLog::IsInList(const std::string& component, const std::string& key, const std::string& item) {
    for (const auto& entry : Tokenizer(GetSpecial(component, key), ',', 0).AllTokens())
        if (EqualsNoCase(entry, item)) return true;
    return false;
}

void UninstallLog::GetChildren(const std::string& component, bool all, std::vector<std::string>& out) {
    std::string c = Component(component);
    IniSection* s = FindSection(Qualified(c, IsShared(c)));
    if (!s) return;
    for (const auto& key : s->Keys()) {
        size_t comma = key.find(',');
        if (comma == std::string::npos) {
            if (all || IsInList(key, "InstalledBy", qualifier_)) out.push_back(key);
        } else if (all || EqualsNoCase(key.substr(comma + 1), qualifier_)) {
            out.push_back(key.substr(0, comma));
        }
    }
}

std::string UninstallLog::FindParent(const std::string& component) {
    std::string c = Component(component);
    std::deque<std::string> queue{kRoot};
    std::set<std::string, IniKeyLess> seen{kRoot};
    while (!queue.empty()) {
        std::string parent = queue.front();
        queue.pop_front();
        std::vector<std::string> children;
        GetChildren(parent, true, children);
        for (const auto& child : children)
            if (EqualsNoCase(child, c)) return parent;
        // A tree written by hand may loop: each component is walked once.
        for (const auto& child : children)
            if (seen.insert(child).second) queue.push_back(child);
    }
    return "";
}

std::string UninstallLog::ChildKey(const std::string& component) {
    return Qualified(component, IsShared(component));
}

bool UninstallLog::AddComponent(const std::string& component, const std::string& parent, bool shared) {
    std::string c = Component(component);
    if (EqualsNoCase(c, parent)) {
        Log() << "UninstallLog::AddComponent: " << c << ": cannot be the same as its parent" << End;
        return false;
    }
    if (parent.empty()) return true;
    IniSection* parentSection = GetSection(Qualified(parent, IsShared(parent)));
    if (!parentSection) {
        Log() << "UninstallLog::AddComponent: could not load or create parent section " << parent << End;
        return false;
    }
    if (shared) {
        // Marked first, so that the special section is the shared one.
        GetSection(c + "_Special")->SetValue("Shared", "1");
        AddToList(c, "InstalledBy", qualifier_);
    } else if (IsShared(c)) {
        // The special section of a shared component is unqualified.
        if (IniSection* special = FindSection(c + "_Special")) special->SetValue("Shared", "0");
    }
    parentSection->SetValue(ChildKey(c), "1");
    return true;
}

void UninstallLog::DropSections(const std::string& component) {
    std::vector<std::string> children;
    GetChildren(component, false, children);
    for (const auto& child : children)
        if (!IsShared(child)) DropSections(child);
    std::vector<std::string> names;
    for (const auto& s : Sections()) {
        std::string name = s->Name(), base = name.substr(0, name.find(','));
        size_t underscore = base.rfind('_');
        std::string owner = underscore == std::string::npos ? base : base.substr(0, underscore);
        if (EqualsNoCase(base, component) || EqualsNoCase(owner, component)) names.push_back(name);
    }
    for (const auto& n : names) RemoveSection(n, false);
}

bool UninstallLog::RemoveComponent(const std::string& component, bool shared) {
    std::string c = Component(component);
    Log() << "- Component: " << c << End;
    if (shared) {
        RemoveFromList(c, "InstalledBy", qualifier_);
        return true;
    }
    std::string parent = FindParent(c);
    if (!parent.empty())
        if (IniSection* s = FindSection(Qualified(parent, IsShared(parent)))) s->RemoveValue(ChildKey(c));
    if (!FindSection(kRoot)) return false;
    DropSections(c);
    return true;
}

bool UninstallLog::ChangeComponent(const std::string& component, const std::string& oldParent,
                                   const std::string& newParent, bool shared, bool removeEmptyParent) {
    std::string c = Component(component);
    IniSection* old = FindSection(Qualified(oldParent, IsShared(oldParent)));
    std::string key = ChildKey(c), value;
    if (!old || !old->GetValue(key, value)) return false;
    old->RemoveValue(key);
    if (removeEmptyParent && old->Empty()) {
        Log() << "UninstallLog::ChangeComponent: need to remove " << oldParent << End;
        RemoveComponent(oldParent, false);
    }
    return AddComponent(c, newParent, shared);
}

bool UninstallLog::Load(bool convertRegistry, bool deleteOldForms) {
    std::string file = SystemFile("ZelFiles.ulf");
    if (FileThere(file)) Read(file);
    SetFileName(file);
    std::string usr = SystemFile("ZelFiles.usr");
    if (FileThere(usr)) {
        OldUnstLog old(qualifier_);
        if (old.Read(usr)) {
            old.Restructure();
            old.convert(*this);
        }
    }
    if (convertRegistry) {
        OldUnstLog old(qualifier_);
        old.ReadFromRegistry();
        std::string logFile = SystemFile("Zelfiles.log");
        if (FileThere(logFile)) old.Read(logFile);
        old.Restructure();
        old.convert(*this);
        if (deleteOldForms) {
            Registry().DeleteKey("HKLM", "Software\\Zelquor\\UnstLog");
            DeleteFileA(logFile.c_str());
        }
    }
    // The fix-up table: the maker's tools moved from "Tools" to the root.
    ChangeComponent("Kovrant", "Tools", kRoot, true, true);
    if (deleteOldForms) {
        Save();
        DeleteFileA(usr.c_str());
    }
    return true;
}

bool UninstallLog::Save() {
    std::string file = SystemFile("ZelFiles.ulf");
    if (deleteOnSave_) return DeleteFileA(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    return Write(file);
}

// ---------------------------------------------------------------- older forms

bool OldUnstLog::ReadFromRegistry() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zelquor\\UnstLog", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0;; ++i) {
        char name[1025] = {};
        DWORD nameSize = sizeof name - 1;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY sub = nullptr;
        LONG rc = RegOpenKeyExA(key, name, 0, KEY_READ, &sub);
        if (rc != ERROR_SUCCESS) {
            Log() << "OldUnstLog::ReadFromRegistry: RegOpenKeyEx of subkey " << name << " failed with code " << rc
                  << End;
            continue;
        }
        std::string section = MapName(name);
        for (DWORD j = 0;; ++j) {
            char value[1025] = {};
            BYTE data[1025] = {};
            DWORD valueSize = sizeof value - 1, dataSize = sizeof data - 1, type = 0;
            if (RegEnumValueA(sub, j, value, &valueSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
            std::string trimmed = Trim(value);
            if (type != REG_SZ || trimmed.empty()) continue;
            SetValue(section, trimmed, std::string(reinterpret_cast<char*>(data)));
        }
        RegCloseKey(sub);
    }
    RegCloseKey(key);
    return true;
}

std::string OldUnstLog::MapName(const std::string& name) const {
    std::string base = name, suffix;
    // The item suffix stays; the component name before it is renamed.
    for (const char* s : {"_Files", "_Reg", "_Start", "_Special", "_Service"}) {
        std::string sfx(s);
        if (base.size() > sfx.size() && EqualsNoCase(base.substr(base.size() - sfx.size()), sfx)) {
            suffix = base.substr(base.size() - sfx.size());
            base = base.substr(0, base.size() - sfx.size());
            break;
        }
    }
    for (const auto& r : kRenames)
        if (EqualsNoCase(base, r.from)) base = r.to;
    if (base.find(',') == std::string::npos && !qualifier_.empty())
        for (const char* prefix : kQualifiedPrefixes)
            if (CompareNoCase(base.substr(0, std::string(prefix).size()), prefix) == 0) return base + suffix + "," + qualifier_;
    return base + suffix;
}

void OldUnstLog::Restructure() {
    // The old names, of sections and of the child keys of component
    // sections, become the names now.
    std::vector<std::unique_ptr<IniSection>> renamed;
    while (!Sections().empty()) {
        std::string name = Sections().front()->Name();
        std::unique_ptr<IniSection> old = RemoveSection(name, true);
        auto now = std::make_unique<IniSection>(MapName(name));
        bool component = now->Name().find('_') == std::string::npos;
        std::string key, value;
        for (bool more = old->Reset(); more && old->GetCurrentValue(key, value); old->Next())
            now->SetValue(component ? MapName(key) : key, value);
        renamed.push_back(std::move(now));
    }
    for (auto& s : renamed) {
        if (IniSection* there = FindSection(s->Name()))
            there->Merge(*s, false);
        else
            AddSection(std::move(s));
    }
    // Every child of "Install" written without an installation is shared by
    // this one, and so is everything below it.
    std::vector<std::string> queue;
    if (IniSection* root = FindSection(kRoot)) {
        std::string value;
        for (const auto& key : root->Keys())
            if (key.find(',') == std::string::npos && root->GetValue(key, value) && value == "1")
                queue.push_back(key);
    }
    std::set<std::string, IniKeyLess> seen;
    while (!queue.empty()) {
        std::string c = queue.back();
        queue.pop_back();
        if (!seen.insert(c).second) continue;
        SetValue(c + "_Special", "Shared", "1");
        SetValue(c + "_Special", "InstalledBy", qualifier_);
        if (IniSection* s = FindSection(c))
            for (const auto& key : s->Keys())
                if (key.find(',') == std::string::npos) queue.push_back(key);
    }
}

void OldUnstLog::convertSection(const IniSection& section, UninstallLog& log) {
    std::string name = MapName(section.Name());
    if (EqualsNoCase(name, "DriverList_Special")) {
        std::string key, value;
        IniSection copy = section;
        for (bool more = copy.Reset(); more && copy.GetCurrentValue(key, value); copy.Next()) {
            if (EqualsNoCase(value, "Generic")) value = "OEM";
            std::string target = Format("DriverList_Special,%s_HostCD", value.c_str());
            IniSection* s = log.GetSection(target);
            if (!s) {
                Log() << "OldUnstLog::convert: could not create or find section: " << target << End;
                continue;
            }
            s->SetValue(key, "1");
        }
        return;
    }
    log.GetSection(name)->Merge(section, false);
}

void OldUnstLog::convert(UninstallLog& log) {
    for (const auto& s : Sections()) convertSection(*s, log);
}

}  // namespace postinst
