#include "interface/renderer_ini.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/loader.h"
#include "base/msgbox.h"
#include "base/paths.h"
#include "base/profile.h"
#include "base/text.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"

namespace zq {
namespace {

constexpr char kUpdateControl[] = "UpdateControl";
constexpr char kAdditionalFonts[] = "AdditionalFonts";
constexpr char16_t kUpdateFailed[] = u"Failed to update initialization files.";
constexpr DWORD kListBuffer = 16384;

std::string ProfileText(const char* section, const char* key, const char* fallback, DWORD size,
                        const std::string& file) {
    std::vector<char> buffer(size + 1, '\0');
    const DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
    return std::string(buffer.data(), n);
}

// The key names of a section (a list of NUL-ended names).
std::vector<std::string> SectionKeys(const char* section, const std::string& file) {
    std::vector<char> buffer(kListBuffer, '\0');
    const DWORD n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), kListBuffer, file.c_str());
    std::vector<std::string> keys;
    for (size_t i = 0; i < n;) {
        std::string key(buffer.data() + i);
        if (key.empty()) break;
        i += key.size() + 1;
        keys.push_back(std::move(key));
    }
    return keys;
}

enum class RuleState { Exist, NotExist, Replace, Remove };

std::optional<RuleState> ParseState(const std::string& text) {
    if (EqualsIgnoreCase(text, "EXIST")) return RuleState::Exist;
    if (EqualsIgnoreCase(text, "NOTEXIST")) return RuleState::NotExist;
    if (EqualsIgnoreCase(text, "REPLACE")) return RuleState::Replace;
    if (EqualsIgnoreCase(text, "REMOVE")) return RuleState::Remove;
    return std::nullopt;
}

// Applies one rule: its key is the separator followed by groups of five
// fields (state, number, file, section, key); its value what it writes.
// False for a malformed rule; `target` receives the file of its last group.
bool ApplyRule(const std::string& rule, const std::string& value, const std::string& scratch, std::string& target) {
    if (rule.size() < 2) return false;
    const char separator = rule[0];
    std::vector<std::string> fields;
    size_t start = 1;
    for (;;) {
        const size_t end = rule.find(separator, start);
        fields.push_back(rule.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (fields.size() < 5 || fields.size() % 5 != 0) return false;
    const char probeDefault[] = "\xAD";
    for (size_t g = 0; g < fields.size(); g += 5) {
        const auto state = ParseState(fields[g]);
        if (!state) return false;
        const std::string& file = fields[g + 2];
        const std::string& section = fields[g + 3];
        const std::string& key = fields[g + 4];
        const bool wholeSection = key == "*";
        target = file;
        if (*state == RuleState::Exist || *state == RuleState::NotExist) {
            const std::string found =
                ProfileText(section.c_str(), wholeSection ? nullptr : key.c_str(), probeDefault, 256, file);
            const bool missing = found == probeDefault;
            // EXIST writes only what is missing, NOTEXIST only over what is there.
            if (missing != (*state == RuleState::Exist)) return true;
        }
        if (g + 5 < fields.size()) continue;
        if (!wholeSection) {
            WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                       *state == RuleState::Remove ? nullptr : value.c_str(), file.c_str());
        } else if (*state == RuleState::Remove) {
            WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, file.c_str());
        } else {
            const std::string source = file + separator + section;
            for (const std::string& k : SectionKeys(source.c_str(), scratch)) {
                const std::string v = ProfileText(source.c_str(), k.c_str(), "", 256, scratch);
                WritePrivateProfileStringA(section.c_str(), k.c_str(), v.c_str(), file.c_str());
            }
        }
    }
    return true;
}

std::string DriverDirectory() {
    char path[243] = {};
    const DWORD n = GetModuleFileNameA(DriverModule(), path, 242);
    std::string dir(path, n);
    const size_t cut = dir.find_last_of("\\/:");
    dir.resize(cut == std::string::npos ? 0 : cut + 1);
    return dir;
}

}  // namespace

int UpdateRendererIniFrom(const std::string& scratch, std::u16string_view printerName, HANDLE printer) {
    if (scratch.empty()) return 1;
    const std::string tag = ProfileText("pclrend", "tag", "", 256, scratch);
    const UINT installed = tag.empty() ? 0 : GetPrivateProfileIntA("pclrend", tag.c_str(), 0, kRendererIni);
    const UINT version = GetPrivateProfileIntA("pclrend", "ver", 0, scratch.c_str());
    if (static_cast<uint16_t>(version) == static_cast<uint16_t>(installed)) return 1;

    const std::vector<std::string> rules = SectionKeys(kUpdateControl, scratch);
    // Without a tag the version could not be recorded: the rules would run
    // again at every initialisation.
    bool ok = !rules.empty() && !tag.empty();
    std::string target;
    for (size_t i = 0; ok && i < rules.size(); ++i) {
        const std::string value = ProfileText(kUpdateControl, rules[i].c_str(), "", 256, scratch);
        ok = ApplyRule(rules[i], value, scratch, target);
    }
    if (!ok) {
        const std::u16string caption(printerName);
        MessageBoxW(nullptr, kUpdateFailed, caption.c_str(), MB_ICONWARNING);
        return 0;
    }
    const std::string directory = scratch.substr(0, scratch.find_last_of("\\/:") + 1);
    for (const std::string& key : SectionKeys(kAdditionalFonts, scratch)) {
        const std::string value = ProfileText(kAdditionalFonts, key.c_str(), "", 256, scratch);
        WritePrivateProfileStringA(kAdditionalFonts, key.c_str(), (directory + value).c_str(), target.c_str());
    }
    WritePrivateProfileStringA("pclrend", tag.c_str(), std::to_string(version).c_str(), kRendererIni);
    InstallLogEntry entry;
    entry.printer = printer;
    entry.file = WideToAnsi(WindowsDirectory()) + "\\" + kRendererIni;
    entry.sectionKind = 1;
    AddInstallLogEntry(entry);
    return 1;
}

int UpdateRendererIni(std::u16string_view printerName, HANDLE printer) {
    std::string scratch = DriverDirectory() + kRendererIniScratch;
    OFSTRUCT info{};
    if (OpenFile(scratch.c_str(), &info, OF_EXIST) == HFILE_ERROR) scratch.clear();
    return UpdateRendererIniFrom(scratch, printerName, printer);
}

}  // namespace zq
