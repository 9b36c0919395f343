// Stand-in of the outside install-record library. Every call appends one
// line with its arguments to the shared trace. A log is there when its file
// "instrec\NAME.log" exists in the system directory under the root; every
// recorded file and registry item is also one line appended to it, so that
// a test or a user can see what an uninstallation would remove.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "outside_trace.h"

namespace {

using zq::outside::AppendTrace;
using zq::outside::TraceText;

// The log file of a name: letters, digits, '.', '_' and '-' only.
std::optional<std::filesystem::path> LogFile(const char* name) {
    if (name == nullptr || *name == '\0') return std::nullopt;
    std::string file;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        file.push_back(std::isalnum(c) || c == '.' || c == '_' || c == '-' ? static_cast<char>(c) : '_');
    }
    return zq::MapPath(zq::SystemDirectory() + u"\\instrec\\" + zq::AnsiToWide(file) + u".log");
}

// The log FindLogFile found last; AddFile and AddRegistry write to it.
std::optional<std::filesystem::path> current;

int Append(const std::string& line) {
    if (!current) return 0;
    std::ofstream out(*current, std::ios::app);
    out << line << "\n";
    return out ? 1 : 0;
}

}  // namespace

extern "C" {

int FindLogFile(const char* logName, int mode) {
    AppendTrace("FindLogFile(" + TraceText(logName) + ", " + std::to_string(mode) + ")");
    const auto file = LogFile(logName);
    std::error_code ec;
    if (!file || !std::filesystem::is_regular_file(*file, ec)) {
        current.reset();
        return 1;
    }
    current = file;
    return 0;
}

int AddFile(const char* section, const char* file) {
    AppendTrace("AddFile(" + TraceText(section) + ", " + TraceText(file) + ")");
    if (section == nullptr || file == nullptr) return 0;
    return Append("file [" + std::string(section) + "] " + file);
}

int AddRegistry(const char* section, const char* text) {
    AppendTrace("AddRegistry(" + TraceText(section) + ", " + TraceText(text) + ")");
    if (section == nullptr || text == nullptr) return 0;
    return Append("registry [" + std::string(section) + "] " + text);
}

int AddWholeRegistryKey(const char* section, const char* key) {
    AppendTrace("AddWholeRegistryKey(" + TraceText(section) + ", " + TraceText(key) + ")");
    if (section == nullptr || key == nullptr) return 0;
    return Append("key [" + std::string(section) + "] " + key);
}

// One logged operation of an installation: its log section, the file or
// registry item, its type (1 a file, 3 a registry item) and the component.
int AddAnyItem(const char* section, const char* item, int type, const char* name) {
    return AppendTrace("AddAnyItem(" + TraceText(section) + ", " + TraceText(item) + ", " + std::to_string(type) +
                       ", " + TraceText(name) + ")")
               ? 1
               : 0;
}

// The driver an installation put in place, its component and network level.
int AddDriverNameEx(const char* driver, const char* name, int level) {
    return AppendTrace("AddDriverNameEx(" + TraceText(driver) + ", " + TraceText(name) + ", " +
                       std::to_string(level) + ")")
               ? 1
               : 0;
}

}
