// INI files: the in-memory document and its sections, the streaming edit of
// one key, and the INF action that applies such edits to files of the
// system.
#include "postinst/ini_file.h"

#include <cstdlib>

#include "base/error.h"
#include "base/files.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"

namespace postinst {

namespace {

// "name=value" as an INI line holds it: split at the first "=", the name
// trimmed at its end, the value at both ends and stripped of one pair of
// enclosing double quotes. A line that starts with "=" does not split.
bool SplitIniLine(const std::string& line, std::string& name, std::string& value) {
    size_t eq = line.find('=');
    if (eq == 0) return false;
    if (eq == std::string::npos) {
        name = TrimRight(line);
        value.clear();
        return true;
    }
    name = TrimRight(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return true;
}

bool IsSectionHeader(std::string_view line) { return line.size() >= 2 && line.front() == '[' && line.back() == ']'; }

// Writes through a temporary file in the destination's folder renamed over
// it, so that a failure leaves the destination as it was.
class ReplacingWriter {
public:
    explicit ReplacingWriter(const std::string& destination) : destination_(destination) {}
    ~ReplacingWriter() {
        out_.Close();
        if (!temp_.empty() && !committed_) DeleteFileA(temp_.c_str());
    }
    bool Open(int encoding) {
        PathObject temp = get_temp_name(PathObject(destination_));
        if (temp.Empty()) return false;
        temp_ = temp.FullPath();
        return out_.Open(temp_, TextFile::kWrite, encoding);
    }
    const std::string& TempName() const { return temp_; }
    // Whole lines gather into a block written at once, so that the file is
    // not written a line at a time.
    void Write(std::string_view text) {
        pending_ += text;
        if (pending_.size() >= kBlock) Flush();
    }
    bool Failed() const { return failed_; }
    bool Commit() {
        Flush();
        out_.Close();
        if (failed_ || !MoveFileExA(temp_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
        committed_ = true;
        return true;
    }

private:
    static constexpr size_t kBlock = 1 << 16;
    void Flush() {
        if (!pending_.empty() && !out_.WriteString(pending_)) failed_ = true;
        pending_.clear();
    }
    std::string destination_, temp_, pending_;
    TextFile out_;
    bool failed_ = false, committed_ = false;
};

}  // namespace

// ---------------------------------------------------------------- sections

bool IniSection::GetValue(const std::string& key, std::string& value) const {
    auto it = values_.find(key);
    if (it == values_.end()) return false;
    value = it->second;
    return true;
}

void IniSection::SetValue(const std::string& key, const std::string& value) {
    auto it = values_.find(key);
    if (it == values_.end()) {
        order_.push_back(key);
        values_.emplace(key, value);
    } else {
        it->second = value;
    }
}

void IniSection::RemoveValue(const std::string& key) {
    values_.erase(key);
    for (auto it = order_.begin(); it != order_.end(); ++it)
        if (EqualsNoCase(*it, key)) {
            order_.erase(it);
            break;
        }
}

bool IniSection::Reset() {
    cursor_ = 0;
    return !order_.empty();
}

bool IniSection::GetCurrentValue(std::string& key, std::string& value) const {
    if (cursor_ >= order_.size()) return false;
    key = order_[cursor_];
    if (!GetValue(key, value)) {
        Log() << "IniSection::GetCurrentValue: internal breakdown on item " << key << End;
        return false;
    }
    return true;
}

void IniSection::Merge(const IniSection& other, bool overwrite) {
    for (const auto& [key, value] : other.values_)
        if (overwrite || values_.find(key) == values_.end()) SetValue(key, value);
}

// ---------------------------------------------------------------- files

IniSection* IniFile::FindSection(const std::string& name) const {
    for (const auto& s : sections_)
        if (EqualsNoCase(s->Name(), name)) return s.get();
    return nullptr;
}

IniSection* IniFile::GetSection(const std::string& name) {
    if (IniSection* s = FindSection(name)) return s;
    sections_.push_back(std::make_unique<IniSection>(name));
    return sections_.back().get();
}

std::unique_ptr<IniSection> IniFile::RemoveSection(const std::string& name, bool keep) {
    for (auto it = sections_.begin(); it != sections_.end(); ++it)
        if (EqualsNoCase((*it)->Name(), name)) {
            std::unique_ptr<IniSection> taken = std::move(*it);
            sections_.erase(it);
            if (keep) return taken;
            return nullptr;
        }
    return nullptr;
}

void IniFile::AddSection(std::unique_ptr<IniSection> section) {
    if (section) sections_.push_back(std::move(section));
}

void IniFile::SetValue(const std::string& section, const std::string& key, const std::string& value) {
    if (section.empty()) {
        Log() << "IniFile::SetValue: section name cannot be empty" << End;
        return;
    }
    if (key.empty()) {
        Log() << "IniFile::SetValue: value name cannot be empty" << End;
        return;
    }
    GetSection(section)->SetValue(key, value);
}

bool IniFile::Read(const std::string& path) {
    TextFile in;
    if (!in.Open(path, TextFile::kRead, 0)) return false;
    fileName_ = path;
    IniSection* current = nullptr;
    int rawCounter = 0;
    std::string raw;
    for (int n = 1; in.ReadString(raw); ++n) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (IsSectionHeader(line)) {
            std::string name = Trim(line.substr(1, line.size() - 2));
            if (name.empty()) {
                Log() << "IniFile::Read " << fileName_ << " [line " << n << "]: Empty section" << End;
            } else {
                current = GetSection(name);
                rawCounter = 0;
            }
            continue;
        }
        if (!current) {
            Log() << "IniFile::Read " << fileName_ << " [line " << n
                  << "]: Data found that does not belong to any section" << End;
            continue;
        }
        std::string name, value;
        if (!SplitIniLine(line, name, value)) {
            Log() << "IniFile::Read " << fileName_ << " [line " << n << "]: Could not parse name=value line" << End;
            continue;
        }
        if (raw_ && value.empty()) {
            value = name;
            name = Format("KEY#%03d", ++rawCounter);
        }
        current->SetValue(name, value);
    }
    encoding_ = in.Encoding() ? in.Encoding() : 1;
    return true;
}

bool IniFile::Write(const std::string& path) {
    std::string target = path.empty() ? fileName_ : path;
    if (target.empty()) {
        Log() << "IniFile::Write: empty file name!" << End;
        return false;
    }
    ReplacingWriter out(target);
    if (!out.Open(encoding_)) {
        Log() << "IniFile::Write: Failed to open " << target << " for writing." << End;
        return false;
    }
    for (const auto& s : sections_) {
        out.Write(Format("[%s]\n", s->Name().c_str()));
        for (const auto& key : s->Keys()) {
            std::string value;
            if (!s->GetValue(key, value)) continue;
            if (raw_ && key.find('#') != std::string::npos)
                out.Write(value + "\n");
            else
                out.Write(key + "=" + value + "\n");
        }
        out.Write("\n");
    }
    if (!out.Commit()) {
        Log() << "IniFile::Write: Failed to open " << target << " for writing." << End;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- quick write

bool QuickWriteIniString(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& value, int mode) {
    if (file.empty() || section.empty() || key.empty()) return false;
    TextFile in;
    if (!in.Open(file, TextFile::kRead, 0)) {
        Log() << "quick_write_helper: could not open file " << file << " for reading." << End;
        return false;
    }
    ReplacingWriter out(file);
    if (!out.Open(in.Encoding())) {
        Log() << "quick_write_helper: could not open file " << out.TempName() << " for writing." << End;
        return false;
    }
    // One line at a time, copied through views of it: the edit should cost
    // little more than copying the file.
    std::string current, raw, name, lineValue;
    bool done = false;
    auto copy = [&](std::string_view line) { out.Write(line), out.Write("\n"); };
    auto entry = [&](std::string_view name) { out.Write(name), out.Write("="), out.Write(value), out.Write("\n"); };
    while (in.ReadString(raw)) {
        const std::string_view line = TrimView(raw);
        if (done || line.empty() || line[0] == '#' || line[0] == ';') {
            copy(line);
            continue;
        }
        if (IsSectionHeader(line)) {
            if (mode == 1 && EqualsNoCase(current, section)) {
                entry(key);
                done = true;
            }
            current = line.substr(1, line.size() - 2);
            copy(line);
            continue;
        }
        if (!EqualsNoCase(current, section) || !SplitIniLine(std::string(line), name, lineValue) ||
            !EqualsNoCase(name, key)) {
            copy(line);
            continue;
        }
        if (mode == 1)
            entry(name);
        else if (!value.empty() && !EqualsNoCase(lineValue, value))
            copy(line);
        done = true;
    }
    in.Close();
    if (mode == 1 && !done) {
        if (!EqualsNoCase(current, section)) out.Write("[" + section + "]\n");
        entry(key);
    }
    std::string temp = out.TempName();
    if (!out.Commit()) {
        Log() << "quick_write_helper: could not copy temp file to destination (error " << GetLastError() << ")."
              << End;
        Log() << "\tTemp file: " << temp << "\nDestination: " << file << End;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- INF action

bool UpdateIniInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        Log() << "UpdateIniInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    std::string file = Expand(args[0]), section = Expand(args[1]);
    std::string remove = Expand(args[2]), set = args.size() > 3 ? Expand(args[3]) : "";
    // Split at the first "=" only: a value may hold "=" of its own.
    auto split = [](const std::string& text, std::string& key, std::string& value) {
        size_t eq = text.find('=');
        key = text.substr(0, eq);
        value = eq == std::string::npos ? "" : text.substr(eq + 1);
    };
    bool result = false;
    if (!remove.empty()) {
        std::string key, value;
        split(remove, key, value);
        QuickWriteIniString(file, section, key, value, 2);
        result = true;
    }
    if (!set.empty()) {
        std::string key, value;
        split(set, key, value);
        if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            TextFile created;
            if (created.Open(file, TextFile::kWrite, 1)) created.Close();
        }
        result = QuickWriteIniString(file, section, key, value, 1);
        if (!result) {
            Log() << "UpdateIniInfo::HandleCommand: QuickWriteIniString failed." << End;
            Log() << "\tFile = " << file << End;
            Log() << "\tSection = " << section << End;
            Log() << "\tKey Name = " << key << End;
            Log() << "\tValue = " << value << End;
        }
    }
    return result;
}

}  // namespace postinst
