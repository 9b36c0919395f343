// The INF text model, its key/value lines, the language tables that select
// its strings sections, and the system's directory codes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/types.h"
#include "postinst/text.h"

namespace postinst {

struct InfSection {
    std::string name;
    std::vector<std::string> lines;
};

class InfFile {
public:
    InfFile() = default;
    // Reads the file (8-bit or UTF-16, through the Win32 calls).
    bool Load(const std::string& path);
    // Reads a text already in memory (8-bit), for tests and the fuzz target.
    void LoadText(std::string_view text);
    const InfSection* findSection(std::string_view name) const;
    bool getValue(std::string_view section, std::string_view key, std::string& value) const;
    const std::vector<std::unique_ptr<InfSection>>& Sections() const { return sections_; }

private:
    void AddLine(std::string_view raw);
    std::vector<std::unique_ptr<InfSection>> sections_;
};

// The model sections the "Manufacturer" section names, in INF order (a
// line Name=Section gives Section, a bare "Section" gives Section); false
// when there is no "Manufacturer" section.
bool ManufacturerSections(const InfFile& inf, std::vector<std::string>& sections);
// The install section of a driver: the first field of its line in the first
// model section that names it; empty when none does.
std::string InstallSectionOf(const InfFile& inf, const std::vector<std::string>& sections, const std::string& driver);

// "key=value" with both trimmed and one pair of enclosing quotes taken off;
// a line without "=" is a key with an empty value; "=..." is no key.
bool splitKeyValue(std::string_view line, std::string& key, std::string& value);

// The install language's Windows code of an ISO code ("de_AT" falls back to
// "de"); 0 when no row names it.
uint16_t LanguageIdOfIso(std::string_view iso);
// "de_DE" and the like for a language id; "en_US" for ids in no row.
std::string localeNameOfLangId(uint16_t id);
std::string getUserLocaleName();

// A directory of the system by path code, for all users or the current one.
PathObject SystemPath(int code, bool allUsers = true);

}  // namespace postinst
