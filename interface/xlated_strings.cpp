#include "interface/xlated_strings.h"

#include <string>

#include "base/loader.h"
#include "interface/dialog_library.h"

namespace zq {

HFILE OpenFileBesideModule(const char* fileName, UINT style) {
    if (fileName == nullptr) return HFILE_ERROR;
    OFSTRUCT info{};
    const HFILE first = OpenFile(fileName, &info, style);
    if (first > 0) return first;
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(DriverModule(), path, sizeof path);
    if (n == 0 || n >= sizeof path) return HFILE_ERROR;
    std::string dir(path, n);
    const size_t cut = dir.find_last_of("\\/:");
    dir.resize(cut == std::string::npos ? 0 : cut + 1);
    std::string name(fileName);
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::string beside = dir + name;
    if (beside.size() > OFS_MAXPATHNAME) return HFILE_ERROR;
    return OpenFile(beside.c_str(), &info, style);
}

}  // namespace zq
