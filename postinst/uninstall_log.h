// The package's record of installed components, "ZelFiles.ulf" in the
// system directory: a tree of components under "Install", each with its
// item sections; shared components count the installations that use them.
// OldUnstLog reads the two older forms and converts them.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "postinst/ini_file.h"

namespace postinst {

class UninstallLog : public IniFile {
public:
    // With load set, the log reads its file and the older forms at once.
    explicit UninstallLog(bool load = false, const std::string& qualifier = "No_OEM");

    const std::string& Qualifier() const { return qualifier_; }
    void SetQualifier(const std::string& q) { qualifier_ = q; }
    void SetDefaultComponent(const std::string& c) { defaultComponent_ = c; }
    void SetDeleteOnSave(bool on) { deleteOnSave_ = on; }

    bool IsShared(const std::string& component);
    std::string getSection(int type, const std::string& component);
    IniSection* itemSection(int type, const std::string& component, bool create);
    void GetItems(int type, const std::string& component, std::set<std::string, IniKeyLess>& out);

    std::string GetSpecial(const std::string& component, const std::string& key);
    void SetSpecial(const std::string& component, const std::string& key, const std::string& value);
    void AddToList(const std::string& component, const std::string& key, const std::string& item);
    void RemoveFromList(const std::string& component, const std::string& key, const std::string& item);
    bool IsInList(const std::string& component, const std::string& key, const std::string& item);

    void GetChildren(const std::string& component, bool all, std::vector<std::string>& out);
    std::string FindParent(const std::string& component);
    bool AddComponent(const std::string& component, const std::string& parent, bool shared);
    bool RemoveComponent(const std::string& component, bool shared);
    bool ChangeComponent(const std::string& component, const std::string& oldParent, const std::string& newParent,
                         bool shared, bool removeEmptyParent);

    bool Load(bool convertRegistry, bool deleteOldForms);
    bool Save();

private:
    std::string Component(const std::string& c) const { return c.empty() ? defaultComponent_ : c; }
    std::string Qualified(const std::string& name, bool shared) const;
    std::string ChildKey(const std::string& component);
    void DropSections(const std::string& component);

    std::string qualifier_;
    std::string defaultComponent_;
    bool deleteOnSave_ = false;
};

// The older forms of the record: "ZelFiles.usr", and the registry key
// "Software\Zelquor\UnstLog" with "Zelfiles.log".
class OldUnstLog : public IniFile {
public:
    explicit OldUnstLog(const std::string& qualifier) : qualifier_(qualifier) {}
    bool ReadFromRegistry();
    // Renames the old component names and marks the children of "Install".
    void Restructure();
    void convert(UninstallLog& log);
    std::string MapName(const std::string& name) const;

private:
    void convertSection(const IniSection& section, UninstallLog& log);
    std::string qualifier_;
};

// The engine's one log, made at start-up in the mode that loads nothing.
UninstallLog& ProcessUninstallLog();

}  // namespace postinst
