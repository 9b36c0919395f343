#include "outside_trace.h"

#include <filesystem>
#include <fstream>

#include "base/paths.h"

namespace zq::outside {

std::u16string TracePath() { return zq::SystemDirectory() + u"\\instrec\\trace.log"; }

bool AppendTrace(std::string_view line) {
    auto file = zq::MapPath(TracePath());
    if (!file) return false;
    std::error_code ec;
    std::filesystem::create_directories(file->parent_path(), ec);
    std::ofstream out(*file, std::ios::app | std::ios::binary);
    out << line << "\n";
    return static_cast<bool>(out);
}

std::string TraceText(const char* text) { return text ? "\"" + std::string(text) + "\"" : "NULL"; }

}  // namespace zq::outside
