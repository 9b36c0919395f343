#include "postinst/inf.h"

#include <cstdio>

#include "base/loader.h"
#include "base/locale.h"
#include "base/paths.h"
#include "postinst/debug_log.h"
#include "postinst/language_tables.h"
#include "postinst/registry.h"
#include "store/spooler.h"

namespace postinst {

void InfFile::AddLine(std::string_view raw) {
    std::string line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        auto s = std::make_unique<InfSection>();
        s->name = line.substr(1, line.size() - 2);
        sections_.push_back(std::move(s));
        return;
    }
    if (!sections_.empty()) sections_.back()->lines.push_back(std::move(line));
}

bool InfFile::Load(const std::string& path) {
    sections_.clear();
    TextFile file;
    if (!file.Open(path, TextFile::kRead, 0)) return false;
    std::string line;
    while (file.ReadString(line)) AddLine(line);
    return true;
}

void InfFile::LoadText(std::string_view text) {
    sections_.clear();
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        AddLine(text.substr(at, end - at));
        at = end + 1;
    }
}

const InfSection* InfFile::findSection(std::string_view name) const {
    for (const auto& s : sections_)
        if (EqualsNoCase(s->name, name)) return s.get();
    return nullptr;
}

bool InfFile::getValue(std::string_view section, std::string_view key, std::string& value) const {
    value.clear();
    const InfSection* s = findSection(section);
    if (!s) return false;
    std::string k, v;
    for (const auto& line : s->lines) {
        if (splitKeyValue(line, k, v) && EqualsNoCase(k, key)) {
            value = v;
            return true;
        }
    }
    return false;
}

bool ManufacturerSections(const InfFile& inf, std::vector<std::string>& sections) {
    sections.clear();
    const InfSection* s = inf.findSection("Manufacturer");
    if (!s) return false;
    std::string key, value;
    for (const auto& line : s->lines)
        if (splitKeyValue(line, key, value)) sections.push_back(value.empty() ? key : value);
    return true;
}

std::string InstallSectionOf(const InfFile& inf, const std::vector<std::string>& sections, const std::string& driver) {
    for (const auto& m : sections) {
        std::string value;
        if (inf.getValue(m, driver, value)) {
            Tokenizer t(value, ',', Tokenizer::kQuotes | Tokenizer::kTrim);
            std::string first;
            t.NextToken(first);
            return first;
        }
    }
    return "";
}

namespace {
std::string Unquote(std::string s) {
    s = Trim(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}
}  // namespace

bool splitKeyValue(std::string_view line, std::string& key, std::string& value) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        key = Unquote(std::string(line));
        value.clear();
        return true;
    }
    if (eq == 0) {
        key.clear();
        value.clear();
        return false;
    }
    key = Unquote(std::string(line.substr(0, eq)));
    value = Unquote(std::string(line.substr(eq + 1)));
    return true;
}

uint16_t LanguageIdOfIso(std::string_view iso) {
    auto find = [](std::string_view code) -> const LanguageRow* {
        for (const auto& row : kLanguageRows)
            if (EqualsNoCase(row.iso, code)) return &row;
        return nullptr;
    };
    const LanguageRow* row = find(iso);
    if (!row && iso.size() > 2) row = find(iso.substr(0, 2));
    if (!row) return 0;
    unsigned value = 0;
    std::sscanf(row->winCode, "%x", &value);
    return static_cast<uint16_t>(value);
}

std::string localeNameOfLangId(uint16_t id) {
    for (const auto& l : kLocaleNames)
        if (l.id == id) return l.name;
    return "en_US";
}

std::string getUserLocaleName() {
    char country[20] = {}, language[20] = {};
    LANGID id = GetUserDefaultLangID();
    if (GetLocaleInfoA(id, LOCALE_SISO3166CTRYNAME, country, sizeof country) == 0) return localeNameOfLangId(id);
    GetLocaleInfoA(id, LOCALE_SISO639LANGNAME, language, sizeof language);
    return Lower(language) + "_" + Upper(country);
}

namespace {

std::string ModuleDir() {
    char buffer[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    PathObject p(buffer);
    return p.Dir();
}

std::string DriverDir() {
    char buffer[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(buffer), MAX_PATH, &needed)) return "";
    return buffer;
}

std::string ShellFolder(bool allUsers, const char* userValue, const char* commonValue) {
    Registry reg;
    const char* folders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    if (!allUsers) return reg.ReadString("HKCU", folders, userValue);
    OSInfo os;
    if (os.isWin9x()) return reg.ReadString("HKU", std::string(".Default\\") + folders, userValue);
    return reg.ReadString("HKLM", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          commonValue);
}

}  // namespace

PathObject SystemPath(int code, bool allUsers) {
    PathObject p;
    char buffer[MAX_PATH] = {};
    auto windows = [&] {
        GetWindowsDirectoryA(buffer, MAX_PATH);
        return std::string(buffer);
    };
    const char* cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    switch (code) {
    case 0: p = PathObject::Parent(ModuleDir()); break;
    case 1: p.SetDir(Registry().ReadString("HKLM", cv, "CommonFilesDir")); break;
    case 2:
        GetCurrentDirectoryA(MAX_PATH, buffer);
        p.SetDir(buffer);
        break;
    case 3: p.SetDir(ShellFolder(allUsers, "Desktop", "Common Desktop")); break;
    case 4:
        p.SetDir(windows());
        p.Append("Driver Cache\\i386");
        break;
    case 5:
        p.SetDir(windows());
        p.Append("Fonts");
        break;
    case 6: p.SetDir(ModuleDir()); break;
    case 7: p.SetDir(DriverDir()); break;
    case 8: {
        p.SetDir(DriverDir());
        OSInfo os;
        if (os.Class() == OSInfo::kNT4)
            p.Append("2");
        else if (os.isNT5())
            p.Append("3");
        break;
    }
    case 9: {
        DWORD needed = 0;
        if (GetPrintProcessorDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(buffer), MAX_PATH, &needed))
            p.SetDir(buffer);
        break;
    }
    case 10: p.SetDir(Registry().ReadString("HKLM", cv, "ProgramFilesDir")); break;
    case 11:
        p.SetDir(Registry().ReadString("HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                       "SendTo"));
        break;
    case 12:
    case 13: {
        p.SetDir(DriverDir());
        if (OSInfo().isNT()) {
            p = PathObject::Parent(p.Dir());
            if (code == 12) p = PathObject::Parent(p.Dir());
        }
        break;
    }
    case 14: p.SetDir(ShellFolder(allUsers, "Programs", "Common Programs")); break;
    case 15:
        GetSystemDirectoryA(buffer, MAX_PATH);
        p.SetDir(buffer);
        break;
    case 16:
        p.SetDir(windows());
        p.Append("Inf");
        break;
    case 17: p.SetDir(windows().substr(0, 2)); break;
    case 18:
        GetTempPathA(MAX_PATH, buffer);
        p.SetDir(buffer);
        break;
    case 19: p.SetDir(windows()); break;
    case 20:
        p = PathObject::Parent(DriverDir());
        p.Append("Win40");
        p.Append("0");
        break;
    case 21:
        p.SetDir(DriverDir());
        p.Append("3");
        break;
    case 22:
        p.SetDir(DriverDir());
        p.Append("2");
        break;
    default: Log() << "SystemPath::ctor: invalid path code " << code << End; break;
    }
    return p;
}

}  // namespace postinst
