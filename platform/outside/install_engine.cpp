// Stand-in of the outside install engine "Engine.dll" that the uninstaller
// archive carries: its four entries record their calls in the install
// trace, the install script's text with them, and answer 0.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "outside_trace.h"

namespace {

using zq::outside::AppendTrace;
using zq::outside::TraceText;

// The script's lines as the trace shows them, each behind "  | ".
std::string ScriptText(const char* path) {
    if (!path) return "";
    auto file = zq::MapPath(zq::AnsiToWide(path));
    if (!file) return "  | (not a path)";
    std::ifstream in(*file, std::ios::binary);
    if (!in) return "  | (not readable)";
    std::string out, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out += (out.empty() ? "" : "\n") + std::string("  | ") + line;
    }
    return out;
}

}  // namespace

extern "C" {

void SetWorkingDirA(const char* dir) { AppendTrace("SetWorkingDirA(" + TraceText(dir) + ")"); }

void SetLanguageA(const char* language) { AppendTrace("SetLanguageA(" + TraceText(language) + ")"); }

unsigned char DoInstallA(const char* script, const char* a, const char* b) {
    std::string line = "DoInstallA(" + TraceText(script) + ", " + TraceText(a) + ", " + TraceText(b) + ")";
    std::string text = ScriptText(script);
    AppendTrace(text.empty() ? line : line + "\n" + text);
    return 1;
}

int GetErrorCode() {
    AppendTrace("GetErrorCode() = 0");
    return 0;
}

}
