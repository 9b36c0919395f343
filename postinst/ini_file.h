// INI documents: a whole file in memory (IniFile, IniSection), and the quick
// edit of one key of a file that streams it line by line.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "postinst/text.h"

namespace postinst {

// Key comparison of INI names: case ignored.
struct IniKeyLess {
    bool operator()(const std::string& a, const std::string& b) const { return CompareNoCase(a, b) < 0; }
};

class IniSection {
public:
    explicit IniSection(std::string name) : name_(std::move(name)) {}
    const std::string& Name() const { return name_; }
    bool GetValue(const std::string& key, std::string& value) const;
    void SetValue(const std::string& key, const std::string& value);
    void RemoveValue(const std::string& key);
    bool Reset();
    void Next() { ++cursor_; }
    bool GetCurrentValue(std::string& key, std::string& value) const;
    void Merge(const IniSection& other, bool overwrite);
    const std::vector<std::string>& Keys() const { return order_; }
    bool Empty() const { return values_.empty(); }

private:
    std::string name_;
    std::vector<std::string> order_;
    std::map<std::string, std::string, IniKeyLess> values_;
    size_t cursor_ = 0;
};

class IniFile {
public:
    explicit IniFile(bool rawLines = false) : raw_(rawLines) {}
    virtual ~IniFile() = default;
    bool Read(const std::string& path);
    bool Write(const std::string& path = "");
    IniSection* GetSection(const std::string& name);
    IniSection* FindSection(const std::string& name) const;
    // Takes the section out; with keep the caller owns it, else it goes.
    std::unique_ptr<IniSection> RemoveSection(const std::string& name, bool keep);
    void AddSection(std::unique_ptr<IniSection> section);
    void SetValue(const std::string& section, const std::string& key, const std::string& value);
    const std::vector<std::unique_ptr<IniSection>>& Sections() const { return sections_; }
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }
    int Encoding() const { return encoding_; }
    void SetEncoding(int encoding) { encoding_ = encoding; }

private:
    std::string fileName_;
    std::vector<std::unique_ptr<IniSection>> sections_;
    bool raw_;
    int encoding_ = 1;
};

// Mode 1 sets the key to the value, mode 2 deletes it (only where the file
// holds that value, when one is given).
bool QuickWriteIniString(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& value, int mode);

}  // namespace postinst
